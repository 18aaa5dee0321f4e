// The sidebar over a model with a fake host: section headers, empty and hidden projects, the
// servers to connect, the failed connect's notification, the key banner, opening a project
// into the picker, the picker notification and the scroll position across rebuilds.
#include "ui/SidebarView.h"

#include "SidebarWorkspace.h"
#include "ui/AppBus.h"
#include "ui/SessionPicker.h"

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
        if (found->isVisibleTo(sidebar.scrollArea()->widget()) && found->property("connectionId").toString() == connId)
            return found;
    }
    return nullptr;
}

QString labelText(const QWidget* parent, const QString& name)
{
    const auto* label = parent->findChild<QLabel*>(name);
    return label ? label->text() : QStringLiteral("<none>");
}

TEST(SidebarTexts, NameEmptyTextAndMenuOfEachKindOfConnection)
{
    SidebarWorkspace w;
    MacConnection& server = w.server(QStringLiteral("p1"), QStringLiteral("atelier"), QStringLiteral("~/code"));
    EXPECT_EQ(connectionName(w.local()), QStringLiteral("Cet ordinateur"));
    EXPECT_EQ(connectionName(server), QStringLiteral("atelier"));
    EXPECT_EQ(emptyProjectsText(w.local()), QStringLiteral("Aucun projet : ajoute un dossier dans les réglages."));
    EXPECT_EQ(emptyProjectsText(server), QStringLiteral("Aucun projet dans ~/code"));
    EXPECT_EQ(connectionMenuTitles(w.local()), QStringList{QStringLiteral("Rafraîchir les projets")});
    EXPECT_EQ(connectionMenuTitles(server),
              (QStringList{QStringLiteral("Rafraîchir les projets"), QStringLiteral("Installer ma clé SSH sur ce serveur"),
                           QString(), QStringLiteral("Déconnecter")}));
}

TEST(SidebarTexts, InstallKeyBannerGivesTheCountOrTheReason)
{
    const QString reason = QStringLiteral("Aucune clé publique dans ~/.ssh sur cet ordinateur. Crée-en une avec « ssh-keygen ».");
    const struct {
        ShellResult<int> result;
        QString banner;
    } cases[] = {
        {2, QStringLiteral("2 clé(s) installée(s) : plus de mot de passe à la prochaine connexion.")},
        {1, QStringLiteral("1 clé(s) installée(s) : plus de mot de passe à la prochaine connexion.")},
        {ShellError{reason}, reason},
    };
    for (const auto& c : cases)
        EXPECT_EQ(installKeyBanner(c.result), c.banner);
}

TEST(SidebarView, ConnectionWithoutProjectsShowsZeroAndItsEmptyText)
{
    SidebarWorkspace w;
    w.server(QStringLiteral("p1"), QStringLiteral("atelier"), QStringLiteral("~/code"));
    SidebarView sidebar(w.model);
    const struct {
        QString connId, name, empty;
    } cases[] = {
        {QStringLiteral("local"), QStringLiteral("Cet ordinateur"),
         QStringLiteral("Aucun projet : ajoute un dossier dans les réglages.")},
        {QStringLiteral("p1"), QStringLiteral("atelier"), QStringLiteral("Aucun projet dans ~/code")},
    };
    for (const auto& c : cases) {
        const QWidget* found = section(sidebar, c.connId);
        ASSERT_NE(found, nullptr);
        EXPECT_EQ(labelText(found, QStringLiteral("connectionName")), c.name);
        EXPECT_EQ(labelText(found, QStringLiteral("projectCount")), QStringLiteral("0"));
        EXPECT_EQ(labelText(found, QStringLiteral("emptyProjects")), c.empty);
        EXPECT_EQ(found->findChild<QToolButton*>(QStringLiteral("hiddenGroup")), nullptr);
        EXPECT_TRUE(found->findChildren<ProjectRow*>().isEmpty());
        EXPECT_EQ(found->findChild<QToolButton*>(QStringLiteral("refreshButton"))->toolTip(),
                  QStringLiteral("Rafraîchir les projets"));
    }
}

