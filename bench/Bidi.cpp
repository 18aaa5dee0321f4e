#include "Bidi.h"

#include "drawing/TerminalBidi.h"
#include "emulator/Terminal.h"
#include "model/Buffer.h"

#include <array>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <string>

namespace corvantix::bench {

namespace {

using Clock = std::chrono::steady_clock;

double secondsSince(Clock::time_point start) { return std::chrono::duration<double>(Clock::now() - start).count(); }

// Words of the three scripts, with digits and brackets between them; every line differs.
std::string mixedLine(uint64_t& state, int index)
{
    static constexpr std::array<const char*, 6> hebrew = {"שלום", "עולם", "מחשב", "קובץ", "תיקייה", "שגיאה"};
    static constexpr std::array<const char*, 6> arabic = {"مرحبا", "بالعالم", "حاسوب", "ملف", "مجلد", "خطأ"};
    static constexpr std::array<const char*, 6> latin = {"error", "file", "folder", "(build)", "[ok]", "path"};
    std::string line = std::to_string(index) + " ";
    for (int word = 0; word < 9; ++word) {
        state = state * 6364136223846793005ull + 1442695040888963407ull;
        const unsigned pick = static_cast<unsigned>(state >> 33);
        switch (pick % 3) {
        case 0:
            line += hebrew[(pick / 3) % hebrew.size()];
            break;
        case 1:
            line += arabic[(pick / 3) % arabic.size()];
            break;
        default:
            line += latin[(pick / 3) % latin.size()];
            break;
        }
        line += word % 4 == 3 ? " 42 " : " ";
    }
    return line + "\r\n";
}

} // namespace

std::string bidiReport(int lines)
{
    TerminalOptions options;
    options.cols = 80;
    options.rows = 24;
    options.scrollback = lines;
    Terminal terminal(nullptr, options);
    uint64_t state = 0x42494449ull;
    std::string text;
    std::size_t streamBytes = 0;
    for (int i = 0; i < lines; ++i) {
        text += mixedLine(state, i);
        if (text.size() > (1u << 20) || i + 1 == lines) {
            streamBytes += text.size();
            terminal.feed(text);
            text.clear();
        }
    }

    const Buffer& buffer = terminal.buffer();
    const int count = buffer.lines().count();
    TerminalBidi::clearCaches();
    std::size_t laidOut = 0;
    auto start = Clock::now();
    for (int row = 0; row < count; ++row) {
        const auto result = TerminalBidi::paragraphLayout(row, buffer, terminal.cols(), terminal);
        laidOut += result && result->row(row) ? 1 : 0;
    }
    const double cold = secondsSince(start);

    // A screen drawn again and again: every row a cache hit.
    constexpr int frames = 2000;
    std::size_t cachedRows = 0;
    const int top = std::max(count - terminal.rows(), 0);
    start = Clock::now();
    for (int frame = 0; frame < frames; ++frame) {
        for (int row = top; row < count; ++row)
            cachedRows += TerminalBidi::layoutForRow(row, buffer, terminal.cols(), terminal).layout != nullptr ? 1 : 0;
    }
    const double warm = secondsSince(start);

    char out[256];
    std::snprintf(out, sizeof out,
                  "bidi 80x24 lines=%d stream=%.1f MB layout=%.0f lines/s (%.1f MB/s) cached-screen=%.1f us rows-laid-out=%zu screen-rows-laid-out=%zu",
                  count, streamBytes / 1e6, count / cold, streamBytes / 1e6 / cold, warm / frames * 1e6, laidOut, cachedRows / frames);
    return out;
}

} // namespace corvantix::bench
