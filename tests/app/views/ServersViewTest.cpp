// The servers sheet over a model whose ssh always fails: rows, quick connection, the row menu,
// the automatic connection and the hand-over to the first-connection sheet.
#include "ui/ServersView.h"

#include "ServersWorkspace.h"

#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QPushButton>
#include <QScrollArea>
#include <QTest>

#include <gtest/gtest.h>

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

TEST(ServerDetailLine, UserOnlyWhenSetPortOnlyWhenNotTheDefault)
{
    EXPECT_EQ(serverDetailLine({"p1", "", "box", 22, "ana"}), QStringLiteral("ana@box · ~/projets"));
    EXPECT_EQ(serverDetailLine({"p1", "", "box", 2222, ""}), QStringLiteral("box:2222 · ~/projets"));
    EXPECT_EQ(serverDetailLine({"p1", "", "box", 2222, "ana", "/srv"}), QStringLiteral("ana@box:2222 · /srv"));
}

TEST_F(ServersSheet, WithoutServersShowsTheHintOverAListThatKeepsItsHeight)
{
    ServersView& sheet = open();
    EXPECT_TRUE(sheet.hint->isVisible());
    EXPECT_GE(sheet.list->height(), 160);
    model.saveProfile(profile("p1", "box", "ana"));
    EXPECT_FALSE(sheet.hint->isVisible());
    ASSERT_NE(sheet.list->findChild<QLabel*>("detail"), nullptr);
    EXPECT_EQ(sheet.list->findChild<QLabel*>("detail")->text(), QStringLiteral("ana@box · ~/projets"));
    QTest::keyClick(&sheet, Qt::Key_Escape);
    EXPECT_FALSE(sheet.isVisible());
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
    ASSERT_TRUE(firstConnectionAsked());
    EXPECT_EQ(asked.front().id, saved.id);
    EXPECT_TRUE(sheet.connecting && model.reconnecting().isEmpty());
    done(nullptr);
    EXPECT_FALSE(sheet.connecting);
    EXPECT_TRUE(sheet.isVisible());
    EXPECT_EQ(model.profiles(), QList<MacProfile>{saved});
    EXPECT_EQ(model.connection(saved.id), nullptr);
}

TEST_F(ServersSheet, BlanksOrAnOptionAsDestinationAreNotRecognised)
{
    ServersView& sheet = open();
    for (const char* line : {"   ", "ssh -l -oProxyCommand=x srv"}) {
        sheet.quickField->setText(QString::fromUtf8(line));
        EXPECT_TRUE(sheet.quickButton->isEnabled());
        QTest::keyClick(sheet.quickField, Qt::Key_Return);
        EXPECT_TRUE(sheet.isVisible() && sheet.errorLabel->isVisible());
        EXPECT_EQ(sheet.errorLabel->text(), ServersView::unrecognisedMessage);
        EXPECT_EQ(sheet.quickField->text(), QString::fromUtf8(line));
    }
    EXPECT_TRUE(model.profiles().isEmpty());
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
    EXPECT_EQ(sheet.result(), QDialog::Accepted);
    EXPECT_NE(model.connection(saved.id), nullptr);
}

} // namespace
} // namespace halvoren
