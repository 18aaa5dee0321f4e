#include "workspace/MacModel.h"

#include "workspace/AssignAndNotify.h"
#include "platform/DetachedProcess.h"
#include "platform/Log.h"
#include "platform/Notifier.h"
#include "tab/MacTab.h"
#include "remote/SessionNaming.h"
#include "remote/SharedPrefs.h"
#include "style/Palette.h"
#include "style/VisibleText.h"

#include <QDir>
#include <QGuiApplication>
#include <QtConcurrent/QtConcurrentRun>
#include <qcoro/qcorofuture.h>

#include <algorithm>

namespace halvoren {

namespace {

MacProject projectIn(const QString& folder, const QString& name)
{
    const QString path = folder + u'/' + name;
    return MacProject{name, path, tmuxSessionName(path)};
}

QStringList pathsOf(const QList<MacProject>& projects)
{
    QStringList paths;
    paths.reserve(projects.size());
    for (const MacProject& project : projects)
        paths << project.path;
    return paths;
}

NameSet nameSet(const QSet<QString>& names)
{
    return NameSet(names.cbegin(), names.cend());
}

QString tabKey(const MacTab& tab)
{
    return tab.id();
}

} // namespace

MacModel::MacModel(Prefs& prefs, SecretStore* keychain, Notifier* notifier)
    : prefs(prefs), keychain(keychain), notifier(notifier != nullptr ? notifier : &Notifier::shared()),
      fontSizeValue(prefs.fontSize()), commandsValue(prefs.commands()), tabLabelsValue(prefs.tabLabels()),
      composeVisibleValue(prefs.composeBarVisible()), commandsVisibleValue(prefs.rightSidebarOpen())
{
    auto* local = new MacConnection;
    local->prefs = &prefs;
    local->extraRoots = &extraProjectsRoots;
    local->setParent(this);
    connectionsValue.append(local);

    runScript = [](MacConnection& connection, QString script, double timeoutSeconds) -> Task<ShellResult<QString>> {
        // Both runners read only what the script printed, and tell a login profile that never
        // let it run from a script that failed.
        if (!connection.link) {
            ShellResult<QString> result = co_await runLoginShell(std::move(script), timeoutSeconds);
            co_return result;
        }
        // The link outlives the run even if the connection is dropped meanwhile.
        const std::shared_ptr<SSHLink> link = connection.link;
        ShellResult<QString> result = co_await link->runScript(std::move(script), timeoutSeconds);
        co_return result;
    };
    listFolders = [](MacConnection& connection, QString folder) { return connection.tryListFolders(std::move(folder)); };
    isFrontmost = [] { return QGuiApplication::applicationState() == Qt::ApplicationActive; };
    // Scripts still running on the hosts when the application quits are ended with it, and
    // the files of long ones removed: no listing stays blocked on the host for ever. The work
    // that awaited them is let finish before the event loop is gone.
    if (QCoreApplication* application = QCoreApplication::instance())
        QObject::connect(application, &QCoreApplication::aboutToQuit, this, [] { Shell::endAllAtQuit(); });
}

MacModel::~MacModel()
{
    for (MacTab* tab : std::as_const(tabsValue)) {
        tab->onExit = nullptr;
        tab->stop();
        delete tab;
    }
}

MacModel& MacModel::shared()
{
    static MacModel* model = new MacModel(Prefs::shared());
    return *model;
}

// ---- Observed fields

void MacModel::appendConnection(MacConnection* connection)
{
    connection->setParent(this);
    connectionsValue.append(connection);
    Q_EMIT connectionsChanged();
}

void MacModel::removeConnection(MacConnection* connection)
{
    const qsizetype index = connectionsValue.indexOf(connection);
    if (index <= 0)
        return;
    connectionsValue.removeAt(index);
    Q_EMIT connectionsChanged();
    // Running host work holds the connection weakly and stops when it goes.
    connection->deleteLater();
}

void MacModel::setProfiles(const QList<MacProfile>& value)
{
    assign(this, profilesValue, value, &MacModel::profilesChanged);
}

void MacModel::insertTab(MacTab* tab, qsizetype index)
{
    tab->setParent(this);
    tabsValue.insert(std::clamp<qsizetype>(index, 0, tabsValue.size()), tab);
    Q_EMIT tabsChanged();
}

void MacModel::reorderTabs(const QList<MacTab*>& order)
{
    tabsValue = order;
    Q_EMIT tabsChanged();
}

void MacModel::setActiveTabID(const std::optional<QString>& value)
{
    assign(this, activeTabIDValue, value, &MacModel::activeTabIDChanged);
}

QString bannerQuote(const QString& text, qsizetype columns)
{
    // Made visible first: a line ending of two characters would count as one.
    return elidedPath(visibleText(text), columns);
}

void MacModel::setBanner(const std::optional<QString>& value)
{
    // A message set while another is shown waits for its turn, so that each is seen for its
    // whole time; clearing shows the next one waiting.
    if (!value) {
        if (bannerQueue.isEmpty()) {
            assign(this, bannerValue, value, &MacModel::bannerChanged);
            return;
        }
        bannerValue = bannerQueue.takeFirst();
        Q_EMIT bannerChanged();
        return;
    }
    if (!bannerValue) {
        assign(this, bannerValue, value, &MacModel::bannerChanged);
        return;
    }
    if (*bannerValue == *value || bannerQueue.contains(*value))
        return;
    // A full queue gives up its oldest message: the latest says best how things stand now.
    if (bannerQueue.size() >= maximumWaitingBanners)
        bannerQueue.removeFirst();
    bannerQueue.append(*value);
}

void MacModel::clearBanners()
{
    bannerQueue.clear();
    assign(this, bannerValue, std::optional<QString>(), &MacModel::bannerChanged);
}

void MacModel::setFontSize(double value)
{
    const double size = std::clamp(value, 9.0, 28.0);
    assign(this, fontSizeValue, size, &MacModel::fontSizeChanged);
    prefs.setFontSize(fontSizeValue);
    for (MacTab* tab : std::as_const(tabsValue)) {
        if (tab->terminal)
            tab->terminal->setTerminalFont(terminalFont(fontSizeValue));
    }
}

void MacModel::setCommands(const QList<SavedCommand>& value)
{
    assign(this, commandsValue, value, &MacModel::commandsChanged);
}

void MacModel::setTabLabels(const QMap<QString, QString>& value)
{
    assign(this, tabLabelsValue, value, &MacModel::tabLabelsChanged);
}

void MacModel::setComposeVisible(bool value)
{
    prefs.setComposeBarVisible(value);
    assign(this, composeVisibleValue, value, &MacModel::composeVisibleChanged);
}

void MacModel::setCommandsVisible(bool value)
{
    prefs.setRightSidebarOpen(value);
    assign(this, commandsVisibleValue, value, &MacModel::commandsVisibleChanged);
}

void MacModel::setReconnecting(const QSet<QString>& value)
{
    reconnectingValue = value;
    Q_EMIT reconnectingChanged();
}

// ---- Lookups

MacConnection* MacModel::connection(const QString& id) const
{
    for (MacConnection* candidate : connectionsValue) {
        if (candidate->id == id)
            return candidate;
    }
    return nullptr;
}

MacTab* MacModel::activeTab() const
{
    if (!activeTabIDValue)
        return nullptr;
    for (MacTab* tab : tabsValue) {
        if (tabKey(*tab) == *activeTabIDValue)
            return tab;
    }
    return nullptr;
}

// ---- The tab list

MacTab* MacModel::makeTab(MacConnection& connection, const MacProject& project)
{
    auto* tab = new MacTab(connection.id, project, connection.tmuxAvailable(), connection.link, keychain);
    tab->setParent(this);
    TermView& view = *tab->terminal;
    view.setTerminalFont(terminalFont(fontSizeValue));
    view.setNativeBackgroundColor(terminalBackground());
    view.setNativeForegroundColor(terminalForeground());
    view.setCaretColor(terminalCaret());
    view.optionAsMetaKey = false;

    const QPointer<MacModel> self(this);
    tab->onDropFiles = [self](MacTab& target, const QList<QUrl>& urls) {
        uploadDroppedFiles(self, QPointer<MacTab>(&target), urls);
    };
    tab->onPasteImage = [self](MacTab& target, const QByteArray& png) {
        uploadPastedImage(self, QPointer<MacTab>(&target), png);
    };
    tab->onOutput = [self](MacTab& target, const QString& text) {
        if (self)
            self->noteOutput(target, text);
    };
    tab->onRedrawAhead = [self](MacTab& target) {
        if (self)
            self->noteRedrawAhead(target);
    };
    tab->onSessionShown = [self](MacTab& target) {
        if (self)
            self->readOpenedRow(target);
    };
    tab->onInput = [self](MacTab& target) {
        if (self)
            self->noteInput(target);
    };
    tab->onBell = [self](MacTab& target) {
        if (self)
            self->noteBell(target);
    };
    tab->onExit = [self](MacTab& target) {
        if (self)
            self->tabExited(target);
    };
    tab->onLinkNotOpened = [self](MacTab&) {
        if (self)
            self->setBanner(noLinkOpenerMessage);
    };
    return tab;
}

void MacModel::cancelDecision(const QString& key)
{
    if (const QPointer<QTimer> pending = pendingFinish.take(key))
        delete pending.data();
}

void MacModel::activate(MacTab& tab)
{
    const QString key = tabKey(tab);
    setActiveTabID(key);
    tab.setAttention(false);
    cancelDecision(key);
    if (!restoringTabs)
        notifier->clear(key);
    prefs.setActiveTab(std::max<qsizetype>(tabsValue.indexOf(&tab), 0));
    // Focus once the view has found its place in the window.
    if (tab.terminal) {
        QTimer::singleShot(0, tab.terminal.data(), [view = tab.terminal] {
            if (view && view->parentWidget() != nullptr)
                view->setFocus();
        });
    }
}

void MacModel::removeTab(MacTab& tab)
{
    const qsizetype index = tabsValue.indexOf(&tab);
    if (index < 0)
        return;
    tab.onExit = nullptr;
    tab.stop();
    const QString key = tabKey(tab);
    cancelDecision(key);
    armed.remove(key);
    activityBytes.remove(key);
    lastActivity.remove(key);
    redrawUntil.remove(key);
    notifier->clear(key);

    tabsValue.removeAt(index);
    Q_EMIT tabsChanged();
    // Out of the strip first: an order its start's tags call for holds only the tabs left.
    startTagsLanded(tab, false);
    if (activeTabIDValue == key) {
        if (tabsValue.isEmpty()) {
            setActiveTabID(std::nullopt);
        } else {
            MacTab& next = *tabsValue.at(std::min(index, tabsValue.size() - 1));
            setActiveTabID(tabKey(next));
            activate(next);
        }
    }
    persistTabs();
    // Its view may still be in a layout this turn.
    tab.deleteLater();
}

QString MacModel::tabTitle(const MacTab& tab) const
{
    const QString label = tabLabelsValue.value(tabKey(tab));
    if (!label.isEmpty())
        return label;
    const MacConnection* owner = connection(tab.connId);
    if (owner == nullptr)
        return tab.project.name;
    for (const QString& root : owner->projectRoots()) {
        const QString prefix = root + u'/';
        if (!tab.project.path.startsWith(prefix))
            continue;
        const QStringList parts = tab.project.path.mid(prefix.size()).split(u'/', Qt::SkipEmptyParts);
        if (parts.size() > 1)
            return parts.front() + QStringLiteral(" / ") + tab.project.name;
    }
    return tab.project.name;
}

QString MacModel::tabSubtitle(const MacTab& tab) const
{
    const MacConnection* owner = connection(tab.connId);
    if (owner == nullptr)
        return tab.project.path;
    for (const QString& root : owner->projectRoots()) {
        if (tab.project.path.startsWith(root))
            return QDir::cleanPath(root).section(u'/', -1) + tab.project.path.mid(root.size());
    }
    return tab.project.path;
}

void MacModel::renameTab(const MacTab& tab, const std::optional<QString>& label)
{
    QString trimmed = label.value_or(QString());
    qsizetype start = 0;
    qsizetype end = trimmed.size();
    while (start < end && (trimmed.at(start) == u' ' || trimmed.at(start) == u'\t'))
        ++start;
    while (end > start && (trimmed.at(end - 1) == u' ' || trimmed.at(end - 1) == u'\t'))
        --end;
    trimmed = trimmed.mid(start, end - start);
    if (trimmed.isEmpty())
        tabLabelsValue.remove(tabKey(tab));
    else
        tabLabelsValue.insert(tabKey(tab), trimmed);
    Q_EMIT tabLabelsChanged();
    prefs.setTabLabels(tabLabelsValue);
}

QColor MacModel::connectionColor(const QString& id) const
{
    static const QColor localColour = paletteColor(0.42, 0.47, 0.52);
    if (id == MacConnection::localID)
        return localColour;
    for (qsizetype position = 0; position < connectionsValue.size(); ++position) {
        if (connectionsValue.at(position)->id == id) {
            const auto& palette = connectionPalette();
            const qsizetype count = qsizetype(palette.size());
            return palette.at(size_t(((position - 1) % count + count) % count));
        }
    }
    return localColour;
}

QString MacModel::sharedStateKeptHereMessage(bool unreadable)
{
    const QString state = unreadable ? QStringLiteral("est illisible")
                                     : QStringLiteral("dépasse %1 Mo").arg(maximumSharedStateBytes >> 20);
    return QStringLiteral("Le fichier ~/.halvoren/shared.json %1 : il n'est pas remplacé, ce changement est gardé sur "
                          "cet ordinateur et y sera ajouté dès qu'il sera lisible.")
        .arg(state);
}

namespace {

// " (« reason »)" when there is one: the host's own words, on one line and cut to the
// banner's room.
QString quotedReason(const QString& reason)
{
    if (reason.isEmpty())
        return QString();
    return QStringLiteral(" (« ") + bannerQuote(reason, bannerReasonColumns) + QStringLiteral(" »)");
}

} // namespace

QString MacModel::sharedStateNotWrittenMessage(const MacConnection& connection, const QString& reason)
{
    return QStringLiteral("%1 n'a pas enregistré les favoris et les projets masqués%2 : ils sont gardés ici et seront "
                          "envoyés à nouveau.")
        .arg(hostSubject(connection), quotedReason(reason));
}

QString MacModel::sharedStateKeepsChangingMessage(const MacConnection& connection)
{
    return QStringLiteral("%1 n'a pas enregistré les favoris et les projets masqués : son fichier "
                          "~/.halvoren/shared.json a changé à chaque écriture. Ils sont gardés ici et seront envoyés à "
                          "nouveau.")
        .arg(hostSubject(connection));
}

QString MacModel::closeNotMadeMessage(const MacConnection& connection, const QString& name)
{
    return QStringLiteral("La fermeture de l'onglet « %1 » n'a pas atteint %2, où il a changé depuis : il reste ouvert.")
        .arg(bannerQuote(name), connection.link ? QStringLiteral("le serveur") : QStringLiteral("cet ordinateur"));
}

QString MacModel::orderNotMadeMessage(const MacConnection& connection)
{
    return QStringLiteral("Le nouvel ordre des onglets n'a pas atteint %1, où il a changé depuis : l'ordre %2 est "
                          "gardé.")
        .arg(connection.link ? QStringLiteral("le serveur") : QStringLiteral("cet ordinateur"),
             connection.link ? QStringLiteral("du serveur") : QStringLiteral("de cet ordinateur"));
}

QString MacModel::sessionStillRunsMessage(const MacConnection& connection, const QString& name)
{
    return QStringLiteral("La session « %1 » n'a pas pu être fermée sur %2 : elle continue.")
        .arg(bannerQuote(name), connection.link ? QStringLiteral("le serveur") : QStringLiteral("cet ordinateur"));
}

void MacModel::uploadSharedState(MacConnection& connection)
{
    // A file we could not read may hold far more than our sets, or names of other clients:
    // writing ours over it would lose them for every client of the host. The change waits
    // in the pending names.
    if (connection.sharedStateHeld()) {
        setBanner(sharedStateKeptHereMessage(!connection.sharedStateTooLarge));
        return;
    }
    // Not read yet (the first listing is still to come or failed): the listing that reads it
    // puts the change on top.
    if (!connection.sharedStateRead)
        return;
    writeSharedState(connection, false);
}

bool MacModel::settledAfterChange(MacConnection& connection)
{
    // Without a file known on the host our sets are more than the pending names: they go up
    // whole.
    if (connection.sharedSettled && connection.sharedStateRead && !connection.sharedStateHeld() && connection.sharedRaw)
        return true;
    // The change waits in the pending names for the listing that reads the file.
    connection.sharedSettled = false;
    return false;
}

SharedPrefs MacModel::settledSets(const MacConnection& connection)
{
    // Settled, our sets are the file as last read or written with the pending names on top:
    // copying its sets keeps them in the encoder's order, where sorting ours would go over
    // every name of a full file at each click.
    static const SharedPrefs none;
    SharedPrefs sets = connection.sharedRaw ? *connection.sharedRaw : none;
    applyPendingNames(sets.favorites, connection.pendingFavorites);
    applyPendingNames(sets.hidden, connection.pendingHidden);
    return sets;
}

void MacModel::storePendingShared(const MacConnection& connection)
{
    const PendingSharedNames pending{connection.pendingFavorites, connection.pendingHidden};
    if (prefs.pendingShared(connection.id) != pending)
        prefs.setPendingShared(connection.id, pending);
}

void MacModel::loadPendingShared(MacConnection& connection)
{
    // A change made here before they are read is newer than the stored one.
    const PendingSharedNames stored = prefs.pendingShared(connection.id);
    for (auto name = stored.favorites.cbegin(); name != stored.favorites.cend(); ++name)
        connection.pendingFavorites.insert(name.key(), connection.pendingFavorites.value(name.key(), name.value()));
    for (auto name = stored.hidden.cbegin(); name != stored.hidden.cend(); ++name)
        connection.pendingHidden.insert(name.key(), connection.pendingHidden.value(name.key(), name.value()));
}

namespace {

KeptHostRow keptRow(const HostTab& row)
{
    return KeptHostRow{row.session, row.order, row.name, row.path, row.parent, row.created};
}

HostTab hostRow(const KeptHostRow& row)
{
    return HostTab{row.session, row.order, row.name, row.path, row.parent, row.created};
}

// The entries of a kept record oldest first, as the record stores them (it keeps the newest).
template <typename Value, typename Entry>
QList<Entry> oldestFirst(const QHash<QString, Value>& kept, Entry (*entry)(const QString&, const Value&))
{
    QList<std::pair<quint64, Entry>> aged;
    for (auto item = kept.cbegin(); item != kept.cend(); ++item)
        aged.append({item->keptAt, entry(item.key(), item.value())});
    std::sort(aged.begin(), aged.end(), [](const auto& a, const auto& b) {
        return a.first != b.first ? a.first < b.first : a.second.session < b.second.session;
    });
    QList<Entry> entries;
    for (auto& [age, value] : aged)
        entries << std::move(value);
    return entries;
}

UnsentTabChanges::Close storedClose(const QString& session, const MacConnection::UnsentClose& close)
{
    return UnsentTabChanges::Close{session, close.row ? std::optional(keptRow(*close.row)) : std::nullopt};
}

UnsentTabChanges::Kill storedKill(const QString& session, const MacConnection::UnsentKill& kill)
{
    return UnsentTabChanges::Kill{session, kill.name, kill.created};
}

UnsentTabChanges unsentTabChangesOf(const MacConnection& connection)
{
    UnsentTabChanges changes;
    changes.closes = oldestFirst(connection.unsentCloses, storedClose);
    if (connection.unsentOrder)
        changes.order = UnsentTabChanges::Order{connection.unsentOrder->sessions, connection.unsentOrder->over};
    changes.kills = oldestFirst(connection.unsentKills, storedKill);
    return changes;
}

} // namespace

void MacModel::storeUnsentTabChanges(const MacConnection& connection)
{
    const UnsentTabChanges changes = unsentTabChangesOf(connection);
    if (prefs.unsentTabChanges(connection.id) != changes)
        prefs.setUnsentTabChanges(connection.id, changes);
}

void MacModel::loadUnsentTabChanges(MacConnection& connection)
{
    // A change made here before they are read is newer than the stored one, and stays so:
    // those read back come first, in their stored order.
    const UnsentTabChanges stored = prefs.unsentTabChanges(connection.id);
    const quint64 readBack = quint64(stored.closes.size() + stored.kills.size());
    for (MacConnection::UnsentClose& close : connection.unsentCloses)
        close.keptAt += readBack;
    for (MacConnection::UnsentKill& kill : connection.unsentKills)
        kill.keptAt += readBack;
    connection.keptChanges += readBack;
    quint64 age = 0;
    for (const UnsentTabChanges::Close& close : stored.closes) {
        ++age;
        if (!connection.unsentCloses.contains(close.session)) {
            connection.unsentCloses.insert(
                close.session, MacConnection::UnsentClose{close.row ? std::optional(hostRow(*close.row)) : std::nullopt, age});
        }
    }
    if (stored.order && !connection.unsentOrder)
        connection.unsentOrder = MacConnection::UnsentOrder{stored.order->sessions, stored.order->over};
    for (const UnsentTabChanges::Kill& kill : stored.kills) {
        ++age;
        if (!connection.unsentKills.contains(kill.session))
            connection.unsentKills.insert(kill.session, MacConnection::UnsentKill{kill.name, false, kill.created, age});
    }
}

Task<> MacModel::writeSharedState(MacConnection& connection, bool fromListing, std::optional<SharedPrefs> sets)
{
    connection.sharedWriteOwed = true;
    if (connection.sharedWriting) {
        // Taken when its turn comes: by then the file may have been read or written again.
        connection.sharedWriteQueued = true;
        co_return;
    }
    QPointer<MacModel> self(this);
    QPointer<MacConnection> target(&connection);
    const HostKind host = connection.link ? HostKind::server : HostKind::thisComputer;
    connection.sharedWriting = true;
    bool landed = false;
    // Nothing was to be written (held, or nothing fits): nothing is owed until the file changes.
    bool idle = false;
    int rewrites = 0;
    bool again = true;
    while (again) {
        again = false;
        MacConnection& owner = *target;
        owner.sharedWriteQueued = false;
        // A file we may not replace, or one not read yet, waits for a listing.
        std::optional<SharedPrefs> writing;
        if (!owner.sharedStateHeld() && owner.sharedStateRead) {
            if (sets) {
                writing = sharedUpload(owner, sets->favorites, sets->hidden, fromListing);
            } else if (owner.sharedRaw) {
                const SharedPrefs settled = settledSets(owner);
                writing = sharedUpload(owner, settled.favorites, settled.hidden, fromListing);
            } else {
                writing = sharedUpload(owner, nameSet(owner.favorites()), nameSet(owner.hidden()), fromListing);
            }
        }
        sets.reset();
        if (!writing) {
            idle = true;
            landed = false;
            break;
        }
        idle = false;
        // The file already holds them: every name pending is as it wants it. Only where the
        // file is known to be that copy: after a write that did not say what became of it,
        // the host may hold that write, or another client's since; the click goes on top.
        if (owner.sharedRaw && owner.sharedRawKnown && *writing == *owner.sharedRaw) {
            if (dropSatisfiedNames(owner.pendingFavorites, writing->favorites)
                | dropSatisfiedNames(owner.pendingHidden, writing->hidden))
                storePendingShared(owner);
            landed = true;
            break;
        }
        const QString nonce = listingNonce ? listingNonce() : newListingNonce();
        Task<HostWrite> running
            = runRemote(owner, uploadSharedPrefsScript(writing->favorites, writing->hidden, owner.sharedSum, nonce));
        const HostWrite written = co_await std::move(running);
        if (!self || !target)
            co_return;
        MacConnection& after = *target;
        const SharedWriteAnswer answer
            = written.done ? parseSharedWriteAnswer(written.output, nonce, host) : SharedWriteAnswer{};
        landed = answer.kind == SharedWriteAnswer::Kind::written;
        if (landed) {
            after.sharedRaw = std::move(*writing);
            after.sharedSum = answer.sum;
            after.sharedRawKnown = true;
            if (dropSatisfiedNames(after.pendingFavorites, after.sharedRaw->favorites)
                | dropSatisfiedNames(after.pendingHidden, after.sharedRaw->hidden))
                storePendingShared(after);
            after.sharedWriteFailureShown = false;
            after.sharedRewritesShown = false;
        } else if (answer.kind == SharedWriteAnswer::Kind::changed) {
            // Another client wrote the file since we read it: our pending names go on top of
            // what it holds now, and up again. A file that changes at every try is left to the
            // next listing, and said once.
            if (rebaseSharedState(after, answer.found)) {
                if (++rewrites <= maximumSharedRewrites) {
                    again = true;
                } else if (!after.sharedRewritesShown) {
                    after.sharedRewritesShown = true;
                    setBanner(sharedStateKeepsChangingMessage(after));
                }
            }
        } else {
            after.sharedRawKnown = false;
            if (!written.refused && !after.sharedWriteFailureShown) {
                after.sharedWriteFailureShown = true;
                setBanner(sharedStateNotWrittenMessage(after, written.reason));
            }
        }
        again = again || after.sharedWriteQueued;
    }
    target->sharedWriting = false;
    // One that did not land is owed: the next listing weighs the pending names again.
    target->sharedWriteOwed = !landed && !idle;
}

namespace {

// Sorts out the names of two sets in one walk over both (they iterate in the same order):
// those of the first only, and those of the second only.
void splitNames(const NameSet& first, const NameSet& second, QStringList& onlyFirst, QStringList& onlySecond)
{
    const CodePointLess less;
    auto a = first.cbegin();
    auto b = second.cbegin();
    while (a != first.cend() || b != second.cend()) {
        if (b == second.cend() || (a != first.cend() && less(*a, *b)))
            onlyFirst << *a++;
        else if (a == first.cend() || less(*b, *a))
            onlySecond << *b++;
        else
            ++a, ++b;
    }
}

void holdNames(QHash<QString, bool>& pending, const QStringList& names, bool wanted)
{
    for (const QString& name : names)
        pending.insert(name, wanted);
}

} // namespace

std::optional<SharedPrefs> MacModel::sharedUpload(MacConnection& connection, const NameSet& favorites,
                                                  const NameSet& hidden, bool fromListing)
{
    // Whatever it decides, our sets are from now on the host's file with the pending names
    // on top; those stay pending until a write of them lands.
    connection.sharedSettled = true;
    if (encodedSharedPrefsBytes(favorites, hidden) <= maximumSharedStateBytes)
        return SharedPrefs{favorites, hidden};
    // What the host holds, as last read or written: a removal only makes it smaller. Each
    // name we have and it has not waits here; each it has and we have not goes, when the file
    // without them may be written, and waits here otherwise.
    static const SharedPrefs none;
    const SharedPrefs& host = connection.sharedRaw ? *connection.sharedRaw : none;
    QStringList hostFavorites, ourFavorites, hostHidden, ourHidden;
    splitNames(host.favorites, favorites, hostFavorites, ourFavorites);
    splitNames(host.hidden, hidden, hostHidden, ourHidden);
    std::optional<SharedPrefs> removed;
    if (!hostFavorites.isEmpty() || !hostHidden.isEmpty()) {
        SharedPrefs smaller = host;
        for (const QString& name : std::as_const(hostFavorites))
            smaller.favorites.erase(name);
        for (const QString& name : std::as_const(hostHidden))
            smaller.hidden.erase(name);
        if (encodedSharedPrefsBytes(smaller.favorites, smaller.hidden) <= maximumSharedStateBytes)
            removed = std::move(smaller);
    }
    // The removals stay pending too until the smaller file lands.
    connection.pendingFavorites.clear();
    connection.pendingHidden.clear();
    holdNames(connection.pendingFavorites, ourFavorites, true);
    holdNames(connection.pendingHidden, ourHidden, true);
    holdNames(connection.pendingFavorites, hostFavorites, false);
    holdNames(connection.pendingHidden, hostHidden, false);
    storePendingShared(connection);
    const QString message = sharedStateFullMessage(connection.link ? HostKind::server : HostKind::thisComputer);
    if (fromListing)
        reportHostProblem(connection, message);
    else
        setBanner(message);
    if (!removed) {
        // Nothing can go up: nothing is owed until the file changes.
        return std::nullopt;
    }
    return removed;
}

void MacModel::toggleFavorite(const QString& name, MacConnection& connection)
{
    const bool wanted = !connection.favorites().contains(name);
    connection.setFavorite(name, wanted);
    connection.pendingFavorites.insert(name, wanted);
    storePendingShared(connection);
    if (settledAfterChange(connection)) {
        SharedPrefs sets = settledSets(connection);
        prefs.setFavoriteNames(connection.id, QStringList(sets.favorites.cbegin(), sets.favorites.cend()));
        writeSharedState(connection, false, std::move(sets));
        return;
    }
    prefs.setFavorites(connection.id, connection.favorites());
    uploadSharedState(connection);
}

void MacModel::toggleHidden(const QString& name, bool hidden, MacConnection& connection)
{
    connection.setHiddenName(name, hidden);
    connection.pendingHidden.insert(name, hidden);
    storePendingShared(connection);
    if (settledAfterChange(connection)) {
        SharedPrefs sets = settledSets(connection);
        prefs.setHiddenNames(connection.id, QStringList(sets.hidden.cbegin(), sets.hidden.cend()));
        writeSharedState(connection, false, std::move(sets));
        return;
    }
    prefs.setHidden(connection.id, connection.hidden());
    uploadSharedState(connection);
}

Task<> MacModel::addProjectsRoot(QString path)
{
    QStringList roots = prefs.projectsRoots();
    if (path.isEmpty() || roots.contains(path))
        co_return;
    roots.append(path);
    prefs.setProjectsRoots(roots);
    Task<> refreshing = refreshProjects(*localConnection());
    co_await std::move(refreshing);
}

Task<> MacModel::removeProjectsRoot(QString path)
{
    QStringList roots = prefs.projectsRoots();
    roots.removeAll(path);
    prefs.setProjectsRoots(roots);
    Task<> refreshing = refreshProjects(*localConnection());
    co_await std::move(refreshing);
}

bool hostOrderBefore(const std::pair<qsizetype, const MacTab*>& a, const std::pair<qsizetype, const MacTab*>& b,
                     const QStringList& hostOrder)
{
    if (hostOrder.isEmpty())
        return a.first < b.first;
    const auto rank = [&hostOrder](const MacTab* tab) {
        const qsizetype found = hostOrder.indexOf(tab->project.session);
        return found < 0 ? hostOrder.size() : found;
    };
    const qsizetype rankA = rank(a.second);
    const qsizetype rankB = rank(b.second);
    if (rankA != rankB)
        return rankA < rankB;
    return a.first < b.first;
}

// ---- Persistence

void MacModel::persistTabs()
{
    for (const MacConnection* owner : std::as_const(connectionsValue)) {
        if (owner->savedTabsHeld)
            continue;
        // Until a listing of its host was applied (one that failed or timed out shows
        // nothing), the saved tabs are all this connection knows of its tabs: they stay, with
        // any tab opened here since.
        QList<PersistedTab> persisted;
        if (owner->seedFromPersisted) {
            auto kept = keptSavedTabs.find(owner->id);
            if (kept == keptSavedTabs.end())
                kept = keptSavedTabs.insert(owner->id, prefs.tabs(owner->id));
            persisted = *kept;
        } else {
            keptSavedTabs.remove(owner->id);
        }
        const qsizetype kept = persisted.size();
        for (const MacTab* tab : std::as_const(tabsValue)) {
            if (tab->connId != owner->id)
                continue;
            const bool saved = std::any_of(persisted.cbegin(), persisted.cbegin() + kept, [tab](const PersistedTab& entry) {
                return entry.tmux == tab->project.session;
            });
            if (!saved)
                persisted.append(PersistedTab{tab->project.name, tab->project.path, tab->project.session});
        }
        prefs.setTabs(owner->id, persisted);
    }
    qsizetype active = 0;
    if (activeTabIDValue) {
        for (qsizetype index = 0; index < tabsValue.size(); ++index) {
            if (tabKey(*tabsValue.at(index)) == *activeTabIDValue) {
                active = index;
                break;
            }
        }
    }
    prefs.setActiveTab(active);
}

qsizetype MacModel::insertionIndex(const MacTab& tab) const
{
    for (qsizetype index = tabsValue.size() - 1; index >= 0; --index) {
        if (tabsValue.at(index)->connId == tab.connId)
            return index + 1;
    }
    return tabsValue.size();
}

// ---- Host work
//
// Awaited values and the arguments of awaited calls are named locals (g++ 12 mishandles some
// temporaries that live across a suspension). The model and the connection are held weakly
// across every suspension: a disconnect may delete the connection meanwhile.

Task<ShellResult<QString>> MacModel::runWriting(MacConnection& connection, QString script)
{
    QPointer<MacConnection> target(&connection);
    ++target->writeEpoch;
    Task<ShellResult<QString>> running = runScript(*target, std::move(script), scriptTimeout);
    ShellResult<QString> output = co_await std::move(running);
    if (target)
        ++target->writeEpoch;
    co_return output;
}

Task<HostWrite> MacModel::runRemote(MacConnection& connection, QString script)
{
    // Printed only once every line before it ran: ssh that worked says nothing of that.
    const QString marker = newCompletionMarker();
    Task<ShellResult<QString>> running = runWriting(connection, withCompletionMarker(script, marker));
    const ShellResult<QString> output = co_await std::move(running);
    HostWrite written;
    if (output) {
        std::optional<QString> printed = takeCompletionMarker(output.value(), marker);
        written.done = printed.has_value();
        written.output = std::move(printed).value_or(QString());
    } else {
        written.refused = output.error().sharedConnectionRefused;
        written.reason = output.error().message.trimmed();
    }
    co_return written;
}

Task<ShellResult<QString>> MacModel::runRemoteReading(MacConnection& connection, QString script)
{
    // Callers end their scripts with a line feed.
    Task<ShellResult<QString>> running = runWriting(connection, script + QStringLiteral("true\n"));
    ShellResult<QString> output = co_await std::move(running);
    co_return output;
}

Task<> MacModel::refreshProjects(MacConnection& connection)
{
    QPointer<MacModel> self(this);
    QPointer<MacConnection> target(&connection);
    const QStringList roots = target->projectRoots();
    QList<MacProject> collected;
    for (const QString& root : roots) {
        Task<std::optional<QStringList>> listing = listFolders(*target, root);
        std::optional<QStringList> names = co_await std::move(listing);
        if (!self || !target)
            co_return;
        if (!names) {
            // A host that did not answer has not lost its projects: keep what this root had.
            corvantix::logError(QStringLiteral("Projets de %1 non listés : la liste précédente reste").arg(root).toStdString());
            for (const MacProject& project : target->projects()) {
                if (project.path == root + u'/' + project.name)
                    collected.append(project);
            }
            continue;
        }
        for (const QString& name : std::as_const(*names))
            collected.append(projectIn(root, name));
    }
    target->setProjects(collected);
    target->clearExpanded();
    Task<> probing = refreshGitInfo(*target, pathsOf(collected));
    co_await std::move(probing);
}

Task<> MacModel::refreshGitInfo(MacConnection& connection, QStringList paths)
{
    QPointer<MacConnection> target(&connection);
    // In batches: each answers within the time-out even under a root of thousands of
    // projects, and a batch that fails loses only its own projects' state.
    for (qsizetype start = 0; start < paths.size(); start += gitProbeBatch) {
        const QStringList batch = paths.mid(start, gitProbeBatch);
        Task<ShellResult<QString>> probing = runScript(*target, gitProbeScript(batch), gitProbeTimeout);
        ShellResult<QString> output = co_await std::move(probing);
        if (!target)
            co_return;
        if (!output)
            continue;
        const QMap<QString, GitInfo> found = parseGitProbe(output.value());
        QHash<QString, GitInfo> info = target->gitInfo();
        for (const QString& path : batch) {
            const auto entry = found.constFind(path);
            if (entry != found.cend())
                info.insert(path, *entry);
            else
                info.remove(path);
        }
        target->setGitInfo(info);
    }
}

Task<> MacModel::loadSubprojects(QString path, MacConnection& connection)
{
    QPointer<MacConnection> target(&connection);
    QSet<QString> expanded = target->expanded();
    if (expanded.remove(path)) {
        target->setExpanded(expanded);
        co_return;
    }
    target->insertExpanded(path);
    if (target->subprojects().contains(path))
        co_return;
    Task<std::optional<QStringList>> listing = listFolders(*target, path);
    std::optional<QStringList> names = co_await std::move(listing);
    // Not stored when the host did not answer: the next opening asks again.
    if (!target || !names)
        co_return;
    QList<MacProject> children;
    for (const QString& name : std::as_const(*names))
        children.append(projectIn(path, name));
    target->storeSubprojects(path, children);
    Task<> probing = refreshGitInfo(*target, pathsOf(children));
    co_await std::move(probing);
}

Task<QList<FolderSession>> MacModel::listFolderSessions(QString path, MacConnection& connection)
{
    if (!connection.tmuxAvailable())
        co_return QList<FolderSession>{};
    Task<ShellResult<QString>> listing = runScript(connection, sessionListScript(), sessionListTimeout);
    ShellResult<QString> output = co_await std::move(listing);
    if (!output)
        co_return QList<FolderSession>{};
    // A busy host lists millions of sessions within the output cap: a large listing is read on
    // a worker thread so the window stays live, and what comes back is the folder's sessions
    // alone, bounded, whatever the size of the listing. A usual listing (a few hundred
    // sessions at most) is read at once.
    constexpr qsizetype readInPlaceChars = 64 * 1024;
    QString text = std::move(output.value());
    if (text.size() <= readInPlaceChars)
        co_return parseFolderSessions(text, path);
    QFuture<QList<FolderSession>> parsing =
        QtConcurrent::run([text = std::move(text), path] { return parseFolderSessions(text, path); });
    QList<FolderSession> sessions = co_await parsing;
    co_return sessions;
}

bool MacModel::isProjectOpen(const QString& session, const MacConnection& connection) const
{
    if (connection.liveSessions().contains(session))
        return true;
    return std::any_of(tabsValue.cbegin(), tabsValue.cend(), [&](const MacTab* tab) {
        return tab->connId == connection.id && tab->project.session == session;
    });
}

MacProject MacModel::freshProject(const QString& name, const QString& path, const MacConnection& connection) const
{
    const QString base = tmuxSessionName(path);
    if (!isProjectOpen(base, connection))
        return MacProject{name, path, base};
    for (int n = 2;; ++n) {
        const QString session = base + u'-' + QString::number(n);
        if (!isProjectOpen(session, connection))
            return MacProject{name + QStringLiteral(" (") + QString::number(n) + u')', path, session};
    }
}

QString MacModel::pastedImageName(const MacTab& tab, const QDateTime& now)
{
    const QString stamp = now.toString(QStringLiteral("yyyyMMdd-HHmmss"));
    std::pair<QString, int>& last = pastedImages[tab.connId + QStringLiteral("::") + tab.project.path];
    if (last.first == stamp) {
        ++last.second;
    } else {
        last = {stamp, 1};
    }
    const QString suffix = last.second > 1 ? u'-' + QString::number(last.second) : QString();
    return QStringLiteral("image-") + stamp + suffix + QStringLiteral(".png");
}

} // namespace halvoren
