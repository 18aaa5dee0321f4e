// The application's windows as a user handles them: the side columns dragged closed and brought
// back, the icon on every window, the symbols and their disabled look, the settings window, the
// main window's size and quitting after the last window; quick commands moved without a tab and
// the alert's title inside it. (A chip's hover after its sheet needs a real X server: see
// TabBarDragTest.)
#include "ui/AppBus.h"
#include "ui/CommandsPanel.h"
#include "ui/HalvorenCommands.h"
#include "ui/HalvorenMacApp.h"
#include "ui/Icons.h"
#include "ui/MainView.h"
#include "ui/OnboardingView.h"
#include "ui/SettingsView.h"
#include "ui/SidebarView.h"

#include "ViewsWorkspace.h"

#include <QAction>
#include <QApplication>
#include <QDialog>
#include <QLabel>
#include <QListWidget>
#include <QMainWindow>
#include <QProcess>
#include <QPushButton>
#include <QScreen>
#include <QSplitter>
#include <QSplitterHandle>
#include <QTest>
#include <QTimer>
#include <QToolBar>
#include <QToolButton>
#include <QWindow>

#include <chrono>
#include <memory>
#include <cstdio>
#include <tuple>

namespace halvoren {
namespace {

using test::settle;

// The largest size a window took while it was watched.
struct WindowSizes : QObject {
    QSize& largest;
    WindowSizes(QWidget* window, QSize& largest) : largest(largest) { window->installEventFilter(this); }
    bool eventFilter(QObject*, QEvent* event) override
    {
        if (event->type() == QEvent::Resize)
            largest = largest.expandedTo(static_cast<QResizeEvent*>(event)->size());
        return false;
    }
};

// The whole application over the test's model; nothing starts when the window shows.
struct Application : test::ViewsWorkspace, testing::Test {
    ProfileStore profiles{keychain, folder.path()};
    std::unique_ptr<HalvorenMacApp> app;

