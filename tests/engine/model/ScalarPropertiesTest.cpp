// The print path's table of scalar properties against the rules it caches.
#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

#include "model/ScalarProperties.h"

#include <unicode/uchar.h>

namespace corvantix {
namespace {

// The table must answer exactly what the rules it caches answer, at block edges and for
// the ranges the print path depends on (marks, joiners, emoji, Hangul, wide ideographs).
TEST(ScalarPropertiesTable, AgreesWithTheRulesAcrossPlanesZeroAndOne)
{
    for (char32_t scalar = 0; scalar < 0x20000; scalar += (scalar < 0x3400 ? 1 : 7)) {
        const ScalarProperties cached = scalarProperties(scalar);
        const ScalarProperties direct = scalarprops::compute(scalar);
        ASSERT_TRUE(cached.width == direct.width && cached.combining == direct.combining
                    && cached.extendedPictographic == direct.extendedPictographic && cached.graphemeBreak == direct.graphemeBreak
                    && cached.joinsPrevious == direct.joinsPrevious)
            << std::hex << static_cast<std::uint32_t>(scalar);
    }
    struct Case { char32_t scalar; int width; bool combining; bool pictographic; int graphemeBreak; bool joinsPrevious; };
    const Case cases[] = {
        {U'a', 1, false, false, U_GCB_OTHER, false},
        {0x0301, 0, true, false, U_GCB_EXTEND, true},       // combining acute
        {0x200D, 0, false, false, U_GCB_ZWJ, true},         // zero-width joiner
        {0x4E2D, 2, false, false, U_GCB_OTHER, false},       // CJK ideograph
        {0xAC00, 2, false, false, U_GCB_LV, false},          // Hangul syllable
        {0x1F44D, 2, false, true, U_GCB_OTHER, false},       // thumbs up
        {0x1F3FB, 0, false, false, U_GCB_EXTEND, true},     // skin tone
        {0x1F1EF, 2, false, false, U_GCB_REGIONAL_INDICATOR, false},
        {0x2603, 1, false, true, U_GCB_OTHER, false},        // snowman, text by default
        {0x30000, 2, false, false, U_GCB_OTHER, false},      // plane 3, outside the table
        {0xFE0F, 0, false, false, U_GCB_EXTEND, true},       // emoji presentation selector
        {0x0300, 0, true, false, U_GCB_EXTEND, true},        // the first combining mark that joins
        {0x0591, 0, true, false, U_GCB_EXTEND, true},        // Hebrew accent
    };
    for (const Case& c : cases) {
        const ScalarProperties p = scalarProperties(c.scalar);
        EXPECT_EQ(std::vector<int>({p.width, p.combining, p.extendedPictographic, p.graphemeBreak, p.joinsPrevious}),
                  std::vector<int>({c.width, c.combining, c.pictographic, c.graphemeBreak, c.joinsPrevious}))
            << std::hex << static_cast<std::uint32_t>(c.scalar);
    }
}

// Whether a scalar may join anything before it decides if the print path looks at the cell
// before the cursor at all: a scalar wrongly marked as never joining would break clusters.
TEST(ScalarPropertiesTable, MayJoinMarksEveryScalarThatCanJoin)
{
    for (char32_t scalar = 0; scalar < 0x20000; scalar += (scalar < 0x3400 ? 1 : 7))
        ASSERT_EQ(scalarProperties(scalar).mayJoin, scalarprops::compute(scalar).mayJoin)
            << std::hex << static_cast<std::uint32_t>(scalar);
    struct Case { char32_t scalar; bool mayJoin; };
    const Case cases[] = {
        {U'a', false},   {0x4E2D, false}, {0xAC00, false}, {0x05D0, false}, {0x0627, false}, {0x2500, false},
        {0x0301, true},  // combining mark
        {0x200D, true},  // joiner
        {0xFE0F, true},  // presentation selector
        {0x1F3FB, true}, // skin tone
        {0x1F1E6, true}, // regional indicator
        {0x1F44D, true}, // pictograph after a joiner
        {0x2600, true},  // a pictograph of plane 0
        {0x0903, true},  // a spacing mark
        {0xFF9E, true},  // an extending sound mark of width 1
    };
    for (const Case& c : cases)
        EXPECT_EQ(scalarProperties(c.scalar).mayJoin, c.mayJoin) << std::hex << static_cast<std::uint32_t>(c.scalar);
}

} // namespace
} // namespace corvantix
