#include "ui/PlainText.h"

#include "style/VisibleText.h"

#include <QEvent>
#include <QFontMetrics>
#include <QGuiApplication>
#include <QLayout>
#include <QPainter>
#include <QScreen>
#include <QStyle>
#include <QTextLayout>
#include <QToolTip>

#include <algorithm>
#include <cmath>
#include <limits>

namespace halvoren {

QLabel* plainLabel(const QString& text, QWidget* parent)
{
    auto* label = new QLabel(parent);
    label->setTextFormat(Qt::PlainText);
    label->setText(text);
    return label;
}

namespace {

// A tooltip's lines are at most this many average characters of its font: a long text reads in
// lines of a length that reads easily, not from one edge of a wide screen to the other.
constexpr int toolTipColumns = 80;
// What a tooltip keeps clear of the screen's edges, its frame and margins included.
constexpr int toolTipScreenMargin = 48;
// The most lines when no screen tells how many it holds.
constexpr int toolTipLinesWithoutScreen = 40;

// The room a tooltip's text has on every screen, in the tooltip's font.
struct ToolTipRoom {
    qreal width = 0, height = 0;
};

ToolTipRoom toolTipRoom(const QFontMetricsF& metrics)
{
    ToolTipRoom room{toolTipColumns * metrics.averageCharWidth(), toolTipLinesWithoutScreen * metrics.lineSpacing()};
    const QList<QScreen*> screens = QGuiApplication::screens();
    if (!screens.isEmpty())
        room.height = std::numeric_limits<qreal>::max();
    // The narrowest and the shortest screen: the tooltip may show on any of them.
    for (const QScreen* screen : screens) {
        const QRect available = screen->availableGeometry();
        room.width = std::min(room.width, qreal(available.width() - toolTipScreenMargin));
        room.height = std::min(room.height, qreal(available.height() - toolTipScreenMargin));
    }
    room.width = std::max(room.width, 1.0);
    room.height = std::max(room.height, metrics.lineSpacing());
    return room;
}

// Where a line of text ends whatever its width: a tooltip shows each as a line break.
bool isLineBreak(QChar c)
{
    return c == u'\n' || c == QChar::LineSeparator || c == QChar::ParagraphSeparator;
}

} // namespace

QString plainToolTip(const QString& text)
{
    if (text.isEmpty())
        return text;
    // Qt wraps a tooltip of rich text to a narrow column of its own choosing, whatever room the
    // screen has. So the lines are made here, at the width a tooltip may take, between words
    // where they can break and between clusters inside a word too long for a line, and shown as
    // they are, never wrapped again: the tooltip is as wide as its longest line.
    const QFont font = QToolTip::font();
    const QFontMetricsF metrics(font);
    const ToolTipRoom room = toolTipRoom(metrics);
    // No character drawn is narrower than a pixel but those of no width at all: the lines that
    // fit on a screen show no more than a pixel's worth of characters each, and the rest of a
    // huge text is never laid out.
    const qsizetype most = (qsizetype(room.height / metrics.lineSpacing()) + 1) * (qsizetype(room.width) + 1);
    QString whole = text;
    bool more = false;
    if (whole.size() > most) {
        whole.truncate(most);
        if (whole.back().isHighSurrogate())
            whole.chop(1);
        more = true;
    }
    QStringList lines;
    qreal used = 0;
    QTextOption option;
    option.setWrapMode(QTextOption::WrapAtWordBoundaryOrAnywhere);
    for (qsizetype start = 0; start <= whole.size();) {
        qsizetype end = start;
        while (end < whole.size() && !isLineBreak(whole.at(end)))
            ++end;
        const QString paragraph = whole.mid(start, end - start);
        start = end + 1;
        QTextLayout layout(paragraph, font);
        layout.setTextOption(option);
        layout.beginLayout();
        for (QTextLine line = layout.createLine(); line.isValid(); line = layout.createLine()) {
            line.setLineWidth(room.width);
            used += line.height();
            if (used > room.height)
                break;
            // A break between words leaves their spaces at the end of the line, where they stay.
            lines << paragraph.mid(line.textStart(), line.textLength());
        }
        layout.endLayout();
        if (used > room.height) {
            more = true;
            break;
        }
    }
    if (more) {
        // Taller than a screen: the last line that fits says that text follows.
        if (lines.isEmpty())
            lines << QString();
        lines.back() = elidedAtEnd(lines.back() + u'…', QFontMetrics(font), int(room.width));
    }
    // Escaped, so no markup of the text is read; spaces, tabs and line breaks kept as they are.
    for (QString& line : lines)
        line = line.toHtmlEscaped();
    return QStringLiteral("<p style=\"white-space:pre\">") + lines.join(QStringLiteral("<br>")) + QStringLiteral("</p>");
}

QString plainWindowTitle(const QString& text)
{
    QString escaped = text;
    return escaped.replace(QStringLiteral("[*]"), QStringLiteral("[*][*]"));
}

QSize fixedWidthSheetSize(const QWidget& sheet)
{
    const int width = sheet.minimumWidth();
    return {width, sheet.layout() != nullptr ? sheet.layout()->totalHeightForWidth(width) : sheet.minimumHeight()};
}

Qt::LayoutDirection readingDirection(const QString& text)
{
    return text.isRightToLeft() ? Qt::RightToLeft : Qt::LeftToRight;
}

QString elidedAtEnd(const QString& text, const QFontMetrics& metrics, int width)
{
    // Cut in logical order: the "…" follows the last character kept, which is where the text
    // reads last once it is drawn in its own direction.
    if (metrics.horizontalAdvance(text) <= width)
        return text;
    // The cut is measured with the fallback fonts of the text around the "…", which may draw it
    // wider than it measures alone: cut again until what is drawn fits.
    QString shown = metrics.elidedText(text, Qt::ElideRight, std::max(width, 0));
    for (int room = width; room > 0 && metrics.horizontalAdvance(shown) > width;) {
        room -= metrics.horizontalAdvance(shown) - width;
        shown = metrics.elidedText(text, Qt::ElideRight, std::max(room, 0));
    }
    return shown;
}

void drawReadingLine(QPainter& painter, const QRectF& box, Qt::Alignment alignment, const QString& text,
                     Qt::LayoutDirection direction)
{
    const int flags = int(alignment) | Qt::AlignAbsolute | Qt::TextSingleLine
                      | (direction == Qt::RightToLeft ? Qt::TextForceRightToLeft : Qt::TextForceLeftToRight);
    painter.drawText(box, flags, text);
}

namespace {

QColor textColour(const QLabel& label)
{
    return label.palette().color(label.isEnabled() ? QPalette::Active : QPalette::Disabled, label.foregroundRole());
}

} // namespace

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
    if (wholeInToolTip)
        setToolTip(plainToolTip(visibleText(full)));
    relayout();
    updateGeometry();
}

