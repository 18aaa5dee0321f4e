// Qt key events into KeyInput: key codes, the texts with and without modifiers, modifier
// sides from the native fields, Caps Lock, repeats and releases.
#include "view/qt/QtKeyAdapter.h"

#include <gtest/gtest.h>

#include <QKeyEvent>

#include <string>
#include <vector>

namespace corvantix {
namespace {

using Key = KeyInput::Key;

struct KeyEventFields {
    int qtKey = 0;
    Qt::KeyboardModifiers modifiers = {};
    QString text = {};
    quint32 scanCode = 0;
    quint32 keysym = 0;
    quint32 nativeModifiers = 0;
    QEvent::Type type = QEvent::KeyPress;
    bool autoRepeat = false;
};

KeyInput adapt(const KeyEventFields& fields)
{
    const QKeyEvent event(fields.type, fields.qtKey, fields.modifiers, fields.scanCode, fields.keysym,
                          fields.nativeModifiers, fields.text, fields.autoRepeat);
    return QtKeyAdapter::keyInput(event);
}

struct KeyCase {
    const char* name;
    KeyEventFields event;
    Key key;
    std::string text;
    std::string textIgnoringModifiers;
    bool keypad = false;
};

TEST(QtKeyAdapter, KeysAndTexts)
{
    const Qt::KeyboardModifiers ctrl = Qt::ControlModifier;
    const Qt::KeyboardModifiers ctrlShift = Qt::ControlModifier | Qt::ShiftModifier;
    const Qt::KeyboardModifiers pad = Qt::KeypadModifier;
    const std::vector<KeyCase> cases = {
        {"shifted letter", {Qt::Key_A, Qt::ShiftModifier, "A"}, Key::none, "A", "A"},
        {"Control+Shift+c from the key code", {Qt::Key_C, ctrlShift, "\x03"}, Key::none, "\x03", "C"},
        {"Control+c from the keysym", {Qt::Key_C, ctrl, "\x03", 54, 0x63}, Key::none, "\x03", "c"},
        {"Control+[ from the keysym", {Qt::Key_BracketLeft, ctrl, "\x1b", 34, 0x5b}, Key::none, "\x1b", "["},
        {"Latin-1 keysym", {Qt::Key_Eacute, ctrl, "", 0, 0xe9}, Key::none, "", "\xc3\xa9"},
        {"Unicode keysym", {0x391, ctrl, "", 0, 0x010003b1}, Key::none, "", "\xce\xb1"},
        {"non-Latin key code lowered", {0x391, ctrl, ""}, Key::none, "", "\xce\xb1"},
        {"typed character", {Qt::Key_Eacute, {}, "\xc3\xa9"}, Key::none, "\xc3\xa9", "\xc3\xa9"},
        {"Backspace (X11 types BS)", {Qt::Key_Backspace, {}, "\b"}, Key::backspace, "\x7f", "\x7f"},
        {"Shift+Tab", {Qt::Key_Backtab, Qt::ShiftModifier, ""}, Key::backtab, "\t", "\t"},
        {"Delete types nothing", {Qt::Key_Delete, {}, "\x7f"}, Key::delete_, "", ""},
        {"F35", {Qt::Key_F35}, Key::f35, "", ""},
        {"keypad 5", {Qt::Key_5, pad, "5"}, Key::keypad5, "5", "5", true},
        {"keypad Enter", {Qt::Key_Enter, pad, "\r"}, Key::keypadEnter, "\r", "\r", true},
        {"keypad 8 without Num Lock", {Qt::Key_Up, pad}, Key::up, "", "", true},
        {"keypad 5 without Num Lock", {Qt::Key_Clear, pad}, Key::keypadBegin, "", "", true},
        {"keypad decimal typing a comma", {Qt::Key_Comma, pad, ",", 91, 0xffae}, Key::keypadDecimal, ",", ",", true},
        {"keypad separator typing a period", {Qt::Key_Period, pad, ".", 0, 0xffac}, Key::keypadSeparator, ".", ".", true},
        {"unknown key", {0, {}, ""}, Key::none, "", ""},
    };
    for (const KeyCase& c : cases) {
        SCOPED_TRACE(c.name);
        const KeyInput input = adapt(c.event);
        EXPECT_EQ(input.key, c.key);
        EXPECT_EQ(input.text, c.text);
        EXPECT_EQ(input.textIgnoringModifiers, c.textIgnoringModifiers);
        EXPECT_EQ(input.keypad, c.keypad);
    }
}

struct ModifierKeyCase {
    const char* name;
    KeyEventFields event;
    Key key;
    KeyInput::Modifiers modifiers;
};

TEST(QtKeyAdapter, ModifierKeysTakeTheirSideAndTheStateAfterTheEvent)
{
    const std::vector<ModifierKeyCase> cases = {
        {"left Shift by position", {Qt::Key_Shift, {}, "", 50}, Key::leftShift, {.shift = true}},
        {"right Shift released", {Qt::Key_Shift, Qt::ShiftModifier, "", 62, 0, 1, QEvent::KeyRelease},
         Key::rightShift, {}},
        {"right Alt by position", {Qt::Key_Alt, {}, "", 108}, Key::rightAlt, {.alt = true}},
        {"right Super by position", {Qt::Key_Super_R, {}, "", 134}, Key::rightSuper, {.super = true}},
        {"right Control by keysym", {Qt::Key_Control, {}, "", 0, 0xffe4}, Key::rightControl, {.control = true}},
        {"Caps Lock key as Control", {Qt::Key_Control, {}, "", 66, 0xffe3}, Key::leftControl, {.control = true}},
        {"Super_R without native fields", {Qt::Key_Super_R}, Key::rightSuper, {.super = true}},
        {"Shift released with Control held", {Qt::Key_Shift, Qt::ShiftModifier | Qt::ControlModifier, "", 50, 0, 0,
                                              QEvent::KeyRelease},
         Key::leftShift, {.control = true}},
        {"Caps Lock turned on", {Qt::Key_CapsLock, {}, "", 66, 0xffe5, 0}, Key::capsLock, {.capsLock = true}},
        {"Caps Lock turned off", {Qt::Key_CapsLock, {}, "", 66, 0xffe5, 2}, Key::capsLock, {}},
    };
    for (const ModifierKeyCase& c : cases) {
        SCOPED_TRACE(c.name);
        const KeyInput input = adapt(c.event);
        EXPECT_EQ(input.key, c.key);
        EXPECT_TRUE(input.isModifierKey());
        EXPECT_EQ(input.modifiers.shift, c.modifiers.shift);
        EXPECT_EQ(input.modifiers.control, c.modifiers.control);
        EXPECT_EQ(input.modifiers.alt, c.modifiers.alt);
        EXPECT_EQ(input.modifiers.super, c.modifiers.super);
        EXPECT_EQ(input.modifiers.capsLock, c.modifiers.capsLock);
        EXPECT_TRUE(input.text.empty());
    }
}

TEST(QtKeyAdapter, ModifiersLockRepeatAndPosition)
{
    const KeyInput chord = adapt({Qt::Key_X, Qt::ShiftModifier | Qt::AltModifier | Qt::MetaModifier, "X"});
    EXPECT_TRUE(chord.modifiers.shift);
    EXPECT_TRUE(chord.modifiers.alt);
    EXPECT_TRUE(chord.modifiers.super);
    EXPECT_FALSE(chord.modifiers.control);
    EXPECT_FALSE(chord.modifiers.capsLock);

    // Caps Lock is bit 1 of the native state; the keysym already carries the capital.
    const KeyInput locked = adapt({Qt::Key_A, {}, "A", 38, 0x41, 0x2});
    EXPECT_TRUE(locked.modifiers.capsLock);
    EXPECT_EQ(locked.textIgnoringModifiers, "A");
    // X key codes are the kernel's codes plus 8: the A key is KEY_A (30).
    EXPECT_EQ(locked.physicalKey, 30);
    EXPECT_EQ(adapt({Qt::Key_A, {}, "a"}).physicalKey, 0);

    EXPECT_EQ(adapt({Qt::Key_A, {}, "a"}).type, KeyInput::Type::press);
    EXPECT_EQ(adapt({Qt::Key_A, {}, "a", 0, 0, 0, QEvent::KeyPress, true}).type, KeyInput::Type::repeat);
    EXPECT_EQ(adapt({Qt::Key_A, {}, "a", 0, 0, 0, QEvent::KeyRelease}).type, KeyInput::Type::release);
}

TEST(QtKeyAdapter, KeysymCharacters)
{
    EXPECT_EQ(QtKeyAdapter::keysymCharacter(0x61), U'a');
    EXPECT_EQ(QtKeyAdapter::keysymCharacter(0xfc), U'\u00fc');
    EXPECT_EQ(QtKeyAdapter::keysymCharacter(0x010020ac), U'\u20ac');
    EXPECT_EQ(QtKeyAdapter::keysymCharacter(0x0101f600), U'\U0001f600');
    // Function keysyms, control codes, legacy non-Latin-1 keysyms, surrogates and values
    // past Unicode stand for no character here.
    for (quint32 keysym : {0u, 0x1fu, 0x7fu, 0x9fu, 0xff0du, 0xffe1u, 0x6c1u, 0x0100d800u, 0x01110000u}) {
        SCOPED_TRACE(keysym);
        EXPECT_FALSE(QtKeyAdapter::keysymCharacter(keysym).has_value());
    }
}

} // namespace
} // namespace corvantix
