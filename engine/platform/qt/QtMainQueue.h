// The main queue on Qt's event loop. Work posted from any thread runs on the thread that
// built the queue (the GUI thread); delayed work runs from single-shot precise timers and
// can be cancelled by its token. Destroying the queue drops everything still waiting.
#pragma once

#include "platform/MainQueue.h"

#include <map>
#include <memory>

class QObject;
class QTimer;

namespace corvantix {

class QtMainQueue final : public MainQueue {
public:
    // Binds the queue to the calling thread, which must run a Qt event loop.
    QtMainQueue();
    ~QtMainQueue() override;
    QtMainQueue(const QtMainQueue&) = delete;
    QtMainQueue& operator=(const QtMainQueue&) = delete;

    void post(Work work) override;
    // The delay is rounded up to whole milliseconds (the timer's resolution).
    Token postAfter(std::chrono::nanoseconds delay, Work work) override;
    void cancel(Token token) override;
    Clock::time_point now() const override { return Clock::now(); }

    // Delayed items still waiting.
    std::size_t delayedCount() const { return timers.size(); }

private:
    void fire(Token token);

    // Receives the posted work; everything queued for it is dropped with it.
    std::unique_ptr<QObject> context;
    Token nextToken = 1;
    std::map<Token, std::pair<std::unique_ptr<QTimer>, Work>> timers;
};

} // namespace corvantix
