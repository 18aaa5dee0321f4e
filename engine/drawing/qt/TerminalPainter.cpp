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

// How many device pixels a point of the painter's current transform spans vertically, when
// that transform only scales and moves (1 otherwise). A font drawn through a scaling
// transform is rasterised at its own size and magnified: the outline hinted, and for
// PostScript outlines darkened, for the small size, which at a ratio of 2 or more made
// regular CJK strokes as heavy as bold ones. Glyphs are therefore drawn from the font at the
// device's size, through a transform that no longer scales them.
double deviceScaleOf(const QPainter& painter)
{
    const QTransform device = painter.deviceTransform();
    if (device.type() > QTransform::TxScale || !(device.m22() > 0) || !std::isfinite(device.m22()))
        return 1.0;
    return device.m22();
}

std::uint64_t mixDigest(std::uint64_t digest, std::uint64_t value)
{
    // Order matters (a glyph moved changes it); collisions only cost a missed redraw.
    digest ^= value + 0x9e3779b97f4a7c15ull + (digest << 6) + (digest >> 2);
    return digest;
}

} // namespace

// Consecutive glyphs of one font drawn as one glyph run, at the device's pixel size; notes
// how far the glyphs reach out of their row.
class PainterGlyphBatch {
public:
    struct Ink {
        TerminalPainter::RowInk* row = nullptr; // none: not measured
        double top = 0;                         // the row's edges
        double bottom = 0;
    };

    PainterGlyphBatch(QPainter& painter, GlyphMetricsCache& fonts, Ink ink)
        : painter_(painter), fonts_(fonts), ink_(ink), deviceScale_(deviceScaleOf(painter))
    {
    }
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
        if (ink_.row != nullptr)
            note(font, glyph, position, 1.0);
    }

    // One glyph of `font` drawn at `scale` times its size (a wide glyph fitted to its slot).
    void addScaled(const QRawFont& font, double scale, quint32 glyph, QPointF position)
    {
        flush();
        const bool colorBitmaps = fonts_.isColorBitmapFont(font);
        if (ink_.row != nullptr)
            note(font, glyph, position, scale);
        draw(font, {glyph}, {position}, colorBitmaps, scale);
    }

    void flush()
    {
        if (glyphs_.isEmpty())
            return;
        draw(font_, glyphs_, positions_, fonts_.isColorBitmapFont(font_), 1.0);
        glyphs_.clear();
        positions_.clear();
    }

private:
    // The glyphs of `font` at `sizeScale` times its size.
    void draw(const QRawFont& font, const QList<quint32>& glyphs, QList<QPointF> positions, bool colorBitmaps,
              double sizeScale)
    {
        const double total = sizeScale * deviceScale_;
        QGlyphRun run;
        run.setGlyphIndexes(glyphs);
        run.setRawFont(total == 1.0 ? font : fonts_.scaled(font, total));
        if (deviceScale_ == 1.0) {
            run.setPositions(positions);
            drawGlyphRunWithPen(painter_, run, colorBitmaps);
            return;
        }
        for (QPointF& position : positions)
            position *= deviceScale_;
        run.setPositions(positions);
        const QTransform world = painter_.worldTransform();
        painter_.setWorldTransform(QTransform::fromScale(1.0 / deviceScale_, 1.0 / deviceScale_) * world);
        drawGlyphRunWithPen(painter_, run, colorBitmaps);
        painter_.setWorldTransform(world);
    }

    void note(const QRawFont& font, quint32 glyph, QPointF position, double scale)
    {
        const GlyphBounds& box = fonts_.metrics(font, glyph).bounds;
        if (!(box.width > 0) || !(box.height > 0))
            return;
        // Bounds count y up from the baseline, the painter down; half a pixel of edge each way.
        const double top = position.y() - scale * (box.minY + box.height) - 0.5;
        const double bottom = position.y() - scale * box.minY + 0.5;
        if (top >= ink_.top && bottom <= ink_.bottom)
            return;
        const auto digest = [&] {
            std::uint64_t value = mixDigest(glyph, static_cast<std::uint64_t>(std::llround(position.x() * 64)));
            value = mixDigest(value, static_cast<std::uint64_t>(std::llround(position.y() * 64)));
            value = mixDigest(value, static_cast<std::uint64_t>(std::llround(font.pixelSize() * scale * 64)));
            value = mixDigest(value, std::hash<QString>()(font.familyName()));
            return mixDigest(value, painter_.pen().color().rgba64());
        };
        TerminalPainter::RowInk& row = *ink_.row;
        if (top < ink_.top) {
            row.above = std::max(row.above, ink_.top - top);
            row.aboveDigest = mixDigest(row.aboveDigest, digest());
        }
        if (bottom > ink_.bottom) {
            row.below = std::max(row.below, bottom - ink_.bottom);
            row.belowDigest = mixDigest(row.belowDigest, digest());
        }
    }

    QPainter& painter_;
    GlyphMetricsCache& fonts_;
    Ink ink_;
    double deviceScale_;
    QRawFont font_;
    QList<quint32> glyphs_;
    QList<QPointF> positions_;
};

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

