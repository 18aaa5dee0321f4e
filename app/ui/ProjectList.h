// The rows of one list of projects, at one depth of the sidebar's tree: a root's projects, or
// the sub-folders under an expanded row. Only the rows near the part of the sidebar in view
// exist as widgets, placed by hand: a folder of thousands of projects would otherwise make
// thousands of widgets each time it is shown, each laid out and clipped against all the others.
// A row that is not expanded is one line high; an expanded one is made at once and kept, since
// its height depends on its own sub-folders (which are a list of this kind again).
#pragma once

#include "ui/ProjectRow.h"

#include <QHash>
#include <QList>
#include <QPointer>
#include <QSet>
#include <QWidget>

#include <vector>

class QScrollArea;

namespace halvoren {

class ProjectList : public QWidget {
    Q_OBJECT

public:
    // The view is the scroll area the list is shown in, found among its ancestors; a list
    // outside any scroll area takes its window as the view.
    ProjectList(MacModel& model, QList<MacProject> projects, MacConnection& connection, int depth,
                OpenProjectAction open, QWidget* parent);

    QSize sizeHint() const override;
    // The rows that exist now, in no particular order.
    QList<ProjectRow*> madeRows() const { return rows.values(); }

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;
    void resizeEvent(QResizeEvent*) override;
    void moveEvent(QMoveEvent*) override;
    void showEvent(QShowEvent*) override;

private:
    ProjectRow* makeRow(qsizetype index);
    void fit(qsizetype index, ProjectRow& row) const;
    // Follows the scroll area once it is among the list's ancestors.
    void findView();
    void place();

    MacModel& model;
    const QList<MacProject> projects;
    const QPointer<MacConnection> connection;
    const int depth;
    const OpenProjectAction open;
    QPointer<QScrollArea> scroller;
    // The top of each row and, last, the height of the whole list.
    std::vector<qint64> tops;
    QHash<qsizetype, ProjectRow*> rows;
    QSet<qsizetype> kept;
};

} // namespace halvoren
