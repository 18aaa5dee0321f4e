// The classic (xterm-style) key encodings: the fixed sequences the keyboard paths send,
// Control bytes, and the forms the key encoder produces when no Kitty keyboard flags are
// set (function keys with modifier parameters, arrows in normal and application cursor
// mode, the numeric pad in application keypad mode, Alt as an ESC prefix).
#pragma once

#include "view/KittyKeyboardEncoder.h"

#include <array>
#include <optional>
#include <string_view>

namespace corvantix {

// Fixed byte strings of the legacy paths; constants, shared by every view.
struct EscapeSequences {
    static constexpr std::string_view cmdRet = "\r";
    static constexpr std::string_view cmdEsc = "\x1b";
    static constexpr std::string_view cmdDelKey = "\x1b[3~";
    static constexpr std::string_view moveUpApp = "\x1bOA";
    static constexpr std::string_view moveUpNormal = "\x1b[A";
    static constexpr std::string_view moveDownApp = "\x1bOB";
    static constexpr std::string_view moveDownNormal = "\x1b[B";
    static constexpr std::string_view moveLeftApp = "\x1bOD";
    static constexpr std::string_view moveLeftNormal = "\x1b[D";
    static constexpr std::string_view moveRightApp = "\x1bOC";
    static constexpr std::string_view moveRightNormal = "\x1b[C";
    static constexpr std::string_view moveHomeApp = "\x1bOH";
    static constexpr std::string_view moveHomeNormal = "\x1b[H";
    static constexpr std::string_view moveEndApp = "\x1bOF";
    static constexpr std::string_view moveEndNormal = "\x1b[F";
    static constexpr std::string_view cmdTab = "\t";
    static constexpr std::string_view cmdBackTab = "\x1b[Z";
    static constexpr std::string_view cmdPageUp = "\x1b[5~";
    static constexpr std::string_view cmdPageDown = "\x1b[6~";
    static constexpr std::string_view wordLeft = "\x1b" "b";
    static constexpr std::string_view wordRight = "\x1b" "f";
    static constexpr std::string_view controlLeft = "\x1b[1;5D";
    static constexpr std::string_view controlRight = "\x1b[1;5C";
    static constexpr std::string_view bracketedPasteStart = "\x1b[200~";
    static constexpr std::string_view bracketedPasteEnd = "\x1b[201~";
    // F1 to F12.
    static constexpr std::array<std::string_view, 12> cmdF = {
        "\x1bOP", "\x1bOQ", "\x1bOR", "\x1bOS", "\x1b[15~", "\x1b[17~",
        "\x1b[18~", "\x1b[19~", "\x1b[20~", "\x1b[21~", "\x1b[23~", "\x1b[24~",
    };
};

// Control+key in the legacy path: the one C0 byte for a key text of exactly one byte
// ("a" 0x01, "[" 0x1B, space 0x00, ...); empty for any other text.
KeyBytes controlCharacterBytes(std::string_view keyText);

// The byte Control turns a key into under the key encoder's text-key rule; none when the
// key has no entry (46 entries: " ", "/", digits, "?", "@", brackets, "^", "_", "a"-"z", "~").
std::optional<std::uint8_t> controlByteForKey(char32_t key);

// A `unicode` key in the classic forms: ESC prefix for Alt, Control bytes, else the text.
std::optional<KeyBytes> encodeLegacyTextKey(const KittyKeyEvent& event);

// Escape, Enter, Tab and Backspace in the classic forms.
std::optional<KeyBytes> encodeLegacyControlKey(const KittyKeyEvent& event, const KittyKeyboardContext& context);

// Every functional key with flags 0.
std::optional<KeyBytes> encodeLegacyFunctionalKey(const KittyKeyEvent& event, const KittyKeyboardContext& context);

} // namespace corvantix
