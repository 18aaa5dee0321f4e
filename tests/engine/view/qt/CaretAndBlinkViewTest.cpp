// The view's wiring of the caret (focus and cursor style) and of blinking text (the timer's
// gates: what is on screen, the view being shown, the application being active).
#include "ViewTestSupport.h"

#include "platform/ManualMainQueue.h"

#include <gtest/gtest.h>

#include <QFocusEvent>
#include <QGuiApplication>
#include <QImage>
#include <QPaintEvent>
#include <QPainter>
#include <QRegion>
#include <QWindow>

#include <chrono>
#include <cstdlib>

namespace corvantix {
namespace {

using namespace std::chrono_literals;
using testing::waitUntil;

QFont font()
{
    QFont f(QStringLiteral("DejaVu Sans Mono"));
    f.setPixelSize(14);
    return f;
}

// How many pixels of `area` in the view as it shows now, caret included, pass `test`.
template <typename Test>
int pixelsOnScreen(QWidget& view, const QRect& area, const Test& test)
{
    const QImage image = view.grab().toImage();
    int count = 0;
    for (int y = area.top(); y <= area.bottom(); ++y)
        for (int x = area.left(); x <= area.right(); ++x)
            count += test(image.pixelColor(x, y)) ? 1 : 0;
    return count;
}

struct ClockedView : testing::ViewFixture {
    ClockedView() : ViewFixture(QRect(0, 0, 400, 200), font()) {}

