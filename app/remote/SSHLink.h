// Everything the program does with the OpenSSH client for one server profile: the argument
// lists of the tab's interactive ssh and of one-shot commands, one shared master connection
// per profile on a control socket, commands and scripts with their output, the remote home,
// the tmux probe, uploads and the installation of this computer's public keys.
//
// Every one-shot ssh runs in batch mode through Shell::run, so it never asks for a password:
// it rides on the master connection (opened by a tab's interactive ssh, where a password may
// be typed) or on a key. A profile whose host or user ssh could read as an option is refused
// before anything is started.
//
// The server gives the master a limited number of sessions: the link keeps count of the ones
// its tabs and commands hold (see SharedSessions), tabs beyond their budget log in on their
// own, and a command the master refuses is tried again until its time-out.
//
// The link keeps no lock; its operations may run at the same time, on the main thread. The
// owner keeps the link alive while one of them runs.
#pragma once

#include "settings/MacProfile.h"
#include "remote/SharedSessions.h"
#include "remote/Shell.h"

#include <QByteArray>
#include <QString>
#include <QStringList>

#include <chrono>
#include <memory>
#include <optional>

#include <sys/types.h>

namespace halvoren {

class SSHLink {
public:
    explicit SSHLink(MacProfile profile);

    const MacProfile& profile() const { return linkProfile; }
    // The remote user's home folder; empty until fetchRemoteHome finds it.
    const QString& remoteHome() const { return home; }
    // The first-connection terminal learns the home from its own ssh, not from fetchRemoteHome.
    void setRemoteHome(QString value) { home = std::move(value); }

    // "/usr/bin/ssh". Tests point it at a wrapper that adds a private client configuration
    // (known hosts and keys of the run) before the same arguments.
    static QString program();
    static void setProgramForTests(const QString& path);

    // controlFolder() + "/" + controlSocketName(profile): one master connection per profile
    // and destination, whatever characters the id holds.
    QString controlPath() const;
    QStringList controlArgs() const;
    QStringList interactiveArgs() const;
    // interactiveArgs() for an ssh that keeps off the master connection: no socket is used
    // or made (ssh takes an option's first value, so the override comes first).
    QStringList directInteractiveArgs() const;
    QStringList batchArgs() const;

    // "user@host", or the host alone without a user name.
    QString destination() const;

    // The sessions on the master connection, shared with the tabs that hold places on it.
    const SharedSessions& sharedSessions() const { return *sessions; }
    // A place on the master for a tab's ssh, or nothing when the tab must keep off it (see
    // SharedSessions::takeTabPlace).
    std::unique_ptr<SharedSessions::TabPlace> takeTabPlace(bool masterLive) { return sessions->takeTabPlace(masterLive); }

