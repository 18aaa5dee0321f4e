// A server tab's place on the shared connection, with a stand-in ssh that plays ssh's part
// on the tab's terminal and logs what it does: the master always answers its check, a tab's
// ssh over it does what the test asks (is refused, or waits for a line), and one that keeps
// off the master asks for the password at ssh's prompt and logs what it was given.
#include "tab/MacTab.h"

#include "app/support/TempFolder.h"
#include "platform/SecretStore.h"
#include "remote/ShellQuote.h"
#include "settings/ProfileStore.h"
#include "engine/view/qt/ViewTestSupport.h"

#include <QFile>
#include <QStandardPaths>

#include <gtest/gtest.h>

#include <memory>

namespace halvoren {
namespace {

using corvantix::testing::screenText;
using corvantix::testing::waitUntil;

constexpr char profileId[] = "p1700000000000002";
constexpr char password[] = "hv-pw-4417";

class StandInSsh : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(folder.valid());
        if (QStandardPaths::findExecutable(QStringLiteral("bash")).isEmpty())
            GTEST_FAIL() << "bash is missing: install the Debian package bash";
        const QByteArray log = shellQuote(folder.file(QStringLiteral("log"))).toUtf8();
        const QByteArray mode = shellQuote(folder.file(QStringLiteral("mode"))).toUtf8();
        // Refused, it answers a SIGTERM as an ssh that had gone on to log in afresh: with a
        // password prompt, and ends a moment later.
        const QByteArray script = "#!/bin/bash\n"
                                  "log=" + log + "\n"
                                  "case \" $* \" in *' -O '*) exit 0;; esac\n"
                                  "if [ \"$2\" = ControlPath=none ]; then\n"
                                  "  echo direct-start >> \"$log\"; stty -echo\n"
                                  "  printf \"hvtest@127.0.0.1's password: \"; read -r -t 4 line\n"
                                  "  echo \"direct:[$line]\" >> \"$log\"; echo; echo attached; exec sleep 60\n"
                                  "fi\n"
                                  "echo riding-start >> \"$log\"\n"
                                  "case $(cat " + mode + ") in\n"
                                  "refuse)\n"
                                  "  trap 'kill $waiting; printf \"hvtest@127.0.0.1'\\''s password: \"; read -r -t 0.5 line;"
                                  " echo \"riding:[$line]\" >> \"$log\"; sleep 1; echo riding-end >> \"$log\"; exit 255' TERM\n"
                                  "  trap '' HUP\n"
                                  "  echo 'mux_client_request_session: session request failed: Session open refused by peer'\n"
                                  "  sleep 60 & waiting=$!; wait $waiting;;\n"
                                  "line)\n"
                                  "  read -r line; echo riding-end >> \"$log\";;\n"
                                  "esac\n";
        ASSERT_TRUE(test::writeAll(folder.file(QStringLiteral("ssh")), script));
        ASSERT_TRUE(QFile::setPermissions(folder.file(QStringLiteral("ssh")),
                                          QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner));
        SSHLink::setProgramForTests(folder.file(QStringLiteral("ssh")));
        MacProfile profile;
        profile.id = QLatin1String(profileId);
        profile.host = QStringLiteral("127.0.0.1");
        profile.username = QStringLiteral("hvtest");
        link = std::make_shared<SSHLink>(profile);
    }
    void TearDown() override { SSHLink::setProgramForTests(QStringLiteral("/usr/bin/ssh")); }
    // What the tab's ssh over the master does: "refuse" or "line".
    void overTheMaster(const char* mode) { ASSERT_TRUE(test::writeAll(folder.file(QStringLiteral("mode")), mode)); }
    std::unique_ptr<MacTab> tab(SecretStore& keychain, const char* name)
    {
        const QString path = QStringLiteral("/srv/") + QLatin1String(name);
        return std::make_unique<MacTab>(link->profile().id, MacProject{QLatin1String(name), path, QStringLiteral("kq-") + QLatin1String(name)},
                                        false, link, &keychain);
    }
    // The stand-ins' log, one entry a line, joined by spaces.
    std::string logged() const
    {
        return QString::fromUtf8(test::readAll(folder.file(QStringLiteral("log")))).split(u'\n', Qt::SkipEmptyParts).join(u' ').toStdString();
    }
    // How often the log holds `entry`.
    int logs(const std::string& entry) const
    {
        const std::string log = logged();
        int count = 0;
        for (std::size_t at = log.find(entry); at != std::string::npos; at = log.find(entry, at + 1))
            ++count;
        return count;
    }
    test::TempFolder folder;
    // The control sockets' folder is made below HOME.
    test::EnvironmentOverride home{"HOME", folder.path()};
    std::shared_ptr<SSHLink> link;
    SecretStore remembered{[] {
        auto backend = std::make_unique<MemorySecretBackend>();
        backend->write(ProfileStore::passwordKey(QLatin1String(profileId)), QString::fromLatin1(password));
        return backend;
    }()};
    SecretStore forgotten{std::make_unique<MemorySecretBackend>()};
};

