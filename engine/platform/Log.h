// Diagnostic lines of the engine. The emulator prints its diagnostics on standard
// output; the profiling channel goes to standard error only when CORVANTIX_PROFILE=1.
#pragma once

#include <string_view>

namespace corvantix {

// Prints one line on standard output, always (inconsistency reports of the screen model).
void printLine(std::string_view message);

// Prints "Info: " + message on standard output unless the terminal is silent.
void logInfo(bool silentLog, std::string_view message);

// True when the environment variable CORVANTIX_PROFILE is exactly "1" (read once).
bool profilingEnabled();

// Writes one profiling line on standard error in the given category, when profiling is on.
void logProfile(std::string_view category, std::string_view message);

} // namespace corvantix
