#include "drawing/qt/TextShaper.h"

#include <unicode/uchar.h>

#include <algorithm>
#include <memory>
#include <optional>
#include <string_view>

#include "drawing/EmojiPresentation.h"
#include "drawing/qt/FontFallback.h"
#include "drawing/qt/HarfBuzzFace.h"

namespace corvantix {

namespace {

// The scalar at `index` and the number of UTF-16 units it takes; a lone surrogate is
// taken as itself.
std::pair<char32_t, int> scalarAt(const QString& text, int index)
{
    const char16_t unit = text[index].unicode();
    if (QChar::isHighSurrogate(unit) && index + 1 < text.size() && QChar::isLowSurrogate(text[index + 1].unicode()))
        return {QChar::surrogateToUcs4(unit, text[index + 1].unicode()), 2};
    return {unit, 1};
}

bool isVariationSelector(char32_t scalar)
{
    return (scalar >= 0xFE00 && scalar <= 0xFE0F) || (scalar >= 0xE0100 && scalar <= 0xE01EF);
}

bool isCombiningMark(char32_t scalar)
{
    const int8_t type = u_charType(static_cast<UChar32>(scalar));
    return type == U_NON_SPACING_MARK || type == U_ENCLOSING_MARK || type == U_COMBINING_SPACING_MARK;
}

// Belongs to the character before it rather than standing on its own: marks, joiners,
// variation selectors, emoji skin tones and tags.
bool attachesToPrevious(char32_t scalar)
{
    return scalar == 0x200C || scalar == 0x200D || isVariationSelector(scalar) || (scalar >= 0x1F3FB && scalar <= 0x1F3FF)
        || (scalar >= 0xE0020 && scalar <= 0xE007F) || isCombiningMark(scalar);
}

bool sameFont(const QRawFont& a, const QRawFont& b)
{
    return a == b || (a.familyName() == b.familyName() && a.styleName() == b.styleName() &&
                      a.pixelSize() == b.pixelSize());
}

// A combining mark: drawn on its base, from another font when the base's lacks it. Variation
// selectors are marks too, but only the base's font knows what they select.
bool isMark(char32_t scalar)
{
    return !isVariationSelector(scalar) && isCombiningMark(scalar);
}

// Where the cluster starting at `index` ends: after the marks, joiners and selectors that
// attach to it and the characters a joiner joins to it.
int clusterEnd(const QString& text, int index)
{
    const int size = static_cast<int>(text.size());
    int end = index + scalarAt(text, index).second;
    while (end < size) {
        const auto [scalar, units] = scalarAt(text, end);
        if (!attachesToPrevious(scalar) && text[end - 1].unicode() != 0x200D)
            break;
        end += units;
    }
    return end;
}

// The font draws every character of text[start, end) but the variation selectors, which the
// shaper consumes.
bool supportsCluster(const QRawFont& font, const QString& text, int start, int end)
{
    for (int index = start; index < end;) {
        const auto [scalar, units] = scalarAt(text, index);
        if (!(scalar >= 0xFE00 && scalar <= 0xFE0F) && !font.supportsCharacter(static_cast<uint>(scalar)))
            return false;
        index += units;
    }
    return true;
}

// Shapes text[start, start + length) in `font`, with the rest of the text as context, onto
// the end of `result`; the pen moves on by the run's advance.
bool shapeFontRun(std::u16string_view text, int start, int length, const QRawFont& font, QPointF& pen, ShaperRun& result)
{
    const std::optional<std::vector<HarfBuzzGlyph>> shaped = shapeWithHarfBuzz(text, start, length, font);
    if (!shaped)
        return false;
    if (shaped->empty())
        return true;
    ShaperGlyphRun run;
    run.font = font;
    run.glyphs.reserve(shaped->size());
    run.positions.reserve(shaped->size());
    run.stringIndices.reserve(shaped->size());
    for (const HarfBuzzGlyph& glyph : *shaped) {
        run.glyphs.push_back(glyph.glyph);
        run.positions.emplace_back(pen.x() + glyph.xOffset, pen.y() + glyph.yOffset);
        run.stringIndices.push_back(glyph.cluster);
        pen += QPointF(glyph.xAdvance, glyph.yAdvance);
    }
    result.positions.insert(result.positions.end(), run.positions.begin(), run.positions.end());
    result.stringIndices.insert(result.stringIndices.end(), run.stringIndices.begin(), run.stringIndices.end());
    result.glyphRuns.push_back(std::move(run));
    return true;
}

// The scalar at `index` of a cell's text and its length in units.
std::pair<char32_t, std::size_t> scalarIn(std::u16string_view text, std::size_t index)
{
    if (QChar::isHighSurrogate(text[index]) && index + 1 < text.size() && QChar::isLowSurrogate(text[index + 1]))
        return {QChar::surrogateToUcs4(text[index], text[index + 1]), 2};
    return {text[index], 1};
}

bool isNonSpacingOrEnclosingMark(char32_t scalar)
{
    const int8_t type = u_charType(static_cast<UChar32>(scalar));
    return type == U_NON_SPACING_MARK || type == U_ENCLOSING_MARK;
}

bool isRegionalIndicator(char32_t scalar)
{
    return scalar >= 0x1F1E6 && scalar <= 0x1F1FF;
}

bool isPictographic(char32_t scalar)
{
    return u_hasBinaryProperty(static_cast<UChar32>(scalar), UCHAR_EXTENDED_PICTOGRAPHIC) != 0;
}

// Where an emoji sequence that starts the text ends (a flag's second letter, a skin tone,
// selectors, tags, and what joiners join): 0 when the text starts with no picture.
std::size_t emojiSequenceEnd(std::u16string_view text)
{
    const char32_t first = scalarIn(text, 0).first;
    if (!isRegionalIndicator(first) && !isPictographic(first))
        return 0;
    std::size_t end = scalarIn(text, 0).second;
    bool joined = false;
    while (end < text.size()) {
        const auto [scalar, units] = scalarIn(text, end);
        const bool part = scalar == 0x200D || isVariationSelector(scalar) || (scalar >= 0x1F3FB && scalar <= 0x1F3FF)
            || (scalar >= 0xE0020 && scalar <= 0xE007F) || isRegionalIndicator(scalar) || (joined && isPictographic(scalar));
        if (!part)
            break;
        joined = scalar == 0x200D;
        end += units;
    }
    return end;
}

// In a cell of a base and the non-spacing or enclosing marks on it, where the text whose
// glyphs are drawn on the base begins: the cell's start when the base is one character
// (whatever else it draws belongs on it), the first mark when the base is an emoji sequence
// (whose own glyphs are the picture). None for any other cell.
std::optional<std::size_t> drawnOnBaseFrom(std::u16string_view text)
{
    if (text.empty())
        return std::nullopt;
    const auto marksFrom = [&](std::size_t from) {
        for (std::size_t i = from; i < text.size();) {
            const auto [scalar, units] = scalarIn(text, i);
            if (!isNonSpacingOrEnclosingMark(scalar))
                return false;
            i += units;
        }
        return true;
    };
    if (marksFrom(scalarIn(text, 0).second))
        return 0;
    const std::size_t sequence = emojiSequenceEnd(text);
    if (sequence > 0 && sequence < text.size() && marksFrom(sequence))
        return sequence;
    return std::nullopt;
}

// A cell shaped with nothing around it: its script is written right to left.
bool shapedAlone(std::u16string_view cell)
{
    char32_t scalar = cell.front();
    if (QChar::isHighSurrogate(cell.front()) && cell.size() > 1 && QChar::isLowSurrogate(cell[1]))
        scalar = QChar::surrogateToUcs4(cell[0], cell[1]);
    if (scalar < 0x0590)
        return false;
    const UCharDirection direction = u_charDirection(static_cast<UChar32>(scalar));
    return direction == U_RIGHT_TO_LEFT || direction == U_RIGHT_TO_LEFT_ARABIC;
}

// One glyph of a stretch as shaped, before it is placed in its cell.
struct StretchGlyph {
    int piece = 0; // index of the font piece (glyph run) it belongs to
    HarfBuzzGlyph glyph;
    double x = 0; // from the stretch's origin
    double y = 0;
};

// A stretch of units shaped in one font, and whether it is shaped with no context around it.
struct FontPiece {
    int start = 0;
    int length = 0;
    QRawFont font;
    bool alone = false;
};

} // namespace

std::vector<FontRun> fontRuns(const QString& text, const QRawFont& font, const FallbackFontLookup& lookup)
{
    std::vector<FontRun> runs;
    std::vector<QRawFont> fallbacks; // found so far, tried before asking again
    std::optional<QRawFont> colour;  // looked up at the first cluster that asks for it
    bool picture = false;            // the current cluster asks to be shown as a picture
    const int size = static_cast<int>(text.size());
    for (int index = 0; index < size;) {
        const auto [scalar, units] = scalarAt(text, index);
        const QRawFont* chosen = nullptr;
        const bool continues =
            !runs.empty() && (attachesToPrevious(scalar) || (index > 0 && text[index - 1].unicode() == 0x200D));
        if (!continues) {
            // A cluster that asks to be a picture goes whole to the colour font when that
            // draws all of it, as the painter draws it.
            const int end = clusterEnd(text, index);
            const auto cluster = std::u16string_view(reinterpret_cast<const char16_t*>(text.utf16()) + index,
                                                     static_cast<std::size_t>(end - index));
            picture = clusterPrefersEmojiPresentation(cluster);
            if (picture) {
                if (!colour)
                    colour = colourEmojiFontFor(font);
                if (colour->isValid() && supportsCluster(*colour, text, index, end))
                    chosen = &*colour;
            }
        }
        if (chosen != nullptr) {
            // The colour font takes the cluster.
        } else if (!runs.empty() && attachesToPrevious(scalar)
                   && (!isMark(scalar) || runs.back().font.supportsCharacter(static_cast<uint>(scalar)))) {
            chosen = &runs.back().font;
        } else if (font.supportsCharacter(static_cast<uint>(scalar))) {
            chosen = &font;
        } else {
            for (const QRawFont& known : fallbacks) {
                if (known.supportsCharacter(static_cast<uint>(scalar))) {
                    chosen = &known;
                    break;
                }
            }
            // A part of a picture the colour font cannot draw whole is still drawn from it
            // where it can be.
            if (!chosen && picture && colour && colour->isValid()
                && colour->supportsCharacter(static_cast<uint>(scalar)))
                chosen = &*colour;
            if (!chosen && lookup) {
                QRawFont found = lookup(font, scalar);
                if (isDrawableFont(found) && found.supportsCharacter(static_cast<uint>(scalar))) {
                    fallbacks.push_back(std::move(found));
                    chosen = &fallbacks.back();
                }
            }
            // A mark no font covers stays with its base, whose cell it is drawn in.
            if (!chosen)
                chosen = !runs.empty() && attachesToPrevious(scalar) ? &runs.back().font : &font;
        }
        // After a joiner the next character continues the sequence it joins.
        const bool joined = !runs.empty() && index > 0 && text[index - 1].unicode() == 0x200D;
        if (!runs.empty() && (joined || sameFont(runs.back().font, *chosen))) {
            runs.back().length += units;
        } else {
            runs.push_back(FontRun{index, units, *chosen});
        }
        index += units;
    }
    return runs;
}

std::optional<ShaperRun> shapeTextRun(const QString& text, const QRawFont& font, const FallbackFontLookup& lookup)
{
    if (text.isEmpty() || !font.isValid())
        return std::nullopt;
    ShaperRun result;
    QPointF pen;
    const std::u16string_view units(reinterpret_cast<const char16_t*>(text.utf16()), static_cast<std::size_t>(text.size()));
    for (const FontRun& run : fontRuns(text, font, lookup)) {
        if (!shapeFontRun(units, run.start, run.length, run.font, pen, result))
            return std::nullopt;
    }
    result.glyphCount = static_cast<int>(result.stringIndices.size());
    return result;
}

void packCellRun(std::u16string_view text, std::u16string_view cellStarts, std::u16string& packed)
{
    packed.assign(text);
    for (std::size_t i = 0; i < text.size(); ++i)
        packed.push_back(i == 0 || (i < cellStarts.size() && cellStarts[i] != u'0') ? u'1' : u'0');
}

bool drawsAlone(const std::bitset<128>& drawnAlone, char16_t unit, char32_t next)
{
    return unit < 128 && drawnAlone.test(unit) && !(next != 0 && attachesToPrevious(next));
}

std::optional<ShaperRun> shapeCellRun(std::u16string_view packed, const QRawFont& font, const FallbackFontLookup& lookup)
{
    const std::size_t size = packed.size() / 2;
    if (size == 0 || !font.isValid())
        return std::nullopt;
    const std::u16string_view text = packed.substr(0, size);
    const std::u16string_view starts = packed.substr(size, size);
    const auto cellEnd = [&](std::size_t i) {
        std::size_t next = i + 1;
        while (next < size && starts[next] == u'0')
            ++next;
        return next;
    };

    // The font of every cell as it would be alone; neighbours in one font, none of them
    // alone, are shaped as one piece.
    std::vector<FontPiece> pieces;
    for (std::size_t i = 0; i < size;) {
        const std::size_t next = cellEnd(i);
        const std::u16string_view cell = text.substr(i, next - i);
        const bool alone = shapedAlone(cell);
        const QString cellText = QString::fromUtf16(cell.data(), static_cast<qsizetype>(cell.size()));
        for (const FontRun& run : fontRuns(cellText, font, lookup)) {
            const int start = static_cast<int>(i) + run.start;
            if (!alone && !pieces.empty() && !pieces.back().alone && pieces.back().start + pieces.back().length == start
                && sameFont(pieces.back().font, run.font))
                pieces.back().length += run.length;
            else
                pieces.push_back(FontPiece{start, run.length, run.font, alone});
        }
        i = next;
    }

    std::vector<StretchGlyph> glyphs;
    glyphs.reserve(size);
    QPointF pen;
    for (std::size_t p = 0; p < pieces.size(); ++p) {
        const FontPiece& piece = pieces[p];
        // A piece alone is shaped on its own cell's text only; the others see the whole
        // stretch around them.
        std::u16string_view context = text;
        int start = piece.start;
        if (piece.alone) {
            std::size_t first = static_cast<std::size_t>(piece.start);
            while (first > 0 && starts[first] == u'0')
                --first;
            context = text.substr(first, cellEnd(first) - first);
            start = piece.start - static_cast<int>(first);
        }
        const auto shaped = shapeWithHarfBuzz(context, start, piece.length, piece.font);
        if (!shaped)
            return std::nullopt;
        const int shift = piece.start - start;
        for (const HarfBuzzGlyph& glyph : *shaped) {
            StretchGlyph placed{static_cast<int>(p), glyph, pen.x() + glyph.xOffset, pen.y() + glyph.yOffset};
            placed.glyph.cluster += shift;
            glyphs.push_back(placed);
            pen += QPointF(glyph.xAdvance, glyph.yAdvance);
        }
    }
    if (glyphs.empty())
        return std::nullopt;

    // The first unit of the cell of each unit.
    std::vector<std::size_t> cellStart(size);
    for (std::size_t i = 0; i < size; ++i)
        cellStart[i] = i == 0 || starts[i] != u'0' ? i : cellStart[i - 1];
    const auto cellOf = [&](int index) {
        return cellStart[static_cast<std::size_t>(std::clamp(index, 0, static_cast<int>(size) - 1))];
    };
    // Each cell's glyphs move so that its base glyph sits at the cell's origin.
    std::vector<int> bases(glyphs.size());
    for (std::size_t g = 0; g < glyphs.size();) {
        const std::size_t cell = cellOf(glyphs[g].glyph.cluster);
        std::size_t next = g + 1;
        while (next < glyphs.size() && cellOf(glyphs[next].glyph.cluster) == cell)
            ++next;
        const std::size_t end = cellEnd(cell);
        const std::optional<std::size_t> onBase =
            next - g > 1 ? drawnOnBaseFrom(text.substr(cell, end - cell)) : std::nullopt;
        const bool withMarks = onBase.has_value();
        const auto drawnOnBase = [&](std::size_t k) {
            return withMarks && static_cast<std::size_t>(glyphs[k].glyph.cluster) >= cell + *onBase;
        };
        // The base: the cell's first glyph that is not a mark. In a cell of a base and its
        // marks, where a font gives its marks an advance and no mark class, the glyph of the
        // base character among those.
        std::size_t base = next;
        std::size_t candidates = 0;
        for (std::size_t k = g; k < next; ++k) {
            if (!glyphs[k].glyph.mark) {
                base = base == next ? k : base;
                ++candidates;
            }
        }
        if (base == next) {
            base = g;
        } else if (candidates > 1 && withMarks) {
            const QRawFont& cellFont = pieces[static_cast<std::size_t>(glyphs[g].piece)].font;
            const QChar* first = reinterpret_cast<const QChar*>(text.data() + cell);
            quint32 nominal[2] = {};
            int count = 2;
            const int units = QChar::isHighSurrogate(text[cell]) && end - cell > 1 ? 2 : 1;
            if (cellFont.glyphIndexesForChars(first, units, nominal, &count) && count >= 1) {
                for (std::size_t k = g; k < next; ++k) {
                    if (!glyphs[k].glyph.mark && glyphs[k].glyph.glyph == nominal[0]) {
                        base = k;
                        break;
                    }
                }
            }
        }
        const double baseX = glyphs[base].x;
        for (std::size_t k = g; k < next; ++k)
            glyphs[k].x -= baseX;
        // Marks are drawn on the base; in a cell of a base and its marks, whatever else the
        // cell draws is too (after an emoji sequence, what its marks draw).
        for (std::size_t k = g; k < next; ++k)
            bases[k] = k != base && (glyphs[k].glyph.mark || drawnOnBase(k)) ? static_cast<int>(base)
                                                                              : static_cast<int>(k);

        // A cluster the shaper merged into the next cell's (a conjunct) is not a base with
        // marks of its own: its glyphs stay where the shaper put them.
        const bool merged = end < size && (next >= glyphs.size() || cellOf(glyphs[next].glyph.cluster) != end);
        if (withMarks && !merged) {
            const StretchGlyph& baseGlyph = glyphs[base];
            const QRawFont& baseFont = pieces[static_cast<std::size_t>(baseGlyph.piece)].font;
            const QList<QPointF> baseAdvances = baseFont.advancesForGlyphIndexes(QList<quint32>{baseGlyph.glyph.glyph});
            const double baseAdvance = baseAdvances.isEmpty() ? 0.0 : baseAdvances.front().x();
            for (std::size_t k = g; k < next; ++k) {
                if (k == base || !drawnOnBase(k))
                    continue;
                StretchGlyph& mark = glyphs[k];
                const QRawFont& markFont = pieces[static_cast<std::size_t>(mark.piece)].font;
                const QList<QPointF> advances = markFont.advancesForGlyphIndexes(QList<quint32>{mark.glyph.glyph});
                const double advance = advances.isEmpty() ? 0.0 : advances.front().x();
                // Many monospace fonts give their marks a full advance and no attachment,
                // so the shaper sets them after the base, in the next cell.
                if (advance > 0.01) {
                    mark.x = (baseAdvance - advance) / 2.0;
                } else {
                    // Left at the base's advance by the shaper, drawn for another font's
                    // letters, or in the base's font with nothing attaching it to this base
                    // (its ink beside the base, not over it): its ink is centred on the base.
                    const QRectF ink = markFont.boundingRect(mark.glyph.glyph);
                    const bool beside = mark.x + ink.x() >= baseAdvance - 0.5;
                    if (ink.width() > 0 && (mark.piece != baseGlyph.piece || beside))
                        mark.x = (baseAdvance - ink.width()) / 2.0 - ink.x();
                }
            }
        }
        g = next;
    }

    ShaperRun result;
    for (const StretchGlyph& glyph : glyphs) {
        if (result.glyphRuns.empty() || static_cast<int>(result.glyphRuns.size()) - 1 != glyph.piece) {
            // One glyph run per piece, empty pieces skipped.
            while (static_cast<int>(result.glyphRuns.size()) <= glyph.piece) {
                ShaperGlyphRun run;
                run.font = pieces[result.glyphRuns.size()].font;
                result.glyphRuns.push_back(std::move(run));
            }
        }
        ShaperGlyphRun& run = result.glyphRuns.back();
        run.glyphs.push_back(glyph.glyph.glyph);
        run.positions.emplace_back(glyph.x, glyph.y);
        run.stringIndices.push_back(glyph.glyph.cluster);
        result.positions.emplace_back(glyph.x, glyph.y);
        result.stringIndices.push_back(glyph.glyph.cluster);
    }
    std::erase_if(result.glyphRuns, [](const ShaperGlyphRun& run) { return run.glyphs.empty(); });
    result.glyphCount = static_cast<int>(result.stringIndices.size());
    result.clusterBases = std::move(bases);
    return result;
}

void fitGlyphsToSlots(const ShaperRun& run, const std::function<GlyphSlotFit(const QRawFont&, quint32)>& fitOf,
                      std::vector<FittedGlyph>& fitted)
{
    std::size_t total = 0;
    for (const ShaperGlyphRun& glyphRun : run.glyphRuns)
        total += glyphRun.glyphs.size();
    std::vector<GlyphSlotFit> fits(total);
    std::vector<QPointF> positions(total);
    fitted.assign(total, FittedGlyph{});
    const auto baseOf = [&](std::size_t i) {
        const int base = i < run.clusterBases.size() ? run.clusterBases[i] : static_cast<int>(i);
        return base >= 0 && static_cast<std::size_t>(base) < total ? static_cast<std::size_t>(base) : i;
    };
    // Only the glyphs fitted on their own are measured.
    std::size_t i = 0;
    for (const ShaperGlyphRun& glyphRun : run.glyphRuns) {
        for (std::size_t k = 0; k < glyphRun.glyphs.size(); ++k, ++i) {
            positions[i] = k < glyphRun.positions.size() ? glyphRun.positions[k] : QPointF();
            if (baseOf(i) == i)
                fits[i] = fitOf(glyphRun.font, glyphRun.glyphs[k]);
        }
    }
    for (i = 0; i < total; ++i) {
        const std::size_t base = baseOf(i);
        const GlyphSlotFit& fit = fits[base];
        const QPointF from = positions[base];
        fitted[i].offset = from + (positions[i] - from) * fit.scale + QPointF(fit.dx, fit.dy);
        fitted[i].scale = fit.scale;
    }
}

} // namespace corvantix
