#include "drawing/BoxDrawing.h"

#include <gtest/gtest.h>
#include <unicode/uchar.h>

#include <sstream>
#include <string>
#include <vector>

namespace corvantix {
namespace {

// The shape's pixel fills as a grid of covered pixels.
class Coverage {
public:
    Coverage(const BoxDrawingShape& shape, int width, int height)
        : width_(width), height_(height), pixels_(static_cast<size_t>(width * height), false)
    {
        for (const PixelRect& r : shape.rects) {
            for (int y = r.y0; y < r.y1; ++y)
                for (int x = r.x0; x < r.x1; ++x)
                    pixels_[static_cast<size_t>(y * width_ + x)] = true;
        }
    }
    bool at(int x, int y) const { return pixels_[static_cast<size_t>(y * width_ + x)]; }
    // The covered pixels of column x (or row y), as a string of '#' and '.'.
    std::string column(int x) const { return line(height_, [&](int y) { return at(x, y); }); }
    std::string row(int y) const { return line(width_, [&](int x) { return at(x, y); }); }
    template <typename Covered> static std::string line(int length, Covered covered)
    {
        std::string s;
        for (int i = 0; i < length; ++i)
            s += covered(i) ? '#' : '.';
        return s;
    }

private:
    int width_;
    int height_;
    std::vector<bool> pixels_;
};

// The arms of a line character read from its ICU name, a check independent of the table:
// "BOX DRAWINGS LIGHT DOWN AND HEAVY LEFT" gives each direction word the weight before it.
std::optional<BoxArms> armsFromName(uint32_t codePoint)
{
    char buffer[128];
    UErrorCode status = U_ZERO_ERROR;
    u_charName(static_cast<UChar32>(codePoint), U_UNICODE_CHAR_NAME, buffer, sizeof buffer, &status);
    const std::string name = buffer;
    if (U_FAILURE(status) || name.rfind("BOX DRAWINGS ", 0) != 0 || name.find("DASH") != std::string::npos
        || name.find("ARC") != std::string::npos || name.find("DIAGONAL") != std::string::npos)
        return std::nullopt;
    BoxArms arms;
    std::istringstream parts(name.substr(13));
    std::vector<std::string> part;
    // Each part between "AND"s: its weight word anywhere in it (else the part before's), then
    // its directions.
    BoxArm weight = BoxArm::none;
    const auto apply = [&] {
        for (const std::string& word : part)
            weight = word == "LIGHT" || word == "SINGLE" ? BoxArm::light
                   : word == "HEAVY"                      ? BoxArm::heavy
                   : word == "DOUBLE"                     ? BoxArm::double_
                                                          : weight;
        for (const std::string& word : part) {
            if (word == "UP" || word == "VERTICAL")
                arms.up = weight;
            if (word == "DOWN" || word == "VERTICAL")
                arms.down = weight;
            if (word == "LEFT" || word == "HORIZONTAL")
                arms.left = weight;
            if (word == "RIGHT" || word == "HORIZONTAL")
                arms.right = weight;
        }
        part.clear();
    };
    for (std::string word; parts >> word;)
        word == "AND" ? apply() : part.push_back(word);
    apply();
    return arms;
}

TEST(BoxDrawingTest, ArmTableMatchesTheUnicodeNames)
{
    int lines = 0;
    for (uint32_t cp = 0x2500; cp <= 0x257F; ++cp) {
        const auto fromName = armsFromName(cp);
        EXPECT_EQ(boxDrawingArms(cp), fromName) << std::hex << cp;
        lines += fromName.has_value() ? 1 : 0;
    }
    EXPECT_EQ(lines, 109);
    EXPECT_FALSE(boxDrawingArms(0x2504).has_value());
    EXPECT_FALSE(boxDrawingArms(0x2580).has_value());
}

TEST(BoxDrawingTest, OddHeightWithEvenStrokePutsTheSparePixelBelow)
{
    const BoxDrawingShape shape = boxDrawingShape(0x2500, 2, 8, 17, 1);
    ASSERT_EQ(shape.rects.size(), 2u);
    const Coverage coverage(shape, 8, 17);
    // Seven rows above the stroke, eight below.
    EXPECT_EQ(coverage.column(0), ".......##........");
    EXPECT_EQ(coverage.column(7), ".......##........");
    EXPECT_EQ(coverage.row(7), "########");
}

TEST(BoxDrawingTest, DoubleCornerLeavesTheInnerCornerOpen)
{
    // U+2554 in 11 x 11, stroke 1: bands light [5, 6), double lines [4, 5) and [6, 7).
    const Coverage corner(boxDrawingShape(0x2554, 1, 11, 11, 1), 11, 11);
    EXPECT_EQ(corner.row(4), "....#######"); // outer line runs from the outer vertical line
    EXPECT_EQ(corner.row(5), "....#......"); // between the lines only the outer vertical
    EXPECT_EQ(corner.row(6), "....#.#####"); // inner line from the inner vertical line
    EXPECT_EQ(corner.column(6), "....#.#####");
    EXPECT_FALSE(corner.at(5, 5));
}

// Every pair of line characters whose arms face each other joins on exactly the same pixel
// rows (across a vertical cell edge) or columns (across a horizontal one).
TEST(BoxDrawingTest, NeighboursMeetOnTheSamePixels)
{
    struct Size { int width; int height; int thickness; };
    // Cells wide enough that no vertical stroke lies on the edge column being compared.
    const Size sizes[] = {{8, 17, 1}, {9, 18, 2}, {14, 30, 3}, {8, 15, 2}, {16, 32, 4}, {7, 13, 1}};
    std::vector<uint32_t> lines;
    for (uint32_t cp = 0x2500; cp <= 0x257F; ++cp) {
        if (boxDrawingArms(cp))
            lines.push_back(cp);
    }
    for (const Size& size : sizes) {
        for (uint32_t a : lines) {
            const BoxArms armsA = *boxDrawingArms(a);
            const Coverage coverA(boxDrawingShape(a, size.thickness, size.width, size.height, 1), size.width,
                                  size.height);
            for (uint32_t b : lines) {
                const BoxArms armsB = *boxDrawingArms(b);
                const Coverage coverB(boxDrawingShape(b, size.thickness, size.width, size.height, 1), size.width,
                                      size.height);
                if (armsA.right != BoxArm::none && armsA.right == armsB.left) {
                    EXPECT_EQ(coverA.column(size.width - 1), coverB.column(0))
                        << std::hex << a << " | " << b << std::dec << " in " << size.width << "x" << size.height;
                }
                if (armsA.down != BoxArm::none && armsA.down == armsB.up) {
                    EXPECT_EQ(coverA.row(size.height - 1), coverB.row(0))
                        << std::hex << a << " over " << b << std::dec << " in " << size.width << "x" << size.height;
                }
            }
        }
    }
}

TEST(BoxDrawingTest, DashesCollapseToASolidLineInSmallCells)
{
    struct Case { uint32_t codePoint; int width; int height; bool solid; };
    const Case cases[] = {
        {0x2504, 5, 16, true},  {0x2504, 6, 16, false}, // triple: below 6
        {0x2508, 7, 16, true},  {0x2508, 8, 16, false}, // quadruple: below 8
        {0x254C, 3, 16, true},  {0x254C, 4, 16, false}, // double: below 4
        {0x2506, 8, 5, true},   {0x2506, 8, 6, false},  // vertical triple: by height
    };
    for (const Case& c : cases) {
        const BoxDrawingShape shape = boxDrawingShape(c.codePoint, 1, c.width, c.height, 1);
        EXPECT_EQ(shape.rects.size() == 1, c.solid) << std::hex << c.codePoint << std::dec << " " << c.width;
        if (c.solid) {
            const PixelRect r = shape.rects[0];
            const bool horizontal = c.codePoint != 0x2506;
            EXPECT_EQ(horizontal ? r.x1 - r.x0 : r.y1 - r.y0, horizontal ? c.width : c.height);
        }
    }
}

TEST(BoxDrawingTest, DashPlacement)
{
    // Horizontal triple dash in 16 pixels, stroke 1: gap min(16 / 6, 4) = 2, dashes share
    // 10 pixels (4, 3, 3), the first starting half a gap in.
    const BoxDrawingShape horizontal = boxDrawingShape(0x2504, 1, 16, 10, 1);
    ASSERT_EQ(horizontal.rects.size(), 3u);
    EXPECT_EQ(std::vector<PixelRect>(horizontal.rects.begin(), horizontal.rects.end()),
              (std::vector<PixelRect>{{1, 5, 4, 5}, {7, 10, 4, 5}, {12, 15, 4, 5}}));
    // Vertical triple dash in 17 pixels: gap 2, dashes 4, 4, 3 from the very top; the last
    // gap is left at the bottom.
    const BoxDrawingShape vertical = boxDrawingShape(0x2506, 1, 8, 17, 1);
    ASSERT_EQ(vertical.rects.size(), 3u);
    EXPECT_EQ(std::vector<PixelRect>(vertical.rects.begin(), vertical.rects.end()),
              (std::vector<PixelRect>{{3, 4, 0, 4}, {3, 4, 6, 10}, {3, 4, 12, 15}}));
    // Heavy dashes are twice the light stroke.
    const BoxDrawingShape heavy = boxDrawingShape(0x2505, 1, 16, 10, 1);
    EXPECT_EQ(heavy.rects[0].y1 - heavy.rects[0].y0, 2);
}

TEST(BoxDrawingTest, RoundedCorners)
{
    // U+256F (up and left) in 10 x 20, stroke 2: the joint at (5, 10), R = 3.
    const BoxDrawingShape shape = boxDrawingShape(0x256F, 2, 10, 20, 1);
    ASSERT_TRUE(shape.ring.has_value());
    const auto& ring = *shape.ring;
    // Centre, outer and inner radius; clipped to the part right of and below the centre.
    EXPECT_EQ(std::vector<double>({ring.centerX, ring.centerY, ring.outerRadius, ring.innerRadius, ring.clipX0, ring.clipX1,
                                   ring.clipY0, ring.clipY1}),
              std::vector<double>({2, 7, 4, 2, 2, 10, 7, 20}));
    ASSERT_EQ(shape.rects.size(), 2u);
    EXPECT_EQ(shape.rects[0], (PixelRect{4, 6, 0, 7}));  // up arm down to the bend
    EXPECT_EQ(shape.rects[1], (PixelRect{0, 2, 9, 11})); // left arm up to the bend
    // So small a cell that R is 0: a disc of half the stroke on the joint.
    const auto tiny = boxDrawingShape(0x2570, 1, 1, 1, 1).ring;
    ASSERT_TRUE(tiny.has_value());
    EXPECT_EQ(std::vector<double>({tiny->outerRadius, tiny->innerRadius, tiny->centerX, tiny->centerY}),
              std::vector<double>({0.5, 0, 0.5, 0.5}));
}

TEST(BoxDrawingTest, DiagonalsRunCornerToCornerExtended)
{
    const BoxDrawingShape up = boxDrawingShape(0x2571, 1, 8, 16, 1);
    ASSERT_EQ(up.strokes.size(), 1u);
    // Extended by 0.5 x min(8 / 16, 1) across and half a pixel along.
    const auto& s = up.strokes[0];
    EXPECT_EQ(std::vector<double>({s.x0, s.y0, s.x1, s.y1, s.width}), std::vector<double>({-0.25, 16.5, 8.25, -0.5, 1}));
    EXPECT_EQ(boxDrawingShape(0x2573, 1, 8, 16, 1).strokes.size(), 2u);
    // A stroke of 2 or more is widened by one pixel.
    EXPECT_DOUBLE_EQ(boxDrawingShape(0x2572, 3, 8, 16, 1).strokes[0].width, 4.0);
    EXPECT_DOUBLE_EQ(boxDrawingShape(0x2572, 1, 8, 16, 2).strokes[0].width, 3.0);
}

TEST(BoxDrawingTest, NothingOutsideTheRange)
{
    EXPECT_TRUE(boxDrawingShape(0x2580, 1, 8, 16, 1).isEmpty());
    EXPECT_TRUE(boxDrawingShape('a', 1, 8, 16, 1).isEmpty());
}

TEST(BoxDrawingTest, RowLayoutUsesWholeDevicePixelsPerCell)
{
    EXPECT_EQ(boxDrawingThickness(2.0, 1.0), 3); // round(2.7)
    EXPECT_EQ(boxDrawingThickness(1.0, 0.5), 1);
    EXPECT_EQ(boxDrawingThickness(2.0, 0.1), 2); // at least the unit
    const CellGrid grid{0.4, 20.2, 7.3, 15.6};
    const BoxDrawingCell cell = boxDrawingCell(BoxDrawingRenderItem{3, 2, 0x2500, RgbaColor::white()}, grid, 1.0);
    EXPECT_EQ(std::vector<double>({double(cell.pixelWidth), double(cell.pixelHeight), cell.rect.x, cell.rect.y, cell.rect.width}),
              std::vector<double>({14, 16, 21, 20, 14}));
    const PointRect points = pixelRectToPoints(PixelRect{2, 4, 6, 8}, PointRect{10, 20, 7, 14}, 2.0);
    EXPECT_EQ(points, (PointRect{11, 23, 1, 1}));
}

} // namespace
} // namespace corvantix
