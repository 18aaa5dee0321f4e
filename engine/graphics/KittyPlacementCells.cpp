#include "graphics/KittyPlacementCells.h"

#include <cstdint>
#include <utility>
#include <vector>

namespace corvantix {

KittyPlacementRecord kittyPlacementRecordOf(const KittyPlacementContext& context, const KittyPlacedSpan& span,
                                            bool isAlternateBuffer)
{
    return KittyPlacementRecord{.imageId = context.imageId.value_or(0),
                                .placementId = context.placementId.value_or(0),
                                .parentImageId = context.parentImageId,
                                .parentPlacementId = context.parentPlacementId,
                                .parentOffsetH = context.parentOffsetH,
                                .parentOffsetV = context.parentOffsetV,
                                .pixelOffsetX = context.pixelOffsetX,
                                .pixelOffsetY = context.pixelOffsetY,
                                .col = span.col,
                                .row = span.row,
                                .cols = span.cols,
                                .rows = span.rows,
                                .zIndex = context.zIndex,
                                .isAlternateBuffer = isAlternateBuffer};
}

void markKittyPlacementImage(KittyPlacementImage& image, const KittyPlacementContext& context,
                             const KittyPlacedSpan& span)
{
    image.kittyIsKitty = true;
    image.kittyImageId = context.imageId;
    image.kittyImageNumber = context.imageNumber;
    image.kittyPlacementId = context.placementId;
    image.kittyZIndex = context.zIndex;
    image.kittyPixelOffsetX = context.pixelOffsetX;
    image.kittyPixelOffsetY = context.pixelOffsetY;
    image.kittyCol = span.col;
    image.kittyRow = span.row;
    image.kittyCols = span.cols;
    image.kittyRows = span.rows;
}

const KittyPlacementImage* kittyImageCell(const TerminalImage& image)
{
    const KittyPlacementImage* cell = image.kittyPlacementImage();
    return cell && cell->kittyIsKitty ? cell : nullptr;
}

KittyPlacementImage* kittyImageCell(TerminalImage& image)
{
    KittyPlacementImage* cell = image.kittyPlacementImage();
    return cell && cell->kittyIsKitty ? cell : nullptr;
}

std::optional<KittyPlacementKey> kittyPlacementKey(const KittyPlacementImage& cell)
{
    if (!cell.kittyImageId || !cell.kittyPlacementId)
        return std::nullopt;
    return KittyPlacementKey{*cell.kittyImageId, *cell.kittyPlacementId};
}

KittyCellPositions kittyCellPositions(const Buffer& buffer)
{
    KittyCellPositions positions;
    const CircularBufferLineList& ring = buffer.lines();
    for (int index = 0; index < ring.count(); ++index) {
        const Buffer::LinePtr& line = ring.peek(index); // an empty slot holds no images
        if (!line || !line->images())
            continue;
        for (const auto& image : *line->images()) {
            const KittyPlacementImage* cell = image ? kittyImageCell(*image) : nullptr;
            if (!cell)
                continue;
            if (const auto key = kittyPlacementKey(*cell))
                positions.try_emplace(*key, KittyCellPosition{index, image->col()});
        }
    }
    return positions;
}

void moveKittyPlacementCells(Buffer& buffer, const KittyPlacementKey& key, int rowDelta, int newRow, int newCol)
{
    CircularBufferLineList& ring = buffer.lines();
    std::vector<std::pair<std::int64_t, std::shared_ptr<TerminalImage>>> moving;
    for (int index = 0; index < ring.count(); ++index) {
        const Buffer::LinePtr& line = ring.peek(index);
        if (!line || !line->images())
            continue;
        BufferLine::Images kept;
        bool took = false;
        for (const auto& image : *line->images()) {
            const KittyPlacementImage* cell = image ? kittyImageCell(*image) : nullptr;
            if (cell && kittyPlacementKey(*cell) == key) {
                moving.emplace_back(std::int64_t{index} + rowDelta, image);
                took = true;
            } else {
                kept.push_back(image);
            }
        }
        if (took)
            buffer.setLineImages(index, std::move(kept));
    }
    for (auto& [target, image] : moving) {
        if (target < 0 || target >= ring.count())
            continue;
        KittyPlacementImage* cell = image->kittyPlacementImage();
        image->setCol(newCol);
        cell->kittyCol = newCol;
        cell->kittyRow = newRow;
        buffer.attachImagesToLine(std::move(image), static_cast<int>(target));
    }
}

} // namespace corvantix
