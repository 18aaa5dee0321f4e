#include "process/LocalProcess.h"

#include "emulator/TerminalOptions.h"
#include "platform/Log.h"
#include "process/PseudoTerminal.h"

#include <cerrno>
#include <csignal>
#include <deque>
#include <fcntl.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/wait.h>
#include <system_error>
#include <thread>
#include <unistd.h>

namespace corvantix {

struct LocalProcess::PendingWrite {
    std::vector<std::uint8_t> bytes;
    std::int64_t number = 0;
    bool reply = false;
};

// Shared with the waiter thread, which outlives the LocalProcess when the child does.
struct LocalProcess::WaitState {
    pid_t pid = 0;
    std::mutex lock;
    // Set under `lock` in the same step as the reap, so a signal never reaches a reused id.
    bool reaped = false;
    // Where to report the end; null once the session is no longer reported.
    MainQueue* queue = nullptr;
    std::weak_ptr<Anchor> anchor;
    LocalProcess* owner = nullptr;
    std::uint64_t sessionId = 0;
};

// One child: its descriptors and the threads serving it.
struct LocalProcess::Session {
    std::uint64_t id = 0;
    pid_t pid = 0;
    int master = -1;
    // Readable once the session stops; never drained, so both threads see it.
    int wake = -1;
    std::atomic<bool> stopRequested{false};
    std::shared_ptr<WaitState> wait;

    std::mutex writeLock;
    std::condition_variable writeReady;
    std::deque<PendingWrite> writes;
    // Bytes of the replies in `writes` and the one being written; while `droppingReplies`
    // is set (the cap was reached) replies are dropped until this is back to 0.
    std::int64_t replyBytes = 0;
    bool droppingReplies = false;

    std::thread reader;
    std::thread writer;

