// The one gateway to the preference store: every key the application uses, its stored type
// and its default. A missing value, or one of the wrong type, reads as the default; writers
// store at once.
#pragma once

#include "platform/PreferenceStore.h"

#include <QHash>
#include <QJsonArray>
#include <QList>
#include <QMap>
#include <QSet>
#include <QString>
#include <QStringList>

#include <optional>

namespace halvoren {

// A quick command: a name and the text typed into the active tab.
struct SavedCommand {
    QString label;
    QString command;

    // The label, U+0001, the command.
    QString id() const { return label + QChar(0x0001) + command; }
    friend bool operator==(const SavedCommand&, const SavedCommand&) = default;
};

// One open tab of a connection, as kept across launches.
struct PersistedTab {
    QString name;
    QString path;
    QString tmux;

    friend bool operator==(const PersistedTab&, const PersistedTab&) = default;
};

// One compact JSON object per record; decoding needs every key, each a JSON string.
QString encodeSavedCommand(const SavedCommand& command);
std::optional<SavedCommand> decodeSavedCommand(const QString& text);
QString encodePersistedTab(const PersistedTab& tab);
std::optional<PersistedTab> decodePersistedTab(const QString& text);

// Favourite and hide changes of one connection that its host's shared-state file is not
// known to hold: each name, and whether it is wanted in the set.
struct PendingSharedNames {
    QHash<QString, bool> favorites;
    QHash<QString, bool> hidden;

    friend bool operator==(const PendingSharedNames&, const PendingSharedNames&) = default;
};

// A host's tab row as this computer last saw it listed.
struct KeptHostRow {
    QString session;
    qint64 order = 0;
    QString name;
    QString path;
    std::optional<QString> parent;
    std::optional<qint64> created;

    friend bool operator==(const KeptHostRow&, const KeptHostRow&) = default;
};

// Tab changes made here that one connection's host is not known to have: each waits for a
// listing of the host, which shows it made, sends it again or lets the host's state stand.
struct UnsentTabChanges {
    struct Close {
        QString session;
        // The row the host listed when the tab was closed; none when no listing had shown it.
        std::optional<KeptHostRow> row;

        friend bool operator==(const Close&, const Close&) = default;
    };
    struct Order {
        // The sessions in the order wanted, and the host's order they were made over.
        QStringList sessions;
        QStringList over;

        friend bool operator==(const Order&, const Order&) = default;
    };
    struct Kill {
        QString session;
        // The tab's name, to say which session still runs.
        QString name;
        // When tmux made the session, as last listed: one made again since is not it.
        std::optional<qint64> created;

        friend bool operator==(const Kill&, const Kill&) = default;
    };
    // Oldest first.
    QList<Close> closes;
    std::optional<Order> order;
    QList<Kill> kills;

    bool isEmpty() const { return closes.isEmpty() && !order && kills.isEmpty(); }
    friend bool operator==(const UnsentTabChanges&, const UnsentTabChanges&) = default;
};

class Prefs {
public:
    // Keys, exactly as stored.
    static inline const QString projectsRootsKey = QStringLiteral("flutter.projectsRoots");
    static inline const QString projectsRootKey = QStringLiteral("flutter.projectsRoot");
    static inline const QString fontSizeKey = QStringLiteral("flutter.fontSize");
    static inline const QString commandsKey = QStringLiteral("flutter.commands");
    static inline const QString tabLabelsKey = QStringLiteral("flutter.tabLabels");
    static inline const QString composeBarVisibleKey = QStringLiteral("flutter.composeBarVisible");
    static inline const QString rightSidebarOpenKey = QStringLiteral("flutter.rightSidebarOpen");
    static inline const QString sidebarOpenKey = QStringLiteral("flutter.sidebarOpen");
    static inline const QString onboardingDoneKey = QStringLiteral("flutter.onboardingDone");
    static inline const QString activeTabKey = QStringLiteral("flutter.activeTab__active");
    static inline const QString connectedProfilesKey = QStringLiteral("hv.connectedProfiles");

