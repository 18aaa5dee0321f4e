#include "remote/FolderSessions.h"
#include "remote/Shell.h"
#include "remote/ShellQuote.h"
#include "RunSync.h"
#include "../support/TempFolder.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QDeadlineTimer>
#include <QThread>

#include <gtest/gtest.h>

#include <pwd.h>
#include <unistd.h>

namespace halvoren {
namespace {

using test::runSync;

ShellResult<Shell::Output> sh(const QString& script, std::optional<QByteArray> input = std::nullopt,
                              double timeout = 10)
{
    return runSync(Shell::run(QStringLiteral("/bin/sh"), {QStringLiteral("-c"), script}, std::move(input), timeout));
}

TEST(Shell, StatusAndBothStreams)
{
    auto result = sh(QStringLiteral("echo hi; echo err >&2; exit 3"));
    ASSERT_TRUE(result.ok()) << result.error().message.toStdString();
    EXPECT_EQ(result.value().status, 3);
    EXPECT_EQ(result.value().standardOutput, QStringLiteral("hi\n"));
    EXPECT_EQ(result.value().standardError, QStringLiteral("err\n"));
    // A signal's end gives the signal number.
    result = sh(QStringLiteral("kill -TERM $$"));
    ASSERT_TRUE(result.ok());
    EXPECT_EQ(result.value().status, 15);
}

TEST(Shell, InputIsWrittenThenClosed)
{
    const struct { const char* script; std::optional<QByteArray> input; const char* output; } cases[] = {
        {"if read line; then echo got; else echo eof; fi", std::nullopt, "eof\n"},
        {"cat; echo end", QByteArray("a\nb"), "a\nbend\n"},
        // The child never reads: the run neither blocks on the full pipe nor dies of it.
        {"echo done", QByteArray(4 << 20, 'x'), "done\n"},
    };
    for (const auto& c : cases) {
        auto result = sh(QString::fromUtf8(c.script), c.input, 5);
        ASSERT_TRUE(result.ok()) << c.script;
        EXPECT_EQ(result.value().standardOutput.toStdString(), c.output) << c.script;
    }
}

TEST(Shell, TimeOutKillsTheWholeGroupAndReportsTheMessage)
{
    test::TempFolder dir;
    const QString marker = dir.file(QStringLiteral("late"));
    QElapsedTimer clock;
    clock.start();
    auto result = sh(QStringLiteral("echo partial; (sleep 1; touch '%1') & sleep 30").arg(marker), std::nullopt, 0.3);
    EXPECT_LT(clock.elapsed(), 1300);
    ASSERT_FALSE(result.ok());
    EXPECT_EQ(result.error().message, QStringLiteral("Le serveur ne répond pas (délai dépassé)."));
    runSync(Shell::run(QStringLiteral("/bin/sleep"), {QStringLiteral("1.5")}, std::nullopt, 5));
    EXPECT_FALSE(QFile::exists(marker)) << "a grandchild outlived the time-out";
}

TEST(Shell, LaunchFailureNamesThePathAndTheReason)
{
    auto result = runSync(Shell::run(QStringLiteral("/nonexistent/program"), {}, std::nullopt, 5));
    ASSERT_FALSE(result.ok());
    EXPECT_EQ(result.error().message.toStdString(), "Impossible de lancer /nonexistent/program : No such file or directory");
    // Found only by the system when it tries to run the file.
    test::TempFolder dir;
    const QString path = dir.file(QStringLiteral("not-a-program"));
    ASSERT_TRUE(test::writeAll(path, "\x7f\x01\x02"));
    QFile::setPermissions(path, QFileDevice::ReadOwner | QFileDevice::ExeOwner);
    result = runSync(Shell::run(path, {}, std::nullopt, 5));
    ASSERT_FALSE(result.ok());
    EXPECT_EQ(result.error().message, Shell::launchFailureMessage(path, QStringLiteral("Exec format error")));
}

TEST(Shell, InvalidUtf8BecomesReplacementCharacters)
{
    auto result = sh(QStringLiteral("printf 'a\\377\\376b'"));
    ASSERT_TRUE(result.ok());
    EXPECT_EQ(result.value().standardOutput, QStringLiteral("a\uFFFD\uFFFDb"));
    const std::pair<QByteArray, QString> cases[] = {
        {QByteArray("\xC3\xA9\xE2\x82"), QStringLiteral("\u00E9\uFFFD")},
        {QByteArray("\xC0\xAF"), QStringLiteral("\uFFFD\uFFFD")},
        {QByteArray("\xED\xA0\x80"), QStringLiteral("\uFFFD\uFFFD\uFFFD")},
        {QByteArray("\xF4\x90\x80\x80"), QStringLiteral("\uFFFD\uFFFD\uFFFD\uFFFD")},
        {QByteArray("a\0b", 3), QStringLiteral("a") + QChar(0) + QStringLiteral("b")},
    };
    for (const auto& [bytes, text] : cases)
        EXPECT_EQ(Shell::decode(bytes), text) << bytes.toHex().toStdString();
}

TEST(Shell, LoginShellRunsShellWithLoginAndCommand)
{
    test::TempFolder dir;
    const QString fake = dir.file(QStringLiteral("fake-shell"));
    const QString log = dir.file(QStringLiteral("arguments"));
    ASSERT_TRUE(test::writeAll(fake, "#!/bin/sh\nprintf '%s|' \"$1\" \"$2\" > " + shellQuote(log).toUtf8()
                                         + "\nshift\nexec /bin/sh \"$@\"\n"));
    QFile::setPermissions(fake, QFileDevice::ReadOwner | QFileDevice::ExeOwner);
    test::EnvironmentOverride shell("SHELL", fake);
    EXPECT_EQ(userShell(), fake);
    auto result = runSync(runLoginShell(QStringLiteral("echo 'a b'; cat; echo end"), 5));
    ASSERT_TRUE(result.ok()) << result.error().message.toStdString();
    // The login shell is asked for a login and a command; standard input is ended at once.
    EXPECT_EQ(test::readAll(log), "-l|-c|");
    EXPECT_EQ(result.value(), QStringLiteral("a b\nend\n"));
    shell.set("SHELL", QString());
    EXPECT_EQ(userShell(), QString());
    shell.set("SHELL", std::nullopt);
    const passwd* entry = getpwuid(getuid());
    ASSERT_NE(entry, nullptr);
    EXPECT_EQ(userShell(), QString::fromLocal8Bit(*entry->pw_shell ? entry->pw_shell : "/bin/sh"));
}

TEST(Shell, OutputPastTheLimitEndsTheRun)
{
    struct Case { const char* script; bool fails; };
    const Case cases[] = {
        {"yes", true},
        {"yes >&2", true},
        // Half on each stream: the limit counts both.
        {"head -c 17000000 /dev/zero; head -c 17000000 /dev/zero >&2", true},
        {"head -c 1000000 /dev/zero; echo", false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.script);
        auto result = sh(QString::fromUtf8(c.script), std::nullopt, 120);
        ASSERT_EQ(result.ok(), !c.fails);
        if (c.fails) {
            EXPECT_EQ(result.error().message, Shell::outputTooLargeMessage());
        } else {
            EXPECT_EQ(result.value().standardOutput.size(), 1'000'001);
        }
    }
    EXPECT_EQ(Shell::outputTooLargeMessage(), QStringLiteral("La commande a écrit plus de 32 Mo : elle a été arrêtée."));
}

// Scripts of any length reach the login shell whole, short ones as the argument, long ones
// through a file.
// A command of this computer that fails is an error in its own words, as a server's is: what
// it printed on standard error, else its status; what it printed before does not pass for
// its output.
TEST(Shell, LoginShellFailureKeepsTheShellsStatusAndReason)
{
    const struct {
        const char* script;
        std::optional<QString> output;
        QString message;
    } cases[] = {
        {"echo done", QStringLiteral("done\n"), QString()},
        {"echo said; echo warned >&2", QStringLiteral("said\n"), QString()},
        {"echo 'it'\\''s'; exit 3; echo never", std::nullopt, localFailureMessage(3)},
        {"echo half; echo 'sh: cannot create x: Permission denied' >&2; exit 1", std::nullopt,
         QStringLiteral("sh: cannot create x: Permission denied")},
        {"kill -9 $$", std::nullopt, localFailureMessage(9)},
    };
    test::EnvironmentOverride shell("SHELL", QStringLiteral("/bin/sh"));
    for (const auto& c : cases) {
        SCOPED_TRACE(c.script);
        const auto result = runSync(runLoginShell(QString::fromUtf8(c.script), 20));
        ASSERT_EQ(result.ok(), c.output.has_value());
        if (c.output)
            EXPECT_EQ(result.value(), *c.output);
        else
            EXPECT_EQ(result.error().message, c.message);
    }
}

// A login profile that ends before the script is said so whatever its status, with what the
// shell said on its standard error made one line and cut to its end; a script that started
// and failed gives its own reason. Both for scripts short and long (through a file).
TEST(Shell, AProfileThatEndsBeforeTheScriptIsSaidSoWhateverItsStatus)
{
    const QString many = QStringLiteral("echo 'une ligne de bavardage du profil' >&2\n").repeated(20);
    const struct {
        const char* name;
        QString profile;
        QString script;
        QString message;
    } cases[] = {
        {"exit 0", QStringLiteral("exit 0\n"), QStringLiteral("echo ours\n"), scriptNotRunMessage(true)},
        {"exit 3", QStringLiteral("exit 3\n"), QStringLiteral("echo ours\n"), scriptNotRunMessage(true)},
        {"a reason, then exit 1", QStringLiteral("echo 'profil :\tcassé' >&2\necho dit >&2\nexit 1\n"),
         QStringLiteral("echo ours\n"), scriptNotRunMessage(true, QStringLiteral("profil : cassé dit"))},
        {"many lines, then exit 2", many + QStringLiteral("echo 'la vraie raison' >&2\nexit 2\n"), QStringLiteral("echo ours\n"),
         QStringLiteral("Le profil de connexion de cet ordinateur n'a pas exécuté la commande : il se termine ou lance un "
                        "autre shell avant elle (« …")
             + QString(QStringLiteral("une ligne de bavardage du profil ").repeated(20) + QStringLiteral("la vraie raison"))
                   .right(maximumQuotedReasonLength - 1)
             + QStringLiteral(" »).")},
        {"the script fails", QString(), QStringLiteral("echo 'sh: refusé' >&2\nexit 4\n"), QStringLiteral("sh: refusé")},
        {"the script fails silently", QString(), QStringLiteral("exit 4\n"), localFailureMessage(4)},
    };
    test::TempFolder home;
    test::EnvironmentOverride environment("HOME", home.path());
    environment.set("SHELL", QStringLiteral("/bin/bash"));
    const QString padding = QStringLiteral("# a comment that makes the script longer than one argument\n").repeated(3000);
    for (const auto& c : cases) {
        ASSERT_TRUE(test::writeAll(home.file(QStringLiteral(".bash_profile")), c.profile.toUtf8()));
        for (const QString& script : {c.script, padding + c.script}) {
            SCOPED_TRACE(std::string(c.name) + ", " + std::to_string(script.size()) + " characters");
            const auto result = runSync(runLoginShell(script, 20));
            ASSERT_FALSE(result.ok());
            EXPECT_EQ(result.error().message, c.message);
            EXPECT_TRUE(isScriptNotRunMessage(result.error().message) == c.profile.contains(QStringLiteral("exit")));
        }
    }
}

TEST(Shell, LoginShellScriptsOfAnyLength)
{
    test::EnvironmentOverride shell("SHELL", QStringLiteral("/bin/sh"));
    QString longScript;
    for (int i = 0; i < 40'000; ++i)
        longScript += QStringLiteral("echo 'line %1 of a script far longer than one argument may be'\n").arg(i);
    struct Case { QString script; QString output; };
    const Case cases[] = {
        // A command that reads standard input finds it ended, and the rest still runs.
        {QStringLiteral("read x; echo \"got:$x\"; cat; echo end\n"), QStringLiteral("got:\nend\n")},
        {QStringLiteral("printf 'a\\n\\n\\n'"), QStringLiteral("a\n\n\n")},
        {QStringLiteral("printf '%s\\n' '#hv-fin-du-script' 'é'"), QStringLiteral("#hv-fin-du-script\né\n")},
        {QString(), QString()},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.script.toStdString());
        auto result = runSync(runLoginShell(c.script, 20));
        ASSERT_TRUE(result.ok()) << result.error().message.toStdString();
        EXPECT_EQ(result.value(), c.output);
    }
    auto result = runSync(runLoginShell(longScript, 60));
    ASSERT_TRUE(result.ok()) << result.error().message.toStdString();
    EXPECT_EQ(result.value().count(u'\n'), 40'000);
    EXPECT_TRUE(result.value().endsWith(QStringLiteral("line 39999 of a script far longer than one argument may be\n")));
}

// The probe of 5,000 projects is a script far longer than one argument may be: every
// project still gets its branch.
TEST(Shell, GitStateOfFiveThousandProjects)
{
    ASSERT_TRUE(QFile::exists(QStringLiteral("/usr/bin/git"))) << "needs the Debian package git";
    test::TempFolder dir;
    test::EnvironmentOverride shell("SHELL", QStringLiteral("/bin/sh"));
    const QString repository = dir.file(QStringLiteral("repository"));
    auto made = sh(QStringLiteral("git init -q -b trunk %1 && git -C %1 -c user.name=t -c user.email=t@t.invalid "
                                  "commit -q --allow-empty -m first")
                       .arg(shellQuote(repository)));
    ASSERT_TRUE(made.ok() && made.value().status == 0) << made.value().standardError.toStdString();
    // Each project folder is a checkout of the same repository through a ".git" file.
    QStringList paths;
    for (int i = 0; i < 5000; ++i) {
        const QString path = dir.file(QStringLiteral("project %1, one of five thousand folders kept side by side").arg(i));
        QDir().mkpath(path);
        ASSERT_TRUE(test::writeAll(path + QStringLiteral("/.git"), "gitdir: " + repository.toUtf8() + "/.git\n"));
        paths << path;
    }
    const QString script = gitProbeScript(paths);
    ASSERT_GT(script.size(), 1 << 20);
    auto result = runSync(runLoginShell(script, 300));
    ASSERT_TRUE(result.ok()) << result.error().message.toStdString();
    const QMap<QString, GitInfo> probe = parseGitProbe(result.value());
    EXPECT_EQ(probe.size(), 5000);
    EXPECT_EQ(probe.value(paths.back()).branch, QStringLiteral("trunk"));
}

// Sent on standard input (as over ssh), a script that a login profile read part of runs
// nothing and says so.
TEST(Shell, AScriptNotReceivedWholeIsReported)
{
    test::TempFolder dir;
    struct Case { const char* name; QByteArray shell; };
    const Case cases[] = {
        {"eats the first line", "#!/bin/sh\nread -r skipped\nexec /bin/sh \"$@\"\n"},
        {"eats everything", "#!/bin/sh\ncat >/dev/null\nexec /bin/sh \"$@\"\n"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const QString fake = dir.file(QString::fromLatin1(c.name).replace(u' ', u'-'));
        ASSERT_TRUE(test::writeAll(fake, c.shell));
        QFile::setPermissions(fake, QFileDevice::ReadOwner | QFileDevice::ExeOwner);
        auto result = runSync(Shell::run(fake, {QStringLiteral("-c"), scriptReaderCommand(newCompletionMarker())},
                                         scriptInput(QStringLiteral("touch '%1'\necho ran\n").arg(dir.file("ran"))), 10));
        ASSERT_TRUE(result.ok());
        EXPECT_EQ(result.value().status, scriptIncompleteStatus);
        EXPECT_EQ(result.value().standardError.trimmed(), QLatin1String(scriptIncompleteText));
        EXPECT_FALSE(QFile::exists(dir.file("ran")));
    }
    // Through a file that went away before the shell read it, the same.
    auto gone = runSync(Shell::run(QStringLiteral("/bin/sh"), {QStringLiteral("-c"), scriptFileCommand(dir.file("gone"), newCompletionMarker())},
                                   std::nullopt, 10));
    ASSERT_TRUE(gone.ok());
    EXPECT_EQ(gone.value().status, scriptIncompleteStatus);
    EXPECT_EQ(gone.value().standardError.trimmed(), QLatin1String(scriptIncompleteText));
}

// Of all a shell prints, only what the script printed between its markers is read: not a
// login file's text before it (with or without its line break) nor after it, a name holding
// line breaks whole. A script that did not run to its end gives nothing, never a guess.
TEST(OutputMarkers, OnlyWhatTheScriptPrintedIsRead)
{
    const QString marker = newCompletionMarker();
    struct Run { const char* name; const char* before; const char* script; const char* after; std::optional<const char*> read; };
    const Run runs[] = {
        {"nothing around", "", "echo ours", "", "ours\n"},
        {"a greeting", "echo 'Bienvenue sur le serveur'", "echo ours", "", "ours\n"},
        {"a title without a line break", "printf '\\033]0;Serveur\\007'", "echo ours", "", "ours\n"},
        {"a farewell at exit", "", "echo ours", "echo 'Au revoir'", "ours\n"},
        {"a last line without its break", "printf x", "printf ours", "printf y", "ours"},
        {"names holding line breaks", "echo hi", "printf '%s\\n' '/home/a\nb' ' c '", "", "/home/a\nb\n c \n"},
        {"nothing printed", "echo hi", "true", "", ""},
        {"an exit of its own ends only the script", "echo hi", "echo half; exit 0; echo never", "echo bye", "half\n"},
        {"the script fails", "echo hi", "echo half; exit 3", "echo bye", std::nullopt},
        {"a script starting with a subshell", "", "(echo inner)", "", "inner\n"},
    };
    for (const Run& run : runs) {
        SCOPED_TRACE(run.name);
        const QString script = QString::fromUtf8(run.before) + u'\n'
            + markedScript(QString::fromUtf8(run.script), marker) + QString::fromUtf8(run.after) + u'\n';
        const ShellResult<Shell::Output> output = sh(script);
        ASSERT_TRUE(output.ok());
        const std::optional<QString> read = takeOutputMarkers(output.value().standardOutput, marker);
        ASSERT_EQ(read.has_value(), run.read.has_value()) << output.value().standardOutput.toStdString();
        if (read) {
            EXPECT_EQ(read->toStdString(), *run.read);
        }
    }
    const QString line = marker + u'\n';
    const QString other = newCompletionMarker() + u'\n';
    for (const QString& output : {QString(), QStringLiteral("ours\n"), line + QStringLiteral("ours\n"),
                                  QStringLiteral("ours\n") + line, other + QStringLiteral("ours\n") + other,
                                  marker + QStringLiteral("-x\nours\n") + marker + QStringLiteral("-x\n")})
        EXPECT_EQ(takeOutputMarkers(output, marker), std::nullopt) << output.toStdString();
}

// Login profiles that read standard input, print, refuse unset variables or set up a
// terminal that is not there: every script still runs whole in every login shell, short
// ones and ones longer than one argument may be.
TEST(Shell, EveryLoginShellRunsScriptsWhateverItsProfile)
{
    struct Login { const char* path; const char* package; };
    const Login shells[] = {
        {"/bin/bash", "bash"}, {"/bin/dash", "dash"}, {"/usr/bin/zsh", "zsh"}, {"/usr/bin/mksh", "mksh"},
    };
    for (const Login& login : shells) {
        ASSERT_TRUE(QFileInfo(QString::fromLatin1(login.path)).isExecutable())
            << login.path << " is missing: install the Debian package " << login.package;
    }
    struct Profile { const char* name; const char* text; const char* printed; };
    const Profile profiles[] = {
        {"reads a line", "read x\n", ""},
        {"reads with a time-out", "if [ -n \"$BASH_VERSION\" ]; then read -t 1 x; else read x; fi\n", ""},
        {"reads everything", "cat >/dev/null\n", ""},
        // What it prints is not the script's.
        {"prints", "echo profile-out; echo profile-err >&2\n", ""},
        {"set -u", "set -u\n", ""},
        {"stty", "stty -echo\nstty sane\n", ""},
    };
    // Longer than one argument may be: it goes through a file.
    QString padding;
    while (padding.size() <= 140'000)
        padding += QStringLiteral("# a comment line that only makes the script longer than one argument\n");
    const QString scripts[] = {
        QStringLiteral("x=ran\necho \"$x\"\n"),
        QStringLiteral("x=ran\n") + padding + QStringLiteral("echo \"$x\"\n"),
    };
    test::TempFolder home;
    test::EnvironmentOverride environment("HOME", home.path());
    for (const Profile& profile : profiles) {
        for (const char* name : {".bash_profile", ".profile", ".zprofile"})
            ASSERT_TRUE(test::writeAll(home.file(QString::fromLatin1(name)), profile.text));
        for (const Login& login : shells) {
            environment.set("SHELL", QString::fromLatin1(login.path));
            for (const QString& script : scripts) {
                SCOPED_TRACE(std::string(login.path) + ", profile " + profile.name + ", script of "
                             + std::to_string(script.size()) + " characters");
                auto result = runSync(runLoginShell(script, 20));
                ASSERT_TRUE(result.ok()) << result.error().message.toStdString();
                EXPECT_EQ(result.value(), QString::fromLatin1(profile.printed) + QStringLiteral("ran\n"));
            }
        }
    }
}

// The script's file is private to the user and gone once the run has ended.
TEST(Shell, ALongScriptsFileIsPrivateAndRemoved)
{
    test::TempFolder temporary;
    test::EnvironmentOverride environment("TMPDIR", temporary.path());
    environment.set("SHELL", QStringLiteral("/bin/sh"));
    const QString script = QStringLiteral("stat -c %a \"$TMPDIR\"/*\n") + QString(200'000, u'#') + u'\n';
    auto result = runSync(runLoginShell(script, 20));
    ASSERT_TRUE(result.ok()) << result.error().message.toStdString();
    EXPECT_EQ(result.value(), QStringLiteral("600\n"));
    EXPECT_TRUE(QDir(temporary.path()).isEmpty());
    // No file, no run: here the temporary folder is a plain file.
    ASSERT_TRUE(test::writeAll(temporary.file(QStringLiteral("plain")), "x"));
    environment.set("TMPDIR", temporary.file(QStringLiteral("plain")));
    result = runSync(runLoginShell(script, 20));
    ASSERT_FALSE(result.ok());
    EXPECT_TRUE(result.error().message.startsWith(scriptFileFailureMessage(QString()))) << result.error().message.toStdString();
}

// The argument limits as this system applies them: one argument of 32 pages, the terminating
// zero included, and the whole list with the environment. A script the measure lets through
// starts; one it refuses would not have, and still runs through a file.
TEST(Shell, ArgumentLimitsAreTheSystems)
{
    const qsizetype perArgument = 32 * ::sysconf(_SC_PAGESIZE);
    const QString executable = QStringLiteral("/bin/true");
    const auto starts = [&](const QString& argument) {
        return runSync(Shell::run(executable, {argument}, std::nullopt, 10)).ok();
    };
    struct Case { const char* name; QString argument; bool fits; };
    const Case cases[] = {
        {"short", QStringLiteral("echo hi"), true},
        {"largest argument", QString(perArgument - 1, u'x'), true},
        {"one byte more", QString(perArgument, u'x'), false},
        // Two bytes a character: measured in bytes, not characters.
        {"accents", QString(perArgument / 2, u'é'), false},
        {"zero byte", QStringLiteral("echo a") + QChar(0) + QStringLiteral("b"), false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(fitsInArguments(executable, {c.argument}), c.fits);
        if (!c.argument.contains(QChar(0))) {
            EXPECT_EQ(starts(c.argument), c.fits);
        }
    }

    // An environment that leaves less room than one argument may take (about 60 kB).
    const qsizetype area = std::min<qsizetype>(::sysconf(_SC_ARG_MAX), qsizetype{6} << 20);
    test::EnvironmentOverride environment("SHELL", QStringLiteral("/bin/sh"));
    const QString value(100'000, u'v');
    for (qsizetype i = 0; i < (area - 60'000) / 100'020; ++i)
        environment.set(("HV_FILL_" + std::to_string(i)).c_str(), value);
    const QString argument(120'000, u'x');
    EXPECT_FALSE(fitsInArguments(executable, {argument}));
    EXPECT_FALSE(starts(argument));
    EXPECT_TRUE(fitsInArguments(executable, {QStringLiteral("echo hi")}));
    auto result = runSync(runLoginShell(QStringLiteral("echo ran\n#") + argument + u'\n', 20));
    ASSERT_TRUE(result.ok()) << result.error().message.toStdString();
    EXPECT_EQ(result.value(), QStringLiteral("ran\n"));
}

TEST(Shell, ResumesOnTheMainThread)
{
    QThread* resumedOn = nullptr;
    auto probe = [&]() -> Task<bool> {
        auto result = co_await Shell::run(QStringLiteral("/bin/true"), {}, std::nullopt, 5);
        resumedOn = QThread::currentThread();
        co_return result.ok();
    };
    EXPECT_TRUE(runSync(probe()));
    EXPECT_EQ(resumedOn, QCoreApplication::instance()->thread());
}

// A caller that reads a host's answer, then asks for its next command; and one that waits
// between two tries of a command. Each notes in `ended` how its steps ended.
// Awaited calls and their arguments are named locals (g++ 12 mishandles some temporaries
// that live across a suspension).
Task<> readThenAskAgain(QString script, QStringList* ended)
{
    Task<ShellResult<QString>> reading = runLoginShell(std::move(script), 600);
    const ShellResult<QString> read = co_await std::move(reading);
    *ended << (read ? QString::fromLatin1("read") : read.error().message);
    const QString sleep = QString::fromLatin1("/bin/sleep");
    const QStringList arguments{QString::fromLatin1("600")};
    Task<ShellResult<Shell::Output>> asking = Shell::run(sleep, arguments, std::nullopt, 600);
    const ShellResult<Shell::Output> next = co_await std::move(asking);
    *ended << (next ? QString::fromLatin1("ran") : next.error().message);
}

Task<> pauseBetweenTries(QStringList* ended)
{
    const Shell::RunInFlight inFlight;
    Task<> pausing = Shell::pauseBetweenRuns(std::chrono::minutes(10));
    co_await std::move(pausing);
    *ended << QString::fromLatin1("paused");
}

bool running(qint64 pid)
{
    QFile status(QStringLiteral("/proc/%1/status").arg(pid));
    return status.open(QIODevice::ReadOnly) && !status.readAll().contains("\nState:\tZ");
}

// Quitting while a login shell sleeps through a long script (run from its file), and while a
// caller waits between two tries: the shell's group is ended and its file removed, the pause
// is cut short, and every caller resumes and finishes before the quit returns; the command a
// caller asks for as it resumes never starts.
TEST(Shell, QuittingEndsTheRunsAndLetsTheirCallersFinish)
{
    test::TempFolder folder;
    const QString login = folder.file(QStringLiteral("login"));
    const QString started = folder.file(QStringLiteral("started"));
    const QString temporary = folder.file(QStringLiteral("tmp"));
    ASSERT_TRUE(QDir().mkpath(temporary));
    ASSERT_TRUE(test::writeAll(login, "#!/bin/sh\necho $$ > '" + started.toUtf8() + ".part' && mv '" + started.toUtf8()
                                          + ".part' '" + started.toUtf8() + "'\nexec sleep 600\n"));
    ASSERT_TRUE(QFile::setPermissions(login, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner));
    test::EnvironmentOverride environment("SHELL", login);
    environment.set("TMPDIR", temporary);

    QStringList read;
    QStringList paused;
    readThenAskAgain(QStringLiteral("echo never\n#") + QString(300'000, u'#') + u'\n', &read);
    pauseBetweenTries(&paused);
    const QDeadlineTimer deadline(20000);
    while (!QFile::exists(started) && !deadline.hasExpired()) {
        QCoreApplication::processEvents();
        QThread::msleep(5);
    }
    ASSERT_TRUE(QFile::exists(started)) << "the login shell never started";
    EXPECT_EQ(QDir(temporary).entryList(QDir::Files).size(), 1) << "the long script went through a file";
    const qint64 shell = test::readAll(started).trimmed().toLongLong();
    ASSERT_GT(shell, 0);

    Shell::endAllAtQuit();
    EXPECT_EQ(read.join(u'|').toStdString(), QStringList(2, Shell::endedAtQuitMessage()).join(u'|').toStdString());
    EXPECT_EQ(paused.join(u'|').toStdString(), "paused");
    EXPECT_EQ(Shell::runsInFlight(), 0);
    EXPECT_FALSE(running(shell)) << "the login shell outlived the quit";
    EXPECT_TRUE(QDir(temporary).isEmpty());

    // Once quit, runs start again (a test goes on in the same process).
    EXPECT_TRUE(runSync(Shell::run(QStringLiteral("/bin/true"), {}, std::nullopt, 10)).ok());
}

TEST(ShellQuote, SurvivesARealShell)
{
    EXPECT_EQ(shellQuote(QString()), QStringLiteral("''"));
    const QString nasty = QStringLiteral("it's \"$(echo no)\" `x` \\ \t*");
    auto result = sh(QStringLiteral("printf %s ") + shellQuote(nasty));
    ASSERT_TRUE(result.ok());
    EXPECT_EQ(result.value().standardOutput, nasty);
}

} // namespace
} // namespace halvoren
