#include "platform/Log.h"

#include <gtest/gtest.h>

namespace corvantix {
namespace {

TEST(Log, InfoLinesAreGatedBySilentLog)
{
    testing::internal::CaptureStdout();
    logInfo(true, "hidden");
    logInfo(false, "Corvantix: shown");
    printLine("always");
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "Info: Corvantix: shown\nalways\n");
}

} // namespace
} // namespace corvantix
