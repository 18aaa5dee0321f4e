// RGB colour with 16 bits per channel, the shared default colours and 16-colour palettes,
// the 256-colour palette builders, and the X11 colour texts used by OSC 4 and OSC 10-12.
//
// A plain value type: colours are small and nothing mutates the shared constants, so
// copying them is both cheaper and safer than sharing them.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <iosfwd>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace corvantix {

// How palette entries 16..255 are derived from the 16 base colours.
enum class Ansi256PaletteStrategy : std::uint8_t {
    xterm,               // the classic fixed 6x6x6 cube and grey ramp
    base16Lab,           // cube interpolated in CIELAB, darker corner first
    base16LabHarmonious, // cube interpolated in CIELAB from background to foreground as given
};

struct Color {
    // A CIELAB colour (D65 white point).
    struct LabColor {
        double l = 0;
        double a = 0;
        double b = 0;
    };

    std::uint16_t red = 0;
    std::uint16_t green = 0;
    std::uint16_t blue = 0;

    constexpr Color() = default;
    constexpr Color(std::uint16_t red, std::uint16_t green, std::uint16_t blue)
        : red(red), green(green), blue(blue)
    {
    }

    // 8-bit channels: each is clamped to 0..255 and scaled by 257 (0xFF -> 0xFFFF, 0x80 -> 0x8080).
    static Color fromRgb8(int red8, int green8, int blue8);

    friend constexpr bool operator==(const Color&, const Color&) = default;

    // Shared constants, built once on first use.
    static const Color& defaultForeground(); // (35389, 35389, 35389)
    static const Color& defaultBackground(); // (0, 0, 0)
    // Entries 0-15: black, red, green, yellow, blue, magenta, cyan, white, then the bright forms.
    static const std::vector<Color>& defaultInstalledColors();
    static const std::vector<Color>& presetPalette1();
    static const std::vector<Color>& presetPalette2();
    static const std::vector<Color>& presetPalette3();
    static const std::vector<Color>& presetPalette4();

    // "rgb:rrrr/gggg/bbbb" in lower-case hexadecimal; also the colour's description text.
    std::string formatXcolor() const;

    // Strict parser of "#rgb" (3, 6, 9 or 12 hex digits) and "rgb:r/g/b" (1-4 hex digits each).
    static std::optional<Color> parseXcolor(std::string_view text);
    // Lenient parser of the same forms over the raw bytes of an OSC string.
    static std::optional<Color> parseXcolorBytes(std::span<const std::uint8_t> bytes);
    static std::optional<Color> parseXcolorBytes(std::string_view bytes);

    // base followed by the 216 cube colours and the 24 greys.
    static std::vector<Color> makeXterm256Palette(std::span<const Color> base);
    // base followed by 240 colours interpolated in CIELAB space between the base corners (with the
    // background and foreground, when given, in place of black and white). Fewer than 8 base
    // colours fall back to makeXterm256Palette.
    static std::vector<Color> makeAnsi256Palette(std::span<const Color> base,
                                                 std::optional<Color> background,
                                                 std::optional<Color> foreground,
                                                 bool harmonious);
    // The derived palette for a strategy, as the terminal installs it.
    static std::vector<Color> makePalette(Ansi256PaletteStrategy strategy,
                                          std::span<const Color> base,
                                          std::optional<Color> background,
                                          std::optional<Color> foreground);

    LabColor toLab() const;
    static Color fromLab(const LabColor& lab);
};

// Prints the X11 text, so test failures show readable colours.
std::ostream& operator<<(std::ostream& out, const Color& color);

} // namespace corvantix

template <>
struct std::hash<corvantix::Color> {
    std::size_t operator()(const corvantix::Color& color) const noexcept
    {
        // red, green, blue in this order
        std::size_t value = color.red;
        value = value * 65537u + color.green;
        value = value * 65537u + color.blue;
        return std::hash<std::size_t>{}(value);
    }
};
