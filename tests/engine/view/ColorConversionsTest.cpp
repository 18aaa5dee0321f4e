#include "view/ColorConversions.h"

#include <gtest/gtest.h>

#include <limits>

namespace corvantix {
namespace {

TEST(ColorConversions, ComponentsClampTruncateAndRoundTrip)
{
    EXPECT_EQ(terminalColorFromComponents({1.2, -0.5, 0.5}), Color(65535, 0, 32767)); // 32767.5 truncates
    EXPECT_EQ(terminalColorFromComponents({std::numeric_limits<double>::quiet_NaN(), 1.0, 0.25}),
              Color(0, 65535, 16383));
    for (int value : {0, 1, 257, 35389, 65534, 65535}) {
        const Color color(static_cast<std::uint16_t>(value), 0, 0);
        EXPECT_EQ(terminalColorFromComponents(componentsFromTerminalColor(color)), color) << value;
    }
    // The blend is the mean, with the receiver's alpha.
    EXPECT_EQ(blendComponents({1, 1, 1, 0.25}, {0, 0, 0, 1}), (SrgbComponents{0.5, 0.5, 0.5, 0.25}));
}

TEST(ColorConversions, PaletteIndexForBoldAndBrightColors)
{
    struct Case {
        int index;
        bool bold;
        bool bright;
        int expected;
    };
    const Case cases[] = {
        // Bright colours on: bold 0-6 take their bright form; 7 and everything else stays.
        {0, true, true, 8}, {6, true, true, 14}, {7, true, true, 7}, {1, false, true, 1}, {196, true, true, 196},
        // Off: 8-15 fold onto 0-7, the cube and greys keep their index.
        {9, false, false, 1}, {15, true, false, 7}, {16, false, false, 16}, {255, true, false, 255},
        // Out of range indices are brought into the palette.
        {300, false, true, 255}, {-4, false, false, 0},
    };
    for (const Case& c : cases)
        EXPECT_EQ(mappedPaletteIndex(c.index, c.bold, c.bright), c.expected)
            << c.index << (c.bold ? " bold" : "") << (c.bright ? " bright" : "");
}

} // namespace
} // namespace corvantix
