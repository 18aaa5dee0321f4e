// Frames per second of a terminal view drawing a full screen of changing coloured text, with
// the painter and with the GPU renderer, and the time a view of each kind takes to show the
// last byte of a large output. Run on an X server (make bench-gpu uses a private Xvfb with
// software OpenGL, so both paths run on the CPU and the figures compare the two pipelines,
// not a graphics card), and the share of a frame and of a caret blink spent in our own code,
// on the screen of coloured ASCII and again on a screen of mixed Unicode.
// `--quick` runs each measurement once on a small screen and output: does each still run.
#include "ToolArguments.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QFontDatabase>
#include <QMainWindow>

#include <cstdio>
#include <functional>
#include <iterator>
#include <string>
#include <vector>

#include <QImage>
#include <QPainter>

#include "drawing/qt/CaretView.h"
#include "gpu/qt/MetalHosting.h"
#include "gpu/qt/MetalTerminalRenderer.h"
#include "view/qt/TerminalView.h"

namespace {

using corvantix::TerminalView;

struct Settings {
    int cols = 200;
    int rows = 50;
    int frames = 120;
    int catMiB = 32;
    int repeats = 30; // of each measurement of our own share
};

constexpr corvantix::ToolUsage usage{
    "corvantix-gpu-bench",
    "usage: corvantix-gpu-bench [--quick] [--cols N] [--rows N] [--frames N] [--cat-mib N]\n"
    "  --quick             every measurement once: 80 x 24 cells, 2 frames, 1 MiB of output\n"
    "  --cols N, --rows N  the screen in cells (200 x 50)\n"
    "  --frames N          full screens drawn one after another (120)\n"
    "  --cat-mib N         MiB of output shown at once (32)\n"};

// Read before the application starts, so that --help and a mistake need no display. Explicit
// sizes win over --quick wherever it stands.
Settings parseSettings(int argc, char** argv)
{
    Settings settings;
    bool quick = false;
    Settings given{0, 0, 0, 0, 0};
    const corvantix::ToolOption options[] = {
        {"--quick", false, corvantix::takeFlag(quick)},
        {"--cols", true, corvantix::takeCount(given.cols, 1000)},
        {"--rows", true, corvantix::takeCount(given.rows, 1000)},
        {"--frames", true, corvantix::takeCount(given.frames, 100'000)},
        {"--cat-mib", true, corvantix::takeCount(given.catMiB, 1024)},
    };
    if (const auto operands = corvantix::readToolArguments(argc, argv, usage, options); !operands.words.empty())
        corvantix::refuseArguments(usage, "unexpected operand " + std::string(operands.words.front()));
    if (quick)
        settings = Settings{80, 24, 2, 1, 1};
    settings.cols = given.cols > 0 ? given.cols : settings.cols;
    settings.rows = given.rows > 0 ? given.rows : settings.rows;
    settings.frames = given.frames > 0 ? given.frames : settings.frames;
    settings.catMiB = given.catMiB > 0 ? given.catMiB : settings.catMiB;
    return settings;
}

// One whole screen: every cell rewritten, colours shifting with the frame number.
std::string screenFrame(const Settings& settings, int frame)
{
    std::string bytes = "\x1b[H";
    for (int row = 0; row < settings.rows; ++row) {
        bytes += "\x1b[" + std::to_string(row + 1) + ";1H";
        for (int col = 0; col < settings.cols; col += 10) {
            const int color = (frame + row + col / 10) % 216 + 16;
            bytes += "\x1b[38;5;" + std::to_string(color) + "m";
            for (int k = 0; k < 10 && col + k < settings.cols; ++k)
                bytes += static_cast<char>('A' + (frame + row + col + k) % 26);
        }
    }
    bytes += "\x1b[0m";
    return bytes;
}

// One whole screen of mixed Unicode, every row different: CJK and Hangul, emoji (with
// selectors, skin tones and joiners), letters with combining marks, Arabic and Hebrew, Indic
// conjuncts, Thai, box drawing, some of it in colour.
std::string mixedUnicodeScreen(const Settings& settings)
{
    struct Token {
        const char* text;
        int cells;
    };
    static const Token tokens[] = {
        {"漢字", 4}, {"終端機", 6}, {"日本語の文章", 12}, {"한국어", 6}, {"텍스트", 6},
        {"👍", 2}, {"👋🏽", 2}, {"🧑‍💻", 2}, {"👨‍👩‍👧‍👦", 2}, {"❤️", 2}, {"🇫🇷", 2}, {"✨", 2}, {"🎉", 2},
        {"é", 1}, {"ñ", 1}, {"x̂", 1}, {"ą̊", 1}, {"x̧́", 1}, {"あ゙", 2}, {"漢́", 2},
        {"مرحبا", 5}, {"שָׁלוֹם", 4}, {"नमस्ते", 4}, {"क्षमा", 3}, {"สวัสดี", 4}, {"น้ำ", 2},
        {"plain", 5}, {"ascii", 5}, {"─┼─", 3}, {"╭╮", 2}, {"▀▄█", 3},
    };
    constexpr int count = static_cast<int>(std::size(tokens));
    std::string bytes = "\x1b[H\x1b[2J";
    for (int row = 0; row < settings.rows; ++row) {
        bytes += "\x1b[" + std::to_string(row + 1) + ";1H";
        int col = 0;
        for (int k = 0;; ++k) {
            const Token& token = tokens[(row * 7 + k * 5) % count];
            if (col + token.cells + 1 > settings.cols)
                break;
            if ((row + k) % 3 == 0)
                bytes += "\x1b[" + std::to_string(31 + (row + k) % 6) + "m";
            bytes += token.text;
            bytes += "\x1b[0m ";
            col += token.cells + 1;
        }
    }
    return bytes;
}

// Lines of text as a build log would print them.
std::string catOutput(int mebibytes)
{
    std::string bytes;
    bytes.reserve(static_cast<std::size_t>(mebibytes) * 1024 * 1024 + 128);
    for (int line = 0; bytes.size() < static_cast<std::size_t>(mebibytes) * 1024 * 1024; ++line)
        bytes += "line " + std::to_string(line) + ": the quick brown fox jumps over the lazy dog 0123456789\r\n";
    return bytes;
}

class Bench {
public:
    explicit Bench(const Settings& settings) : settings_(settings) {}

    // A window sized to the screen, shown; `gpu` switches the renderer on.
    bool open(bool gpu)
    {
        window_ = std::make_unique<QMainWindow>();
        view_ = new TerminalView(window_.get());
        view_->setFont(QFontDatabase::systemFont(QFontDatabase::FixedFont));
        view_->resize(1000, 700);
        window_->setCentralWidget(view_);
        window_->show();
        settle();
        view_->getTerminal().resize(settings_.cols, settings_.rows);
        const QRect optimal = view_->getOptimalFrameSize();
        window_->resize(optimal.size());
        settle();
        const corvantix::Terminal& terminal = view_->getTerminal();
        if (terminal.cols() != settings_.cols || terminal.rows() != settings_.rows)
            std::fprintf(stderr, "the view shows %d x %d cells, not %d x %d (screen too small?)\n", terminal.cols(),
                         terminal.rows(), settings_.cols, settings_.rows);
        if (gpu) {
            if (const auto error = corvantix::MetalHosting::of(*view_).setUseMetal(true)) {
                std::fprintf(stderr, "GPU renderer unavailable: %s\n", error->description().c_str());
                return false;
            }
            if (!waitForPresentedFrame())
                return false;
        }
        return true;
    }

    void close()
    {
        window_.reset();
        view_ = nullptr;
        settle();
    }

    // Milliseconds per frame over the frames drawn one after another.
    double framesMs(bool gpu)
    {
        QElapsedTimer timer;
        timer.start();
        for (int frame = 0; frame < settings_.frames; ++frame) {
            view_->feedText(screenFrame(settings_, frame));
            drawNow(gpu);
        }
        return static_cast<double>(timer.nsecsElapsed()) / 1e6 / settings_.frames;
    }

    // Milliseconds from the first byte fed to the last byte drawn; output arrives in 64 KiB
    // reads with the event loop turning between them, as from a process.
    double catMs(bool gpu, const std::string& output)
    {
        QElapsedTimer timer;
        timer.start();
        constexpr std::size_t chunk = 64 * 1024;
        for (std::size_t at = 0; at < output.size(); at += chunk) {
            view_->feedText(std::string_view(output).substr(at, chunk));
            QCoreApplication::processEvents();
        }
        drawNow(gpu);
        return static_cast<double>(timer.nsecsElapsed()) / 1e6;
    }

    // Our own share of a frame, without the driver or the X server: the GPU renderer's draw
    // data for the whole screen (every row rebuilt, records only) against the painter drawing
    // the same screen into an image; then a caret blink: the GPU frame's draw data in the
    // view's buffering mode with every row from the cache, against the painter's caret
    // repainting itself. Milliseconds.
    struct OwnShare {
        double fullFrame = 0;
        double blinkTick = 0;
    };
    // The same on `screen`, fed and drawn once first.
    OwnShare ownShare(bool gpu, const std::string& screen)
    {
        view_->feedText(screen);
        drawNow(gpu);
        return ownShare(gpu);
    }
    OwnShare ownShare(bool gpu)
    {
        const int repeats = settings_.repeats;
        OwnShare share;
        QElapsedTimer timer;
        if (!gpu) {
            QImage image(view_->size(), QImage::Format_ARGB32_Premultiplied);
            timer.start();
            for (int i = 0; i < repeats; ++i) {
                QPainter painter(&image);
                view_->drawTerminalContents(painter, view_->rect());
            }
            share.fullFrame = static_cast<double>(timer.nsecsElapsed()) / 1e6 / repeats;
            if (corvantix::CaretView* caret = view_->caretView) {
                QImage caretImage(caret->size(), QImage::Format_ARGB32_Premultiplied);
                timer.restart();
                for (int i = 0; i < repeats; ++i)
                    caret->render(&caretImage);
                share.blinkTick = static_cast<double>(timer.nsecsElapsed()) / 1e6 / repeats;
            }
            return share;
        }
        corvantix::MetalHosting& hosting = corvantix::MetalHosting::of(*view_);
        corvantix::MetalTerminalRenderer* renderer = hosting.metalRenderer();
        if (renderer == nullptr || hosting.metalView() == nullptr)
            return share;
        const double scale = hosting.metalView()->devicePixelRatioF();
        const auto mode = view_->metalBufferingMode;
        view_->metalBufferingMode = corvantix::MetalBufferingMode::perFrameAggregated;
        hosting.metalView()->makeCurrent();
        renderer->buildDrawData(scale); // glyphs into the atlases once
        timer.start();
        for (int i = 0; i < repeats; ++i) {
            renderer->rowCache.clear();
            renderer->buildDrawData(scale);
        }
        share.fullFrame = static_cast<double>(timer.nsecsElapsed()) / 1e6 / repeats;
        // A tick in the view's own mode: each cached row hands over the buffers it already has.
        view_->metalBufferingMode = mode;
        renderer->buildDrawData(scale);
        timer.restart();
        for (int i = 0; i < repeats; ++i) {
            renderer->cursorBlinkOn = !renderer->cursorBlinkOn;
            renderer->buildDrawData(scale);
        }
        share.blinkTick = static_cast<double>(timer.nsecsElapsed()) / 1e6 / repeats;
        renderer->cursorBlinkOn = true;
        hosting.metalView()->doneCurrent();
        view_->metalBufferingMode = mode;
        return share;
    }

private:
    void settle()
    {
        for (int i = 0; i < 20; ++i)
            QCoreApplication::processEvents();
    }

    // Draws what the view shows now and waits until it is on screen.
    void drawNow(bool gpu)
    {
        if (!gpu) {
            view_->repaint();
            return;
        }
        view_->updateFullScreenAndQueue();
        waitForPresentedFrame();
    }

    bool waitForPresentedFrame()
    {
        const std::uint64_t before = view_->metalRendererStatus.presentedFrameCount;
        QElapsedTimer timer;
        timer.start();
        while (view_->metalRendererStatus.presentedFrameCount == before) {
            if (timer.elapsed() > 10'000) {
                std::fprintf(stderr, "no GPU frame was presented within 10 s\n");
                return false;
            }
            QCoreApplication::processEvents(QEventLoop::AllEvents, 1);
        }
        return true;
    }

    Settings settings_;
    std::unique_ptr<QMainWindow> window_;
    TerminalView* view_ = nullptr;
};

} // namespace

int main(int argc, char** argv)
{
    const Settings settings = parseSettings(argc, argv);
    QApplication app(argc, argv);
    const std::string output = catOutput(settings.catMiB);
    Bench bench(settings);
    std::printf("%d x %d, %d frames; cat of %d MiB\n", settings.cols, settings.rows, settings.frames,
                settings.catMiB);
    std::printf("%-8s %10s %8s %12s\n", "path", "ms/frame", "fps", "cat ms");
    Bench::OwnShare shares[2];
    Bench::OwnShare mixed[2];
    for (const bool gpu : {false, true}) {
        if (!bench.open(gpu))
            return 1;
        const double frameMs = bench.framesMs(gpu);
        shares[gpu ? 1 : 0] = bench.ownShare(gpu);
        mixed[gpu ? 1 : 0] = bench.ownShare(gpu, mixedUnicodeScreen(settings));
        const double catMs = bench.catMs(gpu, output);
        bench.close();
        std::printf("%-8s %10.2f %8.1f %12.0f\n", gpu ? "gpu" : "painter", frameMs, 1000.0 / frameMs, catMs);
    }
    std::printf("our own share, without driver or X server (ms): full frame, blink tick\n");
    std::printf("%-8s %10.3f %10.3f\n", "painter", shares[0].fullFrame, shares[0].blinkTick);
    std::printf("%-8s %10.3f %10.3f\n", "gpu", shares[1].fullFrame, shares[1].blinkTick);
    std::printf("the same on a screen of mixed Unicode (CJK, emoji, marks, several scripts)\n");
    std::printf("%-8s %10.3f %10.3f\n", "painter", mixed[0].fullFrame, mixed[0].blinkTick);
    std::printf("%-8s %10.3f %10.3f\n", "gpu", mixed[1].fullFrame, mixed[1].blinkTick);
    return 0;
}
