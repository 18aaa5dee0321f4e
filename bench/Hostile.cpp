#include "Hostile.h"
#include "ProcessMemory.h"

#include "emulator/Terminal.h"
#include "emulator/TerminalDelegate.h"
#include "platform/RunLoop.h"
#include "process/HeadlessTerminal.h"

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <functional>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include <csignal>
#include <malloc.h>
#include <sys/wait.h>
#include <unistd.h>

namespace corvantix::bench {

namespace {

using Bytes = std::vector<std::uint8_t>;
using Clock = std::chrono::steady_clock;

constexpr std::size_t chunkSize = 64 * 1024;

void append(Bytes& bytes, std::string_view text)
{
    bytes.insert(bytes.end(), text.begin(), text.end());
}

Bytes repeated(std::string_view unit, int times)
{
    Bytes bytes;
    bytes.reserve(unit.size() * static_cast<std::size_t>(times));
    for (int i = 0; i < times; ++i)
        append(bytes, unit);
    return bytes;
}

// An image of one pixel (id 1) shown through a virtual placement, a screen full of text,
// then `unit` again and again: each time the image changes behind its placeholders.
Bytes placeholderImageStream(int cols, int rows, std::string_view unit, int times)
{
    Bytes bytes;
    append(bytes, "\x1b_Ga=t,f=24,s=1,v=1,i=1,q=2;AAAA\x1b\\\x1b_Ga=p,U=1,i=1,p=1,q=2\x1b\\\x1b[H");
    bytes.insert(bytes.end(), static_cast<std::size_t>(cols) * static_cast<std::size_t>(rows), 'x');
    const Bytes repeats = repeated(unit, times);
    bytes.insert(bytes.end(), repeats.begin(), repeats.end());
    return bytes;
}

// `make(quick)`: the stream, or with quick a small share of it that takes the same paths.
struct HostileStream {
    std::string name;
    int cols = 200;
    int rows = 50;
    std::function<Bytes(bool quick)> make;
};

const std::vector<HostileStream>& hostileStreams()
{
    static const std::vector<HostileStream> streams = {
        // Every link a new one, far more than there are codes.
        {"links-100000", 200, 50,
         [](bool quick) {
             Bytes bytes;
             for (int i = 0; i < (quick ? 1'000 : 100'000); ++i)
                 append(bytes, "\x1b]8;;https://e.invalid/" + std::to_string(i) + "\x1b\\L\x1b]8;;\x1b\\");
             return bytes;
         }},
        // Scrolls by the largest count, with left and right margins and without, on the
        // tallest screen.
        {"margin-scroll", 200, 10'000,
         [](bool) {
             Bytes bytes;
             append(bytes, "\x1b[?69h\x1b[2;100s");
             append(bytes, "\x1b[65535S\x1b[65535T\x1b[2;50H\x1b[65535L\x1b[65535M");
             return bytes;
         }},
        {"full-width-scroll", 200, 10'000,
         [](bool) {
             Bytes bytes;
             append(bytes, "\x1b[65535S\x1b[65535T\x1b[2;50H\x1b[65535L\x1b[65535M");
             return bytes;
         }},
        {"rect-erase", 200, 50,
         [](bool quick) { return repeated("\x1b[1;1;50;200$z", quick ? 1'000 : 100'000); }},
        {"rect-mixed", 200, 50,
         [](bool quick) {
             return repeated("\x1b[88;1;1;50;200$x\x1b[1;1;50;200${\x1b[1;1;25;200;1;26;1;1$v\x1b[1;1;50;200$z",
                             quick ? 250 : 25'000);
         }},
        // The largest size a program or host may ask for.
        {"largest-size", 10'000, 10'000, [](bool) { return repeated("x", 1); }},
        // Streams the engine already bounds, kept here so they stay bounded.
        {"title-20MiB", 200, 50,
         [](bool quick) {
             Bytes bytes;
             append(bytes, "\x1b]2;");
             bytes.resize(bytes.size() + (quick ? 1u << 20 : 20u << 20), 'a');
             append(bytes, "\x07");
             return bytes;
         }},
        {"combining-100000", 200, 50,
         [](bool quick) {
             Bytes bytes;
             append(bytes, "e");
             const Bytes marks = repeated("\xcc\x81", quick ? 1'000 : 100'000);
             bytes.insert(bytes.end(), marks.begin(), marks.end());
             return bytes;
         }},
        {"rep-65535x10000", 200, 50, [](bool quick) { return repeated("a\x1b[65535b", quick ? 100 : 10'000); }},
        // An image near 150 MB of base64 sent in 4 KiB chunks: the gathered text and the
        // decoded pixels must not both be held whole.
        {"kitty-chunked-150MB", 200, 50,
         [](bool quick) {
             // 112.5 MB of RGBA (a multiple of 3 bytes), 150 MB of base64; quick, 1.5 MB.
             const int side = quick ? 531 : 5304;
             const std::size_t text = (static_cast<std::size_t>(side) * side * 4 + 2) / 3 * 4;
             const std::size_t piece = 4096;
             Bytes bytes;
             bytes.reserve(text + text / piece * 16 + 64);
             for (std::size_t sent = 0; sent < text; sent += piece) {
                 const std::size_t length = std::min(piece, text - sent);
                 const bool last = sent + length >= text;
                 append(bytes, sent == 0 ? "\x1b_Ga=t,i=1,q=2,f=32,s=" + std::to_string(side) + ",v=" + std::to_string(side)
                                            + (last ? ",m=0;" : ",m=1;")
                                         : std::string(last ? "\x1b_Gm=0;" : "\x1b_Gm=1;"));
                 bytes.insert(bytes.end(), length, 'A');
                 append(bytes, "\x1b\\");
             }
             return bytes;
         }},
        // Commands that change an image shown through placeholder cells, about 1 MB of each:
        // placed again, deleted and sent again, new pixels under its id.
        {"kitty-placeholder-placed-40000", 400, 100,
         [](bool quick) {
             return placeholderImageStream(400, 100, "\x1b_Ga=p,U=1,i=1,p=1,q=2\x1b\\", quick ? 400 : 40'000);
         }},
        {"kitty-placeholder-resent-13000", 400, 100,
         [](bool quick) {
             return placeholderImageStream(
                 400, 100,
                 "\x1b_Ga=d,d=i,i=1,q=2\x1b\\\x1b_Ga=t,f=24,s=1,v=1,i=1,q=2;AAAA\x1b\\\x1b_Ga=p,U=1,i=1,p=1,q=2\x1b\\",
                 quick ? 130 : 13'000);
         }},
        {"kitty-placeholder-pixels-30000", 400, 100,
         [](bool quick) {
             return placeholderImageStream(400, 100, "\x1b_Ga=t,f=24,s=1,v=1,i=1,q=2;AAAA\x1b\\", quick ? 300 : 30'000);
         }},
        {"lines-1000000", 200, 50,
         [](bool quick) {
             Bytes bytes;
             for (int i = 0; i < (quick ? 10'000 : 1'000'000); ++i)
                 append(bytes, "line " + std::to_string(i) + "\r\n");
             return bytes;
         }},
    };
    return streams;
}

// Takes the replies and forgets them.
class QuietHost final : public TerminalDelegate {
public:
    void send(Terminal&, std::span<const std::uint8_t> bytes) override { replied += bytes.size(); }
    std::size_t replied = 0;
};


struct Figures {
    double seconds = -1;
    double peakMegabytes = -1; // growth of the peak resident size over the start
    long long detail = 0;      // replies dropped, for the flood
};

// What a child reported, or why it reported nothing.
struct ChildResult {
    std::optional<Figures> figures;
    std::string failure;
};

// Runs `measure` in a child that is stopped after limitSeconds.
ChildResult inChild(int limitSeconds, const std::function<Figures()>& measure)
{
    int channel[2];
    if (::pipe(channel) != 0)
        return {std::nullopt, "no pipe for the child"};
    std::fflush(stdout);
    const pid_t child = ::fork();
    if (child < 0) {
        ::close(channel[0]);
        ::close(channel[1]);
        return {std::nullopt, "no child process"};
    }
    if (child == 0) {
        ::close(channel[0]);
        ::alarm(static_cast<unsigned>(limitSeconds));
        const Figures figures = measure();
        const ssize_t written = ::write(channel[1], &figures, sizeof figures);
        ::_exit(written == sizeof figures ? 0 : 1);
    }
    ::close(channel[1]);
    Figures figures;
    const ssize_t got = ::read(channel[0], &figures, sizeof figures);
    ::close(channel[0]);
    int status = 0;
    ::waitpid(child, &status, 0);
    if (WIFSIGNALED(status) && WTERMSIG(status) == SIGALRM)
        return {std::nullopt, "stopped after " + std::to_string(limitSeconds) + " s"};
    if (WIFSIGNALED(status))
        return {std::nullopt, std::string("crashed: ") + ::strsignal(WTERMSIG(status))};
    if (got != sizeof figures || !WIFEXITED(status) || WEXITSTATUS(status) != 0)
        return {std::nullopt, "the child reported nothing"};
    return {figures, {}};
}

Figures feedStream(const HostileStream& stream, bool quick)
{
    const Bytes bytes = stream.make(quick);
    malloc_trim(0);
    resetPeak();
    const long before = statusBytes("VmRSS");
    const auto start = Clock::now();
    QuietHost host;
    TerminalOptions options;
    options.cols = stream.cols;
    options.rows = stream.rows;
    options.scrollback = 10'000;
    auto terminal = std::make_unique<Terminal>(&host, options);
    std::uint64_t sink = 0;
    for (std::size_t offset = 0; offset < bytes.size(); offset += chunkSize) {
        const std::size_t length = std::min(chunkSize, bytes.size() - offset);
        terminal->feed(std::span<const std::uint8_t>(bytes.data() + offset, length));
        const auto range = terminal->getUpdateRange();
        if (range)
            sink += static_cast<std::uint64_t>(range->endY - range->startY);
        terminal->clearUpdateRange();
    }
    Figures figures;
    figures.seconds = std::chrono::duration<double>(Clock::now() - start).count();
    figures.peakMegabytes = static_cast<double>(statusBytes("VmHWM") - before) / 1e6;
    figures.detail = static_cast<long long>(sink & 1);
    terminal->setDelegate(nullptr);
    return figures;
}

// A child that asks for the cursor position without end and never reads the answers.
Figures replyFlood(int seconds)
{
    resetPeak();
    const long before = statusBytes("VmRSS");
    RunLoop loop;
    TerminalOptions options;
    options.cols = 200;
    options.rows = 50;
    bool ended = false;
    HeadlessTerminal host(loop, options, [&](std::optional<std::int32_t>) { ended = true; });
    const char* yes = ::access("/usr/bin/yes", X_OK) == 0 ? "/usr/bin/yes" : "/bin/yes";
    host.process().startProcess(yes, {"\x1b[6n"});
    if (!host.process().running())
        return {};
    loop.runUntil([&] { return ended; }, RunLoop::Clock::now() + std::chrono::seconds(seconds));
    Figures figures;
    figures.seconds = seconds;
    figures.peakMegabytes = static_cast<double>(statusBytes("VmHWM") - before) / 1e6;
    figures.detail = host.process().droppedReplyCount();
    host.process().terminate();
    return figures;
}

} // namespace

const std::vector<std::string>& hostileStreamNames()
{
    static const std::vector<std::string> names = [] {
        std::vector<std::string> list;
        for (const HostileStream& stream : hostileStreams())
            list.push_back(stream.name);
        list.push_back("reply-flood");
        return list;
    }();
    return names;
}

bool benchHostile(const std::string& only, int limitSeconds, int floodSeconds, bool quick)
{
    bool finished = true;
    for (const HostileStream& stream : hostileStreams()) {
        if (!only.empty() && only != stream.name)
            continue;
        const ChildResult result = inChild(limitSeconds, [&] { return feedStream(stream, quick); });
        if (const auto& figures = result.figures)
            std::printf("hostile %s %dx%d time=%.3f s peak=%.1f MB\n", stream.name.c_str(), stream.cols, stream.rows,
                        figures->seconds, figures->peakMegabytes);
        else
            std::printf("hostile %s %dx%d %s\n", stream.name.c_str(), stream.cols, stream.rows, result.failure.c_str());
        finished = finished && result.figures.has_value();
        std::fflush(stdout);
    }
    if (floodSeconds > 0 && (only.empty() || only == "reply-flood")) {
        const ChildResult result = inChild(floodSeconds + limitSeconds, [&] { return replyFlood(floodSeconds); });
        const auto& figures = result.figures;
        if (figures && figures->seconds > 0)
            std::printf("hostile reply-flood 200x50 time=%d s peak=%.1f MB replies-dropped=%lld\n", floodSeconds,
                        figures->peakMegabytes, figures->detail);
        else
            std::printf("hostile reply-flood did not run: %s\n", figures ? "yes did not start" : result.failure.c_str());
        finished = finished && figures && figures->seconds > 0;
        std::fflush(stdout);
    }
    return finished;
}

} // namespace corvantix::bench
