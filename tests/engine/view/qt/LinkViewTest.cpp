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

// Under mouse reporting a click that opens a link is the link's alone: the program hears
// neither its press, nor its drags, nor its release, and the link opens once on the release.
// A click elsewhere (a Ctrl+click with its control bit) is reported whole.
struct ReportedClickCase {
    const char* name;
    LinkHighlightMode mode;
    const char* mouseModes;
    Qt::KeyboardModifiers modifiers;
    int col, row;       // the cell clicked; row 0 holds a plain URL, row 1 an OSC 8 link
    const char* opened; // nothing when the click is not a link's
    const char* sent;
};

TEST(LinkView, UnderMouseReportingAClickThatOpensALinkIsNotReported)
{
    const Qt::KeyboardModifiers ctrl = Qt::ControlModifier;
    const ReportedClickCase cases[] = {
        {"Ctrl+click on a URL, 1000", LinkHighlightMode::hoverWithModifier, "\x1b[?1000h\x1b[?1006h", ctrl, 6, 0,
         "http://one.example/a", ""},
        {"Ctrl+click on an OSC 8 link, 1000", LinkHighlightMode::hoverWithModifier, "\x1b[?1000h\x1b[?1006h", ctrl, 2,
         1, "https://two.example/b", ""},
        {"Ctrl+click on a URL, 1002", LinkHighlightMode::hoverWithModifier, "\x1b[?1002h\x1b[?1006h", ctrl, 6, 0,
         "http://one.example/a", ""},
        {"Ctrl+click on an OSC 8 link, 1002", LinkHighlightMode::hoverWithModifier, "\x1b[?1002h\x1b[?1006h", ctrl, 2,
         1, "https://two.example/b", ""},
        {"Ctrl+click on an OSC 8 link, 1003 without SGR", LinkHighlightMode::hoverWithModifier, "\x1b[?1003h", ctrl, 2,
         1, "https://two.example/b", ""},
        {"Ctrl+click off any link, 1000", LinkHighlightMode::hoverWithModifier, "\x1b[?1000h\x1b[?1006h", ctrl, 1, 3,
         nullptr, "\x1b[<16;2;4M\x1b[<16;3;4m"},
        {"Ctrl+click off any link, 1002", LinkHighlightMode::hoverWithModifier, "\x1b[?1002h\x1b[?1006h", ctrl, 1, 3,
         nullptr, "\x1b[<16;2;4M\x1b[<48;3;4M\x1b[<16;3;4m"},
        {"plain click on a URL, Ctrl mode", LinkHighlightMode::hoverWithModifier, "\x1b[?1000h\x1b[?1006h", {}, 6, 0,
         nullptr, "\x1b[<0;7;1M\x1b[<0;8;1m"},
        {"hover: plain click on a URL", LinkHighlightMode::hover, "\x1b[?1002h\x1b[?1006h", {}, 6, 0,
         "http://one.example/a", ""},
        {"always: plain click on an OSC 8 link", LinkHighlightMode::always, "\x1b[?1002h\x1b[?1006h", {}, 2, 1,
         "https://two.example/b", ""},
        // The always mode opens OSC 8 links only: a URL in the text is the program's.
        {"always: plain click on a URL", LinkHighlightMode::always, "\x1b[?1000h\x1b[?1006h", {}, 6, 0, nullptr,
         "\x1b[<0;7;1M\x1b[<0;8;1m"},
    };
    for (const ReportedClickCase& c : cases) {
        SCOPED_TRACE(c.name);
        LinkView v;
        v.view.setLinkHighlightMode(c.mode);
        v.feed(std::string("see http://one.example/a here\r\n\x1b]8;;https://two.example/b\x1b\\label\x1b]8;;\x1b\\")
               + c.mouseModes);
        if (c.modifiers & Qt::ControlModifier)
            v.ctrl(true);
        v.hover(c.col, c.row, c.modifiers);
        v.delegate.sent.clear(); // any-event mode reports the hover itself
        v.time += 5000;
        v.mouse(QEvent::MouseButtonPress, v.at(c.col, c.row), Qt::LeftButton, c.modifiers);
        // A small drag that stays on the link.
        v.drag(v.at(c.col + 1, c.row), c.modifiers);
        v.mouse(QEvent::MouseButtonRelease, v.at(c.col + 1, c.row), Qt::NoButton, c.modifiers);
        EXPECT_EQ(v.delegate.sent, c.sent);
        const std::vector<std::string> opened =
            c.opened != nullptr ? std::vector<std::string>{c.opened} : std::vector<std::string>{};
        EXPECT_EQ(v.delegate.links, opened);
    }
}

// A click that began on a link stays the link's when the link is gone at the release: it is
// neither opened nor reported.
TEST(LinkView, APressWhoseLinkIsGoneAtTheReleaseReportsAndOpensNothing)
{
    struct Case {
        const char* name;
        const char* betweenOutput; // the program's output between press and release
        int releaseCol, releaseRow;
    };
    const Case cases[] = {
        {"released off the link", "", 1, 3},
        {"released on another link", "", 6, 0},
        {"the link was erased", "\x1b[2;1H\x1b[2K", 2, 1},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        LinkView v;
        v.feed("see http://one.example/a here\r\n\x1b]8;;https://two.example/b\x1b\\label\x1b]8;;\x1b\\"
               "\x1b[?1002h\x1b[?1006h");
        v.ctrl(true);
        v.hover(2, 1, Qt::ControlModifier);
        v.time += 5000;
        v.mouse(QEvent::MouseButtonPress, v.at(2, 1), Qt::LeftButton, Qt::ControlModifier);
        v.view.feedText(c.betweenOutput);
        v.drag(v.at(c.releaseCol, c.releaseRow), Qt::ControlModifier);
        v.mouse(QEvent::MouseButtonRelease, v.at(c.releaseCol, c.releaseRow), Qt::NoButton, Qt::ControlModifier);
        EXPECT_EQ(v.delegate.sent, "");
        EXPECT_TRUE(v.delegate.links.empty());
        // The next click is the program's again.
        v.click(1, 3, Qt::ControlModifier);
        EXPECT_EQ(v.delegate.sent, "\x1b[<16;2;4M\x1b[<16;2;4m");
    }
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
