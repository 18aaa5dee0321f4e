// Shared helpers of the key tests: bytes made readable for failure messages, key events built
// from a named key or typed text, and one handler on a fresh terminal whose requests are
// recorded in order.
#pragma once

#include "emulator/Terminal.h"
#include "engine/platform/LogCapture.h"
#include "view/KeyInput.h"
#include "view/KeyboardInputHandler.h"

#include <initializer_list>
#include <string>
#include <string_view>
#include <vector>

namespace corvantix::keytest {

// ESC and other control bytes spelled out, so a wrong sequence reads plainly in a failure.
inline std::string printable(std::string_view bytes)
{
    std::string out;
    for (unsigned char c : bytes) {
        if (c == 0x1b)
            out += "ESC";
        else if (c < 0x20 || c == 0x7f)
            out += "<" + std::to_string(c) + ">";
        else
            out += static_cast<char>(c);
    }
    return out;
}

// The text a named key produces on its own.
inline std::string textForKey(KeyInput::Key key)
{
    using Key = KeyInput::Key;
    switch (key) {
    case Key::enter: return "\r";
    case Key::tab: case Key::backtab: return "\t";
    case Key::escape: return "\x1b";
    case Key::backspace: return "\x7f";
    default: return "";
    }
}

// Records what the handler asks of the view, in order. Text from the input method goes back
// into the handler, as the view's insert routine does.
class RecordingSink : public KeyboardInputSink {
public:
    KeyboardInputHandler* handler = nullptr;
    std::vector<std::string> sends; // as sent, one entry per send
    std::vector<std::string> log;   // every request, sends spelled out
    int selectionClears = 0;
    bool rightToLeftRow = false;

    void sendUserInput(std::span<const std::uint8_t> bytes) override
    {
        sends.emplace_back(bytes.begin(), bytes.end());
        log.push_back("send " + printable(sends.back()));
    }
    void scrollPageUp() override { log.push_back("scrollPageUp"); }
    void scrollPageDown() override { log.push_back("scrollPageDown"); }
    void insertText(std::string_view text) override { handler->insertText(text); }
    void clearSelection() override { ++selectionClears; }
    void commandKeyDown() override { log.push_back("commandKeyDown"); }
    void commandReleased() override { log.push_back("commandReleased"); }
    bool cursorRowIsRightToLeft() override { return rightToLeftRow; }
};

inline KeyInput named(KeyInput::Key key, KeyInput::Modifiers modifiers = {}, KeyInput::Type type = KeyInput::Type::press)
{
    KeyInput input;
    input.key = key;
    input.text = input.textIgnoringModifiers = textForKey(key);
    input.modifiers = modifiers;
    input.type = type;
    return input;
}

inline KeyInput typed(std::string text, std::string ignoringModifiers, KeyInput::Modifiers modifiers = {},
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

inline KeyInput released(KeyInput input)
{
    input.type = KeyInput::Type::release;
    return input;
}

inline KeyInput repeated(KeyInput input)
{
    input.type = KeyInput::Type::repeat;
    return input;
}

inline KeyInput keypad(KeyInput::Key key, std::string text)
{
    KeyInput input = typed(text, text);
    input.key = key;
    input.keypad = true;
    return input;
}

constexpr KeyInput::Modifiers none{};
constexpr KeyInput::Modifiers shift{.shift = true};
constexpr KeyInput::Modifiers control{.control = true};
constexpr KeyInput::Modifiers alt{.alt = true};
constexpr KeyInput::Modifiers super{.super = true};
constexpr KeyInput::Modifiers superAlt{.alt = true, .super = true};
constexpr KeyInput::Modifiers controlAlt{.control = true, .alt = true};
constexpr KeyInput::Modifiers capsLock{.capsLock = true};

constexpr const char* alternateScreen = "\x1b[?1049h";
constexpr const char* applicationCursor = "\x1b[?1h";
constexpr const char* applicationKeypad = "\x1b=";

inline std::string pushFlags(int flags) { return "\x1b[>" + std::to_string(flags) + "u"; }

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

} // namespace corvantix::keytest
