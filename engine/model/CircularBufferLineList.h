// The lines of one screen buffer, scrollback included: a fixed array of slots used as a
// ring. Scrolling a full buffer drops the oldest line by moving the start index instead of
// moving every line, and may reuse that line object as the new bottom line.
//
// Logical index i (0 <= i < count) lives in slot (startIndex + i) mod slots. Slots are
// filled lazily: reading an empty slot asks `makeEmpty` for a line. Three optional hooks
// tell the owner when lines are attached, pushed or recycled.
#pragma once

#include <cstddef>
#include <functional>
#include <memory>
#include <span>
#include <string_view>
#include <vector>

#include "model/BufferLine.h"

namespace corvantix {

class CircularBufferLineList {
public:
    using LinePtr = std::shared_ptr<BufferLine>;
    // Widens the owner's dirty ranges for one logical row (the terminal passes its own).
    using RowDirtyMarker = std::function<void(int row)>;

    explicit CircularBufferLineList(int maxLength);

    CircularBufferLineList(const CircularBufferLineList&) = delete;
    CircularBufferLineList& operator=(const CircularBufferLineList&) = delete;
    CircularBufferLineList(CircularBufferLineList&&) = default;
    CircularBufferLineList& operator=(CircularBufferLineList&&) = default;

    // Makes the line for an empty slot the first time it is read; receives the slot number.
    std::function<LinePtr(int slot)> makeEmpty;
    // After recycle, with whether the reused line had images.
    std::function<void(bool hadImages)> onLineRecycled;
    // After push, with whether the pushed line has images.
    std::function<void(bool hasImages)> onLinePushed;
    // For each line stored by push, setLine and splice.
    std::function<void(BufferLine& line)> onLineAttached;

    // The line at logical index i (not checked against count); an empty slot is filled with
    // makeEmpty first, without onLineAttached. Filling a slot is not a visible change, so
    // a const ring reads the same way.
    const LinePtr& operator[](int index) const
    {
        // Inline for the common case (a filled slot, 0 <= index < slots): the print path and
        // every scroll read lines through here.
        if (const LinePtr* slot = filledSlot(index))
            return *slot;
        return fillSlot(index);
    }
    // The slot's line without filling an empty slot (null when empty).
    const LinePtr& peek(int index) const
    {
        if (const LinePtr* slot = filledSlot(index))
            return *slot;
        return peekSlow(index);
    }
    // Stores the line at logical index i, then calls onLineAttached.
    void setLine(int index, LinePtr line);

    int count() const { return count_; }
    // A value above maxLength is fatal; empty slots are appended when it exceeds the slots.
    // Slots left beyond a lowered count are emptied so dropped lines are released.
    void setCount(int newCount);
    int maxLength() const { return maxLength_; }
    // Re-lays the first min(new, old slots) entries in logical order from slot 0. The count
    // is not changed: a caller that shrinks first drops the excess lines (trimStart).
    void setMaxLength(int newMaxLength);
    int startIndex() const { return startIndex_; }
    int slotCount() const { return static_cast<int>(array_.size()); }

    // Stores the line after the newest one; a full ring drops its oldest line.
    void push(LinePtr line);
    // On a full ring only (fatal otherwise): the oldest line becomes the newest, blanked in
    // the given attribute, unwrapped, without marks or images. Answers that line (null when
    // its slot was still empty; reading it then fills it).
    BufferLine* recycle(const PackedAttribute& attribute);
    BufferLine* recycle(const Attribute& attribute) { return recycle(PackedCell::packAttribute(attribute)); }
    // Removes deleteCount lines at start and inserts the items there; lines pushed past the
    // capacity fall off the top. Every row that changes is marked dirty.
    void splice(int start, int deleteCount, std::span<const LinePtr> items, const RowDirtyMarker& markRowDirty = {});
    // Moves `count` lines from start by offset (the same objects then sit in two places until
    // the caller overwrites one). Bad arguments print one line and return false.
    bool shiftElements(int start, int count, int offset);
    // Lines start + 1 .. start + count move up by one and the line at start goes to
    // start + count, all by moving the pointers (no line is copied or released). The caller
    // keeps 0 <= start and start + count < count(). (LineReuse.cpp)
    void rotateUp(int start, int count);
    // Forgets the n oldest lines: the start advances by min(count, n), the count drops by n.
    void trimStart(int n);
    // Removes the newest line.
    void pop();

private:
    // Programming errors of the ring's callers end the program (logged first).
    [[noreturn, gnu::cold]] static void fatalError(std::string_view message);
    // The filled slot of index when 0 <= index < slots, else null (the callers then take the
    // general path, which also copes with a bad index).
    const LinePtr* filledSlot(int index) const
    {
        const std::size_t slots = array_.size();
        if (index < 0 || static_cast<std::size_t>(index) >= slots)
            return nullptr;
        std::size_t slot = static_cast<std::size_t>(startIndex_) + static_cast<std::size_t>(index);
        if (slot >= slots) {
            slot -= slots;
            if (slot >= slots)
                return nullptr;
        }
        const LinePtr& line = array_[slot];
        return line ? &line : nullptr;
    }
    const LinePtr& fillSlot(int index) const;
    void prefetchNextRecycled() const;
    const LinePtr& peekSlow(int index) const;
    int slotOf(int index) const;
    void emptySlots(int fromIndex, int toIndex);

    mutable std::vector<LinePtr> array_; // slots are filled lazily, also on const reads
    int startIndex_ = 0;
    int count_ = 0;
    int maxLength_ = 0;
};

} // namespace corvantix
