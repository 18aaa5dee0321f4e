// The strip above the tab bar announcing a newer release, with its notes, a download button
// and a close button. Shown while a release is known and the user has not closed the strip.
#pragma once

#include "ui/PlainText.h"

#include <QFont>
#include <QLabel>
#include <QPushButton>
#include <QStringList>
#include <QToolButton>
#include <QWidget>

namespace halvoren {

class MacUpdate;

// The first `maxLines` lines of `text` laid out at `width`, a line break of the text starting a
// line and other control characters shown as symbols; a word longer than the line goes on over
// the next. When more would follow, the last kept line ends with "…", after whole characters.
QStringList clampLines(const QString& text, const QFont& font, qreal width, int maxLines);

// A plain-text label of at most two lines that re-lays its text whenever its width changes.
class NotesLabel : public QLabel {
    Q_OBJECT

public:
    static constexpr int maxLines = 2;

    explicit NotesLabel(QWidget* parent = nullptr);
    void setNotes(const QString& value);
    const QString& notes() const { return full; }
    QSize minimumSizeHint() const override { return {0, QLabel::minimumSizeHint().height()}; }

protected:
    void resizeEvent(QResizeEvent* event) override;

private:
    void relayout();

    QString full;
};

class UpdateBar : public QWidget {
    Q_OBJECT

public:
    explicit UpdateBar(MacUpdate& update, QWidget* parent = nullptr);

    MacUpdate& update;

    void refresh();

    // The release's name on one line, cut to the bar's width: the server's text never widens the window.
    ElidedLabel* const title;
    NotesLabel* const notesLabel;
    QPushButton* const downloadButton;
    QToolButton* const closeButton;

protected:
    void paintEvent(QPaintEvent* event) override;
};

} // namespace halvoren
