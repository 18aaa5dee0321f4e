#include "view/MetalHooks.h"
#include "view/TerminalViewTypes.h"
#include "view/WindowReports.h"

#include <gtest/gtest.h>

#include <limits>
#include <string>

namespace corvantix {
namespace {

using Case = WindowManipulationCommand::Case;

std::optional<std::string> reply(Case kind, std::optional<CellDimension> cell, double scale, int cols, int rows)
{
    const auto bytes = windowCommandReply(WindowManipulationCommand::make(kind), cell, scale, cols, rows, false);
    if (!bytes)
        return std::nullopt;
    return std::string(bytes->begin(), bytes->end());
}

// The seven- and eight-bit forms at scale two are checked through the view.
TEST(WindowReports, TextAreaRoundsCellSizeTruncatesAndBadSizesGetNoReply)
{
    const CellDimension cell{7.5, 16.75};
    // 7.5 x 1.5 x 3 = 33.75 -> 34; 16.75 x 1.5 x 1 = 25.125 -> 25.
    EXPECT_EQ(reply(Case::reportTextAreaPixelDimension, cell, 1.5, 3, 1), "\x1b[4;25;34t");
    // Halves round away from zero: 0.5 x 1 x 5 = 2.5 -> 3.
    EXPECT_EQ(reply(Case::reportTextAreaPixelDimension, CellDimension{0.5, 2.5}, 1.0, 5, 1), "\x1b[4;3;3t");
    EXPECT_EQ(reply(Case::reportCellSizeInPixels, cell, 1.5, 3, 1), "\x1b[6;25;11t");

    EXPECT_EQ(reply(Case::reportTextAreaPixelDimension, std::nullopt, 2.0, 80, 24), std::nullopt);
    EXPECT_EQ(reply(Case::reportCellSizeInPixels, std::nullopt, 2.0, 80, 24), std::nullopt);
    EXPECT_EQ(reply(Case::reportTextAreaCharacters, CellDimension{8, 17}, 2.0, 80, 24), std::nullopt);
    EXPECT_EQ(reply(Case::reportTextAreaPixelDimension, CellDimension{8, 17}, std::numeric_limits<double>::infinity(),
                    80, 24),
              std::nullopt);
    EXPECT_EQ(reply(Case::reportCellSizeInPixels, CellDimension{8, 1e300}, 1e300, 80, 24), std::nullopt);
}

TEST(MetalHooks, LiveResizeThrottleIsOffOnlyForZeroOrFalse)
{
    for (const char* on : {static_cast<const char*>(nullptr), "", "1", "False"})
        EXPECT_TRUE(liveResizeThrottleEnabled(on)) << (on ? on : "unset");
    for (const char* off : {"0", "false", "FALSE"})
        EXPECT_FALSE(liveResizeThrottleEnabled(off)) << off;
}

} // namespace
} // namespace corvantix
