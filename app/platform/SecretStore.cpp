#include "platform/SecretStore.h"

#include <QtConcurrent/QtConcurrentRun>
#include <qcoro/qcorofuture.h>

#include <libsecret/secret.h>

namespace halvoren {

namespace {

const SecretSchema* keychainSchema()
{
    // Matched on the attributes alone, so items written under another schema name by an
    // earlier version still answer.
    static const SecretSchema schema = {
        "org.halvoren.Keychain",
        SECRET_SCHEMA_DONT_MATCH_NAME,
        {
            {"service", SECRET_SCHEMA_ATTRIBUTE_STRING},
            {"account", SECRET_SCHEMA_ATTRIBUTE_STRING},
            {nullptr, SECRET_SCHEMA_ATTRIBUTE_STRING},
        },
        0, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr,
    };
    return &schema;
}

SecretOutcome unavailable(GError* error)
{
    SecretOutcome outcome{SecretStatus::unavailable, {}, QString::fromUtf8(error->message)};
    g_error_free(error);
    return outcome;
}

} // namespace

SecretOutcome LibsecretBackend::read(const QString& key)
{
    const QByteArray account = key.toUtf8();
    GError* error = nullptr;
    gchar* secret = secret_password_lookup_sync(keychainSchema(), nullptr, &error, "service", keychainService,
                                                "account", account.constData(), nullptr);
    if (error != nullptr)
        return unavailable(error);
    if (secret == nullptr)
        return {SecretStatus::notFound, {}, {}};
    const QByteArray bytes(secret);
    secret_password_free(secret);
    // Bytes that are not UTF-8 read as no item.
    const QString text = QString::fromUtf8(bytes);
    if (text.toUtf8() != bytes)
        return {SecretStatus::notFound, {}, {}};
    return {SecretStatus::ok, text, {}};
}

SecretOutcome LibsecretBackend::write(const QString& key, const QString& value)
{
    const QByteArray account = key.toUtf8();
    const QByteArray label = "Halvoren: " + account;
    const QByteArray secret = value.toUtf8();
    GError* error = nullptr;
    const gboolean stored = secret_password_store_sync(keychainSchema(), SECRET_COLLECTION_DEFAULT,
                                                       label.constData(), secret.constData(), nullptr, &error,
                                                       "service", keychainService, "account",
                                                       account.constData(), nullptr);
    if (error != nullptr)
        return unavailable(error);
    if (!stored)
        return {SecretStatus::unavailable, {}, QStringLiteral("the item was not stored")};
    return {SecretStatus::ok, {}, {}};
}

SecretOutcome LibsecretBackend::remove(const QString& key)
{
    const QByteArray account = key.toUtf8();
    GError* error = nullptr;
    const gboolean removed = secret_password_clear_sync(keychainSchema(), nullptr, &error, "service",
                                                        keychainService, "account", account.constData(), nullptr);
    if (error != nullptr)
        return unavailable(error);
    return {removed ? SecretStatus::ok : SecretStatus::notFound, {}, {}};
}

SecretOutcome MemorySecretBackend::read(const QString& key)
{
    std::lock_guard guard(lock);
    if (!isAvailable)
        return {SecretStatus::unavailable, {}, QStringLiteral("no Secret Service in this test")};
    const auto found = stored.constFind(key);
    if (found == stored.constEnd())
        return {SecretStatus::notFound, {}, {}};
    return {SecretStatus::ok, *found, {}};
}

SecretOutcome MemorySecretBackend::write(const QString& key, const QString& value)
{
    std::lock_guard guard(lock);
    if (!isAvailable)
        return {SecretStatus::unavailable, {}, QStringLiteral("no Secret Service in this test")};
    stored.insert(key, value);
    return {SecretStatus::ok, {}, {}};
}

SecretOutcome MemorySecretBackend::remove(const QString& key)
{
    std::lock_guard guard(lock);
    if (!isAvailable)
        return {SecretStatus::unavailable, {}, QStringLiteral("no Secret Service in this test")};
    return {stored.remove(key) > 0 ? SecretStatus::ok : SecretStatus::notFound, {}, {}};
}

void MemorySecretBackend::setAvailable(bool available)
{
    std::lock_guard guard(lock);
    isAvailable = available;
}

QHash<QString, QString> MemorySecretBackend::items() const
{
    std::lock_guard guard(lock);
    return stored;
}

SecretStore::SecretStore(std::unique_ptr<SecretBackend> store) : backend(std::move(store))
{
    // One thread: calls reach the service in the order they were made.
    worker.setMaxThreadCount(1);
    worker.setExpiryTimeout(-1);
}

SecretStore::~SecretStore()
{
    worker.waitForDone();
}

SecretStore& SecretStore::standard()
{
    static SecretStore store(std::make_unique<LibsecretBackend>());
    return store;
}

// Jobs are named futures: a temporary lambda inside an awaited expression is destroyed
// twice by g++ 12.
QCoro::Task<SecretOutcome> SecretStore::readItem(QString key)
{
    SecretBackend* target = backend.get();
    QFuture<SecretOutcome> outcome = QtConcurrent::run(&worker, [target, key] { return target->read(key); });
    co_return co_await outcome;
}

QCoro::Task<SecretOutcome> SecretStore::writeItem(QString key, QString value)
{
    SecretBackend* target = backend.get();
    QFuture<SecretOutcome> outcome = QtConcurrent::run(&worker, [target, key, value] { return target->write(key, value); });
    co_return co_await outcome;
}

QCoro::Task<std::optional<QString>> SecretStore::secureRead(QString key)
{
    QCoro::Task<SecretOutcome> reading = readItem(std::move(key));
    const SecretOutcome result = co_await std::move(reading);
    if (result.status != SecretStatus::ok)
        co_return std::nullopt;
    co_return result.value;
}

QCoro::Task<bool> SecretStore::serviceAvailable()
{
    // No item is stored under the empty account: only whether the service answers counts.
    QCoro::Task<SecretOutcome> reading = readItem(QString());
    const SecretOutcome result = co_await std::move(reading);
    co_return result.status != SecretStatus::unavailable;
}

QCoro::Task<> SecretStore::secureWrite(QString key, QString value)
{
    QCoro::Task<SecretOutcome> writing = writeItem(std::move(key), std::move(value));
    co_await std::move(writing);
}

QCoro::Task<> SecretStore::secureDelete(QString key)
{
    SecretBackend* target = backend.get();
    QFuture<SecretOutcome> outcome = QtConcurrent::run(&worker, [target, key] { return target->remove(key); });
    co_await outcome;
}

} // namespace halvoren
