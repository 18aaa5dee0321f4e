// The first-connection terminal without ssh: output is handed to the view as ssh would print
// it, keys as the user would type them, and the bytes on their way to ssh are recorded.
#include "ui/BootTermView.h"

#include "app/support/ParamName.h"
#include "app/support/TempFolder.h"
#include "engine/view/qt/ViewTestSupport.h"
#include "platform/SecretStore.h"

#include <QTest>

#include <gtest/gtest.h>

#include <string>

namespace halvoren {
namespace {

struct RecordingBootView : BootTermView {
    explicit RecordingBootView(SecretStore& store) : BootTermView(QRect(0, 0, 600, 260))
    {
        keychain = &store;
        MacProfile profile;
        profile.id = QStringLiteral("p1");
        link = std::make_shared<SSHLink>(profile);
        finished = [this](BootResult result) { results.push_back(std::move(result)); };
    }
    void send(corvantix::TerminalView& source, std::span<const std::uint8_t> data) override
    {
        sent += std::string(data.begin(), data.end());
        BootTermView::send(source, data);
    }
    static std::span<const std::uint8_t> bytes(std::string_view text)
    {
        return {reinterpret_cast<const std::uint8_t*>(text.data()), text.size()};
    }
    void output(std::string_view text) { dataReceived(bytes(text)); }
    void type(std::string_view text) { sendUserInput(bytes(text)); }
    std::string screen() const { return corvantix::testing::screenText(*terminal); }
    std::string sent;
    std::vector<BootResult> results;
};

struct Keychain {
    SecretStore store{std::make_unique<MemorySecretBackend>()};
    std::optional<QString> stored() { return QCoro::waitFor(store.secureRead(QStringLiteral("pwd_p1"))); }
};

TEST(BootTermView, RememberedPasswordIsTypedOnceThenTheUsersAnswerReplacesIt)
{
    Keychain keychain;
    RecordingBootView view(keychain.store);
    view.autofill.emplace(QStringLiteral("mémo"));
    view.output("ana@srv's password: ");
    EXPECT_EQ(view.sent, "mémo\r");
    EXPECT_NE(view.screen().find("(mot de passe mémorisé saisi automatiquement)"), std::string::npos);
    view.output("\r\nPermission denied, please try again.\r\nana@srv's password: ");
    EXPECT_EQ(view.sent, "mémo\r");
    view.type("juste\r");
    view.output("\r\n__HV_READY__:/home/ana\r\n");
    ASSERT_EQ(view.results.size(), 1u);
    EXPECT_EQ(keychain.stored(), QStringLiteral("juste"));
}

struct CaptureCase {
    const char* name;
    const char* prompt;
    const char* typed;
    bool rememberAtMarker;
    const char* stored; // what the keychain holds afterwards; it held "ancien" before
};

void PrintTo(const CaptureCase& c, std::ostream* out) { *out << c.name; }

class BootCapture : public testing::TestWithParam<CaptureCase> {};

TEST_P(BootCapture, StoresWhatWasTypedAfterAPasswordPrompt)
{
    const CaptureCase& c = GetParam();
    Keychain keychain;
    QCoro::waitFor(keychain.store.secureWrite(QStringLiteral("pwd_p1"), QStringLiteral("ancien")));
    RecordingBootView view(keychain.store);
    view.output(c.prompt);
    view.type(c.typed);
    view.remember = c.rememberAtMarker;
    view.output("\r\n__HV_READY__:/home/ana\r\n");
    ASSERT_EQ(view.results.size(), 1u);
    EXPECT_EQ(keychain.stored(), QString::fromUtf8(c.stored));
    EXPECT_EQ(view.sent, c.typed);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, BootCapture,
    testing::Values(CaptureCase{"plain answer", "ana@srv's password: ", "secret\r", true, "secret"},
                    CaptureCase{"any case and blanks", "Password :  ", "secret\n", true, "secret"},
                    CaptureCase{"backspace shortens", "ana@srv's password: ", "secrx\x7ft\bt\r", true, "secrt"},
                    CaptureCase{"accents whole", "ana@srv's password: ", "mdp\xc3\xa9\xe2\x82\xac\x7f!\r", true, "mdpé!"},
                    CaptureCase{"line kill starts over", "ana@srv's password: ", "faux\x15vrai\r", true, "vrai"},
                    CaptureCase{"return alone", "ana@srv's password: ", "\r", true, "ancien"},
                    CaptureCase{"toggle off at the marker", "ana@srv's password: ", "secret\r", false, "ancien"},
                    CaptureCase{"passphrase prompt", "Enter passphrase for key '/home/ana/.ssh/id_ed25519': ", "phrase\r",
                                true, "ancien"},
                    CaptureCase{"prompt no longer last", "ana@srv's password: \r\n", "secret\r", true, "ancien"}),
    test::ParamName());

TEST(BootTermView, MarkerLineMayArriveInPiecesAndTheHomeIsTrimmed)
{
    Keychain keychain;
    RecordingBootView view(keychain.store);
    for (const char* chunk : {"Bienvenue\r\n__HV_REA", "DY__:  /home/andr\xc3", "\xa9 "}) {
        view.output(chunk);
        EXPECT_TRUE(view.results.empty()) << chunk;
    }
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
    EXPECT_NE(view.screen().find("Le serveur ne répond pas encore…"), std::string::npos);
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
    EXPECT_EQ(view.results[0].message.left(22), QStringLiteral("La connexion a échoué."));
}

} // namespace
} // namespace halvoren
