// The first-connection sheet against a real sshd on 127.0.0.1 (see SshServer.h) with the
// password-only account.
#include "ui/ConnectSheet.h"
#include "ui/ServersView.h"

#include "app/remote/SshServer.h"
#include "app/support/TempFolder.h"
#include "engine/view/qt/ViewTestSupport.h"
#include "platform/Notifier.h"
#include "platform/SecretStore.h"

#include <QCheckBox>
#include <QLineEdit>
#include <QPushButton>
#include <QTest>

#include <gtest/gtest.h>

#include <cerrno>
#include <csignal>

namespace halvoren {
namespace {

class ConnectSheetServer : public testing::Test {
protected:
    static void SetUpTestSuite() { server = new test::SshServer({.passwordLogin = true}); }
    static void TearDownTestSuite() { delete server; }
    void SetUp() override
    {
        ASSERT_TRUE(server->running()) << server->failure().toStdString();
        SSHLink::setProgramForTests(server->passwordClient());
    }
    void TearDown() override
    {
        QCoro::waitFor(SSHLink(profile).closeMaster());
        SSHLink::setProgramForTests(QStringLiteral("/usr/bin/ssh"));
    }
    // Opens the sheet as the servers sheet does; `answer` is typed at the first password prompt.
    void open(const QByteArray& answer = {})
    {
        reports.clear();
        const auto done = [this](std::shared_ptr<SSHLink> link) { reports.push_back(link); };
        sheet = std::make_unique<ConnectSheet>(profile, done, nullptr);
        sheet->keychain = &keychain;
        sheet->open();
        if (answer.isEmpty())
            return;
        ASSERT_TRUE(QTest::qWaitFor([&] { return view().buffer.contains(QStringLiteral("password:")); }, 20000));
        view().sendUserInput(std::span(reinterpret_cast<const std::uint8_t*>(answer.constData()), size_t(answer.size())));
    }
    bool ended() { return QTest::qWaitFor([&] { return !reports.empty() || sheet->failed(); }, 20000); }
    BootTermView& view() { return *sheet->terminal()->view(); }
    QString stored() { return QCoro::waitFor(keychain.secureRead(QStringLiteral("pwd_") + profile.id)).value_or(QString()); }

