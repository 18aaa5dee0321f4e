// Cursor movement: relative and absolute moves with region, margins and origin mode, tabs,
// DECSC / DECRC and the sideways index functions DECBI / DECFI.
#include "TerminalTestSupport.h"

namespace corvantix {
namespace {

using Rows = std::vector<std::string>;

struct MoveCase {
    const char* input;
    CursorPosition start;
    CursorPosition end;
    bool origin = false;
    int top = 0, bottom = 24;  // scroll region
    int left = -1, right = -1; // margins; -1: margin mode off
};

// 80 x 25 screen.
void runMoves(const std::vector<MoveCase>& cases)
{
    for (const MoveCase& c : cases) {
        SCOPED_TRACE(std::string("input ") + (c.input + 1) + " from (" + std::to_string(c.start.x) + ", "
                     + std::to_string(c.start.y) + ")" + (c.origin ? " origin" : "")
                     + (c.left >= 0 ? " margins" : "") + " region " + std::to_string(c.top) + ".."
                     + std::to_string(c.bottom));
        auto terminal = makeTerminal(80, 25);
        terminal->buffer().setScrollTop(c.top);
        terminal->buffer().setScrollBottom(c.bottom);
        if (c.left >= 0)
            setMargins(*terminal, c.left, c.right);
        if (c.origin)
            feed(*terminal, "\x1b[?6h");
        moveTo(*terminal, c.start.x, c.start.y);
        feed(*terminal, c.input);
        EXPECT_EQ(cursor(*terminal), c.end);
    }
}

TEST(CursorMoves, CursorPosition)
{
    runMoves({
        {"\x1b[H", {5, 5}, {0, 0}},
        {"\x1b[3;4H", {5, 5}, {3, 2}},
        {"\x1b[99;999H", {5, 5}, {79, 24}},
        {"\x1b[H", {5, 15}, {0, 5}, true, 5, 10},
        {"\x1b[3;4H", {5, 15}, {3, 7}, true, 5, 10},
        {"\x1b[20;1H", {5, 15}, {0, 10}, true, 5, 10}, // origin mode: limited by the region
        {"\x1b[H", {5, 15}, {10, 5}, true, 5, 10, 10, 20},
        {"\x1b[H", {5, 15}, {0, 0}, false, 5, 10, 10, 20}, // margins without origin mode
    });
}

// CUP marks the row it leaves and the row it reaches for refresh, and nothing between them.
// Each sequence is followed by text, so that it is read a word at a time; fed one byte per
// call it must land on the same cell.
TEST(CursorMoves, CursorPositionMarksTheRowsItLeavesAndReaches)
{
    struct Mark { const char* input; CursorPosition start; CursorPosition end; std::optional<UpdateRange> marked; };
    const std::vector<Mark> cases = {
        {"\x1b[18;45H", {3, 3}, {44, 17}, UpdateRange{3, 17}},
        {"\x1b[4;45H", {3, 17}, {44, 3}, UpdateRange{3, 17}},
        {"\x1b[4;0070H", {3, 3}, {69, 3}, UpdateRange{3, 3}},
        {"\x1b[1234567;99999999H", {3, 3}, {79, 24}, UpdateRange{3, 24}},
        {"\x1b[;7H", {3, 9}, {6, 0}, UpdateRange{0, 9}},
    };
    for (const Mark& c : cases) {
        SCOPED_TRACE(c.input + 1);
        for (const bool byteWise : {false, true}) {
            auto terminal = makeTerminal(80, 25);
            moveTo(*terminal, c.start.x, c.start.y);
            terminal->clearUpdateRange();
            const std::string input = std::string(c.input) + "\x1b[0m\x1b[0m";
            if (byteWise)
                feedByteByByte(*terminal, input);
            else
                feed(*terminal, input);
            EXPECT_EQ(cursor(*terminal), c.end) << (byteWise ? "byte-wise" : "whole");
            EXPECT_EQ(terminal->getUpdateRange(), c.marked) << (byteWise ? "byte-wise" : "whole");
        }
    }
}

// The character printed after a move skips marking the row the move marked; once the
// ranges are cleared, or the view has moved on, it must mark its row itself. Both ranges
// are checked: the scroll-invariant one counts the lines above the screen.
TEST(CursorMoves, ACharacterAfterAMoveMarksItsRowOnceTheRangesAreCleared)
{
    struct Mark {
        const char* name;
        std::string before; // fed, then the ranges cleared
        std::string after;
        std::optional<UpdateRange> marked;
        std::optional<UpdateRange> scrollInvariant;
    };
    const std::string scrolled = std::string(29, '\n'); // five lines into the scrollback
    const std::vector<Mark> cases = {
        {"MoveThenClearThenPrint", "\x1b[6;1H", "x", UpdateRange{5, 5}, UpdateRange{5, 5}},
        {"MoveAndPrintThenClearThenPrint", "\x1b[6;1Hx", "y", UpdateRange{5, 5}, UpdateRange{5, 5}},
        {"ScrolledView", scrolled + "\x1b[6;1H", "x", UpdateRange{5, 5}, UpdateRange{10, 10}},
        // The move marks both rows; the print adds nothing.
        {"MoveAndPrintAfterClear", "\x1b[3;1H", "\x1b[9;4Hx", UpdateRange{2, 8}, UpdateRange{2, 8}},
        // A line feed at the bottom scrolls the view under the row the move marked: the print
        // marks the row's new line.
        {"ViewScrolledUnderTheRow", scrolled, "\x1b[25;1H\ny", UpdateRange{0, 24}, UpdateRange{29, 30}},
    };
    for (const Mark& c : cases) {
        SCOPED_TRACE(c.name);
        for (const bool byteWise : {false, true}) {
            auto terminal = makeTerminal(80, 25);
            feed(*terminal, c.before);
            terminal->clearUpdateRange();
            if (byteWise)
                feedByteByByte(*terminal, c.after);
            else
                feed(*terminal, c.after);
            EXPECT_EQ(terminal->getUpdateRange(), c.marked) << (byteWise ? "byte-wise" : "whole");
            EXPECT_EQ(terminal->getScrollInvariantUpdateRange(), c.scrollInvariant) << (byteWise ? "byte-wise" : "whole");
        }
    }
}

TEST(CursorMoves, HorizontalAndVerticalPositionWritesTheCursorDirectly)
{
    runMoves({
        {"\x1b[f", {5, 5}, {0, 0}},
        {"\x1b[99;999f", {5, 5}, {79, 24}},
        // Origin mode: the row counts from the region top but only the screen limits it.
        {"\x1b[30;1f", {5, 5}, {0, 24}, true, 5, 10},
        {"\x1b[2;3f", {5, 5}, {2, 6}, true, 5, 10},
        {"\x1b[2;3f", {5, 5}, {12, 6}, true, 5, 10, 10, 20},
    });
}

TEST(CursorMoves, RelativeMovesStopAtTheRegionAndMargins)
{
    runMoves({
        // CUU: at the region top from inside or below it, at row 0 from above it.
        {"\x1b[A", {4, 8}, {4, 7}, false, 5, 10},
        {"\x1b[30A", {4, 20}, {4, 5}, false, 5, 10},
        {"\x1b[9A", {4, 3}, {4, 0}, false, 5, 10},
        {"\x1b[A", {80, 8}, {80, 7}}, // keeps the pending-wrap column
        // CUD: at the region bottom from inside or above it, at the last row from below it.
        {"\x1b[9B", {4, 2}, {4, 10}, false, 5, 10},
        {"\x1b[99B", {4, 12}, {4, 24}, false, 5, 10},
        {"\x1b[B", {80, 8}, {79, 9}}, // steps back from the pending-wrap column
        // CUF: the right margin, or the screen edge when already right of it.
        {"\x1b[200C", {10, 0}, {79, 0}},
        {"\x1b[99C", {15, 0}, {20, 0}, false, 0, 24, 10, 20},
        {"\x1b[99C", {30, 0}, {79, 0}, false, 0, 24, 10, 20},
        // CUB: the left margin, or column 0 when already left of it.
        {"\x1b[99D", {15, 0}, {10, 0}, false, 0, 24, 10, 20},
        {"\x1b[99D", {5, 0}, {0, 0}, false, 0, 24, 10, 20},
        // CNL, CPL: then the left margin.
        {"\x1b[2E", {15, 3}, {10, 5}, false, 0, 24, 10, 20},
        // HPR, VPR.
        {"\x1b[5a", {10, 0}, {15, 0}},
        {"\x1b[99e", {4, 2}, {4, 24}, false, 5, 10}, // not limited by the region
        {"\x1b[e", {80, 2}, {79, 3}},
    });
}

TEST(CursorMoves, AbsoluteColumnAndRow)
{
    runMoves({
        {"\x1b[5G", {10, 3}, {4, 3}},
        {"\x1b[200G", {10, 3}, {79, 3}},
        {"\x1b[5G", {10, 3}, {14, 3}, true, 0, 24, 10, 20}, // origin and margin mode: from the margin
        {"\x1b[200G", {10, 3}, {79, 3}, true, 0, 24, 10, 20}, // never past the screen
        {"\x1b[5`", {10, 3}, {4, 3}, true, 0, 24, 10, 20}, // HPA: no origin offset
        {"\x1b[5d", {10, 3}, {10, 4}, true, 5, 10}, // VPA: no origin offset
    });
}

struct TabCase { const char* input; int startX; int endX; int left = -1, right = -1; };

TEST(CursorTabs, TabulationAndTabStops)
{
    const std::vector<TabCase> cases = {
        {"\t", 0, 8},
        {"\t", 75, 79},
        {"\t\t", 12, 20, 10, 20}, // stops at the right margin
        {"\x1b[3I", 0, 24},
        {"\x1b[20I", 0, 79},
        {"\x1b[Z", 20, 16},
        {"\x1b[3Z", 20, 0},
        {"\x1b[Z", 0, 0},
        {"\x1b[Z", 80, 72}, // from the pending-wrap column
        // HTS and TBC.
        {"\x1b[4G\x1bH\r\t", 0, 3},
        {"\x1b[9G\x1b[g\r\t", 0, 16},
        {"\x1b[9G\x1b[2g\r\t", 0, 8}, // other values change nothing
        {"\x1b[3g\x1b[Z", 40, 0},
    };
    for (const TabCase& c : cases) {
        SCOPED_TRACE(std::string(c.input + (c.input[0] == '\x1b' ? 1 : 0)) + " from " + std::to_string(c.startX));
        auto terminal = makeTerminal(80, 25);
        if (c.left >= 0)
            setMargins(*terminal, c.left, c.right);
        moveTo(*terminal, c.startX, 2);
        feed(*terminal, c.input);
        EXPECT_EQ(cursor(*terminal), (CursorPosition{c.endX, 2}));
    }
}

TEST(CursorSaveRestore, RestoresPositionAttributeCharsetAndModes)
{
    for (const auto& [save, restore] : {std::pair{"\x1b" "7", "\x1b" "8"}, std::pair{"\x1b[s", "\x1b[u"}}) {
            SCOPED_TRACE(std::string(save + 1) + " / " + (restore + 1));
            auto terminal = makeTerminal(80, 25);
            feed(*terminal, "\x1b[8;6H\x1b[1;32m\x1b[?6h\x1b(0");
            const Attribute saved = terminal->curAttr();
            const CharacterMap* graphics = terminal->charset();
            ASSERT_NE(graphics, nullptr);
            feed(*terminal, save);
            feed(*terminal, "\x1b[?6l\x1b[21;41H\x1b[0m\x1b[?45h\x1b[?7l\x1b(B");
            ASSERT_NE(terminal->charset(), graphics);
            ASSERT_TRUE(terminal->reverseWraparound());
            const auto designations = terminal->gCharsets();
            feed(*terminal, restore);
            EXPECT_EQ(cursor(*terminal), (CursorPosition{5, 7}));
            EXPECT_EQ(terminal->curAttr(), saved);
            EXPECT_EQ(terminal->charset(), graphics);
            EXPECT_EQ(terminal->gCharsets(), designations); // designations are not saved
            EXPECT_TRUE(terminal->wraparound() && terminal->normalBuffer().wraparound && terminal->altBuffer().wraparound);
            EXPECT_TRUE(terminal->originMode());
            EXPECT_FALSE(terminal->reverseWraparound());
    }
}

TEST(CursorSaveRestore, RestoreClampsAndCopiesMarginModeToBothScreens)
{
    auto terminal = makeTerminal(80, 25);
    feed(*terminal, "\x1b[?69h\x1b[11;21s");
    moveTo(*terminal, 80, 3); // pending wrap
    feed(*terminal, "\x1b" "7\x1b[?69l\x1b" "8");
    EXPECT_EQ(cursor(*terminal), (CursorPosition{79, 3}));
    EXPECT_TRUE(terminal->marginMode());
    EXPECT_TRUE(terminal->normalBuffer().marginMode);
    EXPECT_TRUE(terminal->altBuffer().marginMode);
}

TEST(CursorSaveRestore, RestoreWithoutSaveGoesHomeWithTheDefaultAttribute)
{
    auto terminal = makeTerminal(80, 25);
    feed(*terminal, "\x1b[33m\x1b[11;11H\x1b" "8");
    EXPECT_EQ(cursor(*terminal), (CursorPosition{0, 0}));
    EXPECT_EQ(terminal->curAttr(), Attribute{});
}

const Rows digits = {"0123456789", "0123456789", "0123456789", "0123456789", "0123456789"};

TEST(CursorIndexColumn, BackAndForwardIndexScrollTheMarginRectangleAtTheMargins)
{
    // 10 x 5 screen, margins 2..5, region 1..3.
    expectScreens(10, 5, digits, {
        {"DECFI on the right margin", "\x1b" "9", {5, 2}, {"0123456789", "01345 6789", "01345 6789", "01345 6789", "0123456789"}, 1, 3, 2, 5},
        {"DECBI on the left margin", "\x1b" "6", {2, 2}, {"0123456789", "01 2346789", "01 2346789", "01 2346789", "0123456789"}, 1, 3, 2, 5},
        {"DECFI inside the margins moves right", "\x1b" "9", {3, 2}, {}, 1, 3, 2, 5, CursorPosition{4, 2}},
        {"DECBI left of the margins moves to 0", "\x1b" "6", {1, 2}, {}, 1, 3, 2, 5, CursorPosition{0, 2}},
        {"DECFI at the pending-wrap column stays", "\x1b" "9", {10, 2}, {}, 1, 3, 2, 5},
        {"DECFI on the margin outside the region", "\x1b" "9", {5, 4}, {}, 1, 3, 2, 5},
    });
}

TEST(CursorIndexColumn, TheInsertedColumnsAreSpacesWithTheirOwnBackgrounds)
{
    auto terminal = makeTerminal(10, 5);
    feed(*terminal, "\x1b[44;31m");
    moveTo(*terminal, 9, 0); // without margin mode the margins are the screen edges
    feed(*terminal, "\x1b" "9");
    const CharData right = terminal->buffer().lines()[0]->getCell(9);
    EXPECT_TRUE(right.code == 0x20 && right.attribute.fg == Attribute::Color::defaultColor());
    EXPECT_EQ(right.attribute.bg, Attribute::Color::ansi256(4));
    moveTo(*terminal, 0, 0);
    feed(*terminal, "\x1b" "6");
    const CharData left = terminal->buffer().lines()[0]->getCell(0);
    EXPECT_TRUE(left.code == 0x20 && left.attribute.fg == Attribute::Color::defaultColor());
    EXPECT_EQ(left.attribute.bg, Attribute::Color::defaultInvertedColor());
}

} // namespace
} // namespace corvantix
