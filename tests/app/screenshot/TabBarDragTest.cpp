// The tab bar on a real X server (tests/with-xvfb) over a model on a private tmux server: an
// xdotool drag of the first chip onto the third reorders the tabs, and a model started
// afterwards on the same preferences and host shows them in the new order. And a chip's hover
// after its context menu and rename sheet, the pointer driven by xdotool.
#include "ui/TabBar.h"

#include "app/support/PrivateTmux.h"
#include "app/ui/ViewsWorkspace.h"
#include "ui/TabChip.h"

#include <QApplication>
#include <QCursor>
#include <QDialog>
#include <QMenu>
#include <QProcess>
#include <QTest>
#include <QWindow>

#include <gtest/gtest.h>

namespace halvoren {
namespace {

bool orderOnHost(const QString& session, const char* order)
{
    return QTest::qWaitFor([&] {
        return test::PrivateTmux::tmux({QStringLiteral("show-options"), QStringLiteral("-qv"), QStringLiteral("-t"),
                                        u'=' + session + u':', QStringLiteral("@hv_order")}) == QLatin1String(order);
    }, 30000);
}

TEST(TabBarDrag, TheFirstChipDroppedOnTheThirdMovesAfterItForGood)
{
    if (const std::string missing = test::PrivateTmux::missing(); !missing.empty())
        GTEST_FAIL() << missing;
    ASSERT_FALSE(QStandardPaths::findExecutable(QStringLiteral("xdotool")).isEmpty())
        << "xdotool is missing: install the Debian package xdotool";
    test::PrivateTmux server;
    // The server outlives the tabs' clients.
    test::PrivateTmux::tmux(QStringLiteral("new-session -d -s keeper").split(u' '));
    const QString preferences = server.file(QStringLiteral("preferences.json"));
    QList<MacProject> projects;
    for (const QString& name : QStringList{"A", "B", "C"})
        projects << MacProject{name, server.folder(name), tmuxSessionName(server.file(name))};
    {
        test::TabViewsWorkspace first(preferences, true);
        QCoro::waitFor(first.model.start());
        ASSERT_TRUE(first.local().tmuxAvailable());
        for (const MacProject& project : std::as_const(projects))
            first.model.openProject(project, first.local());
        ASSERT_TRUE(orderOnHost(projects[2].session, "3"));
        TabBar bar(first.model);
        bar.setWindowFlag(Qt::FramelessWindowHint);
        bar.setGeometry(40, 40, 600, TabBar::barHeight);
        bar.show();
        ASSERT_TRUE(QTest::qWaitFor([&] { return bar.windowHandle() && bar.windowHandle()->isExposed(); }, 10000));
        const QList<TabChip*> chips = bar.chips();
        const QPoint from = chips[0]->mapToGlobal(chips[0]->rect().center());
        const QPoint to = chips[2]->mapToGlobal(chips[2]->rect().center());
        // Run beside the event loop: this process carries the drag out.
        QProcess xdotool;
        xdotool.start(QStringLiteral("xdotool"),
                      QStringLiteral("mousemove %1 %2 sleep 0.2 mousedown 1 sleep 0.2 mousemove %3 %2 sleep 0.2 "
                                     "mousemove %4 %2 sleep 0.2 mousemove %5 %6 sleep 0.3 mouseup 1")
                          .arg(from.x()).arg(from.y()).arg(from.x() + 12).arg((from.x() + to.x()) / 2)
                          .arg(to.x()).arg(to.y()).split(u' '));
        ASSERT_TRUE(QTest::qWaitFor([&] { return xdotool.state() == QProcess::NotRunning; }, 30000));
        EXPECT_EQ(xdotool.exitCode(), 0);
        ASSERT_TRUE(QTest::qWaitFor([&] { return first.tabNames() == QStringLiteral("B,C,A"); }, 10000))
            << first.tabNames().toStdString();
        EXPECT_EQ(bar.chips(), (QList<TabChip*>{chips[1], chips[2], chips[0]}));
        ASSERT_TRUE(orderOnHost(projects[0].session, "3"));
    }
    test::TabViewsWorkspace second(preferences, true);
    QCoro::waitFor(second.model.start());
    EXPECT_EQ(second.tabNames(), QStringLiteral("B,C,A"));
}

// Runs one xdotool command line to its end.
bool xdotool(const QString& arguments)
{
    QProcess process;
    process.start(QStringLiteral("xdotool"), arguments.split(u' '));
    return process.waitForFinished(30000) && process.exitCode() == 0;
}

TEST(TabChipHover, GoesWhenTheRenameSheetClosesWithThePointerElsewhere)
{
    ASSERT_FALSE(QStandardPaths::findExecutable(QStringLiteral("xdotool")).isEmpty())
        << "xdotool is missing: install the Debian package xdotool";
    test::TabViewsWorkspace w;
    w.open(w.local(), QStringLiteral("/r/app"));
    TabBar bar(w.model);
    bar.setWindowFlag(Qt::FramelessWindowHint);
    bar.setGeometry(40, 40, 600, TabBar::barHeight);
    bar.show();
    ASSERT_TRUE(QTest::qWaitFor([&] { return bar.windowHandle() && bar.windowHandle()->isExposed(); }, 10000));
    TabChip* chip = bar.chips().front();
    const QPoint on = chip->mapToGlobal(chip->rect().center());
    // Where the pointer is when the sheet closes, and the hover then.
    for (const auto& [away, hovered] : {std::pair{true, false}, {false, true}}) {
        SCOPED_TRACE(away ? "pointer elsewhere" : "pointer on the chip");
        ASSERT_TRUE(xdotool(QStringLiteral("mousemove %1 %2").arg(on.x() + 200).arg(on.y() + 300)));
        ASSERT_TRUE(xdotool(QStringLiteral("mousemove %1 %2").arg(on.x()).arg(on.y())));
        ASSERT_TRUE(QTest::qWaitFor([&] { return chip->hover(); }, 10000));
        ASSERT_TRUE(xdotool(QStringLiteral("click 3")));
        ASSERT_TRUE(QTest::qWaitFor([] { return qobject_cast<QMenu*>(QApplication::activePopupWidget()) != nullptr; }, 10000));
        auto* menu = qobject_cast<QMenu*>(QApplication::activePopupWidget());
        const QPoint item = menu->mapToGlobal(menu->actionGeometry(menu->actions().front()).center());
        ASSERT_TRUE(xdotool(QStringLiteral("mousemove %1 %2 click 1").arg(item.x()).arg(item.y())));
        ASSERT_TRUE(QTest::qWaitFor([&] { return chip->renameSheet() != nullptr && chip->renameSheet()->isVisible(); }, 10000));
        QDialog* sheet = chip->renameSheet();
        const QPoint inSheet = sheet->mapToGlobal(QPoint(sheet->width() / 2, 8));
        ASSERT_TRUE(xdotool(QStringLiteral("mousemove %1 %2").arg(inSheet.x()).arg(inSheet.y())));
        if (!away)
            ASSERT_TRUE(xdotool(QStringLiteral("mousemove %1 %2").arg(on.x()).arg(on.y())));
        const QPoint last = away ? inSheet : on;
        ASSERT_TRUE(QTest::qWaitFor([&] { return QCursor::pos() == last; }, 10000));
        QTest::keyClick(sheet->focusWidget(), Qt::Key_Escape);
        ASSERT_TRUE(QTest::qWaitFor([&] { return chip->renameSheet() == nullptr; }, 10000));
        EXPECT_TRUE(QTest::qWaitFor([&] { return chip->hover() == hovered; }, 5000));
    }
}

} // namespace
} // namespace halvoren

// On the X server with-xvfb names: the drag goes through the real window system.
int main(int argc, char** argv)
{
    qputenv("QT_QPA_PLATFORM", "xcb");
    QApplication application(argc, argv);
    testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