    // Main queue only: the end is reported after the last output, so an exit that arrives
    // before the end of file waits for it (at most exitGraceDelay).
    bool endOfFileSeen = false;
    std::optional<int> pendingExitStatus;
    MainQueue::Token exitGraceToken = 0;
    bool exitReported = false;
};

namespace {

std::string describeBytes(std::span<const std::uint8_t> bytes)
{
    std::string text = "[";
    for (std::size_t i = 0; i < bytes.size(); ++i) {
        if (i > 0)
            text += ", ";
        text += std::to_string(bytes[i]);
    }
    text += "]";
    return text;
}

} // namespace

LocalProcess::LocalProcess(LocalProcessDelegate* delegate, MainQueue& dispatchQueue)
    : delegate(delegate)
    , dispatchQueue(dispatchQueue)
{
}

LocalProcess::~LocalProcess()
{
    anchor->alive = false;
    std::unique_ptr<Session> ended;
    {
        std::lock_guard<std::mutex> guard(sessionLock);
        ended = std::move(session);
    }
    // The child is not signalled; closing the master hangs up its terminal.
    if (ended)
        endSession(*ended);
}

// ---------------------------------------------------------------- Start

void LocalProcess::startProcess(const std::string& executable, const std::vector<std::string>& args,
                                const std::optional<std::vector<std::string>>& environment,
                                const std::optional<std::string>& execName,
                                const std::optional<std::string>& currentDirectory)
{
    const winsize size = delegate != nullptr ? delegate->getWindowSize() : winsize{};

    std::vector<std::string> argv;
    argv.reserve(args.size() + 1);
    argv.push_back(execName.value_or(executable));
    argv.insert(argv.end(), args.begin(), args.end());
    const std::vector<std::string> env
        = environment ? *environment : getEnvironmentVariables("xterm-256color", true);

    const auto forked = PseudoTerminalHelpers::forkAndExec(executable, argv, env, currentDirectory, &size);
    if (!forked)
        return;

    auto started = std::make_unique<Session>();
    started->id = ++sessionCounter;
    started->pid = forked->pid;
    started->master = forked->masterDescriptor;
    started->wait = std::make_shared<WaitState>();
    started->wait->pid = forked->pid;
    started->wait->queue = &dispatchQueue;
    started->wait->anchor = anchor;
    started->wait->owner = this;
    started->wait->sessionId = started->id;

    // Non-blocking, so that a stop request always gets through to the reader and writer.
    const int flags = ::fcntl(started->master, F_GETFL);
    const bool nonBlocking = flags >= 0 && ::fcntl(started->master, F_SETFL, flags | O_NONBLOCK) == 0;
    started->wake = ::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    const int writerDescriptor = ::fcntl(started->master, F_DUPFD_CLOEXEC, 0);
    // The waiter reaps the child even when it cannot be served.
    std::thread(waitForChild, started->wait).detach();
    if (!nonBlocking || started->wake < 0 || writerDescriptor < 0) {
        if (writerDescriptor >= 0)
            ::close(writerDescriptor);
        endSession(*started);
        return;
    }

    std::unique_ptr<Session> previous;
    {
        std::lock_guard<std::mutex> guard(sessionLock);
        previous = std::move(session);
        runningState.store(false);
    }
    if (previous)
        endSession(*previous);

    Session& current = *started;
    {
        std::lock_guard<std::mutex> guard(sessionLock);
        session = std::move(started);
        runningState.store(true);
        childDescriptor.store(current.master);
        childPid.store(current.pid);
    }
    current.reader = std::thread(&LocalProcess::readLoop, this, std::ref(current));
    current.writer = std::thread(&LocalProcess::writeLoop, this, std::ref(current), writerDescriptor);
}

// ---------------------------------------------------------------- Reading

void LocalProcess::readLoop(Session& current)
{
    std::vector<std::uint8_t> buffer(readSize);
    for (;;) {
        {
            std::unique_lock<std::mutex> guard(pendingLock);
            readResumed.wait(guard, [&] { return !readSuspended || current.stopRequested.load(); });
        }
        if (current.stopRequested.load())
            return;

        pollfd descriptors[2] = {{current.master, POLLIN, 0}, {current.wake, POLLIN, 0}};
        if (::poll(descriptors, 2, -1) < 0) {
            if (errno == EINTR)
                continue;
            break;
        }
        if (descriptors[1].revents != 0)
            return;
        if (descriptors[0].revents == 0)
            continue;

        const ssize_t count = ::read(current.master, buffer.data(), buffer.size());
        if (count > 0) {
            const std::span<const std::uint8_t> bytes(buffer.data(), static_cast<std::size_t>(count));
            if (debugIO()) {
                const std::int64_t soFar = totalRead.fetch_add(count) + count;
                printLine("[READ] count=" + std::to_string(count) + " received from host total=" + std::to_string(soFar));
            }
            dumpChunk(bytes);
            // When the queue is full, the wait at the top of the loop holds reading back.
            enqueue(PendingChunk{std::vector<std::uint8_t>(bytes.begin(), bytes.end()), 0});
            continue;
        }
        if (count < 0 && (errno == EINTR || errno == EAGAIN))
            continue;
        // 0, or EIO: Linux reports EIO on the master once every slave descriptor is closed.
        break;
    }
    enqueue(PendingChunk{{}, current.id});
}

void LocalProcess::dumpChunk(std::span<const std::uint8_t> chunk)
{
    std::lock_guard<std::mutex> guard(loggingLock);
    if (!loggingDirectory)
        return;
    const std::string path = *loggingDirectory + "/log-" + std::to_string(logFileCounter);
    int error = 0;
    const int file = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (file < 0) {
        error = errno;
    } else {
        std::size_t done = 0;
        while (done < chunk.size()) {
            const ssize_t written = ::write(file, chunk.data() + done, chunk.size() - done);
            if (written < 0 && errno == EINTR)
                continue;
            if (written <= 0) {
                error = written < 0 ? errno : EIO;
                break;
            }
            done += static_cast<std::size_t>(written);
        }
        if (::close(file) != 0 && error == 0)
            error = errno;
    }
    if (error == 0)
        ++logFileCounter;
    else
        printLine("Got error while logging data dump to " + path + ": " + std::generic_category().message(error));
}

std::optional<std::string> LocalProcess::loggingDir() const
{
    std::lock_guard<std::mutex> guard(loggingLock);
    return loggingDirectory;
}

void LocalProcess::setLoggingDir(std::optional<std::string> directory)
{
    std::lock_guard<std::mutex> guard(loggingLock);
    loggingDirectory = std::move(directory);
}

// ---------------------------------------------------------------- Pending queue

bool LocalProcess::enqueue(PendingChunk chunk)
{
    bool schedule = false;
    bool room = true;
    {
        std::lock_guard<std::mutex> guard(pendingLock);
        pendingBytes += static_cast<std::int64_t>(chunk.bytes.size());
        pendingChunks.push_back(std::move(chunk));
        if (pendingBytes >= pendingHighWaterBytes)
            readSuspended = true;
        if (!pendingScheduled) {
            pendingScheduled = true;
            schedule = true;
        }
        room = pendingBytes < pendingHighWaterBytes;
    }
    if (schedule)
        scheduleDrain();
    return room;
}

void LocalProcess::scheduleDrain()
{
    dispatchQueue.post([weak = std::weak_ptr<Anchor>(anchor), this] {
        const std::shared_ptr<Anchor> alive = weak.lock();
        if (alive && alive->alive)
            drainPass();
    });
}

void LocalProcess::drainPass()
{
    const auto start = std::chrono::steady_clock::now();
    // The delegate may destroy this object from a callback.
    const std::shared_ptr<Anchor> keep = anchor;
    for (;;) {
        PendingChunk chunk;
        bool resume = false;
        {
            std::lock_guard<std::mutex> guard(pendingLock);
            if (pendingChunkIndex >= pendingChunks.size()) {
                pendingChunks.clear();
                pendingChunkIndex = 0;
                pendingBytes = 0;
                pendingScheduled = false;
                return;
            }
            chunk = std::move(pendingChunks[pendingChunkIndex]);
            ++pendingChunkIndex;
            if (pendingChunkIndex >= pendingChunkFlushThreshold) {
                pendingChunks.erase(pendingChunks.begin(), pendingChunks.begin() + static_cast<std::ptrdiff_t>(pendingChunkIndex));
                pendingChunkIndex = 0;
            }
            pendingBytes -= static_cast<std::int64_t>(chunk.bytes.size());
            if (readSuspended && pendingBytes <= pendingLowWaterBytes) {
                readSuspended = false;
                resume = true;
            }
        }
        // Reading resumes whatever `running` says: the child may have exited with output
        // still in the pseudo-terminal, and that output is read up to end of file.
        if (resume)
            readResumed.notify_all();

        if (chunk.endOfFileSession != 0)
            handleEndOfFile(chunk.endOfFileSession);
        else if (delegate != nullptr)
            delegate->dataReceived(chunk.bytes);
        if (!keep->alive)
            return;

        if (std::chrono::steady_clock::now() - start >= pendingTimeSliceNs) {
            scheduleDrain();
            return;
        }
    }
}

std::int64_t LocalProcess::pendingByteCount() const
{
    std::lock_guard<std::mutex> guard(pendingLock);
    return pendingBytes;
}

bool LocalProcess::readSuspendedForBackpressure() const
{
    std::lock_guard<std::mutex> guard(pendingLock);
    return readSuspended;
}

void LocalProcess::handleEndOfFile(std::uint64_t sessionId)
{
    std::optional<int> exitStatus;
    {
        std::lock_guard<std::mutex> guard(sessionLock);
        if (!session || session->id != sessionId)
            return;
        // The master stays open until terminate: closing it would hang up a child still running.
        childDescriptor.store(-1);
        runningState.store(false);
        session->endOfFileSeen = true;
        exitStatus = session->pendingExitStatus;
    }
    if (exitStatus)
        reportExit(sessionId, *exitStatus);
}

// ---------------------------------------------------------------- End of the child

void LocalProcess::waitForChild(std::shared_ptr<WaitState> state)
{
    // Wait without reaping first: until the reap below, the id stays this child's (a
    // zombie), so a concurrent terminate can still signal it harmlessly.
    siginfo_t info{};
    while (::waitid(P_PID, static_cast<id_t>(state->pid), &info, WEXITED | WNOWAIT) != 0) {
        if (errno != EINTR)
            break;
    }
    std::lock_guard<std::mutex> guard(state->lock);
    int status = 0;
    pid_t reaped;
    do {
        reaped = ::waitpid(state->pid, &status, 0);
    } while (reaped < 0 && errno == EINTR);
    // Even when the reap failed (someone else took the child), the id is no longer ours.
    state->reaped = true;
    if (reaped != state->pid || state->queue == nullptr)
        return;
    state->queue->post([weak = state->anchor, owner = state->owner, id = state->sessionId, status] {
        const std::shared_ptr<Anchor> alive = weak.lock();
        if (alive && alive->alive)
            owner->handleExit(id, status);
    });
}

void LocalProcess::handleExit(std::uint64_t sessionId, int status)
{
    {
        std::lock_guard<std::mutex> guard(sessionLock);
        if (!session || session->id != sessionId)
            return;
        if (!session->endOfFileSeen) {
            // Output still on its way (or held by a process the child left behind): report
            // the end once it is read, or after the grace delay.
            session->pendingExitStatus = status;
            session->exitGraceToken = dispatchQueue.postAfter(
                exitGraceDelay, [weak = std::weak_ptr<Anchor>(anchor), this, sessionId, status] {
                    const std::shared_ptr<Anchor> alive = weak.lock();
                    if (alive && alive->alive)
                        reportExit(sessionId, status);
                });
            return;
        }
    }
    reportExit(sessionId, status);
}

void LocalProcess::reportExit(std::uint64_t sessionId, int status)
{
    {
        std::lock_guard<std::mutex> guard(sessionLock);
        if (!session || session->id != sessionId || session->exitReported)
            return;
        session->exitReported = true;
        if (session->exitGraceToken != 0)
            dispatchQueue.cancel(session->exitGraceToken);
        // Cleared before the callback, so a host may start the next child from it.
        runningState.store(false);
    }
    if (delegate != nullptr)
        delegate->processTerminated(*this, status);
}

bool LocalProcess::terminate()
{
    std::unique_ptr<Session> ended;
    {
        std::lock_guard<std::mutex> guard(sessionLock);
        ended = std::move(session);
        childDescriptor.store(-1);
        runningState.store(false);
    }
    if (!ended)
        return false;
    bool signalled = false;
    {
        std::lock_guard<std::mutex> guard(ended->wait->lock);
        if (!ended->wait->reaped)
            signalled = ::kill(ended->pid, SIGTERM) == 0;
    }
    endSession(*ended);
    return signalled;
}

bool LocalProcess::signalChild(int signalNumber)
{
    std::lock_guard<std::mutex> guard(sessionLock);
    if (!session)
        return false;
    std::lock_guard<std::mutex> waitGuard(session->wait->lock);
    return !session->wait->reaped && ::kill(session->pid, signalNumber) == 0;
}

void LocalProcess::endSession(Session& ended)
{
    {
        std::lock_guard<std::mutex> guard(ended.wait->lock);
        ended.wait->queue = nullptr;
    }
    {
        std::lock_guard<std::mutex> guard(pendingLock);
        ended.stopRequested.store(true);
    }
    readResumed.notify_all();
    {
        std::lock_guard<std::mutex> guard(ended.writeLock);
    }
    ended.writeReady.notify_all();
    if (ended.wake >= 0) {
        const std::uint64_t one = 1;
        [[maybe_unused]] const ssize_t written = ::write(ended.wake, &one, sizeof one);
    }
    if (ended.reader.joinable())
        ended.reader.join();
    if (ended.writer.joinable())
        ended.writer.join();
    if (ended.master >= 0)
        ::close(ended.master);
    if (ended.wake >= 0)
        ::close(ended.wake);
    ended.master = -1;
    ended.wake = -1;
}

// ---------------------------------------------------------------- Writing

void LocalProcess::send(std::span<const std::uint8_t> data)
{
    queueWrite(data, false);
}

void LocalProcess::sendReply(std::span<const std::uint8_t> data)
{
    queueWrite(data, true);
}

void LocalProcess::queueWrite(std::span<const std::uint8_t> data, bool reply)
{
    std::lock_guard<std::mutex> guard(sessionLock);
    // Checked under the lock that terminate takes: nothing is queued for a detached child.
    if (!runningState.load() || !session)
        return;
    {
        std::lock_guard<std::mutex> writeGuard(session->writeLock);
        if (reply) {
            const auto size = static_cast<std::int64_t>(data.size());
            if (!session->droppingReplies && session->replyBytes + size > maximumQueuedReplyBytes) {
                session->droppingReplies = true;
                printLine("Dropping terminal replies: the program has left " + std::to_string(session->replyBytes)
                          + " bytes of them unread");
            }
            if (session->droppingReplies) {
                droppedReplies.fetch_add(1);
                return;
            }
            session->replyBytes += size;
        }
        const std::int64_t number = sendCounter++;
        if (debugIO())
            printLine("[SEND-" + std::to_string(number) + "] Queuing data to client: " + describeBytes(data));
        // Replies come a few bytes at a time: one write for a run of them keeps both the
        // queue's overhead and the number of system calls down.
        if (reply && !session->writes.empty() && session->writes.back().reply) {
            std::vector<std::uint8_t>& bytes = session->writes.back().bytes;
            bytes.insert(bytes.end(), data.begin(), data.end());
            return;
        }
        session->writes.push_back(PendingWrite{std::vector<std::uint8_t>(data.begin(), data.end()), number, reply});
    }
    session->writeReady.notify_one();
}

std::int64_t LocalProcess::queuedReplyByteCount() const
{
    std::lock_guard<std::mutex> guard(sessionLock);
    if (!session)
        return 0;
    std::lock_guard<std::mutex> writeGuard(session->writeLock);
    return session->replyBytes;
}

std::int64_t LocalProcess::sendCount() const
{
    std::lock_guard<std::mutex> guard(sessionLock);
    return sendCounter;
}

void LocalProcess::writeLoop(Session& current, int descriptor)
{
    for (;;) {
        PendingWrite item;
        {
            std::unique_lock<std::mutex> guard(current.writeLock);
            current.writeReady.wait(guard, [&] { return !current.writes.empty() || current.stopRequested.load(); });
            if (current.stopRequested.load())
                break;
            item = std::move(current.writes.front());
            current.writes.pop_front();
        }
        const int error = writeAll(current, descriptor, item.bytes);
        if (error < 0)
            break;
        if (item.reply) {
            std::lock_guard<std::mutex> guard(current.writeLock);
            current.replyBytes -= static_cast<std::int64_t>(item.bytes.size());
            if (current.replyBytes == 0)
                current.droppingReplies = false;
        }
        const std::int64_t soFar = totalSent.fetch_add(static_cast<std::int64_t>(item.bytes.size())) + static_cast<std::int64_t>(item.bytes.size());
        if (debugIO())
            printLine("[SEND-" + std::to_string(item.number) + "] completed bytes=" + std::to_string(soFar));
        if (error != 0)
            printLine("Error writing data to the child, errno=" + std::to_string(error));
    }
    ::close(descriptor);
}

int LocalProcess::writeAll(Session& current, int descriptor, std::span<const std::uint8_t> bytes)
{
    std::size_t done = 0;
    while (done < bytes.size()) {
        const ssize_t written = ::write(descriptor, bytes.data() + done, bytes.size() - done);
        if (written > 0) {
            done += static_cast<std::size_t>(written);
            continue;
        }
        if (written < 0 && errno == EINTR)
            continue;
        if (written < 0 && errno == EAGAIN) {
            // The child is not reading: wait for room or for the session to stop.
            pollfd descriptors[2] = {{descriptor, POLLOUT, 0}, {current.wake, POLLIN, 0}};
            if (::poll(descriptors, 2, -1) < 0 && errno != EINTR)
                return errno;
            if (descriptors[1].revents != 0)
                return -1;
            continue;
        }
        return written < 0 ? errno : EIO;
    }
    return 0;
}

} // namespace corvantix
