#include "gpu/MetalFrameCoordinator.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <utility>

namespace corvantix {

double SystemMetalRecoveryClock::now()
{
    const auto uptime = std::chrono::steady_clock::now().time_since_epoch();
    return static_cast<double>(std::chrono::duration_cast<std::chrono::nanoseconds>(uptime).count()) / 1e9;
}

namespace {
class DispatchMetalRecoveryTask final : public MetalRecoveryScheduledTask {
public:
    DispatchMetalRecoveryTask(MainQueue& queue) : queue_(queue) {}
    void setToken(MainQueue::Token token) { token_ = token; }
    void cancel() override
    {
        cancelled->store(true);
        queue_.cancel(token_);
    }

    // Shared with the queued work, which checks it in case the queue already picked it up.
    std::shared_ptr<std::atomic<bool>> cancelled = std::make_shared<std::atomic<bool>>(false);

private:
    MainQueue& queue_;
    MainQueue::Token token_ = 0;
};
} // namespace

std::shared_ptr<MetalRecoveryScheduledTask> DispatchMetalRecoveryScheduler::schedule(double delay,
                                                                                     std::function<void()> work)
{
    auto task = std::make_shared<DispatchMetalRecoveryTask>(queue_);
    const auto nanoseconds = std::chrono::nanoseconds(static_cast<std::int64_t>(std::max(delay, 0.0) * 1e9));
    task->setToken(queue_.postAfter(nanoseconds, [cancelled = task->cancelled, work = std::move(work)] {
        if (!cancelled->load())
            work();
    }));
    return task;
}

std::shared_ptr<MetalFrameCoordinator> MetalFrameCoordinator::make(std::shared_ptr<MetalRecoveryClock> clock,
                                                                   std::shared_ptr<MetalRecoveryScheduler> scheduler,
                                                                   Callbacks callbacks)
{
    return std::shared_ptr<MetalFrameCoordinator>(
        new MetalFrameCoordinator(std::move(clock), std::move(scheduler), std::move(callbacks)));
}

MetalFrameCoordinator::MetalFrameCoordinator(std::shared_ptr<MetalRecoveryClock> clock,
                                             std::shared_ptr<MetalRecoveryScheduler> scheduler, Callbacks callbacks)
    : clock(std::move(clock)), scheduler(std::move(scheduler)), callbacks(std::move(callbacks))
{
}

namespace {
void cancelTask(std::shared_ptr<MetalRecoveryScheduledTask>& task)
{
    if (task)
        task->cancel();
    task.reset();
}
} // namespace

std::shared_ptr<MetalRecoveryScheduledTask> MetalFrameCoordinator::scheduleFrameWatchdog(Token token)
{
    std::weak_ptr<MetalFrameCoordinator> weak = weak_from_this();
    return scheduler->schedule(watchdogDelay, [weak, token] {
        if (auto self = weak.lock())
            self->frameWatchdogFired(token);
    });
}

std::optional<MetalFrameCoordinator::Token> MetalFrameCoordinator::beginFrame()
{
    std::lock_guard<std::mutex> guard(lock);
    if (!activeFrame) {
        if (invalidated)
            return std::nullopt;
        ActiveFrame frame;
        frame.token = Token{nextToken++};
        frame.startedAt = clock->now();
        if (callbacks.isRetryEligible())
            frame.watchdog = scheduleFrameWatchdog(frame.token);
        activeFrame = std::move(frame);
        return activeFrame->token;
    }
    // Refused because a frame is in flight: not a failure, but the draw is owed.
    activeFrame->pendingRedraw = true;
    if (!activeFrame->watchdog && !activeFrame->recoveryRequested && callbacks.isRetryEligible())
        activeFrame->watchdog = scheduleFrameWatchdog(activeFrame->token);
    scheduleRetry(MetalFrameRefusalReason::activeFrame);
    return std::nullopt;
}

void MetalFrameCoordinator::scheduleRetry(MetalFrameRefusalReason reason)
{
    if (invalidated || retryTask || !callbacks.isRetryEligible())
        return;
    const double delay = retryDelays[std::min<std::int64_t>(retryIndex, 4)];
    retryIndex = std::min<std::int64_t>(retryIndex + 1, 4);
    std::weak_ptr<MetalFrameCoordinator> weak = weak_from_this();
    retryTask = scheduler->schedule(delay, [weak, reason] {
        if (auto self = weak.lock())
            self->retryFired(reason);
    });
}

void MetalFrameCoordinator::retryFired(MetalFrameRefusalReason reason)
{
    {
        std::lock_guard<std::mutex> guard(lock);
        retryTask.reset(); // the firing task itself: nothing to cancel
        if (invalidated || !callbacks.isRetryEligible())
            return;
    }
    callbacks.requestDraw(reason);
    std::lock_guard<std::mutex> guard(lock);
    scheduleRetry(reason);
}

void MetalFrameCoordinator::cancelFrame(Token token, MetalFrameRefusalReason reason)
{
    std::lock_guard<std::mutex> guard(lock);
    if (!activeFrame || activeFrame->token != token)
        return;
    cancelTask(activeFrame->watchdog);
    activeFrame.reset();
    recordFailure(reason);
    scheduleRetry(reason);
}

void MetalFrameCoordinator::recordFailure(MetalFrameRefusalReason reason)
{
    lastFailureReason = reason;
    if (!callbacks.isRetryEligible()) {
        // Refusals while the view cannot present are expected; they start no run.
        failureStartedAt.reset();
        cancelTask(failureWatchdog);
        failureRecoveryRequested = false;
        retryIndex = 0;
        return;
    }
    if (failureStartedAt)
        return;
    failureStartedAt = clock->now();
    failureRecoveryRequested = false;
    std::weak_ptr<MetalFrameCoordinator> weak = weak_from_this();
    failureWatchdog = scheduler->schedule(watchdogDelay, [weak] {
        if (auto self = weak.lock())
            self->failureWatchdogFired();
    });
}

void MetalFrameCoordinator::attachCommandBuffer(Token token, CommandBufferProbe probe)
{
    std::lock_guard<std::mutex> guard(lock);
    if (!activeFrame || activeFrame->token != token)
        return;
    activeFrame->commandBuffer = std::move(probe);
    resetFailureState();
}

void MetalFrameCoordinator::resetFailureState()
{
    cancelTask(retryTask);
    retryIndex = 0;
    cancelTask(failureWatchdog);
    failureStartedAt.reset();
    lastFailureReason.reset();
    failureRecoveryRequested = false;
}

void MetalFrameCoordinator::completeFrame(Token token, MetalTrackedCommandBufferStatus status,
                                          std::optional<std::string> error)
{
    std::optional<MetalRendererRecoveryReport> report;
    bool pendingRedraw = false;
    {
        std::lock_guard<std::mutex> guard(lock);
        if (!activeFrame || activeFrame->token != token)
            return;
        const double startedAt = activeFrame->startedAt;
        pendingRedraw = activeFrame->pendingRedraw;
        cancelTask(activeFrame->watchdog);
        activeFrame.reset();
        if (status == MetalTrackedCommandBufferStatus::error && !invalidated) {
            report = MetalRendererRecoveryReport{MetalFrameRefusalReason::activeFrame,
                                                 std::max(clock->now() - startedAt, 0.0),
                                                 MetalTrackedCommandBufferStatus::error, std::move(error)};
        }
    }
    callbacks.becameIdle();
    if (report) {
        callbacks.requestRecovery(*report);
        return;
    }
    if (!pendingRedraw)
        return;
    {
        std::lock_guard<std::mutex> guard(lock);
        if (invalidated)
            return;
    }
    callbacks.requestDraw(MetalFrameRefusalReason::activeFrame);
}

void MetalFrameCoordinator::frameWatchdogFired(Token token)
{
    double startedAt = 0.0;
    std::optional<CommandBufferProbe> probe;
    {
        std::lock_guard<std::mutex> guard(lock);
        if (!activeFrame || activeFrame->token != token || activeFrame->recoveryRequested || invalidated)
            return;
        activeFrame->watchdog.reset(); // the firing task itself
        if (!callbacks.isRetryEligible())
            return; // a later refused beginFrame may arm a new watchdog
        activeFrame->recoveryRequested = true;
        startedAt = activeFrame->startedAt;
        probe = activeFrame->commandBuffer;
    }
    std::optional<MetalTrackedCommandBufferStatus> status;
    std::optional<std::string> error;
    if (probe) {
        status = probe->status();
        error = probe->error();
        // The completion may simply not have arrived yet.
        if (*status == MetalTrackedCommandBufferStatus::error) {
            completeFrame(token, MetalTrackedCommandBufferStatus::error, std::move(error));
            return;
        }
        if (*status == MetalTrackedCommandBufferStatus::completed) {
            completeFrame(token, MetalTrackedCommandBufferStatus::completed, std::nullopt);
            return;
        }
    }
    callbacks.requestRecovery(
        MetalRendererRecoveryReport{MetalFrameRefusalReason::activeFrame, std::max(clock->now() - startedAt, 0.0),
                                    status, std::move(error)});
}

void MetalFrameCoordinator::failureWatchdogFired()
{
    MetalRendererRecoveryReport report;
    {
        std::lock_guard<std::mutex> guard(lock);
        failureWatchdog.reset(); // the firing task itself
        if (invalidated)
            return;
        if (!callbacks.isRetryEligible()) {
            failureStartedAt.reset();
            lastFailureReason.reset();
            failureRecoveryRequested = false;
            retryIndex = 0;
            return;
        }
        if (failureRecoveryRequested || !failureStartedAt || !lastFailureReason)
            return;
        failureRecoveryRequested = true;
        report.reason = *lastFailureReason;
        report.failureDuration = std::max(clock->now() - *failureStartedAt, 0.0);
    }
    callbacks.requestRecovery(report);
}

void MetalFrameCoordinator::invalidate()
{
    std::lock_guard<std::mutex> guard(lock);
    invalidated = true;
    cancelTask(retryTask);
    cancelTask(failureWatchdog);
    // A frame whose commands were submitted still completes and reports becameIdle.
    if (activeFrame && !activeFrame->commandBuffer) {
        cancelTask(activeFrame->watchdog);
        activeFrame.reset();
    }
}

bool MetalFrameCoordinator::hasActiveFrame() const
{
    std::lock_guard<std::mutex> guard(lock);
    return activeFrame.has_value();
}

} // namespace corvantix
