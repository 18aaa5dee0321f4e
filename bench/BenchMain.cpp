// corvantix-bench: throughput of the engine beside libvterm on six generated streams, the
// resident memory of a full scrollback, the time and memory of hostile streams, and the
// time of the bidirectional row layout.
//
//   corvantix-bench [--size BYTES[K|M]] [--big] [--runs N] [--only NAME|hostile]
//                   [--engine corvantix|libvterm|both] [--no-memory] [--no-search] [--no-bidi]
//                   [--no-hostile] [--hostile-limit SECONDS] [--flood-seconds SECONDS]
#include "Bidi.h"
#include "Hostile.h"
#include "Memory.h"
#include "Runners.h"
#include "Search.h"
#include "Streams.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace {

using namespace corvantix::bench;

constexpr std::uint64_t streamSeed = 0x48414C564F52454Eull;

struct Options {
    std::size_t size = 16u << 20;
    bool big = false;
    int runs = 3;
    std::string only;
    bool corvantix = true;
    bool peer = true;
    bool memory = true;
    bool hostile = true;
    bool hostileOnly = false;
    int hostileLimitSeconds = 60;
    int floodSeconds = 30;
    bool search = true;
    bool bidi = true;
};

[[noreturn]] void usage(const char* message)
{
    std::fprintf(stderr, "corvantix-bench: %s\n", message);
    std::fprintf(stderr,
                 "usage: corvantix-bench [--size BYTES[K|M]] [--big] [--runs N] [--only NAME|hostile]\n"
                 "                       [--engine corvantix|libvterm|both] [--no-memory] [--no-search]\n"
                 "                       [--no-bidi]\n"
                 "                       [--no-hostile] [--hostile-limit SECONDS] [--flood-seconds SECONDS]\n");
    std::exit(2);
}

std::optional<std::size_t> parseSize(std::string_view text)
{
    if (text.empty())
        return std::nullopt;
    std::size_t multiplier = 1;
    const char last = text.back();
    if (last == 'K' || last == 'k') {
        multiplier = 1u << 10;
        text.remove_suffix(1);
    } else if (last == 'M' || last == 'm') {
        multiplier = 1u << 20;
        text.remove_suffix(1);
    }
    std::size_t value = 0;
    for (char c : text) {
        if (c < '0' || c > '9' || value > (std::size_t{1} << 40))
            return std::nullopt;
        value = value * 10 + static_cast<std::size_t>(c - '0');
    }
    if (text.empty() || value == 0 || value > (std::size_t{1} << 32) / multiplier)
        return std::nullopt;
    return value * multiplier;
}

Options parseOptions(int argc, char** argv)
{
    Options options;
    for (int i = 1; i < argc; ++i) {
        const std::string_view arg = argv[i];
        auto value = [&]() -> std::string_view {
            if (i + 1 >= argc)
                usage("missing value");
            return argv[++i];
        };
        if (arg == "--size") {
            const auto size = parseSize(value());
            if (!size)
                usage("bad --size");
            options.size = *size;
        } else if (arg == "--big") {
            options.big = true;
        } else if (arg == "--runs") {
            options.runs = std::atoi(std::string(value()).c_str());
            if (options.runs < 1 || options.runs > 100)
                usage("bad --runs");
        } else if (arg == "--only") {
            options.only = value();
            const auto& names = streamNames();
            const auto& hostileNames = hostileStreamNames();
            if (options.only == "hostile") {
                options.only.clear();
                options.hostileOnly = true;
            } else if (std::find(hostileNames.begin(), hostileNames.end(), options.only) != hostileNames.end()) {
                options.hostileOnly = true;
            } else if (std::find(names.begin(), names.end(), options.only) == names.end()) {
                usage("unknown stream for --only");
            } else {
                options.hostile = false;
            }
        } else if (arg == "--engine") {
            const std::string_view engine = value();
            options.corvantix = engine == "corvantix" || engine == "both";
            options.peer = engine == "libvterm" || engine == "both";
            if (!options.corvantix && !options.peer)
                usage("bad --engine");
        } else if (arg == "--no-memory") {
            options.memory = false;
        } else if (arg == "--no-hostile") {
            options.hostile = false;
        } else if (arg == "--hostile-limit" || arg == "--flood-seconds") {
            const int seconds = std::atoi(std::string(value()).c_str());
            if (seconds < 0 || seconds > 3600 || (seconds == 0 && arg == "--hostile-limit"))
                usage("bad seconds");
            (arg == "--flood-seconds" ? options.floodSeconds : options.hostileLimitSeconds) = seconds;
        } else if (arg == "--no-search") {
            options.search = false;
        } else if (arg == "--no-bidi") {
            options.bidi = false;
        } else {
            usage("unknown argument");
        }
    }
    return options;
}

double megabytesPerSecond(std::size_t bytes, double seconds)
{
    return seconds > 0 ? static_cast<double>(bytes) / 1e6 / seconds : 0;
}

template <typename Run>
double bestOf(int runs, Run run)
{
    double best = 0;
    for (int i = 0; i < runs; ++i) {
        const double seconds = run();
        best = i == 0 ? seconds : std::min(best, seconds);
    }
    return best;
}

void benchSize(const Options& options, int cols, int rows)
{
    RunSetup setup;
    setup.cols = cols;
    setup.rows = rows;
    for (const std::string& name : streamNames()) {
        if (!options.only.empty() && name != options.only)
            continue;
        const Stream stream = makeStream(name, options.size, cols, rows, streamSeed);
        const std::size_t n = stream.bytes.size();
        double ours = 0;
        double theirs = 0;
        if (options.corvantix)
            ours = megabytesPerSecond(n, bestOf(options.runs, [&] { return runCorvantix(stream.bytes, setup); }));
        if (options.peer)
            theirs = megabytesPerSecond(n, bestOf(options.runs, [&] { return runPeer(stream.bytes, setup); }));
        std::printf("%s %dx%d corvantix=%.1f MB/s libvterm=%.1f MB/s ratio=%.2f\n", stream.name.c_str(), cols, rows,
                    ours, theirs, theirs > 0 ? ours / theirs : 0.0);
        std::fflush(stdout);
    }
}

std::string memoryReport()
{
    const auto small = residentBytesPerCell(10'000);
    const auto large = residentBytesPerCell(100'000);
    auto text = [](const std::optional<double>& figure) {
        char buffer[32];
        if (!figure)
            return std::string("n/a");
        std::snprintf(buffer, sizeof buffer, "%.1f", *figure);
        return std::string(buffer);
    };
    return "memory 80x24 scrollback=10000 corvantix=" + text(small) + " bytes/cell scrollback=100000 corvantix="
        + text(large) + " bytes/cell";
}

} // namespace

int main(int argc, char** argv)
{
    const Options options = parseOptions(argc, argv);
    // The memory children are forked first, from a process that has not yet allocated
    // (and freed) the streams, so their baseline holds no reusable heap.
    std::optional<std::string> memoryLine;
    if (options.memory && !options.hostileOnly)
        memoryLine = memoryReport();
    if (!options.hostileOnly) {
        benchSize(options, 80, 24);
        if (options.big)
            benchSize(options, 200, 50);
    }
    if (memoryLine)
        std::printf("%s\n", memoryLine->c_str());
    if (options.search && !options.hostileOnly)
        std::printf("%s\n", corvantix::bench::searchReport(100'000).c_str());
    if (options.bidi && !options.hostileOnly)
        std::printf("%s\n", corvantix::bench::bidiReport(20'000).c_str());
    if (options.hostile)
        benchHostile(options.only, options.hostileLimitSeconds, options.floodSeconds);
    return 0;
}
