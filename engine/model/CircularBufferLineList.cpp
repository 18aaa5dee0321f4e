#include "model/CircularBufferLineList.h"

#include <algorithm>
#include <cstdlib>
#include <string>
#include <string_view>

#include "platform/Log.h"

namespace corvantix {

void CircularBufferLineList::fatalError(std::string_view message)
{
    logError(message);
    std::abort();
}

CircularBufferLineList::CircularBufferLineList(int maxLength)
    : array_(static_cast<size_t>(std::max(maxLength, 0)))
    , maxLength_(std::max(maxLength, 0))
{
}

int CircularBufferLineList::slotOf(int index) const
{
    // Callers keep 0 <= index < slots, so one subtraction wraps it: a division costs more
    // than the rest of a line feed. The double modulo still keeps a bad index inside the
    // array.
    const long long slots = static_cast<long long>(array_.size());
    long long slot = static_cast<long long>(startIndex_) + index;
    if (slot >= slots)
        slot -= slots;
    if (slot >= 0 && slot < slots) [[likely]]
        return static_cast<int>(slot);
    slot %= slots;
    return static_cast<int>(slot < 0 ? slot + slots : slot);
}

const CircularBufferLineList::LinePtr& CircularBufferLineList::fillSlot(int index) const
{
    if (array_.empty())
        fatalError("CircularBufferLineList: read from a ring without slots");
    LinePtr& slot = array_[static_cast<size_t>(slotOf(index))];
    if (!slot) {
        if (!makeEmpty)
            fatalError("CircularBufferLineList: empty slot read without makeEmpty");
        slot = makeEmpty(slotOf(index));
    }
    return slot;
}

const CircularBufferLineList::LinePtr& CircularBufferLineList::peekSlow(int index) const
{
    static const LinePtr none;
    if (array_.empty())
        return none;
    return array_[static_cast<size_t>(slotOf(index))];
}

void CircularBufferLineList::setLine(int index, LinePtr line)
{
    if (array_.empty())
        return;
    LinePtr& slot = array_[static_cast<size_t>(slotOf(index))];
    slot = std::move(line);
    if (onLineAttached && slot)
        onLineAttached(*slot);
}

void CircularBufferLineList::emptySlots(int fromIndex, int toIndex)
{
    for (int i = fromIndex; i < toIndex; ++i)
        array_[static_cast<size_t>(slotOf(i))].reset();
}

void CircularBufferLineList::setCount(int newCount)
{
    if (newCount > maxLength_)
        fatalError("CircularBufferLineList: count " + std::to_string(newCount) + " above maxLength "
                   + std::to_string(maxLength_));
    if (newCount < 0)
        fatalError("CircularBufferLineList: negative count " + std::to_string(newCount));
    if (newCount > slotCount())
        array_.resize(static_cast<size_t>(newCount));
    if (newCount < count_)
        emptySlots(newCount, count_);
    count_ = newCount;
}

void CircularBufferLineList::setMaxLength(int newMaxLength)
{
    newMaxLength = std::max(newMaxLength, 0);
    const int oldMaxLength = maxLength_;
    maxLength_ = newMaxLength;
    if (newMaxLength == oldMaxLength)
        return;
    std::vector<LinePtr> relaid(static_cast<size_t>(newMaxLength));
    const int kept = std::min(newMaxLength, slotCount());
    for (int i = 0; i < kept; ++i)
        relaid[static_cast<size_t>(i)] = std::move(array_[static_cast<size_t>(slotOf(i))]);
    array_ = std::move(relaid);
    startIndex_ = 0;
    // The owner drops the excess lines first; a count left above the capacity is cut.
    count_ = std::min(count_, newMaxLength);
}

void CircularBufferLineList::push(LinePtr line)
{
    if (onLineAttached && line)
        onLineAttached(*line);
    if (array_.empty())
        return;
    // A present image list counts, as in the buffer's recount.
    const bool hasImages = line && line->images().has_value();
    array_[static_cast<size_t>(slotOf(count_))] = std::move(line);
    if (count_ == slotCount()) {
        // The store replaced the oldest line.
        startIndex_ += 1;
        if (startIndex_ >= count_)
            startIndex_ = 0;
    } else {
        count_ += 1;
    }
    if (onLinePushed)
        onLinePushed(hasImages);
}

void CircularBufferLineList::splice(int start, int deleteCount, std::span<const LinePtr> items,
                                    const RowDirtyMarker& markRowDirty)
{
    if (array_.empty())
        return;
    const auto mark = [&](int row) {
        if (markRowDirty)
            markRowDirty(row);
    };
    const int originalCount = count_;
    // Callers keep 0 <= start <= count and deleteCount <= count - start.
    start = std::clamp(start, 0, count_);
    deleteCount = std::clamp(deleteCount, 0, count_ - start);
    const int n = static_cast<int>(items.size());

    // Close the gap of the deleted lines.
    if (deleteCount >= 1) {
        for (int i = start; i < count_ - deleteCount; ++i) {
            array_[static_cast<size_t>(slotOf(i))] = array_[static_cast<size_t>(slotOf(i + deleteCount))];
            mark(i);
        }
        count_ -= deleteCount;
    }
    // Open room for the items, from the back.
    for (int i = count_ - 1; i >= start; --i) {
        array_[static_cast<size_t>(slotOf(i + n))] = array_[static_cast<size_t>(slotOf(i))];
        mark(i + n);
    }
    // Store the items.
    for (int k = 0; k < n; ++k) {
        mark(start + k);
        if (onLineAttached && items[static_cast<size_t>(k)])
            onLineAttached(*items[static_cast<size_t>(k)]);
        array_[static_cast<size_t>(slotOf(start + k))] = items[static_cast<size_t>(k)];
    }
    // Lines pushed past the slots fall off the top (the move above already overwrote them).
    const int newCount = count_ + n;
    if (newCount <= slotCount()) {
        count_ = newCount;
    } else {
        startIndex_ = (startIndex_ + (newCount - slotCount())) % slotCount();
        count_ = slotCount();
    }
    // Slots vacated by a net deletion would keep stale copies of moved lines.
    if (count_ < originalCount)
        emptySlots(count_, originalCount);
}

bool CircularBufferLineList::shiftElements(int start, int count, int offset)
{
    const auto refuse = [&](std::string_view reason) {
        printLine("Assertion at start=" + std::to_string(start) + " count=" + std::to_string(count)
                  + " offset=" + std::to_string(offset) + ": " + std::string(reason));
        return false;
    };
    if (count < 0)
        return refuse("count < 0");
    if (start < 0)
        return refuse("start < 0");
    if (start >= count_)
        return refuse("start >= self.count");
    if (start + offset <= 0)
        return refuse("start+offset <= 0");
    if (array_.empty())
        return false;

    const auto move = [&](int from, int to) {
        array_[static_cast<size_t>(slotOf(to))] = array_[static_cast<size_t>(slotOf(from))];
    };
    if (offset <= 0) {
        for (int i = 0; i < count; ++i)
            move(start + i, start + i + offset);
        return true;
    }
    for (int i = count - 1; i >= 0; --i)
        move(start + i, start + i + offset);
    const long long end = static_cast<long long>(start) + count + offset;
    if (end > count_) {
        if (end <= maxLength_) {
            count_ = static_cast<int>(end);
        } else {
            startIndex_ = static_cast<int>((startIndex_ + (end - maxLength_)) % slotCount());
            count_ = maxLength_;
        }
    }
    return true;
}

void CircularBufferLineList::trimStart(int n)
{
    if (n <= 0 || array_.empty())
        return;
    const int advance = std::min(count_, n);
    emptySlots(0, advance);
    startIndex_ = (startIndex_ + advance) % slotCount();
    count_ = std::max(count_ - n, 0);
}

void CircularBufferLineList::pop()
{
    if (count_ == 0)
        return;
    emptySlots(count_ - 1, count_);
    count_ -= 1;
}

} // namespace corvantix
