// Frames drawn by the GPU renderer into a shown surface widget on a real X server with
// software OpenGL: what lands in the framebuffer, and how a frame's fence drives the
// coordinator.
#include "gpu/qt/MetalTerminalRenderer.h"

#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QOpenGLContext>
#include <QOpenGLFunctions_3_3_Core>
#include <QOpenGLVersionFunctionsFactory>

#include <array>
#include <functional>
#include <memory>
#include <ostream>

#include "platform/qt/QtMainQueue.h"

namespace corvantix {
namespace {

class FrameHost final : public QObject, public MetalRendererHost {
public:
    bool canPresent = false; // no retries or watchdogs unless a test wants them
    int displays = 0;
    int recoveries = 0;
    MetalRendererRecoveryReport lastReport;
    int idle = 0;
    int presented = 0;

    bool canPresentMetalFrames() const override { return canPresent; }
    void setMetalViewNeedsDisplay() override { ++displays; }
    void recoverMetalRenderer(MetalTerminalRenderer&, const MetalRendererRecoveryReport& report) override
    {
        ++recoveries;
        lastReport = report;
    }
    void pruneRetiredMetalRenderers(MetalTerminalRenderer&) override { ++idle; }
    void metalFramePresented(MetalTerminalRenderer&, std::chrono::system_clock::time_point) override { ++presented; }
};

using Rgba = std::array<int, 4>;

bool waitFor(const std::function<bool()>& condition, int milliseconds = 5000)
{
    QElapsedTimer timer;
    timer.start();
    while (!condition()) {
        if (timer.elapsed() > milliseconds)
            return false;
        QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
    }
    return true;
}

class FrameDrawingGLTest : public testing::Test {
protected:
    static constexpr int width = 160;
    static constexpr int height = 96;

    void SetUp() override
    {
        terminalView = std::make_unique<TerminalView>(QRect(0, 0, width, height), std::nullopt);
        terminalView->setNativeBackgroundColor(QColor(0, 0, 255));
        terminalView->setNativeForegroundColor(QColor(255, 255, 0));
        terminalView->setCaretViewTracksFocus(false);
        window = std::make_unique<QWidget>();
        window->resize(width, height);
        view = new MetalGLView(window.get());
        view->setGeometry(0, 0, width, height);
        QObject::connect(view, &MetalGLView::contextCreated, [this] {
            MetalTerminalRendererOptions options;
            options.atlasInitialSize = 256;
            auto made = MetalTerminalRenderer::make(queue, &host, options);
            if (auto* built = std::get_if<std::unique_ptr<MetalTerminalRenderer>>(&made)) {
                renderer = std::move(*built);
                renderer->setViews(view, terminalView.get());
                view->setDelegate(renderer.get());
            }
        });
        window->show();
        ASSERT_TRUE(waitFor([this] { return renderer && renderer->framesCommitted() >= 1; }))
            << "no frame was drawn (is the X server's GLX extension there?)";
        settle();
    }

    void TearDown() override
    {
        if (view) {
            view->setDelegate(nullptr);
            view->makeCurrent();
            renderer.reset();
            view->doneCurrent();
        }
        window.reset();
    }

    MetalFrameCoordinator& coordinator() { return renderer->frameCoordinator(); }

    // Lets the frame in flight complete and the host hear of it.
    void settle()
    {
        ASSERT_TRUE(waitFor([this] { return !coordinator().hasActiveFrame(); }));
        QCoreApplication::processEvents();
    }

    QOpenGLFunctions_3_3_Core& gl()
    {
        return *QOpenGLVersionFunctionsFactory::get<QOpenGLFunctions_3_3_Core>(QOpenGLContext::currentContext());
    }

    // A pixel of the surface's framebuffer; y counts from the bottom.
    Rgba pixelAt(int x, int y)
    {
        view->makeCurrent();
        std::array<unsigned char, 4> bytes{};
        gl().glBindFramebuffer(GL_FRAMEBUFFER, view->defaultFramebufferObject());
        gl().glReadPixels(x, y, 1, 1, GL_RGBA, GL_UNSIGNED_BYTE, bytes.data());
        view->doneCurrent();
        return {bytes[0], bytes[1], bytes[2], bytes[3]};
    }

