// The workspace: the connections (this computer first, then every connected server) with
// their projects, the saved server profiles, the open tabs and the active one, the banner
// line, the terminal font size, the quick commands, the tab labels and the visibility of the
// message bar and of the commands panel. Every view reads it and calls its operations.
//
// A tab is known everywhere by its key, the connection id + "::" + its project's session
// name: the active tab, the labels, the notifications and the activity records use it.
//
// Observed fields notify through their signal. A whole new value notifies only when it
// differs from the stored one; in-place edits of the connections, profiles, tabs, labels and
// reconnecting set always notify. The plain fields below never notify. Everything runs on
// the main thread; host work (scripts, listings) is awaited without blocking it.
#pragma once

#include "workspace/MacConnection.h"
#include "settings/MacProfile.h"
#include "tab/MacProject.h"
#include "settings/Prefs.h"
#include "remote/Async.h"
#include "remote/FolderSessions.h"
#include "remote/ServerState.h"
#include "remote/Shell.h"

#include <QByteArray>
#include <QColor>
#include <QDateTime>
#include <QHash>
#include <QList>
#include <QMap>
#include <QObject>
#include <QPointer>
#include <QSet>
#include <QString>
#include <QStringList>
#include <QTimer>
#include <QUrl>

#include <functional>
#include <memory>
#include <optional>

#include <sys/types.h>

namespace halvoren {

class MacTab;
class Notifier;
class ProfileStore;
class SecretStore;

// The time the model reads and the delays and repeating timers it runs. Tests put a clock of
// their own in its place and move it forward instead of waiting.
class ModelClock {
public:
    virtual ~ModelClock() = default;
    virtual QDateTime now() const;
    // Runs `action` once after `seconds` unless the returned timer is stopped first. The
    // timer belongs to `context`.
    virtual QTimer* after(double seconds, QObject* context, std::function<void()> action);
    // Runs `action` every `seconds`, for as long as `context` lives.
    virtual QTimer* every(double seconds, QObject* context, std::function<void()> action);
};

// A tab closed recently, kept so that it can be opened again.
struct ClosedTab {
    QString name;
    QString path;
    QString session;
    QString connId;

    friend bool operator==(const ClosedTab&, const ClosedTab&) = default;
};

// What a banner shows of a name, a path or a host's message: on one line, and cut in its middle
// past `columns`, so that the sentence around it reads whole in the banner's lines even in the
// smallest window.
inline constexpr qsizetype bannerNameColumns = 60;
inline constexpr qsizetype bannerReasonColumns = 120;
QString bannerQuote(const QString& text, qsizetype columns = bannerNameColumns);

// What became of a script that writes to a host: whether it ran there to its end, and, when
// it did not, whether the shared connection only refused it for now (not a failure: it is
// tried again) and the reason, when the host or ssh gave one.
struct HostWrite {
    bool done = false;
    bool refused = false;
    QString reason;
    // Done: what the script printed.
    QString output;
};

struct SharedAdoption;

class MacModel : public QObject {
    Q_OBJECT

public:
    // Time-outs of the host work, in seconds.
    static constexpr double scriptTimeout = 25.0;
    static constexpr double gitProbeTimeout = 40.0;
    // Projects probed by one run of the git script.
    static constexpr qsizetype gitProbeBatch = 250;
    static constexpr double sessionListTimeout = 25.0;
    static constexpr double listingTimeout = 25.0;
    // How many times one write of the shared-state file goes again over a file that keeps
    // changing under it; then the next listing writes.
    static constexpr int maximumSharedRewrites = 3;
    // The most tmux tabs of one connection that the host's listing opens; the others stay
    // open on the host, untouched, and are reported once.
    static constexpr int maximumHostOpenedTabs = 64;
    static QString hostTabsCappedMessage(const MacConnection& connection, qsizetype notOpened);
    // Shown when a favourite or hide change is kept here because the host's shared-state
    // file is too large, or unreadable, to be replaced.
    static QString sharedStateKeptHereMessage(bool unreadable = false);
    // Shown once while writes of the favourites and hidden projects to the host fail.
    static QString sharedStateNotWrittenMessage(const MacConnection& connection, const QString& reason);
    // Shown once while writes of them find the host's file changed at each of their rewrites.
    static QString sharedStateKeepsChangingMessage(const MacConnection& connection);
    // Shown when a close, a new tab order or a session's end made here did not reach the
    // host, and the host's state stands.
    static QString closeNotMadeMessage(const MacConnection& connection, const QString& name);
    static QString orderNotMadeMessage(const MacConnection& connection);
    static QString sessionStillRunsMessage(const MacConnection& connection, const QString& name);
    // How messages about the connection's host name it: "Cet ordinateur" for this one,
    // "Le serveur" for a server.
    static QString hostSubject(const MacConnection& connection);
    static constexpr double localTmuxProbeTimeout = 10.0;
    static constexpr double remoteTmuxProbeTimeout = 25.0;
    // Shown when the host's shell did not answer the tmux probe in time.
    static QString tmuxProbeUnansweredMessage(const MacConnection& connection);
    // Periods and hold-offs, in seconds.
    static constexpr double pollInterval = 4.0;
    static constexpr double activityInterval = 2.0;
    static constexpr double quietPeriod = 4.0;
    static constexpr double finishedRepeatWindow = 6.0;
    static constexpr double decisionDelay = 1.5;
    static constexpr double restartHoldOff = 3.0;
    // A tab whose child ends within this many seconds of its start ended at once: twice in a
    // row, and listings no longer open it. Listings asked by tab exits come at least this far
    // after the host's previous listing.
    static constexpr double quickExitWindow = 2.0;
    static QString closesAtOnceMessage(const MacProject& project);
    // Shown when the listing after a seeding does not show the sessions it made.
    static QString seededTabsUnlistedMessage(const MacConnection& connection);
    // Shown when a seeding's tmux made some of the tabs' sessions but not those named.
    static QString tabsNotMadeMessage(const MacConnection& connection, const QStringList& names);
    static constexpr double reorderHoldOff = 10.0;
    // After our resize of a tab or the (re)start of its client, how long its output counts
    // only through the lines it scrolls in: the client's drawing of the whole screen is no
    // command's output.
    static constexpr double redrawSettle = 1.0;
    // Output of one burst above which a quiet period or a prompt counts as a finished command.
    static constexpr qint64 busyBurstBytes = 500;
    static constexpr int maxClosedTabs = 10;

