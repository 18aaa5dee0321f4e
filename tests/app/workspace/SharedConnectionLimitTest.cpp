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

#include <QProcess>
#include <QTest>

#include <algorithm>

#include <gtest/gtest.h>

#include <pwd.h>
#include <unistd.h>

namespace halvoren {
namespace {

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

    const MacProfile& profile = host.profile;
    PreferenceStore store(host.localHome.file(QStringLiteral("preferences.json")));
    Prefs prefs(store);
    auto backend = std::make_unique<MemorySecretBackend>();
    backend->write(ProfileStore::passwordKey(profile.id), QString::fromLatin1(test::SshServer::password));
    SecretStore keychain(std::move(backend));
    Notifier notifier{QDBusConnection(QStringLiteral("no-bus"))};
    MacModel model(prefs, &keychain, &notifier);
    model.isFrontmost = [] { return false; };
    model.setProfiles({profile});
    ASSERT_TRUE(QCoro::waitFor(model.connect(profile))) << host.server.log().toStdString();
    MacConnection* connection = model.connection(profile.id);
    ASSERT_NE(connection, nullptr);
    ASSERT_TRUE(QTest::qWaitFor([&] { return !connection->syncing; }, 30000));
    ASSERT_EQ(connection->projects().size(), 5);
    // The test's own commands go over a master connection of their own.
    auto checks = std::make_shared<SSHLink>(host.server.profile(QStringLiteral("checks")));
    ASSERT_TRUE(QCoro::waitFor(checks->fetchRemoteHome()));
    ASSERT_TRUE(test::writeAll(host.server.folder() + QStringLiteral("/authorized_keys"), QByteArray()));
    const auto onHost = [&](const QString& command) {
        const ShellResult<QString> output = QCoro::waitFor(
            checks->runCommand(QStringLiteral("TMUX_TMPDIR=\"$HOME\"; export TMUX_TMPDIR; ") + command, std::nullopt, 25));
        return output ? output.value().trimmed() : QStringLiteral("failed: ") + output.error().message;
    };
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
    QCoro::waitFor(checks->closeMaster());
}

} // namespace
} // namespace halvoren
