#include "ui/ProjectList.h"

#include <QEvent>
#include <QScrollArea>
#include <QScrollBar>

#include <algorithm>

namespace halvoren {

ProjectList::ProjectList(MacModel& model, QList<MacProject> projects, MacConnection& connection, int depth,
                         OpenProjectAction open, QWidget* parent)
    : QWidget(parent), model(model), projects(std::move(projects)), connection(&connection), depth(depth),
      open(std::move(open))
{
    setObjectName(QStringLiteral("projectList"));
    tops.reserve(std::size_t(this->projects.size()) + 1);
    tops.push_back(0);
    const QSet<QString>& expanded = connection.expanded();
    for (qsizetype index = 0; index < this->projects.size(); ++index) {
        int height = rowLineHeight;
        if (expanded.contains(this->projects.at(index).path)) {
            ProjectRow* row = makeRow(index);
            kept.insert(index);
            height = row->sizeHint().height();
        }
        tops.push_back(tops.back() + qint64(height));
    }
    setFixedHeight(int(std::min<qint64>(tops.back(), QWIDGETSIZE_MAX)));
    findView();
    place();
}

QSize ProjectList::sizeHint() const
{
    return QSize(QWidget::sizeHint().width(), height());
}

void ProjectList::findView()
{
    if (scroller)
        return;
    for (QWidget* above = parentWidget(); above != nullptr; above = above->parentWidget()) {
        if (auto* area = qobject_cast<QScrollArea*>(above)) {
            scroller = area;
            connect(area->verticalScrollBar(), &QScrollBar::valueChanged, this, &ProjectList::place);
            area->viewport()->installEventFilter(this);
            return;
        }
    }
}

bool ProjectList::eventFilter(QObject* watched, QEvent* event)
{
    if (scroller && watched == scroller->viewport() && event->type() == QEvent::Resize)
        place();
    return false;
}

void ProjectList::resizeEvent(QResizeEvent*)
{
    for (auto row = rows.cbegin(); row != rows.cend(); ++row)
        fit(row.key(), *row.value());
    place();
}

void ProjectList::moveEvent(QMoveEvent*)
{
    place();
}

void ProjectList::showEvent(QShowEvent*)
{
    findView();
    place();
}

ProjectRow* ProjectList::makeRow(qsizetype index)
{
    auto* row = new ProjectRow(model, projects.at(index), *connection, depth, open, this);
    rows.insert(index, row);
    fit(index, *row);
    row->show();
    return row;
}

void ProjectList::fit(qsizetype index, ProjectRow& row) const
{
    row.setGeometry(0, int(tops[std::size_t(index)]), width(),
                    int(tops[std::size_t(index) + 1] - tops[std::size_t(index)]));
}

// Makes the rows within a screen of the view and drops the others. Before the sidebar is laid
// out the view is wherever it stands, which still makes the first rows.
void ProjectList::place()
{
    const QWidget* view = scroller ? scroller->viewport() : window();
    if (view != this && !view->isAncestorOf(this))
        return;
    const int margin = std::max(view->height(), 256);
    const qint64 from = qint64(mapFrom(view, QPoint(0, 0)).y()) - margin;
    const qint64 to = from + view->height() + 2 * qint64(margin);
    // The rows whose lines meet [from, to).
    const auto first = std::upper_bound(tops.cbegin(), tops.cend() - 1, from) - tops.cbegin() - 1;
    const auto last = std::lower_bound(tops.cbegin(), tops.cend() - 1, to) - tops.cbegin();
    const qsizetype begin = std::max<qsizetype>(first, 0);
    const qsizetype end = std::max<qsizetype>(last, begin);
    for (auto row = rows.begin(); row != rows.end();) {
        if ((row.key() >= begin && row.key() < end) || kept.contains(row.key())) {
            ++row;
            continue;
        }
        // It may be the sender of the event that brought us here: it goes later.
        row.value()->hide();
        row.value()->deleteLater();
        row = rows.erase(row);
    }
    // A removed server's list makes no more rows; the sidebar rebuilds on the next turn.
    for (qsizetype index = begin; index < end && connection; ++index) {
        if (!rows.contains(index))
            makeRow(index);
    }
}

} // namespace halvoren
