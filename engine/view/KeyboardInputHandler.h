// The keyboard side of the terminal view without the widget: it decides, for every key
// press, release and modifier change, whether the key is encoded at once (Kitty protocol
// or classic forms), turned into a command, or handed to the input method as text, and
// sends the resulting bytes through the view.
//
// The view adapts its toolkit's key events to KeyInput and calls `handleKeyEvent`; the
// view's own services (sending user input, scrolling, the insert routine of the input
// method, the selection, link hover) are reached through KeyboardInputSink.
//
// Everything runs on the view's thread.
#pragma once

#include "view/KeyInput.h"
#include "view/KittyKeyboardEncoder.h"

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>

namespace corvantix {

class Terminal;

class KeyboardInputSink {
public:
    virtual ~KeyboardInputSink() = default;

    // The single exit for bytes the user produced (the view's sendUserInput). Empty slices
    // arrive too: they still count as user input.
    virtual void sendUserInput(std::span<const std::uint8_t> bytes) = 0;
    // Scroll the view by one screen of rows on the normal screen.
    virtual void scrollPageUp() = 0;
    virtual void scrollPageDown() = 0;
    // The input method produced text for a key: the view runs its insert routine, which
    // drops any marked text and then calls KeyboardInputHandler::insertText.
    virtual void insertText(std::string_view text) = 0;
    // Every key press ends the selection.
    virtual void clearSelection() {}
    // The link modifier (Ctrl, the key the link modes call Command) is held, or no longer
    // held: link hover starts or ends.
    virtual void commandKeyDown() {}
    virtual void commandReleased() {}
    // The cursor's row reads right to left; Left and Right commands are then exchanged
    // when the terminal asks for it (bidiArrowKeySwap).
    virtual bool cursorRowIsRightToLeft() { return false; }
};

// A key press handed to the input method while the Kitty protocol is on; the text that
// comes back is encoded with this key.
struct PendingKittyKeyEvent {
    KeyInput event;
    KittyKeyboardEventType eventType = KittyKeyboardEventType::press;
};

class KeyboardInputHandler {
public:
    // Both are borrowed and must outlive the handler.
    KeyboardInputHandler(Terminal& terminal, KeyboardInputSink& sink);

    // Settings and state of the view's keyboard.
    bool optionAsMetaKey = true;          // Alt acts as Meta (ESC prefix; Kitty alt bit)
    bool backspaceSendsControlH = false;  // Backspace sends 0x08 instead of 0x7F
    bool kittyIsComposing = false;        // an input-method composition is open
    std::optional<PendingKittyKeyEvent> pendingKittyKeyEvent;

    // Dispatches by kind: modifier keys to flagsChanged, releases to keyUp, the rest to
    // keyDown.
    void handleKeyEvent(const KeyInput& input);

    void keyDown(const KeyInput& input);
    void keyUp(const KeyInput& input);
    void flagsChanged(const KeyInput& input);
    // A command from the input method, by selector name ("insertNewline:").
    void doCommandBySelector(std::string_view selector);
    // Text the input method inserted (not a paste): encoded with the pending key while the
    // Kitty protocol is on, else sent as UTF-8.
    void insertText(std::string_view text);

    // On the alternate screen the paging keys go to the program; on the normal screen the
    // view scrolls.
    void pageUp();
    void pageDown();
    // Left or Right of the command table, exchanged on a right-to-left row when asked.
    void sendHorizontalArrowKey(bool left);

    // The Kitty flags of the active screen.
    KittyKeyboardFlags activeKeyboardFlags() const;
    KittyKeyboardContext keyboardContext() const;
    // The modifier table: shift 1, alt 2 (only with optionAsMetaKey), ctrl 4, super 8,
    // capsLock 64.
    KittyKeyboardModifiers kittyModifiers(const KeyInput::Modifiers& modifiers) const;
    // A key event for a key that carries characters; none without them.
    std::optional<KittyKeyEvent> makeKittyKeyEvent(const KeyInput& input, KittyKeyboardEventType eventType,
                                                   std::optional<std::string> text) const;

    // The functional key of a key, or none for a key that goes through the input method
    // (text keys, and Escape, Return, Tab and Backspace, which arrive as commands).
    static std::optional<KittyFunctionalKey> keyFromKeyCode(const KeyInput& input);
    static std::optional<KittyFunctionalKey> kittyModifierKey(KeyInput::Key key);
    // The associated text of a numeric-pad key that types something.
    static std::optional<std::string> kittyTextForFunctionalKey(const KeyInput& input, KittyFunctionalKey key);

private:
    void send(std::string_view bytes);
    void send(std::span<const std::uint8_t> bytes);
    bool sendEncoded(const KittyKeyEvent& event, KittyKeyboardFlags flags);
    void toggleOptionAsMetaKey() { optionAsMetaKey = !optionAsMetaKey; }
    void keyDownLegacy(const KeyInput& input);
    void keyDownKitty(const KeyInput& input, KittyKeyboardFlags flags);
    // Steps taken once the functional-key paths did not send anything (flags 0).
    void keyDownLegacyForms(const KeyInput& input);
    // Hands the key to the input method: a bound command, else the key's text.
    void interpretKeyEvent(const KeyInput& input);
    // The commands a selector name stands for; several names may share one.
    enum class Command : std::uint8_t {
        insertNewline,
        cancelOperation,
        deleteBackward,
        moveUp,
        moveDown,
        moveLeft,
        moveRight,
        insertTab,
        insertBacktab,
        moveToBeginningOfLine,
        moveToEndOfLine,
        pageUp,
        pageDown,
        pageDownAndModifySelection,
        moveToLeftEndOfLine,
        moveToRightEndOfLine,
    };
    static std::optional<Command> commandForSelector(std::string_view selector);
    bool doKittyCommand(Command command);
    void doLegacyCommand(Command command);

    Terminal& terminal;
    KeyboardInputSink& sink;
};

} // namespace corvantix
