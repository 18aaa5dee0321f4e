#include "platform/RunLoop.h"
#include "process/LocalProcess.h"
#include "process/PseudoTerminal.h"
#include "engine/platform/LogCapture.h"
#include "engine/platform/ScratchFolder.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <csignal>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <functional>
#include <grp.h>
#include <sstream>
#include <string>
#include <linux/sched.h>
#include <sys/resource.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <vector>

namespace corvantix {
namespace {

using namespace std::chrono_literals;
using PseudoTerminalHelpers::makeWinSize;

// Generous: only reached when something is broken.
constexpr auto kTimeout = 60s;
const std::vector<std::string> kPathOnly{"PATH=/usr/bin:/bin"};

class Recorder final : public LocalProcessDelegate {
public:
    void processTerminated(LocalProcess&, std::optional<std::int32_t> exitCode) override
    {
        ++terminations;
        lastExitCode = exitCode;
    }
    void dataReceived(std::span<const std::uint8_t> slice) override
    {
        data.insert(data.end(), slice.begin(), slice.end());
        if (onData)
            onData(slice);
    }
    winsize getWindowSize() override { return windowSize; }

    std::string text() const { return std::string(data.begin(), data.end()); }

    std::vector<std::uint8_t> data;
    int terminations = 0;
    std::optional<std::int32_t> lastExitCode;
    winsize windowSize = makeWinSize(24, 80, 0, 0);
    std::function<void(std::span<const std::uint8_t>)> onData;
};

// Printable bytes only: the terminal's output processing rewrites line feeds.
std::vector<std::uint8_t> patternBytes(std::size_t size)
{
    std::vector<std::uint8_t> bytes(size);
    std::uint32_t state = 12345;
    for (auto& byte : bytes) {
        state = state * 1103515245u + 12345u;
        byte = static_cast<std::uint8_t>(0x21 + (state >> 16) % 94);
    }
    return bytes;
}

// True once the process is no longer our child: reaped (no entry) or the id reused.
bool childGone(pid_t pid)
{
    std::ifstream stat("/proc/" + std::to_string(pid) + "/stat");
    std::string line;
    if (!std::getline(stat, line))
        return true;
    const auto close = line.rfind(')');
    if (close == std::string::npos)
        return true;
    std::istringstream rest(line.substr(close + 1));
    std::string state;
    pid_t parent = 0;
    rest >> state >> parent;
    return parent != ::getpid();
}

class LocalProcessTest : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(scratch.valid()); }

    // Some conditions change on the process's own threads without posting anything to the
    // loop (the writer's count, the descriptor closed by the reaper), so the loop's wait is cut
    // into short slices and the condition is checked again after each.
    bool runUntil(const std::function<bool()>& predicate)
    {
        const auto deadline = RunLoop::Clock::now() + kTimeout;
        for (;;) {
            const auto slice = std::min(deadline, RunLoop::Clock::now() + std::chrono::milliseconds(10));
            if (loop.runUntil(predicate, slice))
                return true;
            if (slice >= deadline)
                return false;
        }
    }
    // The end was reported and every byte read before end of file was delivered.
    bool finished(const LocalProcess& process) const
    {
        return recorder.terminations > 0 && process.childfd() == -1;
    }
    std::string writeFile(const std::string& name, std::span<const std::uint8_t> bytes)
    {
        const std::string path = scratch.file(name);
        std::ofstream file(path, std::ios::binary);
        file.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
        return path;
    }

    ScratchFolder scratch;
    const std::string directory = scratch.path.string();
    RunLoop loop;
    Recorder recorder;
};

