#include "platform/DetachedProcess.h"

#include "platform/ChildEnvironment.h"
#include "platform/Log.h"
#include "platform/ProcessSignals.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QObject>
#include <QPointer>
#include <QSocketNotifier>
#include <QStandardPaths>
#include <QTimer>

#include <cerrno>
#include <csignal>
#include <cstring>
#include <fcntl.h>
#include <spawn.h>
#include <string>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

namespace halvoren {

namespace {

// What a start that never ran reports, as a shell does for a program it cannot run.
constexpr int notStarted = 127;
// How often a child is looked at where the kernel offers no descriptor to watch it.
constexpr int pollInterval = 250;

// Waits, without blocking, for one child to end, reaps it and reports its status. Belongs to
// the application object: at a quit it goes, and the child, reaped by no one of ours, goes on.
class ExitWatch final : public QObject {
public:
    ExitWatch(pid_t child, std::function<void(std::optional<int>)> report)
        : QObject(QCoreApplication::instance()), pid(child), finished(std::move(report))
    {
        const long fd = ::syscall(SYS_pidfd_open, child, 0);
        if (fd >= 0) {
            pidfd = int(fd);
            ::fcntl(pidfd, F_SETFD, FD_CLOEXEC);
            notifier = new QSocketNotifier(pidfd, QSocketNotifier::Read, this);
            connect(notifier, &QSocketNotifier::activated, this, &ExitWatch::check);
        } else {
            poll = new QTimer(this);
            poll->setInterval(pollInterval);
            connect(poll, &QTimer::timeout, this, &ExitWatch::check);
            poll->start();
        }
    }
    ~ExitWatch() override
    {
        if (pidfd >= 0)
            ::close(pidfd);
    }

private:
    void check()
    {
        int status = 0;
        pid_t ended = 0;
        do {
            ended = ::waitpid(pid, &status, WNOHANG);
        } while (ended < 0 && errno == EINTR);
        if (ended == 0)
            return;
        if (notifier != nullptr)
            notifier->setEnabled(false);
        if (poll != nullptr)
            poll->stop();
        std::optional<int> exitStatus;
        if (ended == pid && WIFEXITED(status))
            exitStatus = WEXITSTATUS(status);
        const std::function<void(std::optional<int>)> report = std::move(finished);
        deleteLater();
        if (report)
            report(exitStatus);
    }

    const pid_t pid;
    std::function<void(std::optional<int>)> finished;
    int pidfd = -1;
    QSocketNotifier* notifier = nullptr;
    QTimer* poll = nullptr;
};

// Pointers to the texts, then a null one, as exec takes a list.
std::vector<char*> nullTerminated(std::vector<std::string>& texts)
{
    std::vector<char*> pointers;
    pointers.reserve(texts.size() + 1);
    for (std::string& text : texts)
        pointers.push_back(text.data());
    pointers.push_back(nullptr);
    return pointers;
}

// Spawns the program in a new session, signals as a fresh program expects them; none on failure.
std::optional<pid_t> spawnDetached(const QString& program, const QStringList& arguments)
{
    std::vector<std::string> texts;
    texts.reserve(std::size_t(arguments.size()) + 1);
    texts.push_back(QFile::encodeName(program).toStdString());
    for (const QString& argument : arguments)
        texts.push_back(QFile::encodeName(argument).toStdString());
    std::vector<char*> argv = nullTerminated(texts);
    std::vector<std::string> environment = childEnvironmentEntries();
    std::vector<char*> envp = nullTerminated(environment);

    posix_spawn_file_actions_t actions;
    posix_spawnattr_t attributes;
    if (posix_spawn_file_actions_init(&actions) != 0)
        return std::nullopt;
    if (posix_spawnattr_init(&attributes) != 0) {
        posix_spawn_file_actions_destroy(&actions);
        return std::nullopt;
    }
    posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
    // From home, as every program of ours: the opener looks programs up on PATH, where a
    // relative entry would find one of whatever folder the application was started from.
    const QString homeFolder = QDir::homePath();
    const std::string home = QFile::encodeName(QFileInfo(homeFolder).isDir() ? homeFolder : QStringLiteral("/")).toStdString();
    posix_spawn_file_actions_addchdir_np(&actions, home.c_str());
#if defined(__GLIBC__) && __GLIBC_PREREQ(2, 34)
    // Nothing of ours beyond the standard streams goes with it, marked close-on-exec or not.
    posix_spawn_file_actions_addclosefrom_np(&actions, STDERR_FILENO + 1);
#endif
    sigset_t noneBlocked;
    sigemptyset(&noneBlocked);
    sigset_t defaults;
    sigemptyset(&defaults);
    for (const int signal : {SIGPIPE, SIGCHLD, SIGHUP, SIGINT, SIGQUIT, SIGTERM})
        sigaddset(&defaults, signal);
    for (const int signal : signalsIgnoredByUs)
        sigaddset(&defaults, signal);
    posix_spawnattr_setsigmask(&attributes, &noneBlocked);
    posix_spawnattr_setsigdefault(&attributes, &defaults);
    // A session of its own: the terminal or session the application leaves takes it nowhere.
    posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETSID | POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF);

    pid_t pid = 0;
    const int failure = posix_spawn(&pid, argv.front(), &actions, &attributes, argv.data(), envp.data());
    posix_spawnattr_destroy(&attributes);
    posix_spawn_file_actions_destroy(&actions);
    if (failure != 0) {
        corvantix::logError("cannot start " + texts.front() + ": " + std::strerror(failure));
        return std::nullopt;
    }
    return pid;
}

} // namespace

void startDetachedProcess(const QString& program, const QStringList& arguments,
                          std::function<void(std::optional<int> exitStatus)> finished)
{
    const std::optional<pid_t> pid = spawnDetached(program, arguments);
    if (!pid) {
        QTimer::singleShot(0, QCoreApplication::instance(), [finished = std::move(finished)] {
            if (finished)
                finished(notStarted);
        });
        return;
    }
    new ExitWatch(*pid, std::move(finished));
}

QString desktopOpener()
{
    // Only the absolute entries of PATH: a relative one names a folder of wherever the
    // application was started.
    QStringList folders;
    for (const QString& folder : qEnvironmentVariable("PATH").split(u':', Qt::SkipEmptyParts)) {
        if (folder.startsWith(u'/'))
            folders << folder;
    }
    return folders.isEmpty() ? QString() : QStandardPaths::findExecutable(QStringLiteral("xdg-open"), folders);
}

bool openOnDesktop(const QUrl& url)
{
    // Never the desktop services' own lookup: it searches every entry of PATH, relative ones
    // too, and starts what it finds in the application's working folder.
    const QString opener = desktopOpener();
    if (opener.isEmpty())
        return false;
    startDetachedProcess(opener, {url.toString(QUrl::FullyEncoded)}, {});
    return true;
}

} // namespace halvoren
