// The tab bar over a fake host: reordering by drops, height, tooltips, menus, renaming, clicks
// and the scroll to the active chip.
#include "ui/TabBar.h"

#include "app/support/ParamName.h"
#include "app/views/TabViewsWorkspace.h"
#include "ui/TabChip.h"

#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMimeData>
#include <QTest>

#include <gtest/gtest.h>

namespace halvoren {
namespace {

// Tabs A, B, C; a dragged index of -1 drops a text that is no tab's key.
struct DropCase {
    int dragged, target;
    qsizetype destination; // -1: refused
    const char* order;
};

void PrintTo(const DropCase& c, std::ostream* out)
{
    *out << (c.dragged < 0 ? "other text" : std::string(1, char('A' + c.dragged))) << " onto "
         << char('A' + c.target) << " gives " << c.order;
}

class TabDrop : public test::TabViewsWorkspace, public testing::TestWithParam<DropCase> {};

TEST_P(TabDrop, PutsTheDraggedTabInTheTargetsPlace)
{
    const DropCase& c = GetParam();
    TabBar bar(model);
    for (const char* name : {"A", "B", "C"})
        add(local(), QStringLiteral("/r/") + QLatin1String(name));
    const QStringList keys{model.tabs()[0]->id(), model.tabs()[1]->id(), model.tabs()[2]->id()};
    const QString dragged = c.dragged < 0 ? QStringLiteral("local::nothing") : keys.at(c.dragged);
    const std::optional<TabMove> move = tabDropMove(keys, {dragged}, keys.at(c.target));
    EXPECT_EQ(move ? move->destination : -1, c.destination);

    bar.show();
    QWidget* target = bar.chip(keys.at(c.target));
    QMimeData data;
    data.setText(dragged);
    // Qt hands a drop to the widget that took the drag's entry.
    QDragEnterEvent enter(QPoint(5, 5), Qt::MoveAction, &data, Qt::LeftButton, Qt::NoModifier);
    QCoreApplication::sendEvent(target, &enter);
    QDropEvent drop(QPointF(5, 5), Qt::MoveAction, &data, Qt::LeftButton, Qt::NoModifier);
    QCoreApplication::sendEvent(target, &drop);
    EXPECT_EQ(drop.isAccepted(), c.destination >= 0);
    EXPECT_EQ(tabNames(), QString::fromUtf8(c.order));
}

INSTANTIATE_TEST_SUITE_P(TabBar, TabDrop,
                         testing::Values(DropCase{0, 2, 3, "B,C,A"}, DropCase{2, 0, 0, "C,A,B"},
                                         DropCase{0, 1, 2, "B,A,C"}, DropCase{1, 1, -1, "A,B,C"},
                                         DropCase{-1, 1, -1, "A,B,C"}),
                         test::ParamName());

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

TEST_F(TabBarTest, TakesNoHeightWithoutTabsAndActivatesOnAClick)
{
    EXPECT_EQ(bar.height(), 0);
    MacTab& first = add(local(), QStringLiteral("/r/a"));
    MacTab& second = add(local(), QStringLiteral("/r/b"));
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
    MacTab& orphan = add(gone, QStringLiteral("/srv/web"));
    model.removeConnection(&gone);
    MacTab& here = add(local(), QStringLiteral("/home/ana/projets/client/app"));
    MacTab& there = add(server(QStringLiteral("p1")), QStringLiteral("/srv/api"));
    local().setTmuxAvailable(false);
    MacTab& plain = add(local(), QStringLiteral("/r/b"));
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
    MacTab& tab = add(local(), QStringLiteral("/r/app"));
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
