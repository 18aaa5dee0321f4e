#include "gpu/qt/MetalHosting.h"

#include <algorithm>
#include <limits>
#include <string>

#include <QColorSpace>
#include <QEvent>
#include <QGuiApplication>
#include <QOffscreenSurface>
#include <QOpenGLContext>
#include <QSurfaceFormat>
#include <QWindow>

#include "drawing/qt/CaretView.h"
#include "platform/Log.h"
#include "view/qt/TerminalView.h"

namespace corvantix {

namespace {

constexpr double replacementSpacingSeconds = 30.0;

QSurfaceFormat surfaceFormat(bool opaque)
{
    QSurfaceFormat format;
    format.setVersion(3, 3);
    format.setProfile(QSurfaceFormat::CoreProfile);
    format.setColorSpace(QColorSpace::SRgb);
    // A translucent background needs the window's alpha to reach the compositor.
    format.setAlphaBufferSize(opaque ? 0 : 8);
    return format;
}

// Whether an OpenGL 3.3 core context can be made at all: the stand-in for asking the
// system for a GPU device, so that switching on fails at once rather than at first paint.
bool openGLCoreContextAvailable()
{
    QOpenGLContext* previous = QOpenGLContext::currentContext();
    QSurface* previousSurface = previous != nullptr ? previous->surface() : nullptr;
    bool available = false;
    {
        QOffscreenSurface surface;
        surface.setFormat(surfaceFormat(true));
        surface.create();
        QOpenGLContext context;
        context.setFormat(surfaceFormat(true));
        if (surface.isValid() && context.create() && context.makeCurrent(&surface)) {
            available = context.format().version() >= qMakePair(3, 3);
            context.doneCurrent();
        }
    }
    if (previous != nullptr && previousSurface != nullptr)
        previous->makeCurrent(previousSurface);
    return available;
}

// Frees a renderer with the context it lives in current.
void freeRenderer(std::unique_ptr<MetalTerminalRenderer> renderer, MetalGLView* surface)
{
    if (!renderer)
        return;
    if (surface == nullptr) {
        // Its context went without notice, and its GL objects with it: freeing them through
        // the dead context's functions would crash, so the rest is left behind.
        (void)renderer.release();
        return;
    }
    surface->makeCurrent();
    renderer.reset();
    surface->doneCurrent();
}

double seconds(std::chrono::steady_clock::time_point time)
{
    return std::chrono::duration<double>(time.time_since_epoch()).count();
}

std::chrono::steady_clock::time_point timePoint(double seconds)
{
    return std::chrono::steady_clock::time_point(
        std::chrono::duration_cast<std::chrono::steady_clock::duration>(std::chrono::duration<double>(seconds)));
}

} // namespace

MetalHosting& MetalHosting::of(TerminalView& view)
{
    if (MetalHosting* hosting = existing(view))
        return *hosting;
    return *new MetalHosting(view);
}

MetalHosting* MetalHosting::existing(const TerminalView& view)
{
    return view.findChild<MetalHosting*>(QString(), Qt::FindDirectChildrenOnly);
}

MetalHosting::MetalHosting(TerminalView& view)
    : QObject(&view), view_(view), clock_(std::make_shared<SystemMetalRecoveryClock>()),
      deviceAvailable_(openGLCoreContextAvailable)
{
    view_.installEventFilter(this);
    installKeyWindowObservers();
    installMetalWindowRecoveryObservers();
}

MetalHosting::~MetalHosting()
{
    // The view is being torn down around us: free the GL objects of every renderer with its
    // context current and leave the widgets to the view.
    recoverySignpost_.reset();
    removeWindowRecoveryObservers();
    freeRenderer(std::move(renderer_), metalView_);
    for (Retired& entry : retired_)
        freeRenderer(std::move(entry.renderer), entry.surface);
    retired_.clear();
}

bool MetalHosting::isRetired(const MetalTerminalRenderer& renderer) const
{
    return std::any_of(retired_.begin(), retired_.end(),
                       [&](const Retired& entry) { return entry.renderer.get() == &renderer; });
}

// ---------------------------------------------------------------- Switching on and off

std::optional<MetalError> MetalHosting::setUseMetal(bool enabled)
{
    if (enabled) {
        if (view_.useMetalRenderer)
            return std::nullopt;
        if (auto error = enableMetalRenderer(true))
            return error;
        view_.setUseMetalRenderer(true);
        view_.setAutomaticMetalRecoveryPolicy({});
        view_.setMetalRendererStatus({MetalRendererStatus::State::waitingForFirstFrame, 0, std::nullopt});
        return std::nullopt;
    }
    if (view_.useMetalRenderer) {
        enableMetalRenderer(false);
        view_.setUseMetalRenderer(false);
    }
    updateMetalRendererStatus(MetalRendererStatus::State::disabled);
    return std::nullopt;
}

std::optional<MetalError> MetalHosting::enableMetalRenderer(bool enabled)
{
    if (!enabled) {
        MetalGLView* surface = metalView_;
        auto renderer = std::move(renderer_);
        metalView_ = nullptr;
        boundWindow_ = nullptr;
        detachSurface(surface);
        view_.detachMetalView();
        retireMetalRenderer(std::move(renderer), surface);
        return std::nullopt;
    }
    if (metalView_)
        return std::nullopt;
    if (!deviceAvailable_())
        return MetalError::deviceUnavailable();
    MetalGLView* surface = makeMetalView(view_.rect());
    metalView_ = surface;
    boundWindow_ = view_.window();
    installMetalView(surface, nullptr);
    return std::nullopt;
}

MetalGLView* MetalHosting::makeMetalView(const QRect& frame)
{
    auto* surface = new MetalGLView(&view_);
    surface->hide();
    surface->setFormat(surfaceFormat(view_.nativeBackgroundColor().alphaF() >= 1.0f));
    surface->setGeometry(frame);
    // The terminal view keeps the mouse and the keyboard; the surface only shows pixels.
    surface->setAttribute(Qt::WA_TransparentForMouseEvents);
    surface->setFocusPolicy(Qt::NoFocus);
    connect(surface, &MetalGLView::contextCreated, this, [this, surface] { contextCreated(surface); });
    return surface;
}

void MetalHosting::installMetalView(MetalGLView* surface, QWidget* reference)
{
    view_.attachMetalView(surface, reference);
}

void MetalHosting::contextCreated(MetalGLView* surface)
{
    // Whenever this context goes (the surface moved to another window or is being deleted),
    // the renderers living in it go first, while it can still be made current.
    if (QOpenGLContext* context = surface->context()) {
        QOpenGLWidget* widget = surface;
        connect(context, &QOpenGLContext::aboutToBeDestroyed, this, [this, widget] { contextAboutToBeDestroyed(widget); },
                Qt::DirectConnection);
    }
    if (surface != metalView_ || renderer_)
        return;
    auto made = MetalTerminalRenderer::make(rendererQueue_, this);
    if (auto* error = std::get_if<MetalError>(&made)) {
        fallBackToCoreGraphics(*error);
        return;
    }
    renderer_ = std::move(std::get<std::unique_ptr<MetalTerminalRenderer>>(made));
    renderer_->setViews(surface, &view_);
    surface->setDelegate(renderer_.get());
}

void MetalHosting::contextAboutToBeDestroyed(QOpenGLWidget* surface)
{
    // The last moment the GL objects of the renderers living in that context can be freed.
    // The widget may be half destroyed already: only its base part is used.
    surface->makeCurrent();
    if (metalView_.is(surface) && renderer_) {
        if (MetalGLView* live = metalView_.data())
            live->setDelegate(nullptr);
        renderer_.reset();
    }
    bool hadRetired = false;
    for (auto it = retired_.begin(); it != retired_.end();) {
        if (it->surface.is(surface)) {
            it->renderer.reset();
            it = retired_.erase(it);
            hadRetired = true;
        } else {
            ++it;
        }
    }
    surface->doneCurrent();
    // A former surface kept only for its retired renderers has no use left.
    if (hadRetired && !metalView_.is(surface))
        surface->deleteLater();
}

// ---------------------------------------------------------------- Rebuilding

void MetalHosting::rebindMetalRenderer(QWidget* window)
{
    if (!view_.useMetalRenderer || !metalView_)
        return;
    rebuild(window, true);
}

void MetalHosting::replaceMetalRenderer()
{
    if (!metalView_) {
        fallBackToCoreGraphics(MetalError::deviceUnavailable());
        return;
    }
    rebuild(view_.window(), false);
}

void MetalHosting::rebuild(QWidget* window, bool rebinding)
{
    if (!deviceAvailable_()) {
        fallBackToCoreGraphics(MetalError::deviceUnavailable());
        return;
    }
    MetalGLView* old = metalView_;
    MetalGLView* surface = makeMetalView(old->geometry());
    if (rebinding) {
        updateMetalRendererStatus(MetalRendererStatus::State::recovering);
        openRecoverySignpost();
    }
    // Current before it is placed: placing it may already give it its context, and with it
    // the new renderer.
    auto renderer = std::move(renderer_);
    metalView_ = surface;
    boundWindow_ = window;
    installMetalView(surface, old);
    detachSurface(old);
    retireMetalRenderer(std::move(renderer), old);
    // Drawing once now builds the new renderer while the view is on screen (the surface gets
    // its context on its first paint); a failure there falls back to painter drawing.
    if (metalView_ == surface) {
        surface->repaint();
        if (metalView_ == surface)
            surface->update();
    }
}

void MetalHosting::detachSurface(MetalGLView* surface)
{
    if (surface == nullptr)
        return;
    surface->setDelegate(nullptr);
    surface->hide();
}

// ---------------------------------------------------------------- Recovery

void MetalHosting::recoverMetalRenderer(MetalTerminalRenderer& renderer, const MetalRendererRecoveryReport& report)
{
    if (&renderer != renderer_.get() || !view_.useMetalRenderer)
        return;
    const double now = clock_->now();
    const auto& last = view_.automaticMetalRecoveryPolicy.lastReplacementAt;
    const bool replace = !last || now - seconds(*last) >= replacementSpacingSeconds;
    if (replace)
        view_.setAutomaticMetalRecoveryPolicy({timePoint(now)});
    logMetalRecovery(report, !replace);
    updateMetalRendererStatus(MetalRendererStatus::State::recovering);
    openRecoverySignpost();
    if (replace)
        replaceMetalRenderer();
    else
        fallBackToCoreGraphics(MetalError::commandQueueUnavailable());
}

void MetalHosting::logMetalRecovery(const MetalRendererRecoveryReport& report, bool willFallBack)
{
    MetalRecoveryEvent event;
    event.reason = static_cast<std::uint32_t>(report.reason);
    event.duration = report.failureDuration;
    // Without a command stream the status prints as "none", as any unknown code does.
    event.frameStatus = report.commandBufferStatus ? static_cast<std::uint32_t>(*report.commandBufferStatus)
                                                   : std::numeric_limits<std::uint32_t>::max();
    event.errorText = report.commandBufferError;
    view_.logMetalRecovery(event, willFallBack);
}

void MetalHosting::fallBackToCoreGraphics(const MetalError& error)
{
    logError("Corvantix: Metal renderer rebind failed; falling back to CoreGraphics: " + error.description());
    MetalGLView* surface = metalView_;
    auto renderer = std::move(renderer_);
    metalView_ = nullptr;
    boundWindow_ = nullptr;
    view_.setUseMetalRenderer(false);
    detachSurface(surface);
    // The painter clears with the view's background: left clear, the window would show black.
    view_.detachMetalView();
    retireMetalRenderer(std::move(renderer), surface);
    updateMetalRendererStatus(MetalRendererStatus::State::fellBackToCoreGraphics);
    closeRecoverySignpost();
}

// ---------------------------------------------------------------- Retired renderers

void MetalHosting::retireMetalRenderer(std::unique_ptr<MetalTerminalRenderer> renderer, MetalGLView* surface)
{
    if (!renderer) {
        release(nullptr, surface);
        return;
    }
    MetalFrameCoordinator& coordinator = renderer->frameCoordinator();
    coordinator.invalidate();
    // A retired renderer draws no more frames, so its cursor stops blinking.
    renderer->updateCursorBlink(false);
    if (coordinator.hasActiveFrame() && !isRetired(*renderer)) {
        retired_.push_back({std::move(renderer), surface});
        return;
    }
    release(std::move(renderer), surface);
}

void MetalHosting::pruneRetiredMetalRenderers(MetalTerminalRenderer& renderer)
{
    std::vector<Retired> done;
    for (auto it = retired_.begin(); it != retired_.end();) {
        if (it->renderer.get() == &renderer && !it->renderer->frameCoordinator().hasActiveFrame()) {
            done.push_back(std::move(*it));
            it = retired_.erase(it);
        } else {
            ++it;
        }
    }
    for (Retired& entry : done)
        release(std::move(entry.renderer), entry.surface);
}

void MetalHosting::release(std::unique_ptr<MetalTerminalRenderer> renderer, MetalGLView* surface)
{
    freeRenderer(std::move(renderer), surface);
    if (surface == nullptr || surface == metalView_.data())
        return;
    const bool stillUsed = std::any_of(retired_.begin(), retired_.end(),
                                       [&](const Retired& entry) { return entry.surface.data() == surface; });
    if (!stillUsed)
        surface->deleteLater();
}

// ---------------------------------------------------------------- Status

bool MetalHosting::canPresentMetalFrames() const
{
    return view_.canPresentMetalFrames();
}

void MetalHosting::setMetalViewNeedsDisplay()
{
    view_.setMetalViewNeedsDisplay();
}

void MetalHosting::metalFramePresented(MetalTerminalRenderer& renderer, std::chrono::system_clock::time_point date)
{
    if (&renderer != renderer_.get() || !view_.useMetalRenderer)
        return;
    MetalRendererStatus status = view_.metalRendererStatus;
    status.state = MetalRendererStatus::State::healthy;
    status.presentedFrameCount += 1;
    status.lastFramePresentedAt = date;
    view_.setMetalRendererStatus(status);
    closeRecoverySignpost();
}

void MetalHosting::updateMetalRendererStatus(MetalRendererStatus::State state)
{
    if (view_.metalRendererStatus.state == state)
        return;
    MetalRendererStatus status = view_.metalRendererStatus;
    status.state = state;
    view_.setMetalRendererStatus(status);
}

void MetalHosting::openRecoverySignpost()
{
    if (!recoverySignpost_ && metalProfilingEnabled())
        recoverySignpost_.emplace("Metal.Recovery");
}

void MetalHosting::closeRecoverySignpost()
{
    recoverySignpost_.reset();
}

// ---------------------------------------------------------------- Window observers

void MetalHosting::removeWindowRecoveryObservers()
{
    for (const QMetaObject::Connection& connection : windowRecoveryObservers_)
        disconnect(connection);
    windowRecoveryObservers_.clear();
    if (observedWindow_)
        observedWindow_->removeEventFilter(this);
    observedWindow_ = nullptr;
}

void MetalHosting::installMetalWindowRecoveryObservers()
{
    removeWindowRecoveryObservers();
    QWidget* top = view_.window();
    QWindow* handle = top != nullptr ? top->windowHandle() : nullptr;
    if (handle == nullptr)
        return;
    observedWindow_ = handle;
    // Exposure (the occlusion stand-in) arrives as an event; minimising and showing as signals.
    handle->installEventFilter(this);
    auto redrawIfVisible = [this] {
        if (viewAlive() && view_.canPresentMetalFrames())
            view_.setMetalViewNeedsDisplay();
    };
    windowRecoveryObservers_.push_back(connect(handle, &QWindow::windowStateChanged, this, redrawIfVisible));
    windowRecoveryObservers_.push_back(connect(handle, &QWindow::visibleChanged, this, redrawIfVisible));
    // The toolkit remakes a window when its first GPU surface arrives: follow it to the new one
    // once it exists.
    windowRecoveryObservers_.push_back(connect(handle, &QObject::destroyed, this, [this] {
        QMetaObject::invokeMethod(this, [this] { installMetalWindowRecoveryObservers(); }, Qt::QueuedConnection);
    }));
}

void MetalHosting::installKeyWindowObservers()
{
    disconnect(focusWindowObserver_);
    focusWindowObserver_ = {};
    if (qGuiApp == nullptr)
        return;
    focusWindowObserver_ = connect(qGuiApp, &QGuiApplication::focusWindowChanged, this, [this](QWindow*) {
        if (!viewAlive())
            return;
        if (view_.caretView)
            view_.caretView->updateCursorStyle();
        view_.queuePendingMetalDisplay();
    });
}

bool MetalHosting::viewAlive() const
{
    // While the view's destructor runs down to QWidget's (which hides the window and so fires
    // the observers), the view is no longer a TerminalView and its fields are gone.
    return qobject_cast<const TerminalView*>(parent()) != nullptr;
}

bool MetalHosting::eventFilter(QObject* watched, QEvent* event)
{
    if (!viewAlive())
        return QObject::eventFilter(watched, event);
    if (watched == observedWindow_.data() && event->type() == QEvent::Expose) {
        if (view_.canPresentMetalFrames())
            view_.setMetalViewNeedsDisplay();
    } else if (watched == &view_ && (event->type() == QEvent::ParentChange || event->type() == QEvent::Show)) {
        // The view may now live in another window: follow it.
        QWidget* top = view_.window();
        QWindow* handle = top != nullptr ? top->windowHandle() : nullptr;
        if (handle != observedWindow_.data())
            installMetalWindowRecoveryObservers();
        if (view_.useMetalRenderer && metalView_ && top != nullptr && top != boundWindow_.data())
            rebindMetalRenderer(top);
    }
    return QObject::eventFilter(watched, event);
}

} // namespace corvantix
