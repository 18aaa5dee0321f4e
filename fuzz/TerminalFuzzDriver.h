// Replays one fuzz input against a Terminal and checks the screen model's invariants
// after every step. Shared by the libFuzzer target and the regression test that replays
// saved findings, so both read an input the same way.
//
// Input layout:
//   byte 0   columns: 2 + b * 298 / 255 (2 .. 300)
//   byte 1   rows:    1 + b * 199 / 255 (1 .. 200)
//   byte 2   low nibble: scrollback lines = 128 * nibble; high nibble: number of step bytes
//   step bytes, each: chunk length = 1 + (b & 0x1f), times 64 when bit 0x20 is set;
//            both top bits set: resize after the chunk to a size derived from b and the
//            step number
//   the rest: the bytes fed to the terminal, chunk by chunk; what the steps leave is fed
//            in one last chunk.
// Inputs shorter than the header are fed as they are to an 80 x 24 terminal.
#pragma once

#include "emulator/Terminal.h"
#include "emulator/TerminalDelegate.h"
#include "graphics/KittyPlacementCells.h"

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <vector>

namespace corvantix::fuzz {

// An image object as a view attaches it to a line.
class FuzzImage final : public KittyPlacementImage {
public:
    FuzzImage(int width, int height, int column) : width_(width), height_(height), col_(column) {}
    int pixelWidth() const override { return width_; }
    int pixelHeight() const override { return height_; }
    int col() const override { return col_; }
    void setCol(int column) override { col_ = column; }

private:
    int width_;
    int height_;
    int col_;
};

// Places an image as a view does: one object per line from the cursor's line, `rows` of them,
// a line feed after each; during a Kitty put the objects carry the request and, with both ids,
// the placement is recorded.
inline void placeImageRows(Terminal& terminal, int width, int height, int cols, int rows)
{
    const bool kitty = terminal.kittyPlacementContext().has_value();
    const KittyPlacementContext context = terminal.kittyPlacementContext().value_or(KittyPlacementContext{});
    Buffer& screen = terminal.buffer();
    const KittyPlacedSpan span{screen.x(), screen.y() + screen.yBase(), cols, rows};
    if (kitty && context.imageId && context.placementId)
        terminal.recordKittyPlacement(kittyPlacementRecordOf(context, span, terminal.isCurrentBufferAlternate()));
    for (int i = 0; i < rows; ++i) {
        auto image = std::make_shared<FuzzImage>(width, height, span.col);
        if (kitty)
            markKittyPlacementImage(*image, context, span);
        screen.attachImagesToLine(image, screen.yBase() + screen.y());
        terminal.cmdIndex();
    }
}

// Records the replies and answers every question a host can be asked, so that the reply
// paths run too. Images are placed on the lines as a view places them (a few lines at
// most), so that the upkeep of image cells runs as well.
class ReplyRecorder final : public TerminalDelegate {
public:
    static constexpr std::size_t keptReplyBytes = 1 << 16;

    void send(Terminal&, std::span<const std::uint8_t> bytes) override
    {
        ++replyCount;
        replyBytes += bytes.size();
        if (lastReply.size() + bytes.size() > keptReplyBytes)
            lastReply.clear();
        lastReply.insert(lastReply.end(), bytes.begin(), bytes.end());
    }
    std::optional<std::vector<std::uint8_t>> windowCommand(Terminal&, const WindowManipulationCommand&) override
    {
        ++windowCommands;
        return std::vector<std::uint8_t>{'\x1b', '[', '8', ';', '2', '4', ';', '8', '0', 't'};
    }
    bool trustsHost(Terminal&) override { return true; }
    std::optional<CellPixelSize> cellSizeInPixels(Terminal&) override { return CellPixelSize{8, 16}; }
    std::optional<std::vector<std::uint8_t>> clipboardRead(Terminal&) override
    {
        return std::vector<std::uint8_t>{'c', 'l', 'i', 'p'};
    }
    void createImageFromBitmap(Terminal& terminal, std::vector<std::uint8_t>& bytes, int width, int height) override
    {
        imageBytes += bytes.size();
        place(terminal, width, height);
    }
    void createImage(Terminal& terminal, std::span<const std::uint8_t> bytes, ImageSizeRequest, ImageSizeRequest,
                     bool) override
    {
        imageBytes += bytes.size();
        place(terminal, 8, 16);
    }

