// A server of the loopback sshd (see app/remote/SshServer.h) that gives one connection three
// sessions and takes only passwords once the workspace's master connection is up (its key is
// taken out then), with the password remembered: more tabs than it gives sessions are open,
// and the host still answers every listing, gets the git marks, the upload, the favourite
// and the close, while the tabs beyond the limit log in with the password at ssh's prompt.
#include "workspace/MacModel.h"

#include "app/support/SshHost.h"
#include "platform/Notifier.h"
#include "platform/SecretStore.h"
#include "remote/SessionNaming.h"
#include "remote/ShellQuote.h"
#include "remote/TmuxCommands.h"
#include "settings/ProfileStore.h"
#include "tab/MacTab.h"

#include <QMap>
#include <QProcess>
#include <QTest>

#include <algorithm>

#include <gtest/gtest.h>

#include <pwd.h>
#include <unistd.h>

namespace halvoren {
namespace {

// The test's own commands on the server, over a master connection of their own, with the
// account's tmux: what they print, trimmed, or why they failed.
struct HostChecks {
    explicit HostChecks(const test::SshHost& host) : link(std::make_shared<SSHLink>(host.server.profile(QStringLiteral("checks"))))
    {
    }
    bool reached() const { return QCoro::waitFor(link->fetchRemoteHome()); }
    QString operator()(const QString& command) const
    {
        const ShellResult<QString> output = QCoro::waitFor(
            link->runCommand(QStringLiteral("TMUX_TMPDIR=\"$HOME\"; export TMUX_TMPDIR; ") + command, std::nullopt, 25));
        return output ? output.value().trimmed() : QStringLiteral("failed: ") + output.error().message;
    }
    std::shared_ptr<SSHLink> link;
};

// The model connected to the host's profile, its first listing done; none when it did not connect.
MacConnection* connectTo(MacModel& model, const test::SshHost& host)
{
    model.isFrontmost = [] { return false; };
    model.setProfiles({host.profile});
    if (!QCoro::waitFor(model.connect(host.profile)))
        return nullptr;
    MacConnection* connection = model.connection(host.profile.id);
    if (connection == nullptr || !QTest::qWaitFor([&] { return !connection->syncing; }, 30000))
        return nullptr;
    return connection;
}

TEST(SharedConnectionLimit, MoreTabsThanSessionsAndTheHostStillGetsEveryCommand)
{
    test::SshHost host({.passwordLogin = true, .maxSessions = 3});
    ASSERT_TRUE(host.ready());
    const test::PasswordWindow window;
    ASSERT_TRUE(window.failure.isEmpty()) << window.failure.toStdString();
    // A login file that asks for "a password" in ssh's own words before tmux attaches.
    const QString answers = host.remoteHome() + QStringLiteral("/answers");
    ASSERT_TRUE(test::writeAll(host.remoteHome() + QStringLiteral("/.profile"),
                               "export TMUX_TMPDIR=\"$HOME\"\n"
                               "if [ -t 0 ]; then printf '%s@%s'\\''s password: ' hvtest 127.0.0.1; read -r -t 2 line;"
                               " printf '[%s]\\n' \"$line\" >> \"$HOME/answers\"; fi\n"));
    QStringList paths;
    for (int k = 0; k < 5; ++k) {
        paths << host.project(QStringLiteral("site-%1").arg(k));
        ASSERT_FALSE(paths.back().isEmpty());
    }
    const QString git = QStringLiteral("git -c user.name=t -c user.email=t@t");
    ASSERT_EQ(QProcess::execute(QStringLiteral("/bin/sh"), {QStringLiteral("-c"),
                                                          QStringLiteral("cd ") + shellQuote(paths.front()) + QStringLiteral(" && ") + git
                                                              + QStringLiteral(" init -q -b main && ") + git
                                                              + QStringLiteral(" commit -q --allow-empty -m s")}),
              0);
    ASSERT_EQ(QProcess::execute(QStringLiteral("/bin/chown"),
                                {QStringLiteral("-R"), QString::fromLatin1(test::SshServer::user), host.remoteHome() + QStringLiteral("/projets")}),
              0);

    PreferenceStore store(host.localHome.file(QStringLiteral("preferences.json")));
    Prefs prefs(store);
    auto backend = std::make_unique<MemorySecretBackend>();
    backend->write(ProfileStore::passwordKey(host.profile.id), QString::fromLatin1(test::SshServer::password));
    SecretStore keychain(std::move(backend));
    Notifier notifier{QDBusConnection(QStringLiteral("no-bus"))};
    MacModel model(prefs, &keychain, &notifier);
    MacConnection* connection = connectTo(model, host);
    ASSERT_NE(connection, nullptr) << host.server.log().toStdString();
    ASSERT_EQ(connection->projects().size(), 5);
    const HostChecks onHost(host);
    ASSERT_TRUE(onHost.reached());
    ASSERT_TRUE(test::writeAll(host.server.folder() + QStringLiteral("/authorized_keys"), QByteArray()));
    const auto clients = [&](const MacProject& project) {
        return onHost(QStringLiteral("tmux list-clients -t ") + tmuxSessionTarget(project.session)
                      + QStringLiteral(" -F x 2>/dev/null; true"));
    };

    // All at once, as a start-up restores them.
    const QList<MacProject> projects = connection->projects();
    for (const MacProject& project : projects)
        model.openProject(project, *connection);
    ASSERT_EQ(model.tabs().size(), 5);
    for (const MacProject& project : projects) {
        SCOPED_TRACE(project.name.toStdString());
        EXPECT_TRUE(QTest::qWaitFor([&] { return clients(project) == QStringLiteral("x"); }, 60000));
    }
    const SharedSessions& sessions = connection->link->sharedSessions();
    EXPECT_LE(sessions.limit(), 4);
    EXPECT_LE(sessions.tabSessions(), SharedSessions::tabBudget(sessions.limit()));
    const qsizetype riding = std::count_if(model.tabs().cbegin(), model.tabs().cend(),
                                           [](const MacTab* tab) { return tab->ridesSharedConnection(); });
    EXPECT_GE(riding, 1);
    EXPECT_LE(riding, 2);
    // Those beyond the limit typed the remembered password at ssh's own prompt, once each.
    EXPECT_GE(host.server.log().count(QStringLiteral("Accepted password for hvtest")), 5 - riding);

    for (int round = 0; round < 2; ++round) {
        QCoro::waitFor(model.requestSync(*connection));
        EXPECT_EQ(connection->failures, 0);
        EXPECT_FALSE(connection->unreachable());
    }
    for (const MacProject& project : projects)
        EXPECT_TRUE(connection->liveSessions().contains(project.session)) << project.name.toStdString();

    QCoro::waitFor(model.refreshGitInfo(*connection, {paths.front()}));
    ASSERT_TRUE(connection->gitInfo().contains(paths.front()));
    EXPECT_EQ(connection->gitInfo().value(paths.front()).branch, QStringLiteral("main"));

    MacTab* first = nullptr;
    for (MacTab* tab : model.tabs()) {
        if (tab->project.path == paths.front())
            first = tab;
    }
    ASSERT_NE(first, nullptr);
    QCoro::waitFor(uploadToProject(&model, QByteArray("dropped"), QStringLiteral("drop.txt"), first));
    EXPECT_EQ(test::readAll(paths.front() + QStringLiteral("/Upload/drop.txt")), QByteArray("dropped"));

    model.toggleFavorite(projects.at(1).name, *connection);
    const QString shared = host.remoteHome() + QStringLiteral("/.halvoren/shared.json");
    EXPECT_TRUE(QTest::qWaitFor([&] { return test::readAll(shared).contains(projects.at(1).name.toUtf8()); }, 30000))
        << test::readAll(shared).toStdString();

    const MacProject closed = projects.at(2);
    const auto openTag = [&] {
        return onHost(QStringLiteral("tmux show-options -qv -t ") + tmuxOptionTarget(closed.session) + QStringLiteral(" @hv_open"));
    };
    ASSERT_EQ(openTag(), QStringLiteral("1"));
    for (MacTab* tab : model.tabs()) {
        if (tab->project.session == closed.session) {
            model.closeTab(*tab);
            break;
        }
    }
    EXPECT_TRUE(QTest::qWaitFor([&] { return openTag().isEmpty(); }, 30000)) << openTag().toStdString();

    QCoro::waitFor(model.requestSync(*connection));
    EXPECT_EQ(connection->failures, 0);
    EXPECT_FALSE(connection->unreachable());
    EXPECT_FALSE(model.banner().has_value()) << model.banner().value_or(QString()).toStdString();
    // No program on the server got the password, in any tab.
    const QByteArray answered = test::readAll(answers);
    EXPECT_FALSE(answered.isEmpty());
    EXPECT_FALSE(answered.contains(test::SshServer::password)) << answered.toStdString();

    for (MacTab* tab : QList<MacTab*>(model.tabs()))
        model.removeTab(*tab);
    onHost(QStringLiteral("tmux kill-server 2>/dev/null; true"));
    QCoro::waitFor(model.disconnect(*connection));
    QCoro::waitFor(onHost.link->closeMaster());
}

// Fifteen tabs opened at once on a server that gives one connection three sessions, the last
// moved first at once: whichever start or order reaches the server first, every session ends
// with a place of its own, in the order the user made, which the strip keeps once the tabs are
// no longer new.
TEST(SharedConnectionLimit, TabsOpenedAtOnceAndMovedKeepTheUsersOrder)
{
    test::SshHost host({.maxSessions = 3});
    ASSERT_TRUE(host.ready());
    // A tab's login takes its time (as one over a slow link, or asking for a password), so
    // its start's tags reach the server well after the move.
    ASSERT_TRUE(test::writeAll(host.remoteHome() + QStringLiteral("/.profile"),
                               "export TMUX_TMPDIR=\"$HOME\"\nif [ -t 0 ]; then sleep 2; fi\n"));
    constexpr int opened = 15;
    for (int k = 0; k < opened; ++k)
        ASSERT_FALSE(host.project(QStringLiteral("tab-%1").arg(k, 2, 10, QLatin1Char('0'))).isEmpty());
    ASSERT_EQ(QProcess::execute(QStringLiteral("/bin/chown"),
                                {QStringLiteral("-R"), QString::fromLatin1(test::SshServer::user), host.remoteHome() + QStringLiteral("/projets")}),
              0);
    PreferenceStore store(host.localHome.file(QStringLiteral("preferences.json")));
    Prefs prefs(store);
    SecretStore keychain(std::make_unique<MemorySecretBackend>());
    Notifier notifier{QDBusConnection(QStringLiteral("no-bus"))};
    const HostChecks onHost(host);
    ASSERT_TRUE(onHost.reached());
    // A server used before: its tmux runs, and carries our mark of a host whose tabs it keeps.
    ASSERT_EQ(onHost(QStringLiteral("tmux new-session -d -s other && tmux set -g @hv_sync 1 && echo ok")), QStringLiteral("ok"));
    MacModel model(prefs, &keychain, &notifier);
    MacConnection* connection = connectTo(model, host);
    ASSERT_NE(connection, nullptr) << host.server.log().toStdString();
    ASSERT_EQ(connection->projects().size(), opened);

    for (const MacProject& project : connection->projects())
        model.openProject(project, *connection);
    ASSERT_EQ(model.tabs().size(), opened);
    model.moveTabs({opened - 1}, 0);
    QStringList strip;
    for (const MacTab* tab : model.tabs())
        strip << tab->project.session;
    const QString attached
        = QStringLiteral("tmux list-sessions -F '#{session_name} #{session_attached}' 2>/dev/null | grep -c '^kq-.* [1-9]'; true");
    EXPECT_TRUE(QTest::qWaitFor([&] { return onHost(attached) == QString::number(opened); }, 90000)) << onHost(attached).toStdString();
    // Past the time a tab the user opened holds the strip's order back.
    QTest::qWait(int(MacModel::reorderHoldOff * 1000) + 500);
    for (int round = 0; round < 2; ++round) {
        QCoro::waitFor(model.requestSync(*connection));
        EXPECT_TRUE(QTest::qWaitFor([&] { return !connection->syncing && Shell::runsInFlight() == 0; }, 30000));
    }

    QStringList now;
    for (const MacTab* tab : model.tabs())
        now << tab->project.session;
    EXPECT_EQ(now, strip);
    QMap<qint64, QStringList> byOrder;
    const QString rows = onHost(QStringLiteral("tmux list-sessions -F '#{session_name} #{@hv_order}' | grep '^kq-'"));
    for (const QString& row : rows.split(u'\n', Qt::SkipEmptyParts))
        byOrder[row.section(u' ', 1).toLongLong()] << row.section(u' ', 0, 0);
    QStringList onServer;
    for (auto place = byOrder.cbegin(); place != byOrder.cend(); ++place) {
        EXPECT_EQ(place->size(), 1) << "sessions sharing place " << place.key() << ": " << place->join(u' ').toStdString();
        onServer << *place;
    }
    EXPECT_EQ(onServer, strip) << rows.toStdString();
    EXPECT_FALSE(model.banner().has_value()) << model.banner().value_or(QString()).toStdString();

    for (MacTab* tab : QList<MacTab*>(model.tabs()))
        model.removeTab(*tab);
    onHost(QStringLiteral("tmux kill-server 2>/dev/null; true"));
    QCoro::waitFor(model.disconnect(*connection));
    QCoro::waitFor(onHost.link->closeMaster());
}

} // namespace
} // namespace halvoren
