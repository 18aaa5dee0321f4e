// Shared helpers of the GPU renderer's tests on a real OpenGL 3.3 core context: event-loop
// waiting, a context of its own with a renderer, a host that records what it hears, pixel and
// texture read-back, and the error lines written meanwhile.
#pragma once

#include "gpu/qt/MetalTerminalRenderer.h"

#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QOffscreenSurface>
#include <QOpenGLContext>
#include <QOpenGLFunctions_3_3_Core>
#include <QOpenGLVersionFunctionsFactory>
#include <QOpenGLWidget>
#include <QThread>

#include <array>
#include <memory>
#include <mutex>
#include <string>
#include <utility>
#include <vector>

#include "platform/Log.h"
#include "platform/qt/QtMainQueue.h"

namespace corvantix::gltest {

// Runs the event loop, deferred deletions included, until the condition holds or time is up.
template <typename Condition>
bool waitUntil(Condition condition, int milliseconds = 5000)
{
    QElapsedTimer timer;
    timer.start();
    while (!condition()) {
        if (timer.elapsed() > milliseconds)
            return false;
        QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        QThread::msleep(1);
    }
    return true;
}

class RecordingHost final : public QObject, public MetalRendererHost {
public:
    bool canPresent = true;
    int displays = 0;
    int recoveries = 0;
    int presented = 0;
    MetalRendererRecoveryReport lastReport;
    std::vector<MetalTerminalRenderer*> pruned;

    bool canPresentMetalFrames() const override { return canPresent; }
    void setMetalViewNeedsDisplay() override { ++displays; }
    void recoverMetalRenderer(MetalTerminalRenderer&, const MetalRendererRecoveryReport& report) override
    {
        ++recoveries;
        lastReport = report;
    }
    void pruneRetiredMetalRenderers(MetalTerminalRenderer& renderer) override { pruned.push_back(&renderer); }
    void metalFramePresented(MetalTerminalRenderer&, std::chrono::system_clock::time_point) override { ++presented; }
};

using MadeRenderer = std::variant<std::unique_ptr<MetalTerminalRenderer>, MetalError>;

inline std::string errorOf(const MadeRenderer& made)
{
    const auto* error = std::get_if<MetalError>(&made);
    return error ? error->description() : "(built)";
}

inline QOpenGLFunctions_3_3_Core& gl()
{
    return *QOpenGLVersionFunctionsFactory::get<QOpenGLFunctions_3_3_Core>(QOpenGLContext::currentContext());
}

// An image texture's bytes as GL stores them: the bottom row first.
inline std::vector<std::uint8_t> textureBytes(const MetalTexture& texture)
{
    const auto& image = static_cast<const MetalImageTexture&>(texture);
    std::vector<std::uint8_t> bytes(static_cast<std::size_t>(image.width()) * image.height() * 4);
    gl().glBindTexture(GL_TEXTURE_2D, image.name());
    gl().glPixelStorei(GL_PACK_ALIGNMENT, 1);
    gl().glGetTexImage(GL_TEXTURE_2D, 0, GL_RGBA, GL_UNSIGNED_BYTE, bytes.data());
    return bytes;
}

using Rgba = std::array<int, 4>;

// A pixel of a shown GL widget's framebuffer; y counts from the bottom.
inline Rgba framebufferPixel(QOpenGLWidget& widget, int x, int y)
{
    widget.makeCurrent();
    std::array<unsigned char, 4> bytes{};
    gl().glBindFramebuffer(GL_FRAMEBUFFER, widget.defaultFramebufferObject());
    gl().glReadPixels(x, y, 1, 1, GL_RGBA, GL_UNSIGNED_BYTE, bytes.data());
    widget.doneCurrent();
    return {bytes[0], bytes[1], bytes[2], bytes[3]};
}

// An image of raw RGBA pixels in the inline image store.
inline KittyGraphicsImage rgbaImage(int width, int height, std::vector<std::uint8_t> bytes, std::uint64_t stamp)
{
    KittyGraphicsImage image;
    image.payload.kind = KittyGraphicsPayload::Kind::rgba;
    image.payload.width = width;
    image.payload.height = height;
    image.payload.bytes = std::move(bytes);
    image.byteSize = image.payload.byteSize();
    image.storeStamp = stamp;
    return image;
}

// A current context on an offscreen surface; `renderer` is built on demand and goes before it.
class GLContextTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        QSurfaceFormat format;
        format.setVersion(3, 3);
        format.setProfile(QSurfaceFormat::CoreProfile);
        surface.setFormat(format);
        surface.create();
        context.setFormat(format);
        ASSERT_TRUE(context.create()) << "no OpenGL context (is the X server's GLX extension there?)";
        ASSERT_TRUE(context.makeCurrent(&surface));
        ASSERT_GE(context.format().version(), qMakePair(3, 3));
    }
    void TearDown() override
    {
        renderer.reset();
        context.doneCurrent();
    }

    MadeRenderer make(MetalTerminalRendererOptions options = {})
    {
        options.atlasInitialSize = 256;
        return MetalTerminalRenderer::make(queue, &host, std::move(options));
    }

    void startRenderer()
    {
        MadeRenderer made = make();
        ASSERT_EQ(errorOf(made), "(built)");
        renderer = std::move(std::get<std::unique_ptr<MetalTerminalRenderer>>(made));
    }

    QOffscreenSurface surface;
    QOpenGLContext context;
    QtMainQueue queue;
    RecordingHost host;
    std::unique_ptr<MetalTerminalRenderer> renderer;
};

// A renderer over the rows of a terminal view of `area`, in DejaVu Sans Mono at 14 px.
class GLViewRowsTest : public GLContextTest {
protected:
    void startRendererOnView(QRect area)
    {
        startRenderer();
        QFont font(QStringLiteral("DejaVu Sans Mono"));
        font.setPixelSize(14);
        view = std::make_unique<TerminalView>(area, font);
        ASSERT_TRUE(view->cellDimension.has_value());
        renderer->setViews(nullptr, view.get());
        const QRawFont raw = QRawFont::fromFont(view->fontSet.normal);
        descent = raw.descent();
        leading = raw.leading();
    }

    std::unique_ptr<TerminalView> view;
    double descent = 0;
    double leading = 0;
};

// Every error line written while it lives.
class LogCapture {
public:
    LogCapture()
    {
        previous = setLogSink([this](LogStream stream, std::string_view line) {
            if (stream == LogStream::standardError) {
                std::lock_guard guard(mutex);
                lines.emplace_back(line);
            }
        });
    }
    ~LogCapture() { setLogSink(previous); }
    std::vector<std::string> take()
    {
        std::lock_guard guard(mutex);
        return std::exchange(lines, {});
    }

private:
    std::mutex mutex;
    std::vector<std::string> lines;
    LogSink previous;
};

} // namespace corvantix::gltest
