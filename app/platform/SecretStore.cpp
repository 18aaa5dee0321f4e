#include "platform/SecretStore.h"

#include <QFutureInterface>
#include <QTimer>
#include <qcoro/qcorofuture.h>

#include <libsecret/secret.h>

#include <algorithm>
#include <condition_variable>
#include <deque>
#include <span>
#include <thread>
#include <vector>

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

// Errors after which a call is made once more over a fresh connection: the keyring daemon
// restarted during the run. Either the new daemon does not know the session libsecret opened
// with the old one (a D-Bus error libsecret has no code of its own for), or libsecret still
// sends to the old daemon's unique bus name, which nobody owns any more.
struct ErrorKind {
    GQuark (*domain)();
    gint code;
};
constexpr ErrorKind staleServiceErrors[] = {
    {&g_io_error_quark, G_IO_ERROR_DBUS_ERROR},
    {&g_dbus_error_quark, G_DBUS_ERROR_SERVICE_UNKNOWN},
};

bool isAny(const GError* error, std::span<const ErrorKind> kinds)
{
    return std::any_of(kinds.begin(), kinds.end(),
                       [error](const ErrorKind& kind) { return g_error_matches(error, kind.domain(), kind.code); });
}

SecretOutcome failure(GError* error)
{
    const SecretStatus status =
        g_error_matches(error, SECRET_ERROR, SECRET_ERROR_IS_LOCKED) ? SecretStatus::locked : SecretStatus::unavailable;
    SecretOutcome outcome{status, {}, QString::fromUtf8(error->message)};
    g_error_free(error);
    return outcome;
}

// Runs one call, and once more after dropping libsecret's cached connection when the first
// failed on a daemon that has gone. `attempt` sets its error argument when it fails.
template <typename Attempt>
SecretOutcome retryingOnStaleService(const Attempt& attempt)
{
    for (int round = 0;; ++round) {
        GError* error = nullptr;
        SecretOutcome outcome = attempt(&error);
        if (error == nullptr)
            return outcome;
        if (round > 0 || !isAny(error, staleServiceErrors))
            return failure(error);
        g_error_free(error);
        secret_service_disconnect();
    }
}

const QString lockedMessage = QStringLiteral("the keychain is locked");

// Whether the default collection is locked; no default collection is not a locked one.
bool defaultCollectionLocked(SecretService* service, GError** error)
{
    SecretCollection* collection =
        secret_collection_for_alias_sync(service, SECRET_COLLECTION_DEFAULT, SECRET_COLLECTION_NONE, nullptr, error);
    if (collection == nullptr)
        return false;
    const bool locked = secret_collection_get_locked(collection);
    g_object_unref(collection);
    return locked;
}

// After a call found no item: libsecret answers so too for an item it could not unlock.
// Items found locked, or none found in a locked default collection (whose items a service
// may hide), mean the keychain cannot tell. Nothing here asks to unlock.
SecretOutcome absentOrLocked(const QByteArray& account, GError** error)
{
    SecretService* service = secret_service_get_sync(SECRET_SERVICE_NONE, nullptr, error);
    if (service == nullptr)
        return {};
    GHashTable* attributes = secret_attributes_build(keychainSchema(), "service", keychainService, "account",
                                                     account.constData(), nullptr);
    GList* items = secret_service_search_sync(service, keychainSchema(), attributes, SECRET_SEARCH_ALL, nullptr, error);
    g_hash_table_unref(attributes);
    bool locked = false;
    for (GList* item = items; item != nullptr; item = item->next)
        locked = locked || secret_item_get_locked(SECRET_ITEM(item->data));
    if (items == nullptr && *error == nullptr)
        locked = defaultCollectionLocked(service, error);
    g_list_free_full(items, g_object_unref);
    g_object_unref(service);
    if (locked)
        return {SecretStatus::locked, {}, lockedMessage};
    return {SecretStatus::notFound, {}, {}};
}

} // namespace

SecretOutcome LibsecretBackend::read(const QString& key)
{
    const QByteArray account = key.toUtf8();
    return retryingOnStaleService([&account](GError** error) -> SecretOutcome {
        gchar* secret = secret_password_lookup_sync(keychainSchema(), nullptr, error, "service", keychainService,
                                                    "account", account.constData(), nullptr);
        if (*error != nullptr)
            return {};
        if (secret == nullptr)
            return absentOrLocked(account, error);
        const QByteArray bytes(secret);
        secret_password_free(secret);
        // Bytes that are not UTF-8 read as no item.
        const QString text = QString::fromUtf8(bytes);
        if (text.toUtf8() != bytes)
            return {SecretStatus::notFound, {}, {}};
        return {SecretStatus::ok, text, {}};
    });
}

