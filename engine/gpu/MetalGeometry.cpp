#include "gpu/MetalGeometry.h"

#include <algorithm>
#include <cmath>
#include <numbers>

namespace corvantix {

MetalRowStretch metalRowStretch(RenderLineMode mode, double rowBottomPx, double rowHeightPx, double viewWidthPx)
{
    MetalRowStretch row;
    row.mode = mode;
    if (mode == RenderLineMode::doubledTop || mode == RenderLineMode::doubledDown) {
        row.stretchBase = mode == RenderLineMode::doubledTop ? rowBottomPx + rowHeightPx : rowBottomPx;
        row.band = MetalRect{0.0f, static_cast<float>(rowBottomPx), static_cast<float>(viewWidthPx),
                             static_cast<float>(rowBottomPx + rowHeightPx)};
    }
    return row;
}

MetalRect cellRectForRenderMode(double x0, double y0, double x1, double y1, RenderLineMode mode, double stretchBase)
{
    if (mode != RenderLineMode::single) {
        x0 *= 2;
        x1 *= 2;
    }
    if (mode == RenderLineMode::doubledTop || mode == RenderLineMode::doubledDown) {
        y0 = stretchBase + 2 * (y0 - stretchBase);
        y1 = stretchBase + 2 * (y1 - stretchBase);
    }
    return MetalRect{static_cast<float>(std::min(x0, x1)), static_cast<float>(std::min(y0, y1)),
                     static_cast<float>(std::max(x0, x1)), static_cast<float>(std::max(y0, y1))};
}

namespace {

std::optional<MetalRect> intersection(const MetalRect& a, const MetalRect& b)
{
    const MetalRect cut{std::max(a.minX, b.minX), std::max(a.minY, b.minY), std::min(a.maxX, b.maxX),
                        std::min(a.maxY, b.maxY)};
    if (!cut.hasArea())
        return std::nullopt;
    return cut;
}

} // namespace

std::optional<std::pair<MetalRect, MetalTexRect>> clipTextCell(const MetalRect& rect, const MetalTexRect& texture,
                                                               const std::optional<MetalRect>& band)
{
    if (!band)
        return std::pair{rect, texture};
    const auto cut = intersection(rect, *band);
    if (!cut)
        return std::nullopt;
    // The texture follows the rectangle linearly, so each cut edge moves its texture edge by
    // the same fraction of the whole.
    const double fx0 = (cut->minX - rect.minX) / static_cast<double>(rect.width());
    const double fx1 = (cut->maxX - rect.minX) / static_cast<double>(rect.width());
    const double fy0 = (cut->minY - rect.minY) / static_cast<double>(rect.height());
    const double fy1 = (cut->maxY - rect.minY) / static_cast<double>(rect.height());
    const MetalTexRect cutTexture{static_cast<float>(texture.x + texture.width * fx0),
                                  static_cast<float>(texture.y + texture.height * fy0),
                                  static_cast<float>(texture.width * (fx1 - fx0)),
                                  static_cast<float>(texture.height * (fy1 - fy0))};
    return std::pair{*cut, cutTexture};
}

std::optional<MetalRect> clipColorRect(const MetalRect& rect, const std::optional<MetalRect>& band)
{
    if (!band)
        return rect;
    return intersection(rect, *band);
}

std::optional<MetalRect> placeColorRect(const MetalRowStretch& row, double x0, double y0, double x1, double y1)
{
    return clipColorRect(cellRectForRenderMode(x0, y0, x1, y1, row.mode, row.stretchBase), row.band);
}

std::optional<std::pair<MetalRect, MetalTexRect>> placeTextRect(const MetalRowStretch& row, double x0, double y0,
                                                                double x1, double y1, const MetalTexRect& texture)
{
    return clipTextCell(cellRectForRenderMode(x0, y0, x1, y1, row.mode, row.stretchBase), texture, row.band);
}

ColorCell makeColorCell(const MetalRect& rect, const MetalFloat4& color)
{
    return ColorCell{{rect.minX, rect.minY}, {rect.width(), rect.height()}, color};
}

TextCell makeTextCell(const MetalRect& rect, const MetalTexRect& texture, const MetalFloat4& color)
{
    return TextCell{{rect.minX, rect.minY},
                    {rect.width(), rect.height()},
                    {texture.x, texture.y},
                    {texture.width, texture.height},
                    color};
}

void decorationGeometry(std::vector<ColorCell>& cells, int style, double x0, double x1, double yCenter,
                        double thickness, const MetalFloat4& color, double scale, const MetalRowStretch& row)
{
    if (style <= 0 || !std::isfinite(x0) || !std::isfinite(x1) || !std::isfinite(yCenter) || !std::isfinite(thickness)
        || !std::isfinite(scale))
        return;
    const double half = thickness / 2;
    const double step = std::max(thickness, scale);
    auto piece = [&](double from, double to, double center) {
        if (const auto rect = placeColorRect(row, from, center - half, to, center + half))
            cells.push_back(makeColorCell(*rect, color));
    };
    // Dots and dashes: `length` on, `gap` off, from x0; the last one is cut at x1.
    auto dashes = [&](double length, double gap) {
        if (!(length > 0) || !(gap >= 0))
            return;
        for (double x = x0; x < x1; x += length + gap)
            piece(x, std::min(x1, x + length), yCenter);
    };

    if (style == 1 || style == 2) {
        piece(x0, x1, yCenter);
    } else if (style == 4) {
        dashes(step, 2 * step);
    } else if (style == 5) {
        const double dash = std::max(2 * thickness, 2 * scale);
        dashes(dash, dash);
    } else {
        // Curly: one sine period every four line widths (at least four pixels of the scale),
        // drawn as short bars that follow it.
        if (!(step > 0))
            return;
        const double period = std::max(4 * thickness, 4 * scale);
        for (double x = x0; x < x1; x += step) {
            const double center = yCenter + step * std::sin((x - x0) / period * 2 * std::numbers::pi);
            piece(x, std::min(x1, x + step), center);
        }
    }
}

std::optional<PowerlineSeparatorKind> powerlineSeparatorKind(std::uint32_t codePoint)
{
    switch (codePoint) {
    case 0xE0B0:
        return PowerlineSeparatorKind{true, false};
    case 0xE0B2:
        return PowerlineSeparatorKind{false, false};
    case 0xE0B4:
        return PowerlineSeparatorKind{true, true};
    case 0xE0B6:
        return PowerlineSeparatorKind{false, true};
    default:
        return std::nullopt;
    }
}

std::optional<MetalRect> powerlineJoinRect(const MetalRect& rect, std::uint32_t codePoint)
{
    const auto kind = powerlineSeparatorKind(codePoint);
    if (!kind)
        return std::nullopt;
    const float x = kind->pointsRight ? rect.minX - 1.0f : rect.maxX;
    return MetalRect{x, rect.minY, x + 1.0f, rect.maxY};
}

std::optional<ImageDraw> imageQuadVertices(std::shared_ptr<MetalTexture> texture, const PointRect& rect,
                                           const MetalTexRect& textureRect, double scale, const MetalRowStretch& row)
{
    const auto placed = placeTextRect(row, scale * rect.minX(), scale * rect.minY(), scale * rect.maxX(),
                                      scale * rect.maxY(), textureRect);
    if (!placed || !placed->first.hasArea())
        return std::nullopt;
    ImageDraw draw;
    draw.texture = std::move(texture);
    appendRectangleVertices(draw.vertices, placed->first, placed->second, MetalFloat4{1, 1, 1, 1});
    return draw;
}

LineImageLayer lineImageLayer(const TerminalImage& image)
{
    const KittyPlacementImage* kitty = image.kittyPlacementImage();
    if (kitty == nullptr || !kitty->kittyIsKitty)
        return LineImageLayer::other;
    return kitty->kittyZIndex < 0 ? LineImageLayer::under : LineImageLayer::over;
}

PointRect lineImageRect(const TerminalImage& image, double cellWidth, double rowTop, double backing)
{
    const double width = image.pixelWidth();
    const double height = image.pixelHeight();
    double x = cellWidth * image.col();
    double top = rowTop;
    if (lineImageLayer(image) != LineImageLayer::other && backing > 0) {
        const KittyPlacementImage& kitty = *image.kittyPlacementImage();
        x += kitty.kittyPixelOffsetX / backing;
        top -= kitty.kittyPixelOffsetY / backing;
    }
    return PointRect{x, top - height, width, height};
}

std::optional<PlaceholderPiece> placeholderPiece(const KittyPlaceholderCell& cell,
                                                 const KittyPlacementRecord& placement, double textureWidth,
                                                 double textureHeight, double scale, double backing,
                                                 const MetalCellFrame& frame)
{
    if (!(scale > 0) || !(backing > 0))
        return std::nullopt;
    // The cell shows image cell (placeholderRow, placeholderCol): the placement's top row
    // lies placeholderRow rows above this one.
    const double width = frame.cellWidth * placement.cols;
    const double height = frame.cellHeight * placement.rows;
    if (!(width > 0) || !(height > 0))
        return std::nullopt;
    const PointRect whole{placement.pixelOffsetX / backing + frame.cellWidth * (cell.col - cell.placeholderCol),
                          -placement.pixelOffsetY / backing + frame.rowBottom + frame.cellHeight * cell.placeholderRow
                              - frame.cellHeight * (placement.rows - 1),
                          width, height};
    const PointRect fit = aspectFitRect(textureWidth / scale, textureHeight / scale, whole);
    if (fit.isEmpty())
        return std::nullopt;
    const PointRect cellRect{frame.cellWidth * cell.col, frame.rowBottom, frame.cellWidth, frame.cellHeight};
    const double minX = std::max(fit.minX(), cellRect.minX());
    const double maxX = std::min(fit.maxX(), cellRect.maxX());
    const double minY = std::max(fit.minY(), cellRect.minY());
    const double maxY = std::min(fit.maxY(), cellRect.maxY());
    if (!(maxX > minX) || !(maxY > minY))
        return std::nullopt;
    PlaceholderPiece piece;
    piece.rect = PointRect{minX, minY, maxX - minX, maxY - minY};
    piece.texture = MetalTexRect{static_cast<float>((minX - fit.minX()) / fit.width),
                                 static_cast<float>((minY - fit.minY()) / fit.height),
                                 static_cast<float>((maxX - minX) / fit.width),
                                 static_cast<float>((maxY - minY) / fit.height)};
    return piece;
}

MetalRect cursorRect(int column, int cells, int widthFactor, double cellWidth, double cellHeight, double rowBottom,
                     double scale)
{
    const double x0 = scale * widthFactor * cellWidth * column;
    const double x1 = x0 + scale * cellWidth * widthFactor * cells;
    const double y0 = scale * rowBottom;
    const double y1 = y0 + scale * cellHeight;
    return MetalRect{static_cast<float>(x0), static_cast<float>(y0), static_cast<float>(x1), static_cast<float>(y1)};
}

void cursorShapeVertices(std::vector<ColorVertex>& vertices, CursorShape shape, const MetalRect& rect, double scale,
                         const MetalFloat4& color)
{
    switch (shape) {
    case CursorShape::outline: {
        const auto t = static_cast<float>(std::max(1.0, 1.5 * scale));
        appendRectangleVertices(vertices, {rect.minX, rect.minY, rect.maxX, rect.minY + t}, color);
        appendRectangleVertices(vertices, {rect.minX, rect.maxY - t, rect.maxX, rect.maxY}, color);
        appendRectangleVertices(vertices, {rect.minX, rect.minY, rect.minX + t, rect.maxY}, color);
        appendRectangleVertices(vertices, {rect.maxX - t, rect.minY, rect.maxX, rect.maxY}, color);
        return;
    }
    case CursorShape::bar: {
        const auto t = static_cast<float>(std::max(1.0, 2.0 * scale));
        appendRectangleVertices(vertices, {rect.minX, rect.minY, rect.minX + t, rect.maxY}, color);
        return;
    }
    case CursorShape::underline: {
        const auto t = static_cast<float>(std::max(1.0, 2.0 * scale));
        appendRectangleVertices(vertices, {rect.minX, rect.minY, rect.maxX, rect.minY + t}, color);
        return;
    }
    case CursorShape::block:
        appendRectangleVertices(vertices, rect, color);
        return;
    }
}

} // namespace corvantix
