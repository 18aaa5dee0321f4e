// Pixel test of the settings window with two projects folders, on a real X server
// (tests/with-xvfb); HALVOREN_UPDATE_SCREENSHOTS=1 renews the reference.
#include "ui/SettingsView.h"

#include "app/ui/ViewsWorkspace.h"
#include "engine/drawing/screenshot/ReferenceImage.h"

#include <QCoreApplication>
#include <QFontDatabase>
#include <QTest>
#include <QWindow>

#include <gtest/gtest.h>

namespace halvoren {
namespace {

TEST(SettingsWindowScreenshot, TwoFoldersTextSizeAndVersion)
{
    ASSERT_TRUE(QFontDatabase::families().contains(QStringLiteral("DejaVu Sans")))
        << "the screenshot needs the Debian package fonts-dejavu-core";
    test::ViewsWorkspace workspace;
    workspace.prefs.setProjectsRoots({QStringLiteral("/home/ana/projets"), QStringLiteral("/srv/code")});
    workspace.model.setFontSize(15);
    QCoreApplication::setApplicationVersion(QStringLiteral("1.0"));
    SettingsView settings(workspace.model);
    settings.show();
    ASSERT_TRUE(QTest::qWaitFor([&] { return settings.windowHandle() && settings.windowHandle()->isExposed(); }));
    QCoreApplication::processEvents();
    EXPECT_TRUE(corvantix::testing::matchesReference(settings.grab().toImage(), QStringLiteral(HALVOREN_APP_SCREENSHOT_DIR),
                                                     QStringLiteral("settings-window")));
}

} // namespace
} // namespace halvoren
