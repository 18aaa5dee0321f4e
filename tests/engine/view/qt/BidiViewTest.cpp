// The view follows the visual order of right-to-left rows: hit-testing, the caret and the
// swapped horizontal arrows, and none of it under the left-to-right host policy.
#include <gtest/gtest.h>

#include "drawing/TerminalBidi.h"
#include "ViewTestSupport.h"

namespace corvantix {
namespace {

struct BidiView : testing::ViewFixture {
    BidiView() : ViewFixture(QRect())
    {
        view.cellDimension = CellDimension{8, 17};
        view.resizeGrid(10, 4);
        TerminalBidi::clearCaches();
        // Three Hebrew letters: the paragraph reads right to left, the cursor after them.
        feed("\u05D0\u05D1\u05D2");
        view.updateDisplayNow();
    }
};

TEST(BidiView, HitTestCaretAndArrowsFollowTheVisualOrder)
{
    BidiView fixture;
    TerminalView& view = fixture.view;
    // The first letter is drawn in the rightmost column; the blank tail fills the left.
    EXPECT_EQ(view.gridPositionForPoint(fixture.at(9, 0)).col, 0);
    EXPECT_EQ(view.gridPositionForPoint(fixture.at(7, 0)).col, 2);
    EXPECT_EQ(view.gridPositionForPoint(fixture.at(0, 0)).col, 9);
    // The cursor sits in logical column 3, the first blank, drawn just left of the text.
    EXPECT_EQ(view.caretFrame().left(), 6 * 8);

    view.terminal->setBidiArrowKeySwap(true);
    view.keyboard->sendHorizontalArrowKey(true);
    EXPECT_EQ(fixture.delegate.sent, "\x1b[C");
    fixture.delegate.sent.clear();
    view.terminal->setBidiArrowKeySwap(false);
    view.keyboard->sendHorizontalArrowKey(true);
    EXPECT_EQ(fixture.delegate.sent, "\x1b[D");
}

// A block caret shows the cell as the row draws it: the joined form of an Arabic letter,
// not the letter as stored.
TEST(BidiView, TheCaretShowsTheJoinedArabicForm)
{
    BidiView fixture;
    TerminalView& view = fixture.view;
    fixture.feed("\r\n\u0628\u0628\u0628");
    struct Case { const char* move; std::u16string shown; };
    // Beh at the start, in the middle and at the end of a word, and a blank after it.
    for (const Case& c : {Case{"\x1b[1G", u"\uFE91"}, Case{"\x1b[2G", u"\uFE92"}, Case{"\x1b[3G", u"\uFE90"},
                          Case{"\x1b[4G", u" "}}) {
        SCOPED_TRACE(c.move + 2);
        fixture.feed(c.move);
        view.updateDisplayNow();
        ASSERT_TRUE(view.caretView && view.caretView->ctline);
        EXPECT_TRUE(view.caretView->ctline->text == c.shown);
    }
    // Stored order keeps the stored letter.
    view.setBidiHostPolicy(BidiHostPolicy::legacyLeftToRight);
    fixture.feed("\x1b[2G");
    view.updateDisplayNow();
    EXPECT_TRUE(view.caretView->ctline->text == u"\u0628");
}

TEST(BidiView, LegacyPolicyKeepsStoredOrder)
{
    BidiView fixture;
    TerminalView& view = fixture.view;
    view.setBidiHostPolicy(BidiHostPolicy::legacyLeftToRight);
    EXPECT_EQ(view.gridPositionForPoint(fixture.at(9, 0)).col, 9);
    EXPECT_EQ(view.caretFrame().left(), 3 * 8);
    view.terminal->setBidiArrowKeySwap(true);
    view.keyboard->sendHorizontalArrowKey(true);
    EXPECT_EQ(fixture.delegate.sent, "\x1b[D");
}

TEST(BidiView, LatinRowsAreNotMapped)
{
    BidiView fixture;
    TerminalView& view = fixture.view;
    fixture.feed("\r\nabc");
    view.updateDisplayNow();
    EXPECT_EQ(view.gridPositionForPoint(fixture.at(1, 1)).col, 1);
    EXPECT_EQ(view.caretFrame().left(), 3 * 8);
    view.terminal->setBidiArrowKeySwap(true);
    view.keyboard->sendHorizontalArrowKey(true);
    EXPECT_EQ(fixture.delegate.sent, "\x1b[D");
}

} // namespace
} // namespace corvantix
