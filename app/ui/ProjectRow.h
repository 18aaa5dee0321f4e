// One project folder in the sidebar: a painted line (disclosure chevron, folder, favourite star,
// name, git branch with its dirty mark, and a dot for an open session or a finished command
// waiting for the user) and, while expanded, the rows of its sub-folders one level deeper.
//
// A row keeps nothing of its own: expansion, sub-folders, favourites, git state, live sessions
// and tabs are read from the model and the connection whenever the line is drawn, so a rebuilt
// sidebar shows exactly what the model holds. The decisions (what the line shows, which menu
// items it offers, how far it is indented) are plain functions so they can be checked alone.
#pragma once

#include "workspace/MacModel.h"

#include <QColor>
#include <QFont>
#include <QRectF>
#include <QDBusConnection>
#include <QList>
#include <QPointer>
#include <QString>
#include <QUrl>
#include <QWidget>

#include <functional>
#include <optional>

class QMenu;

namespace halvoren {

// What a click on a row (or its "Ouvrir" item) does with the project; the sidebar supplies it
// and sub-folder rows receive the same one.
using OpenProjectAction = std::function<void(const MacProject&)>;

// What one row line shows.
struct ProjectRowState {
    bool expanded = false;
    // A session of the folder is live on the host or shown by a tab of this connection.
    bool open = false;
    // Only ever true at depth 0.
    bool favorite = false;
    bool hidden = false;
    // The active tab shows this project's session on this connection.
    bool active = false;
    // A tab of this connection showing the session has finished something the user has not seen.
    bool attention = false;
    std::optional<GitInfo> git;

    friend bool operator==(const ProjectRowState&, const ProjectRowState&) = default;
};

// The dot at the end of the line: a finished command waiting outweighs a live session.
enum class StateDot { none, attention, live };

ProjectRowState projectRowState(const MacModel& model, const MacProject& project, const MacConnection& connection,
                                int depth);
StateDot stateDot(const ProjectRowState& state);
// "folder.fill" for an open project, else "folder".
QString folderSymbol(const ProjectRowState& state);

enum class RowAction { divider, open, openAnotherSession, listSessions, toggleFavorite, toggleHidden, reveal };

struct RowMenuItem {
    RowAction action = RowAction::divider;
    // Empty for a divider.
    QString title;
};

// The context menu of a row. Favourites and hiding concern projects of a root only, and only
// folders of this computer can be shown in the file manager.
QList<RowMenuItem> projectRowMenu(int depth, bool favorite, bool hidden, bool local);

// The dirty mark of a git repository: the desktop's orange.
QColor dirtyMarkColor();

// Height of a row's line: the whole height of a row that is not expanded.
constexpr int rowLineHeight = 24;
constexpr int rowIndentStep = 14;
// Leading space of a row line.
constexpr int rowLeadingPad(int depth) { return depth * rowIndentStep; }
// Leading space of "Aucun sous-dossier" under an expanded row: under its sub-rows' names.
constexpr int emptySubfoldersIndent(int depth) { return (depth + 1) * rowIndentStep + 22; }

// Where each item of a row line goes, left to right: chevron, folder icon, star, name, git
// group (dirty mark and branch), state dot. Missing items have empty rectangles. The name and
// the git group share what the fixed items leave (`shared`), at least `nameGitGap` apart;
// when both do not fit, the branch is shortened first, but the name keeps at least half of
// the shared space (or all it needs). Texts are drawn elided into their rectangles.
struct ProjectRowLayout {
    QRectF chevron;
    QRectF icon;
    QRectF star;
    QRectF name;
    QRectF git; // the dirty mark and the branch together
    QRectF dirty;
    QRectF branch;
    QRectF dot;
    QRectF shared;
};
constexpr int nameGitGap = 4;

// From the natural widths of the name and of the branch text (none without git information).
ProjectRowLayout layoutProjectRow(double width, int depth, bool favorite, StateDot dot, double nameWidth,
                                  std::optional<double> branchWidth, bool dirty);
// The same for a row that shows `name` with `state`, measured in the row's fonts.
ProjectRowLayout layoutProjectRow(double width, int depth, const ProjectRowState& state, const QString& name);
QFont projectNameFont(bool active);
QFont projectBranchFont();

// Opens a folder with whatever the desktop offers; `done` hears, whenever it is known,
// whether something took it.
using FolderOpener = std::function<void(const QUrl& folder, std::function<void(bool opened)> done)>;

// The desktop's opener, xdg-open found on PATH, started apart from the application: it may
// stay until the file manager closes and outlives a quit. Only its non-zero exit (or its
// absence) counts as not opened.
void openFolderWithDesktopOpener(const QUrl& folder, std::function<void(bool opened)> done);

// Shows the file or folder selected in the desktop's file manager over `bus`; when no file
// manager answers there, opens the folder that holds it with `openFolder` (the desktop's
// opener when none is given). When that fails too, `failed` is called. Never waits.
void revealInFileManager(const QString& path, std::function<void()> failed,
                         const QDBusConnection& bus = QDBusConnection::sessionBus(), FolderOpener openFolder = {});
inline const QString noFileManagerMessage = QStringLiteral("Aucun gestionnaire de fichiers n'a pu être ouvert.");

// Lists the folder's sessions, then always posts the session picker with them, even when
// there are none or the listing failed. Holds the model, not any view.
Task<> postFolderSessions(QPointer<MacModel> model, MacProject project, QPointer<MacConnection> connection);

class ProjectRow : public QWidget {
    Q_OBJECT

public:
    ProjectRow(MacModel& model, MacProject project, MacConnection& connection, int depth, OpenProjectAction open,
               QWidget* parent = nullptr);

    MacModel& model;
    const MacProject project;
    // Weak: a removed server's rows may outlive it until the sidebar rebuilds.
    const QPointer<MacConnection> connection;
    const int depth;
    const OpenProjectAction open;

    // What the line shows now; nothing once the connection is gone.
    std::optional<ProjectRowState> state() const;
    QList<RowMenuItem> menuItems() const;
    // Runs one menu action (a divider does nothing).
    void trigger(RowAction action);
    // The context menu with one entry per item of menuItems(), owned by `parent`.
    QMenu* makeMenu(QWidget* parent);
    // The painted line (the row's first child); sub-rows and the empty text follow it.
    QWidget* line() const { return lineWidget; }

private:
    QWidget* lineWidget = nullptr;
};

} // namespace halvoren
