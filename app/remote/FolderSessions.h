// Two host protocols read by the project model: the listing of our tmux sessions with the
// folder of their active pane, and the git probe of project folders. Running the scripts
// belongs to the callers (25 s and 40 s); the parsers skip whatever they cannot read.
#pragma once

#include "remote/ServerState.h"

#include <QDateTime>
#include <QMap>
#include <QString>
#include <QStringList>

#include <optional>

namespace halvoren {

struct FolderSession {
    QString name;
    QString path;
    QDateTime createdAt;
    qint64 attached = 0;
    QDateTime lastActivity;
    QString command;

    bool operator==(const FolderSession&) const = default;
};

struct GitInfo {
    QString branch;
    bool dirty = false;

    bool operator==(const GitInfo&) const = default;
};

// Prints "name|path|created|attached|activity|command" for every session named "kq-…" (and an
// empty line for each other session), from one tmux client.
QString sessionListScript();
QList<FolderSession> parseSessionList(const QString& output);
std::optional<FolderSession> parseSessionLine(const QString& line);

// Sessions of one folder a listing keeps: the picker shows each as a row, and no one opens
// thousands of sessions in a folder by hand, while a host may list millions within the output
// cap. The same bound as the sessions a host listing keeps.
inline constexpr qsizetype maximumFolderSessions = maximumListedSessions;

// The sessions of `folder` (its path exactly) in the output, read in one pass and kept as
// they are read: most recent activity first, equal ones in listing order, at most `limit` of
// them, the least recently active dropped past it. Other lines cost no copy.
QList<FolderSession> parseFolderSessions(QStringView output, const QString& folder,
                                         qsizetype limit = maximumFolderSessions);

// Prints "folder|@|branch|@|1" (dirty) or "folder|@|branch|@|" (clean) for each folder
// inside a git work tree, nothing for the others.
QString gitProbeScript(const QStringList& paths);
QMap<QString, GitInfo> parseGitProbe(const QString& output);

} // namespace halvoren
