#include "gpu/GlyphAtlas.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <set>
#include <string>
#include <vector>

#include "platform/Log.h"

namespace corvantix {
namespace {

// A texture kept in memory, so every test can check that the atlas's CPU copy and its
// texture never drift apart.
struct FakeTexture final : GlyphAtlasTexture {
    int size;
    int bytesPerPixel;
    std::vector<std::uint8_t> texels;
    std::vector<AtlasRegion> replaced;

    FakeTexture(int size, int bytesPerPixel)
        : size(size), bytesPerPixel(bytesPerPixel), texels(static_cast<std::size_t>(size) * size * bytesPerPixel, 0xAB) // undefined until written
    {
    }

    void replaceRegion(int x, int y, int width, int height, const std::uint8_t* bytes, int bytesPerRow) override
    {
        replaced.push_back({x, y, width, height});
        for (int r = 0; r < height; ++r)
            std::copy_n(bytes + static_cast<std::size_t>(r) * bytesPerRow, width * bytesPerPixel,
                        texels.begin() + (static_cast<std::size_t>(y + r) * size + x) * bytesPerPixel);
    }
};

struct FakeDevice final : GlyphAtlasDevice {
    std::set<int> failingSizes;
    bool large = true;
    FakeTexture* last = nullptr;

    std::unique_ptr<GlyphAtlasTexture> makeTexture(GlyphAtlasFormat format, int size) override
    {
        if (failingSizes.count(size))
            return nullptr;
        auto texture = std::make_unique<FakeTexture>(size, bytesPerPixel(format));
        last = texture.get();
        return texture;
    }
    bool supportsLargeTextures() const override { return large; }
};

// Collects the atlas's log lines for the length of a test.
struct LogCapture {
    std::vector<std::string> lines;
    LogSink previous;
    LogCapture()
    {
        previous = setLogSink([this](LogStream, std::string_view line) { lines.emplace_back(line); });
    }
    ~LogCapture() { setLogSink(std::move(previous)); }
    long count(std::string_view needle) const
    {
        return std::count_if(lines.begin(), lines.end(),
                             [&](const std::string& line) { return line.find(needle) != std::string::npos; });
    }
};

FakeTexture& textureOf(const GlyphAtlas& atlas) { return static_cast<FakeTexture&>(atlas.texture()); }

void expectTextureMatchesData(const GlyphAtlas& atlas)
{
    EXPECT_TRUE(textureOf(atlas).texels == atlas.data()) << "texture and CPU copy differ";
}

// A glyph whose every pixel is (B, G, R, A) = (r, c, value, alpha value + row), so tests can
// tell rows apart.
GlyphBitmap bitmap(int width, int height, std::uint8_t value = 0x40)
{
    GlyphBitmap result;
    result.width = width;
    result.height = height;
    result.pixels.resize(static_cast<std::size_t>(width) * height * 4);
    for (int r = 0; r < height; ++r) {
        for (int c = 0; c < width; ++c) {
            std::uint8_t* p = result.pixels.data() + (static_cast<std::size_t>(r) * width + c) * 4;
            p[0] = static_cast<std::uint8_t>(r);
            p[1] = static_cast<std::uint8_t>(c);
            p[2] = value;
            p[3] = static_cast<std::uint8_t>(value + r);
        }
    }
    return result;
}

std::uint8_t grayAt(const GlyphAtlas& atlas, int x, int y) { return atlas.data()[static_cast<std::size_t>(y) * atlas.size() + x]; }

TEST(GlyphAtlasTest, SideIsClampedBetweenTheMinimumAndTheLargestSide)
{
    struct Case { int initial; int max; int size; int maxSize; };
    const Case cases[] = {{100, 8192, 256, 8192}, {1024, 512, 512, 512}, {1024, 100, 256, 256}, {1024, 4096, 1024, 4096}};
    for (const Case& c : cases) {
        FakeDevice device;
        auto atlas = GlyphAtlas::make(device, GlyphAtlasFormat::grayscale, c.initial, c.max);
        ASSERT_TRUE(atlas);
        EXPECT_EQ(atlas->size(), c.size) << c.initial << " / " << c.max;
        EXPECT_EQ(atlas->maxSize(), c.maxSize) << c.initial << " / " << c.max;
        EXPECT_EQ(atlas->data().size(), static_cast<std::size_t>(c.size) * c.size);
    }
    FakeDevice failing;
    failing.failingSizes = {1024};
    EXPECT_EQ(GlyphAtlas::make(failing, GlyphAtlasFormat::bgra, 1024, 4096), nullptr);
}

TEST(GlyphAtlasTest, GlyphsArePackedInPaddedSlotsAlongAShelf)
{
    FakeDevice device;
    auto atlas = GlyphAtlas::make(device, GlyphAtlasFormat::grayscale, 256, 256);
    EXPECT_EQ(atlas->allocate(10, 12), (AtlasRegion{1, 1, 10, 12}));
    EXPECT_EQ(atlas->allocate(5, 5), (AtlasRegion{13, 1, 5, 5}));     // the next slot starts at x = 12
    EXPECT_EQ(atlas->allocate(236, 3), (AtlasRegion{1, 15, 236, 3})); // 19 + 238 > 256: a new shelf below the 14 high one
    EXPECT_FALSE(atlas->didReset());
    EXPECT_EQ(atlas->allocate(0, 5), std::nullopt);
    EXPECT_EQ(atlas->allocate(5, -1), std::nullopt);
}

TEST(GlyphAtlasTest, AShelfStartedForAGlyphThatThenFailsStaysStarted)
{
    FakeDevice device;
    LogCapture log;
    auto atlas = GlyphAtlas::make(device, GlyphAtlasFormat::grayscale, 256, 256);
    ASSERT_EQ(atlas->allocate(200, 100), (AtlasRegion{1, 1, 200, 100}));
    atlas->frozen = true; // fail without resetting
    EXPECT_EQ(atlas->allocate(100, 200), std::nullopt);
    atlas->frozen = false;
    EXPECT_EQ(atlas->allocate(10, 10), (AtlasRegion{1, 103, 10, 10}));
}

TEST(GlyphAtlasTest, AtTheLargestSideAGlyphThatDoesNotFitEmptiesTheAtlas)
{
    FakeDevice device;
    LogCapture log;
    auto atlas = GlyphAtlas::make(device, GlyphAtlasFormat::grayscale, 256, 256);
    for (int i = 0; i < 4; ++i) {
        auto region = atlas->allocate(100, 100);
        ASSERT_TRUE(region);
        atlas->upload(*region, bitmap(100, 100));
    }
    EXPECT_EQ(atlas->allocate(100, 100), (AtlasRegion{1, 1, 100, 100}));
    EXPECT_TRUE(atlas->didReset());
    EXPECT_EQ(atlas->size(), 256);
    EXPECT_TRUE(std::all_of(atlas->data().begin(), atlas->data().end(), [](auto b) { return b == 0; }));
    expectTextureMatchesData(*atlas);
    EXPECT_EQ(log.lines, std::vector<std::string>{
                             "[MetalAtlas] error: glyph atlas (grayscale) reset at size 256: glyph working set exceeds capacity"});
    // The next allocation clears the flag; a second overflow resets again without a second line.
    EXPECT_TRUE(atlas->allocate(100, 100));
    EXPECT_FALSE(atlas->didReset());
    for (int i = 0; i < 3; ++i)
        atlas->allocate(100, 100);
    EXPECT_TRUE(atlas->didReset());
    EXPECT_EQ(log.count("reset at size"), 1);
    // Larger than any atlas: nothing, and nothing touched.
    EXPECT_EQ(atlas->allocate(300, 10), std::nullopt);
    EXPECT_FALSE(atlas->didReset());
}

TEST(GlyphAtlasTest, GrowingDoublesTheSideAndKeepsEveryGlyphWhereItWas)
{
    FakeDevice device;
    LogCapture log;
    auto atlas = GlyphAtlas::make(device, GlyphAtlasFormat::grayscale, 256, 2048);
    std::vector<AtlasRegion> regions;
    for (int i = 0; i < 4; ++i) {
        regions.push_back(*atlas->allocate(100, 100));
        atlas->upload(regions.back(), bitmap(100, 100, static_cast<std::uint8_t>(10 * i)));
    }
    const std::uint8_t before = grayAt(*atlas, regions[3].x + 5, regions[3].y + 7);
    EXPECT_EQ(atlas->allocate(100, 100), (AtlasRegion{1, 205, 100, 100}));
    EXPECT_EQ(atlas->size(), 512);
    EXPECT_FALSE(atlas->didReset());
    EXPECT_EQ(grayAt(*atlas, regions[3].x + 5, regions[3].y + 7), before);
    expectTextureMatchesData(*atlas);
    EXPECT_EQ(log.lines, std::vector<std::string>{"[MetalAtlas] info: glyph atlas (grayscale) grow: 256 -> 512"});
    // A slot taller than twice the side grows straight to a side that holds it, on the
    // current shelf.
    EXPECT_EQ(atlas->allocate(10, 1500), (AtlasRegion{103, 205, 10, 1500}));
    EXPECT_EQ(atlas->size(), 2048);
}

TEST(GlyphAtlasTest, AFailedGrowthKeepsTheTextureAndFallsBackToAReset)
{
    FakeDevice device;
    LogCapture log;
    auto atlas = GlyphAtlas::make(device, GlyphAtlasFormat::bgra, 256, 1024);
    device.failingSizes = {512};
    FakeTexture* firstTexture = device.last;
    for (int i = 0; i < 4; ++i)
        atlas->allocate(100, 100);
    EXPECT_EQ(atlas->allocate(100, 100), (AtlasRegion{1, 1, 100, 100}));
    EXPECT_TRUE(atlas->didReset());
    EXPECT_EQ(atlas->size(), 256);
    EXPECT_EQ(&atlas->texture(), firstTexture);
    EXPECT_EQ(log.lines, (std::vector<std::string>{
                             "[MetalAtlas] error: glyph atlas (bgra) grow to 512 failed: texture allocation",
                             "[MetalAtlas] error: glyph atlas (bgra) reset at size 256: glyph working set exceeds capacity"}));
}

TEST(GlyphAtlasTest, AFrozenFullAtlasSkipsGlyphsAndWarnsOnceUntilItGrows)
{
    FakeDevice device;
    LogCapture log;
    auto atlas = GlyphAtlas::make(device, GlyphAtlasFormat::grayscale, 256, 512);
    device.failingSizes = {512}; // the first overflow resets
    for (int i = 0; i < 5; ++i)
        atlas->allocate(100, 100);
    ASSERT_EQ(log.count("reset at size 256"), 1);
    for (int i = 0; i < 3; ++i)
        atlas->allocate(100, 100); // full again
    atlas->frozen = true;
    EXPECT_EQ(atlas->allocate(100, 100), std::nullopt);
    EXPECT_EQ(atlas->allocate(100, 100), std::nullopt);
    EXPECT_FALSE(atlas->didReset());
    EXPECT_EQ(atlas->size(), 256);
    const char* frozenLine = "[MetalAtlas] fault: glyph atlas (grayscale) frozen and full; glyphs will be skipped this frame";
    EXPECT_EQ(log.count(frozenLine), 1);

    // A growth re-arms both warnings.
    atlas->frozen = false;
    device.failingSizes.clear();
    ASSERT_TRUE(atlas->allocate(100, 100));
    EXPECT_EQ(atlas->size(), 512);
    for (int i = 0; i < 40 && !atlas->didReset(); ++i)
        atlas->allocate(100, 100);
    EXPECT_EQ(log.count("reset at size 512"), 1);
    atlas->frozen = true;
    for (int i = 0; i < 30 && atlas->allocate(100, 100); ++i) {
    }
    EXPECT_EQ(atlas->allocate(100, 100), std::nullopt);
    EXPECT_EQ(log.count(frozenLine), 2); // re-armed by the growth
    atlas->frozen = false;
}

TEST(GlyphAtlasTest, GrayscaleUploadKeepsAlphaTurnsRowsOverAndRepeatsTheEdges)
{
    FakeDevice device;
    auto atlas = GlyphAtlas::make(device, GlyphAtlasFormat::grayscale, 256, 256);
    atlas->allocate(10, 12);
    const AtlasRegion region = *atlas->allocate(3, 2); // (13, 1)
    textureOf(*atlas).replaced.clear();
    atlas->upload(region, bitmap(3, 2, 0x40)); // alpha 0x40 on the top row, 0x41 below
    // The region's first row holds the bitmap's last stored row.
    const int x = region.x;
    const int y = region.y;
    const std::uint8_t expected[4][5] = {
        {0x41, 0x41, 0x41, 0x41, 0x41}, // padding above repeats the first row
        {0x41, 0x41, 0x41, 0x41, 0x41},
        {0x40, 0x40, 0x40, 0x40, 0x40},
        {0x40, 0x40, 0x40, 0x40, 0x40}, // padding below repeats the last row
    };
    for (int r = 0; r < 4; ++r)
        for (int c = 0; c < 5; ++c)
            EXPECT_EQ(grayAt(*atlas, x - 1 + c, y - 1 + r), expected[r][c]) << "row " << r << " column " << c;
    EXPECT_EQ(grayAt(*atlas, x - 2, y), 0); // the neighbour's padding is not touched
    EXPECT_EQ(textureOf(*atlas).replaced, std::vector<AtlasRegion>{(AtlasRegion{12, 0, 5, 4})});
    expectTextureMatchesData(*atlas);

    const std::vector<std::uint8_t> snapshot = atlas->data();
    atlas->upload(region, bitmap(3, 3));
    atlas->upload(region, bitmap(2, 2));
    EXPECT_EQ(atlas->data(), snapshot);
    EXPECT_EQ(textureOf(*atlas).replaced.size(), 1u);
}

TEST(GlyphAtlasTest, ColourUploadCopiesAllFourBytes)
{
    FakeDevice device;
    auto atlas = GlyphAtlas::make(device, GlyphAtlasFormat::bgra, 256, 256);
    const AtlasRegion region = *atlas->allocate(2, 2);
    atlas->upload(region, bitmap(2, 2, 0x80));
    const auto pixel = [&](int x, int y) {
        const std::uint8_t* p = atlas->data().data() + (static_cast<std::size_t>(y) * 256 + x) * 4;
        return std::vector<std::uint8_t>(p, p + 4);
    };
    EXPECT_EQ(pixel(1, 1), (std::vector<std::uint8_t>{1, 0, 0x80, 0x81})); // bottom-left of the glyph
    EXPECT_EQ(pixel(2, 2), (std::vector<std::uint8_t>{0, 1, 0x80, 0x80})); // top-right
    EXPECT_EQ(pixel(0, 0), pixel(1, 1));                                   // corner padding
    EXPECT_EQ(pixel(3, 3), pixel(2, 2));
    expectTextureMatchesData(*atlas);
}

struct MaxSizeCase {
    const char* value;
    bool large;
    GlyphAtlasFormat format;
    int expected;
};

void PrintTo(const MaxSizeCase& c, std::ostream* out)
{
    *out << (c.value ? std::string("\"") + c.value + "\"" : "unset") << (c.large ? " large " : " small ") << name(c.format);
}

class AtlasMaxSizeTest : public testing::TestWithParam<MaxSizeCase> {};

TEST_P(AtlasMaxSizeTest, ReadsTheEnvironmentValue)
{
    EXPECT_EQ(atlasMaxSize(GetParam().value, GetParam().large, GetParam().format), GetParam().expected);
}

INSTANTIATE_TEST_SUITE_P(
    Values, AtlasMaxSizeTest,
    testing::Values(MaxSizeCase{nullptr, true, GlyphAtlasFormat::bgra, 4096},
                    MaxSizeCase{nullptr, true, GlyphAtlasFormat::grayscale, 8192},
                    MaxSizeCase{"", true, GlyphAtlasFormat::bgra, 4096},
                    MaxSizeCase{"abc", true, GlyphAtlasFormat::grayscale, 8192},
                    MaxSizeCase{"+", true, GlyphAtlasFormat::bgra, 4096},
                    MaxSizeCase{"-", true, GlyphAtlasFormat::bgra, 4096},
                    MaxSizeCase{"+-5", true, GlyphAtlasFormat::bgra, 4096},
                    MaxSizeCase{" 512", true, GlyphAtlasFormat::bgra, 4096},
                    MaxSizeCase{"512 ", true, GlyphAtlasFormat::bgra, 4096},
                    MaxSizeCase{"0x100", true, GlyphAtlasFormat::bgra, 4096},
                    MaxSizeCase{"99999999999999999999", true, GlyphAtlasFormat::bgra, 4096},
                    MaxSizeCase{"100", true, GlyphAtlasFormat::bgra, 256},
                    MaxSizeCase{"-5", true, GlyphAtlasFormat::grayscale, 256},
                    MaxSizeCase{"-9223372036854775808", true, GlyphAtlasFormat::grayscale, 256},
                    MaxSizeCase{"+300", true, GlyphAtlasFormat::bgra, 300},
                    MaxSizeCase{"2048", false, GlyphAtlasFormat::grayscale, 2048},
                    MaxSizeCase{"20000", true, GlyphAtlasFormat::bgra, 16384},
                    MaxSizeCase{"20000", false, GlyphAtlasFormat::bgra, 8192},
                    MaxSizeCase{"9223372036854775807", false, GlyphAtlasFormat::grayscale, 8192}));

} // namespace
} // namespace corvantix
