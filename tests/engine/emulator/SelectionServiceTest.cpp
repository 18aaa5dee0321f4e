// The selection service over a real terminal: word, bracket and row selection, the ways a
// selection grows, its text, and how it follows line shifts.
#include "emulator/SelectionService.h"
#include "emulator/Terminal.h"
#include "RecordingDelegate.h"
#include "TerminalTestSupport.h"

#include <gtest/gtest.h>

#include <memory>
#include <ostream>
#include <string>
#include <vector>

namespace corvantix {
namespace {

struct Span {
    Position start;
    Position end;
    friend bool operator==(const Span&, const Span&) = default;
    friend std::ostream& operator<<(std::ostream& out, const Span& s)
    {
        return out << "(" << s.start.col << "," << s.start.row << ")-(" << s.end.col << "," << s.end.row << ")";
    }
};

Span spanOf(const SelectionService& s) { return Span{s.start, s.end}; }

struct Fixture {
    explicit Fixture(std::string_view text, int cols = 30, int rows = 6)
    {
        terminal = makeTerminal(cols, rows, &delegate);
        feed(*terminal, text);
        selection = std::make_shared<SelectionService>(terminal.get());
        terminal->registerSelection(selection);
        delegate.clear();
    }
    test::RecordingDelegate delegate;
    std::unique_ptr<Terminal> terminal;
    std::shared_ptr<SelectionService> selection;
};

struct WordCase { const char* name; int col; int row; Span expected; };

void PrintTo(const WordCase& c, std::ostream* out) { *out << c.name; }

class DoubleClick : public ::testing::TestWithParam<WordCase> {};

TEST_P(DoubleClick, SelectsTheWordRunOrBracketedSpan)
{
    // Row 0: a token with word punctuation, a run of three spaces, a call with brackets.
    // Row 1: an unmatched opener; row 2: a span that closes on the next row.
    Fixture f("foo.bar-baz_1   f(a[b]c) x\r\n(open\r\n{ab\r\ncd} z");
    const WordCase& c = GetParam();
    f.selection->selectWordAt(c.col, c.row, *f.terminal->buffer);
    EXPECT_EQ(spanOf(*f.selection), c.expected);
    EXPECT_TRUE(f.selection->active());
    EXPECT_EQ(f.selection->hasSelectionRange, c.expected.start != c.expected.end);
    EXPECT_EQ(f.selection->selectionMode, SelectionMode::word);
    EXPECT_EQ(f.delegate.count("selectionChanged"), 1);
}

INSTANTIATE_TEST_SUITE_P(
    Cells, DoubleClick,
    ::testing::Values(WordCase{"letter of a dotted token", 1, 0, {{0, 0}, {13, 0}}},
                      WordCase{"the dot alone", 3, 0, {{3, 0}, {3, 0}}},
                      WordCase{"run of spaces", 14, 0, {{13, 0}, {16, 0}}},
                      WordCase{"opening parenthesis", 17, 0, {{17, 0}, {24, 0}}},
                      WordCase{"inner bracket", 19, 0, {{19, 0}, {22, 0}}},
                      WordCase{"unmatched opener", 0, 1, {{0, 1}, {0, 1}}},
                      WordCase{"brace closing on the next row", 0, 2, {{0, 2}, {3, 3}}},
                      WordCase{"brace opened on the row above", 2, 3, {{0, 2}, {3, 3}}},
                      WordCase{"empty cells after the text", 28, 3, {{5, 3}, {30, 3}}},
                      WordCase{"column past the edge is the last one", 99, 0, {{26, 0}, {30, 0}}}),
    NameOfCase());

TEST(SelectionService, WordDragSnapsToWholeWords)
{
    Fixture f("alpha beta gamma");
    f.selection->selectWordAt(7, 0, *f.terminal->buffer); // beta
    f.selection->extendSelection(12, 0);                  // inside gamma
    EXPECT_EQ(spanOf(*f.selection), (Span{{6, 0}, {16, 0}}));
    f.selection->extendSelection(8, 0); // back inside beta: exactly beta
    EXPECT_EQ(spanOf(*f.selection), (Span{{6, 0}, {10, 0}}));
    f.selection->extendSelection(2, 0); // inside alpha: from its start to beta's end
    EXPECT_EQ(spanOf(*f.selection), (Span{{0, 0}, {10, 0}}));
    EXPECT_EQ(f.selection->getSelectedText(), "alpha beta");
}

TEST(SelectionService, PivotExtensionOrdersTheEnds)
{
    Fixture f("0123456789");
    f.selection->extendFromPivot(3, 0);
    EXPECT_FALSE(f.selection->active()) << "nothing without a pivot";
    f.selection->beginSelection(5, 0);
    f.selection->pivot = Position{5, 0};
    f.selection->extendFromPivot(2, 0);
    EXPECT_EQ(spanOf(*f.selection), (Span{{2, 0}, {5, 0}}));
    f.selection->extendFromPivot(8, 0);
    EXPECT_EQ(spanOf(*f.selection), (Span{{5, 0}, {8, 0}}));
    f.selection->setActive(false);
    EXPECT_FALSE(f.selection->pivot.has_value()) << "an inactive selection has no pivot";
}

TEST(SelectionService, TextAndRanges)
{
    TerminalOptions options;
    options.cols = 10;
    options.rows = 4;
    options.scrollback = 6;
    Terminal terminal(nullptr, options);
    feed(terminal, "hello");
    SelectionService selection(&terminal);

    selection.selectAll();
    EXPECT_EQ(spanOf(selection), (Span{{0, 0}, {9, 9}})) << "the ring's capacity, not the lines written";
    EXPECT_EQ(selection.getSelectedText(), "hello");

    selection.start = Position{0, 7};
    selection.end = Position{3, 8};
    EXPECT_EQ(selection.getSelectedText(), "") << "starts below the last line";

    selection.setRange(50, 1, 2, 99);
    EXPECT_EQ(spanOf(selection), (Span{{9, 1}, {2, 3}})) << "clamped to the last column and line";
    EXPECT_EQ(selection.debugDescription(), "[Selection (active=true, start=col=9 row=1 end=col=2 row=3 hasSR=true pivot=nil]");
}

TEST(SelectionService, LineShiftMovesTheAnchorsWithTheText)
{
    Fixture f("", 10, 10);
    f.selection->selectWordAt(0, 4, *f.terminal->buffer);
    f.selection->extendSelection(3, 6);
    f.selection->adjustForLineShift(0, 9, 2);
    EXPECT_TRUE(f.selection->active());
    EXPECT_EQ(f.selection->start.row, 2);
    EXPECT_EQ(f.selection->end.row, 4);
    ASSERT_TRUE(f.selection->wordSelectionAnchor);
    EXPECT_EQ(f.selection->wordSelectionAnchor->start.row, 2);

    f.selection->selectRowAt(1);
    f.selection->adjustForLineShift(0, 9, 2);
    EXPECT_FALSE(f.selection->active()) << "the row left the shifted lines";
    EXPECT_FALSE(f.selection->rowSelectionAnchor.has_value());
    EXPECT_EQ(f.selection->selectionMode, SelectionMode::character);
}

} // namespace
} // namespace corvantix
