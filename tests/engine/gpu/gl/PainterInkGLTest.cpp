// The painter's picture against the GPU renderer's, where they once parted: glyph ink that
// hangs out of its row, CJK and Hangul drawn at a device pixel ratio above 1, and marks on
// emoji in the row and under the caret. The GPU
// frame is drawn off screen at the ratio asked for; the painter draws into an image of that
// ratio, as into the window's backing store.
#include "GLTestSupport.h"

#include <QFontDatabase>
#include <QImage>
#include <QOpenGLFramebufferObject>
#include <QPainter>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <optional>
#include <string>
#include <vector>

#include "view/qt/TerminalView.h"

namespace corvantix {
namespace {

using namespace gltest;

const QColor background(0, 0, 0);
const QColor foreground(255, 255, 255);

int channelDifference(const QColor& a, const QColor& b)
{
    return std::max({std::abs(a.red() - b.red()), std::abs(a.green() - b.green()), std::abs(a.blue() - b.blue())});
}

class PainterInkGLTest : public GLViewRowsTest {
protected:
    void SetUp() override
    {
        GLContextTest::SetUp();
        startRendererOnView(QRect(0, 0, 320, 96));
        view->setNativeBackgroundColor(background);
        view->setNativeForegroundColor(foreground);
        view->feedText("\x1b[?25l");
    }

    // The GPU renderer's frame at `scale` device pixels per point.
    QImage gpuFrame(double scale)
    {
        const QSize size(static_cast<int>(std::lround(view->width() * scale)),
                         static_cast<int>(std::lround(view->height() * scale)));
        QOpenGLFramebufferObject target(size);
        EXPECT_TRUE(target.bind());
        gl().glViewport(0, 0, size.width(), size.height());
        gl().glClearColor(0, 0, 0, 1);
        gl().glClear(GL_COLOR_BUFFER_BIT);
        const DrawData data = renderer->buildDrawData(scale);
        renderer->encodeDrawData(data, {static_cast<float>(size.width()), static_cast<float>(size.height())});
        gl().glFinish();
        target.release();
        return target.toImage().convertToFormat(QImage::Format_RGB32);
    }

    // The painter's picture of the whole view at `scale`. Drawn over a transparent clear and
    // then put on the background, as the GPU renderer rasterises its glyphs: drawn straight
    // onto an opaque surface the raster engine blends the partly covered edge pixels of an
    // unhinted outline brighter, by the same share at every ratio, which is not the weight
    // of the glyph this compares.
    // With `caret`, the focused caret widget is drawn over the rows where it stands, as the
    // window shows it.
    QImage painterFrame(double scale, bool caret = false)
    {
        QImage image(QSize(view->width(), view->height()) * scale, QImage::Format_ARGB32_Premultiplied);
        image.setDevicePixelRatio(scale);
        image.fill(Qt::transparent);
        view->layerBackgroundColor = Qt::transparent;
        QPainter painter(&image);
        view->drawTerminalContents(painter, QRect(0, 0, view->width(), view->height()));
        if (caret) {
            view->updateCaretView();
            painter.translate(view->caretFrame().topLeft());
            view->caretView->drawCaret(painter, true);
        }
        painter.end();
        image.setDevicePixelRatio(1.0); // put on pixel for pixel
        QImage shown(image.size(), QImage::Format_RGB32);
        shown.fill(background);
        QPainter onBackground(&shown);
        onBackground.drawImage(0, 0, image);
        onBackground.end();
        return shown;
    }

