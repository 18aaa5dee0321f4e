#include "emulator/CC.h"
#include "emulator/EscapeSequences.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <string_view>
#include <vector>

namespace corvantix {
namespace {

std::string text(std::span<const std::uint8_t> bytes)
{
    return std::string(bytes.begin(), bytes.end());
}

TEST(CCFraming, SevenAndEightBitReplies)
{
    const CC sevenBit;
    const CC eightBit{true};
    EXPECT_FALSE(sevenBit.send8bit);
    struct Row {
        std::string actual;
        std::string_view expected;
    };
    const Row rows[] = {
        {sevenBit.csiReply("12;1R"), "\x1b[12;1R"},
        {eightBit.csiReply("12;1R"), "\x9b" "12;1R"},
        {sevenBit.dcsReply("1$r0m"), "\x1bP1$r0m\x1b\\"},
        {eightBit.dcsReply("1$r0m"), "\x90" "1$r0m\x9c"},
        {sevenBit.oscReply("10;rgb:ffff/ffff/ffff"), "\x1b]10;rgb:ffff/ffff/ffff\x1b\\"},
        {eightBit.oscReply("10;rgb:ffff/ffff/ffff"), "\x9d" "10;rgb:ffff/ffff/ffff\x9c"},
        {sevenBit.apcReply("Gi=1;OK"), "\x1b_Gi=1;OK\x1b\\"},
        {eightBit.apcReply("Gi=1;OK"), "\x9fGi=1;OK\x9c"},
    };
    for (const Row& row : rows)
        EXPECT_EQ(row.actual, row.expected);
    // The 8-bit forms are single raw bytes, not UTF-8.
    EXPECT_EQ(eightBit.csi().size(), 1u);
    EXPECT_EQ(static_cast<unsigned char>(eightBit.st()[0]), 0x9C);
}

TEST(CCEscapeSequences, KeySequences)
{
    namespace ES = EscapeSequences;
    ASSERT_EQ(ES::functionKeys.size(), 12u);
    EXPECT_EQ(text(ES::functionKeys[0]), "\x1bOP");
    EXPECT_EQ(text(ES::functionKeys[4]), "\x1b[15~");
    EXPECT_EQ(text(ES::functionKeys[11]), "\x1b[24~");
    for (const auto& key : ES::functionKeys) {
        EXPECT_EQ(text(key).find("16"), std::string::npos);
        EXPECT_EQ(text(key).find("22"), std::string::npos);
    }
    EXPECT_EQ(text(ES::upApplication), "\x1bOA");
    EXPECT_EQ(text(ES::upNormal), "\x1b[A");
    EXPECT_EQ(text(ES::endApplication), "\x1bOF");
    EXPECT_EQ(text(ES::homeNormal), "\x1b[H");
    EXPECT_EQ(text(ES::controlLeft), "\x1b[1;5D");
    EXPECT_EQ(text(ES::backTab), "\x1b[Z");
    EXPECT_EQ(text(ES::delete_), "\x7f");
}

TEST(CCEscapeSequences, BracketedPasteMarkersAreSettable)
{
    namespace ES = EscapeSequences;
    const std::vector<std::uint8_t> start = ES::bracketedPasteStart();
    EXPECT_EQ(text(start), "\x1b[200~");
    EXPECT_EQ(text(ES::bracketedPasteEnd()), "\x1b[201~");

    const std::string replacement = "<paste>";
    ES::setBracketedPasteStart(
        std::span(reinterpret_cast<const std::uint8_t*>(replacement.data()), replacement.size()));
    EXPECT_EQ(text(ES::bracketedPasteStart()), "<paste>");
    ES::setBracketedPasteStart(start);
    EXPECT_EQ(text(ES::bracketedPasteStart()), "\x1b[200~");
}

} // namespace
} // namespace corvantix
