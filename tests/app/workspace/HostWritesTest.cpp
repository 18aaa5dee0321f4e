// Writes to a host that do not reach it: favourites and hidden projects stay pending (across a
// restart too) until a write of them lands, one write at a time; a close or a new tab order
// goes again while the host still shows what the user changed, and gives way with a banner
// once the host changed it; a session's end is never sent again.
#include "workspace/MacModel.h"

#include "app/support/WorkspaceModel.h"
#include "remote/ServerState.h"
#include "remote/SessionNaming.h"
#include "remote/SharedPrefs.h"
#include "remote/TmuxCommands.h"
#include "tab/MacTab.h"

#include <QMap>
#include <QRegularExpression>
#include <QTest>
#include <qcoro/qcorotimer.h>

#include <gtest/gtest.h>

#include <chrono>

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
    };
    enum class Mode { answers, unreachable, fileReadOnly };

    QMap<QString, Row> rows;
    QString shared = QStringLiteral("{\"favorites\":[],\"hidden\":[]}");
    Mode mode = Mode::answers;
    QStringList writes;
    // Uploads of the file take a while, to see whether two run at once.
    bool slowUploads = false;
    int uploadsRunning = 0;
    int mostUploadsAtOnce = 0;

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
                  + QStringLiteral("\t\t1\n");
        }
        return text + QStringLiteral("\n@@HV_SHARED@@\n") + shared;
    }
    std::optional<SharedPrefs> file() const { return parseSharedPrefs(shared); }

    Task<ShellResult<QString>> answer(QString script)
    {
        if (script == listingScript()) {
            if (mode == Mode::unreachable)
                co_return ShellError{unreachableReason()};
            co_return listing();
        }
        writes << script;
        const bool upload = script.contains(QStringLiteral("shared.json"));
        if (upload) {
            mostUploadsAtOnce = std::max(mostUploadsAtOnce, ++uploadsRunning);
            if (slowUploads)
                co_await QCoro::sleepFor(std::chrono::milliseconds(30));
            --uploadsRunning;
        }
        if (mode == Mode::unreachable)
            co_return ShellError{unreachableReason()};
        if (upload && mode == Mode::fileReadOnly)
            co_return ShellError{readOnlyReason()};
        apply(script);
        co_return test::ranToItsEnd(script);
    }

    void apply(const QString& script)
    {
        static const QRegularExpression payload(QStringLiteral("printf %s '([A-Za-z0-9+/=]*)'"));
        if (const QRegularExpressionMatch found = payload.match(script); found.hasMatch()) {
            shared = QString::fromUtf8(QByteArray::fromBase64(found.captured(1).toLatin1()));
            return;
        }
        for (auto row = rows.begin(); row != rows.end();) {
            const QString session = row.key();
            if (script.contains(QStringLiteral("set -u -t ") + tmuxOptionTarget(session))
                || script.contains(QStringLiteral("kill-session -t ") + tmuxSessionTarget(session))) {
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

// A close made while the host is out of reach: sent again while the host lists the tab as it
// was, given way to (the tab opens again, with a banner) once another client changed it, and
// forgotten when the host closed it itself.
TEST_F(WritesFixture, ACloseThatDidNotReachTheHostGoesAgainOrGivesWay)
{
    enum class Meanwhile { nothing, renamed, closedThere };
    for (const Meanwhile meanwhile : {Meanwhile::nothing, Meanwhile::renamed, Meanwhile::closedThere}) {
        SCOPED_TRACE(int(meanwhile));
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
        host.mode = FakeHost::Mode::unreachable;
        model.closeTab(tabOf(gone));
        sync();
        sync();
        EXPECT_TRUE(local().unreachable());
        const QString session = tmuxSessionName(gone);
        if (meanwhile == Meanwhile::renamed)
            host.rows[session].name = QStringLiteral("renamed by the phone");
        if (meanwhile == Meanwhile::closedThere)
            host.rows.remove(session);
        host.mode = FakeHost::Mode::answers;
        const qsizetype untags = writesOf(QStringLiteral("@hv_open"));
        sync();
        sync();
        const QString notMade = MacModel::closeNotMadeMessage(local(), QStringLiteral("renamed by the phone"));
        if (meanwhile == Meanwhile::renamed) {
            EXPECT_EQ(paths(), (QStringList{keep, gone}));
            EXPECT_TRUE(host.rows.contains(session));
            EXPECT_EQ(writesOf(QStringLiteral("@hv_open")), untags);
            EXPECT_EQ(banners(), QStringList{notMade});
        } else {
            EXPECT_EQ(paths(), QStringList{keep});
            EXPECT_FALSE(host.rows.contains(session));
            EXPECT_EQ(writesOf(QStringLiteral("@hv_open")), untags + (meanwhile == Meanwhile::nothing ? 1 : 0));
            EXPECT_TRUE(banners().isEmpty()) << banners().join(u'\n').toStdString();
        }
        EXPECT_TRUE(local().unsentCloses.isEmpty());
    }
}

TEST_F(WritesFixture, AnOrderThatDidNotReachTheHostGoesAgainOrGivesWay)
{
    for (const bool reorderedThere : {false, true}) {
        SCOPED_TRACE(reorderedThere);
        for (MacTab* tab : model.tabs())
            model.removeTab(*tab);
        model.clearBanners();
        host = FakeHost{};
        const QStringList folders{QStringLiteral("/p/a"), QStringLiteral("/p/b"), QStringLiteral("/p/c")};
        for (qsizetype k = 0; k < folders.size(); ++k) {
            host.add(folders.at(k), k + 1);
            tabOf(folders.at(k));
        }
        sync();
        ASSERT_EQ(paths(), folders);
        host.mode = FakeHost::Mode::unreachable;
        // c first.
        model.moveTabs({2}, 0);
        const QStringList mine{folders.at(2), folders.at(0), folders.at(1)};
        sync();
        EXPECT_EQ(paths(), mine);
        if (reorderedThere) {
            host.rows[tmuxSessionName(folders.at(0))].order = 3;
            host.rows[tmuxSessionName(folders.at(1))].order = 1;
            host.rows[tmuxSessionName(folders.at(2))].order = 2;
        }
        host.mode = FakeHost::Mode::answers;
        sync();
        sync();
        const auto orderOf = [this](const QString& path) { return host.rows.value(tmuxSessionName(path)).order; };
        if (reorderedThere) {
            EXPECT_EQ(paths(), (QStringList{folders.at(1), folders.at(2), folders.at(0)}));
            EXPECT_EQ(banners(), QStringList{MacModel::orderNotMadeMessage(local())});
        } else {
            EXPECT_EQ(paths(), mine);
            EXPECT_EQ(orderOf(folders.at(2)), 1);
            EXPECT_EQ(orderOf(folders.at(0)), 2);
            EXPECT_EQ(orderOf(folders.at(1)), 3);
            EXPECT_TRUE(banners().isEmpty()) << banners().join(u'\n').toStdString();
        }
        EXPECT_FALSE(local().unsentOrderOver);
    }
}

TEST_F(WritesFixture, ASessionsEndThatDidNotReachTheHostIsToldAndNeverSentAgain)
{
    const QString path = QStringLiteral("/p/agent");
    host.add(path, 1);
    tabOf(path);
    sync();
    const QString session = tmuxSessionName(path);
    ASSERT_TRUE(local().liveSessions().isEmpty() || local().liveSessions().contains(session));
    host.mode = FakeHost::Mode::unreachable;
    QCoro::waitFor(model.killSession(session, local()));
    EXPECT_TRUE(model.tabs().isEmpty());
    EXPECT_EQ(banners(), QStringList{MacModel::sessionStillRunsMessage(local(), QStringLiteral("agent"))});
    host.mode = FakeHost::Mode::answers;
    const qsizetype kills = writesOf(QStringLiteral("kill-session"));
    sync();
    sync();
    EXPECT_EQ(writesOf(QStringLiteral("kill-session")), kills);
    EXPECT_TRUE(host.rows.contains(session));
    // The host's state stands: its tab is open again.
    EXPECT_EQ(paths(), QStringList{path});
}

} // namespace
} // namespace halvoren
