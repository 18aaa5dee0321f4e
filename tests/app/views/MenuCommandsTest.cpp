// The menus over a model whose tabs run nothing, and the keys left to the terminal.
#include "ui/HalvorenCommands.h"

#include "EntryWorkspace.h"
#include "remote/TermView.h"

#include <QAction>
#include <QMainWindow>
#include <QTest>

#include <gtest/gtest.h>

#include <tuple>

namespace halvoren {
namespace {

struct MenuFixture : test::EntryWorkspace, testing::Test {
    QMainWindow window;
    HalvorenCommands commands{model, &window};

    void openTabs(int count)
    {
        for (int i = 0; i < count; ++i)
            addTab(QStringLiteral("/p/t%1").arg(i));
    }
};

TEST_F(MenuFixture, CloseIsEnabledOnlyWhileATabIsActive)
{
    EXPECT_FALSE(commands.closeTabAction->isEnabled());
    commands.reopenTabAction->trigger();
    EXPECT_TRUE(model.tabs().isEmpty()) << "reopening with an empty history";
    MacTab& tab = addTab(QStringLiteral("/p/web"));
    EXPECT_FALSE(commands.closeTabAction->isEnabled()) << "a tab that is not active";
    model.activate(tab);
    EXPECT_TRUE(commands.closeTabAction->isEnabled());
    commands.closeTabAction->trigger();
    EXPECT_TRUE(model.tabs().isEmpty());
    EXPECT_FALSE(commands.closeTabAction->isEnabled());
}

TEST_F(MenuFixture, TextSizeStaysWithinBoundsAndIsStored)
{
    const struct {
        double start;
        QAction* action;
        double expected;
    } cases[] = {
        {28, commands.biggerTextAction, 28},      {28, commands.biggerTextEqualAction, 28},
        {9, commands.smallerTextAction, 9},       {20, commands.defaultTextAction, 13},
        {13, commands.biggerTextEqualAction, 14}, {13, commands.smallerTextAction, 12},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::Message() << c.action->text().toStdString() << " at " << c.start);
        model.setFontSize(c.start);
        c.action->trigger();
        EXPECT_EQ(model.fontSize(), c.expected);
        EXPECT_EQ(store.numberValue(Prefs::fontSizeKey), c.expected);
    }
}

TEST_F(MenuFixture, TabByNumberLastAndAdjacent)
{
    // No tab: nothing to select.
    commands.lastTabAction->trigger();
    commands.nextTabAction->trigger();
    EXPECT_FALSE(model.activeTabID().has_value());
    // With three tabs: the tab active before, the action, the tab active after.
    openTabs(3);
    const auto& number = commands.numberedTabActions;
    const struct {
        int start;
        QAction* action;
        int expected;
    } cases[] = {
        {0, number[2], 2}, {0, commands.lastTabAction, 2}, {0, number[3], 0},
        {1, number[7], 1}, {2, number[0], 0},              {0, commands.nextTabAction, 1},
        {2, commands.nextTabAction, 0},                    {0, commands.previousTabAction, 2},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::Message() << c.action->text().toStdString() << " from " << c.start);
        model.activate(*model.tabs().at(c.start));
        c.action->trigger();
        EXPECT_EQ(activeIndex(), c.expected);
    }
}

// A tab terminal that keeps what it would send to its program.
class RecordingTerm : public TermView {
public:
    using TermView::TermView;
    QByteArray sent;
    void send(corvantix::TerminalView&, std::span<const std::uint8_t> data) override
    {
        sent.append(reinterpret_cast<const char*>(data.data()), qsizetype(data.size()));
    }
};

TEST_F(MenuFixture, ShellControlKeysReachTheTerminalAndOurKeysWorkBesideIt)
{
    openTabs(3);
    model.activate(*model.tabs().front());
    auto* terminal = new RecordingTerm(QRect(0, 0, 400, 300));
    window.setCentralWidget(terminal);
    window.show();
    window.activateWindow();
    terminal->setFocus();
    ASSERT_TRUE(QTest::qWaitForWindowActive(&window));
    ASSERT_EQ(QApplication::focusWidget(), terminal);

    // A plain Ctrl letter the shell uses gets to the program as its control byte.
    const struct {
        Qt::Key key;
        char byte;
    } shellKeys[] = {{Qt::Key_C, 0x03}, {Qt::Key_D, 0x04}, {Qt::Key_W, 0x17}, {Qt::Key_T, 0x14}};
    for (const auto& k : shellKeys) {
        terminal->sent.clear();
        QTest::keyClick(terminal, k.key, Qt::ControlModifier);
        EXPECT_EQ(terminal->sent, QByteArray(1, k.byte)) << QKeySequence(Qt::CTRL | k.key).toString().toStdString();
    }

    // Keys of the menus act while the terminal has the focus, and the terminal sees none of them.
    // Each toggle stores its new state; twice gives the first one back.
    terminal->sent.clear();
    for (const auto& [key, visible, stored] :
         {std::tuple(Qt::Key_D, &MacModel::commandsVisible, Prefs::rightSidebarOpenKey),
          std::tuple(Qt::Key_M, &MacModel::composeVisible, Prefs::composeBarVisibleKey)}) {
        const bool before = (model.*visible)();
        for (const bool expected : {!before, before}) {
            QTest::keyClick(terminal, key, Qt::ControlModifier | Qt::ShiftModifier);
            EXPECT_EQ((model.*visible)(), expected) << stored.toStdString();
            EXPECT_EQ(store.boolValue(stored), expected) << stored.toStdString();
        }
    }
    QTest::keyClick(terminal, Qt::Key_9, Qt::AltModifier);
    EXPECT_EQ(activeIndex(), 2);
    EXPECT_TRUE(terminal->sent.isEmpty()) << terminal->sent.toHex().toStdString();
}

} // namespace
} // namespace halvoren
