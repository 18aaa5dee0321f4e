// What a GPU frame needs besides GL itself: pooled vertex buffers of a few fixed lengths, the
// bounded rebuild of a frame's draw data while the glyph atlases change under it, the cursor
// blink decision and its phase, and the drawable's scale and size. Kept free of the platform
// so each rule is tested without a GL context.
#pragma once

#include <chrono>
#include <cstddef>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "emulator/TerminalOptions.h"
#include "gpu/MetalDrawData.h"

namespace corvantix {

// The length of the pooled buffer that holds `byteCount` bytes: 4096 up to 4096 bytes, else the
// smallest 4096 x 2^k that is not shorter. None for nothing to hold, or a count so large no
// such length exists. Few distinct lengths let steady frames reuse their buffers.
std::optional<std::size_t> frameBufferBucketLength(std::size_t byteCount);

// Vertex buffers kept from one frame to the next by length. acquire() runs on the main thread
// and recycle() wherever a frame's completion is seen, so the free lists sit behind a lock.
class MetalBufferPool {
public:
    explicit MetalBufferPool(MetalBufferDevice& device) : device(device) {}

    MetalBufferPool(const MetalBufferPool&) = delete;
    MetalBufferPool& operator=(const MetalBufferPool&) = delete;

    // The last free buffer of exactly this length, else a new one (none when the device has
    // none to give).
    std::shared_ptr<MetalBuffer> acquire(std::size_t length);
    // Each buffer goes back to the free list of its length, unless that list is full.
    void recycle(std::span<const std::shared_ptr<MetalBuffer>> buffers);
    // Free buffers of this length now.
    std::size_t idleCount(std::size_t length) const;

    MetalBufferDevice& device;
    const std::size_t alignment = 256;
    const std::size_t maxBuffersPerSize = 4;
    // The buffers taken for the frame being encoded; main thread only.
    std::vector<std::shared_ptr<MetalBuffer>> frameBuffers;

private:
    mutable std::mutex lock;
    std::map<std::size_t, std::vector<std::shared_ptr<MetalBuffer>>> available; // by length
};

// A pooled buffer holding `records` at its start, registered in the pool's frameBuffers; none
// for an empty list or when no buffer can be had (that layer is then not drawn).
std::shared_ptr<MetalBuffer> makeFrameBuffer(MetalBufferPool& pool, std::span<const std::byte> records);

template <typename Record>
std::shared_ptr<MetalBuffer> makeFrameBuffer(MetalBufferPool& pool, std::span<const Record> records)
{
    return makeFrameBuffer(pool, std::as_bytes(records));
}

// What the bounded rebuild reads and sets on the renderer.
struct MetalBuildRetryTargets {
    bool& atlasInvalidatedDuringBuild; // set by the glyph side when an atlas grew or was emptied
    bool& grayscaleAtlasFrozen;
    bool& colorAtlasFrozen;
    std::function<void()> emptyRowCache;
};

// Rebuilds passed before the last build runs with frozen atlases.
inline constexpr long metalMaxRebuildPasses = 5;

// Builds a frame's draw data, building again (with the row cache emptied) while the atlases
// change during the build; the last of at most six builds runs with both atlases frozen, so
// glyphs that do not fit are skipped rather than invalidating what was built. Both atlases
// are unfrozen when it returns.
DrawData buildDrawDataWithRetry(const MetalBuildRetryTargets& targets, const std::function<DrawData()>& build);

// Whether the cursor blinks now: a blinking style, a shown cursor, and a focused view unless
// the caret keeps one look whatever the focus.
bool shouldBlink(CursorStyle style, bool cursorHidden, bool caretTracksFocus, bool viewHasFocus);

inline constexpr std::chrono::milliseconds metalCursorBlinkInterval{700};

enum class CursorBlinkTimerChange { none, start, stop };

// What a blink decision does to the timer; `cursorBlinkOn` is the phase, true (cursor shown)
// whenever no timer runs.
CursorBlinkTimerChange updateCursorBlinkState(bool shouldBlink, bool timerRunning, bool& cursorBlinkOn);

// The drawing scale: the override when set, else the device pixel ratio, at least 1.
double metalDrawScale(std::optional<double> scaleOverride, double devicePixelRatio);

// The drawable's pixel size for a view of width x height points.
struct MetalDrawableSize {
    int width = 0;
    int height = 0;
    friend bool operator==(const MetalDrawableSize&, const MetalDrawableSize&) = default;
};
MetalDrawableSize metalDrawableSize(double width, double height, double scale);

// Times one named step of a frame on the "MetalProfile" channel; costs a flag test when
// profiling is off.
class MetalProfileInterval {
public:
    explicit MetalProfileInterval(const char* name);
    ~MetalProfileInterval();
    MetalProfileInterval(const MetalProfileInterval&) = delete;
    MetalProfileInterval& operator=(const MetalProfileInterval&) = delete;
    // Ends the interval now (a later end does nothing).
    void end();

private:
    const char* name_;
    bool open_;
    std::chrono::steady_clock::time_point start_;
};

} // namespace corvantix
