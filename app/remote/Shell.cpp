#include "remote/Shell.h"

#include "remote/ShellQuote.h"
#include "platform/ChildEnvironment.h"
#include "platform/ProcessSignals.h"

#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QRandomGenerator>
#include <QSet>
#include <QTemporaryFile>
#include <QtConcurrent/QtConcurrentRun>
#include <qcoro/qcorofuture.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <mutex>
#include <pwd.h>
#include <signal.h>
#include <unistd.h>
#include <vector>

namespace halvoren {
namespace {

// Shared by the run and the handlers of its process and timer: the first outcome wins.
struct RunState {
    bool ended = false;
    bool timedOut = false;
    bool overflowed = false;
    bool endedAtQuit = false;
    QByteArray standardOutput;
    QByteArray standardError;
    std::optional<QString> launchFailure;
    std::coroutine_handle<> waiter;

    void end()
    {
        if (ended)
            return;
        ended = true;
        if (waiter)
            resumeOnMainThread(std::exchange(waiter, {}));
    }
};

struct RunEnded {
    std::shared_ptr<RunState> state;
    bool await_ready() const noexcept { return state->ended; }
    void await_suspend(std::coroutine_handle<> handle) noexcept { state->waiter = handle; }
    void await_resume() const noexcept {}
};

QString systemDescription(int error)
{
    return QString::fromLocal8Bit(std::strerror(error));
}

// What QProcess reports for a failed start is "<call>: <description>"; the caller wants the
// description alone, as for a failure found before starting.
QString launchReason(const QString& processError)
{
    const qsizetype colon = processError.lastIndexOf(QLatin1String(": "));
    return colon >= 0 ? processError.mid(colon + 2) : processError;
}

int timeoutMilliseconds(double seconds)
{
    if (!(seconds > 0))
        return 0;
    const double ms = std::ceil(seconds * 1000.0);
    return ms >= INT_MAX ? INT_MAX : static_cast<int>(ms);
}

// Ends the child and everything it started: its group first, then the child itself.
void killGroup(QProcess* child)
{
    const qint64 pid = child->processId();
    if (pid > 0)
        ::kill(-static_cast<pid_t>(pid), SIGKILL);
    child->kill();
}

// Moves what the child printed so far into the run's buffers; past the limit the child is
// ended and nothing more is kept.
void collectOutput(RunState& state, QProcess* child)
{
    QByteArray out = child->readAllStandardOutput();
    QByteArray err = child->readAllStandardError();
    if (state.overflowed)
        return;
    if (out.size() + err.size() > Shell::maximumOutputBytes - state.standardOutput.size() - state.standardError.size()) {
        state.overflowed = true;
        state.standardOutput.clear();
        state.standardError.clear();
        if (!state.ended && child->state() != QProcess::NotRunning)
            killGroup(child);
        return;
    }
    state.standardOutput += out;
    state.standardError += err;
}

} // namespace

QString Shell::outputTooLargeMessage()
{
    return QStringLiteral("La commande a écrit plus de %1 Mo : elle a été arrêtée.").arg(maximumOutputBytes >> 20);
}

QString Shell::timeoutMessage()
{
    return QStringLiteral("Le serveur ne répond pas (délai dépassé).");
}

QString Shell::localTimeoutMessage()
{
    return QStringLiteral("Cet ordinateur ne répond pas : la commande a dépassé son délai.");
}

QString Shell::endedAtQuitMessage()
{
    return QStringLiteral("La commande a été arrêtée : l'application se ferme.");
}

QString Shell::startFolder()
{
    const QString home = QDir::homePath();
    return QFileInfo(home).isDir() ? home : QStringLiteral("/");
}

QString Shell::launchFailureMessage(const QString& executable, const QString& reason)
{
    return QStringLiteral("Impossible de lancer ") + executable + QStringLiteral(" : ") + reason;
}

QString Shell::decode(const QByteArray& bytes)
{
    // One U+FFFD per maximal invalid subpart (a truncated sequence counts once, a stray byte
    // once), the usual practice of UTF-8 decoders. Written into a string made at its largest
    // size: output of tens of megabytes is decoded on the main thread.
    const auto* data = reinterpret_cast<const unsigned char*>(bytes.constData());
    const qsizetype size = bytes.size();
    QString text(size, Qt::Uninitialized);
    char16_t* out = reinterpret_cast<char16_t*>(text.data());
    qsizetype written = 0;
    qsizetype at = 0;
    while (at < size) {
        const unsigned char lead = data[at];
        if (lead < 0x80) {
            out[written++] = lead;
            ++at;
            continue;
        }
        int length = 0;
        char32_t code = 0;
        unsigned char low = 0x80, high = 0xBF;
        if (lead >= 0xC2 && lead <= 0xDF) {
            length = 2;
            code = lead & 0x1F;
        } else if (lead >= 0xE0 && lead <= 0xEF) {
            length = 3;
            code = lead & 0x0F;
            if (lead == 0xE0)
                low = 0xA0;
            else if (lead == 0xED)
                high = 0x9F;
        } else if (lead >= 0xF0 && lead <= 0xF4) {
            length = 4;
            code = lead & 0x07;
            if (lead == 0xF0)
                low = 0x90;
            else if (lead == 0xF4)
                high = 0x8F;
        }
        qsizetype next = at + 1;
        bool complete = length > 0;
        for (int k = 1; complete && k < length; ++k, ++next) {
            if (next >= size || data[next] < low || data[next] > high) {
                complete = false;
                break;
            }
            code = (code << 6) | (data[next] & 0x3F);
            low = 0x80;
            high = 0xBF;
        }
        // A sequence of n bytes gives at most n - 2 units (two for four bytes): it fits.
        if (!complete) {
            out[written++] = 0xFFFD;
        } else if (code >= 0x10000) {
            out[written++] = QChar::highSurrogate(code);
            out[written++] = QChar::lowSurrogate(code);
        } else {
            out[written++] = static_cast<char16_t>(code);
        }
        at = next;
    }
    text.resize(written);
    return text;
}

namespace {

int runsStarted = 0;
// From the start of a quit until its runs have ended: a run asked for meanwhile never starts.
bool quitting = false;

// Below this many bytes output is decoded at once: far under a millisecond of work.
constexpr qsizetype decodeInPlaceBytes = 256 * 1024;

// The children running now (main thread only), for endAll.
struct LiveRun {
    RunState* state;
    QProcess* child;
};

std::vector<LiveRun>& liveRuns()
{
    static std::vector<LiveRun> runs;
    return runs;
}

// Lists a started child until its run ends.
class LiveRunEntry {
public:
    LiveRunEntry(RunState* state, QProcess* child) : state(state) { liveRuns().push_back({state, child}); }
    ~LiveRunEntry()
    {
        std::erase_if(liveRuns(), [this](const LiveRun& run) { return run.state == state; });
    }
    LiveRunEntry(const LiveRunEntry&) = delete;
    LiveRunEntry& operator=(const LiveRunEntry&) = delete;

private:
    RunState* state;
};

// The files of long scripts that exist now, written and removed on workers. endAll raises
// the generation: a file made under an older one is removed by its writer at once.
struct ScriptFiles {
    std::mutex lock;
    QSet<QString> paths;
    quint64 generation = 0;
};

ScriptFiles& scriptFiles()
{
    static ScriptFiles files;
    return files;
}

// The pauses between tries waiting now (main thread only), which a quit cuts short.
std::vector<QTimer*>& pauses()
{
    static std::vector<QTimer*> timers;
    return timers;
}

// Lists a pause's timer for as long as it lives.
class PauseEntry {
public:
    explicit PauseEntry(QTimer* timer) : timer(timer) { pauses().push_back(timer); }
    ~PauseEntry() { std::erase(pauses(), timer); }
    PauseEntry(const PauseEntry&) = delete;
    PauseEntry& operator=(const PauseEntry&) = delete;

private:
    QTimer* timer;
};

void forgetScriptFile(const QString& path)
{
    ScriptFiles& files = scriptFiles();
    const std::lock_guard hold(files.lock);
    files.paths.remove(path);
}

} // namespace

Shell::RunInFlight::RunInFlight()
{
    ++runsStarted;
}

Shell::RunInFlight::~RunInFlight()
{
    --runsStarted;
}

int Shell::runsInFlight()
{
    return runsStarted;
}

Task<ShellResult<Shell::Output>> Shell::run(QString executable, QStringList arguments,
                                            std::optional<QByteArray> input, double timeoutSeconds)
{
    const RunInFlight inFlight;
    if (quitting)
        co_return ShellError{endedAtQuitMessage()};
    // Never let the program be looked up in PATH, and give the system's own words for a
    // file that cannot be executed.
    if (!QDir::isAbsolutePath(executable))
        co_return ShellError{launchFailureMessage(executable, systemDescription(ENOENT))};
    if (::access(QFile::encodeName(executable).constData(), X_OK) != 0)
        co_return ShellError{launchFailureMessage(executable, systemDescription(errno))};

    auto state = std::make_shared<RunState>();
    auto process = std::make_unique<QProcess>();
    QProcess* child = process.get();
    child->setProgram(executable);
    child->setArguments(arguments);
    child->setWorkingDirectory(startFolder());
    // Without the variables of a tmux the application runs inside: the scripts' tmux reaches
    // the server of the tabs' sessions, not that one.
    child->setProcessEnvironment(childEnvironment());
    child->setProcessChannelMode(QProcess::SeparateChannels);
    // Its own group, so that the time-out also reaches whatever the child started; and the
    // signals as a program expects them at its start, not as we keep them for ourselves.
    child->setChildProcessModifier([] {
        ::setpgid(0, 0);
        for (const int signal : signalsIgnoredByUs)
            ::signal(signal, SIG_DFL);
        sigset_t none;
        sigemptyset(&none);
        ::sigprocmask(SIG_SETMASK, &none, nullptr);
    });

    QObject::connect(child, &QProcess::readyReadStandardOutput, child, [state, child] { collectOutput(*state, child); });
    QObject::connect(child, &QProcess::readyReadStandardError, child, [state, child] { collectOutput(*state, child); });
    QObject::connect(child, &QProcess::finished, child, [state] { state->end(); });
    QObject::connect(child, &QProcess::errorOccurred, child, [state, child](QProcess::ProcessError error) {
        if (error != QProcess::FailedToStart || state->ended)
            return;
        state->launchFailure = launchReason(child->errorString());
        state->end();
    });

    QTimer timer;
    timer.setSingleShot(true);
    QObject::connect(&timer, &QTimer::timeout, child, [state, child] {
        // The child is reaped on this thread only, so while it is not reported ended its
        // process id (and group id) cannot belong to anyone else.
        if (state->ended || child->state() == QProcess::NotRunning)
            return;
        state->timedOut = true;
        killGroup(child);
    });

    child->start(QIODevice::ReadWrite);
    const LiveRunEntry live(state.get(), child);
    if (!state->ended) {
        timer.start(timeoutMilliseconds(timeoutSeconds));
        if (input && !input->isEmpty())
            child->write(*input);
        // Closes once the input is written; a child that stops reading is ended by the
        // time-out, and a broken pipe is an error of the write, not a signal.
        child->closeWriteChannel();
    }

    // A named awaiter: g++ 12 destroys a temporary one twice (its shared state with it).
    RunEnded ended{state};
    co_await ended;
    timer.stop();

    if (state->launchFailure)
        co_return ShellError{launchFailureMessage(executable, *state->launchFailure)};
    if (state->endedAtQuit)
        co_return ShellError{endedAtQuitMessage()};
    collectOutput(*state, child);
    if (state->overflowed)
        co_return ShellError{outputTooLargeMessage()};
    if (state->timedOut)
        co_return ShellError{timeoutMessage()};
    Output output;
    output.status = child->exitCode();
    // Output of megabytes (a host's listing) is decoded on a worker thread: tens of
    // milliseconds that the window would otherwise not answer in.
    QByteArray printed = std::exchange(state->standardOutput, {});
    if (printed.size() < decodeInPlaceBytes) {
        output.standardOutput = decode(printed);
    } else {
        QFuture<QString> decoding = QtConcurrent::run([bytes = std::move(printed)] { return decode(bytes); });
        output.standardOutput = co_await decoding;
    }
    output.standardError = decode(std::exchange(state->standardError, {}));
    co_return output;
}

void Shell::endAll()
{
    const std::vector<LiveRun> runs = liveRuns();
    for (const LiveRun& run : runs) {
        if (run.state->ended || run.child->state() == QProcess::NotRunning)
            continue;
        run.state->endedAtQuit = true;
        killGroup(run.child);
    }
    // The shells that would have read them are gone: the files are removed here and now.
    ScriptFiles& files = scriptFiles();
    const std::lock_guard hold(files.lock);
    ++files.generation;
    for (const QString& path : std::as_const(files.paths))
        QFile::remove(path);
    files.paths.clear();
}

void Shell::endAllAtQuit(std::chrono::milliseconds bound)
{
    quitting = true;
    endAll();
    for (QTimer* pause : pauses())
        pause->start(0);
    // The killed children are reaped, and their runs resumed, by the event loop. A timer wakes
    // it now and then, so that the bound holds even when nothing else happens.
    const QDeadlineTimer deadline(bound);
    QTimer wake;
    wake.start(20);
    while (runsStarted > 0 && !deadline.hasExpired())
        QCoreApplication::processEvents(QEventLoop::ExcludeUserInputEvents | QEventLoop::WaitForMoreEvents);
    quitting = false;
}

Task<> Shell::pauseBetweenRuns(std::chrono::milliseconds length)
{
    if (quitting)
        co_return;
    QTimer timer;
    timer.setSingleShot(true);
    const PauseEntry listed(&timer);
    timer.start(length);
    co_await timer;
}

QString userShell()
{
    if (const char* shell = std::getenv("SHELL"))
        return QFile::decodeName(shell);
    if (const passwd* entry = ::getpwuid(::getuid()); entry && entry->pw_shell && *entry->pw_shell)
        return QFile::decodeName(entry->pw_shell);
    return QStringLiteral("/bin/sh");
}

namespace {

// The first and the last line of a script's input: both must arrive for it to run. A shell
// that reads the input as commands (one a login profile started in the reader's place) stops
// at the first line.
const QByteArray scriptHead
    = QByteArray("echo ") + scriptNotRunText + " >&2; exit " + QByteArray::number(scriptIncompleteStatus)
      + " #hv-debut-du-script";
constexpr char scriptTail[] = "#hv-fin-du-script";

} // namespace

namespace {

QString& scriptShellPath()
{
    static QString path = QStringLiteral("/bin/sh");
    return path;
}

// bash started as sh imports the functions a profile exported. It runs its special builtins
// (unset, set) before any function of the same name, so those drop the rest; nothing here
// is looked up through PATH or split into words by a changed IFS.
constexpr char exportedFunctionsGuard[] =
    "case ${BASH_VERSION-} in ?*) unset -f compgen; set -f; "
    "for __hv_f in $(compgen -A function 2>/dev/null); do unset -f \"$__hv_f\"; done; set +f; unset __hv_f ;; esac\n";

} // namespace

QString scriptShell()
{
    return scriptShellPath();
}

void setScriptShellForTests(const QString& path)
{
    scriptShellPath() = path;
}

QString scriptShellCommand(const QString& text)
{
    return QStringLiteral("\\exec ") + shellQuote(scriptShell()) + QStringLiteral(" -c ")
        + shellQuote(QLatin1String(exportedFunctionsGuard) + text);
}

QString scriptReaderCommand(const QString& marker)
{
    // "$(cat; echo .)" keeps the trailing newlines a bare "$(cat)" would drop; the two
    // markers of the input are cut off before the text is evaluated, marked as markedScript
    // does. eval reads a script of megabytes a command at a time, where a subshell written
    // around its text would be read whole before anything runs.
    return QStringLiteral(R"hv(__hv_s=$(cat; echo .); __hv_s=${__hv_s%.}; __hv_h='%1'; __hv_t='%2'
case $__hv_s in
"$__hv_h"'
'*"$__hv_t"'
') __hv_s=${__hv_s#"$__hv_h"}; __hv_s=${__hv_s%"$__hv_t"*}; echo %5; (eval "$__hv_s") && echo %5 ;;
*) echo '%3' >&2; exit %4 ;;
esac)hv")
        .arg(QLatin1String(scriptHead), QLatin1String(scriptTail), QLatin1String(scriptIncompleteText))
        .arg(scriptIncompleteStatus)
        .arg(marker);
}

