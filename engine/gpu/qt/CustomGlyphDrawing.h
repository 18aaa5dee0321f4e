// Cell art for the GPU renderer's atlas: box drawing, block elements and the solid powerline
// separators drawn in white from the same geometry the painter uses, so both drawing paths
// show the same shapes. The vertices give the colour.
#pragma once

#include <cstdint>

namespace corvantix {

// Draws the code point over a cell of cellWidthPx x cellHeightPx pixels into the caller's
// premultiplied B, G, R, A buffer (first row at the top). False when there is no buffer or
// the code point is no cell art (box drawing, a block element or a solid separator).
bool drawCustomGlyphInto(std::uint32_t codePoint, int cellWidthPx, int cellHeightPx, int baseThicknessPx, bool antiAlias,
                         double scale, std::uint8_t* buffer, int width, int height, int bytesPerRow);

// Whether drawCustomGlyphInto draws the code point.
bool isCustomGlyph(std::uint32_t codePoint);

} // namespace corvantix
