// PNG through libpng: the pixel size from the header, and the pixels as 8-bit RGBA.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <vector>

namespace corvantix {

struct PixelSize {
    int width = 0;
    int height = 0;

    friend constexpr bool operator==(const PixelSize&, const PixelSize&) = default;
};

struct RgbaImage {
    std::vector<std::uint8_t> bytes; // R, G, B, A per pixel, rows top to bottom, no padding
    int width = 0;
    int height = 0;
};

// The width and height the header gives; none when the data is not a PNG image.
std::optional<PixelSize> pngPixelSize(std::span<const std::uint8_t> data);

// The pixels with the colour channels multiplied by alpha; none when the data cannot be
// decoded or either side lies outside 1...maximumSide (checked before anything is allocated).
std::optional<RgbaImage> decodePngPremultiplied(std::span<const std::uint8_t> data, int maximumSide);

// RGBA pixels with straight alpha (as programs send raw pixels) turned premultiplied in
// place, rounding to nearest; a trailing partial pixel is left alone.
void premultiplyRgba(std::span<std::uint8_t> rgba);

} // namespace corvantix
