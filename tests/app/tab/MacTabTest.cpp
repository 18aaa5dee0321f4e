// The project tab without tmux or ssh: its command lines, the child's environment, the
// bookkeeping of starts, stops and ends, the composed message and the autofill's window.
#include "tab/MacTab.h"

#include "app/support/TempFolder.h"
#include "platform/SecretStore.h"
#include "remote/ShellQuote.h"
#include "remote/TmuxCommands.h"
#include "engine/view/qt/ViewTestSupport.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>

#include <gtest/gtest.h>

#include <cstdlib>
#include <memory>

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
    // The plain shell and a new session first check the folder; an attach alone does not.
    // All of it runs in the script shell.
    EXPECT_EQ(plain.command(QStringLiteral("ignored")),
              scriptShellCommand(enterFolderCommand(project.path, QString()) + QStringLiteral("; exec \"$SHELL\" -l")));
    const MacTab tmux(QStringLiteral("local"), project, true, nullptr);
    EXPECT_EQ(tmux.command(std::nullopt), scriptShellCommand(tmuxAttachCommand(project.session, project.path, std::nullopt)));
    EXPECT_EQ(tmux.command(QStringLiteral("setup")),
              scriptShellCommand(sessionFolderCheck(project.session, project.path, QString()) + QStringLiteral("; ") +
                                 tmuxAttachCommand(project.session, project.path, QStringLiteral("setup"))));
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

// A tmux tab of a server of that host, started, once its ssh ended (or never started).
struct EndedServerTab {
    explicit EndedServerTab(const QString& host)
    {
        MacProfile profile;
        profile.id = QStringLiteral("p1");
        profile.host = host;
        tab = std::make_unique<MacTab>(profile.id,
                                       MacProject{QStringLiteral("demo"), QStringLiteral("/srv/demo"), QStringLiteral("kq-demo")},
                                       true, std::make_shared<SSHLink>(profile), &keychain);
        tab->onExit = [this](MacTab&) { ++exits; };
        tab->start();
        ended = waitUntil([this] { return exits == 1; });
    }
    SecretStore keychain{std::make_unique<MemorySecretBackend>()};
    std::unique_ptr<MacTab> tab;
    int exits = 0;
    bool ended = false;
};

TEST(MacTab, ServerThatSshWouldReadAsAnOptionIsNeverStarted)
{
    const EndedServerTab server(QStringLiteral("-oProxyCommand=touch /tmp/hv-never"));
    ASSERT_TRUE(server.ended);
    EXPECT_FALSE(server.tab->isLive());
    EXPECT_EQ(server.tab->terminal->process->shellPid(), 0);
}

// A server tab's ssh starts at home, wherever the application was started: ssh runs the
// commands of its configuration (a proxy) through the shell, where a relative entry of PATH
// would find a program of that folder. A stand-in ssh notes where it started.
TEST_F(LocalTab, AServerTabsSshStartsAtHome)
{
    const QString elsewhere = folder.file(QStringLiteral("projets/projet"));
    const QString ssh = folder.file(QStringLiteral("ssh"));
    const QString noted = folder.file(QStringLiteral("started-in"));
    ASSERT_TRUE(QDir().mkpath(elsewhere));
    ASSERT_TRUE(test::writeAll(ssh, "#!/bin/sh\npwd > " + shellQuote(noted).toUtf8() + "\n"));
    ASSERT_TRUE(QFile::setPermissions(ssh, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner));
    const struct Back {
        QString here = QDir::currentPath();
        ~Back()
        {
            QDir::setCurrent(here);
            SSHLink::setProgramForTests(QStringLiteral("/usr/bin/ssh"));
        }
    } back;
    ASSERT_TRUE(QDir::setCurrent(elsewhere));
    SSHLink::setProgramForTests(ssh);
    ASSERT_TRUE(EndedServerTab(QStringLiteral("example.invalid")).ended);
    EXPECT_EQ(QString::fromUtf8(test::readAll(noted)).trimmed().toStdString(), QDir(folder.path()).canonicalPath().toStdString());
}

TEST(MacTab, RefusedFoldersAreNamedShortened)
{
    const struct { FolderRefusal refusal; const char* message; } messages[] = {
        {FolderRefusal::missing, "Dossier introuvable : /srv/web"},
        {FolderRefusal::inaccessible, "Dossier inaccessible : /srv/web"},
        {FolderRefusal::tooLong, "Chemin trop long : /srv/web"},
    };
    for (const auto& m : messages)
        EXPECT_EQ(folderRefusalMessage(m.refusal, QStringLiteral("/srv/web")).toStdString(), m.message);

    const QString clef = QStringLiteral("\U0001D11E"); // two UTF-16 units
    const QString accent = QStringLiteral("e\u0301");  // two code points, one character
    const struct { QString path; QString elided; } cases[] = {
        {QString(80, u'a'), QString(80, u'a')},
        {QString(81, u'a'), QString(26, u'a') + QChar(0x2026) + QString(53, u'a')},
        {QStringLiteral("/srv/") + QStringLiteral("a/").repeated(100) + QStringLiteral("projet-final"),
         QStringLiteral("/srv/") + QStringLiteral("a/").repeated(10) + QStringLiteral("a") + QChar(0x2026) +
             QStringLiteral("/a").repeated(20) + QStringLiteral("/projet-final")},
        {clef.repeated(100), clef.repeated(26) + QChar(0x2026) + clef.repeated(53)},
        {accent.repeated(100), accent.repeated(26) + QChar(0x2026) + accent.repeated(53)},
        // A wide character takes the room of two.
        {QStringLiteral("見").repeated(41), QStringLiteral("見").repeated(13) + QChar(0x2026) + QStringLiteral("見").repeated(26)},
        {QStringLiteral("見").repeated(40), QStringLiteral("見").repeated(40)},
        {QStringLiteral("a見").repeated(30), QStringLiteral("a見").repeated(8) + QStringLiteral("a") + QChar(0x2026) + QStringLiteral("見") + QStringLiteral("a見").repeated(17)},
    };
    for (const auto& c : cases)
        EXPECT_EQ(elidedPath(c.path), c.elided) << c.path.toStdString();

    // Linux paths hold at most 4,096 bytes, counted in UTF-8.
    const struct { QString path; bool tooLong; } lengths[] = {
        {QString(4096, u'a'), false}, {QString(4097, u'a'), true},
        {QString(2048, QChar(0xE9)), false}, {QString(2048, QChar(0xE9)) + u'a', true},
        {QString(1366, QChar(0x65E5)), true}, {QString(1365, QChar(0x65E5)), false},
    };
    for (const auto& l : lengths)
        EXPECT_EQ(folderPathTooLong(l.path), l.tooLong) << l.path.size();
}

