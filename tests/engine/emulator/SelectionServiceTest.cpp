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
        selection->selectWordAt(c.col, c.row, *terminal->buffer);
        EXPECT_TRUE(selection->active() && selection->start == c.start && selection->end == c.end)
            << c.name << ": " << ::testing::PrintToString(selection->start) << " to "
            << ::testing::PrintToString(selection->end);
    }
}

} // namespace
} // namespace corvantix
