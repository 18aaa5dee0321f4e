// Entry point of the application's widget tests: one QApplication for the whole run (on the
// offscreen platform unless the environment names another), then GoogleTest. After each test
// the event loop runs until the host programs its models started have ended, so no run's
// coroutine is left suspended when the program ends (the models hold their state weakly
// across a run, so a run may end after its model).
#include <gtest/gtest.h>

#include <QApplication>
#include <QDeadlineTimer>

#include <cstdlib>

#include "remote/Shell.h"

namespace {

class HostWorkDrain : public testing::EmptyTestEventListener {
    void OnTestEnd(const testing::TestInfo&) override
    {
        const QDeadlineTimer deadline(30000);
        while (halvoren::Shell::runsInFlight() > 0 && !deadline.hasExpired())
            QCoreApplication::processEvents(QEventLoop::AllEvents | QEventLoop::WaitForMoreEvents, 50);
    }
};

} // namespace

int main(int argc, char** argv)
{
    if (std::getenv("QT_QPA_PLATFORM") == nullptr)
        setenv("QT_QPA_PLATFORM", "offscreen", 1);
    QApplication application(argc, argv);
    testing::InitGoogleTest(&argc, argv);
    testing::UnitTest::GetInstance()->listeners().Append(new HostWorkDrain);
    return RUN_ALL_TESTS();
}
