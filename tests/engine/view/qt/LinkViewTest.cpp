// Links through real pointer and key events: Ctrl shows the highlight and the preview, a
// click opens the link through the delegate; and how the process view opens a link.
#include "ViewTestSupport.h"

#include <QCoreApplication>
#include <QFocusEvent>
#include <QLabel>

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>

namespace corvantix {
namespace {

struct LinkView : testing::ViewFixture {
    void hover(int col, int row, Qt::KeyboardModifiers modifiers = {})
    {
        mouse(QEvent::MouseMove, at(col, row), Qt::NoButton, modifiers);
    }
    // The left Control key (X keycode 37) and the left Super key (133).
    void ctrl(bool down)
    {
        key(down ? QEvent::KeyPress : QEvent::KeyRelease, Qt::Key_Control, down ? Qt::NoModifier : Qt::ControlModifier,
            {}, 37);
    }
    void super(bool down)
    {
        key(down ? QEvent::KeyPress : QEvent::KeyRelease, Qt::Key_Meta, down ? Qt::NoModifier : Qt::MetaModifier, {},
            133);
    }
    QLabel* preview() const { return view.findChild<QLabel*>("urlPreview"); }
};

TEST(LinkView, CtrlHoverHighlightsAndACtrlClickOpens)
{
    LinkView v;
    v.view.feedText("see http://one.example/a here\r\n");
    v.hover(6, 0);
    EXPECT_FALSE(v.view.linkHighlightRange);
    v.click(6, 0);
    EXPECT_TRUE(v.delegate.links.empty());

    v.ctrl(true);
    ASSERT_TRUE(v.view.commandActive);
    v.hover(6, 0, Qt::ControlModifier);
    ASSERT_TRUE(v.view.linkHighlightRange);
    EXPECT_EQ(*v.view.linkHighlightRange, (std::vector<RowRange>{RowRange{0, ColumnRange{4, 24}}}));
    v.click(6, 0, Qt::ControlModifier);
    EXPECT_EQ(v.delegate.links, (std::vector<std::string>{"http://one.example/a"}));
    // Ctrl with a key still goes to the program.
    v.key(QEvent::KeyPress, Qt::Key_C, Qt::ControlModifier, QStringLiteral("\x03"), 54);
    EXPECT_EQ(v.delegate.sent, "\x03");

    // Ctrl up: the highlight goes.
    v.ctrl(false);
    EXPECT_FALSE(v.view.commandActive);
    EXPECT_FALSE(v.view.linkHighlightRange);
}

// Super clicks belong to the window manager on common desktops: Super is not the link
// modifier.
TEST(LinkView, SuperNeitherHighlightsNorOpens)
{
    LinkView v;
    v.view.feedText("see http://one.example/a here\r\n");
    v.super(true);
    EXPECT_FALSE(v.view.commandActive);
    v.hover(6, 0, Qt::MetaModifier);
    EXPECT_FALSE(v.view.linkHighlightRange);
    v.click(6, 0, Qt::MetaModifier);
    EXPECT_TRUE(v.delegate.links.empty());
    v.super(false);
}

// Under mouse reporting a Ctrl-click on a link opens it and its release is not reported; a
// Ctrl-click anywhere else is reported, press and release, with the control bit (16).
TEST(LinkView, UnderMouseReportingACtrlClickOpensALinkAndElsewhereIsReported)
{
    LinkView v;
    v.view.feedText("see http://one.example/a here\r\n\x1b[?1000h\x1b[?1006h");
    v.ctrl(true);
    v.hover(6, 0, Qt::ControlModifier);
    ASSERT_TRUE(v.view.linkHighlightRange);
    v.click(6, 0, Qt::ControlModifier);
    EXPECT_EQ(v.delegate.links, (std::vector<std::string>{"http://one.example/a"}));
    // The press went to the program; the release did not.
    EXPECT_EQ(v.delegate.sent, "\x1b[<16;7;1M");

    v.delegate.sent.clear();
    v.hover(1, 1, Qt::ControlModifier);
    EXPECT_FALSE(v.view.linkHighlightRange);
    v.click(1, 1, Qt::ControlModifier);
    EXPECT_EQ(v.delegate.links.size(), 1u);
    EXPECT_EQ(v.delegate.sent, "\x1b[<16;2;2M\x1b[<16;2;2m");
    v.ctrl(false);
}

TEST(LinkView, PreviewShowsTheOsc8TargetWhileCtrlIsHeld)
{
    LinkView v;
    v.view.feedText("\x1b]8;id=1;https://host/a;b=c\x1b\\<b>label</b>\x1b]8;;\x1b\\\r\n");
    v.ctrl(true);
    v.hover(2, 0, Qt::ControlModifier);
    ASSERT_NE(v.preview(), nullptr);
    EXPECT_EQ(v.preview()->text(), "https://host/a;b=c");
    EXPECT_EQ(v.preview()->textFormat(), Qt::PlainText);
    v.click(2, 0, Qt::ControlModifier);
    EXPECT_EQ(v.delegate.links, (std::vector<std::string>{"https://host/a;b=c"}));
    v.ctrl(false);
    EXPECT_EQ(v.preview(), nullptr);
}

// Ctrl pressed for a shortcut that moves the focus away is released elsewhere: losing the
// focus ends the link modifier.
TEST(LinkView, LosingTheFocusEndsTheCtrlState)
{
    LinkView v;
    v.view.feedText("see http://one.example/a here\r\n");
    v.ctrl(true);
    v.hover(6, 0, Qt::ControlModifier);
    ASSERT_TRUE(v.view.linkHighlightRange);
    QFocusEvent focusOut(QEvent::FocusOut, Qt::OtherFocusReason);
    QCoreApplication::sendEvent(&v.view, &focusOut);
    EXPECT_FALSE(v.view.commandActive);
    EXPECT_FALSE(v.view.linkHighlightRange);
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

// Which targets count is the headless resolver's; here the process view must open what it gives.
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
    for (const char* link : {"~/x.txt:12:3", "https://example.invalid/a;b", "~/missing.txt"})
        view.requestOpenLink(view, link, {});

    if (previous != nullptr)
        ::setenv("HOME", saved.c_str(), 1);
    else
        ::unsetenv("HOME");
    fs::remove_all(home);
    EXPECT_EQ(opened, (std::vector<QUrl>{QUrl::fromLocalFile(QString::fromStdString((home / "x.txt").string())),
                                         QUrl("https://example.invalid/a;b")}));
}

} // namespace
} // namespace corvantix
