// The form a line keeps its cells in: every field of a CharData in 16 bytes, two machine
// words, so a row of cells is two thirds of the memory a line feed through a full scrollback
// has to touch, and a cell is written with one 16-byte store.
//
//   low word:  code (bits 0-31), payload (32-47), style (48-55), width (56-57),
//              semantic code (58-60), underline style (61-63)
//   high word: foreground (bytes 0-3), background (bytes 4-7), each as a colour keeps its
//              four bytes (Attribute::Color::memoryBits), case byte first; the case takes two
//              bits of that byte, and the other six of each hold half the underline colour
//              (its low six bits beside the foreground's case, its high six beside the
//              background's)
//
// So packing an attribute's colours copies them whole. The underline colour is a 12-bit
// reference: 0 none, 1-256 a palette entry, 257 the default colour, 258 the default inverted
// colour, and from 259 a true colour kept in the process's UnderlineColorTable (a true
// underline colour is rare; the table is bounded, see there).
//
// Every CharData has exactly one packed form (widths outside 0-2 and semantic codes above 7
// are clamped), so equal cells have equal words.
#pragma once

#include <array>
#include <atomic>
#include <cstdint>
#include <mutex>
#include <optional>
#include <type_traits>
#include <unordered_map>

#include "model/CharData.h"

namespace corvantix {

// The true colours underline references point at, shared by every terminal of the process.
// Entries are never removed, so a reference stays valid for the process's life; reads take no
// lock. When the table is full a new true colour is referenced by its nearest palette entry:
// only a stream that names thousands of distinct underline colours ever sees that.
class UnderlineColorTable {
public:
    static constexpr std::uint16_t firstTableReference = 259;
    static constexpr std::uint16_t referenceLimit = 4096; // references are 12 bits
    static constexpr std::size_t capacity = referenceLimit - firstTableReference;

    static UnderlineColorTable& shared();

    // The reference of a colour; 0 for none.
    std::uint16_t reference(const std::optional<Attribute::Color>& color);
    // The colour of a reference; none for 0 and for a reference the table never gave out.
    std::optional<Attribute::Color> color(std::uint16_t reference) const;
    // True colours held.
    std::size_t count() const;

    // The palette entry closest to a true colour (the 6 × 6 × 6 cube and the grey ramp).
    static std::uint8_t nearestPaletteIndex(std::uint8_t red, std::uint8_t green, std::uint8_t blue);

private:
    std::uint16_t trueColorReference(const Attribute::Color& color);

    mutable std::mutex lock_;
    std::unordered_map<std::uint32_t, std::uint16_t> references_; // colour's memoryBits -> reference
    std::array<std::atomic<std::uint32_t>, capacity> colors_{};  // reference - first -> memoryBits
    std::atomic<std::size_t> count_{0};
};

// The attribute part of a packed cell: its bits of both words, everything else zero.
struct PackedAttribute {
    std::uint64_t low = 0;
    std::uint64_t high = 0;

    friend constexpr bool operator==(const PackedAttribute&, const PackedAttribute&) = default;
};

class PackedCell {
public:
    // Bit positions and masks of the low word.
    static constexpr int payloadShift = 32;
    static constexpr int styleShift = 48;
    static constexpr int widthShift = 56;
    static constexpr int semanticShift = 58;
    static constexpr int underlineStyleShift = 61;
    static constexpr std::uint64_t codeMask = 0xFFFF'FFFFull;
    static constexpr std::uint64_t attributeLowMask = (0xFFull << styleShift) | (7ull << underlineStyleShift);
    // The high word: where the background starts.
    static constexpr int backgroundShift = 32;

    // The default cell: code 0, width 1, default colours, nothing else.
    constexpr PackedCell() = default;
    explicit PackedCell(const CharData& cell)
        : PackedCell(cell.code, cell.width, packAttribute(cell.attribute), cell.payload, cell.semanticContentCode)
    {
    }
    constexpr PackedCell(std::int32_t code, std::int8_t width, const PackedAttribute& attribute, TinyAtom payload = {},
                         std::uint8_t semanticContentCode = 0)
        : low_(static_cast<std::uint32_t>(code) | attribute.low | (std::uint64_t{payload.code} << payloadShift)
               | (std::uint64_t{clampedWidth(width)} << widthShift)
               | (std::uint64_t{clampedSemanticCode(semanticContentCode)} << semanticShift))
        , high_(attribute.high)
    {
    }
    // Straight from the words (bulk writers build them in registers).
    static constexpr PackedCell fromWords(std::uint64_t low, std::uint64_t high)
    {
        PackedCell cell;
        cell.low_ = low;
        cell.high_ = high;
        return cell;
    }

    // Inline: every change of the terminal's current attribute packs it.
    static PackedAttribute packAttribute(const Attribute& attribute)
    {
        // The underline colour first: on the rare path that looks it up, nothing else is
        // held across the call.
        PackedAttribute packed;
        if (attribute.underlineColor) [[unlikely]]
            packed.high = underlineColorWord(underlineColorReferenceOf(*attribute.underlineColor));
        packed.low = (std::uint64_t{attribute.style.rawValue} << styleShift)
            | (std::uint64_t{static_cast<std::uint8_t>(attribute.underlineStyle) & 7u} << underlineStyleShift);
        // Each colour read with a load of its own: the SGR handler has just stored them one at
        // a time, and one load over both would wait for those stores to reach the cache.
        std::uint32_t foreground = attribute.fg.memoryBits();
        asm("" : "+r"(foreground)); // keeps the compiler from merging the two loads
        packed.high |= std::uint64_t{foreground} | (std::uint64_t{attribute.bg.memoryBits()} << backgroundShift);
        return packed;
    }
    static constexpr PackedAttribute defaultAttribute() { return {0, defaultHigh}; }

