// Paints cell art (block elements, box drawing, powerline separators) with QPainter from the
// platform-free geometry of CellArt.h and BoxDrawing.h. Coordinates are the painter's
// (y downward); `grid` gives the row's top edge and the x of column 0.
#pragma once

#include <cstdint>
#include <span>

#include <QColor>

#include "drawing/BoxDrawing.h"
#include "drawing/CellArt.h"
#include "model/BufferLine.h"

class QPainter;

namespace corvantix {

inline QColor toQColor(const RgbaColor& color)
{
    return QColor::fromRgbF(static_cast<float>(color.red), static_cast<float>(color.green),
                            static_cast<float>(color.blue), static_cast<float>(color.clampedAlpha()));
}

inline RgbaColor toRgbaColor(const QColor& color)
{
    const QColor rgb = color.toRgb();
    return {rgb.redF(), rgb.greenF(), rgb.blueF(), rgb.alphaF()};
}

// Fills a row's block elements; anti-aliasing as the view's antiAliasCustomBlockGlyphs says.
void fillBlockElement(std::span<const BlockElementRenderItem> items, QPainter& painter, const CellGrid& grid,
                      double scale, bool antiAlias);

// Draws a row's box-drawing items with whole device pixels per cell; the light stroke
// follows the normal font's underline thickness (points).
void drawUnderlineAndBoxArt(std::span<const BoxDrawingRenderItem> items, QPainter& painter, const CellGrid& grid,
                            double scale, double underlineThickness);

// Draws one box-drawing character into a cell rectangle (points); `thickness` is the light
// stroke t0 in device pixels. Other code points draw nothing.
void drawBoxDrawingGlyph(uint32_t codePoint, QPainter& painter, const QColor& color, int thickness,
                         const PointRect& cell, double scale);

// Draws a row's powerline separators, snapped for the row's line mode.
void drawPowerlineGlyph(std::span<const PowerlineRenderItem> items, BufferLine::RenderLineMode mode,
                        QPainter& painter, const CellGrid& grid, double scale);

// Fills one separator shape: the seam strip without anti-aliasing, the outline with it.
void fillPowerlineShape(QPainter& painter, const PowerlineShape& shape, const QColor& color);

} // namespace corvantix
