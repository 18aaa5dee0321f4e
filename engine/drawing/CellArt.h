// Cell art: block elements (U+2580 to U+259F), box drawing (U+2500 to U+257F) and the four
// solid powerline separators (U+E0B0, U+E0B2, U+E0B4, U+E0B6) are drawn as exact cell
// geometry rather than from the font, so neighbouring cells join without gaps or overlaps at
// any font size and backing scale.
//
// This header holds the render items the row builder emits, the block-element table and the
// pure geometry of block elements and powerline separators; box drawing is in BoxDrawing.h.
// Everything is in view points with y growing downward, except where cell pixels are named.
// No toolkit is involved: the painter (and a GPU rasteriser) turn the shapes into pixels.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>

#include "drawing/RgbaColor.h"
#include "model/BufferLine.h"

namespace corvantix {

// A rectangle in points; y grows downward.
struct PointRect {
    double x = 0.0;
    double y = 0.0;
    double width = 0.0;
    double height = 0.0;

    constexpr double minX() const { return x; }
    constexpr double maxX() const { return x + width; }
    constexpr double minY() const { return y; }
    constexpr double maxY() const { return y + height; }
    constexpr bool isEmpty() const { return width <= 0.0 || height <= 0.0; }

    friend constexpr bool operator==(const PointRect&, const PointRect&) = default;
};

struct PathPoint {
    double x = 0.0;
    double y = 0.0;

    friend constexpr bool operator==(const PathPoint&, const PathPoint&) = default;
};

// One step of a closed outline: move, line, cubic curve (two control points, then the end
// point) or close.
struct PathElement {
    enum class Kind : uint8_t { moveTo, lineTo, curveTo, close };

    Kind kind = Kind::moveTo;
    PathPoint point;
    PathPoint control1;
    PathPoint control2;

    friend constexpr bool operator==(const PathElement&, const PathElement&) = default;
};

// A small list with a fixed capacity: the shapes of one cell have at most a handful of
// pieces, and drawing a row must not allocate per cell.
template <typename T, std::size_t N>
struct FixedList {
    std::array<T, N> items{};
    std::size_t count = 0;

    void push(const T& value)
    {
        if (count < N)
            items[count++] = value;
    }
    bool empty() const { return count == 0; }
    std::size_t size() const { return count; }
    const T& operator[](std::size_t i) const { return items[i]; }
    const T* begin() const { return items.data(); }
    const T* end() const { return items.data() + count; }
};

// An image of the given size fitted into a rectangle, keeping its aspect ratio, centred.
// Empty when either size is not positive.
PointRect aspectFitRect(double width, double height, const PointRect& into);

// ---------------------------------------------------------------- Block elements

// Shade of a block-element rectangle; the value multiplies the foreground's alpha.
enum class BlockAlpha : uint8_t { full, dark, medium, light };

constexpr double rawValue(BlockAlpha alpha)
{
    switch (alpha) {
    case BlockAlpha::full:
        return 1.0;
    case BlockAlpha::dark:
        return 0.75;
    case BlockAlpha::medium:
        return 0.5;
    case BlockAlpha::light:
        return 0.25;
    }
    return 1.0;
}

// Only 1.0, 0.75, 0.5 and 0.25 name a shade.
std::optional<BlockAlpha> blockAlphaFromRaw(double value);

// One rectangle of a block element in eighths of the cell: x from the left edge over the
// item's full width, y from the top edge.
struct BlockElementRect {
    uint8_t x0 = 0;
    uint8_t x1 = 0;
    uint8_t y0 = 0;
    uint8_t y1 = 0;
    BlockAlpha alpha = BlockAlpha::full;

    friend constexpr bool operator==(const BlockElementRect&, const BlockElementRect&) = default;
};

// The rectangles of a block element; empty for a code point without an entry. The table
// is process-wide, built on first use and read-only afterwards.
std::span<const BlockElementRect> blockElementRects(uint32_t codePoint);

// ---------------------------------------------------------------- Render items

// A block-element cell of a row. `rects` points into the process-wide table.
struct BlockElementRenderItem {
    int column = 0;      // visual column
    int columnWidth = 1; // cells
    uint32_t codePoint = 0;
    std::span<const BlockElementRect> rects;
    RgbaColor foregroundColor;
};

struct BoxDrawingRenderItem {
    int column = 0;
    int columnWidth = 1;
    uint32_t codePoint = 0;
    RgbaColor foregroundColor;
};

struct PowerlineRenderItem {
    int column = 0;
    int columnWidth = 1;
    uint32_t codePoint = 0;
    RgbaColor foregroundColor;
};

// U+E0B0, U+E0B2, U+E0B4 or U+E0B6.
constexpr bool isPowerlineSeparator(uint32_t codePoint)
{
    return codePoint == 0xE0B0 || codePoint == 0xE0B2 || codePoint == 0xE0B4 || codePoint == 0xE0B6;
}

// ---------------------------------------------------------------- Geometry of block elements

// One rectangle to fill, in points, with its colour.
struct BlockFill {
    PointRect rect;
    RgbaColor color;
};

// Where a row's cells lie, in points (y downward): the row's top edge, the x of column 0,
// and the cell size.
struct CellGrid {
    double originX = 0.0;
    double rowTop = 0.0;
    double cellWidth = 0.0;
    double cellHeight = 0.0;
};

// The rectangles of one block-element item. Without anti-aliasing the edges snap outward to
// device pixels of the backing scale, so a partial block still covers whole pixels; with it
// the rectangles are used as computed. Empty rectangles are left out.
FixedList<BlockFill, 4> blockElementFills(const BlockElementRenderItem& item, const CellGrid& grid, double scale,
                                          bool antiAlias);

// ---------------------------------------------------------------- Geometry of powerline separators

struct PowerlineShape {
    // The snapped cell rectangle.
    double left = 0.0;
    double right = 0.0;
    double top = 0.0;
    double bottom = 0.0;
    bool pointsRight = true;
    // The closed outline, filled with anti-aliasing by the winding rule.
    FixedList<PathElement, 4> path;
    // One device pixel just outside the base edge, filled without anti-aliasing, so the
    // separator shows no hairline seam against a cell of the same colour.
    PointRect seam;
};

// The shape of a separator over a cell rectangle (points, y downward), snapped with the
// horizontal scale sx and the vertical scale sy. None for another code point or a scale that
// is not positive.
std::optional<PowerlineShape> powerlineShape(uint32_t codePoint, const PointRect& cell, double sx, double sy);

// The snapping scales of a row's separators: horizontally the backing scale, doubled in every
// double-size line mode; vertically doubled only in the double-height modes (those rows are
// drawn through a scaled painter).
struct PowerlineScales {
    double sx = 1.0;
    double sy = 1.0;
};
PowerlineScales powerlineScales(BufferLine::RenderLineMode mode, double scale);

// The cell rectangle of a row's powerline item (before snapping).
PointRect powerlineCellRect(const PowerlineRenderItem& item, const CellGrid& grid);

} // namespace corvantix
