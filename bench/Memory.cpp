#include "Memory.h"

#include "Runners.h"
#include "Streams.h"

#include "emulator/Terminal.h"

#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include <malloc.h>
#include <sys/wait.h>
#include <unistd.h>

namespace corvantix::bench {

namespace {

constexpr int memoryCols = 80;
constexpr int memoryRows = 24;

long residentBytes()
{
    long pages = 0;
    long resident = 0;
    std::FILE* statm = std::fopen("/proc/self/statm", "r");
    if (statm == nullptr)
        return -1;
    const int read = std::fscanf(statm, "%ld %ld", &pages, &resident);
    std::fclose(statm);
    if (read != 2)
        return -1;
    return resident * sysconf(_SC_PAGESIZE);
}

// Runs in the child: fills a terminal and answers the figure.
double measure(int scrollbackLines)
{
    // A block of full-width lines, made before the baseline is taken.
    Random random(0xC0FFEE);
    std::vector<std::uint8_t> block;
    constexpr int blockLines = 128;
    for (int line = 0; line < blockLines; ++line) {
        for (int col = 0; col < memoryCols; ++col)
            block.push_back(static_cast<std::uint8_t>(0x21 + random.below(94)));
        block.push_back('\r');
        block.push_back('\n');
    }

    malloc_trim(0); // free heap left by the parent would be reused without showing up
    const long before = residentBytes();
    TerminalOptions options;
    options.cols = memoryCols;
    options.rows = memoryRows;
    options.scrollback = scrollbackLines;
    auto terminal = std::make_unique<Terminal>(nullptr, options);
    const int heldLines = scrollbackLines + memoryRows;
    for (int written = 0; written < heldLines + blockLines; written += blockLines)
        terminal->feed(std::span<const std::uint8_t>(block));
    const long after = residentBytes();
    if (before < 0 || after < 0)
        return -1;
    return static_cast<double>(after - before) / (static_cast<double>(heldLines) * memoryCols);
}

} // namespace

std::optional<double> residentBytesPerCell(int scrollbackLines)
{
    int channel[2];
    if (pipe(channel) != 0)
        return std::nullopt;
    std::fflush(stdout);
    const pid_t child = fork();
    if (child < 0) {
        close(channel[0]);
        close(channel[1]);
        return std::nullopt;
    }
    if (child == 0) {
        close(channel[0]);
        const double figure = measure(scrollbackLines);
        const ssize_t written = write(channel[1], &figure, sizeof figure);
        _exit(written == sizeof figure ? 0 : 1);
    }
    close(channel[1]);
    double figure = -1;
    const ssize_t got = read(channel[0], &figure, sizeof figure);
    close(channel[0]);
    int status = 0;
    waitpid(child, &status, 0);
    if (got != sizeof figure || !WIFEXITED(status) || WEXITSTATUS(status) != 0 || figure < 0)
        return std::nullopt;
    return figure;
}

} // namespace corvantix::bench
