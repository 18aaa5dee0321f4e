// Character attributes (SGR) and the extended colour forms.
#include "emulator/DiagnosticText.h"
#include "emulator/Terminal.h"

#include "platform/Log.h"

#include <algorithm>
#include <array>
#include <string>

namespace corvantix {

namespace {

std::uint8_t clampedByte(int value)
{
    return static_cast<std::uint8_t>(std::clamp(value, 0, 255));
}

// SGR 4, with the sub-parameter form (4:0 .. 4:5). Answers how many parameters it used.
int applyUnderline(Attribute& attribute, std::size_t i, const CsiParameters& pars)
{
    if (i + 1 < pars.size() && pars.isSubParameter(i + 1)) {
        const int n = pars[i + 1];
        if (n == 0) {
            attribute.style.remove(CharacterStyle::underline);
            attribute.underlineStyle = UnderlineStyle::none;
        } else {
            attribute.style.insert(CharacterStyle::underline);
            attribute.underlineStyle = n <= 5 ? static_cast<UnderlineStyle>(n) : UnderlineStyle::single;
        }
        return 2;
    }
    attribute.style.insert(CharacterStyle::underline);
    attribute.underlineStyle = UnderlineStyle::single;
    return 1;
}

// What each SGR code below 108 does: one table read instead of a chain of range tests.
enum class SgrKind : std::uint8_t { other, setStyle, clearStyle, foreground, background, extendedColor };

struct SgrEntry {
    SgrKind kind = SgrKind::other;
    std::uint8_t value = 0; // the style bits, or the palette index
};

constexpr std::array<SgrEntry, 108> sgrTable = [] {
    std::array<SgrEntry, 108> table{};
    const auto style = [&](int code, SgrKind kind, CharacterStyle bits) { table[code] = {kind, bits.rawValue}; };
    style(1, SgrKind::setStyle, CharacterStyle::bold);
    style(2, SgrKind::setStyle, CharacterStyle::dim);
    style(3, SgrKind::setStyle, CharacterStyle::italic);
    style(5, SgrKind::setStyle, CharacterStyle::blink);
    style(7, SgrKind::setStyle, CharacterStyle::inverse);
    style(8, SgrKind::setStyle, CharacterStyle::invisible);
    style(9, SgrKind::setStyle, CharacterStyle::crossedOut);
    style(22, SgrKind::clearStyle, CharacterStyle::bold | CharacterStyle::dim);
    style(23, SgrKind::clearStyle, CharacterStyle::italic);
    style(25, SgrKind::clearStyle, CharacterStyle::blink);
    style(27, SgrKind::clearStyle, CharacterStyle::inverse);
    style(28, SgrKind::clearStyle, CharacterStyle::invisible);
    style(29, SgrKind::clearStyle, CharacterStyle::crossedOut);
    for (int k = 0; k < 8; ++k) {
        table[30 + k] = {SgrKind::foreground, static_cast<std::uint8_t>(k)};
        table[40 + k] = {SgrKind::background, static_cast<std::uint8_t>(k)};
        table[90 + k] = {SgrKind::foreground, static_cast<std::uint8_t>(k + 8)};
        table[100 + k] = {SgrKind::background, static_cast<std::uint8_t>(k + 8)};
    }
    table[38].kind = SgrKind::extendedColor;
    table[48].kind = SgrKind::extendedColor;
    table[58].kind = SgrKind::extendedColor;
    return table;
}();

// SGR codes the table leaves to a switch: reset, the underline forms, the default colours.
// Answers how many parameters the code used.
std::size_t applyOtherSgr(Attribute& attribute, int code, std::size_t i, const CsiParameters& pars)
{
    switch (code) {
    case 0:
        attribute = Attribute::defaultAttribute();
        break;
    case 4:
        return static_cast<std::size_t>(applyUnderline(attribute, i, pars));
    case 21:
        attribute.style.insert(CharacterStyle::underline);
        attribute.underlineStyle = UnderlineStyle::double_;
        break;
    case 24:
        // The underline colour stays for a later underline.
        attribute.style.remove(CharacterStyle::underline);
        attribute.underlineStyle = UnderlineStyle::none;
        break;
    case 39:
        attribute.fg = Attribute::Color::defaultColor();
        break;
    case 49:
        attribute.bg = Attribute::Color::defaultColor();
        break;
    case 59:
        attribute.underlineColor.reset();
        break;
    default:
        // Printed whatever silentLog says.
        printLine("Unknown SGR attribute: " + std::to_string(code) + " " + listText(pars.values));
        break;
    }
    return 1;
}

void setExtendedColor(Attribute& attribute, int code, Attribute::Color color)
{
    if (code == 38)
        attribute.fg = color;
    else if (code == 48)
        attribute.bg = color;
    else
        attribute.underlineColor = color;
}

// SGR 38, 48 and 58 at parameter i: sets the foreground, background or underline colour.
// The ";" forms (5;n and 2;r;g;b), nearly all that programs send, are read here without
// more tests; the rest by parseExtendedColor. Answers how many parameters the code used.
std::size_t applyExtendedColor(const Terminal& terminal, Attribute& attribute, int code, std::size_t i,
                               const CsiParameters& pars)
{
    const std::size_t count = pars.size();
    if (i + 1 < count && !pars.isSubParameter(i + 1)) {
        const int mode = pars[i + 1];
        if (mode == 5 && i + 2 < count) {
            setExtendedColor(attribute, code, Attribute::Color::ansi256(clampedByte(pars[i + 2])));
            return 3;
        }
        if (mode == 2 && i + 4 < count) {
            setExtendedColor(attribute, code,
                             Attribute::Color::trueColor(clampedByte(pars[i + 2]), clampedByte(pars[i + 3]),
                                                         clampedByte(pars[i + 4])));
            return 5;
        }
    }
    const ExtendedColorResult result = terminal.parseExtendedColor(static_cast<int>(i) + 1, pars);
    if (result.color)
        setExtendedColor(attribute, code, *result.color);
    return 1 + static_cast<std::size_t>(std::max(result.consumed, 1));
}

// The SGR code at parameter i, applied to the attribute through its table row. Answers how
// many parameters it used.
[[gnu::always_inline]] inline std::size_t applySgrCode(const Terminal& terminal, Attribute& attribute, std::size_t i,
                                                       const CsiParameters& pars)
{
    const int code = pars[i];
    const SgrEntry entry = code < static_cast<int>(sgrTable.size()) ? sgrTable[static_cast<std::size_t>(code)] : SgrEntry{};
    switch (entry.kind) {
    case SgrKind::setStyle:
        attribute.style.insert(CharacterStyle{entry.value});
        return 1;
    case SgrKind::clearStyle:
        attribute.style.remove(CharacterStyle{entry.value});
        return 1;
    case SgrKind::foreground:
        attribute.fg = Attribute::Color::ansi256(entry.value);
        return 1;
    case SgrKind::background:
        attribute.bg = Attribute::Color::ansi256(entry.value);
        return 1;
    case SgrKind::extendedColor:
        return applyExtendedColor(terminal, attribute, code, i, pars);
    case SgrKind::other:
        break;
    }
    return applyOtherSgr(attribute, code, i, pars);
}

// The ";" form of an extended colour whose mode is parameter `start`: 5;n or 2;r;g;b, a
// missing parameter giving no colour after the mode alone.
ExtendedColorResult semicolonExtendedColor(int start, const CsiParameters& pars)
{
    const int count = static_cast<int>(pars.size());
    const int mode = pars[start];
    if (mode == 5 && start + 1 < count)
        return {Attribute::Color::ansi256(clampedByte(pars[start + 1])), 2};
    if (mode == 2 && start + 3 < count) {
        return {Attribute::Color::trueColor(clampedByte(pars[start + 1]), clampedByte(pars[start + 2]),
                                            clampedByte(pars[start + 3])),
                4};
    }
    return {std::nullopt, 1};
}

// The ":" form: the whole run of colon-joined parameters from the mode on is used, with or
// without the colour space of 2.
ExtendedColorResult colonExtendedColor(int start, const CsiParameters& pars)
{
    const int count = static_cast<int>(pars.size());
    int e = start;
    while (e < count - 1 && pars.isSubParameter(static_cast<std::size_t>(e) + 1))
        ++e;
    const int n = e - start + 1;

    const int mode = pars[start];
    if (mode == 5 && n >= 2)
        return {Attribute::Color::ansi256(clampedByte(pars[start + 1])), n};
    if (mode == 2 && n == 4) {
        return {Attribute::Color::trueColor(clampedByte(pars[start + 1]), clampedByte(pars[start + 2]),
                                            clampedByte(pars[start + 3])),
                4};
    }
    if (mode == 2 && n >= 5) {
        // Parameter start + 1 names a colour space, which is not used.
        return {Attribute::Color::trueColor(clampedByte(pars[start + 2]), clampedByte(pars[start + 3]),
                                            clampedByte(pars[start + 4])),
                n};
    }
    return {std::nullopt, n};
}

} // namespace

void Terminal::cmdCharAttributes(const CsiParameters& pars, std::span<const std::uint8_t> collect)
{
    if (!collect.empty())
        return;
    if (pars.empty() || (pars.size() == 1 && pars[0] == 0)) {
        curAttr_ = Attribute::defaultAttribute();
        curAttrChanged();
        return;
    }

    // Changed in place: nothing reads the attribute while a sequence is applied, and a
    // local copy is taken apart byte by byte by the compiler.
    Attribute& attribute = curAttr_;
    const std::size_t count = pars.size();
    for (std::size_t i = 0; i < count;)
        i += applySgrCode(*this, attribute, i, pars);
    curAttrChanged();
}

ExtendedColorResult Terminal::parseExtendedColor(int start, const CsiParameters& pars) const
{
    if (start < 0 || start >= static_cast<int>(pars.size()))
        return {std::nullopt, 0};
    if (pars.isSubParameter(static_cast<std::size_t>(start)))
        return colonExtendedColor(start, pars);
    return semicolonExtendedColor(start, pars);
}

} // namespace corvantix
