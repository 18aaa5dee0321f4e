// The main window's content and the application around it: the first-run sheet, the sidebar
// and its stored visibility, the servers sheet and its automatic connection, the commands
// toggle, the order of the start-up calls, the window sizes and quitting after the last window.
#include "ui/MainView.h"

#include "EntryWorkspace.h"
#include "model/MacUpdate.h"
#include "ui/AppBus.h"
#include "ui/CommandsPanel.h"
#include "ui/HalvorenCommands.h"
#include "ui/HalvorenMacApp.h"
#include "ui/OnboardingView.h"
#include "ui/ServersView.h"
#include "ui/SettingsView.h"
#include "ui/SidebarView.h"

#include <QAction>
#include <QApplication>
#include <QMainWindow>
#include <QTest>
#include <QTimer>

#include <gtest/gtest.h>

#include <coroutine>

namespace halvoren {
namespace {

using test::settle;

// Holds a coroutine until the test lets it go on.
struct Gate {
    std::coroutine_handle<> waiting;
    // Awaiters travel by value; this one points back at its gate.
    struct Awaiter {
        Gate* gate;
        bool await_ready() const noexcept { return false; }
        void await_suspend(std::coroutine_handle<> handle) { gate->waiting = handle; }
        void await_resume() const noexcept {}
    };
    Awaiter wait() { return Awaiter{this}; }
    bool open()
    {
        std::coroutine_handle<> handle = std::exchange(waiting, nullptr);
        if (handle)
            handle.resume();
        return bool(handle);
    }
};

struct MainViewFixture : test::EntryWorkspace, testing::Test {
    MacUpdate update;
    std::unique_ptr<MainView> view;
    QStringList calls;