TEST(SidebarView, AllHiddenShowsTheGroupAndNoEmptyText)
{
    SidebarWorkspace w;
    const QList<MacProject> projects{SidebarWorkspace::project(QStringLiteral("/r/a")),
                                     SidebarWorkspace::project(QStringLiteral("/r/b"))};
    w.local().setProjects(projects);
    w.local().setHidden({QStringLiteral("a"), QStringLiteral("b")});
    SidebarView sidebar(w.model);
    const QWidget* local = section(sidebar, MacConnection::localID);
    ASSERT_NE(local, nullptr);
    EXPECT_EQ(labelText(local, QStringLiteral("projectCount")), QStringLiteral("2"));
    EXPECT_EQ(local->findChild<QLabel*>(QStringLiteral("emptyProjects")), nullptr);
    EXPECT_TRUE(local->findChildren<ProjectRow*>().isEmpty());
    auto* group = local->findChild<QToolButton*>(QStringLiteral("hiddenGroup"));
    ASSERT_NE(group, nullptr);
    EXPECT_EQ(group->text(), QStringLiteral("Cachés (2)"));

    // Unfolding is the model's: it survives the rebuild it causes.
    group->click();
    EXPECT_TRUE(w.local().hiddenExpanded());
    sidebar.rebuild();
    local = section(sidebar, MacConnection::localID);
    EXPECT_EQ(local->findChildren<ProjectRow*>().size(), 2);
}

TEST(SidebarView, UnreachableServerKeepsItsRowsAndFoldsWithTheModel)
{
    SidebarWorkspace w;
    MacConnection& server = w.server(QStringLiteral("p1"));
    server.setProjects({SidebarWorkspace::project(QStringLiteral("/srv/web"))});
    server.setUnreachable(true);
    SidebarView sidebar(w.model);
    const QWidget* found = section(sidebar, QStringLiteral("p1"));
    EXPECT_NE(found->findChild<QWidget*>(QStringLiteral("unreachableMark")), nullptr);
    EXPECT_EQ(found->findChildren<ProjectRow*>().size(), 1);
    EXPECT_EQ(section(sidebar, MacConnection::localID)->findChild<QWidget*>(QStringLiteral("unreachableMark")), nullptr);
    server.setSectionExpanded(false);
    sidebar.rebuild();
    EXPECT_TRUE(section(sidebar, QStringLiteral("p1"))->findChildren<ProjectRow*>().isEmpty());
}

TEST(SidebarView, ServersSectionListsOnlyUnconnectedProfilesWithASpinnerWhileConnecting)
{
    SidebarWorkspace w;
    MacProfile connected;
    connected.id = QStringLiteral("p1");
    MacProfile waiting;
    waiting.id = QStringLiteral("p2");
    waiting.name = QStringLiteral("atelier");
    w.server(connected.id);
    w.model.setProfiles({connected});
    SidebarView sidebar(w.model);
    EXPECT_EQ(sidebar.findChild<QWidget*>(QStringLiteral("serversSection")), nullptr);

    w.model.setProfiles({connected, waiting});
    w.model.setReconnecting({waiting.id});
    sidebar.rebuild();
    const QList<QPushButton*> rows = sidebar.findChildren<QPushButton*>(QStringLiteral("serverRow"));
    ASSERT_EQ(rows.size(), 1);
    EXPECT_EQ(rows[0]->property("profileId").toString(), waiting.id);
    EXPECT_NE(rows[0]->findChild<QWidget*>(QStringLiteral("connectingSpinner")), nullptr);
    EXPECT_EQ(labelText(sidebar.findChild<QWidget*>(QStringLiteral("serversSection")), QStringLiteral("serversHeader")),
              QStringLiteral("Serveurs"));
}

TEST(SidebarView, FailedConnectPostsExactlyTheProfileId)
{
    test::TempFolder home;
    test::EnvironmentOverride environment("HOME", home.path());
    SidebarWorkspace w;
    MacProfile profile;
    // ssh is never started for a host it would read as an option: the connect fails at once.
    profile.id = QStringLiteral("p1733000000000000");
    profile.host = QStringLiteral("-oProxyCommand=true");
    w.model.setProfiles({profile});
    SidebarView sidebar(w.model);
    QSignalSpy posted(&AppBus::shared(), &AppBus::connectProfile);
    const QList<QPushButton*> rows = sidebar.findChildren<QPushButton*>(QStringLiteral("serverRow"));
    ASSERT_EQ(rows.size(), 1);
    rows[0]->click();
    ASSERT_TRUE(posted.count() == 1 || posted.wait(5000));
    EXPECT_EQ(posted.at(0).at(0).toString(), profile.id);
    EXPECT_TRUE(w.model.reconnecting().isEmpty());
    EXPECT_EQ(w.model.connection(profile.id), nullptr);
}

