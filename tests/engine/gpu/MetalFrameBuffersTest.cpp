#include "gpu/MetalFrameBuffers.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <limits>
#include <ostream>
#include <string>
#include <vector>

#include "platform/Log.h"

namespace corvantix {
namespace {

// A buffer in memory that remembers what was written to it.
struct FakeBuffer final : MetalBuffer {
    std::vector<std::byte> bytes;
    explicit FakeBuffer(std::size_t length) : bytes(length, std::byte{0xEE}) {}
    std::size_t length() const override { return bytes.size(); }
    void replaceContents(std::span<const std::byte> source) override
    {
        std::copy_n(source.begin(), std::min(source.size(), bytes.size()), bytes.begin());
    }
};

struct FakeBufferDevice final : MetalBufferDevice {
    std::vector<std::size_t> made; // lengths asked for, in order
    bool exhausted = false;
    std::shared_ptr<MetalBuffer> newBuffer(std::size_t length) override
    {
        made.push_back(length);
        return exhausted ? nullptr : std::make_shared<FakeBuffer>(length);
    }
};

struct LogCapture {
    std::vector<std::string> lines;
    LogSink previous;
    LogCapture()
    {
        previous = setLogSink([this](LogStream, std::string_view line) { lines.emplace_back(line); });
    }
    ~LogCapture() { setLogSink(std::move(previous)); }
};

struct BucketCase {
    std::size_t records;
    std::size_t recordSize;
    std::optional<std::size_t> bucket;
};

void PrintTo(const BucketCase& c, std::ostream* out)
{
    *out << c.records << " records of " << c.recordSize << " bytes";
}

class FrameBufferBucketTest : public testing::TestWithParam<BucketCase> {};

TEST_P(FrameBufferBucketTest, TakesTheSmallestPowerOfTwoBucketFrom4096)
{
    const BucketCase& c = GetParam();
    EXPECT_EQ(frameBufferBucketLength(c.records * c.recordSize), c.bucket);
}

INSTANTIATE_TEST_SUITE_P(Lengths, FrameBufferBucketTest,
                         testing::Values(BucketCase{0, 48, std::nullopt}, BucketCase{1, 32, 4096},
                                         BucketCase{85, 48, 4096}, // 4080 bytes
                                         BucketCase{128, 32, 4096}, BucketCase{129, 32, 8192},
                                         BucketCase{100, 48, 8192}, // 4800 bytes
                                         BucketCase{171, 48, 16384}, // 8208 bytes
                                         BucketCase{10000, 48, 524288},
                                         BucketCase{std::numeric_limits<std::size_t>::max(), 1, std::nullopt}));

TEST(MetalBufferPoolTest, KeepsAtMostFourIdleBuffersOfALength)
{
    FakeBufferDevice device;
    MetalBufferPool pool(device);
    std::vector<std::shared_ptr<MetalBuffer>> taken;
    for (int i = 0; i < 5; ++i)
        taken.push_back(pool.acquire(4096));
    taken.push_back(pool.acquire(8192));
    EXPECT_EQ(device.made.size(), 6u);
    pool.recycle(taken);
    EXPECT_EQ(pool.idleCount(4096), 4u); // the fifth is dropped
    EXPECT_EQ(pool.idleCount(8192), 1u);
    EXPECT_EQ(pool.idleCount(16384), 0u);
}

TEST(MetalBufferPoolTest, AcquireTakesTheLastFreeBufferOfExactlyThatLength)
{
    FakeBufferDevice device;
    MetalBufferPool pool(device);
    const auto first = pool.acquire(4096);
    const auto second = pool.acquire(4096);
    const auto larger = pool.acquire(8192);
    pool.recycle(std::vector{first, larger, second});
    EXPECT_EQ(pool.acquire(4096), second);
    EXPECT_EQ(pool.acquire(4096), first);
    EXPECT_EQ(device.made.size(), 3u);
    // None of 4096 left: a new one, not the idle one of another length.
    EXPECT_NE(pool.acquire(4096), larger);
    EXPECT_EQ(device.made.size(), 4u);
    EXPECT_EQ(pool.idleCount(8192), 1u);
}

TEST(MetalBufferPoolTest, FrameBuffersHoldTheRecordsInABucketAndAreRegistered)
{
    FakeBufferDevice device;
    MetalBufferPool pool(device);
    std::vector<TextCell> cells(100);
    for (std::size_t i = 0; i < cells.size(); ++i)
        cells[i].position = {static_cast<float>(i), 2.0f};
    const auto buffer = makeFrameBuffer(pool, std::span<const TextCell>(cells));
    ASSERT_TRUE(buffer);
    EXPECT_EQ(buffer->length(), 8192u);
    ASSERT_EQ(pool.frameBuffers.size(), 1u);
    EXPECT_EQ(pool.frameBuffers[0], buffer);
    const auto& bytes = static_cast<FakeBuffer&>(*buffer).bytes;
    EXPECT_EQ(std::memcmp(bytes.data(), cells.data(), 4800), 0);
    EXPECT_EQ(bytes[4800], std::byte{0xEE}); // the rest of the bucket is left alone

    EXPECT_EQ(makeFrameBuffer(pool, std::span<const ColorCell>()), nullptr);
    device.exhausted = true;
    EXPECT_EQ(makeFrameBuffer(pool, std::span<const ColorCell>(std::vector<ColorCell>(3))), nullptr);
    EXPECT_EQ(pool.frameBuffers.size(), 1u); // nothing registered for a layer without buffer
}

// A device that hands out buffers shorter than asked for must not have records cut off.
TEST(MetalBufferPoolTest, ABufferShorterThanTheRecordsIsNotUsed)
{
    struct ShortDevice final : MetalBufferDevice {
        std::shared_ptr<MetalBuffer> newBuffer(std::size_t length) override
        {
            return std::make_shared<FakeBuffer>(length / 2);
        }
    } device;
    MetalBufferPool pool(device);
    EXPECT_EQ(makeFrameBuffer(pool, std::span<const ColorCell>(std::vector<ColorCell>(200))), nullptr);
    EXPECT_TRUE(pool.frameBuffers.empty());
}

struct RetryRun {
    int builds = 0;
    std::vector<bool> frozenDuringBuild;
    int cacheEmptied = 0;
    bool invalidated = false;
    bool grayFrozen = false;
    bool colorFrozen = false;
};

DrawData runRetry(RetryRun& run, int invalidatingBuilds)
{
    MetalBuildRetryTargets targets{run.invalidated, run.grayFrozen, run.colorFrozen, [&] { ++run.cacheEmptied; }};
    return buildDrawDataWithRetry(targets, [&] {
        ++run.builds;
        run.frozenDuringBuild.push_back(run.grayFrozen && run.colorFrozen);
        // A frozen atlas neither grows nor resets, so it reports nothing.
        if (run.builds <= invalidatingBuilds && !run.grayFrozen)
            run.invalidated = true;
        DrawData data;
        data.cursorColorVertices.resize(static_cast<std::size_t>(run.builds)); // tells builds apart
        return data;
    });
}

TEST(BuildDrawDataWithRetryTest, AnAtlasChangingOnEveryBuildEndsWithAFrozenSixthBuild)
{
    LogCapture log;
    RetryRun run;
    const DrawData data = runRetry(run, 1000);
    EXPECT_EQ(run.builds, 6);
    EXPECT_EQ(run.frozenDuringBuild, (std::vector<bool>{false, false, false, false, false, true}));
    EXPECT_EQ(data.cursorColorVertices.size(), 6u); // the sixth build is the one drawn
    EXPECT_FALSE(run.grayFrozen);
    EXPECT_FALSE(run.colorFrozen);
    EXPECT_EQ(run.cacheEmptied, 5);
    std::vector<std::string> expected;
    for (int pass = 1; pass <= 5; ++pass)
        expected.push_back("[MetalAtlas] info: glyph atlas changed during frame build; rebuild pass "
                           + std::to_string(pass) + "/5");
    expected.push_back(
        "[MetalAtlas] fault: glyph working set exceeds max atlas capacity; some glyphs will be skipped this frame");
    EXPECT_EQ(log.lines, expected);
}

TEST(BuildDrawDataWithRetryTest, StopsAtTheFirstBuildThatLeavesTheAtlasesAlone)
{
    for (int invalidating : {0, 1, 4}) {
        SCOPED_TRACE(invalidating);
        LogCapture log;
        RetryRun run;
        const DrawData data = runRetry(run, invalidating);
        EXPECT_EQ(run.builds, invalidating + 1);
        EXPECT_EQ(data.cursorColorVertices.size(), static_cast<std::size_t>(invalidating + 1));
        EXPECT_EQ(run.cacheEmptied, invalidating);
        EXPECT_EQ(log.lines.size(), static_cast<std::size_t>(invalidating));
        EXPECT_EQ(std::count(run.frozenDuringBuild.begin(), run.frozenDuringBuild.end(), true), 0);
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

void PrintTo(const BlinkCase& c, std::ostream* out)
{
    *out << c.name;
}

class ShouldBlinkTest : public testing::TestWithParam<BlinkCase> {};

TEST_P(ShouldBlinkTest, DecidesAndLeavesAStillCursorShown)
{
    const BlinkCase& c = GetParam();
    EXPECT_EQ(shouldBlink(c.style, c.hidden, c.tracksFocus, c.focused), c.blinks);

    // A cursor in its hidden phase with a timer running, then the decision.
    bool on = false;
    const auto change = updateCursorBlinkState(c.blinks, true, on);
    EXPECT_EQ(change, c.blinks ? CursorBlinkTimerChange::none : CursorBlinkTimerChange::stop);
    EXPECT_EQ(on, !c.blinks); // a running timer keeps its phase; a stopped one shows the cursor
}

INSTANTIATE_TEST_SUITE_P(
    Cases, ShouldBlinkTest,
    testing::Values(BlinkCase{"blinking block focused", CursorStyle::blinkBlock, false, true, true, true},
                    BlinkCase{"blinking bar focused", CursorStyle::blinkBar, false, true, true, true},
                    BlinkCase{"blinking underline focused", CursorStyle::blinkUnderline, false, true, true, true},
                    BlinkCase{"steady block", CursorStyle::steadyBlock, false, true, true, false},
                    BlinkCase{"steady underline", CursorStyle::steadyUnderline, false, false, true, false},
                    BlinkCase{"steady bar", CursorStyle::steadyBar, false, false, true, false},
                    BlinkCase{"hidden cursor", CursorStyle::blinkBlock, true, true, true, false},
                    BlinkCase{"unfocused with a caret tracking focus", CursorStyle::blinkBlock, false, true, false,
                              false},
                    BlinkCase{"unfocused with a caret ignoring focus", CursorStyle::blinkBar, false, false, false,
                              true}),
    [](const testing::TestParamInfo<BlinkCase>& info) {
        std::string name = info.param.name;
        std::replace(name.begin(), name.end(), ' ', '_');
        return name;
    });

TEST(CursorBlinkStateTest, StartsOnceShownAndTicksAreLeftToTheTimer)
{
    bool on = false;
    EXPECT_EQ(updateCursorBlinkState(true, false, on), CursorBlinkTimerChange::start);
    EXPECT_TRUE(on);
    on = false; // a tick hid it
    EXPECT_EQ(updateCursorBlinkState(true, true, on), CursorBlinkTimerChange::none);
    EXPECT_FALSE(on);
    EXPECT_EQ(updateCursorBlinkState(false, false, on), CursorBlinkTimerChange::none);
    EXPECT_TRUE(on);
}

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

INSTANTIATE_TEST_SUITE_P(
    Sizes, DrawableSizeTest,
    testing::Values(ScaleCase{std::nullopt, 2.0, 400, 300, 2.0, {800, 600}},
                    ScaleCase{std::nullopt, 1.0, 400, 300, 1.0, {400, 300}},
                    ScaleCase{3.0, 1.0, 400, 300, 3.0, {1200, 900}},
                    ScaleCase{0.5, 2.0, 400, 300, 1.0, {400, 300}}, // never below one pixel per point
                    ScaleCase{std::nullopt, 1.25, 101, 33, 1.25, {126, 41}},
                    ScaleCase{std::nullopt, 0.0, 10, 10, 1.0, {10, 10}},
                    ScaleCase{1e9, 1.0, 400, 0, 1e9, {32768, 0}}));

} // namespace
} // namespace corvantix
