// One place where projects live: this computer (id "local", no link) or one connected SSH
// server. It holds what the workspace knows of that place; the views read the observed
// fields and only the model writes them.
//
// An observed field notifies through its signal when a whole new value differs from the old
// one; the in-place edits (insertExpanded, mergeGitInfo, storeSubprojects, clearExpanded)
// always notify. The plain fields are bookkeeping of the listing sync and never notify.
// Everything runs on the main thread.
#pragma once

#include "settings/MacProfile.h"
#include "tab/MacProject.h"
#include "remote/Async.h"
#include "remote/FolderSessions.h"
#include "remote/SSHLink.h"
#include "remote/ServerState.h"
#include "remote/SharedPrefs.h"

#include <QDateTime>
#include <QHash>
#include <QList>
#include <QObject>
#include <QPointer>
#include <QSet>
#include <QString>
#include <QStringList>
#include <QTimer>

#include <memory>
#include <optional>
#include <utility>

namespace halvoren {

class Prefs;

class MacConnection : public QObject {
    Q_OBJECT

public:
    static inline const QString localID = QStringLiteral("local");

    // This computer.
    MacConnection();
    // A server reached through `link`.
    explicit MacConnection(std::shared_ptr<SSHLink> link);

    const QString id;
    const std::optional<MacProfile> profile;
    // None for this computer: how every operation tells the two apart.
    const std::shared_ptr<SSHLink> link;

    bool tmuxAvailable() const { return tmuxAvailableValue; }
    void setTmuxAvailable(bool value);
    bool sectionExpanded() const { return sectionExpandedValue; }
    void setSectionExpanded(bool value);
    bool hiddenExpanded() const { return hiddenExpandedValue; }
    void setHiddenExpanded(bool value);
    const QList<MacProject>& projects() const { return projectsValue; }
    void setProjects(const QList<MacProject>& value);
    const QSet<QString>& favorites() const { return favoritesValue; }
    void setFavorites(const QSet<QString>& value);
    const QSet<QString>& hidden() const { return hiddenValue; }
    void setHidden(const QSet<QString>& value);
    // One name in or out, in place (a copy of a set of many names costs a click its time);
    // notifies when that changed the set.
    void setFavorite(const QString& name, bool favorite);
    void setHiddenName(const QString& name, bool hidden);
    const QSet<QString>& liveSessions() const { return liveSessionsValue; }
    void setLiveSessions(const QSet<QString>& value);
    const QHash<QString, GitInfo>& gitInfo() const { return gitInfoValue; }
    void setGitInfo(const QHash<QString, GitInfo>& value);
    void mergeGitInfo(const QHash<QString, GitInfo>& value);
    const QSet<QString>& expanded() const { return expandedValue; }
    void setExpanded(const QSet<QString>& value);
    void insertExpanded(const QString& path);
    const QHash<QString, QList<MacProject>>& subprojects() const { return subprojectsValue; }
    void storeSubprojects(const QString& path, const QList<MacProject>& list);
    // Empties both the expanded paths and the cached sub-folders.
    void clearExpanded();
    bool unreachable() const { return unreachableValue; }
    void setUnreachable(bool value);

