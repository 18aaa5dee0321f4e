// Project rows over a model with a fake host: the menu per depth and connection, what the line
// shows, where "Aucun sous-dossier" sits, clicks, and the session listing that always posts
// the picker.
#include "ui/ProjectRow.h"

#include "SidebarWorkspace.h"
#include "ui/AppBus.h"

#include <QLabel>
#include <QMenu>
#include <QSignalSpy>
#include <QTest>

#include <gtest/gtest.h>

namespace halvoren {
namespace {

using test::SidebarWorkspace;

const MacProject web = SidebarWorkspace::project(QStringLiteral("/r/web"));

TEST(ProjectRow, MenuFollowsDepthAndConnection)
{
    const char* common = "Ouvrir|Ouvrir une autre session ici|Sessions de ce dossier…";
    const struct {
        bool server;
        int depth;
        bool favoriteAndHidden;
        QString rest;
    } cases[] = {
        {false, 0, false, "|—|Ajouter aux favoris|Masquer|—|Afficher dans le gestionnaire de fichiers"},
        // A sub-folder named like a favourite still offers neither favourite nor hiding.
        {false, 1, true, "|—|Afficher dans le gestionnaire de fichiers"},
        {true, 0, false, "|—|Ajouter aux favoris|Masquer"},
        {true, 0, true, "|—|Retirer des favoris|Afficher"},
        {true, 2, true, ""},
    };
    for (const auto& c : cases) {
        SidebarWorkspace w;
        MacConnection& connection = c.server ? w.server(QStringLiteral("p1")) : w.local();
        if (c.favoriteAndHidden) {
            connection.setFavorites({web.name});
            connection.setHidden({web.name});
        }
        QStringList titles;
        for (const RowMenuItem& item : ProjectRow(w.model, web, connection, c.depth, {}).menuItems())
            titles << (item.action == RowAction::divider ? QStringLiteral("—") : item.title);
        EXPECT_EQ(titles.join(u'|'), QString::fromUtf8(common) + c.rest) << c.server << " depth " << c.depth;
    }
}

TEST(ProjectRow, AttentionOutweighsOpenAndOnlyThisConnectionsTabsCount)
{
    using Setup = std::function<void(SidebarWorkspace&, MacConnection& here, MacConnection& there)>;
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
        {"open tab whose command finished",
         [](auto& w, auto& here, auto&) { w.open(here, web).setAttention(true); }, 0, "folder.fill",
         StateDot::attention, false, false},
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
        SidebarWorkspace w;
        MacConnection& here = w.local();
        c.setup(w, here, w.server(QStringLiteral("p1")));
        const ProjectRowState state = projectRowState(w.model, web, here, c.depth);
        EXPECT_EQ(folderSymbol(state), QString::fromUtf8(c.folder));
        EXPECT_EQ(stateDot(state), c.dot);
        EXPECT_EQ(state.active, c.active);
        EXPECT_EQ(state.favorite, c.star);
    }
}

TEST(ProjectRow, SubFoldersAndTheEmptyTextAppearOnlyOnceListed)
{
    const MacProject api = SidebarWorkspace::project(QStringLiteral("/r/web/api"));
    SidebarWorkspace w;
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
    EXPECT_EQ(children[0]->depth, 1);
    EXPECT_EQ(emptyIndent(*children[0]), 50);
}

TEST(ProjectRow, ChevronExpandsTheLineOpensAndTheMenuOutlivesTheRow)
{
    SidebarWorkspace w;
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
    EXPECT_EQ(row->line()->toolTip(), web.path);
    // The sidebar may rebuild (and drop the row) while its menu is up.
    QMenu* menu = row->makeMenu(&window);
    delete row;
    menu->actions().front()->trigger();
    EXPECT_EQ(opened.size(), 2);
}

TEST(ProjectRow, SessionsOfTheFolderAlwaysPostThePicker)
{
    // The host's answer to the listing (nothing: it failed) and the sessions the picker gets.
    const std::pair<std::optional<QString>, qsizetype> cases[] = {
        {QString(), 0}, {std::nullopt, 0}, {web.session + QStringLiteral("|/r/web|1700000000|2|1700000100|vim\n"), 1}};
    for (const auto& [output, count] : cases) {
        SidebarWorkspace w;
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

TEST(ProjectRow, RevealWithoutAFileManagerOpensTheParentFolder)
{
    std::optional<QUrl> opened;
    revealInFileManager(QStringLiteral("/r/client/web/"), QDBusConnection(QStringLiteral("no-bus")),
                        [&](const QUrl& folder) { opened = folder; });
    EXPECT_EQ(opened, QUrl::fromLocalFile(QStringLiteral("/r/client")));
}

} // namespace
} // namespace halvoren
