// The 16-byte form of a cell: every field survives packing, one field changes alone, and the
// underline colours stay exact until the table is full.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "model/PackedCell.h"
#include "model/SemanticTypes.h"

namespace corvantix {
namespace {

using Color = Attribute::Color;

std::vector<Color> sampleColors()
{
    return {Color::defaultColor(),     Color::defaultInvertedColor(), Color::ansi256(0),
            Color::ansi256(255),       Color::trueColor(0, 0, 0),     Color::trueColor(255, 255, 255),
            Color::trueColor(1, 2, 3), Color::trueColor(0xFE, 0x01, 0x80)};
}

TEST(PackedCell, EveryFieldSurvivesPacking)
{
    const std::vector<std::optional<Color>> underlineColors = {std::nullopt, Color::ansi256(9), Color::defaultColor(),
                                                               Color::defaultInvertedColor(), Color::trueColor(12, 34, 56)};
    const std::int32_t codes[] = {0, 'A', 0x10FFFF, 0x400001, 0x7FFFFFFF, -1};
    int checked = 0;
    for (const Color& fg : sampleColors()) {
        for (const Color& bg : sampleColors()) {
            for (const auto& underlineColor : underlineColors) {
                for (std::uint8_t style : {0, 1, 0x80, 0xFF}) {
                    for (std::uint8_t underline : {0, 3, 5}) {
                        Attribute attribute{fg, bg, CharacterStyle{style}, static_cast<UnderlineStyle>(underline), underlineColor};
                        const std::int32_t code = codes[checked % 6];
                        const auto width = static_cast<std::int8_t>(checked % 3);
                        const CharData cell(code, width, attribute, TinyAtom{static_cast<std::uint16_t>(checked * 7919 % 65535)},
                                            static_cast<std::uint8_t>(checked % 7));
                        ASSERT_EQ(PackedCell(cell).value(), cell) << cell.debugDescription() << " case " << checked;
                        ++checked;
                    }
                }
            }
        }
    }
    EXPECT_EQ(checked, 8 * 8 * 5 * 4 * 3);
    EXPECT_EQ(PackedCell().value(), CharData());
    EXPECT_TRUE(PackedCell().isBlankWithDefaultAttributes());
}

TEST(PackedCell, ASetterChangesItsFieldAndNothingElse)
{
    Attribute attribute{Color::trueColor(9, 8, 7), Color::ansi256(42), CharacterStyle::bold | CharacterStyle::dim,
                        UnderlineStyle::dashed, Color::trueColor(200, 100, 50)};
    const CharData original(0x4E2D, 2, attribute, TinyAtom{777}, 6);
    struct Case {
        const char* name;
        void (*change)(PackedCell&);
        void (*expect)(CharData&);
    };
    const Case cases[] = {
        {"code", [](PackedCell& c) { c.setCode(0x400123); }, [](CharData& c) { c.code = 0x400123; }},
        {"width", [](PackedCell& c) { c.setWidth(0); }, [](CharData& c) { c.width = 0; }},
        {"payload", [](PackedCell& c) { c.setPayload(TinyAtom{65534}); }, [](CharData& c) { c.payload = TinyAtom{65534}; }},
        {"semantic code", [](PackedCell& c) { c.setSemanticContentCode(1); }, [](CharData& c) { c.semanticContentCode = 1; }},
        {"attribute", [](PackedCell& c) { c.setAttribute(Attribute{}); }, [](CharData& c) { c.attribute = Attribute{}; }},
    };
    for (const Case& c : cases) {
        PackedCell packed(original);
        c.change(packed);
        CharData expected = original;
        c.expect(expected);
        EXPECT_EQ(packed.value(), expected) << c.name;
        EXPECT_EQ(packed, PackedCell(expected)) << c.name << ": one cell, one packed form";
    }
}

TEST(PackedCell, OutOfRangeWidthsAndSemanticCodesAreClamped)
{
    EXPECT_EQ(PackedCell(CharData('a', 7, Attribute{})).width(), 2);
    EXPECT_EQ(PackedCell(CharData('a', -1, Attribute{})).width(), 0);
    // Every code from 7 up reads as "none"; none of them may alias a prompt code.
    for (std::uint8_t code : {7, 8, 9, 12, 255}) {
        const PackedCell packed(CharData('a', 1, Attribute{}, TinyAtom{}, code));
        EXPECT_EQ(packed.semanticContentCode(), 7) << int(code);
        EXPECT_FALSE(SemanticContent::fromCellCode(packed.semanticContentCode()).isPrompt());
    }
}

TEST(PackedCell, SameAttributeLooksAtTheAttributeOnly)
{
    Attribute red;
    red.fg = Color::ansi256(1);
    const PackedCell a(CharData('a', 1, red, TinyAtom{3}, 5));
    EXPECT_TRUE(a.sameAttribute(PackedCell(CharData('b', 2, red, TinyAtom{4}, 6))));
    Attribute underlined = red;
    underlined.underlineColor = Color::ansi256(1);
    EXPECT_FALSE(a.sameAttribute(PackedCell(CharData('a', 1, underlined, TinyAtom{3}, 5))));
    Attribute italic = red;
    italic.style = CharacterStyle::italic;
    EXPECT_FALSE(a.sameAttribute(PackedCell(CharData('a', 1, italic, TinyAtom{3}, 5))));
}

TEST(UnderlineColorTable, TrueColoursAreExactUntilFullThenTheNearestPaletteEntry)
{
    UnderlineColorTable table;
    const auto trueColorAt = [](std::size_t i) {
        return Color::trueColor(static_cast<std::uint8_t>(i >> 16), static_cast<std::uint8_t>(i >> 8), static_cast<std::uint8_t>(i));
    };
    std::vector<std::uint16_t> references;
    for (std::size_t i = 0; i < UnderlineColorTable::capacity; ++i)
        references.push_back(table.reference(trueColorAt(i)));
    EXPECT_EQ(table.count(), UnderlineColorTable::capacity);
    for (std::size_t i = 0; i < UnderlineColorTable::capacity; ++i) {
        ASSERT_LT(references[i], UnderlineColorTable::referenceLimit);
        ASSERT_EQ(table.color(references[i]), trueColorAt(i)) << i;
        // Asking again gives the same reference, full or not.
        ASSERT_EQ(table.reference(trueColorAt(i)), references[i]) << i;
    }
    // Full: a new colour takes its palette neighbour, and the table grows no more.
    EXPECT_EQ(table.color(table.reference(Color::trueColor(250, 2, 3))), Color::ansi256(196));
    EXPECT_EQ(table.color(table.reference(Color::trueColor(120, 121, 119))), Color::ansi256(243));
    EXPECT_EQ(table.count(), UnderlineColorTable::capacity);
    // References that name no colour read as none.
    EXPECT_EQ(table.color(0), std::nullopt);
    UnderlineColorTable empty;
    EXPECT_EQ(empty.color(UnderlineColorTable::firstTableReference), std::nullopt);
    EXPECT_EQ(empty.color(4095), std::nullopt);
}

TEST(UnderlineColorTable, NearestPaletteIndex)
{
    const struct {
        std::uint8_t r, g, b, index;
    } cases[] = {{0, 0, 0, 16}, {255, 255, 255, 231}, {255, 0, 0, 196}, {0, 0, 255, 21},
                 {95, 135, 175, 67}, {8, 8, 8, 232}, {238, 238, 238, 255}, {128, 128, 128, 244}};
    for (const auto& c : cases)
        EXPECT_EQ(UnderlineColorTable::nearestPaletteIndex(c.r, c.g, c.b), c.index) << int(c.r) << "," << int(c.g) << "," << int(c.b);
}

} // namespace
} // namespace corvantix
