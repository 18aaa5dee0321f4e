// Shaping of one run of text in its font (and fallback fonts where it has no glyph), with the
// position of every glyph and the UTF-16 index of the text it came from. Backed by HarfBuzz
// over each font's own tables (the glyph runs Qt hands out carry no string indices). The run
// is always laid out left to right: the row layout has already put bidirectional text in
// display order. The painter's cells and the GPU renderer's runs are both shaped here, with
// the one fallback choice of FontFallback.h, so both draw a character with the same font.
#pragma once

#include <functional>
#include <optional>
#include <vector>

#include <QPointF>
#include <QRawFont>
#include <QString>

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
};

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

} // namespace corvantix
