// A click on a tab's notification on a real X server (tests/with-xvfb): the main window comes
// back above another window with that tab active, whichever tab it was.
#include "ui/HalvorenMacApp.h"
#include "ui/MainView.h"
#include "tab/MacTab.h"
#include "remote/SessionNaming.h"

#include "app/ui/ViewsWorkspace.h"

#include <QApplication>
#include <QMainWindow>
#include <QTest>

#include <gtest/gtest.h>

namespace halvoren {
namespace {

TEST(NotificationClick, BringsTheMainWindowForwardWithAnInactiveTab)
{
    ASSERT_EQ(QGuiApplication::platformName(), QStringLiteral("xcb")) << "run under tests/with-xvfb (Debian package xvfb)";
    test::ViewsWorkspace workspace;
    MacModel& model = workspace.model;
    workspace.prefs.setOnboardingDone(true);
    model.localConnection()->setTmuxAvailable(false);
    HalvorenMacApp app(model, workspace.update);
    app.mainView->startModel = []() -> Task<> { co_return; };
    app.mainView->startUpdate = [] {};
    QList<MacTab*> tabs;
    for (const QString& path : {QStringLiteral("/p/shown"), QStringLiteral("/p/behind")}) {
        MacTab* tab = model.makeTab(*model.localConnection(), MacProject{path.section(u'/', -1), path, tmuxSessionName(path)});
        model.insertTab(tab, model.tabs().size());
        tabs << tab;
    }
    model.activate(*tabs.front());
    app.window->show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(app.window));

    // Another window takes the front and the focus.
    QWidget other;
    other.resize(300, 200);
    other.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&other));
    other.raise();
    other.activateWindow();
    ASSERT_TRUE(QTest::qWaitFor([&] { return QApplication::activeWindow() == &other; }, 10000));

    model.openFromNotification(tabs.back()->id());
    EXPECT_TRUE(QTest::qWaitFor([&] { return QApplication::activeWindow() == app.window; }, 10000))
        << "active: " << (QApplication::activeWindow() ? QApplication::activeWindow()->objectName().toStdString() : "none");
    EXPECT_EQ(model.activeTab(), tabs.back());
    // The tab's view is inside the main window, not a window of its own.
    EXPECT_FALSE(tabs.back()->terminal->isWindow());
    EXPECT_EQ(tabs.back()->terminal->window(), app.window);
    for (MacTab* tab : tabs)
        tab->stop();
}

} // namespace
} // namespace halvoren
