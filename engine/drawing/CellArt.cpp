#include "drawing/CellArt.h"

#include <algorithm>
#include <cmath>
#include <vector>

namespace corvantix {

PointRect aspectFitRect(double width, double height, const PointRect& into)
{
    if (!(width > 0.0) || !(height > 0.0) || into.isEmpty())
        return {};
    const double scale = std::min(into.width / width, into.height / height);
    const double fittedWidth = width * scale;
    const double fittedHeight = height * scale;
    return {into.x + (into.width - fittedWidth) * 0.5, into.y + (into.height - fittedHeight) * 0.5, fittedWidth,
            fittedHeight};
}

std::optional<BlockAlpha> blockAlphaFromRaw(double value)
{
    for (BlockAlpha alpha : {BlockAlpha::full, BlockAlpha::dark, BlockAlpha::medium, BlockAlpha::light}) {
        if (rawValue(alpha) == value)
            return alpha;
    }
    return std::nullopt;
}

namespace {

constexpr uint32_t firstBlockElement = 0x2580;
constexpr uint32_t lastBlockElement = 0x259F;

using BlockTable = std::array<std::vector<BlockElementRect>, lastBlockElement - firstBlockElement + 1>;

BlockTable makeBlockTable()
{
    constexpr BlockAlpha full = BlockAlpha::full;
    BlockTable table;
    auto set = [&](uint32_t codePoint, std::initializer_list<BlockElementRect> rects) {
        table[codePoint - firstBlockElement] = rects;
    };
    set(0x2580, {{0, 8, 0, 4, full}});
    set(0x2581, {{0, 8, 7, 8, full}});
    set(0x2582, {{0, 8, 6, 8, full}});
    set(0x2583, {{0, 8, 5, 8, full}});
    set(0x2584, {{0, 8, 4, 8, full}});
    set(0x2585, {{0, 8, 3, 8, full}});
    set(0x2586, {{0, 8, 2, 8, full}});
    set(0x2587, {{0, 8, 1, 8, full}});
    set(0x2588, {{0, 8, 0, 8, full}});
    set(0x2589, {{0, 7, 0, 8, full}});
    set(0x258A, {{0, 6, 0, 8, full}});
    set(0x258B, {{0, 5, 0, 8, full}});
    set(0x258C, {{0, 4, 0, 8, full}});
    set(0x258D, {{0, 3, 0, 8, full}});
    set(0x258E, {{0, 2, 0, 8, full}});
    set(0x258F, {{0, 1, 0, 8, full}});
    set(0x2590, {{4, 8, 0, 8, full}});
    set(0x2591, {{0, 8, 0, 8, BlockAlpha::light}});
    set(0x2592, {{0, 8, 0, 8, BlockAlpha::medium}});
    set(0x2593, {{0, 8, 0, 8, BlockAlpha::dark}});
    set(0x2594, {{0, 8, 0, 1, full}});
    set(0x2595, {{7, 8, 0, 8, full}});
    set(0x2596, {{0, 4, 4, 8, full}});
    set(0x2597, {{4, 8, 4, 8, full}});
    set(0x2598, {{0, 4, 0, 4, full}});
    set(0x2599, {{0, 4, 0, 4, full}, {0, 4, 4, 8, full}, {4, 8, 4, 8, full}});
    set(0x259A, {{0, 4, 0, 4, full}, {4, 8, 4, 8, full}});
    set(0x259B, {{0, 4, 0, 4, full}, {4, 8, 0, 4, full}, {0, 4, 4, 8, full}});
    set(0x259C, {{0, 4, 0, 4, full}, {4, 8, 0, 4, full}, {4, 8, 4, 8, full}});
    set(0x259D, {{4, 8, 0, 4, full}});
    set(0x259E, {{4, 8, 0, 4, full}, {0, 4, 4, 8, full}});
    set(0x259F, {{4, 8, 0, 4, full}, {0, 4, 4, 8, full}, {4, 8, 4, 8, full}});
    return table;
}

double snapDown(double value, double scale) { return std::floor(scale * value) / scale; }
double snapUp(double value, double scale) { return std::ceil(scale * value) / scale; }

} // namespace

std::span<const BlockElementRect> blockElementRects(uint32_t codePoint)
{
    if (codePoint < firstBlockElement || codePoint > lastBlockElement)
        return {};
    static const BlockTable table = makeBlockTable();
    return table[codePoint - firstBlockElement];
}

FixedList<BlockFill, 4> blockElementFills(const BlockElementRenderItem& item, const CellGrid& grid, double scale,
                                          bool antiAlias)
{
    FixedList<BlockFill, 4> fills;
    const double slotLeft = grid.originX + grid.cellWidth * item.column;
    const double eighthAcross = grid.cellWidth * item.columnWidth * 0.125;
    const double eighthDown = grid.cellHeight * 0.125;
    const double alpha = item.foregroundColor.alpha;
    const bool snap = !antiAlias && scale > 0.0;

    for (const BlockElementRect& r : item.rects) {
        double left = slotLeft + eighthAcross * r.x0;
        double right = slotLeft + eighthAcross * r.x1;
        double top = grid.rowTop + eighthDown * r.y0;
        double bottom = grid.rowTop + eighthDown * r.y1;
        if (snap) {
            left = snapDown(left, scale);
            top = snapDown(top, scale);
            right = snapUp(right, scale);
            bottom = snapUp(bottom, scale);
        }
        const PointRect rect{left, top, std::max(right - left, 0.0), std::max(bottom - top, 0.0)};
        if (rect.isEmpty())
            continue;
        const double shaded = std::max(std::min(alpha * rawValue(r.alpha), 1.0), 0.0);
        fills.push({rect, item.foregroundColor.withAlpha(shaded)});
    }
    return fills;
}

std::optional<PowerlineShape> powerlineShape(uint32_t codePoint, const PointRect& cell, double sx, double sy)
{
    if (!(sx > 0.0) || !(sy > 0.0) || !isPowerlineSeparator(codePoint))
        return std::nullopt;

    PowerlineShape shape;
    shape.left = snapDown(cell.minX(), sx);
    shape.right = snapUp(cell.maxX(), sx);
    shape.top = snapDown(cell.minY(), sy);
    shape.bottom = snapUp(cell.maxY(), sy);
    shape.pointsRight = codePoint == 0xE0B0 || codePoint == 0xE0B4;

    const double base = shape.pointsRight ? shape.left : shape.right;
    const double tip = shape.pointsRight ? shape.right : shape.left;
    using Kind = PathElement::Kind;

    if (codePoint == 0xE0B0 || codePoint == 0xE0B2) {
        const double mid = std::round(sy * (shape.top + shape.bottom) * 0.5) / sy;
        shape.path.push({Kind::moveTo, {base, shape.bottom}, {}, {}});
        shape.path.push({Kind::lineTo, {tip, mid}, {}, {}});
        shape.path.push({Kind::lineTo, {base, shape.top}, {}, {}});
    } else {
        const double reach = std::abs(tip - base) * 4.0 / 3.0;
        const double controlX = shape.pointsRight ? base + reach : base - reach;
        shape.path.push({Kind::moveTo, {base, shape.bottom}, {}, {}});
        shape.path.push({Kind::curveTo, {base, shape.top}, {controlX, shape.bottom}, {controlX, shape.top}});
    }
    shape.path.push({Kind::close, {}, {}, {}});

    const double pixel = 1.0 / sx;
    const double seamX = shape.pointsRight ? shape.left - pixel : shape.right;
    shape.seam = {seamX, shape.top, pixel, shape.bottom - shape.top};
    return shape;
}

PowerlineScales powerlineScales(BufferLine::RenderLineMode mode, double scale)
{
    using Mode = BufferLine::RenderLineMode;
    const bool doubleHeight = mode == Mode::doubledTop || mode == Mode::doubledDown;
    return {mode == Mode::single ? scale : scale * 2.0, doubleHeight ? scale * 2.0 : scale};
}

PointRect powerlineCellRect(const PowerlineRenderItem& item, const CellGrid& grid)
{
    return {grid.originX + grid.cellWidth * item.column, grid.rowTop, grid.cellWidth * item.columnWidth,
            grid.cellHeight};
}

} // namespace corvantix
