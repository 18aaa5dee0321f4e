#include "gpu/MetalFrameCoordinator.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <string>
#include <vector>

#include "platform/ManualMainQueue.h"

namespace corvantix {
namespace {

using Status = MetalTrackedCommandBufferStatus;
using Reason = MetalFrameRefusalReason;

// Time moves only when the test says so; due work runs in deadline order, each at its own
// time.
struct ManualTime final : MetalRecoveryClock, MetalRecoveryScheduler {
    struct Task final : MetalRecoveryScheduledTask {
        double due = 0.0;
        std::function<void()> work;
        bool cancelled = false;
        bool ran = false;
        void cancel() override { cancelled = true; }
    };

    double current = 0.0;
    std::vector<std::shared_ptr<Task>> tasks;
    std::vector<double> delays; // every delay asked for, in order

    double now() override { return current; }

    std::shared_ptr<MetalRecoveryScheduledTask> schedule(double delay, std::function<void()> work) override
    {
        auto task = std::make_shared<Task>();
        task->due = current + delay;
        task->work = std::move(work);
        tasks.push_back(task);
        delays.push_back(delay);
        return task;
    }

    void advanceTo(double time)
    {
        for (;;) {
            std::shared_ptr<Task> next;
            for (const auto& task : tasks) {
                if (!task->cancelled && !task->ran && task->due <= time + 1e-9 && (!next || task->due < next->due))
                    next = task;
            }
            if (!next)
                break;
            current = std::max(current, next->due);
            next->ran = true;
            next->work();
        }
        current = time;
    }

    std::size_t pending() const
    {
        return std::count_if(tasks.begin(), tasks.end(), [](const auto& t) { return !t->cancelled && !t->ran; });
    }

    // The retry delays asked for (everything but the one-second watchdogs).
    std::vector<double> retryDelays() const
    {
        std::vector<double> result;
        for (double delay : delays) {
            if (delay != MetalFrameCoordinator::watchdogDelay)
                result.push_back(delay);
        }
        return result;
    }
};

struct Harness {
    std::shared_ptr<ManualTime> time = std::make_shared<ManualTime>();
    bool eligible = true;
    std::vector<std::string> events; // "draw:<reason>", "idle", "recovery"
    std::vector<MetalRendererRecoveryReport> reports;
    std::function<void(Reason)> onDraw;
    std::function<void()> onIdle;
    std::shared_ptr<MetalFrameCoordinator> coordinator;

    Harness()
    {
        coordinator = MetalFrameCoordinator::make(
            time, time,
            {[this] { return eligible; },
             [this](Reason reason) {
                 events.push_back("draw:" + std::string(rawValue(reason)));
                 if (onDraw)
                     onDraw(reason);
             },
             [this](const MetalRendererRecoveryReport& report) {
                 // Called with the lock released: reading the coordinator must not block.
                 (void)coordinator->hasActiveFrame();
                 events.push_back("recovery");
                 reports.push_back(report);
             },
             [this] {
                 (void)coordinator->hasActiveFrame();
                 events.push_back("idle");
                 if (onIdle)
                     onIdle();
             }});
    }

    MetalFrameCoordinator::Token begin()
    {
        auto token = coordinator->beginFrame();
        EXPECT_TRUE(token.has_value());
        return token.value_or(MetalFrameCoordinator::Token{});
    }

