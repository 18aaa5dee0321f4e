#include "remote/FolderSessions.h"
#include "remote/ServerState.h"
#include "remote/SessionNaming.h"
#include "remote/SharedPrefs.h"
#include "remote/TabReconciliation.h"

#include "ProcessMemory.h"

#include <QProcess>
#include <QRandomGenerator>
#include <QStandardPaths>
#include <QTimeZone>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include <gtest/gtest.h>

namespace halvoren {
namespace {

QDateTime at(qint64 ms) { return QDateTime::fromMSecsSinceEpoch(ms, QTimeZone::utc()); }

TEST(FolderSessions, ReadsLinesWithBarsInPathsAndBadNumbers)
{
    const struct { QString line; FolderSession session; } cases[] = {
        {QStringLiteral("  kq-x|/srv/web|60|1|90|zsh \t"),
         {QStringLiteral("kq-x"), QStringLiteral("/srv/web"), at(60000), 1, at(90000), QStringLiteral("zsh")}},
        {QStringLiteral("kq-x|/srv/x|y|60|1|90|zsh"),
         {QStringLiteral("kq-x"), QStringLiteral("/srv/x|y"), at(60000), 1, at(90000), QStringLiteral("zsh")}},
        {QStringLiteral("kq-x|/p|abc|-2|1.5e9|"),
         {QStringLiteral("kq-x"), QStringLiteral("/p"), at(0), -2, at(1500000000000), QString()}},
        {QStringLiteral("kq-x|/p| 7.5 |+3|1e999|  vim  "),
         {QStringLiteral("kq-x"), QStringLiteral("/p"), at(7500), 3, at(0), QStringLiteral("vim")}},
        {QStringLiteral("kq-x|/p|1,5|99999999999999999999|0x10|sh"),
         {QStringLiteral("kq-x"), QStringLiteral("/p"), at(0), 0, at(0), QStringLiteral("sh")}},
    };
    for (const auto& c : cases)
        EXPECT_EQ(parseSessionLine(c.line), c.session) << c.line.toStdString();
}

TEST(FolderSessions, RejectsMalformedLines)
{
    for (const char* line : {"kq-x|60|1|90|zsh", "kq-x", "main|/srv|60|1|90|zsh", "kq-x||60|1|90|zsh", "", "kq-"})
        EXPECT_FALSE(parseSessionLine(QString::fromUtf8(line))) << line;
}

TEST(FolderSessions, ListKeepsOrderAcrossLineEndings)
{
    const auto sessions = parseSessionList(
        QStringLiteral("kq-b|/b|1|0|2|sh\r\ngarbage\r\n\r\nkq-a|/a|3|2|4|vim\rkq-c|/c|5|0|6|top\n"));
    ASSERT_EQ(sessions.size(), 3);
    EXPECT_EQ(sessions.at(0).name, QStringLiteral("kq-b"));
    EXPECT_EQ(sessions.at(0).command, QStringLiteral("sh"));
    EXPECT_EQ(sessions.at(1).name, QStringLiteral("kq-a"));
    EXPECT_EQ(sessions.at(2).path, QStringLiteral("/c"));
}

// A folder's name may hold the separator or a line break: the name still ends at its hash and
// a broken line is read whole.
TEST(FolderSessions, NamesAndPathsHoldingSeparatorsAndLineBreaks)
{
    const QString h = QStringLiteral("0123456789abcdef");
    const struct { QString output; QString name, path, command; } cases[] = {
        {QStringLiteral("kq-a|b-") + h + QStringLiteral("|/p/a|b|1|0|2|sh"), QStringLiteral("kq-a|b-") + h,
         QStringLiteral("/p/a|b"), QStringLiteral("sh")},
        {QStringLiteral("kq-a|b-") + h + QStringLiteral("-2|/p/a|b|1|0|2|sh"), QStringLiteral("kq-a|b-") + h + QStringLiteral("-2"),
         QStringLiteral("/p/a|b"), QStringLiteral("sh")},
        {QStringLiteral("kq-nl_x-") + h + QStringLiteral("|/p/nl\nx|1|0|2|sh\n"), QStringLiteral("kq-nl_x-") + h,
         QStringLiteral("/p/nl\nx"), QStringLiteral("sh")},
        {QStringLiteral("kq-n_-") + h + QStringLiteral("|/p/n\n\n|1|0|2|bash"), QStringLiteral("kq-n_-") + h,
         QStringLiteral("/p/n\n\n"), QStringLiteral("bash")},
        {QStringLiteral("kq-semi;-") + h + QStringLiteral("|/p/semi;|1|0|2|sh"), QStringLiteral("kq-semi;-") + h,
         QStringLiteral("/p/semi;"), QStringLiteral("sh")},
        {QStringLiteral("kq-other|/p|1|0|2|sh"), QStringLiteral("kq-other"), QStringLiteral("/p"), QStringLiteral("sh")},
    };
    for (const auto& c : cases) {
        const auto sessions = parseSessionList(c.output + QStringLiteral("\nkq-z|/z|1|0|2|top\n"));
        ASSERT_EQ(sessions.size(), 2) << c.output.toStdString();
        EXPECT_EQ(sessions.at(0).name, c.name);
        EXPECT_EQ(sessions.at(0).path, c.path);
        EXPECT_EQ(sessions.at(0).command, c.command);
        EXPECT_EQ(sessions.at(1).name, QStringLiteral("kq-z"));
    }
}

// What the picker gets of a listing: the folder's sessions only, most recent first, equal ones
// in listing order, and past the bound the most recently active whatever their place.
TEST(FolderSessions, AFoldersSessionsAreKeptMostRecentFirstWithinTheBound)
{
    const QString h = QStringLiteral("0123456789abcdef");
    const auto line = [](const char* name, const QString& path, int activity) {
        return QStringLiteral("kq-%1|%2|1|0|%3|sh\n").arg(QLatin1String(name), path).arg(activity);
    };
    const QString p = QStringLiteral("/p");
    const struct {
        const char* name;
        QString output;
        QString folder;
        qsizetype limit;
        QStringList names;
    } cases[] = {
        {"activity order", line("a", p, 10) + line("b", p, 30) + line("q", QStringLiteral("/q"), 40) + line("c", p, 20),
         p, 10, {"kq-b", "kq-c", "kq-a"}},
        {"exact path only", line("a", QStringLiteral("/p/"), 1) + line("b", QStringLiteral("/P"), 1) + line("c", p, 1),
         p, 10, {"kq-c"}},
        {"bar in the path", line("a", QStringLiteral("/p|x"), 1) + line("b", p, 2), QStringLiteral("/p|x"), 10, {"kq-a"}},
        {"split by a line break", QStringLiteral("kq-n_-") + h + QStringLiteral("|/p\n|1|0|2|sh\n") + line("b", QStringLiteral("/p\n"), 1),
         QStringLiteral("/p\n"), 10, {QStringLiteral("kq-n_-") + h, "kq-b"}},
        {"malformed lines skipped", QStringLiteral("kq-x|/p|1|0|sh\ngarbage|/p|1|0|9|sh\nkq-y||1|0|9|sh\n") + line("a", p, 1)
         + QStringLiteral("kq-cut|/p|1"), p, 10, {"kq-a"}},
        {"ties keep listing order", line("a", p, 5) + line("b", p, 9) + line("c", p, 1) + line("d", p, 9) + line("e", p, 7),
         p, 2, {"kq-b", "kq-d"}},
        {"the most recent come last", line("a", p, 1) + line("b", p, 2) + line("c", p, 3) + line("d", p, 4), p, 2,
         {"kq-d", "kq-c"}},
        {"no room", line("a", p, 1), p, 0, {}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        QStringList names;
        for (const FolderSession& session : parseFolderSessions(c.output, c.folder, c.limit))
            names << session.name;
        EXPECT_EQ(names, c.names);
    }
}

// Within the bound a folder's sessions are those the whole listing gives for it, in a stable
// order of activity: nothing of a normal listing is lost or changed.
TEST(FolderSessions, TheFoldersSessionsAreThoseOfTheWholeListing)
{
    const QString h = QStringLiteral("0123456789abcdef");
    const QString output = QStringLiteral("kq-a|/p|60|1|90|zsh\r\nkq-b-") + h + QStringLiteral("|/p| 7 |+2|90| vim \n")
                         + QStringLiteral("kq-c|/q|1|0|95|sh\rkq-d|/p|abc|-2|1.5e9|\n\nkq-e-") + h
                         + QStringLiteral("-2|/p|1|0|91.5|top\nkq-f|/p|1|0|1e999|sh\n");
    QList<FolderSession> expected;
    for (const FolderSession& session : parseSessionList(output)) {
        if (session.path == QStringLiteral("/p"))
            expected << session;
    }
    std::stable_sort(expected.begin(), expected.end(),
                     [](const FolderSession& a, const FolderSession& b) { return a.lastActivity > b.lastActivity; });
    ASSERT_EQ(expected.size(), 5);
    EXPECT_EQ(parseFolderSessions(output, QStringLiteral("/p")), expected);
}

// Many short lines that each start a line of ours but never complete one are read in
// one pass: each line is taken by one join at most.
TEST(FolderSessions, ShortLinesOfOursAreJoinedOnce)
{
    QString output = QStringLiteral("kq-a|/p|1|0|5|sh\n");
    for (int i = 0; i < 200'000; ++i)
        output += QStringLiteral("kq-x\n");
    output += QStringLiteral("kq-b|/p|1|0|6|sh\n");
    QStringList names;
    for (const FolderSession& session : parseFolderSessions(output, QStringLiteral("/p")))
        names << session.name;
    EXPECT_EQ(names, (QStringList{"kq-b", "kq-a"}));
}

TEST(GitProbe, ParsesDirtyCleanAndSkipsTheRest)
{
    const auto probe = parseGitProbe(QStringLiteral(
        "/srv/web|@|main|@|1\r\n"
        "/srv/api|@|dev|@|\n"
        "/srv/odd|@|x|@|yes\n"
        "/srv/none|@||@|1\n"
        "/srv/two|@|main\n"
        "/srv/a|@|b|@|c|@|main|@|1\n"
        "  /srv/late|@|old|@|1\t\n"
        "/srv/late|@|new|@|\n"));
    QMap<QString, GitInfo> expected;
    expected.insert(QStringLiteral("/srv/web"), {QStringLiteral("main"), true});
    expected.insert(QStringLiteral("/srv/api"), {QStringLiteral("dev"), false});
    expected.insert(QStringLiteral("/srv/odd"), {QStringLiteral("x"), false});
    expected.insert(QStringLiteral("/srv/late"), {QStringLiteral("new"), false});
    EXPECT_EQ(probe, expected);
}

QStringList sessionsOf(const QList<HostTab>& tabs)
{
    QStringList sessions;
    for (const HostTab& tab : tabs)
        sessions << tab.session;
    return sessions;
}

QString row(std::initializer_list<const char*> fields)
{
    QStringList parts;
    for (const char* f : fields)
        parts << QString::fromUtf8(f);
    return parts.join(u'\t');
}

TEST(ServerStateListing, RowsBecomeSessionsAndOpenTabs)
{
    const QString output = row({"kq-a", "1", "2", "Web", "/srv/web", "", ""}) + u'\n' +
                           row({"s", "1", "", "", "", "x", "1"}) + QStringLiteral("\r\n") +
                           row({"six", "", "", "", "", ""}) + u'\n' +
                           row({"  ", "1", "", "", "", "", "1"}) + u'\n' +
                           row({"main", "0", "", "", "", "", "1", "extra"}) + QStringLiteral("\n\n@@HV_SHARED@@\n");
    const ServerState state = parseServerState(output);
    EXPECT_TRUE(state.synced);
    EXPECT_EQ(state.sessions, (std::set<QString, CodePointLess>{QStringLiteral("kq-a"), QStringLiteral("s"),
                                                                  QStringLiteral("main")}));
    ASSERT_EQ(state.open.size(), 2);
    EXPECT_EQ(state.open.at(0), (HostTab{QStringLiteral("kq-a"), 2, QStringLiteral("Web"), QStringLiteral("/srv/web"),
                                          std::nullopt, std::nullopt}));
    EXPECT_EQ(state.open.at(1), (HostTab{QStringLiteral("s"), unsetHostOrder, QStringLiteral("s"), QString(),
                                          QStringLiteral("x"), std::nullopt}));
    EXPECT_FALSE(state.shared);
}

// A path stored with its line feeds (by a client that did not clean it) is read whole, with
// exactly the line feeds it held.
TEST(ServerStateListing, RowsSplitByALineBreakInAValueAreReadWhole)
{
    const ServerState state = parseServerState(row({"kq-n", "1", "1", "n", "/p/new"}) + QStringLiteral("\nline\n\nx") +
                                               row({"", "", "1"}) + u'\n' + row({"kq-a", "1", "2", "a", "/p/a", "", "1"}) +
                                               u'\n' + row({"six", "", "", "", "", ""}) + u'\n' +
                                               row({"kq-b", "1", "3", "b", "/p/b", "", ""}));
    ASSERT_EQ(state.open.size(), 3);
    EXPECT_EQ(state.open.at(0), (HostTab{QStringLiteral("kq-n"), 1, QStringLiteral("n"), QStringLiteral("/p/new\nline\n\nx"),
                                          std::nullopt, std::nullopt}));
    EXPECT_EQ(sessionsOf(state.open), (QStringList{"kq-n", "kq-a", "kq-b"}));
    EXPECT_FALSE(state.sessions.count(QStringLiteral("six")));
    EXPECT_TRUE(state.synced);
}

std::string escaped(const QString& text)
{
    std::string out;
    for (const QChar c : text) {
        char hex[8];
        if (c.unicode() < 0x20 || c.unicode() == 0x7f) {
            std::snprintf(hex, sizeof hex, "\\x%02x", c.unicode());
            out += hex;
        } else {
            out += QString(c).toStdString();
        }
    }
    return out;
}

// The creation time ends our rows: read when it is a plain count of seconds in range, none
// otherwise and on rows printed without it; a row split by a line feed in a value gets it
// back, and a row without it is never joined to the next.
TEST(ServerStateListing, RowsCarryTheSessionsCreationTimeWhenTheySayIt)
{
    struct Case {
        QString rows;
        std::optional<qint64> created;
    };
    const Case cases[] = {
        {row({"kq-a", "1", "1", "a", "/p/a", "", "1", "1700000000"}), 1700000000},
        {row({"kq-a", "1", "1", "a", "/p/a", "", "1", "0"}), 0},
        {row({"kq-a", "1", "1", "a", "/p/a", "", "1"}), std::nullopt},
        {row({"kq-a", "1", "1", "a", "/p/a", "", "1", ""}), std::nullopt},
        {row({"kq-a", "1", "1", "a", "/p/a", "", "1", "-5"}), std::nullopt},
        {row({"kq-a", "1", "1", "a", "/p/a", "", "1", "17e8"}), std::nullopt},
        {row({"kq-a", "1", "1", "a", "/p/a", "", "1", "99999999999999999999"}), std::nullopt},
        {row({"kq-a", "1", "1", "a", "/p/a", "", "1", "1099511627776"}), std::nullopt},
        {row({"kq-a", "1", "1", "a", "/p/a", "", "1", "12", "more"}), 12},
        // A line feed in the path, and in the sync field.
        {row({"kq-a", "1", "1", "a", "/p/a\nb", "", "1", "33"}), 33},
        {row({"kq-a", "1", "1", "a", "/p/a", "", "1\n", "34"}), 34},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(escaped(c.rows));
        for (const QString& next : {row({"kq-z", "1", "2", "z", "/p/z", "", "1", "9"}), row({"kq-z", "1", "2", "z", "/p/z", "", "1"}),
                                    QString()}) {
            const ServerState state = parseServerState(c.rows + u'\n' + next + QStringLiteral("\n\n@@HV_SHARED@@\n"));
            ASSERT_EQ(state.open.size(), next.isEmpty() ? 1 : 2) << escaped(next);
            EXPECT_EQ(state.open.at(0).session, QStringLiteral("kq-a"));
            EXPECT_EQ(state.open.at(0).created, c.created);
            EXPECT_EQ(state.open.at(0).path.left(4), QStringLiteral("/p/a"));
            if (!next.isEmpty()) {
                EXPECT_EQ(state.open.at(1).path, QStringLiteral("/p/z"));
            }
        }
    }
    // Rows equal in all but their creation time are not the same row.
    const ServerState before = parseServerState(row({"kq-a", "1", "1", "a", "/p/a", "", "1", "100"}));
    const ServerState after = parseServerState(row({"kq-a", "1", "1", "a", "/p/a", "", "1", "101"}));
    EXPECT_NE(before.open, after.open);
}

// Rows end at line feeds only: a carriage return or any other control character is part of
// its value, and a row split by line feeds gets exactly those back.
TEST(ServerStateListing, ValuesKeepEveryCharacterAndTheLineFeedsOfASplitRow)
{
    const std::pair<const char16_t*, const char16_t*> cases[] = {
        {u"n", u"/srv/a\rb"},
        {u"n", u"/srv/a\r\nb"},
        {u"n", u"\r/srv/a\r"},
        {u"n", u"/srv/a\nb\x01" u"c\x1b[0m\x7f"},
        {u"n", u"/srv/a\n\nb"},
        {u"n", u"/srv/a\n"},
        {u"one\rtwo\x02", u"/srv/a"},
        {u"one\ntwo", u"/srv/a\r\n\r"},
    };
    for (const auto& [name, path] : cases) {
        const QString output = QStringLiteral("kq-x\t1\t1\t") + QString::fromUtf16(name) + u'\t' + QString::fromUtf16(path) +
                               QStringLiteral("\t\t1\n") + row({"kq-y", "1", "2", "y", "/p/y", "", "1"}) +
                               QStringLiteral("\n\n@@HV_SHARED@@\n");
        const ServerState state = parseServerState(output);
        ASSERT_EQ(state.open.size(), 2) << escaped(QString::fromUtf16(path));
        EXPECT_EQ(state.open.at(0).name, QString::fromUtf16(name)) << escaped(QString::fromUtf16(name));
        EXPECT_EQ(state.open.at(0).path, QString::fromUtf16(path)) << escaped(QString::fromUtf16(path));
        EXPECT_EQ(state.open.at(1).path, QStringLiteral("/p/y"));
        EXPECT_EQ(state.sessions.size(), 2u);
    }
}

// Past the bound the client's own sessions stay wherever they are listed, then the open rows
// it would open (lowest orders), then the numbered sessions of its folders, then the others
// in listing order; the drop is noted once with its count.
TEST(ServerStateListing, PastTheBoundKeepsTheClientsSessionsFirst)
{
    const int closed = int(maximumListedSessions) + 100;
    // Other programs' sessions go after the program's own.
    QString output = row({"main", "", "", "", "", "", ""}) + u'\n';
    for (int i = 0; i < closed; ++i)
        output += QStringLiteral("kq-s%1\t\t\t\t\t\t%2\n").arg(i).arg(i + 1 == closed ? QStringLiteral("1") : QString());
    output += row({"kq-own-2", "", "", "", "", "", ""}) + u'\n' + row({"kq-open", "1", "3", "o", "/p/o", "", ""}) + u'\n' +
              row({"kq-open-unset", "1", "", "u", "/p/u", "", ""}) + u'\n' + row({"kq-own", "", "", "", "", "", ""}) + u'\n' +
              row({"kq-tab", "1", "9", "t", "/p/t", "", ""}) + QStringLiteral("\n\n@@HV_SHARED@@\n");
    const ServerState state =
        parseServerState(output, {QStringLiteral("kq-tab"), QStringLiteral("kq-own"), QStringLiteral("kq-absent")});
    EXPECT_EQ(state.sessions.size(), std::size_t(maximumListedSessions + 2));
    for (const char* kept : {"kq-own", "kq-tab", "kq-own-2", "kq-open", "kq-open-unset", "kq-s0"})
        EXPECT_EQ(state.sessions.count(QString::fromUtf8(kept)), 1u) << kept;
    EXPECT_EQ(state.sessions.count(QStringLiteral("kq-s%1").arg(closed - 1)), 0u);
    EXPECT_EQ(state.sessions.count(QStringLiteral("main")), 0u);
    EXPECT_TRUE(state.synced) << "a dropped row still tells the host is synchronised";
    EXPECT_EQ(sessionsOf(state.open), (QStringList{"kq-open", "kq-tab", "kq-open-unset"}));
    // Every row but the two kept and the bound: 100 closed ones, the three others and main.
    EXPECT_EQ(state.problems, QStringList{hostSessionsCappedMessage(closed + 4 - maximumListedSessions)});

    // Open rows alone, listed from the highest order down after rows without a path (which
    // never open a tab): the lowest orders with a path stay.
    QString open;
    for (int i = 0; i < 10; ++i)
        open += QStringLiteral("kq-none%1\t1\t0\to\t\t\t\n").arg(i);
    for (int i = 0; i < maximumListedSessions; ++i)
        open += QStringLiteral("kq-o%1\t1\t%2\to\t/p\t\t\n").arg(i).arg(maximumListedSessions - i);
    const ServerState lowest = parseServerState(open);
    ASSERT_EQ(lowest.open.size(), maximumListedSessions);
    EXPECT_EQ(lowest.open.front().order, 1);
    EXPECT_EQ(lowest.open.back().order, maximumListedSessions);
    EXPECT_EQ(lowest.problems, QStringList{hostSessionsCappedMessage(10)});
}

// A host printing millions of lines without a field: they are read one at a time, and the
// row after them still counts.
TEST(ServerStateListing, MillionsOfBareLinesStayBounded)
{
    QString output;
    output.reserve(6'000'100);
    for (int i = 0; i < 3'000'000; ++i)
        output += QStringLiteral("y\n");
    output += QStringLiteral("kq-a\t1\t1\ta\t/p/a\t\t1\n\n@@HV_SHARED@@\n");
    corvantix::bench::resetPeak();
    const long start = corvantix::bench::statusBytes("VmRSS");
    ASSERT_GT(start, 0) << "needs /proc/self/status";
    const std::optional<ServerState> state = parseListingOutput(output);
    EXPECT_LT(corvantix::bench::statusBytes("VmHWM") - start, 100'000'000L);
    ASSERT_TRUE(state);
    ASSERT_EQ(state->open.size(), 1);
    EXPECT_EQ(state->open.front().path, QStringLiteral("/p/a"));
}

// A text of exactly `bytes` UTF-8 bytes, of three-byte letters then "x"s, after `head`.
QString ofBytes(const QString& head, qsizetype bytes)
{
    QString text = head;
    for (qsizetype left = bytes - head.toUtf8().size(); left > 0;) {
        text += left >= 3 ? QString(QChar(0x6F22)) : QStringLiteral("x");
        left -= left >= 3 ? 3 : 1;
    }
    return text;
}

// Every value is read up to 64 KiB whatever a file system allows (a folder of 255 CJK
// characters, its session of about 785 bytes); one byte more leaves the row out, or the name
// to the session's.
TEST(ServerStateListing, ValuesAreReadUpTo64KiB)
{
    const qsizetype max = maximumHostValueBytes;
    const struct {
        qsizetype session, name, path, parent;
        bool listed, open;
        bool nameKept;
    } cases[] = {
        {785, 765, 4200, 10, true, true, true},
        {max, max, max, max, true, true, true},
        {max + 1, 10, 10, 0, false, false, false},
        {20, max + 1, 10, 0, true, true, false},
        {20, 20, max + 1, 0, true, false, false},
        {20, 20, 20, max + 1, true, true, true},
    };
    for (const auto& c : cases) {
        const QString session = ofBytes(QStringLiteral("kq-"), c.session);
        const QString name = ofBytes(QString(), c.name);
        const QString path = ofBytes(QStringLiteral("/"), c.path);
        const QString parent = ofBytes(QString(), c.parent);
        SCOPED_TRACE(testing::Message() << c.session << ' ' << c.name << ' ' << c.path << ' ' << c.parent);
        const ServerState state = parseServerState(session + u'\t' + QStringLiteral("1\t1\t") + name + u'\t' + path
                                                   + u'\t' + parent + QStringLiteral("\t1\n"));
        EXPECT_EQ(state.sessions.count(session) == 1, c.listed);
        ASSERT_EQ(state.open.size(), c.open ? 1 : 0);
        EXPECT_EQ(state.problems.isEmpty(), c.listed && c.open && c.nameKept) << state.problems.join(u'\n').toStdString();
        EXPECT_EQ(isRefusedSession(state, session), !c.listed || !c.open);
        EXPECT_TRUE(state.synced);
        if (c.open) {
            EXPECT_EQ(state.open.front().name, c.nameKept ? name : session);
            EXPECT_EQ(state.open.front().path, path);
            EXPECT_EQ(state.open.front().parent.has_value(), c.parent > 0 && c.parent <= max);
        }
    }
    // Four bytes a pair of surrogates: 16,384 of them are exactly the limit.
    QString emoji;
    for (int i = 0; i < 16384; ++i)
        emoji += QStringLiteral("\U0001F600");
    ASSERT_EQ(emoji.toUtf8().size(), max);
    for (const auto& [path, open] : {std::pair{u'/' + emoji.mid(2), true}, std::pair{u'/' + emoji, false}}) {
        const ServerState state = parseServerState(QStringLiteral("kq-e\t1\t1\te\t") + path + QStringLiteral("\t\t\n"));
        EXPECT_EQ(state.open.size(), open ? 1 : 0);
    }
    // Each kind of value says so in words of its own, about this computer or a server.
    EXPECT_TRUE(hostPathTooLongMessage(HostKind::thisComputer).startsWith(QStringLiteral("Cet ordinateur ")));
    EXPECT_TRUE(hostPathTooLongMessage(HostKind::server).startsWith(QStringLiteral("Le serveur ")));
    const QStringList kinds{hostSessionTooLongMessage().section(u':', 0, 0), hostTabNameTooLongMessage().section(u':', 0, 0),
                            hostPathTooLongMessage().section(u':', 0, 0)};
    EXPECT_EQ(QSet<QString>(kinds.cbegin(), kinds.cend()).size(), 3);
}

TEST(ServerStateListing, TheLongestFolderNameGivesTheLongestNames)
{
    // The limits are those of the longest folder name and its numbered session.
    const QString folder = ofBytes(QString(), maximumFolderNameBytes);
    const QString base = tmuxSessionName(QStringLiteral("/srv/") + folder);
    EXPECT_EQ((base + QStringLiteral("-2147483647")).toUtf8().size(), maximumSessionNameBytes);
    EXPECT_EQ((folder + QStringLiteral(" (2147483647)")).toUtf8().size(), maximumTabNameBytes);
    // A label never takes more bytes than its folder name: blanks of three bytes become "_".
    const QString blanks = u'a' + QString(84, QChar(0x3000)) + u'b';
    EXPECT_EQ(tmuxSessionName(QStringLiteral("/srv/") + blanks).toUtf8().size(), base.toUtf8().size() - 255 + 86);
}

// Markers count only as whole lines carrying the run's nonce: a folder, session, tab name or
// favourite holding any marker text, or a shared file holding the size marker, is data.
TEST(ServerStateListing, OnlyTheRunsOwnMarkersCount)
{
    const QString nonce = newListingNonce();
    ASSERT_EQ(nonce.size(), 32);
    EXPECT_NE(newListingNonce(), nonce);
    const QString shared = QStringLiteral("@@HV_SHARED@@");
    const QString ours = shared + nonce;
    const QString json = QStringLiteral("{\"favorites\":[\"@@HV_SHARED@@\"],\"hidden\":[]}");
    const struct {
        const char* description;
        QString rows;
        QString tail;
        QStringList open;
        std::optional<SharedPrefs> shared;
        bool tooLarge;
    } cases[] = {
        {"folder named as the bare marker",
         QStringLiteral("kq-@@HV_SHARED@@-0\t1\t1\t@@HV_SHARED@@\t/p/@@HV_SHARED@@\t\t1\n") + row({"kq-web", "1", "2", "web", "/p/web", "", "1"}) + u'\n',
         QStringLiteral("\n{}\n"), {"kq-@@HV_SHARED@@-0", "kq-web"}, SharedPrefs{}, false},
        {"path breaking a line before the bare marker",
         QStringLiteral("kq-x\t1\t1\tx\t/p/x\n@@HV_SHARED@@\n\t\t1\n") + row({"kq-web", "1", "2", "web", "/p/web", "", "1"}) + u'\n',
         QStringLiteral("\n{}\n"), {"kq-x", "kq-web"}, SharedPrefs{}, false},
        {"marker of another run",
         QStringLiteral("kq-y\t1\t1\ty\t/p/y\n@@HV_SHARED@@") + newListingNonce() + QStringLiteral("\n\t\t1\n"),
         QStringLiteral("\n{}\n"), {"kq-y"}, SharedPrefs{}, false},
        {"favourite named as the marker", row({"kq-web", "1", "2", "web", "/p/web", "", "1"}) + u'\n', u'\n' + json + u'\n',
         {"kq-web"}, SharedPrefs{{shared}, {}}, false},
        {"file holding the bare size marker", QString(), QStringLiteral("\n@@HV_SHARED_TOO_LARGE@@\n"), {}, std::nullopt, false},
        {"the run's size marker", QString(), QStringLiteral("\n@@HV_SHARED_TOO_LARGE@@") + nonce + u'\n', {}, std::nullopt, true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.description);
        const std::optional<ServerState> state = parseListingOutput(c.rows + u'\n' + ours + c.tail, {}, nonce);
        ASSERT_TRUE(state);
        EXPECT_EQ(sessionsOf(state->open), c.open);
        EXPECT_EQ(state->shared, c.shared);
        EXPECT_EQ(state->sharedTooLarge, c.tooLarge);
    }
    // Without its own marker line the output is no listing, whatever it holds.
    EXPECT_FALSE(parseListingOutput(row({"kq-a", "1", "1", "a", "/p/a", "", "1"}) + QStringLiteral("\n\n@@HV_SHARED@@\n{}"), {}, nonce));
    EXPECT_FALSE(parseListingOutput(QStringLiteral("kq-") + ours + QStringLiteral("\n{}"), {}, nonce));
    // The script prints each marker with the run's nonce, and the bare ones only without one.
    const QString script = listingScript(nonce);
    for (const char* marker : {"@@HV_SHARED@@", "@@HV_SHARED_TOO_LARGE@@", "@@HV_CUT@@", "@@HV_OPEN@@", "@@HV_END@@",
                               "@@HV_ROWS_FAILED@@"})
    {
        EXPECT_GE(script.count(QString::fromLatin1(marker) + nonce), 1) << marker;
        EXPECT_EQ(script.count(QString::fromLatin1(marker) + nonce), script.count(QString::fromLatin1(marker))) << marker;
    }
}

// Rows cut at their bound: the open rows printed whole after them are the open tabs, and the
// cut rows still give sessions; without them whole, the state says its open tabs are partial.
TEST(ServerStateListing, CutRowsTakeTheirOpenTabsFromTheOpenRows)
{
    const QString n = QStringLiteral("0123456789abcdef0123456789abcdef");
    const QString cut = QStringLiteral("@@HV_CUT@@") + n + u'\n';
    const QString openHead = QStringLiteral("@@HV_OPEN@@") + n + u'\n';
    const QString end = QStringLiteral("@@HV_END@@") + n + u'\n';
    const QString rows = row({"kq-s1", "", "", "", "", "", "1"}) + u'\n' + row({"kq-a", "1", "2", "a", "/p/a", "", "1"}) + u'\n'
                       + row({"kq-s2", "", "", "", "", "", "1"}) + u'\n';
    const QString openRows = row({"kq-a", "1", "2", "a", "/p/a", "", "1"}) + u'\n' + row({"kq-b", "1", "1", "b", "/p/b", "", "1"})
                           + u'\n' + row({"kq-c", "1", "3", "c", "/p/c", "", "1"}) + u'\n';
    const struct {
        const char* description;
        QString head;
        QStringList open;
        bool rowsCut, openIncomplete;
        QStringList sessions;
    } cases[] = {
        {"whole rows", rows, {"kq-a"}, false, false, {"kq-a", "kq-s1", "kq-s2"}},
        {"whole rows, open rows ignored", rows + openHead + openRows + end, {"kq-a"}, false, false, {"kq-a", "kq-s1", "kq-s2"}},
        {"cut rows, open rows whole", rows + cut + openHead + openRows + end, {"kq-b", "kq-a", "kq-c"}, true, false,
         {"kq-a", "kq-b", "kq-c", "kq-s1", "kq-s2"}},
        {"cut rows, open rows cut too", rows + cut + openHead + openRows + cut, {"kq-a"}, true, true, {"kq-a", "kq-s1", "kq-s2"}},
        {"cut rows, no open rows (a tmux without filters)", rows + cut + openHead, {"kq-a"}, true, true,
         {"kq-a", "kq-s1", "kq-s2"}},
        {"cut rows, rows after the cut are not read", rows + cut + row({"kq-late", "1", "1", "l", "/p/l", "", "1"}) + u'\n',
         {"kq-a"}, true, true, {"kq-a", "kq-s1", "kq-s2"}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.description);
        const ServerState state = parseServerState(c.head + u'\n' + QStringLiteral("@@HV_SHARED@@") + n + QStringLiteral("\n{}"), {}, n);
        EXPECT_EQ(sessionsOf(state.open), c.open);
        EXPECT_EQ(state.rowsCut, c.rowsCut);
        EXPECT_EQ(state.openIncomplete, c.openIncomplete);
        EXPECT_EQ(QStringList(state.sessions.cbegin(), state.sessions.cend()), c.sessions);
        EXPECT_TRUE(state.synced);
        EXPECT_EQ(state.shared, SharedPrefs{});
    }
}

// A row filter that did not run or failed reads no row, whatever it let through, and says so
// with its status; another run's failure marker is a row like any other line.
TEST(ServerStateListing, AFailedRowFilterReadsNoRow)
{
    const QString n = QStringLiteral("0123456789abcdef0123456789abcdef");
    const QString rows = row({"kq-a", "1", "1", "a", "/p/a", "", "1"}) + u'\n';
    const QString failed = QStringLiteral("\n@@HV_ROWS_FAILED@@") + n + u'\n';
    const struct {
        const char* description;
        QString head;
        std::optional<int> status;
        QStringList open;
    } cases[] = {
        {"awk missing", failed + QStringLiteral("127\n"), 127, {}},
        {"awk failed after some rows", rows + failed + QStringLiteral("2\n"), 2, {}},
        {"unreadable status", rows + failed + QStringLiteral("x\n"), 1, {}},
        {"marker of another run", rows + QStringLiteral("@@HV_ROWS_FAILED@@\n127\n"), std::nullopt, {"kq-a"}},
        {"rows whole", rows, std::nullopt, {"kq-a"}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.description);
        const ServerState state = parseServerState(c.head + QStringLiteral("\n@@HV_SHARED@@") + n + QStringLiteral("\n{}"), {}, n,
                                                   HostKind::server);
        EXPECT_EQ(state.rowsFailed, c.status);
        EXPECT_EQ(sessionsOf(state.open), c.open);
        EXPECT_EQ(state.sessions.empty(), c.open.isEmpty());
        EXPECT_EQ(state.shared, SharedPrefs{});
        EXPECT_EQ(state.problems, c.status ? QStringList{hostRowsFailedMessage(*c.status, HostKind::server)} : QStringList{});
    }
    EXPECT_EQ(hostRowsFailedMessage(127, HostKind::server).toStdString(),
              "Le serveur n'a pas awk : la liste de ses sessions ne peut pas être lue, ses onglets restent tels quels.");
    EXPECT_EQ(hostRowsFailedMessage(2).toStdString(),
              "Cet ordinateur n'a pas pu lire la liste de ses sessions (awk a échoué, code 2) : ses onglets restent tels quels.");
}

TEST(ServerStateListing, UnsyncedWithoutASyncFlag)
{
    const ServerState state = parseServerState(row({"kq-a", "1", "2", "Web", "/srv/web", "", ""}) +
                                               row({"\n  ", "1", "", "", "", "", "1"}));
    EXPECT_FALSE(state.synced);
}

TEST(ServerStateListing, OrdersAreStrictIntegersAndSortTheTabs)
{
    const std::pair<const char*, qint64> cases[] = {
        {"+3", 3}, {"-1", -1}, {"3 ", unsetHostOrder}, {"", unsetHostOrder}, {"1e3", unsetHostOrder},
        {"9223372036854775807", 9223372036854775807LL}, {"9223372036854775808", unsetHostOrder}, {"--1", unsetHostOrder}};
    for (const auto& [order, value] : cases) {
        const ServerState state = parseServerState(row({"s", "1", order, "", "", "", ""}));
        ASSERT_EQ(state.open.size(), 1);
        EXPECT_EQ(state.open.at(0).order, value) << '"' << order << '"';
    }
    const ServerState state = parseServerState(row({"d", "1", "2", "", "", "", ""}) + u'\n' +
                                               row({"c", "1", "", "", "", "", ""}) + u'\n' +
                                               row({"b", "1", "1", "", "", "", ""}) + u'\n' +
                                               row({"a", "1", "1", "", "", "", ""}));
    EXPECT_EQ(sessionsOf(state.open), (QStringList{"a", "b", "d", "c"}));
}

TEST(ServerStateListing, SharedFileAfterTheMarkerAndNoListingWithoutIt)
{
    const auto state = parseListingOutput(
        QStringLiteral("\n@@HV_SHARED@@\n{\"favorites\":[\"web\"],\"hidden\":[],\"version\":1}\n@@HV_SHARED@@\ngarbage"));
    ASSERT_TRUE(state && state->shared);
    EXPECT_EQ(state->shared->favorites, NameSet{QStringLiteral("web")});
    EXPECT_EQ(parseListingOutput(QStringLiteral("@@HV_SHARED@@\n")), ServerState{});
    EXPECT_FALSE(parseListingOutput(QString()));
    EXPECT_FALSE(parseListingOutput(row({"kq-a", "1", "2", "Web", "/srv/web", "", ""})));
}

// The listing prints a marker alone in place of a file over the size; the rows are read all
// the same. A file that merely holds the marker's text is a file like any other.
TEST(ServerStateListing, SharedFileTooLargeByTheMarkerAloneOrByItsSize)
{
    const QString marker = QStringLiteral("@@HV_SHARED_TOO_LARGE@@");
    const struct {
        QString tail;
        bool tooLarge;
        std::optional<SharedPrefs> shared;
    } cases[] = {
        {u'\n' + marker + u'\n', true, std::nullopt},
        {QStringLiteral("{\"favorites\":[\"") + marker + QStringLiteral("\"],\"hidden\":[]}\n"), false,
         SharedPrefs{{marker}, {}}},
        {QStringLiteral("{\"favorites\":[\"a\"],\"pad\":\"") + QString(1 << 20, u'x') + QStringLiteral("\"}"), true,
         std::nullopt},
        {QStringLiteral("{\"favorites\":[\"a\"]}"), false, SharedPrefs{{QStringLiteral("a")}, {}}},
    };
    for (const auto& c : cases) {
        const ServerState state
            = parseServerState(row({"kq-a", "1", "1", "a", "/p/a", "", "1"}) + QStringLiteral("\n\n@@HV_SHARED@@\n") + c.tail);
        EXPECT_EQ(state.sharedTooLarge, c.tooLarge) << c.tail.left(60).toStdString();
        EXPECT_EQ(state.shared, c.shared) << c.tail.left(60).toStdString();
        EXPECT_EQ(state.problems.contains(sharedStateTooLargeMessage()), c.tooLarge);
        EXPECT_EQ(sessionsOf(state.open), QStringList{QStringLiteral("kq-a")});
    }
}

// A shared-state file of exactly `bytes` UTF-8 bytes holding the favourite "keep", padded with
// `fill` as long as it fits, then with "x".
QString sharedFileOfBytes(qsizetype bytes, const QString& fill)
{
    const QString head = QStringLiteral("{\"favorites\":[\"keep\"],\"pad\":\"");
    const QString end = QStringLiteral("\"}\n");
    QString file = head;
    qsizetype size = head.toUtf8().size() + end.toUtf8().size();
    const qsizetype fillBytes = fill.toUtf8().size();
    while (size + fillBytes <= bytes) {
        file += fill;
        size += fillBytes;
    }
    file += QString(bytes - size, u'x') + end;
    return file;
}

// The listing's shared section: one boundary in bytes of the file as stored (the marker's line
// feed is not the file's), names of any length kept, and whatever is there but not our object
// left out without being taken for a missing file.
TEST(ServerStateListing, SharedSectionBoundaryInBytesAndUnreadableFiles)
{
    const QString longName = QString(100, QChar(0x65E5));
    const SharedPrefs keep{{QStringLiteral("keep")}, {}};
    enum Outcome { adopted, missing, tooLarge, unreadable };
    const struct {
        const char* description;
        QString file;
        Outcome outcome;
        std::optional<SharedPrefs> shared;
    } cases[] = {
        {"exactly 1 MiB of ASCII", sharedFileOfBytes(1 << 20, QStringLiteral("x")), adopted, keep},
        {"one byte more", sharedFileOfBytes((1 << 20) + 1, QStringLiteral("x")), tooLarge, std::nullopt},
        {"exactly 1 MiB of two-byte characters", sharedFileOfBytes(1 << 20, QStringLiteral("é")), adopted, keep},
        {"exactly 1 MiB of three-byte characters", sharedFileOfBytes(1 << 20, QStringLiteral("日")), adopted, keep},
        {"exactly 1 MiB of four-byte characters", sharedFileOfBytes(1 << 20, QStringLiteral("\U0001F600")), adopted, keep},
        {"one byte more of three-byte characters", sharedFileOfBytes((1 << 20) + 1, QStringLiteral("日")), tooLarge,
         std::nullopt},
        {"one byte more of four-byte characters", sharedFileOfBytes((1 << 20) + 1, QStringLiteral("\U0001F600")), tooLarge,
         std::nullopt},
        {"a 300-byte favourite", QStringLiteral("{\"favorites\":[\"a\",\"") + longName + QStringLiteral("\"],\"hidden\":[\"") +
         longName + QStringLiteral("\"]}"), adopted, SharedPrefs{{QStringLiteral("a"), longName}, {longName}}},
        {"no file", QString(), missing, std::nullopt},
        {"a blank file", QStringLiteral(" \n\n"), missing, std::nullopt},
        {"invalid JSON", QStringLiteral("{\"favorites\":[\"keepme\",\"mine\","), unreadable, std::nullopt},
        {"a JSON array", QStringLiteral("[\"keepme\"]\n"), unreadable, std::nullopt},
        {"the listing's word for an unreadable file", QStringLiteral("@@HV_SHARED_UNREADABLE@@\n"), unreadable, std::nullopt},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.description);
        const ServerState state = parseServerState(row({"kq-a", "1", "1", "a", "/p/a", "", "1"})
                                                   + QStringLiteral("\n\n@@HV_SHARED@@\n") + c.file);
        EXPECT_EQ(state.shared, c.shared);
        EXPECT_EQ(state.sharedTooLarge, c.outcome == tooLarge);
        EXPECT_EQ(state.sharedUnreadable, c.outcome == unreadable);
        QStringList problems;
        if (c.outcome == tooLarge)
            problems << sharedStateTooLargeMessage();
        if (c.outcome == unreadable)
            problems << sharedStateUnreadableMessage();
        EXPECT_EQ(state.problems, problems);
        EXPECT_EQ(sessionsOf(state.open), QStringList{QStringLiteral("kq-a")});
    }
    ASSERT_EQ(sharedFileOfBytes(1 << 20, QStringLiteral("\U0001F600")).toUtf8().size(), 1 << 20);
    ASSERT_EQ(sharedFileOfBytes((1 << 20) + 1, QStringLiteral("日")).toUtf8().size(), (1 << 20) + 1);
}

TEST(SharedPrefsFile, EncodesSortedCompactWithEscapedSlashes)
{
    EXPECT_EQ(encodeSharedPrefs({QStringLiteral("web"), QStringLiteral("api")}, {}).toStdString(),
              "{\"favorites\":[\"api\",\"web\"],\"hidden\":[],\"version\":1}");
    EXPECT_EQ(encodeSharedPrefs({QStringLiteral("a/b"), QStringLiteral("q\"\\\n\x01")}, {QStringLiteral("été")}).toStdString(),
              "{\"favorites\":[\"a\\/b\",\"q\\\"\\\\\\n\\u0001\"],\"hidden\":[\"été\"],\"version\":1}");
}

// The size is counted in the bytes the file takes, escapes and surrogates included, not in
// the characters of its text.
TEST(SharedPrefsFile, SizeIsTheBytesWritten)
{
    const QChar high(0xD83D), low(0xDE00);
    const QString cases[] = {
        QStringLiteral("web"), QStringLiteral("a/b\"\\\n\x01\x1f\t"), QStringLiteral("\u00E9t\u00E9"),
        QStringLiteral("\u65E5\u672C"), QStringLiteral("\U0001F600"), QString(high), QString(low),
        QString(high) + u'x', QString(high) + high + low, QString(low) + high, QString(high) + u'/' + low,
    };
    for (const QString& name : cases) {
        const NameSet names{name, QStringLiteral("api")};
        EXPECT_EQ(encodedSharedPrefsBytes(names, {name}), encodeSharedPrefs(names, {name}).toUtf8().size())
            << name.toUtf8().toHex().toStdString();
    }
    EXPECT_EQ(encodedSharedPrefsBytes({QStringLiteral("\u00E9"), QStringLiteral("\u65E5")}, {QStringLiteral("\U0001F600")}),
              QByteArray("{\"favorites\":[\"\",\"\"],\"hidden\":[\"\"],\"version\":1}").size() + 2 + 3 + 4);
}

TEST(SharedPrefsFile, ParsesObjectsOnly)
{
    const std::pair<const char*, std::optional<SharedPrefs>> cases[] = {
        {"  {}\n", SharedPrefs{}}, {"   \n ", std::nullopt}, {"[]", std::nullopt},
        {"{\"favorites\":", std::nullopt},
        {"{\"favorites\":\"web\",\"hidden\":[\"h\"]}", SharedPrefs{{}, {QStringLiteral("h")}}},
        {"{\"favorites\":[\"a\",\"a\",\"b\"],\"hidden\":[\"c\"],\"version\":7}",
         SharedPrefs{{QStringLiteral("a"), QStringLiteral("b")}, {QStringLiteral("c")}}},
        {"{\"favorites\":[\"a\",1,null,[\"b\"]]}", SharedPrefs{{QStringLiteral("a")}, {}}},
    };
    for (const auto& [text, prefs] : cases)
        EXPECT_EQ(parseSharedPrefs(QString::fromUtf8(text)), prefs) << text;
}

// The line POSIX `cksum` prints for bytes on its standard input: known values (the length
// follows the bytes in the CRC, in one byte, then two), and whatever this computer's `cksum`
// prints for bytes of every value and for lengths around those steps.
TEST(SharedPrefsFile, ChecksumIsTheOnePosixCksumPrints)
{
    const std::pair<QByteArray, const char*> known[] = {
        {QByteArray(), "4294967295 0"},
        {QByteArray("a"), "1220704766 1"},
        {QByteArray("123456789"), "930766865 9"},
        {QByteArray("{\"favorites\":[],\"hidden\":[],\"version\":1}"), "553732385 40"},
        {QByteArray("\xff\x00\x80", 3), "4283474373 3"},
        {QByteArray(256, '\0'), "4215202376 256"},
        {QByteArray(65536, 'x'), "1281127553 65536"},
    };
    for (const auto& [bytes, line] : known)
        EXPECT_EQ(cksumLine(bytes).toStdString(), line) << bytes.size();

    const QString cksum = QStandardPaths::findExecutable(QStringLiteral("cksum"));
    if (cksum.isEmpty())
        GTEST_SKIP() << "no cksum here to compare with";
    for (const qsizetype size : {qsizetype(1), qsizetype(255), qsizetype(256), qsizetype(257), qsizetype(65535),
                                 qsizetype(65537), qsizetype(300000)}) {
        QByteArray bytes(size, Qt::Uninitialized);
        for (qsizetype index = 0; index < size; ++index)
            bytes[index] = char(QRandomGenerator::global()->bounded(256));
        QProcess process;
        process.start(cksum, {});
        ASSERT_TRUE(process.waitForStarted());
        process.write(bytes);
        process.closeWriteChannel();
        ASSERT_TRUE(process.waitForFinished());
        EXPECT_EQ(cksumLine(bytes), QString::fromLatin1(process.readAllStandardOutput()).trimmed()) << size;
    }
}

TEST(SharedPrefsFile, RoundTrips)
{
    const NameSet favorites{QStringLiteral("a/b"), QStringLiteral("\U0001F600"), QStringLiteral("\uFFFD"),
                            QStringLiteral("tab\there"), QStringLiteral(""), QString(300, u'n'), QString(2000, QChar(0xE9))};
    const NameSet hidden{QStringLiteral("x\"y"), QStringLiteral("back\\slash")};
    EXPECT_EQ(parseSharedPrefs(encodeSharedPrefs(favorites, hidden)), (SharedPrefs{favorites, hidden}));
    // Code-point order puts a supplementary character after every other one.
    EXPECT_EQ(*favorites.rbegin(), QStringLiteral("\U0001F600"));
}

HostTab hostTab(const char* session, qint64 order)
{
    return HostTab{QString::fromUtf8(session), order, QString::fromUtf8(session), QStringLiteral("/p"), std::nullopt, std::nullopt};
}

TEST(Reconcile, Plans)
{
    const QDateTime now = at(1'000'000);
    const struct {
        const char* description;
        QList<LocalTab> local;
        QList<HostTab> host;
        QStringList toOpen, toClose, toRestart, order;
    } cases[] = {
        {"mixed",
         {{"A", true, std::nullopt}, {"B", false, std::nullopt}, {"C", true, at(1'000'000 - 3000)},
          {"D", true, at(1'000'000 - 30000)}, {"E", true, std::nullopt}},
         {hostTab("A", 1), hostTab("B", 2), hostTab("F", 3)},
         {"F"}, {"D", "E"}, {"B"}, {"A", "B", "F", "C"}},
        {"exactly ten seconds is old", {{"A", true, at(1'000'000 - 10000)}}, {}, {}, {"A"}, {}, {}},
        {"just under ten seconds is young", {{"A", true, at(1'000'000 - 9999)}}, {}, {}, {}, {}, {"A"}},
        {"opened in the future is young", {{"A", true, at(1'000'000 + 60000)}}, {}, {}, {}, {}, {"A"}},
        {"empty host", {{"A", true, std::nullopt}, {"Y", false, at(1'000'000 - 1)}}, {}, {}, {"A"}, {}, {"Y"}},
        {"empty local", {}, {hostTab("A", 1), hostTab("B", 2)}, {"A", "B"}, {}, {}, {"A", "B"}},
        {"duplicates judged alone",
         {{"A", false, std::nullopt}, {"A", true, std::nullopt}, {"X", true, std::nullopt}, {"X", true, at(1'000'000)}},
         {hostTab("A", 1), hostTab("A", 2)},
         {}, {"X"}, {"A"}, {"A", "A"}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.description);
        const ReconcilePlan plan = reconcileTabs(c.local, c.host, now);
        EXPECT_EQ(sessionsOf(plan.toOpen), c.toOpen);
        EXPECT_EQ(plan.toClose, c.toClose);
        EXPECT_EQ(plan.toRestart, c.toRestart);
        EXPECT_EQ(plan.order, c.order);
    }
}

// Line breaks and tabs in a name or path would break the listing's rows.
TEST(Reconcile, SessionScriptCleansValuesAndTargetsExactly)
{
    EXPECT_EQ(tmuxSessionScript(QStringLiteral("S"), QStringLiteral("a\tb\nc"), QStringLiteral("/srv/it's\r$(x)"), -1)
                  .toStdString(),
              "tmux new-session -d -s 'S' -c '/srv/it'\\''s\r$(x)' 2>/dev/null\n"
              "tmux set -t '=S:' @hv_open 1\n"
              "tmux set -t '=S:' @hv_order -1\n"
              "tmux set -t '=S:' @hv_name 'a b c'\n"
              "tmux set -t '=S:' @hv_path '/srv/it'\\''s $(x)'\n");
}

// Only whole report lines of the seeding's own token count, each with its order.
TEST(Reconcile, SeedReportReadsItsOwnLinesOnly)
{
    const QString output = QStringLiteral("profile says hi\n"
                                          "hv-seeded-abc-made-1\n"
                                          "hv-seeded-abc-present-8\n"
                                          "hv-seeded-abd-present-9\n"
                                          "hv-seeded-abc-66-2\r\n"
                                          "hv-seeded-abc-77-3\n"
                                          "hv-seeded-abd-made-4\n"
                                          "hv-seeded-abc-made-x\n"
                                          "hv-seeded-abc-55-5\n"
                                          " hv-seeded-abc-made-6\n"
                                          "hv-seeded-abc-failed-10\r\n"
                                          "hv-seeded-abd-failed-11\n"
                                          "hv-seeded-abc-failed-\n"
                                          "hv-seeded-abc-failing-12\n"
                                          "hv-seeded-abc-made-7");
    const SeedReport report = parseSeedReport(output, QStringLiteral("abc"));
    EXPECT_EQ(report.made, (QList<qint64>{1, 7}));
    EXPECT_EQ(report.present, QList<qint64>{8});
    EXPECT_EQ(report.failed, QList<qint64>{10});
    EXPECT_EQ(report.refused, (QList<std::pair<qint64, int>>{{2, 66}, {3, 77}}));
    // Its tags are the session script's own lines.
    const QString script = tmuxSeedScript(QStringLiteral("S"), QStringLiteral("n"), QStringLiteral("/p"), 2, QStringLiteral("abc"));
    const QString tags = tmuxSessionScript(QStringLiteral("S"), QStringLiteral("n"), QStringLiteral("/p"), 2);
    EXPECT_TRUE(script.endsWith(tags.mid(tags.indexOf(u'\n') + 1))) << script.toStdString();
    EXPECT_EQ(script.count(u'\n'), 5);
}

} // namespace
} // namespace halvoren
