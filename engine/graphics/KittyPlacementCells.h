// The image cells of Kitty placements on the lines of one screen: where each placement
// stands, and moving a placement's cells to other lines.
#pragma once

#include "graphics/KittyGraphicsState.h"
#include "model/Buffer.h"
#include "model/TerminalImage.h"

#include <map>
#include <optional>

namespace corvantix {

// Where a placement stands: a column and an absolute row (screen row + the buffer's yBase),
// or, in a map built from the lines, the line index of its top-most cell.
struct KittyCellPosition {
    int row = 0;
    int col = 0;

    friend constexpr bool operator==(const KittyCellPosition&, const KittyCellPosition&) = default;
};

using KittyCellPositions = std::map<KittyPlacementKey, KittyCellPosition>;

// Where a host puts an image during a Kitty put: the cell span and the top-left cell (absolute
// row) the placement covers.
struct KittyPlacedSpan {
    int col = 0;
    int row = 0;
    int cols = 0;
    int rows = 0;
};

// The record of the placement a host has just made for the request, on the given screen.
KittyPlacementRecord kittyPlacementRecordOf(const KittyPlacementContext& context, const KittyPlacedSpan& span,
                                            bool isAlternateBuffer);
// Marks one of the placement's image objects (one per line) with the request and the span.
void markKittyPlacementImage(KittyPlacementImage& image, const KittyPlacementContext& context,
                             const KittyPlacedSpan& span);

// The object as a cell of a Kitty placement: it has the placement fields and belongs to a
// placement. Null otherwise.
const KittyPlacementImage* kittyImageCell(const TerminalImage& image);
KittyPlacementImage* kittyImageCell(TerminalImage& image);

// The placement a cell shows; none unless both its image id and its placement id are set.
std::optional<KittyPlacementKey> kittyPlacementKey(const KittyPlacementImage& cell);

// For every placement with cells on the buffer's lines: the top-most line showing it and
// the column of its first object on that line.
KittyCellPositions kittyCellPositions(const Buffer& buffer);

// Takes the cells of one placement off their lines and attaches them `rowDelta` lines
// further down, at the new position; cells whose new line lies outside the ring are dropped.
void moveKittyPlacementCells(Buffer& buffer, const KittyPlacementKey& key, int rowDelta, int newRow, int newCol);

} // namespace corvantix
