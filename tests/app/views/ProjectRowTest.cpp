// Project rows over a model with a fake host: the menu per depth and connection, what the line
// shows (dot precedence, open folder, active name), where "Aucun sous-dossier" sits, the
// session listing that always posts the picker, and the file manager's fallback.
#include "ui/ProjectRow.h"

#include "SidebarWorkspace.h"
#include "app/support/ParamName.h"
#include "ui/AppBus.h"

#include <QLabel>
#include <QMenu>
#include <QTest>
#include <QSignalSpy>

#include <gtest/gtest.h>

namespace halvoren {
namespace {

using test::SidebarWorkspace;

QString titles(const QList<RowMenuItem>& items)
{
    QStringList out;
    for (const RowMenuItem& item : items)
        out << (item.action == RowAction::divider ? QStringLiteral("—") : item.title);
    return out.join(u'|');
}

struct MenuCase {
    const char* label;
    bool server;
    int depth;
    bool favorite;
    bool hidden;
    const char* expected;
};

void PrintTo(const MenuCase& c, std::ostream* out) { *out << c.label; }

class ProjectRowMenu : public testing::TestWithParam<MenuCase> {};

TEST_P(ProjectRowMenu, OffersTheActionsOfItsDepthAndConnection)
{
    const MenuCase& c = GetParam();
    SidebarWorkspace w;
    MacConnection& connection = c.server ? w.server(QStringLiteral("p1")) : w.local();
    const MacProject project = SidebarWorkspace::project(QStringLiteral("/r/web"));
    if (c.favorite)
        connection.setFavorites({project.name});
    if (c.hidden)
        connection.setHidden({project.name});
    ProjectRow row(w.model, project, connection, c.depth, {});
    EXPECT_EQ(titles(row.menuItems()), QString::fromUtf8(c.expected));
}

INSTANTIATE_TEST_SUITE_P(
    Rows, ProjectRowMenu,
    testing::Values(
        MenuCase{"local root project", false, 0, false, false,
                 "Ouvrir|Ouvrir une autre session ici|Sessions de ce dossier…|—|Ajouter aux favoris|Masquer|—|"
                 "Afficher dans le gestionnaire de fichiers"},
        MenuCase{"local sub folder named like a favourite", false, 1, true, false,
                 "Ouvrir|Ouvrir une autre session ici|Sessions de ce dossier…|—|"
                 "Afficher dans le gestionnaire de fichiers"},
        MenuCase{"server project", true, 0, false, false,
                 "Ouvrir|Ouvrir une autre session ici|Sessions de ce dossier…|—|Ajouter aux favoris|Masquer"},
        MenuCase{"hidden server favourite", true, 0, true, true,
                 "Ouvrir|Ouvrir une autre session ici|Sessions de ce dossier…|—|Retirer des favoris|Afficher"},
        MenuCase{"server sub folder", true, 2, true, true,
                 "Ouvrir|Ouvrir une autre session ici|Sessions de ce dossier…"}),
    test::ParamName());

TEST(ProjectRowState, AttentionOutweighsOpenAndOnlyThisConnectionsActiveTabCounts)
{
    const QString path = QStringLiteral("/r/web");
    // What is set up on this connection (here) and on another one with a tab of the same
    // session (there), and what the line shows.
    enum Setup { nothing, liveOnHost, tabHere, tabHereWithAttention, activeHere, activeThereWithAttention };
    const struct {
        Setup setup;
        const char* folder;
        StateDot dot;
        bool active;
    } cases[] = {
        {nothing, "folder", StateDot::none, false},
        {liveOnHost, "folder.fill", StateDot::live, false},
        {tabHere, "folder.fill", StateDot::live, false},
        {tabHereWithAttention, "folder.fill", StateDot::attention, false},
        {activeHere, "folder.fill", StateDot::live, true},
        {activeThereWithAttention, "folder", StateDot::none, false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::Message() << "setup " << int(c.setup));
        SidebarWorkspace w;
        MacConnection& here = w.local();
        MacConnection& there = w.server(QStringLiteral("p1"));
        const MacProject project = SidebarWorkspace::project(path);
        switch (c.setup) {
        case nothing:
            break;
        case liveOnHost:
            here.setLiveSessions({project.session});
            break;
        case tabHere:
            w.open(here, project);
            break;
        case tabHereWithAttention:
            w.open(here, project).setAttention(true);
            break;
        case activeHere:
            w.model.activate(w.open(here, project));
            break;
        case activeThereWithAttention: {
            MacTab& tab = w.open(there, project);
            w.model.activate(tab);
            tab.setAttention(true);
            break;
        }
        }
        const ProjectRowState state = projectRowState(w.model, project, here, 0);
        EXPECT_EQ(folderSymbol(state), QString::fromUtf8(c.folder));
        EXPECT_EQ(stateDot(state), c.dot);
        EXPECT_EQ(state.active, c.active);
    }
}

TEST(ProjectRowState, StarAndGitFollowTheConnection)
{
    SidebarWorkspace w;
    const MacProject project = SidebarWorkspace::project(QStringLiteral("/r/web"));
    w.local().setFavorites({project.name});
    w.local().setGitInfo({{project.path, GitInfo{QStringLiteral("main"), true}}});
    EXPECT_TRUE(projectRowState(w.model, project, w.local(), 0).favorite);
    EXPECT_FALSE(projectRowState(w.model, project, w.local(), 1).favorite);
    EXPECT_EQ(projectRowState(w.model, project, w.local(), 0).git, (GitInfo{QStringLiteral("main"), true}));
    // The same path on another host has its own state.
    MacConnection& other = w.server(QStringLiteral("p1"));
    const ProjectRowState elsewhere = projectRowState(w.model, project, other, 0);
    EXPECT_FALSE(elsewhere.favorite);
    EXPECT_FALSE(elsewhere.git);
}

TEST(ProjectRow, SubFoldersAndTheEmptyTextAppearOnlyOnceListed)
{
    const MacProject top = SidebarWorkspace::project(QStringLiteral("/r/web"));
    const MacProject child = SidebarWorkspace::project(QStringLiteral("/r/web/api"));
    SidebarWorkspace w;
    MacConnection& local = w.local();
    local.insertExpanded(top.path);
    {
        // Expanded but not listed yet: the line alone.
        ProjectRow row(w.model, top, local, 0, {});
        EXPECT_TRUE(row.state()->expanded);
        EXPECT_TRUE(row.findChildren<ProjectRow*>().isEmpty());
        EXPECT_EQ(row.findChild<QLabel*>(), nullptr);
    }
    local.storeSubprojects(top.path, {});
    {
        ProjectRow row(w.model, top, local, 0, {});
        const auto* empty = row.findChild<QLabel*>(QStringLiteral("emptySubfolders"));
        ASSERT_NE(empty, nullptr);
        EXPECT_EQ(empty->text(), QStringLiteral("Aucun sous-dossier"));
        EXPECT_EQ(empty->contentsMargins().left(), 36);
    }
    local.storeSubprojects(top.path, {child});
    local.insertExpanded(child.path);
    local.storeSubprojects(child.path, {});
    ProjectRow row(w.model, top, local, 0, {});
    const QList<ProjectRow*> children = row.findChildren<ProjectRow*>(Qt::FindDirectChildrenOnly);
    ASSERT_EQ(children.size(), 1);
    EXPECT_EQ(children[0]->depth, 1);
    EXPECT_EQ(children[0]->project, child);
    const auto* empty = children[0]->findChild<QLabel*>(QStringLiteral("emptySubfolders"));
    ASSERT_NE(empty, nullptr);
    EXPECT_EQ(empty->contentsMargins().left(), 50);
    EXPECT_EQ(rowLeadingPad(2), 28);
}

TEST(ProjectRow, SessionsOfTheFolderAlwaysPostThePicker)
{
    const MacProject project = SidebarWorkspace::project(QStringLiteral("/r/web"));
    const QString line = project.session + QStringLiteral("|/r/web|1700000000|2|1700000100|vim\n");
    // What the host answers to the listing, and how many sessions the picker gets.
    const struct {
        const char* label;
        std::optional<QString> output;
        qsizetype sessions;
    } cases[] = {
        {"no session", QString(), 0},
        {"listing failed", std::nullopt, 0},
        {"one session", line, 1},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.label);
        SidebarWorkspace w;
        w.answer = [&](const QString&) -> ShellResult<QString> {
            if (c.output)
                return *c.output;
            return ShellError{QStringLiteral("hôte injoignable")};
        };
        QSignalSpy posted(&AppBus::shared(), &AppBus::showPicker);
        ProjectRow row(w.model, project, w.local(), 0, {});
        row.trigger(RowAction::listSessions);
        ASSERT_TRUE(posted.count() == 1 || posted.wait(5000));
        const QVariant object = posted.at(0).at(0);
        ASSERT_EQ(object.metaType(), QMetaType::fromType<PickerRequest>());
        const auto request = object.value<PickerRequest>();
        EXPECT_EQ(request.project, project);
        EXPECT_EQ(request.connId, MacConnection::localID);
        EXPECT_EQ(request.sessions.size(), c.sessions);
    }
}

TEST(ProjectRow, FavouriteAndHideActionsChangeTheConnection)
{
    SidebarWorkspace w;
    const MacProject project = SidebarWorkspace::project(QStringLiteral("/r/web"));
    ProjectRow row(w.model, project, w.local(), 0, {});
    row.trigger(RowAction::toggleHidden);
    row.trigger(RowAction::toggleFavorite);
    EXPECT_EQ(w.local().hidden(), QSet<QString>{project.name});
    EXPECT_EQ(w.local().favorites(), QSet<QString>{project.name});
    row.trigger(RowAction::toggleHidden);
    EXPECT_TRUE(w.local().hidden().isEmpty());
}

TEST(ProjectRow, ChevronExpandsTheLineOpensAndTheMenuOutlivesTheRow)
{
    SidebarWorkspace w;
    const MacProject project = SidebarWorkspace::project(QStringLiteral("/r/web"));
    QList<MacProject> opened;
    QWidget window;
    auto* row = new ProjectRow(w.model, project, w.local(), 1, [&](const MacProject& p) { opened << p; }, &window);
    row->resize(240, row->sizeHint().height());
    window.show();
    const int middle = row->line()->height() / 2;
    QTest::mouseClick(row->line(), Qt::LeftButton, {}, QPoint(rowLeadingPad(1) + 6, middle));
    EXPECT_TRUE(w.local().expanded().contains(project.path));
    EXPECT_TRUE(opened.isEmpty());
    QTest::mouseClick(row->line(), Qt::LeftButton, {}, QPoint(120, middle));
    EXPECT_EQ(opened, QList<MacProject>{project});
    EXPECT_EQ(row->line()->toolTip(), project.path);

    // The sidebar may rebuild (and drop the row) while its menu is up.
    QMenu* menu = row->makeMenu(&window);
    delete row;
    const QList<QAction*> actions = menu->actions();
    const auto open = std::find_if(actions.cbegin(), actions.cend(),
                                   [](const QAction* a) { return a->text() == QStringLiteral("Ouvrir"); });
    ASSERT_NE(open, actions.cend());
    (*open)->trigger();
    EXPECT_EQ(opened.size(), 2);
}

TEST(RevealInFileManager, WithoutTheServiceOpensTheParentFolder)
{
    std::optional<QUrl> opened;
    revealInFileManager(QStringLiteral("/r/client/web/"), QDBusConnection(QStringLiteral("no-bus")),
                        [&](const QUrl& folder) { opened = folder; });
    ASSERT_TRUE(opened);
    EXPECT_EQ(*opened, QUrl::fromLocalFile(QStringLiteral("/r/client")));
}

} // namespace
} // namespace halvoren
