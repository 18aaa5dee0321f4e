#include "ViewTestSupport.h"

#include "platform/qt/QtMainQueue.h"

#include <gtest/gtest.h>

#include <QThread>

#include <thread>
#include <vector>

namespace corvantix {
namespace {

using namespace std::chrono_literals;
using testing::waitUntil;

TEST(QtMainQueue, WorkPostedFromAnotherThreadRunsOnTheQueuesThread)
{
    QtMainQueue queue;
    std::vector<int> order;
    bool onMainThread = true;
    QThread* const mainThread = QThread::currentThread();
    std::thread worker([&] {
        for (int i = 0; i < 3; ++i) {
            queue.post([&, i] {
                onMainThread = onMainThread && QThread::currentThread() == mainThread;
                order.push_back(i);
            });
        }
    });
    worker.join();
    EXPECT_TRUE(order.empty()); // never run inline
    ASSERT_TRUE(waitUntil([&] { return order.size() == 3; }));
    EXPECT_EQ(order, (std::vector<int>{0, 1, 2}));
    EXPECT_TRUE(onMainThread);
}

TEST(QtMainQueue, DelayedWorkRunsInDeadlineOrderAndCanBeCancelled)
{
    QtMainQueue queue;
    std::vector<std::string> ran;
    const auto start = queue.now();
    queue.postAfter(40ms, [&] { ran.push_back("late"); });
    const MainQueue::Token cancelled = queue.postAfter(10ms, [&] { ran.push_back("cancelled"); });
    queue.postAfter(20ms, [&] { ran.push_back("early"); });
    queue.cancel(cancelled);
    queue.cancel(cancelled);  // spent tokens are ignored
    queue.cancel(987654321); // and so are unknown ones
    EXPECT_EQ(queue.delayedCount(), 2u);

    ASSERT_TRUE(waitUntil([&] { return ran.size() == 2; }));
    EXPECT_EQ(ran, (std::vector<std::string>{"early", "late"}));
    EXPECT_GE(queue.now() - start, 40ms);
    EXPECT_EQ(queue.delayedCount(), 0u);
}

TEST(QtMainQueue, WorkMayQueueAndCancelFromInsideAnItem)
{
    QtMainQueue queue;
    int runs = 0;
    MainQueue::Token victim = 0;
    queue.postAfter(5ms, [&] {
        ++runs;
        queue.cancel(victim);
        queue.postAfter(0ms, [&] { ++runs; });
    });
    victim = queue.postAfter(30ms, [&] { runs += 100; });
    ASSERT_TRUE(waitUntil([&] { return runs >= 2; }));
    QThread::msleep(40);
    QCoreApplication::processEvents();
    EXPECT_EQ(runs, 2);
}

TEST(QtMainQueue, DestroyingTheQueueDropsWhatWaits)
{
    int runs = 0;
    {
        QtMainQueue queue;
        queue.post([&] { ++runs; });
        queue.postAfter(1ms, [&] { ++runs; });
    }
    QThread::msleep(5);
    QCoreApplication::processEvents();
    EXPECT_EQ(runs, 0);
}

} // namespace
} // namespace corvantix
