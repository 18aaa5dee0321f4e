#include "gpu/MetalGeometry.h"

#include <gtest/gtest.h>

#include <cmath>
#include <ostream>

namespace corvantix {
namespace {

// A row 20 pixels tall whose bottom edge is at y = 100, in a drawable 400 pixels wide.
MetalRowStretch rowOf(RenderLineMode mode) { return metalRowStretch(mode, 100, 20, 400); }

struct ModeCase {
    const char* name;
    RenderLineMode mode;
    MetalRect expected; // of the cell (10, 100)-(18, 120)
};
void PrintTo(const ModeCase& c, std::ostream* os) { *os << c.name; }

class RenderModeTest : public testing::TestWithParam<ModeCase> {};

TEST_P(RenderModeTest, StretchesTheCellAsTheLineSizeSays)
{
    const MetalRowStretch row = rowOf(GetParam().mode);
    EXPECT_EQ(cellRectForRenderMode(10, 100, 18, 120, row.mode, row.stretchBase), GetParam().expected);
}

INSTANTIATE_TEST_SUITE_P(
    Modes, RenderModeTest,
    testing::Values(ModeCase{"single_unchanged", RenderLineMode::single, {10, 100, 18, 120}},
                    ModeCase{"double_width_doubles_x_only", RenderLineMode::doubleWidth, {20, 100, 36, 120}},
                    // The upper half grows down from the row's top edge, the lower half up from its bottom.
                    ModeCase{"upper_half_stretches_down_from_the_top", RenderLineMode::doubledTop, {20, 80, 36, 120}},
                    ModeCase{"lower_half_stretches_up_from_the_bottom", RenderLineMode::doubledDown, {20, 100, 36, 140}}),
    [](const auto& info) { return std::string(info.param.name); });

struct ClipCase {
    const char* name;
    RenderLineMode mode;
    MetalRect rect;         // in the row's stretched coordinates
    MetalTexRect texture;   // of the whole rectangle
    bool kept;
    MetalRect expectedRect;
    MetalTexRect expectedTexture;
};
void PrintTo(const ClipCase& c, std::ostream* os) { *os << c.name; }

class BandClipTest : public testing::TestWithParam<ClipCase> {};

TEST_P(BandClipTest, KeepsOnlyTheRowsBandWithProportionalTexture)
{
    const ClipCase& c = GetParam();
    const auto clipped = clipTextCell(c.rect, c.texture, rowOf(c.mode).band);
    ASSERT_EQ(clipped.has_value(), c.kept);
    if (!c.kept)
        return;
    EXPECT_EQ(clipped->first, c.expectedRect);
    EXPECT_FLOAT_EQ(clipped->second.x, c.expectedTexture.x);
    EXPECT_FLOAT_EQ(clipped->second.y, c.expectedTexture.y);
    EXPECT_FLOAT_EQ(clipped->second.width, c.expectedTexture.width);
    EXPECT_FLOAT_EQ(clipped->second.height, c.expectedTexture.height);
    // A solid rectangle is cut the same way.
    EXPECT_EQ(clipColorRect(c.rect, rowOf(c.mode).band), std::optional<MetalRect>(c.expectedRect));
}

INSTANTIATE_TEST_SUITE_P(
    Bands, BandClipTest,
    testing::Values(
        // A glyph stretched to 80..120 in the upper-half row keeps its upper half: the top
        // half of the texture (v from 0.5 to 1, textures counting up from the bottom).
        ClipCase{"upper_half_keeps_the_upper_texture", RenderLineMode::doubledTop, {20, 80, 36, 120}, {0, 0, 1, 1},
                 true, {20, 100, 36, 120}, {0, 0.5f, 1, 0.5f}},
        ClipCase{"lower_half_keeps_the_lower_texture", RenderLineMode::doubledDown, {20, 100, 36, 140},
                 {0.25f, 0.5f, 0.5f, 0.25f}, true, {20, 100, 36, 120}, {0.25f, 0.5f, 0.5f, 0.125f}},
        ClipCase{"cut_at_both_ends", RenderLineMode::doubledTop, {0, 90, 10, 130}, {0, 0, 1, 1}, true,
                 {0, 100, 10, 120}, {0, 0.25f, 1, 0.5f}},
        ClipCase{"wholly_outside_the_band_is_dropped", RenderLineMode::doubledTop, {0, 60, 10, 100}, {0, 0, 1, 1},
                 false, {}, {}},
        ClipCase{"single_rows_are_never_cut", RenderLineMode::single, {0, 60, 10, 100}, {0, 0, 1, 1}, true,
                 {0, 60, 10, 100}, {0, 0, 1, 1}}),
    [](const auto& info) { return std::string(info.param.name); });

MetalRowStretch singleRow() { return metalRowStretch(RenderLineMode::single, 0, 20, 400); }

TEST(MetalGeometryTest, StraightUnderlinesAreOneBarCentredOnTheirLine)
{
    for (int style : {1, 2}) {
        std::vector<ColorCell> cells;
        decorationGeometry(cells, style, 10, 18, 5, 2, {1, 0, 0, 1}, 1, singleRow());
        ASSERT_EQ(cells.size(), 1u);
        EXPECT_EQ(cells[0].position, (MetalFloat2{10, 4}));
        EXPECT_EQ(cells[0].size, (MetalFloat2{8, 2}));
        EXPECT_EQ(cells[0].color, (MetalFloat4{1, 0, 0, 1}));
    }
    std::vector<ColorCell> none;
    decorationGeometry(none, 0, 10, 18, 5, 2, {1, 0, 0, 1}, 1, singleRow());
    EXPECT_TRUE(none.empty());
}

TEST(MetalGeometryTest, ACurlyUnderlineFollowsOneSineWavePerFourThicknesses)
{
    std::vector<ColorCell> cells;
    // Thickness 2 at scale 1: bars 2 wide, a period of 8, an amplitude of 2.
    decorationGeometry(cells, 3, 0, 8, 10, 2, {1, 1, 1, 1}, 1, singleRow());
    ASSERT_EQ(cells.size(), 4u);
    const float expectedCentres[] = {10, 12, 10, 8}; // sin at 0, 1/4, 1/2, 3/4 of the period
    for (std::size_t i = 0; i < cells.size(); ++i) {
        EXPECT_FLOAT_EQ(cells[i].position[0], 2.0f * static_cast<float>(i));
        EXPECT_FLOAT_EQ(cells[i].size[0], 2);
        EXPECT_FLOAT_EQ(cells[i].size[1], 2);
        EXPECT_NEAR(cells[i].position[1] + 1, expectedCentres[i], 1e-4) << "bar " << i;
    }
    // An unknown style number above 5 draws the same wave.
    std::vector<ColorCell> unknown;
    decorationGeometry(unknown, 9, 0, 8, 10, 2, {1, 1, 1, 1}, 1, singleRow());
    EXPECT_EQ(unknown.size(), cells.size());
}

struct DashCase {
    const char* name;
    int style;
    double x1;
    std::vector<std::pair<float, float>> pieces; // x and width of each
};
void PrintTo(const DashCase& c, std::ostream* os) { *os << c.name; }

class DashTest : public testing::TestWithParam<DashCase> {};

TEST_P(DashTest, PiecesStartAtTheLeftAndStopAtTheRight)
{
    std::vector<ColorCell> cells;
    decorationGeometry(cells, GetParam().style, 0, GetParam().x1, 10, 1, {1, 1, 1, 1}, 2, singleRow());
    std::vector<std::pair<float, float>> pieces;
    for (const ColorCell& cell : cells)
        pieces.emplace_back(cell.position[0], cell.size[0]);
    EXPECT_EQ(pieces, GetParam().pieces);
}

// Thickness 1 at scale 2: dots are 2 long with gaps of 4, dashes 4 long with gaps of 4.
INSTANTIATE_TEST_SUITE_P(Styles, DashTest,
                         testing::Values(DashCase{"dotted", 4, 13, {{0, 2}, {6, 2}, {12, 1}}},
                                         DashCase{"dashed", 5, 14, {{0, 4}, {8, 4}}},
                                         DashCase{"dashed_last_cut", 5, 10, {{0, 4}, {8, 2}}}),
                         [](const auto& info) { return std::string(info.param.name); });

struct PowerlineCase {
    const char* name;
    std::uint32_t codePoint;
    std::optional<PowerlineSeparatorKind> kind;
    std::optional<MetalRect> join; // of the separator's rectangle (10, 0)-(18, 20)
};
void PrintTo(const PowerlineCase& c, std::ostream* os) { *os << c.name; }

class PowerlineTest : public testing::TestWithParam<PowerlineCase> {};

TEST_P(PowerlineTest, JoinStripLiesOutsideTheFlatEdge)
{
    EXPECT_EQ(powerlineSeparatorKind(GetParam().codePoint), GetParam().kind);
    EXPECT_EQ(powerlineJoinRect({10, 0, 18, 20}, GetParam().codePoint), GetParam().join);
}

INSTANTIATE_TEST_SUITE_P(
    Separators, PowerlineTest,
    testing::Values(
        PowerlineCase{"E0B0_right_triangle", 0xE0B0, PowerlineSeparatorKind{true, false}, MetalRect{9, 0, 10, 20}},
        PowerlineCase{"E0B2_left_triangle", 0xE0B2, PowerlineSeparatorKind{false, false}, MetalRect{18, 0, 19, 20}},
        PowerlineCase{"E0B4_right_round", 0xE0B4, PowerlineSeparatorKind{true, true}, MetalRect{9, 0, 10, 20}},
        PowerlineCase{"E0B6_left_round", 0xE0B6, PowerlineSeparatorKind{false, true}, MetalRect{18, 0, 19, 20}},
        PowerlineCase{"E0B1_thin_arrow_has_none", 0xE0B1, std::nullopt, std::nullopt},
        PowerlineCase{"E0B3_thin_arrow_has_none", 0xE0B3, std::nullopt, std::nullopt},
        PowerlineCase{"letter_has_none", 'A', std::nullopt, std::nullopt}),
    [](const auto& info) { return std::string(info.param.name); });

class FakeTexture final : public MetalTexture {
public:
    int width() const override { return 40; }
    int height() const override { return 20; }
};

TEST(MetalGeometryTest, AnImageQuadIsScaledAndWhite)
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
    // Outside a double-height row's band nothing is left.
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

struct LineImageCase {
    const char* name;
    bool kitty;
    bool placement; // kittyIsKitty
    int zIndex;
    LineImageLayer layer;
    PointRect rect; // cells 10 points wide, the row's top at 100, backing 2, offsets (4, 6)
};
void PrintTo(const LineImageCase& c, std::ostream* os) { *os << c.name; }

class LineImageTest : public testing::TestWithParam<LineImageCase> {};

TEST_P(LineImageTest, SortsByStackingAndPlacesBelowTheRowTop)
{
    const LineImageCase& c = GetParam();
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

// A Kitty image's offsets move it right and down; other images sit at the cell's corner.
INSTANTIATE_TEST_SUITE_P(
    Images, LineImageTest,
    testing::Values(LineImageCase{"kitty_below_text", true, true, -1, LineImageLayer::under, {22, 77, 30, 20}},
                    LineImageCase{"kitty_at_z_0_over_text", true, true, 0, LineImageLayer::over, {22, 77, 30, 20}},
                    LineImageCase{"fields_without_a_placement_are_other", true, false, -1, LineImageLayer::other,
                                  {20, 80, 30, 20}},
                    LineImageCase{"sixel_is_other", false, false, 0, LineImageLayer::other, {20, 80, 30, 20}}),
    [](const auto& info) { return std::string(info.param.name); });

struct PieceCase {
    const char* name;
    int col;
    int placeholderRow;
    int placeholderCol;
    KittyPlacementRecord placement;
    std::optional<PointRect> rect;
    MetalTexRect texture;
};
void PrintTo(const PieceCase& c, std::ostream* os) { *os << c.name; }

class PlaceholderPieceTest : public testing::TestWithParam<PieceCase> {};

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

// Cells 10 x 20 points; the row's bottom edge at y = 100; a texture of 40 x 40 pixels at
// scale 2 is 20 x 20 points.
TEST_P(PlaceholderPieceTest, EachCellShowsItsOwnPiece)
{
    const PieceCase& c = GetParam();
    KittyPlaceholderCell cell;
    cell.col = c.col;
    cell.placeholderRow = c.placeholderRow;
    cell.placeholderCol = c.placeholderCol;
    const auto piece = placeholderPiece(cell, c.placement, 40, 40, 2, 2, MetalCellFrame{10, 20, 100});
    ASSERT_EQ(piece.has_value(), c.rect.has_value());
    if (!piece)
        return;
    EXPECT_EQ(piece->rect, *c.rect);
    EXPECT_FLOAT_EQ(piece->texture.x, c.texture.x);
    EXPECT_FLOAT_EQ(piece->texture.y, c.texture.y);
    EXPECT_FLOAT_EQ(piece->texture.width, c.texture.width);
    EXPECT_FLOAT_EQ(piece->texture.height, c.texture.height);
}

// A 2 x 1 placement is 20 x 20 points; the square image fits it exactly. In a 2 x 2
// placement (20 x 40) it is centred with 10 points above and below: rows 0 and 1 each show
// half of it, the upper row the upper half.
INSTANTIATE_TEST_SUITE_P(
    Pieces, PlaceholderPieceTest,
    testing::Values(
        PieceCase{"left_cell_left_half", 3, 0, 0, placementOf(2, 1), PointRect{30, 100, 10, 20}, {0, 0, 0.5f, 1}},
        PieceCase{"right_cell_right_half", 4, 0, 1, placementOf(2, 1), PointRect{40, 100, 10, 20}, {0.5f, 0, 0.5f, 1}},
        PieceCase{"upper_row_upper_half", 0, 0, 0, placementOf(2, 2), PointRect{0, 100, 10, 10}, {0, 0.5f, 0.5f, 0.5f}},
        PieceCase{"lower_row_lower_half", 0, 1, 0, placementOf(2, 2), PointRect{0, 110, 10, 10}, {0, 0, 0.5f, 0.5f}},
        // Offsets move the image right and down (4 pixels at backing 2 are 2 points).
        PieceCase{"offsets_go_right_and_down", 3, 0, 0, placementOf(2, 1, 4, 4), PointRect{32, 100, 8, 18},
                  {0, 0.1f, 0.4f, 0.9f}},
        PieceCase{"placement_without_area", 3, 0, 0, placementOf(0, 1), std::nullopt, {}}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(MetalGeometryTest, APlaceholderFittedOutsideItsCellShowsNothing)
{
    KittyPlaceholderCell cell;
    cell.col = 0;
    // A very wide placement of a square image: the image sits in the middle columns only.
    EXPECT_FALSE(placeholderPiece(cell, placementOf(8, 1), 40, 40, 2, 2, MetalCellFrame{10, 20, 100}).has_value());
    // A texture without pixels.
    EXPECT_FALSE(placeholderPiece(cell, placementOf(2, 1), 0, 40, 2, 2, MetalCellFrame{10, 20, 100}).has_value());
}

struct CursorCase {
    const char* name;
    CursorShape shape;
    std::vector<MetalRect> rects;
};
void PrintTo(const CursorCase& c, std::ostream* os) { *os << c.name; }

class CursorShapeTest : public testing::TestWithParam<CursorCase> {};

// The cursor (10, 40)-(30, 80) at scale 2: outline bars 3 pixels thick, bar and underline 4.
TEST_P(CursorShapeTest, DrawsItsRectanglesAsSixVerticesEach)
{
    std::vector<ColorVertex> vertices;
    cursorShapeVertices(vertices, GetParam().shape, {10, 40, 30, 80}, 2, {0, 1, 0, 1});
    ASSERT_EQ(vertices.size(), 6 * GetParam().rects.size());
    for (std::size_t i = 0; i < GetParam().rects.size(); ++i) {
        const MetalRect& r = GetParam().rects[i];
        EXPECT_EQ(vertices[6 * i].position, (MetalFloat2{r.minX, r.minY})) << "rectangle " << i;
        EXPECT_EQ(vertices[6 * i + 4].position, (MetalFloat2{r.maxX, r.maxY})) << "rectangle " << i;
        EXPECT_EQ(vertices[6 * i].color, (MetalFloat4{0, 1, 0, 1}));
    }
}

INSTANTIATE_TEST_SUITE_P(
    Shapes, CursorShapeTest,
    testing::Values(CursorCase{"outline_four_bars",
                               CursorShape::outline,
                               {{10, 40, 30, 43}, {10, 77, 30, 80}, {10, 40, 13, 80}, {27, 40, 30, 80}}},
                    CursorCase{"bar_at_the_left", CursorShape::bar, {{10, 40, 14, 80}}},
                    CursorCase{"underline_at_the_bottom", CursorShape::underline, {{10, 40, 30, 44}}},
                    CursorCase{"block_whole", CursorShape::block, {{10, 40, 30, 80}}}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(MetalGeometryTest, CursorRectWidensOnDoubleSizeLinesButDoesNotGrowTaller)
{
    // Column 3, two cells, 8 x 16 point cells, the row's bottom at 32 points, scale 2.
    EXPECT_EQ(cursorRect(3, 2, 1, 8, 16, 32, 2), (MetalRect{48, 64, 80, 96}));
    EXPECT_EQ(cursorRect(3, 1, 2, 8, 16, 32, 2), (MetalRect{96, 64, 128, 96}));
}

} // namespace
} // namespace corvantix
