#include "model/Color.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cctype>
#include <cstdint>
#include <limits>
#include <optional>
#include <span>
#include <string>
#include <unordered_set>
#include <vector>

namespace corvantix {
namespace {

Color rgb8(int r, int g, int b) { return Color::fromRgb8(r, g, b); }

TEST(ColorBasics, EightBitChannelsAreClampedAndWidened)
{
    EXPECT_EQ(rgb8(0xFF, 0x80, 0), Color(0xFFFF, 0x8080, 0));
    EXPECT_EQ(rgb8(300, -5, 1), Color(0xFFFF, 0, 0x0101));
}

TEST(ColorBasics, EqualColoursHashEqualAndChannelsAreNotInterchangeable)
{
    const std::hash<Color> hash;
    std::unordered_set<Color> set = {Color(1, 2, 3), Color(3, 2, 1), Color(2, 1, 3), Color(1, 2, 3)};
    EXPECT_EQ(set.size(), 3u);
    EXPECT_NE(hash(Color(1, 2, 3)), hash(Color(3, 2, 1)));
}

TEST(ColorPalette, FixedPaletteEntries)
{
    const auto& base = Color::defaultInstalledColors();
    const std::vector<Color> palette = Color::makeXterm256Palette(base);
    ASSERT_EQ(palette.size(), 256u);
    EXPECT_TRUE(std::equal(base.begin(), base.end(), palette.begin()));
    const struct { int index; Color expected; } cases[] = {
        {16, Color(0, 0, 0)}, {17, rgb8(0, 0, 95)}, {21, Color(0, 0, 0xFFFF)},
        {110, rgb8(135, 175, 215)}, // i = 94 = 36*2 + 6*3 + 4
        {196, Color(0xFFFF, 0, 0)}, {231, Color(0xFFFF, 0xFFFF, 0xFFFF)}, {232, Color(0x0808, 0x0808, 0x0808)},
        {244, rgb8(128, 128, 128)}, {255, Color(0xEEEE, 0xEEEE, 0xEEEE)},
    };
    for (const auto& c : cases)
        EXPECT_EQ(palette[static_cast<std::size_t>(c.index)], c.expected) << "entry " << c.index;
}

TEST(ColorPalette, FixedPaletteFollowsTheBaseLength)
{
    const std::vector<Color> base(3, Color(1, 1, 1));
    const std::vector<Color> palette = Color::makeXterm256Palette(base);
    ASSERT_EQ(palette.size(), 243u);
    EXPECT_EQ(std::vector<Color>({palette[2], palette[3], palette.back()}),
              std::vector<Color>({Color(1, 1, 1), Color(0, 0, 0), Color(0xEEEE, 0xEEEE, 0xEEEE)}));
}

TEST(ColorLab, KnownValues)
{
    const struct { Color color; double l, a, b; } cases[] = {
        {Color(0, 0, 0), 0, 0, 0}, {Color(0xFFFF, 0xFFFF, 0xFFFF), 100, 0, 0},
        {rgb8(255, 0, 0), 53.2408, 80.0925, 67.2032}, {rgb8(0, 0, 255), 32.2970, 79.1875, -107.8602},
    };
    for (const auto& c : cases) {
        const Color::LabColor lab = c.color.toLab();
        EXPECT_TRUE(std::abs(lab.l - c.l) < 0.01 && std::abs(lab.a - c.a) < 0.01 && std::abs(lab.b - c.b) < 0.01) << c.color;
    }
}

TEST(ColorLab, EightBitColoursSurviveTheRoundTrip)
{
    for (int r = 0; r < 256; r += 3)
        for (int g = 0; g < 256; g += 5)
            for (int b = 0; b < 256; b += 7)
                ASSERT_EQ(Color::fromLab(rgb8(r, g, b).toLab()), rgb8(r, g, b));
    // Channels are reduced to 8 bits first.
    EXPECT_EQ(Color::fromLab(Color(35389, 35389, 35389).toLab()), rgb8(138, 138, 138));
}

TEST(ColorLab, OutOfGamutAndNonFiniteValuesClamp)
{
    EXPECT_EQ(Color::fromLab({150, 0, 0}), Color(0xFFFF, 0xFFFF, 0xFFFF));
    EXPECT_EQ(Color::fromLab({-20, 0, 0}), Color(0, 0, 0));
    EXPECT_TRUE(Color::fromLab({50, 500, 0}).red == 0xFFFF && Color::fromLab({50, 500, 0}).green == 0);
    EXPECT_EQ(Color::fromLab({std::numeric_limits<double>::quiet_NaN(), 0, 0}), Color(0, 0, 0));
}

TEST(ColorPalette, LabCubeCornersAreTheBaseColours)
{
    const auto& base = Color::defaultInstalledColors();
    const Color background = rgb8(0x10, 0x20, 0x30);
    const Color foreground = rgb8(0xDD, 0xDD, 0xCC);
    const std::vector<Color> palette = Color::makeAnsi256Palette(base, background, foreground, false);
    ASSERT_EQ(palette.size(), 256u);
    EXPECT_TRUE(std::equal(base.begin(), base.end(), palette.begin()));
    // Entry 16 + 36r + 6g + b at the corners (r, g, b each 0 or 5): black, red, green,
    // yellow, blue, magenta, cyan, white.
    EXPECT_EQ((std::vector<Color>{palette[16], palette[196], palette[46], palette[226], palette[21], palette[201], palette[51],
                                  palette[231]}),
              (std::vector<Color>{background, base[1], base[2], base[3], base[4], base[5], base[6], foreground}));
}

TEST(ColorPalette, LabGreysRunFromBackgroundToForegroundWithoutTheEnds)
{
    const auto& base = Color::defaultInstalledColors();
    const Color background(0, 0, 0);
    const Color foreground(0xFFFF, 0xFFFF, 0xFFFF);
    const std::vector<Color> palette = Color::makeAnsi256Palette(base, background, foreground, false);
    double previous = 0;
    for (std::size_t i = 232; i < 256; ++i) {
        const Color grey = palette[i];
        EXPECT_TRUE(grey != background && grey != foreground) << "entry " << i;
        EXPECT_TRUE(std::abs(grey.red - grey.green) <= 257 && std::abs(grey.green - grey.blue) <= 257) << "entry " << i;
        EXPECT_GT(grey.toLab().l, previous) << "entry " << i;
        previous = grey.toLab().l;
    }
    // Entry 232 + k - 1 sits at k/25 of the lightness range.
    EXPECT_NEAR(palette[232].toLab().l, 4.0, 0.3);
    EXPECT_NEAR(palette[255].toLab().l, 96.0, 0.3);
}

TEST(ColorPalette, LightThemeSwapsCornersUnlessHarmonious)
{
    const auto& base = Color::defaultInstalledColors();
    const Color white(0xFFFF, 0xFFFF, 0xFFFF);
    const Color black(0, 0, 0);
    const std::vector<Color> plain =
        Color::makePalette(Ansi256PaletteStrategy::base16Lab, base, white, black);
    const std::vector<Color> harmonious =
        Color::makePalette(Ansi256PaletteStrategy::base16LabHarmonious, base, white, black);
    EXPECT_EQ(plain[16], black);
    EXPECT_EQ(plain[231], white);
    EXPECT_LT(plain[232].toLab().l, plain[255].toLab().l);
    EXPECT_EQ(harmonious[16], white);
    EXPECT_EQ(harmonious[231], black);
    EXPECT_GT(harmonious[232].toLab().l, harmonious[255].toLab().l);
    // A dark theme is the same either way.
    EXPECT_EQ(Color::makePalette(Ansi256PaletteStrategy::base16Lab, base, black, white),
              Color::makePalette(Ansi256PaletteStrategy::base16LabHarmonious, base, black, white));
}

TEST(ColorPalette, WithoutBackgroundAndForegroundTheBaseCornersAreUsed)
{
    const auto& base = Color::presetPalette3();
    const std::vector<Color> palette = Color::makeAnsi256Palette(base, std::nullopt, std::nullopt, false);
    EXPECT_EQ(palette[16], base[0]);
    EXPECT_EQ(palette[231], base[7]);
    EXPECT_EQ(Color::makePalette(Ansi256PaletteStrategy::xterm, base, Color(1, 1, 1), std::nullopt),
              Color::makeXterm256Palette(base));
    // Fewer than eight base colours fall back to the fixed cube.
    const std::vector<Color> seven(base.begin(), base.begin() + 7);
    EXPECT_EQ(Color::makeAnsi256Palette(seven, Color(0, 0, 0), Color(0xFFFF, 0xFFFF, 0xFFFF), false),
              Color::makeXterm256Palette(seven));
}

TEST(ColorParse, StrictParsing)
{
    const struct { const char* text; std::optional<Color> expected; } cases[] = {
        {"#ff0000", Color(0xFFFF, 0, 0)}, {"#fff", Color(0xF0F0, 0xF0F0, 0xF0F0)},
        {"#fff000fff", Color(0xFFFF, 0, 0xFFFF)}, {"#123456789abc", Color(0x1234, 0x5678, 0x9ABC)},
        {"#ABCDEF", Color(0xABAB, 0xCDCD, 0xEFEF)}, {"rgb:ff/00/80", Color(0xFFFF, 0, 0x8080)},
        {"rgb:f/80/1234", Color(0x000F, 0x0080, 0x1234)}, // scaled by the longest part
        {"rgb:f/f/f", Color(0xF0F0, 0xF0F0, 0xF0F0)}, {"rgb:abc/0/0", Color(0xABCA, 0, 0)},
        {"rgb:FFFF/0000/8080", Color(0xFFFF, 0, 0x8080)}, {"#ff", std::nullopt}, {"#ffff", std::nullopt},
        {"#gg0000", std::nullopt}, {"#", std::nullopt}, {"rgb:1/2", std::nullopt}, {"rgb:1/2/3/4", std::nullopt},
        {"rgb:1//3", std::nullopt},
        {"rgb:1/2/", std::nullopt}, {"rgb:12345/0/0", std::nullopt}, {"rgb:1/2/3 ", std::nullopt},
        {"rgb:x/0/0", std::nullopt}, {"RGB:1/2/3", std::nullopt}, {"rgb:", std::nullopt}, {"red", std::nullopt},
        {"", std::nullopt},
    };
    for (const auto& c : cases)
        EXPECT_EQ(Color::parseXcolor(c.text), c.expected) << "\"" << c.text << "\"";
}

TEST(ColorParse, LenientByteParsing)
{
    const struct { const char* text; std::optional<Color> expected; } cases[] = {
        {"rgb:12345/6/7", Color(0x1234, 0x5, 0x6)}, {"#gg0000", Color(0, 0, 0)},
        {"#1g2233", Color(0x0101, 0x2222, 0x3333)}, // reading stops early inside a group
        {"rgb:1", Color(0x1010, 0, 0)}, {"rgb:/1/2", Color(0, 0x1010, 0x2020)},
        {"rgb:ffff/ffff/ffff/ffff", Color(0xFFFF, 0xFFFF, 0xFFFF)},
        {"rgb:1/2/3 trailing", Color(0x1010, 0x2020, 0x3030)},
        {"rgb:ff/00/80", Color(0xFFFF, 0, 0x8080)}, {"rgb:", std::nullopt}, {"rgb:x", std::nullopt},
        {"#", std::nullopt}, {"#ff", std::nullopt}, {"#fffffffffffff", std::nullopt}, {"rgb", std::nullopt},
        {"red", std::nullopt}, {"", std::nullopt},
    };
    for (const auto& c : cases) {
        const std::string text = c.text;
        // Exact-size buffers, so a sanitizer build catches any read past the end.
        const std::vector<std::uint8_t> bytes(text.begin(), text.end());
        EXPECT_EQ(Color::parseXcolorBytes(std::span<const std::uint8_t>(bytes)), c.expected)
            << "\"" << c.text << "\"";
        EXPECT_EQ(Color::parseXcolorBytes(text), c.expected) << "\"" << c.text << "\"";
    }
}

TEST(ColorParse, FormattingThenParsingKeepsEveryChannel)
{
    EXPECT_EQ(Color(0x0A0B, 0x00C0, 0xD00E).formatXcolor(), "rgb:0a0b/00c0/d00e");
    std::vector<Color> colors = {Color(0, 0, 0), Color(0xFFFF, 0xFFFF, 0xFFFF), Color(1, 0x10, 0x100)};
    std::uint32_t state = 12345;
    auto next = [&state] { return static_cast<std::uint16_t>((state = state * 1664525u + 1013904223u) >> 16); };
    for (int i = 0; i < 2000; ++i)
        colors.emplace_back(next(), next(), next());
    for (const Color& color : colors)
        ASSERT_EQ(Color::parseXcolor(color.formatXcolor()), color);
}

} // namespace
} // namespace corvantix
