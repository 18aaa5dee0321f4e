// The workspace model against a fake host: the tab list, titles, colours, persistence, the
// script runner's write epoch, project refreshes and sub-folder lists, fresh sessions, and
// the naming and writing of uploads.
#include "model/MacModel.h"

#include "app/support/ParamName.h"
#include "app/support/TempFolder.h"
#include "platform/Notifier.h"
#include "remote/MacTab.h"
#include "remote/SessionNaming.h"
#include "ui/Palette.h"

#include <QDir>
#include <QSignalSpy>

#include <gtest/gtest.h>

namespace halvoren {
namespace {

template <typename T>
Task<T> ready(T value)
{
    co_return value;
}

template <typename T>
T wait(Task<T> task)
{
    return QCoro::waitFor(std::move(task));
}

void wait(Task<> task)
{
    QCoro::waitFor(std::move(task));
}

// Answers scripts and folder listings from tables and records what was asked.
struct FakeHost {
    QStringList scripts;
    QStringList listed;
    std::function<ShellResult<QString>(const QString&)> answer = [](const QString&) { return QString(); };
    // A folder missing here cannot be listed.
    QHash<QString, QStringList> folders;

    void install(MacModel& model)
    {
        model.runScript = [this](MacConnection&, QString script, double) {
            scripts << script;
            return ready(answer(script));
        };
        model.listFolders = [this](MacConnection&, QString folder) {
            listed << folder;
            const auto found = folders.constFind(folder);
            return ready(found == folders.cend() ? std::nullopt : std::optional<QStringList>(*found));
        };
    }
};

struct ModelFixture : testing::Test {
    test::TempFolder folder;
    PreferenceStore store{folder.file(QStringLiteral("preferences.json"))};
    Prefs prefs{store};
    Notifier notifier{QDBusConnection(QStringLiteral("no-bus"))};
    MacModel model{prefs, nullptr, &notifier};
    FakeHost host;

    ModelFixture() { host.install(model); }

