// The application end to end on a private X server: the first run's sheet, a projects folder
// chosen with the folder chooser, a project opened from the sidebar into a tab whose shell runs
// in a private tmux server, typing into it, and the whole window compared with a reference.
#include "engine/drawing/screenshot/ReferenceImage.h"

#include <gtest/gtest.h>

#include <QFontDatabase>
#include <QGuiApplication>
#include <QImage>
#include <QJsonDocument>
#include <QJsonObject>
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
    void open()
    {
        app.open(HALVOREN_APP, {"TMUX_TMPDIR=" + tmuxFolder.string(), "LANG=C.UTF-8", "LC_ALL=C.UTF-8",
                                "XDG_CONFIG_HOME=" + (app.home / ".config").string()});
    }
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
    std::vector<unsigned long> visibleWindowIds() const
    {
        std::istringstream listing(runCommand("xdotool search --onlyvisible --pid " + std::to_string(app.pid)).output);
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
}

// A window blocked by a modal sheet would drop the close request: the first run could only be
// left by killing the program.
TEST_F(AppWindowTest, ClosingTheWindowDuringTheFirstRunQuitsAndStoresNothing)
{
    ASSERT_NO_FATAL_FAILURE(open());
    ASSERT_TRUE(XApplication::pollUntil([&] { return visibleWindows() == 2; })) << "no first-run sheet";
    ASSERT_TRUE(halvoren::test::sendDeleteWindow(std::stoul(app.window)));
    ASSERT_TRUE(XApplication::pollUntil([&] { return app.hasExited(); })) << "the application kept running";
    EXPECT_TRUE(WIFEXITED(app.status) && WEXITSTATUS(app.status) == 0) << "status " << app.status;
    EXPECT_FALSE(preferences().contains(QStringLiteral("flutter.onboardingDone")));
    EXPECT_FALSE(preferences().contains(QStringLiteral("flutter.projectsRoots")));
}

} // namespace

int main(int argc, char** argv)
{
    QGuiApplication application(argc, argv);
    testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
