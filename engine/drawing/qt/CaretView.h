// The text cursor: a small child widget of the TerminalView placed over the cursor cell (the
// view sizes and places it). It draws the caret in its style: an outline when the terminal
// does not have focus, a bar at the left, an underline at the bottom, or a block that shows
// the character under it again in the caret text colour (a powerline separator under a block
// caret keeps its exact shape). Blinking styles fade the caret out and in (0.7 s each way,
// ease-in), only while focused and on screen. The fade is drawn in a few opacity levels
// (blinkOpacityLevels): a one-shot timer wakes only when the next level is due and repaints
// the caret's own rectangle, and no timer runs while the caret is steady, unfocused or hidden
// (a hidden or minimised window included). The caret is opaque and draws beneath itself a
// copy of the view's pixels, taken again whenever the view repaints, so a frame of the fade
// does not draw the view's row again; the caret itself is drawn again only when what it shows
// changes. The caret never takes mouse events.
//
// The caret reads what it draws with through CaretHost, which the view implements, so the
// drawing code does not depend on the view.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "drawing/CellMetrics.h"
#include "drawing/RunStyle.h"
#include "drawing/qt/CellGlyphCache.h"
#include "drawing/qt/GlyphMetricsCache.h"
#include "emulator/TerminalOptions.h"
#include "model/CharData.h"

#include <QColor>
#include <QElapsedTimer>
#include <QImage>
#include <QPixmap>
#include <QPointer>
#include <QWidget>

class QTimer;

namespace corvantix {

class Terminal;

// What the caret reads from the widget it sits on.
class CaretHost {
public:
    // The widget the caret is a child of.
    virtual QWidget* caretParent() = 0;
    // The terminal whose cells the caret shows, when there is one.
    virtual const Terminal* caretTerminal() const = 0;
    // Blinking text is in its visible phase.
    virtual bool caretTextBlinkVisible() const = 0;
    virtual QColor effectiveCaretColor() const = 0;
    virtual QColor effectiveCaretTextColor() const = 0;
    virtual double backingScaleFactor() const = 0;
    virtual bool customBlockGlyphs() const = 0;
    // The four fonts of the cells, in FontSlot order.
    virtual CellGlyphCache::Fonts caretFonts() const = 0;
    virtual std::optional<CellDimension> caretCellDimension() const = 0;
    // The host's glyph metrics, shared with its rows.
    virtual GlyphMetricsCache& caretGlyphMetrics() const = 0;

protected:
    virtual ~CaretHost() = default;
};

class CaretView : public QWidget {
public:
    static constexpr double blinkHalfPeriodSeconds = 0.7;
    // Opacity steps of each half of the fade. Every frame wakes the process and costs a whole
    // round of the window system's repaint (a wait for the display server included), however
    // small the caret: up to a few milliseconds of CPU on a slow machine. Four steps each way
    // kept a focused idle window there at about half a per cent of a core; two (full, half,
    // none) keep the fade at a fifth of a per cent, about three frames a second.
    static constexpr int blinkOpacityLevels = 2;

    // A child of `host`'s widget with the given frame and style.
    CaretView(const QRect& frame, CursorStyle cursorStyle, CaretHost* host);
    ~CaretView() override;

    // The owning view; the caret draws nothing once it is gone.
    QPointer<QWidget> terminal;

    // The character under the caret, prepared for drawing: its text (U+FE0E appended to an
    // emoji shown as text) and the font slot of its attribute. None before the first setText.
    struct Glyph {
        std::u16string text;
        FontSlot font = FontSlot::normal;

        friend bool operator==(const Glyph&, const Glyph&) = default;
    };
    std::optional<Glyph> ctline;
    int glyphColumnWidth = 1;
    std::optional<uint32_t> powerlineCodePoint;
    bool tracksFocus = true;
    CursorStyle style;
    // Last focus state given by the view (its hasFocus setter).
    bool focused = false;

    // Prepares the glyph under the caret from the cursor cell and its attribute; `display`,
    // when given, is the text the row shows for that cell instead of the stored one (a
    // joined Arabic form, a mirrored bracket), so a block caret shows what the row shows.
    void setText(const CharData& cell, const Attribute& attribute, const std::u32string* display = nullptr);
    // Applies the style and the focus to the blink animation.
    void updateCursorStyle();

    // Paints the caret (focused or not) into `painter`, whose origin is the caret's top left.
    void drawCaret(QPainter& painter, bool focusedForm);

    // The caret's current opacity (1 unless blinking).
    double opacity() const { return opacity_; }
    // The fade's timer runs.
    bool isBlinking() const;
    // Takes the opacity the fade has `seconds` into its cycle, and repaints the caret when
    // that changes what is drawn. The timer calls it; tests call it with chosen times.
    void showBlinkPhase(double seconds);
    // The opacity `seconds` into the blink: 1 -> 0 over 0.7 s with ease-in, then back.
    static double blinkOpacity(double seconds);
    // The opacity drawn `seconds` into the blink: blinkOpacity rounded to the nearest of the
    // levels 0, 1/blinkOpacityLevels, ..., 1.
    static double blinkFrameOpacity(double seconds);
    // The first moment after `seconds` at which the drawn opacity changes.
    static double nextBlinkFrameSeconds(double seconds);

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;
    void paintEvent(QPaintEvent* event) override;
    void showEvent(QShowEvent* event) override;
    void hideEvent(QHideEvent* event) override;
    void moveEvent(QMoveEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;

private:
    // Everything the drawn caret depends on besides its opacity and the pixels beneath it. A
    // frame of the fade whose look is unchanged reuses the caret drawn for an earlier frame,
    // so it costs two small copies and no font or glyph work.
    struct Look {
        CursorStyle style = CursorStyle::blinkBlock;
        bool focusedForm = false;
        QColor caretColor;
        QColor caretTextColor;
        bool customBlockGlyphs = false;
        double scale = 1.0;
        QSize size;
        std::optional<Glyph> glyph;
        int glyphColumnWidth = 1;
        std::optional<uint32_t> powerlineCodePoint;
        CellGlyphCache::Fonts fonts;
        std::optional<CellDimension> cellDimension;

        friend bool operator==(const Look&, const Look&) = default;
    };
    Look currentLook() const;

    // The view's focus for drawing: its focus flag, and its window active when it has one.
    bool viewHasFocus() const;
    void startBlinkAnimation(bool blink);
    void stopBlinkAnimation();
    // Arms the one-shot timer for the next change of the drawn opacity.
    void scheduleBlinkFrame();
    // Copies the view's own drawing under the caret into under_.
    void copyUnder();

    CaretHost* host_;
    QTimer* blinkTimer_ = nullptr;
    QElapsedTimer blinkClock_;
    double opacity_ = 1.0;
    // Between a show event and a hide event, spontaneous ones (a minimised window) included.
    bool onScreen_ = false;
    // The view's pixels under the caret, copied again after the view repaints anything.
    QPixmap under_;
    bool underStale_ = true;
    bool copyingUnder_ = false;
    // The caret alone, drawn for layerLook_; none until the first paint.
    QImage layer_;
    std::optional<Look> layerLook_;
    CellGlyphCache glyphs_;
    // Scratch of the glyph drawing, kept for its capacity.
    std::u16string packed_;
    std::vector<FittedGlyph> fitted_;
};

} // namespace corvantix
