// Cursor movement, clamping, tabulation, DECSC / DECRC and the sideways index functions.
#include "emulator/Terminal.h"

#include <algorithm>

namespace corvantix {

namespace {

// The first parameter, or `fallback` when the list is empty.
int firstParameter(std::span<const int> pars, int fallback = 0)
{
    return pars.empty() ? fallback : pars.front();
}

// A count where 0 and 1 both mean one.
int countParameter(std::span<const int> pars)
{
    return std::max(firstParameter(pars), 1);
}

} // namespace

// ---------------------------------------------------------------- Clamping

Buffer& Terminal::restrictCursor(bool limitCols)
{
    Buffer& screen = *buffer_;
    screen.setX(std::clamp(screen.x(), 0, limitCols ? cols_ - 1 : cols_));
    if (originMode_)
        screen.setY(std::min(std::max(screen.y(), screen.scrollTop()), screen.scrollBottom()));
    else
        screen.setY(std::clamp(screen.y(), 0, rows_ - 1));
    updateRangeForBuffer(screen, screen.y());
    return screen;
}

namespace {

struct CursorFile;

} // namespace

template <>
struct TerminalFileHelpers<CursorFile> {
    // setCursor without origin mode, where nearly every cursor move lands: restrictCursor's
    // steps on the new position (a negative coordinate keeps the old one, as setX and setY do).
    // The row left and the row reached are both marked for refresh, in one step: the ranges
    // are spans, so marking the two ends is marking the pair.
    [[gnu::always_inline]] static void setCursorOnScreen(Terminal& t, Buffer& screen, int col, int row)
    {
        const int oldY = screen.y();
        screen.setX(std::clamp(col >= 0 ? col : screen.x(), 0, t.cols_ - 1));
        const int y = std::clamp(row >= 0 ? row : oldY, 0, t.rows_ - 1);
        screen.setY(y);
        t.updateRangeForBufferRows(screen, oldY, y);
        t.markedRow_ = y;
        t.markedRowYDisp_ = screen.yDisp();
    }
};

namespace {

using CursorHelpers = TerminalFileHelpers<CursorFile>;

} // namespace

void Terminal::setCursor(int col, int row)
{
    Buffer& screen = *buffer_;
    if (!originMode_) {
        CursorHelpers::setCursorOnScreen(*this, screen, col, row);
        return;
    }
    updateRangeForBuffer(screen, screen.y());
    screen.setX(col + (marginMode_ ? screen.marginLeft() : 0));
    screen.setY(screen.scrollTop() + row);
    restrictCursor(true);
}

// ---------------------------------------------------------------- Relative moves

void Terminal::cmdCursorUp(std::span<const int> pars)
{
    Buffer& screen = *buffer_;
    const int limit = screen.y() >= screen.scrollTop() ? screen.scrollTop() : 0;
    screen.setY(std::max(screen.y() - countParameter(pars), limit));
}

void Terminal::cmdCursorDown(std::span<const int> pars)
{
    Buffer& screen = *buffer_;
    const int limit = screen.y() <= screen.scrollBottom() ? screen.scrollBottom() : screen.rows() - 1;
    screen.setY(std::min(screen.y() + countParameter(pars), limit));
    if (screen.x() >= cols_)
        screen.setX(screen.x() - 1);
}

void Terminal::cmdCursorForward(int count)
{
    Buffer& screen = *buffer_;
    int right = marginMode_ ? screen.marginRight() : cols_ - 1;
    // Right of the margin the cursor may run on to the screen's edge.
    if (screen.x() > right)
        right = screen.cols() - 1;
    const long long target = static_cast<long long>(screen.x()) + std::max(count, 1);
    screen.setX(static_cast<int>(std::min<long long>(target, right)));
}

void Terminal::cmdCursorBackward(int count)
{
    Buffer& screen = *buffer_;
    int left = marginMode_ ? screen.marginLeft() : 0;
    if (screen.x() < left)
        left = 0;
    const long long target = static_cast<long long>(screen.x()) - std::max(count, 1);
    screen.setX(static_cast<int>(std::max<long long>(target, left)));
}

void Terminal::cmdCursorNextLine(std::span<const int> pars)
{
    cmdCursorDown(pars);
    buffer_->setX(buffer_->marginLeft());
}

void Terminal::cmdCursorPrecedingLine(std::span<const int> pars)
{
    cmdCursorUp(pars);
    buffer_->setX(buffer_->marginLeft());
}

void Terminal::cmdHPositionRelative(std::span<const int> pars)
{
    Buffer& screen = *buffer_;
    const int x = screen.x() + countParameter(pars);
    screen.setX(x >= cols_ ? cols_ - 1 : x);
}

void Terminal::cmdVPositionRelative(std::span<const int> pars)
{
    Buffer& screen = *buffer_;
    screen.setY(std::min(screen.y() + countParameter(pars), rows_ - 1));
    if (screen.x() >= cols_)
        screen.setX(screen.x() - 1);
}

// ---------------------------------------------------------------- Absolute moves

void Terminal::cmdCursorCharAbsolute(std::span<const int> pars)
{
    Buffer& screen = *buffer_;
    const int base = originMode_ && marginMode_ ? screen.marginLeft() : 0;
    // Relative to the left margin in origin mode, but never past the screen's last column.
    screen.setX(std::min(base + std::min(countParameter(pars) - 1, cols_ - 1), cols_ - 1));
}

void Terminal::cmdCharPosAbsolute(std::span<const int> pars)
{
    buffer_->setX(std::min(countParameter(pars) - 1, cols_ - 1));
}

void Terminal::cmdLinePosAbsolute(std::span<const int> pars)
{
    buffer_->setY(std::min(countParameter(pars) - 1, rows_ - 1));
}

void Terminal::cmdCursorPosition(std::span<const int> pars)
{
    int row = 0;
    int col = 0;
    if (!pars.empty())
        row = std::max(pars[0], 1) - 1;
    if (pars.size() >= 2)
        col = std::max(pars[1], 1) - 1;
    // Both are at least 0 here, so the screen case needs no test for a kept coordinate.
    if (!originMode_)
        CursorHelpers::setCursorOnScreen(*this, *buffer_, col, row);
    else
        setCursor(col, row);
}

void Terminal::cmdHVPosition(std::span<const int> pars)
{
    // Written directly: no refresh marking, and in origin mode the screen (not the region)
    // limits the row.
    Buffer& screen = *buffer_;
    const int row = pars.empty() ? 1 : std::max(pars[0], 1);
    const int col = pars.size() < 2 ? 0 : std::max(pars[1], 1) - 1;
    const int y = row - 1 + (originMode_ ? screen.scrollTop() : 0);
    screen.setY(std::min(y, rows_ - 1));
    const int x = col + (originMode_ && marginMode_ ? screen.marginLeft() : 0);
    screen.setX(std::min(x, cols_ - 1));
}

// ---------------------------------------------------------------- Tabulation

void Terminal::cmdCursorForwardTab(std::span<const int> pars)
{
    Buffer& screen = *buffer_;
    // At the pending-wrap column the cursor stays, as for HT.
    if (screen.x() > screen.writeRightLimit())
        return;
    const int count = std::min(countParameter(pars), cols_ - 1);
    for (int i = 0; i < count; ++i) {
        const int stop = screen.nextTabStop(marginMode_);
        if (stop >= 0)
            screen.setX(stop);
    }
}

void Terminal::cmdCursorBackwardTab(std::span<const int> pars)
{
    Buffer& screen = *buffer_;
    if (screen.x() > cols_)
        return;
    const int count = std::min(countParameter(pars), screen.cols());
    for (int i = 0; i < count; ++i)
        screen.setX(screen.previousTabStop());
}

void Terminal::cmdTabSet()
{
    Buffer& screen = *buffer_;
    const int x = screen.x();
    if (x >= 0 && static_cast<std::size_t>(x) < screen.tabStops.size())
        screen.tabStops[static_cast<std::size_t>(x)] = true;
}

void Terminal::cmdTabClear(std::span<const int> pars)
{
    Buffer& screen = *buffer_;
    switch (firstParameter(pars)) {
    case 0:
        if (const int x = screen.x(); x >= 0 && static_cast<std::size_t>(x) < screen.tabStops.size())
            screen.tabStops[static_cast<std::size_t>(x)] = false;
        break;
    case 3:
        std::fill(screen.tabStops.begin(), screen.tabStops.end(), false);
        break;
    default:
        break;
    }
}

// ---------------------------------------------------------------- DECSC, DECRC

void Terminal::cmdSaveCursor(std::span<const int>, std::span<const std::uint8_t>)
{
    Buffer& screen = *buffer_;
    screen.savedX = screen.x();
    screen.savedY = screen.y();
    screen.savedAttr = curAttr_;
    screen.savedCharset = charset_;
    screen.savedWraparound = wraparound_;
    screen.savedOriginMode = originMode_;
    screen.savedMarginMode = marginMode_;
    screen.savedReverseWraparound = reverseWraparound_;
}

void Terminal::cmdRestoreCursor(std::span<const int>, std::span<const std::uint8_t>)
{
    Buffer& screen = *buffer_;
    screen.setX(std::clamp(screen.savedX, 0, cols_ - 1));
    screen.setY(std::clamp(screen.savedY, 0, rows_ - 1));
    curAttr_ = screen.savedAttr;
    curAttrChanged();
    charset_ = screen.savedCharset;
    originMode_ = screen.savedOriginMode;
    setMarginMode(screen.savedMarginMode);
    setWraparound(screen.savedWraparound);
    reverseWraparound_ = screen.savedReverseWraparound;
}

// ---------------------------------------------------------------- DECBI, DECFI

void Terminal::indexColumn(bool back)
{
    Buffer& screen = *buffer_;
    if (back) {
        if (screen.x() != screen.marginLeft())
            cmdCursorBackward(1);
        else
            scrollColumns(true, screen.marginLeft());
        return;
    }
    if (screen.x() != screen.marginRight()) {
        if (screen.x() != screen.cols())
            cmdCursorForward(1);
        return;
    }
    scrollColumns(false, screen.marginLeft());
}

void Terminal::scrollColumns(bool back, int column)
{
    Buffer& screen = *buffer_;
    const int x = screen.x();
    const int y = screen.y();
    if (y < screen.scrollTop() || y > screen.scrollBottom() || x < screen.marginLeft() || x > screen.marginRight())
        return;
    const int right = std::min(marginMode_ ? screen.marginRight() : cols_ - 1, screen.cols() - 1);
    if (column < 0 || column > right)
        return;

    Attribute blank = Attribute::defaultAttribute();
    if (back)
        blank.bg = Attribute::Color::defaultInvertedColor();
    else
        blank.bg = curAttr_.bg;
    const CharData space(0x20, 1, blank);

    CircularBufferLineList& ring = screen.lines();
    for (int row = screen.scrollTop(); row <= screen.scrollBottom(); ++row) {
        const int index = screen.yBase() + row;
        if (index < 0 || index >= ring.count())
            continue;
        BufferLine& line = *ring[index];
        // The cell operations move the semantic marks of the range with the cells.
        if (back)
            line.insertCells(column, 1, right, space);
        else
            line.deleteCells(column, 1, right, space);
    }
    updateRange(screen.scrollTop());
    updateRange(screen.scrollBottom());
}

} // namespace corvantix
