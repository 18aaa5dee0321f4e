// halvoren-hostile-bench: the workspace model against hosts built to hurt it, each case in a
// child process of its own that reports its peak memory, the longest time the main thread did
// not turn, its duration and what the model made of it.
//
//   halvoren-hostile-bench [CASE]
//     endless-tmux    a tmux that prints listing rows without end
//     listing-10000   a listing of 10,000 open tabs
//     lines-30MB      30 MB of listing lines without a field
//     shared-50MB     a shared-state file of 50 MB
//     projects-5000   a root of 5,000 git checkouts, probed for their state
//
// The host is this computer: a private home, /bin/sh as the login shell and a fake tmux first
// in PATH. Nothing outside a temporary folder is read or written.
#include "workspace/MacModel.h"

#include "ProcessMemory.h"

#include "platform/Log.h"
#include "platform/Notifier.h"
#include "platform/PreferenceStore.h"
#include "remote/ServerState.h"
#include "settings/Prefs.h"

#include <QApplication>
#include <QDBusConnection>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QTimer>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>

#include <malloc.h>

using namespace halvoren;

namespace {

using corvantix::bench::resetPeak;
using corvantix::bench::statusBytes;

constexpr int rowCount = 10'000;
constexpr int projectCount = 5'000;
constexpr qint64 sharedBytes = 50'000'000;


bool writeFile(const QString& path, const QByteArray& bytes, bool executable = false)
{
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate) || file.write(bytes) != bytes.size())
        return false;
    file.close();
    if (executable)
        file.setPermissions(QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
    return true;
}

// The longest gap between two turns of a timer that asks for one every 5 ms.
class StallMeter {
public:
    StallMeter()
    {
        clock.start();
        timer.setInterval(5);
        QObject::connect(&timer, &QTimer::timeout, [this] {
            const qint64 now = clock.nsecsElapsed();
            longest = std::max(longest, now - last);
            last = now;
        });
        timer.start();
    }
    double longestMilliseconds() const { return double(longest) / 1e6; }

private:
    QElapsedTimer clock;
    QTimer timer;
    qint64 last = 0;
    qint64 longest = 0;
};

struct Setup {
    QString home;
    QString bin;
};

// The fake tmux: the listing prints `listing`, every other command ends at once.
bool writeTmux(const Setup& setup, const QByteArray& listing)
{
    return writeFile(setup.bin + QStringLiteral("/tmux"),
                     "#!/bin/sh\n"
                     "case \"$*\" in\n"
                     "*list-sessions*) " + listing + " ;;\n"
                     "*) exit 0 ;;\n"
                     "esac\n",
                     true);
}

