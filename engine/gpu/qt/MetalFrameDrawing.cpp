#include "gpu/qt/MetalTerminalRenderer.h"

#include <algorithm>
#include <mutex>

#include <QOpenGLContext>
#include <QTimer>
#include <QVector2D>

#include "gpu/qt/OpenGLMetalBuffer.h"

namespace corvantix {

namespace {

// What the coordinator's probe reads of a frame: GL has no command buffer object, so the
// frame's state is kept here, moved on by the frame path and the fence poll.
class FrameProgress {
public:
    MetalTrackedCommandBufferStatus status() const
    {
        std::lock_guard guard(lock_);
        return status_;
    }
    std::optional<std::string> error() const
    {
        std::lock_guard guard(lock_);
        return error_;
    }
    void set(MetalTrackedCommandBufferStatus status, std::optional<std::string> error = std::nullopt)
    {
        std::lock_guard guard(lock_);
        status_ = status;
        error_ = std::move(error);
    }

private:
    mutable std::mutex lock_;
    MetalTrackedCommandBufferStatus status_ = MetalTrackedCommandBufferStatus::notEnqueued;
    std::optional<std::string> error_;
};

// The poll while a frame is in flight: short, since software GL usually finishes in a few
// milliseconds and the next frame waits for this one.
constexpr int fencePollIntervalMs = 2;

const char* const contextLostText = "The OpenGL context was destroyed before the frame completed.";
const char* const fenceFailedText = "Waiting for the frame's OpenGL fence failed.";

} // namespace

struct MetalTerminalRenderer::FrameState {
    struct InFlight {
        MetalFrameCoordinator::Token token;
        GLsync fence = nullptr;
        std::shared_ptr<FrameProgress> progress;
        std::weak_ptr<MetalBufferPool> pool;
        std::vector<std::shared_ptr<MetalBuffer>> buffers;
    };

    QOpenGLFunctions_3_3_Core* gl = nullptr;
    QOpenGLContext* context = nullptr;
    std::unique_ptr<OpenGLMetalBufferDevice> device;
    std::shared_ptr<MetalBufferPool> pool;
    GLuint vertexArray = 0;
    // Where a frame drawn at another scale than the widget's is drawn before being scaled
    // into the widget's framebuffer.
    GLuint scaledFramebuffer = 0;
    GLuint scaledRenderbuffer = 0;
    MetalDrawableSize scaledSize;
    std::unique_ptr<QTimer> blinkTimer;
    std::unique_ptr<QTimer> pollTimer;
    std::vector<InFlight> inFlight;
    QPointer<MetalGLView> swapView; // the view whose swaps are watched
    QMetaObject::Connection swapped;
    QMetaObject::Connection contextGone;
    bool awaitingPresentation = false;
    std::uint64_t framesCommitted = 0;

    ~FrameState()
    {
        QObject::disconnect(swapped);
        QObject::disconnect(contextGone);
        if (device && !device->isContextLost() && QOpenGLContext::currentContext() == context) {
            for (const InFlight& frame : inFlight)
                gl->glDeleteSync(frame.fence);
            if (vertexArray != 0)
                gl->glDeleteVertexArrays(1, &vertexArray);
            deleteScaledTarget();
        }
        // Buffers still in flight are released with the context current or left to it.
        inFlight.clear();
        pool.reset();
    }

    void deleteScaledTarget()
    {
        if (scaledFramebuffer != 0)
            gl->glDeleteFramebuffers(1, &scaledFramebuffer);
        if (scaledRenderbuffer != 0)
            gl->glDeleteRenderbuffers(1, &scaledRenderbuffer);
        scaledFramebuffer = 0;
        scaledRenderbuffer = 0;
        scaledSize = {};
    }

