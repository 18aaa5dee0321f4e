// The GPU renderer on a real OpenGL 3.3 core context: an X server of its own with Mesa's
// software rasteriser, so it runs on machines without a GPU.
#include "GLTestSupport.h"

#include <QApplication>
#include <QFile>
#include <QFont>
#include <QFontDatabase>
#include <QTemporaryDir>

#include <algorithm>
#include <cstdlib>
#include <ostream>
#include <tuple>

namespace corvantix {
namespace {

using namespace gltest;

class MetalRendererGLTest : public GLContextTest {
protected:
    static void writeStages(const QTemporaryDir& folder, const std::map<std::string, std::string>& stages)
    {
        for (const auto& [name, source] : stages) {
            QFile file(folder.filePath(QString::fromStdString(name) + ".glsl"));
            ASSERT_TRUE(file.open(QIODevice::WriteOnly));
            file.write(source.data(), static_cast<qint64>(source.size()));
        }
    }
};

const std::string allSevenNames =
    "terminal_text_vertex, terminal_cell_text_vertex, terminal_text_fragment, terminal_text_fragment_gray, "
    "terminal_color_vertex, terminal_cell_color_vertex, terminal_color_fragment";

TEST_F(MetalRendererGLTest, BuildsFromTheBuiltInPrograms)
{
    startRenderer();
    for (const MetalPipeline* pipeline :
         {&renderer->textPipeline(), &renderer->textGrayPipeline(), &renderer->cellTextPipeline(),
          &renderer->cellTextGrayPipeline(), &renderer->colorPipeline(), &renderer->cellColorPipeline()})
        EXPECT_TRUE(pipeline->program && pipeline->program->isLinked());
    EXPECT_EQ(renderer->textPipeline().sourceRGB, static_cast<GLenum>(GL_ONE));
    EXPECT_EQ(renderer->colorPipeline().sourceRGB, static_cast<GLenum>(GL_SRC_ALPHA));
    EXPECT_EQ(renderer->colorPipeline().sourceAlpha, static_cast<GLenum>(GL_ONE));
    EXPECT_NE(renderer->sampler(), 0u);
    EXPECT_EQ(renderer->grayscaleAtlas().format(), GlyphAtlasFormat::grayscale);
    EXPECT_EQ(renderer->colorAtlas().format(), GlyphAtlasFormat::bgra);
}

TEST_F(MetalRendererGLTest, WithoutEveryStageTheLookupFailsWithItsFixedTexts)
{
    MetalTerminalRendererOptions withheld;
    withheld.shaders.builtIn.erase("terminal_text_fragment_gray");
    EXPECT_EQ(errorOf(make(withheld)), "Failed to load Metal shader source: Apple/Metal/Shaders.metal");

    // An override folder with six of the seven stages: the message names all seven.
    QTemporaryDir folder;
    auto six = builtInMetalShaderSources();
    six.erase("terminal_color_fragment");
    writeStages(folder, six);
    withheld.shaders.overrideFolder = folder.path();
    EXPECT_EQ(errorOf(make(withheld)), "Metal library missing required function: " + allSevenNames);

    // A stage that does not compile.
    QTemporaryDir broken;
    auto stages = builtInMetalShaderSources();
    stages["terminal_color_fragment"] = "#version 330 core\nvoid main() { undefined_call(); }\n";
    writeStages(broken, stages);
    withheld.shaders.overrideFolder = broken.path();
    EXPECT_EQ(errorOf(make(withheld)).rfind("Failed to compile Metal shader source: ", 0), 0u) << errorOf(make(withheld));
}

TEST_F(MetalRendererGLTest, AnOverrideFolderStandsInForABrokenBuiltInCopy)
{
    QTemporaryDir folder;
    writeStages(folder, builtInMetalShaderSources());
    MetalTerminalRendererOptions options;
    options.shaders.builtIn["terminal_text_vertex"] = "not GLSL";
    options.shaders.overrideFolder = folder.path();
    EXPECT_EQ(errorOf(make(options)), "(built)");
}

TEST_F(MetalRendererGLTest, StagesThatDoNotLinkFailAsAPipeline)
{
    MetalTerminalRendererOptions options;
    // Compiles alone, but takes the vertex stages' colour as a value of another type.
    options.shaders.builtIn["terminal_color_fragment"] =
        "#version 330 core\nin vec3 fragColor;\nout vec4 outColor;\nvoid main() { outColor = vec4(fragColor, 1.0); }\n";
    EXPECT_EQ(errorOf(make(options)), "Failed to create Metal pipeline: text/color/cell");
}

QRawFont rawFont(const char* family, int pixelSize)
{
    QFont font(QString::fromLatin1(family));
    font.setPixelSize(pixelSize);
    return QRawFont::fromFont(font);
}

TEST_F(MetalRendererGLTest, RasterizerTellsColourGlyphsFromPlainOnes)
{
    CoreTextGlyphRasterizer rasterizer;
    const QRawFont mono = rawFont("DejaVu Sans Mono", 32);
    ASSERT_TRUE(mono.isValid());
    const auto m = mono.glyphIndexesForString(QStringLiteral("M"));
    ASSERT_EQ(m.size(), 1);
    const auto plain = rasterizer.rasterize(mono, m[0]);
    ASSERT_TRUE(plain);
    EXPECT_FALSE(plain->isColor);
    EXPECT_GT(plain->width, 10);
    EXPECT_GT(plain->height, 15);
    EXPECT_EQ(plain->bearingY, 0.0); // "M" sits on the baseline
    EXPECT_EQ(plain->pixels.size(), static_cast<std::size_t>(plain->width) * plain->height * 4);

    const auto space = mono.glyphIndexesForString(QStringLiteral(" "));
    EXPECT_EQ(rasterizer.rasterize(mono, space.value(0)), std::nullopt);

    const QRawFont emoji = rawFont("Noto Color Emoji", 32);
    ASSERT_TRUE(emoji.isValid()) << "the colour emoji font is missing: install the Debian package fonts-noto-color-emoji";
    const auto face = emoji.glyphIndexesForString(QString::fromUcs4(U"\U0001F600"));
    ASSERT_EQ(face.size(), 1);
    const auto colour = rasterizer.rasterize(emoji, face[0]);
    ASSERT_TRUE(colour);
    EXPECT_TRUE(colour->isColor);

    // A picture of a bitmap colour font is shown as it is even where it happens to be grey
    // (this font draws the family joined by U+200D in black and white); taken for a mask it
    // would be a flat square in the text colour.
    const auto family = shapeTextRun(QString::fromUtf8("\xf0\x9f\x91\xa9\xe2\x80\x8d\xf0\x9f\x91\xa9\xe2\x80\x8d"
                                                       "\xf0\x9f\x91\xa7"),
                                     emoji, nullptr);
    ASSERT_TRUE(family && family->glyphCount == 1) << "the family sequence is not one glyph";
    const auto picture = rasterizer.rasterize(emoji, family->glyphRuns[0].glyphs[0]);
    ASSERT_TRUE(picture);
    EXPECT_TRUE(picture->isColor);
}

TEST_F(MetalRendererGLTest, GlyphsLandInTheAtlasOfTheirKindOnce)
{
    startRenderer();
    const QRawFont mono = rawFont("DejaVu Sans Mono", 24);
    const quint32 m = mono.glyphIndexesForString(QStringLiteral("M")).value(0);
    const auto first = renderer->glyphEntry(mono, m);
    ASSERT_TRUE(first);
    EXPECT_EQ(first->atlasKind, GlyphAtlasKind::grayscale);
    EXPECT_EQ(first->region.x, 1);
    const auto again = renderer->glyphEntry(mono, m);
    ASSERT_TRUE(again);
    EXPECT_EQ(again->region, first->region);
    EXPECT_EQ(renderer->glyphCacheSize(), 1u);

    const QRawFont emoji = rawFont("Noto Color Emoji", 24);
    const quint32 face = emoji.glyphIndexesForString(QString::fromUcs4(U"\U0001F600")).value(0);
    const auto colour = renderer->glyphEntry(emoji, face);
    ASSERT_TRUE(colour);
    EXPECT_EQ(colour->atlasKind, GlyphAtlasKind::color);

    const auto block = renderer->drawCustomGlyph(0x2591, 8, 16, 1, false, 2.4);
    ASSERT_TRUE(block);
    EXPECT_EQ(renderer->drawCustomGlyph(0x2591, 8, 16, 1, false, 2.0)->region, block->region); // same key: scale 2
    EXPECT_EQ(renderer->customGlyphCacheSize(), 1u);
    EXPECT_EQ(renderer->drawCustomGlyph(0xE0B1, 8, 16, 1, false, 1.0), std::nullopt);
    EXPECT_EQ(glGetError(), static_cast<GLenum>(GL_NO_ERROR));
}

TEST_F(MetalRendererGLTest, AnAtlasResetDropsEveryOtherGlyphInTheSameCall)
{
    MetalTerminalRendererOptions options;
    setenv("CORVANTIX_ATLAS_MAX", "256", 1);
    MadeRenderer made = make(options);
    unsetenv("CORVANTIX_ATLAS_MAX");
    renderer = std::move(std::get<std::unique_ptr<MetalTerminalRenderer>>(made));
    ASSERT_EQ(renderer->grayscaleAtlas().maxSize(), 256);
    std::optional<CustomGlyphEntry> last;
    int drawn = 0;
    for (std::uint32_t codePoint = 0x2500; codePoint < 0x2580 && !renderer->atlasInvalidatedDuringBuild; ++codePoint) {
        last = renderer->drawCustomGlyph(codePoint, 40, 80, 2, false, 1.0);
        ++drawn;
    }
    ASSERT_TRUE(renderer->atlasInvalidatedDuringBuild);
    ASSERT_TRUE(last);
    EXPECT_EQ(last->region, (AtlasRegion{1, 1, 40, 80})); // the glyph that overflowed, at the start again
    EXPECT_EQ(renderer->customGlyphCacheSize(), 1u);
    EXPECT_GT(drawn, 10);
}

TEST_F(MetalRendererGLTest, AnImageResentUnderItsIdShowsItsNewPixels)
{
    startRenderer();
    KittyGraphicsState store;
    std::vector<std::uint8_t> pixels(5 * 5 * 4, 0x10);
    for (std::size_t alpha = 3; alpha < pixels.size(); alpha += 4)
        pixels[alpha] = 0xFF; // opaque: premultiplying keeps the colour
    const auto storeImage = [&](std::uint64_t stamp) { store.imagesById[7] = rgbaImage(5, 5, pixels, stamp); };
    storeImage(1);
    const auto first = renderer->imageDraw(store, 7);
    ASSERT_TRUE(first);
    EXPECT_EQ(renderer->imageDraw(store, 7), first); // unchanged: the same texture
    EXPECT_EQ(textureBytes(*first), pixels);

    pixels[pixels.size() - 2] = 0xEE; // past the first 64 bytes, same sizes
    storeImage(2);
    const auto second = renderer->imageDraw(store, 7);
    ASSERT_TRUE(second);
    EXPECT_NE(second, first);
    // The texture starts at the bottom row: the changed last pixel of the top-first payload
    // is the last pixel of the texture's first row.
    std::vector<std::uint8_t> bottomFirst;
    for (int row = 4; row >= 0; --row)
        bottomFirst.insert(bottomFirst.end(), pixels.begin() + row * 20, pixels.begin() + (row + 1) * 20);
    EXPECT_EQ(textureBytes(*second), bottomFirst);
    EXPECT_EQ(textureBytes(*second)[18], 0xEE);

    // Straight alpha in, premultiplied colour out, as the image program blends.
    store.imagesById[9] = store.imagesById[7];
    store.imagesById[9].payload.width = 1;
    store.imagesById[9].payload.height = 1;
    store.imagesById[9].payload.bytes = {200, 100, 50, 128};
    const auto translucent = renderer->imageDraw(store, 9);
    ASSERT_TRUE(translucent);
    EXPECT_EQ(textureBytes(*translucent), (std::vector<std::uint8_t>{100, 50, 25, 128}));

    EXPECT_EQ(renderer->imageDraw(store, 8), nullptr);
    store.imagesById[8] = store.imagesById[7];
    store.imagesById[8].payload.bytes.pop_back(); // short of width x height x 4
    EXPECT_EQ(renderer->imageDraw(store, 8), nullptr);
}

TEST_F(MetalRendererGLTest, ShapedRunsKeepTheirTextIndicesInLeftToRightOrder)
{
    startRenderer();
    const QRawFont mono = rawFont("DejaVu Sans Mono", 20);
    struct Case { QString text; std::vector<int> indices; };
    const Case cases[] = {
        {QStringLiteral("abc"), {0, 1, 2}},
        // Hebrew stays in the order given: the row layout already reordered it.
        {QString::fromUtf8("\u05E9\u05DC\u05D5\u05DD"), {0, 1, 2, 3}},
        // A character outside the basic plane takes two UTF-16 units.
        {QString::fromUcs4(U"a\U0001D400b"), {0, 1, 3}},
    };
    for (const Case& c : cases) {
        const auto run = renderer->shapeText(c.text, mono);
        ASSERT_TRUE(run) << c.text.toStdString();
        EXPECT_EQ(run->stringIndices, c.indices) << c.text.toStdString();
        EXPECT_EQ(run->glyphCount, static_cast<int>(c.indices.size()));
        ASSERT_EQ(run->positions.size(), c.indices.size());
        for (std::size_t i = 1; i < run->positions.size(); ++i)
            EXPECT_GT(run->positions[i].x(), run->positions[i - 1].x()) << c.text.toStdString();
    }
    EXPECT_EQ(renderer->shapeText(QString(), mono), std::nullopt);
    EXPECT_EQ(renderer->shaperCacheSize(), 3u);
    renderer->shapeText(QStringLiteral("abc"), rawFont("DejaVu Sans Mono", 21)); // another size: another entry
    EXPECT_EQ(renderer->shaperCacheSize(), 4u);
    // The advance of a monospaced "a" is the font's advance.
    const auto a = renderer->shapeText(QStringLiteral("aa"), mono);
    ASSERT_TRUE(a);
    const quint32 glyphA = mono.glyphIndexesForString(QStringLiteral("a")).value(0);
    EXPECT_NEAR(a->positions[1].x(), mono.advancesForGlyphIndexes(QList<quint32>{glyphA}).value(0).x(), 0.05);
}

struct FontRunCase {
    const char* name;
    std::u32string text;
    // (start, length, family) of every run
    std::vector<std::tuple<int, int, QString>> runs;
};

void PrintTo(const FontRunCase& c, std::ostream* os)
{
    *os << c.name;
}

class FontRunTest : public testing::TestWithParam<FontRunCase> {};

const QString monoFamily = QStringLiteral("DejaVu Sans Mono");
const QString emojiFamily = QStringLiteral("Noto Color Emoji");

TEST_P(FontRunTest, SplitsWhereTheFontHasNoGlyphAndNeverInsideACluster)
{
    const FontRunCase& c = GetParam();
    const QRawFont font = rawFont("DejaVu Sans Mono", 20);
    ASSERT_TRUE(font.isValid());
    const auto runs = fontRuns(QString::fromUcs4(c.text.data(), static_cast<qsizetype>(c.text.size())), font);
    std::vector<std::tuple<int, int, QString>> got;
    for (const FontRun& run : runs)
        got.emplace_back(run.start, run.length, run.font.familyName());
    EXPECT_EQ(got, c.runs);
}

INSTANTIATE_TEST_SUITE_P(
    Fallback, FontRunTest,
    testing::Values(FontRunCase{"plain text in one run", U"abc", {{0, 3, monoFamily}}},
                    FontRunCase{"an emoji between letters", U"a\U0001F600b",
                                {{0, 1, monoFamily}, {1, 2, emojiFamily}, {3, 1, monoFamily}}},
                    FontRunCase{"emoji side by side share a run", U"\U0001F600\U0001F600", {{0, 4, emojiFamily}}},
                    FontRunCase{"a combining mark stays on its letter", U"e\u0301x", {{0, 3, monoFamily}}},
                    FontRunCase{"a mark the colour font lacks comes from the text font", U"\U0001F600\u0301",
                                {{0, 2, emojiFamily}, {2, 1, monoFamily}}},
                    FontRunCase{"a selector stays with its emoji", U"a\U0001F600\uFE0Fb",
                                {{0, 1, monoFamily}, {1, 3, emojiFamily}, {4, 1, monoFamily}}},
                    FontRunCase{"a joined sequence is one run", U"\U0001F468\u200D\U0001F469", {{0, 5, emojiFamily}}},
                    FontRunCase{"a skin tone stays with its emoji", U"\U0001F44D\U0001F3FDx",
                                {{0, 4, emojiFamily}, {4, 1, monoFamily}}},
                    FontRunCase{"a character no font draws stays in the run", U"a\U0010FFFDb", {{0, 4, monoFamily}}},
                    // A cluster asking to be a picture goes whole to the colour font, even
                    // where the text font has its base.
                    FontRunCase{"a keycap is one colour run", U"a1\uFE0F\u20E3b",
                                {{0, 1, monoFamily}, {1, 3, emojiFamily}, {4, 1, monoFamily}}},
                    FontRunCase{"a text default base with the emoji selector", U"a\u2764\uFE0Fb",
                                {{0, 1, monoFamily}, {1, 2, emojiFamily}, {3, 1, monoFamily}}},
                    FontRunCase{"a flag with a selector and a joiner is one colour run",
                                U"\U0001F3F3\uFE0F\u200D\U0001F308]", {{0, 6, emojiFamily}, {6, 1, monoFamily}}},
                    FontRunCase{"an enclosing circle the text font lacks comes from a font that has it", U"a\u20DDb",
                                {{0, 1, monoFamily}, {1, 1, QStringLiteral("DejaVu Math TeX Gyre")}, {2, 1, monoFamily}}},
                    FontRunCase{"a mark no font has stays with its letter", U"a\u1DFAb", {{0, 3, monoFamily}}}),
    [](const testing::TestParamInfo<FontRunCase>& info) {
        std::string name = info.param.name;
        std::replace(name.begin(), name.end(), ' ', '_');
        return name;
    });

TEST(FontRunLookupTest, AFallbackThatCannotDrawTheCharacterIsNotUsed)
{
    const QRawFont font = rawFont("DejaVu Sans Mono", 20);
    int asked = 0;
    const auto runs = fontRuns(QString::fromUcs4(U"a\u4E00\u4E01"), font, [&](const QRawFont&, char32_t) {
        ++asked;
        return rawFont("DejaVu Serif", 20); // has no CJK
    });
    ASSERT_EQ(runs.size(), 1u);
    EXPECT_EQ(runs[0].length, 3);
    EXPECT_EQ(runs[0].font.familyName(), monoFamily);
    EXPECT_EQ(asked, 2); // an answer that cannot draw it is not remembered
}

TEST_F(MetalRendererGLTest, FallbackRunsKeepIndicesIntoTheWholeTextAndTheirOwnFont)
{
    startRenderer();
    const QRawFont font = rawFont("DejaVu Sans Mono", 20);
    const auto run = renderer->shapeText(QString::fromUcs4(U"a\U0001F600bc\U0001F601"), font);
    ASSERT_TRUE(run);
    EXPECT_EQ(run->stringIndices, (std::vector<int>{0, 1, 3, 4, 5}));
    EXPECT_EQ(run->glyphCount, 5);
    ASSERT_EQ(run->glyphRuns.size(), 4u);
    const std::vector<QString> families{monoFamily, emojiFamily, monoFamily, emojiFamily};
    const std::vector<std::vector<int>> indices{{0}, {1}, {3, 4}, {5}};
    for (std::size_t i = 0; i < run->glyphRuns.size(); ++i) {
        const ShaperGlyphRun& glyphRun = run->glyphRuns[i];
        EXPECT_EQ(glyphRun.font.familyName(), families[i]) << i;
        EXPECT_EQ(glyphRun.stringIndices, indices[i]) << i;
        for (quint32 glyph : glyphRun.glyphs)
            EXPECT_NE(glyph, 0u) << "missing glyph in run " << i;
    }
    ASSERT_EQ(run->positions.size(), 5u);
    for (std::size_t i = 1; i < run->positions.size(); ++i)
        EXPECT_GT(run->positions[i].x(), run->positions[i - 1].x()) << i;
}

// A segment's run is shaped as one text across its cells: letters form conjuncts, join and
// take their marks as the shaper gives the whole run. Cells of a right-to-left script are
// shaped alone: laid out left to right across their neighbours they would join backwards.
TEST_F(MetalRendererGLTest, RunsAreShapedAcrossTheirCellsAndRightToLeftCellsAlone)
{
    startRenderer();
    for (const char* family : {"Noto Sans Devanagari", "Noto Sans Mongolian", "Noto Sans Thaana"}) {
        if (!QFontDatabase::families().contains(QString::fromLatin1(family)))
            FAIL() << "the font package fonts-noto-core is missing (no " << family << ")";
    }
    const QRawFont mono = rawFont("DejaVu Sans Mono", 20);
    const MetalFontSet fonts{mono, QRawFont(), QRawFont(), QRawFont()};
    struct Case {
        const char* name;
        std::u16string text;
        std::vector<int> ordinals; // empty: one unit per cell
        bool whole;                // else each cell alone
    };
    const Case cases[] = {
        {"Latin", u"abc", {}, true},
        {"a Devanagari conjunct over two cells", u"\u0915\u094D\u0937", {0, 0, 1}, true},
        {"Devanagari words", u"\u0928\u092E\u0938\u094D\u0924\u0947 x", {0, 1, 2, 2, 3, 3, 4, 5}, true},
        {"Mongolian letters", u"\u1820\u182A", {}, true},
        {"a letter with its mark", u"ae\u0301x", {0, 1, 1, 2}, true},
        {"Thaana letters", u"a\u0780\u0781b", {}, false},
        {"Arabic letters", u"\u0645\u0631", {}, false},
    };
    const auto glyphsOf = [](const ShaperRun& run) {
        std::vector<quint32> glyphs;
        for (const ShaperGlyphRun& glyphRun : run.glyphRuns)
            glyphs.insert(glyphs.end(), glyphRun.glyphs.begin(), glyphRun.glyphs.end());
        return glyphs;
    };
    for (const Case& c : cases) {
        ViewLineSegment segment;
        segment.text = c.text;
        segment.runs = {{0, static_cast<int>(c.text.size()), RunStyle{}}};
        std::vector<int> ordinals = c.ordinals;
        if (!ordinals.empty()) {
            segment.utf16IsCellIdentity = false;
            segment.utf16ToCellOrdinal = ordinals;
        } else {
            for (std::size_t i = 0; i < c.text.size(); ++i)
                ordinals.push_back(static_cast<int>(i));
        }
        std::vector<quint32> expected;
        if (c.whole) {
            expected = glyphsOf(*shapeTextRun(QString::fromStdU16String(c.text), mono));
        } else {
            for (std::size_t i = 0; i < c.text.size();) {
                std::size_t next = i + 1;
                while (next < c.text.size() && ordinals[next] == ordinals[i])
                    ++next;
                const auto cell = glyphsOf(*shapeTextRun(QString::fromStdU16String(c.text.substr(i, next - i)), mono));
                expected.insert(expected.end(), cell.begin(), cell.end());
                i = next;
            }
        }
        std::vector<quint32> drawn;
        for (const ShapedRun& run : renderer->shapeSegment(segment, fonts)) {
            const auto glyphs = glyphsOf(*run.shaperRun);
            drawn.insert(drawn.end(), glyphs.begin(), glyphs.end());
        }
        EXPECT_EQ(drawn, expected) << c.name;
    }
    // The conjunct is one glyph, drawn from the first of its two cells.
    const auto conjunct = shapeTextRun(QStringLiteral("\u0915\u094D\u0937"), mono);
    ASSERT_TRUE(conjunct);
    EXPECT_EQ(conjunct->glyphCount, 1);
}

TEST_F(MetalRendererGLTest, SegmentsShapeEachStyledRunInItsSlotFont)
{
    startRenderer();
    QFont boldFont(QStringLiteral("DejaVu Sans Mono"));
    boldFont.setPixelSize(20);
    boldFont.setBold(true);
    const MetalFontSet fonts{rawFont("DejaVu Sans Mono", 20), QRawFont::fromFont(boldFont), QRawFont(), QRawFont()};
    ASSERT_NE(fonts[1].styleName(), fonts[0].styleName());

    ViewLineSegment segment;
    segment.text = u"ab\U0001F600cd";
    RunStyle bold;
    bold.font = FontSlot::bold;
    RunStyle italic;
    italic.font = FontSlot::italic;
    segment.runs = {{0, 2, RunStyle{}}, {2, 2, bold}, {4, 0, RunStyle{}}, {4, 9, italic}};
    const auto runs = renderer->shapeSegment(segment, fonts);
    ASSERT_EQ(runs.size(), 3u); // the empty run is left out
    EXPECT_EQ(runs[0].utf16Offset, 0);
    EXPECT_EQ(runs[1].utf16Offset, 2);
    EXPECT_EQ(runs[2].utf16Offset, 4);
    EXPECT_EQ(runs[0].shaperRun->stringIndices, (std::vector<int>{0, 1}));
    EXPECT_EQ(runs[1].shaperRun->stringIndices, (std::vector<int>{0})); // from the run's own start
    // Past the text's end is cut off; a slot without a font draws with the normal one.
    EXPECT_EQ(runs[2].shaperRun->stringIndices, (std::vector<int>{0, 1}));
    EXPECT_EQ(runs[2].attributes.font, FontSlot::italic);
    EXPECT_EQ(runs[0].shaperRun->glyphRuns[0].font.styleName(), fonts[0].styleName());
    EXPECT_EQ(runs[2].shaperRun->glyphRuns[0].font.styleName(), fonts[0].styleName());
    EXPECT_EQ(runs[1].shaperRun->glyphRuns[0].font.familyName(), emojiFamily);

    // Cached by font and text: the same segment again adds nothing, the same text in another
    // slot is a run of its own. ASCII the font maps straight to glyphs is made, not cached.
    const std::size_t cached = renderer->shaperCacheSize();
    EXPECT_EQ(cached, 1u);
    renderer->shapeSegment(segment, fonts);
    EXPECT_EQ(renderer->shaperCacheSize(), cached);
    segment.runs = {{0, 2, bold}, {2, 2, RunStyle{}}};
    const auto boldRuns = renderer->shapeSegment(segment, fonts);
    ASSERT_EQ(boldRuns.size(), 2u);
    EXPECT_EQ(renderer->shaperCacheSize(), cached + 1);
    EXPECT_EQ(boldRuns[0].shaperRun->glyphRuns[0].font.styleName(), fonts[1].styleName());
}

TEST_F(MetalRendererGLTest, CoordinatorCallbacksReachTheHostOnlyWhileTheRendererLives)
{
    for (bool destroyFirst : {false, true}) {
        SCOPED_TRACE(destroyFirst ? "renderer gone" : "renderer alive");
        host.pruned.clear();
        startRenderer();
        MetalFrameCoordinator& coordinator = renderer->frameCoordinator();
        const auto token = coordinator.beginFrame();
        ASSERT_TRUE(token);
        coordinator.attachCommandBuffer(*token, {[] { return MetalTrackedCommandBufferStatus::committed; },
                                                 [] { return std::optional<std::string>(); }});
        coordinator.completeFrame(*token, MetalTrackedCommandBufferStatus::completed, std::nullopt);
        MetalTerminalRenderer* address = renderer.get();
        if (destroyFirst)
            renderer.reset();
        QCoreApplication::processEvents();
        if (destroyFirst)
            EXPECT_TRUE(host.pruned.empty());
        else
            EXPECT_EQ(host.pruned, std::vector<MetalTerminalRenderer*>{address});
    }
}

} // namespace
} // namespace corvantix

int main(int argc, char** argv)
{
    // A real X server: the offscreen platform has no OpenGL. Widgets, because some tests
    // draw a terminal view's rows.
    setenv("QT_QPA_PLATFORM", "xcb", 1);
    QApplication application(argc, argv); // the frame tests show widgets
    testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
