// The glyphs of styled stretches of cells, shaped once per (font, text and cells) and reused.
//
// A stretch is shaped as one text, so that letters join and form conjuncts across their
// cells, and every glyph is tied to the cell its text starts in (shapeCellRun, which the GPU
// renderer shapes with too). ASCII that no substitution of the font looks at skips the
// shaper: its glyphs come straight from the font's character map, as the shaper would give
// them.
#pragma once

#include <array>
#include <bitset>
#include <optional>
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
#include "drawing/qt/TextShaper.h"

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
// placed from the cell's origin on the baseline: a cell shaped alone by shapeCellRun.
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

    // The ASCII characters of the slot's font that draw alone (asciiDrawnAlone).
    const std::bitset<128>& drawnAlone(FontSlot slot);
    // A stretch of cells packed by packCellRun, shaped in the slot's font (shapeCellRun);
    // null when nothing could be shaped.
    const ShaperRun* shapeRun(FontSlot slot, std::u16string_view packed);

    std::size_t size() const { return cache_.size(); }
    std::size_t runCount() const { return runs_.size(); }

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

    // Stretches by slot and packed text, looked up without making a key.
    struct RunKey {
        FontSlot slot;
        std::u16string packed;
    };
    struct RunKeyView {
        FontSlot slot;
        std::u16string_view packed;
    };
    struct RunKeyHash {
        using is_transparent = void;
        std::size_t operator()(const RunKeyView& key) const
        {
            return std::hash<std::u16string_view>()(key.packed) * 31u + static_cast<std::size_t>(key.slot);
        }
        std::size_t operator()(const RunKey& key) const { return (*this)(RunKeyView{key.slot, key.packed}); }
    };
    struct RunKeyEqual {
        using is_transparent = void;
        static RunKeyView view(const RunKey& key) { return {key.slot, key.packed}; }
        static RunKeyView view(const RunKeyView& key) { return key; }
        template <typename A, typename B>
        bool operator()(const A& a, const B& b) const
        {
            return view(a).slot == view(b).slot && view(a).packed == view(b).packed;
        }
    };
    // None: the stretch could not be shaped (not asked again until the cache empties).
    std::unordered_map<RunKey, std::optional<ShaperRun>, RunKeyHash, RunKeyEqual> runs_;
    std::array<std::optional<std::bitset<128>>, 4> drawnAlone_;

    Fonts fonts_;
    std::array<QRawFont, 4> raw_;
    // 0: not looked up yet; 1: the font has no glyph; otherwise the glyph index + 2.
    std::array<std::array<quint32, 128>, 4> ascii_{};
    std::unordered_map<Key, ShapedCell, KeyHash> cache_;
};

} // namespace corvantix
