// Diagnostic lines of the engine. Every line goes through one sink: by default the emulator's
// diagnostics go to standard output and errors to standard error; the profiling channel
// writes only when CORVANTIX_PROFILE=1. A host (or a test) may put its own sink in place.
#pragma once

#include <functional>
#include <string_view>

namespace corvantix {

// The stream a line goes to when no sink is set.
enum class LogStream { standardOutput, standardError };

// Receives one line at a time, without its newline. Lines arrive one after another under a
// lock, from whichever thread wrote them; a sink must not write log lines itself.
using LogSink = std::function<void(LogStream stream, std::string_view line)>;

// Sends every following line to `sink` (an empty sink restores the streams) and returns the
// sink that was in place, so a caller can put it back.
LogSink setLogSink(LogSink sink);

// Prints one line on standard output, always (inconsistency reports of the screen model).
void printLine(std::string_view message);

// Prints "Info: " + message on standard output unless the terminal is silent.
void logInfo(bool silentLog, std::string_view message);

// Prints one line on standard error (a broken invariant just before the program stops, a
// renderer that recovered).
void logError(std::string_view message);

// True when the environment variable CORVANTIX_PROFILE is exactly "1" (read once).
bool profilingEnabled();

// Writes one profiling line on standard error in the given category, when profiling is on.
void logProfile(std::string_view category, std::string_view message);

// How serious a categorised line is: info for the record, error for a failure the engine
// works around, fault for a state that should not arise.
enum class LogLevel { info, error, fault };

// Writes "[category] level: message" on standard error, whatever the profiling switch says.
void logCategory(LogLevel level, std::string_view category, std::string_view message);

} // namespace corvantix
