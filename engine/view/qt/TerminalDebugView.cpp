#include "view/qt/TerminalDebugView.h"

#include "platform/Log.h"
#include "view/qt/TerminalView.h"

#include <QFontDatabase>
#include <QFontMetricsF>
#include <QLabel>
#include <QPaintEvent>
#include <QPainter>

namespace corvantix {

namespace {

QFont debugViewFont()
{
    const QStringList families = QFontDatabase::families();
    for (const char* family : {"Lucida Sans Typewriter", "Courier"}) {
        if (families.contains(QString::fromLatin1(family))) {
            QFont font(QString::fromLatin1(family));
            font.setPointSizeF(8.0);
            return font;
        }
    }
    // Neither face on this system: any fixed-pitch face does.
    QFont font = QFontDatabase::systemFont(QFontDatabase::FixedFont);
    font.setPointSizeF(8.0);
    return font;
}

QString threeDigits(int value)
{
    return QString::asprintf("%03d", value);
}

} // namespace

TerminalDebugView::TerminalDebugView(const QRect& frame, TerminalView& terminalView, QWidget* parent)
    : QWidget(parent), terminalView_(&terminalView), font_(debugViewFont())
{
    setObjectName(QStringLiteral("debugView"));
    setGeometry(frame);
    setAttribute(Qt::WA_TransparentForMouseEvents);
    dbg_ = new QLabel(QStringLiteral("WAITING"), this);
    dbg_->setObjectName(QStringLiteral("debugStatus"));
    dbg_->setFont(font_);
    dbg_->setGeometry(0, std::max(frame.height() - 8 - 14, 0), frame.width(), 14);
    terminalView.debug = this;
    height_ = QFontMetricsF(font_).boundingRect(QStringLiteral("W")).height();
}

QString TerminalDebugView::statusText() const
{
    return dbg_->text();
}

void TerminalDebugView::updateDebug()
{
    QWidget::update();
    if (!terminalView_ || !terminalView_->terminal)
        return;
    const Buffer& buffer = *terminalView_->terminal->buffer;
    dbg_->setText(QStringLiteral("x: %1 y: %2 yDisp: %3 yBase: %4 clc: %5 startIndex: %6")
                      .arg(buffer.x())
                      .arg(buffer.y())
                      .arg(buffer.yDisp())
                      .arg(buffer.yBase())
                      .arg(buffer.lines().slotCount())
                      .arg(buffer.lines().startIndex()));
}

QString TerminalDebugView::debugLine(const Terminal& terminal, const BufferLine* line, int columns,
                                     const QString& prefix, bool highlight)
{
    if (highlight)
        printLine("here");
    QString text = prefix;
    if (line == nullptr)
        return text + QStringLiteral("<empty>");
    if (columns <= 0)
        return text;
    for (int col = 0; col < columns; ++col) {
        const CharData& cell = line->getCell(col);
        if (cell.code == 0) {
            text += u' ';
        } else {
            const std::u32string scalars = terminal.getCharacter(cell.code);
            text += QString::fromUcs4(scalars.data(), static_cast<qsizetype>(scalars.size()));
        }
    }
    return text;
}

void TerminalDebugView::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    painter.fillRect(rect(), Qt::white);
    if (!terminalView_ || !terminalView_->terminal)
        return;
    const Terminal& terminal = *terminalView_->terminal;
    const Buffer& buffer = *terminal.buffer;
    const CircularBufferLineList& ring = buffer.lines();
    const int slots = ring.slotCount();
    const double h = height_;
    painter.setFont(font_);
    painter.setPen(Qt::black);
    const QFontMetricsF metrics(font_);
    for (int i = 0; i < ring.maxLength() && i < slots; ++i) {
        const double baseline = h + (h + h * i);
        const QString marks = QString(i == buffer.yDisp() ? u'D' : u' ') + QString(i == buffer.yBase() ? u'B' : u' ');
        // Raw slot i holds the logical line (i - startIndex) mod slots.
        const int logicalOfSlot = ((i - ring.startIndex()) % slots + slots) % slots;
        const BufferLine* raw = ring.peek(logicalOfSlot).get();
        const QString first = debugLine(terminal, raw, terminal.cols,
                                        QStringLiteral("[") + threeDigits(i) + u':'
                                            + threeDigits((i + ring.startIndex()) % slots) + u']' + marks,
                                        false);
        painter.drawText(QPointF(0, baseline), first);
        const QString second = debugLine(terminal, ring[i].get(), terminal.cols,
                                         QStringLiteral("[") + threeDigits(i) + u']' + marks, false);
        painter.drawText(QPointF(metrics.horizontalAdvance(first), baseline), second);
    }
}

std::vector<QRect> TerminalDebugView::rectsBeingDrawn(const QPaintEvent& event)
{
    return {event.region().begin(), event.region().end()};
}

void TerminalDebugView::debugDrawRects(const QString& label, const QPaintEvent& event)
{
    printLine(label.toStdString());
    for (const QRect& rect : rectsBeingDrawn(event)) {
        printLine(QStringLiteral("   -> QRect(%1,%2 %3x%4)")
                      .arg(rect.x())
                      .arg(rect.y())
                      .arg(rect.width())
                      .arg(rect.height())
                      .toStdString());
    }
}

} // namespace corvantix
