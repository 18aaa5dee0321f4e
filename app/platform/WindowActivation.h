// Giving a window of ours the keyboard focus on an X server when the request does not come
// from an input event of ours (another launch asked for the window, a notification was
// clicked). The X server and window managers judge such a request by its timestamp, and the
// last event time a toolkit holds may be older than the focus another program took since:
// the request is then ignored. So this takes a fresh timestamp from the server first.
#pragma once

#include <cstdint>

namespace halvoren {

// Asks the window manager for `window` (the _NET_ACTIVE_WINDOW request) or, without one, sets
// the focus on it, on the display named by DISPLAY. False when there is no X server to reach.
bool activateX11Window(std::uint32_t window);

} // namespace halvoren
