// The first-run sheet: the folder it starts with, choosing another, and what "Commencer"
// stores and starts.
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
    // Answers of the folder chooser, in order; an empty one is a cancel.
    QStringList answers;
    int chooserCalls = 0;

    OnboardingFixture()
    {
        chooseFolderReplacement() = [this]() -> std::optional<QString> {
            ++chooserCalls;
            const QString answer = answers.isEmpty() ? QString() : answers.takeFirst();
            return answer.isEmpty() ? std::nullopt : std::optional<QString>(answer);
        };
    }
    ~OnboardingFixture() override { chooseFolderReplacement() = nullptr; }
};

TEST_F(OnboardingFixture, StartingFolderComesFromTheStoredRoots)
{
    const QString fallback = home.path() + QStringLiteral("/projets");
    // Stored "flutter.projectsRoots" (none: absent) → folder shown.
    const struct {
        std::optional<QStringList> stored;
        QString expected;
    } cases[] = {
        {std::nullopt, fallback},
        {QStringList{}, fallback},
        {QStringList{QStringLiteral("/srv/a"), QStringLiteral("/srv/b")}, QStringLiteral("/srv/a")},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.stored ? c.stored->join(u',').toStdString() : "absent");
        if (c.stored)
            prefs.setProjectsRoots(*c.stored);
        else
            store.remove(Prefs::projectsRootsKey);
        EXPECT_EQ(defaultOnboardingRoot(prefs), c.expected);
        OnboardingView sheet(model);
        EXPECT_EQ(sheet.rootLabel->text(), c.expected);
    }
}

TEST_F(OnboardingFixture, ReturnOnAFreshProfileStoresTheDefaultAndListsIt)
{
    const QString root = home.path() + QStringLiteral("/projets");
    folders[root] = QStringList{QStringLiteral("web"), QStringLiteral("api")};
    OnboardingView sheet(model);
    sheet.open();
    settle();
    ASSERT_TRUE(sheet.isVisible());
    // Return while "Choisir…" has the focus still means "Commencer".
    sheet.chooseButton->setFocus();
    QTest::keyClick(&sheet, Qt::Key_Return);
    EXPECT_FALSE(sheet.isVisible());
    EXPECT_EQ(sheet.result(), QDialog::Accepted);
    EXPECT_EQ(chooserCalls, 0);
    EXPECT_EQ(store.stringListValue(Prefs::projectsRootsKey), QStringList{root});
    EXPECT_EQ(store.boolValue(Prefs::onboardingDoneKey), std::optional<bool>(true));
    settle();
    EXPECT_TRUE(listed.contains(root));
    QStringList names;
    for (const MacProject& project : model.localConnection()->projects())
        names << project.name;
    names.sort();
    EXPECT_EQ(names, (QStringList{QStringLiteral("api"), QStringLiteral("web")}));
}

TEST_F(OnboardingFixture, AChosenFolderIsShownKeptOnCancelAndBecomesTheOnlyRoot)
{
    prefs.setProjectsRoots({QStringLiteral("/old/one"), QStringLiteral("/old/two")});
    answers = {QStringLiteral("/data/work"), QString()};
    OnboardingView sheet(model);
    sheet.open();
    sheet.chooseButton->click();
    EXPECT_EQ(sheet.rootLabel->text(), QStringLiteral("/data/work"));
    sheet.chooseButton->click();
    EXPECT_EQ(chooserCalls, 2);
    EXPECT_EQ(sheet.rootLabel->text(), QStringLiteral("/data/work"));
    sheet.beginButton->click();
    EXPECT_EQ(prefs.projectsRoots(), QStringList{QStringLiteral("/data/work")});
}

TEST_F(OnboardingFixture, EscapeAndClosingLeaveTheSheetOpen)
{
    OnboardingView sheet(model);
    sheet.open();
    settle();
    QTest::keyClick(&sheet, Qt::Key_Escape);
    sheet.close();
    settle();
    EXPECT_TRUE(sheet.isVisible());
    EXPECT_FALSE(store.contains(Prefs::onboardingDoneKey));
}

} // namespace
} // namespace halvoren
