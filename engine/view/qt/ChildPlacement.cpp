#include "view/qt/ChildPlacement.h"

#include <QWidget>

namespace corvantix {

void placeChild(QWidget& child, const QRect& frame)
{
    const bool paintsAll = child.testAttribute(Qt::WA_OpaquePaintEvent);
    const bool fills = child.autoFillBackground();
    // Only a move of a shown, opaque child is done by a copy; a resize repaints as it is.
    if (!child.isVisible() || (!paintsAll && !fills) || child.pos() == frame.topLeft()) {
        child.setGeometry(frame);
        return;
    }
    child.setAttribute(Qt::WA_OpaquePaintEvent, false);
    child.setAutoFillBackground(false);
    child.setGeometry(frame);
    child.setAutoFillBackground(fills);
    child.setAttribute(Qt::WA_OpaquePaintEvent, paintsAll);
}

} // namespace corvantix
