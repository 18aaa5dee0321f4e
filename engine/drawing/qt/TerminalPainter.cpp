#include "drawing/qt/TerminalPainter.h"

#include <algorithm>
#include <cmath>
#include <numbers>

#include <QGlyphRun>
#include <QPainter>
#include <QPainterPath>
#include <QPen>

#include "drawing/qt/CellArtPainter.h"

namespace corvantix {

namespace {

QColor effectiveColor(const QColor& normal, const QColor& reversed, bool reverseColors)
{
    return reverseColors ? reversed : normal;
}

void drawLine(QPainter& painter, double x0, double y, double x1)
{
    painter.drawLine(QPointF(x0, y), QPointF(x1, y));
}

// One glyph drawn alone at a scaled size (a wide glyph that did not fit its slot).
// Glyphs of a colour bitmap font are drawn with one pen whatever the text's colour: they
// ignore it, and the paint engine keeps their rasterised glyphs per pen colour, only a few
// such caches at a time; emoji among text of many colours decoded their bitmaps again at
// every run.
void drawGlyphRunWithPen(QPainter& painter, const QGlyphRun& run, bool colorBitmaps)
{
    if (!colorBitmaps) {
        painter.drawGlyphRun(QPointF(0, 0), run);
        return;
    }
    const QPen pen = painter.pen();
    painter.setPen(Qt::black);
    painter.drawGlyphRun(QPointF(0, 0), run);
    painter.setPen(pen);
}

void drawScaledGlyph(QPainter& painter, const QRawFont& scaled, quint32 glyph, QPointF origin, bool colorBitmaps)
{
    QGlyphRun run;
    run.setRawFont(scaled);
    run.setGlyphIndexes({glyph});
    run.setPositions({origin});
    drawGlyphRunWithPen(painter, run, colorBitmaps);
}

} // namespace

// What every row of one frame shares.
struct TerminalPainter::FrameState {
    FrameState(const TerminalFrame& frame, const Terminal& terminal) : frame(frame), terminal(terminal) {}

