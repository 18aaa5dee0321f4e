// Wide characters split by a write, an erase, a shift of cells or a resize: the other half
// becomes a blank, so no lone first half or placeholder stays on the screen. Also HT at the
// pending-wrap column and the right margin after a widening.
#include "TerminalTestSupport.h"

namespace corvantix {
namespace {

// A screen row cell by cell, trailing blanks trimmed: an empty cell is a space, a wide
// character with its placeholder is its character, and a lone half shows as '!' (after the
// character for a first half without placeholder), so a broken pair can never match.
std::string cellRow(const Terminal& terminal, int row)
{
    const BufferLine& line = *terminal.buffer().lines().peek(terminal.buffer().yBase() + row);
    const std::vector<CharData> cells = line.cells();
    std::string out;
    for (std::size_t col = 0; col < cells.size(); ++col) {
        const CharData& cell = cells[col];
        if (cell.width == 0) {
            if (col == 0 || cells[col - 1].width != 2)
                out += '!';
            continue;
        }
        if (cell.code == 0)
            out += ' ';
        else
            for (const char32_t c : terminal.getCharacter(cell.code))
                appendUtf8(out, c);
        if (cell.width == 2 && (col + 1 == cells.size() || cells[col + 1].width != 0))
            out += '!';
    }
    out.erase(out.find_last_not_of(' ') + 1);
    return out;
}

struct SplitCase {
    const char* name;
    std::string input;
    std::vector<std::string> rows; // the first rows of a 10x4 screen
    std::optional<int> narrowTo;   // columns of a resize after the input
};

SplitCase split(const char* name, std::string input, std::vector<std::string> rows,
                std::optional<int> narrowTo = std::nullopt)
{
    return SplitCase{name, std::move(input), std::move(rows), narrowTo};
}

void PrintTo(const SplitCase& c, std::ostream* out) { *out << c.name; }

class WideSplit : public ::testing::TestWithParam<SplitCase> {};

TEST_P(WideSplit, LeavesNoLoneHalf)
{
    const SplitCase& c = GetParam();
    const auto terminal = makeTerminal(10, 4);
    feed(*terminal, c.input);
    if (c.narrowTo)
        terminal->resize(*c.narrowTo, 4);
    std::vector<std::string> rows;
    for (std::size_t row = 0; row < c.rows.size(); ++row)
        rows.push_back(cellRow(*terminal, static_cast<int>(row)));
    EXPECT_EQ(rows, c.rows);
}

// 中 文 字 漢 are wide; CSI n G puts the cursor on column n (1-based).
INSTANTIATE_TEST_SUITE_P(
    Screen, WideSplit,
    ::testing::Values(
        // Printing.
        split("NarrowOverPlaceholderAfterBackspace", "中文\bX", {"中 X"}),
        split("NarrowInsideARow", "a中b\x1b[2GX", {"aX b"}),
        split("WideOverItsOwnColumns", "中文\x1b[1G字", {"字文"}),
        split("WideAcrossTwoWides", "中文x\x1b[2G字", {" 字 x"}),
        split("PlainRunStartingOnAPlaceholder", "中文zz\x1b[2Gab", {" ab zz"}),
        split("PlainRunEndingOnALead", "中文yy\x1b[1Gabc", {"abc yy"}),
        split("MappedRunOnAPlaceholder", "中文z\x1b(0\x1b[2Gq", {" ─文z"}),
        split("RepeatEndingOnALead", "中文yy\x1b[1Ga\x1b[2b", {"aaa yy"}),
        split("WideWithNoRoomBetweenTheMargins", "\x1b[?69h\x1b[10s\x1b[1;10H中", {"", ""}),
        split("InsertModeInsideAWide", "中文\x1b[2G\x1b[4hX", {" X 文"}),
        split("TextPresentationDropsThePlaceholder", "\xe2\x8c\x9a\xef\xb8\x8e\x1b[3Gz", {"\xe2\x8c\x9a\xef\xb8\x8e z"}),
        split("EmojiPresentationOverAWide", "x中y\x1b[1G\xe2\x9d\xa4\xef\xb8\x8f", {"\xe2\x9d\xa4\xef\xb8\x8f y"}),
        // Inserting and deleting characters and columns.
        split("InsertCharacterOnAPlaceholder", "中文\x1b[2G\x1b[@", {"   文"}),
        split("InsertCharacterPushesAWideOffTheLine", "abcdefgh中\x1b[1G\x1b[@", {" abcdefgh"}),
        split("InsertCharacterMovesAWideThatStraddlesTheMargin", "abcde中y\x1b[?69h\x1b[1;6s\x1b[1;1H\x1b[@", {" abcde y"}),
        split("DeleteCharacterOnAPlaceholder", "中文yy\x1b[2G\x1b[P", {" 文yy"}),
        split("DeleteCharacterPullsAWideFromAcrossTheMargin", "abcde中y\x1b[?69h\x1b[1;6s\x1b[1;1H\x1b[P", {"bcde   y"}),
        split("InsertColumnOnAPlaceholder", "中文\x1b[2G\x1b['}", {"   文"}),
        // Erasing.
        split("EraseCharacterOnAPlaceholder", "中文\x1b[2G\x1b[X", {"  文"}),
        split("EraseLineLeftEndingOnALead", "中文yy\x1b[3G\x1b[1K", {"    yy"}),
        split("EraseLineRightFromAPlaceholder", "中文yy\x1b[4G\x1b[K", {"中"}),
        split("EraseDisplayBelowFromAPlaceholder", "中文yy\r\nzz\x1b[1;4H\x1b[J", {"中", ""}),
        split("EraseRectangle", "中文字yy\x1b[1;2;1;3$z", {"    字yy"}),
        split("FillRectangle", "中文字yy\x1b[35;1;2;1;3$x", {" ## 字yy"}),
        split("CopyRectangleStartingOnAPlaceholder", "中文\x1b[1;2;1;4;1;2;1;1$v", {"中文", " 文"}),
        // Scrolling inside left and right margins.
        split("ScrollUpInsideMargins", "abcdef\r\n中文\x1b[?69h\x1b[2;10s\x1b[S", {"a 文", ""}),
        // Resize.
        split("NarrowingCutsTheCursorLine", "abcdefgh中", {"abcdefgh"}, 9)),
    [](const ::testing::TestParamInfo<SplitCase>& info) { return std::string(info.param.name); });

TEST(WideSplit, TheBlankKeepsTheAttributeOfTheWideCharacter)
{
    const auto terminal = makeTerminal(10, 2);
    feed(*terminal, "\x1b[41m中\x1b[0m");
    const Attribute wide = terminal->buffer().lines().peek(0)->getCell(0).attribute;
    feed(*terminal, "\rX");
    const CharData& blank = terminal->buffer().lines().peek(0)->getCell(1);
    EXPECT_EQ(blank.code, 0);
    EXPECT_EQ(blank.width, 1);
    EXPECT_EQ(blank.attribute, wide);
    EXPECT_NE(blank.attribute, terminal->curAttr());
}

struct TabCase { const char* name; std::string input; std::vector<std::string> rows; CursorPosition cursor; };

void PrintTo(const TabCase& c, std::ostream* out) { *out << c.name; }

class TabAtTheEdge : public ::testing::TestWithParam<TabCase> {};

TEST_P(TabAtTheEdge, KeepsThePendingWrap)
{
    const TabCase& c = GetParam();
    const auto terminal = makeTerminal(10, 3);
    feed(*terminal, c.input);
    std::vector<std::string> rows = screenLines(*terminal);
    rows.resize(c.rows.size());
    EXPECT_EQ(rows, c.rows);
    EXPECT_EQ(cursor(*terminal), c.cursor);
}

INSTANTIATE_TEST_SUITE_P(
    Screen, TabAtTheEdge,
    ::testing::Values(TabCase{"FullFieldThenTab", "0000000000\tX", {"0000000000", "X"}, {1, 1}},
                      TabCase{"ForwardTabCommand", "0000000000\x1b[2IX", {"0000000000", "X"}, {1, 1}},
                      TabCase{"AtTheRightMargin", "\x1b[?69h\x1b[1;5sabcde\tX", {"abcde", "X"}, {1, 1}},
                      TabCase{"BeforeTheEdgeStillMoves", "abc\tX", {"abc     X"}, {9, 0}}),
    [](const ::testing::TestParamInfo<TabCase>& info) { return std::string(info.param.name); });

TEST(RightMargin, FollowsTheLastColumnWhenTheScreenWidensUnlessInside)
{
    TerminalFixture f(10, 3);
    Terminal& terminal = *f.terminal;
    terminal.resize(20, 3);
    feed(terminal, "\x1b[?69h");
    EXPECT_EQ(f.reply("\x1bP$qs\x1b\\"), "\x1bP1$r1;20s\x1b\\");
    // Writing wraps at the new width, not the old one.
    feed(terminal, "\x1b[H0123456789abcdefghijXY");
    EXPECT_EQ(screenLine(terminal, 0), "0123456789abcdefghij");
    EXPECT_EQ(screenLine(terminal, 1), "XY");
    // A margin inside the screen stays where it was.
    feed(terminal, "\x1b[2;6s");
    terminal.resize(30, 3);
    EXPECT_EQ(f.reply("\x1bP$qs\x1b\\"), "\x1bP1$r2;6s\x1b\\");
}

} // namespace
} // namespace corvantix
