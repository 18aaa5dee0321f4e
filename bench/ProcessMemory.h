// The benchmark's view of its own memory: resident and peak sizes from /proc/self/status, and
// a way to start the peak again from the current size.
#pragma once

#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace corvantix::bench {

// A field of /proc/self/status ("VmRSS", "VmHWM") in bytes; -1 when it cannot be read.
inline long statusBytes(const char* field)
{
    std::FILE* status = std::fopen("/proc/self/status", "r");
    if (status == nullptr)
        return -1;
    char line[256];
    long kilobytes = -1;
    const std::size_t length = std::strlen(field);
    while (std::fgets(line, sizeof line, status) != nullptr) {
        if (std::strncmp(line, field, length) == 0 && line[length] == ':') {
            kilobytes = std::strtol(line + length + 1, nullptr, 10);
            break;
        }
    }
    std::fclose(status);
    return kilobytes < 0 ? -1 : kilobytes * 1024;
}

// Lets the peak resident size start again from the current one.
inline void resetPeak()
{
    if (std::FILE* refs = std::fopen("/proc/self/clear_refs", "w")) {
        std::fputs("5", refs);
        std::fclose(refs);
    }
}

} // namespace corvantix::bench
