// The model's passing message, shown in a capsule over the bottom of the workspace pane. A
// click clears it; otherwise it clears itself five seconds after its text was set. A new text
// starts its own five seconds; the same text set again does not extend them. A text wider than
// the pane wraps, so a message and the path it names are read from start to end.
#pragma once

#include "ui/PlainText.h"

#include <QPointer>
#include <QString>
#include <QTimer>

#include <optional>

namespace halvoren {

class MacModel;

class BannerOverlay : public WrappedLabel {
    Q_OBJECT

public:
    static constexpr double timeout = 5.0;
    static constexpr int lift = 60;
    // Past these lines, the text ends in "…".
    static constexpr int maximumLines = 6;

    // Floats over `parent`, outside its layout.
    BannerOverlay(MacModel& model, QWidget* parent);

    MacModel& model;

    void refresh();
    // Centres the capsule horizontally, lifted above the parent's bottom edge.
    void place();

protected:
    void mousePressEvent(QMouseEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void stopTimeout();

    // The text the running time-out belongs to.
    std::optional<QString> timed;
    QPointer<QTimer> timer;
};

} // namespace halvoren
