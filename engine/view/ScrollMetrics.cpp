#include "view/ScrollMetrics.h"

#include <algorithm>
#include <cmath>

namespace corvantix {

double scrollPosition(const ScrollState& state)
{
    if (state.isAlternate || state.yDisp < 1)
        return 0;
    const int span = state.lines - state.rows;
    if (state.yDisp >= span)
        return 1.0;
    return static_cast<double>(state.yDisp) / span;
}

double scrollThumbsize(const ScrollState& state)
{
    if (state.isAlternate)
        return 0;
    if (state.lines <= 0)
        return 1.0;
    return std::max(static_cast<double>(state.rows) / state.lines, 0.01);
}

bool canScroll(const ScrollState& state)
{
    return !state.isAlternate && state.hasScrollback && state.rows < state.lines;
}

int maximumScrollRow(int lines, int rows)
{
    return std::max(lines - rows, 0);
}

int clampScrollRow(int row, int lines, int rows)
{
    return std::clamp(row, 0, maximumScrollRow(lines, rows));
}

int scrollRowForKnobValue(double value, int lines, int rows)
{
    const int maximum = maximumScrollRow(lines, rows);
    const double scaled = value * maximum;
    if (!std::isfinite(scaled))
        return 0;
    return std::min(maximum, std::max(static_cast<int>(std::clamp(scaled, -1.0, static_cast<double>(maximum))), 0));
}

} // namespace corvantix