TEST_F(LocalProcessTest, StartsTheProgramWithItsArgumentsEnvironmentNameAndDirectory)
{
    struct Case {
        const char* label;
        std::vector<std::string> args;
        std::optional<std::vector<std::string>> environment;
        std::optional<std::string> execName;
        std::optional<std::string> currentDirectory;
        std::string expected;
    };
    const std::vector<Case> cases{
        {"given environment", {"-c", "printf %s \"$FOO\""}, std::vector<std::string>{"FOO=bar"}, {}, {}, "bar"},
        {"default environment", {"-c", "printf '%s|%s|%s' \"$TERM\" \"$COLORTERM\" \"$LANG\""}, {}, {}, {},
         "xterm-256color|truecolor|en_US.UTF-8"},
        {"argument zero is the path", {"-c", "printf %s \"$0\""}, kPathOnly, {}, {}, "/bin/sh"},
        {"argument zero is the name", {"-c", "printf %s \"$0\""}, kPathOnly, "login-sh", {}, "login-sh"},
        {"working directory", {"-c", "printf %s \"$(pwd)\""}, kPathOnly, {}, "/usr", "/usr"},
    };
    for (const Case& each : cases) {
        SCOPED_TRACE(each.label);
        recorder = Recorder();
        LocalProcess process(&recorder, loop);
        process.startProcess("/bin/sh", each.args, each.environment, each.execName, each.currentDirectory);
        ASSERT_TRUE(process.running());
        EXPECT_GT(process.shellPid(), 0);
        ASSERT_TRUE(runUntil([&] { return finished(process); }));
        EXPECT_EQ(recorder.text(), each.expected);
        EXPECT_EQ(recorder.lastExitCode, 0);
        EXPECT_FALSE(process.running());
    }
}

TEST_F(LocalProcessTest, ReportsTheRawWaitStatusExactlyOnce)
{
    struct Case {
        const char* label;
        std::string executable;
        std::vector<std::string> args;
        int expected;
    };
    const std::vector<Case> cases{
        {"missing executable", "/nonexistent/program", {}, 127 << 8},
        {"exit status", "/bin/sh", {"-c", "exit 3"}, 3 << 8},
        {"killed by a signal", "/bin/sh", {"-c", "kill -TERM $$"}, SIGTERM},
    };
    for (const Case& each : cases) {
        SCOPED_TRACE(each.label);
        recorder = Recorder();
        LocalProcess process(&recorder, loop);
        process.startProcess(each.executable, each.args, kPathOnly);
        ASSERT_TRUE(runUntil([&] { return finished(process); }));
        loop.runFor(50ms);
        EXPECT_EQ(recorder.terminations, 1);
        EXPECT_EQ(recorder.lastExitCode, each.expected);
    }
}

TEST_F(LocalProcessTest, FloodPausesReadingAtHighWaterAndResumesAtLowWaterLosingNothing)
{
    const auto expected = patternBytes(10 * 1024 * 1024);
    const std::string file = writeFile("flood", expected);
    LocalProcess process(&recorder, loop);
    process.startProcess("/bin/cat", {file}, kPathOnly);
    ASSERT_TRUE(process.running());

    // The main queue is not run: reading must stop by itself.
    ASSERT_TRUE(pollUntil([&] { return process.readSuspendedForBackpressure(); }));
    const std::int64_t pendingAtPause = process.pendingByteCount();
    EXPECT_GE(pendingAtPause, LocalProcess::pendingHighWaterBytes);
    EXPECT_LT(pendingAtPause, LocalProcess::pendingHighWaterBytes + static_cast<std::int64_t>(LocalProcess::readSize));
    std::this_thread::sleep_for(100ms);
    EXPECT_EQ(process.pendingByteCount(), pendingAtPause) << "reading went on while paused";

    // While paused the reader adds nothing, so each delivery shows the exact pending size.
    bool wasPaused = true;
    std::int64_t lastPausedPending = pendingAtPause;
    int resumes = 0;
    recorder.onData = [&](std::span<const std::uint8_t> slice) {
        const bool paused = process.readSuspendedForBackpressure();
        const std::int64_t pending = process.pendingByteCount();
        if (paused) {
            EXPECT_GT(pending, LocalProcess::pendingLowWaterBytes) << "still paused at or below low water";
            lastPausedPending = pending;
        } else if (wasPaused) {
            ++resumes;
            EXPECT_LE(lastPausedPending - static_cast<std::int64_t>(slice.size()), LocalProcess::pendingLowWaterBytes)
                << "resumed above low water";
        }
        wasPaused = paused;
    };
    ASSERT_TRUE(runUntil([&] { return finished(process); }));
    recorder.onData = nullptr;

    EXPECT_GE(resumes, 1);
    EXPECT_EQ(recorder.data.size(), expected.size());
    EXPECT_TRUE(recorder.data == expected) << "bytes lost, reordered or corrupted";
    EXPECT_EQ(recorder.lastExitCode, 0);
    EXPECT_EQ(process.pendingByteCount(), 0);
}

