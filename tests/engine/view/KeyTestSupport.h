// Shared helpers of the key tests: bytes made readable for failure messages, and the text a
// named key carries.
#pragma once

#include "view/KeyInput.h"

#include <string>
#include <string_view>

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

} // namespace corvantix::keytest
