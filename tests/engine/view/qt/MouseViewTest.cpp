// Real Qt pointer events through the view: mouse reports (the encodings themselves are the
// emulator's), local selection by click, double and triple click, drag and Shift-click, the
// wheel, selection auto-scroll, prompt clicks, and the clipboard commands.
#include "ViewTestSupport.h"

#include <QAction>
#include <QCoreApplication>
#include <QTest>
#include <QWheelEvent>

#include <gtest/gtest.h>

#include <chrono>
#include <ostream>
#include <string>

namespace corvantix {
namespace {

using namespace std::chrono_literals;

struct MouseView : testing::ViewFixture {
    MouseView() { view.semanticClickCoalescingDelay = 0.4; }

    void doubleClick(int col, int row)
    {
        click(col, row);
        click(col, row, {}, true, QEvent::MouseButtonDblClick);
    }
    void wheel(QPoint angle, QPoint pixels = {}, Qt::KeyboardModifiers modifiers = {})
    {
        const QPointF point = at(2, 1);
        QWheelEvent event(point, view.mapToGlobal(point), pixels, angle, Qt::NoButton, modifiers, Qt::NoScrollPhase,
                          false);
        QCoreApplication::sendEvent(&view, &event);
    }
    std::string sent() const { return delegate.sent; }
};

struct EncodingCase {
    const char* name;
    const char* modes;
    const char* press;
    const char* release;
};

void PrintTo(const EncodingCase& c, std::ostream* out) { *out << c.name; }

class ClickReport : public ::testing::TestWithParam<EncodingCase> {};

TEST_P(ClickReport, ReachesTheChildInTheProgramsEncoding)
{
    MouseView f;
    const EncodingCase& c = GetParam();
    f.view.feedText(c.modes);
    f.click(3, 2);
    std::string press = c.press;
    std::string release = c.release;
    if (press.empty()) {
        // Pixels: the click's point inside the view.
        const QPointF p = f.at(3, 2);
        const std::string xy = std::to_string(static_cast<int>(p.x())) + ";" + std::to_string(static_cast<int>(p.y()));
        press = "\x1b[<0;" + xy + "M";
        release = "\x1b[<0;" + xy + "m";
    }
    EXPECT_EQ(f.delegate.sends, (std::vector<std::string>{press, release}));
    EXPECT_FALSE(f.view.selection->active()) << "a reported click never selects";
}

INSTANTIATE_TEST_SUITE_P(
    Encodings, ClickReport,
    ::testing::Values(EncodingCase{"x10", "\x1b[?1000h", "\x1b[M $#", "\x1b[M#$#"},
                      EncodingCase{"sgr", "\x1b[?1000h\x1b[?1006h", "\x1b[<0;4;3M", "\x1b[<0;4;3m"},
                      EncodingCase{"sgrPixel", "\x1b[?1000h\x1b[?1016h", "", ""}),
    [](const ::testing::TestParamInfo<EncodingCase>& info) { return std::string(info.param.name); });

TEST(MouseView, ShiftSelectsLocallyUnlessTheProgramCapturesIt)
{
    MouseView f;
    f.view.feedText("hello world\x1b[?1000h\x1b[?1006h");
    f.mouse(QEvent::MouseButtonPress, f.at(1, 0), Qt::LeftButton, Qt::ShiftModifier);
    f.mouse(QEvent::MouseButtonRelease, f.at(1, 0), Qt::NoButton, Qt::ShiftModifier);
    f.mouse(QEvent::MouseButtonDblClick, f.at(1, 0), Qt::LeftButton, Qt::ShiftModifier);
    f.mouse(QEvent::MouseButtonRelease, f.at(1, 0), Qt::NoButton, Qt::ShiftModifier);
    EXPECT_TRUE(f.delegate.sends.empty());
    EXPECT_EQ(f.selected(), "hello");

    f.view.feedText("\x1b[>1s"); // the program wants Shift too
    f.click(1, 0, Qt::ShiftModifier);
    EXPECT_EQ(f.delegate.sends, (std::vector<std::string>{"\x1b[<4;2;1M", "\x1b[<4;2;1m"}));
}

TEST(MouseView, DoubleAndTripleClicksSelectWordsAndRows)
{
    MouseView f;
    f.view.feedText("x foo.bar-baz_1 y\r\nsecond row\r\nthird row");
    f.doubleClick(3, 0);
    EXPECT_EQ(f.selected(), "foo.bar-baz_1");
    f.doubleClick(3, 0);
    f.time += 50;
    f.mouse(QEvent::MouseButtonPress, f.at(3, 0), Qt::LeftButton); // the third press
    EXPECT_EQ(f.selected(), "x foo.bar-baz_1 y");
    f.drag(f.at(3, 2));
    f.mouse(QEvent::MouseButtonRelease, f.at(3, 2), Qt::NoButton);
    EXPECT_EQ(f.selected(), "x foo.bar-baz_1 y\nsecond row\nthird row");
    // A press far from the last one starts a new series: a plain click ends the selection.
    f.click(3, 2);
    EXPECT_EQ(f.selected(), "<none>");
}

TEST(MouseView, DragStartsAtThePressedCellEvenWhenItsFirstMotionsAreMerged)
{
    MouseView f;
    f.view.feedText("0123456789");
    f.time += 5000;
    f.mouse(QEvent::MouseButtonPress, f.at(1, 0), Qt::LeftButton);
    f.drag(f.at(7, 0)); // the only motion event: the ones in between were merged into it
    f.mouse(QEvent::MouseButtonRelease, f.at(7, 0), Qt::NoButton);
    EXPECT_EQ(f.selected(), "123456");
    f.click(9, 0, Qt::ShiftModifier);
    EXPECT_EQ(f.selected(), "12345678") << "Shift-click extends";
    f.click(0, 0, Qt::ShiftModifier);
    EXPECT_EQ(f.selected(), "012345678") << "before the start: the old end stays fixed";
}

TEST(MouseView, SelectionFollowsScrolledTextAndEndsWhenItLeaves)
{
    MouseView f;
    f.view.allowMouseReporting = false; // output would otherwise end the selection
    f.view.feedText("\x1b[?1049h\x1b[3;1Hkeep me\x1b[1;1H");
    f.doubleClick(1, 2);
    ASSERT_EQ(f.selected(), "keep");
    f.view.feedText("\x1b[S"); // the screen scrolls up one line
    EXPECT_EQ(f.view.selection->start.row, 1);
    EXPECT_EQ(f.selected(), "keep");
    f.view.feedText("\x1b[2S");
    EXPECT_EQ(f.selected(), "<none>");
}

TEST(MouseView, DraggingBelowTheViewAutoScrolls)
{
    MouseView f;
    const int rows = f.view.terminal->rows();
    for (int i = 0; i < 100; ++i)
        f.view.feedText("line " + std::to_string(i) + "\r\n");
    f.view.scrollTo(10);
    f.time += 5000;
    f.mouse(QEvent::MouseButtonPress, f.at(0, 0), Qt::LeftButton);
    f.drag(f.at(2, 1));
    f.drag(f.at(2, rows + 12));
    EXPECT_EQ(f.view.autoScrollDelta, std::max(rows, 20));
    f.view.scrollingTimerElapsed();
    EXPECT_EQ(f.view.terminal->buffer().yDisp(), 10 + std::max(rows, 20));
    EXPECT_EQ(f.view.selection->end.row, f.view.terminal->buffer().yDisp() + rows + 12) << "follows the pointer";

    f.drag(f.at(2, 0)); // the top row: one line per tick
    EXPECT_EQ(f.view.autoScrollDelta, -1);
    f.mouse(QEvent::MouseButtonRelease, f.at(2, 0), Qt::NoButton);
    EXPECT_EQ(f.view.autoScrollDelta, 0);
    EXPECT_EQ(f.view.selectionAutoScrollTimer, nullptr);
}

TEST(MouseView, DoubleClickOnAPromptSelectsAWordAndNeverMovesTheCursor)
{
    MouseView f;
    f.view.feedText("\x1b]133;A;cl=m\x07$ \x1b]133;B\x07" "echo hello");
    f.doubleClick(8, 0);
    f.queue.advance(2s);
    EXPECT_EQ(f.selected(), "hello");
    EXPECT_EQ(f.sent(), "");

    // A single click moves the cursor (to before "echo", ten cells left), once the
    // double-click interval has passed; the click that ends a selection does not.
    f.click(2, 0);
    f.queue.advance(2s);
    EXPECT_EQ(f.sent(), "");
    f.click(2, 0);
    f.queue.advance(300ms);
    EXPECT_EQ(f.sent(), "");
    f.queue.advance(200ms);
    std::string left;
    for (int i = 0; i < 10; ++i)
        left += "\x1b[D";
    EXPECT_EQ(f.sent(), left);
}

TEST(MouseView, WheelOnTheAlternateScreenSendsArrowKeys)
{
    MouseView f;
    f.view.feedText("\x1b[?1049h");
    f.wheel(QPoint(0, 240));
    EXPECT_EQ(f.delegate.sends, (std::vector<std::string>{"\x1b[A", "\x1b[A"}));
    f.delegate.sends.clear();
    f.view.feedText("\x1b[?1h"); // application cursor keys
    f.wheel(QPoint(0, -120));
    EXPECT_EQ(f.delegate.sends, (std::vector<std::string>{"\x1bOB"}));
    f.delegate.sends.clear();
    f.view.feedText("\x1b[?1007l"); // alternate scroll off
    f.wheel(QPoint(0, -120));
    EXPECT_TRUE(f.delegate.sends.empty());
    f.view.feedText("\x1b[?1000h\x1b[?1006h"); // the program takes the wheel
    f.wheel(QPoint(0, 120), {}, Qt::ControlModifier);
    EXPECT_EQ(f.delegate.sends, (std::vector<std::string>{"\x1b[<80;3;2M"}));
}

TEST(MouseView, WheelScrollsTheHistoryAndTouchpadDeltasAccumulate)
{
    MouseView f;
    for (int i = 0; i < 100; ++i)
        f.view.feedText("line\r\n");
    const int bottom = f.view.terminal->buffer().yDisp();
    const int cell = static_cast<int>(f.view.cellDimension->height);
    f.view.scrollSensitivity = 0.3;
    f.wheel(QPoint(0, 120));
    EXPECT_EQ(f.view.terminal->buffer().yDisp(), bottom - 1) << "a notch scrolls at least one line";
    f.view.scrollSensitivity = 1;
    f.wheel({}, QPoint(0, cell / 2 + 1));
    EXPECT_EQ(f.view.terminal->buffer().yDisp(), bottom - 1) << "less than a cell";
    f.wheel({}, QPoint(0, cell / 2 + 1));
    EXPECT_EQ(f.view.terminal->buffer().yDisp(), bottom - 2) << "together more than a cell";
    f.wheel(QPoint(0, -360));
    EXPECT_EQ(f.view.terminal->buffer().yDisp(), bottom);
}

TEST(MouseView, CopyAndPasteGoThroughTheClipboard)
{
    MouseView f;
    f.view.feedText("hello world");
    EXPECT_FALSE(f.view.copyAction->isEnabled());
    f.pasteboard->content = "stale";
    f.view.copy();
    EXPECT_EQ(f.pasteboard->content, "") << "copy without a selection leaves the empty text";

    f.doubleClick(7, 0);
    EXPECT_TRUE(f.view.copyAction->isEnabled());
    f.view.copyAction->trigger();
    EXPECT_EQ(f.pasteboard->content, "world");

    f.pasteboard->content = "a\nb";
    f.view.pasteAction->trigger();
    EXPECT_EQ(f.delegate.sends, (std::vector<std::string>{"a\nb"}));
    f.delegate.sent.clear();
    f.view.feedText("\x1b[?2004h");
    f.pasteboard->content.reset();
    f.view.paste();
    EXPECT_EQ(f.sent(), "\x1b[200~\x1b[201~") << "an empty clipboard still sends both markers";

    f.view.selectAllAction->trigger();
    EXPECT_TRUE(f.view.selection->active());
}

// Shift+Insert is a paste key as Ctrl+Shift+V is, through the overridable paste (an
// application replaces it to paste images), and never the program's Insert key.
TEST(MouseView, ShiftInsertPastesThroughTheOverridablePaste)
{
    struct CountingView : TerminalView {
        using TerminalView::TerminalView;
        void paste() override
        {
            ++pastes;
            TerminalView::paste();
        }
        int pastes = 0;
    };
    ManualMainQueue queue;
    testing::SendLog delegate;
    auto pasteboard = std::make_shared<MemoryPasteboard>();
    CountingView view(QRect(0, 0, 640, 400), std::nullopt, TerminalOptions::defaultOptions(), nullptr, &queue);
    view.terminalDelegate = &delegate;
    view.generalPasteboard = pasteboard;
    queue.advance(1s);
    // Shortcuts reach only a focused view in the active window, as on a desktop.
    view.show();
    view.activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(&view));
    view.setFocus();

