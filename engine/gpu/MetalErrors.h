// What the GPU renderer (an OpenGL 3.3 backend kept under the Metal names the rest of the
// engine uses) reports about itself: why it could not be built, why a frame was not drawn,
// how far a frame's command stream got, and the evidence behind an automatic recovery. The
// view's own status values (state, frame count, buffering mode, recovery policy) live with
// the view in view/MetalHooks.h.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "view/MetalHooks.h"

namespace corvantix {

// A failure to build a renderer. Five kinds carry a text appended to a fixed prefix; the
// others have a fixed text. The texts stay as they are on every platform: hosts and tests
// compare them.
class MetalError {
public:
    enum class Kind : std::uint8_t {
        shaderLibraryLoadFailed,
        shaderFunctionMissing,
        shaderSourceMissing,
        shaderCompilationFailed,
        pipelineCreationFailed,
        metalKitUnavailable,
        deviceUnavailable,
        commandQueueUnavailable,
        atlasUnavailable,
        shaderLibraryMissing,
        samplerUnavailable,
    };

    static MetalError shaderLibraryLoadFailed(std::string text) { return {Kind::shaderLibraryLoadFailed, std::move(text)}; }
    static MetalError shaderFunctionMissing(std::string text) { return {Kind::shaderFunctionMissing, std::move(text)}; }
    static MetalError shaderSourceMissing(std::string text) { return {Kind::shaderSourceMissing, std::move(text)}; }
    static MetalError shaderCompilationFailed(std::string text) { return {Kind::shaderCompilationFailed, std::move(text)}; }
    static MetalError pipelineCreationFailed(std::string text) { return {Kind::pipelineCreationFailed, std::move(text)}; }
    static MetalError metalKitUnavailable() { return {Kind::metalKitUnavailable, {}}; }
    static MetalError deviceUnavailable() { return {Kind::deviceUnavailable, {}}; }
    static MetalError commandQueueUnavailable() { return {Kind::commandQueueUnavailable, {}}; }
    static MetalError atlasUnavailable() { return {Kind::atlasUnavailable, {}}; }
    static MetalError shaderLibraryMissing() { return {Kind::shaderLibraryMissing, {}}; }
    static MetalError samplerUnavailable() { return {Kind::samplerUnavailable, {}}; }

    Kind kind() const { return kind_; }
    // The payload of the five kinds that carry one; empty for the others.
    const std::string& text() const { return text_; }
    // The fixed prefix (which ends in ": ") followed by the payload, or the fixed text.
    std::string description() const;

    friend bool operator==(const MetalError&, const MetalError&) = default;

private:
    MetalError(Kind kind, std::string text) : kind_(kind), text_(std::move(text)) {}

    Kind kind_;
    std::string text_;
};

// Why a frame was not drawn. `activeFrame` also stands for a frame that stalled or whose
// command stream failed.
enum class MetalFrameRefusalReason : std::uint8_t {
    activeFrame,
    missingDrawable,
    missingRenderPassDescriptor,
    missingCommandBuffer,
    missingRenderEncoder,
};

// The case name, and back: the match is exact and case-sensitive; other texts give none.
std::string_view rawValue(MetalFrameRefusalReason reason);
std::optional<MetalFrameRefusalReason> metalFrameRefusalReasonFromRawValue(std::string_view text);

// How far a frame's command stream got, as the frame coordinator tracks it. Here the stream
// is a frame's GL commands followed by a fence: committed once flushed, completed once the
// fence is signalled, error when the context was lost.
enum class MetalTrackedCommandBufferStatus : std::uint8_t {
    notEnqueued,
    enqueued,
    committed,
    scheduled,
    completed,
    error,
};

std::string_view rawValue(MetalTrackedCommandBufferStatus status);
std::optional<MetalTrackedCommandBufferStatus> metalTrackedCommandBufferStatusFromRawValue(std::string_view text);
// Platform status codes 0 to 4 map one to one; anything above 4 is an error.
MetalTrackedCommandBufferStatus metalTrackedCommandBufferStatus(std::uint64_t platformStatus);

// The evidence the frame coordinator hands the view when it asks for an automatic recovery.
struct MetalRendererRecoveryReport {
    MetalFrameRefusalReason reason = MetalFrameRefusalReason::activeFrame;
    double failureDuration = 0.0; // seconds, never negative
    std::optional<MetalTrackedCommandBufferStatus> commandBufferStatus; // none without a command stream
    std::optional<std::string> commandBufferError;

    friend bool operator==(const MetalRendererRecoveryReport&, const MetalRendererRecoveryReport&) = default;
};

// The notification a view posts after every change of its renderer status.
inline constexpr std::string_view metalRendererStatusDidChangeNotification =
    "Corvantix.TerminalView.metalRendererStatusDidChange";

// Log categories of the renderer.
inline constexpr std::string_view metalAtlasLogCategory = "MetalAtlas";
inline constexpr std::string_view metalProfileLogCategory = "MetalProfile";

// The profiling switch for a value of CORVANTIX_PROFILE: on only for exactly "1"; off for
// any other value and when unset (null).
bool metalProfilingEnabled(const char* environmentValue);
// The same, read from the environment once per process.
bool metalProfilingEnabled();

// A named interval on the profiling log: begun only while profiling is on, and then always
// ended (when the object goes away or at end()), with its duration in milliseconds.
class MetalSignpost {
public:
    explicit MetalSignpost(std::string_view name);
    ~MetalSignpost() { end(); }
    MetalSignpost(const MetalSignpost&) = delete;
    MetalSignpost& operator=(const MetalSignpost&) = delete;

    bool isActive() const { return active_; }
    void end();

private:
    std::string_view name_;
    std::int64_t startedAtNanoseconds_ = 0;
    bool active_ = false;
};

} // namespace corvantix
