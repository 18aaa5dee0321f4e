#include "model/Color.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdio>
#include <ostream>

namespace corvantix {

namespace {

// Builds a palette from 8-bit RRGGBB values.
std::vector<Color> paletteFromHex(const std::array<std::uint32_t, 16>& entries)
{
    std::vector<Color> palette;
    palette.reserve(entries.size());
    for (std::uint32_t rgb : entries)
        palette.push_back(Color::fromRgb8(static_cast<int>((rgb >> 16) & 0xFF),
                                          static_cast<int>((rgb >> 8) & 0xFF),
                                          static_cast<int>(rgb & 0xFF)));
    return palette;
}

// Value of a hexadecimal digit, or -1 for any other byte.
int hexDigitValue(std::uint8_t byte)
{
    if (byte >= '0' && byte <= '9')
        return byte - '0';
    if (byte >= 'a' && byte <= 'f')
        return byte - 'a' + 10;
    if (byte >= 'A' && byte <= 'F')
        return byte - 'A' + 10;
    return -1;
}

bool isHexDigit(char c)
{
    return hexDigitValue(static_cast<std::uint8_t>(c)) >= 0;
}

bool allHexDigits(std::string_view text)
{
    return std::all_of(text.begin(), text.end(), isHexDigit);
}

// Reads up to maxDigits hexadecimal digits from bytes[pos], stopping at the first other byte.
struct HexRead {
    std::uint32_t value = 0;
    std::size_t digits = 0;
};

HexRead readHex(std::span<const std::uint8_t> bytes, std::size_t pos, std::size_t maxDigits)
{
    HexRead read;
    while (read.digits < maxDigits && pos + read.digits < bytes.size()) {
        const int digit = hexDigitValue(bytes[pos + read.digits]);
        if (digit < 0)
            break;
        read.value = read.value * 16 + static_cast<std::uint32_t>(digit);
        ++read.digits;
    }
    return read;
}

// Widens a value of d hexadecimal digits to 16 bits; d is shared by the three channels.
std::optional<std::uint16_t> scaleComponent(std::uint32_t value, std::size_t digits)
{
    switch (digits) {
    case 1:
        return static_cast<std::uint16_t>(value * 4112);
    case 2:
        return static_cast<std::uint16_t>(std::min<std::uint32_t>(value, 255) * 257);
    case 3:
        return static_cast<std::uint16_t>((value * 16) | (value >> 8));
    case 4:
        return static_cast<std::uint16_t>(value);
    default:
        return std::nullopt;
    }
}

std::optional<Color> scaledColor(const std::array<std::uint32_t, 3>& values, std::size_t digits)
{
    const auto red = scaleComponent(values[0], digits);
    const auto green = scaleComponent(values[1], digits);
    const auto blue = scaleComponent(values[2], digits);
    if (!red || !green || !blue)
        return std::nullopt;
    return Color(*red, *green, *blue);
}

std::optional<Color> parseHashForm(std::span<const std::uint8_t> digits)
{
    const std::size_t n = digits.size();
    if (n != 3 && n != 6 && n != 9 && n != 12)
        return std::nullopt;
    const std::size_t d = n / 3;
    std::array<std::uint32_t, 3> values{};
    for (std::size_t channel = 0; channel < 3; ++channel)
        values[channel] = readHex(digits.subspan(channel * d, d), 0, d).value;
    return scaledColor(values, d);
}

std::optional<Color> parseRgbForm(std::span<const std::uint8_t> rest)
{
    std::array<std::uint32_t, 3> values{};
    std::size_t d = 0;
    std::size_t pos = 0;
    for (std::size_t channel = 0; channel < 3; ++channel) {
        const HexRead read = readHex(rest, pos, 4);
        values[channel] = read.value;
        d = std::max(d, read.digits);
        pos += read.digits;
        if (pos < rest.size() && rest[pos] == '/')
            ++pos;
    }
    return scaledColor(values, d);
}

bool startsWith(std::span<const std::uint8_t> bytes, std::string_view prefix)
{
    return bytes.size() >= prefix.size() &&
           std::equal(prefix.begin(), prefix.end(), bytes.begin(),
                      [](char p, std::uint8_t b) { return static_cast<std::uint8_t>(p) == b; });
}

std::span<const std::uint8_t> asBytes(std::string_view text)
{
    return {reinterpret_cast<const std::uint8_t*>(text.data()), text.size()};
}

// --- CIELAB ---

double linearise(double s)
{
    return s > 0.04045 ? std::pow((s + 0.055) / 1.055, 2.4) : s / 12.92;
}

double labF(double t)
{
    return t > 0.008856 ? std::cbrt(t) : 7.787 * t + 16.0 / 116.0;
}

double labFInverse(double t)
{
    const double cube = t * t * t;
    return cube > 0.008856 ? cube : (t - 16.0 / 116.0) / 7.787;
}

double gammaEncode(double v)
{
    return v > 0.0031308 ? 1.055 * std::pow(v, 1.0 / 2.4) - 0.055 : 12.92 * v;
}

std::uint16_t channelFromLinear(double linear)
{
    const double v = gammaEncode(linear);
    double scaled;
    if (v >= 1)
        scaled = 255.5;
    else if (v > 0)
        scaled = v * 255 + 0.5;
    else
        scaled = 0.5; // also catches NaN, which a hand-made LabColor may carry
    const int c8 = std::min(static_cast<int>(scaled), 255);
    return static_cast<std::uint16_t>(c8 * 257);
}

double unitChannel(std::uint16_t c)
{
    const double c8 = std::min(std::round(c / 65535.0 * 255.0), 255.0);
    return c8 / 255.0;
}

Color::LabColor lerp(const Color::LabColor& p, const Color::LabColor& q, double t)
{
    return {p.l + t * (q.l - p.l), p.a + t * (q.a - p.a), p.b + t * (q.b - p.b)};
}

} // namespace

Color Color::fromRgb8(int red8, int green8, int blue8)
{
    const auto widen = [](int c) { return static_cast<std::uint16_t>(std::clamp(c, 0, 255) * 257); };
    return Color(widen(red8), widen(green8), widen(blue8));
}

const Color& Color::defaultForeground()
{
    static const Color color(35389, 35389, 35389);
    return color;
}

const Color& Color::defaultBackground()
{
    static const Color color(0, 0, 0);
    return color;
}

const std::vector<Color>& Color::defaultInstalledColors()
{
    static const std::vector<Color> palette = paletteFromHex({
        0x000000, 0xC23621, 0x25BC24, 0xADAD27, 0x492EE1, 0xD338D3, 0x33BBC8, 0xCBCCCD,
        0x818383, 0xFC391F, 0x31E722, 0xEAEC23, 0x5833FF, 0xF935F8, 0x14F0F0, 0xE9EBEB,
    });
    return palette;
}

const std::vector<Color>& Color::presetPalette1()
{
    static const std::vector<Color> palette = paletteFromHex({
        0x2E3436, 0xCC0000, 0x4E9A06, 0xC4A000, 0x3465A4, 0x75507B, 0x06989A, 0xD3D7CF,
        0x555753, 0xEF2929, 0x8AE234, 0xFCE94F, 0x729FCF, 0xAD7FA8, 0x34E2E2, 0xEEEEEC,
    });
    return palette;
}

const std::vector<Color>& Color::presetPalette2()
{
    static const std::vector<Color> palette = paletteFromHex({
        0x000000, 0xAA0000, 0x00AA00, 0xAA5500, 0x0000AA, 0xAA00AA, 0x00AAAA, 0xAAAAAA,
        0x555555, 0xFF5555, 0x55FF55, 0xFFFF55, 0x5555FF, 0xFF55FF, 0x55FFFF, 0xFFFFFF,
    });
    return palette;
}

const std::vector<Color>& Color::presetPalette3()
{
    static const std::vector<Color> palette = paletteFromHex({
        0x000000, 0xCD0000, 0x00CD00, 0xCDCD00, 0x0000EE, 0xCD00CD, 0x00CDCD, 0xE5E5E5,
        0x7F7F7F, 0xFF0000, 0x00FF00, 0xFFFF00, 0x5C5CFF, 0xFF00FF, 0x00FFFF, 0xFFFFFF,
    });
    return palette;
}

const std::vector<Color>& Color::presetPalette4()
{
    static const std::vector<Color> palette = paletteFromHex({
        0x000000, 0x990001, 0x00A603, 0x999900, 0x0300B2, 0xB200B2, 0x00A5B2, 0xBFBFBF,
        0x8A898A, 0xE50001, 0x00D800, 0xE5E500, 0x0700FE, 0xE500E5, 0x00E5E5, 0xE5E5E5,
    });
    return palette;
}

std::string Color::formatXcolor() const
{
    char text[32];
    std::snprintf(text, sizeof text, "rgb:%04x/%04x/%04x", unsigned{red}, unsigned{green},
                  unsigned{blue});
    return text;
}

std::optional<Color> Color::parseXcolor(std::string_view text)
{
    if (text.starts_with('#')) {
        const std::string_view rest = text.substr(1);
        const std::size_t n = rest.size();
        if ((n != 3 && n != 6 && n != 9 && n != 12) || !allHexDigits(rest))
            return std::nullopt;
        return parseXcolorBytes(text);
    }
    if (text.starts_with("rgb:")) {
        std::string_view rest = text.substr(4);
        for (int part = 0; part < 3; ++part) {
            const std::size_t slash = rest.find('/');
            const bool last = part == 2;
            // Exactly three parts: the last must have no further "/", the others must end in one.
            if (last != (slash == std::string_view::npos))
                return std::nullopt;
            const std::string_view component = rest.substr(0, slash);
            if (component.empty() || component.size() > 4 || !allHexDigits(component))
                return std::nullopt;
            if (!last)
                rest.remove_prefix(slash + 1);
        }
        return parseXcolorBytes(text);
    }
    return std::nullopt;
}

std::optional<Color> Color::parseXcolorBytes(std::span<const std::uint8_t> bytes)
{
    if (startsWith(bytes, "#"))
        return parseHashForm(bytes.subspan(1));
    if (startsWith(bytes, "rgb:"))
        return parseRgbForm(bytes.subspan(4));
    return std::nullopt;
}

std::optional<Color> Color::parseXcolorBytes(std::string_view bytes)
{
    return parseXcolorBytes(asBytes(bytes));
}

std::vector<Color> Color::makeXterm256Palette(std::span<const Color> base)
{
    static constexpr std::array<int, 6> levels = {0, 95, 135, 175, 215, 255};
    std::vector<Color> palette(base.begin(), base.end());
    palette.reserve(base.size() + 240);
    for (int i = 0; i < 216; ++i)
        palette.push_back(Color::fromRgb8(levels[i / 36], levels[(i / 6) % 6], levels[i % 6]));
    for (int k = 0; k < 24; ++k) {
        const int grey = 10 * k + 8;
        palette.push_back(Color::fromRgb8(grey, grey, grey));
    }
    return palette;
}

std::vector<Color> Color::makeAnsi256Palette(std::span<const Color> base,
                                             std::optional<Color> background,
                                             std::optional<Color> foreground, bool harmonious)
{
    if (base.size() < 8)
        return makeXterm256Palette(base);

    // Corner n of the cube is base colour n: bit 1 red, bit 2 green, bit 4 blue.
    std::array<LabColor, 8> c;
    for (std::size_t i = 0; i < c.size(); ++i)
        c[i] = base[i].toLab();
    if (background)
        c[0] = background->toLab();
    if (foreground)
        c[7] = foreground->toLab();
    // A light theme would otherwise start the cube at white; keep corner 0 the darker one.
    if (!harmonious && c[7].l < c[0].l)
        std::swap(c[0], c[7]);

    std::vector<Color> palette(base.begin(), base.end());
    palette.reserve(base.size() + 240);
    for (int r = 0; r < 6; ++r) {
        const double tr = r / 5.0;
        const LabColor e0 = lerp(c[0], c[1], tr);
        const LabColor e1 = lerp(c[2], c[3], tr);
        const LabColor e2 = lerp(c[4], c[5], tr);
        const LabColor e3 = lerp(c[6], c[7], tr);
        for (int g = 0; g < 6; ++g) {
            const double tg = g / 5.0;
            const LabColor d0 = lerp(e0, e1, tg);
            const LabColor d1 = lerp(e2, e3, tg);
            for (int b = 0; b < 6; ++b)
                palette.push_back(fromLab(lerp(d0, d1, b / 5.0)));
        }
    }
    for (int k = 1; k <= 24; ++k)
        palette.push_back(fromLab(lerp(c[0], c[7], k / 25.0)));
    return palette;
}

std::vector<Color> Color::makePalette(Ansi256PaletteStrategy strategy, std::span<const Color> base,
                                      std::optional<Color> background,
                                      std::optional<Color> foreground)
{
    switch (strategy) {
    case Ansi256PaletteStrategy::xterm:
        return makeXterm256Palette(base);
    case Ansi256PaletteStrategy::base16Lab:
        return makeAnsi256Palette(base, background, foreground, false);
    case Ansi256PaletteStrategy::base16LabHarmonious:
        return makeAnsi256Palette(base, background, foreground, true);
    }
    return makeXterm256Palette(base);
}

Color::LabColor Color::toLab() const
{
    const double r = linearise(unitChannel(red));
    const double g = linearise(unitChannel(green));
    const double b = linearise(unitChannel(blue));
    const double x = (0.4124564 * r + 0.3575761 * g + 0.1804375 * b) / 0.95047;
    const double y = 0.2126729 * r + 0.7151522 * g + 0.072175 * b;
    const double z = (0.0193339 * r + 0.119192 * g + 0.9503041 * b) / 1.08883;
    const double fx = labF(x);
    const double fy = labF(y);
    const double fz = labF(z);
    return {116 * fy - 16, 500 * (fx - fy), 200 * (fy - fz)};
}

Color Color::fromLab(const LabColor& lab)
{
    const double fy = (lab.l + 16) / 116;
    const double fx = fy + lab.a / 500;
    const double fz = fy - lab.b / 200;
    const double x = labFInverse(fx) * 0.95047;
    const double y = labFInverse(fy);
    const double z = labFInverse(fz) * 1.08883;
    const double r = 3.2404542 * x - 1.5371385 * y - 0.4985314 * z;
    const double g = -0.969266 * x + 1.8760108 * y + 0.041556 * z;
    const double b = 0.0556434 * x - 0.2040259 * y + 1.0572252 * z;
    return Color(channelFromLinear(r), channelFromLinear(g), channelFromLinear(b));
}

std::ostream& operator<<(std::ostream& out, const Color& color)
{
    return out << color.formatXcolor();
}

} // namespace corvantix
