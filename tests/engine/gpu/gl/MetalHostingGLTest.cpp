// The GPU renderer hosted in a shown terminal view, on Mesa's software rasteriser: switching
// on and off, the status and its notifications, recovery with its 30-second rule, retired
// renderers, and following the view into another window.
#include "gpu/qt/MetalHosting.h"

#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QScrollBar>
#include <QThread>
#include <QVBoxLayout>
#include <QWindow>

#include <algorithm>

#include <memory>
#include <mutex>
#include <ostream>
#include <string>
#include <vector>

#include "drawing/qt/CaretView.h"
#include "platform/Log.h"
#include "view/qt/TerminalView.h"

namespace corvantix {
namespace {

template <typename Condition>
bool waitUntil(Condition condition, int milliseconds = 5000)
{
    QElapsedTimer timer;
    timer.start();
    while (!condition()) {
        if (timer.elapsed() > milliseconds)
            return false;
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        QThread::msleep(2);
    }
    return true;
}

class FakeUptime final : public MetalRecoveryClock {
public:
    double seconds = 1000.0;
    double now() override { return seconds; }
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

using State = MetalRendererStatus::State;

// The changes of state posted, without the presented frames (which the frame drawing adds at
// its own pace) and the repeats those leave behind.
std::vector<State> transitions(const std::vector<State>& posted)
{
    std::vector<State> out;
    for (State state : posted)
        if (state != State::healthy && (out.empty() || out.back() != state))
            out.push_back(state);
    return out;
}

class MetalHostingGLTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        view = std::make_unique<TerminalView>(QRect(0, 0, 480, 240), std::nullopt);
        view->setNativeBackgroundColor(QColor(0, 0, 255));
        QObject::connect(view.get(), &TerminalView::metalRendererStatusChanged, view.get(),
                         [this] { posted.push_back(view->metalRendererStatus.state); });
        view->show();
        ASSERT_TRUE(waitUntil([&] { return view->windowHandle() && view->windowHandle()->isExposed(); }));
        hosting = &MetalHosting::of(*view);
        hosting->setUptimeClock(uptime);
    }

    void switchOn()
    {
        ASSERT_EQ(hosting->setUseMetal(true), std::nullopt);
        ASSERT_TRUE(waitUntil([&] { return hosting->metalRenderer() != nullptr; }))
            << "the renderer was not built once the surface had its context";
        // The window may be remade for OpenGL when its first GPU surface arrives.
        ASSERT_TRUE(waitUntil([&] { return view->windowHandle() && view->windowHandle()->isExposed(); }));
        }

    // A frame of the current renderer whose commands were submitted and have not finished.
    MetalFrameCoordinator::Token frameInFlight()
    {
        MetalFrameCoordinator& coordinator = hosting->metalRenderer()->frameCoordinator();
        std::optional<MetalFrameCoordinator::Token> token;
        EXPECT_TRUE(waitUntil([&] { return (token = coordinator.beginFrame()).has_value(); }));
        if (!token)
            return {};
        coordinator.attachCommandBuffer(*token, {[] { return MetalTrackedCommandBufferStatus::committed; },
                                                 [] { return std::optional<std::string>(); }});
        return *token;
    }

    void recover(double atSeconds)
    {
        uptime->seconds = atSeconds;
        hosting->recoverMetalRenderer(*hosting->metalRenderer(), report);
    }

    int surfaces() const
    {
        int visible = 0;
        for (const MetalGLView* surface : view->findChildren<MetalGLView*>())
            visible += surface->isVisible() ? 1 : 0;
        return visible;
    }

