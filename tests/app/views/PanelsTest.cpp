// The quick commands panel (what saving and moving make of the list, the alert, a command typed
// into a tab whose terminal records what it is sent) and the settings window (the text size
// both ways, the projects folders).
#include "ui/CommandsPanel.h"
#include "ui/SettingsView.h"

#include "ViewsWorkspace.h"
#include "model/MacUpdate.h"
#include "remote/TermView.h"

#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMenu>
#include <QPushButton>
#include <QSlider>
#include <QTest>
#include <QVBoxLayout>

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

TEST(QuickCommands, SavingReplacesOrAppendsAndMovingKeepsTheMovedTogether)
{
    const QList<SavedCommand> two{cmd("a", "x"), cmd("b", "y")};
    for (const auto& [editing, label, command, expected] :
         {std::tuple<std::optional<qsizetype>, const char*, const char*, const char*>{std::nullopt, "", "ls -la",
                                                                                   "a|x,b|y,ls -la|ls -la"},
          {std::nullopt, "c", "", "a|x,b|y"}, {0, "", "", "|,b|y"}, {1, " B ", " y", "a|x, B | y"},
          {5, "c", "z", "a|x,b|y,c|z"}, {2, "c", "", "a|x,b|y"}})
        EXPECT_EQ(entries(savedCommands(two, editing, QString::fromUtf8(label), QString::fromUtf8(command))), expected);
    const QList<SavedCommand> four{cmd("a", ""), cmd("b", ""), cmd("c", ""), cmd("d", "")};
    for (const auto& [sources, destination, expected] :
         {std::tuple<QList<qsizetype>, qsizetype, const char*>{{2}, 0, "c|,a|,b|,d|"}, {{0}, 4, "b|,c|,d|,a|"},
          {{0}, 2, "b|,a|,c|,d|"}, {{3, 0}, 2, "b|,a|,d|,c|"}, {{9}, 0, "a|,b|,c|,d|"}, {{1}, 99, "a|,c|,d|,b|"}})
        EXPECT_EQ(entries(movedCommands(four, sources, destination)), expected);
}

struct Panel : test::ViewsWorkspace, testing::Test {
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
    answerAlert("", "ls -la", "Enregistrer");
    // The new row has no command line under its label, the others have one.
    EXPECT_LT(panel.list()->sizeHintForRow(2), panel.list()->sizeHintForRow(0));
    std::unique_ptr<QMenu> menu(panel.rowMenu(1));
    ASSERT_EQ(menu->actions().size(), 2);
    menu->actions()[0]->trigger();
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
    MacTab& tab = open(local(), MacProject{QStringLiteral("p"), folder.path(), QStringLiteral("kq-p")});
    tab.terminal->startProcess("/bin/sh", {"-c", "stty raw -echo && : > ready && exec cat > typed"},
                               std::vector<std::string>{"PATH=/usr/bin:/bin"}, std::nullopt, folder.path().toStdString());
    ASSERT_TRUE(QTest::qWaitFor([&] { return QFile::exists(folder.file(QStringLiteral("ready"))); }, 20000));
    // Without an active tab the rows are disabled and a run sends nothing.
    EXPECT_FALSE(panel.list()->item(0)->flags().testFlag(Qt::ItemIsEnabled));
    panel.run(model.commands().front());
    model.activate(tab);
    EXPECT_TRUE(panel.list()->item(0)->flags().testFlag(Qt::ItemIsEnabled));
    QWidget window;
    auto* layout = new QVBoxLayout(&window);
    auto* elsewhere = new QLineEdit(&window);
    layout->addWidget(elsewhere);
    layout->addWidget(tab.terminal);
    window.show();
    // The activation's own focus request comes first.
    QCoreApplication::processEvents();
    elsewhere->setFocus();
    ASSERT_EQ(window.focusWidget(), elsewhere);
    panel.run(model.commands().front());
    EXPECT_EQ(window.focusWidget(), tab.terminal.data());
    EXPECT_TRUE(QTest::qWaitFor([&] { return test::readAll(folder.file(QStringLiteral("typed"))) == "ls -la\r"; }, 20000))
        << test::readAll(folder.file(QStringLiteral("typed"))).toStdString();
    tab.terminal->setParent(nullptr);
    model.removeTab(tab);
}

struct Settings : test::ViewsWorkspace, testing::Test {
    std::unique_ptr<SettingsView> view;
    QStringList chosen;

    void open(const QStringList& roots)
    {
        prefs.setProjectsRoots(roots);
        view = std::make_unique<SettingsView>(model);
        view->chooseFolder = [this]() -> std::optional<QString> {
            return chosen.isEmpty() ? std::nullopt : std::optional(chosen.takeFirst());
        };
    }
    QList<bool> removable() const
    {
        QList<bool> enabled;
        for (const QPushButton* button : view->removeButtons())
            enabled << button->isEnabled();
        return enabled;
    }
};

TEST_F(Settings, TheSliderRoundsAndTheLabelFollowsTheModel)
{
    open({QStringLiteral("/srv/a")});
    view->setSliderValue(17.6);
    EXPECT_EQ(prefs.fontSize(), 18.0);
    EXPECT_EQ(view->sizeLabel()->text(), QStringLiteral("18 pt"));
    // Sizes set from the menus, clamped by the model; the label cuts to whole points.
    for (const auto& [size, text] : {std::pair{22.0, "22 pt"}, {40.0, "28 pt"}, {13.0, "13 pt"}}) {
        model.setFontSize(size);
        EXPECT_EQ(view->sizeLabel()->text().toStdString(), text);
        EXPECT_EQ(view->sizeSlider()->value(), int(size > 28 ? 28 : size));
    }
    EXPECT_EQ(fontSizeText(17.6), QStringLiteral("17 pt"));
    view->sizeSlider()->setValue(20);
    EXPECT_EQ(model.fontSize(), 20.0);
    EXPECT_TRUE(view->versionLabel()->text().endsWith(QStringLiteral(" (%1)").arg(bundleBuild())));
}

TEST_F(Settings, TheLastProjectsFolderCannotBeRemovedAndAddingShowsTheStoredList)
{
    open({QStringLiteral("/srv/a"), QStringLiteral("/srv/b")});
    EXPECT_EQ(removable(), (QList<bool>{true, true}));
    view->removeButtons().front()->click();
    ASSERT_TRUE(QTest::qWaitFor([&] { return view->roots.size() == 1; }, 5000));
    EXPECT_EQ(prefs.projectsRoots(), QStringList{QStringLiteral("/srv/b")});
    EXPECT_EQ(removable(), QList<bool>{false});
    // Already there, new, then cancelled.
    chosen = {QStringLiteral("/srv/b"), QStringLiteral("/srv/c")};
    for (int i = 0; i < 3; ++i)
        QCoro::waitFor(view->addRoot());
    EXPECT_EQ(view->roots, (QStringList{QStringLiteral("/srv/b"), QStringLiteral("/srv/c")}));
    EXPECT_EQ(prefs.projectsRoots(), view->roots);
    EXPECT_EQ(removable(), (QList<bool>{true, true}));
}

} // namespace
} // namespace halvoren
