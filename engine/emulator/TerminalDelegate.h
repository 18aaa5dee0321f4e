// The interface through which a Terminal talks to its host: every byte the emulator writes
// back leaves through `send`, and every change the host must show arrives as a callback.
//
// A host overrides what it needs; the rest do nothing and answer none.
//
// All callbacks run synchronously on the terminal's thread, in the middle of the operation
// that triggers them, and may re-enter the terminal. The terminal does not own its
// delegate: a host clears it with Terminal::setDelegate(nullptr) before it goes away.
#pragma once

#include "emulator/TerminalOptions.h"
#include "graphics/ImageSizeRequest.h"
#include "model/Color.h"

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace corvantix {

class Terminal;

// OSC 9;4 progress states, with their wire values.
enum class ProgressReportState : std::uint8_t { remove = 0, set = 1, error = 2, indeterminate = 3, pause = 4 };

// The state for a wire value 0..4; any other value answers nothing.
constexpr std::optional<ProgressReportState> progressReportStateFromRaw(int raw)
{
    if (raw < 0 || raw > 4)
        return std::nullopt;
    return static_cast<ProgressReportState>(raw);
}

struct ProgressReport {
    ProgressReportState state = ProgressReportState::remove;
    std::optional<std::uint8_t> progress;

    friend constexpr bool operator==(const ProgressReport&, const ProgressReport&) = default;
};

// A window request or report of XTWINOPS. Cases that carry values keep them in `first`
// and `second`; the others leave both 0.
struct WindowManipulationCommand {
    enum class Case : std::uint8_t {
        // with values
        moveWindowTo,    // (x, y)
        resizeWindowTo,  // (width, height)
        resizeTo,        // (cols, rows)
        resizeTerminal,  // (first, second) as the request gives them
        resizeToLines,   // (lines) in `first`: a resize to that many lines
        // without values
        deiconifyWindow,
        iconifyWindow,
        bringToFront,
        sendToBack,
        refreshWindow,
        restoreMaximizedWindow,
        maximizeWindow,
        maximizeWindowVertically,
        maximizeWindowHorizontally,
        undoFullScreen,
        switchToFullScreen,
        toggleFullScreen,
        reportTerminalState,
        reportTerminalPosition,
        reportTextAreaPosition,
        reportTextAreaPixelDimension,
        reportTerminalWindowPixelDimension,
        reportSizeOfScreenInPixels,
        reportCellSizeInPixels,
        reportTextAreaCharacters,
        reportScreenSizeCharacters,
        reportIconLabel,
        reportWindowTitle,
    };

    Case kind = Case::refreshWindow;
    int first = 0;
    int second = 0;

    static constexpr WindowManipulationCommand make(Case kind, int first = 0, int second = 0)
    {
        return {kind, first, second};
    }

    friend constexpr bool operator==(const WindowManipulationCommand&, const WindowManipulationCommand&) = default;
};

// The size of one cell in device pixels.
struct CellPixelSize {
    int width = 0;
    int height = 0;

    friend constexpr bool operator==(const CellPixelSize&, const CellPixelSize&) = default;
};

// The default foreground and background the host shows (answers OSC 10 and 11 queries).
struct TerminalColors {
    Color foreground;
    Color background;

    friend constexpr bool operator==(const TerminalColors&, const TerminalColors&) = default;
};

class TerminalDelegate {
public:
    virtual ~TerminalDelegate() = default;

    // A hidden cursor became visible.
    virtual void showCursor(Terminal&) {}
    // A visible cursor was hidden.
    virtual void hideCursor(Terminal&) {}
    // A window title was stored (OSC 0 and 2, title-stack pop).
    virtual void setTerminalTitle(Terminal&, const std::string&) {}
    // An icon title was stored (OSC 0 and 1, icon-stack pop).
    virtual void setTerminalIconTitle(Terminal&, const std::string&) {}
    // An XTWINOPS request; the bytes returned (if any) are what the terminal replies.
    virtual std::optional<std::vector<std::uint8_t>> windowCommand(Terminal&, const WindowManipulationCommand&)
    {
        return std::nullopt;
    }
    // The terminal changed its own column count (DECCOLM).
    virtual void sizeChanged(Terminal&) {}
    // Bytes for the program; the only way bytes leave the emulator.
    virtual void send(Terminal&, std::span<const std::uint8_t>) {}
    // The visible window moved after a scroll.
    virtual void scrolled(Terminal&, int) {}
    // After a line feed.
    virtual void linefeed(Terminal&) {}
    // The normal or alternate screen was switched, and after a full reset.
    virtual void bufferActivated(Terminal&) {}
    // Synchronized output began (true) or ended (false).
    virtual void synchronizedOutputChanged(Terminal&, bool) {}
    // BEL was received.
    virtual void bell(Terminal&) {}
    // A selection was set, moved or cleared.
    virtual void selectionChanged(Terminal&) {}
    // Asked before acting on OSC 6 / OSC 7 and before a DECRQCRA checksum. The default
    // answers false, the cautious answer for a host that did not decide.
    virtual bool trustsHost(Terminal&) { return false; }
    // The cell size for pixel reports and image placement; none when unknown.
    virtual std::optional<CellPixelSize> cellSizeInPixels(Terminal&) { return std::nullopt; }
    // Every store of Terminal::mouseMode, set-up included.
    virtual void mouseModeChanged(Terminal&) {}
    // DECSCUSR selected a style.
    virtual void cursorStyleChanged(Terminal&, CursorStyle) {}
    // OSC 7 stored hostCurrentDirectory.
    virtual void hostCurrentDirectoryUpdated(Terminal&) {}
    // OSC 6 stored hostCurrentDocument.
    virtual void hostCurrentDocumentUpdated(Terminal&) {}
    // Palette entry `index` changed, or (no index) the palette was reset or rebuilt or
    // reverse video was switched.
    virtual void colorChanged(Terminal&, std::optional<int>) {}
    // The default foreground was stored. Default: stores it into the terminal.
    virtual void setForegroundColor(Terminal& source, const Color& color);
    // The default background was stored. Default: stores it into the terminal.
    virtual void setBackgroundColor(Terminal& source, const Color& color);
    // The cursor colour was stored (or cleared). Default: stores it into the terminal.
    virtual void setCursorColor(Terminal& source, const std::optional<Color>& color);
    // The colours OSC 10 / 11 queries report. Default: the terminal's own.
    virtual TerminalColors getColors(Terminal& source);
    // An OSC 1337 payload that is not an inline file.
    virtual void inlineContentReceived(Terminal&, std::span<const std::uint8_t>) {}
    // OSC 52 set, with the decoded content.
    virtual void clipboardCopy(Terminal&, std::span<const std::uint8_t>) {}
    // OSC 52 query; none when there is nothing to give.
    virtual std::optional<std::vector<std::uint8_t>> clipboardRead(Terminal&) { return std::nullopt; }
    // OSC 777 notification.
    virtual void notify(Terminal&, const std::string&, const std::string&) {}
    // OSC 9;4 progress.
    virtual void progressReport(Terminal&, const ProgressReport&) {}
    // A Sixel or Kitty RGBA image is complete, its alpha premultiplied; the host may take the
    // bytes.
    virtual void createImageFromBitmap(Terminal&, std::vector<std::uint8_t>&, int, int) {}
    // An encoded image arrived (OSC 1337 inline file, Kitty PNG).
    virtual void createImage(Terminal&, std::span<const std::uint8_t>, ImageSizeRequest, ImageSizeRequest, bool) {}
};

} // namespace corvantix
