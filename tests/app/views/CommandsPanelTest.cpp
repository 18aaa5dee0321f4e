// The quick commands panel: what saving and moving make of the list, the alert, the rows'
// state, and a command typed into a tab whose terminal records what it is sent.
#include "ui/CommandsPanel.h"

#include "app/views/PanelsWorkspace.h"
#include "remote/MacTab.h"
#include "remote/TermView.h"

#include <QDialog>
#include <QLineEdit>
#include <QListWidget>
#include <QMenu>
#include <QPushButton>
#include <QTest>
#include <QVBoxLayout>

#include <gtest/gtest.h>

namespace halvoren {
namespace {

SavedCommand cmd(const char* label, const char* command)
{
    return {QString::fromUtf8(label), QString::fromUtf8(command)};
}

QString labels(const QList<SavedCommand>& list)
{
    QStringList names;
    for (const SavedCommand& c : list)
        names << c.label;
    return names.join(u',');
}

TEST(QuickCommands, SavingReplacesTheEditedEntryOrAppendsANonEmptyCommand)
{
    const QList<SavedCommand> list{cmd("a", "x"), cmd("b", "y")};
    const struct {
        const char* name;
        std::optional<qsizetype> editing;
        const char* label;
        const char* command;
        QList<SavedCommand> expected;
    } cases[] = {
        {"new without label", std::nullopt, "", "ls -la", {cmd("a", "x"), cmd("b", "y"), cmd("ls -la", "ls -la")}},
        {"new without command", std::nullopt, "c", "", list},
        {"edit to empty", 0, "", "", {cmd("", ""), cmd("b", "y")}},
        {"edit keeps spaces", 1, " B ", " y", {cmd("a", "x"), cmd(" B ", " y")}},
        {"edit gone", 5, "c", "z", {cmd("a", "x"), cmd("b", "y"), cmd("c", "z")}},
        {"edit gone, empty", 2, "c", "", list},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(savedCommands(list, c.editing, QString::fromUtf8(c.label), QString::fromUtf8(c.command)), c.expected);
    }
}

TEST(QuickCommands, MovedEntriesStandTogetherBeforeTheDestination)
{
    const QList<SavedCommand> list{cmd("a", ""), cmd("b", ""), cmd("c", ""), cmd("d", "")};
    const struct {
        QList<qsizetype> sources;
        qsizetype destination;
        const char* expected;
    } cases[] = {{{2}, 0, "c,a,b,d"}, {{0}, 4, "b,c,d,a"}, {{0}, 2, "b,a,c,d"}, {{1}, 1, "a,b,c,d"},
                 {{3, 0}, 2, "b,a,d,c"}, {{9}, 0, "a,b,c,d"}, {{1}, 99, "a,c,d,b"}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.expected);
        EXPECT_EQ(labels(movedCommands(list, c.sources, c.destination)).toStdString(), c.expected);
    }
}

struct Panel : test::PanelsWorkspace, testing::Test {
    CommandsPanel panel{model};

