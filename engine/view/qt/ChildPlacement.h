// Placing a child widget over the terminal view's drawing (the caret, the find bar, the link
// preview) without Qt's fast move. Qt moves a child it takes as opaque (one that paints all of
// itself, or fills its background) by copying its pixels, and then repaints what changed in
// the parent as if nothing lay above the parent: a widget the host shows over the view (a
// banner, say) is painted over and stays so until something repaints it. Placed here, the
// child counts as see-through for the move alone: Qt repaints the area it leaves and the area
// it takes, each with whatever lies above them, and the child's own repaints (a frame of the
// caret's fade) stay opaque.
#pragma once

#include <QRect>

class QWidget;

namespace corvantix {

void placeChild(QWidget& child, const QRect& frame);

} // namespace corvantix
