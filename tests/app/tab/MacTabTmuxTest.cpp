// A local project tab against a private tmux server (its own socket folder, TMUX unset), with
// HOME a temporary folder and /bin/sh as the user's shell: the tab creates, tags and attaches
// the project's session, a stop leaves the session, and the shells see the tab's environment.
#include "tab/MacTab.h"

#include "remote/SessionNaming.h"
#include "remote/ShellQuote.h"
#include "remote/TmuxCommands.h"

#include "app/support/PrivateTmux.h"
#include "engine/view/qt/ViewTestSupport.h"

#include <gtest/gtest.h>

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
        return tmux({QStringLiteral("show-options"), QStringLiteral("-v"), QStringLiteral("-t"), u'=' + session + u':', name});
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

} // namespace
} // namespace halvoren
