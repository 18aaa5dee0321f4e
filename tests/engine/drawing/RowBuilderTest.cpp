#include "drawing/RowBuilder.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "emulator/SelectionService.h"
#include "engine/emulator/TerminalTestSupport.h"

namespace corvantix {
namespace {

// Colours that say where they came from: palette index i is (i/255, 0, 0); true colours
// are themselves; the default foreground is grey, the default background black, and the
// inverted default colours swap them.
const RgbaColor defaultFg{0.5, 0.5, 0.5, 1.0};
const RgbaColor defaultBg{0.0, 0.0, 0.0, 1.0};

RgbaColor testMapColor(const Attribute::Color& color, bool isForeground, bool, bool)
{
    switch (color.kind()) {
    case Attribute::Color::Case::ansi256:
        return {color.code() / 255.0, 0.0, 0.0, 1.0};
    case Attribute::Color::Case::trueColor:
        return {color.red() / 255.0, color.green() / 255.0, color.blue() / 255.0, 1.0};
    case Attribute::Color::Case::defaultColor:
        return isForeground ? defaultFg : defaultBg;
    case Attribute::Color::Case::defaultInvertedColor:
        return isForeground ? defaultBg : defaultFg;
    }
    return {};
}

class RowBuilderTest : public ::testing::Test {
protected:
    std::unique_ptr<Terminal> terminal = makeTerminal(10, 3);
    RowBuilder builder{testMapColor};
    std::shared_ptr<SelectionService> selection = std::make_shared<SelectionService>(terminal.get());
    AttributedRow buildScreenRow(int screenRow, const RowBuilder::RowLayout& layout = {})
    {
        const int row = terminal->buffer().yBase() + screenRow;
        return builder.buildAttributedLine(*terminal, row, *terminal->getDisplayLine(screenRow), terminal->cols(),
                                           selection.get(), layout);
    }
    // A line of the given cells, padded with empty cells to the terminal's width.
    AttributedRow buildCells(const std::vector<CharData>& cells, int row = 0)
    {
        BufferLine line(terminal->cols());
        for (size_t i = 0; i < cells.size(); ++i)
            line.setCell(static_cast<int>(i), cells[i]);
        return builder.buildAttributedLine(*terminal, row, line, terminal->cols(), selection.get());
    }
};

CharData cellOf(char32_t c, Attribute attribute = {}, int width = 1)
{
    return CharData(static_cast<int32_t>(c), static_cast<int8_t>(width), attribute);
}

Attribute styled(CharacterStyle style)
{
    Attribute attribute;
    attribute.style = style;
    return attribute;
}

TEST_F(RowBuilderTest, CellWidthsSplitTheRowIntoSegments)
{
    feed(*terminal, "a\xe4\xb8\x96" "b"); // a, U+4E16 (wide), b
    const AttributedRow row = buildScreenRow(0);
    ASSERT_EQ(row.segments.size(), 3u);
    EXPECT_EQ(std::vector<int>({row.segments[0].column, row.segments[1].column, row.segments[2].column}),
              std::vector<int>({0, 1, 3}));
    EXPECT_EQ(row.segments[1].columnWidth, 2);
    EXPECT_EQ(row.segments[0].text, u"a");
    EXPECT_EQ(row.segments[1].text, u"\u4E16");
    EXPECT_EQ(row.segments[1].cellCount, 1);
    EXPECT_EQ(row.segments[2].text, u"b      "); // b and the six empty cells up to column 9
}

TEST_F(RowBuilderTest, MultiUnitCellsRepeatTheirOrdinal)
{
    // A combining mark, an astral wide emoji, a heart in text presentation.
    struct Case { const char* name; std::string bytes; std::u16string text; std::vector<int> ordinals; };
    const Case cases[] = {{"mark", "e\xcc\x81x", u"e\u0301x", {0, 0, 1}}, {"emoji", "\xf0\x9f\x98\x80", u"\U0001F600", {0, 0}},
                          {"heart", "\xe2\x9d\xa4", u"\u2764\uFE0E", {0, 0}}};
    for (const Case& c : cases) {
        feed(*terminal, "\x1b[H\x1b[2K");
        feed(*terminal, c.bytes);
        const AttributedRow row = buildScreenRow(0);
        ASSERT_FALSE(row.segments.empty()) << c.name;
        const ViewLineSegment& segment = row.segments[0];
        EXPECT_EQ(segment.text.substr(0, c.text.size()), c.text) << c.name;
        const std::vector<int> prefix(segment.utf16ToCellOrdinal.begin(),
                                      segment.utf16ToCellOrdinal.begin()
                                          + static_cast<long>(std::min(c.ordinals.size(), segment.utf16ToCellOrdinal.size())));
        EXPECT_EQ(prefix, c.ordinals) << c.name;
        EXPECT_FALSE(segment.utf16IsCellIdentity) << c.name;
        EXPECT_EQ(segment.cellOrdinal(1), c.ordinals[1]) << c.name;
    }
}

TEST_F(RowBuilderTest, SelectionSplitsARunButNotTheSegment)
{
    feed(*terminal, "abcdef");
    selection->active_ = true;
    selection->start = {2, 0};
    selection->end = {4, 0};
    const AttributedRow row = buildScreenRow(0);
    ASSERT_EQ(row.segments.size(), 1u);
    const auto& runs = row.segments[0].runs;
    ASSERT_EQ(runs.size(), 3u);
    EXPECT_TRUE(runs[1].start == 2 && runs[1].length == 2);
    EXPECT_EQ(runs[1].style.selectionBackgroundColor, builder.settings.selectedTextBackgroundColor);
    EXPECT_EQ(runs[1].style.foregroundColor, RgbaColor::black());
    EXPECT_EQ(runs[1].style.paintedBackground(), builder.settings.selectedTextBackgroundColor);
    EXPECT_FALSE(runs[0].style.selectionBackgroundColor.has_value());
    EXPECT_EQ(runs[0].style.foregroundColor, defaultFg);
    EXPECT_EQ(runs[0].style.paintedBackground(), defaultBg);
    // Decorations of selected text take the selected text's colour.
    selection->start = {0, 0};
    const AttributedRow decorated = buildCells({cellOf('u', styled(CharacterStyle::underline | CharacterStyle::crossedOut))});
    EXPECT_EQ(decorated.segments[0].runs[0].style.underlineColor, RgbaColor::black());
    EXPECT_EQ(decorated.segments[0].runs[0].style.strikethroughColor, RgbaColor::black());
}

TEST_F(RowBuilderTest, SelectionColumns)
{
    struct Case { Position start; Position end; int row; std::optional<ColumnRange> expected; };
    // Terminal of 10 columns; rows are buffer lines.
    const Case cases[] = {
        {{2, 5}, {9, 5}, 5, ColumnRange{2, 10}},  // ends on the last column: covers it
        {{2, 5}, {8, 5}, 5, ColumnRange{2, 8}},   // ends earlier: stops before the end column
        {{3, 5}, {3, 5}, 5, std::nullopt},        // empty
        {{2, 5}, {9, 5}, 6, std::nullopt},        // another row
        {{4, 1}, {5, 3}, 1, ColumnRange{4, 10}},  // forward: first row to the end
        {{4, 1}, {5, 3}, 2, ColumnRange{0, 10}},  // rows between: whole
        {{4, 1}, {5, 3}, 3, ColumnRange{0, 5}},   // last row up to the end column
        {{5, 3}, {4, 1}, 1, ColumnRange{4, 10}},  // backward over rows
        {{9, 3}, {4, 1}, 3, ColumnRange{0, 10}},
        {{0, 3}, {4, 1}, 3, std::nullopt},        // zero length on the start row
    };
    for (const Case& c : cases) {
        selection->active_ = true;
        selection->start = c.start;
        selection->end = c.end;
        EXPECT_EQ(selectionColumns(selection.get(), 10, c.row, 10), c.expected)
            << "(" << c.start.col << "," << c.start.row << ")-(" << c.end.col << "," << c.end.row << ") row " << c.row;
    }
    selection->active_ = false;
    EXPECT_EQ(selectionColumns(selection.get(), 10, 1, 10), std::nullopt);
    EXPECT_EQ(selectionColumns(nullptr, 10, 1, 10), std::nullopt);
    // A row built narrower than the terminal clips the range.
    selection->active_ = true;
    selection->start = {2, 1};
    selection->end = {9, 1};
    EXPECT_EQ(selectionColumns(selection.get(), 10, 1, 6), (ColumnRange{2, 6}));
}

TEST_F(RowBuilderTest, CustomGlyphCellsBecomeItemsAndKeepTheirOrdinal)
{
    Attribute red;
    red.fg = Attribute::Color::ansi256(200);
    const AttributedRow row = buildCells({cellOf('a'), cellOf(0x2588, red), cellOf(0x2500), cellOf(0xE0B0), cellOf(0xE0B1),
                                          cellOf('z')});
    ASSERT_EQ(row.blockElementItems.size(), 1u);
    const BlockElementRenderItem& block = row.blockElementItems[0];
    EXPECT_TRUE(block.column == 1 && block.columnWidth == 1 && block.codePoint == 0x2588u);
    EXPECT_EQ(block.foregroundColor, (RgbaColor{200 / 255.0, 0, 0, 1}));
    ASSERT_EQ(block.rects.size(), 1u);
    EXPECT_EQ(block.rects[0], (BlockElementRect{0, 8, 0, 8, BlockAlpha::full}));
    ASSERT_EQ(row.boxDrawingItems.size(), 1u);
    EXPECT_TRUE(row.boxDrawingItems[0].column == 2 && row.boxDrawingItems[0].foregroundColor == defaultFg);
    ASSERT_EQ(row.powerlineItems.size(), 1u); // U+E0B1 (a thin separator) stays text
    EXPECT_EQ(row.powerlineItems[0].column, 3);
    ASSERT_EQ(row.segments.size(), 1u);
    const ViewLineSegment& segment = row.segments[0];
    EXPECT_EQ(segment.text.substr(0, 6), u"a   \uE0B1z");
    EXPECT_TRUE(segment.utf16IsCellIdentity);
    EXPECT_EQ(segment.cellOrdinal(5), 5);
    builder.settings.customBlockGlyphs = false;
    const AttributedRow plain = buildCells({cellOf('a'), cellOf(0x2588, red)});
    EXPECT_TRUE(plain.blockElementItems.empty());
    EXPECT_EQ(plain.segments[0].text.substr(0, 2), u"a\u2588");
}

TEST_F(RowBuilderTest, HiddenBlinkingCellsAreClearSpacesAndNeverCellArt)
{
    const Attribute blinking = styled(CharacterStyle::blink | CharacterStyle::underline | CharacterStyle::crossedOut);
    builder.settings.textBlinkVisible = false;
    const AttributedRow row = buildCells({cellOf('X', blinking), cellOf(0x2588, blinking), cellOf('Y')});
    EXPECT_TRUE(row.blockElementItems.empty());
    ASSERT_EQ(row.segments.size(), 1u);
    EXPECT_EQ(row.segments[0].text.substr(0, 3), u"  Y");
    const RunStyle& hidden = row.segments[0].runs[0].style;
    EXPECT_EQ(hidden.foregroundColor, RgbaColor::clear());
    EXPECT_FALSE(hidden.hasDecorations());
    EXPECT_FALSE(hidden.corvantixUnderlineStyle.has_value());
    EXPECT_FALSE(hidden.underlineColor.has_value());
    builder.settings.textBlinkVisible = true;
    const AttributedRow shown = buildCells({cellOf('X', blinking)});
    EXPECT_EQ(shown.segments[0].text[0], u'X');
    EXPECT_TRUE(shown.segments[0].runs[0].style.hasDecorations());
}

TEST_F(RowBuilderTest, UnderlineStylesMapToTheToolkitValueAndTheirOwnNumber)
{
    struct Case { UnderlineStyle style; int attributeValue; int number; };
    const Case cases[] = {
        {UnderlineStyle::none, 0x1, 1}, // the underline bit alone is a single underline
        {UnderlineStyle::double_, 0x9, 2}, {UnderlineStyle::curly, 0x1, 3}, {UnderlineStyle::dotted, 0x101, 4},
    };
    for (const Case& c : cases) {
        Attribute attribute = styled(CharacterStyle::underline);
        attribute.underlineStyle = c.style;
        const RunStyle style = builder.cachedCellAttributes(attribute, false);
        EXPECT_EQ(style.underlineStyleAttribute, c.attributeValue) << c.number;
        EXPECT_EQ(style.corvantixUnderlineStyle, c.number) << c.number;
        EXPECT_EQ(style.underlineColor, defaultFg) << c.number;
        EXPECT_EQ(static_cast<int>(underlineStyle(style)), c.number) << c.number;
    }
    // A style without the underline bit draws no underline.
    Attribute noBit;
    noBit.underlineStyle = UnderlineStyle::curly;
    EXPECT_FALSE(builder.cachedCellAttributes(noBit, false).underlineStyleAttribute.has_value());
    // An underline colour of its own.
    Attribute coloured = styled(CharacterStyle::underline);
    coloured.underlineColor = Attribute::Color::trueColor(0, 255, 0);
    EXPECT_EQ(builder.cachedCellAttributes(coloured, false).underlineColor, (RgbaColor{0, 1, 0, 1}));
}

TEST_F(RowBuilderTest, LinkLookIsADashedUnderlineInTheForeground)
{
    Attribute doubleUnderlined = styled(CharacterStyle::underline);
    doubleUnderlined.underlineStyle = UnderlineStyle::double_;
    doubleUnderlined.underlineColor = Attribute::Color::ansi256(3);
    doubleUnderlined.fg = Attribute::Color::ansi256(2);
    CharData linked = cellOf('L', doubleUnderlined);
    linked.payload = TinyAtom{7};
    const CharData plain = cellOf('p', doubleUnderlined);
    builder.settings.linkHighlightMode = LinkHighlightMode::always;
    const AttributedRow row = buildCells({linked, plain});
    ASSERT_GE(row.segments[0].runs.size(), 2u);
    const RunStyle& link = row.segments[0].runs[0].style;
    EXPECT_EQ(link.corvantixUnderlineStyle, 5);
    EXPECT_EQ(link.underlineStyleAttribute, 1);
    EXPECT_EQ(link.underlineColor, (RgbaColor{2 / 255.0, 0, 0, 1}));
    EXPECT_EQ(row.segments[0].runs[1].style.corvantixUnderlineStyle, 2);
    // With a hover range over column 1 of row 0: whether cell 0 (with a payload) and cell 1
    // (no payload, hovered) get the look.
    struct ModeCase { LinkHighlightMode mode; bool commandActive, hoverRange, payloadLink, hoveredLink; };
    using M = LinkHighlightMode;
    const ModeCase modes[] = {
        {M::always, false, true, true, false}, {M::alwaysWithModifier, false, true, false, false},
        {M::alwaysWithModifier, true, true, true, false}, {M::hover, false, true, false, true},
        {M::hover, false, false, false, false}, {M::hoverWithModifier, false, true, false, false},
        {M::hoverWithModifier, true, true, false, true},
    };
    for (const ModeCase& m : modes) {
        builder.settings.linkHighlightMode = m.mode;
        builder.settings.commandActive = m.commandActive;
        if (m.hoverRange)
            builder.settings.linkHighlightRange = std::vector<RowRange>{{5, {0, 1}}, {0, {1, 2}}, {0, {0, 1}}};
        else
            builder.settings.linkHighlightRange.reset();
        const AttributedRow built = buildCells({linked, plain});
        const auto& runs = built.segments[0].runs;
        auto styleOf = [&](int cell) -> const RunStyle& {
            for (const auto& run : runs)
                if (cell >= run.start && cell < run.start + run.length)
                    return run.style;
            return runs.back().style;
        };
        EXPECT_EQ(styleOf(0).corvantixUnderlineStyle == 5, m.payloadLink) << static_cast<int>(m.mode);
        EXPECT_EQ(styleOf(1).corvantixUnderlineStyle == 5, m.hoveredLink) << static_cast<int>(m.mode);
    }
}

TEST_F(RowBuilderTest, InverseSwapsColoursAndDefaultsBecomeInverted)
{
    struct Case { Attribute::Color fg; Attribute::Color bg; RgbaColor expectedFg; RgbaColor expectedBg; };
    const Case cases[] = {
        {Attribute::Color::defaultColor(), Attribute::Color::defaultColor(), defaultBg, defaultFg},
        {Attribute::Color::ansi256(1), Attribute::Color::defaultColor(), defaultBg, {1 / 255.0, 0, 0, 1}},
        {Attribute::Color::defaultColor(), Attribute::Color::trueColor(0, 0, 255), {0, 0, 1, 1}, defaultFg},
    };
    for (const Case& c : cases) {
        Attribute attribute = styled(CharacterStyle::inverse);
        attribute.fg = c.fg;
        attribute.bg = c.bg;
        const RunStyle style = builder.cachedCellAttributes(attribute, false);
        EXPECT_EQ(style.foregroundColor, c.expectedFg);
        EXPECT_EQ(style.backgroundColor, c.expectedBg);
    }
}

TEST_F(RowBuilderTest, FontSlotFollowsBoldItalicAndBrightColoursOff)
{
    struct Case { CharacterStyle style; Attribute::Color fg; bool useBrightColors; FontSlot expected; };
    const Case cases[] = {
        {CharacterStyle::bold, Attribute::Color::defaultColor(), true, FontSlot::bold},
        {CharacterStyle::bold | CharacterStyle::italic, Attribute::Color::defaultColor(), true, FontSlot::boldItalic},
        {{}, Attribute::Color::ansi256(9), false, FontSlot::bold},
        {CharacterStyle::italic, Attribute::Color::ansi256(9), false, FontSlot::boldItalic},
        {{}, Attribute::Color::ansi256(9), true, FontSlot::normal},
        {{}, Attribute::Color::ansi256(7), false, FontSlot::normal},
    };
    for (const Case& c : cases) {
        builder.settings.useBrightColors = c.useBrightColors;
        builder.resetCaches();
        Attribute attribute = styled(c.style);
        attribute.fg = c.fg;
        EXPECT_EQ(builder.cachedCellAttributes(attribute, false).font, c.expected)
            << int(c.style.rawValue) << " " << c.useBrightColors;
    }
}

TEST_F(RowBuilderTest, DimBlendsForegroundWithBackground)
{
    Attribute attribute = styled(CharacterStyle::dim);
    attribute.fg = Attribute::Color::trueColor(255, 255, 255);
    attribute.bg = Attribute::Color::trueColor(0, 0, 0);
    EXPECT_EQ(builder.cachedCellAttributes(attribute, false).foregroundColor, (RgbaColor{0.5, 0.5, 0.5, 1.0}));
}

TEST_F(RowBuilderTest, AttributeCacheIsEmptiedWhenFull)
{
    for (int i = 0; i < static_cast<int>(RowBuilder::attributeCacheLimit); ++i) {
        Attribute attribute;
        attribute.fg = Attribute::Color::trueColor(static_cast<uint8_t>(i & 0xFF), static_cast<uint8_t>(i >> 8), 0);
        builder.cachedCellAttributes(attribute, false);
    }
    EXPECT_EQ(builder.cachedStyleCount(), RowBuilder::attributeCacheLimit);
    Attribute another;
    another.fg = Attribute::Color::trueColor(1, 2, 3);
    another.bg = Attribute::Color::ansi256(4);
    builder.cachedCellAttributes(another, false);
    EXPECT_EQ(builder.cachedStyleCount(), 1u);
    builder.resetCaches();
    EXPECT_EQ(builder.cachedStyleCount(), 0u);
}

TEST_F(RowBuilderTest, CellAttributesUseTheGivenColoursWithoutDimOrLinkLook)
{
    const RgbaColor caret{1, 0, 0, 1};
    const RgbaColor caretText{0, 0, 1, 1};
    const RunStyle plain = builder.cellAttributes(styled(CharacterStyle::dim | CharacterStyle::bold), caret, caretText);
    EXPECT_TRUE(plain.foregroundColor == caret && plain.backgroundColor == caretText && plain.font == FontSlot::bold);
    const RunStyle inverse = builder.cellAttributes(styled(CharacterStyle::inverse), caret, caretText);
    EXPECT_TRUE(inverse.foregroundColor == caretText && inverse.backgroundColor == caret);
    EXPECT_EQ(builder.cachedStyleCount(), 0u);
}

TEST_F(RowBuilderTest, PlaceholderCellsAreCollectedWithTheirLeftNeighbour)
{
    std::vector<std::optional<int>> leftColumns;
    builder.decodeKittyPlaceholderCell = [&](std::u32string_view, const Attribute&, int row, int column,
                                             const std::optional<RowBuilder::LeftPlaceholder>& left)
        -> std::optional<KittyPlaceholderCell> {
        leftColumns.push_back(left ? std::optional<int>(left->first.col) : std::nullopt);
        KittyPlaceholderCell cell;
        cell.row = row, cell.col = column, cell.imageId = 42;
        cell.placeholderCol = left ? left->first.placeholderCol + 1 : 0;
        return cell;
    };
    const AttributedRow row = buildCells({cellOf(0x10EEEE), cellOf(0x10EEEE), cellOf('x'), cellOf(0x10EEEE)}, 4);
    ASSERT_EQ(row.placeholderCells.size(), 3u);
    EXPECT_TRUE(row.placeholderCells[1].col == 1 && row.placeholderCells[1].placeholderCol == 1);
    EXPECT_TRUE(row.placeholderCells[2].col == 3 && row.placeholderCells[2].row == 4);
    // The third placeholder follows an ordinary cell: no left neighbour.
    EXPECT_EQ(leftColumns, (std::vector<std::optional<int>>{std::nullopt, 0, std::nullopt}));
    EXPECT_EQ(row.segments[0].text.substr(0, 4), u"  x ");
}

TEST(KittyPlaceholderTest, FindPlaceholderPlacement)
{
    auto record = [](uint32_t placementId, int cols, int rows) {
        KittyPlacementRecord r;
        r.imageId = 1, r.placementId = placementId, r.cols = cols, r.rows = rows;
        return r;
    };
    const std::vector<KittyPlacementRecord> records = {record(3, 0, 5), record(4, 2, 2), record(5, 6, 6)};
    KittyPlaceholderCell cell;
    cell.placeholderCol = 1;
    cell.placeholderRow = 1;
    EXPECT_EQ(findPlaceholderPlacement(records, cell)->placementId, 4u); // any placement: first large enough
    cell.placeholderCol = 3;
    EXPECT_EQ(findPlaceholderPlacement(records, cell)->placementId, 5u);
    cell.placementId = 4;
    EXPECT_FALSE(findPlaceholderPlacement(records, cell).has_value());
    cell.placeholderCol = 0;
    EXPECT_EQ(findPlaceholderPlacement(records, cell)->placementId, 4u);
}

TEST_F(RowBuilderTest, BidiLayoutOrdersCellsAndIsolatesArabicLetters)
{
    // Logical cells: a, ALEF (U+0627), b. Visual order: b, alef (shown in a joined form), a.
    const std::vector<RowBuilder::VisualCell> visual = {
        {2, 1, std::nullopt}, {1, 1, std::u32string(U"\uFE8E")}, {0, 1, std::nullopt}};
    BufferLine line(3);
    for (const int col : {0, 1, 2})
        line.setCell(col, cellOf(std::u32string_view(U"a\u0627b")[col]));
    RowBuilder::RowLayout layout;
    layout.visualCells = std::span<const RowBuilder::VisualCell>(visual);
    layout.directionOverride = true;
    const AttributedRow row = builder.buildAttributedLine(*terminal, 0, line, 3, nullptr, layout);
    ASSERT_EQ(row.segments.size(), 3u);
    EXPECT_EQ(row.segments[0].text + u"|" + row.segments[1].text + u"|" + row.segments[2].text, u"b|\uFE8E|a");
    EXPECT_TRUE(row.segments[1].column == 1 && row.segments[2].column == 2);
    EXPECT_TRUE(row.segments[1].runs[0].style.fallbackFont);
    EXPECT_FALSE(row.segments[0].runs[0].style.fallbackFont);
    for (const auto& segment : row.segments)
        EXPECT_TRUE(segment.runs[0].style.directionOverride);
}

// Without a bidi layout the cells keep their stored order, and the Arabic letters among them
// show the forms their neighbours in the row give them, as a run shaped whole would.
TEST_F(RowBuilderTest, ArabicLettersInStoredOrderTakeTheirJoinedForms)
{
    struct Case {
        const char* name;
        const char* bytes;
        std::u16string shown; // the row's text up to the end of what was fed
    };
    const std::vector<Case> cases{
        {"beh alef, then a lone beh", "x\xd8\xa8\xd8\xa7 \xd8\xa8", u"x\uFE91\uFE8E \uFE8F"},
        {"three behs: initial, medial, final", "\xd8\xa8\xd8\xa8\xd8\xa8", u"\uFE91\uFE92\uFE90"},
        {"lam alef: the ligature, then a blank cell", "\xd9\x84\xd8\xa7", u"\uFEFB "},
        {"a mark in the letter's cell stays with it", "\xd8\xa8\xd9\x91\xd8\xa8", u"\uFE91\u0651\uFE90"},
        {"a Latin letter breaks the join", "\xd8\xa8x\xd8\xa8", u"\uFE8Fx\uFE8F"},
        {"no Arabic: unchanged", "abc", u"abc"},
    };
    for (const Case& c : cases) {
        feed(*terminal, "\x1b[H\x1b[2K");
        feed(*terminal, c.bytes);
        const AttributedRow row = buildScreenRow(0);
        ASSERT_EQ(row.segments.size(), 1u) << c.name;
        EXPECT_EQ(row.segments[0].text.substr(0, c.shown.size()), c.shown) << c.name;
    }
}

} // namespace
} // namespace corvantix