void ElidedLabel::showWholeTextInToolTip()
{
    wholeInToolTip = true;
    setToolTip(plainToolTip(visibleText(full)));
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
    const QString shown = elidedAtEnd(line, metrics, room);
    // Kept for painting, which then reads no more than the text shown.
    direction = readingDirection(line);
    if (shown != text())
        setText(shown);
}

void ElidedLabel::paintEvent(QPaintEvent*)
{
    // Drawn in the reading direction of the whole text, which the cut text may have lost.
    QPainter painter(this);
    drawFrame(&painter);
    const int inset = std::max(margin(), 0);
    painter.setPen(textColour(*this));
    drawReadingLine(painter, contentsRect().adjusted(inset, inset, -inset, -inset),
                    QStyle::visualAlignment(layoutDirection(), alignment()), text(), direction);
}

WrappedLabel::WrappedLabel(const QString& text, QWidget* parent) : QLabel(parent)
{
    setTextFormat(Qt::PlainText);
    setText(text);
    QSizePolicy policy(QSizePolicy::Preferred, QSizePolicy::Preferred);
    policy.setHeightForWidth(true);
    setSizePolicy(policy);
}

void WrappedLabel::setMaximumLines(int lines)
{
    if (lines == lineLimit)
        return;
    lineLimit = std::max(lines, 0);
    updateGeometry();
    update();
}

int WrappedLabel::textWidth(int width) const
{
    const QMargins margins = contentsMargins();
    return std::max(width - margins.left() - margins.right() - 2 * std::max(margin(), 0), 1);
}

int WrappedLabel::chrome() const
{
    const QMargins margins = contentsMargins();
    return margins.top() + margins.bottom() + 2 * std::max(margin(), 0);
}

QString WrappedLabel::shownPart(qsizetype most, bool& cut) const
{
    const QString whole = text();
    qsizetype length = whole.size();
    if (lineLimit > 0 && length > most) {
        length = most;
        if (whole.at(length - 1).isHighSurrogate())
            --length;
    }
    cut = length < whole.size();
    return visibleText(cut ? whole.left(length) : whole);
}

QStringList WrappedLabel::linesAt(int width) const
{
    return layOut(width).lines;
}

