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

#include <chrono>
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
    // sequence becoming U+FFFD. The child starts in startFolder(), never in the folder the
    // application was started from, with the environment of every program we start
    // (childEnvironment). Call it on the main thread.
    static Task<ShellResult<Output>> run(QString executable, QStringList arguments,
                                         std::optional<QByteArray> input, double timeoutSeconds);

    // UTF-8 with U+FFFD in place of each invalid sequence.
    static QString decode(const QByteArray& bytes);

    // Where every run starts: the user's home, or "/" when it is not a folder. A login
    // profile that puts a relative entry first on PATH ("bin", "./node_modules/.bin") would
    // otherwise find a program of whatever project the application was started from.
    static QString startFolder();

    // Runs started and not yet ended (main thread): lets a test wait for the host work its
    // model left in flight before the program ends.
    static int runsInFlight();
    // Counts as a run in flight while it lives (main thread): a run's own coroutine, and work
    // that waits between runs of one command (a command the shared connection refused, waiting
    // to be tried again), so that nothing waiting on a host is left behind as finished.
    class RunInFlight {
    public:
        RunInFlight();
        ~RunInFlight();
        RunInFlight(const RunInFlight&) = delete;
        RunInFlight& operator=(const RunInFlight&) = delete;
    };

    // Ends every run still going, its whole process group killed, and removes the files of
    // long scripts still waiting to be read: nothing we started outlives the application.
    // Each run ends with endedAtQuitMessage(). Main thread.
    static void endAll();

    // How the application and the model tool quit: endAll(), a pause between the tries of a
    // command cut short, then the event loop runs (user input left aside) until every run in
    // flight has ended and the coroutines that awaited it have resumed and finished, so that
    // none is left suspended however slow the host was; at most `bound`, after which what
    // still waits is left. A run started meanwhile (a caller going on to its next command)
    // ends at once with endedAtQuitMessage(). Main thread.
    static constexpr std::chrono::milliseconds quitBound{5000};
    static void endAllAtQuit(std::chrono::milliseconds bound = quitBound);

    // Waits `length` between two runs of one command, or less when the application quits
    // meanwhile (at once when it is quitting already). Main thread.
    static Task<> pauseBetweenRuns(std::chrono::milliseconds length);
};

// The user's login shell: $SHELL when set (even empty), else the account's shell, else
// "/bin/sh".
QString userShell();

// The shell every script of ours runs under, here and on a server: a login shell only
// gives it the environment its profile made, then runs scriptShellCommand(script), so that
// no alias or function the profile defines (an "mv -i", a "cat" that colours) stands in for
// a command the script names. Found at its path, never through PATH. Tests may name another.
QString scriptShell();
void setScriptShellForTests(const QString& path);
// The command any shell of ours runs to hand `text` to scriptShell() in its own place. The
// leading backslash keeps an alias of "exec" from expanding; zsh's `command` would look for
// an external exec. Where scriptShell() is bash, the functions a profile exported (which it
// would import) are dropped before `text` runs.
QString scriptShellCommand(const QString& text);

// A script sent to a shell on its standard input (over ssh, where the command line is
// bounded by both computers and by the remote shell): scriptReaderCommand(marker) is the
// command that shell runs, scriptInput(script) what it is fed. The command reads the whole
// input before running any of it, so a command of the script that reads its standard input
// finds it ended rather than eating the rest, and runs it marked with `marker` as
// markedScript has it; input that lost its first or last line (a login profile that read
// some of it) runs nothing and exits with scriptIncompleteStatus, scriptIncompleteText on
// standard error.
QString scriptReaderCommand(const QString& marker);
QByteArray scriptInput(const QString& script);
inline constexpr int scriptIncompleteStatus = 125;
inline constexpr char scriptIncompleteText[] = "hv: script incomplet";
// The message of a script the shell did not receive whole.
QString scriptIncompleteMessage();
// A shell other than the script reader that reads the script's input (a login profile that
// replaced the shell with another one) stops at its first line, prints scriptNotRunText on
// standard error and runs nothing.
inline constexpr char scriptNotRunText[] = "hv: script non execute";

