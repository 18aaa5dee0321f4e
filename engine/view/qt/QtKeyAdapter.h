// Turns Qt's key events into KeyInput, the toolkit-free key the keyboard handler reads.
//
// What Qt does not say directly is recovered from the native fields where the windowing
// system fills them (X11 and Wayland both use X key codes and keysyms):
// - the side of a modifier key from the X key code (left/right Shift 50/62, Control 37/105,
//   Alt 64/108, Super 133/134), else from its keysym;
// - the text a key types without Control, Alt and Super from its keysym (which keeps Shift
//   and Caps Lock), else from the event's text or Qt's key code;
// - Caps Lock from the lock bit of the native modifier state;
// - the key's position (a Linux input event code) as the X key code minus 8.
// Events made by hand (tests, synthetic input) carry no native fields; the adapter then
// falls back on Qt's key code and text, and modifier keys count as the left ones.
#pragma once

#include "view/KeyInput.h"

#include <QtCore/qnamespace.h>

#include <cstdint>
#include <optional>
#include <string>

class QKeyEvent;

namespace corvantix {

struct QtKeyAdapter {
    // The native fields of an event, as the adapter reads them.
    struct NativeKey {
        quint32 scanCode = 0;   // X key code (evdev code + 8); 0 when unknown
        quint32 virtualKey = 0; // X keysym; 0 when unknown
        quint32 modifiers = 0;  // X modifier state (Caps Lock is bit 1)
    };

    // The whole event. Auto-repeated presses become repeats; a release stays a release.
    static KeyInput keyInput(const QKeyEvent& event);

    // The key a Qt key code names. `keypad` is Qt's KeypadModifier; the native fields pick
    // the side of modifier keys and tell the pad's decimal and separator keys apart.
    static KeyInput::Key key(int qtKey, bool keypad, const NativeKey& native);
    // Held modifiers from Qt's flags, Caps Lock from the native state. For a modifier key
    // the state after the event: its own modifier set by a press and cleared by a release;
    // Caps Lock turns over on its press.
    static KeyInput::Modifiers modifiers(Qt::KeyboardModifiers qtModifiers, KeyInput::Key key, bool release,
                                         const NativeKey& native);
    // What the key types without Control, Alt and Super, as UTF-8 (empty when unknown).
    static std::string textIgnoringModifiers(int qtKey, const std::string& text, bool shift,
                                             const NativeKey& native);
    // The character of an X keysym that stands for one (Latin-1 and Unicode keysyms).
    static std::optional<char32_t> keysymCharacter(quint32 keysym);
};

} // namespace corvantix
