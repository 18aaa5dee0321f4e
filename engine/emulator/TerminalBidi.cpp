// The presentation direction commands SPD and SCP.
#include "emulator/Terminal.h"

namespace corvantix {

namespace {

struct BidiFile;

} // namespace

template <>
struct TerminalFileHelpers<BidiFile> {
    // The direction both commands end in: the new fallback of the terminal, of both screens'
    // new lines and of the cursor's paragraph.
    static void applyPresentationDirection(Terminal& terminal, BidiDirection direction)
    {
        terminal.currentBidiState_.fallbackDirection = direction;
        terminal.normalBuffer_->defaultBidiState = terminal.currentBidiState_;
        terminal.altBuffer_->defaultBidiState = terminal.currentBidiState_;
        terminal.applyBidiStateToCursorParagraph({BidiStateProperty::fallbackDirection});
        terminal.updateFullScreen();
    }
};

namespace {

using BidiHelpers = TerminalFileHelpers<BidiFile>;

} // namespace

void Terminal::cmdSelectPresentationDirection(std::span<const int> pars)
{
    switch (pars.empty() ? 0 : pars[0]) {
    case 0:
        BidiHelpers::applyPresentationDirection(*this, BidiDirection::leftToRight);
        break;
    case 3:
        BidiHelpers::applyPresentationDirection(*this, BidiDirection::rightToLeft);
        break;
    default:
        break; // other presentation directions (vertical ones) are not supported
    }
}

void Terminal::cmdSelectCharacterPath(std::span<const int> pars)
{
    switch (pars.empty() ? 0 : pars[0]) {
    case 0:
        BidiHelpers::applyPresentationDirection(*this, options_.initialBidiState.fallbackDirection);
        break;
    case 1:
        BidiHelpers::applyPresentationDirection(*this, BidiDirection::leftToRight);
        break;
    case 2:
        BidiHelpers::applyPresentationDirection(*this, BidiDirection::rightToLeft);
        break;
    default:
        break;
    }
}

} // namespace corvantix
