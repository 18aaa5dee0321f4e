#include "graphics/SixelDcsHandler.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <limits>

namespace corvantix {

namespace {

constexpr std::uint8_t poundChar = '#';

bool isDigit(std::uint8_t byte)
{
    return byte >= '0' && byte <= '9';
}

int percentToByte(int percent)
{
    return std::clamp(percent, 0, 100) * 255 / 100;
}

} // namespace

void SixelDcsHandler::hook()
{
    blocks_.clear();
    size_ = 0;
    overflowed_ = false;
}

void SixelDcsHandler::put(std::span<const std::uint8_t> bytes)
{
    if (overflowed_)
        return;
    if (bytes.size() > maximumDataBytes - size_) {
        // A string this long is no picture we would keep; drop what came so far.
        overflowed_ = true;
        blocks_.clear();
        blocks_.shrink_to_fit();
        size_ = 0;
        return;
    }
    while (!bytes.empty()) {
        if (size_ % blockBytes == 0) {
            blocks_.emplace_back();
            blocks_.back().reserve(blockBytes);
        }
        std::vector<std::uint8_t>& block = blocks_.back();
        const std::size_t room = blockBytes - block.size();
        const std::size_t count = std::min(room, bytes.size());
        block.insert(block.end(), bytes.begin(), bytes.begin() + static_cast<std::ptrdiff_t>(count));
        size_ += count;
        bytes = bytes.subspan(count);
    }
}

void SixelDcsHandler::unhook()
{
    if (overflowed_)
        return;
    sixelParse();
}

void SixelDcsHandler::sixelParse()
{
    palette_.clear();
    pixels_.clear();
    x_ = y_ = maxX_ = maxY_ = 0;
    if (!walk(false))
        return;
    // Both sides are at most the limit, so the product fits easily in 64 bits.
    pixels_.assign(static_cast<std::size_t>(maxX_ * maxY_ * 4), 0);
    x_ = y_ = 0;
    walk(true);
    host_.createImageFromBitmap(pixels_, static_cast<int>(maxX_), static_cast<int>(maxY_));
}

bool SixelDcsHandler::walk(bool draw)
{
    std::size_t pos = 0;
    while (pos < size_ && at(pos) != poundChar)
        ++pos;

    // Reads a run of digits at `pos`; numbers too large for an int stay at its maximum.
    const auto readNumber = [&] {
        std::int64_t value = 0;
        while (pos < size_ && isDigit(at(pos))) {
            value = std::min<std::int64_t>(value * 10 + (at(pos) - '0'), std::numeric_limits<int>::max());
            ++pos;
        }
        return static_cast<int>(value);
    };

    std::int64_t repeat = 1;
    std::int64_t sixelDraws = 0;
    std::uint32_t color = 0;
    while (pos < size_) {
        const std::uint8_t byte = at(pos);
        if (byte == poundChar) {
            ++pos;
            std::array<int, 5> numbers{};
            std::size_t count = 0;
            while (pos < size_) {
                if (at(pos) == ';' && pos + 1 < size_ && isDigit(at(pos + 1)))
                    ++pos;
                else if (!isDigit(at(pos)))
                    break;
                const int value = readNumber();
                if (count < numbers.size())
                    numbers[count] = value;
                ++count;
            }
            if (count == 0)
                break;
            if (draw) {
                if (count > 1)
                    sixelDefineColor(std::span<const int>(numbers.data(), std::min(count, numbers.size())));
                color = colorOf(numbers[0]);
            }
            continue;
        }
        ++pos;
        if (byte == '-' || byte == '$') {
            if (byte == '-')
                y_ += 6;
            maxX_ = std::max(maxX_, x_);
            x_ = 0;
        } else if (byte == '!') {
            if (pos < size_ && isDigit(at(pos)))
                repeat = readNumber();
        } else if (byte >= 63 && byte <= 126) {
            const int value = byte - 63;
            if (draw) {
                for (std::int64_t i = 0; i < repeat; ++i)
                    drawSixel(value, color);
            } else {
                x_ += repeat;
                sixelDraws += std::max<std::int64_t>(repeat, 1);
                if (sixelDraws > maximumSixelDraws)
                    return false;
                // A sixel repeated 0 times is not drawn, so its bits do not make the image
                // taller either: "!0" leaves no trace.
                if (repeat > 0) {
                    for (int bit = 5; bit >= 0; --bit) {
                        if (value & (1 << bit)) {
                            maxY_ = std::max(maxY_, y_ + bit + 1);
                            break;
                        }
                    }
                }
                if (x_ > maximumDimension || maxY_ > maximumDimension)
                    return false;
            }
            repeat = 1;
        }
    }
    maxX_ = std::max(maxX_, x_);
    return maxX_ <= maximumDimension && maxY_ <= maximumDimension;
}

std::uint32_t SixelDcsHandler::colorOf(int number) const
{
    if (const auto entry = palette_.find(number); entry != palette_.end())
        return entry->second;
    return host_.defaultColorRegister(number).value_or(0);
}

void SixelDcsHandler::drawSixel(int value, std::uint32_t color)
{
    for (int bit = 0; bit < 6; ++bit) {
        if (!(value & (1 << bit)))
            continue;
        const std::int64_t row = y_ + bit;
        if (x_ >= maxX_ || row >= maxY_)
            continue; // the sizing pass makes room for every pixel; this only guards it
        const auto offset = static_cast<std::size_t>((row * maxX_ + x_) * 4);
        pixels_[offset] = static_cast<std::uint8_t>(color >> 24);
        pixels_[offset + 1] = static_cast<std::uint8_t>(color >> 16);
        pixels_[offset + 2] = static_cast<std::uint8_t>(color >> 8);
        pixels_[offset + 3] = static_cast<std::uint8_t>(color);
    }
    ++x_;
}

void SixelDcsHandler::sixelDefineColor(std::span<const int> numbers)
{
    if (numbers.size() < 5)
        return;
    const int reg = numbers[0];
    std::uint32_t rgb = 0;
    if (numbers[1] == 2) {
        rgb = static_cast<std::uint32_t>(percentToByte(numbers[2])) << 16
            | static_cast<std::uint32_t>(percentToByte(numbers[3])) << 8
            | static_cast<std::uint32_t>(percentToByte(numbers[4]));
    } else if (numbers[1] == 1) {
        rgb = sixelHlsToRgb(std::clamp(numbers[2], 0, 360), std::clamp(numbers[3], 0, 100),
                            std::clamp(numbers[4], 0, 100));
    } else {
        return;
    }
    // Every new register costs memory, and a string may name millions of them.
    if (palette_.size() >= maximumPaletteEntries && !palette_.contains(reg))
        return;
    palette_[reg] = rgb << 8 | 0xFF;
}

std::uint32_t SixelDcsHandler::sixelHlsToRgb(int hue, int lightness, int saturation)
{
    if (saturation == 0) {
        const auto grey = static_cast<std::uint32_t>(percentToByte(lightness));
        return grey << 16 | grey << 8 | grey;
    }
    // Hue 0 is blue, 120 red and 240 green.
    const int h = (hue + 240) % 360;
    const double l = lightness;
    const double c = (1.0 - std::fabs(2.0 * l / 100.0 - 1.0)) * saturation * 0.5;
    const double high = l + c;
    const double low = l - c;
    const double ramp = high - low;
    const double hd = h;
    double red = 0;
    double green = 0;
    double blue = 0;
    switch (h / 60) {
    case 0: red = high; green = low + (hd / 60) * ramp; blue = low; break;
    case 1: red = low + ((120 - hd) / 60) * ramp; green = high; blue = low; break;
    case 2: red = low; green = high; blue = low + ((hd - 120) / 60) * ramp; break;
    case 3: red = low; green = low + ((240 - hd) / 60) * ramp; blue = high; break;
    case 4: red = low + ((hd - 240) / 60) * ramp; green = low; blue = high; break;
    default: red = high; green = low; blue = low + ((360 - hd) / 60) * ramp; break;
    }
    const auto channel = [](double percent) {
        return static_cast<std::uint32_t>(percentToByte(static_cast<int>(std::clamp(percent, -1.0, 101.0))));
    };
    return channel(red) << 16 | channel(green) << 8 | channel(blue);
}

} // namespace corvantix
