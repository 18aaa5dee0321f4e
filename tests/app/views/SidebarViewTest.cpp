// The sidebar over a model with a fake host: section texts, empty and hidden projects, the
// servers to connect, the failed connect's notification, the key banner, opening a project
// into the picker, the picker notification and the scroll position across rebuilds.
#include "ui/SidebarView.h"

#include "SidebarWorkspace.h"
#include "ui/AppBus.h"

#include <QLabel>
#include <QPushButton>
#include <QScrollArea>
#include <QScrollBar>
#include <QSignalSpy>
#include <QTest>
#include <QToolButton>

#include <gtest/gtest.h>

namespace halvoren {
namespace {

using test::SidebarWorkspace;

QWidget* section(const SidebarView& sidebar, const QString& connId)
{
    for (QWidget* found : sidebar.findChildren<QWidget*>(QStringLiteral("connectionSection"))) {
        if (found->isVisibleTo(sidebar.scrollArea()->widget()) && found->property("connectionId") == connId)
            return found;
    }
    return nullptr;
}

QString text(const QWidget* parent, const char* name)
{
    const auto* label = parent->findChild<QLabel*>(QString::fromLatin1(name));
    return label ? label->text() : QStringLiteral("<none>");
}

TEST(SidebarView, MenusAndKeyBanners)
{
    SidebarWorkspace w;
    const QString refresh = QStringLiteral("Rafraîchir les projets");
    EXPECT_EQ(connectionMenuTitles(w.local()), QStringList{refresh});
    EXPECT_EQ(connectionMenuTitles(w.server(QStringLiteral("p1"))),
              (QStringList{refresh, QStringLiteral("Installer ma clé SSH sur ce serveur"), QString(),
                           QStringLiteral("Déconnecter")}));
    const QString reason = QStringLiteral("Aucune clé publique dans ~/.ssh sur cet ordinateur. Crée-en une avec « ssh-keygen ».");
    const std::pair<ShellResult<int>, QString> cases[] = {
        {2, QStringLiteral("2 clé(s) installée(s) : plus de mot de passe à la prochaine connexion.")},
        {ShellError{reason}, reason},
    };
    for (const auto& [result, banner] : cases)
        EXPECT_EQ(installKeyBanner(result), banner);
}

TEST(SidebarView, ConnectionsWithoutProjectsShowZeroAndTheirEmptyText)
{
    SidebarWorkspace w;
    w.server(QStringLiteral("p1"), QStringLiteral("atelier"), QStringLiteral("~/code")).setUnreachable(true);
    SidebarView sidebar(w.model);
    const struct {
        QString connId, name, empty;
        bool unreachable;
    } cases[] = {
        {QStringLiteral("local"), QStringLiteral("Cet ordinateur"),
         QStringLiteral("Aucun projet : ajoute un dossier dans les réglages."), false},
        {QStringLiteral("p1"), QStringLiteral("atelier"), QStringLiteral("Aucun projet dans ~/code"), true},
    };
    for (const auto& c : cases) {
        const QWidget* found = section(sidebar, c.connId);
        ASSERT_NE(found, nullptr);
        EXPECT_EQ(text(found, "connectionName") + u'|' + text(found, "projectCount") + u'|' + text(found, "emptyProjects"),
                  c.name + QStringLiteral("|0|") + c.empty);
        EXPECT_EQ(found->findChild<QWidget*>(QStringLiteral("unreachableMark")) != nullptr, c.unreachable);
        EXPECT_EQ(found->findChild<QToolButton*>(QStringLiteral("hiddenGroup")), nullptr);
        EXPECT_EQ(found->findChild<QToolButton*>(QStringLiteral("refreshButton"))->toolTip(),
                  QStringLiteral("Rafraîchir les projets"));
    }
}

TEST(SidebarView, AllHiddenShowsTheGroupAndNoEmptyText)
{
    SidebarWorkspace w;
    w.local().setProjects({SidebarWorkspace::project(QStringLiteral("/r/a")), SidebarWorkspace::project(QStringLiteral("/r/b"))});
    w.local().setHidden({QStringLiteral("a"), QStringLiteral("b")});
    SidebarView sidebar(w.model);
    const QWidget* local = section(sidebar, MacConnection::localID);
    EXPECT_EQ(text(local, "projectCount"), QStringLiteral("2"));
    EXPECT_EQ(local->findChild<QLabel*>(QStringLiteral("emptyProjects")), nullptr);
    EXPECT_TRUE(local->findChildren<ProjectRow*>().isEmpty());
    auto* group = local->findChild<QToolButton*>(QStringLiteral("hiddenGroup"));
    ASSERT_NE(group, nullptr);
    EXPECT_EQ(group->text(), QStringLiteral("Cachés (2)"));
    // Unfolding is the model's, so it survives the rebuild it causes.
    group->click();
    EXPECT_TRUE(w.local().hiddenExpanded());
    sidebar.rebuild();
    EXPECT_EQ(section(sidebar, MacConnection::localID)->findChildren<ProjectRow*>().size(), 2);
}

TEST(SidebarView, ServersListsUnconnectedProfilesAndAFailedConnectPostsItsId)
{
    test::TempFolder home;
    test::EnvironmentOverride environment("HOME", home.path());
    SidebarWorkspace w;
    // ssh is never started for a host it would read as an option: the connect fails at once.
    const MacProfile connected = SidebarWorkspace::profile(QStringLiteral("p1"));
    MacProfile refused = SidebarWorkspace::profile(QStringLiteral("p1733000000000000"));
    refused.host = QStringLiteral("-oProxyCommand=true");
    w.server(connected.id);
    w.model.setProfiles({connected});
    SidebarView sidebar(w.model);
    EXPECT_EQ(sidebar.findChild<QWidget*>(QStringLiteral("serversSection")), nullptr);

    w.model.setProfiles({connected, refused});
    w.model.setReconnecting({refused.id});
    sidebar.rebuild();
    QList<QPushButton*> rows = sidebar.findChildren<QPushButton*>(QStringLiteral("serverRow"));
    ASSERT_EQ(rows.size(), 1);
    EXPECT_EQ(rows[0]->property("profileId").toString(), refused.id);
    EXPECT_NE(rows[0]->findChild<QWidget*>(QStringLiteral("connectingSpinner")), nullptr);

    w.model.setReconnecting({});
    sidebar.rebuild();
    QSignalSpy posted(&AppBus::shared(), &AppBus::connectProfile);
    sidebar.findChild<QPushButton*>(QStringLiteral("serverRow"))->click();
    ASSERT_TRUE(posted.count() == 1 || posted.wait(5000));
    EXPECT_EQ(posted.at(0).at(0).toString(), refused.id);
    EXPECT_EQ(w.model.connection(refused.id), nullptr);
}

TEST(SidebarView, PickerFollowsOnlyPickerRequestsAndClosesWhenDone)
{
    SidebarWorkspace w;
    SidebarView sidebar(w.model);
    const PickerRequest first{SidebarWorkspace::project(QStringLiteral("/r/web")), MacConnection::localID, {}};
    const PickerRequest second{SidebarWorkspace::project(QStringLiteral("/r/api")), MacConnection::localID, {}};
    const auto post = [](const QVariant& object) { Q_EMIT AppBus::shared().showPicker(object); };
    const auto shown = [&] { return sidebar.picker() ? sidebar.picker()->id() : QString(); };

    for (const QVariant& foreign : {QVariant(), QVariant(first.id()), QVariant(42)})
        post(foreign);
    EXPECT_TRUE(shown().isEmpty() && sidebar.pickerSheet() == nullptr);
    post(QVariant::fromValue(first));
    QPointer<SessionPicker> firstSheet = sidebar.pickerSheet();
    ASSERT_NE(firstSheet, nullptr);
    EXPECT_EQ(firstSheet->request.id(), first.id());
    post(QVariant(QStringLiteral("ignored")));
    EXPECT_EQ(shown(), first.id());
    // A new request replaces the shown one; the replaced sheet's late done changes nothing.
    post(QVariant::fromValue(second));
    EXPECT_EQ(sidebar.pickerSheet()->request.id(), second.id());
    if (firstSheet)
        firstSheet->done();
    EXPECT_EQ(shown(), second.id());
    sidebar.pickerSheet()->done();
    EXPECT_TRUE(shown().isEmpty() && sidebar.pickerSheet() == nullptr);
    // Closed without the picker's own buttons.
    post(QVariant::fromValue(first));
    sidebar.pickerSheet()->reject();
    EXPECT_EQ(shown(), QString());
}

TEST(SidebarView, OpeningAFolderWithOtherSessionsShowsThePicker)
{
    SidebarWorkspace w;
    const MacProject web = SidebarWorkspace::project(QStringLiteral("/r/web"));
    w.answer = [&](const QString&) -> ShellResult<QString> {
        return web.session + QStringLiteral("-2|/r/web|1700000000|0|1700000100|zsh\n") + web.session
            + QStringLiteral("|/r/web|1700000000|1|1700000200|vim\nkq-other-1|/r/other|1700000000|0|1700000300|zsh\n");
    };
    SidebarView sidebar(w.model);
    sidebar.openProject(web, w.local());
    ASSERT_TRUE(QTest::qWaitFor([&] { return sidebar.picker().has_value(); }, 5000));
    EXPECT_EQ(sidebar.picker()->project, web);
    ASSERT_EQ(sidebar.picker()->sessions.size(), 2);
    EXPECT_EQ(sidebar.picker()->sessions[0].name, web.session);
    EXPECT_TRUE(w.model.tabs().isEmpty());
}

TEST(SidebarView, RebuildingKeepsTheScrollPosition)
{
    SidebarWorkspace w;
    QList<MacProject> projects;
    for (int i = 10; i < 70; ++i)
        projects << SidebarWorkspace::project(QStringLiteral("/r/p%1").arg(i));
    w.local().setProjects(projects);
    SidebarView sidebar(w.model);
    sidebar.resize(240, 300);
    sidebar.show();
    QScrollBar* bar = sidebar.scrollArea()->verticalScrollBar();
    ASSERT_TRUE(QTest::qWaitFor([&] { return bar->maximum() > 400; }, 5000));
    bar->setValue(400);
    // A change the rows read rebuilds them on the next turn.
    w.model.toggleFavorite(QStringLiteral("p30"), w.local());
    QPointer<ProjectRow> before = sidebar.findChild<ProjectRow*>();
    ASSERT_TRUE(QTest::qWaitFor([&] { return before.isNull(); }, 5000));
    EXPECT_EQ(bar->value(), 400);
}

} // namespace
} // namespace halvoren
