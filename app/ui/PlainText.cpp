#include "ui/PlainText.h"

#include "style/VisibleText.h"

#include <QEvent>
#include <QFontMetrics>
#include <QLayout>
#include <QPainter>
#include <QStyle>
#include <QTextBoundaryFinder>
#include <QTextLayout>

#include <algorithm>
#include <cmath>

namespace halvoren {

QLabel* plainLabel(const QString& text, QWidget* parent)
{
    auto* label = new QLabel(parent);
    label->setTextFormat(Qt::PlainText);
    label->setText(text);
    return label;
}

namespace {

// A word up to this many characters fits any tooltip's line: it wraps whole.
constexpr qsizetype longestWholeWord = 24;
constexpr QChar breakOpportunity(char16_t(0x200B));

// `text` with a zero-width space between the characters of each word longer than
// `longestWholeWord` (a word running from one place a line may break to the next: a space, a
// slash, a hyphen): rich text wraps only at such places, and a name without any, wider than the
// tooltip, would run past the screen's edge. The breaks go between grapheme clusters only, so
// no letter loses its marks, no emoji its modifiers, no pair its half.
QString breakableWords(const QString& text)
{
    QString out;
    out.reserve(text.size());
    QTextBoundaryFinder words(QTextBoundaryFinder::Line, text);
    QTextBoundaryFinder clusters(QTextBoundaryFinder::Grapheme, text);
    qsizetype start = 0;
    for (qsizetype end = words.toNextBoundary(); end > start; start = end, end = words.toNextBoundary()) {
        QList<qsizetype> inside;
        clusters.setPosition(start);
        for (qsizetype at = clusters.toNextBoundary(); at > start && at < end; at = clusters.toNextBoundary())
            inside.append(at);
        if (inside.size() < longestWholeWord) {
            out += QStringView(text).mid(start, end - start);
            continue;
        }
        qsizetype from = start;
        for (const qsizetype at : std::as_const(inside)) {
            out += QStringView(text).mid(from, at - from);
            out += breakOpportunity;
            from = at;
        }
        out += QStringView(text).mid(from, end - from);
    }
    return out;
}

} // namespace

QString plainToolTip(const QString& text)
{
    if (text.isEmpty())
        return text;
    // Spaces and line breaks kept, lines wrapped at the tooltip's width; escaped, so no markup
    // of the text is read.
    QString escaped = breakableWords(text).toHtmlEscaped();
    escaped.replace(u'\n', QStringLiteral("<br>"));
    return QStringLiteral("<p style=\"white-space:pre-wrap\">") + escaped + QStringLiteral("</p>");
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
