#include "drawing/qt/CellGlyphCache.h"

#include <algorithm>
#include <optional>

#include "drawing/qt/HarfBuzzFace.h"
#include "drawing/qt/TextShaper.h"

namespace corvantix {

void CellGlyphCache::setFonts(const Fonts& fonts)
{
    bool same = true;
    for (size_t i = 0; i < fonts.size(); ++i) {
        if (!(fonts[i] == fonts_[i]) || !raw_[i].isValid())
            same = false;
    }
    if (same)
        return;
    fonts_ = fonts;
    for (size_t i = 0; i < fonts.size(); ++i)
        raw_[i] = QRawFont::fromFont(fonts[i]);
    ascii_ = {};
    cache_.clear();
    runs_.clear();
    drawnAlone_ = {};
}

bool CellGlyphCache::asciiGlyph(FontSlot slot, char16_t character, quint32& glyph)
{
    if (character >= 128)
        return false;
    quint32& entry = ascii_[static_cast<size_t>(slot)][character];
    if (entry == 0) {
        const QRawFont& raw = rawFont(slot);
        const QChar c(character);
        quint32 index = 0;
        int count = 1;
        if (raw.isValid() && raw.supportsCharacter(c) && raw.glyphIndexesForChars(&c, 1, &index, &count)
            && count == 1 && index != 0)
            entry = index + 2;
        else
            entry = 1;
    }
    if (entry == 1)
        return false;
    glyph = entry - 2;
    return true;
}

const ShapedCell& CellGlyphCache::shape(FontSlot slot, std::u16string_view text)
{
    Key key{slot, std::u16string(text)};
    if (const auto found = cache_.find(key); found != cache_.end())
        return found->second;
    if (cache_.size() >= limit)
        cache_.clear();
    return cache_.emplace(std::move(key), shapeUncached(slot, text)).first->second;
}

ShapedCell CellGlyphCache::shapeUncached(FontSlot slot, std::u16string_view text) const
{
    return shapeCellText(rawFont(slot), text);
}

const std::bitset<128>& CellGlyphCache::drawnAlone(FontSlot slot)
{
    std::optional<std::bitset<128>>& known = drawnAlone_[static_cast<size_t>(slot)];
    if (!known)
        known = rawFont(slot).isValid() ? asciiDrawnAlone(rawFont(slot)) : std::bitset<128>();
    return *known;
}

const ShaperRun* CellGlyphCache::shapeRun(FontSlot slot, std::u16string_view packed)
{
    if (const auto found = runs_.find(RunKeyView{slot, packed}); found != runs_.end())
        return found->second ? &*found->second : nullptr;
    if (runs_.size() >= limit)
        runs_.clear();
    const auto& made =
        runs_.emplace(RunKey{slot, std::u16string(packed)}, shapeCellRun(packed, rawFont(slot))).first->second;
    return made ? &*made : nullptr;
}

ShapedCell shapeCellText(const QRawFont& font, std::u16string_view text)
{
    ShapedCell cell;
    if (text.empty())
        return cell;
    std::u16string packed;
    packCellRun(text, std::u16string_view(), packed);
    const std::optional<ShaperRun> shaped = shapeCellRun(packed, font);
    if (!shaped)
        return cell;
    for (const ShaperGlyphRun& run : shaped->glyphRuns) {
        ShapedGlyphRun placed;
        placed.font = run.font;
        const std::size_t count = std::min(run.glyphs.size(), run.positions.size());
        for (std::size_t k = 0; k < count; ++k) {
            placed.glyphs.append(run.glyphs[k]);
            // The shaper counts y upward, the cell downward.
            placed.positions.append(QPointF(run.positions[k].x(), -run.positions[k].y()));
        }
        if (!placed.glyphs.isEmpty())
            cell.runs.push_back(std::move(placed));
    }
    return cell;
}

} // namespace corvantix
