#include "drawing/qt/CellGlyphCache.h"

#include <optional>

#include <QGlyphRun>
#include <QTextLayout>
#include <QTextOption>

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
    ShapedCell cell;
    const QString string = QString::fromUtf16(text.data(), static_cast<qsizetype>(text.size()));
    QTextLayout layout(string, font(slot));
    QTextOption option;
    option.setTextDirection(Qt::LeftToRight);
    option.setWrapMode(QTextOption::NoWrap);
    layout.setTextOption(option);
    layout.setCacheEnabled(false);
    layout.beginLayout();
    QTextLine line = layout.createLine();
    if (!line.isValid()) {
        layout.endLayout();
        return cell;
    }
    line.setPosition(QPointF(0, 0));
    layout.endLayout();

    const double baseline = line.ascent();
    std::optional<double> firstX;
    for (const QGlyphRun& run : layout.glyphRuns()) {
        ShapedGlyphRun shaped;
        shaped.font = run.rawFont();
        shaped.glyphs = run.glyphIndexes();
        shaped.positions = run.positions();
        if (shaped.glyphs.isEmpty())
            continue;
        if (!firstX)
            firstX = shaped.positions.front().x();
        for (QPointF& p : shaped.positions)
            p = QPointF(p.x() - *firstX, p.y() - baseline);
        cell.runs.push_back(std::move(shaped));
    }
    return cell;
}

} // namespace corvantix
