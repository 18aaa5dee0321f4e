// A Kitty Unicode-placeholder cell as the row drawing sees it, and the choice of the
// placement that shows it. Decoding the placeholder diacritics belongs to the graphics side;
// the row builder asks it through a hook and only collects the decoded cells.
#pragma once

#include <cstdint>
#include <optional>
#include <span>

#include "graphics/KittyGraphicsState.h"

namespace corvantix {

struct KittyPlaceholderCell {
    int row = 0;
    int col = 0; // visual column of the cell
    uint32_t imageId = 0;
    uint32_t placementId = 0; // 0 matches any placement
    int placeholderRow = 0;   // which cell of the image this one shows, from its top left
    int placeholderCol = 0;
    int msb = 0; // the image id's high byte, from the cell's third diacritic

    friend constexpr bool operator==(const KittyPlaceholderCell&, const KittyPlaceholderCell&) = default;
};

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
