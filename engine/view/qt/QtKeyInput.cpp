#include "view/qt/QtKeyInput.h"

#include <QKeyEvent>

namespace corvantix {

namespace {

using Key = KeyInput::Key;

// X11 key symbols of the modifier keys, which tell the left key from the right one.
constexpr quint32 XK_Shift_R = 0xffe2;
constexpr quint32 XK_Control_R = 0xffe4;
constexpr quint32 XK_Meta_R = 0xffe8;
constexpr quint32 XK_Alt_R = 0xffea;
constexpr quint32 XK_Super_R = 0xffec;
constexpr quint32 XK_Hyper_R = 0xffee;
// The X11 modifier mask bit of Caps Lock.
constexpr quint32 lockMask = 0x2;

Key modifierKey(int qtKey, quint32 keysym)
{
    switch (qtKey) {
    case Qt::Key_Shift:
        return keysym == XK_Shift_R ? Key::rightShift : Key::leftShift;
    case Qt::Key_Control:
        return keysym == XK_Control_R ? Key::rightControl : Key::leftControl;
    case Qt::Key_Alt:
    case Qt::Key_AltGr:
        return (keysym == XK_Alt_R || keysym == XK_Meta_R || qtKey == Qt::Key_AltGr) ? Key::rightAlt : Key::leftAlt;
    case Qt::Key_Meta:
    case Qt::Key_Super_L:
    case Qt::Key_Super_R:
    case Qt::Key_Hyper_L:
    case Qt::Key_Hyper_R:
        return (keysym == XK_Super_R || keysym == XK_Hyper_R || qtKey == Qt::Key_Super_R || qtKey == Qt::Key_Hyper_R)
                   ? Key::rightSuper
                   : Key::leftSuper;
    default:
        return Key::none;
    }
}

Key keypadKey(int qtKey)
{
    if (qtKey >= Qt::Key_0 && qtKey <= Qt::Key_9)
        return static_cast<Key>(static_cast<int>(Key::keypad0) + (qtKey - Qt::Key_0));
    switch (qtKey) {
    case Qt::Key_Period:
    case Qt::Key_Comma:
        return Key::keypadDecimal;
    case Qt::Key_Slash:
        return Key::keypadDivide;
    case Qt::Key_Asterisk:
        return Key::keypadMultiply;
    case Qt::Key_Minus:
        return Key::keypadSubtract;
    case Qt::Key_Plus:
        return Key::keypadAdd;
    case Qt::Key_Enter:
    case Qt::Key_Return:
        return Key::keypadEnter;
    case Qt::Key_Equal:
        return Key::keypadEqual;
    case Qt::Key_Clear:
        return Key::keypadBegin;
    default:
        return Key::none;
    }
}

Key namedKey(int qtKey)
{
    if (qtKey >= Qt::Key_F1 && qtKey <= Qt::Key_F35)
        return static_cast<Key>(static_cast<int>(Key::f1) + (qtKey - Qt::Key_F1));
    switch (qtKey) {
    case Qt::Key_Escape:
        return Key::escape;
    case Qt::Key_Return:
        return Key::enter;
    case Qt::Key_Enter:
        return Key::keypadEnter;
    case Qt::Key_Tab:
        return Key::tab;
    case Qt::Key_Backtab:
        return Key::backtab;
    case Qt::Key_Backspace:
        return Key::backspace;
    case Qt::Key_Insert:
        return Key::insert;
    case Qt::Key_Delete:
        return Key::delete_;
    case Qt::Key_Up:
        return Key::up;
    case Qt::Key_Down:
        return Key::down;
    case Qt::Key_Left:
        return Key::left;
    case Qt::Key_Right:
        return Key::right;
    case Qt::Key_Home:
        return Key::home;
    case Qt::Key_End:
        return Key::end;
    case Qt::Key_PageUp:
        return Key::pageUp;
    case Qt::Key_PageDown:
        return Key::pageDown;
    case Qt::Key_Menu:
        return Key::menu;
    case Qt::Key_Print:
        return Key::printScreen;
    case Qt::Key_ScrollLock:
        return Key::scrollLock;
    case Qt::Key_Pause:
        return Key::pause;
    case Qt::Key_CapsLock:
        return Key::capsLock;
    case Qt::Key_NumLock:
        return Key::numLock;
    case Qt::Key_Clear:
        return Key::keypadBegin;
    default:
        return Key::none;
    }
}

bool isPrintable(const QString& text)
{
    if (text.isEmpty())
        return false;
    for (const QChar c : text) {
        if (c.unicode() < 0x20 || c.unicode() == 0x7f)
            return false;
    }
    return true;
}

// What the key types without Control, Alt and Super: the event's own text when those did
// not change it, else the key's character (Qt names printable ASCII keys by their
// character, upper-case for letters).
std::string textIgnoringModifiers(const QKeyEvent& event, bool shifted)
{
    const Qt::KeyboardModifiers mods = event.modifiers();
    const bool chorded = mods & (Qt::ControlModifier | Qt::AltModifier | Qt::MetaModifier);
    if (!chorded && isPrintable(event.text()))
        return event.text().toStdString();
    const int key = event.key();
    if (key >= Qt::Key_A && key <= Qt::Key_Z) {
        const char letter = static_cast<char>((shifted ? 'A' : 'a') + (key - Qt::Key_A));
        return std::string(1, letter);
    }
    if (key >= Qt::Key_Space && key <= Qt::Key_AsciiTilde)
        return std::string(1, static_cast<char>(key));
    if (isPrintable(event.text()))
        return event.text().toStdString();
    return {};
}

} // namespace

KeyInput keyInputFromQKeyEvent(const QKeyEvent& event)
{
    KeyInput input;
    const int qtKey = event.key();
    const Qt::KeyboardModifiers mods = event.modifiers();

    const bool padModifier = mods.testFlag(Qt::KeypadModifier);
    input.key = modifierKey(qtKey, event.nativeVirtualKey());
    if (input.key == Key::none && padModifier)
        input.key = keypadKey(qtKey);
    if (input.key != Key::none && input.key >= Key::keypad0 && input.key <= Key::keypadBegin) {
        input.keypad = true;
    } else if (input.key == Key::none) {
        input.key = namedKey(qtKey);
        // Without Num Lock the pad sends arrows, paging, insert and delete.
        input.keypad = (padModifier && input.key >= Key::insert && input.key <= Key::pageDown)
                       || input.key == Key::keypadEnter || input.key == Key::keypadBegin;
    }

    if (event.type() == QEvent::KeyRelease)
        input.type = KeyInput::Type::release;
    else if (event.isAutoRepeat())
        input.type = KeyInput::Type::repeat;

    input.modifiers.shift = mods.testFlag(Qt::ShiftModifier);
    input.modifiers.control = mods.testFlag(Qt::ControlModifier);
    input.modifiers.alt = mods.testFlag(Qt::AltModifier);
    input.modifiers.super = mods.testFlag(Qt::MetaModifier);
    input.modifiers.capsLock = (event.nativeModifiers() & lockMask) != 0;
    // The state after the event: a modifier key's own bit follows its press or release.
    const bool pressed = input.type != KeyInput::Type::release;
    switch (input.key) {
    case Key::leftShift:
    case Key::rightShift:
        input.modifiers.shift = pressed;
        break;
    case Key::leftControl:
    case Key::rightControl:
        input.modifiers.control = pressed;
        break;
    case Key::leftAlt:
    case Key::rightAlt:
        input.modifiers.alt = pressed;
        break;
    case Key::leftSuper:
    case Key::rightSuper:
        input.modifiers.super = pressed;
        break;
    default:
        break;
    }

    switch (input.key) {
    case Key::enter:
    case Key::keypadEnter:
        input.text = "\r";
        break;
    case Key::tab:
    case Key::backtab:
        input.text = "\t";
        break;
    case Key::escape:
        input.text = "\x1b";
        break;
    case Key::backspace:
        input.text = "\x7f";
        break;
    default:
        if (!(input.key >= Key::insert && input.key <= Key::numLock) && !input.isModifierKey())
            input.text = event.text().toStdString();
        break;
    }
    if (input.key == Key::enter || input.key == Key::keypadEnter || input.key == Key::tab
        || input.key == Key::backtab || input.key == Key::escape || input.key == Key::backspace) {
        input.textIgnoringModifiers = input.text;
    } else if (!input.text.empty() || input.key == Key::none || (input.key >= Key::keypad0 && input.key <= Key::keypadBegin)) {
        input.textIgnoringModifiers =
            textIgnoringModifiers(event, input.modifiers.shift != input.modifiers.capsLock);
    }

    const quint32 scanCode = event.nativeScanCode();
    input.physicalKey = scanCode > 8 ? static_cast<int>(scanCode - 8) : 0;
    return input;
}

} // namespace corvantix
