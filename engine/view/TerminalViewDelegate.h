// How a terminal view reports to its owner. Every callback names the view it comes from; a
// view without a delegate drops the events (bytes to send are then lost). The view does not
// own its delegate: an owner that goes away first clears the view's terminalDelegate.
#pragma once

#include <cstdint>
#include <map>
#include <optional>
#include <span>
#include <string>
#include <vector>

namespace corvantix {

class TerminalView;

class TerminalViewDelegate {
public:
    virtual ~TerminalViewDelegate() = default;

    // 0: the grid changed (frame, font, line spacing, an explicit grid, or the emulator).
    virtual void sizeChanged(TerminalView& source, int newCols, int newRows) = 0;
    // 1: the program set the window title.
    virtual void titleChanged(TerminalView& source, const std::string& title) = 0;
    // 2: the program reported its working directory (OSC 7).
    virtual void currentDirectoryChanged(TerminalView& source, const std::optional<std::string>& directory) = 0;
    // 3: bytes for the child: the user's input and the emulator's replies.
    virtual void send(TerminalView& source, std::span<const std::uint8_t> data) = 0;
    // 4: the scroll position changed (0 top .. 1 bottom).
    virtual void scrolled(TerminalView& source, double position) = 0;
    // 5: the user activated a link.
    virtual void requestOpenLink(TerminalView& source, const std::string& link,
                                 const std::map<std::string, std::string>& params) = 0;
    // 6: a bell whose style includes sound.
    virtual void bell(TerminalView& source) = 0;
    // 7: the program asked to set the clipboard (OSC 52), with the decoded content.
    virtual void clipboardCopy(TerminalView& source, std::span<const std::uint8_t> content) = 0;
    // 8: the program asked to read the clipboard; none when there is nothing to give.
    virtual std::optional<std::vector<std::uint8_t>> clipboardRead(TerminalView& source) = 0;
    // 9: the payload of an inline-content sequence (OSC 1337).
    virtual void inlineContentReceived(TerminalView& source, std::span<const std::uint8_t> content) = 0;
    // 10: screen rows startY..endY were redrawn; only while the view's notifyUpdateChanges is set.
    virtual void rowsChanged(TerminalView& source, int startY, int endY) = 0;
};

} // namespace corvantix
