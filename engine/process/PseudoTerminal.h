// Pseudo-terminal helpers: C string arrays for execve, starting a program on a new
// pseudo-terminal, the window size of a pseudo-terminal and the bytes ready on a descriptor.
// Used by LocalProcess and by hosts that manage a child themselves.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <sys/ioctl.h>
#include <sys/types.h>
#include <vector>

namespace corvantix::PseudoTerminalHelpers {

// A NULL-terminated array of C strings (argv or envp) that owns its characters.
class CStringArray {
public:
    CStringArray() = default;
    CStringArray(CStringArray&&) noexcept = default;
    CStringArray& operator=(CStringArray&&) noexcept = default;
    CStringArray(const CStringArray&) = delete;
    CStringArray& operator=(const CStringArray&) = delete;

    // The pointers, NULL after the last; valid while this object lives.
    char* const* data() const { return pointers.data(); }
    std::size_t count() const { return pointers.empty() ? 0 : pointers.size() - 1; }

private:
    friend std::optional<CStringArray> makeCStringArray(std::span<const std::string> strings);
    std::vector<char> characters;
    std::vector<char*> pointers;
};

// Copies the strings into a NULL-terminated C string array. None when a string holds a
// NUL byte: it would reach the program cut short.
std::optional<CStringArray> makeCStringArray(std::span<const std::string> strings);

struct ForkResult {
    pid_t pid = -1;
    // Master side of the new pseudo-terminal, close-on-exec; the caller owns it.
    int masterDescriptor = -1;
};

// Starts the executable (a path; it is not searched) on a new pseudo-terminal that becomes
// the child's controlling terminal and standard input, output and error. `arguments` is the
// whole argument list, argument zero included. The pseudo-terminal's input is marked UTF-8
// (IUTF8), so that erasing in canonical mode removes whole characters. Both sides of the pseudo-terminal are opened
// close-on-exec, so children started by other threads never inherit them. In the child,
// the signal mask is emptied and every signal disposition reset before execve; when
// execve fails the child exits with status 127. None when the pseudo-terminal, the copies or
// the fork fail. Nothing reads the master or waits for the child: the caller owns both.
std::optional<ForkResult> forkAndExec(const std::string& executable,
                                      std::span<const std::string> arguments,
                                      std::span<const std::string> environment,
                                      const std::optional<std::string>& currentDirectory,
                                      const winsize* windowSize);

// Sets the window size of the pseudo-terminal (TIOCSWINSZ); returns the ioctl result.
int setWinSize(int descriptor, const winsize& size);

struct AvailableBytes {
    int result = 0; // the ioctl result
    int count = 0;  // bytes ready to read
};

// Asks how many bytes are ready to read on the descriptor (FIONREAD).
AvailableBytes availableBytes(int descriptor);

// A winsize with every field clamped to 0..65535: the fields are 16 bits wide, and a large
// window (many columns at a high scale) would otherwise wrap. Pixel sizes are truncated
// toward zero; a pixel size that is not a number counts as 0.
winsize makeWinSize(std::int64_t rows, std::int64_t cols, double xpixel, double ypixel);

} // namespace corvantix::PseudoTerminalHelpers