TEST_F(LocalProcessTest, OutputLeftWhenTheChildExitsWhileReadingIsPausedIsStillDelivered)
{
    // Exactly the high-water mark first, so reading pauses once all of it is read; then, on
    // our signal, a tail small enough for the pseudo-terminal's buffer, and the child exits
    // with that tail still unread.
    const auto head = patternBytes(static_cast<std::size_t>(LocalProcess::pendingHighWaterBytes));
    const auto tail = patternBytes(2000);
    const std::string headFile = writeFile("head", head);
    const std::string tailFile = writeFile("tail", tail);
    LocalProcess process(&recorder, loop);
    process.startProcess("/bin/sh", {"-c", "stty raw -echo; cat " + headFile + "; head -c 1 >/dev/null; cat " + tailFile},
                         kPathOnly);
    const pid_t pid = process.shellPid();

    ASSERT_TRUE(pollUntil([&] { return process.readSuspendedForBackpressure(); }));
    const std::uint8_t go[] = {'g'};
    process.send(go);
    ASSERT_TRUE(pollUntil([&] {
        return childGone(pid) && PseudoTerminalHelpers::availableBytes(process.childfd()).count > 0;
    }));

    ASSERT_TRUE(runUntil([&] { return finished(process); }));
    EXPECT_EQ(recorder.lastExitCode, 0);
    std::vector<std::uint8_t> expected = head;
    expected.insert(expected.end(), tail.begin(), tail.end());
    EXPECT_EQ(recorder.data.size(), expected.size());
    EXPECT_TRUE(recorder.data == expected) << "bytes lost, reordered or corrupted";
}

TEST_F(LocalProcessTest, TerminateSignalsALiveChildWhichIsReapedWithoutReport)
{
    LocalProcess process(&recorder, loop);
    process.startProcess("/bin/sleep", {"60"}, kPathOnly);
    ASSERT_TRUE(process.running());
    const pid_t pid = process.shellPid();
    // The child never reads: the writer is left waiting for room when terminate comes.
    const std::vector<std::uint8_t> unread(1024 * 1024, 'x');
    process.send(unread);

    EXPECT_TRUE(process.terminate());
    EXPECT_FALSE(process.running());
    EXPECT_EQ(process.childfd(), -1);
    EXPECT_EQ(process.shellPid(), pid);

    // Reaped in the background: no zombie stays behind.
    ASSERT_TRUE(pollUntil([&] { return childGone(pid); }));
    loop.runFor(50ms);
    EXPECT_EQ(recorder.terminations, 0);
    EXPECT_FALSE(process.terminate()) << "nothing left to signal";
}

// A child signalled while attached: what it prints on its way out arrives, then its end is
// reported; once reaped, nothing more is sent.
TEST_F(LocalProcessTest, SignalChildKeepsTheOutputAndTheEndOfTheChild)
{
    LocalProcess process(&recorder, loop);
    process.startProcess("/bin/sh", {"-c", "trap 'echo leaving; exit 3' TERM; echo ready; while :; do sleep 0.05; done"},
                         kPathOnly);
    ASSERT_TRUE(runUntil([&] { return recorder.text().find("ready") != std::string::npos; }));
    EXPECT_TRUE(process.signalChild(SIGTERM));
    ASSERT_TRUE(runUntil([&] { return recorder.terminations == 1; }));
    EXPECT_NE(recorder.text().find("leaving"), std::string::npos) << recorder.text();
    ASSERT_TRUE(recorder.lastExitCode.has_value());
    EXPECT_TRUE(WIFEXITED(*recorder.lastExitCode) && WEXITSTATUS(*recorder.lastExitCode) == 3) << *recorder.lastExitCode;
    EXPECT_FALSE(process.signalChild(SIGTERM));
}

// Starts a process that waits for signals, with the given process id when the system lets
// us choose it (root can); -1 otherwise.
pid_t spawnWithPid(pid_t wanted)
{
    clone_args args{};
    args.exit_signal = SIGCHLD;
    args.set_tid = reinterpret_cast<std::uint64_t>(&wanted);
    args.set_tid_size = 1;
    const long pid = ::syscall(SYS_clone3, &args, sizeof args);
    if (pid == 0) {
        for (;;)
            ::pause();
    }
    return pid > 0 ? static_cast<pid_t>(pid) : -1;
}

