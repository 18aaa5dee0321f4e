// The view's inline images (sizes, stripes, the cursor, refusals, Kitty records), its progress
// bar (colours, the hide timer, clicks passing through) and its debug overlay.
#include "view/qt/TerminalDebugView.h"
#include "view/qt/TerminalProgressBarView.h"
#include "view/qt/TerminalViewImages.h"

#include "ViewTestSupport.h"
#include "platform/ManualMainQueue.h"
#include "ProcessMemory.h"

#include <gtest/gtest.h>

#include <QBuffer>
#include <QPainter>

#include <malloc.h>
#include <zlib.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include <chrono>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace corvantix {
namespace {

using namespace std::chrono_literals;

// 80 x 24 cells of 8 x 17 points in a 640-point-wide view, on a manual clock.
struct ImageView {
    explicit ImageView(int scrollback = 500)
    {
        TerminalOptions options = TerminalOptions::defaultOptions();
        options.scrollback = scrollback;
        view = std::make_unique<TerminalView>(QRect(), std::nullopt, options, nullptr, &queue);
        view->cellDimension = CellDimension{8, 17};
        view->resize(640, 408);
        view->resizeGrid(80, 24);
    }
    Buffer& buffer() { return view->terminal->buffer(); }
    // The view's images on a buffer line.
    std::vector<const TerminalView::AppleImage*> imagesOn(int line)
    {
        std::vector<const TerminalView::AppleImage*> found;
        if (const auto& images = buffer().lines()[line]->images()) {
            for (const auto& image : *images)
                found.push_back(dynamic_cast<const TerminalView::AppleImage*>(image.get()));
        }
        return found;
    }
    int imageLineCount() { return buffer().linesWithImagesCount(); }

