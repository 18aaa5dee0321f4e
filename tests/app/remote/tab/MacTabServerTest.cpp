// Server tabs against a private sshd on 127.0.0.1 (see SshServer.h): the tab's ssh attaches
// the project's tmux session on the server, types a remembered password on a password-only
// account, and never types it into a program of the attached session.
#include "remote/MacTab.h"

#include "remote/SessionNaming.h"
#include "remote/TmuxCommands.h"

#include "../RunSync.h"
#include "../SshServer.h"
#include "../../support/TempFolder.h"
#include "engine/view/qt/ViewTestSupport.h"
#include "model/ProfileStore.h"
#include "platform/SecretStore.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QStandardPaths>

#include <gtest/gtest.h>

#include <pwd.h>
#include <unistd.h>

namespace halvoren {
namespace {

using corvantix::testing::screenText;
using corvantix::testing::waitUntil;

#define REQUIRE_SERVER(server) ASSERT_TRUE((server).running()) << (server).failure().toStdString()

class ServerTab : public ::testing::Test {
protected:
    void SetUp() override
    {
        if (QStandardPaths::findExecutable(QStringLiteral("tmux")).isEmpty())
            GTEST_FAIL() << "tmux is missing: install the Debian package tmux";
        ASSERT_TRUE(home.valid());
        // The control sockets live below HOME: keep it short.
        qputenv("HOME", home.path().toUtf8());
    }
    void TearDown() override
    {
        if (link) {
            // The tab's ssh left a master connection behind (it persists by design).
            bool closed = false;
            auto closing = [&]() -> Task<> {
                co_await link->closeMaster();
                closed = true;
            };
            auto running = closing();
            waitUntil([&] { return closed; }, 15000);
        }
        SSHLink::setProgramForTests(QStringLiteral("/usr/bin/ssh"));
        qputenv("HOME", savedHome);
    }

    // The server's account keeps its tmux server below the run's home, and has a project.
    void prepareAccount(test::SshServer& server)
    {
        const QString remote = server.remoteHome();
        ASSERT_TRUE(test::writeAll(remote + QStringLiteral("/.profile"), "export TMUX_TMPDIR=\"$HOME\"\n"));
        ASSERT_TRUE(QDir().mkpath(remote + QStringLiteral("/projets/demo")));
        const passwd* account = ::getpwnam(test::SshServer::user);
        ASSERT_NE(account, nullptr);
        for (const QString& path : {remote + QStringLiteral("/projets"), remote + QStringLiteral("/projets/demo")})
            ASSERT_EQ(::chown(QFile::encodeName(path).constData(), account->pw_uid, account->pw_gid), 0);
        projectPath = remote + QStringLiteral("/projets/demo");
        session = tmuxSessionName(projectPath);
    }

    std::unique_ptr<MacTab> makeTab(test::SshServer& server, SecretStore& keychain)
    {
        link = std::make_shared<SSHLink>(server.profile());
        return std::make_unique<MacTab>(link->profile().id, MacProject{QStringLiteral("demo"), projectPath, session},
                                        true, link, &keychain);
    }

    // The clients attached to the session on the server, through a one-shot command that
    // rides on the tab's connection.
    QString remoteClients()
    {
        const ShellResult<QString> listed = test::runSync(link->runCommand(
            QStringLiteral("TMUX_TMPDIR=\"$HOME\" tmux list-clients -t ") + tmuxSessionTarget(session) +
                QStringLiteral(" -F '#{client_tty}' 2>/dev/null; true"),
            std::nullopt, 25));
        return listed ? listed.value().trimmed() : QString();
    }
    QString remoteOption(const QString& name)
    {
        const ShellResult<QString> shown = test::runSync(link->runCommand(
            QStringLiteral("TMUX_TMPDIR=\"$HOME\" tmux show-options -v -t ") + tmuxOptionTarget(session) + u' ' + name,
            std::nullopt, 25));
        return shown ? shown.value().trimmed() : QString();
    }

    test::TempFolder home;
    QByteArray savedHome = qgetenv("HOME");
    std::shared_ptr<SSHLink> link;
    QString projectPath;
    QString session;
};

TEST_F(ServerTab, AttachesTheProjectSessionOnTheServer)
{
    test::SshServer server;
    REQUIRE_SERVER(server);
    prepareAccount(server);
    SSHLink::setProgramForTests(server.keyClient());
    SecretStore keychain(std::make_unique<MemorySecretBackend>());
    std::unique_ptr<MacTab> tab = makeTab(server, keychain);
    tab->start(sessionTagCommand(session, QStringLiteral("demo"), projectPath, {session}));
    ASSERT_TRUE(tab->isLive());
    ASSERT_TRUE(waitUntil([&] { return tab->terminal->terminal->isCurrentBufferAlternate(); }, 30000))
        << screenText(*tab->terminal->terminal) << server.log().toStdString();
    EXPECT_FALSE(remoteClients().isEmpty());
    EXPECT_EQ(remoteOption(QStringLiteral("@hv_path")), projectPath);
    EXPECT_FALSE(tab->autofill);
    tab->stop();
}

TEST_F(ServerTab, RememberedPasswordLogsInOnceAndIsNeverTypedIntoTheSession)
{
    test::SshServer server(test::SshServer::Options{.passwordLogin = true});
    REQUIRE_SERVER(server);
    prepareAccount(server);
    SSHLink::setProgramForTests(server.passwordClient());
    auto backend = std::make_unique<MemorySecretBackend>();
    backend->write(ProfileStore::passwordKey(server.profile().id), QString::fromLatin1(test::SshServer::password));
    SecretStore keychain(std::move(backend));
    std::unique_ptr<MacTab> tab = makeTab(server, keychain);
    tab->start(sessionTagCommand(session, QStringLiteral("demo"), projectPath, {session}));
    ASSERT_TRUE(waitUntil([&] { return tab->terminal->terminal->isCurrentBufferAlternate(); }, 30000))
        << screenText(*tab->terminal->terminal) << server.log().toStdString();
    ASSERT_TRUE(waitUntil([&] { return !remoteClients().isEmpty(); }, 20000));
    EXPECT_FALSE(tab->autofill);

    // A restart rides on the connection the first start left: ssh asks for nothing, and the
    // password the tab is ready to type must not reach what runs in the session.
    tab->stop();
    ASSERT_TRUE(waitUntil([&] { return remoteClients().isEmpty(); }, 20000));
    tab->start();
    ASSERT_TRUE(waitUntil([&] { return !remoteClients().isEmpty(); }, 30000));

    // A program in the session asks for "a password": the tab types nothing, so what it
    // reads is what the test types.
    tab->terminal->send(std::string_view(
        "clear; printf 'Enter pass''word: '; read -r answer; printf '[%s]' \"$answer\" > ~/answer\r"));
    const auto promptShown = [&] {
        const std::string screen = screenText(*tab->terminal->terminal);
        return screen.find("Enter password:") != std::string::npos;
    };
    ASSERT_TRUE(waitUntil(promptShown, 20000)) << screenText(*tab->terminal->terminal);
    tab->terminal->send(std::string_view("typed-by-hand\r"));
    const QString answer = server.remoteHome() + QStringLiteral("/answer");
    ASSERT_TRUE(waitUntil([&] { return QFileInfo::exists(answer) && !test::readAll(answer).isEmpty(); }, 20000));
    EXPECT_EQ(test::readAll(answer), QByteArray("[typed-by-hand]"));
    tab->stop();
}

} // namespace
} // namespace halvoren
