// The workspace model against a fake host: the tab list, titles, colours, persistence, the
// script runner's write epoch, project refreshes and sub-folder lists, fresh sessions, the naming
// and writing of uploads, and how the file writers fail.
#include "workspace/MacModel.h"

#include "app/support/ApplicationSignals.h"
#include "app/support/WorkspaceModel.h"
#include "tab/MacTab.h"
#include "remote/SessionNaming.h"
#include "platform/AtomicFile.h"

#include <QDir>

#include <cerrno>
#include <cstring>

#include <sys/resource.h>
#include <unistd.h>

#include <gtest/gtest.h>

namespace halvoren {
namespace {

using test::ready;

void wait(Task<> task) { QCoro::waitFor(std::move(task)); }

// Answers scripts and folder listings from tables and records what was asked.
struct FakeHost {
    QStringList scripts;
    QStringList listed;
    std::function<ShellResult<QString>(const QString&)> answer = [](const QString& script) { return test::ranToItsEnd(script); };
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

struct Workspace : test::ModelInFolder {
    FakeHost host;
    Workspace() { host.install(model); }
    MacConnection& server(const QString& id)
    {
        MacProfile profile;
        profile.id = id;
        auto* connection = new MacConnection(std::make_shared<SSHLink>(profile));
        model.appendConnection(connection);
        return *connection;
    }
    // A tab of the folder at the end of the list, or outside it.
    MacTab& open(MacConnection& connection, const QString& path, bool insert = true)
    {
        MacTab* tab = model.makeTab(connection, MacProject{path.section(u'/', -1), path, tmuxSessionName(path)});
        if (insert)
            model.insertTab(tab, model.tabs().size());
        return *tab;
    }
};

struct ModelFixture : Workspace, testing::Test {};

TEST(MacModel, RemovingATabActivatesTheNeighbourAndStoresThePosition)
{
    // Tabs, the active one, the removed one, and the one active afterwards (-1: none).
    const struct {
        int count, active, removed, expectedActive;
    } cases[] = {{4, 2, 2, 3}, {3, 2, 2, 1}, {1, 0, 0, -1}, {3, 2, 0, 2}};
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::Message() << c.count << " tabs, " << c.active << " active, " << c.removed << " removed");
        Workspace w;
        QList<MacTab*> tabs;
        for (int i = 0; i < c.count; ++i)
            tabs << &w.open(w.local(), QStringLiteral("/r/p%1").arg(i));
        w.model.activate(*tabs.at(c.active));
        const QString survivor = c.expectedActive >= 0 ? tabs.at(c.expectedActive)->id() : QString();
        w.model.removeTab(*tabs.at(c.removed));
        ASSERT_EQ(w.model.tabs().size(), c.count - 1);
        EXPECT_EQ(w.model.activeTabID().value_or(QString()), survivor);
        EXPECT_EQ(w.prefs.activeTab(), std::max<qsizetype>(w.model.tabs().indexOf(w.model.activeTab()), 0));
        EXPECT_EQ(w.prefs.tabs(MacConnection::localID).size(), c.count - 1);
    }
}

// Messages queue: each is shown in turn, none replaces another, a text already shown or
// waiting is not queued again, and a full queue drops its oldest message for the newest.
TEST_F(ModelFixture, BannersWaitTheirTurn)
{
    using Step = std::pair<std::optional<QString>, std::optional<QString>>; // set, then shown
    const std::optional<QString> none;
    const QString a = QStringLiteral("a"), b = QStringLiteral("b"), c = QStringLiteral("c");
    const Step steps[] = {
        {a, a}, {b, a}, {a, a}, {b, a}, {c, a}, {none, b}, {none, c}, {c, c}, {none, none}, {none, none}, {b, b},
    };
    int notified = 0;
    QObject::connect(&model, &MacModel::bannerChanged, [&notified] { ++notified; });
    for (const auto& [set, shown] : steps) {
        model.setBanner(set);
        EXPECT_EQ(model.banner(), shown) << set.value_or(QStringLiteral("none")).toStdString();
    }
    EXPECT_EQ(notified, 5) << "a, b, c, none, b";
    model.clearBanners();
    // Twelve at once: the first is shown, the last eight wait, the three between are dropped.
    for (int i = 1; i <= 12; ++i)
        model.setBanner(QString::number(i));
    EXPECT_EQ(model.banner(), std::optional(QStringLiteral("1")));
    EXPECT_EQ(model.waitingBanners(), (QStringList{u"5"_qs, u"6"_qs, u"7"_qs, u"8"_qs, u"9"_qs, u"10"_qs, u"11"_qs, u"12"_qs}));
    model.setBanner(none);
    EXPECT_EQ(model.banner(), std::optional(QStringLiteral("5")));
    model.clearBanners();
    EXPECT_FALSE(model.banner().has_value());
    EXPECT_TRUE(model.waitingBanners().isEmpty());
}

// A quoted name or message is made visible before it is measured: a carriage return and line
// feed are one character to cut but two symbols on screen, so measured the other way round a
// text of many line ends would come out a third too long for its room.
TEST(BannerQuote, IsMadeVisibleOnOneLineThenCutToItsColumns)
{
    const QString crlf = QStringLiteral("\u240D\u240A"), more = QString(QChar(0x2026));
    const struct { QString text; qsizetype columns; QString quoted; } cases[] = {
        {QStringLiteral("ab\r\n").repeated(100), 60,
         (QStringLiteral("ab") + crlf).repeated(4) + QStringLiteral("ab\u240D") + more + (QStringLiteral("ab") + crlf).repeated(10)},
        {QStringLiteral("a\r\nb"), 60, QStringLiteral("a") + crlf + QStringLiteral("b")},
        {QString(60, u'x'), 60, QString(60, u'x')},
        {QString(61, u'x'), 60, QString(19, u'x') + more + QString(40, u'x')},
        {QStringLiteral("\u202Elive\tgnp"), 60, QStringLiteral("\uFFFDlive\u2409gnp")},
    };
    for (const auto& c : cases) {
        const QString quoted = bannerQuote(c.text, c.columns);
        EXPECT_EQ(quoted.toStdString(), c.quoted.toStdString());
        EXPECT_LE(quoted.size(), c.columns) << quoted.toStdString();
    }
}

TEST_F(ModelFixture, TitlesNameTheFirstFolderUnderTheRootUnlessLabelled)
{
    prefs.setProjectsRoots({QStringLiteral("/home/ana/projets")});
    const QStringList cases[] = {{"/home/ana/projets/client/app", "client / app", "projets/client/app"},
                                 {"/home/ana/projets/app", "app", "projets/app"},
                                 {"/srv/app", "app", "/srv/app"}};
    for (const QStringList& c : cases) {
        const MacTab& tab = open(local(), c[0]);
        EXPECT_EQ(model.tabTitle(tab) + u'|' + model.tabSubtitle(tab), c[1] + u'|' + c[2]);
    }
    const MacTab& tab = *model.tabs().front();
    model.renameTab(tab, QStringLiteral(" \tMine "));
    EXPECT_EQ(model.tabTitle(tab), QStringLiteral("Mine"));
    model.renameTab(tab, QStringLiteral("  "));
    EXPECT_EQ(model.tabTitle(tab), QStringLiteral("client / app"));
    EXPECT_TRUE(prefs.tabLabels().isEmpty());
}

// A root for this run only is listed, titled and refreshed as a stored one is, once however it
// is written, and the preferences never hold it: adding or removing a stored root writes the
// stored ones alone.
TEST_F(ModelFixture, ExtraRootsCountForThisRunOnly)
{
    prefs.setProjectsRoots({QStringLiteral("/one")});
    model.extraProjectsRoots = {QStringLiteral("/one/."), QStringLiteral("/two"), QStringLiteral("/two/"), QString()};
    EXPECT_EQ(local().projectRoots().join(u' '), QStringLiteral("/one /two"));
    host.folders = {{QStringLiteral("/one"), {QStringLiteral("a")}}, {QStringLiteral("/two"), {QStringLiteral("b")}}};
    wait(model.refreshProjects(local()));
    ASSERT_EQ(local().projects().size(), 2);
    EXPECT_EQ(local().projects()[1].path, QStringLiteral("/two/b"));
    const MacTab& tab = open(local(), QStringLiteral("/two/b/c"));
    EXPECT_EQ(model.tabTitle(tab) + u'|' + model.tabSubtitle(tab), QStringLiteral("b / c|two/b/c"));
    const std::pair<std::function<Task<>()>, const char*> changes[] = {
        {[&] { return model.addProjectsRoot(QStringLiteral("/three")); }, "/one /three"},
        {[&] { return model.removeProjectsRoot(QStringLiteral("/two")); }, "/one /three"},
        {[&] { return model.removeProjectsRoot(QStringLiteral("/one")); }, "/three"},
    };
    for (const auto& [change, stored] : changes) {
        wait(change());
        store.flush();
        EXPECT_EQ(PreferenceStore(store.path()).stringListValue(Prefs::projectsRootsKey).value_or(QStringList()).join(u' '),
                  QLatin1String(stored));
    }
    EXPECT_EQ(local().projectRoots().join(u' '), QStringLiteral("/three /one/. /two"));
}

TEST_F(ModelFixture, RemoteColoursFollowConnectionOrderAndWrap)
{
    for (int i = 1; i <= 7; ++i)
        server(QStringLiteral("p%1").arg(i));
    EXPECT_NE(model.connectionColor(QStringLiteral("p1")), model.connectionColor(QStringLiteral("p6")));
    EXPECT_EQ(model.connectionColor(QStringLiteral("p7")), model.connectionColor(QStringLiteral("p1")));
    EXPECT_EQ(model.connectionColor(QStringLiteral("gone")), model.connectionColor(MacConnection::localID));
}

TEST_F(ModelFixture, NewTabsFollowTheirConnectionsLastTab)
{
    MacConnection& a = server(QStringLiteral("pA"));
    MacConnection& b = server(QStringLiteral("pB"));
    open(a, QStringLiteral("/a1"));
    open(b, QStringLiteral("/b1"));
    open(a, QStringLiteral("/a2"));
    EXPECT_EQ(model.insertionIndex(open(b, QStringLiteral("/b2"), false)), 2);
    EXPECT_EQ(model.insertionIndex(open(server(QStringLiteral("pC")), QStringLiteral("/c1"), false)), 3);
    model.persistTabs();
    EXPECT_EQ(prefs.activeTab(), 0);
    EXPECT_TRUE(prefs.tabs(QStringLiteral("pC")).isEmpty());
    EXPECT_TRUE(store.contains(Prefs::tabsKey(QStringLiteral("pC"))));
    const QList<PersistedTab> ofA = prefs.tabs(QStringLiteral("pA"));
    ASSERT_EQ(ofA.size(), 2);
    EXPECT_EQ(ofA[1], (PersistedTab{QStringLiteral("a2"), QStringLiteral("/a2"), tmuxSessionName(QStringLiteral("/a2"))}));
}

TEST_F(ModelFixture, ScriptsRaiseTheWriteEpochTwiceAndAreDoneOnlyWhenTheyRanToTheirEnd)
{
    MacConnection& connection = server(QStringLiteral("p1"));
    ShellError refused{QStringLiteral("mux_client_request_session: session request failed")};
    refused.sharedConnectionRefused = true;
    struct Case {
        std::function<ShellResult<QString>(const QString&)> answer;
        bool done;
        bool refused;
        QString reason;
    };
    const Case cases[] = {
        {[](const QString& script) { return test::ranToItsEnd(script); }, true, false, {}},
        // ssh worked, but the script stopped before its end (a step of it failed).
        {[](const QString&) { return QString(); }, false, false, {}},
        {[](const QString& script) { return test::ranToItsEnd(script) + QStringLiteral("more\n"); }, false, false, {}},
        {[](const QString&) { return ShellError{Shell::timeoutMessage()}; }, false, false, Shell::timeoutMessage()},
        {[refused](const QString&) { return refused; }, false, true, refused.message},
    };
    int epoch = 0;
    for (const Case& c : cases) {
        host.answer = c.answer;
        host.scripts.clear();
        const HostWrite written = QCoro::waitFor(model.runRemote(connection, QStringLiteral("tmux set x\n")));
        EXPECT_EQ(written.done, c.done);
        EXPECT_EQ(written.refused, c.refused);
        EXPECT_EQ(written.reason, c.reason);
        EXPECT_EQ(connection.writeEpoch, epoch += 2);
        ASSERT_EQ(host.scripts.size(), 1);
        EXPECT_TRUE(host.scripts.front().startsWith(QStringLiteral("tmux set x\necho hv-fin-"))) << host.scripts.front().toStdString();
    }
    host.answer = [](const QString&) { return ShellError{Shell::timeoutMessage()}; };
    host.scripts.clear();
    // As after a listing that read the host's shared-state file; its answers carry bare markers.
    connection.sharedStateRead = true;
    model.listingNonce = [] { return QString(); };
    model.toggleHidden(QStringLiteral("web"), true, connection);
    model.toggleHidden(QStringLiteral("web"), true, connection);
    EXPECT_EQ(prefs.hidden(QStringLiteral("p1")), QSet<QString>{QStringLiteral("web")});
    EXPECT_EQ(host.scripts.size(), 2);
    EXPECT_TRUE(host.scripts.last().startsWith(uploadSharedPrefsScript({}, {QStringLiteral("web")}, std::nullopt) + QStringLiteral("echo hv-fin-")));
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
    const QList<MacProject>& projects = local().projects();
    ASSERT_EQ(projects.size(), 3);
    EXPECT_EQ(projects[1].path + projects[2].path, QStringLiteral("/one/c/two/b"));
    EXPECT_TRUE(local().expanded().isEmpty());
    EXPECT_TRUE(local().subprojects().isEmpty());
    EXPECT_EQ(local().gitInfo().value(QStringLiteral("/two/b")), (GitInfo{QStringLiteral("dev"), false}));
    prefs.setProjectsRoots({});
    const qsizetype probes = host.scripts.size();
    wait(model.refreshProjects(local()));
    EXPECT_EQ(host.scripts.size(), probes);
}

TEST_F(ModelFixture, FreshProjectsTakeTheFirstFreeNumber)
{
    const QString path = QStringLiteral("/srv/api");
    const QString base = tmuxSessionName(path);
    open(server(QStringLiteral("p2")), path);
    EXPECT_EQ(model.freshProject(QStringLiteral("api"), path, local()), (MacProject{QStringLiteral("api"), path, base}));
    local().setLiveSessions({base, base + QStringLiteral("-2")});
    EXPECT_EQ(model.freshProject(QStringLiteral("api"), path, local()),
              (MacProject{QStringLiteral("api (3)"), path, base + QStringLiteral("-3")}));
}

TEST(Upload, NamesKeepOnlyCharactersPlainInAShell)
{
    const std::pair<const char*, const char*> cases[] = {
        {"my report.pdf", "my_report.pdf"}, {"$(touch x).png", "__touch_x_.png"}, {"a;b`c'.pdf", "a_b_c_.pdf"},
        {"été-2.txt", "été-2.txt"}, {"..", "_.."},
        // Marks stay with their letters; format characters, which reorder or hide text, go.
        {"हिंदी नोट्स.txt", "हिंदी_नोट्स.txt"}, {"محمّد.txt", "محمّد.txt"}, {"cafe\u0301.txt", "cafe\u0301.txt"},
        {"a\u20dd.txt", "a\u20dd.txt"}, {"gnp\u202e.exe", "gnp_.exe"}, {"a\u200bb.txt", "a_b.txt"},
        {"\u0301", "\u0301"}};
    for (const auto& [given, stored] : cases)
        EXPECT_EQ(cleanUploadName(QString::fromUtf8(given)).toStdString(), stored);
}

TEST_F(ModelFixture, ImagesPastedInOneSecondGetNumbers)
{
    const MacTab &a = open(local(), QStringLiteral("/a"), false), &b = open(local(), QStringLiteral("/b"), false);
    const QDateTime now(QDate(2026, 3, 4), QTime(5, 6, 7));
    EXPECT_EQ(model.pastedImageName(a, now), QStringLiteral("image-20260304-050607.png"));
    EXPECT_EQ(model.pastedImageName(a, now), QStringLiteral("image-20260304-050607-2.png"));
    EXPECT_EQ(model.pastedImageName(b, now), QStringLiteral("image-20260304-050607.png"));
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
    EXPECT_EQ(QDir(folder.file(QStringLiteral("Upload"))).entryList(QDir::Files | QDir::Hidden), QStringList{QStringLiteral("x.txt")});
}

// A write the file system stops part-way is reported with the system's own words, as a server
// reports it; the old file stays and no temporary file is left.
TEST(Upload, AWriteStoppedPartWaySaysWhy)
{
    test::TempFolder folder;
    const QString target = folder.file(QStringLiteral("Upload/x.txt"));
    ASSERT_EQ(writeFileReplacing(target, "old"), std::nullopt);
    // Past this size a write fails with EFBIG, as one on a full disk fails with ENOSPC.
    // The application's own signal set-up is what keeps the process alive past it.
    const test::ApplicationSignals applicationSignals;
    rlimit before{};
    ASSERT_EQ(::getrlimit(RLIMIT_FSIZE, &before), 0);
    rlimit limited = before;
    limited.rlim_cur = 4096;
    ASSERT_EQ(::setrlimit(RLIMIT_FSIZE, &limited), 0);
    const std::optional<QString> failure = writeFileReplacing(target, QByteArray(65536, 'x'));
    ::setrlimit(RLIMIT_FSIZE, &before);
    EXPECT_EQ(failure.value_or(QStringLiteral("(none)")).toStdString(), std::strerror(EFBIG));
    EXPECT_EQ(test::readAll(target), QByteArray("old"));
    EXPECT_EQ(QDir(folder.file(QStringLiteral("Upload"))).entryList(QDir::Files | QDir::Hidden), QStringList{QStringLiteral("x.txt")});
}

// The file system's rarer refusals, through the stand-ins for its calls: a write that takes
// nothing and says nothing (tried again, it would take nothing for ever) and a close that
// reports the failure of writes it had taken. The uploads' writer and the one of the
// preferences each say why, keep the old file and leave no temporary file.
TEST(FileWriters, AWriteThatTakesNothingOrACloseThatFailsKeepsTheOldFile)
{
    struct CallsReset {
        ~CallsReset() { fileCallsForTests() = {}; }
    } reset;
    // Past a few writes that take nothing the stand-in refuses with another reason, so that a
    // writer that keeps trying still ends, and says the wrong thing.
    constexpr int writesAllowed = 3;
    int writes = 0;
    const auto takesNothing = [&writes](int, const char*, std::size_t) -> ssize_t {
        if (++writes > writesAllowed) {
            errno = ENOSPC;
            return -1;
        }
        return 0;
    };
    const auto closeFails = [](int descriptor) {
        ::close(descriptor);
        errno = EIO;
        return -1;
    };
    // A failure that gives no reason is still a failure.
    const auto closeFailsSilently = [](int descriptor) {
        ::close(descriptor);
        errno = 0;
        return -1;
    };
    const QString pid = QString::number(::getpid());
    const struct {
        const char* name;
        std::function<std::optional<QString>(const QString&, const QByteArray&)> write;
        // What the failure names before the system's reason.
        std::function<QString(const QString&)> names;
    } writers[] = {
        {"upload", [](const QString& target, const QByteArray& bytes) { return writeFileReplacing(target, bytes); },
         [](const QString&) { return QString(); }},
        {"preferences",
         [](const QString& target, const QByteArray& bytes) { return writeFileAtomically(target, bytes); },
         [&pid](const QString& target) { return target + QStringLiteral(".tmp.") + pid + QStringLiteral(": "); }},
    };
    const struct {
        const char* name;
        FileCallsForTests calls;
    } faults[] = {{"write takes nothing", {takesNothing, {}}},
                  {"close fails", {{}, closeFails}},
                  {"close fails without a reason", {{}, closeFailsSilently}}};
    for (const auto& writer : writers) {
        for (const auto& fault : faults) {
            SCOPED_TRACE(std::string(writer.name) + ", " + fault.name);
            test::TempFolder folder;
            const QString target = folder.file(QStringLiteral("x.txt"));
            ASSERT_EQ(writer.write(target, "old"), std::nullopt);
            writes = 0;
            fileCallsForTests() = fault.calls;
            const std::optional<QString> failure = writer.write(target, "new");
            fileCallsForTests() = {};
            EXPECT_EQ(failure.value_or(QStringLiteral("(none)")).toStdString(),
                      (writer.names(target) + QString::fromLocal8Bit(std::strerror(EIO))).toStdString());
            EXPECT_LE(writes, writesAllowed);
            EXPECT_EQ(test::readAll(target), QByteArray("old"));
            EXPECT_EQ(QDir(folder.path()).entryList(QDir::Files | QDir::Hidden), QStringList{QStringLiteral("x.txt")});
        }
    }
}

} // namespace
} // namespace halvoren