    // The view with start-up calls that only note themselves.
    MainView& make()
    {
        view = std::make_unique<MainView>(model, update);
        view->startModel = [this]() -> Task<> {
            calls << QStringLiteral("model");
            co_return;
        };
        view->startUpdate = [this] { calls << QStringLiteral("update"); };
        return *view;
    }
    void showView()
    {
        view->show();
        settle();
    }
};

TEST_F(MainViewFixture, FirstLaunchShowsTheSidebarAndTheFirstRunSheet)
{
    make();
    showView();
    EXPECT_EQ(view->sidebar(), MainView::SidebarVisibility::all);
    EXPECT_TRUE(view->sidebarView->isVisible());
    ASSERT_TRUE(view->onboardingSheet);
    EXPECT_TRUE(view->onboardingSheet->isVisible());
    EXPECT_EQ(view->onboardingSheet->windowModality(), Qt::WindowModal);
    EXPECT_TRUE(view->showOnboarding());
    view->onboardingSheet->begin();
    settle();
    EXPECT_FALSE(view->showOnboarding());
    EXPECT_FALSE(view->onboardingSheet);
}

TEST_F(MainViewFixture, AFinishedFirstRunShowsNoSheet)
{
    prefs.setOnboardingDone(true);
    make();
    showView();
    EXPECT_FALSE(view->onboardingSheet);
    EXPECT_FALSE(view->showOnboarding());
}

TEST_F(MainViewFixture, SidebarVisibilityFollowsTheToggleAndIsStored)
{
    // Stored value at launch, then the value stored after each of three toggles.
    const struct {
        std::optional<bool> stored;
        bool afterFirst, afterSecond;
    } cases[] = {{std::nullopt, false, true}, {false, true, false}, {true, false, true}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.stored ? (*c.stored ? "stored true" : "stored false") : "nothing stored");
        if (c.stored)
            prefs.setSidebarOpen(*c.stored);
        else
            store.remove(Prefs::sidebarOpenKey);
        prefs.setOnboardingDone(true);
        make();
        showView();
        EXPECT_EQ(view->sidebarView->isVisible(), c.stored.value_or(true));
        Q_EMIT AppBus::shared().toggleSidebar();
        EXPECT_EQ(view->sidebarView->isVisible(), c.afterFirst);
        EXPECT_EQ(store.boolValue(Prefs::sidebarOpenKey), c.afterFirst);
        Q_EMIT AppBus::shared().toggleSidebar();
        EXPECT_EQ(view->sidebarView->isVisible(), c.afterSecond);
        EXPECT_EQ(store.boolValue(Prefs::sidebarOpenKey), c.afterSecond);
        // Shown again, the column has room.
        if (c.afterSecond) {
            settle();
            EXPECT_GE(view->sidebarView->width(), MainView::sidebarMinimumWidth);
        }
        view.reset();
    }
}

TEST_F(MainViewFixture, ConnectProfileOpensTheServersSheetOnceWithThatProfile)
{
    prefs.setOnboardingDone(true);
    make();
    showView();
    EXPECT_FALSE(view->showServers());
    Q_EMIT AppBus::shared().connectProfile(QStringLiteral("p42"));
    ASSERT_TRUE(view->serversSheet);
    EXPECT_EQ(view->serversSheet->autoConnect, std::optional<QString>(QStringLiteral("p42")));
    EXPECT_EQ(view->serversSheet->windowModality(), Qt::WindowModal);
    const ServersView* first = view->serversSheet;
    // Asking again while it shows changes nothing.
    Q_EMIT AppBus::shared().showServers();
    EXPECT_EQ(view->serversSheet, first);

    view->serversSheet->reject();
    settle();
    EXPECT_FALSE(view->showServers());
    EXPECT_FALSE(view->autoConnect().has_value());
    view->serversAction->trigger();
    ASSERT_TRUE(view->serversSheet);
    EXPECT_FALSE(view->serversSheet->autoConnect.has_value());
    view->serversSheet->reject();
    settle();
    // An empty id connects nothing.
    Q_EMIT AppBus::shared().connectProfile(QString());
    ASSERT_TRUE(view->serversSheet);
    EXPECT_FALSE(view->serversSheet->autoConnect.has_value());
}

TEST_F(MainViewFixture, CommandsToggleHidesTheInspectorAndStoresFalse)
{
    model.setCommandsVisible(true);
    prefs.setOnboardingDone(true);
    make();
    showView();
    EXPECT_TRUE(view->commandsPanel->isVisible());
    EXPECT_TRUE(view->commandsAction->isChecked());
    view->commandsAction->trigger();
    EXPECT_FALSE(model.commandsVisible());
    EXPECT_EQ(store.boolValue(Prefs::rightSidebarOpenKey), std::optional<bool>(false));
    EXPECT_FALSE(view->commandsPanel->isVisible());
    // The menu's toggle is followed by the toolbar and the column.
    model.setCommandsVisible(true);
    EXPECT_TRUE(view->commandsAction->isChecked());
    EXPECT_TRUE(view->commandsPanel->isVisible());
    settle();
    EXPECT_GE(view->commandsPanel->width(), MainView::inspectorMinimumWidth);
}

TEST_F(MainViewFixture, ToolbarCarriesItsLabelsAndHelp)
{
    make();
    QStringList items;
    for (const QAction* action : {view->serversAction, view->composeAction, view->commandsAction, view->settingsAction})
        items << action->text() + u'=' + action->toolTip();
    EXPECT_EQ(items.join(u'|'), QStringLiteral("Serveurs=Serveurs SSH|Barre de message=Barre de message (Ctrl+Maj+M)|"
                                               "Commandes=Commandes rapides (Ctrl+Maj+D)|Réglages=Réglages (Ctrl+,)"));
}

TEST_F(MainViewFixture, TheUpdateCheckStartsOnlyOnceTheModelHasStarted)
{
    prefs.setOnboardingDone(true);
    make();
    Gate gate;
    view->startModel = [&]() -> Task<> {
        calls << QStringLiteral("model");
        co_await gate.wait();
        calls << QStringLiteral("model done");
    };
    EXPECT_TRUE(calls.isEmpty()) << "nothing starts before the view shows";
    showView();
    EXPECT_EQ(calls, QStringList{QStringLiteral("model")});
    ASSERT_TRUE(gate.open());
    EXPECT_EQ(calls.join(u','), QStringLiteral("model,model done,update"));
    // Shown again later: nothing starts twice.
    view->hide();
    showView();
    EXPECT_EQ(calls.size(), 3);
}

TEST_F(MainViewFixture, AViewClosedDuringStartUpStartsNoUpdateCheck)
{
    prefs.setOnboardingDone(true);
    make();
    Gate gate;
    view->startModel = [&]() -> Task<> { co_await gate.wait(); };
    showView();
    view.reset();
    ASSERT_TRUE(gate.open());
    EXPECT_TRUE(calls.isEmpty());
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

TEST_F(AppFixture, MainWindowSizesTitleAndOneSharedModel)
{
    EXPECT_EQ(app->window->objectName(), QStringLiteral("main"));
    EXPECT_EQ(app->window->windowTitle(), QStringLiteral("Halvoren"));
    EXPECT_EQ(app->window->size(), QSize(1400, 880));
    EXPECT_EQ(app->mainView->minimumSize(), QSize(760, 460));
    app->window->show();
    app->window->resize(100, 100);
    settle();
    EXPECT_GE(app->mainView->width(), 760);
    EXPECT_GE(app->mainView->height(), 460);
    app->showSettings();
    ASSERT_NE(app->settingsWindow(), nullptr);
    EXPECT_TRUE(app->settingsWindow()->isWindow());
    EXPECT_EQ(&app->settingsWindow()->model, &model);
    EXPECT_EQ(&app->commands->model, &model);
    EXPECT_EQ(&app->mainView->model, &model);
    // Opened again, the same window comes forward.
    const SettingsView* settings = app->settingsWindow();
    app->mainView->settingsAction->trigger();
    EXPECT_EQ(app->settingsWindow(), settings);
    app->settingsWindow()->close();
}

TEST_F(AppFixture, QuitsOnlyOnceTheSettingsWindowClosesToo)
{
    app->window->show();
    app->showSettings();
    settle();
    QStringList events;
    QObject::connect(qApp, &QGuiApplication::lastWindowClosed, app.get(),
                     [&] { events << QStringLiteral("last window closed"); });
    QTimer::singleShot(0, app.get(), [&] {
        events << QStringLiteral("main closed");
        app->window->close();
    });
    QTimer::singleShot(50, app.get(), [&] {
        events << QStringLiteral("settings closed");
        app->settingsWindow()->close();
    });
    // Only reached when closing every window did not end the loop.
    QTimer guard;
    guard.setSingleShot(true);
    QObject::connect(&guard, &QTimer::timeout, [&] {
        events << QStringLiteral("still running");
        QApplication::exit(1);
    });
    guard.start(5000);
    EXPECT_EQ(QApplication::exec(), 0);
    EXPECT_EQ(events.join(u','), QStringLiteral("main closed,settings closed,last window closed"));
}

} // namespace
} // namespace halvoren
