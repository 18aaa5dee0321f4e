// A login profile that reads its standard input: on this computer every script still runs
// whole (tmux found, tabs tagged and listed); where a script cannot arrive whole (over ssh,
// where it travels on standard input) the banner says so, nothing of it runs, the host is
// not counted as silent and tmux is not taken for missing. A profile that exits or starts
// another shell runs no command at all: it is told as such, never as tmux missing or the
// host silent; a tab whose profile waits for input stays open.
#include "workspace/MacModel.h"

#include "app/support/SshHost.h"
#include "app/support/TempFolder.h"
#include "app/support/TmuxCommand.h"
#include "app/support/TmuxInstalled.h"
#include "app/support/WorkspaceModel.h"
#include "app/workspace/PrivateTmux.h"
#include "remote/ServerState.h"
#include "remote/SessionNaming.h"
#include "remote/FolderSessions.h"
#include "remote/TabReconciliation.h"
#include "remote/ShellQuote.h"
#include "remote/TmuxCommands.h"
#include "tab/MacTab.h"

#include <QProcess>
#include <QTest>
#include <QTimer>

#include <gtest/gtest.h>

namespace halvoren {
namespace {

using test::ready;

// The account keeps its tmux server below the run's home, and its profile reads a line as a
// user's might, with a time-out.
constexpr char readingProfile[] = "export TMUX_TMPDIR=\"$HOME\"\nread -t 1 x\n";

struct Instance : test::ClockedModel {
    Instance() { model.isFrontmost = [] { return false; }; }
    // Connects the server with one saved tab of `site`, once its first listing is done; null
    // when it does not connect or list.
    MacConnection* connectWithSavedTab(const MacProfile& profile, const QString& site)
    {
        prefs.setTabs(profile.id, {PersistedTab{QStringLiteral("site"), site, tmuxSessionName(site)}});
        return connectListed(profile);
    }
    // Connects the server, once its first listing is done; null when it does not connect or
    // list.
    MacConnection* connectListed(const MacProfile& profile)
    {
        model.setProfiles({profile});
        EXPECT_TRUE(QCoro::waitFor(model.connect(profile)));
        MacConnection* connection = model.connection(profile.id);
        if (connection == nullptr || !QTest::qWaitFor([&] { return !connection->syncing; }, 30000))
            return nullptr;
        return connection;
    }
};

using test::tmuxOption;

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
    MacConnection* connection = instance.connectWithSavedTab(profile, site);
    ASSERT_NE(connection, nullptr);
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

// Profiles that never get to the command, whatever their status: one that exits, one that
// starts another shell, one that starts tmux with no terminal (which says why on its standard
// error, quoted in the banner).
struct SwallowingProfile {
    const char* name;
    const char* text;
    const char* reason;
};
const SwallowingProfile swallowingProfiles[] = {
    {"exit 0", "exit 0\n", ""},
    {"exit 3", "exit 3\n", ""},
    {"exec dash", "exec /bin/dash\n", ""},
    {"exec tmux", "exec tmux\n", "open terminal failed: not a terminal"},
};

TEST(LoginProfile, OnThisComputerAProfileThatRunsNoCommandIsSaidSo)
{
    ASSERT_TRUE(QFileInfo(QStringLiteral("/bin/dash")).isExecutable()) << "needs the Debian package dash";
    for (const SwallowingProfile& profile : swallowingProfiles) {
        SCOPED_TRACE(profile.name);
        test::TempFolder home;
        ASSERT_TRUE(test::writeAll(home.file(QStringLiteral(".bash_profile")), profile.text));
        test::EnvironmentOverride environment("HOME", home.path());
        environment.set("SHELL", QStringLiteral("/bin/bash"));

        Instance instance;
        QCoro::waitFor(instance.model.start());
        EXPECT_TRUE(instance.local().tmuxAvailable()) << "taken for missing tmux";
        EXPECT_EQ(instance.model.banner(), scriptNotRunMessage(true, QLatin1String(profile.reason)));
        for (int i = 0; i < 3; ++i)
            QCoro::waitFor(instance.model.requestSync(instance.local()));
        EXPECT_FALSE(instance.local().unreachable());
        EXPECT_EQ(instance.local().failures, 0);
        EXPECT_TRUE(instance.model.waitingBanners().isEmpty()) << "told once";
    }
}

TEST(LoginProfile, OverSshAProfileThatRunsNoCommandIsSaidSo)
{
    for (const SwallowingProfile& profile : swallowingProfiles) {
        SCOPED_TRACE(profile.name);
        test::SshHost host;
        ASSERT_TRUE(host.ready());
        ASSERT_TRUE(test::writeAll(host.remoteHome() + QStringLiteral("/.bash_profile"), profile.text));
        Instance instance;
        MacConnection* connection = instance.connectListed(host.profile);
        ASSERT_NE(connection, nullptr);
        EXPECT_TRUE(connection->tmuxAvailable()) << "taken for missing tmux";
        EXPECT_EQ(instance.model.banner(), scriptNotRunMessage(false, QLatin1String(profile.reason)));
        for (int i = 0; i < 2; ++i)
            QCoro::waitFor(instance.model.requestSync(*connection));
        EXPECT_FALSE(connection->unreachable());
        EXPECT_EQ(connection->failures, 0);
        EXPECT_TRUE(instance.model.waitingBanners().isEmpty()) << "told once";
        // Nothing ran, not even in the shell the profile started in its place.
        const ShellResult<QString> touched =
            QCoro::waitFor(instance.model.runScript(*connection, QStringLiteral("touch \"$HOME/ran\"\n"), 25));
        ASSERT_FALSE(touched);
        EXPECT_EQ(touched.error().message, scriptNotRunMessage(false, QLatin1String(profile.reason)));
        EXPECT_FALSE(QFile::exists(host.remoteHome() + QStringLiteral("/ran")));
        QCoro::waitFor(instance.model.disconnect(*connection));
    }
}

// A probe that got no answer leaves tmux as it was; the poll asks again until one answers,
// and that answer counts.
TEST(LoginProfile, TmuxKeepsItsStateUntilAProbeAnswers)
{
    struct Case {
        const char* name;
        ShellResult<QString> first;
        ShellResult<QString> later;
        bool atStart;
        bool afterPoll;
    };
    const Case cases[] = {
        {"slower than the limit, then found", ShellError{Shell::localTimeoutMessage()}, QStringLiteral("/usr/bin/tmux\n"),
         true, true},
        {"slower than the limit, then missing", ShellError{Shell::localTimeoutMessage()}, QString(), true, false},
        {"not run, then found", ShellError{scriptNotRunMessage(true)}, QStringLiteral("/usr/bin/tmux\n"), true, true},
        {"missing at once", QString(), QStringLiteral("/usr/bin/tmux\n"), false, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        test::TempFolder home;
        test::EnvironmentOverride environment("HOME", home.path());
        Instance instance;
        int probes = 0;
        instance.model.runScript = [&](MacConnection&, QString script, double) -> Task<ShellResult<QString>> {
            if (script != tmuxProbeScript())
                return ready(ShellResult<QString>(ShellError{Shell::localTimeoutMessage()}));
            return ready(++probes == 1 ? c.first : c.later);
        };
        QCoro::waitFor(instance.model.start());
        EXPECT_EQ(instance.local().tmuxAvailable(), c.atStart);
        if (!c.first) {
            const QString told = c.first.error().message == Shell::localTimeoutMessage()
                ? MacModel::tmuxProbeUnansweredMessage(instance.local())
                : c.first.error().message;
            EXPECT_EQ(instance.model.banner(), told);
        }
        instance.clock->advance(MacModel::pollInterval);
        QTest::qWait(0);
        EXPECT_EQ(instance.local().tmuxAvailable(), c.afterPoll);
        EXPECT_EQ(probes, c.first.ok() ? 1 : 2);
        instance.clock->advance(MacModel::pollInterval);
        QTest::qWait(0);
        EXPECT_EQ(probes, c.first.ok() ? 1 : 2) << "asked again after an answer";
    }
}

// A profile slower than the tmux probe's limit: the probe gets no answer, tmux is not taken
// for missing, and the saved tab is restored in its session by the listing that follows.
TEST(LoginProfile, AProfileSlowerThanTheProbeStillRestoresTmuxTabs)
{
    ASSERT_TRUE(test::tmuxInstalled());
    test::TempFolder home;
    const QString site = home.file(QStringLiteral("site"));
    ASSERT_TRUE(QDir().mkpath(site));
    const QByteArray pause = QByteArray::number(qint64(MacModel::localTmuxProbeTimeout) + 1);
    // Slow once, for the probe: the shells after it are not held as well.
    ASSERT_TRUE(test::writeAll(home.file(QStringLiteral(".bash_profile")),
                               "[ -e \"$HOME/slow\" ] || { touch \"$HOME/slow\"; sleep " + pause + "; }\n"));
    test::EnvironmentOverride environment("HOME", home.path());
    environment.set("SHELL", QStringLiteral("/bin/bash"));

    Instance instance;
    const MacProject project{QStringLiteral("site"), site, tmuxSessionName(site)};
    instance.prefs.setTabs(MacConnection::localID, {PersistedTab{project.name, project.path, project.session}});
    QCoro::waitFor(instance.model.start());
    EXPECT_TRUE(instance.local().tmuxAvailable());
    EXPECT_TRUE(instance.local().tmuxUnanswered);
    EXPECT_EQ(instance.model.banner(), MacModel::tmuxProbeUnansweredMessage(instance.local()));
    ASSERT_EQ(instance.model.tabs().size(), 1);
    EXPECT_TRUE(instance.model.tabs().front()->useTmux);
    EXPECT_EQ(instance.model.tabs().front()->project.session, project.session);
    EXPECT_EQ(tmuxOption(project.session, QStringLiteral("@hv_open")), QStringLiteral("1"));
    EXPECT_FALSE(instance.local().unreachable());
    instance.model.closeTab(*instance.model.tabs().front());
    QProcess::execute(QStringLiteral("tmux"), {QStringLiteral("kill-session"), QStringLiteral("-t"), u'=' + project.session});
}

// A profile that sets `pipefail`, on a host whose tmux runs no server yet (tmux then fails
// to list): the listing is the host's empty one, not a failed row filter, and the saved tab
// is restored in its session.
TEST(LoginProfile, APipefailProfileStillRestoresTheSavedTabs)
{
    ASSERT_TRUE(test::tmuxInstalled());
    test::TempFolder home;
    const QString site = home.file(QStringLiteral("site"));
    ASSERT_TRUE(QDir().mkpath(site) && QDir().mkpath(home.file(QStringLiteral("sockets"))));
    ASSERT_TRUE(test::writeAll(home.file(QStringLiteral(".bash_profile")), "set -o pipefail\n"));
    test::EnvironmentOverride environment("HOME", home.path());
    environment.set("SHELL", QStringLiteral("/bin/bash"));
    environment.set("TMUX_TMPDIR", home.file(QStringLiteral("sockets")));

    Instance instance;
    const MacProject project{QStringLiteral("site"), site, tmuxSessionName(site)};
    instance.prefs.setTabs(MacConnection::localID, {PersistedTab{project.name, project.path, project.session}});
    QCoro::waitFor(instance.model.start());
    ASSERT_TRUE(QTest::qWaitFor([&] { return !instance.local().syncing; }, 30000));
    EXPECT_FALSE(instance.model.banner().has_value()) << instance.model.banner()->toStdString();
    EXPECT_TRUE(instance.model.waitingBanners().isEmpty()) << instance.model.waitingBanners().join(u'\n').toStdString();
    ASSERT_EQ(instance.model.tabs().size(), 1);
    EXPECT_TRUE(instance.model.tabs().front()->useTmux);
    EXPECT_EQ(instance.model.tabs().front()->project.session, project.session);
    EXPECT_EQ(tmuxOption(project.session, QStringLiteral("@hv_open")), QStringLiteral("1"));
    EXPECT_FALSE(instance.local().seedFromPersisted);
    // The shared state the host lacked was written through its own pipeline.
    EXPECT_TRUE(QFileInfo(home.file(QStringLiteral(".halvoren/shared.json"))).size() > 0);
    instance.model.closeTab(*instance.model.tabs().front());
    QProcess::execute(QStringLiteral("tmux"), {QStringLiteral("kill-server")});
}

// The same on a server whose account's profile sets `pipefail`.
TEST(LoginProfile, OverSshAPipefailProfileStillRestoresTheSavedTabs)
{
    test::SshHost host;
    ASSERT_TRUE(host.ready());
    ASSERT_TRUE(test::writeAll(host.remoteHome() + QStringLiteral("/.bash_profile"),
                               "export TMUX_TMPDIR=\"$HOME\"\nset -o pipefail\n"));
    const QString site = host.project(QStringLiteral("site"));
    ASSERT_FALSE(site.isEmpty());
    const MacProfile& profile = host.profile;

    Instance instance;
    MacConnection* connection = instance.connectWithSavedTab(profile, site);
    ASSERT_NE(connection, nullptr);
    EXPECT_FALSE(instance.model.banner().has_value()) << instance.model.banner()->toStdString();
    EXPECT_TRUE(instance.model.waitingBanners().isEmpty()) << instance.model.waitingBanners().join(u'\n').toStdString();
    ASSERT_EQ(instance.model.tabs().size(), 1);
    EXPECT_EQ(instance.model.tabs().front()->project.session, tmuxSessionName(site));
    EXPECT_FALSE(connection->seedFromPersisted);
    for (MacTab* tab : QList<MacTab*>(instance.model.tabs()))
        instance.model.removeTab(*tab);
    QCoro::waitFor(connection->link->runScript(QStringLiteral("tmux kill-server\n"), 25));
    QCoro::waitFor(instance.model.disconnect(*connection));
}

// The tab's shell waits in its profile for a line: it has made no session yet, and the
// listings leave its tab alone however long it waits. Once the line is typed the session is
// made and tagged.
TEST(LoginProfile, ATabWhoseProfileWaitsForInputStaysOpen)
{
    ASSERT_TRUE(test::tmuxInstalled());
    test::TempFolder home;
    const QString site = home.file(QStringLiteral("site"));
    ASSERT_TRUE(QDir().mkpath(site));
    ASSERT_TRUE(test::writeAll(home.file(QStringLiteral(".bash_profile")), "read x\n"));
    test::EnvironmentOverride environment("HOME", home.path());
    environment.set("SHELL", QStringLiteral("/bin/bash"));

    Instance instance;
    QCoro::waitFor(instance.model.start());
    ASSERT_TRUE(instance.local().tmuxAvailable());
    const MacProject project{QStringLiteral("site"), site, tmuxSessionName(site)};
    instance.model.openProject(project, instance.local());
    ASSERT_EQ(instance.model.tabs().size(), 1);
    MacTab* tab = instance.model.tabs().front();
    ASSERT_TRUE(QTest::qWaitFor([&] { return tab->isLive(); }, 10000));
    // The polls of those 20 seconds list the host as well.
    instance.clock->advance(20);
    for (int i = 0; i < 3; ++i)
        QCoro::waitFor(instance.model.requestSync(instance.local()));
    ASSERT_TRUE(QTest::qWaitFor([&] { return !instance.local().syncing; }, 30000));
    ASSERT_EQ(instance.model.tabs().size(), 1) << "closed while its shell was starting";
    EXPECT_TRUE(tab->isLive());
    EXPECT_TRUE(tmuxOption(project.session, QStringLiteral("@hv_open")).isEmpty());

    tab->terminal->send(std::string_view("\r"));
    ASSERT_TRUE(QTest::qWaitFor([&] { return tmuxOption(project.session, QStringLiteral("@hv_open")) == u'1'; }, 30000));
    QCoro::waitFor(instance.model.requestSync(instance.local()));
    EXPECT_EQ(instance.model.tabs().size(), 1);
    EXPECT_TRUE(instance.local().liveSessions().contains(project.session));
    instance.model.closeTab(*tab);
    QProcess::execute(QStringLiteral("tmux"), {QStringLiteral("kill-session"), QStringLiteral("-t"), u'=' + project.session});
}

// What login files print for every shell: a greeting, then a title set without a line break.
constexpr char greeting[] = "echo 'Bienvenue sur le serveur'\nprintf '\\033]0;Serveur\\007'\n";

// Project names as one line to compare, sorted.
std::string namesOf(QStringList names)
{
    names.sort();
    return names.join(u'|').toStdString();
}

std::string namesOf(const QList<MacProject>& projects)
{
    QStringList names;
    for (const MacProject& project : projects)
        names << project.name;
    return namesOf(names);
}

// The server's login files print around every command, under each login shell the account
// may have (bash's ~/.bashrc and ~/.profile, zsh's ~/.zshenv and ~/.zlogout, dash's and
// mksh's ~/.profile for their login shell; bash hands a command over to the others): none of
// it is read as the server's answer. The home is the real one, the default root lists the
// projects, a root set by hand and a project's sub-folders list their names alone, a script
// reads its own output and the first project's git state is found. Nothing is bannered.
TEST(LoginProfile, WhatTheServersLoginFilesPrintIsNeverReadAsItsAnswer)
{
    struct Login {
        const char* program;
        const char* bashrc;
        const char* profile;
        const char* zshenv;
        const char* zlogout;
    };
    const QByteArray atHome = "export TMUX_TMPDIR=\"$HOME\"\n";
    const QByteArray handOver = "[ -z \"${BASH_EXECUTION_STRING-}\" ] || { SHELL=/usr/bin/%1; export SHELL; "
                                "exec \"$SHELL\" -c \"$BASH_EXECUTION_STRING\"; }\n";
    const Login logins[] = {
        {"bash", greeting, greeting, "", ""},
        {"zsh", "", "", greeting, "echo 'Au revoir'\n"},
        {"dash", "", greeting, "", ""},
        {"mksh", "", greeting, "", ""},
    };
    for (const Login& login : logins) {
        SCOPED_TRACE(login.program);
        ASSERT_TRUE(QFileInfo(QStringLiteral("/usr/bin/") + QLatin1String(login.program)).isExecutable())
            << "needs the Debian package " << login.program;
        test::SshHost host;
        ASSERT_TRUE(host.ready());
        const QString home = host.remoteHome();
        QByteArray bashrc = login.bashrc;
        if (qstrcmp(login.program, "bash") != 0)
            bashrc = QByteArray(handOver).replace("%1", login.program);
        ASSERT_TRUE(test::writeAll(home + QStringLiteral("/.bashrc"), bashrc)
                    && test::writeAll(home + QStringLiteral("/.profile"), atHome + login.profile)
                    && test::writeAll(home + QStringLiteral("/.zshenv"), atHome + login.zshenv)
                    && test::writeAll(home + QStringLiteral("/.zlogout"), login.zlogout));
        const QString alpha = host.project(QStringLiteral("alpha"));
        ASSERT_FALSE(alpha.isEmpty() || host.project(QStringLiteral("beta")).isEmpty());
        ASSERT_TRUE(QDir().mkpath(alpha + QStringLiteral("/src")) && QDir().mkpath(alpha + QStringLiteral("/doc")));
        // The account makes a repository there.
        ASSERT_EQ(QProcess::execute(QStringLiteral("chown"), {QStringLiteral("-R"), QStringLiteral("--reference=") + home,
                                                              home + QStringLiteral("/projets")}),
                  0);

        Instance instance;
        MacConnection* connection = instance.connectListed(host.profile);
        ASSERT_NE(connection, nullptr);
        EXPECT_EQ(connection->link->remoteHome(), home);
        EXPECT_EQ(namesOf(connection->projects()), "alpha|beta");
        EXPECT_EQ(namesOf(QCoro::waitFor(connection->listFolders(home + QStringLiteral("/projets")))), "alpha|beta");
        EXPECT_EQ(namesOf(QCoro::waitFor(connection->listFolders(alpha))), "doc|src");
        EXPECT_TRUE(connection->tmuxAvailable());
        const ShellResult<QString> ours = QCoro::waitFor(instance.model.runScript(*connection, QStringLiteral("echo ours\n"), 25));
        ASSERT_TRUE(ours) << ours.error().message.toStdString();
        EXPECT_EQ(ours.value(), QStringLiteral("ours\n"));
        // A script that started and failed gives its own reason, not the profile's.
        const ShellResult<QString> failed =
            QCoro::waitFor(instance.model.runScript(*connection, QStringLiteral("echo 'sh: refusé' >&2\nexit 4\n"), 25));
        ASSERT_FALSE(failed);
        EXPECT_EQ(failed.error().message, QStringLiteral("sh: refusé"));
        const QString repository = QStringLiteral("cd ") + shellQuote(alpha)
            + QStringLiteral(" && git init -q && git -c user.name=t -c user.email=t@t commit -q --allow-empty -m t\n");
        const ShellResult<QString> made = QCoro::waitFor(instance.model.runScript(*connection, repository, 25));
        ASSERT_TRUE(made) << made.error().message.toStdString();
        QCoro::waitFor(instance.model.refreshGitInfo(*connection, {alpha}));
        EXPECT_TRUE(connection->gitInfo().contains(alpha)) << "the git state was not read";
        EXPECT_FALSE(instance.model.banner().has_value()) << instance.model.banner()->toStdString();
        EXPECT_TRUE(instance.model.waitingBanners().isEmpty()) << instance.model.waitingBanners().join(u'\n').toStdString();
        QCoro::waitFor(instance.model.disconnect(*connection));
    }
}

// The same on this computer, whose login shell's files print around every script and keep
// tmux off its path: tmux is missing, not found in the greeting, and a script reads its own
// output alone.
TEST(LoginProfile, WhatThisComputersLoginFilesPrintIsNeverReadAsItsAnswer)
{
    struct Login {
        const char* shell;
        const char* file;
        const char* farewellFile;
    };
    const Login logins[] = {
        {"/bin/bash", ".bash_profile", ".bash_logout"},
        {"/usr/bin/zsh", ".zshenv", ".zlogout"},
    };
    for (const Login& login : logins) {
        SCOPED_TRACE(login.shell);
        test::TempFolder home;
        ASSERT_TRUE(test::writeAll(home.file(QLatin1String(login.file)), greeting + QByteArray("PATH=/nowhere\n"))
                    && test::writeAll(home.file(QLatin1String(login.farewellFile)), "echo 'Au revoir'\n"));
        test::EnvironmentOverride environment("HOME", home.path());
        environment.set("SHELL", QLatin1String(login.shell));

        Instance instance;
        QCoro::waitFor(instance.model.start());
        EXPECT_FALSE(instance.local().tmuxAvailable()) << "the greeting was taken for tmux";
        const ShellResult<QString> ours =
            QCoro::waitFor(instance.model.runScript(instance.local(), QStringLiteral("echo ours\n"), 25));
        ASSERT_TRUE(ours) << ours.error().message.toStdString();
        EXPECT_EQ(ours.value(), QStringLiteral("ours\n"));
        EXPECT_FALSE(instance.model.banner().has_value()) << instance.model.banner()->toStdString();
    }
}

// The application started from a terminal inside a project that holds programs of its own, with
// "./bin" first on PATH from the login profile: this computer's commands start at home, so its
// listing, git probe, shared-state write and tab scripts run the real programs and none of the
// project's, whether the model runs them itself (its start) or is asked to.
TEST(LoginProfile, ThisComputersCommandsRunNothingOfTheFolderTheApplicationStartedIn)
{
    ASSERT_TRUE(test::tmuxInstalled());
    test::TempFolder home;
    const QString trace = home.file(QStringLiteral("stand-ins"));
    const QString project = home.file(QStringLiteral("projets/projet"));
    const QString alpha = home.file(QStringLiteral("projets/alpha"));
    ASSERT_TRUE(QDir().mkpath(project + QStringLiteral("/bin")) && QDir().mkpath(alpha)
                && QDir().mkpath(home.file(QStringLiteral("sockets"))));
    for (const char* name : {"git", "awk", "cksum", "mv", "tmux", "base64", "cat", "rm", "mkdir", "printf", "sed", "sort", "tr",
                             "head", "wc"}) {
        const QString path = project + QStringLiteral("/bin/") + QLatin1String(name);
        ASSERT_TRUE(test::writeAll(path, "#!/bin/sh\necho " + QByteArray(name) + " >> " + shellQuote(trace).toUtf8() + "\nexit 1\n"));
        ASSERT_TRUE(QFile::setPermissions(path, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner));
    }
    ASSERT_EQ(QProcess::execute(QStringLiteral("git"), {QStringLiteral("init"), QStringLiteral("-q"), QStringLiteral("-b"),
                                                       QStringLiteral("trunk"), alpha}),
              0);
    ASSERT_EQ(QProcess::execute(QStringLiteral("git"), {QStringLiteral("-C"), alpha, QStringLiteral("-c"), QStringLiteral("user.name=t"),
                                                       QStringLiteral("-c"), QStringLiteral("user.email=t@t.invalid"),
                                                       QStringLiteral("commit"), QStringLiteral("-q"), QStringLiteral("--allow-empty"),
                                                       QStringLiteral("-m"), QStringLiteral("t")}),
              0);
    ASSERT_TRUE(test::writeAll(home.file(QStringLiteral(".bash_profile")), "PATH=./bin:$PATH; export PATH\n"));
    test::EnvironmentOverride environment("HOME", home.path());
    environment.set("SHELL", QStringLiteral("/bin/bash"));
    environment.set("TMUX_TMPDIR", home.file(QStringLiteral("sockets")));
    environment.set("PWD", project);
    // The test's folder comes back however the test ends.
    const struct Back {
        QString here = QDir::currentPath();
        ~Back() { QDir::setCurrent(here); }
    } back;
    ASSERT_TRUE(QDir::setCurrent(project));

    Instance instance;
    instance.prefs.setProjectsRoots({home.file(QStringLiteral("projets"))});
    QCoro::waitFor(instance.model.start());
    MacConnection& local = instance.local();
    ASSERT_TRUE(QTest::qWaitFor([&] { return !local.syncing; }, 30000));
    EXPECT_TRUE(local.tmuxAvailable());
    EXPECT_FALSE(local.unreachable());
    EXPECT_FALSE(instance.model.banner().has_value()) << instance.model.banner()->toStdString();
    EXPECT_TRUE(QFileInfo(home.file(QStringLiteral(".halvoren/shared.json"))).size() > 0) << "the shared state was not written";
    QCoro::waitFor(instance.model.refreshGitInfo(local, {alpha}));
    EXPECT_EQ(local.gitInfo().value(alpha).branch, QStringLiteral("trunk"));

    // The tab scripts, through the model's runner: tagged, untagged, tagged again, ordered.
    const QString sessions[] = {tmuxSessionName(alpha), tmuxSessionName(project)};
    const auto run = [&](const QString& script) {
        const ShellResult<QString> done = QCoro::waitFor(instance.model.runScript(local, script + QStringLiteral("true\n"), 25));
        EXPECT_TRUE(done) << done.error().message.toStdString();
    };
    run(tmuxSessionScript(sessions[0], QStringLiteral("alpha"), alpha, 1) + tmuxSessionScript(sessions[1], QStringLiteral("projet"), project, 2));
    run(sessionUntagScript(sessions[0]));
    EXPECT_TRUE(tmuxOption(sessions[0], QStringLiteral("@hv_open")).isEmpty());
    run(sessionRetagScript(sessions[0]));
    EXPECT_EQ(tmuxOption(sessions[0], QStringLiteral("@hv_open")), QStringLiteral("1"));
    run(tmuxReorderScript({sessions[1], sessions[0]}));
    EXPECT_EQ(tmuxOption(sessions[0], QStringLiteral("@hv_order")), QStringLiteral("2"));
    QCoro::waitFor(instance.model.requestSync(local));
    EXPECT_TRUE(local.liveSessions().contains(sessions[0]) && local.liveSessions().contains(sessions[1]));
    EXPECT_FALSE(QFile::exists(trace)) << test::readAll(trace).toStdString();
    QProcess::execute(QStringLiteral("tmux"), {QStringLiteral("kill-server")});
}

// Processes whose environment holds the variable with this value: ours, started for the test.
QList<int> processesTagged(const QByteArray& entry)
{
    QList<int> found;
    for (const QString& name : QDir(QStringLiteral("/proc")).entryList(QDir::Dirs)) {
        bool number = false;
        const int pid = name.toInt(&number);
        if (!number)
            continue;
        QFile environ(QStringLiteral("/proc/%1/environ").arg(pid));
        if (pid != QCoreApplication::applicationPid() && environ.open(QIODevice::ReadOnly)
            && environ.readAll().split('\0').contains(entry))
            found << pid;
    }
    return found;
}

// Quitting ends the scripts still running, whatever they started, and removes the file of a
// long one.
TEST(LoginProfile, QuittingEndsTheScriptsStillRunning)
{
    test::TempFolder home;
    test::TempFolder temporary;
    const QByteArray tag = "HV_QUIT_TEST=" + QByteArray::number(QCoreApplication::applicationPid());
    test::EnvironmentOverride environment("HOME", home.path());
    environment.set("SHELL", QStringLiteral("/bin/sh"));
    environment.set("TMPDIR", temporary.path());
    environment.set("HV_QUIT_TEST", QString::fromLatin1(tag.mid(tag.indexOf('=') + 1)));
    const QString fifo = home.file(QStringLiteral("fifo"));
    ASSERT_EQ(QProcess::execute(QStringLiteral("mkfifo"), {fifo}), 0);

    Instance instance;
    // One blocked on a FIFO no one writes, one far longer than an argument, sleeping in a
    // child of its own.
    QString padding;
    while (padding.size() <= 200'000)
        padding += QStringLiteral("# a line that only makes the script longer than one argument\n");
    instance.model.runRemote(instance.local(), QStringLiteral("cat ") + fifo + u'\n');
    instance.model.runRemote(instance.local(), QStringLiteral("sleep 300 &\nwait\n") + padding);
    const auto scriptFiles = [&] { return QDir(temporary.path()).entryList(QDir::Files); };
    ASSERT_TRUE(QTest::qWaitFor([&] { return processesTagged(tag).size() >= 4 && !scriptFiles().isEmpty(); }, 10000));
    EXPECT_EQ(instance.local().writeEpoch, 2);

    QTimer::singleShot(0, qApp, &QCoreApplication::quit);
    qApp->exec();
    EXPECT_TRUE(scriptFiles().isEmpty()) << scriptFiles().join(u' ').toStdString();
    EXPECT_TRUE(QTest::qWaitFor([&] { return processesTagged(tag).isEmpty(); }, 10000)) << [&] {
        std::string left;
        for (const int pid : processesTagged(tag)) {
            QFile line(QStringLiteral("/proc/%1/cmdline").arg(pid));
            line.open(QIODevice::ReadOnly);
            left += std::to_string(pid) + ": " + line.readAll().replace('\0', ' ').toStdString() + "\n";
        }
        return left;
    }();
    EXPECT_TRUE(QTest::qWaitFor([&] { return instance.local().writeEpoch == 4; }, 10000)) << "each run ends";
    EXPECT_EQ(Shell::runsInFlight(), 0);
}

} // namespace
} // namespace halvoren
