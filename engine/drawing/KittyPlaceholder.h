// The choice of the placement that shows a Kitty Unicode-placeholder cell. Decoding the
// cell belongs to the graphics side; the row builder asks it through a hook and only
// collects the decoded cells.
#pragma once

#include <cstdint>
#include <optional>
#include <span>

#include "graphics/KittyGraphicsState.h"
#include "graphics/KittyPlaceholder.h"

namespace corvantix {

// The first placement of the list that can show the cell: at least one cell in each
// direction, large enough for the cell's image row and column, and with the cell's
// placement id unless that id is 0. None when no record qualifies.
inline std::optional<KittyPlacementRecord> findPlaceholderPlacement(std::span<const KittyPlacementRecord> placements,
                                                                    const KittyPlaceholderCell& cell)
{
    for (const KittyPlacementRecord& record : placements) {
        if (record.cols < 1 || record.rows < 1)
            continue;
        if (cell.placeholderCol >= record.cols || cell.placeholderRow >= record.rows)
            continue;
        if (cell.placementId != 0 && record.placementId != cell.placementId)
            continue;
        return record;
    }
    return std::nullopt;
}

} // namespace corvantix
