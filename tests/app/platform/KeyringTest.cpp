// The keychain on a real Secret Service: run by run-with-keyring.sh inside a private D-Bus
// session whose unlocked keyring lives in a temporary HOME.
#include "settings/ProfileStore.h"
#include "platform/PreferenceStore.h"
#include "platform/SecretStore.h"

#include "app/support/PrivateKeyring.h"

#include <QDirIterator>
#include <QFile>

#include <functional>

#include <gtest/gtest.h>

#include <libsecret/secret.h>

namespace halvoren {
namespace {

const SecretSchema* genericSchema()
{
    static const SecretSchema schema = {
        "org.freedesktop.Secret.Generic", SECRET_SCHEMA_DONT_MATCH_NAME,
        {{"service", SECRET_SCHEMA_ATTRIBUTE_STRING}, {"account", SECRET_SCHEMA_ATTRIBUTE_STRING}, {nullptr, SECRET_SCHEMA_ATTRIBUTE_STRING}},
        0, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr};
    return &schema;
}

// Reads an item by its two attributes alone, the way any other Secret Service client would.
std::optional<QString> lookUpByAttributes(const char* account)
{
    gchar* value = secret_password_lookup_sync(genericSchema(), nullptr, nullptr, "service", "flutter_secure_storage_service",
                                               "account", account, nullptr);
    if (value == nullptr)
        return std::nullopt;
    const QString text = QString::fromUtf8(value);
    secret_password_free(value);
    return text;
}

int itemCount(const char* account)
{
    GList* items = secret_password_search_sync(genericSchema(), SECRET_SEARCH_ALL, nullptr, nullptr, "service",
                                               "flutter_secure_storage_service", "account", account, nullptr);
    const int count = static_cast<int>(g_list_length(items));
    g_list_free_full(items, g_object_unref);
    return count;
}

TEST(SecretServiceKeyring, ProfilesAndPasswordsLiveOnlyInTheKeyring)
{
    const QString home = qEnvironmentVariable("HOME");
    ASSERT_TRUE(test::inPrivateKeyring()) << "run this test through run-with-keyring.sh";
    SecretStore secrets(std::make_unique<LibsecretBackend>());
    const SecretOutcome probe = QCoro::waitFor(secrets.writeItem(QStringLiteral("probe"), QStringLiteral("x")));
    ASSERT_EQ(probe.status, SecretStatus::ok) << probe.error.toStdString();
    QCoro::waitFor(secrets.secureDelete(QStringLiteral("probe")));
    const MacProfile profile{.id = QStringLiteral("p1733500000000000"), .name = QStringLiteral("Serveur de prod é"),
                             .host = QStringLiteral("keyring-host.invalid"), .port = 2201, .username = QStringLiteral("ana")};
    ProfileStore store(secrets, configDirectory());
    QCoro::waitFor(store.saveProfiles({profile}));
    EXPECT_EQ(QCoro::waitFor(store.loadProfiles()), QList<MacProfile>{profile});
    EXPECT_EQ(lookUpByAttributes("profiles_v2"), encodeProfiles({profile}));
    const QString passwordKey = ProfileStore::passwordKey(profile.id);
    const QString password = QStringLiteral("Pässwörd-4417-unique");
    QCoro::waitFor(secrets.secureWrite(passwordKey, QStringLiteral("first-attempt-4417")));
    QCoro::waitFor(secrets.secureWrite(passwordKey, password));
    EXPECT_EQ(QCoro::waitFor(secrets.secureRead(passwordKey)), password);
    EXPECT_EQ(lookUpByAttributes("pwd_p1733500000000000"), password);
    EXPECT_EQ(itemCount("pwd_p1733500000000000"), 1);
    // Nothing outside the keyring's encrypted file holds the password or the profile list,
    // and the keyring file itself holds neither in clear.
    EXPECT_FALSE(QFile::exists(store.fallbackPath()));
    QDirIterator files(home, QDir::Files | QDir::Hidden | QDir::System, QDirIterator::Subdirectories);
    while (files.hasNext()) {
        const QString path = files.next();
        QFile file(path);
        const QByteArray bytes = file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
        EXPECT_FALSE(bytes.contains(password.toUtf8())) << path.toStdString();
        EXPECT_FALSE(bytes.contains("first-attempt-4417")) << path.toStdString();
        EXPECT_FALSE(bytes.contains("keyring-host.invalid")) << path.toStdString();
    }
    QCoro::waitFor(secrets.secureDelete(passwordKey));
    EXPECT_EQ(QCoro::waitFor(secrets.secureRead(passwordKey)), std::nullopt);
    EXPECT_EQ(lookUpByAttributes("pwd_p1733500000000000"), std::nullopt);
}

// The store's calls run on several threads at once: the service gets them all, and each key
// keeps the last value written to it.
TEST(SecretServiceKeyring, CallsOnManyKeysAtOnceAllLand)
{
    SecretStore secrets(std::make_unique<LibsecretBackend>());
    std::vector<QCoro::Task<SecretOutcome>> writes;
    for (int round = 0; round < 2; ++round) {
        for (int key = 0; key < 12; ++key)
            writes.push_back(secrets.writeItem(QStringLiteral("many_%1").arg(key), QStringLiteral("v%1-%2").arg(key).arg(round)));
    }
    for (QCoro::Task<SecretOutcome>& write : writes)
        EXPECT_EQ(QCoro::waitFor(std::move(write)).status, SecretStatus::ok);
    for (int key = 0; key < 12; ++key) {
        const QByteArray account = QStringLiteral("many_%1").arg(key).toUtf8();
        EXPECT_EQ(lookUpByAttributes(account.constData()), QStringLiteral("v%1-1").arg(key));
        EXPECT_EQ(itemCount(account.constData()), 1);
        QCoro::waitFor(secrets.secureDelete(QString::fromUtf8(account)));
    }
}

// Unlocks the keyring when the test ends, however it ends, for the tests after it.
struct UnlockAtEnd {
    ~UnlockAtEnd() { EXPECT_TRUE(test::unlockKeyring()); }
};

// A locked keychain (its unlock prompt dismissed, or none that can be shown, as here) is not
// an empty one: every call says it is locked, and the keychain still counts as there, since a
// write just asks to unlock it. Once unlocked, only an item never written is absent.
TEST(SecretServiceKeyring, ALockedKeychainIsToldFromAnEmptyOne)
{
    ASSERT_TRUE(test::inPrivateKeyring()) << "run this test through run-with-keyring.sh";
    SecretStore secrets(std::make_unique<LibsecretBackend>());
    ASSERT_EQ(QCoro::waitFor(secrets.writeItem(QStringLiteral("locked_kept"), QStringLiteral("kept"))).status,
              SecretStatus::ok);
    const struct {
        const char* name;
        std::function<QCoro::Task<SecretOutcome>()> call;
        SecretStatus unlocked;
    } cases[] = {
        {"read of a stored item", [&] { return secrets.readItem(QStringLiteral("locked_kept")); }, SecretStatus::ok},
        {"read of an item never written", [&] { return secrets.readItem(QStringLiteral("locked_never")); },
         SecretStatus::notFound},
        {"write", [&] { return secrets.writeItem(QStringLiteral("locked_written"), QStringLiteral("w")); },
         SecretStatus::ok},
        {"removal of an item never written", [&] { return secrets.removeItem(QStringLiteral("locked_never")); },
         SecretStatus::notFound},
    };
    {
        ASSERT_TRUE(test::lockKeyring());
        const UnlockAtEnd unlocking;
        for (const auto& test : cases) {
            const SecretOutcome outcome = QCoro::waitFor(test.call());
            EXPECT_EQ(outcome.status, SecretStatus::locked) << test.name << ": " << outcome.error.toStdString();
        }
        EXPECT_TRUE(QCoro::waitFor(secrets.serviceAvailable()));
    }
    for (const auto& test : cases)
        EXPECT_EQ(QCoro::waitFor(test.call()).status, test.unlocked) << test.name << ", unlocked";
    EXPECT_EQ(QCoro::waitFor(secrets.secureRead(QStringLiteral("locked_kept"))), QStringLiteral("kept"));
    for (const char* key : {"locked_kept", "locked_written"})
        QCoro::waitFor(secrets.secureDelete(QString::fromUtf8(key)));
}

// A keyring daemon that restarts during a run (a desktop session's may): every kind of call
// made after it reaches the new daemon, so a password saved then is kept.
TEST(SecretServiceKeyring, CallsAfterTheDaemonRestartedReachTheNewOne)
{
    ASSERT_TRUE(test::inPrivateKeyring()) << "run this test through run-with-keyring.sh";
    // The connection libsecret keeps is made anew, as at the start of a run: a write is then
    // refused for the old daemon's session, and a read or a removal for its bus name.
    secret_service_disconnect();
    SecretStore secrets(std::make_unique<LibsecretBackend>());
    const QString key = QStringLiteral("pwd_p1733500000000099");
    const QString password = QStringLiteral("Pässwörd-after-restart");
    ASSERT_EQ(QCoro::waitFor(secrets.writeItem(key, QStringLiteral("before"))).status, SecretStatus::ok);
    const struct {
        const char* name;
        bool restartFirst;
        std::function<QCoro::Task<SecretOutcome>()> call;
        SecretStatus status;
        QString value;
    } steps[] = {
        {"a password saved", true, [&] { return secrets.writeItem(key, password); }, SecretStatus::ok, {}},
        {"then read back", false, [&] { return secrets.readItem(key); }, SecretStatus::ok, password},
        {"a password read", true, [&] { return secrets.readItem(key); }, SecretStatus::ok, password},
        {"a password deleted", true, [&] { return secrets.removeItem(key); }, SecretStatus::ok, {}},
        {"then read", false, [&] { return secrets.readItem(key); }, SecretStatus::notFound, {}},
    };
    for (const auto& step : steps) {
        SCOPED_TRACE(step.name);
        if (step.restartFirst) {
            ASSERT_TRUE(test::restartKeyringDaemon());
        }
        const SecretOutcome outcome = QCoro::waitFor(step.call());
        EXPECT_EQ(outcome.status, step.status) << outcome.error.toStdString();
        EXPECT_EQ(outcome.value, step.value);
    }
}

} // namespace
} // namespace halvoren
