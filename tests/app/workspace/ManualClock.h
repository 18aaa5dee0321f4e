// A model clock that moves only when a test advances it, running the delays and timers that
// fall due on the way in time order.
#pragma once

#include "workspace/MacModel.h"

#include <QPointer>
#include <QTimer>

#include <chrono>

namespace halvoren::test {

class ManualClock : public ModelClock {
public:
    QDateTime current{QDate(2026, 3, 2), QTime(9, 0), Qt::UTC};

    QDateTime now() const override { return current; }
    QTimer* after(double seconds, QObject* context, std::function<void()> action) override
    {
        return add(seconds, 0, context, std::move(action));
    }
    QTimer* every(double seconds, QObject* context, std::function<void()> action) override
    {
        return add(seconds, seconds, context, std::move(action));
    }

    // Moves time on by `seconds`; a stopped timer (a cancelled delay) does not run.
    void advance(double seconds)
    {
        const QDateTime end = current.addMSecs(qint64(seconds * 1000));
        for (;;) {
            qsizetype next = -1;
            for (qsizetype i = 0; i < jobs.size(); ++i) {
                const Job& job = jobs.at(i);
                if (job.handle && job.handle->isActive() && job.due <= end && (next < 0 || job.due < jobs.at(next).due))
                    next = i;
            }
            if (next < 0)
                break;
            const Job job = jobs.at(next);
            current = std::max(current, job.due);
            if (job.period > 0) {
                jobs[next].due = job.due.addMSecs(qint64(job.period * 1000));
            } else {
                jobs.removeAt(next);
                job.handle->stop();
            }
            job.action();
        }
        current = end;
    }

private:
    struct Job {
        QDateTime due;
        double period;
        QPointer<QTimer> handle;
        std::function<void()> action;
    };

    QTimer* add(double seconds, double period, QObject* context, std::function<void()> action)
    {
        // Never fires by itself: it only tells whether the delay is still wanted.
        auto* handle = new QTimer(context);
        handle->start(std::chrono::hours(24));
        jobs.append(Job{current.addMSecs(qint64(seconds * 1000)), period, handle, std::move(action)});
        return handle;
    }

    QList<Job> jobs;
};

} // namespace halvoren::test
