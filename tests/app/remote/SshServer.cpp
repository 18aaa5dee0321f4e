#include "SshServer.h"

#include "../support/Poll.h"
#include "../support/TempFolder.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QProcess>

#include <arpa/inet.h>
#include <cerrno>
#include <csignal>
#include <dirent.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <pwd.h>
#include <sys/file.h>
#include <sys/prctl.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <set>
#include <string>
#include <thread>
#include <vector>

namespace halvoren::test {

namespace {

bool writeText(const QString& path, const QString& text, QFile::Permissions permissions)
{
    return writeAll(path, text.toUtf8()) && QFile::setPermissions(path, permissions);
}

// Runs a program to the end; its output on failure, nothing on success.
std::optional<QString> runProgram(const QString& program, const QStringList& arguments, const QByteArray& input = {})
{
    QProcess process;
    process.setProcessChannelMode(QProcess::MergedChannels);
    process.start(program, arguments);
    if (!process.waitForStarted(10000))
        return program + QStringLiteral(": cannot start");
    process.write(input);
    process.closeWriteChannel();
    if (!process.waitForFinished(30000)) {
        process.kill();
        process.waitForFinished();
        return program + QStringLiteral(": no answer");
    }
    if (process.exitStatus() == QProcess::NormalExit && process.exitCode() == 0)
        return std::nullopt;
    return program + QStringLiteral(": ") + QString::fromUtf8(process.readAll()).trimmed();
}

// One line of a tool's output, for a message of one line.
QString oneLine(QString text)
{
    return text.replace(u'\n', u' ').simplified();
}

} // namespace

std::optional<QString> runAccountTool(const QString& program, const QStringList& arguments, const QByteArray& input,
                                      std::chrono::milliseconds patience)
{
    QElapsedTimer waited;
    waited.start();
    std::optional<QString> failure = runProgram(program, arguments, input);
    while (failure && waited.elapsed() < patience.count()) {
        std::this_thread::sleep_for(std::chrono::milliseconds(250));
        failure = runProgram(program, arguments, input);
    }
    return failure;
}

namespace {

// The account's lock file: every change of the account is made holding it, by whichever test
// process makes it. Not taken through a link, nor when it is another user's file.
class AccountLock {
public:
    AccountLock() : fd(::open(path, O_RDWR | O_CREAT | O_NOFOLLOW | O_CLOEXEC, 0600))
    {
        struct stat status {};
        if (fd >= 0 && (::fstat(fd, &status) != 0 || !S_ISREG(status.st_mode) || status.st_uid != ::geteuid())) {
            ::close(fd);
            fd = -1;
        }
        if (fd >= 0)
            ::flock(fd, LOCK_EX);
    }
    ~AccountLock()
    {
        if (fd >= 0)
            ::close(fd);
    }
    AccountLock(const AccountLock&) = delete;
    AccountLock& operator=(const AccountLock&) = delete;
    // Why it is not held; empty when it is.
    QString failure() const
    {
        return fd >= 0 ? QString() : QStringLiteral("cannot lock %1 (a link, or not this user's file)").arg(QLatin1String(path));
    }

private:
    static constexpr char path[] = "/tmp/hvtest-account.lock";
    int fd;
};

// A hold folder, open, or why it is refused.
class HoldFolder {
public:
    explicit HoldFolder(const QString& folder)
    {
        const QByteArray path = QFile::encodeName(folder);
        if (::mkdir(path.constData(), 0700) == 0)
            ::chmod(path.constData(), 0700); // whatever the umask
        else if (errno != EEXIST) {
            refusal = folder + QStringLiteral(" cannot be made");
            return;
        }
        fd = ::open(path.constData(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
        struct stat status {};
        if (fd < 0 || ::fstat(fd, &status) != 0)
            refusal = folder + QStringLiteral(" is not a folder (or is a link)");
        else if (status.st_uid != ::geteuid())
            refusal = folder + QStringLiteral(" belongs to another user");
        else if ((status.st_mode & 07777) != 0700)
            refusal = folder + QStringLiteral(" has mode %1, not 700").arg(status.st_mode & 07777, 0, 8);
    }
    ~HoldFolder()
    {
        if (fd >= 0)
            ::close(fd);
    }
    HoldFolder(const HoldFolder&) = delete;
    HoldFolder& operator=(const HoldFolder&) = delete;
    bool accepted() const { return refusal.isEmpty(); }

    // Its holders, stale ones removed (see passwordHolders).
    int holders() const
    {
        if (!accepted())
            return 0;
        // None when it cannot be listed: the password is then locked, the safe side.
        const int listed = ::openat(fd, ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
        DIR* listing = listed >= 0 ? ::fdopendir(listed) : nullptr;
        if (listing == nullptr) {
            if (listed >= 0)
                ::close(listed);
            return 0;
        }
        int count = 0;
        while (const dirent* entry = ::readdir(listing)) {
            struct stat status {};
            if (::fstatat(fd, entry->d_name, &status, AT_SYMLINK_NOFOLLOW) != 0 || !S_ISREG(status.st_mode))
                continue;
            const int file = ::openat(fd, entry->d_name, O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
            if (file < 0)
                continue;
            if (::fstat(file, &status) == 0 && S_ISREG(status.st_mode) && status.st_uid == ::geteuid()) {
                if (::flock(file, LOCK_EX | LOCK_NB) == 0)
                    ::unlinkat(fd, entry->d_name, 0);
                else
                    ++count;
            }
            ::close(file);
        }
        ::closedir(listing);
        return count;
    }
    // A holder of this process named `name`, locked; -1 when it cannot be made.
    int hold(const QString& name) const
    {
        if (!accepted())
            return -1;
        const int file = ::openat(fd, QFile::encodeName(name).constData(), O_RDWR | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
        if (file >= 0 && ::flock(file, LOCK_EX | LOCK_NB) != 0) {
            ::close(file);
            return -1;
        }
        return file;
    }
    void release(const QString& name) const
    {
        if (accepted())
            ::unlinkat(fd, QFile::encodeName(name).constData(), 0);
    }

    QString refusal;

private:
    int fd = -1;
};

// "*" in place of the password: no password matches it and passwd reports it locked, while
// the account stays open to keys. ("usermod -L" keeps the hash behind a "!", which sshd without
// PAM takes for a locked account and then refuses keys as well.) A lock that fails is said on
// stderr too: a window that closes has no test left to fail.
std::optional<QString> lockPassword()
{
    std::optional<QString> failure = runAccountTool(QStringLiteral("/usr/sbin/usermod"),
                                                    {QStringLiteral("-p"), QStringLiteral("*"), QString::fromLatin1(SshServer::user)});
    if (failure)
        std::fprintf(stderr, "the password of %s is still set, locking it failed: %s\n", SshServer::user,
                     oneLine(*failure).toLocal8Bit().constData());
    return failure;
}

// The test account, made when missing, its password locked unless a run holds it (a run that
// died in its password window left it open).
std::optional<QString> ensureAccount()
{
    AccountLock lock;
    if (!lock.failure().isEmpty())
        return lock.failure();
    if (::getpwnam(SshServer::user) == nullptr && ::geteuid() != 0)
        return QStringLiteral("the account hvtest is missing and only root can create it");
    if (::getpwnam(SshServer::user) == nullptr) {
        if (std::optional<QString> failure = runAccountTool(QStringLiteral("/usr/sbin/useradd"),
                                                            {QStringLiteral("-m"), QStringLiteral("-s"), QStringLiteral("/bin/bash"),
                                                             QString::fromLatin1(SshServer::user)}))
            return failure;
    }
    if (::geteuid() == 0 && passwordHolders(QString::fromLatin1(passwordHoldFolder)) == 0)
        return lockPassword();
    return std::nullopt;
}

} // namespace

QString holdFolderRefusal(const QString& folder)
{
    return HoldFolder(folder).refusal;
}

int passwordHolders(const QString& folder)
{
    return HoldFolder(folder).holders();
}

PasswordWindow::PasswordWindow() : folder(QString::fromLatin1(passwordHoldFolder))
{
    if (::geteuid() == 0)
        lock = [] { lockPassword(); };
    if (std::optional<QString> missing = ensureAccount()) {
        failure = *missing;
        return;
    }
    if (hold() && ::geteuid() == 0) {
        if (std::optional<QString> set = runAccountTool(QStringLiteral("/usr/sbin/chpasswd"), {},
                                                        QByteArray(SshServer::user) + ':' + SshServer::password + '\n'))
            failure = *set;
    }
}

PasswordWindow::PasswordWindow(QString holdFolder, std::function<void()> lastOut)
    : folder(std::move(holdFolder)), lock(std::move(lastOut))
{
    hold();
}

bool PasswordWindow::hold()
{
    AccountLock account;
    const HoldFolder holds(folder);
    if (!account.failure().isEmpty() || !holds.accepted()) {
        failure = account.failure().isEmpty() ? holds.refusal : account.failure();
        return false;
    }
    static int serial = 0;
    name = QStringLiteral("%1-%2").arg(::getpid()).arg(++serial);
    lease = holds.hold(name);
    if (lease < 0)
        failure = QStringLiteral("cannot hold ") + folder + u'/' + name;
    return lease >= 0;
}

PasswordWindow::~PasswordWindow()
{
    AccountLock account;
    const HoldFolder holds(folder);
    if (lease >= 0) {
        holds.release(name);
        ::close(lease);
    }
    // Locking is the safe side: done even when the folder or the lock cannot be trusted.
    if (lock && holds.holders() == 0)
        lock();
}

std::optional<PasswordState> passwordState()
{
    AccountLock lock;
    if (!lock.failure().isEmpty())
        return std::nullopt;
    QProcess status;
    status.start(QStringLiteral("/usr/bin/passwd"), {QStringLiteral("-S"), QString::fromLatin1(SshServer::user)});
    if (!status.waitForFinished(10000))
        return std::nullopt;
    const QList<QByteArray> fields = status.readAllStandardOutput().split(' ');
    if (fields.size() < 2)
        return std::nullopt;
    return PasswordState{fields.at(1) == "L", passwordHolders(QString::fromLatin1(passwordHoldFolder))};
}

namespace {

sockaddr_in loopback(int port)
{
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(static_cast<uint16_t>(port));
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    return address;
}

// With `bind`, a free port (0 when none); otherwise whether `port` accepts a connection.
int probePort(int port, bool bind)
{
    const int probe = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (probe < 0)
        return 0;
    sockaddr_in address = loopback(port);
    socklen_t length = sizeof address;
    int result = 0;
    if (!bind)
        result = ::connect(probe, reinterpret_cast<const sockaddr*>(&address), sizeof address) == 0;
    else if (::bind(probe, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0
             && ::getsockname(probe, reinterpret_cast<sockaddr*>(&address), &length) == 0)
        result = ntohs(address.sin_port);
    ::close(probe);
    return result;
}

// What is left to end with the server, from /proc: every process below `ancestor` (sshd serves
// connections in sessions of their own, with the commands they run below them), and every one
// whose environment holds `entry` (the commands of this run's sessions carry the run's own
// HOME, also once their session has ended and left them behind).
std::set<pid_t> leftBehind(pid_t ancestor, const QByteArray& entry)
{
    std::vector<std::pair<pid_t, pid_t>> parents;
    std::set<pid_t> found;
    const QString proc = QStringLiteral("/proc/");
    for (const QString& name : QDir(proc).entryList(QDir::Dirs | QDir::NoDotAndDotDot)) {
        bool numeric = false;
        const pid_t pid = name.toInt(&numeric);
        if (!numeric || pid == ::getpid())
            continue;
        QFile stat(proc + name + QStringLiteral("/stat"));
        if (stat.open(QIODevice::ReadOnly)) {
            // The command name is in parentheses and may hold blanks: read after the last one.
            const QByteArray text = stat.readAll();
            const QList<QByteArray> fields = text.mid(text.lastIndexOf(')') + 2).split(' ');
            if (fields.size() > 1)
                parents.emplace_back(pid, static_cast<pid_t>(fields[1].toInt()));
        }
        QFile environment(proc + name + QStringLiteral("/environ"));
        if (environment.open(QIODevice::ReadOnly) && environment.readAll().split('\0').contains(entry))
            found.insert(pid);
    }
    std::set<pid_t> below{ancestor};
    for (bool grew = true; grew;) {
        grew = false;
        for (const auto& [pid, parent] : parents)
            grew = (below.count(parent) != 0 && below.insert(pid).second) || grew;
    }
    below.erase(ancestor);
    found.insert(below.begin(), below.end());
    return found;
}

// The mark tests/test-env gives its run, as an entry of sshd's SetEnv: the sessions' commands,
// which sshd starts with an environment of its own, carry it too, so that the run ends them
// however it is stopped. Only a plain path: sshd reads the line as words.
QString runMarkEntry()
{
    const QString value = qEnvironmentVariable("HALVOREN_TEST_RUN");
    const bool plain = !value.isEmpty() && std::all_of(value.cbegin(), value.cend(), [](QChar c) {
        return c.unicode() < 0x80 && (c.isLetterOrNumber() || QStringLiteral("/._-").contains(c));
    });
    return plain ? QStringLiteral(" HALVOREN_TEST_RUN=") + value : QString();
}

} // namespace

SshServer::SshServer(Options options)
{
    if (prepare(options))
        launch();
}

SshServer::~SshServer()
{
    stop();
    if (!root.isEmpty())
        QDir(root).removeRecursively();
}

bool SshServer::prepare(const Options& options)
{
    const auto fail = [&](const QString& why) {
        whyNot = why;
        return false;
    };
    if (!QFileInfo(QStringLiteral("/usr/sbin/sshd")).isExecutable())
        return fail(QStringLiteral("/usr/sbin/sshd is missing: install the Debian package openssh-server"));
    if (!QFileInfo(QStringLiteral("/usr/bin/ssh-keygen")).isExecutable() || !QFileInfo(QStringLiteral("/usr/bin/ssh")).isExecutable())
        return fail(QStringLiteral("ssh or ssh-keygen is missing: install the Debian package openssh-client"));
    // sshd's compiled-in privilege separation folder, which the service manager usually makes.
    if (::mkdir("/run/sshd", 0755) != 0 && errno != EEXIST)
        return fail(QStringLiteral("sshd needs the folder /run/sshd, which cannot be made here"));
    if (std::optional<QString> failure = ensureAccount())
        return fail(QStringLiteral("test account: ") + *failure);
    const passwd* account = ::getpwnam(user);
    if (account == nullptr)
        return fail(QStringLiteral("the account hvtest cannot be found"));
    // Short, because the clients' control sockets are made below it.
    std::string pattern = "/tmp/hvs-XXXXXX";
    if (::mkdtemp(pattern.data()) == nullptr)
        return fail(QStringLiteral("cannot make a temporary folder"));
    // With the account's tmux servers below it, which outlive a test that is stopped.
    noteTestFolder(pattern);
    root = QString::fromStdString(pattern);
    // The account reads its authorized keys and works in its home below this folder.
    ::chmod(pattern.c_str(), 0755);
    QDir().mkpath(remoteHome());
    if (::chown(QFile::encodeName(remoteHome()).constData(), account->pw_uid, account->pw_gid) != 0 && ::geteuid() == 0)
        return fail(QStringLiteral("cannot give the run's home folder to hvtest"));
    for (const char* key : {"host_key", "client_key"}) {
        if (std::optional<QString> failure = runProgram(
                QStringLiteral("/usr/bin/ssh-keygen"), {QStringLiteral("-q"), QStringLiteral("-t"), QStringLiteral("ed25519"), QStringLiteral("-N"),
                                                        QString(), QStringLiteral("-C"), QStringLiteral("halvoren-test"),
                                                        QStringLiteral("-f"), root + u'/' + QLatin1String(key)}))
            return fail(*failure);
    }
    const QFile::Permissions privateFile = QFile::ReadOwner | QFile::WriteOwner;
    writeText(root + QStringLiteral("/authorized_keys"), clientPublicKey() + u'\n', privateFile | QFile::ReadGroup | QFile::ReadOther);
    // StrictModes is off: the run's files sit below the world-writable /tmp. Tests open many
    // tabs at once: MaxStartups is raised so that sshd drops none of their logins.
    writeText(root + QStringLiteral("/sshd_config.base"),
              QStringLiteral("ListenAddress 127.0.0.1\nHostKey %1/host_key\nPidFile none\nUsePAM no\nAllowUsers hvtest\n"
                             "PermitRootLogin no\nPubkeyAuthentication yes\nAuthorizedKeysFile %1/authorized_keys\n"
                             "StrictModes no\nPasswordAuthentication %2\nKbdInteractiveAuthentication no\n"
                             "SetEnv HOME=%1/home%4\nLogLevel INFO\nMaxSessions %3\nMaxStartups 64\n")
                  .arg(root, options.passwordLogin ? QStringLiteral("yes") : QStringLiteral("no"))
                  .arg(options.maxSessions)
                  // sshd heeds only its first SetEnv line: every variable goes on it.
                  .arg((options.loginShell.isEmpty() ? QString() : QStringLiteral(" SHELL=") + options.loginShell) + runMarkEntry()),
              privateFile);
    const QString known = QStringLiteral("UserKnownHostsFile %1/known_hosts\nGlobalKnownHostsFile /dev/null\nIdentityAgent none\n"
                                         "LogLevel ERROR\n").arg(root);
    writeText(root + QStringLiteral("/ssh_config"),
              known + QStringLiteral("IdentitiesOnly yes\nIdentityFile %1/client_key\n").arg(root), privateFile);
    writeText(root + QStringLiteral("/ssh_config_password"),
              known + QStringLiteral("PubkeyAuthentication no\nPreferredAuthentications password\n"), privateFile);
    const QString wrapper = QStringLiteral("#!/bin/sh\nexec /usr/bin/ssh -F '%1/%2' \"$@\"\n");
    writeText(keyClient(), wrapper.arg(root, QStringLiteral("ssh_config")), privateFile | QFile::ExeOwner);
    writeText(passwordClient(), wrapper.arg(root, QStringLiteral("ssh_config_password")), privateFile | QFile::ExeOwner);
    return true;
}

bool SshServer::launch()
{
    // Another process may take the free port between the probe and sshd's bind: try again.
    for (int attempt = 0; attempt < 5; ++attempt) {
        listenPort = probePort(0, true);
        const QString config = root + QStringLiteral("/sshd_config");
        writeText(config, QString::fromUtf8(readAll(root + QStringLiteral("/sshd_config.base"))) + QStringLiteral("Port %1\n").arg(listenPort),
                  QFile::ReadOwner | QFile::WriteOwner);
        const QByteArray configPath = QFile::encodeName(config);
        const QByteArray logPath = QFile::encodeName(root + QStringLiteral("/sshd.log"));
        const pid_t child = ::fork();
        if (child < 0)
            return whyNot = QStringLiteral("fork failed"), false;
        if (child == 0) {
            ::setpgid(0, 0);
            // A test that crashes takes its server with it.
            ::prctl(PR_SET_PDEATHSIG, SIGTERM);
            const int log = ::open(logPath.constData(), O_WRONLY | O_CREAT | O_APPEND, 0600);
            ::dup2(log, STDOUT_FILENO);
            ::dup2(log, STDERR_FILENO);
            ::dup2(::open("/dev/null", O_RDONLY), STDIN_FILENO);
            const char* arguments[] = {"/usr/sbin/sshd", "-D", "-e", "-f", configPath.constData(), nullptr};
            ::execv(arguments[0], const_cast<char* const*>(arguments));
            ::_exit(127);
        }
        server = child;
        const bool listening = pollUntil(
            [&] {
                int status = 0;
                if (::waitpid(server, &status, WNOHANG) == server) {
                    server = -1;
                    return true;
                }
                return probePort(listenPort, false) != 0;
            },
            std::chrono::seconds(10), std::chrono::milliseconds(20));
        if (listening && server > 0)
            return true;
        if (server > 0) {
            stop();
            return whyNot = QStringLiteral("sshd did not listen within 10 s: ") + log().trimmed(), false;
        }
        if (!log().contains(QStringLiteral("Address already in use")))
            break;
    }
    whyNot = QStringLiteral("sshd did not start: ") + log().trimmed();
    return false;
}

void SshServer::stop()
{
    if (server <= 0)
        return;
    const std::set<pid_t> served = leftBehind(server, "HOME=" + QFile::encodeName(remoteHome()));
    for (const pid_t pid : served)
        ::kill(pid, SIGTERM);
    ::kill(server, SIGTERM);
    int status = 0;
    if (!pollUntil([&] { return ::waitpid(server, &status, WNOHANG) == server; }, std::chrono::seconds(3))) {
        ::kill(server, SIGKILL);
        ::waitpid(server, &status, 0);
    }
    server = -1;
    for (const pid_t pid : served) {
        if (::kill(pid, 0) == 0)
            ::kill(pid, SIGKILL);
    }
}

QString SshServer::clientPublicKey() const
{
    return QString::fromUtf8(readAll(root + QStringLiteral("/client_key.pub"))).trimmed();
}

MacProfile SshServer::profile(const QString& id) const
{
    MacProfile profile;
    profile.id = id;
    profile.host = QStringLiteral("127.0.0.1");
    profile.port = listenPort;
    profile.username = QString::fromLatin1(user);
    profile.name = profile.username + u'@' + profile.host;
    return profile;
}

QString SshServer::log() const { return QString::fromUtf8(readAll(root + QStringLiteral("/sshd.log"))); }

} // namespace halvoren::test