SecretOutcome LibsecretBackend::write(const QString& key, const QString& value)
{
    const QByteArray account = key.toUtf8();
    const QByteArray label = "Halvoren: " + account;
    const QByteArray secret = value.toUtf8();
    return retryingOnStaleService([&](GError** error) -> SecretOutcome {
        const gboolean stored = secret_password_store_sync(keychainSchema(), SECRET_COLLECTION_DEFAULT,
                                                           label.constData(), secret.constData(), nullptr, error,
                                                           "service", keychainService, "account",
                                                           account.constData(), nullptr);
        if (*error != nullptr)
            return {};
        if (stored)
            return {SecretStatus::ok, {}, {}};
        // Refused without a reason: an unlock prompt dismissed leaves the collection locked.
        SecretService* service = secret_service_get_sync(SECRET_SERVICE_NONE, nullptr, error);
        const bool locked = service != nullptr && defaultCollectionLocked(service, error);
        if (service != nullptr)
            g_object_unref(service);
        if (locked)
            return {SecretStatus::locked, {}, lockedMessage};
        return {SecretStatus::unavailable, {}, QStringLiteral("the item was not stored")};
    });
}

SecretOutcome LibsecretBackend::remove(const QString& key)
{
    const QByteArray account = key.toUtf8();
    return retryingOnStaleService([&account](GError** error) -> SecretOutcome {
        const gboolean removed = secret_password_clear_sync(keychainSchema(), nullptr, error, "service",
                                                            keychainService, "account", account.constData(), nullptr);
        if (*error != nullptr)
            return {};
        if (removed)
            return {SecretStatus::ok, {}, {}};
        return absentOrLocked(account, error);
    });
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

// ---- The store's threads

struct SecretCall {
    enum class Kind { read, write, remove };

    Kind kind;
    QString key;
    QString value;
    // Calls related by key or sequence run in the order they were made.
    QString sequence;
    QFutureInterface<SecretOutcome> answer;
    bool answered = false;
    // Its caller was told it failed; it may still be running.
    bool overdue = false;

    bool mutates() const { return kind != Kind::read; }
    bool relatedTo(const SecretCall& other) const { return key == other.key || sequence == other.sequence; }

    // The first answer wins: the service's, or the bound's.
    bool reply(SecretOutcome outcome)
    {
        if (answered)
            return false;
        answered = true;
        answer.reportAndMoveResult(std::move(outcome));
        answer.reportFinished();
        return true;
    }
};

// Shared by the store and its threads: a thread stuck in the service keeps it, and the
// backend, alive after the store has gone.
struct SecretStore::Calls {
    std::unique_ptr<SecretBackend> backend;
    std::mutex lock;
    std::condition_variable changed;
    // Everything below is guarded by `lock`.
    std::deque<std::shared_ptr<SecretCall>> waiting;
    std::vector<std::shared_ptr<SecretCall>> running;
    int threads = 0;
    int idle = 0;
    // The store has ended: nobody is answered any more.
    bool closed = false;

    // The first waiting call that nothing earlier holds back. A write waits for every
    // earlier write of its key or sequence, answered in time or not, so the last value
    // asked for is the one kept, and for the earlier reads whose callers still wait, so
    // they never see a value asked for after them; a read waits only for writes whose
    // callers still wait.
    std::shared_ptr<SecretCall> takeRunnable()
    {
        for (auto it = waiting.begin(); it != waiting.end();) {
            const SecretCall& call = **it;
            if (!call.mutates() && call.overdue) {
                // Nobody waits for it any more.
                it = waiting.erase(it);
                continue;
            }
            const auto holds = [&call](const std::shared_ptr<SecretCall>& other) {
                if (!other->relatedTo(call) || !(other->mutates() || call.mutates()))
                    return false;
                return (other->mutates() && call.mutates()) || !other->overdue;
            };
            if (std::none_of(waiting.begin(), it, holds) && std::none_of(running.begin(), running.end(), holds)) {
                std::shared_ptr<SecretCall> taken = *it;
                waiting.erase(it);
                running.push_back(taken);
                return taken;
            }
            ++it;
        }
        return nullptr;
    }

    // Writes asked for whose callers still wait.
    bool writesInFlight() const
    {
        const auto inFlight = [](const std::shared_ptr<SecretCall>& call) { return call->mutates() && !call->overdue; };
        return std::any_of(waiting.begin(), waiting.end(), inFlight)
               || std::any_of(running.begin(), running.end(), inFlight);
    }
};

namespace {

// Threads enough for a few stuck calls and the ones behind them; more waiting calls queue.
constexpr int maximumThreads = 8;
// A thread with nothing to do ends after this long.
constexpr std::chrono::seconds idleLifetime(30);

SecretOutcome perform(SecretBackend& backend, const SecretCall& call)
{
    switch (call.kind) {
    case SecretCall::Kind::read:
        return backend.read(call.key);
    case SecretCall::Kind::write:
        return backend.write(call.key, call.value);
    case SecretCall::Kind::remove:
        return backend.remove(call.key);
    }
    return {SecretStatus::unavailable, {}, {}};
}

void serve(std::shared_ptr<SecretStore::Calls> calls);

// Under the lock: a thread for each waiting call beyond the idle ones, within the limit.
void wakeWorkers(const std::shared_ptr<SecretStore::Calls>& calls)
{
    if (static_cast<qsizetype>(calls->waiting.size()) > calls->idle && calls->threads < maximumThreads) {
        ++calls->threads;
        std::thread(serve, calls).detach();
    }
    if (calls->idle > 0)
        calls->changed.notify_all();
}

void serve(std::shared_ptr<SecretStore::Calls> calls)
{
    std::unique_lock guard(calls->lock);
    for (;;) {
        if (std::shared_ptr<SecretCall> call = calls->takeRunnable()) {
            guard.unlock();
            SecretOutcome outcome = perform(*calls->backend, *call);
            guard.lock();
            if (!calls->closed)
                call->reply(std::move(outcome));
            std::erase(calls->running, call);
            // The calls it held back may go now, and the store's end may be waiting.
            calls->changed.notify_all();
            continue;
        }
        // Calls held back are taken by the thread that ends what holds them, or by one woken
        // when that passes its bound.
        if (calls->closed)
            break;
        ++calls->idle;
        const bool woken = calls->changed.wait_for(guard, idleLifetime) == std::cv_status::no_timeout;
        --calls->idle;
        if (!woken)
            break;
    }
    --calls->threads;
}

QFuture<SecretOutcome> submit(const std::shared_ptr<SecretStore::Calls>& calls, SecretCall::Kind kind, QString key,
                              QString value, QString sequence, std::optional<std::chrono::milliseconds> bound)
{
    auto call = std::make_shared<SecretCall>();
    call->kind = kind;
    call->key = std::move(key);
    call->value = std::move(value);
    call->sequence = sequence.isEmpty() ? call->key : std::move(sequence);
    call->answer.reportStarted();
    QFuture<SecretOutcome> future = call->answer.future();
    {
        std::lock_guard guard(calls->lock);
        calls->waiting.push_back(call);
        wakeWorkers(calls);
    }
    if (bound) {
        QTimer::singleShot(*bound, [calls, call, seconds = bound->count() / 1000.0] {
            std::lock_guard guard(calls->lock);
            if (calls->closed || !call->reply({SecretStatus::unanswered, {},
                                               QStringLiteral("the Secret Service gave no answer within %1 s").arg(seconds)}))
                return;
            call->overdue = true;
            // Reads held back by it may go now.
            wakeWorkers(calls);
        });
    }
    return future;
}

} // namespace

// ---- The store

SecretStore::SecretStore(std::unique_ptr<SecretBackend> backend, std::chrono::milliseconds bound)
    : calls(std::make_shared<Calls>()), answerWait(bound)
{
    calls->backend = std::move(backend);
}

SecretStore::~SecretStore()
{
    std::unique_lock guard(calls->lock);
    // A late answer would resume callers that may be gone with the store.
    calls->closed = true;
    calls->changed.notify_all();
    std::erase_if(calls->waiting, [](const std::shared_ptr<SecretCall>& call) { return !call->mutates(); });
    calls->changed.wait_for(guard, closingGrace, [this] { return !calls->writesInFlight(); });
}

SecretStore& SecretStore::standard()
{
    static SecretStore store(std::make_unique<LibsecretBackend>());
    return store;
}

// Jobs are named futures: a temporary inside an awaited expression is destroyed twice by
// g++ 12.
QCoro::Task<SecretOutcome> SecretStore::readItem(QString key)
{
    QFuture<SecretOutcome> outcome = submit(calls, SecretCall::Kind::read, std::move(key), {}, {}, answerWait);
    co_return co_await outcome;
}

QCoro::Task<SecretOutcome> SecretStore::readItemPatiently(QString key)
{
    QFuture<SecretOutcome> outcome = submit(calls, SecretCall::Kind::read, std::move(key), {}, {}, std::nullopt);
    co_return co_await outcome;
}

QCoro::Task<SecretOutcome> SecretStore::writeItem(QString key, QString value, QString sequence)
{
    QFuture<SecretOutcome> outcome =
        submit(calls, SecretCall::Kind::write, std::move(key), std::move(value), std::move(sequence), answerWait);
    co_return co_await outcome;
}

QCoro::Task<SecretOutcome> SecretStore::removeItem(QString key)
{
    QFuture<SecretOutcome> outcome = submit(calls, SecretCall::Kind::remove, std::move(key), {}, {}, answerWait);
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
    co_return result.status == SecretStatus::ok || result.status == SecretStatus::notFound
        || result.status == SecretStatus::locked;
}

QCoro::Task<> SecretStore::secureWrite(QString key, QString value)
{
    QCoro::Task<SecretOutcome> writing = writeItem(std::move(key), std::move(value));
    co_await std::move(writing);
}

QCoro::Task<> SecretStore::secureDelete(QString key)
{
    QCoro::Task<SecretOutcome> removing = removeItem(std::move(key));
    co_await std::move(removing);
}

} // namespace halvoren
