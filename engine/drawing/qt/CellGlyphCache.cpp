#include "drawing/qt/CellGlyphCache.h"

#include <unicode/uchar.h>

#include <algorithm>
#include <optional>

#include "drawing/qt/TextShaper.h"

namespace corvantix {

namespace {

// A base character followed only by non-spacing or enclosing marks: everything it draws
// belongs on the base's cell.
bool isBaseWithMarks(std::u16string_view text)
{
    bool first = true;
    for (size_t i = 0; i < text.size(); ++i) {
        char32_t scalar = text[i];
        if (scalar >= 0xD800 && scalar < 0xDC00 && i + 1 < text.size() && text[i + 1] >= 0xDC00 && text[i + 1] < 0xE000) {
            scalar = 0x10000 + ((scalar - 0xD800) << 10) + (text[i + 1] - 0xDC00);
            ++i;
        }
        if (first) {
            first = false;
            continue;
        }
        const int8_t type = u_charType(static_cast<UChar32>(scalar));
        if (type != U_NON_SPACING_MARK && type != U_ENCLOSING_MARK)
            return false;
    }
    return !first;
}

} // namespace

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

ShapedCell shapeCellText(const QRawFont& font, std::u16string_view text)
{
    ShapedCell cell;
    const QString string = QString::fromUtf16(text.data(), static_cast<qsizetype>(text.size()));
    const std::optional<ShaperRun> shaped = shapeTextRun(string, font);
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
    if (cell.runs.empty())
        return cell;
    // The leftmost run's first glyph is the cell's first glyph; runs are kept in that order
    // so that the cell draws the same every time.
    std::stable_sort(cell.runs.begin(), cell.runs.end(), [](const ShapedGlyphRun& a, const ShapedGlyphRun& b) {
        return a.positions.front().x() < b.positions.front().x();
    });
    const double firstX = cell.runs.front().positions.front().x();
    for (ShapedGlyphRun& run : cell.runs) {
        for (QPointF& p : run.positions)
            p.setX(p.x() - firstX);
    }

    // Many monospace fonts give their marks a full advance and no attachment, so the shaper
    // sets them after the base, in the next cell. Such a mark is centred on the base instead.
    // A mark from another font than its base (the cell's font lacks it) cannot be attached
    // to it: the shaper leaves it at the base's advance, where its ink, drawn for that other
    // font's letters, lands half in the next cell; its ink is centred on the base. Marks the
    // cell's font attached (no advance of their own) keep the shaper's position.
    if (isBaseWithMarks(text) && text.size() > 1) {
        const ShapedGlyphRun& baseRun = cell.runs.front();
        const QList<QPointF> baseAdvances = baseRun.font.advancesForGlyphIndexes(QList<quint32>{baseRun.glyphs.front()});
        const double baseAdvance = baseAdvances.isEmpty() ? 0.0 : baseAdvances.front().x();
        for (size_t r = 0; r < cell.runs.size(); ++r) {
            ShapedGlyphRun& run = cell.runs[r];
            const QList<QPointF> advances = run.font.advancesForGlyphIndexes(run.glyphs);
            for (qsizetype k = r == 0 ? 1 : 0; k < run.glyphs.size() && k < advances.size(); ++k) {
                const double advance = advances[k].x();
                if (advance > 0.01) {
                    run.positions[k].setX((baseAdvance - advance) / 2.0);
                } else if (r != 0) {
                    const QRectF ink = run.font.boundingRect(run.glyphs[k]);
                    if (ink.width() > 0)
                        run.positions[k].setX((baseAdvance - ink.width()) / 2.0 - ink.x());
                }
            }
        }
    }
    return cell;
}

} // namespace corvantix
