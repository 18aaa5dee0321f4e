// The byte streams the benchmark feeds: generated in memory from a fixed seed, so every
// run and every engine sees exactly the same bytes.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace corvantix::bench {

struct Stream {
    std::string name;
    std::vector<std::uint8_t> bytes;
};

// splitmix64: small, fast and the same on every platform.
class Random {
public:
    explicit Random(std::uint64_t seed) : state(seed) {}

    std::uint64_t next()
    {
        std::uint64_t z = (state += 0x9E3779B97F4A7C15ull);
        z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
        z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
        return z ^ (z >> 31);
    }
    // Uniform in [0, bound) (bound > 0); the bias is irrelevant here.
    std::uint32_t below(std::uint32_t bound) { return static_cast<std::uint32_t>(next() % bound); }
    // Uniform in [low, high].
    int between(int low, int high) { return low + static_cast<int>(below(static_cast<std::uint32_t>(high - low + 1))); }
    bool chance(int percent) { return below(100) < static_cast<std::uint32_t>(percent); }

private:
    std::uint64_t state;
};

// The names of the streams, in the order they are run.
const std::vector<std::string>& streamNames();

// One stream for a screen of cols x rows, exactly `size` bytes long (the last sequence may
// be cut short, which the engines must take in their stride anyway). Each stream has its
// own generator, seeded from `seed` and its position in streamNames().
Stream makeStream(const std::string& name, std::size_t size, int cols, int rows, std::uint64_t seed);

// The individual generators, exposed for the fuzz seeds and for inspection.
std::vector<std::uint8_t> makeAsciiLines(std::size_t size, Random& random);
std::vector<std::uint8_t> makeSgrDense(std::size_t size, int cols, int rows, Random& random);
std::vector<std::uint8_t> makeUnicode(std::size_t size, int cols, Random& random);
std::vector<std::uint8_t> makeRegionScroll(std::size_t size, int cols, int rows, Random& random);
std::vector<std::uint8_t> makeCursorMotion(std::size_t size, int cols, int rows, Random& random);
std::vector<std::uint8_t> makeShortLines(std::size_t size);

} // namespace corvantix::bench
