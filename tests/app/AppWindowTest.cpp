// The application end to end on a private X server: the first run's sheet, a projects folder
// chosen with the folder chooser, a project opened from the sidebar into a tab whose shell runs
// in a private tmux server, typing into it, and the whole window compared with a reference.
#include "engine/drawing/screenshot/ReferenceImage.h"

#include <gtest/gtest.h>

#include <QFile>
#include <QFontDatabase>
#include <QGuiApplication>
#include <QImage>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QLibraryInfo>
#include <QPixmap>
#include <QScreen>

// Last: the X headers define names that Qt's headers use.
#include "support/XApplication.h"

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <set>
#include <sstream>
#include <fstream>

#include <sys/inotify.h>
#include <unistd.h>

namespace {

namespace fs = std::filesystem;
using halvoren::test::runCommand;
using halvoren::test::XApplication;

// A property of an X window as its raw items; empty when the window has none.
std::string windowProperty(unsigned long window, const char* name)
{
    Display* display = XOpenDisplay(nullptr);
    if (display == nullptr)
        return {};
    Atom type = None;
    int format = 0;
    unsigned long items = 0, after = 0;
    unsigned char* data = nullptr;
    std::string value;
    if (XGetWindowProperty(display, window, XInternAtom(display, name, False), 0, 1L << 20, False, AnyPropertyType,
                           &type, &format, &items, &after, &data)
            == Success
        && data != nullptr) {
        // Items of format 32 are longs in memory, whatever their size on the wire.
        const std::size_t size = format == 8 ? 1 : format == 16 ? sizeof(short) : sizeof(long);
        value.assign(reinterpret_cast<const char*>(data), items * size);
    }
    if (data != nullptr)
        XFree(data);
    XCloseDisplay(display);
    return value;
}

class AppWindowTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_NO_FATAL_FAILURE(XApplication::requireDisplay());
        ASSERT_TRUE(runCommand("command -v tmux").ok) << "tmux is missing; install the Debian package tmux";
        // The picture is drawn with the desktop's sans face and the terminal's fixed one.
        ASSERT_TRUE(QFontDatabase::families().contains(QStringLiteral("Noto Sans")))
            << "the window picture needs the Debian package fonts-noto-core";
        ASSERT_TRUE(QFontDatabase::families().contains(QStringLiteral("DejaVu Sans Mono")))
            << "the window picture needs the Debian package fonts-dejavu-core";
        // The tab's tmux server is the test's own, with a configuration of the test's home: no
        // status line, whose clock would change every picture.
        tmuxFolder = app.home / "tmux";
        fs::create_directories(tmuxFolder);
        std::ofstream(app.home / ".tmux.conf") << "set -g status off\n";
    }
    void TearDown() override { runCommand("TMUX_TMPDIR='" + tmuxFolder.string() + "' tmux kill-server"); }
    std::string tmux(const std::string& arguments) const
    {
        return runCommand("env -u TMUX TMUX_TMPDIR='" + tmuxFolder.string() + "' tmux " + arguments).output;
    }
    // The environment of every launch with the test's configuration and tmux server.
    std::vector<std::string> environment() const
    {
        return {"TMUX_TMPDIR=" + tmuxFolder.string(), "LANG=C.UTF-8", "LC_ALL=C.UTF-8",
                "XDG_CONFIG_HOME=" + (app.home / ".config").string()};
    }
    void open() { app.open(HALVOREN_APP, environment()); }
    QJsonObject preferences() const
    {
        const std::string text = halvoren::test::readWholeFile(app.home / ".config/halvoren/preferences.json");
        return QJsonDocument::fromJson(QByteArray::fromStdString(text)).object();
    }
    static QImage screen() { return QGuiApplication::primaryScreen()->grabWindow(0).toImage(); }
    static void click(int x, int y)
    {
        runCommand("xdotool mousemove " + std::to_string(x) + " " + std::to_string(y) + " click 1");
    }
    // The application's visible windows: the main window, then each open sheet or dialog.
    std::size_t visibleWindows() const
    {
        const std::string listing = runCommand("xdotool search --onlyvisible --pid " + std::to_string(app.pid)).output;
        return static_cast<std::size_t>(std::count(listing.begin(), listing.end(), '\n'));
    }
    std::vector<unsigned long> visibleWindowIds() const { return visibleWindowIds(app.pid); }
    static std::vector<unsigned long> visibleWindowIds(pid_t pid)
    {
        std::istringstream listing(runCommand("xdotool search --onlyvisible --pid " + std::to_string(pid)).output);
        std::vector<unsigned long> ids;
        for (unsigned long id = 0; listing >> id;)
            ids.push_back(id);
        return ids;
    }
    // Some pixel of the row is far from the dark background: its text has been drawn.
    static bool rowHasText(int x, int y)
    {
        const QImage picture = screen().copy(x, y, 120, 18);
        for (int i = 0; i < picture.width() * picture.height(); ++i) {
            if (qGray(picture.pixel(i % picture.width(), i / picture.width())) > 160)
                return true;
        }
        return false;
    }
    // The session's screen as tmux keeps it (trailing blanks of a line dropped).
    std::string pane(const std::string& session) const { return tmux("capture-pane -p -t '=" + session + ":'"); }

    XApplication app;
    fs::path tmuxFolder;
};

