// Box drawing (U+2500 to U+257F) as cell geometry: lines with light, heavy and double arms,
// dashed lines, rounded corners and diagonals. Shapes are worked out in device pixels of the
// cell, counted from its top-left corner (x to the right, y downward), so that every stroke
// lies on whole pixels and the arms of neighbouring cells meet on the same pixel rows and
// columns; the painter maps them back to points with the backing scale.
#pragma once

#include <cstdint>
#include <optional>

#include "drawing/CellArt.h"

namespace corvantix {

// Weight of one arm of a box-drawing line character.
enum class BoxArm : uint8_t { none, light, heavy, double_ };

// The four arms of a line character, as its Unicode name says (single means light).
struct BoxArms {
    BoxArm up = BoxArm::none;
    BoxArm right = BoxArm::none;
    BoxArm down = BoxArm::none;
    BoxArm left = BoxArm::none;

    friend constexpr bool operator==(const BoxArms&, const BoxArms&) = default;
};

// The arms of the 109 line characters (U+2500 to U+2503, U+250C to U+254B, U+2550 to U+256C,
// U+2574 to U+257F); none for every other code point.
std::optional<BoxArms> boxDrawingArms(uint32_t codePoint);

// A filled rectangle in cell pixels, half-open: [x0, x1) x [y0, y1).
struct PixelRect {
    int x0 = 0;
    int x1 = 0;
    int y0 = 0;
    int y1 = 0;

    constexpr bool isEmpty() const { return x1 <= x0 || y1 <= y0; }

    friend constexpr bool operator==(const PixelRect&, const PixelRect&) = default;
};

// The shape of one box-drawing character in cell pixels.
struct BoxDrawingShape {
    // The bend of a rounded corner: a circle of radius `outerRadius` around the centre with
    // a circle of `innerRadius` cut out (even-odd; filled whole when the inner radius is 0),
    // clipped to [clipX0, clipX1] x [clipY0, clipY1]. Drawn with anti-aliasing.
    struct QuarterRing {
        double centerX = 0.0;
        double centerY = 0.0;
        double outerRadius = 0.0;
        double innerRadius = 0.0;
        double clipX0 = 0.0;
        double clipX1 = 0.0;
        double clipY0 = 0.0;
        double clipY1 = 0.0;
    };
    // A straight anti-aliased stroke with butt caps.
    struct Stroke {
        double x0 = 0.0;
        double y0 = 0.0;
        double x1 = 0.0;
        double y1 = 0.0;
        double width = 0.0;
    };

    // Pixel fills, clamped to the cell; empty rectangles are left out.
    FixedList<PixelRect, 8> rects;
    std::optional<QuarterRing> ring;
    FixedList<Stroke, 2> strokes;

    bool isEmpty() const { return rects.empty() && !ring && strokes.empty(); }
};

// The light stroke in device pixels: the caller's thickness t0, at least the unit u.
constexpr int boxLightStroke(int thickness, int unit) { return thickness > unit ? thickness : unit; }

// The shape of `codePoint` in a cell of W x H device pixels, with the caller's light
// thickness t0 and the unit u = max(round(scale), 1). Empty outside U+2500 to U+257F.
BoxDrawingShape boxDrawingShape(uint32_t codePoint, int thickness, int pixelWidth, int pixelHeight, int unit);

// The cell of one box-drawing item as the row drawing lays it out: whole device pixels per
// cell, so neighbouring items share their edges exactly.
struct BoxDrawingCell {
    PointRect rect;      // points, y downward
    int pixelWidth = 1;  // W
    int pixelHeight = 1; // H
};

// The light thickness t0 of box drawing in a row, in device pixels:
// max(round(scale x underline thickness x 1.35), round(scale), 1).
int boxDrawingThickness(double scale, double underlineThickness);

// Where item `item` of a row goes (origin x and row top in points).
BoxDrawingCell boxDrawingCell(const BoxDrawingRenderItem& item, const CellGrid& grid, double scale);

// The pixel size W x H of a cell rectangle in points: max(round(size x scale), 1).
int boxDrawingPixels(double points, double scale);

// A pixel rectangle of a cell mapped to points (y downward).
PointRect pixelRectToPoints(const PixelRect& rect, const PointRect& cell, double scale);

} // namespace corvantix
