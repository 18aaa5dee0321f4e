// vtrun: runs a program on a pseudo-terminal under a headless terminal and prints what the
// terminal shows once the program has ended.
//
//   vtrun [--cols N] [--rows N] [--timeout SECONDS] -- PROGRAM [ARGS...]
//
// The terminal answers the program's queries (device status, attributes, ...) as a real one
// would. Output: each screen row as |text| (trailing blanks trimmed), then "cursor X Y"
// (zero-based column and row), then "reply HEX" for each reply the terminal sent to the
// program, as lowercase hex bytes: the format of vtfeed.
//
// Exit status: the program's own; 128 + n when a signal n ended it; 124 when it was still
// running at the time-out (it is then sent SIGTERM); 127 when PROGRAM was not found or
// cannot be run (the reason goes to standard error); 125 when vtrun itself failed; 2 for
// bad arguments. Only the last `maximumReplies` replies are printed.
#include "ToolCommon.h"
#include "emulator/Terminal.h"
#include "platform/RunLoop.h"
#include "process/HeadlessTerminal.h"

#include <algorithm>
#include <charconv>
#include <chrono>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <iostream>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <cerrno>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

extern char** environ;

using namespace corvantix;

namespace {

constexpr ToolUsage usage{"vtrun",
                          "usage: vtrun [--cols N] [--rows N] [--timeout SECONDS] -- PROGRAM [ARGS...]\n"
                          "  --cols N, --rows N  the screen's size (80 x 25)\n"
                          "  --timeout SECONDS   how long the program may run (10); then it is stopped\n"};

constexpr int exitTimedOut = 124;
constexpr int exitFailed = 125;
constexpr int exitNotFound = 127;
constexpr double defaultTimeoutSeconds = 10.0;
// About eleven days: far beyond any use, and small enough for the clock's arithmetic.
constexpr double maximumTimeoutSeconds = 1e6;
// After the program's end, how long its last output may take to arrive. A background
// process that keeps the terminal open must not hold vtrun up.
constexpr auto endOfOutputGrace = std::chrono::seconds(2);

struct Arguments {
    int cols = 80;
    int rows = 25;
    double timeoutSeconds = defaultTimeoutSeconds;
    std::vector<std::string> command; // PROGRAM and its arguments
};

// A number of seconds above 0 (fractions allowed).
std::optional<double> parseSeconds(std::string_view text)
{
    double value = 0;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (error != std::errc() || end != text.data() + text.size() || !std::isfinite(value) || value <= 0
        || value > maximumTimeoutSeconds)
        return std::nullopt;
    return value;
}

Arguments parseArguments(int argc, char** argv)
{
    Arguments arguments;
    const ToolOption options[] = {
        {"--cols", true, takeCount(arguments.cols, Terminal::maximumDimension)},
        {"--rows", true, takeCount(arguments.rows, Terminal::maximumDimension)},
        {"--timeout", true,
         [&](std::string_view value) {
             const auto seconds = parseSeconds(value);
             arguments.timeoutSeconds = seconds.value_or(arguments.timeoutSeconds);
             return seconds.has_value();
         }},
    };
    const ToolOperands operands = readToolArguments(argc, argv, usage, options);
    if (!operands.separated || operands.words.empty() || operands.words.front().empty())
        refuseArguments(usage, "the program to run goes after --");
    arguments.command.assign(operands.words.begin(), operands.words.end());
    return arguments;
}

// Why `path` cannot be run: missing, a directory, or not executable; none when it can.
std::optional<std::string> cannotRun(const std::string& path)
{
    struct stat status {};
    if (::stat(path.c_str(), &status) != 0)
        return std::strerror(errno);
    if (S_ISDIR(status.st_mode))
        return std::strerror(EISDIR);
    if (::access(path.c_str(), X_OK) != 0)
        return std::strerror(errno);
    return std::nullopt;
}

// The executable for PROGRAM: itself when it names a path, else the first executable file
// of that name in PATH (the shell's default list when PATH is unset).
std::optional<std::string> findProgram(const std::string& program)
{
    if (program.find('/') != std::string::npos)
        return program;
    const char* path = std::getenv("PATH");
    const std::string_view directories = path != nullptr ? path : "/usr/local/bin:/usr/bin:/bin";
    std::size_t start = 0;
    for (;;) {
        const std::size_t end = std::min(directories.find(':', start), directories.size());
        std::string directory(directories.substr(start, end - start));
        if (directory.empty())
            directory = "."; // an empty entry is the current directory
        const std::string candidate = directory + "/" + program;
        if (!cannotRun(candidate))
            return candidate;
        if (end == directories.size())
            return std::nullopt;
        start = end + 1;
    }
}

// This process's environment, as a terminal gives it to its programs: TERM and COLORTERM
// describe the terminal they now run in; LINES and COLUMNS of an outer terminal would lie.
std::vector<std::string> childEnvironment()
{
    std::vector<std::string> environment{"TERM=xterm-256color", "COLORTERM=truecolor"};
    for (char** entry = environ; entry != nullptr && *entry != nullptr; ++entry) {
        const std::string_view text = *entry;
        const std::string_view name = text.substr(0, text.find('='));
        if (name != "TERM" && name != "COLORTERM" && name != "LINES" && name != "COLUMNS")
            environment.emplace_back(text);
    }
    return environment;
}

// The exit status a shell would give for a raw wait status.
int exitStatusOf(int status)
{
    if (WIFEXITED(status))
        return WEXITSTATUS(status);
    if (WIFSIGNALED(status))
        return 128 + WTERMSIG(status);
    return exitFailed;
}

// A program may ask for replies without end; only the newest are kept for printing.
constexpr std::size_t maximumReplies = 1000;

// Keeps the last replies the terminal sends to the program, besides sending them.
class RecordingTerminal final : public HeadlessTerminal {
public:
    using HeadlessTerminal::HeadlessTerminal;
    using HeadlessTerminal::send;

