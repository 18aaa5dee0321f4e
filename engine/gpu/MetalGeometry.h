// The geometry of a row's and the cursor's vertex records: double-width and double-height
// stretching with the clipping that keeps a double-height row inside its own band, underline
// and strikethrough pieces, the seam strips of powerline separators, inline image quads and
// the pieces of an image shown through placeholder cells, and the cursor's shapes.
//
// Everything is in drawable pixels, origin at the lower left, y growing upwards, except where
// points are named (then also y upwards). Pure arithmetic: no toolkit, no GPU.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <utility>
#include <vector>

#include "drawing/CellArt.h"
#include "gpu/MetalDrawData.h"
#include "graphics/KittyGraphicsState.h"
#include "graphics/KittyPlaceholder.h"
#include "model/BufferLine.h"
#include "model/TerminalImage.h"

namespace corvantix {

using RenderLineMode = BufferLine::RenderLineMode;

// How one row's rectangles are stretched and clipped: its render mode, the y its glyphs
// stretch about, and (double-height rows only) the band they are cut to.
struct MetalRowStretch {
    RenderLineMode mode = RenderLineMode::single;
    double stretchBase = 0;
    std::optional<MetalRect> band;
};

// The stretch of a row whose bottom edge is at rowBottomPx and which is rowHeightPx tall in
// a drawable viewWidthPx wide. The upper half of a double-height line stretches down from
// the row's top edge, the lower half up from its bottom edge.
MetalRowStretch metalRowStretch(RenderLineMode mode, double rowBottomPx, double rowHeightPx, double viewWidthPx);

// The rectangle as a row of the mode draws it: doubled in x for every double-size mode,
// stretched twice about `stretchBase` in y for the double-height ones; normalised.
MetalRect cellRectForRenderMode(double x0, double y0, double x1, double y1, RenderLineMode mode, double stretchBase);

// A textured rectangle cut to the band, its texture rectangle cut in the same proportions;
// unchanged without a band, none when nothing of it is left inside.
std::optional<std::pair<MetalRect, MetalTexRect>> clipTextCell(const MetalRect& rect, const MetalTexRect& texture,
                                                               const std::optional<MetalRect>& band);
// A solid rectangle cut to the band; unchanged without one, none when nothing is left.
std::optional<MetalRect> clipColorRect(const MetalRect& rect, const std::optional<MetalRect>& band);

// Both steps for the row: the render-mode stretch, then the band.
std::optional<MetalRect> placeColorRect(const MetalRowStretch& row, double x0, double y0, double x1, double y1);
std::optional<std::pair<MetalRect, MetalTexRect>> placeTextRect(const MetalRowStretch& row, double x0, double y0,
                                                                double x1, double y1, const MetalTexRect& texture);

ColorCell makeColorCell(const MetalRect& rect, const MetalFloat4& color);
TextCell makeTextCell(const MetalRect& rect, const MetalTexRect& texture, const MetalFloat4& color);

// The pieces of one underline or strikethrough from x0 to x1 centred on yCenter, appended as
// solid cells: style 1 and 2 one bar, 3 (and anything above 5) a wave of small bars, 4
// dots, 5 dashes, 0 nothing.
void decorationGeometry(std::vector<ColorCell>& cells, int style, double x0, double x1, double yCenter,
                        double thickness, const MetalFloat4& color, double scale, const MetalRowStretch& row);

// The solid powerline separators: which way the tip points and whether the edge is round.
struct PowerlineSeparatorKind {
    bool pointsRight = true;
    bool rounded = false;
    friend bool operator==(const PowerlineSeparatorKind&, const PowerlineSeparatorKind&) = default;
};
// Only U+E0B0, U+E0B2, U+E0B4 and U+E0B6 have one; the thin outlines do not.
std::optional<PowerlineSeparatorKind> powerlineSeparatorKind(std::uint32_t codePoint);

// A one-pixel strip as tall as the separator's rectangle just outside its flat edge, so the
// neighbouring segment's background meets the separator without a seam.
std::optional<MetalRect> powerlineJoinRect(const MetalRect& rect, std::uint32_t codePoint);

// An image quad: `rect` in points times scale, stretched and cut for the row, six vertices
// in white. None when nothing of it is left.
std::optional<ImageDraw> imageQuadVertices(std::shared_ptr<MetalTexture> texture, const PointRect& rect,
                                           const MetalTexRect& textureRect, double scale,
                                           const MetalRowStretch& row);

// Which of a row's image lists an image a line holds goes to: Kitty placements below the
// text (z below 0) under it, the other placements over it, every other image last.
enum class LineImageLayer : std::uint8_t { under, over, other };
LineImageLayer lineImageLayer(const TerminalImage& image);

// Where an image a line holds is drawn, in points (y up): its top edge on the row's top
// edge at its column; a Kitty placement's pixel offsets (`backing` pixels to the point)
// move it right and down inside its first cell.
PointRect lineImageRect(const TerminalImage& image, double cellWidth, double rowTop, double backing);

// What a row's cell grid looks like in points (y up): its cells and its bottom edge.
struct MetalCellFrame {
    double cellWidth = 0;
    double cellHeight = 0;
    double rowBottom = 0;
};

// The part of an image a placeholder cell shows: the cell's share of the image fitted into
// the whole placement, in points, and the matching part of the texture. Pixel offsets move
// the image right and down, `backing` pixels to the point. None when the placement has no
// area, the texture no pixels, or the fitted image misses the cell.
struct PlaceholderPiece {
    PointRect rect;
    MetalTexRect texture;
};
std::optional<PlaceholderPiece> placeholderPiece(const KittyPlaceholderCell& cell,
                                                 const KittyPlacementRecord& placement, double textureWidth,
                                                 double textureHeight, double scale, double backing,
                                                 const MetalCellFrame& frame);

// The cursor's rectangle in pixels: `cells` cells from `column` of a row whose bottom edge is
// rowBottom points up; a double-size line makes it twice as wide, never taller.
MetalRect cursorRect(int column, int cells, int widthFactor, double cellWidth, double cellHeight, double rowBottom,
                     double scale);

enum class CursorShape : std::uint8_t { outline, bar, underline, block };

// The cursor's solid shape as vertices: an outline of four bars, a bar at the left edge, an
// underline at the bottom, or the whole rectangle.
void cursorShapeVertices(std::vector<ColorVertex>& vertices, CursorShape shape, const MetalRect& rect, double scale,
                         const MetalFloat4& color);

} // namespace corvantix
