// SPD and SCP: the presentation direction of the terminal, of both screens' new lines and of
// the cursor's paragraph.
#include "TerminalTestSupport.h"

namespace corvantix {
namespace {

constexpr BidiDirection ltr = BidiDirection::leftToRight;
constexpr BidiDirection rtl = BidiDirection::rightToLeft;

BidiDirection lineDirection(Terminal& terminal, int screenRow)
{
    Buffer& screen = terminal.buffer();
    return screen.lines()[screen.yBase() + screenRow]->bidiState().fallbackDirection;
}

TEST(BidiStateTest, DirectionCommands)
{
    // initial: the configured fallback direction; marksScreen false: ignored, nothing redrawn
    struct Case { const char* name; BidiDirection initial; const char* bytes; BidiDirection expected; bool marksScreen; };
    const Case cases[] = {
        {"SPD 3 is right to left", ltr, "\x1b[3 S", rtl, true},
        {"SPD 0 is left to right", ltr, "\x1b[3 S\x1b[0 S", ltr, true},
        {"SPD without parameter is left to right", ltr, "\x1b[3 S\x1b[ S", ltr, true},
        {"SPD 2 is ignored", ltr, "\x1b[2 S", ltr, false},
        {"SPD 1 is ignored", rtl, "\x1b[1 S", rtl, false},
        {"SCP 2 is right to left", ltr, "\x1b[2 k", rtl, true},
        {"SCP 1 is left to right", rtl, "\x1b[1 k", ltr, true},
        {"SCP without parameter restores the initial direction", rtl, "\x1b[1 k\x1b[ k", rtl, true},
        {"SCP 0 restores the initial direction", ltr, "\x1b[2 k\x1b[0 k", ltr, true},
        {"SCP 3 is ignored", ltr, "\x1b[3 k", ltr, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        TerminalOptions options = TerminalFixture::sizedOptions(20, 5);
        options.initialBidiState.fallbackDirection = c.initial;
        Terminal terminal(nullptr, options);
        terminal.clearUpdateRange();
        feed(terminal, c.bytes);
        EXPECT_EQ(terminal.currentBidiState().fallbackDirection, c.expected);
        EXPECT_EQ(terminal.normalBuffer().defaultBidiState, terminal.currentBidiState());
        EXPECT_EQ(terminal.altBuffer().defaultBidiState, terminal.currentBidiState());
        if (c.marksScreen)
            EXPECT_EQ(terminal.getUpdateRange(), (UpdateRange{0, 5}));
        else
            EXPECT_FALSE(terminal.getUpdateRange().has_value());
    }
}

TEST(BidiStateTest, LinesTakeTheDirection)
{
    auto terminal = makeTerminal(10, 5);
    feed(*terminal, "\x1b[3 S");
    // The cursor stands at the start of the first paragraph, which takes the change.
    EXPECT_EQ(lineDirection(*terminal, 0), rtl);
    EXPECT_EQ(lineDirection(*terminal, 1), ltr);
    // New lines reached by line feed, and the rows a paragraph wraps onto, get it too.
    feed(*terminal, "abc\r\nabcdefghijklm\r\n");
    for (int row = 1; row <= 3; ++row) EXPECT_EQ(lineDirection(*terminal, row), rtl) << row;
    // Back to left to right: the paragraph at the cursor (row 3, column 0) follows.
    feed(*terminal, "\x1b[0 S");
    EXPECT_EQ(lineDirection(*terminal, 3), ltr);
    EXPECT_EQ(lineDirection(*terminal, 1), rtl);
    feed(*terminal, "x\r\n");
    EXPECT_EQ(lineDirection(*terminal, 4), ltr);
}

} // namespace
} // namespace corvantix
