// The tab bar over a fake host: reordering by drops, height, tooltips, menus, renaming and clicks.
#include "ui/TabBar.h"

#include "ViewsWorkspace.h"
#include "ui/TabChip.h"

#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMimeData>
#include <QTest>

namespace halvoren {
namespace {

struct TabBarTest : test::TabViewsWorkspace, testing::Test {
    TabBar bar{model};
    // The menu's entries, "-" for the divider; triggers the entry named `run` if any.
    QStringList menu(const MacTab& tab, const QString& run = {})
    {
        std::unique_ptr<QMenu> menu(bar.chip(tab.id())->makeMenu(nullptr));
        QStringList texts;
        for (QAction* action : menu->actions()) {
            texts << (action->isSeparator() ? QStringLiteral("-") : action->text());
            if (action->text() == run)
                action->trigger();
        }
        return texts;
    }
};

TEST_F(TabBarTest, ADropPutsTheDraggedTabInTheTargetsPlace)
{
    bar.show();
    // Tabs A, B, C: the dragged tab (-1: a text that is no tab's key), the target, where the move
    // goes (-1: refused) and the order after.
    for (const auto& [dragged, target, destination, order] :
         {std::tuple{0, 2, 3, "B,C,A"}, {2, 0, 0, "C,A,B"}, {0, 1, 2, "B,A,C"}, {1, 1, -1, "A,B,C"}, {-1, 1, -1, "A,B,C"}}) {
        SCOPED_TRACE(testing::Message() << dragged << " onto " << target);
        while (!model.tabs().isEmpty())
            model.removeTab(*model.tabs().front());
        for (const char* name : {"A", "B", "C"})
            open(local(), QStringLiteral("/r/") + QLatin1String(name));
        const QStringList keys{model.tabs()[0]->id(), model.tabs()[1]->id(), model.tabs()[2]->id()};
        const QString key = dragged < 0 ? QStringLiteral("local::nothing") : keys.at(dragged);
        const std::optional<TabMove> move = tabDropMove(keys, {key}, keys.at(target));
        EXPECT_EQ(move ? move->destination : -1, destination);
        QWidget* chip = bar.chip(keys.at(target));
        QMimeData data;
        data.setText(key);
        // Qt hands a drop to the widget that took the drag's entry.
        QDragEnterEvent enter(QPoint(5, 5), Qt::MoveAction, &data, Qt::LeftButton, Qt::NoModifier);
        QCoreApplication::sendEvent(chip, &enter);
        QDropEvent drop(QPointF(5, 5), Qt::MoveAction, &data, Qt::LeftButton, Qt::NoModifier);
        QCoreApplication::sendEvent(chip, &drop);
        EXPECT_EQ(drop.isAccepted(), destination >= 0);
        EXPECT_EQ(tabNames(), QString::fromUtf8(order));
    }
}

TEST_F(TabBarTest, TakesNoHeightWithoutTabsAndActivatesOnAClick)
{
    EXPECT_EQ(bar.height(), 0);
    MacTab& first = open(local(), QStringLiteral("/r/a"));
    MacTab& second = open(local(), QStringLiteral("/r/b"));
    EXPECT_EQ(bar.height(), 38);
    bar.show();
    model.activate(first);
    QTest::mouseClick(bar.chip(second.id()), Qt::LeftButton, {}, QPoint(20, 14));
    EXPECT_EQ(model.activeTabID(), second.id());
    EXPECT_TRUE(bar.chip(second.id())->active() && !bar.chip(first.id())->active());
    model.removeTab(first);
    model.removeTab(second);
    EXPECT_EQ(bar.height(), 0);
}

TEST_F(TabBarTest, TooltipsAndMenusFollowTheTabsConnectionAndTmux)
{
    prefs.setProjectsRoots({QStringLiteral("/home/ana/projets")});
    MacConnection& gone = server(QStringLiteral("p2"));
    MacTab& orphan = open(gone, QStringLiteral("/srv/web"));
    model.removeConnection(&gone);
    MacTab& here = open(local(), QStringLiteral("/home/ana/projets/client/app"));
    MacTab& there = open(server(QStringLiteral("p1")), QStringLiteral("/srv/api"));
    local().setTmuxAvailable(false);
    MacTab& plain = open(local(), QStringLiteral("/r/b"));
    EXPECT_EQ(tabToolTip(model, here), QStringLiteral("projets/client/app"));
    EXPECT_EQ(tabToolTip(model, there), QStringLiteral("@p1 — /srv/api"));
    EXPECT_EQ(tabToolTip(model, orphan), QStringLiteral("/srv/web"));

    model.renameTab(there, QStringLiteral("api"));
    const QStringList bare{"Renommer…", "-", "Fermer l'onglet"};
    EXPECT_EQ(menu(here), (QStringList{"Renommer…", "Ouvrir une autre session ici", "-", "Fermer l'onglet",
                                       "Fermer la session tmux"}));
    EXPECT_EQ(menu(there), (QStringList{"Renommer…", "Rétablir le nom", "Ouvrir une autre session ici", "-",
                                        "Fermer l'onglet", "Fermer la session tmux"}));
    EXPECT_EQ(menu(plain), bare);
    EXPECT_EQ(menu(orphan), bare);
    const QString session = here.project.session;
    menu(here, QStringLiteral("Fermer la session tmux"));
    QCoreApplication::processEvents();
    EXPECT_EQ(tabNames(), QStringLiteral("web,api,b"));
    EXPECT_EQ(scripts.filter(QStringLiteral("tmux kill-session -t '=") + session + u'\'').size(), 1);
}

TEST_F(TabBarTest, RenamingToBlanksRemovesTheLabel)
{
    MacTab& tab = open(local(), QStringLiteral("/r/app"));
    model.renameTab(tab, QStringLiteral("Mine"));
    auto* title = bar.chip(tab.id())->findChild<QLabel*>(QStringLiteral("title"));
    EXPECT_EQ(title->text(), QStringLiteral("Mine"));
    ASSERT_TRUE(menu(tab, QStringLiteral("Renommer…")).contains(QStringLiteral("Rétablir le nom")));
    QDialog* sheet = bar.chip(tab.id())->renameSheet();
    ASSERT_NE(sheet, nullptr);
    EXPECT_EQ(sheet->windowTitle(), QStringLiteral("Renommer l'onglet"));
    auto* field = sheet->findChild<QLineEdit*>();
    EXPECT_EQ(field->text() + u'|' + field->placeholderText(), QStringLiteral("Mine|Nom"));
    field->setText(QStringLiteral("   "));
    QTest::keyClick(field, Qt::Key_Return);
    EXPECT_FALSE(model.tabLabels().contains(tab.id()));
    EXPECT_FALSE(menu(tab).contains(QStringLiteral("Rétablir le nom")));
    EXPECT_EQ(title->text(), QStringLiteral("app"));
}

} // namespace
} // namespace halvoren
