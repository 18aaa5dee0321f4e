#include "ViewTestSupport.h"

#include "platform/ManualMainQueue.h"
#include "view/qt/QtColorConversions.h"

#include <gtest/gtest.h>

#include <QFontDatabase>
#include <QMouseEvent>
#include <QScrollBar>
#include <QStyle>
#include <QStyleOptionSlider>

#include <chrono>
#include <cmath>

namespace corvantix {
namespace {

using namespace std::chrono_literals;
using testing::RecordingViewDelegate;
using testing::Scaled;

// A view on a manual clock with a known cell of 8 x 17 points.
struct ClockedView : testing::ViewFixture {
    ClockedView() : ViewFixture(QRect()) { view.cellDimension = CellDimension{8, 17}; }
};

int expectedRows(TerminalView& view, int height) { return static_cast<int>(height / view.cellDimension->height); }

TEST(TerminalViewGrid, FrameChangesResizeTheTerminalAndReportIt)
{
    RecordingViewDelegate delegate;
    TerminalView view;
    view.terminalDelegate = &delegate;
    view.cellDimension = CellDimension{8, 17};
    view.show();

    view.resize(8 * 100 + static_cast<int>(view.scrollerWidth()), 17 * 30 + 5);
    EXPECT_EQ(view.terminal->cols(), 100);
    EXPECT_EQ(view.terminal->rows(), 30);
    ASSERT_EQ(delegate.sizes.size(), 1u);
    EXPECT_EQ(delegate.sizes.back(), std::pair(100, 30));

    // A change that keeps the grid reports nothing and keeps the selection.
    view.selection->active_ = true;
    view.resize(view.width() + 3, view.height() + 2);
    EXPECT_EQ(delegate.sizes.size(), 1u);
    EXPECT_TRUE(view.selectionActive());

    // A new grid ends the selection.
    view.resize(view.width() + 16, view.height());
    EXPECT_EQ(view.terminal->cols(), 102);
    EXPECT_FALSE(view.selectionActive());
    ASSERT_EQ(delegate.sizes.size(), 2u);

    // Narrower than the scrollbar: the terminal keeps its minimum of 2 columns.
    view.resize(1, view.height());
    EXPECT_EQ(view.terminal->cols(), 2);
    EXPECT_EQ(delegate.sizes.back(), std::pair(2, 30));
    view.terminalDelegate = nullptr;
}

TEST(TerminalViewGrid, HiddenScrollerLeavesItsWidthToTheGrid)
{
    TerminalView view;
    view.cellDimension = CellDimension{8, 17};
    view.show();
    view.resize(8 * 80 + static_cast<int>(view.scrollerWidth()), 17 * 24);
    EXPECT_EQ(view.terminal->cols(), 80);

    view.scroller->hide();
    EXPECT_EQ(view.scrollerWidth(), 0.0);
    view.resize(8 * 80, 17 * 24);
    EXPECT_EQ(view.terminal->cols(), 80);
    EXPECT_EQ(view.getOptimalFrameSize(), QRect(0, 0, 8 * 80, 17 * 24));
}

TEST(TerminalViewGrid, FontAndLineSpacingRecomputeTheCell)
{
    RecordingViewDelegate delegate;
    TerminalView view(QRect(0, 0, 800, 600), std::nullopt);
    view.terminalDelegate = &delegate;
    const CellDimension before = *view.cellDimension;

    view.setLineSpacing(2.0);
    EXPECT_GE(view.cellDimension->height, 2 * before.height - 2);
    EXPECT_EQ(view.terminal->rows(), expectedRows(view, 600));
    ASSERT_FALSE(delegate.sizes.empty());
    EXPECT_EQ(delegate.sizes.back(), std::pair(view.terminal->cols(), view.terminal->rows()));

    // A new font ends the selection even when the grid stays.
    view.setLineSpacing(1.0);
    view.selection->active_ = true;
    view.setTerminalFont(view.terminalFont());
    EXPECT_FALSE(view.selectionActive());

    QFont larger = view.terminalFont();
    larger.setPointSizeF(larger.pointSizeF() * 2);
    view.setTerminalFont(larger);
    EXPECT_GT(view.cellDimension->width, before.width);
    view.terminalDelegate = nullptr;
}

TEST(TerminalViewGrid, ResizeGridReportsAndSoftResets)
{
    ClockedView fixture;
    TerminalView& view = fixture.view;
    view.feedText("\x1b[?6h"); // origin mode, which a soft reset turns off
    view.resizeGrid(90, 30);
    EXPECT_EQ(view.terminal->cols(), 90);
    EXPECT_EQ(view.terminal->rows(), 30);
    EXPECT_EQ(fixture.delegate.sizes, (std::vector<std::pair<int, int>>{{90, 30}}));
    fixture.delegate.sent.clear();
    view.feedText("\x1b[?6$p");
    EXPECT_EQ(fixture.delegate.sent, "\x1b[?6;2$y");
}

TEST(TerminalViewGrid, WithoutADelegateEventsAreDropped)
{
    TerminalView view;
    view.feedText("\x1b]2;title\x07\x1b[6n\x1b[c");
    view.sendUserInput(std::span<const std::uint8_t>(reinterpret_cast<const std::uint8_t*>("ls\r"), 3));
    view.bellStyle = BellStyle::soundAndVisual;
    view.feedText("\x07");
    EXPECT_EQ(view.terminal->terminalTitle(), "title");
}

TEST(TerminalViewRedraw, OutputWithinTheInputWindowIsDrawnAtOnce)
{
    ClockedView fixture;
    TerminalView& view = fixture.view;
    view.notifyUpdateChanges = true;
    auto& redraws = fixture.delegate.redraws;

    view.send(std::string_view("k"));
    EXPECT_EQ(fixture.delegate.sent, "k");
    fixture.queue.advance(150ms); // the window includes its end
    view.feedText("a");
    EXPECT_EQ(redraws.size(), 1u);
    EXPECT_FALSE(view.pendingDisplay);
    EXPECT_EQ(fixture.queue.delayedCount(), 0u);

    fixture.queue.advance(1ns); // just past the window: one redraw 16.67 ms later
    view.feedText("b");
    EXPECT_EQ(redraws.size(), 1u);
    EXPECT_TRUE(view.pendingDisplay);
    EXPECT_EQ(fixture.queue.delayedCount(), 1u);

    fixture.queue.advance(16'670'000ns - 1ns);
    EXPECT_EQ(redraws.size(), 1u);
    fixture.queue.advance(1ns);
    EXPECT_EQ(redraws.size(), 2u);
    EXPECT_FALSE(view.pendingDisplay);
    EXPECT_EQ(redraws.back(), std::pair(0, 0)); // row 0 changed
}

TEST(TerminalViewRedraw, FeedsCloseTogetherMakeOnePass)
{
    ClockedView fixture;
    TerminalView& view = fixture.view;
    view.notifyUpdateChanges = true;

    view.feedText("one\r\n");
    fixture.queue.advance(1ms);
    view.feedText("two\r\nthree");
    EXPECT_EQ(fixture.queue.delayedCount(), 1u);
    fixture.queue.advance(20ms);
    ASSERT_EQ(fixture.delegate.redraws.size(), 1u);
    // The pass covers what both feeds changed.
    EXPECT_EQ(fixture.delegate.redraws.front(), std::pair(0, 2));
    EXPECT_FALSE(view.terminal->getUpdateRange());
}

TEST(TerminalViewRedraw, GpuDirtyRowsGatherUntilTheRendererTakesThem)
{
    ClockedView fixture;
    TerminalView& view = fixture.view;
    view.attachMetalView(new QWidget(&view));
    view.updateDisplayNow();
    view.takeMetalDirtyRange();

    view.feedText("\x1b[2;1Hone");
    view.updateDisplayNow();
    view.feedText("\x1b[5;1Htwo");
    view.updateDisplayNow();
    // The first pass reported rows 0-1 (the cursor's old and new rows), the second 1-4; the
    // second must not narrow what the first reported.
    EXPECT_EQ(view.takeMetalDirtyRange(), std::pair(0, 4));
    EXPECT_EQ(view.takeMetalDirtyRange(), std::nullopt);
}

TEST(TerminalViewRedraw, SynchronizedOutputQueuesNothingUntilItEnds)
{
    ClockedView fixture;
    TerminalView& view = fixture.view;
    view.notifyUpdateChanges = true;

    view.feedText("\x1b[?2026h");
    fixture.queue.advance(20ms);
    fixture.delegate.redraws.clear();
    ASSERT_TRUE(view.terminal->synchronizedOutputActive());

    view.feedText("hello\r\nworld");
    EXPECT_FALSE(view.pendingDisplay);
    fixture.queue.advance(100ms);
    EXPECT_TRUE(fixture.delegate.redraws.empty());
    // The changed rows wait for the end.
    ASSERT_TRUE(view.terminal->getUpdateRange());
    EXPECT_EQ(view.terminal->getUpdateRange()->startY, 0);

    // Even a forced pass leaves the range alone.
    view.updateDisplayNow();
    EXPECT_TRUE(fixture.delegate.redraws.empty());
    EXPECT_TRUE(view.terminal->getUpdateRange());

    view.feedText("\x1b[?2026l");
    EXPECT_TRUE(view.pendingDisplay);
    fixture.queue.advance(17ms);
    ASSERT_EQ(fixture.delegate.redraws.size(), 1u);
    EXPECT_EQ(fixture.delegate.redraws.front().first, 0);
    EXPECT_GE(fixture.delegate.redraws.front().second, 1);
    // The end of synchronized output reports the scroll position.
    EXPECT_FALSE(fixture.delegate.positions.empty());
}

void fillLines(TerminalView& view, int count)
{
    std::string text;
    for (int i = 0; i < count; ++i)
        text += "line " + std::to_string(i) + "\r\n";
    view.feedText(text);
}

TEST(TerminalViewScroll, MetricsAndScrollToClamping)
{
    ClockedView fixture;
    TerminalView& view = fixture.view;
    fillLines(view, 100);
    const Buffer& buffer = view.terminal->buffer();
    const int lines = buffer.lines().count();
    const int bottom = lines - view.terminal->rows();
    ASSERT_GT(bottom, 0);
    EXPECT_EQ(buffer.yDisp(), bottom);

    // The position arithmetic is the headless metrics'; here the view must apply and report it.
    view.scrollTo(-5);
    EXPECT_EQ(buffer.yDisp(), 0);
    EXPECT_TRUE(view.userScrolling);
    EXPECT_TRUE(view.terminal->userScrolling());
    ASSERT_FALSE(fixture.delegate.positions.empty());
    EXPECT_DOUBLE_EQ(fixture.delegate.positions.back(), 0.0);
    EXPECT_EQ(view.scroller->value(), 0);
    EXPECT_TRUE(view.scroller->isEnabled());

    view.scrollTo(10 * lines);
    EXPECT_EQ(buffer.yDisp(), bottom);
    EXPECT_FALSE(view.userScrolling);
    EXPECT_EQ(view.scroller->value(), bottom);

    // Scrolling to where the view already is only updates the scrolling flag.
    const auto reports = fixture.delegate.positions.size();
    view.scrollTo(bottom);
    EXPECT_EQ(fixture.delegate.positions.size(), reports);

    view.pageUp();
    EXPECT_EQ(buffer.yDisp(), bottom - 25);
    view.pageDown();
    EXPECT_EQ(buffer.yDisp(), bottom);
    EXPECT_TRUE(fixture.delegate.sent.empty());

    // Typing brings the cursor back into view.
    view.scrollTo(0);
    view.send(std::string_view("x"));
    EXPECT_EQ(buffer.yDisp(), buffer.yBase());
}

// The bar has no arrow buttons (they would do nothing): its ends belong to the track and the
// knob, so a press at the top pages up and the knob at the bottom reaches the bar's edge.
TEST(TerminalViewScroll, TheScrollbarHasNoArrowButtons)
{
    ClockedView fixture;
    TerminalView& view = fixture.view;
    view.resize(8 * 80 + static_cast<int>(view.scrollerWidth()), 17 * 25);
    view.show(); // lays the bar out
    fillLines(view, 100);
    QScrollBar& bar = *view.scroller;
    ASSERT_GT(bar.height(), 100);

    QStyleOptionSlider option;
    option.initFrom(&bar);
    option.orientation = Qt::Vertical;
    option.minimum = bar.minimum();
    option.maximum = bar.maximum();
    option.pageStep = bar.pageStep();
    option.singleStep = bar.singleStep();
    option.sliderPosition = bar.sliderPosition();
    option.sliderValue = bar.value();
    option.subControls = QStyle::SC_All;
    const QStyle& style = *bar.style();
    const auto part = [&](QStyle::SubControl sub) { return style.subControlRect(QStyle::CC_ScrollBar, &option, sub, &bar); };
    const auto hit = [&](int y) {
        return style.hitTestComplexControl(QStyle::CC_ScrollBar, &option, QPoint(bar.width() / 2, y), &bar);
    };
    EXPECT_TRUE(part(QStyle::SC_ScrollBarSubLine).isEmpty());
    EXPECT_TRUE(part(QStyle::SC_ScrollBarAddLine).isEmpty());
    EXPECT_EQ(part(QStyle::SC_ScrollBarSlider).bottom(), bar.rect().bottom());
    EXPECT_EQ(hit(0), QStyle::SC_ScrollBarSubPage);
    EXPECT_EQ(hit(bar.height() - 1), QStyle::SC_ScrollBarSlider);
}

TEST(TerminalViewScroll, AlternateScreenSendsThePagingKeys)
{
    ClockedView fixture;
    TerminalView& view = fixture.view;
    fillLines(view, 60);
    view.feedText("\x1b[?1049h");
    ASSERT_TRUE(view.terminal->isCurrentBufferAlternate());
    EXPECT_DOUBLE_EQ(view.scrollPosition(), 0.0);
    EXPECT_DOUBLE_EQ(view.scrollThumbsize(), 0.0);
    EXPECT_FALSE(view.canScroll());
    EXPECT_FALSE(view.scroller->isEnabled());

    view.pageUp();
    view.pageDown();
    EXPECT_EQ(fixture.delegate.sent, "\x1b[5~\x1b[6~");
}

TEST(TerminalViewScroll, ScrollbackChangesReportThePosition)
{
    ClockedView fixture;
    TerminalView& view = fixture.view;
    fillLines(view, 100);
    view.clearScrollback();
    EXPECT_EQ(view.terminal->buffer().yBase(), 0);
    EXPECT_FALSE(view.canScroll());
    ASSERT_FALSE(fixture.delegate.positions.empty());
    EXPECT_DOUBLE_EQ(fixture.delegate.positions.back(), 0.0);

    view.changeScrollback(std::nullopt);
    EXPECT_EQ(view.terminal->options().scrollback, 0);
    EXPECT_FALSE(view.terminal->normalBuffer().hasScrollback);
    view.changeScrollback(20);
    EXPECT_EQ(view.terminal->options().scrollback, 20);
    fillLines(view, 100);
    EXPECT_EQ(view.terminal->buffer().lines().count(), 25 + 20);
}

TEST(TerminalViewCallbacks, WindowReportsAtScaleTwo)
{
    ManualMainQueue queue;
    RecordingViewDelegate delegate;
    Scaled<TerminalView> view(QRect(), std::nullopt, TerminalOptions::defaultOptions(), nullptr, &queue);
    view.scale = 2.0;
    view.terminalDelegate = &delegate;
    view.cellDimension = CellDimension{8, 17};
    view.resizeGrid(80, 24);

    view.feedText("\x1b[14t\x1b[16t");
    EXPECT_EQ(delegate.sent, "\x1b[4;816;1280t\x1b[6;34;16t");
    EXPECT_EQ(view.cellSizeInPixels(), (CellPixelSize{16, 34}));

    delegate.sent.clear();
    view.feedText("\x1b G\x1b[14t"); // 8-bit controls
    EXPECT_EQ(delegate.sent, "\x9b" "4;816;1280t");

    // A request to resize the window changes nothing and answers nothing.
    delegate.sent.clear();
    view.feedText("\x1b[4;600;800t\x1b[8;30;100t");
    EXPECT_EQ(delegate.sent, "");
    EXPECT_EQ(view.terminal->cols(), 80);
    EXPECT_EQ(view.terminal->rows(), 24);
    view.terminalDelegate = nullptr;
}

TEST(TerminalViewCallbacks, BellStylesSoundBeforeTheFlash)
{
    RecordingViewDelegate delegate;
    TerminalView view(QRect(0, 0, 400, 300), std::nullopt);
    view.terminalDelegate = &delegate;
    const auto flashes = [&] { return view.findChildren<QWidget*>(QStringLiteral("visualBell")).size(); };

    // Each bell of a style: the flashes up when the sound was asked for, and those up after.
    struct Step {
        BellStyle style;
        std::vector<qsizetype> sounds;
        qsizetype flashesAfter;
    };
    for (const Step& step : {Step{BellStyle::none, {}, 0}, Step{BellStyle::sound, {0}, 0}, Step{BellStyle::visual, {0}, 1},
                             // The sound comes while only the earlier flash is up; this bell's flash follows.
                             Step{BellStyle::soundAndVisual, {0, 1}, 2}}) {
        view.bellStyle = step.style;
        view.feedText("\x07");
        EXPECT_EQ(delegate.flashesAtBell, step.sounds);
        EXPECT_EQ(flashes(), step.flashesAfter);
    }

    // Each flash removes itself after its 0.2 s.
    EXPECT_TRUE(testing::waitUntil([&] { return flashes() == 0; }, 3000));
    view.terminalDelegate = nullptr;
}

TEST(TerminalViewColors, PaletteChangesDropOnlyTheSlotsTheyName)
{
    TerminalView view;
    const auto fillAll = [&] {
        for (int i = 0; i < 256; ++i)
            view.mapColor(Attribute::Color::ansi256(static_cast<std::uint8_t>(i)), true, false, true);
    };
    const auto filled = [&] {
        std::vector<int> kept;
        for (int i = 0; i < 256; ++i) {
            if (view.colors[static_cast<std::size_t>(i)])
                kept.push_back(i);
        }
        return kept;
    };

    fillAll();
    view.colorChanged(*view.terminal, 5);
    EXPECT_EQ(filled().size(), 255u);
    EXPECT_FALSE(view.colors[5]);

    fillAll();
    view.colorChanged(*view.terminal, 300); // out of range: nothing
    view.colorChanged(*view.terminal, -1);
    EXPECT_EQ(filled().size(), 256u);

    view.colorChanged(*view.terminal, std::nullopt);
    EXPECT_TRUE(filled().empty());

    // Through the emulator: OSC 4 changes slot 5, and the next lookup converts the new colour.
    fillAll();
    view.feedText("\x1b]4;5;rgb:ff/00/00\x1b\\");
    EXPECT_FALSE(view.colors[5]);
    EXPECT_TRUE(view.colors[4]);
    EXPECT_EQ(view.mapColor(Attribute::Color::ansi256(5), true, false, true), QColor(255, 0, 0));
}

TEST(TerminalViewColors, DefaultColoursFollowReverseVideo)
{
    TerminalView view;
    const QColor fg = view.nativeForegroundColor();
    const QColor bg = view.nativeBackgroundColor();
    const auto def = Attribute::Color::defaultColor();
    const auto inv = Attribute::Color::defaultInvertedColor();
    EXPECT_EQ(view.mapColor(def, true, false, true), fg);
    EXPECT_EQ(view.mapColor(def, false, false, true), bg);
    EXPECT_EQ(view.mapColor(inv, true, false, true), bg);
    EXPECT_EQ(view.mapColor(inv, false, false, true), fg);
    EXPECT_EQ(view.effectiveCaretTextColor(), bg);

    view.feedText("\x1b[?5h");
    ASSERT_TRUE(view.terminal->reverseColors());
    EXPECT_EQ(view.mapColor(def, true, false, true), bg);
    EXPECT_EQ(view.mapColor(def, false, false, true), fg);
    EXPECT_EQ(view.effectiveForegroundColor(), bg);
    EXPECT_EQ(view.effectiveBackgroundColor(), fg);
    // A caret text colour of none follows the background, the foreground in reverse video.
    view.setCaretTextColor(QColor(Qt::red));
    EXPECT_EQ(view.effectiveCaretTextColor(), QColor(Qt::red));
    view.setCaretTextColor(std::nullopt);
    EXPECT_TRUE(view.cursorTextColorIsDefault);
    EXPECT_EQ(view.effectiveCaretTextColor(), fg);
}

TEST(TerminalViewColors, TrueColourCacheStartsAgainWhenFull)
{
    TerminalView view;
    for (int i = 0; i < 4096; ++i) {
        view.mapColor(Attribute::Color::trueColor(static_cast<std::uint8_t>(i >> 8), static_cast<std::uint8_t>(i), 7),
                      true, false, true);
    }
    EXPECT_EQ(view.trueColors.size(), 4096u);
    EXPECT_EQ(view.mapColor(Attribute::Color::trueColor(0, 1, 7), true, false, true), QColor(0, 1, 7));
    EXPECT_EQ(view.trueColors.size(), 4096u);
    EXPECT_EQ(view.mapColor(Attribute::Color::trueColor(200, 100, 50), true, false, true), QColor(200, 100, 50));
    EXPECT_EQ(view.trueColors.size(), 1u);
}

TEST(TerminalViewColors, NativeColourReachesTheTerminalOnce)
{
    struct CountingView : TerminalView {
        using TerminalView::TerminalView;
        void setForegroundColor(Terminal& source, const Color& color) override
        {
            ++echoes;
            TerminalView::setForegroundColor(source, color);
        }
        int echoes = 0;
    };
    CountingView view;
    view.echoes = 0;
    const QColor chosen(10, 20, 30);
    view.setNativeForegroundColor(chosen);
    EXPECT_EQ(view.terminal->foregroundColor(), Color(10 * 257, 20 * 257, 30 * 257));
    EXPECT_EQ(view.echoes, 1);
    EXPECT_EQ(view.nativeForegroundColor(), chosen);

    // Set by the program (OSC 10): the view follows.
    view.feedText("\x1b]10;rgb:ffff/0000/8080\x1b\\");
    EXPECT_EQ(terminalColorFromNSColor(view.nativeForegroundColor()), Color(65535, 0, 0x8080));
}

TEST(TerminalViewColors, InstallColorsTakesOnlyFullPalettes)
{
    ManualMainQueue queue;
    TerminalView view(QRect(), std::nullopt, TerminalOptions::defaultOptions(), nullptr, &queue);
    const std::vector<Color> before = view.terminal->installedColors();
    view.mapColor(Attribute::Color::ansi256(3), true, false, true);

    std::vector<Color> eight(8, Color(1, 2, 3));
    view.installColors(eight);
    EXPECT_EQ(view.terminal->installedColors(), before);
    EXPECT_FALSE(view.colors[3]);
    EXPECT_TRUE(view.pendingDisplay);

    std::vector<Color> sixteen(16, Color(4, 5, 6));
    view.installColors(sixteen);
    EXPECT_EQ(view.terminal->installedColors(), sixteen);
    EXPECT_EQ(view.mapColor(Attribute::Color::ansi256(3), true, false, true), nsColorFromTerminalColor(Color(4, 5, 6)));
}

TEST(TerminalViewCallbacks, ForwardedEvents)
{
    ClockedView fixture;
    TerminalView& view = fixture.view;
    RecordingViewDelegate& delegate = fixture.delegate;
    delegate.clipboard = std::vector<std::uint8_t>{'h', 'i'};

    view.feedText("\x1b]2;hello\x07");
    EXPECT_EQ(delegate.titles, (std::vector<std::string>{"hello"}));
    view.feedText("\x1b]7;file:///tmp/work\x07");
    ASSERT_EQ(delegate.directories.size(), 1u);
    EXPECT_EQ(delegate.directories.front(), view.terminal->hostCurrentDirectory());
    view.feedText("\x1b]52;c;aGVsbG8=\x07"); // "hello"
    EXPECT_EQ(delegate.copied, (std::vector<std::string>{"hello"}));
    // A program never reads the user's clipboard, even when the host has text in it.
    view.feedText("\x1b]52;c;?\x07");
    EXPECT_EQ(delegate.sent, "");
    view.feedText("\x1b[5n");
    EXPECT_EQ(delegate.sent, "\x1b[0n");
    // Replies are not user input: no time stamp.
    EXPECT_EQ(view.lastUserInputUptimeNs(), 0u);
}

TEST(TerminalViewCallbacks, OutputEndsTheSelectionWhileMouseReportingIsAllowed)
{
    ClockedView fixture;
    TerminalView& view = fixture.view;
    view.selection->active_ = true;
    view.feedText("x");
    EXPECT_FALSE(view.selectionActive());

    view.allowMouseReporting = false;
    view.selection->active_ = true;
    view.feedText("y\r\n");
    EXPECT_TRUE(view.selectionActive());
}

TEST(TerminalViewCallbacks, CursorVisibilityMovesTheCaret)
{
    ClockedView fixture;
    TerminalView& view = fixture.view;
    view.resizeGrid(80, 25);
    view.feedText("\x1b[3;5H");
    view.updateDisplayNow();
    ASSERT_TRUE(view.caretView);
    EXPECT_EQ(view.caretFrame().topLeft(), QPoint(4 * 8, 2 * 17));
    EXPECT_FALSE(view.caretView->isHidden());
    view.feedText("\x1b[?25l");
    EXPECT_TRUE(view.caretView->isHidden());
    view.feedText("\x1b[?25h");
    EXPECT_FALSE(view.caretView->isHidden());
}

TEST(TerminalViewCallbacks, LinkHighlightModeRedrawsEveryRow)
{
    ClockedView fixture;
    TerminalView& view = fixture.view;
    view.linkHighlightRange = std::vector<RowRange>{RowRange{1, ColumnRange{0, 3}}};
    view.setLinkHighlightMode(LinkHighlightMode::always);
    EXPECT_FALSE(view.linkHighlightRange);
    ASSERT_TRUE(view.terminal->getUpdateRange());
    EXPECT_EQ(view.terminal->getUpdateRange()->startY, 0);
    EXPECT_EQ(view.terminal->getUpdateRange()->endY, view.terminal->rows());
    EXPECT_FALSE(view.tracking);
    view.setLinkHighlightMode(LinkHighlightMode::hover);
    EXPECT_TRUE(view.tracking);
    EXPECT_TRUE(view.hasMouseTracking());
}

TEST(TerminalViewCallbacks, PlainPrintableText)
{
    for (const std::u32string_view text : {U"héllo 世界", U"\u00a0"})
        EXPECT_TRUE(TerminalView::isPlainPrintableText(text));
    for (const std::u32string_view text : {U"", U"a\tb", U"a\u007f", U"a\u009b"})
        EXPECT_FALSE(TerminalView::isPlainPrintableText(text));
}

} // namespace
} // namespace corvantix
