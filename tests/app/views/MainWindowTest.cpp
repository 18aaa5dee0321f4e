// The main window's content, its menus and keys, the first-run sheet and the application.
#include "ui/MainView.h"

#include "ViewsWorkspace.h"
#include "model/MacUpdate.h"
#include "remote/TermView.h"
#include "ui/AppBus.h"
#include "ui/CommandsPanel.h"
#include "ui/HalvorenCommands.h"
#include "ui/HalvorenMacApp.h"
#include "ui/OnboardingView.h"
#include "ui/ServersView.h"
#include "ui/SidebarView.h"

#include <QAction>
#include <QApplication>
#include <QLabel>
#include <QMainWindow>
#include <QPushButton>
#include <QSplitter>
#include <QTest>
#include <QTimer>

#include <chrono>
#include <tuple>

namespace halvoren {
namespace {

using test::settle;

struct MainViewFixture : test::ViewsWorkspace, testing::Test {
    MacUpdate update;
    std::unique_ptr<MainView> view;
    QStringList calls;

    // Shown, with start-up calls that only note themselves.
    void open(std::function<Task<>()> startModel = {}, bool onboarded = true)
    {
        if (onboarded)
            prefs.setOnboardingDone(true);
        view = std::make_unique<MainView>(model, update);
        view->startModel = startModel ? startModel : [this]() -> Task<> { co_return; };
        view->startUpdate = [this] { calls << QStringLiteral("update"); };
        view->show();
        settle();
    }
};

TEST_F(MainViewFixture, FirstLaunchShowsTheFirstRunSheetOnce)
{
    open({}, false);
    ASSERT_TRUE(view->onboardingSheet);
    EXPECT_TRUE(view->onboardingSheet->isVisible() && view->sidebarView->isVisible());
    EXPECT_EQ(view->onboardingSheet->windowModality(), Qt::WindowModal);
    view->onboardingSheet->begin();
    settle();
    EXPECT_FALSE(view->showOnboarding());
    open({}, false);
    EXPECT_FALSE(view->onboardingSheet);
}

TEST_F(MainViewFixture, SidebarAndCommandsTogglesStoreTheirState)
{
    for (const std::optional<bool> stored : {std::optional<bool>(), std::optional<bool>(false), std::optional<bool>(true)}) {
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
    model.setCommandsVisible(true);
    EXPECT_TRUE(view->commandsPanel->isVisible());
    view->commandsAction->trigger();
    EXPECT_EQ(store.boolValue(Prefs::rightSidebarOpenKey), std::optional<bool>(false));
    EXPECT_FALSE(view->commandsPanel->isVisible() || model.commandsVisible());
    model.setCommandsVisible(true);
    EXPECT_TRUE(view->commandsAction->isChecked()) << "the toolbar follows the menu";
}

TEST_F(MainViewFixture, DraggingASideColumnShutHidesItAsItsToggleWould)
{
    model.setCommandsVisible(true);
    open();
    view->resize(1000, 600);
    settle();
    // Each handle dragged to the window's edge on its side.
    for (const auto& [index, x] : {std::pair{1, 0}, {2, 999}}) {
        QSplitterHandle* handle = view->splitter->handle(index);
        const QPoint start = handle->rect().center(), end = handle->mapFrom(view.get(), QPoint(x, start.y()));
        QTest::mousePress(handle, Qt::LeftButton, {}, start);
        QTest::mouseMove(handle, end);
        QTest::mouseRelease(handle, Qt::LeftButton, {}, end);
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
    open();
    Q_EMIT AppBus::shared().connectProfile(QStringLiteral("p42"));
    ASSERT_TRUE(view->serversSheet);
    EXPECT_EQ(view->serversSheet->autoConnect, std::optional<QString>(QStringLiteral("p42")));
    const ServersView* first = view->serversSheet;
    Q_EMIT AppBus::shared().showServers();
    EXPECT_EQ(view->serversSheet, first) << "asked again while it shows";
    view->serversSheet->reject();
    settle();
    view->serversAction->trigger();
    ASSERT_TRUE(view->serversSheet);
    EXPECT_FALSE(view->serversSheet->autoConnect.has_value());
}

TEST_F(MainViewFixture, TheUpdateCheckStartsOnlyOnceTheModelHasStarted)
{
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

TEST_F(MainViewFixture, QuitsOnlyOnceTheSettingsWindowClosesToo)
{
    prefs.setOnboardingDone(true);
    HalvorenMacApp app(model, update);
    app.mainView->startModel = []() -> Task<> { co_return; };
    app.mainView->startUpdate = [] {};
    app.window->show();
    app.mainView->settingsAction->trigger();
    ASSERT_TRUE(app.settingsWindow() && app.settingsWindow()->isWindow());
    settle();
    QStringList events;
    QObject::connect(qApp, &QGuiApplication::lastWindowClosed, &app, [&] { events << QStringLiteral("last"); });
    QTimer::singleShot(0, &app, [&] {
        events << QStringLiteral("main closed");
        app.window->close();
    });
    QTimer::singleShot(50, &app, [&] {
        events << QStringLiteral("settings closed");
        app.settingsWindow()->close();
    });
    // Ends the loop only when closing both windows did not.
    QTimer::singleShot(5000, &app, [] { QApplication::exit(1); });
    EXPECT_EQ(QApplication::exec(), 0);
    EXPECT_EQ(events.join(u','), QStringLiteral("main closed,settings closed,last"));
}

struct MenuFixture : test::ViewsWorkspace, testing::Test {
    QMainWindow window;
    HalvorenCommands commands{model, &window};
    void openTabs(int count)
    {
        for (int i = 0; i < count; ++i)
            open(local(), QStringLiteral("/p/t%1").arg(i));
    }
};

TEST_F(MenuFixture, CloseIsEnabledOnlyWhileATabIsActive)
{
    EXPECT_FALSE(commands.closeTabAction->isEnabled());
    commands.reopenTabAction->trigger();
    EXPECT_TRUE(model.tabs().isEmpty()) << "reopening with an empty history";
    MacTab& tab = open(local(), QStringLiteral("/p/web"));
    EXPECT_FALSE(commands.closeTabAction->isEnabled()) << "a tab that is not active";
    model.activate(tab);
    EXPECT_TRUE(commands.closeTabAction->isEnabled());
    commands.closeTabAction->trigger();
    EXPECT_TRUE(model.tabs().isEmpty());
    EXPECT_FALSE(commands.closeTabAction->isEnabled());
}

TEST_F(MenuFixture, TextSizeAndTabActionsFromWhereTheyStart)
{
    // Text size: the size before, the action, the size after (and stored).
    for (const auto& [start, action, expected] :
         {std::tuple{28.0, commands.biggerTextAction, 28.0}, {28.0, commands.biggerTextEqualAction, 28.0},
          {9.0, commands.smallerTextAction, 9.0}, {20.0, commands.defaultTextAction, 13.0},
          {13.0, commands.biggerTextEqualAction, 14.0}, {13.0, commands.smallerTextAction, 12.0}}) {
        SCOPED_TRACE(testing::Message() << action->text().toStdString() << " at " << start);
        model.setFontSize(start);
        action->trigger();
        EXPECT_EQ(model.fontSize(), expected);
        EXPECT_EQ(store.numberValue(Prefs::fontSizeKey), expected);
    }
    commands.lastTabAction->trigger();
    commands.nextTabAction->trigger();
    EXPECT_FALSE(model.activeTabID().has_value()) << "no tab to select";
    // With three tabs: the tab active before, the action, the tab active after.
    openTabs(3);
    const auto& number = commands.numberedTabActions;
    for (const auto& [start, action, expected] :
         {std::tuple{0, number[2], 2}, {0, commands.lastTabAction, 2}, {0, number[3], 0}, {1, number[7], 1},
          {2, number[0], 0}, {0, commands.nextTabAction, 1}, {2, commands.nextTabAction, 0},
          {0, commands.previousTabAction, 2}}) {
        SCOPED_TRACE(testing::Message() << action->text().toStdString() << " from " << start);
        model.activate(*model.tabs().at(start));
        action->trigger();
        EXPECT_EQ(activeIndex(), expected);
    }
}

// A tab terminal that keeps what it would send to its program.
struct RecordingTerm : TermView {
    using TermView::TermView;
    QByteArray sent;
    void send(corvantix::TerminalView&, std::span<const std::uint8_t> data) override
    {
        sent.append(reinterpret_cast<const char*>(data.data()), qsizetype(data.size()));
    }
};

TEST_F(MenuFixture, ShellControlKeysReachTheTerminalAndOurKeysWorkBesideIt)
{
    openTabs(3);
    model.activate(*model.tabs().front());
    auto* terminal = new RecordingTerm(QRect(0, 0, 400, 300));
    window.setCentralWidget(terminal);
    window.show();
    window.activateWindow();
    terminal->setFocus();
    ASSERT_TRUE(QTest::qWaitForWindowActive(&window));
    ASSERT_EQ(QApplication::focusWidget(), terminal);
    // A plain Ctrl letter the shell uses gets to the program as its control byte.
    for (const auto& [key, byte] : {std::pair{Qt::Key_C, 0x03}, {Qt::Key_D, 0x04}, {Qt::Key_W, 0x17}, {Qt::Key_T, 0x14}}) {
        terminal->sent.clear();
        QTest::keyClick(terminal, key, Qt::ControlModifier);
        EXPECT_EQ(terminal->sent, QByteArray(1, char(byte))) << QKeySequence(Qt::CTRL | key).toString().toStdString();
    }
    // Keys of the menus act while the terminal has the focus, and the terminal sees none of them.
    // Each toggle stores its new state; twice gives the first one back.
    terminal->sent.clear();
    for (const auto& [key, visible, stored] :
         {std::tuple(Qt::Key_D, &MacModel::commandsVisible, Prefs::rightSidebarOpenKey),
          std::tuple(Qt::Key_M, &MacModel::composeVisible, Prefs::composeBarVisibleKey)}) {
        const bool before = (model.*visible)();
        for (const bool expected : {!before, before}) {
            QTest::keyClick(terminal, key, Qt::ControlModifier | Qt::ShiftModifier);
            EXPECT_EQ((model.*visible)(), expected) << stored.toStdString();
            EXPECT_EQ(store.boolValue(stored), expected) << stored.toStdString();
        }
    }
    QTest::keyClick(terminal, Qt::Key_9, Qt::AltModifier);
    EXPECT_EQ(activeIndex(), 2);
    EXPECT_TRUE(terminal->sent.isEmpty()) << terminal->sent.toHex().toStdString();
}

struct OnboardingFixture : test::ViewsWorkspace, testing::Test {
    // Answers of the folder chooser in turn; an empty one cancels.
    QStringList answers;
    OnboardingFixture()
    {
        chooseFolderReplacement() = [this]() -> std::optional<QString> {
            const QString answer = answers.isEmpty() ? QString() : answers.takeFirst();
            return answer.isEmpty() ? std::nullopt : std::optional<QString>(answer);
        };
    }
    ~OnboardingFixture() override { chooseFolderReplacement() = nullptr; }
};

TEST_F(OnboardingFixture, ReturnWithoutRootsStoresHomeProjetsAndListsIt)
{
    const QString root = folder.path() + QStringLiteral("/projets");
    folders[root] = QStringList{QStringLiteral("web")};
    prefs.setProjectsRoots({});
    OnboardingView sheet(model);
    EXPECT_EQ(sheet.rootLabel->text(), root);
    sheet.open();
    QTest::keyClick(&sheet, Qt::Key_Escape);
    sheet.close();
    settle();
    ASSERT_TRUE(sheet.isVisible()) << "no way out but Commencer";
    sheet.chooseButton->setFocus();
    QTest::keyClick(&sheet, Qt::Key_Return);
    EXPECT_FALSE(sheet.isVisible());
    EXPECT_EQ(store.stringListValue(Prefs::projectsRootsKey), QStringList{root});
    EXPECT_EQ(store.boolValue(Prefs::onboardingDoneKey), std::optional<bool>(true));
    settle();
    ASSERT_EQ(local().projects().size(), 1);
    EXPECT_EQ(local().projects().front().path, root + QStringLiteral("/web"));
}

TEST_F(OnboardingFixture, AChosenFolderIsKeptOnCancelAndBecomesTheOnlyRoot)
{
    prefs.setProjectsRoots({QStringLiteral("/old/one"), QStringLiteral("/old/two")});
    answers = {QStringLiteral("/data/work"), QString()};
    OnboardingView sheet(model);
    EXPECT_EQ(sheet.rootLabel->text(), QStringLiteral("/old/one"));
    sheet.open();
    sheet.chooseButton->click();
    sheet.chooseButton->click();
    EXPECT_EQ(sheet.rootLabel->text(), QStringLiteral("/data/work"));
    sheet.beginButton->click();
    EXPECT_EQ(prefs.projectsRoots(), QStringList{QStringLiteral("/data/work")});
}

} // namespace
} // namespace halvoren
