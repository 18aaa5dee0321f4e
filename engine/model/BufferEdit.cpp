// Moving a rectangle of cells up or down by some lines inside the ring: the margin-bounded
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

void Buffer::shiftRectangleUp(int top, int bottom, int left, int right, const CharData& fill, int count)
{
    if (count < 1 || !clampRectangle(lines_, cols_, top, bottom, left, right))
        return;
    // Every line moves once, straight to where `count` single-line shifts would leave it.
    count = std::min(count, bottom - top + 1);
    const int width = right - left + 1;
    for (int row = top; row + count <= bottom; ++row) {
        // Reading a slot may make its line but never moves the others.
        BufferLine& destination = *lines_[row];
        destination.copyCellsFrom(*lines_[row + count], left, left, width);
        destination.mendWideEdges(left, right + 1);
    }
    for (int row = std::max(top, bottom - count + 1); row <= bottom; ++row) {
        BufferLine& line = *lines_[row];
        line.fillRange(fill, left, right + 1);
        // Single-line shifts carry every mark of these columns upwards, out of these lines.
        if (bottom > top)
            line.removeMarksInRange(left, right + 1);
    }
}

void Buffer::shiftRectangleDown(int top, int bottom, int left, int right, const CharData& fill, int count)
{
    if (count < 1 || !clampRectangle(lines_, cols_, top, bottom, left, right))
        return;
    count = std::min(count, bottom - top + 1);
    const int width = right - left + 1;
    for (int row = bottom; row - count >= top; --row) {
        BufferLine& destination = *lines_[row];
        destination.copyCellsFrom(*lines_[row - count], left, left, width);
        destination.mendWideEdges(left, right + 1);
    }
    for (int row = std::min(bottom, top + count - 1); row >= top; --row) {
        BufferLine& line = *lines_[row];
        line.fillRange(fill, left, right + 1);
        if (bottom > top)
            line.removeMarksInRange(left, right + 1);
    }
}

} // namespace corvantix
