// Pixel test of the whole view on a private Xvfb server: a fixed screen (the 256 colours, text
// styles, box drawing, block elements, powerline separators, CJK and emoji, a block caret) in a
// fixed font, compared with a reference image; exact pixels where cell art must meet across
// cells. Each font drawn with must be installed (the missing Debian package is named).
// HALVOREN_UPDATE_SCREENSHOTS=1 renews the reference; on a mismatch the grabbed image and a
// difference map are written to the working directory.
#include "view/qt/TerminalView.h"

#include "ReferenceImage.h"
#include "engine/view/qt/ViewTestSupport.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QImage>
#include <QPixmap>
#include <QWindow>

#include <QFontDatabase>

#include <array>
#include <cstdio>
#include <cstdlib>
#include <string>

#ifndef HALVOREN_SCREENSHOT_DIR
#error "HALVOREN_SCREENSHOT_DIR must name the folder of the reference images"
#endif

namespace corvantix {
namespace {

constexpr int gridCols = 80;
constexpr int gridRows = 24;

// Colours of the exactly checked cell art (true colours, drawn without blending).
const QColor artColour(255, 200, 0);
const QColor artBackground(0, 40, 90);
const QColor boxColour(255, 255, 0);

std::string utf8(char32_t scalar) { return QString::fromUcs4(&scalar, 1).toStdString(); }

std::string range(char32_t first, char32_t last)
{
    std::string out;
    for (char32_t c = first; c <= last; ++c)
        out += utf8(c);
    return out;
}

// Rows of the fixed screen (0-based) that the exact checks look at.
constexpr int frameRow = 12;       // a 7 x 4 light frame at column 0, a heavy one at column 10
constexpr int blockRow = 17;       // U+2580-U+259F
constexpr int blockProbeRow = 18;  // full, upper, lower, left, right; a full block below the first
constexpr int powerlineRow = 20;

std::string fixedScreen()
{
    std::string s = "\x1b[2 q"; // a steady block caret: no blink phase in the picture
    s += "256 colours, styles, box drawing, blocks, powerline, CJK and emoji\r\n";
    for (int i = 0; i < 256; ++i) {
        s += "\x1b[48;5;" + std::to_string(i) + "m ";
        if (i % 64 == 63)
            s += "\x1b[0m\r\n";
    }
    for (int i = 0; i < 16; ++i)
        s += "\x1b[38;5;" + std::to_string(i) + "mAb";
    s += "\x1b[0m \x1b[1m";
    for (int i = 0; i < 8; ++i)
        s += "\x1b[3" + std::to_string(i) + "mBo";
    s += "\x1b[0m\r\n";
    s += "\x1b[1mbold\x1b[0m \x1b[3mitalic\x1b[0m \x1b[1;3mbold italic\x1b[0m \x1b[4munder\x1b[0m "
         "\x1b[4:2mdouble\x1b[0m \x1b[4:3mcurly\x1b[0m \x1b[4:4mdotted\x1b[0m \x1b[4:5mdashed\x1b[0m "
         "\x1b[9mstrike\x1b[0m\r\n";
    s += "\x1b[7minverse\x1b[0m \x1b[2mdim\x1b[0m \x1b[4:3;58:2::255:0:0mred curly\x1b[0m "
         "\x1b[4;58;5;33mblue under\x1b[0m \x1b[1;31mbold red\x1b[0m "
         "\x1b[38;2;255;128;0;48;2;0;64;128mtrue colour\x1b[0m\r\n";
    s += "\r\n";
    s += range(0x250C, 0x252B) + "\r\n"; // row 9
    s += range(0x252C, 0x254B) + "\r\n"; // row 10
    s += "\r\n";
    // Row 12: the frames.
    s += "\x1b[38;2;255;255;0m";
    const std::array<std::string, 4> light = {"┌──┬──┐", "│  │  │", "├──┼──┤", "└──┴──┘"};
    const std::array<std::string, 4> heavy = {"┏━━┳━━┓", "┃  ┃  ┃", "┣━━╋━━┫", "┗━━┻━━┛"};
    for (int i = 0; i < 4; ++i)
        s += light[i] + "   " + heavy[i] + "\r\n";
    s += "\x1b[0m\r\n";
    // Row 17: blocks.
    s += "\x1b[38;2;255;200;0;48;2;0;40;90m" + range(0x2580, 0x259F) + "\x1b[0m\r\n";
    s += "\x1b[38;2;255;200;0;48;2;0;40;90m█ ▀ ▄ ▌ ▐ ██\x1b[0m\r\n";
    s += "\x1b[38;2;255;200;0;48;2;0;40;90m█\x1b[0m\r\n";
    // Row 20: powerline, alone and between segments.
    s += "\x1b[38;2;0;128;255;48;2;40;40;40m" + range(0xE0B0, 0xE0B6) + "\x1b[0m  ";
    s += "\x1b[30;42m main \x1b[32;44m" + utf8(0xE0B0) + "\x1b[30;44m ~/src \x1b[34;49m" + utf8(0xE0B0)
         + "\x1b[0m \x1b[35m" + utf8(0xE0B2) + "\x1b[30;45m 12:00 \x1b[0m\r\n";
    s += "漢字 かな カナ 中文 한글 ＡＢ | 😀🎉👍🚀\r\n";
    s += "\r\n";
    s += "caret over X: X\x1b[D";
    return s;
}

QFont fixedFont()
{
    QFont font(QStringLiteral("DejaVu Sans Mono"));
    font.setPixelSize(14);
    return font;
}

using testing::waitUntil;

// The faces the picture is drawn with, and the Debian package of each.
struct RequiredFont { const char* family; const char* style; const char* package; };
constexpr std::array requiredFonts = {
    RequiredFont{"DejaVu Sans Mono", "Book", "fonts-dejavu-core"},
    RequiredFont{"DejaVu Sans Mono", "Bold", "fonts-dejavu-core"},
    RequiredFont{"DejaVu Sans Mono", "Oblique", "fonts-dejavu-extra"},
    RequiredFont{"DejaVu Sans Mono", "Bold Oblique", "fonts-dejavu-extra"},
    // The CJK and Hangul cells: the fallback chosen for Han, kana and Hangul.
    RequiredFont{"Noto Sans CJK JP", "Regular", "fonts-noto-cjk"},
    RequiredFont{"Noto Color Emoji", "Regular", "fonts-noto-color-emoji"},
};

// One line for each missing face; false when any is missing.
bool requiredFontsInstalled()
{
    bool all = true;
    for (const RequiredFont& font : requiredFonts) {
        if (!QFontDatabase::styles(QString::fromLatin1(font.family)).contains(QString::fromLatin1(font.style))) {
            std::fprintf(stderr, "screenshot test: the font \"%s\" (%s) is missing; install the Debian package %s\n",
                         font.family, font.style, font.package);
            all = false;
        }
    }
    return all;
}

class ScreenshotTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        // The xterm palette: a well-known set of 256 colours to check against.
        TerminalOptions options = TerminalOptions::defaultOptions();
        options.ansi256PaletteStrategy = Ansi256PaletteStrategy::xterm;
        view = std::make_unique<TerminalView>(QRect(), fixedFont(), options);
        ASSERT_TRUE(view->cellDimension);
        cw = static_cast<int>(view->cellDimension->width);
        ch = static_cast<int>(view->cellDimension->height);
        // Whole pixels per cell keep the exact checks meaningful.
        ASSERT_EQ(cw, view->cellDimension->width);
        ASSERT_EQ(ch, view->cellDimension->height);
        view->resize(gridCols * cw + static_cast<int>(view->scrollerWidth()), gridRows * ch);
        // The focused form of the caret whatever the window manager does with the focus.
        view->setCaretViewTracksFocus(false);
        view->show();
        ASSERT_TRUE(waitUntil([&] { return view->windowHandle() && view->windowHandle()->isExposed(); }));
        ASSERT_EQ(view->terminal->cols(), gridCols);
        ASSERT_EQ(view->terminal->rows(), gridRows);
        view->feedText(fixedScreen());
        view->updateDisplayNow();
        QCoreApplication::processEvents();
        image = view->grab(QRect(0, 0, gridCols * cw, gridRows * ch)).toImage().convertToFormat(QImage::Format_RGB32);
    }
    QRect cell(int col, int row, int width = 1) const { return QRect(col * cw, row * ch, width * cw, ch); }
    // Every pixel of `area` has the colour (each channel within `tolerance`); the first one
    // that does not is reported.
    ::testing::AssertionResult allOf(const QRect& area, const QColor& colour, int tolerance = 0) const
    {
        const auto near = [&](const QColor& c) {
            return std::abs(c.red() - colour.red()) <= tolerance && std::abs(c.green() - colour.green()) <= tolerance
                && std::abs(c.blue() - colour.blue()) <= tolerance;
        };
        for (int y = area.top(); y <= area.bottom(); ++y)
            for (int x = area.left(); x <= area.right(); ++x)
                if (!near(image.pixelColor(x, y)))
                    return ::testing::AssertionFailure() << "pixel (" << x << ", " << y << ") is "
                                                         << image.pixelColor(x, y).name().toStdString() << ", not "
                                                         << colour.name().toStdString();
        return ::testing::AssertionSuccess();
    }
    // The rows (or columns, `vertical`) of `area` drawn in the colour along their whole
    // length: how many, and the first one (-1 when none).
    std::pair<int, int> lines(const QRect& area, const QColor& colour, bool vertical) const
    {
        int n = 0, first = -1;
        for (int i = vertical ? area.left() : area.top(); i <= (vertical ? area.right() : area.bottom()); ++i)
            if (allOf(vertical ? QRect(i, area.top(), 1, area.height()) : QRect(area.left(), i, area.width(), 1), colour))
                ++n, first = first < 0 ? i : first;
        return {n, first};
    }
    int fullRows(const QRect& area, const QColor& colour) const { return lines(area, colour, false).first; }
    int fullColumns(const QRect& area, const QColor& colour) const { return lines(area, colour, true).first; }
    int lineRow(const QRect& area, const QColor& colour) const { return lines(area, colour, false).second; }
    int lineColumn(const QRect& area, const QColor& colour) const { return lines(area, colour, true).second; }
    std::unique_ptr<TerminalView> view;
    QImage image;
    int cw = 0;
    int ch = 0;
};