    // A framebuffer of `size` to draw into, made again when the size changes; 0 when GL
    // cannot make it complete.
    GLuint scaledTarget(MetalDrawableSize size)
    {
        if (scaledFramebuffer != 0 && scaledSize == size)
            return scaledFramebuffer;
        deleteScaledTarget();
        gl->glGenRenderbuffers(1, &scaledRenderbuffer);
        gl->glBindRenderbuffer(GL_RENDERBUFFER, scaledRenderbuffer);
        gl->glRenderbufferStorage(GL_RENDERBUFFER, GL_RGBA8, size.width, size.height);
        gl->glBindRenderbuffer(GL_RENDERBUFFER, 0);
        gl->glGenFramebuffers(1, &scaledFramebuffer);
        gl->glBindFramebuffer(GL_FRAMEBUFFER, scaledFramebuffer);
        gl->glFramebufferRenderbuffer(GL_FRAMEBUFFER, GL_COLOR_ATTACHMENT0, GL_RENDERBUFFER, scaledRenderbuffer);
        if (gl->glCheckFramebufferStatus(GL_FRAMEBUFFER) != GL_FRAMEBUFFER_COMPLETE) {
            deleteScaledTarget();
            return 0;
        }
        scaledSize = size;
        return scaledFramebuffer;
    }
};

MetalTerminalRenderer::FrameState& MetalTerminalRenderer::frameState()
{
    if (frameState_)
        return *frameState_;
    auto state = std::make_shared<FrameState>();
    state->gl = gl_;
    state->context = QOpenGLContext::currentContext();
    state->device = std::make_unique<OpenGLMetalBufferDevice>(*gl_);
    state->pool = std::make_shared<MetalBufferPool>(*state->device);
    if (state->context != nullptr) {
        gl_->glGenVertexArrays(1, &state->vertexArray);
        std::weak_ptr<MetalTerminalRenderer*> weak = self_;
        state->contextGone = QObject::connect(state->context, &QOpenGLContext::aboutToBeDestroyed, [weak] {
            if (const auto self = weak.lock())
                (*self)->completeFrames(true);
        });
    }
    state->pollTimer = std::make_unique<QTimer>();
    state->pollTimer->setInterval(fencePollIntervalMs);
    QObject::connect(state->pollTimer.get(), &QTimer::timeout, [weak = std::weak_ptr<MetalTerminalRenderer*>(self_)] {
        if (const auto self = weak.lock())
            (*self)->pollFrameCompletions();
    });
    frameState_ = std::move(state);
    return *frameState_;
}

MetalBufferDevice& MetalTerminalRenderer::bufferDevice()
{
    return *frameState().device;
}

MetalBufferPool& MetalTerminalRenderer::bufferPool()
{
    return *frameState().pool;
}

std::uint64_t MetalTerminalRenderer::framesCommitted() const
{
    return frameState_ ? frameState_->framesCommitted : 0;
}

// ---------------------------------------------------------------- Cursor blink

void MetalTerminalRenderer::updateCursorBlink(bool shouldBlink)
{
    FrameState& state = frameState();
    switch (updateCursorBlinkState(shouldBlink, cursorBlinkTimerRunning(), cursorBlinkOn)) {
    case CursorBlinkTimerChange::none:
        return;
    case CursorBlinkTimerChange::stop:
        state.blinkTimer.reset();
        return;
    case CursorBlinkTimerChange::start:
        state.blinkTimer = std::make_unique<QTimer>();
        state.blinkTimer->setInterval(metalCursorBlinkInterval);
        QObject::connect(state.blinkTimer.get(), &QTimer::timeout,
                         [weak = std::weak_ptr<MetalTerminalRenderer*>(self_)] {
                             if (const auto self = weak.lock())
                                 (*self)->cursorBlinkTick();
                         });
        state.blinkTimer->start();
        return;
    }
}

void MetalTerminalRenderer::cursorBlinkTick()
{
    if (!metalView_)
        return;
    // A window nobody sees draws no frames, so nothing would stop the timer: it stops here,
    // the caret is shown, and the first frame after the window comes back starts it again.
    if (hostObject_.isNull() || host_ == nullptr || !host_->canPresentMetalFrames()) {
        updateCursorBlink(false);
        return;
    }
    cursorBlinkOn = !cursorBlinkOn;
    // Only the caret changed: the rows come from the row cache and the cursor is built anew.
    metalView_->update();
}

bool MetalTerminalRenderer::cursorBlinkTimerRunning() const
{
    return frameState_ && frameState_->blinkTimer && frameState_->blinkTimer->isActive();
}

// ---------------------------------------------------------------- Encoding

namespace {

enum class Layer { backgrounds, underImages, powerlineJoins, grayGlyphs, colorGlyphs, decorations, placeholderImages,
                   overImages, otherImages };

// Drawn back to front: images under the text sit between the cell backgrounds and the joins.
// Colour pictures go before the other glyphs, so that a mark drawn on a picture (an accent
// on a flag) is seen over it, as the painter draws a cell's glyphs in their order.
constexpr Layer layerOrder[] = {Layer::backgrounds,   Layer::underImages, Layer::powerlineJoins,
                                Layer::colorGlyphs,   Layer::grayGlyphs,  Layer::decorations,
                                Layer::placeholderImages, Layer::overImages, Layer::otherImages};

bool isImageLayer(Layer layer)
{
    return layer == Layer::underImages || layer == Layer::placeholderImages || layer == Layer::overImages
        || layer == Layer::otherImages;
}

const std::vector<ImageDraw>& imageList(const FrameDrawData& frame, Layer layer)
{
    switch (layer) {
    case Layer::underImages:
        return frame.underImageDraws;
    case Layer::placeholderImages:
        return frame.placeholderImageDraws;
    case Layer::overImages:
        return frame.overImageDraws;
    default:
        return frame.otherImageDraws;
    }
}

const std::vector<ImageDrawBuffer>& imageBuffers(const RowDrawBuffers& row, Layer layer)
{
    switch (layer) {
    case Layer::underImages:
        return row.underImageBuffers;
    case Layer::placeholderImages:
        return row.placeholderImageBuffers;
    case Layer::overImages:
        return row.overImageBuffers;
    default:
        return row.otherImageBuffers;
    }
}

struct RowCells {
    const std::shared_ptr<MetalBuffer>* buffer;
    int count;
};

RowCells rowCells(const RowDrawBuffers& row, Layer layer)
{
    switch (layer) {
    case Layer::backgrounds:
        return {&row.backgroundBuffer, row.backgroundCount};
    case Layer::powerlineJoins:
        return {&row.powerlineJoinBuffer, row.powerlineJoinCount};
    case Layer::grayGlyphs:
        return {&row.glyphGrayBuffer, row.glyphGrayCount};
    case Layer::colorGlyphs:
        return {&row.glyphColorBuffer, row.glyphColorCount};
    default:
        return {&row.decorationBuffer, row.decorationCount};
    }
}

// Issues the GL calls of one frame's layers and counts its draws.
class FrameEncoder {
public:
    FrameEncoder(QOpenGLFunctions_3_3_Core& gl, MetalFloat2 viewport, GLuint sampler)
        : gl_(gl), viewport_(viewport[0], viewport[1]), sampler_(sampler)
    {
    }

