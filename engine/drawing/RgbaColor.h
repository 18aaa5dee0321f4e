// A colour as the drawing side hands it around: sRGB components and alpha, each 0 to 1.
// The row builder and the cell-art geometry produce these without any toolkit; the painter
// turns them into its own colour type at the last moment.
#pragma once

#include <algorithm>

namespace corvantix {

struct RgbaColor {
    double red = 0.0;
    double green = 0.0;
    double blue = 0.0;
    double alpha = 1.0;

    static constexpr RgbaColor clear() { return {0.0, 0.0, 0.0, 0.0}; }
    static constexpr RgbaColor black() { return {0.0, 0.0, 0.0, 1.0}; }
    static constexpr RgbaColor white() { return {1.0, 1.0, 1.0, 1.0}; }

    constexpr RgbaColor withAlpha(double value) const { return {red, green, blue, value}; }

    // Per-channel mean of this colour and another, keeping this colour's alpha (the dim
    // look of a cell).
    constexpr RgbaColor blended(const RgbaColor& other) const
    {
        return {(red + other.red) * 0.5, (green + other.green) * 0.5, (blue + other.blue) * 0.5, alpha};
    }

    // The alpha kept within 0 to 1.
    constexpr double clampedAlpha() const { return std::clamp(alpha, 0.0, 1.0); }

    friend constexpr bool operator==(const RgbaColor&, const RgbaColor&) = default;
};

} // namespace corvantix