TEST_F(AppWindowTest, FirstRunChoosesAFolderOpensAProjectAndTypesIntoItsShell)
{
    fs::create_directories(app.home / "code/alpha");
    fs::create_directories(app.home / "code/beta");
    // The prompt is the same for every account, so the picture is too.
    std::ofstream(app.home / ".profile") << "PS1='$ '\n";
    ASSERT_NO_FATAL_FAILURE(open());
    // The first-run sheet is up over the window; "Choisir…" opens the folder chooser, whose
    // field takes a typed path.
    ASSERT_TRUE(XApplication::pollUntil([&] { return visibleWindows() == 2; })) << "no first-run sheet";
    EXPECT_FALSE(preferences().contains(QStringLiteral("flutter.onboardingDone")));
    // Both windows carry the application's icon; the main window is "Halvoren" alone.
    int firstRunWindowsWithIcon = 0;
    std::set<std::string> firstRunTitles;
    for (const unsigned long window : visibleWindowIds()) {
        firstRunWindowsWithIcon += windowProperty(window, "_NET_WM_ICON").empty() ? 0 : 1;
        firstRunTitles.insert(windowProperty(window, "_NET_WM_NAME"));
    }
    EXPECT_EQ(firstRunWindowsWithIcon, 2);
    EXPECT_EQ(firstRunTitles, (std::set<std::string>{"Bienvenue dans Halvoren", "Halvoren"}));
    const std::vector<unsigned long> beforeChooser = visibleWindowIds();
    click(885, 418);
    ASSERT_TRUE(XApplication::pollUntil([&] { return visibleWindows() == 3; })) << "no folder chooser";
    // Qt's own chooser speaks French as the rest of the window, whatever the locale.
    ASSERT_TRUE(QFile::exists(QLibraryInfo::path(QLibraryInfo::TranslationsPath) + QStringLiteral("/qtbase_fr.qm")))
        << "Qt's French texts are missing; install the Debian package qt6-translations-l10n";
    std::string chooserTitle;
    for (const unsigned long window : visibleWindowIds()) {
        if (std::find(beforeChooser.begin(), beforeChooser.end(), window) == beforeChooser.end())
            chooserTitle = windowProperty(window, "_NET_WM_NAME");
    }
    EXPECT_EQ(chooserTitle, "Chercher dans le dossier");
    // A window is shown before it takes the keyboard: typed keys must wait for the chooser's
    // focus, or a loaded machine sends the first of them elsewhere.
    ASSERT_TRUE(XApplication::pollUntil([&] {
        const std::string focused = runCommand("xdotool getwindowfocus").output;
        const unsigned long id = std::strtoul(focused.c_str(), nullptr, 10);
        const std::vector<unsigned long> shown = visibleWindowIds();
        return std::find(shown.begin(), shown.end(), id) != shown.end()
            && std::find(beforeChooser.begin(), beforeChooser.end(), id) == beforeChooser.end();
    })) << "the chooser never took the keyboard";
    const std::string code = (app.home / "code").string();
    ASSERT_TRUE(runCommand("xdotool type --delay 20 '" + code + "'").ok);
    ASSERT_TRUE(runCommand("xdotool key Return").ok);
    ASSERT_TRUE(XApplication::pollUntil([&] { return visibleWindows() == 2; })) << "the chooser stayed open";
    // Return on the sheet is "Commencer": the chosen folder is the only root.
    ASSERT_TRUE(runCommand("xdotool key Return").ok);
    ASSERT_TRUE(XApplication::pollUntil([&] { return visibleWindows() == 1; })) << "the sheet stayed open";
    ASSERT_TRUE(XApplication::pollUntil([&] { return preferences().value(QStringLiteral("flutter.onboardingDone")).toBool(); }));
    EXPECT_EQ(preferences().value(QStringLiteral("flutter.projectsRoots")).toVariant().toStringList(),
              QStringList{QString::fromStdString(code)});
    // The sidebar lists the two projects; a click on the first opens it in a tab whose shell
    // runs in a session of the test's tmux server.
    ASSERT_TRUE(XApplication::pollUntil([&] { return rowHasText(40, 92) && rowHasText(40, 116); }))
        << "the sidebar never listed the projects";
    click(63, 101);
    std::string session;
    ASSERT_TRUE(XApplication::pollUntil([&] {
        const std::string names = tmux("ls -F '#{session_name}'");
        session = names.substr(0, names.find('\n'));
        return session.starts_with("kq-alpha-");
    })) << "no tmux session for the project";
    ASSERT_TRUE(XApplication::pollUntil([&] { return pane(session).starts_with("$\n"); }))
        << "no shell prompt in the tab: " << pane(session) << tmux("ls");
    // A still caret and an empty screen, so the picture holds only what is typed next.
    ASSERT_TRUE(XApplication::typeLine("printf \"\\033[2 q\\033[H\\033[2J\""));
    ASSERT_TRUE(XApplication::pollUntil([&] { return pane(session).starts_with("$\n"); })) << pane(session);
    ASSERT_TRUE(XApplication::typeLine("echo ok"));
    ASSERT_TRUE(XApplication::pollUntil([&] { return pane(session).starts_with("$ echo ok\nok\n$\n"); }))
        << pane(session);
    // The window is named after the tab and its folder, with nothing after them.
    const std::vector<unsigned long> windows = visibleWindowIds();
    ASSERT_EQ(windows.size(), 1u);
    EXPECT_TRUE(XApplication::pollUntil([&] { return windowProperty(windows[0], "_NET_WM_NAME") == "alpha — code/alpha"; }))
        << windowProperty(windows[0], "_NET_WM_NAME");
    EXPECT_FALSE(windowProperty(windows[0], "_NET_WM_ICON").empty());
    // The view draws what tmux has shown a moment later; the picture must then match.
    ASSERT_TRUE(XApplication::pollUntil([&] {
        return corvantix::testing::matchesReference(screen().copy(0, 0, 1400, 880), QStringLiteral(HALVOREN_APP_SCREENSHOT_DIR),
                                                    QStringLiteral("app-window"));
    })) << "the window never matched tests/app/data/screenshots/app-window.png";

    // Closed as a user closes it once the model's work is done: the application ends cleanly,
    // which under the sanitizers includes finding no memory left unfreed.
    ASSERT_TRUE(app.waitUntilModelIdle()) << "the model's host work never came to rest";
    ASSERT_TRUE(halvoren::test::sendDeleteWindow(windows[0]));
    ASSERT_TRUE(XApplication::pollUntil([&] { return app.hasExited(); })) << "the application kept running";
    EXPECT_TRUE(WIFEXITED(app.status) && WEXITSTATUS(app.status) == 0) << "status " << app.status;
}