QByteArray guardedInput(QByteArray bytes)
{
    bytes.prepend(scriptHead + '\n');
    return bytes;
}

QString inputGuardReader()
{
    // read takes one line and leaves the rest: every shell reads a pipe or a socket a byte at
    // a time, and steps back over what it read past the line in a file.
    return QStringLiteral("IFS= read -r __hv_g && [ \"$__hv_g\" = '%1' ] || { echo '%2' >&2; exit %3; }; unset __hv_g\n")
        .arg(QLatin1String(scriptHead), QLatin1String(scriptIncompleteText))
        .arg(scriptIncompleteStatus);
}

QByteArray scriptInput(const QString& script)
{
    QByteArray input = script.toUtf8();
    if (!input.isEmpty() && !input.endsWith('\n'))
        input += '\n';
    return guardedInput(input + scriptTail + '\n');
}

QString scriptFileFailureMessage(const QString& reason)
{
    return QStringLiteral("Impossible d'écrire le script dans un fichier temporaire : ") + reason;
}

QString scriptIncompleteMessage()
{
    return QStringLiteral("Le shell n'a pas reçu le script en entier : rien n'a été exécuté.");
}

QString newCompletionMarker()
{
    return QStringLiteral("hv-fin-") + QString::number(QRandomGenerator::system()->generate64(), 16);
}

