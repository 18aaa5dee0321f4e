// Painting the terminal's cells into the widget.
#include "view/qt/TerminalView.h"

#include <QPainter>

namespace corvantix {

void TerminalView::drawTerminalContents(QPainter& painter, QRect dirtyRect)
{
    painter.fillRect(dirtyRect, layerBackgroundColor);
}

} // namespace corvantix
