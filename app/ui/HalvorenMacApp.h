// The application: the one workspace model, the main window "Halvoren" with its menus, and the
// settings window. Nothing else starts here: the main view starts the model and the update
// check when it is first shown. The application quits once its last window is closed; the
// settings window counts as one.
#pragma once

#include "workspace/MacModel.h"
#include "workspace/MacUpdate.h"
#include "ui/SettingsView.h"

#include <QObject>
#include <QMargins>
#include <QPointer>
#include <QRect>
#include <QSize>

#include <functional>
#include <memory>

class QAction;
class QMainWindow;

namespace halvoren {

class HalvorenCommands;
class MainView;
class ProfileStore;

class HalvorenMacApp : public QObject {
    Q_OBJECT

public:
    static constexpr QSize defaultWindowSize{1400, 880};

    // The main window's first size on a screen whose free area (less its panels) is
    // `available`, the window's frame taking `frame` around it: the default size where it
    // fits, else all the room there is, never less than `minimum`.
    static QSize initialWindowSize(const QSize& available, const QMargins& frame, const QSize& minimum);

    // Needs a QApplication. Gives the application its dark look.
    explicit HalvorenMacApp(MacModel& model = MacModel::shared(), MacUpdate& update = MacUpdate::shared());
    ~HalvorenMacApp() override;

    MacModel& model;
    MacUpdate& update;

    // The one main window, objectName "main"; it is never made twice.
    QMainWindow* const window;
    MainView* const mainView;
    HalvorenCommands* const commands;
    // "Réglages…" of the "Fichier" menu.
    QAction* settingsAction = nullptr;

    // The settings window, made on first use and kept; none before.
    SettingsView* settingsWindow() const { return settings; }
    void showSettings();

    // Shows the main window again if it was closed, above the others, and asks for the focus: a
    // notification click, or a second launch with this configuration.
    void bringForward();

    // Shows the main window and runs the event loop until the application quits.
    int run();

    // The frame the window manager puts around the main window, as the platform knows it now:
    // nothing until it has framed the window, which it may do only after the window shows. A
    // test gives its own, to have them arrive late without a window manager.
    std::function<QMargins()> frameMargins;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    // Sizes the main window for the screen it opens on and places it there, its frame (of
    // these margins) inside the screen's free area.
    void fitToScreen(const QMargins& frame);
    // The window moved, was resized or drawn while it is first placed.
    void followFirstPlacement();
    // Where the window's client area is on the screen, as last reported.
    QRect clientGeometry() const;

    QPointer<SettingsView> settings;
    bool fitted = false;
    // From the first show until the user moves or resizes the window himself: a frame that
    // arrives in that time, or changes, fits the window again, a few times at most.
    bool placing = false;
    int refits = 0;
    QMargins placedFrame;
    // The client area before the last fit and where that fit put it.
    QRect formerGeometry;
    QRect placedGeometry;
    std::unique_ptr<ProfileStore> profiles;
};

} // namespace halvoren
