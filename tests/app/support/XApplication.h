// A program of ours started on the test's X server (tests/with-xvfb) with a home of its own,
// driven with xdotool as a user would: its window found and focused, lines typed, closed as a
// window manager closes it. Every wait is a generous poll; nothing here asserts speed.
#pragma once

#include "Poll.h"
#include "TestFolders.h"

#include <gtest/gtest.h>

#include <X11/Xlib.h>

#include <algorithm>
#include <chrono>
#include <thread>

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;

namespace halvoren::test {

struct CommandResult {
    bool ok = false;
    std::string output;
};

// Runs a shell command line; its standard output and whether it exited with 0.
inline CommandResult runCommand(const std::string& command)
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

inline std::string readWholeFile(const std::filesystem::path& path)
{
    std::stringstream text;
    text << std::ifstream(path).rdbuf();
    return text.str();
}

// Alive and not a zombie waiting for a parent that does not reap it.
inline bool processRuns(pid_t pid)
{
    if (::kill(pid, 0) != 0)
        return errno != ESRCH;
    const std::string stat = readWholeFile("/proc/" + std::to_string(pid) + "/stat");
    const auto close = stat.rfind(')');
    return close == std::string::npos || close + 2 >= stat.size() || stat[close + 2] != 'Z';
}

// What a window manager sends when the user closes a window.
inline bool sendDeleteWindow(unsigned long window)
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

// The environment of a program a test starts: the caller's, except that everything naming a
// place of the user's (home, XDG folders, tmux server, session bus) or choosing a language
// points at `home` or a fixed value instead, TMUX and ENV are gone, and `extra` ("NAME=value")
// replaces whatever it names. A caller's value never wins over the test's.
inline std::vector<std::string> childEnvironment(const std::vector<std::string>& inherited, const std::string& home,
                                                 const std::vector<std::string>& extra)
{
    std::vector<std::string> chosen{"SHELL=/bin/sh",
                                    "HOME=" + home,
                                    "XDG_CONFIG_HOME=" + home + "/.config",
                                    "XDG_DATA_HOME=" + home + "/.local/share",
                                    "XDG_CACHE_HOME=" + home + "/.cache",
                                    "XDG_STATE_HOME=" + home + "/.local/state",
                                    "TMUX_TMPDIR=" + home,
                                    "LANG=C.UTF-8",
                                    "DBUS_SESSION_BUS_ADDRESS=unix:path=" + home + "/no-session-bus",
                                    "QT_QPA_PLATFORM=xcb"};
    const auto nameOf = [](std::string_view entry) { return entry.substr(0, entry.find('=')); };
    for (const std::string& entry : extra) {
        std::erase_if(chosen, [&](const std::string& given) { return nameOf(given) == nameOf(entry); });
        chosen.push_back(entry);
    }
    const auto replaced = [&](std::string_view name) {
        return name == "TMUX" || name == "TMUX_PANE" || name == "ENV" || name == "LANGUAGE" || name.starts_with("LC_")
               || std::any_of(chosen.begin(), chosen.end(), [&](const std::string& given) { return nameOf(given) == name; });
    };
    std::vector<std::string> environment;
    for (const std::string& entry : inherited) {
        if (!replaced(nameOf(entry)))
            environment.push_back(entry);
    }
    environment.insert(environment.end(), chosen.begin(), chosen.end());
    return environment;
}

class XApplication {
public:
    // Each poll may start xdotool: a tenth of a second apart.
    static bool pollUntil(const std::function<bool()>& condition)
    {
        return test::pollUntil(condition, std::chrono::seconds(60), std::chrono::milliseconds(100));
    }

    XApplication()
    {
        char pattern[] = "/tmp/halvoren-x-XXXXXX";
        if (::mkdtemp(pattern) != nullptr) {
            home = pattern;
            noteTestFolder(pattern);
        }
    }
    // A second program in another's home, which stays when this one goes.
    explicit XApplication(std::filesystem::path sharedHome) : home(std::move(sharedHome)), ownsHome(false) {}
    ~XApplication()
    {
        if (pid > 0 && !exited && ::kill(pid, SIGKILL) == 0)
            ::waitpid(pid, nullptr, 0);
        std::error_code ignored;
        if (ownsHome)
            std::filesystem::remove_all(home, ignored);
    }
    XApplication(const XApplication&) = delete;
    XApplication& operator=(const XApplication&) = delete;

    // Fails the test with one line when the X server or xdotool is missing.
    static void requireDisplay()
    {
        ASSERT_NE(std::getenv("DISPLAY"), nullptr) << "run on an X server (tests/with-xvfb)";
        ASSERT_TRUE(runCommand("command -v xdotool").ok) << "xdotool is missing; install the Debian package xdotool";
    }

