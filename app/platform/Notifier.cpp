#include "platform/Notifier.h"

#include "platform/PreferenceStore.h"

#include <QDBusMessage>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>
#include <QDBusServiceWatcher>
#include <QJsonObject>
#include <QTimer>
#include <QVariantMap>

#include <cmath>
#include <limits>
#include <utility>

namespace halvoren {

namespace {

const QString service = QStringLiteral("org.freedesktop.Notifications");
const QString objectPath = QStringLiteral("/org/freedesktop/Notifications");
const QString interface = QStringLiteral("org.freedesktop.Notifications");

const QString busService = QStringLiteral("org.freedesktop.DBus");
const QString busPath = QStringLiteral("/org/freedesktop/DBus");

// Keys of the state file.
const QString serverKey = QStringLiteral("server");
const QString notificationsKey = QStringLiteral("notifications");

// Longer texts are no tab key or server identity of ours.
constexpr qsizetype maximumTextLength = 1024;
// How long the identity questions may take before the stored numbers are given up.
constexpr int identityTimeoutMs = 5000;
// Clicks held while the server is being identified.
constexpr qsizetype maximumHeldClicks = 16;

// Calls `done` with the reply, or with nothing when the call failed or answered otherwise.
void whenAnswered(const QDBusPendingCall& call, QObject* context, std::function<void(std::optional<QList<QVariant>>)> done)
{
    auto* watcher = new QDBusPendingCallWatcher(call, context);
    QObject::connect(watcher, &QDBusPendingCallWatcher::finished, context,
                     [done = std::move(done)](QDBusPendingCallWatcher* finished) {
                         finished->deleteLater();
                         const QDBusMessage reply = finished->reply();
                         if (reply.type() != QDBusMessage::ReplyMessage)
                             done(std::nullopt);
                         else
                             done(reply.arguments());
                     });
}

// A server that reads markup in bodies would take a tab's title for markup: `a & b` breaks
// its parsing, `<img src=…>` makes it load a file. Escaped, the title reads as typed.
QString escapedBody(const QString& body)
{
    QString escaped;
    escaped.reserve(body.size());
    for (const QChar c : body) {
        if (c == u'&')
            escaped += QLatin1StringView("&amp;");
        else if (c == u'<')
            escaped += QLatin1StringView("&lt;");
        else if (c == u'>')
            escaped += QLatin1StringView("&gt;");
        else
            escaped += c;
    }
    return escaped;
}

// The text answer of a call, or nothing.
std::optional<QString> textAnswer(const std::optional<QList<QVariant>>& answer, qsizetype index)
{
    if (!answer || answer->size() <= index || answer->at(index).metaType() != QMetaType::fromType<QString>())
        return std::nullopt;
    return answer->at(index).toString();
}

} // namespace

Notifier::Notifier(QDBusConnection bus, PreferenceStore* state) : bus(std::move(bus)), state(state)
{
    if (!this->bus.isConnected())
        return;
    this->bus.connect(service, objectPath, interface, QStringLiteral("ActionInvoked"), this,
                      SLOT(actionInvoked(uint, QString)));
    this->bus.connect(service, objectPath, interface, QStringLiteral("NotificationClosed"), this,
                      SLOT(notificationClosed(uint, uint)));
    auto* watcher = new QDBusServiceWatcher(service, this->bus, QDBusServiceWatcher::WatchForOwnerChange, this);
    QObject::connect(watcher, &QDBusServiceWatcher::serviceOwnerChanged, this, &Notifier::serverChanged);
    askCapabilities();
    if (state == nullptr)
        return;
    loadState();
    learnServer();
}

Notifier& Notifier::shared()
{
    // The store is destroyed at exit, which waits for its last change to reach the disk; the
    // notifier itself is never destroyed (its bus may be gone by then).
    static PreferenceStore state(configDirectory() + QStringLiteral("/notifications.json"));
    static Notifier* notifier = new Notifier(QDBusConnection::sessionBus(), &state);
    return *notifier;
}

void Notifier::post(const QString& key, const QString& tabTitle)
{
    if (!bus.isConnected())
        return;
    Entry& entry = entries[key];
    if (entry.waiting) {
        // Sent once the server has numbered the previous one, so that it replaces it.
        entry.queuedTitle = tabTitle;
        entry.closeQueued = false;
        return;
    }
    send(key, tabTitle);
}

void Notifier::send(const QString& key, const QString& tabTitle)
{
    Entry& entry = entries[key];
    entry.waiting = true;
    if (!bodyMarkup) {
        // Sent as soon as the server says how it reads the body.
        awaitingCapabilities.append({key, tabTitle});
        return;
    }
    const QString body = tabTitle + bodySuffix;
    QDBusMessage call = QDBusMessage::createMethodCall(service, objectPath, interface, QStringLiteral("Notify"));
    const QVariantMap hints{{QStringLiteral("sound-name"), QStringLiteral("message-new-instant")},
                            {QStringLiteral("urgency"), QVariant::fromValue(uchar(1))}};
    call << QStringLiteral("Halvoren") << entry.id << QString() << title << (*bodyMarkup ? escapedBody(body) : body)
         << QStringList{QStringLiteral("default"), QStringLiteral("Ouvrir")} << hints
         << 0; // it stays until it is dismissed, replaced or closed with its tab
    auto* watcher = new QDBusPendingCallWatcher(bus.asyncCall(call), this);
    connect(watcher, &QDBusPendingCallWatcher::finished, this, [this, key](QDBusPendingCallWatcher* finished) {
        finished->deleteLater();
        const QDBusPendingReply<uint> reply = *finished;
        answered(key, reply.isValid() ? std::optional<uint>(reply.value()) : std::nullopt);
    });
}

void Notifier::askCapabilities()
{
    const quint64 round = ++capabilitiesRound;
    bodyMarkup.reset();
    QDBusMessage call = QDBusMessage::createMethodCall(service, objectPath, interface, QStringLiteral("GetCapabilities"));
    whenAnswered(bus.asyncCall(call, identityTimeoutMs), this, [this, round](std::optional<QList<QVariant>> answer) {
        // A newer server was asked since: its answer counts, not this one.
        if (round != capabilitiesRound)
            return;
        bodyMarkup = answer && !answer->isEmpty() && answer->front().metaType() == QMetaType::fromType<QStringList>()
                     && answer->front().toStringList().contains(QStringLiteral("body-markup"));
        // In the order they were posted.
        for (const auto& [key, tabTitle] : std::exchange(awaitingCapabilities, {})) {
            const auto entry = entries.constFind(key);
            if (entry == entries.cend())
                continue;
            // Cleared meanwhile: nothing is shown.
            if (entry->closeQueued)
                answered(key, std::nullopt);
            else
                send(key, tabTitle);
        }
    });
}

void Notifier::answered(const QString& key, std::optional<uint> id)
{
    auto found = entries.find(key);
    if (found == entries.end())
        return;
    Entry& entry = *found;
    entry.waiting = false;
    if (id && *id != 0) {
        if (entry.id != 0 && entry.id != *id)
            keys.remove(entry.id);
        entry.id = *id;
        keys.insert(*id, key);
        saveState();
    }
    if (entry.closeQueued) {
        entry.closeQueued = false;
        clear(key);
    } else if (entry.queuedTitle) {
        const QString queued = *entry.queuedTitle;
        entry.queuedTitle.reset();
        send(key, queued);
    }
}

void Notifier::clear(const QString& key)
{
    auto found = entries.find(key);
    if (found == entries.end())
        return;
    if (found->waiting) {
        found->queuedTitle.reset();
        found->closeQueued = true;
        return;
    }
    const uint id = found->id;
    entries.erase(found);
    if (id == 0)
        return;
    keys.remove(id);
    saveState();
    QDBusMessage call = QDBusMessage::createMethodCall(service, objectPath, interface, QStringLiteral("CloseNotification"));
    call << id;
    bus.asyncCall(call);
}

void Notifier::actionInvoked(uint id, const QString& action)
{
    if (action != QStringLiteral("default"))
        return;
    // An earlier run's notification, its server not yet confirmed: answered once it is.
    if (unconfirmed.contains(id)) {
        if (heldClicks.size() < maximumHeldClicks)
            heldClicks.append(id);
        return;
    }
    // The server tells every client of every click: only our own notifications count.
    if (!keys.contains(id))
        return;
    dispatchTap(keys.value(id));
}

void Notifier::dispatchTap(const QString& key)
{
    // Later, never inside the bus's delivery, and with the handler current at that time.
    QTimer::singleShot(0, this, [this, key] {
        if (onTap)
            onTap(key);
    });
}

void Notifier::notificationClosed(uint id, uint)
{
    if (const auto stored = unconfirmed.constFind(id); stored != unconfirmed.cend()) {
        // Dismissed before its server was confirmed: nothing of it is left to reuse.
        const QString key = *stored;
        unconfirmed.erase(stored);
        answered(key, std::nullopt);
        if (const auto entry = entries.constFind(key); entry != entries.cend() && entry->id == 0 && !entry->waiting)
            entries.erase(entry);
        return;
    }
    const auto found = keys.constFind(id);
    if (found == keys.cend())
        return;
    const QString key = *found;
    keys.erase(found);
    const auto entry = entries.find(key);
    // A replacement on its way still needs the entry.
    if (entry != entries.end() && entry->id == id && !entry->waiting)
        entries.erase(entry);
    saveState();
}

void Notifier::serverChanged()
{
    // The numbers were the old server's; a new one hands them out again, maybe to another
    // program's notifications, so none is used again. Posts still unanswered keep waiting.
    for (auto entry = entries.begin(); entry != entries.end();) {
        if (entry->waiting) {
            ++entry;
            continue;
        }
        keys.remove(entry->id);
        entry = entries.erase(entry);
    }
    server.reset();
    // The new server may read bodies otherwise.
    askCapabilities();
    if (state)
        learnServer();
}

void Notifier::loadState()
{
    const QJsonObject stored = state->value(serverKey).toObject();
    const auto text = [&stored](const char* name) { return stored.value(QLatin1StringView(name)).toString(); };
    const ServerIdentity identity{text("bus"), text("owner"), text("name"), text("vendor"), text("version")};
    // Numbers without the server that gave them can never be confirmed.
    if (identity.busId.isEmpty() || identity.owner.isEmpty())
        return;
    storedServer = identity;
    const QJsonObject numbers = state->value(notificationsKey).toObject();
    for (auto it = numbers.begin(); it != numbers.end() && unconfirmed.size() < maximumStoredNotifications; ++it) {
        const double number = it.value().toDouble(0);
        if (!it.value().isDouble() || number < 1 || number > double(std::numeric_limits<uint>::max())
            || number != std::floor(number) || it.key().isEmpty() || it.key().size() > maximumTextLength)
            continue;
        const uint id = uint(number);
        if (unconfirmed.contains(id))
            continue;
        unconfirmed.insert(id, it.key());
        // Posts and clears of that tab wait for the answer as they wait for a server's number.
        entries[it.key()].waiting = true;
    }
}

void Notifier::learnServer()
{
    struct Answers {
        std::optional<QString> busId;
        std::optional<QString> owner;
        std::optional<QList<QVariant>> information;
    };
    const quint64 round = ++learningRound;
    learning = 3;
    auto answers = std::make_shared<Answers>();
    const auto finish = [this, round, answers] {
        if (round != learningRound || --learning > 0)
            return;
        const std::optional<QString> name = textAnswer(answers->information, 0);
        const std::optional<QString> vendor = textAnswer(answers->information, 1);
        const std::optional<QString> version = textAnswer(answers->information, 2);
        if (!answers->busId || !answers->owner || !name || !vendor || !version)
            serverLearned(std::nullopt);
        else
            serverLearned(ServerIdentity{*answers->busId, *answers->owner, *name, *vendor, *version});
    };
    QDBusMessage busId = QDBusMessage::createMethodCall(busService, busPath, busService, QStringLiteral("GetId"));
    whenAnswered(bus.asyncCall(busId, identityTimeoutMs), this, [answers, finish](std::optional<QList<QVariant>> answer) {
        answers->busId = textAnswer(answer, 0);
        finish();
    });
    QDBusMessage owner = QDBusMessage::createMethodCall(busService, busPath, busService, QStringLiteral("GetNameOwner"));
    owner << service;
    whenAnswered(bus.asyncCall(owner, identityTimeoutMs), this, [answers, finish](std::optional<QList<QVariant>> answer) {
        answers->owner = textAnswer(answer, 0);
        finish();
    });
    QDBusMessage information =
        QDBusMessage::createMethodCall(service, objectPath, interface, QStringLiteral("GetServerInformation"));
    whenAnswered(bus.asyncCall(information, identityTimeoutMs), this,
                 [answers, finish](std::optional<QList<QVariant>> answer) {
                     answers->information = std::move(answer);
                     finish();
                 });
}

void Notifier::serverLearned(std::optional<ServerIdentity> identity)
{
    learning = 0;
    const auto tooLong = [](const ServerIdentity& candidate) {
        for (const QString* field : {&candidate.busId, &candidate.owner, &candidate.name, &candidate.vendor, &candidate.version}) {
            if (field->size() > maximumTextLength)
                return true;
        }
        return false;
    };
    if (identity && (identity->busId.isEmpty() || identity->owner.isEmpty() || tooLong(*identity)))
        identity.reset();
    server = identity;
    const bool sameServer = identity && storedServer && *identity == *storedServer;
    storedServer.reset();
    const QHash<uint, QString> stored = std::exchange(unconfirmed, {});
    for (auto it = stored.cbegin(); it != stored.cend(); ++it) {
        answered(it.value(), sameServer ? std::optional<uint>(it.key()) : std::nullopt);
        if (const auto entry = entries.constFind(it.value()); entry != entries.cend() && entry->id == 0 && !entry->waiting)
            entries.erase(entry);
    }
    for (const uint id : std::exchange(heldClicks, {})) {
        if (keys.contains(id))
            dispatchTap(keys.value(id));
    }
    saveState();
}

void Notifier::saveState()
{
    // While the server is being identified the stored numbers are not in memory yet.
    if (!state || learning > 0)
        return;
    QJsonObject numbers;
    QJsonValue identity(QJsonValue::Undefined);
    if (server) {
        for (auto entry = entries.cbegin(); entry != entries.cend(); ++entry) {
            if (entry->id != 0)
                numbers.insert(entry.key(), double(entry->id));
        }
        identity = QJsonObject{{QStringLiteral("bus"), server->busId},     {QStringLiteral("owner"), server->owner},
                               {QStringLiteral("name"), server->name},     {QStringLiteral("vendor"), server->vendor},
                               {QStringLiteral("version"), server->version}};
    }
    if (state->value(serverKey) != identity)
        state->setValue(serverKey, identity);
    if (state->value(notificationsKey) != QJsonValue(numbers))
        state->setValue(notificationsKey, numbers);
}

} // namespace halvoren
