// Character attributes (SGR) and the extended colour forms.
#include "emulator/DiagnosticText.h"
#include "emulator/Terminal.h"

#include "platform/Log.h"

#include <algorithm>
#include <string>

namespace corvantix {

namespace {

std::uint8_t clampedByte(int value)
{
    return static_cast<std::uint8_t>(std::clamp(value, 0, 255));
}

// The five fields of the attribute being built; written back once at the end.
struct SgrState {
    Attribute::Color fg;
    Attribute::Color bg;
    CharacterStyle style;
    UnderlineStyle underlineStyle = UnderlineStyle::none;
    std::optional<Attribute::Color> underlineColor;

    explicit SgrState(const Attribute& attribute)
        : fg(attribute.fg)
        , bg(attribute.bg)
        , style(attribute.style)
        , underlineStyle(attribute.underlineStyle)
        , underlineColor(attribute.underlineColor)
    {
    }

    void reset() { *this = SgrState(Attribute::defaultAttribute()); }

    Attribute attribute() const { return Attribute{fg, bg, style, underlineStyle, underlineColor}; }
};

bool isColonAt(std::span<const std::uint8_t> separators, int index)
{
    return index >= 0 && static_cast<std::size_t>(index) < separators.size() && separators[index] == ':';
}

// SGR 4, with the colon sub-parameter form (4:0 .. 4:5). Answers how many parameters it used.
int applyUnderline(SgrState& state, int i, std::span<const int> pars, std::span<const std::uint8_t> separators)
{
    const std::size_t count = pars.size();
    if (isColonAt(separators, i) && static_cast<std::size_t>(i) + 1 < count) {
        const int n = pars[i + 1];
        if (n == 0) {
            state.style.remove(CharacterStyle::underline);
            state.underlineStyle = UnderlineStyle::none;
        } else {
            state.style.insert(CharacterStyle::underline);
            state.underlineStyle = n <= 5 ? static_cast<UnderlineStyle>(n) : UnderlineStyle::single;
        }
        return 2;
    }
    state.style.insert(CharacterStyle::underline);
    state.underlineStyle = UnderlineStyle::single;
    return 1;
}

} // namespace

void Terminal::cmdCharAttributes(std::span<const int> pars, std::span<const std::uint8_t> collect)
{
    if (!collect.empty())
        return;
    if (pars.empty() || (pars.size() == 1 && pars[0] == 0)) {
        curAttr = Attribute::defaultAttribute();
        return;
    }

    // Separator k stands between parameter k and k + 1; any surplus is dropped.
    std::span<const std::uint8_t> separators = parser.parsTxt();
    if (separators.size() >= pars.size())
        separators = separators.first(pars.size() - 1);

    SgrState state(curAttr);
    const int count = static_cast<int>(pars.size());
    int i = 0;
    while (i < count) {
        const int code = pars[i];
        int advance = 1;
        if (code >= 30 && code <= 37) {
            state.fg = Attribute::Color::ansi256(static_cast<std::uint8_t>(code - 30));
        } else if (code >= 40 && code <= 47) {
            state.bg = Attribute::Color::ansi256(static_cast<std::uint8_t>(code - 40));
        } else if (code >= 90 && code <= 97) {
            state.fg = Attribute::Color::ansi256(static_cast<std::uint8_t>(code - 82));
        } else if (code >= 100 && code <= 107) {
            state.bg = Attribute::Color::ansi256(static_cast<std::uint8_t>(code - 92));
        } else if (code == 38 || code == 48 || code == 58) {
            const ExtendedColorResult result = parseExtendedColor(i + 1, isColonAt(separators, i), pars, separators);
            if (result.color) {
                if (code == 38)
                    state.fg = *result.color;
                else if (code == 48)
                    state.bg = *result.color;
                else
                    state.underlineColor = *result.color;
            }
            advance = 1 + std::max(result.consumed, 1);
        } else {
            switch (code) {
            case 0:
                state.reset();
                break;
            case 1:
                state.style.insert(CharacterStyle::bold);
                break;
            case 2:
                state.style.insert(CharacterStyle::dim);
                break;
            case 3:
                state.style.insert(CharacterStyle::italic);
                break;
            case 4:
                advance = applyUnderline(state, i, pars, separators);
                break;
            case 5:
                state.style.insert(CharacterStyle::blink);
                break;
            case 7:
                state.style.insert(CharacterStyle::inverse);
                break;
            case 8:
                state.style.insert(CharacterStyle::invisible);
                break;
            case 9:
                state.style.insert(CharacterStyle::crossedOut);
                break;
            case 21:
                state.style.insert(CharacterStyle::underline);
                state.underlineStyle = UnderlineStyle::double_;
                break;
            case 22:
                state.style.remove(CharacterStyle::bold | CharacterStyle::dim);
                break;
            case 23:
                state.style.remove(CharacterStyle::italic);
                break;
            case 24:
                // The underline colour stays for a later underline.
                state.style.remove(CharacterStyle::underline);
                state.underlineStyle = UnderlineStyle::none;
                break;
            case 25:
                state.style.remove(CharacterStyle::blink);
                break;
            case 27:
                state.style.remove(CharacterStyle::inverse);
                break;
            case 28:
                state.style.remove(CharacterStyle::invisible);
                break;
            case 29:
                state.style.remove(CharacterStyle::crossedOut);
                break;
            case 39:
                state.fg = Attribute::Color::defaultColor();
                break;
            case 49:
                state.bg = Attribute::Color::defaultColor();
                break;
            case 59:
                state.underlineColor.reset();
                break;
            default:
                // Printed whatever silentLog says.
                printLine("Unknown SGR attribute: " + std::to_string(code) + " " + listText(pars));
                break;
            }
        }
        i += advance;
    }
    curAttr = state.attribute();
}

ExtendedColorResult Terminal::parseExtendedColor(int start, bool colonForm, std::span<const int> pars,
                                                 std::span<const std::uint8_t> separators) const
{
    const int count = static_cast<int>(pars.size());
    if (start < 0 || start >= count)
        return {std::nullopt, 0};
    const int mode = pars[start];

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
    while (e < count - 1 && isColonAt(separators, e))
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