    ManualMainQueue queue;
    std::unique_ptr<TerminalView> view;
};

std::vector<std::uint8_t> pixels(int width, int height, std::uint8_t value = 255)
{
    return std::vector<std::uint8_t>(static_cast<std::size_t>(width) * height * 4, value);
}

std::string pngBase64(int width, int height)
{
    QImage image(width, height, QImage::Format_RGB32);
    image.fill(Qt::red);
    QByteArray bytes;
    QBuffer out(&bytes);
    out.open(QIODevice::WriteOnly);
    image.save(&out, "PNG");
    return bytes.toBase64().toStdString();
}

TEST(ViewImages, BitmapsAreCutIntoOneStripePerRowTheyTouch)
{
    struct Case {
        const char* name;
        int width;
        int height;
        int stripes;
        int stripeWidth;
    };
    const Case cases[] = {
        {"two rows", 16, 34, 2, 16},
        {"3.7 rows take four", 16, 63, 4, 16},
        {"a pixel past two rows takes three", 16, 35, 3, 16},
        {"less than a row still takes one", 16, 16, 1, 16},
        // Wider than the 640-point view: the view's width, the height following, and cut
        // where the columns end.
        {"wider than the view", 1280, 68, 2, 608},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        ImageView v;
        v.view->feedText("\x1b[3;5H");
        std::vector<std::uint8_t> bytes = pixels(c.width, c.height);
        v.view->imageFromBitmap(bytes, c.width, c.height);
        for (int i = 0; i < c.stripes; ++i) {
            const auto images = v.imagesOn(2 + i);
            ASSERT_EQ(images.size(), 1u);
            ASSERT_NE(images[0], nullptr);
            EXPECT_EQ(images[0]->col(), 4);
            EXPECT_EQ(images[0]->pixelWidth(), c.stripeWidth);
            EXPECT_EQ(images[0]->pixelHeight(), 17);
            EXPECT_EQ(images[0]->image.size(), QSize(c.stripeWidth, 17));
            EXPECT_FALSE(images[0]->kittyIsKitty);
        }
        EXPECT_EQ(v.imageLineCount(), c.stripes);
        // One line feed per stripe; the column stays.
        EXPECT_EQ(v.buffer().y(), 2 + c.stripes);
        EXPECT_EQ(v.buffer().x(), 4);
    }
}

TEST(ViewImages, StripesHoldTheImageTopDown)
{
    ImageView v;
    // Red over blue, one row each.
    std::vector<std::uint8_t> bytes;
    for (int y = 0; y < 34; ++y)
        for (int x = 0; x < 8; ++x)
            bytes.insert(bytes.end(), {std::uint8_t(y < 17 ? 255 : 0), 0, std::uint8_t(y < 17 ? 0 : 255), 255});
    v.view->imageFromBitmap(bytes, 8, 34);
    ASSERT_EQ(v.imagesOn(0).size(), 1u);
    ASSERT_EQ(v.imagesOn(1).size(), 1u);
    EXPECT_EQ(v.imagesOn(0)[0]->image.pixelColor(4, 8), QColor(255, 0, 0));
    EXPECT_EQ(v.imagesOn(1)[0]->image.pixelColor(4, 8), QColor(0, 0, 255));
}

// The rows below the last whole cell row are drawn too: the last stripe holds them at its
// top and is transparent under them.
TEST(ViewImages, TheLastStripeHoldsThePartRow)
{
    ImageView v;
    std::vector<std::uint8_t> bytes = pixels(8, 40); // 2 rows of 17 and 6 pixel rows more
    v.view->imageFromBitmap(bytes, 8, 40);
    ASSERT_EQ(v.imageLineCount(), 3);
    ASSERT_EQ(v.imagesOn(2).size(), 1u);
    const QImage& last = v.imagesOn(2)[0]->image;
    EXPECT_EQ(last.pixelColor(4, 0), QColor(255, 255, 255));
    EXPECT_EQ(last.pixelColor(4, 5), QColor(255, 255, 255));
    EXPECT_EQ(last.pixelColor(4, 7).alpha(), 0);
    EXPECT_EQ(last.pixelColor(4, 16).alpha(), 0);
    EXPECT_EQ(v.buffer().y(), 3);
}

TEST(ViewImages, AnImageAtTheBottomScrollsAndRedrawsTheScreen)
{
    ImageView v;
    v.view->feedText("\x1b[24;1H");
    v.view->terminal->clearUpdateRange();
    std::vector<std::uint8_t> bytes = pixels(16, 51);
    v.view->imageFromBitmap(bytes, 16, 51);
    EXPECT_EQ(v.buffer().yBase(), 3);
    EXPECT_EQ(v.buffer().y(), 23);
    const auto range = v.view->terminal->getUpdateRange();
    ASSERT_TRUE(range);
    EXPECT_EQ(range->startY, 0);
    EXPECT_EQ(range->endY, 24);
    // The three stripes went up with the text: lines 23, 24 and 25.
    EXPECT_EQ(v.imagesOn(23).size(), 1u);
    EXPECT_EQ(v.imagesOn(25).size(), 1u);
}

TEST(ViewImages, RefusedImagesLeaveTheScreenAlone)
{
    struct Case {
        const char* name;
        std::string input;
        int scrollback;
    };
    const std::string png = pngBase64(16, 16);
    const Case cases[] = {
        // 50 rows of stripes: more than 24 rows and 10 lines of history.
        {"more stripes than lines", "\x1b]1337;File=inline=1;height=50:" + png + "\x07", 10},
        {"not an image", "\x1b]1337;File=inline=1:aGVsbG8=\x07", 500},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        ImageView v(c.scrollback);
        v.view->feedText("\x1b[2;3H");
        v.view->feedText(c.input);
        EXPECT_EQ(v.imageLineCount(), 0);
        EXPECT_EQ(v.buffer().y(), 1);
        EXPECT_EQ(v.buffer().x(), 2);
        EXPECT_EQ(v.buffer().yBase(), 0);
    }
    // The same image at a size that fits is placed.
    ImageView v(10);
    v.view->feedText("\x1b]1337;File=inline=1;height=30:" + png + "\x07");
    EXPECT_EQ(v.imageLineCount(), 30);
}

TEST(ViewImages, ShortPixelBuffersAreRefused)
{
    ImageView v;
    struct Case {
        std::size_t bytes;
        int width;
        int height;
    };
    for (const Case& c : {Case{16 * 34 * 4 - 1, 16, 34}, Case{0, 16, 34}, Case{64, 0, 34}, Case{64, -4, -4},
                          Case{64, 1 << 30, 1 << 30}}) {
        std::vector<std::uint8_t> bytes(c.bytes, 255);
        v.view->imageFromBitmap(bytes, c.width, c.height);
        EXPECT_EQ(v.imageLineCount(), 0) << c.bytes << " bytes for " << c.width << " x " << c.height;
    }
    EXPECT_FALSE(nsImageFromRGBA(std::span<const std::uint8_t>(pixels(4, 4)), 4, 5));
    EXPECT_TRUE(nsImageFromRGBA(std::span<const std::uint8_t>(pixels(4, 4)), 4, 4));
}

TEST(ViewImages, KittyPlacementsAreRecordedWithTheirScreen)
{
    ImageView v;
    const std::string png = pngBase64(16, 34);
    v.view->feedText("\x1b[3;5H\x1b_Ga=T,f=100,i=5,p=7,z=-2,q=2;" + png + "\x1b\\");
    const auto& records = v.view->terminal->kittyGraphicsState().placementsByKey;
    ASSERT_TRUE(records.contains({5, 7}));
    const KittyPlacementRecord& record = records.at({5, 7});
    EXPECT_EQ(record.col, 4);
    EXPECT_EQ(record.row, 2);
    EXPECT_EQ(record.cols, 2);
    EXPECT_EQ(record.rows, 2);
    EXPECT_EQ(record.zIndex, -2);
    EXPECT_FALSE(record.isAlternateBuffer);
    const auto images = v.imagesOn(3);
    ASSERT_EQ(images.size(), 1u);
    EXPECT_TRUE(images[0]->kittyIsKitty);
    EXPECT_EQ(images[0]->kittyImageId, 5u);
    EXPECT_EQ(images[0]->kittyPlacementId, 7u);
    EXPECT_EQ(images[0]->kittyZIndex, -2);
    EXPECT_EQ(images[0]->kittyRow, 2);
    EXPECT_EQ(images[0]->kittyRows, 2);
    // The cursor goes past the image: right of it on the row below.
    EXPECT_EQ(v.buffer().x(), 6);
    EXPECT_EQ(v.buffer().y(), 4);

    v.view->feedText("\x1b[?1049h\x1b_Ga=p,i=5,p=8,q=2\x1b\\");
    ASSERT_TRUE(records.contains({5, 8}));
    EXPECT_TRUE(records.at({5, 8}).isAlternateBuffer);
    // The stored image decodes for the placeholder cells.
    ASSERT_TRUE(v.view->kittyImageForId(5));
    EXPECT_EQ(v.view->kittyImageForId(5)->size(), QSize(16, 34));
    EXPECT_FALSE(v.view->kittyImageForId(6));
}

// A placeholder row shows the image as it is now once the view has redrawn only what it was
// told changed: after the image was deleted (nothing shows), and after new pixels were sent
// under its id (they show). A canvas kept between passes stands for the window's backing store.
TEST(ViewImages, PlaceholderRowsAreRedrawnWhenTheirImageGoesOrChanges)
{
    const auto pixel = [](std::uint8_t red, std::uint8_t blue) {
        const char rgba[] = {char(red), 0, char(blue), char(255)};
        return "f=32,s=1,v=1;" + QByteArray(rgba, 4).toBase64().toStdString();
    };
    struct Case {
        const char* name;
        std::string command;
        std::optional<QColor> shown; // in the first placeholder cell afterwards; none: not the old red
    };
    const Case cases[] = {
        {"deleted with its image", "a=d,d=I,i=42", std::nullopt},
        {"deleted, its image kept", "a=d,d=i,i=42", std::nullopt},
        {"new pixels under its id", "a=t,q=2,i=42," + pixel(0, 255), QColor(0, 0, 255)},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        ImageView v;
        testing::RecordingViewDelegate delegate;
        v.view->terminalDelegate = &delegate;
        v.view->notifyUpdateChanges = true;
        // Image 42 of one red pixel over two cells, shown on row 3 by two placeholder cells;
        // the cursor then waits on row 20.
        v.view->feedText("\x1b_Ga=T,q=2,U=1,i=42,c=2,r=1," + pixel(255, 0) + "\x1b\\");
        v.view->feedText("\x1b[4;1H\x1b[38;5;42m\xf4\x8e\xbb\xae\xcc\x85\xcc\x85\xf4\x8e\xbb\xae\xcc\x85\xcc\x8d\x1b[m"
                         "\x1b[21;1H");
        v.queue.advance(1s);
        QImage canvas(640, 408, QImage::Format_RGB32);
        canvas.fill(Qt::white);
        v.view->render(&canvas);
        const QPoint cell(4, 3 * 17 + 8);
        ASSERT_EQ(canvas.pixelColor(cell), QColor(255, 0, 0));

        // The first render laid the view out, which asks for the whole screen once more: the
        // canvas holds all of it already.
        v.queue.advance(1s);
        v.view->terminal->clearUpdateRange();
        delegate.redraws.clear();
        v.view->feedText("\x1b_G" + c.command + "\x1b\\");
        v.queue.advance(20ms);
        for (const auto& [first, last] : delegate.redraws) {
            const QRect rows(0, first * 17, 640, (last - first + 1) * 17);
            v.view->render(&canvas, rows.topLeft(), QRegion(rows));
        }
        const QColor shown = canvas.pixelColor(cell);
        if (c.shown)
            EXPECT_EQ(shown, *c.shown);
        else
            EXPECT_NE(shown, QColor(255, 0, 0)) << "the deleted image is still shown";
        v.view->terminalDelegate = nullptr;
    }
}

// A Kitty image at its own size is cut where the columns end: the stripes hold what shows.
TEST(ViewImages, StripesStopAtTheLastColumn)
{
    struct Case { const char* name; int width; int col; int stripeWidth; };
    const Case cases[] = {
        {"narrower than the view", 100, 0, 100},
        {"wider, from the first column", 1280, 0, 640},
        {"wider, from column 5", 1280, 4, 608},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        ImageView v;
        v.view->feedText("\x1b[1;" + std::to_string(c.col + 1) + "H\x1b_Ga=T,f=32,s=" + std::to_string(c.width)
                         + ",v=34,q=2;" + QByteArray::fromStdString(std::string(std::size_t(c.width) * 34 * 4, '\x7f')).toBase64().toStdString()
                         + "\x1b\\");
        for (int line : {0, 1}) {
            const auto images = v.imagesOn(line);
            ASSERT_EQ(images.size(), 1u);
            EXPECT_EQ(images[0]->pixelWidth(), c.stripeWidth);
            EXPECT_EQ(images[0]->image.size(), QSize(c.stripeWidth, 17));
        }
        EXPECT_EQ(*v.view->imageStripeBytes, 2 * c.stripeWidth * 17 * 4);
    }
}

// Past the store's limit the oldest stripes give up their pixels, and stripes that scroll out
// of the ring take their bytes with them.
TEST(ViewImages, OldestStripesAreDroppedPastTheBudget)
{
    ImageView v(10);
    const std::int64_t stripeBytes = 16 * 17 * 4;
    TerminalOptions options = v.view->terminal->options();
    options.kittyImageCacheLimitBytes = 5 * stripeBytes;
    v.view->terminal->setOptions(options);
    for (int image = 0; image < 3; ++image) {
        std::vector<std::uint8_t> bytes = pixels(16, 34, static_cast<std::uint8_t>(image + 1));
        v.view->imageFromBitmap(bytes, 16, 34);
    }
    // Six stripes on lines 0..5; the first one went to keep five.
    EXPECT_EQ(*v.view->imageStripeBytes, 5 * stripeBytes);
    for (int line = 0; line < 6; ++line) {
        const auto images = v.imagesOn(line);
        ASSERT_EQ(images.size(), 1u);
        EXPECT_EQ(images[0]->image.isNull(), line == 0) << line;
    }
    // A bigger budget keeps the rest; a full reset drops the lines, and the bytes go with them.
    options = v.view->terminal->options();
    options.kittyImageCacheLimitBytes = 100 * stripeBytes;
    v.view->terminal->setOptions(options);
    std::vector<std::uint8_t> bytes = pixels(16, 17);
    v.view->imageFromBitmap(bytes, 16, 17);
    EXPECT_EQ(*v.view->imageStripeBytes, 6 * stripeBytes);
    v.view->feedText("\x1b" "c");
    EXPECT_EQ(*v.view->imageStripeBytes, 0);
}

// Twenty images of 10000 x 10000 pixels, 4 GB as pixels at their size, stay within the
// store's limit in stripes, with one image being decoded beside them.
TEST(ViewImages, ManyHugeImagesStayBounded)
{
    ImageView v(10'000);
    const std::size_t side = 10'000;
    std::vector<std::uint8_t> raw(side * side * 4, 0x40);
    uLongf packedSize = compressBound(static_cast<uLong>(raw.size()));
    std::vector<std::uint8_t> packed(packedSize);
    ASSERT_EQ(compress2(packed.data(), &packedSize, raw.data(), static_cast<uLong>(raw.size()), 1), Z_OK);
    packed.resize(packedSize);
    std::vector<std::uint8_t>().swap(raw);
    const std::string command = "\r\x1b_Ga=T,f=32,o=z,s=10000,v=10000,q=2;"
        + QByteArray(reinterpret_cast<const char*>(packed.data()), qsizetype(packed.size())).toBase64().toStdString()
        + "\x1b\\";
    malloc_trim(0);
    corvantix::bench::resetPeak();
    const long start = corvantix::bench::statusBytes("VmRSS");
    ASSERT_GT(start, 0) << "needs /proc/self/status";
    for (int i = 0; i < 20; ++i)
        v.view->feedText(command);
    const long grown = corvantix::bench::statusBytes("VmHWM") - start;
    RecordProperty("residentPeakGrowthMB", std::to_string(grown / 1'000'000));
    EXPECT_LT(grown, 1'000'000'000L);
    EXPECT_LE(*v.view->imageStripeBytes, v.view->terminal->options().kittyImageCacheLimitBytes);
    // The newest image is still there, drawn down to its last stripe.
    const int last = v.buffer().yBase() + v.buffer().y() - 1;
    ASSERT_EQ(v.imagesOn(last).size(), 1u);
    EXPECT_FALSE(v.imagesOn(last)[0]->image.isNull());
}

// A Kitty image 2.35 rows high and 2.5 columns wide covers 3 rows and 3 columns: the cursor
// goes to the cell after its last part row and column, with no empty row in between.
TEST(ViewImages, AKittyImageMovesTheCursorPastItsPartRowAndColumn)
{
    ImageView v;
    v.view->feedText("\x1b[3;5H\x1b_Ga=T,f=100,i=5,p=7,q=2;" + pngBase64(20, 40) + "\x1b\\");
    const KittyPlacementRecord& record = v.view->terminal->kittyGraphicsState().placementsByKey.at({5, 7});
    EXPECT_EQ(record.cols, 3);
    EXPECT_EQ(record.rows, 3);
    EXPECT_EQ(v.imageLineCount(), 3);
    EXPECT_EQ(v.imagesOn(4).size(), 1u);
    EXPECT_EQ(v.buffer().x(), 7);
    EXPECT_EQ(v.buffer().y(), 5);
}

// ---------------------------------------------------------------- Progress bar

TEST(ViewProgress, ColoursFollowTheState)
{
    ImageView v;
    TerminalProgressBarView* bar = v.view->progressBarView;
    ASSERT_NE(bar, nullptr);
    EXPECT_TRUE(bar->testAttribute(Qt::WA_TransparentForMouseEvents));
    EXPECT_TRUE(bar->isHidden());

    const QColor accent = bar->palette().color(QPalette::Active, QPalette::Highlight);
    struct Step {
        const char* osc;
        QColor colour;
        std::optional<std::uint8_t> value;
        bool track;
    };
    const Step steps[] = {
        {"1;40", accent, 40, false},
        {"4", QColor(255, 149, 0), 40, false}, // pause keeps 40 %
        {"3", accent, std::nullopt, true},     // indeterminate: the track and a sliding bar
        {"4", QColor(255, 149, 0), 40, false}, // the value survived the indeterminate report
        {"2", QColor(255, 59, 48), 40, false},
    };
    for (const Step& step : steps) {
        SCOPED_TRACE(step.osc);
        v.view->feedText(std::string("\x1b]9;4;") + step.osc + "\x1b\\");
        EXPECT_FALSE(bar->isHidden());
        EXPECT_EQ(bar->geometry(), QRect(0, 0, 640, 2)); // along the top edge
        EXPECT_EQ(bar->barColor(), step.colour);
        EXPECT_EQ(bar->progress(), step.value);
        EXPECT_EQ(bar->trackVisible(), step.track);
        QColor track = step.colour;
        track.setAlphaF(0.3f);
        EXPECT_EQ(bar->trackColor(), track);
    }
    v.view->feedText("\x1b]9;4;0\x1b\\");
    EXPECT_TRUE(bar->isHidden());
    EXPECT_EQ(v.view->lastProgressValue, std::nullopt);

    // After the removal the values are forgotten: an error without a value slides in red.
    v.view->feedText("\x1b]9;4;2\x1b\\");
    EXPECT_EQ(bar->progress(), std::nullopt);
    EXPECT_TRUE(bar->animating());
}

TEST(ViewProgress, HiddenFifteenSecondsAfterTheLastReport)
{
    ImageView v;
    TerminalProgressBarView* bar = v.view->progressBarView;
    v.view->feedText("\x1b]9;4;1;50\x1b\\");
    v.queue.advance(14s);
    EXPECT_FALSE(bar->isHidden());
    v.view->feedText("\x1b]9;4;1;60\x1b\\"); // starts the 15 s again
    v.queue.advance(14s);
    EXPECT_FALSE(bar->isHidden());
    EXPECT_EQ(v.view->lastProgressValue, 60);
    v.queue.advance(1s);
    EXPECT_TRUE(bar->isHidden());
    EXPECT_EQ(v.view->lastProgressValue, std::nullopt);
    EXPECT_EQ(v.queue.delayedCount(), 0u);
}

TEST(ViewProgress, DeterminateWidthAndLayoutWhileHidden)
{
    TerminalProgressBarView bar;
    bar.resize(200, 2);
    bar.update(ProgressReportState::set, 25);
    EXPECT_EQ(bar.barRect(), QRectF(0, 0, 50, 2));
    bar.update(ProgressReportState::remove, std::nullopt);
    const QRectF before = bar.barRect();
    bar.resize(400, 2);
    EXPECT_EQ(bar.barRect(), before);
    // Shown again, it lays itself out at the new width.
    bar.update(ProgressReportState::indeterminate, std::nullopt);
    EXPECT_EQ(bar.barRect(), QRectF(0, 0, 100, 2));
}

// ---------------------------------------------------------------- Debug overlay

TEST(ViewDebug, StatusLineAndLines)
{
    ImageView v;
    auto* overlay = new TerminalDebugView(QRect(0, 0, 640, 408), *v.view, v.view.get());
    EXPECT_EQ(v.view->debug, overlay);
    EXPECT_EQ(overlay->statusText(), QStringLiteral("WAITING"));

    v.view->feedText("ab\r\ncd");
    v.view->updateDisplay();
    EXPECT_EQ(overlay->statusText(), QStringLiteral("x: 2 y: 1 yDisp: 0 yBase: 0 clc: 524 startIndex: 0"));

    const Terminal& terminal = *v.view->terminal;
    EXPECT_EQ(TerminalDebugView::debugLine(terminal, nullptr, 80, QStringLiteral("[001]DB"), false).text,
              QStringLiteral("[001]DB<empty>"));
    const BufferLine& line = *v.buffer().lines()[0];
    EXPECT_EQ(TerminalDebugView::debugLine(terminal, &line, 4, QStringLiteral("[000]"), false).text,
              QStringLiteral("[000]ab  "));
    EXPECT_EQ(TerminalDebugView::debugLine(terminal, &line, 0, QStringLiteral("[000]"), false).text,
              QStringLiteral("[000]"));
}

// The colours of a debug line as runs "start+length fg/bg": black on white, the prefix of a
// highlighted line red on black.
TEST(ViewDebug, LinesCarryTheirColours)
{
    ImageView v;
    v.view->feedText("ab");
    const Terminal& terminal = *v.view->terminal;
    const BufferLine& line = *v.buffer().lines()[0];
    const auto runs = [](const TerminalDebugView::AttributedLine& attributed) {
        std::vector<std::string> result;
        for (const QTextLayout::FormatRange& range : attributed.formats)
            result.push_back(std::to_string(range.start) + "+" + std::to_string(range.length) + " "
                             + range.format.foreground().color().name().toStdString() + "/"
                             + range.format.background().color().name().toStdString());
        return result;
    };
    using Runs = std::vector<std::string>;
    EXPECT_EQ(runs(TerminalDebugView::debugLine(terminal, &line, 4, QStringLiteral("[000]"), false)),
              (Runs{"0+5 #000000/#ffffff", "5+4 #000000/#ffffff"}));
    EXPECT_EQ(runs(TerminalDebugView::debugLine(terminal, &line, 4, QStringLiteral("[000]"), true)),
              (Runs{"0+5 #ff0000/#000000", "5+4 #000000/#ffffff"}));
    EXPECT_EQ(runs(TerminalDebugView::debugLine(terminal, nullptr, 4, QStringLiteral("[001]DB"), true)),
              (Runs{"0+7 #ff0000/#000000", "7+7 #000000/#ffffff"}));
    EXPECT_EQ(runs(TerminalDebugView::debugLine(terminal, &line, 0, QStringLiteral("[000]"), false)),
              (Runs{"0+5 #000000/#ffffff"}));
}

} // namespace
} // namespace corvantix
