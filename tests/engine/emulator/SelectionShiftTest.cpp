// Registered selections follow their text when lines scroll, are inserted or deleted, and
// are cleared when the text they cover is moved apart or away.
#include "emulator/SelectionService.h"
#include "TerminalTestSupport.h"

namespace corvantix {
namespace {

// The rows a selection covers after an operation; none when it was cleared.
struct Rows {
    int start = 0;
    int end = 0;
    friend bool operator==(const Rows&, const Rows&) = default;
};

std::optional<Rows> rowsOf(const SelectionService& selection)
{
    if (!selection.active_) return std::nullopt;
    return Rows{selection.start.row, selection.end.row};
}

struct ShiftCase {
    const char* name;
    const char* input;
    CursorPosition cursor;
    Rows selected;               // absolute line rows, columns 1..3
    std::optional<Rows> after;   // none: cleared
    int top = 0, bottom = 9;     // scroll region of the 10-row screen
    int left = -1, right = -1;   // margins; -1: margin mode off
    bool alternate = false;      // on the alternate screen (its ring is always full)
};

// An active selection from `start` to `end`, registered with the terminal.
std::shared_ptr<SelectionService> select(Terminal& terminal, Position start, Position end)
{
    auto selection = std::make_shared<SelectionService>(&terminal);
    selection->active_ = true;
    selection->hasSelectionRange = true;
    selection->start = start;
    selection->end = end;
    terminal.registerSelection(selection);
    return selection;
}

TerminalOptions withHistory(int scrollback)
{
    TerminalOptions options = TerminalFixture::sizedOptions(10, 5);
    options.scrollback = scrollback;
    return options;
}

TEST(SelectionShift, SelectionsFollowTheirLinesOrAreCleared)
{
    const std::vector<ShiftCase> cases = {
        // Scrolling a screen with room in the scrollback keeps every line number.
        {"LF at the bottom, ring not full", "\n", {0, 9}, {4, 5}, Rows{4, 5}},
        // With a full ring every line moves up by one.
        {"LF at the bottom, ring full", "\n", {0, 9}, {4, 5}, Rows{3, 4}, 0, 9, -1, -1, true},
        {"LF at the bottom, ring full, top row selected", "\n", {0, 9}, {0, 1}, std::nullopt, 0, 9, -1, -1, true},
        // An inner region discards its top line.
        {"LF at the bottom of a region", "\n", {0, 6}, {4, 5}, Rows{3, 4}, 2, 6},
        {"LF at the bottom of a region, across its top", "\n", {0, 6}, {1, 3}, std::nullopt, 2, 6},
        {"RI at the top", "\x1b" "M", {0, 2}, {4, 5}, Rows{5, 6}, 2, 6},
        {"IL", "\x1b[2L", {0, 3}, {4, 5}, Rows{6, 7}},
        {"DL", "\x1b[2M", {0, 3}, {6, 7}, Rows{4, 5}},
        {"DL, deleted", "\x1b[2M", {0, 3}, {3, 4}, std::nullopt},
        {"SU", "\x1b[S", {0, 0}, {4, 5}, Rows{3, 4}},
        {"SD", "\x1b[T", {0, 0}, {4, 5}, Rows{5, 6}},
        // With margins the rectangle moves: overlapping selections are cleared.
        {"LF with margins", "\n", {3, 9}, {4, 5}, std::nullopt, 0, 9, 2, 5},
        {"SD with margins, one row right of them", "\x1b[T", {3, 3}, {4, 4}, Rows{4, 4}, 0, 9, 5, 8},
    };
    for (const ShiftCase& c : cases) {
        SCOPED_TRACE(c.name);
        test::RecordingDelegate delegate;
        auto terminal = makeTerminal(10, 10, &delegate);
        if (c.alternate)
            feed(*terminal, "\x1b[?47h");
        terminal->buffer().setScrollTop(c.top);
        terminal->buffer().setScrollBottom(c.bottom);
        if (c.left >= 0)
            setMargins(*terminal, c.left, c.right);
        moveTo(*terminal, c.cursor.x, c.cursor.y);
        auto selection = select(*terminal, {1, c.selected.start}, {3, c.selected.end});
        delegate.clear();
        feed(*terminal, c.input);
        EXPECT_EQ(rowsOf(*selection), c.after);
        const bool changed = c.after != std::optional<Rows>(c.selected);
        EXPECT_EQ(delegate.count("selectionChanged"), changed ? 1 : 0);
        if (!c.after) {
            EXPECT_FALSE(selection->hasSelectionRange);
        } else {
            EXPECT_EQ(selection->start.col, 1);
            EXPECT_EQ(selection->end.col, 3);
        }
    }
}

TEST(SelectionShift, ScrollingAFullRingWithHistoryMovesTheSelectionWithItsText)
{
    Terminal terminal(nullptr, withHistory(2));
    feed(terminal, "\n\n\n\n\n\n"); // ring of 7 lines full
    ASSERT_EQ(terminal.buffer().lines().count(), 7);
    auto selection = select(terminal, {0, 5}, {4, 6});
    feed(terminal, "\n");
    EXPECT_EQ(terminal.buffer().linesTop, 1);
    EXPECT_EQ(rowsOf(*selection), (Rows{4, 5}));
}

TEST(SelectionShift, EraseScrollbackMovesScreenSelectionsAndDropsHistoryOnes)
{
    Terminal terminal(nullptr, withHistory(100));
    feed(terminal, std::string(24, '\n')); // 20 lines of history
    ASSERT_EQ(terminal.buffer().yBase(), 20);
    auto onScreen = select(terminal, {0, 21}, {4, 22});
    auto inHistory = select(terminal, {0, 3}, {4, 4});
    feed(terminal, "\x1b[3J");
    EXPECT_EQ(rowsOf(*onScreen), (Rows{1, 2}));
    EXPECT_EQ(rowsOf(*inHistory), std::nullopt);
}

} // namespace
} // namespace corvantix
