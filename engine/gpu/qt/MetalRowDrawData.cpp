#include "gpu/qt/MetalTerminalRenderer.h"

namespace corvantix {

RowDrawData MetalTerminalRenderer::buildRowDrawData(double, double, double, double, double, int, const Buffer&, int,
                                                    const VirtualPlacementIndex&)
{
    return {};
}

void MetalTerminalRenderer::buildCursorDrawData(DrawData&, double, double, double, double, double, int, int) {}

} // namespace corvantix
