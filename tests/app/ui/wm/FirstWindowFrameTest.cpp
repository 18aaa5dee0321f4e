// The first main window under a real window manager on a real X server (tests/with-xvfb, whose
// XVFB_SCREEN gives the screen): the manager frames the window only after it shows, and the
// whole frame, title bar included, must still lie on the screen.
#include "ui/HalvorenMacApp.h"
#include "ui/MainView.h"

#include "app/ui/ViewsWorkspace.h"

#include <QApplication>
#include <QFile>
#include <QMainWindow>
#include <QProcess>
#include <QScreen>
#include <QStandardPaths>
#include <QTest>

#include <X11/Xatom.h>
#include <X11/Xlib.h>

#include <gtest/gtest.h>

#include <memory>

namespace halvoren {
namespace {

// The window manager's frame around a client window, read from the X server itself: the
// client's ancestor just below the root window, its border included.
QRect frameOnScreen(Display* display, Window client)
{
    Window current = client;
    for (;;) {
        Window root = 0;
        Window parent = 0;
        Window* children = nullptr;
        unsigned count = 0;
        if (XQueryTree(display, current, &root, &parent, &children, &count) == 0)
            return {};
        if (children != nullptr)
            XFree(children);
        if (parent == root || parent == 0)
            break;
        current = parent;
    }
    XWindowAttributes attributes;
    if (XGetWindowAttributes(display, current, &attributes) == 0)
        return {};
    const int border = attributes.border_width;
    return {attributes.x, attributes.y, attributes.width + 2 * border, attributes.height + 2 * border};
}

// Whether a window manager runs: it names its check window on the root window.
bool managed(Display* display)
{
    const Atom check = XInternAtom(display, "_NET_SUPPORTING_WM_CHECK", False);
    Atom type = 0;
    int format = 0;
    unsigned long items = 0;
    unsigned long after = 0;
    unsigned char* data = nullptr;
    const bool found = XGetWindowProperty(display, DefaultRootWindow(display), check, 0, 1, False, XA_WINDOW, &type,
                                          &format, &items, &after, &data) == Success && items == 1;
    if (data != nullptr)
        XFree(data);
    return found;
}

TEST(FirstWindowUnderAWindowManager, HasItsWholeFrameOnTheScreen)
{
    ASSERT_EQ(QGuiApplication::platformName(), QStringLiteral("xcb")) << "run under tests/with-xvfb (Debian package xvfb)";
    const QString openbox = QStandardPaths::findExecutable(QStringLiteral("openbox"));
    ASSERT_FALSE(openbox.isEmpty()) << "openbox is missing: install the Debian package openbox";
    const std::unique_ptr<Display, int (*)(Display*)> display(XOpenDisplay(nullptr), XCloseDisplay);
    ASSERT_NE(display, nullptr);

    // Ready once it has run its start-up command: before that, a window mapped while it sets
    // itself up may never be shown.
    test::TempFolder folder;
    const QString ready = folder.file(QStringLiteral("ready"));
    QProcess manager;
    manager.setProcessChannelMode(QProcess::ForwardedChannels);
    manager.start(openbox, {QStringLiteral("--sm-disable"), QStringLiteral("--startup"), QStringLiteral("touch ") + ready});
    ASSERT_TRUE(manager.waitForStarted());
    ASSERT_TRUE(QTest::qWaitFor([&] { return QFile::exists(ready) || manager.state() == QProcess::NotRunning; }, 20000));
    ASSERT_TRUE(QFile::exists(ready) && managed(display.get())) << "openbox did not start";

    {
        test::ViewsWorkspace workspace;
        workspace.prefs.setOnboardingDone(true);
        workspace.model.localConnection()->setTmuxAvailable(false);
        HalvorenMacApp app(workspace.model, workspace.update);
        app.mainView->startModel = []() -> Task<> { co_return; };
        app.mainView->startUpdate = [] {};
        app.window->show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(app.window));

        const QRect screen = app.window->screen()->geometry();
        const QRect available = app.window->screen()->availableGeometry();
        const Window client = static_cast<Window>(app.window->winId());
        // The manager frames, places and configures the window a little after it maps it:
        // wait until the frame lies on the screen, then a moment more, for a late move.
        QRect frame;
        const bool inside = QTest::qWaitFor([&] {
            frame = frameOnScreen(display.get(), client);
            return frame.isValid() && frame.size() != app.window->size() && available.contains(frame);
        }, 5000);
        QTest::qWait(300);
        frame = frameOnScreen(display.get(), client);
        const std::string seen = QStringLiteral("screen %1x%2, frame %3,%4 %5x%6, window %7x%8")
                                     .arg(screen.width()).arg(screen.height()).arg(frame.x()).arg(frame.y())
                                     .arg(frame.width()).arg(frame.height()).arg(app.window->width())
                                     .arg(app.window->height()).toStdString();
        std::printf("%s\n", seen.c_str());
        EXPECT_TRUE(inside) << seen;
        EXPECT_TRUE(available.contains(frame)) << seen;
        // At the default size where it has room, else all the room there is.
        const QSize around = frame.size() - app.window->size();
        if (available.width() >= HalvorenMacApp::defaultWindowSize.width() + around.width()
            && available.height() >= HalvorenMacApp::defaultWindowSize.height() + around.height())
            EXPECT_EQ(app.window->size(), HalvorenMacApp::defaultWindowSize) << seen;
        else
            EXPECT_EQ(frame.size(), available.size().boundedTo(HalvorenMacApp::defaultWindowSize + around)) << seen;
    }
    manager.terminate();
    manager.waitForFinished(5000);
}

} // namespace
} // namespace halvoren