    void send(Terminal& source, std::span<const std::uint8_t> bytes) override
    {
        if (replies.size() == maximumReplies)
            replies.pop_front();
        replies.emplace_back(bytes.begin(), bytes.end());
        HeadlessTerminal::send(source, bytes);
    }

    std::deque<std::vector<std::uint8_t>> replies;
};

} // namespace

int main(int argc, char** argv)
{
    const Arguments arguments = parseArguments(argc, argv);
    const std::string& program = arguments.command.front();
    const auto executable = findProgram(program);
    if (!executable) {
        std::cerr << "vtrun: " << program << ": command not found\n";
        return exitNotFound;
    }
    if (const auto reason = cannotRun(*executable)) {
        std::cerr << "vtrun: " << program << ": " << *reason << '\n';
        return exitNotFound;
    }

    RunLoop loop;
    std::optional<std::int32_t> endStatus;
    TerminalOptions options;
    options.cols = arguments.cols;
    options.rows = arguments.rows;
    RecordingTerminal host(loop, options, [&](std::optional<std::int32_t> status) { endStatus = status.value_or(0); });

    const std::vector<std::string> args(arguments.command.begin() + 1, arguments.command.end());
    host.process().startProcess(*executable, args, childEnvironment(), program);
    if (!host.process().running()) {
        std::cerr << "vtrun: cannot start " << program << '\n';
        return exitFailed;
    }

    const auto timeout = std::chrono::duration_cast<RunLoop::Clock::duration>(
        std::chrono::duration<double>(arguments.timeoutSeconds));
    const bool ended = loop.runUntil([&] { return endStatus.has_value(); }, RunLoop::Clock::now() + timeout);
    int exitCode = exitTimedOut;
    if (ended) {
        // The end of the program and the end of its output arrive separately; the screen is
        // complete once the terminal has read up to the end of file.
        loop.runUntil([&] { return host.process().childfd() < 0; }, RunLoop::Clock::now() + endOfOutputGrace);
        exitCode = exitStatusOf(*endStatus);
    } else {
        host.process().terminate();
    }

    const std::vector<std::vector<std::uint8_t>> replies(host.replies.begin(), host.replies.end());
    std::vector<ShownImage> images;
    for (const HeadlessTerminal::Image& image : host.images()) {
        if (image.kind == HeadlessTerminal::Image::Kind::bitmap)
            images.push_back({image.width, image.height, image.col, image.row});
    }
    const std::string output = screenDump(host.terminal(), replies, false, images);
    std::fwrite(output.data(), 1, output.size(), stdout);
    std::fflush(stdout);
    return exitCode;
}
