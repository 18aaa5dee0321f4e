// Erasing, inserting and deleting characters and lines, SU / SD, REP, DECDC and the line sizes.
#include "emulator/Terminal.h"

#include <algorithm>

namespace corvantix {

namespace {

int firstParameter(std::span<const int> pars, int fallback = 0)
{
    return pars.empty() ? fallback : pars.front();
}

// A count where 0 and 1 both mean one, at most `limit`.
int countParameter(std::span<const int> pars, int limit)
{
    return std::min(std::max(firstParameter(pars), 1), std::max(limit, 1));
}

BufferLine* lineAt(Buffer& screen, int index)
{
    if (index < 0 || index >= screen.lines().count())
        return nullptr;
    return screen.lines()[index].get();
}

bool insideMargins(const Buffer& screen, int x)
{
    return x >= screen.marginLeft() && x <= screen.marginRight();
}

bool insideRegion(const Buffer& screen, int y)
{
    return y >= screen.scrollTop() && y <= screen.scrollBottom();
}

// Cells blanked by SU and SD: the default cell, default background included.
CharData defaultBlankCell()
{
    return CharData(0, 1, Attribute::defaultAttribute());
}

} // namespace

// ---------------------------------------------------------------- Shared operations

void Terminal::resetBufferLine(int row, bool dropImages, std::optional<BidiPresentationState> bidiState)
{
    Buffer& screen = *buffer_;
    const int index = screen.yBase() + row;
    BufferLine* line = lineAt(screen, index);
    if (line == nullptr)
        return;
    if (dropImages)
        screen.removeLineImages(index);
    line->fillRange(eraseCell(), 0, std::min(cols_, line->dataSize()));
    line->setIsWrapped(false);
    line->setRenderMode(BufferLine::RenderLineMode::single);
    if (bidiState)
        line->setBidiState(*bidiState);
    updateRange(row);
}

void Terminal::clearRegionWrapFlags(bool afterScrollDown, int n)
{
    Buffer& screen = *buffer_;
    const int absTop = screen.yBase() + screen.scrollTop();
    const int absBottom = screen.yBase() + screen.scrollBottom();
    const auto clear = [&](int index) {
        if (BufferLine* line = lineAt(screen, index))
            line->setIsWrapped(false);
    };
    clear(absTop);
    if (afterScrollDown && n <= absBottom - absTop)
        clear(absTop + n);
    clear(absBottom + 1);
}

void Terminal::clearLineWrapFlags(int first, std::optional<int> second, int last)
{
    Buffer& screen = *buffer_;
    const auto clear = [&](int index) {
        if (BufferLine* line = lineAt(screen, index))
            line->setIsWrapped(false);
    };
    clear(first);
    if (second)
        clear(*second);
    clear(last + 1);
}

// ---------------------------------------------------------------- ED, EL, ECH

void Terminal::cmdEraseInDisplay(std::span<const int> pars)
{
    Buffer& screen = *buffer_;
    const int x = screen.x();
    const int y = screen.y();
    switch (firstParameter(pars)) {
    case 0: {
        updateRange(y);
        if (BufferLine* line = lineAt(screen, screen.yBase() + y)) {
            line->fillRange(eraseCell(), x, std::min(cols_, line->dataSize()));
            if (x == 0)
                line->setIsWrapped(false);
        }
        for (int row = y + 1; row < rows_; ++row)
            resetBufferLine(row, false, currentBidiState_);
        updateRange(rows_ - 1);
        break;
    }
    case 1: {
        updateRange(y);
        if (BufferLine* line = lineAt(screen, screen.yBase() + y)) {
            line->fillRange(eraseCell(), 0, std::min(x + 1, line->dataSize()));
            line->setIsWrapped(false);
        }
        // The row below no longer continues an erased last column.
        if (x + 1 >= cols_ && y + 1 < rows_) {
            if (BufferLine* next = lineAt(screen, screen.yBase() + y + 1))
                next->setIsWrapped(false);
        }
        for (int row = y - 1; row >= 0; --row)
            resetBufferLine(row, false, currentBidiState_);
        updateRange(0);
        break;
    }
    case 2:
        updateRange(rows_ - 1);
        for (int row = rows_ - 1; row >= 0; --row)
            resetBufferLine(row, true, currentBidiState_);
        resetKittyGraphics();
        updateRange(0);
        break;
    case 3: {
        CircularBufferLineList& ring = screen.lines();
        const int countBefore = ring.count();
        const int dropped = countBefore - rows_;
        if (dropped < 1)
            break;
        ring.trimStart(dropped);
        screen.linesTop = 0;
        screen.setYBase(std::max(screen.yBase() - dropped, 0));
        screen.setYDisp(std::max(screen.yDisp() - dropped, 0));
        // Selections keep their text: the remaining lines moved up by `dropped`, and a
        // selection in the dropped history goes away.
        adjustSelectionsForLineShift(0, countBefore - 1, dropped);
        // Dropped lines may have held images, and a view showing history must redraw.
        screen.recountLinesWithImages();
        updateFullScreen();
        break;
    }
    default:
        break;
    }
}

void Terminal::cmdEraseInLine(std::span<const int> pars)
{
    Buffer& screen = *buffer_;
    const int x = screen.x();
    if (BufferLine* line = lineAt(screen, screen.yBase() + screen.y())) {
        switch (firstParameter(pars)) {
        case 0:
            line->fillRange(eraseCell(), x, std::min(cols_, line->dataSize()));
            break;
        case 1:
            line->fillRange(eraseCell(), 0, std::min(x + 1, line->dataSize()));
            break;
        case 2:
            line->fillRange(eraseCell(), 0, std::min(cols_, line->dataSize()));
            break;
        default:
            break;
        }
    }
    updateRange(screen.y());
}

void Terminal::cmdEraseChars(std::span<const int> pars)
{
    Buffer& screen = *buffer_;
    const int n = countParameter(pars, cols_);
    if (BufferLine* line = lineAt(screen, screen.yBase() + screen.y())) {
        const int x = screen.x();
        line->fillRange(eraseCell(), x, std::min(x + n, line->dataSize()));
    }
    // A view that redraws only the dirty rows needs the row marked.
    updateRange(screen.y());
}

// ---------------------------------------------------------------- ICH, DCH

void Terminal::cmdInsertChars(std::span<const int> pars)
{
    Buffer& screen = *buffer_;
    const int x = screen.x();
    if (marginMode_ && !insideMargins(screen, x))
        return;
    const int n = countParameter(pars, cols_);
    // At the pending-wrap column the cursor stands on the last column: insert there.
    const int position = std::min(x, cols_ - 1);
    const int right = marginMode_ ? screen.marginRight() : cols_ - 1;
    if (BufferLine* line = lineAt(screen, screen.yBase() + screen.y()))
        line->insertCells(position, n, right, eraseCell());
    updateRange(screen.y());
}

void Terminal::cmdDeleteChars(std::span<const int> pars)
{
    Buffer& screen = *buffer_;
    const int x = screen.x();
    int n = countParameter(pars, cols_);
    if (marginMode_) {
        if (!insideMargins(screen, x))
            return;
        n = std::min(n, screen.marginRight() - x + 1);
    }
    if (x == screen.cols())
        return;
    const int right = marginMode_ ? screen.marginRight() : cols_ - 1;
    if (BufferLine* line = lineAt(screen, screen.yBase() + screen.y()))
        line->deleteCells(x, n, right, eraseCell());
    updateRange(screen.y());
}

// ---------------------------------------------------------------- IL, DL

// Lines top .. bottom of the ring lose `count` lines at one end and get as many blank lines
// at the other (upwards: out at the top, in at the bottom), in two splices whatever the
// count: the same lines in the same places as `count` single-line rounds.
void Terminal::replaceRegionLines(Buffer& screen, int top, int bottom, int count, bool upwards, const Attribute& erase)
{
    count = std::min(count, bottom - top + 1);
    if (count < 1)
        return;
    CircularBufferLineList& ring = screen.lines();
    const auto marker = [this](int row) { markSplicedRowDirty(row); };
    // The lines pushed out are dropped: their images must leave the buffer's count with them.
    if (screen.hasLinesWithImages()) {
        const int firstOut = upwards ? top : bottom - count + 1;
        for (int row = firstOut; row < firstOut + count; ++row)
            screen.removeLineImages(row);
    }
    std::vector<Buffer::LinePtr> blanks;
    blanks.reserve(static_cast<std::size_t>(count));
    for (int i = 0; i < count; ++i)
        blanks.push_back(screen.getBlankLine(erase));
    if (upwards) {
        ring.splice(top, count, {}, marker);
        ring.splice(bottom - count + 1, 0, blanks, marker);
    } else {
        ring.splice(bottom - count + 1, count, {}, marker);
        ring.splice(top, 0, blanks, marker);
    }
}

void Terminal::cmdInsertLines(std::span<const int> pars)
{
    Buffer& screen = *buffer_;
    const int y = screen.y();
    if (!insideRegion(screen, y))
        return;
    CircularBufferLineList& ring = screen.lines();
    const int absY = screen.yBase() + y;
    const int absBottom = screen.yBase() + screen.scrollBottom();
    // After as many rounds as the region below the cursor is high every line is new, so
    // further rounds change nothing: a huge count costs no more than that.
    const int rounds = std::min(countParameter(pars, 2 * ring.maxLength()), absBottom - absY + 1);

    if (marginMode_) {
        if (!insideMargins(screen, screen.x()))
            return;
        screen.shiftRectangleDown(absY, absBottom, screen.marginLeft(), screen.marginRight(), eraseCell(), rounds);
        clearSelectionsInRange(absY, absBottom, screen.marginLeft(), screen.marginRight());
    } else if (absBottom < ring.count()) {
        replaceRegionLines(screen, absY, absBottom, rounds, false, eraseAttribute());
        adjustSelectionsForLineShift(absY, absBottom, -rounds);
        clearLineWrapFlags(absY, absY + rounds <= absBottom ? std::optional<int>(absY + rounds) : std::nullopt,
                           absBottom);
    }
    updateRange(y);
    updateRange(screen.scrollBottom());
    if (!(screen.scrollTop() == 0 && screen.scrollBottom() == rows_ - 1)) {
        updateRange(screen.scrollTop());
        updateRange(screen.scrollBottom());
    }
}

void Terminal::cmdDeleteLines(std::span<const int> pars)
{
    Buffer& screen = restrictCursor(true);
    const int y = screen.y();
    CircularBufferLineList& ring = screen.lines();
    const int n = countParameter(pars, screen.rows() + 1);
    const int absY = screen.yBase() + y;
    const int absBottom = screen.yBase() + screen.scrollBottom();

    // Outside the region nothing moves, with margins as without.
    if (insideRegion(screen, y)) {
        if (marginMode_) {
            if (insideMargins(screen, screen.x())) {
                screen.shiftRectangleUp(absY, absBottom, screen.marginLeft(), screen.marginRight(), eraseCell(), n);
                clearSelectionsInRange(absY, absBottom, screen.marginLeft(), screen.marginRight());
            }
        } else if (absBottom < ring.count()) {
            replaceRegionLines(screen, absY, absBottom, n, true, eraseAttribute());
            adjustSelectionsForLineShift(absY, absBottom, n);
            clearLineWrapFlags(absY, std::nullopt, absBottom);
        }
    }
    updateRange(y);
    updateRange(screen.scrollBottom());
    if (!(screen.scrollTop() == 0 && screen.scrollBottom() == rows_ - 1)) {
        updateRange(screen.scrollTop());
        updateRange(screen.scrollBottom());
    }
}

// ---------------------------------------------------------------- SU, SD

void Terminal::cmdScrollUp(std::span<const int> pars)
{
    Buffer& screen = *buffer_;
    CircularBufferLineList& ring = screen.lines();
    const int n = countParameter(pars, 2 * rows_);
    const int absTop = screen.yBase() + screen.scrollTop();
    const int absBottom = screen.yBase() + screen.scrollBottom();
    // Past the region's height every further round gives the same blank region.
    const int rounds = std::min(n, std::max(absBottom - absTop + 1, 0));
    scrolledLineCount_ += std::uint64_t(std::max(rounds, 0));

    if (marginMode_) {
        screen.shiftRectangleUp(absTop, absBottom, screen.marginLeft(), screen.marginRight(), defaultBlankCell(),
                                rounds);
        clearSelectionsInRange(absTop, absBottom, screen.marginLeft(), screen.marginRight());
    } else if (absTop < ring.count() && absBottom < ring.count()) {
        // The lines scrolled out do not go to the scrollback.
        replaceRegionLines(screen, absTop, absBottom, rounds, true, Attribute::defaultAttribute());
        adjustSelectionsForLineShift(absTop, absBottom, n);
    }
    clearRegionWrapFlags(false, n);
    updateRange(screen.scrollTop());
    updateRange(screen.scrollBottom());
}

void Terminal::csiT(std::span<const int> pars)
{
    Buffer& screen = *buffer_;
    CircularBufferLineList& ring = screen.lines();
    const int n = countParameter(pars, rows_);
    const int absTop = screen.yBase() + screen.scrollTop();
    const int absBottom = screen.yBase() + screen.scrollBottom();
    // Past the region's height every further round gives the same blank region.
    const int rounds = std::min(n, std::max(absBottom - absTop + 1, 0));

    if (marginMode_) {
        // The rectangle scroll even when the margins span the whole width.
        screen.shiftRectangleDown(absTop, absBottom, screen.marginLeft(), screen.marginRight(), defaultBlankCell(),
                                  rounds);
        clearSelectionsInRange(absTop, absBottom, screen.marginLeft(), screen.marginRight());
    } else if (absTop < ring.count() && absBottom < ring.count()) {
        replaceRegionLines(screen, absTop, absBottom, rounds, false, Attribute::defaultAttribute());
        adjustSelectionsForLineShift(absTop, absBottom, -n);
    }
    clearRegionWrapFlags(true, n);
    updateRange(screen.scrollTop());
    updateRange(screen.scrollBottom());
}

// ---------------------------------------------------------------- REP

void Terminal::cmdRepeatPrecedingCharacter(std::span<const int> pars)
{
    Buffer& screen = *buffer_;
    const int n = countParameter(pars, 2 * cols_ * rows_);
    CharData cell = defaultBlankCell();
    if (screen.x() > 0) {
        if (BufferLine* line = lineAt(screen, screen.yBase() + screen.y()); line != nullptr && line->dataSize() > 0) {
            // Past the line's cells the last cell counts. After a wide character the cell
            // left of the cursor is its placeholder: repeat the wide character itself.
            int col = std::min(screen.x() - 1, line->dataSize() - 1);
            while (col > 0 && line->packedCell(col).width() == 0)
                --col;
            if (line->packedCell(col).width() >= 1)
                cell = line->getCell(col);
        }
    }
    const int firstRow = screen.y();
    for (int i = 0; i < n; ++i)
        screen.insertCharacter(cell, *this);
    // The written rows, like the print path marks them (scrolls mark their own).
    updateRange(firstRow);
    updateRange(screen.y());
}

// ---------------------------------------------------------------- DECDC

void Terminal::cmdDeleteColumns(std::span<const int> pars)
{
    Buffer& screen = *buffer_;
    const int x = screen.x();
    if (!insideRegion(screen, screen.y()) || x == screen.cols() || (marginMode_ && !insideMargins(screen, x)))
        return;
    const int right = marginMode_ ? screen.marginRight() : cols_ - 1;
    const int n = countParameter(pars, cols_);
    const CharData space(0x20, 1, eraseAttribute());
    for (int row = screen.scrollTop(); row <= screen.scrollBottom(); ++row) {
        BufferLine* line = lineAt(screen, screen.yBase() + row);
        if (line == nullptr)
            continue;
        // Fills the freed columns and moves the semantic marks of x .. right with the cells.
        line->deleteCells(x, n, right, space);
        line->setIsWrapped(false);
    }
    updateRange(screen.scrollTop());
    updateRange(screen.scrollBottom());
}

// ---------------------------------------------------------------- Line size

void Terminal::setLineRenderMode(BufferLine::RenderLineMode mode)
{
    Buffer& screen = *buffer_;
    if (BufferLine* line = lineAt(screen, screen.yBase() + screen.y()))
        line->setRenderMode(mode);
    updateRange(screen.y());
}

} // namespace corvantix
