// The SSH link against a real sshd on 127.0.0.1 (see SshServer.h), one server for the suite.
// The password typed at ssh's prompt is checked through the project tab.
#include "remote/FolderSessions.h"
#include "remote/ServerState.h"
#include "remote/SSHLink.h"
#include "remote/Shell.h"
#include "remote/ShellQuote.h"

#include "RunSync.h"
#include "SshServer.h"
#include "../support/HostileRepositories.h"
#include "../support/OlderGits.h"
#include "../support/Poll.h"
#include "../support/StandIns.h"
#include "../support/TempFolder.h"
#include "../support/UploadContents.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QProcess>
#include <QRandomGenerator>
#include <QTimer>

#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <vector>

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

namespace halvoren {
namespace {

using test::runSync;

class SSHLinkServer : public testing::Test {
protected:
    static void SetUpTestSuite() { server = new test::SshServer({.passwordLogin = true}); }
    static void TearDownTestSuite() { delete server; }
    void SetUp() override { ASSERT_TRUE(server->running()) << server->failure().toStdString(); }
    void TearDown() override { SSHLink::setProgramForTests(QStringLiteral("/usr/bin/ssh")); }
    static test::SshServer* server;
    test::TempFolder home;
    test::EnvironmentOverride environment{"HOME", home.path()};
};

test::SshServer* SSHLinkServer::server = nullptr;

TEST_F(SSHLinkServer, HomeTmuxScriptsUploadsAndKeysThroughOneMasterConnection)
{
    SSHLink::setProgramForTests(server->keyClient());
    SSHLink link(server->profile());
    // Connected as the application connects: the remote home first, which opens the master.
    ASSERT_TRUE(runSync(link.fetchRemoteHome())) << server->log().toStdString();
    EXPECT_EQ(link.remoteHome(), server->remoteHome());
    EXPECT_TRUE(QFileInfo(link.controlPath()).exists());
    EXPECT_EQ(runSync(link.hasTmux()), QFileInfo::exists(QStringLiteral("/usr/bin/tmux")));
    const ShellResult<QString> script =
        runSync(link.runScript(QStringLiteral("cd \"$HOME\"\nprintf 'é %s\\n' \"$(basename \"$PWD\")\"\necho it\\'s\ntrue\n"), 25));
    ASSERT_TRUE(script) << script.error().message.toStdString();
    EXPECT_EQ(script.value(), QStringLiteral("é home\nit's\n"));
    const ShellResult<QString> failed = runSync(link.runCommand(QStringLiteral("exit 1"), std::nullopt, 25));
    ASSERT_FALSE(failed);
    EXPECT_EQ(failed.error().message, QStringLiteral("La commande SSH a échoué (code 1)."));
    const ShellResult<QString> stderrText =
        runSync(link.runCommand(QStringLiteral("echo '  broken  ' >&2; exit 3"), std::nullopt, 25));
    ASSERT_FALSE(stderrText);
    EXPECT_EQ(stderrText.error().message, QStringLiteral("broken"));
    QElapsedTimer clock;
    clock.start();
    const ShellResult<QString> slow = runSync(link.runCommand(QStringLiteral("sleep 30"), std::nullopt, 1));
    ASSERT_FALSE(slow);
    EXPECT_EQ(slow.error().message, Shell::timeoutMessage());
    EXPECT_LT(clock.elapsed(), 10000);
    // Uploads are byte-exact, replace the file whole and leave no temporary file.
    QByteArray data(1 << 20, '\0');
    for (qsizetype i = 0; i < data.size(); ++i)
        data[i] = static_cast<char>(i < 256 ? i : QRandomGenerator::global()->bounded(256));
    const QString target = server->remoteHome() + QStringLiteral("/Upload/it's a file.bin");
    const ShellResult<bool> first = runSync(link.uploadFile(data, target));
    ASSERT_TRUE(first) << first.error().message.toStdString();
    EXPECT_EQ(test::readAll(target), data);
    const QByteArray smaller("\r\n\x00\xff", 4);
    ASSERT_TRUE(runSync(link.uploadFile(smaller, target)));
    EXPECT_EQ(test::readAll(target), smaller);
    EXPECT_EQ(QDir(server->remoteHome() + QStringLiteral("/Upload")).entryList(QDir::Files | QDir::Hidden),
              QStringList{"it's a file.bin"});
    EXPECT_FALSE(runSync(link.uploadFile(data, QStringLiteral("/proc/hv/x.bin"))));
    // Installing the keys twice leaves one line per key, private to the account.
    QDir().mkpath(home.file(".ssh"));
    const QString key = server->clientPublicKey();
    const QString second = QStringLiteral("ssh-ed25519 AAAAC3NzaC1lZDI1NTE5AAAAIHalvorenSecondTestKeyOnlyForThisRun other's key");
    test::writeAll(home.file(".ssh/id_ed25519.pub"), key.toUtf8() + '\n');
    test::writeAll(home.file(".ssh/laptop.pub"), second.toUtf8());
    for (int round = 0; round < 2; ++round) {
        const ShellResult<int> installed = runSync(link.installKey());
        ASSERT_TRUE(installed) << installed.error().message.toStdString();
        EXPECT_EQ(installed.value(), 2);
    }
    const QString authorized = server->remoteHome() + QStringLiteral("/.ssh/authorized_keys");
    EXPECT_EQ(test::readAll(authorized), (key + u'\n' + second + u'\n').toUtf8());
    EXPECT_EQ(QFileInfo(authorized).permissions() & (QFile::ReadGroup | QFile::ReadOther | QFile::WriteOther), 0);
    QFile::remove(authorized);
    // The master unlinks its socket as it exits, just after it acknowledged the request.
    QCoro::waitFor(link.closeMaster());
    EXPECT_TRUE(test::pollUntil([&] { return !QFileInfo::exists(link.controlPath()); }, std::chrono::seconds(3)));
}

// Keys go in as whole lines, byte for byte: after a last line without its line break, and
// with a comment that echo would read (backslashes) or a shell would split (quotes). A second
// run adds nothing, and a key found in several files goes in once. A file that cannot take
// them is an error, not "0 keys installed".
TEST_F(SSHLinkServer, InstalledKeysAreWholeLinesByteForByte)
{
    SSHLink::setProgramForTests(server->keyClient());
    SSHLink link(server->profile(QStringLiteral("p1700000000000003")));
    ASSERT_TRUE(runSync(link.fetchRemoteHome())) << server->log().toStdString();
    QDir().mkpath(home.file(".ssh"));
    const QByteArray first = server->clientPublicKey().toUtf8();
    const QByteArray second =
        R"(ssh-ed25519 AAAAC3NzaC1lZDI1NTE5AAAAIHalvorenKeyWithEscapes one\ntwo \c three "dq" it's \\ %s $HOME `x`)";
    ASSERT_TRUE(test::writeAll(home.file(".ssh/a.pub"), first + '\n'));
    ASSERT_TRUE(test::writeAll(home.file(".ssh/b.pub"), second + '\n'));
    // The same key again, copied whole and with another comment: installed and counted once.
    ASSERT_TRUE(test::writeAll(home.file(".ssh/c.pub"), first + '\n'));
    ASSERT_TRUE(test::writeAll(home.file(".ssh/d.pub"), first.split(' ').mid(0, 2).join(' ') + " copy@elsewhere\n"));
    const QString authorized = server->remoteHome() + QStringLiteral("/.ssh/authorized_keys");
    // The account's own files, made by the account.
    const auto remote = [&](const QString& command) {
        const ShellResult<QString> done = runSync(link.runCommand(command, std::nullopt, 25));
        return done ? testing::AssertionSuccess() : testing::AssertionFailure() << done.error().message.toStdString();
    };
    const QByteArray existing = "ssh-rsa AAAAB3NzaC1yc2EAAAADAQABAAABAQExisting old@box";
    const struct { const char* name; QByteArray before; } cases[] = {
        {"no final line break", existing},
        {"final line break", existing + '\n'},
        {"empty file", QByteArray()},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        ASSERT_TRUE(remote(QStringLiteral("rm -rf ~/.ssh && mkdir ~/.ssh && printf %s ") + shellQuote(QString::fromUtf8(c.before))
                           + QStringLiteral(" > ~/.ssh/authorized_keys")));
        ASSERT_EQ(test::readAll(authorized), c.before);
        const QByteArray expected = (c.before.isEmpty() ? QByteArray() : existing + '\n') + first + '\n' + second + '\n';
        for (int round = 0; round < 2; ++round) {
            const ShellResult<int> installed = runSync(link.installKey());
            ASSERT_TRUE(installed) << installed.error().message.toStdString();
            EXPECT_EQ(installed.value(), 2);
            EXPECT_EQ(test::readAll(authorized).toStdString(), expected.toStdString()) << "round " << round;
        }
    }
    // A folder where the file should be takes no key.
    ASSERT_TRUE(remote(QStringLiteral("rm -rf ~/.ssh && mkdir -p ~/.ssh/authorized_keys")));
    const ShellResult<int> refused = runSync(link.installKey());
    ASSERT_FALSE(refused);
    EXPECT_EQ(refused.error().message, installKeyFailedMessage());
    EXPECT_TRUE(remote(QStringLiteral("rm -rf ~/.ssh")));
    QCoro::waitFor(link.closeMaster());
}

// Scripts travel on ssh's standard input: any length, read whole before they run, and the
// git state of 5,000 projects comes back for every one of them.
TEST_F(SSHLinkServer, ScriptsOfAnyLengthOverSsh)
{
    SSHLink::setProgramForTests(server->keyClient());
    SSHLink link(server->profile());
    ASSERT_TRUE(runSync(link.fetchRemoteHome())) << server->log().toStdString();
    const ShellResult<QString> reading = runSync(link.runScript(QStringLiteral("read x; echo \"got:$x\"; echo end\n"), 25));
    ASSERT_TRUE(reading) << reading.error().message.toStdString();
    EXPECT_EQ(reading.value(), QStringLiteral("got:\nend\n"));

    const QString root = server->remoteHome() + QStringLiteral("/projects");
    const QString setup = QStringLiteral(
        "set -e\nmkdir -p %1 && cd %1\n"
        "git init -q -b trunk repository\n"
        "git -C repository -c user.name=t -c user.email=t@t.invalid commit -q --allow-empty -m first\n"
        "i=0; while [ $i -lt 5000 ]; do mkdir \"project $i\"; "
        "printf 'gitdir: %s/repository/.git\\n' \"$PWD\" > \"project $i/.git\"; i=$((i+1)); done\necho made\n")
                              .arg(shellQuote(root));
    const ShellResult<QString> made = runSync(link.runScript(setup, 120));
    ASSERT_TRUE(made) << made.error().message.toStdString();
    ASSERT_EQ(made.value(), QStringLiteral("made\n"));
    QStringList paths;
    for (int i = 0; i < 5000; ++i)
        paths << root + QStringLiteral("/project ") + QString::number(i);
    const ShellResult<QString> probe = runSync(link.runScript(gitProbeScript(paths), 300));
    ASSERT_TRUE(probe) << probe.error().message.toStdString();
    const QMap<QString, GitInfo> state = parseGitProbe(probe.value());
    EXPECT_EQ(state.size(), 5000);
    EXPECT_EQ(state.value(paths.front()).branch, QStringLiteral("trunk"));
}

// Over ssh the script travels on standard input: a login profile that prints, refuses unset
// variables or sets up a terminal that is not there leaves it whole; one that reads its input
// takes part of it, so nothing runs and the run says so. The tmux probe sends no script and
// is not fooled either way.
TEST_F(SSHLinkServer, LoginProfilesOverSsh)
{
    SSHLink::setProgramForTests(server->keyClient());
    SSHLink link(server->profile());
    ASSERT_TRUE(runSync(link.fetchRemoteHome())) << server->log().toStdString();
    const QString profilePath = server->remoteHome() + QStringLiteral("/.bash_profile");
    const QString ran = server->remoteHome() + QStringLiteral("/ran");
    struct Case { const char* name; const char* profile; const char* printed; bool whole; };
    const Case cases[] = {
        // What it prints is not the script's.
        {"prints", "echo profile-out; echo profile-err >&2\n", "", true},
        {"set -u", "set -u\n", "", true},
        {"stty", "stty -echo\nstty sane\n", "", true},
        {"reads a line", "read -t 1 x\n", "", false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        ASSERT_TRUE(test::writeAll(profilePath, c.profile));
        QFile::remove(ran);
        const ShellResult<QString> output = runSync(link.runScript(QStringLiteral("x=ran\ntouch \"$HOME/$x\"\necho \"$x\"\n"), 25));
        if (c.whole) {
            ASSERT_TRUE(output) << output.error().message.toStdString();
            EXPECT_EQ(output.value(), QString::fromLatin1(c.printed) + QStringLiteral("ran\n"));
        } else {
            ASSERT_FALSE(output);
            EXPECT_EQ(output.error().message, scriptIncompleteMessage());
        }
        EXPECT_EQ(QFile::exists(ran), c.whole);
        EXPECT_EQ(runSync(link.hasTmux()), QFileInfo::exists(QStringLiteral("/usr/bin/tmux")));
    }
    QFile::remove(profilePath);
}

// What the account's login files print (a greeting, a title set without a line break: in
// ~/.bashrc for every command, in ~/.bash_profile for the login shell too) is never read as
// the answer: the home is the real one, whole even with a line break in it, and tmux is found
// only where the login shell finds it. Files that never let the command run give no home and
// no upload, said as such.
TEST_F(SSHLinkServer, WhatTheLoginFilesPrintIsNotTheAnswer)
{
    SSHLink::setProgramForTests(server->keyClient());
    const QString bashrc = server->remoteHome() + QStringLiteral("/.bashrc");
    const QString profile = server->remoteHome() + QStringLiteral("/.bash_profile");
    const QString target = server->remoteHome() + QStringLiteral("/sent.txt");
    const bool tmux = QFileInfo::exists(QStringLiteral("/usr/bin/tmux"));
    const QByteArray greeting = "echo 'Bienvenue sur le serveur'\nprintf '\\033]0;Serveur\\007'\n";
    struct Case {
        const char* name;
        QByteArray bashrc;
        QByteArray profile;
        std::optional<QString> home;
        bool tmux;
        bool uploaded;
    };
    const Case cases[] = {
        {"greet", greeting, greeting, server->remoteHome(), tmux, true},
        {"greet, tmux off the login path", greeting, greeting + "PATH=/nowhere\n", server->remoteHome(), false, true},
        {"greet from a home with a line break", greeting + "HOME=\"$HOME/deux\nlignes\"\n", greeting,
         server->remoteHome() + QStringLiteral("/deux\nlignes"), tmux, true},
        {"run no command", greeting + "exit 0\n", greeting, std::nullopt, false, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        ASSERT_TRUE(test::writeAll(bashrc, c.bashrc) && test::writeAll(profile, c.profile));
        QFile::remove(target);
        SSHLink link(server->profile());
        EXPECT_EQ(runSync(link.fetchRemoteHome()), c.home.has_value());
        EXPECT_EQ(link.remoteHome().toStdString(), c.home.value_or(QString()).toStdString());
        EXPECT_EQ(runSync(link.hasTmux()), c.tmux);
        const ShellResult<bool> sent = runSync(link.uploadFile("ours", target));
        EXPECT_EQ(sent.ok(), c.uploaded);
        if (!sent) {
            EXPECT_EQ(sent.error().message, scriptNotRunMessage(false));
        }
        EXPECT_EQ(QFileInfo::exists(target), c.uploaded);
    }
    QFile::remove(bashrc);
    QFile::remove(profile);
    QFile::remove(target);
}

// A login file that starts another shell in place of the one sshd gave our command (a
// ~/.bashrc that execs zsh, as one changes shells without chsh, or another shell; a zsh
// account whose ~/.zshenv starts bash): that shell reads the upload's input as commands and
// stops at its first line, so a dropped file's bytes never run, nothing is written, and the
// user reads that the profile ran no command. A login file that reads a line takes that one,
// and nothing is written either.
TEST_F(SSHLinkServer, ADroppedFileIsNeverRunByAShellALoginFileStarts)
{
    for (const char* shell : {"zsh", "mksh", "yash"}) {
        ASSERT_TRUE(QFileInfo(QStringLiteral("/usr/bin/") + QLatin1String(shell)).isExecutable())
            << "/usr/bin/" << shell << " is missing: install the Debian package " << shell;
    }
    SSHLink::setProgramForTests(server->keyClient());
    const QString remote = server->remoteHome();
    const QString pwned = remote + QStringLiteral("/PWNED");
    const QString folder = remote + QStringLiteral("/dropped");
    // The account's shell is bash: as a zsh account, it hands every command to zsh.
    const QByteArray toZsh = "[ -z \"${BASH_EXECUTION_STRING-}\" ] || exec /usr/bin/zsh -c \"$BASH_EXECUTION_STRING\"\n";
    const struct {
        const char* name;
        QByteArray bashrc;
        QByteArray zshenv;
        QString message;
    } accounts[] = {
        {"~/.bashrc execs zsh", "[ -x /usr/bin/zsh ] && exec zsh\n", "", scriptNotRunMessage(false)},
        {"a zsh account whose ~/.zshenv starts bash", toZsh, "exec /bin/bash\n", scriptNotRunMessage(false)},
        {"~/.bashrc execs mksh", "exec /usr/bin/mksh\n", "", scriptNotRunMessage(false)},
        {"~/.bashrc execs yash", "exec /usr/bin/yash\n", "", scriptNotRunMessage(false)},
        {"~/.bashrc execs dash", "exec /bin/dash\n", "", scriptNotRunMessage(false)},
        {"~/.bashrc reads a line", "read -t 1 x\n", "", scriptIncompleteMessage()},
    };
    const QByteArray files[] = {
        "touch \"$HOME/PWNED\"\n",
        "touch \"$HOME/PWNED\"",
        "#!/bin/sh\r\necho owned > \"$HOME/PWNED\"; exit 0\r\n",
    };
    // The other tests of the server find the account as it was.
    const struct LoginFilesReset {
        QString remote;
        ~LoginFilesReset()
        {
            for (const char* file : {"/.bashrc", "/.zshenv", "/PWNED"})
                QFile::remove(remote + QLatin1String(file));
        }
    } reset{remote};
    controlDirectory();
    SSHLink link(server->profile());
    for (const auto& account : accounts) {
        ASSERT_TRUE(test::writeAll(remote + QStringLiteral("/.bashrc"), account.bashrc)
                    && test::writeAll(remote + QStringLiteral("/.zshenv"), account.zshenv));
        for (const QByteArray& file : files) {
            SCOPED_TRACE(std::string(account.name) + ", a file of " + file.toStdString());
            const ShellResult<bool> sent = runSync(link.uploadFile(file, folder + QStringLiteral("/run-me.sh")));
            EXPECT_FALSE(sent);
            if (!sent) {
                EXPECT_EQ(sent.error().message.toStdString(), account.message.toStdString());
            }
            EXPECT_FALSE(QFile::exists(pwned));
            EXPECT_FALSE(QFile::exists(folder));
            QFile::remove(pwned);
            QDir(folder).removeRecursively();
        }
    }
    runSync(link.closeMaster());
}

// To an account whose files start no other shell, a file arrives byte for byte whatever it
// holds, even a first line that looks like the one an upload's input starts with.
TEST_F(SSHLinkServer, AnUploadArrivesByteForByte)
{
    SSHLink::setProgramForTests(server->keyClient());
    const QString target = server->remoteHome() + QStringLiteral("/dropped/f.bin");
    const QByteArray touch = "touch \"$HOME/PWNED\"";
    controlDirectory();
    SSHLink link(server->profile());
    for (const test::UploadContent& file : test::uploadContents(touch)) {
        SCOPED_TRACE(file.name);
        const ShellResult<bool> sent = runSync(link.uploadFile(file.bytes, target));
        ASSERT_TRUE(sent) << sent.error().message.toStdString();
        EXPECT_TRUE(test::readAll(target) == file.bytes);
    }
    EXPECT_FALSE(QFile::exists(server->remoteHome() + QStringLiteral("/PWNED")));
    QDir(server->remoteHome() + QStringLiteral("/dropped")).removeRecursively();
    runSync(link.closeMaster());
}

// The account's files put stand-ins in place of the commands we send, where each shell reads
// them: bash's ~/.bashrc (read for every command sshd runs) and ~/.bash_profile, or zsh's
// ~/.zshenv (bash hands every command to zsh). Neither the one-shot commands (the home, the
// tmux probe, a folder listing, a dropped file's upload, the key installation) nor the scripts
// (a listing, the shared state's upload) run any of them, and each does its work.
TEST_F(SSHLinkServer, NoAliasOrFunctionOfTheAccountsFilesStandsInForOurCommands)
{
    SSHLink::setProgramForTests(server->keyClient());
    const QString remote = server->remoteHome();
    const QString trace = remote + QStringLiteral("/hv-stand-ins");
    const QByteArray handOver = "[ -z \"${BASH_EXECUTION_STRING-}\" ] || { SHELL=/usr/bin/zsh; export SHELL; "
                                "exec \"$SHELL\" -c \"$BASH_EXECUTION_STRING\"; }\n";
    const struct {
        const char* name;
        QByteArray bashrc;
        QByteArray bashProfile;
        QByteArray zshenv;
    } accounts[] = {
        {"bash functions", test::standInFunctions(), test::standInFunctions(), ""},
        {"zsh aliases", handOver, "", test::standInAliases()},
    };
    const QString files[] = {QStringLiteral("/.bashrc"), QStringLiteral("/.bash_profile"), QStringLiteral("/.zshenv")};
    QDir().mkpath(home.file(".ssh"));
    ASSERT_TRUE(test::writeAll(home.file(".ssh/id_ed25519.pub"), server->clientPublicKey().toUtf8() + '\n'));
    const QString projects = remote + QStringLiteral("/stand-in-projects");
    ASSERT_TRUE(QDir().mkpath(projects + QStringLiteral("/alpha")) && QDir().mkpath(projects + QStringLiteral("/beta")));
    // The account writes there.
    ASSERT_EQ(QProcess::execute(QStringLiteral("chown"), {QStringLiteral("-R"), QStringLiteral("--reference=") + remote, projects}), 0);
    const NameSet favorites{QStringLiteral("alpha")};
    const NameSet hidden{QStringLiteral("beta")};
    for (const auto& account : accounts) {
        SCOPED_TRACE(account.name);
        ASSERT_TRUE(test::writeAll(remote + files[0], account.bashrc) && test::writeAll(remote + files[1], account.bashProfile)
                    && test::writeAll(remote + files[2], account.zshenv));
        QFile::remove(remote + QStringLiteral("/.halvoren/shared.json"));
        QFile::remove(remote + QStringLiteral("/.ssh/authorized_keys"));
        SSHLink link(server->profile());
        ASSERT_TRUE(runSync(link.fetchRemoteHome()));
        EXPECT_EQ(link.remoteHome(), remote);
        EXPECT_EQ(runSync(link.hasTmux()), QFileInfo::exists(QStringLiteral("/usr/bin/tmux")));
        const ShellResult<QString> folders = runSync(link.runCommand(folderListingCommand(projects), std::nullopt, 25));
        ASSERT_TRUE(folders) << folders.error().message.toStdString();
        EXPECT_EQ(parseFolderListing(folders.value()), (QStringList{QStringLiteral("alpha"), QStringLiteral("beta")}));
        const QString dropped = projects + QStringLiteral("/alpha/dropped.txt");
        const ShellResult<bool> sent = runSync(link.uploadFile("dropped bytes\n", dropped));
        ASSERT_TRUE(sent) << sent.error().message.toStdString();
        EXPECT_EQ(test::readAll(dropped), "dropped bytes\n");
        const ShellResult<int> installed = runSync(link.installKey());
        ASSERT_TRUE(installed) << installed.error().message.toStdString();
        EXPECT_EQ(installed.value(), 1);
        EXPECT_EQ(test::readAll(remote + QStringLiteral("/.ssh/authorized_keys")), server->clientPublicKey().toUtf8() + '\n');

        QString nonce = newListingNonce();
        const ShellResult<QString> listed = runSync(link.runScript(listingScript(nonce), 25));
        ASSERT_TRUE(listed) << listed.error().message.toStdString();
        const std::optional<ServerState> state = parseListingOutput(listed.value(), {}, nonce);
        ASSERT_TRUE(state);
        EXPECT_FALSE(state->shared);
        nonce = newListingNonce();
        const ShellResult<QString> written =
            runSync(link.runScript(uploadSharedPrefsScript(favorites, hidden, state->sharedSum, nonce), 25));
        ASSERT_TRUE(written) << written.error().message.toStdString();
        EXPECT_EQ(parseSharedWriteAnswer(written.value(), nonce).kind, SharedWriteAnswer::Kind::written)
            << written.value().toStdString();
        EXPECT_EQ(test::readAll(remote + QStringLiteral("/.halvoren/shared.json")), encodeSharedPrefs(favorites, hidden).toUtf8());
        EXPECT_FALSE(QFile::exists(trace)) << test::readAll(trace).toStdString();
        QFile::remove(trace);
        runSync(link.closeMaster());
    }
    for (const QString& file : files)
        QFile::remove(remote + file);
    QDir(projects).removeRecursively();
    QFile::remove(remote + QStringLiteral("/.ssh/authorized_keys"));
    QFile::remove(remote + QStringLiteral("/.halvoren/shared.json"));
}

// A profile edited to another port while the master connection of the old one lives (a quick
// relaunch, within its ten minutes): a link made from the edited profile reaches the new
// server, and the old link still rides on its own master.
TEST_F(SSHLinkServer, AnEditedServerNeverRidesOnTheOldMasterConnection)
{
    test::SshServer other;
    ASSERT_TRUE(other.running()) << other.failure().toStdString();
    // Each server trusts its own client key: ssh gets the one for the port it is given.
    const QString client = home.file(QStringLiteral("ssh-both"));
    const QString script = QStringLiteral("#!/bin/sh\ncase \" $* \" in *' -p %1 '*) exec %2 \"$@\";; esac\nexec %3 \"$@\"\n")
                               .arg(QString::number(other.port()), shellQuote(other.keyClient()), shellQuote(server->keyClient()));
    ASSERT_TRUE(test::writeAll(client, script.toUtf8()));
    ASSERT_TRUE(QFile::setPermissions(client, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner));
    SSHLink::setProgramForTests(client);
    const MacProfile before = server->profile(QStringLiteral("p1700000000000009"));
    MacProfile edited = before;
    edited.port = other.port();
    SSHLink old(before);
    ASSERT_TRUE(runSync(old.fetchRemoteHome())) << server->log().toStdString();
    ASSERT_TRUE(runSync(old.masterIsLive()));
    SSHLink now(edited);
    ASSERT_TRUE(runSync(now.fetchRemoteHome())) << other.log().toStdString();
    EXPECT_EQ(now.remoteHome(), other.remoteHome());
    const ShellResult<QString> oldHome = runSync(old.runCommand(QStringLiteral("echo $HOME"), std::nullopt, 25));
    ASSERT_TRUE(oldHome) << oldHome.error().message.toStdString();
    EXPECT_EQ(oldHome.value().trimmed(), server->remoteHome());
    QCoro::waitFor(old.closeMaster());
    QCoro::waitFor(now.closeMaster());
}

// A home too long for a socket below it still connects: up to 59 bytes the sockets live in
// it, beyond in a short private folder.
TEST_F(SSHLinkServer, LongHomesConnect)
{
    SSHLink::setProgramForTests(server->keyClient());
    test::TempFolder runtime;
    ASSERT_TRUE(QFile::setPermissions(runtime.path(), QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner));
    for (const qsizetype length : {59, 80}) {
        SCOPED_TRACE(length);
        const QString longHome = home.path() + u'/' + QString(length - home.path().size() - 1, u'h');
        ASSERT_TRUE(QDir().mkpath(longHome));
        test::EnvironmentOverride environment("HOME", longHome);
        environment.set("XDG_RUNTIME_DIR", runtime.path());
        SSHLink link(server->profile(QStringLiteral("p170000000000001") + QString::number(length)));
        ASSERT_TRUE(runSync(link.fetchRemoteHome())) << server->log().toStdString();
        EXPECT_EQ(link.remoteHome(), server->remoteHome());
        EXPECT_TRUE(QFileInfo::exists(link.controlPath()));
        EXPECT_TRUE(link.controlPath().startsWith((length == 59 ? longHome : runtime.path()) + u'/'))
            << link.controlPath().toStdString();
        QCoro::waitFor(link.closeMaster());
    }
}

// Processes whose command line holds `text`.
QList<int> processesNaming(const QByteArray& text)
{
    QList<int> found;
    for (const QString& name : QDir(QStringLiteral("/proc")).entryList(QDir::Dirs)) {
        bool number = false;
        const int pid = name.toInt(&number);
        QFile line(QStringLiteral("/proc/%1/cmdline").arg(pid));
        if (number && line.open(QIODevice::ReadOnly) && line.readAll().contains(text))
            found << pid;
    }
    return found;
}

// Ending ssh here does not end the remote shell: a script blocked on the host (a FIFO no one
// writes) is ended there, with what it started, shortly after the run's own limit.
TEST_F(SSHLinkServer, AScriptBlockedOnTheHostDoesNotStay)
{
    SSHLink::setProgramForTests(server->keyClient());
    SSHLink link(server->profile());
    ASSERT_TRUE(runSync(link.fetchRemoteHome())) << server->log().toStdString();
    const QString fifo = server->remoteHome() + QStringLiteral("/blocked-") + QString::number(QRandomGenerator::global()->generate(), 16);
    ASSERT_EQ(QProcess::execute(QStringLiteral("mkfifo"), {fifo}), 0);
    const ShellResult<QString> blocked = runSync(link.runScript(QStringLiteral("cat ") + shellQuote(fifo) + u'\n', 1));
    ASSERT_FALSE(blocked);
    EXPECT_EQ(blocked.error().message, Shell::timeoutMessage());
    ASSERT_FALSE(processesNaming(fifo.toUtf8()).isEmpty()) << "the script was not blocked on the host";
    EXPECT_TRUE(test::pollUntil([&] { return processesNaming(fifo.toUtf8()).isEmpty(); }, std::chrono::seconds(30)));
    QFile::remove(fifo);
}

// sshd starts a session's command with an environment of its own: the server passes on the
// mark of the test run (tests/test-env), which ends by it what the run left on the host, also
// once its session has gone.
TEST_F(SSHLinkServer, TheServersSessionsCarryTheTestRunsMark)
{
    const QString mark = qEnvironmentVariable("HALVOREN_TEST_RUN");
    if (mark.isEmpty())
        GTEST_SKIP() << "not run by tests/test-env";
    SSHLink::setProgramForTests(server->keyClient());
    SSHLink link(server->profile());
    ASSERT_TRUE(runSync(link.fetchRemoteHome())) << server->log().toStdString();
    const ShellResult<QString> seen = runSync(link.runScript(QStringLiteral("printf '%s\\n' \"$HALVOREN_TEST_RUN\"\n"), 25));
    ASSERT_TRUE(seen) << seen.error().message.toStdString();
    EXPECT_EQ(seen.value().toStdString(), (mark + u'\n').toStdString());
    QCoro::waitFor(link.closeMaster());
}

TEST_F(SSHLinkServer, BatchCommandWithoutKeyOrMasterIsRefused)
{
    SSHLink::setProgramForTests(server->passwordClient());
    SSHLink link(server->profile(QStringLiteral("p1700000000000002")));
    const ShellResult<QString> refused = runSync(link.runCommand(QStringLiteral("true"), std::nullopt, 25));
    ASSERT_FALSE(refused);
    EXPECT_TRUE(refused.error().message.contains(QStringLiteral("Permission denied"))) << refused.error().message.toStdString();
    EXPECT_FALSE(runSync(link.fetchRemoteHome()));
    EXPECT_TRUE(link.remoteHome().isEmpty());
}

// On a server as here, made by the account itself, whose login shell sets `pipefail`: the
// probe runs none of the commands the repositories name (see HostileRepositories.h) and gives
// their branch and state.
TEST_F(SSHLinkServer, GitProbeRunsNoCommandTheRepositoryNames)
{
    SSHLink::setProgramForTests(server->keyClient());
    SSHLink link(server->profile());
    ASSERT_TRUE(runSync(link.fetchRemoteHome())) << server->log().toStdString();
    const QString profile = server->remoteHome() + QStringLiteral("/.bash_profile");
    ASSERT_TRUE(test::writeAll(profile, "set -o pipefail\n"));
    const QString root = server->remoteHome() + QStringLiteral("/hostile");
    const QString ran = server->remoteHome() + QStringLiteral("/hostile-ran");
    const QString readRan = QStringLiteral("cat ") + shellQuote(ran) + QStringLiteral(" 2>/dev/null\ntrue\n");
    const ShellResult<QString> made = runSync(link.runScript(test::hostileRepositoriesScript(root, ran), 120));
    ASSERT_TRUE(made) << made.error().message.toStdString();
    ASSERT_EQ(made.value(), test::hostileRepositoriesMade());

    const ShellResult<QString> probed = runSync(link.runScript(gitProbeScript(test::hostileRepositoryPaths(root)), 40));
    ASSERT_TRUE(probed) << probed.error().message.toStdString();
    test::expectProbe(parseGitProbe(probed.value()), test::hostileRepositoriesState(root));
    const ShellResult<QString> log = runSync(link.runScript(readRan, 25));
    ASSERT_TRUE(log);
    EXPECT_EQ(log.value().toStdString(), "") << "commands of the repositories ran";

    ASSERT_TRUE(runSync(link.runScript(test::plainStatusScript(root), 60)));
    const ShellResult<QString> plain = runSync(link.runScript(readRan, 25));
    ASSERT_TRUE(plain);
    for (const test::HostileRepository& repository : test::hostileRepositories)
        EXPECT_EQ(test::wordsMissing(repository, plain.value().toUtf8()).join(u' ').toStdString(), "") << repository.name;
    QFile::remove(profile);
    QFile::remove(server->remoteHome() + QStringLiteral("/.gitconfig"));
    runSync(link.closeMaster());
}

// The same over ssh with the older gits a server may run, each first on the account's PATH
// after a relative entry, which programs git starts look up from inside the work tree: nothing
// of the repositories runs, and each folder gets its branch and state. A transport list the
// profile made read-only stays behind in the login shell: the probe's own list holds in the
// script shell, the state is read and nothing of a partial clone runs, though these gits
// ignore the lazy-fetch switch.
TEST_F(SSHLinkServer, GitProbeRunsNothingWithAnOlderGitAndARelativePath)
{
    HV_REQUIRE_OLDER_GITS(gits);
    SSHLink::setProgramForTests(server->keyClient());
    SSHLink link(server->profile());
    ASSERT_TRUE(runSync(link.fetchRemoteHome())) << server->log().toStdString();
    // Beside the other hostile repositories this suite's server may already hold.
    const QString root = server->remoteHome() + QStringLiteral("/hostile-older");
    const QString ran = server->remoteHome() + QStringLiteral("/hostile-older-ran");
    const ShellResult<QString> made = runSync(link.runScript(test::hostileRepositoriesScript(root, ran), 120));
    ASSERT_TRUE(made) << made.error().message.toStdString();
    ASSERT_EQ(made.value(), test::hostileRepositoriesMade());
    const QString profile = server->remoteHome() + QStringLiteral("/.bash_profile");
    const auto probe = [&](const QByteArray& profileText, const QMap<QString, GitInfo>& expected, const QString& version) {
        ASSERT_TRUE(test::writeAll(profile, "set -o pipefail\n" + profileText));
        const ShellResult<QString> probed = runSync(link.runScript(gitProbeScript(test::hostileRepositoryPaths(root)), 40));
        ASSERT_TRUE(probed) << probed.error().message.toStdString();
        test::expectProbe(parseGitProbe(probed.value()), expected);
        const ShellResult<QString> log =
            runSync(link.runScript(QStringLiteral("git version\ncat ") + shellQuote(ran) + QStringLiteral(" 2>/dev/null\nrm -f ") +
                                       shellQuote(ran) + QStringLiteral("\ntrue\n"),
                                   25));
        ASSERT_TRUE(log);
        EXPECT_EQ(log.value().toStdString(), "git version " + version.toStdString() + "\n") << "commands of the repositories ran";
    };
    for (const test::OlderGit& git : *gits) {
        // A copy the account may run, wherever the tests found the release.
        const QString folder = server->remoteHome() + QStringLiteral("/git-") + git.version;
        ASSERT_TRUE(QDir().mkpath(folder));
        ASSERT_TRUE(QFile::copy(git.folder + QStringLiteral("/git"), folder + QStringLiteral("/git")));
        ASSERT_TRUE(QFile::setPermissions(folder + QStringLiteral("/git"), QFile::ReadOwner | QFile::ExeOwner |
                                                                                QFile::ReadOther | QFile::ExeOther));
        for (const QString& path : test::relativePaths(shellQuote(folder))) {
            SCOPED_TRACE(git.version.toStdString() + " PATH=" + path.toStdString());
            probe("PATH=" + path.toUtf8() + "; export PATH\n", test::hostileRepositoriesState(root, {}, git.minor), git.version);
        }
        SCOPED_TRACE(git.version.toStdString() + " read-only transports");
        probe("PATH=" + shellQuote(folder).toUtf8() + ":\"$PATH\"; export PATH\n"
              "export GIT_ALLOW_PROTOCOL=https:ssh; readonly GIT_ALLOW_PROTOCOL\n",
              test::hostileRepositoriesState(root, {}, git.minor), git.version);
    }
    QFile::remove(profile);
    QFile::remove(server->remoteHome() + QStringLiteral("/.gitconfig"));
    runSync(link.closeMaster());
}

// A server that gives one connection three sessions, all taken by commands on the master. A
// command the master refuses logs in afresh: where that fails (the key is no longer
// accepted, as on a server that takes only passwords), the link waits for a session within
// the command's time-out, and says so in its own words when none came; where a key logs in,
// the command's own result stands. Either way the link learns the limit.
TEST(SSHLinkSessionLimit, ARefusedCommandWaitsForASessionAndTeachesTheLimit)
{
    test::SshServer server({.maxSessions = 3});
    ASSERT_TRUE(server.running()) << server.failure().toStdString();
    test::TempFolder home;
    test::EnvironmentOverride environment{"HOME", home.path()};
    SSHLink::setProgramForTests(server.keyClient());
    SSHLink link(server.profile());
    ASSERT_TRUE(runSync(link.fetchRemoteHome())) << server.log().toStdString();
    const auto spin = [](const std::function<bool()>& done) {
        QElapsedTimer waited;
        waited.start();
        while (!done() && waited.elapsed() < 30000)
            QCoro::waitFor(QCoro::sleepFor(std::chrono::milliseconds(20)));
        return done();
    };
    // Three commands that hold their sessions until the test releases them (the server
    // frees a session only once its command ends), once all three run.
    const QString release = server.remoteHome() + QStringLiteral("/release");
    const auto holdEverySession = [&] {
        QFile::remove(release);
        std::vector<Task<ShellResult<QString>>> holders;
        QStringList marks;
        for (int k = 0; k < 3; ++k) {
            marks << server.remoteHome() + QStringLiteral("/held-%1").arg(k);
            holders.push_back(link.runCommand(
                QStringLiteral("touch ~/held-%1; i=0; while [ ! -e ~/release ] && [ $i -lt 300 ]; do sleep 0.1; i=$((i+1)); done").arg(k),
                std::nullopt, 60));
        }
        EXPECT_TRUE(spin([&] { return std::all_of(marks.cbegin(), marks.cend(), [](const QString& m) { return QFileInfo::exists(m); }); }));
        for (const QString& mark : std::as_const(marks))
            QFile::remove(mark);
        return holders;
    };
    const auto releaseAll = [&](std::vector<Task<ShellResult<QString>>>& holders) {
        test::writeAll(release, QByteArray());
        for (auto& holder : holders) {
            const ShellResult<QString> ended = runSync(std::move(holder));
            EXPECT_TRUE(ended) << ended.error().message.toStdString();
        }
    };
    const QString authorized = server.folder() + QStringLiteral("/authorized_keys");
    const QByteArray keys = test::readAll(authorized);
    ASSERT_TRUE(test::writeAll(authorized, QByteArray()));

    {
        auto holders = holdEverySession();
        // Released while the command waits for a session.
        QTimer::singleShot(2000, [&] { test::writeAll(release, QByteArray()); });
        const ShellResult<QString> waited = runSync(link.runCommand(QStringLiteral("echo ok"), std::nullopt, 25));
        ASSERT_TRUE(waited) << waited.error().message.toStdString();
        EXPECT_EQ(waited.value(), QStringLiteral("ok\n"));
        EXPECT_EQ(link.sharedSessions().limit(), 3);
        releaseAll(holders);
    }
    {
        auto holders = holdEverySession();
        const ShellResult<QString> late = runSync(link.runCommand(QStringLiteral("echo late"), std::nullopt, 3));
        ASSERT_FALSE(late);
        EXPECT_TRUE(late.error().sharedConnectionRefused);
        EXPECT_EQ(late.error().message, sharedConnectionRefusedMessage());
        releaseAll(holders);
    }

    ASSERT_TRUE(test::writeAll(authorized, keys));
    {
        auto holders = holdEverySession();
        const ShellResult<QString> fresh = runSync(link.runCommand(QStringLiteral("echo fresh"), std::nullopt, 25));
        ASSERT_TRUE(fresh) << fresh.error().message.toStdString();
        EXPECT_EQ(fresh.value(), QStringLiteral("fresh\n"));
        // A command that ran on the fresh login and failed is not asked for again.
        const ShellResult<QString> failed = runSync(link.runCommand(QStringLiteral("echo broken >&2; exit 3"), std::nullopt, 25));
        ASSERT_FALSE(failed);
        EXPECT_FALSE(failed.error().sharedConnectionRefused);
        EXPECT_EQ(failed.error().message, QStringLiteral("broken"));
        releaseAll(holders);
    }
    runSync(link.closeMaster());
    SSHLink::setProgramForTests(QStringLiteral("/usr/bin/ssh"));
}

// The account keeps no usable password beyond the windows of the tests that log in with it:
// the last window out locks it again, unless another run still holds it, and key logins work
// with the password locked.
TEST(SshAccount, PasswordIsLockedOnceNoServerHoldsIt)
{
    // The windows' rule, in a hold folder of the test's own: the last of them out locks, and
    // a holder of another run keeps it open.
    test::TempFolder root;
    const QString folder = root.file(QStringLiteral("hold"));
    int locks = 0;
    const auto lastOut = [&locks] { ++locks; };
    {
        test::PasswordWindow outer(folder, lastOut);
        ASSERT_TRUE(outer.failure.isEmpty()) << outer.failure.toStdString();
        {
            test::PasswordWindow inner(folder, lastOut);
            ASSERT_TRUE(inner.failure.isEmpty()) << inner.failure.toStdString();
            EXPECT_EQ(test::passwordHolders(folder), 2);
        }
        EXPECT_EQ(locks, 0) << "locked while a window is open";
    }
    EXPECT_EQ(locks, 1);
    EXPECT_EQ(test::passwordHolders(folder), 0);
    const int otherRun = ::open(QFile::encodeName(folder + QStringLiteral("/1-1")).constData(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
    ASSERT_TRUE(otherRun >= 0 && ::flock(otherRun, LOCK_EX | LOCK_NB) == 0);
    {
        test::PasswordWindow window(folder, lastOut);
        ASSERT_TRUE(window.failure.isEmpty()) << window.failure.toStdString();
    }
    EXPECT_EQ(locks, 1) << "locked under another run's window";
    ::close(otherRun);

    // The account itself: set inside a window, locked after it unless another run holds it.
    if (::geteuid() != 0)
        GTEST_SKIP() << "only root changes the account";
    test::TempFolder home;
    test::EnvironmentOverride environment{"HOME", home.path()};
    test::SshServer keys;
    ASSERT_TRUE(keys.running()) << keys.failure().toStdString();
    {
        test::PasswordWindow window;
        ASSERT_TRUE(window.failure.isEmpty()) << window.failure.toStdString();
        const std::optional<test::PasswordState> open = test::passwordState();
        ASSERT_TRUE(open);
        EXPECT_FALSE(open->locked);
    }
    const std::optional<test::PasswordState> after = test::passwordState();
    ASSERT_TRUE(after);
    EXPECT_EQ(after->locked, after->holders == 0) << after->holders << " holders";

    SSHLink::setProgramForTests(keys.keyClient());
    SSHLink link(keys.profile());
    EXPECT_TRUE(runSync(link.fetchRemoteHome())) << keys.log().toStdString();
    runSync(link.closeMaster());
    SSHLink::setProgramForTests(QStringLiteral("/usr/bin/ssh"));
}

// The scripts that run the tests lock the account when they end, for a test that died inside
// its window: by the windows' rule, so not while a live run holds it, and a holder whose run
// is gone (its file locked by nobody) is removed and does not count. A hold folder that is
// not private holds nothing.
TEST(SshAccount, TheTestRunsLockItWhenTheyEndUnlessALiveRunHoldsIt)
{
    // The account's lock file, which the script takes, is root's once root made it.
    if (::geteuid() != 0)
        GTEST_SKIP() << "the account's lock file may be root's";
    test::TempFolder root;
    const auto lockedFile = [](const QString& path) {
        const int fd = ::open(QFile::encodeName(path).constData(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
        if (fd >= 0 && ::flock(fd, LOCK_EX | LOCK_NB) != 0) {
            ::close(fd);
            return -1;
        }
        return fd;
    };
    const struct {
        const char* name;
        bool privateFolder, deadHolder, liveHolder;
        bool locks;
    } cases[] = {
        {"no holder", true, false, false, true},
        {"a holder of a run that is gone", true, true, false, true},
        {"a live holder", true, false, true, false},
        {"a live holder beside one that is gone", true, true, true, false},
        {"a live holder in a folder open to others", false, false, true, true},
    };
    int number = 0;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const QString folder = root.file(QStringLiteral("hold-%1").arg(++number));
        ASSERT_EQ(::mkdir(QFile::encodeName(folder).constData(), c.privateFolder ? 0700 : 0755), 0);
        ASSERT_EQ(::chmod(QFile::encodeName(folder).constData(), c.privateFolder ? 0700 : 0755), 0);
        const QString dead = folder + QStringLiteral("/1-1");
        ASSERT_TRUE(!c.deadHolder || test::writeAll(dead, ""));
        const int live = c.liveHolder ? lockedFile(folder + QStringLiteral("/2-1")) : -2;
        ASSERT_NE(live, -1);
        const QString marker = folder + QStringLiteral(".locked");
        QProcess script;
        script.start(QStringLiteral(HALVOREN_SOURCE_DIR "/tests/lock-test-account"),
                     {folder, QStringLiteral("/usr/bin/touch"), marker});
        ASSERT_TRUE(script.waitForFinished(20000));
        EXPECT_EQ(script.exitCode(), 0) << script.readAllStandardError().toStdString();
        EXPECT_EQ(QFile::exists(marker), c.locks);
        EXPECT_FALSE(c.privateFolder && QFile::exists(dead)) << "the holder of a run that is gone is kept";
        if (live >= 0) {
            EXPECT_TRUE(QFile::exists(folder + QStringLiteral("/2-1")));
            ::close(live);
        }
    }
}

// A stand-in for an account tool that refuses, as usermod does while another tool holds the
// password files' lock, its first `refusals` runs (-1: every run), then touches `marker`. Each
// run adds a line to `runs`.
QStringList refusingTool(const QString& runs, int refusals, const QString& marker)
{
    return {QStringLiteral("/bin/sh"), QStringLiteral("-c"),
            QStringLiteral("echo run >> \"$1\"; n=$(wc -l < \"$1\"); "
                           "if [ \"$2\" -lt 0 ] || [ \"$n\" -le \"$2\" ]; then echo 'usermod: cannot lock /etc/passwd; try again later.' >&2; exit 1; fi; "
                           ": > \"$3\""),
            QStringLiteral("sh"), runs, QString::number(refusals), marker};
}

// What the stand-in did: how many runs, and whether the last one went through.
struct ToolRuns {
    int runs = 0;
    bool done = false;
};

ToolRuns toolRuns(const QString& runs, const QString& marker)
{
    return {int(test::readAll(runs).count('\n')), QFile::exists(marker)};
}

// A stopped run's own account tool may still hold the password files' lock for a moment: the
// tests' tools and the scripts' lock are tried again meanwhile, and say when they still fail.
TEST(SshAccount, AnAccountToolRefusedForAMomentIsTriedAgain)
{
    test::TempFolder root;
    const struct {
        const char* name;
        int refusals;
        ToolRuns expected;
    } cases[] = {
        {"at once", 0, {1, true}},
        {"after three refusals", 3, {4, true}},
    };
    for (const auto& [name, refusals, expected] : cases) {
        SCOPED_TRACE(name);
        const QString runs = root.file(QStringLiteral("runs-%1").arg(refusals)), marker = runs + QStringLiteral(".done");
        const QStringList tool = refusingTool(runs, refusals, marker);
        EXPECT_EQ(test::runAccountTool(tool.front(), tool.mid(1)), std::nullopt);
        const ToolRuns seen = toolRuns(runs, marker);
        EXPECT_EQ(seen.runs, expected.runs);
        EXPECT_EQ(seen.done, expected.done);
    }
    // Refused for good: given up after its patience, with the tool's words.
    const QString runs = root.file(QStringLiteral("runs-always")), marker = runs + QStringLiteral(".done");
    const QStringList tool = refusingTool(runs, -1, marker);
    const std::optional<QString> failure = test::runAccountTool(tool.front(), tool.mid(1), {}, std::chrono::seconds(1));
    ASSERT_TRUE(failure);
    EXPECT_TRUE(failure->contains(QStringLiteral("cannot lock /etc/passwd"))) << failure->toStdString();
    const ToolRuns seen = toolRuns(runs, marker);
    EXPECT_GT(seen.runs, 1);
    EXPECT_FALSE(seen.done);
}

TEST(SshAccount, TheScriptsLockIsTriedAgainAndALockThatStillFailsIsSaidInOneLine)
{
    if (::geteuid() != 0)
        GTEST_SKIP() << "the account's lock file may be root's";
    test::TempFolder root;
    const QString folder = root.file(QStringLiteral("hold"));
    ASSERT_EQ(::mkdir(QFile::encodeName(folder).constData(), 0700), 0);
    const struct {
        const char* name;
        int refusals;
        bool locks;
    } cases[] = {
        {"refused three times, then done", 3, true},
        {"refused every time", -1, false},
    };
    for (const auto& [name, refusals, locks] : cases) {
        SCOPED_TRACE(name);
        const QString runs = root.file(QStringLiteral("runs-%1").arg(refusals)), marker = runs + QStringLiteral(".done");
        QProcess script;
        script.start(QStringLiteral(HALVOREN_SOURCE_DIR "/tests/lock-test-account"),
                     QStringList{folder} + refusingTool(runs, refusals, marker));
        ASSERT_TRUE(script.waitForFinished(60000));
        const QString said = QString::fromUtf8(script.readAllStandardError());
        const ToolRuns seen = toolRuns(runs, marker);
        EXPECT_EQ(seen.done, locks);
        if (locks) {
            EXPECT_EQ(script.exitCode(), 0);
            EXPECT_EQ(seen.runs, refusals + 1);
            EXPECT_EQ(said, QString());
        } else {
            EXPECT_NE(script.exitCode(), 0);
            EXPECT_GT(seen.runs, 1);
            EXPECT_TRUE(said.startsWith(QStringLiteral("lock-test-account: the password of hvtest is still set"))
                        && said.contains(QStringLiteral("cannot lock /etc/passwd")) && said.count(u'\n') == 1 && said.endsWith(u'\n'))
                << said.toStdString();
        }
    }
}

// Only a private folder of this user holds the password, and only this user's locked files in
// it count: nothing another local user can make keeps the password set.
TEST(SshAccount, OnlyAPrivateFolderAndItsOwnLockedFilesHoldThePassword)
{
    if (::geteuid() != 0)
        GTEST_SKIP() << "files of another user are made by root";
    test::TempFolder root;
    const QByteArray elsewhere = QFile::encodeName(root.file(QStringLiteral("elsewhere")));
    ASSERT_EQ(::mkdir(elsewhere.constData(), 0700), 0);
    const uid_t nobody = 65534;
    const auto made = [](int status) { return status == 0; };
    const struct {
        const char* name;
        std::function<bool(const QByteArray&)> make;
        bool accepted;
    } folders[] = {
        {"missing", [](const QByteArray&) { return true; }, true},
        {"private", [&](const QByteArray& path) { return made(::mkdir(path.constData(), 0700)); }, true},
        {"mode 0755", [&](const QByteArray& path) { return made(::mkdir(path.constData(), 0700)) && made(::chmod(path.constData(), 0755)); }, false},
        {"another user's", [&](const QByteArray& path) { return made(::mkdir(path.constData(), 0700)) && made(::chown(path.constData(), nobody, nobody)); }, false},
        {"a link to a private folder", [&](const QByteArray& path) { return made(::symlink(elsewhere.constData(), path.constData())); }, false},
        {"a file", [&](const QByteArray& path) { return test::writeAll(QFile::decodeName(path), "x"); }, false},
    };
    int number = 0;
    for (const auto& c : folders) {
        SCOPED_TRACE(c.name);
        const QString folder = root.file(QStringLiteral("hold-%1").arg(++number));
        ASSERT_TRUE(c.make(QFile::encodeName(folder)));
        EXPECT_EQ(test::holdFolderRefusal(folder).isEmpty(), c.accepted) << test::holdFolderRefusal(folder).toStdString();
        struct stat status {};
        if (c.accepted) {
            EXPECT_TRUE(::lstat(QFile::encodeName(folder).constData(), &status) == 0 && (status.st_mode & 07777) == 0700);
        }
    }

    // A locked file of this user in a folder that is not private holds nothing.
    const auto lockedFile = [](const QString& path, uid_t owner) {
        const int fd = ::open(QFile::encodeName(path).constData(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
        if (fd >= 0 && (::fchown(fd, owner, owner) != 0 || ::flock(fd, LOCK_EX | LOCK_NB) != 0)) {
            ::close(fd);
            return -1;
        }
        return fd;
    };
    const QString open = root.file(QStringLiteral("hold-3"));
    const int inOpenFolder = lockedFile(open + QStringLiteral("/1-1"), 0);
    ASSERT_GE(inOpenFolder, 0);
    EXPECT_EQ(test::passwordHolders(open), 0);

    // In a private folder: one holder of this user, and what was planted beside it.
    const QString folder = root.file(QStringLiteral("hold-2"));
    const int holder = lockedFile(folder + QStringLiteral("/2-1"), 0);
    const int outside = lockedFile(root.file(QStringLiteral("outside")), 0);
    const int foreign = lockedFile(folder + QStringLiteral("/2-2"), nobody);
    ASSERT_TRUE(holder >= 0 && outside >= 0 && foreign >= 0);
    ASSERT_TRUE(QFile::link(root.file(QStringLiteral("outside")), folder + QStringLiteral("/2-3")));
    ASSERT_EQ(::mkfifo(QFile::encodeName(folder + QStringLiteral("/2-4")).constData(), 0600), 0);
    ASSERT_TRUE(test::writeAll(folder + QStringLiteral("/2-5"), "left by a run that is gone"));
    EXPECT_EQ(test::passwordHolders(folder), 1);
    EXPECT_FALSE(QFile::exists(folder + QStringLiteral("/2-5")));
    ::close(holder);
    EXPECT_EQ(test::passwordHolders(folder), 0);
    for (const int fd : {inOpenFolder, outside, foreign})
        ::close(fd);
}

} // namespace
} // namespace halvoren
