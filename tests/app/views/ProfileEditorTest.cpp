// The server editor: what it saves, what it keeps, and the hosts and users it refuses.
#include "ui/ProfileEditor.h"

#include "ServersWorkspace.h"

#include <QLabel>
#include <QLineEdit>
#include <QLocale>
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
    void press(QPushButton* button) { QTest::mouseClick(button, Qt::LeftButton); }
};

TEST(ProfileProblem, RefusesWhatSshWouldReadAsAnOptionOrSplit)
{
    const struct {
        const char* host;
        const char* user;
        const QString* expected;
    } cases[] = {
        {"box", "", nullptr},
        {"10.0.0.5", "ana", nullptr},
        {"a-b.example", "x-y", nullptr},
        {"-oProxyCommand=x", "", &ProfileEditor::hostRefused},
        {"box other", "", &ProfileEditor::hostRefused},
        {"box\x01", "", &ProfileEditor::hostRefused},
        {"   ", "", &ProfileEditor::hostRefused},
        {"box", "-lroot", &ProfileEditor::userRefused},
        {"box", "ana\tb", &ProfileEditor::userRefused},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::Message() << c.host << " / " << c.user);
        const auto problem = profileProblem(test::ServersWorkspace::profile(
            QStringLiteral("p1"), QString::fromUtf8(c.host), QString::fromUtf8(c.user)));
        EXPECT_EQ(problem.value_or(QString()), c.expected ? *c.expected : QString());
    }
}

TEST_F(Editor, ABlankNameTakesTheHostAsTyped)
{
    // Typed name → the name saved.
    const struct {
        const char* typed;
        const char* saved;
    } cases[] = {{"", "srv.example"}, {" \t\u00a0 ", "srv.example"}, {" Prod ", " Prod "}};
    int count = 0;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.typed);
        ProfileEditor& sheet = open(profile(QStringLiteral("p%1").arg(++count), QString()));
        sheet.nameField->setText(QString::fromUtf8(c.typed));
        sheet.hostField->setText(QStringLiteral("srv.example"));
        press(sheet.saveButton);
        EXPECT_FALSE(sheet.isVisible());
        ASSERT_EQ(model.profiles().size(), count);
        EXPECT_EQ(model.profiles().last().name, QString::fromUtf8(c.saved));
        EXPECT_EQ(model.profiles().last().host, QStringLiteral("srv.example"));
    }
}

TEST_F(Editor, AnEmptyPasswordKeepsTheRememberedOneAndATypedOneReplacesIt)
{
    const MacProfile server = profile(QStringLiteral("p1"), QStringLiteral("box"));
    model.saveProfile(server);
    remember(server.id, QStringLiteral("old"));
    ProfileEditor& first = open(server);
    EXPECT_TRUE(first.passwordField->text().isEmpty());
    EXPECT_EQ(first.passwordField->echoMode(), QLineEdit::Password);
    press(first.saveButton);
    EXPECT_EQ(password(server.id), QStringLiteral("old"));
    ProfileEditor& second = open(server);
    second.passwordField->setText(QStringLiteral("new"));
    press(second.saveButton);
    EXPECT_EQ(password(server.id), QStringLiteral("new"));
}

TEST_F(Editor, ThePortReadsWithoutGroupingUnderAGroupingLocale)
{
    const QLocale before;
    QLocale::setDefault(QLocale(QLocale::German, QLocale::Germany));
    struct Restore {
        QLocale locale;
        ~Restore() { QLocale::setDefault(locale); }
    } restore{before};
    ASSERT_EQ(QLocale().toString(2222), QStringLiteral("2.222"));
    ProfileEditor& sheet = open(profile(QStringLiteral("p1"), QStringLiteral("box"), {}, 2222));
    EXPECT_EQ(sheet.portField->text(), QStringLiteral("2222"));
    sheet.portField->clear();
    QTest::keyClicks(sheet.portField, QStringLiteral("2200"));
    press(sheet.saveButton);
    ASSERT_EQ(model.profiles().size(), 1);
    EXPECT_EQ(model.profiles().front().port, 2200);
}

TEST_F(Editor, CancellingChangesNothing)
{
    const MacProfile server = profile(QStringLiteral("p1"), QStringLiteral("box"), QStringLiteral("ana"));
    model.saveProfile(server);
    ProfileEditor& sheet = open(server);
    sheet.nameField->setText(QStringLiteral("Autre"));
    sheet.hostField->setText(QStringLiteral("other"));
    sheet.passwordField->setText(QStringLiteral("secret"));
    press(sheet.cancelButton);
    EXPECT_FALSE(sheet.isVisible());
    EXPECT_EQ(model.profiles(), QList<MacProfile>{server});
    EXPECT_FALSE(password(server.id).has_value());
}

TEST_F(Editor, EditingKeepsTheIdAndThePlaceInTheList)
{
    const QList<MacProfile> servers{profile(QStringLiteral("p1"), QStringLiteral("a")),
                                    profile(QStringLiteral("p2"), QStringLiteral("b")),
                                    profile(QStringLiteral("p3"), QStringLiteral("c"))};
    for (const MacProfile& server : servers)
        model.saveProfile(server);
    ProfileEditor& sheet = open(servers[1]);
    sheet.hostField->setText(QStringLiteral("b2"));
    sheet.userField->setText(QStringLiteral("ana"));
    sheet.rootField->setText(QStringLiteral("/srv"));
    press(sheet.saveButton);
    MacProfile expected = servers[1];
    expected.host = QStringLiteral("b2");
    expected.username = QStringLiteral("ana");
    expected.projectsRoot = QStringLiteral("/srv");
    EXPECT_EQ(model.profiles(), (QList<MacProfile>{servers[0], expected, servers[2]}));
}

TEST_F(Editor, SavingNeedsAHostAndRefusesAnOption)
{
    ProfileEditor& sheet = open(profile(QStringLiteral("p1"), QString()));
    EXPECT_FALSE(sheet.saveButton->isEnabled());
    sheet.hostField->setText(QStringLiteral(" "));
    EXPECT_TRUE(sheet.saveButton->isEnabled());
    sheet.hostField->setText(QStringLiteral("-oProxyCommand=x"));
    sheet.passwordField->setText(QStringLiteral("secret"));
    press(sheet.saveButton);
    EXPECT_TRUE(sheet.isVisible());
    EXPECT_TRUE(sheet.problemLabel->isVisible());
    EXPECT_EQ(sheet.problemLabel->text(), ProfileEditor::hostRefused);
    EXPECT_TRUE(model.profiles().isEmpty());
    EXPECT_FALSE(password(QStringLiteral("p1")).has_value());
    // Correcting the field clears the message and lets it save.
    sheet.hostField->setText(QStringLiteral("box"));
    EXPECT_FALSE(sheet.problemLabel->isVisible());
    press(sheet.saveButton);
    EXPECT_EQ(model.profiles().size(), 1);
}

} // namespace
} // namespace halvoren
