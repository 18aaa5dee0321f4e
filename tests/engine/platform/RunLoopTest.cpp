#include "platform/RunLoop.h"

#include <gtest/gtest.h>

#include <atomic>
#include <string>
#include <thread>

namespace corvantix {
namespace {

using namespace std::chrono_literals;

// Generous: only reached when something is broken.
constexpr auto kTimeout = 30s;

TEST(RunLoop, PostFromAnotherThreadWakesTheSleepingLoop)
{
    RunLoop loop;
    std::atomic<bool> ran{false};
    std::thread poster([&] {
        std::this_thread::sleep_for(50ms);
        loop.post([&] { ran = true; });
    });
    // Nothing else is queued: without the wake-up the loop would sleep until the deadline
    // and then return false.
    const bool done = loop.runUntil([&] { return ran.load(); }, RunLoop::Clock::now() + kTimeout);
    poster.join();
    EXPECT_TRUE(done);
}

TEST(RunLoop, PostedWorkRunsInOrderIncludingWorkPostedWhileRunning)
{
    RunLoop loop;
    std::string trace;
    loop.post([&] {
        trace += "a";
        loop.post([&] { trace += "c"; });
    });
    loop.post([&] { trace += "b"; });
    EXPECT_TRUE(loop.runUntil([&] { return trace.size() == 3; }, RunLoop::Clock::now() + kTimeout));
    EXPECT_EQ(trace, "abc");
    EXPECT_EQ(loop.pendingCount(), 0u);
}

TEST(RunLoop, DelayedWorkRunsInDeadlineOrderAndCancelledWorkNever)
{
    RunLoop loop;
    std::string trace;
    loop.postAfter(60ms, [&] { trace += "c"; });
    loop.postAfter(20ms, [&] { trace += "a"; });
    const auto cancelled = loop.postAfter(30ms, [&] { trace += "x"; });
    loop.postAfter(40ms, [&] { trace += "b"; });
    loop.cancel(cancelled);
    loop.cancel(cancelled); // spent token: ignored
    loop.cancel(424242);    // unknown token: ignored

    EXPECT_TRUE(loop.runUntil([&] { return trace.size() == 3; }, RunLoop::Clock::now() + kTimeout));
    EXPECT_EQ(trace, "abc");
    EXPECT_EQ(loop.pendingCount(), 0u);
}

TEST(RunLoop, DelayedWorkWaitsForItsDeadline)
{
    RunLoop loop;
    const auto posted = loop.now();
    RunLoop::Clock::time_point ranAt{};
    loop.postAfter(30ms, [&] { ranAt = loop.now(); });
    EXPECT_TRUE(loop.runUntil([&] { return ranAt != RunLoop::Clock::time_point{}; }, posted + kTimeout));
    EXPECT_GE(ranAt - posted, 30ms);
}

TEST(RunLoop, RunForRunsDueWorkAndReturnsWhenTimeIsUp)
{
    RunLoop loop;
    int ran = 0;
    loop.post([&] { ++ran; });
    loop.postAfter(10ms, [&] { ++ran; });
    loop.postAfter(1h, [&] { ++ran; });
    loop.runFor(100ms);
    EXPECT_EQ(ran, 2);
    EXPECT_EQ(loop.pendingCount(), 1u);
}

TEST(RunLoop, RunUntilReturnsFalseAtTheDeadlineWithoutRunningLaterWork)
{
    RunLoop loop;
    bool ran = false;
    loop.postAfter(1h, [&] { ran = true; });
    EXPECT_FALSE(loop.runUntil([&] { return ran; }, RunLoop::Clock::now() + 20ms));
    EXPECT_FALSE(ran);
}

} // namespace
} // namespace corvantix
