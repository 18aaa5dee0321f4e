// A main queue for tests: posted work runs on runPending(), delayed work runs when
// advance() moves the clock past its deadline. Single-threaded apart from post().
#pragma once

#include "platform/MainQueue.h"

#include <map>
#include <mutex>
#include <utility>
#include <vector>

namespace corvantix {

class ManualMainQueue final : public MainQueue {
public:
    void post(Work work) override;
    Token postAfter(std::chrono::nanoseconds delay, Work work) override;
    void cancel(Token token) override;
    Clock::time_point now() const override { return current; }

    // Runs every posted item (including items posted while running); returns how many ran.
    int runPending();
    // Moves the clock forward, running due delayed work in deadline order, then posted work.
    void advance(std::chrono::nanoseconds delta);
    // Number of delayed items still waiting.
    std::size_t delayedCount() const { return delayed.size(); }

private:
    struct Delayed {
        Clock::time_point deadline;
        Work work;
    };

    Clock::time_point current{};
    Token nextToken = 1;
    std::map<Token, Delayed> delayed;
    std::mutex postedLock;
    std::vector<Work> posted;
};

} // namespace corvantix
