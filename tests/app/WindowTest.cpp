// The application end to end on a real X server: start the window with a plain shell and a
// private home, type a command into it with xdotool, see the shell run it, then close the
// window the way a window manager does and check that the application and its shell end.
//
// Run on a private Xvfb server (the build registers it so).
// Every wait is a generous poll: nothing here asserts how fast anything happens.
#include <gtest/gtest.h>

#include <X11/Xatom.h>
#include <X11/Xlib.h>

#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <optional>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;

namespace {

using namespace std::chrono_literals;
namespace fs = std::filesystem;

#ifndef HALVOREN_APP
#error "HALVOREN_APP must name the application binary"
#endif

constexpr auto patience = 60s;

bool pollUntil(const std::function<bool()>& condition, std::chrono::milliseconds limit = patience)
{
    const auto end = std::chrono::steady_clock::now() + limit;
    while (!condition()) {
        if (std::chrono::steady_clock::now() > end)
            return false;
        std::this_thread::sleep_for(100ms);
    }
    return true;
}

// Runs a command line; its standard output, and whether it exited with 0.
struct CommandResult {
    bool ok = false;
    std::string output;
};

CommandResult run(const std::string& command)
{
    CommandResult result;
    FILE* pipe = ::popen((command + " 2>/dev/null").c_str(), "r");
    if (pipe == nullptr)
        return result;
    char buffer[256];
    while (std::fgets(buffer, sizeof buffer, pipe) != nullptr)
        result.output += buffer;
    result.ok = ::pclose(pipe) == 0;
    return result;
}

std::string readFile(const fs::path& path)
{
    std::ifstream in(path);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

// Alive and not a zombie waiting for a parent that does not reap it.
bool processRuns(pid_t pid)
{
    if (::kill(pid, 0) != 0)
        return errno != ESRCH;
    const std::string stat = readFile("/proc/" + std::to_string(pid) + "/stat");
    const auto close = stat.rfind(')');
    return close == std::string::npos || close + 2 >= stat.size() || stat[close + 2] != 'Z';
}

// What a window manager sends when the user closes a window.
bool sendDeleteWindow(unsigned long window)
{
    Display* display = XOpenDisplay(nullptr);
    if (display == nullptr)
        return false;
    XEvent event{};
    event.xclient.type = ClientMessage;
    event.xclient.window = window;
    event.xclient.message_type = XInternAtom(display, "WM_PROTOCOLS", False);
    event.xclient.format = 32;
    event.xclient.data.l[0] = static_cast<long>(XInternAtom(display, "WM_DELETE_WINDOW", False));
    event.xclient.data.l[1] = CurrentTime;
    const Status sent = XSendEvent(display, window, False, NoEventMask, &event);
    XSync(display, False);
    XCloseDisplay(display);
    return sent != 0;
}

class WindowTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_NE(std::getenv("DISPLAY"), nullptr) << "run on an X server (tests/with-xvfb)";
        ASSERT_TRUE(run("command -v xdotool").ok) << "xdotool is missing; install the Debian package xdotool";
        char pattern[] = "/tmp/halvoren-window-XXXXXX";
        ASSERT_NE(::mkdtemp(pattern), nullptr);
        home = pattern;
    }

    void TearDown() override
    {
        if (app > 0 && !exited) {
            ::kill(app, SIGKILL);
            ::waitpid(app, nullptr, 0);
        }
        if (shell && processRuns(*shell))
            ::kill(*shell, SIGKILL);
        std::error_code ignored;
        fs::remove_all(home, ignored);
    }

    void start()
    {
        std::vector<std::string> environment;
        for (char** entry = environ; *entry != nullptr; ++entry) {
            const std::string_view text(*entry);
            if (!text.starts_with("SHELL=") && !text.starts_with("HOME=") && !text.starts_with("ENV="))
                environment.emplace_back(text);
        }
        environment.push_back("SHELL=/bin/sh");
        environment.push_back("HOME=" + home.string());
        environment.push_back("QT_QPA_PLATFORM=xcb");
        std::vector<char*> envp;
        for (std::string& entry : environment)
            envp.push_back(entry.data());
        envp.push_back(nullptr);
        std::string program = HALVOREN_APP;
        char* argv[] = {program.data(), nullptr};
        ASSERT_EQ(::posix_spawn(&app, program.c_str(), nullptr, nullptr, argv, envp.data()), 0) << program;
    }

    // The child has exited (reaped here); its status.
    std::optional<int> exitStatus()
    {
        if (exited)
            return status;
        int raw = 0;
        if (::waitpid(app, &raw, WNOHANG) == app) {
            exited = true;
            status = raw;
            return raw;
        }
        return std::nullopt;
    }

    fs::path home;
    pid_t app = -1;
    bool exited = false;
    int status = 0;
    std::optional<pid_t> shell;
};

TEST_F(WindowTest, TypedCommandRunsAndClosingTheWindowEndsTheApplication)
{
    start();

    // The application's mapped window.
    std::string window;
    ASSERT_TRUE(pollUntil([&] {
        if (exitStatus())
            return true;
        const CommandResult found = run("xdotool search --onlyvisible --pid " + std::to_string(app));
        window = found.output.substr(0, found.output.find('\n'));
        return found.ok && !window.empty();
    })) << "no window appeared";
    ASSERT_FALSE(exited) << "the application ended at start, status " << status;

    // Keyboard focus on it (no window manager gives it one).
    ASSERT_TRUE(pollUntil([&] {
        run("xdotool windowfocus " + window);
        const CommandResult focus = run("xdotool getwindowfocus");
        return focus.ok && focus.output.substr(0, focus.output.find('\n')) == window;
    })) << "the window never took the focus";

    // The shell reads what is typed once it starts; the terminal keeps the keys until then.
    const fs::path out = home / "out";
    ASSERT_TRUE(run("xdotool type --delay 20 'echo $$ > \"$HOME/pid\"; echo hi > \"$HOME/out\"'").ok);
    ASSERT_TRUE(run("xdotool key Return").ok);
    ASSERT_TRUE(pollUntil([&] { return readFile(out) == "hi\n"; }))
        << "the shell did not run the typed command; out holds \"" << readFile(out) << "\"";
    const std::string pidText = readFile(home / "pid");
    ASSERT_FALSE(pidText.empty());
    shell = static_cast<pid_t>(std::stol(pidText));
    EXPECT_TRUE(processRuns(*shell));

    // Closed as by the window manager's close button: the application quits...
    ASSERT_TRUE(sendDeleteWindow(std::stoul(window)));
    ASSERT_TRUE(pollUntil([&] { return exitStatus().has_value(); })) << "the application did not exit";
    EXPECT_TRUE(WIFEXITED(status)) << "status " << status;
    if (WIFEXITED(status)) {
        EXPECT_EQ(WEXITSTATUS(status), 0);
    }
    // ...and its shell does not outlive it.
    EXPECT_TRUE(pollUntil([&] { return !processRuns(*shell); })) << "the shell " << *shell << " still runs";
}

} // namespace
