#include "drawing/qt/CellGlyphCache.h"

#include <gtest/gtest.h>

#include <QFontDatabase>

#include <string>

namespace corvantix {
namespace {

const QString colourFamily = QStringLiteral("Noto Color Emoji");

class CellGlyphCacheTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        if (!QFontDatabase::families().contains(colourFamily))
            GTEST_SKIP() << "no colour emoji font installed";
        QFont font(QStringLiteral("DejaVu Sans Mono"));
        font.setPixelSize(14);
        cache.setFonts({font, font, font, font});
    }
    // The run drawn in the colour emoji font, if any.
    const ShapedGlyphRun* colourRun(std::u16string_view text)
    {
        for (const ShapedGlyphRun& run : cache.shape(FontSlot::normal, text).runs)
            if (run.font.familyName() == colourFamily)
                return &run;
        return nullptr;
    }
    CellGlyphCache cache;
};

TEST_F(CellGlyphCacheTest, EmojiPresentationPicksTheColourFont)
{
    struct Case { std::u16string text; bool colour; };
    const Case cases[] = {
        {u"\U0001F600", true},           // emoji by default (other fonts have a monochrome one)
        {u"\U0001F600\uFE0E", false},    // asked for as text
        {u"\u263A", false},              // text by default
        {u"\u263A\uFE0F", true},         // asked for as emoji
        {u"\U0001F1EB\U0001F1F7", true}, // a flag
        {u"\u6F22", false},              // CJK stays with the text fonts
    };
    for (const Case& c : cases)
        EXPECT_EQ(colourRun(c.text) != nullptr, c.colour) << static_cast<int>(c.text[0]);
}

TEST_F(CellGlyphCacheTest, GlyphsFromTwoFontsStartAtTheFirstCharacter)
{
    // The selector may come from another font, in a run of its own; the emoji stays at the
    // cell's origin and is drawn first, whatever order the runs came in.
    const ShapedCell& cell = cache.shape(FontSlot::normal, u"\u263A\uFE0F");
    const ShapedGlyphRun* emoji = colourRun(u"\u263A\uFE0F");
    ASSERT_NE(emoji, nullptr);
    EXPECT_EQ(emoji->positions.front().x(), 0.0);
    EXPECT_EQ(&cell.runs.front(), emoji);
    for (const ShapedGlyphRun& run : cell.runs)
        for (const QPointF& p : run.positions)
            EXPECT_GE(p.x(), 0.0);
}

// A sequence the colour font joins into one picture is shaped whole in it: one glyph, at the
// cell's origin, also when a selector or joiner in it is missing from the font's map.
TEST_F(CellGlyphCacheTest, EmojiSequencesAreOnePictureInTheColourFont)
{
    const std::u16string sequences[] = {
        u"\U0001F3F3\uFE0F\u200D\U0001F308",          // rainbow flag: a text-default base, selector, joiner
        u"\u2764\uFE0F\u200D\U0001F525",              // heart on fire
        u"\U0001F468\u200D\U0001F4BB",                // technologist
        u"\U0001F469\u200D\U0001F469\u200D\U0001F467", // family
        u"1\uFE0F\u20E3",                             // keycap
        u"\U0001F44D\U0001F3FD",                       // skin tone
    };
    for (const std::u16string& text : sequences) {
        SCOPED_TRACE(static_cast<int>(text[0]));
        const ShapedCell& cell = cache.shape(FontSlot::normal, text);
        ASSERT_EQ(cell.runs.size(), 1u);
        EXPECT_EQ(cell.runs[0].font.familyName(), colourFamily);
        EXPECT_EQ(cell.runs[0].glyphs.size(), 1);
        EXPECT_EQ(cell.runs[0].positions.value(0), QPointF(0, 0));
    }
    // Asked for as text, the heart stays out of the colour font.
    EXPECT_EQ(colourRun(u"\u2764\uFE0E"), nullptr);
}

} // namespace
} // namespace corvantix
