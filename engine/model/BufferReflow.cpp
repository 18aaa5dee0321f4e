// Resize and reflow of a Buffer.
//
// Resizing keeps the margins, the scroll region and the cursor valid, moves lines between
// the screen and the history as rows come and go, and keeps the capacity rule. A buffer with
// history whose width changes also reflows soft-wrapped text: rows wrapped at the old width
// are joined (wider) or cut again (narrower) so that a logical line keeps its text. The
// logical line holding the cursor is left alone so the shell can redraw it.
//
// Every step below runs while cols() and rows() still hold the old size.
#include "model/Buffer.h"

#include <algorithm>
#include <numeric>
#include <string>

namespace corvantix {

namespace {

// Code 0, width 1, default colours, no style, no underline (payload and semantic code are
// not looked at).
bool isNullCell(const CharData& cell)
{
    return cell.width == 1 && cell.isBlankWithDefaultAttributes();
}

} // namespace

void Buffer::resize(int newCols, int newRows)
{
    // The terminal clamps the size; the same bounds keep the steps below well defined.
    newCols = std::max(newCols, 2);
    newRows = std::max(newRows, 1);
    if (newCols == cols_ && newRows == rows_)
        return;

    // A right margin on the last column stays on the last column, as the scroll region
    // follows the height; any other margin stays inside the new width.
    if (marginRight_ == cols_ - 1)
        marginRight_ = newCols - 1;
    marginRight_ = std::min(marginRight_, newCols - 1);
    marginLeft_ = std::min(marginLeft_, marginRight_);

    // Capacity grows before any line is added.
    const int newCapacity = capacityFor(newRows);
    if (lines_.maxLength() < newCapacity)
        lines_.setMaxLength(newCapacity);

    if (lines_.count() == 0) {
        // Nothing to move: the cursor, the rows and the region stay. The capacity still
        // follows the rule, so an empty screen without history cannot gain some later.
        scrollBottom_ = newRows - 1;
        shrinkCapacity(newCapacity);
    } else {
        // Wider lines first, so that every line added or joined below has room.
        if (newCols > cols_)
            resizeLinesToWidth(newCols);
        // Rows come and go at the bottom, or move between the screen and the history.
        int addToY = 0;
        adjustRowCount(newCols, newRows, addToY);
        // Only now may the capacity shrink, dropping the oldest lines.
        shrinkCapacity(newCapacity);
        // The cursor stays on screen; the scroll region becomes the whole screen.
        x_ = std::min(x_, newCols - 1);
        y_ = std::min(y_, newRows - 1) + addToY;
        savedX = std::min(savedX, newCols - 1);
        scrollTop_ = 0;
        scrollBottom_ = newRows - 1;
    }

    // Tab stops: stops for new columns are set afterwards by the owner.
    tabStops.resize(static_cast<size_t>(newCols), false);

    // Only a buffer with history reflows its wrapped text.
    if (hasScrollback && newCols != cols_ && lines_.count() > 0) {
        if (newCols > cols_)
            reflowLarger(cols_, newCols, newRows);
        else
            reflowSmaller(cols_, newCols, newRows);
        if (newCols < cols_)
            resizeLinesToWidth(newCols);
    }

    // Rows dropped at the bottom, a capacity that shrank and reflowed lines all take lines
    // with images along: counting them again is simpler than following each step.
    recountLinesWithImages();

    // A line narrower than the new width would be a fault in the steps above.
    checkLineWidths(newCols);

    // Last, because every step above reads the old size.
    cols_ = newCols;
    rows_ = newRows;
}

// Every line gets exactly newCols cells; new cells are the default cell.
void Buffer::resizeLinesToWidth(int newCols)
{
    for (int i = 0; i < lines_.count(); ++i)
        lines_[i]->resize(newCols, CharData::defaultCell());
}

// A blank line of the new width for the bottom of the screen.
Buffer::LinePtr Buffer::makeResizeLine(int newCols)
{
    return BufferLine::create(newCols, CharData::defaultCell(), false, defaultBidiState);
}

// Fewer rows slide the screen down over the bottom when the cursor is on the last
// line, else drop the bottom line; more rows pull history lines onto the screen or add blank
// lines at the bottom. addToY counts the history lines pulled down.
void Buffer::adjustRowCount(int newCols, int newRows, int& addToY)
{
    if (newRows < rows_) {
        for (int i = 0; i < rows_ - newRows; ++i) {
            if (yBase_ + newRows >= lines_.count())
                continue;
            if (yBase_ + y_ + 1 >= lines_.count()) {
                ++yBase_;
                ++yDisp_;
            } else {
                lines_.pop();
            }
        }
    } else if (newRows > rows_) {
        for (int r = rows_; r < newRows; ++r) {
            if (lines_.count() >= newRows + yBase_)
                continue;
            if (yBase_ >= 1 && yBase_ + r + addToY + 1 >= lines_.count()) {
                --yBase_;
                ++addToY;
                if (yDisp_ >= 1)
                    --yDisp_;
            } else {
                lines_.push(makeResizeLine(newCols));
            }
        }
    }
}

// The oldest lines beyond the new capacity go, then the capacity is lowered.
void Buffer::shrinkCapacity(int newCapacity)
{
    if (newCapacity >= lines_.maxLength())
        return;
    const int excess = lines_.count() - newCapacity;
    if (excess >= 1) {
        dropOldestLines(excess);
        savedY = std::max(savedY - excess, 0);
    }
    lines_.setMaxLength(newCapacity);
}

// Reflow and resizing must leave every line at least newCols wide.
void Buffer::checkLineWidths(int newCols)
{
    for (int i = 0; i < lines_.count(); ++i) {
        const int cells = lines_[i]->dataSize();
        if (cells < newCols)
            fatalError("stop here newCols=" + std::to_string(newCols) + " but the element has: " + std::to_string(cells));
    }
}

// ---- Wrapped lengths

// The cells row `line` contributes to its logical line at width `cols`: the trimmed length
// for the group's last row; otherwise the full width, less one when a wide character did
// not fit at the end and went to the next row (a null cell left in the last column).
int Buffer::wrappedLineTrimmedLength(const BufferLine& line, const BufferLine* nextLine, int cols)
{
    if (nextLine == nullptr)
        return line.getTrimmedLength();
    const bool wideMovedDown = isNullCell(line.getCell(cols - 1)) && nextLine->packedCell(0).width() == 2;
    return wideMovedDown ? cols - 1 : cols;
}

// Measured once, on the rows as they were before any cell moved.
std::vector<int> Buffer::wrappedLengthsOf(std::span<const LinePtr> group, int cols)
{
    std::vector<int> lengths(group.size());
    for (size_t i = 0; i < group.size(); ++i) {
        const BufferLine* next = i + 1 < group.size() ? group[i + 1].get() : nullptr;
        lengths[i] = wrappedLineTrimmedLength(*group[i], next, cols);
    }
    return lengths;
}

// ---- Wider: joining wrapped rows

void Buffer::reflowLarger(int oldCols, int newCols, int newRows)
{
    const int cursorLine = yBase_ + y_;
    // Join the wrapped groups and collect the rows the joins emptied.
    const std::vector<RemovedRun> removed = foldWrappedGroups(oldCols, newCols, cursorLine, CharData::defaultCell());
    if (removed.empty())
        return;
    int removedAbove = 0;
    int removedBelow = 0;
    for (const RemovedRun& run : removed)
        (run.start < cursorLine ? removedAbove : removedBelow) += run.count;

    // Drop the emptied rows.
    removeLineRuns(removed);

    // Rows removed above the cursor's line move it up: the cursor row follows when the
    // screen starts at line 0, else the screen start does.
    for (int i = 0; i < removedAbove; ++i) {
        if (yBase_ == 0) {
            if (y_ > 0)
                --y_;
            if (lines_.count() < newRows)
                lines_.push(makeResizeLine(newCols));
        } else {
            if (yDisp_ == yBase_)
                --yDisp_;
            --yBase_;
        }
    }
    // Rows removed below it leave the cursor's line where it is: the screen is refilled from
    // the history (the cursor row moving down with its line) or with blank rows.
    for (int i = 0; i < removedBelow; ++i) {
        if (yBase_ == 0) {
            if (lines_.count() < newRows)
                lines_.push(makeResizeLine(newCols));
        } else {
            if (yDisp_ == yBase_)
                --yDisp_;
            --yBase_;
            y_ = std::min(y_ + 1, newRows - 1);
        }
    }

    // The saved cursor row moves up by every row removed.
    savedY = std::max(savedY - (removedAbove + removedBelow), 0);
}

// Joins every wrapped group except the cursor's at the new width and answers the runs of
// rows emptied by the join, in ascending order.
std::vector<Buffer::RemovedRun> Buffer::foldWrappedGroups(int oldCols, int newCols, int cursorLine, const CharData& nullCell)
{
    std::vector<RemovedRun> removed;
    std::vector<LinePtr> group;
    int l = 0;
    while (l < lines_.count() - 1) {
        // A line that the next line does not continue starts no group.
        if (!lines_[l + 1]->isWrapped()) {
            ++l;
            continue;
        }
        // The group runs to the last row that continues it.
        int e = l + 1;
        while (e < lines_.count() && lines_[e]->isWrapped())
            ++e;
        // The cursor's logical line is left for the shell to redraw.
        if (l <= cursorLine && cursorLine < e) {
            l = e;
            continue;
        }
        group.clear();
        for (int i = l; i < e; ++i)
            group.push_back(lines_[i]);
        // Join the group's cells at the new width.
        const int lastDestRow = foldGroup(group, oldCols, newCols, nullCell);
        // Emptied rows, counted up from the group's last row.
        const int groupSize = e - l;
        int emptied = 0;
        for (int row = groupSize - 1; row >= 1; --row) {
            if (row > lastDestRow || group[static_cast<size_t>(row)]->getTrimmedLength() == 0)
                ++emptied;
            else
                break;
        }
        if (emptied > 0)
            removed.push_back(RemovedRun{l + groupSize - emptied, emptied});
        // Go on after the group.
        l = e;
    }
    return removed;
}

// Moves the cells of a wrapped group up to fill rows of newCols cells; answers the index of
// the last row that received cells.
int Buffer::foldGroup(std::span<const LinePtr> group, int oldCols, int newCols, const CharData& nullCell)
{
    const std::vector<int> srcLengths = wrappedLengthsOf(group, oldCols);
    const int groupSize = static_cast<int>(group.size());
    // The cells of the second row on go after the first row's text.
    int dest = 0;
    int destCol = srcLengths[0];
    int src = 1;
    int srcCol = 0;
    // Copy in spans as long as both the source row and the destination row allow.
    while (src < groupSize && dest < groupSize) {
        const int srcLen = srcLengths[static_cast<size_t>(src)];
        const int n = std::min(srcLen - srcCol, newCols - destCol);
        group[static_cast<size_t>(dest)]->copyCellsFrom(*group[static_cast<size_t>(src)], srcCol, destCol, n);
        destCol += n;
        if (destCol == newCols) {
            ++dest;
            destCol = 0;
        }
        srcCol += n;
        if (srcCol == srcLen) {
            ++src;
            srcCol = 0;
        }
        // A wide character never ends a joined row: it moves to the start of the next one.
        if (destCol == 0 && dest != 0 && dest < groupSize) {
            BufferLine& above = *group[static_cast<size_t>(dest - 1)];
            if (above.cellWidth(newCols - 1) == 2) {
                group[static_cast<size_t>(dest)]->copyCellsFrom(above, newCols - 1, 0, 1);
                above.setCell(newCols - 1, nullCell);
                destCol = 1;
            }
        }
    }
    // The rest of the last row that received cells is cleared.
    dest = std::min(dest, groupSize - 1);
    group[static_cast<size_t>(dest)]->fillRange(nullCell, destCol, newCols);
    return dest;
}

// The kept lines move up over the removed runs, each attached again.
void Buffer::removeLineRuns(const std::vector<RemovedRun>& removed)
{
    const int count = lines_.count();
    std::vector<LinePtr> kept;
    kept.reserve(static_cast<size_t>(count));
    size_t next = 0;
    for (int i = 0; i < count; ++i) {
        while (next < removed.size() && i >= removed[next].start + removed[next].count)
            ++next;
        if (next < removed.size() && i >= removed[next].start)
            continue;
        kept.push_back(lines_[i]);
    }
    for (size_t i = 0; i < kept.size(); ++i)
        lines_.setLine(static_cast<int>(i), std::move(kept[i]));
    lines_.setCount(static_cast<int>(kept.size()));
}

// ---- Narrower: cutting wrapped rows again

void Buffer::reflowSmaller(int oldCols, int newCols, int newRows)
{
    const int cursorLine = yBase_ + y_;
    std::vector<InsertionSet> toInsert;
    int countToInsert = 0;
    // Lines dropped at the bottom rather than scrolling the cursor's line off the top.
    int trimBottom = 0;
    // The line after the lowest group reflowed so far: lines from there down hold no text
    // that a pending insertion depends on.
    int reflowedEnd = -1;
    std::vector<LinePtr> group;

    int l = lines_.count() - 1;
    while (l >= 0) {
        // A line that continues none and fits the new width needs no cutting.
        const LinePtr& line = lines_[l];
        if (!line->isWrapped() && line->getTrimmedLength() <= newCols) {
            --l;
            continue;
        }
        // Walk up to the group's first row.
        int groupStart = l;
        while (groupStart >= 1 && lines_[groupStart]->isWrapped())
            --groupStart;
        const int groupSize = l - groupStart + 1;
        // The cursor's logical line is left for the shell to redraw.
        if (groupStart <= cursorLine && cursorLine <= l) {
            l = groupStart - 1;
            continue;
        }
        group.clear();
        for (int i = groupStart; i <= l; ++i)
            group.push_back(lines_[i]);

        const std::optional<int> gained = cutGroupSmaller(group, groupStart, oldCols, newCols, toInsert, countToInsert);
        if (!gained) {
            l = groupStart - 1;
            continue;
        }
        // The rows the group gained, and how far they overflow the capacity.
        const int linesToAdd = *gained;
        const int capacity = lines_.maxLength();
        const int lineCount = lines_.count() - trimBottom;
        const int overflow = yBase_ == 0 && y_ != lineCount - 1 ? y_ - capacity + linesToAdd
                                                                : lineCount - capacity + linesToAdd;
        reflowedEnd = std::max(reflowedEnd, groupStart + groupSize);
        // Make room on screen for the rows gained.
        const bool belowCursor = groupStart > cursorLine;
        makeRoomForAddedLines(linesToAdd, overflow, countToInsert, trimBottom, newRows, belowCursor, cursorLine,
                              reflowedEnd);
        // The saved cursor row moves down with the rows gained, staying on screen.
        savedY = std::min(savedY + linesToAdd, yBase_ + newRows - 1);
        // Go on above the group.
        l = groupStart - 1;
    }
    applyInsertions(toInsert, countToInsert, trimBottom);
}

std::optional<int> Buffer::cutGroupSmaller(std::vector<LinePtr>& group, int groupStart, int oldCols, int newCols,
                                           std::vector<InsertionSet>& toInsert, int& countToInsert)
{
    const int groupSize = static_cast<int>(group.size());
    // The row lengths at the new width; none means there is nothing to cut.
    const std::vector<int> oldLengths = wrappedLengthsOf(group, oldCols);
    std::vector<int> lengths = newLineLengths(group, oldCols, newCols);
    if (lengths.empty())
        return std::nullopt;
    // Never fewer rows than the group has: a missing row is an emptied one.
    if (static_cast<int>(lengths.size()) < groupSize)
        lengths.resize(static_cast<size_t>(groupSize), 0);

    // The gained rows wait in an insertion set; the group already writes into them.
    const int linesToAdd = static_cast<int>(lengths.size()) - groupSize;
    if (linesToAdd > 0) {
        InsertionSet set;
        set.start = groupStart + groupSize + countToInsert;
        for (int i = 0; i < linesToAdd; ++i)
            set.lines.push_back(BufferLine::create(cols_, CharData::defaultCell(), true));
        group.insert(group.end(), set.lines.begin(), set.lines.end());
        countToInsert += linesToAdd;
        toInsert.push_back(std::move(set));
    }
    // Every row takes the bidi state of the group's first row.
    const BidiPresentationState bidi = group.front()->bidiState();
    for (const LinePtr& row : group)
        row->setBidiState(bidi);
    // Move the cells to their new places.
    moveCellsBackward(group, oldLengths, lengths, groupSize);
    // Where a wide character went down to the next row.
    for (size_t i = 0; i < group.size(); ++i) {
        if (lengths[i] < newCols)
            group[i]->setCell(lengths[i], CharData::defaultCell());
    }
    return linesToAdd;
}

// The lines a group gains push the screen into the history or the
// blank rows off its bottom. The cursor keeps its line: rows added above it move it down,
// rows added below it do not. A cursor on the top row cannot go higher, so text growing
// below it pushes the bottom lines out instead (counted in trimBottom), as fewer rows drop
// the lines below a cursor: the cursor's line never leaves the screen.
void Buffer::makeRoomForAddedLines(int linesToAdd, int overflow, int countToInsert, int& trimBottom, int newRows,
                                   bool belowCursor, int cursorLine, int reflowedEnd)
{
    // Lines that fall off the top of a full ring lift a cursor that sits above the group.
    if (belowCursor && overflow > 0) {
        const int lift = std::min(overflow, linesToAdd);
        if (lift > y_)
            trimBottom += lift - y_;
        y_ = std::max(y_ - lift, 0);
    }

    int adjustments = linesToAdd - std::max(overflow, 0);
    while (adjustments-- > 0) {
        const int lineCount = lines_.count();
        const int pending = countToInsert - trimBottom;
        const int screenEnd = std::min(lineCount + pending, lines_.maxLength()) - newRows;
        if (yBase_ == 0 && lineCount + pending <= newRows) {
            // The screen still has room below its lines.
            if (!belowCursor)
                ++y_;
        } else if (yBase_ == 0 && y_ < newRows - 1 && isSpareBottomLine(cursorLine, reflowedEnd)) {
            lines_.pop();
            if (!belowCursor)
                ++y_;
        } else if (belowCursor && y_ == 0 && yBase_ < screenEnd) {
            ++trimBottom;
        } else if (yBase_ < screenEnd) {
            if (yDisp_ == yBase_)
                ++yDisp_;
            ++yBase_;
            if (belowCursor && y_ > 0)
                --y_;
        }
    }
}

// The bottom line may be dropped to make room when it is blank, below the cursor's line and
// below every group already cut (dropping one of those would lose its text).
bool Buffer::isSpareBottomLine(int cursorLine, int reflowedEnd)
{
    const int last = lines_.count() - 1;
    return last > cursorLine && last >= reflowedEnd && lines_[last]->getTrimmedLength() == 0;
}

// The lengths of the rows that the group's text takes at newCols; a row that would end on
// the first half of a wide character ends one column early. The lengths add up to the
// group's text.
std::vector<int> Buffer::newLineLengths(std::span<const LinePtr> group, int oldCols, int newCols) const
{
    const std::vector<int> lengths = wrappedLengthsOf(group, oldCols);
    const int groupSize = static_cast<int>(group.size());
    // The cells of the whole logical line.
    const int needed = std::accumulate(lengths.begin(), lengths.end(), 0);
    // Cut them into rows of newCols, one less where a row would split a wide character.
    std::vector<int> result;
    int placed = 0;
    int srcRow = 0;
    int srcCol = 0;
    while (placed < needed) {
        if (needed - placed < newCols) {
            result.push_back(needed - placed);
            break;
        }
        srcCol += newCols;
        while (srcRow < groupSize && srcCol > lengths[static_cast<size_t>(srcRow)]) {
            srcCol -= lengths[static_cast<size_t>(srcRow)];
            ++srcRow;
        }
        int length = newCols;
        if (srcRow < groupSize && newCols > 1 && group[static_cast<size_t>(srcRow)]->cellWidth(srcCol - 1) == 2) {
            length = newCols - 1;
            srcCol -= 1;
        }
        result.push_back(length);
        placed += length;
    }
    return result;
}

// The cells move from the end backwards, so no cell is overwritten
// before it was read (a cell's new place is never before its old one).
void Buffer::moveCellsBackward(std::span<const LinePtr> group, const std::vector<int>& oldLengths,
                               const std::vector<int>& lengths, int oldRowCount)
{
    int destRow = static_cast<int>(lengths.size()) - 1;
    int destCol = lengths[static_cast<size_t>(destRow)];
    while (destCol == 0 && destRow > 0)
        destCol = lengths[static_cast<size_t>(--destRow)];
    int srcRow = oldRowCount - 1;
    int srcCol = oldLengths[static_cast<size_t>(srcRow)];
    while (srcRow >= 0 && destRow >= 0) {
        const int n = std::min(srcCol, destCol);
        group[static_cast<size_t>(destRow)]->copyCellsFrom(*group[static_cast<size_t>(srcRow)], srcCol - n, destCol - n, n);
        destCol -= n;
        if (destCol == 0) {
            --destRow;
            destCol = destRow >= 0 ? lengths[static_cast<size_t>(destRow)] : 0;
        }
        srcCol -= n;
        if (srcCol == 0) {
            --srcRow;
            srcCol = oldLengths[static_cast<size_t>(std::max(srcRow, 0))];
        }
    }
}

// Places the new rows of every cut group after their group, moving the other lines down;
// the last trimBottom lines are dropped, and lines pushed past the capacity fall off the top.
void Buffer::applyInsertions(const std::vector<InsertionSet>& toInsert, int countToInsert, int trimBottom)
{
    // No group gained rows.
    if (toInsert.empty())
        return;
    // Keep the old lines aside while the list is rewritten from the bottom up.
    const int oldCount = lines_.count();
    std::vector<LinePtr> original;
    original.reserve(static_cast<size_t>(oldCount));
    for (int i = 0; i < oldCount; ++i)
        original.push_back(lines_[i]);
    int oldRow = oldCount - 1;
    const int newCount = std::min(oldCount + countToInsert - trimBottom, lines_.maxLength());
    lines_.setCount(newCount);
    int skip = trimBottom;
    int i = newCount - 1;
    const auto place = [&](const LinePtr& line) {
        if (skip > 0)
            --skip;
        else
            lines_.setLine(i--, line);
    };
    // Sets in the order they were made, which is from the bottom up.
    size_t next = 0;
    int insertedSoFar = 0;
    while (i >= 0) {
        if (next < toInsert.size() && toInsert[next].start > oldRow + insertedSoFar) {
            const InsertionSet& set = toInsert[next];
            for (auto it = set.lines.rbegin(); it != set.lines.rend() && i >= 0; ++it)
                place(*it);
            insertedSoFar += static_cast<int>(set.lines.size());
            ++next;
        } else {
            if (oldRow < 0)
                break;
            place(original[static_cast<size_t>(oldRow--)]);
        }
    }
    // Lines that did not fit above line 0 are released with `original`.
}

} // namespace corvantix
