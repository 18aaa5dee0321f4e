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
#include <QPushButton>
#include <QSplitter>
#include <QSplitterHandle>
#include <QTest>
#include <QTimer>
#include <QToolBar>
#include <QToolButton>

#include <chrono>
#include <tuple>

namespace halvoren {
namespace {

using test::settle;

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

TEST_F(Application, TheMainWindowOpensAtItsSizeWithTheIconAndTheSettingsWindowIsItsOwn)
{
    launch(false);
    EXPECT_EQ(app->window->size(), HalvorenMacApp::defaultWindowSize);
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
