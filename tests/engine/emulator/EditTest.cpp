// Erasing, inserting and deleting: ED, EL, ICH, DCH, ECH, IL, DL, SU, SD, REP, DECDC and the
// line sizes.
#include "TerminalTestSupport.h"
#include <algorithm>
#include <random>

namespace corvantix {
namespace {

using Rows = std::vector<std::string>;

BufferLine& screenLineObject(Terminal& terminal, int row)
{
    Buffer& screen = terminal.buffer();
    return *screen.lines()[screen.yBase() + row];
}

const Rows sample = {"0123456789", "abcdefghij", "ABCDEFGHIJ", "klmnopqrst", "KLMNOPQRST"};

// 10 x 5 screen holding `sample`; the cursor does not move.
void runEdits(const std::vector<ScreenCase>& cases) { expectScreens(10, 5, sample, cases); }

TEST(EditErase, EraseInDisplayLineAndCharacters)
{
    runEdits({
        {"ED 0", "\x1b[J", {4, 2}, {"0123456789", "abcdefghij", "ABCD", "", ""}},
        {"ED 1", "\x1b[1J", {4, 2}, {"", "", "     FGHIJ", "klmnopqrst", "KLMNOPQRST"}},
        {"ED 2", "\x1b[2J", {4, 2}, {"", "", "", "", ""}},
        {"ED 4 does nothing", "\x1b[4J", {4, 2}, {}},
        {"EL 0", "\x1b[K", {4, 2}, {"0123456789", "abcdefghij", "ABCD", "klmnopqrst", "KLMNOPQRST"}},
        {"EL 1", "\x1b[1K", {4, 2}, {"0123456789", "abcdefghij", "     FGHIJ", "klmnopqrst", "KLMNOPQRST"}},
        {"EL 2", "\x1b[2K", {4, 2}, {"0123456789", "abcdefghij", "", "klmnopqrst", "KLMNOPQRST"}},
        {"EL 0 at the pending-wrap column erases nothing", "\x1b[K", {10, 2}, {}},
        {"EL 1 at the pending-wrap column erases the row", "\x1b[1K", {10, 2}, {"0123456789", "abcdefghij", "", "klmnopqrst", "KLMNOPQRST"}},
        {"ECH 3", "\x1b[3X", {2, 1}, {"0123456789", "ab   fghij", "ABCDEFGHIJ", "klmnopqrst", "KLMNOPQRST"}},
        {"ECH 0 erases one", "\x1b[0X", {2, 1}, {"0123456789", "ab defghij", "ABCDEFGHIJ", "klmnopqrst", "KLMNOPQRST"}},
        {"ECH past the end", "\x1b[99X", {2, 1}, {"0123456789", "ab", "ABCDEFGHIJ", "klmnopqrst", "KLMNOPQRST"}},
        {"ECH ignores the margins", "\x1b[5X", {4, 1}, {"0123456789", "abcd     j", "ABCDEFGHIJ", "klmnopqrst", "KLMNOPQRST"}, 0, 4, 2, 5},
    });
}

TEST(EditErase, EraseInDisplayClearsWrapFlagsAtItsEdges)
{
    auto terminal = makeTerminal(10, 5);
    const auto wrapAll = [&] {
        for (int row = 0; row < 5; ++row) screenLineObject(*terminal, row).setIsWrapped(true);
    };
    wrapAll();
    moveTo(*terminal, 3, 1);
    feed(*terminal, "\x1b[J");
    EXPECT_TRUE(screenLineObject(*terminal, 1).isWrapped()); // not at column 0: kept
    EXPECT_FALSE(screenLineObject(*terminal, 2).isWrapped());
    screenLineObject(*terminal, 1).setIsWrapped(true);
    moveTo(*terminal, 0, 1);
    feed(*terminal, "\x1b[J");
    EXPECT_FALSE(screenLineObject(*terminal, 1).isWrapped());
    wrapAll();
    moveTo(*terminal, 9, 2); // last column: the next row no longer continues it
    feed(*terminal, "\x1b[1J");
    EXPECT_FALSE(screenLineObject(*terminal, 2).isWrapped());
    EXPECT_FALSE(screenLineObject(*terminal, 3).isWrapped());
    EXPECT_TRUE(screenLineObject(*terminal, 4).isWrapped());
    screenLineObject(*terminal, 3).setIsWrapped(true);
    moveTo(*terminal, 5, 2);
    feed(*terminal, "\x1b[1J");
    EXPECT_TRUE(screenLineObject(*terminal, 3).isWrapped());
}

TEST(EditErase, EraseScrollbackDropsTheHistoryAndReturnsTheView)
{
    TerminalOptions options = TerminalFixture::sizedOptions(10, 5);
    options.scrollback = 500;
    Terminal terminal(nullptr, options);
    feed(terminal, std::string(104, '\n'));
    putRow(terminal, 0, "top");
    Buffer& screen = terminal.buffer();
    ASSERT_EQ(screen.yBase(), 100);
    screen.setYDisp(50);
    terminal.clearUpdateRange();
    feed(terminal, "\x1b[3J");
    EXPECT_EQ(screen.lines().count(), 5);
    EXPECT_EQ(screen.yBase(), 0);
    EXPECT_EQ(screen.yDisp(), 0);
    EXPECT_EQ(screen.linesTop, 0);
    EXPECT_EQ(screenLines(terminal), (Rows{"top", "", "", "", ""}));
    EXPECT_EQ(terminal.getUpdateRange(), (UpdateRange{0, 5}));
}

TEST(EditErase, ErasedCellsTakeTheBackgroundButNotTheForegroundOrStyle)
{
    const std::vector<std::pair<const char*, CursorPosition>> erasing = {
        {"\x1b[J", {3, 1}}, {"\x1b[K", {3, 1}}, {"\x1b[X", {3, 1}}, {"\x1b[@", {3, 1}},
        {"\x1b[P", {3, 1}}, {"\x1b[L", {3, 1}}, {"\x1b" "D", {3, 4}},
    };
    for (const auto& [input, start] : erasing) {
        SCOPED_TRACE(input + 1);
        auto terminal = makeTerminal(10, 5);
        putRows(*terminal, sample);
        feed(*terminal, "\x1b[1;31;48;2;1;2;3m");
        moveTo(*terminal, start.x, start.y);
        feed(*terminal, input);
        // The first erased (empty) cell on the screen.
        std::optional<CharData> erased;
        for (int row = 0; row < 5 && !erased; ++row)
            for (const CharData& cell : screenLineObject(*terminal, row).cells())
                if (cell.code == 0 && !erased) erased = cell;
        ASSERT_TRUE(erased.has_value());
        EXPECT_EQ(erased->attribute, (Attribute{Attribute::Color::defaultColor(), Attribute::Color::trueColor(1, 2, 3), CharacterStyle{}, UnderlineStyle::none, std::nullopt}));
    }
}

TEST(EditCharacters, InsertAndDeleteCharacters)
{
    runEdits({
        {"ICH 2", "\x1b[2@", {3, 1}, {"0123456789", "abc  defgh", "ABCDEFGHIJ", "klmnopqrst", "KLMNOPQRST"}},
        {"ICH past the end", "\x1b[99@", {3, 1}, {"0123456789", "abc", "ABCDEFGHIJ", "klmnopqrst", "KLMNOPQRST"}},
        {"ICH inside the margins", "\x1b[@", {3, 1}, {"0123456789", "abc deghij", "ABCDEFGHIJ", "klmnopqrst", "KLMNOPQRST"}, 0, 4, 2, 5},
        {"ICH outside the margins", "\x1b[@", {7, 1}, {}, 0, 4, 2, 5},
        // At the pending-wrap column the cursor stands on the last column.
        {"ICH at the pending-wrap column", "\x1b[@", {10, 1}, {"0123456789", "abcdefghi", "ABCDEFGHIJ", "klmnopqrst", "KLMNOPQRST"}},
        {"DCH 2", "\x1b[2P", {3, 1}, {"0123456789", "abcfghij", "ABCDEFGHIJ", "klmnopqrst", "KLMNOPQRST"}},
        {"DCH inside the margins", "\x1b[P", {3, 1}, {"0123456789", "abcef ghij", "ABCDEFGHIJ", "klmnopqrst", "KLMNOPQRST"}, 0, 4, 2, 5},
        {"DCH cut at the right margin", "\x1b[5P", {4, 1}, {"0123456789", "abcd  ghij", "ABCDEFGHIJ", "klmnopqrst", "KLMNOPQRST"}, 0, 4, 2, 5},
        {"DCH outside the margins", "\x1b[P", {7, 1}, {}, 0, 4, 2, 5},
        {"DCH at the pending-wrap column", "\x1b[P", {10, 1}, {}},
    });
}

// Inside the region and the margins, IL, DL, SU and SD are checked against a one-line-per-round
// reference on random screens below.
TEST(EditLines, InsertAndDeleteLinesOutsideTheRegionOrMarginsDoNothing)
{
    runEdits({
        {"IL below the region", "\x1b[L", {0, 4}, {}, 1, 3},
        {"IL outside the margins", "\x1b[L", {7, 1}, {}, 0, 4, 2, 5},
        {"DL below the region with margins", "\x1b[M", {3, 4}, {}, 1, 3, 2, 5},
        {"DL outside the margins", "\x1b[M", {7, 1}, {}, 0, 4, 2, 5},
    });
}

TEST(EditLines, InsertAndDeleteLinesClearTheWrapFlagsAtTheSeams)
{
    auto terminal = makeTerminal(10, 6);
    terminal->buffer().setScrollBottom(3);
    const auto wrapAll = [&] {
        for (int row = 0; row < 6; ++row)
            screenLineObject(*terminal, row).setIsWrapped(true);
    };
    const auto wrapped = [&] {
        std::vector<bool> flags;
        for (int row = 0; row < 6; ++row)
            flags.push_back(screenLineObject(*terminal, row).isWrapped());
        return flags;
    };
    wrapAll();
    moveTo(*terminal, 0, 1);
    feed(*terminal, "\x1b[L"); // new line 1, old line 1 now at 2, the line below the region
    EXPECT_EQ(wrapped(), (std::vector<bool>{true, false, false, true, false, true}));
    wrapAll();
    feed(*terminal, "\x1b[M"); // line 1 and the line below the region
    EXPECT_EQ(wrapped(), (std::vector<bool>{true, false, true, false, false, true}));
}

TEST(EditScroll, ScrollDownWithMarginsSpanningTheScreenAndItsLookAlike)
{
    runEdits({
        {"SD with margins spanning the screen", "\x1b[T", {3, 2}, {"", "0123456789", "abcdefghij", "ABCDEFGHIJ", "klmnopqrst"}, 0, 4, 0, 9},
        {"CSI > T is not SD", "\x1b[>T", {3, 2}, {}},
    });
}

// Each screen cell as one character: the letter, '.' for an empty default cell and '#'
// for an empty cell with a background.
Rows cellGrid(Terminal& terminal)
{
    Rows grid;
    for (int row = 0; row < terminal.rows(); ++row) {
        std::string text;
        for (int col = 0; col < terminal.cols(); ++col) {
            const CharData& cell = screenLineObject(terminal, row).getCell(col);
            text += cell.code != 0 ? static_cast<char>(cell.code) : cell.attribute.bg.isDefault() ? '.' : '#';
        }
        grid.push_back(text);
    }
    return grid;
}

// The way these scrolls used to work, kept as the reference: one line per round, as many
// rounds as the count (bounded as before).
void referenceShift(Rows& grid, int top, int bottom, int left, int right, int rounds, bool up, char fill)
{
    for (int round = 0; round < rounds; ++round) {
        if (up) {
            for (int row = top; row < bottom; ++row)
                grid[row].replace(left, right - left + 1, grid[row + 1].substr(left, right - left + 1));
            grid[bottom].replace(left, right - left + 1, std::string(right - left + 1, fill));
        } else {
            for (int row = bottom; row > top; --row)
                grid[row].replace(left, right - left + 1, grid[row - 1].substr(left, right - left + 1));
            grid[top].replace(left, right - left + 1, std::string(right - left + 1, fill));
        }
    }
}

TEST(EditScroll, ScrollsAndLineEditsByAnyCountEqualTheOneLinePerRoundResult)
{
    std::mt19937 random(20261206);
    const auto between = [&](int low, int high) { return std::uniform_int_distribution<int>(low, high)(random); };
    const char* const finals = "STLM";
    for (int run = 0; run < 400; ++run) {
        const int cols = between(2, 16);
        const int rows = between(1, 12);
        auto terminal = makeTerminal(cols, rows);
        Rows text;
        for (int row = 0; row < rows; ++row) {
            text.emplace_back();
            for (int col = 0; col < cols; ++col)
                text.back() += static_cast<char>('a' + between(0, 25));
        }
        putRows(*terminal, text);
        const int top = between(0, rows - 1);
        const int bottom = between(top, rows - 1);
        setRegion(*terminal, top, bottom);
        const bool margins = between(0, 3) != 0;
        const int left = margins ? between(0, cols - 1) : 0;
        const int right = margins ? between(left, cols - 1) : cols - 1;
        if (margins)
            setMargins(*terminal, left, right);
        // IL and DL act from the cursor row, inside the region and the margins.
        const int y = between(top, bottom);
        const int x = between(left, right);
        moveTo(*terminal, x, y);
        feed(*terminal, "\x1b[44m");
        const char final = finals[between(0, 3)];
        const int count = between(0, 3) == 0 ? between(100, 70000) : between(0, 2 * rows);
        Rows expected = cellGrid(*terminal);
        const int n = std::max(count, 1);
        const int from = final == 'L' || final == 'M' ? y : top;
        const bool up = final == 'S' || final == 'M';
        // SU and SD leave default blanks, IL and DL blanks of the current background.
        referenceShift(expected, from, bottom, left, right, std::min(n, bottom - from + 1), up,
                       final == 'S' || final == 'T' ? '.' : '#');
        const std::string input = "\x1b[" + std::to_string(count) + final;
        feed(*terminal, input);
        ASSERT_EQ(cellGrid(*terminal), expected)
            << "CSI " << count << final << " on " << cols << "x" << rows << ", region " << top << ".." << bottom
            << (margins ? ", margins " + std::to_string(left) + ".." + std::to_string(right) : std::string())
            << ", cursor row " << y;
        ASSERT_EQ(cursor(*terminal), (CursorPosition{x, y})) << "CSI " << count << final;
    }
}

struct RepeatCase { const char* name; const char* input; Rows screen; CursorPosition end; };

TEST(EditRepeat, RepeatsTheCellBeforeTheCursorLikePrintedText)
{
    const std::vector<RepeatCase> cases = {
        {"REP 3 after one letter", "a\x1b[3b", {"aaaa", "", ""}, {4, 0}},
        {"REP 0 repeats once", "a\x1b[0b", {"aa", "", ""}, {2, 0}},
        {"REP wraps at the right edge", "abcdefghi\x1b[3b", {"abcdefghii", "ii", ""}, {2, 1}},
        {"REP at column 0 writes empty cells", "\x1b[3b", {"", "", ""}, {3, 0}},
        {"REP after a wide character repeats it", "\xe4\xb8\xad\x1b[2b", {"\xe4\xb8\xad\xe4\xb8\xad\xe4\xb8\xad", "", ""}, {6, 0}},
        {"REP after a wide character at the edge wraps it whole", "abcdefg\xe4\xb8\xad\x1b[b", {"abcdefg\xe4\xb8\xad", "\xe4\xb8\xad", ""}, {2, 1}},
    };
    for (const RepeatCase& c : cases) {
        SCOPED_TRACE(c.name);
        auto terminal = makeTerminal(10, 3);
        feed(*terminal, c.input);
        EXPECT_EQ(screenLines(*terminal), c.screen);
        EXPECT_EQ(cursor(*terminal), c.end);
    }
}

TEST(EditColumns, DeleteColumns)
{
    runEdits({
        {"DECDC", "\x1b['~", {3, 1}, {"0123456789", "abcefghij", "ABCEFGHIJ", "klmnopqrst", "KLMNOPQRST"}, 1, 2},
        {"DECDC inside the margins", "\x1b[2'~", {3, 1}, {"0123456789", "abcf  ghij", "ABCF  GHIJ", "klmnopqrst", "KLMNOPQRST"}, 1, 2, 2, 5},
        {"DECDC past the margin", "\x1b[9'~", {3, 1}, {"0123456789", "abc   ghij", "ABC   GHIJ", "klmnopqrst", "KLMNOPQRST"}, 1, 2, 2, 5},
        {"DECDC outside the region", "\x1b['~", {3, 3}, {}, 1, 2},
        {"DECDC outside the margins", "\x1b['~", {7, 1}, {}, 1, 2, 2, 5},
    });
}

TEST(EditColumns, DeletedColumnsAreFilledWithSpacesAndUnwrapTheRows)
{
    auto terminal = makeTerminal(10, 5);
    putRows(*terminal, sample);
    screenLineObject(*terminal, 1).setIsWrapped(true);
    feed(*terminal, "\x1b[45m");
    moveTo(*terminal, 3, 1);
    feed(*terminal, "\x1b['~");
    const CharData last = screenLineObject(*terminal, 1).getCell(9);
    EXPECT_EQ(last.code, 0x20);
    EXPECT_EQ(last.attribute.bg, Attribute::Color::ansi256(5));
    EXPECT_FALSE(screenLineObject(*terminal, 1).isWrapped());
}

} // namespace
} // namespace corvantix
