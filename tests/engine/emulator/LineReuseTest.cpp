// Scrolling an inner region reuses the line that leaves it as the new blank bottom line,
// unless something besides the ring still holds that line object.
#include "TerminalTestSupport.h"

namespace corvantix {
namespace {

// A 10 x 6 terminal with rows "r0".."r5" and the region rows 2..4 (1-based 2..5 is 1..4
// zero-based), the cursor on the region's bottom row.
std::unique_ptr<Terminal> regionTerminal()
{
    auto terminal = makeTerminal(10, 6);
    feed(*terminal, "r0\r\nr1\r\nr2\r\nr3\r\nr4\r\nr5\x1b[2;5r\x1b[5;1H");
    return terminal;
}

TEST(LineReuse, ALineHeldElsewhereIsDroppedAndKeepsItsText)
{
    auto terminal = regionTerminal();
    Buffer& screen = *terminal->buffer;
    const int top = screen.yBase() + 1;
    const std::shared_ptr<BufferLine> held = screen.lines()[top];
    feed(*terminal, "\n");
    EXPECT_EQ(screenLines(*terminal), (std::vector<std::string>{"r0", "r2", "r3", "r4", "", "r5"}));
    for (int row = 0; row < screen.rows(); ++row)
        EXPECT_NE(screen.lines()[screen.yBase() + row], held) << row;
    EXPECT_EQ(terminal->lineDisplayText(*held), "r1");
}

} // namespace
} // namespace corvantix
