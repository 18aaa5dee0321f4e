// The keyboard handler: which path a key takes (encoded at once, a command, text through the
// input method), paging, releases, modifier keys, the Meta toggle and committed text.
#include "view/KeyboardInputHandler.h"

#include "KeyTestSupport.h"


#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace corvantix {
namespace {

using Key = KeyInput::Key;

using namespace keytest;

using Log = std::vector<std::string>;

TEST(KeyboardInputTest, PagingKeysScrollTheNormalScreenAndGoToProgramsOnTheAlternateOne)
{
    struct Case {
        const char* name;
        std::string modes;
        KeyInput input;
        Log expected;
        bool optionAsMetaKey = true;
    };
    const Case cases[] = {
        {"Page Up, normal screen", "", named(Key::pageUp), {"scrollPageUp"}},
        {"Page Up, alternate screen", alternateScreen, named(Key::pageUp), {"send ESC[5~"}},
        {"Page Up, application cursor mode", applicationCursor, named(Key::pageUp), {"send ESC[5~"}},
        {"Page Up, application cursor mode on the alternate screen", std::string(applicationCursor) + alternateScreen,
         named(Key::pageUp), {"send ESC[5~"}},
        {"Shift+Page Up", "", named(Key::pageUp, shift), {"send ESC[5;2~"}},
        {"Alt+Page Up without Meta", "", named(Key::pageUp, alt), {"scrollPageUp"}, false},
        {"Alt+Page Up without Meta, alternate screen", alternateScreen, named(Key::pageUp, alt), {"send ESC[5~"}, false},
        {"Page Up with the Kitty protocol", pushFlags(1), named(Key::pageUp), {"send ESC[5~"}},
    };
    for (const Case& c : cases) {
        Harness h(c.modes);
        h.handler.optionAsMetaKey = c.optionAsMetaKey;
        EXPECT_EQ(h.press({c.input}), c.expected) << c.name;
    }
}

TEST(KeyboardInputTest, EveryKeyPressClearsTheSelection)
{
    Harness h;
    h.press({typed("a", "a"), named(Key::up, {.super = true}), named(Key::pageUp), released(typed("a", "a")),
             named(Key::leftShift, shift)});
    // Three presses, including one that sends nothing; a release and a modifier key do not count.
    EXPECT_EQ(h.sink.selectionClears, 3);
    EXPECT_EQ(h.sink.log, (Log{"send a", "scrollPageUp", "commandReleased"}));
}

TEST(KeyboardInputTest, KittyKeysTakeTheirPathThroughTheHandler)
{
    struct Case {
        const char* name;
        std::string modes; // besides the flags
        int flags;
        KeyInput input;
        Log expected;
        bool optionAsMetaKey = true;
    };
    const Case cases[] = {
        {"plain a through the input method", "", 1, typed("a", "a"), {"send a"}},
        {"plain a as an escape code", "", 8, typed("a", "a"), {"send ESC[97u"}},
        {"Control+a", "", 1, typed("\x01", "a", control), {"send ESC[97;5u"}},
        {"a key of another layout reports the US key", "", 12, typed("\xd1\x84", "\xd1\x84", none, KeyInput::Type::press, 30),
         {"send ESC[1092::97u"}},
        {"Alt-composed character without Meta", "", 1, typed("\xc3\xb8", "o", alt), {"send \xc3\xb8"}, false},
        {"repeated Up without event types", "", 1, repeated(named(Key::up)), {"send ESC[A"}},
        {"flags of the alternate screen", alternateScreen, 8, typed("a", "a"), {"send ESC[97u"}},
        {"flags of the normal screen do not apply on the alternate one", pushFlags(8) + alternateScreen, 0,
         typed("a", "a"), {"send a"}},
    };
    for (const Case& c : cases) {
        Harness h(c.modes, c.flags);
        h.handler.optionAsMetaKey = c.optionAsMetaKey;
        EXPECT_EQ(h.press({c.input}), c.expected) << c.name;
    }
}

TEST(KeyboardInputTest, ReleasesAreReportedOnlyWithEventTypes)
{
    struct Case {
        const char* name;
        int flags;
        KeyInput input;
        Log expected;
    };
    const Case cases[] = {
        {"Up without event types", 1, released(named(Key::up)), {}},
        {"Up", 3, released(named(Key::up)), {"send ESC[1;1:3A"}},
        {"plain a", 3, released(typed("a", "a")), {}},
        {"Control+a", 3, released(typed("\x01", "a", control)), {"send ESC[97;5:3u"}},
        {"Return", 3, released(named(Key::enter)), {}},
        {"plain a, all keys as escape codes", 11, released(typed("a", "a")), {"send ESC[97;1:3u"}},
    };
    for (const Case& c : cases) {
        Harness h("", c.flags);
        EXPECT_EQ(h.press({c.input}), c.expected) << c.name;
        EXPECT_EQ(h.sink.selectionClears, 0) << c.name;
    }
}

TEST(KeyboardInputTest, ModifierKeysAreReportedWithAllKeysAsEscapeCodes)
{
    const KeyInput shiftDown = named(Key::leftShift, shift);
    const KeyInput shiftUp = named(Key::leftShift, none, KeyInput::Type::release);
    struct Case {
        const char* name;
        int flags;
        std::vector<KeyInput> inputs;
        Log expected;
        bool composing = false;
        bool optionAsMetaKey = true;
    };
    const Case cases[] = {
        {"Left Shift, press only", 8, {shiftDown, shiftUp}, {"commandReleased", "send ESC[57441;2u", "commandReleased"}},
        {"Left Shift, press and release", 10, {shiftDown, shiftUp},
         {"commandReleased", "send ESC[57441;2u", "commandReleased", "send ESC[57441;1:3u"}},
        {"not without all keys as escape codes", 3, {shiftDown, shiftUp}, {"commandReleased", "commandReleased"}},
        {"not during a composition", 10, {shiftDown}, {"commandReleased"}, true},
        {"Alt reported without Meta", 8, {named(Key::rightAlt, alt)}, {"commandReleased", "send ESC[57449;3u"}, false,
         false},
        {"Caps Lock changes on its press", 10,
         {named(Key::capsLock, capsLock), named(Key::capsLock, capsLock, KeyInput::Type::release)},
         {"commandReleased", "send ESC[57358;65u"}},
        {"Control starts and ends link hover", 0,
         {named(Key::leftControl, {.control = true}), named(Key::leftControl, none, KeyInput::Type::release)},
         {"commandKeyDown", "commandReleased"}},
        {"Super does not", 0,
         {named(Key::leftSuper, {.super = true}), named(Key::leftSuper, none, KeyInput::Type::release)},
         {"commandReleased", "commandReleased"}},
    };
    for (const Case& c : cases) {
        Harness h("", c.flags);
        h.handler.kittyIsComposing = c.composing;
        h.handler.optionAsMetaKey = c.optionAsMetaKey;
        for (const KeyInput& input : c.inputs)
            h.handler.handleKeyEvent(input);
        EXPECT_EQ(h.sink.log, c.expected) << c.name;
    }
}

TEST(KeyboardInputTest, SuperAltOTogglesMeta)
{
    const KeyInput toggle = typed("o", "o", superAlt);
    {
        // Protocol off: the key still goes on to the input method, which binds nothing to it.
        Harness h;
        EXPECT_EQ(h.press({toggle}), Log{});
        EXPECT_FALSE(h.handler.optionAsMetaKey);
        h.press({toggle});
        EXPECT_TRUE(h.handler.optionAsMetaKey);
    }
    {
        // Protocol on: the toggle consumes the key.
        Harness h("", 1);
        EXPECT_EQ(h.press({toggle}), Log{});
        EXPECT_FALSE(h.handler.optionAsMetaKey);
        EXPECT_FALSE(h.handler.pendingKittyKeyEvent.has_value());
    }
    {
        // Super with another key is not the toggle.
        Harness h("", 1);
        h.press({typed("p", "p", superAlt)});
        EXPECT_TRUE(h.handler.optionAsMetaKey);
    }
}

TEST(KeyboardInputTest, CommittedTextReachesTheProgram)
{
    const std::string nihon = "\xe6\x97\xa5\xe6\x9c\xac";
    struct Case {
        const char* name;
        int flags;
        std::string text;
        Log expected;
        std::optional<KeyInput> pendingKey = std::nullopt;
    };
    const Case cases[] = {
        {"no flags", 0, nihon, {"send " + nihon}},
        // All keys as escape codes without associated text: the text itself, not a bare CSI 0 u.
        {"all keys as escape codes", 8, nihon, {"send " + nihon}},
        {"all keys as escape codes, empty text", 8, "", {"send ESC[0u"}},
        {"associated text", 24, nihon, {"send ESC[0;;26085:26412u"}},
        {"two characters for a pending key", 8, "ab", {"send ab"}, typed("a", "a")},
        {"one character for a pending key", 8, "a", {"send ESC[97u"}, typed("a", "a")},
        {"a character with a combining mark for a pending key", 8, "e\xcc\x81", {"send ESC[101u"}, typed("e", "e")},
    };
    for (const Case& c : cases) {
        Harness h("", c.flags);
        if (c.pendingKey)
            h.handler.pendingKittyKeyEvent = PendingKittyKeyEvent{*c.pendingKey, KittyKeyboardEventType::press};
        h.handler.kittyIsComposing = true;
        h.handler.insertText(c.text);
        EXPECT_EQ(h.sink.log, c.expected) << c.name;
        EXPECT_FALSE(h.handler.pendingKittyKeyEvent.has_value()) << c.name;
        if (c.flags != 0) {
            EXPECT_FALSE(h.handler.kittyIsComposing) << c.name;
        }
    }
}

TEST(KeyboardInputTest, CommandsFromTheInputMethod)
{
    struct Case {
        const char* name;
        std::string modes;
        std::string_view selector;
        Log expected;
        bool composing = false;
        bool rightToLeftRow = false;
        bool swap = false;
    };
    const Case cases[] = {
        // With an open composition (protocol off) the classic table answers directly.
        {"Left", "", "moveLeft:", {"send ESC[D"}, true},
        {"Left on a right-to-left row", "", "moveLeft:", {"send ESC[C"}, true, true, true},
        {"Right on a right-to-left row", applicationCursor, "moveRight:", {"send ESCOD"}, true, true, true},
        {"Left on a right-to-left row without the swap", "", "moveLeft:", {"send ESC[D"}, true, true, false},
        {"Home", applicationCursor, "scrollToBeginningOfDocument:", {"send ESCOH"}, true},
        {"Page Up, application cursor mode", applicationCursor, "pageUp:", {"send ESC[5~"}, true},
        {"Shift+Page Down", "", "pageDownAndModifySelection:", {"send ESC[6~"}, true},
        {"Shift+Page Down, application cursor mode", applicationCursor, "pageDownAndModifySelection:", {}, true},
        {"Super+Left", "", "moveToLeftEndOfLine:", {"send ESCb"}, true},
        // Without a composition the arrow is encoded as a key: no exchange.
        {"Left encoded as a key", "", "moveLeft:", {"send ESC[D"}, false, true, true},
        {"Back tab", "", "insertBacktab:", {"send ESC[Z"}},
    };
    for (const Case& c : cases) {
        Harness h(c.modes);
        h.handler.kittyIsComposing = c.composing;
        h.sink.rightToLeftRow = c.rightToLeftRow;
        h.terminal.feed(c.swap ? "\x1b[?1243h" : "\x1b[?1243l"); // arrow keys swapped on right-to-left rows
        h.handler.doCommandBySelector(c.selector);
        EXPECT_EQ(h.sink.log, c.expected) << c.name;
    }
}

} // namespace
} // namespace corvantix
