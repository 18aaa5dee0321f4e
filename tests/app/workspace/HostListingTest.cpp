// What a host's listing may hold, read through the real login shell on this computer: folders
// named as the listing's markers, a path another client made longer than any file system
// allows, a folder of 255 CJK characters, millions of sessions. The host is the private tmux
// server, or a stand-in tmux first in PATH where a real one cannot be made to list it.
#include "workspace/MacModel.h"

#include "app/support/SshHost.h"
#include "app/support/TempFolder.h"
#include "app/support/TmuxCommand.h"
#include "app/support/TmuxInstalled.h"
#include "app/support/WorkspaceModel.h"
#include "app/workspace/PrivateTmux.h"
#include "tab/MacTab.h"
#include "remote/ServerState.h"
#include "remote/SessionNaming.h"
#include "remote/ShellQuote.h"
#include "remote/TabReconciliation.h"

#include <QProcess>
#include <QTest>

#include <gtest/gtest.h>

namespace halvoren {
namespace {

// "-u": the names here are of any script.
QString tmux(const QStringList& arguments) { return test::tmux(QStringList{QStringLiteral("-u")} + arguments); }

using test::tmuxOption;

using Instance = test::SyncingModel;

// A home whose login shell finds a stand-in tmux first: list-sessions runs `listing` (the
// open rows of the file "open" when asked for those alone), an attach keeps the tab alive on
// `cat`, every other command ends at once.
struct StandInHost {
    test::TempFolder home;
    test::EnvironmentOverride environment;

