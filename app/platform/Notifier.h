// The desktop notification that a tab's command (the coding agent) has finished or waits for
// an answer, on the desktop's notification server (org.freedesktop.Notifications on the
// session bus). One notification per tab at most: a second one for the same tab replaces
// the first, and looking at or closing the tab takes it away. A click on it is reported with
// the tab's key so that the application can bring that tab to the front.
//
// Without a session bus or a notification server nothing is shown and nothing fails. The
// server numbers notifications itself; the notifier keeps which number belongs to which tab,
// and keeps it across runs in a small state file together with who the server is (the bus,
// the server's unique name on it, its name, vendor and version): a later run takes the
// numbers back only from that same server, so an earlier run's notification is still
// replaced, withdrawn and clicked through by its tab. Numbers of any other server (one
// restarted, another login) are dropped unused: they could name another program's
// notification. The body is sent as markup, its text escaped, only to a server that says it
// reads markup in bodies; the notifier asks each new server and holds its posts until it
// answers. Everything runs on the main thread.
#pragma once

#include <QDBusConnection>
#include <QHash>
#include <QObject>
#include <QString>

#include <functional>
#include <optional>

namespace halvoren {

class PreferenceStore;

class Notifier : public QObject {
    Q_OBJECT

public:
    static inline const QString title = QStringLiteral("Agent terminé");
    static inline const QString bodySuffix = QStringLiteral(" — l'agent a fini ou attend votre réponse.");

    // The most tab numbers a state file is read for.
    static constexpr qsizetype maximumStoredNotifications = 1024;

    // On the given bus (the session bus for the application's one). `state`: the store that
    // keeps the numbers across runs, which must outlive the notifier; none keeps them for this
    // run only.
    explicit Notifier(QDBusConnection bus, PreferenceStore* state = nullptr);
    // On the session bus, its state in "notifications.json" beside the preferences.
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

    // Who numbers the notifications: equal only for the same server process on the same bus.
    struct ServerIdentity {
        QString busId;
        QString owner;
        QString name;
        QString vendor;
        QString version;
        friend bool operator==(const ServerIdentity&, const ServerIdentity&) = default;
    };

    void send(const QString& key, const QString& tabTitle);
    // Asks the current server whether it reads markup in bodies; waiting posts go out with
    // the answer (none, or a failed call, counts as no markup).
    void askCapabilities();
    void answered(const QString& key, std::optional<uint> id);
    void dispatchTap(const QString& key);
    // Reads the numbers of an earlier run; they wait, as an unanswered post does, until the
    // server's identity is known.
    void loadState();
    // Asks the bus and the server who answers now; `serverLearned` follows.
    void learnServer();
    void serverLearned(std::optional<ServerIdentity> identity);
    void saveState();

private Q_SLOTS:
    void actionInvoked(uint id, const QString& action);
    void notificationClosed(uint id, uint reason);
    void serverChanged();

private:
    QDBusConnection bus;
    QHash<QString, Entry> entries;
    QHash<uint, QString> keys;

    PreferenceStore* state;
    // The server that numbered the stored notifications, and their numbers, until the current
    // server is known.
    std::optional<ServerIdentity> storedServer;
    QHash<uint, QString> unconfirmed;
    // Clicks on unconfirmed numbers, answered once the server is known.
    QList<uint> heldClicks;
    std::optional<ServerIdentity> server;
    // Whether the current server reads body markup; unknown until it answers.
    std::optional<bool> bodyMarkup;
    quint64 capabilitiesRound = 0;
    // Tabs whose post waits for that answer, with the title to send; a later post of the
    // same tab follows it as it follows a post the server has not numbered yet.
    QList<std::pair<QString, QString>> awaitingCapabilities;
    // Answers of the identity questions still to come; a new round makes older answers void.
    int learning = 0;
    quint64 learningRound = 0;
};

} // namespace halvoren
