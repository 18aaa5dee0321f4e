// Double-click selection over a real terminal: words with their punctuation, runs of blanks,
// and bracketed spans matched across rows.
#include "emulator/SelectionService.h"

#include "TerminalTestSupport.h"

#include <memory>
#include <ostream>

namespace corvantix {

void PrintTo(const Position& position, std::ostream* out) { *out << "(" << position.col << ", " << position.row << ")"; }

namespace {

TEST(SelectionService, DoubleClickSelectsTheWordRunOrBracketedSpan)
{
    // Row 0: a token with word punctuation, a run of three spaces, a call with brackets.
    // Row 1: an unmatched opener; rows 2 and 3: a span that closes on the next row.
    struct Case { const char* name; int col; int row; Position start; Position end; };
    const Case cases[] = {
        {"letter of a dotted token", 1, 0, {0, 0}, {13, 0}},
        {"the dot alone", 3, 0, {3, 0}, {3, 0}},
        {"run of spaces", 14, 0, {13, 0}, {16, 0}},
        {"opening parenthesis", 17, 0, {17, 0}, {24, 0}},
        {"closing parenthesis", 23, 0, {17, 0}, {24, 0}},
        {"inner bracket", 19, 0, {19, 0}, {22, 0}},
        {"unmatched opener", 0, 1, {0, 1}, {0, 1}},
        {"brace closing on the next row", 0, 2, {0, 2}, {3, 3}},
        {"brace opened on the row above", 2, 3, {0, 2}, {3, 3}},
        {"column past the edge is the last one", 99, 0, {26, 0}, {30, 0}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        std::unique_ptr<Terminal> terminal = makeTerminal(30, 6);
        feed(*terminal, "foo.bar-baz_1   f(a[b]c) x\r\n(open\r\n{ab\r\ncd} z");
        auto selection = std::make_shared<SelectionService>(terminal.get());
        terminal->registerSelection(selection);
        selection->selectWordAt(c.col, c.row, terminal->buffer());
        EXPECT_TRUE(selection->active() && selection->start == c.start && selection->end == c.end)
            << c.name << ": " << ::testing::PrintToString(selection->start) << " to "
            << ::testing::PrintToString(selection->end);
    }
}

// Both halves of a wide character read as that character: a double-click on either half of
// any letter selects the whole word, and a wide letter next to a narrow one joins its word.
TEST(SelectionService, DoubleClickOnEitherHalfOfAWideCharacterSelectsItsWord)
{
    // "日本語 ok 漢x": 日 0-1, 本 2-3, 語 4-5, space 6, "ok" 7-8, space 9, 漢 10-11, x 12.
    struct Case { int col; Position start; Position end; const char* text; };
    const Case cases[] = {
        {0, {0, 0}, {6, 0}, "日本語"},  {1, {0, 0}, {6, 0}, "日本語"}, {3, {0, 0}, {6, 0}, "日本語"},
        {5, {0, 0}, {6, 0}, "日本語"},  {7, {7, 0}, {9, 0}, "ok"},     {11, {10, 0}, {13, 0}, "漢x"},
        {12, {10, 0}, {13, 0}, "漢x"},
    };
    std::unique_ptr<Terminal> terminal = makeTerminal(20, 3);
    feed(*terminal, "日本語 ok 漢x");
    auto selection = std::make_shared<SelectionService>(terminal.get());
    terminal->registerSelection(selection);
    for (const Case& c : cases) {
        SCOPED_TRACE("column " + std::to_string(c.col));
        selection->selectWordAt(c.col, 0, terminal->buffer());
        EXPECT_EQ(selection->start, c.start);
        EXPECT_EQ(selection->end, c.end);
        EXPECT_EQ(selection->getSelectedText(), c.text);
    }
}

// A search match shown by setRange whose exclusive end is the row after the last line ends
// at the end of that line: the match is selected, not the cells before it.
TEST(SelectionService, ARangeEndingPastTheLastLineEndsAtItsLastColumn)
{
    struct Case { const char* name; int startCol, startRow, endCol, endRow; Position start, end; const char* text; };
    const Case cases[] = {
        {"match in the last cells of the last row", 7, 2, 0, 3, {7, 2}, {10, 2}, "END"},
        {"match inside the last row", 2, 2, 5, 2, {2, 2}, {5, 2}, "xxx"},
        {"match ending on an earlier row's edge", 8, 0, 0, 1, {8, 0}, {0, 1}, "ab"},
    };
    std::unique_ptr<Terminal> terminal = makeTerminal(10, 3);
    feed(*terminal, "xxxxxxxxab\r\n\r\nxxxxxxxEND");
    auto selection = std::make_shared<SelectionService>(terminal.get());
    terminal->registerSelection(selection);
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        selection->setRange(c.startCol, c.startRow, c.endCol, c.endRow);
        EXPECT_EQ(selection->start, c.start);
        EXPECT_EQ(selection->end, c.end);
        EXPECT_TRUE(selection->hasSelectionRange);
        EXPECT_EQ(selection->getSelectedText(), c.text);
    }
}

} // namespace
} // namespace corvantix
