// Moving a rectangle of cells up or down by one line inside the ring: the margin-bounded
// scrolls, line insertions and deletions of the emulator.
#include "model/Buffer.h"

#include <algorithm>

namespace corvantix {

namespace {

// The part of the rectangle that lies inside the ring and the lines; false when none does.
bool clampRectangle(const CircularBufferLineList& ring, int cols, int& top, int& bottom, int& left, int& right)
{
    top = std::max(top, 0);
    bottom = std::min(bottom, ring.count() - 1);
    left = std::max(left, 0);
    right = std::min(right, cols - 1);
    return top <= bottom && left <= right;
}

} // namespace

void Buffer::shiftRectangleUp(int top, int bottom, int left, int right, const CharData& fill)
{
    if (!clampRectangle(lines_, cols_, top, bottom, left, right))
        return;
    const int width = right - left + 1;
    for (int row = top; row < bottom; ++row) {
        // Reading a slot may make its line but never moves the others.
        BufferLine& destination = *lines_[row];
        destination.copyCellsFrom(*lines_[row + 1], left, left, width);
        destination.mendWideEdges(left, right + 1);
    }
    lines_[bottom]->fillRange(fill, left, right + 1);
}

void Buffer::shiftRectangleDown(int top, int bottom, int left, int right, const CharData& fill)
{
    if (!clampRectangle(lines_, cols_, top, bottom, left, right))
        return;
    const int width = right - left + 1;
    for (int row = bottom; row > top; --row) {
        BufferLine& destination = *lines_[row];
        destination.copyCellsFrom(*lines_[row - 1], left, left, width);
        destination.mendWideEdges(left, right + 1);
    }
    lines_[top]->fillRange(fill, left, right + 1);
}

} // namespace corvantix
