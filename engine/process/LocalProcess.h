// Runs one child program on a pseudo-terminal and moves bytes between it and its delegate.
//
// Threads of one child: a reader (poll on the master and a wake-up eventfd, reads of up to
// `readSize` bytes) that fills a locked queue of pending chunks, drained on the main queue in
// slices of about 4 ms; a writer with its own FIFO and its own duplicate of the master, so a
// send never blocks the caller and keeps call order; and a waiter that reaps exactly this
// child. Reading pauses while 4 MiB are pending and resumes once the main queue has brought
// them down to 1 MiB, so a flood of output cannot grow memory without bound.
//
// startProcess, terminate and destruction belong to the main queue's thread; send may be
// called from any thread. The delegate and the main queue must outlive this object.
#pragma once

#include "platform/MainQueue.h"
#include "process/LocalProcessDelegate.h"

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <span>
#include <string>
#include <sys/types.h>
#include <vector>

namespace corvantix {

class LocalProcess {
public:
    static constexpr std::size_t readSize = 131072;
    // Consumed chunks are cut from the front of the pending queue in batches of this many.
    static constexpr std::size_t pendingChunkFlushThreshold = 32;
    static constexpr std::chrono::nanoseconds pendingTimeSliceNs{4'000'000};
    static constexpr std::int64_t pendingHighWaterBytes = 4'194'304;
    static constexpr std::int64_t pendingLowWaterBytes = 1'048'576;
    // How long the end of a child waits for the rest of its output before it is reported.
    static constexpr std::chrono::nanoseconds exitGraceDelay{2'000'000'000};
    static constexpr std::int64_t maximumQueuedReplyBytes = 4'194'304;

    // `delegate` is not owned (null: window size 0, output and end dropped).
    LocalProcess(LocalProcessDelegate* delegate, MainQueue& dispatchQueue);
    ~LocalProcess();
    LocalProcess(const LocalProcess&) = delete;
    LocalProcess& operator=(const LocalProcess&) = delete;

    // Starts `executable` (a path, not searched) with argument zero `execName` (else the
    // path) followed by `args`, in `environment` (else the engine's default for
    // "xterm-256color" with true colour) and `currentDirectory` when given. A failed start is
    // silent: `running()` stays false. A child still attached is detached first (not signalled).
    void startProcess(const std::string& executable, const std::vector<std::string>& args = {},
                      const std::optional<std::vector<std::string>>& environment = std::nullopt,
                      const std::optional<std::string>& execName = std::nullopt,
                      const std::optional<std::string>& currentDirectory = std::nullopt);

    // Queues the bytes for the child, in call order; dropped while no child runs.
    void send(std::span<const std::uint8_t> data);
    // Queues the terminal's own reply, in order with `send`. A child that asks without
    // reading the answers would grow the queue without end: past maximumQueuedReplyBytes
    // of replies not yet written, further replies are dropped (one log line) until the
    // queue has drained. What `send` queues is never dropped.
    void sendReply(std::span<const std::uint8_t> data);

    // Detaches from the child and sends it SIGTERM, unless it has already been reaped (its
    // process id may then belong to another process). The child is still reaped in the
    // background; its end is not reported. Returns whether a signal was sent.
    bool terminate();
    // Sends `signalNumber` to the child and stays attached: its remaining output and its end
    // are reported as usual, in order. Nothing is sent once the child has been reaped (its
    // process id may then belong to another process). Returns whether a signal was sent.
    bool signalChild(int signalNumber);

    bool running() const { return runningState.load(); }
    int childfd() const { return childDescriptor.load(); }
    // Process id of the last child started; 0 before the first.
    pid_t shellPid() const { return childPid.load(); }

    bool debugIO() const { return debugIOState.load(); }
    void setDebugIO(bool enabled) { debugIOState.store(enabled); }
    std::optional<std::string> loggingDir() const;
    // A directory for a dump of every chunk read (files log-0, log-1, ...); none turns it off.
    void setLoggingDir(std::optional<std::string> directory);

    // Number of sends issued; bytes of sends completed.
    std::int64_t sendCount() const;
    std::int64_t total() const { return totalSent.load(); }
    // Bytes of replies queued and not yet written; replies dropped since the start.
    std::int64_t queuedReplyByteCount() const;
    std::int64_t droppedReplyCount() const { return droppedReplies.load(); }
    // Bytes read and not yet delivered, and whether reading waits for them to drain.
    std::int64_t pendingByteCount() const;
    bool readSuspendedForBackpressure() const;

private:
    struct Session;
    struct WaitState;
    struct PendingWrite;
    // Lets work queued on the main queue find out whether this object still exists.
    struct Anchor {
        bool alive = true;
    };
    // A chunk read, or (with an empty chunk) the end of file of the session `endOfFileSession`.
    struct PendingChunk {
        std::vector<std::uint8_t> bytes;
        std::uint64_t endOfFileSession = 0;
    };

    void readLoop(Session& session);
    void writeLoop(Session& session, int descriptor);
    void queueWrite(std::span<const std::uint8_t> data, bool reply);
    // Writes one send; 0 when done, an error number, or -1 when the session is stopping.
    int writeAll(Session& session, int descriptor, std::span<const std::uint8_t> bytes);
    void dumpChunk(std::span<const std::uint8_t> chunk);
    bool enqueue(PendingChunk chunk);
    void scheduleDrain();
    void drainPass();
    void handleEndOfFile(std::uint64_t sessionId);
    void handleExit(std::uint64_t sessionId, int status);
    void reportExit(std::uint64_t sessionId, int status);
    // Stops reporting the session, stops its reader and writer and closes its descriptors.
    void endSession(Session& session);
    static void waitForChild(std::shared_ptr<WaitState> state);

    LocalProcessDelegate* const delegate;
    MainQueue& dispatchQueue;
    std::shared_ptr<Anchor> anchor = std::make_shared<Anchor>();

    std::atomic<bool> runningState{false};
    std::atomic<int> childDescriptor{-1};
    std::atomic<pid_t> childPid{0};
    std::atomic<bool> debugIOState{false};
    std::atomic<std::int64_t> totalSent{0};
    std::atomic<std::int64_t> totalRead{0};
    std::atomic<std::int64_t> droppedReplies{0};

    // Guards `session`, `sendCount` and the writes to `runningState`/`childDescriptor`.
    mutable std::mutex sessionLock;
    std::unique_ptr<Session> session;
    std::uint64_t sessionCounter = 0;
    std::int64_t sendCounter = 0;

    mutable std::mutex loggingLock;
    std::optional<std::string> loggingDirectory;
    std::int64_t logFileCounter = 0;

    mutable std::mutex pendingLock;
    std::condition_variable readResumed;
    std::vector<PendingChunk> pendingChunks;
    std::size_t pendingChunkIndex = 0;
    bool pendingScheduled = false;
    std::int64_t pendingBytes = 0;
    bool readSuspended = false;
};

} // namespace corvantix
