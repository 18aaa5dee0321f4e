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
    Buffer& screen = terminal->buffer();
    const int top = screen.yBase() + 1;
    const std::shared_ptr<BufferLine> held = screen.lines()[top];
    feed(*terminal, "\n");
    EXPECT_EQ(screenLines(*terminal), (std::vector<std::string>{"r0", "r2", "r3", "r4", "", "r5"}));
    for (int row = 0; row < screen.rows(); ++row)
        EXPECT_NE(screen.lines()[screen.yBase() + row], held) << row;
    EXPECT_EQ(terminal->lineDisplayText(*held), "r1");
}

// A line recycled from the top of a full scrollback blanks only the cells written since it
// was last recycled. Whatever wrote them (runs, single cells, wide characters, joins, insert
// mode, erases with a colour, links), a line that comes back holds nothing of its past.
TEST(LineReuse, ARecycledLineKeepsNothingOfWhatWasWrittenOnIt)
{
    const char* const inputs[] = {
        "abcdefgh",
        "abcdefghijk",
        "\x1b[5Gx",
        "\xe4\xb8\xad\xe6\x96\x87\xe5\xad\x97",
        "\xe4\xb8\xad\xe6\x96\x87\x1b[3Dx",
        "e\xcc\x81",
        "abc\r\x1b[4hxy\x1b[4l",
        "ab\x1b[2@",
        "\x1b[31;4mab\x1b[0m",
        "\x1b[41m\x1b[K\x1b[0m",
        "\x1b[41m\r\n\x1b[0mq",
        "\x1b]8;;http://example.com\x1b\\link\x1b]8;;\x1b\\",
        "\x1b[6G\x1b(0qqq\x1b(B",
    };
    for (const char* input : inputs) {
        TerminalOptions options;
        options.cols = 8;
        options.rows = 3;
        options.scrollback = 2;
        Terminal terminal(nullptr, options);
        feed(terminal, "\r\n\r\n\r\n\r\n"); // the ring is full: every further line feed recycles
        for (int round = 0; round < 2; ++round) {
            feed(terminal, input);
            feed(terminal, "\x1b[0m\r\n\r\n\r\n\r\n\r\n\r\n");
            const CircularBufferLineList& ring = terminal.buffer().lines();
            ASSERT_EQ(ring.count(), 5) << input;
            for (int index = 0; index < ring.count(); ++index)
                for (int col = 0; col < 8; ++col)
                    EXPECT_EQ(ring.peek(index)->getCell(col), CharData(0, 1, Attribute{}))
                        << input << " round " << round << " line " << index << " column " << col;
        }
    }
}

} // namespace
} // namespace corvantix
