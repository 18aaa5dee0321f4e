// Window manipulation (XTWINOPS): host requests, size reports and the title stacks.
#include "emulator/DiagnosticText.h"
#include "emulator/Terminal.h"

#include "platform/Log.h"

#include <algorithm>
#include <array>
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

struct WindowFile;

} // namespace

template <>
struct TerminalFileHelpers<WindowFile> {
    // Pops restore the stored title and tell the host; an empty stack changes nothing.
    static void popWindowTitle(Terminal& terminal)
    {
        if (terminal.terminalTitleStack_.empty())
            return;
        terminal.terminalTitle_ = std::move(terminal.terminalTitleStack_.back());
        terminal.terminalTitleStack_.pop_back();
        if (TerminalDelegate* delegate = terminal.delegate())
            delegate->setTerminalTitle(terminal, terminal.terminalTitle_);
    }

    static void popIconTitle(Terminal& terminal)
    {
        if (terminal.terminalIconStack_.empty())
            return;
        terminal.iconTitle_ = std::move(terminal.terminalIconStack_.back());
        terminal.terminalIconStack_.pop_back();
        if (TerminalDelegate* delegate = terminal.delegate())
            delegate->setTerminalIconTitle(terminal, terminal.iconTitle_);
    }

    // The host requests that take no answer: CSI Ps t with exactly these parameters.
    struct WindowRequest {
        std::size_t count; // of the values below that are used
        std::array<int, 2> pars;
        Command::Case kind;
    };

    static constexpr WindowRequest windowRequests[] = {
        {1, {1}, Command::Case::deiconifyWindow},
        {1, {2}, Command::Case::iconifyWindow},
        {1, {5}, Command::Case::bringToFront},
        {1, {6}, Command::Case::sendToBack},
        {1, {7}, Command::Case::refreshWindow},
        {2, {9, 0}, Command::Case::restoreMaximizedWindow},
        {2, {9, 1}, Command::Case::maximizeWindow},
        {2, {9, 2}, Command::Case::maximizeWindowVertically},
        {2, {9, 3}, Command::Case::maximizeWindowHorizontally},
        {2, {10, 0}, Command::Case::undoFullScreen},
        {2, {10, 1}, Command::Case::switchToFullScreen},
        {2, {10, 2}, Command::Case::toggleFullScreen},
    };

    // Requests to the host: moves, resizes and the window's state. False when `pars` is none.
    static bool requestWindowChange(Terminal& terminal, TerminalDelegate& delegate, std::span<const int> pars)
    {
        const auto request = [&](Command::Case kind, int first = 0, int second = 0) {
            // What a host returns for a request is not a reply.
            (void)delegate.windowCommand(terminal, Command::make(kind, first, second));
        };
        for (const WindowRequest& entry : windowRequests) {
            if (std::ranges::equal(pars, std::span(entry.pars.data(), entry.count))) {
                request(entry.kind);
                return true;
            }
        }
        if (pars.size() == 3 && (pars[0] == 3 || pars[0] == 4)) {
            // 4 (xterm's resize in pixels) is passed on as a move, as the host expects it.
            request(Command::Case::moveWindowTo, pars[1], pars[2]);
            return true;
        }
        if (pars.size() == 3 && pars[0] == 8) {
            // Rows, then columns; 0 keeps that side. A size past the bounds is asked for bounded.
            const auto [boundedCols, boundedRows] = Terminal::boundedSize(pars[2] > 0 ? pars[2] : terminal.cols_,
                                                                          pars[1] > 0 ? pars[1] : terminal.rows_);
            request(Command::Case::resizeTerminal, pars[1] > 0 ? boundedRows : 0, pars[2] > 0 ? boundedCols : 0);
            return true;
        }
        return false;
    }

