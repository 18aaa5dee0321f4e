// The value types every screen cell is made of: CharData (one cell), its Attribute
// (colours, style bits, underline) and the SGR text of an attribute.
//
// Cells are plain trivially copyable values, the form readers and writers pass around; a line
// keeps each in its 16-byte packed form (PackedCell) in one contiguous block and moves them with
// memory copies.
#pragma once

#include <bit>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <type_traits>

#include "model/TinyAtom.h"

namespace corvantix {

// Style bits of a cell, an option set over one byte.
struct CharacterStyle {
    uint8_t rawValue = 0;

    static const CharacterStyle bold;
    static const CharacterStyle underline;
    static const CharacterStyle blink;
    static const CharacterStyle inverse;
    static const CharacterStyle invisible;
    static const CharacterStyle dim;
    static const CharacterStyle italic;
    static const CharacterStyle crossedOut;

    constexpr bool isEmpty() const { return rawValue == 0; }
    constexpr bool contains(CharacterStyle s) const { return (rawValue & s.rawValue) == s.rawValue; }
    constexpr void insert(CharacterStyle s) { rawValue = static_cast<uint8_t>(rawValue | s.rawValue); }
    constexpr void remove(CharacterStyle s) { rawValue = static_cast<uint8_t>(rawValue & ~s.rawValue); }

    friend constexpr CharacterStyle operator|(CharacterStyle a, CharacterStyle b) { return {static_cast<uint8_t>(a.rawValue | b.rawValue)}; }
    friend constexpr CharacterStyle operator&(CharacterStyle a, CharacterStyle b) { return {static_cast<uint8_t>(a.rawValue & b.rawValue)}; }
    friend constexpr bool operator==(CharacterStyle, CharacterStyle) = default;
};

inline constexpr CharacterStyle CharacterStyle::bold{1};
inline constexpr CharacterStyle CharacterStyle::underline{2};
inline constexpr CharacterStyle CharacterStyle::blink{4};
inline constexpr CharacterStyle CharacterStyle::inverse{8};
inline constexpr CharacterStyle CharacterStyle::invisible{16};
inline constexpr CharacterStyle CharacterStyle::dim{32};
inline constexpr CharacterStyle CharacterStyle::italic{64};
inline constexpr CharacterStyle CharacterStyle::crossedOut{128};

// `double` is a C++ keyword, hence the trailing underscore.
enum class UnderlineStyle : uint8_t { none = 0, single = 1, double_ = 2, curly = 3, dotted = 4, dashed = 5 };

// A style for 0..5, nothing otherwise.
constexpr std::optional<UnderlineStyle> underlineStyleFromRaw(uint8_t raw)
{
    if (raw > 5)
        return std::nullopt;
    return static_cast<UnderlineStyle>(raw);
}

struct Attribute {
    // ansi256(code), trueColor(red, green, blue), defaultColor or defaultInvertedColor.
    // Four bytes; bytes a case does not use are always 0, so equality is byte equality.
    class Color {
    public:
        // Case order matters: it is the first value hashed.
        enum class Case : uint8_t { ansi256 = 0, trueColor = 1, defaultColor = 2, defaultInvertedColor = 3 };

        constexpr Color() = default; // defaultColor

        // Built as one word, so that it is stored with one store.
        static constexpr Color ansi256(uint8_t code) { return fromMemoryBits(std::uint32_t{code} << 8); }
        static constexpr Color trueColor(uint8_t red, uint8_t green, uint8_t blue)
        {
            return fromMemoryBits(static_cast<std::uint32_t>(Case::trueColor) | (std::uint32_t{red} << 8)
                                  | (std::uint32_t{green} << 16) | (std::uint32_t{blue} << 24));
        }
        static constexpr Color defaultColor() { return Color(Case::defaultColor, 0, 0, 0); }
        static constexpr Color defaultInvertedColor() { return Color(Case::defaultInvertedColor, 0, 0, 0); }

        constexpr Case kind() const { return case_; }
        constexpr bool isAnsi256() const { return case_ == Case::ansi256; }
        constexpr bool isTrueColor() const { return case_ == Case::trueColor; }
        constexpr bool isDefault() const { return case_ == Case::defaultColor; }
        constexpr bool isDefaultInverted() const { return case_ == Case::defaultInvertedColor; }
        // Payload of ansi256 (palette index 0-255).
        constexpr uint8_t code() const { return a_; }
        // Payload of trueColor.
        constexpr uint8_t red() const { return a_; }
        constexpr uint8_t green() const { return b_; }
        constexpr uint8_t blue() const { return c_; }

        // The case's position, then the payload bytes in order.
        size_t hashValue() const;

