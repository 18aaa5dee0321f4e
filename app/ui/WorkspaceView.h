// The detail column of the main window: update bar, tab bar, status bars, the active tab's
// terminal and the compose bar, with the model's banner floating over its bottom edge. It
// also names the window after the active tab.
#pragma once

#include "workspace/MacModel.h"
#include "ui/ComposeBar.h"
#include "ui/TerminalHost.h"

#include <QPointer>
#include <QWidget>

namespace halvoren {

class BannerOverlay;
class MacUpdate;
class StatusBars;
class TabBar;
class UpdateBar;

// The placeholder of the terminal area while no tab is active.
class EmptyWorkspace : public QWidget {
    Q_OBJECT

public:
    explicit EmptyWorkspace(QWidget* parent = nullptr);
};

// The window's title for the active tab: its title, then " — " and its subtitle when it has
// one (the desktop has no separate subtitle line); "Halvoren" without a tab.
QString workspaceWindowTitle(const MacModel& model);

class WorkspaceView : public QWidget {
    Q_OBJECT

public:
    static constexpr int terminalLeftInset = 6;

    WorkspaceView(MacModel& model, MacUpdate& update, QWidget* parent = nullptr);

    MacModel& model;
    MacUpdate& update;

    UpdateBar* const updateBar;
    TabBar* const tabBar;
    StatusBars* const statusBars;
    // The area under the bars: the active tab's terminal or the placeholder.
    QWidget* const terminalArea;
    BannerOverlay* const banner;

    // What the area and the bottom of the column hold right now; none while absent.
    TerminalHost* terminalHost() const { return host; }
    EmptyWorkspace* emptyWorkspace() const { return empty; }
    ComposeBar* composeBar() const { return compose; }

    // Follows the model: the hosted terminal, the compose bar and the window title.
    void refresh();

Q_SIGNALS:
    void windowTitleTextChanged(const QString& title);

protected:
    void paintEvent(QPaintEvent* event) override;
    bool event(QEvent* event) override;

private:
    void applyTitle();

    QPointer<TerminalHost> host;
    QPointer<EmptyWorkspace> empty;
    QPointer<ComposeBar> compose;
    QString title;
};

} // namespace halvoren
