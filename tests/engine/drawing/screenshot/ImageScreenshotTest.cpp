// Inline images in a terminal view on a private Xvfb server: a Kitty PNG and a Kitty image
// with a pixel offset placed at the cursor, a Sixel image, and an image shown through Unicode
// placeholder cells, each checked by its pixels and the whole against a reference image.
#include "view/qt/LocalProcessTerminalView.h"
#include "view/qt/TerminalView.h"

#include "ReferenceImage.h"
#include "engine/view/qt/ViewTestSupport.h"

#include <gtest/gtest.h>

#include <QBuffer>
#include <QByteArray>
#include <QImage>
#include <QPainter>
#include <QWindow>

#include <memory>
#include <string>

namespace corvantix {
namespace {

constexpr int gridCols = 60;
constexpr int gridRows = 14;
const QColor red(255, 0, 0);
const QColor blue(0, 0, 255);
const QColor green(0, 255, 0);
const QColor white(255, 255, 255);
const QColor black(0, 0, 0);

std::string base64(const QByteArray& bytes)
{
    return bytes.toBase64().toStdString();
}

// 64 x 64: the left half red, the right half blue.
std::string redBluePng()
{
    QImage image(64, 64, QImage::Format_RGB32);
    QPainter painter(&image);
    painter.fillRect(0, 0, 32, 64, red);
    painter.fillRect(32, 0, 32, 64, blue);
    painter.end();
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    image.save(&buffer, "PNG");
    return base64(bytes);
}

// RGBA pixels of one colour.
std::string solidRgba(int width, int height, const QColor& colour)
{
    QByteArray bytes;
    for (int i = 0; i < width * height; ++i)
        bytes.append(char(colour.red())).append(char(colour.green())).append(char(colour.blue())).append(char(255));
    return base64(bytes);
}

// Half-transparent red, straight alpha, as raw pixels.
std::string halfRedRgba(int width, int height)
{
    QByteArray bytes;
    for (int i = 0; i < width * height; ++i)
        bytes.append(char(255)).append(char(0)).append(char(0)).append(char(128));
    return base64(bytes);
}

// The same as a PNG (which holds straight alpha too).
std::string halfRedPng(int width, int height)
{
    QImage image(width, height, QImage::Format_ARGB32);
    image.fill(QColor(255, 0, 0, 128));
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    image.save(&buffer, "PNG");
    return base64(bytes);
}

// 2 x 2: red, blue over green, white.
std::string quadrantRgba()
{
    QByteArray bytes;
    for (const QColor& c : {red, blue, green, white})
        bytes.append(char(c.red())).append(char(c.green())).append(char(c.blue())).append(char(255));
    return base64(bytes);
}

std::string utf8(char32_t scalar) { return QString::fromUcs4(&scalar, 1).toStdString(); }

// One placeholder cell naming image row `row` and column `col` (the diacritics for 0 to 3).
std::string placeholderCell(int row, int col)
{
    constexpr char32_t diacritics[] = {0x0305, 0x030D, 0x030E, 0x0310};
    return utf8(0x10EEEE) + utf8(diacritics[row]) + utf8(diacritics[col]);
}

QFont fixedFont()
{
    QFont font(QStringLiteral("DejaVu Sans Mono"));
    font.setPixelSize(14);
    return font;
}

class ImageScreenshotTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        view = std::make_unique<TerminalView>(QRect(), fixedFont(), TerminalOptions::defaultOptions());
        ASSERT_TRUE(view->cellDimension);
        cw = static_cast<int>(view->cellDimension->width);
        ch = static_cast<int>(view->cellDimension->height);
        ASSERT_EQ(cw, view->cellDimension->width);
        ASSERT_EQ(ch, view->cellDimension->height);
        view->resize(gridCols * cw + static_cast<int>(view->scrollerWidth()), gridRows * ch);
        view->setCaretViewTracksFocus(false);
        view->show();
        ASSERT_TRUE(testing::waitUntil([&] { return view->windowHandle() && view->windowHandle()->isExposed(); }));
        ASSERT_EQ(view->terminal->cols(), gridCols);