// One row of the frame: drawn whole (in the band), or only its glyphs (a neighbour whose
// ink reaches into the band).
struct TerminalPainter::RowPass {
    int row = 0;
    const BufferLine* line = nullptr;
    bool inBand = false;
    AttributedRow built;
    RowImages images;
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

QRectF TerminalPainter::drawVisibleRows(QPainter& painter, const TerminalFrame& frame, int yDisp, const QRectF& dirty)
{
    if (frame.terminal == nullptr || frame.rowBuilder == nullptr || !frame.cell || !(frame.cell->width > 0)
        || !(frame.cell->height > 0))
        return {};
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

    const auto [firstRow, lastRow] = rowsInRect(dirty, state.cellHeight, yDisp);
    const int lineCount = terminal.buffer().lines().count();
    const int first = std::max(firstRow, 0);
    const int last = std::min(lastRow, lineCount - 1);

    // The rows' ink as last drawn belongs to the lines shown then.
    const auto screenRows = static_cast<std::size_t>(std::max(0.0, std::ceil(frame.bounds.height() / state.cellHeight)));
    if (rowInkYDisp_ != yDisp || rowInkCellHeight_ != state.cellHeight || rowInk_.size() != screenRows) {
        rowInk_.assign(screenRows, RowInk{});
        rowInkYDisp_ = yDisp;
        rowInkCellHeight_ = state.cellHeight;
    }
    const auto inkOf = [&](int row) -> RowInk* {
        const int screenRow = row - yDisp;
        return screenRow >= 0 && static_cast<std::size_t>(screenRow) < rowInk_.size()
            ? &rowInk_[static_cast<std::size_t>(screenRow)]
            : nullptr;
    };

    // The band of whole rows drawn again: nothing outside it is touched, so what the other
    // rows show stays as it was drawn.
    const double bandTop = state.cellHeight * (first - yDisp);
    const double bandBottom = state.cellHeight * (last + 1 - yDisp);
    const QRectF band(std::min(0.0, dirty.left()), bandTop, std::max(frame.bounds.width(), dirty.right()) - std::min(0.0, dirty.left()),
                      bandBottom - bandTop);

    painter.save();
    painter.setCompositionMode(QPainter::CompositionMode_Source);
    painter.fillRect(dirty, frame.clearColor);
    painter.setCompositionMode(QPainter::CompositionMode_SourceOver);

    QRectF stale;
    if (first <= last) {
        painter.save();
        painter.setClipRect(band, Qt::IntersectClip);
        // Kitty pixel offsets move an image down into the row below its own: when only that
        // row is redrawn, the part that hangs into it is drawn again first.
        if (const int above = first - 1; above >= 0 && above < lineCount && frame.imageContents) {
            if (const BufferLine* line = terminal.getLine(above); line != nullptr && line->images()) {
                const RowImages images = sortRowImages(line->images());
                const double rowTop = state.cellHeight * (above - yDisp);
                drawImages(painter, state, images.underText, rowTop, true);
                drawImages(painter, state, images.overText, rowTop, true);
            }
        }

        std::vector<RowPass> passes;
        const auto passFor = [&](int row, bool inBand) {
            RowPass pass;
            pass.row = row;
            pass.line = terminal.getLine(row);
            pass.inBand = inBand;
            return pass;
        };
        // Rows above whose glyphs hang down into the band, and rows below whose glyphs
        // reach up into it, as their ink was last drawn: their glyphs are drawn again over
        // the band's backgrounds.
        for (int row = first - 1; row >= 0 && row >= yDisp; --row) {
            const RowInk* ink = inkOf(row);
            if (ink == nullptr || !(state.cellHeight * (row + 1 - yDisp) + ink->below > bandTop))
                continue;
            passes.push_back(passFor(row, false));
        }
        std::reverse(passes.begin(), passes.end());
        for (int row = first; row <= last; ++row)
            passes.push_back(passFor(row, true));
        for (int row = last + 1; row < lineCount && inkOf(row) != nullptr; ++row) {
            if (state.cellHeight * (row - yDisp) - inkOf(row)->above < bandBottom)
                passes.push_back(passFor(row, false));
        }
        std::erase_if(passes, [](const RowPass& pass) { return pass.line == nullptr; });
        for (RowPass& pass : passes)
            buildRow(state, pass);

        for (const RowPass& pass : passes)
            if (pass.inBand)
                drawRowUnderText(painter, state, pass);
        for (const RowPass& pass : passes) {
            RowInk* recorded = pass.inBand ? inkOf(pass.row) : nullptr;
            RowInk drawn;
            drawRowText(painter, state, pass, recorded != nullptr ? &drawn : nullptr);
            if (recorded == nullptr)
                continue;
            // Where this row's ink outside it changed, the rows there show the old ink. The
            // band may be drawn only in part (the paint is clipped to what was updated), so
            // the whole area is named, inside the band or not.
            const double rowTop = state.cellHeight * (pass.row - yDisp);
            const double rowBottom = rowTop + state.cellHeight;
            if (drawn.belowDigest != recorded->belowDigest || drawn.below != recorded->below)
                stale |= QRectF(0, rowBottom, frame.bounds.width(), std::max(drawn.below, recorded->below));
            if (drawn.aboveDigest != recorded->aboveDigest || drawn.above != recorded->above) {
                const double reach = std::max(drawn.above, recorded->above);
                stale |= QRectF(0, rowTop - reach, frame.bounds.width(), reach);
            }
            *recorded = drawn;
        }
        for (const RowPass& pass : passes)
            if (pass.inBand)
                drawRowOverText(painter, state, pass);
        painter.restore();
    }

    // The strip below the last whole row.
    const double strip = std::fmod(frame.bounds.height(), state.cellHeight);
    if (strip > 0) {
        const QRectF stripRect(0, frame.bounds.height() - strip, frame.bounds.width(), strip);
        if (dirty.intersects(stripRect))
            painter.fillRect(stripRect, state.effectiveBackground);
    }
    painter.restore();
    return stale.intersected(QRectF(QPointF(0, 0), frame.bounds));
}

void TerminalPainter::buildRow(FrameState& state, RowPass& pass)
{
    const TerminalFrame& frame = state.frame;
    const RowBuilder::RowLayout layout =
        frame.rowLayout ? frame.rowLayout(pass.row, *pass.line) : RowBuilder::RowLayout{};
    pass.built = frame.rowBuilder->buildAttributedLine(state.terminal, pass.row, *pass.line, state.terminal.cols(),
                                                       frame.selection, layout);
    if (pass.inBand && frame.imageContents)
        pass.images = sortRowImages(pass.built.images);
}

bool TerminalPainter::applyLineMode(QPainter& painter, const FrameState& state, const RowPass& pass)
{
    const BufferLine::RenderLineMode mode = pass.line->renderMode();
    if (mode == BufferLine::RenderLineMode::single)
        return false;
    const double rowTop = state.cellHeight * (pass.row - state.yDisp);
    const double rowBottom = rowTop + state.cellHeight;
    painter.save();
    if (mode == BufferLine::RenderLineMode::doubleWidth) {
        painter.scale(2.0, 1.0);
    } else {
        // Double height: clipped to the row, scaled about its top edge (upper half of the
        // text) or its bottom edge (lower half).
        painter.setClipRect(QRectF(0, rowTop, state.frame.bounds.width(), state.cellHeight), Qt::IntersectClip);
        const double pivot = mode == BufferLine::RenderLineMode::doubledTop ? rowTop : rowBottom;
        painter.translate(0, pivot);
        painter.scale(2.0, 2.0);
        painter.translate(0, -pivot);
    }
    return true;
}

void TerminalPainter::drawRowUnderText(QPainter& painter, FrameState& state, const RowPass& pass)
{
    const TerminalFrame& frame = state.frame;
    const double rowTop = state.cellHeight * (pass.row - state.yDisp);
    const bool transformed = applyLineMode(painter, state, pass);
    const AttributedRow& built = pass.built;
    drawBackgrounds(painter, state, built, rowTop);
    drawImages(painter, state, pass.images.underText, rowTop, true);

    const CellGrid grid{0.0, rowTop, state.cellWidth, state.cellHeight};
    drawUnderlineAndBoxArt(built.boxDrawingItems, painter, grid, frame.backingScale, state.underlineThickness);
    fillBlockElement(built.blockElementItems, painter, grid, frame.backingScale, frame.antiAliasCustomBlockGlyphs);
    if (!built.powerlineItems.empty())
        drawPowerlineGlyph(built.powerlineItems, pass.line->renderMode(), painter, grid, frame.backingScale);
    if (transformed)
        painter.restore();
}

void TerminalPainter::drawRowText(QPainter& painter, FrameState& state, const RowPass& pass, RowInk* ink)
{
    const double rowTop = state.cellHeight * (pass.row - state.yDisp);
    const double baseline = rowTop + state.cellHeight - state.baselineOffset;
    const bool transformed = applyLineMode(painter, state, pass);
    painter.setRenderHint(QPainter::Antialiasing, true);
    painter.setRenderHint(QPainter::TextAntialiasing, true);
    // A double-height row is clipped to itself: nothing of it reaches another row.
    const bool clippedToRow = transformed && pass.line->renderMode() != BufferLine::RenderLineMode::doubleWidth;
    drawGlyphs(painter, state, pass.built, baseline, pass.inBand, clippedToRow ? nullptr : ink, rowTop);
    if (transformed)
        painter.restore();
}

void TerminalPainter::drawRowOverText(QPainter& painter, FrameState& state, const RowPass& pass)
{
    const double rowTop = state.cellHeight * (pass.row - state.yDisp);
    const bool transformed = applyLineMode(painter, state, pass);
    drawPlaceholders(painter, state, pass.built, rowTop);
    drawImages(painter, state, pass.images.overText, rowTop, true);
    drawImages(painter, state, pass.images.other, rowTop, false);
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

void TerminalPainter::drawGlyphs(QPainter& painter, FrameState& state, const AttributedRow& built, double baseline,
                                 bool decorations, RowInk* ink, double rowTop)
{
    std::vector<QPointF> origins;
    PainterGlyphBatch batch(painter, glyphMetrics(state.frame), {ink, rowTop, rowTop + state.cellHeight});
    for (const ViewLineSegment& segment : built.segments) {
        for (const ViewLineSegment::Run& run : segment.runs) {
            if (run.length <= 0)
                continue;
            const RunStyle& style = run.style;
            painter.setPen(style.foregroundColor ? toQColor(*style.foregroundColor) : state.effectiveForeground);
            origins.clear();
            drawRunGlyphs(state, segment, run, baseline, batch, origins);
            batch.flush();
            if (decorations && style.hasDecorations())
                drawDecorations(painter, style, origins, segment.columnWidth, state.metrics);
        }
    }
}

void TerminalPainter::drawRunGlyphs(FrameState& state, const ViewLineSegment& segment,
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
        return cache.slotFit(font, glyph, segment.columnWidth, state.frame.cell, state.descentAndLeading);
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
                origins.push_back(origin);
                if (text[static_cast<size_t>(i)] != u' ' && glyphs_.asciiGlyph(style.font, text[static_cast<size_t>(i)], glyph))
                    placeGlyph(origin, glyphs_.rawFont(style.font), glyph, QPointF(0, 0),
                               wide ? fitAlone(glyphs_.rawFont(style.font), glyph) : std::optional<FittedGlyph>(), batch);
            }
            return;
        }
        packCellRun(text, from, to, ordinalOf, packed_);
        const ShaperRun* shaped = glyphs_.shapeRun(style.font, packed_);
        if (shaped != nullptr && wide)
            fitGlyphsToSlots(*shaped, slotFit, fitted_);
        // Every cell is decorated once, whatever it draws: several glyphs (marks), or none
        // (a cell taken into a conjunct drawn from an earlier one, or not shaped at all).
        int lastOrdinal = ordinalOf(from) - 1;
        const auto decorateUpTo = [&](int ordinal) {
            while (lastOrdinal < ordinal)
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
                    if (text[static_cast<size_t>(index)] == u' ')
                        continue;
                    // The shaper counts y upward, the painter downward.
                    const QPointF offset(glyphRun.positions[k].x(), -glyphRun.positions[k].y());
                    placeGlyph(cellOrigin(ordinal), glyphRun.font, glyphRun.glyphs[k], offset,
                               wide && first + k < fitted_.size() ? std::optional<FittedGlyph>(fitted_[first + k])
                                                                   : std::optional<FittedGlyph>(),
                               batch);
                }
            }
        }
        decorateUpTo(ordinalOf(to - 1));
    });
}

void TerminalPainter::placeGlyph(QPointF cellOrigin, const QRawFont& font, quint32 glyph, QPointF offset,
                                 const std::optional<FittedGlyph>& fitted, PainterGlyphBatch& batch)
{
    // Every glyph of a cell starts from the cell's grid position; later glyphs of the cell
    // keep their shaped offset from its first glyph.
    QPointF origin = cellOrigin + offset;
    if (fitted) {
        // The shaper counts y upward, the painter downward.
        origin = cellOrigin + QPointF(fitted->offset.x(), -fitted->offset.y());
        if (fitted->scale != 1.0) {
            batch.addScaled(font, fitted->scale, glyph, origin);
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
                                      int columnWidth, const DecorationMetrics& metrics)
{
    painter.save();
    painter.setRenderHint(QPainter::Antialiasing, false);
    const double scale = metrics.backingScale > 0 ? metrics.backingScale : 1.0;
    // The cell's whole width, rounded up to a whole point as the GPU renderer does.
    const double length = std::ceil(metrics.cellWidth * std::max(1, columnWidth));
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
