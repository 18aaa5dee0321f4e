#include "drawing/CellMetrics.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>

namespace corvantix {
namespace {

constexpr double nan = std::numeric_limits<double>::quiet_NaN();
constexpr double infinity = std::numeric_limits<double>::infinity();

struct CellCase { FontMetricsValue metrics; double lineSpacing; double scale; CellDimension expected; };

TEST(CellMetrics, CellSizeFollowsFontSpacingAndScale)
{
    const CellCase cases[] = {
        // The advance is rounded to whole device pixels: 14.5 rounds away from zero.
        {{10, 3, 1, 7.25}, 1.0, 2.0, {7.5, 14.0}}, {{10, 3, 1, 7.25}, 1.0, 1.0, {7.0, 14.0}},
        // The line height is rounded up to a whole point before the scale.
        {{10, 3.1, 1, 8}, 1.2, 1.0, {8.0, 17.0}}, {{10, 3.1, 1, 8}, 1.2, 2.0, {8.0, 17.0}},
        // ... and then up to whole device pixels.
        {{12, 4, 1, 8}, 1.0, 1.5, {8.0, 26.0 / 1.5}},
        // Clamps: at most 8192 high, at least one point each way.
        {{9000, 100, 0, 8}, 1.0, 1.0, {8.0, 8192.0}}, {{10, 3, 1, 8}, 0.0, 1.0, {8.0, 1.0}},
        {{10, 3, 1, 8}, -2.0, 1.0, {8.0, 1.0}}, {{10, 3, 1, 0}, 1.0, 2.0, {1.0, 14.0}},
        {{10, 3, 1, 8}, nan, 1.0, {8.0, 1.0}},
        // A scale that is not a positive number counts as 1.
        {{10, 3, 1, 7.25}, 1.0, 0.0, {7.0, 14.0}}, {{10, 3, 1, 7.25}, 1.0, nan, {7.0, 14.0}},
    };
    for (const CellCase& c : cases) {
        const CellDimension cell = computeCellSize(c.metrics, c.lineSpacing, c.scale);
        EXPECT_DOUBLE_EQ(cell.width, c.expected.width) << "advance " << c.metrics.advance << " scale " << c.scale;
        EXPECT_DOUBLE_EQ(cell.height, c.expected.height) << "spacing " << c.lineSpacing << " scale " << c.scale;
    }
}

TEST(CellMetrics, GridFromFrameTruncatesAndLeavesRoomForTheScroller)
{
    const CellDimension cell{8, 17};
    EXPECT_EQ(gridFromFrame(80 * 8 + 15, 25 * 17, 15, cell), (GridSize{80, 25}));
    EXPECT_EQ(gridFromFrame(80 * 8 + 14, 25 * 17 - 1, 15, cell), (GridSize{79, 24}));
    EXPECT_EQ(gridFromFrame(80 * 8, 25 * 17, 0, cell), (GridSize{80, 25}));
    // Narrower than the scroller: no columns (the terminal raises that to its minimum).
    EXPECT_EQ(gridFromFrame(10, 100, 15, cell), (GridSize{0, 5}));
    // Sizes that are not finite are refused; huge ones clamp to the int range.
    EXPECT_EQ(gridFromFrame(infinity, 100, 0, cell), std::nullopt);
    EXPECT_EQ(gridFromFrame(100, nan, 0, cell), std::nullopt);
    EXPECT_EQ(gridFromFrame(1e300, 17, 0, cell), (GridSize{std::numeric_limits<int>::max(), 1}));
}

TEST(CellMetrics, GlyphSlotFitLeavesNarrowGlyphsAndUnknownCellsAloneAndCentresAGlyphThatFits)
{
    const CellDimension cell{8, 16};
    const GlyphBounds big{0, -4, 40, 40};
    EXPECT_EQ(glyphSlotFit(10, big, 1, cell, 3), GlyphSlotFit::neutral());
    EXPECT_EQ(glyphSlotFit(10, big, 2, std::nullopt, 3), GlyphSlotFit::neutral());
    EXPECT_EQ(glyphSlotFit(0, big, 2, cell, 3), GlyphSlotFit::neutral());
    // Two cells make a 16-point slot; a 12-point glyph is moved right by half the rest.
    EXPECT_EQ(glyphSlotFit(12, {0, -3, 11, 14}, 2, cell, 3), (GlyphSlotFit{2, 0, 1.0}));
    // An empty box (a space) is centred by its advance too.
    EXPECT_EQ(glyphSlotFit(12, {0, 0, 0, 0}, 2, cell, 3), (GlyphSlotFit{2, 0, 1.0}));
}

TEST(CellMetrics, GlyphSlotFitScalesAndCentresATallGlyph)
{
    const CellDimension cell{8, 16};
    const double baselineOffset = 3.2; // the baseline sits ceil(3.2) = 4 above the cell's bottom
    // Twice the cell's height and no wider than the slot: half size.
    const GlyphBounds tall{0, -4, 10, 32};
    const GlyphSlotFit fit = glyphSlotFit(10, tall, 2, cell, baselineOffset);
    EXPECT_DOUBLE_EQ(fit.scale, 0.5);
    EXPECT_DOUBLE_EQ(fit.dx, (16 - 0.5 * 10) * 0.5);
    // The scaled glyph's vertical centre lands on the middle of the cell.
    EXPECT_DOUBLE_EQ(4 + fit.dy + fit.scale * (tall.minY + tall.height * 0.5), cell.height * 0.5);
    // A glyph that would need less than a tenth is drawn at a tenth.
    const GlyphSlotFit tiny = glyphSlotFit(10, {0, 0, 10, 1000}, 2, cell, baselineOffset);
    EXPECT_DOUBLE_EQ(tiny.scale, 0.1);
    EXPECT_DOUBLE_EQ(tiny.dx, (16 - 0.1 * 10) * 0.5);
}

TEST(CellMetrics, CellSizeInPixelsRoundsHalfAwayFromZero)
{
    EXPECT_EQ(cellSizeInPixels({7.5, 17}, 2.0), (CellPixelSize{15, 34}));
    EXPECT_EQ(cellSizeInPixels({7.25, 16.75}, 2.0), (CellPixelSize{15, 34}));
    EXPECT_EQ(cellSizeInPixels({7.25, 16.2}, 1.0), (CellPixelSize{7, 16}));
    EXPECT_EQ(cellSizeInPixels({8, 17}, nan), std::nullopt);
    EXPECT_EQ(cellSizeInPixels({8, 1e300}, 2.0), std::nullopt);
}

} // namespace
} // namespace corvantix