// Once a refusal has shown that the master has no session for tabs, a new tab keeps off it
// while the master is live, and ssh asks it for the password: the remembered one is typed at
// that prompt.
TEST_F(StandInSsh, ATabBeyondTheBudgetOverALiveMasterGetsThePasswordAtSshsPrompt)
{
    overTheMaster("refuse");
    std::unique_ptr<MacTab> refused = tab(forgotten, "a");
    refused->start();
    ASSERT_TRUE(waitUntil([&] { return link->sharedSessions().limit() == 1; }, 10000)) << logged();
    ASSERT_EQ(SharedSessions::tabBudget(1), 0);

    std::unique_ptr<MacTab> beyond = tab(remembered, "b");
    beyond->start();
    ASSERT_TRUE(waitUntil([&] { return logs("direct:") == 1; }, 10000)) << logged();
    EXPECT_EQ(logs(std::string("direct:[") + password + ']'), 1) << logged();
    EXPECT_FALSE(beyond->ridesSharedConnection());
    EXPECT_TRUE(waitUntil([&] { return screenText(*beyond->terminal->terminal).find("attached") != std::string::npos; }, 10000));
    EXPECT_EQ(link->sharedSessions().tabSessions(), 0);
    refused->stop();
    beyond->stop();
}

// A tab refused by the master moves off it: its new ssh starts only once the old one has
// ended, so the prompt the old one printed on its way out gets nothing, and the password is
// typed once, at the new ssh's own prompt.
TEST_F(StandInSsh, ATabMovedOffStartsItsNewSshOnceTheOldOneEnded)
{
    overTheMaster("refuse");
    std::unique_ptr<MacTab> moved = tab(remembered, "a");
    int exits = 0;
    moved->onExit = [&](MacTab&) { ++exits; };
    moved->start();
    ASSERT_TRUE(waitUntil([&] { return logs("direct:") == 1; }, 15000)) << logged();
    EXPECT_EQ(logged(), std::string("riding-start riding:[] riding-end direct-start direct:[") + password + ']');
    EXPECT_TRUE(moved->isLive());
    EXPECT_EQ(exits, 0);
    EXPECT_FALSE(moved->ridesSharedConnection());
    EXPECT_EQ(link->sharedSessions().tabSessions(), 0);
    moved->stop();
}

// A tab's ssh that ends by itself gives its session on the master back, though the tab stays.
TEST_F(StandInSsh, ATabWhoseSshEndedGivesItsPlaceBack)
{
    overTheMaster("line");
    std::unique_ptr<MacTab> riding = tab(forgotten, "a");
    int exits = 0;
    riding->onExit = [&](MacTab&) { ++exits; };
    riding->start();
    ASSERT_TRUE(waitUntil([&] { return logs("riding-start") == 1; }, 10000));
    EXPECT_TRUE(riding->ridesSharedConnection());
    EXPECT_EQ(link->sharedSessions().tabSessions(), 1);
    riding->terminal->send(std::string_view("\r"));
    ASSERT_TRUE(waitUntil([&] { return exits == 1; }, 10000)) << logged();
    EXPECT_FALSE(riding->isLive());
    EXPECT_EQ(link->sharedSessions().tabSessions(), 0);
    EXPECT_FALSE(riding->ridesSharedConnection());
}

} // namespace
} // namespace halvoren
