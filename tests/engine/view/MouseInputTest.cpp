// The pointer decisions that need no widget: report or local handling per mode, and the
// click counter. (The wheel and auto-scroll arithmetic is checked through the view.)
#include "view/MouseInput.h"

#include <gtest/gtest.h>

#include <ostream>

namespace corvantix {
namespace {

using Kind = PointerEventKind;
using Disposition = PointerDisposition;

struct DispositionCase {
    const char* name;
    Kind kind;
    MouseMode mode;
    bool candidate;
    Disposition expected;
};

void PrintTo(const DispositionCase& c, std::ostream* out)
{
    *out << c.name;
}

class PointerDispositionTable : public ::testing::TestWithParam<DispositionCase> {};

TEST_P(PointerDispositionTable, DecidesBetweenReportAndLocalHandling)
{
    const DispositionCase& c = GetParam();
    EXPECT_EQ(pointerDisposition(c.kind, c.mode, c.candidate), c.expected);
}

INSTANTIATE_TEST_SUITE_P(
    Modes, PointerDispositionTable,
    ::testing::Values(
        DispositionCase{"press without a mode", Kind::press, MouseMode::off, true, Disposition::local},
        DispositionCase{"press in vt200", Kind::press, MouseMode::vt200, true, Disposition::report},
        DispositionCase{"press in vt200 bypassed by Shift", Kind::press, MouseMode::vt200, false, Disposition::local},
        DispositionCase{"press in X10 is reported", Kind::press, MouseMode::x10, true, Disposition::report},
        DispositionCase{"release in X10 is not reported", Kind::release, MouseMode::x10, true, Disposition::local},
        DispositionCase{"release in any-event", Kind::release, MouseMode::anyEvent, true, Disposition::report},
        DispositionCase{"drag in X10 does nothing", Kind::drag, MouseMode::x10, true, Disposition::ignore},
        DispositionCase{"drag in vt200 does nothing", Kind::drag, MouseMode::vt200, true, Disposition::ignore},
        DispositionCase{"drag in button-event", Kind::drag, MouseMode::buttonEventTracking, true, Disposition::report},
        DispositionCase{"drag bypassed by Shift selects", Kind::drag, MouseMode::anyEvent, false, Disposition::local},
        DispositionCase{"wheel in X10", Kind::wheel, MouseMode::x10, true, Disposition::report},
        DispositionCase{"wheel without a mode", Kind::wheel, MouseMode::off, true, Disposition::local},
        DispositionCase{"move in any-event, even bypassed", Kind::move, MouseMode::anyEvent, false, Disposition::report},
        DispositionCase{"move in button-event", Kind::move, MouseMode::buttonEventTracking, true, Disposition::ignore}));

TEST(MouseInput, ClickCounterCountsQuickNearbyPresses)
{
    ClickCounter counter;
    EXPECT_EQ(counter.press(1000, 10, 10, 400, 5), 1);
    EXPECT_EQ(counter.press(1200, 12, 11, 400, 5), 2);
    EXPECT_EQ(counter.press(1500, 12, 11, 400, 5), 3);
    EXPECT_EQ(counter.press(1600, 30, 11, 400, 5), 1) << "too far away";
    EXPECT_EQ(counter.press(2100, 30, 11, 400, 5), 1) << "too late";
    EXPECT_EQ(counter.press(2000, 30, 11, 400, 5), 1) << "a clock that went back starts anew";
}

} // namespace
} // namespace corvantix