TEST_F(LocalProcessTest, TerminateAfterTheChildWasReapedSignalsNothing)
{
    LocalProcess process(&recorder, loop);
    process.startProcess("/bin/true", {}, kPathOnly);
    const pid_t pid = process.shellPid();
    ASSERT_TRUE(runUntil([&] { return recorder.terminations == 1; }));

    // Give the freed id to an unrelated process, as the system may do at any time.
    const pid_t bystander = spawnWithPid(pid);
    EXPECT_FALSE(process.terminate());
    EXPECT_EQ(process.childfd(), -1);
    if (bystander < 0)
        GTEST_SKIP() << "cannot choose a process id here; the reused-id case is not exercised";
    ASSERT_EQ(bystander, pid);
    ::kill(bystander, SIGKILL);
    int status = 0;
    ASSERT_EQ(::waitpid(bystander, &status, 0), bystander);
    ASSERT_TRUE(WIFSIGNALED(status));
    EXPECT_EQ(WTERMSIG(status), SIGKILL) << "the process that reused the id was signalled";
}

TEST_F(LocalProcessTest, SendsReachTheChildInCallOrder)
{
    LocalProcess process(&recorder, loop);
    std::vector<std::uint8_t> sent;
    for (int i = 0; i < 500; ++i) {
        const std::string chunk = "chunk-" + std::to_string(i) + ";";
        sent.insert(sent.end(), chunk.begin(), chunk.end());
    }
    const auto bulk = patternBytes(200 * 1024); // more than the terminal's input buffer
    sent.insert(sent.end(), bulk.begin(), bulk.end());

    const std::string script = "stty raw -echo; printf READY; exec head -c " + std::to_string(sent.size());
    process.startProcess("/bin/sh", {"-c", script}, kPathOnly);
    ASSERT_TRUE(runUntil([&] { return recorder.text() == "READY"; }));
    recorder.data.clear();

    std::size_t offset = 0;
    for (int i = 0; i < 500; ++i) {
        const std::size_t size = ("chunk-" + std::to_string(i) + ";").size();
        process.send(std::span<const std::uint8_t>(sent).subspan(offset, size));
        offset += size;
    }
    process.send(std::span<const std::uint8_t>(sent).subspan(offset));
    EXPECT_EQ(process.sendCount(), 501);

    ASSERT_TRUE(runUntil([&] { return finished(process); }));
    EXPECT_EQ(recorder.data.size(), sent.size());
    EXPECT_TRUE(recorder.data == sent) << "bytes reordered or corrupted";
    EXPECT_EQ(process.total(), static_cast<std::int64_t>(sent.size()));
}

// The terminal sends UTF-8, so the line discipline's erase takes the whole character: a
// stray byte would, at a password prompt, change the password ssh receives.
TEST_F(LocalProcessTest, EraseInCanonicalModeRemovesAWholeCharacter)
{
    LocalProcess process(&recorder, loop);
    process.startProcess("/bin/sh", {"-c", "printf READY; IFS= read -r line; printf '[%s]' \"$line\""}, kPathOnly);
    ASSERT_TRUE(runUntil([&] { return recorder.text() == "READY"; }));
    const std::string typed = "a\xc3\xa9\x7f\n";
    process.send(std::span(reinterpret_cast<const std::uint8_t*>(typed.data()), typed.size()));
    ASSERT_TRUE(runUntil([&] { return finished(process); }));
    const std::string text = recorder.text();
    const std::size_t answer = text.rfind('[');
    ASSERT_NE(answer, std::string::npos) << text;
    EXPECT_EQ(text.substr(answer), "[a]") << text;
}

TEST_F(LocalProcessTest, NothingIsSentAfterTerminate)
{
    LocalProcess process(&recorder, loop);
    process.startProcess("/bin/sleep", {"60"}, kPathOnly);
    const std::uint8_t hi[] = {'h', 'i'};
    process.send(hi);
    ASSERT_TRUE(runUntil([&] { return process.total() == 2; }));
    process.terminate();
    const std::uint8_t late[] = {'x'};
    process.send(late);
    EXPECT_EQ(process.sendCount(), 1);
    EXPECT_EQ(process.total(), 2);
}