QString withCompletionMarker(const QString& script, const QString& marker)
{
    QString marked = script;
    if (!marked.isEmpty() && !marked.endsWith(u'\n'))
        marked += u'\n';
    return marked + QStringLiteral("echo ") + marker + u'\n';
}

std::optional<QString> takeCompletionMarker(QString output, const QString& marker)
{
    // The marker is the last thing the script prints; output without a final line break
    // runs into it.
    const QString line = marker + u'\n';
    if (!output.endsWith(line))
        return std::nullopt;
    output.chop(line.size());
    return output;
}

QString markedScript(const QString& script, const QString& marker)
{
    // The subshell opens on a line of its own ("((" would start arithmetic in some shells),
    // and holds a command even for an empty script.
    return QStringLiteral("echo ") + marker + QStringLiteral("\n(\n:\n") + script + QStringLiteral("\n) && echo ") + marker
        + u'\n';
}

std::optional<QString> takeOutputMarkers(QString output, const QString& marker)
{
    // The first marker may follow a profile's text that lacks its line break, and the second
    // the script's last line that lacks one: each is found where it ends its line. What
    // follows the second is the shell's, at its exit.
    const QString line = marker + u'\n';
    const qsizetype first = output.indexOf(line);
    if (first < 0)
        return std::nullopt;
    const qsizetype from = first + line.size();
    const qsizetype second = output.indexOf(line, from);
    if (second < 0)
        return std::nullopt;
    // Cut in place: a listing may be megabytes, and is not copied again for its middle.
    output.truncate(second);
    output.remove(0, from);
    return output;
}