    void focus(bool in)
    {
        QFocusEvent event(in ? QEvent::FocusIn : QEvent::FocusOut, Qt::OtherFocusReason);
        QCoreApplication::sendEvent(&view, &event);
    }
};

TEST(CaretWiring, FocusAndCursorStyleDecideTheBlink)
{
    ClockedView f;
    CaretView& caret = *f.view.caretView;
    f.view.show(); // the caret blinks only on screen
    ASSERT_TRUE(waitUntil([&] { return f.view.isActiveWindow(); }));
    f.focus(false); // the window's activation gave the view the focus
    ASSERT_EQ(caret.style, CursorStyle::blinkBlock); // the options' style
    EXPECT_FALSE(caret.focused);
    EXPECT_FALSE(caret.isBlinking()); // unfocused: a still outline

    f.view.feedText("\x1b[?1004h");
    f.delegate.sent.clear();
    f.focus(true);
    EXPECT_TRUE(caret.focused);
    EXPECT_TRUE(caret.isBlinking());
    EXPECT_EQ(f.delegate.sent, "\x1b[I"); // the focus report still goes out

    // DECSCUSR: steady styles stop the blink at full opacity, blinking ones start it.
    struct Case {
        const char* sequence;
        CursorStyle style;
        bool blinks;
    };
    for (const Case& c : {Case{"\x1b[2 q", CursorStyle::steadyBlock, false}, Case{"\x1b[5 q", CursorStyle::blinkBar, true}}) {
        f.view.feedText(c.sequence);
        EXPECT_EQ(caret.style, c.style) << c.sequence;
        EXPECT_EQ(caret.isBlinking(), c.blinks) << c.sequence;
        if (!c.blinks) {
            EXPECT_EQ(caret.opacity(), 1.0) << c.sequence;
        }
    }

    f.focus(false);
    EXPECT_FALSE(caret.focused);
    EXPECT_FALSE(caret.isBlinking());
    EXPECT_EQ(caret.opacity(), 1.0);
    EXPECT_EQ(f.delegate.sent, "\x1b[I\x1b[O");
}

// The regions the view is asked to repaint.
class PaintRecorder : public QObject {
public:
    explicit PaintRecorder(QWidget& widget) { widget.installEventFilter(this); }
    bool eventFilter(QObject*, QEvent* event) override
    {
        if (event->type() == QEvent::Paint)
            regions.push_back(static_cast<QPaintEvent*>(event)->region());
        return false;
    }
    std::vector<QRegion> regions;
};

// The fade's timer runs only while there is a fade to see, and a frame of it repaints the
// caret alone: the view under it is not drawn again.
TEST(CaretWiring, TheFadeRunsOnlyOnScreenAndRepaintsOnlyTheCaret)
{
    ClockedView f;
    CaretView& caret = *f.view.caretView;
    f.view.setCaretViewTracksFocus(false); // the focused form, whatever the window's activation
    EXPECT_FALSE(caret.isBlinking()) << "the view is not shown yet";

    PaintRecorder viewPainted(f.view);
    PaintRecorder caretPainted(caret);
    f.view.show();
    ASSERT_TRUE(waitUntil([&] { return f.view.windowHandle() && f.view.windowHandle()->isExposed(); }));
    ASSERT_TRUE(waitUntil([&] { return !viewPainted.regions.empty() && !caretPainted.regions.empty(); }));
    EXPECT_TRUE(caret.isBlinking());

    f.view.feedText("\x1b[2 q");
    EXPECT_FALSE(caret.isBlinking()) << "steady";
    EXPECT_EQ(caret.opacity(), 1.0);
    f.view.feedText("\x1b[1 q");
    EXPECT_TRUE(caret.isBlinking());

    f.view.hide();
    EXPECT_FALSE(caret.isBlinking()) << "hidden";
    EXPECT_EQ(caret.opacity(), 1.0);
    f.view.show();
    EXPECT_TRUE(caret.isBlinking());
    // The cursor hidden by the program hides the caret, and so stops its timer.
    f.view.feedText("\x1b[?25l");
    f.view.updateDisplayNow();
    EXPECT_FALSE(caret.isBlinking()) << "cursor hidden";
    f.view.feedText("\x1b[?25h");
    f.view.updateDisplayNow();
    EXPECT_TRUE(caret.isBlinking());

    // Half way through the fade out, after every earlier repaint is done.
    f.view.feedText("ab");
    f.view.updateDisplayNow();
    ASSERT_TRUE(waitUntil([&] { return !caretPainted.regions.empty(); }));
    QCoreApplication::processEvents();
    viewPainted.regions.clear();
    caretPainted.regions.clear();
    caret.showBlinkPhase(CaretView::blinkHalfPeriodSeconds / 2);
    EXPECT_LT(caret.opacity(), 1.0);
    EXPECT_GT(caret.opacity(), 0.0);
    ASSERT_TRUE(waitUntil([&] { return !caretPainted.regions.empty(); }));
    QCoreApplication::processEvents();
    EXPECT_TRUE(viewPainted.regions.empty()) << viewPainted.regions.size() << " repaints of the view";
}

// The caret draws the view's pixels under itself from a copy: a change of the cell under it
// shows at once, not the copy of before.
TEST(CaretWiring, TheCaretShowsTheCellBeneathAsItIsNow)
{
    ClockedView f;
    f.view.setCaretViewTracksFocus(false);
    f.view.show();
    ASSERT_TRUE(waitUntil([&] { return f.view.windowHandle() && f.view.windowHandle()->isExposed(); }));
    f.view.feedText("\x1b[6 q\x1b[38;2;255;0;0mW\x1b[0m\r"); // a steady bar over a red W
    f.view.updateDisplayNow();
    const CaretView& caret = *f.view.caretView;
    ASSERT_EQ(caret.geometry().x(), 0);
    // Red ink right of the bar, inside the caret.
    const auto redBesideTheBar = [&] {
        return pixelsOnScreen(f.view, caret.geometry().adjusted(3, 0, 0, 0), [](const QColor& c) {
            return c.red() > 150 && c.green() < 90 && c.blue() < 90;
        });
    };
    EXPECT_GT(redBesideTheBar(), 3);
    f.view.feedText(" \r");
    f.view.updateDisplayNow();
    QCoreApplication::processEvents();
    EXPECT_EQ(redBesideTheBar(), 0);
}

// A frame of the fade reuses the caret drawn for the last one: a new caret colour, caret text
// colour or character under a block caret is drawn all the same, mid-fade or not.
TEST(CaretWiring, AKeptCaretFollowsItsColoursAndItsCell)
{
    ClockedView f;
    f.view.setCaretViewTracksFocus(false);
    f.view.show();
    ASSERT_TRUE(waitUntil([&] { return f.view.windowHandle() && f.view.windowHandle()->isExposed(); }));
    CaretView& caret = *f.view.caretView;
    // A steady block over a W: no blink timer to race the test; the frames below are set by hand.
    f.view.feedText("\x1b[2 qW\r");
    f.view.updateDisplayNow();
    ASSERT_FALSE(caret.isBlinking());
    const auto pixelsLike = [&](const QColor& colour) {
        return pixelsOnScreen(f.view, caret.geometry(), [&](const QColor& c) {
            return std::abs(c.red() - colour.red()) < 40 && std::abs(c.green() - colour.green()) < 40
                && std::abs(c.blue() - colour.blue()) < 40;
        });
    };
    const int cellPixels = caret.width() * caret.height();
    const QColor red(255, 0, 0), blue(0, 0, 255), green(0, 255, 0);
    f.view.setCaretColor(red);
    f.view.setCaretTextColor(green);
    caret.showBlinkPhase(0.0);
    EXPECT_GT(pixelsLike(red), cellPixels / 2);
    EXPECT_GT(pixelsLike(green), 3) << "the W in the caret text colour";

    f.view.setCaretColor(blue);
    EXPECT_GT(pixelsLike(blue), cellPixels / 2);
    EXPECT_EQ(pixelsLike(red), 0);
    caret.showBlinkPhase(CaretView::blinkHalfPeriodSeconds); // faded out, then back
    EXPECT_EQ(pixelsLike(blue), 0);
    caret.showBlinkPhase(0.0);
    EXPECT_GT(pixelsLike(blue), cellPixels / 2);

    f.view.feedText(" \r");
    f.view.updateDisplayNow();
    EXPECT_EQ(pixelsLike(green), 0) << "the W is gone from under the caret";
    f.view.feedText("W\r");
    f.view.updateDisplayNow();
    f.view.setCaretTextColor(red);
    EXPECT_EQ(pixelsLike(green), 0);
    EXPECT_GT(pixelsLike(red), 3);
}

// The view with blinking text on its first row, shown and in an active application.
struct BlinkingView : ClockedView {
    BlinkingView()
    {
        view.feedText("\x1b[5mBLINK\x1b[0m plain");
        view.show();
        view.textBlinkTimer->setApplicationActive(true);
        view.updateDisplayNow();
    }

