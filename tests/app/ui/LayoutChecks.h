// Geometry checks shared by the views' tests: every control in view, no two drawn over each
// other, and every label showing its text whole or shortened with "…" where it reads last.
#pragma once

#include "style/VisibleText.h"
#include "ui/PlainText.h"

#include <QAbstractButton>
#include <QSlider>
#include <QImage>
#include <QLabel>
#include <QLineEdit>
#include <QPainter>

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <map>
#include <optional>
#include <vector>

namespace halvoren::test {

inline QString describe(const QWidget* widget)
{
    QString name = QString::fromLatin1(widget->metaObject()->className());
    if (!widget->objectName().isEmpty())
        name += u'#' + widget->objectName();
    if (const auto* label = qobject_cast<const QLabel*>(widget))
        name += QStringLiteral(" \"") + label->text().left(24) + u'"';
    else if (const auto* button = qobject_cast<const QAbstractButton*>(widget))
        name += QStringLiteral(" \"") + button->text() + u'"';
    return name;
}

inline bool isControl(const QWidget* widget)
{
    if (widget->objectName() == u"qtooltip_label")
        return false;
    if (const auto* label = qobject_cast<const QLabel*>(widget))
        return !label->text().isEmpty() || !label->pixmap().isNull();
    return qobject_cast<const QAbstractButton*>(widget) || qobject_cast<const QLineEdit*>(widget)
           || qobject_cast<const QSlider*>(widget);
}

// The controls shown under `scope` (itself included), leaving out the parts of a control (the
// clear button of a field).
inline std::vector<QWidget*> shownControls(QWidget& scope)
{
    std::vector<QWidget*> found;
    QList<QWidget*> all = scope.findChildren<QWidget*>();
    all.prepend(&scope);
    for (QWidget* widget : std::as_const(all)) {
        if (!isControl(widget) || !widget->isVisibleTo(scope.window()) || widget->size().isEmpty())
            continue;
        bool part = false;
        for (QWidget* up = widget->parentWidget(); up != nullptr && up != scope.parentWidget(); up = up->parentWidget())
            part = part || isControl(up);
        if (!part)
            found.push_back(widget);
    }
    return found;
}

inline QRect rectIn(const QWidget* widget, const QWidget* top)
{
    return QRect(widget->mapTo(top, QPoint(0, 0)), widget->size());
}

// The part of `widget` its parents leave visible, clipped to `area` of `top`.
inline QRect visiblePart(const QWidget* widget, const QWidget* top, const QRect& area)
{
    QRect shown = rectIn(widget, top) & area;
    for (const QWidget* up = widget->parentWidget(); up != nullptr && up != top; up = up->parentWidget())
        shown &= rectIn(up, top);
    return shown;
}

// Every control whole inside `area` of `top`, none drawn over another.
inline void expectControlsInViewApart(QWidget& scope, const QWidget* top, const QRect& area)
{
    const std::vector<QWidget*> controls = shownControls(scope);
    for (std::size_t i = 0; i < controls.size(); ++i) {
        const QRect whole = rectIn(controls[i], top);
        EXPECT_EQ(visiblePart(controls[i], top, area), whole)
            << describe(controls[i]).toStdString() << " is not whole in view";
        for (std::size_t j = i + 1; j < controls.size(); ++j) {
            EXPECT_FALSE(whole.intersects(rectIn(controls[j], top)))
                << describe(controls[i]).toStdString() << " and " << describe(controls[j]).toStdString() << " overlap";
        }
    }
}

// Columns of `box` holding ink: pixels other than the box's most common colour.
inline std::vector<std::vector<int>> inkRowsByColumn(const QImage& image, const QRect& box)
{
    std::map<QRgb, int> counts;
    for (int y = box.top(); y <= box.bottom(); ++y)
        for (int x = box.left(); x <= box.right(); ++x)
            ++counts[image.pixel(x, y)];
    QRgb background = 0;
    int most = -1;
    for (const auto& [colour, count] : counts) {
        if (count > most) {
            most = count;
            background = colour;
        }
    }
    std::vector<std::vector<int>> columns(std::max(box.width(), 0));
    for (int x = box.left(); x <= box.right(); ++x)
        for (int y = box.top(); y <= box.bottom(); ++y)
            if (image.pixel(x, y) != background)
                columns[x - box.left()].push_back(y);
    return columns;
}

// The highest row inked within `span` columns of one end of `box`, and whether any is.
inline std::optional<int> inkTopAtEnd(const QImage& image, const QRect& box, bool leftEnd, int span)
{
    const auto ink = inkRowsByColumn(image, box);
    int end = -1;
    for (int i = 0; i < int(ink.size()) && end < 0; ++i)
        if (!ink[leftEnd ? i : int(ink.size()) - 1 - i].empty())
            end = i;
    if (end < 0)
        return std::nullopt;
    int top = box.height();
    for (int i = end; i < std::min(end + span, int(ink.size())); ++i)
        for (const int y : ink[leftEnd ? i : int(ink.size()) - 1 - i])
            top = std::min(top, y - box.top());
    return top;
}

// The "…" of a shortened line is drawn where the text reads last (right for left-to-right,
// left for right-to-left): the ink at that end of `box` is no higher than that of the "…" drawn
// after the last character kept of `shown`, in the same font and reading direction (a letter
// left there instead reaches higher).
inline void expectEllipsisAtReadingEnd(const QImage& image, const QRect& box, const QFont& font,
                                       Qt::LayoutDirection direction, const QString& shown, const std::string& what)
{
    ASSERT_TRUE(shown.endsWith(u'…')) << what;
    // The "…" after the last letter kept: it takes the font of that letter's script, as in the
    // line, even across a space or a joiner.
    qsizetype last = shown.size() - 2;
    while (last > 0 && !shown.at(last).isLetter())
        --last;
    const QString end = last > 0 ? shown.mid(last) : shown.right(2);
    QImage alone(box.size(), QImage::Format_ARGB32_Premultiplied);
    alone.fill(Qt::black);
    {
        QPainter painter(&alone);
        painter.setFont(font);
        painter.setPen(Qt::white);
        drawReadingLine(painter, QRectF(QPointF(0, 0), QSizeF(box.size())),
                        (direction == Qt::RightToLeft ? Qt::AlignLeft : Qt::AlignRight) | Qt::AlignVCenter,
                        end, direction);
    }
    const bool leftEnd = direction == Qt::RightToLeft;
    const int span = QFontMetrics(font).horizontalAdvance(QStringLiteral("…")) * 2 / 3;
    const std::optional<int> dots = inkTopAtEnd(alone, alone.rect(), leftEnd, span);
    const std::optional<int> drawn = inkTopAtEnd(image, box, leftEnd, span);
    ASSERT_TRUE(dots.has_value()) << what;
    ASSERT_TRUE(drawn.has_value()) << what << ": nothing drawn";
    EXPECT_GE(*drawn, *dots) << what << ": at the " << (leftEnd ? "left" : "right")
                             << " end, ink reaches higher than the \"…\" would";
}

// A label shows its whole text, or a start of it followed by "…"; nothing is cut by its edges.
inline void expectLabelWholeOrShortened(QLabel& label)
{
    const std::string what = describe(&label).toStdString();
    const QFontMetrics metrics(label.font());
    const QRect box = label.contentsRect().adjusted(label.margin(), label.margin(), -label.margin(), -label.margin());
    if (auto* elided = qobject_cast<ElidedLabel*>(&label)) {
        const QString whole = visibleText(elided->fullText());
        const QString shown = elided->text();
        EXPECT_LE(metrics.horizontalAdvance(shown), box.width()) << what;
        if (shown == whole)
            return;
        // A letter cut from the next one keeps its joining form, through a joiner before the "…".
        QString kept = shown.chopped(1);
        if (kept.endsWith(QChar(0x200D)))
            kept.chop(1);
        EXPECT_TRUE(shown.endsWith(u'…') && whole.startsWith(kept)) << what << ": " << shown.toStdString();
        QImage image(label.size(), QImage::Format_ARGB32_Premultiplied);
        image.fill(QColor(90, 40, 160));
        label.render(&image, {}, {}, QWidget::DrawChildren);
        expectEllipsisAtReadingEnd(image, box, label.font(), readingDirection(whole), shown, what);
        return;
    }
    if (auto* wrapped = qobject_cast<WrappedLabel*>(&label)) {
        EXPECT_LE(wrapped->heightForWidth(label.width()), label.height()) << what << ": lines cut at the bottom";
        const QStringList lines = wrapped->shownLines();
        for (const QString& line : lines)
            EXPECT_LE(metrics.horizontalAdvance(line), box.width()) << what << ": " << line.toStdString();
        const QString whole = visibleText(label.text());
        QString shown = lines.join(QString());
        QString compact = whole;
        compact.remove(u' ');
        shown.remove(u' ');
        // As on one line, a letter cut from the next one keeps its joining form through a joiner.
        const bool shortened = shown.endsWith(u'…');
        QString kept = shortened ? shown.chopped(1) : QString();
        if (kept.endsWith(QChar(0x200D)))
            kept.chop(1);
        EXPECT_TRUE(shown == compact || (shortened && compact.startsWith(kept)))
            << what << ": " << lines.join(u'|').toStdString();
        return;
    }
    if (label.text().isEmpty())
        return;
    if (!label.wordWrap()) {
        EXPECT_LE(metrics.horizontalAdvance(label.text()), box.width()) << what << ": cut at its edge";
        return;
    }
    EXPECT_LE(label.heightForWidth(label.width()), label.height()) << what << ": lines cut at the bottom";
    for (const QString& word : label.text().split(u' '))
        EXPECT_LE(metrics.horizontalAdvance(word), box.width()) << what << ": a word cut at its edge";
}

inline void expectLabelsWholeOrShortened(QWidget& scope)
{
    for (QWidget* control : shownControls(scope))
        if (auto* label = qobject_cast<QLabel*>(control))
            expectLabelWholeOrShortened(*label);
}

} // namespace halvoren::test