TEST_F(ScreenshotTest, BoxLinesMeetAcrossCells)
{
    for (const int left : {0, 10}) {
        // The top edge: one line from the corner's centre to the other corner's centre.
        const int y = lineRow(cell(left + 1, frameRow, 2), boxColour);
        ASSERT_GE(y, frameRow * ch) << left;
        EXPECT_TRUE(allOf(QRect(left * cw + cw / 2 + 2, y, 6 * cw - 4, 1), boxColour)) << left;
        // The middle bar through the crossing, and the bottom edge.
        const int middle = lineRow(cell(left + 1, frameRow + 2, 2), boxColour);
        EXPECT_TRUE(allOf(QRect(left * cw + cw / 2 + 2, middle, 6 * cw - 4, 1), boxColour)) << left;
        const int bottom = lineRow(cell(left + 1, frameRow + 3, 2), boxColour);
        EXPECT_TRUE(allOf(QRect(left * cw + cw / 2 + 2, bottom, 6 * cw - 4, 1), boxColour)) << left;
        // The verticals run unbroken through the row boundaries, top corner to bottom corner.
        for (const int col : {left, left + 3, left + 6}) {
            const int x = lineColumn(cell(col, frameRow + 1), boxColour);
            ASSERT_GE(x, col * cw) << col;
            EXPECT_TRUE(allOf(QRect(x, y + 1, 1, bottom - y - 1), boxColour)) << col;
        }
    }
    // Heavy strokes are thicker than light ones.
    EXPECT_GT(fullRows(cell(11, frameRow), boxColour), fullRows(cell(1, frameRow), boxColour));
}