// Any other bytes sent to a shell's standard input (a file's, over ssh) go the same way:
// guardedInput(bytes) is them after that same first line, and inputGuardReader() the command
// that takes that line off the input, and not one byte after it, before the command that
// reads the bytes; input that lost the line exits as a script not received whole. A shell
// that reads the input as commands in our command's place stops at the line.
QByteArray guardedInput(QByteArray bytes);
QString inputGuardReader();

// A line printed once a script has run to its end tells a script that ran from one that
// never did: withCompletionMarker(script, marker) is the script followed by that line;
// takeCompletionMarker(output, marker) gives the output without it, or nothing when the
// script did not run to its end. newCompletionMarker() is a fresh word per run, which no
// profile or host can print ahead of time.
QString newCompletionMarker();
QString withCompletionMarker(const QString& script, const QString& marker);
std::optional<QString> takeCompletionMarker(QString output, const QString& marker);
// A login profile may print around the command (a greeting, a title escape without a line
// break, a logout file) and may end before it. markedScript(script, marker) prints a line of
// the marker, runs the script in a subshell (an exit of its own ends only that) and prints the
// marker again only when the script ended with status 0, keeping the script's status.
// takeOutputMarkers(output, marker) gives only what the script printed between the two lines,
// or nothing when either is missing; outputMarkerSeen tells whether the first came.
QString markedScript(const QString& script, const QString& marker);
std::optional<QString> takeOutputMarkers(QString output, const QString& marker);
bool outputMarkerSeen(const QString& output, const QString& marker);
// What a run of markedScript(script, marker) gives its caller:
// - its output between the markers, when it ended with status 0;
// - when the first marker never came back, whatever the status, the login shell never ran
//   the script: scriptIncompleteMessage() for a script the reader did not receive whole,
//   else scriptNotRunMessage(local, the shell's standard error);
// - when the script started and failed, its standard error, trimmed, or the failure message
//   of its status (localFailureMessage or sshFailureMessage) when it said nothing.
ShellResult<QString> markedScriptResult(Shell::Output output, const QString& marker, bool local);
// The message of a command of this computer that failed with `status` and said nothing.
QString localFailureMessage(int status);
// The same for a command of a server.
QString sshFailureMessage(int status);
// The message of a command the login shell did not run, on this computer or on a server,
// with what the shell said on its standard error (made one line and cut short) when it said
// something: the profile's own reason for ending ("open terminal failed: not a terminal").
QString scriptNotRunMessage(bool local, const QString& standardError = QString());
// True for scriptNotRunMessage of either kind, with or without a reason.
bool isScriptNotRunMessage(const QString& message);
// The room a quoted reason takes at most, in characters.
inline constexpr qsizetype maximumQuotedReasonLength = 160;

// The message of a long script that could not be written to its temporary file.
QString scriptFileFailureMessage(const QString& reason);

// True when starting `executable` with `arguments` now, with this process's environment,
// stays within the system's limits: each argument at most 32 pages (the terminating zero
// included) and the whole list with the environment within the system's argument size.
// An argument holding a zero byte never fits: it would be cut there.
bool fitsInArguments(const QString& executable, const QStringList& arguments);

// The command scriptShell() runs for a script written to the file at `path`: it runs the
// file marked with `marker` as markedScript has it, or, when the file cannot be read, runs
// nothing and exits as a script not received whole.
QString scriptFileCommand(const QString& path, const QString& marker);

// Runs `command` (a script of any length) through the user's login shell, as
// `userShell() -l -c` of scriptShellCommand(markedScript(command)): the profile gives the
// environment, scriptShell() runs the script, starting at home (Shell::startFolder). Its
// output between the markers when it ends with status 0; otherwise the error of
// markedScriptResult (a profile that ended before the script, whatever its status, is
// scriptNotRunMessage with the shell's reason), or a launch failure, a time-out, too much
// output, a script not received whole. The script is the argument itself whenever it fits
// (fitsInArguments); a longer one goes to a private temporary file (0600) that the script
// shell reads (scriptFileCommand) once the login profile has run, removed when the run ends. Standard input
// stays closed, so a login profile that reads it finds it ended and cannot take any of the
// script.
Task<ShellResult<QString>> runLoginShell(QString command, double timeoutSeconds);

} // namespace halvoren
