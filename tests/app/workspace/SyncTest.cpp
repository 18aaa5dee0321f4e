// Following a fake host on a clock the tests move: listings older than a write, the reorder
// hold-off, the young-tab protection, the restart hold-off, activity arming and the
// finished-command decision, and the poll rhythm.
#include "workspace/MacModel.h"

#include "app/support/WorkspaceModel.h"
#include "app/workspace/PrivateTmux.h"
#include "tab/MacTab.h"
#include "remote/FolderSessions.h"
#include "remote/ServerState.h"
#include "remote/SessionNaming.h"
#include "remote/TmuxCommands.h"

#include <QRegularExpression>
#include <QTest>
#include <QTimer>

#include <gtest/gtest.h>

namespace halvoren {
namespace {

using test::ready;

// One listing row of a session open as a tab.
QString row(const QString& path, int order, bool synced = true)
{
    return tmuxSessionName(path) + QStringLiteral("\t1\t") + QString::number(order) + u'\t' + path.section(u'/', -1)
         + u'\t' + path + QStringLiteral("\t\t") + (synced ? QStringLiteral("1") : QString()) + u'\n';
}

struct SyncFixture : test::ClockedModel, testing::Test {
    // What the host lists, before the marker.
    QString rows;
    QString shared = QStringLiteral("{\"favorites\":[],\"hidden\":[]}");
    // Runs while the host answers a listing.
    std::function<void(MacConnection&)> duringListing;

