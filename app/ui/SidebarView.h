// The projects sidebar: one collapsible section per connection (this computer first, then each
// connected server) with its projects, the hidden ones folded under "Cachés (n)", and the saved
// servers that are not connected under "Serveurs". It owns the session picker shown when
// opening a project finds several tmux sessions in its folder, or when a row asks for it.
//
// Everything shown is read from the model; the rows are rebuilt on the next turn after any
// change of what is listed, keeping the scroll position, and only repainted when the change is
// in what they draw (git state, live sessions, tabs). Only the rows near the view are made.
// Actions that wait hold the model and reach the view only through a weak pointer, so closing
// the sidebar never cuts them.
#pragma once

#include "workspace/MacModel.h"
#include "ui/PickerRequest.h"
#include "ui/ProjectRow.h"
#include "ui/SessionPicker.h"

#include <QList>
#include <QMetaObject>
#include <QPointer>
#include <QString>
#include <QStringList>
#include <QWidget>

#include <optional>

class QScrollArea;
class QVBoxLayout;

namespace halvoren {

// "Cet ordinateur" for this computer, else the server's name.
QString connectionName(const MacConnection& connection);
// What a section without any project says.
QString emptyProjectsText(const MacConnection& connection);
QString hiddenGroupTitle(qsizetype count);
// The header menu of a section; an empty title is a divider.
QStringList connectionMenuTitles(const MacConnection& connection);
// The saved servers without a connection, in saved order.
QList<MacProfile> unconnectedProfiles(const MacModel& model);
// The banner after installing this computer's keys on a server: the count of keys, or why not.
QString installKeyBanner(const ShellResult<int>& result);

class SidebarView : public QWidget {
    Q_OBJECT

public:
    SidebarView(MacModel& model, QWidget* parent = nullptr);

    MacModel& model;

    // The request of the shown session picker, if any.
    const std::optional<PickerRequest>& picker() const { return pickerValue; }
    // Shows the picker for the request (replacing a shown one) or closes it.
    void setPicker(std::optional<PickerRequest> request);
    SessionPicker* pickerSheet() const { return sheet; }

    // The actions; each starts its work and returns at once.
    void refresh(MacConnection& connection);
    void installKey(MacConnection& connection);
    void disconnectServer(MacConnection& connection);
    void connectProfile(const MacProfile& profile);
    void openProject(const MacProject& project, MacConnection& connection);

    QScrollArea* scrollArea() const { return scroller; }
    // Builds the rows from the model now instead of on the next turn.
    void rebuild();

Q_SIGNALS:
    void pickerChanged();

private:
    void scheduleRebuild();
    // The rows read what they draw at each paint.
    void repaintRows();
    // Follows the connections and tabs the model holds now.
    void followModel();
    QWidget* connectionSection(MacConnection& connection);
    QWidget* serversSection(const QList<MacProfile>& profiles);
    void addRows(QVBoxLayout* layout, const QList<MacProject>& projects, MacConnection& connection);

    std::optional<PickerRequest> pickerValue;
    QPointer<SessionPicker> sheet;
    // Tells a closed picker's late callbacks from the shown one's.
    quint64 pickerGeneration = 0;
    QScrollArea* scroller = nullptr;
    QWidget* content = nullptr;
    QVBoxLayout* sections = nullptr;
    bool rebuildPending = false;
    QList<QMetaObject::Connection> followed;
};

} // namespace halvoren