    // Device pixels of a cell range of one row.
    QRect cells(int row, int first, int end, double scale) const
    {
        const CellDimension cell = *view->cellDimension;
        return QRect(QPoint(static_cast<int>(std::lround(cell.width * first * scale)),
                            static_cast<int>(std::lround(cell.height * row * scale))),
                     QPoint(static_cast<int>(std::lround(cell.width * end * scale)) - 1,
                            static_cast<int>(std::lround(cell.height * (row + 1) * scale)) - 1));
    }
};

double meanInk(const QImage& image, const QRect& area)
{
    double sum = 0;
    for (int y = area.top(); y <= area.bottom(); ++y)
        for (int x = area.left(); x <= area.right(); ++x)
            sum += qGray(image.pixel(x, y)) / 255.0;
    return sum / (static_cast<double>(area.width()) * area.height());
}

// The width of the ink in the area: from its first lit column to its last.
int inkWidth(const QImage& image, const QRect& area)
{
    int left = area.right() + 1;
    int right = area.left() - 1;
    for (int y = area.top(); y <= area.bottom(); ++y)
        for (int x = area.left(); x <= area.right(); ++x)
            if (qGray(image.pixel(x, y)) > 64) {
                left = std::min(left, x);
                right = std::max(right, x);
            }
    return right >= left ? right - left + 1 : 0;
}

// Regular and bold CJK and Hangul weigh in the painter what they weigh on the GPU, at device
// pixel ratios 1, 2 and 3 (within 5 %), and 漢 is as wide in both (within a pixel). Regular
// stays lighter than bold.
TEST_F(PainterInkGLTest, CjkAndHangulKeepTheirWeightAtEveryPixelRatio)
{
    if (!QFontDatabase::families().contains(QStringLiteral("Noto Sans CJK JP")))
        FAIL() << "the font package fonts-noto-cjk is missing (no Noto Sans CJK JP)";
    // R 漢字 한국어, then the same in bold: the CJK and Hangul take columns 2 to 12.
    const std::string text = "\xe6\xbc\xa2\xe5\xad\x97 \xed\x95\x9c\xea\xb5\xad\xec\x96\xb4";
    view->feedText("R " + text + " abc\r\n\x1b[1mB " + text + " abc\x1b[0m");
    for (const double scale : {1.0, 2.0, 3.0}) {
        SCOPED_TRACE(scale);
        const QImage painted = painterFrame(scale);
        const QImage drawn = gpuFrame(scale);
        double regular[2] = {};
        double bold[2] = {};
        for (int path = 0; path < 2; ++path) {
            const QImage& picture = path == 0 ? painted : drawn;
            regular[path] = meanInk(picture, cells(0, 2, 13, scale));
            bold[path] = meanInk(picture, cells(1, 2, 13, scale));
        }
        const int paintedWidth = inkWidth(painted, cells(0, 2, 4, scale));
        const int drawnWidth = inkWidth(drawn, cells(0, 2, 4, scale));
        std::printf("ratio %.0f: Latin %.4f painter, %.4f GPU\n", scale, meanInk(painted, cells(0, 14, 17, scale)),
                    meanInk(drawn, cells(0, 14, 17, scale)));
        std::printf("ratio %.0f: regular ink %.4f painter, %.4f GPU; bold %.4f painter, %.4f GPU; "
                    "\xe6\xbc\xa2 %d px painter, %d px GPU\n",
                    scale, regular[0], regular[1], bold[0], bold[1], paintedWidth, drawnWidth);
        EXPECT_NEAR(regular[0], regular[1], 0.05 * regular[1]);
        EXPECT_NEAR(bold[0], bold[1], 0.05 * bold[1]);
        EXPECT_GT(bold[0], regular[0] * 1.1) << "the painter's regular row is as heavy as its bold one";
        EXPECT_GT(bold[1], regular[1] * 1.1);
        EXPECT_NEAR(paintedWidth, drawnWidth, 1);
        if (std::abs(regular[0] - regular[1]) > 0.05 * regular[1]) {
            painted.save(QStringLiteral("cjk-painter-%1.png").arg(scale));
            drawn.save(QStringLiteral("cjk-gpu-%1.png").arg(scale));
        }
    }
}

// Ink hanging below its row (a Tibetan stack, a tilde and a cedilla under their letters)
// stays lit in the painter while the next row, on a coloured background, is typed one
// character at a time, as on the GPU, which draws every background before any glyph. The
// two pictures of the rows differ by no more than the same area of Latin text does.
TEST_F(PainterInkGLTest, InkHangingIntoTheNextRowStaysAsTheGpuShowsIt)
{
    if (!QFontDatabase::families().contains(QStringLiteral("Noto Serif Tibetan")))
        FAIL() << "the font package fonts-noto-core is missing (no Noto Serif Tibetan)";
    // བསྒྲུབས g̰y̧: the stack takes columns 1 and 2... the row's four first cells.
    view->feedText("\xe0\xbd\x96\xe0\xbd\xa6\xe0\xbe\x92\xe0\xbe\xb2\xe0\xbd\xb4\xe0\xbd\x96\xe0\xbd\xa6 "
                   "g\xcc\xb0y\xcc\xa7\r\n");
    const double scale = 1.0;
    QImage typed = painterFrame(scale);
    view->feedText("\x1b[48;2;0;96;0m");
    const CellDimension cell = *view->cellDimension;
    for (int column = 0; column < 12; ++column) {
        view->feedText("w");
        // The widget's paint of the cell just typed, clipped to it.
        const QRect dirty(static_cast<int>(std::floor(cell.width * column)), static_cast<int>(cell.height),
                          static_cast<int>(std::ceil(cell.width)) + 1, static_cast<int>(std::ceil(cell.height)));
        QPainter painter(&typed);
        painter.setClipRect(dirty);
        view->drawTerminalContents(painter, dirty);
    }
    view->feedText("\x1b[0m\r\nThe quick brown fox");
    const QImage drawn = gpuFrame(scale);

    const auto farApart = [&](const QRect& area) {
        int count = 0;
        for (int y = area.top(); y <= area.bottom(); ++y)
            for (int x = area.left(); x <= area.right(); ++x)
                count += channelDifference(typed.pixelColor(x, y), drawn.pixelColor(x, y)) > 96 ? 1 : 0;
        return count;
    };
    // The typed row over the hanging ink, and the yardstick: as much Latin text.
    const QRect hangs = cells(1, 0, 8, scale);
    const int differ = farApart(hangs);
    typed = painterFrame(scale); // the Latin row drawn by the painter
    const int yardstick = farApart(cells(2, 0, 8, scale));
    const int margin = hangs.width() * hangs.height() / 200;
    // The stack's foot and the tilde in the green row: lit, not green.
    int lit = 0;
    for (int y = hangs.top(); y <= hangs.top() + 3; ++y)
        for (int x = hangs.left(); x <= hangs.right(); ++x)
            lit += channelDifference(drawn.pixelColor(x, y), QColor(0, 96, 0)) > 96 ? 1 : 0;
    std::printf("hanging ink: %d px far apart, Latin of the same size %d; %d px lit on the GPU\n", differ, yardstick,
                lit);
    EXPECT_GT(lit, 5) << "no ink hangs into the row: the test shows nothing";
    EXPECT_LE(differ, yardstick + margin);
}

// The number of pixel columns of the area that hold decoration ink: somewhere in the column
// the area differs from the same text undecorated, `plainAbove` pixels higher, in `colour`
// when given.
int decoratedColumns(const QImage& image, const QRect& area, int plainAbove, const std::optional<QColor>& colour)
{
    int columns = 0;
    for (int x = area.left(); x <= area.right(); ++x) {
        bool inked = false;
        for (int y = area.top(); y <= area.bottom() && !inked; ++y) {
            const QColor pixel = image.pixelColor(x, y);
            inked = channelDifference(pixel, image.pixelColor(x, y - plainAbove)) > 64
                && (!colour || channelDifference(pixel, *colour) <= 64);
        }
        columns += inked ? 1 : 0;
    }
    return columns;
}

// Underlines of every style, an underline colour and a strike-through under wide characters
// cover both cells of each, in the painter as on the GPU, whether the character follows a
// colour change or ends the row; the blank cells around them stay bare in both.
TEST_F(PainterInkGLTest, DecorationsCoverBothCellsOfAWideCharacter)
{
    if (!QFontDatabase::families().contains(QStringLiteral("Noto Sans CJK JP")))
        FAIL() << "the font package fonts-noto-cjk is missing (no Noto Sans CJK JP)";
    if (!QFontDatabase::families().contains(QStringLiteral("Noto Color Emoji")))
        FAIL() << "the font package fonts-noto-color-emoji is missing (no Noto Color Emoji)";
    struct Case {
        const char* name;
        const char* sgr;
        std::optional<QColor> colour;
    };
    const Case cases[] = {
        {"single", "4", std::nullopt},          {"double", "4:2", std::nullopt},
        {"curly", "4:3", std::nullopt},         {"dotted", "4:4", std::nullopt},
        {"dashed", "4:5", std::nullopt},        {"strike-through", "9", std::nullopt},
        {"underline colour", "4;58:2::255:0:0", QColor(255, 0, 0)},
    };
    const int cols = view->terminal->cols();
    // 漢字한국👍 in columns 0 to 9; 漢 after a colour change in 10 and 11; 字 in the last two.
    const auto line = [&](const std::string& sgr) {
        return "\x1b[" + sgr + "m\xe6\xbc\xa2\xe5\xad\x97\xed\x95\x9c\xea\xb5\xad\xf0\x9f\x91\x8d"
               "\x1b[38;2;0;160;255m\xe6\xbc\xa2\x1b[39m\x1b["
            + std::to_string(cols - 1) + "G\xe5\xad\x97\x1b[0m";
    };
    std::vector<bool> expected(static_cast<std::size_t>(cols), false);
    for (int c = 0; c < 12; ++c)
        expected[static_cast<std::size_t>(c)] = true;
    expected[static_cast<std::size_t>(cols - 2)] = expected[static_cast<std::size_t>(cols - 1)] = true;
    for (const double scale : {1.0, 2.0}) {
        for (const Case& c : cases) {
            SCOPED_TRACE(std::string(c.name) + " at ratio " + std::to_string(scale));
            view->feedText("\x1b[H\x1b[2J" + line("0") + "\r\n" + line(c.sgr));
            const QImage painted = painterFrame(scale);
            const QImage drawn = gpuFrame(scale);
            const int rowOffset = cells(1, 0, 1, scale).top() - cells(0, 0, 1, scale).top();
            std::string paintedCells;
            std::string drawnCells;
            std::string wanted;
            for (int column = 0; column < cols; ++column) {
                // The cell's pixels, less a pixel at each side where a neighbour's piece
                // may end (the glyph above may hide some of a piece, not all of it).
                const QRect cell = cells(1, column, column + 1, scale).adjusted(1, 0, -1, 0);
                paintedCells += decoratedColumns(painted, cell, rowOffset, c.colour) > 0 ? '#' : '.';
                drawnCells += decoratedColumns(drawn, cell, rowOffset, c.colour) > 0 ? '#' : '.';
                wanted += expected[static_cast<std::size_t>(column)] ? '#' : '.';
            }
            EXPECT_EQ(paintedCells, wanted) << "painter";
            EXPECT_EQ(drawnCells, wanted) << "GPU";
            if (paintedCells != wanted || drawnCells != wanted) {
                painted.save(QStringLiteral("decorations-painter.png"));
                drawn.save(QStringLiteral("decorations-gpu.png"));
            }
        }
    }
}

// Emoji sequences (a flag, a skin tone, a joined family, a flag of joined parts), each with a
// mark of the text's font on it: above, through the middle and below the picture.
std::vector<std::pair<const char*, std::string>> markedSequences()
{
    const std::string acute = "\xcc\x81";
    const std::string overlay = "\xcc\xb8"; // a long solidus across the picture
    return {
        {"thumbs up, acute", "\xf0\x9f\x91\x8d" + acute},
        {"French flag, acute", "\xf0\x9f\x87\xab\xf0\x9f\x87\xb7" + acute},
        {"Japanese flag, diaeresis", "\xf0\x9f\x87\xaf\xf0\x9f\x87\xb5\xcc\x88"},
        {"family, acute", "\xf0\x9f\x91\xa8\xe2\x80\x8d\xf0\x9f\x91\xa9\xe2\x80\x8d\xf0\x9f\x91\xa7\xe2\x80\x8d"
                          "\xf0\x9f\x91\xa6" + acute},
        {"waving hand with a skin tone, acute", "\xf0\x9f\x91\x8b\xf0\x9f\x8f\xbd" + acute},
        {"rainbow flag, acute", "\xf0\x9f\x8f\xb3\xef\xb8\x8f\xe2\x80\x8d\xf0\x9f\x8c\x88" + acute},
        {"Japanese flag, solidus", "\xf0\x9f\x87\xaf\xf0\x9f\x87\xb5" + overlay},
        {"thumbs up, solidus", "\xf0\x9f\x91\x8d" + overlay},
        {"French flag, dot below", "\xf0\x9f\x87\xab\xf0\x9f\x87\xb7\xcc\xa3"},
    };
}

// The first and last pixel columns of `area` where `marked` differs from `bare`, `rowsBelow`
// device pixels lower there; (area's right + 1, -1) when nothing differs.
std::pair<int, int> differingColumns(const QImage& marked, const QImage& bare, const QRect& area, int rowsBelow = 0)
{
    int first = area.right() + 1;
    int last = -1;
    for (int y = area.top(); y <= area.bottom(); ++y)
        for (int x = area.left(); x <= area.right(); ++x)
            if (channelDifference(marked.pixelColor(x, y), bare.pixelColor(x, y + rowsBelow)) > 64) {
                first = std::min(first, x);
                last = std::max(last, x);
            }
    return {first, last};
}

// A mark on an emoji sequence (a flag, a skin tone, a joined family, a flag of joined parts)
// comes from the text's font, which has it, the picture from the colour font, which has not:
// the mark is drawn over the picture, fitted with it (at its scale) into the sequence's two
// cells and centred there, in the painter as on the GPU. Fitted on its own, at its own scale
// and offset, it would stand off the centre.
TEST_F(PainterInkGLTest, AMarkOnAnEmojiSequenceIsCentredOnItsPicture)
{
    if (!QFontDatabase::families().contains(QStringLiteral("Noto Color Emoji")))
        FAIL() << "the font package fonts-noto-color-emoji is missing (no Noto Color Emoji)";
    const CellDimension cell = *view->cellDimension;
    for (const double scale : {1.0, 2.0}) {
        for (const auto& [name, marked] : markedSequences()) {
            SCOPED_TRACE(std::string(name) + " at ratio " + std::to_string(scale));
            const std::string bare = marked.substr(0, marked.size() - 2);
            // Each row: the sequence in columns 0 and 1, a bar in column 2; the mark in red,
            // seen also over the white of a picture.
            view->feedText("\x1b[H\x1b[2J\x1b[38;2;255;0;0m" + bare + "|\r\n" + marked + "|");
            ASSERT_EQ(view->terminal->buffer().x(), 3) << "the sequence and its mark take two cells";
            const QImage painted = painterFrame(scale);
            const QImage drawn = gpuFrame(scale);
            const QRect row = cells(1, 0, 6, scale);
            const int rowHeight = row.top() - cells(0, 0, 1, scale).top();
            for (const auto& [picture, path] : {std::pair(&painted, "painter"), std::pair(&drawn, "GPU")}) {
                // The columns where the marked row differs from the bare one.
                const auto [first, last] = differingColumns(*picture, *picture, row, -rowHeight);
                // Centred on the picture, which is centred in the two cells: the mark takes the
                // picture's fit (scaled down with it), not one of its own.
                const double centre = cell.width * scale;
                std::printf("%s, %s at ratio %.0f: the mark changes x %d to %d, the cells' centre is %.1f\n", path,
                            name, scale, first, last, centre);
                const bool centred = last >= 0 && std::abs((first + last + 1) / 2.0 - centre) <= scale;
                EXPECT_TRUE(centred) << "the mark is missing or off its picture in the " << path;
                if (!centred) {
                    painted.save(QStringLiteral("emoji-mark-painter.png"));
                    drawn.save(QStringLiteral("emoji-mark-gpu.png"));
                }
            }
        }
    }
}

// Under a focused block caret the cell's glyphs are drawn again in the caret's colours where
// the row draws them: a mark on an emoji sequence stays over its picture (not hidden under
// it) and in the same place as with the caret hidden, in the painter as on the GPU, so it does
// not move or vanish as the caret blinks.
TEST_F(PainterInkGLTest, AMarkOnAnEmojiSequenceStaysInPlaceUnderABlockCaret)
{
    if (!QFontDatabase::families().contains(QStringLiteral("Noto Color Emoji")))
        FAIL() << "the font package fonts-noto-color-emoji is missing (no Noto Color Emoji)";
    view->cursorColorIsDefault = false;
    view->setCaretColor(QColor(0, 0, 160));
    view->cursorTextColorIsDefault = false;
    view->setCaretTextColor(QColor(255, 0, 0)); // the mark in the row's colour
    view->setCaretViewTracksFocus(false);       // drawn focused
    view->feedText("\x1b[2 q");                 // a steady block
    for (const double scale : {1.0, 2.0}) {
        const QRect area = cells(0, 0, 6, scale).united(cells(1, 0, 6, scale));
        for (const auto& [name, marked] : markedSequences()) {
            SCOPED_TRACE(std::string(name) + " at ratio " + std::to_string(scale));
            // Both renderers' pictures of the sequence in columns 0 and 1, the cursor on it.
            const auto frames = [&](const std::string& text, bool caret) {
                view->feedText("\x1b[H\x1b[2J\x1b[38;2;255;0;0m" + text + "|\x1b[H" + (caret ? "\x1b[?25h" : "\x1b[?25l"));
                return std::pair(painterFrame(scale, caret), gpuFrame(scale));
            };
            const std::string bare = marked.substr(0, marked.size() - 2);
            const auto [bareHidden, bareHiddenGpu] = frames(bare, false);
            const auto [markedHidden, markedHiddenGpu] = frames(marked, false);
            const auto [bareShown, bareShownGpu] = frames(bare, true);
            const auto [markedShown, markedShownGpu] = frames(marked, true);
            const std::pair<const QImage*, const QImage*> painter[] = {{&markedHidden, &bareHidden},
                                                                       {&markedShown, &bareShown}};
            const std::pair<const QImage*, const QImage*> gpu[] = {{&markedHiddenGpu, &bareHiddenGpu},
                                                                   {&markedShownGpu, &bareShownGpu}};
            for (const auto& [pictures, path] : {std::pair(painter, "painter"), std::pair(gpu, "GPU")}) {
                const auto [hiddenFirst, hiddenLast] = differingColumns(*pictures[0].first, *pictures[0].second, area);
                const auto [shownFirst, shownLast] = differingColumns(*pictures[1].first, *pictures[1].second, area);
                std::printf("%s, %s at ratio %.0f: the mark changes x %d to %d, under the caret %d to %d\n", path,
                            name, scale, hiddenFirst, hiddenLast, shownFirst, shownLast);
                ASSERT_GE(hiddenLast, 0) << "no mark in the row: the test shows nothing";
                const bool inPlace = shownLast >= 0 && std::abs(shownFirst - hiddenFirst) <= scale
                    && std::abs(shownLast - hiddenLast) <= scale;
                EXPECT_TRUE(inPlace) << "the mark is hidden or moved under the caret in the " << path;
                if (!inPlace) {
                    pictures[1].first->save(QStringLiteral("emoji-mark-caret-%1.png").arg(path));
                    pictures[0].first->save(QStringLiteral("emoji-mark-row-%1.png").arg(path));
                }
            }
        }
    }
}

} // namespace
} // namespace corvantix
