#include "ui/HalvorenMacApp.h"

#include "workspace/MacUpdate.h"
#include "settings/ProfileStore.h"
#include "platform/PreferenceStore.h"
#include "platform/SecretStore.h"
#include "platform/WindowActivation.h"
#include "ui/HalvorenCommands.h"
#include "ui/Icons.h"
#include "ui/MainView.h"
#include "ui/Shortcuts.h"
#include "ui/SettingsView.h"

#include <QAction>
#include <QApplication>
#include <QMainWindow>
#include <QMenu>
#include <QMenuBar>
#include <QScreen>
#include <QStyleFactory>
#include <QWindow>

#include <algorithm>

namespace halvoren {

namespace {

// The look goes on before any view exists: a widget with a style sheet keeps the palette it
// found when it was made, and would draw dark text on the dark panels.
QMainWindow* darkMainWindow()
{
    QApplication::setStyle(QStyleFactory::create(QStringLiteral("Fusion")));
    QApplication::setPalette(darkPalette());
    return new QMainWindow;
}

} // namespace

HalvorenMacApp::HalvorenMacApp(MacModel& model, MacUpdate& update)
    : model(model), update(update), window(darkMainWindow()), mainView(new MainView(model, update, window)),
      commands(new HalvorenCommands(model, window))
{
    QApplication::setApplicationName(QStringLiteral("Halvoren"));
    // No display name: Qt would append it to every window title, and the main window's title
    // already names the tab and its folder, or reads "Halvoren" alone.
    QApplication::setQuitOnLastWindowClosed(true);
    // Every window, sheet and dialog takes it unless it has its own.
    QApplication::setWindowIcon(applicationIcon());

    // The model loads and saves the server profiles through the keychain; without one the
    // list goes to a private file beside the preferences.
    if (model.profileStore == nullptr) {
        profiles = std::make_unique<ProfileStore>(SecretStore::standard(), configDirectory());
        model.profileStore = profiles.get();
    }

    window->setObjectName(QStringLiteral("main"));
    window->setWindowTitle(QStringLiteral("Halvoren"));
    window->setCentralWidget(mainView);
    window->resize(defaultWindowSize);
    // Fitted to its screen when it first shows: only then are the screen it opens on and,
    // where the platform tells it, its frame known.
    window->installEventFilter(this);

    settingsAction = new QAction(QStringLiteral("Réglages…"), window);
    settingsAction->setShortcut(shortcuts::settings());
    settingsAction->setShortcutContext(Qt::WindowShortcut);
    window->addAction(settingsAction);
    commands->fileMenu->insertAction(commands->closeTabAction, settingsAction);
    commands->fileMenu->insertSeparator(commands->closeTabAction);
    connect(settingsAction, &QAction::triggered, this, &HalvorenMacApp::showSettings);
    connect(mainView, &MainView::settingsRequested, this, &HalvorenMacApp::showSettings);

    // A notification click brings this window forward, with its tab made active.
    model.bringForward = [this] { bringForward(); };

    QMenuBar* bar = window->menuBar();
    bar->addMenu(commands->fileMenu);
    bar->addMenu(commands->viewMenu);
    bar->addMenu(commands->tabMenu);
}

HalvorenMacApp::~HalvorenMacApp()
{
    model.bringForward = nullptr;
    delete settings.data();
    delete window;
    if (profiles && model.profileStore == profiles.get())
        model.profileStore = nullptr;
}

QSize HalvorenMacApp::initialWindowSize(const QSize& available, const QMargins& frame, const QSize& minimum)
{
    const QSize room = available.shrunkBy(frame);
    if (room.isEmpty())
        return defaultWindowSize.expandedTo(minimum);
    return defaultWindowSize.boundedTo(room).expandedTo(minimum);
}

bool HalvorenMacApp::eventFilter(QObject* watched, QEvent* event)
{
    // Once: a window the user resized and closed comes back as the user left it.
    if (watched == window && event->type() == QEvent::Show && !fitted) {
        fitted = true;
        fitToScreen();
    }
    return QObject::eventFilter(watched, event);
}

void HalvorenMacApp::fitToScreen()
{
    const QScreen* screen = window->screen();
    if (screen == nullptr)
        return;
    const QRect available = screen->availableGeometry();
    // Known once the platform window exists, on platforms that draw the frame themselves or
    // have heard from the window manager; none otherwise.
    const QMargins frame = window->windowHandle() != nullptr ? window->windowHandle()->frameMargins() : QMargins();
    const QSize size = initialWindowSize(available.size(), frame, window->minimumSizeHint().expandedTo(window->minimumSize()));
    const QPoint at = window->frameGeometry().topLeft();
    window->resize(size);
    // Where it opens, unless an edge of the free area would cut it: then moved just inside. A
    // window larger than that area (at its least size on a tiny screen) keeps its title bar
    // and menus on the screen.
    const QRect outer(at, size.grownBy(frame));
    if (available.contains(outer))
        return;
    const auto inside = [](int start, int length, int first, int room) {
        return std::max(std::min(start, first + room - length), first);
    };
    window->move(inside(outer.left(), outer.width(), available.left(), available.width()),
                 inside(outer.top(), outer.height(), available.top(), available.height()));
}

void HalvorenMacApp::bringForward()
{
    if (window->isMinimized())
        window->showNormal();
    window->show();
    window->raise();
    window->activateWindow();
    // Qt asks with the time of the last event it saw, which loses to any focus taken since.
    if (QGuiApplication::platformName() == QStringLiteral("xcb") && window->isVisible())
        activateX11Window(static_cast<std::uint32_t>(window->winId()));
}

void HalvorenMacApp::showSettings()
{
    if (!settings) {
        // A window of its own, not a child of the main one: it stays open when the main window
        // closes and keeps the application running.
        settings = new SettingsView(model);
        settings->setWindowTitle(QStringLiteral("Réglages"));
        settings->setPalette(darkPalette());
        settings->setAutoFillBackground(true);
        // Its own shortcuts too, so Ctrl+, there brings it forward instead of nothing.
        settings->addAction(settingsAction);
    }
    settings->show();
    settings->raise();
    settings->activateWindow();
}

int HalvorenMacApp::run()
{
    window->show();
    return QApplication::exec();
}

} // namespace halvoren