// A window blocked by a modal sheet would drop the close request: the first run could only be
// left by killing the program.
TEST_F(AppWindowTest, ClosingTheWindowDuringTheFirstRunQuitsAndStoresNothing)
{
    ASSERT_NO_FATAL_FAILURE(open());
    ASSERT_TRUE(XApplication::pollUntil([&] { return visibleWindows() == 2; })) << "no first-run sheet";
    ASSERT_TRUE(app.waitUntilModelIdle()) << "the model's host work never came to rest";
    ASSERT_TRUE(halvoren::test::sendDeleteWindow(std::stoul(app.window)));
    ASSERT_TRUE(XApplication::pollUntil([&] { return app.hasExited(); })) << "the application kept running";
    EXPECT_TRUE(WIFEXITED(app.status) && WEXITSTATUS(app.status) == 0) << "status " << app.status;
    EXPECT_FALSE(preferences().contains(QStringLiteral("flutter.onboardingDone")));
    EXPECT_FALSE(preferences().contains(QStringLiteral("flutter.projectsRoots")));
}

// Started with the file-size signal at its default, the running application ignores it (SIGXFSZ,
// signal 25, is bit 24 of the mask of ignored signals in its status): a write past the
// file-size limit then fails and is reported, and never ends the application with its work.
TEST_F(AppWindowTest, TheRunningApplicationIgnoresTheFileSizeSignal)
{
    ASSERT_NO_FATAL_FAILURE(open());
    const std::string status = halvoren::test::readWholeFile("/proc/" + std::to_string(app.pid) + "/status");
    const auto at = status.find("\nSigIgn:\t");
    ASSERT_NE(at, std::string::npos) << status;
    const unsigned long long ignored = std::stoull(status.substr(at + 9, 16), nullptr, 16);
    EXPECT_NE(ignored & (1ULL << (SIGXFSZ - 1)), 0ULL) << status.substr(at + 1, 24);
    ASSERT_TRUE(app.waitUntilModelIdle()) << "the model's host work never came to rest";
    ASSERT_TRUE(halvoren::test::sendDeleteWindow(std::stoul(app.window)));
    ASSERT_TRUE(XApplication::pollUntil([&] { return app.hasExited(); })) << "the application kept running";
}

