#include "graphics/KittyPlaceholder.h"

#include <gtest/gtest.h>
#include <unicode/uchar.h>

#include <optional>
#include <ostream>
#include <string>
#include <vector>

namespace corvantix::test {
namespace {

using Color = Attribute::Color;

TEST(KittyPlaceholderDiacritics, AreTheMarksAboveInTheirOrder)
{
    ASSERT_EQ(kittyPlaceholderDiacritics.size(), 297u);
    const std::vector<char32_t> first(kittyPlaceholderDiacritics.begin(), kittyPlaceholderDiacritics.begin() + 12);
    EXPECT_EQ(first, (std::vector<char32_t>{0x0305, 0x030D, 0x030E, 0x0310, 0x0312, 0x033D, 0x033E, 0x033F, 0x0346,
                                            0x034A, 0x034B, 0x034C}));
    const std::vector<char32_t> last(kittyPlaceholderDiacritics.end() - 5, kittyPlaceholderDiacritics.end());
    EXPECT_EQ(last, (std::vector<char32_t>{0x1D1AC, 0x1D1AD, 0x1D242, 0x1D243, 0x1D244}));
    for (std::size_t i = 0; i < kittyPlaceholderDiacritics.size(); ++i) {
        const char32_t mark = kittyPlaceholderDiacritics[i];
        EXPECT_EQ(u_getCombiningClass(static_cast<UChar32>(mark)), 230) << std::hex << static_cast<std::uint32_t>(mark);
        EXPECT_EQ(kittyPlaceholderDiacriticIndex(mark), static_cast<int>(i));
        if (i > 0) {
            EXPECT_LT(kittyPlaceholderDiacritics[i - 1], mark) << "in order, each once";
        }
    }
    EXPECT_EQ(kittyPlaceholderDiacriticIndex(0x0301), std::nullopt) << "composes with its base";
    EXPECT_EQ(kittyPlaceholderDiacriticIndex(U'a'), std::nullopt);
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