    const TerminalFrame& frame;
    const Terminal& terminal;
    int yDisp = 0;
    double cellWidth = 0;
    double cellHeight = 0;
    double descentAndLeading = 0;
    double baselineOffset = 0;
    double underlineThickness = 0;
    QColor effectiveForeground;
    QColor effectiveBackground;
    DecorationMetrics metrics;
    // Virtual Kitty placements of the active screen, by image id, in the store's order.
    std::unordered_map<uint32_t, std::vector<KittyPlacementRecord>> placements;
    // Kitty images decoded in this frame.
    std::unordered_map<uint32_t, std::optional<QImage>> images;
};

std::pair<int, int> TerminalPainter::rowsInRect(const QRectF& dirty, double cellHeight, int yDisp)
{
    const auto toRow = [&](double y) {
        const double rows = std::trunc(y / cellHeight);
        if (!std::isfinite(rows))
            return yDisp;
        return yDisp + static_cast<int>(std::clamp(rows, -1e9, 1e9));
    };
    return {toRow(dirty.top()), toRow(dirty.bottom())};
}

void TerminalPainter::drawVisibleRows(QPainter& painter, const TerminalFrame& frame, int yDisp, const QRectF& dirty)
{
    if (frame.terminal == nullptr || frame.rowBuilder == nullptr || !frame.cell || !(frame.cell->width > 0)
        || !(frame.cell->height > 0))
        return;
    const Terminal& terminal = *frame.terminal;

    CellGlyphCache::Fonts fonts = frame.fonts;
    if (!frame.fontSmoothing) {
        for (QFont& font : fonts)
            font.setStyleStrategy(QFont::StyleStrategy(font.styleStrategy() | QFont::NoSubpixelAntialias));
    }
    glyphs_.setFonts(fonts);

    FrameState state(frame, terminal);
    state.yDisp = yDisp;
    state.cellWidth = frame.cell->width;
    state.cellHeight = frame.cell->height;
    const QFontMetricsF normal(fonts[0]);
    state.descentAndLeading = normal.descent() + normal.leading();
    state.baselineOffset = std::ceil(state.descentAndLeading);
    state.underlineThickness = normal.lineWidth();
    state.effectiveForeground = effectiveColor(frame.nativeFg, frame.nativeBg, terminal.reverseColors());
    state.effectiveBackground = effectiveColor(frame.nativeBg, frame.nativeFg, terminal.reverseColors());
    state.metrics.underlinePosition = normal.underlinePos();
    state.metrics.underlineThickness = normal.lineWidth();
    for (size_t slot = 0; slot < fonts.size(); ++slot) {
        const QFontMetricsF metrics(fonts[slot]);
        state.metrics.xHeight[slot] = metrics.xHeight();
        state.metrics.strikeThickness[slot] = metrics.lineWidth();
    }
    state.metrics.cellWidth = state.cellWidth;
    state.metrics.backingScale = frame.backingScale;
    state.metrics.effectiveForeground = state.effectiveForeground;

    if (frame.kittyImageForId) {
        const bool alternate = terminal.isCurrentBufferAlternate();
        for (const auto& [key, record] : terminal.kittyGraphicsState().placementsByKey) {
            if (record.isVirtual && record.isAlternateBuffer == alternate)
                state.placements[record.imageId].push_back(record);
        }
    }

    painter.save();
    painter.setCompositionMode(QPainter::CompositionMode_Source);
    painter.fillRect(dirty, frame.clearColor);
    painter.setCompositionMode(QPainter::CompositionMode_SourceOver);

    const auto [firstRow, lastRow] = rowsInRect(dirty, state.cellHeight, yDisp);
    const int lineCount = terminal.buffer().lines().count();
    // Kitty pixel offsets move an image down into the row below its own: when only that row
    // is redrawn, the part that hangs into it is drawn again first (the painter is clipped to
    // the dirty area).
    if (const int above = firstRow - 1; above >= 0 && above < lineCount && frame.imageContents) {
        if (const BufferLine* line = terminal.getLine(above); line != nullptr && line->images()) {
            const RowImages images = sortRowImages(line->images());
            const double rowTop = state.cellHeight * (above - yDisp);
            drawImages(painter, state, images.underText, rowTop, true);
            drawImages(painter, state, images.overText, rowTop, true);
        }
    }
    for (int row = std::max(firstRow, 0); row <= lastRow && row < lineCount; ++row) {
        if (const BufferLine* line = terminal.getLine(row))
            drawRow(painter, state, row, *line);
    }

    // The strip below the last whole row.
    const double strip = std::fmod(frame.bounds.height(), state.cellHeight);
    if (strip > 0) {
        const QRectF stripRect(0, frame.bounds.height() - strip, frame.bounds.width(), strip);
        if (dirty.intersects(stripRect))
            painter.fillRect(stripRect, state.effectiveBackground);
    }
    painter.restore();
}

void TerminalPainter::drawRow(QPainter& painter, FrameState& state, int row, const BufferLine& line)
{
    const TerminalFrame& frame = state.frame;
    const double rowTop = state.cellHeight * (row - state.yDisp);
    const double rowBottom = rowTop + state.cellHeight;
    const double baseline = rowBottom - state.baselineOffset;

    const BufferLine::RenderLineMode mode = line.renderMode();
    const bool transformed = mode != BufferLine::RenderLineMode::single;
    if (transformed) {
        painter.save();
        if (mode == BufferLine::RenderLineMode::doubleWidth) {
            painter.scale(2.0, 1.0);
        } else {
            // Double height: clipped to the row, scaled about its top edge (upper half of the
            // text) or its bottom edge (lower half).
            painter.setClipRect(QRectF(0, rowTop, frame.bounds.width(), state.cellHeight), Qt::IntersectClip);
            const double pivot = mode == BufferLine::RenderLineMode::doubledTop ? rowTop : rowBottom;
            painter.translate(0, pivot);
            painter.scale(2.0, 2.0);
            painter.translate(0, -pivot);
        }
    }

    const RowBuilder::RowLayout layout = frame.rowLayout ? frame.rowLayout(row, line) : RowBuilder::RowLayout{};
    const AttributedRow built =
        frame.rowBuilder->buildAttributedLine(state.terminal, row, line, state.terminal.cols(), frame.selection, layout);

    const RowImages images = frame.imageContents ? sortRowImages(built.images) : RowImages{};

    drawBackgrounds(painter, state, built, rowTop);
    drawImages(painter, state, images.underText, rowTop, true);

    const CellGrid grid{0.0, rowTop, state.cellWidth, state.cellHeight};
    drawUnderlineAndBoxArt(built.boxDrawingItems, painter, grid, frame.backingScale, state.underlineThickness);
    fillBlockElement(built.blockElementItems, painter, grid, frame.backingScale, frame.antiAliasCustomBlockGlyphs);
    if (!built.powerlineItems.empty())
        drawPowerlineGlyph(built.powerlineItems, mode, painter, grid, frame.backingScale);

    painter.setRenderHint(QPainter::Antialiasing, true);
    painter.setRenderHint(QPainter::TextAntialiasing, true);
    drawGlyphs(painter, state, built, baseline);
    drawPlaceholders(painter, state, built, rowTop);
    drawImages(painter, state, images.overText, rowTop, true);
    drawImages(painter, state, images.other, rowTop, false);

    if (transformed)
        painter.restore();
}

void TerminalPainter::drawBackgrounds(QPainter& painter, FrameState& state, const AttributedRow& built, double rowTop)
{
    painter.save();
    painter.setRenderHint(QPainter::Antialiasing, false);
    forEachRunBackground(built, state.effectiveBackground.toRgb(), [&](int first, int end, const QColor& color) {
        painter.fillRect(QRectF(state.cellWidth * first, rowTop, state.cellWidth * (end - first), state.cellHeight),
                         color);
    });
    painter.restore();
}

void TerminalPainter::forEachRunBackground(const AttributedRow& built, const QColor& defaultBackground,
                                           const std::function<void(int first, int end, const QColor& color)>& visit)
{
    for (const ViewLineSegment& segment : built.segments) {
        for (const ViewLineSegment::Run& run : segment.runs) {
            const std::optional<RgbaColor> painted = run.style.paintedBackground();
            if (!painted)
                continue;
            const QColor color = toQColor(*painted);
            if (color == defaultBackground)
                continue;
            if (const auto columns = segment.runColumns(run))
                visit(columns->first, columns->second, color);
        }
    }
}

// Consecutive glyphs of one font drawn as one glyph run.
class PainterGlyphBatch {
public:
    PainterGlyphBatch(QPainter& painter, GlyphMetricsCache& fonts) : painter_(painter), fonts_(fonts) {}
    ~PainterGlyphBatch() { flush(); }
    PainterGlyphBatch(const PainterGlyphBatch&) = delete;
    PainterGlyphBatch& operator=(const PainterGlyphBatch&) = delete;

