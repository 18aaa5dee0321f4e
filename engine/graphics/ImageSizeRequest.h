// The size a program asks for an inline image: a count of cells, of pixels, a percentage
// of the screen, or whatever the image itself says (auto). Read from OSC 1337 arguments
// and from Kitty placements; handed to the host with the image data.
#pragma once

#include <cstdint>
#include <string>

namespace corvantix {

struct ImageSizeRequest {
    enum class Case : std::uint8_t { cells, pixels, percent, automatic };

    Case kind = Case::automatic;
    int value = 0; // the count of cells / pixels / the percentage; 0 for auto

    static constexpr ImageSizeRequest cells(int n) { return {Case::cells, n}; }
    static constexpr ImageSizeRequest pixels(int n) { return {Case::pixels, n}; }
    static constexpr ImageSizeRequest percent(int n) { return {Case::percent, n}; }
    // `auto` is a C++ keyword.
    static constexpr ImageSizeRequest automatic() { return {Case::automatic, 0}; }

    // "cells(3)", "pixels(40)", "percent(50)" or "auto".
    std::string description() const
    {
        switch (kind) {
        case Case::cells: return "cells(" + std::to_string(value) + ")";
        case Case::pixels: return "pixels(" + std::to_string(value) + ")";
        case Case::percent: return "percent(" + std::to_string(value) + ")";
        case Case::automatic: break;
        }
        return "auto";
    }

    friend constexpr bool operator==(const ImageSizeRequest&, const ImageSizeRequest&) = default;
};

} // namespace corvantix
