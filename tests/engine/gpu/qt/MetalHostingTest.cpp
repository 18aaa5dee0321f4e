// The GPU hosting where no OpenGL exists (the offscreen platform), and the view's side of it
// driven with a plain widget standing in for the GPU surface.
#include "gpu/qt/MetalHosting.h"

#include <gtest/gtest.h>

#include <QScrollBar>
#include <QWindow>

#include <memory>
#include <ostream>
#include <string>

#include "drawing/qt/CaretView.h"
#include "engine/view/qt/ViewTestSupport.h"

namespace corvantix {
namespace {

using testing::waitUntil;

// Counts its paints, so a test can see the view asking it to redraw.
class Surface final : public QWidget {
public:
    using QWidget::QWidget;
    int paints = 0;

protected:
    void paintEvent(QPaintEvent*) override { ++paints; }
};

class MetalHostingTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        view = std::make_unique<TerminalView>(QRect(0, 0, 400, 200), std::nullopt);
        QObject::connect(view.get(), &TerminalView::metalRendererStatusChanged, view.get(), [this] { ++posts; });
    }

    void showView()
    {
        view->show();
        ASSERT_TRUE(waitUntil([&] { return view->windowHandle() && view->windowHandle()->isExposed(); }));
    }

    std::unique_ptr<TerminalView> view;
    int posts = 0;
};

const auto byName = [](const auto& info) { return std::string(info.param.name); };

TEST_F(MetalHostingTest, WithoutOpenGLSwitchingOnFailsAndChangesNothing)
{
    showView();
    const QColor background = view->layerBackgroundColor;
    MetalHosting& hosting = MetalHosting::of(*view);
    // A machine without OpenGL, whatever this one has.
    int asked = 0;
    hosting.setDeviceProbe([&asked] { return ++asked, false; });
    const auto error = hosting.setUseMetal(true);
    EXPECT_EQ(asked, 1);

    ASSERT_TRUE(error.has_value());
    EXPECT_EQ(error->description(), "No Metal device is available.");
    EXPECT_FALSE(view->useMetalRenderer);
    EXPECT_EQ(view->metalView, nullptr);
    EXPECT_TRUE(view->findChildren<MetalGLView*>().isEmpty());
    EXPECT_EQ(view->metalRendererStatus.state, MetalRendererStatus::State::disabled);
    EXPECT_EQ(view->layerBackgroundColor, background);
    EXPECT_EQ(posts, 0);
}

TEST_F(MetalHostingTest, OffWithoutASurfacePostsNothingAndAFallBackWithoutOneStillEndsInThePainter)
{
    MetalHosting& hosting = MetalHosting::of(*view);
    EXPECT_EQ(&MetalHosting::of(*view), &hosting) << "one hosting per view";
    EXPECT_EQ(hosting.setUseMetal(false), std::nullopt);
    EXPECT_EQ(posts, 0);
    EXPECT_EQ(view->metalRendererStatus, MetalRendererStatus{});

    hosting.replaceMetalRenderer(); // nothing to replace: the view gives up on the GPU
    EXPECT_EQ(view->metalRendererStatus.state, MetalRendererStatus::State::fellBackToCoreGraphics);
    EXPECT_EQ(posts, 1);
    EXPECT_EQ(hosting.setUseMetal(false), std::nullopt);
    EXPECT_EQ(view->metalRendererStatus.state, MetalRendererStatus::State::disabled);
    EXPECT_EQ(posts, 2);
}

TEST_F(MetalHostingTest, AnAttachedSurfaceHidesTheCaretAndDetachingShowsItAgain)
{
    showView();
    ASSERT_TRUE(view->caretView);
    ASSERT_FALSE(view->caretView->isHidden());
    auto* surface = new Surface;
    view->attachMetalView(surface);

    EXPECT_EQ(surface->parentWidget(), view.get());
    EXPECT_EQ(surface->geometry(), view->rect());
    EXPECT_TRUE(view->caretView->isHidden());
    EXPECT_EQ(view->caretView->opacity(), 1.0);
    EXPECT_EQ(view->layerBackgroundColor, view->transparent);
    // Below every other child: the progress bar, made before the caret, stays visible too.
    EXPECT_EQ(view->children().indexOf(static_cast<QObject*>(surface)), 0);
    EXPECT_EQ(view->children().last(), static_cast<QObject*>(view->scroller));
    // Cursor moves do not bring the caret back while the surface draws it.
    view->feedText("abc\r\n");
    view->updateDirtyRows(false);
    EXPECT_TRUE(view->caretView->isHidden());
    // The surface follows the view's size.
    view->resize(300, 150);
    EXPECT_EQ(surface->size(), QSize(300, 150));

    view->detachMetalView();
    EXPECT_EQ(view->metalView, nullptr);
    EXPECT_FALSE(view->caretView->isHidden());
    EXPECT_EQ(view->layerBackgroundColor, view->nativeBackgroundColor());
    delete surface;
}

TEST_F(MetalHostingTest, WithoutACaretTheSurfaceGoesAboveTheReferenceOrBelowEverything)
{
    delete view->caretView.data();
    auto* reference = new QWidget(view.get());
    auto* later = new QWidget(view.get());
    auto* surface = new Surface;
    view->attachMetalView(surface, reference);
    const auto at = [&](QObject* child) { return view->children().indexOf(child); };
    EXPECT_EQ(at(surface), at(reference) + 1);
    EXPECT_LT(at(surface), at(later));
    EXPECT_LT(at(surface), at(view->scroller));

    auto* second = new Surface;
    view->attachMetalView(second);
    EXPECT_EQ(at(second), 0);
    EXPECT_EQ(view->metalView.data(), second);
}

