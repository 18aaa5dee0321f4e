// The one choice of a font for a character the cell's font lacks, shared by the painter and
// the GPU renderer, so that both draw every character with the same font.
//
// The toolkit's own fallback cannot be used: for the scripts it counts as complex (Thaana,
// the Indic scripts, Sinhala, Syriac, Khmer, N'Ko) it refuses every font whose substitution
// table does not name the script, so a font that covers the script with positioning alone
// (Noto Sans Thaana) is never chosen and the text draws as missing-glyph boxes. Fontconfig is
// asked directly instead: its sorted list of fonts for the cell font's family and the
// language most written in the character's script, the first one whose character set holds
// the character. Answers are cached per font and character.
#pragma once

#include <QRawFont>
#include <QString>

namespace corvantix {

// The installed colour emoji family, looked up once; empty when there is none.
const QString& colourEmojiFamily();

// The colour emoji font at the pixel size of `font`; invalid when none is installed.
QRawFont colourEmojiFontFor(const QRawFont& font);

// A font that can draw and be shaped: valid and backed by a font file with a character map.
// (The toolkit hands out a box-drawing stand-in when it finds nothing; it claims every
// character, has no tables and crashes when asked its family.)
bool isDrawableFont(const QRawFont& font);

// The installed font that draws `scalar` for text set in `font`, at `font`'s pixel size, in
// its weight and style where the family has them; a colour (emoji) font only when no other
// covers it. An invalid font when no installed font covers it. Main thread only.
QRawFont fallbackFontFor(const QRawFont& font, char32_t scalar);

} // namespace corvantix
