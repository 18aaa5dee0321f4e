// The sidebar, its project rows and the session picker over a model with a fake host: menus,
// state dots, sub-folders, empty and hidden projects, servers to connect, the picker's requests,
// detail lines, resuming, closing and starting sessions, and the scroll position across rebuilds.
#include "ui/ProjectRow.h"
#include "ui/SessionPicker.h"
#include "ui/SidebarView.h"

#include "ViewsWorkspace.h"
#include "ui/AppBus.h"

#include <QLabel>
#include <QMenu>
#include <QPushButton>
#include <QScrollArea>
#include <QScrollBar>
#include <QSignalSpy>
#include <QTest>
#include <QToolButton>

namespace halvoren {
namespace {

using test::ViewsWorkspace;

const MacProject web = ViewsWorkspace::project(QStringLiteral("/r/web"));

TEST(ProjectRow, MenuFollowsDepthAndConnection)
{
    const QString common = QStringLiteral("Ouvrir|Ouvrir une autre session ici|Sessions de ce dossier…");
    const struct {
        bool server;
        int depth;
        bool favoriteAndHidden;
        const char* rest;
    } cases[] = {
        {false, 0, false, "|—|Ajouter aux favoris|Masquer|—|Afficher dans le gestionnaire de fichiers"},
        // A sub-folder named like a favourite still offers neither favourite nor hiding.
        {false, 1, true, "|—|Afficher dans le gestionnaire de fichiers"},
        {true, 0, false, "|—|Ajouter aux favoris|Masquer"},
        {true, 0, true, "|—|Retirer des favoris|Afficher"},
        {true, 2, true, ""},
    };
    for (const auto& c : cases) {
        ViewsWorkspace w;
        MacConnection& connection = c.server ? w.server(QStringLiteral("p1")) : w.local();
        if (c.favoriteAndHidden) {
            connection.setFavorites({web.name});
            connection.setHidden({web.name});
        }
        QStringList titles;
        for (const RowMenuItem& item : ProjectRow(w.model, web, connection, c.depth, {}).menuItems())
            titles << (item.action == RowAction::divider ? QStringLiteral("—") : item.title);
        EXPECT_EQ(titles.join(u'|'), common + QString::fromUtf8(c.rest)) << c.server << " depth " << c.depth;
    }
}

TEST(ProjectRow, AttentionOutweighsOpenAndOnlyThisConnectionsTabsCount)
{
    using Setup = std::function<void(ViewsWorkspace&, MacConnection& here, MacConnection& there)>;
    const struct {
        const char* label;
        Setup setup;
        int depth;
        const char* folder;
        StateDot dot;
        bool active, star;
    } cases[] = {
        {"nothing", [](auto&, auto&, auto&) {}, 0, "folder", StateDot::none, false, false},
        {"live on the host without a tab", [](auto&, auto& here, auto&) { here.setLiveSessions({web.session}); }, 0,
         "folder.fill", StateDot::live, false, false},
        {"open tab whose command finished", [](auto& w, auto& here, auto&) { w.open(here, web).setAttention(true); },
         0, "folder.fill", StateDot::attention, false, false},
        {"active tab", [](auto& w, auto& here, auto&) { w.model.activate(w.open(here, web)); }, 0, "folder.fill",
         StateDot::live, true, false},
        {"active tab of the same session elsewhere",
         [](auto& w, auto&, auto& there) {
             MacTab& tab = w.open(there, web);
             w.model.activate(tab);
             tab.setAttention(true);
         },
         0, "folder", StateDot::none, false, false},
        {"favourite at the top", [](auto&, auto& here, auto&) { here.setFavorites({web.name}); }, 0, "folder",
         StateDot::none, false, true},
        {"favourite name as a sub-folder", [](auto&, auto& here, auto&) { here.setFavorites({web.name}); }, 1,
         "folder", StateDot::none, false, false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.label);
        ViewsWorkspace w;
        c.setup(w, w.local(), w.server(QStringLiteral("p1")));
        const ProjectRowState state = projectRowState(w.model, web, w.local(), c.depth);
        EXPECT_EQ(folderSymbol(state), QString::fromUtf8(c.folder));
        EXPECT_EQ(stateDot(state), c.dot);
        EXPECT_EQ(state.active, c.active);
        EXPECT_EQ(state.favorite, c.star);
    }
}

TEST(ProjectRow, SubFoldersAndTheEmptyTextAppearOnlyOnceListed)
{
    const MacProject api = ViewsWorkspace::project(QStringLiteral("/r/web/api"));
    ViewsWorkspace w;
    MacConnection& local = w.local();
    local.insertExpanded(web.path);
    // Expanded, listing not back yet: the line alone.
    EXPECT_EQ(ProjectRow(w.model, web, local, 0, {}).findChildren<QWidget*>().size(), 1);
    local.storeSubprojects(web.path, {});
    const auto emptyIndent = [](const QWidget& row) {
        const auto* empty = row.findChild<QLabel*>(QStringLiteral("emptySubfolders"));
        return empty && empty->text() == QStringLiteral("Aucun sous-dossier") ? empty->contentsMargins().left() : -1;
    };
    EXPECT_EQ(emptyIndent(ProjectRow(w.model, web, local, 0, {})), 36);
    local.storeSubprojects(web.path, {api});
    local.insertExpanded(api.path);
    local.storeSubprojects(api.path, {});
    ProjectRow row(w.model, web, local, 0, {});
    const QList<ProjectRow*> children = row.findChildren<ProjectRow*>(Qt::FindDirectChildrenOnly);
    ASSERT_EQ(children.size(), 1);
    EXPECT_EQ(children[0]->project, api);
    EXPECT_EQ(emptyIndent(*children[0]), 50);
}

TEST(ProjectRow, ChevronExpandsTheLineOpensAndTheMenuOutlivesTheRow)
{
    ViewsWorkspace w;
    QList<MacProject> opened;
    QWidget window;
    auto* row = new ProjectRow(w.model, web, w.local(), 1, [&](const MacProject& p) { opened << p; }, &window);
    row->resize(240, row->sizeHint().height());
    window.show();
    const int middle = row->line()->height() / 2;
    QTest::mouseClick(row->line(), Qt::LeftButton, {}, QPoint(rowLeadingPad(1) + 6, middle));
    EXPECT_TRUE(w.local().expanded().contains(web.path));
    EXPECT_TRUE(opened.isEmpty());
    QTest::mouseClick(row->line(), Qt::LeftButton, {}, QPoint(120, middle));
    EXPECT_EQ(opened, QList<MacProject>{web});
    // The sidebar may rebuild (and drop the row) while its menu is up.
    QMenu* menu = row->makeMenu(&window);
    delete row;
    menu->actions().front()->trigger();
    EXPECT_EQ(opened.size(), 2);
    // Without a file manager to ask, the parent folder opens.
    std::optional<QUrl> shown;
    revealInFileManager(QStringLiteral("/r/client/web/"), QDBusConnection(QStringLiteral("no-bus")),
                        [&](const QUrl& folder) { shown = folder; });
    EXPECT_EQ(shown, QUrl::fromLocalFile(QStringLiteral("/r/client")));
}

TEST(ProjectRow, SessionsOfTheFolderAlwaysPostThePicker)
{
    // The host's answer to the listing (nothing: it failed) and the sessions the picker gets.
    const std::pair<std::optional<QString>, qsizetype> cases[] = {
        {QString(), 0}, {std::nullopt, 0}, {web.session + QStringLiteral("|/r/web|1700000000|2|1700000100|vim\n"), 1}};
    for (const auto& [output, count] : cases) {
        ViewsWorkspace w;
        w.answer = [&](const QString&) -> ShellResult<QString> {
            return output ? ShellResult<QString>(*output) : ShellError{QStringLiteral("injoignable")};
        };
        QSignalSpy posted(&AppBus::shared(), &AppBus::showPicker);
        ProjectRow(w.model, web, w.local(), 0, {}).trigger(RowAction::listSessions);
        ASSERT_TRUE(posted.count() == 1 || posted.wait(5000));
        const QVariant object = posted.at(0).at(0);
        ASSERT_EQ(object.metaType(), QMetaType::fromType<PickerRequest>());
        const auto request = object.value<PickerRequest>();
        EXPECT_EQ(request.project, web);
        EXPECT_EQ(request.connId, MacConnection::localID);
        EXPECT_EQ(request.sessions.size(), count);
    }
}

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
    ViewsWorkspace w;
    const QString refresh = QStringLiteral("Rafraîchir les projets");
    EXPECT_EQ(connectionMenuTitles(w.local()), QStringList{refresh});
    EXPECT_EQ(connectionMenuTitles(w.server(QStringLiteral("p1"))),
              (QStringList{refresh, QStringLiteral("Installer ma clé SSH sur ce serveur"), QString(),
                           QStringLiteral("Déconnecter")}));
    const QString reason = QStringLiteral("Aucune clé publique dans ~/.ssh sur cet ordinateur. Crée-en une avec « ssh-keygen ».");
    EXPECT_EQ(installKeyBanner(2), QStringLiteral("2 clé(s) installée(s) : plus de mot de passe à la prochaine connexion."));
    EXPECT_EQ(installKeyBanner(ShellError{reason}), reason);
}

TEST(SidebarView, EmptyConnectionsShowZeroAndTheirTextAllHiddenShowsOnlyTheGroup)
{
    ViewsWorkspace w;
    w.server(QStringLiteral("p1"), QStringLiteral("atelier"), QStringLiteral("~/code")).setUnreachable(true);
    w.server(QStringLiteral("p2")).setProjects({ViewsWorkspace::project(QStringLiteral("/r/a")), web});
    w.model.connection(QStringLiteral("p2"))->setHidden({QStringLiteral("a"), web.name});
    SidebarView sidebar(w.model);
    for (const auto& [connId, expected, unreachable] :
         {std::tuple{"local", "Cet ordinateur|0|Aucun projet : ajoute un dossier dans les réglages.", false},
          {"p1", "atelier|0|Aucun projet dans ~/code", true}}) {
        const QWidget* found = section(sidebar, QString::fromLatin1(connId));
        ASSERT_NE(found, nullptr);
        EXPECT_EQ(text(found, "connectionName") + u'|' + text(found, "projectCount") + u'|' + text(found, "emptyProjects"),
                  QString::fromUtf8(expected));
        EXPECT_EQ(found->findChild<QWidget*>(QStringLiteral("unreachableMark")) != nullptr, unreachable);
        EXPECT_EQ(found->findChild<QToolButton*>(QStringLiteral("hiddenGroup")), nullptr);
    }
    const QWidget* hidden = section(sidebar, QStringLiteral("p2"));
    EXPECT_EQ(text(hidden, "projectCount") + text(hidden, "emptyProjects"), QStringLiteral("2<none>"));
    EXPECT_TRUE(hidden->findChildren<ProjectRow*>().isEmpty());
    auto* group = hidden->findChild<QToolButton*>(QStringLiteral("hiddenGroup"));
    ASSERT_NE(group, nullptr);
    EXPECT_EQ(group->text(), QStringLiteral("Cachés (2)"));
    // Unfolding is the model's, so it survives the rebuild it causes.
    group->click();
    sidebar.rebuild();
    EXPECT_EQ(section(sidebar, QStringLiteral("p2"))->findChildren<ProjectRow*>().size(), 2);
}

TEST(SidebarView, ServersListsUnconnectedProfilesAndAFailedConnectPostsItsId)
{
    ViewsWorkspace w;
    // ssh is never started for a host it would read as an option: the connect fails at once.
    const MacProfile connected = ViewsWorkspace::profile(QStringLiteral("p1"));
    const MacProfile refused = ViewsWorkspace::profile(QStringLiteral("p1733000000000000"), QStringLiteral("-oProxyCommand=true"));
    w.connect(connected);
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
    ViewsWorkspace w;
    SidebarView sidebar(w.model);
    const PickerRequest first{web, MacConnection::localID, {}};
    const PickerRequest second{ViewsWorkspace::project(QStringLiteral("/r/api")), MacConnection::localID, {}};
    const auto post = [](const QVariant& object) { Q_EMIT AppBus::shared().showPicker(object); };
    const auto shown = [&] { return sidebar.picker() ? sidebar.picker()->id() : QString(); };
    for (const QVariant& foreign : {QVariant(), QVariant(first.id()), QVariant(42)})
        post(foreign);
    EXPECT_TRUE(shown().isEmpty() && sidebar.pickerSheet() == nullptr);
    post(QVariant::fromValue(first));
    QPointer<SessionPicker> firstSheet = sidebar.pickerSheet();
    ASSERT_NE(firstSheet, nullptr);
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
    ViewsWorkspace w;
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
    ViewsWorkspace w;
    QList<MacProject> projects;
    for (int i = 10; i < 70; ++i)
        projects << ViewsWorkspace::project(QStringLiteral("/r/p%1").arg(i));
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

TEST(SessionDetail, NamesTheCommandTheLastActivityInFrenchAndTheClients)
{
    const QDateTime now(QDate(2026, 3, 2), QTime(9, 0), Qt::UTC);
    for (const auto& [command, attached, secondsAgo, expected] :
         {std::tuple<const char*, qint64, qint64, const char*>{"vim", 0, 300, "vim · active il y a 5 minutes"},
          {"zsh", 2, 86400 + 600, "zsh · active hier · 2 appareil(s)"},
          {"", 1, 10799, " · active il y a 2 heures · 1 appareil(s)"},
          {"htop", -1, 9 * 86400, "htop · active la semaine dernière"},
          {"top", 3, 61 * 86400, "top · active il y a 2 mois · 3 appareil(s)"}}) {
        FolderSession session;
        session.attached = attached;
        session.lastActivity = now.addSecs(-secondsAgo);
        session.command = QString::fromUtf8(command);
        EXPECT_EQ(sessionDetailLine(session, now, QStringLiteral("fr_FR")), QString::fromUtf8(expected));
    }
}

struct SessionPickerSheet : test::TabViewsWorkspace, testing::Test {
    QString path = folder.file(QStringLiteral("app"));
    QString name = QStringLiteral("kq-app-1a2b");
    int doneCalls = 0;

    std::unique_ptr<SessionPicker> open(const QString& connId, const QStringList& names)
    {
        PickerRequest request{{QStringLiteral("app"), path, name}, connId, {}};
        for (const QString& session : names) {
            request.sessions.append(FolderSession());
            request.sessions.back().name = session;
        }
        auto sheet = std::make_unique<SessionPicker>(model, request, [this] { ++doneCalls; }, nullptr);
        sheet->open();
        return sheet;
    }
    // "resume" or "trash" of a session's row.
    static void press(SessionPicker& sheet, const QString& session, const QString& button)
    {
        sheet.findChild<QWidget*>(session)->findChild<QAbstractButton*>(button)->click();
    }
};

TEST_F(SessionPickerSheet, ResumingOpensOrActivatesTheChosenSessionThenCloses)
{
    const QString numbered = name + QStringLiteral("-2");
    auto sheet = open(MacConnection::localID, {numbered, name});
    press(*sheet, numbered, QStringLiteral("resume"));
    ASSERT_EQ(model.tabs().size(), 1);
    const MacTab& resumed = *model.tabs().front();
    EXPECT_EQ(resumed.project, (MacProject{QStringLiteral("app"), path, numbered}));
    EXPECT_TRUE(doneCalls == 1 && !sheet->isVisible());
    // Again, while another tab is active: the open tab comes forward.
    model.activate(ViewsWorkspace::open(local(), QStringLiteral("/r/other")));
    press(*open(MacConnection::localID, {numbered}), numbered, QStringLiteral("resume"));
    EXPECT_EQ(model.tabs().size(), 2);
    EXPECT_EQ(model.activeTabID(), resumed.id());
    EXPECT_EQ(doneCalls, 2);
}

TEST_F(SessionPickerSheet, ClosingTheLastSessionKeepsTheSheetOpenWithAnEmptyList)
{
    auto sheet = open(MacConnection::localID, {name});
    local().setLiveSessions({name});
    press(*sheet, name, QStringLiteral("trash"));
    QCoreApplication::processEvents();
    EXPECT_EQ(scripts.filter(QStringLiteral("tmux kill-session -t '=kq-app-1a2b'")).size(), 1);
    EXPECT_EQ(scripts.filter(QStringLiteral("list-sessions")).size(), 1);
    EXPECT_TRUE(sheet->request.sessions.isEmpty() && local().liveSessions().isEmpty());
    EXPECT_TRUE(sheet->isVisible());
    EXPECT_EQ(doneCalls, 0);
}

TEST_F(SessionPickerSheet, ReturnStartsANewSessionBesideTheTakenOnes)
{
    auto sheet = open(MacConnection::localID, {name});
    local().setLiveSessions({tmuxSessionName(path)});
    QTest::keyClick(sheet.get(), Qt::Key_Return);
    ASSERT_EQ(model.tabs().size(), 1);
    EXPECT_EQ(model.tabs().front()->project,
              (MacProject{QStringLiteral("app (2)"), path, tmuxSessionName(path) + QStringLiteral("-2")}));
    EXPECT_EQ(doneCalls, 1);
}

TEST_F(SessionPickerSheet, AVanishedServerLeavesOnlyCancelWorking)
{
    auto sheet = open(QStringLiteral("p-gone"), {name});
    press(*sheet, name, QStringLiteral("resume"));
    press(*sheet, name, QStringLiteral("trash"));
    QTest::keyClick(sheet.get(), Qt::Key_Return);
    QCoreApplication::processEvents();
    EXPECT_TRUE(model.tabs().isEmpty() && scripts.isEmpty() && sheet->isVisible());
    EXPECT_EQ(doneCalls, 0);
    QTest::keyClick(sheet.get(), Qt::Key_Escape);
    EXPECT_TRUE(doneCalls == 1 && !sheet->isVisible());
}

} // namespace
} // namespace halvoren
