// The project tab without tmux or ssh: its command lines, the child's environment, the
// bookkeeping of starts, stops and ends, the composed message and the autofill's window.
#include "tab/MacTab.h"

#include "app/support/TempFolder.h"
#include "platform/SecretStore.h"
#include "engine/view/qt/ViewTestSupport.h"

#include <QElapsedTimer>

#include <gtest/gtest.h>

#include <cstdlib>

namespace halvoren {
namespace {

using corvantix::testing::waitUntil;

TEST(MacTab, EnvironmentSetsAUTF8CharacterTypeOnlyWhereNothingChoseOne)
{
    const QString utf8C = QStringLiteral("C.UTF-8");
    // Expected values; an empty text means the variable must be absent.
    const struct { EnvironmentMap given; bool frenchInstalled; QString lang, characterType; } cases[] = {
        {{{QStringLiteral("HOME"), QStringLiteral("/h")}}, false, utf8C, utf8C},
        {{}, true, QStringLiteral("fr_FR.UTF-8"), utf8C},
        {{{QStringLiteral("LANG"), QStringLiteral("de_DE.UTF-8")}}, true, QStringLiteral("de_DE.UTF-8"), {}},
        {{{QStringLiteral("LC_ALL"), QStringLiteral("en_GB.UTF-8")}}, false, utf8C, {}},
        {{{QStringLiteral("LC_CTYPE"), QStringLiteral("pt_BR.UTF-8")}}, false, utf8C, QStringLiteral("pt_BR.UTF-8")},
        {{{QStringLiteral("TMUX"), QStringLiteral("/tmp/tmux-0/default,1,0")}, {QStringLiteral("TMUX_PANE"), QStringLiteral("%3")},
          {QStringLiteral("TERM"), QStringLiteral("screen")}, {QStringLiteral("LANG"), utf8C}},
         false, utf8C, {}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(environmentStrings(c.given).join(u' ').toStdString());
        const EnvironmentMap out = tabEnvironment(c.given, [&](const QString& name) {
            return c.frenchInstalled && name == QStringLiteral("fr_FR.UTF-8");
        });
        EXPECT_EQ(out.value(QStringLiteral("LANG")), c.lang);
        EXPECT_EQ(out.contains(QStringLiteral("LC_CTYPE")), !c.characterType.isEmpty());
        EXPECT_EQ(out.value(QStringLiteral("LC_CTYPE")), c.characterType);
        EXPECT_EQ(out.value(QStringLiteral("TERM")), QStringLiteral("xterm-256color"));
        EXPECT_EQ(out.value(QStringLiteral("COLORTERM")), QStringLiteral("truecolor"));
        EXPECT_EQ(out.value(QStringLiteral("TERM_PROGRAM")), QStringLiteral("Halvoren"));
        EXPECT_FALSE(out.contains(QStringLiteral("TMUX")) || out.contains(QStringLiteral("TMUX_PANE")));
        EXPECT_EQ(out.value(QStringLiteral("HOME")), c.given.value(QStringLiteral("HOME")));
    }
    EXPECT_FALSE(localeInstalled(QStringLiteral("UTF-8")));
}

TEST(MacTab, CommandLines)
{
    const MacProject project{QStringLiteral("it's"), QStringLiteral("/srv/it's"), QStringLiteral("kq-demo-0123456789abcdef")};
    const MacTab plain(QStringLiteral("local"), project, false, nullptr);
    EXPECT_EQ(plain.id(), QStringLiteral("local::kq-demo-0123456789abcdef"));
    EXPECT_EQ(plain.command(QStringLiteral("ignored")), QStringLiteral("cd '/srv/it'\\''s' 2>/dev/null; exec $SHELL -l"));
    const MacTab tmux(QStringLiteral("local"), project, true, nullptr);
    EXPECT_TRUE(tmux.command(std::nullopt).endsWith(QStringLiteral("exec tmux attach -t '=kq-demo-0123456789abcdef'")));
    // The inner login shell, not the outer one, expands and unquotes.
    EXPECT_EQ(remoteShellCommand(QStringLiteral("cd \"$HOME\" && echo `id` \\ 'x'")),
              QStringLiteral("$SHELL -lc \"cd \\\"\\$HOME\\\" && echo \\`id\\` \\\\ 'x'\""));
}

// A tab on a private home with /bin/sh as the user's shell, restored afterwards.
class LocalTab : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(folder.valid()); }
    MacProject project(const QString& path) const
    {
        return MacProject{QStringLiteral("demo"), path, QStringLiteral("kq-demo-0000000000000001")};
    }
    test::TempFolder folder;
    test::EnvironmentOverride environment{"SHELL", QStringLiteral("/bin/sh")};
    test::EnvironmentOverride home{"HOME", folder.path()};
};

TEST_F(LocalTab, StartStopAndTheEndsThatCount)
{
    MacTab tab(QStringLiteral("local"), project(folder.path()), false, nullptr);
    int exits = 0;
    QString output;
    tab.onExit = [&](MacTab&) { ++exits; };
    tab.onOutput = [&](MacTab&, const QString& text) { output += text; };
    tab.start();
    ASSERT_TRUE(tab.isLive());
    EXPECT_EQ(tab.generation, 1u);
    const std::optional<QDateTime> started = tab.startedAt;
    const pid_t child = tab.terminal->process->shellPid();
    tab.start(); // a second start of a live tab changes nothing
    EXPECT_TRUE(tab.generation == 1u && tab.startedAt == started && tab.terminal->process->shellPid() == child);
    // The shell runs in the project folder.
    tab.terminal->send(std::string_view("pwd; exit 3\r"));
    ASSERT_TRUE(waitUntil([&] { return exits == 1; })) << output.toStdString();
    EXPECT_FALSE(tab.isLive());
    EXPECT_TRUE(output.contains(folder.path()));
    // A new start, a stop, then the report of the stopped child: nothing reaches onExit.
    tab.start();
    ASSERT_TRUE(tab.isLive());
    EXPECT_EQ(tab.generation, 2u);
    tab.stop();
    EXPECT_FALSE(tab.isLive());
    EXPECT_EQ(tab.generation, 3u);
    tab.childExited(2);
    EXPECT_EQ(exits, 1);
    EXPECT_FALSE(tab.isLive());
}

TEST_F(LocalTab, ChildThatCannotStartEndsOnTheNextTurnAndCanBeStartedAgain)
{
    // A NUL cannot reach the C library: no child is made.
    MacTab tab(QStringLiteral("local"), project(folder.path() + QChar(0) + QStringLiteral("x")), false, nullptr);
    int exits = 0;
    bool liveAtExit = true;
    tab.onExit = [&](MacTab& ended) { ++exits, liveAtExit = ended.isLive(); };
    tab.start();
    EXPECT_FALSE(tab.isLive());
    EXPECT_EQ(exits, 0);
    ASSERT_TRUE(waitUntil([&] { return exits == 1; }));
    EXPECT_FALSE(liveAtExit);
    tab.start();
    EXPECT_EQ(tab.generation, 2u);
    ASSERT_TRUE(waitUntil([&] { return exits == 2; }));
}

TEST(MacTab, ServerThatSshWouldReadAsAnOptionIsNeverStarted)
{
    MacProfile profile;
    profile.id = QStringLiteral("p1");
    profile.host = QStringLiteral("-oProxyCommand=touch /tmp/hv-never");
    SecretStore keychain(std::make_unique<MemorySecretBackend>());
    MacTab tab(profile.id, MacProject{QStringLiteral("demo"), QStringLiteral("/srv/demo"), QStringLiteral("kq-demo")}, true,
               std::make_shared<SSHLink>(profile), &keychain);
    int exits = 0;
    tab.onExit = [&](MacTab&) { ++exits; };
    tab.start();
    ASSERT_TRUE(waitUntil([&] { return exits == 1; }));
    EXPECT_FALSE(tab.isLive());
    EXPECT_EQ(tab.terminal->process->shellPid(), 0);
}

TEST_F(LocalTab, ComposedMessageIsAPasteThenAReturnLater)
{
    auto tab = std::make_unique<MacTab>(QStringLiteral("local"), project(folder.path()), false, nullptr);
    tab->start();
    QString output;
    int submits = 0;
    tab->onOutput = [&](MacTab&, const QString& text) { output += text; };
    tab->onInput = [&](MacTab&) { ++submits; };
    // The shell echoes what it reads; the paste markers themselves are not a submission.
    tab->terminal->send(std::string_view("stty -echo; printf 'rea%s\\n' dy; cat -v\r"));
    ASSERT_TRUE(waitUntil([&] { return output.contains(QStringLiteral("ready")); }));
    submits = 0;
    QElapsedTimer clock;
    clock.start();
    tab->sendComposed(QStringLiteral("hello"));
    EXPECT_EQ(submits, 0);
    ASSERT_TRUE(waitUntil([&] { return submits == 1; }));
    EXPECT_GE(clock.elapsed(), 70);
    ASSERT_TRUE(waitUntil([&] { return output.contains(QStringLiteral("^[[200~hello^[[201~")); })) << output.toStdString();
    // A tab stopped (as closing it does first) before the delay sends nothing more, and neither
    // does one started again meanwhile: the Return was meant for the shell that got the paste.
    tab->sendComposed(QStringLiteral("rm -rf build"));
    tab->stop();
    EXPECT_FALSE(waitUntil([&] { return submits > 1; }, 200));
    tab->start();
    ASSERT_TRUE(tab->isLive());
    tab->sendComposed(QStringLiteral("make"));
    tab->stop();
    tab->start();
    EXPECT_FALSE(waitUntil([&] { return submits > 1; }, 200));
    EXPECT_EQ(submits, 1);
    // One destroyed meanwhile is the timer's context: a late Return would touch freed memory,
    // which the sanitizer build reports.
    tab->sendComposed(QString());
    tab.reset();
    waitUntil([] { return false; }, 200);
}

TEST_F(LocalTab, AutofillAnswersDuringTheStartUpOnlyAndOnce)
{
    MacTab tab(QStringLiteral("local"), project(folder.path()), false, nullptr);
    int submits = 0;
    tab.onInput = [&](MacTab&) { ++submits; };
    tab.autofill.emplace(QStringLiteral("secret"));
    tab.handleOutput(QStringLiteral("ana@srv's password: "));
    EXPECT_EQ(submits, 1);
    tab.handleOutput(QStringLiteral("\r\nana@srv's password: "));
    EXPECT_EQ(submits, 1);
    // Once the session shows its full screen, a prompt belongs to some program in it.
    // The switch may arrive cut between two chunks.
    tab.autofill.emplace(QStringLiteral("secret"));
    tab.handleOutput(QStringLiteral("Welcome\r\n\x1b[?10"));
    EXPECT_TRUE(tab.autofill);
    tab.handleOutput(QStringLiteral("49h\x1b[HEnter password: "));
    EXPECT_EQ(submits, 1);
    EXPECT_FALSE(tab.autofill);
    // Past the start-up window likewise.
    tab.autofillWindow = std::chrono::milliseconds(1);
    tab.start();
    tab.autofill.emplace(QStringLiteral("secret"));
    waitUntil([] { return false; }, 20);
    tab.handleOutput(QStringLiteral("Enter password: "));
    EXPECT_EQ(submits, 1);
    EXPECT_FALSE(tab.autofill);
    tab.stop();
}

} // namespace
} // namespace halvoren