// Top-level windows from the bottom of the stack to the top.
std::vector<unsigned long> stackingOrder()
{
    std::vector<unsigned long> order;
    Display* display = XOpenDisplay(nullptr);
    if (display == nullptr)
        return order;
    Window root = 0, parent = 0;
    Window* children = nullptr;
    unsigned int count = 0;
    if (XQueryTree(display, DefaultRootWindow(display), &root, &parent, &children, &count) != 0) {
        order.assign(children, children + count);
        XFree(children);
    }
    XCloseDisplay(display);
    return order;
}

// Names of the files made or moved into `folder` since `watch` began (inotify).
std::vector<std::string> filesWritten(int watch)
{
    std::vector<std::string> names;
    alignas(inotify_event) char buffer[64 * 1024];
    for (ssize_t count; (count = ::read(watch, buffer, sizeof buffer)) > 0;) {
        for (ssize_t at = 0; at < count;) {
            const auto* event = reinterpret_cast<const inotify_event*>(buffer + at);
            if (event->len > 0)
                names.emplace_back(event->name);
            at += static_cast<ssize_t>(sizeof(inotify_event) + event->len);
        }
    }
    return names;
}

// One application per configuration: a second launch with the same preferences brings the
// running window forward and leaves; the first stays as it was, its preferences its own. A
// launch with another configuration runs beside it, and a first one killed outright (its
// tmux server still running) does not stop the next launch.
TEST_F(AppWindowTest, ALaunchWithTheSameConfigurationBringsTheRunningWindowForward)
{
    const fs::path project = app.home / "code/alpha";
    fs::create_directories(project);
    fs::create_directories(app.home / ".config/halvoren");
    // Past the first run, with a tab to restore: the application makes its session in the
    // test's tmux server, which then outlives it.
    const QJsonObject tab{{"name", "alpha"}, {"path", QString::fromStdString(project.string())}, {"tmux", "hv-alpha"}};
    const QJsonObject stored{
        {"flutter.onboardingDone", true},
        {"flutter.projectsRoots", QJsonArray{QString::fromStdString((app.home / "code").string())}},
        {"flutter.tabs_local", QJsonArray{QString::fromUtf8(QJsonDocument(tab).toJson(QJsonDocument::Compact))}}};
    std::ofstream(app.home / ".config/halvoren/preferences.json") << QJsonDocument(stored).toJson().toStdString();
    ASSERT_NO_FATAL_FAILURE(open());
    ASSERT_TRUE(XApplication::pollUntil([&] { return tmux("list-clients -F '#{session_name}'") == "hv-alpha\n"; }))
        << "the tab never attached: " << tmux("ls");
    ASSERT_EQ(visibleWindows(), 1u);

    // Another configuration runs beside it, above it and with the focus.
    XApplication other;
    ASSERT_NO_FATAL_FAILURE(other.open(HALVOREN_APP, {"LANG=C.UTF-8", "LC_ALL=C.UTF-8"}));
    const auto above = [](unsigned long window, const std::vector<unsigned long>& others) {
        const std::vector<unsigned long> order = stackingOrder();
        const auto place = [&](unsigned long id) { return std::find(order.begin(), order.end(), id) - order.begin(); };
        return std::all_of(others.begin(), others.end(), [&](unsigned long id) { return place(window) > place(id); });
    };
    const unsigned long firstWindow = std::stoul(app.window);
    const std::vector<unsigned long> otherWindows = visibleWindowIds(other.pid);
    ASSERT_FALSE(otherWindows.empty());
    ASSERT_TRUE(above(otherWindows.front(), {firstWindow}));

    const fs::path config = app.home / ".config/halvoren";
    const int watch = ::inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
    ASSERT_GE(watch, 0);
    ASSERT_GE(::inotify_add_watch(watch, config.c_str(), IN_CREATE | IN_MOVED_TO), 0);
    XApplication second(app.home);
    ASSERT_NO_FATAL_FAILURE(second.start(HALVOREN_APP, environment()));
    ASSERT_TRUE(XApplication::pollUntil([&] { return second.hasExited(); })) << "a second application is running";
    EXPECT_TRUE(WIFEXITED(second.status) && WEXITSTATUS(second.status) == 0) << "status " << second.status;
    EXPECT_TRUE(XApplication::pollUntil([&] { return above(firstWindow, otherWindows); }))
        << "the running window did not come forward";
    EXPECT_TRUE(XApplication::pollUntil([&] {
        return std::strtoul(runCommand("xdotool getwindowfocus").output.c_str(), nullptr, 10) == firstWindow;
    })) << "the running window did not take the focus";
    EXPECT_TRUE(halvoren::test::processRuns(app.pid));
    EXPECT_EQ(visibleWindowIds(), std::vector<unsigned long>{firstWindow});
    EXPECT_EQ(tmux("list-clients -F '#{session_name}'"), "hv-alpha\n");
    const std::string secondsFile = "preferences.json.tmp." + std::to_string(second.pid);
    for (const std::string& name : filesWritten(watch))
        EXPECT_NE(name, secondsFile) << "the second launch wrote the preferences";
    ::close(watch);
    EXPECT_TRUE(halvoren::test::processRuns(other.pid));

    // Killed outright, the first leaves its lock and socket file behind, and the tmux server
    // it started goes on: none of it stops the next launch, which answers the one after.
    ASSERT_EQ(::kill(app.pid, SIGKILL), 0);
    ASSERT_TRUE(XApplication::pollUntil([&] { return app.hasExited(); }));
    ASSERT_NE(tmux("ls"), "");
    XApplication next(app.home);
    ASSERT_NO_FATAL_FAILURE(next.open(HALVOREN_APP, environment()));
    XApplication third(app.home);
    ASSERT_NO_FATAL_FAILURE(third.start(HALVOREN_APP, environment()));
    ASSERT_TRUE(XApplication::pollUntil([&] { return third.hasExited(); })) << "a second application is running";
    EXPECT_TRUE(WIFEXITED(third.status) && WEXITSTATUS(third.status) == 0) << "status " << third.status;
    EXPECT_TRUE(halvoren::test::processRuns(next.pid));
    EXPECT_EQ(visibleWindowIds(next.pid).size(), 1u);
}

} // namespace

int main(int argc, char** argv)
{
    QGuiApplication application(argc, argv);
    testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
