// Reusing line objects instead of making new ones: scrolling a region moves the line that
// leaves it to the region's bottom and blanks it there, so a scroll neither allocates a
// line nor touches reference counts. The ring's recycle, the line's reset and its blanking
// live together here so that a line feed through a full scrollback is one function.
#include "model/BufferLine.h"
#include "model/CellRuns.h"
#include "model/CircularBufferLineList.h"

#include <algorithm>
#include <string>
#include <utility>

namespace corvantix {

void BufferLine::recycleFrom(const BufferLine& line)
{
    copyFrom(line);
    renderMode_ = line.renderMode_;
    if (mayHaveExtras_ || line.mayHaveExtras_) {
        images_ = line.images_;
        mayHaveExtras_ = true;
    }
    ++recycleGeneration_;
    raiseGeneration();
}

[[gnu::always_inline]] inline void BufferLine::blankForReuse(const PackedAttribute& attribute)
{
    // Cells outside the written range already hold the blank of the blank attribute.
    const bool isDefault = attribute == PackedCell::defaultAttribute();
    if (isDefault ? blankIsDefault_ : !blankIsDefault_ && attribute == blankAttribute_) {
        const std::span<const PackedCell> written = writtenCells();
        fillBlankRun(data_.data() + (written.data() - data_.data()), written.size(), attribute);
    } else {
        fillBlankRun(data_.data(), data_.size(), attribute);
    }
    writtenFrom_ = INT32_MAX;
    writtenTo_ = 0;
    if (!isDefault || !blankIsDefault_) {
        blankAttribute_ = attribute;
        blankIsDefault_ = isDefault;
    }
}

[[gnu::always_inline]] inline bool BufferLine::resetInPlace(const PackedAttribute& attribute)
{
    // clearForRecycle, clearSemanticState and setIsWrapped(false) in one pass: a line feed
    // through a full scrollback does this for every row.
    blankForReuse(attribute);
    bool hadImages = false;
    if (mayHaveExtras_) {
        hadImages = images_.has_value();
        images_.reset();
        semanticMarks_.clear();
        semanticHardContinuationGroup_.reset();
        mayHaveExtras_ = false;
    }
    isWrapped_ = false;
    ++recycleGeneration_;
    raiseGeneration();
    return hadImages;
}

void BufferLine::clearForRecycle(const PackedAttribute& attribute)
{
    blankForReuse(attribute);
    if (mayHaveExtras_)
        images_.reset();
    ++recycleGeneration_;
    raiseGeneration();
}

bool BufferLine::resetForRecycle(const PackedAttribute& attribute)
{
    return resetInPlace(attribute);
}

BufferLine* CircularBufferLineList::recycle(const PackedAttribute& attribute)
{
    if (count_ != maxLength_ || count_ == 0)
        fatalError("CircularBufferLineList: recycle on a ring that is not full (count " + std::to_string(count_)
                   + ", maxLength " + std::to_string(maxLength_) + ")");
    // The slot after the newest line, (startIndex_ + count_) mod slots, without the general
    // slotOf: the start stays below the slots and the count at most equal to them.
    std::size_t slot = static_cast<std::size_t>(startIndex_) + static_cast<std::size_t>(count_);
    if (slot >= array_.size())
        slot -= array_.size();
    if (slot >= array_.size()) [[unlikely]]
        slot = static_cast<std::size_t>(slotOf(count_));
    startIndex_ = startIndex_ + 1 < count_ ? startIndex_ + 1 : (startIndex_ + 1) % count_;
    bool hadImages = false;
    BufferLine* const line = array_[slot].get();
    if (line != nullptr)
        hadImages = line->resetInPlace(attribute);
    if (onLineRecycled)
        onLineRecycled(hadImages);
    prefetchNextRecycled();
    return line;
}

void CircularBufferLineList::prefetchNextRecycled() const
{
    // The oldest line is the least recently touched memory of the ring, and output that
    // scrolls recycles one per row, faster than memory answers: each recycle fetches the
    // cells a reuse a few rows ahead will blank, and the object of a line further ahead
    // still (whose fields that fetch reads), so neither waits for memory when its turn
    // comes. Only the cells a reuse will touch: the written ones, which it blanks, and as many
    // from the start as the newest line has written, which the output's next rows are likely
    // to write again (fetching a whole wide row for one character would spend the memory's
    // bandwidth on cells nobody touches).
    constexpr std::size_t cellsAhead = 8;
    constexpr std::size_t objectAhead = 16;
    const std::size_t slots = array_.size();
    if (slots == 0)
        return;
    const std::size_t next = static_cast<std::size_t>(startIndex_);
    // Without a division: one costs as much as the rest of a line feed.
    const auto slotAhead = [slots, next](std::size_t ahead) {
        std::size_t slot = next + ahead;
        while (slot >= slots)
            slot -= slots;
        return slot;
    };
    if (const BufferLine* line = array_[slotAhead(cellsAhead)].get()) {
        // The newest line is the one just reused; the one before it was the last written.
        std::size_t recentEnd = 0;
        if (const BufferLine* recent = slots >= 2 ? array_[slotAhead(slots - 2)].get() : nullptr)
            recentEnd = std::min(recent->writtenEnd(), line->cellSpan().size());
        std::span<const PackedCell> cells = line->writtenCells();
        if (recentEnd > 0)
            cells = line->cellSpan().first(std::max(line->writtenEnd(), recentEnd));
        const auto* bytes = reinterpret_cast<const char*>(cells.data());
        const std::size_t size = cells.size_bytes();
        for (std::size_t offset = 0; offset < size; offset += 64)
            __builtin_prefetch(bytes + offset, 1);
        if (size > 0)
            __builtin_prefetch(bytes + size - 1, 1);
    }
    if (const BufferLine* ahead = array_[slotAhead(objectAhead)].get()) {
        // Only the fields a reuse touches.
        const auto* bytes = static_cast<const char*>(ahead->recycleFieldsBegin());
        const auto* end = static_cast<const char*>(ahead->recycleFieldsEnd());
        for (const char* at = bytes; at < end; at += 64)
            __builtin_prefetch(at, 1);
        __builtin_prefetch(end - 1, 1);
    }
}

void CircularBufferLineList::rotateUp(int start, int count)
{
    if (array_.empty() || start < 0 || count <= 0)
        return;
    LinePtr first = std::move(array_[static_cast<std::size_t>(slotOf(start))]);
    for (int i = 0; i < count; ++i)
        array_[static_cast<std::size_t>(slotOf(start + i))] = std::move(array_[static_cast<std::size_t>(slotOf(start + i + 1))]);
    array_[static_cast<std::size_t>(slotOf(start + count))] = std::move(first);
}

} // namespace corvantix
