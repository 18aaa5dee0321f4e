// halvoren-hostile-bench: the application's main window and its workspace model against hosts
// built to hurt them. Each case runs in a child process of its own (the program started again
// with --case), which starts the window as the application does, lets the model start, sync
// and poll once, and reports the process's whole resident peak and the longest time its main
// thread kept the user waiting. The parent prints one table row per case.
//
// The host is this computer: a private home and tmux folder, /bin/sh as the login shell and a
// stand-in tmux first in PATH that prints the case's listing; its tabs attach to `cat`, so
// they stay alive and draw what is typed. Nothing outside a temporary folder is read or
// written. The window is drawn off screen unless QT_QPA_PLATFORM says otherwise (run under
// tests/with-xvfb with QT_QPA_PLATFORM=xcb for a real X server).
#include "ui/HalvorenMacApp.h"
#include "ui/MainView.h"
#include "ui/SidebarView.h"
#include "workspace/MacModel.h"
#include "workspace/MacUpdate.h"

#include "ProcessMemory.h"
#include "ToolArguments.h"

#include "platform/Log.h"
#include "platform/Notifier.h"
#include "platform/PreferenceStore.h"
#include "platform/SecretStore.h"
#include "remote/SessionNaming.h"
#include "remote/ShellQuote.h"
#include "settings/Prefs.h"
#include "settings/ProfileStore.h"
#include "tab/MacTab.h"

#include <QApplication>
#include <QDBusConnection>
#include <QDir>
#include <QElapsedTimer>
#include <QEvent>
#include <QFile>
#include <QFileInfo>
#include <QKeyEvent>
#include <QMainWindow>
#include <QProcess>
#include <QRegularExpression>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTimer>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <thread>

#include <malloc.h>

using namespace halvoren;

namespace {

using corvantix::bench::resetPeak;
using corvantix::bench::statusBytes;

// What a user must not feel: the goals every case is marked against.
constexpr double residentGoalMB = 300;
constexpr double stallGoalMs = 100;

// The main-thread timer's period and the typing rhythm of the key probe.
constexpr int meterIntervalMs = 5;
constexpr auto keyInterval = std::chrono::milliseconds(100);

// Bounds of every wait of a case (seconds): the model's start (first sync included), then
// one poll sync; the parent kills a child that outlives both.
struct Bounds {
    int start;
    int poll;
    int child;
};
constexpr Bounds fullBounds{240, 150, 480};
constexpr Bounds quickBounds{30, 0, 60};

// The child's exit status when a wait ran out: its figures stand, the run fails.
constexpr int exitOverran = 3;

struct Setup {
    QString home;
    QString bin;
    QString projects;
    bool quick = false;
};

bool writeFile(const QString& path, const QByteArray& bytes, bool executable = false)
{
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate) || file.write(bytes) != bytes.size())
        return false;
    file.close();
    if (executable)
        file.setPermissions(QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
    return true;
}

