// A terminal view's rows and cursor as the GPU renderer's records, on a real OpenGL context
// (the glyphs go to the atlases). The view is sized but never shown.
#include "gpu/qt/MetalTerminalRenderer.h"

#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QFocusEvent>
#include <QOffscreenSurface>
#include <QOpenGLContext>

#include <algorithm>
#include <cmath>
#include <memory>
#include <ostream>
#include <string>
#include <tuple>

#include "model/Buffer.h"
#include "platform/qt/QtMainQueue.h"

namespace corvantix {
namespace {

class NoHost final : public QObject, public MetalRendererHost {
public:
    bool canPresentMetalFrames() const override { return true; }
    void setMetalViewNeedsDisplay() override {}
    void recoverMetalRenderer(MetalTerminalRenderer&, const MetalRendererRecoveryReport&) override {}
    void pruneRetiredMetalRenderers(MetalTerminalRenderer&) override {}
};

QFont testFont()
{
    QFont font(QStringLiteral("DejaVu Sans Mono"));
    font.setPixelSize(14);
    return font;
}

struct Extent {
    float minX = 0;
    float maxX = 0;
    float minY = 0;
    float maxY = 0;
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

class MetalRowDrawDataGLTest : public testing::Test {
protected:
    void SetUp() override
    {
        QSurfaceFormat format;
        format.setVersion(3, 3);
        format.setProfile(QSurfaceFormat::CoreProfile);
        surface.setFormat(format);
        surface.create();
        context.setFormat(format);
        ASSERT_TRUE(context.create()) << "no OpenGL context (is the X server's GLX extension there?)";
        ASSERT_TRUE(context.makeCurrent(&surface));
        MetalTerminalRendererOptions options;
        options.atlasInitialSize = 256;
        auto made = MetalTerminalRenderer::make(queue, &host, options);
        ASSERT_TRUE(std::holds_alternative<std::unique_ptr<MetalTerminalRenderer>>(made));
        renderer = std::move(std::get<std::unique_ptr<MetalTerminalRenderer>>(made));
        view = std::make_unique<TerminalView>(QRect(0, 0, 400, 200), testFont());
        ASSERT_TRUE(view->cellDimension.has_value());
        renderer->setViews(nullptr, view.get());
        const QRawFont raw = QRawFont::fromFont(view->fontSet.normal);
        descent = raw.descent();
        leading = raw.leading();
    }
    void TearDown() override
    {
        renderer.reset();
        context.doneCurrent();
    }

    double cellWidth() const { return view->cellDimension->width; }
    double cellHeight() const { return view->cellDimension->height; }
    // The pixel y of a screen row's bottom edge.
    double rowBottomPx(int row, double scale) const { return scale * (view->height() - cellHeight() * (row + 1)); }

    RowDrawData row(int line, double scale = 1)
    {
        const Buffer& buffer = *view->terminal->buffer;
        return renderer->buildRowDrawData(cellWidth(), cellHeight(), descent + leading, view->width() * scale, scale,
                                          line, buffer, buffer.yDisp(), {});
    }

    DrawData cursor(double scale = 1)
    {
        DrawData data;
        const Buffer& buffer = *view->terminal->buffer;
        renderer->buildCursorDrawData(data, scale, cellWidth(), cellHeight(), descent, leading, buffer.yDisp(),
                                      buffer.yDisp() + buffer.rows() - 1);
        return data;
    }

    void focus(bool in)
    {
        QFocusEvent event(in ? QEvent::FocusIn : QEvent::FocusOut, Qt::OtherFocusReason);
        QCoreApplication::sendEvent(view.get(), &event);
    }

