// The main queue: work that must run on the thread that owns the terminals.
// The application backs it with Qt's event loop, headless hosts with RunLoop,
// tests with ManualMainQueue (a queue whose clock only moves when told).
#pragma once

#include <chrono>
#include <cstdint>
#include <functional>

namespace corvantix {

class MainQueue {
public:
    using Work = std::function<void()>;
    using Clock = std::chrono::steady_clock;
    // Identifies a delayed work item; 0 is never handed out.
    using Token = std::uint64_t;

    virtual ~MainQueue() = default;

    // Queues work to run soon on the main thread. Safe to call from any thread.
    virtual void post(Work work) = 0;
    // Queues work to run once after the delay. Main thread only.
    virtual Token postAfter(std::chrono::nanoseconds delay, Work work) = 0;
    // Cancels delayed work that has not run yet; unknown or spent tokens are ignored.
    virtual void cancel(Token token) = 0;
    // The queue's notion of now (a manual clock in tests).
    virtual Clock::time_point now() const = 0;
};

} // namespace corvantix
