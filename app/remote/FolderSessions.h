// Two host protocols read by the project model: the listing of our tmux sessions with the
// folder of their active pane, and the git probe of project folders. Running the scripts
// belongs to the callers (25 s and 40 s); the parsers skip whatever they cannot read.
#pragma once

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

// Prints "name|path|created|attached|activity|command" for every session named "kq-…".
QString sessionListScript();
QList<FolderSession> parseSessionList(const QString& output);
std::optional<FolderSession> parseSessionLine(const QString& line);

// Prints "folder|@|branch|@|1" (dirty) or "folder|@|branch|@|" (clean) for each folder
// inside a git work tree, nothing for the others.
QString gitProbeScript(const QStringList& paths);
QMap<QString, GitInfo> parseGitProbe(const QString& output);

} // namespace halvoren
