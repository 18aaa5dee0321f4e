// A local project tab against a private tmux server (its own socket folder, TMUX unset), with
// HOME a temporary folder and /bin/sh as the user's shell: the tab creates, tags and attaches
// the project's session, a stop leaves the session, and the shells see the tab's environment.
#include "remote/MacTab.h"

#include "remote/SessionNaming.h"
#include "remote/ShellQuote.h"
#include "remote/TmuxCommands.h"

#include "../../support/TempFolder.h"
#include "engine/view/qt/ViewTestSupport.h"

#include <QDir>
#include <QProcess>
#include <QStandardPaths>

#include <gtest/gtest.h>

#include <cstdlib>
#include <string>

namespace halvoren {
namespace {

using corvantix::testing::waitUntil;

class LocalTmuxTab : public ::testing::Test {
protected:
    void SetUp() override
    {
        if (QStandardPaths::findExecutable(QStringLiteral("tmux")).isEmpty())
            GTEST_FAIL() << "tmux is missing: install the Debian package tmux";
        ASSERT_TRUE(root.valid());
        ASSERT_TRUE(QDir().mkpath(root.file(QStringLiteral("sockets"))));
        ASSERT_TRUE(QDir().mkpath(root.file(QStringLiteral("home"))));
        folder = root.file(QStringLiteral("it's a project"));
        ASSERT_TRUE(QDir().mkpath(folder));
        // TMUX first: with it set, tmux would talk to the server it names.
        environment.set("TMUX", std::nullopt);
        environment.set("TMUX_PANE", std::nullopt);
        environment.set("TMUX_TMPDIR", root.file(QStringLiteral("sockets")));
        environment.set("HOME", root.file(QStringLiteral("home")));
        environment.set("SHELL", QStringLiteral("/bin/sh"));
        // The tab must supply the character type itself.
        environment.set("LANG", std::nullopt);
        environment.set("LC_ALL", std::nullopt);
        environment.set("LC_CTYPE", std::nullopt);
    }

    void TearDown() override { tmux({QStringLiteral("kill-server")}); }

    // Runs tmux against the private server; its standard output, trimmed.
    static QString tmux(const QStringList& arguments)
    {
        QProcess process;
        process.start(QStringLiteral("tmux"), arguments);
        if (!process.waitForFinished(10000)) {
            process.kill();
            process.waitForFinished();
        }
        return QString::fromUtf8(process.readAllStandardOutput()).trimmed();
    }

    QString option(const QString& session, const QString& name) const
    {
        return tmux({QStringLiteral("show-options"), QStringLiteral("-v"), QStringLiteral("-t"),
                     QLatin1Char('=') + session + QLatin1Char(':'), name});
    }
    QString clients(const QString& session) const
    {
        return tmux({QStringLiteral("list-clients"), QStringLiteral("-t"), QLatin1Char('=') + session,
                     QStringLiteral("-F"), QStringLiteral("#{client_tty}")});
    }
    bool sessionExists(const QString& session) const
    {
        return tmux({QStringLiteral("list-sessions"), QStringLiteral("-F"), QStringLiteral("#{session_name}")})
            .split(u'\n')
            .contains(session);
    }

    test::TempFolder root;
    QString folder;
    test::EnvironmentOverride environment;
};

TEST_F(LocalTmuxTab, OpensTagsAndAttachesItsSessionAndAStopLeavesIt)
{
    const QString session = tmuxSessionName(folder);
    const QString name = QStringLiteral("it's a project");
    MacTab tab(QStringLiteral("local"), MacProject{name, folder, session}, true, nullptr);
    int exits = 0;
    tab.onExit = [&](MacTab&) { ++exits; };

    // The tagging the workspace uses as setup, then what the tab's own shell sees.
    const QString seen = root.file(QStringLiteral("seen"));
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
    const QString typed = root.file(QStringLiteral("typed"));
    const QByteArray line = "{ printf \xC3\xA9 | wc -m; pwd; } > " + shellQuote(typed).toUtf8() + "\r";
    ASSERT_TRUE(waitUntil([&] { return tab.terminal->terminal->isCurrentBufferAlternate(); }));
    tab.terminal->send(std::string_view(line.constData(), size_t(line.size())));
    ASSERT_TRUE(waitUntil([&] { return test::readAll(typed).endsWith('\n') && test::readAll(typed).count('\n') == 2; }));
    EXPECT_EQ(QString::fromUtf8(test::readAll(typed)), QStringLiteral("1\n") + folder + u'\n');

    // Stopping ends the client, not the session, and no end is reported.
    tab.stop();
    EXPECT_FALSE(tab.isLive());
    ASSERT_TRUE(waitUntil([&] { return clients(session).isEmpty(); }, 20000));
    EXPECT_TRUE(sessionExists(session));

    // A restart attaches again; the session ending ends the child, which is reported once.
    tab.start();
    ASSERT_TRUE(waitUntil([&] { return !clients(session).isEmpty(); }, 20000));
    EXPECT_EQ(exits, 0);
    tmux({QStringLiteral("kill-session"), QStringLiteral("-t"), QLatin1Char('=') + session});
    ASSERT_TRUE(waitUntil([&] { return exits == 1; }, 20000));
    EXPECT_FALSE(tab.isLive());
    EXPECT_EQ(tab.generation, 3u);
}

} // namespace
} // namespace halvoren
