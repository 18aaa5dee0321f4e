#include "drawing/TextBlink.h"

#include <gtest/gtest.h>

#include "engine/emulator/TerminalTestSupport.h"
#include "platform/ManualMainQueue.h"

namespace corvantix {
namespace {

using namespace std::chrono_literals;

class TextBlinkTest : public ::testing::Test {
protected:
    ManualMainQueue queue;
    std::unique_ptr<Terminal> terminal = makeTerminal(20, 4);
    bool visible = true;
    int redraws = 0;
    TextBlinkTimer timer{queue, *terminal, visible, [this] { ++redraws; }};
};

TEST_F(TextBlinkTest, RowsWithBlinkingText)
{
    feed(*terminal, "plain\r\n\x1b[5mblink\x1b[0m\r\n\r\n  \x1b[5m");
    EXPECT_EQ(rowsWithBlinkingText(*terminal, 20), (std::vector<int>{1}));
    feed(*terminal, "x");
    EXPECT_EQ(rowsWithBlinkingText(*terminal, 20), (std::vector<int>{1, 3}));
    // Only the first `cols` cells count.
    EXPECT_EQ(rowsWithBlinkingText(*terminal, 2), (std::vector<int>{1}));
}

TEST_F(TextBlinkTest, FlipsEverySevenTenthsWhileBlinkingTextIsShown)
{
    feed(*terminal, "\x1b[5mhi");
    timer.updateTextBlinkTimer();
    EXPECT_TRUE(timer.isRunning());
    queue.advance(699ms);
    EXPECT_TRUE(visible);
    terminal->clearUpdateRange();
    queue.advance(1ms);
    EXPECT_FALSE(visible);
    EXPECT_EQ(redraws, 1);
    // The blinking row was marked for redraw in both ranges.
    EXPECT_EQ(terminal->getUpdateRange(), (UpdateRange{0, 0}));
    EXPECT_EQ(terminal->getScrollInvariantUpdateRange(), (UpdateRange{0, 0}));
    queue.advance(700ms);
    EXPECT_TRUE(visible);
    // A second update while running changes nothing.
    timer.updateTextBlinkTimer();
    queue.advance(700ms);
    EXPECT_FALSE(visible);
    EXPECT_EQ(redraws, 3);
}

TEST_F(TextBlinkTest, StopsAndLeavesTextVisible)
{
    struct Case { const char* name; std::function<void(TextBlinkTimer&, Terminal&)> change; };
    const Case cases[] = {
        {"application inactive", [](TextBlinkTimer& t, Terminal&) { t.setApplicationActive(false); }},
        {"reduce motion", [](TextBlinkTimer& t, Terminal&) { t.setReduceMotion(true); }},
        {"out of the window", [](TextBlinkTimer& t, Terminal&) { t.inWindow = false, t.updateTextBlinkTimer(); }},
        {"blinking text gone", [](TextBlinkTimer& t, Terminal& term) { feed(term, "\x1b[0m\x1b[2J"), t.updateTextBlinkTimer(); }},
    };
    for (const Case& c : cases) {
        ManualMainQueue localQueue;
        auto term = makeTerminal(20, 4);
        bool shown = true;
        int count = 0;
        TextBlinkTimer local(localQueue, *term, shown, [&] { ++count; });
        feed(*term, "\x1b[5mhi");
        local.updateTextBlinkTimer();
        localQueue.advance(700ms);
        ASSERT_FALSE(shown) << c.name;
        c.change(local, *term);
        EXPECT_FALSE(local.isRunning()) << c.name;
        EXPECT_TRUE(shown) << c.name;
        EXPECT_EQ(count, 2) << c.name; // the tick, then the redraw that shows the text again
        localQueue.advance(2s);
        EXPECT_TRUE(shown) << c.name;
        EXPECT_EQ(localQueue.delayedCount(), 0u) << c.name;
    }
}

TEST_F(TextBlinkTest, ReactivationRestartsOnlyWithBlinkingTextOnScreen)
{
    feed(*terminal, "\x1b[5mhi");
    timer.setApplicationActive(false);
    EXPECT_FALSE(timer.isRunning());
    timer.setApplicationActive(true);
    EXPECT_TRUE(timer.isRunning());
    timer.stopTextBlink();
    EXPECT_FALSE(timer.isRunning());
    auto plainTerminal = makeTerminal(20, 4);
    bool shown = true;
    TextBlinkTimer plain(queue, *plainTerminal, shown, {});
    plain.setApplicationActive(true);
    EXPECT_FALSE(plain.isRunning());
}

} // namespace
} // namespace corvantix
