#include "platform/ManualMainQueue.h"

namespace corvantix {

void ManualMainQueue::post(Work work)
{
    std::lock_guard<std::mutex> guard(postedLock);
    posted.push_back(std::move(work));
}

MainQueue::Token ManualMainQueue::postAfter(std::chrono::nanoseconds delay, Work work)
{
    const Token token = nextToken++;
    delayed.emplace(token, Delayed{current + delay, std::move(work)});
    return token;
}

void ManualMainQueue::cancel(Token token)
{
    delayed.erase(token);
}

int ManualMainQueue::runPending()
{
    int ran = 0;
    for (;;) {
        std::vector<Work> batch;
        {
            std::lock_guard<std::mutex> guard(postedLock);
            batch.swap(posted);
        }
        if (batch.empty())
            return ran;
        for (auto& work : batch) {
            work();
            ++ran;
        }
    }
}

void ManualMainQueue::advance(std::chrono::nanoseconds delta)
{
    const Clock::time_point target = current + delta;
    for (;;) {
        // Earliest due item; ties keep the order they were queued in (token order).
        auto due = delayed.end();
        for (auto it = delayed.begin(); it != delayed.end(); ++it) {
            if (it->second.deadline <= target && (due == delayed.end() || it->second.deadline < due->second.deadline))
                due = it;
        }
        if (due == delayed.end())
            break;
        current = due->second.deadline;
        Work work = std::move(due->second.work);
        delayed.erase(due);
        work();
        runPending();
    }
    current = target;
    runPending();
}

} // namespace corvantix
