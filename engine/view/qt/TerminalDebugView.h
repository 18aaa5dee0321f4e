// An overlay that shows what a terminal view's buffer holds: the cursor and scroll state on a
// status line, and below it one row per slot of the line ring, the raw slot beside the
// logical line. Nothing in the program makes one; a host that wants to look inside the
// buffer puts one over a view, which then refreshes it on every display pass.
#pragma once

#include <QFont>
#include <QList>
#include <QPointer>
#include <QRect>
#include <QString>
#include <QTextLayout>
#include <QWidget>

#include <memory>
#include <vector>

class QLabel;
class QPaintEvent;

namespace corvantix {

class BufferLine;
class Terminal;
class TerminalView;

class TerminalDebugView final : public QWidget {
public:
    // Stores itself in the view's `debug`; the status line reads "WAITING" until the first
    // refresh.
    TerminalDebugView(const QRect& frame, TerminalView& terminalView, QWidget* parent = nullptr);

    // The status line from the active buffer, and a repaint. (QWidget::update is the
    // repaint itself, hence the suffix.)
    void updateDebug();

    // A line as drawn: its text and the colours of its runs.
    struct AttributedLine {
        QString text;
        QList<QTextLayout::FormatRange> formats;
    };

    // The prefix, then the line's cells (one character per column, a space for an empty
    // cell, the last cell for columns past the line's end), or "<empty>" without a line;
    // black on white, but for the prefix of a highlighted line, red on black. A highlighted
    // line prints "here".
    static AttributedLine debugLine(const Terminal& terminal, const BufferLine* line, int columns,
                                    const QString& prefix, bool highlight);

    QString statusText() const;
    const QFont& debugFont() const { return font_; }

    // The rectangles of a paint event, and a trace of them after a label.
    static std::vector<QRect> rectsBeingDrawn(const QPaintEvent& event);
    static void debugDrawRects(const QString& label, const QPaintEvent& event);

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    QPointer<TerminalView> terminalView_;
    QFont font_;
    double height_ = 0; // one text row
    QLabel* dbg_ = nullptr;
};

} // namespace corvantix