    // Reads its starting values from `prefs`; `keychain` (passwords typed by server tabs)
    // and `notifier` are the application's when none is given.
    explicit MacModel(Prefs& prefs, SecretStore* keychain = nullptr, Notifier* notifier = nullptr);
    ~MacModel() override;
    // The application's one model, on the application's preferences, made on first use.
    static MacModel& shared();

    Prefs& prefs;
    // Where the server profiles are loaded and saved; none keeps them in memory only.
    ProfileStore* profileStore = nullptr;
    // More roots of this computer, for this run only: listed after the stored ones, never
    // written to the preferences (the model tool's --root).
    QStringList extraProjectsRoots;
    std::shared_ptr<ModelClock> clock = std::make_shared<ModelClock>();
    // Whether this application is the one the user works in.
    std::function<bool()> isFrontmost;
    // Shows the main window above the others; the application sets it.
    std::function<void()> bringForward;

    // How the model reaches a host. Tests put fakes in their place; by default a script runs
    // in the login shell here or through the connection's ssh link, and folders are listed
    // by the connection.
    std::function<Task<ShellResult<QString>>(MacConnection&, QString script, double timeoutSeconds)> runScript;
    // Nothing when the folder could not be listed (unlike an empty folder).
    std::function<Task<std::optional<QStringList>>(MacConnection&, QString folder)> listFolders;
    // The nonce of each listing's markers: fresh for every run. Tests that answer listings
    // themselves may give the empty one (the bare markers).
    std::function<QString()> listingNonce = newListingNonce;

    // ---- Observed fields

    const QList<MacConnection*>& connections() const { return connectionsValue; }
    // Adds a server connection at the end; the model owns it from now on.
    void appendConnection(MacConnection* connection);
    // Removes and deletes a server connection (this computer's stays).
    void removeConnection(MacConnection* connection);

    const QList<MacProfile>& profiles() const { return profilesValue; }
    void setProfiles(const QList<MacProfile>& value);

    const QList<MacTab*>& tabs() const { return tabsValue; }
    // Puts a tab of makeTab into the list at `index` (clamped); the model owns it.
    void insertTab(MacTab* tab, qsizetype index);
    // Replaces the order of the tabs; `order` must hold exactly the same tabs.
    void reorderTabs(const QList<MacTab*>& order);

