#include "view/MetalHooks.h"
#include "view/TerminalViewTypes.h"
#include "view/WindowReports.h"

#include <gtest/gtest.h>

#include <limits>
#include <string>

namespace corvantix {
namespace {

using Case = WindowManipulationCommand::Case;

std::optional<std::string> reply(Case kind, std::optional<CellDimension> cell, double scale, int cols, int rows,
                                  bool eightBit)
{
    const auto bytes = windowCommandReply(WindowManipulationCommand::make(kind), cell, scale, cols, rows, eightBit);
    if (!bytes)
        return std::nullopt;
    return std::string(bytes->begin(), bytes->end());
}

TEST(WindowReports, PixelSizesInSevenAndEightBitForms)
{
    const CellDimension cell{8, 17};
    EXPECT_EQ(reply(Case::reportTextAreaPixelDimension, cell, 2.0, 80, 24, false), "\x1b[4;816;1280t");
    EXPECT_EQ(reply(Case::reportTextAreaPixelDimension, cell, 2.0, 80, 24, true), "\x9b" "4;816;1280t");
    EXPECT_EQ(reply(Case::reportCellSizeInPixels, cell, 2.0, 80, 24, false), "\x1b[6;34;16t");
    EXPECT_EQ(reply(Case::reportCellSizeInPixels, cell, 2.0, 80, 24, true), "\x9b" "6;34;16t");
}

TEST(WindowReports, TextAreaRoundsAndCellSizeTruncates)
{
    const CellDimension cell{7.5, 16.75};
    // 7.5 x 1.5 x 3 = 33.75 -> 34; 16.75 x 1.5 x 1 = 25.125 -> 25.
    EXPECT_EQ(reply(Case::reportTextAreaPixelDimension, cell, 1.5, 3, 1, false), "\x1b[4;25;34t");
    // Halves round away from zero: 0.5 x 1 x 5 = 2.5 -> 3.
    EXPECT_EQ(reply(Case::reportTextAreaPixelDimension, CellDimension{0.5, 2.5}, 1.0, 5, 1, false), "\x1b[4;3;3t");
    // 7.5 x 1.5 = 11.25 -> 11; 16.75 x 1.5 = 25.125 -> 25.
    EXPECT_EQ(reply(Case::reportCellSizeInPixels, cell, 1.5, 3, 1, false), "\x1b[6;25;11t");
}

TEST(WindowReports, NoReplyWithoutACellSizeOrForOtherCommands)
{
    EXPECT_EQ(reply(Case::reportTextAreaPixelDimension, std::nullopt, 2.0, 80, 24, false), std::nullopt);
    EXPECT_EQ(reply(Case::reportCellSizeInPixels, std::nullopt, 2.0, 80, 24, false), std::nullopt);
    EXPECT_EQ(reply(Case::reportTextAreaCharacters, CellDimension{8, 17}, 2.0, 80, 24, false), std::nullopt);
    EXPECT_EQ(reply(Case::resizeWindowTo, CellDimension{8, 17}, 2.0, 80, 24, false), std::nullopt);
    EXPECT_EQ(reply(Case::reportTextAreaPixelDimension, CellDimension{8, 17},
                    std::numeric_limits<double>::infinity(), 80, 24, false),
              std::nullopt);
    EXPECT_EQ(reply(Case::reportCellSizeInPixels, CellDimension{8, 1e300}, 1e300, 80, 24, false), std::nullopt);
}

TEST(BellStyles, OrderRawValuesAndDisplayNames)
{
    ASSERT_EQ(allBellStyles.size(), 4u);
    const char* raw[] = {"none", "sound", "visual", "soundAndVisual"};
    const char* display[] = {"None", "Sound", "Visual", "Sound and Visual"};
    for (std::size_t i = 0; i < allBellStyles.size(); ++i) {
        EXPECT_EQ(rawValue(allBellStyles[i]), raw[i]);
        EXPECT_EQ(displayName(allBellStyles[i]), display[i]);
        EXPECT_EQ(bellStyleFromRawValue(raw[i]), allBellStyles[i]);
    }
    EXPECT_EQ(bellStyleFromRawValue("Sound"), std::nullopt);
    EXPECT_EQ(bellStyleFromRawValue(""), std::nullopt);
}

TEST(MetalHooks, RecoveryLogLine)
{
    MetalRecoveryEvent event;
    event.reason = MetalRecoveryEvent::missingDrawable;
    event.duration = 0.01234;
    event.frameStatus = MetalRecoveryEvent::committed;
    EXPECT_EQ(metalRecoveryLogLine(event, false),
              "Corvantix Metal recovery reason=missingDrawable duration=0.012 status=committed error=none "
              "action=replace-metal");

    event.reason = 9; // past the known reasons
    event.frameStatus = 6;
    event.errorText = "device lost";
    event.duration = 1.5;
    EXPECT_EQ(metalRecoveryLogLine(event, true),
              "Corvantix Metal recovery reason=missingRenderEncoder duration=1.500 status=none error=device lost "
              "action=core-graphics");
}

TEST(MetalHooks, LiveResizeThrottleSwitch)
{
    EXPECT_TRUE(liveResizeThrottleEnabled(nullptr));
    EXPECT_TRUE(liveResizeThrottleEnabled(""));
    EXPECT_TRUE(liveResizeThrottleEnabled("1"));
    EXPECT_TRUE(liveResizeThrottleEnabled("False"));
    EXPECT_FALSE(liveResizeThrottleEnabled("0"));
    EXPECT_FALSE(liveResizeThrottleEnabled("false"));
    EXPECT_FALSE(liveResizeThrottleEnabled("FALSE"));
}

} // namespace
} // namespace corvantix
