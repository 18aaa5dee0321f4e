// Pixel test of a window holding one local project tab at a shell prompt inside tmux, in the
// application's palette and terminal font: a private tmux server without a status line, /bin/sh
// with a fixed prompt, a fixed grid and font resolution. Runs on its own X server (tests/with-xvfb);
// HALVOREN_UPDATE_SCREENSHOTS=1 renews the reference (see ReferenceImage.h).
#include "tab/MacTab.h"

#include "remote/SessionNaming.h"
#include "remote/TmuxCommands.h"
#include "style/Palette.h"

#include "../support/PrivateTmux.h"
#include "engine/drawing/screenshot/ReferenceImage.h"
#include "engine/view/qt/ViewTestSupport.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QFontDatabase>
#include <QHBoxLayout>
#include <QImage>
#include <QPixmap>
#include <QWindow>

#include <gtest/gtest.h>

#ifndef HALVOREN_APP_SCREENSHOT_DIR
#error "HALVOREN_APP_SCREENSHOT_DIR must name the folder of the reference images"
#endif

namespace halvoren {
namespace {

using corvantix::testing::screenText;
using corvantix::testing::waitUntil;

constexpr int gridCols = 80;
constexpr int gridRows = 24;
constexpr int margin = 12;

TEST(ProjectTabScreenshot, LocalTabAtAPromptInsideTmux)
{
    if (const std::string missing = test::PrivateTmux::missing(); !missing.empty())
        GTEST_FAIL() << missing;
    ASSERT_TRUE(QFontDatabase::families().contains(QStringLiteral("DejaVu Sans Mono")))
        << "the screenshot needs the Debian package fonts-dejavu-core";
    test::PrivateTmux server;
    const QString project = server.folder(QStringLiteral("demo"));
    ASSERT_TRUE(test::writeAll(server.home() + QStringLiteral("/.profile"), "PS1='demo $ '\nexport PS1\n"));
    ASSERT_TRUE(test::writeAll(server.home() + QStringLiteral("/.tmux.conf"), "set -g status off\n"));
    const QString session = tmuxSessionName(project);
    MacTab tab(QStringLiteral("local"), MacProject{QStringLiteral("demo"), project, session}, true, nullptr);
    TermView& view = *tab.terminal;
    // The look every tab gets.
    view.setTerminalFont(terminalFont(13));
    view.setNativeBackgroundColor(terminalBackground());
    view.setNativeForegroundColor(terminalForeground());
    view.setCaretColor(terminalCaret());
    view.optionAsMetaKey = false;
    view.setCaretViewTracksFocus(false);
    ASSERT_TRUE(view.cellDimension);
    QWidget window;
    window.setAutoFillBackground(true);
    QPalette colours = window.palette();
    colours.setColor(QPalette::Window, Palette::terminalArea());
    window.setPalette(colours);
    auto* layout = new QHBoxLayout(&window);
    layout->setContentsMargins(margin, margin, margin, margin);
    layout->addWidget(&view);
    const int width = int(std::ceil(view.cellDimension->width * gridCols)) + int(view.scrollerWidth());
    const int height = int(std::ceil(view.cellDimension->height * gridRows));
    view.setFixedSize(width, height);
    window.setFixedSize(width + 2 * margin, height + 2 * margin);
    window.show();
    ASSERT_TRUE(waitUntil([&] { return window.windowHandle() && window.windowHandle()->isExposed(); }));
    ASSERT_EQ(view.terminal->cols(), gridCols);
    ASSERT_EQ(view.terminal->rows(), gridRows);
    QElapsedTimer quiet;
    quiet.start();
    tab.onOutput = [&](MacTab&, const QString&) { quiet.restart(); };
    tab.start(sessionTagCommand(session, QStringLiteral("demo"), project, {session}));
    const auto atPrompt = [&] {
        return view.terminal->isCurrentBufferAlternate() && screenText(*view.terminal).rfind("demo $", 0) == 0;
    };
    ASSERT_TRUE(waitUntil(atPrompt, 20000)) << screenText(*view.terminal);
    // The session has drawn everything once no output came for a while.
    ASSERT_TRUE(waitUntil([&] { return quiet.elapsed() > 500; }, 20000));
    // A steady caret: no blink phase in the picture.
    view.feedText("\x1b[2 q");
    view.updateDisplayNow();
    QCoreApplication::processEvents();
    const QImage image = window.grab().toImage().convertToFormat(QImage::Format_RGB32);
    tab.stop();
    EXPECT_TRUE(corvantix::testing::matchesReference(image, QStringLiteral(HALVOREN_APP_SCREENSHOT_DIR),
                                                     QStringLiteral("project-tab")));
}

} // namespace
} // namespace halvoren

int main(int argc, char** argv)
{
    // A fixed font resolution, so the point size gives the same cells on every display.
    qputenv("QT_FONT_DPI", "96");
    QApplication application(argc, argv);
    testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
