// The scripts run for real through the login shell against a private tmux server (its own
// socket folder, TMUX unset), with HOME a temporary folder, and their output parsed back.
#include "remote/FolderSessions.h"
#include "remote/ServerState.h"
#include "remote/SessionNaming.h"
#include "remote/Shell.h"
#include "remote/ShellQuote.h"
#include "remote/SharedPrefs.h"
#include "remote/TabReconciliation.h"
#include "remote/TmuxCommands.h"
#include "RunSync.h"
#include "../support/HostileRepositories.h"
#include "../support/OlderGits.h"
#include "../support/PrivateTmux.h"
#include "../support/ScriptShell.h"
#include "../support/SharedStateNames.h"
#include "../support/StandIns.h"

#include <QDateTime>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QStandardPaths>

#include <gtest/gtest.h>

#include <functional>
#include <iostream>
#include <map>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>
#include <string>

namespace halvoren {
namespace {

using test::runSync;

class HostScripts : public ::testing::Test {
protected:
    void SetUp() override
    {
        for (const char* program : {"tmux", "git", "base64"}) {
            if (QStandardPaths::findExecutable(QString::fromLatin1(program)).isEmpty())
                GTEST_FAIL() << program << " is missing: install the Debian package "
                             << (std::string(program) == "base64" ? "coreutils" : program);
        }
    }
    QString folder(const QString& name) { return tmux.folder(name); }
    // Runs a script through the login shell; a failed run fails the test.
    QString run(const QString& script, double timeout = 25)
    {
        auto result = runSync(runLoginShell(script, timeout));
        EXPECT_TRUE(result.ok()) << result.error().message.toStdString();
        return result.ok() ? result.value() : QString();
    }
    void newSession(const QString& session, const QString& path)
    {
        run(QStringLiteral("tmux new-session -d -s ") + shellQuote(session) + QStringLiteral(" -c ") + shellQuote(path));
    }
    bool hasSession(const QString& session)
    {
        return run(QStringLiteral("tmux has-session -t ") + tmuxSessionTarget(session) +
                   QStringLiteral(" 2>/dev/null && echo yes; true")) == QStringLiteral("yes\n");
    }
    QString option(const QString& session, const char* name)
    {
        return run(QStringLiteral("tmux display-message -p -t ") + tmuxOptionTarget(session) + QStringLiteral(" '#{") +
                   QString::fromLatin1(name) + QStringLiteral("}'"))
            .trimmed();
    }
    ServerState listing()
    {
        auto state = parseListingOutput(run(listingScript()));
        EXPECT_TRUE(state) << "the listing printed no marker";
        return state.value_or(ServerState{});
    }
    // Puts a git first on the PATH that runs `wrapper` (shell text, `$calls` naming the file
    // `calls`) and then this computer's git; returns the script line that does so.
    QString wrapGit(const QString& calls, const char* wrapper)
    {
        const QString real = QStandardPaths::findExecutable(QStringLiteral("git"));
        const QString bin = folder(QStringLiteral("bin"));
        EXPECT_TRUE(test::writeAll(bin + QStringLiteral("/git"), "#!/bin/sh\ncalls=" + shellQuote(calls).toUtf8() + "\n" +
                                                                     wrapper + "exec " + shellQuote(real).toUtf8() + " \"$@\"\n"));
        EXPECT_TRUE(QFile::setPermissions(bin + QStringLiteral("/git"), QFileDevice::ReadOwner | QFileDevice::ExeOwner));
        return QStringLiteral("PATH=") + shellQuote(bin) + QStringLiteral(":$PATH\n");
    }
    test::PrivateTmux tmux;
    const QString base = tmux.base;
};

TEST_F(HostScripts, ListingReadsBackSeededAndTaggedTabs)
{
    const QString web = folder(QStringLiteral("web"));
    const QString odd = folder(QStringLiteral("it's $(x) *"));
    const QString webSession = tmuxSessionName(web);
    const QString oddSession = tmuxSessionName(odd);
    newSession(QStringLiteral("main"), base);
    newSession(webSession, web);
    // Seeding creates the missing session and tags both; a name with line breaks and tabs
    // stays on its row.
    run(tmuxSessionScript(webSession, QStringLiteral("Web"), web, 2) + QStringLiteral("true\n"));
    run(tmuxSessionScript(oddSession, QStringLiteral("odd\tname\nhere"), odd, 1) + QStringLiteral("true\n"));
    run(QStringLiteral("tmux set -g @hv_sync 1"));
    ServerState state = listing();
    EXPECT_TRUE(state.synced);
    EXPECT_EQ(state.sessions, (std::set<QString, CodePointLess>{QStringLiteral("main"), webSession, oddSession}));
    ASSERT_EQ(state.open.size(), 2);
    EXPECT_TRUE(state.open.at(0).created && state.open.at(1).created);
    EXPECT_EQ(state.open.at(0), (HostTab{oddSession, 1, QStringLiteral("odd name here"), odd, std::nullopt, state.open.at(0).created}));
    EXPECT_EQ(state.open.at(1), (HostTab{webSession, 2, QStringLiteral("Web"), web, std::nullopt, state.open.at(1).created}));
    EXPECT_FALSE(state.shared);
    // The user moved web first.
    run(tmuxReorderScript({webSession, oddSession}) + QStringLiteral("true\n"));
    state = listing();
    ASSERT_EQ(state.open.size(), 2);
    EXPECT_TRUE(state.open.at(0).session == webSession && state.open.at(0).order == 1);
    EXPECT_TRUE(state.open.at(1).session == oddSession && state.open.at(1).order == 2);
    // Closing a tab removes its tag, the session stays.
    run(sessionUntagScript(oddSession) + QStringLiteral("true\n"));
    state = listing();
    ASSERT_EQ(state.open.size(), 1);
    EXPECT_EQ(state.open.at(0).session, webSession);
    EXPECT_EQ(state.sessions.count(oddSession), 1u);
}

// One session's row, read after its tab's start tagged it, is the row the listing gives of it,
// whatever its values hold (a line feed, a line that is a bare marker); a sibling whose name
// it begins, a session not tagged open and one that is not there give none.
TEST_F(HostScripts, OneSessionsRowIsTheRowTheListingGives)
{
    const QString web = folder(QStringLiteral("web"));
    const QString session = tmuxSessionName(web);
    const QString sibling = session + QStringLiteral("-2");
    newSession(sibling, web);
    run(sessionTagCommand(sibling, QStringLiteral("sibling"), web, {sibling}) + QStringLiteral("\ntrue\n"));
    const auto read = [this](const QString& name) { return parseSessionRow(run(sessionRowScript(name)), name); };
    EXPECT_FALSE(read(session));
    newSession(session, web);
    EXPECT_FALSE(read(session)) << "not tagged open";
    const QString name = QStringLiteral("Web\n@@HV_SHARED@@\nend");
    run(QStringLiteral("tmux set -t ") + tmuxOptionTarget(session) + QStringLiteral(" @hv_name ") + shellQuote(name) + u'\n'
        + sessionTagCommand(session, QStringLiteral("ignored"), web, {sibling, session}).replace(
              QStringLiteral(" @hv_name 'ignored'"), QStringLiteral(" @hv_name ") + shellQuote(name))
        + QStringLiteral("\ntrue\n"));
    const std::optional<HostTab> row = read(session);
    ASSERT_TRUE(row);
    EXPECT_EQ(row->name, name);
    EXPECT_EQ(row->order, 2);
    EXPECT_TRUE(row->created);
    const QString nonce = newListingNonce();
    const ServerState state = parseListingOutput(run(listingScript(nonce)), {}, nonce).value_or(ServerState{});
    const auto listed = std::find_if(state.open.cbegin(), state.open.cend(), [&](const HostTab& tab) { return tab.session == session; });
    ASSERT_NE(listed, state.open.cend());
    EXPECT_EQ(*row, *listed);
    EXPECT_EQ(read(sibling)->name, QStringLiteral("sibling"));
}

// Another client may store a path with control characters, line feeds included: tmux prints
// them as they are, and the listing gives the path back byte for byte.
TEST_F(HostScripts, ListingGivesBackEveryCharacterOfAStoredPath)
{
    const QString session = QStringLiteral("kq-raw");
    const QString path = QStringLiteral("/srv/a\rb\r\nc\nd\x01\x1b[0m\x7f");
    newSession(session, base);
    run(QStringLiteral("tmux set -t ") + tmuxOptionTarget(session) + QStringLiteral(" @hv_open 1\ntmux set -t ") +
        tmuxOptionTarget(session) + QStringLiteral(" @hv_path ") + shellQuote(path) + u'\n');
    newSession(QStringLiteral("kq-next"), base);
    const ServerState state = listing();
    ASSERT_EQ(state.open.size(), 1);
    EXPECT_EQ(state.open.front().path, path);
    EXPECT_EQ(state.sessions, (std::set<QString, CodePointLess>{session, QStringLiteral("kq-next")}));
}

// What the listing makes of each kind of shared-state path, on a real shell: the file's size
// in bytes against one boundary, and what is there but cannot be read reported as such, a
// pipe included (opening it would wait for a writer). An upload finds what is not a file
// changed, leaves it in place, and no temporary file behind.
TEST_F(HostScripts, ListingTellsEachKindOfSharedStatePath)
{
    const QString dir = tmux.home() + QStringLiteral("/.halvoren");
    const QString path = dir + QStringLiteral("/shared.json");
    // `bytes` long, three-byte characters first: a count of UTF-16 units would be a third.
    const auto fileOf = [](qsizetype bytes) {
        const QByteArray head = "{\"favorites\":[\"keep\"],\"pad\":\"";
        QByteArray file = head;
        while (file.size() + 3 + 2 <= bytes)
            file += "\xe6\x97\xa5";
        return file + QByteArray(bytes - file.size() - 2, 'x') + "\"}";
    };
    enum Outcome { adopted, missing, tooLarge, unreadable };
    const struct {
        const char* description;
        std::function<bool()> make;
        Outcome outcome;
        bool notAFile;
    } cases[] = {
        {"no file", [] { return true; }, missing, false},
        {"exactly 1 MiB", [&] { return test::writeAll(path, fileOf(1 << 20)); }, adopted, false},
        {"one byte more", [&] { return test::writeAll(path, fileOf((1 << 20) + 1)); }, tooLarge, false},
        {"invalid JSON", [&] { return test::writeAll(path, "{\"favorites\":[\"keepme\",\"mine\","); }, unreadable, false},
        {"a folder", [&] { return QDir().mkpath(path); }, unreadable, true},
        {"a pipe", [&] { return ::mkfifo(QFile::encodeName(path).constData(), 0600) == 0; }, unreadable, true},
        {"a link to nothing", [&] { return QFile::link(dir + QStringLiteral("/gone"), path); }, unreadable, true},
        // Root reads whatever the permissions say.
        {"a file without read permission",
         [&] { return test::writeAll(path, "{}") && QFile::setPermissions(path, QFileDevice::WriteOwner) && ::geteuid() != 0; },
         unreadable, false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.description);
        QDir(dir).removeRecursively();
        ASSERT_TRUE(QDir().mkpath(dir));
        if (!c.make()) {
            EXPECT_EQ(::geteuid(), 0u) << "could not prepare the case";
            continue;
        }
        // Bounded: a listing that waited on the pipe would fail here rather than hang.
        const auto output = runSync(runLoginShell(listingScript(), 10));
        ASSERT_TRUE(output.ok()) << output.error().message.toStdString();
        const std::optional<ServerState> state = parseListingOutput(output.value());
        ASSERT_TRUE(state);
        EXPECT_EQ(state->shared.has_value(), c.outcome == adopted);
        EXPECT_EQ(state->sharedTooLarge, c.outcome == tooLarge);
        EXPECT_EQ(state->sharedUnreadable, c.outcome == unreadable);
        if (c.outcome == adopted) {
            EXPECT_EQ(state->shared, (SharedPrefs{{QStringLiteral("keep")}, {}}));
        }
        if (!c.notAFile)
            continue;
        const QFileInfo before(path);
        const SharedWriteAnswer answer
            = parseSharedWriteAnswer(run(uploadSharedPrefsScript({QStringLiteral("web")}, {}, std::nullopt) + QStringLiteral("true\n")));
        EXPECT_EQ(answer.kind, SharedWriteAnswer::Kind::changed);
        EXPECT_TRUE(answer.found.sharedUnreadable);
        const QFileInfo after(path);
        EXPECT_EQ(after.isDir(), before.isDir());
        EXPECT_EQ(after.isSymLink(), before.isSymLink());
        EXPECT_EQ(after.isFile(), before.isFile());
        QStringList left = QDir(dir).entryList(QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot);
        if (before.isDir())
            left << QDir(path).entryList(QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot);
        EXPECT_EQ(left, QStringList{QStringLiteral("shared.json")});
    }
}

TEST_F(HostScripts, SessionListGivesEachFolderWhole)
{
    const QString web = folder(QStringLiteral("web"));
    // tmux rewrites a backslash in a session name, so it is only in the parent folder here.
    const QString odd = folder(QStringLiteral("back\\n slash/two  blanks\t* [x] $(echo no) '"));
    const QString webSession = tmuxSessionName(web);
    const QString oddSession = tmuxSessionName(odd);
    const qint64 before = QDateTime::currentSecsSinceEpoch();
    newSession(webSession, web);
    newSession(oddSession, odd);
    newSession(QStringLiteral("other"), web);
    const QList<FolderSession> sessions = parseSessionList(run(sessionListScript()));
    ASSERT_EQ(sessions.size(), 2);
    std::map<QString, FolderSession> byName;
    for (const FolderSession& session : sessions)
        byName[session.name] = session;
    ASSERT_EQ(byName.count(webSession), 1u);
    ASSERT_EQ(byName.count(oddSession), 1u);
    EXPECT_EQ(byName[webSession].path, web);
    EXPECT_EQ(byName[oddSession].path, odd);
    for (const FolderSession& session : sessions) {
        EXPECT_EQ(session.command, QStringLiteral("sh"));
        EXPECT_GE(session.createdAt.toSecsSinceEpoch(), before - 1);
    }
}

// What the listing printed when it asked tmux once per session: the reference its rows are
// held to.
const char oneClientPerSession[] =
    "tmux -u list-sessions -F '#{session_name}' 2>/dev/null | grep '^kq-' | while IFS= read -r s; do "
    "printf '%s|%s\\n' \"$s\" \"$(tmux -u display-message -p -t \"=$s:\" "
    "'#{pane_current_path}|#{session_created}|#{session_attached}|#{session_activity}|#{pane_current_command}')\"; "
    "done; true";

// A thousand sessions, ours in a hundred folders (two with separators, quotes and line breaks
// in their names) and others beside them, some with a second window: the listing gives every
// session of ours with the same fields as one client per session did, from one tmux client.
TEST_F(HostScripts, SessionListAsksTmuxOnceForEverySession)
{
    QStringList folders;
    for (int i = 0; i < 100; ++i) {
        const QString odd = i == 0 ? QStringLiteral(" a|b\nc ") : i == 1 ? QStringLiteral("it's $(x) *") : QString();
        folders << folder(QStringLiteral("f%1").arg(i) + odd);
    }
    // Made from a command file by one tmux client, the odd folders' by the shell. The sessions
    // run `cat`, which prints nothing, so their activity stays as it was made.
    QByteArray commands;
    QString odd;
    std::map<QString, QString> made;
    for (int i = 0; i < 1000; ++i) {
        const QString path = folders.at(i % folders.size());
        const QString name = i % 50 == 7 ? QStringLiteral("other-%1").arg(i) : tmuxSessionName(path) + QStringLiteral("-%1").arg(i);
        if (i % folders.size() < 2)
            odd += QStringLiteral("tmux new-session -d -s ") + shellQuote(name) + QStringLiteral(" -c ") + shellQuote(path) + QStringLiteral(" 'exec cat'\n");
        else
            commands += "new-session -d -s " + shellQuote(name).toUtf8() + " -c " + shellQuote(path).toUtf8() + " 'exec cat'\n";
        if (i % 100 == 3)
            commands += "new-window -d -t " + tmuxSessionTarget(name).toUtf8() + ": -c /tmp 'exec cat'\n";
        if (name.startsWith(QStringLiteral("kq-")))
            made[name] = path;
    }
    ASSERT_TRUE(test::writeAll(tmux.file(QStringLiteral("commands")), commands));
    // Each session takes a pseudo-terminal: a machine short of them (a run stopped earlier may
    // have left its servers holding many) makes fewer, which says nothing of the listing.
    const QString errors = shellQuote(tmux.file(QStringLiteral("errors")));
    const QString count = run(QStringLiteral("{\ntmux start-server \\; source-file ") + shellQuote(tmux.file(QStringLiteral("commands")))
                              + u'\n' + odd + QStringLiteral("} 2>>") + errors
                              + QStringLiteral("\ntmux list-sessions 2>/dev/null | wc -l\n"))
                              .trimmed();
    if (count != QStringLiteral("1000")) {
        const QString said = QString::fromUtf8(test::readAll(tmux.file(QStringLiteral("errors")))).section(u'\n', 0, 0);
        const auto pty = [](const char* name) {
            return QString::fromLatin1(test::readAll(QStringLiteral("/proc/sys/kernel/pty/") + QLatin1String(name))).trimmed();
        };
        GTEST_FAIL() << "could not make 1,000 tmux sessions: only " << count.toStdString()
                     << " (no pseudo-terminals left? the system counts " << pty("nr").toStdString() << " in use of " << pty("max").toStdString()
                     << "; tmux said: " << said.toStdString() << ")";
    }

    // A stand-in first on PATH logs every call and hands it to the real tmux.
    const QString real = QStandardPaths::findExecutable(QStringLiteral("tmux"));
    const QString bin = folder(QStringLiteral("bin"));
    const QString log = tmux.file(QStringLiteral("calls"));
    ASSERT_TRUE(test::writeAll(bin + QStringLiteral("/tmux"),
                               ("#!/bin/sh\necho call >> " + shellQuote(log) + "\nexec " + shellQuote(real) + " \"$@\"\n").toUtf8()));
    ASSERT_TRUE(QFile::setPermissions(bin + QStringLiteral("/tmux"), QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner));
    const QString withStandIn = QStringLiteral("PATH=") + shellQuote(bin) + QStringLiteral(":$PATH; export PATH\n");

    const QString output = run(withStandIn + sessionListScript());
    EXPECT_EQ(test::readAll(log).count('\n'), 1) << "tmux calls";
    // The reference starts a client per session: nearly a thousand, slow on a busy machine.
    const QString reference = run(QString::fromUtf8(oneClientPerSession), 180);
    const QList<FolderSession> sessions = parseSessionList(output);
    ASSERT_EQ(sessions.size(), qsizetype(made.size()));
    std::map<QString, QString> listed;
    for (const FolderSession& session : sessions) {
        listed[session.name] = session.path;
        EXPECT_EQ(session.command, QStringLiteral("cat"));
        EXPECT_EQ(session.attached, 0);
    }
    EXPECT_EQ(listed, made);
    EXPECT_EQ(sessions, parseSessionList(reference));
    // What the picker reads of a folder: its sessions alone, with the same fields.
    for (const QString& path : {folders.at(0), folders.at(1), folders.at(57), folders.at(58)}) {
        const QList<FolderSession> picked = parseFolderSessions(output, path);
        // The sessions of the 57th are all another program's.
        EXPECT_EQ(picked.size(), path == folders.at(57) ? 0 : 10);
        EXPECT_EQ(picked, parseFolderSessions(reference, path));
    }
}

TEST_F(HostScripts, CommandsNeverReachTheNumberedSiblingOfAMissingSession)
{
    const QString x = folder(QStringLiteral("x"));
    const QString baseSession = tmuxSessionName(x);
    const QString sibling = baseSession + QStringLiteral("-2");
    ASSERT_TRUE(baseSession.startsWith(QStringLiteral("kq-x-")));
    newSession(sibling, x);
    run(tmuxReorderScript({baseSession}) + QStringLiteral("true\n"));
    run(sessionTagCommand(baseSession, QStringLiteral("X"), x, {baseSession}) + QStringLiteral("; true"));
    run(sessionUntagScript(baseSession) + QStringLiteral("true\n"));
    run(sessionKillScript(baseSession) + QStringLiteral("true\n"));
    EXPECT_TRUE(hasSession(sibling));
    EXPECT_EQ(option(sibling, "@hv_open") + option(sibling, "@hv_order") + option(sibling, "@hv_name"), QString());
    EXPECT_TRUE(listing().open.isEmpty());
    // The same commands with a plain name do reach it: this is what the exact targets prevent.
    run(QStringLiteral("tmux set -t ") + shellQuote(baseSession) + QStringLiteral(" @hv_open 1"));
    EXPECT_EQ(option(sibling, "@hv_open"), QStringLiteral("1"));
    run(QStringLiteral("tmux set -u -t ") + tmuxOptionTarget(sibling) + QStringLiteral(" @hv_open"));
    // With both present each command acts on its own session only.
    newSession(baseSession, x);
    run(sessionTagCommand(baseSession, QStringLiteral("X"), x, {baseSession}) + QStringLiteral("; true"));
    EXPECT_EQ(option(baseSession, "@hv_open"), QStringLiteral("1"));
    EXPECT_EQ(option(sibling, "@hv_open"), QString());
    run(sessionKillScript(baseSession) + QStringLiteral("true\n"));
    EXPECT_FALSE(hasSession(baseSession));
    EXPECT_TRUE(hasSession(sibling));
}

// The seeding makes a session only in its own folder and reports it; a folder that is gone
// or is a file makes none (tmux would make it in its own working folder); an existing session
// is tagged wherever its folder went, and reported as there.
TEST_F(HostScripts, SeedingMakesSessionsOnlyInTheirFolders)
{
    const QString made = folder(QStringLiteral("it's made"));
    const QString gone = folder(QStringLiteral("gone"));
    ASSERT_TRUE(QDir(gone).removeRecursively());
    const QString file = folder(QStringLiteral("f")) + QStringLiteral("/a-file");
    ASSERT_TRUE(QFile(file).open(QIODevice::WriteOnly));
    const QString moved = folder(QStringLiteral("moved"));
    const QString existing = tmuxSessionName(moved);
    newSession(existing, moved);
    ASSERT_TRUE(QDir(moved).removeRecursively());
    const QStringList paths{made, gone, file, moved};
    QString script;
    for (qsizetype i = 0; i < paths.size(); ++i)
        script += tmuxSeedScript(tmuxSessionName(paths.at(i)), QStringLiteral("n"), paths.at(i), i + 1, QStringLiteral("t0"));
    const SeedReport report = parseSeedReport(run(script + QStringLiteral("true\n")), QStringLiteral("t0"));
    EXPECT_EQ(report.made, QList<qint64>{1});
    EXPECT_EQ(report.present, QList<qint64>{4});
    EXPECT_EQ(report.refused, (QList<std::pair<qint64, int>>{{2, folderMissingStatus}, {3, folderMissingStatus}}));
    EXPECT_TRUE(hasSession(tmuxSessionName(made)));
    EXPECT_EQ(option(tmuxSessionName(made), "session_path"), made);
    EXPECT_EQ(option(tmuxSessionName(made), "@hv_open"), QStringLiteral("1"));
    EXPECT_FALSE(hasSession(tmuxSessionName(gone)));
    EXPECT_FALSE(hasSession(tmuxSessionName(file)));
    EXPECT_EQ(option(existing, "@hv_order"), QStringLiteral("4"));
    // A folder closed to the account reads as inaccessible (not for root, who enters any).
    if (::geteuid() != 0) {
        const QString closed = folder(QStringLiteral("closed"));
        ASSERT_EQ(::chmod(QFile::encodeName(closed).constData(), 0), 0);
        const SeedReport refused = parseSeedReport(
            run(tmuxSeedScript(tmuxSessionName(closed), QStringLiteral("c"), closed, 1, QStringLiteral("t1")) + QStringLiteral("true\n")),
            QStringLiteral("t1"));
        ::chmod(QFile::encodeName(closed).constData(), 0700);
        EXPECT_EQ(refused.refused, (QList<std::pair<qint64, int>>{{1, folderInaccessibleStatus}}));
        EXPECT_FALSE(hasSession(tmuxSessionName(closed)));
    }
}

// tmux keeps the computed name of every folder as it is, with the characters it would rewrite
// already made "_" and the others (formats, separators, quotes, "$" before a digit) kept.
TEST_F(HostScripts, TmuxStoresEveryComputedNameAsItIs)
{
    const char16_t* lasts[] = {
        u"back\\slash", u"a$HOME", u"a$_x", u"${HOME}", u"c\u0001d", u"c\u001Bd", u"c\u007Fd", u"c\u0085d",
        u"c\u0378d", u"c\U0010FFFFd", u"c\u000Bd", u"a$1", u"a$", u"x#{session_name}y", u"x##y", u"#(true)", u"semi;",
        u"a;b", u"a|b", u"it's", u"-x", u"\u00E9\U0001F600\u200B", u"%z",
    };
    QStringList created;
    for (const char16_t* last : lasts) {
        const QString path = folder(QStringLiteral("names/") + QString::fromUtf16(last));
        const QString session = tmuxSessionName(path);
        run(tmuxNewSessionCommand(session, path));
        EXPECT_TRUE(hasSession(session)) << session.toStdString();
        created << session;
    }
    QStringList listed = run(QStringLiteral("tmux -u list-sessions -F '#{session_name}'")).split(u'\n', Qt::SkipEmptyParts);
    listed.sort();
    created.sort();
    EXPECT_EQ(listed, created);
}

TEST_F(HostScripts, GitProbeGivesBranchAndState)
{
    const QString clean = folder(QStringLiteral("clean repo"));
    const QString dirty = folder(QStringLiteral("it's dirty"));
    const QString plain = folder(QStringLiteral("plain"));
    const QString gitSetup = QStringLiteral(
        "git init -q -b %1 . && git -c user.name=t -c user.email=t@example.invalid commit -q --allow-empty -m start");
    run(QStringLiteral("cd ") + shellQuote(clean) + QStringLiteral(" && ") + gitSetup.arg(QStringLiteral("main")));
    run(QStringLiteral("cd ") + shellQuote(dirty) + QStringLiteral(" && ") + gitSetup.arg(QStringLiteral("feature/x")) +
        QStringLiteral(" && echo change > file"));
    const auto probe = parseGitProbe(run(gitProbeScript({clean, dirty, plain}), 40));
    QMap<QString, GitInfo> expected;
    expected.insert(clean, GitInfo{QStringLiteral("main"), false});
    expected.insert(dirty, GitInfo{QStringLiteral("feature/x"), true});
    EXPECT_EQ(probe, expected);
}

// The login shells a host may run the probe under, each with a login profile that gets in its
// way: `pipefail` (where a status reader that stops early would make git fail) and a temporary
// folder nothing can be written to, where a shell that keeps here-documents in files (zsh, mksh,
// an older bash) could not run one.
struct LoginShell {
    const char* program;
    const char* profile;
    const char* profileText;
};

const LoginShell loginShells[] = {
    {"bash", ".bash_profile", "set -o pipefail\nTMPDIR=/proc; export TMPDIR\n"},
    {"zsh", ".zprofile", "setopt pipefail\nTMPPREFIX=/proc/hv-\n"},
    {"mksh", ".profile", "set -o pipefail\nTMPDIR=/proc; export TMPDIR\n"},
    {"dash", ".profile", "TMPDIR=/proc; export TMPDIR\n"},
};

// Scripts run under each login shell in turn, with a profile of the test's choosing after the
// shell's usual one.
class LoginShells : public HostScripts {
protected:
    void SetUp() override
    {
        HostScripts::SetUp();
        for (const LoginShell& login : loginShells) {
            programs << QStandardPaths::findExecutable(QString::fromLatin1(login.program));
            if (programs.back().isEmpty())
                GTEST_FAIL() << login.program << " is missing: install the Debian package " << login.program;
        }
        shell.set("SHELL", programs.front());
        // zsh reads its profile from the test's home, not from the user's own folder.
        shell.set("ZDOTDIR", tmux.home());
    }
    // Makes the `index`th login shell the one scripts run under, its profile holding its usual
    // text and then `more`; the profile's path, for the test to remove.
    QString useLoginShell(qsizetype index, const QByteArray& more)
    {
        const LoginShell& login = loginShells[index];
        const QString profile = tmux.home() + u'/' + QLatin1String(login.profile);
        EXPECT_TRUE(test::writeAll(profile, login.profileText + more));
        shell.set("SHELL", programs.at(index));
        return profile;
    }
    QStringList programs;
    test::EnvironmentOverride shell;
};

// The hostile repositories (see HostileRepositories.h), made once for a test, probed under
// the login shells with profiles of the test's choosing.
class HostileGitProbe : public LoginShells {
protected:
    void SetUp() override
    {
        LoginShells::SetUp();
        if (HasFatalFailure())
            return;
        ASSERT_EQ(run(test::hostileRepositoriesScript(root, ran), 120), test::hostileRepositoriesMade());
    }
    // Probes every repository under the `index`th login shell, its profile holding its usual
    // text and then `more`, the probe's script after `prelude`; nothing of the repositories
    // may run.
    void probe(qsizetype index, const QString& more, const QMap<QString, GitInfo>& expected,
               const QString& prelude = QString())
    {
        const QString profile = useLoginShell(index, more.toUtf8());
        test::expectProbe(parseGitProbe(run(prelude + gitProbeScript(test::hostileRepositoryPaths(root)), 40)), expected);
        EXPECT_FALSE(QFileInfo::exists(ran)) << test::readAll(ran).toStdString();
        QFile::remove(ran);
        QFile::remove(profile);
    }
    const QString root = folder(QStringLiteral("projets"));
    const QString ran = tmux.file(QStringLiteral("ran"));
};

// Repositories whose own settings name commands that git would run to tell the state of their
// work tree. The probe runs none of them and still gives each branch, and the state wherever
// git can tell it, under each login shell; the user's own settings stay in force.
TEST_F(HostileGitProbe, RunsNoCommandTheRepositoryNames)
{
    for (qsizetype i = 0; i < programs.size(); ++i) {
        SCOPED_TRACE(loginShells[i].program);
        probe(i, QString(), test::hostileRepositoriesState(root));
    }

    // The same repositories read by a plain status do run their commands.
    run(test::plainStatusScript(root));
    const QByteArray log = test::readAll(ran);
    for (const test::HostileRepository& repository : test::hostileRepositories)
        EXPECT_EQ(test::wordsMissing(repository, log).join(u' ').toStdString(), "") << repository.name << ": " << log.toStdString();
}

// Real older gits run what a current git does not: before 2.36 the file-system monitor's
// setting is the path of a program, which git looks up through PATH from inside the work tree,
// where a relative entry finds the repository's own files. With each older git first on PATH
// after such an entry, under each login shell, the probe runs nothing of the repositories and
// gives each its branch and state (before 2.31 a filter named with "=" cannot be emptied, and
// that folder reads clean).
TEST_F(HostileGitProbe, RunsNothingWithAnOlderGitAndARelativePath)
{
    HV_REQUIRE_OLDER_GITS(gits);
    for (const test::OlderGit& git : *gits) {
        for (const QString& path : test::relativePaths(shellQuote(git.folder))) {
            const QString more = QStringLiteral("PATH=") + path + QStringLiteral("; export PATH\n");
            for (qsizetype i = 0; i < programs.size(); ++i) {
                SCOPED_TRACE(git.version.toStdString() + " " + loginShells[i].program + " PATH=" + path.toStdString());
                probe(i, more + QStringLiteral("git version > ") + shellQuote(tmux.file(QStringLiteral("version"))) + u'\n',
                      test::hostileRepositoriesState(root, {}, git.minor));
                EXPECT_EQ(test::readAll(tmux.file(QStringLiteral("version"))).trimmed(), "git version " + git.version.toUtf8());
            }
        }
    }
}

// Folders a PATH entry leads to, with each older git first on PATH under each login shell. A
// relative entry names a folder only through the shell's own folder (".") or home ("~"), and a
// ":" in that folder's name would split it, PATH's separator, into a relative entry again
// ("/run/x:bin/." reads as "/run/x" and "bin/."), through which these gits start a partial
// clone's committed `bin/git` to fetch: such an entry leaves the state unread, and the branches
// are read as ever. A folder with ":" that no entry needs is no hindrance. A `false` that logs,
// in an absolute folder first on PATH, is never started either: these gits take the
// file-system monitor's setting for a program to run, and the probe empties it.
struct PathEntryRow {
    const char* name;
    // Profile text, after `git` is set to the git's folder, `colon` to a folder named "x:bin"
    // and `logging` to a folder holding the logging `false`.
    const char* profile;
    // The profile leaves the shell in `colon` rather than at home, where the runner starts it.
    bool startsInColon;
    bool readable;
};

const PathEntryRow pathEntryRows[] = {
    {"a start folder named with \":\" and \".\" first", "PATH=.:\"$git:$PATH\"; export PATH\n", true, false},
    {"a home named with \":\" and \"~\" first", "HOME=$colon; export HOME\nPATH='~':\"$git:$PATH\"; export PATH\n", false, false},
    {"a start folder named with \":\" that no entry needs", "PATH='~/bin':\"$git:$PATH\"; export PATH\n", true, true},
    {"a logging false in an absolute folder first", "PATH=\"$logging:$git:$PATH\"; export PATH\n", false, true},
};

TEST_F(HostileGitProbe, ReadsNoStateWhereARelativeEntryCannotBeNamed)
{
    HV_REQUIRE_OLDER_GITS(gits);
    const QString colon = folder(QStringLiteral("x:bin"));
    const QString logging = folder(QStringLiteral("logging"));
    ASSERT_TRUE(test::writeAll(logging + QStringLiteral("/false"),
                               "#!/bin/sh\necho absolute-false >> " + shellQuote(ran).toUtf8() + "\nexit 1\n"));
    ASSERT_TRUE(QFile::setPermissions(logging + QStringLiteral("/false"), QFileDevice::ReadOwner | QFileDevice::ExeOwner));
    for (const PathEntryRow& row : pathEntryRows) {
        for (const test::OlderGit& git : *gits) {
            const QString more = QStringLiteral("git=") + shellQuote(git.folder) + QStringLiteral("; colon=") + shellQuote(colon) +
                                 QStringLiteral("; logging=") + shellQuote(logging) + u'\n' +
                                 (row.startsInColon ? QStringLiteral("cd \"$colon\"\n") : QString()) + QLatin1String(row.profile);
            for (qsizetype i = 0; i < programs.size(); ++i) {
                SCOPED_TRACE(std::string(row.name) + ", " + git.version.toStdString() + " " + loginShells[i].program);
                probe(i, more, test::hostileRepositoriesState(root, {}, git.minor, row.readable));
            }
        }
    }
}

// A quoted "~/bin" entry names the home's "bin" folder, as bash reads it, under every login
// shell: a git kept there, which notes each call, is the one the probe runs.
TEST_F(LoginShells, GitProbeRunsTheGitOfAQuotedHomeEntry)
{
    const QString repository = folder(QStringLiteral("repository"));
    run(QStringLiteral("cd ") + shellQuote(repository) +
        QStringLiteral(" && git init -q -b trunk . && git -c user.name=t -c user.email=t@example.invalid commit -q "
                       "--allow-empty -m start && echo change > file"));
    const QString bin = tmux.home() + QStringLiteral("/bin");
    const QString calls = tmux.file(QStringLiteral("calls"));
    ASSERT_TRUE(QDir().mkpath(bin));
    ASSERT_TRUE(test::writeAll(bin + QStringLiteral("/git"), "#!/bin/sh\necho call >> " + shellQuote(calls).toUtf8() + "\nexec " +
                                                                 shellQuote(QStandardPaths::findExecutable(QStringLiteral("git"))).toUtf8() +
                                                                 " \"$@\"\n"));
    ASSERT_TRUE(QFile::setPermissions(bin + QStringLiteral("/git"), QFileDevice::ReadOwner | QFileDevice::ExeOwner));
    QMap<QString, GitInfo> expected;
    expected.insert(repository, GitInfo{QStringLiteral("trunk"), true});
    for (qsizetype i = 0; i < programs.size(); ++i) {
        SCOPED_TRACE(loginShells[i].program);
        const QString profile = useLoginShell(i, "PATH='~/bin':\"$PATH\"; export PATH\n");
        QFile::remove(calls);
        EXPECT_EQ(parseGitProbe(run(gitProbeScript({repository}), 40)), expected);
        EXPECT_TRUE(test::readAll(calls).contains("call")) << "another git ran";
        QFile::remove(profile);
    }
}

// A variable the probe sets may be read-only where it runs (a profile's marks stay behind in
// the login shell, but a script shell could hold its own), and dash, zsh and mksh stop a script
// at an assignment to one. The probe goes on. With the transports it
// shuts left open (read-only with a list of the profile's, or unset), or a read-only PATH
// with a relative entry, no folder's state is read, so nothing of a partial clone runs even
// with a git that ignores the lazy-fetch switch (the older gits, under bash, which went on
// without the guard); each folder still gets its branch. With the transports already shut,
// only the lazy-fetch switch read-only, or a read-only PATH of absolute entries, the state is
// read as ever.
TEST_F(HostileGitProbe, GoesOnPastReadOnlyGuardsAndReadsNoStateWithTransportsOpen)
{
    // Under bash, every older git there is besides this computer's.
    std::string why;
    bool unset = false;
    QList<test::OlderGit> gits{test::OlderGit{}};
    if (const auto older = test::olderGits(why, unset))
        gits << *older;
    else if (!unset)
        GTEST_FAIL() << why;
    const struct {
        const char* profile;
        bool readable;
    } profiles[] = {
        {"export GIT_ALLOW_PROTOCOL=https:ssh; readonly GIT_ALLOW_PROTOCOL\n", false},
        {"readonly GIT_ALLOW_PROTOCOL\n", false},
        {"export GIT_ALLOW_PROTOCOL=none; readonly GIT_ALLOW_PROTOCOL\n", true},
        {"GIT_NO_LAZY_FETCH=0; export GIT_NO_LAZY_FETCH; readonly GIT_NO_LAZY_FETCH\n", true},
        // A PATH whose relative entries cannot be made absolute.
        {"PATH=:\"$PATH\"; readonly PATH\n", false},
        {"readonly PATH\n", true},
    };
    for (const auto& row : profiles) {
        for (qsizetype i = 0; i < programs.size(); ++i) {
            for (const test::OlderGit& git : gits) {
                if (!git.folder.isEmpty() && QLatin1String(loginShells[i].program) != QLatin1String("bash"))
                    continue;
                SCOPED_TRACE(std::string(row.profile) + loginShells[i].program + " " + git.version.toStdString());
                const QString path = git.folder.isEmpty() ? QString()
                                                          : QStringLiteral("PATH=") + shellQuote(git.folder) +
                                                                QStringLiteral(":\"$PATH\"; export PATH\n");
                probe(i, path, test::hostileRepositoriesState(root, {}, git.folder.isEmpty() ? 1000 : git.minor, row.readable),
                      QLatin1String(row.profile));
            }
        }
    }
    if (unset)
        std::cout << why << '\n';
}

// A locale the login profile made read-only: the listing's row filter still runs in bytes
// under every shell (most would refuse to run a command that assigns it), and its rows count.
TEST_F(LoginShells, ListingReadsItsRowsWithAReadOnlyLocale)
{
    const QString web = folder(QStringLiteral("web"));
    const QString session = tmuxSessionName(web);
    run(tmuxSessionScript(session, QStringLiteral("Web"), web, 1) + QStringLiteral("true\n"));
    for (qsizetype i = 0; i < programs.size(); ++i) {
        SCOPED_TRACE(loginShells[i].program);
        const QString profile = useLoginShell(i, "LC_ALL=C.UTF-8; export LC_ALL; readonly LC_ALL\n");
        const ServerState state = listing();
        EXPECT_EQ(state.rowsFailed, std::nullopt);
        EXPECT_EQ(state.open.size() == 1 ? state.open.at(0).session : QString(), session);
        QFile::remove(profile);
    }
}

// A login profile whose aliases or functions stand in for the commands our scripts name changes
// none of them: the listing reads its tab, the shared state is written (its mv, base64 and
// cksum are the real ones) and the git probe reads its branch, under each login shell, and no
// stand-in ever runs.
TEST_F(LoginShells, NoAliasOrFunctionOfTheProfileStandsInForOurCommands)
{
    const QString web = folder(QStringLiteral("web"));
    const QString session = tmuxSessionName(web);
    run(tmuxSessionScript(session, QStringLiteral("Web"), web, 1) + QStringLiteral("true\n"));
    const QString repository = folder(QStringLiteral("repository"));
    run(QStringLiteral("cd ") + shellQuote(repository)
        + QStringLiteral(" && git init -q -b trunk . && git -c user.name=t -c user.email=t@t.invalid commit -q --allow-empty -m t\n"));
    const QString trace = tmux.home() + QStringLiteral("/hv-stand-ins");
    const QString shared = tmux.home() + QStringLiteral("/.halvoren/shared.json");
    const NameSet favorites{QStringLiteral("web")};
    const NameSet hidden{QStringLiteral("it's")};
    for (const test::StandInProfile& login : test::standInProfiles) {
        SCOPED_TRACE(login.program);
        const QString program = QStandardPaths::findExecutable(QString::fromLatin1(login.program));
        ASSERT_FALSE(program.isEmpty()) << "install the Debian package " << login.program;
        const QString profile = tmux.home() + u'/' + QLatin1String(login.file);
        ASSERT_TRUE(test::writeAll(profile, login.functions ? test::standInFunctions() : test::standInAliases()));
        shell.set("SHELL", program);
        QFile::remove(shared);

        const ServerState before = listing();
        EXPECT_EQ(before.open.size() == 1 ? before.open.at(0).session : QString(), session);
        const QString nonce = newListingNonce();
        const auto written = runSync(runLoginShell(uploadSharedPrefsScript(favorites, hidden, before.sharedSum, nonce), 20));
        ASSERT_TRUE(written.ok()) << written.error().message.toStdString();
        EXPECT_EQ(parseSharedWriteAnswer(written.value(), nonce).kind, SharedWriteAnswer::Kind::written) << written.value().toStdString();
        EXPECT_EQ(test::readAll(shared), encodeSharedPrefs(favorites, hidden).toUtf8());
        EXPECT_EQ(parseGitProbe(run(gitProbeScript({repository}), 40)).value(repository).branch, QStringLiteral("trunk"));
        EXPECT_FALSE(QFile::exists(trace)) << test::readAll(trace).toStdString();
        QFile::remove(trace);
        QFile::remove(profile);
    }
}

// bash started as /bin/sh imports the functions a profile exported: the script shell drops them
// (even one named like the builtin that lists them) before our script runs.
TEST_F(LoginShells, ABashScriptShellDropsTheFunctionsTheProfileExported)
{
    const QString bashAsSh = folder(QStringLiteral("bash-as-sh")) + QStringLiteral("/sh");
    ASSERT_TRUE(QFile::link(QStandardPaths::findExecutable(QStringLiteral("bash")), bashAsSh));
    const test::ScriptShellOverride restore;
    setScriptShellForTests(bashAsSh);
    const QString trace = tmux.home() + QStringLiteral("/hv-stand-ins");
    QByteArray profile = test::standInFunctions() + "compgen() { echo compgen >> \"$HOME/hv-stand-ins\"; }\nexport -f compgen";
    for (const char* name : test::standInNames)
        profile += QByteArray(" ") + name;
    const QString path = useLoginShell(0, profile + '\n');
    EXPECT_EQ(run(QStringLiteral("echo \"$BASH_VERSION\" | cat\nprintf '%s\\n' ours | base64 | base64 --decode\n")).section(u'\n', 1),
              QStringLiteral("ours\n"));
    EXPECT_FALSE(run(QStringLiteral("echo \"$BASH_VERSION\"\n")).trimmed().isEmpty()) << "the script shell was not bash";
    EXPECT_FALSE(QFile::exists(trace)) << test::readAll(trace).toStdString();
    QFile::remove(path);
}

// The upload of the shared-state file under each login shell: it installs its file only over
// the file whose checksum the listing gave (bytes, whatever their format), answers written
// with the checksum the next listing gives, or changed with the file as it is now and nothing
// installed; a folder nothing can be written to fails with the shell's own reason. No
// temporary file is left either way.
TEST_F(LoginShells, SharedStateUploadInstallsOnlyOverTheFileItExpects)
{
    const QString dir = tmux.home() + QStringLiteral("/.halvoren");
    const QString path = dir + QStringLiteral("/shared.json");
    // As the phone may write it: spaced, with a line feed, no version.
    const QByteArray theirs = "{\"favorites\": [\"m\", \"u\"], \"hidden\": []}\n";
    const QByteArray later = "{\"favorites\": [\"m\", \"u\", \"y\"], \"hidden\": []}\n";
    const NameSet favorites{QStringLiteral("web"), QStringLiteral("a/b")};
    const NameSet hidden{QStringLiteral("it's")};
    const QByteArray ours = encodeSharedPrefs(favorites, hidden).toUtf8();
    const auto write = [&path](const QByteArray& bytes) { return [&path, bytes] { return test::writeAll(path, bytes); }; };
    const auto nothing = [] { return true; };
    // Another writer at the same instant, played by a program of the upload that writes the
    // file as it runs: while the new file is decoded (so the check before the rename sees
    // it), or right after the rename (so only the check after it can).
    const QString meddlers = folder(QStringLiteral("meddlers"));
    const auto meddler = [&](const char* program, const char* around) {
        return [&meddlers, &path, &later, program, around] {
            const QString real = QStandardPaths::findExecutable(QString::fromLatin1(program));
            const QByteArray write = "printf '%s' " + shellQuote(QString::fromUtf8(later)).toUtf8() + " > "
                                   + shellQuote(path).toUtf8();
            return !real.isEmpty() && QDir(meddlers).removeRecursively() && QDir().mkpath(meddlers)
                && test::writeAll(meddlers + u'/' + QLatin1String(program),
                                  QByteArray("#!/bin/sh\n") + QByteArray(around).replace("WRITE", write).replace(
                                      "REAL", QFile::encodeName(real)))
                && QFile::setPermissions(meddlers + u'/' + QLatin1String(program),
                                         QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
        };
    };
    enum class Expected { listed, none };
    enum class Outcome { written, changed, failed };
    const struct {
        const char* name;
        std::function<bool()> before;
        Expected expected;
        std::function<bool()> between;
        Outcome outcome;
        std::optional<QByteArray> left;
    } cases[] = {
        {"no file, none expected", nothing, Expected::listed, nothing, Outcome::written, ours},
        {"the file as listed", write(theirs), Expected::listed, nothing, Outcome::written, ours},
        {"the same bytes written again since", write(theirs), Expected::listed, write(theirs), Outcome::written, ours},
        {"rewritten since the listing", write(theirs), Expected::listed, write(later), Outcome::changed, later},
        {"a file where none was expected", write(theirs), Expected::none, nothing, Outcome::changed, theirs},
        {"removed since the listing", write(theirs), Expected::listed, [&path] { return QFile::remove(path); },
         Outcome::changed, std::nullopt},
        {"rewritten while the upload decodes", write(theirs), Expected::listed, meddler("base64", "WRITE\nexec REAL \"$@\"\n"),
         Outcome::changed, later},
        {"rewritten right after the rename", write(theirs), Expected::listed,
         meddler("mv", "REAL \"$@\" || exit\nWRITE\n"), Outcome::changed, later},
        // Even root can make nothing there.
        {"a folder nothing can be written to",
         [&dir] { return QDir(dir).removeRecursively() && QFile::link(QStringLiteral("/proc"), dir); }, Expected::listed,
         nothing, Outcome::failed, std::nullopt},
    };
    for (qsizetype shell = 0; shell < programs.size(); ++shell) {
        // The meddlers, when there are any, come first on the path.
        const QString profile = useLoginShell(shell, "PATH=" + shellQuote(meddlers).toUtf8() + ":$PATH; export PATH\n");
        for (const auto& c : cases) {
            SCOPED_TRACE(std::string(loginShells[shell].program) + ": " + c.name);
            QDir(meddlers).removeRecursively();
            QFile::remove(dir);
            QDir(dir).removeRecursively();
            ASSERT_TRUE(QDir().mkpath(dir));
            ASSERT_TRUE(c.before());
            const std::optional<QString> listed = listing().sharedSum;
            ASSERT_EQ(listed.has_value(), QFileInfo(path).isFile());
            ASSERT_TRUE(c.between());
            const QString nonce = newListingNonce();
            const auto result = runSync(runLoginShell(
                uploadSharedPrefsScript(favorites, hidden, c.expected == Expected::listed ? listed : std::nullopt, nonce), 20));
            if (c.outcome == Outcome::failed) {
                ASSERT_FALSE(result.ok());
                EXPECT_TRUE(result.error().message.contains(QStringLiteral("/.halvoren/shared.json.tmp.")))
                    << result.error().message.toStdString();
                QFile::remove(dir);
                continue;
            }
            ASSERT_TRUE(result.ok()) << result.error().message.toStdString();
            const SharedWriteAnswer answer = parseSharedWriteAnswer(result.value(), nonce);
            EXPECT_EQ(answer.kind, c.outcome == Outcome::written ? SharedWriteAnswer::Kind::written
                                                                 : SharedWriteAnswer::Kind::changed)
                << result.value().toStdString();
            const ServerState now = listing();
            if (c.outcome == Outcome::written) {
                EXPECT_EQ(std::optional<QString>(answer.sum), now.sharedSum);
            } else {
                EXPECT_EQ(answer.found.sharedSum, now.sharedSum);
                EXPECT_EQ(answer.found.shared, now.shared);
            }
            EXPECT_EQ(QFileInfo(path).isFile() ? std::optional(test::readAll(path)) : std::nullopt, c.left);
            EXPECT_EQ(QDir(dir).entryList(QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot),
                      c.left ? QStringList{QStringLiteral("shared.json")} : QStringList{});
        }
        QFile::remove(profile);
    }
}

// The shells a host may run the upload under, each run directly on a script file: mksh has no
// built-in printf, so every argument it gives `printf` meets the system's 128 KiB bound.
const char* const uploadShells[] = {"dash", "bash", "zsh", "mksh", "yash"};

// The shells of uploadShells this computer has; the others named on one line.
QStringList installedUploadShells()
{
    QStringList found;
    QStringList missing;
    for (const char* name : uploadShells) {
        const QString program = QStandardPaths::findExecutable(QString::fromLatin1(name));
        (program.isEmpty() ? missing : found) << (program.isEmpty() ? QString::fromLatin1(name) : program);
    }
    if (!missing.isEmpty())
        std::cout << "not installed, not tried: " << missing.join(u' ').toStdString() << '\n';
    return found;
}

// Runs the upload script under `shell` with `home` as HOME and `path` as PATH (this
// computer's when empty).
Shell::Output runUpload(const QString& shell, const QString& home, const QString& script, const QString& path = QString())
{
    const QString file = home + QStringLiteral("/upload.sh");
    EXPECT_TRUE(test::writeAll(file, script.toUtf8()));
    QStringList arguments{QStringLiteral("HOME=") + home};
    if (!path.isEmpty())
        arguments << QStringLiteral("PATH=") + path;
    arguments << shell << file;
    const auto result = runSync(Shell::run(QStringLiteral("/usr/bin/env"), arguments, std::nullopt, 60));
    EXPECT_TRUE(result.ok()) << (result.ok() ? std::string() : result.error().message.toStdString());
    QFile::remove(file);
    return result.ok() ? result.value() : Shell::Output{-1, {}, {}};
}

// What a folder holds, hidden entries included.
QStringList entriesOf(const QString& folder)
{
    return QDir(folder).entryList(QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot);
}

// Five thousand names of 21 characters: far more than 128 KiB of Base64, under every shell the
// file is installed byte for byte, and the checksum it answers is the one worked out here.
TEST(SharedStateUpload, AFileOfMoreThan128KiBOfBase64IsInstalledWholeByEveryShell)
{
    const NameSet favorites = test::manyProjectNames();
    const QByteArray bytes = encodeSharedPrefs(favorites, {QStringLiteral("it's")}).toUtf8();
    ASSERT_GT(bytes.toBase64().size(), 131072);
    for (const QString& shell : installedUploadShells()) {
        SCOPED_TRACE(shell.toStdString());
        test::TempFolder home;
        const QString nonce = newListingNonce();
        const Shell::Output output
            = runUpload(shell, home.path(), uploadSharedPrefsScript(favorites, {QStringLiteral("it's")}, std::nullopt, nonce));
        EXPECT_EQ(output.status, 0) << output.standardError.toStdString();
        const SharedWriteAnswer answer = parseSharedWriteAnswer(output.standardOutput, nonce);
        EXPECT_EQ(answer.kind, SharedWriteAnswer::Kind::written) << output.standardOutput.toStdString();
        EXPECT_EQ(answer.sum, cksumLine(bytes));
        EXPECT_TRUE(test::readAll(home.file(QStringLiteral(".halvoren/shared.json"))) == bytes);
        EXPECT_EQ(entriesOf(home.file(QStringLiteral(".halvoren"))), QStringList{QStringLiteral("shared.json")});
    }
}

// A decoder that loses bytes and still exits 0, as `base64` does when `printf` was refused its
// argument: nothing is installed, the script fails with its reason, the old file stays and no
// temporary file is left. A host without `cksum` compares the size instead, and a whole file
// still goes up there.
TEST(SharedStateUpload, AFileReceivedShortIsNeverInstalled)
{
    const NameSet favorites{QStringLiteral("web"), QStringLiteral("api"), QStringLiteral("docs")};
    const QByteArray ours = encodeSharedPrefs(favorites, {}).toUtf8();
    const QByteArray theirs = "{\"favorites\": [\"m\"], \"hidden\": []}\n";
    const char* const truncated = "#!/bin/sh\n/usr/bin/base64 \"$@\" | /usr/bin/head -c 20\n";
    const char* const empty = "#!/bin/sh\n/usr/bin/cat > /dev/null\n";
    const struct {
        const char* name;
        const char* decoder;
        bool cksum;
        bool installs;
    } cases[] = {
        {"truncated", truncated, true, false},
        {"empty", empty, true, false},
        {"truncated, no cksum", truncated, false, false},
        {"empty, no cksum", empty, false, false},
        {"whole, no cksum", nullptr, false, true},
    };
    // The programs the script runs, and `printf` for a shell without its own; `cksum` only
    // where the case has it.
    const char* const tools[] = {"mkdir", "mv", "rm", "cat", "wc", "printf", "base64"};
    for (const QString& shell : installedUploadShells()) {
        for (const auto& c : cases) {
            SCOPED_TRACE(shell.toStdString() + ": " + c.name);
            test::TempFolder home;
            const QString bin = home.file(QStringLiteral("bin"));
            const QString dir = home.file(QStringLiteral(".halvoren"));
            ASSERT_TRUE(QDir().mkpath(bin) && QDir().mkpath(dir));
            for (const char* tool : tools) {
                const QString real = QStandardPaths::findExecutable(QString::fromLatin1(tool));
                ASSERT_FALSE(real.isEmpty()) << tool;
                ASSERT_TRUE(QFile::link(real, bin + u'/' + QLatin1String(tool)));
            }
            if (c.cksum) {
                ASSERT_TRUE(QFile::link(QStandardPaths::findExecutable(QStringLiteral("cksum")), bin + QStringLiteral("/cksum")));
            }
            if (c.decoder) {
                QFile::remove(bin + QStringLiteral("/base64"));
                ASSERT_TRUE(test::writeAll(bin + QStringLiteral("/base64"), c.decoder));
                ASSERT_TRUE(QFile::setPermissions(bin + QStringLiteral("/base64"), QFileDevice::ReadOwner | QFileDevice::ExeOwner));
            }
            const QString path = dir + QStringLiteral("/shared.json");
            ASSERT_TRUE(test::writeAll(path, theirs));
            // What the listing reads as the file's checksum: nothing without `cksum`.
            const std::optional<QString> listed = c.cksum ? cksumLine(theirs) : QString();
            const QString nonce = newListingNonce();
            const Shell::Output output
                = runUpload(shell, home.path(), uploadSharedPrefsScript(favorites, {}, listed, nonce), bin);
            const SharedWriteAnswer answer = parseSharedWriteAnswer(output.standardOutput, nonce);
            if (c.installs) {
                EXPECT_EQ(output.status, 0) << output.standardError.toStdString();
                EXPECT_EQ(answer.kind, SharedWriteAnswer::Kind::written) << output.standardOutput.toStdString();
                EXPECT_TRUE(test::readAll(path) == ours);
            } else {
                EXPECT_EQ(output.status, 1);
                EXPECT_TRUE(output.standardError.contains(QStringLiteral("n'est pas celle envoyée")))
                    << output.standardError.toStdString();
                EXPECT_EQ(answer.kind, SharedWriteAnswer::Kind::none) << output.standardOutput.toStdString();
                EXPECT_TRUE(test::readAll(path) == theirs);
            }
            EXPECT_EQ(entriesOf(dir), QStringList{QStringLiteral("shared.json")});
        }
    }
}

// The same through this computer's runner, under each login shell, each also the shell that
// runs the script, as on a host whose /bin/sh it is (mksh runs `printf` as a program): the
// file is installed whole.
TEST_F(LoginShells, ASharedStateOfMoreThan128KiBOfBase64IsInstalledWhole)
{
    const NameSet favorites = test::manyProjectNames();
    const QByteArray bytes = encodeSharedPrefs(favorites, {}).toUtf8();
    const QString dir = tmux.home() + QStringLiteral("/.halvoren");
    const test::ScriptShellOverride restore;
    for (qsizetype shell = 0; shell < programs.size(); ++shell) {
        SCOPED_TRACE(loginShells[shell].program);
        const QString profile = useLoginShell(shell, "");
        setScriptShellForTests(programs.at(shell));
        QDir(dir).removeRecursively();
        const QString nonce = newListingNonce();
        const auto result = runSync(runLoginShell(uploadSharedPrefsScript(favorites, {}, std::nullopt, nonce), 20));
        ASSERT_TRUE(result.ok()) << result.error().message.toStdString();
        EXPECT_EQ(parseSharedWriteAnswer(result.value(), nonce).kind, SharedWriteAnswer::Kind::written);
        EXPECT_TRUE(test::readAll(dir + QStringLiteral("/shared.json")) == bytes);
        EXPECT_EQ(listing().sharedSum, cksumLine(bytes));
        QFile::remove(profile);
    }
}

// Older gits, played by a wrapper first on the PATH that gives the version asked and passes
// the rest on to this computer's git. One before 2.11 knows no long-lived filter process and
// takes no notice of its emptied command (the wrapper drops those): the emptied `clean` alone
// stops the filter. One before 2.31 reads no settings from the environment, where the probe
// empties a filter whose name holds "=": such a repository is not read there (clean), and is
// read as it is everywhere else. One before 2.26 shows no scope of a setting (the wrapper
// refuses the option as such a git does): the filters are listed file by file there, and the
// repositories keep their state.
TEST_F(HostScripts, GitProbeRunsNoFilterOfTheRepositoryWithAnOlderGit)
{
    const QString real = QStandardPaths::findExecutable(QStringLiteral("git"));
    const QString root = folder(QStringLiteral("projets"));
    const QString ran = tmux.file(QStringLiteral("ran"));
    const QString bin = folder(QStringLiteral("bin"));
    const QString calls = tmux.file(QStringLiteral("calls"));
    const QStringList names{QStringLiteral("filtered-changed"), QStringLiteral("equals")};
    ASSERT_EQ(run(test::hostileRepositoriesScript(root, ran, names), 60), test::hostileRepositoriesMade(names));
    ASSERT_TRUE(test::writeAll(bin + QStringLiteral("/git"),
                               "#!/bin/sh\n"
                               "case $1 in version|--version) echo \"git version $(cat " + shellQuote(bin).toUtf8() +
                                   "/version)\"; exit 0 ;; esac\n"
                                   "case \" $* \" in *' --show-scope '*)\n"
                                   "  if [ -e " + shellQuote(bin).toUtf8() + "/unscoped ]; then\n"
                                   "    echo refused >> " + shellQuote(calls).toUtf8() + "\n"
                                   "    echo \"error: unknown option \\`show-scope'\" >&2; exit 129\n"
                                   "  fi ;;\n"
                                   "esac\n"
                                   "w=\n"
                                   "for a in \"$@\"; do\n"
                                   "  shift\n"
                                   "  if [ -n \"$w\" ]; then\n"
                                   "    w=\n"
                                   "    case $a in filter.*.process=) echo dropped >> " + shellQuote(calls).toUtf8() + "; continue ;; esac\n"
                                   "    set -- \"$@\" -c\n"
                                   "  fi\n"
                                   "  if [ \"$a\" = -c ]; then w=1; continue; fi\n"
                                   "  set -- \"$@\" \"$a\"\n"
                                   "done\n"
                                   "exec " + shellQuote(real).toUtf8() + " \"$@\"\n"));
    ASSERT_TRUE(QFile::setPermissions(bin + QStringLiteral("/git"), QFileDevice::ReadOwner | QFileDevice::ExeOwner));
    const QString probe = QStringLiteral("PATH=") + shellQuote(bin) + QStringLiteral(":$PATH\n") +
                          gitProbeScript({root + QStringLiteral("/filtered-changed"), root + QStringLiteral("/equals")});
    const struct {
        const char* version;
        bool readsEnvironment;
        bool showsScopes;
    } gits[] = {
        {"2.10.0", false, false}, {"2.4.1", false, false}, {"2.25.1", false, false}, {"2.26.0", false, true},
        {"2.30.9", false, true},  {"2.31.0", true, true},  {"2.39.5", true, true},   {"2.100.0", true, true},
        {"3.0", true, true},      {"12.1.0", true, true},
    };
    for (const auto& git : gits) {
        SCOPED_TRACE(git.version);
        ASSERT_TRUE(test::writeAll(bin + QStringLiteral("/version"), git.version));
        QFile::remove(bin + QStringLiteral("/unscoped"));
        if (!git.showsScopes) {
            ASSERT_TRUE(test::writeAll(bin + QStringLiteral("/unscoped"), ""));
        }
        QFile::remove(calls);
        QFile::remove(ran);
        QMap<QString, GitInfo> expected;
        expected.insert(root + QStringLiteral("/filtered-changed"), GitInfo{QStringLiteral("main"), true});
        expected.insert(root + QStringLiteral("/equals"), GitInfo{QStringLiteral("main"), git.readsEnvironment});
        test::expectProbe(parseGitProbe(run(probe, 40)), expected);
        EXPECT_FALSE(QFileInfo::exists(ran)) << test::readAll(ran).toStdString();
        EXPECT_TRUE(test::readAll(calls).contains("dropped")) << "the wrapper was not in the way";
        EXPECT_EQ(test::readAll(calls).contains("refused"), !git.showsScopes);
    }
}

// Each of the probe's guards holds alone. A wrapper first on the PATH takes another guard
// away before it runs this computer's git, and says "dropped" in `$calls` when it did: without
// `--no-optional-locks` a status may write the index, and only the hooks' emptied folder keeps
// its hook from running; with either of the two fetch guards unset, the other alone stops a
// partial clone's fetch.
struct LoneGuard {
    const char* name;
    // The wrapper's shell text, before it runs git with "$@".
    const char* wrapper;
    // The hostile repositories it is tried on, separated by blanks.
    const char* repositories;
    // The guard left is one the installed git may not know.
    bool needsNoLazyFetch;
};

void PrintTo(const LoneGuard& guard, std::ostream* os) { *os << guard.name; }

const LoneGuard loneGuards[] = {
    {"HooksPath",
     "for a in \"$@\"; do\n"
     "  shift\n"
     "  if [ \"$a\" = --no-optional-locks ]; then echo dropped >> \"$calls\"; continue; fi\n"
     "  set -- \"$@\" \"$a\"\n"
     "done\n",
     "hooked included", false},
    {"AllowProtocol",
     "if [ -n \"${GIT_NO_LAZY_FETCH+set}\" ]; then echo dropped >> \"$calls\"; unset GIT_NO_LAZY_FETCH; fi\n",
     "lazy-ssh lazy-ext lazy-head lazy-file", false},
    {"NoLazyFetch",
     "if [ -n \"${GIT_ALLOW_PROTOCOL+set}\" ]; then echo dropped >> \"$calls\"; unset GIT_ALLOW_PROTOCOL; fi\n",
     "lazy-ssh lazy-ext lazy-head lazy-file", true},
};

class GitProbeLoneGuard : public HostScripts, public ::testing::WithParamInterface<LoneGuard> {};

TEST_P(GitProbeLoneGuard, StopsTheRepositoriesCommands)
{
    const LoneGuard& guard = GetParam();
    const QString root = folder(QStringLiteral("projets"));
    const QString ran = tmux.file(QStringLiteral("ran"));
    const QString calls = tmux.file(QStringLiteral("calls"));
    const QStringList names = QString::fromLatin1(guard.repositories).split(u' ');
    ASSERT_EQ(run(test::hostileRepositoriesScript(root, ran, names), 120), test::hostileRepositoriesMade(names));
    if (guard.needsNoLazyFetch) {
        run(QStringLiteral("unset GIT_ALLOW_PROTOCOL; GIT_NO_LAZY_FETCH=1 git -C ") +
            shellQuote(root + QStringLiteral("/lazy-ssh")) + QStringLiteral(" status --porcelain >/dev/null 2>&1; true\n"));
        if (QFileInfo::exists(ran))
            GTEST_SKIP() << "this git fetches lazily whatever GIT_NO_LAZY_FETCH says";
    }
    const QString probe = wrapGit(calls, guard.wrapper) + gitProbeScript(test::hostileRepositoryPaths(root, names));
    test::expectProbe(parseGitProbe(run(probe, 40)), test::hostileRepositoriesState(root, names));
    EXPECT_FALSE(QFileInfo::exists(ran)) << test::readAll(ran).toStdString();
    EXPECT_TRUE(test::readAll(calls).contains("dropped")) << "the wrapper was not in the way";
}

INSTANTIATE_TEST_SUITE_P(Wrapped, GitProbeLoneGuard, ::testing::ValuesIn(loneGuards),
                         [](const ::testing::TestParamInfo<LoneGuard>& info) { return std::string(info.param.name); });

// The probe reads a folder's state only once the filters its settings name are emptied. Where
// their names cannot be listed, are too many, or the environment will not take those git's
// command line cannot, that folder reads clean (its branch still shows) and nothing of it runs;
// the other folders read as ever. What the user's own surroundings hold (a filter in the
// environment, many filters, a GIT_CONFIG naming another file) makes no folder read clean.
struct UnreadableFilters {
    const char* name;
    // Shell text run before the probe.
    const char* prelude;
    // A git wrapper's shell text (see wrapGit), or none.
    const char* wrapper;
    // The hostile repositories probed, and those of them that then read clean (none when empty).
    const char* repositories;
    const char* clean;
};

void PrintTo(const UnreadableFilters& row, std::ostream* os) { *os << row.name; }

const UnreadableFilters unreadableFilters[] = {
    {"ListingRefused", "", "case \" $* \" in *' config '*) echo dropped >> \"$calls\"; exit 128 ;; esac\n",
     "filtered-changed equals", "filtered-changed equals"},
    // Per-worktree settings are read wherever git reads them, by a git that shows no scopes.
    {"WorktreeListingRefused", "",
     "case $1 in version) echo 'git version 2.25.1'; exit 0 ;; esac\n"
     "case \" $* \" in *' --show-scope '*) exit 129 ;; *' --worktree '*) echo dropped >> \"$calls\"; exit 128 ;; esac\n",
     "worktree-config linked", "worktree-config"},
    // A git that knows `hasconfig:` and should show scopes, but refuses to: listing the files one
    // by one would miss the filter an include brings.
    {"ScopesRefused", "", "case \" $* \" in *' --show-scope '*) echo dropped >> \"$calls\"; exit 129 ;; esac\n",
     "filtered-changed hasconfig-local hasconfig-worktree", "filtered-changed hasconfig-local hasconfig-worktree"},
    // GIT_CONFIG, which only `git config` reads, names another file: unset for the listings,
    // and where it cannot be, nothing is read.
    {"GitConfigUnsettable", "GIT_CONFIG=/dev/null; export GIT_CONFIG; readonly GIT_CONFIG\n", nullptr,
     "filtered-changed hasconfig-local", "filtered-changed hasconfig-local"},
    {"GitConfigSet", "GIT_CONFIG=/dev/null; export GIT_CONFIG\n", nullptr, "filtered-changed hasconfig-local worktree-config", ""},
    // The user's own filter given in the environment, which the repository leaves alone.
    {"UserEnvironmentFilter",
     "export GIT_CONFIG_COUNT=1 GIT_CONFIG_KEY_0=filter.hv-upper.clean 'GIT_CONFIG_VALUE_0=tr a-z A-Z'\n", nullptr,
     "user-filter equals", ""},
    // Far more filters of the user's own than the repository's names may hold.
    {"ManyUserFilters",
     "i=0; while [ $i -lt 500 ]; do printf '[filter \"user-%s\"]\\n\\tclean = cat\\n' \"$i\"; i=$((i + 1)); done >> \"$HOME/.gitconfig\"\n",
     nullptr, "filtered-changed hasconfig-local user-filter", ""},
    {"EnvironmentRefused", "readonly GIT_CONFIG_COUNT=0\n", nullptr, "filtered-changed equals", "equals"},
    // More filter settings than the shell walks (the wrapper lists 500 more).
    {"ListingTooLong", "",
     "case \" $* \" in *' --show-scope '*) s=$(printf 'local\\t') ;; *) s= ;; esac\n"
     "case \" $* \" in *' --get-regexp '*)\n"
     "  i=0; while [ $i -lt 500 ]; do echo \"${s}filter.many-$i.clean\"; i=$((i + 1)); done; echo dropped >> \"$calls\" ;;\n"
     "esac\n",
     "filtered-changed", "filtered-changed"},
};

class GitProbeUnreadableFilters : public HostScripts, public ::testing::WithParamInterface<UnreadableFilters> {};

TEST_P(GitProbeUnreadableFilters, ReadTheFolderCleanOnlyWhereUnreadable)
{
    const UnreadableFilters& row = GetParam();
    // The shell in which a refused environment lets the script go on.
    test::EnvironmentOverride shell("SHELL", QStringLiteral("/bin/bash"));
    const QString root = folder(QStringLiteral("projets"));
    const QString ran = tmux.file(QStringLiteral("ran"));
    const QString calls = tmux.file(QStringLiteral("calls"));
    const QStringList names = QString::fromLatin1(row.repositories).split(u' ');
    ASSERT_EQ(run(test::hostileRepositoriesScript(root, ran, names), 120), test::hostileRepositoriesMade(names));
    QMap<QString, GitInfo> expected = test::hostileRepositoriesState(root, names);
    for (const QString& name : QString::fromLatin1(row.clean).split(u' ', Qt::SkipEmptyParts))
        expected[root + u'/' + name].dirty = false;
    const QString probe = QString::fromLatin1(row.prelude) + (row.wrapper ? wrapGit(calls, row.wrapper) : QString()) +
                          gitProbeScript(test::hostileRepositoryPaths(root, names));
    test::expectProbe(parseGitProbe(run(probe, 40)), expected);
    EXPECT_FALSE(QFileInfo::exists(ran)) << test::readAll(ran).toStdString();
    if (row.wrapper) {
        EXPECT_TRUE(test::readAll(calls).contains("dropped")) << "the wrapper was not in the way";
    }
}

INSTANTIATE_TEST_SUITE_P(Probe, GitProbeUnreadableFilters, ::testing::ValuesIn(unreadableFilters),
                         [](const ::testing::TestParamInfo<UnreadableFilters>& info) { return std::string(info.param.name); });

// Started inside the tmux of another server (TMUX names its socket), the scripts run through the
// login shell still reach the default server of TMUX_TMPDIR, where the tabs' sessions are.
TEST_F(HostScripts, ScriptsStartedInsideAnotherTmuxReachTheDefaultServer)
{
    const QString otherSocket = tmux.file(QStringLiteral("other"));
    const auto onOther = [&otherSocket](const QStringList& arguments) {
        return test::PrivateTmux::tmux(QStringList{QStringLiteral("-S"), otherSocket} + arguments);
    };
    onOther({QStringLiteral("new-session"), QStringLiteral("-d"), QStringLiteral("-s"), QStringLiteral("elsewhere")});
    const QString pid = onOther({QStringLiteral("display-message"), QStringLiteral("-p"), QStringLiteral("#{pid}")});
    ASSERT_FALSE(pid.isEmpty());
    {
        test::EnvironmentOverride inside("TMUX", otherSocket + u',' + pid + QStringLiteral(",0"));
        inside.set("TMUX_PANE", QStringLiteral("%0"));
        EXPECT_EQ(run(QStringLiteral("tmux new-session -d -s made && tmux list-sessions -F '#{session_name}'")).toStdString(),
                  "made\n");
    }
    const QStringList listing{QStringLiteral("list-sessions"), QStringLiteral("-F"), QStringLiteral("#{session_name}")};
    EXPECT_EQ(test::PrivateTmux::tmux(listing).toStdString(), "made");
    EXPECT_EQ(onOther(listing).toStdString(), "elsewhere");
    onOther({QStringLiteral("kill-server")});
}

TEST_F(HostScripts, BackgroundChildDoesNotHoldTheScript)
{
    QElapsedTimer clock;
    clock.start();
    const QString pid = run(QStringLiteral("sleep 30 & echo $!"), 5).trimmed();
    EXPECT_LT(clock.elapsed(), 6000);
    ASSERT_GT(pid.toInt(), 1) << pid.toStdString();
    ::kill(pid.toInt(), SIGTERM);
}

} // namespace
} // namespace halvoren
