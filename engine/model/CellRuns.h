// Bulk writes of cells: filling a range with one cell and writing a run of single-byte
// characters that share everything but their code. Both sit on the hottest paths (every
// recycled or erased line, every run of plain text), so a cell goes out as one 16-byte store
// of words put together in registers.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include "model/PackedCell.h"

namespace corvantix {

namespace cellruns {

inline void storeWords(PackedCell* cell, std::uint64_t low, std::uint64_t high)
{
#if defined(__SSE2__)
    _mm_storeu_si128(reinterpret_cast<__m128i*>(cell),
                     _mm_set_epi64x(static_cast<long long>(high), static_cast<long long>(low)));
#else
    *cell = PackedCell::fromWords(low, high);
#endif
}

} // namespace cellruns

// cells[0 .. count) = cell.
inline void fillCellRun(PackedCell* cells, std::size_t count, const PackedCell& cell)
{
#if defined(__SSE2__)
    const auto words = _mm_set_epi64x(static_cast<long long>(cell.highWord()), static_cast<long long>(cell.lowWord()));
    auto* out = reinterpret_cast<__m128i*>(cells);
    std::size_t i = 0;
    // Four cells a step while they last: the loop's own work is a quarter of a step.
    for (; i + 4 <= count; i += 4) {
        _mm_storeu_si128(out + i, words);
        _mm_storeu_si128(out + i + 1, words);
        _mm_storeu_si128(out + i + 2, words);
        _mm_storeu_si128(out + i + 3, words);
    }
    for (; i < count; ++i)
        _mm_storeu_si128(out + i, words);
#else
    for (std::size_t i = 0; i < count; ++i)
        cells[i] = cell;
#endif
}

// cells[0 .. count) = the blank of a recycled line: code 0, width 1 and the attribute.
inline void fillBlankRun(PackedCell* cells, std::size_t count, const PackedAttribute& attribute)
{
    fillCellRun(cells, count, PackedCell(0, 1, attribute));
}

// cells[i] = `cell` with code bytes[i], for i in [0, count); the code of `cell` is 0.
inline void writeByteRun(PackedCell* cells, const std::uint8_t* bytes, std::size_t count, const PackedCell& cell)
{
#if defined(__SSE2__)
    const auto words = _mm_set_epi64x(static_cast<long long>(cell.highWord()), static_cast<long long>(cell.lowWord()));
    auto* out = reinterpret_cast<__m128i*>(cells);
    std::size_t i = 0;
    for (; i + 4 <= count; i += 4) {
        _mm_storeu_si128(out + i, _mm_or_si128(words, _mm_cvtsi32_si128(bytes[i])));
        _mm_storeu_si128(out + i + 1, _mm_or_si128(words, _mm_cvtsi32_si128(bytes[i + 1])));
        _mm_storeu_si128(out + i + 2, _mm_or_si128(words, _mm_cvtsi32_si128(bytes[i + 2])));
        _mm_storeu_si128(out + i + 3, _mm_or_si128(words, _mm_cvtsi32_si128(bytes[i + 3])));
    }
    for (; i < count; ++i)
        _mm_storeu_si128(out + i, _mm_or_si128(words, _mm_cvtsi32_si128(bytes[i])));
#else
    for (std::size_t i = 0; i < count; ++i)
        cells[i] = PackedCell::fromWords(cell.lowWord() | bytes[i], cell.highWord());
#endif
}

// cells[i] = a width-1 cell with code bytes[i] and the attribute, payload and semantic
// code given, for i in [0, count).
inline void writeNarrowRun(PackedCell* cells, const std::uint8_t* bytes, std::size_t count,
                           const PackedAttribute& attribute, TinyAtom payload, std::uint8_t semanticCode)
{
    writeByteRun(cells, bytes, count, PackedCell(0, 1, attribute, payload, semanticCode));
}

// *cell = the cell of these fields, stored as words.
inline void storeCell(PackedCell* cell, std::int32_t code, std::int8_t width, const PackedAttribute& attribute,
                      TinyAtom payload, std::uint8_t semanticCode)
{
    const PackedCell made(code, width, attribute, payload, semanticCode);
    cellruns::storeWords(cell, made.lowWord(), made.highWord());
}

} // namespace corvantix
