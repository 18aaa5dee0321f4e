// The servers sheet over a model whose ssh always fails: the rows, the quick-connect field, the
// row menu, the automatic connection and the hand-over to the first-connection sheet.
#include "ui/ServersView.h"

#include "ServersWorkspace.h"
#include "ui/ProfileEditor.h"

#include <QAction>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QPushButton>
#include <QScrollArea>
#include <QTest>

#include <gtest/gtest.h>

namespace halvoren {
namespace {

// Stands in for the first-connection sheet and keeps what the servers sheet handed it.
struct SheetRecorder {
    QList<MacProfile> asked;
    ServersView::ConnectDone done;
    void install(ServersView& view)
    {
        view.makeConnectSheet = [this](const MacProfile& profile, ServersView::ConnectDone report, QWidget* parent) {
            asked << profile;
            done = std::move(report);
            return new QDialog(parent);
        };
    }
};

struct ServersSheet : test::ServersWorkspace, testing::Test {
    std::optional<ServersView> view;
    SheetRecorder sheets;
    ServersView& open(std::optional<QString> autoConnect = std::nullopt)
    {
        view.emplace(model, std::move(autoConnect), nullptr);
        sheets.install(*view);
        view->show();
        return *view;
    }
    bool firstConnectionAsked() { return QTest::qWaitFor([&] { return !sheets.asked.isEmpty(); }, 20000); }
};

QStringList menuTitles(QMenu& menu)
{
    QStringList titles;
    for (const QAction* action : menu.actions())
        titles << action->text();
    return titles;
}

TEST(ServerDetailLine, UserOnlyWhenSetPortOnlyWhenNotTheDefault)
{
    const struct {
        const char* user;
        int port;
        const char* root;
        const char* expected;
    } cases[] = {
        {"ana", 22, "~/projets", "ana@box · ~/projets"},
        {"", 2222, "~/projets", "box:2222 · ~/projets"},
        {"ana", 2222, "/srv/code", "ana@box:2222 · /srv/code"},
        {"", 22, "", "box · "},
    };
    for (const auto& c : cases) {
        MacProfile profile = test::ServersWorkspace::profile(QStringLiteral("p1"), QStringLiteral("box"),
                                                             QString::fromUtf8(c.user), c.port);
        profile.projectsRoot = QString::fromUtf8(c.root);
        EXPECT_EQ(serverDetailLine(profile), QString::fromUtf8(c.expected));
    }
}

TEST_F(ServersSheet, WithoutServersShowsTheHintOverAListThatKeepsItsHeight)
{
    ServersView& sheet = open();
    EXPECT_TRUE(sheet.hint->isVisible());
    EXPECT_GE(sheet.list->height(), 160);
    model.saveProfile(profile(QStringLiteral("p1"), QStringLiteral("box"), QStringLiteral("ana")));
    EXPECT_FALSE(sheet.hint->isVisible());
    const auto* detail = sheet.list->findChild<QLabel*>(QStringLiteral("detail"));
    ASSERT_NE(detail, nullptr);
    EXPECT_EQ(detail->text(), QStringLiteral("ana@box · ~/projets"));
}

TEST_F(ServersSheet, AParsedLineIsSavedAndClearedThoughTheFirstConnectionIsCancelled)
{
    ServersView& sheet = open();
    EXPECT_FALSE(sheet.quickButton->isEnabled());
    sheet.quickField->setText(QStringLiteral("ssh -p 2222 ana@box"));
    QTest::mouseClick(sheet.quickButton, Qt::LeftButton);
    ASSERT_EQ(model.profiles().size(), 1);
    const MacProfile saved = model.profiles().front();
    EXPECT_EQ(serverDetailLine(saved), QStringLiteral("ana@box:2222 · ~/projets"));
    EXPECT_TRUE(sheet.quickField->text().isEmpty());
    EXPECT_FALSE(sheet.errorLabel->isVisible());

    ASSERT_TRUE(firstConnectionAsked());
    EXPECT_EQ(sheets.asked.front().id, saved.id);
    ASSERT_TRUE(sheet.connecting);
    EXPECT_TRUE(model.reconnecting().isEmpty());
    sheets.done(nullptr);
    EXPECT_FALSE(sheet.connecting);
    EXPECT_TRUE(sheet.isVisible());
    EXPECT_EQ(model.profiles(), QList<MacProfile>{saved});
    EXPECT_EQ(model.connection(saved.id), nullptr);
}

TEST_F(ServersSheet, BlanksEnableConnectAndAreNotRecognised)
{
    ServersView& sheet = open();
    sheet.quickField->setText(QStringLiteral("   "));
    EXPECT_TRUE(sheet.quickButton->isEnabled());
    // Return belongs to the field: it must not press one of the sheet's buttons.
    QTest::keyClick(sheet.quickField, Qt::Key_Return);
    EXPECT_TRUE(sheet.isVisible());
    EXPECT_TRUE(sheet.errorLabel->isVisible());
    EXPECT_EQ(sheet.errorLabel->text(), ServersView::unrecognisedMessage);
    EXPECT_EQ(sheet.quickField->text(), QStringLiteral("   "));
    // An option where the destination should be is no server either.
    sheet.quickField->setText(QStringLiteral("ssh -l -oProxyCommand=x srv"));
    QTest::mouseClick(sheet.quickButton, Qt::LeftButton);
    EXPECT_TRUE(model.profiles().isEmpty());
    EXPECT_TRUE(sheet.errorLabel->isVisible());
}

TEST_F(ServersSheet, DeletingAConnectedServerDisconnectsItAndForgetsItsPassword)
{
    const MacProfile kept = profile(QStringLiteral("p1"), QStringLiteral("keep"));
    const MacProfile gone = profile(QStringLiteral("p2"), QStringLiteral("box"));
    model.saveProfile(kept);
    model.saveProfile(gone);
    remember(gone.id, QStringLiteral("secret"));
    connected(gone);
    ServersView& sheet = open();
    EXPECT_NE(sheet.list->findChild<QWidget*>(QStringLiteral("connected")), nullptr);

    std::unique_ptr<QMenu> idle(sheet.rowMenu(kept, &sheet));
    EXPECT_EQ(menuTitles(*idle), (QStringList{QStringLiteral("Modifier…"), QString(), QStringLiteral("Supprimer")}));
    std::unique_ptr<QMenu> menu(sheet.rowMenu(gone, &sheet));
    const QStringList titles = menuTitles(*menu);
    ASSERT_EQ(titles, (QStringList{QStringLiteral("Modifier…"), QStringLiteral("Déconnecter"), QString(),
                                   QStringLiteral("Supprimer")}));
    menu->actions().at(3)->trigger();
    ASSERT_TRUE(QTest::qWaitFor([&] { return model.profiles().size() == 1; }, 20000));
    EXPECT_EQ(model.profiles().front().id, kept.id);
    EXPECT_EQ(model.connection(gone.id), nullptr);
    EXPECT_FALSE(password(gone.id).has_value());
    EXPECT_TRUE(sheet.isVisible());
}

TEST_F(ServersSheet, AutomaticConnectionTakesOnlyASavedId)
{
    const MacProfile saved = profile(QStringLiteral("p1"), QStringLiteral("box"));
    model.saveProfile(saved);
    {
        ServersView& sheet = open(QStringLiteral("p-gone"));
        QCoreApplication::processEvents();
        EXPECT_TRUE(model.reconnecting().isEmpty());
        EXPECT_TRUE(sheets.asked.isEmpty());
        EXPECT_TRUE(sheet.isVisible());
    }
    open(saved.id);
    QCoreApplication::processEvents();
    EXPECT_TRUE(model.reconnecting().contains(saved.id));
    ASSERT_TRUE(firstConnectionAsked());
    EXPECT_EQ(sheets.asked.front().id, saved.id);
}

TEST_F(ServersSheet, AProvenLinkIsAttachedAndClosesTheSheet)
{
    const MacProfile saved = profile(QStringLiteral("p1"), QStringLiteral("box"));
    model.saveProfile(saved);
    ServersView& sheet = open(saved.id);
    ASSERT_TRUE(firstConnectionAsked());
    sheets.done(std::make_shared<SSHLink>(saved));
    EXPECT_FALSE(sheet.connecting);
    ASSERT_TRUE(QTest::qWaitFor([&] { return !sheet.isVisible(); }, 20000));
    EXPECT_EQ(sheet.result(), QDialog::Accepted);
    EXPECT_NE(model.connection(saved.id), nullptr);
}

TEST_F(ServersSheet, AddingOpensTheEditorOnAFreshServer)
{
    ServersView& sheet = open();
    QTest::mouseClick(sheet.addButton, Qt::LeftButton);
    ASSERT_TRUE(sheet.editing);
    const MacProfile& fresh = sheet.editing->profile;
    EXPECT_TRUE(fresh.id.startsWith(u'p'));
    EXPECT_EQ(fresh.port, 22);
    EXPECT_EQ(fresh.projectsRoot, QStringLiteral("~/projets"));
    EXPECT_TRUE(fresh.host.isEmpty() && fresh.name.isEmpty() && fresh.username.isEmpty());
    EXPECT_FALSE(sheet.editing->saveButton->isEnabled());
}

} // namespace
} // namespace halvoren
