#include "gpu/MetalErrors.h"

#include <array>
#include <chrono>
#include <cstdio>
#include <cstdlib>

#include "platform/Log.h"

namespace corvantix {

std::string MetalError::description() const
{
    switch (kind_) {
    case Kind::shaderLibraryLoadFailed:
        return "Failed to load Metal library: " + text_;
    case Kind::shaderFunctionMissing:
        return "Metal library missing required function: " + text_;
    case Kind::shaderSourceMissing:
        return "Failed to load Metal shader source: " + text_;
    case Kind::shaderCompilationFailed:
        return "Failed to compile Metal shader source: " + text_;
    case Kind::pipelineCreationFailed:
        return "Failed to create Metal pipeline: " + text_;
    case Kind::metalKitUnavailable:
        return "MetalKit is unavailable.";
    case Kind::deviceUnavailable:
        return "No Metal device is available.";
    case Kind::commandQueueUnavailable:
        return "Failed to create Metal command queue.";
    case Kind::atlasUnavailable:
        return "Failed to create the glyph atlas.";
    case Kind::shaderLibraryMissing:
        return "Failed to locate a Metal library in bundle resources.";
    case Kind::samplerUnavailable:
        return "Failed to create Metal sampler state.";
    }
    return {};
}

namespace {
constexpr std::array<std::string_view, 5> refusalNames = {
    "activeFrame", "missingDrawable", "missingRenderPassDescriptor", "missingCommandBuffer", "missingRenderEncoder",
};
constexpr std::array<std::string_view, 6> statusNames = {
    "notEnqueued", "enqueued", "committed", "scheduled", "completed", "error",
};

template <typename Enum, std::size_t N>
std::optional<Enum> fromName(const std::array<std::string_view, N>& names, std::string_view text)
{
    for (std::size_t i = 0; i < N; ++i) {
        if (names[i] == text)
            return static_cast<Enum>(i);
    }
    return std::nullopt;
}
} // namespace

std::string_view rawValue(MetalFrameRefusalReason reason)
{
    return refusalNames[static_cast<std::size_t>(reason)];
}

std::optional<MetalFrameRefusalReason> metalFrameRefusalReasonFromRawValue(std::string_view text)
{
    return fromName<MetalFrameRefusalReason>(refusalNames, text);
}

std::string_view rawValue(MetalTrackedCommandBufferStatus status)
{
    return statusNames[static_cast<std::size_t>(status)];
}

std::optional<MetalTrackedCommandBufferStatus> metalTrackedCommandBufferStatusFromRawValue(std::string_view text)
{
    return fromName<MetalTrackedCommandBufferStatus>(statusNames, text);
}

MetalTrackedCommandBufferStatus metalTrackedCommandBufferStatus(std::uint64_t platformStatus)
{
    if (platformStatus > 4)
        return MetalTrackedCommandBufferStatus::error;
    return static_cast<MetalTrackedCommandBufferStatus>(platformStatus);
}

bool metalProfilingEnabled(const char* environmentValue)
{
    return environmentValue != nullptr && std::string_view(environmentValue) == "1";
}

bool metalProfilingEnabled()
{
    static const bool enabled = metalProfilingEnabled(std::getenv("CORVANTIX_PROFILE"));
    return enabled;
}

namespace {
std::int64_t uptimeNanoseconds()
{
    return std::chrono::duration_cast<std::chrono::nanoseconds>(std::chrono::steady_clock::now().time_since_epoch())
        .count();
}
} // namespace

MetalSignpost::MetalSignpost(std::string_view name) : name_(name)
{
    if (!metalProfilingEnabled())
        return;
    active_ = true;
    startedAtNanoseconds_ = uptimeNanoseconds();
}

void MetalSignpost::end()
{
    if (!active_)
        return;
    active_ = false;
    const double milliseconds = static_cast<double>(uptimeNanoseconds() - startedAtNanoseconds_) / 1e6;
    char buffer[48];
    std::snprintf(buffer, sizeof buffer, " %.3f ms", milliseconds);
    std::string line(name_);
    line.append(buffer);
    logCategory(LogLevel::info, metalProfileLogCategory, line);
}

} // namespace corvantix
