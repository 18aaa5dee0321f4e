// Reusing line objects instead of making new ones: scrolling a region moves the line that
// leaves it to the region's bottom and blanks it there, so a scroll neither allocates a
// line nor touches reference counts.
#include "model/BufferLine.h"
#include "model/CircularBufferLineList.h"

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

bool BufferLine::resetForRecycle(const PackedAttribute& attribute)
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
