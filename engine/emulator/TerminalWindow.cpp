// Window manipulation (XTWINOPS): host requests, size reports and the title stacks.
#include "emulator/DiagnosticText.h"
#include "emulator/Terminal.h"

#include "platform/Log.h"

#include <algorithm>
#include <cstdint>
#include <initializer_list>
#include <string>

namespace corvantix {

namespace {

using Command = WindowManipulationCommand;

bool parametersAre(std::span<const int> pars, std::initializer_list<int> pattern)
{
    return std::equal(pars.begin(), pars.end(), pattern.begin(), pattern.end());
}

// The cell size for the pixel reports: the host's, else 10 x 16.
CellPixelSize reportCellSize(TerminalDelegate& delegate, Terminal& terminal)
{
    return delegate.cellSizeInPixels(terminal).value_or(CellPixelSize{10, 16});
}

void pushTitle(std::vector<std::string>& stack, const std::string& title)
{
    // Bounded, so a program that only ever pushes cannot grow memory without end.
    if (stack.size() >= Terminal::maximumTitleStackDepth)
        stack.erase(stack.begin(), stack.begin() + static_cast<std::ptrdiff_t>(stack.size() + 1
                                                                               - Terminal::maximumTitleStackDepth));
    stack.push_back(title);
}

// Pops restore the stored title and tell the host; an empty stack changes nothing.
void popWindowTitle(Terminal& terminal)
{
    if (terminal.terminalTitleStack.empty())
        return;
    terminal.terminalTitle = std::move(terminal.terminalTitleStack.back());
    terminal.terminalTitleStack.pop_back();
    if (TerminalDelegate* delegate = terminal.delegate())
        delegate->setTerminalTitle(terminal, terminal.terminalTitle);
}

void popIconTitle(Terminal& terminal)
{
    if (terminal.terminalIconStack.empty())
        return;
    terminal.iconTitle = std::move(terminal.terminalIconStack.back());
    terminal.terminalIconStack.pop_back();
    if (TerminalDelegate* delegate = terminal.delegate())
        delegate->setTerminalIconTitle(terminal, terminal.iconTitle);
}

} // namespace

void Terminal::csit(std::span<const int> pars)
{
    TerminalDelegate* delegate = tdel;
    if (delegate == nullptr)
        return;

    const auto request = [&](Command::Case kind, int first = 0, int second = 0) {
        // What a host returns for a request is not a reply.
        (void)delegate->windowCommand(*this, Command::make(kind, first, second));
    };
    // A report the host may answer itself; otherwise CSI + fallback + "t".
    const auto report = [&](Command::Case kind, const auto& fallback) {
        if (const auto answer = delegate->windowCommand(*this, Command::make(kind))) {
            sendResponse(std::span<const std::uint8_t>(*answer));
            return;
        }
        sendResponse(cc.csi(), fallback(), "t");
    };
    const auto pixelSize = [&](const char* prefix) {
        const CellPixelSize cell = reportCellSize(*delegate, *this);
        const std::int64_t height = static_cast<std::int64_t>(rows) * cell.height;
        const std::int64_t width = static_cast<std::int64_t>(cols) * cell.width;
        return std::string(prefix) + std::to_string(height) + ";" + std::to_string(width);
    };
    const auto characterSize = [&](const char* prefix) {
        return std::string(prefix) + std::to_string(rows) + ";" + std::to_string(cols);
    };

    const std::size_t count = pars.size();
    if (parametersAre(pars, {1})) {
        request(Command::Case::deiconifyWindow);
    } else if (parametersAre(pars, {2})) {
        request(Command::Case::iconifyWindow);
    } else if (count == 3 && (pars[0] == 3 || pars[0] == 4)) {
        // 4 (xterm's resize in pixels) is passed on as a move, as the host expects it.
        request(Command::Case::moveWindowTo, pars[1], pars[2]);
    } else if (parametersAre(pars, {5})) {
        request(Command::Case::bringToFront);
    } else if (parametersAre(pars, {6})) {
        request(Command::Case::sendToBack);
    } else if (parametersAre(pars, {7})) {
        request(Command::Case::refreshWindow);
    } else if (count == 3 && pars[0] == 8) {
        // Rows, then columns; 0 keeps that side. A size past the bounds is asked for bounded.
        const auto [boundedCols, boundedRows] = boundedSize(pars[2] > 0 ? pars[2] : cols, pars[1] > 0 ? pars[1] : rows);
        request(Command::Case::resizeTerminal, pars[1] > 0 ? boundedRows : 0, pars[2] > 0 ? boundedCols : 0);
    } else if (parametersAre(pars, {9, 0})) {
        request(Command::Case::restoreMaximizedWindow);
    } else if (parametersAre(pars, {9, 1})) {
        request(Command::Case::maximizeWindow);
    } else if (parametersAre(pars, {9, 2})) {
        request(Command::Case::maximizeWindowVertically);
    } else if (parametersAre(pars, {9, 3})) {
        request(Command::Case::maximizeWindowHorizontally);
    } else if (parametersAre(pars, {10, 0})) {
        request(Command::Case::undoFullScreen);
    } else if (parametersAre(pars, {10, 1})) {
        request(Command::Case::switchToFullScreen);
    } else if (parametersAre(pars, {10, 2})) {
        request(Command::Case::toggleFullScreen);
    } else if (parametersAre(pars, {14})) {
        report(Command::Case::reportTextAreaPixelDimension, [&] { return pixelSize("4;"); });
    } else if (parametersAre(pars, {14, 2})) {
        report(Command::Case::reportTerminalWindowPixelDimension, [&] { return pixelSize("4;"); });
    } else if (parametersAre(pars, {15})) {
        report(Command::Case::reportSizeOfScreenInPixels, [&] { return pixelSize("5;"); });
    } else if (parametersAre(pars, {16})) {
        report(Command::Case::reportCellSizeInPixels, [&] {
            const CellPixelSize cell = reportCellSize(*delegate, *this);
            return "6;" + std::to_string(cell.height) + ";" + std::to_string(cell.width);
        });
    } else if (parametersAre(pars, {18})) {
        report(Command::Case::reportTextAreaCharacters, [&] { return characterSize("8;"); });
    } else if (parametersAre(pars, {19})) {
        report(Command::Case::reportScreenSizeCharacters, [&] { return characterSize("9;"); });
    } else if (parametersAre(pars, {20})) {
        // Titles are never reported back: a program could otherwise echo text of its
        // choosing into the input.
        sendResponse(cc.osc(), "L", cc.st());
    } else if (parametersAre(pars, {21})) {
        sendResponse(cc.osc(), "l", cc.st());
    } else if (parametersAre(pars, {22, 0}) || parametersAre(pars, {22, 0, 0})) {
        pushTitle(terminalTitleStack, terminalTitle);
        pushTitle(terminalIconStack, iconTitle);
    } else if (parametersAre(pars, {22, 1})) {
        pushTitle(terminalIconStack, iconTitle);
    } else if (parametersAre(pars, {22, 2})) {
        pushTitle(terminalTitleStack, terminalTitle);
    } else if (parametersAre(pars, {23, 0}) || parametersAre(pars, {23, 0, 0})) {
        popWindowTitle(*this);
        popIconTitle(*this);
    } else if (parametersAre(pars, {23, 1})) {
        popIconTitle(*this);
    } else if (parametersAre(pars, {23, 2})) {
        popWindowTitle(*this);
    } else {
        logInfo(silentLog, "Unhandled Window command: " + listText(pars));
    }
}

} // namespace corvantix
