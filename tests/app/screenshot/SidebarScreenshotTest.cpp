// Pixel test of the projects sidebar on a real X server: this computer with three projects, one
// a favourite, one hidden and one a git repository with uncommitted changes. Runs on its own X
// server (tests/with-xvfb); HALVOREN_UPDATE_SCREENSHOTS=1 renews the reference (see
// ReferenceImage.h).
#include "ui/SidebarView.h"

#include "app/ui/ViewsWorkspace.h"
#include "engine/drawing/screenshot/ReferenceImage.h"
#include "style/Palette.h"

#include <QFontDatabase>
#include <QImage>
#include <QLabel>
#include <QTest>
#include <QToolButton>

#include <gtest/gtest.h>

#include <algorithm>

namespace halvoren {
namespace {

// Pixels of the row's line within `tolerance` of `colour` in every channel.
int countNear(const QImage& image, const ProjectRow* row, const QColor& colour, int tolerance)
{
    int count = 0;
    const QRect area = QRect(row->line()->mapTo(row->window(), QPoint()), row->line()->size()).intersected(image.rect());
    for (int y = area.top(); y <= area.bottom(); ++y) {
        for (int x = area.left(); x <= area.right(); ++x) {
            const QColor pixel = image.pixelColor(x, y);
            count += std::max({std::abs(pixel.red() - colour.red()), std::abs(pixel.green() - colour.green()),
                               std::abs(pixel.blue() - colour.blue())}) <= tolerance;
        }
    }
    return count;
}

TEST(SidebarScreenshot, FavouriteHiddenProjectAndDirtyRepository)
{
    ASSERT_TRUE(QFontDatabase::families().contains(QStringLiteral("DejaVu Sans")))
        << "the screenshot needs the Debian package fonts-dejavu-core";
    test::ViewsWorkspace w;
    MacConnection& local = w.local();
    const MacProject alpha = w.project(QStringLiteral("/home/ana/projets/alpha")),
                     beta = w.project(QStringLiteral("/home/ana/projets/beta")),
                     gamma = w.project(QStringLiteral("/home/ana/projets/gamma"));
    local.setProjects({alpha, beta, gamma});
    local.setFavorites({alpha.name});
    local.setHidden({beta.name});
    local.setGitInfo({{gamma.path, GitInfo{QStringLiteral("main"), true}}});
    SidebarView sidebar(w.model);
    sidebar.setFixedSize(260, 180);
    sidebar.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&sidebar));
    const auto* group = sidebar.findChild<QToolButton*>(QStringLiteral("hiddenGroup"));
    ASSERT_TRUE(group && group->isVisible());
    EXPECT_EQ(group->text(), QStringLiteral("Cachés (1)"));
    EXPECT_EQ(sidebar.findChild<QLabel*>(QStringLiteral("projectCount"))->text(), QStringLiteral("3"));
    // Favourites first, the hidden project not shown.
    QList<ProjectRow*> rows;
    for (ProjectRow* row : sidebar.findChildren<ProjectRow*>())
        rows << (row->isVisible() ? row : nullptr);
    rows.removeAll(nullptr);
    ASSERT_EQ(rows.size(), 2);
    ProjectRow *favourite = rows[0], *dirty = rows[1];
    EXPECT_EQ(favourite->project.name + dirty->project.name, alpha.name + gamma.name);
    const QImage image = sidebar.grab().toImage().convertToFormat(QImage::Format_RGB32);
    // The orange mark of uncommitted changes, on the dirty repository's line only; the star is
    // the only amber on the favourite's line (it is neither open nor active).
    EXPECT_GE(countNear(image, dirty, dirtyMarkColor(), 16), 3);
    EXPECT_EQ(countNear(image, favourite, dirtyMarkColor(), 16), 0);
    EXPECT_GE(countNear(image, favourite, accentAmberColor(), 24), 6);
    EXPECT_EQ(countNear(image, dirty, accentAmberColor(), 24), 0);
    EXPECT_TRUE(
        corvantix::testing::matchesReference(image, QStringLiteral(HALVOREN_APP_SCREENSHOT_DIR), QStringLiteral("sidebar")));
}

} // namespace
} // namespace halvoren
