#include "gpu/qt/MetalGLView.h"

namespace corvantix {

MetalGLView::MetalGLView(QWidget* parent) : QOpenGLWidget(parent) {}

void MetalGLView::initializeGL()
{
    Q_EMIT contextCreated();
}

void MetalGLView::paintGL()
{
    if (delegate_)
        delegate_->drawInMTKView(*this);
}

} // namespace corvantix
