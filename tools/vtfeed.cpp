// vtfeed: feeds standard input to a headless terminal and prints what it shows.
//
//   vtfeed [--cols N] [--rows N] [--chunk N] [--scrollback] < bytes
//
// Output: with --scrollback the lines above the screen first, each as ~|text|; then each
// screen row as |text| (trailing blanks trimmed); then "cursor X Y" (zero-based column and
// row); then "image WxH at COL ROW" for each decoded image the terminal handed over (pixels,
// and the cell where it was placed; the newest 64); then "reply HEX" for each reply the
// terminal sent, as lowercase hex bytes. With --chunk the input is fed as it is read.
#include "ToolCommon.h"
#include "emulator/Terminal.h"

#include <cstdint>
#include <cstdio>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

using namespace corvantix;

namespace {

constexpr ToolUsage usage{"vtfeed",
                          "usage: vtfeed [--cols N] [--rows N] [--chunk N] [--scrollback] < input\n"
                          "  --cols N, --rows N  the screen's size (80 x 25)\n"
                          "  --chunk N           feed the input N bytes at a time, as it is read\n"
                          "  --scrollback        print the lines above the screen first, as ~|text|\n"};

class ReplyRecorder final : public TerminalDelegate {
public:
    // Like a headless terminal, only the newest images are kept.
    static constexpr std::size_t maximumImages = 64;

    void send(Terminal&, std::span<const std::uint8_t> bytes) override { replies.emplace_back(bytes.begin(), bytes.end()); }
    void createImageFromBitmap(Terminal& source, std::vector<std::uint8_t>&, int width, int height) override
    {
        if (images.size() == maximumImages)
            images.erase(images.begin());
        images.push_back({width, height, source.buffer().x(), source.buffer().y()});
    }

    std::vector<std::vector<std::uint8_t>> replies;
    std::vector<ShownImage> images;
};

struct Arguments {
    int cols = 80;
    int rows = 25;
    std::size_t chunk = 0; // 0: the whole input in one feed
    bool scrollback = false;
};

Arguments parseArguments(int argc, char** argv)
{
    Arguments arguments;
    int chunk = 0;
    const ToolOption options[] = {
        {"--cols", true, takeCount(arguments.cols, Terminal::maximumDimension)},
        {"--rows", true, takeCount(arguments.rows, Terminal::maximumDimension)},
        {"--chunk", true, takeCount(chunk, 1 << 30)},
        {"--scrollback", false, takeFlag(arguments.scrollback)},
    };
    if (const ToolOperands operands = readToolArguments(argc, argv, usage, options); !operands.words.empty())
        refuseArguments(usage, "unexpected operand " + std::string(operands.words.front())
                                   + " (the input is read from standard input)");
    arguments.chunk = static_cast<std::size_t>(chunk);
    return arguments;
}

} // namespace

int main(int argc, char** argv)
{
    const Arguments arguments = parseArguments(argc, argv);
    ReplyRecorder recorder;
    TerminalOptions options;
    options.cols = arguments.cols;
    options.rows = arguments.rows;
    Terminal terminal(&recorder, options);

    // In pieces the input is fed as it arrives, so a long stream is never held whole.
    std::vector<std::uint8_t> input;
    std::uint8_t block[1 << 16];
    std::size_t got = 0;
    while ((got = std::fread(block, 1, sizeof block, stdin)) > 0) {
        input.insert(input.end(), block, block + got);
        if (arguments.chunk == 0)
            continue;
        std::size_t start = 0;
        for (; input.size() - start >= arguments.chunk; start += arguments.chunk)
            terminal.feed(std::span<const std::uint8_t>(input).subspan(start, arguments.chunk));
        input.erase(input.begin(), input.begin() + static_cast<std::ptrdiff_t>(start));
    }
    if (!input.empty())
        terminal.feed(input);

    const std::string output = screenDump(terminal, recorder.replies, arguments.scrollback, recorder.images);
    std::fwrite(output.data(), 1, output.size(), stdout);
    return std::fflush(stdout) == 0 ? 0 : 1;
}
