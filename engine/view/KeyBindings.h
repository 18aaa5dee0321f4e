// The commands the input method makes of keys that the view does not encode itself.
// Commands have names such as "insertNewline:", "deleteBackward:", "moveUp:" and
// "scrollPageUp:", so that the keyboard handler's command table reads like the
// behaviour it implements.
//
// The table is fixed and our own. A key it does not bind types its text; a Control or Super
// chord it does not bind becomes "noop:".
#pragma once

#include "view/KeyInput.h"

#include <optional>
#include <string_view>

namespace corvantix {

struct KeyBindings {
    // The selector bound to the key with its modifiers (Caps Lock ignored), or none when
    // the key should insert its text.
    static std::optional<std::string_view> selectorForKey(const KeyInput& input);
};

} // namespace corvantix
