// The terminal window tool end to end on a private Xvfb server, driven with xdotool: typing,
// closing the window, the mouse (reports and copy by dragging) and the find bar. Every wait is a
// generous poll: nothing here asserts how fast anything happens.
#include "support/XApplication.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <optional>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

namespace {

using namespace std::chrono_literals;
namespace fs = std::filesystem;
using halvoren::test::processRuns;
using halvoren::test::readWholeFile;
using halvoren::test::XApplication;

#if !defined(HALVOREN_TERM_WINDOW) || !defined(HALVOREN_MOUSE_PROBE)
#error "HALVOREN_TERM_WINDOW and HALVOREN_MOUSE_PROBE must name the terminal window tool and the mouse probe"
#endif

bool pollUntil(const std::function<bool()>& condition) { return XApplication::pollUntil(condition); }
halvoren::test::CommandResult run(const std::string& command) { return halvoren::test::runCommand(command); }
std::string readFile(const fs::path& path) { return readWholeFile(path); }
bool typeLine(const std::string& text) { return XApplication::typeLine(text); }

// What a caller has set never reaches the program where the test chose a value, and the test's
// own choices replace the defaults: appended after the caller's, they would lose.
TEST(ChildEnvironment, TheTestsValuesReplaceTheCallersAndTmuxIsUnset)
{
    const std::vector<std::string> caller{"PATH=/usr/bin", "HOME=/home/me", "XDG_CONFIG_HOME=/home/me/conf",
        "XDG_DATA_HOME=/home/me/data", "XDG_CACHE_HOME=/home/me/cache", "XDG_STATE_HOME=/home/me/state",
        "TMUX_TMPDIR=/run/me", "TMUX=/tmp/tmux-1/default,5,0", "TMUX_PANE=%1", "LANG=fr_FR.UTF-8",
        "LC_ALL=fr_FR.UTF-8", "LC_MESSAGES=de_DE.UTF-8", "LANGUAGE=fr", "DBUS_SESSION_BUS_ADDRESS=unix:path=/run/me/bus",
        "SHELL=/bin/zsh", "ENV=/home/me/.shrc", "DISPLAY=:7"};
    const std::vector<std::string> got = halvoren::test::childEnvironment(caller, "/tmp/t",
        {"TMUX_TMPDIR=/tmp/t/tmux", "LC_ALL=C.UTF-8", "XDG_CONFIG_HOME=/tmp/t/conf"});
    std::vector<std::string> sorted = got;
    std::sort(sorted.begin(), sorted.end());
    const std::vector<std::string> expected{"DBUS_SESSION_BUS_ADDRESS=unix:path=/tmp/t/no-session-bus", "DISPLAY=:7",
        "HOME=/tmp/t", "LANG=C.UTF-8", "LC_ALL=C.UTF-8", "PATH=/usr/bin", "QT_QPA_PLATFORM=xcb", "SHELL=/bin/sh",
        "TMUX_TMPDIR=/tmp/t/tmux", "XDG_CACHE_HOME=/tmp/t/.cache", "XDG_CONFIG_HOME=/tmp/t/conf",
        "XDG_DATA_HOME=/tmp/t/.local/share", "XDG_STATE_HOME=/tmp/t/.local/state"};
    EXPECT_EQ(sorted, expected);
}

class WindowTest : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_NO_FATAL_FAILURE(XApplication::requireDisplay()); }
    void TearDown() override
    {
        if (shell && processRuns(*shell))
            ::kill(*shell, SIGKILL);
    }
    // Starts the tool and waits for its window to be mapped and focused.
    void openWindow()
    {
        ASSERT_NO_FATAL_FAILURE(app.open(HALVOREN_TERM_WINDOW));
        home = app.home;
        window = app.window;
    }
    bool hasExited() { return app.hasExited(); }
    // Pastes the clipboard into a command line that writes it to a file of the home; the
    // file's text once the line has run.
    std::string pasteIntoFile(const std::string& name)
    {
        const fs::path file = home / name;
        if (!run("xdotool type --delay 20 'printf \"%s\\n\" \"'").ok || !run("xdotool key ctrl+shift+v").ok
            || !typeLine("\" > \"$HOME/" + name + "\""))
            return "<typing failed>";
        if (!pollUntil([&] { return readFile(file).ends_with("\n"); }))
            return "<the pasted line did not run>";
        return readFile(file);
    }
    // Runs the mouse probe (data/mouse-probe.py) in the shell and learns where the terminal's
    // cells lie in the window from a click it reports in pixels.
    void calibrate()
    {
        ASSERT_TRUE(fs::exists("/usr/bin/python3")) << "python3 is missing (Debian package python3)";
        probeOut = home / "probe.out";
        ASSERT_TRUE(typeLine("/usr/bin/python3 \"" HALVOREN_MOUSE_PROBE "\" \"$HOME/probe.out\""));
        ASSERT_TRUE(pollUntil([&] { return probeLine("pixels").has_value(); })) << "the probe did not start";
        const std::optional<std::string> size = probeLine("cell ");
        ASSERT_TRUE(size);
        ASSERT_EQ(std::sscanf(size->c_str(), "cell %d %d", &cellHeight, &cellWidth), 2) << *size;
        ASSERT_TRUE(cellHeight > 0 && cellWidth > 0);
        ASSERT_TRUE(run("xdotool mousemove --window " + window + " 40 60 click 1").ok);
        ASSERT_TRUE(pollUntil([&] { return probeLine("P ").has_value(); })) << "no click in pixels arrived";
        int px = 0, py = 0;
        ASSERT_EQ(std::sscanf(probeLine("P ")->c_str(), "P [<0;%d;%dM", &px, &py), 2) << *probeLine("P ");
        originX = 40 - px;
        originY = 60 - py;
    }
    // The first line of the probe's output that starts with `prefix`.
    std::optional<std::string> probeLine(const std::string& prefix) const
    {
        std::istringstream lines(readFile(probeOut));
        for (std::string line; std::getline(lines, line);)
            if (line.starts_with(prefix))
                return line;
        return std::nullopt;
    }
    // The window point at a fraction of a cell.
    std::string cellPoint(double col, double row) const
    {
        return std::to_string(originX + static_cast<int>(col * cellWidth)) + " "
               + std::to_string(originY + static_cast<int>(row * cellHeight));
    }
    XApplication app;
    fs::path home;
    fs::path probeOut;
    std::string window;
    int cellWidth = 0, cellHeight = 0, originX = 0, originY = 0;
    std::optional<pid_t> shell;
};