    const std::optional<QString>& activeTabID() const { return activeTabIDValue; }
    void setActiveTabID(const std::optional<QString>& value);
    // The message shown. A text set while another is shown waits in turn (the same text is
    // not queued twice); setting none ends the one shown and shows the next.
    const std::optional<QString>& banner() const { return bannerValue; }
    void setBanner(const std::optional<QString>& value);
    // The messages waiting behind the one shown, oldest first.
    const QStringList& waitingBanners() const { return bannerQueue; }
    // Ends the one shown and drops those waiting.
    void clearBanners();
    // The most messages waiting; a newer one pushes out the oldest waiting.
    static constexpr qsizetype maximumWaitingBanners = 8;
    double fontSize() const { return fontSizeValue; }
    // Clamped to 9 ... 28, always stored, and applied to every tab's view.
    void setFontSize(double value);
    const QList<SavedCommand>& commands() const { return commandsValue; }
    void setCommands(const QList<SavedCommand>& value);
    const QMap<QString, QString>& tabLabels() const { return tabLabelsValue; }
    void setTabLabels(const QMap<QString, QString>& value);
    // Every assignment also stores the preference, changed or not.
    bool composeVisible() const { return composeVisibleValue; }
    void setComposeVisible(bool value);
    bool commandsVisible() const { return commandsVisibleValue; }
    void setCommandsVisible(bool value);
    const QSet<QString>& reconnecting() const { return reconnectingValue; }
    void setReconnecting(const QSet<QString>& value);

    // ---- Plain fields: activity records and bookkeeping

    QSet<QString> armed;
    QHash<QString, qint64> activityBytes;
    QHash<QString, QDateTime> lastActivity;
    // Until when a tab's output is its client's drawing of the whole screen.
    QHash<QString, QDateTime> redrawUntil;
    QHash<QString, QDateTime> lastFinished;
    // The delayed notification decision of a tab; stopping the timer cancels it.
    QHash<QString, QPointer<QTimer>> pendingFinish;
    // Stops and frees the tab's pending decision, if any: a cancelled timer is not kept.
    void cancelDecision(const QString& key);
    // Oldest first, at most ten.
    QList<ClosedTab> closedTabs;
    qint64 tick = 0;
    QList<QPointer<QTimer>> timers;
    bool started = false;
    // While start-up restores the tabs and the active one: a tab made active on the way is not
    // one the user looked at, so its notification stays.
    bool restoringTabs = false;

    // ---- Lookups

    MacConnection* connection(const QString& id) const;
    MacTab* activeTab() const;
    MacConnection* localConnection() const { return connectionsValue.front(); }

    // ---- The tab list

    // A new tab of the project with its terminal view set up and its upload hooks; not yet
    // in the list and not started.
    MacTab* makeTab(MacConnection& connection, const MacProject& project);
    void activate(MacTab& tab);
    // A click on a tab's notification: that tab made active and the main window brought
    // forward, whichever tab it is.
    void openFromNotification(const QString& key);
    // Stops the tab, forgets its activity, takes it out of the list, moves the active tab to
    // its neighbour when it was the active one, and stores the tabs.
    void removeTab(MacTab& tab);
    QString tabTitle(const MacTab& tab) const;
    QString tabSubtitle(const MacTab& tab) const;
    void renameTab(const MacTab& tab, const std::optional<QString>& label);
    QColor connectionColor(const QString& id) const;
    void toggleFavorite(const QString& name, MacConnection& connection);
    void toggleHidden(const QString& name, bool hidden, MacConnection& connection);
    Task<> addProjectsRoot(QString path);
    Task<> removeProjectsRoot(QString path);

    // Writes every connection's tabs and the position of the active one.
    void persistTabs();
    // Where a new tab of the tab's connection goes: after that connection's last tab.
    qsizetype insertionIndex(const MacTab& tab) const;

    // ---- Host work

