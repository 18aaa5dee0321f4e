#include "settings/Prefs.h"

#include <QDir>
#include <QJsonDocument>
#include <QJsonObject>
#include <QJsonParseError>

#include <algorithm>
#include <cmath>
#include <limits>

namespace halvoren {

namespace {

// A JSON object whose listed keys all hold strings; other keys are ignored.
std::optional<QJsonObject> decodeRecord(const QString& text, std::initializer_list<const char*> keys)
{
    QJsonParseError error;
    const QJsonDocument document = QJsonDocument::fromJson(text.toUtf8(), &error);
    if (error.error != QJsonParseError::NoError || !document.isObject())
        return std::nullopt;
    QJsonObject object = document.object();
    for (const char* key : keys) {
        if (!object.value(QLatin1String(key)).isString())
            return std::nullopt;
    }
    return object;
}

QString compact(const QJsonObject& object)
{
    return QString::fromUtf8(QJsonDocument(object).toJson(QJsonDocument::Compact));
}

} // namespace

QString encodeSavedCommand(const SavedCommand& command)
{
    return compact({{QStringLiteral("label"), command.label}, {QStringLiteral("command"), command.command}});
}

std::optional<SavedCommand> decodeSavedCommand(const QString& text)
{
    const std::optional<QJsonObject> object = decodeRecord(text, {"label", "command"});
    if (!object)
        return std::nullopt;
    return SavedCommand{object->value(QLatin1String("label")).toString(),
                        object->value(QLatin1String("command")).toString()};
}

QString encodePersistedTab(const PersistedTab& tab)
{
    return compact({{QStringLiteral("name"), tab.name}, {QStringLiteral("path"), tab.path}, {QStringLiteral("tmux"), tab.tmux}});
}

std::optional<PersistedTab> decodePersistedTab(const QString& text)
{
    const std::optional<QJsonObject> object = decodeRecord(text, {"name", "path", "tmux"});
    if (!object)
        return std::nullopt;
    return PersistedTab{object->value(QLatin1String("name")).toString(), object->value(QLatin1String("path")).toString(),
                        object->value(QLatin1String("tmux")).toString()};
}

QString Prefs::favoritesKey(const QString& connectionID)
{
    return QStringLiteral("flutter.favorites_") + connectionID;
}

QString Prefs::hiddenKey(const QString& connectionID)
{
    return QStringLiteral("flutter.hidden_") + connectionID;
}

QString Prefs::tabsKey(const QString& connectionID)
{
    return QStringLiteral("flutter.tabs_") + connectionID;
}

QList<SavedCommand> Prefs::builtInCommands()
{
    return {
        {QStringLiteral("Claude Code"), QStringLiteral("claude")},
        {QStringLiteral("Claude — reprendre"), QStringLiteral("claude --continue")},
        {QStringLiteral("Effacer l'écran"), QStringLiteral("clear")},
    };
}

Prefs::Prefs(PreferenceStore& store) : d(store) {}

Prefs& Prefs::shared()
{
    static Prefs prefs(PreferenceStore::standard());
    return prefs;
}

QStringList Prefs::projectsRoots() const
{
    if (std::optional<QStringList> roots = d.stringListValue(projectsRootsKey))
        return *roots;
    if (std::optional<QString> root = d.stringValue(projectsRootKey))
        return {*root};
    return {QDir::homePath() + QStringLiteral("/projets")};
}

void Prefs::setProjectsRoots(const QStringList& roots)
{
    d.setStringList(projectsRootsKey, roots);
}

double Prefs::fontSize() const
{
    // Kept within the sizes the model and the settings offer: a hand-edited 1e308 would draw
    // the terminal as a dot.
    const double stored = d.numberValue(fontSizeKey).value_or(13.0);
    if (!std::isfinite(stored))
        return 13.0;
    return std::clamp(stored, 9.0, 28.0);
}

void Prefs::setFontSize(double size)
{
    d.setValue(fontSizeKey, size);
}

QList<SavedCommand> Prefs::commands() const
{
    // Only a value that is no list gives the built-ins: a stray element that is not a text is
    // skipped like an undecodable one, or the next change would write the built-ins over the
    // user's own commands.
    const QJsonValue stored = d.value(commandsKey);
    if (!stored.isArray())
        return builtInCommands();
    QList<SavedCommand> commands;
    for (const QJsonValue element : stored.toArray()) {
        if (!element.isString())
            continue;
        if (std::optional<SavedCommand> command = decodeSavedCommand(element.toString()))
            commands.append(std::move(*command));
    }
    return commands;
}

void Prefs::setCommands(const QList<SavedCommand>& commands)
{
    QStringList texts;
    for (const SavedCommand& command : commands)
        texts.append(encodeSavedCommand(command));
    d.setStringList(commandsKey, texts);
}

QMap<QString, QString> Prefs::tabLabels() const
{
    QMap<QString, QString> labels;
    const std::optional<QString> stored = d.stringValue(tabLabelsKey);
    if (!stored)
        return labels;
    QJsonParseError error;
    const QJsonDocument document = QJsonDocument::fromJson(stored->toUtf8(), &error);
    if (error.error != QJsonParseError::NoError || !document.isObject())
        return labels;
    const QJsonObject object = document.object();
    for (auto it = object.constBegin(); it != object.constEnd(); ++it) {
        // One value that is not a text spoils the whole map.
        if (!it.value().isString())
            return {};
        labels.insert(it.key(), it.value().toString());
    }
    return labels;
}

void Prefs::setTabLabels(const QMap<QString, QString>& labels)
{
    QJsonObject object;
    for (auto it = labels.constBegin(); it != labels.constEnd(); ++it)
        object.insert(it.key(), it.value());
    d.setValue(tabLabelsKey, compact(object));
}

bool Prefs::boolOr(const QString& key, bool fallback) const
{
    return d.boolValue(key).value_or(fallback);
}

bool Prefs::composeBarVisible() const
{
    return boolOr(composeBarVisibleKey, false);
}

void Prefs::setComposeBarVisible(bool visible)
{
    d.setValue(composeBarVisibleKey, visible);
}

bool Prefs::rightSidebarOpen() const
{
    return boolOr(rightSidebarOpenKey, true);
}

void Prefs::setRightSidebarOpen(bool open)
{
    d.setValue(rightSidebarOpenKey, open);
}

bool Prefs::sidebarOpen() const
{
    return boolOr(sidebarOpenKey, true);
}

void Prefs::setSidebarOpen(bool open)
{
    d.setValue(sidebarOpenKey, open);
}

bool Prefs::onboardingDone() const
{
    return boolOr(onboardingDoneKey, false);
}

void Prefs::setOnboardingDone(bool done)
{
    d.setValue(onboardingDoneKey, done);
}

qint64 Prefs::activeTab() const
{
    const std::optional<double> stored = d.numberValue(activeTabKey);
    // A position is a whole number; anything else is no position.
    if (!stored || !std::isfinite(*stored) || std::abs(*stored) > 9.0e15)
        return 0;
    return static_cast<qint64>(std::trunc(*stored));
}

void Prefs::setActiveTab(qint64 position)
{
    d.setValue(activeTabKey, static_cast<double>(position));
}

QSet<QString> Prefs::nameSet(const QString& key) const
{
    const QStringList stored = d.stringListValue(key).value_or(QStringList());
    return QSet<QString>(stored.begin(), stored.end());
}

QJsonArray Prefs::storedNameSet(const QSet<QString>& names)
{
    // Sorted, so the stored order does not depend on the order of insertion.
    QStringList list(names.begin(), names.end());
    std::sort(list.begin(), list.end());
    return QJsonArray::fromStringList(list);
}

void Prefs::setNameList(const QString& key, QStringList names)
{
    if (!std::is_sorted(names.cbegin(), names.cend()))
        std::sort(names.begin(), names.end());
    // A list of a hundred thousand names costs far more to build than to compare: when the
    // stored one is the same but for one name, only that name is put in or taken out.
    const QJsonArray stored = d.value(key).toArray();
    if (std::abs(stored.size() - names.size()) == 1) {
        const bool inserted = names.size() > stored.size();
        const qsizetype shorter = std::min(stored.size(), names.size());
        auto same = [&](qsizetype storedAt, qsizetype namesAt) {
            const QJsonValue value = stored.at(storedAt);
            return value.isString() && value.toString() == names.at(namesAt);
        };
        qsizetype at = 0;
        while (at < shorter && same(at, at))
            ++at;
        bool rest = true;
        for (qsizetype i = at; rest && i < shorter; ++i)
            rest = inserted ? same(i, i + 1) : same(i + 1, i);
        if (rest) {
            QJsonArray changed = stored;
            if (inserted)
                changed.insert(at, names.at(at));
            else
                changed.removeAt(at);
            d.setValue(key, changed);
            return;
        }
    }
    d.setValue(key, QJsonArray::fromStringList(names));
}

void Prefs::setFavoriteNames(const QString& connectionID, const QStringList& names)
{
    setNameList(favoritesKey(connectionID), names);
}

void Prefs::setHiddenNames(const QString& connectionID, const QStringList& names)
{
    setNameList(hiddenKey(connectionID), names);
}

void Prefs::setNameSet(const QString& key, const QSet<QString>& names)
{
    d.setValue(key, storedNameSet(names));
}

void Prefs::setStoredFavorites(const QString& connectionID, const QJsonArray& stored)
{
    d.setValue(favoritesKey(connectionID), stored);
}

void Prefs::setStoredHidden(const QString& connectionID, const QJsonArray& stored)
{
    d.setValue(hiddenKey(connectionID), stored);
}

QString Prefs::pendingSharedKey(const QString& connectionID)
{
    return QStringLiteral("hv.pendingShared_") + connectionID;
}

namespace {

const QString pendingFavoritesMember = QStringLiteral("favorites");
const QString pendingHiddenMember = QStringLiteral("hidden");

QHash<QString, bool> pendingNames(const QJsonValue& value)
{
    QHash<QString, bool> names;
    const QJsonObject object = value.toObject();
    for (auto entry = object.constBegin(); entry != object.constEnd(); ++entry) {
        if (entry.value().isBool())
            names.insert(entry.key(), entry.value().toBool());
    }
    return names;
}

QJsonObject storedPendingNames(const QHash<QString, bool>& names)
{
    QJsonObject object;
    for (auto entry = names.cbegin(); entry != names.cend(); ++entry)
        object.insert(entry.key(), entry.value());
    return object;
}

} // namespace

PendingSharedNames Prefs::pendingShared(const QString& connectionID) const
{
    const QJsonObject stored = d.value(pendingSharedKey(connectionID)).toObject();
    return PendingSharedNames{pendingNames(stored.value(pendingFavoritesMember)), pendingNames(stored.value(pendingHiddenMember))};
}

void Prefs::setPendingShared(const QString& connectionID, const PendingSharedNames& pending)
{
    if (pending.favorites.isEmpty() && pending.hidden.isEmpty()) {
        d.remove(pendingSharedKey(connectionID));
        return;
    }
    d.setValue(pendingSharedKey(connectionID),
               QJsonObject{{pendingFavoritesMember, storedPendingNames(pending.favorites)},
                           {pendingHiddenMember, storedPendingNames(pending.hidden)}});
}

QString Prefs::unsentTabsKey(const QString& connectionID)
{
    return QStringLiteral("hv.unsentTabs_") + connectionID;
}

namespace {

// Numbers go as decimal text: a JSON number loses digits past 2^53, and a row compared
// after a restart must be the row as listed.
QJsonValue storedInteger(qint64 value)
{
    return QString::number(value);
}

std::optional<qint64> readInteger(const QJsonValue& value)
{
    if (!value.isString())
        return std::nullopt;
    bool ok = false;
    const qint64 number = value.toString().toLongLong(&ok);
    if (!ok || QString::number(number) != value.toString())
        return std::nullopt;
    return number;
}

std::optional<QString> readText(const QJsonValue& value)
{
    if (!value.isString() || value.toString().size() > Prefs::maximumUnsentTextChars)
        return std::nullopt;
    return value.toString();
}

// A list of texts within the bounds, or none.
std::optional<QStringList> readTexts(const QJsonValue& value, qsizetype most)
{
    if (!value.isArray() || value.toArray().size() > most)
        return std::nullopt;
    QStringList texts;
    for (const QJsonValue& element : value.toArray()) {
        std::optional<QString> text = readText(element);
        if (!text)
            return std::nullopt;
        texts << std::move(*text);
    }
    return texts;
}

bool fitsUnsent(const QString& text)
{
    return text.size() <= Prefs::maximumUnsentTextChars;
}

QJsonObject storedRow(const KeptHostRow& row)
{
    QJsonObject object{{QStringLiteral("order"), storedInteger(row.order)},
                       {QStringLiteral("name"), row.name},
                       {QStringLiteral("path"), row.path}};
    if (row.parent)
        object.insert(QStringLiteral("parent"), *row.parent);
    if (row.created)
        object.insert(QStringLiteral("created"), storedInteger(*row.created));
    return object;
}

// The row, or none when any member is missing, of a wrong type or too long; an optional
// member present with a wrong value spoils the row too.
std::optional<KeptHostRow> readRow(const QString& session, const QJsonObject& object)
{
    const std::optional<qint64> order = readInteger(object.value(QLatin1String("order")));
    const std::optional<QString> name = readText(object.value(QLatin1String("name")));
    const std::optional<QString> path = readText(object.value(QLatin1String("path")));
    if (!order || !name || !path)
        return std::nullopt;
    KeptHostRow row{session, *order, *name, *path, std::nullopt, std::nullopt};
    if (const QJsonValue parent = object.value(QLatin1String("parent")); !parent.isUndefined()) {
        row.parent = readText(parent);
        if (!row.parent)
            return std::nullopt;
    }
    if (const QJsonValue created = object.value(QLatin1String("created")); !created.isUndefined()) {
        row.created = readInteger(created);
        if (!row.created)
            return std::nullopt;
    }
    return row;
}

// The newest entries (the last ones) that fit, at most maximumUnsentEntries, oldest first.
template <typename Entry, typename Fits>
QList<const Entry*> newestFitting(const QList<Entry>& entries, Fits fits)
{
    QList<const Entry*> kept;
    for (auto entry = entries.crbegin(); entry != entries.crend() && kept.size() < Prefs::maximumUnsentEntries; ++entry) {
        if (fits(*entry))
            kept << &*entry;
    }
    std::reverse(kept.begin(), kept.end());
    return kept;
}

// Where the newest maximumUnsentEntries entries of a stored list begin.
qsizetype newestStored(const QJsonArray& entries)
{
    return std::max<qsizetype>(entries.size() - Prefs::maximumUnsentEntries, 0);
}

} // namespace

UnsentTabChanges Prefs::unsentTabChanges(const QString& connectionID) const
{
    UnsentTabChanges changes;
    const QJsonObject stored = d.value(unsentTabsKey(connectionID)).toObject();
    const QJsonArray closes = stored.value(QLatin1String("closes")).toArray();
    for (qsizetype index = newestStored(closes); index < closes.size(); ++index) {
        const QJsonObject entry = closes.at(index).toObject();
        const std::optional<QString> session = readText(entry.value(QLatin1String("session")));
        if (!session || session->isEmpty())
            continue;
        UnsentTabChanges::Close close{*session, std::nullopt};
        if (const QJsonValue row = entry.value(QLatin1String("row")); !row.isUndefined()) {
            close.row = row.isObject() ? readRow(*session, row.toObject()) : std::nullopt;
            if (!close.row)
                continue;
        }
        changes.closes << std::move(close);
    }
    if (const QJsonValue order = stored.value(QLatin1String("order")); order.isObject()) {
        std::optional<QStringList> sessions
            = readTexts(order.toObject().value(QLatin1String("sessions")), maximumUnsentOrderSessions);
        std::optional<QStringList> over = readTexts(order.toObject().value(QLatin1String("over")), maximumUnsentOrderSessions);
        if (sessions && over && !sessions->isEmpty())
            changes.order = UnsentTabChanges::Order{std::move(*sessions), std::move(*over)};
    }
    const QJsonArray kills = stored.value(QLatin1String("kills")).toArray();
    for (qsizetype index = newestStored(kills); index < kills.size(); ++index) {
        const QJsonObject entry = kills.at(index).toObject();
        const std::optional<QString> session = readText(entry.value(QLatin1String("session")));
        const std::optional<QString> name = readText(entry.value(QLatin1String("name")));
        const QJsonValue createdValue = entry.value(QLatin1String("created"));
        const std::optional<qint64> created = readInteger(createdValue);
        if (session && name && !session->isEmpty() && (createdValue.isUndefined() || created))
            changes.kills << UnsentTabChanges::Kill{*session, *name, created};
    }
    return changes;
}

void Prefs::setUnsentTabChanges(const QString& connectionID, const UnsentTabChanges& changes)
{
    // Past the bounds the newest stay: the user's last closes and ends are those the host is
    // most likely still to show as they were.
    QJsonArray closes;
    const auto closeFits = [](const UnsentTabChanges::Close& close) {
        return fitsUnsent(close.session)
               && (!close.row
                   || (fitsUnsent(close.row->name) && fitsUnsent(close.row->path)
                       && fitsUnsent(close.row->parent.value_or(QString()))));
    };
    for (const UnsentTabChanges::Close* close : newestFitting(changes.closes, closeFits)) {
        QJsonObject entry{{QStringLiteral("session"), close->session}};
        if (close->row)
            entry.insert(QStringLiteral("row"), storedRow(*close->row));
        closes.append(entry);
    }
    QJsonArray kills;
    const auto killFits = [](const UnsentTabChanges::Kill& kill) { return fitsUnsent(kill.session) && fitsUnsent(kill.name); };
    for (const UnsentTabChanges::Kill* kill : newestFitting(changes.kills, killFits)) {
        QJsonObject entry{{QStringLiteral("session"), kill->session}, {QStringLiteral("name"), kill->name}};
        if (kill->created)
            entry.insert(QStringLiteral("created"), storedInteger(*kill->created));
        kills.append(entry);
    }
    QJsonObject stored;
    if (!closes.isEmpty())
        stored.insert(QStringLiteral("closes"), closes);
    if (!kills.isEmpty())
        stored.insert(QStringLiteral("kills"), kills);
    const auto fits = [](const QStringList& sessions) {
        return sessions.size() <= maximumUnsentOrderSessions && std::all_of(sessions.cbegin(), sessions.cend(), fitsUnsent);
    };
    if (changes.order && !changes.order->sessions.isEmpty() && fits(changes.order->sessions) && fits(changes.order->over)) {
        stored.insert(QStringLiteral("order"),
                      QJsonObject{{QStringLiteral("sessions"), QJsonArray::fromStringList(changes.order->sessions)},
                                  {QStringLiteral("over"), QJsonArray::fromStringList(changes.order->over)}});
    }
    if (stored.isEmpty())
        d.remove(unsentTabsKey(connectionID));
    else
        d.setValue(unsentTabsKey(connectionID), stored);
}

QSet<QString> Prefs::favorites(const QString& connectionID) const
{
    return nameSet(favoritesKey(connectionID));
}

void Prefs::setFavorites(const QString& connectionID, const QSet<QString>& names)
{
    setNameSet(favoritesKey(connectionID), names);
}

QSet<QString> Prefs::hidden(const QString& connectionID) const
{
    return nameSet(hiddenKey(connectionID));
}

void Prefs::setHidden(const QString& connectionID, const QSet<QString>& names)
{
    setNameSet(hiddenKey(connectionID), names);
}

QList<PersistedTab> Prefs::tabs(const QString& connectionID) const
{
    QList<PersistedTab> tabs;
    for (const QString& text : d.stringListValue(tabsKey(connectionID)).value_or(QStringList())) {
        if (std::optional<PersistedTab> tab = decodePersistedTab(text))
            tabs.append(std::move(*tab));
    }
    return tabs;
}

void Prefs::setTabs(const QString& connectionID, const QList<PersistedTab>& tabs)
{
    QStringList texts;
    for (const PersistedTab& tab : tabs)
        texts.append(encodePersistedTab(tab));
    d.setStringList(tabsKey(connectionID), texts);
}

QStringList Prefs::connectedProfiles() const
{
    return d.stringListValue(connectedProfilesKey).value_or(QStringList());
}

void Prefs::setConnectedProfiles(const QStringList& ids)
{
    d.setStringList(connectedProfilesKey, ids);
}

} // namespace halvoren