    explicit StandInHost(const QByteArray& listing)
    {
        const QString bin = home.file(QStringLiteral("bin"));
        QDir().mkpath(bin);
        const QString tmux = bin + QStringLiteral("/tmux");
        test::writeAll(tmux, "#!/bin/sh\n"
                             "case \"$*\" in\n"
                             "*'list-sessions -f'*) cat \"$HOME/open\" ;;\n"
                             "*list-sessions*) " + listing + " ;;\n"
                             "*attach*) exec cat ;;\n"
                             "*) exit 0 ;;\n"
                             "esac\n");
        QFile::setPermissions(tmux, QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
        test::writeAll(home.file(QStringLiteral(".profile")), "export PATH=\"" + bin.toUtf8() + ":$PATH\"\n");
        test::writeAll(home.file(QStringLiteral("open")), QByteArray());
        // A shared state in place: the first listing opens the tabs (an upload would hold
        // them back to the next).
        QDir().mkpath(home.file(QStringLiteral(".halvoren")));
        test::writeAll(home.file(QStringLiteral(".halvoren/shared.json")), "{\"favorites\":[],\"hidden\":[],\"version\":1}");
        environment.set("HOME", home.path());
        environment.set("SHELL", QStringLiteral("/bin/sh"));
    }
    // A folder of this home and its row, open as a tab of a synchronised host.
    QString openRow(const QString& name, int order)
    {
        const QString path = home.file(name);
        QDir().mkpath(path);
        return tmuxSessionName(path) + QStringLiteral("\t1\t%1\t").arg(order) + name + u'\t' + path
             + QStringLiteral("\t\t1\n");
    }
};

// 1.6 M numbered sessions print far more than any run may give: the listing still shows the
// host's open tabs, calls the host reachable, and leaves the saved tabs as they were.
TEST(HostListing, MillionsOfNumberedSessionsStillShowTheOpenTabs)
{
    StandInHost host("awk 'BEGIN { for (i = 1; i <= 1600000; i++) "
                     "printf \"kq-web-0123456789abcdef-%d\\t\\t\\t\\t\\t\\t1\\n\", i }'; cat \"$HOME/open\"");
    const QString open = host.openRow(QStringLiteral("web"), 1) + host.openRow(QStringLiteral("api"), 2)
                       + host.openRow(QStringLiteral("doc"), 3);
    ASSERT_TRUE(test::writeAll(host.home.file(QStringLiteral("open")), open.toUtf8()));
    Instance instance;
    const QList<PersistedTab> saved{{QStringLiteral("web"), host.home.file(QStringLiteral("web")),
                                     tmuxSessionName(host.home.file(QStringLiteral("web")))}};
    instance.prefs.setTabs(MacConnection::localID, saved);
    instance.local().tabSyncReady = true;
    instance.sync();
    EXPECT_EQ(instance.local().failures, 0);
    EXPECT_FALSE(instance.local().unreachable());
    QStringList expected;
    for (const char* name : {"web", "api", "doc"})
        expected << tmuxSessionName(host.home.file(QLatin1String(name)));
    EXPECT_EQ(instance.sessions(), expected);
    for (const QString& session : expected)
        EXPECT_TRUE(instance.local().liveSessions().contains(session)) << session.toStdString();
    EXPECT_EQ(instance.prefs.tabs(MacConnection::localID), saved) << "a cut listing rewrote the saved tabs";
}

// A folder of 255 CJK characters (765 bytes; its session about 785) is a tab like any other.
TEST(HostListing, AFolderOf255CjkCharactersOpensSyncsAndCloses)
{
    StandInHost host("cat \"$HOME/rows\"");
    QString name;
    for (int i = 0; i < 255; ++i)
        name += QChar(0x4E00 + i);
    ASSERT_EQ(name.toUtf8().size(), 765);
    const QString row = host.openRow(name, 1);
    ASSERT_GT(row.section(u'\t', 0, 0).toUtf8().size(), 780);
    ASSERT_TRUE(test::writeAll(host.home.file(QStringLiteral("rows")), row.toUtf8()));
    Instance instance;
    instance.local().tabSyncReady = true;
    instance.sync();
    ASSERT_EQ(instance.model.tabs().size(), 1);
    MacTab* tab = instance.model.tabs().front();
    EXPECT_EQ(tab->project.path, host.home.file(name));
    EXPECT_EQ(tab->project.name, name);
    EXPECT_TRUE(QTest::qWaitFor([tab] { return tab->isLive(); }, 10000));
    instance.clock->advance(MacModel::reorderHoldOff);
    instance.sync();
    EXPECT_EQ(instance.model.tabs(), QList<MacTab*>{tab});
    EXPECT_FALSE(instance.model.banner().has_value()) << instance.model.banner()->toStdString();
    // Another client closed it.
    ASSERT_TRUE(test::writeAll(host.home.file(QStringLiteral("rows")),
                               row.section(u'\t', 0, 0).toUtf8() + "\t\t\t\t\t\t1\n"));
    instance.sync();
    EXPECT_TRUE(instance.model.tabs().isEmpty());
}

// The script that creates the folders' sessions, tagged as open tabs of a synchronised host.
QString openTabsScript(const QStringList& paths)
{
    QString script;
    for (qsizetype i = 0; i < paths.size(); ++i)
        script += tmuxSessionScript(tmuxSessionName(paths.at(i)), paths.at(i).section(u'/', -1), paths.at(i), int(i) + 1);
    return script + QStringLiteral("tmux set -g @hv_sync 1\n");
}

void openOnHost(const QStringList& paths)
{
    ASSERT_EQ(QProcess::execute(QStringLiteral("/bin/sh"), {QStringLiteral("-c"), openTabsScript(paths)}), 0);
}

// The shared state another client wrote, naming the markers.
const QByteArray theirSharedState =
    "{\"favorites\": [\"@@HV_SHARED@@\", \"theirs\"], \"hidden\": [\"@@HV_SHARED_TOO_LARGE@@\"]}\n";

void killOnHost(const QStringList& paths)
{
    for (const QString& path : paths)
        tmux({QStringLiteral("kill-session"), QStringLiteral("-t"), u'=' + tmuxSessionName(path)});
}

// Folders and favourites named as the listing's markers are names like any other: every tab
// stays open and the shared-state file stays byte for byte as the other client wrote it.
TEST(HostListing, NamesHoldingTheMarkersAreData)
{
    ASSERT_TRUE(test::tmuxInstalled());
    test::TempFolder root;
    test::EnvironmentOverride home("HOME", root.path());
    QStringList paths;
    for (const char* name : {"web", "api", "@@HV_SHARED@@"}) {
        paths << root.file(QStringLiteral("projets/") + QLatin1String(name));
        ASSERT_TRUE(QDir().mkpath(paths.back()));
    }
    ASSERT_TRUE(QDir().mkpath(root.file(QStringLiteral(".halvoren"))));
    const QString file = root.file(QStringLiteral(".halvoren/shared.json"));
    const QByteArray& theirs = theirSharedState;
    ASSERT_TRUE(test::writeAll(file, theirs));
    openOnHost(paths);

    Instance instance;
    instance.prefs.setProjectsRoots({root.file(QStringLiteral("projets"))});
    instance.prefs.setFavorites(MacConnection::localID, {QStringLiteral("mine")});
    QCoro::waitFor(instance.model.start());
    ASSERT_TRUE(instance.local().tmuxAvailable());
    QStringList expected;
    for (const QString& path : paths)
        expected << tmuxSessionName(path);
    EXPECT_EQ(instance.sessions(root.path()), expected);
    for (int poll = 0; poll < 2; ++poll) {
        instance.clock->advance(MacModel::reorderHoldOff);
        instance.sync();
        EXPECT_EQ(instance.sessions(root.path()), expected);
    }
    EXPECT_EQ(instance.local().favorites(), (QSet<QString>{QStringLiteral("@@HV_SHARED@@"), QStringLiteral("theirs")}));
    EXPECT_EQ(instance.local().hidden(), QSet<QString>{QStringLiteral("@@HV_SHARED_TOO_LARGE@@")});
    EXPECT_TRUE(test::readAll(file) == theirs) << test::readAll(file).toStdString();
    EXPECT_EQ(instance.local().failures, 0);

    // A file holding nothing but the size marker's text is no file over the size.
    ASSERT_TRUE(test::writeAll(file, "@@HV_SHARED_TOO_LARGE@@"));
    instance.model.setBanner(std::nullopt);
    instance.sync();
    EXPECT_FALSE(instance.local().sharedStateTooLarge);
    EXPECT_NE(instance.model.banner(), std::optional(sharedStateTooLargeMessage(HostKind::thisComputer)));
    EXPECT_EQ(instance.sessions(root.path()), expected);
    killOnHost(paths);
}

// The same on a server, through the loopback sshd.
TEST(HostListing, NamesHoldingTheMarkersAreDataOnAServer)
{
    test::SshHost host;
    ASSERT_TRUE(host.ready());
    ASSERT_TRUE(host.keepTmuxAtHome());
    QStringList paths;
    for (const char* name : {"web", "api", "@@HV_SHARED@@"}) {
        paths << host.project(QLatin1String(name));
        ASSERT_FALSE(paths.back().isEmpty());
    }
    // Written by the account itself, so that an upload could replace it.
    const QString staged = host.server.folder() + QStringLiteral("/theirs.json");
    ASSERT_TRUE(test::writeAll(staged, theirSharedState));
    {
        SSHLink link(host.profile);
        ASSERT_TRUE(QCoro::waitFor(link.fetchRemoteHome()));
        const ShellResult<QString> prepared = QCoro::waitFor(link.runScript(
            QStringLiteral("mkdir -p ~/.halvoren && cp ") + shellQuote(staged) + QStringLiteral(" ~/.halvoren/shared.json\n")
                + openTabsScript(paths),
            25));
        ASSERT_TRUE(prepared) << prepared.error().message.toStdString();
        QCoro::waitFor(link.closeMaster());
    }
    const QString file = host.remoteHome() + QStringLiteral("/.halvoren/shared.json");

    Instance instance;
    instance.model.setProfiles({host.profile});
    ASSERT_TRUE(QCoro::waitFor(instance.model.connect(host.profile)));
    MacConnection* connection = instance.model.connection(host.profile.id);
    ASSERT_NE(connection, nullptr);
    ASSERT_TRUE(QTest::qWaitFor([connection] { return !connection->syncing; }, 30000));
    const auto sessions = [&] {
        QStringList names;
        for (const MacTab* tab : instance.model.tabs()) {
            if (tab->connId == connection->id)
                names << tab->project.session;
        }
        return names;
    };
    QStringList expected;
    for (const QString& path : paths)
        expected << tmuxSessionName(path);
    EXPECT_EQ(sessions(), expected);
    for (int poll = 0; poll < 2; ++poll) {
        instance.clock->advance(MacModel::reorderHoldOff);
        QCoro::waitFor(instance.model.requestSync(*connection));
        EXPECT_EQ(sessions(), expected);
    }
    EXPECT_EQ(connection->favorites(), (QSet<QString>{QStringLiteral("@@HV_SHARED@@"), QStringLiteral("theirs")}));
    EXPECT_TRUE(test::readAll(file) == theirSharedState) << test::readAll(file).toStdString();
    EXPECT_EQ(connection->failures, 0);

    for (MacTab* tab : QList<MacTab*>(instance.model.tabs()))
        instance.model.removeTab(*tab);
    QCoro::waitFor(connection->link->runScript(QStringLiteral("tmux kill-server\n"), 25));
    QCoro::waitFor(instance.model.disconnect(*connection));
}

bool clientAttached(const QString& session)
{
    return !tmux({QStringLiteral("list-clients"), QStringLiteral("-t"), u'=' + session}).isEmpty();
}

// Opens the project in a tab and waits until it is tagged open and its client attached: from
// then on its start has written every tag, and writes none over those a test sets. Null when
// it does not get there.
MacTab* openAttached(Instance& instance, const MacProject& project)
{
    instance.model.openProject(project, instance.local());
    const bool ready =
        QTest::qWaitFor([&] { return tmuxOption(project.session, QStringLiteral("@hv_open")) == u'1'; }, 30000)
        && QTest::qWaitFor([&] { return clientAttached(project.session); }, 30000);
    if (!ready || instance.model.tabs().isEmpty() || instance.model.tabs().back()->project.session != project.session)
        return nullptr;
    return instance.model.tabs().back();
}

// Another client stores a path of 5,018 bytes on a tab open here: the tab stays open and
// attached, and its session stays tagged open for every client.
TEST(HostListing, ALongPathFromAnotherClientLeavesTheTabOpenAndTagged)
{
    ASSERT_TRUE(test::tmuxInstalled());
    test::TempFolder root;
    test::EnvironmentOverride home("HOME", root.path());
    const QString site = root.file(QStringLiteral("site"));
    ASSERT_TRUE(QDir().mkpath(site));
    Instance instance;
    QCoro::waitFor(instance.model.start());
    ASSERT_TRUE(instance.local().tmuxAvailable());
    const MacProject project{QStringLiteral("site"), site, tmuxSessionName(site)};
    MacTab* tab = openAttached(instance, project);
    ASSERT_NE(tab, nullptr);

    const QString longPath = QStringLiteral("/srv/") + QString(5013, u'p');
    ASSERT_EQ(longPath.toUtf8().size(), 5018);
    tmux({QStringLiteral("set"), QStringLiteral("-t"), u'=' + project.session + u':', QStringLiteral("@hv_path"), longPath});
    ASSERT_EQ(tmuxOption(project.session, QStringLiteral("@hv_path")), longPath);
    for (int poll = 0; poll < 2; ++poll) {
        instance.clock->advance(MacModel::reorderHoldOff);
        instance.sync();
    }
    EXPECT_EQ(tmuxOption(project.session, QStringLiteral("@hv_open")), QStringLiteral("1"));
    EXPECT_TRUE(instance.model.tabs().contains(tab));
    EXPECT_TRUE(tab->isLive());
    EXPECT_TRUE(clientAttached(project.session));
    EXPECT_EQ(tab->project.path, site);
    instance.model.closeTab(*tab);
    tmux({QStringLiteral("kill-session"), QStringLiteral("-t"), u'=' + project.session});
}

// Another client stores a path, or a name, of more than 64 KiB on a tab open here (through a
// file tmux reads: no command line takes such a value): the row cannot be read, but the tab
// stays open and attached, and the session stays tagged open for every client.
TEST(HostListing, AValueOver64KiBFromAnotherClientLeavesTheSessionOpen)
{
    ASSERT_TRUE(test::tmuxInstalled());
    test::TempFolder root;
    test::EnvironmentOverride home("HOME", root.path());
    const QString site = root.file(QStringLiteral("site"));
    ASSERT_TRUE(QDir().mkpath(site));
    Instance instance;
    QCoro::waitFor(instance.model.start());
    ASSERT_TRUE(instance.local().tmuxAvailable());
    const MacProject project{QStringLiteral("site"), site, tmuxSessionName(site)};
    MacTab* tab = openAttached(instance, project);
    ASSERT_NE(tab, nullptr);
    ASSERT_TRUE(tab->isLive());

    const QString huge = QStringLiteral("/srv/") + QString(maximumHostValueBytes + 10, u'p');
    const QString settings = root.file(QStringLiteral("long.conf"));
    for (const char* option : {"@hv_path", "@hv_name"}) {
        SCOPED_TRACE(option);
        ASSERT_TRUE(test::writeAll(settings, (QStringLiteral("set -t '=") + project.session + QStringLiteral(":' ")
                                              + QLatin1String(option) + QStringLiteral(" '") + huge + QStringLiteral("'\n"))
                                                 .toUtf8()));
        tmux({QStringLiteral("source-file"), settings});
        ASSERT_EQ(tmuxOption(project.session, QLatin1String(option)).size(), huge.size());
        for (int poll = 0; poll < 2; ++poll) {
            instance.clock->advance(MacModel::reorderHoldOff);
            instance.sync();
        }
        EXPECT_EQ(tmuxOption(project.session, QStringLiteral("@hv_open")), QStringLiteral("1"));
        EXPECT_TRUE(instance.model.tabs().contains(tab));
        EXPECT_TRUE(tab->isLive());
        EXPECT_EQ(tab->project.path, site);
        tmux({QStringLiteral("set"), QStringLiteral("-t"), u'=' + project.session + u':', QLatin1String(option),
              QLatin1String(option) == QLatin1String("@hv_path") ? site : project.name});
    }
    EXPECT_FALSE(instance.local().reportedProblems.isEmpty());
    instance.model.closeTab(*tab);
    tmux({QStringLiteral("kill-session"), QStringLiteral("-t"), u'=' + project.session});
}

} // namespace
} // namespace halvoren
