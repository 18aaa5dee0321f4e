#include "process/HeadlessTerminal.h"

#include "engine/emulator/TerminalTestSupport.h"
#include "platform/RunLoop.h"

#include <gtest/gtest.h>

#include <chrono>
#include <csignal>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <sys/wait.h>
#include <vector>

namespace corvantix {
namespace {

using namespace std::chrono_literals;

// Generous: only reached when something is broken.
constexpr auto kTimeout = 60s;
const std::vector<std::string> kEnvironment{"PATH=/usr/bin:/bin", "TERM=xterm-256color"};

class HeadlessTerminalTest : public ::testing::Test {
protected:
    void make(int cols = 80, int rows = 25)
    {
        TerminalOptions options;
        options.cols = cols;
        options.rows = rows;
        host = std::make_unique<HeadlessTerminal>(loop, options,
                                                  [this](std::optional<std::int32_t> status) { ends.push_back(status); });
    }

    void startShell(const std::string& script)
    {
        host->process().startProcess("/bin/sh", {"-c", script}, kEnvironment);
        ASSERT_TRUE(host->process().running());
    }

    bool runUntil(const std::function<bool()>& predicate)
    {
        return loop.runUntil(predicate, RunLoop::Clock::now() + kTimeout);
    }

    // Until the child has ended and its output has been read to the end.
    bool runUntilFinished(std::size_t endCount = 1)
    {
        return runUntil([&] { return ends.size() >= endCount && host->process().childfd() < 0; });
    }

    std::vector<std::string> screen() const { return screenLines(host->terminal()); }