        std::string s = "\x1b[?25l"; // no caret in the picture
        s += "Kitty PNG        Sixel            offset  placeholders";
        // At (2, 1): 64 x 64 points, rows of stripes down to its last pixel row.
        s += "\x1b[2;3H\x1b_Ga=T,f=100,i=1,q=2;" + redBluePng() + "\x1b\\";
        view->feedText(s);
        s.clear();
        cursorAfterPng = {view->terminal->buffer().x(), view->terminal->buffer().y()};
        // At (17, 1): 32 x 48 pixels in eight bands; red left, blue right.
        s += "\x1b[2;18H\x1bPq\"1;1;32;48#1;2;100;0;0#2;2;0;0;100";
        for (int band = 0; band < 8; ++band)
            s += "#1!16~#2!16~-";
        s += "\x1b\\";
        // At (34, 1): two cells by one row of green, five pixels down.
        s += "\x1b[2;35H\x1b_Ga=T,f=32,i=2,q=2,Y=5,s=" + std::to_string(2 * cw) + ",v=" + std::to_string(ch) + ";"
             + solidRgba(2 * cw, ch, green) + "\x1b\\";
        // Image 9, shown by placeholder cells: 4 columns by 2 rows from (42, 1).
        s += "\x1b_Ga=T,U=1,i=9,c=4,r=2,f=32,s=2,v=2,q=2;" + quadrantRgba() + "\x1b\\";
        for (int row = 0; row < 2; ++row) {
            s += "\x1b[" + std::to_string(2 + row) + ";43H\x1b[38;2;0;0;9m";
            for (int col = 0; col < 4; ++col)
                s += placeholderCell(row, col);
            s += "\x1b[m";
        }
        s += "\x1b[8;1Hbelow the images";
        // Row 9 on a blue background: half-transparent red as raw pixels, as a PNG, as a
        // cropped PNG (decoded here) and through placeholder cells, each 2 cells by 1 row.
        s += "\x1b[10;1H\x1b[48;2;0;0;255m" + std::string(24, ' ') + "\x1b[m";
        const std::string size = "s=" + std::to_string(2 * cw) + ",v=" + std::to_string(ch);
        s += "\x1b[10;2H\x1b_Ga=T,f=32,C=1,q=2," + size + ";" + halfRedRgba(2 * cw, ch) + "\x1b\\";
        s += "\x1b[10;6H\x1b_Ga=T,f=100,C=1,q=2;" + halfRedPng(2 * cw, ch) + "\x1b\\";
        s += "\x1b[10;10H\x1b_Ga=T,f=100,C=1,q=2,x=1,w=" + std::to_string(2 * cw) + ";"
             + halfRedPng(2 * cw + 1, ch) + "\x1b\\";
        s += "\x1b_Ga=T,U=1,i=10,c=2,r=1,f=32,q=2," + size + ";" + halfRedRgba(2 * cw, ch) + "\x1b\\";
        s += "\x1b[10;14H\x1b[38;2;0;0;10;48;2;0;0;255m" + placeholderCell(0, 0) + placeholderCell(0, 1) + "\x1b[m";
        view->feedText(s);
        view->updateDisplayNow();
        QCoreApplication::processEvents();
        image = view->grab(QRect(0, 0, gridCols * cw, gridRows * ch)).toImage().convertToFormat(QImage::Format_RGB32);
    }

    QColor at(double x, double y) const { return image.pixelColor(static_cast<int>(x), static_cast<int>(y)); }
    ::testing::AssertionResult allOf(const QRect& area, const QColor& colour, int tolerance = 8) const
    {
        for (int y = area.top(); y <= area.bottom(); ++y)
            for (int x = area.left(); x <= area.right(); ++x) {
                const QColor c = image.pixelColor(x, y);
                if (std::abs(c.red() - colour.red()) > tolerance || std::abs(c.green() - colour.green()) > tolerance
                    || std::abs(c.blue() - colour.blue()) > tolerance)
                    return ::testing::AssertionFailure() << "pixel (" << x << ", " << y << ") is "
                                                         << c.name().toStdString() << ", not "
                                                         << colour.name().toStdString();
            }
        return ::testing::AssertionSuccess();
    }

    std::unique_ptr<TerminalView> view;
    QImage image;
    int cw = 0;
    int ch = 0;
    std::pair<int, int> cursorAfterPng;
};

int cellsCovering(int pixels, int cell) { return (pixels + cell - 1) / cell; }

TEST_F(ImageScreenshotTest, KittyPngAtTheCursorShowsItsTwoHalves)
{
    const int left = 2 * cw, top = ch;
    // Every pixel row, the last ones in a stripe of their own.
    EXPECT_TRUE(allOf(QRect(left, top, 32, 64), red));
    EXPECT_TRUE(allOf(QRect(left + 32, top, 32, 64), blue));
    // Nothing beside or below it.
    EXPECT_TRUE(allOf(QRect(left + 64, top, 4, 64), black));
    EXPECT_TRUE(allOf(QRect(left, top + 64, 64, 2), black));
    // The cursor went to the cell after its last column, on the row after its last row.
    EXPECT_EQ(cursorAfterPng, std::make_pair(2 + cellsCovering(64, cw), 1 + cellsCovering(64, ch)));
}