bool outputMarkerSeen(const QString& output, const QString& marker)
{
    return output.contains(marker + u'\n');
}

ShellResult<QString> markedScriptResult(Shell::Output output, const QString& marker, bool local)
{
    const bool started = outputMarkerSeen(output.standardOutput, marker);
    if (!started) {
        // The reader's own refusals come before the script: they say what happened.
        if (output.status == scriptIncompleteStatus && output.standardError.contains(QLatin1String(scriptIncompleteText)))
            return ShellError{scriptIncompleteMessage()};
        if (output.status == scriptIncompleteStatus && output.standardError.contains(QLatin1String(scriptNotRunText)))
            return ShellError{scriptNotRunMessage(local)};
        return ShellError{scriptNotRunMessage(local, output.standardError)};
    }
    if (output.status != 0) {
        const QString reason = output.standardError.trimmed();
        if (!reason.isEmpty())
            return ShellError{reason};
        return ShellError{local ? localFailureMessage(output.status) : sshFailureMessage(output.status)};
    }
    // Handed over whole: a listing of megabytes is cut in place.
    if (std::optional<QString> printed = takeOutputMarkers(std::move(output.standardOutput), marker))
        return std::move(*printed);
    // Started and ended well, yet the closing marker is missing: it did not run to its end.
    return ShellError{scriptNotRunMessage(local, output.standardError)};
}