    RunLoop loop;
    std::vector<std::optional<std::int32_t>> ends;
    std::unique_ptr<HeadlessTerminal> host;
};

TEST_F(HeadlessTerminalTest, HostInputReachesTheChildAndComesBackAsOutput)
{
    make(20, 5);
    startShell("exec cat");
    host->sendText("ping\r");
    // The terminal's echo and cat's own copy, both read from the child's output.
    ASSERT_TRUE(runUntil([&] { return screen()[1] == "ping"; }));
    EXPECT_EQ(screen()[0], "ping");
    host->sendText("\x04"); // end of file for cat
    ASSERT_TRUE(runUntilFinished());
    ASSERT_EQ(ends.size(), 1u);
    EXPECT_EQ(ends[0], std::optional<std::int32_t>(0));
}

TEST_F(HeadlessTerminalTest, HostInputIsScannedForASubmittedCommandButRepliesAreNot)
{
    make();
    const Buffer& screenBuffer = host->terminal().buffer();
    const auto armInput = [&] { feed(host->terminal(), "\033]133;B\007"); };

    // A reply that looks like Enter is still the terminal's own output.
    armInput();
    host->send(host->terminal(), bytesOf("\r"));
    ASSERT_TRUE(runUntil([&] { return loop.pendingCount() == 0; }));
    EXPECT_EQ(screenBuffer.semanticInput, SemanticInputState::armed);

    // Without Enter nothing is submitted.
    host->sendText("ls");
    ASSERT_TRUE(runUntil([&] { return loop.pendingCount() == 0; }));
    EXPECT_EQ(screenBuffer.semanticInput, SemanticInputState::armed);

    // No child runs: the bytes are dropped, but the scan still sees them.
    host->sendText("\r");
    ASSERT_TRUE(runUntil([&] { return screenBuffer.semanticInput == SemanticInputState::submitted; }));
}

TEST_F(HeadlessTerminalTest, ReportsTheRawStatusOfEachChildOnce)
{
    make();
    startShell("exit 3");
    ASSERT_TRUE(runUntilFinished(1));
    // The same host runs another child afterwards.
    startShell("kill -TERM $$");
    ASSERT_TRUE(runUntilFinished(2));
    loop.runFor(10ms);

    ASSERT_EQ(ends.size(), 2u);
    ASSERT_TRUE(ends[0] && ends[1]);
    EXPECT_TRUE(WIFEXITED(*ends[0]));
    EXPECT_EQ(WEXITSTATUS(*ends[0]), 3);
    EXPECT_TRUE(WIFSIGNALED(*ends[1]));
    EXPECT_EQ(WTERMSIG(*ends[1]), SIGTERM);
}

TEST_F(HeadlessTerminalTest, KeepsOnlyTheNewestImages)
{
    make();
    constexpr int handedOver = 70;
    for (int i = 0; i < handedOver; ++i) {
        std::vector<std::uint8_t> bitmap(4, static_cast<std::uint8_t>(i));
        host->createImageFromBitmap(host->terminal(), bitmap, i, 1);
    }
    ASSERT_EQ(host->images().size(), HeadlessTerminal::maximumImages);
    EXPECT_EQ(host->images().front().width, handedOver - 64);
    EXPECT_EQ(host->images().back().data, std::vector<std::uint8_t>(4, handedOver - 1));

    // An inline file ("hi") from the child's output counts towards the same cap.
    feed(host->terminal(), "\033]1337;File=inline=1;width=3:aGk=\007");
    ASSERT_EQ(host->images().size(), HeadlessTerminal::maximumImages);
    EXPECT_EQ(host->images().front().width, handedOver - 63);
    const HeadlessTerminal::Image& encoded = host->images().back();
    EXPECT_EQ(encoded.kind, HeadlessTerminal::Image::Kind::encoded);
    EXPECT_EQ(encoded.data, std::vector<std::uint8_t>({'h', 'i'}));
    EXPECT_EQ(encoded.widthRequest, ImageSizeRequest::cells(3));
    EXPECT_EQ(encoded.heightRequest, ImageSizeRequest::automatic());

    // A list set by the host is held to the cap as well, newest kept.
    std::vector<HeadlessTerminal::Image> many(100);
    for (int i = 0; i < 100; ++i)
        many[static_cast<std::size_t>(i)].width = i;
    host->setImages(std::move(many));
    ASSERT_EQ(host->images().size(), HeadlessTerminal::maximumImages);
    EXPECT_EQ(host->images().front().width, 36);
    host->setImages({});
    EXPECT_TRUE(host->images().empty());
}

TEST_F(HeadlessTerminalTest, KeepsTheDirectoryTheChildReports)
{
    make();
    EXPECT_EQ(host->dir(), std::nullopt);
    feed(host->terminal(), "\033]7;file://host/tmp/a b\007");
    EXPECT_EQ(host->dir(), std::optional<std::string>("file://host/tmp/a b"));
}

TEST_F(HeadlessTerminalTest, ChangeScrollbackBoundsTheHistory)
{
    make(10, 3);
    host->changeScrollback(2);
    for (int i = 0; i < 10; ++i)
        feed(host->terminal(), "line" + std::to_string(i) + "\r\n");
    EXPECT_EQ(scrollbackLines(host->terminal()), (std::vector<std::string>{"line6", "line7"}));
    EXPECT_EQ(host->terminal().options().scrollback, 2);

    host->changeScrollback(std::nullopt);
    EXPECT_TRUE(scrollbackLines(host->terminal()).empty());
    EXPECT_EQ(host->terminal().options().scrollback, 0);
}

TEST_F(HeadlessTerminalTest, DestroyedWithAChildRunningAndInputQueued)
{
    make();
    startShell("exec sleep 30");
    const pid_t child = host->process().shellPid();
    host->sendText("x\r");
    host.reset();
    // The queued scan finds the host gone.
    loop.runFor(10ms);
    // Closing the terminal hangs the child up; it is reaped, never left a zombie.
    EXPECT_TRUE(runUntil([&] { return ::kill(child, 0) != 0; }));
    EXPECT_TRUE(ends.empty());
}

} // namespace
} // namespace corvantix