TEST_F(LocalProcessTest, WindowSizeReachesThePseudoTerminalClampedToItsFields)
{
    recorder.windowSize = makeWinSize(30, 100, 700, 420);
    LocalProcess process(&recorder, loop);
    process.startProcess("/bin/sh", {"-c", "stty size; read line; stty size"}, kPathOnly);
    ASSERT_TRUE(runUntil([&] { return recorder.text() == "30 100\r\n"; })) << recorder.text();

    winsize size{};
    ASSERT_EQ(::ioctl(process.childfd(), TIOCGWINSZ, &size), 0);
    EXPECT_EQ(size.ws_xpixel, 700);
    EXPECT_EQ(size.ws_ypixel, 420);

    // 5,000 columns of 7 points at scale 2 is 70,000 pixels: more than the field holds.
    EXPECT_EQ(PseudoTerminalHelpers::setWinSize(process.childfd(), makeWinSize(40, 120, 2.0 * 7 * 5000, -3)), 0);
    ASSERT_EQ(::ioctl(process.childfd(), TIOCGWINSZ, &size), 0);
    EXPECT_EQ(size.ws_xpixel, 65535);
    EXPECT_EQ(size.ws_ypixel, 0);

    const std::uint8_t newline[] = {'\n'};
    process.send(newline);
    ASSERT_TRUE(runUntil([&] { return finished(process); }));
    EXPECT_EQ(recorder.text(), "30 100\r\n\r\n40 120\r\n");
}

TEST_F(LocalProcessTest, ChildStartsWithNoBlockedOrIgnoredSignals)
{
    sigset_t blocked, previousMask;
    sigemptyset(&blocked);
    sigaddset(&blocked, SIGUSR1);
    ASSERT_EQ(::pthread_sigmask(SIG_BLOCK, &blocked, &previousMask), 0);
    struct sigaction ignore {}, previousAction {};
    ignore.sa_handler = SIG_IGN;
    ASSERT_EQ(::sigaction(SIGUSR2, &ignore, &previousAction), 0);

    LocalProcess process(&recorder, loop);
    process.startProcess("/bin/grep", {"-E", "^Sig(Blk|Ign)", "/proc/self/status"}, kPathOnly);
    ::sigaction(SIGUSR2, &previousAction, nullptr);
    ::pthread_sigmask(SIG_SETMASK, &previousMask, nullptr);

    ASSERT_TRUE(runUntil([&] { return finished(process); }));
    // The C library reserves signals 32 and 33: nobody can reset them, and a parent may leave
    // them ignored. Every other signal must start blocked by nothing and ignored by nothing.
    const std::string text = recorder.text();
    const auto maskAfter = [&](std::string_view label) {
        const auto at = text.find(label);
        return at == std::string::npos ? ~0ULL : std::stoull(text.substr(at + label.size(), 16), nullptr, 16);
    };
    constexpr unsigned long long reserved = 3ULL << 31;
    EXPECT_EQ(maskAfter("SigBlk:\t") & ~reserved, 0ULL) << text;
    EXPECT_EQ(maskAfter("SigIgn:\t") & ~reserved, 0ULL) << text;
}

// The write end of the pipe the host's handler below writes to.
int hostHandlerPipe = -1;

void hostTerminateHandler(int)
{
    const char mark = 'T';
    [[maybe_unused]] const auto written = ::write(hostHandlerPipe, &mark, 1);
}

