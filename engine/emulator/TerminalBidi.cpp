// The presentation direction commands SPD and SCP.
#include "emulator/Terminal.h"

namespace corvantix {

namespace {

// The direction both commands end in: the new fallback of the terminal, of both screens'
// new lines and of the cursor's paragraph.
void applyPresentationDirection(Terminal& terminal, BidiDirection direction)
{
    terminal.currentBidiState.fallbackDirection = direction;
    terminal.normalBuffer->defaultBidiState = terminal.currentBidiState;
    terminal.altBuffer->defaultBidiState = terminal.currentBidiState;
    terminal.applyBidiStateToCursorParagraph({BidiStateProperty::fallbackDirection});
    terminal.updateFullScreen();
}

} // namespace

void Terminal::cmdSelectPresentationDirection(std::span<const int> pars)
{
    switch (pars.empty() ? 0 : pars[0]) {
    case 0:
        applyPresentationDirection(*this, BidiDirection::leftToRight);
        break;
    case 3:
        applyPresentationDirection(*this, BidiDirection::rightToLeft);
        break;
    default:
        break; // other presentation directions (vertical ones) are not supported
    }
}

void Terminal::cmdSelectCharacterPath(std::span<const int> pars)
{
    switch (pars.empty() ? 0 : pars[0]) {
    case 0:
        applyPresentationDirection(*this, options.initialBidiState.fallbackDirection);
        break;
    case 1:
        applyPresentationDirection(*this, BidiDirection::leftToRight);
        break;
    case 2:
        applyPresentationDirection(*this, BidiDirection::rightToLeft);
        break;
    default:
        break;
    }
}

} // namespace corvantix
