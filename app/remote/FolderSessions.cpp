#include "remote/FolderSessions.h"

#include "remote/HostText.h"
#include "remote/SessionNaming.h"
#include "remote/ShellQuote.h"

#include <QRegularExpression>
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

// Where the name of a listing line ends. A label may hold "|", so the name is taken up to the
// first "|" after the "-" and 16 hexadecimal digits that end our names (and the "-n" of a
// numbered sibling); a name of another form ends at its first "|".
qsizetype nameEnd(const QString& line)
{
    static const QRegularExpression ours(QStringLiteral("^kq-.*?-[0-9a-f]{16}(?:-[0-9]+)?(?=\\|)"),
                                         QRegularExpression::DotMatchesEverythingOption);
    const QRegularExpressionMatch match = ours.match(line);
    if (match.hasMatch())
        return match.capturedEnd();
    return line.indexOf(u'|');
}

bool tooFewFields(const QString& line)
{
    const qsizetype bar = nameEnd(line);
    return bar < 0 || line.mid(bar + 1).count(u'|') < 4;
}

} // namespace

QString sessionListScript()
{
    // Names are read whole, one per line, and every value is printed as data: no word
    // splitting, globbing or echo escapes on names or folder paths. "-u": without a UTF-8
    // locale on the host tmux prints a control character of a folder's path as "_", and the
    // session would no longer match its folder.
    return QStringLiteral(
        "tmux -u list-sessions -F '#{session_name}' 2>/dev/null | grep '^kq-' | while IFS= read -r s; do "
        "printf '%s|%s\\n' \"$s\" \"$(tmux -u display-message -p -t \"=$s:\" "
        "'#{pane_current_path}|#{session_created}|#{session_attached}|#{session_activity}|#{pane_current_command}')\"; "
        "done; true");
}

std::optional<FolderSession> parseSessionLine(const QString& rawLine)
{
    const QString line = trimBlanks(rawLine);
    if (!line.startsWith(QLatin1String(sessionNamePrefix)))
        return std::nullopt;
    const qsizetype bar = nameEnd(line);
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
    // Lines with the break that ends each ("\n", "\r\n" or "\r"), empty ones kept.
    QStringList lines;
    QStringList breaks;
    qsizetype start = 0;
    for (qsizetype k = 0; k <= output.size(); ++k) {
        if (k < output.size() && output.at(k) != u'\n' && output.at(k) != u'\r')
            continue;
        lines << output.mid(start, k - start);
        const bool crlf = k + 1 < output.size() && output.at(k) == u'\r' && output.at(k + 1) == u'\n';
        breaks << output.mid(k, crlf ? 2 : 1);
        if (crlf)
            ++k;
        start = k + 1;
    }
    for (qsizetype k = 0; k < lines.size(); ++k) {
        QString line = lines.at(k);
        if (line.isEmpty())
            continue;
        // A line break in the pane's folder splits its line: a line of ours that is short of
        // fields takes the lines after it until it has them.
        qsizetype next = k + 1;
        const auto continues = [&](qsizetype n) {
            const QString& after = lines.at(n);
            return !(after.startsWith(QLatin1String(sessionNamePrefix)) && !tooFewFields(after));
        };
        while (line.startsWith(QLatin1String(sessionNamePrefix)) && next < lines.size() && tooFewFields(line) &&
               continues(next)) {
            line += breaks.at(next - 1) + lines.at(next);
            ++next;
        }
        if (auto session = parseSessionLine(line)) {
            sessions << std::move(*session);
            k = next - 1;
        }
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
