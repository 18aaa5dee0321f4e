#include "process/PseudoTerminal.h"

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cmath>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <termios.h>
#include <unistd.h>
#include <utility>

namespace corvantix::PseudoTerminalHelpers {

std::optional<CStringArray> makeCStringArray(std::span<const std::string> strings)
{
    CStringArray array;
    std::size_t total = 0;
    for (const std::string& text : strings) {
        if (text.find('\0') != std::string::npos)
            return std::nullopt;
        total += text.size() + 1;
    }
    array.characters.reserve(total);
    for (const std::string& text : strings) {
        array.characters.insert(array.characters.end(), text.begin(), text.end());
        array.characters.push_back('\0');
    }
    // Pointers are taken once every character is in place, so no reallocation moves them.
    array.pointers.reserve(strings.size() + 1);
    char* next = array.characters.data();
    for (const std::string& text : strings) {
        array.pointers.push_back(next);
        next += text.size() + 1;
    }
    array.pointers.push_back(nullptr);
    return array;
}

namespace {

// Closes a descriptor on every way out of the parent's set-up.
class ScopedDescriptor {
public:
    explicit ScopedDescriptor(int descriptor)
        : value(descriptor)
    {
    }
    ~ScopedDescriptor()
    {
        if (value >= 0)
            ::close(value);
    }
    ScopedDescriptor(const ScopedDescriptor&) = delete;
    ScopedDescriptor& operator=(const ScopedDescriptor&) = delete;

    int get() const { return value; }
    int release() { return std::exchange(value, -1); }
    void reset(int descriptor)
    {
        if (value >= 0)
            ::close(value);
        value = descriptor;
    }

private:
    int value;
};

// Only async-signal-safe calls from here on: the parent may have other threads.
[[noreturn]] void runChild(int slave, const char* path, char* const* argv, char* const* envp,
                           const char* directory)
{
    // Become a session leader with the new pseudo-terminal as controlling terminal.
    if (::setsid() < 0 || ::ioctl(slave, TIOCSCTTY, 0) < 0)
        ::_exit(127);
    for (int target = STDIN_FILENO; target <= STDERR_FILENO; ++target) {
        if (::dup2(slave, target) < 0)
            ::_exit(127);
    }
    // Nothing the host had open reaches the program, whether or not the host marked it
    // close-on-exec.
    if (::close_range(STDERR_FILENO + 1, ~0U, 0) != 0) {
        for (int descriptor = STDERR_FILENO + 1; descriptor < 65536; ++descriptor)
            ::close(descriptor);
    }

    // The program starts with a clean signal state, whatever the host ignores or blocks.
    struct sigaction defaultAction {};
    defaultAction.sa_handler = SIG_DFL;
    sigemptyset(&defaultAction.sa_mask);
    for (int signalNumber = 1; signalNumber < NSIG; ++signalNumber) {
        if (signalNumber != SIGKILL && signalNumber != SIGSTOP)
            ::sigaction(signalNumber, &defaultAction, nullptr);
    }
    sigset_t none;
    sigemptyset(&none);
    ::sigprocmask(SIG_SETMASK, &none, nullptr);

    // A directory that cannot be entered leaves the child where the host is.
    if (directory != nullptr && ::chdir(directory) != 0) {
    }
    ::execve(path, argv, envp);
    ::_exit(127);
}

} // namespace

std::optional<ForkResult> forkAndExec(const std::string& executable,
                                      std::span<const std::string> arguments,
                                      std::span<const std::string> environment,
                                      const std::optional<std::string>& currentDirectory,
                                      const winsize* windowSize)
{
    std::optional<CStringArray> argv = makeCStringArray(arguments);
    std::optional<CStringArray> envp = makeCStringArray(environment);
    if (!argv || !envp)
        return std::nullopt;
    if (executable.find('\0') != std::string::npos)
        return std::nullopt;
    if (currentDirectory && currentDirectory->find('\0') != std::string::npos)
        return std::nullopt;

    ScopedDescriptor master(::posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC));
    if (master.get() < 0 || ::grantpt(master.get()) != 0 || ::unlockpt(master.get()) != 0)
        return std::nullopt;
    char slaveName[PATH_MAX];
    if (::ptsname_r(master.get(), slaveName, sizeof slaveName) != 0)
        return std::nullopt;
    ScopedDescriptor slave(::open(slaveName, O_RDWR | O_NOCTTY | O_CLOEXEC));
    if (slave.get() < 0)
        return std::nullopt;
    // Keep the slave off 0..2 so that the child's dup2 onto them always makes a copy
    // (dup2 of a descriptor onto itself would keep its close-on-exec flag).
    if (slave.get() <= STDERR_FILENO) {
        const int moved = ::fcntl(slave.get(), F_DUPFD_CLOEXEC, STDERR_FILENO + 1);
        if (moved < 0)
            return std::nullopt;
        slave.reset(moved);
    }
    if (windowSize != nullptr)
        ::ioctl(slave.get(), TIOCSWINSZ, windowSize);
    // The terminal sends UTF-8: the line discipline's erase must take a whole character, not
    // one byte of it (a password typed at a canonical prompt would otherwise keep a stray byte).
    termios modes {};
    if (::tcgetattr(slave.get(), &modes) == 0 && (modes.c_iflag & IUTF8) == 0) {
        modes.c_iflag |= IUTF8;
        ::tcsetattr(slave.get(), TCSANOW, &modes);
    }

    const char* directory = currentDirectory ? currentDirectory->c_str() : nullptr;
    // Until the child has put every signal back to its default, a signal sent to it (a
    // terminate right after the start) would run the host's handler in the child and be
    // spent there, leaving the program to run on. Blocked across the fork, it waits in the
    // child until the defaults are in place, and then acts as it should.
    sigset_t everything, previousMask;
    sigfillset(&everything);
    ::pthread_sigmask(SIG_SETMASK, &everything, &previousMask);
    const pid_t pid = ::fork();
    if (pid == 0)
        runChild(slave.get(), executable.c_str(), argv->data(), envp->data(), directory);
    ::pthread_sigmask(SIG_SETMASK, &previousMask, nullptr);
    if (pid < 0)
        return std::nullopt;

    return ForkResult{pid, master.release()};
}

int setWinSize(int descriptor, const winsize& size)
{
    return ::ioctl(descriptor, TIOCSWINSZ, &size);
}

AvailableBytes availableBytes(int descriptor)
{
    AvailableBytes answer;
    answer.result = ::ioctl(descriptor, FIONREAD, &answer.count);
    return answer;
}

namespace {

unsigned short clampToField(std::int64_t value)
{
    return static_cast<unsigned short>(std::clamp<std::int64_t>(value, 0, USHRT_MAX));
}

unsigned short clampToField(double value)
{
    if (std::isnan(value) || value <= 0)
        return 0;
    if (value >= static_cast<double>(USHRT_MAX))
        return USHRT_MAX;
    return static_cast<unsigned short>(value); // truncates toward zero
}

} // namespace

winsize makeWinSize(std::int64_t rows, std::int64_t cols, double xpixel, double ypixel)
{
    winsize size{};
    size.ws_row = clampToField(rows);
    size.ws_col = clampToField(cols);
    size.ws_xpixel = clampToField(xpixel);
    size.ws_ypixel = clampToField(ypixel);
    return size;
}

} // namespace corvantix::PseudoTerminalHelpers
