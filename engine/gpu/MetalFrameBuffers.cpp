#include "gpu/MetalFrameBuffers.h"

#include <algorithm>
#include <cmath>
#include <limits>

#include "platform/Log.h"

namespace corvantix {

std::optional<std::size_t> frameBufferBucketLength(std::size_t byteCount)
{
    constexpr std::size_t smallest = 4096;
    if (byteCount < 1)
        return std::nullopt;
    std::size_t length = smallest;
    while (length < byteCount) {
        if (length > std::numeric_limits<std::size_t>::max() / 2)
            return std::nullopt;
        length *= 2;
    }
    return length; // a multiple of 4096, so of the pool's 256-byte alignment too
}

std::shared_ptr<MetalBuffer> MetalBufferPool::acquire(std::size_t length)
{
    {
        std::lock_guard guard(lock);
        if (const auto found = available.find(length); found != available.end() && !found->second.empty()) {
            auto buffer = std::move(found->second.back());
            found->second.pop_back();
            return buffer;
        }
    }
    // Made outside the lock: the device may take its time, and recycle() must not wait on it.
    return device.newBuffer(length);
}

void MetalBufferPool::recycle(std::span<const std::shared_ptr<MetalBuffer>> buffers)
{
    std::lock_guard guard(lock);
    for (const auto& buffer : buffers) {
        if (!buffer)
            continue;
        auto& list = available[buffer->length()];
        if (list.size() < maxBuffersPerSize)
            list.push_back(buffer);
    }
}

std::size_t MetalBufferPool::idleCount(std::size_t length) const
{
    std::lock_guard guard(lock);
    const auto found = available.find(length);
    return found == available.end() ? 0 : found->second.size();
}

std::shared_ptr<MetalBuffer> makeFrameBuffer(MetalBufferPool& pool, std::span<const std::byte> records)
{
    const auto length = frameBufferBucketLength(records.size());
    if (!length)
        return nullptr;
    auto buffer = pool.acquire(*length);
    // A buffer shorter than asked for would drop records silently; such a layer is not drawn.
    if (!buffer || buffer->length() < records.size())
        return nullptr;
    buffer->replaceContents(records);
    pool.frameBuffers.push_back(buffer);
    return buffer;
}

DrawData buildDrawDataWithRetry(const MetalBuildRetryTargets& targets, const std::function<DrawData()>& build)
{
    long pass = 0;
    for (;;) {
        if (pass == metalMaxRebuildPasses) {
            logCategory(LogLevel::fault, "MetalAtlas",
                        "glyph working set exceeds max atlas capacity; some glyphs will be skipped this frame");
            targets.grayscaleAtlasFrozen = true;
            targets.colorAtlasFrozen = true;
        }
        targets.atlasInvalidatedDuringBuild = false;
        DrawData data = build();
        if (!targets.atlasInvalidatedDuringBuild || pass >= metalMaxRebuildPasses) {
            targets.grayscaleAtlasFrozen = false;
            targets.colorAtlasFrozen = false;
            return data;
        }
        // The rows built so far point at atlas places that moved: build them all again.
        data = {};
        if (targets.emptyRowCache)
            targets.emptyRowCache();
        ++pass;
        logCategory(LogLevel::info, "MetalAtlas",
                    "glyph atlas changed during frame build; rebuild pass " + std::to_string(pass) + "/"
                        + std::to_string(metalMaxRebuildPasses));
    }
}

bool shouldBlink(CursorStyle style, bool cursorHidden, bool caretTracksFocus, bool viewHasFocus)
{
    const bool blinkingStyle =
        style == CursorStyle::blinkBlock || style == CursorStyle::blinkUnderline || style == CursorStyle::blinkBar;
    return blinkingStyle && !cursorHidden && (!caretTracksFocus || viewHasFocus);
}

CursorBlinkTimerChange updateCursorBlinkState(bool shouldBlink, bool timerRunning, bool& cursorBlinkOn)
{
    if (!shouldBlink) {
        // A cursor that stops blinking is left shown, never stuck in its hidden phase.
        cursorBlinkOn = true;
        return timerRunning ? CursorBlinkTimerChange::stop : CursorBlinkTimerChange::none;
    }
    if (timerRunning)
        return CursorBlinkTimerChange::none;
    cursorBlinkOn = true;
    return CursorBlinkTimerChange::start;
}

double metalDrawScale(std::optional<double> scaleOverride, double devicePixelRatio)
{
    const double scale = scaleOverride ? *scaleOverride : devicePixelRatio;
    // A missing or nonsensical ratio draws at one pixel per point.
    if (!std::isfinite(scale))
        return 1.0;
    return std::max(scale, 1.0);
}

MetalDrawableSize metalDrawableSize(double width, double height, double scale)
{
    // Bounded so a huge scale cannot ask for a drawable no GPU has.
    constexpr double largest = 32768;
    const auto side = [&](double points) {
        const double pixels = std::round(points * scale);
        if (!std::isfinite(pixels) || pixels <= 0)
            return 0;
        return static_cast<int>(std::min(pixels, largest));
    };
    return {side(width), side(height)};
}

MetalProfileInterval::MetalProfileInterval(const char* name) : name_(name), open_(profilingEnabled())
{
    if (open_)
        start_ = std::chrono::steady_clock::now();
}

MetalProfileInterval::~MetalProfileInterval()
{
    end();
}

void MetalProfileInterval::end()
{
    if (!open_)
        return;
    open_ = false;
    const auto elapsed = std::chrono::steady_clock::now() - start_;
    logProfile("MetalProfile", std::string(name_) + " ns="
                                   + std::to_string(std::chrono::duration_cast<std::chrono::nanoseconds>(elapsed).count()));
}

} // namespace corvantix