TEST(SidebarView, PickerFollowsOnlyPickerRequestsAndClosesWhenDone)
{
    SidebarWorkspace w;
    SidebarView sidebar(w.model);
    const PickerRequest first{SidebarWorkspace::project(QStringLiteral("/r/web")), MacConnection::localID, {}};
    PickerRequest second = first;
    second.project = SidebarWorkspace::project(QStringLiteral("/r/api"));

    for (const QVariant& foreign : {QVariant(), QVariant(first.id()), QVariant(42)}) {
        Q_EMIT AppBus::shared().showPicker(foreign);
        EXPECT_FALSE(sidebar.picker());
        EXPECT_EQ(sidebar.pickerSheet(), nullptr);
    }
    Q_EMIT AppBus::shared().showPicker(QVariant::fromValue(first));
    ASSERT_TRUE(sidebar.picker());
    EXPECT_EQ(sidebar.picker()->id(), first.id());
    QPointer<SessionPicker> firstSheet = sidebar.pickerSheet();
    ASSERT_NE(firstSheet, nullptr);
    EXPECT_EQ(firstSheet->request.id(), first.id());
    Q_EMIT AppBus::shared().showPicker(QVariant(QStringLiteral("ignored")));
    EXPECT_EQ(sidebar.picker()->id(), first.id());

    // A new request replaces the shown one; the replaced sheet's late done changes nothing.
    Q_EMIT AppBus::shared().showPicker(QVariant::fromValue(second));
    EXPECT_EQ(sidebar.picker()->id(), second.id());
    ASSERT_NE(sidebar.pickerSheet(), nullptr);
    EXPECT_EQ(sidebar.pickerSheet()->request.id(), second.id());
    if (firstSheet)
        firstSheet->done();
    EXPECT_EQ(sidebar.picker()->id(), second.id());

    sidebar.pickerSheet()->done();
    EXPECT_FALSE(sidebar.picker());
    EXPECT_EQ(sidebar.pickerSheet(), nullptr);

    // Closed without the picker's buttons (Escape, the window's close).
    Q_EMIT AppBus::shared().showPicker(QVariant::fromValue(first));
    sidebar.pickerSheet()->reject();
    EXPECT_FALSE(sidebar.picker());
}

TEST(SidebarView, OpeningAFolderWithOtherSessionsShowsThePicker)
{
    SidebarWorkspace w;
    const MacProject project = SidebarWorkspace::project(QStringLiteral("/r/web"));
    w.local().setProjects({project});
    w.answer = [&](const QString&) -> ShellResult<QString> {
        return project.session + QStringLiteral("-2|/r/web|1700000000|0|1700000100|zsh\n") + project.session
            + QStringLiteral("|/r/web|1700000000|1|1700000200|vim\n")
            + QStringLiteral("kq-other-1|/r/other|1700000000|0|1700000300|zsh\n");
    };
    SidebarView sidebar(w.model);
    sidebar.openProject(project, w.local());
    ASSERT_TRUE(QTest::qWaitFor([&] { return sidebar.picker().has_value(); }, 5000));
    EXPECT_EQ(sidebar.picker()->project, project);
    ASSERT_EQ(sidebar.picker()->sessions.size(), 2);
    // Most recently active first.
    EXPECT_EQ(sidebar.picker()->sessions[0].name, project.session);
    EXPECT_TRUE(w.model.tabs().isEmpty());
}

TEST(SidebarView, RebuildingKeepsTheScrollPosition)
{
    SidebarWorkspace w;
    QList<MacProject> projects;
    for (int i = 0; i < 60; ++i)
        projects << SidebarWorkspace::project(QStringLiteral("/r/p%1").arg(i, 2, 10, QLatin1Char('0')));
    w.local().setProjects(projects);
    SidebarView sidebar(w.model);
    sidebar.resize(240, 300);
    sidebar.show();
    QScrollBar* bar = sidebar.scrollArea()->verticalScrollBar();
    ASSERT_TRUE(QTest::qWaitFor([&] { return bar->maximum() > 400; }, 5000));
    bar->setValue(400);
    // A change the rows read, from the model, rebuilds them on the next turn.
    w.model.toggleFavorite(QStringLiteral("p30"), w.local());
    QPointer<ProjectRow> before = sidebar.findChild<ProjectRow*>();
    ASSERT_TRUE(QTest::qWaitFor([&] { return before.isNull(); }, 5000));
    QCoreApplication::processEvents();
    EXPECT_EQ(bar->value(), 400);
}

} // namespace
} // namespace halvoren
