// Runs the built vtrun tool and checks what it prints and how it exits.
#include "engine/tools/ToolRun.h"

#include <gtest/gtest.h>

#include <csignal>
#include <filesystem>
#include <fstream>
#include <string>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace {

using corvantix::test::shellWord;
using ToolResult = corvantix::test::ToolRun;

class VtrunTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(scratch.valid());
        ASSERT_EQ(::access(tool.c_str(), X_OK), 0) << tool;
    }

    ToolResult run(const std::vector<std::string>& arguments)
    {
        std::string command = shellWord(tool);
        for (const std::string& argument : arguments)
            command += " " + shellWord(argument);
        return corvantix::test::runShell(command + " < /dev/null");
    }

    corvantix::ScratchFolder scratch;
    const std::filesystem::path directory = scratch.path;
    const std::string tool = corvantix::test::toolPath("vtrun");
};

TEST_F(VtrunTest, PrintsTheFinalScreenAndExitsWithTheProgramsStatus)
{
    const ToolResult result = run({"--cols", "40", "--rows", "5", "--", "sh", "-c", "printf 'a\\nb'; exit 3"});
    EXPECT_EQ(result.exitCode, 3);
    EXPECT_EQ(result.out, "|a|\n|b|\n||\n||\n||\ncursor 1 1\n");
    EXPECT_EQ(result.err, "");
}

TEST_F(VtrunTest, ListsTheImagesTheProgramShowed)
{
    const ToolResult result
        = run({"--cols", "10", "--rows", "2", "--", "sh", "-c", "printf 'ab\\033Pq#0;2;0;0;100#0!5~-~\\033\\\\'"});
    EXPECT_EQ(result.exitCode, 0);
    EXPECT_EQ(result.out, "|ab|\n||\ncursor 2 0\nimage 5x12 at 2 0\n");
}

TEST_F(VtrunTest, ExitStatusFollowsTheProgramsEnd)
{
    struct Case {
        const char* script;
        int exitCode;
    };
    for (const Case& c : {Case{"exit 0", 0}, Case{"exit 7", 7}, Case{"kill -TERM $$", 128 + SIGTERM},
                          Case{"kill -KILL $$", 128 + SIGKILL}}) {
        SCOPED_TRACE(c.script);
        EXPECT_EQ(run({"--rows", "1", "--", "sh", "-c", c.script}).exitCode, c.exitCode);
    }
}

TEST_F(VtrunTest, ProgramSeesTheSizeAndItsQueriesAreAnswered)
{
    // The child reads the cursor report in raw mode and prints it as hex (raw output: the
    // line feed does not return the carriage).
    const ToolResult result = run({"--cols", "40", "--rows", "3", "--", "sh", "-c",
                                   "stty size; stty raw -echo; printf '\\033[6n'; "
                                   "dd bs=1 count=6 2>/dev/null | od -An -tx1"});
    EXPECT_EQ(result.exitCode, 0);
    EXPECT_EQ(result.out, "|3 40|\n"
                          "| 1b 5b 32 3b 31 52|\n"
                          "||\n"
                          "cursor 18 2\n"
                          "reply 1b5b323b3152\n");
}

TEST_F(VtrunTest, TimeOutEndsTheProgramAndGives124)
{
    const std::string pidFile = (directory / "pid").string();
    const ToolResult result
        = run({"--timeout", "1", "--rows", "2", "--", "sh", "-c", "echo $$ > " + pidFile + "; exec sleep 600"});
    EXPECT_EQ(result.exitCode, 124);
    EXPECT_EQ(result.out, "||\n||\ncursor 0 0\n");

    // When the program got as far as telling its id, it must be gone (not left running).
    std::ifstream in(pidFile);
    pid_t child = 0;
    if (in >> child && child > 0) {
        EXPECT_TRUE(corvantix::pollUntil([&] { return ::kill(child, 0) != 0; })) << "the program is still running";
    }
}

TEST_F(VtrunTest, BadArgumentsPrintTheUsageAndGive2)
{
    const std::vector<std::vector<std::string>> cases{
        {},
        {"--"},
        {"true"},
        {"--cols"},
        {"--cols", "x", "--", "true"},
        {"--cols", "0", "--", "true"},
        {"--rows", "10001", "--", "true"},
        {"--timeout", "0", "--", "true"},
        {"--timeout", "-1", "--", "true"},
        {"--timeout", "nan", "--", "true"},
        {"--bogus", "--", "true"},
    };
    for (const auto& arguments : cases) {
        std::string joined;
        for (const auto& argument : arguments)
            joined += " " + argument;
        SCOPED_TRACE(joined);
        const ToolResult result = run(arguments);
        EXPECT_EQ(result.exitCode, 2);
        EXPECT_EQ(result.out, "");
        EXPECT_TRUE(result.err.starts_with("vtrun: ")) << result.err;
        EXPECT_NE(result.err.find("\nusage: vtrun"), std::string::npos) << result.err;
    }
}

TEST_F(VtrunTest, AProgramThatCannotRunGives127AndTheReason)
{
    const std::string script = (directory / "not-executable").string();
    std::ofstream(script) << "#!/bin/sh\necho hi\n";
    ::chmod(script.c_str(), 0644);
    struct Case {
        std::string program;
        std::string reason;
    };
    for (const Case& c : {Case{"no-such-program-for-vtrun", "command not found"},
                          Case{(directory / "missing").string(), "No such file or directory"},
                          Case{script, "Permission denied"}, Case{directory.string(), "Is a directory"}}) {
        SCOPED_TRACE(c.program);
        const ToolResult result = run({"--", c.program});
        EXPECT_EQ(result.exitCode, 127);
        EXPECT_EQ(result.out, "");
        EXPECT_EQ(result.err, "vtrun: " + c.program + ": " + c.reason + "\n");
    }
}

} // namespace
