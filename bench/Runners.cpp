#include "Runners.h"

#include "emulator/Terminal.h"
#include "emulator/TerminalDelegate.h"

#include <algorithm>
#include <chrono>
#include <climits>
#include <cstring>
#include <memory>
#include <vector>

extern "C" {
#include <vterm.h>
}

namespace corvantix::bench {

volatile std::uint64_t refreshSink = 0;

namespace {

using Clock = std::chrono::steady_clock;

double secondsSince(Clock::time_point start)
{
    return std::chrono::duration<double>(Clock::now() - start).count();
}

// The least a host does: it takes the replies and forgets them.
class QuietHost final : public TerminalDelegate {
public:
    void send(Terminal&, std::span<const std::uint8_t> bytes) override { replied += bytes.size(); }
    std::size_t replied = 0;
};

// What a host of the peer keeps: its own scrollback (the peer's screen layer hands every
// line that leaves the top over to the host) and the damaged rows of the current chunk.
struct PeerHost {
    int cols = 0;
    int capacity = 0;
    std::vector<VTermScreenCell> scrollback; // capacity lines of cols cells, used as a ring
    int head = 0;
    int held = 0;
    int damageTop = INT_MAX;
    int damageBottom = -1;

    void damageRows(int startRow, int endRow) // end exclusive
    {
        damageTop = std::min(damageTop, startRow);
        damageBottom = std::max(damageBottom, endRow - 1);
    }
};

int peerDamage(VTermRect rect, void* user)
{
    static_cast<PeerHost*>(user)->damageRows(rect.start_row, rect.end_row);
    return 1;
}

int peerMoveRect(VTermRect dest, VTermRect src, void* user)
{
    auto* host = static_cast<PeerHost*>(user);
    host->damageRows(dest.start_row, dest.end_row);
    host->damageRows(src.start_row, src.end_row);
    return 1;
}

int peerMoveCursor(VTermPos, VTermPos, int, void*)
{
    return 1;
}

int peerPushLine(int cols, const VTermScreenCell* cells, void* user)
{
    auto* host = static_cast<PeerHost*>(user);
    const int n = std::min(cols, host->cols);
    VTermScreenCell* slot = host->scrollback.data() + static_cast<std::size_t>(host->head) * host->cols;
    std::memcpy(slot, cells, sizeof(VTermScreenCell) * static_cast<std::size_t>(n));
    host->head = (host->head + 1) % host->capacity;
    host->held = std::min(host->held + 1, host->capacity);
    return 1;
}

void discardOutput(const char*, size_t, void*) {}

} // namespace

double runCorvantix(std::span<const std::uint8_t> bytes, const RunSetup& setup)
{
    QuietHost host;
    TerminalOptions options;
    options.cols = setup.cols;
    options.rows = setup.rows;
    options.scrollback = setup.scrollback;
    auto terminal = std::make_unique<Terminal>(&host, options);

    std::uint64_t sink = 0;
    const auto start = Clock::now();
    for (std::size_t offset = 0; offset < bytes.size(); offset += setup.chunkSize) {
        const std::size_t n = std::min(setup.chunkSize, bytes.size() - offset);
        terminal->feed(bytes.subspan(offset, n));
        if (const auto range = terminal->getUpdateRange()) {
            sink += static_cast<std::uint64_t>(range->endY - range->startY);
            terminal->clearUpdateRange();
        }
    }
    const double seconds = secondsSince(start);
    refreshSink = refreshSink + sink + host.replied;
    return seconds;
}

double runPeer(std::span<const std::uint8_t> bytes, const RunSetup& setup)
{
    PeerHost host;
    host.cols = setup.cols;
    host.capacity = setup.scrollback;
    host.scrollback.resize(static_cast<std::size_t>(setup.cols) * static_cast<std::size_t>(setup.scrollback));

    VTerm* vt = vterm_new(setup.rows, setup.cols);
    vterm_set_utf8(vt, 1);
    vterm_output_set_callback(vt, discardOutput, nullptr);
    VTermScreen* screen = vterm_obtain_screen(vt);
    static const VTermScreenCallbacks callbacks = {
        peerDamage, peerMoveRect, peerMoveCursor, nullptr, nullptr, nullptr, peerPushLine, nullptr,
    };
    vterm_screen_set_callbacks(screen, &callbacks, &host);
    vterm_screen_set_damage_merge(screen, VTERM_DAMAGE_SCROLL);
    vterm_screen_enable_altscreen(screen, 1);
    vterm_screen_reset(screen, 1);

    std::uint64_t sink = 0;
    const auto start = Clock::now();
    for (std::size_t offset = 0; offset < bytes.size(); offset += setup.chunkSize) {
        const std::size_t n = std::min(setup.chunkSize, bytes.size() - offset);
        vterm_input_write(vt, reinterpret_cast<const char*>(bytes.data() + offset), n);
        vterm_screen_flush_damage(screen);
        if (host.damageBottom >= 0) {
            sink += static_cast<std::uint64_t>(host.damageBottom - host.damageTop);
            host.damageTop = INT_MAX;
            host.damageBottom = -1;
        }
    }
    const double seconds = secondsSince(start);
    refreshSink = refreshSink + sink + static_cast<std::uint64_t>(host.held);
    vterm_free(vt);
    return seconds;
}

} // namespace corvantix::bench