    // Runs a script that writes to the connection's host, with the connection's write epoch
    // raised before and after. Done only when the script ran on the host to its end: a
    // script whose own step failed ends early (exit) to say so.
    Task<HostWrite> runRemote(MacConnection& connection, QString script);
    // The same, giving what the script printed.
    Task<ShellResult<QString>> runRemoteReading(MacConnection& connection, QString script);
    // Lists the projects under every root; a root that could not be listed keeps the
    // projects it had. Closes every open sub-folder list, then asks for the git state.
    Task<> refreshProjects(MacConnection& connection);
    Task<> refreshGitInfo(MacConnection& connection, QStringList paths);
    // Opens or closes the sub-folder list of a project, listing it once per opening cycle.
    Task<> loadSubprojects(QString path, MacConnection& connection);

    // ---- Opening and closing tabs

    // Activates the tab of the project's session, or opens, tags and starts a new one.
    void openProject(const MacProject& project, MacConnection& connection);
    // Opens the project unless its folder has sessions other than its own on the host: then
    // those, for the user to choose from.
    Task<std::optional<QList<FolderSession>>> openProjectOrListSessions(MacProject project, MacConnection& connection);
    // Opens a new numbered session of the folder ("name (n)", n from 2, never the base).
    void openAnotherSession(const QString& name, const QString& path, MacConnection& connection);
    void selectTab(qsizetype index);
    // +1 or -1, wrapping around.
    void selectAdjacentTab(int delta);
    // Remembers the tab for reopening, removes it and untags its session (which keeps running).
    void closeTab(MacTab& tab);
    void reopenClosedTab();
    // Removes the session's tabs, then ends the session on the host.
    Task<> killSession(QString session, MacConnection& connection);
    // Moves the tabs at `sources` before the tab at `destination` and tells the hosts.
    void moveTabs(const QList<qsizetype>& sources, qsizetype destination);

    // ---- Following the hosts

    // The folder of a tab the host lists: its stored path, or the real path of a known folder
    // when the stored one is that path cleaned for the listing.
    QString realFolderPath(const MacConnection& connection, const HostTab& host) const;
    // Puts in the real folder of each listed tab about to open whose stored path no known
    // folder explains, asking the host for the session's start folder.
    Task<> resolveFolderPaths(MacConnection& connection, QList<HostTab>& hostTabs);
    // Makes the connection's tmux tabs follow the tabs its host lists; `epoch` is the write
    // epoch at the start of that listing (no tab is opened from a listing older than a write).
    // The tabs of the sessions in `held` stay open whatever the listing says.
    void applyHostListing(MacConnection& connection, const QList<HostTab>& hostTabs, int epoch,
                          const QSet<QString>& held = {});
    // The sessions of the connection's tabs that a listing cannot close: those whose rows it
    // left out for a value too long to read, or every one when it did not give all open rows.
    QSet<QString> heldSessions(const MacConnection& connection, const ServerState& state) const;
    // One listing sync of the connection; a request during a run makes one more run after it.
    Task<> requestSync(MacConnection& connection);
    Task<> runListing(MacConnection& connection, bool applyOnly);
    // `nonce` is that of the listing's markers.
    Task<> handleListing(MacConnection& connection, QString output, int epoch, bool applyOnly, QString nonce = QString());
    Task<> finishListing(MacConnection& connection, ServerState state, int epoch, bool applyOnly);
    // Whether the listing's tab step applies the host's tabs here (rather than seed the host,
    // or leave the tabs alone).
    static bool appliesTabs(const MacConnection& connection, const ServerState& state, bool applyOnly);
    // Takes the host's sets (its file, of checksum `sum`) with the changes kept here on top.
    // True when ours are to be written: the file lacks some of those changes, or there is no
    // file. The caller writes them once the listing's tabs are applied, so that its own write
    // holds nothing of the listing back.
    Task<bool> adoptSharedState(MacConnection& connection, std::optional<SharedPrefs> shared,
                                std::optional<QString> sum = std::nullopt);
    // Takes the file a write found in place of the one it expected, as adoptSharedState does;
    // false when it may not be written over (too large or unreadable).
    bool rebaseSharedState(MacConnection& connection, const ServerState& found);

    // ---- Activity and the finished-command notification

    void noteOutput(MacTab& tab, const QString& text);
    // The tab's client is about to draw its whole screen again.
    void noteRedrawAhead(MacTab& tab);
    void noteInput(MacTab& tab);
    void noteBell(MacTab& tab);
    void tabExited(MacTab& tab);
    void activityTick();
    void markFinished(MacTab& tab);

    // ---- Servers and profiles

