// The first-connection terminal, first without ssh (output handed to the view as ssh would
// print it, keys as the user would type them, the bytes on their way to ssh recorded), then the
// sheet against a real sshd on 127.0.0.1 (see SshServer.h) with the password-only account.
#include "ui/BootTermView.h"
#include "ui/ConnectSheet.h"
#include "ui/ServersView.h"

#include "ViewsWorkspace.h"
#include "app/remote/SshServer.h"

#include <QCheckBox>
#include <QLineEdit>
#include <QPushButton>
#include <QTest>

#include <cerrno>
#include <csignal>
#include <string>

namespace halvoren {
namespace {

std::span<const std::uint8_t> bytes(std::string_view text)
{
    return {reinterpret_cast<const std::uint8_t*>(text.data()), text.size()};
}

std::string screen(BootTermView& view) { return corvantix::testing::screenText(*view.terminal); }

struct RecordingBootView : BootTermView {
    explicit RecordingBootView(SecretStore& store) : BootTermView(QRect(0, 0, 600, 260))
    {
        keychain = &store;
        link = std::make_shared<SSHLink>(test::ViewsWorkspace::profile(QStringLiteral("p1")));
        finished = [this](BootResult result) { results.push_back(std::move(result)); };
    }
    void send(corvantix::TerminalView& source, std::span<const std::uint8_t> data) override
    {
        sent += std::string(data.begin(), data.end());
        BootTermView::send(source, data);
    }
    void output(std::string_view text) { dataReceived(bytes(text)); }
    void type(std::string_view text) { sendUserInput(bytes(text)); }
    std::string sent;
    std::vector<BootResult> results;
};

struct Keychain {
    SecretStore store{std::make_unique<MemorySecretBackend>()};
    std::optional<QString> stored() { return QCoro::waitFor(store.secureRead(QStringLiteral("pwd_p1"))); }
};

TEST(BootTermView, StoresWhatWasTypedAfterAPasswordPrompt)
{
    const char* prompt = "ana@srv's password: ";
    // The prompt, what is typed, the toggle at the marker, and what the keychain holds after
    // (it held "ancien" before).
    for (const auto& [shown, typed, remember, stored] :
         {std::tuple{prompt, "secret\r", true, "secret"}, {"Password :  ", "secret\n", true, "secret"},
          {prompt, "secrx\x7ft\bt\r", true, "secrt"}, {prompt, "mdp\xc3\xa9\xe2\x82\xac\x7f!\r", true, "mdpé!"},
          {prompt, "faux\x15vrai\r", true, "vrai"}, {prompt, "\r", true, "ancien"}, {prompt, "secret\r", false, "ancien"},
          {"Enter passphrase for key '/home/ana/.ssh/id_ed25519': ", "phrase\r", true, "ancien"},
          {"ana@srv's password: \r\n", "secret\r", true, "ancien"}}) {
        SCOPED_TRACE(testing::Message() << shown << " then " << testing::PrintToString(std::string(typed)));
        Keychain keychain;
        QCoro::waitFor(keychain.store.secureWrite(QStringLiteral("pwd_p1"), QStringLiteral("ancien")));
        RecordingBootView view(keychain.store);
        view.output(shown);
        view.type(typed);
        view.remember = remember;
        view.output("\r\n__HV_READY__:/home/ana\r\n");
        ASSERT_EQ(view.results.size(), 1u);
        EXPECT_EQ(keychain.stored(), QString::fromUtf8(stored));
        EXPECT_EQ(view.sent, typed);
    }
}

TEST(BootTermView, RememberedPasswordIsTypedOnceThenTheUsersAnswerReplacesIt)
{
    Keychain keychain;
    RecordingBootView view(keychain.store);
    view.autofill.emplace(QStringLiteral("mémo"));
    view.output("ana@srv's password: ");
    EXPECT_EQ(view.sent, "mémo\r");
    EXPECT_NE(screen(view).find("(mot de passe mémorisé saisi automatiquement)"), std::string::npos);
    view.output("\r\nPermission denied, please try again.\r\nana@srv's password: ");
    EXPECT_EQ(view.sent, "mémo\r");
    view.type("juste\r");
    view.output("\r\n__HV_READY__:/home/ana\r\n");
    ASSERT_EQ(view.results.size(), 1u);
    EXPECT_EQ(keychain.stored(), QStringLiteral("juste"));
}

TEST(BootTermView, MarkerLineMayArriveInPiecesAndTheHomeIsTrimmed)
{
    Keychain keychain;
    RecordingBootView view(keychain.store);
    for (const char* chunk : {"Bienvenue\r\n__HV_REA", "DY__:  /home/andr\xc3", "\xa9 "})
        view.output(chunk);
    EXPECT_TRUE(view.results.empty());
    view.output("\r\n");
    ASSERT_EQ(view.results.size(), 1u);
    ASSERT_TRUE(view.results[0].succeeded());
    EXPECT_EQ(view.results[0].link->remoteHome(), QStringLiteral("/home/andré"));
    view.bootExited();
    EXPECT_EQ(view.results.size(), 1u);
}

TEST(BootTermView, EndOfSshIsReportedOnceAndTheBufferStaysBounded)
{
    Keychain keychain;
    RecordingBootView view(keychain.store);
    view.bootWatchdog();
    EXPECT_NE(screen(view).find("Le serveur ne répond pas encore…"), std::string::npos);
    view.output(std::string(3 * BootTermView::bufferLimit, 'x'));
    EXPECT_EQ(view.buffer.size(), BootTermView::bufferLimit);
    view.output("\r\nssh: connect to host srv port 22: connection REFUSED\r\n");
    view.bootExited();
    view.bootExited();
    ASSERT_EQ(view.results.size(), 1u);
    EXPECT_EQ(view.results[0].message, QStringLiteral("Serveur injoignable. Vérifie le réseau et que Tailscale est lancé."));
}

TEST(BootTermView, HostThatSshWouldReadAsAnOptionFailsWithoutStartingIt)
{
    test::TempFolder home;
    test::EnvironmentOverride environment("HOME", home.path());
    Keychain keychain;
    RecordingBootView view(keychain.store);
    MacProfile profile;
    profile.host = QStringLiteral("-oProxyCommand=false");
    view.bootStart(profile, view.finished);
    ASSERT_TRUE(QTest::qWaitFor([&] { return !view.results.empty(); }, 5000));
    EXPECT_EQ(view.process->shellPid(), 0);
    EXPECT_TRUE(view.results[0].message.startsWith(QStringLiteral("La connexion a échoué.")));
}

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
        sheet->keychain = &w.keychain;
        sheet->open();
        if (!answer.isEmpty())
            typeAtPrompt(view(), answer);
    }
    static void typeAtPrompt(BootTermView& boot, const QByteArray& answer)
    {
        ASSERT_TRUE(QTest::qWaitFor([&] { return boot.buffer.contains(QStringLiteral("password:")); }, 20000));
        boot.sendUserInput(bytes(answer.toStdString()));
    }
    bool ended() { return QTest::qWaitFor([&] { return !reports.empty() || sheet->failed(); }, 20000); }
    BootTermView& view() { return *sheet->terminal()->view(); }

