#include "drawing/qt/CellArtPainter.h"

#include <cmath>

#include <QPainter>
#include <QPainterPath>

namespace corvantix {

namespace {

QRectF toQRectF(const PointRect& rect) { return QRectF(rect.x, rect.y, rect.width, rect.height); }

void setAntiAliasing(QPainter& painter, bool on) { painter.setRenderHint(QPainter::Antialiasing, on); }

QPainterPath toPainterPath(const FixedList<PathElement, 4>& elements)
{
    QPainterPath path;
    path.setFillRule(Qt::WindingFill);
    for (const PathElement& e : elements) {
        switch (e.kind) {
        case PathElement::Kind::moveTo:
            path.moveTo(e.point.x, e.point.y);
            break;
        case PathElement::Kind::lineTo:
            path.lineTo(e.point.x, e.point.y);
            break;
        case PathElement::Kind::curveTo:
            path.cubicTo(e.control1.x, e.control1.y, e.control2.x, e.control2.y, e.point.x, e.point.y);
            break;
        case PathElement::Kind::close:
            path.closeSubpath();
            break;
        }
    }
    return path;
}

} // namespace

void fillBlockElement(std::span<const BlockElementRenderItem> items, QPainter& painter, const CellGrid& grid,
                      double scale, bool antiAlias)
{
    if (items.empty())
        return;
    painter.save();
    setAntiAliasing(painter, antiAlias);
    for (const BlockElementRenderItem& item : items) {
        for (const BlockFill& fill : blockElementFills(item, grid, scale, antiAlias))
            painter.fillRect(toQRectF(fill.rect), toQColor(fill.color));
    }
    painter.restore();
}

void drawUnderlineAndBoxArt(std::span<const BoxDrawingRenderItem> items, QPainter& painter, const CellGrid& grid,
                            double scale, double underlineThickness)
{
    if (items.empty() || !(scale > 0.0))
        return;
    painter.save();
    setAntiAliasing(painter, false);
    const int thickness = boxDrawingThickness(scale, underlineThickness);
    for (const BoxDrawingRenderItem& item : items) {
        const BoxDrawingCell cell = boxDrawingCell(item, grid, scale);
        drawBoxDrawingGlyph(item.codePoint, painter, toQColor(item.foregroundColor), thickness, cell.rect, scale);
    }
    painter.restore();
}

void drawBoxDrawingGlyph(uint32_t codePoint, QPainter& painter, const QColor& color, int thickness,
                         const PointRect& cell, double scale)
{
    if (!(scale > 0.0))
        return;
    const int pixelWidth = boxDrawingPixels(cell.width, scale);
    const int pixelHeight = boxDrawingPixels(cell.height, scale);
    const int unit = std::max(static_cast<int>(std::round(scale)), 1);
    const BoxDrawingShape shape = boxDrawingShape(codePoint, thickness, pixelWidth, pixelHeight, unit);
    if (shape.isEmpty())
        return;

    // Pixel fills land on whole device pixels: no anti-aliasing.
    const bool antiAliased = painter.testRenderHint(QPainter::Antialiasing);
    setAntiAliasing(painter, false);
    for (const PixelRect& rect : shape.rects)
        painter.fillRect(toQRectF(pixelRectToPoints(rect, cell, scale)), color);

    if (shape.ring || !shape.strokes.empty()) {
        // Bends and diagonals are drawn in cell pixels, anti-aliased.
        painter.save();
        painter.translate(cell.x, cell.y);
        painter.scale(1.0 / scale, 1.0 / scale);
        setAntiAliasing(painter, true);
        if (shape.ring) {
            const auto& ring = *shape.ring;
            painter.setClipRect(QRectF(ring.clipX0, ring.clipY0, ring.clipX1 - ring.clipX0, ring.clipY1 - ring.clipY0),
                                Qt::IntersectClip);
            QPainterPath path;
            path.setFillRule(Qt::OddEvenFill);
            const QPointF centre(ring.centerX, ring.centerY);
            path.addEllipse(centre, ring.outerRadius, ring.outerRadius);
            if (ring.innerRadius > 0.0)
                path.addEllipse(centre, ring.innerRadius, ring.innerRadius);
            painter.fillPath(path, color);
        }
        for (const BoxDrawingShape::Stroke& stroke : shape.strokes) {
            QPen pen(color);
            pen.setWidthF(stroke.width);
            pen.setCapStyle(Qt::FlatCap);
            painter.setPen(pen);
            painter.drawLine(QPointF(stroke.x0, stroke.y0), QPointF(stroke.x1, stroke.y1));
        }
        painter.restore();
    }
    setAntiAliasing(painter, antiAliased);
}

void fillPowerlineShape(QPainter& painter, const PowerlineShape& shape, const QColor& color)
{
    setAntiAliasing(painter, false);
    painter.fillRect(toQRectF(shape.seam), color);
    setAntiAliasing(painter, true);
    painter.fillPath(toPainterPath(shape.path), color);
}

void drawPowerlineGlyph(std::span<const PowerlineRenderItem> items, BufferLine::RenderLineMode mode,
                        QPainter& painter, const CellGrid& grid, double scale)
{
    const PowerlineScales scales = powerlineScales(mode, scale);
    if (!(scales.sx > 0.0) || !(scales.sy > 0.0))
        return;
    for (const PowerlineRenderItem& item : items) {
        const auto shape = powerlineShape(item.codePoint, powerlineCellRect(item, grid), scales.sx, scales.sy);
        if (!shape)
            continue;
        painter.save();
        fillPowerlineShape(painter, *shape, toQColor(item.foregroundColor));
        painter.restore();
    }
}

} // namespace corvantix
