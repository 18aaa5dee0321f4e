#include "drawing/qt/CaretView.h"

#include "view/qt/TerminalView.h"

#include "engine/view/qt/ViewTestSupport.h"

#include <gtest/gtest.h>

#include <cmath>

#include <QImage>
#include <QPainter>

namespace corvantix {
namespace {

const QColor caretColour(255, 0, 0);
const QColor caretTextColour(0, 0, 255);

class CaretViewTest : public ::testing::Test {
protected:
    CaretViewTest()
    {
        QFont font(QStringLiteral("DejaVu Sans Mono"));
        font.setPixelSize(14);
        view = std::make_unique<TerminalView>(QRect(0, 0, 400, 200), font);
        view->cursorColorIsDefault = false;
        view->setCaretColor(caretColour);
        view->cursorTextColorIsDefault = false;
        view->setCaretTextColor(caretTextColour);
        caret = new CaretView(QRect(0, 0, 10, 20), CursorStyle::steadyBlock, view.get());
    }
    QImage draw(CursorStyle style, bool focused, int width = 10, int height = 20)
    {
        caret->style = style;
        caret->resize(width, height);
        QImage image(width, height, QImage::Format_ARGB32_Premultiplied);
        image.fill(Qt::transparent);
        QPainter painter(&image);
        caret->drawCaret(painter, focused);
        painter.end();
        return image;
    }
    // The caret over the character with code `code` (width 1 unless said).
    void over(char32_t code, int width = 1, Attribute attribute = {})
    {
        CharData cell(static_cast<int32_t>(code), static_cast<int8_t>(width), attribute);
        if (code >= 0x10000)
            cell.code = view->terminal->getCharacterCode(std::u32string_view(&code, 1));
        caret->setText(cell, attribute);
    }
    std::unique_ptr<TerminalView> view;
    CaretView* caret = nullptr;
};

int countColour(const QImage& image, const QColor& colour, const QRect& area)
{
    int n = 0;
    for (int y = area.top(); y <= area.bottom(); ++y)
        for (int x = area.left(); x <= area.right(); ++x)
            n += image.pixelColor(x, y) == colour ? 1 : 0;
    return n;
}

TEST_F(CaretViewTest, UnfocusedCaretIsAnOutlineWhateverTheStyle)
{
    over('X');
    for (CursorStyle style : {CursorStyle::steadyBlock, CursorStyle::blinkUnderline, CursorStyle::steadyBar}) {
        const QImage image = draw(style, false);
        // The inner half of a 3-wide stroke: a frame about 1.5 wide, inside empty.
        EXPECT_EQ(std::vector<QColor>({image.pixelColor(0, 10), image.pixelColor(9, 10), image.pixelColor(5, 0),
                                       image.pixelColor(5, 19)}),
                  std::vector<QColor>(4, caretColour));
        EXPECT_EQ(countColour(image, QColor(Qt::transparent), QRect(3, 3, 4, 14)), 4 * 14);
        EXPECT_EQ(countColour(image, caretTextColour, image.rect()), 0); // no glyph
    }
}

TEST_F(CaretViewTest, UnderlineBarAndBlockShapes)
{
    over('X');
    const QImage underline = draw(CursorStyle::steadyUnderline, true);
    EXPECT_EQ(countColour(underline, caretColour, QRect(0, 18, 10, 2)), 20);
    EXPECT_EQ(countColour(underline, caretColour, QRect(0, 0, 10, 18)), 0);
    const QImage bar = draw(CursorStyle::blinkBar, true);
    EXPECT_EQ(countColour(bar, caretColour, QRect(0, 0, 2, 20)), 40);
    EXPECT_EQ(countColour(bar, caretColour, QRect(2, 0, 8, 20)), 0);
    EXPECT_EQ(countColour(bar, caretTextColour, bar.rect()), 0);
    // A block shows the glyph in the caret text colour.
    over(' ');
    const QImage space = draw(CursorStyle::steadyBlock, true);
    EXPECT_EQ(countColour(space, caretColour, space.rect()), 200); // only the block
    over('X');
    const QImage letter = draw(CursorStyle::steadyBlock, true);
    EXPECT_GT(200 - countColour(letter, caretColour, letter.rect()), 5); // the glyph's ink
    EXPECT_EQ(countColour(letter, QColor(Qt::transparent), letter.rect()), 0);
}

TEST_F(CaretViewTest, PowerlineUnderABlockCaretKeepsItsShape)
{
    over(0xE0B0);
    ASSERT_EQ(caret->powerlineCodePoint, 0xE0B0u);
    view->setCustomBlockGlyphs(true);
    const QImage shape = draw(CursorStyle::steadyBlock, true);
    EXPECT_EQ(shape.pixelColor(1, 10), caretTextColour); // near the base, middle height
    EXPECT_EQ(shape.pixelColor(9, 1), caretColour);      // top right: outside the triangle
    EXPECT_EQ(shape.pixelColor(7, 10), caretTextColour); // towards the tip
    view->setCustomBlockGlyphs(false);
    const QImage glyph = draw(CursorStyle::steadyBlock, true);
    EXPECT_NE(glyph, shape);
}

// A block caret over a wide emoji or CJK letter measures its glyph in the view's cache, once:
// the next blink asks no font again (an emoji's bitmap is decoded to be measured).
TEST_F(CaretViewTest, ABlinkingCaretOverAWideGlyphMeasuresItOnce)
{
    for (const char32_t code : {char32_t(0x1F600), char32_t(0x6F22)}) {
        over(code, 2);
        const std::size_t before = view->glyphMetrics.fontLookups();
        const QImage first = draw(CursorStyle::steadyBlock, true, 20, 20);
        const std::size_t measured = view->glyphMetrics.fontLookups();
        EXPECT_GT(measured, before) << "U+" << std::hex << static_cast<unsigned>(code);
        EXPECT_EQ(draw(CursorStyle::steadyBlock, true, 20, 20), first);
        EXPECT_EQ(view->glyphMetrics.fontLookups(), measured) << "U+" << std::hex << static_cast<unsigned>(code);
    }
}

TEST_F(CaretViewTest, SetTextReadsTheCell)
{
    over(0x4E16, 2);
    EXPECT_EQ(caret->glyphColumnWidth, 2);
    over(0xE0B2);
    EXPECT_EQ(caret->powerlineCodePoint, 0xE0B2u);
    over(0xE0B1); // a thin separator is drawn as text
    EXPECT_TRUE(!caret->powerlineCodePoint && caret->ctline->text == u"\uE0B1");
    over(0x2764);
    EXPECT_EQ(caret->ctline->text, u"\u2764\uFE0E");
    over(0x1F600, 2);
    EXPECT_EQ(caret->ctline->text, u"\U0001F600");
    Attribute blinking;
    blinking.style = CharacterStyle::blink | CharacterStyle::bold;
    view->textBlinkVisible = false;
    over(0xE0B0, 1, blinking);
    // Hidden blinking text: an empty block, still bold.
    EXPECT_TRUE(caret->ctline->text == u" " && !caret->powerlineCodePoint && caret->ctline->font == FontSlot::bold);
    view->textBlinkVisible = true;
    over('a', 1, blinking);
    EXPECT_EQ(caret->ctline->text, u"a");
}

TEST(CaretBlinkTest, OpacityFadesOutWithEaseInAndBack)
{
    EXPECT_DOUBLE_EQ(CaretView::blinkOpacity(0.0), 1.0);
    EXPECT_NEAR(CaretView::blinkOpacity(0.7), 0.0, 1e-4);
    EXPECT_NEAR(CaretView::blinkOpacity(1.4), 1.0, 1e-4);
    // Ease-in: slow at first, so half-way through the fade more than half remains.
    EXPECT_GT(CaretView::blinkOpacity(0.35), 0.6);
    // Played backwards on the way up.
    EXPECT_NEAR(CaretView::blinkOpacity(1.05), CaretView::blinkOpacity(0.35), 1e-6);
    EXPECT_NEAR(CaretView::blinkOpacity(2.1), 0.0, 1e-4);
}

// The fade is drawn in a few levels, and the timer wakes only when the next one is due: a
// period costs two frames per level, each frame lands on a new level, and the level holds
// everywhere between two frames.
TEST(CaretBlinkTest, FramesComeOnlyWhenTheDrawnLevelChanges)
{
    constexpr double period = 2 * CaretView::blinkHalfPeriodSeconds;
    constexpr int levels = CaretView::blinkOpacityLevels;
    for (double start : {0.0, 0.2, 0.69, 0.7, 1.3, 3.0}) {
        int frames = 0;
        double t = start;
        while (true) {
            const double next = CaretView::nextBlinkFrameSeconds(t);
            ASSERT_GT(next, t) << start;
            if (next > start + period)
                break;
            ++frames;
            // Within a microsecond of either frame, the level between them holds.
            const double held = CaretView::blinkFrameOpacity((t + next) / 2);
            for (int i = 0; i <= 16; ++i)
                EXPECT_EQ(CaretView::blinkFrameOpacity(t + 1e-6 + (next - t - 2e-6) * i / 16), held) << start << ' ' << t;
            EXPECT_NE(CaretView::blinkFrameOpacity(next + 1e-6), held) << start << ' ' << next;
            t = next;
        }
        EXPECT_EQ(frames, 2 * levels) << start;
    }
    // Each drawn level is one of the steps, and both ends are reached.
    for (double t = 0; t < period; t += 0.01) {
        const double level = CaretView::blinkFrameOpacity(t) * levels;
        EXPECT_DOUBLE_EQ(level, std::round(level)) << t;
    }
    EXPECT_EQ(CaretView::blinkFrameOpacity(0.0), 1.0);
    EXPECT_EQ(CaretView::blinkFrameOpacity(CaretView::blinkHalfPeriodSeconds), 0.0);
}

} // namespace
} // namespace corvantix