    pasteboard->content = "a\nb";
    QTest::keyClick(&view, Qt::Key_Insert, Qt::ShiftModifier);
    EXPECT_EQ(view.pastes, 1);
    EXPECT_EQ(delegate.sent, "a\nb");

    delegate.sent.clear();
    view.feedText("\x1b[?2004h");
    QTest::keyClick(&view, Qt::Key_Insert, Qt::ShiftModifier);
    QTest::keyClick(&view, Qt::Key_V, Qt::ControlModifier | Qt::ShiftModifier);
    EXPECT_EQ(view.pastes, 3);
    EXPECT_EQ(delegate.sent, "\x1b[200~a\nb\x1b[201~\x1b[200~a\nb\x1b[201~");

    // Insert alone is still the program's key.
    delegate.sent.clear();
    QTest::keyClick(&view, Qt::Key_Insert);
    EXPECT_EQ(delegate.sent, "\x1b[2~");
    view.terminalDelegate = nullptr;
}

// A paste key that arrives as a plain key event (no shortcut took it) is not typed either.
TEST(MouseView, APasteKeyIsNeverTypedIntoTheProgram)
{
    MouseView f;
    QKeyEvent press(QEvent::KeyPress, Qt::Key_Insert, Qt::ShiftModifier);
    QCoreApplication::sendEvent(&f.view, &press);
    EXPECT_EQ(f.sent(), "") << "not the Insert key with Shift";
}

TEST(MouseView, TheCopyKeyWithoutASelectionTypesNothing)
{
    MouseView f;
    QKeyEvent press(QEvent::KeyPress, Qt::Key_C, Qt::ControlModifier | Qt::ShiftModifier, QStringLiteral("\x03"));
    QCoreApplication::sendEvent(&f.view, &press);
    EXPECT_EQ(f.sent(), "") << "no interrupt for the program";
}

} // namespace
} // namespace corvantix
