// The saved servers when the keychain is locked at start-up, on a real Secret Service (run by
// run-with-keyring.sh): as on a desktop that logs in without unlocking it, and whose unlock
// prompt was dismissed (here no prompt can be shown at all).
#include "workspace/MacModel.h"

#include "app/support/GatedSecrets.h"
#include "app/support/PrivateKeyring.h"
#include "app/support/TempFolder.h"
#include "app/support/WorkspaceModel.h"
#include "engine/platform/LogCapture.h"
#include "platform/Notifier.h"
#include "remote/SSHLink.h"
#include "settings/ProfileStore.h"

#include <QDBusConnection>
#include <QSet>

#include <string>

#include <gtest/gtest.h>

namespace halvoren {
namespace {

using test::ready;
using test::ids;

MacProfile server(const char* id)
{
    MacProfile p;
    p.id = QString::fromUtf8(id);
    p.host = QStringLiteral("keyring-host.invalid");
    p.name = p.id;
    return p;
}

// The servers the keychain holds, as read by the run's own store.
QStringList storedIDs(SecretStore& secrets)
{
    const SecretOutcome stored = QCoro::waitFor(secrets.readItem(ProfileStore::profilesKey));
    return ids(decodeProfiles(stored.value).profiles);
}

// ssh fails at once: connections are attempted and nothing reaches a network.
struct NoSsh {
    const QString previous = SSHLink::program();
    NoSsh() { SSHLink::setProgramForTests(QStringLiteral("/bin/false")); }
    ~NoSsh() { SSHLink::setProgramForTests(previous); }
};


// One run of the application over a configuration folder that outlives it; this computer has
// no tmux and no projects, so the start waits for nothing but the keychain.
struct AppRun {
    SecretStore secrets{std::make_unique<LibsecretBackend>()};
    ProfileStore store;
    PreferenceStore preferences;
    Prefs prefs{preferences};
    Notifier notifier{QDBusConnection(QStringLiteral("no-bus"))};
    MacModel model{prefs, nullptr, &notifier};

    explicit AppRun(const QString& folder) : store(secrets, folder), preferences(folder + QStringLiteral("/preferences.json"))
    {
        model.runScript = [](MacConnection&, QString script, double) { return ready(ShellResult<QString>(test::ranToItsEnd(script))); };
        model.listFolders = [](MacConnection&, QString) { return ready(std::optional<QStringList>()); };
        model.profileStore = &store;
    }
    ~AppRun() { model.profileStore = nullptr; }
    void start()
    {
        ASSERT_TRUE(test::endsWithin(model.start(), 20000));
        ASSERT_TRUE(QTest::qWaitFor([this] { return !model.profilesLoading(); }, 20000));
    }
};

// The keychain held s1–s3, connected at the last quit, and is locked at start-up. The load
// counts as refused: the user adds and connects x4, something unlocks the keychain, the user
// adds x5, and the stored list is left alone all along; the remembered servers stay
// remembered beside x4. The next start, unlocked, shows them all and reconnects them.
TEST(LockedKeychain, AStartWithTheKeychainLockedKeepsItsServers)
{
    ASSERT_TRUE(test::inPrivateKeyring()) << "run this test through run-with-keyring.sh";
    const NoSsh noSsh;
    test::TempFolder folder;
    const QStringList stored = {"s1", "s2", "s3"};
    {
        SecretStore secrets(std::make_unique<LibsecretBackend>());
        ASSERT_EQ(QCoro::waitFor(secrets.writeItem(ProfileStore::profilesKey,
                                                   encodeProfiles({server("s1"), server("s2"), server("s3")})))
                      .status,
                  SecretStatus::ok);
    }
    {
        AppRun first(folder.path());
        first.prefs.setConnectedProfiles(stored);
        ASSERT_TRUE(test::lockKeyring());
        corvantix::LogCapture log;
        first.start();
        EXPECT_TRUE(first.model.profiles().isEmpty());
        EXPECT_TRUE(first.store.loadWasRefused());
        const std::string logged = log.take();
        std::size_t told = 0;
        for (std::size_t at = logged.find("keychain is locked"); at != std::string::npos;
             at = logged.find("keychain is locked", at + 1))
            ++told;
        EXPECT_EQ(told, 1u) << "the user is not told once why the servers are missing:\n" << logged;

        const MacProfile x4 = server("x4");
        first.model.saveProfile(x4);
        auto link = std::make_shared<SSHLink>(x4);
        link->setRemoteHome(QStringLiteral("/home/ana"));
        QCoro::waitFor(first.model.attachConnection(link));
        ASSERT_NE(first.model.connection(x4.id), nullptr);
        EXPECT_EQ(first.prefs.connectedProfiles(), QStringList({"x4", "s1", "s2", "s3"}))
            << "a connection wrote the servers of the last quit away";

        ASSERT_TRUE(test::unlockKeyring());
        first.model.saveProfile(server("x5"));
        EXPECT_TRUE(QTest::qWaitFor([&] { return test::readAll(first.store.fallbackPath()).contains("x5"); }, 10000));
        EXPECT_EQ(storedIDs(first.secrets), stored) << "a list built without the stored one replaced it";
    }

    AppRun second(folder.path());
    QSet<QString> attempted;
    QObject::connect(&second.model, &MacModel::reconnectingChanged, [&] { attempted.unite(second.model.reconnecting()); });
    second.start();
    const QStringList all = QStringList(stored) << "x4" << "x5";
    EXPECT_EQ(ids(second.model.profiles()), all);
    EXPECT_TRUE(QTest::qWaitFor([&] { return storedIDs(second.secrets) == all; }, 10000));
    const QSet<QString> remembered = {"s1", "s2", "s3", "x4"};
    EXPECT_TRUE(QTest::qWaitFor([&] { return attempted == remembered && second.model.reconnecting().isEmpty(); }, 20000))
        << QStringList(attempted.cbegin(), attempted.cend()).join(u',').toStdString();
}

} // namespace
} // namespace halvoren