    // Size and title reports. False when `pars` asks for none.
    static bool reportWindowState(Terminal& terminal, TerminalDelegate& delegate, std::span<const int> pars)
    {
        // A report the host may answer itself; otherwise CSI + fallback + "t".
        const auto report = [&](Command::Case kind, const auto& fallback) {
            if (const auto answer = delegate.windowCommand(terminal, Command::make(kind))) {
                terminal.sendResponse(std::span<const std::uint8_t>(*answer));
                return;
            }
            terminal.sendResponse(terminal.cc_.csi(), fallback(), "t");
        };
        const auto pixelSize = [&](const char* prefix) {
            const CellPixelSize cell = reportCellSize(delegate, terminal);
            const std::int64_t height = static_cast<std::int64_t>(terminal.rows_) * cell.height;
            const std::int64_t width = static_cast<std::int64_t>(terminal.cols_) * cell.width;
            return std::string(prefix) + std::to_string(height) + ";" + std::to_string(width);
        };
        const auto characterSize = [&](const char* prefix) {
            return std::string(prefix) + std::to_string(terminal.rows_) + ";" + std::to_string(terminal.cols_);
        };

        if (parametersAre(pars, {14})) {
            report(Command::Case::reportTextAreaPixelDimension, [&] { return pixelSize("4;"); });
        } else if (parametersAre(pars, {14, 2})) {
            report(Command::Case::reportTerminalWindowPixelDimension, [&] { return pixelSize("4;"); });
        } else if (parametersAre(pars, {15})) {
            report(Command::Case::reportSizeOfScreenInPixels, [&] { return pixelSize("5;"); });
        } else if (parametersAre(pars, {16})) {
            report(Command::Case::reportCellSizeInPixels, [&] {
                const CellPixelSize cell = reportCellSize(delegate, terminal);
                return "6;" + std::to_string(cell.height) + ";" + std::to_string(cell.width);
            });
        } else if (parametersAre(pars, {18})) {
            report(Command::Case::reportTextAreaCharacters, [&] { return characterSize("8;"); });
        } else if (parametersAre(pars, {19})) {
            report(Command::Case::reportScreenSizeCharacters, [&] { return characterSize("9;"); });
        } else if (parametersAre(pars, {20})) {
            // Titles are never reported back: a program could otherwise echo text of its
            // choosing into the input.
            terminal.sendResponse(terminal.cc_.osc(), "L", terminal.cc_.st());
        } else if (parametersAre(pars, {21})) {
            terminal.sendResponse(terminal.cc_.osc(), "l", terminal.cc_.st());
        } else {
            return false;
        }
        return true;
    }

    // Pushes (22) and pops (23) of the title stacks: 0 both, 1 the icon title, 2 the window
    // title. False when `pars` is none of them.
    static bool changeTitleStacks(Terminal& terminal, std::span<const int> pars)
    {
        if (parametersAre(pars, {22, 0}) || parametersAre(pars, {22, 0, 0})) {
            pushTitle(terminal.terminalTitleStack_, terminal.terminalTitle_);
            pushTitle(terminal.terminalIconStack_, terminal.iconTitle_);
        } else if (parametersAre(pars, {22, 1})) {
            pushTitle(terminal.terminalIconStack_, terminal.iconTitle_);
        } else if (parametersAre(pars, {22, 2})) {
            pushTitle(terminal.terminalTitleStack_, terminal.terminalTitle_);
        } else if (parametersAre(pars, {23, 0}) || parametersAre(pars, {23, 0, 0})) {
            popWindowTitle(terminal);
            popIconTitle(terminal);
        } else if (parametersAre(pars, {23, 1})) {
            popIconTitle(terminal);
        } else if (parametersAre(pars, {23, 2})) {
            popWindowTitle(terminal);
        } else {
            return false;
        }
        return true;
    }
};

namespace {

using WindowHelpers = TerminalFileHelpers<WindowFile>;

} // namespace

void Terminal::csit(std::span<const int> pars)
{
    TerminalDelegate* delegate = tdel;
    if (delegate == nullptr)
        return;
    if (WindowHelpers::requestWindowChange(*this, *delegate, pars) || WindowHelpers::reportWindowState(*this, *delegate, pars)
        || WindowHelpers::changeTitleStacks(*this, pars))
        return;
    logInfo(silentLog_, "Unhandled Window command: " + listText(pars));
}

} // namespace corvantix
