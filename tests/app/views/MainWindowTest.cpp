// The main window's content and the application around it.
#include "ui/MainView.h"

#include "EntryWorkspace.h"
#include "model/MacUpdate.h"
#include "ui/AppBus.h"
#include "ui/CommandsPanel.h"
#include "ui/HalvorenMacApp.h"
#include "ui/OnboardingView.h"
#include "ui/ServersView.h"
#include "ui/SidebarView.h"

#include <QAction>
#include <QApplication>
#include <QMainWindow>
#include <QSplitter>
#include <QTest>
#include <QTimer>

#include <gtest/gtest.h>

#include <chrono>

namespace halvoren {
namespace {

using test::settle;

struct MainViewFixture : test::EntryWorkspace, testing::Test {
    MacUpdate update;
    std::unique_ptr<MainView> view;
    QStringList calls;

    // Shown, with start-up calls that only note themselves.
    void open(std::function<Task<>()> startModel = {})
    {
        view = std::make_unique<MainView>(model, update);
        view->startModel = startModel ? startModel : [this]() -> Task<> { co_return; };
        view->startUpdate = [this] { calls << QStringLiteral("update"); };
        view->show();
        settle();
    }
};

TEST_F(MainViewFixture, FirstLaunchShowsTheSidebarAndTheFirstRunSheetOnce)
{
    open();
    EXPECT_TRUE(view->sidebarView->isVisible());
    ASSERT_TRUE(view->onboardingSheet);
    EXPECT_TRUE(view->onboardingSheet->isVisible());
    EXPECT_EQ(view->onboardingSheet->windowModality(), Qt::WindowModal);
    view->onboardingSheet->begin();
    settle();
    EXPECT_FALSE(view->showOnboarding());
    open();
    EXPECT_FALSE(view->onboardingSheet);
}

TEST_F(MainViewFixture, SidebarVisibilityRoundTripsThroughThePreference)
{
    prefs.setOnboardingDone(true);
    for (const std::optional<bool> stored : {std::optional<bool>(), std::optional<bool>(false), std::optional<bool>(true)}) {
        SCOPED_TRACE(stored ? (*stored ? "stored true" : "stored false") : "nothing stored");
        stored ? prefs.setSidebarOpen(*stored) : store.remove(Prefs::sidebarOpenKey);
        const bool first = stored.value_or(true);
        open();
        EXPECT_EQ(view->sidebarView->isVisible(), first);
        for (const bool expected : {!first, first}) {
            Q_EMIT AppBus::shared().toggleSidebar();
            EXPECT_EQ(view->sidebarView->isVisible(), expected);
            EXPECT_EQ(store.boolValue(Prefs::sidebarOpenKey), expected);
        }
    }
}

TEST_F(MainViewFixture, DraggingASideColumnShutHidesItAsItsToggleWould)
{
    prefs.setOnboardingDone(true);
    model.setCommandsVisible(true);
    open();
    view->resize(1000, 600);
    settle();
    // Each handle dragged to the window's edge on its side.
    const struct {
        int handle, x;
    } drags[] = {{1, 0}, {2, 999}};
    for (const auto& d : drags) {
        QSplitterHandle* handle = view->splitter->handle(d.handle);
        const QPoint start = handle->rect().center();
        QTest::mousePress(handle, Qt::LeftButton, {}, start);
        QTest::mouseMove(handle, handle->mapFrom(view.get(), QPoint(d.x, start.y())));
        QTest::mouseRelease(handle, Qt::LeftButton, {}, handle->mapFrom(view.get(), QPoint(d.x, start.y())));
    }
    EXPECT_EQ(view->sidebar(), MainView::SidebarVisibility::detailOnly);
    EXPECT_EQ(store.boolValue(Prefs::sidebarOpenKey), std::optional<bool>(false));
    EXPECT_FALSE(model.commandsVisible());
    Q_EMIT AppBus::shared().toggleSidebar();
    settle();
    EXPECT_GE(view->sidebarView->width(), MainView::sidebarMinimumWidth) << "shown again with room";
}

TEST_F(MainViewFixture, ConnectProfileOpensTheServersSheetWithThatProfileOnce)
{
    prefs.setOnboardingDone(true);
    open();
    Q_EMIT AppBus::shared().connectProfile(QStringLiteral("p42"));
    ASSERT_TRUE(view->serversSheet);
    EXPECT_EQ(view->serversSheet->autoConnect, std::optional<QString>(QStringLiteral("p42")));
    const ServersView* first = view->serversSheet;
    Q_EMIT AppBus::shared().showServers();
    EXPECT_EQ(view->serversSheet, first) << "asked again while it shows";
    view->serversSheet->reject();
    settle();
    EXPECT_FALSE(view->showServers());
    view->serversAction->trigger();
    ASSERT_TRUE(view->serversSheet);
    EXPECT_FALSE(view->serversSheet->autoConnect.has_value());
}

TEST_F(MainViewFixture, CommandsToggleHidesTheInspectorAndStoresFalse)
{
    model.setCommandsVisible(true);
    prefs.setOnboardingDone(true);
    open();
    EXPECT_TRUE(view->commandsPanel->isVisible());
    view->commandsAction->trigger();
    EXPECT_FALSE(model.commandsVisible());
    EXPECT_EQ(store.boolValue(Prefs::rightSidebarOpenKey), std::optional<bool>(false));
    EXPECT_FALSE(view->commandsPanel->isVisible());
    model.setCommandsVisible(true);
    EXPECT_TRUE(view->commandsAction->isChecked()) << "the toolbar follows the menu";
}

TEST_F(MainViewFixture, TheUpdateCheckStartsOnlyOnceTheModelHasStarted)
{
    prefs.setOnboardingDone(true);
    // The model's start-up waits for this timer, which the test fires when it chooses.
    QTimer gate;
    gate.start(std::chrono::hours(1));
    open([&]() -> Task<> {
        calls << QStringLiteral("model");
        co_await gate;
        calls << QStringLiteral("model done");
    });
    EXPECT_EQ(calls, QStringList{QStringLiteral("model")});
    gate.start(0);
    settle();
    EXPECT_EQ(calls.join(u','), QStringLiteral("model,model done,update"));
    // A view gone while the model starts starts nothing after it.
    gate.start(std::chrono::hours(1));
    open([&]() -> Task<> { co_await gate; });
    view.reset();
    gate.start(0);
    settle();
    EXPECT_EQ(calls.size(), 3);
}

struct AppFixture : test::EntryWorkspace, testing::Test {
    MacUpdate update;
    std::unique_ptr<HalvorenMacApp> app;
    AppFixture()
    {
        prefs.setOnboardingDone(true);
        app = std::make_unique<HalvorenMacApp>(model, update);
        app->mainView->startModel = []() -> Task<> { co_return; };
        app->mainView->startUpdate = [] {};
    }
};

TEST_F(AppFixture, MainWindowNameAndSizes)
{
    EXPECT_EQ(app->window->objectName() + u'|' + app->window->windowTitle(), QStringLiteral("main|Halvoren"));
    EXPECT_EQ(app->window->size(), QSize(1400, 880));
    app->window->show();
    app->window->resize(100, 100);
    settle();
    EXPECT_GE(app->mainView->width(), 760);
    EXPECT_GE(app->mainView->height(), 460);
}

TEST_F(AppFixture, QuitsOnlyOnceTheSettingsWindowClosesToo)
{
    app->window->show();
    app->mainView->settingsAction->trigger();
    ASSERT_TRUE(app->settingsWindow() && app->settingsWindow()->isWindow());
    settle();
    QStringList events;
    QObject::connect(qApp, &QGuiApplication::lastWindowClosed, app.get(), [&] { events << QStringLiteral("last"); });
    QTimer::singleShot(0, app.get(), [&] {
        events << QStringLiteral("main closed");
        app->window->close();
    });
    QTimer::singleShot(50, app.get(), [&] {
        events << QStringLiteral("settings closed");
        app->settingsWindow()->close();
    });
    // Ends the loop only when closing both windows did not.
    QTimer::singleShot(5000, app.get(), [] { QApplication::exit(1); });
    EXPECT_EQ(QApplication::exec(), 0);
    EXPECT_EQ(events.join(u','), QStringLiteral("main closed,settings closed,last"));
}

} // namespace
} // namespace halvoren