    void add(const QRawFont& font, quint32 glyph, QPointF position)
    {
        if (!glyphs_.isEmpty() && !(font == font_))
            flush();
        if (glyphs_.isEmpty())
            font_ = font;
        glyphs_.append(glyph);
        positions_.append(position);
    }

    void flush()
    {
        if (glyphs_.isEmpty())
            return;
        QGlyphRun run;
        run.setRawFont(font_);
        run.setGlyphIndexes(glyphs_);
        run.setPositions(positions_);
        drawGlyphRunWithPen(painter_, run, fonts_.isColorBitmapFont(font_));
        glyphs_.clear();
        positions_.clear();
    }

private:
    QPainter& painter_;
    GlyphMetricsCache& fonts_;
    QRawFont font_;
    QList<quint32> glyphs_;
    QList<QPointF> positions_;
};

void TerminalPainter::drawGlyphs(QPainter& painter, FrameState& state, const AttributedRow& built, double baseline)
{
    std::vector<QPointF> origins;
    PainterGlyphBatch batch(painter, glyphMetrics(state.frame));
    for (const ViewLineSegment& segment : built.segments) {
        for (const ViewLineSegment::Run& run : segment.runs) {
            if (run.length <= 0)
                continue;
            const RunStyle& style = run.style;
            painter.setPen(style.foregroundColor ? toQColor(*style.foregroundColor) : state.effectiveForeground);
            origins.clear();
            drawRunGlyphs(painter, state, segment, run, baseline, batch, origins);
            batch.flush();
            if (style.hasDecorations())
                drawDecorations(painter, style, origins, state.metrics);
        }
    }
}

void TerminalPainter::drawRunGlyphs(QPainter& painter, FrameState& state, const ViewLineSegment& segment,
                                    const ViewLineSegment::Run& run, double baseline, PainterGlyphBatch& batch,
                                    std::vector<QPointF>& origins)
{
    const RunStyle& style = run.style;
    const std::u16string_view text(segment.text);
    const int start = std::clamp(run.start, 0, static_cast<int>(text.size()));
    const int end = start + std::clamp(run.length, 0, static_cast<int>(text.size()) - start);
    const auto ordinalOf = [&](int index) { return segment.cellOrdinal(index); };
    const auto cellOrigin = [&](int ordinal) {
        return QPointF(state.cellWidth * (segment.column + ordinal * segment.columnWidth), baseline);
    };
    // Wide cells are fitted into their slots, each cluster as one.
    const bool wide = segment.columnWidth >= 2;
    GlyphMetricsCache& cache = glyphMetrics(state.frame);
    const auto slotFit = [&](const QRawFont& font, quint32 glyph) {
        const GlyphMetricsCache::Metrics& metrics = cache.metrics(font, glyph);
        return glyphSlotFit(metrics.advance, metrics.bounds, segment.columnWidth, state.frame.cell,
                            state.descentAndLeading);
    };
    const auto fitAlone = [&](const QRawFont& font, quint32 glyph) {
        const GlyphSlotFit fit = slotFit(font, glyph);
        return std::optional<FittedGlyph>(FittedGlyph{QPointF(fit.dx, fit.dy), fit.scale});
    };
    forEachShapingStretch(text, start, end, glyphs_.drawnAlone(style.font), ordinalOf, [&](int from, int to, bool alone) {
        if (alone) {
            for (int i = from; i < to; ++i) {
                quint32 glyph = 0;
                const QPointF origin = cellOrigin(ordinalOf(i));
                if (text[static_cast<size_t>(i)] == u' ' || !glyphs_.asciiGlyph(style.font, text[static_cast<size_t>(i)], glyph))
                    origins.push_back(origin); // nothing to draw, but decorations
                else
                    placeGlyph(painter, state, origin, glyphs_.rawFont(style.font), glyph, QPointF(0, 0),
                               wide ? fitAlone(glyphs_.rawFont(style.font), glyph) : std::optional<FittedGlyph>(),
                               batch, origins);
            }
            return;
        }
        packCellRun(text, from, to, ordinalOf, packed_);
        const ShaperRun* shaped = glyphs_.shapeRun(style.font, packed_);
        if (shaped != nullptr && wide)
            fitGlyphsToSlots(*shaped, slotFit, fitted_);
        // Cells without a glyph of their own (taken into a conjunct drawn from an earlier
        // cell, or not shaped at all) still carry their decorations on the grid.
        int lastOrdinal = ordinalOf(from) - 1;
        const auto decorateUpTo = [&](int ordinal) {
            while (lastOrdinal + 1 < ordinal)
                origins.push_back(cellOrigin(++lastOrdinal));
        };
        if (shaped != nullptr) {
            std::size_t flat = 0; // the glyph's place among all of the stretch's
            for (const ShaperGlyphRun& glyphRun : shaped->glyphRuns) {
                const std::size_t count =
                    std::min({glyphRun.glyphs.size(), glyphRun.positions.size(), glyphRun.stringIndices.size()});
                const std::size_t first = flat;
                flat += glyphRun.glyphs.size();
                for (std::size_t k = 0; k < count; ++k) {
                    const int index = std::clamp(from + glyphRun.stringIndices[k], from, to - 1);
                    const int ordinal = ordinalOf(index);
                    decorateUpTo(ordinal);
                    lastOrdinal = std::max(lastOrdinal, ordinal);
                    // The shaper counts y upward, the painter downward.
                    const QPointF offset(glyphRun.positions[k].x(), -glyphRun.positions[k].y());
                    if (text[static_cast<size_t>(index)] == u' ')
                        origins.push_back(cellOrigin(ordinal) + offset);
                    else
                        placeGlyph(painter, state, cellOrigin(ordinal), glyphRun.font, glyphRun.glyphs[k], offset,
                                   wide && first + k < fitted_.size() ? std::optional<FittedGlyph>(fitted_[first + k])
                                                                       : std::optional<FittedGlyph>(),
                                   batch, origins);
                }
            }
        }
        decorateUpTo(ordinalOf(to - 1) + 1);
    });
}

void TerminalPainter::placeGlyph(QPainter& painter, FrameState& state, QPointF cellOrigin, const QRawFont& font,
                                 quint32 glyph, QPointF offset, const std::optional<FittedGlyph>& fitted,
                                 PainterGlyphBatch& batch, std::vector<QPointF>& origins)
{
    // Every glyph of a cell starts from the cell's grid position; later glyphs of the cell
    // keep their shaped offset from its first glyph.
    QPointF origin = cellOrigin + offset;
    origins.push_back(origin);
    if (fitted) {
        // The shaper counts y upward, the painter downward.
        origin = cellOrigin + QPointF(fitted->offset.x(), -fitted->offset.y());
        if (fitted->scale != 1.0) {
            batch.flush();
            GlyphMetricsCache& cache = glyphMetrics(state.frame);
            // Asked first: the resized font is a reference into the cache.
            const bool colorBitmaps = cache.isColorBitmapFont(font);
            drawScaledGlyph(painter, cache.scaled(font, fitted->scale), glyph, origin, colorBitmaps);
            return;
        }
    }
    batch.add(font, glyph, origin);
}

void TerminalPainter::drawPlaceholders(QPainter& painter, FrameState& state, const AttributedRow& built,
                                       double rowTop)
{
    const TerminalFrame& frame = state.frame;
    if (state.placements.empty() || built.placeholderCells.empty() || !frame.kittyImageForId)
        return;
    const double imageScale = frame.imageScale > 0 ? frame.imageScale : 1.0;
    for (const KittyPlaceholderCell& cell : built.placeholderCells) {
        const auto group = state.placements.find(cell.imageId);
        if (group == state.placements.end())
            continue;
        const auto placement = findPlaceholderPlacement(group->second, cell);
        if (!placement)
            continue;
        auto cached = state.images.find(cell.imageId);
        if (cached == state.images.end())
            cached = state.images.emplace(cell.imageId, frame.kittyImageForId(cell.imageId)).first;
        if (!cached->second || cached->second->isNull())
            continue;
        const QImage& image = *cached->second;
        // The whole image placed so that this cell shows its (placeholderRow,
        // placeholderCol) cell; pixel offsets move it right and down.
        const PointRect whole{placement->pixelOffsetX / imageScale + state.cellWidth * (cell.col - cell.placeholderCol),
                              placement->pixelOffsetY / imageScale + rowTop - state.cellHeight * cell.placeholderRow,
                              state.cellWidth * placement->cols, state.cellHeight * placement->rows};
        if (whole.isEmpty())
            continue;
        const PointRect fitted = aspectFitRect(image.width(), image.height(), whole);
        painter.save();
        painter.setClipRect(QRectF(state.cellWidth * cell.col, rowTop, state.cellWidth, state.cellHeight),
                            Qt::IntersectClip);
        painter.drawImage(QRectF(fitted.x, fitted.y, fitted.width, fitted.height), image);
        painter.restore();
    }
}

TerminalPainter::RowImages TerminalPainter::sortRowImages(const std::optional<BufferLine::Images>& images)
{
    RowImages sorted;
    if (!images)
        return sorted;
    for (const std::shared_ptr<TerminalImage>& image : *images) {
        if (!image)
            continue;
        const KittyPlacementImage* kitty = image->kittyPlacementImage();
        if (kitty != nullptr && kitty->kittyIsKitty)
            (kitty->kittyZIndex < 0 ? sorted.underText : sorted.overText).push_back(image.get());
        else
            sorted.other.push_back(image.get());
    }
    return sorted;
}

void TerminalPainter::drawImages(QPainter& painter, FrameState& state, std::span<const TerminalImage* const> images,
                                 double rowTop, bool withOffsets)
{
    const TerminalFrame& frame = state.frame;
    const double imageScale = frame.imageScale > 0 ? frame.imageScale : 1.0;
    for (const TerminalImage* image : images) {
        const QImage* picture = frame.imageContents(*image);
        if (picture == nullptr || picture->isNull())
            continue;
        double x = image->col() * state.cellWidth;
        double y = rowTop;
        if (const KittyPlacementImage* kitty = image->kittyPlacementImage(); withOffsets && kitty != nullptr) {
            // Offsets inside the first cell move the image right and down.
            x += kitty->kittyPixelOffsetX / imageScale;
            y += kitty->kittyPixelOffsetY / imageScale;
        }
        painter.drawImage(QRectF(x, y, image->pixelWidth(), image->pixelHeight()), *picture);
    }
}

void TerminalPainter::drawDecorations(QPainter& painter, const RunStyle& style, std::span<const QPointF> origins,
                                      const DecorationMetrics& metrics)
{
    painter.save();
    painter.setRenderHint(QPainter::Antialiasing, false);
    const double scale = metrics.backingScale > 0 ? metrics.backingScale : 1.0;
    const double length = std::ceil(metrics.cellWidth);
    auto widthFor = [scale](double thickness) { return std::max(0.5, std::round(scale * thickness) / scale); };

    if (style.underlineStyleAttribute) {
        const QColor color = style.underlineColor ? toQColor(*style.underlineColor) : metrics.effectiveForeground;
        const double w = widthFor(metrics.underlineThickness);
        const double dot = std::max(1.0, w);
        const double dash = std::max(2.0, 2.0 * w);
        const double period = std::max(4.0, 4.0 * w);
        QPen pen(color);
        pen.setWidthF(w);
        pen.setCapStyle(Qt::FlatCap);
        const UnderlineStyle kind = underlineStyle(style);
        if (kind == UnderlineStyle::dotted) {
            pen.setCapStyle(Qt::RoundCap);
            pen.setDashPattern({dot / w, 2.0 * dot / w});
        } else if (kind == UnderlineStyle::dashed) {
            pen.setDashPattern({dash / w, dash / w});
        }
        painter.setPen(pen);
        painter.setBrush(Qt::NoBrush);
        for (const QPointF& origin : origins) {
            const double x = origin.x();
            const double y = origin.y() + metrics.underlinePosition;
            switch (kind) {
            case UnderlineStyle::none:
                break;
            case UnderlineStyle::single:
            case UnderlineStyle::dotted:
            case UnderlineStyle::dashed:
                drawLine(painter, x, y, x + length);
                break;
            case UnderlineStyle::double_:
                drawLine(painter, x, y, x + length);
                drawLine(painter, x, y + (w + 1.0), x + length);
                break;
            case UnderlineStyle::curly: {
                QPainterPath wave(QPointF(x, y));
                for (double u = x; u <= x + length; u += dot)
                    wave.lineTo(u, y - dot * std::sin(2.0 * std::numbers::pi * (u - x) / period));
                painter.drawPath(wave);
                break;
            }
            }
        }
    }

    if (style.strikethroughStyle) {
        const int value = *style.strikethroughStyle;
        const size_t slot = static_cast<size_t>(style.font);
        const QColor color = style.strikethroughColor ? toQColor(*style.strikethroughColor) : metrics.effectiveForeground;
        const double w = widthFor(metrics.strikeThickness[slot]);
        const double offset = (metrics.xHeight[slot] + w) * 0.5;
        QPen pen(color);
        pen.setWidthF(w);
        pen.setCapStyle(Qt::FlatCap);
        if (value & 0x200)
            pen.setDashPattern({2.0 / w, 2.0 / w});
        painter.setPen(pen);
        const bool twoLines = (value & 0x1) && (value & 0x8);
        for (const QPointF& origin : origins) {
            const double y = origin.y() - offset;
            drawLine(painter, origin.x(), y, origin.x() + length);
            if (twoLines)
                drawLine(painter, origin.x(), y + (w + 1.0), origin.x() + length);
        }
    }
    painter.restore();
}

} // namespace corvantix
