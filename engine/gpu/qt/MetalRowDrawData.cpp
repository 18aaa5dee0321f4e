// One screen row and the cursor turned into vertex records. Colours, fonts, selection, bidi
// order and concealed text come from the view's row builder, exactly as the painter gets
// them; this file only decides where things go.
#include "gpu/qt/MetalTerminalRenderer.h"

#include <algorithm>
#include <climits>
#include <cmath>

#include "drawing/CellArt.h"
#include "drawing/KittyPlaceholder.h"
#include "drawing/TerminalBidi.h"
#include "drawing/qt/CellArtPainter.h"
#include "drawing/qt/TerminalPainter.h"
#include "gpu/MetalGeometry.h"
#include "model/Buffer.h"
#include "model/UnicodeUtil.h"

namespace corvantix {

namespace {

MetalFloat4 rgba(const RgbaColor& color)
{
    return rgbaComponents(toQColor(color));
}

MetalTexRect atlasTexRect(const AtlasRegion& region, int side)
{
    const auto s = static_cast<float>(std::max(side, 1));
    return MetalTexRect{static_cast<float>(region.x) / s, static_cast<float>(region.y) / s,
                        static_cast<float>(region.width) / s, static_cast<float>(region.height) / s};
}

// The view's fonts as raw fonts, hinted as `smoothing` asks. Making one is not free, so they
// are made again only when the view's fonts or the setting change (the renderer lives on the
// main thread).
const MetalFontSet& rawFonts(const FontSet& fonts, bool smoothing)
{
    struct Cache {
        std::optional<std::array<QFont, 4>> source;
        MetalFontSet raw;
    };
    static Cache cache;
    std::array<QFont, 4> wanted{fonts.normal, fonts.bold, fonts.italic, fonts.boldItalic};
    for (QFont& font : wanted)
        font.setHintingPreference(metalHintingPreference(smoothing));
    if (!cache.source || *cache.source != wanted) {
        for (std::size_t i = 0; i < wanted.size(); ++i)
            cache.raw[i] = QRawFont::fromFont(wanted[i]);
        cache.source = wanted;
    }
    return cache.raw;
}

const QRawFont& fontForSlot(const MetalFontSet& fonts, FontSlot slot)
{
    const QRawFont& font = fonts[static_cast<std::size_t>(slot) % fonts.size()];
    return font.isValid() ? font : fonts[static_cast<std::size_t>(FontSlot::normal)];
}

bool isBlinkingCursor(CursorStyle style)
{
    return style == CursorStyle::blinkBlock || style == CursorStyle::blinkUnderline || style == CursorStyle::blinkBar;
}

CursorShape focusedCursorShape(CursorStyle style)
{
    switch (style) {
    case CursorStyle::blinkBar:
    case CursorStyle::steadyBar:
        return CursorShape::bar;
    case CursorStyle::blinkUnderline:
    case CursorStyle::steadyUnderline:
        return CursorShape::underline;
    default:
        return CursorShape::block;
    }
}

void appendUtf16(QString& out, char32_t scalar)
{
    if (scalar < 0x10000) {
        out.append(QChar(static_cast<char16_t>(scalar)));
    } else {
        out.append(QChar(static_cast<char16_t>(0xD800 + ((scalar - 0x10000) >> 10))));
        out.append(QChar(static_cast<char16_t>(0xDC00 + ((scalar - 0x10000) & 0x3FF))));
    }
}

// The backing scale Kitty pixel offsets are measured in: the window's, 1 without a window.
double imageBacking(const TerminalView& view)
{
    const double backing = view.window() != nullptr ? view.backingScaleFactor() : 1.0;
    return backing > 0 ? backing : 1.0;
}

} // namespace

RowDrawData MetalTerminalRenderer::buildRowDrawData(double cellWidth, double cellHeight, double baselineOffset,
                                                    double viewWidthPx, double scale, int lineIndex,
                                                    const Buffer& buffer, int firstVisibleLine,
                                                    const VirtualPlacementIndex& virtualPlacements)
{
    RowDrawData data;
    TerminalView* view = terminalView();
    if (view == nullptr || !view->terminal || lineIndex < 0 || lineIndex >= buffer.lines().count()
        || !(cellWidth > 0) || !(cellHeight > 0) || !(scale > 0))
        return data;
    const std::shared_ptr<BufferLine> linePtr = buffer.lines()[lineIndex];
    if (!linePtr)
        return data;
    const BufferLine& line = *linePtr;

    // Bounded before the conversion: no atlas holds a larger cell anyway.
    const int cellWidthPx = static_cast<int>(std::clamp(cellWidth * scale, 1.0, 16384.0));
    const int cellHeightPx = static_cast<int>(std::clamp(cellHeight * scale, 1.0, 16384.0));
    const double rowBottom = view->height() - cellHeight * (lineIndex - firstVisibleLine + 1);
    const double rowTop = rowBottom + cellHeight;
    const double rowBottomPx = scale * rowBottom;
    // Whole points above the row's bottom, as the painter, the caret and the wide-glyph fit
    // place it, so both drawing paths put text on the same pixel rows.
    const double baseline = rowBottom + std::ceil(baselineOffset);
    const MetalRowStretch row = metalRowStretch(line.renderMode(), rowBottomPx, scale * cellHeight, viewWidthPx);

    const MetalFontSet& fonts = rawFonts(view->fontSet, rasterizer.fontSmoothing);
    const QRawFont& normal = fonts[static_cast<std::size_t>(FontSlot::normal)];
    const double underlineThickness = normal.isValid() ? normal.lineThickness() : 1.0;
    const double lineThickness = std::max(0.5, std::floor(scale * underlineThickness) / scale);
    // Qt measures the underline's position downward from the baseline.
    const double underlinePosition = normal.isValid() ? -normal.underlinePosition() : -1.0;
    const QColor effectiveForeground = view->effectiveForegroundColor();
    const MetalFloat4 foreground = rgbaComponents(effectiveForeground);
    const QColor effectiveBackground = view->effectiveBackgroundColor().toRgb();

    AttributedRow built = view->buildAttributedLine(lineIndex, line);

    auto addGray = [&](double x0, double y0, double x1, double y1, const AtlasRegion& region,
                       const MetalFloat4& color) {
        if (const auto placed = placeTextRect(row, x0, y0, x1, y1, atlasTexRect(region, grayscaleAtlas().size())))
            data.glyphCellsGray.push_back(makeTextCell(placed->first, placed->second, color));
    };

    // Cell art, drawn into the single-channel atlas at the row's pixel size.
    if (!built.blockElementItems.empty() || !built.boxDrawingItems.empty() || !built.powerlineItems.empty()) {
        const int baseThickness = std::max(std::max(1, static_cast<int>(scale)),
                                           static_cast<int>(scale * underlineThickness * 1.35));
        const bool antiAlias = view->antiAliasCustomBlockGlyphs();
        const double pixelBottom = std::trunc(rowBottomPx);
        for (const BoxDrawingRenderItem& item : built.boxDrawingItems) {
            const int width = cellWidthPx * std::max(1, item.columnWidth);
            const auto entry = drawCustomGlyph(item.codePoint, width, cellHeightPx, baseThickness, antiAlias, scale);
            if (!entry)
                continue;
            const double x0 = static_cast<double>(item.column) * cellWidthPx;
            const double height = antiAlias ? scale * cellHeight : cellHeightPx;
            addGray(x0, pixelBottom, x0 + width, pixelBottom + height, entry->region, rgba(item.foregroundColor));
        }
        for (const BlockElementRenderItem& item : built.blockElementItems) {
            const int columns = std::max(1, item.columnWidth);
            const int width = antiAlias ? std::max(1, static_cast<int>(scale * cellWidth * columns))
                                        : cellWidthPx * columns;
            const auto entry = drawCustomGlyph(item.codePoint, width, cellHeightPx, baseThickness, antiAlias, scale);
            if (!entry)
                continue;
            if (antiAlias) {
                const double x0 = scale * cellWidth * item.column;
                addGray(x0, rowBottomPx, x0 + scale * cellWidth * columns, rowBottomPx + cellHeightPx, entry->region,
                        rgba(item.foregroundColor));
            } else {
                const double x0 = static_cast<double>(item.column) * cellWidthPx;
                addGray(x0, pixelBottom, x0 + width, pixelBottom + cellHeightPx, entry->region,
                        rgba(item.foregroundColor));
            }
        }
        for (const PowerlineRenderItem& item : built.powerlineItems) {
            const int width = cellWidthPx * std::max(1, item.columnWidth);
            const auto entry = drawCustomGlyph(item.codePoint, width, cellHeightPx, baseThickness, true, scale);
            if (!entry)
                continue;
            const double x0 = static_cast<double>(item.column) * cellWidthPx;
            const double x1 = x0 + entry->width;
            const double y1 = pixelBottom + entry->height;
            const MetalFloat4 color = rgba(item.foregroundColor);
            addGray(x0, pixelBottom, x1, y1, entry->region, color);
            const MetalRect stretched = cellRectForRenderMode(x0, pixelBottom, x1, y1, row.mode, row.stretchBase);
            if (const auto join = powerlineJoinRect(stretched, item.codePoint)) {
                if (const auto clipped = clipColorRect(*join, row.band))
                    data.powerlineJoinCells.push_back(makeColorCell(*clipped, color));
            }
        }
    }

    // Backgrounds: a run covers the cells of its text, like the painter's; one that shows the
    // default background draws nothing, so the frame's clear colour shows through.
    TerminalPainter::forEachRunBackground(built, effectiveBackground, [&](int start, int end, const QColor& color) {
        if (const auto rect = placeColorRect(row, scale * cellWidth * start, rowBottomPx, scale * cellWidth * end,
                                             rowBottomPx + scale * cellHeight))
            data.backgroundCells.push_back(makeColorCell(*rect, rgbaComponents(color)));
    });

    // Images the line holds, in the line's order within each list.
    if (line.hasImages()) {
        const double backing = imageBacking(*view);
        for (const std::shared_ptr<TerminalImage>& image : *line.images()) {
            if (!image)
                continue;
            std::shared_ptr<MetalTexture> texture = imageDraw(*image);
            if (!texture)
                continue;
            auto draw = imageQuadVertices(std::move(texture), lineImageRect(*image, cellWidth, rowTop, backing),
                                          MetalTexRect{}, scale, row);
            if (!draw)
                continue;
            switch (lineImageLayer(*image)) {
            case LineImageLayer::under:
                data.underImageDraws.push_back(std::move(*draw));
                break;
            case LineImageLayer::over:
                data.overImageDraws.push_back(std::move(*draw));
                break;
            case LineImageLayer::other:
                data.otherImageDraws.push_back(std::move(*draw));
                break;
            }
        }
    }

    // Glyphs and their decorations. One decoration piece per cell, on the row's baseline, as
    // the painter draws them; the list of the cells' columns is reused from run to run.
    std::vector<int> decorated;
    std::vector<FittedGlyph> fitted;
    for (ViewLineSegment& segment : built.segments) {
        if (segment.text.empty())
            continue;
        const std::vector<ShapedRun> runs = shapeSegment(segment, fonts);
        const int columnWidth = std::max(1, segment.columnWidth);
        for (const ShapedRun& run : runs) {
            const RunStyle& style = run.attributes;
            const MetalFloat4 color = style.foregroundColor ? rgba(*style.foregroundColor) : foreground;
            decorated.clear();
            // Every cell is decorated once, whatever it draws: several glyphs (marks), or none
            // (a cell taken into a conjunct drawn from an earlier one).
            const int runEnd = run.utf16Offset + std::max(run.utf16Length, 1) - 1;
            int lastOrdinal = segment.cellOrdinal(run.utf16Offset) - 1;
            const auto decorateUpTo = [&](int ordinal) {
                while (lastOrdinal < ordinal)
                    decorated.push_back(segment.column + ++lastOrdinal * segment.columnWidth);
            };
            // Wide cells are fitted into their slots, each cluster as one.
            const bool wide = columnWidth >= 2;
            if (wide)
                fitGlyphsToSlots(
                    *run.shaperRun,
                    [&](const QRawFont& font, quint32 glyph) { return view->glyphSlotFit(font, glyph, columnWidth); },
                    fitted);
            std::size_t flat = 0; // the glyph's place among all of the run's
            for (const ShaperGlyphRun& glyphRun : run.shaperRun->glyphRuns) {
                const QRawFont scaled = scaledFont(glyphRun.font, scale);
                GlyphKey key{fontName(scaled), scaled.pixelSize(), 0};
                const std::size_t count = std::min({glyphRun.glyphs.size(), glyphRun.positions.size(),
                                                    glyphRun.stringIndices.size()});
                const std::size_t first = flat;
                flat += glyphRun.glyphs.size();
                for (std::size_t k = 0; k < count; ++k) {
                    const quint32 glyph = glyphRun.glyphs[k];
                    const QPointF position = glyphRun.positions[k];
                    const int textIndex = run.utf16Offset + glyphRun.stringIndices[k];
                    const int ordinal = segment.cellOrdinal(textIndex);
                    const int cellColumn = segment.column + ordinal * segment.columnWidth;
                    // Every cell's text starts at the cell's left edge whatever the shaper's
                    // advances: positions are offsets from the glyph's cell, its base at 0.
                    const double dx = position.x();
                    decorateUpTo(ordinal);
                    // A space has no ink; asking for its bitmap would rasterize it anew on
                    // every rebuilt row, since nothing is cached for a glyph without one.
                    if (textIndex >= 0 && static_cast<std::size_t>(textIndex) < segment.text.size()
                        && segment.text[static_cast<std::size_t>(textIndex)] == u' ')
                        continue;
                    key.glyph = glyph;
                    const auto entry = glyphEntry(scaled, key);
                    if (!entry || entry->width <= 0 || entry->height <= 0)
                        continue;
                    const FittedGlyph fit = wide && first + k < fitted.size() ? fitted[first + k]
                                                                              : FittedGlyph{QPointF(dx, position.y())};
                    const double x0 = scale * (cellWidth * cellColumn + fit.offset.x()) + entry->bearingX * fit.scale;
                    const double y0 = scale * (baseline + fit.offset.y()) + entry->bearingY * fit.scale;
                    const bool inColorAtlas = entry->atlasKind == GlyphAtlasKind::color;
                    const GlyphAtlas& atlas = inColorAtlas ? colorAtlas() : grayscaleAtlas();
                    const auto placed = placeTextRect(row, x0, y0, x0 + entry->width * fit.scale,
                                                      y0 + entry->height * fit.scale,
                                                      atlasTexRect(entry->region, atlas.size()));
                    if (!placed)
                        continue;
                    const TextCell cell =
                        makeTextCell(placed->first, placed->second, entry->isColor ? MetalFloat4{1, 1, 1, 1} : color);
                    (inColorAtlas ? data.glyphCellsColor : data.glyphCellsGray).push_back(cell);
                }
            }

            decorateUpTo(segment.cellOrdinal(runEnd));
            if (decorated.empty())
                continue;
            // A decoration spans the cells of a wide character too, rounded up to whole points.
            const double pieceWidth = std::ceil(cellWidth * columnWidth);
            if (style.underlineStyleAttribute.value_or(0) != 0) {
                const int kind = static_cast<int>(underlineStyle(style));
                const MetalFloat4 underlineColor = style.underlineColor ? rgba(*style.underlineColor) : foreground;
                for (const int column : decorated) {
                    const double x0 = scale * cellWidth * column;
                    const double x1 = scale * (cellWidth * column + pieceWidth);
                    const double y = underlinePosition + baseline;
                    if (kind == static_cast<int>(UnderlineStyle::double_)) {
                        decorationGeometry(data.decorationCells, 1, x0, x1, scale * y, scale * lineThickness,
                                           underlineColor, scale, row);
                        decorationGeometry(data.decorationCells, 1, x0, x1, scale * (y - lineThickness - 1),
                                           scale * lineThickness, underlineColor, scale, row);
                    } else {
                        decorationGeometry(data.decorationCells, kind, x0, x1, scale * y, scale * lineThickness,
                                           underlineColor, scale, row);
                    }
                }
            }
            if (const int value = style.strikethroughStyle.value_or(0); value != 0) {
                const int kind = (value & 0x100) != 0 ? 4 : (value & 0x600) != 0 ? 5 : 1;
                const MetalFloat4 strikeColor =
                    style.strikethroughColor ? rgba(*style.strikethroughColor) : foreground;
                const QRawFont& font = fontForSlot(fonts, style.font);
                const double u = font.isValid() ? font.lineThickness() : underlineThickness;
                const double thickness = std::max(0.5, std::floor(scale * u) / scale);
                const double xHeight = font.isValid() ? font.xHeight() : 0.0;
                const bool twoLines = (value & 0x9) == 0x9;
                for (const int column : decorated) {
                    const double x0 = scale * cellWidth * column;
                    const double x1 = scale * (cellWidth * column + pieceWidth);
                    const double y = (xHeight + thickness) * 0.5 + baseline;
                    decorationGeometry(data.decorationCells, kind, x0, x1, scale * y, scale * thickness, strikeColor,
                                       scale, row);
                    if (twoLines)
                        decorationGeometry(data.decorationCells, kind, x0, x1, scale * (y - thickness - 1),
                                           scale * thickness, strikeColor, scale, row);
                }
            }
        }
    }

    // Placeholder cells: each shows its own piece of its placement's image.
    if (!built.placeholderCells.empty() && !virtualPlacements.empty()) {
        const double backing = imageBacking(*view);
        const KittyGraphicsState& store = view->terminal->kittyGraphicsState();
        const MetalCellFrame frame{cellWidth, cellHeight, rowBottom};
        for (const KittyPlaceholderCell& cell : built.placeholderCells) {
            const auto group = virtualPlacements.find(cell.imageId);
            if (group == virtualPlacements.end())
                continue;
            const auto placement = findPlaceholderPlacement(group->second, cell);
            if (!placement)
                continue;
            std::shared_ptr<MetalTexture> texture = imageDraw(store, cell.imageId);
            if (!texture)
                continue;
            const auto piece =
                placeholderPiece(cell, *placement, texture->width(), texture->height(), scale, backing, frame);
            if (!piece)
                continue;
            if (auto draw = imageQuadVertices(std::move(texture), piece->rect, piece->texture, scale, row))
                data.placeholderImageDraws.push_back(std::move(*draw));
        }
    }
    return data;
}

void MetalTerminalRenderer::buildCursorDrawData(DrawData& data, double scale, double cellWidth, double cellHeight,
                                                double descent, double leading, int firstVisibleLine,
                                                int lastVisibleLine)
{
    TerminalView* view = terminalView();
    if (view == nullptr || !view->terminal || !(scale > 0))
        return;
    const Terminal& terminal = *view->terminal;
    if (terminal.cursorHidden())
        return;
    const Buffer& buffer = terminal.buffer();
    const int cursorLine = buffer.yBase() + buffer.y();
    if (cursorLine < firstVisibleLine || cursorLine > lastVisibleLine || cursorLine < 0
        || cursorLine >= buffer.lines().count())
        return;
    if (buffer.x() < 0 || buffer.x() >= buffer.cols())
        return;

    // The caret's focus as the view last gave it; an outline, never blinking, without it.
    const bool focused = view->caretViewTracksFocus() ? (view->caretView ? view->caretView->focused : view->hasFocus())
                                                      : true;
    const CursorStyle style = terminal.options().cursorStyle;
    if (focused && isBlinkingCursor(style) && !cursorBlinkOn)
        return;

    const std::shared_ptr<BufferLine> linePtr = buffer.lines()[cursorLine];
    if (!linePtr)
        return;
    const BufferLine& line = *linePtr;
    const int widthFactor = line.renderMode() != RenderLineMode::single ? 2 : 1;
    const int storedColumn = std::clamp(buffer.x(), 0, std::max(0, line.dataSize() - 1));
    const CharData& cell = line.getCell(storedColumn);
    const int cells = cell.width < 2 ? 1 : cell.width;
    // Under a bidi layout the cursor stands where its cell is shown, over the text shown there
    // (a joined Arabic form, a mirrored bracket), as the painter's caret does: at the stored
    // column it would cover another cell with a letter that is not there.
    int column = storedColumn;
    std::optional<std::u32string> display;
    if (view->bidiHostPolicy() == BidiHostPolicy::respectTerminal) {
        const RowBidiLayout layout = TerminalBidi::layoutForRow(cursorLine, buffer, terminal.cols(), terminal);
        column = layout.visualColumn(storedColumn);
        if (layout.layout != nullptr) {
            for (const BidiCell& visual : layout.layout->visualCells) {
                if (visual.logicalCol == storedColumn) {
                    display = visual.display;
                    break;
                }
            }
        }
    }
    const double rowBottom = view->height() - cellHeight * (cursorLine - firstVisibleLine + 1);
    const MetalRect rect = cursorRect(column, cells, widthFactor, cellWidth, cellHeight, rowBottom, scale);

    const CursorShape shape = focused ? focusedCursorShape(style) : CursorShape::outline;
    cursorShapeVertices(data.cursorColorVertices, shape, rect, scale, rgbaComponents(view->effectiveCaretColor()));
    if (shape != CursorShape::block)
        return;

    // The character under a block cursor, in the caret's text colour. Text blinking in its
    // hidden phase and concealed text stay hidden under the cursor too.
    const auto& cellStyle = cell.attribute.style;
    if (cell.code == 0 || (!view->textBlinkVisible && cellStyle.contains(CharacterStyle::blink))
        || cellStyle.contains(CharacterStyle::invisible))
        return;
    const MetalFloat4 textColor = rgbaComponents(view->effectiveCaretTextColor());
    const auto codePoint = static_cast<std::uint32_t>(cell.code);

    if (view->customBlockGlyphs() && powerlineSeparatorKind(codePoint)) {
        const int w = std::max(1, static_cast<int>(rect.width()));
        const int h = std::max(1, static_cast<int>(scale * cellHeight));
        const auto entry = drawCustomGlyph(codePoint, w, h, 0, true, scale);
        if (!entry)
            return;
        const MetalRect quad{rect.minX, rect.minY, rect.minX + static_cast<float>(w),
                             rect.minY + static_cast<float>(h)};
        if (const auto clipped = clipTextCell(quad, atlasTexRect(entry->region, grayscaleAtlas().size()), rect))
            appendRectangleVertices(data.cursorGlyphVerticesGray, clipped->first, clipped->second, textColor);
        return;
    }

    char32_t scratch = 0;
    const std::u32string_view scalars =
        display ? std::u32string_view(*display) : RowBuilder::cellText(terminal, cell.code, scratch);
    QString text;
    for (char32_t scalar : scalars)
        appendUtf16(text, scalar);
    if (scalars.size() == 1 && scalars[0] >= 0x100 && UnicodeUtil::isTextPresentationEmoji(scalars))
        text.append(QChar(0xFE0E));
    const MetalFontSet& fonts = rawFonts(view->fontSet, rasterizer.fontSmoothing);
    const QRawFont& font = fontForSlot(fonts, fontSlot(cellStyle.contains(CharacterStyle::bold),
                                                       cellStyle.contains(CharacterStyle::italic)));
    const auto shaped = shapeCell(text, font);
    if (!shaped)
        return;
    const double baseline = rowBottom + std::ceil(descent + leading);
    // A wide cell is fitted into the cursor's cells as one cluster, as in its row.
    std::vector<FittedGlyph> fitted;
    if (cells >= 2)
        fitGlyphsToSlots(
            *shaped, [&](const QRawFont& font, quint32 glyph) { return view->glyphSlotFit(font, glyph, cells); },
            fitted);
    std::size_t flat = 0;
    for (const ShaperGlyphRun& glyphRun : shaped->glyphRuns) {
        const QRawFont scaled = scaledFont(glyphRun.font, scale);
        const std::size_t count = std::min(glyphRun.glyphs.size(), glyphRun.positions.size());
        const std::size_t firstGlyph = flat;
        flat += glyphRun.glyphs.size();
        for (std::size_t k = 0; k < count; ++k) {
            const quint32 glyph = glyphRun.glyphs[k];
            const QPointF position = glyphRun.positions[k];
            // The cell's base at its left edge, its marks where the shaper put them.
            const double dx = position.x();
            const auto entry = glyphEntry(scaled, glyph);
            if (!entry || entry->width <= 0 || entry->height <= 0)
                continue;
            // The fitted offset less the shaped one: what the fit adds, in the cursor's cells.
            const FittedGlyph fit = firstGlyph + k < fitted.size() ? fitted[firstGlyph + k]
                                                                   : FittedGlyph{QPointF(dx, position.y())};
            const double x0 = scale * (widthFactor * cellWidth * column + widthFactor * (fit.offset.x() - dx) + dx)
                + entry->bearingX * fit.scale;
            const double y0 = scale * (baseline + fit.offset.y()) + entry->bearingY * fit.scale;
            const MetalRect quad{static_cast<float>(x0), static_cast<float>(y0),
                                 static_cast<float>(x0 + entry->width * fit.scale),
                                 static_cast<float>(y0 + entry->height * fit.scale)};
            const bool inColorAtlas = entry->atlasKind == GlyphAtlasKind::color;
            const GlyphAtlas& atlas = inColorAtlas ? colorAtlas() : grayscaleAtlas();
            const auto clipped = clipTextCell(quad, atlasTexRect(entry->region, atlas.size()), rect);
            if (!clipped)
                continue;
            appendRectangleVertices(inColorAtlas ? data.cursorGlyphVerticesColor : data.cursorGlyphVerticesGray,
                                    clipped->first, clipped->second,
                                    entry->isColor ? MetalFloat4{1, 1, 1, 1} : textColor);
        }
    }
}

} // namespace corvantix