    // True when the server is connected, already or now. False, and nothing kept, when the
    // profile was deleted meanwhile.
    Task<bool> connect(MacProfile profile);
    // Adds the connection of a link that reached its server, unless its profile is no longer
    // saved: then the link's master connection is closed and nothing is stored.
    Task<> attachConnection(std::shared_ptr<SSHLink> link);
    // Whether a saved profile has this id.
    bool hasProfile(const QString& id) const;
    Task<> disconnect(MacConnection& connection);
    void saveConnectedProfiles();
    // While the start-up load of the stored list has not answered, a change shows at once
    // but is stored only once the load answers, over the list it read: a save never replaces
    // servers it has not seen. Every change also goes to the profile store's journal, which
    // keeps it until the keychain has taken it.
    void saveProfile(const MacProfile& profile);
    Task<> removeProfile(MacProfile profile);
    // Whether the start-up load of the stored profiles is waiting for the keychain.
    bool profilesLoading() const { return loadingProfiles; }
    // Where the servers' remembered passwords are kept ("pwd_" + profile id).
    SecretStore& secrets() const;

    // ---- Start-up and polling

    Task<> start();
    // Whether tmux is on this computer; nothing when the login shell did not answer.
    Task<std::optional<bool>> probeLocalTmux();
    // Probes the connection's host again after a probe that got no answer; an answer
    // becomes its tmuxAvailable.
    Task<> reprobeTmux(MacConnection& connection);
    void pollTick();

    // Our tmux sessions whose folder is `path` exactly, most recently active first.
    Task<QList<FolderSession>> listFolderSessions(QString path, MacConnection& connection);
    // Whether the host listed the session or a tab of the connection shows it.
    bool isProjectOpen(const QString& session, const MacConnection& connection) const;
    bool sessionInUse(const QString& session, const MacConnection& connection) const
    {
        return isProjectOpen(session, connection);
    }
    // The project for a new session of the folder: its own session when free, else the
    // first free numbered variant "name (n)" with session "<base>-n", n from 2.
    MacProject freshProject(const QString& name, const QString& path, const MacConnection& connection) const;

    // ---- Uploads