    // ---- Reading
    CharData value() const
    {
        return CharData(code(), width(), attribute(), payload(), semanticContentCode());
    }
    constexpr std::int32_t code() const { return static_cast<std::int32_t>(static_cast<std::uint32_t>(low_)); }
    constexpr std::int8_t width() const { return static_cast<std::int8_t>((low_ >> widthShift) & 3); }
    constexpr TinyAtom payload() const { return TinyAtom{static_cast<std::uint16_t>(low_ >> payloadShift)}; }
    constexpr std::uint8_t semanticContentCode() const { return static_cast<std::uint8_t>((low_ >> semanticShift) & 7); }
    constexpr CharacterStyle style() const { return CharacterStyle{static_cast<std::uint8_t>(low_ >> styleShift)}; }
    constexpr UnderlineStyle underlineStyle() const
    {
        return static_cast<UnderlineStyle>((low_ >> underlineStyleShift) & 7);
    }
    constexpr Attribute::Color fg() const { return Attribute::Color::fromMemoryBits(static_cast<std::uint32_t>(high_)); }
    constexpr Attribute::Color bg() const
    {
        return Attribute::Color::fromMemoryBits(static_cast<std::uint32_t>(high_ >> backgroundShift));
    }
    constexpr std::uint16_t underlineColorReference() const
    {
        return static_cast<std::uint16_t>(((high_ >> 2) & 0x3F) | (((high_ >> (backgroundShift + 2)) & 0x3F) << 6));
    }
    std::optional<Attribute::Color> underlineColor() const
    {
        const std::uint16_t reference = underlineColorReference();
        if (reference == 0) [[likely]]
            return std::nullopt;
        return underlineColorOf(reference);
    }
    Attribute attribute() const
    {
        Attribute attribute;
        attribute.fg = fg();
        attribute.bg = bg();
        attribute.style = style();
        attribute.underlineStyle = underlineStyle();
        attribute.underlineColor = underlineColor();
        return attribute;
    }
    constexpr PackedAttribute packedAttribute() const { return {low_ & attributeLowMask, high_}; }
    constexpr bool sameAttribute(const PackedCell& other) const
    {
        return ((low_ ^ other.low_) & attributeLowMask) == 0 && high_ == other.high_;
    }
    constexpr bool hasSimpleCode() const { return code() < CharData::firstSyntheticCode; }
    constexpr bool isBlankWithDefaultAttributes() const
    {
        return code() == 0 && (low_ & attributeLowMask) == 0 && high_ == defaultHigh;
    }
    constexpr std::uint64_t lowWord() const { return low_; }
    constexpr std::uint64_t highWord() const { return high_; }

    // ---- Changing one field
    constexpr void setCode(std::int32_t code) { low_ = (low_ & ~codeMask) | static_cast<std::uint32_t>(code); }
    constexpr void setWidth(std::int8_t width)
    {
        low_ = (low_ & ~(3ull << widthShift)) | (std::uint64_t{clampedWidth(width)} << widthShift);
    }
    constexpr void setPayload(TinyAtom payload)
    {
        low_ = (low_ & ~(0xFFFFull << payloadShift)) | (std::uint64_t{payload.code} << payloadShift);
    }
    constexpr void setSemanticContentCode(std::uint8_t code)
    {
        low_ = (low_ & ~(7ull << semanticShift)) | (std::uint64_t{clampedSemanticCode(code)} << semanticShift);
    }
    constexpr void setPackedAttribute(const PackedAttribute& attribute)
    {
        low_ = (low_ & ~attributeLowMask) | attribute.low;
        high_ = attribute.high;
    }
    void setAttribute(const Attribute& attribute) { setPackedAttribute(packAttribute(attribute)); }

    friend constexpr bool operator==(const PackedCell&, const PackedCell&) = default;

private:
    static constexpr std::uint64_t defaultHigh =
        (std::uint64_t{Attribute::Color::defaultColor().memoryBits()})
        | (std::uint64_t{Attribute::Color::defaultColor().memoryBits()} << backgroundShift);
    // A 12-bit reference spread over the spare bits of the two case bytes.
    static constexpr std::uint64_t underlineColorWord(std::uint16_t reference)
    {
        return (std::uint64_t{reference & 0x3Fu} << 2) | (std::uint64_t{(reference >> 6) & 0x3Fu} << (backgroundShift + 2));
    }

    static std::uint16_t underlineColorReferenceOf(const Attribute::Color& color);
    static std::optional<Attribute::Color> underlineColorOf(std::uint16_t reference);

    static constexpr std::uint8_t clampedWidth(std::int8_t width)
    {
        return static_cast<std::uint8_t>(width < 0 ? 0 : width > 2 ? 2 : width);
    }
    static constexpr std::uint8_t clampedSemanticCode(std::uint8_t code) { return code > 7 ? 7 : code; }

    std::uint64_t low_ = std::uint64_t{1} << widthShift;
    std::uint64_t high_ = defaultHigh;
};

static_assert(sizeof(PackedCell) == 16 && std::is_trivially_copyable_v<PackedCell>);

} // namespace corvantix
