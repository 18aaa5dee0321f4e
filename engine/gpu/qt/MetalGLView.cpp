#include "gpu/qt/MetalGLView.h"

namespace corvantix {

MetalGLView::MetalGLView(QWidget* parent) : QOpenGLWidget(parent)
{
    // A frame refused while another is in flight draws nothing: the last frame must stay.
    setUpdateBehavior(QOpenGLWidget::PartialUpdate);
}

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