    QOffscreenSurface surface;
    QOpenGLContext context;
    QtMainQueue queue;
    NoHost host;
    std::unique_ptr<MetalTerminalRenderer> renderer;
    std::unique_ptr<TerminalView> view;
    double descent = 0;
    double leading = 0;
};

struct DefaultBackgroundCase {
    const char* name;
    const char* bytes;
    std::size_t glyphs;
};
void PrintTo(const DefaultBackgroundCase& c, std::ostream* os) { *os << c.name; }

class MetalDefaultBackgroundGLTest : public MetalRowDrawDataGLTest,
                                     public testing::WithParamInterface<DefaultBackgroundCase> {};

// Cells showing the default background draw no rectangle: the frame's clear colour shows.
TEST_P(MetalDefaultBackgroundGLTest, DrawsNoRectangle)
{
    view->feedText(GetParam().bytes);
    const RowDrawData data = row(0);
    EXPECT_TRUE(data.backgroundCells.empty());
    EXPECT_EQ(data.glyphCellsGray.size(), GetParam().glyphs);
    EXPECT_TRUE(data.glyphCellsColor.empty());
    // Lines below hold nothing to draw.
    const RowDrawData empty = row(1);
    EXPECT_TRUE(empty.backgroundCells.empty() && empty.glyphCellsGray.empty() && empty.decorationCells.empty());
}

INSTANTIATE_TEST_SUITE_P(Backgrounds, MetalDefaultBackgroundGLTest,
                         testing::Values(DefaultBackgroundCase{"plain_text", "AB", 2},
                                         DefaultBackgroundCase{"spaces_draw_no_glyph", "A B", 2},
                                         // Under reverse video the default background is the
                                         // default foreground, and still not drawn.
                                         DefaultBackgroundCase{"reverse_video", "\x1b[?5hAB", 2}),
                         [](const auto& info) { return std::string(info.param.name); });

TEST_F(MetalRowDrawDataGLTest, UnderReverseVideoTheOldDefaultBackgroundIsDrawn)
{
    view->feedText("\x1b[?5h\x1b[7mAB\x1b[m");
    const RowDrawData data = row(0);
    ASSERT_EQ(data.backgroundCells.size(), 1u);
    EXPECT_EQ(data.backgroundCells[0].color, rgbaComponents(view->effectiveForegroundColor()));
}

TEST_F(MetalRowDrawDataGLTest, RedOnBlueIsOneBlueRectangleAndRedGlyphsAtTheirCells)
{
    view->feedText("\x1b[31;44mAB\x1b[m");
    const double scale = 2;
    const RowDrawData data = row(0, scale);
    ASSERT_EQ(data.backgroundCells.size(), 1u);
    const ColorCell& background = data.backgroundCells[0];
    EXPECT_FLOAT_EQ(background.position[0], 0);
    EXPECT_FLOAT_EQ(background.position[1], static_cast<float>(rowBottomPx(0, scale)));
    EXPECT_FLOAT_EQ(background.size[0], static_cast<float>(scale * 2 * cellWidth()));
    EXPECT_FLOAT_EQ(background.size[1], static_cast<float>(scale * cellHeight()));
    EXPECT_LT(background.color[0], 0.3f);
    EXPECT_GT(background.color[2], 0.5f);

    ASSERT_EQ(data.glyphCellsGray.size(), 2u);
    for (int i = 0; i < 2; ++i) {
        const TextCell& glyph = data.glyphCellsGray[static_cast<std::size_t>(i)];
        EXPECT_GT(glyph.color[0], 0.5f) << "glyph " << i;
        EXPECT_LT(glyph.color[2], 0.3f) << "glyph " << i;
        // The glyph's bitmap starts within its left bearing of the cell's left edge.
        const double cellLeft = scale * cellWidth() * i;
        EXPECT_NEAR(glyph.position[0], cellLeft, scale * 2) << "glyph " << i;
        EXPECT_GT(glyph.size[0], 0);
        EXPECT_GT(glyph.texSize[0], 0);
    }
}

TEST_F(MetalRowDrawDataGLTest, ConcealedTextDrawsNoGlyph)
{
    view->feedText("\x1b[8mAB\x1b[m");
    const RowDrawData data = row(0);
    EXPECT_TRUE(data.glyphCellsGray.empty());
    EXPECT_TRUE(data.glyphCellsColor.empty());
}

TEST_F(MetalRowDrawDataGLTest, AWideCharacterIsFittedIntoItsTwoCells)
{
    view->feedText("\xe4\xb8\xad"); // U+4E2D
    const RowDrawData data = row(0);
    ASSERT_EQ(data.glyphCellsGray.size() + data.glyphCellsColor.size(), 1u);
    const TextCell& glyph = data.glyphCellsGray.empty() ? data.glyphCellsColor[0] : data.glyphCellsGray[0];
    EXPECT_GE(glyph.position[0], -1.0f);
    EXPECT_LE(glyph.position[0] + glyph.size[0], 2 * cellWidth() + 1);
    // Wider than one cell: it was not squeezed into the first.
    EXPECT_GT(glyph.position[0] + glyph.size[0], cellWidth());
}

TEST_F(MetalRowDrawDataGLTest, DoubleHeightRowsShowTheirOwnHalfOfEachGlyph)
{
    view->feedText("\x1b#3A\r\n\x1b#4A\r\nA");
    const RowDrawData upper = row(0);
    const RowDrawData lower = row(1);
    const RowDrawData normal = row(2);
    ASSERT_EQ(upper.glyphCellsGray.size(), 1u);
    ASSERT_EQ(lower.glyphCellsGray.size(), 1u);
    ASSERT_EQ(normal.glyphCellsGray.size(), 1u);
    const TextCell& whole = normal.glyphCellsGray[0];
    for (const auto& [name, data, rowIndex] :
         {std::tuple{"upper", &upper, 0}, std::tuple{"lower", &lower, 1}}) {
        const TextCell& glyph = data->glyphCellsGray[0];
        const double bottom = rowBottomPx(rowIndex, 1);
        EXPECT_GE(glyph.position[1], bottom - 1e-3) << name;
        EXPECT_LE(glyph.position[1] + glyph.size[1], bottom + cellHeight() + 1e-3) << name;
        // Twice as wide as the normal glyph.
        EXPECT_NEAR(glyph.size[0], 2 * whole.size[0], 1e-3) << name;
    }
    // The upper half keeps the glyph's top (texture counting up from its bottom row), the
    // lower half its bottom.
    const TextCell& top = upper.glyphCellsGray[0];
    const TextCell& bottom = lower.glyphCellsGray[0];
    EXPECT_GT(top.texOrigin[1], whole.texOrigin[1]);
    EXPECT_NEAR(top.texOrigin[1] + top.texSize[1], whole.texOrigin[1] + whole.texSize[1], 1e-6);
    EXPECT_NEAR(bottom.texOrigin[1], whole.texOrigin[1], 1e-6);
    EXPECT_LT(bottom.texOrigin[1] + bottom.texSize[1], whole.texOrigin[1] + whole.texSize[1]);
}

TEST_F(MetalRowDrawDataGLTest, SolidSeparatorsGetAJoinStripAndThinOnesDoNot)
{
    view->feedText("\xee\x82\xb0 \xee\x82\xb1"); // U+E0B0, a space, U+E0B1
    const RowDrawData data = row(0);
    ASSERT_EQ(data.powerlineJoinCells.size(), 1u);
    EXPECT_FLOAT_EQ(data.powerlineJoinCells[0].position[0], -1.0f);
    EXPECT_FLOAT_EQ(data.powerlineJoinCells[0].size[0], 1.0f);
    // The solid separator is drawn cell art at the left edge of its cell.
    ASSERT_FALSE(data.glyphCellsGray.empty());
    EXPECT_FLOAT_EQ(data.glyphCellsGray[0].position[0], 0.0f);
}

TEST_F(MetalRowDrawDataGLTest, EachPlaceholderCellDrawsItsOwnPieceOfTheImage)
{
    QByteArray pixels;
    for (int i = 0; i < 4; ++i)
        pixels.append(char(255)).append(char(0)).append(char(0)).append(char(255));
    std::string s = "\x1b_Ga=T,U=1,i=9,c=2,r=1,f=32,s=2,v=2,q=2;" + pixels.toBase64().toStdString() + "\x1b\\";
    // Image 9 in the foreground colour; row 0 with columns 0 and 1; then one cell naming a
    // placement column the placement does not have.
    s += "\x1b[1;1H\x1b[38;2;0;0;9m\xf4\x8e\xbb\xae\xcc\x85\xcc\x85\xf4\x8e\xbb\xae\xcc\x85\xcc\x8d"
         "\xf4\x8e\xbb\xae\xcc\x85\xcc\x8e\x1b[m";
    view->feedText(s);

    const Terminal& terminal = *view->terminal;
    VirtualPlacementIndex placements;
    for (const auto& [key, record] : terminal.kittyGraphicsState.placementsByKey) {
        if (record.isVirtual && record.isAlternateBuffer == terminal.isCurrentBufferAlternate())
            placements[record.imageId].push_back(record);
    }
    ASSERT_EQ(placements[9].size(), 1u);
    const Buffer& buffer = *terminal.buffer;
    const RowDrawData data = renderer->buildRowDrawData(cellWidth(), cellHeight(), descent + leading, view->width(),
                                                        1, 0, buffer, buffer.yDisp(), placements);
    ASSERT_EQ(data.placeholderImageDraws.size(), 2u);
    EXPECT_TRUE(data.glyphCellsGray.empty() && data.glyphCellsColor.empty());
    for (int i = 0; i < 2; ++i) {
        const ImageDraw& draw = data.placeholderImageDraws[static_cast<std::size_t>(i)];
        ASSERT_TRUE(draw.texture);
        ASSERT_EQ(draw.vertices.size(), 6u);
        const Extent e = extentOf(draw.vertices);
        EXPECT_FLOAT_EQ(e.minX, static_cast<float>(cellWidth() * i)) << "cell " << i;
        EXPECT_FLOAT_EQ(e.maxX, static_cast<float>(cellWidth() * (i + 1))) << "cell " << i;
        // The left cell shows the image's left half, the right cell its right half.
        EXPECT_FLOAT_EQ(draw.vertices[0].texCoord[0], 0.5f * static_cast<float>(i)) << "cell " << i;
        EXPECT_FLOAT_EQ(draw.vertices[4].texCoord[0], 0.5f * static_cast<float>(i + 1)) << "cell " << i;
    }
    // Without the placement the cells draw nothing, and the row still builds.
    const RowDrawData gone = row(0);
    EXPECT_TRUE(gone.placeholderImageDraws.empty());
}

struct CursorCase {
    const char* name;
    const char* bytes;
    bool focused;
    bool blinkOn;
    std::size_t colorVertices;
    int firstCell; // of the shape's extent
    int cells;
    std::size_t glyphVertices;
};
void PrintTo(const CursorCase& c, std::ostream* os) { *os << c.name; }

class MetalCursorGLTest : public MetalRowDrawDataGLTest, public testing::WithParamInterface<CursorCase> {};

TEST_P(MetalCursorGLTest, ShapeFollowsStyleFocusAndBlink)
{
    const CursorCase& c = GetParam();
    view->feedText(c.bytes);
    focus(c.focused);
    renderer->cursorBlinkOn = c.blinkOn;
    const DrawData data = cursor();
    ASSERT_EQ(data.cursorColorVertices.size(), c.colorVertices);
    EXPECT_EQ(data.cursorGlyphVerticesGray.size() + data.cursorGlyphVerticesColor.size(), c.glyphVertices);
    if (c.colorVertices == 0)
        return;
    const Extent e = extentOf(data.cursorColorVertices);
    EXPECT_FLOAT_EQ(e.minX, static_cast<float>(cellWidth() * c.firstCell));
    EXPECT_FLOAT_EQ(e.maxX, static_cast<float>(cellWidth() * (c.firstCell + c.cells)));
    EXPECT_FLOAT_EQ(e.minY, static_cast<float>(rowBottomPx(0, 1)));
    EXPECT_FLOAT_EQ(e.maxY, static_cast<float>(rowBottomPx(0, 1) + cellHeight()));
}

INSTANTIATE_TEST_SUITE_P(
    Cursors, MetalCursorGLTest,
    testing::Values(
        CursorCase{"block_shows_the_letter_under_it", "A\x1b[1G", true, true, 6, 0, 1, 6},
        CursorCase{"on_a_wide_character_two_cells", "\xe4\xb8\xad\x1b[1G", true, true, 6, 0, 2, 6},
        CursorCase{"right_half_of_a_wide_character_one_cell", "\xe4\xb8\xad\x1b[2G", true, true, 6, 1, 1, 0},
        CursorCase{"hidden_draws_nothing", "\x1b[?25l", true, true, 0, 0, 0, 0},
        CursorCase{"blinking_block_in_its_off_phase_draws_nothing", "A\x1b[1G", true, false, 0, 0, 0, 0},
        CursorCase{"steady_block_ignores_the_phase", "\x1b[2 qA\x1b[1G", true, false, 6, 0, 1, 6},
        CursorCase{"unfocused_bar_is_a_hollow_box", "\x1b[6 q", false, true, 24, 0, 1, 0},
        CursorCase{"unfocused_never_blinks", "\x1b[1 q", false, false, 24, 0, 1, 0},
        CursorCase{"concealed_letter_stays_hidden_under_the_block", "\x1b[8mA\x1b[m\x1b[1G", true, true, 6, 0, 1, 0}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(MetalRowDrawDataGLTest, ACursorPastAShortLineIsDrawnAtItsLastCell)
{
    Buffer& buffer = *view->terminal->buffer;
    buffer.lines().setLine(buffer.yBase(), BufferLine::create(4));
    view->feedText("\x1b[10G");
    ASSERT_EQ(buffer.x(), 9);
    focus(true);
    const DrawData data = cursor();
    ASSERT_EQ(data.cursorColorVertices.size(), 6u);
    const Extent e = extentOf(data.cursorColorVertices);
    EXPECT_FLOAT_EQ(e.minX, static_cast<float>(cellWidth() * 3));
    EXPECT_FLOAT_EQ(e.maxX, static_cast<float>(cellWidth() * 4));
}

TEST_F(MetalRowDrawDataGLTest, ABlockOverASolidSeparatorDrawsItsShapeInTheCaretTextColour)
{
    view->feedText("\xee\x82\xb0\x1b[1G");
    focus(true);
    const DrawData data = cursor();
    ASSERT_EQ(data.cursorColorVertices.size(), 6u);
    ASSERT_EQ(data.cursorGlyphVerticesGray.size(), 6u);
    const auto expected = rgbaComponents(view->effectiveCaretTextColor());
    EXPECT_EQ(data.cursorGlyphVerticesGray[0].color, expected);
    const Extent e = extentOf(data.cursorGlyphVerticesGray);
    EXPECT_FLOAT_EQ(e.minX, 0.0f);
    EXPECT_LE(e.maxX, static_cast<float>(cellWidth()));
}

TEST_F(MetalRowDrawDataGLTest, WithoutATerminalViewNothingIsBuilt)
{
    view->feedText("\x1b[44mAB");
    renderer->setViews(nullptr, nullptr);
    const RowDrawData data = row(0);
    EXPECT_TRUE(data.backgroundCells.empty() && data.glyphCellsGray.empty());
    view.reset();
    DrawData none;
    renderer->buildCursorDrawData(none, 1, 8, 16, 3, 0, 0, 10);
    EXPECT_TRUE(none.cursorColorVertices.empty());
}

} // namespace
} // namespace corvantix
