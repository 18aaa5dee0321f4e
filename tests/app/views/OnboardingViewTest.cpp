// The first-run sheet: its starting folder, choosing another, and what "Commencer" does.
#include "ui/OnboardingView.h"

#include "EntryWorkspace.h"

#include <QLabel>
#include <QPushButton>
#include <QTest>

#include <gtest/gtest.h>

namespace halvoren {
namespace {

using test::settle;

struct OnboardingFixture : test::EntryWorkspace, testing::Test {
    test::TempFolder home;
    test::EnvironmentOverride homeVariable{"HOME", home.path()};
    // Answers of the folder chooser in turn; an empty one cancels.
    QStringList answers;
    OnboardingFixture()
    {
        chooseFolderReplacement() = [this]() -> std::optional<QString> {
            const QString answer = answers.isEmpty() ? QString() : answers.takeFirst();
            return answer.isEmpty() ? std::nullopt : std::optional<QString>(answer);
        };
    }
    ~OnboardingFixture() override { chooseFolderReplacement() = nullptr; }
};

TEST_F(OnboardingFixture, ReturnWithoutRootsStoresHomeProjetsAndListsIt)
{
    const QString root = home.path() + QStringLiteral("/projets");
    folders[root] = QStringList{QStringLiteral("web")};
    prefs.setProjectsRoots({});
    OnboardingView sheet(model);
    EXPECT_EQ(sheet.rootLabel->text(), root) << "an empty stored list";
    sheet.open();
    QTest::keyClick(&sheet, Qt::Key_Escape);
    sheet.close();
    settle();
    ASSERT_TRUE(sheet.isVisible()) << "no way out but Commencer";
    sheet.chooseButton->setFocus();
    QTest::keyClick(&sheet, Qt::Key_Return);
    EXPECT_FALSE(sheet.isVisible());
    EXPECT_EQ(store.stringListValue(Prefs::projectsRootsKey), QStringList{root});
    EXPECT_EQ(store.boolValue(Prefs::onboardingDoneKey), std::optional<bool>(true));
    settle();
    ASSERT_EQ(model.localConnection()->projects().size(), 1);
    EXPECT_EQ(model.localConnection()->projects().front().path, root + QStringLiteral("/web"));
}

TEST_F(OnboardingFixture, AChosenFolderIsKeptOnCancelAndBecomesTheOnlyRoot)
{
    prefs.setProjectsRoots({QStringLiteral("/old/one"), QStringLiteral("/old/two")});
    answers = {QStringLiteral("/data/work"), QString()};
    OnboardingView sheet(model);
    EXPECT_EQ(sheet.rootLabel->text(), QStringLiteral("/old/one"));
    sheet.open();
    sheet.chooseButton->click();
    sheet.chooseButton->click();
    EXPECT_TRUE(answers.isEmpty());
    EXPECT_EQ(sheet.rootLabel->text(), QStringLiteral("/data/work"));
    sheet.beginButton->click();
    EXPECT_EQ(prefs.projectsRoots(), QStringList{QStringLiteral("/data/work")});
}

} // namespace
} // namespace halvoren