    static test::SshServer* server;
    // The control sockets live below HOME: keep it short. The model asks the real server.
    test::TempFolder home;
    test::EnvironmentOverride environment{"HOME", home.path()};
    test::ViewsWorkspace w{QString(), false};
    MacProfile profile = server->profile();
    std::unique_ptr<ConnectSheet> sheet;
    std::vector<std::shared_ptr<SSHLink>> reports;
};

test::SshServer* ConnectSheetServer::server = nullptr;

// The whole road of a new server: the typed ssh line is saved, the silent connection fails
// (the account takes only a password), the first-connection sheet opens over the servers sheet,
// the password typed into its terminal logs in and is remembered, and the server is attached.
// Next time the remembered password is typed once, by the sheet.
TEST_F(ConnectSheetServer, AQuickConnectLineEndsWithTheServerAttachedAndThePasswordRemembered)
{
    ServersView servers(w.model, std::nullopt, nullptr);
    servers.open();
    servers.quickField->setText(QStringLiteral("ssh -p %1 %2@127.0.0.1").arg(server->port()).arg(test::SshServer::user));
    servers.quickConnect();
    ASSERT_EQ(w.model.profiles().size(), 1);
    profile = w.model.profiles().front();
    EXPECT_EQ(profile.port, server->port());
    EXPECT_EQ(profile.host, QStringLiteral("127.0.0.1"));
    EXPECT_TRUE(servers.quickField->text().isEmpty());

    ASSERT_TRUE(QTest::qWaitFor([&] { return servers.connecting != nullptr; }, 30000)) << "no first-connection sheet";
    auto* first = qobject_cast<ConnectSheet*>(servers.connecting.data());
    ASSERT_NE(first, nullptr);
    BootTermView& boot = *first->terminal()->view();
    typeAtPrompt(boot, test::SshServer::password + QByteArray("\r"));
    ASSERT_TRUE(QTest::qWaitFor([&] { return w.model.connection(profile.id) != nullptr; }, 30000))
        << boot.buffer.toStdString();
    MacConnection& attached = *w.model.connection(profile.id);
    EXPECT_EQ(attached.link->remoteHome(), server->remoteHome());
    EXPECT_EQ(w.password(profile.id), QString::fromLatin1(test::SshServer::password));
    EXPECT_TRUE(QTest::qWaitFor([&] { return !servers.isVisible(); }, 10000));
    // The login opened the shared connection: a batch command, which never asks for a
    // password, rides on it.
    const ShellResult<QString> echoed = QCoro::waitFor(attached.link->runCommand(QStringLiteral("echo ok"), std::nullopt, 25));
    EXPECT_EQ(echoed ? echoed.value() : echoed.error().message, QStringLiteral("ok\n"));
    QCoro::waitFor(w.model.disconnect(attached));
    QCoro::waitFor(SSHLink(profile).closeMaster());

    open();
    ASSERT_TRUE(ended()) << view().buffer.toStdString();
    ASSERT_NE(reports[0], nullptr) << view().buffer.toStdString();
    EXPECT_FALSE(sheet->isVisible());
    EXPECT_EQ(view().buffer.count(QStringLiteral("password:")), 1);
    EXPECT_NE(screen(view()).find("(mot de passe mémorisé saisi automatiquement)"), std::string::npos);
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
        EXPECT_FALSE(w.password(profile.id).has_value());
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

} // namespace
} // namespace halvoren