QByteArray readFile(const QString& path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

// Writes a large file row by row, so the child's own resident size never holds it.
class RowWriter {
public:
    explicit RowWriter(const QString& path) : file(std::fopen(QFile::encodeName(path).constData(), "w")) {}
    ~RowWriter()
    {
        if (file != nullptr)
            std::fclose(file);
    }
    RowWriter(const RowWriter&) = delete;
    RowWriter& operator=(const RowWriter&) = delete;
    void write(const QByteArray& bytes)
    {
        if (file != nullptr && std::fwrite(bytes.constData(), 1, std::size_t(bytes.size()), file) != std::size_t(bytes.size()))
            failed = true;
    }
    bool finish()
    {
        const bool ok = file != nullptr && !failed && std::fclose(file) == 0;
        file = nullptr;
        return ok;
    }

private:
    std::FILE* file;
    bool failed = false;
};

// A listing row (session, open, order, name, path, parent, sync) of an open tab of ours.
QByteArray openRow(const QByteArray& session, const QByteArray& name, const QByteArray& path)
{
    return session + "\t1\t1\t" + name + '\t' + path + "\t\t1\n";
}

// The row of a session without a tab: a closed one of ours, or another program's, has none
// of our options set.
QByteArray closedRow(const QByteArray& session)
{
    return session + "\t\t\t\t\t\t\n";
}

// The stand-in tmux: the listing prints the rows file (its open rows alone when asked for
// those), an attach keeps the tab alive on `cat`, every other command ends at once.
bool writeTmux(const Setup& setup, const QByteArray& listing)
{
    return writeFile(setup.bin + QStringLiteral("/tmux"),
                     "#!/bin/sh\n"
                     "case \"$*\" in\n"
                     "*'list-sessions -f'*) { " + listing + " ; } | awk -F '\t' '$2 == \"1\"' ;;\n"
                     "*list-sessions*) " + listing + " ;;\n"
                     "*attach*) exec cat ;;\n"
                     "*) exit 0 ;;\n"
                     "esac\n",
                     true);
}

// The stand-in's listing: the rows file, printed as it is.
QByteArray printRows(const Setup& setup)
{
    return "cat " + shellQuote(setup.home + QStringLiteral("/rows")).toUtf8();
}

bool writeShared(const Setup& setup, const QByteArray& json)
{
    return QDir().mkpath(setup.home + QStringLiteral("/.halvoren"))
        && writeFile(setup.home + QStringLiteral("/.halvoren/shared.json"), json);
}

bool writeEmptyShared(const Setup& setup)
{
    return writeShared(setup, "{\"favorites\":[],\"hidden\":[],\"version\":1}");
}

// A project folder under the projects root and the open row the host lists for it.
QByteArray openProjectRow(const Setup& setup, const QString& name)
{
    const QString path = setup.projects + u'/' + name;
    if (!QDir().mkpath(path))
        return {};
    return openRow(tmuxSessionName(path).toUtf8(), name.toUtf8(), path.toUtf8());
}

// A listing of `count` closed rows named by `name`, with one open tab listed after them (the
// tab the key probe types into), printed by the stand-in from a file.
template <typename Name>
bool closedRowsListing(const Setup& setup, int count, Name name)
{
    const QByteArray open = openProjectRow(setup, QStringLiteral("web"));
    RowWriter rows(setup.home + QStringLiteral("/rows"));
    QByteArray chunk;
    for (int i = 0; i < count; ++i) {
        chunk += closedRow(name(i));
        if (chunk.size() > (1 << 16)) {
            rows.write(chunk);
            chunk.clear();
        }
    }
    rows.write(chunk + open);
    return !open.isEmpty() && rows.finish() && writeEmptyShared(setup)
        && writeTmux(setup, printRows(setup));
}

bool prepareEndless(const Setup& setup)
{
    const QByteArray rows = "yes \"$(printf 'kq-endless\\t1\\t1\\tname\\t/tmp\\t\\t1')\"";
    return writeTmux(setup, setup.quick ? rows + " | head -n 2000" : "exec " + rows);
}

bool prepareListing10000(const Setup& setup)
{
    const int count = setup.quick ? 100 : 10'000;
    RowWriter rows(setup.home + QStringLiteral("/rows"));
    for (int i = 0; i < count; ++i) {
        rows.write("kq-host-" + QByteArray::number(i) + "\t1\t" + QByteArray::number(i + 1) + "\tproject " + QByteArray::number(i)
                   + "\t" + setup.home.toUtf8() + "\t\t1\n");
    }
    // With a shared-state file in place the first listing applies the rows at once.
    return rows.finish() && writeEmptyShared(setup) && writeTmux(setup, printRows(setup));
}

bool prepareLines30MB(const Setup& setup)
{
    // Lines without a field: 30 MB stays under the output limit and reaches the reader.
    return writeEmptyShared(setup) && writeTmux(setup, setup.quick ? "yes | head -c 300000" : "yes | head -c 30000000");
}

bool prepareShared50MB(const Setup& setup)
{
    // Small, but still over the 1 MB a shared state may take.
    const qint64 bytes = setup.quick ? 2'000'000 : 50'000'000;
    if (!QDir().mkpath(setup.home + QStringLiteral("/.halvoren")))
        return false;
    RowWriter json(setup.home + QStringLiteral("/.halvoren/shared.json"));
    json.write("{\"favorites\":[");
    qint64 written = 0;
    for (int i = 0; written < bytes; ++i) {
        const QByteArray item = (i ? ",\"" : "\"") + QByteArray("favorite-project-number-") + QByteArray::number(i) + '"';
        json.write(item);
        written += item.size();
    }
    json.write("],\"hidden\":[],\"version\":1}");
    return json.finish() && writeTmux(setup, "printf 'kq-a\\t1\\t1\\ta\\t/tmp\\t\\t1\\n'");
}

bool prepareProjects5000(const Setup& setup)
{
    const int count = setup.quick ? 50 : 5'000;
    const QString repository = setup.home + QStringLiteral("/repository");
    QProcess git;
    git.start(QStringLiteral("/bin/sh"),
              {QStringLiteral("-c"), QStringLiteral("git init -q -b trunk \"$1\" && git -C \"$1\" -c user.name=b "
                                                    "-c user.email=b@b.invalid commit -q --allow-empty -m first"),
               QStringLiteral("sh"), repository});
    if (!git.waitForFinished(60'000) || git.exitCode() != 0) {
        std::fprintf(stderr, "halvoren-hostile-bench: git could not make a repository (the Debian package git)\n");
        return false;
    }
    for (int i = 0; i < count; ++i) {
        const QString folder = setup.projects + QStringLiteral("/project-") + QString::number(i);
        if (!QDir().mkpath(folder) || !writeFile(folder + QStringLiteral("/.git"), "gitdir: " + repository.toUtf8() + "/.git\n"))
            return false;
    }
    return writeEmptyShared(setup) && writeTmux(setup, "exit 0");
}

// Closed sessions of ours, "kq-s0" …: 1.6 M rows are 28.6 MB, under the 32 MiB output cap.
bool prepareClosedKq(const Setup& setup)
{
    return closedRowsListing(setup, setup.quick ? 16'000 : 1'600'000,
                             [](int i) { return "kq-s" + QByteArray::number(i); });
}

// Short names of other programs' sessions, in base 36: 2.5 M rows are 28.3 MB.
bool prepareShortRows(const Setup& setup)
{
    return closedRowsListing(setup, setup.quick ? 25'000 : 2'500'000, [](int i) { return QByteArray::number(i, 36); });
}

// A folder whose name is `bytes` long (three-byte CJK characters, then ASCII to make up the
// rest), listed open as its tab would be.
bool prepareLongName(const Setup& setup, int bytes)
{
    QString name;
    for (int i = 0; i + 3 <= bytes; i += 3)
        name += QChar(0x4E00 + i / 3);
    while (name.toUtf8().size() < bytes)
        name += u'a';
    const QByteArray open = openProjectRow(setup, name);
    return !open.isEmpty() && writeFile(setup.home + QStringLiteral("/rows"), open) && writeEmptyShared(setup)
        && writeTmux(setup, printRows(setup));
}

// A valid shared state of 120,000 favourites (1.2 MB, small enough for the quick run too),
// with one open tab listed.
bool prepareShared12MB(const Setup& setup)
{
    const int count = 120'000;
    const QByteArray open = openProjectRow(setup, QStringLiteral("web"));
    if (open.isEmpty() || !QDir().mkpath(setup.home + QStringLiteral("/.halvoren")))
        return false;
    RowWriter json(setup.home + QStringLiteral("/.halvoren/shared.json"));
    json.write("{\"favorites\":[");
    for (int i = 0; i < count; ++i)
        json.write((i ? ",\"p" : "\"p") + QByteArray::number(i).rightJustified(6, '0') + '"');
    json.write("],\"hidden\":[],\"version\":1}");
    return json.finish() && writeFile(setup.home + QStringLiteral("/rows"), open)
        && writeTmux(setup, printRows(setup));
}

// Folders named as the listing's markers, open beside two others, and a shared state naming
// one as a favourite: every tab stays open and the file stays as it is.
bool prepareMarkerNames(const Setup& setup)
{
    QByteArray rows;
    for (const char* name : {"web", "api", "@@HV_SHARED@@"})
        rows += openProjectRow(setup, QString::fromLatin1(name));
    return writeFile(setup.home + QStringLiteral("/rows"), rows)
        && writeShared(setup, "{\"favorites\":[\"@@HV_SHARED@@\",\"@@HV_SHARED_TOO_LARGE@@\"],\"hidden\":[],\"version\":1}")
        && writeTmux(setup, printRows(setup));
}

// A tmux that answers one byte every 100 ms: the listing times out, at start-up and at the
// poll, and the three saved tabs stay saved.
bool prepareListingTimeout(const Setup& setup)
{
    return writeEmptyShared(setup) && writeTmux(setup, "while :; do printf k; sleep 0.1; done");
}

// An open row of ours whose path another client made 8 MiB long, beside an open tab.
bool prepareValue8MiB(const Setup& setup)
{
    const QByteArray open = openProjectRow(setup, QStringLiteral("web"));
    RowWriter rows(setup.home + QStringLiteral("/rows"));
    rows.write("kq-huge-0123456789abcdef\t1\t1\thuge\t/");
    const QByteArray chunk(1 << 16, 'p');
    for (int i = 0; i < (setup.quick ? 2 : 128); ++i)
        rows.write(chunk);
    rows.write("\t\t1\n" + open);
    return !open.isEmpty() && rows.finish() && writeEmptyShared(setup) && writeTmux(setup, printRows(setup));
}

// A valid shared state one byte under the 1 MiB the listing reads (about 104,800 favourites),
// adopted whole, with one open tab listed.
bool prepareShared1MiB(const Setup& setup)
{
    constexpr qint64 bytes = (1 << 20) - 1;
    const QByteArray head = "{\"favorites\":[";
    const QByteArray tail = "],\"hidden\":[],\"version\":1}";
    const QByteArray open = openProjectRow(setup, QStringLiteral("web"));
    const QString path = setup.home + QStringLiteral("/.halvoren/shared.json");
    if (open.isEmpty() || !QDir().mkpath(setup.home + QStringLiteral("/.halvoren")))
        return false;
    RowWriter json(path);
    json.write(head);
    qint64 written = head.size() + tail.size();
    // Names of ten bytes with their quotes and comma, then one that takes up the rest.
    for (int i = 0; written + 10 + 10 <= bytes; ++i) {
        const QByteArray item = (i ? ",\"p" : "\"p") + QByteArray::number(i).rightJustified(6, '0') + '"';
        json.write(item);
        written += item.size();
    }
    json.write(",\"" + QByteArray(bytes - written - 3, 'z') + '"');
    json.write(tail);
    return json.finish() && QFileInfo(path).size() == bytes && writeFile(setup.home + QStringLiteral("/rows"), open)
        && writeTmux(setup, printRows(setup));
}

// A project of 5,000 sub-folders beside the tabs' usual host: opened and closed twice once the
// window has started (the second time from the list already known).
constexpr int subfolderCount = 5000;
const QString subfolderProject = QStringLiteral("grand");

bool prepareSubfolders5000(const Setup& setup)
{
    const QString parent = setup.projects + u'/' + subfolderProject;
    const int count = setup.quick ? 50 : subfolderCount;
    for (int i = 0; i < count; ++i) {
        if (!QDir().mkpath(parent + QStringLiteral("/dossier-%1").arg(i, 4, 10, QLatin1Char('0'))))
            return false;
    }
    return writeFile(setup.home + QStringLiteral("/rows"), openProjectRow(setup, subfolderProject))
        && writeEmptyShared(setup) && writeTmux(setup, printRows(setup));
}

// The folder the picker case opens, and the sessions the host has of it.
QString pickedFolder(const Setup& setup)
{
    return setup.projects + QStringLiteral("/web");
}

// A real tmux (the stand-in hands every call to it) with 1,000 sessions of ours, three of
// them in the project the case opens, the others in folders outside the projects root. The
// sessions run `cat`, so they cost little and print nothing.
bool prepareSessions1000(const Setup& setup)
{
    const QString real = QStandardPaths::findExecutable(QStringLiteral("tmux"));
    if (real.isEmpty() || !writeFile(setup.bin + QStringLiteral("/tmux"), "#!/bin/sh\nexec " + shellQuote(real).toUtf8() + " \"$@\"\n", true))
        return false;
    const int count = setup.quick ? 100 : 1'000;
    const QString web = pickedFolder(setup);
    QByteArray commands;
    for (int i = 0; i < count; ++i) {
        const QString path = i < 3 ? web : setup.home + QStringLiteral("/other/f%1").arg(i % 200);
        if (!QDir().mkpath(path))
            return false;
        const QString name = tmuxSessionName(path) + QStringLiteral("-%1").arg(i + 2);
        commands += "new-session -d -s " + shellQuote(name).toUtf8() + " -c " + shellQuote(path).toUtf8() + " 'exec cat'\n";
    }
    const QString file = setup.home + QStringLiteral("/sessions.conf");
    return writeFile(file, commands) && writeEmptyShared(setup)
        && QProcess::execute(real, {QStringLiteral("start-server"), QStringLiteral(";"), QStringLiteral("source-file"), file}) == 0;
}

struct Case {
    const char* name;
    const char* about;
    bool (*prepare)(const Setup&);
    // Tabs the window should show once the case has run; -1 when the case expects none in
    // particular.
    int expectedTabs;
    // The longest stall is reported but not held to the goal: opening many tabs at once stays
    // one step of the main thread.
    bool stallExempt;
};

const Case cases[] = {
    {"endless-tmux", "a tmux that prints listing rows without end", prepareEndless, -1, false},
    {"listing-10000", "64 tabs opened from a listing of 10,000 open tabs", prepareListing10000, 64, true},
    {"lines-30MB", "30 MB of listing lines without a field", prepareLines30MB, -1, false},
    {"shared-50MB", "a shared-state file of 50 MB", prepareShared50MB, -1, false},
    {"projects-5000", "a root of 5,000 git checkouts, probed for their state", prepareProjects5000, -1, false},
    {"closed-kq-1.6M", "1.6 M closed sessions kq-sN and one open tab", prepareClosedKq, 1, false},
    {"short-rows-2.5M", "2.5 M short session names without the prefix and one open tab", prepareShortRows, 1, false},
    {"name-240B", "an open tab of a folder named with 240 bytes", [](const Setup& s) { return prepareLongName(s, 240); }, 1,
     false},
    {"name-255B", "an open tab of a folder named with 255 bytes", [](const Setup& s) { return prepareLongName(s, 255); }, 1,
     false},
    {"shared-1.2MB", "a shared state of 120,000 favourites (1.2 MB) and one open tab", prepareShared12MB, 1, false},
    {"marker-names", "folders and favourites named as the listing's markers", prepareMarkerNames, 3, false},
    {"listing-timeout", "a tmux that answers a byte every 100 ms, three tabs saved", prepareListingTimeout, 0, false},
    {"value-8MiB", "an open row with a path of 8 MiB beside an open tab", prepareValue8MiB, 1, false},
    {"shared-1MiB", "a shared state of 1,048,575 bytes, adopted, and one open tab", prepareShared1MiB, 1, false},
    {"subfolders-5000", "a project of 5,000 sub-folders opened and closed twice", prepareSubfolders5000, 1, false},
    {"held-change", "a favourite kept here off a full shared state, then three listings", prepareShared1MiB, 1, false},
    {"sessions-1000", "1,000 sessions then a project opened: time to the picker", prepareSessions1000, 0, false},
};

const Case* findCase(const QString& name)
{
    for (const Case& c : cases) {
        if (name == QLatin1String(c.name))
            return &c;
    }
    return nullptr;
}

// The longest lateness of a timer that asks to run every few milliseconds on the main thread.
class StallMeter {
public:
    StallMeter()
    {
        clock.start();
        timer.setTimerType(Qt::PreciseTimer);
        timer.setInterval(meterIntervalMs);
        QObject::connect(&timer, &QTimer::timeout, [this] {
            const qint64 now = clock.nsecsElapsed();
            longest = std::max(longest, now - last - qint64(meterIntervalMs) * 1'000'000);
            last = now;
        });
        timer.start();
    }
    double longestMilliseconds() const { return double(longest) / 1e6; }

private:
    QElapsedTimer clock;
    QTimer timer;
    qint64 last = 0;
    qint64 longest = 0;
};

// A key typed every 100 ms from another thread, as a window system would deliver it, stamped
// when it was typed; the main thread hands it to the active tab's terminal (the window when no
// tab is open) and stamps its arrival once the tab has taken it.
class KeyProbe : public QObject {
public:
    KeyProbe(MacModel& model, QWidget& window) : model(model), window(window)
    {
        typist = std::thread([this] {
            auto next = std::chrono::steady_clock::now();
            while (!stopping.load()) {
                next += keyInterval;
                std::this_thread::sleep_until(next);
                QCoreApplication::postEvent(this, new Typed(std::chrono::steady_clock::now()));
            }
        });
    }
    ~KeyProbe() override { stop(); }
    // Stops typing; keys typed but not yet delivered are dropped with the probe.
    void stop()
    {
        stopping = true;
        if (typist.joinable())
            typist.join();
    }
    double longestMilliseconds() const { return longest; }
    int delivered() const { return count; }
    // Measures from now on: keys typed from now on count, those before do not.
    void restart()
    {
        longest = 0;
        since = std::chrono::steady_clock::now();
    }

protected:
    bool event(QEvent* event) override
    {
        if (event->type() != typedEvent)
            return QObject::event(event);
        const auto typedAt = static_cast<Typed*>(event)->at;
        QWidget* target = &window;
        if (MacTab* tab = model.activeTab(); tab != nullptr && tab->terminal != nullptr)
            target = tab->terminal.data();
        QKeyEvent press(QEvent::KeyPress, Qt::Key_A, Qt::NoModifier, QStringLiteral("a"));
        QKeyEvent release(QEvent::KeyRelease, Qt::Key_A, Qt::NoModifier, QStringLiteral("a"));
        QCoreApplication::sendEvent(target, &press);
        QCoreApplication::sendEvent(target, &release);
        const std::chrono::duration<double, std::milli> late = std::chrono::steady_clock::now() - typedAt;
        if (typedAt >= since)
            longest = std::max(longest, late.count());
        ++count;
        return true;
    }

private:
    static inline const QEvent::Type typedEvent = QEvent::Type(QEvent::registerEventType());
    struct Typed : QEvent {
        explicit Typed(std::chrono::steady_clock::time_point at) : QEvent(typedEvent), at(at) {}
        std::chrono::steady_clock::time_point at;
    };

    MacModel& model;
    QWidget& window;
    std::thread typist;
    std::atomic<bool> stopping = false;
    std::chrono::steady_clock::time_point since;
    double longest = 0;
    int count = 0;
};

// Waits on the main loop until `done` holds or `limitMs` passes; false when it ran out.
bool waitUntil(const std::function<bool()>& done, int limitMs)
{
    QElapsedTimer clock;
    clock.start();
    while (!done()) {
        if (clock.elapsed() > limitMs)
            return false;
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
    }
    return true;
}

// Opens the project's sub-folders and closes them, twice: the first opening lists them from the
// host, the second shows the list already known. Reports the rows it got and the longest stall
// of the main thread while the sidebar followed.
QString expandTwice(MacModel& model, MacConnection& local, const QString& path)
{
    StallMeter stalls;
    for (int round = 0; round < 2; ++round) {
        model.loadSubprojects(path, local);
        const bool listed = waitUntil([&] { return local.subprojects().contains(path); }, 60'000);
        // Time for the sidebar to make its rows on the next turns, then close.
        waitUntil([] { return false; }, 500);
        model.loadSubprojects(path, local);
        waitUntil([] { return false; }, 500);
        if (!listed)
            return QStringLiteral("sub-folders not listed; ");
    }
    return QStringLiteral("subfolders=%1 expand-stall=%2; ")
        .arg(local.subprojects().value(path).size())
        .arg(stalls.longestMilliseconds(), 0, 'f', 1);
}

// Marks the open tab's project a favourite, which the full shared state cannot take, and lists
// the host three times while the change is kept here. Reports how long the change took, the
// longest stall of the main thread and the lateness of keys over the listings, and whether
// the host's file and the change kept here both stayed.
QString listWhileHeld(MacModel& model, MacConnection& local, KeyProbe& keys, const QString& sharedPath)
{
    const QByteArray before = readFile(sharedPath);
    const QString name = QStringLiteral("web");
    QElapsedTimer toggling;
    toggling.start();
    model.toggleFavorite(name, local);
    const double toggleMs = double(toggling.nsecsElapsed()) / 1e6;
    // The listings are what is measured: the change is the user's one click.
    waitUntil([] { return false; }, 200);
    StallMeter stalls;
    keys.restart();
    int listings = 0;
    for (; listings < 3; ++listings) {
        model.requestSync(local);
        if (!waitUntil([&local] { return !local.syncing; }, 60'000))
            break;
    }
    // The keys of the last listing's turn are in.
    waitUntil([] { return false; }, 200);
    return QStringLiteral("toggle=%6 listings=%1 held-stall=%2 held-key=%3 held=%4 shared=%5; ")
        .arg(listings)
        .arg(stalls.longestMilliseconds(), 0, 'f', 1)
        .arg(keys.longestMilliseconds(), 0, 'f', 1)
        .arg(local.favorites().contains(name) ? QStringLiteral("kept") : QStringLiteral("LOST"))
        .arg(readFile(sharedPath) == before ? QStringLiteral("kept") : QStringLiteral("CHANGED"))
        .arg(toggleMs, 0, 'f', 1);
}

// Runs one case in this process and prints its result line.
int runCase(const Case& scenario, bool quick, int argc, char** argv)
{
    QTemporaryDir folder(QDir::tempPath() + QStringLiteral("/hv-hostile-XXXXXX"));
    if (!folder.isValid())
        return 1;
    const Setup setup{folder.path(), folder.path() + QStringLiteral("/bin"), folder.path() + QStringLiteral("/projets"), quick};
    QDir().mkpath(setup.bin);
    QDir().mkpath(setup.projects);
    qputenv("HOME", setup.home.toUtf8());
    qunsetenv("XDG_CONFIG_HOME");
    qputenv("SHELL", "/bin/sh");
    qunsetenv("TMUX");
    qputenv("TMUX_TMPDIR", setup.home.toUtf8());
    qputenv("PATH", setup.bin.toUtf8() + ':' + qgetenv("PATH"));
    // A login shell takes its PATH from the system's profile: the home's puts the stand-in first.
    writeFile(setup.home + QStringLiteral("/.profile"), "export PATH=\"" + setup.bin.toUtf8() + ":$PATH\"\n");
    if (!scenario.prepare(setup)) {
        std::fprintf(stderr, "halvoren-hostile-bench: %s could not be prepared\n", scenario.name);
        return 1;
    }
    corvantix::setLogSink([](corvantix::LogStream, std::string_view) {});
    qInstallMessageHandler([](QtMsgType, const QMessageLogContext&, const QString&) {});
    malloc_trim(0);
    resetPeak();

    QApplication application(argc, argv);
    PreferenceStore store(setup.home + QStringLiteral("/.config/halvoren/preferences.json"));
    Prefs prefs(store);
    prefs.setOnboardingDone(true);
    const bool timesOut = std::strcmp(scenario.name, "listing-timeout") == 0;
    if (timesOut) {
        QList<PersistedTab> saved;
        for (const char* name : {"web", "api", "doc"}) {
            const QString path = setup.projects + u'/' + QLatin1String(name);
            saved << PersistedTab{QLatin1String(name), path, tmuxSessionName(path)};
        }
        prefs.setTabs(MacConnection::localID, saved);
    }
    // The shared state of the marker case, to tell it was left as it was.
    const bool markers = std::strcmp(scenario.name, "marker-names") == 0;
    const QString sharedPath = setup.home + QStringLiteral("/.halvoren/shared.json");
    const QByteArray sharedBefore = markers ? readFile(sharedPath) : QByteArray();
    SecretStore secrets(std::make_unique<MemorySecretBackend>());
    ProfileStore profiles(secrets, setup.home + QStringLiteral("/.config/halvoren"));
    Notifier notifier(QDBusConnection(QStringLiteral("no-bus")));
    MacModel model(prefs, &secrets, &notifier);
    model.profileStore = &profiles;
    // A check would ask the network; the update bar is not what is measured.
    MacUpdate update(QUrl(QStringLiteral("http://127.0.0.1:9/")));
    HalvorenMacApp app(model, update);
    app.mainView->startUpdate = [] {};
    MacConnection& local = *model.localConnection();

    QElapsedTimer clock;
    clock.start();
    StallMeter stalls;
    KeyProbe keys(model, *app.window);
    const Bounds bounds = quick ? quickBounds : fullBounds;
    // Start-up ends with the model's timers in place (its first sync is over); then, in the
    // full run, one poll sync is watched from its start to its end.
    enum class Phase { starting, waitingForPoll, polling, settling, picking } phase = Phase::starting;
    // The picker case opens a project once started and times the picker's coming.
    const bool picks = std::strcmp(scenario.name, "sessions-1000") == 0;
    QElapsedTimer pickClock;
    double pickSeconds = -1;
    qsizetype pickedSessions = 0;
    SidebarView* sidebar = app.mainView->sidebarView;
    QObject::connect(sidebar, &SidebarView::pickerChanged, [&] {
        if (pickSeconds < 0 && sidebar->picker()) {
            pickSeconds = double(pickClock.nsecsElapsed()) / 1e9;
            pickedSessions = sidebar->picker()->sessions.size();
            QCoreApplication::quit();
        }
    });
    QString outcome;
    bool overran = false;
    qint64 phaseStart = 0;
    qint64 startTick = 0;
    int startFailures = 0;
    QTimer watch;
    watch.setInterval(20);
    QObject::connect(&watch, &QTimer::timeout, [&] {
        const qint64 now = clock.elapsed();
        switch (phase) {
        case Phase::starting:
            if (!model.timers.isEmpty() && picks) {
                phase = Phase::picking;
                phaseStart = now;
                pickClock.start();
                const QString web = pickedFolder(setup);
                sidebar->openProject(MacProject{QStringLiteral("web"), web, tmuxSessionName(web)}, local);
            } else if (!model.timers.isEmpty()) {
                phase = bounds.poll > 0 ? Phase::waitingForPoll : Phase::settling;
                phaseStart = now;
                startTick = model.tick;
                startFailures = local.failures;
            } else if (now > bounds.start * 1000LL) {
                outcome = QStringLiteral("start not over in %1 s; ").arg(bounds.start);
                overran = true;
                QCoreApplication::quit();
            }
            return;
        case Phase::waitingForPoll:
        case Phase::polling:
            // The poll timer counts its firings and marks the sync it starts at once, so a
            // sync shorter than one look of this watch is not missed.
            if (phase == Phase::waitingForPoll && model.tick > startTick)
                phase = Phase::polling;
            // A listing that failed ends the poll's sync even when polls queued behind it run on.
            if (phase == Phase::polling && (!local.syncing || local.failures > startFailures))
                QCoreApplication::quit();
            if (now - phaseStart > bounds.poll * 1000LL) {
                outcome = QStringLiteral("poll sync not over in %1 s; ").arg(bounds.poll);
                overran = true;
                QCoreApplication::quit();
            }
            return;
        case Phase::settling:
            if (now - phaseStart > 300)
                QCoreApplication::quit();
            return;
        case Phase::picking:
            if (now - phaseStart > 60'000) {
                outcome = QStringLiteral("picker not shown in 60 s; ");
                overran = true;
                QCoreApplication::quit();
            }
            return;
        }
    });
    watch.start();
    app.window->show();
    QApplication::exec();
    watch.stop();
    const bool expands = std::strcmp(scenario.name, "subfolders-5000") == 0 && !overran;
    if (expands)
        outcome += expandTwice(model, local, setup.projects + u'/' + subfolderProject);
    if (std::strcmp(scenario.name, "held-change") == 0 && !overran)
        outcome += listWhileHeld(model, local, keys, sharedPath);
    keys.stop();

    const double seconds = double(clock.elapsed()) / 1000;
    const double peak = double(statusBytes("VmHWM")) / 1e6;
    if (std::strcmp(scenario.name, "projects-5000") == 0)
        outcome += QStringLiteral("projects=%1 git-state=%2 ").arg(local.projects().size()).arg(local.gitInfo().size());
    outcome += QStringLiteral("tabs=%1").arg(model.tabs().size());
    if (scenario.expectedTabs >= 0 && model.tabs().size() != scenario.expectedTabs)
        outcome += QStringLiteral(" (%1 expected)").arg(scenario.expectedTabs);
    outcome += QStringLiteral(" live=%1 favorites=%2 failures=%3%4 keys=%5")
                   .arg(local.liveSessions().size())
                   .arg(local.favorites().size())
                   .arg(local.failures)
                   .arg(local.unreachable() ? QStringLiteral(" unreachable") : QString())
                   .arg(keys.delivered());
    if (timesOut)
        outcome += QStringLiteral(" saved=%1").arg(prefs.tabs(MacConnection::localID).size());
    if (picks) {
        outcome += QStringLiteral(" picker=%1s sessions=%2").arg(pickSeconds, 0, 'f', 2).arg(pickedSessions);
        QProcess::execute(QStringLiteral("tmux"), {QStringLiteral("kill-server")});
    }
    if (markers)
        outcome += readFile(sharedPath) == sharedBefore ? QStringLiteral(" shared=kept") : QStringLiteral(" shared=CHANGED");
    if (model.banner())
        outcome += QStringLiteral(" banner=\"%1\"").arg(model.banner()->left(80));
    std::printf("result peak=%.1f stall=%.1f key=%.1f time=%.1f outcome=%s\n", peak, stalls.longestMilliseconds(),
                keys.longestMilliseconds(), seconds, outcome.toUtf8().constData());
    std::fflush(stdout);
    // A window that never got through its start or its poll did not run the case.
    return overran ? exitOverran : 0;
}

// The usage, with the goals and the cases this build knows.
std::string usageText()
{
    QString text = QString::asprintf(
        "usage: halvoren-hostile-bench [--quick] [CASE...]\n"
        "       halvoren-hostile-bench --help\n"
        "\n"
        "Runs the application's window and model against hostile hosts, each case in a\n"
        "child process, and prints per case the whole resident peak, the longest\n"
        "main-thread stall (a %d ms timer's lateness, or a key typed every 100 ms\n"
        "reaching the active tab late, whichever is longer) and what the model made of\n"
        "it, marked against %.0f MB and %.0f ms. Exits 1 when a case crashed or could\n"
        "not run; goals missed are reported only.\n"
        "\n"
        "  --quick       every case once on small input, within seconds\n"
        "  --case CASE   run CASE in this process, as each child does\n"
        "  --help        this text\n"
        "\n"
        "Cases (all by default):\n",
        meterIntervalMs, residentGoalMB, stallGoalMs);
    for (const Case& c : cases)
        text += QString::asprintf("  %-16s %s\n", c.name, c.about);
    text += QStringLiteral("\nThe window is drawn off screen unless QT_QPA_PLATFORM names a platform.\n");
    return text.toStdString();
}

const Case* findCase(std::string_view name)
{
    return findCase(QString::fromUtf8(name.data(), static_cast<qsizetype>(name.size())));
}

// The child's result line, or nothing when it crashed, timed out or printed none.
struct Result {
    double peak = 0, stall = 0, key = 0, seconds = 0;
    QString outcome;
    bool overran = false;
};

std::optional<Result> runChild(const Case& scenario, bool quick)
{
    QStringList arguments{QStringLiteral("--case"), QString::fromLatin1(scenario.name)};
    if (quick)
        arguments << QStringLiteral("--quick");
    QProcess child;
    child.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    // This very program, however it was called.
    child.start(QFile::symLinkTarget(QStringLiteral("/proc/self/exe")), arguments);
    const int limit = (quick ? quickBounds : fullBounds).child;
    if (!child.waitForFinished(limit * 1000)) {
        child.kill();
        child.waitForFinished(5000);
        std::fprintf(stderr, "halvoren-hostile-bench: %s did not finish in %d s\n", scenario.name, limit);
        return std::nullopt;
    }
    if (child.exitStatus() != QProcess::NormalExit || (child.exitCode() != 0 && child.exitCode() != exitOverran))
        return std::nullopt;
    static const QRegularExpression line(
        QStringLiteral("^result peak=([0-9.]+) stall=([-0-9.]+) key=([0-9.]+) time=([0-9.]+) outcome=(.*)$"),
        QRegularExpression::MultilineOption);
    const QRegularExpressionMatch match = line.match(QString::fromUtf8(child.readAllStandardOutput()));
    if (!match.hasMatch())
        return std::nullopt;
    return Result{match.captured(1).toDouble(), match.captured(2).toDouble(), match.captured(3).toDouble(),
                  match.captured(4).toDouble(), match.captured(5), child.exitCode() == exitOverran};
}

} // namespace

int main(int argc, char** argv)
{
    const std::string text = usageText();
    const corvantix::ToolUsage usage{"halvoren-hostile-bench", text};
    bool quick = false;
    // The case a child runs: its parent names it, never a user.
    const Case* only = nullptr;
    const corvantix::ToolOption options[] = {
        {"--quick", false, corvantix::takeFlag(quick)},
        {"--case", true, [&only](std::string_view name) { return (only = findCase(name)) != nullptr; }},
    };
    QList<const Case*> chosen;
    for (const std::string_view word : corvantix::readToolArguments(argc, argv, usage, options).words) {
        const Case* named = findCase(word);
        if (named == nullptr)
            corvantix::refuseArguments(usage, "unknown case " + std::string(word));
        chosen << named;
    }
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    if (only != nullptr)
        return runCase(*only, quick, argc, argv);
    if (chosen.isEmpty()) {
        for (const Case& c : cases)
            chosen << &c;
    }

    if (quick)
        std::printf("quick run on small inputs: the marks say nothing of the full cases\n");
    std::printf("%-16s %9s %9s %9s %7s  %-6s %-6s %s\n", "case", "peak MB", "stall ms", "key ms", "time s", "memory",
                "stall", "outcome");
    std::fflush(stdout);
    int status = 0;
    for (const Case* scenario : chosen) {
        const std::optional<Result> result = runChild(*scenario, quick);
        if (!result) {
            std::printf("%-16s %9s %9s %9s %7s  %-6s %-6s %s\n", scenario->name, "-", "-", "-", "-", "-", "-",
                        "crashed or did not run (see above)");
            std::fflush(stdout);
            status = 1;
            continue;
        }
        const double stall = std::max(result->stall, result->key);
        const char* memoryMark = result->peak < residentGoalMB ? "pass" : "OVER";
        const char* stallMark = scenario->stallExempt ? "report" : stall < stallGoalMs ? "pass" : "OVER";
        std::printf("%-16s %9.1f %9.1f %9.1f %7.1f  %-6s %-6s %s\n", scenario->name, result->peak, result->stall, result->key,
                    result->seconds, memoryMark, stallMark, result->outcome.toUtf8().constData());
        std::fflush(stdout);
        if (result->overran)
            status = 1;
    }
    return status;
}