    void launch(bool onboarded = true)
    {
        prefs.setOnboardingDone(onboarded);
        model.profileStore = &profiles;
        app = std::make_unique<HalvorenMacApp>(model, update);
        app->mainView->startModel = []() -> Task<> { co_return; };
        app->mainView->startUpdate = [] {};
        app->window->show();
        app->window->activateWindow();
        ASSERT_TRUE(QTest::qWaitForWindowActive(app->window));
        settle();
    }
    ~Application() override
    {
        app.reset();
        model.profileStore = nullptr;
    }
    QSplitter& splitter() const { return *app->mainView->splitter; }
    int width(int column) const { return splitter().sizes().value(column); }
    // Presses the handle before `column` at its left end, moves it to each x of the splitter in
    // turn and notes the column widths after each step, then releases it.
    QList<QList<int>> drag(int column, const QList<int>& xs)
    {
        QSplitterHandle* handle = splitter().handle(column);
        const int y = handle->height() / 2;
        QTest::mousePress(handle, Qt::LeftButton, {}, QPoint(0, y));
        QList<QList<int>> seen;
        for (const int x : xs) {
            QTest::mouseMove(handle, handle->mapFromGlobal(splitter().mapToGlobal(QPoint(x, y))));
            seen << splitter().sizes();
        }
        QTest::mouseRelease(handle, Qt::LeftButton, {}, handle->mapFromGlobal(splitter().mapToGlobal(QPoint(xs.back(), y))));
        return seen;
    }
    void shortcut(Qt::Key key) { QTest::keyClick(app->window, key, Qt::ControlModifier | Qt::ShiftModifier); }
};

// The brightest pixel of a picture, its alpha counted: how visible a symbol is on a dark panel.
int brightest(const QImage& picture)
{
    int most = 0;
    const QImage argb = picture.convertToFormat(QImage::Format_ARGB32);
    for (int y = 0; y < argb.height(); ++y)
        for (int x = 0; x < argb.width(); ++x)
            most = std::max(most, qGray(argb.pixel(x, y)) * qAlpha(argb.pixel(x, y)) / 255);
    return most;
}

// Where a picture is drawn at all, whatever its colour.
QImage shape(const QIcon& icon, QIcon::Mode mode = QIcon::Normal)
{
    return icon.pixmap(16, 16, mode).toImage().convertToFormat(QImage::Format_Alpha8);
}

TEST_F(Application, ASideColumnDraggedClosedComesBackByItsShortcutAtItsLastWidthAndDragsOutAgain)
{
    prefs.setSidebarOpen(true);
    model.setCommandsVisible(true);
    launch();
    // Wider than the test's screen lets it open, so every column has room to be dragged.
    app->window->resize(HalvorenMacApp::defaultWindowSize);
    settle();
    ASSERT_EQ(width(0), MainView::sidebarIdealWidth);
    ASSERT_EQ(width(2), MainView::inspectorIdealWidth);
    // Widened to 300, then dragged to the edge: below half its least width it closes.
    drag(1, {300});
    ASSERT_EQ(width(0), 300);
    const QList<QList<int>> closing = drag(1, {150, 60, 0});
    EXPECT_EQ(closing[0][0], MainView::sidebarMinimumWidth);
    EXPECT_EQ(closing[1][0], 0);
    EXPECT_EQ(app->mainView->sidebar(), MainView::SidebarVisibility::detailOnly);
    EXPECT_EQ(store.boolValue(Prefs::sidebarOpenKey), std::optional<bool>(false));
    EXPECT_FALSE(app->mainView->sidebarView->isEnabled()) << "no keyboard focus in a closed column";
    // The menu's shortcut opens it at the width the user gave it, and closes it again.
    shortcut(Qt::Key_S);
    EXPECT_EQ(width(0), 300);
    EXPECT_EQ(store.boolValue(Prefs::sidebarOpenKey), std::optional<bool>(true));
    EXPECT_TRUE(app->mainView->sidebarView->isEnabled());
    shortcut(Qt::Key_S);
    EXPECT_EQ(width(0), 0);
    EXPECT_EQ(store.boolValue(Prefs::sidebarOpenKey), std::optional<bool>(false));
    // From closed, its handle at the edge: shut until the pointer is halfway to the least
    // width, open from there on and never shut again while the pointer goes right.
    const QList<QList<int>> opening = drag(1, {60, 150, 260, 340});
    QList<int> widths;
    for (const QList<int>& sizes : opening)
        widths << sizes[0];
    EXPECT_EQ(widths, (QList<int>{0, MainView::sidebarMinimumWidth, 260, 340}));
    EXPECT_EQ(app->mainView->sidebar(), MainView::SidebarVisibility::all);
    EXPECT_EQ(store.boolValue(Prefs::sidebarOpenKey), std::optional<bool>(true));

    // The commands panel, dragged to the window's right edge, comes back with Ctrl+Shift+D.
    const int right = splitter().width();
    const int panelLeft = right - width(2) - splitter().handleWidth();
    drag(2, {panelLeft - 40});
    const int chosen = width(2);
    ASSERT_EQ(chosen, MainView::inspectorIdealWidth + 40);
    drag(2, {right - 60, right});
    EXPECT_EQ(width(2), 0);
    EXPECT_FALSE(model.commandsVisible());
    EXPECT_EQ(store.boolValue(Prefs::rightSidebarOpenKey), std::optional<bool>(false));
    EXPECT_FALSE(app->mainView->commandsAction->isChecked() || app->mainView->commandsPanel->isEnabled());
    shortcut(Qt::Key_D);
    EXPECT_EQ(width(2), chosen);
    EXPECT_TRUE(model.commandsVisible() && app->mainView->commandsAction->isChecked());
    EXPECT_EQ(store.boolValue(Prefs::rightSidebarOpenKey), std::optional<bool>(true));
    // The toolbar's toggle closes it the same way, and a bus request the sidebar.
    app->mainView->commandsAction->trigger();
    Q_EMIT AppBus::shared().toggleSidebar();
    EXPECT_EQ(splitter().sizes(), (QList<int>{0, splitter().width() - 2 * splitter().handleWidth(), 0}));
}

TEST_F(Application, TheMainWindowHasItsIconAndTheSettingsWindowIsItsOwn)
{
    launch(false);
    EXPECT_EQ(app->window->objectName(), QStringLiteral("main"));
    EXPECT_EQ(app->mainView->minimumSize(), MainView::minimumContentSize);
    EXPECT_EQ(app->window->windowTitle(), QStringLiteral("Halvoren"));
    // The first-run sheet shows the application's icon at 56 × 56.
    ASSERT_TRUE(QTest::qWaitFor([&] { return app->mainView->onboardingSheet != nullptr; }, 5000));
    const auto* icon = app->mainView->onboardingSheet->findChild<QLabel*>(QStringLiteral("appIcon"));
    ASSERT_NE(icon, nullptr);
    EXPECT_EQ(icon->size(), QSize(56, 56));
    EXPECT_EQ(icon->pixmap().toImage(), applicationIcon().pixmap(56, 56).toImage());
    EXPECT_GT(brightest(icon->pixmap().toImage()), 100) << "an icon that can be seen";
    // The settings window: made once, a window of its own over the same model.
    EXPECT_EQ(app->settingsWindow(), nullptr);
    app->settingsAction->trigger();
    SettingsView* settings = app->settingsWindow();
    ASSERT_NE(settings, nullptr);
    app->showSettings();
    EXPECT_EQ(app->settingsWindow(), settings);
    EXPECT_TRUE(settings->isWindow() && settings->parentWidget() == nullptr && settings->isVisible());
    EXPECT_EQ(&settings->model, &model);
    EXPECT_EQ(&app->mainView->model, &model);
    // Every window carries the application's icon.
    for (const QWidget* window : {static_cast<QWidget*>(app->window), static_cast<QWidget*>(settings),
                                  static_cast<QWidget*>(app->mainView->onboardingSheet.data())}) {
        SCOPED_TRACE(window->windowTitle().toStdString());
        EXPECT_EQ(shape(window->windowIcon()), shape(applicationIcon()));
    }
}

// The first size: the default where it fits the screen's free area with the frame, else
// that area, never below the least size; without a window manager to shrink it, a window
// larger than the screen would hide the quick commands and the terminal's last rows.
TEST(MainWindowSize, IsTheDefaultWhereItFitsElseTheScreensRoomAndNeverBelowTheLeast)
{
    const QSize least = MainView::minimumContentSize;
    const struct {
        QSize available;
        QMargins frame;
        QSize expected;
    } cases[] = {
        {{1920, 1080}, {}, {1400, 880}},
        {{1400, 880}, {}, {1400, 880}},
        {{1440, 900}, {1, 28, 1, 1}, {1400, 871}},
        {{1366, 768}, {}, {1366, 768}},
        {{1280, 800}, {}, {1280, 800}},
        {{1280, 800}, {2, 2, 2, 2}, {1276, 796}},
        {{800, 600}, {}, {800, 600}},
        {{2560, 700}, {}, {1400, 700}},
        {{700, 400}, {}, least},
        {{760, 460}, {0, 30, 0, 0}, least},
        {{}, {}, {1400, 880}},
    };
    for (const auto& [available, frame, expected] : cases) {
        SCOPED_TRACE(testing::Message() << available.width() << 'x' << available.height() << " frame " << frame.top());
        EXPECT_EQ(HalvorenMacApp::initialWindowSize(available, frame, least), expected);
    }
}

// The window as it opens on the screen it is given: its frame inside the screen's free area,
// at the default size where that fits. The next test runs it on larger screens.
TEST_F(Application, TheMainWindowFitsTheScreenItOpensOn)
{
    launch();
    const QRect available = app->window->screen()->availableGeometry();
    const QRect frame = app->window->frameGeometry();
    std::printf("screen %dx%d, window %dx%d\n", available.width(), available.height(), app->window->width(),
                app->window->height());
    EXPECT_TRUE(available.contains(frame)) << frame.x() << ',' << frame.y() << ' ' << frame.width() << 'x' << frame.height();
    const QSize around = frame.size() - app->window->size();
    if (available.width() >= HalvorenMacApp::defaultWindowSize.width() + around.width()
        && available.height() >= HalvorenMacApp::defaultWindowSize.height() + around.height()) {
        EXPECT_EQ(app->window->size(), HalvorenMacApp::defaultWindowSize);
    }
    EXPECT_GE(app->mainView->width(), MainView::minimumContentSize.width());
    EXPECT_GE(app->mainView->height(), MainView::minimumContentSize.height());
}

// The test above in a process of its own on each screen, and the size the window took there.
TEST(MainWindowSize, TheWindowFitsEachScreenAndKeepsItsDefaultWhereItHasRoom)
{
    test::TempFolder folder;
    // The offscreen platform's windows have a frame of 2 pixels around them. A screen that does
    // not start at the desktop's origin stands for one whose free area starts below a panel.
    const struct {
        QRect screen;
        const char* window;
    } cases[] = {
        {{0, 0, 1920, 1080}, "1400x880"},
        {{0, 0, 1366, 768}, "1362x764"},
        {{100, 40, 1366, 768}, "1362x764"},
        {{0, 0, 800, 600}, "796x596"},
    };
    for (const auto& [screen, window] : cases) {
        SCOPED_TRACE(testing::Message() << screen.x() << ',' << screen.y() << ' ' << window);
        const QString configuration = folder.file(QStringLiteral("screen-%1-%2.json").arg(screen.x()).arg(screen.width()));
        ASSERT_TRUE(test::writeAll(configuration,
                                   QStringLiteral(R"({"screens": [{"name": "wide", "x": %1, "y": %2, "width": %3, "height": %4}]})")
                                       .arg(screen.x()).arg(screen.y()).arg(screen.width()).arg(screen.height()).toUtf8()));
        QProcess child;
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen:configfile=") + configuration);
        child.setProcessEnvironment(environment);
        child.setProcessChannelMode(QProcess::MergedChannels);
        child.start(QCoreApplication::applicationFilePath(),
                    {QStringLiteral("--gtest_filter=Application.TheMainWindowFitsTheScreenItOpensOn")});
        ASSERT_TRUE(child.waitForFinished(120000));
        const QString output = QString::fromUtf8(child.readAll());
        EXPECT_EQ(child.exitCode(), 0) << output.toStdString();
        EXPECT_TRUE(output.contains(QStringLiteral("screen %1x%2, window %3").arg(screen.width()).arg(screen.height()).arg(QLatin1String(window))))
            << output.toStdString();
    }
}

// A window manager frames the window only after it shows, so its frame is known late; then the
// window fits again, frame and all, for as long as the user has not moved it himself. What is
// read while the frame is being built is not a frame, and a frame that keeps changing fits it
// a few times, never without end. The real thing: tests/app/ui/wm.
TEST_F(Application, AFrameKnownOnlyAfterTheFirstShowFitsTheWindowAgainUntilTheUserMovesIt)
{
    // Never thinner than the offscreen platform's own frame of 2 pixels, which it keeps on the
    // screen whatever it is told.
    const QMargins none, framed{2, 22, 2, 5}, thicker{4, 30, 4, 4}, building{0, 0, -799, -599};
    const struct {
        const char* name;
        // What the platform says at the first show, then at each later move it reports.
        QList<QMargins> frames;
        // The user moves the window himself after the move of this index (none: -1).
        int userMovesAfter;
        QMargins fittedTo;
    } cases[] = {
        {"framed after it shows", {none, framed}, -1, framed},
        {"read while the frame is built", {none, building, framed}, -1, framed},
        {"framed again", {none, framed, thicker}, -1, thicker},
        {"framed again once the user moved it", {none, framed, thicker}, 1, framed},
        {"framed before the user moved it", {none, framed}, 1, framed},
    };
    prefs.setOnboardingDone(true);
    model.profileStore = &profiles;
    for (const auto& [name, frames, userMovesAfter, fittedTo] : cases) {
        SCOPED_TRACE(name);
        QMargins frame = frames.front();
        app = std::make_unique<HalvorenMacApp>(model, update);
        app->mainView->startModel = []() -> Task<> { co_return; };
        app->mainView->startUpdate = [] {};
        app->frameMargins = [&] { return frame; };
        app->window->show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(app->window));
        settle();
        QSize largest;
        const WindowSizes sizes(app->window, largest);
        QWindow* handle = app->window->windowHandle();
        for (int index = 1; index < frames.size(); ++index) {
            frame = frames[index];
            QMoveEvent moved(handle->position(), handle->position());
            QCoreApplication::sendEvent(handle, &moved);
            settle();
            if (index == userMovesAfter) {
                app->window->move(app->window->pos() + QPoint(3, 3));
                settle();
            }
        }
        const QRect available = app->window->screen()->availableGeometry();
        const QSize room = available.size().shrunkBy(fittedTo);
        EXPECT_EQ(app->window->size(), room.boundedTo(HalvorenMacApp::defaultWindowSize));
        if (userMovesAfter < 0) {
            EXPECT_TRUE(available.contains(handle->geometry().marginsAdded(fittedTo)));
        }
        // Never larger than the screen on the way, which the window manager would show.
        EXPECT_TRUE(available.size().expandedTo(largest) == available.size()) << largest.width() << 'x' << largest.height();
    }
}

TEST_F(Application, AWindowMaximizedBeforeItsFrameIsKnownStaysMaximized)
{
    launch();
    app.reset();
    app = std::make_unique<HalvorenMacApp>(model, update);
    app->mainView->startModel = []() -> Task<> { co_return; };
    app->mainView->startUpdate = [] {};
    QMargins frame;
    app->frameMargins = [&] { return frame; };
    app->window->show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(app->window));
    settle();
    app->window->setWindowState(Qt::WindowMaximized);
    settle();
    const QSize maximized = app->window->size();
    frame = QMargins(2, 22, 2, 5);
    QWindow* handle = app->window->windowHandle();
    QMoveEvent moved(handle->position(), handle->position());
    QCoreApplication::sendEvent(handle, &moved);
    settle();
    EXPECT_TRUE(app->window->isMaximized());
    EXPECT_EQ(app->window->size(), maximized);
}