// The user's shell records each start with its arguments: a start that refuses its folder
// runs the login shell for the check only, never the shell the user would type into.
TEST_F(LocalTab, AFolderThatCannotBeEnteredGetsNoShell)
{
    const QString log = folder.file(QStringLiteral("shells"));
    const QString recording = folder.file(QStringLiteral("recording-shell"));
    ASSERT_TRUE(test::writeAll(recording, ("#!/bin/sh\nprintf '[%s %s]\\n' \"$1\" \"$2\" >> " + shellQuote(log) +
                                           "\nexec /bin/sh \"$@\"\n").toUtf8()));
    ASSERT_TRUE(QFile::setPermissions(recording, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner));
    test::EnvironmentOverride shell("SHELL", recording);
    const QString here = folder.file(QStringLiteral("here"));
    ASSERT_TRUE(QDir().mkpath(here));
    ASSERT_TRUE(test::writeAll(folder.file(QStringLiteral("a-file")), "x"));
    QString tooLong = folder.path() + u'/';
    tooLong += QString(4097 - tooLong.size(), u'x');
    const struct { QString path; std::optional<FolderRefusal> refusal; int shells; } cases[] = {
        {here, std::nullopt, 2},
        {folder.file(QStringLiteral("gone")), FolderRefusal::missing, 1},
        {folder.file(QStringLiteral("a-file")), FolderRefusal::missing, 1},
        {tooLong, FolderRefusal::tooLong, 0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.path.left(100).toStdString());
        QFile::remove(log);
        MacTab tab(QStringLiteral("local"), project(c.path), false, nullptr);
        int exits = 0;
        tab.onExit = [&](MacTab&) { ++exits; };
        tab.start();
        if (!c.refusal) {
            // The user's own shell, ending with the check's status: that alone refuses nothing.
            ASSERT_TRUE(waitUntil([&] { return test::readAll(log).count('\n') == 2; }));
            tab.terminal->send(std::string_view("echo hv-folder-refused--66; exit 66\r"));
        }
        ASSERT_TRUE(waitUntil([&] { return exits == 1; }));
        EXPECT_EQ(tab.folderRefusal, c.refusal);
        EXPECT_EQ(test::readAll(log).count('\n'), c.shells) << test::readAll(log).toStdString();
        EXPECT_FALSE(tab.isLive());
    }
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

// Markers inside a message, even ones that appear only once another is taken out, cannot end
// the paste early: what follows would be acted on as typed keys.
TEST_F(LocalTab, ComposedMessageIsOnePasteWhateverMarkersItHolds)
{
    MacTab tab(QStringLiteral("local"), project(folder.path()), false, nullptr);
    tab.start();
    QString output;
    tab.onOutput = [&](MacTab&, const QString& text) { output += text; };
    tab.terminal->send(std::string_view("stty -echo; printf 'rea%s\\n' dy; cat -v\r"));
    ASSERT_TRUE(waitUntil([&] { return output.contains(QStringLiteral("ready\r\n")); }));
    // What `cat -v` prints for each message: ^[ is ESC.
    const std::pair<const char*, const char*> cases[] = {
        {"one\x1b[201~two", "^[[200~onetwo^[[201~"},
        {"one\x1b[20\x1b[201~1~two", "^[[200~onetwo^[[201~"},
        {"\x1b[2\x1b[201~00~one\x1b[200~two\x1b[201~", "^[[200~onetwo^[[201~"},
        {"\x1b[20\x1b[2\x1b[200~01~1~", "^[[200~^[[201~"},
    };
    for (const auto& [message, line] : cases) {
        SCOPED_TRACE(line);
        output.clear();
        tab.sendComposed(QString::fromUtf8(message));
        ASSERT_TRUE(waitUntil([&] { return output.contains(u'\n'); })) << output.toStdString();
        EXPECT_EQ(output, QString::fromUtf8(line) + QStringLiteral("\r\n"));
    }
    tab.stop();
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
    tab.handleOutput(QStringLiteral("49h\r\nana@srv's password: "));
    EXPECT_EQ(submits, 1);
    EXPECT_FALSE(tab.autofill);
    // Past the start-up window likewise.
    tab.autofillWindow = std::chrono::milliseconds(1);
    tab.start();
    tab.autofill.emplace(QStringLiteral("secret"));
    waitUntil([] { return false; }, 20);
    tab.handleOutput(QStringLiteral("ana@srv's password: "));
    EXPECT_EQ(submits, 1);
    EXPECT_FALSE(tab.autofill);
    tab.stop();
}

} // namespace
} // namespace halvoren
