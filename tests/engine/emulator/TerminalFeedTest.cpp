#include "emulator/Terminal.h"

#include "platform/ManualMainQueue.h"
#include "TerminalTestSupport.h"

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
    terminal.clearUpdateRange();
    queue.advance(1ms);
    EXPECT_EQ(host.events,
              (std::vector<std::string>{"synchronizedOutputChanged(true)", "synchronizedOutputChanged(false)"}));
    EXPECT_EQ(terminal.getUpdateRange(), (UpdateRange{0, 4}));
    EXPECT_FALSE(terminal.synchronizedOutputTimeoutItem.has_value());

    terminal.feed("\x1b[?2026h\x1b[?2026l");
    EXPECT_EQ(host.countNamed("synchronizedOutputChanged"), 4);
    EXPECT_EQ(queue.delayedCount(), 0u);
}

TEST(FeedSynchronizedOutput, WithoutAQueueNothingIsArmedAndADestroyedTerminalCancelsItsTimeOut)
{
    Terminal unqueued(nullptr);
    feed(unqueued, "\x1b[?2026h");
    EXPECT_FALSE(unqueued.synchronizedOutputTimeoutItem.has_value());
    EXPECT_TRUE(unqueued.synchronizedOutputActive);

    ManualMainQueue queue;
    {
        Terminal terminal(nullptr, {}, &queue);
        feed(terminal, "\x1b[?2026h");
        EXPECT_EQ(queue.delayedCount(), 1u);
    }
    EXPECT_EQ(queue.delayedCount(), 0u);
    queue.advance(2s);
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
