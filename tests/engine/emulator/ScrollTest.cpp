// Line feed, index, reverse index, next line, carriage return, backspace and the scrolling
// of the region into the scrollback.
#include "TerminalTestSupport.h"

namespace corvantix {
namespace {

using Rows = std::vector<std::string>;

const Rows letters = {"aaaaaaaaaa", "bbbbbbbbbb", "cccccccccc", "dddddddddd", "eeeeeeeeee"};

TEST(ScrollMoves, LinesMoveAndScrollAsTheRegionAndMarginsSay)
{
    expectScreens(10, 5, letters, {
        {"LF mid-screen", "\n", {3, 1}, {}, 0, 4, -1, -1, CursorPosition{3, 2}},
        {"VT and FF are line feeds", "\x0b\x0c", {3, 1}, {}, 0, 4, -1, -1, CursorPosition{3, 3}},
        {"LF at the bottom scrolls", "\n", {2, 4}, {"bbbbbbbbbb", "cccccccccc", "dddddddddd", "eeeeeeeeee", ""}},
        {"LF at the last row below the region stays", "\n", {0, 4}, {}, 0, 2, -1, -1},
        {"IND at the last row below the region scrolls it", "\x1b" "D", {0, 4},
         {"bbbbbbbbbb", "cccccccccc", "", "dddddddddd", "eeeeeeeeee"}, 0, 2, -1, -1},
        {"LF at the bottom of an inner region", "\n", {0, 3}, {"aaaaaaaaaa", "cccccccccc", "dddddddddd", "", "eeeeeeeeee"}, 1, 3, -1, -1},
        {"RI at the top of an inner region", "\x1b" "M", {5, 1}, {"aaaaaaaaaa", "", "bbbbbbbbbb", "cccccccccc", "eeeeeeeeee"}, 1, 3, -1, -1},
        {"RI at the top of the screen", "\x1b" "M", {0, 0}, {"", "aaaaaaaaaa", "bbbbbbbbbb", "cccccccccc", "dddddddddd"}},
        {"RI above the region moves up", "\x1b" "M", {0, 1}, {}, 2, 4, -1, -1, CursorPosition{0, 0}},
        {"NEL", "\x1b" "E", {5, 1}, {}, 0, 4, -1, -1, CursorPosition{0, 2}},
        {"NEL at the bottom scrolls", "\x1b" "E", {5, 4},
         {"bbbbbbbbbb", "cccccccccc", "dddddddddd", "eeeeeeeeee", ""}, 0, 4, -1, -1, CursorPosition{0, 4}},
        {"LF at the pending-wrap column", "\n", {10, 1}, {}, 0, 4, -1, -1, CursorPosition{9, 2}},
        {"LNM: LF also returns", "\n", {5, 1}, {}, 0, 4, -1, -1, CursorPosition{0, 2}, "\x1b[20h"},
        {"LNM with margins but no origin mode returns to 0", "\n", {3, 1}, {}, 0, 4, 2, 5, CursorPosition{0, 2}, "\x1b[20h"},
        {"CR inside the margins goes to the left margin", "\r", {4, 1}, {}, 0, 4, 2, 5, CursorPosition{2, 1}},
        {"CR left of the margins goes to 0", "\r", {1, 1}, {}, 0, 4, 2, 5, CursorPosition{0, 1}},
        {"BS at column 0 stays", "\b", {0, 1}, {}},
        {"BS at the pending-wrap column", "\b", {10, 1}, {}, 0, 4, -1, -1, CursorPosition{8, 1}},
        {"BS at the left margin stays", "\b", {2, 1}, {}, 0, 4, 2, 5},
        {"BS left of the left margin", "\b", {1, 1}, {}, 0, 4, 2, 5, CursorPosition{0, 1}},
        {"reverse wrap: BS at column 0 to the row above", "\b", {0, 2}, {}, 0, 4, -1, -1, CursorPosition{9, 1}, "\x1b[?45h"},
        {"reverse wrap: BS on the region top to its bottom", "\b", {0, 0}, {}, 0, 4, -1, -1, CursorPosition{9, 4}, "\x1b[?45h"},
        {"reverse wrap: BS at row 0 above the region stays", "\b", {0, 0}, {}, 1, 3, -1, -1, CursorPosition{0, 0}, "\x1b[?45h"},
        {"reverse wrap: BS at the margin wraps to the right margin", "\b", {2, 2}, {}, 0, 4, 2, 5, CursorPosition{5, 1}, "\x1b[?45h"},
        {"reverse wrap: BS at the pending-wrap column", "\b", {10, 1}, {}, 0, 4, -1, -1, CursorPosition{9, 1}, "\x1b[?45h"},
        // Margins 2..5: only those columns of the region move.
        {"LF with margins scrolls the rectangle", "\n", {3, 4}, {"aabbbbaaaa", "bbccccbbbb", "ccddddcccc", "ddeeeedddd", "ee    eeee"}, 0, 4, 2, 5},
        {"LF right of the margins does not scroll", "\n", {7, 4}, {}, 0, 4, 2, 5},
        {"RI with margins scrolls the rectangle down", "\x1b" "M", {3, 0},
         {"aa    aaaa", "bbaaaabbbb", "ccbbbbcccc", "ddccccdddd", "eeddddeeee"}, 0, 4, 2, 5},
        {"RI left of the margins at the top does nothing", "\x1b" "M", {1, 0}, {}, 0, 4, 2, 5},
        {"RI with margins spanning the screen scrolls whole lines", "\x1b" "M", {3, 0},
         {"", "aaaaaaaaaa", "bbbbbbbbbb", "cccccccccc", "dddddddddd"}, 0, 4, 0, 9},
    });
}

TEST(ScrollMoves, LineFeedModeWithOriginAndMarginsReturnsToTheLeftMargin)
{
    auto terminal = makeTerminal(10, 5);
    feed(*terminal, "\x1b[?69h\x1b[3;6s\x1b[?6h\x1b[20h");
    moveTo(*terminal, 4, 1);
    feed(*terminal, "\n");
    EXPECT_EQ(cursor(*terminal), (CursorPosition{2, 2}));
    feed(*terminal, "\x1b" "E");
    EXPECT_EQ(cursor(*terminal), (CursorPosition{2, 3}));
}

TEST(ScrollMoves, ReverseWrapBackspaceClearsTheWrapFlagOfTheLineItLeaves)
{
    auto terminal = makeTerminal(10, 5);
    feed(*terminal, "\x1b[?45h");
    Buffer& screen = terminal->buffer();
    screen.lines()[2]->setIsWrapped(true);
    moveTo(*terminal, 0, 2);
    feed(*terminal, "\b");
    EXPECT_EQ(cursor(*terminal), (CursorPosition{9, 1}));
    EXPECT_FALSE(screen.lines()[2]->isWrapped());
}

TEST(ScrollScrollback, TwoThousandLinesFillTheRingThenRecycleIt)
{
    TerminalOptions options = TerminalFixture::sizedOptions(10, 5);
    options.scrollback = 500;
    Terminal terminal(nullptr, options);
    const BufferLine* firstLine = terminal.buffer().lines()[0].get();
    std::string input;
    for (int i = 0; i < 2000; ++i) input += "y\r\n";
    feed(terminal, input);
    const Buffer& screen = terminal.buffer();
    EXPECT_EQ(std::vector<int>({screen.lines().count(), screen.lines().maxLength(), screen.yBase(), screen.yDisp()}), std::vector<int>({505, 505, 500, 500}));
    // 4 line feeds reach the bottom row, 500 scrolls fill the ring, 1496 recycle it.
    EXPECT_EQ(screen.linesTop, 1496);
    EXPECT_EQ(cursor(terminal), (CursorPosition{0, 4}));
    EXPECT_EQ(screenLines(terminal), (Rows{"y", "y", "y", "y", ""}));
    // The lines are reused, not made anew: the very first line object is still held.
    bool firstLineHeld = false;
    for (int i = 0; i < screen.lines().count(); ++i) firstLineHeld = firstLineHeld || screen.lines().peek(i).get() == firstLine;
    EXPECT_TRUE(firstLineHeld);
    EXPECT_GT(screen.lines().peek(504)->recycleGeneration(), 0u);
}

TEST(ScrollScrollback, ScrollingPushesTheTopLineAndTheViewFollows)
{
    test::RecordingDelegate delegate;
    auto terminal = makeTerminal(10, 5, &delegate);
    putRows(*terminal, letters);
    moveTo(*terminal, 0, 4);
    delegate.clear();
    feed(*terminal, "\n\n");
    const Buffer& screen = terminal->buffer();
    EXPECT_EQ(screen.yBase(), 2);
    EXPECT_EQ(screen.yDisp(), 2);
    EXPECT_EQ(screen.linesTop, 0);
    EXPECT_EQ(scrollbackLines(*terminal), (Rows{"aaaaaaaaaa", "bbbbbbbbbb"}));
    EXPECT_EQ(screenLines(*terminal), (Rows{"cccccccccc", "dddddddddd", "eeeeeeeeee", "", ""}));
    EXPECT_EQ(delegate.events, (std::vector<std::string>{"scrolled(1)", "linefeed", "scrolled(2)", "linefeed"}));
}

TEST(ScrollScrollback, OnlyARegionAtTheTopOfTheNormalScreenFeedsTheScrollback)
{
    // prepare: the region, the screen
    struct Case { const char* name; const char* prepare; int cursorRow; const char* input; Rows history, screen; };
    const std::vector<Case> cases = {
        {"a region at the top ending above the last row", "\x1b[1;3r", 2, "\n", {"aaaaaaaaaa"},
         {"bbbbbbbbbb", "cccccccccc", "", "dddddddddd", "eeeeeeeeee"}},
        {"an inner region discards its top line", "\x1b[2;4r", 3, "\n\n", {}, {"aaaaaaaaaa", "dddddddddd", "", "", "eeeeeeeeee"}},
        {"the alternate screen recycles its lines", "\x1b[?47h", 4, "\n", {}, {"bbbbbbbbbb", "cccccccccc", "dddddddddd", "eeeeeeeeee", ""}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        auto terminal = makeTerminal(10, 5);
        feed(*terminal, c.prepare);
        putRows(*terminal, letters);
        moveTo(*terminal, 0, c.cursorRow);
        feed(*terminal, c.input);
        EXPECT_EQ(scrollbackLines(*terminal), c.history);
        EXPECT_EQ(screenLines(*terminal), c.screen);
        EXPECT_EQ(terminal->buffer().linesTop, 0);
        EXPECT_EQ(terminal->buffer().lines().count(), 5 + static_cast<int>(c.history.size()));
    }
}

TEST(ScrollScrollback, AWholeScreenScrollWithHistoryKeepsTheLineNumberRangeClean)
{
    auto terminal = makeTerminal(10, 5);
    moveTo(*terminal, 0, 4);
    terminal->clearUpdateRange();
    feed(*terminal, "\n");
    EXPECT_EQ(terminal->getUpdateRange(), (UpdateRange{0, 4}));
    EXPECT_EQ(terminal->getScrollInvariantUpdateRange(), std::nullopt);
    setRegion(*terminal, 1, 3);
    moveTo(*terminal, 0, 3);
    terminal->clearUpdateRange();
    feed(*terminal, "\n");
    EXPECT_EQ(terminal->getUpdateRange(), (UpdateRange{1, 3}));
    const int yDisp = terminal->buffer().yDisp();
    EXPECT_EQ(terminal->getScrollInvariantUpdateRange(), (UpdateRange{yDisp + 1, yDisp + 3}));
}

TEST(ScrollCount, EveryLineScrolledIntoARegionIsCountedOnEitherScreen)
{
    // prepare: modes and region, then the cursor goes to `cursorRow`, column 0.
    struct Case { const char* name; const char* prepare; int cursorRow; const char* input; std::uint64_t scrolled; };
    const std::vector<Case> cases = {
        {"line feeds above the bottom", "", 0, "\n\n\n", 0},
        {"line feeds at the bottom", "", 4, "\n\n\n", 3},
        {"a line printed again at the bottom", "", 4, "same\r\nsame\r\nsame\r\n", 3},
        {"a wrap on the bottom row", "", 4, "0123456789ab", 1},
        {"the bottom of an inner region", "\x1b[2;4r", 3, "\n\n", 2},
        {"the last row below a region", "\x1b[1;3r", 4, "\n\n", 0},
        {"the alternate screen", "\x1b[?1049h", 4, "\n\n", 2},
        {"a region of the alternate screen", "\x1b[?1049h\x1b[1;3r", 2, "\n", 1},
        {"IND at the bottom", "", 4, "\x1b" "D\x1b" "D", 2},
        {"NEL at the bottom", "", 4, "\x1b" "E", 1},
        {"IND mid-screen", "", 1, "\x1b" "D", 0},
        {"SU", "", 0, "\x1b[3S", 3},
        {"SU on the alternate screen inside a region", "\x1b[?1049h\x1b[2;4r", 0, "\x1b[S\x1b[2S", 3},
        {"SU beyond the region's height", "\x1b[2;3r", 0, "\x1b[9S", 2},
        {"a rectangle between margins", "\x1b[?69h\x1b[3;6s", 4, "\x1b[4G\n", 1},
        {"RI, SD, insert and delete lines", "", 0, "\x1b" "M\x1b[2T\x1b[L\x1b[M", 0},
        {"erasing and moving the cursor", "", 4, "\x1b[2J\x1b[H\x1b[3B\x1b[K", 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        auto terminal = makeTerminal(10, 5);
        feed(*terminal, c.prepare);
        putRows(*terminal, letters);
        moveTo(*terminal, 0, c.cursorRow);
        const std::uint64_t before = terminal->scrolledLineCount();
        feed(*terminal, c.input);
        EXPECT_EQ(terminal->scrolledLineCount() - before, c.scrolled);
    }
}

TEST(ScrollSemantic, LineFeedCarriesTheActiveGroupOntoTheNextLine)
{
    auto terminal = makeTerminal(10, 5);
    Buffer& screen = terminal->buffer();
    screen.semanticInput = SemanticInputState::prompt;
    screen.activeSemanticGroupID = 7;
    BufferLine& foreign = *screen.lines()[2];
    foreign.setSemanticHardContinuationGroup(3);
    foreign.setCell(0, CharData('p', 1, Attribute{}, {}, 1));
    foreign.setCell(1, CharData('i', 1, Attribute{}, {}, 5));
    foreign.setCell(2, CharData('o', 1, Attribute{}, {}, 6));
    moveTo(*terminal, 0, 0);
    feed(*terminal, "\n");
    EXPECT_EQ(screen.lines()[1]->semanticHardContinuationGroup(), std::optional<std::uint64_t>(7));
    feed(*terminal, "\n"); // a line of another group loses its prompt and input roles
    EXPECT_EQ(foreign.semanticHardContinuationGroup(), std::optional<std::uint64_t>(7));
    EXPECT_EQ(foreign.getCell(0).semanticContentCode, 0);
    EXPECT_EQ(foreign.getCell(1).semanticContentCode, 0);
    EXPECT_EQ(foreign.getCell(2).semanticContentCode, 6);
    screen.semanticInput = SemanticInputState::idle;
    feed(*terminal, "\n");
    EXPECT_EQ(screen.lines()[3]->semanticHardContinuationGroup(), std::nullopt);
}

} // namespace
} // namespace corvantix
