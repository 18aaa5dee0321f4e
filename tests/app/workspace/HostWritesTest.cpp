// Writes to a host that do not reach it: favourites and hidden projects stay pending (across a
// restart too) until a write of them lands, one write at a time; a close or a new tab order
// goes again while the host still shows what the user changed (across a restart too), gives
// way with a banner once the host changed it, and is done when the host shows it made; a
// session's end is never sent again, and told only when the next listing shows it running.
#include "workspace/MacModel.h"

#include "app/support/TempFolder.h"
#include "app/support/WorkspaceModel.h"
#include "remote/ServerState.h"
#include "remote/SessionNaming.h"
#include "remote/SharedPrefs.h"
#include "remote/TmuxCommands.h"
#include "tab/MacTab.h"

#include <QDir>
#include <QFile>
#include <QMap>
#include <QRegularExpression>
#include <QTest>
#include <qcoro/qcorotimer.h>

#include <gtest/gtest.h>

#include <chrono>
#include <functional>

namespace halvoren {
namespace {

using test::ready;

// A host that keeps its tabs and its shared-state file, applies the writes it is sent, and can
// be out of reach or refuse to write its file.
struct FakeHost {
    struct Row {
        QString name;
        QString path;
        qint64 order = 0;
        // When tmux made the session.
        qint64 created = 1700000000;
    };
    // noAnswer: the write runs to its end but prints no answer of its own. answerLost: a write
    // runs on the host, but the link drops before its answer comes.
    enum class Mode { answers, unreachable, fileReadOnly, noAnswer, answerLost };

    QMap<QString, Row> rows;
    // Sessions that run untagged, as tmux keeps them.
    QMap<QString, Row> untagged;
    QString shared = QStringLiteral("{\"favorites\":[],\"hidden\":[]}");
    Mode mode = Mode::answers;
    // Whether start-up's probe finds tmux (tabs are then restored).
    bool tmuxFound = false;
    QStringList writes;
    // Uploads of the file take a while, to see whether two run at once; other writes too, to
    // see what the user does meanwhile.
    bool slowUploads = false;
    bool slowWrites = false;
    int writesRunning = 0;
    int uploadsRunning = 0;
    int mostUploadsAtOnce = 0;
    // Runs as an upload reaches the file, before it is compared: another client's write.
    std::function<void(FakeHost&)> duringUpload;

    static QString unreachableReason() { return QStringLiteral("ssh: connect to host srv port 22: Connection refused"); }
    static QString readOnlyReason()
    {
        return QStringLiteral("sh: 1: cannot create /home/u/.halvoren/shared.json.tmp.41: Permission denied");
    }

    void add(const QString& path, qint64 order)
    {
        rows.insert(tmuxSessionName(path), Row{path.section(u'/', -1), path, order});
    }
    QString listing() const
    {
        QString text;
        for (auto row = rows.cbegin(); row != rows.cend(); ++row) {
            text += row.key() + QStringLiteral("\t1\t") + QString::number(row->order) + u'\t' + row->name + u'\t' + row->path
                  + QStringLiteral("\t\t1\t") + QString::number(row->created) + u'\n';
        }
        return text + QStringLiteral("\n@@HV_SHARED@@\n") + section();
    }
    // The file as the listing prints it after its marker line: none for a null `shared`, a
    // marker alone as it is.
    QString section() const
    {
        if (shared.isNull() || shared.startsWith(QStringLiteral("@@HV_SHARED_")))
            return shared;
        return QStringLiteral("@@HV_SUM@@ ") + sum() + u'\n' + shared;
    }
    QString sum() const { return shared.isNull() ? QStringLiteral("none") : test::fakeSum(shared.toUtf8()); }
    std::optional<SharedPrefs> file() const { return parseSharedPrefs(shared); }
    static QString expectedSum(const QString& script)
    {
        static const QRegularExpression expected(QStringLiteral("__hv_w=(none|'([^']*)')"));
        const QRegularExpressionMatch found = expected.match(script);
        return found.captured(2).isEmpty() ? found.captured(1) : found.captured(2);
    }

