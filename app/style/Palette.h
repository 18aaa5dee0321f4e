// The application's dark look: a small fixed set of named colours and the rule that picks the
// terminal font. Every value is a constant of the program, made on first use and kept.
//
// The workspace views name some of these colours differently (mutedTextColor,
// accentAmberColor, …); those names are aliases of the same values below, so a colour is
// defined exactly once.
#pragma once

#include <QColor>
#include <QFont>

#include <array>

namespace halvoren {

struct Palette {
    // Send button with a message, add buttons, folder icons, accents of sheets and bars.
    static const QColor& accent();
    // The area behind the terminal; the same components as terminalBackground, so no seam.
    static const QColor& terminalArea();
    // Compose bar and tab bar.
    static const QColor& bar();
    // Message field and key caps.
    static const QColor& field();
    // White at opacity 0.08: the one-pixel lines along the top of the bars.
    static const QColor& separator();
    // White at opacity 0.55: captions and secondary texts.
    static const QColor& secondaryText();
    // The "Connecté" mark.
    static const QColor& ok();
    // The status bar of an unreachable server.
    static const QColor& alert();
};

// An opaque colour from red, green and blue components between 0 and 1.
QColor paletteColor(double red, double green, double blue);

// Default background and foreground of every terminal view, and the caret of a tab terminal.
const QColor& terminalBackground();
const QColor& terminalForeground();
const QColor& terminalCaret();

// Accent colours of server connections, in the order they are handed out.
const std::array<QColor, 6>& connectionPalette();

// The font of terminal text at `size` points: the first installed of the preferred faces,
// else the desktop's fixed-pitch font.
QFont terminalFont(double size);

// The desktop's fixed-pitch font, regular, at the size of `sizedLike` in whichever unit that
// font was given: a pixel-sized font has no point size to copy.
QFont fixedPitchFont(const QFont& sizedLike);

// The same colours under the names the workspace views use.
inline const QColor& mutedTextColor() { return Palette::secondaryText(); }
inline const QColor& accentAmberColor() { return Palette::accent(); }
inline const QColor& liveGreenColor() { return Palette::ok(); }
inline const QColor& alertRedColor() { return Palette::alert(); }
inline const QColor& fieldBackgroundColor() { return Palette::field(); }
inline const QColor& tabBarBackground() { return Palette::bar(); }
inline const QColor& hairlineColor() { return Palette::separator(); }

} // namespace halvoren