    // The name of an image pasted now into a project of a connection: "image-" + local date
    // and time + ".png", with "-2", "-3" … before ".png" for the second, third … paste of
    // the same second into the same project.
    QString pastedImageName(const MacTab& tab, const QDateTime& now);

Q_SIGNALS:
    void connectionsChanged();
    void profilesChanged();
    void tabsChanged();
    void activeTabIDChanged();
    void bannerChanged();
    void fontSizeChanged();
    void commandsChanged();
    void tabLabelsChanged();
    void composeVisibleChanged();
    void commandsVisibleChanged();
    void reconnectingChanged();
    // The stored profile list has been read and applied.
    void profilesLoaded();

private:
    // A change of the profile list made before the stored one was read.
    struct ProfileEdit {
        MacProfile profile;
        bool removed = false;
    };
    static void applyProfileEdit(QList<MacProfile>& list, const ProfileEdit& edit);
    // Changes the list the user sees, and stores it unless the stored one is still unread.
    void editProfiles(const ProfileEdit& edit);
    // Reads the stored list however long the keychain takes, applies the changes made
    // meanwhile over it, and reconnects the remembered servers if start-up is past that point.
    Task<> loadStoredProfiles();
    // Starts a connection attempt for each server of awaitingReconnect that has a profile.
    void reconnectRememberedServers();
    Task<> reconnectRemembered(MacProfile profile);
    // Lets go of the link of a server deleted while it connected: its connecting mark goes
    // and its master connection is closed.
    Task<> abandonConnection(std::shared_ptr<SSHLink> link);
    void uploadSharedState(MacConnection& connection);
    // After a favourite or hide change recorded in the pending names: whether our sets are
    // still the host's file with those names on top (else the change waits for a listing).
    bool settledAfterChange(MacConnection& connection);
    // Our sets in the encoder's order, from the file and the pending names; settled only.
    static SharedPrefs settledSets(const MacConnection& connection);
    // Writes our sets to the host's shared-state file after any write of them running now,
    // over the file as last read or written (its checksum): `sets` when the caller has them
    // already, else the file with the pending names on top (ours whole where there is no
    // file). A write asked for meanwhile follows, with the sets as they are then. A write
    // that landed takes the pending names it holds off the list; one that found the file
    // changed puts them on top of the file it found and goes again, a few times at most; one
    // that failed keeps them for the next listing.
    Task<> writeSharedState(MacConnection& connection, bool fromListing, std::optional<SharedPrefs> sets = std::nullopt);
    // Makes the adopted sets ours; true when pending names are left to write.
    bool takeAdoption(MacConnection& adopted, SharedAdoption adoption, const QHash<QString, bool>& pendingFavorites,
                      const QHash<QString, bool>& pendingHidden);
    // Stores the connection's pending names with the preferences, and reads them back.
    void storePendingShared(const MacConnection& connection);
    void loadPendingShared(MacConnection& connection);
    // The same for the closes, the order and the ends of sessions the host is not known to
    // have.
    void storeUnsentTabChanges(const MacConnection& connection);
    void loadUnsentTabChanges(MacConnection& connection);
    // The sets to write to the host's shared-state file, or nothing. A file past its size
    // would be refused by every client: then only the removals go up, the additions wait
    // here in the pending names, and the banner says so (once when `fromListing`).
    std::optional<SharedPrefs> sharedUpload(MacConnection& connection, const NameSet& favorites, const NameSet& hidden,
                                            bool fromListing);
    void noteListingFailure(MacConnection& connection);
    // A listing for a tab that ended: now, or once the host's previous listing is
    // quickExitWindow old, one waiting at a time.
    void listAfterTabExit(MacConnection& connection);
    // Runs a script that writes to the host, as given, with the write epoch raised before and
    // after.
    Task<ShellResult<QString>> runWriting(MacConnection& connection, QString script);
    // The sessions of the connection's tmux tabs, in the strip's order.
    QStringList tmuxSessionsOf(const MacConnection& connection) const;
    // Untags a closed tab's session on the host; a close that does not reach it waits for
    // the next listing, which sends it again or lets the host's state stand.
    Task<> sendClose(MacConnection& connection, QString session, std::optional<HostTab> asListed);
    // Writes the tab order; one that does not reach the host is weighed the same way against
    // `hostOrder`, the host's order when the user made it. Orders go up one at a time, the
    // newest replacing one still waiting.
    void sendOrder(MacConnection& connection, const QStringList& sessions, const QStringList& hostOrder);
    // Runs the connection's waiting order writes, one after the other, until none waits.
    Task<> writeOrders(MacConnection& connection);
    // An order of ours is on the host: what we know of it follows, unless a newer one landed.
    void orderLandedOnHost(MacConnection& connection, quint64 number, const QStringList& sessions);
    // The start of a tab that numbered the connection's tabs has run its tags on the host (its
    // session shows), or can no longer run them (it ended, or the tab went). A numbering older
    // than a move made since is followed by the strip's order again.
    void startTagsLanded(MacTab& tab, bool shown);
    // Whether a start older than our newest move has not run its tags yet.
    bool olderStartPending(const MacConnection& connection) const;
    // The host's order as it was when the user made a new one: that of an earlier order still
    // unsent, else the last listing's.
    QStringList hostOrderUnder(const MacConnection& connection) const;
    // Reads the row of a session the tab's own start made and tagged, once the tab shows it:
    // what a close or an end of it made before the next listing is weighed against.
    Task<> readOpenedRow(MacTab& tab);
    // Puts the row read into the tab's place, or into its close or end when the tab is gone.
    void keepOpenedRow(MacConnection& connection, HostTab row);
    // The rows known of the host take an order this computer wrote there: `sessions` numbered
    // 1, 2, …
    void followOwnOrder(MacConnection& connection, const QStringList& sessions);
    // The open rows of a listing applied become the rows known of the host.
    void takeListedRows(MacConnection& connection, const QList<HostTab>& open);
    // The row known of the session for a close or an end made now: as read after its tab's
    // start, else as last listed; none when neither is known.
    std::optional<HostTab> knownRow(MacConnection& connection, const QString& session);
    // Keeps a close, its age kept when it was kept already.
    void keepClose(MacConnection& connection, const QString& session, std::optional<HostTab> row);
    // What a listing does with the closes and the order that did not reach its host.
    struct UnsentChanges {
        // Rows the host still lists as when the user closed their tabs: not opened again, and
        // untagged again.
        QSet<QString> keptClosed;
        // The host's order is still the one the user changed (or ours is still on its way):
        // the strip follows the order the user made, which goes up again where it did not.
        bool keepOrder = false;
        bool sendOrderAgain = false;
    };
    UnsentChanges weighUnsentChanges(MacConnection& connection, const QList<HostTab>& open);
    // Says which ends of sessions that did not reach the host left their session running, by
    // the sessions a whole listing shows, and forgets them all.
    void weighUnsentKills(MacConnection& connection, const ServerState& state);
    // Writes the connection's saved and open tabs onto its host, then lists it again.
    Task<> seedHost(MacConnection& connection);
    // The sessions a listing of the connection keeps however many it holds: those of its
    // tabs, saved tabs, known folders and recently closed tabs.
    QStringList listingKeeps(const MacConnection& connection) const;
    // Shows the message in the banner unless this connection showed it already.
    void reportHostProblem(MacConnection& connection, const QString& message);
    MacTab* tabOf(const MacConnection& connection, const QString& session) const;

