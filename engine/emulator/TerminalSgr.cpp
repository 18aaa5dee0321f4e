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

// The style bit each of SGR 0-29 sets (1-9) or clears (21-29); 0 where the code does
// something else or nothing.
constexpr std::array<std::uint8_t, 30> sgrStyleBits = [] {
    std::array<std::uint8_t, 30> bits{};
    bits[1] = CharacterStyle::bold.rawValue;
    bits[2] = CharacterStyle::dim.rawValue;
    bits[3] = CharacterStyle::italic.rawValue;
    bits[5] = CharacterStyle::blink.rawValue;
    bits[7] = CharacterStyle::inverse.rawValue;
    bits[8] = CharacterStyle::invisible.rawValue;
    bits[9] = CharacterStyle::crossedOut.rawValue;
    bits[22] = (CharacterStyle::bold | CharacterStyle::dim).rawValue;
    bits[23] = CharacterStyle::italic.rawValue;
    bits[25] = CharacterStyle::blink.rawValue;
    bits[27] = CharacterStyle::inverse.rawValue;
    bits[28] = CharacterStyle::invisible.rawValue;
    bits[29] = CharacterStyle::crossedOut.rawValue;
    return bits;
}();

} // namespace

void Terminal::cmdCharAttributes(const CsiParameters& pars, std::span<const std::uint8_t> collect)
{
    if (!collect.empty())
        return;
    if (pars.empty() || (pars.size() == 1 && pars[0] == 0)) {
        curAttr = Attribute::defaultAttribute();
        return;
    }

    // Built in a local and written back once: a sequence applies as a whole.
    Attribute attribute = curAttr;
    const std::size_t count = pars.size();
    std::size_t i = 0;
    while (i < count) {
        const int code = pars[i];
        std::size_t advance = 1;
        if (code < static_cast<int>(sgrStyleBits.size()) && sgrStyleBits[code] != 0) {
            const CharacterStyle bits{sgrStyleBits[code]};
            if (code < 20)
                attribute.style.insert(bits);
            else
                attribute.style.remove(bits);
        } else if (code >= 30 && code <= 37) {
            attribute.fg = Attribute::Color::ansi256(static_cast<std::uint8_t>(code - 30));
        } else if (code >= 40 && code <= 47) {
            attribute.bg = Attribute::Color::ansi256(static_cast<std::uint8_t>(code - 40));
        } else if (code >= 90 && code <= 97) {
            attribute.fg = Attribute::Color::ansi256(static_cast<std::uint8_t>(code - 82));
        } else if (code >= 100 && code <= 107) {
            attribute.bg = Attribute::Color::ansi256(static_cast<std::uint8_t>(code - 92));
        } else if (code == 38 || code == 48 || code == 58) {
            const ExtendedColorResult result = parseExtendedColor(static_cast<int>(i) + 1, pars);
            if (result.color) {
                if (code == 38)
                    attribute.fg = *result.color;
                else if (code == 48)
                    attribute.bg = *result.color;
                else
                    attribute.underlineColor = *result.color;
            }
            advance = 1 + static_cast<std::size_t>(std::max(result.consumed, 1));
        } else {
            switch (code) {
            case 0:
                attribute = Attribute::defaultAttribute();
                break;
            case 4:
                advance = static_cast<std::size_t>(applyUnderline(attribute, i, pars));
                break;
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
        }
        i += advance;
    }
    curAttr = attribute;
}

ExtendedColorResult Terminal::parseExtendedColor(int start, const CsiParameters& pars) const
{
    const int count = static_cast<int>(pars.size());
    if (start < 0 || start >= count)
        return {std::nullopt, 0};
    const int mode = pars[start];
    const bool colonForm = pars.isSubParameter(static_cast<std::size_t>(start));

    if (!colonForm) {
        if (mode == 5) {
            if (start + 1 < count)
                return {Attribute::Color::ansi256(clampedByte(pars[start + 1])), 2};
            return {std::nullopt, 1};
        }
        if (mode == 2) {
            if (start + 3 < count) {
                return {Attribute::Color::trueColor(clampedByte(pars[start + 1]), clampedByte(pars[start + 2]),
                                                    clampedByte(pars[start + 3])),
                        4};
            }
            return {std::nullopt, 1};
        }
        return {std::nullopt, 1};
    }

    // The run of colon-joined parameters from the mode on.
    int e = start;
    while (e < count - 1 && pars.isSubParameter(static_cast<std::size_t>(e) + 1))
        ++e;
    const int n = e - start + 1;

    if (mode == 5) {
        if (n >= 2)
            return {Attribute::Color::ansi256(clampedByte(pars[start + 1])), n};
        return {std::nullopt, n};
    }
    if (mode == 2) {
        if (n == 4) {
            return {Attribute::Color::trueColor(clampedByte(pars[start + 1]), clampedByte(pars[start + 2]),
                                                clampedByte(pars[start + 3])),
                    4};
        }
        if (n >= 5) {
            // Parameter start + 1 names a colour space, which is not used.
            return {Attribute::Color::trueColor(clampedByte(pars[start + 2]), clampedByte(pars[start + 3]),
                                                clampedByte(pars[start + 4])),
                    n};
        }
        return {std::nullopt, n};
    }
    return {std::nullopt, n};
}

} // namespace corvantix
