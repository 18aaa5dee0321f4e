// Waits on this thread until a condition holds, polling it; false when the limit passes
// first. Limits are generous: they are only reached when something is broken.
#pragma once

#include <chrono>
#include <functional>
#include <thread>

namespace halvoren::test {

inline bool pollUntil(const std::function<bool()>& condition,
                      std::chrono::milliseconds limit = std::chrono::seconds(60),
                      std::chrono::milliseconds step = std::chrono::milliseconds(10))
{
    const auto end = std::chrono::steady_clock::now() + limit;
    while (!condition()) {
        if (std::chrono::steady_clock::now() >= end)
            return false;
        std::this_thread::sleep_for(step);
    }
    return true;
}

} // namespace halvoren::test