    // Plain bookkeeping of the listing sync.
    bool tabSyncReady = false;
    // Set until a listing of the host was applied or the host seeded: until then the saved
    // tabs are the only record of this connection's tabs, and are kept.
    bool seedFromPersisted = false;
    // Set while a listing cut at its bound is applied: the saved tabs stay as they are.
    bool savedTabsHeld = false;
    // The sessions the seeding running now made or found: its re-listing must show one of
    // them to be applied.
    QStringList seededSessions;
    // The names of the tabs the last seeding could not make. They leave the saved tabs with
    // the first listing of the host that is applied, which may come polls later when the
    // seeding's own re-listing fails: that apply takes them, to name them once. A seeding
    // replaces them; they go with the connection.
    void holdTabsNotMade(const QStringList& names) { tabsNotMadeValue = names; }
    QStringList takeTabsNotMade() { return std::exchange(tabsNotMadeValue, {}); }
    // When the last listing of the host started: listings asked by tab exits keep their
    // distance from it. The one such listing waiting for its turn, if any.
    std::optional<QDateTime> lastListingAt;
    QPointer<QTimer> exitListing;
    // Sessions whose tab ended at once after its last start, and how many starts in a row did;
    // those that did it twice, which listings no longer open until the user opens them.
    QHash<QString, int> quickExits;
    QSet<QString> closedAtOnce;
    // The host's shared-state file as last read, or as last known written.
    std::optional<SharedPrefs> sharedRaw;
    // The host's file is known to be sharedRaw: a listing or a write's answer read it, or a
    // write of it landed, and no write of ours went since without saying what became of it
    // (failed, answer lost). Only then do sets equal to sharedRaw count as already there.
    bool sharedRawKnown = false;
    // The checksum of that file's bytes as the host gave it (none: no file there): a write
    // installs its file only over this one, so it never undoes what another client wrote
    // since (see uploadSharedPrefsScript).
    std::optional<QString> sharedSum;
    // The host's shared-state file was over the size we read, or there but unreadable: it is
    // neither adopted nor replaced.
    bool sharedStateTooLarge = false;
    bool sharedStateUnreadable = false;
    // Favourite and hide changes the host's file is not known to hold, name by name (wanted
    // or not): kept (with the preferences, across launches) until a write holding them
    // landed or a listing shows the file holds them, and applied on top of every file read
    // meanwhile, so that a listing never undoes them and the phone's own changes stay.
    QHash<QString, bool> pendingFavorites;
    QHash<QString, bool> pendingHidden;
    bool sharedStateHeld() const { return sharedStateTooLarge || sharedStateUnreadable; }
    // A listing has read the host's file (or found none): until then our sets are no more
    // than what this computer last knew, and changes wait in the pending names as well.
    bool sharedStateRead = false;
    // Our sets are sharedRaw with the pending names on top, and those pending were weighed
    // against sharedRaw and found not to fit: a listing of that same file changes nothing.
    bool sharedSettled = false;
    // A write of our sets is running or waiting, or the last one did not reach the file: the
    // next listing weighs the pending names again and writes them. Writes go one at a time,
    // and one asked for while another runs follows it, with the sets as they are then, so
    // the latest sets land last.
    bool sharedWriteOwed = false;
    bool sharedWriting = false;
    bool sharedWriteQueued = false;
    // The failure of these writes was shown, or that the file changed under every rewrite of
    // one; the next write that lands ends the streak.
    bool sharedWriteFailureShown = false;
    bool sharedRewritesShown = false;
    // The open rows of the last listing applied, in the host's order: what a close or a new
    // order made here is weighed against. Our own order writes that landed since are in it.
    QList<HostTab> listedOpen;
    // Listings of the host started so far.
    quint64 listingsStarted = 0;
    // The rows of sessions whose tab this computer opened, read once the tab showed its
    // session (its own start made and tagged it, and no listing may have shown it yet), with
    // the count of listings started when the row came. A listing started after that shows
    // the row itself, and replaces it.
    struct OpenedRow {
        HostTab row;
        quint64 readAfter = 0;
    };
    QHash<QString, OpenedRow> openedRows;
    // Closes whose untag is on its way or did not reach the host, with the row as the host
    // listed it or as read after the tab's start, when the user closed the tab (none when
    // neither was known). Sent again while the host still lists the row so; otherwise, or
    // without a row, the host's state stands. Kept with the preferences, as are the two below,
    // from before the write goes: a quit or a disconnect while it runs keeps it as well.
    struct UnsentClose {
        std::optional<HostTab> row;
        // When it was kept, against the others (see keptChanges): the stored record keeps the
        // newest.
        quint64 keptAt = 0;
    };
    QHash<QString, UnsentClose> unsentCloses;
    // A new tab order on its way or that did not reach the host, with the host's order as it
    // was when the user made it. Sent again while the host keeps that order; otherwise the
    // host's stands.
    struct UnsentOrder {
        QStringList sessions;
        QStringList over;
    };
    std::optional<UnsentOrder> unsentOrder;
    // Sessions whose end was asked here and not known to be done, by the name of their tab,
    // and whether the kill is still running. Never sent again: the next listing says whether
    // the session still runs.
    struct UnsentKill {
        QString name;
        bool sending = false;
        // When tmux made the session, as last listed or read: a session made again since is
        // another.
        std::optional<qint64> created;
        quint64 keptAt = 0;
    };
    QHash<QString, UnsentKill> unsentKills;
    // The age of the latest close or end kept: each new one gets the next.
    quint64 keptChanges = 0;
    // Our own orders of the tabs on the host: a move (or one sent again), and the numbering a
    // tab's start gives every tab of the connection. Each made gets the next number; what we
    // know of the host follows only the newest that landed, never an older list.
    quint64 ordersMade = 0;
    // The newest move made, whose order the strip shows (0: none yet).
    quint64 newestMove = 0;
    // The newest of ours that landed, and its sessions numbered 1, 2, …
    quint64 orderLanded = 0;
    QStringList landedOrder;
    // Order writes go one at a time: one runs, and the newest asked for meanwhile waits
    // behind it, replacing any older one waiting.
    struct OrderWrite {
        quint64 number = 0;
        QStringList sessions;
    };
    bool orderWriting = false;
    std::optional<OrderWrite> waitingOrder;
    int writeEpoch = 0;
    bool syncing = false;
    bool syncQueued = false;
    int failures = 0;
    // Problems with the host's data already shown: each is shown once.
    QSet<QString> reportedProblems;
    // The last tmux probe got no answer (a time-out, a login profile that did not run it):
    // tmuxAvailable keeps its value and the poll asks again until one answers.
    bool tmuxUnanswered = false;
    bool probingTmux = false;

