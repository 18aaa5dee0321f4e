// The tab bar on a real X server (tests/with-xvfb), over a model on a private tmux server: a
// pointer drag made with xdotool moves the first chip onto the third, and a model started
// afterwards on the same preferences and host shows the tabs in the new order.
#include "ui/TabBar.h"

#include "model/MacModel.h"
#include "platform/Notifier.h"
#include "remote/MacTab.h"
#include "remote/SessionNaming.h"
#include "ui/TabChip.h"

#include "app/support/PrivateTmux.h"
#include "app/workspace/ManualClock.h"

#include <QApplication>
#include <QDBusConnection>
#include <QProcess>
#include <QTest>
#include <QWindow>

#include <gtest/gtest.h>

#include <memory>

namespace halvoren {
namespace {

struct Workspace {
    explicit Workspace(const QString& preferences) : store(preferences) { model.clock = clock; }
    PreferenceStore store;
    Prefs prefs{store};
    Notifier notifier{QDBusConnection(QStringLiteral("no-bus"))};
    MacModel model{prefs, nullptr, &notifier};
    std::shared_ptr<test::ManualClock> clock = std::make_shared<test::ManualClock>();

    QStringList names() const
    {
        QStringList names;
        for (const MacTab* tab : model.tabs())
            names << tab->project.name;
        return names;
    }
};

QString option(const QString& session, const QString& name)
{
    return test::PrivateTmux::tmux({QStringLiteral("show-options"), QStringLiteral("-qv"), QStringLiteral("-t"),
                                    u'=' + session + u':', name});
}

// Runs xdotool without stopping the event loop: the drag is carried out by this process.
bool xdotool(const QStringList& arguments)
{
    QProcess process;
    process.start(QStringLiteral("xdotool"), arguments);
    if (!QTest::qWaitFor([&process] { return process.state() == QProcess::NotRunning; }, 30000))
        return false;
    return process.exitStatus() == QProcess::NormalExit && process.exitCode() == 0;
}

QStringList point(const QPoint& at)
{
    return {QString::number(at.x()), QString::number(at.y())};
}

TEST(TabBarDrag, DraggingTheFirstChipOntoTheThirdReordersTabsThatSurviveARestart)
{
    if (const std::string missing = test::PrivateTmux::missing(); !missing.empty())
        GTEST_FAIL() << missing;
    ASSERT_FALSE(QStandardPaths::findExecutable(QStringLiteral("xdotool")).isEmpty())
        << "xdotool is missing: install the Debian package xdotool";
    test::PrivateTmux server;
    // The server outlives the tabs' clients.
    test::PrivateTmux::tmux({QStringLiteral("new-session"), QStringLiteral("-d"), QStringLiteral("-s"),
                             QStringLiteral("keeper")});
    const QString preferences = server.file(QStringLiteral("preferences.json"));
    QList<MacProject> projects;
    for (const char* name : {"A", "B", "C"}) {
        const QString path = server.folder(QLatin1String(name));
        projects << MacProject{QLatin1String(name), path, tmuxSessionName(path)};
    }

    {
        Workspace first(preferences);
        QCoro::waitFor(first.model.start());
        ASSERT_TRUE(first.model.localConnection()->tmuxAvailable());
        for (const MacProject& project : std::as_const(projects))
            first.model.openProject(project, *first.model.localConnection());
        ASSERT_TRUE(QTest::qWaitFor([&] { return option(projects[2].session, QStringLiteral("@hv_order")) == "3"; },
                                    30000));

        TabBar bar(first.model);
        bar.setWindowFlag(Qt::FramelessWindowHint);
        bar.setGeometry(40, 40, 600, TabBar::barHeight);
        bar.show();
        ASSERT_TRUE(QTest::qWaitFor([&] { return bar.windowHandle() && bar.windowHandle()->isExposed(); }, 10000));
        QTest::qWait(200);
        const QList<TabChip*> chips = bar.chips();
        ASSERT_EQ(chips.size(), 3);
        const QPoint from = chips[0]->mapToGlobal(chips[0]->rect().center());
        const QPoint to = chips[2]->mapToGlobal(chips[2]->rect().center());
        const QPoint started = from + QPoint(12, 0);
        const QPoint halfway = (from + to) / 2;
        ASSERT_TRUE(xdotool(QStringList{QStringLiteral("mousemove")} + point(from)
                            + QStringList{QStringLiteral("sleep"), QStringLiteral("0.2"), QStringLiteral("mousedown"),
                                          QStringLiteral("1"), QStringLiteral("sleep"), QStringLiteral("0.2"),
                                          QStringLiteral("mousemove")}
                            + point(started) + QStringList{QStringLiteral("sleep"), QStringLiteral("0.2"),
                                                           QStringLiteral("mousemove")}
                            + point(halfway) + QStringList{QStringLiteral("sleep"), QStringLiteral("0.2"),
                                                           QStringLiteral("mousemove")}
                            + point(to)
                            + QStringList{QStringLiteral("sleep"), QStringLiteral("0.3"), QStringLiteral("mouseup"),
                                          QStringLiteral("1")}));
        ASSERT_TRUE(QTest::qWaitFor([&] { return first.names() == QStringList{"B", "C", "A"}; }, 10000))
            << first.names().join(u',').toStdString();
        // The chips follow, and the host learns the order.
        EXPECT_EQ(bar.chips(), (QList<TabChip*>{chips[1], chips[2], chips[0]}));
        ASSERT_TRUE(QTest::qWaitFor([&] { return option(projects[0].session, QStringLiteral("@hv_order")) == "3"; },
                                    30000));
    }

    Workspace second(preferences);
    QList<PersistedTab> saved = second.prefs.tabs(MacConnection::localID);
    ASSERT_EQ(saved.size(), 3);
    EXPECT_EQ(saved[0].name + saved[1].name + saved[2].name, QStringLiteral("BCA"));
    QCoro::waitFor(second.model.start());
    EXPECT_EQ(second.names(), (QStringList{"B", "C", "A"}));
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
