#include "gpu/qt/CustomGlyphDrawing.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

namespace corvantix {
namespace {

// The alpha of every pixel of a drawn cell, top row first.
struct Cell {
    int width = 0;
    int height = 0;
    std::vector<std::uint8_t> bgra;
    std::uint8_t alpha(int x, int y) const { return bgra[(static_cast<std::size_t>(y) * width + x) * 4 + 3]; }
};

std::optional<Cell> draw(std::uint32_t codePoint, int width, int height, bool antiAlias = false, double scale = 1.0)
{
    Cell cell{width, height, std::vector<std::uint8_t>(static_cast<std::size_t>(width) * height * 4, 0)};
    if (!drawCustomGlyphInto(codePoint, width, height, 1, antiAlias, scale, cell.bgra.data(), width, height, width * 4))
        return std::nullopt;
    return cell;
}

struct AlphaCase {
    std::uint32_t codePoint;
    const char* shape;
    int coveredFromRow; // rows [from, to) have `alpha`, the others 0
    int coveredToRow;
    std::uint8_t alpha;
};

void PrintTo(const AlphaCase& c, std::ostream* out) { *out << "U+" << std::hex << c.codePoint << " " << c.shape; }

class CustomGlyphAlphaTest : public testing::TestWithParam<AlphaCase> {};

TEST_P(CustomGlyphAlphaTest, FillsTheRowsOfItsShapeAtItsShade)
{
    const AlphaCase& c = GetParam();
    const auto cell = draw(c.codePoint, 8, 16);
    ASSERT_TRUE(cell);
    for (int y = 0; y < 16; ++y) {
        const std::uint8_t expected = y >= c.coveredFromRow && y < c.coveredToRow ? c.alpha : 0;
        for (int x = 0; x < 8; ++x)
            ASSERT_NEAR(cell->alpha(x, y), expected, 1) << "x " << x << " y " << y;
    }
    // Drawn white: the glyph's colour comes from its vertices.
    EXPECT_EQ(cell->bgra[(c.coveredFromRow * 8) * 4], cell->alpha(0, c.coveredFromRow));
}

INSTANTIATE_TEST_SUITE_P(BlockElements, CustomGlyphAlphaTest,
                         testing::Values(AlphaCase{0x2591, "light shade over the whole cell", 0, 16, 64},
                                         AlphaCase{0x2592, "medium shade", 0, 16, 128},
                                         AlphaCase{0x2588, "full block", 0, 16, 255},
                                         AlphaCase{0x2580, "upper half", 0, 8, 255},
                                         AlphaCase{0x2581, "lower eighth", 14, 16, 255}));

TEST(CustomGlyphDrawingTest, OnlyCellArtIsDrawn)
{
    struct Case { std::uint32_t codePoint; bool drawn; };
    const Case cases[] = {{0x2500, true}, {0x257F, true}, {0x259F, true}, {0xE0B0, true}, {0xE0B6, true},
                          {0xE0B1, false}, {0xE0B3, false}, {'A', false}, {0x25A0, false}};
    for (const Case& c : cases)
        EXPECT_EQ(draw(c.codePoint, 8, 16).has_value(), c.drawn) << std::hex << c.codePoint;
    std::uint8_t pixels[4] = {};
    EXPECT_FALSE(drawCustomGlyphInto(0x2588, 1, 1, 1, false, 1.0, nullptr, 1, 1, 4));
    EXPECT_FALSE(drawCustomGlyphInto(0x2588, 1, 1, 1, false, 1.0, pixels, 1, 1, 2)); // rows too short
}

TEST(CustomGlyphDrawingTest, LinesAndSeparatorsCoverTheirPartOfTheCell)
{
    // A light horizontal line crosses the middle rows only.
    const auto line = draw(0x2500, 8, 16);
    ASSERT_TRUE(line);
    EXPECT_EQ(line->alpha(0, 0), 0);
    EXPECT_EQ(line->alpha(0, 15), 0);
    int coveredRows = 0;
    for (int y = 0; y < 16; ++y)
        coveredRows += line->alpha(4, y) == 255 ? 1 : 0;
    EXPECT_EQ(coveredRows, 1);
    // A right-pointing separator fills its base edge and leaves the tip's corners empty.
    const auto separator = draw(0xE0B0, 8, 16, true);
    ASSERT_TRUE(separator);
    EXPECT_EQ(separator->alpha(0, 8), 255);
    EXPECT_EQ(separator->alpha(7, 0), 0);
    EXPECT_EQ(separator->alpha(7, 15), 0);
}

TEST(CustomGlyphDrawingTest, AtScaleTwoTheShapeFollowsPoints)
{
    // A 16 x 32 pixel cell at scale 2 is 8 x 16 points: the upper half is still 16 rows.
    const auto cell = draw(0x2580, 16, 32, false, 2.0);
    ASSERT_TRUE(cell);
    EXPECT_EQ(cell->alpha(0, 15), 255);
    EXPECT_EQ(cell->alpha(0, 16), 0);
}

} // namespace
} // namespace corvantix
