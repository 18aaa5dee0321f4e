// The model's clock, the activity of the tabs and the finished-command notification, the
// connection of servers and the profile list, and the start-up with its two timers.
#include "workspace/MacModel.h"

#include "settings/ProfileStore.h"
#include "platform/Notifier.h"
#include "platform/SecretStore.h"
#include "style/VisibleText.h"
#include "tab/MacTab.h"
#include "remote/TmuxCommands.h"

#include <QWidget>
#include <qcoro/qcorosignal.h>

#include <algorithm>
#include <memory>

namespace halvoren {

namespace {

// When this variable is set, start-up does nothing: the model runs under a test host that
// drives it itself.
constexpr char testHostVariable[] = "HALVOREN_TEST_HOST";

qint64 milliseconds(double seconds)
{
    return qint64(seconds * 1000.0);
}

// UTF-8 length without building the bytes: the hook runs for every chunk of every tab.
qint64 utf8Length(const QString& text)
{
    qint64 bytes = 0;
    for (const QChar c : text) {
        const char16_t unit = c.unicode();
        if (unit < 0x80)
            bytes += 1;
        else if (unit < 0x800)
            bytes += 2;
        else if (QChar::isHighSurrogate(unit))
            bytes += 4;
        else if (QChar::isLowSurrogate(unit))
            bytes += 0;
        else
            bytes += 3;
    }
    return bytes;
}

} // namespace

// ---- Clock

QDateTime ModelClock::now() const
{
    return QDateTime::currentDateTime();
}

QTimer* ModelClock::after(double seconds, QObject* context, std::function<void()> action)
{
    auto* timer = new QTimer(context);
    timer->setSingleShot(true);
    QObject::connect(timer, &QTimer::timeout, timer, [timer, action = std::move(action)] {
        timer->deleteLater();
        action();
    });
    timer->start(int(milliseconds(seconds)));
    return timer;
}

QTimer* ModelClock::every(double seconds, QObject* context, std::function<void()> action)
{
    auto* timer = new QTimer(context);
    QObject::connect(timer, &QTimer::timeout, timer, std::move(action));
    timer->start(int(milliseconds(seconds)));
    return timer;
}

SecretStore& MacModel::secrets() const
{
    return keychain != nullptr ? *keychain : SecretStore::standard();
}

// ---- Activity

void MacModel::noteOutput(MacTab& tab, const QString& text)
{
    const QString key = tab.id();
    qint64 counted = utf8Length(text);
    const auto redrawing = redrawUntil.constFind(key);
    if (redrawing != redrawUntil.cend() && clock->now() < *redrawing) {
        // The client draws the whole screen after our resize or its start: only lines it
        // scrolls in are new output, a row's worth each.
        const qint64 columns = tab.terminal ? qint64(tab.terminal->getTerminal().cols()) + 1 : 1;
        const std::uint64_t lines = std::min<std::uint64_t>(tab.outputScrolledLines, std::uint64_t(counted));
        counted = std::min(counted, qint64(lines) * columns);
        if (counted == 0)
            return;
    } else if (!tab.outputChangesScreen && tab.outputScrolledLines == 0) {
        // A repaint that leaves the screen's text as it was is not the command's activity:
        // tmux repaints every client when an option changes anywhere on its server (our
        // tags and orders, another client's), and a burst of those followed by quiet is no
        // finished command. A line scrolled in is output, even the same line again.
        return;
    }
    qint64& bytes = activityBytes[key];
    bytes += counted;
    lastActivity.insert(key, clock->now());
    if (bytes > busyBurstBytes && promptAtEnd(text)) {
        bytes = 0;
        markFinished(tab);
    }
}

void MacModel::noteRedrawAhead(MacTab& tab)
{
    redrawUntil.insert(tab.id(), clock->now().addMSecs(milliseconds(redrawSettle)));
}

void MacModel::noteInput(MacTab& tab)
{
    armed.insert(tab.id());
}

void MacModel::noteBell(MacTab& tab)
{
    markFinished(tab);
}

void MacModel::tabExited(MacTab& tab)
{
    // A start that ends before its session showed may or may not have run its tags.
    startTagsLanded(tab, false);
    MacConnection* owner = connection(tab.connId);
    if (tab.folderRefusal) {
        // Nothing was made on the host: the tab goes, the banner says why, and the projects
        // are listed again, since the folder may be gone.
        setBanner(visibleText(folderRefusalMessage(*tab.folderRefusal, tab.project.path)));
        if (owner != nullptr)
            refreshProjects(*owner);
    } else if (owner != nullptr && tab.useTmux && owner->tabSyncReady) {
        // A session that cannot be attached ends its tab at once, and each end asks for a
        // listing that starts it again: twice in a row, and it stays closed until the user
        // opens it (its session stays open on the host, as other clients have it).
        const QString& session = tab.project.session;
        const bool atOnce = tab.startedAt && tab.startedAt->msecsTo(clock->now()) < milliseconds(quickExitWindow);
        const int inARow = atOnce ? owner->quickExits.value(session) + 1 : 0;
        if (inARow < 2) {
            if (inARow == 0)
                owner->quickExits.remove(session);
            else
                owner->quickExits.insert(session, inARow);
            listAfterTabExit(*owner);
            return;
        }
        owner->quickExits.remove(session);
        owner->closedAtOnce.insert(session);
        setBanner(closesAtOnceMessage(tab.project));
    }
    // Not from inside the tab's own exit hook, which the removal takes away.
    QTimer::singleShot(0, this, [this, target = QPointer<MacTab>(&tab)] {
        if (!target)
            return;
        // A tab that never opened its folder hands the focus back to where the user was.
        const std::optional<QString> back =
            target->folderRefusal && activeTabIDValue == target->id() ? target->openedOver : std::nullopt;
        removeTab(*target);
        for (MacTab* other : std::as_const(tabsValue)) {
            if (back && other->id() == *back) {
                activate(*other);
                break;
            }
        }
    });
}

void MacModel::listAfterTabExit(MacConnection& connection)
{
    if (connection.exitListing && connection.exitListing->isActive())
        return;
    connection.exitListing = nullptr;
    const qint64 wait = connection.lastListingAt
                            ? milliseconds(quickExitWindow) - connection.lastListingAt->msecsTo(clock->now())
                            : 0;
    if (wait <= 0) {
        requestSync(connection);
        return;
    }
    QPointer<MacConnection> target(&connection);
    connection.exitListing = clock->after(double(wait) / 1000.0, this, [this, target] {
        if (!target)
            return;
        target->exitListing = nullptr;
        listAfterTabExit(*target);
    });
}

void MacModel::activityTick()
{
    const QDateTime now = clock->now();
    const QList<MacTab*> snapshot = tabsValue;
    for (MacTab* tab : snapshot) {
        const QString key = tab->id();
        const auto last = lastActivity.constFind(key);
        if (last == lastActivity.cend() || last->msecsTo(now) < milliseconds(quietPeriod))
            continue;
        const bool busy = activityBytes.value(key, 0) > busyBurstBytes;
        activityBytes.insert(key, 0);
        if (busy && tabsValue.contains(tab))
            markFinished(*tab);
    }
}

void MacModel::markFinished(MacTab& tab)
{
    const QDateTime now = clock->now();
    const QString key = tab.id();
    const auto last = lastFinished.constFind(key);
    if (last != lastFinished.cend() && last->msecsTo(now) < milliseconds(finishedRepeatWindow))
        return;
    lastFinished.insert(key, now);
    cancelDecision(key);
    const QPointer<MacModel> self(this);
    const QPointer<MacTab> target(&tab);
    QTimer* decision = clock->after(decisionDelay, this, [self, target, key] {
        if (!self || !target || !self->tabs().contains(target.data()))
            return;
        self->pendingFinish.remove(key);
        const bool looking = self->activeTabID() == key;
        if (looking && self->isFrontmost && self->isFrontmost()) {
            self->armed.remove(key);
            return;
        }
        if (!self->armed.remove(key))
            return;
        if (!looking)
            target->setAttention(true);
        // The notification shows the name as text, as every other place does: no control in
        // it may act or turn the sentence after it around.
        self->notifier->post(key, visibleText(self->tabTitle(*target)));
    });
    pendingFinish.insert(key, decision);
}

void MacModel::openFromNotification(const QString& key)
{
    for (MacTab* tab : tabs()) {
        if (tab->id() != key)
            continue;
        activate(*tab);
        // Not the view's own window: a tab that was not active has no parent, and showing
        // it would make it a window of its own.
        if (bringForward)
            bringForward();
        return;
    }
}

// ---- Servers and profiles

Task<bool> MacModel::connect(MacProfile profile)
{
    if (connection(profile.id) != nullptr)
        co_return true;
    QPointer<MacModel> self(this);
    QSet<QString> connecting = reconnectingValue;
    connecting.insert(profile.id);
    setReconnecting(connecting);
    auto link = std::make_shared<SSHLink>(profile);
    Task<bool> fetching = link->fetchRemoteHome();
    const bool reached = co_await std::move(fetching);
    if (!self)
        co_return false;
    if (!hasProfile(profile.id)) {
        // Deleted while it connected: whatever the attempt gave, the server stays away.
        Task<> abandoning = abandonConnection(link);
        co_await std::move(abandoning);
        co_return false;
    }
    if (reached) {
        Task<> attaching = attachConnection(link);
        co_await std::move(attaching);
        if (!self)
            co_return true;
    }
    connecting = reconnectingValue;
    connecting.remove(profile.id);
    setReconnecting(connecting);
    co_return reached && hasProfile(profile.id);
}

bool MacModel::hasProfile(const QString& id) const
{
    return std::any_of(profilesValue.cbegin(), profilesValue.cend(), [&id](const MacProfile& p) { return p.id == id; });
}

Task<> MacModel::abandonConnection(std::shared_ptr<SSHLink> link)
{
    const QString id = link->profile().id;
    if (reconnectingValue.contains(id)) {
        QSet<QString> connecting = reconnectingValue;
        connecting.remove(id);
        setReconnecting(connecting);
    }
    // The attempt's master connection would stay for ControlPersist's ten minutes.
    Task<> closing = link->closeMaster();
    co_await std::move(closing);
}

Task<> MacModel::attachConnection(std::shared_ptr<SSHLink> link)
{
    const QString id = link->profile().id;
    if (connection(id) != nullptr)
        co_return;
    // Only a saved server connects: one deleted while it connected (here from the silent
    // attempt or straight from the first-connection sheet) is let go.
    if (!hasProfile(id)) {
        Task<> abandoning = abandonConnection(link);
        co_await std::move(abandoning);
        co_return;
    }
    QPointer<MacModel> self(this);
    Task<ShellResult<bool>> probing = link->probeTmux();
    const ShellResult<bool> tmux = co_await std::move(probing);
    // Two attempts for one profile may overlap: the first to get here wins.
    if (!self || connection(id) != nullptr)
        co_return;
    if (!hasProfile(id)) {
        Task<> abandoning = abandonConnection(link);
        co_await std::move(abandoning);
        co_return;
    }
    auto* added = new MacConnection(link);
    added->prefs = &prefs;
    // Until a probe answers, tmux is taken as there: the saved tabs are tmux sessions, and
    // opening them as plain shells would leave those sessions behind.
    if (tmux)
        added->setTmuxAvailable(tmux.value());
    added->tmuxUnanswered = !tmux;
    // Its saved tabs stay as they are from now on: tabs of other connections may be stored
    // before its first listing.
    added->seedFromPersisted = added->tmuxAvailable();
    added->setFavorites(prefs.favorites(id));
    added->setHidden(prefs.hidden(id));
    loadPendingShared(*added);
    loadUnsentTabChanges(*added);
    appendConnection(added);
    saveConnectedProfiles();
    if (!tmux && isScriptNotRunMessage(tmux.error().message))
        reportHostProblem(*added, tmux.error().message);
    else if (!tmux && tmux.error().message == Shell::timeoutMessage())
        reportHostProblem(*added, tmuxProbeUnansweredMessage(*added));
    QPointer<MacConnection> target(added);
    Task<> refreshing = refreshProjects(*added);
    co_await std::move(refreshing);
    if (!self || !target || !target->tmuxAvailable())
        co_return;
    target->tabSyncReady = true;
    target->seedFromPersisted = true;
    Task<> syncing = requestSync(*target);
    co_await std::move(syncing);
    // A sync that listed nothing leaves the saved tabs and the active one as they were.
    if (self && target && !target->seedFromPersisted)
        persistTabs();
}

Task<> MacModel::disconnect(MacConnection& connection)
{
    if (!connection.link)
        co_return;
    const std::shared_ptr<SSHLink> link = connection.link;
    connection.tabSyncReady = false;
    const QList<MacTab*> snapshot = tabsValue;
    for (MacTab* tab : snapshot) {
        if (tab->connId == connection.id)
            removeTab(*tab);
    }
    removeConnection(&connection);
    // Left by the user: not brought back by start-up, nor kept in the preference for it.
    awaitingReconnect.removeAll(connection.id);
    saveConnectedProfiles();
    Task<> closing = link->closeMaster();
    co_await std::move(closing);
}

void MacModel::saveConnectedProfiles()
{
    QStringList ids;
    for (const MacConnection* candidate : std::as_const(connectionsValue)) {
        if (candidate->profile)
            ids << candidate->profile->id;
    }
    // A connection made while start-up has not yet brought the remembered servers back must
    // not write them out of the list: they were connected at the last quit.
    for (const QString& id : std::as_const(awaitingReconnect)) {
        if (!ids.contains(id))
            ids << id;
    }
    prefs.setConnectedProfiles(ids);
}

void MacModel::applyProfileEdit(QList<MacProfile>& list, const ProfileEdit& edit)
{
    const QString& id = edit.profile.id;
    if (edit.removed) {
        list.removeIf([&id](const MacProfile& p) { return p.id == id; });
        return;
    }
    const auto found = std::find_if(list.begin(), list.end(), [&id](const MacProfile& p) { return p.id == id; });
    if (found != list.end())
        *found = edit.profile;
    else
        list.append(edit.profile);
}

void MacModel::editProfiles(const ProfileEdit& edit)
{
    QList<MacProfile> list = profilesValue;
    applyProfileEdit(list, edit);
    profilesValue = list;
    Q_EMIT profilesChanged();
    if (profileStore != nullptr)
        profileStore->noteEdit(edit.profile, edit.removed);
    if (loadingProfiles) {
        editsBeforeLoad.append(edit);
        return;
    }
    if (profileStore != nullptr)
        profileStore->saveProfiles(list);
}

void MacModel::saveProfile(const MacProfile& profile)
{
    editProfiles({profile, false});
}

Task<> MacModel::removeProfile(MacProfile profile)
{
    QPointer<MacModel> self(this);
    if (MacConnection* existing = connection(profile.id)) {
        Task<> disconnecting = disconnect(*existing);
        co_await std::move(disconnecting);
        if (!self)
            co_return;
    }
    awaitingReconnect.removeAll(profile.id);
    editProfiles({profile, true});
    Task<> deleting = secrets().secureDelete(ProfileStore::passwordKey(profile.id));
    co_await std::move(deleting);
}

Task<> MacModel::loadStoredProfiles()
{
    QPointer<MacModel> self(this);
    loadingProfiles = true;
    Task<QList<MacProfile>> loading = profileStore->loadProfiles();
    QList<MacProfile> loaded = co_await std::move(loading);
    if (!self)
        co_return;
    loadingProfiles = false;
    const QList<ProfileEdit> edits = std::exchange(editsBeforeLoad, {});
    for (const ProfileEdit& edit : edits)
        applyProfileEdit(loaded, edit);
    setProfiles(loaded);
    if (!edits.isEmpty() && profileStore != nullptr)
        profileStore->saveProfiles(loaded);
    Q_EMIT profilesLoaded();
    if (std::exchange(reconnectAfterLoad, false))
        reconnectRememberedServers();
}

void MacModel::reconnectRememberedServers()
{
    const QStringList remembered = awaitingReconnect;
    // A list the keychain refused to give says nothing of the servers it holds: one not found
    // then stays remembered for the next start.
    const bool listRefused = profileStore != nullptr && profileStore->loadWasRefused();
    for (const QString& id : remembered) {
        const auto found = std::find_if(profilesValue.cbegin(), profilesValue.cend(),
                                        [&id](const MacProfile& p) { return p.id == id; });
        if (found == profilesValue.cend() && !listRefused)
            awaitingReconnect.removeAll(id);
        else if (found != profilesValue.cend())
            reconnectRemembered(*found);
    }
}

Task<> MacModel::reconnectRemembered(MacProfile profile)
{
    QPointer<MacModel> self(this);
    Task<bool> connecting = connect(profile);
    co_await std::move(connecting);
    // Connected or not, its attempt is over: from now on the preference follows the
    // connections alone, as after any other attempt.
    if (self)
        awaitingReconnect.removeAll(profile.id);
}

// ---- Start-up and polling

Task<> MacModel::start()
{
    if (started || qEnvironmentVariableIsSet(testHostVariable))
        co_return;
    started = true;
    QPointer<MacModel> self(this);
    // Read before anything is awaited: a server the user connects meanwhile rewrites the
    // preference, and every server connected at the last quit must come back.
    awaitingReconnect = prefs.connectedProfiles();
    // Read before the first sync, which stores the position of the tab it activates.
    const qint64 storedActive = prefs.activeTab();

    notifier->onTap = [self](const QString& key) {
        if (self)
            self->openFromNotification(key);
    };

    if (profileStore != nullptr) {
        loadStoredProfiles();
        // A keychain waiting to be unlocked holds up only the servers: past the bound the
        // start goes on, and the list is applied when it comes.
        if (loadingProfiles) {
            auto waiting = qCoro(this, &MacModel::profilesLoaded, profileStore->answerBound());
            co_await std::move(waiting);
            if (!self)
                co_return;
        }
    }
    Task<std::optional<bool>> probing = probeLocalTmux();
    const std::optional<bool> tmux = co_await std::move(probing);
    if (!self)
        co_return;
    MacConnection& local = *localConnection();
    // No answer (a profile slower than the probe's limit, or one that did not run it) keeps
    // tmux as assumed: the tabs are restored in their sessions once the shell answers.
    if (tmux)
        local.setTmuxAvailable(*tmux);
    local.tmuxUnanswered = !tmux;
    local.setFavorites(prefs.favorites(local.id));
    local.setHidden(prefs.hidden(local.id));
    loadPendingShared(local);
    loadUnsentTabChanges(local);
    Task<> refreshing = refreshProjects(local);
    co_await std::move(refreshing);
    if (!self)
        co_return;
    restoringTabs = true;
    if (localConnection()->tmuxAvailable()) {
        localConnection()->tabSyncReady = true;
        localConnection()->seedFromPersisted = true;
        Task<> syncing = requestSync(*localConnection());
        co_await std::move(syncing);
        if (!self)
            co_return;
        // A sync that listed nothing leaves the saved tabs and the active one as they were.
        if (!localConnection()->seedFromPersisted)
            persistTabs();
    }
    if (storedActive >= 0 && storedActive < tabsValue.size())
        activate(*tabsValue.at(storedActive));
    restoringTabs = false;
    // Only the tab the user finds on screen has been looked at.
    if (const MacTab* shown = activeTab())
        notifier->clear(shown->id());

    timers << clock->every(activityInterval, this, [self] {
        if (self)
            self->activityTick();
    });
    timers << clock->every(pollInterval, this, [self] {
        if (self)
            self->pollTick();
    });

    if (loadingProfiles)
        reconnectAfterLoad = true;
    else
        reconnectRememberedServers();
}

Task<std::optional<bool>> MacModel::probeLocalTmux()
{
    QPointer<MacModel> self(this);
    Task<ShellResult<QString>> probing = runScript(*localConnection(), tmuxProbeScript(), localTmuxProbeTimeout);
    ShellResult<QString> output = co_await std::move(probing);
    if (output)
        co_return !output.value().trimmed().isEmpty();
    // A probe that did not run, ran only in part or got no answer in time tells nothing
    // about tmux: the banner says what went wrong.
    const QString& message = output.error().message;
    if (self && (message == scriptIncompleteMessage() || isScriptNotRunMessage(message)))
        reportHostProblem(*localConnection(), message);
    else if (self && message == Shell::localTimeoutMessage())
        reportHostProblem(*localConnection(), tmuxProbeUnansweredMessage(*localConnection()));
    co_return std::nullopt;
}

QString MacModel::tmuxProbeUnansweredMessage(const MacConnection& connection)
{
    const double limit = connection.link ? remoteTmuxProbeTimeout : localTmuxProbeTimeout;
    return hostSubject(connection)
        + QStringLiteral(" n'a pas répondu en %1 s à la recherche de tmux (profil de connexion lent ?) : "
                         "tmux reste supposé présent et sera recherché à nouveau.")
              .arg(limit);
}

Task<> MacModel::reprobeTmux(MacConnection& connection)
{
    if (connection.probingTmux)
        co_return;
    connection.probingTmux = true;
    QPointer<MacConnection> target(&connection);
    std::optional<bool> found;
    if (!connection.link) {
        Task<std::optional<bool>> probing = probeLocalTmux();
        found = co_await std::move(probing);
    } else {
        const std::shared_ptr<SSHLink> link = connection.link;
        Task<ShellResult<bool>> probing = link->probeTmux();
        const ShellResult<bool> answer = co_await std::move(probing);
        if (answer)
            found = answer.value();
    }
    if (!target)
        co_return;
    target->probingTmux = false;
    if (!found)
        co_return;
    target->tmuxUnanswered = false;
    target->setTmuxAvailable(*found);
}

void MacModel::pollTick()
{
    tick += 1;
    const QList<MacConnection*> snapshot = connectionsValue;
    for (MacConnection* candidate : snapshot) {
        if (candidate->link && tick % 2 == 1)
            continue;
        if (candidate->tmuxUnanswered)
            reprobeTmux(*candidate);
        requestSync(*candidate);
    }
}

} // namespace halvoren
