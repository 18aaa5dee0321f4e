// Turns one glyph of one font into a bitmap for the glyph atlases. Backed by QRawFont and
// QPainter with grayscale antialiasing: a glyph drawn in white over transparency then has
// equal colour channels in every pixel, so a pixel whose channels differ marks a colour
// glyph (emoji). Subpixel (LCD) output would defeat that test and is never asked for.
#pragma once

#include <optional>
#include <string>
#include <unordered_map>

#include <QFont>
#include <QRawFont>

#include "gpu/GlyphAtlas.h"

namespace corvantix {

// The hinting that stands for font smoothing: on, the system's choice (the painter's too);
// off, outlines as drawn, unhinted.
QFont::HintingPreference metalHintingPreference(bool fontSmoothing);

class CoreTextGlyphRasterizer {
public:
    // Font smoothing has no grayscale meaning here; it chooses the hinting of the fonts the
    // glyphs come from instead (metalHintingPreference), which the renderer applies when it
    // makes its fonts from the view's.
    bool fontSmoothing = true;

    // The glyph's bitmap, its bounds filling it; none for a glyph with empty bounds (a space).
    // Every glyph of a bitmap colour font (emoji pictures) is a colour glyph, whatever its
    // pixels; in other fonts a glyph is one when its pixels are not all grey.
    std::optional<GlyphBitmap> rasterize(const QRawFont& font, quint32 glyph) const;

private:
    // Whether a font draws its glyphs from colour bitmaps, by family and style: asking the
    // font copies a table.
    bool drawsColourBitmaps(const QRawFont& font) const;
    mutable std::unordered_map<std::string, bool> colourBitmapFonts_;
};

} // namespace corvantix
