// A server's folder listing over the loopback sshd (see SshHost.h), under each login shell the
// account may have, with a relative entry of PATH set where that shell reads it for a command
// sent over ssh. The listed folders hold programs under the names a listing could look up, in
// each place such an entry names: none of them runs, and the names come back whole.
#include "workspace/MacConnection.h"

#include "app/remote/RunSync.h"
#include "app/support/HostileNames.h"
#include "app/support/SshHost.h"
#include "remote/ShellQuote.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <string>

namespace halvoren {
namespace {

using test::runSync;

// How each shell gets the entry. The account's own shell is bash, which reads ~/.bashrc for
// a command over ssh (a stock file returns early there for non-interactive shells: the entry
// comes first). Another login shell is played by bash handing the command over at once: zsh
// reads ~/.zshenv, dash and mksh read no file and take PATH from their environment.
struct LoginShell {
    const char* program;
    // The text of ~/.bashrc and ~/.zshenv; "ENTRY" stands for the PATH entry.
    const char* bashrc;
    const char* zshenv;
};

const LoginShell loginShells[] = {
    {"bash", "PATH=ENTRY:\"$PATH\"; export PATH\ncase $- in *i*) ;; *) return ;; esac\n", ""},
    {"zsh", "[ -z \"${BASH_EXECUTION_STRING-}\" ] || exec SHELL -c \"$BASH_EXECUTION_STRING\"\n",
     "PATH=ENTRY:\"$PATH\"; export PATH\n"},
    {"dash", "PATH=ENTRY:\"$PATH\"; export PATH\n[ -z \"${BASH_EXECUTION_STRING-}\" ] || exec SHELL -c \"$BASH_EXECUTION_STRING\"\n", ""},
    {"mksh", "PATH=ENTRY:\"$PATH\"; export PATH\n[ -z \"${BASH_EXECUTION_STRING-}\" ] || exec SHELL -c \"$BASH_EXECUTION_STRING\"\n", ""},
};

// The relative entries a user's PATH may hold, each naming a folder of the one a program is
// looked up from: ".", an empty entry, "bin" and a package manager's "node_modules/.bin".
const char* const pathEntries[] = {".", "", "bin", "node_modules/.bin"};

// Names a listing might run; `[` and `test` are built into every shell, and are planted all
// the same.
const char* const plantedPrograms[] = {"ls", "printf", "print", "echo", "[", "test", "cat", "find", "sort", "head", "sed"};

class ServerFolderListing : public testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(host.ready());
        for (const LoginShell& login : loginShells) {
            const QString program = QStringLiteral("/usr/bin/") + QLatin1String(login.program);
            if (!QFileInfo(program).isExecutable())
                GTEST_FAIL() << login.program << " is missing: install the Debian package " << login.program;
        }
        connection = std::make_unique<MacConnection>(std::make_shared<SSHLink>(host.profile));
        ASSERT_TRUE(runSync(connection->link->fetchRemoteHome()));
    }
    void TearDown() override
    {
        if (connection)
            runSync(connection->link->closeMaster());
        setScriptShellForTests(scriptShellBefore);
    }
    // Programs under every planted name in `folder`, its "bin" and its "node_modules/.bin",
    // each noting where it ran in `marks` and printing a line a listing would take for a name.
    testing::AssertionResult plant(const QString& folder) const
    {
        for (const char* place : {"", "/bin", "/node_modules/.bin"}) {
            const QString at = folder + QLatin1String(place);
            if (!QDir().mkpath(at))
                return testing::AssertionFailure() << "cannot make " << at.toStdString();
            for (const char* name : plantedPrograms) {
                const QString path = at + u'/' + QLatin1String(name);
                const QByteArray text = "#!/bin/sh\necho " + shellQuote(path).toUtf8() + " >> " + shellQuote(marks).toUtf8() +
                                        "\necho planted/\n";
                if (!test::writeAll(path, text) ||
                    !QFile::setPermissions(path, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner | QFile::ReadGroup |
                                                     QFile::ExeGroup | QFile::ReadOther | QFile::ExeOther))
                    return testing::AssertionFailure() << "cannot write " << path.toStdString();
            }
        }
        return testing::AssertionSuccess();
    }
    // Makes the `index`th login shell the account's, with `entry` first on its PATH, and the
    // shell our commands run under, as on a server whose /bin/sh it is.
    testing::AssertionResult useLoginShell(qsizetype index, const QString& entry) const
    {
        const LoginShell& login = loginShells[index];
        setScriptShellForTests(QStringLiteral("/usr/bin/") + QLatin1String(login.program));
        const auto text = [&](const char* pattern) {
            return QString::fromLatin1(pattern)
                .replace(QStringLiteral("ENTRY"), shellQuote(entry))
                .replace(QStringLiteral("SHELL"), QStringLiteral("/usr/bin/") + QLatin1String(login.program))
                .toUtf8();
        };
        if (!test::writeAll(host.remoteHome() + QStringLiteral("/.bashrc"), text(login.bashrc)) ||
            !test::writeAll(host.remoteHome() + QStringLiteral("/.zshenv"), text(login.zshenv)))
            return testing::AssertionFailure() << "cannot write the login files";
        // The shell and the entry are the ones asked for.
        const ShellResult<QString> seen = runSync(connection->link->runCommand(
            QStringLiteral("echo \"$(readlink /proc/$$/exe)|$PATH\""), std::nullopt, 25));
        if (!seen)
            return testing::AssertionFailure() << seen.error().message.toStdString();
        const QString program = QFileInfo(QStringLiteral("/usr/bin/") + QLatin1String(login.program)).canonicalFilePath();
        const QString expected = program + u'|' + entry + u':';
        if (!seen.value().startsWith(expected))
            return testing::AssertionFailure() << "the account runs " << seen.value().toStdString();
        return testing::AssertionSuccess();
    }

