// The keyboard handler: which path a key takes (encoded at once, a command, text through the
// input method), paging, releases, modifier keys, the Meta toggle and committed text.
#include "view/KeyboardInputHandler.h"

#include "KeyTestSupport.h"

#include "emulator/Terminal.h"
#include "view/KeyInput.h"
#include "engine/platform/LogCapture.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace corvantix {
namespace {

using Key = KeyInput::Key;

using keytest::printable;

// Records what the handler asks of the view, in order. Text from the input method goes back
// into the handler, as the view's insert routine does.
class RecordingSink : public KeyboardInputSink {
public:
    KeyboardInputHandler* handler = nullptr;
    std::vector<std::string> log;
    int selectionClears = 0;
    bool rightToLeftRow = false;

    void sendUserInput(std::span<const std::uint8_t> bytes) override
    {
        log.push_back("send " + printable(std::string(bytes.begin(), bytes.end())));
    }
    void scrollPageUp() override { log.push_back("scrollPageUp"); }
    void scrollPageDown() override { log.push_back("scrollPageDown"); }
    void insertText(std::string_view text) override { handler->insertText(text); }
    void clearSelection() override { ++selectionClears; }
    void commandKeyDown() override { log.push_back("commandKeyDown"); }
    void commandReleased() override { log.push_back("commandReleased"); }
    bool cursorRowIsRightToLeft() override { return rightToLeftRow; }
};

using keytest::textForKey;

KeyInput named(Key key, KeyInput::Modifiers modifiers = {}, KeyInput::Type type = KeyInput::Type::press)
{
    KeyInput input;
    input.key = key;
    input.text = input.textIgnoringModifiers = textForKey(key);
    input.modifiers = modifiers;
    input.type = type;
    return input;
}

KeyInput typed(std::string text, std::string ignoringModifiers, KeyInput::Modifiers modifiers = {},
               KeyInput::Type type = KeyInput::Type::press, int physicalKey = 0)
{
    KeyInput input;
    input.text = std::move(text);
    input.textIgnoringModifiers = std::move(ignoringModifiers);
    input.modifiers = modifiers;
    input.type = type;
    input.physicalKey = physicalKey;
    return input;
}

KeyInput released(KeyInput input)
{
    input.type = KeyInput::Type::release;
    return input;
}

KeyInput repeated(KeyInput input)
{
    input.type = KeyInput::Type::repeat;
    return input;
}

constexpr KeyInput::Modifiers none{};
constexpr KeyInput::Modifiers shift{.shift = true};
constexpr KeyInput::Modifiers control{.control = true};
constexpr KeyInput::Modifiers alt{.alt = true};
constexpr KeyInput::Modifiers superAlt{.alt = true, .super = true};
constexpr KeyInput::Modifiers capsLock{.capsLock = true};

constexpr const char* alternateScreen = "\x1b[?1049h";
constexpr const char* applicationCursor = "\x1b[?1h";

std::string pushFlags(int flags)
{
    return "\x1b[>" + std::to_string(flags) + "u";
}

// One terminal, handler and sink per case.
struct Harness {
    Terminal terminal{nullptr};
    RecordingSink sink;
    KeyboardInputHandler handler{terminal, sink};

    explicit Harness(std::string_view modes = "", int flags = 0)
    {
        sink.handler = &handler;
        terminal.feed(modes);
        if (flags != 0)
            terminal.feed(pushFlags(flags));
    }

