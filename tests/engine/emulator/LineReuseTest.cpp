// Scrolling an inner region reuses the line that leaves it as the new blank bottom line,
// unless something besides the ring still holds that line object.
#include "TerminalTestSupport.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

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

TEST(LineReuse, InnerRegionScrollMovesTheLeavingLineToTheBottomBlank)
{
    auto terminal = regionTerminal();
    Buffer& screen = *terminal->buffer;
    const int top = screen.yBase() + 1;
    const BufferLine* leaving = screen.lines()[top].get();
    const BufferLine* second = screen.lines()[top + 1].get();
    const std::uint64_t recycled = leaving->recycleGeneration();

    feed(*terminal, "\n");

    EXPECT_EQ(screenLines(*terminal), (std::vector<std::string>{"r0", "r2", "r3", "r4", "", "r5"}));
    EXPECT_EQ(screen.lines()[top].get(), second);            // the rest moved up by one
    EXPECT_EQ(screen.lines()[top + 3].get(), leaving);       // the same object, now the blank bottom
    EXPECT_EQ(leaving->recycleGeneration(), recycled + 1);   // and counted as reused
    EXPECT_FALSE(leaving->isWrapped());
    EXPECT_EQ(leaving->owningBuffer(), &screen);
    EXPECT_EQ(leaving->getTrimmedLength(), 0);
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

TEST(LineReuse, ReusedBottomLineTakesTheEraseColourAndWrapOfTheTemplate)
{
    auto terminal = regionTerminal();
    // A background colour for the erase attribute, then text that wraps on the region's
    // bottom row: the new bottom line is the wrapped continuation in that colour.
    feed(*terminal, "\x1b[44m0123456789ab");
    const Buffer& screen = *terminal->buffer;
    const BufferLine& bottom = *screen.lines()[screen.yBase() + 4];
    EXPECT_TRUE(bottom.isWrapped());
    EXPECT_EQ(terminal->lineDisplayText(bottom), "ab");
    EXPECT_EQ(bottom.getCell(5).attribute.bg, Attribute::Color::ansi256(4));
    EXPECT_EQ(bottom.getCell(5).code, 0);
    EXPECT_EQ(screenLines(*terminal), (std::vector<std::string>{"r0", "r2", "r3", "0123456789", "ab", "r5"}));
}

} // namespace
} // namespace corvantix
