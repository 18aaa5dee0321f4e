// Turns one glyph of one font into a bitmap for the glyph atlases. Backed by QRawFont and
// QPainter with grayscale antialiasing: a glyph drawn in white over transparency then has
// equal colour channels in every pixel, so a pixel whose channels differ marks a colour
// glyph (emoji). Subpixel (LCD) output would defeat that test and is never asked for.
#pragma once

#include <optional>

#include <QRawFont>

#include "gpu/GlyphAtlas.h"

namespace corvantix {

class CoreTextGlyphRasterizer {
public:
    // Whether fonts are scaled with full hinting (true) or none. Font smoothing has no
    // grayscale meaning here; the renderer applies it when it makes its scaled fonts.
    bool fontSmoothing = true;

    // The glyph's bitmap, its bounds filling it; none for a glyph with empty bounds (a space).
    std::optional<GlyphBitmap> rasterize(const QRawFont& font, quint32 glyph) const;
};

} // namespace corvantix
