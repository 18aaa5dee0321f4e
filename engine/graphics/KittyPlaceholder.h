// Unicode placeholder cells: a program shows a virtual placement by writing U+10EEEE in each
// cell that is to show a piece of the image, followed by diacritics naming the piece's row,
// its column and the top byte of the image id; the cell's foreground colour carries the low
// 24 bits of the image id and its underline colour the placement id.
#pragma once

#include "model/CharData.h"

#include <array>
#include <cstdint>
#include <optional>
#include <string_view>

namespace corvantix {

struct KittyPlaceholderCell {
    int row = 0; // the cell, as the caller numbers it
    int col = 0;
    std::uint32_t imageId = 0;
    std::uint32_t placementId = 0; // 0: any placement of the image
    int placeholderRow = 0; // the image piece, in cells from 0
    int placeholderCol = 0;
    int msb = 0; // the diacritic index that gave the image id's top byte; 0 when none

    friend constexpr bool operator==(const KittyPlaceholderCell&, const KittyPlaceholderCell&) = default;
};

inline constexpr char32_t kittyPlaceholderCharacter = 0x10EEEE;

// The diacritics that stand for the numbers 0 to 296, in order: combining marks drawn above
// the base character that never compose with it.
extern const std::array<char32_t, 297> kittyPlaceholderDiacritics;

// The number a diacritic stands for; none for any other scalar.
std::optional<int> kittyPlaceholderDiacriticIndex(char32_t scalar);

// The 24 bits a placeholder's colour carries: a palette index, or red, green and blue as one
// number; 0 for a default colour.
std::uint32_t kittyPlaceholderColourNumber(const Attribute::Color& colour);

// Decodes one cell given its text (its scalars) and colours. A cell carrying fewer than three
// diacritics continues the cell to its left (`previous`, with that cell's colours) when both
// stand on the same row, side by side, in the same colours. None when the cell is not a
// placeholder.
std::optional<KittyPlaceholderCell> decodeKittyPlaceholderCell(
    std::u32string_view text, Attribute::Color foreground, std::optional<Attribute::Color> underline, int row, int col,
    const std::optional<KittyPlaceholderCell>& previous, Attribute::Color previousForeground,
    std::optional<Attribute::Color> previousUnderline);

} // namespace corvantix
