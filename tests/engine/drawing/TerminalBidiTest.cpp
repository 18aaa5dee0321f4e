#include "drawing/TerminalBidi.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "engine/emulator/TerminalTestSupport.h"
#include "model/Buffer.h"

namespace corvantix {
namespace {

BidiPresentationState implicitState(BidiDirection fallback, bool autodetect)
{
    BidiPresentationState state;
    state.autodetectDirection = autodetect;
    state.fallbackDirection = fallback;
    return state;
}

class TerminalBidiTest : public ::testing::Test {
protected:
    void SetUp() override { TerminalBidi::clearCaches(); }

    // Screen rows of `text` (fed as UTF-8), each line given `state`.
    std::unique_ptr<Terminal> terminalWith(int cols, const std::string& text, BidiPresentationState state,
                                           int rows = 3)
    {
        auto terminal = makeTerminal(cols, rows);
        feed(*terminal, text);
        for (int r = 0; r < terminal->buffer().lines().count(); ++r)
            terminal->buffer().lines()[r]->setBidiState(state);
        return terminal;
    }

    static std::vector<int> visualOrder(const BidiRowLayout& layout)
    {
        std::vector<int> order;
        for (const BidiCell& cell : layout.visualCells)
            order.push_back(cell.logicalCol);
        return order;
    }
};

TEST_F(TerminalBidiTest, LatinOnlyLeftToRightParagraphHasNoRowLayouts)
{
    auto terminal = terminalWith(6, "abc", implicitState(BidiDirection::leftToRight, false));
    const auto result = TerminalBidi::paragraphLayout(0, terminal->buffer(), 6, *terminal);
    ASSERT_NE(result, nullptr);
    EXPECT_TRUE(result->rows.empty());
    EXPECT_EQ(result->baseDirection, BidiDirection::leftToRight);
}

TEST_F(TerminalBidiTest, LatinOnlyWithRightToLeftFallbackIsRightAligned)
{
    auto terminal = terminalWith(6, "abc", implicitState(BidiDirection::rightToLeft, false));
    const auto result = TerminalBidi::paragraphLayout(0, terminal->buffer(), 6, *terminal);
    ASSERT_NE(result, nullptr);
    const BidiRowLayout* row = result->row(0);
    ASSERT_NE(row, nullptr);
    // The blank tail columns first, right to left, then the Latin text in reading order.
    EXPECT_EQ(visualOrder(*row), (std::vector<int>{5, 4, 3, 0, 1, 2}));
    EXPECT_EQ(row->visualToLogicalCol, (std::vector<int>{5, 4, 3, 0, 1, 2}));
    EXPECT_EQ(row->logicalToVisualCol, (std::vector<int>{3, 4, 5, 2, 1, 0}));
    EXPECT_EQ(row->baseDirection, BidiDirection::rightToLeft);
}

TEST_F(TerminalBidiTest, AutodetectWithLatinFirstStaysLeftToRight)
{
    // "ab " then alef, bet (Hebrew).
    auto terminal = terminalWith(6, "ab \u05D0\u05D1", implicitState(BidiDirection::rightToLeft, true));
    const auto result = TerminalBidi::paragraphLayout(0, terminal->buffer(), 6, *terminal);
    ASSERT_NE(result, nullptr);
    EXPECT_EQ(result->baseDirection, BidiDirection::leftToRight);
    ASSERT_NE(result->row(0), nullptr);
    EXPECT_EQ(visualOrder(*result->row(0)), (std::vector<int>{0, 1, 2, 4, 3, 5}));
}

TEST_F(TerminalBidiTest, AutodetectWithHebrewFirstTurnsRightToLeft)
{
    auto terminal = terminalWith(6, "\u05D0\u05D1 ab", implicitState(BidiDirection::leftToRight, true));
    const auto result = TerminalBidi::paragraphLayout(0, terminal->buffer(), 6, *terminal);
    ASSERT_NE(result, nullptr);
    EXPECT_EQ(result->baseDirection, BidiDirection::rightToLeft);
    EXPECT_EQ(visualOrder(*result->row(0)), (std::vector<int>{5, 3, 4, 2, 1, 0}));
}

TEST_F(TerminalBidiTest, ParagraphLongerThanTheLimitGetsNoLayout)
{
    auto terminal = makeTerminal(4, 4);
    TerminalOptions options = terminal->options();
    options.maximumBidiParagraphRows = 2;
    terminal->setOptions(options);
    feed(*terminal, "\u05D0\u05D1\u05D2\u05D3\u05D0\u05D1\u05D2\u05D3\u05D0"); // wraps over three rows
    const Buffer& buffer = terminal->buffer();
    ASSERT_TRUE(buffer.lines()[1]->isWrapped() && buffer.lines()[2]->isWrapped());
    for (int row : {0, 1, 2}) {
        EXPECT_EQ(TerminalBidi::paragraphLayout(row, buffer, 4, *terminal), nullptr) << row;
        EXPECT_EQ(TerminalBidi::paragraphRevision(row, buffer, 2), 0u) << row;
    }
    // Within the limit the three rows are one paragraph with a layout for each.
    options.maximumBidiParagraphRows = 3;
    terminal->setOptions(options);
    const auto result = TerminalBidi::paragraphLayout(1, buffer, 4, *terminal);
    ASSERT_NE(result, nullptr);
    EXPECT_EQ(result->rows.size(), 3u);
    EXPECT_NE(TerminalBidi::paragraphRevision(1, buffer, 3), 0u);
    EXPECT_EQ(TerminalBidi::expandToParagraphs(1, 1, buffer, 3), std::make_pair(0, 2));
    EXPECT_EQ(TerminalBidi::expandToParagraphs(3, 3, buffer, 3), std::make_pair(3, 3));
}

struct ExplicitCase {
    const char* name;
    bool boxMirroring;
    std::u32string shown; // visual text, blanks included
};
void PrintTo(const ExplicitCase& c, std::ostream* out) { *out << c.name; }

class ExplicitRowTest : public TerminalBidiTest, public ::testing::WithParamInterface<ExplicitCase> {};

TEST_P(ExplicitRowTest, ReversesAndMirrors)
{
    BidiPresentationState state;
    state.supportMode = BidiSupportMode::explicit_;
    state.fallbackDirection = BidiDirection::rightToLeft;
    state.boxMirroring = GetParam().boxMirroring;
    auto terminal = terminalWith(5, "(a\u250C", state);
    const Buffer& buffer = terminal->buffer();
    // An explicit row is never reordered by paragraph, only mirrored whole.
    EXPECT_EQ(TerminalBidi::paragraphLayout(0, buffer, 5, *terminal), nullptr);
    const auto layout = TerminalBidi::rowLayout(0, buffer, 5, *terminal);
    ASSERT_TRUE(layout.has_value());
    std::u32string shown;
    for (const BidiCell& cell : layout->visualCells)
        shown += cell.display ? *cell.display : std::u32string(1, std::u32string_view(U"(a\u250C  ")[cell.logicalCol]);
    EXPECT_EQ(shown, GetParam().shown);
    EXPECT_EQ(layout->visualToLogicalCol, (std::vector<int>{4, 3, 2, 1, 0}));
    // Callers get the same mirror, and the row reads right to left without any Hebrew.
    const RowBidiLayout forRow = TerminalBidi::layoutForRow(0, buffer, 5, *terminal);
    ASSERT_NE(forRow.layout, nullptr);
    EXPECT_EQ(forRow.layout->visualCells, layout->visualCells);
    EXPECT_EQ(forRow.visualColumn(0), 4);
    EXPECT_EQ(forRow.logicalColumn(0), 4);
    EXPECT_EQ(TerminalBidi::rowDirection(0, buffer, 5, *terminal), BidiDirection::rightToLeft);
}

INSTANTIATE_TEST_SUITE_P(Cases, ExplicitRowTest,
                         ::testing::Values(ExplicitCase{"brackets", false, U"  \u250Ca)"},
                                           ExplicitCase{"brackets_and_box", true, U"  \u2510a)"}),
                         [](const auto& info) { return std::string(info.param.name); });

TEST_F(TerminalBidiTest, BracketsInRightToLeftTextAreMirrored)
{
    auto terminal = terminalWith(4, "\u05D0(\u05D1)", implicitState(BidiDirection::rightToLeft, false));
    const auto result = TerminalBidi::paragraphLayout(0, terminal->buffer(), 4, *terminal);
    ASSERT_NE(result, nullptr);
    const BidiRowLayout& row = *result->row(0);
    EXPECT_EQ(visualOrder(row), (std::vector<int>{3, 2, 1, 0}));
    EXPECT_EQ(row.visualCells[0].display, std::u32string(U"("));
    EXPECT_EQ(row.visualCells[2].display, std::u32string(U")"));
}

TEST_F(TerminalBidiTest, WideCharacterKeepsBothColumnsTogether)
{
    // alef, a wide ideograph (columns 1-2), bet.
    auto terminal = terminalWith(5, "\u05D0\u4E2D\u05D1", implicitState(BidiDirection::rightToLeft, false));
    const auto result = TerminalBidi::paragraphLayout(0, terminal->buffer(), 5, *terminal);
    ASSERT_NE(result, nullptr);
    const BidiRowLayout& row = *result->row(0);
    // Visual: the blank column 4, bet, the ideograph, alef.
    EXPECT_EQ(visualOrder(row), (std::vector<int>{4, 3, 1, 0}));
    EXPECT_EQ(row.visualCells[2].width, 2);
    EXPECT_EQ(row.logicalToVisualCol[1], 2);
    EXPECT_EQ(row.logicalToVisualCol[2], 3);
    EXPECT_EQ(row.visualToLogicalCol[2], 1);
    EXPECT_EQ(row.visualToLogicalCol[3], 1);
}

TEST_F(TerminalBidiTest, TypesetUnitsKeepOneUnitPerCell)
{
    const std::vector<std::pair<std::u32string, char16_t>> cases = {
        {U"", u' '},           {U"a", u'a'},                {U"\u0301", u'\u00B7'}, // a mark alone
        {U"\u0628", u'\u0621'}, {U"\u200D", u'\u0621'},      {U"\u05D0", u'\u05D0'},
        {U"\U00010900", u'\u200F'}, {U"\U0001F600", u'\u00B7'}, {U"e\u0301", u'e'},
    };
    for (const auto& [text, unit] : cases)
        EXPECT_EQ(TerminalBidi::typesetUnit(text), unit) << static_cast<uint32_t>(text.empty() ? 0 : text[0]);
}

TEST_F(TerminalBidiTest, SameTextOnAnotherRowReusesTheContentAndTakesItsRevision)
{
    auto terminal = terminalWith(4, "\u05D0\u05D1\r\n\u05D0\u05D1", implicitState(BidiDirection::leftToRight, true));
    const Buffer& buffer = terminal->buffer();
    const auto first = TerminalBidi::paragraphLayout(0, buffer, 4, *terminal);
    const size_t contents = TerminalBidi::contentCacheSize();
    const auto second = TerminalBidi::paragraphLayout(1, buffer, 4, *terminal);
    ASSERT_TRUE(first && second && second->row(1));
    EXPECT_EQ(TerminalBidi::contentCacheSize(), contents);
    EXPECT_EQ(second->row(1)->visualCells, first->row(0)->visualCells);
    EXPECT_EQ(second->row(1)->paragraphRevision, TerminalBidi::paragraphRevision(1, buffer, 500));
    EXPECT_NE(second->row(1)->paragraphRevision, first->row(0)->paragraphRevision);
    // An edit gives the paragraph a new revision and so a new layout.
    feed(*terminal, "\u05D2");
    const auto edited = TerminalBidi::paragraphLayout(1, buffer, 4, *terminal);
    ASSERT_TRUE(edited && edited->row(1));
    EXPECT_EQ(edited->row(1)->visualCells.size(), 4u);
    EXPECT_EQ(visualOrder(*edited->row(1)), (std::vector<int>{3, 2, 1, 0}));
}

TEST_F(TerminalBidiTest, TheCacheIsEmptiedWhenFullBeforeTheNextInsert)
{
    auto terminal = makeTerminal(4, 260);
    const Buffer& buffer = terminal->buffer();
    for (int row = 0; row < 256; ++row)
        ASSERT_NE(TerminalBidi::paragraphLayout(row, buffer, 4, *terminal), nullptr);
    EXPECT_EQ(TerminalBidi::paragraphCacheSize(), 256u);
    TerminalBidi::paragraphLayout(256, buffer, 4, *terminal);
    EXPECT_EQ(TerminalBidi::paragraphCacheSize(), 1u);
}

TEST_F(TerminalBidiTest, MirroringTables)
{
    const std::vector<std::pair<char32_t, char32_t>> mirrors = {
        {U'(', U')'}, {U')', U'('}, {U'<', U'>'}, {U'[', U']'}, {U'{', U'}'}, {0x00AB, 0x00BB},
        {0x2045, 0x2046}, {0xFF62, 0xFF63}, {0xFF63, 0xFF62}, {U'a', 0}, {0x250C, 0},
    };
    for (const auto& [from, to] : mirrors)
        EXPECT_EQ(bidiMirror(from), to) << static_cast<uint32_t>(from);
    const std::vector<std::pair<char32_t, char32_t>> boxes = {
        {0x250C, 0x2510}, {0x2510, 0x250C}, {0x2570, 0x256F}, {0x257A, 0x2578}, {0x2500, 0}, {U'(', 0},
    };
    for (const auto& [from, to] : boxes)
        EXPECT_EQ(boxDrawingMirror(from), to) << static_cast<uint32_t>(from);
}

// ---------------------------------------------------------------- Arabic shaping

struct ShapeCase {
    const char* name;
    std::vector<std::u32string> cells;
    std::vector<std::optional<std::u32string>> shown;
};
void PrintTo(const ShapeCase& c, std::ostream* out) { *out << c.name; }

class ShapeArabicTest : public ::testing::TestWithParam<ShapeCase> {};

TEST_P(ShapeArabicTest, Shapes)
{
    std::vector<TerminalBidi::Cell> cells;
    for (const std::u32string& text : GetParam().cells)
        cells.push_back({0, static_cast<int>(cells.size()), 1, text});
    EXPECT_EQ(TerminalBidi::shapeArabic(cells), GetParam().shown);
}

const std::optional<std::u32string> same;

INSTANTIATE_TEST_SUITE_P(
    Cases, ShapeArabicTest,
    ::testing::Values(
        ShapeCase{"beh_alef", {U"\u0628", U"\u0627"}, {U"\uFE91", U"\uFE8E"}},
        ShapeCase{"lone_beh", {U"\u0628"}, {U"\uFE8F"}},
        ShapeCase{"three_behs", {U"\u0628", U"\u0628", U"\u0628"}, {U"\uFE91", U"\uFE92", U"\uFE90"}},
        ShapeCase{"lam_alef", {U"\u0644", U"\u0627"}, {U"\uFEFB", U" "}},
        ShapeCase{"beh_lam_alef", {U"\u0628", U"\u0644", U"\u0627"}, {U"\uFE91", U"\uFEFC", U" "}},
        ShapeCase{"lam_alef_marks_kept", {U"\u0644\u064E", U"\u0627\u0651"}, {U"\uFEFB\u064E\u0651", U" "}},
        ShapeCase{"mark_between_is_transparent", {U"\u0628", U"\u064E", U"\u0628"}, {U"\uFE91", same, U"\uFE90"}},
        ShapeCase{"zwnj_breaks", {U"\u0628", U"\u200C", U"\u0628"}, {U"\uFE8F", same, U"\uFE8F"}},
        ShapeCase{"tatweel_causes", {U"\u0628", U"\u0640"}, {U"\uFE91", same}},
        ShapeCase{"shadda_cluster_kept", {U"\u0628\u0651"}, {U"\uFE8F\u0651"}},
        ShapeCase{"alef_maksura_medial_initial", {U"\u0649", U"\u0649", U"\u0628"}, {U"\uFBE8", U"\uFBE9", U"\uFE90"}},
        ShapeCase{"u0620_unchanged_but_joins", {U"\u0628", U"\u0620", U"\u0628"}, {U"\uFE91", same, U"\uFE90"}},
        ShapeCase{"syriac_never_replaced", {U"\u0628", U"\u0712", U"\u0628"}, {U"\uFE91", same, U"\uFE90"}},
        ShapeCase{"nko_never_replaced", {U"\u07CA", U"\u0628"}, {same, U"\uFE90"}},
        ShapeCase{"latin_breaks", {U"\u0628", U"a", U"\u0628"}, {U"\uFE8F", same, U"\uFE8F"}},
        ShapeCase{"hamza_isolated", {U"\u0621"}, {U"\uFE80"}},
        ShapeCase{"empty", {}, {}}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(ArabicJoiningTest, JoiningTypesFromTheTable)
{
    using J = TerminalBidi::Joining;
    const std::vector<std::pair<char32_t, J>> cases = {
        {0x0620, J::dual},   {0x0627, J::right}, {0x0640, J::causing}, {0x200D, J::causing},
        {0xA872, J::left},   {0x070F, J::transparent}, {0x1E943, J::dual}, {0x1E94B, J::transparent},
        {0x0621, J::none},   {U'a', J::none},    {0x1E944, J::none},
    };
    for (const auto& [scalar, type] : cases)
        EXPECT_EQ(TerminalBidi::joiningType(scalar), type) << std::hex << static_cast<uint32_t>(scalar);
}

} // namespace
} // namespace corvantix
