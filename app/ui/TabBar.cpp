#include "ui/TabBar.h"

#include "tab/MacTab.h"
#include "style/Palette.h"
#include "ui/TabChip.h"

#include <QApplication>
#include <QHBoxLayout>
#include <QPainter>
#include <QPropertyAnimation>
#include <QScrollArea>
#include <QScrollBar>
#include <QTimer>
#include <QVBoxLayout>
#include <QWheelEvent>

namespace halvoren {

TabBar::TabBar(MacModel& model, QWidget* parent) : QWidget(parent), model(model)
{
    auto* column = new QVBoxLayout(this);
    column->setContentsMargins(0, 0, 0, 0);
    scroller = new QScrollArea(this);
    scroller->setFrameShape(QFrame::NoFrame);
    scroller->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    scroller->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    scroller->setWidgetResizable(true);
    strip = new QWidget(scroller);
    row = new QHBoxLayout(strip);
    row->setContentsMargins(8, 5, 8, 5);
    row->setSpacing(4);
    row->addStretch(1);
    scroller->setWidget(strip);
    // The bar paints its own background and line; the scroller lets them through.
    scroller->setAutoFillBackground(false);
    scroller->viewport()->setAutoFillBackground(false);
    strip->setAutoFillBackground(false);
    scroller->viewport()->installEventFilter(this);
    column->addWidget(scroller);

    scrolling = new QPropertyAnimation(scroller->horizontalScrollBar(), "value", this);
    scrolling->setDuration(350);
    scrolling->setEasingCurve(QEasingCurve::InOutQuad);

    connect(&model, &MacModel::tabsChanged, this, &TabBar::rebuild);
    connect(&model, &MacModel::activeTabIDChanged, this, [this] {
        showActive();
        // Once the chips have their places: a tab opened and activated in one go has none yet.
        QTimer::singleShot(0, this, &TabBar::scrollToActive);
    });
    connect(&model, &MacModel::tabLabelsChanged, this, &TabBar::refreshAll);
    connect(&model, &MacModel::connectionsChanged, this, &TabBar::refreshAll);
    rebuild();
    refreshAll();
}

QList<TabChip*> TabBar::chips() const
{
    QList<TabChip*> ordered;
    for (int index = 0; index < row->count(); ++index) {
        if (auto* found = qobject_cast<TabChip*>(row->itemAt(index)->widget()))
            ordered << found;
    }
    return ordered;
}

TabChip* TabBar::chip(const QString& key) const
{
    return chipsByKey.value(key);
}

void TabBar::rebuild()
{
    QHash<QString, TabChip*> kept;
    QList<TabChip*> ordered;
    for (MacTab* tab : model.tabs()) {
        const QString key = tab->id();
        TabChip* found = chipsByKey.take(key);
        if (found == nullptr)
            found = new TabChip(model, *tab, strip);
        else
            found->setTab(*tab);
        kept.insert(key, found);
        ordered << found;
    }
    // Chips of closed tabs go; a tab opened again later starts with a fresh chip.
    for (TabChip* gone : std::as_const(chipsByKey)) {
        row->removeWidget(gone);
        gone->discard();
    }
    chipsByKey = kept;
    for (TabChip* each : std::as_const(ordered))
        row->removeWidget(each);
    for (qsizetype index = 0; index < ordered.size(); ++index) {
        row->insertWidget(int(index), ordered.at(index));
        ordered.at(index)->show();
    }
    setFixedHeight(ordered.isEmpty() ? 0 : barHeight);
    showActive();
}

void TabBar::showActive()
{
    const std::optional<QString>& active = model.activeTabID();
    for (auto found = chipsByKey.cbegin(); found != chipsByKey.cend(); ++found)
        found.value()->setActive(active && *active == found.key());
}

void TabBar::refreshAll()
{
    // Titles and subtitles follow the project roots, which a refresh of the projects reports.
    for (MacConnection* connection : model.connections())
        connect(connection, &MacConnection::projectsChanged, this, &TabBar::refreshAll, Qt::UniqueConnection);
    for (TabChip* each : std::as_const(chipsByKey))
        each->refresh();
}

void TabBar::scrollToActive()
{
    const std::optional<QString>& active = model.activeTabID();
    if (!active)
        return;
    TabChip* shown = chipsByKey.value(*active);
    if (shown == nullptr)
        return;
    // Places the chips and lets the scroller take the strip's new width before measuring.
    row->activate();
    QCoreApplication::sendPostedEvents(nullptr, QEvent::LayoutRequest);
    QScrollBar* bar = scroller->horizontalScrollBar();
    const int centre = shown->geometry().center().x();
    const int target = std::clamp(centre - scroller->viewport()->width() / 2, bar->minimum(), bar->maximum());
    scrolling->stop();
    scrolling->setStartValue(bar->value());
    scrolling->setEndValue(target);
    scrolling->start();
}

void TabBar::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    painter.fillRect(rect(), tabBarBackground());
    painter.fillRect(QRect(0, height() - 1, width(), 1), hairlineColor());
}

bool TabBar::eventFilter(QObject* watched, QEvent* event)
{
    // An ordinary wheel turns the strip sideways: it has no other direction to go.
    if (watched == scroller->viewport() && event->type() == QEvent::Wheel) {
        auto* wheel = static_cast<QWheelEvent*>(event);
        const QPoint delta = wheel->angleDelta();
        if (delta.y() != 0 && delta.x() == 0) {
            QScrollBar* bar = scroller->horizontalScrollBar();
            scrolling->stop();
            bar->setValue(bar->value() - delta.y() / 2);
            return true;
        }
    }
    return QWidget::eventFilter(watched, event);
}

} // namespace halvoren
