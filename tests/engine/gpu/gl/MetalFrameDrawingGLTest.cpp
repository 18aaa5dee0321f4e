// Frames drawn by the GPU renderer into a shown surface widget on a real X server with
// software OpenGL: what lands in the framebuffer, and how a frame's fence drives the
// coordinator.
#include "GLTestSupport.h"

#include <memory>

namespace corvantix {
namespace {

using namespace gltest;

const Rgba blue{0, 0, 255, 255};
const Rgba red{255, 0, 0, 255};
const Rgba green{0, 255, 0, 255};
const Rgba yellow{255, 255, 0, 255};
const Rgba white{255, 255, 255, 255};
const Rgba magenta{255, 0, 255, 255};

class FrameDrawingGLTest : public testing::Test {
protected:
    static constexpr int width = 160;
    static constexpr int height = 96;

    void SetUp() override
    {
        host.canPresent = false; // no retries or watchdogs unless a test wants them
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
        ASSERT_TRUE(waitUntil([this] { return renderer && renderer->framesCommitted() >= 1; }))
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
        ASSERT_TRUE(waitUntil([this] { return !coordinator().hasActiveFrame(); }));
        QCoreApplication::processEvents();
    }

    Rgba pixelAt(int x, int y) { return framebufferPixel(*view, x, y); }

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

    // The row's records drawn aggregated into the frame, or from buffers of their own.
    DrawData frameOf(const RowDrawData& row, bool aggregated)
    {
        DrawData data;
        if (aggregated) {
            data.frame.emplace();
            data.frame->append(row);
            return data;
        }
        view->makeCurrent();
        data.rows.push_back(makeRowDrawBuffers(row, renderer->bufferDevice()));
        data.rows.push_back(RowDrawBuffers{});
        view->doneCurrent();
        return data;
    }

    // A full block glyph cell at (x, y), 16 pixels square, in green.
    TextCell blockAt(float x, float y)
    {
        view->makeCurrent();
        const auto block = renderer->drawCustomGlyph(0x2588, 16, 16, 1, false, 1.0);
        view->doneCurrent();
        EXPECT_TRUE(block);
        const auto side = static_cast<float>(renderer->grayscaleAtlas().size());
        TextCell text;
        text.position = {x, y};
        text.size = {16, 16};
        if (block) {
            text.texOrigin = {block->region.x / side, block->region.y / side};
            text.texSize = {block->region.width / side, block->region.height / side};
        }
        text.color = {0, 1, 0, 1};
        return text;
    }

    // Draws one frame through the frame path, as the widget's paint would.
    void drawFrameNow()
    {
        view->makeCurrent();
        renderer->drawFrame(*view);
        view->doneCurrent();
    }

