#include "platform/ManualMainQueue.h"

#include <gtest/gtest.h>

#include <string>

namespace corvantix {
namespace {

using namespace std::chrono_literals;

TEST(ManualMainQueue, DelayedWorkRunsInDeadlineOrderAndCancelStopsIt)
{
    ManualMainQueue queue;
    std::string trace;
    queue.postAfter(2s, [&] { trace += "b"; });
    const auto cancelled = queue.postAfter(1500ms, [&] { trace += "x"; });
    queue.postAfter(1s, [&] {
        trace += "a";
        queue.post([&] { trace += "p"; });
    });
    queue.cancel(cancelled);
    queue.cancel(9999);

    queue.advance(999ms);
    EXPECT_EQ(trace, "");
    queue.advance(1ms);
    EXPECT_EQ(trace, "ap");
    queue.advance(10s);
    EXPECT_EQ(trace, "apb");
    EXPECT_EQ(queue.delayedCount(), 0u);
}

} // namespace
} // namespace corvantix
