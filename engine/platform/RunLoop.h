// A main queue for headless hosts and tests, run by the thread that calls runUntil or
// runFor. It sleeps in poll(); a post from any thread writes to an eventfd to wake it.
#pragma once

#include "platform/MainQueue.h"

#include <deque>
#include <functional>
#include <map>
#include <mutex>
#include <utility>

namespace corvantix {

class RunLoop final : public MainQueue {
public:
    RunLoop();
    ~RunLoop() override;
    RunLoop(const RunLoop&) = delete;
    RunLoop& operator=(const RunLoop&) = delete;

    // Thread-safe; work posted from another thread wakes a sleeping loop.
    void post(Work work) override;
    // Thread-safe too (the interface only asks for the main thread).
    Token postAfter(std::chrono::nanoseconds delay, Work work) override;
    void cancel(Token token) override;
    Clock::time_point now() const override { return Clock::now(); }

    // Runs work, one item at a time, until the predicate holds (true) or the deadline
    // passes first (false). Work that is due is not run once the deadline has passed.
    bool runUntil(const std::function<bool()>& predicate, Clock::time_point deadline);
    // Runs work for the given time, then returns.
    void runFor(std::chrono::nanoseconds duration);

    // Items waiting: posted plus delayed.
    std::size_t pendingCount() const;

private:
    // Runs one item that is ready now: the earliest due delayed item, else the oldest
    // posted one. Returns false when nothing is ready.
    bool runOneReadyItem();
    // Sleeps until woken, the next delayed item is due, or the deadline.
    void waitForWork(Clock::time_point deadline);
    void wake();

    // Delayed items ordered by deadline, then by token (the order they were queued in).
    using DelayedKey = std::pair<Clock::time_point, Token>;

    mutable std::mutex lock;
    std::deque<Work> posted;
    std::map<DelayedKey, Work> delayed;
    std::map<Token, Clock::time_point> deadlines;
    Token nextToken = 1;
    int wakeDescriptor = -1;
};

} // namespace corvantix
