// Where the GPU renderer puts rectangles: line sizes and their clipping, decorations,
// separator joins, images and their placeholder pieces, and cursor shapes.
#include "gpu/MetalGeometry.h"

#include <gtest/gtest.h>

#include <memory>
#include <optional>
#include <vector>

namespace corvantix {
namespace {

// A row 20 pixels tall whose bottom edge is at y = 100, in a drawable 400 pixels wide.
MetalRowStretch rowOf(RenderLineMode mode) { return metalRowStretch(mode, 100, 20, 400); }
MetalRowStretch singleRow() { return metalRowStretch(RenderLineMode::single, 0, 20, 400); }

void expectTexRect(const MetalTexRect& got, const MetalTexRect& expected)
{
    EXPECT_FLOAT_EQ(got.x, expected.x);
    EXPECT_FLOAT_EQ(got.y, expected.y);
    EXPECT_FLOAT_EQ(got.width, expected.width);
    EXPECT_FLOAT_EQ(got.height, expected.height);
}

TEST(MetalGeometryTest, DoubleSizeLinesStretchTheirCellsAndKeepOnlyTheirOwnBand)
{
    // The cell (10, 100)-(18, 120): the upper half grows down from the row's top edge, the
    // lower half up from its bottom.
    const std::pair<RenderLineMode, MetalRect> stretches[] = {
        {RenderLineMode::single, {10, 100, 18, 120}},
        {RenderLineMode::doubleWidth, {20, 100, 36, 120}},
        {RenderLineMode::doubledTop, {20, 80, 36, 120}},
        {RenderLineMode::doubledDown, {20, 100, 36, 140}},
    };
    for (const auto& [mode, expected] : stretches) {
        const MetalRowStretch row = rowOf(mode);
        EXPECT_EQ(cellRectForRenderMode(10, 100, 18, 120, row.mode, row.stretchBase), expected);
    }

    struct Case {
        const char* name;
        RenderLineMode mode;
        MetalRect rect;       // in the row's stretched coordinates
        MetalTexRect texture; // of the whole rectangle
        std::optional<MetalRect> expectedRect;
        MetalTexRect expectedTexture;
    };
    // Textures count up from the bottom: the upper half of a glyph is v from 0.5 to 1.
    const Case cases[] = {
        {"upper half keeps the upper texture", RenderLineMode::doubledTop, {20, 80, 36, 120}, {0, 0, 1, 1},
         MetalRect{20, 100, 36, 120}, {0, 0.5f, 1, 0.5f}},
        {"lower half keeps the lower texture", RenderLineMode::doubledDown, {20, 100, 36, 140},
         {0.25f, 0.5f, 0.5f, 0.25f}, MetalRect{20, 100, 36, 120}, {0.25f, 0.5f, 0.5f, 0.125f}},
        {"cut at both ends", RenderLineMode::doubledTop, {0, 90, 10, 130}, {0, 0, 1, 1}, MetalRect{0, 100, 10, 120},
         {0, 0.25f, 1, 0.5f}},
        {"wholly outside the band is dropped", RenderLineMode::doubledTop, {0, 60, 10, 100}, {0, 0, 1, 1},
         std::nullopt, {}},
        {"single rows are never cut", RenderLineMode::single, {0, 60, 10, 100}, {0, 0, 1, 1},
         MetalRect{0, 60, 10, 100}, {0, 0, 1, 1}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const auto clipped = clipTextCell(c.rect, c.texture, rowOf(c.mode).band);
        ASSERT_EQ(clipped.has_value(), c.expectedRect.has_value());
        EXPECT_EQ(clipColorRect(c.rect, rowOf(c.mode).band), c.expectedRect) << "a solid rectangle is cut the same";
        if (!clipped)
            continue;
        EXPECT_EQ(clipped->first, *c.expectedRect);
        expectTexRect(clipped->second, c.expectedTexture);
    }
}

TEST(MetalGeometryTest, UnderlinesAreBarsWavesDotsOrDashes)
{
    // Straight and double: one bar centred on the line; none: nothing.
    for (int style : {0, 1, 2}) {
        std::vector<ColorCell> cells;
        decorationGeometry(cells, style, 10, 18, 5, 2, {1, 0, 0, 1}, 1, singleRow());
        ASSERT_EQ(cells.size(), style == 0 ? 0u : 1u);
        if (style != 0) {
            EXPECT_EQ(cells[0].position, (MetalFloat2{10, 4}));
            EXPECT_EQ(cells[0].size, (MetalFloat2{8, 2}));
            EXPECT_EQ(cells[0].color, (MetalFloat4{1, 0, 0, 1}));
        }
    }

    // Curly, and an unknown style above 5 alike: thickness 2 at scale 1 gives bars 2 wide on
    // a sine wave of period 8 and amplitude 2.
    for (int style : {3, 9}) {
        std::vector<ColorCell> cells;
        decorationGeometry(cells, style, 0, 8, 10, 2, {1, 1, 1, 1}, 1, singleRow());
        ASSERT_EQ(cells.size(), 4u);
        const float expectedCentres[] = {10, 12, 10, 8}; // sin at 0, 1/4, 1/2, 3/4 of the period
        for (std::size_t i = 0; i < cells.size(); ++i) {
            EXPECT_FLOAT_EQ(cells[i].position[0], 2.0f * static_cast<float>(i));
            EXPECT_EQ(cells[i].size, (MetalFloat2{2, 2}));
            EXPECT_NEAR(cells[i].position[1] + 1, expectedCentres[i], 1e-4) << "bar " << i;
        }
    }

    // Thickness 1 at scale 2: dots 2 long with gaps of 4, dashes 4 long with gaps of 4, the
    // last piece cut at the right end.
    struct Dashes {
        int style;
        double x1;
        std::vector<std::pair<float, float>> pieces; // x and width of each
    };
    for (const Dashes& c : {Dashes{4, 13, {{0, 2}, {6, 2}, {12, 1}}}, Dashes{5, 14, {{0, 4}, {8, 4}}},
                            Dashes{5, 10, {{0, 4}, {8, 2}}}}) {
        std::vector<ColorCell> cells;
        decorationGeometry(cells, c.style, 0, c.x1, 10, 1, {1, 1, 1, 1}, 2, singleRow());
        std::vector<std::pair<float, float>> pieces;
        for (const ColorCell& cell : cells)
            pieces.emplace_back(cell.position[0], cell.size[0]);
        EXPECT_EQ(pieces, c.pieces) << "style " << c.style << " to " << c.x1;
    }
}

TEST(MetalGeometryTest, SolidSeparatorsHaveAJoinStripOutsideTheirFlatEdge)
{
    // The separator's rectangle is (10, 0)-(18, 20).
    const std::pair<std::uint32_t, std::optional<MetalRect>> cases[] = {
        {0xE0B0, MetalRect{9, 0, 10, 20}},  {0xE0B2, MetalRect{18, 0, 19, 20}}, {0xE0B4, MetalRect{9, 0, 10, 20}},
        {0xE0B6, MetalRect{18, 0, 19, 20}}, {0xE0B1, std::nullopt},             {0xE0B3, std::nullopt},
        {'A', std::nullopt}};
    for (const auto& [codePoint, join] : cases)
        EXPECT_EQ(powerlineJoinRect({10, 0, 18, 20}, codePoint), join) << std::hex << codePoint;
}

class FakeTexture final : public MetalTexture {
public:
    int width() const override { return 40; }
    int height() const override { return 20; }
};

TEST(MetalGeometryTest, AnImageQuadIsScaledWhiteAndClippedToItsBand)
{
    const auto texture = std::make_shared<FakeTexture>();
    const auto draw = imageQuadVertices(texture, PointRect{1, 2, 20, 10}, {0, 0, 1, 1}, 2, singleRow());
    ASSERT_TRUE(draw.has_value());
    EXPECT_EQ(draw->texture, texture);
    ASSERT_EQ(draw->vertices.size(), 6u);
    EXPECT_EQ(draw->vertices[0].position, (MetalFloat2{2, 4}));
    EXPECT_EQ(draw->vertices[4].position, (MetalFloat2{42, 24}));
    EXPECT_EQ(draw->vertices[4].texCoord, (MetalFloat2{1, 1}));
    EXPECT_EQ(draw->vertices[0].color, (MetalFloat4{1, 1, 1, 1}));
    EXPECT_FALSE(imageQuadVertices(texture, PointRect{0, 0, 10, 10}, {0, 0, 1, 1}, 1,
                                   metalRowStretch(RenderLineMode::doubledDown, 100, 20, 400)));
}

class FakeLineImage final : public KittyPlacementImage {
public:
    int pixelWidth() const override { return 30; }
    int pixelHeight() const override { return 20; }
    int col() const override { return 2; }
    void setCol(int) override {}
};

class PlainLineImage final : public TerminalImage {
public:
    int pixelWidth() const override { return 30; }
    int pixelHeight() const override { return 20; }
    int col() const override { return 2; }
    void setCol(int) override {}
};

TEST(MetalGeometryTest, LineImagesSortByStackingAndSitBelowTheRowTop)
{
    struct Case {
        const char* name;
        bool kitty;
        bool placement;
        int zIndex;
        LineImageLayer layer;
        PointRect rect; // cells 10 points wide, the row's top at 100, backing 2, offsets (4, 6)
    };
    // An inline image's offsets move it right and down; other images sit at the cell's corner.
    const Case cases[] = {
        {"below text", true, true, -1, LineImageLayer::under, {22, 77, 30, 20}},
        {"at z 0 over text", true, true, 0, LineImageLayer::over, {22, 77, 30, 20}},
        {"fields without a placement are other", true, false, -1, LineImageLayer::other, {20, 80, 30, 20}},
        {"sixel is other", false, false, 0, LineImageLayer::other, {20, 80, 30, 20}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        FakeLineImage kitty;
        kitty.kittyIsKitty = c.placement;
        kitty.kittyZIndex = c.zIndex;
        kitty.kittyPixelOffsetX = 4;
        kitty.kittyPixelOffsetY = 6;
        PlainLineImage plain;
        const TerminalImage& image = c.kitty ? static_cast<const TerminalImage&>(kitty) : plain;
        EXPECT_EQ(lineImageLayer(image), c.layer);
        EXPECT_EQ(lineImageRect(image, 10, 100, 2), c.rect);
    }
}

KittyPlacementRecord placementOf(int cols, int rows, int offsetX = 0, int offsetY = 0)
{
    KittyPlacementRecord record;
    record.cols = cols;
    record.rows = rows;
    record.pixelOffsetX = offsetX;
    record.pixelOffsetY = offsetY;
    record.isVirtual = true;
    return record;
}

TEST(MetalGeometryTest, EachPlaceholderCellShowsItsOwnPieceOfTheImage)
{
    struct Case {
        const char* name;
        int col;
        int placeholderRow;
        int placeholderCol;
        KittyPlacementRecord placement;
        int textureWidth;
        std::optional<PointRect> rect;
        MetalTexRect texture;
    };
    // Cells 10 x 20 points, the row's bottom edge at y = 100; a texture of 40 x 40 pixels at
    // scale 2 is 20 x 20 points. A 2 x 1 placement fits it exactly. In a 2 x 2 placement
    // (20 x 40) it is centred with 10 points above and below, the upper row showing its upper half.
    const Case cases[] = {
        {"left cell left half", 3, 0, 0, placementOf(2, 1), 40, PointRect{30, 100, 10, 20}, {0, 0, 0.5f, 1}},
        {"right cell right half", 4, 0, 1, placementOf(2, 1), 40, PointRect{40, 100, 10, 20}, {0.5f, 0, 0.5f, 1}},
        {"upper row upper half", 0, 0, 0, placementOf(2, 2), 40, PointRect{0, 100, 10, 10}, {0, 0.5f, 0.5f, 0.5f}},
        {"lower row lower half", 0, 1, 0, placementOf(2, 2), 40, PointRect{0, 110, 10, 10}, {0, 0, 0.5f, 0.5f}},
        // Offsets move the image right and down (4 pixels at backing 2 are 2 points).
        {"offsets go right and down", 3, 0, 0, placementOf(2, 1, 4, 4), 40, PointRect{32, 100, 8, 18},
         {0, 0.1f, 0.4f, 0.9f}},
        {"placement without area", 3, 0, 0, placementOf(0, 1), 40, std::nullopt, {}},
        // A very wide placement of a square image: it sits in the middle columns only.
        {"fitted outside its cell", 0, 0, 0, placementOf(8, 1), 40, std::nullopt, {}},
        {"texture without pixels", 0, 0, 0, placementOf(2, 1), 0, std::nullopt, {}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        KittyPlaceholderCell cell;
        cell.col = c.col;
        cell.placeholderRow = c.placeholderRow;
        cell.placeholderCol = c.placeholderCol;
        const auto piece = placeholderPiece(cell, c.placement, c.textureWidth, 40, 2, 2, MetalCellFrame{10, 20, 100});
        ASSERT_EQ(piece.has_value(), c.rect.has_value());
        if (!piece)
            continue;
        EXPECT_EQ(piece->rect, *c.rect);
        expectTexRect(piece->texture, c.texture);
    }
}

TEST(MetalGeometryTest, CursorShapesAreTheirRectanglesOfSixVerticesEach)
{
    // The cursor (10, 40)-(30, 80) at scale 2: outline bars 3 pixels thick, bar and underline 4.
    const std::pair<CursorShape, std::vector<MetalRect>> cases[] = {
        {CursorShape::outline, {{10, 40, 30, 43}, {10, 77, 30, 80}, {10, 40, 13, 80}, {27, 40, 30, 80}}},
        {CursorShape::bar, {{10, 40, 14, 80}}},
        {CursorShape::underline, {{10, 40, 30, 44}}},
        {CursorShape::block, {{10, 40, 30, 80}}},
    };
    for (const auto& [shape, rects] : cases) {
        SCOPED_TRACE(static_cast<int>(shape));
        std::vector<ColorVertex> vertices;
        cursorShapeVertices(vertices, shape, {10, 40, 30, 80}, 2, {0, 1, 0, 1});
        ASSERT_EQ(vertices.size(), 6 * rects.size());
        for (std::size_t i = 0; i < rects.size(); ++i) {
            EXPECT_EQ(vertices[6 * i].position, (MetalFloat2{rects[i].minX, rects[i].minY})) << i;
            EXPECT_EQ(vertices[6 * i + 4].position, (MetalFloat2{rects[i].maxX, rects[i].maxY})) << i;
            EXPECT_EQ(vertices[6 * i].color, (MetalFloat4{0, 1, 0, 1}));
        }
    }
    // Column 3 of 8 x 16 point cells, the row's bottom at 32 points, scale 2: two cells wide,
    // or one on a double-width line, which widens but does not grow taller.
    EXPECT_EQ(cursorRect(3, 2, 1, 8, 16, 32, 2), (MetalRect{48, 64, 80, 96}));
    EXPECT_EQ(cursorRect(3, 1, 2, 8, 16, 32, 2), (MetalRect{96, 64, 128, 96}));
}

} // namespace
} // namespace corvantix
