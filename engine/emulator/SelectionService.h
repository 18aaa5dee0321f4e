// The text selection of one terminal: two grid positions, a mode (character, word, row) with
// the anchors that make word and row selections grow by whole words or whole rows, the text
// it covers, and its upkeep when the emulator scrolls, inserts or deletes lines (the terminal
// holds registered selections weakly, Terminal::registerSelection, and shifts them).
//
// It draws nothing; the drawing code reads start, end and active_. Rows are absolute line
// indices of the active buffer's ring (screen row + yDisp) unless a screen row is named.
// `start` is the fixed end and may lie after `end`; readers order the two. After a word or
// bracket selection `end` is one past the last selected column; after a row selection it is
// the last column.
//
// Every operation that changes the selection tells the terminal's delegate
// (selectionChanged), except the plain field stores and selectRows.
#pragma once

#include "model/Position.h"

#include <optional>
#include <string>

namespace corvantix {

class Buffer;
class Terminal;

enum class SelectionMode { character, word, row };

class SelectionService {
public:
    // The word (or bracket span) a double click selected.
    struct WordRange {
        Position start;
        Position end;
        friend bool operator==(const WordRange&, const WordRange&) = default;
    };

    explicit SelectionService(Terminal* terminal = nullptr) : terminal(terminal) {}
    virtual ~SelectionService() = default;

    // The terminal it selects in; not owned.
    Terminal* terminal = nullptr;
    // A selection is shown.
    bool active_ = false;
    bool hasSelectionRange = false; // start and end differ
    // Rows are absolute line indices of the buffer's ring.
    Position start;
    Position end;
    // Fixed point of extendFromPivot; dropped whenever the selection becomes inactive.
    std::optional<Position> pivot;
    std::optional<WordRange> wordSelectionAnchor;
    std::optional<int> rowSelectionAnchor;
    bool selectingRows = false;
    SelectionMode selectionMode = SelectionMode::character;

    bool active() const { return active_; }
    // Notifies when the value changes; an inactive selection has no pivot.
    void setActive(bool value);
    bool spansSeveralRows() const { return start.row != end.row; }

    // A collapsed selection at the position, shown.
    void beginSelection(int col, int row);
    // The same at a screen row, then a fresh character selection.
    void beginCharacterSelection(int screenRow, int col);
    // The selection shrinks to its start, in character mode.
    void collapseToStart();
    // Shows the range (used by search); columns and rows are clamped above.
    void setRange(int startCol, int startRow, int endCol, int endRow);
    // Shift-click: moves the nearer end to the position (snapping in word and row mode).
    void extendWithShift(int col, int row);
    // Extends from the pivot; nothing without one.
    void extendFromPivot(int col, int row);
    // Drag: moves `end`, by whole words or rows in those modes.
    void extendSelection(int col, int row);
    // Double click: the word, run of blanks or bracketed span at the cell.
    void selectWordAt(int col, int row, const Buffer& buffer);
    // Triple click: the whole row.
    void selectRowAt(int row);
    // Whole rows from the smaller to the larger; no notification.
    void selectRows(int rowA, int rowB);
    // The whole ring of the active buffer (its capacity, not the lines written so far).
    void selectAll();
    // Ends an active selection and forgets its mode and anchors.
    void clearSelection();
    // The text between the two ends, as the emulator extracts it.
    std::string getSelectedText() const;

    // The content of lines startRow..endRow (absolute) moved up by delta lines (down when
    // negative). An active selection lying within those lines moves with them; one that only
    // partly overlaps them, or would leave them, is cleared.
    virtual void adjustForLineShift(int startRow, int endRow, int delta);

    std::string debugDescription() const;

private:
    enum class CharClass { empty, space, word, punctuation };
    std::u32string characterAt(int col, int row) const;
    // The column of the character a cell shows: the left half for the right half of a wide
    // character, else the column itself.
    int leadColumn(int col, int row) const;
    CharClass classAt(int col, int row) const;
    // The first column at or after col leaving the run of the class at (col, row) (+1), or
    // the leftmost column of the run ending there (-1); punctuation stays where it is.
    int runEdge(int col, int row, int direction) const;
    Position snap(Position p, int direction) const;
    // From the bracket at (col, row) to its partner; a single cell when none matches. The
    // forward scan stops at the bottom of the visible screen.
    void matchBracketForward(int col, int row);
    void matchBracketBackward(int col, int row);
    void resetMode();
    void notify();
    int cols() const;
};

} // namespace corvantix