    // Starts `program` with this home, SHELL=/bin/sh and `extra` ("NAME=value") in the
    // environment, and waits for its first visible window, which it then focuses (no window
    // manager gives it the focus).
    void open(const std::string& program, const std::vector<std::string>& extra = {})
    {
        ASSERT_NO_FATAL_FAILURE(start(program, extra));
        ASSERT_TRUE(pollUntil([&] {
            const CommandResult found = runCommand("xdotool search --onlyvisible --pid " + std::to_string(pid));
            window = found.output.substr(0, found.output.find('\n'));
            return hasExited() || (found.ok && !window.empty());
        })) << "no window appeared";
        ASSERT_FALSE(exited) << "the program ended at start, status " << status;
        ASSERT_TRUE(pollUntil([&] {
            runCommand("xdotool windowfocus " + window);
            const CommandResult focused = runCommand("xdotool getwindowfocus");
            return focused.ok && focused.output.substr(0, focused.output.find('\n')) == window;
        })) << "the window never took the focus";
    }

    // Starts `program` as open() does, without waiting for anything.
    void start(const std::string& program, const std::vector<std::string>& extra = {})
    {
        ASSERT_FALSE(home.empty());
        std::vector<std::string> inherited;
        for (char** entry = environ; *entry != nullptr; ++entry)
            inherited.emplace_back(*entry);
        std::vector<std::string> environment = childEnvironment(inherited, home.string(), extra);
        std::vector<char*> envp;
        for (std::string& entry : environment)
            envp.push_back(entry.data());
        envp.push_back(nullptr);
        std::string path = program;
        char* argv[] = {path.data(), nullptr};
        // The file-size signal at its default, as a desktop starts the program: what the program
        // ignores then is what it set up itself.
        posix_spawnattr_t attributes;
        ASSERT_EQ(::posix_spawnattr_init(&attributes), 0);
        sigset_t defaults;
        sigemptyset(&defaults);
        sigaddset(&defaults, SIGXFSZ);
        ::posix_spawnattr_setsigdefault(&attributes, &defaults);
        ::posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETSIGDEF);
        const int started = ::posix_spawn(&pid, path.c_str(), nullptr, &attributes, argv, envp.data());
        ::posix_spawnattr_destroy(&attributes);
        ASSERT_EQ(started, 0) << program;
    }

    // The program has exited (reaped here, its status kept).
    bool hasExited()
    {
        exited = exited || ::waitpid(pid, &status, WNOHANG) == pid;
        return exited;
    }

    // Host work of the program's model in flight: a child doing it (a listing, a tmux or git
    // command) runs in a process group of its own, never as a session's leader as a tab's
    // terminal does.
    bool modelWorking() const
    {
        std::error_code error;
        for (const auto& entry : std::filesystem::directory_iterator("/proc", error)) {
            const std::string name = entry.path().filename().string();
            if (name.empty() || name.find_first_not_of("0123456789") != std::string::npos)
                continue;
            // Fields after the command's closing parenthesis: state, parent, group, session.
            const std::string stat = readWholeFile(entry.path() / "stat");
            const auto close = stat.rfind(')');
            if (close == std::string::npos)
                continue;
            std::istringstream fields(stat.substr(close + 1));
            char state = 0;
            long parent = 0, group = 0, session = 0;
            if (fields >> state >> parent >> group >> session && parent == pid && session != std::stol(name))
                return true;
        }
        return false;
    }

    // Waits for the model to be idle: host work came and went and nothing else started for a
    // while, or nothing ran for longer than the model's 4 s poll. The next poll is then
    // seconds away, so a quit now leaves no work cut short.
    bool waitUntilModelIdle()
    {
        const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(60);
        bool seenWork = false;
        auto quietSince = std::chrono::steady_clock::now();
        while (std::chrono::steady_clock::now() < until && !hasExited()) {
            const auto now = std::chrono::steady_clock::now();
            if (modelWorking()) {
                seenWork = true;
                quietSince = now;
            } else if (now - quietSince >= (seenWork ? std::chrono::milliseconds(500) : std::chrono::milliseconds(5000))) {
                return true;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
        return false;
    }

    static bool typeLine(const std::string& text)
    {
        return runCommand("xdotool type --delay 20 '" + text + "'").ok && runCommand("xdotool key Return").ok;
    }

    std::filesystem::path home;
    bool ownsHome = true;
    std::string window;
    pid_t pid = -1;
    bool exited = false;
    int status = 0;
};

} // namespace halvoren::test
