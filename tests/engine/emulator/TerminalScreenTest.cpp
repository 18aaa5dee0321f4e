// The terminal as a host sees it after feeding and resizing: synchronized output, the rows
// each kind of output marks for redraw, and the screen after resizes with text printed
// through the real print path (reflow, the cursor on its text, saved cursor, capacity, tab
// stops, both screens).
#include "platform/ManualMainQueue.h"
#include "TerminalTestSupport.h"
#include <array>
#include <limits>

namespace corvantix {
namespace {

using namespace std::chrono_literals;
using test::RecordingDelegate;
using Rows = std::vector<std::string>;

std::string letters(int count)
{
    std::string text;
    for (int i = 0; i < count; ++i) text += static_cast<char>('A' + i % 26);
    return text;
}

std::vector<int> tabStopColumns(const Buffer& screen)
{
    std::vector<int> columns;
    for (std::size_t i = 0; i < screen.tabStops.size(); ++i) {
        if (screen.tabStops[i])
            columns.push_back(static_cast<int>(i));
    }
    return columns;
}

TEST(SynchronizedOutput, EndsByResizeAndByFullResetWithTheTimeOutCancelled)
{
    for (const bool byReset : {false, true}) {
        SCOPED_TRACE(byReset ? "RIS" : "resize");
        ManualMainQueue queue;
        test::RecordingDelegate host;
        TerminalOptions options = TerminalFixture::sizedOptions(10, 4);
        Terminal terminal(&host, options, &queue);
        feed(terminal, "\x1b[?2026h");
        ASSERT_TRUE(terminal.synchronizedOutputActive());
        ASSERT_EQ(queue.delayedCount(), 1u);
        host.clear();
        if (byReset)
            feed(terminal, "\x1b" "c");
        else
            terminal.resize(12, 4);
        EXPECT_FALSE(terminal.synchronizedOutputActive());
        EXPECT_EQ(host.countNamed("synchronizedOutputChanged"), 1);
        EXPECT_EQ(host.count("synchronizedOutputChanged(false)"), 1);
        EXPECT_EQ(queue.delayedCount(), 0u);
        queue.advance(2s);
        EXPECT_EQ(host.countNamed("synchronizedOutputChanged"), 1) << "no late second end";
    }
}

TEST(SynchronizedOutput, ThroughDecsetAndDecrst)
{
    ManualMainQueue queue;
    RecordingDelegate host;
    Terminal terminal(&host, TerminalFixture::sizedOptions(10, 5), &queue);
    terminal.clearUpdateRange();
    host.clear();
    terminal.feed("\x1b[?2026l");
    EXPECT_TRUE(host.events.empty()) << "DECRST 2026 while off calls nothing";
    EXPECT_FALSE(terminal.getUpdateRange().has_value()) << "and marks nothing";
    terminal.feed("\x1b[?2026h");
    queue.advance(500ms);
    terminal.feed("\x1b[?2026h");
    queue.advance(999ms);
    EXPECT_EQ(host.events, std::vector<std::string>{"synchronizedOutputChanged(true)"});
    terminal.clearUpdateRange();
    queue.advance(1ms);
    EXPECT_EQ(host.events,
              (std::vector<std::string>{"synchronizedOutputChanged(true)", "synchronizedOutputChanged(false)"}));
    EXPECT_EQ(terminal.getUpdateRange(), (UpdateRange{0, 4}));
    EXPECT_FALSE(terminal.synchronizedOutputTimeoutArmed());
    terminal.feed("\x1b[?2026h\x1b[?2026l");
    EXPECT_EQ(host.countNamed("synchronizedOutputChanged"), 4);
    EXPECT_EQ(queue.delayedCount(), 0u);
}

TEST(SynchronizedOutput, WithoutAQueueNothingIsArmedAndADestroyedTerminalCancelsItsTimeOut)
{
    Terminal unqueued(nullptr);
    feed(unqueued, "\x1b[?2026h");
    EXPECT_FALSE(unqueued.synchronizedOutputTimeoutArmed());
    EXPECT_TRUE(unqueued.synchronizedOutputActive());
    ManualMainQueue queue;
    {
        Terminal terminal(nullptr, {}, &queue);
        feed(terminal, "\x1b[?2026h");
        EXPECT_EQ(queue.delayedCount(), 1u);
    }
    EXPECT_EQ(queue.delayedCount(), 0u);
    queue.advance(2s);
}

TEST(FeedRefreshAfterFeeds, EachKindOfOutputMarksItsRows)
{
    // screen: rows of the screen; lines: line numbers (the view shows line 0 on top)
    struct Case { const char* name; const char* input; std::optional<UpdateRange> screen, lines; };
    // A 10 x 5 screen with the cursor at column 2 of row 1 and a clean range.
    const std::vector<Case> cases = {
        {"printing marks the cursor row", "abc", UpdateRange{1, 1}, UpdateRange{1, 1}},
        {"printing across a wrap marks both rows", "abcdefghijkl", UpdateRange{1, 2}, UpdateRange{1, 2}},
        {"a line feed that only moves marks nothing", "\n", std::nullopt, std::nullopt},
        {"CUP marks the row it leaves and the row it reaches", "\x1b[4;1H", UpdateRange{1, 3}, UpdateRange{1, 3}},
        {"HVP marks nothing", "\x1b[4;1f", std::nullopt, std::nullopt},
        {"backspace marks the cursor row", "\b", UpdateRange{1, 1}, UpdateRange{1, 1}},
        {"a scroll at the bottom marks the region on screen only", "\x1b[5;1H\n", UpdateRange{0, 4}, UpdateRange{1, 4}},
        {"ED 0 marks the cursor row to the bottom", "\x1b[J", UpdateRange{1, 4}, UpdateRange{1, 4}},
        {"ED 2 marks every row", "\x1b[2J", UpdateRange{0, 4}, UpdateRange{0, 4}},
        {"IL marks the cursor row to the region bottom", "\x1b[L", UpdateRange{1, 4}, UpdateRange{1, 4}},
        {"REP marks the rows it writes", "x\x1b[9b", UpdateRange{1, 2}, UpdateRange{1, 2}},
        {"RI at the top scrolls the region down", "\x1b[H\x1b" "M", UpdateRange{0, 4}, UpdateRange{0, 4}},
        {"ending synchronized output marks the first and last rows", "\x1b[?2026h\x1b[?2026l", UpdateRange{0, 4}, UpdateRange{0, 4}},
        {"RIS marks the whole screen, one past the last row", "\x1b" "c", UpdateRange{0, 5}, UpdateRange{0, 5}},
        {"a control sequence nobody handles marks nothing", "\x1b[5i\x1b]99;x\x07", std::nullopt, std::nullopt},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        auto terminal = makeTerminal(10, 5);
        feed(*terminal, "\x1b[2;3H");
        terminal->clearUpdateRange();
        feed(*terminal, c.input);
        EXPECT_EQ(terminal->getUpdateRange(), c.screen);
        EXPECT_EQ(terminal->getScrollInvariantUpdateRange(), c.lines);
    }
}

TEST(TerminalResize, WrappedOutputIsJoinedAndCutAgainAndTheCursorKeepsItsLine)
{
    auto terminal = makeTerminal(40, 6);
    const std::string text = letters(100);
    feed(*terminal, text + "\r\nnext\r\n$ \x1b" "7"); // the prompt line saves the cursor
    ASSERT_EQ(screenLines(*terminal), (Rows{text.substr(0, 40), text.substr(40, 40), text.substr(80), "next", "$", ""}));
    struct Step { int cols; int rows; Rows history; Rows screen; CursorPosition cursor; };
    const std::vector<Step> steps = {
        {80, 6, {}, {text.substr(0, 80), text.substr(80), "next", "$", "", ""}, {2, 3}},
        {30, 6, {}, {text.substr(0, 30), text.substr(30, 30), text.substr(60, 30), text.substr(90), "next", "$"}, {2, 5}},
        {30, 3, {text.substr(0, 30), text.substr(30, 30), text.substr(60, 30)}, {text.substr(90), "next", "$"}, {2, 2}},
        {30, 8, {}, {text.substr(0, 30), text.substr(30, 30), text.substr(60, 30), text.substr(90), "next", "$", "", ""}, {2, 5}},
    };
    for (const Step& step : steps) {
        SCOPED_TRACE(std::to_string(step.cols) + "x" + std::to_string(step.rows));
        terminal->resize(step.cols, step.rows);
        EXPECT_EQ(scrollbackLines(*terminal), step.history);
        EXPECT_EQ(screenLines(*terminal), step.screen);
        EXPECT_EQ(cursor(*terminal), step.cursor);
    }
    // The saved cursor moved with the prompt line: restoring it writes after "$ ".
    feed(*terminal, "\x1b" "8X");
    EXPECT_EQ(screenLine(*terminal, 5), "$ X");
}

TEST(TerminalResize, WideCharactersNeverStraddleARowWhateverTheWidth)
{
    auto terminal = makeTerminal(10, 4);
    const std::string han = "\xe4\xb8\xad"; // a wide character
    feed(*terminal, "ab" + han + han + han + han + "cd\r\n$");
    ASSERT_EQ(screenLines(*terminal), (Rows{"ab" + han + han + han + han, "cd", "$", ""}));
    terminal->resize(5, 4);
    EXPECT_EQ(screenLines(*terminal), (Rows{"ab" + han, han + han, han + "cd", "$"}))
        << "a row that would end on the first half of a wide character ends a column early";
    terminal->resize(9, 4);
    EXPECT_EQ(screenLines(*terminal), (Rows{"ab" + han + han + han, han + "cd", "$", ""}));
    terminal->resize(2, 4);
    EXPECT_EQ(scrollbackLines(*terminal), (Rows{"ab", han, han}));
    EXPECT_EQ(screenLines(*terminal), (Rows{han, han, "cd", "$"}));
    terminal->resize(20, 4);
    EXPECT_EQ(scrollbackLines(*terminal), Rows{});
    EXPECT_EQ(screenLines(*terminal), (Rows{"ab" + han + han + han + han + "cd", "$", "", ""}));
    EXPECT_EQ(cursor(*terminal), (CursorPosition{1, 1}));
}

TEST(TerminalResize, HistoryCapacityFollowsTheRowCountAndKeepsTheCursorLine)
{
    TerminalOptions options = TerminalFixture::sizedOptions(10, 5);
    options.scrollback = 3;
    Terminal terminal(nullptr, options);
    for (int i = 0; i < 12; ++i)
        feed(terminal, "line" + std::to_string(i) + "\r\n");
    const Buffer* screen = &terminal.buffer();
    ASSERT_EQ(screen->lines().maxLength(), 8);
    ASSERT_EQ(scrollbackLines(terminal), (Rows{"line5", "line6", "line7"}));
    terminal.resize(10, 8);
    EXPECT_EQ(screen->lines().maxLength(), 11);
    EXPECT_EQ(scrollbackLines(terminal), Rows{}) << "the history comes back onto the taller screen";
    EXPECT_EQ(screenLines(terminal), (Rows{"line5", "line6", "line7", "line8", "line9", "line10", "line11", ""}));
    EXPECT_EQ(cursor(terminal), (CursorPosition{0, 7}));
    terminal.resize(10, 2);
    EXPECT_EQ(screen->lines().maxLength(), 5);
    EXPECT_EQ(screen->lines().count(), 5);
    EXPECT_EQ(scrollbackLines(terminal), (Rows{"line8", "line9", "line10"}));
    EXPECT_EQ(screenLines(terminal), (Rows{"line11", ""}));
    feed(terminal, "end");
    EXPECT_EQ(screenLines(terminal), (Rows{"line11", "end"}));
}

TEST(TerminalResize, ProgramTabStopsInTheOldColumnsSurvive)
{
    auto terminal = makeTerminal(40, 3);
    feed(*terminal, "\x1b[3g\x1b[5G\x1bH\x1b[1G"); // clear every stop, set one at column 4
    ASSERT_EQ(tabStopColumns(terminal->buffer()), std::vector<int>{4});
    // New columns continue the pattern of the stop before the old edge; the old columns
    // keep what the program left there.
    terminal->resize(60, 3);
    EXPECT_EQ(tabStopColumns(terminal->normalBuffer()), (std::vector<int>{4, 44, 52}));
    terminal->resize(30, 3);
    EXPECT_EQ(tabStopColumns(terminal->normalBuffer()), std::vector<int>{4});
    feed(*terminal, "\tx\ty");
    EXPECT_EQ(screenLine(*terminal, 0), std::string(4, ' ') + "x" + std::string(24, ' ') + "y")
        << "the second tab finds no stop and goes to the last column";
    // A screen that kept the default stops gets them in the new columns too.
    auto plain = makeTerminal(20, 3);
    plain->resize(40, 3);
    EXPECT_EQ(tabStopColumns(plain->normalBuffer()), (std::vector<int>{0, 8, 16, 24, 32}));
    EXPECT_EQ(tabStopColumns(plain->altBuffer()), (std::vector<int>{0, 8, 16, 24, 32}));
    // A terminal built wider than eighty columns has stops to its edge.
    auto wide = makeTerminal(120, 5);
    feed(*wide, "\x1b[1;90H\tX");
    EXPECT_EQ(cursor(*wide), (CursorPosition{97, 0}));
    EXPECT_EQ(wide->altBuffer().nextTabStop(false, 89), 96);
}

TEST(TerminalResize, SizesOutsideTheBoundsAreClampedToThem)
{
    struct Case { int cols; int rows; std::pair<int, int> expected; };
    const std::vector<Case> cases = {
        {1, 0, {2, 1}},
        {3, std::numeric_limits<int>::max(), {3, Terminal::maximumDimension}},
        {Terminal::maximumDimension + 1, 2, {Terminal::maximumDimension, 2}},
        // At most maximumCells cells: rows give way, columns stay.
        {Terminal::maximumDimension, Terminal::maximumDimension, {Terminal::maximumDimension, 200}},
    };
    for (const Case& c : cases) {
        auto terminal = makeTerminal(20, 5);
        terminal->resize(c.cols, c.rows);
        EXPECT_EQ(terminal->getDims(), c.expected) << c.cols << "x" << c.rows;
        EXPECT_EQ(std::make_pair(terminal->normalBuffer().cols(), terminal->altBuffer().rows()), c.expected);
        EXPECT_EQ(std::make_pair(terminal->options().cols, terminal->options().rows), c.expected);
    }
    // A terminal built with such sizes clamps them too; its options keep what the host gave
    // until a resize or a full reset.
    auto narrow = makeTerminal(1, 0);
    EXPECT_EQ(narrow->getDims(), std::make_pair(2, 1));
    EXPECT_EQ(std::make_pair(narrow->options().cols, narrow->options().rows), std::make_pair(1, 0));
}

// An escape sequence starting forgets a partial UTF-8 character waiting before it: none of it
// is printed. A control byte instead proves it broken: the lead byte shows its Latin-1
// fallback before the control acts.
TEST(FeedPartialCharacter, ALeadByteBeforeAnEscapeSequenceIsDroppedAndBeforeAControlShowsItsFallback)
{
    const struct {
        const char* input;
        Rows screen;
    } cases[] = {
        {"caf\xe9\x1b[1mx", {"cafx", "", ""}},
        {"caf\xe2\x82\x1b" "7x", {"cafx", "", ""}},
        {"caf\xe9\r\nx", {"caf\xc3\xa9", "x", ""}},
        {"caf\xe9\nx", {"caf\xc3\xa9", "    x", ""}},
        {"caf\xe2\x82\x07x", {"caf\xc3\xa2x", "", ""}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(::testing::PrintToString(std::string(c.input)));
        auto whole = makeTerminal(10, 3);
        feed(*whole, c.input);
        EXPECT_EQ(screenLines(*whole), c.screen);
        auto byteWise = makeTerminal(10, 3);
        feedByteByByte(*byteWise, c.input);
        EXPECT_EQ(screenLines(*byteWise), c.screen) << "byte by byte";
    }
}

// Every kind of sequence start drops one, two or three bytes of a four-byte character, whether
// they came in the same feed as the sequence or in the feed before it.
TEST(FeedPartialCharacter, EverySequenceStartDropsAPartialFourByteCharacter)
{
    const std::string emoji = "\xf0\x9f\x98\x80";
    const struct {
        const char* name;
        std::string sequence;
    } starts[] = {
        {"CSI", "\x1b[31m"},
        {"OSC", "\x1b]2;title\x07"},
        {"DCS", "\x1bP$qm\x1b\\"},
        {"APC", "\x1b_Xdata\x1b\\"},
        {"ESC", "\x1b" "7"},
    };
    for (const auto& start : starts) {
        for (std::size_t kept = 1; kept <= 3; ++kept) {
            for (const bool split : {false, true}) {
                SCOPED_TRACE(std::string(start.name) + " after " + std::to_string(kept) + " bytes"
                             + (split ? ", in two feeds" : ", in one feed"));
                auto terminal = makeTerminal(10, 2);
                const std::string before = "A" + emoji.substr(0, kept);
                if (split) {
                    feed(*terminal, before);
                    feed(*terminal, start.sequence + "B");
                } else {
                    feed(*terminal, before + start.sequence + "B");
                }
                EXPECT_EQ(screenLines(*terminal), (Rows{"AB", ""}));
                EXPECT_EQ(cursor(*terminal), (CursorPosition{2, 0}));
            }
        }
    }
}

// A reset of the parser between feeds (a host resetting the terminal) forgets the lead bytes
// it holds: none of them is printed, before or after the reset.
TEST(FeedPartialCharacter, AParserResetForgetsIt)
{
    const struct {
        const char* before;
        const char* after;
        Rows screen;
        CursorPosition cursor;
    } cases[] = {
        {"ab\xe2\x82", "c", {"abc", ""}, {3, 0}},
        {"ab\xc3", "\xa9", {"ab\xc2\xa9", ""}, {3, 0}}, // the continuation alone shows its fallback
        {"ab\xf0\x9f\x98", "", {"ab", ""}, {2, 0}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(::testing::PrintToString(std::string(c.before)));
        auto terminal = makeTerminal(10, 2);
        feed(*terminal, c.before);
        terminal->parser().reset();
        feed(*terminal, c.after);
        EXPECT_EQ(screenLines(*terminal), c.screen);
        EXPECT_EQ(cursor(*terminal), c.cursor);
    }
}

// Text printed below a prompt on the top row, then narrowed: the rows the long line gains
// push the bottom out rather than the prompt's line into the history, so the cursor stays on
// "$ " and what the shell redraws lands there.
TEST(TerminalResize, ACursorOnTheTopRowKeepsItsLineWhenTextBelowGrows)
{
    auto terminal = makeTerminal(40, 4);
    const std::string text = letters(35);
    feed(*terminal, "$ \r\n\r\n\r\n" + text + "\x1b[H\x1b[2C");
    terminal->resize(20, 4);
    EXPECT_EQ(scrollbackLines(*terminal), Rows{});
    EXPECT_EQ(screenLines(*terminal), (Rows{"$", "", "", text.substr(0, 20)}));
    EXPECT_EQ(cursor(*terminal), (CursorPosition{2, 0}));
    feed(*terminal, "X");
    EXPECT_EQ(screenLine(*terminal, 0), "$ X");
}

} // namespace
} // namespace corvantix
