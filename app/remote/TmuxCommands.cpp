#include "remote/TmuxCommands.h"

#include "remote/ShellQuote.h"

#include <QRegularExpression>

namespace halvoren {

QString tmuxLiteral(const QString& text)
{
    if (!text.endsWith(u';'))
        return text;
    return text.left(text.size() - 1) + QLatin1String("\\;");
}

QString tmuxFormatLiteral(const QString& text)
{
    QString doubled = text;
    doubled.replace(QLatin1Char('#'), QLatin1String("##"));
    return tmuxLiteral(doubled);
}

QString tmuxSessionTarget(const QString& session)
{
    return shellQuote(tmuxLiteral(QLatin1Char('=') + session));
}

QString tmuxOptionTarget(const QString& session)
{
    return shellQuote(QLatin1Char('=') + session + QLatin1Char(':'));
}

QString tmuxNewSessionCommand(const QString& session, const QString& path)
{
    return QStringLiteral("tmux new-session -d -s ") + shellQuote(tmuxFormatLiteral(session)) + QStringLiteral(" -c ") +
           shellQuote(tmuxFormatLiteral(path));
}

QString tmuxValue(const QString& value)
{
    return shellQuote(tmuxLiteral(value));
}

QString cleanOptionValue(const QString& text)
{
    QString cleaned = text;
    for (QChar& c : cleaned) {
        if (c == u'\t' || c == u'\r' || c == u'\n')
            c = u' ';
    }
    return cleaned;
}

QString tmuxAttachCommand(const QString& session, const QString& path,
                          const std::optional<QString>& setup)
{
    // The view draws RGB colour, but the client's TERM does not say so and tmux would reduce
    // every colour to the 256 of the palette. "-T RGB" tells tmux for this client only; a tmux
    // without "-T" (before 3.2) fails the probe and attaches as before.
    // "-u": the view always reads UTF-8, but a host whose shells get no UTF-8 locale (ssh
    // passes none to many servers) would make the client draw every other character as "_".
    const QString rgbAttach = QStringLiteral("tmux -T RGB -V >/dev/null 2>&1 && exec tmux -u -T RGB attach -t ");
    const QString target = tmuxOptionTarget(session);
    QStringList pieces;
    if (setup) {
        pieces << tmuxNewSessionCommand(session, path) + QStringLiteral(" 2>/dev/null");
        if (!setup->isEmpty())
            pieces << *setup;
    }
    pieces << QStringLiteral("tmux set -g mouse on")
           << QStringLiteral("tmux set -u -t ") + target + QStringLiteral(" mouse 2>/dev/null")
           << QStringLiteral("tmux set -g set-clipboard on")
           << QStringLiteral("tmux set -g window-size latest 2>/dev/null")
           << rgbAttach + tmuxSessionTarget(session)
           << QStringLiteral("exec tmux -u attach -t ") + tmuxSessionTarget(session);
    return pieces.join(QStringLiteral("; "));
}

namespace {

// Runs `entering`; when it fails, says why (with the token) and ends the shell.
QString enterOrRefuse(const QString& entering, const QString& quoted, const QString& token)
{
    // "[ -d ]" still sees a folder the account may not enter; anything else (gone, a file, a
    // parent that cannot be searched) reads as missing.
    return entering + QStringLiteral(" 2>/dev/null || { [ -d ") + quoted + QStringLiteral(" ] && s=") +
           QString::number(folderInaccessibleStatus) + QStringLiteral(" || s=") + QString::number(folderMissingStatus) +
           QStringLiteral("; echo ") + QLatin1String(folderRefusedMarker) + token + QStringLiteral("-\"$s\"; exit \"$s\"; }");
}

} // namespace

QString enterFolderCommand(const QString& path, const QString& token)
{
    const QString quoted = shellQuote(path);
    return enterOrRefuse(QStringLiteral("cd -- ") + quoted, quoted, token);
}

QString sessionFolderCheck(const QString& session, const QString& path, const QString& token)
{
    // Tried in a subshell: the shell itself stays at home, where it finds tmux, so that no
    // program the project holds runs in its place through a relative entry of PATH. tmux's
    // own "-c" puts the session in the folder.
    const QString quoted = shellQuote(path);
    return QStringLiteral("tmux has-session -t ") + tmuxSessionTarget(session) + QStringLiteral(" 2>/dev/null || ") +
           enterOrRefuse(QStringLiteral("(cd -- ") + quoted + u')', quoted, token);
}

QString sessionTagCommand(const QString& session, const QString& name, const QString& path,
                          const QStringList& sessions)
{
    const QString target = tmuxOptionTarget(session);
    QStringList pieces;
    pieces << QStringLiteral("tmux set -t ") + target + QStringLiteral(" @hv_open 1 2>/dev/null")
           << QStringLiteral("tmux set -t ") + target + QStringLiteral(" @hv_name ") +
                  tmuxValue(cleanOptionValue(name)) + QStringLiteral(" 2>/dev/null")
           << QStringLiteral("tmux set -t ") + target + QStringLiteral(" @hv_path ") +
                  tmuxValue(cleanOptionValue(path)) + QStringLiteral(" 2>/dev/null");
    for (qsizetype k = 0; k < sessions.size(); ++k) {
        pieces << QStringLiteral("tmux set -t ") + tmuxOptionTarget(sessions.at(k)) + QStringLiteral(" @hv_order ") +
                      QString::number(k + 1) + QStringLiteral(" 2>/dev/null");
    }
    return pieces.join(QStringLiteral("; "));
}

QString sessionUntagScript(const QString& session)
{
    return QStringLiteral("tmux set -u -t ") + tmuxOptionTarget(session) + QStringLiteral(" @hv_open 2>/dev/null\n");
}

QString sessionRetagScript(const QString& session)
{
    return QStringLiteral("tmux set -t ") + tmuxOptionTarget(session) + QStringLiteral(" @hv_open 1 2>/dev/null\n");
}

QString sessionKillScript(const QString& session)
{
    return QStringLiteral("tmux kill-session -t ") + tmuxSessionTarget(session) + QStringLiteral(" 2>/dev/null\n");
}

QString tmuxProbeScript()
{
    return QStringLiteral("command -v tmux || true\n");
}

namespace {

// An operating-system command up to BEL or ST, a control sequence, or a two-character escape.
const QRegularExpression& ansiEscapeRegex()
{
    static const QRegularExpression regex(
        QStringLiteral("\\x1B\\][^\\x07\\x1B]*(?:\\x07|\\x1B\\\\)|\\x1B\\[[0-?]*[ -/]*[@-~]|\\x1B[@-Z\\x5C-_]"));
    return regex;
}

const QRegularExpression& promptRegex()
{
    static const QRegularExpression regex(QStringLiteral("(?:[$%#] +|[\u276F\u279C\u00BB\u03BB] *)$"));
    return regex;
}

bool isBlankOrTab(QChar c)
{
    return c == u' ' || c == u'\t';
}

} // namespace

bool promptAtEnd(const QString& chunk)
{
    QString text = chunk;
    text.remove(ansiEscapeRegex());
    if (const qsizetype lf = text.lastIndexOf(u'\n'); lf >= 0)
        text = text.mid(lf + 1);
    if (const qsizetype cr = text.lastIndexOf(u'\r'); cr >= 0)
        text = text.mid(cr + 1);

    qsizetype first = 0;
    while (first < text.size() && isBlankOrTab(text.at(first)))
        ++first;
    if (first == text.size())
        return false;

    qsizetype afterSpaces = 0;
    while (afterSpaces < text.size() && text.at(afterSpaces) == u' ')
        ++afterSpaces;
    if (afterSpaces < text.size() && text.at(afterSpaces) == QChar(0x279C))
        return true;
    return promptRegex().match(text).hasMatch();
}

} // namespace halvoren
