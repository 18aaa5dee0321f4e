// Every tool and benchmark answers --help with its usage and refuses what it does not know.
#include "engine/tools/ToolRun.h"

#include <gtest/gtest.h>

#include <unistd.h>

#include <string>

namespace {

using corvantix::test::ToolRun;
using corvantix::test::runShell;
using corvantix::test::shellWord;

struct Tool {
    const char* folder; // beside the tools folder of the build: "tools" or "bench"
    const char* name;
    const char* valued; // an option that takes a value
};

// The benchmarks are built only with HALVOREN_BENCH, the windowed tools only with the Qt
// layers: a tool this build does not make is left out (none is missing from `make test`'s).
constexpr Tool tools[] = {
    {"tools", "vtfeed", "--cols"},
    {"tools", "vtrun", "--timeout"},
    {"tools", "termwindow", "--cells"},
    {"tools", "hvmodel", "--home"},
    {"bench", "corvantix-bench", "--runs"},
    {"bench", "corvantix-gpu-bench", "--frames"},
    {"bench", "halvoren-hostile-bench", "--case"},
};

std::string pathOf(const Tool& tool)
{
    const std::string tools = corvantix::test::toolPath("");
    return std::string(tool.folder) == "tools" ? tools + tool.name : tools + "../" + tool.folder + "/" + tool.name;
}

// Without a display or a platform plugin of choice: answering --help must not open a window.
ToolRun runWithoutDisplay(const std::string& path, const std::string& arguments)
{
    return runShell("env -u DISPLAY -u WAYLAND_DISPLAY -u QT_QPA_PLATFORM " + shellWord(path) + " " + arguments
                    + " < /dev/null");
}

TEST(ToolArguments, HelpPrintsTheUsageAndAMistakePrintsItOnStandardError)
{
    int checked = 0;
    for (const Tool& tool : tools) {
        const std::string path = pathOf(tool);
        if (::access(path.c_str(), X_OK) != 0)
            continue;
        ++checked;
        SCOPED_TRACE(tool.name);
        const std::string usage = std::string("usage: ") + tool.name;

        for (const char* help : {"--help", "-h"}) {
            const ToolRun run = runWithoutDisplay(path, help);
            EXPECT_EQ(run.exitCode, 0) << help << "\n" << run.err;
            EXPECT_TRUE(run.out.starts_with(usage)) << help << "\n" << run.out;
            EXPECT_NE(run.out.find(tool.valued), std::string::npos) << help << "\n" << run.out;
            EXPECT_EQ(run.err, "") << help;
        }

        struct Mistake {
            std::string arguments;
            std::string reason;
        };
        const Mistake mistakes[] = {
            {"--no-such-option", "unknown option --no-such-option"},
            {"--no-such-option --help", "unknown option --no-such-option"},
            {"-x", "unknown option -x"},
            {tool.valued, std::string(tool.valued) + " needs a value"},
        };
        for (const Mistake& mistake : mistakes) {
            const ToolRun run = runWithoutDisplay(path, mistake.arguments);
            EXPECT_EQ(run.exitCode, 2) << mistake.arguments << "\n" << run.err;
            EXPECT_EQ(run.out, "") << mistake.arguments;
            EXPECT_TRUE(run.err.starts_with(std::string(tool.name) + ": " + mistake.reason + "\n" + usage))
                << mistake.arguments << "\n" << run.err;
        }
    }
    // vtfeed and vtrun are built in every configuration.
    EXPECT_GE(checked, 2);
}

TEST(ToolArguments, RefusedValuesAndOperandsGiveTheUsageAndStatus2)
{
    struct Case {
        Tool tool;
        const char* arguments;
        const char* reason;
    };
    const Case cases[] = {
        {tools[0], "--cols 0", "bad value for --cols: 0"},
        {tools[0], "extra", "unexpected operand extra (the input is read from standard input)"},
        {tools[1], "true", "the program to run goes after --"},
        {tools[2], "--cells 100", "bad value for --cells: 100"},
        {tools[3], "--home /tmp", "a command is missing"},
        {tools[3], "frobnicate", "unknown command frobnicate"},
        {tools[3], "open", "open takes 1 word"},
        {tools[3], "tabs extra", "tabs takes 0 words"},
        {tools[4], "--engine other", "bad value for --engine: other"},
        {tools[4], "--only no-such-stream", "bad value for --only: no-such-stream"},
        {tools[5], "--cols x", "bad value for --cols: x"},
    };
    for (const Case& c : cases) {
        const std::string path = pathOf(c.tool);
        if (::access(path.c_str(), X_OK) != 0)
            continue;
        SCOPED_TRACE(std::string(c.tool.name) + " " + c.arguments);
        const ToolRun run = runWithoutDisplay(path, c.arguments);
        EXPECT_EQ(run.exitCode, 2);
        EXPECT_EQ(run.out, "");
        EXPECT_TRUE(run.err.starts_with(std::string(c.tool.name) + ": " + c.reason + "\nusage: " + c.tool.name))
            << run.err;
    }
}

} // namespace