    void fillAlert(const char* label, const char* command)
    {
        ASSERT_NE(panel.alert(), nullptr);
        panel.alert()->findChild<QLineEdit*>(QStringLiteral("label"))->setText(QString::fromUtf8(label));
        panel.alert()->findChild<QLineEdit*>(QStringLiteral("command"))->setText(QString::fromUtf8(command));
    }
    void pressInAlert(const QString& text)
    {
        for (QPushButton* button : panel.alert()->findChildren<QPushButton*>()) {
            if (button->text() == text)
                return button->click();
        }
        FAIL() << "no button " << text.toStdString();
    }
};

TEST_F(Panel, ANewCommandWithoutLabelIsNamedByItsCommandAndShownOnOneLine)
{
    model.setCommands({cmd("Liste", "ls")});
    panel.startAdd();
    ASSERT_NE(panel.alert(), nullptr);
    EXPECT_EQ(panel.alert()->windowTitle(), QStringLiteral("Nouvelle commande"));
    fillAlert("", "ls -la");
    pressInAlert(QStringLiteral("Enregistrer"));
    const QList<SavedCommand> expected{cmd("Liste", "ls"), cmd("ls -la", "ls -la")};
    EXPECT_EQ(model.commands(), expected);
    EXPECT_EQ(prefs.commands(), expected);
    EXPECT_FALSE(panel.alert() && panel.alert()->isVisible());
    EXPECT_FALSE(panel.adding);
    // The second row has no command line under its label, the first has one.
    QListWidget* list = panel.list();
    ASSERT_EQ(list->count(), 2);
    EXPECT_LT(list->sizeHintForRow(1), list->sizeHintForRow(0));
}

TEST_F(Panel, EditingToTwoEmptyFieldsKeepsTheEntryInPlace)
{
    model.setCommands({cmd("a", "x"), cmd("b", "y"), cmd("c", "z")});
    std::unique_ptr<QMenu> menu(panel.rowMenu(1));
    ASSERT_EQ(menu->actions().size(), 2);
    EXPECT_EQ(menu->actions()[0]->text(), QStringLiteral("Modifier…"));
    menu->actions()[0]->trigger();
    ASSERT_NE(panel.alert(), nullptr);
    EXPECT_EQ(panel.alert()->windowTitle(), QStringLiteral("Modifier la commande"));
    EXPECT_EQ(panel.alert()->findChild<QLineEdit*>(QStringLiteral("command"))->text(), QStringLiteral("y"));
    fillAlert("", "");
    pressInAlert(QStringLiteral("Enregistrer"));
    EXPECT_EQ(prefs.commands(), (QList<SavedCommand>{cmd("a", "x"), cmd("", ""), cmd("c", "z")}));
    EXPECT_FALSE(panel.editing.has_value());
    // Cancelling an edit changes nothing and ends it.
    panel.startEdit(0);
    fillAlert("q", "q");
    pressInAlert(QStringLiteral("Annuler"));
    EXPECT_FALSE(panel.editing.has_value());
    EXPECT_EQ(model.commands().front(), cmd("a", "x"));
    std::unique_ptr<QMenu> other(panel.rowMenu(0));
    EXPECT_EQ(other->actions()[1]->text(), QStringLiteral("Supprimer"));
    other->actions()[1]->trigger();
    EXPECT_EQ(labels(prefs.commands()), QStringLiteral(",c"));
}

TEST_F(Panel, DraggingTheThirdAboveTheFirstIsKeptAcrossARestart)
{
    model.setCommands({cmd("a", "x"), cmd("b", "y"), cmd("c", "z")});
    // What the list does on a drop of its third row above its first.
    ASSERT_TRUE(panel.list()->model()->moveRow(QModelIndex(), 2, QModelIndex(), 0));
    ASSERT_TRUE(QTest::qWaitFor([&] { return model.commands().front().label == QStringLiteral("c"); }, 5000));
    MacModel restarted(prefs, nullptr, &notifier);
    EXPECT_EQ(labels(restarted.commands()), QStringLiteral("c,a,b"));
    EXPECT_EQ(panel.list()->item(0)->text(), QStringLiteral("c"));
}

TEST_F(Panel, ARunTypesTheCommandAndAReturnIntoTheActiveTabAndFocusesIt)
{
    model.setCommands({cmd("Liste", "ls -la")});
    EXPECT_FALSE(panel.list()->item(0)->flags().testFlag(Qt::ItemIsEnabled));
    MacTab* tab = model.makeTab(*model.localConnection(),
                                MacProject{QStringLiteral("p"), folder.path(), QStringLiteral("kq-p")});
    model.insertTab(tab, 0);
    tab->terminal->startProcess("/bin/sh", {"-c", "stty raw -echo && : > ready && exec cat > typed"},
                                std::vector<std::string>{"PATH=/usr/bin:/bin"}, std::nullopt,
                                folder.path().toStdString());
    ASSERT_TRUE(QTest::qWaitFor([&] { return QFile::exists(folder.file(QStringLiteral("ready"))); }, 20000));
    // Without an active tab a run sends nothing.
    panel.run(model.commands().front());
    model.activate(*tab);
    ASSERT_TRUE(panel.list()->item(0)->flags().testFlag(Qt::ItemIsEnabled));
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
    EXPECT_FALSE(panel.list()->item(0)->flags().testFlag(Qt::ItemIsEnabled));
}

} // namespace
} // namespace halvoren
