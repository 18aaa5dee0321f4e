// Pixel test of the projects sidebar on a real X server: this computer with three projects, one
// a favourite, one hidden and one a git repository with uncommitted changes. Runs on its own X
// server (tests/with-xvfb); HALVOREN_UPDATE_SCREENSHOTS=1 renews the reference (see
// ReferenceImage.h).
#include "ui/SidebarView.h"

#include "app/views/SidebarWorkspace.h"
#include "engine/drawing/screenshot/ReferenceImage.h"
#include "ui/Palette.h"

#include <QApplication>
#include <QFontDatabase>
#include <QImage>
#include <QLabel>
#include <QTest>
#include <QToolButton>

#include <gtest/gtest.h>

#ifndef HALVOREN_APP_SCREENSHOT_DIR
#error "HALVOREN_APP_SCREENSHOT_DIR must name the folder of the reference images"
#endif

namespace halvoren {
namespace {

// Pixels of `image` inside `area` within `tolerance` of `colour` in every channel.
int countNear(const QImage& image, const QRect& area, const QColor& colour, int tolerance = 16)
{
    int count = 0;
    const QRect inside = area.intersected(image.rect());
    for (int y = inside.top(); y <= inside.bottom(); ++y) {
        for (int x = inside.left(); x <= inside.right(); ++x)
        {
            const QRgb pixel = image.pixel(x, y);
            count += std::abs(qRed(pixel) - colour.red()) <= tolerance && std::abs(qGreen(pixel) - colour.green()) <= tolerance
                && std::abs(qBlue(pixel) - colour.blue()) <= tolerance;
        }
    }
    return count;
}

ProjectRow* rowOf(const SidebarView& sidebar, const QString& name)
{
    for (ProjectRow* row : sidebar.findChildren<ProjectRow*>()) {
        if (row->isVisible() && row->project.name == name)
            return row;
    }
    return nullptr;
}

TEST(SidebarScreenshot, FavouriteHiddenProjectAndDirtyRepository)
{
    ASSERT_TRUE(QFontDatabase::families().contains(QStringLiteral("DejaVu Sans")))
        << "the screenshot needs the Debian package fonts-dejavu-core";
    test::SidebarWorkspace w;
    MacConnection& local = w.local();
    const MacProject alpha = test::SidebarWorkspace::project(QStringLiteral("/home/ana/projets/alpha"));
    const MacProject beta = test::SidebarWorkspace::project(QStringLiteral("/home/ana/projets/beta"));
    const MacProject gamma = test::SidebarWorkspace::project(QStringLiteral("/home/ana/projets/gamma"));
    local.setProjects({alpha, beta, gamma});
    local.setFavorites({alpha.name});
    local.setHidden({beta.name});
    local.setGitInfo({{gamma.path, GitInfo{QStringLiteral("main"), true}}});

    SidebarView sidebar(w.model);
    sidebar.setFixedSize(260, 180);
    sidebar.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&sidebar));

    const auto* group = sidebar.findChild<QToolButton*>(QStringLiteral("hiddenGroup"));
    ASSERT_NE(group, nullptr);
    EXPECT_TRUE(group->isVisible());
    EXPECT_EQ(group->text(), QStringLiteral("Cachés (1)"));
    EXPECT_EQ(sidebar.findChild<QLabel*>(QStringLiteral("projectCount"))->text(), QStringLiteral("3"));
    ProjectRow* favourite = rowOf(sidebar, alpha.name);
    ProjectRow* dirty = rowOf(sidebar, gamma.name);
    ASSERT_NE(favourite, nullptr);
    ASSERT_NE(dirty, nullptr);
    EXPECT_EQ(rowOf(sidebar, beta.name), nullptr);
    // Favourites first.
    EXPECT_LT(favourite->mapTo(&sidebar, QPoint()).y(), dirty->mapTo(&sidebar, QPoint()).y());

    const QImage image = sidebar.grab().toImage().convertToFormat(QImage::Format_RGB32);
    const auto lineArea = [&](const ProjectRow* row) {
        return QRect(row->line()->mapTo(&sidebar, QPoint()), row->line()->size());
    };
    // The orange mark of uncommitted changes, on the dirty repository's line only.
    EXPECT_GE(countNear(image, lineArea(dirty), dirtyMarkColor()), 3);
    EXPECT_EQ(countNear(image, lineArea(favourite), dirtyMarkColor()), 0);
    // The star is the only amber on the favourite's line (it is neither open nor active).
    EXPECT_GE(countNear(image, lineArea(favourite), accentAmberColor(), 24), 6);
    EXPECT_EQ(countNear(image, lineArea(dirty), accentAmberColor(), 24), 0);
    EXPECT_TRUE(
        corvantix::testing::matchesReference(image, QStringLiteral(HALVOREN_APP_SCREENSHOT_DIR), QStringLiteral("sidebar")));
}

} // namespace
} // namespace halvoren