    SyncFixture()
    {
        model.isFrontmost = [] { return false; };
        // The fake host answers with the bare markers.
        model.listingNonce = [] { return QString(); };
        model.runScript = [this](MacConnection& connection, QString script, double) -> Task<ShellResult<QString>> {
            if (script != listingScript())
                return ready(ShellResult<QString>(test::ranToItsEnd(script)));
            if (duringListing)
                duringListing(connection);
            return ready(ShellResult<QString>(rows + QStringLiteral("\n@@HV_SHARED@@\n") + shared));
        };
        local().tabSyncReady = true;
    }
    // A tab a listing opens runs a real shell, whose attach ends at once on the private server,
    // and the tab's end asks for a sync of its own. A request made while that one runs is only
    // queued behind it and returns at once: wait until the connection is idle, so every
    // listing asked for has been applied before the test looks.
    void sync()
    {
        QCoro::waitFor(model.requestSync(local()));
        ASSERT_TRUE(QTest::qWaitFor([this] { return !local().syncing; }, 30000)) << "a sync never ended";
    }
    QStringList sessions() const
    {
        QStringList names;
        for (const MacTab* tab : model.tabs())
            names << tab->project.session;
        return names;
    }
    MacTab& listedTab(const QString& path)
    {
        MacTab* tab = model.makeTab(local(), MacProject{path.section(u'/', -1), path, tmuxSessionName(path)});
        model.insertTab(tab, model.tabs().size());
        return *tab;
    }
};

TEST_F(SyncFixture, ListingOlderThanAWriteOpensNothingAndKeepsTheSets)
{
    rows = row(QStringLiteral("/p/a"), 1);
    shared = QStringLiteral("{\"favorites\":[\"a\"],\"hidden\":[]}");
    duringListing = [](MacConnection& connection) { ++connection.writeEpoch; };
    sync();
    EXPECT_TRUE(model.tabs().isEmpty());
    EXPECT_TRUE(local().favorites().isEmpty());
    EXPECT_TRUE(local().liveSessions().contains(tmuxSessionName(QStringLiteral("/p/a"))));

    duringListing = nullptr;
    sync();
    EXPECT_EQ(sessions(), QStringList{tmuxSessionName(QStringLiteral("/p/a"))});
    EXPECT_EQ(local().favorites(), QSet<QString>{QStringLiteral("a")});
    EXPECT_EQ(prefs.favorites(MacConnection::localID), QSet<QString>{QStringLiteral("a")});
}

// The tags hold a path with its line breaks and tabs made blanks; a tab rebuilt from them opens
// the real folder when a known folder of that session cleans to the stored text.
TEST_F(SyncFixture, ListedTabOpensTheRealFolderOfACleanedPath)
{
    const QString project = QStringLiteral("/p/nl\nx");
    const QString saved = QStringLiteral("/p/t\tab");
    const QString unknown = QStringLiteral("/p/lost\nfolder");
    local().setProjects({MacProject{QStringLiteral("nl\nx"), project, tmuxSessionName(project)}});
    prefs.setTabs(MacConnection::localID, {PersistedTab{QStringLiteral("t"), saved, tmuxSessionName(saved)}});
    const auto cleanedRow = [](const QString& path, const QString& session, int order) {
        return session + QStringLiteral("\t1\t") + QString::number(order) + QStringLiteral("\tname\t") +
               QString(path).replace(u'\n', u' ').replace(u'\t', u' ') + QStringLiteral("\t\t1\n");
    };
    rows = cleanedRow(project, tmuxSessionName(project), 1) + cleanedRow(saved, tmuxSessionName(saved), 2) +
           cleanedRow(project, tmuxSessionName(project) + QStringLiteral("-2"), 3) +
           cleanedRow(unknown, tmuxSessionName(unknown), 4) +
           // The same cleaned text under another folder's session: not that folder.
           cleanedRow(project, tmuxSessionName(QStringLiteral("/p/nl x")), 5);
    sync();
    QStringList paths;
    for (const MacTab* tab : model.tabs())
        paths << tab->project.path;
    EXPECT_EQ(paths, (QStringList{project, saved, project, QStringLiteral("/p/lost folder"), QStringLiteral("/p/nl x")}));
}

TEST_F(SyncFixture, UserOpenedTabHoldsTheHostOrderForTenSeconds)
{
    MacTab& a = listedTab(QStringLiteral("/p/a"));
    MacTab& b = listedTab(QStringLiteral("/p/b"));
    b.openedAt = clock->now();
    rows = row(QStringLiteral("/p/b"), 1) + row(QStringLiteral("/p/a"), 2);
    sync();
    EXPECT_EQ(model.tabs(), (QList<MacTab*>{&a, &b}));
    clock->advance(MacModel::reorderHoldOff);
    sync();
    EXPECT_EQ(model.tabs(), (QList<MacTab*>{&b, &a}));
    EXPECT_EQ(prefs.tabs(MacConnection::localID).front().tmux, b.project.session);
}

TEST_F(SyncFixture, YoungUnlistedTabStaysThenCloses)
{
    MacTab& mine = listedTab(QStringLiteral("/p/new"));
    mine.openedAt = clock->now();
    model.activate(mine);
    sync();
    EXPECT_EQ(model.tabs().size(), 1);
    clock->advance(10.5);
    sync();
    EXPECT_TRUE(model.tabs().isEmpty());
    EXPECT_FALSE(model.activeTabID().has_value());
}

TEST_F(SyncFixture, DeadTabRestartsOnlyThreeSecondsAfterItsStart)
{
    MacTab& tab = listedTab(QStringLiteral("/p/a"));
    const QDateTime started = clock->now();
    tab.startedAt = started;
    rows = row(QStringLiteral("/p/a"), 1);
    clock->advance(1);
    sync();
    EXPECT_EQ(tab.startedAt, started);
    clock->advance(2);
    sync();
    EXPECT_EQ(tab.startedAt, clock->now());
}

// A session that cannot be attached ends its tab at once. The listing its end asks for keeps
// two seconds from the previous one; after the second end in a row the tab stays closed
// whatever the host lists, until the user opens it again.
TEST_F(SyncFixture, ASessionThatEndsAtOnceIsNotReopenedAfterTwoTries)
{
    const QString path = QStringLiteral("/p/quits");
    const QString session = tmuxSessionName(path);
    rows = row(path, 1);
    int listings = 0;
    const auto host = model.runScript;
    model.runScript = [&listings, host](MacConnection& connection, QString script, double timeout) {
        listings += script == listingScript() ? 1 : 0;
        return host(connection, std::move(script), timeout);
    };
    const auto idle = [this] { return QTest::qWaitFor([this] { return !local().syncing; }, 30000); };
    sync();
    ASSERT_EQ(sessions(), QStringList{session});
    MacTab* tab = model.tabs().front();
    ASSERT_TRUE(QTest::qWaitFor([tab] { return !tab->isLive(); }, 10000)) << "the attach did not end";
    EXPECT_EQ(listings, 1) << "the end's listing waits";
    clock->advance(MacModel::quickExitWindow - 0.1);
    EXPECT_EQ(listings, 1);
    clock->advance(0.1);
    ASSERT_TRUE(idle());
    EXPECT_EQ(listings, 2);
    // Too soon to start it again; the next listing does, and it ends at once again.
    EXPECT_EQ(model.tabs(), QList<MacTab*>{tab});
    clock->advance(MacModel::restartHoldOff - MacModel::quickExitWindow);
    sync();
    ASSERT_TRUE(QTest::qWaitFor([this] { return model.tabs().isEmpty(); }, 10000)) << "started again without end";
    EXPECT_EQ(model.banner(),
              QStringLiteral("La session de quits se ferme dès son ouverture : elle n'est pas rouverte."));
    const int asked = listings;
    for (int poll = 0; poll < 3; ++poll) {
        clock->advance(MacModel::pollInterval);
        sync();
        EXPECT_TRUE(model.tabs().isEmpty());
    }
    EXPECT_EQ(listings, asked + 3);
    EXPECT_TRUE(prefs.tabs(MacConnection::localID).isEmpty());
    // Opened by the user, it tries again.
    model.openProject(MacProject{QStringLiteral("quits"), path, session}, local());
    EXPECT_EQ(sessions(), QStringList{session});
    for (MacTab* open : model.tabs())
        open->stop();
}

// A start whose listing does not answer opens no tab and keeps the saved tabs and the active
// position as they were: the next start restores them.
TEST_F(SyncFixture, AStartWhoseListingTimesOutKeepsTheSavedTabs)
{
    QList<PersistedTab> saved;
    QString listed;
    for (const char* name : {"a", "b", "c"}) {
        const QString path = QStringLiteral("/p/") + QLatin1String(name);
        saved << PersistedTab{QLatin1String(name), path, tmuxSessionName(path)};
        listed += row(path, int(saved.size()));
    }
    prefs.setTabs(MacConnection::localID, saved);
    prefs.setActiveTab(2);
    bool answering = false;
    QStringList written;
    const auto host = [&](MacConnection&, QString script, double) -> Task<ShellResult<QString>> {
        if (script.startsWith(QStringLiteral("command -v tmux")))
            return ready(ShellResult<QString>(QStringLiteral("/usr/bin/tmux\n")));
        if (script != listingScript()) {
            written << test::withoutCompletionLine(script);
            // A host whose tmux makes each session the seeding asks for says so.
            static const QRegularExpression made(QStringLiteral("echo (hv-seeded-[0-9a-f]+-made-[0-9]+)"));
            QString report;
            for (auto found = made.globalMatch(script); found.hasNext();)
                report += found.next().captured(1) + u'\n';
            return ready(ShellResult<QString>(report));
        }
        if (!answering)
            return ready(ShellResult<QString>(ShellError{Shell::timeoutMessage()}));
        // A host that never had a tab, then the tabs the seed wrote on it.
        return ready(ShellResult<QString>((written.isEmpty() ? QString() : listed) + QStringLiteral("\n@@HV_SHARED@@\n{}")));
    };
    const auto noFolders = [](MacConnection&, QString) { return ready(std::optional<QStringList>(QStringList{})); };
    model.runScript = host;
    model.listFolders = noFolders;
    QCoro::waitFor(model.start());
    EXPECT_TRUE(model.tabs().isEmpty());
    EXPECT_EQ(prefs.tabs(MacConnection::localID), saved);
    EXPECT_EQ(prefs.activeTab(), 2);
    // A tab opened meanwhile joins the saved ones rather than replacing them.
    listedTab(QStringLiteral("/p/d"));
    model.persistTabs();
    ASSERT_EQ(prefs.tabs(MacConnection::localID).size(), 4);
    model.removeTab(*model.tabs().front());
    EXPECT_EQ(prefs.tabs(MacConnection::localID), saved);

    MacModel next(prefs, nullptr, &notifier);
    next.clock = clock;
    next.isFrontmost = [] { return false; };
    next.listingNonce = [] { return QString(); };
    next.runScript = host;
    next.listFolders = noFolders;
    answering = true;
    written.clear();
    QCoro::waitFor(next.start());
    ASSERT_EQ(written.size(), 1);
    for (const PersistedTab& tab : saved)
        EXPECT_TRUE(written.front().contains(tab.tmux)) << "seeded";
    QStringList restored;
    for (const MacTab* tab : next.tabs())
        restored << tab->project.session;
    EXPECT_EQ(restored, (QStringList{saved.at(0).tmux, saved.at(1).tmux, saved.at(2).tmux}));
    ASSERT_EQ(next.tabs().size(), 3);
    EXPECT_EQ(prefs.tabs(MacConnection::localID), saved);
}

// Host data with sizes: the tabs opened from one listing, the names and paths, the shared
// state. Whatever is refused is reported once and nothing is written to the host for it.
struct HostDataFixture : SyncFixture {
    QStringList written;
    HostDataFixture()
    {
        model.runScript = [this](MacConnection&, QString script, double) -> Task<ShellResult<QString>> {
            if (script != listingScript()) {
                written << test::withoutCompletionLine(script);
                return ready(ShellResult<QString>(test::ranToItsEnd(script)));
            }
            return ready(ShellResult<QString>(rows + QStringLiteral("\n@@HV_SHARED@@\n") + shared));
        };
    }
};

TEST_F(HostDataFixture, AListingOpensAtMostTheCapAndLeavesTheRestOnTheHost)
{
    for (int i = 0; i < MacModel::maximumHostOpenedTabs + 6; ++i)
        rows += row(QStringLiteral("/p/t%1").arg(i), i + 1);
    sync();
    EXPECT_EQ(model.tabs().size(), MacModel::maximumHostOpenedTabs);
    EXPECT_EQ(model.tabs().back()->project.path, QStringLiteral("/p/t63"));
    EXPECT_EQ(model.banner(), MacModel::hostTabsCappedMessage(local(), 6));
    model.setBanner(std::nullopt);
    clock->advance(MacModel::reorderHoldOff);
    sync();
    EXPECT_EQ(model.tabs().size(), MacModel::maximumHostOpenedTabs);
    EXPECT_FALSE(model.banner().has_value()) << "reported once";
    EXPECT_TRUE(written.isEmpty()) << written.join(u'\n').toStdString();
}

// Paths no known folder explains are checked with the host, but only for the tabs that can
// open: a listing of thousands of them asks no more than the cap.
TEST_F(HostDataFixture, FolderPathsAreAskedForTheTabsThatCanOpenOnly)
{
    for (int i = 0; i < MacModel::maximumHostOpenedTabs + 40; ++i)
        rows += row(QStringLiteral("/p/t %1").arg(i), i + 1);
    sync();
    EXPECT_EQ(model.tabs().size(), MacModel::maximumHostOpenedTabs);
    EXPECT_EQ(written.size(), MacModel::maximumHostOpenedTabs);
    EXPECT_TRUE(written.front().contains(QStringLiteral("#{session_path}"))) << written.front().toStdString();
}

// Names and paths of any folder are read; past 64 KiB a value is left out, each kind told
// once, and nothing is written to the host for it.
TEST_F(HostDataFixture, OverlongValuesAreLeftOutAndReportedOnce)
{
    const QString longName(maximumHostValueBytes + 1, u'n');
    const QString longPath = QStringLiteral("/p/") + QString(maximumHostValueBytes, u'q');
    QString cjk;
    for (int i = 0; i < 255; ++i)
        cjk += QChar(0x4E00 + i);
    const QString deep = QStringLiteral("/p/") + QString(4200, u'b') + u'/' + cjk;
    rows = tmuxSessionName(QStringLiteral("/p/a")) + QStringLiteral("\t1\t1\t") + longName + QStringLiteral("\t/p/a\t\t1\n")
         + QStringLiteral("kq-long-path\t1\t2\tq\t") + longPath + QStringLiteral("\t\t1\n")
         // A folder of 255 CJK characters deep below a path of 4,200 bytes is a tab like any other.
         + tmuxSessionName(deep) + QStringLiteral("-12\t1\t3\t") + cjk + QStringLiteral(" (12)\t") + deep
         + QStringLiteral("\t\t1\n");
    sync();
    ASSERT_EQ(model.tabs().size(), 2);
    EXPECT_EQ(model.tabs().at(0)->project.name, tmuxSessionName(QStringLiteral("/p/a")));
    EXPECT_EQ(model.tabs().at(1)->project.name, cjk + QStringLiteral(" (12)"));
    EXPECT_EQ(model.tabs().at(1)->project.path, deep);
    // The tab name and the path, each of its kind.
    EXPECT_EQ(local().reportedProblems.size(), 2);
    ASSERT_TRUE(model.banner().has_value());
    model.clearBanners();
    sync();
    EXPECT_FALSE(model.banner().has_value());
    EXPECT_TRUE(written.isEmpty());
}

// A row this computer cannot read (a value past 64 KiB, set by another client, say) is not
// its tab's end: the tab stays open as it is, neither closed nor started again, and the
// host's tags stay; only the user's close untags a session.
TEST_F(HostDataFixture, ARowTooLongToReadLeavesItsTabAndTheHostsTagsAlone)
{
    const QString path = QStringLiteral("/p/long");
    const QString session = QStringLiteral("kq-") + QString(maximumHostValueBytes, u'l');
    MacTab* tab = model.makeTab(local(), MacProject{QStringLiteral("long"), path, session});
    model.insertTab(tab, 0);
    tab->openedAt = clock->now();
    MacTab& other = listedTab(QStringLiteral("/p/a"));
    MacTab& moved = listedTab(QStringLiteral("/p/moved"));
    model.activate(*tab);
    // Another client set a path of megabytes on a tab open here.
    const QString huge = QStringLiteral("/p/") + QString(3 << 20, u'm');
    rows = session + QStringLiteral("\t1\t1\tlong\t") + path + QStringLiteral("\t\t1\n") + row(QStringLiteral("/p/a"), 2)
         + row(QStringLiteral("/p/b"), 3) + moved.project.session + QStringLiteral("\t1\t4\tmoved\t") + huge
         + QStringLiteral("\t\t1\n");
    const std::optional<QDateTime> started = moved.startedAt;
    for (int poll = 0; poll < 3; ++poll) {
        clock->advance(MacModel::reorderHoldOff);
        sync();
        ASSERT_EQ(model.tabs().size(), 4);
        EXPECT_TRUE(model.tabs().contains(tab) && model.tabs().contains(&moved)) << "closed and opened again";
        EXPECT_TRUE(model.tabs().contains(&other));
        // Those the host lists in its order, then the others.
        EXPECT_EQ(sessions(), (QStringList{other.project.session, tmuxSessionName(QStringLiteral("/p/b")), session,
                                           moved.project.session}));
        EXPECT_EQ(moved.startedAt, started) << "not started again";
        EXPECT_EQ(moved.project.path, QStringLiteral("/p/moved"));
        EXPECT_EQ(model.activeTabID(), tab->id());
    }
    EXPECT_TRUE(written.isEmpty()) << written.join(u'\n').left(200).toStdString();
    EXPECT_EQ(local().reportedProblems.size(), 2);
    EXPECT_EQ(prefs.tabs(MacConnection::localID).size(), 4);
    EXPECT_TRUE(model.closedTabs.isEmpty());
}

// A listing the server's shared connection had no session for until its time-out: the host
// answered, so nothing counts towards calling it silent, and the next poll lists again.
TEST_F(HostDataFixture, AListingTheSharedConnectionRefusedIsNoFailure)
{
    enum class Answer { listed, failed, refused };
    Answer answer = Answer::listed;
    model.runScript = [&](MacConnection&, QString, double) -> Task<ShellResult<QString>> {
        switch (answer) {
        case Answer::failed:
            return ready(ShellResult<QString>(ShellError{QStringLiteral("ssh: connect to host srv port 22: Connection refused")}));
        case Answer::refused:
            return ready(ShellResult<QString>(ShellError{sharedConnectionRefusedMessage(), true}));
        case Answer::listed:
            break;
        }
        return ready(ShellResult<QString>(rows + QStringLiteral("\n@@HV_SHARED@@\n") + shared));
    };
    const struct { Answer answer; int failures; bool unreachable; } steps[] = {
        {Answer::failed, 1, false}, {Answer::refused, 1, false}, {Answer::failed, 2, true},
        {Answer::refused, 2, true}, {Answer::listed, 0, false},  {Answer::refused, 0, false},
    };
    for (const auto& step : steps) {
        SCOPED_TRACE(&step - steps);
        answer = step.answer;
        sync();
        EXPECT_EQ(local().failures, step.failures);
        EXPECT_EQ(local().unreachable(), step.unreachable);
    }
    EXPECT_FALSE(model.banner().has_value());
}

// A seeding refused the same way never reached the host: the saved tabs stay to be seeded by
// the next listing, and nothing says the host could not list them.
TEST_F(HostDataFixture, ASeedingTheSharedConnectionRefusedIsTriedAgain)
{
    const QList<PersistedTab> saved{{QStringLiteral("a"), QStringLiteral("/p/a"), tmuxSessionName(QStringLiteral("/p/a"))}};
    prefs.setTabs(MacConnection::localID, saved);
    local().seedFromPersisted = true;
    int seedings = 0;
    model.runScript = [&](MacConnection&, QString script, double) -> Task<ShellResult<QString>> {
        if (script == listingScript())
            return ready(ShellResult<QString>(QStringLiteral("\n@@HV_SHARED@@\n") + shared));
        if (script.contains(QStringLiteral("@hv_sync 1")))
            ++seedings;
        return ready(ShellResult<QString>(ShellError{sharedConnectionRefusedMessage(), true}));
    };
    sync();
    EXPECT_EQ(seedings, 1);
    EXPECT_FALSE(model.banner().has_value()) << model.banner().value_or(QString()).toStdString();
    EXPECT_TRUE(local().seedFromPersisted);
    EXPECT_EQ(prefs.tabs(MacConnection::localID), saved);
    sync();
    EXPECT_EQ(seedings, 2);
}

TEST_F(HostDataFixture, AListingThatPrintsWithoutEndIsReportedOnce)
{
    model.runScript = [](MacConnection&, QString, double) -> Task<ShellResult<QString>> {
        return ready(ShellResult<QString>(ShellError{Shell::outputTooLargeMessage()}));
    };
    sync();
    EXPECT_EQ(local().failures, 1);
    EXPECT_EQ(model.banner(), Shell::outputTooLargeMessage());
    model.setBanner(std::nullopt);
    sync();
    EXPECT_EQ(local().failures, 2);
    EXPECT_FALSE(model.banner().has_value());
}

// A shared-state file over the size we read hides no tab and is neither adopted nor replaced
// (the whole road on real hosts is in LargeSharedStateTest.cpp); only a listing no write
// overtook tells the file is back within the size.
TEST_F(HostDataFixture, ASharedStateTooLargeHidesNoTabAndIsNeverReplaced)
{
    const QSet<QString> mine{QStringLiteral("mine")};
    local().setFavorites(mine);
    rows = row(QStringLiteral("/p/a"), 1);
    // Refused by the host's script, and by its size here should a host send it all the same.
    const QString cases[] = {
        QStringLiteral("@@HV_SHARED_TOO_LARGE@@\n"),
        QStringLiteral("{\"favorites\":[\"theirs\"],\"hidden\":[],\"pad\":\"") + QString(1 << 20, u'x') + QStringLiteral("\"}"),
    };
    for (const QString& text : cases) {
        shared = text;
        sync();
        sync();
        EXPECT_EQ(local().failures, 0);
        EXPECT_FALSE(local().unreachable());
        EXPECT_EQ(sessions(), QStringList{tmuxSessionName(QStringLiteral("/p/a"))});
        EXPECT_EQ(local().favorites(), mine);
        model.toggleFavorite(QStringLiteral("a"), local());
        model.toggleFavorite(QStringLiteral("a"), local());
        EXPECT_TRUE(model.banner() == MacModel::sharedStateKeptHereMessage()
                    || model.waitingBanners().contains(MacModel::sharedStateKeptHereMessage()));
        model.clearBanners();
    }
    EXPECT_TRUE(written.isEmpty()) << "no upload over the host's file: " << written.join(u'\n').toStdString();

    shared = QStringLiteral("{\"favorites\":[\"theirs\"],\"hidden\":[]}");
    duringListing = [](MacConnection& connection) { ++connection.writeEpoch; };
    model.runScript = [this](MacConnection& connection, QString script, double) -> Task<ShellResult<QString>> {
        if (script != listingScript()) {
            written << test::withoutCompletionLine(script);
            return ready(ShellResult<QString>(test::ranToItsEnd(script)));
        }
        if (duringListing)
            duringListing(connection);
        return ready(ShellResult<QString>(rows + QStringLiteral("\n@@HV_SHARED@@\n") + shared));
    };
    sync();
    model.toggleFavorite(QStringLiteral("a"), local());
    EXPECT_TRUE(written.isEmpty());
    duringListing = nullptr;
    // Back within the size: the change kept here goes on top of the host's sets, and up.
    sync();
    EXPECT_EQ(local().favorites(), (QSet<QString>{QStringLiteral("a"), QStringLiteral("theirs")}));
    // Asserted: the line after reads the last upload.
    ASSERT_EQ(written, QStringList{uploadSharedPrefsScript({QStringLiteral("a"), QStringLiteral("theirs")}, {}, std::nullopt)});
    model.toggleFavorite(QStringLiteral("a"), local());
    // Over the file the first one installed.
    EXPECT_EQ(written.last(), uploadSharedPrefsScript({QStringLiteral("theirs")}, {},
                                                      test::fakeSum(test::uploadedBytes(written.front()).value_or(""))));
    // The listing script measures the file before printing it.
    EXPECT_TRUE(listingScript().contains(QStringLiteral("-gt 1048576 ]; then printf '@@HV_SHARED_TOO_LARGE@@")));
}

// A shared-state file that is there but unreadable (invalid JSON, or what the listing prints for
// a folder, a pipe or a file without permission) is another client's to mend: it is never
// replaced, the user hears of it once, and the changes made meanwhile are put on top of the
// file once it reads again.
TEST_F(HostDataFixture, AnUnreadableSharedStateIsLeftAsItIsAndReportedOnce)
{
    rows = row(QStringLiteral("/p/a"), 1);
    const QString texts[] = {QStringLiteral("{\"favorites\":[\"keepme\",\"mine\","), QStringLiteral("@@HV_SHARED_UNREADABLE@@\n")};
    for (const QString& text : texts) {
        SCOPED_TRACE(text.toStdString());
        written.clear();
        model.clearBanners();
        local().reportedProblems.clear();
        local().setFavorites({QStringLiteral("mine")});
        local().setHidden({});
        shared = text;
        sync();
        EXPECT_EQ(model.banner(), sharedStateUnreadableMessage(HostKind::thisComputer));
        model.clearBanners();
        sync();
        EXPECT_FALSE(model.banner().has_value()) << "reported once";
        EXPECT_EQ(local().failures, 0);
        EXPECT_EQ(sessions(), QStringList{tmuxSessionName(QStringLiteral("/p/a"))});
        EXPECT_EQ(local().favorites(), QSet<QString>{QStringLiteral("mine")});
        model.toggleFavorite(QStringLiteral("web"), local());
        EXPECT_EQ(model.banner(), MacModel::sharedStateKeptHereMessage(true));
        model.toggleFavorite(QStringLiteral("mine"), local());
        model.toggleHidden(QStringLiteral("old"), true, local());
        sync();
        EXPECT_TRUE(written.isEmpty()) << written.join(u'\n').toStdString();

        // Mended by another client: its names stay, ours go on top, and the result goes up.
        shared = QStringLiteral("{\"favorites\":[\"keepme\",\"mine\"],\"hidden\":[\"h\"]}");
        sync();
        EXPECT_EQ(local().favorites(), (QSet<QString>{QStringLiteral("keepme"), QStringLiteral("web")}));
        EXPECT_EQ(local().hidden(), (QSet<QString>{QStringLiteral("h"), QStringLiteral("old")}));
        EXPECT_EQ(prefs.hidden(MacConnection::localID), local().hidden());
        EXPECT_EQ(written, QStringList{uploadSharedPrefsScript({QStringLiteral("keepme"), QStringLiteral("web")},
                                                               {QStringLiteral("h"), QStringLiteral("old")}, std::nullopt)});
        // Applied once: the next listing of the same file adopts it as it is.
        written.clear();
        sync();
        EXPECT_TRUE(written.isEmpty());
        EXPECT_EQ(local().favorites(), (QSet<QString>{QStringLiteral("keepme"), QStringLiteral("mine")}));
    }
}

// Before a listing has read the host's file, nothing is written over it: the change waits for
// the first listing, which puts it on top of whatever the file holds.
TEST_F(HostDataFixture, AChangeBeforeTheFirstListingWaitsForTheFileToBeRead)
{
    shared = QStringLiteral("{\"favorites\":[\"theirs\"],\"hidden\":[\"h\"]}");
    model.toggleFavorite(QStringLiteral("web"), local());
    EXPECT_TRUE(written.isEmpty());
    EXPECT_FALSE(model.banner().has_value());
    sync();
    EXPECT_EQ(local().favorites(), (QSet<QString>{QStringLiteral("theirs"), QStringLiteral("web")}));
    EXPECT_EQ(written, QStringList{uploadSharedPrefsScript({QStringLiteral("theirs"), QStringLiteral("web")},
                                                           {QStringLiteral("h")}, std::nullopt)});
}

// The file an upload script puts on the host, read back from its Base64 payload.
std::optional<SharedPrefs> uploadedFile(const QString& script, QByteArray* bytes = nullptr)
{
    const std::optional<QByteArray> uploaded = test::uploadedBytes(script);
    if (!uploaded)
        return std::nullopt;
    const QByteArray& decoded = *uploaded;
    if (bytes != nullptr)
        *bytes = decoded;
    return parseSharedPrefs(QString::fromUtf8(decoded));
}

// A name of any length on the host survives a change made here.
TEST_F(HostDataFixture, ALongFavouriteSurvivesAToggleHere)
{
    const QString longName(100, QChar(0x65E5));
    ASSERT_EQ(longName.toUtf8().size(), 300);
    shared = QStringLiteral("{\"favorites\":[\"api\",\"%1\"],\"hidden\":[\"%1\"],\"version\":1}").arg(longName);
    sync();
    model.toggleFavorite(QStringLiteral("web"), local());
    ASSERT_EQ(written.size(), 1);
    QByteArray bytes;
    const std::optional<SharedPrefs> file = uploadedFile(written.front(), &bytes);
    ASSERT_TRUE(file) << written.front().toStdString();
    EXPECT_EQ(file->favorites, (NameSet{QStringLiteral("api"), longName, QStringLiteral("web")}));
    EXPECT_EQ(file->hidden, NameSet{longName});
    EXPECT_TRUE(bytes.contains(longName.toUtf8()));
    EXPECT_TRUE(local().reportedProblems.isEmpty());
}

// A file at its size takes no more names: a change that adds one is kept here and said so,
// one that removes names goes up, and the name kept waits for room.
TEST_F(HostDataFixture, AFullSharedStateTakesRemovalsAndKeepsAdditionsHere)
{
    const QString head = QStringLiteral("{\"favorites\":[\"api\",\"");
    const QString tail = QStringLiteral("\"],\"hidden\":[],\"version\":1}");
    const QString filler(maximumSharedStateBytes - head.size() - tail.size(), u'z');
    shared = head + filler + tail;
    ASSERT_EQ(shared.toUtf8().size(), 1048576);
    sync();
    EXPECT_EQ(local().favorites(), (QSet<QString>{QStringLiteral("api"), filler}));
    const QString full = sharedStateFullMessage(HostKind::thisComputer);

    model.toggleFavorite(QStringLiteral("website"), local());
    EXPECT_TRUE(written.isEmpty()) << "a file past its size was written";
    EXPECT_EQ(model.banner(), full);
    EXPECT_TRUE(local().favorites().contains(QStringLiteral("website")));
    EXPECT_EQ(prefs.favorites(MacConnection::localID), local().favorites());
    model.clearBanners();
    // The next listings of the same file keep the change here and write nothing.
    sync();
    sync();
    EXPECT_TRUE(written.isEmpty());
    EXPECT_TRUE(local().favorites().contains(QStringLiteral("website")));

    // A removal goes up alone: the file gets smaller, the addition still waits.
    model.toggleFavorite(QStringLiteral("api"), local());
    ASSERT_EQ(written.size(), 1);
    QByteArray bytes;
    const std::optional<SharedPrefs> file = uploadedFile(written.front(), &bytes);
    ASSERT_TRUE(file);
    EXPECT_EQ(file->favorites, NameSet{filler});
    EXPECT_LT(bytes.size(), maximumSharedStateBytes);
    EXPECT_EQ(local().favorites(), (QSet<QString>{filler, QStringLiteral("website")}));

    // Hidden names count as much: hiding one while full is kept here too.
    written.clear();
    shared = QString::fromUtf8(bytes);
    sync();
    EXPECT_TRUE(written.isEmpty());
    model.toggleHidden(QStringLiteral("a-long-hidden-name"), true, local());
    EXPECT_TRUE(written.isEmpty());

    // Room made by another client: the names kept here go up.
    shared = QStringLiteral("{\"favorites\":[\"theirs\"],\"hidden\":[]}");
    sync();
    ASSERT_EQ(written.size(), 1);
    const std::optional<SharedPrefs> merged = uploadedFile(written.front());
    ASSERT_TRUE(merged);
    EXPECT_EQ(merged->favorites, (NameSet{QStringLiteral("theirs"), QStringLiteral("website")}));
    EXPECT_EQ(merged->hidden, NameSet{QStringLiteral("a-long-hidden-name")});
}

// Changes one after the other on a file with room and on a full one: after each, the sets
// here, the stored preference (sorted by UTF-16 units, unlike the file's code points) and
// what went up are those of the whole sets, and a change taken back writes the file as it was.
TEST_F(HostDataFixture, EveryChangeLeavesTheSetsThePreferenceAndTheFileOfTheWholeSets)
{
    const QString wide = QString(QChar(0xFF21));
    const QString astral = QString::fromUtf8("\xF0\x9D\x92\xB3");
    // The full file takes exactly its size.
    const QString filler(maximumSharedStateBytes - 48, u'z');
    struct Step {
        bool favorite;
        QString name;
        // The sets the file gets, or nothing when the change is kept here.
        std::optional<SharedPrefs> uploaded;
    };
    const struct {
        const char* about;
        QString file;
        QList<Step> steps;
    } cases[] = {
        {"room", QStringLiteral("{\"favorites\":[\"%1\",\"b\"],\"hidden\":[]}").arg(wide),
         {{true, astral, SharedPrefs{{astral, wide, QStringLiteral("b")}, {}}},
          {false, astral, SharedPrefs{{astral, wide, QStringLiteral("b")}, {astral}}},
          {true, wide, SharedPrefs{{astral, QStringLiteral("b")}, {astral}}},
          {false, astral, SharedPrefs{{astral, QStringLiteral("b")}, {}}}}},
        // Taking back an addition that never went up leaves the file as it is: nothing to write.
        {"full", QStringLiteral("{\"favorites\":[\"api\",\"%1\"],\"hidden\":[],\"version\":1}").arg(filler),
         {{true, QStringLiteral("website"), std::nullopt},
          {true, QStringLiteral("website"), std::nullopt},
          {false, astral, std::nullopt},
          {true, QStringLiteral("api"), SharedPrefs{{filler}, {astral}}},
          {true, QStringLiteral("api"), std::nullopt},
          {false, astral, SharedPrefs{{QStringLiteral("api"), filler}, {}}}}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.about);
        written.clear();
        shared = c.file;
        sync();
        ASSERT_TRUE(written.isEmpty());
        const std::optional<SharedPrefs> start = parseSharedPrefs(c.file);
        ASSERT_TRUE(start);
        QSet<QString> favorites(start->favorites.cbegin(), start->favorites.cend());
        QSet<QString> hidden;
        int index = 0;
        for (const Step& step : c.steps) {
            SCOPED_TRACE(index++);
            written.clear();
            if (step.favorite) {
                if (!favorites.remove(step.name))
                    favorites.insert(step.name);
                model.toggleFavorite(step.name, local());
            } else {
                const bool hide = !hidden.contains(step.name);
                hide ? void(hidden.insert(step.name)) : void(hidden.remove(step.name));
                model.toggleHidden(step.name, hide, local());
            }
            EXPECT_EQ(local().favorites(), favorites);
            EXPECT_EQ(local().hidden(), hidden);
            for (const auto& [key, names] : {std::pair{Prefs::favoritesKey(local().id), favorites},
                                              std::pair{Prefs::hiddenKey(local().id), hidden}}) {
                QStringList sorted(names.cbegin(), names.cend());
                std::sort(sorted.begin(), sorted.end());
                EXPECT_EQ(prefs.store().value(key), QJsonArray::fromStringList(sorted)) << key.toStdString();
            }
            if (!step.uploaded) {
                EXPECT_TRUE(written.isEmpty());
                continue;
            }
            ASSERT_EQ(written.size(), 1);
            EXPECT_EQ(uploadedFile(written.front()), step.uploaded);
        }
        model.clearBanners();
    }
}

// The views hear of each change of one name, and of nothing when a hide changes no set.
TEST_F(HostDataFixture, AChangeOfOneNameNotifiesWhenItChangesTheSet)
{
    sync();
    int favoriteSignals = 0;
    int hiddenSignals = 0;
    QObject::connect(&local(), &MacConnection::favoritesChanged, [&] { ++favoriteSignals; });
    QObject::connect(&local(), &MacConnection::hiddenChanged, [&] { ++hiddenSignals; });
    const QString web = QStringLiteral("web");
    const struct {
        std::function<void()> change;
        int favorites;
        int hidden;
    } steps[] = {
        {[&] { model.toggleFavorite(web, local()); }, 1, 0},
        {[&] { model.toggleFavorite(web, local()); }, 2, 0},
        {[&] { model.toggleHidden(web, true, local()); }, 2, 1},
        {[&] { model.toggleHidden(web, true, local()); }, 2, 1},
        {[&] { model.toggleHidden(web, false, local()); }, 2, 2},
        {[&] { model.toggleHidden(web, false, local()); }, 2, 2},
    };
    int index = 0;
    for (const auto& step : steps) {
        SCOPED_TRACE(index++);
        step.change();
        EXPECT_EQ(favoriteSignals, step.favorites);
        EXPECT_EQ(hiddenSignals, step.hidden);
    }
}

// A file whose names are `c` characters and that takes exactly `bytes` bytes in UTF-8: "api"
// and one long name, made up with ASCII to the byte.
QString sharedStateOfBytes(QChar c, qsizetype bytes)
{
    const QString head = QStringLiteral("{\"favorites\":[\"api\",\"");
    const QString tail = QStringLiteral("\"],\"hidden\":[],\"version\":1}");
    const qsizetype room = bytes - head.size() - tail.size();
    const qsizetype width = QString(c).toUtf8().size();
    return head + QString(room / width, c) + QString(room % width, u'a') + tail;
}

// The limit is in the bytes of the file, whatever the script of the names: a file of accented
// or CJK names that would be well within 1 MiB counted in UTF-16 units is full all the same.
// (What a listing reads is bounded in bytes too: HostProtocolsTest.cpp.)
void checkLimitInUtf8Bytes(HostDataFixture& fixture, QChar c)
{
    MacModel& model = fixture.model;
    MacConnection& local = fixture.local();
    // Adding "a" (four bytes with its quotes and comma) fills it to the byte.
    fixture.shared = sharedStateOfBytes(c, maximumSharedStateBytes - 4);
    ASSERT_LT(fixture.shared.size(), maximumSharedStateBytes * 2 / 3) << "well within the limit in UTF-16 units";
    fixture.sync();
    ASSERT_EQ(local.favorites().size(), 2);
    model.toggleFavorite(QStringLiteral("a"), local);
    ASSERT_EQ(fixture.written.size(), 1) << "a file of exactly the limit is written";
    QByteArray bytes;
    ASSERT_TRUE(uploadedFile(fixture.written.front(), &bytes));
    EXPECT_EQ(bytes.size(), maximumSharedStateBytes);

    fixture.written.clear();
    fixture.shared = QString::fromUtf8(bytes);
    fixture.sync();
    model.toggleFavorite(QStringLiteral("b"), local);
    EXPECT_TRUE(fixture.written.isEmpty()) << "a file past the limit was written";
    EXPECT_EQ(model.banner(), QStringLiteral("Le fichier ~/.halvoren/shared.json de cet ordinateur est plein (1 Mo) : ce "
                                             "changement n'y est pas écrit ; il n'est gardé ici que jusqu'à la fermeture."));
    EXPECT_TRUE(local.favorites().contains(QStringLiteral("b")));
}

TEST_F(HostDataFixture, TheSharedStateLimitCountsTheBytesOfAccentedNames)
{
    checkLimitInUtf8Bytes(*this, QChar(0x00E9));
}

TEST_F(HostDataFixture, TheSharedStateLimitCountsTheBytesOfCjkNames)
{
    checkLimitInUtf8Bytes(*this, QChar(0x65E5));
}

// A listing of the file as it was read or written, with the changes kept here already weighed
// against it, changes nothing; but a change made while the file could not be read is put on
// top of it even when the file comes back exactly as it was.
TEST_F(HostDataFixture, AChangeWhileTheFileWasUnreadableGoesUpOnTheSameFile)
{
    const QString file = QStringLiteral("{\"favorites\":[\"theirs\"],\"hidden\":[]}");
    shared = file;
    sync();
    sync();
    EXPECT_TRUE(written.isEmpty());
    shared = QStringLiteral("@@HV_SHARED_UNREADABLE@@\n");
    sync();
    model.toggleFavorite(QStringLiteral("web"), local());
    EXPECT_TRUE(written.isEmpty());
    shared = file;
    sync();
    EXPECT_EQ(written, QStringList{uploadSharedPrefsScript({QStringLiteral("theirs"), QStringLiteral("web")}, {}, std::nullopt)});
    EXPECT_EQ(local().favorites(), (QSet<QString>{QStringLiteral("theirs"), QStringLiteral("web")}));
}

// A file of tens of thousands of names is worked on a worker thread: a change made meanwhile
// goes on top of it, and up.
TEST_F(HostDataFixture, AChangeWhileManyNamesAreAdoptedIsKept)
{
    NameSet names;
    for (int i = 0; i < 20000; ++i)
        names.insert(QStringLiteral("p%1").arg(i));
    shared = encodeSharedPrefs(names, {});
    sync();
    ASSERT_TRUE(written.isEmpty());
    shared = encodeSharedPrefs(names, {QStringLiteral("gone")});
    bool toggled = false;
    QTimer during;
    during.setInterval(0);
    QObject::connect(&during, &QTimer::timeout, [&] {
        if (!toggled && local().syncing && !local().sharedStateRead) {
            toggled = true;
            model.toggleFavorite(QStringLiteral("p7"), local());
        }
    });
    during.start();
    sync();
    ASSERT_TRUE(toggled) << "the adoption ran on a worker thread";
    NameSet expected = names;
    expected.erase(QStringLiteral("p7"));
    EXPECT_EQ(local().favorites(), QSet<QString>(expected.cbegin(), expected.cend()));
    EXPECT_EQ(local().hidden(), QSet<QString>{QStringLiteral("gone")});
    EXPECT_EQ(written, QStringList{uploadSharedPrefsScript(expected, {QStringLiteral("gone")}, std::nullopt)});
}

// Two problems of one listing: the second message waits for the first instead of replacing it.
TEST_F(HostDataFixture, TheTabsCapWaitsBehindTheSessionsCap)
{
    const int others = int(maximumListedSessions) + 10;
    for (int i = 0; i < others; ++i)
        rows += QStringLiteral("kq-s%1\t\t\t\t\t\t1\n").arg(i);
    for (int i = 0; i < MacModel::maximumHostOpenedTabs + 6; ++i)
        rows += row(QStringLiteral("/p/t%1").arg(i), i + 1);
    sync();
    ASSERT_TRUE(model.banner().has_value());
    EXPECT_TRUE(model.banner()->startsWith(hostSessionsCappedMessage(1).section(u':', 0, 0)))
        << model.banner()->toStdString();
    EXPECT_EQ(model.waitingBanners(), QStringList{MacModel::hostTabsCappedMessage(local(), 6)});
    model.setBanner(std::nullopt);
    EXPECT_EQ(model.banner(), MacModel::hostTabsCappedMessage(local(), 6));
}

// A host listing far more sessions than any workspace shows: the sessions of the tabs, the
// saved tabs and the known folders stay wherever they are listed, the others past the bound
// are dropped, and the drop is reported once.
TEST_F(HostDataFixture, AListingPastTheBoundKeepsTheWorkspacesSessions)
{
    const QString project = tmuxSessionName(QStringLiteral("/p/proj"));
    const QString saved = tmuxSessionName(QStringLiteral("/p/saved"));
    local().setProjects({MacProject{QStringLiteral("proj"), QStringLiteral("/p/proj"), project}});
    prefs.setTabs(MacConnection::localID, {PersistedTab{QStringLiteral("saved"), QStringLiteral("/p/saved"), saved}});
    MacTab& tab = listedTab(QStringLiteral("/p/tab"));
    const int others = int(maximumListedSessions) + 1000;
    for (int i = 0; i < others; ++i)
        rows += QStringLiteral("kq-s%1\t\t\t\t\t\t1\n").arg(i);
    rows += project + QStringLiteral("\t\t\t\t\t\t1\n") + saved + QStringLiteral("\t\t\t\t\t\t1\n") +
            row(QStringLiteral("/p/tab"), 1);
    sync();
    const QSet<QString>& live = local().liveSessions();
    for (const QString& session : {project, saved, tab.project.session})
        EXPECT_TRUE(live.contains(session)) << session.toStdString();
    EXPECT_EQ(live.size(), maximumListedSessions + 3);
    EXPECT_TRUE(model.isProjectOpen(project, local()));
    EXPECT_EQ(model.tabs(), QList<MacTab*>{&tab});
    EXPECT_EQ(model.banner(), hostSessionsCappedMessage(others - maximumListedSessions));
    model.setBanner(std::nullopt);
    sync();
    EXPECT_FALSE(model.banner().has_value()) << "reported once";
    EXPECT_EQ(model.tabs(), QList<MacTab*>{&tab});
    EXPECT_TRUE(written.isEmpty()) << written.join(u'\n').toStdString();
}

// Counts the main event loop's turns until `done` is set: a read on the main thread would
// leave none.
struct LoopTurns {
    explicit LoopTurns(const bool& done)
    {
        timer.setInterval(0);
        QObject::connect(&timer, &QTimer::timeout, [this, &done] { before += done ? 0 : 1; });
        timer.start();
    }
    QTimer timer;
    int before = 0;
};

Task<> syncAndMark(MacModel* model, MacConnection* connection, bool* done)
{
    co_await model->requestSync(*connection);
    *done = true;
}

// A large listing is read off the main thread: its event loop keeps turning meanwhile.
TEST_F(SyncFixture, TheEventLoopTurnsWhileALargeListingIsRead)
{
    for (int i = 0; i < 200'000; ++i)
        rows += QStringLiteral("kq-s%1\t\t\t\t\t\t1\n").arg(i);
    bool done = false;
    const LoopTurns turns(done);
    QCoro::waitFor(syncAndMark(&model, &local(), &done));
    EXPECT_TRUE(done);
    EXPECT_GT(turns.before, 0);
    EXPECT_EQ(local().liveSessions().size(), maximumListedSessions);
}

Task<> listAndMark(MacModel* model, MacConnection* connection, QList<FolderSession>* sessions, bool* done)
{
    *sessions = co_await model->listFolderSessions(QStringLiteral("/p/a"), *connection);
    *done = true;
}

// A busy host's folder-session listing is read off the main thread, and only the folder's most
// recent sessions come back, bounded.
TEST_F(SyncFixture, TheEventLoopTurnsWhileALargeFolderListingIsRead)
{
    QString output;
    for (int i = 0; i < 200'000; ++i)
        output += QStringLiteral("kq-s%1|/p/%2|1|0|%3|sh\n")
                      .arg(i)
                      .arg(i % 2 ? QStringLiteral("a") : QStringLiteral("b"))
                      .arg(i / 2);
    model.runScript = [&output](MacConnection&, QString script, double) -> Task<ShellResult<QString>> {
        return ready(ShellResult<QString>(script == sessionListScript() ? output : QString()));
    };
    ASSERT_TRUE(local().tmuxAvailable());
    bool done = false;
    const LoopTurns turns(done);
    QList<FolderSession> sessions;
    QCoro::waitFor(listAndMark(&model, &local(), &sessions, &done));
    EXPECT_TRUE(done);
    EXPECT_GT(turns.before, 0);
    ASSERT_EQ(sessions.size(), maximumFolderSessions);
    EXPECT_EQ(sessions.front().name, QStringLiteral("kq-s199999"));
    EXPECT_EQ(sessions.back().name, QStringLiteral("kq-s%1").arg(200'000 - 2 * maximumFolderSessions + 1));
}

// Thousands of projects are probed in batches: each batch within the time-out, and a batch
// that fails loses only its own projects.
TEST_F(SyncFixture, GitStateIsProbedInBatches)
{
    QStringList paths;
    for (int i = 0; i < 2 * MacModel::gitProbeBatch + 10; ++i)
        paths << QStringLiteral("/p/project-%1").arg(i);
    int runs = 0;
    model.runScript = [&runs](MacConnection&, QString script, double) -> Task<ShellResult<QString>> {
        if (++runs == 2)
            return ready(ShellResult<QString>(ShellError{Shell::timeoutMessage()}));
        QString output;
        for (const QString& line : script.split(u'\n')) {
            if (line.startsWith(QStringLiteral("p='")))
                output += line.mid(3, line.size() - 4) + QStringLiteral("|@|main|@|\n");
        }
        return ready(ShellResult<QString>(output));
    };
    QCoro::waitFor(model.refreshGitInfo(local(), paths));
    EXPECT_EQ(runs, 3);
    EXPECT_EQ(local().gitInfo().size(), MacModel::gitProbeBatch + 10);
    EXPECT_TRUE(local().gitInfo().contains(paths.front()));
    EXPECT_FALSE(local().gitInfo().contains(paths.at(MacModel::gitProbeBatch)));
    EXPECT_TRUE(local().gitInfo().contains(paths.back()));
}

struct ActivityFixture : SyncFixture {
    MacTab* tab = nullptr;
    MacTab* other = nullptr;
    ActivityFixture()
    {
        local().setTmuxAvailable(false);
        tab = &listedTab(QStringLiteral("/p/agent"));
        other = &listedTab(QStringLiteral("/p/other"));
        model.activate(*other);
        clock->every(MacModel::activityInterval, &model, [this] { model.activityTick(); });
    }
    void burst(qsizetype bytes, bool prompt)
    {
        model.noteOutput(*tab, QString(bytes - (prompt ? 2 : 0), u'x') + (prompt ? QStringLiteral("$ ") : QString()));
    }
};

TEST_F(ActivityFixture, PromptBurstOnArmedBackgroundTabMarksItAfterTheDelay)
{
    model.noteInput(*tab);
    burst(300, false);
    burst(300, true);
    EXPECT_EQ(model.activityBytes.value(tab->id()), 0);
    clock->advance(1.4);
    EXPECT_FALSE(tab->attention());
    clock->advance(0.1);
    EXPECT_TRUE(tab->attention());
    EXPECT_FALSE(model.armed.contains(tab->id()));
}

TEST_F(ActivityFixture, QuietBurstCountsAboveFiveHundredBytes)
{
    model.noteInput(*tab);
    burst(500, false);
    clock->advance(6);
    EXPECT_FALSE(model.lastFinished.contains(tab->id()));
    burst(501, false);
    const QDateTime last = clock->now();
    clock->advance(3.9);
    EXPECT_FALSE(model.lastFinished.contains(tab->id()));
    clock->advance(2.1);
    EXPECT_EQ(model.lastFinished.value(tab->id()), last.addSecs(4));
}

TEST_F(ActivityFixture, ActivatingDuringTheDelayCancelsTheDecision)
{
    model.noteInput(*tab);
    model.noteBell(*tab);
    clock->advance(1);
    model.activate(*tab);
    clock->advance(1);
    EXPECT_FALSE(tab->attention());
    EXPECT_TRUE(model.armed.contains(tab->id()));
}

TEST_F(ActivityFixture, CancelledDecisionsAreFreedAtOnce)
{
    const qsizetype before = model.findChildren<QTimer*>().size();
    for (int k = 0; k < 100; ++k) {
        model.noteInput(*tab);
        model.noteBell(*tab);
        clock->advance(1);
        model.activate(*tab); // the user looks at the tab before the decision
        clock->advance(6);
    }
    EXPECT_EQ(model.findChildren<QTimer*>().size(), before);
    EXPECT_FALSE(tab->attention());
}

TEST_F(SyncFixture, PollsTheLocalHostEveryTickAndServersEveryOtherTick)
{
    local().setTmuxAvailable(false);
    MacProfile profile;
    profile.id = QStringLiteral("p1");
    model.appendConnection(new MacConnection(std::make_shared<SSHLink>(profile)));
    QStringList polled;
    model.runScript = [&polled](MacConnection& connection, QString script, double) {
        if (script == listingScript())
            polled << connection.id;
        return ready(ShellResult<QString>(QStringLiteral("\n@@HV_SHARED@@\n{}")));
    };
    for (int i = 0; i < 3; ++i)
        model.pollTick();
    EXPECT_EQ(polled, (QStringList{QStringLiteral("local"), QStringLiteral("local"), QStringLiteral("p1"),
                                   QStringLiteral("local")}));
}

} // namespace
} // namespace halvoren
