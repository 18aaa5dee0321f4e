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
bool shapeFontRun(const QString& text, int start, int length, const QRawFont& font, QPointF& pen, ShaperRun& result)
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
    for (const FontRun& run : fontRuns(text, font, lookup)) {
        if (!shapeFontRun(text, run.start, run.length, run.font, pen, result))
            return std::nullopt;
    }
    result.glyphCount = static_cast<int>(result.stringIndices.size());
    return result;
}

} // namespace corvantix