TEST_F(Application, AFrameThatKeepsChangingFitsTheWindowOnlyAFewTimes)
{
    launch();
    app.reset();
    app = std::make_unique<HalvorenMacApp>(model, update);
    app->mainView->startModel = []() -> Task<> { co_return; };
    app->mainView->startUpdate = [] {};
    // Steady until the window has been shown, then a thicker title bar at each look.
    bool changing = false;
    int top = 20;
    app->frameMargins = [&] { return QMargins(2, changing ? ++top : top, 2, 2); };
    app->window->show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(app->window));
    settle();
    QWindow* handle = app->window->windowHandle();
    int resizes = 0;
    QObject::connect(handle, &QWindow::heightChanged, app.get(), [&] { ++resizes; });
    changing = true;
    for (int moves = 0; moves < 20; ++moves) {
        QMoveEvent moved(handle->position(), handle->position());
        QCoreApplication::sendEvent(handle, &moved);
        settle();
    }
    EXPECT_GE(resizes, 1);
    EXPECT_LE(resizes, 3);
}

TEST_F(Application, QuitsWhenItsLastWindowClosesTheSettingsWindowCounting)
{
    launch();
    app->showSettings();
    QPointer<SettingsView> settings = app->settingsWindow();
    // Whether the settings window was still open when the application decided to quit.
    QList<bool> settingsOpenAtQuit;
    QObject::connect(qApp, &QGuiApplication::lastWindowClosed, app.get(),
            [&] { settingsOpenAtQuit << (settings && settings->isVisible()); });
    bool runningWithoutTheMainWindow = false;
    QTimer::singleShot(0, app.get(), [&] {
        app->window->close();
        QTimer::singleShot(0, app.get(), [&] {
            runningWithoutTheMainWindow = settingsOpenAtQuit.isEmpty();
            settings->close();
        });
    });
    // Only a guard against a loop that never ends; not a measure of anything.
    QTimer::singleShot(std::chrono::seconds(20), app.get(), [] { QCoreApplication::exit(7); });
    EXPECT_EQ(app->run(), 0);
    EXPECT_TRUE(runningWithoutTheMainWindow);
    EXPECT_EQ(settingsOpenAtQuit, QList<bool>{false});
}

