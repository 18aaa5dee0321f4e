// The key encoder: one table of key events under each set of flags, and the protocol codes
// of the functional keys.
#include "view/KittyKeyboardEncoder.h"

#include "KeyTestSupport.h"

#include <gtest/gtest.h>

#include <optional>
#include <string>

namespace corvantix {
namespace {

using FKey = KittyFunctionalKey;
using Mods = KittyKeyboardModifiers;
using EventType = KittyKeyboardEventType;

KittyKeyEvent unicodeKey(char32_t key, std::uint8_t mods = 0, std::optional<std::string> text = std::nullopt)
{
    KittyKeyEvent event;
    event.key = KittyKey::unicode(key);
    event.modifiers = {mods};
    event.text = std::move(text);
    return event;
}

KittyKeyEvent functionalKey(FKey key, std::uint8_t mods = 0, std::optional<std::string> text = std::nullopt)
{
    KittyKeyEvent event;
    event.key = KittyKey::functional(key);
    event.modifiers = {mods};
    event.text = std::move(text);
    return event;
}

KittyKeyEvent textOnly(std::string text)
{
    KittyKeyEvent event;
    event.key = KittyKey::none();
    event.text = std::move(text);
    return event;
}

KittyKeyEvent withType(KittyKeyEvent event, EventType type)
{
    event.eventType = type;
    return event;
}

KittyKeyEvent composing(KittyKeyEvent event)
{
    event.composing = true;
    return event;
}

KittyKeyEvent withAlternates(KittyKeyEvent event, std::optional<char32_t> shifted, std::optional<char32_t> base)
{
    event.shiftedKey = shifted;
    event.baseLayoutKey = base;
    return event;
}

std::string printable(const std::optional<std::string>& bytes)
{
    if (!bytes)
        return "(none)";
    return keytest::printable(*bytes);
}

struct Case {
    const char* name;
    std::uint32_t flags;
    KittyKeyEvent event;
    std::optional<std::string> expected; // none: the encoder produces nothing
    KittyKeyboardContext context = {};
};

constexpr KittyKeyboardContext applicationCursor{true, false, false};
constexpr KittyKeyboardContext applicationKeypad{false, true, false};
constexpr KittyKeyboardContext backspaceControlH{false, false, true};

TEST(KittyEncoderTest, EncodesEachKeyUnderTheFlags)
{
    const Case cases[] = {
        // Disambiguate (1).
        {"1 Escape", 1, functionalKey(FKey::escape), "\x1b[27u"},
        {"1 Control+a", 1, unicodeKey('a', Mods::ctrl), "\x1b[97;5u"},
        {"1 plain a with its text", 1, unicodeKey('a', 0, "a"), "a"},
        {"1 Up in application cursor mode", 1, functionalKey(FKey::up), "\x1b[A", applicationCursor},
        {"1 Shift+Up", 1, functionalKey(FKey::up, Mods::shift), "\x1b[1;2A"},
        {"1 Caps Lock counts as a modifier", 1, functionalKey(FKey::up, Mods::capsLock), "\x1b[1;65A"},
        {"1 Alt+a", 1, unicodeKey('a', Mods::alt), "\x1b[97;3u"},
        {"1 Shift+Return", 1, functionalKey(FKey::enter, Mods::shift), "\x1b[13;2u"},
        {"1 F1", 1, functionalKey(FKey::f1), "\x1b[P"},
        {"1 F13", 1, functionalKey(FKey::f13), "\x1b[57376u"},
        {"1 keypad 5", 1, functionalKey(FKey::keypad5, 0, "5"), "\x1b[57404u"},
        {"1 Alt+a with text stays disambiguated", 1, unicodeKey('a', Mods::alt, "a"), "\x1b[97;3u"},
        {"1 release without event types", 1, withType(functionalKey(FKey::up), EventType::release), std::nullopt},
        {"1 modifier key", 1, functionalKey(FKey::leftShift, Mods::shift), std::nullopt},
        {"1 composition open", 1, composing(unicodeKey('a', Mods::ctrl)), std::nullopt},
        {"1 key-less empty text", 1, textOnly(""), "\x1b[0u"},
        {"1 key-less text", 1, textOnly("ab"), "ab"},

        // Event types (2) without disambiguate: the classic forms stay where they exist.
        {"2 Control+a", 2, unicodeKey('a', Mods::ctrl), "\x01"},
        {"2 Alt+a", 2, unicodeKey('a', Mods::alt), "\x1b" "a"},
        {"2 Control+Shift+a falls back to CSI u", 2, unicodeKey('a', Mods::ctrl | Mods::shift), "\x1b[97;6u"},
        {"2 Super+a falls back to CSI u", 2, unicodeKey('a', Mods::super), "\x1b[97;9u"},
        {"2 Up in application cursor mode", 2, functionalKey(FKey::up), "\x1bOA", applicationCursor},

        // Disambiguate and event types (3).
        {"3 release Up", 3, withType(functionalKey(FKey::up), EventType::release), "\x1b[1;1:3A"},
        {"3 repeated Up", 3, withType(functionalKey(FKey::up), EventType::repeatPress), "\x1b[1;1:2A"},
        {"3 release Return", 3, withType(functionalKey(FKey::enter), EventType::release), std::nullopt},
        {"3 release Delete", 3, withType(functionalKey(FKey::delete_, Mods::shift), EventType::release), "\x1b[3;2:3~"},
        {"3 release Control+a", 3, withType(unicodeKey('a', Mods::ctrl), EventType::release), "\x1b[97;5:3u"},

        // All keys as escape codes (8).
        {"8 plain a", 8, unicodeKey('a', 0, "a"), "\x1b[97u"},
        {"8 Up in application cursor mode", 8, functionalKey(FKey::up), "\x1b[A", applicationCursor},
        {"8 Left Shift press", 8, functionalKey(FKey::leftShift, Mods::shift), "\x1b[57441;2u"},
        {"8 Return", 8, functionalKey(FKey::enter), "\x1b[13u"},
        {"8 modifier key while composing", 8, composing(functionalKey(FKey::leftAlt, Mods::alt)), "\x1b[57443;3u"},
        {"8 other keys while composing", 8, composing(unicodeKey('a', 0, "a")), std::nullopt},
        {"8 release without event types", 8, withType(unicodeKey('a'), EventType::release), std::nullopt},
        {"10 release of a", 10, withType(unicodeKey('a'), EventType::release), "\x1b[97;1:3u"},
        {"8 key-less empty text", 8, textOnly(""), "\x1b[0u"},
        // Text committed without a key reaches the program as text.
        {"8 key-less text", 8, textOnly("\xe6\x97\xa5\xe6\x9c\xac"), "\xe6\x97\xa5\xe6\x9c\xac"},

        // With associated text (24).
        {"24 plain a", 24, unicodeKey('a', 0, "a"), "\x1b[97;;97u"},
        {"24 Control+a sends no text field", 24, unicodeKey('a', Mods::ctrl, "\x01"), "\x1b[97;5u"},
        {"24 Shift+a keeps its text", 24, unicodeKey('a', Mods::shift, "A"), "\x1b[97;2;65u"},
        {"24 control characters are left out of the text", 24, unicodeKey('a', 0, "a\x01"), "\x1b[97;;97u"},
        {"24 key-less text", 24, textOnly("\xe6\x97\xa5\xe6\x9c\xac"), "\x1b[0;;26085:26412u"},
        {"24 release carries no text", 26, withType(unicodeKey('a', 0, "a"), EventType::release), "\x1b[97;1:3u"},

        // Alternate keys (4) with everything as escape codes and text (28).
        {"28 Shift+a", 28, withAlternates(unicodeKey('a', Mods::shift, "A"), U'A', std::nullopt), "\x1b[97:65;2;65u"},
        {"28 base layout without a shifted key", 28, withAlternates(unicodeKey(0x444, 0, "\xd1\x84"), std::nullopt, U'a'),
         "\x1b[1092::97;;1092u"},
        {"28 shifted and base", 28, withAlternates(unicodeKey(0x444, Mods::shift, "\xd0\xa4"), 0x424, U'a'),
         "\x1b[1092:1060:97;2;1060u"},
        {"12 shifted key only with Shift", 12, withAlternates(unicodeKey('a'), U'A', std::nullopt), "\x1b[97u"},

        // No flags: the classic forms.
        {"0 Control+Alt+F5", 0, functionalKey(FKey::f5, Mods::ctrl | Mods::alt), "\x1b[15;7~"},
        {"0 Shift+F1", 0, functionalKey(FKey::f1, Mods::shift), "\x1b[1;2P"},
        {"0 Up in application cursor mode", 0, functionalKey(FKey::up), "\x1bOA", applicationCursor},
        {"0 Up with Caps Lock", 0, functionalKey(FKey::up, Mods::capsLock), "\x1b[A"},
        {"0 keypad 5 in application keypad mode", 0, functionalKey(FKey::keypad5, 0, "5"), "\x1bOu", applicationKeypad},
        {"0 keypad Enter in application keypad mode", 0, functionalKey(FKey::keypadEnter), "\x1bOM", applicationKeypad},
        {"0 Super+Up", 0, functionalKey(FKey::up, Mods::super), std::nullopt},
        {"0 Backspace with Control-H", 0, functionalKey(FKey::backspace), "\x08", backspaceControlH},
        {"0 Control+Backspace", 0, functionalKey(FKey::backspace, Mods::ctrl), "\x08"},
        {"0 Alt+Escape", 0, functionalKey(FKey::escape, Mods::alt), "\x1b\x1b"},
        {"0 Control+Shift+a", 0, unicodeKey('a', Mods::ctrl | Mods::shift), "\x1b[97;6u"},
    };
    for (const Case& c : cases) {
        const std::optional<KeyBytes> bytes = encodeKittyKeyEvent(c.event, {c.flags}, c.context);
        const std::optional<std::string> actual =
            bytes ? std::optional<std::string>(std::string(bytes->begin(), bytes->end())) : std::nullopt;
        EXPECT_EQ(printable(actual), printable(c.expected)) << c.name;
    }
}

} // namespace
} // namespace corvantix
