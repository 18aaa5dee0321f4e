// The progress bar along the top edge of a terminal view: a translucent track and a coloured
// bar, either a share of the width (a percentage) or a short bar sliding back and forth (no
// percentage). It lets every mouse event through to the terminal beneath.
#pragma once

#include "emulator/TerminalDelegate.h"

#include <QColor>
#include <QRectF>
#include <QWidget>

#include <cstdint>
#include <optional>

class QVariantAnimation;

namespace corvantix {

class TerminalProgressBarView final : public QWidget {
public:
    explicit TerminalProgressBarView(QWidget* parent = nullptr);

    static constexpr double barWidthRatio = 0.25;
    static constexpr int indeterminateDurationMs = 1200;
    static constexpr int determinateDurationMs = 200;

    // Shows the state (hides the bar for remove); a percentage draws it determinate.
    void update(ProgressReportState state, std::optional<std::uint8_t> progress);

    ProgressReportState state() const { return state_; }
    std::optional<std::uint8_t> progress() const { return progress_; }
    // The bar's colour, and the track's (the same at alpha 0.3), for the current state.
    QColor barColor() const { return barColor_; }
    QColor trackColor() const;
    bool trackVisible() const { return trackVisible_; }
    // Where the bar is drawn now, in the widget's coordinates.
    QRectF barRect() const { return barRect_; }
    bool animating() const;

protected:
    void paintEvent(QPaintEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;

private:
    void layoutBar(bool animated);
    void layoutDeterminate(std::uint8_t progress, bool animated);
    void layoutIndeterminate();
    void stopAnimation();

    ProgressReportState state_ = ProgressReportState::remove;
    std::optional<std::uint8_t> progress_;
    QColor barColor_;
    bool trackVisible_ = false;
    QRectF barRect_;
    QVariantAnimation* animation_ = nullptr;
};

} // namespace corvantix
