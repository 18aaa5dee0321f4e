#include "drawing/qt/FontFallback.h"

#include <fontconfig/fontconfig.h>
#include <unicode/uloc.h>
#include <unicode/uscript.h>

#include <QFont>
#include <QFontDatabase>
#include <QStringList>

#include <cmath>
#include <cstddef>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <unordered_map>

namespace corvantix {

namespace {

// What a fallback is looked for from: the cell font's family, weight and slant.
struct FamilyKey {
    std::u16string family;
    int weight = 400;
    bool italic = false;
    char32_t scalar = 0;
    friend bool operator==(const FamilyKey&, const FamilyKey&) = default;
};

struct FamilyKeyHash {
    std::size_t operator()(const FamilyKey& key) const
    {
        return std::hash<std::u16string>()(key.family) ^ (std::hash<char32_t>()(key.scalar) * 31u)
            ^ (static_cast<std::size_t>(key.weight) << 1) ^ static_cast<std::size_t>(key.italic);
    }
};

// A loaded fallback font: its family at one weight, slant and pixel size.
struct FontKey {
    std::u16string family;
    int weight = 400;
    bool italic = false;
    double pixelSize = 0;
    friend bool operator==(const FontKey&, const FontKey&) = default;
};

struct FontKeyHash {
    std::size_t operator()(const FontKey& key) const
    {
        return std::hash<std::u16string>()(key.family) ^ (std::hash<double>()(key.pixelSize) * 31u)
            ^ (static_cast<std::size_t>(key.weight) << 1) ^ static_cast<std::size_t>(key.italic);
    }
};

// Bounded by emptying when full, as the drawing caches are.
constexpr std::size_t familyLimit = 8192;
constexpr std::size_t fontLimit = 256;

std::u16string toU16(const QString& text)
{
    return std::u16string(reinterpret_cast<const char16_t*>(text.utf16()), static_cast<std::size_t>(text.size()));
}

// The language most likely written in the script of `scalar` ("he" for Hebrew, "dv" for
// Thaana); empty for characters shared by scripts. Fontconfig ranks the fonts made for that
// language first among those that cover the character, as the toolkit asks for a script.
std::string likelyLanguage(char32_t scalar)
{
    UErrorCode error = U_ZERO_ERROR;
    const UScriptCode script = uscript_getScript(static_cast<UChar32>(scalar), &error);
    if (U_FAILURE(error) || script == USCRIPT_COMMON || script == USCRIPT_INHERITED || script == USCRIPT_UNKNOWN)
        return {};
    const char* name = uscript_getShortName(script);
    if (name == nullptr)
        return {};
    const std::string undetermined = std::string("und_") + name;
    char likely[ULOC_FULLNAME_CAPACITY] = {};
    uloc_addLikelySubtags(undetermined.c_str(), likely, sizeof(likely), &error);
    if (U_FAILURE(error))
        return {};
    char language[ULOC_LANG_CAPACITY] = {};
    uloc_getLanguage(likely, language, sizeof(language), &error);
    if (U_FAILURE(error) || std::string_view(language) == "und")
        return {};
    return language;
}

// Fontconfig's answer: the family of the first font, in its order of preference for text in
// `family`, whose character set holds `scalar`. Empty when none does.
QString familyCovering(const QString& family, int weight, bool italic, char32_t scalar)
{
    const std::unique_ptr<FcPattern, void (*)(FcPattern*)> pattern(FcPatternCreate(), FcPatternDestroy);
    const std::unique_ptr<FcCharSet, void (*)(FcCharSet*)> wanted(FcCharSetCreate(), FcCharSetDestroy);
    if (!pattern || !wanted)
        return {};
    const QByteArray name = family.toUtf8();
    FcPatternAddString(pattern.get(), FC_FAMILY, reinterpret_cast<const FcChar8*>(name.constData()));
    FcPatternAddInteger(pattern.get(), FC_WEIGHT, FcWeightFromOpenType(weight));
    FcPatternAddInteger(pattern.get(), FC_SLANT, italic ? FC_SLANT_ITALIC : FC_SLANT_ROMAN);
    if (const std::string language = likelyLanguage(scalar); !language.empty())
        FcPatternAddString(pattern.get(), FC_LANG, reinterpret_cast<const FcChar8*>(language.c_str()));
    FcCharSetAddChar(wanted.get(), scalar);
    FcPatternAddCharSet(pattern.get(), FC_CHARSET, wanted.get());
    FcConfigSubstitute(nullptr, pattern.get(), FcMatchPattern);
    FcDefaultSubstitute(pattern.get());
    FcResult result = FcResultNoMatch;
    const std::unique_ptr<FcFontSet, void (*)(FcFontSet*)> sorted(
        FcFontSort(nullptr, pattern.get(), FcFalse, nullptr, &result), FcFontSetDestroy);
    if (!sorted)
        return {};
    // Text is drawn in the text's colour: a colour font (emoji pictures) only when no other
    // covers the character. Pictures asked for as such reach the colour font before this.
    QString colourFamily;
    for (int i = 0; i < sorted->nfont; ++i) {
        FcCharSet* covered = nullptr;
        FcChar8* found = nullptr;
        if (FcPatternGetCharSet(sorted->fonts[i], FC_CHARSET, 0, &covered) != FcResultMatch
            || !FcCharSetHasChar(covered, scalar)
            || FcPatternGetString(sorted->fonts[i], FC_FAMILY, 0, &found) != FcResultMatch)
            continue;
        const QString name = QString::fromUtf8(reinterpret_cast<const char*>(found));
        FcBool colour = FcFalse;
        if (FcPatternGetBool(sorted->fonts[i], FC_COLOR, 0, &colour) == FcResultMatch && colour) {
            if (colourFamily.isEmpty())
                colourFamily = name;
            continue;
        }
        return name;
    }
    return colourFamily;
}

// `family` as a raw font of that weight, slant and pixel size; invalid when the toolkit
// cannot load it.
QRawFont loadFamily(const QString& family, int weight, bool italic, double pixelSize)
{
    QFont query(family);
    query.setPixelSize(std::max(1, static_cast<int>(std::lround(pixelSize))));
    query.setWeight(static_cast<QFont::Weight>(weight));
    query.setStyle(italic ? QFont::StyleItalic : QFont::StyleNormal);
    QRawFont raw = QRawFont::fromFont(query);
    if (!isDrawableFont(raw))
        return QRawFont();
    // Faces come at whole pixel sizes; the text's own size is kept.
    if (raw.pixelSize() != pixelSize && pixelSize > 0)
        raw.setPixelSize(pixelSize);
    return raw;
}

} // namespace

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

QRawFont colourEmojiFontFor(const QRawFont& font)
{
    if (colourEmojiFamily().isEmpty())
        return QRawFont();
    QRawFont colour = QRawFont::fromFont(QFont(colourEmojiFamily()));
    if (!colour.isValid() || colour.familyName() != colourEmojiFamily())
        return QRawFont();
    colour.setPixelSize(font.pixelSize());
    return colour;
}

bool isDrawableFont(const QRawFont& font)
{
    return font.isValid() && !font.fontTable("cmap").isEmpty();
}

QRawFont fallbackFontFor(const QRawFont& font, char32_t scalar)
{
    static std::unordered_map<FamilyKey, std::u16string, FamilyKeyHash> families;
    static std::unordered_map<FontKey, QRawFont, FontKeyHash> fonts;
    if (!font.isValid())
        return QRawFont();
    const int weight = font.weight();
    const bool italic = font.style() != QFont::StyleNormal;

    FamilyKey familyKey{toU16(font.familyName()), weight, italic, scalar};
    auto known = families.find(familyKey);
    if (known == families.end()) {
        const QString family = familyCovering(font.familyName(), weight, italic, scalar);
        if (families.size() >= familyLimit)
            families.clear();
        known = families.emplace(std::move(familyKey), toU16(family)).first;
    }
    if (known->second.empty())
        return QRawFont();

    FontKey fontKey{known->second, weight, italic, font.pixelSize()};
    auto loaded = fonts.find(fontKey);
    if (loaded == fonts.end()) {
        const QString family = QString::fromUtf16(known->second.data(), static_cast<qsizetype>(known->second.size()));
        QRawFont raw = loadFamily(family, weight, italic, font.pixelSize());
        if (fonts.size() >= fontLimit)
            fonts.clear();
        loaded = fonts.emplace(std::move(fontKey), std::move(raw)).first;
    }
    if (!loaded->second.isValid() || !loaded->second.supportsCharacter(static_cast<uint>(scalar)))
        return QRawFont();
    return loaded->second;
}

} // namespace corvantix
