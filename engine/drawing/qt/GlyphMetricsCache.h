// The advance and ink box of a glyph, and a font at another pixel size, each made once.
//
// The font engine answers a glyph's metrics by loading the glyph, and for a colour emoji that
// means decoding its bitmap again on every ask; a font resized for one draw is a new engine,
// whose rasterised glyphs are cached for nothing. Rows of emoji redrawn at every frame paid
// for both per cell, most of the window's time on such output. A font is known by its engine
// (QRawFont equality); the cache holds its fonts, so an engine it knows cannot be replaced
// by another at the same address. Bounded: past a few dozen fonts, or a few thousand glyphs
// of one font, the entries are dropped and made again. The view keeps one for both of its
// renderers, so a glyph is measured once whichever draws it.
#pragma once

#include "drawing/CellMetrics.h"

#include <QRawFont>

#include <cstddef>
#include <optional>
#include <unordered_map>
#include <utility>
#include <vector>

namespace corvantix {

class GlyphMetricsCache {
public:
    struct Metrics {
        double advance = 0;
        GlyphBounds bounds;
    };

    static constexpr std::size_t fontLimit = 32;
    static constexpr std::size_t glyphLimit = 4096;
    static constexpr std::size_t scaledLimit = 256;

    // The horizontal advance and the ink box (y up from the baseline) of `glyph` in `font`.
    const Metrics& metrics(const QRawFont& font, quint32 glyph);
    // The fit of `glyph` of `font` into a slot `columnWidth` cells wide (glyphSlotFit, from its
    // measures here): the one rule of the rows and the caret of both renderers.
    GlyphSlotFit slotFit(const QRawFont& font, quint32 glyph, int columnWidth, const std::optional<CellDimension>& cell,
                         double baselineOffset);
    // `font` at its pixel size times `scale`.
    const QRawFont& scaled(const QRawFont& font, double scale);
    // Whether `font` draws its glyphs from colour bitmaps (a CBDT or sbix table), which
    // ignore the pen.
    bool isColorBitmapFont(const QRawFont& font);

    // How many glyph metrics are held (for tests).
    std::size_t size() const;
    // How many times a glyph's metrics were asked of its font rather than found here.
    std::size_t fontLookups() const { return fontLookups_; }

private:
    struct FontEntry {
        QRawFont font;
        std::unordered_map<quint32, Metrics> glyphs;
        std::vector<std::pair<double, QRawFont>> scaled;
        int colorBitmaps = -1; // unknown until asked
    };
    FontEntry& entry(const QRawFont& font);

    std::vector<FontEntry> fonts_;
    std::size_t fontLookups_ = 0;
};

} // namespace corvantix
