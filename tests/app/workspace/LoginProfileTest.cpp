// A login profile that reads its standard input: on this computer every script still runs
// whole (tmux found, tabs tagged and listed); where a script cannot arrive whole (over ssh,
// where it travels on standard input) the banner says so, nothing of it runs, the host is
// not counted as silent and tmux is not taken for missing.
#include "workspace/MacModel.h"

#include "app/support/SshHost.h"
#include "app/support/TempFolder.h"
#include "app/support/TmuxInstalled.h"
#include "app/support/WorkspaceModel.h"
#include "app/workspace/PrivateTmux.h"
#include "remote/ServerState.h"
#include "remote/SessionNaming.h"
#include "tab/MacTab.h"

#include <QProcess>
#include <QTest>

#include <gtest/gtest.h>

namespace halvoren {
namespace {

template <typename T>
Task<T> ready(T value) { co_return value; }

// The account keeps its tmux server below the run's home, and its profile reads a line as a
// user's might, with a time-out.
constexpr char readingProfile[] = "export TMUX_TMPDIR=\"$HOME\"\nread -t 1 x\n";

struct Instance : test::ClockedModel {
    Instance() { model.isFrontmost = [] { return false; }; }
};

QString tmuxOption(const QString& session, const QString& name)
{
    QProcess tmux;
    tmux.start(QStringLiteral("tmux"), {QStringLiteral("show-options"), QStringLiteral("-qv"), QStringLiteral("-t"),
                                        u'=' + session + u':', name});
    tmux.waitForFinished();
    return QString::fromUtf8(tmux.readAllStandardOutput()).trimmed();
}

TEST(LoginProfile, ThisComputerRunsEveryScriptWhenTheProfileReadsItsInput)
{
    ASSERT_TRUE(test::tmuxInstalled());
    test::TempFolder home;
    const QString site = home.file(QStringLiteral("site"));
    ASSERT_TRUE(QDir().mkpath(site));
    // The tabs' tmux server stays the run's private one: the profile only reads.
    ASSERT_TRUE(test::writeAll(home.file(QStringLiteral(".bash_profile")), "read -t 1 x\n"));
    test::EnvironmentOverride environment("HOME", home.path());
    environment.set("SHELL", QStringLiteral("/bin/bash"));

    Instance instance;
    QCoro::waitFor(instance.model.start());
    ASSERT_TRUE(instance.local().tmuxAvailable()) << "the tmux probe lost its script";
    const MacProject project{QStringLiteral("site"), site, tmuxSessionName(site)};
    instance.model.openProject(project, instance.local());
    ASSERT_TRUE(QTest::qWaitFor([&] { return tmuxOption(project.session, QStringLiteral("@hv_open")) == u'1'; }, 30000));
    for (int i = 0; i < 2; ++i)
        QCoro::waitFor(instance.model.requestSync(instance.local()));
    EXPECT_FALSE(instance.local().unreachable());
    EXPECT_EQ(instance.local().failures, 0);
    EXPECT_TRUE(instance.local().liveSessions().contains(project.session));
    ASSERT_EQ(instance.model.tabs().size(), 1);
    EXPECT_TRUE(instance.model.tabs().front()->useTmux);
    EXPECT_FALSE(instance.model.banner().has_value()) << instance.model.banner()->toStdString();
    instance.model.closeTab(*instance.model.tabs().front());
    QProcess::execute(QStringLiteral("tmux"), {QStringLiteral("kill-session"), QStringLiteral("-t"), u'=' + project.session});
}

// Whatever the shell, a script it did not receive whole is its own trouble, told once.
TEST(LoginProfile, AScriptNotReceivedWholeIsNeitherSilenceNorMissingTmux)
{
    test::TempFolder home;
    test::EnvironmentOverride environment("HOME", home.path());
    Instance instance;
    // Its listings carry the bare markers, to be told among the scripts.
    instance.model.listingNonce = [] { return QString(); };
    QStringList scripts;
    instance.model.runScript = [&scripts](MacConnection&, QString script, double) -> Task<ShellResult<QString>> {
        scripts << script;
        return ready(ShellResult<QString>(ShellError{scriptIncompleteMessage()}));
    };
    QCoro::waitFor(instance.model.start());
    ASSERT_FALSE(scripts.isEmpty());
    EXPECT_TRUE(instance.local().tmuxAvailable());
    EXPECT_EQ(instance.model.banner(), scriptIncompleteMessage());
    instance.model.setBanner(std::nullopt);
    for (int i = 0; i < 3; ++i)
        QCoro::waitFor(instance.model.requestSync(instance.local()));
    EXPECT_TRUE(scripts.contains(listingScript()));
    EXPECT_FALSE(instance.local().unreachable());
    EXPECT_EQ(instance.local().failures, 0);
    EXPECT_FALSE(instance.model.banner().has_value()) << "told once";
}

TEST(LoginProfile, OverSshTheBannerSaysTheScriptWasNotReceived)
{
    test::SshHost host;
    ASSERT_TRUE(host.ready());
    const QString remote = host.remoteHome();
    ASSERT_TRUE(test::writeAll(remote + QStringLiteral("/.bash_profile"), readingProfile));
    const QString site = host.project(QStringLiteral("site"));
    ASSERT_FALSE(site.isEmpty());
    const MacProfile& profile = host.profile;

    Instance instance;
    instance.prefs.setTabs(profile.id, {PersistedTab{QStringLiteral("site"), site, tmuxSessionName(site)}});
    ASSERT_TRUE(QCoro::waitFor(instance.model.connect(profile)));
    MacConnection* connection = instance.model.connection(profile.id);
    ASSERT_NE(connection, nullptr);
    ASSERT_TRUE(QTest::qWaitFor([&] { return !connection->syncing; }, 30000));
    EXPECT_EQ(instance.model.banner(), scriptIncompleteMessage());
    EXPECT_TRUE(connection->tmuxAvailable());
    for (int i = 0; i < 2; ++i)
        QCoro::waitFor(instance.model.requestSync(*connection));
    EXPECT_FALSE(connection->unreachable());
    EXPECT_TRUE(connection->tmuxAvailable());
    // Nothing ran: no tab was seeded, so the account never started a tmux server, and a
    // script of its own leaves no trace.
    EXPECT_TRUE(instance.model.tabs().isEmpty());
    EXPECT_TRUE(QDir(remote).entryList({QStringLiteral("tmux-*")}, QDir::AllEntries | QDir::Hidden).isEmpty());
    const ShellResult<QString> touched =
        QCoro::waitFor(connection->link->runScript(QStringLiteral("touch \"$HOME/ran\"\n"), 25));
    ASSERT_FALSE(touched);
    EXPECT_EQ(touched.error().message, scriptIncompleteMessage());
    EXPECT_FALSE(QFile::exists(remote + QStringLiteral("/ran")));
    QCoro::waitFor(instance.model.disconnect(*connection));
}

} // namespace
} // namespace halvoren
