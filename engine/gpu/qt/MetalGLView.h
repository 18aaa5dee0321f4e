// The GPU surface of a terminal view: an OpenGL widget that draws only when asked (update()),
// through its delegate, the renderer.
#pragma once

#include <QOpenGLWidget>

namespace corvantix {

class MetalGLView;

// Draws the frames of a GPU surface.
class MetalViewDelegate {
public:
    virtual ~MetalViewDelegate() = default;
    // One frame, with the surface's context current and its framebuffer bound.
    virtual void drawInMTKView(MetalGLView& view) = 0;
};

class MetalGLView : public QOpenGLWidget {
    Q_OBJECT
public:
    explicit MetalGLView(QWidget* parent = nullptr);

    // Not owned; none draws nothing.
    void setDelegate(MetalViewDelegate* delegate) { delegate_ = delegate; }
    MetalViewDelegate* delegate() const { return delegate_; }

Q_SIGNALS:
    // The OpenGL context exists and is current: a renderer can be built for it now.
    void contextCreated();

protected:
    void initializeGL() override;
    void paintGL() override;

private:
    MetalViewDelegate* delegate_ = nullptr;
};

} // namespace corvantix
