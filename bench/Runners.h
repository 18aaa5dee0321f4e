// One timed pass of a stream through an engine, fed in fixed-size chunks the way a host
// reading a pseudo-terminal would, taking the rows to redraw after every chunk.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>

namespace corvantix::bench {

struct RunSetup {
    int cols = 80;
    int rows = 24;
    int scrollback = 10'000;
    std::size_t chunkSize = 64 * 1024;
};

// Seconds spent feeding (construction and teardown of the engine not included).
double runCorvantix(std::span<const std::uint8_t> bytes, const RunSetup& setup);
double runPeer(std::span<const std::uint8_t> bytes, const RunSetup& setup);

// Folded from the refresh ranges so the work cannot be optimised away.
extern volatile std::uint64_t refreshSink;

} // namespace corvantix::bench
