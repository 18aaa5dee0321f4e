#include "ui/PlainText.h"

#include "style/VisibleText.h"

#include <QEvent>
#include <QFontMetrics>
#include <QTextDocument>

#include <algorithm>

namespace halvoren {

QLabel* plainLabel(const QString& text, QWidget* parent)
{
    auto* label = new QLabel(parent);
    label->setTextFormat(Qt::PlainText);
    label->setText(text);
    return label;
}

QString plainToolTip(const QString& text)
{
    if (text.isEmpty())
        return text;
    return Qt::convertFromPlainText(text, Qt::WhiteSpacePre);
}

QString plainWindowTitle(const QString& text)
{
    QString escaped = text;
    return escaped.replace(QStringLiteral("[*]"), QStringLiteral("[*][*]"));
}

ElidedLabel::ElidedLabel(const QString& text, QWidget* parent) : QLabel(parent), full(text)
{
    setTextFormat(Qt::PlainText);
    setWordWrap(false);
    relayout();
}

void ElidedLabel::setFullText(const QString& text)
{
    if (text == full)
        return;
    full = text;
    relayout();
    updateGeometry();
}

QSize ElidedLabel::minimumSizeHint() const
{
    return {0, QLabel::minimumSizeHint().height()};
}

QSize ElidedLabel::sizeHint() const
{
    // The whole text's width, for a layout that has room to give; the height of one line.
    const QMargins margins = contentsMargins();
    return {QFontMetrics(font()).horizontalAdvance(visibleText(full)) + margins.left() + margins.right() + 2 * std::max(margin(), 0),
            QLabel::sizeHint().height()};
}

void ElidedLabel::resizeEvent(QResizeEvent* event)
{
    QLabel::resizeEvent(event);
    relayout();
}

void ElidedLabel::changeEvent(QEvent* event)
{
    QLabel::changeEvent(event);
    if (event->type() == QEvent::FontChange || event->type() == QEvent::ContentsRectChange)
        relayout();
}

void ElidedLabel::relayout()
{
    // Measured as the label draws, so that a text given its whole width is never cut.
    const QFontMetrics metrics(font());
    const QString line = visibleText(full);
    const int room = std::max(contentsRect().width() - 2 * std::max(margin(), 0), 0);
    const QString shown = metrics.horizontalAdvance(line) <= room ? line : metrics.elidedText(line, Qt::ElideRight, room);
    if (shown != text())
        setText(shown);
}

} // namespace halvoren
