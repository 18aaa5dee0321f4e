#include "platform/SingleInstance.h"

#include "app/support/TempFolder.h"

#include <QFile>
#include <QLocalSocket>
#include <QSignalSpy>
#include <QTest>

#include <gtest/gtest.h>

#include <csignal>

#include <fcntl.h>
#include <spawn.h>
#include <sys/file.h>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;

namespace halvoren {
namespace {

using Claim = SingleInstance::Claim;
using test::TempFolder;

TEST(SingleInstance, ALaunchOnAHeldFolderRaisesTheHolderAndOtherFoldersRunBeside)
{
    TempFolder home;
    const QString folder = home.file(QStringLiteral("config/halvoren"));
    SingleInstance holder(folder);
    QSignalSpy raised(&holder, &SingleInstance::raiseRequested);
    ASSERT_EQ(holder.claim(), Claim::first);

    // The same folder under another spelling is the same configuration.
    ASSERT_TRUE(QFile::link(home.file(QStringLiteral("config")), home.file(QStringLiteral("alias"))));
    SingleInstance second(home.file(QStringLiteral("alias/../alias/halvoren")));
    EXPECT_EQ(second.socketPath(), holder.socketPath());
    EXPECT_EQ(second.claim(), Claim::forwarded);
    EXPECT_TRUE(QTest::qWaitFor([&] { return raised.size() == 1; }, 10000));

    SingleInstance other(home.file(QStringLiteral("elsewhere/halvoren")));
    EXPECT_NE(other.socketPath(), holder.socketPath());
    EXPECT_EQ(other.claim(), Claim::first);
    EXPECT_EQ(raised.size(), 1);
}

TEST(SingleInstance, OnlyAWholeRaiseLineIsHeard)
{
    TempFolder home;
    SingleInstance holder(home.file(QStringLiteral("halvoren")));
    QSignalSpy raised(&holder, &SingleInstance::raiseRequested);
    ASSERT_EQ(holder.claim(), Claim::first);
    for (const auto& [message, raises] : {std::pair<QByteArray, int>{"raise\n", 1},
                                          {"raise", 0},
                                          {"lower\n", 0},
                                          {"raise\nraise\n", 1},
                                          {QByteArray(100, 'r') + "\n", 0},
                                          {QByteArray(100000, 'r'), 0}}) {
        raised.clear();
        QLocalSocket peer;
        peer.connectToServer(holder.socketPath());
        ASSERT_TRUE(peer.waitForConnected(5000));
        peer.write(message);
        ASSERT_TRUE(peer.waitForBytesWritten(5000) || peer.bytesToWrite() == 0);
        // The holder ends the conversation, whatever was said.
        EXPECT_TRUE(QTest::qWaitFor([&] { return peer.state() == QLocalSocket::UnconnectedState; }, 10000))
            << message.left(20).toStdString();
        EXPECT_EQ(raised.size(), raises) << message.left(20).toStdString();
    }
}

// A program the holder starts (a tmux server outlives the application) must not keep the
// folder taken once the holder is gone.
TEST(SingleInstance, AProgramStartedByTheHolderDoesNotInheritTheFolder)
{
    TempFolder home;
    const QString folder = home.file(QStringLiteral("halvoren"));
    pid_t child = -1;
    {
        SingleInstance holder(folder);
        ASSERT_EQ(holder.claim(), Claim::first);
        char program[] = "/bin/sleep";
        char duration[] = "60";
        char* argv[] = {program, duration, nullptr};
        ASSERT_EQ(::posix_spawn(&child, program, nullptr, nullptr, argv, environ), 0);
    }
    // With patience: for a moment after it starts, a child still shares the descriptors it
    // will close on exec.
    SingleInstance next(folder);
    EXPECT_EQ(next.claim(std::chrono::seconds(5)), Claim::first);
    ::kill(child, SIGKILL);
    ::waitpid(child, nullptr, 0);
}

// Held by a process that does not listen (still starting, or stuck): the launch gives up
// after its patience instead of starting a second application.
TEST(SingleInstance, AHolderThatNeverAnswersLeavesTheLaunchUnanswered)
{
    TempFolder home;
    const QString folder = home.file(QStringLiteral("halvoren"));
    SingleInstance probe(folder);
    const int held = ::open(QFile::encodeName(probe.lockPath()).constData(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
    ASSERT_GE(held, 0);
    ASSERT_EQ(::flock(held, LOCK_EX | LOCK_NB), 0);
    EXPECT_EQ(probe.claim(std::chrono::milliseconds(300)), Claim::unanswered);
    ::close(held);
    EXPECT_EQ(probe.claim(std::chrono::milliseconds(0)), Claim::first);
}

} // namespace
} // namespace halvoren
