// The part of the view's selection that the emulator keeps in step with the screen: when
// lines scroll, are inserted or deleted, a selection moves with its text or is cleared.
// The view builds its own selection behaviour on top of these fields; the terminal holds
// registered selections weakly (Terminal::registerSelection).
#pragma once

#include "model/Position.h"

#include <optional>

namespace corvantix {

class Terminal;

class SelectionService {
public:
    explicit SelectionService(Terminal* terminal = nullptr) : terminal(terminal) {}
    virtual ~SelectionService() = default;

    // The terminal it selects in; not owned.
    Terminal* terminal = nullptr;
    // A selection is shown.
    bool _active = false;
    bool hasSelectionRange = false; // start and end differ
    // Rows are absolute line indices of the buffer's ring.
    Position start;
    Position end;
    Position pivot;
    // Anchors used while extending by word or by row.
    std::optional<Position> wordSelectionAnchor;
    std::optional<Position> rowSelectionAnchor;

    // The content of lines startRow..endRow (absolute) moved up by delta lines (down when
    // negative). An active selection lying within those lines moves with them; one that only
    // partly overlaps them, or would leave them, is cleared.
    virtual void adjustForLineShift(int startRow, int endRow, int delta);

    // Deactivates the selection and forgets its range and anchors, telling the delegate.
    void clearSelection();
};

} // namespace corvantix
