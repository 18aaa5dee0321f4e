// Rectangles of the view in widget coordinates (origin top left, y growing downward): the
// band a redraw of changed rows invalidates, and where the caret goes.
#pragma once

namespace corvantix {

struct RectValue {
    double x = 0;
    double y = 0;
    double width = 0;
    double height = 0;

    friend constexpr bool operator==(const RectValue&, const RectValue&) = default;
};

// The band to repaint for screen rows first..last changed. Scrolled back, the whole frame.
// Otherwise the rows' band from the top of `first`, reaching one extra row below `last` (the
// descenders and underlines of a row may reach into the next) but not past the frame; when
// `last` is the bottom row (or beyond) the band reaches the bottom of the frame.
RectValue dirtyRowsRect(int first, int last, int rows, double cellHeight, double frameWidth, double frameHeight,
                        bool scrolledBack);

// The caret's top edge for the cursor on buffer line `cursorLine` with `yDisp` at the top.
double caretTop(int cursorLine, int yDisp, double cellHeight);

} // namespace corvantix
