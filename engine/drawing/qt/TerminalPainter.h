// Painting the visible rows of a terminal with QPainter: backgrounds, cell art, glyphs placed
// on the cell grid, underline and strikethrough, inline images under and over the text, Kitty
// placeholder cells, and double-width and double-height rows. The row content comes from the row builder.
//
// The painter's y axis grows downward: screen row 0 is at the top, each row's baseline sits
// ceil(descent + leading) of the normal font above the row's bottom edge.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <span>
#include <string>
#include <unordered_map>
#include <vector>

#include "drawing/CellMetrics.h"
#include "drawing/RowBuilder.h"
#include "drawing/qt/CellGlyphCache.h"
#include "drawing/qt/GlyphMetricsCache.h"

#include <QColor>
#include <QFontMetricsF>
#include <QImage>
#include <QPointF>
#include <QRectF>
#include <QSizeF>

class QPainter;

namespace corvantix {

class PainterGlyphBatch;
class SelectionService;

// What one frame reads from the view.
struct TerminalFrame {
    const Terminal* terminal = nullptr;
    const SelectionService* selection = nullptr;
    RowBuilder* rowBuilder = nullptr;
    CellGlyphCache::Fonts fonts; // normal, bold, italic, bold-italic
    std::optional<CellDimension> cell;
    double backingScale = 1.0;
    QColor nativeFg;
    QColor nativeBg;
    // What the dirty rectangle is cleared to before the rows are drawn (the widget's
    // background; default-coloured cell backgrounds are not painted over it).
    QColor clearColor;
    bool fontSmoothing = true;
    bool antiAliasCustomBlockGlyphs = false;
    QSizeF bounds;
    // Scale of Kitty pixel offsets (the window's backing scale, 1 without a window).
    double imageScale = 1.0;
    // The bidi layout of a row, when the host lays rows out; absent: stored order.
    std::function<RowBuilder::RowLayout(int row, const BufferLine& line)> rowLayout;
    // The decoded image of a Kitty image id; absent or none: placeholder cells draw nothing.
    std::function<std::optional<QImage>(uint32_t imageId)> kittyImageForId;
    // The picture of an image a line holds; absent or null: the image is not drawn.
    std::function<const QImage*(const TerminalImage& image)> imageContents;
    // Glyph metrics shared with the host's other renderer; absent: the painter's own.
    GlyphMetricsCache* glyphMetrics = nullptr;
};

class TerminalPainter {
public:
    // Paints every row that touches `dirty` (whole rows, also when only part of a row is
    // dirty), and nothing outside them: their backgrounds first, then the glyphs of those rows
    // and of the rows around them whose ink reaches into them. `yDisp` is the buffer line
    // shown at the top. Returns the area, out of the rows it hangs from, where the ink of a
    // row drawn here changed (a glyph hanging out of its row was added, moved or removed):
    // the caller draws it again (what is drawn now may be clipped); empty when there is none.
    QRectF drawVisibleRows(QPainter& painter, const TerminalFrame& frame, int yDisp, const QRectF& dirty);

    // The first and last buffer line touched by `dirty` (both included).
    static std::pair<int, int> rowsInRect(const QRectF& dirty, double cellHeight, int yDisp);

    // Underline and strikethrough of one run: one piece per cell, from the cell's origin on
    // the baseline across its `columnWidth` columns (a wide character is decorated whole).
    struct DecorationMetrics {
        double underlinePosition = 0; // below the baseline, positive
        double underlineThickness = 0;
        std::array<double, 4> xHeight{}; // per font slot
        std::array<double, 4> strikeThickness{};
        double cellWidth = 0;
        double backingScale = 1.0;
        QColor effectiveForeground;
    };
    // Each run of `built` whose background is not `defaultBackground` (which the frame's clear
    // shows already), with the visual columns [first, end) its text covers.
    static void forEachRunBackground(const AttributedRow& built, const QColor& defaultBackground,
                                     const std::function<void(int first, int end, const QColor& color)>& visit);

    static void drawDecorations(QPainter& painter, const RunStyle& style, std::span<const QPointF> origins,
                                int columnWidth, const DecorationMetrics& metrics);

    CellGlyphCache& glyphCache() { return glyphs_; }
    GlyphMetricsCache& glyphMetrics() { return glyphMetrics_; }
    // The metrics cache a frame draws with: the frame's shared one, else the painter's own.
    GlyphMetricsCache& glyphMetrics(const TerminalFrame& frame)
    {
        return frame.glyphMetrics != nullptr ? *frame.glyphMetrics : glyphMetrics_;
    }

    // How far the glyphs of a row reach out of it, above its top and below its bottom
    // (points, 0 when they stay inside), and a digest of the glyphs that do (which glyphs,
    // where, in which colour): equal digests draw the same ink outside the row.
    struct RowInk {
        double above = 0;
        double below = 0;
        std::uint64_t aboveDigest = 0;
        std::uint64_t belowDigest = 0;
    };

private:
    struct FrameState;
    struct RowPass;

    void buildRow(FrameState& state, RowPass& pass);
    // Applies the row's line mode (double width or height) to the painter; false when none.
    bool applyLineMode(QPainter& painter, const FrameState& state, const RowPass& pass);
    void drawRowUnderText(QPainter& painter, FrameState& state, const RowPass& pass);
    void drawRowText(QPainter& painter, FrameState& state, const RowPass& pass, RowInk* ink);
    void drawRowOverText(QPainter& painter, FrameState& state, const RowPass& pass);
    void drawBackgrounds(QPainter& painter, FrameState& state, const AttributedRow& built, double rowTop);
    void drawGlyphs(QPainter& painter, FrameState& state, const AttributedRow& built, double baseline,
                    bool decorations, RowInk* ink, double rowTop);
    // Draws the glyphs of a run and gives the origin of each of its cells, where its
    // decorations go.
    void drawRunGlyphs(FrameState& state, const ViewLineSegment& segment, const ViewLineSegment::Run& run,
                       double baseline, PainterGlyphBatch& batch, std::vector<QPointF>& origins);
    // `offset`: the shaped offset from the cell's origin (y downward); `fitted`: where a
    // glyph of a wide cell is drawn instead (y upward), and at what scale.
    void placeGlyph(QPointF cellOrigin, const QRawFont& font, quint32 glyph, QPointF offset,
                    const std::optional<FittedGlyph>& fitted, PainterGlyphBatch& batch);
    void drawPlaceholders(QPainter& painter, FrameState& state, const AttributedRow& built, double rowTop);
    // The line's images in three lists: Kitty images under the text (z below 0), Kitty images
    // over it, and the others; each drawn with drawImages.
    struct RowImages {
        std::vector<const TerminalImage*> underText;
        std::vector<const TerminalImage*> overText;
        std::vector<const TerminalImage*> other;
    };
    static RowImages sortRowImages(const std::optional<BufferLine::Images>& images);
    void drawImages(QPainter& painter, FrameState& state, std::span<const TerminalImage* const> images, double rowTop,
                    bool withOffsets);

    CellGlyphCache glyphs_;
    GlyphMetricsCache glyphMetrics_;
    // The ink of the screen rows as drawn, valid for the shown line, cell height and view
    // height they were drawn at (anything else and they are forgotten).
    std::vector<RowInk> rowInk_;
    int rowInkYDisp_ = 0;
    double rowInkCellHeight_ = 0;
    std::u16string packed_; // the stretch being looked up, kept to reuse its room
    std::vector<FittedGlyph> fitted_; // the fitted glyphs of a wide stretch, likewise
};

} // namespace corvantix
