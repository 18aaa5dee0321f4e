// The desktop notification that a tab's command (the coding agent) has finished or waits for
// an answer, on the desktop's notification server (org.freedesktop.Notifications on the
// session bus). One notification per tab at most: a second one for the same tab replaces
// the first, and looking at or closing the tab takes it away. A click on it is reported with
// the tab's key so that the application can bring that tab to the front.
//
// Without a session bus or a notification server nothing is shown and nothing fails. The
// server numbers notifications itself; the notifier keeps which number belongs to which tab.
// Everything runs on the main thread.
#pragma once

#include <QDBusConnection>
#include <QHash>
#include <QObject>
#include <QString>

#include <functional>
#include <optional>

namespace halvoren {

class Notifier : public QObject {
    Q_OBJECT

public:
    static inline const QString title = QStringLiteral("Agent terminé");
    static inline const QString bodySuffix = QStringLiteral(" — l'agent a fini ou attend votre réponse.");

    // On the given bus (the session bus for the application's one).
    explicit Notifier(QDBusConnection bus);
    static Notifier& shared();

    // Called on the main thread with the tab key of a clicked notification.
    std::function<void(const QString&)> onTap;

    // Shows "Agent terminé" with `tabTitle` and the fixed sentence, replacing the tab's
    // earlier notification.
    void post(const QString& key, const QString& tabTitle);
    // Takes the tab's notification away, shown or still on its way.
    void clear(const QString& key);

private:
    struct Entry {
        // The server's number; 0 until it answers.
        uint id = 0;
        // A Notify call is on its way: later posts and clears wait for its answer.
        bool waiting = false;
        std::optional<QString> queuedTitle;
        bool closeQueued = false;
    };

    void send(const QString& key, const QString& tabTitle);
    void answered(const QString& key, std::optional<uint> id);

private Q_SLOTS:
    void actionInvoked(uint id, const QString& action);
    void notificationClosed(uint id, uint reason);

private:
    QDBusConnection bus;
    QHash<QString, Entry> entries;
    QHash<uint, QString> keys;
};

} // namespace halvoren
