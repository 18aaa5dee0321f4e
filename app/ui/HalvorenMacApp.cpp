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
    // Fitted to its screen when it first shows: only then is the screen it opens on known. Its
    // frame may be known then, or only once a window manager has framed it.
    frameMargins = [this] {
        return window->windowHandle() != nullptr ? window->windowHandle()->frameMargins() : QMargins();
    };
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
    window->removeEventFilter(this);
    if (QWindow* handle = window->windowHandle())
        handle->removeEventFilter(this);
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

namespace {

// Read while a window manager is still building its frame, the margins may come out negative:
// no frame is known yet.
QMargins knownFrame(const QMargins& frame)
{
    return frame.left() < 0 || frame.top() < 0 || frame.right() < 0 || frame.bottom() < 0 ? QMargins() : frame;
}

} // namespace

bool HalvorenMacApp::eventFilter(QObject* watched, QEvent* event)
{
    if (watched != window && watched != window->windowHandle())
        return QObject::eventFilter(watched, event);
    switch (event->type()) {
    case QEvent::Show:
        // Once: a window the user resized and closed comes back as the user left it.
        if (watched == window && !fitted) {
            fitted = true;
            placing = true;
            fitToScreen(knownFrame(frameMargins()));
            // The platform window's moves and exposures too: they come before the widget hears
            // of them, and a window manager may frame the window without moving it.
            if (QWindow* handle = window->windowHandle())
                handle->installEventFilter(this);
        }
        break;
    case QEvent::Move:
    case QEvent::Resize:
    case QEvent::Expose:
        if (placing)
            followFirstPlacement();
        break;
    default:
        break;
    }
    return QObject::eventFilter(watched, event);
}

void HalvorenMacApp::followFirstPlacement()
{
    // Maximized or full screen, by the user or the window manager: that stands.
    if (window->windowState() & (Qt::WindowMaximized | Qt::WindowFullScreen)) {
        placing = false;
        return;
    }
    const QMargins frame = frameMargins();
    if (knownFrame(frame) != frame)
        return;
    if (frame != placedFrame) {
        // A window manager that kept changing its frame would have the window fitted without
        // end: a few times is the most any real one needs.
        if (++refits > 3) {
            placing = false;
            return;
        }
        fitToScreen(frame);
        return;
    }
    // Somewhere neither where it was nor where it was put, its frame unchanged and known: the
    // user moved or resized it (until the frame is known it is the manager placing it), and
    // his choice stands from then on. Where it was may still be reported after the fit.
    const QRect now = clientGeometry();
    if (!frame.isNull() && now != placedGeometry && now != formerGeometry)
        placing = false;
}

void HalvorenMacApp::fitToScreen(const QMargins& frame)
{
    placedFrame = frame;
    const QScreen* screen = window->screen();
    if (screen == nullptr)
        return;
    const QRect available = screen->availableGeometry();
    const QSize size = initialWindowSize(available.size(), frame, window->minimumSizeHint().expandedTo(window->minimumSize()));
    formerGeometry = clientGeometry();
    // Where it opens, unless an edge of the free area would cut it: then moved just inside. A
    // window larger than that area (at its least size on a tiny screen) keeps its title bar
    // and menus on the screen.
    QRect outer(formerGeometry.topLeft() - QPoint(frame.left(), frame.top()), size.grownBy(frame));
    if (!available.contains(outer)) {
        const auto inside = [](int start, int length, int first, int room) {
            return std::max(std::min(start, first + room - length), first);
        };
        outer.moveTo(inside(outer.left(), outer.width(), available.left(), available.width()),
                     inside(outer.top(), outer.height(), available.top(), available.height()));
    }
    placedGeometry = outer.marginsRemoved(frame);
    // The client area is placed, not the frame: the frame is the one these margins describe,
    // which the platform may not know yet.
    if (placedGeometry.topLeft() == formerGeometry.topLeft())
        window->resize(size);
    else
        window->setGeometry(placedGeometry);
}

QRect HalvorenMacApp::clientGeometry() const
{
    // The platform window's first: a move it reports reaches the widget only after the filter.
    return window->windowHandle() != nullptr ? window->windowHandle()->geometry() : window->geometry();
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