    // Draws `data` over a blue clear with the renderer's encoder and returns its draw count.
    int encode(const DrawData& data)
    {
        view->makeCurrent();
        gl().glBindFramebuffer(GL_FRAMEBUFFER, view->defaultFramebufferObject());
        gl().glViewport(0, 0, width, height);
        gl().glClearColor(0, 0, 1, 1);
        gl().glClear(GL_COLOR_BUFFER_BIT);
        const int draws = renderer->encodeDrawData(data, {float(width), float(height)});
        gl().glFinish();
        EXPECT_EQ(gl().glGetError(), static_cast<GLenum>(GL_NO_ERROR));
        view->doneCurrent();
        return draws;
    }

    // Draws one frame through the frame path, as the widget's paint would.
    void drawFrameNow()
    {
        view->makeCurrent();
        renderer->drawFrame(*view);
        view->doneCurrent();
    }

    QtMainQueue queue;
    FrameHost host;
    std::unique_ptr<TerminalView> terminalView;
    std::unique_ptr<QWidget> window;
    MetalGLView* view = nullptr;
    std::unique_ptr<MetalTerminalRenderer> renderer;
};

const Rgba blue{0, 0, 255, 255};
const Rgba red{255, 0, 0, 255};
const Rgba green{0, 255, 0, 255};
const Rgba yellow{255, 255, 0, 255};

struct EncodeCase {
    const char* name;
    bool aggregated;
    bool withCells;
    bool withCursor;
    int draws;
};

void PrintTo(const EncodeCase& c, std::ostream* out)
{
    *out << c.name;
}

class EncodeTest : public FrameDrawingGLTest, public testing::WithParamInterface<EncodeCase> {};

TEST_P(EncodeTest, DrawsEachNonEmptyLayerWhereItsRecordsSay)
{
    const EncodeCase& c = GetParam();
    view->makeCurrent();
    // Something else in the atlas first, so a cell that read its atlas size as a corner
    // would sample this light shade instead of the full block.
    ASSERT_TRUE(renderer->drawCustomGlyph(0x2591, 120, 40, 1, false, 1.0));
    const auto block = renderer->drawCustomGlyph(0x2588, 16, 16, 1, false, 1.0);
    ASSERT_TRUE(block);
    const auto side = static_cast<float>(renderer->grayscaleAtlas().size());
    ASSERT_GT(block->region.x, 16);
    view->doneCurrent();

    RowDrawData row;
    if (c.withCells) {
        row.backgroundCells.push_back(ColorCell{{10, 10}, {20, 20}, {1, 0, 0, 1}});
        TextCell text;
        text.position = {60, 40};
        text.size = {16, 16};
        text.texOrigin = {block->region.x / side, block->region.y / side};
        text.texSize = {block->region.width / side, block->region.height / side};
        text.color = {0, 1, 0, 1};
        row.glyphCellsGray.push_back(text);
    }
    DrawData data;
    if (c.aggregated) {
        data.frame.emplace();
        data.frame->append(row);
    } else {
        view->makeCurrent();
        data.rows.push_back(makeRowDrawBuffers(row, renderer->bufferDevice()));
        data.rows.push_back(RowDrawBuffers{});
        view->doneCurrent();
    }
    if (c.withCursor)
        appendRectangleVertices(data.cursorColorVertices, MetalRect{120, 70, 130, 80}, {1, 1, 0, 1});

    EXPECT_EQ(encode(data), c.draws);
    EXPECT_EQ(pixelAt(20, 20), c.withCells ? red : blue);
    EXPECT_EQ(pixelAt(68, 48), c.withCells ? green : blue);
    EXPECT_EQ(pixelAt(61, 41), c.withCells ? green : blue); // the block's corner: full coverage there too
    EXPECT_EQ(pixelAt(125, 75), c.withCursor ? yellow : blue);
    EXPECT_EQ(pixelAt(40, 80), blue);
    EXPECT_EQ(pixelAt(31, 20), blue); // just right of the background cell
}

INSTANTIATE_TEST_SUITE_P(Modes, EncodeTest,
                         testing::Values(EncodeCase{"aggregated cells", true, true, false, 2},
                                         EncodeCase{"per row cells", false, true, false, 2},
                                         EncodeCase{"aggregated cells and cursor", true, true, true, 3},
                                         EncodeCase{"per row cursor only", false, false, true, 1},
                                         EncodeCase{"aggregated nothing", true, false, false, 0},
                                         EncodeCase{"per row nothing", false, false, false, 0}),
                         [](const testing::TestParamInfo<EncodeCase>& info) {
                             std::string name = info.param.name;
                             std::replace(name.begin(), name.end(), ' ', '_');
                             return name;
                         });

// Layers overlapping left to right: each drawn over the one before it in the frame's order.
TEST_F(FrameDrawingGLTest, LayersStackBackgroundsUnderImagesGlyphsThenOverImages)
{
    view->makeCurrent();
    KittyGraphicsState store;
    const auto solidImage = [&](std::uint32_t id, std::array<std::uint8_t, 4> rgba) {
        KittyGraphicsImage image;
        image.payload.kind = KittyGraphicsPayload::Kind::rgba;
        image.payload.width = 2;
        image.payload.height = 2;
        for (int i = 0; i < 4; ++i)
            image.payload.bytes.insert(image.payload.bytes.end(), rgba.begin(), rgba.end());
        image.byteSize = image.payload.byteSize();
        image.storeStamp = id;
        store.imagesById[id] = image;
        return renderer->imageDraw(store, id);
    };
    const auto white = solidImage(1, {255, 255, 255, 255});
    const auto magenta = solidImage(2, {255, 0, 255, 255});
    ASSERT_TRUE(white && magenta);
    const auto block = renderer->drawCustomGlyph(0x2588, 16, 16, 1, false, 1.0);
    ASSERT_TRUE(block);
    const auto side = static_cast<float>(renderer->grayscaleAtlas().size());
    view->doneCurrent();

    RowDrawData row;
    row.backgroundCells.push_back(ColorCell{{10, 10}, {20, 20}, {1, 0, 0, 1}});
    ImageDraw under{white, {}};
    appendRectangleVertices(under.vertices, MetalRect{20, 10, 40, 30}, MetalTexRect{}, {1, 1, 1, 1});
    row.underImageDraws.push_back(under);
    TextCell text;
    text.position = {30, 10};
    text.size = {16, 16};
    text.texOrigin = {block->region.x / side, block->region.y / side};
    text.texSize = {block->region.width / side, block->region.height / side};
    text.color = {0, 1, 0, 1};
    row.glyphCellsGray.push_back(text);
    ImageDraw over{magenta, {}};
    appendRectangleVertices(over.vertices, MetalRect{40, 10, 50, 30}, MetalTexRect{}, {1, 1, 1, 1});
    row.overImageDraws.push_back(over);

    for (bool aggregated : {true, false}) {
        SCOPED_TRACE(aggregated ? "aggregated" : "per row");
        DrawData data;
        if (aggregated) {
            data.frame.emplace();
            data.frame->append(row);
        } else {
            view->makeCurrent();
            data.rows.push_back(makeRowDrawBuffers(row, renderer->bufferDevice()));
            view->doneCurrent();
        }
        EXPECT_EQ(encode(data), 4);
        EXPECT_EQ(pixelAt(15, 20), red);
        EXPECT_EQ(pixelAt(25, 20), (Rgba{255, 255, 255, 255}));
        EXPECT_EQ(pixelAt(35, 20), green);
        EXPECT_EQ(pixelAt(43, 20), (Rgba{255, 0, 255, 255}));
        EXPECT_EQ(pixelAt(35, 28), (Rgba{255, 255, 255, 255})); // above the glyph, the image
        EXPECT_EQ(pixelAt(5, 5), blue);
    }
}

TEST_F(FrameDrawingGLTest, AFrameClearsToTheBackgroundOrUnderReverseColoursTheForeground)
{
    EXPECT_EQ(pixelAt(5, 5), blue);
    // At another scale than the widget's the frame is drawn apart and scaled into the
    // widget, so it must still fill it.
    for (std::optional<double> scale : {std::optional<double>(), std::optional<double>(2.0), std::optional<double>(1.5)}) {
        SCOPED_TRACE(scale ? *scale : 0.0);
        terminalView->setMetalScaleFactorOverride(scale);
        for (bool reverse : {true, false}) {
            terminalView->terminal->reverseColors = reverse;
            const auto committed = renderer->framesCommitted();
            drawFrameNow();
            EXPECT_EQ(renderer->framesCommitted(), committed + 1);
            settle();
            const Rgba expected = reverse ? yellow : blue;
            EXPECT_EQ(pixelAt(5, 5), expected);
            EXPECT_EQ(pixelAt(width - 1, height - 1), expected);
        }
    }
}

TEST_F(FrameDrawingGLTest, ADrawWhileAFrameIsInFlightDrawsNothingAndRedrawsAfterIt)
{
    const auto committed = renderer->framesCommitted();
    const int displays = host.displays;
    const int idle = host.idle;
    drawFrameNow();
    EXPECT_EQ(renderer->framesCommitted(), committed + 1);
    EXPECT_TRUE(coordinator().hasActiveFrame());
    drawFrameNow(); // refused: the first has not completed
    EXPECT_EQ(renderer->framesCommitted(), committed + 1);
    EXPECT_EQ(host.displays, displays);

    settle();
    EXPECT_EQ(host.idle, idle + 1);
    EXPECT_EQ(host.displays, displays + 1); // the refused draw, asked for again
    EXPECT_EQ(host.recoveries, 0);          // completed, not failed
    // The frame's pooled buffers (the cursor's) went back to the pool when it completed.
    const std::size_t used = renderer->bufferPool().frameBuffers.size();
    EXPECT_GE(used, 1u);
    EXPECT_EQ(renderer->bufferPool().idleCount(4096), used);
}

TEST_F(FrameDrawingGLTest, AFrameIsPresentedOnceWhenItsWidgetIsSwapped)
{
    ASSERT_TRUE(waitFor([this] { return host.presented >= 1; })); // the first frame, shown
    Q_EMIT view->frameSwapped();
    QCoreApplication::processEvents();
    const int presented = host.presented;

    // A swap of the window without a new frame of this renderer presents nothing.
    Q_EMIT view->frameSwapped();
    QCoreApplication::processEvents();
    EXPECT_EQ(host.presented, presented);

    drawFrameNow();
    Q_EMIT view->frameSwapped();
    QCoreApplication::processEvents();
    EXPECT_EQ(host.presented, presented + 1);
    Q_EMIT view->frameSwapped();
    QCoreApplication::processEvents();
    EXPECT_EQ(host.presented, presented + 1);
}

TEST_F(FrameDrawingGLTest, AFrameWithoutItsTerminalViewIsRefusedAndKeptRefusingAsksForRecovery)
{
    host.canPresent = true;
    renderer->setViews(view, nullptr);
    const auto committed = renderer->framesCommitted();
    drawFrameNow();
    EXPECT_EQ(renderer->framesCommitted(), committed);
    EXPECT_FALSE(coordinator().hasActiveFrame());
    ASSERT_TRUE(waitFor([this] { return host.recoveries > 0; }, 3000));
    EXPECT_EQ(host.recoveries, 1);
    EXPECT_EQ(host.lastReport.reason, MetalFrameRefusalReason::missingDrawable);
    EXPECT_EQ(host.lastReport.commandBufferStatus, std::nullopt);
    EXPECT_GT(host.displays, 0); // retried meanwhile
}

TEST_F(FrameDrawingGLTest, ALostContextFailsTheFrameInFlightWithAText)
{
    drawFrameNow();
    ASSERT_TRUE(coordinator().hasActiveFrame());
    view->makeCurrent();
    Q_EMIT view->context()->aboutToBeDestroyed(); // as when the widget's context goes
    view->doneCurrent();
    EXPECT_FALSE(coordinator().hasActiveFrame());
    QCoreApplication::processEvents();
    EXPECT_EQ(host.recoveries, 1);
    EXPECT_EQ(host.lastReport.commandBufferStatus, MetalTrackedCommandBufferStatus::error);
    EXPECT_EQ(host.lastReport.commandBufferError,
              std::optional<std::string>("The OpenGL context was destroyed before the frame completed."));
    // No frame is drawn into a context the renderer no longer owns.
    const auto committed = renderer->framesCommitted();
    drawFrameNow();
    EXPECT_EQ(renderer->framesCommitted(), committed);
}

TEST_F(FrameDrawingGLTest, TheBlinkTimerRunsOnlyForABlinkingShownCursor)
{
    struct Case {
        CursorStyle style;
        bool hidden;
        bool runs;
    };
    const Case cases[] = {{CursorStyle::blinkBlock, false, true},
                          {CursorStyle::steadyBlock, false, false},
                          {CursorStyle::blinkBar, false, true},
                          {CursorStyle::blinkBar, true, false}};
    for (const Case& c : cases) {
        SCOPED_TRACE(static_cast<int>(c.style));
        terminalView->terminal->options.cursorStyle = c.style;
        terminalView->terminal->cursorHidden = c.hidden;
        renderer->cursorBlinkOn = false; // as if a tick had hidden it
        drawFrameNow();
        settle();
        EXPECT_EQ(renderer->cursorBlinkTimerRunning(), c.runs);
        if (!c.runs) {
            EXPECT_TRUE(renderer->cursorBlinkOn);
        }
    }
}

} // namespace
} // namespace corvantix