// A host that handles SIGTERM itself (to save its state, say) and terminates a child the moment
// it started: the signal must end the child, never run the host's handler in the child. The
// pseudo-terminals stay open until every child is accounted for, so no hang-up ends a child the
// signal left running.
TEST(LocalProcessHelpers, AChildSignalledAsItStartsEndsByThatSignalWithoutRunningTheHostsHandler)
{
    int ends[2];
    ASSERT_EQ(::pipe2(ends, O_CLOEXEC | O_NONBLOCK), 0);
    hostHandlerPipe = ends[1];
    struct sigaction handler {}, previousAction {};
    handler.sa_handler = hostTerminateHandler;
    sigemptyset(&handler.sa_mask);
    ASSERT_EQ(::sigaction(SIGTERM, &handler, &previousAction), 0);

    const std::vector<std::string> argv{"sleep", "600"};
    const winsize size = makeWinSize(24, 80, 0, 0);
    std::vector<PseudoTerminalHelpers::ForkResult> children;
    for (int round = 0; round < 200; ++round) {
        const auto child = PseudoTerminalHelpers::forkAndExec("/bin/sleep", argv, kPathOnly, std::nullopt, &size);
        if (!child)
            break;
        children.push_back(*child);
        ::kill(child->pid, SIGTERM);
    }
    ::sigaction(SIGTERM, &previousAction, nullptr);
    ASSERT_EQ(children.size(), 200u);

    // A child that ran the handler instead sleeps on: once the shared wait is over it is
    // stopped here, and counted as not ended by the signal.
    int endedBySignal = 0;
    const auto deadline = std::chrono::steady_clock::now() + kTimeout;
    for (const auto& child : children) {
        int status = 0;
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
        if (pollUntil([&] { return ::waitpid(child.pid, &status, WNOHANG) == child.pid; }, std::max(left, 0ms))) {
            endedBySignal += WIFSIGNALED(status) && WTERMSIG(status) == SIGTERM ? 1 : 0;
        } else {
            ::kill(child.pid, SIGKILL);
            ::waitpid(child.pid, &status, 0);
        }
        ::close(child.masterDescriptor);
    }
    char marks[256];
    const ssize_t fired = ::read(ends[0], marks, sizeof marks);
    ::close(ends[0]);
    ::close(ends[1]);
    EXPECT_LE(fired, 0) << "the host's handler ran in " << fired << " children";
    EXPECT_EQ(endedBySignal, 200) << "a signalled child ran on";
}

// Ends this child with `status`, saying why on standard error.
[[noreturn]] void report(const char* text, int status)
{
    [[maybe_unused]] const auto written = ::write(STDERR_FILENO, text, std::strlen(text));
    std::_Exit(status);
}

// Run in a child of its own: gives up root when it has it (root may start processes past any
// limit), lets its user start no process at all, and ends with status 0 when a start refused
// by the fork leaves the caller's signal mask as it was.
[[noreturn]] void startUnderNoProcessLimitAndReport()
{
    // An unused user: the limit counts that user's processes.
    constexpr uid_t nobodyElse = 65533;
    if (::geteuid() == 0 && (::setgroups(0, nullptr) != 0 || ::setgid(nobodyElse) != 0 || ::setuid(nobodyElse) != 0))
        report("cannot leave root\n", 2);
    const rlimit none{0, 0};
    if (::setrlimit(RLIMIT_NPROC, &none) != 0)
        report("cannot lower RLIMIT_NPROC\n", 2);

    // The start may fail only at its fork: this user can open a pseudo-terminal.
    const int master = ::posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
    char slaveName[64];
    if (master < 0 || ::grantpt(master) != 0 || ::unlockpt(master) != 0 || ::ptsname_r(master, slaveName, sizeof slaveName) != 0
        || ::open(slaveName, O_RDWR | O_NOCTTY | O_CLOEXEC) < 0)
        report("this user cannot open a pseudo-terminal\n", 3);

    sigset_t blocked, before, after;
    sigemptyset(&blocked);
    sigaddset(&blocked, SIGUSR1);
    sigaddset(&blocked, SIGWINCH);
    ::pthread_sigmask(SIG_SETMASK, &blocked, nullptr);
    ::pthread_sigmask(SIG_SETMASK, nullptr, &before);
    const std::vector<std::string> argv{"true"};
    const auto child = PseudoTerminalHelpers::forkAndExec("/bin/true", argv, kPathOnly, std::nullopt, nullptr);
    ::pthread_sigmask(SIG_SETMASK, nullptr, &after);
    if (child)
        report("the fork was not refused: the limit is not enforced here\n", 3);
    for (int signal = 1; signal < NSIG; ++signal) {
        if (sigismember(&before, signal) != sigismember(&after, signal))
            report("the signal mask differs after the refused fork\n", 1);
    }
    report("", 0);
}

// Every signal is blocked across the fork; a fork the system refuses must not leave them so, or
// the host would never again see a terminate, an interrupt or a child's end.
TEST(LocalProcessHelpers, AStartWhoseForkIsRefusedLeavesTheSignalMaskAsItWas)
{
    // The child starts afresh rather than as a copy of this process and its threads.
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    EXPECT_EXIT(startUnderNoProcessLimitAndReport(), testing::ExitedWithCode(0), "");
}

