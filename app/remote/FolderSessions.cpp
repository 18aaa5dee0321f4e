#include "remote/FolderSessions.h"

#include "remote/HostText.h"
#include "remote/SessionNaming.h"
#include "remote/ShellQuote.h"

#include <QTimeZone>

#include <cmath>

namespace halvoren {
namespace {

QDateTime timeFromSeconds(const QString& field)
{
    const double seconds = parseDecimal(trimBlanks(field)).value_or(0.0);
    // Beyond what a date can hold the field is as unreadable as text.
    const double ms = std::round(seconds * 1000.0);
    const bool inRange = std::fabs(ms) < 8.0e15;
    return QDateTime::fromMSecsSinceEpoch(inRange ? static_cast<qint64>(ms) : 0, QTimeZone::utc());
}

} // namespace

QString sessionListScript()
{
    // Names are read whole, one per line, and every value is printed as data: no word
    // splitting, globbing or echo escapes on names or folder paths.
    return QStringLiteral(
        "tmux list-sessions -F '#{session_name}' 2>/dev/null | grep '^kq-' | while IFS= read -r s; do "
        "printf '%s|%s\\n' \"$s\" \"$(tmux display-message -p -t \"=$s:\" "
        "'#{pane_current_path}|#{session_created}|#{session_attached}|#{session_activity}|#{pane_current_command}')\"; "
        "done; true");
}

std::optional<FolderSession> parseSessionLine(const QString& rawLine)
{
    const QString line = trimBlanks(rawLine);
    if (!line.startsWith(QLatin1String(sessionNamePrefix)))
        return std::nullopt;
    const qsizetype bar = line.indexOf(u'|');
    if (bar < 0)
        return std::nullopt;
    QStringList fields = line.mid(bar + 1).split(u'|');
    if (fields.size() < 5)
        return std::nullopt;

    FolderSession session;
    session.name = line.left(bar);
    session.command = trimBlanks(fields.takeLast());
    session.lastActivity = timeFromSeconds(fields.takeLast());
    session.attached = parseStrictInteger(trimBlanks(fields.takeLast())).value_or(0);
    session.createdAt = timeFromSeconds(fields.takeLast());
    session.path = fields.join(u'|');
    if (session.path.isEmpty())
        return std::nullopt;
    return session;
}

QList<FolderSession> parseSessionList(const QString& output)
{
    QList<FolderSession> sessions;
    for (const QString& line : splitLines(output)) {
        if (auto session = parseSessionLine(line))
            sessions << std::move(*session);
    }
    return sessions;
}

QString gitProbeScript(const QStringList& paths)
{
    QStringList blocks;
    for (const QString& path : paths) {
        blocks << QStringLiteral("p=") + shellQuote(path) + QStringLiteral(
                      "\n"
                      "b=$(git -C \"$p\" rev-parse --abbrev-ref HEAD 2>/dev/null)\n"
                      "if [ -n \"$b\" ]; then\n"
                      "  if git -C \"$p\" status --porcelain 2>/dev/null | grep -q .; then d=1; else d=; fi\n"
                      "  printf '%s|@|%s|@|%s\\n' \"$p\" \"$b\" \"$d\"\n"
                      "fi");
    }
    return blocks.join(u'\n') + QStringLiteral("\ntrue\n");
}

QMap<QString, GitInfo> parseGitProbe(const QString& output)
{
    QMap<QString, GitInfo> probe;
    for (const QString& line : splitLines(output)) {
        const QStringList parts = trimBlanks(line).split(QStringLiteral("|@|"));
        if (parts.size() != 3 || parts.at(0).isEmpty() || parts.at(1).isEmpty())
            continue;
        probe.insert(parts.at(0), GitInfo{parts.at(1), parts.at(2) == QLatin1String("1")});
    }
    return probe;
}

} // namespace halvoren
