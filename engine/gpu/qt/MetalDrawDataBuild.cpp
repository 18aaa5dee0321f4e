#include "gpu/qt/MetalTerminalRenderer.h"

namespace corvantix {

void MetalTerminalRenderer::setViews(MetalGLView* metalView, TerminalView* terminalView)
{
    metalView_ = metalView;
    terminalView_ = terminalView;
}

DrawData MetalTerminalRenderer::buildDrawData(double)
{
    return {};
}

std::vector<ImageDrawBuffer> MetalTerminalRenderer::makeImageDrawBuffers(std::span<const ImageDraw>)
{
    return {};
}

std::shared_ptr<MetalTexture> MetalTerminalRenderer::imageDraw(const TerminalImage&)
{
    return nullptr;
}

} // namespace corvantix
