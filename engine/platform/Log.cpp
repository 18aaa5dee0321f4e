#include "platform/Log.h"

#include <cstdio>
#include <cstdlib>
#include <mutex>
#include <string>
#include <utility>

namespace corvantix {

namespace {
// Guards the sink and keeps lines from different threads whole.
std::mutex& outputLock()
{
    static std::mutex lock;
    return lock;
}

LogSink& currentSink()
{
    static LogSink sink;
    return sink;
}

void writeLine(LogStream stream, std::string_view line)
{
    std::lock_guard<std::mutex> guard(outputLock());
    if (const LogSink& sink = currentSink()) {
        sink(stream, line);
        return;
    }
    std::FILE* file = stream == LogStream::standardError ? stderr : stdout;
    if (!line.empty())
        std::fwrite(line.data(), 1, line.size(), file);
    std::fputc('\n', file);
    std::fflush(file);
}

void writeLine(LogStream stream, std::string_view prefix, std::string_view message)
{
    std::string line;
    line.reserve(prefix.size() + message.size());
    line.append(prefix);
    line.append(message);
    writeLine(stream, line);
}
} // namespace

LogSink setLogSink(LogSink sink)
{
    std::lock_guard<std::mutex> guard(outputLock());
    return std::exchange(currentSink(), std::move(sink));
}

void printLine(std::string_view message)
{
    writeLine(LogStream::standardOutput, message);
}

void logInfo(bool silentLog, std::string_view message)
{
    if (silentLog)
        return;
    writeLine(LogStream::standardOutput, "Info: ", message);
}

void logError(std::string_view message)
{
    writeLine(LogStream::standardError, message);
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
    writeLine(LogStream::standardError, prefix, message);
}

void logCategory(LogLevel level, std::string_view category, std::string_view message)
{
    std::string prefix = "[";
    prefix.append(category);
    switch (level) {
    case LogLevel::info:
        prefix.append("] info: ");
        break;
    case LogLevel::error:
        prefix.append("] error: ");
        break;
    case LogLevel::fault:
        prefix.append("] fault: ");
        break;
    }
    writeLine(LogStream::standardError, prefix, message);
}

} // namespace corvantix
