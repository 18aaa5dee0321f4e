// HarfBuzz over a toolkit raw font, shared by the painter's cluster shaping and the GPU
// renderer's text shaper.
#pragma once

#include <QRawFont>

#include <hb.h>

namespace corvantix {

// A face that reads `font`'s tables as HarfBuzz asks for them; it keeps its own copy of the
// font. The caller destroys it.
hb_face_t* makeHarfBuzzFace(const QRawFont& font);

// Whether the font draws its glyphs from colour bitmaps: it has the bitmaps' location tables
// (small beside the bitmaps themselves) or the other vendor's bitmap table.
bool hasColourBitmaps(const QRawFont& font);

} // namespace corvantix
