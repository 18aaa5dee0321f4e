// Opening and closing tabs, and keeping each connection's tmux tabs in step with its host:
// the host's tmux is the truth every client follows, so this computer opens, closes, restarts
// and orders its tabs as the host lists them, and writes its own tabs onto a host only once,
// before the host has ever been synchronised.
#include "workspace/MacModel.h"

#include "tab/MacTab.h"
#include "remote/SessionNaming.h"
#include "remote/SharedPrefs.h"
#include "remote/TabReconciliation.h"
#include "remote/TmuxCommands.h"
#include "style/VisibleText.h"

#include <QRandomGenerator>
#include <QtConcurrent/QtConcurrentRun>
#include <qcoro/qcorofuture.h>

#include <algorithm>
#include <utility>

namespace halvoren {

namespace {

// Listings up to this many characters are read on the main thread: far below what takes a
// millisecond to read, and a worker thread would only add a turn of the event loop.
constexpr qsizetype listingReadInPlaceChars = 64 * 1024;

qint64 millisecondsBetween(const QDateTime& from, const QDateTime& to)
{
    return from.msecsTo(to);
}

HostKind hostKind(const MacConnection& connection)
{
    return connection.link ? HostKind::server : HostKind::thisComputer;
}

QSet<QString> toQSet(const NameSet& names)
{
    return QSet<QString>(names.cbegin(), names.cend());
}

} // namespace

QStringList MacModel::tmuxSessionsOf(const MacConnection& connection) const
{
    QStringList sessions;
    for (const MacTab* tab : tabsValue) {
        if (tab->connId == connection.id && tab->useTmux)
            sessions << tab->project.session;
    }
    return sessions;
}

MacTab* MacModel::tabOf(const MacConnection& connection, const QString& session) const
{
    for (MacTab* tab : tabsValue) {
        if (tab->connId == connection.id && tab->project.session == session)
            return tab;
    }
    return nullptr;
}

// ---- Opening and closing tabs

void MacModel::openProject(const MacProject& project, MacConnection& connection)
{
    // The user asks for it: a session that closed at once gets its chance again, and a close
    // or an end that did not reach the host is no longer wanted (nor is the end told).
    if ((connection.unsentCloses.remove(project.session) | connection.unsentKills.remove(project.session)) > 0)
        storeUnsentTabChanges(connection);
    connection.closedAtOnce.remove(project.session);
    connection.quickExits.remove(project.session);
    if (MacTab* existing = tabOf(connection, project.session)) {
        activate(*existing);
        return;
    }
    // No folder has such a path: no tab, and nothing on the host.
    if (folderPathTooLong(project.path)) {
        setBanner(visibleText(folderRefusalMessage(FolderRefusal::tooLong, project.path)));
        return;
    }
    MacTab* tab = makeTab(connection, project);
    tab->openedAt = clock->now();
    tab->openedOver = activeTabIDValue;
    insertTab(tab, insertionIndex(*tab));
    activate(*tab);
    const QStringList numbered = tmuxSessionsOf(connection);
    // The start makes and tags the session in the tab's own terminal, whose output we do not
    // read: the row is read once the tab shows the session.
    if (tab->useTmux)
        tab->taggedSessions = MacTab::TaggedOrder{numbered, ++connection.ordersMade};
    tab->start(sessionTagCommand(project.session, project.name, project.path, numbered));
    tab->startedAt = clock->now();
    persistTabs();
}

Task<std::optional<QList<FolderSession>>> MacModel::openProjectOrListSessions(MacProject project,
                                                                              MacConnection& connection)
{
    for (MacTab* tab : std::as_const(tabsValue)) {
        if (tab->connId == connection.id && tab->project.path == project.path) {
            activate(*tab);
            co_return std::nullopt;
        }
    }
    if (!connection.tmuxAvailable()) {
        openProject(project, connection);
        co_return std::nullopt;
    }
    QPointer<MacModel> self(this);
    QPointer<MacConnection> target(&connection);
    Task<QList<FolderSession>> listing = listFolderSessions(project.path, connection);
    QList<FolderSession> sessions = co_await std::move(listing);
    if (!self || !target)
        co_return std::nullopt;
    if (sessions.isEmpty() || (sessions.size() == 1 && sessions.front().name == project.session)) {
        openProject(project, *target);
        co_return std::nullopt;
    }
    co_return sessions;
}

void MacModel::openAnotherSession(const QString& name, const QString& path, MacConnection& connection)
{
    const QString base = tmuxSessionName(path);
    for (int n = 2;; ++n) {
        const QString session = base + u'-' + QString::number(n);
        if (!sessionInUse(session, connection)) {
            openProject(MacProject{name + QStringLiteral(" (") + QString::number(n) + u')', path, session}, connection);
            return;
        }
    }
}

void MacModel::selectTab(qsizetype index)
{
    if (index >= 0 && index < tabsValue.size())
        activate(*tabsValue.at(index));
}

void MacModel::selectAdjacentTab(int delta)
{
    if (tabsValue.isEmpty() || !activeTabIDValue || (delta != 1 && delta != -1))
        return;
    const qsizetype count = tabsValue.size();
    for (qsizetype index = 0; index < count; ++index) {
        if (tabsValue.at(index)->id() == *activeTabIDValue) {
            activate(*tabsValue.at((index + delta + count) % count));
            return;
        }
    }
}

void MacModel::closeTab(MacTab& tab)
{
    const ClosedTab entry{tab.project.name, tab.project.path, tab.project.session, tab.connId};
    closedTabs.removeIf([&entry](const ClosedTab& old) {
        return old.connId == entry.connId && old.session == entry.session;
    });
    closedTabs.append(entry);
    while (closedTabs.size() > maxClosedTabs)
        closedTabs.removeFirst();
    MacConnection* owner = connection(tab.connId);
    const bool untag = tab.useTmux && owner != nullptr;
    removeTab(tab);
    if (untag)
        sendClose(*owner, entry.session, knownRow(*owner, entry.session));
}

std::optional<HostTab> MacModel::knownRow(MacConnection& connection, const QString& session)
{
    // Read after the tab's own start, and no listing shown since: the freshest.
    if (const auto opened = connection.openedRows.constFind(session); opened != connection.openedRows.cend()) {
        HostTab row = opened->row;
        connection.openedRows.erase(opened);
        return row;
    }
    for (const HostTab& row : std::as_const(connection.listedOpen)) {
        if (row.session == session)
            return row;
    }
    return std::nullopt;
}

void MacModel::keepClose(MacConnection& connection, const QString& session, std::optional<HostTab> row)
{
    if (const auto kept = connection.unsentCloses.find(session); kept != connection.unsentCloses.end())
        kept->row = std::move(row);
    else
        connection.unsentCloses.insert(session, MacConnection::UnsentClose{std::move(row), ++connection.keptChanges});
    storeUnsentTabChanges(connection);
}

Task<> MacModel::sendClose(MacConnection& connection, QString session, std::optional<HostTab> asListed)
{
    QPointer<MacConnection> target(&connection);
    // Kept before it goes: the app may quit, or the server be disconnected, before the host
    // answers, and the next listing must still weigh it.
    keepClose(connection, session, std::move(asListed));
    Task<HostWrite> untagging = runRemote(connection, sessionUntagScript(session));
    const HostWrite written = co_await std::move(untagging);
    if (!target)
        co_return;
    // Opened again meanwhile: the user wants it open now. The untag may have reached the host
    // after the tab's own tag did, which would leave the row closed for every client: the tag
    // goes again.
    if (tabOf(*target, session) != nullptr) {
        if (target->unsentCloses.remove(session) > 0)
            storeUnsentTabChanges(*target);
        runRemote(*target, sessionRetagScript(session));
        co_return;
    }
    // A close that failed stays as kept, unless a listing weighed it meanwhile.
    if (written.done && target->unsentCloses.remove(session) > 0)
        storeUnsentTabChanges(*target);
}

void MacModel::sendOrder(MacConnection& connection, const QStringList& sessions, const QStringList& hostOrder)
{
    // Kept before it goes, as a close is.
    connection.unsentOrder = MacConnection::UnsentOrder{sessions, hostOrder};
    storeUnsentTabChanges(connection);
    connection.newestMove = ++connection.ordersMade;
    // Two writes at once could land in either order, the older last: the newest waits for the
    // one running, and one waiting already is no longer wanted.
    connection.waitingOrder = MacConnection::OrderWrite{connection.newestMove, sessions};
    if (!connection.orderWriting)
        writeOrders(connection);
}

Task<> MacModel::writeOrders(MacConnection& connection)
{
    QPointer<MacConnection> target(&connection);
    connection.orderWriting = true;
    while (target->waitingOrder) {
        const MacConnection::OrderWrite order = *std::exchange(target->waitingOrder, std::nullopt);
        Task<HostWrite> ordering = runRemote(*target, tmuxReorderScript(order.sessions));
        const HostWrite written = co_await std::move(ordering);
        if (!target)
            co_return;
        if (!written.done)
            continue;
        orderLandedOnHost(*target, order.number, order.sessions);
        // The newest order is on the host and nothing older of ours can still land over it: it
        // is no longer owed. One that failed stays as kept, unless a listing weighed it meanwhile.
        if (order.number == target->newestMove && !target->waitingOrder && target->unsentOrder
            && !olderStartPending(*target)) {
            target->unsentOrder.reset();
            storeUnsentTabChanges(*target);
        }
    }
    target->orderWriting = false;
}

void MacModel::orderLandedOnHost(MacConnection& connection, quint64 number, const QStringList& sessions)
{
    // An older order that lands last (a start's numbering) says nothing new: the newest that
    // landed is followed again by the writes it causes.
    if (number <= connection.orderLanded)
        return;
    connection.orderLanded = number;
    connection.landedOrder = sessions;
    // The host has it: a close or a new order made from now on is made over it.
    followOwnOrder(connection, sessions);
}

void MacModel::startTagsLanded(MacTab& tab, bool shown)
{
    if (!tab.taggedSessions)
        return;
    const MacTab::TaggedOrder tagged = *std::exchange(tab.taggedSessions, std::nullopt);
    MacConnection* owner = connection(tab.connId);
    if (owner == nullptr)
        return;
    // The tags are a write of ours: a listing that ran meanwhile may show the host before or
    // after them, and takes nothing of its tabs.
    ++owner->writeEpoch;
    if (tagged.number > owner->newestMove) {
        // No move made since: the numbering is the newest order we gave the host, as long as
        // the start ran it (an ending start may not have).
        if (shown)
            orderLandedOnHost(*owner, tagged.number, tagged.sessions);
        return;
    }
    // A move made since may have reached the host before these tags: where they number a tab
    // otherwise than the strip, the strip's order goes again, after them.
    const QStringList strip = tmuxSessionsOf(*owner);
    for (qsizetype k = 0; k < tagged.sessions.size(); ++k) {
        const qsizetype place = strip.indexOf(tagged.sessions.at(k));
        if (place >= 0 && place != k) {
            sendOrder(*owner, strip, hostOrderUnder(*owner));
            return;
        }
    }
}

bool MacModel::olderStartPending(const MacConnection& connection) const
{
    return std::any_of(tabsValue.cbegin(), tabsValue.cend(), [&connection](const MacTab* tab) {
        return tab->connId == connection.id && tab->taggedSessions && tab->taggedSessions->number < connection.newestMove;
    });
}

QStringList MacModel::hostOrderUnder(const MacConnection& connection) const
{
    // That of an earlier order still unsent, else the last listing's.
    if (connection.unsentOrder)
        return connection.unsentOrder->over;
    QStringList hostOrder;
    for (const HostTab& row : connection.listedOpen)
        hostOrder << row.session;
    return hostOrder;
}

Task<> MacModel::readOpenedRow(MacTab& tab)
{
    if (!tab.taggedSessions)
        co_return;
    startTagsLanded(tab, true);
    MacConnection* owner = connection(tab.connId);
    if (owner == nullptr)
        co_return;
    QPointer<MacModel> self(this);
    QPointer<MacConnection> target(owner);
    const QString session = tab.project.session;
    const quint64 landedBefore = owner->orderLanded;
    Task<ShellResult<QString>> reading = runScript(*owner, sessionRowScript(session), scriptTimeout);
    const ShellResult<QString> output = co_await std::move(reading);
    if (!self || !target)
        co_return;
    // Not read (the link is down, say): not asked again, as the next listing that shows the
    // row gives it. A close or an end made before then has no row, and gives way.
    if (!output)
        co_return;
    std::optional<HostTab> row = parseSessionRow(output.value(), session);
    if (!row)
        co_return;
    // An order of ours landed while the row was read, maybe after the read ran there: the host
    // has that order now.
    if (target->orderLanded != landedBefore) {
        const qsizetype place = target->landedOrder.indexOf(session);
        if (place >= 0)
            row->order = place + 1;
    }
    keepOpenedRow(*target, std::move(*row));
}

void MacModel::keepOpenedRow(MacConnection& connection, HostTab row)
{
    const QString session = row.session;
    if (tabOf(connection, session) != nullptr) {
        connection.openedRows.insert(session, MacConnection::OpenedRow{std::move(row), connection.listingsStarted});
        return;
    }
    // Closed or ended before the row came: that close or end is weighed against it.
    bool kept = false;
    if (const auto kill = connection.unsentKills.find(session); kill != connection.unsentKills.end()) {
        kill->created = row.created;
        kept = true;
    }
    if (const auto close = connection.unsentCloses.find(session); close != connection.unsentCloses.end()) {
        close->row = std::move(row);
        kept = true;
    }
    if (kept)
        storeUnsentTabChanges(connection);
}

void MacModel::followOwnOrder(MacConnection& connection, const QStringList& sessions)
{
    QHash<QString, qint64> orders;
    for (qsizetype k = 0; k < sessions.size(); ++k)
        orders.insert(sessions.at(k), k + 1);
    const auto follow = [&orders](HostTab& row) {
        const auto order = orders.constFind(row.session);
        if (order == orders.cend() || row.order == *order)
            return false;
        row.order = *order;
        return true;
    };
    for (HostTab& row : connection.listedOpen)
        follow(row);
    sortHostTabs(connection.listedOpen);
    for (MacConnection::OpenedRow& opened : connection.openedRows)
        follow(opened.row);
    // A close made since: the order reached the row the close was made over.
    bool moved = false;
    for (MacConnection::UnsentClose& close : connection.unsentCloses) {
        if (close.row && follow(*close.row))
            moved = true;
    }
    if (moved)
        storeUnsentTabChanges(connection);
}

void MacModel::takeListedRows(MacConnection& connection, const QList<HostTab>& open)
{
    connection.listedOpen = open;
    // Rows read before this listing started: the listing shows them as they are now.
    for (auto opened = connection.openedRows.begin(); opened != connection.openedRows.end();) {
        if (opened->readAfter < connection.listingsStarted)
            opened = connection.openedRows.erase(opened);
        else
            ++opened;
    }
}

void MacModel::reopenClosedTab()
{
    if (closedTabs.isEmpty())
        return;
    const ClosedTab entry = closedTabs.takeLast();
    if (MacConnection* owner = connection(entry.connId))
        openProject(MacProject{entry.name, entry.path, entry.session}, *owner);
}

Task<> MacModel::killSession(QString session, MacConnection& connection)
{
    QPointer<MacConnection> target(&connection);
    const QList<MacTab*> snapshot = tabsValue;
    for (MacTab* tab : snapshot) {
        if (tab->connId == connection.id && tab->project.session == session)
            removeTab(*tab);
    }
    QString name = session;
    for (const MacTab* tab : snapshot) {
        if (tab->connId == connection.id && tab->project.session == session)
            name = tab->project.name;
    }
    // Kept before it goes, as a close is, to be told if the session outlives it.
    std::optional<qint64> created;
    if (const std::optional<HostTab> row = knownRow(connection, session))
        created = row->created;
    connection.unsentKills.insert(session, MacConnection::UnsentKill{name, true, created, ++connection.keptChanges});
    storeUnsentTabChanges(connection);
    Task<HostWrite> killing = runRemote(connection, sessionKillScript(session));
    const HostWrite written = co_await std::move(killing);
    if (!target)
        co_return;
    // Never sent again: by the time the host answers, the phone may be working in it. The
    // link may also have dropped while the host ended it: the next listing tells, and the
    // session counts as running until then. Opened again meanwhile, it is no longer ours to tell.
    if (!written.done) {
        if (const auto kill = target->unsentKills.find(session); kill != target->unsentKills.end())
            kill->sending = false;
        co_return;
    }
    if (target->unsentKills.remove(session) > 0)
        storeUnsentTabChanges(*target);
    QSet<QString> live = target->liveSessions();
    live.remove(session);
    target->setLiveSessions(live);
}

void MacModel::moveTabs(const QList<qsizetype>& sources, qsizetype destination)
{
    QList<qsizetype> positions = sources;
    std::sort(positions.begin(), positions.end());
    positions.erase(std::unique(positions.begin(), positions.end()), positions.end());
    positions.removeIf([this](qsizetype p) { return p < 0 || p >= tabsValue.size(); });
    if (positions.isEmpty())
        return;
    destination = std::clamp<qsizetype>(destination, 0, tabsValue.size());
    QList<MacTab*> moved;
    QList<MacTab*> rest;
    qsizetype before = 0;
    for (qsizetype index = 0; index < tabsValue.size(); ++index) {
        if (positions.contains(index)) {
            moved << tabsValue.at(index);
            if (index < destination)
                ++before;
        } else {
            rest << tabsValue.at(index);
        }
    }
    QList<MacTab*> order = rest;
    const qsizetype at = destination - before;
    for (qsizetype k = 0; k < moved.size(); ++k)
        order.insert(at + k, moved.at(k));
    reorderTabs(order);
    persistTabs();
    for (MacConnection* owner : std::as_const(connectionsValue)) {
        if (!owner->tmuxAvailable())
            continue;
        const QStringList sessions = tmuxSessionsOf(*owner);
        if (sessions.isEmpty())
            continue;
        // Weighed, should it not land, against the host's order as it was when the user made it.
        sendOrder(*owner, sessions, hostOrderUnder(*owner));
    }
}

// ---- Applying the host's listing

namespace {

// "@hv_path" holds the path with its tabs and line breaks made blanks, which may name no
// folder. A path whose cleaned form is that text and whose session name (hashed over the real
// path) is the tab's, or its numbered sibling's, is the tab's real folder.
bool isRealFolderOf(const QString& path, const HostTab& host)
{
    if (path == host.path || cleanOptionValue(path) != host.path)
        return false;
    const QString base = tmuxSessionName(path);
    return host.session == base || host.session.startsWith(base + u'-');
}

} // namespace

QString MacModel::realFolderPath(const MacConnection& connection, const HostTab& host) const
{
    const auto matches = [&host](const QString& path) { return isRealFolderOf(path, host); };
    QStringList candidates;
    for (const MacProject& project : connection.projects())
        candidates << project.path;
    for (const QList<MacProject>& list : connection.subprojects()) {
        for (const MacProject& project : list)
            candidates << project.path;
    }
    for (const PersistedTab& saved : prefs.tabs(connection.id))
        candidates << saved.path;
    for (const ClosedTab& closed : closedTabs) {
        if (closed.connId == connection.id)
            candidates << closed.path;
    }
    for (const QString& path : std::as_const(candidates)) {
        if (matches(path))
            return path;
    }
    return host.path;
}

Task<> MacModel::resolveFolderPaths(MacConnection& connection, QList<HostTab>& hostTabs)
{
    QPointer<MacModel> self(this);
    QPointer<MacConnection> target(&connection);
    // Only the first tabs to open can open (applyHostListing caps them): the host is asked
    // about those, however many the listing holds.
    qsizetype toOpen = 0;
    for (HostTab& host : hostTabs) {
        if (!self || !target)
            co_return;
        if (host.path.isEmpty() || tabOf(*target, host.session) != nullptr)
            continue;
        if (++toOpen > maximumHostOpenedTabs)
            co_return;
        // Only a tab about to open whose stored path may have been cleaned and that no known
        // folder explains: the session's own start folder is asked for.
        if (!host.path.contains(u' ') || realFolderPath(*target, host) != host.path)
            continue;
        QString script = QStringLiteral("tmux -u display-message -p -t ") + tmuxOptionTarget(host.session) +
                         QStringLiteral(" '#{session_path}' 2>/dev/null\ntrue\n");
        Task<ShellResult<QString>> asking = runScript(*target, std::move(script), scriptTimeout);
        ShellResult<QString> output = co_await std::move(asking);
        if (!output)
            continue;
        QString path = output.value();
        if (path.endsWith(u'\n'))
            path.chop(1);
        if (isRealFolderOf(path, host))
            host.path = path;
    }
}

void MacModel::applyHostListing(MacConnection& connection, const QList<HostTab>& hostTabs, int epoch,
                                const QSet<QString>& held)
{
    const QDateTime now = clock->now();
    QList<MacTab*> mine;
    for (MacTab* tab : std::as_const(tabsValue)) {
        if (tab->connId == connection.id && tab->useTmux)
            mine << tab;
    }
    bool changed = false;
    QSet<QString> listed = connection.liveSessions();
    for (const HostTab& host : hostTabs)
        listed.insert(host.session);
    QList<LocalTab> local;
    for (const MacTab* tab : std::as_const(mine)) {
        // A live tab whose session the host does not run yet is still starting (its login
        // profile may be waiting for input): it counts as just opened, however long ago.
        const bool starting = tab->isLive() && !listed.contains(tab->project.session);
        local.append(LocalTab{tab->project.session, tab->isLive(), starting ? std::optional(now) : tab->openedAt});
    }
    const ReconcilePlan plan = reconcileTabs(local, hostTabs, now);

    // Tabs are compared by identity below: removal only defers their deletion.
    for (MacTab* tab : std::as_const(mine)) {
        if (plan.toClose.contains(tab->project.session) && !held.contains(tab->project.session) && tabsValue.contains(tab)) {
            removeTab(*tab);
            changed = true;
        }
    }

    // A listing of thousands of open rows must not start thousands of terminals: past the
    // cap the rows stay as the host has them, and the user hears of it once.
    qsizetype present = 0;
    for (const MacTab* tab : std::as_const(tabsValue)) {
        if (tab->connId == connection.id && tab->useTmux)
            ++present;
    }
    qsizetype notOpened = 0;
    for (const HostTab& host : plan.toOpen) {
        if (host.path.isEmpty())
            continue;
        if (connection.writeEpoch != epoch || this->connection(connection.id) != &connection)
            break;
        if (tabOf(connection, host.session) != nullptr || connection.closedAtOnce.contains(host.session))
            continue;
        if (present >= maximumHostOpenedTabs) {
            ++notOpened;
            continue;
        }
        ++present;
        MacTab* tab = makeTab(connection, MacProject{host.name, realFolderPath(connection, host), host.session});
        insertTab(tab, insertionIndex(*tab));
        if (!activeTabIDValue)
            activate(*tab);
        tab->start();
        tab->startedAt = now;
        changed = true;
    }
    if (notOpened > 0)
        reportHostProblem(connection, hostTabsCappedMessage(connection, notOpened));

    for (MacTab* tab : std::as_const(mine)) {
        if (!plan.toRestart.contains(tab->project.session) || !tabsValue.contains(tab) || tab->isLive()
            || connection.closedAtOnce.contains(tab->project.session))
            continue;
        if (tab->startedAt && millisecondsBetween(*tab->startedAt, now) < qint64(restartHoldOff * 1000))
            continue;
        tab->start();
        tab->startedAt = now;
        changed = true;
    }

    const bool young = std::any_of(mine.cbegin(), mine.cend(), [&](const MacTab* tab) {
        return tab->openedAt && millisecondsBetween(*tab->openedAt, now) < qint64(reorderHoldOff * 1000);
    });
    if (!young) {
        QList<qsizetype> positions;
        QList<std::pair<qsizetype, const MacTab*>> current;
        for (qsizetype index = 0; index < tabsValue.size(); ++index) {
            const MacTab* tab = tabsValue.at(index);
            if (tab->connId == connection.id && tab->useTmux) {
                current.append({positions.size(), tab});
                positions << index;
            }
        }
        QList<std::pair<qsizetype, const MacTab*>> sorted = current;
        std::stable_sort(sorted.begin(), sorted.end(),
                         [&plan](const auto& a, const auto& b) { return hostOrderBefore(a, b, plan.order); });
        if (sorted != current) {
            QList<MacTab*> order = tabsValue;
            for (qsizetype k = 0; k < positions.size(); ++k)
                order[positions.at(k)] = const_cast<MacTab*>(sorted.at(k).second);
            reorderTabs(order);
            persistTabs();
            return;
        }
    }
    if (changed)
        persistTabs();
}

namespace {

// Whether the sessions both lists hold come in the same order in each.
bool sameOrderOfShared(const QStringList& first, const QStringList& second)
{
    const QSet<QString> inFirst(first.cbegin(), first.cend());
    const QSet<QString> inSecond(second.cbegin(), second.cend());
    QStringList a, b;
    for (const QString& session : first) {
        if (inSecond.contains(session))
            a << session;
    }
    for (const QString& session : second) {
        if (inFirst.contains(session))
            b << session;
    }
    return a == b;
}

// Puts the rows of the given sessions in their order, in the places those rows take; the other
// rows keep theirs.
void followOrder(QList<HostTab>& rows, const QStringList& sessions)
{
    QHash<QString, qsizetype> rank;
    for (qsizetype k = 0; k < sessions.size(); ++k)
        rank.insert(sessions.at(k), k);
    QList<qsizetype> places;
    QList<HostTab> ordered;
    for (qsizetype index = 0; index < rows.size(); ++index) {
        if (rank.contains(rows.at(index).session)) {
            places << index;
            ordered << rows.at(index);
        }
    }
    std::stable_sort(ordered.begin(), ordered.end(),
                     [&rank](const HostTab& a, const HostTab& b) { return rank.value(a.session) < rank.value(b.session); });
    for (qsizetype k = 0; k < places.size(); ++k)
        rows[places.at(k)] = std::move(ordered[k]);
}

// Whether the host's row is still the one a close was made over: the same, or moved only to
// the place this computer's own order, whose outcome is not known, gives it. While orders of
// ours may still land there, its place is ours in the making, and only the rest counts.
bool isRowClosedHere(const HostTab& kept, const HostTab& listed, const std::optional<MacConnection::UnsentOrder>& order,
                     bool orderInFlux)
{
    if (kept == listed)
        return true;
    if (orderInFlux) {
        HostTab placed = kept;
        placed.order = listed.order;
        return placed == listed;
    }
    const qsizetype place = order ? order->sessions.indexOf(listed.session) : -1;
    if (place < 0 || listed.order != place + 1)
        return false;
    HostTab moved = kept;
    moved.order = listed.order;
    return moved == listed;
}

} // namespace

MacModel::UnsentChanges MacModel::weighUnsentChanges(MacConnection& connection, const QList<HostTab>& open)
{
    UnsentChanges unsent;
    bool weighed = false;
    // Orders of ours may still land on the host: one runs or waits, or a start older than
    // our newest move has not run its tags.
    const bool orderWriting = connection.orderWriting || connection.waitingOrder.has_value();
    const bool olderStart = olderStartPending(connection);
    const bool orderInFlux = orderWriting || olderStart;
    if (!connection.unsentCloses.isEmpty()) {
        QHash<QString, const HostTab*> rows;
        for (const HostTab& row : open)
            rows.insert(row.session, &row);
        for (auto close = connection.unsentCloses.begin(); close != connection.unsentCloses.end();) {
            const HostTab* row = rows.value(close.key());
            const QString session = close.key();
            // Closed on the host by now, or opened here again: nothing is left to send.
            if (row == nullptr || tabOf(connection, session) != nullptr) {
                close = connection.unsentCloses.erase(close);
                weighed = true;
                continue;
            }
            if (close->row && isRowClosedHere(*close->row, *row, connection.unsentOrder, orderInFlux)) {
                // As the host lists it now: our own order may have moved it since.
                close->row = *row;
                unsent.keptClosed.insert(session);
                ++close;
                continue;
            }
            // Changed on the host since (renamed, moved, reopened or made again by another
            // client), or never known here (the tab was closed before its row could be read):
            // the host's state stands, and the tab opens again.
            setBanner(closeNotMadeMessage(connection, row->name));
            close = connection.unsentCloses.erase(close);
            weighed = true;
        }
    }
    if (connection.unsentOrder) {
        QStringList hostOrder;
        for (const HostTab& row : open)
            hostOrder << row.session;
        const MacConnection::UnsentOrder& order = *connection.unsentOrder;
        if (orderWriting) {
            // Ours is still on its way: the strip keeps it, and what the host shows meanwhile
            // is ours in the making.
            unsent.keepOrder = true;
        } else if (sameOrderOfShared(hostOrder, order.sessions)) {
            // The host has it: the write landed, however its answer was lost. A start older
            // than it may still number the tabs otherwise: then it stays owed.
            if (!olderStart) {
                connection.unsentOrder.reset();
                weighed = true;
            }
        } else if (olderStart || (!order.over.isEmpty() && sameOrderOfShared(hostOrder, order.over))) {
            // Not there, or under a start of ours older than it: it goes again.
            unsent.keepOrder = true;
            unsent.sendOrderAgain = true;
        } else {
            // Changed on the host since, or made before any listing showed the host's order:
            // what the host has may be another client's, and stands.
            connection.unsentOrder.reset();
            weighed = true;
            setBanner(orderNotMadeMessage(connection));
        }
    }
    if (weighed)
        storeUnsentTabChanges(connection);
    return unsent;
}

void MacModel::weighUnsentKills(MacConnection& connection, const ServerState& state)
{
    bool weighed = false;
    for (auto kill = connection.unsentKills.begin(); kill != connection.unsentKills.end();) {
        // Still running its kill: its own outcome comes first.
        if (kill->sending) {
            ++kill;
            continue;
        }
        bool runs = state.sessions.count(kill.key()) > 0;
        // Made again since by another client: the session the user ended is gone.
        if (runs && kill->created) {
            for (const HostTab& row : state.open) {
                if (row.session == kill.key() && row.created && *row.created != *kill->created)
                    runs = false;
            }
        }
        // Rows cut short may leave out a session that runs: only a whole listing tells it
        // ended.
        if (!runs && state.rowsCut) {
            ++kill;
            continue;
        }
        if (runs)
            setBanner(sessionStillRunsMessage(connection, kill->name));
        kill = connection.unsentKills.erase(kill);
        weighed = true;
    }
    if (weighed)
        storeUnsentTabChanges(connection);
}

QSet<QString> MacModel::heldSessions(const MacConnection& connection, const ServerState& state) const
{
    QSet<QString> held;
    if (state.refusedSessions.isEmpty() && !state.openIncomplete)
        return held;
    for (const MacTab* tab : tabsValue) {
        if (tab->connId == connection.id && tab->useTmux
            && (state.openIncomplete || isRefusedSession(state, tab->project.session)))
            held.insert(tab->project.session);
    }
    return held;
}

QString MacModel::hostSubject(const MacConnection& connection)
{
    return halvoren::hostSubject(hostKind(connection));
}

// ---- The listing sync

Task<> MacModel::requestSync(MacConnection& connection)
{
    if (connection.syncing) {
        connection.syncQueued = true;
        co_return;
    }
    QPointer<MacModel> self(this);
    QPointer<MacConnection> target(&connection);
    connection.syncing = true;
    Task<> listing = runListing(connection, false);
    co_await std::move(listing);
    if (!self || !target)
        co_return;
    target->syncing = false;
    if (target->syncQueued) {
        target->syncQueued = false;
        requestSync(*target);
    }
}

QStringList MacModel::listingKeeps(const MacConnection& connection) const
{
    QStringList sessions;
    for (const MacTab* tab : tabsValue) {
        if (tab->connId == connection.id)
            sessions << tab->project.session;
    }
    for (const PersistedTab& saved : prefs.tabs(connection.id))
        sessions << saved.tmux;
    for (const MacProject& project : connection.projects())
        sessions << project.session;
    for (const QList<MacProject>& list : connection.subprojects()) {
        for (const MacProject& project : list)
            sessions << project.session;
    }
    for (const ClosedTab& closed : closedTabs) {
        if (closed.connId == connection.id)
            sessions << closed.session;
    }
    // What became of the changes that did not reach the host is read from their rows.
    for (auto close = connection.unsentCloses.cbegin(); close != connection.unsentCloses.cend(); ++close)
        sessions << close.key();
    for (auto kill = connection.unsentKills.cbegin(); kill != connection.unsentKills.cend(); ++kill)
        sessions << kill.key();
    return sessions;
}

void MacModel::noteListingFailure(MacConnection& connection)
{
    connection.failures += 1;
    if (connection.failures >= 2)
        connection.setUnreachable(true);
}

QString MacModel::hostTabsCappedMessage(const MacConnection& connection, qsizetype notOpened)
{
    return QStringLiteral("%1 liste plus de %2 onglets ouverts : %3 ne sont pas ouverts ici.")
        .arg(hostSubject(connection))
        .arg(maximumHostOpenedTabs)
        .arg(notOpened);
}

void MacModel::reportHostProblem(MacConnection& connection, const QString& message)
{
    // Counted by kind, not by figure: a count that changes is still the same problem.
    const QString kind = message.section(u':', 0, 0);
    if (connection.reportedProblems.contains(kind))
        return;
    connection.reportedProblems.insert(kind);
    setBanner(message);
}

Task<> MacModel::runListing(MacConnection& connection, bool applyOnly)
{
    QPointer<MacModel> self(this);
    QPointer<MacConnection> target(&connection);
    const int epoch = connection.writeEpoch;
    connection.lastListingAt = clock->now();
    ++connection.listingsStarted;
    // Fresh for each run and never written to the host: no value there can hold the markers.
    QString nonce = listingNonce ? listingNonce() : newListingNonce();
    Task<ShellResult<QString>> running = runScript(connection, listingScript(nonce), listingTimeout);
    ShellResult<QString> output = co_await std::move(running);
    if (!self || !target)
        co_return;
    if (!output) {
        // The server answered, but its shared connection had no session to give until the
        // time-out: the host is not silent, and the next poll lists again.
        if (output.error().sharedConnectionRefused)
            co_return;
        // The host answered, but its login profile took part of the script or never ran
        // it: waiting will not mend it, so say why instead of calling the host silent.
        if (output.error().message == scriptIncompleteMessage() || isScriptNotRunMessage(output.error().message)) {
            target->failures = 0;
            target->setUnreachable(false);
            reportHostProblem(*target, output.error().message);
            co_return;
        }
        // A host that prints without end is no passing failure: say so, once.
        if (output.error().message == Shell::outputTooLargeMessage())
            reportHostProblem(*target, output.error().message);
        noteListingFailure(*target);
        co_return;
    }
    // Handed over, not shared: the text of a large listing is freed once it is read.
    Task<> handling = handleListing(*target, std::move(output.value()), epoch, applyOnly, std::move(nonce));
    co_await std::move(handling);
}

Task<> MacModel::handleListing(MacConnection& connection, QString output, int epoch, bool applyOnly, QString nonce)
{
    QPointer<MacModel> self(this);
    QPointer<MacConnection> target(&connection);
    // A listing may be megabytes: a large one is read on a worker thread so the window
    // stays live; a usual one (a few rows) is read at once. Either way what comes back is
    // bounded by the sessions kept, not by the size of the listing.
    const QStringList keep = listingKeeps(connection);
    const HostKind host = hostKind(connection);
    std::optional<ServerState> parsed;
    if (output.size() <= listingReadInPlaceChars) {
        parsed = parseListingOutput(output, keep, nonce, host);
    } else {
        // The state is moved out of the worker, never copied, and the text dies with it.
        auto result = std::make_shared<std::optional<ServerState>>();
        QFuture<void> parsing = QtConcurrent::run([result, keep, nonce, host, text = std::move(output)] {
            *result = parseListingOutput(text, keep, nonce, host);
        });
        co_await parsing;
        if (!self || !target)
            co_return;
        parsed = std::move(*result);
    }
    if (!parsed) {
        noteListingFailure(connection);
        co_return;
    }
    for (const QString& problem : std::as_const(parsed->problems))
        reportHostProblem(connection, problem);
    connection.failures = 0;
    connection.setUnreachable(false);
    ServerState state = std::move(*parsed);
    // Rows that could not be read say nothing of the host's sessions.
    if (!state.rowsFailed) {
        QSet<QString> live;
        for (const QString& session : state.sessions) {
            if (session.startsWith(QStringLiteral("kq-")))
                live.insert(session);
        }
        connection.setLiveSessions(live);
    }
    // A file we cannot read is protected from our uploads at once; only a listing that no
    // write overtook may tell it is readable again.
    if (state.sharedTooLarge)
        connection.sharedStateTooLarge = true;
    if (state.sharedUnreadable)
        connection.sharedStateUnreadable = true;
    if (connection.writeEpoch != epoch || this->connection(connection.id) != &connection)
        co_return;
    // Only a listing no write overtook tells what became of an end of session that failed.
    if (!state.rowsFailed && !connection.unsentKills.isEmpty())
        weighUnsentKills(connection, state);

    bool writeOwed = false;
    if (state.sharedTooLarge || state.sharedUnreadable) {
        // Neither adopted nor replaced: the sets stay as this computer has them, and the
        // tabs follow the host all the same.
        connection.sharedStateTooLarge = state.sharedTooLarge;
        connection.sharedStateUnreadable = state.sharedUnreadable;
    } else {
        connection.sharedStateTooLarge = false;
        connection.sharedStateUnreadable = false;
        Task<bool> adopting = adoptSharedState(connection, std::move(state.shared), std::move(state.sharedSum));
        writeOwed = co_await std::move(adopting);
        if (!self || !target)
            co_return;
    }
    // Written once the tabs are applied: a write now would keep this listing from opening
    // the tabs the host lists, for as long as writes fail. A listing that seeds the host
    // applies nothing itself (the seeding lists again after its own write): there the file
    // goes first, out of the way of the tabs the seeding starts.
    if (writeOwed && !appliesTabs(*target, state, applyOnly)) {
        writeOwed = false;
        Task<> writing = writeSharedState(*target, true);
        co_await std::move(writing);
        if (!self || !target)
            co_return;
    }
    Task<> finishing = finishListing(*target, std::move(state), epoch, applyOnly);
    co_await std::move(finishing);
    if (writeOwed && self && target) {
        Task<> writing = writeSharedState(*target, true);
        co_await std::move(writing);
    }
}

bool MacModel::appliesTabs(const MacConnection& connection, const ServerState& state, bool applyOnly)
{
    return connection.tabSyncReady && connection.tmuxAvailable() && !state.rowsFailed
           && (state.synced || applyOnly || (!connection.seedFromPersisted && state.sessions.empty()));
}

// The host's sets with the changes kept here on top, and what this computer keeps of them.
struct SharedAdoption {
    // The sets as the host's file holds them.
    SharedPrefs host;
    NameSet favorites;
    NameSet hidden;
    QSet<QString> favoriteSet;
    QSet<QString> hiddenSet;
    QJsonArray storedFavorites;
    QJsonArray storedHidden;