QString localFailureMessage(int status)
{
    return QStringLiteral("La commande a échoué sur cet ordinateur (code ") + QString::number(status) + QStringLiteral(").");
}

QString sshFailureMessage(int status)
{
    return QStringLiteral("La commande SSH a échoué (code ") + QString::number(status) + QStringLiteral(").");
}

namespace {

QString scriptNotRunStem(bool local)
{
    return (local ? QStringLiteral("Le profil de connexion de cet ordinateur") : QStringLiteral("Le profil de connexion du serveur"))
        + QStringLiteral(" n'a pas exécuté la commande : il se termine ou lance un autre shell avant elle");
}

// A shell's standard error on one line: its lines joined, controls made blanks, and only its
// end kept past the limit, where the reason it stopped is.
QString oneLineReason(const QString& text)
{
    QString line;
    line.reserve(text.size());
    for (const QChar c : text) {
        const QChar::Category category = c.category();
        const bool control = category == QChar::Other_Control || category == QChar::Other_Format
            || category == QChar::Separator_Line || category == QChar::Separator_Paragraph;
        line += control ? QChar(u' ') : c;
    }
    line = line.simplified();
    if (line.size() > maximumQuotedReasonLength) {
        qsizetype from = line.size() - (maximumQuotedReasonLength - 1);
        // Never half of a surrogate pair.
        if (line.at(from).isLowSurrogate())
            ++from;
        line = QStringLiteral("…") + line.mid(from);
    }
    return line;
}

} // namespace