TEST_F(WindowTest, TypedCommandRunsAndClosingTheWindowEndsTheApplication)
{
    ASSERT_NO_FATAL_FAILURE(openWindow());
    // The shell reads what is typed once it starts; the terminal keeps the keys until then.
    const fs::path out = home / "out";
    ASSERT_TRUE(typeLine("echo $$ > \"$HOME/pid\"; echo hi > \"$HOME/out\""));
    ASSERT_TRUE(pollUntil([&] { return readFile(out) == "hi\n"; }))
        << "the shell did not run the typed command; out holds \"" << readFile(out) << "\"";
    const std::string pidText = readFile(home / "pid");
    ASSERT_FALSE(pidText.empty());
    shell = static_cast<pid_t>(std::stol(pidText));
    EXPECT_TRUE(processRuns(*shell));
    // Closed as by the window manager's close button: the application quits...
    ASSERT_TRUE(halvoren::test::sendDeleteWindow(std::stoul(window)));
    ASSERT_TRUE(pollUntil([&] { return hasExited(); })) << "the application did not exit";
    EXPECT_TRUE(WIFEXITED(app.status) && WEXITSTATUS(app.status) == 0) << "status " << app.status;
    // ...and its shell does not outlive it.
    EXPECT_TRUE(pollUntil([&] { return !processRuns(*shell); })) << "the shell " << *shell << " still runs";
}

TEST_F(WindowTest, AClickReachesAProgramAsAnSgrReportAndADragIsCopiedAndPasted)
{
    ASSERT_NO_FATAL_FAILURE(openWindow());
    ASSERT_NO_FATAL_FAILURE(calibrate());
    ASSERT_TRUE(pollUntil([&] { return probeLine("cells").has_value(); })) << "the probe did not switch to cells";
    // Column 10, row 5 (both counted from 0) in the middle of the cell.
    ASSERT_TRUE(run("xdotool mousemove --window " + window + " " + cellPoint(10.5, 5.5) + " click 1").ok);
    ASSERT_TRUE(pollUntil([&] { return probeLine("C ").has_value(); })) << "no click in cells arrived";
    EXPECT_EQ(*probeLine("C "), "C [<0;11;6M");
    ASSERT_TRUE(pollUntil([&] { return probeLine("done").has_value(); })) << "the probe did not end";
    // "hello world" alone on the top row, the prompt below it; the file appears a moment
    // before the view has drawn the row.
    ASSERT_TRUE(typeLine("printf \"\\033[H\\033[2Jhello world\\n\"; touch \"$HOME/shown\""));
    ASSERT_TRUE(pollUntil([&] { return fs::exists(home / "shown"); })) << "the shell did not print";
    std::this_thread::sleep_for(500ms);
    // A drag from the first cell to just past the "d": the selection starts at the pressed cell
    // and ends before the cell under the pointer.
    const std::string move = " mousemove --window " + window + " ";
    ASSERT_TRUE(run("xdotool" + move + cellPoint(0.2, 0.5) + " mousedown 1 sleep 0.3" + move + cellPoint(6.5, 0.5)
                    + " sleep 0.3" + move + cellPoint(11.5, 0.5) + " sleep 0.3 mouseup 1")
                    .ok);
    ASSERT_TRUE(run("xdotool key ctrl+shift+c").ok);
    EXPECT_EQ(pasteIntoFile("pasted"), "hello world\n");
}

TEST_F(WindowTest, TheFindBarSelectsAWordFarUpInTheScrollback)
{
    ASSERT_NO_FATAL_FAILURE(openWindow());
    // The word is printed in two halves, so the command line itself never holds it; 2,000
    // lines follow it.
    ASSERT_TRUE(typeLine("printf \"%s%s\\n\" zebra quokka; seq 2000; touch \"$HOME/printed\""));
    ASSERT_TRUE(pollUntil([&] { return fs::exists(home / "printed"); })) << "the shell did not print";
    // The prompt comes after the file; host output would end the selection.
    std::this_thread::sleep_for(1s);
    ASSERT_TRUE(run("xdotool key ctrl+shift+f").ok);
    std::this_thread::sleep_for(500ms);
    ASSERT_TRUE(typeLine("zebraquokka"));
    std::this_thread::sleep_for(500ms);
    ASSERT_TRUE(run("xdotool key ctrl+shift+c").ok);
    // Escape gives the keyboard back to the terminal; the copied match is pasted into a
    // command that writes it to a file.
    ASSERT_TRUE(run("xdotool key Escape").ok);
    std::this_thread::sleep_for(300ms);
    EXPECT_EQ(pasteIntoFile("found"), "zebraquokka\n");
}

} // namespace
