// Column widths of Unicode scalars on the grid: 0 (joins the previous cell), 1, 2 (a wide
// character taking two cells) or -1 (a control character without width). Fixed range
// tests, the Unicode general category and two sorted range tables.
#pragma once

#include <array>
#include <cstdint>
#include <span>
#include <string_view>

namespace corvantix {

struct UnicodeUtil {
    // An inclusive range of scalars.
    struct Interval {
        char32_t first;
        char32_t last;
    };

    static constexpr size_t lowTableSize = 8192;

    // The sorted, disjoint ranges of wide characters (123 of them).
    static std::span<const Interval> wideRanges();
    // The scalars after which a variation selector (U+FE0E, U+FE0F) can change the
    // presentation (183 ranges); the print path consults them.
    static std::span<const Interval> emojiVariationBases();
    static constexpr int wideRangesMax = 122;
    static constexpr int emojiVariationBasesMax = 182;

    // Widths of the scalars 0 ..< 8192, computed once by the first reader. Hot paths fetch
    // the table once and index it directly.
    static const std::array<int8_t, lowTableSize>& lowWidthTable();

    // Width of a scalar: -1, 0, 1 or 2. Below 8192 this is one read of the low table.
    static int columnWidth(char32_t scalar)
    {
        if (scalar < lowTableSize)
            return lowWidthTable()[scalar];
        return computeWidth(scalar);
    }

    // Width by the rules themselves, without the low table.
    static int computeWidth(char32_t scalar);

    // True when the scalar lies in one of the ranges 0 ... max of the table.
    static bool bisearch(char32_t scalar, std::span<const Interval> table, int max);

    // True when the text is exactly one scalar, at least U+0100, with the Unicode property
    // Emoji and without Emoji_Presentation: an emoji shown as text by default.
    static bool isTextPresentationEmoji(std::u32string_view text);
    // The same for UTF-8 text (invalid UTF-8 gives false).
    static bool isTextPresentationEmoji(std::string_view utf8);
};

} // namespace corvantix