TEST_F(LocalProcessTest, OtherChildrenDoNotInheritTheDescriptorsOfARunningChild)
{
    Recorder firstRecorder;
    LocalProcess first(&firstRecorder, loop);
    first.startProcess("/bin/sleep", {"60"}, kPathOnly);
    ASSERT_TRUE(first.running());

    LocalProcess second(&recorder, loop);
    second.startProcess("/bin/sh", {"-c", "ls -l /proc/$$/fd"}, kPathOnly);
    ASSERT_TRUE(runUntil([&] { return finished(second); }));
    const std::string listing = recorder.text();
    EXPECT_EQ(listing.find("ptmx"), std::string::npos) << listing;
    EXPECT_EQ(listing.find("eventfd"), std::string::npos) << listing;
    EXPECT_NE(listing.find("/dev/pts/"), std::string::npos) << listing;
    first.terminate();
}

TEST_F(LocalProcessTest, TheChildGetsNoDescriptorOfItsHost)
{
    // Not close-on-exec, as a library of the host might leave it.
    const int inherited = ::open("/dev/null", O_RDONLY);
    ASSERT_GE(inherited, 3);
    LocalProcess process(&recorder, loop);
    // The shell replaces itself at once, so what the program holds is what it was given; a
    // listing made by the shell itself would see its own pipes and directory handles.
    process.startProcess("/bin/sh", {"-c", "exec sleep 30"}, kPathOnly);
    ::close(inherited);
    const std::string proc = "/proc/" + std::to_string(process.shellPid());
    // Nothing arrives from the child to wake the loop: watch it from here.
    const auto limit = RunLoop::Clock::now() + kTimeout;
    while (readFile(proc + "/comm") != "sleep\n" && RunLoop::Clock::now() < limit)
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    ASSERT_EQ(readFile(proc + "/comm"), "sleep\n");
    // The program may hold a file of its own for a moment while it starts (its locale data);
    // a descriptor of the host would stay for good.
    const std::vector<std::string> expected{"0", "1", "2"};
    std::vector<std::string> descriptors;
    const auto settled = RunLoop::Clock::now() + std::chrono::seconds(5);
    do {
        descriptors.clear();
        for (const auto& entry : std::filesystem::directory_iterator(proc + "/fd"))
            descriptors.push_back(entry.path().filename().string());
        std::sort(descriptors.begin(), descriptors.end());
        if (descriptors == expected)
            break;
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    } while (RunLoop::Clock::now() < settled);
    EXPECT_EQ(descriptors, expected);
    process.terminate();
}

TEST_F(LocalProcessTest, RepliesToAChildThatDoesNotReadAreCappedButInputIsNot)
{
    LocalProcess process(&recorder, loop);
    // Reads nothing until the test writes how much to read into `go`.
    const std::string go = directory + "/go";
    const std::string script = "stty raw -echo; printf READY; while [ ! -s " + go + " ]; do sleep 0.05; done; "
        + "exec head -c \"$(cat " + go + ")\"";
    process.startProcess("/bin/sh", {"-c", script}, kPathOnly);
    ASSERT_TRUE(runUntil([&] { return recorder.text() == "READY"; }));
    recorder.data.clear();

    // Well past the cap in replies, each tagged with its number.
    constexpr int replyCount = 5000;
    std::vector<std::vector<std::uint8_t>> replies;
    for (int i = 0; i < replyCount; ++i) {
        std::vector<std::uint8_t> reply = patternBytes(1024);
        const std::string tag = "R" + std::to_string(i) + ";";
        std::copy(tag.begin(), tag.end(), reply.begin());
        replies.push_back(reply);
        process.sendReply(reply);
        EXPECT_LE(process.queuedReplyByteCount(), LocalProcess::maximumQueuedReplyBytes);
    }
    // The user's input after the cap was reached still goes out, a large paste included.
    const std::vector<std::uint8_t> paste = patternBytes(256 * 1024);
    process.send(paste);
    const std::string keys = "KEYS";
    process.send(std::span(reinterpret_cast<const std::uint8_t*>(keys.data()), keys.size()));

    const std::int64_t dropped = process.droppedReplyCount();
    EXPECT_GT(dropped, 0);
    EXPECT_LE(process.queuedReplyByteCount(), LocalProcess::maximumQueuedReplyBytes);
    // Dropping lasts until the queue drains, so what was kept is the first replies.
    std::vector<std::uint8_t> expected;
    for (int i = 0; i < replyCount - dropped; ++i)
        expected.insert(expected.end(), replies[static_cast<std::size_t>(i)].begin(),
                        replies[static_cast<std::size_t>(i)].end());
    EXPECT_GE(expected.size(), static_cast<std::size_t>(LocalProcess::maximumQueuedReplyBytes) - 1024);
    expected.insert(expected.end(), paste.begin(), paste.end());
    expected.insert(expected.end(), keys.begin(), keys.end());

    const std::string size = std::to_string(expected.size());
    writeFile("go", std::span(reinterpret_cast<const std::uint8_t*>(size.data()), size.size()));
    ASSERT_TRUE(runUntil([&] { return finished(process); }));
    ASSERT_EQ(recorder.data.size(), expected.size());
    EXPECT_TRUE(recorder.data == expected) << "replies reordered, corrupted or input lost";
}

