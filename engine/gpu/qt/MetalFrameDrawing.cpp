#include "gpu/qt/MetalTerminalRenderer.h"

namespace corvantix {

namespace {
class NoBufferDevice final : public MetalBufferDevice {
public:
    std::shared_ptr<MetalBuffer> newBuffer(std::size_t) override { return nullptr; }
};
} // namespace

MetalBufferDevice& MetalTerminalRenderer::bufferDevice()
{
    static NoBufferDevice device;
    return device;
}

void MetalTerminalRenderer::drawFrame(MetalGLView&) {}

} // namespace corvantix
