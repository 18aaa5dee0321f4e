// Writes to a server of the loopback sshd that do not reach it: a favourite and a hidden name
// made while the account cannot write its ~/.halvoren stay, and reach the file once it can;
// while ssh fails, a close and a new order are sent again once it answers, a close the phone
// changed meanwhile gives way, and a session's end is told and never sent again.
#include "workspace/MacModel.h"

#include "app/support/SshHost.h"
#include "app/support/WorkspaceModel.h"
#include "platform/Notifier.h"
#include "remote/SessionNaming.h"
#include "remote/SharedPrefs.h"
#include "remote/TmuxCommands.h"
#include "tab/MacTab.h"

#include <QDir>
#include <QFile>
#include <QTest>

#include <gtest/gtest.h>

#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

namespace halvoren {
namespace {

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
    const QString client = host.localHome.file(QStringLiteral("gated-ssh"));
    ASSERT_TRUE(test::writeAll(client, QStringLiteral("#!/bin/sh\nif [ -e '%1' ]; then echo 'ssh: connect to host 127.0.0.1: "
                                                      "Network is unreachable' >&2; exit 255; fi\nexec '%2' \"$@\"\n")
                                           .arg(gate, host.server.keyClient())
                                           .toUtf8()));
    ASSERT_EQ(::chmod(QFile::encodeName(client).constData(), 0755), 0);
    SSHLink::setProgramForTests(client);
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
    EXPECT_EQ(banners(), QStringList{MacModel::sessionStillRunsMessage(connection, QStringLiteral("c"))});
    ASSERT_TRUE(sync());
    ASSERT_TRUE(sync());
    EXPECT_TRUE(connection.unreachable());
    ASSERT_TRUE(gated(false));
    model.clearBanners();
    ASSERT_TRUE(sync());
    ASSERT_TRUE(sync());
    EXPECT_FALSE(connection.unreachable());
    // The close and the order went again; the session's end did not: it runs, and its tab is
    // back, after the others.
    EXPECT_EQ(option(paths.at(0), "@hv_open"), QString());
    EXPECT_EQ(option(paths.at(3), "@hv_order") + option(paths.at(1), "@hv_order"), QStringLiteral("12"));
    EXPECT_EQ(option(paths.at(2), "@hv_open"), QStringLiteral("1"));
    EXPECT_EQ(tabPaths(), (QStringList{paths.at(3), paths.at(1), paths.at(2)}));
    EXPECT_TRUE(banners().isEmpty()) << banners().join(u'\n').toStdString();

    // A close whose tab the phone renamed meanwhile gives way: the tab opens again, and the
    // banner says the close was not made.
    ASSERT_TRUE(gated(true));
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
    const QString client = host.localHome.file(QStringLiteral("gated-ssh"));
    const MacProfile& here = host.profile;
    ASSERT_TRUE(test::writeAll(client, QStringLiteral("#!/bin/sh\nif [ -e '%1' ]; then for a; do if [ \"$a\" = '%3' ]; then "
                                                      "echo 'ssh: connect to host 127.0.0.1: Network is unreachable' >&2; "
                                                      "exit 255; fi; done; fi\nexec '%2' \"$@\"\n")
                                           .arg(gate, host.server.keyClient(), here.username + u'@' + here.host)
                                           .toUtf8()));
    ASSERT_EQ(::chmod(QFile::encodeName(client).constData(), 0755), 0);
    SSHLink::setProgramForTests(client);
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

} // namespace
} // namespace halvoren
