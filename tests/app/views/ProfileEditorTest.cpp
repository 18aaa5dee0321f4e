// The server editor: what it saves, what it keeps, and the hosts and users it refuses.
#include "ui/ProfileEditor.h"

#include "ServersWorkspace.h"

#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QSpinBox>
#include <QTest>

#include <gtest/gtest.h>

namespace halvoren {
namespace {

struct Editor : test::ServersWorkspace, testing::Test {
    std::optional<ProfileEditor> editor;
    ProfileEditor& open(const MacProfile& profile)
    {
        editor.emplace(model, profile, nullptr);
        editor->show();
        return *editor;
    }
};

TEST_F(Editor, ABlankNameTakesTheHostAsTyped)
{
    const struct {
        const char *typed, *saved;
    } cases[] = {{"", "srv"}, {" \t\u00a0 ", "srv"}, {" Prod ", " Prod "}};
    for (const auto& c : cases) {
        ProfileEditor& sheet = open(profile(u'p' + QString::fromUtf8(c.typed), {}));
        sheet.nameField->setText(QString::fromUtf8(c.typed));
        sheet.hostField->setText(QStringLiteral("srv"));
        QTest::mouseClick(sheet.saveButton, Qt::LeftButton);
        EXPECT_FALSE(sheet.isVisible());
        EXPECT_EQ(model.profiles().last().name, QString::fromUtf8(c.saved));
    }
    EXPECT_EQ(model.profiles().size(), 3);
}

TEST_F(Editor, AnEmptyPasswordKeepsTheRememberedOneAndATypedOneReplacesIt)
{
    const MacProfile server = profile("p1", "box");
    remember(server.id, QStringLiteral("old"));
    for (const char* typed : {"", "new"}) {
        ProfileEditor& sheet = open(server);
        EXPECT_TRUE(sheet.passwordField->text().isEmpty());
        EXPECT_EQ(sheet.passwordField->echoMode(), QLineEdit::Password);
        sheet.passwordField->setText(QString::fromUtf8(typed));
        QTest::mouseClick(sheet.saveButton, Qt::LeftButton);
        EXPECT_EQ(password(server.id), QString::fromUtf8(*typed ? typed : "old"));
    }
}

TEST_F(Editor, ThePortReadsWithoutGroupingUnderAGroupingLocale)
{
    struct Restore {
        QLocale locale;
        ~Restore() { QLocale::setDefault(locale); }
    } restore{QLocale()};
    QLocale::setDefault(QLocale(QLocale::German, QLocale::Germany));
    ASSERT_EQ(QLocale().toString(2222), QStringLiteral("2.222"));
    EXPECT_EQ(open(profile("p1", "box", {}, 2222)).portField->text(), QStringLiteral("2222"));
}

TEST_F(Editor, EditingKeepsTheIdAndPlaceAndCancellingChangesNothing)
{
    const QList<MacProfile> servers{profile("p1", "a"), profile("p2", "b", "ana"), profile("p3", "c")};
    model.setProfiles(servers);
    ProfileEditor& cancelled = open(servers[1]);
    cancelled.hostField->setText(QStringLiteral("other"));
    cancelled.passwordField->setText(QStringLiteral("secret"));
    QTest::mouseClick(cancelled.cancelButton, Qt::LeftButton);
    EXPECT_FALSE(cancelled.isVisible());
    EXPECT_EQ(model.profiles(), servers);
    EXPECT_FALSE(password("p2").has_value());
    ProfileEditor& sheet = open(servers[1]);
    sheet.hostField->setText(QStringLiteral("b2"));
    sheet.rootField->setText(QStringLiteral("/srv"));
    QTest::mouseClick(sheet.saveButton, Qt::LeftButton);
    MacProfile expected{"p2", "b", "b2", 22, "ana", "/srv"};
    EXPECT_EQ(model.profiles(), (QList<MacProfile>{servers[0], expected, servers[2]}));
}

TEST_F(Editor, SavingNeedsAHostAndRefusesWhatSshWouldReadAsAnOptionOrSplit)
{
    EXPECT_FALSE(open(profile("p1", {})).saveButton->isEnabled());
    const struct {
        const char *host, *user;
        const QString& expected;
    } cases[] = {{"-oProxyCommand=x", "", ProfileEditor::hostRefused}, {" ", "", ProfileEditor::hostRefused},
                 {"box\x01", "", ProfileEditor::hostRefused}, {"box", "-lroot", ProfileEditor::userRefused},
                 {"box", "ana b", ProfileEditor::userRefused}};
    for (const auto& c : cases) {
        ProfileEditor& sheet = open(profile("p1", c.host, c.user));
        sheet.passwordField->setText(QStringLiteral("secret"));
        QTest::mouseClick(sheet.saveButton, Qt::LeftButton);
        EXPECT_TRUE(sheet.isVisible() && sheet.problemLabel->isVisible());
        EXPECT_EQ(sheet.problemLabel->text(), c.expected) << c.host << " / " << c.user;
        sheet.userField->setText(QStringLiteral("ana"));
        EXPECT_FALSE(sheet.problemLabel->isVisible());
    }
    EXPECT_TRUE(model.profiles().isEmpty());
    EXPECT_FALSE(password("p1").has_value());
}

} // namespace
} // namespace halvoren
