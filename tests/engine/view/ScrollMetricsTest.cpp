#include "view/DisplayGeometry.h"
#include "view/ScrollMetrics.h"

#include <gtest/gtest.h>

#include <limits>

namespace corvantix {
namespace {

TEST(ScrollMetrics, PositionThumbAndScrollability)
{
    struct Case {
        ScrollState state;
        double position;
        double thumb;
        bool canScroll;
    };
    const Case cases[] = {
        {{0, 125, 25, false, true}, 0.0, 0.2, true},
        {{50, 125, 25, false, true}, 0.5, 0.2, true},
        {{100, 125, 25, false, true}, 1.0, 0.2, true},
        {{120, 125, 25, false, true}, 1.0, 0.2, true},
        // No history yet: nothing to scroll, the thumb is the whole bar.
        {{0, 25, 25, false, true}, 0.0, 1.0, false},
        // The thumb never gets thinner than a hundredth.
        {{0, 100000, 24, false, true}, 0.0, 0.01, true},
        // A buffer without history never scrolls.
        {{0, 125, 25, false, false}, 0.0, 0.2, false},
        // The alternate screen: everything 0.
        {{50, 125, 25, true, false}, 0.0, 0.0, false},
    };
    for (const Case& c : cases) {
        EXPECT_DOUBLE_EQ(scrollPosition(c.state), c.position) << c.state.yDisp << "/" << c.state.lines;
        EXPECT_DOUBLE_EQ(scrollThumbsize(c.state), c.thumb) << c.state.yDisp << "/" << c.state.lines;
        EXPECT_EQ(canScroll(c.state), c.canScroll) << c.state.yDisp << "/" << c.state.lines;
    }
}

TEST(ScrollMetrics, ScrollRowsClampToTheHistory)
{
    EXPECT_EQ(clampScrollRow(-5, 125, 25), 0);
    EXPECT_EQ(clampScrollRow(40, 125, 25), 40);
    EXPECT_EQ(clampScrollRow(500, 125, 25), 100);
    EXPECT_EQ(clampScrollRow(3, 10, 25), 0);
    EXPECT_EQ(maximumScrollRow(10, 25), 0);

    EXPECT_EQ(scrollRowForKnobValue(0.5, 125, 25), 50);
    EXPECT_EQ(scrollRowForKnobValue(0.999, 125, 25), 99);
    EXPECT_EQ(scrollRowForKnobValue(1.5, 125, 25), 100);
    EXPECT_EQ(scrollRowForKnobValue(-0.5, 125, 25), 0);
    EXPECT_EQ(scrollRowForKnobValue(std::numeric_limits<double>::quiet_NaN(), 125, 25), 0);
    EXPECT_EQ(scrollRowForKnobValue(std::numeric_limits<double>::infinity(), 125, 25), 0);
}

TEST(DisplayGeometry, DirtyBandReachesOneRowBelowOrTheBottom)
{
    // 25 rows of 17 points in a 430-point frame (5 points spare at the bottom).
    const double h = 17;
    const double W = 640;
    const double H = 430;
    // Row 3 alone: its band and the row below it.
    EXPECT_EQ(dirtyRowsRect(3, 3, 25, h, W, H, false), (RectValue{0, 51, W, 34}));
    // Rows 0-1: from the top to the bottom of row 2.
    EXPECT_EQ(dirtyRowsRect(0, 1, 25, h, W, H, false), (RectValue{0, 0, W, 51}));
    // The bottom row reaches the frame's bottom edge.
    EXPECT_EQ(dirtyRowsRect(24, 24, 25, h, W, H, false), (RectValue{0, 408, W, 22}));
    // The whole screen (the end may be one past the last row).
    EXPECT_EQ(dirtyRowsRect(0, 25, 25, h, W, H, false), (RectValue{0, 0, W, H}));
    // The extra row stops at the frame.
    EXPECT_EQ(dirtyRowsRect(23, 23, 25, h, W, 405, false), (RectValue{0, 391, W, 14}));
    // Scrolled back: everything.
    EXPECT_EQ(dirtyRowsRect(3, 3, 25, h, W, H, true), (RectValue{0, 0, W, H}));
}

TEST(DisplayGeometry, CaretTopCountsFromTheFirstVisibleLine)
{
    EXPECT_DOUBLE_EQ(caretTop(10, 0, 17), 170);
    EXPECT_DOUBLE_EQ(caretTop(110, 100, 17), 170);
}

} // namespace
} // namespace corvantix
