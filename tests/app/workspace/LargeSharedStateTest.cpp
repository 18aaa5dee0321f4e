// A shared-state file larger than the listing reads, on this computer through the private tmux
// server and on the loopback sshd: the connection stays reachable and the tab its host lists
// opens; a favourite or hide change leaves the file byte for byte as it was and the banner
// says why; the size is reported once, not at every poll; a file back within the size is
// adopted with those changes on top and written back, and replaced by the next change as any
// other. A file there but unreadable is left as it is in the same way.
#include "workspace/MacModel.h"

#include "app/support/SshHost.h"
#include "app/support/TempFolder.h"
#include "app/support/TmuxInstalled.h"
#include "app/support/WorkspaceModel.h"
#include "app/workspace/PrivateTmux.h"
#include "tab/MacTab.h"
#include "remote/SessionNaming.h"
#include "remote/ShellQuote.h"
#include "remote/TabReconciliation.h"

#include <QDirIterator>
#include <QProcess>
#include <QTest>

#include <gtest/gtest.h>

#include <functional>

namespace halvoren {
namespace {

// 120,000 favourites, about 1.2 MB.
QByteArray largeSharedState()
{
    NameSet favorites;
    for (int i = 0; i < 120000; ++i)
        favorites.insert(QStringLiteral("p%1").arg(i, 6, 10, QLatin1Char('0')));
    return encodeSharedPrefs(favorites, {}).toUtf8();
}

// Creates the folder's session and tags it as an open tab of a synchronised host.
QString openTabScript(const QString& path)
{
    return tmuxSessionScript(tmuxSessionName(path), path.section(u'/', -1), path, 1)
         + QStringLiteral("tmux set -g @hv_sync 1\ntrue\n");
}

QStringList sessionsOf(const MacModel& model, const MacConnection& connection)
{
    QStringList sessions;
    for (const MacTab* tab : model.tabs()) {
        if (tab->connId == connection.id)
            sessions << tab->project.session;
    }
    return sessions;
}

using Instance = test::SyncingModel;

// What both hosts must show, from the first listing on: the host lists the tab of the folder
// `name` as open, and `path` is its shared-state file as this computer reads it.
void checkLargeSharedState(Instance& instance, MacConnection& connection, const QString& session, const QString& name,
                           const QString& path)
{
    const auto file = [&path] { return test::readAll(path); };
    const QByteArray large = file();
    ASSERT_GT(large.size(), maximumSharedStateBytes);
    const QSet<QString> mine{QStringLiteral("mine")};
    EXPECT_FALSE(connection.unreachable());
    EXPECT_EQ(connection.failures, 0);
    EXPECT_EQ(sessionsOf(instance.model, connection), QStringList{session});
    EXPECT_EQ(instance.model.banner(), sharedStateTooLargeMessage(connection.link ? HostKind::server : HostKind::thisComputer));
    EXPECT_EQ(connection.favorites(), mine);

    // Polls say nothing more and keep the connection reachable.
    instance.model.setBanner(std::nullopt);
    instance.sync(connection);
    instance.sync(connection);
    EXPECT_FALSE(instance.model.banner().has_value());
    EXPECT_FALSE(connection.unreachable());

    const int writes = connection.writeEpoch;
    instance.model.toggleFavorite(name, connection);
    EXPECT_EQ(instance.model.banner(), MacModel::sharedStateKeptHereMessage());
    instance.model.toggleHidden(QStringLiteral("other"), true, connection);
    instance.sync(connection);
    EXPECT_EQ(connection.writeEpoch, writes) << "nothing was written to the host";
    EXPECT_TRUE(file() == large) << "the host's file was replaced";
    EXPECT_EQ(connection.favorites(), (QSet<QString>{QStringLiteral("mine"), name}));
    EXPECT_EQ(instance.prefs.favorites(connection.id), connection.favorites());
    EXPECT_EQ(instance.prefs.hidden(connection.id), QSet<QString>{QStringLiteral("other")});
    EXPECT_EQ(sessionsOf(instance.model, connection), QStringList{session});

    // Back within the size: adopted with the changes kept here on top, as the banner said,
    // and written back; then replaced by a change as any other.
    ASSERT_TRUE(test::writeAll(path, "{\"favorites\":[\"theirs\"],\"hidden\":[]}"));
    instance.sync(connection);
    EXPECT_EQ(connection.favorites(), (QSet<QString>{name, QStringLiteral("theirs")}));
    EXPECT_EQ(connection.hidden(), QSet<QString>{QStringLiteral("other")});
    const QByteArray merged = encodeSharedPrefs({name, QStringLiteral("theirs")}, {QStringLiteral("other")}).toUtf8();
    EXPECT_TRUE(QTest::qWaitFor([&] { return file() == merged; }, 30000)) << file().left(200).toStdString();
    instance.model.toggleFavorite(name, connection);
    const QByteArray expected = encodeSharedPrefs({QStringLiteral("theirs")}, {QStringLiteral("other")}).toUtf8();
    EXPECT_TRUE(QTest::qWaitFor([&] { return file() == expected; }, 30000)) << file().left(200).toStdString();
    // The upload's run is over: it raises the count as it starts and again as it ends.
    EXPECT_TRUE(QTest::qWaitFor([&connection] { return connection.writeEpoch % 2 == 0; }, 30000));
}

TEST(LargeSharedState, ThisComputerKeepsItsTabsAndNeverReplacesTheFile)
{
    ASSERT_TRUE(test::tmuxInstalled());
    test::TempFolder root;
    test::EnvironmentOverride home("HOME", root.path());
    const QString projects = root.file(QStringLiteral("projets"));
    const QString site = projects + QStringLiteral("/site");
    ASSERT_TRUE(QDir().mkpath(site));
    ASSERT_TRUE(QDir().mkpath(root.file(QStringLiteral(".halvoren"))));
    const QString path = root.file(QStringLiteral(".halvoren/shared.json"));
    ASSERT_TRUE(test::writeAll(path, largeSharedState()));
    ASSERT_EQ(QProcess::execute(QStringLiteral("/bin/sh"), {QStringLiteral("-c"), openTabScript(site)}), 0);

    Instance instance;
    instance.prefs.setProjectsRoots({projects});
    instance.prefs.setFavorites(MacConnection::localID, {QStringLiteral("mine")});
    QCoro::waitFor(instance.model.start());
    MacConnection& local = *instance.model.localConnection();
    ASSERT_TRUE(local.tmuxAvailable());
    checkLargeSharedState(instance, local, tmuxSessionName(site), QStringLiteral("site"), path);
    QProcess::execute(QStringLiteral("tmux"),
                      {QStringLiteral("kill-session"), QStringLiteral("-t"), u'=' + tmuxSessionName(site)});
}

// What both hosts show of a shared-state file there but unreadable: one message, then a
// change kept here and said so, the connection reachable throughout.
void checkUnreadableSharedState(Instance& instance, MacConnection& connection)
{
    EXPECT_EQ(instance.model.banner(), sharedStateUnreadableMessage(connection.link ? HostKind::server : HostKind::thisComputer));
    instance.model.setBanner(std::nullopt);
    instance.sync(connection);
    EXPECT_FALSE(instance.model.banner().has_value()) << "reported once";
    instance.model.toggleFavorite(QStringLiteral("web"), connection);
    EXPECT_EQ(instance.model.banner(), MacModel::sharedStateKeptHereMessage(true));
    instance.sync(connection);
    EXPECT_FALSE(connection.unreachable());
}

// Every entry below `folder`, with the content of the files.
QStringList treeOf(const QString& folder)
{
    QStringList entries;
    QDirIterator it(folder, QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot,
                    QDirIterator::Subdirectories);
    while (it.hasNext()) {
        const QString entry = it.next();
        entries << entry + u'=' + QString::fromUtf8(test::readAll(entry));
    }
    entries.sort();
    return entries;
}

TEST(LargeSharedState, AnUnreadableFileStaysAsItIsWithOneMessage)
{
    ASSERT_TRUE(test::tmuxInstalled());
    test::TempFolder root;
    test::EnvironmentOverride home("HOME", root.path());
    const QString folder = root.file(QStringLiteral(".halvoren"));
    const QString path = folder + QStringLiteral("/shared.json");
    const struct {
        const char* description;
        std::function<bool()> make;
    } cases[] = {
        {"invalid JSON", [&] { return test::writeAll(path, "{\"favorites\":[\"keepme\",\"mine\","); }},
        {"a folder", [&] { return QDir().mkpath(path) && test::writeAll(path + QStringLiteral("/notes"), "kept"); }},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.description);
        QDir(folder).removeRecursively();
        ASSERT_TRUE(QDir().mkpath(folder) && c.make());
        const QStringList before = treeOf(folder);

        Instance instance;
        instance.prefs.setFavorites(MacConnection::localID, {QStringLiteral("mine")});
        QCoro::waitFor(instance.model.start());
        checkUnreadableSharedState(instance, *instance.model.localConnection());
        EXPECT_EQ(treeOf(folder), before);
    }
}

// The same over ssh, for a folder in the file's place, made and looked at by the account.
TEST(LargeSharedState, AServersFolderInPlaceOfTheFileStaysWithOneMessage)
{
    test::SshHost host;
    ASSERT_TRUE(host.ready());
    ASSERT_TRUE(host.keepTmuxAtHome());
    const MacProfile& profile = host.profile;
    const QString look = QStringLiteral("find ~/.halvoren | LC_ALL=C sort; cat ~/.halvoren/shared.json/notes\n");
    QString before;
    {
        SSHLink link(profile);
        ASSERT_TRUE(QCoro::waitFor(link.fetchRemoteHome()));
        const ShellResult<QString> made = QCoro::waitFor(link.runScript(
            QStringLiteral("mkdir -p ~/.halvoren/shared.json && echo kept > ~/.halvoren/shared.json/notes\n") + look, 25));
        ASSERT_TRUE(made) << made.error().message.toStdString();
        before = made.value();
        QCoro::waitFor(link.closeMaster());
    }
    ASSERT_TRUE(before.contains(QStringLiteral("kept"))) << before.toStdString();

    Instance instance;
    instance.model.setProfiles({profile});
    ASSERT_TRUE(QCoro::waitFor(instance.model.connect(profile)));
    MacConnection* connection = instance.model.connection(profile.id);
    ASSERT_NE(connection, nullptr);
    checkUnreadableSharedState(instance, *connection);
    const ShellResult<QString> after = QCoro::waitFor(connection->link->runScript(look, 25));
    ASSERT_TRUE(after);
    EXPECT_EQ(after.value(), before);
    QCoro::waitFor(connection->link->runScript(QStringLiteral("tmux kill-server\n"), 25));
    QCoro::waitFor(instance.model.disconnect(*connection));
}

TEST(LargeSharedState, AServerKeepsItsTabsAndNeverReplacesTheFile)
{
    test::SshHost host;
    ASSERT_TRUE(host.ready());

    // The account keeps its tmux server below the run's home. The file is copied there by the
    // account itself, so that an upload could replace it.
    ASSERT_TRUE(host.keepTmuxAtHome());
    const QString site = host.project(QStringLiteral("site"));
    ASSERT_FALSE(site.isEmpty());
    const QString staged = host.server.folder() + QStringLiteral("/large.json");
    ASSERT_TRUE(test::writeAll(staged, largeSharedState()));
    const MacProfile& profile = host.profile;
    {
        SSHLink link(profile);
        ASSERT_TRUE(QCoro::waitFor(link.fetchRemoteHome()));
        const ShellResult<QString> prepared = QCoro::waitFor(link.runScript(
            QStringLiteral("mkdir -p ~/.halvoren && cp ") + shellQuote(staged) + QStringLiteral(" ~/.halvoren/shared.json\n")
                + openTabScript(site),
            25));
        ASSERT_TRUE(prepared) << prepared.error().message.toStdString();
        QCoro::waitFor(link.closeMaster());
    }
    const QString path = host.remoteHome() + QStringLiteral("/.halvoren/shared.json");

    Instance instance;
    instance.prefs.setFavorites(profile.id, {QStringLiteral("mine")});
    instance.model.setProfiles({profile});
    ASSERT_TRUE(QCoro::waitFor(instance.model.connect(profile)));
    MacConnection* connection = instance.model.connection(profile.id);
    ASSERT_NE(connection, nullptr);
    ASSERT_TRUE(connection->tmuxAvailable());
    checkLargeSharedState(instance, *connection, tmuxSessionName(site), QStringLiteral("site"), path);

    for (MacTab* tab : QList<MacTab*>(instance.model.tabs()))
        instance.model.removeTab(*tab);
    QCoro::waitFor(connection->link->runScript(QStringLiteral("tmux kill-server\n"), 25));
    QCoro::waitFor(instance.model.disconnect(*connection));
}

} // namespace
} // namespace halvoren
