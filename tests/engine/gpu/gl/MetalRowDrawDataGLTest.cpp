// A terminal view's rows and cursor as the GPU renderer's records, on a real OpenGL context
// (the glyphs go to the atlases). The view is sized but never shown.
#include "GLTestSupport.h"
#include "gpu/qt/MetalDrawDataBuild.h"

#include <QFocusEvent>
#include <QFontDatabase>
#include <QImage>
#include <QPainter>

#include <algorithm>
#include <memory>
#include <string>
#include <tuple>

#include "model/Buffer.h"

namespace corvantix {
namespace {

using namespace gltest;

struct Extent {
    float minX, maxX, minY, maxY;
};

template <typename Vertex>
Extent extentOf(const std::vector<Vertex>& vertices)
{
    Extent e{1e9f, -1e9f, 1e9f, -1e9f};
    for (const Vertex& v : vertices) {
        e.minX = std::min(e.minX, v.position[0]);
        e.maxX = std::max(e.maxX, v.position[0]);
        e.minY = std::min(e.minY, v.position[1]);
        e.maxY = std::max(e.maxY, v.position[1]);
    }
    return e;
}

class MetalRowDrawDataGLTest : public GLViewRowsTest {
protected:
    void SetUp() override
    {
        GLContextTest::SetUp();
        startRendererOnView(QRect(0, 0, 400, 200));
    }

    // A fresh screen showing `bytes`.
    void show(const std::string& bytes)
    {
        view->feedText("\x1b[!p\x1b[?5l\x1b[1 q\x1b[2J\x1b[H\x1b[?25h" + bytes);
    }

    double cellWidth() const { return view->cellDimension->width; }
    double cellHeight() const { return view->cellDimension->height; }
    // The pixel y of a screen row's bottom edge.
    double rowBottomPx(int row, double scale = 1) const { return scale * (view->height() - cellHeight() * (row + 1)); }

    RowDrawData row(int line, double scale = 1, const VirtualPlacementIndex& placements = {})
    {
        const Buffer& buffer = view->terminal->buffer();
        return renderer->buildRowDrawData(cellWidth(), cellHeight(), descent + leading, view->width() * scale, scale,
                                          line, buffer, buffer.yDisp(), placements);
    }

    DrawData cursor()
    {
        DrawData data;
        const Buffer& buffer = view->terminal->buffer();
        renderer->buildCursorDrawData(data, 1, cellWidth(), cellHeight(), descent, leading, buffer.yDisp(),
                                      buffer.yDisp() + buffer.rows() - 1);
        return data;
    }

