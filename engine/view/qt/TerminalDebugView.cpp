#include "view/qt/TerminalDebugView.h"

#include "platform/Log.h"
#include "view/qt/TerminalView.h"

#include <QFontDatabase>
#include <QFontMetricsF>
#include <QLabel>
#include <QPaintEvent>
#include <QPainter>
#include <QTextFormat>

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
    const Buffer& buffer = terminalView_->terminal->buffer();
    dbg_->setText(QStringLiteral("x: %1 y: %2 yDisp: %3 yBase: %4 clc: %5 startIndex: %6")
                      .arg(buffer.x())
                      .arg(buffer.y())
                      .arg(buffer.yDisp())
                      .arg(buffer.yBase())
                      .arg(buffer.lines().slotCount())
                      .arg(buffer.lines().startIndex()));
}

TerminalDebugView::AttributedLine TerminalDebugView::debugLine(const Terminal& terminal, const BufferLine* line,
                                                             int columns, const QString& prefix, bool highlight)
{
    if (highlight)
        printLine("here");
    const auto format = [](Qt::GlobalColor foreground, Qt::GlobalColor background) {
        QTextCharFormat result;
        result.setForeground(QColor(foreground));
        result.setBackground(QColor(background));
        return result;
    };
    AttributedLine result;
    QString& text = result.text;
    text = prefix;
    if (line == nullptr) {
        text += QStringLiteral("<empty>");
    } else if (columns > 0) {
        for (int col = 0; col < columns; ++col) {
            const CharData& cell = line->getCell(col);
            if (cell.code == 0) {
                text += u' ';
            } else {
                const std::u32string scalars = terminal.getCharacter(cell.code);
                text += QString::fromUcs4(scalars.data(), static_cast<qsizetype>(scalars.size()));
            }
        }
    }
    const auto prefixLength = static_cast<int>(prefix.size());
    if (prefixLength > 0)
        result.formats.append({0, prefixLength, highlight ? format(Qt::red, Qt::black) : format(Qt::black, Qt::white)});
    if (text.size() > prefixLength)
        result.formats.append({prefixLength, static_cast<int>(text.size()) - prefixLength, format(Qt::black, Qt::white)});
    return result;
}

namespace {

// Draws a line with its colours from `origin` on the baseline; answers its width.
double drawAttributedLine(QPainter& painter, const QFont& font, const TerminalDebugView::AttributedLine& line,
                          QPointF origin)
{
    QTextLayout layout(line.text, font);
    layout.setFormats(line.formats);
    layout.setCacheEnabled(false);
    layout.beginLayout();
    QTextLine row = layout.createLine();
    layout.endLayout();
    if (!row.isValid())
        return 0;
    layout.draw(&painter, QPointF(origin.x(), origin.y() - row.ascent()));
    return row.naturalTextWidth();
}

} // namespace

void TerminalDebugView::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    painter.fillRect(rect(), Qt::white);
    if (!terminalView_ || !terminalView_->terminal)
        return;
    const Terminal& terminal = *terminalView_->terminal;
    const Buffer& buffer = terminal.buffer();
    const CircularBufferLineList& ring = buffer.lines();
    const int slots = ring.slotCount();
    const double h = height_;
    painter.setFont(font_);
    painter.setPen(Qt::black);
    for (int i = 0; i < ring.maxLength() && i < slots; ++i) {
        const double baseline = h + (h + h * i);
        const QString marks = QString(i == buffer.yDisp() ? u'D' : u' ') + QString(i == buffer.yBase() ? u'B' : u' ');
        // Raw slot i holds the logical line (i - startIndex) mod slots.
        const int logicalOfSlot = ((i - ring.startIndex()) % slots + slots) % slots;
        const BufferLine* raw = ring.peek(logicalOfSlot).get();
        const AttributedLine first = debugLine(terminal, raw, terminal.cols(),
                                               QStringLiteral("[") + threeDigits(i) + u':'
                                                   + threeDigits((i + ring.startIndex()) % slots) + u']' + marks,
                                               false);
        const double firstWidth = drawAttributedLine(painter, font_, first, QPointF(0, baseline));
        const AttributedLine second = debugLine(terminal, ring[i].get(), terminal.cols(),
                                                QStringLiteral("[") + threeDigits(i) + u']' + marks, false);
        drawAttributedLine(painter, font_, second, QPointF(firstWidth, baseline));
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