struct PresentCase {
    const char* name;
    void (*change)(TerminalView&);
    bool presents;
};

void PrintTo(const PresentCase& c, std::ostream* out) { *out << c.name; }

class PresentRule : public MetalHostingTest, public ::testing::WithParamInterface<PresentCase> {};

TEST_P(PresentRule, FramesAreShownOnlyInAVisibleWindowWithRoom)
{
    showView();
    auto* surface = new Surface;
    view->attachMetalView(surface);
    view->setUseMetalRenderer(true);
    GetParam().change(*view);
    QCoreApplication::processEvents();
    EXPECT_EQ(view->canPresentMetalFrames(), GetParam().presents);
    EXPECT_EQ(MetalHosting::of(*view).canPresentMetalFrames(), GetParam().presents);
}

INSTANTIATE_TEST_SUITE_P(
    Window, PresentRule,
    ::testing::Values(PresentCase{"Shown", [](TerminalView&) {}, true},
                      PresentCase{"Minimised", [](TerminalView& v) { v.setWindowState(Qt::WindowMinimized); }, false},
                      PresentCase{"Hidden", [](TerminalView& v) { v.hide(); }, false},
                      PresentCase{"ZeroWidth", [](TerminalView& v) { v.resize(0, 100); }, false},
                      PresentCase{"ZeroHeight", [](TerminalView& v) { v.resize(100, 0); }, false},
                      PresentCase{"RendererOff", [](TerminalView& v) { v.setUseMetalRenderer(false); }, false},
                      PresentCase{"SurfaceGone", [](TerminalView& v) { v.detachMetalView(); }, false}),
    byName);

TEST_F(MetalHostingTest, WindowChangesRedrawTheSurfaceOnlyWhenItCanShowFrames)
{
    showView();
    MetalHosting::of(*view);
    auto* surface = new Surface;
    view->attachMetalView(surface);
    view->setUseMetalRenderer(true);
    ASSERT_TRUE(waitUntil([&] { return surface->paints > 0; }));
    // The terminal's first screen may still have a redraw on its way: it lands now, so only
    // what minimising asks for is counted (on a loaded machine it came in the count).
    ASSERT_TRUE(waitUntil([&] { return !view->pendingDisplay && !view->pendingMetalDisplay; }));
    view->repaint();

    surface->paints = 0;
    view->setWindowState(Qt::WindowMinimized);
    QCoreApplication::processEvents();
    EXPECT_EQ(surface->paints, 0);
    view->setWindowState(Qt::WindowNoState);
    EXPECT_TRUE(waitUntil([&] { return surface->paints > 0; })) << "restoring the window did not redraw";
}

// How a change reaches the GPU surface: at once, or coalesced into one redraw 16.67 ms later.
struct RedrawCase {
    const char* name;
    void (*change)(TerminalView&);
    bool coalesced;
};

void PrintTo(const RedrawCase& c, std::ostream* out) { *out << c.name; }

class RedrawHook : public ::testing::TestWithParam<RedrawCase> {};

TEST_P(RedrawHook, ChangesReachTheSurfaceAtOnceOrCoalesced)
{
    ManualMainQueue queue;
    TerminalView view(QRect(0, 0, 400, 200), std::nullopt, TerminalOptions::defaultOptions(), nullptr, &queue);
    view.show();
    ASSERT_TRUE(waitUntil([&] { return view.windowHandle() && view.windowHandle()->isExposed(); }));
    auto* surface = new Surface;
    view.attachMetalView(surface);
    view.setUseMetalRenderer(true);
    ASSERT_TRUE(waitUntil([&] { return surface->paints > 0; }));

    QCoreApplication::processEvents();
    surface->paints = 0;
    GetParam().change(view);
    EXPECT_EQ(view.pendingMetalDisplay, GetParam().coalesced);
    if (!GetParam().coalesced) {
        EXPECT_TRUE(waitUntil([&] { return surface->paints > 0; }));
        return;
    }
    QCoreApplication::processEvents();
    surface->paints = 0;
    queue.advance(std::chrono::milliseconds(17));
    EXPECT_FALSE(view.pendingMetalDisplay);
    QCoreApplication::processEvents();
    EXPECT_GT(surface->paints, 0);
}

INSTANTIATE_TEST_SUITE_P(
    Hooks, RedrawHook,
    ::testing::Values(RedrawCase{"Resize", [](TerminalView& v) { v.resize(v.width() - 10, v.height()); }, false},
                      RedrawCase{"LiveResize",
                                 [](TerminalView& v) {
                                     v.inLiveResize = true;
                                     v.resize(v.width() - 10, v.height());
                                 },
                                 true},
                      RedrawCase{"CaretColours",
                                 [](TerminalView& v) { v.setCaretColors(Color(0xffff, 0, 0), std::nullopt); }, true},
                      RedrawCase{"FocusTracking", [](TerminalView& v) { v.setCaretViewTracksFocus(false); }, true}),
    byName);

} // namespace
} // namespace corvantix
