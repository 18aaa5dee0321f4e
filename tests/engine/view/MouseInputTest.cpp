// The pointer decisions that need no widget: report or local handling per mode, and the
// click counter. (The wheel and auto-scroll arithmetic is checked through the view.)
#include "view/MouseInput.h"

#include <gtest/gtest.h>

#include <string>

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

void PrintTo(const DispositionCase& c, std::ostream* out) { *out << c.name; }

class PointerDispositionTable : public ::testing::TestWithParam<DispositionCase> {};

TEST_P(PointerDispositionTable, DecidesBetweenReportAndLocalHandling)
{
    const DispositionCase& c = GetParam();
    EXPECT_EQ(pointerDisposition(c.kind, c.mode, c.candidate), c.expected);
}

INSTANTIATE_TEST_SUITE_P(
    Modes, PointerDispositionTable,
    ::testing::Values(
        DispositionCase{"PressWithoutAMode", Kind::press, MouseMode::off, true, Disposition::local},
        DispositionCase{"PressInVt200", Kind::press, MouseMode::vt200, true, Disposition::report},
        DispositionCase{"PressInVt200BypassedByShift", Kind::press, MouseMode::vt200, false, Disposition::local},
        DispositionCase{"PressInX10IsReported", Kind::press, MouseMode::x10, true, Disposition::report},
        DispositionCase{"ReleaseInX10IsNotReported", Kind::release, MouseMode::x10, true, Disposition::local},
        DispositionCase{"ReleaseInAnyEvent", Kind::release, MouseMode::anyEvent, true, Disposition::report},
        DispositionCase{"DragInX10DoesNothing", Kind::drag, MouseMode::x10, true, Disposition::ignore},
        DispositionCase{"DragInVt200DoesNothing", Kind::drag, MouseMode::vt200, true, Disposition::ignore},
        DispositionCase{"DragInButtonEvent", Kind::drag, MouseMode::buttonEventTracking, true, Disposition::report},
        DispositionCase{"DragBypassedByShiftSelects", Kind::drag, MouseMode::anyEvent, false, Disposition::local},
        DispositionCase{"WheelInX10", Kind::wheel, MouseMode::x10, true, Disposition::report},
        DispositionCase{"WheelWithoutAMode", Kind::wheel, MouseMode::off, true, Disposition::local},
        DispositionCase{"MoveInAnyEventEvenBypassed", Kind::move, MouseMode::anyEvent, false, Disposition::report},
        DispositionCase{"MoveInButtonEvent", Kind::move, MouseMode::buttonEventTracking, true, Disposition::ignore}),
    [](const ::testing::TestParamInfo<DispositionCase>& info) { return std::string(info.param.name); });

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