    int draws() const { return draws_; }

    void use(const MetalPipeline& pipeline)
    {
        QOpenGLShaderProgram& program = *pipeline.program;
        program.bind();
        program.setUniformValue("viewport", viewport_);
        program.setUniformValue("glyphs", 0);
        program.setUniformValue("cells", 1);
        gl_.glBlendFuncSeparate(pipeline.sourceRGB, pipeline.destinationRGB, pipeline.sourceAlpha,
                                pipeline.destinationAlpha);
    }

    void bindTexture(GLuint texture)
    {
        gl_.glActiveTexture(GL_TEXTURE0);
        gl_.glBindTexture(GL_TEXTURE_2D, texture);
        gl_.glBindSampler(0, sampler_);
    }

    // Six vertices per record, fetched from the buffer by the vertex's index.
    void drawCells(MetalBuffer& buffer, int count, std::size_t recordSize)
    {
        auto& glBuffer = static_cast<OpenGLMetalBuffer&>(buffer);
        // A count beyond the buffer's records would draw whatever follows them.
        const auto records = static_cast<int>(std::min<std::size_t>(glBuffer.length() / recordSize, 1 << 26));
        count = std::min(count, records);
        const GLuint texture = glBuffer.cellTexture();
        if (count <= 0 || texture == 0)
            return;
        for (GLuint attribute = 0; attribute < 3; ++attribute)
            gl_.glDisableVertexAttribArray(attribute);
        gl_.glActiveTexture(GL_TEXTURE1);
        gl_.glBindTexture(GL_TEXTURE_BUFFER, texture);
        gl_.glDrawArrays(GL_TRIANGLES, 0, 6 * count);
        ++draws_;
    }

