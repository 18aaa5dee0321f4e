// Turns a Qt key event into the toolkit-free KeyInput the keyboard code reads.
#pragma once

#include "view/KeyInput.h"

class QKeyEvent;

namespace corvantix {

// The key, its texts, the modifiers after the event (the lock state from the X11 modifier
// mask when the platform gives one), the event type and the physical key (the X key code
// less 8; 0 when unknown).
KeyInput keyInputFromQKeyEvent(const QKeyEvent& event);

} // namespace corvantix
