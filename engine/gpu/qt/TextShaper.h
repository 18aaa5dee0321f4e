// Shaping of one run of text in one font, with the position of every glyph and the UTF-16
// index of the text it came from. Backed by HarfBuzz over the font's own tables (the glyph
// runs Qt hands out carry no string indices). The run is always laid out left to right: the
// row layout has already put bidirectional text in display order.
#pragma once

#include <optional>
#include <vector>

#include <QPointF>
#include <QRawFont>
#include <QString>

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

// None for empty text or a font that cannot be shaped.
std::optional<ShaperRun> shapeTextRun(const QString& text, const QRawFont& font);

} // namespace corvantix
