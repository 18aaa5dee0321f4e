// Sixel images: the data of one DCS "q" string, collected and turned into an RGBA bitmap
// that goes to the host when the string ends.
//
// The handler reaches the terminal only through SixelHost. Everything runs on the thread
// that feeds the terminal.
#pragma once

#include <cstddef>
#include <cstdint>
#include <map>
#include <optional>
#include <span>
#include <vector>

namespace corvantix {

class SixelHost {
public:
    virtual ~SixelHost() = default;

    // The terminal's default colour of a palette number as R << 24 | G << 16 | B << 8 | 255;
    // none past the end of its palette.
    virtual std::optional<std::uint32_t> defaultColorRegister(int number) const = 0;
    // A finished image: `rgba` holds width x height pixels, rows top to bottom.
    virtual void createImageFromBitmap(std::vector<std::uint8_t>& rgba, int width, int height) = 0;
};

class SixelDcsHandler {
public:
    // Images are refused past this many pixels across or down, as Kitty images are.
    static constexpr int maximumDimension = 10000;
    // The most data one string may bring; a longer string draws nothing.
    static constexpr std::size_t maximumDataBytes = 419430400;
    // Colour registers one image may define; further new registers keep their default.
    static constexpr std::size_t maximumPaletteEntries = 4096;
    // Sixels one image may draw, repeats and overdrawing included: eight times a full image of
    // the largest size. Past it the image is refused, so "$" and large repeats cannot make a
    // short string cost minutes of drawing.
    static constexpr std::int64_t maximumSixelDraws =
        8LL * maximumDimension * ((maximumDimension + 5) / 6);

    explicit SixelDcsHandler(SixelHost& host) : host_(host) {}

    void hook();
    void put(std::span<const std::uint8_t> bytes);
    void unhook();

    // The two passes and the host call.
    void sixelParse();
    // One colour definition: register, kind (1 HLS, 2 RGB) and three values.
    void sixelDefineColor(std::span<const int> numbers);
    // Hue in degrees, lightness and saturation in percent; 0xRRGGBB.
    static std::uint32_t sixelHlsToRgb(int hue, int lightness, int saturation);

    const std::map<int, std::uint32_t>& palette() const { return palette_; }
    std::size_t dataSize() const { return size_; }

private:
    // The data is kept in fixed blocks so that a long string never needs a copy of itself
    // to grow.
    static constexpr std::size_t blockBytes = 1 << 16;

    std::uint8_t at(std::size_t index) const { return blocks_[index / blockBytes][index % blockBytes]; }
    // Walks the data once; with `draw` false it only sizes the image. False when the image
    // grows past the limits.
    bool walk(bool draw);
    std::uint32_t colorOf(int number) const;
    void drawSixel(int value, std::uint32_t color);

    SixelHost& host_;
    std::vector<std::vector<std::uint8_t>> blocks_;
    std::size_t size_ = 0;
    bool overflowed_ = false;
    std::map<int, std::uint32_t> palette_;
    std::vector<std::uint8_t> pixels_;
    std::int64_t x_ = 0;
    std::int64_t y_ = 0;
    std::int64_t maxX_ = 0;
    std::int64_t maxY_ = 0;
};

} // namespace corvantix
