// Runs the built vtfeed tool on sample input and checks what it prints.
#include "engine/graphics/KittyTestSupport.h"
#include "engine/tools/ToolRun.h"

#include <gtest/gtest.h>

#include <sys/resource.h>

#include <fstream>
#include <string>

namespace {

using corvantix::ScratchFolder;
using corvantix::test::ToolRun;

long childrenMaxResidentKilobytes()
{
    rusage children{};
    getrusage(RUSAGE_CHILDREN, &children);
    return children.ru_maxrss;
}

// The sanitizer's shadow of the heap raises the bound under ASan.
#if defined(__SANITIZE_ADDRESS__)
constexpr long kHalfAGigabyteKilobytes = 500 * 1000 * 9 / 8;
#else
constexpr long kHalfAGigabyteKilobytes = 500 * 1000;
#endif

// Runs vtfeed with the output of a shell command as its input.
ToolRun runVtfeedFrom(const std::string& arguments, const std::string& producer)
{
    using namespace corvantix::test;
    return runShell("{ " + producer + "; } | " + shellWord(toolPath("vtfeed")) + " " + arguments);
}

ToolRun runVtfeed(const std::string& arguments, const std::string& input)
{
    ScratchFolder scratch;
    if (!scratch.valid())
        return {};
    const std::string inputPath = scratch.file("input");
    std::ofstream(inputPath, std::ios::binary) << input;
    return runVtfeedFrom(arguments, "cat " + corvantix::test::shellWord(inputPath));
}

TEST(Vtfeed, PrintsScrollbackRowsCursorAndReplies)
{
    struct Case {
        const char* arguments;
        std::string input;
        const char* out;
    };
    const Case cases[] = {
        {"--cols 20 --rows 3", "hello\r\nworld\x1b(0lqk", "|hello|\n|world┌─┐|\n||\ncursor 8 1\n"},
        {"--scrollback --cols 10 --rows 2", "a\r\nb\r\nc\r\nd", "~|a|\n~|b|\n|c|\n|d|\ncursor 1 1\n"},
        {"--cols 10 --rows 2", "ab\x1b[6n", "|ab|\n||\ncursor 2 0\nreply 1b5b313b3352\n"},
    };
    for (const Case& c : cases) {
        const ToolRun run = runVtfeed(c.arguments, c.input);
        EXPECT_EQ(run.exitCode, 0) << c.arguments;
        EXPECT_EQ(run.out, c.out) << c.arguments;
        EXPECT_EQ(run.err, "") << c.arguments;
    }
}

TEST(Vtfeed, ChunkedFeedGivesTheSameScreen)
{
    const std::string input = "caf\xc3\xa9 \xf0\x9f\x98\x80 e\xcc\x81\r\n\x1b[31mred\x1b[0m \xe4\xb8\xad\xe6\x96\x87";
    const ToolRun whole = runVtfeed("--cols 12 --rows 3", input);
    EXPECT_EQ(whole.exitCode, 0);
    EXPECT_EQ(whole.out, "|caf\xc3\xa9 \xf0\x9f\x98\x80 e\xcc\x81|\n|red \xe4\xb8\xad\xe6\x96\x87|\n||\ncursor 8 1\n");
    for (const char* chunk : {"1", "2", "3", "5"}) {
        const ToolRun pieces = runVtfeed(std::string("--cols 12 --rows 3 --chunk ") + chunk, input);
        EXPECT_EQ(pieces.exitCode, 0);
        EXPECT_EQ(pieces.out, whole.out) << "chunk " << chunk;
    }
}

TEST(Vtfeed, ImageCommandIsAnswered)
{
    // ESC _ "Gi=5;OK" ESC backslash
    const ToolRun run = runVtfeed("--cols 10 --rows 2", "\x1b_Ga=T,f=24,s=1,v=1,i=5;AAAA\x1b\\");
    EXPECT_EQ(run.exitCode, 0);
    EXPECT_EQ(run.out, "||\n||\ncursor 0 0\nimage 1x1 at 0 0\nreply 1b5f47693d353b4f4b1b5c\n");
}

TEST(Vtfeed, CompressedImageBombStaysBelowHalfAGigabyte)
{
    // An encoded image has no size to check against, so inflation runs up to the 400 MiB
    // cap and must stop there, holding no more than that.
    const std::string input = "\x1b_Ga=t,i=1,f=100,o=z;" + corvantix::base64Encode(corvantix::test::deflateBomb()) + "\x1b\\";
    const ToolRun run = runVtfeed("--cols 10 --rows 1", input);
    EXPECT_EQ(run.exitCode, 0);
    // ESC _ "Gi=1;EINVAL: bad payload" ESC backslash
    EXPECT_NE(run.out.find("reply 1b5f47693d313b45494e56414c3a20626164207061796c6f61641b5c"), std::string::npos);
    EXPECT_LT(childrenMaxResidentKilobytes(), kHalfAGigabyteKilobytes);
}

TEST(Vtfeed, PrintsTheImagesHandedOver)
{
    struct Case {
        const char* name;
        std::string input;
        const char* out;
    };
    const Case cases[] = {
        {"sixel at the cursor", "ab\x1bPq#0;2;100;0;0#0!3~\x1b\\", "|ab|\n||\ncursor 2 0\nimage 3x6 at 2 0\n"},
        {"two in order", "\x1bPq#0~-~\x1b\\\r\n\x1bP0;1q\"1;1;2;2#1!4?\x1b\\",
         "||\n||\ncursor 0 1\nimage 1x12 at 0 0\nimage 4x0 at 0 1\n"},
        {"oversized sixel refused", "\x1bPq#0!999999999~\x1b\\x", "|x|\n||\ncursor 1 0\n"},
        {"intermediates are not sixel", "\x1bP q#0~\x1b\\", "||\n||\ncursor 0 0\n"},
    };
    for (const Case& c : cases) {
        const ToolRun run = runVtfeed("--cols 10 --rows 2", c.input);
        EXPECT_EQ(run.exitCode, 0) << c.name;
        EXPECT_EQ(run.out, c.out) << c.name;
    }
}

TEST(Vtfeed, SixelBombsStayBelowHalfAGigabyte)
{
    // A repeat that would make an image a billion pixels wide.
    const ToolRun repeat = runVtfeed("--cols 10 --rows 1", "\x1bPq#0!999999999~\x1b\\");
    EXPECT_EQ(repeat.out, "||\ncursor 0 0\n");
    EXPECT_LT(childrenMaxResidentKilobytes(), kHalfAGigabyteKilobytes);

    // 600 MiB of data in one string: collection stops at 400 MiB and nothing is drawn.
    const ToolRun stream = runVtfeedFrom("--cols 10 --rows 1 --chunk 65536",
                                         "printf '\\033Pq#0'; head -c 629145600 /dev/zero | tr '\\0' '?'; "
                                         "printf '\\033\\\\x'");
    EXPECT_EQ(stream.exitCode, 0);
    EXPECT_EQ(stream.out, "|x|\ncursor 1 0\n");
    EXPECT_LT(childrenMaxResidentKilobytes(), kHalfAGigabyteKilobytes);
}

TEST(Vtfeed, BadArgumentsPrintUsageAndExitWithTwo)
{
    for (const char* arguments : {"--cols", "--cols 0", "--rows x", "--rows 5x", "--chunk -1", "--bogus",
                                  "--cols 100000", "extra"}) {
        const ToolRun run = runVtfeed(arguments, "text");
        EXPECT_EQ(run.exitCode, 2) << arguments;
        EXPECT_EQ(run.out, "") << arguments;
        EXPECT_NE(run.err.find("usage: vtfeed"), std::string::npos) << arguments;
    }
}

} // namespace
