// Texts from the disk, a host or the user on screen as typed. Qt reads a text that looks like
// markup as rich text in a label left in its default format and in every tooltip: a folder named
// "<b>x</b>" would be drawn bold, and "<img src=F>" would make the main thread open F (a FIFO
// blocks it for good). Rich text also takes the clicks meant for the row or chip under it.
// Every label, tooltip and window title of the application that may hold such a text goes
// through these.
#pragma once

#include <QLabel>
#include <QString>

class QWidget;

namespace halvoren {

// A label that never reads its text as markup, now or after a later setText.
QLabel* plainLabel(const QString& text, QWidget* parent);

// A tooltip that shows `text` as typed. Escaping alone is not enough: Qt shows an escaped text
// without tags as plain, so "a & b" would read "a &amp; b". An empty text stays empty (no tip).
QString plainToolTip(const QString& text);

// A window title: "[*]" stands for the "modified" mark there, "[*][*]" is the text itself.
QString plainWindowTitle(const QString& text);

// One line of plain text (control characters as their symbols, as `visibleText` shows them) cut
// with "…" at the right to the width the layout gives it. It would like its whole text's width
// but needs none (its minimum width is 0), so a long name never widens what holds it nor pushes
// its neighbours out; the cut is made again whenever its width or font changes.
class ElidedLabel : public QLabel {
    Q_OBJECT

public:
    explicit ElidedLabel(const QString& text = {}, QWidget* parent = nullptr);

    void setFullText(const QString& text);
    const QString& fullText() const { return full; }

    QSize minimumSizeHint() const override;
    QSize sizeHint() const override;

protected:
    void resizeEvent(QResizeEvent* event) override;
    void changeEvent(QEvent* event) override;

private:
    void relayout();

    QString full;
};

} // namespace halvoren
