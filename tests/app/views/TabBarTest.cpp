// The tab bar over a fake host: reordering by drops, its height, the chips' tooltips, menus,
// renaming, clicks and the scroll to the active chip.
#include "ui/TabBar.h"

#include "app/support/ParamName.h"
#include "app/views/TabViewsWorkspace.h"
#include "ui/TabChip.h"

#include <QAbstractButton>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMimeData>
#include <QPushButton>
#include <QTest>

#include <gtest/gtest.h>

namespace halvoren {
namespace {

struct DropCase {
    const char* dragged;
    const char* target;
    // -1: refused.
    qsizetype destination;
    const char* order;
};

void PrintTo(const DropCase& c, std::ostream* out)
{
    *out << (*c.dragged != 0 ? c.dragged : "empty text") << " onto " << c.target << " gives " << c.order;
}

class TabDrop : public test::TabViewsWorkspace, public testing::TestWithParam<DropCase> {};

TEST_P(TabDrop, MovesTheDraggedTabIntoTheTargetsPlace)
{
    const DropCase& c = GetParam();
    TabBar bar(model);
    QStringList keys;
    for (const char* name : {"A", "B", "C"})
        keys << add(local(), QStringLiteral("/r/") + QLatin1String(name)).id();
    const auto keyOf = [&keys](const char* name) {
        const int index = QByteArray("ABC").indexOf(name);
        return index >= 0 && qstrlen(name) == 1 ? keys.at(index) : QString::fromUtf8(name);
    };
    const std::optional<TabMove> move = tabDropMove(keys, {keyOf(c.dragged)}, keyOf(c.target));
    EXPECT_EQ(move ? move->destination : -1, c.destination);

    bar.show();
    const QList<TabChip*> before = bar.chips();
    auto* data = new QMimeData();
    data->setText(keyOf(c.dragged));
    // Qt hands a drop to the widget that took the drag's entry.
    QWidget* target = bar.chip(keyOf(c.target));
    QDragEnterEvent enter(QPoint(5, 5), Qt::MoveAction, data, Qt::LeftButton, Qt::NoModifier);
    QCoreApplication::sendEvent(target, &enter);
    QDropEvent drop(QPointF(5, 5), Qt::MoveAction, data, Qt::LeftButton, Qt::NoModifier);
    QCoreApplication::sendEvent(target, &drop);
    EXPECT_EQ(drop.isAccepted(), c.destination >= 0);
    EXPECT_EQ(tabNames().join(u','), QString::fromUtf8(c.order));
    // The same chips, in the new order.
    QStringList chipOrder;
    for (TabChip* chip : bar.chips()) {
        EXPECT_TRUE(before.contains(chip));
        chipOrder << chip->tab()->project.name;
    }
    EXPECT_EQ(chipOrder, tabNames());
    delete data;
}

INSTANTIATE_TEST_SUITE_P(TabBar, TabDrop,
                         testing::Values(DropCase{"A", "C", 3, "B,C,A"}, DropCase{"C", "A", 0, "C,A,B"},
                                         DropCase{"A", "B", 2, "B,A,C"}, DropCase{"B", "B", -1, "A,B,C"},
                                         DropCase{"local::nothing", "B", -1, "A,B,C"},
                                         DropCase{"", "A", -1, "A,B,C"}),
                         test::ParamName());

TEST(TabDropRule, NoItemIsRefusedAndOnlyTheFirstItemCounts)
{
    const QStringList keys{QStringLiteral("k1"), QStringLiteral("k2")};
    EXPECT_FALSE(tabDropMove(keys, {}, QStringLiteral("k2")));
    EXPECT_EQ(tabDropMove(keys, {QStringLiteral("k2"), QStringLiteral("k9")}, QStringLiteral("k1")), (TabMove{1, 0}));
    EXPECT_FALSE(tabDropMove(keys, {QStringLiteral("k1")}, QStringLiteral("gone")));
}

struct TabBarFixture : test::TabViewsWorkspace, testing::Test {
    static QStringList entries(TabChip& chip)
    {
        std::unique_ptr<QMenu> menu(chip.makeMenu(nullptr));
        QStringList texts;
        for (QAction* action : menu->actions())
            texts << (action->isSeparator() ? QStringLiteral("-") : action->text());
        return texts;
    }
    static void trigger(TabChip& chip, const QString& text)
    {
        std::unique_ptr<QMenu> menu(chip.makeMenu(nullptr));
        for (QAction* action : menu->actions()) {
            if (action->text() == text)
                return action->trigger();
        }
        FAIL() << "no entry " << text.toStdString();
    }
};

TEST_F(TabBarFixture, TakesNoHeightWithoutTabs)
{
    TabBar bar(model);
    EXPECT_EQ(bar.height(), 0);
    MacTab& tab = add(local(), QStringLiteral("/r/a"));
    EXPECT_EQ(bar.height(), 38);
    model.removeTab(tab);
    EXPECT_EQ(bar.height(), 0);
    EXPECT_TRUE(bar.chips().isEmpty());
}

TEST_F(TabBarFixture, TooltipsNameTheServerBeforeTheSubtitle)
{
    prefs.setProjectsRoots({QStringLiteral("/home/ana/projets")});
    MacConnection& atelier = server(QStringLiteral("p1"), QStringLiteral("Atelier"));
    MacConnection& gone = server(QStringLiteral("p2"), QStringLiteral("Parti"));
    const MacTab& here = add(local(), QStringLiteral("/home/ana/projets/client/app"));
    const MacTab& there = add(atelier, QStringLiteral("/srv/api"));
    const MacTab& orphan = add(gone, QStringLiteral("/srv/web"));
    model.removeConnection(&gone);
    EXPECT_EQ(tabToolTip(model, here), QStringLiteral("projets/client/app"));
    EXPECT_EQ(tabToolTip(model, there), QStringLiteral("Atelier — ") + model.tabSubtitle(there));
    EXPECT_EQ(tabToolTip(model, orphan), QStringLiteral("/srv/web"));
}

TEST_F(TabBarFixture, MenusOfferTmuxEntriesOnlyForTmuxTabsOfAConnectedHost)
{
    TabBar bar(model);
    MacConnection& atelier = server(QStringLiteral("p1"), QStringLiteral("Atelier"));
    MacConnection& gone = server(QStringLiteral("p2"), QStringLiteral("Parti"));
    MacTab& tmux = add(local(), QStringLiteral("/r/a"));
    MacTab& remote = add(atelier, QStringLiteral("/srv/api"));
    MacTab& orphan = add(gone, QStringLiteral("/srv/web"));
    local().setTmuxAvailable(false);
    MacTab& plain = add(local(), QStringLiteral("/r/b"));
    model.removeConnection(&gone);
    model.renameTab(remote, QStringLiteral("api"));

    const QStringList withTmux{"Renommer…", "Ouvrir une autre session ici", "-", "Fermer l'onglet",
                               "Fermer la session tmux"};
    EXPECT_EQ(entries(*bar.chip(tmux.id())), withTmux);
    EXPECT_EQ(entries(*bar.chip(remote.id())), (QStringList{"Renommer…", "Rétablir le nom", "Ouvrir une autre session ici",
                                                            "-", "Fermer l'onglet", "Fermer la session tmux"}));
    const QStringList bare{"Renommer…", "-", "Fermer l'onglet"};
    EXPECT_EQ(entries(*bar.chip(plain.id())), bare);
    EXPECT_EQ(entries(*bar.chip(orphan.id())), bare);

    // Closing the tmux session removes the tab and ends the session on the host.
    const QString session = tmux.project.session;
    trigger(*bar.chip(tmux.id()), QStringLiteral("Fermer la session tmux"));
    QCoreApplication::processEvents();
    EXPECT_EQ(tabNames(), (QStringList{"api", "web", "b"}));
    EXPECT_EQ(scripts.filter(QStringLiteral("tmux kill-session -t '=") + session + u'\'').size(), 1);
}

TEST_F(TabBarFixture, RenamingToBlanksRemovesTheLabel)
{
    TabBar bar(model);
    MacTab& tab = add(local(), QStringLiteral("/r/app"));
    TabChip& chip = *bar.chip(tab.id());
    model.renameTab(tab, QStringLiteral("Mine"));
    ASSERT_TRUE(entries(chip).contains(QStringLiteral("Rétablir le nom")));
    EXPECT_EQ(chip.findChild<QLabel*>(QStringLiteral("title"))->text(), QStringLiteral("Mine"));

    trigger(chip, QStringLiteral("Renommer…"));
    QDialog* sheet = chip.renameSheet();
    ASSERT_NE(sheet, nullptr);
    EXPECT_EQ(sheet->windowTitle(), QStringLiteral("Renommer l'onglet"));
    auto* field = sheet->findChild<QLineEdit*>();
    EXPECT_EQ(field->text(), QStringLiteral("Mine"));
    EXPECT_EQ(field->placeholderText(), QStringLiteral("Nom"));
    field->setText(QStringLiteral("   "));
    QTest::keyClick(field, Qt::Key_Return);
    EXPECT_FALSE(model.tabLabels().contains(tab.id()));
    EXPECT_FALSE(entries(chip).contains(QStringLiteral("Rétablir le nom")));
    EXPECT_EQ(chip.findChild<QLabel*>(QStringLiteral("title"))->text(), QStringLiteral("app"));
    EXPECT_TRUE(prefs.tabLabels().isEmpty());
}

TEST_F(TabBarFixture, AClickActivatesAndTheCloseButtonCloses)
{
    TabBar bar(model);
    MacTab& first = add(local(), QStringLiteral("/r/a"));
    MacTab& second = add(local(), QStringLiteral("/r/b"));
    model.activate(first);
    bar.resize(600, 38);
    bar.show();
    TabChip* chip = bar.chip(second.id());
    QTest::mouseClick(chip, Qt::LeftButton, {}, QPoint(chip->width() / 2, 14));
    EXPECT_EQ(model.activeTabID(), second.id());
    EXPECT_TRUE(chip->active());
    EXPECT_FALSE(bar.chip(first.id())->active());

    auto* close = chip->findChild<QAbstractButton*>();
    EXPECT_EQ(close->toolTip(), QStringLiteral("Fermer l'onglet (Ctrl+Maj+W)"));
    QTest::mouseClick(close, Qt::LeftButton);
    EXPECT_EQ(tabNames(), QStringList{QStringLiteral("a")});
    EXPECT_EQ(model.activeTabID(), first.id());
    ASSERT_EQ(model.closedTabs.size(), 1);
    EXPECT_EQ(model.closedTabs.front().path, QStringLiteral("/r/b"));
}

TEST_F(TabBarFixture, ScrollsTheActiveChipToTheMiddleOnlyWhenTheActiveTabChanges)
{
    QList<MacTab*> tabs;
    for (int i = 0; i < 30; ++i)
        tabs << &add(local(), QStringLiteral("/r/project-%1").arg(i));
    model.activate(*tabs.at(20));
    TabBar bar(model);
    bar.resize(400, 38);
    bar.show();
    QCoreApplication::processEvents();
    EXPECT_FALSE(bar.scrollTarget());

    model.activate(*tabs.at(15));
    QCoreApplication::processEvents();
    ASSERT_TRUE(bar.scrollTarget());
    const QRect chip = bar.chip(tabs.at(15)->id())->geometry();
    EXPECT_NEAR(*bar.scrollTarget() + 200, chip.center().x(), 2);
    // The first tab cannot come to the middle: the strip stops at its start.
    model.activate(*tabs.at(0));
    QCoreApplication::processEvents();
    EXPECT_EQ(bar.scrollTarget(), 0);
}

} // namespace
} // namespace halvoren
