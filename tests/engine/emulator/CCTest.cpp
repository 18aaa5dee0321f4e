#include "emulator/CC.h"

#include <gtest/gtest.h>

namespace corvantix {
namespace {

// The other introducers are checked through the replies of the terminal; APC replies come
// only from the graphics protocol.
TEST(CCFraming, ApcRepliesInBothForms)
{
    const CC sevenBit;
    const CC eightBit{true};
    EXPECT_EQ(sevenBit.apcReply("Gi=1;OK"), "\x1b_Gi=1;OK\x1b\\");
    EXPECT_EQ(eightBit.apcReply("Gi=1;OK"), "\x9fGi=1;OK\x9c"); // single raw bytes, not UTF-8
}

} // namespace
} // namespace corvantix
