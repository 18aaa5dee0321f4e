// The quick commands panel at the right of the window: the saved commands, a click types one
// into the active tab, and the list is edited, reordered and stored from here.
#pragma once

#include "workspace/MacModel.h"

#include <QDialog>
#include <QPointer>
#include <QWidget>

#include <optional>

class QListWidget;
class QMenu;
class QPushButton;

namespace halvoren {

// The list after moving the entries at `sources` (in list order) so that they stand together
// before the entry that was at `destination` (the list's length: at the end).
QList<SavedCommand> movedCommands(const QList<SavedCommand>& list, QList<qsizetype> sources, qsizetype destination);

// The entry the alert saves, and where: `editing` in range replaces that entry whatever the
// fields hold; otherwise a non-empty command is appended and an empty one adds nothing.
QList<SavedCommand> savedCommands(const QList<SavedCommand>& list, std::optional<qsizetype> editing,
                                  const QString& label, const QString& command);

class CommandsPanel : public QWidget {
    Q_OBJECT

public:
    CommandsPanel(MacModel& model, QWidget* parent = nullptr);

    MacModel& model;

    // The alert's state: the entry being edited, the two fields, and whether it adds one.
    std::optional<qsizetype> editing;
    QString label;
    QString command;
    bool adding = false;

    // Types the command and a Return into the active tab, then gives it the keyboard.
    void run(const SavedCommand& saved);
    void startAdd();
    void startEdit(qsizetype index);
    void save();
    // Named so because `delete` is taken by the language.
    void deleteCommand(qsizetype index);
    void move(const QList<qsizetype>& sources, qsizetype destination);

    // What the view shows, for whoever drives it.
    QListWidget* list() const { return rows; }
    QPushButton* addButton() const { return addRow; }
    // A click on the row runs it: only while a tab is active.
    bool rowRunnable(int row) const;
    // The open alert, if any.
    QDialog* alert() const { return alertDialog; }
    // The context menu of a row; the caller owns it.
    QMenu* rowMenu(qsizetype index);

private:
    void rebuild();
    void updateEnabled();
    void showAlert();
    void closeAlert();

    QListWidget* rows = nullptr;
    QPushButton* addRow = nullptr;
    QPointer<QDialog> alertDialog;
};

} // namespace halvoren
