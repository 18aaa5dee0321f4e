// Every script of the fonts scripts/install-deps installs, one letter each, set in the
// terminal's font: both drawing paths find a font that draws it (no missing-glyph box), and
// the same font. Run through the tests' fontconfig file, which shows exactly those fonts.
#include "GLTestSupport.h"

#include <fontconfig/fontconfig.h>
#include <unicode/uchar.h>
#include <unicode/uscript.h>

#include <cstdio>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "drawing/qt/CellGlyphCache.h"

namespace corvantix {
namespace {

using namespace gltest;

// The package of each font family the sweep needs, as scripts/install-deps names it.
struct RequiredFamily {
    const char* family;
    const char* package;
};
constexpr RequiredFamily requiredFamilies[] = {
    {"DejaVu Sans Mono", "fonts-dejavu-core"},
    {"DejaVu Sans Condensed", "fonts-dejavu-extra"},
    {"Noto Sans Thaana", "fonts-noto-core"},
    {"Noto Sans CJK JP", "fonts-noto-cjk"},
    {"Noto Color Emoji", "fonts-noto-color-emoji"},
};

bool familyInstalled(const char* family)
{
    const std::unique_ptr<FcPattern, void (*)(FcPattern*)> pattern(FcPatternCreate(), FcPatternDestroy);
    FcPatternAddString(pattern.get(), FC_FAMILY, reinterpret_cast<const FcChar8*>(family));
    const std::unique_ptr<FcObjectSet, void (*)(FcObjectSet*)> objects(FcObjectSetBuild(FC_FAMILY, nullptr),
                                                                       FcObjectSetDestroy);
    const std::unique_ptr<FcFontSet, void (*)(FcFontSet*)> fonts(FcFontList(nullptr, pattern.get(), objects.get()),
                                                                 FcFontSetDestroy);
    return fonts && fonts->nfont > 0;
}

// The first letter of each script (Common, Inherited and unknown aside) in the character sets
// of the fonts fontconfig lists, with the family it was found in.
std::map<UScriptCode, std::pair<char32_t, std::string>> scriptSamples()
{
    std::map<UScriptCode, std::pair<char32_t, std::string>> samples;
    const std::unique_ptr<FcPattern, void (*)(FcPattern*)> pattern(FcPatternCreate(), FcPatternDestroy);
    const std::unique_ptr<FcObjectSet, void (*)(FcObjectSet*)> objects(
        FcObjectSetBuild(FC_FAMILY, FC_CHARSET, nullptr), FcObjectSetDestroy);
    const std::unique_ptr<FcFontSet, void (*)(FcFontSet*)> fonts(FcFontList(nullptr, pattern.get(), objects.get()),
                                                                 FcFontSetDestroy);
    if (!fonts)
        return samples;
    for (int i = 0; i < fonts->nfont; ++i) {
        FcCharSet* charset = nullptr;
        FcChar8* family = nullptr;
        if (FcPatternGetCharSet(fonts->fonts[i], FC_CHARSET, 0, &charset) != FcResultMatch
            || FcPatternGetString(fonts->fonts[i], FC_FAMILY, 0, &family) != FcResultMatch)
            continue;
        FcChar32 map[FC_CHARSET_MAP_SIZE];
        FcChar32 next = 0;
        for (FcChar32 base = FcCharSetFirstPage(charset, map, &next); base != FC_CHARSET_DONE;
             base = FcCharSetNextPage(charset, map, &next)) {
            for (int word = 0; word < FC_CHARSET_MAP_SIZE; ++word) {
                for (int bit = 0; map[word] != 0 && bit < 32; ++bit) {
                    if ((map[word] & (1u << bit)) == 0)
                        continue;
                    const auto scalar = static_cast<UChar32>(base + word * 32 + bit);
                    UErrorCode error = U_ZERO_ERROR;
                    const UScriptCode script = uscript_getScript(scalar, &error);
                    if (U_FAILURE(error) || script == USCRIPT_COMMON || script == USCRIPT_INHERITED
                        || script == USCRIPT_UNKNOWN || samples.contains(script) || !u_isalpha(scalar))
                        continue;
                    samples.emplace(script, std::pair(static_cast<char32_t>(scalar),
                                                      std::string(reinterpret_cast<const char*>(family))));
                }
            }
        }
    }
    return samples;
}

std::u16string utf16(char32_t scalar)
{
    std::u16string text;
    if (scalar < 0x10000) {
        text.push_back(static_cast<char16_t>(scalar));
    } else {
        text.push_back(static_cast<char16_t>(0xD800 + ((scalar - 0x10000) >> 10)));
        text.push_back(static_cast<char16_t>(0xDC00 + ((scalar - 0x10000) & 0x3FF)));
    }
    return text;
}

class FontSweepGLTest : public GLViewRowsTest {
protected:
    void SetUp() override
    {
        GLContextTest::SetUp();
        startRendererOnView(QRect(0, 0, 320, 200));
    }
};

TEST_F(FontSweepGLTest, EveryInstalledScriptIsDrawnFromAFontByBothPathsAlike)
{
    for (const RequiredFamily& required : requiredFamilies) {
        if (!familyInstalled(required.family))
            FAIL() << "the font package " << required.package << " is missing (no " << required.family
                   << "); install it with scripts/install-deps";
    }
    const auto samples = scriptSamples();
    // fonts-noto-core alone covers well over a hundred scripts.
    ASSERT_GT(samples.size(), 100u);

    CellGlyphCache painter;
    painter.setFonts({view->fontSet.normal, view->fontSet.bold, view->fontSet.italic, view->fontSet.boldItalic});
    const QRawFont gpuFont = QRawFont::fromFont(view->fontSet.normal);
    int boxes = 0;
    for (const auto& [script, sample] : samples) {
        const auto& [scalar, family] = sample;
        const std::u16string text = utf16(scalar);
        const char* name = uscript_getName(script);
        const ShapedCell& painted = painter.shape(FontSlot::normal, text);
        const auto drawn = renderer->shapeCell(QString::fromUtf16(text.data(), static_cast<qsizetype>(text.size())),
                                               gpuFont);
        const auto missing = [](const auto& glyphs) {
            return glyphs.empty() || std::any_of(glyphs.begin(), glyphs.end(), [](quint32 g) { return g == 0; });
        };
        const bool painterBox = painted.runs.empty() || missing(painted.runs.front().glyphs);
        const bool gpuBox = !drawn || drawn->glyphRuns.empty() || missing(drawn->glyphRuns.front().glyphs);
        EXPECT_FALSE(painterBox) << name << " U+" << std::hex << static_cast<unsigned>(scalar)
                                 << " (covered by " << family << ") is a missing-glyph box in the painter";
        EXPECT_FALSE(gpuBox) << name << " U+" << std::hex << static_cast<unsigned>(scalar) << " (covered by "
                             << family << ") is a missing-glyph box on the GPU";
        boxes += painterBox || gpuBox ? 1 : 0;
        if (!painterBox && !gpuBox) {
            EXPECT_EQ(painted.runs.front().font.familyName().toStdString(),
                      drawn->glyphRuns.front().font.familyName().toStdString())
                << name << " U+" << std::hex << static_cast<unsigned>(scalar) << ": the two paths chose two fonts";
        }
    }
    std::printf("%zu scripts swept, %d drawn as boxes\n", samples.size(), boxes);
}

} // namespace
} // namespace corvantix
