// Collects the engine's diagnostic lines while it lives, in place of their streams, and
// puts the previous sink back when it goes.
#pragma once

#include "platform/Log.h"

#include <mutex>
#include <string>
#include <string_view>
#include <utility>

namespace corvantix {

class LogCapture {
public:
    LogCapture()
        : previous_(setLogSink([this](LogStream, std::string_view line) {
            std::lock_guard<std::mutex> guard(lock_);
            text_.append(line);
            text_.push_back('\n');
        }))
    {
    }
    ~LogCapture() { setLogSink(std::move(previous_)); }

    LogCapture(const LogCapture&) = delete;
    LogCapture& operator=(const LogCapture&) = delete;

    // The lines captured since the last take, each ending in a newline.
    std::string take()
    {
        std::lock_guard<std::mutex> guard(lock_);
        return std::exchange(text_, std::string());
    }

private:
    std::mutex lock_;
    std::string text_;
    LogSink previous_;
};

} // namespace corvantix