        // The four bytes as one word, case byte lowest (a packed cell's form); the case takes
        // its two low bits. One load or store, not four: a word read right after byte stores
        // (or bytes read after a word store) waits for the stores to reach the cache.
        constexpr std::uint32_t memoryBits() const { return std::bit_cast<std::uint32_t>(*this); }
        // The colour of memoryBits; bits 2-7 are not looked at.
        static constexpr Color fromMemoryBits(std::uint32_t bits) { return std::bit_cast<Color>(bits & ~0xFCu); }

        friend constexpr bool operator==(const Color&, const Color&) = default;

    private:
        constexpr Color(Case c, uint8_t a, uint8_t b, uint8_t d) : case_(c), a_(a), b_(b), c_(d) {}
        Case case_ = Case::defaultColor;
        uint8_t a_ = 0;
        uint8_t b_ = 0;
        uint8_t c_ = 0;
    };

    Color fg;
    Color bg;
    CharacterStyle style;
    UnderlineStyle underlineStyle = UnderlineStyle::none;
    std::optional<Color> underlineColor;

    // Default colours, no style, no underline.
    static constexpr Attribute defaultAttribute() { return Attribute{}; }

    // The attribute as the parameter text of an SGR sequence, final "m" included ("0m",
    // "0;1;31m"). Written by DECRQSS replies; dim, italic, crossed out and the underline
    // style and colour are not written.
    std::string sgrParameters() const;

    // fg, bg, style, underlineStyle, then the optional underline colour.
    size_t hashValue() const;

    friend constexpr bool operator==(const Attribute& a, const Attribute& b)
    {
        return a.style == b.style && a.fg == b.fg && a.bg == b.bg && a.underlineStyle == b.underlineStyle
            && a.underlineColor == b.underlineColor;
    }
};

// One cell.
struct CharData {
    // 0 = empty cell. Below 0x400000: a Unicode scalar. Above 0x400000: a key into the
    // terminal's table of characters made of several scalars (or of one scalar from
    // U+10000 up). 0x400000 itself is never handed out and reads as an invalid scalar.
    int32_t code = 0;
    // 1 for a normal character and an empty cell; 2 for the first cell of a wide
    // character; 0 for the cell that follows it (code 0, with the wide character's payload
    // and attribute).
    int8_t width = 1;
    TinyAtom payload;
    // The semantic zone the cell was printed in (SemanticContent::cellCode()).
    uint8_t semanticContentCode = 0;
    Attribute attribute;

    static constexpr int32_t firstSyntheticCode = 0x400000;

    constexpr CharData() = default;
    constexpr CharData(int32_t code, int8_t width, Attribute attribute, TinyAtom payload = {}, uint8_t semanticContentCode = 0)
        : code(code), width(width), payload(payload), semanticContentCode(semanticContentCode), attribute(attribute)
    {
    }

    // True when the code is the scalar itself and needs no lookup.
    constexpr bool hasSimpleCode() const { return code < firstSyntheticCode; }

    // Code 0, width 1 with the default attribute: the fill of new lines and the answer for
    // cells read outside a line. Process-wide and settable; nothing changes it after start.
    static CharData& defaultCell();

    // Code 0, no style, no underline, no underline colour and both colours default (payload
    // and semantic code are not looked at).
    constexpr bool isBlankWithDefaultAttributes() const
    {
        return code == 0 && attribute.style.isEmpty() && attribute.underlineStyle == UnderlineStyle::none
            && !attribute.underlineColor.has_value() && attribute.fg.isDefault() && attribute.bg.isDefault();
    }

    // "CharData: " + code + " " + the character, or "?" when the code is not a valid scalar.
    std::string debugDescription() const;

    friend constexpr bool operator==(const CharData&, const CharData&) = default;
};

static_assert(std::is_trivially_copyable_v<CharData>, "lines copy cells with plain memory moves");
static_assert(sizeof(Attribute::Color) == 4);
// memoryBits: the case byte is the word's lowest.
static_assert(std::endian::native == std::endian::little);

// True for a code that is a Unicode scalar value (not negative, not a surrogate, at most
// U+10FFFF).
constexpr bool isValidScalar(int32_t code)
{
    return code >= 0 && code <= 0x10FFFF && !(code >= 0xD800 && code <= 0xDFFF);
}

// Appends the UTF-8 form of a valid scalar.
void appendUtf8(std::string& out, char32_t scalar);

} // namespace corvantix

template <>
struct std::hash<corvantix::Attribute::Color> {
    size_t operator()(const corvantix::Attribute::Color& c) const noexcept { return c.hashValue(); }
};

template <>
struct std::hash<corvantix::Attribute> {
    size_t operator()(const corvantix::Attribute& a) const noexcept { return a.hashValue(); }
};
