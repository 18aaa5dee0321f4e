#include <gtest/gtest.h>

#include "model/UnicodeUtil.h"

namespace corvantix {
namespace {

TEST(WidthColumnWidth, Table)
{
    struct Case { char32_t scalar; int width; };
    const Case cases[] = {
        {0x0000, 0},  {0x0007, -1}, {0x001F, -1}, {0x0020, 1},  {0x0041, 1},   {0x007E, 1},   {0x007F, -1},
        {0x009B, -1}, {0x009F, -1}, {0x00A0, 1},  {0x00AD, 1},  {0x0301, 0},   {0x0483, 0},   {0x0488, 0},
        {0x0903, 0},  {0x200B, 0},  {0x2028, 0},  {0x2029, 0},  {0x1100, 2},   {0x115F, 2},   {0x1160, 0},
        {0x11FF, 0},  {0x1200, 1},  {0x231A, 2},  {0x3000, 2},  {0x4E00, 2},   {0xAC00, 2},   {0xD7A3, 2},
        {0xD7A4, 1},  {0xD7B0, 0},  {0xD7FF, 0},  {0xFF01, 2},  {0xFF3E, 2},   {0xFF40, 2},   {0xFFE3, 2},
        {0xFF61, 1},  {0x1F1E6, 2}, {0x1F1FF, 2}, {0x1F3FB, 0}, {0x1F3FF, 0},  {0x1F600, 2},  {0x1F64F, 2},
        {0x1F650, 1}, {0x20000, 2}, {0x3FFFD, 2}, {0x3FFFE, 1}, {0xE0001, 0},  {0x10FFFF, 1},
    };
    for (const Case& c : cases)
        EXPECT_EQ(UnicodeUtil::columnWidth(c.scalar), c.width) << std::hex << "U+" << static_cast<uint32_t>(c.scalar);
}

TEST(WidthColumnWidth, LowTableAgreesWithTheRules)
{
    const auto& table = UnicodeUtil::lowWidthTable();
    for (char32_t c = 0; c < UnicodeUtil::lowTableSize; ++c)
        ASSERT_EQ(table[c], UnicodeUtil::computeWidth(c)) << std::hex << static_cast<uint32_t>(c);
}

// The binary search needs sorted ranges that do not overlap.
TEST(WidthRangeTables, SortedAndDisjoint)
{
    for (const auto table : {UnicodeUtil::wideRanges(), UnicodeUtil::emojiVariationBases()}) {
        for (size_t i = 0; i < table.size(); ++i)
            EXPECT_TRUE(table[i].first <= table[i].last && (i + 1 == table.size() || table[i].last < table[i + 1].first)) << i;
    }
}

TEST(WidthBisearch, BoundsAndMax)
{
    const auto wide = UnicodeUtil::wideRanges();
    const auto bases = UnicodeUtil::emojiVariationBases();
    // The first range's edge, the last range's edge, and between the last two.
    for (const char32_t c : {0x1100, 0x3FFFD})
        EXPECT_TRUE(UnicodeUtil::bisearch(c, wide, UnicodeUtil::wideRangesMax)) << std::hex << uint32_t(c);
    for (const char32_t c : {0x10FF, 0x3FFFE, 0x2FFFE})
        EXPECT_FALSE(UnicodeUtil::bisearch(c, wide, UnicodeUtil::wideRangesMax)) << std::hex << uint32_t(c);
    // max limits the ranges searched.
    EXPECT_TRUE(UnicodeUtil::bisearch(0x1100, wide, 0));
    EXPECT_FALSE(UnicodeUtil::bisearch(0x231A, wide, 0));
    EXPECT_TRUE(UnicodeUtil::bisearch(0x23, bases, UnicodeUtil::emojiVariationBasesMax));
    EXPECT_FALSE(UnicodeUtil::bisearch(0x22, bases, UnicodeUtil::emojiVariationBasesMax));
}

TEST(WidthTextPresentationEmoji, Cases)
{
    EXPECT_TRUE(UnicodeUtil::isTextPresentationEmoji(std::u32string_view(U"\u2764")));
    EXPECT_TRUE(UnicodeUtil::isTextPresentationEmoji(std::string_view("\xE2\x9D\xA4")));
    // Emoji by default, below 256, with a selector, empty, not an emoji.
    for (const std::u32string_view text : {U"\U0001F600", U"#", U"\u00A9", U"\u2764\uFE0F", U"", U"\u4E00"})
        EXPECT_FALSE(UnicodeUtil::isTextPresentationEmoji(text)) << static_cast<uint32_t>(text.empty() ? 0 : text[0]);
    // Emoji by default, empty, truncated, two scalars, a surrogate.
    for (const std::string_view text : {"\xF0\x9F\x98\x80", "", "\xE2\x9D", "\xE2\x9D\xA4 ", "\xED\xA0\x80"})
        EXPECT_FALSE(UnicodeUtil::isTextPresentationEmoji(text)) << text.size();
}

} // namespace
} // namespace corvantix
