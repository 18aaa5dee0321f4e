// The facts about a Unicode scalar that the print path needs for every character it
// writes: its column width, whether it has a non-zero canonical combining class, whether it
// is Extended_Pictographic, its grapheme-cluster-break class and whether it always joins the
// character before it.
//
// Scalars of planes 0 and 1 (every script in use, and the emoji) are answered from a
// process-wide table that is filled 256 scalars at a time, the first time a scalar of the
// block is asked for, and never changes afterwards; the rest are computed on each call.
// The answers are exactly those of UnicodeUtil::columnWidth and ICU.
#pragma once

#include <array>
#include <atomic>
#include <cstddef>
#include <cstdint>

namespace corvantix {

struct ScalarProperties {
    int width = 1;                    // -1, 0, 1 or 2, as UnicodeUtil::columnWidth
    bool combining = false;           // canonical combining class is not 0
    bool extendedPictographic = false;
    int graphemeBreak = 0;            // UGraphemeClusterBreak
    // Joins the character before the cursor whenever there is one: zero width, the joiner,
    // a variation selector (standard, Mongolian, ideographic), a skin tone, or a combining
    // mark from U+0300 up.
    bool joinsPrevious = false;
    // Can join some character before it at all: joins previous, a regional indicator, or a
    // scalar that may follow the joiner in one cluster (pictographic, or of the extend,
    // joiner or spacing mark break classes). Any other scalar always starts a new cell, so
    // the print path skips the joining work for it.
    bool mayJoin = false;

    // Packed form: bits 0-1 width + 1, bit 2 combining, bit 3 pictographic, bit 4 joins
    // previous, bit 5 may join, bits 6-15 the break class (ICU has fewer than twenty).
    static constexpr ScalarProperties unpack(std::uint16_t packed)
    {
        return {static_cast<int>(packed & 3) - 1, (packed & 4) != 0, (packed & 8) != 0, packed >> 6,
                (packed & 16) != 0, (packed & 32) != 0};
    }
};

namespace scalarprops {

inline constexpr char32_t tableLimit = 0x20000;
inline constexpr int blockBits = 8;
inline constexpr std::size_t blockCount = tableLimit >> blockBits;

struct Table {
    std::array<std::array<std::uint16_t, std::size_t{1} << blockBits>, blockCount> values{};
    std::array<std::atomic<bool>, blockCount> ready{};
};

// Constant-initialised (every block not ready), so reading it needs no guard.
inline constinit Table sharedTable{};

Table& table();
// Fills block `block` (once; later callers wait for the first) and returns the table.
const Table& fillBlock(std::size_t block);
ScalarProperties compute(char32_t scalar);

} // namespace scalarprops

// Forced inline: the print path asks once per scalar and the answer is one load.
[[gnu::always_inline]] inline ScalarProperties scalarProperties(char32_t scalar)
{
    using namespace scalarprops;
    if (scalar >= tableLimit)
        return compute(scalar);
    const std::size_t block = scalar >> blockBits;
    const std::size_t index = scalar & ((std::size_t{1} << blockBits) - 1);
    const Table& shared = sharedTable;
    if (shared.ready[block].load(std::memory_order_acquire))
        return ScalarProperties::unpack(shared.values[block][index]);
    return ScalarProperties::unpack(fillBlock(block).values[block][index]);
}

} // namespace corvantix
