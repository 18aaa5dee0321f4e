// The GPU renderer hosted in a shown terminal view, on Mesa's software rasteriser: switching
// on and off, the status and its notifications, recovery with its 30-second rule, retired
// renderers, and following the view into another window.
#include "GLTestSupport.h"
#include "gpu/qt/MetalHosting.h"

#include <QFontDatabase>
#include <QScrollBar>
#include <QVBoxLayout>
#include <QWindow>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "drawing/qt/CaretView.h"
#include "view/qt/TerminalView.h"

namespace corvantix {
namespace {

using namespace gltest;

// The largest difference of the two colours' red, green and blue.
int channelDifference(const QColor& a, const QColor& b)
{
    return std::max({std::abs(a.red() - b.red()), std::abs(a.green() - b.green()), std::abs(a.blue() - b.blue())});
}

class FakeUptime final : public MetalRecoveryClock {
public:
    double seconds = 1000.0;
    double now() override { return seconds; }
};

const std::string replaced = "Corvantix Metal recovery reason=activeFrame duration=1.250 status=committed error=none "
                             "action=replace-metal";

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

// Each change of state is posted once. A recovery request replaces the renderer unless the
// last replacement is less than 30 s old; then the view falls back to the painter. Switching
// off and on forgets the last replacement.
TEST_F(MetalHostingGLTest, SwitchingAndRecoveryPostEachChangeOnceAndReplaceAtMostOnceInThirtySeconds)
{
    ASSERT_EQ(view->metalRendererStatus.state, State::disabled);
    switchOn();
    ASSERT_EQ(hosting->setUseMetal(true), std::nullopt);
    QCoreApplication::processEvents();
    EXPECT_EQ(transitions(posted), std::vector<State>{State::waitingForFirstFrame});
    EXPECT_EQ(std::count(posted.begin(), posted.end(), State::waitingForFirstFrame), 1);
    EXPECT_EQ(view->findChildren<MetalGLView*>().size(), 1);
    EXPECT_EQ(hosting->metalBoundWindow(), view.get());
    EXPECT_TRUE(view->caretView->isHidden()) << "the renderer draws the cursor";
    EXPECT_TRUE(view->canPresentMetalFrames());

    LogCapture log;
    MetalTerminalRenderer* first = hosting->metalRenderer();
    recover(1000.0);
    ASSERT_TRUE(waitUntil([&] { return hosting->metalRenderer() != nullptr; }));
    EXPECT_NE(hosting->metalRenderer(), first);
    EXPECT_EQ(log.take(), std::vector<std::string>{replaced});
    EXPECT_EQ(surfaces(), 1);
    EXPECT_EQ(transitions(posted), (std::vector<State>{State::waitingForFirstFrame, State::recovering}));

    recover(1029.999);
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
    posted.clear();
    ASSERT_EQ(hosting->setUseMetal(false), std::nullopt);
    EXPECT_EQ(posted, std::vector<State>{State::disabled});

    switchOn();
    log.take();
    for (double at : {1010.0, 1040.0}) { // soon after switching on, then exactly 30 s later
        SCOPED_TRACE(at);
        recover(at);
        ASSERT_TRUE(waitUntil([&] { return hosting->metalRenderer() != nullptr; }));
        EXPECT_TRUE(view->useMetalRenderer);
        EXPECT_EQ(log.take(), std::vector<std::string>{replaced});
    }

    const QPointer<MetalGLView> surface = hosting->metalView();
    posted.clear();
    ASSERT_EQ(hosting->setUseMetal(false), std::nullopt);
    ASSERT_EQ(hosting->setUseMetal(false), std::nullopt);
    EXPECT_EQ(transitions(posted), std::vector<State>{State::disabled});
    EXPECT_EQ(std::count(posted.begin(), posted.end(), State::disabled), 1);
    EXPECT_FALSE(view->useMetalRenderer);
    EXPECT_EQ(view->metalView, nullptr);
    EXPECT_EQ(hosting->metalRenderer(), nullptr);
    EXPECT_EQ(hosting->metalBoundWindow(), nullptr);
    EXPECT_FALSE(view->caretView->isHidden());
    EXPECT_EQ(view->layerBackgroundColor, QColor(0, 0, 255));
    EXPECT_TRUE(waitUntil([&] { return surface.isNull(); })) << "the unused surface was kept";
}

TEST_F(MetalHostingGLTest, RetiredRenderersAreIgnoredAndKeptOnlyWhileAFrameIsInFlight)
{
    switchOn();
    MetalTerminalRenderer* busy = hosting->metalRenderer();
    const MetalFrameCoordinator::Token token = frameInFlight();
    recover(1000.0);
    ASSERT_TRUE(waitUntil([&] { return hosting->metalRenderer() != nullptr; }));
    EXPECT_EQ(hosting->retiredMetalRendererCount(), 1u);
    ASSERT_TRUE(hosting->isRetired(*busy));

    // Requests and frames of the former renderer change nothing.
    posted.clear();
    hosting->recoverMetalRenderer(*busy, report);
    hosting->metalFramePresented(*busy, std::chrono::system_clock::now());
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

    // An idle notice of another renderer prunes nothing; the busy one's own does.
    hosting->pruneRetiredMetalRenderers(*hosting->metalRenderer());
    EXPECT_EQ(hosting->retiredMetalRendererCount(), 1u);
    busy->frameCoordinator().completeFrame(token, MetalTrackedCommandBufferStatus::completed, std::nullopt);
    EXPECT_TRUE(waitUntil([&] { return hosting->retiredMetalRendererCount() == 0; }));

    // Without a frame in flight a replaced renderer goes at once, with its surface.
    ASSERT_TRUE(waitUntil([&] { return !hosting->metalRenderer()->frameCoordinator().hasActiveFrame(); }));
    hosting->replaceMetalRenderer();
    ASSERT_TRUE(waitUntil([&] { return hosting->metalRenderer() != nullptr; }));
    EXPECT_EQ(hosting->retiredMetalRendererCount(), 0u);
    EXPECT_TRUE(waitUntil([&] { return view->findChildren<MetalGLView*>().size() == 1; }));
}

TEST_F(MetalHostingGLTest, MovingToAnotherWindowRebuildsRecoversAndDropsRetiredRenderers)
{
    switchOn();
    frameInFlight();
    hosting->replaceMetalRenderer();
    ASSERT_TRUE(waitUntil([&] { return hosting->metalRenderer() != nullptr; }));
    ASSERT_EQ(hosting->retiredMetalRendererCount(), 1u);
    QWidget window;
    auto* layout = new QVBoxLayout(&window);
    window.resize(500, 300);
    window.show();
    ASSERT_TRUE(waitUntil([&] { return window.windowHandle() && window.windowHandle()->isExposed(); }));
    MetalGLView* before = hosting->metalView();
    posted.clear();

    // The retired renderers' contexts go with the move, and their frames can never finish.
    layout->addWidget(view.get());
    view->show();
    ASSERT_TRUE(waitUntil([&] {
        return hosting->metalRenderer() != nullptr && hosting->retiredMetalRendererCount() == 0
            && view->findChildren<MetalGLView*>().size() == 1;
    }));
    EXPECT_NE(hosting->metalView(), before);
    EXPECT_EQ(hosting->metalBoundWindow(), &window);
    EXPECT_EQ(transitions(posted), std::vector<State>{State::recovering});
    EXPECT_EQ(surfaces(), 1);

    // A move within the same window rebuilds nothing.
    QWidget* inner = new QWidget(&window);
    layout->addWidget(inner);
    MetalGLView* after = hosting->metalView();
    view->setParent(inner);
    view->show();
    QCoreApplication::processEvents();
    EXPECT_EQ(hosting->metalView(), after);
    EXPECT_EQ(transitions(posted).size(), 1u);
    view->setParent(nullptr);
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

// A selection is in the very next frame, and gone from the one after it is cleared: the rows
// it covers and leaves are rebuilt although their text is the same, and no other row is.
TEST_F(MetalHostingGLTest, TheNextFrameShowsASelectionAndTheOneAfterItsClearing)
{
    view->setSelectedTextBackgroundColor(QColor(255, 0, 0));
    view->feedText("\x1b[?25lone two\r\ntwo four\r\nsix seven");
    switchOn();
    ASSERT_TRUE(waitUntil([&] { return view->metalRendererStatus.state == State::healthy; }));
    MetalTerminalRenderer& renderer = *hosting->metalRenderer();
    const CellDimension cell = *view->cellDimension;
    // A fresh frame once the one in flight is done; the middle of a row's blank after "one".
    const auto frame = [&] {
        EXPECT_TRUE(waitUntil([&] { return !renderer.frameCoordinator().hasActiveFrame(); }));
        return hosting->metalView()->grabFramebuffer();
    };
    const auto blankOf = [&](const QImage& image, int row) {
        return image.pixelColor(static_cast<int>(cell.width * 3.5), static_cast<int>(cell.height * (row + 0.5)));
    };
    const QColor background(0, 0, 255);
    ASSERT_EQ(blankOf(frame(), 1), background);

    // Grabbing draws a frame of its own, so count every row built since the change: the frame
    // the change asked for may have been drawn before the grab or by it.
    const int top = view->terminal->buffer().yDisp();
    long built = renderer.rowCache.rowsBuiltInAll();
    view->selection->setRange(0, top + 1, 6, top + 1);
    const QImage selected = frame();
    EXPECT_NE(blankOf(selected, 1), background) << "the selection is not in the next frame";
    EXPECT_EQ(blankOf(selected, 0), background);
    EXPECT_EQ(blankOf(selected, 2), background);
    EXPECT_EQ(renderer.rowCache.rowsBuiltInAll() - built, 1);

    built = renderer.rowCache.rowsBuiltInAll();
    view->selectNone();
    EXPECT_EQ(blankOf(frame(), 1), background) << "the cleared selection stays in the next frame";
    EXPECT_EQ(renderer.rowCache.rowsBuiltInAll() - built, 1);
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
            const int difference = channelDifference(a, b);
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

// A screen with everything a row can show, drawn by both paths: selection and a find match,
// italic and bold-italic, every underline style, CJK, emoji with U+FE0F and joiners, Arabic
// and Hebrew, combining marks, box drawing and an inline image with alpha.
TEST_F(MetalHostingGLTest, TheGpuDrawsARichScreenThePainterDraws)
{
    // A 24 x 24 image: opaque green left half, half-transparent red right half.
    QByteArray pixels;
    for (int y = 0; y < 24; ++y)
        for (int x = 0; x < 24; ++x)
            pixels.append(x < 12 ? QByteArray("\x00\xff\x00\xff", 4) : QByteArray("\xff\x00\x00\x80", 4));
    const std::string image = "\x1b_Ga=T,f=32,s=24,v=24,C=1;" + pixels.toBase64().toStdString() + "\x1b\\";
    view->setSelectedTextBackgroundColor(QColor(200, 200, 200));
    view->feedText("\x1b[?25lplain \x1b[3mitalic\x1b[1m bold-italic\x1b[0m \x1b[1mbold\x1b[0m needle\r\n"
                   "\x1b[4:1mone\x1b[0m \x1b[4:2mtwo\x1b[0m \x1b[4:3mcurl\x1b[0m \x1b[4:4mdots\x1b[0m "
                   "\x1b[4:5mdash\x1b[0m \x1b[9mstruck\x1b[0m\r\n"
                   "\xe4\xb8\xad\xe6\x96\x87 \xe2\x9d\xa4\xef\xb8\x8f \xf0\x9f\x91\xa9\xe2\x80\x8d\xf0\x9f\x91\xa9"
                   "\xe2\x80\x8d\xf0\x9f\x91\xa7 e\xcc\x81 a\xcc\x88\r\n"
                   "\xd9\x85\xd8\xb1\xd8\xad\xd8\xa8\xd8\xa7 \xd7\xa9\xd7\x9c\xd7\x95\xd7\x9d\r\n"
                   "\xe2\x94\x8c\xe2\x94\x80\xe2\x94\x90 \xe2\x94\x82x\xe2\x94\x82 \xe2\x94\x94\xe2\x94\x80\xe2\x94\x98\r\n"
                   + image + "\r\n\r\n");
    // The find match is shown as the selection is.
    ASSERT_TRUE(view->findNext("needle", SearchOptions{}, false));
    QCoreApplication::processEvents();
    const CellDimension cell = *view->cellDimension;
    // The whole width: right-to-left paragraphs end at the right edge.
    const QRect cells(0, 0, static_cast<int>(cell.width * view->terminal->cols()), static_cast<int>(cell.height * 7));
    const QImage painted = view->grab(cells).toImage().convertToFormat(QImage::Format_RGB32);

    switchOn();
    ASSERT_TRUE(waitUntil([&] { return view->metalRendererStatus.state == State::healthy; }));
    ASSERT_TRUE(waitUntil([&] { return !hosting->metalRenderer()->frameCoordinator().hasActiveFrame(); }));
    const QImage drawn = hosting->metalView()->grabFramebuffer().copy(cells).convertToFormat(QImage::Format_RGB32);
    ASSERT_EQ(painted.size(), drawn.size());

    int farApart = 0;
    std::vector<int> farByRow(7, 0);
    for (int y = 0; y < cells.height(); ++y)
        for (int x = 0; x < cells.width(); ++x) {
            const QColor a = painted.pixelColor(x, y);
            const QColor b = drawn.pixelColor(x, y);
            const int difference = channelDifference(a, b);
            if (difference > 96) {
                ++farApart;
                ++farByRow[static_cast<std::size_t>(std::min(6, static_cast<int>(y / cell.height)))];
            }
        }
    const double area = static_cast<double>(cells.width()) * cells.height();
    std::printf("rich screen, painter vs GPU over %dx%d px: %.3f%% of pixels differ by more than 96 of 255; by row:",
                cells.width(), cells.height(), 100.0 * farApart / area);
    for (const int count : farByRow)
        std::printf(" %d", count);
    std::printf("\n");
    if (farApart / area > 0.005) {
        painted.save(QStringLiteral("rich-painter.png"));
        drawn.save(QStringLiteral("rich-gpu.png"));
    }
    EXPECT_LE(farApart / area, 0.005);
}

// Each script drawn by both paths, measured on its own cells: a few broken cells of one
// script would weigh nothing in a whole screen. A Latin region of the same size is the
// yardstick for what the two rasterisers differ by anyway; a script may differ by that
// plus a small margin (below).
TEST_F(MetalHostingGLTest, EachScriptDrawsOnTheGpuAsThePainterDrawsIt)
{
    for (const char* family : {"Noto Sans Thaana", "Noto Sans Devanagari", "Noto Sans Hebrew", "Noto Sans Mongolian"}) {
        if (!QFontDatabase::families().contains(QString::fromLatin1(family)))
            FAIL() << "the font package fonts-noto-core is missing (no " << family << ")";
    }
    struct Sample {
        const char* name;
        std::string prefix; // before the sample in its row: Latin, or a change of bidi mode
        std::string text;
        bool rightToLeft;   // the paragraph's base direction: the sample ends at the right edge
        std::string suffix; // after the row
    };
    const std::string arabic = "\xd9\x85\xd8\xb1\xd8\xad\xd8\xa8\xd8\xa7 "
                               "\xd8\xa8\xd8\xa7\xd9\x84\xd8\xb9\xd8\xa7\xd9\x84\xd9\x85";
    const std::vector<Sample> samples{
        {"Arabic in a left-to-right row", "ab ", arabic, false, ""},
        // Explicit mode (BDSM reset): no bidi layout, the cells in stored order.
        {"Arabic in a row without the bidi layout", "\x1b[8l", arabic, false, "\x1b[8h"},
        {"Arabic in a right-to-left paragraph", "", arabic, true, ""},
        {"Hebrew with points", "", "\xd7\xa9\xd6\xb8\xd7\x81\xd7\x9c\xd7\x95\xd6\xb9\xd7\x9d "
                                   "\xd7\xa2\xd7\x95\xd6\xb9\xd7\x9c\xd6\xb8\xd7\x9d", true, ""},
        {"Thaana with vowel signs", "", "\xde\x80\xde\xa6\xde\x81\xde\xa8\xde\x82\xde\xaa "
                                        "\xde\x8b\xde\xa8\xde\x88\xde\xac\xde\x80\xde\xa8\xde\x83\xde\xa7"
                                        "\xde\x87\xde\xb0\xde\x96\xde\xac", true, ""},
        {"Devanagari with its marks", "", "\xe0\xa4\xa8\xe0\xa4\xae\xe0\xa4\xb8\xe0\xa5\x8d\xe0\xa4\xa4"
                                          "\xe0\xa5\x87 \xe0\xa4\xa6\xe0\xa5\x81\xe0\xa4\xa8\xe0\xa4\xbf"
                                          "\xe0\xa4\xaf\xe0\xa4\xbe", false, ""},
        // क्षमा विद्यार्थी: conjuncts drawn from the first of their cells.
        {"Devanagari conjuncts", "", "\xe0\xa4\x95\xe0\xa5\x8d\xe0\xa4\xb7\xe0\xa4\xae\xe0\xa4\xbe "
                                     "\xe0\xa4\xb5\xe0\xa4\xbf\xe0\xa4\xa6\xe0\xa5\x8d\xe0\xa4\xaf"
                                     "\xe0\xa4\xbe\xe0\xa4\xb0\xe0\xa5\x8d\xe0\xa4\xa5\xe0\xa5\x80", false, ""},
        // ᠮᠣᠩᠭᠣᠯ ᠪᠢᠴᠢᠭ: letters in their joined forms.
        {"Mongolian", "", "\xe1\xa0\xae\xe1\xa0\xa3\xe1\xa0\xa9\xe1\xa0\xad\xe1\xa0\xa3\xe1\xa0\xaf "
                          "\xe1\xa0\xaa\xe1\xa0\xa2\xe1\xa0\xb4\xe1\xa0\xa2\xe1\xa0\xad", false, ""},
    };
    const std::string latin = "The quick brown fox jumps over the lazy dog";
    view->feedText("\x1b[?25l" + latin + "\r\n");
    const int cols = view->terminal->cols();
    struct Region {
        int row;
        int first;
        int end;
    };
    std::vector<Region> regions;
    for (std::size_t i = 0; i < samples.size(); ++i) {
        const Sample& sample = samples[i];
        view->feedText(sample.prefix);
        const int start = view->terminal->buffer().x();
        view->feedText(sample.text);
        const int cells = view->terminal->buffer().x() - start;
        view->feedText("\r\n" + sample.suffix);
        const int row = static_cast<int>(i) + 1;
        regions.push_back(sample.rightToLeft ? Region{row, cols - cells, cols} : Region{row, start, start + cells});
    }
    // A mark no test font covers (U+1DFA, combining dot below left) on "a": whatever stands
    // for it stays in the a's cell; the next cell is blank.
    view->feedText("a\xe1\xb7\xba");
    const int markRow = static_cast<int>(samples.size()) + 1;
    QCoreApplication::processEvents();
    const CellDimension cell = *view->cellDimension;
    const QRect screen(0, 0, static_cast<int>(cell.width * cols), static_cast<int>(cell.height * (markRow + 1)));
    const QImage painted = view->grab(screen).toImage().convertToFormat(QImage::Format_RGB32);

    switchOn();
    ASSERT_TRUE(waitUntil([&] { return view->metalRendererStatus.state == State::healthy; }));
    ASSERT_TRUE(waitUntil([&] { return !hosting->metalRenderer()->frameCoordinator().hasActiveFrame(); }));
    const QImage drawn = hosting->metalView()->grabFramebuffer().copy(screen).convertToFormat(QImage::Format_RGB32);
    ASSERT_EQ(painted.size(), drawn.size());

    // Pixels of a region whose colours lie far apart in the two pictures.
    const auto farApart = [&](const Region& region) {
        const QRect area = QRect(QPoint(static_cast<int>(std::lround(cell.width * region.first)),
                                        static_cast<int>(std::lround(cell.height * region.row))),
                                 QPoint(static_cast<int>(std::lround(cell.width * region.end)) - 1,
                                        static_cast<int>(std::lround(cell.height * (region.row + 1))) - 1));
        int count = 0;
        for (int y = area.top(); y <= area.bottom(); ++y)
            for (int x = area.left(); x <= area.right(); ++x)
                count += channelDifference(painted.pixelColor(x, y), drawn.pixelColor(x, y)) > 96 ? 1 : 0;
        return std::pair(count, area.width() * area.height());
    };
    bool failed = false;
    for (std::size_t i = 0; i < samples.size(); ++i) {
        const Region& region = regions[i];
        const auto [script, area] = farApart(region);
        const auto [yardstick, latinArea] = farApart(Region{0, 0, region.end - region.first});
        ASSERT_EQ(area, latinArea);
        // The margin: these scripts put marks above and below their letters and join them,
        // so a cell holds more glyph edges than a Latin letter, and each edge is where the
        // painter's and the GPU's coverage differ by a pixel; half a per cent of the region
        // is a few such pixels per cell. A glyph drawn apart, joined differently or as a
        // box differs over whole strokes: tens of pixels per cell.
        const int margin = area / 200;
        std::printf("%s: %d of %d px far apart, Latin of the same size %d\n", samples[i].name, script, area, yardstick);
        EXPECT_LE(script, yardstick + margin) << samples[i].name;
        failed = failed || script > yardstick + margin;
    }
    for (const auto& [picture, path] : {std::pair(&painted, "painter"), std::pair(&drawn, "GPU")}) {
        int ink = 0;
        for (int y = static_cast<int>(cell.height * markRow); y < static_cast<int>(cell.height * (markRow + 1)); ++y)
            for (int x = static_cast<int>(std::ceil(cell.width)); x < static_cast<int>(cell.width * 3); ++x)
                ink += picture->pixelColor(x, y) != QColor(0, 0, 255) ? 1 : 0;
        EXPECT_EQ(ink, 0) << "the uncovered mark spills out of its base's cell in the " << path;
        failed = failed || ink != 0;
    }
    if (failed) {
        painted.save(QStringLiteral("scripts-painter.png"));
        drawn.save(QStringLiteral("scripts-gpu.png"));
    }
}

// A letter with its marks stays in its cell whatever order the shaper returns its glyphs in
// (marks first, for scripts written right to left): the blank cell to its left shows as
// much as it does beside the bare letter, in both renderers.
TEST_F(MetalHostingGLTest, MarksKeepTheirLetterInItsCell)
{
    for (const char* family : {"Noto Sans Thaana", "Noto Sans Hebrew"}) {
        if (!QFontDatabase::families().contains(QString::fromLatin1(family)))
            FAIL() << "the font package fonts-noto-core is missing (no " << family << ")";
    }
    const std::pair<const char*, std::string> pairs[] = {
        {"shin", "\xd7\xa9"}, {"shin with qamats and shin dot", "\xd7\xa9\xd6\xb8\xd7\x81"},
        {"vav", "\xd7\x95"}, {"vav with holam", "\xd7\x95\xd6\xb9"},
        {"lamed", "\xd7\x9c"}, {"lamed with qamats", "\xd7\x9c\xd6\xb8"},
        {"dhaalu", "\xde\x8b"}, {"dhaalu with ibifili", "\xde\x8b\xde\xa8"},
        {"e", "e"}, {"e with circumflex and dot below", "e\xcc\x82\xcc\xa3"},
    };
    // Explicit mode: no bidi layout moves the letters; each stands in column 2.
    view->feedText("\x1b[?25l\x1b[8l");
    for (const auto& [name, text] : pairs)
        view->feedText("  " + text + "\r\n");
    QCoreApplication::processEvents();
    const CellDimension cell = *view->cellDimension;
    const int rows = static_cast<int>(std::size(pairs));
    const QRect screen(0, 0, static_cast<int>(cell.width * 4), static_cast<int>(cell.height * rows));
    const QImage painted = view->grab(screen).toImage().convertToFormat(QImage::Format_RGB32);
    switchOn();
    ASSERT_TRUE(waitUntil([&] { return view->metalRendererStatus.state == State::healthy; }));
    ASSERT_TRUE(waitUntil([&] { return !hosting->metalRenderer()->frameCoordinator().hasActiveFrame(); }));
    const QImage drawn = hosting->metalView()->grabFramebuffer().copy(screen).convertToFormat(QImage::Format_RGB32);

    // Lit pixels of the blank cell before the letter (column 1) in a row.
    const auto litBefore = [&](const QImage& picture, int row) {
        int lit = 0;
        for (int y = static_cast<int>(std::ceil(cell.height * row)); y < static_cast<int>(cell.height * (row + 1)); ++y)
            for (int x = static_cast<int>(std::ceil(cell.width)); x < static_cast<int>(cell.width * 2); ++x)
                lit += picture.pixelColor(x, y) != QColor(0, 0, 255) ? 1 : 0;
        return lit;
    };
    for (const auto& [picture, path] : {std::pair(&painted, "painter"), std::pair(&drawn, "GPU")}) {
        for (int row = 0; row + 1 < rows; row += 2) {
            const int bare = litBefore(*picture, row);
            const int marked = litBefore(*picture, row + 1);
            std::printf("%s, %s: %d lit before the bare letter, %d with its marks\n", path, pairs[row + 1].first,
                        bare, marked);
            EXPECT_NEAR(marked, bare, 2) << pairs[row + 1].first << " in the " << path;
        }
    }
}

// A combining mark on a wide base is fitted into the two-cell slot with its base, as one
// cluster: the ink it adds to the bare letter lies in the middle half of the slot, in both
// renderers. The acute on 漢 comes from the base's font, which gives it no place on this
// base: the shaper leaves it at the base's advance, beside the letter.
TEST_F(MetalHostingGLTest, AMarkStaysOnItsWideBase)
{
    const std::pair<const char*, std::string> bases[] = {{"CJK", "\xe6\xbc\xa2"}};
    // Each base alone, then with the acute, in column 0 of rows of their own.
    view->feedText("\x1b[?25l");
    for (const auto& [name, base] : bases)
        view->feedText(base + "|\r\n" + base + "\xcc\x81|\r\n");
    QCoreApplication::processEvents();
    const CellDimension cell = *view->cellDimension;
    const int rowHeight = static_cast<int>(cell.height);
    const QRect screen(0, 0, static_cast<int>(cell.width * 4), rowHeight * 2 * static_cast<int>(std::size(bases)));
    const QImage painted = view->grab(screen).toImage().convertToFormat(QImage::Format_RGB32);
    switchOn();
    ASSERT_TRUE(waitUntil([&] { return view->metalRendererStatus.state == State::healthy; }));
    ASSERT_TRUE(waitUntil([&] { return !hosting->metalRenderer()->frameCoordinator().hasActiveFrame(); }));
    const QImage drawn = hosting->metalView()->grabFramebuffer().copy(screen).convertToFormat(QImage::Format_RGB32);

    const double slot = 2 * cell.width;
    bool failed = false;
    for (const auto& [picture, path] : {std::pair(&painted, "painter"), std::pair(&drawn, "GPU")}) {
        for (std::size_t b = 0; b < std::size(bases); ++b) {
            // Columns where the marked row differs from the bare one.
            const int top = rowHeight * 2 * static_cast<int>(b);
            int first = screen.width();
            int last = -1;
            for (int y = top; y < top + rowHeight; ++y)
                for (int x = 0; x < screen.width(); ++x) {
                    if (channelDifference(picture->pixelColor(x, y + rowHeight), picture->pixelColor(x, y)) > 64) {
                        first = std::min(first, x);
                        last = std::max(last, x);
                    }
                }
            std::printf("%s, %s: the acute changes x %d to %d, the slot's middle half is %.1f to %.1f\n", path,
                        bases[b].first, first, last, slot / 4, slot * 3 / 4);
            EXPECT_GE(last, 0) << "no acute on the " << bases[b].first << " base in the " << path;
            EXPECT_GE(first, static_cast<int>(std::floor(slot / 4))) << bases[b].first << " in the " << path;
            EXPECT_LE(last, static_cast<int>(std::ceil(slot * 3 / 4))) << bases[b].first << " in the " << path;
            failed = failed || last < 0 || first < static_cast<int>(std::floor(slot / 4))
                || last > static_cast<int>(std::ceil(slot * 3 / 4));
        }
    }
    if (failed) {
        painted.save(QStringLiteral("wide-mark-painter.png"));
        drawn.save(QStringLiteral("wide-mark-gpu.png"));
    }
}

// A Miao letter with its mark (U+16F00 U+16F4F, from their own font, the shaper giving the
// mark first): the letter's glyph stays at x 0 of its cell, so each pixel the bare letter
// lights is lit with the mark too, in both renderers.
TEST_F(MetalHostingGLTest, AMiaoLetterKeepsItsPlaceUnderItsMark)
{
    if (!QFontDatabase::families().contains(QStringLiteral("Noto Sans Miao")))
        FAIL() << "the font package fonts-noto-core is missing (no Noto Sans Miao)";
    view->feedText("\x1b[?25l\x1b[8l  \xf0\x96\xbc\x80\r\n  \xf0\x96\xbc\x80\xf0\x96\xbd\x8f\r\n");
    QCoreApplication::processEvents();
    const CellDimension cell = *view->cellDimension;
    const int rowHeight = static_cast<int>(cell.height);
    const QRect screen(0, 0, static_cast<int>(cell.width * 5), rowHeight * 2);
    const QImage painted = view->grab(screen).toImage().convertToFormat(QImage::Format_RGB32);
    switchOn();
    ASSERT_TRUE(waitUntil([&] { return view->metalRendererStatus.state == State::healthy; }));
    ASSERT_TRUE(waitUntil([&] { return !hosting->metalRenderer()->frameCoordinator().hasActiveFrame(); }));
    const QImage drawn = hosting->metalView()->grabFramebuffer().copy(screen).convertToFormat(QImage::Format_RGB32);

    for (const auto& [picture, path] : {std::pair(&painted, "painter"), std::pair(&drawn, "GPU")}) {
        int letter = 0;
        int kept = 0;
        for (int y = 0; y < rowHeight; ++y)
            for (int x = 0; x < screen.width(); ++x) {
                if (channelDifference(picture->pixelColor(x, y), QColor(0, 0, 255)) <= 96)
                    continue;
                ++letter;
                kept += channelDifference(picture->pixelColor(x, y + rowHeight), QColor(0, 0, 255)) > 48 ? 1 : 0;
            }
        std::printf("%s: %d of the bare letter's %d lit pixels lit under its mark\n", path, kept, letter);
        if (letter == 0 || kept < letter * 95 / 100) {
            painted.save(QStringLiteral("miao-painter.png"));
            drawn.save(QStringLiteral("miao-gpu.png"));
        }
        ASSERT_GT(letter, 0) << "no letter in the " << path;
        EXPECT_GE(kept, letter * 95 / 100) << "the letter moved under its mark in the " << path;
    }
}

// A steady block cursor on an Arabic letter of a right-to-left paragraph stands where the
// painter's caret stands, over the joined form the row shows there: at the letter's stored
// column it would cover another letter and show this one unjoined.
TEST_F(MetalHostingGLTest, TheCursorStandsWhereThePainterShowsItsLetter)
{
    // The focused form whatever the window's focus: a filled block with the letter in the
    // caret's text colour.
    view->setCaretViewTracksFocus(false);
    // Steady block, then "مرحبا بالعالم" and the cursor back on its fourth letter.
    view->feedText("\x1b[2 q\xd9\x85\xd8\xb1\xd8\xad\xd8\xa8\xd8\xa7 "
                   "\xd8\xa8\xd8\xa7\xd9\x84\xd8\xb9\xd8\xa7\xd9\x84\xd9\x85\r\x1b[3C");
    // The caret is placed by the view's next display pass.
    ASSERT_TRUE(waitUntil([&] { return view->caretFrame().x() > 0; }));
    const CellDimension cell = *view->cellDimension;
    const int cols = view->terminal->cols();
    const QRect row(0, 0, static_cast<int>(cell.width * cols), static_cast<int>(cell.height));
    const QImage painted = view->grab(row).toImage().convertToFormat(QImage::Format_RGB32);

    switchOn();
    ASSERT_TRUE(waitUntil([&] { return view->metalRendererStatus.state == State::healthy; }));
    ASSERT_TRUE(waitUntil([&] { return !hosting->metalRenderer()->frameCoordinator().hasActiveFrame(); }));
    const QImage drawn = hosting->metalView()->grabFramebuffer().copy(row).convertToFormat(QImage::Format_RGB32);
    ASSERT_EQ(painted.size(), drawn.size());

    // Each cell alone: a cell differs over most of its area where only one of the two puts
    // the block, where the two rasterisers differ by glyph edges and a row at most.
    const int cellArea = static_cast<int>(cell.width) * static_cast<int>(cell.height);
    int worst = 0;
    for (int column = 0; column < cols; ++column) {
        int far = 0;
        for (int y = 0; y < static_cast<int>(cell.height); ++y)
            for (int x = static_cast<int>(std::ceil(cell.width * column));
                 x < static_cast<int>(cell.width * (column + 1)); ++x)
                far += channelDifference(painted.pixelColor(x, y), drawn.pixelColor(x, y)) > 96 ? 1 : 0;
        worst = std::max(worst, far);
        EXPECT_LE(far, cellArea / 4) << "column " << column;
        if (far > cellArea / 4) {
            painted.save(QStringLiteral("cursor-painter.png"));
            drawn.save(QStringLiteral("cursor-gpu.png"));
        }
    }
    std::printf("cursor row, painter vs GPU: at most %d of %d px far apart in a cell\n", worst, cellArea);
}

} // namespace
} // namespace corvantix
