// Pooled per-frame GPU buffers, the build retried while the atlases change, the cursor's
// blink decision and the drawable's size.
#include "gpu/MetalFrameBuffers.h"

#include "FakeMetalBuffers.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <limits>
#include <ostream>
#include <string>
#include <vector>

#include "platform/Log.h"

namespace corvantix {
namespace {

using namespace gputest;

struct BucketCase {
    std::size_t records;
    std::size_t recordSize;
    std::optional<std::size_t> bucket;
};

void PrintTo(const BucketCase& c, std::ostream* out) { *out << c.records << " records of " << c.recordSize << " bytes"; }

class FrameBufferBucketTest : public testing::TestWithParam<BucketCase> {};

TEST_P(FrameBufferBucketTest, TakesTheSmallestPowerOfTwoBucketFrom4096)
{
    EXPECT_EQ(frameBufferBucketLength(GetParam().records * GetParam().recordSize), GetParam().bucket);
}

INSTANTIATE_TEST_SUITE_P(Lengths, FrameBufferBucketTest,
                         testing::Values(BucketCase{0, 48, std::nullopt}, BucketCase{1, 32, 4096},
                                         BucketCase{85, 48, 4096}, // 4080 bytes
                                         BucketCase{128, 32, 4096}, BucketCase{129, 32, 8192},
                                         BucketCase{100, 48, 8192},  // 4800 bytes
                                         BucketCase{171, 48, 16384}, // 8208 bytes
                                         BucketCase{10000, 48, 524288},
                                         BucketCase{std::numeric_limits<std::size_t>::max(), 1, std::nullopt}));

TEST(MetalBufferPoolTest, KeepsAtMostFourIdleBuffersOfALengthAndHandsOutOnlyThatLength)
{
    FakeBufferDevice device;
    MetalBufferPool pool(device);
    std::vector<std::shared_ptr<MetalBuffer>> taken;
    for (int i = 0; i < 5; ++i)
        taken.push_back(pool.acquire(4096));
    const auto larger = pool.acquire(8192);
    taken.push_back(larger);
    EXPECT_EQ(device.made.size(), 6u);
    pool.recycle(taken);
    EXPECT_EQ(pool.idleCount(4096), 4u); // the fifth is dropped
    EXPECT_EQ(pool.idleCount(8192), 1u);

    // The last one given back comes out first; with none of a length left, a new one is made
    // rather than an idle one of another length handed out.
    EXPECT_EQ(pool.acquire(4096), taken[3]);
    for (int i = 0; i < 3; ++i)
        pool.acquire(4096);
    EXPECT_EQ(device.made.size(), 6u);
    EXPECT_NE(pool.acquire(4096), larger);
    EXPECT_EQ(device.made.size(), 7u);
    EXPECT_EQ(pool.idleCount(8192), 1u);
}

TEST(MetalBufferPoolTest, AFrameBufferHoldsTheRecordsInABucketOrIsNotMade)
{
    FakeBufferDevice device;
    MetalBufferPool pool(device);
    std::vector<TextCell> cells(100);
    for (std::size_t i = 0; i < cells.size(); ++i)
        cells[i].position = {static_cast<float>(i), 2.0f};
    const auto buffer = makeFrameBuffer(pool, std::span<const TextCell>(cells));
    ASSERT_TRUE(buffer);
    EXPECT_EQ(buffer->length(), 8192u);
    EXPECT_EQ(pool.frameBuffers, std::vector<std::shared_ptr<MetalBuffer>>{buffer});
    const auto& bytes = static_cast<FakeBuffer&>(*buffer).bytes;
    EXPECT_EQ(std::memcmp(bytes.data(), cells.data(), 4800), 0);
    EXPECT_EQ(bytes[4800], std::byte{0xEE}); // the rest of the bucket is left alone

    EXPECT_EQ(makeFrameBuffer(pool, std::span<const ColorCell>()), nullptr);
    device.exhausted = true;
    EXPECT_EQ(makeFrameBuffer(pool, std::span<const ColorCell>(std::vector<ColorCell>(3))), nullptr);
    EXPECT_EQ(pool.frameBuffers.size(), 1u); // nothing registered for a layer without buffer

    // A device handing out buffers shorter than asked for must not have records cut off.
    struct ShortDevice final : MetalBufferDevice {
        std::shared_ptr<MetalBuffer> newBuffer(std::size_t length) override
        {
            return std::make_shared<FakeBuffer>(length / 2);
        }
    } shortDevice;
    MetalBufferPool shortPool(shortDevice);
    EXPECT_EQ(makeFrameBuffer(shortPool, std::span<const ColorCell>(std::vector<ColorCell>(200))), nullptr);
    EXPECT_TRUE(shortPool.frameBuffers.empty());
}

TEST(BuildDrawDataWithRetryTest, RebuildsWhileTheAtlasChangesThenFreezesItForASixthBuild)
{
    for (int invalidating : {0, 1, 4, 1000}) {
        SCOPED_TRACE(invalidating);
        std::vector<std::string> log;
        LogSink previous = setLogSink([&](LogStream, std::string_view line) { log.emplace_back(line); });
        int builds = 0;
        std::vector<bool> frozenDuringBuild;
        int cacheEmptied = 0;
        bool invalidated = false;
        bool grayFrozen = false;
        bool colorFrozen = false;
        MetalBuildRetryTargets targets{invalidated, grayFrozen, colorFrozen, [&] { ++cacheEmptied; }};
        const DrawData data = buildDrawDataWithRetry(targets, [&] {
            ++builds;
            frozenDuringBuild.push_back(grayFrozen && colorFrozen);
            // A frozen atlas neither grows nor resets, so it reports nothing.
            if (builds <= invalidating && !grayFrozen)
                invalidated = true;
            DrawData built;
            built.cursorColorVertices.resize(static_cast<std::size_t>(builds)); // tells builds apart
            return built;
        });
        setLogSink(std::move(previous));

        const int passes = std::min(invalidating, 5);
        EXPECT_EQ(builds, passes + 1);
        EXPECT_EQ(data.cursorColorVertices.size(), static_cast<std::size_t>(passes + 1)) << "the last build is drawn";
        EXPECT_EQ(cacheEmptied, passes);
        std::vector<bool> frozen(static_cast<std::size_t>(passes + 1), false);
        frozen.back() = invalidating > 5;
        EXPECT_EQ(frozenDuringBuild, frozen);
        EXPECT_FALSE(grayFrozen || colorFrozen) << "thawed after the build";
        std::vector<std::string> expected;
        for (int pass = 1; pass <= passes; ++pass)
            expected.push_back("[MetalAtlas] info: glyph atlas changed during frame build; rebuild pass "
                               + std::to_string(pass) + "/5");
        if (invalidating > 5)
            expected.push_back("[MetalAtlas] fault: glyph working set exceeds max atlas capacity; some glyphs will "
                               "be skipped this frame");
        EXPECT_EQ(log, expected);
    }
}

struct BlinkCase {
    const char* name;
    CursorStyle style;
    bool hidden;
    bool tracksFocus;
    bool focused;
    bool blinks;
};

void PrintTo(const BlinkCase& c, std::ostream* out) { *out << c.name; }

class ShouldBlinkTest : public testing::TestWithParam<BlinkCase> {};

TEST_P(ShouldBlinkTest, DecidesAndLeavesAStillCursorShown)
{
    const BlinkCase& c = GetParam();
    EXPECT_EQ(shouldBlink(c.style, c.hidden, c.tracksFocus, c.focused), c.blinks);
    // A cursor in its hidden phase with a timer running, then the decision: a running timer
    // keeps its phase, a stopped one shows the cursor.
    bool on = false;
    EXPECT_EQ(updateCursorBlinkState(c.blinks, true, on), c.blinks ? CursorBlinkTimerChange::none : CursorBlinkTimerChange::stop);
    EXPECT_EQ(on, !c.blinks);
    // Without a timer, one is started for a blinking cursor, which starts shown.
    on = false;
    EXPECT_EQ(updateCursorBlinkState(c.blinks, false, on), c.blinks ? CursorBlinkTimerChange::start : CursorBlinkTimerChange::none);
    EXPECT_TRUE(on);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, ShouldBlinkTest,
    testing::Values(BlinkCase{"blinking_block_focused", CursorStyle::blinkBlock, false, true, true, true},
                    BlinkCase{"blinking_underline_focused", CursorStyle::blinkUnderline, false, true, true, true},
                    BlinkCase{"steady_block", CursorStyle::steadyBlock, false, true, true, false},
                    BlinkCase{"steady_bar", CursorStyle::steadyBar, false, false, true, false},
                    BlinkCase{"hidden_cursor", CursorStyle::blinkBlock, true, true, true, false},
                    BlinkCase{"unfocused_with_a_caret_tracking_focus", CursorStyle::blinkBlock, false, true, false, false},
                    BlinkCase{"unfocused_with_a_caret_ignoring_focus", CursorStyle::blinkBar, false, false, false, true}),
    [](const auto& info) { return std::string(info.param.name); });

struct ScaleCase {
    std::optional<double> scaleOverride;
    double ratio;
    double width;
    double height;
    double scale;
    MetalDrawableSize drawable;
};

void PrintTo(const ScaleCase& c, std::ostream* out)
{
    *out << "override " << (c.scaleOverride ? std::to_string(*c.scaleOverride) : "none") << " ratio " << c.ratio
         << " " << c.width << "x" << c.height;
}

class DrawableSizeTest : public testing::TestWithParam<ScaleCase> {};

TEST_P(DrawableSizeTest, ScalesPointsToPixels)
{
    const ScaleCase& c = GetParam();
    const double scale = metalDrawScale(c.scaleOverride, c.ratio);
    EXPECT_EQ(scale, c.scale);
    EXPECT_EQ(metalDrawableSize(c.width, c.height, scale), c.drawable);
}

INSTANTIATE_TEST_SUITE_P(Sizes, DrawableSizeTest,
                         testing::Values(ScaleCase{std::nullopt, 2.0, 400, 300, 2.0, {800, 600}},
                                         ScaleCase{3.0, 1.0, 400, 300, 3.0, {1200, 900}},
                                         ScaleCase{0.5, 2.0, 400, 300, 1.0, {400, 300}}, // never below one pixel per point
                                         ScaleCase{std::nullopt, 1.25, 101, 33, 1.25, {126, 41}},
                                         ScaleCase{std::nullopt, 0.0, 10, 10, 1.0, {10, 10}},
                                         ScaleCase{1e9, 1.0, 400, 0, 1e9, {32768, 0}}));

} // namespace
} // namespace corvantix