    // Plain vertices of 32 bytes: position, then texture coordinate and colour (glyph
    // vertices) or padding and colour (colour vertices).
    void drawVertices(MetalBuffer& buffer, int count, bool textured)
    {
        auto& glBuffer = static_cast<OpenGLMetalBuffer&>(buffer);
        count = std::min<long long>(count, static_cast<long long>(glBuffer.length() / 32));
        if (count <= 0)
            return;
        constexpr GLsizei stride = 32;
        gl_.glBindBuffer(GL_ARRAY_BUFFER, glBuffer.name());
        gl_.glEnableVertexAttribArray(0);
        gl_.glVertexAttribPointer(0, 2, GL_FLOAT, GL_FALSE, stride, reinterpret_cast<const void*>(0));
        if (textured) {
            gl_.glEnableVertexAttribArray(1);
            gl_.glVertexAttribPointer(1, 2, GL_FLOAT, GL_FALSE, stride, reinterpret_cast<const void*>(8));
            gl_.glEnableVertexAttribArray(2);
            gl_.glVertexAttribPointer(2, 4, GL_FLOAT, GL_FALSE, stride, reinterpret_cast<const void*>(16));
        } else {
            gl_.glEnableVertexAttribArray(1);
            gl_.glVertexAttribPointer(1, 4, GL_FLOAT, GL_FALSE, stride, reinterpret_cast<const void*>(16));
            gl_.glDisableVertexAttribArray(2);
        }
        gl_.glDrawArrays(GL_TRIANGLES, 0, count);
        gl_.glBindBuffer(GL_ARRAY_BUFFER, 0);
        ++draws_;
    }

private:
    QOpenGLFunctions_3_3_Core& gl_;
    QVector2D viewport_;
    GLuint sampler_;
    int draws_ = 0;
};

GLuint atlasTextureName(const GlyphAtlas& atlas)
{
    const auto* texture = dynamic_cast<const OpenGLGlyphAtlasTexture*>(&atlas.texture());
    return texture ? texture->name() : 0;
}

GLuint imageTextureName(const std::shared_ptr<MetalTexture>& texture)
{
    const auto* image = dynamic_cast<const MetalImageTexture*>(texture.get());
    return image ? image->name() : 0;
}

} // namespace

int MetalTerminalRenderer::encodeDrawData(const DrawData& data, MetalFloat2 viewport)
{
    FrameState& state = frameState();
    QOpenGLFunctions_3_3_Core& gl = *gl_;
    MetalBufferPool& pool = *state.pool;
    FrameEncoder encoder(gl, viewport, sampler_);
    gl.glBindVertexArray(state.vertexArray);
    gl.glDisable(GL_DEPTH_TEST);
    gl.glDisable(GL_SCISSOR_TEST);
    gl.glEnable(GL_BLEND);

    const GLuint grayAtlas = atlasTextureName(*grayscaleAtlas_);
    const GLuint colorAtlas = atlasTextureName(*colorAtlas_);
    const auto cellPipeline = [&](Layer layer) -> const MetalPipeline& {
        switch (layer) {
        case Layer::grayGlyphs:
            return cellTextGrayPipeline_;
        case Layer::colorGlyphs:
            return cellTextPipeline_;
        default:
            return cellColorPipeline_;
        }
    };
    const auto useCellLayer = [&](Layer layer) {
        encoder.use(cellPipeline(layer));
        if (layer == Layer::grayGlyphs)
            encoder.bindTexture(grayAtlas);
        else if (layer == Layer::colorGlyphs)
            encoder.bindTexture(colorAtlas);
    };
    const auto recordSize = [](Layer layer) -> std::size_t {
        return layer == Layer::grayGlyphs || layer == Layer::colorGlyphs ? sizeof(TextCell) : sizeof(ColorCell);
    };

    if (data.frame) {
        const FrameDrawData& frame = *data.frame;
        for (Layer layer : layerOrder) {
            if (isImageLayer(layer)) {
                const std::vector<ImageDraw>& draws = imageList(frame, layer);
                if (draws.empty())
                    continue;
                encoder.use(textPipeline_);
                for (const ImageDraw& draw : draws) {
                    const GLuint texture = imageTextureName(draw.texture);
                    if (draw.vertices.empty() || texture == 0)
                        continue;
                    const auto buffer = makeFrameBuffer(pool, std::span<const GlyphVertex>(draw.vertices));
                    if (!buffer)
                        continue;
                    encoder.bindTexture(texture);
                    encoder.drawVertices(*buffer, static_cast<int>(draw.vertices.size()), true);
                }
                continue;
            }
            std::shared_ptr<MetalBuffer> buffer;
            std::size_t count = 0;
            switch (layer) {
            case Layer::backgrounds:
                buffer = makeFrameBuffer(pool, std::span<const ColorCell>(frame.backgroundCells));
                count = frame.backgroundCells.size();
                break;
            case Layer::powerlineJoins:
                buffer = makeFrameBuffer(pool, std::span<const ColorCell>(frame.powerlineJoinCells));
                count = frame.powerlineJoinCells.size();
                break;
            case Layer::grayGlyphs:
                buffer = makeFrameBuffer(pool, std::span<const TextCell>(frame.glyphCellsGray));
                count = frame.glyphCellsGray.size();
                break;
            case Layer::colorGlyphs:
                buffer = makeFrameBuffer(pool, std::span<const TextCell>(frame.glyphCellsColor));
                count = frame.glyphCellsColor.size();
                break;
            default:
                buffer = makeFrameBuffer(pool, std::span<const ColorCell>(frame.decorationCells));
                count = frame.decorationCells.size();
                break;
            }
            if (!buffer)
                continue;
            useCellLayer(layer);
            encoder.drawCells(*buffer, static_cast<int>(std::min<std::size_t>(count, 1 << 26)), recordSize(layer));
        }
    } else {
        for (Layer layer : layerOrder) {
            if (isImageLayer(layer)) {
                const bool any = std::any_of(data.rows.begin(), data.rows.end(),
                                             [&](const RowDrawBuffers& row) { return !imageBuffers(row, layer).empty(); });
                if (!any)
                    continue;
                encoder.use(textPipeline_);
                for (const RowDrawBuffers& row : data.rows) {
                    for (const ImageDrawBuffer& image : imageBuffers(row, layer)) {
                        const GLuint texture = imageTextureName(image.texture);
                        if (!image.buffer || texture == 0)
                            continue;
                        encoder.bindTexture(texture);
                        encoder.drawVertices(*image.buffer, image.vertexCount, true);
                    }
                }
                continue;
            }
            const bool any = std::any_of(data.rows.begin(), data.rows.end(),
                                         [&](const RowDrawBuffers& row) { return *rowCells(row, layer).buffer != nullptr; });
            if (!any)
                continue;
            useCellLayer(layer);
            for (const RowDrawBuffers& row : data.rows) {
                const RowCells cells = rowCells(row, layer);
                if (*cells.buffer && cells.count > 0)
                    encoder.drawCells(**cells.buffer, cells.count, recordSize(layer));
            }
        }
    }

    // The cursor, over everything.
    if (auto buffer = makeFrameBuffer(pool, std::span<const ColorVertex>(data.cursorColorVertices))) {
        encoder.use(colorPipeline_);
        encoder.drawVertices(*buffer, static_cast<int>(data.cursorColorVertices.size()), false);
    }
    // Its glyphs in the rows' order, colour pictures first: a mark on a picture stays seen.
    if (auto buffer = makeFrameBuffer(pool, std::span<const GlyphVertex>(data.cursorGlyphVerticesColor))) {
        encoder.use(textPipeline_);
        encoder.bindTexture(colorAtlas);
        encoder.drawVertices(*buffer, static_cast<int>(data.cursorGlyphVerticesColor.size()), true);
    }
    if (auto buffer = makeFrameBuffer(pool, std::span<const GlyphVertex>(data.cursorGlyphVerticesGray))) {
        encoder.use(textGrayPipeline_);
        encoder.bindTexture(grayAtlas);
        encoder.drawVertices(*buffer, static_cast<int>(data.cursorGlyphVerticesGray.size()), true);
    }

    gl.glBindVertexArray(0);
    gl.glActiveTexture(GL_TEXTURE0);
    gl.glBindTexture(GL_TEXTURE_2D, 0);
    gl.glBindSampler(0, 0);
    gl.glUseProgram(0);
    return encoder.draws();
}

// ---------------------------------------------------------------- One frame

void MetalTerminalRenderer::drawFrame(MetalGLView& view)
{
    MetalProfileInterval drawInterval("Metal.Draw");
    MetalFrameCoordinator& coordinator = frameCoordinator();
    const auto token = coordinator.beginFrame();
    if (!token)
        return;

    TerminalView* terminalView = terminalView_;
    if (terminalView == nullptr || !terminalView->terminal) {
        coordinator.cancelFrame(*token, MetalFrameRefusalReason::missingDrawable);
        return;
    }
    FrameState& state = frameState();
    rasterizer.fontSmoothing = terminalView->fontSmoothing();

    const double scale = metalDrawScale(terminalView->metalScaleFactorOverride(), view.devicePixelRatioF());
    const MetalDrawableSize drawable = metalDrawableSize(view.width(), view.height(), scale);

    const Terminal& terminal = *terminalView->terminal;
    const QWidget* window = terminalView->window();
    const bool focused = terminalView->hasFocus() && (window == nullptr || window->isActiveWindow());
    updateCursorBlink(shouldBlink(terminal.options().cursorStyle, terminal.cursorHidden(),
                                  terminalView->caretViewTracksFocus(), focused));

    // The drawable is the widget's framebuffer in the context this renderer was built on; a
    // view whose context was made again (moved to another window) has none this renderer
    // can draw into, and the coordinator's recovery replaces the renderer.
    MetalProfileInterval drawableInterval("Metal.CurrentDrawable");
    QOpenGLContext* context = QOpenGLContext::currentContext();
    if (!view.isValid() || context == nullptr || context != view.context() || context != state.context
        || state.device->isContextLost() || view.defaultFramebufferObject() == 0 || drawable.width < 1
        || drawable.height < 1) {
        coordinator.cancelFrame(*token, MetalFrameRefusalReason::missingDrawable);
        return;
    }
    drawableInterval.end();
    state.device->collectReleased();
    QOpenGLFunctions_3_3_Core& gl = *gl_;
    // At the widget's own scale the frame goes straight into its framebuffer; at another
    // (an override) it is drawn at that scale and then scaled to fit, as a layer with its
    // own contents scale would be.
    const MetalDrawableSize widgetSize = metalDrawableSize(view.width(), view.height(), view.devicePixelRatioF());
    const bool scaled = drawable != widgetSize;
    {
        MetalProfileInterval passInterval("Metal.RenderPass");
        gl.glBindFramebuffer(GL_FRAMEBUFFER, view.defaultFramebufferObject());
        bool complete = gl.glCheckFramebufferStatus(GL_FRAMEBUFFER) == GL_FRAMEBUFFER_COMPLETE;
        if (complete && scaled) {
            const GLuint target = state.scaledTarget(drawable);
            complete = target != 0;
            gl.glBindFramebuffer(GL_FRAMEBUFFER, complete ? target : view.defaultFramebufferObject());
        }
        if (!complete) {
            coordinator.cancelFrame(*token, MetalFrameRefusalReason::missingRenderPassDescriptor);
            return;
        }
    }

    DrawData data;
    {
        MetalProfileInterval buildInterval("Metal.BuildDrawData");
        const MetalBuildRetryTargets targets{atlasInvalidatedDuringBuild, grayscaleAtlas_->frozen, colorAtlas_->frozen,
                                            [this] { rowCache.clear(); }};
        data = buildDrawDataWithRetry(targets, [this, scale] { return buildDrawData(scale); });
    }

    const QColor& clear =
        terminal.reverseColors() ? terminalView->nativeForegroundColor() : terminalView->nativeBackgroundColor();
    const std::array<float, 4> clearColor = rgbaComponents(clear);

    MetalProfileInterval encodeInterval("Metal.Encode");
    auto progress = std::make_shared<FrameProgress>();
    coordinator.attachCommandBuffer(*token, {[progress] { return progress->status(); },
                                             [progress] { return progress->error(); }});
    MetalBufferPool& pool = *state.pool;
    pool.frameBuffers.clear();
    gl.glViewport(0, 0, drawable.width, drawable.height);
    gl.glClearColor(clearColor[0], clearColor[1], clearColor[2], clearColor[3]);
    gl.glClear(GL_COLOR_BUFFER_BIT);
    encodeDrawData(data, {static_cast<float>(drawable.width), static_cast<float>(drawable.height)});
    data = {};
    if (scaled) {
        gl.glBindFramebuffer(GL_READ_FRAMEBUFFER, state.scaledFramebuffer);
        gl.glBindFramebuffer(GL_DRAW_FRAMEBUFFER, view.defaultFramebufferObject());
        gl.glBlitFramebuffer(0, 0, drawable.width, drawable.height, 0, 0, widgetSize.width, widgetSize.height,
                             GL_COLOR_BUFFER_BIT, GL_LINEAR);
        gl.glBindFramebuffer(GL_FRAMEBUFFER, view.defaultFramebufferObject());
    }
    encodeInterval.end();

    MetalProfileInterval commitInterval("Metal.Commit");
    GLsync fence = gl.glFenceSync(GL_SYNC_GPU_COMMANDS_COMPLETE, 0);
    gl.glFlush();
    if (fence == nullptr) {
        // Nothing will ever say this frame finished: fail it now rather than stall.
        progress->set(MetalTrackedCommandBufferStatus::error, std::string(fenceFailedText));
        pool.recycle(pool.frameBuffers);
        coordinator.completeFrame(*token, MetalTrackedCommandBufferStatus::error, std::string(fenceFailedText));
        return;
    }
    progress->set(MetalTrackedCommandBufferStatus::committed);
    state.inFlight.push_back({*token, fence, progress, state.pool, pool.frameBuffers});
    ++state.framesCommitted;

    // The widget's frame reaching the screen is its presentation.
    if (state.swapView != &view) {
        QObject::disconnect(state.swapped);
        state.swapView = &view;
        state.swapped = QObject::connect(&view, &QOpenGLWidget::frameSwapped,
                                         [weak = std::weak_ptr<MetalTerminalRenderer*>(self_)] {
                                             const auto self = weak.lock();
                                             if (!self)
                                                 return;
                                             MetalTerminalRenderer& renderer = **self;
                                             // The swap is a good moment to look at the fence,
                                             // but not from inside the window's composition.
                                             renderer.queue_.post([weak] {
                                                 if (const auto alive = weak.lock())
                                                     (*alive)->pollFrameCompletions();
                                             });
                                             if (!renderer.frameState_ || !renderer.frameState_->awaitingPresentation)
                                                 return;
                                             renderer.frameState_->awaitingPresentation = false;
                                             const auto when = std::chrono::system_clock::now();
                                             renderer.queue_.post([weak, when] {
                                                 const auto alive = weak.lock();
                                                 if (!alive)
                                                     return;
                                                 MetalTerminalRenderer& r = **alive;
                                                 if (r.hostObject_ && r.host_ && r.terminalView_)
                                                     r.host_->metalFramePresented(r, when);
                                             });
                                         });
    }
    state.awaitingPresentation = true;
    if (!state.pollTimer->isActive())
        state.pollTimer->start();
}

// ---------------------------------------------------------------- Completion

void MetalTerminalRenderer::pollFrameCompletions()
{
    if (!frameState_ || frameState_->inFlight.empty()) {
        if (frameState_)
            frameState_->pollTimer->stop();
        return;
    }
    completeFrames(false);
}

void MetalTerminalRenderer::completeFrames(bool contextGone)
{
    if (!frameState_)
        return;
    FrameState& state = *frameState_;
    if (state.device->isContextLost())
        return;

    // Fences are read in their own context; whatever was current is put back after.
    QOpenGLContext* previous = QOpenGLContext::currentContext();
    QSurface* previousSurface = previous ? previous->surface() : nullptr;
    bool switched = false;
    if (!contextGone && previous != state.context) {
        if (!metalView_ || metalView_->context() != state.context)
            return; // the context is going; its own signal completes these frames
        metalView_->makeCurrent();
        switched = true;
    }
    const bool current = QOpenGLContext::currentContext() == state.context;

    struct Finished {
        MetalFrameCoordinator::Token token;
        MetalTrackedCommandBufferStatus status;
        std::optional<std::string> error;
    };
    std::vector<Finished> finished;
    std::vector<FrameState::InFlight> still;
    for (FrameState::InFlight& frame : state.inFlight) {
        MetalTrackedCommandBufferStatus status = MetalTrackedCommandBufferStatus::committed;
        std::optional<std::string> error;
        if (contextGone) {
            status = MetalTrackedCommandBufferStatus::error;
            error = contextLostText;
        } else if (current) {
            const GLenum result = state.gl->glClientWaitSync(frame.fence, 0, 0);
            if (result == GL_ALREADY_SIGNALED || result == GL_CONDITION_SATISFIED)
                status = MetalTrackedCommandBufferStatus::completed;
            else if (result == GL_WAIT_FAILED) {
                status = MetalTrackedCommandBufferStatus::error;
                error = fenceFailedText;
            }
        }
        if (status == MetalTrackedCommandBufferStatus::committed) {
            still.push_back(std::move(frame));
            continue;
        }
        if (current)
            state.gl->glDeleteSync(frame.fence);
        frame.progress->set(status, error);
        // Buffers of a frame that finished go back to the pool; those of a lost context
        // name nothing any more and are dropped.
        if (!contextGone) {
            if (const auto pool = frame.pool.lock())
                pool->recycle(frame.buffers);
        }
        finished.push_back({frame.token, status, std::move(error)});
    }
    state.inFlight = std::move(still);

    if (contextGone) {
        state.device->contextLost();
        state.vertexArray = 0;
        state.scaledFramebuffer = 0;
        state.scaledRenderbuffer = 0;
        // Pooled and cached buffers belonged to that context.
        state.pool = std::make_shared<MetalBufferPool>(*state.device);
        rowCache.clear();
    }
    if (switched) {
        if (previous != nullptr && previousSurface != nullptr)
            previous->makeCurrent(previousSurface);
        else
            metalView_->doneCurrent();
    }
    if (state.inFlight.empty())
        state.pollTimer->stop();

    // Last: the coordinator's callbacks may reach the host.
    if (!finished.empty()) {
        MetalFrameCoordinator& coordinator = frameCoordinator();
        for (Finished& frame : finished)
            coordinator.completeFrame(frame.token, frame.status, std::move(frame.error));
    }
}

} // namespace corvantix
