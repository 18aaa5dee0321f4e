#include "view/MouseInput.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>

namespace corvantix {

PointerDisposition pointerDisposition(PointerEventKind kind, MouseMode mode, bool candidate)
{
    const bool tracking = mode == MouseMode::vt200 || mode == MouseMode::buttonEventTracking
                          || mode == MouseMode::anyEvent;
    switch (kind) {
    case PointerEventKind::move:
        return mode == MouseMode::anyEvent ? PointerDisposition::report : PointerDisposition::ignore;
    case PointerEventKind::press:
        if (candidate && (tracking || mode == MouseMode::x10))
            return PointerDisposition::report;
        return PointerDisposition::local;
    case PointerEventKind::release:
        return candidate && tracking ? PointerDisposition::report : PointerDisposition::local;
    case PointerEventKind::drag:
        if (!candidate || mode == MouseMode::off)
            return PointerDisposition::local;
        if (mode == MouseMode::buttonEventTracking || mode == MouseMode::anyEvent)
            return PointerDisposition::report;
        return PointerDisposition::ignore;
    case PointerEventKind::wheel:
        return candidate && mode != MouseMode::off ? PointerDisposition::report : PointerDisposition::local;
    }
    return PointerDisposition::local;
}

int calcScrollingVelocity(int distance, int terminalRows)
{
    if (distance <= 1)
        return 1;
    if (distance <= 5)
        return 3;
    if (distance <= 9)
        return 10;
    return std::max(terminalRows, 20);
}

int ClickCounter::press(std::uint64_t timeMs, int x, int y, int intervalMs, int distance)
{
    const bool inTime = count > 0 && timeMs >= lastTimeMs && timeMs - lastTimeMs <= static_cast<std::uint64_t>(intervalMs);
    const bool near = std::abs(x - lastX) <= distance && std::abs(y - lastY) <= distance;
    count = inTime && near ? count + 1 : 1;
    lastTimeMs = timeMs;
    lastX = x;
    lastY = y;
    return count;
}

WheelLines wheelLines(double delta, double sensitivity, bool precise, double accumulator, double cellHeight)
{
    const double scaled = delta * sensitivity;
    if (precise) {
        const double total = accumulator + scaled;
        const double lines = std::trunc(total / cellHeight);
        // Far beyond any screen: the whole amount is one (clamped) scroll, nothing carried.
        if (!(std::fabs(lines) < 1e6))
            return {total > 0 ? 1'000'000 : -1'000'000, 0};
        return {static_cast<int>(lines), total - lines * cellHeight};
    }
    double lines = std::round(scaled);
    if (!(std::fabs(lines) < 1e6))
        lines = scaled > 0 ? 1e6 : -1e6;
    if (lines == 0)
        lines = delta > 0 ? 1 : -1;
    return {static_cast<int>(lines), 0};
}

} // namespace corvantix
