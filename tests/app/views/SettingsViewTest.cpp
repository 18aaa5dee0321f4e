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

TEST(SettingsTexts, SizeIsCutToWholePointsAndVersionCarriesTheBuild)
{
    const std::pair<double, const char*> sizes[] = {{18.0, "18 pt"}, {9.0, "9 pt"}, {17.6, "17 pt"}, {28.9, "28 pt"}};
    for (const auto& [size, text] : sizes)
        EXPECT_EQ(fontSizeText(size).toStdString(), text);
    EXPECT_EQ(versionText(QStringLiteral("1.4"), 57), QStringLiteral("1.4 (57)"));
    EXPECT_EQ(versionText(QString(), 57), QStringLiteral(" (57)"));
}

TEST(SettingsTexts, TheDefaultRootIsTheFirstRootElseProjetsAtHome)
{
    test::PanelsWorkspace w;
    test::EnvironmentOverride home("HOME", QStringLiteral("/home/ana"));
    w.prefs.setProjectsRoots({});
    EXPECT_EQ(defaultProjectsRoot(w.prefs), QStringLiteral("/home/ana/projets"));
    w.prefs.setProjectsRoots({QStringLiteral("/srv/a"), QStringLiteral("/srv/b")});
    EXPECT_EQ(defaultProjectsRoot(w.prefs), QStringLiteral("/srv/a"));
}

struct Settings : test::PanelsWorkspace, testing::Test {
    std::unique_ptr<SettingsView> view;
    QStringList chosen;

    void open(const QStringList& roots)
    {
        prefs.setProjectsRoots(roots);
        view = std::make_unique<SettingsView>(model);
        view->chooseFolder = [this]() -> std::optional<QString> {
            if (chosen.isEmpty())
                return std::nullopt;
            return chosen.takeFirst();
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
    EXPECT_EQ(view->size(), QSize(520, 440));
    view->setSliderValue(17.6);
    EXPECT_EQ(model.fontSize(), 18.0);
    EXPECT_EQ(prefs.fontSize(), 18.0);
    EXPECT_EQ(view->sizeLabel()->text(), QStringLiteral("18 pt"));
    EXPECT_EQ(view->sizeSlider()->value(), 18);
    // Sizes set from the menus, clamped by the model.
    const std::pair<double, const char*> elsewhere[] = {{22, "22 pt"}, {40, "28 pt"}, {13, "13 pt"}};
    for (const auto& [size, text] : elsewhere) {
        model.setFontSize(size);
        EXPECT_EQ(view->sizeLabel()->text().toStdString(), text);
        EXPECT_EQ(view->sizeSlider()->value(), int(model.fontSize()));
    }
    view->sizeSlider()->setValue(20);
    EXPECT_EQ(model.fontSize(), 20.0);
}

TEST_F(Settings, TheLastProjectsFolderCannotBeRemoved)
{
    open({QStringLiteral("/srv/a"), QStringLiteral("/srv/b")});
    EXPECT_EQ(removable(), (QList<bool>{true, true}));
    view->removeButtons().front()->click();
    ASSERT_TRUE(QTest::qWaitFor([&] { return view->roots.size() == 1; }, 5000));
    EXPECT_EQ(prefs.projectsRoots(), QStringList{QStringLiteral("/srv/b")});
    EXPECT_EQ(view->roots, prefs.projectsRoots());
    EXPECT_EQ(removable(), QList<bool>{false});
}

TEST_F(Settings, AddingShowsWhatThePreferencesHold)
{
    open({QStringLiteral("/srv/a")});
    // Cancelled, already there, then new.
    QCoro::waitFor(view->addRoot());
    chosen = {QStringLiteral("/srv/a"), QStringLiteral("/srv/c")};
    QCoro::waitFor(view->addRoot());
    EXPECT_EQ(view->roots, QStringList{QStringLiteral("/srv/a")});
    QCoro::waitFor(view->addRoot());
    EXPECT_EQ(view->roots, (QStringList{QStringLiteral("/srv/a"), QStringLiteral("/srv/c")}));
    EXPECT_EQ(prefs.projectsRoots(), view->roots);
    EXPECT_EQ(removable(), (QList<bool>{true, true}));
}

TEST_F(Settings, TheVersionLineShowsTheVersionThenTheBuild)
{
    const QString previous = QCoreApplication::applicationVersion();
    QCoreApplication::setApplicationVersion(bundleVersion());
    open({QStringLiteral("/srv/a")});
    QCoreApplication::setApplicationVersion(previous);
    ASSERT_FALSE(bundleVersion().isEmpty());
    EXPECT_EQ(view->versionLabel()->text(), bundleVersion() + QStringLiteral(" (%1)").arg(bundleBuild()));
}

} // namespace
} // namespace halvoren