    Task<ShellResult<QString>> answer(QString script)
    {
        if (script == listingScript()) {
            if (mode == Mode::unreachable)
                co_return ShellError{unreachableReason()};
            co_return listing();
        }
        if (script == tmuxProbeScript() && tmuxFound)
            co_return QStringLiteral("/usr/bin/tmux\n");
        writes << script;
        const bool upload = script.contains(QStringLiteral("shared.json"));
        if (upload) {
            mostUploadsAtOnce = std::max(mostUploadsAtOnce, ++uploadsRunning);
            if (slowUploads)
                co_await QCoro::sleepFor(std::chrono::milliseconds(30));
            --uploadsRunning;
        } else if (slowWrites) {
            ++writesRunning;
            co_await QCoro::sleepFor(std::chrono::milliseconds(30));
            --writesRunning;
        }
        if (mode == Mode::unreachable)
            co_return ShellError{unreachableReason()};
        if (upload && mode == Mode::fileReadOnly)
            co_return ShellError{readOnlyReason()};
        const QString answer = test::writtenAnswer(script);
        const QString end = test::ranToItsEnd(script).mid(answer.size());
        if (upload && mode == Mode::noAnswer)
            co_return end;
        if (upload && duringUpload)
            duringUpload(*this);
        if (upload && expectedSum(script) != sum())
            co_return QStringLiteral("@@HV_CHANGED@@\n") + section() + end;
        apply(script);
        if (mode == Mode::answerLost)
            co_return ShellError{unreachableReason()};
        co_return answer + end;
    }

    void apply(const QString& script)
    {
        static const QRegularExpression payload(QStringLiteral("printf %s '([A-Za-z0-9+/=]*)'"));
        if (const QRegularExpressionMatch found = payload.match(script); found.hasMatch()) {
            shared = QString::fromUtf8(QByteArray::fromBase64(found.captured(1).toLatin1()));
            return;
        }
        for (auto row = untagged.begin(); row != untagged.end();) {
            if (script.contains(QStringLiteral("set -t ") + tmuxOptionTarget(row.key()) + QStringLiteral(" @hv_open 1"))) {
                rows.insert(row.key(), *row);
                row = untagged.erase(row);
            } else {
                ++row;
            }
        }
        for (auto row = rows.begin(); row != rows.end();) {
            const QString session = row.key();
            if (script.contains(QStringLiteral("set -u -t ") + tmuxOptionTarget(session))
                || script.contains(QStringLiteral("kill-session -t ") + tmuxSessionTarget(session))) {
                if (!script.contains(QStringLiteral("kill-session")))
                    untagged.insert(session, *row);
                row = rows.erase(row);
                continue;
            }
            static const QRegularExpression order(QStringLiteral(" @hv_order (\\d+)"));
            for (const QString& line : script.split(u'\n')) {
                if (!line.contains(QStringLiteral("set -t ") + tmuxOptionTarget(session) + QStringLiteral(" @hv_order ")))
                    continue;
                row->order = order.match(line).captured(1).toLongLong();
            }
            ++row;
        }
    }
};

struct WritesFixture : test::SyncingModel, testing::Test {
    FakeHost host;

