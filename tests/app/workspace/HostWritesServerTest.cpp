// Writes to a server of the loopback sshd that do not reach it: a favourite and a hidden name
// made while the account cannot write its ~/.halvoren stay, and reach the file once it can;
// while ssh fails, a close and a new order are sent again once it answers, a close the phone
// changed meanwhile gives way, and a session's end is never sent again, and told when the
// server still runs it. A close kept across a restart or a disconnect goes once the server
// answers, but never closes a session the phone made again under the same name, be it a tab
// no listing had shown here yet. An account that logs in to mksh, on a server whose /bin/sh is
// mksh, gets a file of more than 128 KiB of Base64 whole.
#include "workspace/MacModel.h"

#include "app/support/ScriptShell.h"
#include "app/support/SharedStateNames.h"
#include "app/support/SshHost.h"
#include "app/support/WorkspaceModel.h"
#include "platform/Notifier.h"
#include "remote/SessionNaming.h"
#include "remote/SharedPrefs.h"
#include "remote/TmuxCommands.h"
#include "tab/MacTab.h"

#include <QDir>
#include <QFile>
#include <QDBusConnection>
#include <QStandardPaths>
#include <QTest>

#include <gtest/gtest.h>

#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

namespace halvoren {
namespace {

// Puts in ssh's place a wrapper that fails, as with the network gone, while the gate file is
// there and its arguments hold `only` (every run when it is empty). A gate file that is not
// empty makes it fail a second later, as a link that drops while a write runs.
bool useGatedSsh(const test::SshHost& host, const QString& gate, const QString& only = QString())
{
    const QString client = host.localHome.file(QStringLiteral("gated-ssh"));
    if (!test::writeAll(client, QStringLiteral("#!/bin/sh\nif [ -e '%1' ]; then case \"$*\" in *'%2'*) if [ -s '%1' ]; then "
                                               "sleep 1; fi; echo 'ssh: connect to host 127.0.0.1: Network is unreachable' "
                                               ">&2; exit 255;; esac; fi\nexec '%3' \"$@\"\n")
                                    .arg(gate, only, host.server.keyClient())
                                    .toUtf8())
        || ::chmod(QFile::encodeName(client).constData(), 0755) != 0)
        return false;
    SSHLink::setProgramForTests(client);
    return true;
}

TEST(HostWritesServer, ChangesThatDidNotReachTheServerAreKeptSentAgainOrTold)
{
    test::SshHost host;
    ASSERT_TRUE(host.ready());
    ASSERT_TRUE(host.keepTmuxAtHome());
    const QStringList names{QStringLiteral("a"), QStringLiteral("b"), QStringLiteral("c"), QStringLiteral("d")};
    QStringList paths;
    for (const QString& name : names) {
        paths << host.project(name);
        ASSERT_FALSE(paths.last().isEmpty());
    }
    // ssh that fails while the gate file is there, as with the network gone.
    const QString gate = host.localHome.file(QStringLiteral("gate"));
    ASSERT_TRUE(useGatedSsh(host, gate));
    const auto gated = [&gate](bool on) {
        if (on)
            return test::writeAll(gate, "");
        return QFile::remove(gate);
    };

    PreferenceStore store(host.localHome.file(QStringLiteral("preferences.json")));
    Prefs prefs(store);
    QList<PersistedTab> saved;
    for (const QString& path : std::as_const(paths))
        saved << PersistedTab{path.section(u'/', -1), path, tmuxSessionName(path)};
    prefs.setTabs(host.profile.id, saved);
    Notifier notifier{QDBusConnection(QStringLiteral("no-bus"))};
    MacModel model{prefs, nullptr, &notifier};
    model.isFrontmost = [] { return false; };
    model.setProfiles({host.profile});
    ASSERT_TRUE(QCoro::waitFor(model.connect(host.profile)));
    MacConnection& connection = *model.connection(host.profile.id);
    const auto sync = [&] {
        QCoro::waitFor(model.requestSync(connection));
        return QTest::qWaitFor([&] { return !connection.syncing && Shell::runsInFlight() == 0; }, 60000);
    };
    ASSERT_TRUE(sync());
    ASSERT_EQ(model.tabs().size(), 4);
    const auto banners = [&model] {
        QStringList all = model.waitingBanners();
        if (model.banner())
            all.prepend(*model.banner());
        return all;
    };
    const auto onServer = [&](const QString& script) {
        const ShellResult<QString> output = QCoro::waitFor(connection.link->runScript(script, 25));
        return output ? output.value().trimmed() : QStringLiteral("(failed)");
    };
    const auto option = [&](const QString& path, const char* name) {
        return onServer(QStringLiteral("tmux show-options -qv -t ") + tmuxOptionTarget(tmuxSessionName(path)) + u' '
                        + QLatin1String(name) + u'\n');
    };
    const auto tabPaths = [&model] {
        QStringList list;
        for (const MacTab* tab : model.tabs())
            list << tab->project.path;
        return list;
    };

    // The account may not write its ~/.halvoren: the changes stay, said once, and land once
    // it may.
    const QString folder = host.remoteHome() + QStringLiteral("/.halvoren");
    ASSERT_EQ(::chmod(QFile::encodeName(folder).constData(), 0555), 0);
    model.clearBanners();
    model.toggleFavorite(QStringLiteral("a"), connection);
    model.toggleHidden(QStringLiteral("b"), true, connection);
    ASSERT_TRUE(sync());
    ASSERT_TRUE(sync());
    EXPECT_TRUE(connection.favorites().contains(QStringLiteral("a")));
    EXPECT_TRUE(connection.hidden().contains(QStringLiteral("b")));
    const QStringList shown = banners();
    ASSERT_EQ(shown.size(), 1) << shown.join(u'\n').toStdString();
    EXPECT_TRUE(shown.front().contains(QStringLiteral("Permission denied"))) << shown.front().toStdString();
    EXPECT_FALSE(parseSharedPrefs(QString::fromUtf8(test::readAll(folder + QStringLiteral("/shared.json"))))
                     ->favorites.count(QStringLiteral("a")));
    ASSERT_EQ(::chmod(QFile::encodeName(folder).constData(), 0755), 0);
    ASSERT_TRUE(sync());
    const std::optional<SharedPrefs> file = parseSharedPrefs(QString::fromUtf8(test::readAll(folder + QStringLiteral("/shared.json"))));
    ASSERT_TRUE(file);
    EXPECT_EQ(file->favorites, NameSet{QStringLiteral("a")});
    EXPECT_EQ(file->hidden, NameSet{QStringLiteral("b")});

    // ssh fails: a close, a new order and a session's end do not reach the server.
    model.clearBanners();
    ASSERT_TRUE(gated(true));
    model.closeTab(*model.tabs().at(0));
    model.moveTabs({2}, 0);
    QCoro::waitFor(model.killSession(tmuxSessionName(paths.at(2)), connection));
    EXPECT_TRUE(banners().isEmpty()) << banners().join(u'\n').toStdString();
    ASSERT_TRUE(sync());
    ASSERT_TRUE(sync());
    EXPECT_TRUE(connection.unreachable());
    ASSERT_TRUE(gated(false));
    model.clearBanners();
    ASSERT_TRUE(sync());
    ASSERT_TRUE(sync());
    EXPECT_FALSE(connection.unreachable());
    // The close and the order went again; the session's end did not: it runs, as the banner
    // says, and its tab is back, after the others.
    EXPECT_EQ(option(paths.at(0), "@hv_open"), QString());
    EXPECT_EQ(option(paths.at(3), "@hv_order") + option(paths.at(1), "@hv_order"), QStringLiteral("12"));
    EXPECT_EQ(option(paths.at(2), "@hv_open"), QStringLiteral("1"));
    EXPECT_EQ(tabPaths(), (QStringList{paths.at(3), paths.at(1), paths.at(2)}));
    EXPECT_EQ(banners(), QStringList{MacModel::sessionStillRunsMessage(connection, QStringLiteral("c"))});

    // A close whose tab the phone renamed meanwhile gives way: the tab opens again, and the
    // banner says the close was not made.
    ASSERT_TRUE(gated(true));
    model.clearBanners();
    model.closeTab(*model.tabs().at(1));
    ASSERT_TRUE(QTest::qWaitFor([] { return Shell::runsInFlight() == 0; }, 30000));
    ASSERT_TRUE(gated(false));
    onServer(QStringLiteral("tmux set -t ") + tmuxOptionTarget(tmuxSessionName(paths.at(1))) + QStringLiteral(" @hv_name phone\n"));
    ASSERT_TRUE(sync());
    EXPECT_EQ(option(paths.at(1), "@hv_open"), QStringLiteral("1"));
    EXPECT_TRUE(tabPaths().contains(paths.at(1)));
    EXPECT_EQ(banners(), QStringList{MacModel::closeNotMadeMessage(connection, QStringLiteral("phone"))});

    onServer(QStringLiteral("tmux kill-server\n"));
    for (MacTab* tab : model.tabs())
        tab->stop();
    QCoro::waitFor(model.disconnect(connection));
}

// Two clients of one server: this computer, whose link drops, and the phone (a second model,
// reaching the server by another name). What the phone changed is never undone by a change
// made here, whether this computer's last listing failed or is merely a few seconds old: the
// file ends with both clients' changes, and neither side shows a banner.
TEST(HostWritesServer, TwoClientsChangesBothStayInTheFile)
{
    test::SshHost host;
    ASSERT_TRUE(host.ready());
    ASSERT_TRUE(host.keepTmuxAtHome());
    const QString folder = host.remoteHome() + QStringLiteral("/.halvoren");
    const QString path = folder + QStringLiteral("/shared.json");
    ASSERT_TRUE(QDir().mkpath(folder));
    ASSERT_TRUE(test::writeAll(path, "{\"favorites\":[\"m\",\"u\",\"x\"],\"hidden\":[],\"version\":1}"));
    // The account's own, as if it had written them.
    const passwd* account = ::getpwnam(host.profile.username.toUtf8().constData());
    ASSERT_NE(account, nullptr);
    for (const QString& made : {folder, path})
        ASSERT_EQ(::chown(QFile::encodeName(made).constData(), account->pw_uid, account->pw_gid), 0);
    // This computer's ssh fails while the gate file is there; the phone's never does.
    const QString gate = host.localHome.file(QStringLiteral("gate"));
    const MacProfile& here = host.profile;
    ASSERT_TRUE(useGatedSsh(host, gate, SSHLink(here).controlPath()));
    MacProfile phoneProfile = here;
    phoneProfile.id = QStringLiteral("phone");
    phoneProfile.host = QStringLiteral("localhost");

    struct Client {
        explicit Client(const QString& file) : store(file) {}
        PreferenceStore store;
        Prefs prefs{store};
        Notifier notifier{QDBusConnection(QStringLiteral("no-bus"))};
        MacModel model{prefs, nullptr, &notifier};
        MacConnection* connection = nullptr;
        bool connect(const MacProfile& profile)
        {
            model.isFrontmost = [] { return false; };
            model.setProfiles({profile});
            if (!QCoro::waitFor(model.connect(profile)))
                return false;
            connection = model.connection(profile.id);
            return connection != nullptr && settle();
        }
        // Every listing and write asked for so far, done.
        bool settle()
        {
            return QTest::qWaitFor([this] { return !connection->syncing && !connection->sharedWriting && Shell::runsInFlight() == 0; },
                                   60000);
        }
        bool sync()
        {
            QCoro::waitFor(model.requestSync(*connection));
            return settle();
        }
        QStringList banners() const
        {
            QStringList all = model.waitingBanners();
            if (model.banner())
                all.prepend(*model.banner());
            return all;
        }
    };
    Client computer(host.localHome.file(QStringLiteral("computer.json")));
    Client phone(host.localHome.file(QStringLiteral("phone.json")));
    ASSERT_TRUE(computer.connect(here));
    ASSERT_TRUE(phone.connect(phoneProfile));
    const auto file = [&path] {
        const std::optional<SharedPrefs> read = parseSharedPrefs(QString::fromUtf8(test::readAll(path)));
        return read.value_or(SharedPrefs{{QStringLiteral("(unreadable)")}, {}});
    };
    const auto set = [](std::initializer_list<const char*> names) {
        NameSet built;
        for (const char* name : names)
            built.insert(QString::fromUtf8(name));
        return built;
    };
    ASSERT_EQ(computer.connection->favorites(), (QSet<QString>{QStringLiteral("m"), QStringLiteral("u"), QStringLiteral("x")}));

    // This computer's link is down; meanwhile the phone takes x out and puts y in. The link
    // comes back and, before any listing here, the user stars z.
    ASSERT_TRUE(test::writeAll(gate, ""));
    ASSERT_TRUE(computer.sync());
    ASSERT_TRUE(computer.sync());
    EXPECT_TRUE(computer.connection->unreachable());
    phone.model.toggleFavorite(QStringLiteral("x"), *phone.connection);
    phone.model.toggleFavorite(QStringLiteral("y"), *phone.connection);
    ASSERT_TRUE(phone.settle());
    EXPECT_EQ(file().favorites, set({"m", "u", "y"}));
    ASSERT_TRUE(QFile::remove(gate));
    computer.model.toggleFavorite(QStringLiteral("z"), *computer.connection);
    ASSERT_TRUE(computer.settle());
    EXPECT_EQ(file().favorites, set({"m", "u", "y", "z"}));
    EXPECT_EQ(computer.connection->favorites(),
              (QSet<QString>{QStringLiteral("m"), QStringLiteral("u"), QStringLiteral("y"), QStringLiteral("z")}));
    EXPECT_TRUE(computer.connection->pendingFavorites.isEmpty());
    ASSERT_TRUE(phone.sync());
    EXPECT_EQ(phone.connection->favorites(), computer.connection->favorites());

    // No outage: this computer lists; then the phone takes u out and puts w in; then, on that
    // listing, the user hides v here.
    ASSERT_TRUE(computer.sync());
    phone.model.toggleFavorite(QStringLiteral("u"), *phone.connection);
    phone.model.toggleFavorite(QStringLiteral("w"), *phone.connection);
    ASSERT_TRUE(phone.settle());
    computer.model.toggleHidden(QStringLiteral("v"), true, *computer.connection);
    ASSERT_TRUE(computer.settle());
    EXPECT_EQ(file().favorites, set({"m", "w", "y", "z"}));
    EXPECT_EQ(file().hidden, set({"v"}));
    ASSERT_TRUE(phone.sync());
    EXPECT_EQ(phone.connection->hidden(), QSet<QString>{QStringLiteral("v")});
    EXPECT_EQ(phone.connection->favorites(), computer.connection->favorites());

    EXPECT_TRUE(computer.banners().isEmpty()) << computer.banners().join(u'\n').toStdString();
    EXPECT_TRUE(phone.banners().isEmpty()) << phone.banners().join(u'\n').toStdString();
    QCoro::waitFor(computer.connection->link->runScript(QStringLiteral("tmux kill-server\n"), 25));
    QCoro::waitFor(computer.model.disconnect(*computer.connection));
    QCoro::waitFor(phone.model.disconnect(*phone.connection));
}

// Two clients of one server: this computer, whose ssh fails while the gate file is there, and
// the phone, whose ssh never does.
TEST(HostWritesServer, AKeptCloseOutlivesARestartAndADisconnectButNotTheSessionMadeAgain)
{
    test::SshHost host;
    ASSERT_TRUE(host.ready());
    ASSERT_TRUE(host.keepTmuxAtHome());
    const QStringList names{QStringLiteral("a"), QStringLiteral("b"), QStringLiteral("c")};
    QStringList paths;
    for (const QString& name : names) {
        paths << host.project(name);
        ASSERT_FALSE(paths.last().isEmpty());
    }
    const auto sessionOf = [&paths](int k) { return tmuxSessionName(paths.at(k)); };
    const QString gate = host.localHome.file(QStringLiteral("gate"));
    // Only this computer's connection goes through its own control socket.
    ASSERT_TRUE(useGatedSsh(host, gate, SSHLink(host.profile).controlPath()));
    const auto gated = [&gate](bool on) { return on ? test::writeAll(gate, "") : QFile::remove(gate); };

    PreferenceStore store(host.localHome.file(QStringLiteral("preferences.json")));
    Prefs prefs(store);
    QList<PersistedTab> saved;
    for (const QString& path : std::as_const(paths))
        saved << PersistedTab{path.section(u'/', -1), path, tmuxSessionName(path)};
    prefs.setTabs(host.profile.id, saved);
    Notifier notifier{QDBusConnection(QStringLiteral("no-bus"))};
    const auto sync = [](MacModel& model, MacConnection& connection) {
        QCoro::waitFor(model.requestSync(connection));
        return QTest::qWaitFor([&] { return !connection.syncing && Shell::runsInFlight() == 0; }, 60000);
    };
    const auto banners = [](const MacModel& model) {
        QStringList all = model.waitingBanners();
        if (model.banner())
            all.prepend(*model.banner());
        return all;
    };
    const auto tabPaths = [](const MacModel& model) {
        QStringList list;
        for (const MacTab* tab : model.tabs())
            list << tab->project.path;
        return list;
    };
    const auto tabOf = [](const MacModel& model, const QString& path) -> MacTab& {
        for (MacTab* tab : model.tabs()) {
            if (tab->project.path == path)
                return *tab;
        }
        ADD_FAILURE() << "no tab of " << path.toStdString();
        return *model.tabs().front();
    };
    const auto stopAll = [](MacModel& model) {
        for (MacTab* tab : model.tabs())
            tab->stop();
    };

    auto computer = std::make_unique<MacModel>(prefs, nullptr, &notifier);
    computer->isFrontmost = [] { return false; };
    computer->setProfiles({host.profile});
    ASSERT_TRUE(QCoro::waitFor(computer->connect(host.profile)));
    ASSERT_EQ(tabPaths(*computer), paths);

    PreferenceStore phoneStore(host.localHome.file(QStringLiteral("phone.json")));
    Prefs phonePrefs(phoneStore);
    MacModel phone{phonePrefs, nullptr, &notifier};
    phone.isFrontmost = [] { return false; };
    MacProfile phoneProfile = host.profile;
    phoneProfile.id = QStringLiteral("phone");
    phone.setProfiles({phoneProfile});
    ASSERT_TRUE(QCoro::waitFor(phone.connect(phoneProfile)));
    MacConnection& phoneConnection = *phone.connection(phoneProfile.id);
    ASSERT_TRUE(sync(phone, phoneConnection));
    ASSERT_EQ(tabPaths(phone), paths);
    const auto onServer = [&](const QString& script) {
        const ShellResult<QString> output = QCoro::waitFor(phoneConnection.link->runScript(script, 25));
        return output ? output.value().trimmed() : QStringLiteral("(failed)");
    };
    const auto showOf = [&](const QString& session, const char* format) {
        return onServer(QStringLiteral("tmux display-message -p -t ") + tmuxOptionTarget(session) + QStringLiteral(" '")
                        + QLatin1String(format) + QStringLiteral("' 2>/dev/null\n"));
    };
    const auto show = [&](int k, const char* format) { return showOf(sessionOf(k), format); };

    // This computer closes c while its link is down; the phone kills c and opens it again, in
    // the same slot under the same name, a second later at least. The close gives way.
    ASSERT_TRUE(gated(true));
    computer->closeTab(tabOf(*computer, paths.at(2)));
    ASSERT_TRUE(QTest::qWaitFor([] { return Shell::runsInFlight() == 0; }, 30000));
    ASSERT_EQ(prefs.unsentTabChanges(host.profile.id).closes.size(), 1);
    const QString createdBefore = show(2, "#{session_created}");
    QTest::qWait(1100);
    QCoro::waitFor(phone.killSession(sessionOf(2), phoneConnection));
    phone.openProject(MacProject{names.at(2), paths.at(2), sessionOf(2)}, phoneConnection);
    ASSERT_TRUE(QTest::qWaitFor([&] { return show(2, "#{@hv_open}|#{@hv_order}") == QStringLiteral("1|3"); }, 30000))
        << show(2, "#{@hv_open}|#{@hv_order}").toStdString();
    ASSERT_NE(show(2, "#{session_created}"), createdBefore);
    ASSERT_TRUE(gated(false));
    MacConnection* connection = computer->connection(host.profile.id);
    ASSERT_TRUE(sync(*computer, *connection));
    EXPECT_EQ(show(2, "#{@hv_open}"), QStringLiteral("1"));
    EXPECT_EQ(tabPaths(*computer), paths);
    EXPECT_EQ(banners(*computer), QStringList{MacModel::closeNotMadeMessage(*connection, QStringLiteral("c"))});
    EXPECT_TRUE(prefs.unsentTabChanges(host.profile.id).isEmpty());
    ASSERT_TRUE(sync(phone, phoneConnection));
    EXPECT_EQ(tabPaths(phone), paths);

    // Closed while the link is down, then the application quits: the close goes once it is
    // back.
    ASSERT_TRUE(gated(true));
    computer->closeTab(tabOf(*computer, paths.at(0)));
    ASSERT_TRUE(QTest::qWaitFor([] { return Shell::runsInFlight() == 0; }, 30000));
    stopAll(*computer);
    computer.reset();
    ASSERT_TRUE(gated(false));
    EXPECT_EQ(show(0, "#{@hv_open}"), QStringLiteral("1"));
    computer = std::make_unique<MacModel>(prefs, nullptr, &notifier);
    computer->isFrontmost = [] { return false; };
    computer->setProfiles({host.profile});
    ASSERT_TRUE(QCoro::waitFor(computer->connect(host.profile)));
    connection = computer->connection(host.profile.id);
    ASSERT_TRUE(QTest::qWaitFor([] { return Shell::runsInFlight() == 0; }, 30000));
    EXPECT_EQ(show(0, "#{@hv_open}"), QString());
    EXPECT_EQ(tabPaths(*computer), (QStringList{paths.at(1), paths.at(2)}));
    EXPECT_TRUE(banners(*computer).isEmpty()) << banners(*computer).join(u'\n').toStdString();
    EXPECT_TRUE(prefs.unsentTabChanges(host.profile.id).isEmpty());

    // The same across a disconnect and a connect, the server disconnected while the close
    // is still on its way.
    ASSERT_TRUE(test::writeAll(gate, "slow"));
    computer->closeTab(tabOf(*computer, paths.at(1)));
    QCoro::waitFor(computer->disconnect(*connection));
    ASSERT_TRUE(QTest::qWaitFor([] { return Shell::runsInFlight() == 0; }, 30000));
    ASSERT_TRUE(gated(false));
    EXPECT_EQ(show(1, "#{@hv_open}"), QStringLiteral("1"));
    ASSERT_TRUE(QCoro::waitFor(computer->connect(host.profile)));
    connection = computer->connection(host.profile.id);
    ASSERT_TRUE(QTest::qWaitFor([] { return Shell::runsInFlight() == 0; }, 30000));
    EXPECT_EQ(show(1, "#{@hv_open}"), QString());
    EXPECT_EQ(tabPaths(*computer), QStringList{paths.at(2)});
    EXPECT_TRUE(banners(*computer).isEmpty()) << banners(*computer).join(u'\n').toStdString();
    EXPECT_TRUE(prefs.unsentTabChanges(host.profile.id).isEmpty());

    // A tab opened here and closed while the link is down, before any listing showed it; the
    // phone ends its session and makes it again. The close is weighed against the row the
    // tab's start made, read once the tab showed it, and gives way.
    const QString fresh = host.project(QStringLiteral("d"));
    ASSERT_FALSE(fresh.isEmpty());
    const QString freshSession = tmuxSessionName(fresh);
    const MacProject freshProject{QStringLiteral("d"), fresh, freshSession};
    computer->openProject(freshProject, *connection);
    ASSERT_TRUE(QTest::qWaitFor([&] { return connection->openedRows.contains(freshSession); }, 30000));
    ASSERT_TRUE(gated(true));
    computer->closeTab(tabOf(*computer, fresh));
    ASSERT_TRUE(QTest::qWaitFor([] { return Shell::runsInFlight() == 0; }, 30000));
    const UnsentTabChanges keptFresh = prefs.unsentTabChanges(host.profile.id);
    ASSERT_EQ(keptFresh.closes.size(), 1);
    EXPECT_TRUE(keptFresh.closes.front().row);
    const QString freshCreated = showOf(freshSession, "#{session_created}");
    QTest::qWait(1100);
    QCoro::waitFor(phone.killSession(freshSession, phoneConnection));
    phone.openProject(freshProject, phoneConnection);
    ASSERT_TRUE(QTest::qWaitFor([&] { return showOf(freshSession, "#{@hv_open}") == QStringLiteral("1"); }, 30000));
    ASSERT_NE(showOf(freshSession, "#{session_created}"), freshCreated);
    ASSERT_TRUE(gated(false));
    ASSERT_TRUE(sync(*computer, *connection));
    EXPECT_EQ(showOf(freshSession, "#{@hv_open}"), QStringLiteral("1"));
    EXPECT_TRUE(tabPaths(*computer).contains(fresh));
    EXPECT_EQ(banners(*computer), QStringList{MacModel::closeNotMadeMessage(*connection, QStringLiteral("d"))});
    EXPECT_TRUE(prefs.unsentTabChanges(host.profile.id).isEmpty());

    onServer(QStringLiteral("tmux kill-server\n"));
    stopAll(*computer);
    stopAll(phone);
    QCoro::waitFor(computer->disconnect(*connection));
    QCoro::waitFor(phone.disconnect(phoneConnection));
}

// A server whose account logs in to mksh and whose /bin/sh is mksh, so that our scripts run
// under it too, where `printf` is a program: a file of five thousand names, more than 128 KiB
// once in Base64, is read, and a favourite starred here goes on top of it, the file written
// whole.
TEST(HostWritesServer, AFileOfMoreThan128KiBOfBase64IsWrittenWholeUnderMksh)
{
    const QString mksh = QStandardPaths::findExecutable(QStringLiteral("mksh"));
    ASSERT_FALSE(mksh.isEmpty()) << "mksh is missing: install the Debian package mksh";
    const test::ScriptShellOverride restore;
    setScriptShellForTests(mksh);
    test::SshHost host(test::SshServer::Options{.loginShell = mksh});
    ASSERT_TRUE(host.ready());
    ASSERT_TRUE(host.keepTmuxAtHome());
    const QString folder = host.remoteHome() + QStringLiteral("/.halvoren");
    const QString path = folder + QStringLiteral("/shared.json");
    NameSet names = test::manyProjectNames();
    ASSERT_TRUE(QDir().mkpath(folder));
    ASSERT_TRUE(test::writeAll(path, encodeSharedPrefs(names, {}).toUtf8()));
    const passwd* account = ::getpwnam(host.profile.username.toUtf8().constData());
    ASSERT_NE(account, nullptr);
    for (const QString& made : {folder, path})
        ASSERT_EQ(::chown(QFile::encodeName(made).constData(), account->pw_uid, account->pw_gid), 0);

    test::ModelInFolder client;
    client.model.isFrontmost = [] { return false; };
    client.model.setProfiles({host.profile});
    ASSERT_TRUE(QCoro::waitFor(client.model.connect(host.profile)));
    MacConnection* connection = client.model.connection(host.profile.id);
    ASSERT_NE(connection, nullptr);
    const auto settle = [connection] {
        return QTest::qWaitFor(
            [connection] { return !connection->syncing && !connection->sharedWriting && Shell::runsInFlight() == 0; }, 60000);
    };
    ASSERT_TRUE(settle());
    EXPECT_EQ(connection->favorites().size(), qsizetype(names.size()));
    client.model.toggleFavorite(QStringLiteral("z"), *connection);
    ASSERT_TRUE(settle());
    names.insert(QStringLiteral("z"));
    EXPECT_TRUE(test::readAll(path) == encodeSharedPrefs(names, {}).toUtf8());
    EXPECT_TRUE(connection->pendingFavorites.isEmpty());
    EXPECT_FALSE(client.model.banner()) << client.model.banner().value_or(QString()).toStdString();
    QCoro::waitFor(connection->link->runScript(QStringLiteral("tmux kill-server\n"), 25));
    QCoro::waitFor(client.model.disconnect(*connection));
}

} // namespace
} // namespace halvoren
