// Writes to a host that do not reach it: favourites and hidden projects stay pending (across a
// restart too) until a write of them lands, one write at a time, and a click made while one is
// owed is always sent; a write whose file keeps changing stops and says so once; a close or a
// new tab order goes again while the host still shows what the user changed (across a restart
// too), gives way with a banner once the host changed it, and is done when the host shows it
// made; a session's end is never sent again, and told only when the next listing shows it
// running.
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
#include <QSet>
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
    // The host was seeded (its tmux carries our sync flag); a seeding sets it.
    bool synced = true;
    QStringList writes;
    // Uploads of the file take a while, to see whether two run at once; other writes too, to
    // see what the user does meanwhile.
    bool slowUploads = false;
    bool slowWrites = false;
    // Delays of the next writes other than uploads, in milliseconds, one per write in the
    // order they reach the host, to see which answers last.
    QList<int> writeDelays;
    int writesRunning = 0;
    int orderWritesRunning = 0;
    int mostOrderWritesAtOnce = 0;
    // Writes holding this text do not reach the host, the link down.
    QString failing;
    int uploadsRunning = 0;
    // Reads of one session's row wait while this is set; stale ones then answer the row as it
    // was when they ran, not as it is when they answer.
    bool holdReads = false;
    bool staleReads = false;
    int readsRunning = 0;
    int reads = 0;
    int mostUploadsAtOnce = 0;
    // Runs as an upload reaches the file, before it is compared: another client's write.
    std::function<void(FakeHost&)> duringUpload;
    // Uploads answered "changed" since one was written. Past a bound the other client stops
    // writing, so that a writer that would never stop fails the test at once, saying so.
    int changedInARow = 0;
    static constexpr int changedAtMost = 20;

    static QString unreachableReason() { return QStringLiteral("ssh: connect to host srv port 22: Connection refused"); }
    static QString readOnlyReason()
    {
        return QStringLiteral("sh: 1: cannot create /home/u/.halvoren/shared.json.tmp.41: Permission denied");
    }

    void add(const QString& path, qint64 order)
    {
        rows.insert(tmuxSessionName(path), Row{path.section(u'/', -1), path, order});
    }
    QString rowLine(const QString& session, const Row& row, bool open) const
    {
        return session + (open ? QStringLiteral("\t1\t") : QStringLiteral("\t\t")) + QString::number(row.order) + u'\t'
             + row.name + u'\t' + row.path + QStringLiteral("\t\t") + (synced ? QStringLiteral("1") : QString()) + u'\t'
             + QString::number(row.created) + u'\n';
    }
    QString listing() const
    {
        QString text;
        for (auto row = rows.cbegin(); row != rows.cend(); ++row)
            text += rowLine(row.key(), *row, true);
        return text + QStringLiteral("\n@@HV_SHARED@@\n") + section();
    }
    // What the script reading one session's row prints; none when the script is not one.
    std::optional<QString> sessionRow(const QString& script) const
    {
        for (const QMap<QString, Row>* kept : {&rows, &untagged}) {
            for (auto row = kept->cbegin(); row != kept->cend(); ++row) {
                if (script == sessionRowScript(row.key()))
                    return rowLine(row.key(), *row, kept == &rows);
            }
        }
        if (script.startsWith(QStringLiteral("tmux -u display-message -p ")) && script.contains(QStringLiteral("session_created")))
            return QString();
        return std::nullopt;
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
        if (std::optional<QString> row = sessionRow(script)) {
            ++reads;
            if (holdReads) {
                ++readsRunning;
                while (holdReads)
                    co_await QCoro::sleepFor(std::chrono::milliseconds(5));
                --readsRunning;
                // Read as the host is when the script runs.
                if (!staleReads)
                    row = sessionRow(script);
            }
            if (mode == Mode::unreachable)
                co_return ShellError{unreachableReason()};
            co_return *row;
        }
        writes << script;
        const bool upload = script.contains(QStringLiteral("shared.json"));
        if (upload) {
            mostUploadsAtOnce = std::max(mostUploadsAtOnce, ++uploadsRunning);
            if (slowUploads)
                co_await QCoro::sleepFor(std::chrono::milliseconds(30));
            --uploadsRunning;
        } else {
            const bool ordering = script.contains(QStringLiteral(" @hv_order "));
            if (ordering)
                mostOrderWritesAtOnce = std::max(mostOrderWritesAtOnce, ++orderWritesRunning);
            const int delay = !writeDelays.isEmpty() ? writeDelays.takeFirst() : slowWrites ? 30 : 0;
            if (delay > 0) {
                ++writesRunning;
                co_await QCoro::sleepFor(std::chrono::milliseconds(delay));
                --writesRunning;
            }
            if (ordering)
                --orderWritesRunning;
        }
        if (mode == Mode::unreachable || (!failing.isEmpty() && script.contains(failing)))
            co_return ShellError{unreachableReason()};
        if (upload && mode == Mode::fileReadOnly)
            co_return ShellError{readOnlyReason()};
        const QString answer = test::writtenAnswer(script);
        const QString end = test::ranToItsEnd(script).mid(answer.size());
        if (upload && mode == Mode::noAnswer)
            co_return end;
        if (upload && changedInARow >= changedAtMost) {
            ADD_FAILURE() << "a write found the file changed " << changedInARow
                          << " times in a row and still went on: its rewrites have no end";
            duringUpload = nullptr;
        }
        if (upload && duringUpload)
            duringUpload(*this);
        if (upload && expectedSum(script) != sum()) {
            ++changedInARow;
            co_return QStringLiteral("@@HV_CHANGED@@\n") + section() + end;
        }
        if (upload)
            changedInARow = 0;
        apply(script);
        if (mode == Mode::answerLost)
            co_return ShellError{unreachableReason()};
        co_return answer + end;
    }

    void apply(const QString& script)
    {
        if (script.contains(QStringLiteral("tmux set -g @hv_sync 1")))
            synced = true;
        if (const std::optional<QByteArray> bytes = test::uploadedBytes(script)) {
            shared = QString::fromUtf8(*bytes);
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
            // A start's tags are one line of commands.
            static const QRegularExpression commandEnd(QStringLiteral("[\n;]"));
            for (const QString& line : script.split(commandEnd)) {
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
        ASSERT_TRUE(QTest::qWaitFor(
            [&] {
                return !connection.syncing && !connection.sharedWriting && !connection.orderWriting
                       && Shell::runsInFlight() == 0;
            },
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
    // The application quits, and `next` starts on the same preferences, finding tmux on the
    // host, which answers again; its first listing waited for.
    MacConnection& restart(MacModel& next)
    {
        for (MacTab* tab : model.tabs())
            tab->stop();
        next.clock = clock;
        install(next);
        host.mode = FakeHost::Mode::answers;
        host.tmuxFound = true;
        QCoro::waitFor(next.start());
        MacConnection& again = *next.localConnection();
        sync(next, again);
        return again;
    }
    static QStringList pathsOf(const MacModel& target)
    {
        QStringList list;
        for (const MacTab* tab : target.tabs())
            list << tab->project.path;
        return list;
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
         FakeHost::Mode::answers, {"m", "p4", "u", "x"}, 1 + MacModel::maximumSharedRewrites, true,
         MacModel::sharedStateKeepsChangingMessage(local())},
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
        const bool unreadable = c.banner == sharedStateUnreadableMessage(HostKind::thisComputer);
        if (unreadable)
            host.shared = read;
        sync();
        const std::optional<SharedPrefs> after = host.file();
        ASSERT_TRUE(after);
        EXPECT_TRUE(after->favorites.count(QStringLiteral("z")));
        NameSet kept = unreadable ? NameSet{"m", "u", "x"} : c.file;
        kept.insert(QStringLiteral("z"));
        EXPECT_EQ(after->favorites, kept);
        EXPECT_TRUE(local().pendingFavorites.isEmpty());
        for (MacTab* tab : model.tabs())
            model.removeTab(*tab);
    }
}

// A write whose file another client rewrites at every try stops after its rewrites, keeps the
// change here and says so once: each listing then writes again, without a second banner, until
// a write lands; a later streak is said again.
TEST_F(WritesFixture, AWriteThatFindsTheFileChangedAtEveryTryStopsAndSaysSoOnce)
{
    host.shared = QStringLiteral("{\"favorites\":[\"m\"],\"hidden\":[]}");
    sync();
    int phoneWrites = 0;
    const auto everyTime = [&phoneWrites](FakeHost& host) {
        host.shared = QStringLiteral("{\"favorites\":[\"m\",\"p%1\"]}").arg(++phoneWrites);
    };
    const qsizetype perWrite = 1 + MacModel::maximumSharedRewrites;
    host.duringUpload = everyTime;
    model.toggleFavorite(QStringLiteral("z"), local());
    ASSERT_TRUE(QTest::qWaitFor([this] { return !local().sharedWriting; }, 5000)) << "the write never stopped";
    EXPECT_EQ(writesOf(QStringLiteral("shared.json")), perWrite);
    EXPECT_EQ(local().pendingFavorites.value(QStringLiteral("z")), true);
    EXPECT_TRUE(local().favorites().contains(QStringLiteral("z")));
    const QStringList once{MacModel::sharedStateKeepsChangingMessage(local())};
    EXPECT_EQ(banners(), once);
    // Seen and gone: the next listing's write finds the same, and says nothing more.
    model.clearBanners();
    sync();
    EXPECT_EQ(writesOf(QStringLiteral("shared.json")), 2 * perWrite);
    EXPECT_TRUE(banners().isEmpty()) << banners().join(u'\n').toStdString();

    host.duringUpload = nullptr;
    sync();
    const std::optional<SharedPrefs> file = host.file();
    ASSERT_TRUE(file);
    EXPECT_EQ(file->favorites, (NameSet{QStringLiteral("m"), QStringLiteral("p%1").arg(phoneWrites), QStringLiteral("z")}));
    EXPECT_TRUE(local().pendingFavorites.isEmpty());
    model.clearBanners();
    host.duringUpload = everyTime;
    model.toggleFavorite(QStringLiteral("y"), local());
    ASSERT_TRUE(QTest::qWaitFor([this] { return !local().sharedWriting; }, 5000)) << "the write never stopped";
    EXPECT_EQ(banners(), once);
}

// A write asked for while another runs works out its sets when its turn comes: the first one
// found the phone's name in the file, and the second keeps it.
TEST_F(WritesFixture, AWriteAskedForWhileAnotherRunsTakesTheFileThatOneFound)
{
    host.shared = QStringLiteral("{\"favorites\":[\"m\"],\"hidden\":[]}");
    sync();
    host.slowUploads = true;
    host.duringUpload = [done = false](FakeHost& host) mutable {
        if (!std::exchange(done, true))
            host.shared = QStringLiteral("{\"favorites\":[\"m\",\"phone\"],\"hidden\":[]}");
    };
    model.toggleFavorite(QStringLiteral("y"), local());
    model.toggleFavorite(QStringLiteral("z"), local());
    ASSERT_TRUE(QTest::qWaitFor([this] { return !local().sharedWriting; }, 5000)) << "the writes never ended";
    const std::optional<SharedPrefs> file = host.file();
    ASSERT_TRUE(file);
    const NameSet all{QStringLiteral("m"), QStringLiteral("phone"), QStringLiteral("y"), QStringLiteral("z")};
    EXPECT_EQ(file->favorites, all);
    EXPECT_EQ(local().favorites(), QSet<QString>(all.cbegin(), all.cend()));
    EXPECT_TRUE(local().pendingFavorites.isEmpty());
}

// A listing that seeds the host writes the file it owes before the seeding, and no more after
// it: the re-listing that follows the seeding writes it again only if it is still owed.
TEST_F(WritesFixture, AListingThatSeedsTheHostWritesTheFileOnceBeforeItsSeeding)
{
    const struct {
        FakeHost::Mode mode;
        QStringList writes;
    } cases[] = {
        {FakeHost::Mode::answers, {QStringLiteral("file"), QStringLiteral("seeding")}},
        // The file is still owed after the seeding: the re-listing writes it, the seeding listing
        // does not again.
        {FakeHost::Mode::fileReadOnly, {QStringLiteral("file"), QStringLiteral("seeding"), QStringLiteral("file")}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(int(c.mode));
        host = FakeHost{};
        host.synced = false;
        host.shared = QString();
        host.mode = c.mode;
        local().seedFromPersisted = true;
        sync();
        QStringList kinds;
        for (const QString& write : std::as_const(host.writes)) {
            kinds << (write.contains(QStringLiteral("shared.json"))       ? QStringLiteral("file")
                      : write.contains(QStringLiteral("@hv_sync 1")) ? QStringLiteral("seeding")
                                                                      : QStringLiteral("other"));
        }
        EXPECT_EQ(kinds, c.writes) << kinds.join(u' ').toStdString();
        EXPECT_TRUE(host.synced);
    }
}

// A click made while a write is owed is sent, never taken as already on the host: the write
// failed (the file read-only, the link down) and the phone then starred the name, or the write
// landed with its answer lost; the user takes the name back here, and it goes.
TEST_F(WritesFixture, AClickMadeWhileAWriteIsOwedIsSent)
{
    const struct {
        const char* name;
        FakeHost::Mode firstWrite;
        bool phoneStars;
    } cases[] = {
        {"file read-only, then the phone", FakeHost::Mode::fileReadOnly, true},
        {"link down, then the phone", FakeHost::Mode::unreachable, true},
        {"answer lost", FakeHost::Mode::answerLost, false},
    };
    const QString z = QStringLiteral("z");
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        model.clearBanners();
        host = FakeHost{};
        host.shared = QStringLiteral("{\"favorites\":[\"m\"],\"hidden\":[]}");
        sync();
        host.mode = c.firstWrite;
        model.toggleFavorite(z, local());
        ASSERT_TRUE(QTest::qWaitFor([this] { return !local().sharedWriting; }, 5000));
        ASSERT_EQ(local().pendingFavorites.value(z), true);
        if (c.phoneStars)
            host.shared = QStringLiteral("{\"favorites\": [\"m\", \"z\"], \"hidden\": []}\n");
        ASSERT_TRUE(host.file() && host.file()->favorites.count(z));
        host.mode = FakeHost::Mode::answers;
        model.toggleFavorite(z, local());
        ASSERT_TRUE(QTest::qWaitFor([this] { return !local().sharedWriting; }, 5000));
        const std::optional<SharedPrefs> file = host.file();
        ASSERT_TRUE(file);
        EXPECT_EQ(file->favorites, NameSet{QStringLiteral("m")});
        sync();
        EXPECT_EQ(local().favorites(), QSet<QString>{QStringLiteral("m")});
        EXPECT_TRUE(local().pendingFavorites.isEmpty());
        EXPECT_EQ(prefs.pendingShared(local().id), PendingSharedNames{});
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

    MacModel next(prefs, nullptr, &notifier);
    MacConnection& again = restart(next);
    const QStringList reopened = pathsOf(next);
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

// ---- Closes and ends of tabs opened here since the last listing

// Tabs the user opens here: each start makes and tags its session on the host (the fake
// host's row stands for what it made), and the tab shows it at once unless told otherwise.
struct FreshTabs : WritesFixture {
    // A folder that exists, so that the tab's start enters it; empty when it could not be made.
    QString folderNamed(const QString& name)
    {
        const QString path = folder.file(name);
        return QDir().mkpath(path) ? path : QString();
    }
    MacTab& openHere(const QString& path, qint64 order, bool shown = true)
    {
        host.add(path, order);
        model.openProject(MacProject{path.section(u'/', -1), path, tmuxSessionName(path)}, local());
        MacTab& tab = tabOf(path);
        // The tmux client attached: the start's tags are on the host.
        if (shown)
            tab.handleOutput(QStringLiteral("\x1b[?1049h"));
        return tab;
    }
    qsizetype untags() const { return writesOf(QStringLiteral("set -u -t ")); }
    void forgetTabs()
    {
        for (MacTab* tab : model.tabs())
            model.removeTab(*tab);
        model.clearBanners();
        local().reportedProblems.clear();
    }
};

// A tab opened here and closed while the link is down, before any listing showed it: its row,
// read once the tab showed its session, is what the close is weighed against, as a listed row
// is. The close lands where the host still has that row, also after our own reorder (landed,
// or whose answer was lost); it gives way, the tab opening again with the banner naming it,
// where the phone made the session again or moved it, or where no row could be read.
TEST_F(FreshTabs, ACloseOfATabOpenedSinceTheLastListingGoesOnlyOverTheRowItsStartMade)
{
    enum class Meanwhile { nothing, madeAgain, moved };
    enum class Reorder { none, landed, answerLost };
    struct Case {
        const char* name;
        // The row could be read once the tab showed its session; the read still ran when
        // the tab was closed; the tab is one a listing showed instead; the phone moved it,
        // and a listing showed that, before the close.
        bool read;
        bool readHeld;
        bool listed;
        bool listedMove;
        Reorder reorder;
        Meanwhile meanwhile;
        bool lands;
    };
    const Case cases[] = {
        {"nothing changed", true, false, false, false, Reorder::none, Meanwhile::nothing, true},
        {"made again by the phone", true, false, false, false, Reorder::none, Meanwhile::madeAgain, false},
        {"moved by the phone", true, false, false, false, Reorder::none, Meanwhile::moved, false},
        {"never read", false, false, false, false, Reorder::none, Meanwhile::nothing, false},
        {"read after the close", true, true, false, false, Reorder::none, Meanwhile::nothing, true},
        {"read after the close, made again", true, true, false, false, Reorder::none, Meanwhile::madeAgain, false},
        {"moved by the phone, then listed", true, false, false, true, Reorder::none, Meanwhile::nothing, true},
        {"our reorder first", true, false, false, false, Reorder::landed, Meanwhile::nothing, true},
        {"our reorder first, its answer lost", true, false, false, false, Reorder::answerLost, Meanwhile::nothing, true},
        {"our reorder first, then the phone's", true, false, false, false, Reorder::landed, Meanwhile::moved, false},
        {"listed, our reorder first", true, false, true, false, Reorder::landed, Meanwhile::nothing, true},
    };
    const QString other = folderNamed(QStringLiteral("other"));
    const QString fresh = folderNamed(QStringLiteral("fresh"));
    ASSERT_FALSE(other.isEmpty() || fresh.isEmpty());
    const QString session = tmuxSessionName(fresh);
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        forgetTabs();
        host = FakeHost{};
        host.add(other, 1);
        tabOf(other);
        sync();
        host.mode = c.read ? FakeHost::Mode::answers : FakeHost::Mode::unreachable;
        host.holdReads = c.readHeld;
        MacTab* tab = nullptr;
        if (c.listed) {
            host.add(fresh, 2);
            tab = &tabOf(fresh);
            sync();
        } else {
            tab = &openHere(fresh, 2);
        }
        if (c.listedMove) {
            host.rows[session].order = 7;
            sync();
        }
        if (c.reorder != Reorder::none) {
            host.mode = c.reorder == Reorder::landed ? FakeHost::Mode::answers : FakeHost::Mode::answerLost;
            model.moveTabs({1}, 0);
            ASSERT_EQ(host.rows.value(session).order, 1);
        }
        host.mode = FakeHost::Mode::unreachable;
        model.closeTab(*tab);
        // The read still running comes back once the link is: it finds the row as it was.
        host.mode = FakeHost::Mode::answers;
        host.holdReads = false;
        ASSERT_TRUE(QTest::qWaitFor([this] { return host.readsRunning == 0; }, 5000));
        host.mode = FakeHost::Mode::unreachable;
        sync();
        if (c.meanwhile == Meanwhile::madeAgain)
            host.rows[session].created += 7;
        if (c.meanwhile == Meanwhile::moved)
            host.rows[session].order = 7;
        host.mode = FakeHost::Mode::answers;
        const qsizetype sent = untags();
        sync();
        sync();
        EXPECT_EQ(host.rows.contains(session), !c.lands);
        EXPECT_EQ(untags(), sent + (c.lands ? 1 : 0));
        if (c.lands) {
            EXPECT_EQ(paths(), QStringList{other});
            EXPECT_TRUE(banners().isEmpty()) << banners().join(u'\n').toStdString();
        } else {
            EXPECT_EQ(paths(), (QStringList{other, fresh}));
            EXPECT_EQ(banners(), QStringList{MacModel::closeNotMadeMessage(local(), QStringLiteral("fresh"))})
                << banners().join(u'\n').toStdString();
        }
        EXPECT_TRUE(local().unsentCloses.isEmpty());
        EXPECT_TRUE(prefs.unsentTabChanges(local().id).isEmpty());
    }
}

// The start of a tab opened here numbers the connection's tabs on the host: a close of
// another tab made after it is weighed with the order that start gave, and lands.
TEST_F(FreshTabs, ACloseAfterATabOpenedHereIsWeighedWithTheOrderItsStartGave)
{
    const QString other = folderNamed(QStringLiteral("other"));
    const QString fresh = folderNamed(QStringLiteral("fresh"));
    ASSERT_FALSE(other.isEmpty() || fresh.isEmpty());
    host.add(other, 5);
    tabOf(other);
    sync();
    host.rows[tmuxSessionName(other)].order = 1;
    openHere(fresh, 2);
    host.mode = FakeHost::Mode::unreachable;
    model.closeTab(tabOf(other));
    host.mode = FakeHost::Mode::answers;
    sync();
    sync();
    EXPECT_FALSE(host.rows.contains(tmuxSessionName(other)));
    EXPECT_EQ(paths(), QStringList{fresh});
    EXPECT_TRUE(banners().isEmpty()) << banners().join(u'\n').toStdString();
}

// Two orders made before the next listing, the first landing and the second not: the second
// was made over the first, which the host now has, so it goes again and the strip keeps it.
TEST_F(WritesFixture, AnOrderMadeOverOurOwnLandedOrderGoesAgain)
{
    const QStringList folders{QStringLiteral("/p/a"), QStringLiteral("/p/b"), QStringLiteral("/p/c")};
    for (qsizetype k = 0; k < folders.size(); ++k) {
        host.add(folders.at(k), k + 1);
        tabOf(folders.at(k));
    }
    sync();
    // a b c → c a b, then → b c a.
    model.moveTabs({2}, 0);
    ASSERT_FALSE(local().unsentOrder);
    host.mode = FakeHost::Mode::unreachable;
    model.moveTabs({2}, 0);
    const QStringList mine{folders.at(1), folders.at(2), folders.at(0)};
    ASSERT_EQ(paths(), mine);
    host.mode = FakeHost::Mode::answers;
    const qsizetype orders = writesOf(QStringLiteral("@hv_order"));
    sync();
    sync();
    EXPECT_EQ(paths(), mine);
    EXPECT_EQ(writesOf(QStringLiteral("@hv_order")), orders + 1);
    QStringList onHost = folders;
    std::sort(onHost.begin(), onHost.end(), [this](const QString& a, const QString& b) {
        return host.rows.value(tmuxSessionName(a)).order < host.rows.value(tmuxSessionName(b)).order;
    });
    EXPECT_EQ(onHost, mine);
    EXPECT_TRUE(banners().isEmpty()) << banners().join(u'\n').toStdString();
    EXPECT_FALSE(local().unsentOrder);
}

// Tabs whose starts run on the host only when the test says: the tab's shell is a stand-in
// that waits, and landStart runs the start's tags on the fake host and shows the session.
struct OwnOrders : FreshTabs {
    OwnOrders()
    {
        const QString shell = folder.file(QStringLiteral("waiting-shell"));
        if (test::writeAll(shell, "#!/bin/sh\nexec sleep 60\n"))
            QFile::setPermissions(shell, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
        environment.set("SHELL", shell);
    }
    // A tab opened here whose start has not run on the host yet.
    MacTab& openPending(const QString& path)
    {
        model.openProject(MacProject{path.section(u'/', -1), path, tmuxSessionName(path)}, local());
        return tabOf(path);
    }
    void landStart(MacTab& tab)
    {
        ASSERT_TRUE(tab.taggedSessions);
        const QString& session = tab.project.session;
        if (!host.rows.contains(session))
            host.rows.insert(session, FakeHost::Row{tab.project.name, tab.project.path, 0});
        host.apply(sessionTagCommand(session, tab.project.name, tab.project.path, tab.taggedSessions->sessions));
        tab.handleOutput(QStringLiteral("\x1b[?1049h"));
    }
    void waitForOrders()
    {
        ASSERT_TRUE(QTest::qWaitFor([this] { return !local().orderWriting; }, 10000));
    }
    // The open rows' folders by their order on the host.
    QStringList hostPaths() const
    {
        QList<FakeHost::Row> rows = host.rows.values();
        std::stable_sort(rows.begin(), rows.end(), [](const auto& a, const auto& b) { return a.order < b.order; });
        QStringList list;
        for (const FakeHost::Row& row : rows)
            list << row.path;
        return list;
    }
    bool hostOrdersDistinct() const
    {
        QSet<qint64> orders;
        for (const FakeHost::Row& row : host.rows)
            orders.insert(row.order);
        return orders.size() == host.rows.size();
    }
    // The strip stands past the hold-off of tabs opened here, with the host in its order.
    void expectStripStands(const QStringList& strip)
    {
        clock->advance(MacModel::reorderHoldOff + 1);
        sync();
        sync();
        EXPECT_EQ(paths(), strip);
        EXPECT_EQ(hostPaths(), strip);
        EXPECT_TRUE(hostOrdersDistinct());
        EXPECT_TRUE(banners().isEmpty()) << banners().join(u'\n').toStdString();
        EXPECT_FALSE(local().unsentOrder);
    }
    test::EnvironmentOverride environment;
};

// Moves made while an earlier one is still on its way go up one at a time, the newest replacing
// one still waiting, so the last the user made is the host's and the strip's whatever answers
// first.
TEST_F(OwnOrders, MovesMadeWhileOneIsOnItsWayLandInTheOrderTheyWereMade)
{
    struct Case {
        const char* name;
        QList<int> delays;
        int moves;
        qsizetype writes;
    };
    const Case cases[] = {
        {"the first slow", {300, 0}, 2, 2},
        {"three, the first slow", {300, 0, 0}, 3, 2},
        {"none slow", {}, 2, 2},
    };
    const QStringList folders{QStringLiteral("/p/a"), QStringLiteral("/p/b"), QStringLiteral("/p/c")};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        forgetTabs();
        local().listedOpen.clear();
        host = FakeHost{};
        for (qsizetype k = 0; k < folders.size(); ++k) {
            host.add(folders.at(k), k + 1);
            tabOf(folders.at(k));
        }
        sync();
        host.writeDelays = c.delays;
        const qsizetype before = writesOf(QStringLiteral("@hv_order"));
        for (int move = 0; move < c.moves; ++move)
            model.moveTabs({2}, 0);
        const QStringList strip = paths();
        waitForOrders();
        EXPECT_EQ(host.mostOrderWritesAtOnce, 1);
        EXPECT_EQ(writesOf(QStringLiteral("@hv_order")) - before, c.writes);
        expectStripStands(strip);
    }
}

// The start of a tab opened here numbers every tab as the strip was then: when it reaches the
// host after a move made since, the strip's order goes again after it, so the move stands, and
// no two sessions share a place. So with one tab, and with fifteen opened at once (whose
// starts reach the host in any order, some before the move) and the last moved first.
TEST_F(OwnOrders, AStartThatLandsAfterAMoveIsFollowedByTheMove)
{
    enum class Landing { afterTheMove, halfBefore, duringASlowMove, reversed };
    struct Case {
        const char* name;
        int opened;
        Landing landing;
    };
    const Case cases[] = {
        {"one tab, its start slow", 1, Landing::afterTheMove},
        {"fifteen, all after", 15, Landing::afterTheMove},
        {"fifteen, half before the move", 15, Landing::halfBefore},
        {"fifteen, while the move runs", 15, Landing::duringASlowMove},
        {"fifteen, last first", 15, Landing::reversed},
    };
    const QString first = folderNamed(QStringLiteral("a"));
    const QString second = folderNamed(QStringLiteral("b"));
    ASSERT_FALSE(first.isEmpty() || second.isEmpty());
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        forgetTabs();
        local().listedOpen.clear();
        host = FakeHost{};
        host.add(first, 1);
        host.add(second, 2);
        tabOf(first);
        tabOf(second);
        sync();
        QList<MacTab*> opened;
        for (int k = 0; k < c.opened; ++k) {
            const QString path = folderNamed(QStringLiteral("k%1").arg(k));
            ASSERT_FALSE(path.isEmpty());
            opened << &openPending(path);
        }
        QList<MacTab*> early;
        if (c.landing == Landing::halfBefore)
            early = opened.mid(0, opened.size() / 2);
        for (MacTab* tab : early)
            landStart(*tab);
        if (c.landing == Landing::duringASlowMove)
            host.writeDelays = {200};
        model.moveTabs({model.tabs().size() - 1}, 0);
        const QStringList strip = paths();
        if (c.landing != Landing::duringASlowMove)
            waitForOrders();
        QList<MacTab*> late = opened.mid(early.size());
        if (c.landing == Landing::reversed)
            std::reverse(late.begin(), late.end());
        for (MacTab* tab : late)
            landStart(*tab);
        waitForOrders();
        // Sent again at once, not only once a listing shows the host's order.
        EXPECT_EQ(hostPaths(), strip);
        expectStripStands(strip);
    }
}

// A move that did not reach the host while a tab's start has still not run there (a login
// waiting for its password, say) goes again with the next listing, not only once that start
// lands.
TEST_F(OwnOrders, AMoveThatFailedGoesAgainWhileAnOlderStartWaits)
{
    const QString first = folderNamed(QStringLiteral("a"));
    const QString second = folderNamed(QStringLiteral("b"));
    const QString waiting = folderNamed(QStringLiteral("waiting"));
    ASSERT_FALSE(first.isEmpty() || second.isEmpty() || waiting.isEmpty());
    host.add(first, 1);
    host.add(second, 2);
    tabOf(first);
    tabOf(second);
    sync();
    MacTab& tab = openPending(waiting);
    host.failing = QStringLiteral(" @hv_order ");
    model.moveTabs({1}, 0);
    waitForOrders();
    host.failing.clear();
    sync();
    waitForOrders();
    EXPECT_EQ(hostPaths(), (QStringList{second, first}));
    landStart(tab);
    waitForOrders();
    expectStripStands(QStringList{second, first, waiting});
}

// A row read once the tab showed its session, answering after one of our orders landed, is the
// row as the host has it then: a close made later while the link is down goes again and lands,
// with no banner.
TEST_F(OwnOrders, ARowReadAnsweringAfterOurOrderLandedTakesThatOrder)
{
    const QString other = folderNamed(QStringLiteral("other"));
    const QString fresh = folderNamed(QStringLiteral("fresh"));
    ASSERT_FALSE(other.isEmpty() || fresh.isEmpty());
    host.add(other, 1);
    tabOf(other);
    sync();
    host.holdReads = true;
    host.staleReads = true;
    MacTab& tab = openPending(fresh);
    landStart(tab);
    ASSERT_TRUE(QTest::qWaitFor([this] { return host.readsRunning == 1; }, 5000));
    model.moveTabs({1}, 0);
    waitForOrders();
    ASSERT_EQ(hostPaths(), (QStringList{fresh, other}));
    host.holdReads = false;
    ASSERT_TRUE(QTest::qWaitFor([this] { return host.readsRunning == 0; }, 5000));
    QTest::qWait(0);
    host.mode = FakeHost::Mode::unreachable;
    model.closeTab(tab);
    host.mode = FakeHost::Mode::answers;
    clock->advance(MacModel::reorderHoldOff + 1);
    sync();
    sync();
    EXPECT_FALSE(host.rows.contains(tmuxSessionName(fresh)));
    EXPECT_EQ(paths(), QStringList{other});
    EXPECT_TRUE(banners().isEmpty()) << banners().join(u'\n').toStdString();
    EXPECT_TRUE(local().unsentCloses.isEmpty());
}

// A close made while an order that holds its tab is on its way: the order lands, the untag
// does not, and the next listing sends the untag again over the row as our order left it.
TEST_F(OwnOrders, ACloseMadeWhileOurOrderRunsGoesAgainOverTheRowItLeft)
{
    const QStringList folders{QStringLiteral("/p/a"), QStringLiteral("/p/b"), QStringLiteral("/p/c")};
    for (qsizetype k = 0; k < folders.size(); ++k) {
        host.add(folders.at(k), k + 1);
        tabOf(folders.at(k));
    }
    sync();
    host.writeDelays = {200};
    model.moveTabs({2}, 0);
    host.failing = QStringLiteral("set -u -t ");
    model.closeTab(tabOf(folders.at(2)));
    waitForOrders();
    ASSERT_TRUE(QTest::qWaitFor([this] { return Shell::runsInFlight() == 0 && host.writesRunning == 0; }, 5000));
    ASSERT_TRUE(host.rows.contains(tmuxSessionName(folders.at(2))));
    host.failing.clear();
    sync();
    sync();
    EXPECT_FALSE(host.rows.contains(tmuxSessionName(folders.at(2))));
    EXPECT_EQ(paths(), (QStringList{folders.at(0), folders.at(1)}));
    EXPECT_TRUE(banners().isEmpty()) << banners().join(u'\n').toStdString();
    EXPECT_TRUE(local().unsentCloses.isEmpty());
}

// Two tabs opened here, closed while the link is down, and the application restarted: the
// record keeps the closes in the order they were made, with the rows read; after the restart
// the close of the session the phone made again gives way, the other lands. A close stored
// with no row at all (as an older run stored those of tabs no listing had shown) gives way.
TEST_F(FreshTabs, ClosesOfTabsOpenedHereAreWeighedAfterARestart)
{
    const QString second = folderNamed(QStringLiteral("second"));
    const QString first = folderNamed(QStringLiteral("first"));
    const QString older = folderNamed(QStringLiteral("older"));
    ASSERT_FALSE(second.isEmpty() || first.isEmpty() || older.isEmpty());
    sync();
    MacTab& a = openHere(second, 1);
    MacTab& b = openHere(first, 2);
    host.add(older, 3);
    host.mode = FakeHost::Mode::unreachable;
    model.closeTab(a);
    model.closeTab(b);
    const UnsentTabChanges kept = prefs.unsentTabChanges(local().id);
    ASSERT_EQ(kept.closes.size(), 2);
    EXPECT_EQ(kept.closes.at(0).session, tmuxSessionName(second));
    EXPECT_EQ(kept.closes.at(1).session, tmuxSessionName(first));
    for (const UnsentTabChanges::Close& close : kept.closes)
        EXPECT_TRUE(close.row && close.row->created) << close.session.toStdString();
    UnsentTabChanges stored = kept;
    stored.closes.prepend(UnsentTabChanges::Close{tmuxSessionName(older), std::nullopt});
    prefs.setUnsentTabChanges(local().id, stored);

    host.rows[tmuxSessionName(second)].created += 7;
    MacModel next(prefs, nullptr, &notifier);
    MacConnection& again = restart(next);
    EXPECT_TRUE(host.rows.contains(tmuxSessionName(second)));
    EXPECT_FALSE(host.rows.contains(tmuxSessionName(first)));
    EXPECT_TRUE(host.rows.contains(tmuxSessionName(older)));
    QStringList reopened = pathsOf(next);
    reopened.sort();
    EXPECT_EQ(reopened, (QStringList{older, second}));
    QStringList shown = next.waitingBanners();
    if (next.banner())
        shown.prepend(*next.banner());
    shown.sort();
    QStringList expected{MacModel::closeNotMadeMessage(again, QStringLiteral("second")),
                         MacModel::closeNotMadeMessage(again, QStringLiteral("older"))};
    expected.sort();
    EXPECT_EQ(shown, expected);
    EXPECT_TRUE(prefs.unsentTabChanges(again.id).isEmpty());
    for (MacTab* tab : next.tabs())
        tab->stop();
}

// A session opened here and ended while the link is down, before any listing showed it: its
// creation time, read once the tab showed it (also when the read answered after the end),
// tells the session the phone made again from the one the user ended, which alone is said to
// go on.
TEST_F(FreshTabs, AnEndOfASessionOpenedHereIsToldOnlyOfThatSession)
{
    const QString path = folderNamed(QStringLiteral("agent"));
    ASSERT_FALSE(path.isEmpty());
    const QString session = tmuxSessionName(path);
    const struct {
        const char* name;
        bool readAfterTheEnd;
        bool madeAgain;
    } cases[] = {
        {"still running", false, false},
        {"made again", false, true},
        {"read after the end, still running", true, false},
        {"read after the end, made again", true, true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        forgetTabs();
        host = FakeHost{};
        sync();
        host.holdReads = c.readAfterTheEnd;
        openHere(path, 1);
        host.mode = FakeHost::Mode::unreachable;
        QCoro::waitFor(model.killSession(session, local()));
        host.mode = FakeHost::Mode::answers;
        host.holdReads = false;
        ASSERT_TRUE(QTest::qWaitFor([this] { return host.readsRunning == 0; }, 5000));
        EXPECT_EQ(prefs.unsentTabChanges(local().id).kills.value(0).created, host.rows.value(session).created);
        if (c.madeAgain)
            host.rows[session].created += 3;
        sync();
        EXPECT_EQ(banners(), c.madeAgain ? QStringList() : QStringList{MacModel::sessionStillRunsMessage(local(), QStringLiteral("agent"))})
            << banners().join(u'\n').toStdString();
        EXPECT_TRUE(prefs.unsentTabChanges(local().id).isEmpty());
    }
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
            MacModel::sharedStateKeepsChangingMessage(*connection),
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

// This computer listed, then "web" made a favourite, each write of the shared file over.
testing::AssertionResult listThenMarkWeb(test::SyncingModel& instance)
{
    MacConnection& local = instance.local();
    const auto writesOver = [&] { return QTest::qWaitFor([&] { return !local.sharedWriting; }, 30000); };
    instance.sync();
    if (!writesOver())
        return testing::AssertionFailure() << "the listing's write never ended";
    instance.model.toggleFavorite(QStringLiteral("web"), local);
    if (!writesOver())
        return testing::AssertionFailure() << "the favourite's write never ended";
    return testing::AssertionSuccess();
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
    ASSERT_TRUE(listThenMarkWeb(instance));
    instance.sync();
    ASSERT_TRUE(QTest::qWaitFor([&] { return !local.sharedWriting; }, 30000));
    EXPECT_EQ(local.failures, 0);
    EXPECT_EQ(local.pendingFavorites.value(QStringLiteral("web")), true);
    const QStringList banners = instance.banners();
    ASSERT_EQ(banners.size(), 1) << banners.join(u'\n').toStdString();
    EXPECT_TRUE(banners.front().contains(QStringLiteral("/.halvoren/shared.json.tmp."))) << banners.front().toStdString();
    EXPECT_FALSE(banners.front().contains(QStringLiteral("profil de connexion"))) << banners.front().toStdString();
}

// On this computer, through the real login shell, with a decoder that loses the file and still
// exits 0: the old file stays, and the banner says why, in the script's own words.
TEST(LocalWrites, AFileReceivedShortIsNotInstalledAndTheBannerSaysWhy)
{
    test::TempFolder home;
    test::EnvironmentOverride environment("HOME", home.path());
    environment.set("SHELL", QStringLiteral("/bin/bash"));
    const QString bin = home.file(QStringLiteral("bin"));
    const QString path = home.file(QStringLiteral(".halvoren/shared.json"));
    const QByteArray theirs = "{\"favorites\":[\"m\"],\"hidden\":[]}";
    ASSERT_TRUE(QDir().mkpath(bin) && QDir().mkpath(home.file(QStringLiteral(".halvoren"))));
    ASSERT_TRUE(test::writeAll(path, theirs));
    ASSERT_TRUE(test::writeAll(bin + QStringLiteral("/base64"), "#!/bin/sh\ncat > /dev/null\n"));
    ASSERT_TRUE(QFile::setPermissions(bin + QStringLiteral("/base64"), QFileDevice::ReadOwner | QFileDevice::ExeOwner));
    ASSERT_TRUE(test::writeAll(home.file(QStringLiteral(".bash_profile")), "PATH=\"$HOME/bin:$PATH\"; export PATH\n"));
    test::SyncingModel instance;
    MacConnection& local = instance.local();
    ASSERT_TRUE(listThenMarkWeb(instance));
    EXPECT_TRUE(test::readAll(path) == theirs);
    EXPECT_EQ(QDir(home.file(QStringLiteral(".halvoren"))).entryList(QDir::Files | QDir::Hidden), QStringList{QStringLiteral("shared.json")});
    EXPECT_EQ(local.pendingFavorites.value(QStringLiteral("web")), true);
    const QStringList banners = instance.banners();
    ASSERT_EQ(banners.size(), 1) << banners.join(u'\n').toStdString();
    EXPECT_TRUE(banners.front().contains(QStringLiteral("n'est pas celle envoyée"))) << banners.front().toStdString();
}

} // namespace
} // namespace halvoren
