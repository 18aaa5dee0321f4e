// Server tabs against a private sshd on 127.0.0.1 (see SshServer.h), one server for the suite:
// the tab's ssh attaches the project's tmux session on the server, types a remembered password
// on the account, and never types it into a program of the attached session. The server
// connection lists its project root over the same ssh.
#include "tab/MacTab.h"

#include "remote/SessionNaming.h"
#include "remote/TmuxCommands.h"

#include "app/remote/RunSync.h"
#include "app/remote/SshServer.h"
#include "app/support/TempFolder.h"
#include "engine/view/qt/ViewTestSupport.h"
#include "workspace/MacConnection.h"
#include "settings/ProfileStore.h"
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

class ServerTab : public ::testing::Test {
protected:
    static void SetUpTestSuite() { server = new test::SshServer({.passwordLogin = true}); }
    static void TearDownTestSuite() { delete server; }
    void SetUp() override
    {
        if (QStandardPaths::findExecutable(QStringLiteral("tmux")).isEmpty())
            GTEST_FAIL() << "tmux is missing: install the Debian package tmux";
        ASSERT_TRUE(server->running()) << server->failure().toStdString();
        ASSERT_TRUE(home.valid());
        // The account keeps its tmux server below the run's home, and has a project.
        const QString remote = server->remoteHome();
        ASSERT_TRUE(test::writeAll(remote + QStringLiteral("/.profile"), "export TMUX_TMPDIR=\"$HOME\"\n"));
        projectPath = remote + QStringLiteral("/projets/demo");
        ASSERT_TRUE(QDir().mkpath(projectPath));
        const passwd* account = ::getpwnam(test::SshServer::user);
        ASSERT_NE(account, nullptr);
        for (const QString& path : {remote + QStringLiteral("/projets"), projectPath})
            ASSERT_EQ(::chown(QFile::encodeName(path).constData(), account->pw_uid, account->pw_gid), 0);
        session = tmuxSessionName(projectPath);
    }
    void TearDown() override
    {
        if (link) // the tab's ssh left a master connection behind (it persists by design)
            QCoro::waitFor(link->closeMaster());
        SSHLink::setProgramForTests(QStringLiteral("/usr/bin/ssh"));
    }
    std::unique_ptr<MacTab> startTab(SecretStore& keychain)
    {
        link = std::make_shared<SSHLink>(server->profile());
        auto tab = std::make_unique<MacTab>(link->profile().id, MacProject{QStringLiteral("demo"), projectPath, session},
                                            true, link, &keychain);
        tab->start(sessionTagCommand(session, QStringLiteral("demo"), projectPath, {session}));
        EXPECT_TRUE(tab->isLive());
        EXPECT_TRUE(waitUntil([&] { return tab->terminal->terminal->isCurrentBufferAlternate(); }, 30000))
            << screenText(*tab->terminal->terminal) << server->log().toStdString();
        return tab;
    }
    // Runs a tmux command on the server through a one-shot command riding on the tab's connection.
    QString remoteTmux(const QString& command)
    {
        const ShellResult<QString> result = test::runSync(
            link->runCommand(QStringLiteral("TMUX_TMPDIR=\"$HOME\" tmux ") + command + QStringLiteral(" 2>/dev/null; true"),
                             std::nullopt, 25));
        return result ? result.value().trimmed() : QString();
    }
    QString remoteClients()
    {
        return remoteTmux(QStringLiteral("list-clients -t ") + tmuxSessionTarget(session) + QStringLiteral(" -F '#{client_tty}'"));
    }
    static test::SshServer* server;
    test::TempFolder home;
    // The control sockets live below HOME: keep it short.
    test::EnvironmentOverride environment{"HOME", home.path()};
    std::shared_ptr<SSHLink> link;
    QString projectPath;
    QString session;
};

test::SshServer* ServerTab::server = nullptr;

TEST_F(ServerTab, AttachesTheProjectSessionOnTheServer)
{
    SSHLink::setProgramForTests(server->keyClient());
    SecretStore keychain(std::make_unique<MemorySecretBackend>());
    std::unique_ptr<MacTab> tab = startTab(keychain);
    EXPECT_FALSE(remoteClients().isEmpty());
    EXPECT_EQ(remoteTmux(QStringLiteral("show-options -v -t ") + tmuxOptionTarget(session) + QStringLiteral(" @hv_path")),
              projectPath);
    EXPECT_FALSE(tab->autofill);
    tab->stop();
    remoteTmux(QStringLiteral("kill-server"));
}