    // The sets as this computer shows and stores them.
    void fill()
    {
        favoriteSet = toQSet(favorites);
        hiddenSet = toQSet(hidden);
        storedFavorites = Prefs::storedNameSet(favoriteSet);
        storedHidden = Prefs::storedNameSet(hiddenSet);
    }
};

namespace {

SharedAdoption adopt(SharedPrefs shared, const QHash<QString, bool>& pendingFavorites,
                     const QHash<QString, bool>& pendingHidden)
{
    SharedAdoption adoption;
    adoption.host = shared;
    applyPendingNames(shared.favorites, pendingFavorites);
    applyPendingNames(shared.hidden, pendingHidden);
    adoption.favorites = std::move(shared.favorites);
    adoption.hidden = std::move(shared.hidden);
    adoption.fill();
    return adoption;
}

// Sets of more names than this are worked on a worker thread: a file near its 1 MiB holds a
// hundred thousand of them.
constexpr std::size_t adoptInPlaceNames = 4096;

} // namespace

Task<bool> MacModel::adoptSharedState(MacConnection& connection, std::optional<SharedPrefs> shared,
                                      std::optional<QString> sum)
{
    connection.sharedSum = std::move(sum);
    connection.sharedRawKnown = true;
    // The file as last read or written, and every change kept here already weighed against
    // it: adopting it again would change nothing, and would go over all its names for that.
    // A write still owed is weighed again, and so goes up again.
    if (connection.sharedSettled && !connection.sharedWriteOwed && connection.sharedRaw == shared) {
        connection.sharedStateRead = true;
        co_return false;
    }
    connection.sharedSettled = false;
    QPointer<MacModel> self(this);
    QPointer<MacConnection> target(&connection);
    if (!shared) {
        // Our sets already hold the changes kept here; those stay pending until they land.
        connection.sharedStateRead = true;
        connection.sharedRaw.reset();
        connection.sharedWriteOwed = true;
        co_return true;
    }
    // Changes made while the sets are worked on join the pending names, to go on top.
    connection.sharedStateRead = false;
    const QHash<QString, bool> pendingFavorites = connection.pendingFavorites;
    const QHash<QString, bool> pendingHidden = connection.pendingHidden;
    SharedAdoption adoption;
    if (shared->favorites.size() + shared->hidden.size() <= adoptInPlaceNames) {
        adoption = adopt(std::move(*shared), pendingFavorites, pendingHidden);
    } else {
        const int epoch = connection.writeEpoch;
        auto result = std::make_shared<SharedAdoption>();
        QFuture<void> adopting = QtConcurrent::run([result, prefs = std::move(*shared), pendingFavorites, pendingHidden]() mutable {
            *result = adopt(std::move(prefs), pendingFavorites, pendingHidden);
        });
        co_await adopting;
        if (!self || !target)
            co_return false;
        adoption = std::move(*result);
        // After a write that went meanwhile, the copy read by the listing is no longer known
        // to be the host's (one still running says so itself when it ends).
        if (target->writeEpoch != epoch && !target->sharedWriting)
            target->sharedRawKnown = false;
    }
    co_return takeAdoption(*target, std::move(adoption), pendingFavorites, pendingHidden);
}

bool MacModel::takeAdoption(MacConnection& adopted, SharedAdoption adoption, const QHash<QString, bool>& pendingFavorites,
                            const QHash<QString, bool>& pendingHidden)
{
    adopted.sharedStateRead = true;
    // The names the file holds as wanted are no longer pending: the host has them, whoever
    // wrote them.
    if (dropSatisfiedNames(adopted.pendingFavorites, adoption.host.favorites)
        | dropSatisfiedNames(adopted.pendingHidden, adoption.host.hidden))
        storePendingShared(adopted);
    if ((adopted.pendingFavorites != pendingFavorites
         && applyPendingNames(adoption.favorites, adopted.pendingFavorites))
        | (adopted.pendingHidden != pendingHidden && applyPendingNames(adoption.hidden, adopted.pendingHidden)))
        adoption.fill();
    if (adoption.favoriteSet != adopted.favorites() || adoption.hiddenSet != adopted.hidden()) {
        adopted.setFavorites(adoption.favoriteSet);
        adopted.setHidden(adoption.hiddenSet);
        prefs.setStoredFavorites(adopted.id, adoption.storedFavorites);
        prefs.setStoredHidden(adopted.id, adoption.storedHidden);
    }
    adopted.sharedRaw = std::move(adoption.host);
    // Our sets are now the file with the pending names on top. Every name still pending is
    // one the file lacks: they go up, as far as the file's size allows.
    adopted.sharedSettled = true;
    if (adopted.pendingFavorites.isEmpty() && adopted.pendingHidden.isEmpty()) {
        adopted.sharedWriteOwed = adopted.sharedWriting;
        return false;
    }
    adopted.sharedWriteOwed = true;
    return true;
}

bool MacModel::rebaseSharedState(MacConnection& connection, const ServerState& found)
{
    for (const QString& problem : found.problems)
        reportHostProblem(connection, problem);
    connection.sharedStateTooLarge = found.sharedTooLarge;
    connection.sharedStateUnreadable = found.sharedUnreadable;
    if (connection.sharedStateHeld())
        return false;
    connection.sharedSum = found.sharedSum;
    connection.sharedRawKnown = true;
    if (!found.shared) {
        // Gone (or blank) since: ours go up whole, as on a host that never had the file.
        connection.sharedRaw.reset();
        connection.sharedSettled = false;
        return true;
    }
    // Taken in place: the write that found it is waiting on it.
    const QHash<QString, bool> pendingFavorites = connection.pendingFavorites;
    const QHash<QString, bool> pendingHidden = connection.pendingHidden;
    takeAdoption(connection, adopt(*found.shared, pendingFavorites, pendingHidden), pendingFavorites, pendingHidden);
    return true;
}

Task<> MacModel::finishListing(MacConnection& connection, ServerState state, int epoch, bool applyOnly)
{
    if (!connection.tabSyncReady || !connection.tmuxAvailable())
        co_return;
    // Without its rows the listing shows no tab: the tabs, saved or open, stay as they are.
    if (state.rowsFailed)
        co_return;
    if (applyOnly && !connection.seededSessions.isEmpty()) {
        // The host must show what the seeding made before its listing may rewrite the saved
        // tabs: a host whose tmux answers nothing after it (or lists through a tmux that is
        // not the one the sessions went to) would leave them empty.
        const bool shown = std::any_of(connection.seededSessions.cbegin(), connection.seededSessions.cend(),
                                       [&state](const QString& session) { return state.sessions.count(session) > 0; });
        if (!shown)
            co_return;
    }
    if (appliesTabs(connection, state, applyOnly)) {
        connection.seedFromPersisted = false;
        connection.seededSessions.clear();
        QPointer<MacModel> self(this);
        QPointer<MacConnection> target(&connection);
        const UnsentChanges unsent = weighUnsentChanges(connection, state.open);
        QList<HostTab> open = state.open;
        open.removeIf([&unsent](const HostTab& row) { return unsent.keptClosed.contains(row.session); });
        // The order that goes again is the one the strip follows, also after a restart, when
        // the strip is made from this listing.
        if (unsent.keepOrder)
            followOrder(open, connection.unsentOrder->sessions);
        Task<> resolving = resolveFolderPaths(connection, open);
        co_await std::move(resolving);
        if (!self || !target)
            co_return;
        // Only the user's close untags a session: a row left out here stays as the host has
        // it, and so does its tab. A listing cut at its bound shows what it can, but the
        // saved tabs keep what the last whole one showed.
        target->savedTabsHeld = state.rowsCut;
        applyHostListing(*target, open, epoch, heldSessions(*target, state));
        target->savedTabsHeld = false;
        takeListedRows(*target, state.open);
        // Sent again once the listing is applied: a write now would keep it from opening the
        // tabs the host lists.
        for (const QString& session : unsent.keptClosed)
            sendClose(*target, session, target->unsentCloses.value(session).row);
        if (unsent.sendOrderAgain) {
            const QStringList sessions = tmuxSessionsOf(*target);
            if (!sessions.isEmpty())
                sendOrder(*target, sessions, target->unsentOrder ? target->unsentOrder->over : QStringList());
        }
        // Applied, so the tabs the last seeding could not make are no longer saved: said now,
        // whichever listing got here first, and by no later one.
        const QStringList notMade = target->takeTabsNotMade();
        if (!notMade.isEmpty())
            setBanner(tabsNotMadeMessage(*target, notMade));
        co_return;
    }
    Task<> seeding = seedHost(connection);
    co_await std::move(seeding);
}

QString MacModel::seededTabsUnlistedMessage(const MacConnection& connection)
{
    return hostSubject(connection)
        + QStringLiteral(" n'a pas pu lister ses onglets : ceux enregistrés ici sont gardés et seront écrits à nouveau.");
}

QString MacModel::tabsNotMadeMessage(const MacConnection& connection, const QStringList& names)
{
    // A few names are enough to recognise the tabs; a long list would only hide the rest.
    constexpr qsizetype namedAtMost = 4;
    constexpr qsizetype namedWhenMore = 3;
    const qsizetype named = names.size() <= namedAtMost ? names.size() : namedWhenMore;
    // The names share less room than one name of another banner: the sentence around them is
    // long, and still reads whole after them.
    constexpr qsizetype nameColumns = 40;
    const qsizetype columns = std::max<qsizetype>(nameColumns / named, 12);
    QStringList quoted;
    for (const QString& name : names.first(named))
        quoted << QStringLiteral("« ") + bannerQuote(name, columns) + QStringLiteral(" »");
    if (names.size() == 1) {
        return QStringLiteral("%1 n'a pas pu rouvrir l'onglet %2 (tmux n'a pas pu créer sa session) : rouvrez son "
                              "projet depuis la barre latérale.")
            .arg(hostSubject(connection), quoted.front());
    }
    const QString last = named < names.size() ? QStringLiteral("%1 autres").arg(names.size() - named) : quoted.takeLast();
    return QStringLiteral("%1 n'a pas pu rouvrir les onglets %2 et %3 (tmux n'a pas pu créer leurs sessions) : rouvrez "
                          "leurs projets depuis la barre latérale.")
        .arg(hostSubject(connection), quoted.join(QStringLiteral(", ")), last);
}

QString MacModel::closesAtOnceMessage(const MacProject& project)
{
    return QStringLiteral("La session de %1 se ferme dès son ouverture : elle n'est pas rouverte.").arg(bannerQuote(project.name));
}

Task<> MacModel::seedHost(MacConnection& connection)
{
    struct Entry {
        QString name;
        QString path;
        QString session;
    };
    QList<Entry> entries;
    const auto add = [&entries](const QString& name, const QString& path, const QString& session) {
        const bool present = std::any_of(entries.cbegin(), entries.cend(),
                                         [&session](const Entry& entry) { return entry.session == session; });
        if (!present)
            entries.append(Entry{name, path, session});
    };
    if (connection.seedFromPersisted) {
        for (const PersistedTab& saved : prefs.tabs(connection.id))
            add(saved.name, saved.path, saved.tmux);
    }
    for (const MacTab* tab : std::as_const(tabsValue)) {
        if (tab->connId == connection.id && tab->useTmux)
            add(tab->project.name, tab->project.path, tab->project.session);
    }
    // The saved tabs stay the record of this connection's tabs until a listing that shows
    // the seeding's work is applied: seedFromPersisted is cleared by that apply, not here.
    // Tabs whose path no folder can have are never carried: a saved set of those alone is
    // not seeded again at every listing.
    const QString token = QString::number(QRandomGenerator::system()->generate64(), 16);
    QList<Entry> written;
    QString script = tmuxSeedOpening();
    // Said once the seeding is known to have reached the host: one that failed is tried again
    // at every listing, and would say the same every few seconds.
    QStringList refusals;
    for (const Entry& entry : std::as_const(entries)) {
        // No folder has such a path: nothing reaches the host.
        if (folderPathTooLong(entry.path)) {
            refusals << visibleText(folderRefusalMessage(FolderRefusal::tooLong, entry.path));
            continue;
        }
        written << entry;
        script += tmuxSeedScript(entry.session, entry.name, entry.path, written.size(), token);
    }
    script += tmuxSeedClosing();

    QPointer<MacModel> self(this);
    QPointer<MacConnection> target(&connection);
    Task<ShellResult<QString>> seeding = runRemoteReading(connection, script);
    const ShellResult<QString> output = co_await std::move(seeding);
    if (!self || !target)
        co_return;
    // Never reached the host: the saved tabs stay, for the next listing to seed.
    if (!output && output.error().sharedConnectionRefused)
        co_return;
    const SeedReport report = parseSeedReport(output ? output.value() : QString(), token);
    QStringList reached;
    for (const QList<qint64>& orders : {report.made, report.present}) {
        for (const qint64 order : orders) {
            if (order >= 1 && order <= written.size() && !reached.contains(written.at(order - 1).session))
                reached << written.at(order - 1).session;
        }
    }
    // An order of a tab written, which the report names for the first time.
    const auto firstMention = [&written](qint64 order, QSet<qint64>& seen) {
        if (order < 1 || order > written.size() || seen.contains(order))
            return false;
        seen.insert(order);
        return true;
    };
    QSet<qint64> refused;
    for (const auto& [order, status] : report.refused) {
        if (!firstMention(order, refused))
            continue;
        const FolderRefusal refusal = status == folderMissingStatus ? FolderRefusal::missing : FolderRefusal::inaccessible;
        refusals << visibleText(folderRefusalMessage(refusal, written.at(order - 1).path));
    }
    // Nothing of what was carried reached the host, and not for want of its folders: its tmux
    // failed (a server of another version, say) or the run did. An empty listing now would
    // only say so again; the saved tabs stay, for the next listing to seed.
    if (!written.isEmpty() && reached.isEmpty() && refused.size() < written.size()) {
        // Nor does it tell which tabs tmux can make: the next seeding will.
        target->holdTabsNotMade({});
        reportHostProblem(*target, seededTabsUnlistedMessage(*target));
        co_return;
    }
    for (const QString& refusal : std::as_const(refusals))
        setBanner(refusal);
    // Tabs whose session tmux could not make while it made others: the host is marked
    // synchronised all the same, and its listing, without them, becomes the saved tabs. They
    // are named when a listing is applied, be it the one below or a later poll's; until then
    // they are still saved, and a seeding tried again may make them after all.
    QStringList notMade;
    QSet<qint64> failed;
    for (const qint64 order : report.failed) {
        if (firstMention(order, failed))
            notMade << written.at(order - 1).name;
    }
    target->holdTabsNotMade(notMade);
    target->seededSessions = reached;
    Task<> relisting = runListing(*target, true);
    co_await std::move(relisting);
    if (!self || !target)
        co_return;
    // Not applied: the saved tabs stay. The next listing applies itself when the seeding got
    // as far as marking the host synchronised, and seeds and checks again otherwise.
    if (!target->seededSessions.isEmpty()) {
        target->seededSessions.clear();
        target->seedFromPersisted = true;
        reportHostProblem(*target, seededTabsUnlistedMessage(*target));
    }
}

} // namespace halvoren
