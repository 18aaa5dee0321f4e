// The decisions of the pointer handlers that need no widget: whether an event is reported to
// the program or handled by the view, the click counter, the selection auto-scroll speed and
// the scroll-wheel arithmetic. The Qt view (view/qt/TerminalViewMouse.cpp) feeds them.
#pragma once

#include "emulator/Terminal.h"

#include <cstdint>

namespace corvantix {

enum class PointerEventKind { press, release, drag, wheel, move };

// report: the program gets it; local: the view selects, scrolls or clicks a prompt with it;
// ignore: nothing happens.
enum class PointerDisposition { report, local, ignore };

// `candidate`: mouse reporting is allowed and Shift does not bypass it. In X10 mode only the
// press of a button is reported (no modifiers, no release), as X10 programs expect.
PointerDisposition pointerDisposition(PointerEventKind kind, MouseMode mode, bool candidate);

// Lines per auto-scroll tick for a pointer `distance` rows outside the view.
int calcScrollingVelocity(int distance, int terminalRows);

// Counts presses of one button: a press within the double-click interval of the previous
// one and no farther than the drag distance from it continues the series.
class ClickCounter {
public:
    int press(std::uint64_t timeMs, int x, int y, int intervalMs, int distance);
    void reset() { count = 0; }

private:
    int count = 0;
    std::uint64_t lastTimeMs = 0;
    int lastX = 0;
    int lastY = 0;
};

// The lines one wheel event scrolls: positive is up (towards older lines). Precise deltas
// (a touchpad) add up in `accumulator` until they make a whole cell; a wheel notch scrolls
// at least one line.
struct WheelLines {
    int lines = 0;
    double accumulator = 0;
};
WheelLines wheelLines(double delta, double sensitivity, bool precise, double accumulator, double cellHeight);

} // namespace corvantix
