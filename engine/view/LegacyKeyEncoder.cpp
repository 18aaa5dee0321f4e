#include "view/LegacyKeyEncoder.h"

#include <unicode/uchar.h>

#include <array>
#include <string>

namespace corvantix {

namespace {

using Mods = KittyKeyboardModifiers;
using Key = KittyFunctionalKey;

constexpr std::uint8_t ESC = 0x1b;

bool isValidScalar(char32_t scalar)
{
    return scalar <= 0x10ffff && !(scalar >= 0xd800 && scalar <= 0xdfff);
}

void appendDecimal(KeyBytes& bytes, unsigned value)
{
    const std::string digits = std::to_string(value);
    bytes.insert(bytes.end(), digits.begin(), digits.end());
}

void appendText(KeyBytes& bytes, std::string_view text)
{
    bytes.insert(bytes.end(), text.begin(), text.end());
}

// CSI n "~", or CSI n ";" (m + 1) "~" with modifiers.
KeyBytes tildeKey(unsigned number, unsigned m)
{
    KeyBytes bytes{ESC, '['};
    appendDecimal(bytes, number);
    if (m != 0) {
        bytes.push_back(';');
        appendDecimal(bytes, m + 1);
    }
    bytes.push_back('~');
    return bytes;
}

// CSI "1;" (m + 1) letter with modifiers; without, CSI letter or, when `ss3`, SS3 letter.
KeyBytes letterKey(char letter, unsigned m, bool ss3)
{
    if (m != 0) {
        KeyBytes bytes{ESC, '[', '1', ';'};
        appendDecimal(bytes, m + 1);
        bytes.push_back(static_cast<std::uint8_t>(letter));
        return bytes;
    }
    return KeyBytes{ESC, static_cast<std::uint8_t>(ss3 ? 'O' : '['), static_cast<std::uint8_t>(letter)};
}

// The SS3 final of a numeric-pad key in application keypad mode.
char applicationKeypadCharacter(Key key)
{
    switch (key) {
    case Key::keypad0: case Key::keypadInsert: return 'p';
    case Key::keypad1: case Key::keypadEnd: return 'q';
    case Key::keypad2: case Key::keypadDown: return 'r';
    case Key::keypad3: case Key::keypadPageDown: return 's';
    case Key::keypad4: case Key::keypadLeft: return 't';
    case Key::keypad5: case Key::keypadBegin: return 'u';
    case Key::keypad6: case Key::keypadRight: return 'v';
    case Key::keypad7: case Key::keypadHome: return 'w';
    case Key::keypad8: case Key::keypadUp: return 'x';
    case Key::keypad9: case Key::keypadPageUp: return 'y';
    case Key::keypadDecimal: case Key::keypadDelete: return 'n';
    case Key::keypadDivide: return 'o';
    case Key::keypadMultiply: return 'j';
    case Key::keypadSubtract: return 'm';
    case Key::keypadAdd: return 'k';
    case Key::keypadEnter: return 'M';
    case Key::keypadEqual: return 'X';
    case Key::keypadSeparator: return 'l';
    default: return 0;
    }
}

std::optional<KeyBytes> encodeLegacyKeypadKey(const KittyKeyEvent& event, const KittyKeyboardContext& context, unsigned m)
{
    const Key key = event.key.functionalKey;
    const bool alt = (m & Mods::alt) != 0;
    if (context.applicationKeypad && m == 0)
        return KeyBytes{ESC, 'O', static_cast<std::uint8_t>(applicationKeypadCharacter(key))};

    if (key == Key::keypadEnter)
        return alt ? KeyBytes{ESC, '\r'} : KeyBytes{'\r'};
    if (event.text && !event.text->empty()) {
        KeyBytes bytes;
        if (alt)
            bytes.push_back(ESC);
        appendText(bytes, *event.text);
        return bytes;
    }
    switch (key) {
    case Key::keypadLeft: return letterKey('D', m, false);
    case Key::keypadRight: return letterKey('C', m, false);
    case Key::keypadUp: return letterKey('A', m, false);
    case Key::keypadDown: return letterKey('B', m, false);
    case Key::keypadHome: return letterKey('H', m, false);
    case Key::keypadEnd: return letterKey('F', m, false);
    case Key::keypadPageUp: return tildeKey(5, m);
    case Key::keypadPageDown: return tildeKey(6, m);
    case Key::keypadInsert: return tildeKey(2, m);
    case Key::keypadDelete: return tildeKey(3, m);
    default: return std::nullopt;
    }
}

// F-key k (1 to 12) with modifier parameter p.
KeyBytes functionKey(unsigned k, unsigned p)
{
    static constexpr std::array<char, 4> ss3Letters = {'P', 'Q', 'R', 'S'};
    static constexpr std::array<unsigned, 8> tildeNumbers = {15, 17, 18, 19, 20, 21, 23, 24};
    if (k <= 4) {
        if (p == 1)
            return KeyBytes{ESC, 'O', static_cast<std::uint8_t>(ss3Letters[k - 1])};
        KeyBytes bytes{ESC, '[', '1', ';'};
        appendDecimal(bytes, p);
        bytes.push_back(static_cast<std::uint8_t>(ss3Letters[k - 1]));
        return bytes;
    }
    return tildeKey(tildeNumbers[k - 5], p - 1);
}

// F1 to F35. F1-F12 fold their modifiers into the key number (Shift+F1 is F13 and so on);
// every number then unfolds into a key of F1-F12 and a modifier parameter.
KeyBytes encodeLegacyFunctionKeyNumber(unsigned n, unsigned m)
{
    if (n <= 12) {
        switch (m) {
        case 0: break;
        case Mods::shift: n += 12; break;
        case Mods::ctrl: n += 24; break;
        case Mods::ctrl | Mods::shift: n += 36; break;
        case Mods::alt: n += 48; break;
        case Mods::alt | Mods::shift: n += 60; break;
        default: return functionKey(n, m + 1); // alt+ctrl, alt+ctrl+shift
        }
    }
    static constexpr std::array<unsigned, 6> parameters = {1, 2, 5, 6, 3, 4};
    const unsigned group = (n - 1) / 12; // n is at most 72
    return functionKey(n - group * 12, parameters[group]);
}

} // namespace

KeyBytes controlCharacterBytes(std::string_view keyText)
{
    if (keyText.size() != 1)
        return {};
    const auto c = static_cast<unsigned char>(keyText[0]);
    if (c >= 'A' && c <= 'Z')
        return {static_cast<std::uint8_t>(c - 64)};
    if (c >= 'a' && c <= 'z')
        return {static_cast<std::uint8_t>(c - 96)};
    switch (c) {
    case '[': return {0x1b};
    case '\\': return {0x1c};
    case ']': return {0x1d};
    case '^': case '6': return {0x1e};
    case '_': return {0x1f};
    case ' ': return {0x00};
    default: return {};
    }
}

std::optional<std::uint8_t> controlByteForKey(char32_t key)
{
    if (key >= 'a' && key <= 'z')
        return static_cast<std::uint8_t>(key - 'a' + 1);
    switch (key) {
    case ' ': return 0;
    case '/': return 31;
    case '0': return 48;
    case '1': return 49;
    case '2': return 0;
    case '3': return 27;
    case '4': return 28;
    case '5': return 29;
    case '6': return 30;
    case '7': return 31;
    case '8': return 127;
    case '9': return 57;
    case '?': return 127;
    case '@': return 0;
    case '[': return 27;
    case '\\': return 28;
    case ']': return 29;
    case '^': return 30;
    case '_': return 31;
    case '~': return 30;
    default: return std::nullopt;
    }
}

std::optional<KeyBytes> encodeLegacyTextKey(const KittyKeyEvent& event)
{
    const KittyKeyboardModifiers mods = event.modifiers;
    const char32_t key = event.key.scalar;
    // Releases, Super, Hyper or Meta chords, Shift with Control and invalid scalars send nothing.
    if (event.eventType == KittyKeyboardEventType::release || mods.contains(Mods::super | Mods::hyper | Mods::meta) ||
        (mods.contains(Mods::shift) && mods.contains(Mods::ctrl)) || !isValidScalar(key))
        return std::nullopt;
    // Alt sends ESC first.
    KeyBytes bytes;
    if (mods.contains(Mods::alt))
        bytes.push_back(ESC);
    // Control turns the key into its control byte where it has one.
    if (mods.contains(Mods::ctrl)) {
        auto byte = controlByteForKey(static_cast<char32_t>(u_tolower(static_cast<UChar32>(key))));
        if (!byte)
            byte = controlByteForKey(key);
        if (byte) {
            bytes.push_back(*byte);
            return bytes;
        }
    }
    // Otherwise the text the key typed.
    if (event.text && !event.text->empty()) {
        appendText(bytes, *event.text);
        return bytes;
    }
    // Without text, the key itself (its shifted form under Shift).
    if (mods.contains(Mods::shift) && event.shiftedKey)
        appendUtf8(bytes, *event.shiftedKey);
    else
        appendUtf8(bytes, key);
    return bytes;
}

std::optional<KeyBytes> encodeLegacyControlKey(const KittyKeyEvent& event, const KittyKeyboardContext& context)
{
    if (event.eventType == KittyKeyboardEventType::release || event.key.kind != KittyKey::Kind::functional)
        return std::nullopt;
    const KittyKeyboardModifiers mods = event.modifiers;
    KeyBytes bytes;
    if (mods.contains(Mods::alt))
        bytes.push_back(ESC);
    switch (event.key.functionalKey) {
    case Key::escape:
        bytes.push_back(ESC);
        break;
    case Key::enter:
        bytes.push_back('\r');
        break;
    case Key::tab:
        if (mods.contains(Mods::shift))
            bytes.insert(bytes.end(), EscapeSequences::backTab.begin(), EscapeSequences::backTab.end());
        else
            bytes.push_back('\t');
        break;
    case Key::backspace:
        bytes.push_back(context.backspaceSendsControlH || mods.contains(Mods::ctrl) ? 0x08 : 0x7f);
        break;
    default:
        return std::nullopt;
    }
    return bytes;
}

std::optional<KeyBytes> encodeLegacyFunctionalKey(const KittyKeyEvent& event, const KittyKeyboardContext& context)
{
    if (event.key.kind != KittyKey::Kind::functional)
        return std::nullopt;
    // Releases and Super, Hyper or Meta chords send nothing.
    if (event.eventType == KittyKeyboardEventType::release ||
        event.modifiers.contains(Mods::super | Mods::hyper | Mods::meta))
        return std::nullopt;
    const unsigned m = event.modifiers.rawValue & ~static_cast<unsigned>(Mods::locks);
    const Key key = event.key.functionalKey;

    // Keys of the numeric pad.
    if (isKittyKeypadKey(key))
        return encodeLegacyKeypadKey(event, context, m);

    // F1 to F35.
    if (key >= Key::f1 && key <= Key::f35) {
        const auto n = static_cast<unsigned>(key) - static_cast<unsigned>(Key::f1) + 1;
        return encodeLegacyFunctionKeyNumber(n, m);
    }

    switch (key) {
    // Escape, Enter, Tab and Backspace, without the lock bits.
    case Key::escape:
    case Key::enter:
    case Key::tab:
    case Key::backspace: {
        KittyKeyEvent withoutLocks = event;
        withoutLocks.modifiers.rawValue = static_cast<std::uint8_t>(m);
        return encodeLegacyControlKey(withoutLocks, context);
    }
    // The editing keys: CSI n ~.
    case Key::insert: return tildeKey(2, m);
    case Key::delete_: return tildeKey(3, m);
    case Key::pageUp: return tildeKey(5, m);
    case Key::pageDown: return tildeKey(6, m);
    // Arrows, Home and End: CSI or SS3 and a letter.
    case Key::up: return letterKey('A', m, context.applicationCursor);
    case Key::down: return letterKey('B', m, context.applicationCursor);
    case Key::left: return letterKey('D', m, context.applicationCursor);
    case Key::right: return letterKey('C', m, context.applicationCursor);
    case Key::home: return letterKey('H', m, context.applicationCursor);
    case Key::end: return letterKey('F', m, context.applicationCursor);
    // Any other key has no legacy form.
    default: return std::nullopt;
    }
}

} // namespace corvantix
