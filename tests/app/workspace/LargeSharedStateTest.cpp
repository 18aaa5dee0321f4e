// A shared-state file larger than the listing reads, on this computer through the private tmux
// server and on the loopback sshd: the connection stays reachable and the tab its host lists
// opens; a favourite or hide change leaves the file byte for byte as it was and the banner
// says why; the size is reported once, not at every poll; a file back within the size is
// adopted with those changes on top and written back, and replaced by the next change as any
// other. A file there but unreadable is left as it is in the same way. A file of many names
// adopted on a worker thread while a write of ours lands leaves the copy it read unknown, so
// that the next click is written rather than taken for what the host already holds.
#include "workspace/MacModel.h"

#include "app/support/SshHost.h"
#include "app/support/TempFolder.h"
#include "app/support/TmuxInstalled.h"
#include "app/support/WorkspaceModel.h"
#include "app/workspace/PrivateTmux.h"
#include "tab/MacTab.h"
#include "remote/ServerState.h"
#include "remote/SessionNaming.h"
#include "remote/SharedPrefs.h"
#include "remote/ShellQuote.h"
#include "remote/TabReconciliation.h"

#include <QDirIterator>
#include <QProcess>
#include <QTest>
#include <QTimer>

#include <gtest/gtest.h>

#include <coroutine>
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

// A host that answers at once and keeps its shared-state file, lists no tab, and holds an
// upload of the file (before writing it) while told to, as a slow link does.
struct HeldUploadsHost {
    QString shared;
    QStringList uploads;
    bool holding = false;
    std::coroutine_handle<> held;

    struct Hold {
        HeldUploadsHost& host;
        bool await_ready() const noexcept { return !host.holding; }
        void await_suspend(std::coroutine_handle<> waiting) noexcept { host.held = waiting; }
        void await_resume() const noexcept {}
    };

    // Lets the held upload go on: it has landed, and its writer taken the answer, on return.
    void release()
    {
        holding = false;
        if (held)
            std::exchange(held, {}).resume();
    }
    Task<ShellResult<QString>> answer(QString script)
    {
        if (script == listingScript()) {
            co_return QStringLiteral("\n@@HV_SHARED@@\n@@HV_SUM@@ ") + test::fakeSum(shared.toUtf8()) + u'\n' + shared;
        }
        if (script.contains(QStringLiteral("shared.json"))) {
            uploads << script;
            co_await Hold{*this};
            if (const std::optional<QByteArray> bytes = test::uploadedBytes(script))
                shared = QString::fromUtf8(*bytes);
        }
        co_return test::ranToItsEnd(script);
    }
};

// A file of twenty thousand names, read and adopted on worker threads. A favourite starred
// here goes up, and its upload lands while the next listing's adoption runs on its worker:
// that listing read the file before the upload, so the copy it leaves is not known to be the
// host's, and unstarring the favourite is written, the file ending as the user left it. Taken
// for the host's, the copy would equal the sets after the click, and the click would be
// dropped, the host keeping the star.
TEST(LargeSharedState, AWriteThatLandsWhileManyNamesAreAdoptedLeavesTheCopyUnknown)
{
    NameSet names;
    for (int i = 0; i < 20000; ++i)
        names.insert(QStringLiteral("p%1").arg(i));
    HeldUploadsHost host;
    host.shared = encodeSharedPrefs(names, {});
    ASSERT_GT(host.shared.size(), 64 * 1024) << "the listing is read on a worker thread";
    test::SyncingModel instance;
    MacModel& model = instance.model;
    model.listingNonce = [] { return QString(); };
    model.runScript = [&host](MacConnection&, QString script, double) { return host.answer(std::move(script)); };
    MacConnection& local = instance.local();
    // An upload still held when the test stops early ends before the model goes.
    const struct Release {
        HeldUploadsHost& host;
        ~Release() { host.release(); }
    } releaseAtEnd{host};
    instance.sync();
    ASSERT_TRUE(local.sharedStateRead);
    ASSERT_EQ(local.favorites().size(), qsizetype(names.size()));

    host.holding = true;
    model.toggleFavorite(QStringLiteral("x"), local);
    ASSERT_EQ(host.uploads.size(), 1);
    bool released = false;
    bool adoptionWaited = false;
    QTimer during;
    during.setInterval(0);
    QObject::connect(&during, &QTimer::timeout, [&] {
        if (released || !local.syncing || local.sharedStateRead)
            return;
        released = true;
        host.release();
        adoptionWaited = !local.sharedStateRead;
    });
    during.start();
    instance.sync();
    during.stop();
    ASSERT_TRUE(released) << "the upload was never let go while the adoption ran on its worker";
    ASSERT_TRUE(adoptionWaited) << "the adoption ended before the upload landed";
    EXPECT_FALSE(local.sharedWriting);
    EXPECT_FALSE(local.sharedRawKnown) << "the copy read before the upload landed is taken for the host's";
    EXPECT_TRUE(local.favorites().contains(QStringLiteral("x")));

    model.toggleFavorite(QStringLiteral("x"), local);
    EXPECT_TRUE(QTest::qWaitFor([&] { return !local.sharedWriting; }, 30000));
    EXPECT_EQ(host.uploads.size(), 2) << "the click was not written";
    EXPECT_TRUE(host.shared == encodeSharedPrefs(names, {})) << "the host keeps the star";
    EXPECT_EQ(local.favorites(), QSet<QString>(names.cbegin(), names.cend()));
}

} // namespace
} // namespace halvoren
