// The classic (xterm-style) key encodings: Control bytes for the legacy keyboard path, and
// the forms the key encoder produces when no Kitty keyboard flags are set (function keys
// with modifier parameters, arrows in normal and application cursor mode, the numeric pad
// in application keypad mode, Alt as an ESC prefix). The fixed sequences themselves are
// EscapeSequences, shared with the emulator.
#pragma once

#include "emulator/EscapeSequences.h"
#include "view/KittyKeyboardEncoder.h"

#include <optional>
#include <string_view>

namespace corvantix {

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
