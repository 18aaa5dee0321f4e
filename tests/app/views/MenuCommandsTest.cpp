// The menus and their shortcuts over a model with tabs that run nothing: closing, text size,
// panel toggles, moving between tabs, and the keys the application leaves to the terminal.
#include "ui/HalvorenCommands.h"

#include "EntryWorkspace.h"
#include "remote/TermView.h"
#include "ui/AppBus.h"

#include <QAction>
#include <QMainWindow>
#include <QMenu>
#include <QSignalSpy>
#include <QTest>

#include <gtest/gtest.h>

#include <functional>

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
    MacTab& tab = addTab(QStringLiteral("/p/web"));
    EXPECT_FALSE(commands.closeTabAction->isEnabled()) << "a tab that is not active";
    model.activate(tab);
    EXPECT_TRUE(commands.closeTabAction->isEnabled());
    commands.closeTabAction->trigger();
    EXPECT_TRUE(model.tabs().isEmpty());
    EXPECT_FALSE(commands.closeTabAction->isEnabled());
    // Reopening with the history just filled brings the tab back; with it empty, nothing.
    commands.reopenTabAction->trigger();
    EXPECT_EQ(model.tabs().size(), 1);
    commands.reopenTabAction->trigger();
    EXPECT_EQ(model.tabs().size(), 1);
    EXPECT_TRUE(commands.reopenTabAction->isEnabled());
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

TEST_F(MenuFixture, PanelTogglesFlipAndStoreTheirChoice)
{
    const struct {
        QAction* action;
        std::function<bool()> visible;
        QString key;
    } cases[] = {
        {commands.toggleCommandsAction, [this] { return model.commandsVisible(); }, Prefs::rightSidebarOpenKey},
        {commands.toggleComposeAction, [this] { return model.composeVisible(); }, Prefs::composeBarVisibleKey},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.key.toStdString());
        const bool before = c.visible();
        c.action->trigger();
        EXPECT_EQ(c.visible(), !before);
        EXPECT_EQ(store.boolValue(c.key), !before);
        c.action->trigger();
        EXPECT_EQ(c.visible(), before);
        EXPECT_EQ(store.boolValue(c.key), before);
    }
}

TEST_F(MenuFixture, NotificationItemsOnlyPost)
{
    QSignalSpy servers(&AppBus::shared(), &AppBus::showServers);
    QSignalSpy sidebar(&AppBus::shared(), &AppBus::toggleSidebar);
    commands.showServersAction->trigger();
    commands.showServersAction->trigger();
    commands.toggleSidebarAction->trigger();
    EXPECT_EQ(servers.count(), 2);
    EXPECT_EQ(sidebar.count(), 1);
}

TEST_F(MenuFixture, TabByNumberLastAndAdjacent)
{
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

TEST_F(MenuFixture, TabKeysDoNothingWithoutTabs)
{
    for (QAction* action : {commands.lastTabAction, commands.numberedTabActions[0], commands.nextTabAction}) {
        action->trigger();
        EXPECT_FALSE(model.activeTabID().has_value()) << action->text().toStdString();
    }
}

TEST_F(MenuFixture, MenusCarryTheirTitlesAndShortcuts)
{
    EXPECT_EQ(commands.fileMenu->title(), QStringLiteral("Fichier"));
    EXPECT_EQ(commands.viewMenu->title(), QStringLiteral("Présentation"));
    EXPECT_EQ(commands.tabMenu->title(), QStringLiteral("Onglet"));
    QStringList items;
    for (const QAction* action : commands.actions())
        items << action->text() + u'=' + action->shortcut().toString(QKeySequence::PortableText);
    EXPECT_EQ(items.join(u'|'),
              QStringLiteral("Serveurs…=Ctrl+Shift+K|Fermer l'onglet=Ctrl+Shift+W|Rouvrir l'onglet fermé=Ctrl+Shift+T|"
                             "Agrandir le texte=Ctrl++|Agrandir le texte=Ctrl+=|Réduire le texte=Ctrl+-|"
                             "Taille par défaut=Ctrl+0|Barre latérale des projets=Ctrl+Shift+S|"
                             "Commandes rapides=Ctrl+Shift+D|Barre de message=Ctrl+Shift+M|"
                             "Onglet suivant=Ctrl+Shift+]|Onglet précédent=Ctrl+Shift+[|Onglet 1=Alt+1|Onglet 2=Alt+2|"
                             "Onglet 3=Alt+3|Onglet 4=Alt+4|Onglet 5=Alt+5|Onglet 6=Alt+6|Onglet 7=Alt+7|"
                             "Onglet 8=Alt+8|Dernier onglet=Alt+9"));
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

    // No action of the window claims a plain Ctrl letter the shell uses.
    const struct {
        Qt::Key key;
        char byte;
    } shellKeys[] = {{Qt::Key_C, 0x03}, {Qt::Key_D, 0x04}, {Qt::Key_W, 0x17}, {Qt::Key_T, 0x14}};
    for (const QAction* action : window.findChildren<QAction*>()) {
        for (const auto& k : shellKeys)
            EXPECT_NE(action->shortcut(), QKeySequence(Qt::CTRL | k.key)) << action->text().toStdString();
    }
    for (const auto& k : shellKeys) {
        terminal->sent.clear();
        QTest::keyClick(terminal, k.key, Qt::ControlModifier);
        EXPECT_EQ(terminal->sent, QByteArray(1, k.byte)) << QKeySequence(Qt::CTRL | k.key).toString().toStdString();
    }

    // Keys of the menus act while the terminal has the focus, and the terminal sees none of them.
    terminal->sent.clear();
    const bool commandsBefore = model.commandsVisible();
    QTest::keyClick(terminal, Qt::Key_D, Qt::ControlModifier | Qt::ShiftModifier);
    EXPECT_EQ(model.commandsVisible(), !commandsBefore);
    QTest::keyClick(terminal, Qt::Key_3, Qt::AltModifier);
    EXPECT_EQ(activeIndex(), 2);
    model.activate(*model.tabs().front());
    terminal->setFocus();
    QTest::keyClick(terminal, Qt::Key_9, Qt::AltModifier);
    EXPECT_EQ(activeIndex(), 2);
    EXPECT_TRUE(terminal->sent.isEmpty()) << terminal->sent.toHex().toStdString();
}

} // namespace
} // namespace halvoren
