// The content of the main window: the toolbar, then the projects sidebar, the workspace and the
// quick commands panel side by side. It presents the servers sheet and the first-run sheet,
// answers the in-process notifications of the menus and the sidebar, and starts the model and
// the update check once it is first shown. Always dark.
#pragma once

#include "workspace/MacModel.h"

#include <QPalette>
#include <QPointer>
#include <QString>
#include <QWidget>

#include <functional>
#include <optional>

class QAction;
class QSplitter;
class QToolBar;

namespace halvoren {

class CommandsPanel;
class MacUpdate;
class OnboardingView;
class ServersView;
class SidebarView;
class WorkspaceView;

// The application's dark colours for every window.
QPalette darkPalette();

class MainView : public QWidget {
    Q_OBJECT

public:
    enum class SidebarVisibility { all, detailOnly };

    // Widths of the side columns: least, first and most.
    static constexpr int sidebarMinimumWidth = 200, sidebarIdealWidth = 250, sidebarMaximumWidth = 380;
    static constexpr int inspectorMinimumWidth = 180, inspectorIdealWidth = 220, inspectorMaximumWidth = 320;
    // The least room the content is ever laid out in.
    static constexpr QSize minimumContentSize{760, 460};

    MainView(MacModel& model, MacUpdate& update, QWidget* parent = nullptr);

    MacModel& model;
    MacUpdate& update;

    // View state; the sidebar's first value comes from "flutter.sidebarOpen" and the first-run
    // sheet shows while the first run was never finished.
    SidebarVisibility sidebar() const { return sidebarValue; }
    void setSidebar(SidebarVisibility value);
    void toggleSidebar();
    bool showServers() const { return !serversSheet.isNull(); }
    // The profile the servers sheet connects to as soon as it opens.
    const std::optional<QString>& autoConnect() const { return autoConnectValue; }
    bool showOnboarding() const { return showOnboardingValue; }

    // Opens the servers sheet (once: a sheet already shown stays as it is).
    void presentServers();
    // Opens the servers sheet to connect this profile interactively; an empty id connects none.
    void connectProfile(const QString& profileID);

    // What the first showing starts, in this order; tests replace them.
    std::function<Task<>()> startModel;
    std::function<void()> startUpdate;

    QToolBar* toolbar = nullptr;
    QAction* serversAction = nullptr;
    QAction* composeAction = nullptr;
    QAction* commandsAction = nullptr;
    QAction* settingsAction = nullptr;
    QSplitter* splitter = nullptr;
    SidebarView* sidebarView = nullptr;
    WorkspaceView* workspaceView = nullptr;
    CommandsPanel* commandsPanel = nullptr;
    QPointer<ServersView> serversSheet;
    QPointer<OnboardingView> onboardingSheet;

Q_SIGNALS:
    // The toolbar's "Réglages": the application opens its settings window.
    void settingsRequested();

protected:
    void showEvent(QShowEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void firstShown();
    Task<> runStart();
    void presentOnboarding();
    // Puts an open sheet back over the window when the window itself is brought forward.
    void raiseSheets();
    void applySidebar();
    void applyInspector();
    // Opens a side column at the last width the user gave it, or closes it to the window's
    // edge, whose handle stays there to drag it out again.
    void setColumnOpen(int index, bool open);
    void columnsMoved();

    SidebarVisibility sidebarValue;
    std::optional<QString> autoConnectValue;
    bool showOnboardingValue;
    bool wasShown = false;
    // The widths the side columns had when last open, and when the handle being dragged was
    // pressed: a drag that closes a column leaves the width it had before.
    int sidebarWidth = sidebarIdealWidth;
    int inspectorWidth = inspectorIdealWidth;
    int sidebarWidthAtPress = sidebarIdealWidth;
    int inspectorWidthAtPress = inspectorIdealWidth;
};

} // namespace halvoren
