// The SSH link against a real sshd on 127.0.0.1 (see SshServer.h). The password typed at
// ssh's prompt and the connection it leaves are checked through the project tab.
#include "remote/SSHLink.h"
#include "remote/Shell.h"

#include "RunSync.h"
#include "SshServer.h"
#include "../support/Poll.h"
#include "../support/TempFolder.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QRandomGenerator>

#include <gtest/gtest.h>


namespace halvoren {
namespace {

class SSHLinkServer : public testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(home.valid()); }
    void TearDown() override { SSHLink::setProgramForTests(QStringLiteral("/usr/bin/ssh")); }

    // A link to `server` through its key client, connected as the application connects:
    // the remote home first (which also makes the control socket folder).
    SSHLink keyLink(test::SshServer& server)
    {
        SSHLink::setProgramForTests(server.keyClient());
        SSHLink link(server.profile());
        EXPECT_TRUE(test::runSync(link.fetchRemoteHome())) << server.log().toStdString();
        return link;
    }

    test::TempFolder home;
    test::EnvironmentOverride environment{"HOME", home.path()};
};

// The master unlinks its socket as it exits, just after it acknowledged the request.
bool goneWithin(const QString& path, int milliseconds)
{
    return test::pollUntil([&] { return !QFileInfo::exists(path); }, std::chrono::milliseconds(milliseconds));
}

#define REQUIRE_SERVER(server) ASSERT_TRUE((server).running()) << (server).failure().toStdString()

TEST_F(SSHLinkServer, HomeTmuxAndScriptsThroughOneMasterConnection)
{
    test::SshServer server;
    REQUIRE_SERVER(server);
    SSHLink link = keyLink(server);
    EXPECT_EQ(link.remoteHome(), server.remoteHome());
    // The first command opened the master connection; the socket is where the link says.
    EXPECT_TRUE(QFileInfo(link.controlPath()).exists());

    EXPECT_EQ(test::runSync(link.hasTmux()), QFileInfo::exists(QStringLiteral("/usr/bin/tmux")));

    const ShellResult<QString> script =
        test::runSync(link.runScript(QStringLiteral("cd \"$HOME\"\nprintf 'é %s\\n' \"$(basename \"$PWD\")\"\necho it\\'s\ntrue\n"), 25));
    ASSERT_TRUE(script) << script.error().message.toStdString();
    EXPECT_EQ(script.value(), QStringLiteral("é home\nit's\n"));

    const ShellResult<QString> kept = test::runSync(link.runCommand(QStringLiteral("echo ok"), std::nullopt, 25));
    ASSERT_TRUE(kept);
    EXPECT_EQ(kept.value(), QStringLiteral("ok\n"));

    const ShellResult<QString> failed = test::runSync(link.runCommand(QStringLiteral("exit 1"), std::nullopt, 25));
    ASSERT_FALSE(failed);
    EXPECT_EQ(failed.error().message, QStringLiteral("La commande SSH a échoué (code 1)."));

    const ShellResult<QString> stderrText =
        test::runSync(link.runCommand(QStringLiteral("echo '  broken  ' >&2; exit 3"), std::nullopt, 25));
    ASSERT_FALSE(stderrText);
    EXPECT_EQ(stderrText.error().message, QStringLiteral("broken"));

    QElapsedTimer clock;
    clock.start();
    const ShellResult<QString> slow = test::runSync(link.runCommand(QStringLiteral("sleep 30"), std::nullopt, 1));
    ASSERT_FALSE(slow);
    EXPECT_EQ(slow.error().message, Shell::timeoutMessage());
    EXPECT_LT(clock.elapsed(), 10000);

    QCoro::waitFor(link.closeMaster());
    EXPECT_TRUE(goneWithin(link.controlPath(), 3000));
}

TEST_F(SSHLinkServer, UploadIsByteExactAndLeavesNoTemporaryFile)
{
    test::SshServer server;
    REQUIRE_SERVER(server);
    SSHLink link = keyLink(server);

    QByteArray data(1 << 20, '\0');
    for (int i = 0; i < 256; ++i)
        data[i] = static_cast<char>(i);
    for (qsizetype i = 256; i < data.size(); ++i)
        data[i] = static_cast<char>(QRandomGenerator::global()->bounded(256));
    const QString target = server.remoteHome() + QStringLiteral("/Upload/it's a file.bin");
    test::writeAll(server.remoteHome() + QStringLiteral("/old"), "previous");

    const ShellResult<bool> first = test::runSync(link.uploadFile(data, target));
    ASSERT_TRUE(first) << first.error().message.toStdString();
    EXPECT_EQ(test::readAll(target), data);

    const QByteArray smaller("\r\n\x00\xff", 4);
    ASSERT_TRUE(test::runSync(link.uploadFile(smaller, target)));
    EXPECT_EQ(test::readAll(target), smaller);
    EXPECT_EQ(QDir(server.remoteHome() + QStringLiteral("/Upload")).entryList(QDir::Files | QDir::Hidden),
              QStringList{"it's a file.bin"});

    // A folder that cannot be made: an error, and nothing left behind.
    const ShellResult<bool> refused = test::runSync(link.uploadFile(data, QStringLiteral("/proc/hv/x.bin")));
    EXPECT_FALSE(refused);

    QCoro::waitFor(link.closeMaster());
}

TEST_F(SSHLinkServer, InstallKeyTwiceLeavesOneLinePerKey)
{
    test::SshServer server;
    REQUIRE_SERVER(server);
    SSHLink link = keyLink(server);

    QDir().mkpath(home.file(".ssh"));
    const QString first = server.clientPublicKey();
    const QString second = QStringLiteral("ssh-ed25519 AAAAC3NzaC1lZDI1NTE5AAAAIHalvorenSecondTestKeyOnlyForThisRun other's key");
    test::writeAll(home.file(".ssh/id_ed25519.pub"), first.toUtf8() + '\n');
    test::writeAll(home.file(".ssh/laptop.pub"), second.toUtf8());

    for (int round = 0; round < 2; ++round) {
        const ShellResult<int> installed = test::runSync(link.installKey());
        ASSERT_TRUE(installed) << installed.error().message.toStdString();
        EXPECT_EQ(installed.value(), 2);
    }
    const QString authorized = server.remoteHome() + QStringLiteral("/.ssh/authorized_keys");
    EXPECT_EQ(test::readAll(authorized), (first + u'\n' + second + u'\n').toUtf8());
    EXPECT_EQ(QFileInfo(authorized).permissions() & (QFile::ReadGroup | QFile::ReadOther | QFile::WriteOther), 0);

    QCoro::waitFor(link.closeMaster());
}

TEST_F(SSHLinkServer, BatchCommandWithoutKeyOrMasterIsRefused)
{
    test::SshServer server({.passwordLogin = true});
    REQUIRE_SERVER(server);
    SSHLink::setProgramForTests(server.passwordClient());
    SSHLink link(server.profile());
    const ShellResult<QString> refused = test::runSync(link.runCommand(QStringLiteral("true"), std::nullopt, 25));
    ASSERT_FALSE(refused);
    EXPECT_TRUE(refused.error().message.contains(QStringLiteral("Permission denied"))) << refused.error().message.toStdString();
    EXPECT_FALSE(test::runSync(link.fetchRemoteHome()));
    EXPECT_TRUE(link.remoteHome().isEmpty());
}

} // namespace
} // namespace halvoren