// Awaits a run on a host that never answers, and notes how it ended.
Task<> awaitUnansweredRun(std::shared_ptr<QString> ended)
{
    const QString sleep = QString::fromLatin1("/bin/sleep");
    const QStringList arguments{QString::fromLatin1("600")};
    Task<ShellResult<Shell::Output>> running = Shell::run(sleep, arguments, std::nullopt, 600);
    const ShellResult<Shell::Output> result = co_await std::move(running);
    *ended = result ? QString::fromLatin1("ran") : result.error().message;
}

// The application quits while a host's run is in flight: the quit ends it, and the work that
// awaited it finishes before the event loop is gone.
TEST_F(Application, QuittingEndsTheHostWorkInFlightAndLetsWhatAwaitedItFinish)
{
    launch();
    const auto ended = std::make_shared<QString>();
    awaitUnansweredRun(ended);
    ASSERT_EQ(Shell::runsInFlight(), 1);
    QTimer::singleShot(0, app.get(), [&] { app->window->close(); });
    // Only a guard against a loop that never ends; not a measure of anything.
    QTimer::singleShot(std::chrono::seconds(20), app.get(), [] { QCoreApplication::exit(7); });
    EXPECT_EQ(app->run(), 0);
    EXPECT_EQ(ended->toStdString(), Shell::endedAtQuitMessage().toStdString());
    EXPECT_EQ(Shell::runsInFlight(), 0);
}