    // Runs the events, swallowing the log line of unhandled commands.
    std::vector<std::string> press(std::initializer_list<KeyInput> inputs)
    {
        LogCapture quiet;
        for (const KeyInput& input : inputs)
            handler.handleKeyEvent(input);
        return sink.log;
    }
};

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
        {"Page Down, normal screen", "", named(Key::pageDown), {"scrollPageDown"}},
        {"Page Up, alternate screen", alternateScreen, named(Key::pageUp), {"send ESC[5~"}},
        {"Page Down, alternate screen", alternateScreen, named(Key::pageDown), {"send ESC[6~"}},
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
        {"Alt+a as Meta", "", 1, typed("a", "a", alt), {"send ESC[97;3u"}},
        {"Control+Return", "", 1, named(Key::enter, control), {"send ESC[13;5u"}},
        {"Return", "", 1, named(Key::enter), {"send <13>"}},
        {"Shift+Return", "", 1, named(Key::enter, shift), {"send ESC[13;2u"}},
        {"Escape", "", 1, named(Key::escape), {"send ESC[27u"}},
        {"Backspace", "", 1, named(Key::backspace), {"send <127>"}},
        {"Shift+Tab", "", 1, named(Key::backtab, shift), {"send ESC[9;2u"}},
        {"Up", applicationCursor, 1, named(Key::up), {"send ESC[A"}},
        {"F1", "", 1, named(Key::f1), {"send ESC[P"}},
        {"keypad 5", "", 1, [] {
             KeyInput input = typed("5", "5");
             input.key = Key::keypad5;
             input.keypad = true;
             return input;
         }(), {"send ESC[57404u"}},
        {"Up as an escape code", "", 8, named(Key::up), {"send ESC[A"}},
        {"a with its text", "", 24, typed("a", "a", none, KeyInput::Type::press, 30), {"send ESC[97;;97u"}},
        {"Shift+a with alternates", "", 28, typed("A", "A", shift, KeyInput::Type::press, 30), {"send ESC[97:65;2;65u"}},
        {"a key of another layout reports the US key", "", 12, typed("\xd1\x84", "\xd1\x84", none, KeyInput::Type::press, 30),
         {"send ESC[1092::97u"}},
        {"Alt-composed character without Meta", "", 1, typed("\xc3\xb8", "o", alt), {"send \xc3\xb8"}, false},
        {"repeated Up without event types", "", 1, repeated(named(Key::up)), {"send ESC[A"}},
        {"repeated Up with event types", "", 3, repeated(named(Key::up)), {"send ESC[1;1:2A"}},
        {"repeated a with event types", "", 11, repeated(typed("a", "a")), {"send ESC[97;1:2u"}},
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
        {"Alt+a as Meta", 3, released(typed("a", "a", alt)), {"send ESC[97;3:3u"}},
        {"Return", 3, released(named(Key::enter)), {}},
        {"Tab", 3, released(named(Key::tab)), {}},
        {"Backspace", 3, released(named(Key::backspace)), {}},
        {"Control+Return", 3, released(named(Key::enter, control)), {}},
        {"plain a, all keys as escape codes", 11, released(typed("a", "a")), {"send ESC[97;1:3u"}},
        {"Return, all keys as escape codes", 11, released(named(Key::enter)), {"send ESC[13;1:3u"}},
        {"no flags", 0, released(named(Key::up)), {}},
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
        {"Super starts and ends link hover", 0,
         {named(Key::leftSuper, {.super = true}), named(Key::leftSuper, none, KeyInput::Type::release)},
         {"commandKeyDown", "commandReleased"}},
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
        {"disambiguate", 1, nihon, {"send " + nihon}},
        // All keys as escape codes without associated text: the text itself, not a bare CSI 0 u.
        {"all keys as escape codes", 8, nihon, {"send " + nihon}},
        {"all keys as escape codes, event types", 10, nihon, {"send " + nihon}},
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
        {"Page Up", "", "scrollPageUp:", {"scrollPageUp"}, true},
        {"Page Up, application cursor mode", applicationCursor, "pageUp:", {"send ESC[5~"}, true},
        {"Shift+Page Down", "", "pageDownAndModifySelection:", {"send ESC[6~"}, true},
        {"Shift+Page Down, application cursor mode", applicationCursor, "pageDownAndModifySelection:", {}, true},
        {"Super+Left", "", "moveToLeftEndOfLine:", {"send ESCb"}, true},
        {"Super+Right", "", "moveToRightEndOfLine:", {"send ESCf"}},
        // Without a composition the arrow is encoded as a key: no exchange.
        {"Left encoded as a key", "", "moveLeft:", {"send ESC[D"}, false, true, true},
        {"Back tab", "", "insertBacktab:", {"send ESC[Z"}},
    };
    for (const Case& c : cases) {
        Harness h(c.modes);
        h.handler.kittyIsComposing = c.composing;
        h.sink.rightToLeftRow = c.rightToLeftRow;
        h.terminal.feed(c.swap ? "\x1b[?1243h" : "\x1b[?1243l");
        h.handler.doCommandBySelector(c.selector);
        EXPECT_EQ(h.sink.log, c.expected) << c.name;
    }
}

TEST(KeyboardInputTest, UnknownCommandsAreLogged)
{
    Harness h;
    LogCapture log;
    h.handler.doCommandBySelector("transpose:");
    EXPECT_EQ(log.take(), "Unhandle selector transpose:\n");
    EXPECT_TRUE(h.sink.log.empty());
}

} // namespace
} // namespace corvantix
