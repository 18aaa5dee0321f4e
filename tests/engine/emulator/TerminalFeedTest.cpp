#include "emulator/Terminal.h"

#include "platform/ManualMainQueue.h"
#include "RecordingDelegate.h"
#include "engine/platform/LogCapture.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <string>
#include <vector>

namespace corvantix {
namespace {

using namespace std::chrono_literals;
using test::RecordingDelegate;

TerminalOptions sized(int cols, int rows)
{
    TerminalOptions options;
    options.cols = cols;
    options.rows = rows;
    return options;
}

// DECSET 2026: remember, set, re-arm the time-out, announce only a change.
void beginSynchronizedOutputAsDecset(Terminal& terminal)
{
    terminal.feed("\x1b[?2026h");
}

std::string bytes(std::initializer_list<int> values)
{
    std::string text;
    for (const int value : values)
        text.push_back(static_cast<char>(value));
    return text;
}

TEST(FeedRefreshRange, WidensByRowsAndIgnoresNegativeOnes)
{
    Terminal terminal(nullptr, sized(10, 20));
    terminal.clearUpdateRange();
    EXPECT_FALSE(terminal.getUpdateRange().has_value());

    struct Step {
        int row;
        std::optional<UpdateRange> expected;
    };
    const Step steps[] = {
        {-1, std::nullopt},
        {3, UpdateRange{3, 3}},
        {7, UpdateRange{3, 7}},
        {5, UpdateRange{3, 7}},
        {0, UpdateRange{0, 7}},
    };
    for (const Step& step : steps) {
        terminal.updateRange(step.row);
        EXPECT_EQ(terminal.getUpdateRange(), step.expected) << "after row " << step.row;
    }

    terminal.clearUpdateRange();
    EXPECT_FALSE(terminal.getUpdateRange().has_value());
    EXPECT_FALSE(terminal.getScrollInvariantUpdateRange().has_value());
}

TEST(FeedRefreshRange, LineNumberRangeFollowsTheViewportUnlessScrolling)
{
    Terminal terminal(nullptr, sized(10, 4));
    // Push the view down by two lines of history.
    terminal.buffer->lines().push(terminal.buffer->getBlankLine(Attribute::defaultAttribute()));
    terminal.buffer->lines().push(terminal.buffer->getBlankLine(Attribute::defaultAttribute()));
    terminal.buffer->setYBase(2);
    terminal.buffer->setYDisp(2);
    terminal.clearUpdateRange();

    terminal.updateRange(2, true);
    EXPECT_EQ(terminal.getUpdateRange(), (UpdateRange{2, 2}));
    EXPECT_FALSE(terminal.getScrollInvariantUpdateRange().has_value());

    terminal.updateRange(1);
    EXPECT_EQ(terminal.getScrollInvariantUpdateRange(), (UpdateRange{3, 3}));

    terminal.refresh(0, 3);
    EXPECT_EQ(terminal.getUpdateRange(), (UpdateRange{0, 3}));
    EXPECT_EQ(terminal.getScrollInvariantUpdateRange(), (UpdateRange{2, 5}));

    terminal.updateFullScreen();
    EXPECT_EQ(terminal.getUpdateRange(), (UpdateRange{0, 4})) << "one past the last row";
    EXPECT_EQ(terminal.getScrollInvariantUpdateRange(), (UpdateRange{2, 6}));
    EXPECT_EQ(terminal.getTopVisibleRow(), 2);
}

TEST(FeedSynchronizedOutput, EndsOneSecondAfterTheLastBegin)
{
    ManualMainQueue queue;
    RecordingDelegate host;
    Terminal terminal(&host, sized(10, 5), &queue);
    host.clear();

    beginSynchronizedOutputAsDecset(terminal);
    queue.advance(500ms);
    beginSynchronizedOutputAsDecset(terminal);
    EXPECT_EQ(host.events, std::vector<std::string>{"synchronizedOutputChanged(true)"});
    EXPECT_EQ(queue.delayedCount(), 1u) << "the second begin re-armed the one time-out";

    terminal.clearUpdateRange();
    queue.advance(999ms);
    EXPECT_TRUE(terminal.synchronizedOutputActive);
    queue.advance(1ms);
    EXPECT_FALSE(terminal.synchronizedOutputActive);
    EXPECT_EQ(host.events,
              (std::vector<std::string>{"synchronizedOutputChanged(true)", "synchronizedOutputChanged(false)"}));
    EXPECT_EQ(terminal.getUpdateRange(), (UpdateRange{0, 4}));
    EXPECT_FALSE(terminal.synchronizedOutputTimeoutItem.has_value());
}

TEST(FeedSynchronizedOutput, ThroughDecsetAndDecrst)
{
    ManualMainQueue queue;
    RecordingDelegate host;
    Terminal terminal(&host, sized(10, 5), &queue);
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
    queue.advance(1ms);
    EXPECT_EQ(host.events,
              (std::vector<std::string>{"synchronizedOutputChanged(true)", "synchronizedOutputChanged(false)"}));

    terminal.feed("\x1b[?2026h\x1b[?2026l");
    EXPECT_EQ(host.countNamed("synchronizedOutputChanged"), 4);
    EXPECT_EQ(queue.delayedCount(), 0u);
}

TEST(FeedSynchronizedOutput, EndingWhenInactiveDoesNothingAndEndingEarlyCancelsTheTimeOut)
{
    ManualMainQueue queue;
    RecordingDelegate host;
    Terminal terminal(&host, sized(10, 5), &queue);
    terminal.clearUpdateRange();
    host.clear();

    terminal.endSynchronizedOutput();
    EXPECT_TRUE(host.events.empty());
    EXPECT_FALSE(terminal.getUpdateRange().has_value());

    beginSynchronizedOutputAsDecset(terminal);
    terminal.endSynchronizedOutput();
    EXPECT_EQ(queue.delayedCount(), 0u);
    queue.advance(5s);
    EXPECT_EQ(host.countNamed("synchronizedOutputChanged"), 2);
}

TEST(FeedSynchronizedOutput, WithoutAQueueNothingIsArmedAndADestroyedTerminalCancelsItsTimeOut)
{
    Terminal unqueued(nullptr);
    beginSynchronizedOutputAsDecset(unqueued);
    EXPECT_FALSE(unqueued.synchronizedOutputTimeoutItem.has_value());
    EXPECT_TRUE(unqueued.synchronizedOutputActive);

    ManualMainQueue queue;
    {
        Terminal terminal(nullptr, {}, &queue);
        beginSynchronizedOutputAsDecset(terminal);
        EXPECT_EQ(queue.delayedCount(), 1u);
    }
    EXPECT_EQ(queue.delayedCount(), 0u);
    queue.advance(2s);
}

TEST(FeedCursorAndTitles, VisibilityChangesAreAnnouncedOnceTitlesAlways)
{
    RecordingDelegate host;
    Terminal terminal(&host);
    host.clear();

    terminal.hideCursor();
    terminal.hideCursor();
    terminal.showCursor();
    terminal.showCursor();
    terminal.setTitle("a");
    terminal.setTitle("a");
    terminal.setIconTitle("i");
    terminal.linefeedNotify();
    EXPECT_EQ(host.events, (std::vector<std::string>{"hideCursor", "showCursor", "setTerminalTitle(a)",
                                                      "setTerminalTitle(a)", "setTerminalIconTitle(i)", "linefeed"}));
    EXPECT_EQ(terminal.terminalTitle, "a");
    EXPECT_EQ(terminal.iconTitle, "i");
}

TEST(FeedFocus, ReportsHonourTheModeAndTheControlForm)
{
    RecordingDelegate host;
    Terminal terminal(&host);

    terminal.setFocusState(false);
    EXPECT_TRUE(host.sends.empty()) << "focus reporting is off";
    EXPECT_FALSE(terminal.reportedFocusState);

    terminal.feed("\x1b[?1004h"); // reports the focus at once
    host.sends.clear();
    terminal.setFocusState(true);
    terminal.feed("\x1b G"); // 8-bit controls
    terminal.setFocusState(false);
    EXPECT_EQ(host.sends, (std::vector<std::string>{"\x1b[I", bytes({0x9B, 0x4F})}));
}

TEST(FeedFocus, FocusReportingModeReportsAtOnce)
{
    RecordingDelegate host;
    Terminal terminal(&host);
    terminal.feed("\x1b G\x1b[?1004h");
    terminal.setFocusState(false);
    terminal.feed("\x1b[?1004l");
    terminal.setFocusState(true);
    EXPECT_EQ(host.sends, (std::vector<std::string>{bytes({0x9B, 'I'}), bytes({0x9B, 0x4F})}));
}

TEST(FeedReplies, SendResponseSendsOneSliceOfAllItems)
{
    RecordingDelegate host;
    Terminal terminal(&host);
    host.clear();

    terminal.sendResponse();
    const std::vector<std::uint8_t> data{1, 2};
    const std::string text = "xy";
    terminal.sendResponse(terminal.cc.csi(), "ab", data, std::uint8_t{3}, text, 'c');
    terminal.cc.send8bit = true;
    terminal.sendResponse(terminal.cc.csi(), "?1u");
    terminal.sendResponse(terminal.cc.dcs(), "1$r", terminal.cc.st());
    terminal.sendText("plain");

    EXPECT_EQ(host.sends, (std::vector<std::string>{"", "\x1b[ab" + bytes({1, 2, 3}) + "xyc", bytes({0x9B}) + "?1u",
                                                     bytes({0x90}) + "1$r" + bytes({0x9C}), "plain"}));

    terminal.setDelegate(nullptr);
    terminal.sendResponse("lost");
    terminal.sendText("lost");
    EXPECT_EQ(host.sends.size(), 5u);
}

TEST(FeedLogging, SilentByDefaultAndExactWhenAskedFor)
{
    Terminal terminal(nullptr);
    const std::uint8_t collect[] = {'?', '$'};
    const int pars[] = {1, 25};
    const auto logAll = [&] {
        terminal.logUnknownCsi(pars, collect, 'Q');
        terminal.logUnknownEsc(std::span<const std::uint8_t>(collect).first(1), 'Z');
        terminal.logUnknownExecute();
        terminal.logUnknownOsc(5, {});
        terminal.logUnknownApc('X', {});
        terminal.logStringOverflow("OSC 52");
    };

    LogCapture log;
    logAll();
    EXPECT_EQ(log.take(), "");

    terminal.setSilentLog(false);
    logAll();
    EXPECT_EQ(log.take(),
              "Info: Corvantix: Unknown CSI Code (collect=[63, 36] code=Q pars=[1, 25])\n"
              "Info: Corvantix: Unknown ESC Code: ESC + Z txt=[63]\n"
              "Info: Corvantix: Unknown EXECUTE code\n"
              "Info: Corvantix: Unknown OSC code: 5\n"
              "Info: Corvantix: Unknown APC code: X\n"
              "Info: Corvantix: Dropped an overlong string: OSC 52\n");
}

TEST(FeedLogging, ParseErrorsAreLoggedAndParsingGoesOn)
{
    Terminal terminal(nullptr);
    ParsingState state;
    state.code = ':';
    LogCapture log;
    const ParsingState quiet = terminal.logParseError(state);
    terminal.setSilentLog(false);
    const ParsingState loud = terminal.logParseError(state);
    const std::string output = log.take();
    EXPECT_EQ(output.rfind("Info: Corvantix: Parsing error, state: ", 0), 0u) << output;
    EXPECT_EQ(std::count(output.begin(), output.end(), '\n'), 1);
    EXPECT_FALSE(quiet.abort);
    EXPECT_FALSE(loud.abort);
    EXPECT_EQ(loud.code, ':');
}

TEST(FeedPrintState, ResetDropsAHalfReceivedCharacter)
{
    Terminal terminal(nullptr);
    terminal.feed("\xe2\x94"); // the first two bytes of a three-byte character
    ASSERT_EQ(terminal.readingBuffer.putbackBuffer, (std::vector<std::uint8_t>{0xE2, 0x94}));
    terminal.parser.reset(); // the parser calls the print-state reset
    EXPECT_TRUE(terminal.readingBuffer.putbackBuffer.empty());
    EXPECT_EQ(terminal.readingBuffer.idx, 0u);
}

TEST(FeedPayloadText, Utf8AndAsciiDecoding)
{
    struct Case {
        std::string input;
        bool utf8;
        bool ascii;
    };
    const Case cases[] = {
        {"", true, true},
        {"plain", true, true},
        {"caf\xC3\xA9", true, false},
        {"\xF0\x9F\x98\x80", true, false},
        {"\xC3", false, false},             // truncated
        {"\xC0\xAF", false, false},         // overlong
        {"\xE0\x80\xAF", false, false},     // overlong
        {"\xED\xA0\x80", false, false},     // surrogate
        {"\xF4\x90\x80\x80", false, false}, // past U+10FFFF
        {"\xE2\x28\xA1", false, false},     // bad continuation
        {"\xFF", false, false},
    };
    for (const Case& c : cases) {
        const std::span<const std::uint8_t> data(reinterpret_cast<const std::uint8_t*>(c.input.data()),
                                                 c.input.size());
        EXPECT_EQ(decodeUtf8(data).has_value(), c.utf8) << c.input;
        EXPECT_EQ(decodeAscii(data).has_value(), c.ascii) << c.input;
        if (c.utf8) {
            EXPECT_EQ(*decodeUtf8(data), c.input);
        }
    }
}

} // namespace
} // namespace corvantix