    // Whether the blinking word has ink on screen.
    bool blinkingTextDrawn()
    {
        QImage image(view.size(), QImage::Format_ARGB32_Premultiplied);
        QPainter painter(&image);
        view.drawTerminalContents(painter, image.rect());
        painter.end();
        const QColor background = image.pixelColor(image.width() - 30, image.height() - 5);
        const int right = static_cast<int>(5 * view.cellDimension->width);
        const int bottom = static_cast<int>(view.cellDimension->height);
        for (int y = 0; y < bottom; ++y)
            for (int x = 0; x < right; ++x)
                if (image.pixelColor(x, y) != background)
                    return true;
        return false;
    }
};

TEST(TextBlinkWiring, BlinkingTextFlashesEverySevenTenths)
{
    BlinkingView f;
    ASSERT_TRUE(f.view.textBlinkTimer->isRunning());
    EXPECT_TRUE(f.view.textBlinkVisible);
    EXPECT_TRUE(f.blinkingTextDrawn());

    f.queue.advance(700ms);
    EXPECT_FALSE(f.view.textBlinkVisible);
    EXPECT_TRUE(f.view.pendingDisplay); // the tick asked for a redraw
    f.queue.advance(17ms);
    EXPECT_FALSE(f.blinkingTextDrawn());

    f.queue.advance(700ms);
    EXPECT_TRUE(f.view.textBlinkVisible);
    EXPECT_TRUE(f.blinkingTextDrawn());
}

// The gates themselves are the timer's; here the view must pass them on.
TEST(TextBlinkWiring, TheViewPassesItsGatesToTheTimer)
{
    BlinkingView f;
    TextBlinkTimer& timer = *f.view.textBlinkTimer;

    // The application's activation, as the platform announces it.
    f.queue.advance(700ms);
    ASSERT_FALSE(f.view.textBlinkVisible);
    Q_EMIT qGuiApp->applicationStateChanged(Qt::ApplicationInactive);
    EXPECT_FALSE(timer.isRunning());
    EXPECT_TRUE(f.view.textBlinkVisible);
    Q_EMIT qGuiApp->applicationStateChanged(Qt::ApplicationActive);
    EXPECT_TRUE(timer.isRunning());

    // Hidden (or minimised) and shown again.
    f.view.hide();
    EXPECT_FALSE(timer.isRunning());
    f.view.show();
    EXPECT_TRUE(timer.isRunning());

    // No blinking text left on screen: the next display pass stops it.
    f.view.feedText("\x1b[2J");
    f.view.updateDisplayNow();
    EXPECT_FALSE(timer.isRunning());
}

TEST(TextBlinkWiring, ADestroyedViewLeavesNoTimerBehind)
{
    ManualMainQueue queue;
    {
        TerminalView view(QRect(0, 0, 300, 100), font(), TerminalOptions::defaultOptions(), nullptr,
                          &queue);
        view.feedText("\x1b[5mBLINK");
        view.show();
        view.textBlinkTimer->setApplicationActive(true);
        view.updateDisplayNow();
        ASSERT_TRUE(view.textBlinkTimer->isRunning());
    }
    queue.advance(5s); // nothing left may reach the gone view
    Q_EMIT qGuiApp->applicationStateChanged(Qt::ApplicationActive);
    EXPECT_EQ(queue.delayedCount(), 0u);
}

} // namespace
} // namespace corvantix
