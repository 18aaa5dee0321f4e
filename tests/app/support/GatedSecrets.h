// A keychain in memory whose calls on chosen keys wait until the test opens the gate, as a
// Secret Service does while it waits for a prompt nobody answers; and a bounded wait for a
// coroutine's answer, so that a call that never answers fails the test instead of hanging it.
#pragma once

#include "platform/SecretStore.h"

#include <QSet>
#include <QTest>

#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>

namespace halvoren::test {

struct SecretGate {
    std::mutex lock;
    std::condition_variable opened;
    bool open = false;
    // Keys whose reads, and whose writes and removals, wait for the gate.
    QSet<QString> heldReads;
    QSet<QString> heldWrites;

    // Calls that have reached the closed gate: the test knows what its code is waiting on.
    int arrivals = 0;

    void pass(const QSet<QString>& held, const QString& key)
    {
        std::unique_lock guard(lock);
        if (!held.contains(key) || open)
            return;
        ++arrivals;
        opened.wait(guard, [this] { return open; });
    }
    int arrived()
    {
        std::lock_guard guard(lock);
        return arrivals;
    }
    void release()
    {
        std::lock_guard guard(lock);
        open = true;
        opened.notify_all();
    }
};

// Both parts are shared: a call stuck in the gate outlives the store that made it.
class GatedSecretBackend final : public SecretBackend {
public:
    // `heldWriteArrived`, when given, learns of each write that reaches a held key before it
    // waits there (what a keychain daemon has received and not yet carried out).
    using HeldWriteArrived = std::function<void(const QString& key, const QString& value)>;
    GatedSecretBackend(std::shared_ptr<SecretGate> gate, std::shared_ptr<MemorySecretBackend> memory,
                       HeldWriteArrived heldWriteArrived = {})
        : gate(std::move(gate)), memory(std::move(memory)), heldWriteArrived(std::move(heldWriteArrived))
    {
    }
    SecretOutcome read(const QString& key) override
    {
        gate->pass(gate->heldReads, key);
        return memory->read(key);
    }
    SecretOutcome write(const QString& key, const QString& value) override
    {
        if (heldWriteArrived && gate->heldWrites.contains(key))
            heldWriteArrived(key, value);
        gate->pass(gate->heldWrites, key);
        return memory->write(key, value);
    }
    SecretOutcome remove(const QString& key) override
    {
        gate->pass(gate->heldWrites, key);
        return memory->remove(key);
    }

private:
    std::shared_ptr<SecretGate> gate;
    std::shared_ptr<MemorySecretBackend> memory;
    HeldWriteArrived heldWriteArrived;
};

// Lets the task run on; its result lands in the one returned once it answers.
template <typename T>
std::shared_ptr<std::optional<T>> resultWhenDone(QCoro::Task<T> task)
{
    auto result = std::make_shared<std::optional<T>>();
    [](QCoro::Task<T> running, std::shared_ptr<std::optional<T>> out) -> QCoro::Task<> {
        *out = co_await std::move(running);
    }(std::move(task), result);
    return result;
}

// Lets the task run on; the flag returned is set once it has ended.
inline std::shared_ptr<bool> flagWhenDone(QCoro::Task<> task)
{
    auto done = std::make_shared<bool>(false);
    [](QCoro::Task<> running, std::shared_ptr<bool> out) -> QCoro::Task<> {
        co_await std::move(running);
        *out = true;
    }(std::move(task), done);
    return done;
}

// The task's result, or nothing when it has not answered within `milliseconds`.
template <typename T>
std::optional<T> answerWithin(QCoro::Task<T> task, int milliseconds)
{
    const auto result = resultWhenDone(std::move(task));
    static_cast<void>(QTest::qWaitFor([&result] { return result->has_value(); }, milliseconds));
    return *result;
}

// Whether the task ended within `milliseconds`.
inline bool endsWithin(QCoro::Task<> task, int milliseconds)
{
    const auto done = flagWhenDone(std::move(task));
    return QTest::qWaitFor([&done] { return *done; }, milliseconds);
}

} // namespace halvoren::test
