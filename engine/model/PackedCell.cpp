#include "model/PackedCell.h"

#include <cstdlib>

namespace corvantix {

namespace {

constexpr std::uint16_t defaultColorReference = 257;
constexpr std::uint16_t defaultInvertedColorReference = 258;

// The levels of the palette's colour cube.
constexpr std::array<int, 6> cubeLevels = {0, 95, 135, 175, 215, 255};

int nearestCubeStep(int value)
{
    int best = 0;
    for (int i = 1; i < 6; ++i) {
        if (std::abs(cubeLevels[static_cast<std::size_t>(i)] - value) < std::abs(cubeLevels[static_cast<std::size_t>(best)] - value))
            best = i;
    }
    return best;
}

int distance(int r1, int g1, int b1, int r2, int g2, int b2)
{
    return (r1 - r2) * (r1 - r2) + (g1 - g2) * (g1 - g2) + (b1 - b2) * (b1 - b2);
}

} // namespace

UnderlineColorTable& UnderlineColorTable::shared()
{
    static UnderlineColorTable table;
    return table;
}

std::uint8_t UnderlineColorTable::nearestPaletteIndex(std::uint8_t red, std::uint8_t green, std::uint8_t blue)
{
    const int r = nearestCubeStep(red);
    const int g = nearestCubeStep(green);
    const int b = nearestCubeStep(blue);
    const int cubeIndex = 16 + 36 * r + 6 * g + b;
    const int cubeDistance = distance(red, green, blue, cubeLevels[static_cast<std::size_t>(r)],
                                      cubeLevels[static_cast<std::size_t>(g)], cubeLevels[static_cast<std::size_t>(b)]);
    // The grey ramp: 8, 18, ..., 238.
    const int average = (red + green + blue) / 3;
    const int greyStep = std::min(std::max((average - 3) / 10, 0), 23);
    const int grey = 8 + 10 * greyStep;
    const int greyDistance = distance(red, green, blue, grey, grey, grey);
    return static_cast<std::uint8_t>(greyDistance < cubeDistance ? 232 + greyStep : cubeIndex);
}

std::uint16_t UnderlineColorTable::reference(const std::optional<Attribute::Color>& color)
{
    if (!color)
        return 0;
    switch (color->kind()) {
    case Attribute::Color::Case::ansi256: return static_cast<std::uint16_t>(1 + color->code());
    case Attribute::Color::Case::defaultColor: return defaultColorReference;
    case Attribute::Color::Case::defaultInvertedColor: return defaultInvertedColorReference;
    case Attribute::Color::Case::trueColor: break;
    }
    return trueColorReference(*color);
}

std::uint16_t UnderlineColorTable::trueColorReference(const Attribute::Color& color)
{
    const std::uint32_t bits = color.memoryBits();
    const std::lock_guard guard(lock_);
    if (const auto found = references_.find(bits); found != references_.end())
        return found->second;
    const std::size_t held = count_.load(std::memory_order_relaxed);
    if (held >= capacity)
        return static_cast<std::uint16_t>(1 + nearestPaletteIndex(color.red(), color.green(), color.blue()));
    colors_[held].store(bits, std::memory_order_relaxed);
    // Published after its colour: a reader that sees the count sees the entry.
    count_.store(held + 1, std::memory_order_release);
    const auto reference = static_cast<std::uint16_t>(firstTableReference + held);
    references_.emplace(bits, reference);
    return reference;
}

std::optional<Attribute::Color> UnderlineColorTable::color(std::uint16_t reference) const
{
    if (reference == 0)
        return std::nullopt;
    if (reference <= 256)
        return Attribute::Color::ansi256(static_cast<std::uint8_t>(reference - 1));
    if (reference == defaultColorReference)
        return Attribute::Color::defaultColor();
    if (reference == defaultInvertedColorReference)
        return Attribute::Color::defaultInvertedColor();
    const std::size_t index = reference - firstTableReference;
    if (index >= count_.load(std::memory_order_acquire))
        return std::nullopt;
    return Attribute::Color::fromMemoryBits(colors_[index].load(std::memory_order_relaxed));
}

std::size_t UnderlineColorTable::count() const
{
    return count_.load(std::memory_order_acquire);
}

std::uint16_t PackedCell::underlineColorReferenceOf(const Attribute::Color& color)
{
    return UnderlineColorTable::shared().reference(color);
}

std::optional<Attribute::Color> PackedCell::underlineColorOf(std::uint16_t reference)
{
    return UnderlineColorTable::shared().color(reference);
}

} // namespace corvantix
