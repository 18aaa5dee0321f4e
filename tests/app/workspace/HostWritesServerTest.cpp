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

#include <QFile>
#include <QTest>

#include <gtest/gtest.h>

#include <sys/stat.h>

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

} // namespace
} // namespace halvoren
