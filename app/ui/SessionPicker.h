// The session picker: the tmux sessions already running in a project folder, to resume one,
// close one or start a new one.
//
// A window-modal sheet over the main window. It never talks to tmux itself: every action goes
// through the model. `done` is the owner's: it forgets the request, and the picker then
// closes itself (the owner keeps ownership of the dialog, and deletes it later, not inside
// `done`: a button of the sheet is still handling its click). The list shown is the picker's own
// copy of the request's sessions; closing a session refreshes only that copy.
#pragma once

#include "workspace/MacModel.h"
#include "ui/PickerRequest.h"

#include <QDialog>
#include <QDateTime>
#include <QString>

#include <functional>

class QPushButton;
class QVBoxLayout;

namespace halvoren {

// `date` said relative to `now` in the locale named `localeName` ("fr_FR", "en"…): a word
// such as "hier" where the locale has one, else a count of the largest whole unit in full
// ("il y a 5 minutes").
QString relativeDateText(const QDateTime& date, const QDateTime& now, const QString& localeName);

// The second line of a session's row: its command, when it was last active, and how many
// clients are attached when there is at least one.
QString sessionDetailLine(const FolderSession& session, const QDateTime& now, const QString& localeName);

class SessionPicker : public QDialog {
    Q_OBJECT

public:
    // Its fixed width, and the height its wrapped texts take at that width.
    QSize sizeHint() const override;

    SessionPicker(MacModel& model, PickerRequest request, std::function<void()> done, QWidget* parent);

    MacModel& model;
    PickerRequest request;
    std::function<void()> done;

    // The row actions, also reached through the row's buttons.
    void resume(const FolderSession& session);
    // Kills the session, then replaces the list with a fresh listing of the folder.
    void closeSession(const FolderSession& session);
    void newSession();
    void cancel();

    // Escape is "Annuler".
    void reject() override;

private:
    void showSessions();
    // Calls the owner's `done`, then hides the sheet if it is still there.
    void finish(int result);
    static Task<> killAndRefresh(QPointer<SessionPicker> self, QPointer<MacModel> model,
                                 QPointer<MacConnection> connection, FolderSession session, QString path);

    QVBoxLayout* rows = nullptr;
};

} // namespace halvoren
