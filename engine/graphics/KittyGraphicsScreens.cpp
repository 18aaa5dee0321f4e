// Keeping placement records in step with the screens: after a scroll each record takes the
// position of its top-most cell and children follow their parents; a screen switch drops the
// placements of the screen being started afresh.
#include "graphics/KittyGraphics.h"

#include <algorithm>
#include <limits>

namespace corvantix {

void KittyGraphics::reanchorKittyPlacementsAfterScroll()
{
    // Without records there is nothing to keep in step; the cells simply moved with their lines.
    if (state_.placementsByKey.empty())
        return;
    Buffer& screen = host_.activeScreen();
    const KittyCellPositions cells = kittyCellPositions(screen);
    const bool alternate = host_.alternateScreenActive();

    for (auto& [key, record] : state_.placementsByKey) {
        if (record.isAlternateBuffer != alternate || record.isVirtual)
            continue;
        if (const auto found = cells.find(key); found != cells.end()) {
            record.row = found->second.row;
            record.col = found->second.col;
        }
    }

    KittyCellPositions memo;
    for (auto& [key, record] : state_.placementsByKey) {
        if (record.isAlternateBuffer != alternate || !record.parentImageId || !record.parentPlacementId)
            continue;
        const auto position = resolveKittyPlacementPosition(key, cells, memo);
        if (!position)
            continue;
        KittyCellPosition current{record.row, record.col};
        if (const auto found = cells.find(key); found != cells.end())
            current = found->second;
        if (*position != current) {
            const std::int64_t delta = std::int64_t{position->row} - current.row;
            moveKittyPlacementCells(screen, key,
                                    static_cast<int>(std::clamp<std::int64_t>(delta, std::numeric_limits<int>::min(),
                                                                              std::numeric_limits<int>::max())),
                                    position->row, position->col);
        }
        record.row = position->row;
        record.col = position->col;
    }
}

void KittyGraphics::dropKittyPlacementsOfScreen(Buffer& screen, bool isAlternate)
{
    KeySet keys = removeKittyImageCells(screen, 0, screen.lines().count(), [](const KittyPlacementImage&) { return true; });
    keys.merge(removeKittyPlacementRecords(
        [isAlternate](const KittyPlacementRecord& record) { return record.isAlternateBuffer == isAlternate; }));
    if (!keys.empty())
        removeKittyCellsOfKeys(keys);
    freeUnreferencedKittyImages();
}

} // namespace corvantix
