#include "gpu/qt/MetalTerminalRenderer.h"

namespace corvantix {

void MetalTerminalRenderer::drawFrame(MetalGLView&) {}

} // namespace corvantix