    std::shared_ptr<FakeUptime> uptime = std::make_shared<FakeUptime>();
    std::unique_ptr<TerminalView> view;
    MetalHosting* hosting = nullptr;
    std::vector<State> posted;
    MetalRendererRecoveryReport report{MetalFrameRefusalReason::activeFrame, 1.25,
                                       MetalTrackedCommandBufferStatus::committed, std::nullopt};
};

TEST_F(MetalHostingGLTest, SwitchingOnTwiceBuildsOneSurfaceAndPostsOnce)
{
    ASSERT_EQ(view->metalRendererStatus.state, State::disabled);
    switchOn();
    ASSERT_EQ(hosting->setUseMetal(true), std::nullopt);
    QCoreApplication::processEvents();

    EXPECT_EQ(transitions(posted), std::vector<State>{State::waitingForFirstFrame});
    EXPECT_EQ(std::count(posted.begin(), posted.end(), State::waitingForFirstFrame), 1);
    EXPECT_EQ(view->findChildren<MetalGLView*>().size(), 1);
    EXPECT_EQ(surfaces(), 1);
    EXPECT_TRUE(view->useMetalRenderer);
    EXPECT_EQ(view->metalView.data(), hosting->metalView());
    EXPECT_EQ(hosting->metalBoundWindow(), view.get());
    // The renderer draws the cursor: the caret widget stays hidden, at full opacity.
    ASSERT_TRUE(view->caretView);
    EXPECT_TRUE(view->caretView->isHidden());
    EXPECT_EQ(view->caretView->opacity(), 1.0);
    // The scroller stays above the surface, the caret just above it.
    const QObjectList& order = view->children();
    const auto at = [&](QObject* child) { return order.indexOf(child); };
    EXPECT_GT(at(view->scroller), at(hosting->metalView()));
    EXPECT_GT(at(view->caretView.data()), at(hosting->metalView()));
    // Output keeps reaching the screen through the surface, not the painter.
    EXPECT_TRUE(view->canPresentMetalFrames());
}

TEST_F(MetalHostingGLTest, SwitchingOffShowsTheCaretAndPostsDisabledOnce)
{
    switchOn();
    const QPointer<MetalGLView> surface = hosting->metalView();
    ASSERT_EQ(hosting->setUseMetal(false), std::nullopt);
    ASSERT_EQ(hosting->setUseMetal(false), std::nullopt);

    EXPECT_EQ(transitions(posted), (std::vector<State>{State::waitingForFirstFrame, State::disabled}));
    EXPECT_EQ(posted.back(), State::disabled);
    EXPECT_EQ(std::count(posted.begin(), posted.end(), State::disabled), 1);
    EXPECT_FALSE(view->useMetalRenderer);
    EXPECT_EQ(view->metalView, nullptr);
    EXPECT_EQ(hosting->metalRenderer(), nullptr);
    EXPECT_EQ(hosting->metalBoundWindow(), nullptr);
    EXPECT_FALSE(view->caretView->isHidden());
    EXPECT_EQ(view->layerBackgroundColor, QColor(0, 0, 255));
    EXPECT_TRUE(waitUntil([&] { return surface.isNull(); })) << "the unused surface was kept";
}

struct RecoveryCase {
    const char* name;
    double secondsAfterReplacement;
    bool replaces;
};

void PrintTo(const RecoveryCase& c, std::ostream* out) { *out << c.name; }

class RecoveryRule : public MetalHostingGLTest, public ::testing::WithParamInterface<RecoveryCase> {};

TEST_P(RecoveryRule, ASecondRequestReplacesOnlyThirtySecondsAfterTheLast)
{
    const RecoveryCase& c = GetParam();
    switchOn();
    LogCapture log;
    MetalTerminalRenderer* first = hosting->metalRenderer();
    recover(1000.0);
    ASSERT_TRUE(waitUntil([&] { return hosting->metalRenderer() != nullptr; }));
    EXPECT_NE(hosting->metalRenderer(), first);
    EXPECT_EQ(log.take(), std::vector<std::string>{"Corvantix Metal recovery reason=activeFrame duration=1.250 "
                                                   "status=committed error=none action=replace-metal"});
    EXPECT_EQ(surfaces(), 1);

    recover(1000.0 + c.secondsAfterReplacement);
    if (c.replaces) {
        ASSERT_TRUE(waitUntil([&] { return hosting->metalRenderer() != nullptr; }));
        EXPECT_TRUE(view->useMetalRenderer);
        EXPECT_EQ(log.take().back(), "Corvantix Metal recovery reason=activeFrame duration=1.250 "
                                     "status=committed error=none action=replace-metal");
        EXPECT_EQ(transitions(posted), (std::vector<State>{State::waitingForFirstFrame, State::recovering}));
    } else {
        EXPECT_EQ(log.take(),
                  (std::vector<std::string>{
                      "Corvantix Metal recovery reason=activeFrame duration=1.250 status=committed error=none "
                      "action=core-graphics",
                      "Corvantix: Metal renderer rebind failed; falling back to CoreGraphics: Failed to create "
                      "Metal command queue."}));
        EXPECT_FALSE(view->useMetalRenderer);
        EXPECT_EQ(hosting->metalRenderer(), nullptr);
        EXPECT_EQ(view->metalView, nullptr);
        EXPECT_FALSE(view->caretView->isHidden());
        // The painter takes over with the view's own background, not the surface's clear one.
        EXPECT_EQ(view->layerBackgroundColor, QColor(0, 0, 255));
        EXPECT_EQ(transitions(posted), (std::vector<State>{State::waitingForFirstFrame, State::recovering,
                                                           State::fellBackToCoreGraphics}));
    }
}

INSTANTIATE_TEST_SUITE_P(Spacing, RecoveryRule,
                         ::testing::Values(RecoveryCase{"TenSecondsLaterFallsBack", 10.0, false},
                                           RecoveryCase{"JustUnderThirtyFallsBack", 29.999, false},
                                           RecoveryCase{"ExactlyThirtyReplaces", 30.0, true},
                                           RecoveryCase{"AMinuteLaterReplaces", 60.0, true}),
                         [](const auto& info) { return std::string(info.param.name); });

TEST_F(MetalHostingGLTest, AfterAFallBackSwitchingOffPostsOnceAndOffOnClearsTheRule)
{
    switchOn();
    LogCapture log;
    recover(1000.0);
    ASSERT_TRUE(waitUntil([&] { return hosting->metalRenderer() != nullptr; }));
    recover(1005.0);
    ASSERT_EQ(view->metalRendererStatus.state, State::fellBackToCoreGraphics);
    posted.clear();

    ASSERT_EQ(hosting->setUseMetal(false), std::nullopt);
    EXPECT_EQ(posted, std::vector<State>{State::disabled});

    // Back on: the last replacement is forgotten, so a request soon after replaces again.
    switchOn();
    log.take();
    recover(1010.0);
    ASSERT_TRUE(waitUntil([&] { return hosting->metalRenderer() != nullptr; }));
    EXPECT_TRUE(view->useMetalRenderer);
    ASSERT_FALSE(log.take().empty());
}

TEST_F(MetalHostingGLTest, RequestsAndFramesOfAFormerRendererAreIgnored)
{
    switchOn();
    MetalTerminalRenderer* first = hosting->metalRenderer();
    frameInFlight(); // keeps it alive after the replacement
    recover(1000.0);
    ASSERT_TRUE(waitUntil([&] { return hosting->metalRenderer() != nullptr; }));
    ASSERT_TRUE(hosting->isRetired(*first));
    posted.clear();

    hosting->recoverMetalRenderer(*first, report);
    hosting->metalFramePresented(*first, std::chrono::system_clock::now());
    EXPECT_TRUE(posted.empty());
    EXPECT_TRUE(view->useMetalRenderer);

    // The current one's frames make the status healthy, counting each.
    const auto when = std::chrono::system_clock::now();
    const auto before = view->metalRendererStatus.presentedFrameCount;
    hosting->metalFramePresented(*hosting->metalRenderer(), when);
    hosting->metalFramePresented(*hosting->metalRenderer(), when);
    EXPECT_EQ(posted, (std::vector<State>{State::healthy, State::healthy}));
    EXPECT_EQ(view->metalRendererStatus.presentedFrameCount, before + 2);
    EXPECT_EQ(view->metalRendererStatus.lastFramePresentedAt, when);
}

TEST_F(MetalHostingGLTest, ARendererWithAFrameInFlightIsKeptUntilItsCoordinatorIsIdle)
{
    switchOn();
    MetalTerminalRenderer* busy = hosting->metalRenderer();
    const MetalFrameCoordinator::Token token = frameInFlight();
    hosting->replaceMetalRenderer();
    ASSERT_TRUE(waitUntil([&] { return hosting->metalRenderer() != nullptr; }));
    EXPECT_EQ(hosting->retiredMetalRendererCount(), 1u);
    EXPECT_TRUE(hosting->isRetired(*busy));

    // An idle notice of another renderer prunes nothing.
    hosting->pruneRetiredMetalRenderers(*hosting->metalRenderer());
    EXPECT_EQ(hosting->retiredMetalRendererCount(), 1u);

    busy->frameCoordinator().completeFrame(token, MetalTrackedCommandBufferStatus::completed, std::nullopt);
    EXPECT_TRUE(waitUntil([&] { return hosting->retiredMetalRendererCount() == 0; }));

    // Without a frame in flight a replaced renderer goes at once.
    hosting->replaceMetalRenderer();
    ASSERT_TRUE(waitUntil([&] { return hosting->metalRenderer() != nullptr; }));
    EXPECT_EQ(hosting->retiredMetalRendererCount(), 0u);
    EXPECT_TRUE(waitUntil([&] { return view->findChildren<MetalGLView*>().size() == 1; }))
        << "hidden surfaces without a renderer in flight are deleted";
}

TEST_F(MetalHostingGLTest, MovingToAnotherWindowRebuildsAndRecovers)
{
    switchOn();
    QWidget window;
    auto* layout = new QVBoxLayout(&window);
    window.resize(500, 300);
    window.show();
    ASSERT_TRUE(waitUntil([&] { return window.windowHandle() && window.windowHandle()->isExposed(); }));
    MetalGLView* before = hosting->metalView();

    layout->addWidget(view.get()); // reparents the view into the other window
    view->show();
    ASSERT_TRUE(waitUntil([&] { return hosting->metalRenderer() != nullptr; }));
    EXPECT_NE(hosting->metalView(), before);
    EXPECT_EQ(hosting->metalBoundWindow(), &window);
    EXPECT_EQ(transitions(posted), (std::vector<State>{State::waitingForFirstFrame, State::recovering}));
    EXPECT_EQ(surfaces(), 1);

    // A move within the same window rebuilds nothing.
    QWidget* inner = new QWidget(&window);
    layout->addWidget(inner);
    MetalGLView* after = hosting->metalView();
    view->setParent(inner);
    view->show();
    QCoreApplication::processEvents();
    EXPECT_EQ(hosting->metalView(), after);
    EXPECT_EQ(transitions(posted).size(), 2u);
    view->setParent(nullptr);
}

TEST_F(MetalHostingGLTest, MovingWindowsDropsRetiredRenderersWithTheirSurfaces)
{
    switchOn();
    frameInFlight();
    hosting->replaceMetalRenderer();
    ASSERT_TRUE(waitUntil([&] { return hosting->metalRenderer() != nullptr; }));
    ASSERT_EQ(hosting->retiredMetalRendererCount(), 1u);

    // Their contexts go with the move, and their frames can never finish.
    QWidget window;
    auto* layout = new QVBoxLayout(&window);
    window.show();
    ASSERT_TRUE(waitUntil([&] { return window.windowHandle() && window.windowHandle()->isExposed(); }));
    layout->addWidget(view.get());
    view->show();
    EXPECT_TRUE(waitUntil([&] {
        return hosting->metalRenderer() != nullptr && hosting->retiredMetalRendererCount() == 0
            && view->findChildren<MetalGLView*>().size() == 1;
    }));
    view->setParent(nullptr);
}

TEST_F(MetalHostingGLTest, NoFramesArePresentedWhileTheWindowIsMinimisedOrTheViewHidden)
{
    switchOn();
    ASSERT_TRUE(view->canPresentMetalFrames());
    view->showMinimized();
    EXPECT_FALSE(view->canPresentMetalFrames());
    view->showNormal();
    ASSERT_TRUE(waitUntil([&] { return view->canPresentMetalFrames(); }));
    view->resize(0, 0);
    EXPECT_FALSE(view->canPresentMetalFrames());
}

// Needs the frame drawing: frames reach the screen, the status turns healthy with its count
// rising, and the cleared surface shows the view's background.
TEST_F(MetalHostingGLTest, PresentedFramesMakeTheStatusHealthyAndDrawTheText)
{
    switchOn();
    ASSERT_TRUE(waitUntil([&] { return view->metalRendererStatus.state == State::healthy; }));
    const auto first = view->metalRendererStatus.presentedFrameCount;
    view->feedText("\x1b[38;2;255;0;0mAB\x1b[0m");
    EXPECT_TRUE(waitUntil([&] { return view->metalRendererStatus.presentedFrameCount > first; }));

    // Read back through glReadPixels: red strokes inside the first cell, blue around them.
    const QImage pixels = hosting->metalView()->grabFramebuffer();
    ASSERT_FALSE(pixels.isNull());
    const CellDimension cell = *view->cellDimension;
    int red = 0;
    for (int y = 0; y < static_cast<int>(cell.height); ++y)
        for (int x = 0; x < static_cast<int>(cell.width); ++x) {
            const QColor color = pixels.pixelColor(x, y);
            red += color.red() > 200 && color.blue() < 60 ? 1 : 0;
        }
    EXPECT_GT(red, 3) << "no red stroke of the A in the first cell";
    for (const QPoint at : {QPoint(pixels.width() / 2, pixels.height() - 4), QPoint(static_cast<int>(cell.width * 6), 2)}) {
        const QColor color = pixels.pixelColor(at);
        EXPECT_EQ(color, QColor(0, 0, 255)) << at.x() << "," << at.y();
    }
}

// The same screen drawn by the painter and by the GPU renderer differs only at the edges of
// glyphs, where the two rasterise coverage differently.
TEST_F(MetalHostingGLTest, TheGpuDrawsTheScreenThePainterDraws)
{
    view->feedText("\x1b[?25l\x1b[38;2;255;255;0mHello\x1b[0m \x1b[1;38;2;0;255;0mbold\x1b[0m "
                   "\x1b[48;2;255;255;255;38;2;0;0;0m inverse \x1b[0m\r\n"
                   "\x1b[4;38;2;255;128;0munderlined\x1b[0m \x1b[9mstruck\x1b[0m |-+=#@\r\n");
    QCoreApplication::processEvents();
    const CellDimension cell = *view->cellDimension;
    const QRect cells(0, 0, static_cast<int>(cell.width * 24), static_cast<int>(cell.height * 2));
    const QImage painted = view->grab(cells).toImage().convertToFormat(QImage::Format_RGB32);

    switchOn();
    ASSERT_TRUE(waitUntil([&] { return view->metalRendererStatus.state == State::healthy; }));
    const QImage drawn = hosting->metalView()->grabFramebuffer().copy(cells).convertToFormat(QImage::Format_RGB32);
    ASSERT_EQ(painted.size(), drawn.size());

    int differing = 0;
    int farApart = 0;
    long long sum = 0;
    for (int y = 0; y < cells.height(); ++y)
        for (int x = 0; x < cells.width(); ++x) {
            const QColor a = painted.pixelColor(x, y);
            const QColor b = drawn.pixelColor(x, y);
            const int difference = std::max({std::abs(a.red() - b.red()), std::abs(a.green() - b.green()),
                                             std::abs(a.blue() - b.blue())});
            sum += difference;
            differing += difference > 0 ? 1 : 0;
            farApart += difference > 96 ? 1 : 0;
        }
    const double area = static_cast<double>(cells.width()) * cells.height();
    std::printf("painter vs GPU over %dx%d px: %.2f%% of pixels differ, %.2f%% by more than 96 of 255, "
                "mean difference %.2f\n",
                cells.width(), cells.height(), 100.0 * differing / area, 100.0 * farApart / area, sum / area);
    EXPECT_LT(farApart / area, 0.03);
    EXPECT_LT(sum / area, 6.0);
}

} // namespace
} // namespace corvantix
