#include "view/KeyBindings.h"

#include <array>
#include <cstdint>

namespace corvantix {

namespace {

using Key = KeyInput::Key;

enum ModifierBit : std::uint8_t { shift = 1, control = 2, alt = 4, super = 8 };

std::uint8_t modifierBits(const KeyInput::Modifiers& modifiers)
{
    return static_cast<std::uint8_t>((modifiers.shift ? shift : 0) | (modifiers.control ? control : 0) |
                                     (modifiers.alt ? alt : 0) | (modifiers.super ? super : 0));
}

// A binding applies when the held modifiers, restricted to `mask`, equal `value`.
struct Binding {
    Key key;
    std::uint8_t mask;
    std::uint8_t value;
    std::string_view selector;
};

constexpr std::uint8_t all = shift | control | alt | super;
constexpr std::uint8_t commandChords = control | super;

// First match wins.
constexpr std::array<Binding, 28> bindings = {{
    // Return, Escape and Backspace ignore Shift and Alt; Tab turns back with Shift.
    {Key::enter, commandChords, 0, "insertNewline:"},
    {Key::keypadEnter, commandChords, 0, "insertNewline:"},
    {Key::escape, commandChords, 0, "cancelOperation:"},
    {Key::backspace, commandChords, 0, "deleteBackward:"},
    {Key::tab, all, 0, "insertTab:"},
    {Key::tab, all, shift, "insertBacktab:"},
    {Key::backtab, commandChords, 0, "insertBacktab:"},
    {Key::delete_, all, 0, "deleteForward:"},
    {Key::up, all, 0, "moveUp:"},
    {Key::up, all, shift, "moveUpAndModifySelection:"},
    {Key::down, all, 0, "moveDown:"},
    {Key::down, all, shift, "moveDownAndModifySelection:"},
    {Key::left, all, 0, "moveLeft:"},
    {Key::left, all, shift, "moveLeftAndModifySelection:"},
    {Key::left, all, alt, "moveWordLeft:"},
    {Key::left, all, super, "moveToLeftEndOfLine:"},
    {Key::right, all, 0, "moveRight:"},
    {Key::right, all, shift, "moveRightAndModifySelection:"},
    {Key::right, all, alt, "moveWordRight:"},
    {Key::right, all, super, "moveToRightEndOfLine:"},
    {Key::home, all, 0, "scrollToBeginningOfDocument:"},
    {Key::home, all, shift, "moveToBeginningOfDocumentAndModifySelection:"},
    {Key::end, all, 0, "scrollToEndOfDocument:"},
    {Key::end, all, shift, "moveToEndOfDocumentAndModifySelection:"},
    {Key::pageUp, all, 0, "scrollPageUp:"},
    {Key::pageUp, all, shift, "pageUpAndModifySelection:"},
    {Key::pageDown, all, 0, "scrollPageDown:"},
    {Key::pageDown, all, shift, "pageDownAndModifySelection:"},
}};

} // namespace

std::optional<std::string_view> KeyBindings::selectorForKey(const KeyInput& input)
{
    const std::uint8_t held = modifierBits(input.modifiers);
    for (const Binding& binding : bindings) {
        if (binding.key == input.key && (held & binding.mask) == binding.value)
            return binding.selector;
    }
    if ((held & commandChords) != 0)
        return "noop:";
    return std::nullopt;
}

} // namespace corvantix
