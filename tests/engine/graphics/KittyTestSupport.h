// Helpers for the image tests: a terminal with a recording host, APC framing, base64 and a
// deflate bomb.
#pragma once

#include "engine/emulator/RecordingDelegate.h"
#include "engine/emulator/TerminalTestSupport.h"
#include "../../../fuzz/TerminalFuzzDriver.h"
#include "graphics/KittyPlacementCells.h"
#include "platform/Base64.h"

#include <png.h>
#include <zlib.h>

#include <algorithm>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace corvantix::test {

template <class Host = RecordingDelegate>
struct KittyFixtureWith {
    explicit KittyFixtureWith(int cols = 80, int rows = 25) : terminal(makeTerminal(cols, rows, &delegate)) {}
    Host delegate;
    std::unique_ptr<Terminal> terminal;
    // Feeds the command and returns what the terminal replied to it.
    std::string command(std::string_view body)
    {
        delegate.sent.clear();
        feed(*terminal, "\x1b_G" + std::string(body) + "\x1b\\");
        return delegate.sent;
    }
    std::pair<int, int> cursor() const { return {terminal->buffer().x(), terminal->buffer().y()}; }
    const KittyGraphicsState& store() const { return terminal->kittyGraphicsState(); }
};
using KittyFixture = KittyFixtureWith<>;

// One grey pixel, the image of the placeholder scenes.
inline const std::string placeholderPixel = "f=32,s=1,v=1;" + base64Encode(std::vector<std::uint8_t>(4, 0x7F));

// Images 42 and 7, each shown by a virtual placement through placeholder cells on screen rows
// 5 and 2; the cursor then rests on row 9.
template <class Host>
void showPlaceholderScene(KittyFixtureWith<Host>& f)
{
    f.command("a=T,q=2,U=1,i=42,c=2,r=1," + placeholderPixel);
    f.command("a=T,q=2,U=1,i=7,c=1,r=1," + placeholderPixel);
    const std::string piece = "\xf4\x8e\xbb\xae\xcc\x85"; // U+10EEEE, row 0
    feed(*f.terminal, "\x1b[6;1H\x1b[38;5;42m" + piece + "\xcc\x85" + piece + "\xcc\x8d\x1b[m");
    feed(*f.terminal, "\x1b[3;4H\x1b[38;2;0;0;7m" + piece + "\xcc\x85\x1b[m\x1b[10;1H");
}

// An image object as a view makes it: one per screen line an image covers.
using TestImageCell = fuzz::FuzzImage;

// Places images the way the view does, with cells of 10 x 20 pixels: one object per line
// from the cursor's line with a line feed after each; during a Kitty put the objects carry
// the request's fields and, with both ids, the placement is recorded.
class PlacingViewDelegate : public RecordingDelegate {
public:
    PlacingViewDelegate() { cellSize = CellPixelSize{10, 20}; }
    void createImageFromBitmap(Terminal& terminal, std::vector<std::uint8_t>&, int width, int height) override
    {
        place(terminal, width, height);
    }
    void createImage(Terminal& terminal, std::span<const std::uint8_t>, ImageSizeRequest, ImageSizeRequest, bool) override
    {
        place(terminal, 10, 20);
    }

private:
    static int cells(ImageSizeRequest request, int pixels, int cellPixels)
    {
        if (request.kind == ImageSizeRequest::Case::cells)
            return request.value;
        return std::max(1, (pixels + cellPixels - 1) / cellPixels);
    }
    static void place(Terminal& terminal, int width, int height)
    {
        const KittyPlacementContext context = terminal.kittyPlacementContext().value_or(KittyPlacementContext{});
        fuzz::placeImageRows(terminal, width, height, cells(context.widthRequest, width, 10),
                             cells(context.heightRequest, height, 20));
    }
};

// A reply as the program receives it with 7-bit controls.
inline std::string apc(std::string_view text) { return "\x1b_" + std::string(text) + "\x1b\\"; }

inline std::string base64(std::string_view bytes)
{
    return base64Encode(std::span(reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size()));
}

inline std::string base64(const std::vector<std::uint8_t>& bytes) { return base64Encode(bytes); }

// About 1 MiB of DEFLATE that expands to 1 GiB of zeros: one flushed block of a megabyte
// of zeros repeated, then an empty final block.
inline std::vector<std::uint8_t> deflateBomb()
{
    z_stream stream{};
    deflateInit2(&stream, 9, Z_DEFLATED, -15, 9, Z_DEFAULT_STRATEGY);
    const std::vector<std::uint8_t> zeros(1 << 20);
    std::vector<std::uint8_t> block(1 << 16);
    stream.next_in = const_cast<Bytef*>(zeros.data());
    stream.avail_in = static_cast<uInt>(zeros.size());
    stream.next_out = block.data();
    stream.avail_out = static_cast<uInt>(block.size());
    deflate(&stream, Z_FULL_FLUSH);
    block.resize(block.size() - stream.avail_out);
    std::vector<std::uint8_t> tail(64);
    stream.next_out = tail.data();
    stream.avail_out = static_cast<uInt>(tail.size());
    deflate(&stream, Z_FINISH);
    tail.resize(tail.size() - stream.avail_out);
    deflateEnd(&stream);
    std::vector<std::uint8_t> bomb;
    for (int i = 0; i < 1024; ++i) bomb.insert(bomb.end(), block.begin(), block.end());
    bomb.insert(bomb.end(), tail.begin(), tail.end());
    return bomb;
}

// The image encoded as PNG.
inline std::vector<std::uint8_t> encodePng(const std::vector<std::uint8_t>& rgba, int width, int height)
{
    png_image image{};
    image.version = PNG_IMAGE_VERSION;
    image.width = static_cast<png_uint_32>(width);
    image.height = static_cast<png_uint_32>(height);
    image.format = PNG_FORMAT_RGBA;
    png_alloc_size_t size = 0;
    png_image_write_to_memory(&image, nullptr, &size, 0, rgba.data(), 0, nullptr);
    std::vector<std::uint8_t> out(size);
    png_image_write_to_memory(&image, out.data(), &size, 0, rgba.data(), 0, nullptr);
    out.resize(size);
    return out;
}

} // namespace corvantix::test
