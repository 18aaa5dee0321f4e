#include <gtest/gtest.h>

#include <type_traits>

#include "model/CharData.h"
#include "model/SemanticTypes.h"

namespace corvantix {
namespace {

using Color = Attribute::Color;

static_assert(std::is_trivially_copyable_v<CharData>);
static_assert(sizeof(CharData) <= 24);

Attribute makeAttribute(Color fg, Color bg, CharacterStyle style = {})
{
    Attribute a;
    a.fg = fg;
    a.bg = bg;
    a.style = style;
    return a;
}

TEST(CellAttribute, SgrParametersTable)
{
    struct Case { Attribute attribute; const char* expected; };
    Attribute withUnderlineExtras = makeAttribute(Color::defaultColor(), Color::defaultColor(), CharacterStyle::underline);
    withUnderlineExtras.underlineStyle = UnderlineStyle::curly;
    withUnderlineExtras.underlineColor = Color::trueColor(9, 9, 9);
    const Case cases[] = {
        {Attribute{}, "0m"},
        {makeAttribute(Color::ansi256(1), Color::defaultColor(), CharacterStyle::bold), "0;1;31m"},
        {makeAttribute(Color::trueColor(1, 2, 3), Color::ansi256(200)), "0;38;2;1;2;3;48;5;200m"},
        {makeAttribute(Color::ansi256(7), Color::ansi256(0)), "0;37;40m"},
        {makeAttribute(Color::ansi256(8), Color::ansi256(8)), "0;90;100m"},
        {makeAttribute(Color::ansi256(15), Color::ansi256(15)), "0;97;107m"},
        {makeAttribute(Color::ansi256(16), Color::defaultColor()), "0;38;5;16m"},
        {makeAttribute(Color::defaultInvertedColor(), Color::defaultInvertedColor()), "0m"},
        {makeAttribute(Color::defaultColor(), Color::defaultColor(), CharacterStyle::dim | CharacterStyle::italic
                                                                          | CharacterStyle::crossedOut), "0m"},
        {makeAttribute(Color::defaultColor(), Color::defaultColor(),
                       CharacterStyle::invisible | CharacterStyle::inverse | CharacterStyle::blink | CharacterStyle::underline
                           | CharacterStyle::bold),
         "0;1;4;5;7;8m"},
        {withUnderlineExtras, "0;4m"},
    };
    for (const Case& c : cases)
        EXPECT_EQ(c.attribute.sgrParameters(), c.expected);
}

TEST(CellAttribute, ColorEqualityAndHashKeepCasesApart)
{
    const std::hash<Color> hash;
    EXPECT_NE(Color::defaultColor(), Color::defaultInvertedColor());
    EXPECT_NE(hash(Color::defaultColor()), hash(Color::defaultInvertedColor()));
    EXPECT_NE(Color::ansi256(0), Color::defaultColor());
    EXPECT_NE(Color::ansi256(1), Color::trueColor(1, 0, 0));
    EXPECT_NE(Color::trueColor(1, 2, 3), Color::trueColor(1, 2, 4));
    EXPECT_EQ(hash(Color::trueColor(1, 2, 3)), hash(Color::trueColor(1, 2, 3)));
}

TEST(CellAttribute, UnderlineColorAbsentDiffersFromPresent)
{
    Attribute a, b;
    b.underlineColor = Color::defaultColor();
    EXPECT_NE(a, b);
    a.underlineColor = Color::defaultColor();
    EXPECT_EQ(a, b);
    EXPECT_EQ(std::hash<Attribute>()(a), std::hash<Attribute>()(b));
    b.underlineStyle = UnderlineStyle::dashed;
    EXPECT_NE(a, b);
}

TEST(CellCharData, BlankWithDefaultAttributesIgnoresPayloadAndZone)
{
    CharData cell;
    cell.payload = TinyAtom{7};
    cell.semanticContentCode = 6;
    EXPECT_TRUE(cell.isBlankWithDefaultAttributes());
    CharData coloured;
    coloured.attribute.bg = Color::ansi256(1);
    EXPECT_FALSE(coloured.isBlankWithDefaultAttributes());
    CharData inverted;
    inverted.attribute.bg = Color::defaultInvertedColor();
    EXPECT_FALSE(inverted.isBlankWithDefaultAttributes());
    CharData underlined;
    underlined.attribute.underlineColor = Color::defaultColor();
    EXPECT_FALSE(underlined.isBlankWithDefaultAttributes());
    EXPECT_FALSE(CharData(0x41, 1, Attribute{}).isBlankWithDefaultAttributes());
    EXPECT_TRUE(CharData(0x3FFFFF, 1, Attribute{}).hasSimpleCode());
    EXPECT_FALSE(CharData(0x400000, 1, Attribute{}).hasSimpleCode());
}

TEST(CellSemanticContent, CellCodesRoundTrip)
{
    for (const SemanticContent content :
         {SemanticContent::none(), SemanticContent::prompt(SemanticPromptKind::initial),
          SemanticContent::prompt(SemanticPromptKind::right), SemanticContent::prompt(SemanticPromptKind::continuation),
          SemanticContent::prompt(SemanticPromptKind::secondary), SemanticContent::input(), SemanticContent::output()})
        EXPECT_EQ(SemanticContent::fromCellCode(content.cellCode()), content) << content.description();
    // A code no content has reads as none.
    EXPECT_EQ(SemanticContent::fromCellCode(7), SemanticContent::none());
    EXPECT_EQ(SemanticContent::fromCellCode(255), SemanticContent::none());
    EXPECT_FALSE(semanticPromptKindFromRawValue('x').has_value());
    EXPECT_FALSE(underlineStyleFromRaw(6).has_value());
}

} // namespace
} // namespace corvantix
