// One key event as the keyboard code sees it. The view fills it from the toolkit's key
// event, so that the encoders and the input handler never depend on a toolkit.
//
// How a host fills it:
// - `key` names the key when it does not simply type text (arrows, function keys, the
//   keys of the numeric pad, the modifier keys); a key known only by its text is `none`.
// - `text` is what the key types with every modifier applied (UTF-8). Return, Tab, Escape
//   and Backspace carry "\r", "\t", "\x1b" and "\x7f"; function keys carry none.
// - `textIgnoringModifiers` is what the key types without Control, Alt and Super (Shift
//   and Caps Lock still apply). Alt+a gives "a", Control+c gives "c".
// - `modifiers` is the state after the event: a Shift press has `shift` set, its release
//   not; `capsLock` is the lock's state. Alt is the key the handler calls Option
//   (optionAsMetaKey), Super the one it calls Command.
// - `keypad` is set for keys of the numeric pad, never for the dedicated arrow and paging
//   keys; with Num Lock off the pad's 8 arrives as `up` with `keypad`.
// - `physicalKey` is the key's position as a Linux input event code (KEY_A = 30); a host
//   that reads X key codes subtracts 8. 0 when unknown. It gives the key's character on the
//   US layout for the Kitty protocol's base-layout field.
#pragma once

#include <cstdint>
#include <string>

namespace corvantix {

struct KeyInput {
    enum class Key : std::uint8_t {
        none, // a key known by its text
        escape,
        enter, // Return
        tab,
        backtab, // Shift+Tab, as toolkits deliver it
        backspace,
        insert,
        delete_, // forward delete ("delete" is a keyword)
        up,
        down,
        left,
        right,
        home,
        end,
        pageUp,
        pageDown,
        // f1 to f35 are contiguous.
        f1, f2, f3, f4, f5, f6, f7, f8, f9, f10, f11, f12, f13, f14, f15, f16, f17, f18,
        f19, f20, f21, f22, f23, f24, f25, f26, f27, f28, f29, f30, f31, f32, f33, f34, f35,
        menu,
        printScreen,
        scrollLock,
        pause,
        capsLock,
        numLock,
        // The numeric pad by position; keypad0 to keypad9 are contiguous.
        keypad0, keypad1, keypad2, keypad3, keypad4, keypad5, keypad6, keypad7, keypad8, keypad9,
        keypadDecimal,
        keypadDivide,
        keypadMultiply,
        keypadSubtract,
        keypadAdd,
        keypadEnter,
        keypadEqual,
        keypadSeparator,
        keypadBegin, // the pad's middle key without Num Lock, or its Clear key
        // The modifier keys, with their sides.
        leftShift,
        rightShift,
        leftControl,
        rightControl,
        leftAlt,
        rightAlt,
        leftSuper,
        rightSuper,
    };

    enum class Type : std::uint8_t { press, repeat, release };

    struct Modifiers {
        bool shift = false;
        bool control = false;
        bool alt = false;   // Option
        bool super = false; // Command
        bool capsLock = false;
    };

    Key key = Key::none;
    std::string text;
    std::string textIgnoringModifiers;
    Modifiers modifiers;
    Type type = Type::press;
    bool keypad = false;
    int physicalKey = 0;

    // An auto-repeated press.
    bool isARepeat() const { return type == Type::repeat; }

    bool isModifierKey() const
    {
        return key == Key::capsLock || (key >= Key::leftShift && key <= Key::rightSuper);
    }

    // The keys that the keyboard tables mark with the function-key flag: arrows, paging,
    // insert and delete, and the F keys and their neighbours.
    bool hasFunctionKeyFlag() const
    {
        return (key >= Key::insert && key <= Key::pause);
    }
};

} // namespace corvantix