    std::size_t replyCount = 0;
    std::size_t replyBytes = 0;
    std::size_t windowCommands = 0;
    std::size_t imageBytes = 0;
    std::vector<std::uint8_t> lastReply;

private:
    static void place(Terminal& terminal, int width, int height)
    {
        placeImageRows(terminal, width, height, std::clamp((width + 7) / 8, 1, 1000), std::clamp((height + 15) / 16, 1, 4));
    }
};

// The first broken invariant, or none.
inline std::optional<std::string> checkInvariants(const Terminal& terminal)
{
    auto fail = [](std::string what) { return std::optional<std::string>(std::move(what)); };
    const Buffer& screen = terminal.buffer();
    const int cols = terminal.cols();
    const int rows = terminal.rows();
    if (cols < Terminal::MINIMUM_COLS || rows < Terminal::MINIMUM_ROWS || cols > Terminal::maximumDimension
        || rows > Terminal::maximumDimension || static_cast<long long>(cols) * rows > Terminal::maximumCells)
        return fail("size " + std::to_string(cols) + "x" + std::to_string(rows) + " out of bounds");
    if (screen.cols() != cols || screen.rows() != rows)
        return fail("active screen is " + std::to_string(screen.cols()) + "x" + std::to_string(screen.rows())
                    + ", terminal " + std::to_string(cols) + "x" + std::to_string(rows));
    // The column may stand one past the last (a pending wrap), never further.
    if (screen.x() < 0 || screen.x() > cols || screen.y() < 0 || screen.y() >= rows)
        return fail("cursor (" + std::to_string(screen.x()) + ", " + std::to_string(screen.y()) + ") outside "
                    + std::to_string(cols) + "x" + std::to_string(rows));
    const CircularBufferLineList& ring = screen.lines();
    if (ring.count() < 0 || ring.count() > ring.maxLength())
        return fail("ring holds " + std::to_string(ring.count()) + " of " + std::to_string(ring.maxLength()));
    if (screen.yBase() < 0 || screen.yBase() + rows > ring.count())
        return fail("yBase " + std::to_string(screen.yBase()) + " with " + std::to_string(rows) + " rows in a ring of "
                    + std::to_string(ring.count()));
    if (screen.yDisp() < 0 || screen.yDisp() > screen.yBase())
        return fail("yDisp " + std::to_string(screen.yDisp()) + " beyond yBase " + std::to_string(screen.yBase()));
    if (screen.scrollTop() < 0 || screen.scrollTop() > screen.scrollBottom() || screen.scrollBottom() >= rows)
        return fail("scroll region " + std::to_string(screen.scrollTop()) + ".." + std::to_string(screen.scrollBottom()));

    int linesWithImages = 0;
    for (int index = 0; index < ring.count(); ++index) {
        const auto& line = ring.peek(index);
        if (!line)
            continue; // never written: nothing to check
        if (line->images())
            ++linesWithImages;
        // Every cell is narrow (1), the first half of a wide character (2) or a placeholder
        // (0, code 0), and the halves come in pairs: every first half is followed by a
        // placeholder and every placeholder follows a first half.
        const std::vector<CharData> cells = line->cells();
        for (std::size_t col = 0; col < cells.size(); ++col) {
            const CharData& cell = cells[col];
            const auto where = [&] { return " at line " + std::to_string(index) + " column " + std::to_string(col); };
            if (!((cell.width >= 0 && cell.width <= 2) && (cell.width != 0 || cell.code == 0) && cell.code >= 0))
                return fail("cell of width " + std::to_string(cell.width) + " and code " + std::to_string(cell.code)
                            + where());
            if (cell.width == 2 && (col + 1 == cells.size() || cells[col + 1].width != 0))
                return fail("wide character without its placeholder" + where());
            if (cell.width == 0 && (col == 0 || cells[col - 1].width != 2))
                return fail("placeholder without its wide character" + where());
        }
    }
    // The count gates the image upkeep after each scroll: too low skips it while images are
    // shown, too high makes text-only scrolling pay for images long gone.
    if (screen.linesWithImagesCount() != linesWithImages)
        return fail("lines with images counted " + std::to_string(screen.linesWithImagesCount()) + ", held "
                    + std::to_string(linesWithImages));
    return std::nullopt;
}

struct FuzzRun {
    // The first broken invariant and the step after which it was seen.
    std::optional<std::string> violation;
    std::size_t replyCount = 0;
};

inline FuzzRun runFuzzInput(std::span<const std::uint8_t> data)
{
    FuzzRun run;
    ReplyRecorder host;
    constexpr std::size_t headerSize = 3;

    TerminalOptions options;
    options.cols = 80;
    options.rows = 24;
    options.scrollback = 64;
    std::span<const std::uint8_t> steps;
    std::span<const std::uint8_t> stream = data;
    if (data.size() >= headerSize) {
        options.cols = 2 + data[0] * 298 / 255;
        options.rows = 1 + data[1] * 199 / 255;
        options.scrollback = 128 * (data[2] & 0x0F);
        const std::size_t stepCount = std::min<std::size_t>(data[2] >> 4, data.size() - headerSize);
        steps = data.subspan(headerSize, stepCount);
        stream = data.subspan(headerSize + stepCount);
    }

    auto terminal = std::make_unique<Terminal>(&host, options);
    auto check = [&](std::string step) {
        if (run.violation)
            return;
        if (auto broken = checkInvariants(*terminal))
            run.violation = *broken + " after " + step;
        // What a host does after every read.
        (void)terminal->getUpdateRange();
        terminal->clearUpdateRange();
    };

    std::size_t offset = 0;
    for (std::size_t step = 0; step < steps.size() && !run.violation; ++step) {
        const std::uint8_t b = steps[step];
        std::size_t length = 1 + (b & 0x1F);
        if (b & 0x20)
            length *= 64;
        length = std::min(length, stream.size() - offset);
        terminal->feed(stream.subspan(offset, length));
        offset += length;
        check("chunk " + std::to_string(step));
        if ((b & 0xC0) == 0xC0) {
            const int newCols = 2 + static_cast<int>((b * 37u + step * 11u) % 299u);
            const int newRows = 1 + static_cast<int>((b * 13u + step * 7u) % 200u);
            terminal->resize(newCols, newRows);
            check("resize " + std::to_string(step) + " to " + std::to_string(newCols) + "x" + std::to_string(newRows));
        }
    }
    if (offset < stream.size() && !run.violation) {
        terminal->feed(stream.subspan(offset));
        check("last chunk");
    }
    if (!run.violation) {
        // The host's reads of the screen.
        for (int row = 0; row < terminal->rows(); ++row)
            (void)terminal->rowText(terminal->buffer(), row, 0, -1);
        (void)terminal->getCharacterAt(terminal->buffer().x(), terminal->buffer().y());
    }
    run.replyCount = host.replyCount;
    terminal->setDelegate(nullptr);
    return run;
}

} // namespace corvantix::fuzz