    test::SshHost host;
    std::unique_ptr<MacConnection> connection;
    const QString scriptShellBefore = scriptShell();
    const QString marks = host.remoteHome() + QStringLiteral("/marks");
};

// The names in one line to compare and show: sorted, each between brackets.
std::string listed(QStringList names)
{
    std::sort(names.begin(), names.end());
    std::string line;
    for (const QString& name : names)
        line += "[" + name.toStdString() + "]";
    return line;
}

// The projects root holds a project named "bin" and one named "node_modules" beside a cloned
// project, which holds such folders too and sub-folders of every hostile name. Missing, the
// root lists nothing; closed to the account, it fails.
TEST_F(ServerFolderListing, RunsNothingOfTheListedFolder)
{
    const QString root = host.remoteHome() + QStringLiteral("/projets");
    const QString clone = root + QStringLiteral("/clone");
    ASSERT_TRUE(plant(root));
    ASSERT_TRUE(plant(clone));
    QStringList subFolders = test::hostileFolderNames();
    subFolders << QStringLiteral("src");
    for (const QString& name : subFolders)
        ASSERT_TRUE(QDir().mkpath(clone + u'/' + name));
    subFolders << QStringLiteral("bin") << QStringLiteral("node_modules");
    const QString closed = host.remoteHome() + QStringLiteral("/closed");
    ASSERT_TRUE(QDir().mkpath(closed + QStringLiteral("/inside")));
    ASSERT_TRUE(QFile::setPermissions(closed, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner));

    for (qsizetype i = 0; i < qsizetype(std::size(loginShells)); ++i) {
        for (const char* entry : pathEntries) {
            SCOPED_TRACE(std::string(loginShells[i].program) + " PATH entry \"" + entry + "\"");
            ASSERT_TRUE(useLoginShell(i, QString::fromLatin1(entry)));
            const std::optional<QStringList> projects = runSync(connection->tryListFolders(root));
            ASSERT_TRUE(projects);
            EXPECT_EQ(listed(*projects), listed({QStringLiteral("bin"), QStringLiteral("clone"), QStringLiteral("node_modules")}));
            const std::optional<QStringList> inside = runSync(connection->tryListFolders(clone));
            ASSERT_TRUE(inside);
            EXPECT_EQ(listed(*inside), listed(subFolders));
            EXPECT_EQ(runSync(connection->tryListFolders(root + QStringLiteral("/none"))), std::optional<QStringList>(QStringList{}));
            EXPECT_EQ(runSync(connection->tryListFolders(closed)), std::nullopt);
            EXPECT_FALSE(QFileInfo::exists(marks)) << test::readAll(marks).toStdString();
            QFile::remove(marks);
        }
    }
    const QStringList pwned = QDir(clone).entryList({QStringLiteral("pwned-*")}) + QDir(root).entryList({QStringLiteral("pwned-*")});
    EXPECT_TRUE(pwned.isEmpty()) << pwned.join(u' ').toStdString();
}

// A bash whose printf is disabled, as a shell without one: the printf program found at an
// absolute path prints the names, whole; one found through a relative entry never runs, and
// the listing fails rather than list through it. That bash runs our commands (a server's
// /bin/sh); started under that name by sshd's session, it reads ~/.bashrc too.
TEST_F(ServerFolderListing, ListsWithAPrintfProgramFoundAtAnAbsolutePath)
{
    setScriptShellForTests(QStringLiteral("/usr/bin/bash"));
    const QString root = host.remoteHome() + QStringLiteral("/projets");
    const QStringList names = test::hostileFolderNames();
    for (const QString& name : names)
        ASSERT_TRUE(QDir().mkpath(root + u'/' + name));
    // The listing's shell starts in the home (as sshd starts it there): "bin" names the
    // home's own.
    ASSERT_TRUE(plant(host.remoteHome()));
    const struct {
        const char* bashrc;
        std::optional<QStringList> listed;
    } cases[] = {
        {"enable -n printf\n", names},
        {"enable -n printf\ncd \"$HOME\"\nPATH=bin:\"$PATH\"\n", std::nullopt},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.bashrc);
        ASSERT_TRUE(test::writeAll(host.remoteHome() + QStringLiteral("/.bashrc"), c.bashrc));
        const std::optional<QStringList> projects = runSync(connection->tryListFolders(root));
        ASSERT_EQ(projects.has_value(), c.listed.has_value());
        if (projects) {
            EXPECT_EQ(listed(*projects), listed(*c.listed));
        }
        EXPECT_FALSE(QFileInfo::exists(marks)) << test::readAll(marks).toStdString();
        QFile::remove(marks);
    }
}

} // namespace
} // namespace halvoren