QString scriptNotRunMessage(bool local, const QString& standardError)
{
    const QString reason = oneLineReason(standardError);
    if (reason.isEmpty())
        return scriptNotRunStem(local) + u'.';
    return scriptNotRunStem(local) + QStringLiteral(" (« ") + reason + QStringLiteral(" »).");
}

bool isScriptNotRunMessage(const QString& message)
{
    for (const bool local : {true, false}) {
        const QString stem = scriptNotRunStem(local);
        if (message == stem + u'.' || (message.startsWith(stem + QStringLiteral(" (« ")) && message.endsWith(QStringLiteral(" »)."))))
            return true;
    }
    return false;
}

namespace {

// Whatever the stack limit, the system gives arguments and environment at most three
// quarters of its default 8 MiB stack.
constexpr qsizetype argumentAreaCap = qsizetype{6} << 20;
// Room for what the system adds to the area besides the lists (the path it executes,
// alignment): a script this close to the limit goes to a file.
constexpr qsizetype argumentAreaMargin = 4096;

qsizetype argumentStringLimit()
{
    const long page = ::sysconf(_SC_PAGESIZE);
    return 32 * qsizetype(page > 0 ? page : 4096);
}

qsizetype argumentAreaLimit()
{
    const long limit = ::sysconf(_SC_ARG_MAX);
    return std::min(limit > 0 ? qsizetype(limit) : qsizetype{131072}, argumentAreaCap);
}

// A script's file, removed when the last holder lets it go: its writer, should the run be
// abandoned while it writes, or the run once it ends.
struct ScriptFile {
    QString path;

    ScriptFile() = default;
    ScriptFile(const ScriptFile&) = delete;
    ScriptFile& operator=(const ScriptFile&) = delete;
    ~ScriptFile()
    {
        if (!path.isEmpty()) {
            QFile::remove(path);
            forgetScriptFile(path);
        }
    }
};

// Puts the script in a new file that only this user may read (a temporary file is made with
// mode 0600), left in place for the shell to read; the reason when it cannot. Runs on a
// worker: the disk may be slow.
QString writeScriptFile(ScriptFile& into, const QString& folder, const QString& script)
{
    ScriptFiles& files = scriptFiles();
    quint64 generation = 0;
    {
        const std::lock_guard hold(files.lock);
        generation = files.generation;
    }
    QTemporaryFile file(folder + QStringLiteral("/halvoren-script-XXXXXX"));
    const QByteArray bytes = script.toUtf8();
    if (!file.open() || file.write(bytes) != bytes.size() || !file.flush())
        return file.errorString();
    file.close();
    // Known before it is kept, so that quitting removes it; made while the application
    // quit, it goes with the temporary file.
    const std::lock_guard hold(files.lock);
    if (files.generation != generation)
        return Shell::endedAtQuitMessage();
    file.setAutoRemove(false);
    into.path = file.fileName();
    files.paths.insert(into.path);
    return QString();
}

// The main thread's hold on a script's file: let go on a worker, where the file is removed
// if no one else holds it.
class ScriptFileHold {
public:
    explicit ScriptFileHold(std::shared_ptr<ScriptFile> file) : file(std::move(file)) {}
    ScriptFileHold(const ScriptFileHold&) = delete;
    ScriptFileHold& operator=(const ScriptFileHold&) = delete;
    ~ScriptFileHold()
    {
        if (file)
            (void)QtConcurrent::run([held = std::move(file)]() mutable { held.reset(); });
    }