TEST_F(ScreenshotTest, BlockElementsFillTheirCells)
{
    const int row = blockProbeRow;
    EXPECT_TRUE(allOf(cell(0, row), artColour));
    // A full block meets the one below it and the one beside it without a gap.
    EXPECT_TRUE(allOf(cell(0, row, 1).united(cell(0, row + 1)), artColour));
    EXPECT_TRUE(allOf(cell(10, row, 2), artColour));
    // Upper and lower halves cover the cell between them; their edges snap outwards, so on
    // a cell of an odd pixel height both take the middle row. Left and right halves alike.
    const int upper = fullRows(cell(2, row), artColour);
    const int lower = fullRows(cell(4, row), artColour);
    EXPECT_GE(upper + lower, ch);
    EXPECT_LE(upper + lower, ch + 1);
    EXPECT_EQ(fullRows(cell(2, row), artBackground), ch - upper);
    EXPECT_TRUE(allOf(QRect(2 * cw, row * ch, cw, upper), artColour));
    EXPECT_TRUE(allOf(QRect(4 * cw, (row + 1) * ch - lower, cw, lower), artColour));
    const int left = fullColumns(cell(6, row), artColour);
    const int right = fullColumns(cell(8, row), artColour);
    EXPECT_GE(left + right, cw);
    EXPECT_LE(left + right, cw + 1);
    EXPECT_TRUE(allOf(QRect(6 * cw, row * ch, left, ch), artColour));
    EXPECT_TRUE(allOf(QRect(9 * cw - right, row * ch, right, ch), artColour));
    // In the U+2580 row: U+2588 (the ninth from the start) is a full cell too.
    EXPECT_TRUE(allOf(cell(8, blockRow), artColour));
}

