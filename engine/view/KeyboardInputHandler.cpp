#include "view/KeyboardInputHandler.h"

#include "emulator/Terminal.h"
#include "platform/Log.h"
#include "view/KeyBindings.h"
#include "view/LegacyKeyEncoder.h"

#include <unicode/ubrk.h>
#include <unicode/uchar.h>
#include <unicode/ustring.h>

#include <array>
#include <memory>
#include <utility>
#include <vector>

namespace corvantix {

namespace {

using Key = KeyInput::Key;
using FKey = KittyFunctionalKey;
using Flags = KittyKeyboardFlags;
using Mods = KittyKeyboardModifiers;
using EventType = KittyKeyboardEventType;

FKey offsetKey(FKey first, Key base, Key key)
{
    return static_cast<FKey>(static_cast<int>(first) + (static_cast<int>(key) - static_cast<int>(base)));
}

// Text that can go out as typed: not empty, no C0 or C1 control and no DEL.
bool isPlainPrintableText(std::string_view text)
{
    const std::u32string scalars = decodeUtf8Scalars(text);
    if (scalars.empty())
        return false;
    for (char32_t scalar : scalars) {
        if (scalar < 0x20 || (scalar >= 0x7f && scalar <= 0x9f))
            return false;
    }
    return true;
}

// Exactly one user-perceived character (grapheme cluster).
bool isSingleCharacter(std::string_view text)
{
    const std::u32string scalars = decodeUtf8Scalars(text);
    if (scalars.size() <= 1)
        return scalars.size() == 1;
    UErrorCode status = U_ZERO_ERROR;
    std::int32_t length = 0;
    u_strFromUTF8(nullptr, 0, &length, text.data(), static_cast<std::int32_t>(text.size()), &status);
    if (status != U_BUFFER_OVERFLOW_ERROR && U_FAILURE(status))
        return false;
    std::vector<UChar> utf16(static_cast<std::size_t>(length) + 1);
    status = U_ZERO_ERROR;
    u_strFromUTF8(utf16.data(), length + 1, &length, text.data(), static_cast<std::int32_t>(text.size()), &status);
    if (U_FAILURE(status))
        return false;
    std::unique_ptr<UBreakIterator, decltype(&ubrk_close)> iterator(
        ubrk_open(UBRK_CHARACTER, nullptr, utf16.data(), length, &status), &ubrk_close);
    if (U_FAILURE(status) || !iterator)
        return false;
    ubrk_first(iterator.get());
    return ubrk_next(iterator.get()) == length;
}

bool hasOwnModifierFlag(Key key, const KeyInput::Modifiers& modifiers)
{
    switch (key) {
    case Key::capsLock: return modifiers.capsLock;
    case Key::leftShift: case Key::rightShift: return modifiers.shift;
    case Key::leftControl: case Key::rightControl: return modifiers.control;
    case Key::leftAlt: case Key::rightAlt: return modifiers.alt;
    case Key::leftSuper: case Key::rightSuper: return modifiers.super;
    default: return false;
    }
}

} // namespace

KeyboardInputHandler::KeyboardInputHandler(Terminal& terminal, KeyboardInputSink& sink)
    : terminal(terminal)
    , sink(sink)
{
}

// ---------------------------------------------------------------- Tables of keys

std::optional<KittyFunctionalKey> KeyboardInputHandler::keyFromKeyCode(const KeyInput& input)
{
    const Key key = input.key;
    // Keys of the numeric pad by position, whatever they type.
    if (key >= Key::keypad0 && key <= Key::keypad9)
        return offsetKey(FKey::keypad0, Key::keypad0, key);
    switch (key) {
    case Key::keypadDecimal: return FKey::keypadDecimal;
    case Key::keypadDivide: return FKey::keypadDivide;
    case Key::keypadMultiply: return FKey::keypadMultiply;
    case Key::keypadSubtract: return FKey::keypadSubtract;
    case Key::keypadAdd: return FKey::keypadAdd;
    case Key::keypadEnter: return FKey::keypadEnter;
    case Key::keypadEqual: return FKey::keypadEqual;
    case Key::keypadSeparator: return FKey::keypadSeparator;
    case Key::keypadBegin: return FKey::keypadBegin;
    default: break;
    }
    // The pad's navigation keys (Num Lock off).
    if (input.keypad) {
        switch (key) {
        case Key::up: return FKey::keypadUp;
        case Key::down: return FKey::keypadDown;
        case Key::left: return FKey::keypadLeft;
        case Key::right: return FKey::keypadRight;
        case Key::insert: return FKey::keypadInsert;
        case Key::delete_: return FKey::keypadDelete;
        case Key::home: return FKey::keypadHome;
        case Key::end: return FKey::keypadEnd;
        case Key::pageUp: return FKey::keypadPageUp;
        case Key::pageDown: return FKey::keypadPageDown;
        default: break;
        }
    }
    // Function keys, then the dedicated navigation and editing keys.
    if (key >= Key::f1 && key <= Key::f35)
        return offsetKey(FKey::f1, Key::f1, key);
    switch (key) {
    case Key::up: return FKey::up;
    case Key::down: return FKey::down;
    case Key::left: return FKey::left;
    case Key::right: return FKey::right;
    case Key::insert: return FKey::insert;
    case Key::delete_: return FKey::delete_;
    case Key::home: return FKey::home;
    case Key::end: return FKey::end;
    case Key::pageUp: return FKey::pageUp;
    case Key::pageDown: return FKey::pageDown;
    case Key::printScreen: return FKey::printScreen;
    case Key::scrollLock: return FKey::scrollLock;
    case Key::pause: return FKey::pause;
    case Key::menu: return FKey::menu;
    default: return std::nullopt;
    }
}

std::optional<KittyFunctionalKey> KeyboardInputHandler::kittyModifierKey(KeyInput::Key key)
{
    switch (key) {
    case Key::rightSuper: return FKey::rightSuper;
    case Key::leftSuper: return FKey::leftSuper;
    case Key::leftShift: return FKey::leftShift;
    case Key::capsLock: return FKey::capsLock;
    case Key::leftAlt: return FKey::leftAlt;
    case Key::leftControl: return FKey::leftControl;
    case Key::rightShift: return FKey::rightShift;
    case Key::rightAlt: return FKey::rightAlt;
    case Key::rightControl: return FKey::rightControl;
    default: return std::nullopt;
    }
}

std::optional<std::string> KeyboardInputHandler::kittyTextForFunctionalKey(const KeyInput& input, KittyFunctionalKey key)
{
    const bool typesText = (key >= FKey::keypad0 && key <= FKey::keypadAdd) || key == FKey::keypadEqual ||
                           key == FKey::keypadSeparator;
    if (!typesText)
        return std::nullopt;
    const std::string& text = input.text.empty() ? input.textIgnoringModifiers : input.text;
    if (text.empty())
        return std::nullopt;
    return text;
}

// ---------------------------------------------------------------- Context and events

KittyKeyboardFlags KeyboardInputHandler::activeKeyboardFlags() const
{
    const KeyboardModeState& mode =
        terminal.isCurrentBufferAlternate() ? terminal.keyboardModeAlt() : terminal.keyboardModeNormal();
    return {static_cast<std::uint32_t>(mode.flags) & 0x1fu};
}

KittyKeyboardContext KeyboardInputHandler::keyboardContext() const
{
    return {terminal.applicationCursor(), terminal.applicationKeypad(), backspaceSendsControlH};
}

KittyKeyboardModifiers KeyboardInputHandler::kittyModifiers(const KeyInput::Modifiers& modifiers) const
{
    std::uint8_t bits = 0;
    if (modifiers.shift)
        bits |= Mods::shift;
    if (modifiers.alt && optionAsMetaKey)
        bits |= Mods::alt;
    if (modifiers.control)
        bits |= Mods::ctrl;
    if (modifiers.super)
        bits |= Mods::super;
    if (modifiers.capsLock)
        bits |= Mods::capsLock;
    return {bits};
}

std::optional<KittyKeyEvent> KeyboardInputHandler::makeKittyKeyEvent(const KeyInput& input, KittyKeyboardEventType eventType,
                                                                     std::optional<std::string> text) const
{
    // A key that types nothing without modifiers makes no event.
    const std::optional<char32_t> c = firstUtf8Scalar(input.textIgnoringModifiers);
    if (!c)
        return std::nullopt;
    KittyKeyEvent event;
    // The key is its lower-case character.
    const auto lower = static_cast<char32_t>(u_tolower(static_cast<UChar32>(*c)));
    event.key = KittyKey::unicode(lower);
    // Shift adds the shifted character.
    if (input.modifiers.shift)
        event.shiftedKey = firstUtf8Scalar(input.text);
    // The US layout's key at the same position, when it differs.
    const std::optional<char32_t> base = kittyBaseLayoutKey(input.physicalKey);
    if (base && *base != lower)
        event.baseLayoutKey = base;
    // Modifiers, event type, text and the composition state.
    event.modifiers = kittyModifiers(input.modifiers);
    event.eventType = eventType;
    event.text = std::move(text);
    event.composing = kittyIsComposing;
    return event;
}

// ---------------------------------------------------------------- Sending

void KeyboardInputHandler::send(std::string_view bytes)
{
    sink.sendUserInput(std::span(reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size()));
}

void KeyboardInputHandler::send(std::span<const std::uint8_t> bytes)
{
    sink.sendUserInput(bytes);
}

bool KeyboardInputHandler::sendEncoded(const KittyKeyEvent& event, KittyKeyboardFlags flags)
{
    const std::optional<KeyBytes> bytes = encodeKittyKeyEvent(event, flags, keyboardContext());
    if (!bytes)
        return false;
    send(*bytes);
    return true;
}

void KeyboardInputHandler::pageUp()
{
    if (terminal.isCurrentBufferAlternate())
        send(EscapeSequences::pageUp);
    else
        sink.scrollPageUp();
}

void KeyboardInputHandler::pageDown()
{
    if (terminal.isCurrentBufferAlternate())
        send(EscapeSequences::pageDown);
    else
        sink.scrollPageDown();
}

void KeyboardInputHandler::sendHorizontalArrowKey(bool left)
{
    const bool swap = terminal.bidiArrowKeySwap() && sink.cursorRowIsRightToLeft();
    const bool sendLeft = left != swap;
    const bool app = terminal.applicationCursor();
    if (sendLeft)
        send(app ? EscapeSequences::leftApplication : EscapeSequences::leftNormal);
    else
        send(app ? EscapeSequences::rightApplication : EscapeSequences::rightNormal);
}

// ---------------------------------------------------------------- Key events

void KeyboardInputHandler::handleKeyEvent(const KeyInput& input)
{
    if (input.isModifierKey()) {
        // A lock changes on its press; its release changes nothing.
        if (input.key == Key::capsLock && input.type == KeyInput::Type::release)
            return;
        flagsChanged(input);
        return;
    }
    if (input.type == KeyInput::Type::release)
        keyUp(input);
    else
        keyDown(input);
}

void KeyboardInputHandler::keyDown(const KeyInput& input)
{
    // Typing ends any selection.
    sink.clearSelection();
    // The keyboard protocol, when the program turned it on, takes the key.
    const KittyKeyboardFlags flags = activeKeyboardFlags();
    if (flags.isEmpty())
        keyDownLegacy(input);
    else
        keyDownKitty(input, flags);
}

void KeyboardInputHandler::keyDownLegacy(const KeyInput& input)
{
    const KeyInput::Modifiers& mods = input.modifiers;
    // Super goes to the input method, except Super+Alt+"o" (the Meta toggle).
    if (mods.super) {
        if (mods.alt && input.textIgnoringModifiers == "o")
            keyDownLegacyForms(input);
        else
            interpretKeyEvent(input);
        return;
    }
    // Functional keys.
    if (mods.alt && !optionAsMetaKey) {
        keyDownLegacyForms(input);
        return;
    }
    const std::optional<FKey> key = keyFromKeyCode(input);
    if (!key) {
        keyDownLegacyForms(input);
        return;
    }
    const std::uint8_t m = kittyModifiers(mods).rawValue & (Mods::shift | Mods::alt | Mods::ctrl);
    if ((*key == FKey::pageUp || *key == FKey::pageDown) && m == 0 && !terminal.applicationCursor()) {
        if (*key == FKey::pageUp)
            pageUp();
        else
            pageDown();
        return;
    }
    KittyKeyEvent event;
    event.key = KittyKey::functional(*key);
    event.modifiers = kittyModifiers(mods);
    event.eventType = input.isARepeat() ? EventType::repeatPress : EventType::press;
    event.text = kittyTextForFunctionalKey(input, *key);
    event.composing = kittyIsComposing;
    if (sendEncoded(event, Flags{}))
        return;
    keyDownLegacyForms(input);
}

void KeyboardInputHandler::keyDownLegacyForms(const KeyInput& input)
{
    const KeyInput::Modifiers& mods = input.modifiers;
    const std::string& characters = input.textIgnoringModifiers;
    // The Meta toggle; the key still goes on to the input method.
    if (mods.super && mods.alt) {
        if (characters == "o")
            toggleOptionAsMetaKey();
        interpretKeyEvent(input);
        return;
    }
    // Alt as Meta: ESC, then the key's characters, as two sends.
    if (mods.alt && optionAsMetaKey) {
        if (characters.empty())
            return;
        send(EscapeSequences::escape);
        send(characters);
        return;
    }
    // Control.
    if (mods.control) {
        if (input.key == Key::right) {
            send(EscapeSequences::controlRight);
            return;
        }
        if (input.key == Key::left) {
            send(EscapeSequences::controlLeft);
            return;
        }
        if (characters.empty()) {
            interpretKeyEvent(input);
            return;
        }
        send(controlCharacterBytes(characters));
        return;
    }
    // Function keys that have a fixed sequence.
    if (input.hasFunctionKeyFlag()) {
        if (input.key >= Key::f1 && input.key <= Key::f12) {
            send(EscapeSequences::functionKeys[static_cast<std::size_t>(input.key) - static_cast<std::size_t>(Key::f1)]);
            return;
        }
        switch (input.key) {
        case Key::delete_: send(EscapeSequences::deleteKey); return;
        case Key::pageUp: pageUp(); return;
        case Key::pageDown: pageDown(); return;
        default: break;
        }
    }
    // Everything else goes to the input method.
    interpretKeyEvent(input);
}

void KeyboardInputHandler::keyDownKitty(const KeyInput& input, KittyKeyboardFlags flags)
{
    const KeyInput::Modifiers& mods = input.modifiers;
    // A new key replaces any key still waiting for the input method.
    pendingKittyKeyEvent.reset();
    // The Meta toggle consumes the key.
    if (mods.super && mods.alt && input.textIgnoringModifiers == "o") {
        toggleOptionAsMetaKey();
        return;
    }
    // A repeat is reported as one only when the program asked for event types.
    const bool repeat = input.isARepeat() && flags.contains(Flags::reportEventTypes);
    const EventType eventType = repeat ? EventType::repeatPress : EventType::press;
    // Functional keys are encoded at once.
    if (const std::optional<FKey> key = keyFromKeyCode(input)) {
        KittyKeyEvent event;
        event.key = KittyKey::functional(*key);
        event.modifiers = kittyModifiers(mods);
        event.eventType = eventType;
        event.text = kittyTextForFunctionalKey(input, *key);
        event.composing = kittyIsComposing;
        if (sendEncoded(event, flags))
            return;
    }
    const EventType pendingType =
        input.isARepeat() && flags.contains(Flags::reportEventTypes | Flags::reportAllKeysAsEscapeCodes)
            ? EventType::repeatPress
            : EventType::press;
    // Keys that type text go through the input method, which answers with the text.
    if (!mods.control && !(mods.alt && optionAsMetaKey)) {
        pendingKittyKeyEvent = PendingKittyKeyEvent{input, pendingType};
        interpretKeyEvent(input);
        return;
    }
    // Control and Meta chords are encoded from the key itself.
    if (const std::optional<KittyKeyEvent> event = makeKittyKeyEvent(input, eventType, std::nullopt)) {
        if (sendEncoded(*event, flags))
            return;
    }
    pendingKittyKeyEvent = PendingKittyKeyEvent{input, pendingType};
    interpretKeyEvent(input);
}

void KeyboardInputHandler::interpretKeyEvent(const KeyInput& input)
{
    if (const std::optional<std::string_view> selector = KeyBindings::selectorForKey(input)) {
        doCommandBySelector(*selector);
        return;
    }
    if (!input.text.empty())
        sink.insertText(input.text);
}

void KeyboardInputHandler::keyUp(const KeyInput& input)
{
    // Releases are reported only by the Kitty protocol with event types.
    const KittyKeyboardFlags flags = activeKeyboardFlags();
    if (!flags.contains(Flags::reportEventTypes))
        return;
    // Without "all keys as escape codes" some text-key releases are left out.
    const bool notAll = !flags.contains(Flags::reportAllKeysAsEscapeCodes);
    const KeyInput::Modifiers& mods = input.modifiers;
    const std::optional<FKey> key = keyFromKeyCode(input);
    // Whether the release of a text key is left out.
    bool textKeyRule = notAll;
    if (!mods.control) {
        if (optionAsMetaKey && notAll && mods.alt)
            textKeyRule = true;
        else if (notAll && !key)
            return;
    }
    // The release as a functional key, or as a text key.
    KittyKeyEvent event;
    if (key) {
        event.key = KittyKey::functional(*key);
        event.modifiers = kittyModifiers(mods);
        event.eventType = EventType::release;
        event.composing = kittyIsComposing;
    } else {
        std::optional<KittyKeyEvent> made = makeKittyKeyEvent(input, EventType::release, std::nullopt);
        if (!made)
            return;
        const char32_t scalar = made->key.scalar;
        if (textKeyRule && (scalar == 9 || scalar == 13 || scalar == 127))
            return;
        event = std::move(*made);
    }
    // Encoded like a press.
    sendEncoded(event, flags);
}

void KeyboardInputHandler::flagsChanged(const KeyInput& input)
{
    const KeyInput::Modifiers& mods = input.modifiers;
    // The view learns whether Ctrl, its link modifier, is held. Super clicks belong to the
    // window manager on common desktops; Ctrl with a key still goes to the program.
    if (mods.control)
        sink.commandKeyDown();
    else
        sink.commandReleased();
    // Modifier keys report themselves only with "all keys as escape codes".
    const KittyKeyboardFlags flags = activeKeyboardFlags();
    if (!flags.contains(Flags::reportAllKeysAsEscapeCodes) || kittyIsComposing)
        return;
    const std::optional<FKey> key = kittyModifierKey(input.key);
    if (!key)
        return;
    const bool released = !hasOwnModifierFlag(input.key, mods);
    if (released && !flags.contains(Flags::reportEventTypes))
        return;
    std::uint8_t bits = 0;
    if (mods.shift)
        bits |= Mods::shift;
    if (mods.alt) // reported whatever optionAsMetaKey says
        bits |= Mods::alt;
    if (mods.control)
        bits |= Mods::ctrl;
    if (mods.super)
        bits |= Mods::super;
    if (mods.capsLock)
        bits |= Mods::capsLock;
    KittyKeyEvent event;
    event.key = KittyKey::functional(*key);
    event.modifiers = {bits};
    event.eventType = released ? EventType::release : EventType::press;
    sendEncoded(event, flags);
}

// ---------------------------------------------------------------- Commands and text

std::optional<KeyboardInputHandler::Command> KeyboardInputHandler::commandForSelector(std::string_view selector)
{
    struct SelectorCommand {
        std::string_view selector;
        Command command;
    };
    static constexpr SelectorCommand table[] = {
        {"insertNewline:", Command::insertNewline},
        {"cancelOperation:", Command::cancelOperation},
        {"deleteBackward:", Command::deleteBackward},
        {"moveUp:", Command::moveUp},
        {"moveDown:", Command::moveDown},
        {"moveLeft:", Command::moveLeft},
        {"moveRight:", Command::moveRight},
        {"insertTab:", Command::insertTab},
        {"insertBacktab:", Command::insertBacktab},
        {"moveToBeginningOfLine:", Command::moveToBeginningOfLine},
        {"scrollToBeginningOfDocument:", Command::moveToBeginningOfLine},
        {"moveToEndOfLine:", Command::moveToEndOfLine},
        {"scrollToEndOfDocument:", Command::moveToEndOfLine},
        {"scrollPageUp:", Command::pageUp},
        {"pageUp:", Command::pageUp},
        {"scrollPageDown:", Command::pageDown},
        {"pageDown:", Command::pageDown},
        {"pageDownAndModifySelection:", Command::pageDownAndModifySelection},
        {"moveToLeftEndOfLine:", Command::moveToLeftEndOfLine},
        {"moveToRightEndOfLine:", Command::moveToRightEndOfLine},
    };
    for (const SelectorCommand& entry : table) {
        if (entry.selector == selector)
            return entry.command;
    }
    return std::nullopt;
}

void KeyboardInputHandler::doCommandBySelector(std::string_view selector)
{
    const std::optional<Command> command = commandForSelector(selector);
    if (!command) {
        printLine("Unhandle selector " + std::string(selector));
        return;
    }
    // With the protocol off, an open composition takes the classic table directly.
    const bool skipKitty = activeKeyboardFlags().isEmpty() && kittyIsComposing;
    if (!skipKitty && doKittyCommand(*command))
        return;
    doLegacyCommand(*command);
}

bool KeyboardInputHandler::doKittyCommand(Command command)
{
    // The modifiers of the key that is with the input method (it stays pending).
    KittyKeyboardModifiers m;
    if (pendingKittyKeyEvent)
        m = kittyModifiers(pendingKittyKeyEvent->event.modifiers);
    // The key the command stands for.
    FKey key = FKey::enter;
    switch (command) {
    case Command::insertNewline: key = FKey::enter; break;
    case Command::cancelOperation: key = FKey::escape; break;
    case Command::deleteBackward: key = FKey::backspace; break;
    case Command::moveUp: key = FKey::up; break;
    case Command::moveDown: key = FKey::down; break;
    case Command::moveLeft: key = FKey::left; break;
    case Command::moveRight: key = FKey::right; break;
    case Command::insertTab: key = FKey::tab; break;
    case Command::insertBacktab:
        key = FKey::tab;
        m.rawValue |= Mods::shift;
        break;
    case Command::moveToBeginningOfLine: key = FKey::home; break;
    case Command::moveToEndOfLine: key = FKey::end; break;
    case Command::pageUp:
        if (!terminal.applicationCursor()) {
            pageUp();
            return true;
        }
        key = FKey::pageUp;
        break;
    case Command::pageDown:
        if (!terminal.applicationCursor()) {
            pageDown();
            return true;
        }
        key = FKey::pageDown;
        break;
    case Command::pageDownAndModifySelection:
    case Command::moveToLeftEndOfLine:
    case Command::moveToRightEndOfLine:
        return false;
    }
    KittyKeyEvent event;
    event.key = KittyKey::functional(key);
    event.modifiers = m;
    event.composing = kittyIsComposing;
    return sendEncoded(event, activeKeyboardFlags());
}

void KeyboardInputHandler::doLegacyCommand(Command command)
{
    const bool app = terminal.applicationCursor();
    switch (command) {
    case Command::insertNewline:
        send(EscapeSequences::carriageReturn);
        break;
    case Command::cancelOperation:
        send(EscapeSequences::escape);
        break;
    case Command::deleteBackward: {
        static constexpr std::array<std::uint8_t, 1> controlH{0x08};
        if (backspaceSendsControlH)
            send(controlH);
        else
            send(EscapeSequences::delete_);
        break;
    }
    case Command::moveUp:
        send(app ? EscapeSequences::upApplication : EscapeSequences::upNormal);
        break;
    case Command::moveDown:
        send(app ? EscapeSequences::downApplication : EscapeSequences::downNormal);
        break;
    case Command::moveLeft:
        sendHorizontalArrowKey(true);
        break;
    case Command::moveRight:
        sendHorizontalArrowKey(false);
        break;
    case Command::insertTab:
        send(EscapeSequences::tab);
        break;
    case Command::insertBacktab:
        send(EscapeSequences::backTab);
        break;
    case Command::moveToBeginningOfLine:
        send(app ? EscapeSequences::homeApplication : EscapeSequences::homeNormal);
        break;
    case Command::moveToEndOfLine:
        send(app ? EscapeSequences::endApplication : EscapeSequences::endNormal);
        break;
    case Command::pageUp:
        if (app)
            send(EscapeSequences::pageUp);
        else
            pageUp();
        break;
    case Command::pageDown:
        if (app)
            send(EscapeSequences::pageDown);
        else
            pageDown();
        break;
    case Command::pageDownAndModifySelection:
        if (!app)
            send(EscapeSequences::pageDown);
        break;
    case Command::moveToLeftEndOfLine:
        send(EscapeSequences::wordBackward);
        break;
    case Command::moveToRightEndOfLine:
        send(EscapeSequences::wordForward);
        break;
    }
}

void KeyboardInputHandler::insertText(std::string_view text)
{
    const KittyKeyboardFlags flags = activeKeyboardFlags();
    if (flags.isEmpty()) {
        send(text);
        return;
    }
    const std::optional<PendingKittyKeyEvent> pending = std::exchange(pendingKittyKeyEvent, std::nullopt);
    kittyIsComposing = false;
    // A character composed with Alt (not acting as Meta) goes out as text.
    if (pending && !optionAsMetaKey) {
        const KeyInput::Modifiers& mods = pending->event.modifiers;
        if (mods.alt && !mods.control && !mods.super && isPlainPrintableText(text)) {
            send(text);
            return;
        }
    }
    std::optional<KittyKeyEvent> event;
    if (pending && isSingleCharacter(text))
        event = makeKittyKeyEvent(pending->event, pending->eventType, std::string(text));
    if (!event) {
        event.emplace();
        event->key = KittyKey::none();
        event->text = std::string(text);
        event->composing = kittyIsComposing;
    }
    sendEncoded(*event, flags);
}

} // namespace corvantix
