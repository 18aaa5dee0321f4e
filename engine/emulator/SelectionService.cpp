#include "emulator/SelectionService.h"

#include "emulator/Terminal.h"
#include "emulator/TerminalDelegate.h"
#include "model/Buffer.h"

#include <unicode/uchar.h>

#include <algorithm>
#include <string>
#include <vector>

namespace corvantix {

namespace {

bool before(Position a, Position b)
{
    return a.row < b.row || (a.row == b.row && a.col < b.col);
}

std::string describe(Position p)
{
    return "col=" + std::to_string(p.col) + " row=" + std::to_string(p.row);
}

bool isLetterOrNumber(char32_t c)
{
    return (U_GET_GC_MASK(static_cast<UChar32>(c)) & (U_GC_L_MASK | U_GC_N_MASK)) != 0;
}

bool isWordCharacter(char32_t c)
{
    return c == U'.' || c == U'_' || c == U'-' || isLetterOrNumber(c);
}

char32_t closerOf(char32_t c)
{
    switch (c) {
    case U'(': return U')';
    case U'[': return U']';
    case U'{': return U'}';
    default: return 0;
    }
}

char32_t openerOf(char32_t c)
{
    switch (c) {
    case U')': return U'(';
    case U']': return U'[';
    case U'}': return U'{';
    default: return 0;
    }
}

} // namespace

// ---------------------------------------------------------------- State

void SelectionService::notify()
{
    if (terminal == nullptr)
        return;
    if (TerminalDelegate* delegate = terminal->delegate())
        delegate->selectionChanged(*terminal);
}

int SelectionService::cols() const
{
    return terminal != nullptr ? terminal->cols() : 0;
}

void SelectionService::resetMode()
{
    selectingRows = false;
    selectionMode = SelectionMode::character;
    wordSelectionAnchor.reset();
    rowSelectionAnchor.reset();
}

void SelectionService::setActive(bool value)
{
    const bool changed = value != active_;
    active_ = value;
    if (!value)
        pivot.reset();
    if (changed)
        notify();
}

void SelectionService::clearSelection()
{
    if (!active_)
        return;
    active_ = false;
    pivot.reset();
    hasSelectionRange = false;
    start = {};
    end = {};
    resetMode();
    notify();
}

// ---------------------------------------------------------------- Starting and extending

void SelectionService::beginSelection(int col, int row)
{
    start = end = Position{col, row};
    active_ = true;
    hasSelectionRange = false;
    notify();
}

void SelectionService::beginCharacterSelection(int screenRow, int col)
{
    beginSelection(col, screenRow + (terminal != nullptr ? terminal->buffer().yDisp() : 0));
    resetMode();
    active_ = true;
    notify();
}

void SelectionService::collapseToStart()
{
    end = start;
    hasSelectionRange = false;
    resetMode();
    active_ = true;
    notify();
}

void SelectionService::setRange(int startCol, int startRow, int endCol, int endRow)
{
    const int lastCol = std::max(cols() - 1, 0);
    const int lastRow = terminal != nullptr ? std::max(terminal->buffer().lines().count() - 1, 0) : 0;
    start = Position{std::min(startCol, lastCol), std::min(startRow, lastRow)};
    // An end past the last line (a match ending in the last cell of the last row has its
    // exclusive end on the row after) is the end of the last line, not its start: clamping
    // the row alone would put the end before the start.
    end = endRow > lastRow ? Position{cols(), lastRow} : Position{std::min(endCol, lastCol), endRow};
    hasSelectionRange = start != end;
    active_ = true;
    notify();
}

void SelectionService::selectRows(int rowA, int rowB)
{
    start = Position{0, std::min(rowA, rowB)};
    end = Position{cols() - 1, std::max(rowA, rowB)};
    hasSelectionRange = rowA != rowB || cols() != 1;
}

void SelectionService::selectRowAt(int row)
{
    start = Position{0, row};
    end = Position{cols() - 1, row};
    hasSelectionRange = cols() != 1;
    selectingRows = true;
    selectionMode = SelectionMode::row;
    wordSelectionAnchor.reset();
    rowSelectionAnchor = row;
    active_ = true;
    notify();
}

void SelectionService::selectAll()
{
    start = Position{0, 0};
    const int capacity = terminal != nullptr ? terminal->buffer().lines().maxLength() : 1;
    end = Position{cols() - 1, capacity - 1};
    hasSelectionRange = end != Position{0, 0};
    active_ = true;
    notify();
}

void SelectionService::extendSelection(int col, int row)
{
    Position p{col, row};
    switch (selectionMode) {
    case SelectionMode::row:
        selectRows(rowSelectionAnchor.value_or(start.row), p.row);
        active_ = true;
        notify();
        return;
    case SelectionMode::word:
        if (wordSelectionAnchor) {
            const WordRange anchor = *wordSelectionAnchor;
            if (before(p, anchor.start)) {
                start = Position{runEdge(p.col, p.row, -1), p.row};
                end = anchor.end;
            } else if (!before(anchor.end, p)) {
                start = anchor.start;
                end = anchor.end;
            } else {
                start = anchor.start;
                end = Position{runEdge(p.col, p.row, +1), p.row};
            }
            hasSelectionRange = start != end;
            active_ = true;
            notify();
            return;
        }
        p = snap(p, before(p, start) ? -1 : +1);
        break;
    case SelectionMode::character:
        break;
    }
    end = p;
    hasSelectionRange = start != p;
    active_ = true;
    notify();
}

void SelectionService::extendWithShift(int col, int row)
{
    Position p{col, row};
    if (selectionMode == SelectionMode::row) {
        selectRows(rowSelectionAnchor.value_or(start.row), p.row);
        active_ = true;
        notify();
        return;
    }
    if (selectionMode == SelectionMode::word)
        p = snap(p, before(p, start) ? -1 : +1);
    // A click beyond the fixed end, away from the moving one, makes the old moving end fixed.
    if ((before(start, end) && before(p, start)) || (before(end, start) && before(start, p)))
        start = end;
    end = p;
    hasSelectionRange = start != p;
    active_ = true;
    notify();
}

void SelectionService::extendFromPivot(int col, int row)
{
    if (!pivot)
        return;
    const Position fixed = *pivot;
    Position p{col, row};
    if (selectionMode == SelectionMode::row) {
        selectRows(fixed.row, p.row);
        active_ = true;
        notify();
        return;
    }
    if (selectionMode == SelectionMode::word)
        p = snap(p, before(p, fixed) ? -1 : +1);
    if (before(p, fixed)) {
        start = p;
        end = fixed;
    } else if (p == fixed) {
        start = end = fixed;
    } else {
        start = fixed;
        end = p;
    }
    hasSelectionRange = start != end;
    active_ = true;
    notify();
}

// ---------------------------------------------------------------- Words and brackets

int SelectionService::leadColumn(int col, int row) const
{
    if (terminal == nullptr || col <= 0)
        return col;
    const Buffer& buffer = terminal->buffer();
    if (buffer.getChar(col, row).width == 0 && buffer.getChar(col - 1, row).width == 2)
        return col - 1;
    return col;
}

std::u32string SelectionService::characterAt(int col, int row) const
{
    if (terminal == nullptr)
        return std::u32string(1, U'\0');
    // The right half of a wide character holds no character of its own: it reads as the
    // character it completes, so both halves belong to the same word or run.
    return terminal->getCharacter(terminal->buffer().getChar(leadColumn(col, row), row).code);
}

SelectionService::CharClass SelectionService::classAt(int col, int row) const
{
    const std::u32string c = characterAt(col, row);
    const char32_t first = c.empty() ? U'\0' : c.front();
    if (c.size() == 1 && first == U'\0')
        return CharClass::empty;
    if (c.size() == 1 && first == U' ')
        return CharClass::space;
    return isLetterOrNumber(first) ? CharClass::word : CharClass::punctuation;
}

int SelectionService::runEdge(int col, int row, int direction) const
{
    const CharClass kind = classAt(col, row);
    if (kind == CharClass::punctuation)
        return col;
    auto inRun = [&](int c) {
        const CharClass other = classAt(c, row);
        if (kind == CharClass::word) {
            const std::u32string text = characterAt(c, row);
            return !text.empty() && isWordCharacter(text.front());
        }
        return other == kind;
    };
    if (direction > 0) {
        int c = col;
        while (c < cols() && inRun(c))
            ++c;
        return c;
    }
    int c = col;
    while (c > 0 && inRun(c - 1))
        --c;
    return c;
}

Position SelectionService::snap(Position p, int direction) const
{
    return Position{runEdge(p.col, p.row, direction), p.row};
}

void SelectionService::selectWordAt(int col, int row, const Buffer& buffer)
{
    col = std::clamp(col, 0, std::max(buffer.cols() - 1, 0));
    row = std::max(row, 0);
    col = leadColumn(col, row);
    const std::u32string text = characterAt(col, row);
    const char32_t c = text.empty() ? U'\0' : text.front();
    const CharClass kind = classAt(col, row);

    if (kind != CharClass::punctuation) {
        start = Position{runEdge(col, row, -1), row};
        end = Position{runEdge(col, row, +1), row};
    } else if (closerOf(c) != 0) {
        matchBracketForward(col, row);
    } else if (openerOf(c) != 0) {
        matchBracketBackward(col, row);
    } else {
        start = end = Position{col, row};
    }
    hasSelectionRange = start != end;
    selectionMode = SelectionMode::word;
    wordSelectionAnchor = WordRange{start, end};
    rowSelectionAnchor.reset();
    selectingRows = false;
    active_ = true;
    notify();
}

void SelectionService::matchBracketForward(int col, int row)
{
    start = end = Position{col, row};
    const Buffer& buffer = terminal->buffer();
    const int bottom = buffer.yDisp() + terminal->rows();
    std::vector<char32_t> expected;
    for (int r = row; r < bottom; ++r) {
        for (int c = r == row ? col : 0; c < cols(); ++c) {
            const std::u32string text = characterAt(c, r);
            const char32_t ch = text.empty() ? U' ' : text.front();
            if (const char32_t closer = closerOf(ch); closer != 0) {
                expected.push_back(closer);
            } else if (!expected.empty() && ch == expected.back()) {
                expected.pop_back();
                if (expected.empty()) {
                    end = Position{c + 1, r};
                    return;
                }
            }
        }
    }
}

void SelectionService::matchBracketBackward(int col, int row)
{
    start = end = Position{col, row};
    std::vector<char32_t> expected;
    for (int r = row; r >= 0; --r) {
        for (int c = r == row ? col : cols() - 1; c >= 0; --c) {
            const std::u32string text = characterAt(c, r);
            const char32_t ch = text.empty() ? U' ' : text.front();
            if (const char32_t opener = openerOf(ch); opener != 0) {
                expected.push_back(opener);
            } else if (!expected.empty() && ch == expected.back()) {
                expected.pop_back();
                if (expected.empty()) {
                    start = Position{c, r};
                    end = Position{col + 1, row};
                    return;
                }
            }
        }
    }
}

// ---------------------------------------------------------------- Text

std::string SelectionService::getSelectedText() const
{
    if (terminal == nullptr)
        return {};
    Position first = start;
    Position last = end;
    if (before(last, first))
        std::swap(first, last);
    const Buffer& buffer = terminal->buffer();
    const int lastLine = buffer.lines().count() - 1;
    if (first.row < 0 || first.row > lastLine)
        return {};
    last.row = std::min(last.row, lastLine);
    return terminal->getText(first, last, buffer);
}

// ---------------------------------------------------------------- Line shifts

void SelectionService::adjustForLineShift(int startRow, int endRow, int delta)
{
    if (!active_ || delta == 0)
        return;
    const int top = std::min(start.row, end.row);
    const int bottom = std::max(start.row, end.row);
    if (bottom < startRow || top > endRow)
        return;
    if (top < startRow || bottom > endRow) {
        clearSelection();
        return;
    }
    bool leaves = false;
    auto move = [&](int& row) {
        if (row < startRow || row > endRow)
            return;
        row -= delta;
        if (row < startRow || row > endRow)
            leaves = true;
    };
    Position newStart = start;
    Position newEnd = end;
    std::optional<Position> newPivot = pivot;
    std::optional<WordRange> newWord = wordSelectionAnchor;
    std::optional<int> newRow = rowSelectionAnchor;
    // A pivot elsewhere than at an end is not part of the moved text.
    if (newPivot && (*newPivot == start || *newPivot == end))
        move(newPivot->row);
    move(newStart.row);
    move(newEnd.row);
    if (newWord) {
        move(newWord->start.row);
        move(newWord->end.row);
    }
    if (newRow)
        move(*newRow);
    if (leaves) {
        clearSelection();
        return;
    }
    start = newStart;
    end = newEnd;
    pivot = newPivot;
    wordSelectionAnchor = newWord;
    rowSelectionAnchor = newRow;
    hasSelectionRange = start != end;
    notify();
}

std::string SelectionService::debugDescription() const
{
    return std::string("[Selection (active=") + (active_ ? "true" : "false") + ", start=" + describe(start)
           + " end=" + describe(end) + " hasSR=" + (hasSelectionRange ? "true" : "false")
           + " pivot=" + (pivot ? describe(*pivot) : std::string("nil")) + "]";
}

} // namespace corvantix