TEST_F(ScreenshotTest, PowerlineSeparatorFillsItsBaseEdge)
{
    // U+E0B0: a triangle whose base is the cell's left edge (filled with blending: a unit
    // off is rounding).
    const QColor blue(0, 128, 255);
    EXPECT_TRUE(allOf(QRect(0, powerlineRow * ch + 1, 1, ch - 2), blue, 2));
    EXPECT_EQ(image.pixelColor(cw - 1, powerlineRow * ch), QColor(40, 40, 40)); // beside the tip
    // U+E0B2: the base is the right edge.
    EXPECT_TRUE(allOf(QRect(3 * cw - 1, powerlineRow * ch + 1, 1, ch - 2), blue, 2));
}

TEST_F(ScreenshotTest, MatchesTheReferenceImage)
{
    EXPECT_TRUE(testing::matchesReference(image, QStringLiteral(HALVOREN_SCREENSHOT_DIR), QStringLiteral("terminal-view")));
}

} // namespace
} // namespace corvantix

int main(int argc, char** argv)
{
    // A real X server when there is one (the build runs it on a private Xvfb), else offscreen.
    if (std::getenv("QT_QPA_PLATFORM") == nullptr)
        setenv("QT_QPA_PLATFORM", std::getenv("DISPLAY") != nullptr ? "xcb" : "offscreen", 1);
    // The fallback font for Han characters follows the language: the reference is drawn in
    // the plain locale, whatever the user's.
    setenv("LANG", "C.UTF-8", 1);
    for (const char* name : {"LC_ALL", "LC_CTYPE", "LC_MESSAGES", "LANGUAGE"})
        unsetenv(name);
    // One device pixel per point, whatever the desktop asks for.
    setenv("QT_SCALE_FACTOR", "1", 1);
    unsetenv("QT_SCREEN_SCALE_FACTORS");
    unsetenv("QT_AUTO_SCREEN_SCALE_FACTOR");
    QApplication application(argc, argv);
    if (!corvantix::requiredFontsInstalled())
        return 1;
    testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