    MacConnection& server(const char* id)
    {
        MacProfile profile;
        profile.id = QString::fromLatin1(id);
        profile.host = QStringLiteral("srv");
        auto* connection = new MacConnection(std::make_shared<SSHLink>(profile));
        model.appendConnection(connection);
        return *connection;
    }
    MacTab& open(MacConnection& connection, const QString& path)
    {
        MacTab* tab = model.makeTab(connection, MacProject{path.section(u'/', -1), path, tmuxSessionName(path)});
        model.insertTab(tab, model.tabs().size());
        return *tab;
    }
    MacConnection& local() { return *model.localConnection(); }
};

TEST_F(ModelFixture, StartsFromThePreferencesAndNotifiesOnlyOnChange)
{
    EXPECT_EQ(model.fontSize(), 13.0);
    EXPECT_EQ(model.commands(), Prefs::builtInCommands());
    EXPECT_FALSE(model.composeVisible());
    EXPECT_TRUE(model.commandsVisible());
    QSignalSpy fontSpy(&model, &MacModel::fontSizeChanged);
    QSignalSpy composeSpy(&model, &MacModel::composeVisibleChanged);
    model.setFontSize(13.0);
    model.setComposeVisible(false);
    EXPECT_EQ(fontSpy.count(), 0);
    EXPECT_EQ(composeSpy.count(), 0);
    // Stored even though it did not change.
    EXPECT_EQ(store.boolValue(Prefs::composeBarVisibleKey), false);
}

struct RemovalCase {
    const char* name;
    int count;
    int active;
    int removed;
    // -1: no tab is active afterwards.
    int expectedActive;
};

void PrintTo(const RemovalCase& c, std::ostream* os)
{
    *os << c.name;
}

class TabRemoval : public ModelFixture, public testing::WithParamInterface<RemovalCase> {};

TEST_P(TabRemoval, ActivatesTheNeighbourAndStoresThePosition)
{
    const RemovalCase& c = GetParam();
    QList<MacTab*> tabs;
    for (int i = 0; i < c.count; ++i)
        tabs << &open(local(), QStringLiteral("/r/p%1").arg(i));
    model.activate(*tabs.at(c.active));
    const QString survivor = c.expectedActive >= 0 ? tabs.at(c.expectedActive)->id() : QString();
    model.removeTab(*tabs.at(c.removed));
    ASSERT_EQ(model.tabs().size(), c.count - 1);
    EXPECT_EQ(model.activeTabID().value_or(QString()), survivor);
    EXPECT_EQ(prefs.activeTab(), std::max<qsizetype>(model.tabs().indexOf(model.activeTab()), 0));
    EXPECT_EQ(prefs.tabs(MacConnection::localID).size(), c.count - 1);
}

INSTANTIATE_TEST_SUITE_P(Cases, TabRemoval,
                         testing::Values(RemovalCase{"active_inside", 4, 2, 2, 3}, RemovalCase{"active_last", 3, 2, 2, 1},
                                         RemovalCase{"only_tab", 1, 0, 0, -1}, RemovalCase{"other_tab", 3, 2, 0, 2}),
                         test::ParamName());

TEST_F(ModelFixture, RemovingATabNotInTheListDoesNothing)
{
    MacTab* stray = model.makeTab(local(), MacProject{QStringLiteral("x"), QStringLiteral("/x"), QStringLiteral("kq-x")});
    model.removeTab(*stray);
    EXPECT_FALSE(store.contains(Prefs::tabsKey(MacConnection::localID)));
}

struct TitleCase {
    const char* name;
    QString path;
    QString title;
    QString subtitle;
};

void PrintTo(const TitleCase& c, std::ostream* os)
{
    *os << c.name;
}

class TabTitles : public ModelFixture, public testing::WithParamInterface<TitleCase> {};

TEST_P(TabTitles, NestedProjectsNameTheirFirstFolder)
{
    prefs.setProjectsRoots({QStringLiteral("/home/ana/projets")});
    const MacTab& tab = open(local(), GetParam().path);
    EXPECT_EQ(model.tabTitle(tab), GetParam().title);
    EXPECT_EQ(model.tabSubtitle(tab), GetParam().subtitle);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, TabTitles,
    testing::Values(TitleCase{"nested", "/home/ana/projets/client/app", "client / app", "projets/client/app"},
                    TitleCase{"under_root", "/home/ana/projets/app", "app", "projets/app"},
                    TitleCase{"outside", "/srv/app", "app", "/srv/app"}),
    test::ParamName());

TEST_F(ModelFixture, LabelsWinUntilRenamedToBlanks)
{
    const MacTab& tab = open(local(), QStringLiteral("/srv/app"));
    model.renameTab(tab, QStringLiteral(" \tMine "));
    EXPECT_EQ(model.tabTitle(tab), QStringLiteral("Mine"));
    model.renameTab(tab, QStringLiteral("  "));
    EXPECT_EQ(model.tabTitle(tab), QStringLiteral("app"));
    EXPECT_TRUE(prefs.tabLabels().isEmpty());
}

TEST_F(ModelFixture, RemoteColoursFollowConnectionOrderAndWrap)
{
    for (int i = 1; i <= 7; ++i)
        server(QStringLiteral("p%1").arg(i).toLatin1().constData());
    const QColor first = paletteColor(0.31, 0.61, 0.98);
    EXPECT_EQ(model.connectionColor(QStringLiteral("p1")), first);
    EXPECT_EQ(model.connectionColor(QStringLiteral("p6")), paletteColor(0.2, 0.75, 0.78));
    EXPECT_EQ(model.connectionColor(QStringLiteral("p7")), first);
    EXPECT_EQ(model.connectionColor(QStringLiteral("gone")), paletteColor(0.42, 0.47, 0.52));
    EXPECT_EQ(model.connectionColor(MacConnection::localID), paletteColor(0.42, 0.47, 0.52));
}

TEST_F(ModelFixture, NewTabsFollowTheirConnectionsLastTab)
{
    MacConnection& a = server("pA");
    MacConnection& b = server("pB");
    MacConnection& c = server("pC");
    open(a, QStringLiteral("/a1"));
    open(b, QStringLiteral("/b1"));
    open(a, QStringLiteral("/a2"));
    MacTab* newB = model.makeTab(b, MacProject{QStringLiteral("b2"), QStringLiteral("/b2"), QStringLiteral("kq-b2")});
    MacTab* newC = model.makeTab(c, MacProject{QStringLiteral("c1"), QStringLiteral("/c1"), QStringLiteral("kq-c1")});
    EXPECT_EQ(model.insertionIndex(*newB), 2);
    EXPECT_EQ(model.insertionIndex(*newC), 3);

    model.persistTabs();
    EXPECT_EQ(prefs.activeTab(), 0);
    EXPECT_TRUE(prefs.tabs(QStringLiteral("pC")).isEmpty());
    EXPECT_TRUE(store.contains(Prefs::tabsKey(QStringLiteral("pC"))));
    const QList<PersistedTab> ofA = prefs.tabs(QStringLiteral("pA"));
    ASSERT_EQ(ofA.size(), 2);
    EXPECT_EQ(ofA[1], (PersistedTab{QStringLiteral("a2"), QStringLiteral("/a2"), tmuxSessionName(QStringLiteral("/a2"))}));
}

TEST_F(ModelFixture, HostOrderPutsListedSessionsFirst)
{
    QList<std::pair<qsizetype, const MacTab*>> pairs;
    for (const char* name : {"a", "c", "b"})
        pairs.append({pairs.size(), model.makeTab(local(), MacProject{QString(), QString(), QString::fromLatin1(name)})});
    std::stable_sort(pairs.begin(), pairs.end(), [](const auto& x, const auto& y) {
        return hostOrderBefore(x, y, {QStringLiteral("b"), QStringLiteral("a")});
    });
    QString sorted;
    for (const auto& pair : pairs)
        sorted += pair.second->project.session;
    EXPECT_EQ(sorted, QStringLiteral("bac"));
}

TEST_F(ModelFixture, ScriptsRaiseTheWriteEpochTwiceWhateverTheOutcome)
{
    host.answer = [](const QString&) { return ShellError{Shell::timeoutMessage()}; };
    MacConnection& connection = server("p1");
    wait(model.runRemote(connection, QStringLiteral("tmux set x\n")));
    EXPECT_EQ(connection.writeEpoch, 2);
    EXPECT_EQ(host.scripts, QStringList{QStringLiteral("tmux set x\ntrue\n")});

    model.toggleHidden(QStringLiteral("web"), true, connection);
    model.toggleHidden(QStringLiteral("web"), true, connection);
    EXPECT_EQ(prefs.hidden(QStringLiteral("p1")), QSet<QString>{QStringLiteral("web")});
    EXPECT_EQ(host.scripts.size(), 3);
    EXPECT_EQ(host.scripts.last(), uploadSharedPrefsScript({}, {QStringLiteral("web")}) + QStringLiteral("true\n"));
}

TEST_F(ModelFixture, RefreshKeepsAFailedRootsProjectsAndClosesSubFolders)
{
    const QString one = QStringLiteral("/one");
    const QString two = QStringLiteral("/two");
    prefs.setProjectsRoots({one, two});
    host.folders = {{one, {QStringLiteral("a")}}, {two, {QStringLiteral("b")}}, {QStringLiteral("/one/a"), {QStringLiteral("x")}}};
    host.answer = [](const QString& script) -> ShellResult<QString> {
        if (!script.contains(QStringLiteral("/one/a/x")))
            return QStringLiteral("/one/a|@|main|@|1\n/two/b|@|dev|@|\n");
        return QStringLiteral("/one/a/x|@|sub|@|\n");
    };
    wait(model.refreshProjects(local()));
    ASSERT_EQ(local().projects().size(), 2);
    EXPECT_EQ(local().gitInfo().value(QStringLiteral("/one/a")), (GitInfo{QStringLiteral("main"), true}));

    // Open, close and open again: listed once; the sub-folder probe keeps the top marks.
    for (int i = 0; i < 3; ++i)
        wait(model.loadSubprojects(QStringLiteral("/one/a"), local()));
    EXPECT_EQ(host.listed.count(QStringLiteral("/one/a")), 1);
    EXPECT_TRUE(local().expanded().contains(QStringLiteral("/one/a")));
    EXPECT_EQ(local().gitInfo().size(), 3);

    // The second root does not answer, and the probe fails: nothing of it is lost.
    host.folders = {{one, {QStringLiteral("a"), QStringLiteral("c")}}};
    host.answer = [](const QString&) { return ShellError{Shell::timeoutMessage()}; };
    wait(model.refreshProjects(local()));
    QStringList names;
    for (const MacProject& project : local().projects())
        names << project.path;
    EXPECT_EQ(names, (QStringList{QStringLiteral("/one/a"), QStringLiteral("/one/c"), QStringLiteral("/two/b")}));
    EXPECT_TRUE(local().expanded().isEmpty());
    EXPECT_TRUE(local().subprojects().isEmpty());
    EXPECT_EQ(local().gitInfo().value(QStringLiteral("/two/b")), (GitInfo{QStringLiteral("dev"), false}));

    // An empty root is an answer: its projects go.
    host.folders = {{one, {}}, {two, {}}};
    wait(model.refreshProjects(local()));
    EXPECT_TRUE(local().projects().isEmpty());

    prefs.setProjectsRoots({});
    const qsizetype probes = host.scripts.size();
    wait(model.refreshProjects(local()));
    EXPECT_EQ(host.scripts.size(), probes);
}

TEST_F(ModelFixture, FreshProjectsTakeTheFirstFreeNumber)
{
    const QString path = QStringLiteral("/srv/api");
    const QString base = tmuxSessionName(path);
    MacConnection& other = server("p2");
    open(other, path);
    EXPECT_EQ(model.freshProject(QStringLiteral("api"), path, local()), (MacProject{QStringLiteral("api"), path, base}));
    local().setLiveSessions({base, base + QStringLiteral("-2")});
    EXPECT_EQ(model.freshProject(QStringLiteral("api"), path, local()),
              (MacProject{QStringLiteral("api (3)"), path, base + QStringLiteral("-3")}));
}

TEST_F(ModelFixture, FolderSessionsMostRecentFirst)
{
    host.answer = [](const QString&) {
        return QStringLiteral("kq-a|/p|0|0|10|sh\nkq-b|/p|0|0|30|sh\nkq-o|/q|0|0|50|sh\nkq-c|/p|0|0|20|sh\n");
    };
    QStringList order;
    for (const FolderSession& session : wait(model.listFolderSessions(QStringLiteral("/p"), local())))
        order << session.name;
    EXPECT_EQ(order, (QStringList{QStringLiteral("kq-b"), QStringLiteral("kq-c"), QStringLiteral("kq-a")}));
    local().setTmuxAvailable(false);
    host.scripts.clear();
    EXPECT_TRUE(wait(model.listFolderSessions(QStringLiteral("/p"), local())).isEmpty());
    EXPECT_TRUE(host.scripts.isEmpty());
}

struct NameCase {
    const char* name;
    const char* given;
    const char* stored;
};

void PrintTo(const NameCase& c, std::ostream* os)
{
    *os << c.name;
}

class UploadNames : public testing::TestWithParam<NameCase> {};

TEST_P(UploadNames, OnlyPlainCharactersReachTheShell)
{
    EXPECT_EQ(cleanUploadName(QString::fromUtf8(GetParam().given)), QString::fromUtf8(GetParam().stored));
}

INSTANTIATE_TEST_SUITE_P(Cases, UploadNames,
                         testing::Values(NameCase{"blank", "my report.pdf", "my_report.pdf"},
                                         NameCase{"substitution", "$(touch x).png", "__touch_x_.png"},
                                         NameCase{"separator", "a;reboot.pdf", "a_reboot.pdf"},
                                         NameCase{"accented", "été-2.txt", "été-2.txt"},
                                         NameCase{"parent", "..", "_.."}, NameCase{"empty", "", "_"}),
                         test::ParamName());

TEST_F(ModelFixture, ImagesPastedInOneSecondGetNumbers)
{
    const MacTab& a = open(local(), QStringLiteral("/a"));
    const MacTab& b = open(local(), QStringLiteral("/b"));
    const QDateTime now(QDate(2026, 3, 4), QTime(5, 6, 7));
    EXPECT_EQ(model.pastedImageName(a, now), QStringLiteral("image-20260304-050607.png"));
    EXPECT_EQ(model.pastedImageName(a, now), QStringLiteral("image-20260304-050607-2.png"));
    EXPECT_EQ(model.pastedImageName(b, now), QStringLiteral("image-20260304-050607.png"));
    EXPECT_EQ(model.pastedImageName(a, now), QStringLiteral("image-20260304-050607-3.png"));
    EXPECT_EQ(model.pastedImageName(a, now.addSecs(1)), QStringLiteral("image-20260304-050608.png"));
}

TEST(Upload, AFailedWriteLeavesTheOldFileAndNoTemporary)
{
    test::TempFolder folder;
    const QString target = folder.file(QStringLiteral("Upload/x.txt"));
    EXPECT_EQ(writeFileReplacing(target, "new"), std::nullopt);
    EXPECT_EQ(test::readAll(target), QByteArray("new"));
    // A folder in the target's place cannot be replaced by a file.
    const QString blocked = folder.file(QStringLiteral("Upload/dir"));
    ASSERT_TRUE(QDir().mkpath(blocked + QStringLiteral("/inside")));
    EXPECT_NE(writeFileReplacing(blocked, "new"), std::nullopt);
    EXPECT_EQ(QDir(folder.file(QStringLiteral("Upload"))).entryList(QDir::Files), QStringList{QStringLiteral("x.txt")});
}

} // namespace
} // namespace halvoren