    WritesFixture()
    {
        install(model);
        local().tabSyncReady = true;
    }
    void install(MacModel& target)
    {
        target.isFrontmost = [] { return false; };
        target.listingNonce = [] { return QString(); };
        target.runScript = [this](MacConnection&, QString script, double) { return host.answer(std::move(script)); };
        target.listFolders = [](MacConnection&, QString) { return ready(std::optional<QStringList>(QStringList{})); };
    }
    // One listing, and every write it started, waited for.
    void sync(MacModel& target, MacConnection& connection)
    {
        QCoro::waitFor(target.requestSync(connection));
        ASSERT_TRUE(QTest::qWaitFor([&] { return !connection.syncing && !connection.sharedWriting && Shell::runsInFlight() == 0; },
                                    10000));
        QTest::qWait(0);
    }
    void sync() { sync(model, local()); }
    // A tab of a session the host lists, not restarted by the listings of the test.
    MacTab& tabOf(const QString& path)
    {
        for (MacTab* tab : model.tabs()) {
            if (tab->project.path == path)
                return *tab;
        }
        MacTab* tab = model.makeTab(local(), MacProject{path.section(u'/', -1), path, tmuxSessionName(path)});
        tab->startedAt = clock->now();
        model.insertTab(tab, model.tabs().size());
        return *tab;
    }
    // Two tabs the host lists, "/p/first" and a folder that exists (so that its tab can start
    // here again), whose path it gives; empty when that folder could not be made.
    QString twoListedTabs()
    {
        const QString path = folder.file(QStringLiteral("back"));
        if (!QDir().mkpath(path))
            return QString();
        host.add(QStringLiteral("/p/first"), 1);
        host.add(path, 2);
        tabOf(QStringLiteral("/p/first"));
        tabOf(path);
        sync();
        return path;
    }
    QStringList paths() const
    {
        QStringList list;
        for (const MacTab* tab : model.tabs())
            list << tab->project.path;
        return list;
    }
    qsizetype writesOf(const QString& part) const
    {
        return std::count_if(host.writes.cbegin(), host.writes.cend(), [&part](const QString& w) { return w.contains(part); });
    }
};

// Out of reach, or answering but unable to write its file.
struct PendingNames : WritesFixture, testing::WithParamInterface<FakeHost::Mode> {};

TEST_P(PendingNames, AFavouriteAndAHideStayPendingUntilTheHostTakesThemAcrossARestart)
{
    const QString reason
        = GetParam() == FakeHost::Mode::unreachable ? FakeHost::unreachableReason() : FakeHost::readOnlyReason();
    host.shared = QStringLiteral("{\"favorites\":[\"theirs\"],\"hidden\":[]}");
    sync();
    host.mode = GetParam();
    // Made in the same moment.
    model.toggleFavorite(QStringLiteral("web"), local());
    model.toggleHidden(QStringLiteral("api"), true, local());
    for (int listing = 0; listing < 3; ++listing)
        sync();
    EXPECT_EQ(local().favorites(), (QSet<QString>{QStringLiteral("theirs"), QStringLiteral("web")}));
    EXPECT_EQ(local().hidden(), QSet<QString>{QStringLiteral("api")});
    EXPECT_EQ(prefs.favorites(local().id), local().favorites());
    const QString message = MacModel::sharedStateNotWrittenMessage(local(), reason);
    EXPECT_EQ(banners(), QStringList{message});
    EXPECT_TRUE(message.contains(reason));
    const PendingSharedNames pending = prefs.pendingShared(local().id);
    EXPECT_EQ(pending.favorites.value(QStringLiteral("web")), true);
    EXPECT_EQ(pending.hidden.value(QStringLiteral("api")), true);

    // The phone adds a favourite of its own meanwhile; this computer restarts, and the host
    // takes the writes again.
    host.shared = QStringLiteral("{\"favorites\":[\"theirs\",\"phone\"],\"hidden\":[]}");
    MacModel next(prefs, nullptr, &notifier);
    next.clock = clock;
    install(next);
    host.mode = FakeHost::Mode::answers;
    QCoro::waitFor(next.start());
    MacConnection& again = *next.localConnection();
    sync(next, again);
    const std::optional<SharedPrefs> file = host.file();
    ASSERT_TRUE(file);
    EXPECT_EQ(file->favorites, (NameSet{QStringLiteral("phone"), QStringLiteral("theirs"), QStringLiteral("web")}));
    EXPECT_EQ(file->hidden, NameSet{QStringLiteral("api")});
    EXPECT_TRUE(again.pendingFavorites.isEmpty() && again.pendingHidden.isEmpty());
    EXPECT_EQ(prefs.pendingShared(again.id), PendingSharedNames{});
    // Settled: the next listing writes nothing.
    const qsizetype written = host.writes.size();
    sync(next, again);
    EXPECT_EQ(host.writes.size(), written);
    for (MacTab* tab : next.tabs())
        tab->stop();
}

INSTANTIATE_TEST_SUITE_P(Failing, PendingNames, testing::Values(FakeHost::Mode::unreachable, FakeHost::Mode::fileReadOnly),
                         [](const testing::TestParamInfo<FakeHost::Mode>& info) {
                             return info.param == FakeHost::Mode::unreachable ? "Unreachable" : "FileReadOnly";
                         });

TEST_F(WritesFixture, ChangesMadeTogetherGoUpOneAfterAnotherAndTheLatestLandsLast)
{
    sync();
    host.slowUploads = true;
    model.toggleFavorite(QStringLiteral("a"), local());
    model.toggleHidden(QStringLiteral("b"), true, local());
    model.toggleFavorite(QStringLiteral("c"), local());
    model.toggleFavorite(QStringLiteral("a"), local());
    ASSERT_TRUE(QTest::qWaitFor([this] { return !local().sharedWriting; }, 10000));
    EXPECT_EQ(host.mostUploadsAtOnce, 1);
    // The first, then only the newest of those asked for while it ran.
    EXPECT_EQ(writesOf(QStringLiteral("shared.json")), 2);
    const std::optional<SharedPrefs> file = host.file();
    ASSERT_TRUE(file);
    EXPECT_EQ(file->favorites, NameSet{QStringLiteral("c")});
    EXPECT_EQ(file->hidden, NameSet{QStringLiteral("b")});
    sync();
    EXPECT_EQ(local().favorites(), QSet<QString>{QStringLiteral("c")});
    EXPECT_EQ(local().hidden(), QSet<QString>{QStringLiteral("b")});
    EXPECT_TRUE(local().pendingFavorites.isEmpty() && local().pendingHidden.isEmpty());
}

// A click writes over the file as the last listing read it, and only over that one: where
// another client wrote it since (or removed it, or left it unreadable), the host refuses, and
// the change goes on top of the file as it is then, name by name, however often it changed
// (a few writes at most, the next listing writing the rest). A write that printed no answer
// is not taken for done.
TEST_F(WritesFixture, AWriteGoesOnTopOfTheFileAsTheHostHoldsIt)
{
    const QString read = QStringLiteral("{\"favorites\":[\"m\",\"u\",\"x\"],\"hidden\":[]}");
    const auto once = [](std::function<void(FakeHost&)> change) {
        return [change, done = false](FakeHost& host) mutable {
            if (!std::exchange(done, true))
                change(host);
        };
    };
    int phoneWrites = 0;
    const struct {
        const char* name;
        std::function<void(FakeHost&)> meanwhile;
        FakeHost::Mode mode;
        // Favourites of the file, and ours, after the click's write.
        NameSet file;
        qsizetype uploads;
        bool zPending;
        std::optional<QString> banner;
    } cases[] = {
        {"unchanged", nullptr, FakeHost::Mode::answers, {"m", "u", "x", "z"}, 1, false, std::nullopt},
        {"the phone took x out and put y in",
         once([](FakeHost& host) { host.shared = QStringLiteral("{\"favorites\": [\"m\", \"u\", \"y\"]}\n"); }),
         FakeHost::Mode::answers, {"m", "u", "y", "z"}, 2, false, std::nullopt},
        {"removed", once([](FakeHost& host) { host.shared = QString(); }), FakeHost::Mode::answers, {"m", "u", "x", "z"}, 2,
         false, std::nullopt},
        {"changed at every write",
         [&phoneWrites](FakeHost& host) {
             host.shared = QStringLiteral("{\"favorites\":[\"m\",\"u\",\"x\",\"p%1\"]}").arg(++phoneWrites);
         },
         FakeHost::Mode::answers, {"m", "p4", "u", "x"}, 1 + MacModel::maximumSharedRewrites, true, std::nullopt},
        {"made unreadable", once([](FakeHost& host) { host.shared = QStringLiteral("@@HV_SHARED_UNREADABLE@@\n"); }),
         FakeHost::Mode::answers, {}, 1, true, sharedStateUnreadableMessage(HostKind::thisComputer)},
        {"no answer", nullptr, FakeHost::Mode::noAnswer, {"m", "u", "x"}, 1, true,
         MacModel::sharedStateNotWrittenMessage(local(), QString())},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        model.clearBanners();
        local().reportedProblems.clear();
        host = FakeHost{};
        host.shared = read;
        sync();
        ASSERT_EQ(host.writes.size(), 0);
        host.duringUpload = c.meanwhile;
        host.mode = c.mode;
        model.toggleFavorite(QStringLiteral("z"), local());
        ASSERT_TRUE(QTest::qWaitFor([this] { return !local().sharedWriting; }, 10000));
        EXPECT_EQ(writesOf(QStringLiteral("shared.json")), c.uploads);
        const std::optional<SharedPrefs> file = host.file();
        EXPECT_EQ(file ? file->favorites : NameSet{}, c.file);
        EXPECT_EQ(local().pendingFavorites.contains(QStringLiteral("z")), c.zPending);
        EXPECT_EQ(prefs.pendingShared(local().id).favorites.contains(QStringLiteral("z")), c.zPending);
        EXPECT_TRUE(local().favorites().contains(QStringLiteral("z")));
        if (!c.zPending) {
            EXPECT_EQ(local().favorites(), QSet<QString>(c.file.cbegin(), c.file.cend()));
        }
        EXPECT_EQ(banners(), c.banner ? QStringList{*c.banner} : QStringList{}) << banners().join(u'\n').toStdString();
        // The next listing of a host that no longer meddles writes what is still pending, on
        // top of the file as it is.
        host.duringUpload = nullptr;
        host.mode = FakeHost::Mode::answers;
        if (c.banner == sharedStateUnreadableMessage(HostKind::thisComputer))
            host.shared = read;
        sync();
        const std::optional<SharedPrefs> after = host.file();
        ASSERT_TRUE(after);
        EXPECT_TRUE(after->favorites.count(QStringLiteral("z")));
        NameSet kept = c.file;
        kept.insert(QStringLiteral("z"));
        if (c.banner)
            kept = {"m", "u", "x", "z"};
        EXPECT_EQ(after->favorites, kept);
        EXPECT_TRUE(local().pendingFavorites.isEmpty());
        for (MacTab* tab : model.tabs())
            model.removeTab(*tab);
    }
}

// A write that keeps failing holds back no part of the listing: a tab another client opens
// on the host opens here with the next listing, and the change stays pending.
TEST_F(WritesFixture, AWriteThatKeepsFailingHoldsBackNoTabTheHostOpens)
{
    sync();
    host.mode = FakeHost::Mode::fileReadOnly;
    model.toggleFavorite(QStringLiteral("web"), local());
    sync();
    const QString opened = QStringLiteral("/p/opened-by-the-phone");
    host.add(opened, 1);
    const qsizetype before = writesOf(QStringLiteral("shared.json"));
    sync();
    EXPECT_EQ(paths(), QStringList{opened});
    EXPECT_EQ(writesOf(QStringLiteral("shared.json")), before + 1) << "the listing writes the change again";
    EXPECT_EQ(local().pendingFavorites.value(QStringLiteral("web")), true);
    EXPECT_EQ(banners(), QStringList{MacModel::sharedStateNotWrittenMessage(local(), FakeHost::readOnlyReason())});
}

// A close made while the host is out of reach: sent again while the host lists the tab as it
// was; given way to (the tab opens again, with a banner naming it) once another client
// changed the row or made its session again; done when the host shows it closed, be it by
// another client or by the close itself whose answer was lost.
TEST_F(WritesFixture, ACloseThatDidNotReachTheHostGoesAgainOrGivesWay)
{
    enum class Meanwhile { nothing, renamed, madeAgain, closedThere, landed };
    struct Case {
        Meanwhile meanwhile;
        // The tab is open here again, under that name, with the banner saying so.
        QString reopenedAs;
        bool sentAgain;
    };
    const Case cases[] = {
        {Meanwhile::nothing, {}, true},
        {Meanwhile::renamed, QStringLiteral("renamed by the phone"), false},
        {Meanwhile::madeAgain, QStringLiteral("gone"), false},
        {Meanwhile::closedThere, {}, false},
        {Meanwhile::landed, {}, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(int(c.meanwhile));
        for (MacTab* tab : model.tabs())
            model.removeTab(*tab);
        model.clearBanners();
        host = FakeHost{};
        const QString keep = QStringLiteral("/p/keep");
        const QString gone = QStringLiteral("/p/gone");
        host.add(keep, 1);
        host.add(gone, 2);
        tabOf(keep);
        tabOf(gone);
        sync();
        ASSERT_EQ(paths(), (QStringList{keep, gone}));
        host.mode = c.meanwhile == Meanwhile::landed ? FakeHost::Mode::answerLost : FakeHost::Mode::unreachable;
        model.closeTab(tabOf(gone));
        host.mode = FakeHost::Mode::unreachable;
        sync();
        sync();
        EXPECT_TRUE(local().unreachable());
        const QString session = tmuxSessionName(gone);
        if (c.meanwhile == Meanwhile::renamed)
            host.rows[session].name = QStringLiteral("renamed by the phone");
        // Killed and opened again in the same slot, under the same name: only its creation
        // time tells.
        if (c.meanwhile == Meanwhile::madeAgain)
            host.rows[session].created += 7;
        if (c.meanwhile == Meanwhile::closedThere)
            host.rows.remove(session);
        host.mode = FakeHost::Mode::answers;
        const qsizetype untags = writesOf(QStringLiteral("@hv_open"));
        sync();
        sync();
        if (!c.reopenedAs.isEmpty()) {
            EXPECT_EQ(paths(), (QStringList{keep, gone}));
            EXPECT_TRUE(host.rows.contains(session));
            EXPECT_EQ(banners(), QStringList{MacModel::closeNotMadeMessage(local(), c.reopenedAs)});
        } else {
            EXPECT_EQ(paths(), QStringList{keep});
            EXPECT_FALSE(host.rows.contains(session));
            EXPECT_TRUE(banners().isEmpty()) << banners().join(u'\n').toStdString();
        }
        EXPECT_EQ(writesOf(QStringLiteral("@hv_open")), untags + (c.sentAgain ? 1 : 0));
        EXPECT_TRUE(local().unsentCloses.isEmpty());
        EXPECT_TRUE(prefs.unsentTabChanges(local().id).isEmpty());
    }
}

// A new order made while the host is out of reach: sent again while the host keeps the order
// it was made over; given way to once another client reordered, or when no listing had shown
// the host's order; done when the host shows it made.
TEST_F(WritesFixture, AnOrderThatDidNotReachTheHostGoesAgainOrGivesWay)
{
    enum class Meanwhile { nothing, reorderedThere, neverListed, landed };
    const QStringList folders{QStringLiteral("/p/a"), QStringLiteral("/p/b"), QStringLiteral("/p/c")};
    // c first.
    const QStringList mine{folders.at(2), folders.at(0), folders.at(1)};
    const QStringList theirs{folders.at(1), folders.at(2), folders.at(0)};
    struct Case {
        Meanwhile meanwhile;
        QStringList strip;
        bool banner;
        qsizetype ordersSentAgain;
    };
    const Case cases[] = {
        {Meanwhile::nothing, mine, false, 1},
        {Meanwhile::reorderedThere, theirs, true, 0},
        {Meanwhile::neverListed, folders, true, 0},
        {Meanwhile::landed, mine, false, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(int(c.meanwhile));
        for (MacTab* tab : model.tabs())
            model.removeTab(*tab);
        model.clearBanners();
        local().listedOpen.clear();
        host = FakeHost{};
        for (qsizetype k = 0; k < folders.size(); ++k) {
            host.add(folders.at(k), k + 1);
            tabOf(folders.at(k));
        }
        if (c.meanwhile != Meanwhile::neverListed) {
            sync();
            ASSERT_EQ(paths(), folders);
        }
        host.mode = c.meanwhile == Meanwhile::landed ? FakeHost::Mode::answerLost : FakeHost::Mode::unreachable;
        model.moveTabs({2}, 0);
        host.mode = FakeHost::Mode::unreachable;
        sync();
        EXPECT_EQ(paths(), mine);
        EXPECT_TRUE(local().unsentOrder);
        if (c.meanwhile == Meanwhile::reorderedThere) {
            host.rows[tmuxSessionName(folders.at(0))].order = 3;
            host.rows[tmuxSessionName(folders.at(1))].order = 1;
            host.rows[tmuxSessionName(folders.at(2))].order = 2;
        }
        host.mode = FakeHost::Mode::answers;
        const qsizetype orders = writesOf(QStringLiteral("@hv_order"));
        sync();
        sync();
        EXPECT_EQ(paths(), c.strip);
        QStringList onHost = folders;
        std::sort(onHost.begin(), onHost.end(), [this](const QString& a, const QString& b) {
            return host.rows.value(tmuxSessionName(a)).order < host.rows.value(tmuxSessionName(b)).order;
        });
        EXPECT_EQ(onHost, c.strip);
        EXPECT_EQ(banners(), c.banner ? QStringList{MacModel::orderNotMadeMessage(local())} : QStringList())
            << banners().join(u'\n').toStdString();
        EXPECT_EQ(writesOf(QStringLiteral("@hv_order")), orders + c.ordersSentAgain);
        EXPECT_FALSE(local().unsentOrder);
        EXPECT_TRUE(prefs.unsentTabChanges(local().id).isEmpty());
    }
}

// A session's end that may not have reached the host is never sent again: the session counts
// as running, and the next listing tells whether it still does, which alone is said. One the
// phone made again meanwhile under the same name is not the session the user ended.
TEST_F(WritesFixture, ASessionsEndThatDidNotReachTheHostIsToldOnlyWhenItStillRuns)
{
    enum class Meanwhile { nothing, ended, madeAgain };
    for (const Meanwhile meanwhile : {Meanwhile::nothing, Meanwhile::ended, Meanwhile::madeAgain}) {
        SCOPED_TRACE(int(meanwhile));
        for (MacTab* tab : model.tabs())
            model.removeTab(*tab);
        model.clearBanners();
        host = FakeHost{};
        const QString path = QStringLiteral("/p/agent");
        host.add(path, 1);
        tabOf(path);
        sync();
        const QString session = tmuxSessionName(path);
        ASSERT_EQ(local().liveSessions(), QSet<QString>{session});
        host.mode = meanwhile == Meanwhile::ended ? FakeHost::Mode::answerLost : FakeHost::Mode::unreachable;
        QCoro::waitFor(model.killSession(session, local()));
        EXPECT_TRUE(model.tabs().isEmpty());
        EXPECT_EQ(local().liveSessions(), QSet<QString>{session});
        EXPECT_TRUE(banners().isEmpty()) << banners().join(u'\n').toStdString();
        host.mode = FakeHost::Mode::unreachable;
        sync();
        EXPECT_TRUE(banners().isEmpty()) << banners().join(u'\n').toStdString();
        if (meanwhile == Meanwhile::madeAgain)
            host.rows[session].created += 3;
        host.mode = FakeHost::Mode::answers;
        const qsizetype kills = writesOf(QStringLiteral("kill-session"));
        sync();
        sync();
        const bool runs = meanwhile != Meanwhile::ended;
        EXPECT_EQ(writesOf(QStringLiteral("kill-session")), kills);
        EXPECT_EQ(host.rows.contains(session), runs);
        // The host's state stands: a session running has its tab open again.
        EXPECT_EQ(paths(), runs ? QStringList{path} : QStringList());
        EXPECT_EQ(local().liveSessions(), runs ? QSet<QString>{session} : QSet<QString>());
        EXPECT_EQ(banners(), meanwhile == Meanwhile::nothing
                                 ? QStringList{MacModel::sessionStillRunsMessage(local(), QStringLiteral("agent"))}
                                 : QStringList());
        EXPECT_TRUE(prefs.unsentTabChanges(local().id).isEmpty());
    }
}

// A tab opened again after its close did not reach the host: the close is no longer wanted, and
// the host's row stays open for every client.
TEST_F(WritesFixture, ReopeningATabCancelsItsUnsentClose)
{
    const QString path = twoListedTabs();
    ASSERT_FALSE(path.isEmpty());
    host.mode = FakeHost::Mode::unreachable;
    model.closeTab(tabOf(path));
    sync();
    model.reopenClosedTab();
    ASSERT_EQ(paths(), (QStringList{QStringLiteral("/p/first"), path}));
    host.mode = FakeHost::Mode::answers;
    const qsizetype untags = writesOf(QStringLiteral("@hv_open"));
    sync();
    sync();
    EXPECT_EQ(writesOf(QStringLiteral("@hv_open")), untags);
    EXPECT_TRUE(host.rows.contains(tmuxSessionName(path)));
    EXPECT_EQ(paths(), (QStringList{QStringLiteral("/p/first"), path}));
    EXPECT_TRUE(local().unsentCloses.isEmpty());
    EXPECT_TRUE(banners().isEmpty()) << banners().join(u'\n').toStdString();
}

// A tab opened again while its close runs on the host: the close may land after the tab's own
// tag, and the row is tagged again, so that no client sees the tab closed.
TEST_F(WritesFixture, ATabOpenedAgainWhileItsCloseRunsStaysOpenOnTheHost)
{
    const QString path = twoListedTabs();
    ASSERT_FALSE(path.isEmpty());
    host.slowWrites = true;
    model.closeTab(tabOf(path));
    model.reopenClosedTab();
    ASSERT_EQ(host.writesRunning, 1);
    ASSERT_TRUE(QTest::qWaitFor([this] { return host.writesRunning == 0; }, 5000));
    sync();
    EXPECT_TRUE(host.rows.contains(tmuxSessionName(path)));
    EXPECT_EQ(paths(), (QStringList{QStringLiteral("/p/first"), path}));
    EXPECT_TRUE(local().unsentCloses.isEmpty());
    EXPECT_TRUE(banners().isEmpty()) << banners().join(u'\n').toStdString();
}

// Quitting before the host answered keeps the close, the order and the session's end: the
// next run weighs them against its first listing as the one that made them would have.
TEST_F(WritesFixture, ChangesTheHostDidNotGetAreWeighedAfterARestart)
{
    const QStringList folders{QStringLiteral("/p/a"), QStringLiteral("/p/b"), QStringLiteral("/p/c"), QStringLiteral("/p/d")};
    for (qsizetype k = 0; k < folders.size(); ++k) {
        host.add(folders.at(k), k + 1);
        tabOf(folders.at(k));
    }
    sync();
    host.mode = FakeHost::Mode::unreachable;
    model.closeTab(tabOf(folders.at(0)));
    // b c d → d b c
    model.moveTabs({2}, 0);
    QCoro::waitFor(model.killSession(tmuxSessionName(folders.at(1)), local()));
    ASSERT_EQ(paths(), (QStringList{folders.at(3), folders.at(2)}));
    const UnsentTabChanges kept = prefs.unsentTabChanges(local().id);
    EXPECT_EQ(kept.closes.size(), 1);
    EXPECT_TRUE(kept.order);
    EXPECT_EQ(kept.kills.size(), 1);
    for (MacTab* tab : model.tabs())
        tab->stop();

    MacModel next(prefs, nullptr, &notifier);
    next.clock = clock;
    install(next);
    host.mode = FakeHost::Mode::answers;
    host.tmuxFound = true;
    QCoro::waitFor(next.start());
    MacConnection& again = *next.localConnection();
    sync(next, again);
    QStringList reopened;
    for (const MacTab* tab : next.tabs())
        reopened << tab->project.path;
    // a stays closed and is untagged; d goes before c on the host; b still runs, and says so.
    EXPECT_FALSE(host.rows.contains(tmuxSessionName(folders.at(0))));
    EXPECT_LT(host.rows.value(tmuxSessionName(folders.at(3))).order, host.rows.value(tmuxSessionName(folders.at(2))).order);
    EXPECT_FALSE(reopened.contains(folders.at(0)));
    EXPECT_TRUE(reopened.contains(folders.at(1)));
    QStringList shown = next.waitingBanners();
    if (next.banner())
        shown.prepend(*next.banner());
    EXPECT_EQ(shown, QStringList{MacModel::sessionStillRunsMessage(again, QStringLiteral("b"))});
    EXPECT_TRUE(prefs.unsentTabChanges(again.id).isEmpty());
    for (MacTab* tab : next.tabs())
        tab->stop();
}

// Messages that name the host by an article read as French for either host: "du serveur",
// never "de le serveur".
TEST(HostWriteMessages, NameEitherHostWithTheRightArticle)
{
    MacConnection here;
    MacProfile profile;
    profile.id = QStringLiteral("p1");
    profile.host = QStringLiteral("srv");
    MacConnection server(std::make_shared<SSHLink>(profile));
    static const QRegularExpression glued(QStringLiteral("\\b(de|à) (le|les)\\b"),
                                          QRegularExpression::CaseInsensitiveOption
                                              | QRegularExpression::UseUnicodePropertiesOption);
    for (const MacConnection* connection : {&here, &server}) {
        const QString name = QStringLiteral("web");
        const QStringList messages{
            MacModel::closeNotMadeMessage(*connection, name),
            MacModel::orderNotMadeMessage(*connection),
            MacModel::sessionStillRunsMessage(*connection, name),
            MacModel::sharedStateNotWrittenMessage(*connection, QStringLiteral("refusé")),
            MacModel::hostTabsCappedMessage(*connection, 3),
            MacModel::tmuxProbeUnansweredMessage(*connection),
            MacModel::seededTabsUnlistedMessage(*connection),
            MacModel::tabsNotMadeMessage(*connection, {name}),
        };
        for (const QString& message : messages)
            EXPECT_FALSE(glued.match(message).hasMatch()) << message.toStdString();
        EXPECT_TRUE(MacModel::orderNotMadeMessage(*connection)
                        .endsWith(connection->link ? QStringLiteral("l'ordre du serveur est gardé.")
                                                   : QStringLiteral("l'ordre de cet ordinateur est gardé.")));
    }
}

// On this computer, through the real login shell: a write into a ~/.halvoren nothing can be
// written to (even by root) is bannered with the shell's own reason, as a server's is, never
// as the login profile's fault.
TEST(LocalWrites, AWriteThatFailsHereQuotesTheShellsReason)
{
    test::TempFolder home;
    test::EnvironmentOverride environment("HOME", home.path());
    environment.set("SHELL", QStringLiteral("/bin/bash"));
    ASSERT_TRUE(QFile::link(QStringLiteral("/proc"), home.file(QStringLiteral(".halvoren"))));
    test::SyncingModel instance;
    MacConnection& local = instance.local();
    instance.sync();
    ASSERT_TRUE(QTest::qWaitFor([&] { return !local.sharedWriting; }, 30000));
    instance.model.toggleFavorite(QStringLiteral("web"), local);
    ASSERT_TRUE(QTest::qWaitFor([&] { return !local.sharedWriting; }, 30000));
    instance.sync();
    ASSERT_TRUE(QTest::qWaitFor([&] { return !local.sharedWriting; }, 30000));
    EXPECT_EQ(local.failures, 0);
    EXPECT_EQ(local.pendingFavorites.value(QStringLiteral("web")), true);
    const QStringList banners = instance.banners();
    ASSERT_EQ(banners.size(), 1) << banners.join(u'\n').toStdString();
    EXPECT_TRUE(banners.front().contains(QStringLiteral("/.halvoren/shared.json.tmp."))) << banners.front().toStdString();
    EXPECT_FALSE(banners.front().contains(QStringLiteral("profil de connexion"))) << banners.front().toStdString();
}

} // namespace
} // namespace halvoren
