// The servers sheet and the server editor over a model whose ssh always fails: quick connection,
// the row menu, the automatic connection, the hand-over to the first-connection sheet, and what
// the editor saves, keeps and refuses.
#include "ui/ProfileEditor.h"
#include "ui/ServersView.h"

#include "ViewsWorkspace.h"

#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QPushButton>
#include <QScrollArea>
#include <QSpinBox>
#include <QTest>

namespace halvoren {
namespace {

struct ServersSheet : test::ServersWorkspace, testing::Test {
    std::optional<ServersView> view;
    // The profiles the first-connection sheet was asked for, and its last report callback.
    QList<MacProfile> asked;
    ServersView::ConnectDone done;
    ServersView& open(std::optional<QString> autoConnect = std::nullopt)
    {
        view.emplace(model, std::move(autoConnect), nullptr);
        view->makeConnectSheet = [this](const MacProfile& profile, ServersView::ConnectDone report, QWidget* parent) {
            asked << profile;
            done = std::move(report);
            return new QDialog(parent);
        };
        view->show();
        return *view;
    }
    bool firstConnectionAsked() { return QTest::qWaitFor([&] { return !asked.isEmpty(); }, 20000); }
};

TEST_F(ServersSheet, AParsedLineIsSavedAndClearedThoughTheFirstConnectionIsCancelled)
{
    EXPECT_EQ(serverDetailLine({"p1", "", "box", 22, "ana", "/srv"}), QStringLiteral("ana@box · /srv"));
    ServersView& sheet = open();
    EXPECT_FALSE(sheet.quickButton->isEnabled());
    // Blanks, or an option where the destination goes, are not recognised and stay typed.
    for (const char* line : {"   ", "ssh -l -oProxyCommand=x srv"}) {
        sheet.quickField->setText(QString::fromUtf8(line));
        QTest::keyClick(sheet.quickField, Qt::Key_Return);
        EXPECT_TRUE(sheet.isVisible() && sheet.errorLabel->isVisible());
        EXPECT_EQ(sheet.errorLabel->text(), ServersView::unrecognisedMessage);
        EXPECT_EQ(sheet.quickField->text(), QString::fromUtf8(line));
    }
    EXPECT_TRUE(model.profiles().isEmpty());
    sheet.quickField->setText(QStringLiteral("ssh -p 2222 ana@box"));
    QTest::mouseClick(sheet.quickButton, Qt::LeftButton);
    ASSERT_EQ(model.profiles().size(), 1);
    const MacProfile saved = model.profiles().front();
    EXPECT_EQ(serverDetailLine(saved), QStringLiteral("ana@box:2222 · ~/projets"));
    EXPECT_TRUE(sheet.quickField->text().isEmpty());
    ASSERT_TRUE(firstConnectionAsked());
    EXPECT_EQ(asked.front().id, saved.id);
    EXPECT_TRUE(sheet.connecting && model.reconnecting().isEmpty());
    done(nullptr);
    EXPECT_TRUE(!sheet.connecting && sheet.isVisible());
    EXPECT_EQ(model.profiles(), QList<MacProfile>{saved});
    EXPECT_EQ(model.connection(saved.id), nullptr);
}

TEST_F(ServersSheet, DeletingAConnectedServerDisconnectsItAndForgetsItsPassword)
{
    const MacProfile kept = profile("p1", "keep"), gone = profile("p2", "box");
    model.setProfiles({kept, gone});
    remember(gone.id, QStringLiteral("secret"));
    connect(gone);
    ServersView& sheet = open();
    EXPECT_NE(sheet.list->findChild<QWidget*>("connected"), nullptr);
    std::unique_ptr<QMenu> idle(sheet.rowMenu(kept, &sheet)), menu(sheet.rowMenu(gone, &sheet));
    EXPECT_EQ(idle->actions().size(), 3);
    ASSERT_EQ(menu->actions().size(), 4);
    EXPECT_EQ(menu->actions().at(1)->text() + menu->actions().at(3)->text(), QStringLiteral("DéconnecterSupprimer"));
    menu->actions().at(3)->trigger();
    ASSERT_TRUE(QTest::qWaitFor([&] { return model.profiles() == QList<MacProfile>{kept}; }, 20000));
    EXPECT_EQ(model.connection(gone.id), nullptr);
    EXPECT_FALSE(password(gone.id).has_value());
}

TEST_F(ServersSheet, AutomaticConnectionTakesOnlyASavedIdAndAttachesAProvenLink)
{
    const MacProfile saved = profile("p1", "box");
    model.saveProfile(saved);
    open(QStringLiteral("p-gone"));
    QCoreApplication::processEvents();
    EXPECT_TRUE(model.reconnecting().isEmpty() && asked.isEmpty() && view->isVisible());
    ServersView& sheet = open(saved.id);
    QCoreApplication::processEvents();
    EXPECT_TRUE(model.reconnecting().contains(saved.id));
    ASSERT_TRUE(firstConnectionAsked());
    EXPECT_EQ(asked.front().id, saved.id);
    done(std::make_shared<SSHLink>(saved));
    EXPECT_FALSE(sheet.connecting);
    ASSERT_TRUE(QTest::qWaitFor([&] { return !sheet.isVisible(); }, 20000));
    EXPECT_TRUE(sheet.result() == QDialog::Accepted && model.connection(saved.id));
}

struct Editor : test::ServersWorkspace, testing::Test {
    std::optional<ProfileEditor> editor;
    ProfileEditor& open(const MacProfile& profile)
    {
        editor.emplace(model, profile, nullptr);
        editor->show();
        return *editor;
    }
    void save() { QTest::mouseClick(editor->saveButton, Qt::LeftButton); }
};

TEST_F(Editor, ABlankNameTakesTheHostAndThePortReadsWithoutGrouping)
{
    for (const auto& [typed, saved] : {std::pair{"", "srv"}, {" \t\u00a0 ", "srv"}, {" Prod ", " Prod "}}) {
        open(profile(u'p' + QString::fromUtf8(typed))).nameField->setText(QString::fromUtf8(typed));
        editor->hostField->setText(QStringLiteral("srv"));
        save();
        EXPECT_FALSE(editor->isVisible());
        EXPECT_EQ(model.profiles().last().name, QString::fromUtf8(saved));
    }
    EXPECT_EQ(model.profiles().size(), 3);
    struct Restore {
        QLocale locale;
        ~Restore() { QLocale::setDefault(locale); }
    } restore{QLocale()};
    QLocale::setDefault(QLocale(QLocale::German, QLocale::Germany));
    ASSERT_EQ(QLocale().toString(2222), QStringLiteral("2.222"));
    EXPECT_EQ(open(profile("p1", "box", {}, 2222)).portField->text(), QStringLiteral("2222"));
}

TEST_F(Editor, AnEmptyPasswordKeepsTheRememberedOneAndCancellingChangesNothing)
{
    const QList<MacProfile> servers{profile("p1", "a"), profile("p2", "b", "ana"), profile("p3", "c")};
    model.setProfiles(servers);
    remember("p2", QStringLiteral("old"));
    ProfileEditor& cancelled = open(servers[1]);
    cancelled.hostField->setText(QStringLiteral("other"));
    cancelled.passwordField->setText(QStringLiteral("secret"));
    QTest::mouseClick(cancelled.cancelButton, Qt::LeftButton);
    EXPECT_FALSE(cancelled.isVisible());
    EXPECT_EQ(model.profiles(), servers);
    EXPECT_EQ(password("p2"), QStringLiteral("old"));
    for (const char* typed : {"", "new"}) {
        EXPECT_TRUE(open(servers[1]).passwordField->text().isEmpty());
        editor->passwordField->setText(QString::fromUtf8(typed));
        editor->hostField->setText(QStringLiteral("b2"));
        save();
        EXPECT_EQ(password("p2"), QString::fromUtf8(*typed ? typed : "old"));
    }
    // Edited in place, under the same id.
    EXPECT_EQ(model.profiles(), (QList<MacProfile>{servers[0], {"p2", "b", "b2", 22, "ana"}, servers[2]}));
}

TEST_F(Editor, SavingNeedsAHostAndRefusesWhatSshWouldReadAsAnOptionOrSplit)
{
    EXPECT_FALSE(open(profile("p1")).saveButton->isEnabled());
    const QString &host = ProfileEditor::hostRefused, &user = ProfileEditor::userRefused;
    for (const auto& [badHost, badUser, expected] :
         {std::tuple{"-oProxyCommand=x", "", host}, {" ", "", host}, {"box\x01", "", host}, {"box", "-lroot", user},
          {"box", "ana b", user}}) {
        open(profile("p1", badHost, badUser)).passwordField->setText(QStringLiteral("secret"));
        save();
        EXPECT_TRUE(editor->isVisible() && editor->problemLabel->isVisible());
        EXPECT_EQ(editor->problemLabel->text(), expected) << badHost << " / " << badUser;
        editor->userField->setText(QStringLiteral("ana"));
        EXPECT_FALSE(editor->problemLabel->isVisible());
    }
    EXPECT_TRUE(model.profiles().isEmpty());
    EXPECT_FALSE(password("p1").has_value());
}

} // namespace
} // namespace halvoren
