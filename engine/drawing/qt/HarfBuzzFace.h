// HarfBuzz over a toolkit raw font, shared by the painter's cluster shaping and the GPU
// renderer's text shaper.
#pragma once

#include <QRawFont>
#include <QString>

#include <hb.h>

#include <optional>
#include <vector>

namespace corvantix {

// A face that reads `font`'s tables as HarfBuzz asks for them; it keeps its own copy of the
// font. The caller destroys it.
hb_face_t* makeHarfBuzzFace(const QRawFont& font);

// One glyph as HarfBuzz shaped it: the glyph, the UTF-16 index of the text it came from, and
// its offset and advance in pixels (y counted upward, as HarfBuzz counts it).
struct HarfBuzzGlyph {
    unsigned glyph = 0;
    int cluster = 0;
    double xOffset = 0;
    double yOffset = 0;
    double xAdvance = 0;
    double yAdvance = 0;
};

// Shapes text[start, start + length) in `font`, left to right, with the rest of the text as
// context. Nothing when the shaper could not allocate its buffer.
std::optional<std::vector<HarfBuzzGlyph>> shapeWithHarfBuzz(const QString& text, int start, int length,
                                                            const QRawFont& font);

// Whether the font draws its glyphs from colour bitmaps: it has the bitmaps' location tables
// (small beside the bitmaps themselves) or the other vendor's bitmap table.
bool hasColourBitmaps(const QRawFont& font);

} // namespace corvantix
