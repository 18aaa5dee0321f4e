#include "remote/Shell.h"
#include "remote/ShellQuote.h"
#include "RunSync.h"
#include "../support/TempFolder.h"

#include <QElapsedTimer>
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
    ASSERT_TRUE(test::writeAll(fake, "#!/bin/sh\nprintf '%s|' \"$@\"\necho oops >&2\nexit 4\n"));
    QFile::setPermissions(fake, QFileDevice::ReadOwner | QFileDevice::ExeOwner);
    test::EnvironmentOverride shell("SHELL", fake);
    EXPECT_EQ(userShell(), fake);
    auto result = runSync(runLoginShell(QStringLiteral("echo 'a b'"), 5));
    ASSERT_TRUE(result.ok());
    EXPECT_EQ(result.value(), QStringLiteral("-l|-c|echo 'a b'|"));
    shell.set("SHELL", QString());
    EXPECT_EQ(userShell(), QString());
    shell.set("SHELL", std::nullopt);
    const passwd* entry = getpwuid(getuid());
    ASSERT_NE(entry, nullptr);
    EXPECT_EQ(userShell(), QString::fromLocal8Bit(*entry->pw_shell ? entry->pw_shell : "/bin/sh"));
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