    void focus(bool in)
    {
        QFocusEvent event(in ? QEvent::FocusIn : QEvent::FocusOut, Qt::OtherFocusReason);
        QCoreApplication::sendEvent(view.get(), &event);
    }

};

// The wide glyphs of a row are measured once, in the view's cache that both renderers draw
// from: rebuilding the row, or painting it again, asks no font for an advance or an ink box
// (which, for a colour emoji, decodes its bitmap).
TEST_F(MetalRowDrawDataGLTest, ARowDrawnBeforeIsBuiltAgainWithoutMeasuringItsGlyphs)
{
    // 漢字 👍🎉 한국어 ❤️ あ゙
    show("\xe6\xbc\xa2\xe5\xad\x97 \xf0\x9f\x91\x8d\xf0\x9f\x8e\x89 \xed\x95\x9c\xea\xb5\xad\xec\x96\xb4 "
         "\xe2\x9d\xa4\xef\xb8\x8f \xe3\x81\x82\xe3\x82\x99");
    const RowDrawData first = row(0);
    ASSERT_FALSE(first.glyphCellsColor.empty());
    const std::size_t measured = view->glyphMetrics.fontLookups();
    EXPECT_GE(measured, 8u) << "the wide glyphs were not measured in the view's cache";
    const RowDrawData again = row(0);
    EXPECT_EQ(view->glyphMetrics.fontLookups(), measured) << "the rebuilt row measured its glyphs again";
    EXPECT_EQ(again.glyphCellsColor.size(), first.glyphCellsColor.size());
    EXPECT_EQ(again.glyphCellsGray.size(), first.glyphCellsGray.size());

    // The painter measures into the same cache, once.
    QImage image(view->size(), QImage::Format_ARGB32_Premultiplied);
    {
        QPainter painter(&image);
        view->drawTerminalContents(painter, view->rect());
    }
    const std::size_t painted = view->glyphMetrics.fontLookups();
    {
        QPainter painter(&image);
        view->drawTerminalContents(painter, view->rect());
    }
    EXPECT_EQ(view->glyphMetrics.fontLookups(), painted) << "the painter measured its glyphs again";
}

TEST_F(MetalRowDrawDataGLTest, BackgroundsAreDrawnOnlyWhereTheyDifferFromTheClear)
{
    struct Case {
        const char* name;
        const char* bytes;
        std::size_t rectangles;
        std::size_t glyphs;
    };
    // Under reverse video the default background is the default foreground, and still not drawn.
    const Case cases[] = {{"plain text", "AB", 0, 2},
                          {"spaces draw no glyph", "A B", 0, 2},
                          {"reverse video", "\x1b[?5hAB", 0, 2},
                          {"inverse text under reverse video", "\x1b[?5h\x1b[7mAB\x1b[m", 1, 2},
                          {"concealed text", "\x1b[8mAB\x1b[m", 0, 0}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        show(c.bytes);
        const RowDrawData data = row(0);
        EXPECT_EQ(data.backgroundCells.size(), c.rectangles);
        EXPECT_EQ(data.glyphCellsGray.size(), c.glyphs);
        EXPECT_TRUE(data.glyphCellsColor.empty());
        if (c.rectangles == 1) {
            EXPECT_EQ(data.backgroundCells[0].color, rgbaComponents(view->effectiveForegroundColor()));
        }
        const RowDrawData empty = row(1);
        EXPECT_TRUE(empty.backgroundCells.empty() && empty.glyphCellsGray.empty() && empty.decorationCells.empty());
    }
}

TEST_F(MetalRowDrawDataGLTest, CellsLandWhereTheScreenPutsThem)
{
    // Red on blue at scale 2: one blue rectangle, red glyphs within their bearing of each cell.
    show("\x1b[31;44mAB\x1b[m");
    const RowDrawData colours = row(0, 2);
    ASSERT_EQ(colours.backgroundCells.size(), 1u);
    const ColorCell& background = colours.backgroundCells[0];
    EXPECT_FLOAT_EQ(background.position[0], 0);
    EXPECT_FLOAT_EQ(background.position[1], static_cast<float>(rowBottomPx(0, 2)));
    EXPECT_FLOAT_EQ(background.size[0], static_cast<float>(2 * 2 * cellWidth()));
    EXPECT_FLOAT_EQ(background.size[1], static_cast<float>(2 * cellHeight()));
    EXPECT_TRUE(background.color[0] < 0.3f && background.color[2] > 0.5f);
    ASSERT_EQ(colours.glyphCellsGray.size(), 2u);
    for (int i = 0; i < 2; ++i) {
        const TextCell& glyph = colours.glyphCellsGray[static_cast<std::size_t>(i)];
        EXPECT_TRUE(glyph.color[0] > 0.5f && glyph.color[2] < 0.3f) << i;
        EXPECT_NEAR(glyph.position[0], 2 * cellWidth() * i, 4) << i;
        EXPECT_TRUE(glyph.size[0] > 0 && glyph.texSize[0] > 0) << i;
    }

    // A wide character is fitted into its two cells, not squeezed into the first.
    show("\xe4\xb8\xad");
    const RowDrawData wide = row(0);
    ASSERT_EQ(wide.glyphCellsGray.size() + wide.glyphCellsColor.size(), 1u);
    const TextCell& glyph = wide.glyphCellsGray.empty() ? wide.glyphCellsColor[0] : wide.glyphCellsGray[0];
    EXPECT_GE(glyph.position[0], -1.0f);
    EXPECT_LE(glyph.position[0] + glyph.size[0], 2 * cellWidth() + 1);
    EXPECT_GT(glyph.position[0] + glyph.size[0], cellWidth());

    // A solid separator is cell art at its cell's left edge with a join strip; a thin one has none.
    show("\xee\x82\xb0 \xee\x82\xb1");
    const RowDrawData separators = row(0);
    ASSERT_EQ(separators.powerlineJoinCells.size(), 1u);
    EXPECT_FLOAT_EQ(separators.powerlineJoinCells[0].position[0], -1.0f);
    EXPECT_FLOAT_EQ(separators.powerlineJoinCells[0].size[0], 1.0f);
    ASSERT_FALSE(separators.glyphCellsGray.empty());
    EXPECT_EQ(separators.glyphCellsGray[0].position[0], 0.0f);
}

// A family without an italic face is slanted by the toolkit; the slanted glyphs are cached
// apart from the upright ones of the same face, so italic and bold-italic never show upright.
TEST_F(MetalRowDrawDataGLTest, ItalicWithoutAnItalicFaceIsNotTheUprightGlyph)
{
    const QString family = QStringLiteral("Noto Sans Mono CJK JP");
    ASSERT_TRUE(QFontDatabase::families().contains(family)) << "install the Debian package fonts-noto-cjk";
    QFont font(family);
    font.setPixelSize(14);
    view = std::make_unique<TerminalView>(QRect(0, 0, 400, 200), font);
    ASSERT_TRUE(view->cellDimension.has_value());
    renderer->setViews(nullptr, view.get());
    show("l\x1b[3ml\x1b[1ml\x1b[22;23ml");
    const RowDrawData data = row(0);
    ASSERT_EQ(data.glyphCellsGray.size(), 4u);
    const auto texture = [&](std::size_t i) {
        const TextCell& cell = data.glyphCellsGray[i];
        return std::tuple(cell.texOrigin[0], cell.texOrigin[1], cell.texSize[0], cell.texSize[1]);
    };
    EXPECT_EQ(texture(0), texture(3)) << "the same upright glyph twice";
    EXPECT_NE(texture(1), texture(0)) << "italic drawn upright";
    EXPECT_NE(texture(2), texture(0)) << "bold-italic drawn upright";
    EXPECT_NE(texture(2), texture(1));
}

// Font smoothing off draws the glyphs unhinted: other bitmaps in the atlas, and a cache
// signature of its own so that every row is built again when the setting changes.
TEST_F(MetalRowDrawDataGLTest, FontSmoothingChoosesTheHintingOfTheGlyphs)
{
    show("Hxe");
    const auto textures = [&] {
        std::vector<std::tuple<float, float>> origins;
        for (const TextCell& cell : row(0).glyphCellsGray)
            origins.emplace_back(cell.texOrigin[0], cell.texOrigin[1]);
        return origins;
    };
    const CacheSignature smooth = metalCacheSignature(*view, 1);
    const auto hinted = textures();
    ASSERT_EQ(hinted.size(), 3u);

    view->setFontSmoothing(false);
    renderer->rasterizer.fontSmoothing = view->fontSmoothing();
    EXPECT_FALSE(metalCacheSignature(*view, 1) == smooth);
    const auto unhinted = textures();
    ASSERT_EQ(unhinted.size(), 3u);
    for (std::size_t i = 0; i < 3; ++i)
        EXPECT_NE(unhinted[i], hinted[i]) << "glyph " << i << " is the hinted bitmap";

    view->setFontSmoothing(true);
    renderer->rasterizer.fontSmoothing = view->fontSmoothing();
    EXPECT_EQ(textures(), hinted);
}

// In a row laid out left to right without the bidi layout the Arabic letters keep their
// stored order and take the forms their neighbours give them, each in its own cell: three
// behs and a lone one draw exactly as the initial, medial, final and isolated forms do.
TEST_F(MetalRowDrawDataGLTest, JoiningLettersTakeTheirJoinedFormsInALeftToRightRow)
{
    view->setBidiHostPolicy(BidiHostPolicy::legacyLeftToRight);
    show("\xd8\xa8\xd8\xa8\xd8\xa8 \xd8\xa8\r\n"
         "\xef\xba\x91\xef\xba\x92\xef\xba\x90 \xef\xba\x8f");
    const auto glyphsOf = [](const RowDrawData& data) {
        return data.glyphCellsGray.empty() ? data.glyphCellsColor : data.glyphCellsGray;
    };
    const std::vector<TextCell> letters = glyphsOf(row(0));
    const std::vector<TextCell> forms = glyphsOf(row(1));
    ASSERT_EQ(letters.size(), 4u);
    ASSERT_EQ(forms.size(), 4u);
    for (std::size_t i = 0; i < 4; ++i) {
        EXPECT_EQ(letters[i].texOrigin[0], forms[i].texOrigin[0]) << "cell " << i << " took another form";
        EXPECT_EQ(letters[i].texOrigin[1], forms[i].texOrigin[1]) << "cell " << i << " took another form";
        EXPECT_NEAR(letters[i].position[0], forms[i].position[0], 0.01) << "cell " << i;
    }
    // The joined forms are four different glyphs, not one isolated form four times.
    for (std::size_t i = 0; i < 3; ++i)
        EXPECT_FALSE(letters[i].texOrigin[0] == letters[3].texOrigin[0]
                     && letters[i].texOrigin[1] == letters[3].texOrigin[1])
            << "cell " << i << " stands isolated";
}

// A conjunct takes its two cells' letters into one glyph drawn from the first cell; the
// underline still covers both cells, each with its piece on the grid.
TEST_F(MetalRowDrawDataGLTest, AConjunctsCellsKeepTheirUnderline)
{
    if (!QFontDatabase::families().contains(QStringLiteral("Noto Sans Devanagari")))
        FAIL() << "the font package fonts-noto-core is missing (no Noto Sans Devanagari)";
    show("\x1b[4m\xe0\xa4\x95\xe0\xa5\x8d\xe0\xa4\xb7\x1b[m"); // क्ष underlined, two cells
    ASSERT_EQ(view->terminal->buffer().x(), 2);
    const RowDrawData data = row(0);
    EXPECT_EQ(data.glyphCellsGray.size(), 1u) << "one conjunct glyph";
    float covered = 0;
    float left = 1e9f;
    for (const ColorCell& piece : data.decorationCells) {
        covered += piece.size[0];
        left = std::min(left, piece.position[0]);
    }
    EXPECT_NEAR(left, 0.0f, 1e-3);
    EXPECT_GE(covered, static_cast<float>(2 * std::floor(cellWidth())));
}

TEST_F(MetalRowDrawDataGLTest, DoubleHeightRowsShowTheirOwnHalfOfEachGlyph)
{
    show("\x1b#3A\r\n\x1b#4A\r\nA");
    const RowDrawData upper = row(0);
    const RowDrawData lower = row(1);
    const RowDrawData normal = row(2);
    ASSERT_EQ(upper.glyphCellsGray.size(), 1u);
    ASSERT_EQ(lower.glyphCellsGray.size(), 1u);
    ASSERT_EQ(normal.glyphCellsGray.size(), 1u);
    const TextCell& whole = normal.glyphCellsGray[0];
    for (const auto& [name, data, rowIndex] : {std::tuple{"upper", &upper, 0}, std::tuple{"lower", &lower, 1}}) {
        const TextCell& glyph = data->glyphCellsGray[0];
        const double bottom = rowBottomPx(rowIndex);
        EXPECT_GE(glyph.position[1], bottom - 1e-3) << name;
        EXPECT_LE(glyph.position[1] + glyph.size[1], bottom + cellHeight() + 1e-3) << name;
        EXPECT_NEAR(glyph.size[0], 2 * whole.size[0], 1e-3) << name << ": twice as wide";
    }
    // The upper half keeps the glyph's top (textures count up from the bottom), the lower its bottom.
    const TextCell& top = upper.glyphCellsGray[0];
    const TextCell& bottom = lower.glyphCellsGray[0];
    EXPECT_GT(top.texOrigin[1], whole.texOrigin[1]);
    EXPECT_NEAR(top.texOrigin[1] + top.texSize[1], whole.texOrigin[1] + whole.texSize[1], 1e-6);
    EXPECT_NEAR(bottom.texOrigin[1], whole.texOrigin[1], 1e-6);
    EXPECT_LT(bottom.texOrigin[1] + bottom.texSize[1], whole.texOrigin[1] + whole.texSize[1]);
}

TEST_F(MetalRowDrawDataGLTest, EachPlaceholderCellDrawsItsOwnPieceOfTheImage)
{
    QByteArray pixels;
    for (int i = 0; i < 4; ++i)
        pixels.append(char(255)).append(char(0)).append(char(0)).append(char(255));
    // Image 9 in the foreground colour: row 0 with columns 0 and 1, then a cell naming a
    // placement column the placement does not have.
    view->feedText("\x1b_Ga=T,U=1,i=9,c=2,r=1,f=32,s=2,v=2,q=2;" + pixels.toBase64().toStdString() + "\x1b\\"
                   "\x1b[1;1H\x1b[38;2;0;0;9m\xf4\x8e\xbb\xae\xcc\x85\xcc\x85\xf4\x8e\xbb\xae\xcc\x85\xcc\x8d"
                   "\xf4\x8e\xbb\xae\xcc\x85\xcc\x8e\x1b[m");
    const VirtualPlacementIndex placements = virtualPlacementIndex(view->terminal->kittyGraphicsState(), false);
    ASSERT_EQ(placements.at(9).size(), 1u);
    const RowDrawData data = row(0, 1, placements);
    ASSERT_EQ(data.placeholderImageDraws.size(), 2u);
    EXPECT_TRUE(data.glyphCellsGray.empty() && data.glyphCellsColor.empty());
    for (int i = 0; i < 2; ++i) {
        const ImageDraw& draw = data.placeholderImageDraws[static_cast<std::size_t>(i)];
        ASSERT_TRUE(draw.texture);
        ASSERT_EQ(draw.vertices.size(), 6u);
        const Extent e = extentOf(draw.vertices);
        EXPECT_FLOAT_EQ(e.minX, static_cast<float>(cellWidth() * i)) << i;
        EXPECT_FLOAT_EQ(e.maxX, static_cast<float>(cellWidth() * (i + 1))) << i;
        // The left cell shows the image's left half, the right cell its right half.
        EXPECT_FLOAT_EQ(draw.vertices[0].texCoord[0], 0.5f * static_cast<float>(i)) << i;
        EXPECT_FLOAT_EQ(draw.vertices[4].texCoord[0], 0.5f * static_cast<float>(i + 1)) << i;
    }
    EXPECT_TRUE(row(0).placeholderImageDraws.empty()) << "without the placement the cells draw nothing";
}

TEST_F(MetalRowDrawDataGLTest, TheCursorShapeFollowsStyleFocusAndBlink)
{
    struct Case {
        const char* name;
        const char* bytes;
        bool focused;
        bool blinkOn;
        std::size_t colorVertices;
        int firstCell; // of the shape's extent
        int cells;
        std::size_t glyphVertices;
    };
    const Case cases[] = {
        {"block shows the letter under it", "A\x1b[1G", true, true, 6, 0, 1, 6},
        {"on a wide character two cells", "\xe4\xb8\xad\x1b[1G", true, true, 6, 0, 2, 6},
        {"right half of a wide character one cell", "\xe4\xb8\xad\x1b[2G", true, true, 6, 1, 1, 0},
        {"hidden draws nothing", "\x1b[?25l", true, true, 0, 0, 0, 0},
        {"blinking block in its off phase draws nothing", "A\x1b[1G", true, false, 0, 0, 0, 0},
        {"steady block ignores the phase", "\x1b[2 qA\x1b[1G", true, false, 6, 0, 1, 6},
        {"unfocused bar is a hollow box", "\x1b[6 q", false, true, 24, 0, 1, 0},
        {"unfocused never blinks", "\x1b[1 q", false, false, 24, 0, 1, 0},
        {"concealed letter stays hidden under the block", "\x1b[8mA\x1b[m\x1b[1G", true, true, 6, 0, 1, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        show(c.bytes);
        focus(c.focused);
        renderer->cursorBlinkOn = c.blinkOn;
        const DrawData data = cursor();
        ASSERT_EQ(data.cursorColorVertices.size(), c.colorVertices);
        EXPECT_EQ(data.cursorGlyphVerticesGray.size() + data.cursorGlyphVerticesColor.size(), c.glyphVertices);
        if (c.colorVertices == 0)
            continue;
        const Extent e = extentOf(data.cursorColorVertices);
        EXPECT_FLOAT_EQ(e.minX, static_cast<float>(cellWidth() * c.firstCell));
        EXPECT_FLOAT_EQ(e.maxX, static_cast<float>(cellWidth() * (c.firstCell + c.cells)));
        EXPECT_FLOAT_EQ(e.minY, static_cast<float>(rowBottomPx(0)));
        EXPECT_FLOAT_EQ(e.maxY, static_cast<float>(rowBottomPx(0) + cellHeight()));
    }

    // A block over a solid separator draws the separator's shape in the caret text colour.
    show("\xee\x82\xb0\x1b[1G");
    focus(true);
    renderer->cursorBlinkOn = true;
    const DrawData separator = cursor();
    ASSERT_EQ(separator.cursorGlyphVerticesGray.size(), 6u);
    EXPECT_EQ(separator.cursorGlyphVerticesGray[0].color, rgbaComponents(view->effectiveCaretTextColor()));
    EXPECT_EQ(extentOf(separator.cursorGlyphVerticesGray).minX, 0.0f);
    EXPECT_LE(extentOf(separator.cursorGlyphVerticesGray).maxX, static_cast<float>(cellWidth()));

    // Past the end of a line shorter than the screen it stands on the line's last cell.
    show("\x1b[10G");
    Buffer& buffer = view->terminal->buffer();
    buffer.lines().setLine(buffer.yBase(), BufferLine::create(4));
    ASSERT_EQ(buffer.x(), 9);
    const Extent past = extentOf(cursor().cursorColorVertices);
    EXPECT_FLOAT_EQ(past.minX, static_cast<float>(cellWidth() * 3));
    EXPECT_FLOAT_EQ(past.maxX, static_cast<float>(cellWidth() * 4));

    // Without a terminal view nothing is built.
    show("\x1b[44mAB");
    renderer->setViews(nullptr, nullptr);
    EXPECT_TRUE(row(0).backgroundCells.empty() && row(0).glyphCellsGray.empty());
    view.reset();
    DrawData none;
    renderer->buildCursorDrawData(none, 1, 8, 16, 3, 0, 0, 10);
    EXPECT_TRUE(none.cursorColorVertices.empty());
}

} // namespace
} // namespace corvantix