    // Where this computer's roots are read; the application's preferences when none.
    Prefs* prefs = nullptr;
    // Roots of this computer for this run only, which the model holds; none when null.
    const QStringList* extraRoots = nullptr;

    // The folders under which projects are listed: the stored roots here, then the extra
    // ones the stored roots do not already hold; one root made from the profile and the
    // remote home on a server.
    QStringList projectRoots() const;
    // Names of the visible sub-folders of `root` on the host, sorted; empty on any error.
    Task<QStringList> listFolders(QString root);
    // The same, but nothing when the host could not be asked or the folder not read (a
    // folder that does not exist lists as empty).
    Task<std::optional<QStringList>> tryListFolders(QString root);
    // Projects not hidden, favourites first, then by name.
    QList<MacProject> visibleProjects() const;
    // Hidden projects by name.
    QList<MacProject> hiddenProjects() const;

Q_SIGNALS:
    void tmuxAvailableChanged();
    void sectionExpandedChanged();
    void hiddenExpandedChanged();
    void projectsChanged();
    void favoritesChanged();
    void hiddenChanged();
    void liveSessionsChanged();
    void gitInfoChanged();
    void expandedChanged();
    void subprojectsChanged();
    void unreachableChanged();

private:
    bool tmuxAvailableValue = true;
    bool sectionExpandedValue = true;
    bool hiddenExpandedValue = false;
    QList<MacProject> projectsValue;
    QSet<QString> favoritesValue;
    QSet<QString> hiddenValue;
    QSet<QString> liveSessionsValue;
    QHash<QString, GitInfo> gitInfoValue;
    QSet<QString> expandedValue;
    QHash<QString, QList<MacProject>> subprojectsValue;
    bool unreachableValue = false;
    QStringList tabsNotMadeValue;
};

// The project root of a server: the profile's root with "~" standing for the remote home
// (an empty root reads as "~/projets").
QString serverProjectRoot(const QString& projectsRoot, const QString& remoteHome);

// Visible sub-folder names of a local folder (no hidden entries, links to folders count),
// sorted; empty when the folder cannot be read. Blocking: call it off the main thread.
QStringList localFolderNames(const QString& root);
// The same, but nothing when the folder exists and cannot be read.
std::optional<QStringList> readLocalFolderNames(const QString& root);

// Locale-aware, case-insensitive ordering of names, stable for equal ones.
void sortNames(QStringList& names);

} // namespace halvoren
