#include "platform/Log.h"

#include <cstdio>
#include <cstdlib>
#include <mutex>
#include <string>

namespace corvantix {

namespace {
std::mutex& outputLock()
{
    static std::mutex lock;
    return lock;
}

void writeLine(std::FILE* stream, std::string_view prefix, std::string_view message)
{
    std::lock_guard<std::mutex> guard(outputLock());
    if (!prefix.empty())
        std::fwrite(prefix.data(), 1, prefix.size(), stream);
    if (!message.empty())
        std::fwrite(message.data(), 1, message.size(), stream);
    std::fputc('\n', stream);
    std::fflush(stream);
}
} // namespace

void printLine(std::string_view message)
{
    writeLine(stdout, {}, message);
}

void logInfo(bool silentLog, std::string_view message)
{
    if (silentLog)
        return;
    writeLine(stdout, "Info: ", message);
}

bool profilingEnabled()
{
    static const bool enabled = [] {
        const char* value = std::getenv("CORVANTIX_PROFILE");
        return value != nullptr && std::string_view(value) == "1";
    }();
    return enabled;
}

void logProfile(std::string_view category, std::string_view message)
{
    if (!profilingEnabled())
        return;
    std::string prefix = "[";
    prefix.append(category);
    prefix.append("] ");
    writeLine(stderr, prefix, message);
}

} // namespace corvantix
