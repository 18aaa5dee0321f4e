#include "remote/TmuxCommands.h"

#include "../support/TempFolder.h"

#include <QProcess>

#include <gtest/gtest.h>

#include <unistd.h>

namespace halvoren {
namespace {

TEST(TmuxCommands, AttachCreatesAndRunsTheSetupOnlyWhenGivenOne)
{
    const std::string options = "tmux set -g mouse on; tmux set -u -t '=kq-it'\\''s-1:' mouse 2>/dev/null; "
                                "tmux set -g set-clipboard on; tmux set -g window-size latest 2>/dev/null; "
                                "tmux -T RGB -V >/dev/null 2>&1 && exec tmux -u -T RGB attach -t '=kq-it'\\''s-1'; "
                                "exec tmux -u attach -t '=kq-it'\\''s-1'";
    const std::string create = "tmux new-session -d -s 'kq-it'\\''s-1' -c '/srv/it'\\''s $(x)' 2>/dev/null; ";
    const QString session = QStringLiteral("kq-it's-1");
    const QString path = QStringLiteral("/srv/it's $(x)");
    EXPECT_EQ(tmuxAttachCommand(session, path, QStringLiteral("echo set")).toStdString(), create + "echo set; " + options);
    EXPECT_EQ(tmuxAttachCommand(session, path, QString()).toStdString(), create + options);
    EXPECT_EQ(tmuxAttachCommand(session, path, std::nullopt).toStdString(), options);
}

TEST(TmuxCommands, TagCleansValuesAndNumbersTheSessions)
{
    EXPECT_EQ(sessionTagCommand(QStringLiteral("S"), QStringLiteral("a\tb\r\nc"), QStringLiteral("/srv/it's"),
                                {QStringLiteral("A"), QStringLiteral("B"), QStringLiteral("C")})
                  .toStdString(),
              "tmux set -t '=S:' @hv_open 1 2>/dev/null; tmux set -t '=S:' @hv_name 'a b  c' 2>/dev/null; "
              "tmux set -t '=S:' @hv_path '/srv/it'\\''s' 2>/dev/null; tmux set -t '=A:' @hv_order 1 2>/dev/null; "
              "tmux set -t '=B:' @hv_order 2 2>/dev/null; tmux set -t '=C:' @hv_order 3 2>/dev/null");
}

// tmux expands "#" formats in new-session's arguments and ends a command at an argument's
// final ";": both must reach it as text, and a safe name must stay as it was.
TEST(TmuxCommands, NamesAndPathsReachTmuxAsText)
{
    const struct { QString text; const char* literal; const char* formatLiteral; } cases[] = {
        {QStringLiteral("kq-web-1"), "kq-web-1", "kq-web-1"},
        {QStringLiteral("x#{session_name}y"), "x#{session_name}y", "x##{session_name}y"},
        {QStringLiteral("#(touch x)"), "#(touch x)", "##(touch x)"},
        {QStringLiteral("x##y"), "x##y", "x####y"},
        {QStringLiteral("semi;"), "semi\\;", "semi\\;"},
        {QStringLiteral(";"), "\\;", "\\;"},
        {QStringLiteral("a;b"), "a;b", "a;b"},
        {QStringLiteral("a\\;"), "a\\\\;", "a\\\\;"},
        {QString(), "", ""},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(tmuxLiteral(c.text).toStdString(), c.literal) << c.text.toStdString();
        EXPECT_EQ(tmuxFormatLiteral(c.text).toStdString(), c.formatLiteral) << c.text.toStdString();
    }
    EXPECT_EQ(tmuxAttachCommand(QStringLiteral("kq-a#b-1"), QStringLiteral("/p/a#b;"), QString()).section(u';', 0, 0).toStdString(),
              "tmux new-session -d -s 'kq-a##b-1' -c '/p/a##b\\");
    EXPECT_EQ(sessionTagCommand(QStringLiteral("S"), QStringLiteral("n;"), QStringLiteral("/p/#;"), {}).toStdString(),
              "tmux set -t '=S:' @hv_open 1 2>/dev/null; tmux set -t '=S:' @hv_name 'n\\;' 2>/dev/null; "
              "tmux set -t '=S:' @hv_path '/p/#\\;' 2>/dev/null");
}

// The plain shell enters its folder; a session's check only tries it, in a subshell, so that
// the tmux commands after it run from where the shell started.
TEST(TmuxCommands, FolderChecks)
{
    const QString path = QStringLiteral("/srv/it's");
    const std::string refusal = " 2>/dev/null || { [ -d '/srv/it'\\''s' ] && s=77 || s=66; "
                                "echo hv-folder-refused-T-\"$s\"; exit \"$s\"; }";
    const struct { QString command; std::string expected; } cases[] = {
        {enterFolderCommand(path, QStringLiteral("T")), "cd -- '/srv/it'\\''s'" + refusal},
        {sessionFolderCheck(QStringLiteral("kq-S"), path, QStringLiteral("T")),
         "tmux has-session -t '=kq-S' 2>/dev/null || (cd -- '/srv/it'\\''s')" + refusal},
    };
    for (const auto& c : cases)
        EXPECT_EQ(c.command.toStdString(), c.expected);
}

// The folder check as a shell runs it: into the folder (the session's check stays where it
// started), or out with the token and the status of why not, before anything after it runs.
TEST(TmuxCommands, EnteringAFolderOrSayingWhyNot)
{
    test::TempFolder root;
    ASSERT_TRUE(root.valid());
    const QString hostile = root.file(QStringLiteral("it's $(touch pwned) -x;"));
    const QString locked = root.file(QStringLiteral("locked"));
    ASSERT_TRUE(QDir().mkpath(hostile) && QDir().mkpath(locked));
    ASSERT_TRUE(test::writeAll(root.file(QStringLiteral("a-file")), "x"));
    ASSERT_TRUE(QFile::setPermissions(locked, QFile::ReadOwner | QFile::WriteOwner));
    struct Case { QString path; int status; };
    std::vector<Case> cases = {
        {hostile, 0},
        {root.file(QStringLiteral("gone")), folderMissingStatus},
        {root.file(QStringLiteral("a-file")), folderMissingStatus},
        {root.file(QStringLiteral("a-file/below")), folderMissingStatus},
        {root.path() + u'/' + QString(5000, u'x'), folderMissingStatus},
    };
    // The super-user enters every folder: only another account meets a closed one.
    if (::geteuid() != 0)
        cases.push_back({locked, folderInaccessibleStatus});
    // No session of that name runs: the check is made.
    const QString session = QStringLiteral("kq-none-0000000000000000");
    for (const Case& c : cases) {
        for (const bool entering : {true, false}) {
            SCOPED_TRACE(c.path.left(100).toStdString() + (entering ? " entered" : " checked"));
            const QString check = entering ? enterFolderCommand(c.path, QStringLiteral("t0k3n"))
                                           : sessionFolderCheck(session, c.path, QStringLiteral("t0k3n"));
            QProcess shell;
            shell.setWorkingDirectory(root.path());
            shell.start(QStringLiteral("/bin/sh"), {QStringLiteral("-c"), check + QStringLiteral("; pwd")});
            ASSERT_TRUE(shell.waitForFinished(20000));
            EXPECT_EQ(shell.exitCode(), c.status);
            const QString expected = c.status != 0 ? QStringLiteral("hv-folder-refused-t0k3n-%1").arg(c.status)
                                     : entering    ? c.path
                                                   : root.path();
            EXPECT_EQ(QString::fromUtf8(shell.readAllStandardOutput()), expected + u'\n');
        }
    }
    EXPECT_FALSE(QFile::exists(root.file(QStringLiteral("pwned"))));
}

TEST(TmuxCommands, PromptAtEnd)
{
    const struct { QString chunk; bool prompt; } cases[] = {
        {QStringLiteral("make: done\r\n~/proj $ "), true},
        {QStringLiteral("\x1b[32m\u279C\x1b[0m  proj"), true}, // coloured arrow, then the folder
        {QStringLiteral("50%"), false}, {QStringLiteral("done %  "), true}, {QStringLiteral("~/proj $ \n"), false},
        {QStringLiteral(" \t"), false}, {QStringLiteral("\u03BB"), true}, {QStringLiteral("host\u00BB"), true},
        {QStringLiteral("cost $5"), false}, {QStringLiteral("\x1b]0;title\x07$ "), true},
        {QStringLiteral("$ \x1bM"), true}, {QStringLiteral("$ \rprogress 50%"), false},
        {QStringLiteral("working\r$ "), true}, {QStringLiteral("$\t"), false},
    };
    for (const auto& c : cases)
        EXPECT_EQ(promptAtEnd(c.chunk), c.prompt) << c.chunk.toStdString();
}

} // namespace
} // namespace halvoren