    // Runs `command` through the account's shell, which hands it at once to scriptShell():
    // no function or alias of the account's files stands in for a command it names. What the
    // command itself printed on exit status 0, without anything the shell's files printed
    // around it; otherwise the error of markedScriptResult (scriptNotRunMessage with the
    // shell's reason when those files ended before the command, whatever their status), or,
    // with status 255 and nothing of ours printed, ssh's own standard error, trimmed, or
    // sshFailureMessage(255) when that is empty. A session the master refuses is asked for
    // again, within the time-out; still refused then, the error is
    // sharedConnectionRefusedMessage(), marked sharedConnectionRefused.
    // `input` reaches the command's standard input byte for byte, behind a guard line that is
    // taken off first (see guardedInput): a shell those files start in the command's place
    // reads the line and exits, running none of the input (scriptNotRunMessage); input a
    // login file read part of gives scriptIncompleteMessage().
    Task<ShellResult<QString>> runCommand(QString command, std::optional<QByteArray> input, double timeoutSeconds);
    // The remote command of runCommand, as sent: `command` marked with `marker`, after the
    // reader of the input's guard line when it takes input.
    static QString remoteCommand(const QString& command, const QString& marker, bool takesInput);
    // The first wait before a command the master refused is tried again, doubled at each
    // refusal up to the last: the tabs asked to move off need a moment to give their sessions
    // back, and each attempt that is refused again may be a failed login on the server.
    static constexpr std::chrono::milliseconds firstRefusalPause{1000};
    static constexpr std::chrono::milliseconds longestRefusalPause{8000};
    // Sends the script on ssh's standard input to the remote user's login shell, whose
    // script shell reads it whole before running it (see scriptReaderCommand), and reads the
    // result as runCommand does; a script the shell did not receive whole fails with
    // scriptIncompleteMessage().
    Task<ShellResult<QString>> runScript(QString script, double timeoutSeconds);
    // True when the remote home was found (and stored); never an error.
    Task<bool> fetchRemoteHome();
    // The remote command of fetchRemoteHome, and the home from what it printed: nothing when
    // it is blank.
    static constexpr char remoteHomeCommand[] = "printf '%s\\n' \"$HOME\"";
    static std::optional<QString> remoteHomeFrom(QString output);
    // True when the remote login shell finds tmux; never an error.
    Task<bool> hasTmux();
    // Whether the remote login shell finds tmux, or why it did not answer: a time-out, ssh's
    // failure, or a login profile that never ran the question (scriptNotRunMessage).
    Task<ShellResult<bool>> probeTmux();
    // The remote command of runScript: the script reader (marking the script with `marker`)
    // in the script shell of the remote login shell, ended with everything it started
    // remoteTimeoutMargin seconds after the run's time-out.
    static QString scriptCommand(double timeoutSeconds, const QString& marker);
    static constexpr qint64 remoteTimeoutMargin = 5;
    // The remote command of probeTmux: the question, marked with `marker`, asked by the script
    // shell of the remote login shell.
    static QString tmuxProbeCommand(const QString& marker);
    // Writes `data` at `remotePath` (creating its folder), replacing the file only once
    // every byte has arrived: a broken transfer leaves the previous file and no temporary.
    // The file gets `permissions` less the remote shell's umask, from its making on.
    Task<ShellResult<bool>> uploadFile(QByteArray data, QString remotePath, mode_t permissions = 0666);
    // Adds each public key of ~/.ssh to the remote authorized keys unless already there;
    // gives the number of them the file then holds as whole lines (a key found in several
    // files, whatever its comment, counts and goes in once), and fails with
    // installKeyFailedMessage() when that is none.
    Task<ShellResult<int>> installKey();
    // Ends the master connection of this profile; any failure is ignored.
    Task<> closeMaster();
    // Whether a master connection of this profile answers on its control socket ("-O check",
    // 5 s at most); any failure is false.
    Task<bool> masterIsLive();

    // The remote command of uploadFile and of installKey, as sent.
    static QString uploadCommand(const QString& remotePath, qsizetype size, mode_t permissions = 0666);
    static QString installKeyCommand(const QStringList& keys);
    // The number of keys installed, from the output of installKeyCommand; nothing when the
    // command did not run to its end.
    static std::optional<int> installedKeyCount(const QString& output);
    static constexpr const char* installedKeysPrefix = "hv-installed-keys:";

private:
    // Runs `sent` with ssh, asking again while the master refuses a session, and reads its
    // output as marked with `marker`.
    Task<ShellResult<QString>> runMarked(QString sent, std::optional<QByteArray> input, double timeoutSeconds,
                                         QString marker);

    MacProfile linkProfile;
    QString home;
    std::shared_ptr<SharedSessions> sessions = std::make_shared<SharedSessions>();
};

// The message of a key installation that left no key in the server's authorized keys.
QString installKeyFailedMessage();

// Texts of the public keys in ~/.ssh (files ending in ".pub", by name) that begin with
// "ssh-" or "ecdsa-".
QStringList localPublicKeys();

// The remote command that lists the sub-folders of `root`, one per line, each followed by
// "/" as `ls -1d */` prints them; nothing when `root` is missing, a failure when it cannot be
// entered.
QString folderListingCommand(const QString& root);

// Folder names from a listing of that form (folderListingCommand's, or `ls -1d */`'s): no
// hidden ones, no trailing "/", sorted case-insensitively in the user's language.
QStringList parseFolderListing(const QString& listing);

// A socket's path holds 107 bytes at most, and ssh first makes the socket under the name of
// its control path followed by a 17-byte temporary suffix.
constexpr qsizetype socketPathLimit = 107;
constexpr qsizetype sshSocketSuffixLength = 17;
constexpr qsizetype controlSocketNameLength = 17;

// "c" + 16 hex digits of a hash of the profile's id, host, port and user together.
QString controlSocketName(const MacProfile& profile);

// Whether ssh can make its control sockets in `folder`: their paths fit, and ssh reads the
// folder's name as it is.
bool controlFolderFits(const QString& folder);

// Where the control sockets live: ~/.halvoren/cm; under a home too long for it (or one whose
// name ssh would expand or split), a folder of the user's own that only the user may enter:
// $XDG_RUNTIME_DIR/halvoren, else halvoren-<uid> in the temporary folder, else a fresh one
// there. The temporary folder is $TMPDIR where it is an absolute path that leaves room for the
// sockets, else /tmp.
QString controlFolder();

// Creates the folder of the control sockets; errors are ignored.
void controlDirectory();

} // namespace halvoren
