// Find in the view: the match selected and scrolled into view, the find bar's keys and
// toggles, the shared find string, and the search cache dropped when the screen changes.
#include "ViewTestSupport.h"

#include "view/qt/FindBar.h"

#include <QAction>
#include <QAbstractButton>
#include <QCheckBox>
#include <QTest>
#include <QToolButton>
#include <QLineEdit>

#include <gtest/gtest.h>

#include <string>

namespace corvantix {
namespace {

struct FindView : testing::ViewFixture {
    // Lines "line 0" ... with "needle A" and "needle B" in place of two of them.
    void printLines(int count, int first, int second)
    {
        std::string text;
        for (int i = 0; i < count; ++i) {
            if (i == first)
                text += "needle A\r\n";
            else if (i == second)
                text += "needle B\r\n";
            else
                text += "line " + std::to_string(i) + "\r\n";
        }
        view.feedText(text);
    }
    int selectedRow() const { return view.selection->start.row; }
    int top() const { return view.terminal->buffer().yDisp(); }
    void press(QWidget* target, int code, Qt::KeyboardModifiers modifiers = {})
    {
        key(QEvent::KeyPress, code, modifiers, {}, 0, false, target);
    }
    void type(QWidget* target, const std::string& text)
    {
        for (const char c : text)
            key(QEvent::KeyPress, 0, {}, QString(QChar(c)), 0, false, target);
    }
};

TEST(FindView, AMatchOffScreenIsSelectedAndScrolledToTheMiddle)
{
    FindView f;
    f.printLines(300, 10, 250);
    const int rows = f.view.terminal->rows();
    ASSERT_GT(f.top(), 10);
    ASSERT_TRUE(f.view.findNext("needle", SearchOptions{}));
    EXPECT_EQ(f.selected(), "needle");
    EXPECT_EQ(f.selectedRow(), 10);
    EXPECT_EQ(f.top(), std::max(10 - rows / 2, 0));
    // On screen already: no scrolling.
    ASSERT_TRUE(f.view.findNext("line 12", SearchOptions{}));
    EXPECT_EQ(f.top(), std::max(10 - rows / 2, 0));
    // Nothing found: the selection ends.
    EXPECT_FALSE(f.view.findNext("haystack", SearchOptions{}));
    EXPECT_EQ(f.selected(), "<none>");
}

// A match in the last cells of the last line: its exclusive end lies past the buffer, yet
// the match itself is selected, and Find Next comes round to it again rather than sticking
// on the cells before it.
TEST(FindView, AMatchEndingAtTheLastColumnOfTheLastLineIsSelected)
{
    FindView f;
    const int cols = f.view.terminal->cols();
    f.view.feedText("END one\r\n\x1b[999;1H" + std::string(static_cast<std::size_t>(cols - 3), 'x') + "END");
    const int lastLine = f.view.terminal->buffer().lines().count() - 1;
    ASSERT_TRUE(f.view.findNext("END", SearchOptions{true, false, false}));
    ASSERT_TRUE(f.view.findNext("END", SearchOptions{true, false, false}));
    EXPECT_EQ(f.selected(), "END");
    EXPECT_EQ(f.selectedRow(), lastLine);
    EXPECT_EQ(f.view.selection->start.col, cols - 3);
    // On round to the first match and back.
    ASSERT_TRUE(f.view.findNext("END", SearchOptions{true, false, false}));
    EXPECT_EQ(f.selectedRow(), 0);
    ASSERT_TRUE(f.view.findNext("END", SearchOptions{true, false, false}));
    EXPECT_EQ(f.selectedRow(), lastLine);
    EXPECT_EQ(f.selected(), "END");
}

TEST(FindView, TheAlternateScreenSelectsWithoutScrolling)
{
    FindView f;
    f.printLines(300, 10, 250);
    f.view.feedText("\x1b[?1049h\x1b[5;3Hneedle C");
    const int top = f.top();
    ASSERT_TRUE(f.view.findNext("needle", SearchOptions{}));
    EXPECT_EQ(f.selected(), "needle");
    EXPECT_EQ(f.selectedRow(), 4);
    EXPECT_EQ(f.top(), top);
}

TEST(FindView, HostOutputAndResizingDropTheCachedLines)
{
    FindView f;
    f.printLines(50, 1, 2);
    ASSERT_TRUE(f.view.findNext("needle", SearchOptions{}));
    ASSERT_TRUE(f.view.search->lineCache.hasLines());
    f.view.feedText("more\r\n");
    EXPECT_FALSE(f.view.search->lineCache.hasLines());
    ASSERT_TRUE(f.view.findNext("needle", SearchOptions{}));
    ASSERT_TRUE(f.view.processSizeChange(QSize(500, 300)));
    EXPECT_FALSE(f.view.search->lineCache.hasLines());
}

TEST(FindBar, TypingSearchesAndReturnAndShiftReturnStepThroughTheMatches)
{
    FindView f;
    f.printLines(300, 10, 250);
    f.view.findAction->trigger();
    ASSERT_TRUE(f.view.findBar);
    ASSERT_FALSE(f.view.findBar->isHidden());
    QLineEdit* field = f.view.findBar->searchField;

    f.type(field, "needle");
    EXPECT_EQ(f.selected(), "needle");
    EXPECT_EQ(f.selectedRow(), 10);
    EXPECT_EQ(f.findPasteboard->content, "needle");
    f.press(field, Qt::Key_Return);
    EXPECT_EQ(f.selectedRow(), 250);
    f.press(field, Qt::Key_Return, Qt::ShiftModifier);
    EXPECT_EQ(f.selectedRow(), 10);

    // Clearing the field clears the search.
    field->selectAll();
    f.press(field, Qt::Key_Backspace);
    EXPECT_EQ(f.selected(), "<none>");
    EXPECT_FALSE(f.view.search->state.cachedSearchTerm);

    f.press(field, Qt::Key_Escape);
    EXPECT_TRUE(f.view.findBar->isHidden());
    // Nothing typed into the bar reached the program.
    EXPECT_EQ(f.delegate.sent, "");
}

// Clicking any of the bar's buttons leaves the keyboard with the field: the keys typed after
// it edit the term and Return steps through the matches; the program gets none of them.
TEST(FindBar, ClickingItsButtonsKeepsTheKeyboardInTheField)
{
    FindView f;
    f.printLines(50, 10, 20);
    f.view.show();
    f.view.findAction->trigger();
    TerminalFindBarView* bar = f.view.findBar;
    ASSERT_TRUE(bar && bar->isVisible());
    f.type(bar->searchField, "line");
    for (QAbstractButton* button : std::initializer_list<QAbstractButton*>{
             bar->previousButton, bar->nextButton, bar->caseSensitiveButton, bar->regexButton, bar->wholeWordButton}) {
        SCOPED_TRACE(button->accessibleName().toStdString() + button->text().toStdString());
        // As from the window system: only such a click moves the keyboard focus.
        QTest::mouseClick(button, Qt::LeftButton, {}, button->rect().center());
        QWidget* focused = f.view.window()->focusWidget();
        EXPECT_EQ(focused, bar->searchField);
        ASSERT_NE(focused, nullptr);
        f.type(focused, " ");
        f.press(focused, Qt::Key_Backspace);
        f.press(focused, Qt::Key_Return);
    }
    EXPECT_EQ(bar->searchField->text(), "line");
    EXPECT_EQ(f.delegate.sent, "");
}

TEST(FindBar, TogglesSearchOnlyWithATerm)
{
    FindView f;
    f.printLines(50, 10, 20);
    f.view.feedText("NEEDLE\r\n");
    f.view.showFindBar(false);
    // The user's own selection, and a find string another view shared meanwhile: with nothing
    // typed in the bar, a toggle searches for neither and leaves the selection alone.
    f.view.selection->setRange(0, 3, 6, 3);
    f.findPasteboard->content = "needle B";
    ASSERT_EQ(f.selected(), "line 3");
    f.view.findBar->caseSensitiveButton->setChecked(true);
    EXPECT_EQ(f.selected(), "line 3");
    EXPECT_EQ(f.view.findBarOptions, (SearchOptions{true, false, false}));

    f.type(f.view.findBar->searchField, "NEEDLE");
    EXPECT_EQ(f.selected(), "NEEDLE");
    // Case ignored again: the search goes on after the current match, round to the top.
    f.view.findBar->caseSensitiveButton->setChecked(false);
    EXPECT_EQ(f.selected(), "needle");
    EXPECT_EQ(f.selectedRow(), 10);
}

TEST(FindCommands, FindNextWithTheBarHiddenUsesTheSharedFindString)
{
    FindView f;
    f.printLines(50, 10, 20);
    f.view.show();
    // Nothing to find: the user's selection stays.
    f.view.selection->setRange(0, 3, 6, 3);
    f.view.performFindPanelAction(2);
    EXPECT_EQ(f.selected(), "line 3");
    f.findPasteboard->content = "";
    f.view.performFindPanelAction(2);
    EXPECT_EQ(f.selected(), "line 3");

    f.findPasteboard->content = "needle B";
    f.view.performFindPanelAction(2);
    EXPECT_EQ(f.selected(), "needle B");
    f.view.performFindPanelAction(3);
    EXPECT_EQ(f.selectedRow(), 20);
    EXPECT_FALSE(f.view.findBar);

    // While the bar shows, its own term counts, whatever the shared string says...
    f.view.performFindPanelAction(1);
    ASSERT_TRUE(f.view.findBar && f.view.findBar->isVisible());
    f.view.findBar->searchField->setText(QStringLiteral("needle A"));
    f.findPasteboard->content = "line 4";
    f.view.performFindPanelAction(2);
    EXPECT_EQ(f.selected(), "needle A");
    EXPECT_EQ(f.findPasteboard->content, "needle A");
    // ...and once it is hidden, the shared string does again.
    f.view.performTextFinderAction(11);
    ASSERT_FALSE(f.view.findBar->isVisible());
    f.findPasteboard->content = "line 4";
    f.view.performFindPanelAction(2);
    EXPECT_EQ(f.selected(), "line 4");
}

TEST(FindCommands, UseSelectionForFind)
{
    FindView f;
    f.printLines(50, 10, 20);
    // Without a selection the shared string stays and the bar opens with it.
    f.findPasteboard->content = "needle A";
    f.view.performFindPanelAction(7);
    EXPECT_EQ(f.findPasteboard->content, "needle A");
    ASSERT_TRUE(f.view.findBar);
    EXPECT_EQ(f.view.findBar->searchField->text(), "needle A");
    EXPECT_EQ(f.selectedRow(), 10);

    // With one, the selected text becomes the term.
    f.view.selection->setRange(0, 20, 8, 20);
    f.view.performFindPanelAction(7);
    EXPECT_EQ(f.findPasteboard->content, "needle B");
    EXPECT_EQ(f.view.findBar->searchField->text(), "needle B");
    f.view.performTextFinderAction(11);
    EXPECT_TRUE(f.view.findBar->isHidden());
}

} // namespace
} // namespace corvantix
