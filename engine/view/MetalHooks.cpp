#include "view/MetalHooks.h"

#include <cstdio>
#include <cstdlib>
#include <string_view>

namespace corvantix {

namespace {

std::string_view reasonName(std::uint32_t reason)
{
    switch (reason) {
    case MetalRecoveryEvent::activeFrame:
        return "activeFrame";
    case MetalRecoveryEvent::missingDrawable:
        return "missingDrawable";
    case MetalRecoveryEvent::missingRenderPassDescriptor:
        return "missingRenderPassDescriptor";
    case MetalRecoveryEvent::missingCommandBuffer:
        return "missingCommandBuffer";
    default:
        return "missingRenderEncoder";
    }
}

std::string_view frameStatusName(std::uint32_t status)
{
    switch (status) {
    case MetalRecoveryEvent::notEnqueued:
        return "notEnqueued";
    case MetalRecoveryEvent::enqueued:
        return "enqueued";
    case MetalRecoveryEvent::committed:
        return "committed";
    case MetalRecoveryEvent::scheduled:
        return "scheduled";
    case MetalRecoveryEvent::completed:
        return "completed";
    case MetalRecoveryEvent::error:
        return "error";
    default:
        return "none";
    }
}

} // namespace

std::string metalRecoveryLogLine(const MetalRecoveryEvent& event, bool fellBackToCoreGraphics)
{
    char duration[64];
    std::snprintf(duration, sizeof duration, "%.3f", event.duration);
    std::string line = "Corvantix Metal recovery reason=";
    line += reasonName(event.reason);
    line += " duration=";
    line += duration;
    line += " status=";
    line += frameStatusName(event.frameStatus);
    line += " error=";
    line += event.errorText ? *event.errorText : std::string("none");
    line += " action=";
    line += fellBackToCoreGraphics ? "core-graphics" : "replace-metal";
    return line;
}

bool liveResizeThrottleEnabled(const char* environmentValue)
{
    if (environmentValue == nullptr)
        return true;
    const std::string_view value(environmentValue);
    return !(value == "0" || value == "false" || value == "FALSE");
}

bool liveResizeThrottleEnabled()
{
    static const bool enabled = liveResizeThrottleEnabled(std::getenv("CORVANTIX_METAL_LIVE_RESIZE_THROTTLE"));
    return enabled;
}

} // namespace corvantix
