// The GPU renderer's side of a terminal view: switching GPU drawing on and off, building the
// surface widget and its renderer, rebuilding them when the view moves to another window,
// the automatic recovery the frame coordinator asks for (one replacement per 30 seconds, a
// fall-back to painter drawing after that), renderers kept alive while their last frame is in
// flight, the published status, and the window observers that restart drawing.
//
// The view cannot see the GPU layer, so the hosting lives here as a child object of the view
// and changes the view only through the view's own operations. Everything runs on the main
// thread.
#pragma once

#include <chrono>
#include <functional>
#include <memory>
#include <optional>
#include <vector>

#include <QMetaObject>
#include <QObject>
#include <QPointer>

#include "gpu/MetalErrors.h"
#include "gpu/MetalFrameCoordinator.h"
#include "gpu/qt/MetalGLView.h"
#include "gpu/qt/MetalTerminalRenderer.h"
#include "platform/qt/QtMainQueue.h"

class QWindow;

namespace corvantix {

class TerminalView;

// A weak pointer to a GPU surface that never casts one being destroyed: once the surface's own
// destructor has run, what is left of it is no MetalGLView and reads as none, while `is` still
// tells which object it was (its context goes only then, from the base's destructor).
class SurfacePointer {
public:
    SurfacePointer() = default;
    SurfacePointer(MetalGLView* surface) : object_(surface) {}
    SurfacePointer& operator=(MetalGLView* surface)
    {
        object_ = surface;
        return *this;
    }
    MetalGLView* data() const { return qobject_cast<MetalGLView*>(object_.data()); }
    operator MetalGLView*() const { return data(); }
    MetalGLView* operator->() const { return data(); }
    bool is(const QObject* object) const { return object != nullptr && object_.data() == object; }

private:
    QPointer<QObject> object_;
};

class MetalHosting final : public QObject, public MetalRendererHost {
    Q_OBJECT
public:
    // The hosting of `view`, made on first use; it lives and dies with the view.
    static MetalHosting& of(TerminalView& view);
    // The hosting of `view` when one was made.
    static MetalHosting* existing(const TerminalView& view);
    ~MetalHosting() override;

    // The host's switch. Turning on fails with deviceUnavailable when no OpenGL 3.3 core
    // context can be made; the view then keeps its painter drawing and nothing changes. The
    // renderer itself is built once the surface has its context (when the view is shown); a
    // failure then falls back to painter drawing.
    std::optional<MetalError> setUseMetal(bool enabled);

    MetalGLView* metalView() const { return metalView_; }
    MetalTerminalRenderer* metalRenderer() const { return renderer_.get(); }
    std::size_t retiredMetalRendererCount() const { return retired_.size(); }
    bool isRetired(const MetalTerminalRenderer& renderer) const;
    QWidget* metalBoundWindow() const { return boundWindow_; }

    // Seconds of system uptime for the 30-second rule; tests put a fake clock in place.
    void setUptimeClock(std::shared_ptr<MetalRecoveryClock> clock) { clock_ = std::move(clock); }
    // Whether an OpenGL 3.3 core context can be made, asked before every surface is built;
    // tests put a refusal in place to see a machine without one.
    void setDeviceProbe(std::function<bool()> probe) { deviceAvailable_ = std::move(probe); }

    // ---- MetalRendererHost
    bool canPresentMetalFrames() const override;
    void setMetalViewNeedsDisplay() override;
    void recoverMetalRenderer(MetalTerminalRenderer& renderer, const MetalRendererRecoveryReport& report) override;
    void pruneRetiredMetalRenderers(MetalTerminalRenderer& renderer) override;
    void metalFramePresented(MetalTerminalRenderer& renderer, std::chrono::system_clock::time_point date) override;

    // Rebuilds the surface and its renderer for `window` (a top-level widget) while GPU
    // drawing is on; the view calls nothing itself, the hosting follows its moves.
    void rebindMetalRenderer(QWidget* window);
    // Rebuilds the surface and its renderer in place (the recovery's replacement).
    void replaceMetalRenderer();
    // Painter drawing from now on, after `error`.
    void fallBackToCoreGraphics(const MetalError& error);
    void installMetalWindowRecoveryObservers();
    void installKeyWindowObservers();

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    explicit MetalHosting(TerminalView& view);

    // A renderer with the surface whose context it lives in: the surface outlives it, so
    // that its GL objects can be freed with that context current.
    struct Retired {
        std::unique_ptr<MetalTerminalRenderer> renderer;
        SurfacePointer surface;
    };

    std::optional<MetalError> enableMetalRenderer(bool enabled);
    MetalGLView* makeMetalView(const QRect& frame);
    void installMetalView(MetalGLView* surface, QWidget* reference);
    // A new surface and renderer in place of the current ones, bound to `window`; a rebind
    // also reports recovering and opens the recovery interval.
    void rebuild(QWidget* window, bool rebinding);
    // The surface's context exists: build its renderer when it is the current surface.
    void contextCreated(MetalGLView* surface);
    // The surface's context is going away: every renderer living in it goes first.
    void contextAboutToBeDestroyed(QOpenGLWidget* surface);
    void retireMetalRenderer(std::unique_ptr<MetalTerminalRenderer> renderer, MetalGLView* surface);
    // Frees a renderer with its context current, then the surface when nothing uses it.
    void release(std::unique_ptr<MetalTerminalRenderer> renderer, MetalGLView* surface);
    void detachSurface(MetalGLView* surface);
    void updateMetalRendererStatus(MetalRendererStatus::State state);
    void logMetalRecovery(const MetalRendererRecoveryReport& report, bool willFallBack);
    void openRecoverySignpost();
    void closeRecoverySignpost();
    void removeWindowRecoveryObservers();
    bool viewAlive() const;

    TerminalView& view_;
    // The renderers' queue: theirs, not the view's, because the view's own queue goes with
    // the view's fields, before the view's children (and so the renderers) are deleted.
    QtMainQueue rendererQueue_;
    SurfacePointer metalView_;
    std::unique_ptr<MetalTerminalRenderer> renderer_;
    std::vector<Retired> retired_;
    QPointer<QWidget> boundWindow_;
    std::optional<MetalSignpost> recoverySignpost_;
    std::shared_ptr<MetalRecoveryClock> clock_;
    std::function<bool()> deviceAvailable_;
    std::vector<QMetaObject::Connection> windowRecoveryObservers_;
    QPointer<QWindow> observedWindow_;
    QMetaObject::Connection focusWindowObserver_;
};

} // namespace corvantix
