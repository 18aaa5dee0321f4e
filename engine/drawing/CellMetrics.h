// The geometry of the terminal grid as pure arithmetic over a few font values: the size of
// one cell, the grid a frame holds, the fit of a wide glyph into its slot and the cell size
// in device pixels. The view measures its font and hands the numbers here, so all of it is
// testable without a font or a screen.
#pragma once

#include "emulator/TerminalDelegate.h"

#include <optional>

namespace corvantix {

// Measurements of the normal font, in points (device-independent pixels).
struct FontMetricsValue {
    double ascent = 0;
    double descent = 0;
    double leading = 0;
    // Horizontal advance of the glyph "W".
    double advance = 0;
};

// Size of one cell in points.
struct CellDimension {
    double width = 0;
    double height = 0;

    friend constexpr bool operator==(const CellDimension&, const CellDimension&) = default;
};

inline constexpr double minimumCellWidth = 1.0;
inline constexpr double minimumCellHeight = 1.0;
inline constexpr double maximumCellHeight = 8192.0;

// The cell of a font at a line-spacing factor on a display of the given backing scale.
// Width: the advance rounded to whole device pixels (halves away from zero). Height: the
// line height (ascent + descent + leading, times the spacing, rounded up to a whole point)
// rounded up to whole device pixels. The width is at least 1 point, the height between 1
// and 8192 points. A scale that is not a positive number counts as 1.
CellDimension computeCellSize(const FontMetricsValue& metrics, double lineSpacing, double scale);

struct GridSize {
    int cols = 0;
    int rows = 0;

    friend constexpr bool operator==(const GridSize&, const GridSize&) = default;
};

// The columns and rows a frame holds: (width minus the scroller's width, at least 0) over the
// cell width and the height over the cell height, each truncated toward zero. None when the
// arithmetic gives something that is not a finite number (an infinite frame, say); counts
// too large for an int are clamped (the terminal clamps further).
std::optional<GridSize> gridFromFrame(double width, double height, double scrollerWidth,
                                      const CellDimension& cell);

// Where and how large one glyph is drawn across `columnWidth` cells.
struct GlyphSlotFit {
    double dx = 0;      // horizontal offset in points
    double dy = 0;      // vertical offset in points, upward (a painter whose y grows
                        // downward subtracts it)
    double scale = 1.0; // factor applied to the glyph

    static constexpr GlyphSlotFit neutral() { return {}; }

    friend constexpr bool operator==(const GlyphSlotFit&, const GlyphSlotFit&) = default;
};

// A glyph's bounding box relative to its origin on the baseline, y measured upward:
// `minY` is the bottom edge (negative below the baseline).
struct GlyphBounds {
    double x = 0;
    double minY = 0;
    double width = 0;
    double height = 0;
};

inline constexpr double minimumGlyphScale = 0.1;

// Fits a glyph drawn across `columnWidth` cells into its slot: a glyph that fits is centred
// horizontally; one that does not is scaled down (not below 0.1) and centred on the cell,
// its vertical centre on the middle of the cell measured from a baseline that sits
// ceil(`baselineOffset`) above the cell's bottom (descent + leading of the normal font).
// Single-width glyphs, an unknown cell size and a glyph without advance get the neutral fit.
GlyphSlotFit glyphSlotFit(double advance, const GlyphBounds& bounds, int columnWidth,
                          const std::optional<CellDimension>& cell, double baselineOffset);

// The cell in device pixels: each side times the scale, rounded half away from zero. None
// when a side is not a finite number within the int range.
std::optional<CellPixelSize> cellSizeInPixels(const CellDimension& cell, double scale);

} // namespace corvantix
