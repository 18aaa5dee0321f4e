// The keychain: text items kept by the desktop's Secret Service (org.freedesktop.secrets),
// each item named by the service "flutter_secure_storage_service" and an account (the key).
//
// A backend does the blocking work on the store's own threads; callers on the main thread
// await the results and never block. A Secret Service may never answer a call (one that waits
// for a prompt no desktop shows): such a call counts as failed once the store's bound has
// passed, later calls do not wait behind it, and the store's end does not wait for it. Calls
// on one key still reach the service in the order they were made, so the last value written
// is the one kept.
// Nothing here writes a log line: values must never reach one, and callers decide what a
// missing service means to them.
#pragma once

#include <QHash>
#include <QString>

#include <qcoro/qcorotask.h>

#include <chrono>
#include <memory>
#include <mutex>
#include <optional>

namespace halvoren {

inline constexpr const char* keychainService = "flutter_secure_storage_service";

enum class SecretStatus {
    ok,
    notFound,
    // No Secret Service answered (no session bus, no keyring daemon), or it refused the call.
    unavailable,
    // The service is there but its collection is locked (an unlock prompt dismissed, or none
    // could be shown): whether it holds the item cannot be told.
    locked,
    // The service took the call but gave no answer within the store's bound.
    unanswered,
};

// The result of one call: the value read, and the service's reason when it was unavailable.
struct SecretOutcome {
    SecretStatus status = SecretStatus::notFound;
    QString value;
    QString error;
};

// Blocking access to one store of items. Called from several threads at once; two writes of
// one key never overlap.
class SecretBackend {
public:
    virtual ~SecretBackend() = default;
    virtual SecretOutcome read(const QString& key) = 0;
    virtual SecretOutcome write(const QString& key, const QString& value) = 0;
    virtual SecretOutcome remove(const QString& key) = 0;
};

// The Secret Service through libsecret: attributes "service" and "account", the default
// collection, stored as UTF-8 text. A call that finds nothing tells "not stored" from
// "locked" by looking, without unlocking, at the matching items and the default collection.
// A call refused because the keyring daemon restarted during the run (libsecret still holds
// the old daemon's session) is made once more over a fresh connection.
class LibsecretBackend final : public SecretBackend {
public:
    SecretOutcome read(const QString& key) override;
    SecretOutcome write(const QString& key, const QString& value) override;
    SecretOutcome remove(const QString& key) override;
};

// Items in memory, for tests; `setAvailable(false)` behaves as a desktop without a service.
class MemorySecretBackend final : public SecretBackend {
public:
    SecretOutcome read(const QString& key) override;
    SecretOutcome write(const QString& key, const QString& value) override;
    SecretOutcome remove(const QString& key) override;

    void setAvailable(bool available);
    QHash<QString, QString> items() const;

private:
    mutable std::mutex lock;
    QHash<QString, QString> stored;
    bool isAvailable = true;
};

class SecretStore {
public:
    // How long a call may go unanswered before it counts as failed.
    static constexpr std::chrono::milliseconds answerBound{10000};
    // How long the store's end waits for writes already asked for; a write the service does
    // not answer by then is left to its thread.
    static constexpr std::chrono::milliseconds closingGrace{1000};

    explicit SecretStore(std::unique_ptr<SecretBackend> backend, std::chrono::milliseconds bound = answerBound);
    ~SecretStore();
    SecretStore(const SecretStore&) = delete;
    SecretStore& operator=(const SecretStore&) = delete;

    // The application's store on the Secret Service, made on first use.
    static SecretStore& standard();

    // The stored text, or nothing (no item, or any failure).
    QCoro::Task<std::optional<QString>> secureRead(QString key);
    // Creates or replaces the item; failures are silent.
    QCoro::Task<> secureWrite(QString key, QString value);
    // Removes the item if there is one; failures are silent.
    QCoro::Task<> secureDelete(QString key);

    // Whether a Secret Service answers: a lookup that finds nothing still answers, and a
    // locked keychain is there (a write just asks to unlock it). Asked on the worker, so the
    // caller never blocks.
    QCoro::Task<bool> serviceAvailable();

    // The same with the outcome, for callers that fall back when there is no service.
    QCoro::Task<SecretOutcome> readItem(QString key);
    // Waits for the answer however long it takes: for a load whose late answer is still
    // wanted. The store's end does not wait for it.
    QCoro::Task<SecretOutcome> readItemPatiently(QString key);
    // Runs after every earlier call on `sequence` (the key when empty) has ended, answered in
    // time or not: a value that must be kept before another key is replaced.
    QCoro::Task<SecretOutcome> writeItem(QString key, QString value, QString sequence = {});
    QCoro::Task<SecretOutcome> removeItem(QString key);

    std::chrono::milliseconds bound() const { return answerWait; }

    struct Calls;

private:
    const std::shared_ptr<Calls> calls;
    const std::chrono::milliseconds answerWait;
};

} // namespace halvoren
