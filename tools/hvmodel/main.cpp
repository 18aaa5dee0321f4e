// hvmodel: drives the workspace model from the command line, without a window, for tests and
// diagnosis. The model starts as the application's does (preferences, keychain fallback and
// tmux from HOME and the environment), then runs one command and prints one line per item,
// fields separated by "|".
//
//   hvmodel [--home DIR] [--root DIR] [--ready FILE] COMMAND [ARGS]
//     --root DIR      one more projects root, listed after the stored ones for this run only
//                     (not again when the stored roots hold it already); it is never written
//                     to the preferences, so runs at once, a signal or a crash leave the
//                     stored roots as they were
//     --ready FILE    once the model has started (its first sync done), writes the tabs it
//                     has then to FILE, replacing it whole, before running the command
//     projects        connection|name|path|session of every listed project
//     open PATH       opens the folder in a tab; prints key|name|path of the tab
//     tabs            key|name|path of every tab, in order
//     close KEY       closes the tab with that key
//     sync            one listing sync of every connection; id|reachable or id|unreachable
//     run SECONDS     lets the model poll for that long, then prints the tabs
//     await KEY SECONDS  lets the model poll until it has the tab KEY, at most that long,
//                     then prints the tabs
//
// Exit status 0 on success; 2 with the usage on standard error for arguments it does not
// take; 1 with one line on standard error otherwise.
#include "../ToolArguments.h"
#include "workspace/MacModel.h"
#include "platform/AtomicFile.h"
#include "platform/Log.h"
#include "settings/ProfileStore.h"
#include "platform/PreferenceStore.h"
#include "platform/ProcessSignals.h"
#include "platform/SecretStore.h"
#include "tab/MacTab.h"
#include "remote/SessionNaming.h"
#include "remote/Shell.h"

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QDeadlineTimer>
#include <QEventLoop>
#include <QTimer>

#include <cstdio>
#include <memory>

using namespace halvoren;

