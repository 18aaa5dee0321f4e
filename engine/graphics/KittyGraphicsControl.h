// One image command as a program writes it after the "G" of an APC string: comma-separated
// key=value pairs, then ";" and the payload.
#pragma once

#include <cstdint>
#include <optional>
#include <span>

namespace corvantix {

struct KittyGraphicsControl {
    char action = 't';             // a
    int suppressResponses = 0;     // q
    int format = 32;               // f
    char transmission = 'd';       // t
    int width = 0;                 // s
    int height = 0;                // v
    int cropX = 0;                 // x
    int cropY = 0;                 // y
    int cropWidth = 0;             // w
    int cropHeight = 0;            // h
    int dataSize = 0;              // S
    int dataOffset = 0;            // O
    std::optional<std::uint32_t> imageId;           // i
    std::optional<std::uint32_t> imageNumber;       // I
    std::optional<std::uint32_t> placementId;       // p
    std::optional<std::uint32_t> parentImageId;     // P
    std::optional<std::uint32_t> parentPlacementId; // Q
    int offsetH = 0;               // H
    int offsetV = 0;               // V
    int pixelOffsetX = 0;          // X
    int pixelOffsetY = 0;          // Y
    int unicodePlaceholder = 0;    // U
    int zIndex = 0;                // z
    int more = 0;                  // m
    std::optional<char> compression; // o
    int columns = 0;               // c
    int rows = 0;                  // r
    int cursorPolicy = 0;          // C
    std::optional<char> deleteMode; // d
    // x and y as written, before they are held to an int: the delete command reads them as
    // a range of image ids, which reaches past the int range.
    std::int64_t wideX = 0;
    std::int64_t wideY = 0;

    friend bool operator==(const KittyGraphicsControl&, const KittyGraphicsControl&) = default;
};

// The most cells an image may span in either direction; c and r are held to 0 through it.
inline constexpr int kittyMaximumCellSpan = 10'000;

struct KittyGraphicsCommand {
    KittyGraphicsControl control;
    std::span<const std::uint8_t> payload; // the bytes after the first ";", a view into the input
};

// Never fails: unknown keys, non-ASCII elements and unreadable values fall back to the
// defaults. Integers are held to the 32-bit range (c and r to 0...10,000) so that no later
// cursor or pixel arithmetic can overflow.
KittyGraphicsCommand parseKittyGraphicsControl(std::span<const std::uint8_t> data);

} // namespace corvantix