bool prepare(const QString& name, const Setup& setup)
{
    if (name == QLatin1String("endless-tmux"))
        return writeTmux(setup, "exec yes \"$(printf 'kq-endless\\t1\\t1\\tname\\t/tmp\\t\\t1')\"");
    if (name == QLatin1String("listing-10000")) {
        QByteArray rows;
        for (int i = 0; i < rowCount; ++i)
            rows += "kq-host-" + QByteArray::number(i) + "\t1\t" + QByteArray::number(i + 1) + "\tproject " + QByteArray::number(i)
                  + "\t" + setup.home.toUtf8() + "\t\t1\n";
        // With a shared-state file in place the first listing applies the rows at once.
        return writeFile(setup.home + QStringLiteral("/rows"), rows) && QDir().mkpath(setup.home + QStringLiteral("/.halvoren"))
            && writeFile(setup.home + QStringLiteral("/.halvoren/shared.json"), "{\"favorites\":[],\"hidden\":[]}")
            && writeTmux(setup, "cat " + setup.home.toUtf8() + "/rows");
    }
    if (name == QLatin1String("lines-30MB")) {
        // Lines without a field: 30 MB stays under the output limit and reaches the reader.
        return QDir().mkpath(setup.home + QStringLiteral("/.halvoren"))
            && writeFile(setup.home + QStringLiteral("/.halvoren/shared.json"), "{\"favorites\":[],\"hidden\":[]}")
            && writeTmux(setup, "yes | head -c 30000000");
    }
    if (name == QLatin1String("shared-50MB")) {
        QByteArray json = "{\"favorites\":[";
        for (int i = 0; json.size() < sharedBytes; ++i)
            json += (i ? ",\"" : "\"") + QByteArray("favorite-project-number-") + QByteArray::number(i) + '"';
        json += "],\"hidden\":[],\"version\":1}";
        return QDir().mkpath(setup.home + QStringLiteral("/.halvoren"))
            && writeFile(setup.home + QStringLiteral("/.halvoren/shared.json"), json)
            && writeTmux(setup, "printf 'kq-a\\t1\\t1\\ta\\t/tmp\\t\\t1\\n'");
    }
    if (name == QLatin1String("projects-5000")) {
        const QString root = setup.home + QStringLiteral("/projects");
        const QString repository = setup.home + QStringLiteral("/repository");
        QProcess git;
        git.start(QStringLiteral("/bin/sh"),
                  {QStringLiteral("-c"), QStringLiteral("git init -q -b trunk \"$1\" && git -C \"$1\" -c user.name=b "
                                                        "-c user.email=b@b.invalid commit -q --allow-empty -m first"),
                   QStringLiteral("sh"), repository});
        if (!git.waitForFinished(60'000) || git.exitCode() != 0)
            return false;
        for (int i = 0; i < projectCount; ++i) {
            const QString folder = root + QStringLiteral("/project-") + QString::number(i);
            if (!QDir().mkpath(folder) || !writeFile(folder + QStringLiteral("/.git"), "gitdir: " + repository.toUtf8() + "/.git\n"))
                return false;
        }
        return writeTmux(setup, "exit 0");
    }
    return false;
}

// Runs one case in this process and prints its line.
int runCase(const QString& name, int argc, char** argv)
{
    QTemporaryDir folder(QDir::tempPath() + QStringLiteral("/hv-hostile-XXXXXX"));
    if (!folder.isValid())
        return 1;
    const Setup setup{folder.path(), folder.path() + QStringLiteral("/bin")};
    QDir().mkpath(setup.bin);
    qputenv("HOME", setup.home.toUtf8());
    qunsetenv("XDG_CONFIG_HOME");
    qputenv("SHELL", "/bin/sh");
    qunsetenv("TMUX");
    qputenv("TMUX_TMPDIR", setup.home.toUtf8());
    qputenv("PATH", setup.bin.toUtf8() + ':' + qgetenv("PATH"));
    // A login shell takes its PATH from the system's profile: the home's puts the fake first.
    writeFile(setup.home + QStringLiteral("/.profile"), "export PATH=\"" + setup.bin.toUtf8() + ":$PATH\"\n");
    if (!prepare(name, setup)) {
        std::printf("hostile-app %s could not be prepared\n", name.toUtf8().constData());
        return 1;
    }
    corvantix::setLogSink([](corvantix::LogStream, std::string_view) {});
    qInstallMessageHandler([](QtMsgType, const QMessageLogContext&, const QString&) {});
    QApplication application(argc, argv);
    PreferenceStore store(setup.home + QStringLiteral("/preferences.json"));
    Prefs prefs(store);
    Notifier notifier(QDBusConnection(QStringLiteral("no-bus")));
    MacModel model(prefs, nullptr, &notifier);
    MacConnection& local = *model.localConnection();
    local.tabSyncReady = true;
    local.setTmuxAvailable(true);

    malloc_trim(0);
    resetPeak();
    const long before = statusBytes("VmRSS");
    QElapsedTimer clock;
    clock.start();
    StallMeter stalls;
    QString detail;
    if (name == QLatin1String("projects-5000")) {
        prefs.setProjectsRoots({setup.home + QStringLiteral("/projects")});
        QCoro::waitFor(model.refreshProjects(local));
        detail = QStringLiteral("projects=%1 git-state=%2").arg(local.projects().size()).arg(local.gitInfo().size());
    } else {
        QCoro::waitFor(model.requestSync(local));
        detail = QStringLiteral("tabs=%1 failures=%2 favorites=%3 banner=\"%4\"")
                     .arg(model.tabs().size())
                     .arg(local.failures)
                     .arg(local.favorites().size())
                     .arg(model.banner().value_or(QString()));
    }
    const double seconds = double(clock.elapsed()) / 1000;
    const double peak = double(statusBytes("VmHWM") - before) / 1e6;
    std::printf("hostile-app %s time=%.1f s peak=%.1f MB longest-stall=%.1f ms %s\n", name.toUtf8().constData(), seconds,
                peak, stalls.longestMilliseconds(), detail.toUtf8().constData());
    std::fflush(stdout);
    return 0;
}

} // namespace

int main(int argc, char** argv)
{
    const QStringList names{QStringLiteral("endless-tmux"), QStringLiteral("listing-10000"), QStringLiteral("lines-30MB"),
                            QStringLiteral("shared-50MB"), QStringLiteral("projects-5000")};
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    if (argc == 3 && std::strcmp(argv[1], "--case") == 0)
        return runCase(QString::fromLocal8Bit(argv[2]), argc, argv);
    QCoreApplication parent(argc, argv);
    QStringList chosen = names;
    if (argc == 2) {
        if (!names.contains(QString::fromLocal8Bit(argv[1]))) {
            std::fprintf(stderr, "usage: halvoren-hostile-bench [%s]\n", names.join(u'|').toUtf8().constData());
            return 1;
        }
        chosen = {QString::fromLocal8Bit(argv[1])};
    }
    int status = 0;
    for (const QString& name : chosen) {
        std::fflush(stdout);
        QProcess child;
        child.setProcessChannelMode(QProcess::ForwardedChannels);
        child.start(QString::fromLocal8Bit(argv[0]), {QStringLiteral("--case"), name});
        if (!child.waitForFinished(-1) || child.exitCode() != 0) {
            std::printf("hostile-app %s did not finish\n", name.toUtf8().constData());
            status = 1;
        }
    }
    return status;
}
