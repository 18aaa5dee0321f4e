// Deleting placements and freeing the images nothing shows any more. A placement lives in
// two places kept in step here: its record in the store and the image cells on the lines of
// both screens. Every deletion therefore removes matching cells, then matching records, then
// whatever cells remain of every placement either step hit.
#include "graphics/KittyGraphics.h"
#include "graphics/KittyPlaceholder.h"

#include <algorithm>
#include <limits>
#include <span>
#include <vector>

namespace corvantix {

namespace {

constexpr std::int64_t largestImageId = std::numeric_limits<std::uint32_t>::max();

// The last column or row of a span that starts at `first` and covers `count` cells (at least one).
std::int64_t spanEnd(int first, int count) { return std::int64_t{first} + std::max(count, 1) - 1; }

bool columnInCell(const KittyPlacementImage& cell, std::int64_t column)
{
    return column >= cell.kittyCol && column <= spanEnd(cell.kittyCol, cell.kittyCols);
}

bool rowInCell(const KittyPlacementImage& cell, std::int64_t row)
{
    return row >= cell.kittyRow && row <= spanEnd(cell.kittyRow, cell.kittyRows);
}

bool columnInRecord(const KittyPlacementRecord& record, std::int64_t column)
{
    return column >= record.col && column <= spanEnd(record.col, record.cols);
}

bool rowInRecord(const KittyPlacementRecord& record, std::int64_t row)
{
    return row >= record.row && row <= spanEnd(record.row, record.rows);
}

} // namespace

// ---------------------------------------------------------------- The delete command

void KittyGraphics::deleteKittyGraphics(const KittyGraphicsControl& control)
{
    const char given = control.deleteMode.value_or('a');
    // Upper case also frees the images left unreferenced; other bytes count as upper case.
    const bool alsoFree = !(given >= 'a' && given <= 'z');
    const char mode = given >= 'A' && given <= 'Z' ? static_cast<char>(given - 'A' + 'a') : given;
    const bool hasCell = control.cropX >= 1 && control.cropY >= 1;

    switch (mode) {
    case 'a': deleteKittyPlacementsOnScreen(); break;
    case 'i':
        if (!control.imageId) {
            sendKittyGraphicsError(control, "EINVAL: missing image id");
            return;
        }
        deleteKittyPlacementsById(*control.imageId, control.placementId);
        break;
    case 'n':
        if (!control.imageNumber) {
            sendKittyGraphicsError(control, "EINVAL: missing image number");
            return;
        }
        deleteKittyPlacementsByNumber(*control.imageNumber, control.placementId);
        break;
    case 'c':
        deleteKittyPlacementsAtCell(std::int64_t{host_.cursorX()} + 1, std::int64_t{host_.cursorY()} + 1, std::nullopt);
        break;
    case 'p':
    case 'q':
        if (!hasCell) {
            sendKittyGraphicsError(control, "EINVAL: missing cell position");
            return;
        }
        deleteKittyPlacementsAtCell(control.cropX, control.cropY,
                                    mode == 'q' ? std::optional<int>(control.zIndex) : std::nullopt);
        break;
    case 'x':
        if (control.cropX < 1) {
            sendKittyGraphicsError(control, "EINVAL: missing column");
            return;
        }
        deleteKittyPlacementsInColumn(control.cropX);
        break;
    case 'y':
        if (control.cropY < 1) {
            sendKittyGraphicsError(control, "EINVAL: missing row");
            return;
        }
        deleteKittyPlacementsInRow(control.cropY);
        break;
    case 'z': deleteKittyPlacementsByZIndex(control.zIndex); break;
    case 'r': {
        if (control.wideX < 1 || control.wideY < 1) {
            sendKittyGraphicsError(control, "EINVAL: missing id range");
            return;
        }
        // Bounds past the largest id still mean "up to the last id", never a wrapped one.
        const auto bound = [](std::int64_t value) {
            return static_cast<std::uint32_t>(std::min(value, largestImageId));
        };
        deleteKittyPlacementsByIdRange(bound(std::min(control.wideX, control.wideY)),
                                       bound(std::max(control.wideX, control.wideY)));
        break;
    }
    default: sendKittyGraphicsError(control, "EINVAL: unsupported delete"); break;
    }
    if (alsoFree)
        freeUnreferencedKittyImages();
}

void KittyGraphics::deleteMatching(DeletionLines lines, const CellTest& cellTest, const RecordTest& recordTest)
{
    KeySet keys;
    switch (lines) {
    case DeletionLines::visible: {
        Buffer& screen = host_.activeScreen();
        const int top = host_.yBase();
        const int end = static_cast<int>(std::min<std::int64_t>(screen.lines().count(), std::int64_t{top} + host_.rows()));
        keys = removeKittyImageCells(screen, top, end, cellTest);
        break;
    }
    case DeletionLines::active:
        keys = removeKittyImageCells(host_.activeScreen(), 0, host_.activeScreen().lines().count(), cellTest);
        break;
    case DeletionLines::both:
        keys = removeKittyImageCells(host_.normalScreen(), 0, host_.normalScreen().lines().count(), cellTest);
        keys.merge(removeKittyImageCells(host_.alternateScreen(), 0, host_.alternateScreen().lines().count(), cellTest));
        break;
    }
    keys.merge(removeKittyPlacementRecords(recordTest));
    if (!keys.empty())
        removeKittyCellsOfKeys(keys);
}

void KittyGraphics::deleteKittyPlacementsOnScreen()
{
    const std::int64_t top = host_.yBase();
    const std::int64_t bottom = top + host_.rows() - 1;
    const std::int64_t lastColumn = std::int64_t{host_.cols()} - 1;
    deleteMatching(
        DeletionLines::visible, [](const KittyPlacementImage&) { return true; },
        [&](const KittyPlacementRecord& record) {
            return spanEnd(record.col, record.cols) >= 0 && record.col <= lastColumn
                && spanEnd(record.row, record.rows) >= top && record.row <= bottom;
        });
}

void KittyGraphics::deleteKittyPlacementsById(std::uint32_t imageId, std::optional<std::uint32_t> placementId)
{
    deleteMatching(
        DeletionLines::both,
        [&](const KittyPlacementImage& cell) {
            return cell.kittyImageId == imageId && (!placementId || cell.kittyPlacementId == placementId);
        },
        [&](const KittyPlacementRecord& record) {
            return record.imageId == imageId && (!placementId || record.placementId == *placementId);
        });
}

void KittyGraphics::deleteKittyPlacementsByNumber(std::uint32_t imageNumber, std::optional<std::uint32_t> placementId)
{
    const auto found = state_.imageNumbers.find(imageNumber);
    if (found != state_.imageNumbers.end())
        deleteKittyPlacementsById(found->second, placementId);
}

void KittyGraphics::deleteKittyPlacementsAtCell(std::int64_t x, std::int64_t y, std::optional<int> zIndex)
{
    const std::int64_t column = x - 1;
    const std::int64_t row = y - 1 + host_.yBase();
    deleteMatching(
        DeletionLines::active,
        [&](const KittyPlacementImage& cell) {
            return columnInCell(cell, column) && rowInCell(cell, row) && (!zIndex || cell.kittyZIndex == *zIndex);
        },
        [&](const KittyPlacementRecord& record) {
            return columnInRecord(record, column) && rowInRecord(record, row) && (!zIndex || record.zIndex == *zIndex);
        });
}

void KittyGraphics::deleteKittyPlacementsInColumn(std::int64_t x)
{
    const std::int64_t column = x - 1;
    deleteMatching(
        DeletionLines::active, [&](const KittyPlacementImage& cell) { return columnInCell(cell, column); },
        [&](const KittyPlacementRecord& record) { return columnInRecord(record, column); });
}

void KittyGraphics::deleteKittyPlacementsInRow(std::int64_t y)
{
    const std::int64_t row = y - 1 + host_.yBase();
    deleteMatching(
        DeletionLines::active, [&](const KittyPlacementImage& cell) { return rowInCell(cell, row); },
        [&](const KittyPlacementRecord& record) { return rowInRecord(record, row); });
}

void KittyGraphics::deleteKittyPlacementsByZIndex(int zIndex)
{
    deleteMatching(
        DeletionLines::both, [&](const KittyPlacementImage& cell) { return cell.kittyZIndex == zIndex; },
        [&](const KittyPlacementRecord& record) { return record.zIndex == zIndex; });
}

void KittyGraphics::deleteKittyPlacementsByIdRange(std::uint32_t low, std::uint32_t high)
{
    deleteMatching(
        DeletionLines::both,
        [&](const KittyPlacementImage& cell) {
            return cell.kittyImageId && *cell.kittyImageId >= low && *cell.kittyImageId <= high;
        },
        [&](const KittyPlacementRecord& record) { return record.imageId >= low && record.imageId <= high; });
}

// ---------------------------------------------------------------- Walks over cells and records

KittyGraphics::KeySet KittyGraphics::removeKittyImageCells(Buffer& buffer, int first, int end, const CellTest& test)
{
    KeySet keys;
    CircularBufferLineList& ring = buffer.lines();
    const int stop = std::min(end, ring.count());
    int smallest = -1;
    int largest = -1;
    for (int index = std::max(first, 0); index < stop; ++index) {
        const Buffer::LinePtr& line = ring.peek(index); // an empty slot holds no images
        if (!line || !line->images())
            continue;
        BufferLine::Images kept;
        bool removed = false;
        for (const auto& image : *line->images()) {
            const KittyPlacementImage* cell = image ? kittyImageCell(*image) : nullptr;
            if (cell && test(*cell)) {
                if (const auto key = kittyPlacementKey(*cell))
                    keys.insert(*key);
                removed = true;
            } else {
                kept.push_back(image);
            }
        }
        if (!removed)
            continue;
        buffer.setLineImages(index, std::move(kept));
        if (smallest < 0)
            smallest = index;
        largest = index;
    }
    if (smallest >= 0 && &buffer == &host_.activeScreen()) {
        const int top = host_.yBase();
        const int firstRow = smallest - top;
        const int lastRow = largest - top;
        if (lastRow >= 0 && firstRow < host_.rows()) {
            host_.updateRange(std::max(firstRow, 0));
            host_.updateRange(std::min(lastRow, host_.rows() - 1));
        }
    }
    return keys;
}

KittyGraphics::KeySet KittyGraphics::removeKittyPlacementRecords(const RecordTest& test)
{
    KeySet keys;
    for (const auto& [key, record] : state_.placementsByKey) {
        if (test(record))
            keys.insert(key);
    }
    for (const KittyPlacementKey& key : keys) {
        const auto found = state_.placementsByKey.find(key);
        if (found->second.isVirtual)
            notePlaceholderImageChanged(key.imageId);
        state_.placementsByKey.erase(found);
    }
    return keys;
}

KittyGraphics::KeySet KittyGraphics::removeKittyCellsOfKeys(const KeySet& keys)
{
    if (keys.empty())
        return {};
    const CellTest listed = [&keys](const KittyPlacementImage& cell) {
        const auto key = kittyPlacementKey(cell);
        return key && keys.contains(*key);
    };
    KeySet removed = removeKittyImageCells(host_.normalScreen(), 0, host_.normalScreen().lines().count(), listed);
    removed.merge(removeKittyImageCells(host_.alternateScreen(), 0, host_.alternateScreen().lines().count(), listed));
    return removed;
}

// ---------------------------------------------------------------- Freeing images

std::set<std::uint32_t> KittyGraphics::kittyImagesInUse()
{
    std::set<std::uint32_t> inUse;
    for (Buffer* screen : {&host_.normalScreen(), &host_.alternateScreen()}) {
        const CircularBufferLineList& ring = screen->lines();
        for (int index = 0; index < ring.count(); ++index) {
            const Buffer::LinePtr& line = ring.peek(index);
            if (!line || !line->images())
                continue;
            // Any object with an image id keeps that image, whether or not it is a placement.
            for (const auto& image : *line->images()) {
                const KittyPlacementImage* fields = image ? image->kittyPlacementImage() : nullptr;
                if (fields && fields->kittyImageId)
                    inUse.insert(*fields->kittyImageId);
            }
        }
    }
    for (const auto& [key, record] : state_.placementsByKey)
        inUse.insert(record.imageId);
    return inUse;
}

void KittyGraphics::freeUnreferencedKittyImages()
{
    const std::set<std::uint32_t> inUse = kittyImagesInUse();
    std::vector<std::uint32_t> unused;
    for (const auto& [id, image] : state_.imagesById) {
        if (!inUse.contains(id))
            unused.push_back(id);
    }
    for (const std::uint32_t id : unused)
        discardKittyImage(id);
}

void KittyGraphics::discardKittyImage(std::uint32_t imageId)
{
    const auto found = state_.imagesById.find(imageId);
    if (found == state_.imagesById.end())
        return;
    state_.totalImageBytes = std::max<std::int64_t>(0, state_.totalImageBytes - found->second.byteSize);
    state_.imagesById.erase(found);
    forgetKittyImageNumbers(imageId);
    noteImageBehindPlaceholders(imageId);
}

void KittyGraphics::forgetKittyImageNumbers(std::uint32_t imageId)
{
    std::erase_if(state_.imageNumbers, [imageId](const auto& entry) { return entry.second == imageId; });
}

// ---------------------------------------------------------------- Placeholder rows

void KittyPlaceholderChanges::note(std::uint32_t imageId)
{
    // The top byte comes from a diacritic and is not looked at: a row may be redrawn for a
    // namesake, never missed.
    const std::uint32_t number = imageId & 0xFFFFFFu;
    if (everyImage || std::find(numbers.begin(), numbers.end(), number) != numbers.end())
        return;
    if (numbers.size() < maximumNumbers) {
        numbers.push_back(number);
        return;
    }
    numbers.clear();
    everyImage = true;
}

void KittyGraphics::noteImageBehindPlaceholders(std::uint32_t imageId)
{
    const auto first = state_.placementsByKey.lower_bound(KittyPlacementKey{imageId, 0});
    for (auto record = first; record != state_.placementsByKey.end() && record->first.imageId == imageId; ++record) {
        if (record->second.isVirtual) {
            notePlaceholderImageChanged(imageId);
            return;
        }
    }
}

void KittyGraphics::refreshKittyPlaceholderRows()
{
    KittyPlaceholderChanges& changes = state_.placeholderChanges;
    if (changes.empty())
        return;
    // Sorted and emptied in place, so the list keeps its room for the next feed.
    std::vector<std::uint32_t>& numbers = changes.numbers;
    const bool everyImage = changes.everyImage;
    std::sort(numbers.begin(), numbers.end());
    ++state_.placeholderScanCount;

    // Only the rows on show: a row scrolled out of view is drawn afresh when it comes back.
    Buffer& screen = host_.activeScreen();
    const CircularBufferLineList& ring = screen.lines();
    const int top = screen.yDisp();
    const int rows = host_.rows();
    for (int row = 0; row < rows; ++row) {
        const std::int64_t index = std::int64_t{top} + row;
        if (index < 0 || index >= ring.count())
            break;
        const Buffer::LinePtr& line = ring.peek(static_cast<int>(index));
        if (!line)
            continue;
        // Packed cells: most are plain text, told apart by their code without unpacking.
        const std::span<const PackedCell> cells = line->cellSpan();
        const std::size_t width = std::min(cells.size(), static_cast<std::size_t>(std::max(host_.cols(), 0)));
        for (const PackedCell& cell : cells.first(width)) {
            if (cell.hasSimpleCode()
                || (!everyImage
                    && !std::binary_search(numbers.begin(), numbers.end(), kittyPlaceholderColourNumber(cell.fg())))
                || !host_.isKittyPlaceholderCode(cell.code()))
                continue;
            host_.updateRange(row);
            break;
        }
    }
    changes.clear();
}

} // namespace corvantix
