// What the view keeps for its GPU renderer (an OpenGL 3.3 backend, kept under the Metal
// names the rest of the engine uses): the renderer's status, its buffering mode and
// recovery policy, the record of one recovery event and its log line, and the live-resize
// throttle switch. The view works without any renderer; these values then stay at their
// defaults.
#pragma once

#include <chrono>
#include <cstdint>
#include <optional>
#include <string>

namespace corvantix {

struct MetalRendererStatus {
    enum class State : std::uint8_t { disabled, waitingForFirstFrame, healthy, recovering, fellBackToCoreGraphics };
    using Time = std::chrono::system_clock::time_point;

    State state = State::disabled;
    std::uint64_t presentedFrameCount = 0; // frames shown since the renderer started
    std::optional<Time> lastFramePresentedAt; // when the last frame was shown

    friend bool operator==(const MetalRendererStatus&, const MetalRendererStatus&) = default;
};

enum class MetalBufferingMode : std::uint8_t { perRowPersistent, perFrameAggregated };

struct MetalAutomaticRecoveryPolicy {
    std::optional<std::chrono::steady_clock::time_point> lastReplacementAt; // the last automatic replacement
};

// One recovery of the renderer. Reason codes past the known ones log as the last
// reason, status codes as "none" (see metalRecoveryLogLine).
struct MetalRecoveryEvent {
    enum Reason : std::uint32_t {
        activeFrame = 0,
        missingDrawable = 1,
        missingRenderPassDescriptor = 2,
        missingCommandBuffer = 3,
        missingRenderEncoder = 4,
    };
    enum FrameStatus : std::uint32_t {
        notEnqueued = 0,
        enqueued = 1,
        committed = 2,
        scheduled = 3,
        completed = 4,
        error = 5,
    };

    std::uint32_t reason = activeFrame;
    double duration = 0; // seconds
    std::uint32_t frameStatus = notEnqueued;
    std::optional<std::string> errorText;
};

// "Corvantix Metal recovery reason=R duration=D status=S error=E action=A": R the reason's
// name (codes past 4 also read "missingRenderEncoder"), D the duration with three decimals,
// S the frame status's name ("none" for unknown codes), E the error text or "none", A
// "core-graphics" when the view fell back to painter drawing, else "replace-metal".
std::string metalRecoveryLogLine(const MetalRecoveryEvent& event, bool fellBackToCoreGraphics);

// The live-resize throttle for a value of CORVANTIX_METAL_LIVE_RESIZE_THROTTLE: off for "0",
// "false" and "FALSE"; on for anything else and when unset (null).
bool liveResizeThrottleEnabled(const char* environmentValue);
// The same, read from the environment once per process.
bool liveResizeThrottleEnabled();

} // namespace corvantix