namespace {

int fail(const QString& message)
{
    std::fprintf(stderr, "hvmodel: %s\n", message.toLocal8Bit().constData());
    return 1;
}

void printLine(const QStringList& fields)
{
    std::printf("%s\n", fields.join(u'|').toLocal8Bit().constData());
}

void printTabs(const MacModel& model)
{
    for (const MacTab* tab : model.tabs())
        printLine({tab->id(), tab->project.name, tab->project.path});
}

// The session as the host lists it among its open tabs now; none when it is not open.
std::optional<HostTab> listedOpen(MacModel& model, const QString& session)
{
    const QString nonce = newListingNonce();
    ShellResult<QString> output
        = QCoro::waitFor(model.runScript(*model.localConnection(), listingScript(nonce), MacModel::listingTimeout));
    if (!output)
        return std::nullopt;
    const std::optional<ServerState> state = parseListingOutput(output.value(), {}, nonce);
    if (!state)
        return std::nullopt;
    const auto found = std::find_if(state->open.cbegin(), state->open.cend(),
                                    [&session](const HostTab& tab) { return tab.session == session; });
    return found != state->open.cend() ? std::optional(*found) : std::nullopt;
}

// Lets the event loop run for that long.
void runFor(int milliseconds)
{
    QEventLoop loop;
    QTimer::singleShot(milliseconds, &loop, &QEventLoop::quit);
    loop.exec();
}

bool waitFor(const std::function<bool()>& condition)
{
    const QDeadlineTimer deadline(20000);
    while (!condition()) {
        if (deadline.hasExpired())
            return false;
        runFor(50);
    }
    return true;
}

constexpr corvantix::ToolUsage usage{
    "hvmodel",
    "usage: hvmodel [--home DIR] [--root DIR] [--ready FILE] COMMAND [ARGS]\n"
    "  --home DIR          the home whose preferences and state the model uses\n"
    "  --root DIR          one more projects root for this run, never stored\n"
    "  --ready FILE        once the model has started, write its tabs to FILE\n"
    "commands: projects | open PATH | tabs | close KEY | sync | run SECONDS | await KEY SECONDS\n"};

// Each command and the number of words it takes.
struct Command {
    std::string_view name;
    int operands = 0;
};
constexpr Command commands[] = {{"projects", 0}, {"open", 1}, {"tabs", 0}, {"close", 1},
                                {"sync", 0},     {"run", 1},  {"await", 2}};

struct Arguments {
    QString root;
    QString ready;
    QString command;
    QStringList operands;
};

// Read before the model starts: a mistake costs nothing and changes nothing.
Arguments parseArguments(int argc, char** argv)
{
    Arguments arguments;
    const auto path = [](QString& into) {
        return [&into](std::string_view value) {
            into = QFileInfo(QString::fromLocal8Bit(value.data(), qsizetype(value.size()))).absoluteFilePath();
            return !value.empty();
        };
    };
    QString home;
    const corvantix::ToolOption options[] = {
        {"--home", true, path(home)},
        {"--root", true, path(arguments.root)},
        {"--ready", true, path(arguments.ready)},
    };
    const corvantix::ToolOperands operands = corvantix::readToolArguments(argc, argv, usage, options);
    if (operands.words.empty())
        corvantix::refuseArguments(usage, "a command is missing");
    const std::string_view name = operands.words.front();
    const auto command = std::find_if(std::begin(commands), std::end(commands),
                                      [name](const Command& known) { return known.name == name; });
    if (command == std::end(commands))
        corvantix::refuseArguments(usage, "unknown command " + std::string(name));
    if (int(operands.words.size()) - 1 != command->operands)
        corvantix::refuseArguments(usage, std::string(name) + " takes " + std::to_string(command->operands)
                                              + (command->operands == 1 ? " word" : " words"));
    arguments.command = QString::fromLocal8Bit(name.data(), qsizetype(name.size()));
    for (auto word = operands.words.begin() + 1; word != operands.words.end(); ++word)
        arguments.operands << QString::fromLocal8Bit(word->data(), qsizetype(word->size()));
    if (!home.isEmpty()) {
        // Everything the model keeps is then under that home.
        qputenv("HOME", home.toLocal8Bit());
        qunsetenv("XDG_CONFIG_HOME");
    }
    return arguments;
}

// Writes the ready file, then runs the command; its exit status.
int runCommand(MacModel& model, const Arguments& parsed)
{
    const QString& ready = parsed.ready;
    const QString& command = parsed.command; // one of `commands`, with as many operands as it takes
    const QStringList& arguments = parsed.operands;
    if (!ready.isEmpty()) {
        // Whole or absent: a reader polling for the file never sees half of it, and a file
        // left by an earlier run is replaced.
        QStringList lines;
        for (const MacTab* tab : model.tabs())
            lines << QStringList{tab->id(), tab->project.name, tab->project.path}.join(u'|') + u'\n';
        if (const std::optional<QString> failure = writeFileAtomically(ready, lines.join(QString()).toUtf8(), 0644))
            return fail(QStringLiteral("cannot write ") + *failure);
    }

    int status = 0;
    if (command == QStringLiteral("projects")) {
        for (const MacConnection* connection : model.connections()) {
            for (const MacProject& project : connection->projects())
                printLine({connection->id, project.name, project.path, project.session});
        }
    } else if (command == QStringLiteral("open")) {
        const QString path = QDir::cleanPath(QFileInfo(arguments.front()).absoluteFilePath());
        if (!QFileInfo(path).isDir()) {
            status = fail(QStringLiteral("not a folder: ") + path);
        } else {
            const MacProject project{QFileInfo(path).fileName(), path, tmuxSessionName(path)};
            model.openProject(project, *model.localConnection());
            // The tab tags its session from inside its terminal, open first, then its name and
            // path: wait until the host lists all of them. Ending before would kill the shell
            // half-way, and other models skip an open tab without a path.
            if (model.localConnection()->tmuxAvailable() && !waitFor([&] {
                    const std::optional<HostTab> listed = listedOpen(model, project.session);
                    return listed && !listed->name.isEmpty() && !listed->path.isEmpty();
                }))
                status = fail(QStringLiteral("the session did not open: ") + project.session);
            else
                printLine({model.activeTab()->id(), project.name, project.path});
        }
    } else if (command == QStringLiteral("tabs")) {
        printTabs(model);
    } else if (command == QStringLiteral("close")) {
        MacTab* found = nullptr;
        for (MacTab* tab : model.tabs()) {
            if (tab->id() == arguments.front())
                found = tab;
        }
        if (found == nullptr) {
            status = fail(QStringLiteral("no tab ") + arguments.front());
        } else {
            const QString session = found->project.session;
            const bool tmux = found->useTmux;
            model.closeTab(*found);
            if (tmux && !waitFor([&] { return !listedOpen(model, session); }))
                status = fail(QStringLiteral("the tab is still open on the host: ") + session);
        }
    } else if (command == QStringLiteral("sync")) {
        for (MacConnection* connection : model.connections()) {
            QCoro::waitFor(model.requestSync(*connection));
            printLine({connection->id, connection->unreachable() || connection->failures > 0 ? QStringLiteral("unreachable")
                                                                                             : QStringLiteral("reachable")});
        }
    } else if (command == QStringLiteral("run")) {
        bool ok = false;
        const double seconds = arguments.front().toDouble(&ok);
        if (!ok || seconds < 0 || seconds > 86400) {
            status = fail(QStringLiteral("not a number of seconds: ") + arguments.front());
        } else {
            runFor(int(seconds * 1000));
            waitFor([&] { return !model.localConnection()->syncing; });
            printTabs(model);
        }
    } else if (command == QStringLiteral("await")) {
        bool ok = false;
        const double seconds = arguments.at(1).toDouble(&ok);
        if (!ok || seconds < 0 || seconds > 86400) {
            status = fail(QStringLiteral("not a number of seconds: ") + arguments.at(1));
        } else {
            // Polls take as long as the machine lets them: wait for the outcome, not a time.
            const QString key = arguments.front();
            const QDeadlineTimer deadline(qint64(seconds * 1000));
            while (!deadline.hasExpired()
                   && std::none_of(model.tabs().cbegin(), model.tabs().cend(),
                                   [&key](const MacTab* tab) { return tab->id() == key; }))
                runFor(100);
            waitFor([&] { return !model.localConnection()->syncing; });
            printTabs(model);
        }
    }

    return status;
}

} // namespace

int main(int argc, char** argv)
{
    // As the application's: a write past the file-size limit fails and says so.
    setUpProcessSignals();
    const Arguments parsed = parseArguments(argc, argv);
    // Standard output carries the items and standard error the one failure line: the
    // model's and Qt's own diagnostics are left out.
    corvantix::setLogSink([](corvantix::LogStream, std::string_view) {});
    qInstallMessageHandler([](QtMsgType, const QMessageLogContext&, const QString&) {});
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication application(argc, argv);

    PreferenceStore& store = PreferenceStore::standard();
    Prefs prefs(store);
    ProfileStore profiles(SecretStore::standard(), QFileInfo(store.path()).absolutePath());
    auto model = std::make_unique<MacModel>(prefs, &SecretStore::standard());
    model->profileStore = &profiles;
    if (!parsed.root.isEmpty())
        model->extraProjectsRoots = {parsed.root};
    QCoro::waitFor(model->start());
    const int status = runCommand(*model, parsed);
    // As the application quits: what the model still runs on a host (a tab's row read, a
    // poll) is ended, and what awaited it finishes, before the model and the event loop go.
    Shell::endAllAtQuit();
    model.reset();
    store.flush();
    std::fflush(stdout);
    return status;
}
