#include "drawing/CellArt.h"

#include <gtest/gtest.h>

#include <cmath>
#include <vector>

namespace corvantix {
namespace {

BlockElementRenderItem blockItem(uint32_t codePoint, RgbaColor color = RgbaColor::white(), int column = 0,
                                 int columnWidth = 1)
{
    return {column, columnWidth, codePoint, blockElementRects(codePoint), color};
}

TEST(BlockElementTest, TableCoversTheWholeBlockRange)
{
    for (uint32_t cp = 0x2580; cp <= 0x259F; ++cp)
        EXPECT_FALSE(blockElementRects(cp).empty()) << std::hex << cp;
    EXPECT_TRUE(blockElementRects(0x257F).empty());
    EXPECT_TRUE(blockElementRects(0x25A0).empty());
}

TEST(BlockElementTest, ShadesScaleTheForegroundAlpha)
{
    const CellGrid grid{0, 0, 8, 16};
    struct Case { uint32_t codePoint; double opaque; double halfTransparent; };
    const Case cases[] = {{0x2591, 0.25, 0.125}, {0x2592, 0.5, 0.25}, {0x2593, 0.75, 0.375}, {0x2588, 1.0, 0.5}};
    for (const Case& c : cases) {
        const auto opaque = blockElementFills(blockItem(c.codePoint), grid, 1.0, false);
        ASSERT_EQ(opaque.size(), 1u);
        EXPECT_DOUBLE_EQ(opaque[0].color.alpha, c.opaque);
        EXPECT_EQ(opaque[0].rect, (PointRect{0, 0, 8, 16})); // the whole cell
        const auto half = blockElementFills(blockItem(c.codePoint, RgbaColor{1, 0, 0, 0.5}), grid, 1.0, false);
        EXPECT_DOUBLE_EQ(half[0].color.alpha, c.halfTransparent);
        EXPECT_EQ(half[0].color.red, 1.0);
    }
}

TEST(BlockElementTest, EighthsSnapOutwardToWholePixelsWithoutAntiAliasing)
{
    struct Case { uint32_t codePoint; CellGrid grid; double scale; bool antiAlias; PointRect expected; };
    const Case cases[] = {
        // Lower one eighth of a 17-pixel cell: 14.875 .. 17 becomes 14 .. 17.
        {0x2581, {0, 0, 8, 17}, 1.0, false, {0, 14, 8, 3}}, {0x2581, {0, 0, 8, 17}, 1.0, true, {0, 14.875, 8, 2.125}},
        // The same cell at scale 2 (8.5 points high): snapped to half points.
        {0x2581, {0, 0, 4, 8.5}, 2.0, false, {0, 7.0, 4, 1.5}},
        // Left three eighths of a cell 7.3 wide at column 2 of a row starting at 10.
        {0x258D, {10, 20, 7.3, 14}, 1.0, false, {24, 20, 4, 14}},
        // A wide item: the left half covers its first cell.
        {0x258C, {0, 0, 8, 16}, 1.0, false, {0, 0, 8, 16}},
    };
    for (const Case& c : cases) {
        BlockElementRenderItem item = blockItem(c.codePoint);
        if (c.codePoint == 0x258D)
            item.column = 2;
        if (c.codePoint == 0x258C)
            item.columnWidth = 2;
        const auto fills = blockElementFills(item, c.grid, c.scale, c.antiAlias);
        ASSERT_EQ(fills.size(), 1u) << std::hex << c.codePoint;
        const PointRect& r = fills[0].rect;
        EXPECT_LT(std::abs(r.x - c.expected.x) + std::abs(r.y - c.expected.y) + std::abs(r.width - c.expected.width)
                      + std::abs(r.height - c.expected.height),
                  1e-9)
            << std::hex << c.codePoint;
    }
}

TEST(BlockElementTest, QuadrantsFillTheirRects)
{
    const auto fills = blockElementFills(blockItem(0x259F), CellGrid{0, 0, 8, 16}, 1.0, false);
    ASSERT_EQ(fills.size(), 3u);
    EXPECT_EQ(std::vector<PointRect>({fills[0].rect, fills[1].rect, fills[2].rect}),
              std::vector<PointRect>({{4, 0, 4, 8}, {0, 8, 4, 8}, {4, 8, 4, 8}}));
}

TEST(PowerlineTest, TrianglesAreSnappedWithASeamOutsideTheBase)
{
    // A cell from x 10.3, 7 wide, 14 high at the top 20.25, scale 2.
    const PointRect cell{10.3, 20.25, 7, 14};
    const auto right = powerlineShape(0xE0B0, cell, 2.0, 2.0);
    ASSERT_TRUE(right.has_value());
    EXPECT_EQ(std::vector<double>({right->left, right->right, right->top, right->bottom}),
              std::vector<double>({10, 17.5, 20, 34.5}));
    EXPECT_TRUE(right->pointsRight);
    ASSERT_EQ(right->path.size(), 4u);
    // The tip lies on the snapped middle.
    EXPECT_EQ(std::vector<PathPoint>({right->path[0].point, right->path[1].point, right->path[2].point}),
              std::vector<PathPoint>({{10.0, 34.5}, {17.5, 27.5}, {10.0, 20.0}}));
    EXPECT_EQ(right->path[3].kind, PathElement::Kind::close);
    // One device pixel left of the base edge.
    EXPECT_EQ(right->seam, (PointRect{9.5, 20.0, 0.5, 14.5}));
    const auto left = powerlineShape(0xE0B2, cell, 2.0, 2.0);
    ASSERT_TRUE(left.has_value());
    EXPECT_FALSE(left->pointsRight);
    EXPECT_EQ(left->path[0].point, (PathPoint{17.5, 34.5}));
    EXPECT_EQ(left->path[1].point, (PathPoint{10.0, 27.5}));
    EXPECT_EQ(left->seam, (PointRect{17.5, 20.0, 0.5, 14.5}));
}

TEST(PowerlineTest, HalfCirclesUseControlPointsFourThirdsOfTheWidthAway)
{
    const PointRect cell{0, 0, 6, 12};
    const auto right = powerlineShape(0xE0B4, cell, 1.0, 1.0);
    ASSERT_TRUE(right.has_value());
    ASSERT_EQ(right->path.size(), 3u);
    EXPECT_EQ(right->path[1].kind, PathElement::Kind::curveTo);
    EXPECT_EQ(right->path[1].control1, (PathPoint{8.0, 12.0}));
    EXPECT_EQ(right->path[1].control2, (PathPoint{8.0, 0.0}));
    EXPECT_EQ(right->path[1].point, (PathPoint{0.0, 0.0}));
    const auto left = powerlineShape(0xE0B6, cell, 1.0, 1.0);
    EXPECT_EQ(left->path[1].control1, (PathPoint{-2.0, 12.0}));
    EXPECT_EQ(left->seam.x, 6.0);
}

TEST(PowerlineTest, OtherCodePointsAndBadScalesDrawNothing)
{
    const PointRect cell{0, 0, 6, 12};
    EXPECT_FALSE(powerlineShape(0xE0B1, cell, 1.0, 1.0).has_value());
    EXPECT_FALSE(powerlineShape(0xE0B0, cell, 0.0, 1.0).has_value());
    EXPECT_FALSE(powerlineShape(0xE0B0, cell, 1.0, -1.0).has_value());
}

TEST(PowerlineTest, DoubleSizeRowsSnapWithTwiceTheScale)
{
    using Mode = BufferLine::RenderLineMode;
    struct Case { Mode mode; double sx; double sy; };
    const Case cases[] = {{Mode::single, 2, 2}, {Mode::doubleWidth, 4, 2}, {Mode::doubledTop, 4, 4},
                          {Mode::doubledDown, 4, 4}};
    for (const Case& c : cases) {
        const PowerlineScales scales = powerlineScales(c.mode, 2.0);
        EXPECT_TRUE(scales.sx == c.sx && scales.sy == c.sy) << static_cast<int>(c.mode);
    }
    // In a double-width row a quarter point is a whole device pixel.
    const auto shape = powerlineShape(0xE0B0, PointRect{10.3, 0, 7, 14}, 4.0, 2.0);
    EXPECT_DOUBLE_EQ(shape->left, 10.25);
    EXPECT_DOUBLE_EQ(shape->seam.width, 0.25);
}

} // namespace
} // namespace corvantix
