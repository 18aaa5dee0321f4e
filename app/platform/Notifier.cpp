#include "platform/Notifier.h"

#include <QDBusMessage>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>
#include <QTimer>
#include <QVariantMap>

namespace halvoren {

namespace {

const QString service = QStringLiteral("org.freedesktop.Notifications");
const QString objectPath = QStringLiteral("/org/freedesktop/Notifications");
const QString interface = QStringLiteral("org.freedesktop.Notifications");

} // namespace

Notifier::Notifier(QDBusConnection bus) : bus(std::move(bus))
{
    if (!this->bus.isConnected())
        return;
    this->bus.connect(service, objectPath, interface, QStringLiteral("ActionInvoked"), this,
                      SLOT(actionInvoked(uint, QString)));
    this->bus.connect(service, objectPath, interface, QStringLiteral("NotificationClosed"), this,
                      SLOT(notificationClosed(uint, uint)));
}

Notifier& Notifier::shared()
{
    static Notifier* notifier = new Notifier(QDBusConnection::sessionBus());
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
    QDBusMessage call = QDBusMessage::createMethodCall(service, objectPath, interface, QStringLiteral("Notify"));
    const QVariantMap hints{{QStringLiteral("sound-name"), QStringLiteral("message-new-instant")},
                            {QStringLiteral("urgency"), QVariant::fromValue(uchar(1))}};
    call << QStringLiteral("Halvoren") << entry.id << QString() << title << tabTitle + bodySuffix
         << QStringList{QStringLiteral("default"), QStringLiteral("Ouvrir")} << hints
         << 0; // it stays until it is dismissed, replaced or closed with its tab
    auto* watcher = new QDBusPendingCallWatcher(bus.asyncCall(call), this);
    connect(watcher, &QDBusPendingCallWatcher::finished, this, [this, key](QDBusPendingCallWatcher* finished) {
        finished->deleteLater();
        const QDBusPendingReply<uint> reply = *finished;
        answered(key, reply.isValid() ? std::optional<uint>(reply.value()) : std::nullopt);
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
    QDBusMessage call = QDBusMessage::createMethodCall(service, objectPath, interface, QStringLiteral("CloseNotification"));
    call << id;
    bus.asyncCall(call);
}

void Notifier::actionInvoked(uint id, const QString& action)
{
    // The server tells every client of every click: only our own notifications count.
    if (action != QStringLiteral("default") || !keys.contains(id))
        return;
    const QString key = keys.value(id);
    // Later, never inside the bus's delivery, and with the handler current at that time.
    QTimer::singleShot(0, this, [this, key] {
        if (onTap)
            onTap(key);
    });
}

void Notifier::notificationClosed(uint id, uint)
{
    const auto found = keys.constFind(id);
    if (found == keys.cend())
        return;
    const QString key = *found;
    keys.erase(found);
    const auto entry = entries.find(key);
    // A replacement on its way still needs the entry.
    if (entry != entries.end() && entry->id == id && !entry->waiting)
        entries.erase(entry);
}

} // namespace halvoren