TEST_F(ImageScreenshotTest, SixelImageShowsItsColours)
{
    const int left = 17 * cw, top = ch;
    EXPECT_TRUE(allOf(QRect(left, top, 16, 48), red));
    EXPECT_TRUE(allOf(QRect(left + 16, top, 16, 48), blue));
    EXPECT_TRUE(allOf(QRect(left + 32, top, 4, 48), black));
    EXPECT_TRUE(allOf(QRect(left, top + 48, 32, 2), black));
}

// Half-transparent red over blue is (128, 0, 127) whichever way the pixels came: raw pixels
// with straight alpha are premultiplied once, a decoded PNG already is.
TEST_F(ImageScreenshotTest, HalfTransparentImagesBlendOverTheBackground)
{
    const QColor blend(128, 0, 127);
    const int top = 9 * ch;
    for (const auto& [name, col] : {std::pair{"raw pixels", 1}, std::pair{"PNG", 5}, std::pair{"cropped PNG", 9},
                                    std::pair{"placeholder cells", 13}}) {
        SCOPED_TRACE(name);
        EXPECT_TRUE(allOf(QRect(col * cw + 1, top + 1, 2 * cw - 2, ch - 2), blend, 3));
        EXPECT_TRUE(allOf(QRect((col + 2) * cw + 1, top + 1, cw - 2, ch - 2), blue));
    }
}

TEST_F(ImageScreenshotTest, PixelOffsetMovesTheImageDown)
{
    const int left = 34 * cw, top = ch;
    EXPECT_TRUE(allOf(QRect(left, top, 2 * cw, 5), black));
    EXPECT_TRUE(allOf(QRect(left, top + 5, 2 * cw, ch), green));
    EXPECT_TRUE(allOf(QRect(left, top + 5 + ch, 2 * cw, 2), black));
}

TEST_F(ImageScreenshotTest, PlaceholderCellsShowTheirPiecesOfTheImage)
{
    // The 2 x 2 image fitted into 4 x 2 cells: each quadrant covers two cells side by side.
    const int left = 42 * cw, top = ch;
    const int middle = top + ch; // the boundary between the image's two halves, near the rows'
    EXPECT_EQ(at(left + cw, top + ch / 2), red);
    EXPECT_EQ(at(left + 3 * cw, top + ch / 2), blue);
    EXPECT_EQ(at(left + cw, middle + ch / 2), green);
    EXPECT_EQ(at(left + 3 * cw, middle + ch / 2), white);
    // No cell outside the placeholders shows any of it.
    EXPECT_TRUE(allOf(QRect(left + 4 * cw, top, cw, 2 * ch), black));
}

// The whole road: a program writes the Sixel string to its terminal, and the view draws it.
TEST(SixelFromAProgram, ShowsItsColoursWhereTheCursorWas)
{
    LocalProcessTerminalView view(QRect(), fixedFont(), TerminalOptions::defaultOptions());
    const int cw = static_cast<int>(view.cellDimension->width), ch = static_cast<int>(view.cellDimension->height);
    view.resize(20 * cw + static_cast<int>(view.scrollerWidth()), 6 * ch);
    view.setCaretViewTracksFocus(false);
    view.show();
    ASSERT_TRUE(testing::waitUntil([&] { return view.windowHandle() && view.windowHandle()->isExposed(); }));
    // 16 x 12 pixels, less than a row, at the top left: red over blue; then the program waits.
    view.startProcess("/bin/sh", {"-c", "printf '\\033[?25l\\033[H\\033Pq#1;2;100;0;0#2;2;0;0;100"
                                        "#1!16~-#2!16~\\033\\\\'; sleep 30"});
    QImage picture;
    const auto shows = [&](const QRect& area, const QColor& colour) {
        for (int y = area.top(); y <= area.bottom(); ++y)
            for (int x = area.left(); x <= area.right(); ++x)
                if (picture.pixelColor(x, y) != colour)
                    return false;
        return true;
    };
    EXPECT_TRUE(testing::waitUntil([&] {
        view.updateDisplayNow();
        picture = view.grab(QRect(0, 0, 20 * cw, 6 * ch)).toImage().convertToFormat(QImage::Format_RGB32);
        return shows(QRect(0, 0, 16, 6), red) && shows(QRect(0, 6, 16, 6), blue);
    })) << "the program's Sixel image was not drawn at the top left";
    EXPECT_TRUE(shows(QRect(16, 0, 4, 12), black));
    view.terminate();
}

TEST_F(ImageScreenshotTest, MatchesTheReferenceImage)
{
    EXPECT_TRUE(testing::matchesReference(image, QStringLiteral(HALVOREN_SCREENSHOT_DIR), QStringLiteral("inline-images")));
}

} // namespace
} // namespace corvantix
