// Kitty keyboard protocol flags of each screen (CSI ... u).
#include "emulator/Terminal.h"

#include <algorithm>
#include <string>

namespace corvantix {

namespace {

constexpr int flagMask = 31; // the five progressive enhancement bits

int firstParameter(std::span<const int> pars, int absent)
{
    return pars.empty() ? absent : pars[0];
}

// ">": the current flags go on the stack, the oldest entry dropping out at the limit.
void pushFlags(KeyboardModeState& state, int value)
{
    if (state.stack.size() >= KeyboardModeState::maximumStackDepth)
        state.stack.erase(state.stack.begin());
    state.stack.push_back(state.flags);
    state.flags = value;
}

// "<": n entries come off the stack; popping past the bottom leaves no flags at all.
void popFlags(KeyboardModeState& state, int n)
{
    if (state.stack.size() >= static_cast<std::size_t>(n)) {
        for (int i = 0; i < n; ++i) {
            state.flags = state.stack.back();
            state.stack.pop_back();
        }
        return;
    }
    state.stack.clear();
    state.flags = 0;
}

// "=": mode 1 replaces, 2 adds, 3 removes the given bits; other modes change nothing.
void setFlags(KeyboardModeState& state, int value, int mode)
{
    switch (mode) {
    case 1:
        state.flags = value;
        break;
    case 2:
        state.flags |= value;
        break;
    case 3:
        state.flags &= ~value;
        break;
    default:
        break;
    }
}

} // namespace

int Terminal::activeKeyboardFlags() const
{
    return (isCurrentBufferAlternate() ? keyboardModeAlt_ : keyboardModeNormal_).flags;
}

bool Terminal::cmdCsiU(std::span<const int> pars, std::span<const std::uint8_t> collect)
{
    if (collect.size() != 1)
        return false;
    KeyboardModeState& state = isCurrentBufferAlternate() ? keyboardModeAlt_ : keyboardModeNormal_;
    switch (collect[0]) {
    case '>':
        pushFlags(state, firstParameter(pars, 0) & flagMask);
        return true;
    case '<':
        popFlags(state, std::max(firstParameter(pars, 1), 1));
        return true;
    case '=':
        setFlags(state, firstParameter(pars, 0) & flagMask, pars.size() >= 2 ? pars[1] : 1);
        return true;
    case '?':
        sendResponse(cc_.csi(), "?", std::to_string(state.flags), "u");
        return true;
    default:
        return false;
    }
}

} // namespace corvantix
