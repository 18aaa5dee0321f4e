#include "platform/qt/QtMainQueue.h"

#include <QMetaObject>
#include <QObject>
#include <QTimer>

#include <algorithm>
#include <limits>
#include <utility>

namespace corvantix {

QtMainQueue::QtMainQueue() : context(std::make_unique<QObject>()) {}

QtMainQueue::~QtMainQueue() = default;

void QtMainQueue::post(Work work)
{
    // A queued invocation: runs from the event loop of the context's thread, never inline.
    QMetaObject::invokeMethod(context.get(), std::move(work), Qt::QueuedConnection);
}

MainQueue::Token QtMainQueue::postAfter(std::chrono::nanoseconds delay, Work work)
{
    const auto milliseconds = std::chrono::ceil<std::chrono::milliseconds>(std::max(delay, std::chrono::nanoseconds(0)));
    const auto interval = static_cast<int>(std::min<std::chrono::milliseconds::rep>(
        milliseconds.count(), std::numeric_limits<int>::max()));

    const Token token = nextToken++;
    // A child of the context, so a timer released below is deleted with the queue at the latest.
    auto timer = std::make_unique<QTimer>(context.get());
    timer->setSingleShot(true);
    timer->setTimerType(Qt::PreciseTimer);
    QObject::connect(timer.get(), &QTimer::timeout, context.get(), [this, token] { fire(token); });
    timer->start(interval);
    timers.emplace(token, std::make_pair(std::move(timer), std::move(work)));
    return token;
}

void QtMainQueue::cancel(Token token)
{
    const auto it = timers.find(token);
    if (it == timers.end())
        return;
    // Cancelling from inside another item's work is fine; a timer is never deleted while
    // it is emitting (its own item has been taken out before its work runs).
    timers.erase(it);
}

void QtMainQueue::fire(Token token)
{
    const auto it = timers.find(token);
    if (it == timers.end())
        return;
    // Taken out first so the work may cancel or post freely; the timer that is emitting
    // right now is deleted once control is back in the event loop.
    QTimer* timer = it->second.first.release();
    Work work = std::move(it->second.second);
    timers.erase(it);
    timer->deleteLater();
    work();
}

} // namespace corvantix
