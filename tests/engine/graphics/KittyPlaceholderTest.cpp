#include "graphics/KittyPlaceholder.h"

#include <gtest/gtest.h>
#include <unicode/normalizer2.h>
#include <unicode/uchar.h>
#include <unicode/unistr.h>

#include <cstring>
#include <optional>
#include <set>
#include <ostream>
#include <string>
#include <vector>

namespace corvantix::test {
namespace {

using Color = Attribute::Color;

// The protocol's list made again from the character properties: every non-spacing mark of
// Unicode 6.0 drawn above (combining class 230), with no decomposition of its own and found in
// no character's canonical decomposition, so that nothing composes it away; in code point order.
std::vector<char32_t> derivedDiacritics()
{
    UErrorCode status = U_ZERO_ERROR;
    const icu::Normalizer2* nfd = icu::Normalizer2::getNFDInstance(status);
    EXPECT_TRUE(U_SUCCESS(status));
    std::set<char32_t> composable;
    for (UChar32 c = 0; c <= 0x10FFFF; ++c) {
        icu::UnicodeString decomposition;
        if (nfd != nullptr && nfd->getRawDecomposition(c, decomposition)) {
            for (int32_t i = 0; i < decomposition.length(); i = decomposition.moveIndex32(i, 1))
                composable.insert(static_cast<char32_t>(decomposition.char32At(i)));
        }
    }
    const UVersionInfo unicode6 = {6, 0, 0, 0};
    std::vector<char32_t> marks;
    for (UChar32 c = 0; c <= 0x10FFFF; ++c) {
        UVersionInfo age;
        u_charAge(c, age);
        if (age[0] == 0 || std::memcmp(age, unicode6, sizeof age) > 0)
            continue;
        if (u_charType(c) == U_NON_SPACING_MARK && u_getCombiningClass(c) == 230
            && u_charDirection(c) == U_DIR_NON_SPACING_MARK
            && u_getIntPropertyValue(c, UCHAR_DECOMPOSITION_TYPE) == U_DT_NONE
            && !composable.contains(static_cast<char32_t>(c)))
            marks.push_back(static_cast<char32_t>(c));
    }
    return marks;
}

TEST(KittyPlaceholderDiacritics, AreTheMarksAboveThatNeverComposeInTheirOrder)
{
    const std::vector<char32_t> table(kittyPlaceholderDiacritics.begin(), kittyPlaceholderDiacritics.end());
    EXPECT_EQ(table, derivedDiacritics());
    for (std::size_t i = 0; i < kittyPlaceholderDiacritics.size(); ++i)
        EXPECT_EQ(kittyPlaceholderDiacriticIndex(kittyPlaceholderDiacritics[i]), static_cast<int>(i));
    EXPECT_EQ(kittyPlaceholderDiacriticIndex(0x0301), std::nullopt) << "composes with its base";
    EXPECT_EQ(kittyPlaceholderDiacriticIndex(U'a'), std::nullopt);
    EXPECT_EQ(kittyPlaceholderDiacriticIndex(0x1D245), std::nullopt);
}

// U+10EEEE followed by the diacritics of the given numbers.
std::u32string placeholder(std::vector<int> numbers, std::vector<char32_t> extra = {})
{
    std::u32string text(1, kittyPlaceholderCharacter);
    text.append(extra.begin(), extra.end());
    for (const int n : numbers)
        text += kittyPlaceholderDiacritics[static_cast<std::size_t>(n)];
    return text;
}

struct DecodeCase {
    const char* name;
    std::u32string text;
    Color foreground;
    std::optional<Color> underline;
    std::optional<KittyPlaceholderCell> previous; // at row 4, column 6, in the previous colours below
    Color previousForeground;
    std::optional<KittyPlaceholderCell> expected; // at row 4, column 7
};

void PrintTo(const DecodeCase& c, std::ostream* out) { *out << c.name; }

class KittyPlaceholderDecode : public testing::TestWithParam<DecodeCase> {};

TEST_P(KittyPlaceholderDecode, GivesThePieceAndTheIds)
{
    const DecodeCase& c = GetParam();
    EXPECT_EQ(decodeKittyPlaceholderCell(c.text, c.foreground, c.underline, 4, 7, c.previous, c.previousForeground,
                                         c.underline),
              c.expected);
}

// A decoded cell at row 4 and the given column.
KittyPlaceholderCell at(int col, std::uint32_t imageId, std::uint32_t placementId, int row, int column, int msb = 0)
{
    return KittyPlaceholderCell{4, col, imageId, placementId, row, column, msb};
}

const Color red = Color::trueColor(1, 2, 3);
const Color five = Color::ansi256(5);

INSTANTIATE_TEST_SUITE_P(
    Cells, KittyPlaceholderDecode,
    testing::Values(
        DecodeCase{"plain text", U"a", five, std::nullopt, std::nullopt, five, std::nullopt},
        DecodeCase{"empty", U"", five, std::nullopt, std::nullopt, five, std::nullopt},
        DecodeCase{"alone after its neighbour", placeholder({}), five, std::nullopt, at(6, 5, 0, 2, 5), five,
                   at(7, 5, 0, 2, 6)},
        DecodeCase{"alone after a neighbour in another colour", placeholder({}), five, std::nullopt, at(6, 5, 0, 2, 5),
                   red, at(7, 5, 0, 0, 0)},
        DecodeCase{"alone at the start", placeholder({}), five, std::nullopt, std::nullopt, five, at(7, 5, 0, 0, 0)},
        DecodeCase{"row and column", placeholder({0, 1}), five, std::nullopt, std::nullopt, five, at(7, 5, 0, 0, 1)},
        DecodeCase{"row, column and top byte", placeholder({2, 0, 3}), red, std::nullopt, std::nullopt, red,
                   at(7, 0x03010203, 0, 2, 0, 3)},
        DecodeCase{"row only continues the same row", placeholder({2}), red, std::nullopt, at(6, 0x03010203, 0, 2, 5, 3),
                   red, at(7, 0x03010203, 0, 2, 6, 3)},
        DecodeCase{"row only, another row", placeholder({1}), red, std::nullopt, at(6, 0x03010203, 0, 2, 5, 3), red,
                   at(7, 0x010203, 0, 1, 0)},
        DecodeCase{"row and next column keep the top byte", placeholder({2, 6}), red, std::nullopt,
                   at(6, 0x03010203, 0, 2, 5, 3), red, at(7, 0x03010203, 0, 2, 6, 3)},
        DecodeCase{"row and a far column drop it", placeholder({2, 9}), red, std::nullopt, at(6, 0x03010203, 0, 2, 5, 3),
                   red, at(7, 0x010203, 0, 2, 9)},
        DecodeCase{"underline gives the placement", placeholder({0, 0}), five, Color::ansi256(7), std::nullopt, five,
                   at(7, 5, 7, 0, 0)},
        DecodeCase{"true-colour underline", placeholder({0, 0}), five, Color::trueColor(0, 1, 0), std::nullopt, five,
                   at(7, 5, 256, 0, 0)},
        DecodeCase{"default colours carry no id", placeholder({0, 0}), Color::defaultInvertedColor(),
                   Color::defaultColor(), std::nullopt, five, at(7, 0, 0, 0, 0)},
        DecodeCase{"other marks are skipped", placeholder({0, 1}, {0x0301}), five, std::nullopt, std::nullopt, five,
                   at(7, 5, 0, 0, 1)},
        DecodeCase{"top byte past 255", placeholder({0, 0, 290}), five, std::nullopt, std::nullopt, five,
                   at(7, 0xFF000005, 0, 0, 0, 290)},
        DecodeCase{"a fourth mark is ignored", placeholder({1, 2, 3, 4}), five, std::nullopt, std::nullopt, five,
                   at(7, 0x03000005, 0, 1, 2, 3)}));

TEST(KittyPlaceholderDecode, NeighbourMustStandJustLeftOnTheSameRow)
{
    const KittyPlaceholderCell left = at(6, 5, 0, 2, 5);
    const std::u32string text = placeholder({});
    const auto decode = [&](int row, int col) {
        return decodeKittyPlaceholderCell(text, five, std::nullopt, row, col, left, five, std::nullopt)->placeholderCol;
    };
    EXPECT_EQ(decode(4, 7), 6);
    EXPECT_EQ(decode(5, 7), 0);
    EXPECT_EQ(decode(4, 8), 0);
    // Underline colours must agree too.
    EXPECT_EQ(decodeKittyPlaceholderCell(text, five, Color::ansi256(7), 4, 7, left, five, std::nullopt)->placeholderCol, 0);
}

} // namespace
} // namespace corvantix::test
