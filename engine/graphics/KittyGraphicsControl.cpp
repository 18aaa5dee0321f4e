#include "graphics/KittyGraphicsControl.h"

#include <algorithm>
#include <limits>
#include <map>
#include <string_view>

namespace corvantix {

namespace {

bool isAscii(std::string_view text)
{
    return std::ranges::all_of(text, [](char c) { return static_cast<unsigned char>(c) < 0x80; });
}

// A signed decimal: one optional sign, then digits only; none when it does not fit 64 bits.
std::optional<std::int64_t> parseSigned(std::string_view text)
{
    bool negative = false;
    if (!text.empty() && (text.front() == '+' || text.front() == '-')) {
        negative = text.front() == '-';
        text.remove_prefix(1);
    }
    if (text.empty())
        return std::nullopt;
    // Accumulated as a negative number so that the smallest 64-bit value still fits.
    std::int64_t value = 0;
    constexpr std::int64_t lowest = std::numeric_limits<std::int64_t>::min();
    for (const char c : text) {
        if (c < '0' || c > '9')
            return std::nullopt;
        const int digit = c - '0';
        if (value < (lowest + digit) / 10)
            return std::nullopt;
        value = value * 10 - digit;
    }
    if (negative)
        return value;
    if (value == lowest)
        return std::nullopt;
    return -value;
}

// An id: optional "+", digits, at most 4294967295; 0 and failures mean no id.
std::optional<std::uint32_t> parseId(std::string_view text)
{
    if (!text.empty() && text.front() == '+')
        text.remove_prefix(1);
    if (text.empty())
        return std::nullopt;
    std::uint64_t value = 0;
    for (const char c : text) {
        if (c < '0' || c > '9')
            return std::nullopt;
        value = value * 10 + static_cast<std::uint64_t>(c - '0');
        if (value > std::numeric_limits<std::uint32_t>::max())
            return std::nullopt;
    }
    if (value == 0)
        return std::nullopt;
    return static_cast<std::uint32_t>(value);
}

int clampedInt(std::optional<std::int64_t> value, int fallback, std::int64_t low, std::int64_t high)
{
    if (!value)
        return fallback;
    return static_cast<int>(std::clamp(*value, low, high));
}

} // namespace

KittyGraphicsCommand parseKittyGraphicsControl(std::span<const std::uint8_t> data)
{
    const std::string_view all(reinterpret_cast<const char*>(data.data()), data.size());
    const std::size_t semicolon = all.find(';');
    const std::string_view controlText = all.substr(0, semicolon);
    KittyGraphicsCommand command;
    if (semicolon != std::string_view::npos)
        command.payload = data.subspan(semicolon + 1);

    // A later duplicate key wins.
    std::map<std::string_view, std::string_view> pairs;
    std::size_t start = 0;
    while (start <= controlText.size()) {
        std::size_t end = controlText.find(',', start);
        if (end == std::string_view::npos)
            end = controlText.size();
        const std::string_view element = controlText.substr(start, end - start);
        start = end + 1;
        const std::size_t equals = element.find('=');
        if (element.empty() || equals == std::string_view::npos || !isAscii(element))
            continue;
        pairs[element.substr(0, equals)] = element.substr(equals + 1);
    }

    KittyGraphicsControl& control = command.control;
    constexpr std::int64_t intLow = std::numeric_limits<int>::min();
    constexpr std::int64_t intHigh = std::numeric_limits<int>::max();
    for (const auto& [key, value] : pairs) {
        if (key.size() != 1)
            continue;
        const char letter = key.front();
        switch (letter) {
        case 'a':
        case 't':
        case 'o':
        case 'd':
            if (value.empty())
                break;
            if (letter == 'a')
                control.action = value.front();
            else if (letter == 't')
                control.transmission = value.front();
            else if (letter == 'o')
                control.compression = value.front();
            else
                control.deleteMode = value.front();
            break;
        case 'i': control.imageId = parseId(value); break;
        case 'I': control.imageNumber = parseId(value); break;
        case 'p': control.placementId = parseId(value); break;
        case 'P': control.parentImageId = parseId(value); break;
        case 'Q': control.parentPlacementId = parseId(value); break;
        case 'c': control.columns = clampedInt(parseSigned(value), 0, 0, kittyMaximumCellSpan); break;
        case 'r': control.rows = clampedInt(parseSigned(value), 0, 0, kittyMaximumCellSpan); break;
        default: {
            int KittyGraphicsControl::*field = nullptr;
            switch (letter) {
            case 'q': field = &KittyGraphicsControl::suppressResponses; break;
            case 'f': field = &KittyGraphicsControl::format; break;
            case 's': field = &KittyGraphicsControl::width; break;
            case 'v': field = &KittyGraphicsControl::height; break;
            case 'x': field = &KittyGraphicsControl::cropX; break;
            case 'y': field = &KittyGraphicsControl::cropY; break;
            case 'w': field = &KittyGraphicsControl::cropWidth; break;
            case 'h': field = &KittyGraphicsControl::cropHeight; break;
            case 'S': field = &KittyGraphicsControl::dataSize; break;
            case 'O': field = &KittyGraphicsControl::dataOffset; break;
            case 'H': field = &KittyGraphicsControl::offsetH; break;
            case 'V': field = &KittyGraphicsControl::offsetV; break;
            case 'X': field = &KittyGraphicsControl::pixelOffsetX; break;
            case 'Y': field = &KittyGraphicsControl::pixelOffsetY; break;
            case 'U': field = &KittyGraphicsControl::unicodePlaceholder; break;
            case 'z': field = &KittyGraphicsControl::zIndex; break;
            case 'm': field = &KittyGraphicsControl::more; break;
            case 'C': field = &KittyGraphicsControl::cursorPolicy; break;
            default: break;
            }
            if (field)
                control.*field = clampedInt(parseSigned(value), control.*field, intLow, intHigh);
            if (letter == 'x' || letter == 'y') {
                if (const auto wide = parseSigned(value))
                    (letter == 'x' ? control.wideX : control.wideY) = *wide;
            }
            break;
        }
        }
    }
    // Only data sent in the command itself can come in chunks.
    if (control.transmission != 'd')
        control.more = 0;
    return command;
}

} // namespace corvantix