TEST_F(Application, TheToolbarAndTheSettingsUseTheirSymbolsAndADisabledOneFades)
{
    launch();
    EXPECT_EQ(shape(app->mainView->commandsAction->icon()), shape(symbolIcon(u"bolt", Qt::white)));
    EXPECT_NE(shape(symbolIcon(u"bolt", Qt::white)), shape(symbolIcon(u"command", Qt::white)));
    prefs.setProjectsRoots({QStringLiteral("/srv/a")});
    app->showSettings();
    const QList<QPushButton*> removes = app->settingsWindow()->removeButtons();
    ASSERT_EQ(removes.size(), 1);
    EXPECT_FALSE(removes.front()->isEnabled());
    const QIcon minus = removes.front()->icon();
    EXPECT_EQ(shape(minus), shape(symbolIcon(u"minus.circle", Qt::white)));
    EXPECT_NE(shape(minus), shape(symbolIcon(u"minus", Qt::white)));
    // What the button draws while disabled against while enabled.
    const int enabled = brightest(minus.pixmap(16, 16, QIcon::Normal).toImage());
    const int disabled = brightest(minus.pixmap(16, 16, QIcon::Disabled).toImage());
    EXPECT_GT(enabled, 150);
    EXPECT_LT(disabled * 2, enabled) << disabled << " against " << enabled;
}

