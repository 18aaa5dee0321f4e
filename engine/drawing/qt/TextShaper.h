// Shaping of one run of text in its font (and fallback fonts where it has no glyph), with the
// position of every glyph and the UTF-16 index of the text it came from. Backed by HarfBuzz
// over each font's own tables (the glyph runs Qt hands out carry no string indices). The run
// is always laid out left to right: the row layout has already put bidirectional text in
// display order. The painter and the GPU renderer both shape their runs of cells here, with
// the one fallback choice of FontFallback.h, so both draw a character with the same glyph.
#pragma once

#include <bitset>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include <QPointF>
#include <QRawFont>
#include <QString>

#include "drawing/CellMetrics.h"
#include "drawing/qt/FontFallback.h"

namespace corvantix {

struct ShaperGlyphRun {
    QRawFont font;
    std::vector<quint32> glyphs;
    std::vector<QPointF> positions; // pixels from the run's origin, y upward
    std::vector<int> stringIndices; // UTF-16 offsets into the shaped text
};

struct ShaperRun {
    std::vector<ShaperGlyphRun> glyphRuns;
    std::vector<QPointF> positions; // of every glyph run, in run order
    std::vector<int> stringIndices;
    int glyphCount = 0;
    // For every glyph, in the order of `positions`: the glyph whose fit into a wide slot it
    // takes, the base of its cell for a mark drawn on that base, else itself. Empty: every
    // glyph is fitted on its own.
    std::vector<int> clusterBases;
};

// Where a glyph of a run of cells is drawn once its wide cell is fitted into its slot: the
// offset from its cell's origin on the baseline (y upward) and the scale it is drawn at.
struct FittedGlyph {
    QPointF offset;
    double scale = 1.0;
};

// The fitted place of every glyph of `run` (in the order of its `positions`, whose offsets
// are from each glyph's cell), `fitOf` giving the fit of one glyph into its slot. A cluster
// is fitted as one: a mark takes its base's offset and, when the base is scaled down to fit,
// the same scale about the base's origin, so it stays on the base whatever font each comes
// from; other glyphs are fitted on their own.
void fitGlyphsToSlots(const ShaperRun& run, const std::function<GlyphSlotFit(const QRawFont&, quint32)>& fitOf,
                      std::vector<FittedGlyph>& fitted);

// The font that draws `scalar` when `font` has no glyph for it (fallbackFontFor by default);
// an invalid font when nothing better is found.
using FallbackFontLookup = std::function<QRawFont(const QRawFont& font, char32_t scalar)>;

// A stretch of the text drawn with one font.
struct FontRun {
    int start = 0;  // UTF-16 index
    int length = 0; // UTF-16 units
    QRawFont font;
};

// Splits text into runs of one font: `font` wherever it has a glyph, a fallback font
// elsewhere. Joiners and selectors stay in the run of the character they belong to, and so
// do marks unless that run's font lacks them (a mark then takes a font that has it); a
// surrogate pair is never split. A character no font draws stays with `font`, a mark with
// its base's font (it shows as the missing-glyph box).
std::vector<FontRun> fontRuns(const QString& text, const QRawFont& font,
                              const FallbackFontLookup& lookup = fallbackFontFor);

// None for empty text or a font that cannot be shaped. Each font run becomes one glyph run;
// string indices count from the start of `text` in every glyph run, and positions continue
// from one glyph run to the next.
std::optional<ShaperRun> shapeTextRun(const QString& text, const QRawFont& font,
                                      const FallbackFontLookup& lookup = fallbackFontFor);

// The unit at `index` is the second half of a surrogate pair: one character with the unit
// before it, even where a cell map counts the two apart.
inline bool continuesScalar(std::u16string_view text, int index)
{
    return index > 0 && QChar::isLowSurrogate(text[static_cast<std::size_t>(index)])
        && QChar::isHighSurrogate(text[static_cast<std::size_t>(index - 1)]);
}

// A stretch of cells to be shaped together, packed in one string that also serves as a cache
// key: its UTF-16 units, then one flag per unit, 1 where the unit starts a cell, else 0.
void packCellRun(std::u16string_view text, std::u16string_view cellStarts, std::u16string& packed);
// The same for text[start, end) of a segment of cells whose ordinals `ordinalOf` gives.
template <typename OrdinalOf>
void packCellRun(std::u16string_view text, int start, int end, const OrdinalOf& ordinalOf, std::u16string& packed)
{
    packed.assign(text.substr(static_cast<std::size_t>(start), static_cast<std::size_t>(end - start)));
    for (int i = start; i < end; ++i)
        packed.push_back(i == start || (ordinalOf(i) != ordinalOf(i - 1) && !continuesScalar(text, i)) ? u'1' : u'0');
}

// Shapes a packed stretch of cells as one text, so that letters join, combine and form
// conjuncts across their cells, and places every glyph from the cell its string index falls
// in: `positions` are offsets from that cell's origin on the baseline (y upward), the cell's
// base glyph (its first glyph that is not a mark, whatever order the shaper gave them in) at
// x 0 and the cell's other glyphs where the shaper put them beside it; `clusterBases` ties
// each mark to its cell's base. String indices count from the stretch's start.
//
// Font fallback is chosen per cell, as for a cell alone; the stretch is shaped in pieces
// where that font changes. A cell of a right-to-left script is shaped alone: laid out left to
// right across its neighbours it would join the wrong way, and the row layout has already
// given it the form it shows. In a cell of a base and its marks, a mark the font gives a full
// advance is centred on the base, and so is the ink of a mark from another font than the
// base's, which nothing attaches; nothing of the cell then reaches into the next.
// None when nothing could be shaped.
std::optional<ShaperRun> shapeCellRun(std::u16string_view packed, const QRawFont& font,
                                      const FallbackFontLookup& lookup = fallbackFontFor);

// A cell drawn as its font's character map gives it whatever its neighbours: one ASCII
// character of `drawnAlone` (asciiDrawnAlone of the font) not followed by a mark, a joiner or
// a selector (which would attach to it). Such a cell draws the same alone as in a shaped run:
// the one thing the shaper could still change, its advance, gives way to the cell grid.
bool drawsAlone(const std::bitset<128>& drawnAlone, char16_t unit, char32_t next);

// Cuts text[start, end) of a segment into what is shaped apart: stretches of cells that draw
// alone (drawsAlone) and stretches of the others, in order; `visit(from, to, alone)`.
template <typename OrdinalOf, typename Visit>
void forEachShapingStretch(std::u16string_view text, int start, int end, const std::bitset<128>& drawnAlone,
                           const OrdinalOf& ordinalOf, const Visit& visit)
{
    const auto cellEnd = [&](int i) {
        const int ordinal = ordinalOf(i);
        int next = i + 1;
        while (next < end && (ordinalOf(next) == ordinal || continuesScalar(text, next)))
            ++next;
        return next;
    };
    int stretch = start;
    bool stretchAlone = false;
    for (int i = start; i < end;) {
        const int next = cellEnd(i);
        char32_t following = 0;
        if (next < end) {
            following = text[static_cast<std::size_t>(next)];
            if (QChar::isHighSurrogate(static_cast<char16_t>(following)) && next + 1 < end)
                following = QChar::surrogateToUcs4(static_cast<char16_t>(following), text[static_cast<std::size_t>(next + 1)]);
        }
        const bool alone = next == i + 1 && drawsAlone(drawnAlone, text[static_cast<std::size_t>(i)], following);
        if (i > stretch && alone != stretchAlone) {
            visit(stretch, i, stretchAlone);
            stretch = i;
        }
        stretchAlone = alone;
        i = next;
    }
    if (end > stretch)
        visit(stretch, end, stretchAlone);
}

} // namespace corvantix