    // "flutter." + list ("favorites_", "hidden_" or "tabs_") + connection id.
    static QString favoritesKey(const QString& connectionID);
    static QString hiddenKey(const QString& connectionID);
    static QString tabsKey(const QString& connectionID);
    // "hv.pendingShared_" + connection id: this computer's own record, which no other client
    // reads.
    static QString pendingSharedKey(const QString& connectionID);
    // "hv.unsentTabs_" + connection id: this computer's own record too.
    static QString unsentTabsKey(const QString& connectionID);
    // What one record of unsent tab changes holds at most: closes and ends of sessions, the
    // sessions of an order, and the characters of any one text. Past them an entry, or the
    // order, reads as none; of the closes and of the ends the newest stay, written or read.
    static constexpr qsizetype maximumUnsentEntries = 256;
    static constexpr qsizetype maximumUnsentOrderSessions = 1024;
    static constexpr qsizetype maximumUnsentTextChars = 64 * 1024;

    // The commands offered while none were ever saved.
    static QList<SavedCommand> builtInCommands();

    explicit Prefs(PreferenceStore& store);
    // Over PreferenceStore::standard(), made on first use.
    static Prefs& shared();

    PreferenceStore& store() { return d; }

    // Root folders of this computer's projects: the stored list, else the old single root,
    // else the home folder + "/projets".
    QStringList projectsRoots() const;
    void setProjectsRoots(const QStringList& roots);

    // The stored size within 9 to 28; 13 when absent, not a number or not finite.
    double fontSize() const;
    void setFontSize(double size);

    // The stored commands that decode, in order; the built-ins only when the value is no list.
    QList<SavedCommand> commands() const;
    void setCommands(const QList<SavedCommand>& commands);

    QMap<QString, QString> tabLabels() const;
    void setTabLabels(const QMap<QString, QString>& labels);

    bool composeBarVisible() const;
    void setComposeBarVisible(bool visible);
    bool rightSidebarOpen() const;
    void setRightSidebarOpen(bool open);
    bool sidebarOpen() const;
    void setSidebarOpen(bool open);
    bool onboardingDone() const;
    void setOnboardingDone(bool done);

    // Position of the active tab in the tab list.
    qint64 activeTab() const;
    void setActiveTab(qint64 position);

    QSet<QString> favorites(const QString& connectionID) const;
    void setFavorites(const QString& connectionID, const QSet<QString>& names);
    QSet<QString> hidden(const QString& connectionID) const;
    void setHidden(const QString& connectionID, const QSet<QString>& names);

    // The stored form of a set of names, to be built off the main thread when it holds many
    // (a host may share a hundred thousand), and stored as it is.
    static QJsonArray storedNameSet(const QSet<QString>& names);
    // The same as setFavorites and setHidden, from distinct names in any order; cheap for
    // names sorted already (in code-point order, say) and a stored list one name apart.
    void setFavoriteNames(const QString& connectionID, const QStringList& names);
    void setHiddenNames(const QString& connectionID, const QStringList& names);
    void setStoredFavorites(const QString& connectionID, const QJsonArray& stored);
    void setStoredHidden(const QString& connectionID, const QJsonArray& stored);

    // Entries of another type than a boolean are dropped; none stored reads as none.
    PendingSharedNames pendingShared(const QString& connectionID) const;
    // Removes the key when both are empty.
    void setPendingShared(const QString& connectionID, const PendingSharedNames& pending);

    // Entries of a wrong type or out of bounds read as none; none stored reads as none.
    UnsentTabChanges unsentTabChanges(const QString& connectionID) const;
    // Removes the key when there is none; entries past the bounds are left out.
    void setUnsentTabChanges(const QString& connectionID, const UnsentTabChanges& changes);

    QList<PersistedTab> tabs(const QString& connectionID) const;
    void setTabs(const QString& connectionID, const QList<PersistedTab>& tabs);

    // Ids of the connected server profiles, in connection order.
    QStringList connectedProfiles() const;
    void setConnectedProfiles(const QStringList& ids);

private:
    bool boolOr(const QString& key, bool fallback) const;
    QSet<QString> nameSet(const QString& key) const;
    void setNameSet(const QString& key, const QSet<QString>& names);
    void setNameList(const QString& key, QStringList names);

    PreferenceStore& d;
};

} // namespace halvoren
