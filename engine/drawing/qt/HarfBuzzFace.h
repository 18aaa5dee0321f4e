// HarfBuzz over a toolkit raw font, shared by the painter's cluster shaping and the GPU
// renderer's text shaper.
#pragma once

#include <QRawFont>
#include <QString>

#include <hb.h>

#include <bitset>
#include <optional>
#include <string_view>
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
    // Drawn on another glyph: the font classes it as a mark, or it takes no room of its own.
    bool mark = false;
};

// Shapes text[start, start + length) in `font`, left to right, with the rest of the text as
// context. Nothing when the shaper could not allocate its buffer.
std::optional<std::vector<HarfBuzzGlyph>> shapeWithHarfBuzz(std::u16string_view text, int start, int length,
                                                            const QRawFont& font);

// The ASCII characters whose glyphs some substitution of the font looks at (as input or as
// context, in any script, language or feature): shaped beside their neighbours, they may
// change or change them. Those that no substitution looks at come out of the shaper as the
// character map gives them, whatever surrounds them.
std::bitset<128> substitutedAscii(const QRawFont& font);

// The ASCII characters the font has and no substitution looks at. Worked out once per font.
std::bitset<128> asciiDrawnAlone(const QRawFont& font);

// Whether the font draws its glyphs from colour bitmaps: it has the bitmaps' location tables
// (small beside the bitmaps themselves) or the other vendor's bitmap table.
bool hasColourBitmaps(const QRawFont& font);

} // namespace corvantix
