// A local project tab against a private tmux server (its own socket folder, TMUX unset), with
// HOME a temporary folder and /bin/sh as the user's shell: the tab creates, tags and attaches
// the project's session, a stop leaves the session, and the shells see the tab's environment.
#include "tab/MacTab.h"

#include "remote/FolderSessions.h"
#include "remote/ServerState.h"
#include "remote/SessionNaming.h"
#include "remote/ShellQuote.h"
#include "remote/TabReconciliation.h"
#include "remote/TmuxCommands.h"

#include "app/support/HostileNames.h"
#include "app/support/PrivateTmux.h"
#include "engine/view/qt/ViewTestSupport.h"

#include <QDirIterator>
#include <QProcess>

#include <gtest/gtest.h>

#include <memory>
#include <string>

namespace halvoren {
namespace {

using corvantix::testing::waitUntil;

class LocalTmuxTab : public ::testing::Test {
protected:
    void SetUp() override
    {
        if (const std::string missing = test::PrivateTmux::missing(); !missing.empty())
            GTEST_FAIL() << missing;
        // The tab must supply the character type itself.
        for (const char* name : {"LANG", "LC_ALL", "LC_CTYPE"})
            server.environment.set(name, std::nullopt);
    }
    static QString tmux(const QStringList& arguments) { return test::PrivateTmux::tmux(arguments); }
    QString option(const QString& session, const QString& name) const
    {
        return tmux({QStringLiteral("-u"), QStringLiteral("show-options"), QStringLiteral("-v"), QStringLiteral("-t"), u'=' + session + u':', name});
    }
    QString clients(const QString& session) const
    {
        return tmux({QStringLiteral("list-clients"), QStringLiteral("-t"), u'=' + session, QStringLiteral("-F"),
                     QStringLiteral("#{client_tty}")});
    }
    test::PrivateTmux server;
    const QString folder = server.folder(QStringLiteral("it's a project"));
};

TEST_F(LocalTmuxTab, OpensTagsAndAttachesItsSessionAndAStopLeavesIt)
{
    const QString session = tmuxSessionName(folder);
    const QString name = QStringLiteral("it's a project");
    MacTab tab(QStringLiteral("local"), MacProject{name, folder, session}, true, nullptr);
    int exits = 0;
    tab.onExit = [&](MacTab&) { ++exits; };
    // The tagging the workspace uses as setup, then what the tab's own shell sees.
    const QString seen = server.file(QStringLiteral("seen"));
    const QString setup = sessionTagCommand(session, name, folder, {session}) +
                          QStringLiteral("; { printf '%s\\n' \"$TERM\"; printf é | wc -m; } > ") + shellQuote(seen);
    tab.start(setup);
    ASSERT_TRUE(tab.isLive());
    ASSERT_TRUE(waitUntil([&] { return !clients(session).isEmpty(); }, 20000))
        << "sessions: " << tmux({QStringLiteral("list-sessions")}).toStdString();
    EXPECT_EQ(option(session, QStringLiteral("@hv_open")), QStringLiteral("1"));
    EXPECT_EQ(option(session, QStringLiteral("@hv_name")), name);
    EXPECT_EQ(option(session, QStringLiteral("@hv_path")), folder);
    EXPECT_EQ(option(session, QStringLiteral("@hv_order")), QStringLiteral("1"));
    EXPECT_EQ(QString::fromUtf8(test::readAll(seen)), QStringLiteral("xterm-256color\n1\n"));
    // The shell inside the session counts characters, not bytes, and works in the folder.
    const QString typed = server.file(QStringLiteral("typed"));
    const QByteArray line = "{ printf \xC3\xA9 | wc -m; pwd; } > " + shellQuote(typed).toUtf8() + "\r";
    ASSERT_TRUE(waitUntil([&] { return tab.terminal->terminal->isCurrentBufferAlternate(); }));
    tab.terminal->send(std::string_view(line.constData(), size_t(line.size())));
    ASSERT_TRUE(waitUntil([&] { return test::readAll(typed).endsWith('\n') && test::readAll(typed).count('\n') == 2; }));
    EXPECT_EQ(QString::fromUtf8(test::readAll(typed)), QStringLiteral("1\n") + folder + u'\n');
    // Stopping ends the client, not the session, and no end is reported.
    tab.stop();
    EXPECT_FALSE(tab.isLive());
    ASSERT_TRUE(waitUntil([&] { return clients(session).isEmpty(); }, 20000));
    EXPECT_TRUE(tmux({QStringLiteral("list-sessions"), QStringLiteral("-F"), QStringLiteral("#{session_name}")})
                    .split(u'\n')
                    .contains(session));
    // A restart attaches again; the session ending ends the child, which is reported once.
    tab.start();
    ASSERT_TRUE(waitUntil([&] { return !clients(session).isEmpty(); }, 20000));
    EXPECT_EQ(exits, 0);
    tmux({QStringLiteral("kill-session"), QStringLiteral("-t"), QLatin1Char('=') + session});
    ASSERT_TRUE(waitUntil([&] { return exits == 1; }, 20000));
    EXPECT_FALSE(tab.isLive());
    EXPECT_EQ(tab.generation, 3u);
}

// What /bin/sh prints for a script run against the private server.
QString shell(const QString& script)
{
    QProcess process;
    process.start(QStringLiteral("/bin/sh"), {QStringLiteral("-c"), script});
    if (!process.waitForFinished(20000))
        process.kill();
    process.waitForFinished();
    return QString::fromUtf8(process.readAllStandardOutput());
}

QString display(const QString& session, const char* format)
{
    QString shown = shell(QStringLiteral("tmux -u display-message -p -t ") + tmuxOptionTarget(session) + u' ' +
                          shellQuote(QString::fromLatin1(format)));
    if (shown.endsWith(u'\n'))
        shown.chop(1);
    return shown;
}

TEST_F(LocalTmuxTab, HostileFolderNamesOpenTagListReorderCloseAndReopenAsText)
{
    const QString root = server.folder(QStringLiteral("projets"));
    struct Open {
        QString name, path, session;
        std::unique_ptr<MacTab> tab;
    };
    std::vector<Open> opened;
    QStringList sessions;
    for (const QString& name : test::hostileFolderNames()) {
        const QString path = server.folder(QStringLiteral("projets/") + name);
        opened.push_back({name, path, tmuxSessionName(path), nullptr});
        sessions << opened.back().session;
    }
    // Opened as the workspace opens a project: created, tagged and numbered, then attached.
    for (Open& o : opened) {
        o.tab = std::make_unique<MacTab>(QStringLiteral("local"), MacProject{o.name, o.path, o.session}, true, nullptr);
        o.tab->start(sessionTagCommand(o.session, o.name, o.path, sessions));
    }
    for (const Open& o : opened) {
        SCOPED_TRACE(o.path.toStdString());
        ASSERT_TRUE(waitUntil([&] { return !clients(o.session).isEmpty(); }, 20000))
            << tmux({QStringLiteral("list-sessions"), QStringLiteral("-F"), QStringLiteral("#{session_name}")}).toStdString();
        EXPECT_EQ(display(o.session, "#{session_path}"), o.path);
        EXPECT_EQ(display(o.session, "#{pane_current_path}"), o.path);
        EXPECT_EQ(option(o.session, QStringLiteral("@hv_open")), QStringLiteral("1"));
        EXPECT_EQ(option(o.session, QStringLiteral("@hv_name")), test::cleanedTag(o.name).trimmed());
        EXPECT_EQ(option(o.session, QStringLiteral("@hv_path")), test::cleanedTag(o.path).trimmed());
    }
    // Exactly one session per folder, under the name computed here.
    QStringList listed = shell(QStringLiteral("tmux list-sessions -F '#{session_name}'")).split(u'\n', Qt::SkipEmptyParts);
    listed.sort();
    QStringList expected = sessions;
    expected.sort();
    EXPECT_EQ(listed, expected);

    // The listing reads the tags back as written; the picker finds each folder's session.
    const auto state = parseListingOutput(shell(listingScript()));
    ASSERT_TRUE(state);
    ASSERT_EQ(state->open.size(), qsizetype(opened.size()));
    const QList<FolderSession> folderSessions = parseSessionList(shell(sessionListScript()));
    for (qsizetype k = 0; k < qsizetype(opened.size()); ++k) {
        const Open& o = opened.at(size_t(k));
        SCOPED_TRACE(o.path.toStdString());
        const HostTab& host = state->open.at(k);
        EXPECT_EQ(host.session, o.session);
        EXPECT_EQ(host.order, k + 1);
        EXPECT_EQ(host.name, test::cleanedTag(o.name));
        EXPECT_EQ(host.path, test::cleanedTag(o.path));
        // Only this listing reads when the session was made: what tells one made again.
        EXPECT_EQ(host.created, display(o.session, "#{session_created}").toLongLong());
        const bool found = std::any_of(folderSessions.cbegin(), folderSessions.cend(), [&](const FolderSession& f) {
            return f.name == o.session && f.path == o.path;
        });
        EXPECT_TRUE(found);
    }

    // Reordered the other way round, closed (the tag goes, the session stays) and opened again.
    QStringList reversed(sessions.crbegin(), sessions.crend());
    shell(tmuxReorderScript(reversed));
    for (const Open& o : opened)
        shell(sessionUntagScript(o.session));
    for (qsizetype k = 0; k < reversed.size(); ++k) {
        EXPECT_EQ(option(reversed.at(k), QStringLiteral("@hv_order")), QString::number(k + 1));
        EXPECT_EQ(option(reversed.at(k), QStringLiteral("@hv_open")), QString());
    }
    for (Open& o : opened) {
        o.tab->stop();
        o.tab->start(sessionTagCommand(o.session, o.name, o.path, sessions));
    }
    for (const Open& o : opened) {
        SCOPED_TRACE(o.path.toStdString());
        ASSERT_TRUE(waitUntil([&] { return !clients(o.session).isEmpty(); }, 20000));
        EXPECT_EQ(option(o.session, QStringLiteral("@hv_open")), QStringLiteral("1"));
    }
    EXPECT_EQ(shell(QStringLiteral("tmux list-sessions -F x")).count(u'\n'), qsizetype(opened.size()));
    for (Open& o : opened) {
        o.tab->stop();
        shell(sessionKillScript(o.session));
    }
    EXPECT_EQ(shell(QStringLiteral("tmux list-sessions -F x 2>/dev/null")), QString());

    // No name ran anything: no file appeared where a command would have run.
    QStringList created;
    for (const QString& place : {server.base, QDir::currentPath(), QStringLiteral("/")}) {
        QDirIterator files(place, {QStringLiteral("pwned*")}, QDir::AllEntries | QDir::Hidden | QDir::System,
                           place == server.base ? QDirIterator::Subdirectories : QDirIterator::NoIteratorFlags);
        while (files.hasNext())
            created << files.next();
    }
    EXPECT_EQ(created, QStringList{});
}

// The login profile puts a relative folder first in PATH, and the project holds a bin/tmux that
// leaves a file and fails: every tmux command of the tab's start is found from home, whether
// the start makes the session (the user opens the project) or only attaches (a saved tab, or
// one the phone opened), and the session's shell still works in the project folder. A folder
// that is gone is refused as before.
TEST_F(LocalTmuxTab, ItsStartRunsNoTmuxTheProjectHolds)
{
    ASSERT_TRUE(test::writeAll(server.home() + QStringLiteral("/.profile"), "export PATH=\"./bin:$PATH\"\n"));
    const QString ran = server.file(QStringLiteral("project-tmux-ran"));
    const QString stand = server.folder(QStringLiteral("projet/bin")) + QStringLiteral("/tmux");
    ASSERT_TRUE(test::writeAll(stand, "#!/bin/sh\ntouch " + shellQuote(ran).toUtf8() + "\nexit 1\n"));
    ASSERT_TRUE(QFile::setPermissions(stand, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner));
    const QString project = server.file(QStringLiteral("projet"));
    const QString session = tmuxSessionName(project);
    MacTab tab(QStringLiteral("local"), MacProject{QStringLiteral("projet"), project, session}, true, nullptr);
    // The session there already (made here), then made by the start.
    const std::optional<QString> starts[] = {std::nullopt,
                                             sessionTagCommand(session, QStringLiteral("projet"), project, {session})};
    for (const std::optional<QString>& setup : starts) {
        SCOPED_TRACE(setup ? "made" : "attached");
        if (!setup)
            tmux({QStringLiteral("new-session"), QStringLiteral("-d"), QStringLiteral("-s"), session, QStringLiteral("-c"), project});
        tab.start(setup);
        ASSERT_TRUE(waitUntil([&] { return !tab.isLive() || !clients(session).isEmpty(); }, 20000))
            << corvantix::testing::screenText(*tab.terminal->terminal);
        EXPECT_TRUE(tab.isLive());
        EXPECT_FALSE(QFile::exists(ran));
        EXPECT_EQ(display(session, "#{pane_current_path}"), project);
        EXPECT_EQ(option(session, QStringLiteral("@hv_open")), setup ? QStringLiteral("1") : QString());
        tab.stop();
        ASSERT_TRUE(waitUntil([&] { return clients(session).isEmpty(); }, 20000));
        tmux({QStringLiteral("kill-session"), QStringLiteral("-t"), u'=' + session});
    }

    const QString gone = server.file(QStringLiteral("parti"));
    const QString goneSession = tmuxSessionName(gone);
    MacTab refused(QStringLiteral("local"), MacProject{QStringLiteral("parti"), gone, goneSession}, true, nullptr);
    int exits = 0;
    refused.onExit = [&](MacTab&) { ++exits; };
    refused.start(sessionTagCommand(goneSession, QStringLiteral("parti"), gone, {goneSession}));
    ASSERT_TRUE(waitUntil([&] { return exits == 1; }, 20000));
    EXPECT_EQ(refused.folderRefusal, FolderRefusal::missing);
    EXPECT_EQ(tmux({QStringLiteral("list-sessions"), QStringLiteral("-F"), QStringLiteral("#{session_name}")}), QString());
    EXPECT_FALSE(QFile::exists(ran));
}

// The login shell that runs a tmux tab's start works from home, whatever folder the application
// was started from and whatever the project's: a relative entry of PATH finds nothing of either.
TEST_F(LocalTmuxTab, ItsLoginShellStartsAtHome)
{
    // The user's shell notes where each run of ours ("-l -c") starts, then is /bin/sh.
    const QString noted = server.file(QStringLiteral("started-in"));
    const QString recording = server.file(QStringLiteral("recording-shell"));
    ASSERT_TRUE(test::writeAll(recording, "#!/bin/sh\n[ \"$1 $2\" = '-l -c' ] && pwd >> " + shellQuote(noted).toUtf8() +
                                              "\nexec /bin/sh \"$@\"\n"));
    ASSERT_TRUE(QFile::setPermissions(recording, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner));
    server.environment.set("SHELL", recording);
    const struct Back {
        QString here = QDir::currentPath();
        ~Back() { QDir::setCurrent(here); }
    } back;
    ASSERT_TRUE(QDir::setCurrent(server.folder(QStringLiteral("started-here"))));

    const QString session = tmuxSessionName(folder);
    MacTab tab(QStringLiteral("local"), MacProject{QStringLiteral("projet"), folder, session}, true, nullptr);
    tab.start(sessionTagCommand(session, QStringLiteral("projet"), folder, {session}));
    ASSERT_TRUE(waitUntil([&] { return !tab.isLive() || !clients(session).isEmpty(); }, 20000))
        << corvantix::testing::screenText(*tab.terminal->terminal);
    EXPECT_EQ(test::readAll(noted).toStdString(), (server.home() + u'\n').toStdString());
    tab.stop();
    ASSERT_TRUE(waitUntil([&] { return clients(session).isEmpty(); }, 20000));
    tmux({QStringLiteral("kill-session"), QStringLiteral("-t"), u'=' + session});
}

// A login profile's own "tmux" (a bash function, a zsh alias) is for the user's commands:
// the tab's start runs none of it, and its session is made, tagged and attached all the same.
TEST_F(LocalTmuxTab, ItsStartRunsNoAliasOrFunctionOfTheProfile)
{
    const QString ran = server.file(QStringLiteral("profile-tmux-ran"));
    const QByteArray note = "echo tmux >> " + shellQuote(ran).toUtf8();
    const struct {
        const char* shell;
        const char* file;
        QByteArray text;
    } profiles[] = {
        {"/bin/bash", ".bash_profile", "tmux() { " + note + "; command tmux \"$@\"; }\n"},
        {"/usr/bin/zsh", ".zshenv", "alias tmux='" + note + "; tmux'\n"},
    };
    const QString session = tmuxSessionName(folder);
    for (const auto& profile : profiles) {
        SCOPED_TRACE(profile.shell);
        ASSERT_TRUE(QFileInfo(QLatin1String(profile.shell)).isExecutable());
        const QString path = server.home() + u'/' + QLatin1String(profile.file);
        ASSERT_TRUE(test::writeAll(path, profile.text));
        server.environment.set("SHELL", QLatin1String(profile.shell));
        MacTab tab(QStringLiteral("local"), MacProject{QStringLiteral("projet"), folder, session}, true, nullptr);
        tab.start(sessionTagCommand(session, QStringLiteral("projet"), folder, {session}));
        ASSERT_TRUE(waitUntil([&] { return !tab.isLive() || !clients(session).isEmpty(); }, 20000))
            << corvantix::testing::screenText(*tab.terminal->terminal);
        EXPECT_EQ(option(session, QStringLiteral("@hv_open")), QStringLiteral("1"));
        EXPECT_EQ(display(session, "#{pane_current_path}"), folder);
        EXPECT_FALSE(QFile::exists(ran)) << test::readAll(ran).toStdString();
        tab.stop();
        ASSERT_TRUE(waitUntil([&] { return clients(session).isEmpty(); }, 20000));
        tmux({QStringLiteral("kill-session"), QStringLiteral("-t"), u'=' + session});
        QFile::remove(path);
        QFile::remove(ran);
    }
}

// The view draws RGB colour; tmux sends it as such to this client instead of the nearest of
// 256 colours.
TEST_F(LocalTmuxTab, TrueColourReachesTheView)
{
    const QString session = tmuxSessionName(folder);
    MacTab tab(QStringLiteral("local"), MacProject{QStringLiteral("p"), folder, session}, true, nullptr);
    tab.start(QString());
    ASSERT_TRUE(waitUntil([&] { return tab.terminal->terminal->isCurrentBufferAlternate(); }, 20000));
    tab.terminal->send(std::string_view("clear; printf '\\033[38;2;10;200;37mQ\\033[48;2;250;3;99mZ\\033[0m\\n'\r"));
    using corvantix::Attribute;
    std::optional<Attribute> q, z;
    ASSERT_TRUE(waitUntil([&] {
        const auto& lines = tab.terminal->terminal->buffer().lines();
        for (int i = 0; i < lines.count(); ++i) {
            for (const auto& cell : lines[i]->cells()) {
                if (cell.code == 'Q' && !cell.attribute.fg.isDefault())
                    q = cell.attribute;
                if (cell.code == 'Z' && !cell.attribute.bg.isDefault())
                    z = cell.attribute;
            }
        }
        return q && z;
    }, 20000)) << corvantix::testing::screenText(*tab.terminal->terminal);
    EXPECT_EQ(q->fg, Attribute::Color::trueColor(10, 200, 37));
    EXPECT_EQ(z->bg, Attribute::Color::trueColor(250, 3, 99));
    tab.stop();
}

} // namespace
} // namespace halvoren
