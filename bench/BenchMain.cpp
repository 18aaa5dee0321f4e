// corvantix-bench: throughput of the engine beside libvterm on six generated streams, the
// resident memory of a full scrollback, the time and memory of hostile streams, and the
// time of the bidirectional row layout. `--quick` runs every case once on small input, in
// seconds: it shows that each still runs, not how fast. Exit status 1 when a case did not
// finish (a child that crashed or was stopped at its time limit), 2 for bad arguments.
#include "ToolArguments.h"
#include "Bidi.h"
#include "Hostile.h"
#include "Memory.h"
#include "Runners.h"
#include "Search.h"
#include "Streams.h"

#include <algorithm>
#include <charconv>
#include <cstdio>
#include <optional>
#include <string>
#include <string_view>
#include <system_error>
#include <vector>

namespace {

using namespace corvantix;
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
    bool quick = false;
    // Lines of scrollback of the memory, search and bidi figures.
    int memoryLines = 10'000;
    int memoryLinesLarge = 100'000;
    int searchLines = 100'000;
    int bidiLines = 20'000;
};

constexpr ToolUsage usage{
    "corvantix-bench",
    "usage: corvantix-bench [--quick] [--size BYTES[K|M]] [--big] [--runs N] [--only NAME|hostile]\n"
    "                       [--engine corvantix|libvterm|both] [--no-memory] [--no-search] [--no-bidi]\n"
    "                       [--no-hostile] [--hostile-limit SECONDS] [--flood-seconds SECONDS]\n"
    "  --quick             every case once on small input (both sizes, one run, small hostile\n"
    "                      streams, a 1 s reply flood): does each still run, in seconds\n"
    "  --size BYTES        bytes of each throughput stream (16M)\n"
    "  --big               the streams at 200 x 50 too\n"
    "  --runs N            the best of N runs (3)\n"
    "  --only NAME         one stream, or hostile for the hostile streams alone\n"
    "  --engine WHICH      corvantix, libvterm or both (both)\n"
    "  --no-memory, --no-search, --no-bidi, --no-hostile   leave those figures out\n"
    "  --hostile-limit S   stop a hostile stream after S seconds (60)\n"
    "  --flood-seconds S   length of the reply flood, 0 to leave it out (30)\n"};

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

// Small enough that every case ends in seconds, large enough that each passes through every
// chunk boundary and scrolls.
void makeQuick(Options& options)
{
    options.quick = true;
    options.size = 64u << 10;
    options.big = true;
    options.runs = 1;
    options.floodSeconds = 1;
    options.hostileLimitSeconds = 30;
    options.memoryLines = 1'000;
    options.memoryLinesLarge = 2'000;
    options.searchLines = 2'000;
    options.bidiLines = 500;
}

Options parseOptions(int argc, char** argv)
{
    Options options;
    // Explicit options win over --quick wherever it stands.
    bool quick = false;
    bool noMemory = false, noHostile = false, noSearch = false, noBidi = false;
    std::optional<std::size_t> size;
    std::optional<int> runs;
    std::optional<int> limit;
    std::optional<int> flood;
    const auto seconds = [](std::optional<int>& into, int least) {
        return [&into, least](std::string_view value) {
            int parsed = -1;
            const auto [end, error] = std::from_chars(value.data(), value.data() + value.size(), parsed);
            if (error != std::errc() || end != value.data() + value.size() || parsed < least || parsed > 3600)
                return false;
            into = parsed;
            return true;
        };
    };
    const ToolOption table[] = {
        {"--quick", false, takeFlag(quick)},
        {"--size", true, [&](std::string_view value) { return (size = parseSize(value)).has_value(); }},
        {"--big", false, takeFlag(options.big)},
        {"--runs", true,
         [&](std::string_view value) { return (runs = parseCount(value, 100)).has_value(); }},
        {"--only", true,
         [&](std::string_view value) {
             options.only = value;
             const auto& names = streamNames();
             const auto& hostileNames = hostileStreamNames();
             if (options.only == "hostile") {
                 options.only.clear();
                 options.hostileOnly = true;
             } else if (std::find(hostileNames.begin(), hostileNames.end(), options.only) != hostileNames.end()) {
                 options.hostileOnly = true;
             } else if (std::find(names.begin(), names.end(), options.only) == names.end()) {
                 return false;
             } else {
                 options.hostile = false;
             }
             return true;
         }},
        {"--engine", true,
         [&](std::string_view engine) {
             options.corvantix = engine == "corvantix" || engine == "both";
             options.peer = engine == "libvterm" || engine == "both";
             return options.corvantix || options.peer;
         }},
        {"--no-memory", false, takeFlag(noMemory)},
        {"--no-hostile", false, takeFlag(noHostile)},
        {"--no-search", false, takeFlag(noSearch)},
        {"--no-bidi", false, takeFlag(noBidi)},
        {"--hostile-limit", true, seconds(limit, 1)},
        {"--flood-seconds", true, seconds(flood, 0)},
    };
    if (const ToolOperands operands = readToolArguments(argc, argv, usage, table); !operands.words.empty())
        refuseArguments(usage, "unexpected operand " + std::string(operands.words.front()));
    if (quick)
        makeQuick(options);
    options.memory = !noMemory;
    options.hostile = options.hostile && !noHostile;
    options.search = !noSearch;
    options.bidi = !noBidi;
    options.size = size.value_or(options.size);
    options.runs = runs.value_or(options.runs);
    options.hostileLimitSeconds = limit.value_or(options.hostileLimitSeconds);
    options.floodSeconds = flood.value_or(options.floodSeconds);
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

// None when a child could not measure.
std::optional<std::string> memoryReport(const Options& options)
{
    const auto small = residentBytesPerCell(options.memoryLines);
    const auto large = residentBytesPerCell(options.memoryLinesLarge);
    if (!small || !large)
        return std::nullopt;
    char buffer[160];
    std::snprintf(buffer, sizeof buffer,
                  "memory 80x24 scrollback=%d corvantix=%.1f bytes/cell scrollback=%d corvantix=%.1f bytes/cell",
                  options.memoryLines, *small, options.memoryLinesLarge, *large);
    return std::string(buffer);
}

} // namespace

int main(int argc, char** argv)
{
    const Options options = parseOptions(argc, argv);
    if (options.quick)
        std::printf("quick: every case once on small input; the figures say nothing of speed\n");
    bool finished = true;
    // The memory children are forked first, from a process that has not yet allocated
    // (and freed) the streams, so their baseline holds no reusable heap.
    std::optional<std::string> memoryLine;
    const bool memory = options.memory && !options.hostileOnly;
    if (memory)
        memoryLine = memoryReport(options);
    if (!options.hostileOnly) {
        benchSize(options, 80, 24);
        if (options.big)
            benchSize(options, 200, 50);
    }
    if (memory) {
        std::printf("%s\n", memoryLine ? memoryLine->c_str() : "memory: a child did not finish");
        finished = finished && memoryLine;
    }
    if (options.search && !options.hostileOnly)
        std::printf("%s\n", corvantix::bench::searchReport(options.searchLines).c_str());
    if (options.bidi && !options.hostileOnly)
        std::printf("%s\n", corvantix::bench::bidiReport(options.bidiLines).c_str());
    if (options.hostile)
        finished = benchHostile(options.only, options.hostileLimitSeconds, options.floodSeconds, options.quick)
            && finished;
    return finished ? 0 : 1;
}
