// Runs a built tool through the shell and collects what it prints and how it exits.
#pragma once

#include "engine/platform/ScratchFolder.h"

#include <sys/wait.h>

#include <cstdio>
#include <cstdlib>
#include <string>

namespace corvantix::test {

struct ToolRun {
    int exitCode = -1; // -1: did not exit normally
    std::string out;
    std::string err;
};

inline std::string toolPath(const char* name)
{
    const char* dir = std::getenv("HALVOREN_TOOLS_DIR");
    return std::string(dir != nullptr ? dir : HALVOREN_TOOLS_DIR) + "/" + name;
}

// The text as one word of the shell, quoted so nothing in it is special.
inline std::string shellWord(const std::string& text)
{
    std::string quoted = "'";
    for (const char c : text)
        quoted += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return quoted + "'";
}

// Runs a shell command line whose last command is the tool; its error output is collected too.
inline ToolRun runShell(const std::string& command)
{
    ScratchFolder scratch;
    ToolRun run;
    if (!scratch.valid())
        return run;
    const std::string errorPath = scratch.file("stderr");
    FILE* pipe = popen((command + " 2> " + shellWord(errorPath)).c_str(), "r");
    if (!pipe)
        return run;
    char chunk[4096];
    std::size_t got = 0;
    while ((got = std::fread(chunk, 1, sizeof chunk, pipe)) > 0)
        run.out.append(chunk, got);
    const int status = pclose(pipe);
    run.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    run.err = readFile(errorPath);
    return run;
}

} // namespace corvantix::test
