// The host of a LocalProcess: it receives the child's output and its end, and gives the
// size of the pseudo-terminal.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <sys/ioctl.h>

namespace corvantix {

class LocalProcess;

class LocalProcessDelegate {
public:
    virtual ~LocalProcessDelegate() = default;

    // The child ended. `exitCode` is the raw status word waitpid stored (decode it with
    // WIFEXITED and friends); always present. Called on the main queue, at most once per
    // child, never after LocalProcess::terminate.
    virtual void processTerminated(LocalProcess& source, std::optional<std::int32_t> exitCode) = 0;

    // One chunk of the child's output, in the order read. Called on the main queue.
    virtual void dataReceived(std::span<const std::uint8_t> slice) = 0;

    // The size to give a new pseudo-terminal. Called on the thread that starts the process.
    // PseudoTerminalHelpers::makeWinSize clamps values to the 16-bit fields.
    virtual winsize getWindowSize() = 0;
};

} // namespace corvantix
