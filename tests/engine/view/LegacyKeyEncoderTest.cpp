// The classic key forms: a table of keys pressed with no Kitty flags, from the key event to
// the bytes sent (through the keyboard handler, with the terminal's modes), and the
// function-key modifier folding.
#include "view/LegacyKeyEncoder.h"

#include "KeyTestSupport.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace corvantix {
namespace {

using Key = KeyInput::Key;
using Mods = KittyKeyboardModifiers;
using namespace keytest;

struct Options {
    bool optionAsMetaKey = true;
    bool backspaceSendsControlH = false;
};

struct Case {
    const char* name;
    const char* modes; // fed to the terminal first
    KeyInput input;
    std::vector<std::string> sends;
    Options options = {};
};

std::string spelled(const std::vector<std::string>& sends)
{
    std::string out;
    for (const std::string& send : sends)
        out += "[" + printable(send) + "]";
    return out;
}

TEST(LegacyKeysTest, KeyPressesSendTheClassicForms)
{
    const Options metaOff{false, false};
    const Case cases[] = {
        {"Control+c", "", typed("\x03", "c", control), {"\x03"}},
        {"Control+space", "", typed(std::string(1, '\0'), " ", control), {std::string(1, '\0')}},
        {"Control+e-acute sends an empty slice", "", typed("\xc3\xa9", "\xc3\xa9", control), {""}},
        {"Control+Backspace sends an empty slice", "", named(Key::backspace, control), {""}},
        {"Control+Left", "", named(Key::left, control), {"\x1b[1;5D"}},
        {"Alt+a as Meta", "", typed("a", "a", alt), {"\x1b", "a"}},
        {"Alt+Left as Meta", "", named(Key::left, alt), {"\x1b[1;3D"}},
        {"Alt+Backspace as Meta", "", named(Key::backspace, alt), {"\x1b", "\x7f"}},
        {"Alt+F5 without Meta", "", named(Key::f5, alt), {"\x1b[15~"}, metaOff},
        {"Alt+Left without Meta goes to the input method", "", named(Key::left, alt), {}, metaOff},
        {"Alt+Control+Left without Meta", "", named(Key::left, controlAlt), {"\x1b[1;5D"}, metaOff},
        {"Alt+a without Meta types its text", "", typed("a", "a", alt), {"a"}, metaOff},
        {"Return", "", named(Key::enter), {"\r"}},
        {"Shift+Tab", "", named(Key::backtab, shift), {"\x1b[Z"}},
        {"Escape", "", named(Key::escape), {"\x1b"}},
        {"Backspace", "", named(Key::backspace), {"\x7f"}},
        {"Backspace as Control-H", "", named(Key::backspace), {"\x08"}, {true, true}},
        {"Up", "", named(Key::up), {"\x1b[A"}},
        {"Up in application cursor mode", applicationCursor, named(Key::up), {"\x1bOA"}},
        {"Shift+Up", "", named(Key::up, shift), {"\x1b[1;2A"}},
        {"Shift+Up in application cursor mode", applicationCursor, named(Key::up, shift), {"\x1b[1;2A"}},
        {"End in application cursor mode", applicationCursor, named(Key::end), {"\x1bOF"}},
        {"Shift+Page Up", "", named(Key::pageUp, shift), {"\x1b[5;2~"}},
        {"F1", "", named(Key::f1), {"\x1bOP"}},
        {"F5", "", named(Key::f5), {"\x1b[15~"}},
        {"Control+Alt+F5", "", named(Key::f5, controlAlt), {"\x1b[15;7~"}},
        {"keypad 5 in application keypad mode", applicationKeypad, keypad(Key::keypad5, "5"), {"\x1bOu"}},
        {"keypad Enter in application keypad mode", applicationKeypad, keypad(Key::keypadEnter, "\r"), {"\x1bOM"}},
        {"Shift+keypad 5 in application keypad mode", applicationKeypad, [] {
             KeyInput input = keypad(Key::keypad5, "5");
             input.modifiers = shift;
             return input;
         }(), {"5"}},
        {"keypad 5", "", keypad(Key::keypad5, "5"), {"5"}},
        {"keypad Up (Num Lock off)", "", keypad(Key::up, ""), {"\x1b[A"}},
        {"keypad Up in application keypad mode", applicationKeypad, keypad(Key::up, ""), {"\x1bOx"}},
        {"Super+Left", "", named(Key::left, super), {"\x1b" "b"}},
        {"Super+Up sends nothing", "", named(Key::up, super), {}},
        {"Super+a sends nothing", "", typed("a", "a", super), {}},
    };
    for (const Case& c : cases) {
        Harness h(c.modes);
        h.handler.optionAsMetaKey = c.options.optionAsMetaKey;
        h.handler.backspaceSendsControlH = c.options.backspaceSendsControlH;
        h.press({c.input});
        EXPECT_EQ(spelled(h.sink.sends), spelled(c.sends)) << c.name;
        EXPECT_EQ(h.sink.sends.size(), h.sink.log.size()) << c.name << ": nothing but sends";
    }
}

TEST(LegacyKeysTest, FunctionKeysFoldTheirModifiersIntoTheKeyNumber)
{
    using FKey = KittyFunctionalKey;
    struct FoldCase {
        FKey key;
        std::uint8_t mods;
        const char* expected;
    };
    const FoldCase cases[] = {
        {FKey::f1, 0, "\x1bOP"},
        {FKey::f1, Mods::ctrl, "\x1b[1;5P"},
        {FKey::f1, Mods::alt | Mods::ctrl | Mods::shift, "\x1b[1;8P"},
        {FKey::f3, Mods::ctrl, "\x1b[1;5R"},
        {FKey::f12, Mods::alt | Mods::shift, "\x1b[24;4~"},
        {FKey::f12, Mods::capsLock, "\x1b[24~"},
        // F13 and up are F1 to F12 with modifiers, whatever is held.
        {FKey::f13, 0, "\x1b[1;2P"},
        {FKey::f13, Mods::ctrl, "\x1b[1;2P"},
        {FKey::f24, 0, "\x1b[24;2~"},
        {FKey::f25, 0, "\x1b[1;5P"},
        {FKey::f35, 0, "\x1b[23;5~"},
    };
    for (const FoldCase& c : cases) {
        KittyKeyEvent event;
        event.key = KittyKey::functional(c.key);
        event.modifiers = {c.mods};
        const std::optional<KeyBytes> bytes = encodeLegacyFunctionalKey(event, {});
        ASSERT_TRUE(bytes.has_value()) << c.expected;
        EXPECT_EQ(printable({std::string(bytes->begin(), bytes->end())}), printable({c.expected}))
            << static_cast<int>(c.key) << " mods " << static_cast<int>(c.mods);
    }
}

TEST(LegacyKeysTest, ControlCharacterBytesCoverTheControlTable)
{
    struct ControlCase {
        std::string keyText;
        std::string expected;
    };
    const ControlCase cases[] = {
        {"a", "\x01"}, {"Z", "\x1a"}, {"_", "\x1f"}, {" ", std::string(1, '\0')},
        {"1", ""},     {"ab", ""}, {"", ""},     {"\xc3\xa9", ""},
    };
    for (const ControlCase& c : cases) {
        const KeyBytes bytes = controlCharacterBytes(c.keyText);
        EXPECT_EQ(std::string(bytes.begin(), bytes.end()), c.expected) << "key text " << c.keyText;
    }
}

TEST(LegacyKeysTest, TextKeysWithControlUseTheKeyTable)
{
    struct TextCase {
        char32_t key;
        std::uint8_t mods;
        std::optional<std::string> text;
        std::optional<char32_t> shifted;
        std::optional<std::string> expected;
    };
    const TextCase cases[] = {
        {'2', Mods::ctrl, std::nullopt, std::nullopt, std::string(1, '\0')},
        {'8', Mods::ctrl, std::nullopt, std::nullopt, "\x7f"},
        {'?', Mods::ctrl, std::nullopt, std::nullopt, "\x7f"},
        {'~', Mods::ctrl, std::nullopt, std::nullopt, "\x1e"},
        {'A', Mods::ctrl, std::nullopt, std::nullopt, "\x01"}, // looked up lower-cased
        {'a', Mods::ctrl | Mods::alt, std::nullopt, std::nullopt, "\x1b\x01"},
        {'!', Mods::ctrl, std::nullopt, std::nullopt, "!"}, // no entry: the key itself
        {'a', Mods::shift, std::nullopt, U'A', "A"},
        {'a', 0, "x", std::nullopt, "x"},
        {'a', Mods::shift | Mods::ctrl, std::nullopt, std::nullopt, std::nullopt},
        {'a', Mods::super, std::nullopt, std::nullopt, std::nullopt},
        {'a', Mods::hyper, std::nullopt, std::nullopt, std::nullopt},
        {0xd800, 0, std::nullopt, std::nullopt, std::nullopt}, // not a scalar
    };
    for (const TextCase& c : cases) {
        KittyKeyEvent event;
        event.key = KittyKey::unicode(c.key);
        event.modifiers = {c.mods};
        event.text = c.text;
        event.shiftedKey = c.shifted;
        const std::optional<KeyBytes> bytes = encodeLegacyTextKey(event);
        const std::optional<std::string> actual =
            bytes ? std::optional<std::string>(std::string(bytes->begin(), bytes->end())) : std::nullopt;
        EXPECT_EQ(actual, c.expected) << "key " << static_cast<std::uint32_t>(c.key) << " mods " << int(c.mods);
    }
}

} // namespace
} // namespace corvantix
