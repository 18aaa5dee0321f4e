#include "platform/RunLoop.h"

#include <cerrno>
#include <cstdint>
#include <ctime>
#include <poll.h>
#include <sys/eventfd.h>
#include <system_error>
#include <unistd.h>

namespace corvantix {

RunLoop::RunLoop()
    : wakeDescriptor(::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK))
{
    if (wakeDescriptor < 0)
        throw std::system_error(errno, std::generic_category(), "eventfd");
}

RunLoop::~RunLoop()
{
    ::close(wakeDescriptor);
}

void RunLoop::wake()
{
    const std::uint64_t one = 1;
    // A full counter (EAGAIN) still leaves the descriptor readable, which is all we need.
    [[maybe_unused]] const ssize_t written = ::write(wakeDescriptor, &one, sizeof one);
}

void RunLoop::post(Work work)
{
    {
        std::lock_guard<std::mutex> guard(lock);
        posted.push_back(std::move(work));
    }
    wake();
}

MainQueue::Token RunLoop::postAfter(std::chrono::nanoseconds delay, Work work)
{
    Token token;
    {
        std::lock_guard<std::mutex> guard(lock);
        token = nextToken++;
        const Clock::time_point deadline = Clock::now() + delay;
        delayed.emplace(DelayedKey{deadline, token}, std::move(work));
        deadlines.emplace(token, deadline);
    }
    // The loop may be asleep with a later wake-up time.
    wake();
    return token;
}

void RunLoop::cancel(Token token)
{
    Work dropped;
    {
        std::lock_guard<std::mutex> guard(lock);
        const auto found = deadlines.find(token);
        if (found == deadlines.end())
            return;
        const auto item = delayed.find(DelayedKey{found->second, token});
        dropped = std::move(item->second);
        delayed.erase(item);
        deadlines.erase(found);
    }
    // `dropped` is destroyed outside the lock: its captures may post or cancel.
}

std::size_t RunLoop::pendingCount() const
{
    std::lock_guard<std::mutex> guard(lock);
    return posted.size() + delayed.size();
}

bool RunLoop::runOneReadyItem()
{
    Work work;
    {
        std::lock_guard<std::mutex> guard(lock);
        if (!delayed.empty() && delayed.begin()->first.first <= Clock::now()) {
            const auto first = delayed.begin();
            work = std::move(first->second);
            deadlines.erase(first->first.second);
            delayed.erase(first);
        } else if (!posted.empty()) {
            work = std::move(posted.front());
            posted.pop_front();
        } else {
            return false;
        }
    }
    work();
    return true;
}

void RunLoop::waitForWork(Clock::time_point deadline)
{
    Clock::time_point until = deadline;
    {
        std::lock_guard<std::mutex> guard(lock);
        if (!posted.empty())
            return;
        if (!delayed.empty() && delayed.begin()->first.first < until)
            until = delayed.begin()->first.first;
    }
    const auto remaining = until - Clock::now();
    if (remaining <= Clock::duration::zero())
        return;
    const auto ns = std::chrono::duration_cast<std::chrono::nanoseconds>(remaining).count();
    timespec timeout{};
    timeout.tv_sec = static_cast<time_t>(ns / 1'000'000'000);
    timeout.tv_nsec = static_cast<long>(ns % 1'000'000'000);
    pollfd descriptor{wakeDescriptor, POLLIN, 0};
    // A post between the check above and this call leaves the eventfd readable: no lost wake-up.
    const int ready = ::ppoll(&descriptor, 1, &timeout, nullptr);
    if (ready > 0) {
        std::uint64_t count = 0;
        [[maybe_unused]] const ssize_t got = ::read(wakeDescriptor, &count, sizeof count);
    }
}

bool RunLoop::runUntil(const std::function<bool()>& predicate, Clock::time_point deadline)
{
    for (;;) {
        if (predicate())
            return true;
        if (Clock::now() >= deadline)
            return false;
        if (!runOneReadyItem())
            waitForWork(deadline);
    }
}

void RunLoop::runFor(std::chrono::nanoseconds duration)
{
    runUntil([] { return false; }, Clock::now() + duration);
}

} // namespace corvantix