    const ScriptFile* operator->() const { return file.get(); }

    // Removes the file on a worker, for the caller to wait on: there and then, whoever else
    // still holds it (its writer's task may outlive the write by a little).
    QFuture<void> remove()
    {
        return QtConcurrent::run([held = std::exchange(file, {})] {
            QFile::remove(held->path);
            forgetScriptFile(held->path);
            held->path.clear();
        });
    }

private:
    std::shared_ptr<ScriptFile> file;
};

} // namespace

bool fitsInArguments(const QString& executable, const QStringList& arguments)
{
    const qsizetype perString = argumentStringLimit();
    qsizetype area = 0;
    qsizetype pointers = 0;
    // Qt gives the program its arguments in the local encoding, its path first.
    const auto add = [&](const QString& text) {
        // A UTF-8 or Latin-1 encoding has at least one byte per UTF-16 unit.
        if (text.size() >= perString)
            return false;
        const QByteArray bytes = text.toLocal8Bit();
        if (bytes.size() + 1 > perString || bytes.contains('\0'))
            return false;
        area += bytes.size() + 1;
        ++pointers;
        return true;
    };
    if (!add(executable))
        return false;
    for (const QString& argument : arguments) {
        if (!add(argument))
            return false;
    }
    // The path the system runs is copied besides the list.
    area += QFile::encodeName(executable).size() + 1;
    for (char** entry = environ; entry != nullptr && *entry != nullptr; ++entry) {
        area += qsizetype(std::strlen(*entry)) + 1;
        ++pointers;
    }
    area += (pointers + 2) * qsizetype(sizeof(char*)) + argumentAreaMargin;
    return area <= argumentAreaLimit();
}

QString scriptFileCommand(const QString& path, const QString& marker)
{
    // Read by "." a command at a time, in a subshell as markedScript has it.
    const QString file = shellQuote(path);
    return QStringLiteral("if [ -r %1 ]; then echo %4; (. %1) && echo %4; else echo '%2' >&2; exit %3; fi")
        .arg(file, QLatin1String(scriptIncompleteText))
        .arg(scriptIncompleteStatus)
        .arg(marker);
}

Task<ShellResult<QString>> runLoginShell(QString command, double timeoutSeconds)
{
    // Its script file, written before the run and removed after it, is part of it.
    const Shell::RunInFlight inFlight;
    const QString shell = userShell();
    // Only what the script printed between these is its output.
    const QString marker = newCompletionMarker();
    QStringList arguments;
    arguments << QStringLiteral("-l") << QStringLiteral("-c") << scriptShellCommand(markedScript(command, marker));
    // Lives until the run ends: the script shell opens it only after the login profile.
    // Written and removed on a worker, as the main thread never waits on the disk.
    std::optional<ScriptFileHold> file;
    if (!fitsInArguments(shell, arguments)) {
        auto written = std::make_shared<ScriptFile>();
        file.emplace(written);
        QFuture<QString> writing = QtConcurrent::run(
            [written = std::move(written), folder = QDir(QDir::tempPath()).absolutePath(), command] {
                return writeScriptFile(*written, folder, command);
            });
        const QString failure = co_await writing;
        if ((*file)->path.isEmpty())
            co_return ShellError{scriptFileFailureMessage(failure)};
        arguments.last() = scriptShellCommand(scriptFileCommand((*file)->path, marker));
    }
    auto result = co_await Shell::run(shell, std::move(arguments), std::nullopt, timeoutSeconds);
    if (file) {
        QFuture<void> removing = file->remove();
        co_await removing;
    }
    if (!result && result.error().message == Shell::timeoutMessage())
        co_return ShellError{Shell::localTimeoutMessage()};
    if (!result)
        co_return result.error();
    co_return markedScriptResult(std::move(result.value()), marker, true);
}

} // namespace halvoren
