// The warning bar under the tab strip about the active tab's host: unreachable, or without
// tmux. At most one bar; none at all while there is nothing to warn about.
#pragma once

#include "ui/PlainText.h"

#include <QColor>
#include <QLabel>
#include <QString>
#include <QWidget>

#include <optional>

namespace halvoren {

class MacModel;

struct StatusBar {
    QString symbol;
    QString text;
    QColor tint;

    friend bool operator==(const StatusBar&, const StatusBar&) = default;
};

// The bar for the active tab's connection; an unreachable host outranks a missing tmux.
std::optional<StatusBar> statusBarFor(const MacModel& model);

class StatusBars : public QWidget {
    Q_OBJECT

public:
    StatusBars(MacModel& model, QWidget* parent = nullptr);

    // The most lines of text the bar takes.
    static constexpr int maximumLines = 3;

    MacModel& model;

    const std::optional<StatusBar>& shown() const { return current; }
    // Recomputes the bar from the model and follows the signals of every connection.
    void refresh();

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    void watchConnections();

    std::optional<StatusBar> current;
    WrappedLabel* text;
    QList<QMetaObject::Connection> watched;
};

} // namespace halvoren
