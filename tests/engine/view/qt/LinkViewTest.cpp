// Links through real pointer and key events: Super shows the highlight and the preview, a
// click opens the link through the delegate; and how the process view opens a link.
#include "ViewTestSupport.h"

#include "platform/ManualMainQueue.h"

#include <QCoreApplication>
#include <QKeyEvent>
#include <QLabel>
#include <QMouseEvent>

#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>

namespace corvantix {
namespace {

using namespace std::chrono_literals;

struct LinkView {
    LinkView() : view(QRect(0, 0, 640, 400), std::nullopt, TerminalOptions::defaultOptions(), nullptr, &queue)
    {
        view.terminalDelegate = &delegate;
        queue.advance(1s);
    }
    ~LinkView() { view.terminalDelegate = nullptr; }

    QPointF at(double col, double row) const
    {
        return QPointF((col + 0.5) * view.cellDimension->width, (row + 0.5) * view.cellDimension->height);
    }
    void mouse(QEvent::Type type, QPointF point, Qt::KeyboardModifiers modifiers = {})
    {
        const Qt::MouseButton button = type == QEvent::MouseMove ? Qt::NoButton : Qt::LeftButton;
        const Qt::MouseButtons buttons = type == QEvent::MouseButtonPress ? Qt::LeftButton : Qt::NoButton;
        QMouseEvent event(type, point, view.mapToGlobal(point), button, buttons, modifiers);
        time += 5000;
        event.setTimestamp(time);
        QCoreApplication::sendEvent(&view, &event);
    }
    void hover(int col, int row, Qt::KeyboardModifiers modifiers = {}) { mouse(QEvent::MouseMove, at(col, row), modifiers); }
    void click(int col, int row, Qt::KeyboardModifiers modifiers = {})
    {
        mouse(QEvent::MouseButtonPress, at(col, row), modifiers);
        mouse(QEvent::MouseButtonRelease, at(col, row), modifiers);
    }
    void super(bool down)
    {
        QKeyEvent event(down ? QEvent::KeyPress : QEvent::KeyRelease, Qt::Key_Meta,
                        down ? Qt::NoModifier : Qt::MetaModifier, 133, 0, 0);
        QCoreApplication::sendEvent(&view, &event);
    }
    QLabel* preview() const { return view.findChild<QLabel*>("urlPreview"); }

    ManualMainQueue queue;
    testing::SendLog delegate;
    TerminalView view;
    quint64 time = 100000;
};

TEST(LinkView, SuperHoverHighlightsAndASuperClickOpens)
{
    LinkView v;
    v.view.feedText("see http://one.example/a here\r\n");
    v.hover(6, 0);
    EXPECT_FALSE(v.view.linkHighlightRange);
    v.click(6, 0);
    EXPECT_TRUE(v.delegate.links.empty());

    v.super(true);
    ASSERT_TRUE(v.view.commandActive);
    v.hover(6, 0);
    ASSERT_TRUE(v.view.linkHighlightRange);
    EXPECT_EQ(*v.view.linkHighlightRange, (std::vector<RowRange>{RowRange{0, ColumnRange{4, 24}}}));
    v.click(6, 0, Qt::MetaModifier);
    EXPECT_EQ(v.delegate.links, (std::vector<std::string>{"http://one.example/a"}));

    // Super up: the highlight goes.
    v.super(false);
    EXPECT_FALSE(v.view.commandActive);
    EXPECT_FALSE(v.view.linkHighlightRange);
}

TEST(LinkView, ASuperClickOnALinkIsNotReportedToAProgramThatAsksForTheMouse)
{
    LinkView v;
    v.view.feedText("see http://one.example/a here\r\n\x1b[?1000h\x1b[?1006h");
    v.super(true);
    v.hover(6, 0);
    v.click(6, 0, Qt::MetaModifier);
    EXPECT_EQ(v.delegate.links.size(), 1u);
    // The press went to the program; the release did not.
    EXPECT_NE(v.delegate.sent.find("M"), std::string::npos) << v.delegate.sent;
    EXPECT_EQ(v.delegate.sent.find("m"), std::string::npos) << v.delegate.sent;
}

TEST(LinkView, PreviewShowsTheOsc8TargetWhileSuperIsHeld)
{
    LinkView v;
    v.view.feedText("\x1b]8;id=1;https://host/a;b=c\x1b\\<b>label</b>\x1b]8;;\x1b\\\r\n");
    v.super(true);
    v.hover(2, 0);
    ASSERT_NE(v.preview(), nullptr);
    EXPECT_EQ(v.preview()->text(), "https://host/a;b=c");
    EXPECT_EQ(v.preview()->textFormat(), Qt::PlainText);
    v.click(2, 0, Qt::MetaModifier);
    EXPECT_EQ(v.delegate.links, (std::vector<std::string>{"https://host/a;b=c"}));
    v.super(false);
    EXPECT_EQ(v.preview(), nullptr);
}

TEST(LinkView, LeavingTheViewEndsTheHighlight)
{
    LinkView v;
    v.view.setLinkHighlightMode(LinkHighlightMode::hover);
    v.view.feedText("see http://one.example/a here\r\n");
    v.hover(6, 0);
    ASSERT_TRUE(v.view.linkHighlightRange);
    QEvent leave(QEvent::Leave);
    QCoreApplication::sendEvent(&v.view, &leave);
    EXPECT_FALSE(v.view.linkHighlightRange);
}

TEST(LocalProcessLinks, OpenUrlsAndExistingFilesOnly)
{
    namespace fs = std::filesystem;
    char pattern[] = "/tmp/halvoren-links-XXXXXX";
    ASSERT_NE(::mkdtemp(pattern), nullptr);
    const fs::path home = pattern;
    std::ofstream(home / "x.txt") << "x";
    const char* previous = std::getenv("HOME");
    const std::string saved = previous != nullptr ? previous : "";
    ::setenv("HOME", home.c_str(), 1);

    ManualMainQueue queue;
    LocalProcessTerminalView view(QRect(0, 0, 320, 200), std::nullopt, TerminalOptions::defaultOptions(), nullptr,
                                  &queue);
    std::vector<QUrl> opened;
    view.openUrl = [&](const QUrl& url) { opened.push_back(url); };
    view.requestOpenLink(view, "~/x.txt:12:3", {});
    view.requestOpenLink(view, "~/x.txt:12:", {});
    view.requestOpenLink(view, "https://example.invalid/a;b", {});
    view.requestOpenLink(view, "~/missing.txt", {});

    if (previous != nullptr)
        ::setenv("HOME", saved.c_str(), 1);
    else
        ::unsetenv("HOME");
    fs::remove_all(home);
    ASSERT_EQ(opened.size(), 2u);
    EXPECT_EQ(opened[0], QUrl::fromLocalFile(QString::fromStdString((home / "x.txt").string())));
    EXPECT_EQ(opened[1], QUrl("https://example.invalid/a;b"));
}

} // namespace
} // namespace corvantix
