// What the application ignores for itself, the programs it starts do not: each way it starts one
// (the desktop's opener of links included) gives the program the file-size signal neither
// ignored nor blocked, while the application, after its own start-up set-up, ignores it; and
// none of them gets the variables of a tmux the application was started inside.
#include "platform/DetachedProcess.h"
#include "remote/Shell.h"
#include "remote/ShellQuote.h"
#include "RunSync.h"
#include "../support/ApplicationSignals.h"
#include "../support/TempFolder.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QEventLoop>
#include <QTimer>

#include <gtest/gtest.h>

#include <csignal>
#include <functional>

namespace halvoren {
namespace {

// The mask a line "Label:\t<hex>" of /proc/PID/status holds; every bit when the line is missing.
unsigned long long maskOf(const QByteArray& status, const QByteArray& label)
{
    const qsizetype at = status.indexOf(label + ":\t");
    if (at < 0)
        return ~0ULL;
    bool ok = false;
    const unsigned long long mask = status.mid(at + label.size() + 2, 16).toULongLong(&ok, 16);
    return ok ? mask : ~0ULL;
}

// Each way the application starts a program, running `script` through /bin/sh with `written`
// as its $0, and waiting for its end. The opener of links and of the update's page runs it
// through a stand-in opener on the search path, as what it starts (a browser) would inherit.
struct Starter {
    const char* name;
    std::function<void(const test::TempFolder& folder, const QString& script, const QString& written)> start;
};

const Starter starters[] = {
    {"Shell::run", [](const test::TempFolder&, const QString& script, const QString& written) {
         (void)test::runSync(Shell::run(QStringLiteral("/bin/sh"), {QStringLiteral("-c"), script, written}, std::nullopt, 20));
     }},
    {"startDetachedProcess", [](const test::TempFolder&, const QString& script, const QString& written) {
         QEventLoop loop;
         startDetachedProcess(QStringLiteral("/bin/sh"), {QStringLiteral("-c"), script, written},
                              [&loop](std::optional<int>) { loop.quit(); });
         QTimer::singleShot(20000, &loop, &QEventLoop::quit);
         loop.exec();
     }},
    {"openOnDesktop", [](const test::TempFolder& folder, const QString& script, const QString& written) {
         const QString bin = folder.file(QStringLiteral("bin"));
         ASSERT_TRUE(QDir().mkpath(bin));
         const QString opener = bin + QStringLiteral("/xdg-open");
         ASSERT_TRUE(test::writeAll(opener, "#!/bin/sh\nexec /bin/sh -c " + shellQuote(script).toUtf8() + " \"${1#file://}\"\n"));
         ASSERT_TRUE(QFile::setPermissions(opener, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner));
         const test::EnvironmentOverride path("PATH", bin + QStringLiteral(":/usr/bin:/bin"));
         ASSERT_TRUE(openOnDesktop(QUrl::fromLocalFile(written)));
         const QDeadlineTimer deadline(20000);
         while (!test::readAll(written).endsWith('\n') && !deadline.hasExpired())
             QCoreApplication::processEvents(QEventLoop::AllEvents, 50);
     }},
};

TEST(StartedPrograms, GetTheFileSizeSignalAtItsDefault)
{
    const test::ApplicationSignals applicationSignals;
    // Blocked as well in the thread that starts them, as a thread of ours may hold it.
    sigset_t blocked, previousMask;
    sigemptyset(&blocked);
    sigaddset(&blocked, SIGXFSZ);
    ASSERT_EQ(::pthread_sigmask(SIG_BLOCK, &blocked, &previousMask), 0);
    const struct MaskReset {
        const sigset_t& mask;
        ~MaskReset() { ::pthread_sigmask(SIG_SETMASK, &mask, nullptr); }
    } maskReset{previousMask};

    const unsigned long long fileSize = 1ULL << (SIGXFSZ - 1);
    ASSERT_NE(maskOf(test::readAll(QStringLiteral("/proc/self/status")), "SigIgn") & fileSize, 0ULL);
    test::TempFolder folder;
    ASSERT_TRUE(folder.valid());
    for (const auto& [name, start] : starters) {
        const QString written = folder.file(QString::fromLatin1(name));
        start(folder, QStringLiteral("exec grep -E '^Sig(Blk|Ign)' /proc/self/status >\"$0\""), written);
        const QByteArray status = test::readAll(written);
        EXPECT_EQ(maskOf(status, "SigIgn") & fileSize, 0ULL) << name << "\n" << status.toStdString();
        EXPECT_EQ(maskOf(status, "SigBlk") & fileSize, 0ULL) << name << "\n" << status.toStdString();
    }
}

// Started inside another tmux (TMUX names its server, TMUX_PANE its pane), the application
// passes neither to any program it starts, and the rest of its environment as it is.
TEST(StartedPrograms, GetNoVariableOfAnEnclosingTmux)
{
    test::TempFolder folder;
    ASSERT_TRUE(folder.valid());
    test::EnvironmentOverride environment("TMUX", folder.file(QStringLiteral("other")) + QStringLiteral(",4242,0"));
    environment.set("TMUX_PANE", QStringLiteral("%7"));
    environment.set("HV_KEPT", QStringLiteral("gardé"));
    for (const auto& [name, start] : starters) {
        const QString written = folder.file(QString::fromLatin1(name));
        start(folder, QStringLiteral("printf '%s|%s|%s\\n' \"${TMUX-none}\" \"${TMUX_PANE-none}\" \"${HV_KEPT-none}\" >\"$0\""), written);
        EXPECT_EQ(QString::fromUtf8(test::readAll(written)).toStdString(), "none|none|gardé\n") << name;
    }
}

// Started from inside a project, with a relative entry first on PATH: a detached program starts
// at home, and the desktop's opener is never the project's own.
TEST(StartedPrograms, StartAtHomeAndNeverFindTheStartFoldersOpener)
{
    test::TempFolder folder;
    ASSERT_TRUE(folder.valid());
    const QString home = folder.file(QStringLiteral("home"));
    const QString bin = folder.file(QStringLiteral("projet/bin"));
    ASSERT_TRUE(QDir().mkpath(home) && QDir().mkpath(bin));
    ASSERT_TRUE(test::writeAll(bin + QStringLiteral("/xdg-open"), "#!/bin/sh\n"));
    ASSERT_TRUE(QFile::setPermissions(bin + QStringLiteral("/xdg-open"), QFile::ReadOwner | QFile::ExeOwner));
    test::EnvironmentOverride environment("HOME", home);
    environment.set("PATH", QStringLiteral("bin:/usr/bin:/bin"));
    const struct Back {
        QString here = QDir::currentPath();
        ~Back() { QDir::setCurrent(here); }
    } back;
    ASSERT_TRUE(QDir::setCurrent(folder.file(QStringLiteral("projet"))));

    EXPECT_FALSE(desktopOpener().startsWith(folder.path())) << desktopOpener().toStdString();
    const QString noted = folder.file(QStringLiteral("started-in"));
    QEventLoop loop;
    startDetachedProcess(QStringLiteral("/bin/sh"), {QStringLiteral("-c"), QStringLiteral("pwd > \"$0\""), noted},
                         [&loop](std::optional<int>) { loop.quit(); });
    QTimer::singleShot(20000, &loop, &QEventLoop::quit);
    loop.exec();
    EXPECT_EQ(QString::fromUtf8(test::readAll(noted)).trimmed().toStdString(), QDir(home).canonicalPath().toStdString());
}

} // namespace
} // namespace halvoren
