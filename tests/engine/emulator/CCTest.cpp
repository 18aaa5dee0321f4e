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

// The other introducers are checked through the replies of the terminal; APC replies come
// only from the graphics protocol.
TEST(CCFraming, ApcRepliesInBothForms)
{
    const CC sevenBit;
    const CC eightBit{true};
    EXPECT_EQ(sevenBit.apcReply("Gi=1;OK"), "\x1b_Gi=1;OK\x1b\\");
    EXPECT_EQ(eightBit.apcReply("Gi=1;OK"), "\x9fGi=1;OK\x9c"); // single raw bytes, not UTF-8
}

TEST(CCEscapeSequences, FunctionKeysSkipTheUnusedNumbers)
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
