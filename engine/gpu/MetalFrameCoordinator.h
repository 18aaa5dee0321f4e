// Keeps the GPU drawing of one renderer honest: at most one frame in flight, refused draws
// retried on a short back-off, a frame in flight and a run of refusals each watched for one
// second, and an automatic recovery asked of the view when a frame stalls, its command stream
// fails, or drawing keeps being refused. It knows nothing of GL; it reaches the outside only
// through the four callbacks it is built with, and reads a frame's command stream through
// two probes.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>

#include "gpu/MetalErrors.h"
#include "platform/MainQueue.h"

namespace corvantix {

// Current time in seconds.
class MetalRecoveryClock {
public:
    virtual ~MetalRecoveryClock() = default;
    virtual double now() = 0;
};

// Seconds of the monotonic system clock.
class SystemMetalRecoveryClock final : public MetalRecoveryClock {
public:
    double now() override;
};

class MetalRecoveryScheduledTask {
public:
    virtual ~MetalRecoveryScheduledTask() = default;
    // Work that has not started does not run.
    virtual void cancel() = 0;
};

// Runs work once after a delay in seconds.
class MetalRecoveryScheduler {
public:
    virtual ~MetalRecoveryScheduler() = default;
    virtual std::shared_ptr<MetalRecoveryScheduledTask> schedule(double delay, std::function<void()> work) = 0;
};

// Delayed work on the main queue.
class DispatchMetalRecoveryScheduler final : public MetalRecoveryScheduler {
public:
    explicit DispatchMetalRecoveryScheduler(MainQueue& queue) : queue_(queue) {}
    std::shared_ptr<MetalRecoveryScheduledTask> schedule(double delay, std::function<void()> work) override;

private:
    MainQueue& queue_;
};

class MetalFrameCoordinator final : public std::enable_shared_from_this<MetalFrameCoordinator> {
public:
    struct Token {
        std::int64_t value = 0;
        friend bool operator==(const Token&, const Token&) = default;
    };

    // Reads a frame's command stream without the coordinator holding it.
    struct CommandBufferProbe {
        std::function<MetalTrackedCommandBufferStatus()> status;
        std::function<std::optional<std::string>()> error;
    };

    struct Callbacks {
        std::function<bool()> isRetryEligible;                            // the view can present frames now
        std::function<void(MetalFrameRefusalReason)> requestDraw;         // ask for a new draw
        std::function<void(const MetalRendererRecoveryReport&)> requestRecovery;
        std::function<void()> becameIdle;                                 // a frame in flight has finished
    };

    // Scheduled work holds the coordinator weakly, so it is always owned by a shared pointer.
    static std::shared_ptr<MetalFrameCoordinator> make(std::shared_ptr<MetalRecoveryClock> clock,
                                                       std::shared_ptr<MetalRecoveryScheduler> scheduler,
                                                       Callbacks callbacks);

    // Retry delays in seconds, by position; the last one repeats. Both watchdogs wait 1 s.
    static constexpr double retryDelays[5] = {0.016, 0.033, 0.066, 0.125, 0.25};
    static constexpr double watchdogDelay = 1.0;

    // A token when a frame may be drawn now; none when one is in flight or after invalidate().
    std::optional<Token> beginFrame();
    // The frame with this token could not be drawn.
    void cancelFrame(Token token, MetalFrameRefusalReason reason);
    // The frame has its command stream.
    void attachCommandBuffer(Token token, CommandBufferProbe probe);
    // The frame's command stream finished (from any thread).
    void completeFrame(Token token, MetalTrackedCommandBufferStatus status, std::optional<std::string> error);
    // Switches the coordinator off for good.
    void invalidate();

    // Whether a frame is still in flight (read under the lock).
    bool hasActiveFrame() const;

    MetalFrameCoordinator(const MetalFrameCoordinator&) = delete;
    MetalFrameCoordinator& operator=(const MetalFrameCoordinator&) = delete;

private:
    struct ActiveFrame {
        Token token;
        double startedAt = 0.0;
        std::optional<CommandBufferProbe> commandBuffer;
        bool pendingRedraw = false;
        bool recoveryRequested = false;
        std::shared_ptr<MetalRecoveryScheduledTask> watchdog;
    };

    MetalFrameCoordinator(std::shared_ptr<MetalRecoveryClock> clock, std::shared_ptr<MetalRecoveryScheduler> scheduler,
                          Callbacks callbacks);

    // These run with the lock held and never take it again.
    void scheduleRetry(MetalFrameRefusalReason reason);
    void recordFailure(MetalFrameRefusalReason reason);
    void resetFailureState();
    std::shared_ptr<MetalRecoveryScheduledTask> scheduleFrameWatchdog(Token token);

    // Scheduled work; each takes the lock itself.
    void retryFired(MetalFrameRefusalReason reason);
    void frameWatchdogFired(Token token);
    void failureWatchdogFired();

    mutable std::mutex lock;
    std::shared_ptr<MetalRecoveryClock> clock;
    std::shared_ptr<MetalRecoveryScheduler> scheduler;
    Callbacks callbacks;

    std::int64_t nextToken = 1;
    std::optional<ActiveFrame> activeFrame;
    std::int64_t retryIndex = 0;
    std::shared_ptr<MetalRecoveryScheduledTask> retryTask;
    std::optional<double> failureStartedAt;
    std::optional<MetalFrameRefusalReason> lastFailureReason;
    std::shared_ptr<MetalRecoveryScheduledTask> failureWatchdog;
    bool failureRecoveryRequested = false;
    bool invalidated = false;
};

} // namespace corvantix
