#include "model/CharData.h"

namespace corvantix {

namespace {

// Boost-style mixing: simple, stable across runs, good enough for hash tables of attributes.
void combine(size_t& seed, size_t value)
{
    seed ^= value + 0x9e3779b97f4a7c15ULL + (seed << 6) + (seed >> 2);
}

// ";3" + index for 0-7, ";9" + (index - 8) for 8-15, ";38;5;" + index above, ";38;2;r;g;b" for
// true colour; the default colours write nothing. The background uses 4, 10 and 48.
void appendColor(std::string& out, const Attribute::Color& color, bool foreground)
{
    switch (color.kind()) {
    case Attribute::Color::Case::ansi256: {
        const int index = color.code();
        if (index < 8) {
            out += foreground ? ";3" : ";4";
            out += std::to_string(index);
        } else if (index < 16) {
            out += foreground ? ";9" : ";10";
            out += std::to_string(index - 8);
        } else {
            out += foreground ? ";38;5;" : ";48;5;";
            out += std::to_string(index);
        }
        break;
    }
    case Attribute::Color::Case::trueColor:
        out += foreground ? ";38;2;" : ";48;2;";
        out += std::to_string(color.red());
        out += ';';
        out += std::to_string(color.green());
        out += ';';
        out += std::to_string(color.blue());
        break;
    case Attribute::Color::Case::defaultColor:
    case Attribute::Color::Case::defaultInvertedColor:
        break;
    }
}

} // namespace

size_t Attribute::Color::hashValue() const
{
    size_t seed = 0;
    combine(seed, static_cast<size_t>(case_));
    switch (case_) {
    case Case::ansi256:
        combine(seed, a_);
        break;
    case Case::trueColor:
        combine(seed, a_);
        combine(seed, b_);
        combine(seed, c_);
        break;
    case Case::defaultColor:
    case Case::defaultInvertedColor:
        break;
    }
    return seed;
}

size_t Attribute::hashValue() const
{
    size_t seed = 0;
    combine(seed, fg.hashValue());
    combine(seed, bg.hashValue());
    combine(seed, style.rawValue);
    combine(seed, static_cast<size_t>(underlineStyle));
    if (underlineColor) {
        combine(seed, 1);
        combine(seed, underlineColor->hashValue());
    } else {
        combine(seed, 0);
    }
    return seed;
}

std::string Attribute::sgrParameters() const
{
    std::string out = "0";
    if (style.contains(CharacterStyle::bold))
        out += ";1";
    if (style.contains(CharacterStyle::underline))
        out += ";4";
    if (style.contains(CharacterStyle::blink))
        out += ";5";
    if (style.contains(CharacterStyle::inverse))
        out += ";7";
    if (style.contains(CharacterStyle::invisible))
        out += ";8";
    appendColor(out, fg, true);
    appendColor(out, bg, false);
    out += 'm';
    return out;
}

CharData& CharData::defaultCell()
{
    static CharData cell;
    return cell;
}

std::string CharData::debugDescription() const
{
    std::string out = "CharData: " + std::to_string(code) + " ";
    if (isValidScalar(code))
        appendUtf8(out, static_cast<char32_t>(code));
    else
        out += '?';
    return out;
}

void appendUtf8(std::string& out, char32_t c)
{
    if (c < 0x80) {
        out += static_cast<char>(c);
    } else if (c < 0x800) {
        out += static_cast<char>(0xC0 | (c >> 6));
        out += static_cast<char>(0x80 | (c & 0x3F));
    } else if (c < 0x10000) {
        out += static_cast<char>(0xE0 | (c >> 12));
        out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (c & 0x3F));
    } else {
        out += static_cast<char>(0xF0 | (c >> 18));
        out += static_cast<char>(0x80 | ((c >> 12) & 0x3F));
        out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (c & 0x3F));
    }
}

} // namespace corvantix
