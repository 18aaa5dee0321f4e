#include "ViewTestSupport.h"

#include "platform/ManualMainQueue.h"

#include <gtest/gtest.h>

#include <sys/wait.h>

namespace corvantix {
namespace {

using testing::Scaled;
using testing::screenText;
using testing::waitUntil;

class RecordingProcessDelegate : public LocalProcessTerminalViewDelegate {
public:
    void sizeChanged(LocalProcessTerminalView&, int newCols, int newRows) override { sizes.emplace_back(newCols, newRows); }
    void titleChanged(LocalProcessTerminalView&, const std::string& title) override { titles.push_back(title); }
    void currentDirectoryChanged(TerminalView&, const std::optional<std::string>& directory) override
    {
        directories.push_back(directory);
    }
    void processTerminated(TerminalView&, std::optional<std::int32_t> exitCode) override
    {
        ended = true;
        status = exitCode;
    }

    std::vector<std::pair<int, int>> sizes;
    std::vector<std::string> titles;
    std::vector<std::optional<std::string>> directories;
    bool ended = false;
    std::optional<std::int32_t> status;
};

using ScaledProcessView = Scaled<LocalProcessTerminalView>;

TEST(LocalProcessTerminalView, WindowSizeInDevicePixels)
{
    ManualMainQueue queue;
    ScaledProcessView view(QRect(), std::nullopt, TerminalOptions::defaultOptions(), nullptr, &queue);
    view.scale = 2.0;
    view.cellDimension = CellDimension{7, 14};
    view.resizeGrid(80, 24);
    winsize size = view.getWindowSize();
    EXPECT_EQ(size.ws_row, 24);
    EXPECT_EQ(size.ws_col, 80);
    EXPECT_EQ(size.ws_xpixel, 1120);
    EXPECT_EQ(size.ws_ypixel, 672);

    // Wider than the 16-bit field: clamped, not wrapped.
    view.resizeGrid(5000, 24);
    size = view.getWindowSize();
    EXPECT_EQ(size.ws_col, 5000);
    EXPECT_EQ(size.ws_xpixel, 65535);

    view.cellDimension.reset();
    size = view.getWindowSize();
    EXPECT_EQ(size.ws_xpixel, 0);
    EXPECT_EQ(size.ws_ypixel, 0);
    EXPECT_EQ(size.ws_col, 5000);
}

TEST(LocalProcessTerminalView, ChildSeesTheNewSizeAfterAResize)
{
    RecordingProcessDelegate host;
    LocalProcessTerminalView view;
    view.processDelegate = &host;
    view.cellDimension = CellDimension{8, 17};
    view.show();
    const int scrollerWidth = static_cast<int>(view.scrollerWidth());
    view.resize(8 * 80 + scrollerWidth, 17 * 24);
    ASSERT_EQ(view.terminal->cols(), 80);
    // No child yet: the grid changes, nobody else hears of it.
    EXPECT_TRUE(host.sizes.empty());

    view.startProcess("/bin/sh", {"-c", "stty size; sleep 1; stty size"});
    ASSERT_TRUE(view.process->running());
    const pid_t pid = view.process->shellPid();
    // A second start while the child runs does nothing.
    view.startProcess("/bin/sh", {"-c", "exit 3"});
    EXPECT_EQ(view.process->shellPid(), pid);

    ASSERT_TRUE(waitUntil([&] { return screenText(*view.terminal).find("24 80") != std::string::npos; }))
        << screenText(*view.terminal);
    view.resize(8 * 100 + scrollerWidth, 17 * 30);
    EXPECT_EQ(host.sizes, (std::vector<std::pair<int, int>>{{100, 30}}));

    EXPECT_TRUE(waitUntil([&] { return screenText(*view.terminal).find("30 100") != std::string::npos; }))
        << screenText(*view.terminal);
    ASSERT_TRUE(waitUntil([&] { return host.ended; }));
    ASSERT_TRUE(host.status);
    EXPECT_TRUE(WIFEXITED(*host.status));
    EXPECT_EQ(WEXITSTATUS(*host.status), 0);
    view.processDelegate = nullptr;
}

TEST(LocalProcessTerminalView, EveryByteForTheChildPassesThroughSend)
{
    struct CapturingView : LocalProcessTerminalView {
        using LocalProcessTerminalView::LocalProcessTerminalView;
        using LocalProcessTerminalView::send; // the view's own send(bytes) stays visible
        void send(TerminalView& source, std::span<const std::uint8_t> data) override
        {
            captured += testing::text(data);
            LocalProcessTerminalView::send(source, data);
        }
        std::string captured;
    };
    ManualMainQueue queue;
    CapturingView view(QRect(), std::nullopt, TerminalOptions::defaultOptions(), nullptr, &queue);
    view.feedText("\x1b[6n"); // the emulator's reply
    view.send(std::string_view("ls\r")); // the user's input
    EXPECT_EQ(view.captured, "\x1b[1;1Rls\r");
}

TEST(LocalProcessTerminalView, ClipboardRequestsUseThePasteboard)
{
    ManualMainQueue queue;
    LocalProcessTerminalView view(QRect(), std::nullopt, TerminalOptions::defaultOptions(), nullptr, &queue);
    auto pasteboard = std::make_shared<MemoryPasteboard>();
    view.pasteboard = pasteboard;

    view.feedText("\x1b]52;c;aMOpbGxv\x07"); // "héllo"
    EXPECT_EQ(pasteboard->content, "h\xc3\xa9llo");
    // Not UTF-8: the clipboard is left alone.
    view.feedText("\x1b]52;c;/w==\x07"); // 0xFF
    EXPECT_EQ(pasteboard->content, "h\xc3\xa9llo");

    const std::vector<std::uint8_t> expected{'h', 0xc3, 0xa9, 'l', 'l', 'o'};
    EXPECT_EQ(view.clipboardRead(view), expected);
    pasteboard->content.reset();
    EXPECT_EQ(view.clipboardRead(view), std::nullopt);
}

TEST(LocalProcessTerminalView, TitleAndDirectoryReachTheHost)
{
    ManualMainQueue queue;
    RecordingProcessDelegate host;
    LocalProcessTerminalView view(QRect(), std::nullopt, TerminalOptions::defaultOptions(), nullptr, &queue);
    view.processDelegate = &host;
    view.feedText("\x1b]0;build\x07\x1b]7;file:///srv\x07");
    EXPECT_EQ(host.titles, (std::vector<std::string>{"build"}));
    ASSERT_EQ(host.directories.size(), 1u);
    EXPECT_TRUE(host.directories.front());
    view.processDelegate = nullptr;
}

} // namespace
} // namespace corvantix