TEST_F(LocalProcessTest, DestroyedWhileTheChildRunsTheChildIsStillReaped)
{
    pid_t pid = 0;
    {
        LocalProcess process(&recorder, loop);
        process.startProcess("/bin/sh", {"-c", "sleep 0.2"}, kPathOnly);
        pid = process.shellPid();
        ASSERT_GT(pid, 0);
    }
    ASSERT_TRUE(pollUntil([&] { return childGone(pid); }));
    loop.runFor(50ms);
    EXPECT_EQ(recorder.terminations, 0);
}

TEST_F(LocalProcessTest, DataDumpWritesNumberedFilesAndReportsFailures)
{
    {
        LocalProcess process(&recorder, loop);
        process.setLoggingDir(directory);
        process.startProcess("/bin/sh", {"-c", "printf dumped"}, kPathOnly);
        ASSERT_TRUE(runUntil([&] { return finished(process); }));
        std::string joined;
        for (int i = 0; std::filesystem::exists(directory + "/log-" + std::to_string(i)); ++i)
            joined += readFile(directory + "/log-" + std::to_string(i));
        EXPECT_EQ(joined, "dumped");
    }
    {
        recorder = Recorder();
        LocalProcess process(&recorder, loop);
        process.setLoggingDir(directory + "/missing");
        LogCapture log;
        process.startProcess("/bin/sh", {"-c", "printf x"}, kPathOnly);
        const bool done = runUntil([&] { return finished(process); });
        const std::string output = log.take();
        ASSERT_TRUE(done);
        EXPECT_EQ(recorder.text(), "x") << "a failing dump must not cost the output";
        EXPECT_NE(output.find(directory + "/missing/log-0"), std::string::npos) << output;
    }
}

TEST(LocalProcessHelpers, WinSizeFieldsAreClampedToSixteenBits)
{
    struct Case {
        std::int64_t rows, cols;
        double xpixel, ypixel;
        unsigned short expected[4];
    };
    const Case cases[] = {
        {24, 80, 1120.0, 672.0, {24, 80, 1120, 672}},
        {25, 80, 7.9, 0.5, {25, 80, 7, 0}},
        {70000, -1, 70000.0, -3.0, {65535, 0, 65535, 0}},
        {65535, 0, std::nan(""), 1e300, {65535, 0, 0, 65535}},
    };
    for (const Case& each : cases) {
        const winsize size = makeWinSize(each.rows, each.cols, each.xpixel, each.ypixel);
        EXPECT_EQ(size.ws_row, each.expected[0]);
        EXPECT_EQ(size.ws_col, each.expected[1]);
        EXPECT_EQ(size.ws_xpixel, each.expected[2]);
        EXPECT_EQ(size.ws_ypixel, each.expected[3]);
    }
}

TEST(LocalProcessHelpers, CStringArraysAreNullTerminatedAndRefuseEmbeddedNul)
{
    const std::vector<std::string> strings{"sh", "", "-c"};
    const auto array = PseudoTerminalHelpers::makeCStringArray(strings);
    ASSERT_TRUE(array.has_value());
    ASSERT_EQ(array->count(), 3u);
    EXPECT_STREQ(array->data()[0], "sh");
    EXPECT_STREQ(array->data()[1], "");
    EXPECT_STREQ(array->data()[2], "-c");
    EXPECT_EQ(array->data()[3], nullptr);

    const std::vector<std::string> withNul{"ok", std::string("a\0b", 3)};
    EXPECT_FALSE(PseudoTerminalHelpers::makeCStringArray(withNul).has_value());
}

} // namespace
} // namespace corvantix
