// Bulk writes of cells: filling a range with one cell and writing a run of single-byte
// characters that share everything but their code. Both sit on the hottest paths (every
// recycled or erased line, every run of plain text), so they store whole machine words
// instead of copying the cell field by field through a temporary.
#pragma once

#include <bit>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <type_traits>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include "model/CharData.h"

namespace corvantix {

namespace cellruns {

inline constexpr bool wordStores = std::endian::native == std::endian::little && sizeof(CharData) == 24
    && alignof(CharData) <= 8 && std::is_trivially_copyable_v<CharData>;

// The three machine words of a cell, in memory order.
struct CellWords {
    std::uint64_t w0;
    std::uint64_t w1;
    std::uint64_t w2;
};

inline CellWords wordsOf(const CharData& cell)
{
    CellWords words{};
    std::memcpy(&words, &cell, sizeof(CellWords) < sizeof(CharData) ? sizeof(CellWords) : sizeof(CharData));
    return words;
}

inline void storeWords(CharData* cell, std::uint64_t w0, std::uint64_t w1, std::uint64_t w2)
{
    auto* bytes = reinterpret_cast<unsigned char*>(cell);
    std::memcpy(bytes, &w0, 8);
    std::memcpy(bytes + 8, &w1, 8);
    std::memcpy(bytes + 16, &w2, 8);
}

// The layout the word builders below assume; checked where they are used.
inline constexpr bool knownLayout = wordStores && std::is_standard_layout_v<CharData> && offsetof(CharData, code) == 0
    && sizeof(CharData::code) == 4 && offsetof(CharData, width) == 4 && offsetof(CharData, payload) == 6
    && sizeof(TinyAtom) == 2 && offsetof(CharData, semanticContentCode) == 8 && offsetof(CharData, attribute) == 9
    && sizeof(Attribute) == 15;

// The words of a width-1 cell with code 0 and the given fields, put together in registers.
// Building a CharData on the stack and reading it back as words costs a store-forwarding
// stall on every call, which is most of the price of a one-character print.
inline CellWords narrowCellWords(const Attribute& attribute, TinyAtom payload, std::uint8_t semanticCode)
{
    std::uint64_t low = 0;  // attribute bytes 0-7
    std::uint64_t high = 0; // attribute bytes 7-14
    const auto* bytes = reinterpret_cast<const unsigned char*>(&attribute);
    std::memcpy(&low, bytes, 8);
    std::memcpy(&high, bytes + 7, 8);
    CellWords words;
    words.w0 = (std::uint64_t{1} << 32) | (std::uint64_t{payload.code} << 48); // width 1 at byte 4, payload at 6
    words.w1 = semanticCode | (low << 8);                                       // attribute from byte 9
    words.w2 = high;
    return words;
}

// cells[0 .. count) = the cell of `words`.
inline void fillWordsRun(CharData* cells, std::size_t count, const CellWords& words)
{
#if defined(__SSE2__)
    if (count >= 4) {
        // Two cells are 48 bytes: three 16-byte stores.
        const auto a = _mm_set_epi64x(static_cast<long long>(words.w1), static_cast<long long>(words.w0));
        const auto b = _mm_set_epi64x(static_cast<long long>(words.w0), static_cast<long long>(words.w2));
        const auto c = _mm_set_epi64x(static_cast<long long>(words.w2), static_cast<long long>(words.w1));
        auto* out = reinterpret_cast<unsigned char*>(cells);
        std::size_t i = 0;
        // Four cells per step while they last: the loop's own work is a third of a step.
        for (; i + 4 <= count; i += 4, out += 96) {
            _mm_storeu_si128(reinterpret_cast<__m128i*>(out), a);
            _mm_storeu_si128(reinterpret_cast<__m128i*>(out + 16), b);
            _mm_storeu_si128(reinterpret_cast<__m128i*>(out + 32), c);
            _mm_storeu_si128(reinterpret_cast<__m128i*>(out + 48), a);
            _mm_storeu_si128(reinterpret_cast<__m128i*>(out + 64), b);
            _mm_storeu_si128(reinterpret_cast<__m128i*>(out + 80), c);
        }
        for (; i + 2 <= count; i += 2, out += 48) {
            _mm_storeu_si128(reinterpret_cast<__m128i*>(out), a);
            _mm_storeu_si128(reinterpret_cast<__m128i*>(out + 16), b);
            _mm_storeu_si128(reinterpret_cast<__m128i*>(out + 32), c);
        }
        if (i < count)
            storeWords(cells + i, words.w0, words.w1, words.w2);
        return;
    }
#endif
    for (std::size_t i = 0; i < count; ++i)
        storeWords(cells + i, words.w0, words.w1, words.w2);
}

} // namespace cellruns

// cells[0 .. count) = cell. The padding bytes of the template are copied as they are, so
// every filled cell is byte-identical to the template.
inline void fillCellRun(CharData* cells, std::size_t count, const CharData& cell)
{
    if constexpr (cellruns::wordStores) {
        cellruns::fillWordsRun(cells, count, cellruns::wordsOf(cell));
    } else {
        for (std::size_t i = 0; i < count; ++i)
            cells[i] = cell;
    }
}

// cells[0 .. count) = CharData(0, 1, attribute): the blank of a recycled line. The cell is
// put together in registers; one built on the stack and read back as words stalls every
// time, and a scroll recycles a line for every row of output.
inline void fillBlankRun(CharData* cells, std::size_t count, const Attribute& attribute)
{
    if constexpr (cellruns::knownLayout)
        cellruns::fillWordsRun(cells, count, cellruns::narrowCellWords(attribute, TinyAtom{}, 0));
    else
        fillCellRun(cells, count, CharData(0, 1, attribute));
}

namespace cellruns {

// cells[i] = the cell of `words` with code bytes[i] (the code bits of words.w0 are 0).
inline void writeWordsRun(CharData* cells, const std::uint8_t* bytes, std::size_t count, const CellWords& words)
{
#if defined(__SSE2__)
    if (count >= 4) {
        // Two cells per step, as three 16-byte stores: the template, and each code or-ed
        // into its place (byte 0 and byte 24 of the pair).
        const auto a = _mm_set_epi64x(static_cast<long long>(words.w1), static_cast<long long>(words.w0));
        const auto b = _mm_set_epi64x(static_cast<long long>(words.w0), static_cast<long long>(words.w2));
        const auto c = _mm_set_epi64x(static_cast<long long>(words.w2), static_cast<long long>(words.w1));
        auto* out = reinterpret_cast<unsigned char*>(cells);
        std::size_t i = 0;
        // Four cells per step while they last, then two.
        for (; i + 4 <= count; i += 4, out += 96) {
            _mm_storeu_si128(reinterpret_cast<__m128i*>(out), _mm_or_si128(a, _mm_cvtsi32_si128(bytes[i])));
            _mm_storeu_si128(reinterpret_cast<__m128i*>(out + 16),
                             _mm_or_si128(b, _mm_slli_si128(_mm_cvtsi32_si128(bytes[i + 1]), 8)));
            _mm_storeu_si128(reinterpret_cast<__m128i*>(out + 32), c);
            _mm_storeu_si128(reinterpret_cast<__m128i*>(out + 48), _mm_or_si128(a, _mm_cvtsi32_si128(bytes[i + 2])));
            _mm_storeu_si128(reinterpret_cast<__m128i*>(out + 64),
                             _mm_or_si128(b, _mm_slli_si128(_mm_cvtsi32_si128(bytes[i + 3]), 8)));
            _mm_storeu_si128(reinterpret_cast<__m128i*>(out + 80), c);
        }
        for (; i + 2 <= count; i += 2, out += 48) {
            const __m128i first = _mm_cvtsi32_si128(bytes[i]);
            const __m128i second = _mm_slli_si128(_mm_cvtsi32_si128(bytes[i + 1]), 8);
            _mm_storeu_si128(reinterpret_cast<__m128i*>(out), _mm_or_si128(a, first));
            _mm_storeu_si128(reinterpret_cast<__m128i*>(out + 16), _mm_or_si128(b, second));
            _mm_storeu_si128(reinterpret_cast<__m128i*>(out + 32), c);
        }
        if (i < count)
            storeWords(cells + i, words.w0 | bytes[i], words.w1, words.w2);
        return;
    }
#endif
    for (std::size_t i = 0; i < count; ++i)
        storeWords(cells + i, words.w0 | bytes[i], words.w1, words.w2);
}

} // namespace cellruns

// cells[i] = cell with code bytes[i], for i in [0, count).
inline void writeByteRun(CharData* cells, const std::uint8_t* bytes, std::size_t count, const CharData& cell)
{
    if constexpr (cellruns::knownLayout) {
        // The code is the low four bytes of the first word.
        cellruns::CellWords words = cellruns::wordsOf(cell);
        words.w0 &= ~std::uint64_t{0xFFFFFFFF};
        cellruns::writeWordsRun(cells, bytes, count, words);
    } else {
        CharData written = cell;
        for (std::size_t i = 0; i < count; ++i) {
            written.code = bytes[i];
            cells[i] = written;
        }
    }
}

// cells[i] = a width-1 cell with code bytes[i] and the attribute, payload and semantic
// code given, for i in [0, count).
inline void writeNarrowRun(CharData* cells, const std::uint8_t* bytes, std::size_t count, const Attribute& attribute,
                           TinyAtom payload, std::uint8_t semanticCode)
{
    if constexpr (cellruns::knownLayout)
        cellruns::writeWordsRun(cells, bytes, count, cellruns::narrowCellWords(attribute, payload, semanticCode));
    else
        writeByteRun(cells, bytes, count, CharData(0, 1, attribute, payload, semanticCode));
}

// *cell = CharData(code, width, attribute, payload, semanticCode), stored as words.
inline void storeCell(CharData* cell, std::int32_t code, std::int8_t width, const Attribute& attribute,
                      TinyAtom payload, std::uint8_t semanticCode)
{
    if constexpr (cellruns::knownLayout) {
        cellruns::CellWords words = cellruns::narrowCellWords(attribute, payload, semanticCode);
        words.w0 = static_cast<std::uint32_t>(code) | (std::uint64_t{static_cast<std::uint8_t>(width)} << 32)
            | (std::uint64_t{payload.code} << 48);
        cellruns::storeWords(cell, words.w0, words.w1, words.w2);
    } else {
        *cell = CharData(code, width, attribute, payload, semanticCode);
    }
}

} // namespace corvantix
