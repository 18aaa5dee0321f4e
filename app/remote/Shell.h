// Runs a program to completion and collects what it printed. Every one-shot ssh command and
// every command run through the user's login shell goes through `Shell::run`.
//
// The child gets its own process group. A run ends exactly once: the program could not be
// started, the time-out killed the group, or the child exited (a non-zero status is not an
// error). Once the child has exited only output already in the pipes is read, so a
// background grandchild that keeps them open cannot hold the run.
#pragma once

#include "remote/Async.h"

#include <QByteArray>
#include <QString>
#include <QStringList>

#include <optional>
#include <utility>
#include <variant>

namespace halvoren {

// A failed run; `message` is the text shown to the user. `sharedConnectionRefused`: the
// server's shared connection had no session to give the command until its time-out (the
// server itself answers; a write may be tried again later).
struct ShellError {
    QString message;
    bool sharedConnectionRefused = false;
};

// Either the value of a run or the reason it failed.
template <typename T>
class ShellResult {
public:
    ShellResult(T value) : state(std::move(value)) {}
    ShellResult(ShellError error) : state(std::move(error)) {}
    ShellResult() : state(T{}) {}

    bool ok() const { return std::holds_alternative<T>(state); }
    explicit operator bool() const { return ok(); }
    const T& value() const { return std::get<T>(state); }
    T& value() { return std::get<T>(state); }
    const ShellError& error() const { return std::get<ShellError>(state); }

private:
    std::variant<T, ShellError> state;
};

class Shell {
public:
    struct Output {
        // The exit code, or the signal number when a signal ended the child.
        int status = 0;
        QString standardOutput;
        QString standardError;
    };

    // Both streams together may hold this much: more ends the run with
    // outputTooLargeMessage(). Far above what a listing of 10,000 tabs or the git state of
    // 5,000 projects prints, it stops a program that prints without end before it fills memory.
    static constexpr qsizetype maximumOutputBytes = qsizetype{32} << 20;
    static QString outputTooLargeMessage();
    // Message of a run that the time-out ended, as a server's command reports it.
    static QString timeoutMessage();
    // The same for a command run on this computer (runLoginShell).
    static QString localTimeoutMessage();
    // Message of a run ended because the application quits.
    static QString endedAtQuitMessage();
    // Message of a program that could not be started: "Impossible de lancer " + path + " : "
    // + the system's description of the reason.
    static QString launchFailureMessage(const QString& executable, const QString& reason);

    // Starts `executable` (an absolute path, never searched for) with `arguments`, writes
    // `input` to its standard input and closes it (at once when there is none), and waits
    // for the end, at most `timeoutSeconds`. Output is decoded as UTF-8, every invalid
    // sequence becoming U+FFFD. Call it on the main thread.
    static Task<ShellResult<Output>> run(QString executable, QStringList arguments,
                                         std::optional<QByteArray> input, double timeoutSeconds);

    // UTF-8 with U+FFFD in place of each invalid sequence.
    static QString decode(const QByteArray& bytes);

    // Runs started and not yet ended (main thread): lets a test wait for the host work its
    // model left in flight before the program ends.
    static int runsInFlight();

    // Ends every run still going, its whole process group killed, and removes the files of
    // long scripts still waiting to be read: nothing we started outlives the application.
    // Each run ends with endedAtQuitMessage(). Main thread.
    static void endAll();
};

// The user's login shell: $SHELL when set (even empty), else the account's shell, else
// "/bin/sh".
QString userShell();

// A script sent to a shell on its standard input (over ssh, where the command line is
// bounded by both computers and by the remote shell): scriptReaderCommand() is the command
// that shell runs, scriptInput(script) what it is fed. The command reads the whole input
// before running any of it, so a command of the script that reads its standard input finds
// it ended rather than eating the rest; input that lost its first or last line (a login
// profile that read some of it) runs nothing and exits with scriptIncompleteStatus,
// scriptIncompleteText on standard error.
QString scriptReaderCommand();
QByteArray scriptInput(const QString& script);
inline constexpr int scriptIncompleteStatus = 125;
inline constexpr char scriptIncompleteText[] = "hv: script incomplet";
// The message of a script the shell did not receive whole.
QString scriptIncompleteMessage();
// A shell other than the script reader that reads the script's input (a login profile that
// replaced the shell with another one) stops at its first line, prints scriptNotRunText on
// standard error and runs nothing.
inline constexpr char scriptNotRunText[] = "hv: script non execute";

// A line printed once a script has run to its end tells a script that ran from one that
// never did (a login profile that exited or replaced the shell before running the command):
// withCompletionMarker(script, marker) is the script followed by that line;
// takeCompletionMarker(output, marker) gives the output without it, or nothing when the
// script did not run to its end. newCompletionMarker() is a fresh word per run, which no
// profile or host can print ahead of time.
QString newCompletionMarker();
QString withCompletionMarker(const QString& script, const QString& marker);
std::optional<QString> takeCompletionMarker(QString output, const QString& marker);
// A login profile may also print around the command: before it (a greeting, a title escape
// without a line break) or after it (a logout file). withOutputMarkers(script, marker) is the
// script between two lines of the marker; takeOutputMarkers(output, marker) gives only what
// the script printed between them, or nothing when either is missing (the script did not run
// to its end).
QString withOutputMarkers(const QString& script, const QString& marker);
std::optional<QString> takeOutputMarkers(QString output, const QString& marker);
// The message of a command of this computer that failed with `status` and said nothing.
QString localFailureMessage(int status);
// The message of a command the login shell did not run, on this computer or on a server.
QString scriptNotRunMessage(bool local);
// True for scriptNotRunMessage of either kind.
bool isScriptNotRunMessage(const QString& message);

// The message of a long script that could not be written to its temporary file.
QString scriptFileFailureMessage(const QString& reason);

// True when starting `executable` with `arguments` now, with this process's environment,
// stays within the system's limits: each argument at most 32 pages (the terminating zero
// included) and the whole list with the environment within the system's argument size.
// An argument holding a zero byte never fits: it would be cut there.
bool fitsInArguments(const QString& executable, const QStringList& arguments);

// The command a login shell runs for a script written to the file at `path`: it reads the
// file as its own input, or, when the file cannot be read, runs nothing and exits as a
// script not received whole.
QString scriptFileCommand(const QString& path);

// Runs `command` (a script of any length) with `userShell() -l -c command` and gives its
// standard output when it exits with status 0. Any other status is the error, with the
// shell's standard error as its message (localFailureMessage when it printed none), as a
// server's command reports it; so are a launch failure, a time-out, too much output and a
// script not received whole. The script is the argument
// itself whenever it fits (fitsInArguments); a longer one goes to a private temporary file
// (0600) that the shell reads once its login profile has run, removed when the run ends.
// Standard input stays closed, so a login profile that reads it finds it ended and cannot
// take any of the script.
Task<ShellResult<QString>> runLoginShell(QString command, double timeoutSeconds);

} // namespace halvoren
