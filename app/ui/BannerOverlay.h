// The model's passing message, shown in a capsule over the bottom of the workspace pane. A
// click clears it; otherwise it clears itself five seconds after its text was set. A new text
// starts its own five seconds; the same text set again does not extend them.
#pragma once

#include <QLabel>
#include <QPointer>
#include <QString>
#include <QTimer>

#include <optional>

namespace halvoren {

class MacModel;

class BannerOverlay : public QLabel {
    Q_OBJECT

public:
    static constexpr double timeout = 5.0;
    static constexpr int lift = 60;

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