    QtMainQueue queue;
    RecordingHost host;
    std::unique_ptr<TerminalView> terminalView;
    std::unique_ptr<QWidget> window;
    MetalGLView* view = nullptr;
    std::unique_ptr<MetalTerminalRenderer> renderer;
};

TEST_F(FrameDrawingGLTest, EachNonEmptyLayerIsDrawnWhereItsRecordsSayInTheFramesOrder)
{
    // Something else in the atlas first, so a cell that read its atlas size as a corner would
    // sample this light shade instead of the full block.
    view->makeCurrent();
    ASSERT_TRUE(renderer->drawCustomGlyph(0x2591, 120, 40, 1, false, 1.0));
    view->doneCurrent();
    const TextCell block = blockAt(60, 40);

    struct Case {
        const char* name;
        bool aggregated;
        bool withCells;
        bool withCursor;
        int draws;
    };
    const Case cases[] = {{"aggregated cells", true, true, false, 2},
                          {"per row cells", false, true, false, 2},
                          {"aggregated cells and cursor", true, true, true, 3},
                          {"per row cursor only", false, false, true, 1},
                          {"aggregated nothing", true, false, false, 0},
                          {"per row nothing", false, false, false, 0}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        RowDrawData row;
        if (c.withCells) {
            row.backgroundCells.push_back(ColorCell{{10, 10}, {20, 20}, {1, 0, 0, 1}});
            row.glyphCellsGray.push_back(block);
        }
        DrawData data = frameOf(row, c.aggregated);
        if (c.withCursor)
            appendRectangleVertices(data.cursorColorVertices, MetalRect{120, 70, 130, 80}, {1, 1, 0, 1});
        EXPECT_EQ(encode(data), c.draws);
        EXPECT_EQ(pixelAt(20, 20), c.withCells ? red : blue);
        EXPECT_EQ(pixelAt(68, 48), c.withCells ? green : blue);
        EXPECT_EQ(pixelAt(61, 41), c.withCells ? green : blue); // the block's corner: full coverage too
        EXPECT_EQ(pixelAt(125, 75), c.withCursor ? yellow : blue);
        EXPECT_EQ(pixelAt(31, 20), blue); // just right of the background cell
    }

    // Layers overlapping left to right: backgrounds, images under text, glyphs, images over text.
    view->makeCurrent();
    KittyGraphicsState store;
    store.imagesById[1] = rgbaImage(2, 2, std::vector<std::uint8_t>(16, 255), 1);
    store.imagesById[2] = rgbaImage(2, 2, {255, 0, 255, 255, 255, 0, 255, 255, 255, 0, 255, 255, 255, 0, 255, 255}, 2);
    ImageDraw under{renderer->imageDraw(store, 1), {}};
    ImageDraw over{renderer->imageDraw(store, 2), {}};
    view->doneCurrent();
    ASSERT_TRUE(under.texture && over.texture);
    appendRectangleVertices(under.vertices, MetalRect{20, 10, 40, 30}, MetalTexRect{}, {1, 1, 1, 1});
    appendRectangleVertices(over.vertices, MetalRect{40, 10, 50, 30}, MetalTexRect{}, {1, 1, 1, 1});
    RowDrawData layered;
    layered.backgroundCells.push_back(ColorCell{{10, 10}, {20, 20}, {1, 0, 0, 1}});
    layered.underImageDraws.push_back(under);
    layered.glyphCellsGray.push_back(blockAt(30, 10));
    layered.overImageDraws.push_back(over);
    for (bool aggregated : {true, false}) {
        SCOPED_TRACE(aggregated ? "layers aggregated" : "layers per row");
        EXPECT_EQ(encode(frameOf(layered, aggregated)), 4);
        EXPECT_EQ(pixelAt(15, 20), red);
        EXPECT_EQ(pixelAt(25, 20), white);
        EXPECT_EQ(pixelAt(35, 20), green);
        EXPECT_EQ(pixelAt(43, 20), magenta);
        EXPECT_EQ(pixelAt(35, 28), white); // above the glyph, the image
        EXPECT_EQ(pixelAt(5, 5), blue);
    }
}

TEST_F(FrameDrawingGLTest, AFrameClearsToTheBackgroundOrUnderReverseColoursTheForeground)
{
    EXPECT_EQ(pixelAt(5, 5), blue);
    // At another scale than the widget's the frame is drawn apart and scaled into the widget,
    // so it must still fill it.
    for (std::optional<double> scale : {std::optional<double>(), std::optional<double>(2.0), std::optional<double>(1.5)}) {
        SCOPED_TRACE(scale ? *scale : 0.0);
        terminalView->setMetalScaleFactorOverride(scale);
        for (bool reverse : {true, false}) {
            terminalView->feedText(reverse ? "\x1b[?5h" : "\x1b[?5l");
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

TEST_F(FrameDrawingGLTest, ADrawInFlightRefusesTheNextWhichIsAskedForAgainAndPresentsOnce)
{
    ASSERT_TRUE(waitUntil([this] { return host.presented >= 1; })); // the first frame, shown
    const auto committed = renderer->framesCommitted();
    const int displays = host.displays;
    const std::size_t idle = host.pruned.size();
    drawFrameNow();
    EXPECT_EQ(renderer->framesCommitted(), committed + 1);
    EXPECT_TRUE(coordinator().hasActiveFrame());
    drawFrameNow(); // refused: the first has not completed
    EXPECT_EQ(renderer->framesCommitted(), committed + 1);
    EXPECT_EQ(host.displays, displays);

    settle();
    EXPECT_EQ(host.pruned.size(), idle + 1);
    EXPECT_EQ(host.displays, displays + 1); // the refused draw, asked for again
    EXPECT_EQ(host.recoveries, 0);          // completed, not failed
    // The frame's pooled buffers (the cursor's) went back to the pool when it completed.
    const std::size_t used = renderer->bufferPool().frameBuffers.size();
    EXPECT_GE(used, 1u);
    EXPECT_EQ(renderer->bufferPool().idleCount(4096), used);

    // A swap presents the new frame once; a swap of the window without a new frame, nothing.
    const auto swap = [&] {
        Q_EMIT view->frameSwapped();
        QCoreApplication::processEvents();
    };
    swap();
    const int presented = host.presented;
    swap();
    EXPECT_EQ(host.presented, presented);
    drawFrameNow();
    swap();
    EXPECT_EQ(host.presented, presented + 1);
    swap();
    EXPECT_EQ(host.presented, presented + 1);
}

TEST_F(FrameDrawingGLTest, RefusalsWithoutATerminalViewAndALostContextAskForRecovery)
{
    host.canPresent = true;
    renderer->setViews(view, nullptr);
    auto committed = renderer->framesCommitted();
    drawFrameNow();
    EXPECT_EQ(renderer->framesCommitted(), committed);
    EXPECT_FALSE(coordinator().hasActiveFrame());
    ASSERT_TRUE(waitUntil([this] { return host.recoveries > 0; }, 3000));
    EXPECT_EQ(host.recoveries, 1);
    EXPECT_EQ(host.lastReport.reason, MetalFrameRefusalReason::missingDrawable);
    EXPECT_EQ(host.lastReport.commandBufferStatus, std::nullopt);
    EXPECT_GT(host.displays, 0); // retried meanwhile

    // A context lost with a frame in flight fails that frame with a text.
    host.canPresent = false;
    renderer->setViews(view, terminalView.get());
    drawFrameNow();
    ASSERT_TRUE(coordinator().hasActiveFrame());
    view->makeCurrent();
    Q_EMIT view->context()->aboutToBeDestroyed(); // as when the widget's context goes
    view->doneCurrent();
    EXPECT_FALSE(coordinator().hasActiveFrame());
    QCoreApplication::processEvents();
    EXPECT_EQ(host.recoveries, 2);
    EXPECT_EQ(host.lastReport.commandBufferStatus, MetalTrackedCommandBufferStatus::error);
    EXPECT_EQ(host.lastReport.commandBufferError,
              std::optional<std::string>("The OpenGL context was destroyed before the frame completed."));
    // No frame is drawn into a context the renderer no longer owns.
    committed = renderer->framesCommitted();
    drawFrameNow();
    EXPECT_EQ(renderer->framesCommitted(), committed);
}

TEST_F(FrameDrawingGLTest, TheBlinkTimerRunsOnlyForABlinkingShownCursor)
{
    struct Case {
        const char* name;
        const char* bytes;
        bool runs;
    };
    const Case cases[] = {{"blinking block", "\x1b[?25h\x1b[1 q", true},
                          {"steady block", "\x1b[2 q", false},
                          {"blinking bar", "\x1b[5 q", true},
                          {"hidden blinking bar", "\x1b[?25l", false}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        terminalView->feedText(c.bytes);
        renderer->cursorBlinkOn = false; // as if a tick had hidden it
        drawFrameNow();
        settle();
        EXPECT_EQ(renderer->cursorBlinkTimerRunning(), c.runs);
        if (!c.runs) {
            EXPECT_TRUE(renderer->cursorBlinkOn) << "a still cursor is left shown";
        }
    }
}

// A tick shows or hides the caret in a frame whose rows all come from the row cache. In a
// window nobody sees the timer stops, with the caret shown for when it comes back.
TEST_F(FrameDrawingGLTest, ABlinkTickRebuildsOnlyTheCursorAndStopsInAHiddenWindow)
{
    terminalView->feedText("\x1b[?25h\x1b[1 qabc\r\ndef");
    host.canPresent = true;
    drawFrameNow();
    settle();
    ASSERT_TRUE(renderer->cursorBlinkTimerRunning());
    const DrawData shown = renderer->buildDrawData(1.0);
    ASSERT_FALSE(shown.cursorColorVertices.empty());

    renderer->cursorBlinkTick();
    EXPECT_FALSE(renderer->cursorBlinkOn);
    drawFrameNow();
    settle();
    EXPECT_EQ(renderer->rowCache.rowsBuiltLastBuild(), 0) << "a tick rebuilt rows";
    EXPECT_TRUE(renderer->buildDrawData(1.0).cursorColorVertices.empty());

    host.canPresent = false;
    renderer->cursorBlinkTick();
    EXPECT_FALSE(renderer->cursorBlinkTimerRunning()) << "the timer runs on in a hidden window";
    EXPECT_TRUE(renderer->cursorBlinkOn);
}

} // namespace
} // namespace corvantix
