// Keeping a connection's tmux tabs in step with the tabs its host records: what to open,
// close and restart here and in which order the tabs stand, and the scripts that write a
// tab (seeding) or the tabs' positions onto the host.
#pragma once

#include "remote/ServerState.h"

#include <QDateTime>
#include <QList>
#include <QString>
#include <QStringList>

#include <optional>

namespace halvoren {

struct LocalTab {
    QString session;
    bool live = false;
    // When the user opened it here; none for a tab opened because the host listed it.
    std::optional<QDateTime> openedAt;

    bool operator==(const LocalTab&) const = default;
};

struct ReconcilePlan {
    QList<HostTab> toOpen;
    QStringList toClose;
    QStringList toRestart;
    QStringList order;

    bool operator==(const ReconcilePlan&) const = default;
};

// How long a tab opened here stays even though the host does not list it yet.
inline constexpr qint64 youngTabMilliseconds = 10000;

ReconcilePlan reconcileTabs(const QList<LocalTab>& local, const QList<HostTab>& host, const QDateTime& now);

// Creates the session when missing and tags it as an open tab at `order`.
QString tmuxSessionScript(const QString& session, const QString& name, const QString& path, qint64 order);

// The seeding's own line for a tab: like tmuxSessionScript, but a session is made only in its
// own folder, and the script says what it did, one line each, with the seeding's token (letters
// and digits): "<seededMarker><token>-made-<order>" for a session it made,
// "<seededMarker><token>-present-<order>" for one that exists already (tagged wherever its
// folder went), "<seededMarker><token>-failed-<order>" for one tmux could not make (out of
// processes, say), and "<seededMarker><token>-<status>-<order>" for a folder it refused, missing
// or not a folder (folderMissingStatus) or closed to the account (folderInaccessibleStatus). A
// tab of which the script says nothing was not written: the run broke off. The lines of a
// seeding's tabs stand between tmuxSeedOpening and tmuxSeedClosing.
inline constexpr char seededMarker[] = "hv-seeded-";
QString tmuxSeedScript(const QString& session, const QString& name, const QString& path, qint64 order,
                       const QString& token);

// The lines around a seeding's tab lines. The closing one marks the host synchronised when a
// session of the tabs stands, or when tmux failed to make none (no tab carried, or every folder
// refused: that seeding is not tried again at every listing). A tmux server that runs but
// cannot make sessions is left unmarked: its empty listing would be followed, and would drop
// the tabs saved here.
QString tmuxSeedOpening();
QString tmuxSeedClosing();

// What a seeding reported, by order: the sessions it made, those it found, those tmux could not
// make, and the folders it refused, with their status. Only whole lines of the given token count.
struct SeedReport {
    QList<qint64> made;
    QList<qint64> present;
    QList<qint64> failed;
    QList<std::pair<qint64, int>> refused;

    bool operator==(const SeedReport&) const = default;
};
SeedReport parseSeedReport(const QString& output, const QString& token);

// Numbers the sessions 1, 2, … in list order.
QString tmuxReorderScript(const QStringList& sessions);

} // namespace halvoren
