// The settings window: the text size both ways, the projects folders and the version line.
#include "ui/SettingsView.h"

#include "app/views/PanelsWorkspace.h"
#include "model/MacUpdate.h"

#include <QCoreApplication>
#include <QLabel>
#include <QPushButton>
#include <QSlider>
#include <QTest>

#include <gtest/gtest.h>

namespace halvoren {
namespace {

struct Settings : test::PanelsWorkspace, testing::Test {
    std::unique_ptr<SettingsView> view;
    QStringList chosen;

    void open(const QStringList& roots)
    {
        prefs.setProjectsRoots(roots);
        view = std::make_unique<SettingsView>(model);
        view->chooseFolder = [this]() -> std::optional<QString> {
            return chosen.isEmpty() ? std::nullopt : std::optional(chosen.takeFirst());
        };
    }
    QList<bool> removable() const
    {
        QList<bool> enabled;
        for (const QPushButton* button : view->removeButtons())
            enabled << button->isEnabled();
        return enabled;
    }
};

TEST_F(Settings, TheSliderRoundsAndTheLabelFollowsTheModel)
{
    open({QStringLiteral("/srv/a")});
    view->setSliderValue(17.6);
    EXPECT_EQ(prefs.fontSize(), 18.0);
    EXPECT_EQ(view->sizeLabel()->text(), QStringLiteral("18 pt"));
    // Sizes set from the menus, clamped by the model; the label cuts to whole points.
    for (const auto& [size, text] : {std::pair{22.0, "22 pt"}, {40.0, "28 pt"}, {13.0, "13 pt"}}) {
        model.setFontSize(size);
        EXPECT_EQ(view->sizeLabel()->text().toStdString(), text);
        EXPECT_EQ(view->sizeSlider()->value(), int(size > 28 ? 28 : size));
    }
    EXPECT_EQ(fontSizeText(17.6), QStringLiteral("17 pt"));
    view->sizeSlider()->setValue(20);
    EXPECT_EQ(model.fontSize(), 20.0);
}

TEST_F(Settings, TheLastProjectsFolderCannotBeRemovedAndAddingShowsTheStoredList)
{
    open({QStringLiteral("/srv/a"), QStringLiteral("/srv/b")});
    EXPECT_EQ(removable(), (QList<bool>{true, true}));
    view->removeButtons().front()->click();
    ASSERT_TRUE(QTest::qWaitFor([&] { return view->roots.size() == 1; }, 5000));
    EXPECT_EQ(prefs.projectsRoots(), QStringList{QStringLiteral("/srv/b")});
    EXPECT_EQ(removable(), QList<bool>{false});
    // Already there, new, then cancelled.
    chosen = {QStringLiteral("/srv/b"), QStringLiteral("/srv/c")};
    for (int i = 0; i < 3; ++i)
        QCoro::waitFor(view->addRoot());
    EXPECT_EQ(view->roots, (QStringList{QStringLiteral("/srv/b"), QStringLiteral("/srv/c")}));
    EXPECT_EQ(prefs.projectsRoots(), view->roots);
    EXPECT_EQ(removable(), (QList<bool>{true, true}));
}

TEST_F(Settings, TheVersionLineAndTheDefaultRoot)
{
    const QString previous = QCoreApplication::applicationVersion();
    QCoreApplication::setApplicationVersion(bundleVersion());
    open({});
    QCoreApplication::setApplicationVersion(previous);
    ASSERT_FALSE(bundleVersion().isEmpty());
    EXPECT_EQ(view->versionLabel()->text(), bundleVersion() + QStringLiteral(" (%1)").arg(bundleBuild()));
    EXPECT_EQ(versionText(QString(), 57), QStringLiteral(" (57)"));
    test::EnvironmentOverride home("HOME", QStringLiteral("/home/ana"));
    EXPECT_EQ(defaultProjectsRoot(prefs), QStringLiteral("/home/ana/projets"));
    prefs.setProjectsRoots({QStringLiteral("/srv/a"), QStringLiteral("/srv/b")});
    EXPECT_EQ(defaultProjectsRoot(prefs), QStringLiteral("/srv/a"));
}

} // namespace
} // namespace halvoren
