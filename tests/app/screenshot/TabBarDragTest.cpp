// The tab bar on a real X server (tests/with-xvfb) over a model on a private tmux server: an
// xdotool drag of the first chip onto the third reorders the tabs, and a model started
// afterwards on the same preferences and host shows them in the new order.
#include "ui/TabBar.h"

#include "app/support/PrivateTmux.h"
#include "app/ui/ViewsWorkspace.h"
#include "ui/TabChip.h"

#include <QApplication>
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
