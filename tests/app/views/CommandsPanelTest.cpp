// The quick commands panel: what saving and moving make of the list, the alert, and a
// command typed into a tab whose terminal records what it is sent.
#include "ui/CommandsPanel.h"

#include "app/views/PanelsWorkspace.h"
#include "remote/MacTab.h"
#include "remote/TermView.h"

#include <QLineEdit>
#include <QListWidget>
#include <QMenu>
#include <QPushButton>
#include <QTest>
#include <QVBoxLayout>

#include <gtest/gtest.h>

namespace halvoren {
namespace {

SavedCommand cmd(const char* label, const char* command) { return {QString::fromUtf8(label), QString::fromUtf8(command)}; }

// "label|command" of every entry, comma-separated.
std::string entries(const QList<SavedCommand>& list)
{
    QStringList texts;
    for (const SavedCommand& c : list)
        texts << c.label + u'|' + c.command;
    return texts.join(u',').toStdString();
}

TEST(QuickCommands, SavingReplacesTheEditedEntryOrAppendsANonEmptyCommand)
{
    const QList<SavedCommand> list{cmd("a", "x"), cmd("b", "y")};
    const std::tuple<std::optional<qsizetype>, const char*, const char*, const char*> cases[] = {
        {std::nullopt, "", "ls -la", "a|x,b|y,ls -la|ls -la"}, {std::nullopt, "c", "", "a|x,b|y"},
        {0, "", "", "|,b|y"}, {1, " B ", " y", "a|x, B | y"}, {5, "c", "z", "a|x,b|y,c|z"}, {2, "c", "", "a|x,b|y"}};
    for (const auto& [editing, label, command, expected] : cases)
        EXPECT_EQ(entries(savedCommands(list, editing, QString::fromUtf8(label), QString::fromUtf8(command))), expected);
}

TEST(QuickCommands, MovedEntriesStandTogetherBeforeTheDestination)
{
    const QList<SavedCommand> list{cmd("a", ""), cmd("b", ""), cmd("c", ""), cmd("d", "")};
    const std::tuple<QList<qsizetype>, qsizetype, const char*> cases[] = {
        {{2}, 0, "c|,a|,b|,d|"}, {{0}, 4, "b|,c|,d|,a|"}, {{0}, 2, "b|,a|,c|,d|"}, {{3, 0}, 2, "b|,a|,d|,c|"},
        {{9}, 0, "a|,b|,c|,d|"}, {{1}, 99, "a|,c|,d|,b|"}};
    for (const auto& [sources, destination, expected] : cases)
        EXPECT_EQ(entries(movedCommands(list, sources, destination)), expected);
}

struct Panel : test::PanelsWorkspace, testing::Test {
    CommandsPanel panel{model};

    // Fills the open alert's fields and presses one of its buttons.
    void answerAlert(const char* label, const char* command, const char* button)
    {
        ASSERT_NE(panel.alert(), nullptr);
        panel.alert()->findChild<QLineEdit*>(QStringLiteral("label"))->setText(QString::fromUtf8(label));
        panel.alert()->findChild<QLineEdit*>(QStringLiteral("command"))->setText(QString::fromUtf8(command));
        for (QPushButton* b : panel.alert()->findChildren<QPushButton*>()) {
            if (b->text() == QString::fromUtf8(button))
                return b->click();
        }
        FAIL() << "no button " << button;
    }
};

TEST_F(Panel, TheAlertAddsAndEditsInPlaceAndTheMenuDeletes)
{
    model.setCommands({cmd("a", "x"), cmd("b", "y")});
    panel.startAdd();
    EXPECT_EQ(panel.alert()->windowTitle(), QStringLiteral("Nouvelle commande"));
    answerAlert("", "ls -la", "Enregistrer");
    // The new row has no command line under its label, the others have one.
    EXPECT_LT(panel.list()->sizeHintForRow(2), panel.list()->sizeHintForRow(0));
    std::unique_ptr<QMenu> menu(panel.rowMenu(1));
    ASSERT_EQ(menu->actions().size(), 2);
    EXPECT_EQ(menu->actions()[0]->text() + menu->actions()[1]->text(), QStringLiteral("Modifier…Supprimer"));
    menu->actions()[0]->trigger();
    EXPECT_EQ(panel.alert()->windowTitle(), QStringLiteral("Modifier la commande"));
    EXPECT_EQ(panel.alert()->findChild<QLineEdit*>(QStringLiteral("command"))->text(), QStringLiteral("y"));
    answerAlert("", "", "Enregistrer");
    panel.startEdit(0);
    answerAlert("q", "q", "Annuler");
    EXPECT_FALSE(panel.editing.has_value());
    EXPECT_EQ(entries(prefs.commands()), "a|x,|,ls -la|ls -la");
    menu.reset(panel.rowMenu(0));
    menu->actions()[1]->trigger();
    EXPECT_EQ(entries(prefs.commands()), "|,ls -la|ls -la");
}

TEST_F(Panel, DraggingTheThirdAboveTheFirstIsKeptAcrossARestart)
{
    model.setCommands({cmd("a", "x"), cmd("b", "y"), cmd("c", "z")});
    // What the list does on a drop of its third row above its first.
    ASSERT_TRUE(panel.list()->model()->moveRow(QModelIndex(), 2, QModelIndex(), 0));
    ASSERT_TRUE(QTest::qWaitFor([&] { return model.commands().front().label == QStringLiteral("c"); }, 5000));
    EXPECT_EQ(entries(MacModel(prefs, nullptr, &notifier).commands()), "c|z,a|x,b|y");
}

TEST_F(Panel, ARunTypesTheCommandAndAReturnIntoTheActiveTabAndFocusesIt)
{
    model.setCommands({cmd("Liste", "ls -la")});
    MacTab* tab = model.makeTab(*model.localConnection(), MacProject{QStringLiteral("p"), folder.path(), QStringLiteral("kq-p")});
    model.insertTab(tab, 0);
    tab->terminal->startProcess("/bin/sh", {"-c", "stty raw -echo && : > ready && exec cat > typed"},
                                std::vector<std::string>{"PATH=/usr/bin:/bin"}, std::nullopt, folder.path().toStdString());
    ASSERT_TRUE(QTest::qWaitFor([&] { return QFile::exists(folder.file(QStringLiteral("ready"))); }, 20000));
    // Without an active tab the rows are disabled and a run sends nothing.
    EXPECT_FALSE(panel.list()->item(0)->flags().testFlag(Qt::ItemIsEnabled));
    panel.run(model.commands().front());
    model.activate(*tab);
    EXPECT_TRUE(panel.list()->item(0)->flags().testFlag(Qt::ItemIsEnabled));
    QWidget window;
    auto* layout = new QVBoxLayout(&window);
    auto* elsewhere = new QLineEdit(&window);
    layout->addWidget(elsewhere);
    layout->addWidget(tab->terminal);
    window.show();
    // The activation's own focus request comes first.
    QCoreApplication::processEvents();
    elsewhere->setFocus();
    ASSERT_EQ(window.focusWidget(), elsewhere);
    panel.run(model.commands().front());
    EXPECT_EQ(window.focusWidget(), tab->terminal.data());
    EXPECT_TRUE(QTest::qWaitFor([&] { return test::readAll(folder.file(QStringLiteral("typed"))) == "ls -la\r"; }, 20000))
        << test::readAll(folder.file(QStringLiteral("typed"))).toStdString();
    tab->terminal->setParent(nullptr);
    model.removeTab(*tab);
}

} // namespace
} // namespace halvoren
