// Texts from the disk, a host or the user on screen as typed. Qt reads a text that looks like
// markup as rich text in a label left in its default format and in every tooltip: a folder named
// "<b>x</b>" would be drawn bold, and "<img src=F>" would make the main thread open F (a FIFO
// blocks it for good). Rich text also takes the clicks meant for the row or chip under it.
// Every label, tooltip and window title of the application that may hold such a text goes
// through these.
#pragma once

#include <QLabel>
#include <QString>
#include <QStringList>

class QFontMetrics;
class QPainter;
class QRectF;
class QWidget;

namespace halvoren {

// A label that never reads its text as markup, now or after a later setText.
QLabel* plainLabel(const QString& text, QWidget* parent);

// A tooltip that shows `text` as typed. Escaping alone is not enough: Qt shows an escaped text
// without tags as plain, so "a & b" would read "a &amp; b". An empty text stays empty (no tip).
// The tooltip is as wide as its longest line up to the narrower of 80 average characters of the
// tooltip's font and every screen (less a margin), and wraps only beyond, between words or
// between clusters inside a word too long for a line; spaces, tabs and line breaks are kept. A
// text taller than a screen ends with "…" on the last line that fits.
QString plainToolTip(const QString& text);

// A window title: "[*]" stands for the "modified" mark there, "[*][*]" is the text itself.
QString plainWindowTitle(const QString& text);

// The direction `text` reads in: that of its first letter of a strong direction (Latin, CJK:
// left to right; Arabic, Hebrew: right to left), left to right when it has none.
Qt::LayoutDirection readingDirection(const QString& text);

// `text` whole when it fits `width`, else cut with "…" at the end of its reading order: on the
// right of a left-to-right text, on the left of a right-to-left one once drawn in its direction.
QString elidedAtEnd(const QString& text, const QFontMetrics& metrics, int width);

// One line of `text` drawn in `box` in the given reading direction, `alignment` taken as on
// screen (left stays left whatever the direction), so a cut text shows its "…" where it reads last.
void drawReadingLine(QPainter& painter, const QRectF& box, Qt::Alignment alignment, const QString& text,
                     Qt::LayoutDirection direction);

// One line of plain text (control characters as their symbols, as `visibleText` shows them) cut
// with "…" at the end of its reading order to the width the layout gives it. It would like its whole text's width
// but needs none (its minimum width is 0), so a long name never widens what holds it nor pushes
// its neighbours out; the cut is made again whenever its width or font changes.
class ElidedLabel : public QLabel {
    Q_OBJECT

public:
    explicit ElidedLabel(const QString& text = {}, QWidget* parent = nullptr);

    void setFullText(const QString& text);
    const QString& fullText() const { return full; }
    // From now on, the whole text (as plain text) is the tooltip, through every later text: a
    // name cut alike with another is told apart there.
    void showWholeTextInToolTip();

    QSize minimumSizeHint() const override;
    QSize sizeHint() const override;

protected:
    void resizeEvent(QResizeEvent* event) override;
    void changeEvent(QEvent* event) override;
    void paintEvent(QPaintEvent* event) override;

private:
    void relayout();

    QString full;
    Qt::LayoutDirection direction = Qt::LeftToRight;
    bool wholeInToolTip = false;
};

// The size of a sheet of fixed width that holds wrapped texts: its width, and the height its
// layout takes at that width. Not the width of a long name on one line, at which the wrapped
// texts would be measured and the sheet made too short for their lines at its real width.
QSize fixedWidthSheetSize(const QWidget& sheet);

// The most lines of a sheet's title that names a server or a folder: a name of any length keeps
// the sheet within a screen, and reads whole in the title's tooltip.
inline constexpr int titleLines = 4;

// Plain text (control characters as their symbols) wrapped to the width the layout gives it,
// between words where it can and anywhere inside a word too long for a line, so no character is
// ever cut by the edge. Its height follows its text at that width; with a most number of lines,
// the last one shown ends with "…" at the end of its reading order when text remains.
// `text()` stays the whole text.
class WrappedLabel : public QLabel {
    Q_OBJECT

public:
    explicit WrappedLabel(const QString& text = {}, QWidget* parent = nullptr);

    // 0: as many lines as the text needs.
    void setMaximumLines(int lines);
    int maximumLines() const { return lineLimit; }

    // The lines as drawn at the label's width.
    QStringList shownLines() const;
    QStringList linesAt(int width) const;

    // The whole text on one line, margins included.
    int naturalWidth() const;

    bool hasHeightForWidth() const override { return true; }
    int heightForWidth(int width) const override;
    QSize sizeHint() const override;
    QSize minimumSizeHint() const override;

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    // The lines at a width, and the direction the text reads in.
    struct Laid {
        QStringList lines;
        Qt::LayoutDirection direction = Qt::LeftToRight;
    };
    Laid layOut(int width) const;
    // Wider than any screen: a one-line text is measured no further.
    static constexpr qsizetype widestLine = 10000;

    // The text as shown, whole or, with a most number of lines, its first `most` characters at
    // most, so that a huge text costs no more than what the lines can show; `cut` tells which.
    QString shownPart(qsizetype most, bool& cut) const;
    // Room for the text inside the margins of a label `width` wide.
    int textWidth(int width) const;
    int chrome() const;

    int lineLimit = 0;
};

} // namespace halvoren