struct PanelAlone : test::ViewsWorkspace, testing::Test {
    CommandsPanel panel{model};
};

TEST_F(PanelAlone, RowsMoveWithoutATabButRunOnlyWithOneAndTheAlertShowsItsTitle)
{
    model.setCommands({{QStringLiteral("a"), QStringLiteral("x")}, {QStringLiteral("b"), QStringLiteral("y")}});
    ASSERT_EQ(model.activeTab(), nullptr);
    const Qt::ItemFlags flags = panel.list()->item(1)->flags();
    EXPECT_TRUE(flags.testFlag(Qt::ItemIsEnabled) && flags.testFlag(Qt::ItemIsDragEnabled));
    EXPECT_FALSE(panel.rowRunnable(1));
    ASSERT_TRUE(panel.list()->model()->moveRow(QModelIndex(), 1, QModelIndex(), 0));
    ASSERT_TRUE(QTest::qWaitFor([&] { return model.commands().front().label == QStringLiteral("b"); }, 5000));
    EXPECT_EQ(prefs.commands().front().label, QStringLiteral("b"));
    // The alert names what it does inside itself, not only in a window title.
    for (const auto& [start, title] : {std::pair{0, "Nouvelle commande"}, {1, "Modifier la commande"}}) {
        start == 0 ? panel.startAdd() : panel.startEdit(0);
        ASSERT_NE(panel.alert(), nullptr);
        const auto* heading = panel.alert()->findChild<QLabel*>(QStringLiteral("title"));
        ASSERT_NE(heading, nullptr);
        EXPECT_EQ(heading->text().toStdString(), title);
        panel.alert()->reject();
        settle();
    }
}

} // namespace
} // namespace halvoren
