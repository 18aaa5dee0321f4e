#include "drawing/qt/CellGlyphCache.h"
#include "drawing/qt/HarfBuzzFace.h"
#include "drawing/qt/TextShaper.h"

#include <gtest/gtest.h>

#include <QFontDatabase>

#include <unicode/uchar.h>

#include <string>
#include <tuple>
#include <vector>

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

// Cutting a run where its cells draw alone changes nothing drawn: the stretches shaped apart
// give the glyphs, and their places in their cells, that the whole run gives.
// A cluster is fitted into its wide slot as one: its marks take the base's offset and scale,
// about the base's origin, whatever font each comes from; a glyph of its own keeps its own
// fit, and so does every glyph of a run that ties none to a base.
TEST(CellRunTest, MarksTakeTheirBasesFitIntoAWideSlot)
{
    // Glyph 1 is the base (font of the first glyph run), glyph 2 its mark from another
    // font's glyph run, glyph 3 a glyph of its own.
    ShaperRun run;
    run.glyphRuns.push_back(ShaperGlyphRun{QRawFont(), {1}, {QPointF(0, 0)}, {0}});
    run.glyphRuns.push_back(ShaperGlyphRun{QRawFont(), {2, 3}, {QPointF(4, 2), QPointF(12, 0)}, {1, 2}});
    const auto fitOf = [](const QRawFont&, quint32 glyph) {
        switch (glyph) {
        case 1: return GlyphSlotFit{3, 1, 0.5};
        case 2: return GlyphSlotFit{7, 0, 1.0}; // what the mark alone would get: never asked
        default: return GlyphSlotFit{2, 0, 1.0};
        }
    };
    struct Case {
        std::vector<int> bases;
        std::vector<std::tuple<double, double, double>> expected; // x, y, scale
    };
    const Case cases[] = {
        {{0, 0, 2}, {{3, 1, 0.5}, {3 + 4 * 0.5, 1 + 2 * 0.5, 0.5}, {14, 0, 1}}},
        {{}, {{3, 1, 0.5}, {11, 2, 1}, {14, 0, 1}}},
    };
    for (const Case& c : cases) {
        run.clusterBases = c.bases;
        std::vector<FittedGlyph> fitted;
        fitGlyphsToSlots(run, fitOf, fitted);
        ASSERT_EQ(fitted.size(), c.expected.size());
        for (std::size_t i = 0; i < fitted.size(); ++i) {
            const auto [x, y, scale] = c.expected[i];
            EXPECT_DOUBLE_EQ(fitted[i].offset.x(), x) << "glyph " << i << ", " << c.bases.size() << " bases";
            EXPECT_DOUBLE_EQ(fitted[i].offset.y(), y) << "glyph " << i << ", " << c.bases.size() << " bases";
            EXPECT_DOUBLE_EQ(fitted[i].scale, scale) << "glyph " << i << ", " << c.bases.size() << " bases";
        }
    }
}

TEST(CellRunTest, StretchesCutWhereCellsDrawAloneShapeAsTheWholeRun)
{
    QFont font(QStringLiteral("DejaVu Sans Mono"));
    font.setPixelSize(14);
    const QRawFont raw = QRawFont::fromFont(font);
    ASSERT_TRUE(raw.isValid());
    struct Placed {
        quint32 glyph;
        int cell;
        double x;
        double y;
    };
    const std::u16string texts[] = {
        u"office -> x == y",
        u"ae\u0301 i\u0307j \u00EA\u0323",
        u"\u0915\u094D\u0937 ok \u0928\u092E\u0938\u094D\u0924\u0947",
        u"fi fl ffi \u05E9\u05B8\u05C1 z",
    };
    for (const std::u16string& text : texts) {
        SCOPED_TRACE(QString::fromStdU16String(text).toStdString());
        // A mark or a virama belongs to the cell before it.
        std::vector<int> ordinals;
        for (std::size_t i = 0; i < text.size(); ++i) {
            const int8_t type = u_charType(text[i]);
            const bool attached = i > 0 && (type == U_NON_SPACING_MARK || type == U_COMBINING_SPACING_MARK);
            ordinals.push_back(ordinals.empty() ? 0 : ordinals.back() + (attached ? 0 : 1));
        }
        const auto ordinalOf = [&](int index) { return ordinals[static_cast<std::size_t>(index)]; };
        const auto placed = [&](std::u16string_view packed, int from, std::vector<Placed>& into) {
            const auto run = shapeCellRun(packed, raw);
            ASSERT_TRUE(run);
            for (const ShaperGlyphRun& glyphRun : run->glyphRuns)
                for (std::size_t k = 0; k < glyphRun.glyphs.size(); ++k)
                    into.push_back({glyphRun.glyphs[k], ordinalOf(from + glyphRun.stringIndices[k]),
                                    glyphRun.positions[k].x(), glyphRun.positions[k].y()});
        };
        const int size = static_cast<int>(text.size());
        std::u16string packed;
        packCellRun(text, 0, size, ordinalOf, packed);
        std::vector<Placed> whole;
        placed(packed, 0, whole);
        std::vector<Placed> cut;
        int stretches = 0;
        forEachShapingStretch(text, 0, size, asciiDrawnAlone(raw), ordinalOf, [&](int from, int to, bool) {
            ++stretches;
            std::u16string part;
            packCellRun(text, from, to, ordinalOf, part);
            placed(part, from, cut);
        });
        EXPECT_GT(stretches, 1);
        ASSERT_EQ(cut.size(), whole.size());
        for (std::size_t i = 0; i < whole.size(); ++i) {
            EXPECT_EQ(cut[i].glyph, whole[i].glyph) << i;
            EXPECT_EQ(cut[i].cell, whole[i].cell) << i;
            EXPECT_NEAR(cut[i].x, whole[i].x, 1e-6) << i;
            EXPECT_NEAR(cut[i].y, whole[i].y, 1e-6) << i;
        }
    }
}

} // namespace
} // namespace corvantix