TEST_F(ServerTab, RememberedPasswordLogsInOnceAndIsNeverTypedIntoTheSession)
{
    SSHLink::setProgramForTests(server->passwordClient());
    auto backend = std::make_unique<MemorySecretBackend>();
    backend->write(ProfileStore::passwordKey(server->profile().id), QString::fromLatin1(test::SshServer::password));
    SecretStore keychain(std::move(backend));
    std::unique_ptr<MacTab> tab = startTab(keychain);
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
    ASSERT_TRUE(waitUntil([&] { return screenText(*tab->terminal->terminal).find("Enter password:") != std::string::npos; },
                          20000))
        << screenText(*tab->terminal->terminal);
    tab->terminal->send(std::string_view("typed-by-hand\r"));
    const QString answer = server->remoteHome() + QStringLiteral("/answer");
    ASSERT_TRUE(waitUntil([&] { return !test::readAll(answer).isEmpty(); }, 20000));
    EXPECT_EQ(test::readAll(answer), QByteArray("[typed-by-hand]"));
    tab->stop();
    remoteTmux(QStringLiteral("kill-server"));
}

// A program on the server names this computer's files in image commands: every medium gets
// the one refusal, whether the path is a file, a missing name or a folder, and nothing here is
// read or removed.
TEST_F(ServerTab, ImageMediaNamingLocalFilesAreRefused)
{
    SSHLink::setProgramForTests(server->keyClient());
    SecretStore keychain(std::make_unique<MemorySecretBackend>());
    test::TempFolder local;
    const QString secret = local.file(QStringLiteral("tty-graphics-protocol-secret"));
    ASSERT_TRUE(test::writeAll(secret, QByteArray("\x01\x02\x03\x04", 4)));
    QFile::setPermissions(secret, QFileDevice::ReadOwner | QFileDevice::WriteOwner);
    QString commands;
    int count = 0;
    for (const char* medium : {"f", "t", "s"}) {
        for (const QString& path : {secret, local.file(QStringLiteral("missing")), local.path()}) {
            commands += QStringLiteral("printf '\\033_Ga=t,i=1,t=%1,f=32,s=1,v=1;%2\\033\\\\'\n")
                            .arg(QLatin1String(medium), QString::fromLatin1(path.toUtf8().toBase64()));
            ++count;
        }
    }
    // The replies come back as the program's input: read raw for three quiet seconds.
    const QString probe = server->remoteHome() + QStringLiteral("/probe.sh");
    ASSERT_TRUE(test::writeAll(probe, ("stty -echo -icanon min 0 time 30\n" + commands
                                       + "cat -v > \"$HOME/replies\"\nstty sane\necho probe-done\n")
                                          .toUtf8()));
    link = std::make_shared<SSHLink>(server->profile());
    auto tab = std::make_unique<MacTab>(link->profile().id, MacProject{QStringLiteral("demo"), projectPath, session},
                                        false, link, &keychain);
    tab->start();
    ASSERT_TRUE(waitUntil([&] { return screenText(*tab->terminal->terminal).find('$') != std::string::npos; }, 30000))
        << screenText(*tab->terminal->terminal) << server->log().toStdString();
    tab->terminal->send(std::string_view("sh ~/probe.sh\r"));
    ASSERT_TRUE(waitUntil([&] { return screenText(*tab->terminal->terminal).find("probe-done") != std::string::npos; },
                          30000))
        << screenText(*tab->terminal->terminal);
    const QByteArray replies = test::readAll(server->remoteHome() + QStringLiteral("/replies"));
    EXPECT_EQ(replies, QByteArray("^[_Gi=1;ENOTSUP: unsupported transmission^[\\").repeated(count));
    EXPECT_EQ(test::readAll(secret), QByteArray("\x01\x02\x03\x04", 4));
    tab->stop();
}

TEST_F(ServerTab, ConnectionListsTheVisibleFoldersOfARootWithAQuoteInItsName)
{
    const QString root = server->remoteHome() + QStringLiteral("/it's root");
    for (const char* name : {".git", "b", "A"})
        ASSERT_TRUE(QDir().mkpath(root + u'/' + QString::fromLatin1(name)));
    ASSERT_TRUE(test::writeAll(root + QStringLiteral("/z.txt"), "z"));
    SSHLink::setProgramForTests(server->keyClient());
    MacProfile profile = server->profile();
    profile.projectsRoot = QStringLiteral("~/it's root");
    MacConnection connection(link = std::make_shared<SSHLink>(profile));
    ASSERT_TRUE(test::runSync(connection.link->fetchRemoteHome()));
    ASSERT_EQ(connection.projectRoots(), QStringList{root});
    EXPECT_EQ(test::runSync(connection.listFolders(root)), (QStringList{QStringLiteral("A"), QStringLiteral("b")}));
    EXPECT_TRUE(test::runSync(connection.listFolders(root + QStringLiteral("/none"))).isEmpty());
}

} // namespace
} // namespace halvoren
