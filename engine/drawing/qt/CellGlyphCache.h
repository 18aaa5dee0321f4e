// The glyphs of one cell's text, shaped once per (font, text) and reused.
//
// Cells are placed on the grid one by one, so a glyph must be tied to its cell: each cell's
// text is shaped on its own (by the shaper and font fallback the GPU renderer uses too) and
// cached; combining marks keep their offsets from the cell's first glyph. Plain ASCII skips
// the shaper: its glyphs come straight from the font's character map.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include <QFont>
#include <QList>
#include <QPointF>
#include <QRawFont>

#include "drawing/RunStyle.h"

namespace corvantix {

// Glyphs of one font, positioned relative to the cell's origin on the baseline (y downward).
struct ShapedGlyphRun {
    QRawFont font;
    QList<quint32> glyphs;
    QList<QPointF> positions;
};

// All glyphs of one cell's text.
struct ShapedCell {
    std::vector<ShapedGlyphRun> runs;
};

// The glyphs of one cell's text set in `font`, with fallback fonts for characters it lacks,
// placed from the cell's origin on the baseline. Marks that the shaper would set after their
// base (a font that gives them an advance, or a mark from another font than its base's) are
// centred on the base, so that nothing of a cell reaches into the next. Both drawing paths
// shape a cell through this.
ShapedCell shapeCellText(const QRawFont& font, std::u16string_view text);

class CellGlyphCache {
public:
    // The shaped cells are forgotten when this many are held before an insertion.
    static constexpr std::size_t limit = 4096;

    using Fonts = std::array<QFont, 4>; // in FontSlot order

    // New fonts (by value) drop everything shaped with the old ones.
    void setFonts(const Fonts& fonts);
    const QFont& font(FontSlot slot) const { return fonts_[static_cast<size_t>(slot)]; }
    const QRawFont& rawFont(FontSlot slot) const { return raw_[static_cast<size_t>(slot)]; }

    // The glyph of an ASCII character in the slot's own font, or nothing when the font has
    // none (the text then goes through shape()).
    bool asciiGlyph(FontSlot slot, char16_t character, quint32& glyph);

    // The shaped glyphs of a cell's text drawn in the slot's font, with fallback fonts for
    // characters it lacks.
    const ShapedCell& shape(FontSlot slot, std::u16string_view text);

    std::size_t size() const { return cache_.size(); }

private:
    struct Key {
        FontSlot slot;
        std::u16string text;
        friend bool operator==(const Key&, const Key&) = default;
    };
    struct KeyHash {
        std::size_t operator()(const Key& key) const
        {
            return std::hash<std::u16string>()(key.text) * 31u + static_cast<std::size_t>(key.slot);
        }
    };

    ShapedCell shapeUncached(FontSlot slot, std::u16string_view text) const;

    Fonts fonts_;
    std::array<QRawFont, 4> raw_;
    // 0: not looked up yet; 1: the font has no glyph; otherwise the glyph index + 2.
    std::array<std::array<quint32, 128>, 4> ascii_{};
    std::unordered_map<Key, ShapedCell, KeyHash> cache_;
};

} // namespace corvantix
