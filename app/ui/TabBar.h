// The strip of tab chips above the terminal: one chip per open tab in the model's order,
// scrolled sideways, with the active one brought to the middle whenever the active tab
// changes. It takes no height while no tab is open.
#pragma once

#include "workspace/MacModel.h"

#include <QHash>
#include <QList>
#include <QString>
#include <QWidget>

class QHBoxLayout;
class QPropertyAnimation;
class QScrollArea;

namespace halvoren {

class TabChip;

class TabBar : public QWidget {
    Q_OBJECT

public:
    static constexpr int barHeight = 38;

    TabBar(MacModel& model, QWidget* parent = nullptr);

    MacModel& model;

    // The chips in bar order, and the one of a tab key.
    QList<TabChip*> chips() const;
    TabChip* chip(const QString& key) const;

protected:
    void paintEvent(QPaintEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void rebuild();
    void showActive();
    void refreshAll();
    void scrollToActive();

    QScrollArea* scroller = nullptr;
    QWidget* strip = nullptr;
    QHBoxLayout* row = nullptr;
    QHash<QString, TabChip*> chipsByKey;
    QPropertyAnimation* scrolling = nullptr;
};

} // namespace halvoren
