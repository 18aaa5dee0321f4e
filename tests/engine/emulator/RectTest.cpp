// Rectangular area operations: fill, erase, selective erase, copy, insert columns, the
// checksum request and the alignment pattern, inside and across the scroll region and
// margins.
#include "TerminalTestSupport.h"
#include "engine/platform/LogCapture.h"

namespace corvantix {
namespace {

using test::RecordingDelegate;

// Every visible row, blanks shown as ".", so the shape of a rectangle is visible.
std::vector<std::string> grid(const Terminal& terminal)
{
    std::vector<std::string> rows;
    for (int row = 0; row < terminal.rows(); ++row) {
        std::string text;
        for (int col = 0; col < terminal.cols(); ++col) {
            const std::int32_t code = cellAt(terminal, col, row).code;
            text += code == 0 || code == ' ' ? '.' : static_cast<char>(code);
        }
        rows.push_back(text);
    }
    return rows;
}

// A 10 x 6 screen with a letter in every cell: row r holds "abcdefghij" shifted by r.
std::unique_ptr<Terminal> filledTerminal(TerminalDelegate* delegate = nullptr)
{
    auto terminal = makeTerminal(10, 6, delegate);
    for (int row = 0; row < 6; ++row) {
        std::string text;
        for (int col = 0; col < 10; ++col)
            text += static_cast<char>('a' + (row + col) % 26);
        feed(*terminal, "\x1b[" + std::to_string(row + 1) + ";1H" + text);
    }
    return terminal;
}

struct RectCase {
    const char* name;
    std::string bytes;
    std::vector<std::string> expected; // empty: unchanged
};

// Each case on a fresh filled screen.
void runRects(const std::vector<RectCase>& cases)
{
    for (const RectCase& c : cases) {
        SCOPED_TRACE(c.name);
        auto terminal = filledTerminal();
        LogCapture quiet; // the locator form prints a line
        const std::vector<std::string> before = grid(*terminal);
        feed(*terminal, c.bytes);
        EXPECT_EQ(grid(*terminal), c.expected.empty() ? before : c.expected);
    }
}

TEST(RectTest, FillEraseAndSelectiveErase)
{
    runRects({
        {"fill", "\x1b[88;2;3;4;10$x", {"abcdefghij", "bcXXXXXXXX", "cdXXXXXXXX", "deXXXXXXXX", "efghijklmn", "fghijklmno"}},
        {"fill, defaults to the whole screen", "\x1b[42$x", {"**********", "**********", "**********", "**********", "**********", "**********"}},
        {"fill, bottom and right past the screen", "\x1b[35;5;9;99;99$x",
         {"abcdefghij", "bcdefghijk", "cdefghijkl", "defghijklm", "efghijkl##", "fghijklm##"}},
        {"fill, surrogate code gives spaces", "\x1b[55296;1;1;1;3$x",
         {"...defghij", "bcdefghijk", "cdefghijkl", "defghijklm", "efghijklmn", "fghijklmno"}},
        {"fill, code 0 gives empty cells", "\x1b[0;6;1;6;2$x", {"abcdefghij", "bcdefghijk", "cdefghijkl", "defghijklm", "efghijklmn", "..hijklmno"}},
        {"fill, inverted rectangle is empty", "\x1b[88;4;4;2;2$x", {}},
        {"fill without $ does nothing", "\x1b[88;1;1;2;2x", {}},
        {"erase", "\x1b[2;2;3;4$z", {"abcdefghij", "b...fghijk", "c...ghijkl", "defghijklm", "efghijklmn", "fghijklmno"}},
        {"erase, the locator form changes nothing", "\x1b[2;2;3;4'z", {}},
        {"selective erase", "\x1b[5;9${", {"abcdefghij", "bcdefghijk", "cdefghijkl", "defghijklm", "efghijkl..", "fghijklm.."}},
        // The scroll region and margins do not clip a rectangle outside origin mode.
        {"region and margins do not clip", "\x1b[3;4r\x1b[?69h\x1b[4;6s\x1b[88;1;1;6;10$x",
         {"XXXXXXXXXX", "XXXXXXXXXX", "XXXXXXXXXX", "XXXXXXXXXX", "XXXXXXXXXX", "XXXXXXXXXX"}},
        // In origin mode the rectangle counts from the region's top and the left margin.
        {"origin mode erase", "\x1b[3;5r\x1b[?6h\x1b[1;1;1;1$z",
         {"abcdefghij", "bcdefghijk", ".defghijkl", "defghijklm", "efghijklmn", "fghijklmno"}},
        {"origin mode fill with margins", "\x1b[?69h\x1b[3;8s\x1b[2;4r\x1b[?6h\x1b[88;2;2;2;3$x",
         {"abcdefghij", "bcdefghijk", "cdeXXhijkl", "defghijklm", "efghijklmn", "fghijklmno"}},
    });
}

TEST(RectTest, FillAndEraseUseTheCurrentAttribute)
{
    auto terminal = filledTerminal();
    feed(*terminal, "\x1b[1;4;31;42m\x1b[88;1;1;1;1$x\x1b[0;33m\x1b[1;2;1;2$z\x1b[0m");
    const CharData& filled = cellAt(*terminal, 0, 0);
    EXPECT_TRUE(filled.attribute.fg == Attribute::Color::ansi256(1) && filled.attribute.bg == Attribute::Color::ansi256(2));
    EXPECT_TRUE(filled.attribute.style.contains(CharacterStyle::bold) && filled.attribute.underlineStyle == UnderlineStyle::single);
    EXPECT_EQ(filled.width, 1);
    const CharData& erased = cellAt(*terminal, 1, 0);
    EXPECT_TRUE(erased.code == ' ' && erased.attribute.fg == Attribute::Color::ansi256(3) && erased.attribute.style.isEmpty());
}

TEST(RectTest, SelectiveEraseKeepsColoursAndLinks)
{
    auto terminal = makeTerminal(10, 3);
    feed(*terminal, "\x1b[34m\x1b]8;;http://x.example/\x1b\\ab\x1b]8;;\x1b\\\x1b[0m");
    const TinyAtom payload = cellAt(*terminal, 0, 0).payload;
    ASSERT_NE(payload.code, 0);
    feed(*terminal, "\x1b[1;1;1;2${");
    for (int col : {0, 1}) {
        const CharData& cell = cellAt(*terminal, col, 0);
        EXPECT_EQ(cell.code, ' ');
        EXPECT_EQ(cell.attribute.fg, Attribute::Color::ansi256(4));
        EXPECT_EQ(cell.payload, payload);
    }
}

TEST(RectTest, CopyRectangle)
{
    runRects({
        {"copy", "\x1b[1;1;2;3;1;4;5;1$v", {"abcdefghij", "bcdefghijk", "cdefghijkl", "defgabcklm", "efghbcdlmn", "fghijklmno"}},
        // The copy is taken before anything is written: rows move down as they were.
        {"overlapping one row down", "\x1b[1;1;3;2;1;2;1;1$v", {"abcdefghij", "abdefghijk", "bcefghijkl", "cdfghijklm", "efghijklmn", "fghijklmno"}},
        {"overlapping one column right", "\x1b[1;1;1;4;1;1;2;1$v",
         {"aabcdfghij", "bcdefghijk", "cdefghijkl", "defghijklm", "efghijklmn", "fghijklmno"}},
        {"rows below the screen are dropped", "\x1b[1;1;3;2;1;6;1;1$v",
         {"abcdefghij", "bcdefghijk", "cdefghijkl", "defghijklm", "efghijklmn", "abhijklmno"}},
        {"columns past the right edge are dropped", "\x1b[1;1;1;5;1;2;9;1$v",
         {"abcdefghij", "bcdefghiab", "cdefghijkl", "defghijklm", "efghijklmn", "fghijklmno"}},
        {"bottom and right 0 mean the last row and column", "\x1b[5;9;0;0;1;1;1;1$v",
         {"mncdefghij", "nodefghijk", "cdefghijkl", "defghijklm", "efghijklmn", "fghijklmno"}},
        {"only page 1 exists", "\x1b[1;1;2;2;1;4;4;2$v", {}},
        // Origin mode moves the source, not the destination.
        {"origin mode source", "\x1b[3;6r\x1b[?6h\x1b[1;1;1;2;1;1;1;1$v",
         {"cdcdefghij", "bcdefghijk", "cdefghijkl", "defghijklm", "efghijklmn", "fghijklmno"}},
        // With margins, origin mode moves the source right by the left margin.
        {"origin mode source with margins", "\x1b[?69h\x1b[4;8s\x1b[2;5r\x1b[?6h\x1b[1;1;2;2;1;6;9;1$v",
         {"abcdefghij", "bcdefghijk", "cdefghijkl", "defghijklm", "efghijklmn", "fghijklmef"}},
        // Outside origin mode the margins neither clip nor move a copy.
        {"margins do not clip a copy", "\x1b[?69h\x1b[4;8s\x1b[1;1;1;10;1;3;1;1$v",
         {"abcdefghij", "bcdefghijk", "abcdefghij", "defghijklm", "efghijklmn", "fghijklmno"}},
    });
}

TEST(RectTest, InsertColumns)
{
    runRects({
        {"three at column 3", "\x1b[1;3H\x1b[3'}", {"ab...cdefg", "bc...defgh", "cd...efghi", "de...fghij", "ef...ghijk", "fg...hijkl"}},
        {"the last column blanks that column only", "\x1b[1;10H\x1b['}",
         {"abcdefghi.", "bcdefghij.", "cdefghijk.", "defghijkl.", "efghijklm.", "fghijklmn."}},
        {"more than fit blanks to the edge", "\x1b[1;8H\x1b[9'}",
         {"abcdefg...", "bcdefgh...", "cdefghi...", "defghij...", "efghijk...", "fghijkl..."}},
        {"inside the scroll region only", "\x1b[2;3r\x1b[2;2H\x1b['}",
         {"abcdefghij", "b.cdefghij", "c.defghijk", "defghijklm", "efghijklmn", "fghijklmno"}},
        {"up to the right margin", "\x1b[?69h\x1b[3;6s\x1b[1;4H\x1b[2'}",
         {"abc..dghij", "bcd..ehijk", "cde..fijkl", "def..gjklm", "efg..hklmn", "fgh..ilmno"}},
        {"left of the left margin does nothing", "\x1b[?69h\x1b[3;6s\x1b[1;1H\x1b[2'}", {}},
        {"without the ' intermediate it is not DECIC", "\x1b[1;3H\x1b[3}", {}},
    });
    auto terminal = filledTerminal();
    feed(*terminal, "\x1b[44m\x1b[1;3H\x1b['}");
    const CharData& blank = cellAt(*terminal, 2, 0);
    EXPECT_EQ(blank.code, ' ');
    EXPECT_EQ(blank.attribute.bg, Attribute::Color::defaultInvertedColor());
    EXPECT_EQ(cursor(*terminal), (CursorPosition{2, 0}));
}

TEST(RectTest, ChecksumRequest)
{
    struct Case { const char* name; bool trusts; std::string screen; std::string request; std::string reply; };
    const Case cases[] = {
        {"A and B", true, "AB", "\x1b[5;1;1;1;1;2*y", "\x1bP5!~0083\x1b\\"},
        {"attributes do not count", true, "\x1b[1;31mA\x1b[44mB", "\x1b[5;1;1;1;1;2*y", "\x1bP5!~0083\x1b\\"},
        {"empty cells count as spaces", true, "", "\x1b[7;1;1;1;1;2*y", "\x1bP7!~0040\x1b\\"},
        {"bottom given as 0", true, "AB", "\x1b[5;1;1;1;0;2*y", "\x1bP5!~0000\x1b\\"},
        {"untrusted host", false, "AB", "\x1b[5;1;1;1;1;2*y", "\x1bP5!~0000\x1b\\"},
        // The parser hands over an absent first parameter as 0.
        {"no parameters", true, "AB", "\x1b[*y", "\x1bP0!~0000\x1b\\"},
        // 40 x 80 empty cells: 3200 x 0x20 = 0x19000, more than four digits.
        {"whole screen", true, "", "\x1b[1;1;1*y", "\x1bP1!~19000\x1b\\"},
        {"a wide character and its empty half", true, "\xe4\xb8\xad", "\x1b[1;1;1;1;1;2*y", "\x1bP1!~4e4d\x1b\\"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        TerminalFixture f(80, 40);
        f.delegate.trusts = c.trusts;
        feed(*f.terminal, c.screen);
        EXPECT_EQ(f.replies(c.request), std::vector<std::string>{c.reply});
    }
    RecordingDelegate delegate;
    auto terminal = makeTerminal(80, 40, &delegate);
    terminal->cmdDECRQCRA({});
    EXPECT_EQ(delegate.sent, "\x1bP1!~0000\x1b\\"); // an empty list answers for Pid 1
    feed(*terminal, "\x1b G");
    delegate.clear();
    feed(*terminal, "\x1b[2;1;1;1;1;1*y");
    EXPECT_EQ(delegate.sent, "\x90" "2!~0020\x9c");
}

TEST(RectTest, AlignmentPattern)
{
    auto terminal = filledTerminal();
    feed(*terminal, "\x1b[3;4r\x1b[?6h\x1b[1;4;31;44m\x1b[6;6H\x1b#8");
    EXPECT_EQ(grid(*terminal), std::vector<std::string>(6, "EEEEEEEEEE"));
    // Home is the top of the region in origin mode; the region stays.
    EXPECT_EQ(cursor(*terminal), (CursorPosition{0, 2}));
    EXPECT_EQ(cellAt(*terminal, 5, 5).attribute.bg, Attribute::Color::ansi256(4));
    terminal->clearUpdateRange();
    feed(*terminal, "\x1b[?6l\x1b#8");
    EXPECT_EQ(cursor(*terminal), (CursorPosition{0, 0}));
    EXPECT_EQ(terminal->getUpdateRange(), (UpdateRange{0, 6}));
}

TEST(RectTest, AlignmentPatternClearsWrapFlags)
{
    auto terminal = makeTerminal(5, 3);
    feed(*terminal, "abcdefgh");
    ASSERT_TRUE(terminal->buffer().lines()[1]->isWrapped());
    feed(*terminal, "\x1b#8");
    EXPECT_FALSE(terminal->buffer().lines()[1]->isWrapped());
}

} // namespace
} // namespace corvantix
