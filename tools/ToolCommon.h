// Shared by the command-line tools (vtfeed, vtrun): reading their arguments and printing a
// terminal's screen in the one format tests compare against.
#pragma once

#include "ToolArguments.h"
#include "emulator/Terminal.h"

#include <cstdint>
#include <span>
#include <string>
#include <vector>

namespace corvantix {

// Lowercase hex digits, two per byte, no separators.
inline std::string hexBytes(std::span<const std::uint8_t> bytes)
{
    static constexpr char digits[] = "0123456789abcdef";
    std::string text;
    text.reserve(bytes.size() * 2);
    for (std::uint8_t byte : bytes) {
        text += digits[byte >> 4];
        text += digits[byte & 0xF];
    }
    return text;
}

// A decoded image the terminal handed its host: its size in pixels and the cell (zero-based
// column and row) where it was placed.
struct ShownImage {
    int width = 0;
    int height = 0;
    int col = 0;
    int row = 0;
};

// The terminal as the tools print it: with `withScrollback` the lines above the screen
// first, each as ~|text|; each screen row as |text| (trailing blanks trimmed); a line
// "cursor X Y" (zero-based column and row); a line "image WxH at COL ROW" per image, in
// order; a line "reply HEX" per reply, in order.
inline std::string screenDump(const Terminal& terminal, std::span<const std::vector<std::uint8_t>> replies,
                              bool withScrollback = false, std::span<const ShownImage> images = {})
{
    const Buffer& screen = terminal.buffer();
    std::string output;
    const auto lineText = [&](int index) {
        const auto& line = screen.lines().peek(index);
        return line ? terminal.lineDisplayText(*line) : std::string();
    };
    if (withScrollback) {
        for (int index = 0; index < screen.yBase() && index < screen.lines().count(); ++index)
            output += "~|" + lineText(index) + "|\n";
    }
    for (int row = 0; row < screen.rows(); ++row) {
        const int index = screen.yBase() + row;
        output += '|';
        if (index < screen.lines().count())
            output += lineText(index);
        output += "|\n";
    }
    output += "cursor " + std::to_string(screen.x()) + " " + std::to_string(screen.y()) + "\n";
    for (const ShownImage& image : images) {
        output += "image " + std::to_string(image.width) + "x" + std::to_string(image.height) + " at "
            + std::to_string(image.col) + " " + std::to_string(image.row) + "\n";
    }
    for (const auto& reply : replies)
        output += "reply " + hexBytes(reply) + "\n";
    return output;
}

} // namespace corvantix
