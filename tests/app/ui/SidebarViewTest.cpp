// The sidebar, its project rows, the session picker and the tab bar over a model with a fake
// host: menus, state dots, sub-folders, empty and hidden projects, servers to connect, the
// picker's requests and sessions, and the tab bar's drops, height, tooltips, menus and renaming.
#include "ui/AppBus.h"
#include "ui/PlainText.h"
#include "ui/ProjectList.h"
#include "ui/ProjectRow.h"
#include "ui/SessionPicker.h"
#include "ui/SidebarView.h"
#include "ui/TabBar.h"
#include "ui/TabChip.h"

#include "ViewsWorkspace.h"

#include <QDir>
#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMimeData>
#include <QPushButton>
#include <QScrollArea>
#include <QScrollBar>
#include <QSignalSpy>
#include <QTest>
#include <QTextDocument>
#include <QToolButton>

namespace halvoren {
namespace {

using test::ViewsWorkspace;

const MacProject web = ViewsWorkspace::project(QStringLiteral("/r/web"));

TEST(ProjectRow, MenuFollowsDepthAndConnection)
{
    const QString common = QStringLiteral("Ouvrir|Ouvrir une autre session ici|Sessions de ce dossier…");
    // On a server?, the depth, favourite and hidden?, the entries after the common ones. A
    // sub-folder named like a favourite still offers neither favourite nor hiding.
    for (const auto& [server, depth, marked, rest] :
         {std::tuple{false, 0, false, "|—|Ajouter aux favoris|Masquer|—|Afficher dans le gestionnaire de fichiers"},
          {false, 1, true, "|—|Afficher dans le gestionnaire de fichiers"}, {true, 0, false, "|—|Ajouter aux favoris|Masquer"},
          {true, 0, true, "|—|Retirer des favoris|Afficher"}, {true, 2, true, ""}}) {
        ViewsWorkspace w;
        MacConnection& connection = server ? w.server(QStringLiteral("p1")) : w.local();
        connection.setFavorites(marked ? QSet<QString>{web.name} : QSet<QString>());
        connection.setHidden(marked ? QSet<QString>{web.name} : QSet<QString>());
        QStringList titles;
        for (const RowMenuItem& item : ProjectRow(w.model, web, connection, depth, {}).menuItems())
            titles << (item.action == RowAction::divider ? QStringLiteral("—") : item.title);
        EXPECT_EQ(titles.join(u'|'), common + QString::fromUtf8(rest)) << server << " depth " << depth;
    }
}

TEST(ProjectRow, AttentionOutweighsOpenAndOnlyThisConnectionsTabsCount)
{
    // What is set up, the depth, then the folder symbol, the dot, whether active and starred.
    using Setup = void (*)(ViewsWorkspace&, MacConnection& here, MacConnection& there);
    const std::tuple<const char*, Setup, int, const char*, StateDot, bool, bool> cases[] = {
        {"nothing", [](auto&, auto&, auto&) {}, 0, "folder", StateDot::none, false, false},
        {"live on the host without a tab", [](auto&, auto& here, auto&) { here.setLiveSessions({web.session}); }, 0,
         "folder.fill", StateDot::live, false, false},
        {"open tab whose command finished", [](auto& w, auto& here, auto&) { w.open(here, web).setAttention(true); },
         0, "folder.fill", StateDot::attention, false, false},
        {"active tab", [](auto& w, auto& here, auto&) { w.model.activate(w.open(here, web)); }, 0, "folder.fill",
         StateDot::live, true, false},
        {"active tab of the same session elsewhere",
         [](auto& w, auto&, auto& there) {
             w.model.activate(w.open(there, web));
             w.model.activeTab()->setAttention(true);
         },
         0, "folder", StateDot::none, false, false},
        {"favourite", [](auto&, auto& here, auto&) { here.setFavorites({web.name}); }, 0, "folder", StateDot::none,
         false, true},
        {"favourite name as a sub-folder", [](auto&, auto& here, auto&) { here.setFavorites({web.name}); }, 1,
         "folder", StateDot::none, false, false},
    };
    for (const auto& [label, setup, depth, folder, dot, active, star] : cases) {
        ViewsWorkspace w;
        setup(w, w.local(), w.server(QStringLiteral("p1")));
        const ProjectRowState state = projectRowState(w.model, web, w.local(), depth);
        EXPECT_EQ(folderSymbol(state), QString::fromUtf8(folder)) << label;
        EXPECT_TRUE(stateDot(state) == dot && state.active == active && state.favorite == star) << label;
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
        const auto* empty = row.findChild<ElidedLabel*>(QStringLiteral("emptySubfolders"));
        return empty && empty->fullText() == QStringLiteral("Aucun sous-dossier") ? empty->contentsMargins().left() : -1;
    };
    EXPECT_EQ(emptyIndent(ProjectRow(w.model, web, local, 0, {})), 36);
    local.storeSubprojects(web.path, {api});
    local.insertExpanded(api.path);
    local.storeSubprojects(api.path, {});
    ProjectRow row(w.model, web, local, 0, {});
    const auto* list = row.findChild<ProjectList*>(QString(), Qt::FindDirectChildrenOnly);
    ASSERT_NE(list, nullptr);
    const QList<ProjectRow*> children = list->findChildren<ProjectRow*>(Qt::FindDirectChildrenOnly);
    ASSERT_EQ(children.size(), 1);
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
        ASSERT_EQ(posted.at(0).at(0).metaType(), QMetaType::fromType<PickerRequest>());
        const auto request = posted.at(0).at(0).value<PickerRequest>();
        EXPECT_TRUE(request.project == web && request.connId == MacConnection::localID);
        EXPECT_EQ(request.sessions.size(), count);
    }
}

// Without a file manager on the bus the folder holding the project is opened instead; when
// nothing takes that either, the caller hears of it (the row posts its banner).
TEST(ProjectRow, RevealFallsBackToTheFolderAndTellsWhenNothingOpensIt)
{
    for (const bool opens : {true, false}) {
        QList<QUrl> opened;
        int failures = 0;
        revealInFileManager(QStringLiteral("/r/web/../web"), [&failures] { ++failures; },
                            QDBusConnection(QStringLiteral("no-bus")),
                            [&](const QUrl& folder, std::function<void(bool)> done) {
                                opened << folder;
                                done(opens);
                            });
        EXPECT_EQ(opened, QList<QUrl>{QUrl::fromLocalFile(QStringLiteral("/r"))});
        EXPECT_EQ(failures, opens ? 0 : 1);
    }
    EXPECT_EQ(noFileManagerMessage, QStringLiteral("Aucun gestionnaire de fichiers n'a pu être ouvert."));
}

// The desktop's opener runs apart: the row returns while it still runs, and only its failing
// exit (xdg-open's 3 when nothing can show a folder) posts the banner. It runs in a session
// of its own, so the application's end does not reach it.
TEST(ProjectRow, RevealTellsOfAnOpenerThatFailsAndOnlyThen)
{
    for (const int status : {3, 0}) {
        ViewsWorkspace w;
        const QString bin = w.folder.file(QStringLiteral("bin"));
        ASSERT_TRUE(QDir().mkpath(bin));
        const QString ran = w.folder.file(QStringLiteral("ran")), go = w.folder.file(QStringLiteral("go"));
        // Waits for the test's go (10 s at most), then tells its argument, pid and session: in
        // a file renamed into place, since the test reads it as soon as it exists.
        ASSERT_TRUE(test::writeAll(bin + QStringLiteral("/xdg-open"),
                                   QStringLiteral("#!/bin/sh\nn=0\nwhile [ ! -e '%1' ] && [ $n -lt 200 ]; do sleep 0.05; "
                                                  "n=$((n+1)); done\necho \"$1 $$ $(cut -d' ' -f6 /proc/$$/stat)\" > '%2.part'\n"
                                                  "mv '%2.part' '%2'\nexit %3\n")
                                       .arg(go, ran)
                                       .arg(status)
                                       .toUtf8()));
        QFile::setPermissions(bin + QStringLiteral("/xdg-open"), QFile::ReadOwner | QFile::ExeOwner);
        test::EnvironmentOverride path("PATH", bin + u':' + qEnvironmentVariable("PATH"));
        ProjectRow(w.model, web, w.local(), 0, {}).trigger(RowAction::reveal);
        QCoreApplication::processEvents();
        EXPECT_FALSE(w.model.banner());
        ASSERT_TRUE(test::writeAll(go, ""));
        ASSERT_TRUE(QTest::qWaitFor([&] { return QFile::exists(ran); }, 15000));
        const QStringList told = QString::fromUtf8(test::readAll(ran)).trimmed().split(u' ');
        ASSERT_EQ(told.size(), 3);
        EXPECT_EQ(told[0], QStringLiteral("/r"));
        EXPECT_EQ(told[1], told[2]) << "the opener leads a session of its own";
        // Reaped (gone even as a zombie) once the row heard of its end.
        EXPECT_TRUE(QTest::qWaitFor([&] { return !QFile::exists(QStringLiteral("/proc/") + told[1]); }, 10000));
        EXPECT_EQ(w.model.banner(), status != 0 ? std::optional(noFileManagerMessage) : std::nullopt);
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

// A server's projects root is its profile's text: its tooltip on an empty server reads as the
// label shows it, a line feed as a symbol and a direction override turning nothing after it.
TEST(SidebarView, EmptyProjectsTooltipShowsTheRootAsTheLabelDoes)
{
    ViewsWorkspace w;
    w.server(QStringLiteral("p1"), QStringLiteral("atelier"), QStringLiteral("~/a\n\u202Eb"));
    SidebarView sidebar(w.model);
    const auto* empty = section(sidebar, QStringLiteral("p1"))->findChild<WrappedLabel*>(QStringLiteral("emptyProjects"));
    ASSERT_NE(empty, nullptr);
    QTextDocument tip;
    tip.setHtml(empty->toolTip());
    EXPECT_EQ(tip.toPlainText().toStdString(), QStringLiteral("Aucun projet dans ~/a\u240A\uFFFDb").toStdString());
    EXPECT_EQ(tip.toPlainText(), empty->linesAt(10000).join(QString()));
}

TEST(SidebarView, EmptyConnectionsSayWhereToLookAndAllHiddenShowsOnlyTheGroup)
{
    ViewsWorkspace w;
    w.server(QStringLiteral("p1"), QStringLiteral("atelier"), QStringLiteral("~/code")).setUnreachable(true);
    w.server(QStringLiteral("p2")).setProjects({ViewsWorkspace::project(QStringLiteral("/r/a")), web});
    w.model.connection(QStringLiteral("p2"))->setHidden({QStringLiteral("a"), web.name});
    SidebarView sidebar(w.model);
    const QWidget* away = section(sidebar, QStringLiteral("p1"));
    EXPECT_EQ(text(away, "projectCount") + u'|' + text(away, "emptyProjects"), QStringLiteral("0|Aucun projet dans ~/code"));
    EXPECT_NE(away->findChild<QWidget*>(QStringLiteral("unreachableMark")), nullptr);
    const QWidget* hidden = section(sidebar, QStringLiteral("p2"));
    EXPECT_EQ(text(hidden, "projectCount") + text(hidden, "emptyProjects"), QStringLiteral("2<none>"));
    EXPECT_EQ(hidden->findChildren<ProjectRow*>().size(), 0);
    auto* group = hidden->findChild<QToolButton*>(QStringLiteral("hiddenGroup"));
    ASSERT_TRUE(group && group->text() == QStringLiteral("Cachés (2)"));
    // Unfolding is the model's, so it survives the rebuild it causes.
    group->click();
    sidebar.rebuild();
    EXPECT_EQ(section(sidebar, QStringLiteral("p2"))->findChildren<ProjectRow*>().size(), 2);
}

// Rows come back on the next turn after a change; the list must not jump to its top meanwhile.
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
    w.model.toggleFavorite(QStringLiteral("p30"), w.local());
    QPointer<ProjectRow> before = sidebar.findChild<ProjectRow*>();
    ASSERT_TRUE(QTest::qWaitFor([&] { return before.isNull(); }, 5000));
    EXPECT_EQ(bar->value(), 400);
}

// The shown row of a project in the sidebar, if it is made.
ProjectRow* shownRow(const SidebarView& sidebar, const MacProject& project)
{
    for (ProjectRow* row : sidebar.findChildren<ProjectRow*>()) {
        if (row->isVisible() && row->project == project)
            return row;
    }
    return nullptr;
}

// How many rows exist once those dropped are really gone.
qsizetype madeRows(const SidebarView& sidebar)
{
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    return sidebar.findChildren<ProjectRow*>().size();
}

// Counts the paints a widget receives.
struct PaintCounter : QObject {
    int paints = 0;
    bool eventFilter(QObject*, QEvent* event) override
    {
        paints += event->type() == QEvent::Paint;
        return false;
    }
};

// A root of thousands of folders: rows exist only near the view, yet the list scrolls over all
// of them; an expanded row pushes the next one down; a git state or a live session repaints the
// rows without making them again.
TEST(SidebarView, ManyProjectsMakeOnlyTheRowsInViewAndStateChangesOnlyRepaint)
{
    constexpr int count = 5000;
    ViewsWorkspace w;
    QList<MacProject> projects;
    for (int i = 0; i < count; ++i)
        projects << ViewsWorkspace::project(QStringLiteral("/r/p%1").arg(i, 4, 10, QLatin1Char('0')));
    const MacProject sub = ViewsWorkspace::project(QStringLiteral("/r/p0002/api"));
    w.local().setProjects(projects);
    w.local().insertExpanded(projects[2].path);
    w.local().storeSubprojects(projects[2].path, {sub});
    SidebarView sidebar(w.model);
    sidebar.resize(240, 300);
    sidebar.show();
    QScrollBar* bar = sidebar.scrollArea()->verticalScrollBar();
    ASSERT_TRUE(QTest::qWaitFor([&] { return bar->maximum() > (count + 1) * rowLineHeight - 300; }, 5000));
    const auto rowOf = [&](const MacProject& project) { return shownRow(sidebar, project); };
    const auto made = [&] { return madeRows(sidebar); };
    EXPECT_LT(made(), 100);
    ProjectRow* expanded = rowOf(projects[2]);
    ProjectRow* next = rowOf(projects[3]);
    ASSERT_TRUE(expanded && next && rowOf(sub));
    EXPECT_EQ(expanded->height(), 2 * rowLineHeight);
    EXPECT_EQ(next->y(), expanded->y() + expanded->height());

    bar->setValue(bar->maximum());
    EXPECT_NE(rowOf(projects.back()), nullptr);
    EXPECT_EQ(rowOf(projects[10]), nullptr);
    EXPECT_LT(made(), 100);

    const QPointer<ProjectRow> shown = rowOf(projects.back());
    PaintCounter counter;
    shown->line()->installEventFilter(&counter);
    for (const auto& change : std::initializer_list<std::function<void()>>{
             [&] { w.local().setGitInfo({{projects.back().path, GitInfo{QStringLiteral("trunk"), true}}}); },
             [&] { w.local().setLiveSessions({projects.back().session}); }}) {
        const int before = counter.paints;
        change();
        ASSERT_TRUE(QTest::qWaitFor([&] { return counter.paints > before; }, 5000));
        EXPECT_FALSE(shown.isNull());
    }
    // A change of what is listed still makes the rows again.
    w.local().setFavorites({projects.back().name});
    ASSERT_TRUE(QTest::qWaitFor([&] { return shown.isNull(); }, 5000));
}

// A project of thousands of sub-folders is a list like a root of thousands: expanding it makes
// only the sub-rows near the view, at any depth, and the rows after it move below all of them.
TEST(SidebarView, ThousandsOfSubFoldersMakeOnlyTheRowsInView)
{
    constexpr int count = 5000;
    ViewsWorkspace w;
    const QList<MacProject> projects{ViewsWorkspace::project(QStringLiteral("/r/a")), web,
                                     ViewsWorkspace::project(QStringLiteral("/r/z"))};
    QList<MacProject> children;
    for (int i = 0; i < count; ++i)
        children << ViewsWorkspace::project(QStringLiteral("/r/web/s%1").arg(i, 4, 10, QLatin1Char('0')));
    QList<MacProject> grandchildren;
    for (int i = 0; i < count; ++i)
        grandchildren << ViewsWorkspace::project(QStringLiteral("/r/web/s0001/g%1").arg(i, 4, 10, QLatin1Char('0')));
    w.local().setProjects(projects);
    w.local().insertExpanded(web.path);
    w.local().storeSubprojects(web.path, children);
    w.local().insertExpanded(children[1].path);
    w.local().storeSubprojects(children[1].path, grandchildren);
    SidebarView sidebar(w.model);
    sidebar.resize(240, 300);
    sidebar.show();
    QScrollBar* bar = sidebar.scrollArea()->verticalScrollBar();
    ASSERT_TRUE(QTest::qWaitFor([&] { return bar->maximum() > (2 * count + 3) * rowLineHeight - 300; }, 5000));
    const auto rowOf = [&](const MacProject& project) { return shownRow(sidebar, project); };
    const auto made = [&] { return madeRows(sidebar); };
    EXPECT_LT(made(), 100);
    ASSERT_TRUE(rowOf(children[0]) && rowOf(grandchildren[0]));
    EXPECT_EQ(rowOf(children[0])->depth, 1);
    EXPECT_EQ(rowOf(grandchildren[0])->depth, 2);
    // At the bottom: the last sub-folder, then the project after the expanded one.
    bar->setValue(bar->maximum());
    ProjectRow* last = rowOf(children.back());
    ProjectRow* after = rowOf(projects.back());
    ASSERT_TRUE(last && after);
    EXPECT_EQ(last->mapTo(&sidebar, QPoint(0, last->height())).y(), after->mapTo(&sidebar, QPoint(0, 0)).y());
    EXPECT_EQ(rowOf(children[10]), nullptr);
    EXPECT_LT(made(), 100);
    // Collapsing gives back a list of three rows.
    w.model.loadSubprojects(web.path, w.local());
    ASSERT_TRUE(QTest::qWaitFor([&] { return made() == 3; }, 5000));
}

TEST(SidebarView, ServersListsUnconnectedProfilesAFailedConnectPostsItsIdAndKeyBanners)
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
    sidebar.rebuild();
    const QList<QPushButton*> rows = sidebar.findChildren<QPushButton*>(QStringLiteral("serverRow"));
    ASSERT_EQ(rows.size(), 1);
    QSignalSpy posted(&AppBus::shared(), &AppBus::connectProfile);
    rows[0]->click();
    ASSERT_TRUE(posted.count() == 1 || posted.wait(5000));
    EXPECT_EQ(posted.at(0).at(0).toString(), refused.id);
    EXPECT_EQ(w.model.connection(refused.id), nullptr);
    // The banners after installing the key on a server.
    EXPECT_EQ(installKeyBanner(2), QStringLiteral("2 clé(s) installée(s) : plus de mot de passe à la prochaine connexion."));
    EXPECT_EQ(installKeyBanner(ShellError{QStringLiteral("Aucune clé")}), QStringLiteral("Aucune clé"));
    // ssh's diagnostic is the host's text: shown on one line, its middle cut when it is long.
    const QString diagnostic = QStringLiteral("Permission denied \u202Eyekcilbup\n") + QString(300, u'x')
        + QStringLiteral(" (publickey,password).");
    const QString shown = installKeyBanner(ShellError{diagnostic});
    EXPECT_TRUE(shown.startsWith(QStringLiteral("Permission denied \uFFFDyekcilbup"))) << qPrintable(shown);
    EXPECT_TRUE(shown.endsWith(QStringLiteral("x (publickey,password)."))) << qPrintable(shown);
    EXPECT_TRUE(shown.contains(QChar(0x2026))) << qPrintable(shown);
    EXPECT_FALSE(shown.contains(u'\n'));
    EXPECT_LE(shown.size(), bannerReasonColumns);
}

// The banner after "install my key" from a server's menu: ssh's refusal, which spans lines and
// may hold anything, shows on one line and cut to its room.
TEST(SidebarView, InstallingAKeyShowsSshsRefusalOnOneLineCutToItsRoom)
{
    ViewsWorkspace w;
    ASSERT_TRUE(QDir().mkpath(w.folder.file(QStringLiteral(".ssh"))));
    ASSERT_TRUE(test::writeAll(w.folder.file(QStringLiteral(".ssh/id_ed25519.pub")), "ssh-ed25519 AAAAC3NzaC1lZDI1NTE5 moi@ici\n"));
    const QString refusing = w.folder.file(QStringLiteral("refusing-ssh"));
    ASSERT_TRUE(test::writeAll(refusing, "#!/bin/sh\n"
                                         "printf 'Permission denied \\342\\200\\256yekcilbup\\r\\n' >&2\n"
                                         "head -c 300 /dev/zero | tr '\\000' x >&2\n"
                                         "printf ' (publickey,password).\\r\\n' >&2\n"
                                         "exit 255\n"));
    ASSERT_TRUE(QFile::setPermissions(refusing, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner));
    struct Program {
        explicit Program(const QString& path) { SSHLink::setProgramForTests(path); }
        ~Program() { SSHLink::setProgramForTests(QStringLiteral("/usr/bin/ssh")); }
    } program(refusing);
    MacConnection& server = w.connect(ViewsWorkspace::profile(QStringLiteral("p1"), QStringLiteral("srv")));
    SidebarView sidebar(w.model);
    sidebar.installKey(server);
    ASSERT_TRUE(test::waitUntil([&] { return w.model.banner().has_value(); }, 20000));
    const QString shown = *w.model.banner();
    EXPECT_TRUE(shown.startsWith(QStringLiteral("Permission denied \uFFFDyekcilbup\u240D\u240Axxx"))) << qPrintable(shown);
    EXPECT_TRUE(shown.endsWith(QStringLiteral("xxx (publickey,password)."))) << qPrintable(shown);
    EXPECT_TRUE(shown.contains(QChar(0x2026))) << qPrintable(shown);
    EXPECT_FALSE(shown.contains(u'\n') || shown.contains(u'\r')) << qPrintable(shown);
    EXPECT_LE(shown.size(), bannerReasonColumns);
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

TEST(SessionDetail, NamesTheCommandTheLastActivityInFrenchAndTheClients)
{
    const QDateTime now(QDate(2026, 3, 2), QTime(9, 0), Qt::UTC);
    for (const auto& [command, attached, secondsAgo, expected] :
         {std::tuple<const char*, qint64, qint64, const char*>{"vim", 0, 300, "vim · active il y a 5 minutes"},
          {"zsh", 2, 86400 + 600, "zsh · active hier · 2 appareil(s)"},
          {"", 1, 10799, " · active il y a 2 heures · 1 appareil(s)"},
          {"htop", -1, 9 * 86400, "htop · active la semaine dernière"},
          {"top", 3, 61 * 86400, "top · active il y a 2 mois · 3 appareil(s)"}}) {
        const FolderSession session{{}, {}, {}, attached, now.addSecs(-secondsAgo), QString::fromUtf8(command)};
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
        for (const QString& session : names)
            request.sessions.append(FolderSession{session, {}, {}, 0, {}, {}});
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

TEST_F(SessionPickerSheet, ResumingOpensOrActivatesTheChosenSessionAndReturnStartsANewOne)
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
    // Return starts a new session beside the taken ones.
    local().setLiveSessions({tmuxSessionName(path)});
    QTest::keyClick(open(MacConnection::localID, {name}).get(), Qt::Key_Return);
    ASSERT_EQ(model.tabs().size(), 3);
    EXPECT_EQ(model.tabs().back()->project,
              (MacProject{QStringLiteral("app (2)"), path, tmuxSessionName(path) + QStringLiteral("-2")}));
    EXPECT_EQ(doneCalls, 3);
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
    EXPECT_TRUE(sheet->isVisible() && doneCalls == 0);
}

TEST_F(SessionPickerSheet, AVanishedServerLeavesOnlyCancelWorking)
{
    auto sheet = open(QStringLiteral("p-gone"), {name});
    press(*sheet, name, QStringLiteral("resume"));
    press(*sheet, name, QStringLiteral("trash"));
    QTest::keyClick(sheet.get(), Qt::Key_Return);
    QCoreApplication::processEvents();
    EXPECT_TRUE(model.tabs().isEmpty() && scripts.isEmpty() && sheet->isVisible() && doneCalls == 0);
    QTest::keyClick(sheet.get(), Qt::Key_Escape);
    EXPECT_TRUE(doneCalls == 1 && !sheet->isVisible());
}

struct TabBarTest : test::TabViewsWorkspace, testing::Test {
    TabBar bar{model};
    // The menu's entries, "-" for the divider; triggers the entry named `run` if any.
    QStringList menu(const MacTab& tab, const QString& run = {})
    {
        std::unique_ptr<QMenu> menu(bar.chip(tab.id())->makeMenu(nullptr));
        QStringList texts;
        for (QAction* action : menu->actions()) {
            texts << (action->isSeparator() ? QStringLiteral("-") : action->text());
            if (action->text() == run)
                action->trigger();
        }
        return texts;
    }
};

TEST_F(TabBarTest, ADropPutsTheDraggedTabInTheTargetsPlace)
{
    bar.show();
    // Tabs A, B, C: the dragged tab (-1: a text that is no tab's key), the target, where the move
    // goes (-1: refused) and the order after.
    for (const auto& [dragged, target, destination, order] :
         {std::tuple{0, 2, 3, "B,C,A"}, {2, 0, 0, "C,A,B"}, {0, 1, 2, "B,A,C"}, {1, 1, -1, "A,B,C"}, {-1, 1, -1, "A,B,C"}}) {
        SCOPED_TRACE(testing::Message() << dragged << " onto " << target);
        while (!model.tabs().isEmpty())
            model.removeTab(*model.tabs().front());
        for (const char* name : {"A", "B", "C"})
            open(local(), QStringLiteral("/r/") + QLatin1String(name));
        const QStringList keys{model.tabs()[0]->id(), model.tabs()[1]->id(), model.tabs()[2]->id()};
        const QString key = dragged < 0 ? QStringLiteral("local::nothing") : keys.at(dragged);
        const std::optional<TabMove> move = tabDropMove(keys, {key}, keys.at(target));
        EXPECT_EQ(move ? move->destination : -1, destination);
        QWidget* chip = bar.chip(keys.at(target));
        QMimeData data;
        data.setText(key);
        // Qt hands a drop to the widget that took the drag's entry.
        QDragEnterEvent enter(QPoint(5, 5), Qt::MoveAction, &data, Qt::LeftButton, Qt::NoModifier);
        QCoreApplication::sendEvent(chip, &enter);
        QDropEvent drop(QPointF(5, 5), Qt::MoveAction, &data, Qt::LeftButton, Qt::NoModifier);
        QCoreApplication::sendEvent(chip, &drop);
        EXPECT_EQ(drop.isAccepted(), destination >= 0);
        EXPECT_EQ(tabNames(), QString::fromUtf8(order));
    }
}

TEST_F(TabBarTest, TakesNoHeightWithoutTabsAndActivatesOnAClick)
{
    EXPECT_EQ(bar.height(), 0);
    MacTab& first = open(local(), QStringLiteral("/r/a"));
    MacTab& second = open(local(), QStringLiteral("/r/b"));
    EXPECT_EQ(bar.height(), 38);
    bar.show();
    model.activate(first);
    QTest::mouseClick(bar.chip(second.id()), Qt::LeftButton, {}, QPoint(20, 14));
    EXPECT_EQ(model.activeTabID(), second.id());
    EXPECT_TRUE(bar.chip(second.id())->active() && !bar.chip(first.id())->active());
    model.removeTab(first);
    model.removeTab(second);
    EXPECT_EQ(bar.height(), 0);
}

TEST_F(TabBarTest, TooltipsAndMenusFollowTheTabsConnectionAndTmux)
{
    prefs.setProjectsRoots({QStringLiteral("/home/ana/projets")});
    MacConnection& gone = server(QStringLiteral("p2"));
    MacTab& orphan = open(gone, QStringLiteral("/srv/web"));
    model.removeConnection(&gone);
    MacTab& here = open(local(), QStringLiteral("/home/ana/projets/client/app"));
    MacTab& there = open(server(QStringLiteral("p1")), QStringLiteral("/srv/api"));
    local().setTmuxAvailable(false);
    MacTab& plain = open(local(), QStringLiteral("/r/b"));
    EXPECT_EQ(tabToolTip(model, here), QStringLiteral("projets/client/app"));
    EXPECT_EQ(tabToolTip(model, there), QStringLiteral("@p1 — /srv/api"));
    EXPECT_EQ(tabToolTip(model, orphan), QStringLiteral("/srv/web"));
    model.renameTab(there, QStringLiteral("api"));
    const QStringList bare{"Renommer…", "-", "Fermer l'onglet"};
    EXPECT_EQ(menu(here), (QStringList{"Renommer…", "Ouvrir une autre session ici", "-", "Fermer l'onglet",
                                       "Fermer la session tmux"}));
    EXPECT_EQ(menu(there), (QStringList{"Renommer…", "Rétablir le nom", "Ouvrir une autre session ici", "-",
                                        "Fermer l'onglet", "Fermer la session tmux"}));
    EXPECT_TRUE(menu(plain) == bare && menu(orphan) == bare);
    const QString session = here.project.session;
    menu(here, QStringLiteral("Fermer la session tmux"));
    QCoreApplication::processEvents();
    EXPECT_EQ(tabNames(), QStringLiteral("web,api,b"));
    EXPECT_EQ(scripts.filter(QStringLiteral("tmux kill-session -t '=") + session + u'\'').size(), 1);
}

TEST_F(TabBarTest, RenamingToBlanksRemovesTheLabel)
{
    MacTab& tab = open(local(), QStringLiteral("/r/app"));
    model.renameTab(tab, QStringLiteral("Mine"));
    auto* title = bar.chip(tab.id())->findChild<QLabel*>(QStringLiteral("title"));
    EXPECT_EQ(title->text(), QStringLiteral("Mine"));
    ASSERT_TRUE(menu(tab, QStringLiteral("Renommer…")).contains(QStringLiteral("Rétablir le nom")));
    QDialog* sheet = bar.chip(tab.id())->renameSheet();
    auto* field = sheet ? sheet->findChild<QLineEdit*>() : nullptr;
    ASSERT_TRUE(field && field->text() == QStringLiteral("Mine"));
    field->setText(QStringLiteral("   "));
    QTest::keyClick(field, Qt::Key_Return);
    EXPECT_FALSE(model.tabLabels().contains(tab.id()) || menu(tab).contains(QStringLiteral("Rétablir le nom")));
    EXPECT_EQ(title->text(), QStringLiteral("app"));
}

} // namespace
} // namespace halvoren
