#include "view/qt/QtKeyAdapter.h"

#include "view/KittyKeyboardEncoder.h"

#include <QChar>
#include <QKeyEvent>

namespace corvantix {

namespace {

using Key = KeyInput::Key;

// X key codes of the modifier keys on the right-hand side, and on the left.
bool isRightModifierPosition(quint32 scanCode)
{
    return scanCode == 62 || scanCode == 105 || scanCode == 108 || scanCode == 134;
}

bool isLeftModifierPosition(quint32 scanCode)
{
    return scanCode == 50 || scanCode == 37 || scanCode == 64 || scanCode == 133;
}

// Keysyms of the modifier keys: Shift_L 0xffe1 to Hyper_R 0xffee come in left/right pairs,
// the left one odd.
std::optional<bool> keysymIsRight(quint32 keysym)
{
    if (keysym >= 0xffe1 && keysym <= 0xffee && keysym != 0xffe5 && keysym != 0xffe6) // not the locks
        return (keysym & 1) == 0;
    return std::nullopt;
}

// The side of a modifier key: its position first (it survives remapping the key's meaning),
// then its keysym, then what Qt's key code says.
bool isRightModifier(int qtKey, const QtKeyAdapter::NativeKey& native)
{
    if (isRightModifierPosition(native.scanCode))
        return true;
    if (isLeftModifierPosition(native.scanCode))
        return false;
    if (const std::optional<bool> right = keysymIsRight(native.virtualKey))
        return *right;
    return qtKey == Qt::Key_Super_R;
}

Key sided(bool right, Key left, Key rightKey)
{
    return right ? rightKey : left;
}

std::optional<Key> keypadKey(int qtKey, const QtKeyAdapter::NativeKey& native)
{
    // The pad's decimal key types "," on some layouts and its separator key "." on others:
    // the keysym tells which key it is.
    if (native.virtualKey == 0xffae) // KP_Decimal
        return Key::keypadDecimal;
    if (native.virtualKey == 0xffac) // KP_Separator
        return Key::keypadSeparator;
    if (qtKey >= Qt::Key_0 && qtKey <= Qt::Key_9)
        return static_cast<Key>(static_cast<int>(Key::keypad0) + (qtKey - Qt::Key_0));
    switch (qtKey) {
    case Qt::Key_Period: return Key::keypadDecimal;
    case Qt::Key_Comma: return Key::keypadSeparator;
    case Qt::Key_Slash: return Key::keypadDivide;
    case Qt::Key_Asterisk: return Key::keypadMultiply;
    case Qt::Key_Minus: return Key::keypadSubtract;
    case Qt::Key_Plus: return Key::keypadAdd;
    case Qt::Key_Equal: return Key::keypadEqual;
    case Qt::Key_Enter: return Key::keypadEnter;
    case Qt::Key_Clear: return Key::keypadBegin;
    default: return std::nullopt;
    }
}

// The flag of a Shift, Control, Alt or Super key; none for other keys.
bool* ownModifierFlag(Key key, KeyInput::Modifiers& modifiers)
{
    switch (key) {
    case Key::leftShift: case Key::rightShift: return &modifiers.shift;
    case Key::leftControl: case Key::rightControl: return &modifiers.control;
    case Key::leftAlt: case Key::rightAlt: return &modifiers.alt;
    case Key::leftSuper: case Key::rightSuper: return &modifiers.super;
    default: return nullptr;
    }
}

bool isControlScalar(char32_t c)
{
    return c < 0x20 || (c >= 0x7f && c <= 0x9f);
}

std::string utf8(char32_t scalar)
{
    KeyBytes bytes;
    appendUtf8(bytes, scalar);
    return std::string(bytes.begin(), bytes.end());
}

// The text the keyboard tables give keys that type control characters, whatever the
// toolkit reports (X11 gives Backspace "\b"); keys that type nothing carry no text.
std::optional<std::string> fixedText(Key key)
{
    switch (key) {
    case Key::none:
        return std::nullopt;
    case Key::enter: case Key::keypadEnter: return std::string("\r");
    case Key::tab: case Key::backtab: return std::string("\t");
    case Key::escape: return std::string("\x1b");
    case Key::backspace: return std::string("\x7f");
    default:
        break;
    }
    // The pad's digits and operators type their characters.
    if (key >= Key::keypad0 && key <= Key::keypadSeparator)
        return std::nullopt;
    return std::string();
}

} // namespace

std::optional<char32_t> QtKeyAdapter::keysymCharacter(quint32 keysym)
{
    // Latin-1 keysyms are their code points; Unicode keysyms carry 0x01000000.
    if ((keysym >= 0x20 && keysym <= 0x7e) || (keysym >= 0xa0 && keysym <= 0xff))
        return static_cast<char32_t>(keysym);
    if (keysym >= 0x01000100 && keysym <= 0x0110ffff) {
        const char32_t scalar = keysym - 0x01000000;
        if (scalar >= 0xd800 && scalar <= 0xdfff)
            return std::nullopt;
        return scalar;
    }
    return std::nullopt;
}

KeyInput::Key QtKeyAdapter::key(int qtKey, bool keypad, const NativeKey& native)
{
    if (keypad) {
        if (const std::optional<Key> padKey = keypadKey(qtKey, native))
            return *padKey;
    }
    if (qtKey >= Qt::Key_F1 && qtKey <= Qt::Key_F35)
        return static_cast<Key>(static_cast<int>(Key::f1) + (qtKey - Qt::Key_F1));
    const bool right = isRightModifier(qtKey, native);
    switch (qtKey) {
    case Qt::Key_Escape: return Key::escape;
    case Qt::Key_Return: return Key::enter;
    case Qt::Key_Enter: return Key::keypadEnter;
    case Qt::Key_Tab: return Key::tab;
    case Qt::Key_Backtab: return Key::backtab;
    case Qt::Key_Backspace: return Key::backspace;
    case Qt::Key_Insert: return Key::insert;
    case Qt::Key_Delete: return Key::delete_;
    case Qt::Key_Up: return Key::up;
    case Qt::Key_Down: return Key::down;
    case Qt::Key_Left: return Key::left;
    case Qt::Key_Right: return Key::right;
    case Qt::Key_Home: return Key::home;
    case Qt::Key_End: return Key::end;
    case Qt::Key_PageUp: return Key::pageUp;
    case Qt::Key_PageDown: return Key::pageDown;
    case Qt::Key_Menu: return Key::menu;
    case Qt::Key_Print: return Key::printScreen;
    case Qt::Key_ScrollLock: return Key::scrollLock;
    case Qt::Key_Pause: return Key::pause;
    case Qt::Key_CapsLock: return Key::capsLock;
    case Qt::Key_NumLock: return Key::numLock;
    case Qt::Key_Clear: return Key::keypadBegin;
    case Qt::Key_Shift: return sided(right, Key::leftShift, Key::rightShift);
    case Qt::Key_Control: return sided(right, Key::leftControl, Key::rightControl);
    case Qt::Key_Alt: return sided(right, Key::leftAlt, Key::rightAlt);
    // On Linux Qt calls the Super (Windows) key Meta.
    case Qt::Key_Meta:
    case Qt::Key_Super_L:
    case Qt::Key_Super_R: return sided(right, Key::leftSuper, Key::rightSuper);
    default: return Key::none;
    }
}

KeyInput::Modifiers QtKeyAdapter::modifiers(Qt::KeyboardModifiers qtModifiers, KeyInput::Key key, bool release,
                                             const NativeKey& native)
{
    KeyInput::Modifiers modifiers;
    modifiers.shift = qtModifiers.testFlag(Qt::ShiftModifier);
    modifiers.control = qtModifiers.testFlag(Qt::ControlModifier);
    modifiers.alt = qtModifiers.testFlag(Qt::AltModifier);
    modifiers.super = qtModifiers.testFlag(Qt::MetaModifier);
    // X11 and xkb keep the Caps Lock state in bit 1 (LockMask) of the modifier state.
    constexpr quint32 lockMask = 0x2;
    modifiers.capsLock = (native.modifiers & lockMask) != 0;

    // The native state is the one before the event, and Qt reports a modifier key's own flag
    // differently on each platform: set it from what the event does.
    if (bool* own = ownModifierFlag(key, modifiers))
        *own = !release;
    else if (key == Key::capsLock && !release)
        modifiers.capsLock = !modifiers.capsLock;
    return modifiers;
}

std::string QtKeyAdapter::textIgnoringModifiers(int qtKey, const std::string& text, bool shift,
                                                const NativeKey& native)
{
    // The keysym is what the key types at its Shift level, with Caps Lock applied.
    if (const std::optional<char32_t> c = keysymCharacter(native.virtualKey))
        return utf8(*c);
    // Alt and Super leave the text alone; Control turns it into a control character.
    const std::u32string scalars = decodeUtf8Scalars(text);
    if (scalars.size() == 1 && !isControlScalar(scalars.front()))
        return text;
    // Qt's key codes of characters are their code points, letters in upper case.
    const bool isCharacter = qtKey >= 0x20 && qtKey <= 0x10ffff && !(qtKey >= 0xd800 && qtKey <= 0xdfff) &&
                             !isControlScalar(static_cast<char32_t>(qtKey));
    if (isCharacter) {
        auto c = static_cast<char32_t>(qtKey);
        if (!shift)
            c = QChar::toLower(c);
        return utf8(c);
    }
    return std::string();
}

KeyInput QtKeyAdapter::keyInput(const QKeyEvent& event)
{
    const NativeKey native{event.nativeScanCode(), event.nativeVirtualKey(), event.nativeModifiers()};
    const bool release = event.type() == QEvent::KeyRelease;
    const Qt::KeyboardModifiers qtModifiers = event.modifiers();

    KeyInput input;
    input.keypad = qtModifiers.testFlag(Qt::KeypadModifier);
    input.key = key(event.key(), input.keypad, native);
    if (release)
        input.type = KeyInput::Type::release;
    else
        input.type = event.isAutoRepeat() ? KeyInput::Type::repeat : KeyInput::Type::press;
    input.modifiers = modifiers(qtModifiers, input.key, release, native);
    if (const std::optional<std::string> fixed = fixedText(input.key)) {
        input.text = *fixed;
        input.textIgnoringModifiers = *fixed;
    } else {
        input.text = event.text().toStdString();
        input.textIgnoringModifiers =
            textIgnoringModifiers(event.key(), input.text, input.modifiers.shift, native);
    }
    // X key codes are the kernel's input event codes plus 8.
    input.physicalKey = native.scanCode > 8 ? static_cast<int>(native.scanCode - 8) : 0;
    return input;
}

} // namespace corvantix