WrappedLabel::Laid WrappedLabel::layOut(int width) const
{
    const int room = textWidth(width);
    // No character drawn is narrower than a pixel but those of no width at all: the lines can
    // show no more than a pixel's worth of characters each, and the rest of a long text is
    // never laid out.
    bool cut = false;
    const QString whole = shownPart(qsizetype(lineLimit) * (room + 1), cut);
    if (whole.isEmpty())
        return {};
    Laid laid{{}, readingDirection(whole)};
    QStringList& lines = laid.lines;
    QTextLayout layout(whole, font());
    QTextOption option;
    option.setWrapMode(QTextOption::WrapAtWordBoundaryOrAnywhere);
    option.setTextDirection(laid.direction);
    layout.setTextOption(option);
    layout.beginLayout();
    for (QTextLine line = layout.createLine(); line.isValid(); line = layout.createLine()) {
        line.setLineWidth(room);
        // A break between words leaves their spaces at the end of the line, unseen.
        QString piece = whole.mid(line.textStart(), line.textLength());
        while (!piece.isEmpty() && piece.back().isSpace())
            piece.chop(1);
        lines << piece;
        if (lineLimit > 0 && lines.size() > lineLimit)
            break;
    }
    layout.endLayout();
    const bool more = lineLimit > 0 && lines.size() > lineLimit;
    if (more || cut) {
        // The last line shown says that text follows, even when what was laid out fitted.
        const int last = int(std::min<qsizetype>(lines.size(), lineLimit)) - 1;
        QString rest = whole.mid(layout.lineAt(last).textStart()).trimmed();
        if (!more)
            rest += u'…';
        lines.resize(last + 1);
        lines.back() = elidedAtEnd(rest, QFontMetrics(font()), room);
    }
    return laid;
}

QStringList WrappedLabel::shownLines() const
{
    return linesAt(width());
}

int WrappedLabel::heightForWidth(int width) const
{
    const int count = std::max<qsizetype>(linesAt(width).size(), 1);
    return count * QFontMetrics(font()).lineSpacing() + chrome();
}

int WrappedLabel::naturalWidth() const
{
    const QMargins margins = contentsMargins();
    bool cut = false;
    const QString whole = shownPart(widestLine, cut);
    // Measured as the lines are laid out, in fractions of a pixel, and rounded up: the width
    // of the font metrics, rounded to the nearest pixel, may fall a fraction short of the line
    // and send its last word to a second one.
    QTextLayout layout(whole, font());
    QTextOption option;
    option.setTextDirection(readingDirection(whole));
    layout.setTextOption(option);
    layout.beginLayout();
    // A line given no width takes the whole text.
    const QTextLine line = layout.createLine();
    layout.endLayout();
    const qreal width = line.isValid() ? line.naturalTextWidth() : 0;
    return int(std::ceil(width)) + margins.left() + margins.right() + 2 * std::max(margin(), 0);
}

QSize WrappedLabel::sizeHint() const
{
    // No wider than a short sentence: a window sized to its hint asks the height of the lines at
    // about its own width, not at the width of a long text on one line, which would leave the
    // lines it really takes cut at the bottom.
    const QFontMetrics metrics(font());
    const int width = std::min(naturalWidth(), metrics.averageCharWidth() * 40);
    return {width, heightForWidth(width)};
}

QSize WrappedLabel::minimumSizeHint() const
{
    const QMargins margins = contentsMargins();
    return {margins.left() + margins.right() + 2 * std::max(margin(), 0), QFontMetrics(font()).lineSpacing() + chrome()};
}

void WrappedLabel::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    drawFrame(&painter);
    const int inset = std::max(margin(), 0);
    const QRect box = contentsRect().adjusted(inset, inset, -inset, -inset);
    const Laid laid = layOut(width());
    const int lineHeight = QFontMetrics(font()).lineSpacing();
    const int used = int(laid.lines.size()) * lineHeight;
    int y = box.top();
    if (alignment() & Qt::AlignVCenter)
        y += std::max((box.height() - used) / 2, 0);
    else if (alignment() & Qt::AlignBottom)
        y += std::max(box.height() - used, 0);
    const Qt::Alignment across = QStyle::visualAlignment(layoutDirection(), alignment()) & Qt::AlignHorizontal_Mask;
    painter.setPen(textColour(*this));
    for (const QString& line : laid.lines) {
        drawReadingLine(painter, QRectF(box.left(), y, box.width(), lineHeight), across | Qt::AlignVCenter, line,
                        laid.direction);
        y += lineHeight;
    }
}

} // namespace halvoren