    SecretStore* keychain;
    Notifier* notifier;

    bool loadingProfiles = false;
    QList<ProfileEdit> editsBeforeLoad;
    // The servers connected at the last quit whose attempt to come back has not ended (read
    // when start-up begins); the preference keeps them meanwhile.
    QStringList awaitingReconnect;
    // Start-up got to reconnecting them before the list came.
    bool reconnectAfterLoad = false;

    QList<MacConnection*> connectionsValue;
    QList<MacProfile> profilesValue;
    QList<MacTab*> tabsValue;
    std::optional<QString> activeTabIDValue;
    std::optional<QString> bannerValue;
    QStringList bannerQueue;
    double fontSizeValue;
    QList<SavedCommand> commandsValue;
    QMap<QString, QString> tabLabelsValue;
    bool composeVisibleValue;
    bool commandsVisibleValue;
    QSet<QString> reconnectingValue;

    // Per connection whose host was not listed yet: its saved tabs as they were then.
    QHash<QString, QList<PersistedTab>> keptSavedTabs;
    // Per project (connection id and path): the second of the last pasted image and how many
    // images were pasted in it.
    QHash<QString, std::pair<QString, int>> pastedImages;
};

// Whether the first (position before sorting, tab) pair goes before the second when tabs
// follow the host's order of session names: listed sessions by their place in the list,
// the others after them, ties by the position before sorting.
bool hostOrderBefore(const std::pair<qsizetype, const MacTab*>& a, const std::pair<qsizetype, const MacTab*>& b,
                     const QStringList& hostOrder);

// ---- Uploads into a project's "Upload" folder

// The file name as stored and typed: every character other than a letter, a digit, ".",
// "_" or "-" becomes "_" (typed at a shell prompt, the name must stay one plain word).
QString cleanUploadName(const QString& name);

// "Envoi impossible : " + the reason; "Fichier illisible : " + the file's name; both quoted as
// a banner quotes them.
QString uploadFailedMessage(const QString& reason);
QString unreadableFileMessage(const QString& name);

// Copies `data` to the project's "Upload/<clean name>" on the tab's host (the file replaces
// any older one only once complete), then types "Upload/<clean name> " into the tab. A
// failure sets the banner "Envoi impossible : " + the reason and types nothing. The file gets
// `permissions` less the host's umask, as a copy gets its source's.
Task<> uploadToProject(QPointer<MacModel> model, QByteArray data, QString name, QPointer<MacTab> tab,
                       mode_t permissions = 0666);
// Uploads clipboard image bytes under a fresh pasted-image name.
Task<> uploadPastedImage(QPointer<MacModel> model, QPointer<MacTab> tab, QByteArray png);
// Uploads dropped files one after the other, each with its own permission bits; a file that
// cannot be read whole (one too large for memory included) sets the banner
// "Fichier illisible : " + its name, and the others still go.
Task<> uploadDroppedFiles(QPointer<MacModel> model, QPointer<MacTab> tab, QList<QUrl> urls);
// Where a dropped file's reader learns the memory the system has to spare, in the form of
// /proc/meminfo (empty: that file). Set before any drop starts, never during one.
void setMemoryInfoForTests(const QString& path);

// Writes `data` to `target` through a temporary file of the same folder renamed over it,
// creating the folder; the file gets `permissions` less the umask. The reason when it
// fails. Blocking: call it off the main thread.
std::optional<QString> writeFileReplacing(const QString& target, const QByteArray& data, mode_t permissions = 0666);

} // namespace halvoren