    static MetalFrameCoordinator::CommandBufferProbe probe(Status status, std::optional<std::string> error = {})
    {
        return {[status] { return status; }, [error] { return error; }};
    }
};

TEST(MetalFrameCoordinatorTest, TokensCountUpAndARefusedBeginTakesNone)
{
    Harness h;
    const auto first = h.begin();
    EXPECT_EQ(first.value, 1);
    EXPECT_EQ(h.coordinator->beginFrame(), std::nullopt);
    h.coordinator->completeFrame(first, Status::completed, std::nullopt);
    EXPECT_EQ(h.begin().value, 2);
}

TEST(MetalFrameCoordinatorTest, ADrawRefusedForAFrameInFlightIsRetriedAndRedrawnOnCompletion)
{
    Harness h;
    const auto token = h.begin();
    EXPECT_EQ(h.coordinator->beginFrame(), std::nullopt);
    EXPECT_EQ(h.time->retryDelays(), std::vector<double>{0.016});
    h.coordinator->attachCommandBuffer(token, Harness::probe(Status::committed)); // cancels the retry
    h.coordinator->completeFrame(token, Status::completed, std::nullopt);
    EXPECT_EQ(h.events, (std::vector<std::string>{"idle", "draw:activeFrame"}));
    EXPECT_TRUE(h.reports.empty());
    EXPECT_FALSE(h.coordinator->hasActiveFrame());
}

TEST(MetalFrameCoordinatorTest, RetriesBackOffThenRepeatTheLongestDelay)
{
    Harness h;
    h.coordinator->cancelFrame(h.begin(), Reason::missingDrawable);
    h.time->advanceTo(0.9); // stop before the failure watchdog asks for a recovery
    const std::vector<double> expected = {0.016, 0.033, 0.066, 0.125, 0.25, 0.25, 0.25};
    std::vector<double> firstSeven = h.time->retryDelays();
    ASSERT_GE(firstSeven.size(), expected.size());
    firstSeven.resize(expected.size());
    EXPECT_EQ(firstSeven, expected);
    EXPECT_EQ(std::count(h.events.begin(), h.events.end(), "draw:missingDrawable"),
              static_cast<long>(h.time->retryDelays().size() - 1)); // the last one is still waiting
}

TEST(MetalFrameCoordinatorTest, ARunOfRefusalsIsReportedOnceAfterOneSecond)
{
    Harness h;
    h.onDraw = [&](Reason) {
        if (auto token = h.coordinator->beginFrame())
            h.coordinator->cancelFrame(*token, Reason::missingDrawable);
    };
    h.coordinator->cancelFrame(h.begin(), Reason::missingDrawable);
    h.time->advanceTo(3.5);
    ASSERT_EQ(h.reports.size(), 1u);
    EXPECT_EQ(h.reports[0], (MetalRendererRecoveryReport{Reason::missingDrawable, 1.0, std::nullopt, std::nullopt}));
    EXPECT_GT(std::count(h.events.begin(), h.events.end(), "draw:missingDrawable"), 10);
}

TEST(MetalFrameCoordinatorTest, AFrameReachingItsCommandStreamEndsTheRunOfRefusals)
{
    Harness h;
    h.coordinator->cancelFrame(h.begin(), Reason::missingRenderEncoder);
    h.time->advanceTo(0.5);
    const auto token = h.begin();
    h.coordinator->attachCommandBuffer(token, Harness::probe(Status::committed));
    h.coordinator->completeFrame(token, Status::completed, std::nullopt);
    h.time->advanceTo(5.0);
    EXPECT_TRUE(h.reports.empty());
    // A new run starts its own count: one more report after another second of refusals.
    h.coordinator->cancelFrame(h.begin(), Reason::missingCommandBuffer);
    h.time->advanceTo(6.5);
    ASSERT_EQ(h.reports.size(), 1u);
    EXPECT_EQ(h.reports[0].reason, Reason::missingCommandBuffer);
    EXPECT_DOUBLE_EQ(h.reports[0].failureDuration, 1.0);
}

TEST(MetalFrameCoordinatorTest, AStalledFrameIsReportedOnceWithItsProbedStatus)
{
    struct Case {
        const char* name;
        std::optional<Status> probed; // none: no command stream attached
        std::optional<std::string> error;
        std::vector<std::string> events;
        std::optional<MetalRendererRecoveryReport> report;
    };
    const Case cases[] = {
        {"committed", Status::committed, std::nullopt, {"recovery"},
         MetalRendererRecoveryReport{Reason::activeFrame, 1.0, Status::committed, std::nullopt}},
        {"no command stream", std::nullopt, std::nullopt, {"recovery"},
         MetalRendererRecoveryReport{Reason::activeFrame, 1.0, std::nullopt, std::nullopt}},
        // The completion just had not arrived: handled as that completion.
        {"completed", Status::completed, std::nullopt, {"idle"}, std::nullopt},
        {"error", Status::error, "context lost", {"idle", "recovery"},
         MetalRendererRecoveryReport{Reason::activeFrame, 1.0, Status::error, "context lost"}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Harness h;
        const auto token = h.begin();
        if (c.probed)
            h.coordinator->attachCommandBuffer(token, Harness::probe(*c.probed, c.error));
        h.time->advanceTo(4.0);
        EXPECT_EQ(h.events, c.events);
        if (c.report) {
            ASSERT_EQ(h.reports.size(), 1u);
            EXPECT_EQ(h.reports[0], *c.report);
        }
    }
}

TEST(MetalFrameCoordinatorTest, AFailedCommandStreamIsReportedWithItsError)
{
    Harness h;
    h.time->advanceTo(2.0);
    const auto token = h.begin();
    h.coordinator->attachCommandBuffer(token, Harness::probe(Status::committed));
    h.time->advanceTo(2.25);
    h.coordinator->completeFrame(token, Status::error, "GL_CONTEXT_LOST");
    EXPECT_EQ(h.events, (std::vector<std::string>{"idle", "recovery"}));
    ASSERT_EQ(h.reports.size(), 1u);
    EXPECT_EQ(h.reports[0], (MetalRendererRecoveryReport{Reason::activeFrame, 0.25, Status::error, "GL_CONTEXT_LOST"}));
}

TEST(MetalFrameCoordinatorTest, AfterInvalidateOnlySubmittedFramesFinish)
{
    {
        SCOPED_TRACE("a submitted frame completes with an error: idle, nothing else");
        Harness h;
        const auto token = h.begin();
        h.coordinator->beginFrame(); // owes a redraw
        h.coordinator->attachCommandBuffer(token, Harness::probe(Status::committed));
        h.coordinator->invalidate();
        EXPECT_TRUE(h.coordinator->hasActiveFrame());
        h.coordinator->completeFrame(token, Status::error, "lost");
        EXPECT_EQ(h.events, std::vector<std::string>{"idle"});
        EXPECT_EQ(h.coordinator->beginFrame(), std::nullopt);
        h.time->advanceTo(5.0);
        EXPECT_EQ(h.events, std::vector<std::string>{"idle"});
    }
    {
        SCOPED_TRACE("a frame without a command stream is dropped at once");
        Harness h;
        const auto token = h.begin();
        h.coordinator->invalidate();
        EXPECT_FALSE(h.coordinator->hasActiveFrame());
        h.coordinator->completeFrame(token, Status::completed, std::nullopt);
        h.coordinator->cancelFrame(token, Reason::missingDrawable);
        h.time->advanceTo(5.0);
        EXPECT_TRUE(h.events.empty());
        EXPECT_EQ(h.time->pending(), 0u);
    }
}

TEST(MetalFrameCoordinatorTest, WhileIneligibleNothingIsScheduledOrReportedButErrorsStillAre)
{
    Harness h;
    h.eligible = false;
    const auto first = h.begin();
    EXPECT_EQ(h.coordinator->beginFrame(), std::nullopt);
    h.coordinator->cancelFrame(first, Reason::missingDrawable);
    const auto second = h.begin();
    EXPECT_EQ(second.value, 2);
    h.coordinator->cancelFrame(second, Reason::missingDrawable);
    h.time->advanceTo(5.0);
    EXPECT_TRUE(h.time->delays.empty());
    EXPECT_TRUE(h.events.empty());
    const auto third = h.begin();
    h.coordinator->attachCommandBuffer(third, Harness::probe(Status::committed));
    h.coordinator->completeFrame(third, Status::error, "lost");
    EXPECT_EQ(h.events, (std::vector<std::string>{"idle", "recovery"}));
}

TEST(MetalFrameCoordinatorTest, AFailureRunIsDroppedWhenTheViewBecomesIneligible)
{
    Harness h;
    h.coordinator->cancelFrame(h.begin(), Reason::missingDrawable);
    h.eligible = false;
    h.time->advanceTo(5.0);
    EXPECT_TRUE(h.reports.empty());
    // Eligible again: a fresh run, reported a second after its own start.
    h.eligible = true;
    h.coordinator->cancelFrame(h.begin(), Reason::missingDrawable);
    h.time->advanceTo(5.5);
    EXPECT_TRUE(h.reports.empty());
    h.time->advanceTo(6.0);
    ASSERT_EQ(h.reports.size(), 1u);
    EXPECT_DOUBLE_EQ(h.reports[0].failureDuration, 1.0);
}

TEST(MetalFrameCoordinatorTest, StaleTokensChangeNothing)
{
    Harness h;
    const auto old = h.begin();
    h.coordinator->completeFrame(old, Status::completed, std::nullopt);
    h.events.clear();
    const auto current = h.begin();
    h.coordinator->cancelFrame(old, Reason::missingDrawable);
    h.coordinator->attachCommandBuffer(old, Harness::probe(Status::completed));
    h.coordinator->completeFrame(old, Status::error, "stale");
    h.coordinator->completeFrame(MetalFrameCoordinator::Token{99}, Status::completed, std::nullopt);
    EXPECT_TRUE(h.coordinator->hasActiveFrame());
    EXPECT_TRUE(h.events.empty());
    // Still the frame without a command stream: its watchdog reports no status.
    h.time->advanceTo(1.5);
    ASSERT_EQ(h.reports.size(), 1u);
    EXPECT_EQ(h.reports[0].commandBufferStatus, std::nullopt);
    h.coordinator->completeFrame(current, Status::completed, std::nullopt);
    EXPECT_FALSE(h.coordinator->hasActiveFrame());
}

TEST(MetalFrameCoordinatorTest, TheMainQueueSchedulerRunsOnTimeAndNotAfterCancelOrTheCoordinatorIsGone)
{
    ManualMainQueue queue;
    auto scheduler = std::make_shared<DispatchMetalRecoveryScheduler>(queue);
    int ran = 0;
    auto kept = scheduler->schedule(0.5, [&] { ++ran; });
    auto cancelled = scheduler->schedule(0.5, [&] { ran += 100; });
    cancelled->cancel();
    queue.advance(std::chrono::milliseconds(499));
    EXPECT_EQ(ran, 0);
    queue.advance(std::chrono::milliseconds(1));
    EXPECT_EQ(ran, 1);

    int reports = 0;
    auto coordinator = MetalFrameCoordinator::make(std::make_shared<SystemMetalRecoveryClock>(), scheduler,
                                                   {[] { return true; }, [](Reason) {},
                                                    [&](const MetalRendererRecoveryReport&) { ++reports; }, [] {}});
    ASSERT_TRUE(coordinator->beginFrame());
    EXPECT_EQ(queue.delayedCount(), 1u); // the stall watchdog
    coordinator.reset();
    queue.advance(std::chrono::seconds(2));
    EXPECT_EQ(reports, 0);
}

} // namespace
} // namespace corvantix
