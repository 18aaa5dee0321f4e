// The command lines a tab runs to create, tag and attach its tmux session, and the test the
// activity detector uses for output that ends at a shell prompt.
//
// Every tmux command names its session exactly: "-t '=name'" for session commands and
// "-t '=name:'" for option and message commands. A plain name would also match another
// session by prefix ("kq-web-<hash>" is a prefix of its sibling "kq-web-<hash>-2") or as a
// pattern, and act on that one when the named session is gone.
#pragma once

#include <QString>
#include <QStringList>

#include <optional>

namespace halvoren {

// tmux takes an argument's final ";" for the end of a command, and expands "#" formats in
// the arguments of new-session. These keep a name or path as plain text: the final ";"
// written "\;", and for the formatted arguments every "#" written "##".
QString tmuxLiteral(const QString& text);
QString tmuxFormatLiteral(const QString& text);

// "tmux new-session -d -s <session> -c <path>", both kept as plain text and quoted.
QString tmuxNewSessionCommand(const QString& session, const QString& path);
// An option value kept as plain text, quoted.
QString tmuxValue(const QString& value);

// "-t" operand of a command acting on a whole session (attach, kill), quoted.
QString tmuxSessionTarget(const QString& session);
// "-t" operand of a command acting on a session's options or current pane (set, set -u,
// display-message), quoted.
QString tmuxOptionTarget(const QString& session);

// Tab, carriage return and line feed made blanks, so a value stays on one listing row.
QString cleanOptionValue(const QString& text);

// Creates the session in `path` when a setup is given (then runs the setup), sets the
// tmux options a tab relies on and replaces the shell with the attach.
QString tmuxAttachCommand(const QString& session, const QString& path,
                          const std::optional<QString>& setup);

// A tab's start ends this way when the folder it would open cannot be entered: before any
// session or shell is made, the command prints the marker, the start's token, "-" and the
// status, and exits with that status. The tab trusts only all of them together: the token is
// unknown to what runs in the tab, and a status alone could be any program's.
inline constexpr int folderMissingStatus = 66;
inline constexpr int folderInaccessibleStatus = 77;
inline constexpr char folderRefusedMarker[] = "hv-folder-refused-";

// Enters the folder, or ends the shell as above: missing or not a folder, or not allowed in.
// The token is letters and digits only.
QString enterFolderCommand(const QString& path, const QString& token);
// The same check, unless the session exists already (an existing session is attached wherever
// its folder went), made without leaving the shell's own folder: the tmux commands after it
// run from where the shell started. The check and the creation run in one command line on the
// host, since the folder may go between the listing and the click, and tmux would make the
// session in some other folder rather than fail.
QString sessionFolderCheck(const QString& session, const QString& path, const QString& token);

// Tags a session as an open tab with its name and path, then numbers `sessions` 1, 2, …
QString sessionTagCommand(const QString& session, const QString& name, const QString& path,
                          const QStringList& sessions);

// Script that removes a session's open-tab tag (the session keeps running).
QString sessionUntagScript(const QString& session);
// Script that puts the open-tab tag back on a session (its other tags stay as they are).
QString sessionRetagScript(const QString& session);
// Script that ends a session.
QString sessionKillScript(const QString& session);

// The script that asks a host for tmux: the path of the tmux its PATH finds, or nothing
// printed when it has none, which is an answer rather than a failure.
QString tmuxProbeScript();

// True when a chunk of terminal output ends at what looks like a shell prompt.
bool promptAtEnd(const QString& chunk);

} // namespace halvoren
