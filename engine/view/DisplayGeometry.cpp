#include "view/DisplayGeometry.h"

#include <algorithm>

namespace corvantix {

RectValue dirtyRowsRect(int first, int last, int rows, double cellHeight, double frameWidth, double frameHeight,
                        bool scrolledBack)
{
    if (scrolledBack)
        return {0, 0, frameWidth, frameHeight};
    const double top = cellHeight * first;
    const double bottom = last >= rows - 1 ? frameHeight : std::min(cellHeight * (last + 2), frameHeight);
    return {0, top, frameWidth, std::max(bottom - top, 0.0)};
}

double caretTop(int cursorLine, int yDisp, double cellHeight)
{
    return cellHeight * (cursorLine - yDisp);
}

} // namespace corvantix
