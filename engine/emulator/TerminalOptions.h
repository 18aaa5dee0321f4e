// The options a host hands to a Terminal when it builds one, the cursor styles, the
// regional-indicator width, the engine's version record and the environment list the
// engine offers for child processes.
#pragma once

#include "model/BidiPresentationState.h"
#include "model/Color.h"

#include <algorithm>
#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace corvantix {

// Cases in this order; the order is also the ordinal (0..5) that renderers use.
enum class CursorStyle : std::uint8_t {
    blinkBlock,
    steadyBlock,
    blinkUnderline,
    steadyUnderline,
    blinkBar,
    steadyBar,
};

// Every case, in declared order.
inline constexpr std::array<CursorStyle, 6> allCursorStyles = {
    CursorStyle::blinkBlock,     CursorStyle::steadyBlock, CursorStyle::blinkUnderline,
    CursorStyle::steadyUnderline, CursorStyle::blinkBar,   CursorStyle::steadyBar,
};

// The raw value is the case name ("blinkBlock"), used for parsing and storing.
std::string_view rawValue(CursorStyle style);
// Exact, case-sensitive match of a raw name; any other text answers nothing.
std::optional<CursorStyle> cursorStyleFromRawValue(std::string_view rawValue);
// "Blinking Block", "Steady Bar", ...
std::string_view displayName(CursorStyle style);
// Zero to five, in case order.
constexpr int ordinal(CursorStyle style)
{
    return static_cast<int>(style);
}
std::optional<CursorStyle> cursorStyleFromOrdinal(int ordinal);

enum class RegionalIndicatorWidth : std::uint8_t { wide, narrow };

struct TerminalOptions {
    int cols = 80;                    // the terminal uses at least 2
    int rows = 25;                    // the terminal uses at least 1
    bool convertEol = false;          // initial line-feed mode
    std::string termName = "xterm-256color";
    CursorStyle cursorStyle = CursorStyle::blinkBlock; // DECSCUSR stores the current style here
    bool screenReaderMode = false;    // carried for hosts; the emulator does not read it
    int scrollback = 500;             // history lines of the normal screen
    int tabStopWidth = 8;             // carried only: tab stops are always every 8 columns
    bool enableSixelReported = true;  // primary device attributes announce Sixel
    std::int64_t kittyImageCacheLimitBytes = 335'544'320; // 320 MiB
    // The program runs on another computer (over ssh, say): image media that name a file or
    // a shared-memory object of this one are refused, so it can neither read nor probe them.
    bool fedByRemoteHost = false;
    Ansi256PaletteStrategy ansi256PaletteStrategy = Ansi256PaletteStrategy::base16Lab;
    RegionalIndicatorWidth regionalIndicatorWidth = RegionalIndicatorWidth::wide;
    BidiPresentationState initialBidiState{};
    int maximumBidiParagraphRows = 500; // read through bidiParagraphRowLimit
    bool initialBidiArrowKeySwap = false;

    // Rows one bidi paragraph may span in the drawing side: at least 1, whatever was stored.
    int bidiParagraphRowLimit() const { return std::max(maximumBidiParagraphRows, 1); }

    // The process-wide value with every default, made once on first use (not named
    // `default`, which is a keyword).
    static const TerminalOptions& defaultOptions();

    friend bool operator==(const TerminalOptions&, const TerminalOptions&) = default;
};

// The engine's version texts.
struct CorvantixBuildInfo {
    static constexpr std::string_view version = "v1.20.0";
    // Fixed at build time through CORVANTIX_BUILD_IDENTIFIER; "unknown" otherwise.
    static const std::string_view buildIdentifier;
};

// "NAME=value" texts for a child process started without an environment of its own: TERM
// (termName, else "xterm-256color"), COLORTERM when trueColor, LANG, then LOGNAME, USER,
// DISPLAY, LC_TYPE, USER, HOME as far as this process has them set, in that order.
std::vector<std::string> getEnvironmentVariables(std::optional<std::string_view> termName,
                                                 bool trueColor);

} // namespace corvantix