    static test::SshServer* server;
    test::TempFolder home;
    // The control sockets live below HOME: keep it short.
    test::EnvironmentOverride environment{"HOME", home.path()};
    SecretStore keychain{std::make_unique<MemorySecretBackend>()};
    MacProfile profile = server->profile();
    std::unique_ptr<ConnectSheet> sheet;
    std::vector<std::shared_ptr<SSHLink>> reports;
};

test::SshServer* ConnectSheetServer::server = nullptr;

TEST_F(ConnectSheetServer, TypedPasswordLogsInIsRememberedAndTypedOnceNextTime)
{
    open(test::SshServer::password + QByteArray("\r"));
    ASSERT_TRUE(ended()) << view().buffer.toStdString();
    ASSERT_EQ(reports.size(), 1u);
    ASSERT_NE(reports[0], nullptr) << view().buffer.toStdString();
    EXPECT_EQ(reports[0]->remoteHome(), server->remoteHome());
    EXPECT_FALSE(sheet->isVisible());
    EXPECT_EQ(stored(), QString::fromLatin1(test::SshServer::password));
    // The login opened the shared connection: a batch command, which never asks for a
    // password, rides on it.
    const ShellResult<QString> echoed = QCoro::waitFor(reports[0]->runCommand(QStringLiteral("echo ok"), std::nullopt, 25));
    EXPECT_EQ(echoed ? echoed.value() : echoed.error().message, QStringLiteral("ok\n"));

    QCoro::waitFor(reports[0]->closeMaster());
    open();
    ASSERT_TRUE(ended()) << view().buffer.toStdString();
    ASSERT_NE(reports[0], nullptr) << view().buffer.toStdString();
    EXPECT_EQ(view().buffer.count(QStringLiteral("password:")), 1);
    EXPECT_NE(corvantix::testing::screenText(*view().terminal).find("(mot de passe mémorisé saisi automatiquement)"),
              std::string::npos);
}

TEST_F(ConnectSheetServer, UnresolvableHostAndWrongPasswordAreToldApart)
{
    // One password prompt only, so that a wrong answer ends ssh at once.
    const QString oneTry = home.file(QStringLiteral("ssh-one-try"));
    ASSERT_TRUE(test::writeAll(oneTry, "#!/bin/sh\nexec '" + QFile::encodeName(server->passwordClient())
                                           + "' -o NumberOfPasswordPrompts=1 \"$@\"\n"));
    QFile::setPermissions(oneTry, QFile::ReadOwner | QFile::ExeOwner);
    SSHLink::setProgramForTests(oneTry);
    for (const auto& [host, answer, message] :
         {std::tuple{"nonexistent.invalid", "", "Serveur injoignable. Vérifie le réseau et que Tailscale est lancé."},
          std::tuple{"127.0.0.1", "faux\r",
                     "La connexion a échoué. Vérifie l'hôte, le port, l'utilisateur, puis le mot de passe ou la clé."}}) {
        profile.host = QString::fromLatin1(host);
        open(answer);
        ASSERT_TRUE(ended()) << view().buffer.toStdString();
        EXPECT_EQ(sheet->failed(), QString::fromUtf8(message));
        EXPECT_TRUE(reports.empty());
        EXPECT_EQ(sheet->findChild<QPushButton*>()->text(), QStringLiteral("Fermer"));
        EXPECT_EQ(stored(), QString());
    }
}

TEST_F(ConnectSheetServer, CancelWhileSshWaitsEndsItAndReportsNothing)
{
    open();
    ASSERT_TRUE(QTest::qWaitFor([&] { return view().gotOutput; }, 20000));
    const pid_t ssh = view().process->shellPid();
    ASSERT_GT(ssh, 0);
    sheet->findChild<QCheckBox*>()->setChecked(false);
    EXPECT_FALSE(view().remember);
    QTest::mouseClick(sheet->findChild<QPushButton*>(), Qt::LeftButton);
    EXPECT_TRUE(QTest::qWaitFor([&] { return ::kill(ssh, 0) != 0 && errno == ESRCH; }, 10000));
    QTest::qWait(100);
    EXPECT_EQ(reports, std::vector<std::shared_ptr<SSHLink>>{nullptr});
    EXPECT_FALSE(sheet->failed());
}

// The whole road of a new server: the typed ssh line is saved, the silent connection fails
// (the account takes only a password), the first-connection sheet opens over the servers sheet,
// the password typed into its terminal logs in and is remembered, and the server is attached.
TEST_F(ConnectSheetServer, AQuickConnectLineEndsWithTheServerAttached)
{
    PreferenceStore store{home.file(QStringLiteral("preferences.json"))};
    Prefs prefs{store};
    Notifier notifier{QDBusConnection(QStringLiteral("no-bus"))};
    MacModel model{prefs, &keychain, &notifier};
    ServersView servers(model, std::nullopt, nullptr);
    servers.open();
    servers.quickField->setText(QStringLiteral("ssh -p %1 %2@127.0.0.1").arg(server->port()).arg(test::SshServer::user));
    servers.quickConnect();
    ASSERT_EQ(model.profiles().size(), 1);
    const MacProfile saved = model.profiles().front();
    EXPECT_EQ(saved.port, server->port());
    EXPECT_EQ(saved.host, QStringLiteral("127.0.0.1"));
    EXPECT_TRUE(servers.quickField->text().isEmpty());

    ASSERT_TRUE(QTest::qWaitFor([&] { return servers.connecting != nullptr; }, 30000)) << "no first-connection sheet";
    auto* first = qobject_cast<ConnectSheet*>(servers.connecting.data());
    ASSERT_NE(first, nullptr);
    BootTermView& boot = *first->terminal()->view();
    ASSERT_TRUE(QTest::qWaitFor([&] { return boot.buffer.contains(QStringLiteral("password:")); }, 20000));
    const QByteArray answer = test::SshServer::password + QByteArray("\r");
    boot.sendUserInput(std::span(reinterpret_cast<const std::uint8_t*>(answer.constData()), size_t(answer.size())));

    ASSERT_TRUE(QTest::qWaitFor([&] { return model.connection(saved.id) != nullptr; }, 30000)) << boot.buffer.toStdString();
    EXPECT_EQ(model.connection(saved.id)->link->remoteHome(), server->remoteHome());
    EXPECT_EQ(QCoro::waitFor(keychain.secureRead(QStringLiteral("pwd_") + saved.id)).value_or(QString()),
              QString::fromLatin1(test::SshServer::password));
    EXPECT_TRUE(QTest::qWaitFor([&] { return !servers.isVisible(); }, 10000));
    QCoro::waitFor(model.disconnect(*model.connection(saved.id)));
}

} // namespace
} // namespace halvoren
