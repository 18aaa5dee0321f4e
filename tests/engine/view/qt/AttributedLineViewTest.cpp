// The row the view hands to the GPU renderer is the painter's row: the same bidi order under
// each host policy and the same selection fill.
#include <gtest/gtest.h>

#include "drawing/TerminalBidi.h"
#include "ViewTestSupport.h"

#include <optional>

namespace corvantix {
namespace {

// The visual column the text unit `unit` is drawn in, and its run's style; none when the
// row does not hold it.
std::optional<std::pair<int, RunStyle>> placeOf(const AttributedRow& row, char16_t unit)
{
    for (const ViewLineSegment& segment : row.segments) {
        for (std::size_t i = 0; i < segment.text.size(); ++i) {
            if (segment.text[i] != unit)
                continue;
            const int index = static_cast<int>(i);
            for (const ViewLineSegment::Run& run : segment.runs) {
                if (index >= run.start && index < run.start + run.length)
                    return std::pair{segment.column + segment.cellOrdinal(index) * segment.columnWidth, run.style};
            }
        }
    }
    return std::nullopt;
}

TEST(AttributedLineView, RightToLeftRowsAreInVisualOrderUnlessThePolicyIsLegacy)
{
    // U+05D0 is stored in column 0 of a ten-column row.
    for (const auto& [policy, alefColumn] :
         {std::pair{BidiHostPolicy::respectTerminal, 9}, std::pair{BidiHostPolicy::legacyLeftToRight, 0}}) {
        testing::ViewFixture fixture{QRect()};
        TerminalView& view = fixture.view;
        view.cellDimension = CellDimension{8, 17};
        view.resizeGrid(10, 4);
        TerminalBidi::clearCaches();
        view.setBidiHostPolicy(policy);
        fixture.feed("\u05D0\u05D1\u05D2");
        const auto alef = placeOf(view.buildAttributedLine(0, *view.terminal->buffer().lines()[0]), u'\u05D0');
        ASSERT_TRUE(alef.has_value());
        EXPECT_EQ(alef->first, alefColumn);
    }
}

TEST(AttributedLineView, SelectedCellsCarryTheSelectionFill)
{
    testing::ViewFixture fixture;
    TerminalView& view = fixture.view;
    fixture.feed("abc");
    const BufferLine& line = *view.terminal->buffer().lines()[0];
    const auto before = placeOf(view.buildAttributedLine(0, line), u'b');
    ASSERT_TRUE(before.has_value());
    EXPECT_FALSE(before->second.selectionBackgroundColor.has_value());
    view.selectAll();
    const auto after = placeOf(view.buildAttributedLine(0, line), u'b');
    ASSERT_TRUE(after.has_value());
    EXPECT_TRUE(after->second.selectionBackgroundColor.has_value());
    EXPECT_EQ(after->first, 1);
}

} // namespace
} // namespace corvantix
