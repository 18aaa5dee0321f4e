#include "drawing/qt/CellGlyphCache.h"

#include <QFontDatabase>
#include <QGlyphRun>
#include <QStringList>
#include <QTextLayout>
#include <QTextOption>

#include <unicode/uchar.h>

#include <algorithm>
#include <optional>

#include "drawing/EmojiPresentation.h"
#include "drawing/qt/HarfBuzzFace.h"

namespace corvantix {

namespace {

// The installed colour emoji family, looked up once; empty when there is none.
const QString& colourEmojiFamily()
{
    static const QString family = [] {
        const QStringList installed = QFontDatabase::families();
        for (const char* candidate : {"Noto Color Emoji", "Twemoji", "JoyPixels", "EmojiOne Color", "Apple Color Emoji",
                                      "Segoe UI Emoji"}) {
            const QString name = QString::fromLatin1(candidate);
            if (installed.contains(name))
                return name;
        }
        return QString();
    }();
    return family;
}

// Shapes a whole cluster in one font: the sequences the font joins into one picture (ZWJ
// sequences, keycaps, flags) come out as one glyph. None when the font lacks a character of
// it (variation selectors aside, which the shaper consumes) or shaping fails.
std::optional<ShapedGlyphRun> shapeClusterInFont(const QString& text, const QRawFont& font)
{
    if (!font.isValid() || text.isEmpty())
        return std::nullopt;
    for (qsizetype i = 0; i < text.size(); ++i) {
        char32_t scalar = text[i].unicode();
        if (text[i].isHighSurrogate() && i + 1 < text.size() && text[i + 1].isLowSurrogate()) {
            scalar = QChar::surrogateToUcs4(text[i], text[i + 1]);
            ++i;
        }
        if (!(scalar >= 0xFE00 && scalar <= 0xFE0F) && !font.supportsCharacter(static_cast<uint>(scalar)))
            return std::nullopt;
    }
    const std::optional<std::vector<HarfBuzzGlyph>> shaped =
        shapeWithHarfBuzz(text, 0, static_cast<int>(text.size()), font);
    if (!shaped || shaped->empty())
        return std::nullopt;
    ShapedGlyphRun run;
    run.font = font;
    double pen = 0;
    for (const HarfBuzzGlyph& glyph : *shaped) {
        if (glyph.glyph == 0)
            return std::nullopt;
        run.glyphs.append(glyph.glyph);
        // HarfBuzz counts y upward, the cell downward.
        run.positions.append(QPointF(pen + glyph.xOffset, -glyph.yOffset));
        pen += glyph.xAdvance;
    }
    return run;
}

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
    ShapedCell cell;
    const QString string = QString::fromUtf16(text.data(), static_cast<qsizetype>(text.size()));
    QFont cellFont = font(slot);
    const bool picture = clusterPrefersEmojiPresentation(text);
    if (picture && !colourEmojiFamily().isEmpty()) {
        // The whole cluster in the colour font when it draws all of it: the toolkit's layout
        // would hand a selector or joiner the font lacks to another font and split the
        // sequence into its parts, each a picture of its own.
        QRawFont colour = QRawFont::fromFont(QFont(colourEmojiFamily()));
        if (colour.familyName() == colourEmojiFamily() && raw_[static_cast<size_t>(slot)].pixelSize() > 0) {
            colour.setPixelSize(raw_[static_cast<size_t>(slot)].pixelSize());
            if (std::optional<ShapedGlyphRun> run = shapeClusterInFont(string, colour)) {
                cell.runs.push_back(std::move(*run));
                return cell;
            }
        }
    }
    if (picture && !colourEmojiFamily().isEmpty()) {
        QStringList families{colourEmojiFamily()};
        families.append(cellFont.families().isEmpty() ? QStringList{cellFont.family()} : cellFont.families());
        cellFont.setFamilies(families);
    }
    QTextLayout layout(string, cellFont);
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

    // The toolkit hands out one run per font in no fixed order (an emoji and its variation
    // selector may come from two fonts). Each run starts with its first character's glyph;
    // the leftmost of those is the cell's first glyph, and the runs are kept in that order
    // so that the cell draws the same every time.
    const double baseline = line.ascent();
    for (const QGlyphRun& run : layout.glyphRuns()) {
        ShapedGlyphRun shaped;
        shaped.font = run.rawFont();
        shaped.glyphs = run.glyphIndexes();
        shaped.positions = run.positions();
        if (shaped.glyphs.isEmpty() || shaped.positions.size() != shaped.glyphs.size())
            continue;
        cell.runs.push_back(std::move(shaped));
    }
    if (cell.runs.empty())
        return cell;
    std::stable_sort(cell.runs.begin(), cell.runs.end(), [](const ShapedGlyphRun& a, const ShapedGlyphRun& b) {
        return a.positions.front().x() < b.positions.front().x();
    });
    const double firstX = cell.runs.front().positions.front().x();
    for (ShapedGlyphRun& run : cell.runs) {
        for (QPointF& p : run.positions)
            p = QPointF(p.x() - firstX, p.y() - baseline);
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
