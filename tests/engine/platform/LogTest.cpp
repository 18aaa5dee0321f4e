#include "platform/Log.h"

#include "engine/platform/LogCapture.h"

#include <gtest/gtest.h>

#include <string>
#include <thread>
#include <utility>
#include <vector>

namespace corvantix {
namespace {

TEST(Log, EachLineReachesTheSinkWithItsStream)
{
    std::vector<std::pair<LogStream, std::string>> lines;
    const LogSink previous = setLogSink([&](LogStream stream, std::string_view line) {
        lines.emplace_back(stream, std::string(line));
    });
    logInfo(true, "hidden");
    logInfo(false, "Corvantix: shown");
    printLine("always");
    printLine("");
    logError("broken ring");
    setLogSink(previous);

    const std::vector<std::pair<LogStream, std::string>> expected = {
        {LogStream::standardOutput, "Info: Corvantix: shown"},
        {LogStream::standardOutput, "always"},
        {LogStream::standardOutput, ""},
        {LogStream::standardError, "broken ring"},
    };
    EXPECT_EQ(lines, expected);
}

TEST(Log, CapturesNestAndPutTheOuterSinkBack)
{
    LogCapture outer;
    printLine("one");
    {
        LogCapture inner;
        printLine("two");
        EXPECT_EQ(inner.take(), "two\n");
    }
    printLine("three");
    EXPECT_EQ(outer.take(), "one\nthree\n");
    EXPECT_EQ(outer.take(), "");
}

TEST(Log, LinesFromManyThreadsArriveWhole)
{
    LogCapture log;
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t)
        threads.emplace_back([] {
            for (int i = 0; i < 200; ++i)
                printLine("0123456789");
        });
    for (std::thread& thread : threads)
        thread.join();
    const std::string text = log.take();
    std::string expected;
    for (int i = 0; i < 800; ++i)
        expected += "0123456789\n";
    EXPECT_EQ(text, expected);
}

} // namespace
} // namespace corvantix
