// Pixel test of the servers sheet with two saved servers, one connected, in dark colours on a
// real X server (tests/with-xvfb); HALVOREN_UPDATE_SCREENSHOTS=1 renews the reference.
#include "ui/ServersView.h"

#include "app/ui/ViewsWorkspace.h"
#include "engine/drawing/screenshot/ReferenceImage.h"

#include <QFontDatabase>
#include <QLineEdit>
#include <QTest>
#include <QWindow>

#include <gtest/gtest.h>

namespace halvoren {
namespace {

TEST(ServersSheetScreenshot, TwoServersOneConnected)
{
    ASSERT_TRUE(QFontDatabase::families().contains(QStringLiteral("DejaVu Sans")))
        << "the screenshot needs the Debian package fonts-dejavu-core";
    test::ServersWorkspace w;
    const MacProfile atelier{"p1", "Atelier", "atelier.local", 22, "ana"};
    w.model.setProfiles({atelier, MacProfile{"p2", "Build", "10.0.0.5", 2222, "", "/srv/code"}});
    w.connect(atelier);
    ServersView sheet(w.model, std::nullopt, nullptr);
    sheet.quickField->setText(QStringLiteral("ssh -p 2222 "));
    sheet.show();
    ASSERT_TRUE(QTest::qWaitFor([&] { return sheet.windowHandle() && sheet.windowHandle()->isExposed(); }));
    sheet.quickField->clearFocus();
    QCoreApplication::processEvents();
    EXPECT_TRUE(corvantix::testing::matchesReference(
        sheet.grab().toImage(), QStringLiteral(HALVOREN_APP_SCREENSHOT_DIR), QStringLiteral("servers-sheet")));
}

} // namespace
} // namespace halvoren
