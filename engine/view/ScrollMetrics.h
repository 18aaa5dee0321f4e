// Where the view stands in the scrollback and what the scroller shows, as pure functions of
// the active buffer's numbers.
#pragma once

namespace corvantix {

struct ScrollState {
    int yDisp = 0;        // line shown at the top
    int lines = 0;        // lines held (history plus screen)
    int rows = 0;         // screen rows
    bool isAlternate = false;
    bool hasScrollback = false;
};

// 0 at the top, 1 at the bottom; 0 on the alternate screen.
double scrollPosition(const ScrollState& state);
// The visible share of the lines, at least 0.01; 0 on the alternate screen.
double scrollThumbsize(const ScrollState& state);
// The buffer keeps history and holds more lines than the screen; never on the alternate screen.
bool canScroll(const ScrollState& state);

// The last row the view can show at its top: lines - rows, not below 0.
int maximumScrollRow(int lines, int rows);
// A requested top row brought into 0 .. maximumScrollRow.
int clampScrollRow(int row, int lines, int rows);
// The top row for a scroller knob value (0..1): the value times the maximum, truncated and
// clamped to 0 .. maximum; a value that is not a number gives 0.
int scrollRowForKnobValue(double value, int lines, int rows);

} // namespace corvantix
