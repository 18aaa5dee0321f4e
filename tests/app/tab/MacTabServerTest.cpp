// Server tabs against a private sshd on 127.0.0.1 (see SshServer.h), one server for the suite:
// the tab's ssh attaches the project's tmux session on the server, types a remembered password
// on the account, and never types it into a program of the attached session. The server
// connection lists its project root over the same ssh.
#include "tab/MacTab.h"

#include "remote/FolderSessions.h"
#include "remote/ServerState.h"
#include "remote/SessionNaming.h"
#include "remote/ShellQuote.h"
#include "remote/TabReconciliation.h"
#include "remote/TmuxCommands.h"

#include "app/support/HostileNames.h"

#include "app/remote/RunSync.h"
#include "app/remote/SshServer.h"
#include "app/support/TempFolder.h"
#include "engine/view/qt/ViewTestSupport.h"
#include "workspace/MacConnection.h"
#include "settings/ProfileStore.h"
#include "platform/SecretStore.h"

#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QFileInfo>
#include <QStandardPaths>

#include <gtest/gtest.h>

#include <pwd.h>
#include <unistd.h>

namespace halvoren {
namespace {

using corvantix::testing::screenText;
using corvantix::testing::waitUntil;

class ServerTab : public ::testing::Test {
protected:
    static void SetUpTestSuite() { server = new test::SshServer({.passwordLogin = true}); }
    static void TearDownTestSuite() { delete server; }
    void SetUp() override
    {
        if (QStandardPaths::findExecutable(QStringLiteral("tmux")).isEmpty())
            GTEST_FAIL() << "tmux is missing: install the Debian package tmux";
        ASSERT_TRUE(server->running()) << server->failure().toStdString();
        ASSERT_TRUE(home.valid());
        // The account keeps its tmux server below the run's home, and has a project.
        const QString remote = server->remoteHome();
        ASSERT_TRUE(test::writeAll(remote + QStringLiteral("/.profile"), "export TMUX_TMPDIR=\"$HOME\"\n"));
        projectPath = remote + QStringLiteral("/projets/demo");
        ASSERT_TRUE(QDir().mkpath(projectPath));
        const passwd* account = ::getpwnam(test::SshServer::user);
        ASSERT_NE(account, nullptr);
        for (const QString& path : {remote + QStringLiteral("/projets"), projectPath})
            ASSERT_EQ(::chown(QFile::encodeName(path).constData(), account->pw_uid, account->pw_gid), 0);
        session = tmuxSessionName(projectPath);
    }
    void TearDown() override
    {
        // The tab's ssh left a master connection behind (it persists by design), and so may
        // a test's checks.
        for (const std::shared_ptr<SSHLink>& used : {link, checks}) {
            if (used)
                QCoro::waitFor(used->closeMaster());
        }
        SSHLink::setProgramForTests(QStringLiteral("/usr/bin/ssh"));
    }
    std::unique_ptr<MacTab> startTab(SecretStore& keychain)
    {
        link = std::make_shared<SSHLink>(server->profile());
        auto tab = std::make_unique<MacTab>(link->profile().id, MacProject{QStringLiteral("demo"), projectPath, session},
                                            true, link, &keychain);
        tab->start(sessionTagCommand(session, QStringLiteral("demo"), projectPath, {session}));
        EXPECT_TRUE(tab->isLive());
        EXPECT_TRUE(waitUntil([&] { return tab->terminal->terminal->isCurrentBufferAlternate(); }, 30000))
            << screenText(*tab->terminal->terminal) << server->log().toStdString();
        return tab;
    }
    // Runs a tmux command on the server through a one-shot command riding on the tab's connection.
    QString remoteTmux(const QString& command)
    {
        const ShellResult<QString> result = test::runSync(
            link->runCommand(QStringLiteral("TMUX_TMPDIR=\"$HOME\" tmux ") + command + QStringLiteral(" 2>/dev/null; true"),
                             std::nullopt, 25));
        return result ? result.value().trimmed() : QString();
    }
    QString remoteClients()
    {
        return remoteTmux(QStringLiteral("list-clients -t ") + tmuxSessionTarget(session) + QStringLiteral(" -F '#{client_tty}'"));
    }
    static test::SshServer* server;
    test::TempFolder home;
    // The control sockets live below HOME: keep it short.
    test::EnvironmentOverride environment{"HOME", home.path()};
    std::shared_ptr<SSHLink> link;
    // A test's own commands on the server, over a master connection of their own.
    std::shared_ptr<SSHLink> checks;
    QString projectPath;
    QString session;
};

test::SshServer* ServerTab::server = nullptr;

TEST_F(ServerTab, AttachesTheProjectSessionOnTheServer)
{
    SSHLink::setProgramForTests(server->keyClient());
    SecretStore keychain(std::make_unique<MemorySecretBackend>());
    std::unique_ptr<MacTab> tab = startTab(keychain);
    EXPECT_FALSE(remoteClients().isEmpty());
    EXPECT_EQ(remoteTmux(QStringLiteral("show-options -v -t ") + tmuxOptionTarget(session) + QStringLiteral(" @hv_path")),
              projectPath);
    EXPECT_FALSE(tab->autofill);
    // RGB colour reaches the view through the server's tmux as it is.
    tab->terminal->send(std::string_view("clear; printf '\\033[38;2;10;200;37mQ\\033[0m\\n'\r"));
    std::optional<corvantix::Attribute::Color> colour;
    ASSERT_TRUE(waitUntil([&] {
        const auto& lines = tab->terminal->terminal->buffer().lines();
        for (int i = 0; i < lines.count(); ++i) {
            for (const auto& cell : lines[i]->cells()) {
                if (cell.code == 'Q' && !cell.attribute.fg.isDefault())
                    colour = cell.attribute.fg;
            }
        }
        return colour.has_value();
    }, 20000)) << screenText(*tab->terminal->terminal);
    EXPECT_EQ(*colour, corvantix::Attribute::Color::trueColor(10, 200, 37));
    tab->stop();
    remoteTmux(QStringLiteral("kill-server"));
}

TEST_F(ServerTab, RememberedPasswordLogsInOnceAndIsNeverTypedIntoTheSession)
{
    const test::PasswordWindow window;
    ASSERT_TRUE(window.failure.isEmpty()) << window.failure.toStdString();
    SSHLink::setProgramForTests(server->passwordClient());
    auto backend = std::make_unique<MemorySecretBackend>();
    backend->write(ProfileStore::passwordKey(server->profile().id), QString::fromLatin1(test::SshServer::password));
    SecretStore keychain(std::move(backend));
    std::unique_ptr<MacTab> tab = startTab(keychain);
    ASSERT_TRUE(waitUntil([&] { return !remoteClients().isEmpty(); }, 20000));
    EXPECT_FALSE(tab->autofill);
    // A restart rides on the connection the first start left: ssh asks for nothing, and the
    // password the tab is ready to type must not reach what runs in the session.
    tab->stop();
    ASSERT_TRUE(waitUntil([&] { return remoteClients().isEmpty(); }, 20000));
    tab->start();
    ASSERT_TRUE(waitUntil([&] { return !remoteClients().isEmpty(); }, 30000));
    // A program in the session asks for "a password": the tab types nothing, so what it
    // reads is what the test types.
    tab->terminal->send(std::string_view(
        "clear; printf 'Enter pass''word: '; read -r answer; printf '[%s]' \"$answer\" > ~/answer\r"));
    ASSERT_TRUE(waitUntil([&] { return screenText(*tab->terminal->terminal).find("Enter password:") != std::string::npos; },
                          20000))
        << screenText(*tab->terminal->terminal);
    tab->terminal->send(std::string_view("typed-by-hand\r"));
    const QString answer = server->remoteHome() + QStringLiteral("/answer");
    ASSERT_TRUE(waitUntil([&] { return !test::readAll(answer).isEmpty(); }, 20000));
    EXPECT_EQ(test::readAll(answer), QByteArray("[typed-by-hand]"));
    tab->stop();
    remoteTmux(QStringLiteral("kill-server"));
}

// A file of the server's account written for a test, put back as it was when it goes.
struct ReplacedFile {
    ReplacedFile(const QString& path, const QByteArray& text) : path(path)
    {
        if (QFile::exists(path))
            before = test::readAll(path);
        written = test::writeAll(path, text);
    }
    ~ReplacedFile()
    {
        if (before)
            test::writeAll(path, *before);
        else
            QFile::remove(path);
    }
    ReplacedFile(const ReplacedFile&) = delete;
    ReplacedFile& operator=(const ReplacedFile&) = delete;
    const QString path;
    std::optional<QByteArray> before;
    bool written = false;
};

// A login file on the server that asks "Password: " once, before tmux attaches, and keeps
// the answer in ~/bashrc-answer.
struct PromptingBashrc : ReplacedFile {
    explicit PromptingBashrc(const QString& home)
        : ReplacedFile(home + QStringLiteral("/.bashrc"),
                       "if [ -t 0 ] && [ ! -e \"$HOME/bashrc-asked\" ]; then\n"
                       "  : > \"$HOME/bashrc-asked\"; printf 'Password: '; read -r line\n"
                       "  printf '[%s]' \"$line\" > \"$HOME/bashrc-answer\"\nfi\n")
    {
    }
};

// With a master connection already open for the server, the tab's ssh asks nothing: a login
// file on the server that asks for "a password" before tmux attaches must not get the
// remembered one.
TEST_F(ServerTab, OverALiveMasterConnectionThePasswordIsNotTyped)
{
    SSHLink::setProgramForTests(server->keyClient());
    const QString answer = server->remoteHome() + QStringLiteral("/bashrc-answer");
    const PromptingBashrc bashrc(server->remoteHome());
    ASSERT_TRUE(bashrc.written);
    QFile::remove(server->remoteHome() + QStringLiteral("/bashrc-asked"));
    QFile::remove(answer);
    link = std::make_shared<SSHLink>(server->profile());
    ASSERT_TRUE(test::runSync(link->fetchRemoteHome())) << server->log().toStdString();
    ASSERT_TRUE(test::runSync(link->masterIsLive()));
    auto backend = std::make_unique<MemorySecretBackend>();
    backend->write(ProfileStore::passwordKey(server->profile().id), QString::fromLatin1(test::SshServer::password));
    SecretStore keychain(std::move(backend));
    auto tab = std::make_unique<MacTab>(link->profile().id, MacProject{QStringLiteral("demo"), projectPath, session}, true,
                                        link, &keychain);
    tab->start(sessionTagCommand(session, QStringLiteral("demo"), projectPath, {session}));
    ASSERT_TRUE(waitUntil([&] { return screenText(*tab->terminal->terminal).find("Password:") != std::string::npos; }, 30000))
        << screenText(*tab->terminal->terminal) << server->log().toStdString();
    EXPECT_FALSE(tab->autofill);
    tab->terminal->send(std::string_view("typed-by-hand\r"));
    ASSERT_TRUE(waitUntil([&] { return !test::readAll(answer).isEmpty(); }, 20000)) << screenText(*tab->terminal->terminal);
    EXPECT_EQ(test::readAll(answer), QByteArray("[typed-by-hand]"));
    EXPECT_TRUE(waitUntil([&] { return !remoteClients().isEmpty(); }, 30000)) << screenText(*tab->terminal->terminal);
    tab->stop();
    remoteTmux(QStringLiteral("kill-server"));
    QFile::remove(server->remoteHome() + QStringLiteral("/bashrc-asked"));
    QFile::remove(answer);
}

// Login files that speak of ssh's refusal of a session, first thing in every shell, on both
// outputs, and one that even prints ssh's whole line once its own output has begun: none of
// it is ssh's. The link keeps the limit it assumed, and a plain tab with a remembered
// password keeps its shell on the master.
TEST_F(ServerTab, ALoginFileQuotingSshsRefusalTeachesTheLinkNothing)
{
    SSHLink::setProgramForTests(server->keyClient());
    const QByteArray refusal = "mux_client_request_session: session request failed: Session open refused by peer";
    const QString remote = server->remoteHome();
    // bash started by sshd reads ~/.bashrc even for a command: every shell prints these first.
    const ReplacedFile bashrc(remote + QStringLiteral("/.bashrc"),
                              "echo 'Note : « Session open refused by peer » veut dire MaxSessions atteint.' >&2\n"
                              "echo 'Session open refused by peer' >&2\n");
    ASSERT_TRUE(bashrc.written);
    ASSERT_TRUE(test::writeAll(remote + QStringLiteral("/.profile"), "export TMUX_TMPDIR=\"$HOME\"\nPS1='ready> '\n"
                                                                      "echo 'Session open refused by peer'\n"
                                                                      "echo '" + refusal + "'\necho '" + refusal + "' >&2\n"));
    link = std::make_shared<SSHLink>(server->profile());
    ASSERT_TRUE(test::runSync(link->fetchRemoteHome())) << server->log().toStdString();
    // The note was the first line of the command's standard error, and stays in its message.
    const ShellResult<QString> failed = test::runSync(link->runCommand(QStringLiteral("exit 3"), std::nullopt, 25));
    ASSERT_FALSE(failed);
    EXPECT_FALSE(failed.error().sharedConnectionRefused);
    EXPECT_TRUE(failed.error().message.startsWith(QStringLiteral("Note : « Session open refused by peer »")))
        << failed.error().message.toStdString();
    const ShellResult<QString> script = test::runSync(link->runScript(QStringLiteral("echo ran\n"), 25));
    ASSERT_TRUE(script) << script.error().message.toStdString();
    // What the login files printed around it is not the script's.
    EXPECT_EQ(script.value(), QStringLiteral("ran\n"));

    auto backend = std::make_unique<MemorySecretBackend>();
    backend->write(ProfileStore::passwordKey(server->profile().id), QString::fromLatin1(test::SshServer::password));
    SecretStore keychain(std::move(backend));
    MacTab tab(link->profile().id, MacProject{QStringLiteral("demo"), projectPath, session}, false, link, &keychain);
    int exits = 0;
    tab.onExit = [&](MacTab&) { ++exits; };
    tab.start();
    // The shell's prompt comes after everything its login files printed.
    ASSERT_TRUE(waitUntil([&] { return screenText(*tab.terminal->terminal).find("ready>") != std::string::npos; }, 30000))
        << screenText(*tab.terminal->terminal);
    tab.terminal->send(std::string_view("echo alive-$((6*7))\r"));
    EXPECT_TRUE(waitUntil([&] { return screenText(*tab.terminal->terminal).find("alive-42") != std::string::npos; }, 30000))
        << screenText(*tab.terminal->terminal);
    EXPECT_EQ(link->sharedSessions().limit(), SharedSessions::assumedLimit);
    EXPECT_TRUE(tab.ridesSharedConnection());
    EXPECT_EQ(link->sharedSessions().tabSessions(), 1);
    EXPECT_EQ(tab.generation, 1u);
    EXPECT_EQ(exits, 0);
    tab.stop();
}

// Without a master connection the tab is ready to type the remembered password: with a key,
// ssh asks nothing, and with the password it asks once. Either way, a login file on the server
// that asks for "a password" before tmux attaches does not get it.
TEST_F(ServerTab, ALoginFilesPasswordPromptNeverGetsThePassword)
{
    const QString asked = server->remoteHome() + QStringLiteral("/bashrc-asked");
    const QString answer = server->remoteHome() + QStringLiteral("/bashrc-answer");
    const PromptingBashrc bashrc(server->remoteHome());
    ASSERT_TRUE(bashrc.written);
    for (const QString& client : {server->keyClient(), server->passwordClient()}) {
        SCOPED_TRACE(client.toStdString());
        // The account takes a password only while a test logs in with one.
        std::optional<test::PasswordWindow> window;
        if (client == server->passwordClient()) {
            window.emplace();
            ASSERT_TRUE(window->failure.isEmpty()) << window->failure.toStdString();
        }
        SSHLink::setProgramForTests(client);
        QFile::remove(asked);
        QFile::remove(answer);
        link = std::make_shared<SSHLink>(server->profile());
        ASSERT_FALSE(test::runSync(link->masterIsLive()));
        auto backend = std::make_unique<MemorySecretBackend>();
        backend->write(ProfileStore::passwordKey(server->profile().id), QString::fromLatin1(test::SshServer::password));
        SecretStore keychain(std::move(backend));
        auto tab = std::make_unique<MacTab>(link->profile().id, MacProject{QStringLiteral("demo"), projectPath, session},
                                            true, link, &keychain);
        tab->start(sessionTagCommand(session, QStringLiteral("demo"), projectPath, {session}));
        ASSERT_TRUE(waitUntil([&] { return QFile::exists(asked); }, 30000))
            << screenText(*tab->terminal->terminal) << server->log().toStdString();
        // Some output after the question: had the password been typed, it would be read by now.
        waitUntil([] { return false; }, 500);
        ASSERT_TRUE(tab->autofill.has_value());
        EXPECT_EQ(tab->autofill->sent(), client == server->passwordClient());
        EXPECT_TRUE(test::readAll(answer).isEmpty()) << test::readAll(answer).toStdString();
        tab->terminal->send(std::string_view("typed-by-hand\r"));
        ASSERT_TRUE(waitUntil([&] { return !test::readAll(answer).isEmpty(); }, 20000)) << screenText(*tab->terminal->terminal);
        EXPECT_EQ(test::readAll(answer), QByteArray("[typed-by-hand]"));
        EXPECT_TRUE(waitUntil([&] { return !remoteClients().isEmpty(); }, 30000)) << screenText(*tab->terminal->terminal);
        tab->stop();
        remoteTmux(QStringLiteral("kill-server"));
        QCoro::waitFor(link->closeMaster());
    }
    QFile::remove(asked);
    QFile::remove(answer);
}

// A program on the server names this computer's files in image commands: every medium gets
// the one refusal, whether the path is a file, a missing name or a folder, and nothing here is
// read or removed.
TEST_F(ServerTab, ImageMediaNamingLocalFilesAreRefused)
{
    SSHLink::setProgramForTests(server->keyClient());
    SecretStore keychain(std::make_unique<MemorySecretBackend>());
    test::TempFolder local;
    const QString secret = local.file(QStringLiteral("tty-graphics-protocol-secret"));
    ASSERT_TRUE(test::writeAll(secret, QByteArray("\x01\x02\x03\x04", 4)));
    QFile::setPermissions(secret, QFileDevice::ReadOwner | QFileDevice::WriteOwner);
    QString commands;
    int count = 0;
    for (const char* medium : {"f", "t", "s"}) {
        for (const QString& path : {secret, local.file(QStringLiteral("missing")), local.path()}) {
            commands += QStringLiteral("printf '\\033_Ga=t,i=1,t=%1,f=32,s=1,v=1;%2\\033\\\\'\n")
                            .arg(QLatin1String(medium), QString::fromLatin1(path.toUtf8().toBase64()));
            ++count;
        }
    }
    // The replies come back as the program's input: read raw for three quiet seconds.
    const QString probe = server->remoteHome() + QStringLiteral("/probe.sh");
    ASSERT_TRUE(test::writeAll(probe, ("stty -echo -icanon min 0 time 30\n" + commands
                                       + "cat -v > \"$HOME/replies\"\nstty sane\necho probe-done\n")
                                          .toUtf8()));
    link = std::make_shared<SSHLink>(server->profile());
    auto tab = std::make_unique<MacTab>(link->profile().id, MacProject{QStringLiteral("demo"), projectPath, session},
                                        false, link, &keychain);
    tab->start();
    ASSERT_TRUE(waitUntil([&] { return screenText(*tab->terminal->terminal).find('$') != std::string::npos; }, 30000))
        << screenText(*tab->terminal->terminal) << server->log().toStdString();
    tab->terminal->send(std::string_view("sh ~/probe.sh\r"));
    ASSERT_TRUE(waitUntil([&] { return screenText(*tab->terminal->terminal).find("probe-done") != std::string::npos; },
                          30000))
        << screenText(*tab->terminal->terminal);
    const QByteArray replies = test::readAll(server->remoteHome() + QStringLiteral("/replies"));
    EXPECT_EQ(replies, QByteArray("^[_Gi=1;ENOTSUP: unsupported transmission^[\\").repeated(count));
    EXPECT_EQ(test::readAll(secret), QByteArray("\x01\x02\x03\x04", 4));
    tab->stop();
}

TEST_F(ServerTab, HostileFolderNamesOpenTagListReorderCloseAndReopenAsText)
{
    SSHLink::setProgramForTests(server->keyClient());
    SecretStore keychain(std::make_unique<MemorySecretBackend>());
    const passwd* account = ::getpwnam(test::SshServer::user);
    ASSERT_NE(account, nullptr);
    const QString root = server->remoteHome() + QStringLiteral("/projets/hostile");
    ASSERT_TRUE(QDir().mkpath(root));
    ASSERT_EQ(::chown(QFile::encodeName(root).constData(), account->pw_uid, account->pw_gid), 0);
    link = std::make_shared<SSHLink>(server->profile());
    ASSERT_TRUE(test::runSync(link->fetchRemoteHome()));
    // The checks go over a connection of their own: fourteen tabs are more than the tabs'
    // connection keeps room for, and the checks would only compete with their sessions.
    checks = std::make_shared<SSHLink>(server->profile(QStringLiteral("checks")));
    // Scripts run as the workspace runs them on a server: through the account's login shell.
    const auto remote = [&](const QString& script) {
        const ShellResult<QString> result = test::runSync(checks->runScript(script + QStringLiteral("\ntrue\n"), 25));
        EXPECT_TRUE(result.ok()) << (result.ok() ? std::string() : result.error().message.toStdString());
        return result.ok() ? result.value() : QString();
    };
    const auto option = [&](const QString& s, const char* name) {
        QString value = remote(QStringLiteral("tmux -u show-options -v -t ") + tmuxOptionTarget(s) + u' ' + QString::fromLatin1(name));
        if (value.endsWith(u'\n'))
            value.chop(1);
        return value;
    };
    const auto clientCount = [&](const QString& s) {
        return remote(QStringLiteral("tmux list-clients -t ") + tmuxSessionTarget(s) + QStringLiteral(" -F x 2>/dev/null")).count(u'x');
    };
    struct Open {
        QString name, path, session;
        std::unique_ptr<MacTab> tab;
    };
    std::vector<Open> opened;
    QStringList sessions;
    for (const QString& name : test::hostileFolderNames()) {
        const QString path = root + u'/' + name;
        ASSERT_TRUE(QDir().mkpath(path));
        ASSERT_EQ(::chown(QFile::encodeName(path).constData(), account->pw_uid, account->pw_gid), 0);
        opened.push_back({name, path, tmuxSessionName(path), nullptr});
        sessions << opened.back().session;
    }

    // The server's project list holds every folder, each by its whole name.
    MacConnection connection(link);
    QStringList names = test::hostileFolderNames();
    std::optional<QStringList> listedFolders = test::runSync(connection.tryListFolders(root));
    ASSERT_TRUE(listedFolders);
    QStringList sortedNames = names;
    std::sort(sortedNames.begin(), sortedNames.end());
    std::sort(listedFolders->begin(), listedFolders->end());
    EXPECT_EQ(*listedFolders, sortedNames);

    for (Open& o : opened) {
        o.tab = std::make_unique<MacTab>(link->profile().id, MacProject{o.name, o.path, o.session}, true, link, &keychain);
        o.tab->start(sessionTagCommand(o.session, o.name, o.path, sessions));
    }
    for (const Open& o : opened) {
        SCOPED_TRACE(o.path.toStdString());
        ASSERT_TRUE(waitUntil([&] { return clientCount(o.session) == 1; }, 30000))
            << remoteTmux(QStringLiteral("list-sessions -F '#{session_name}'")).toStdString();
        EXPECT_EQ(remote(QStringLiteral("tmux -u display-message -p -t ") + tmuxOptionTarget(o.session) +
                         QStringLiteral(" '#{session_path}|#{pane_current_path}'")),
                  o.path + u'|' + o.path + u'\n');
        EXPECT_EQ(option(o.session, "@hv_open"), QStringLiteral("1"));
        EXPECT_EQ(option(o.session, "@hv_name"), test::cleanedTag(o.name));
        EXPECT_EQ(option(o.session, "@hv_path"), test::cleanedTag(o.path));
    }
    const auto state = parseListingOutput(remote(listingScript()));
    ASSERT_TRUE(state);
    ASSERT_EQ(state->open.size(), qsizetype(opened.size()));
    EXPECT_EQ(state->sessions.size(), opened.size()); // no stray session
    const QList<FolderSession> folderSessions = parseSessionList(remote(sessionListScript()));
    for (qsizetype k = 0; k < qsizetype(opened.size()); ++k) {
        const Open& o = opened.at(size_t(k));
        SCOPED_TRACE(o.path.toStdString());
        EXPECT_TRUE(state->open.at(k).created);
        EXPECT_EQ(state->open.at(k), (HostTab{o.session, k + 1, test::cleanedTag(o.name), test::cleanedTag(o.path), std::nullopt,
                                              state->open.at(k).created}));
        EXPECT_TRUE(std::any_of(folderSessions.cbegin(), folderSessions.cend(),
                                [&](const FolderSession& f) { return f.name == o.session && f.path == o.path; }));
    }

    // Seeding writes the same tags; reordering, closing and reopening reach every session.
    for (qsizetype k = 0; k < qsizetype(opened.size()); ++k) {
        const Open& o = opened.at(size_t(k));
        remote(tmuxSessionScript(o.session, o.name, o.path, qint64(opened.size()) - k));
    }
    for (qsizetype k = 0; k < qsizetype(opened.size()); ++k)
        EXPECT_EQ(option(opened.at(size_t(k)).session, "@hv_order"), QString::number(qsizetype(opened.size()) - k));
    remote(tmuxReorderScript(sessions));
    for (const Open& o : opened)
        remote(sessionUntagScript(o.session));
    for (qsizetype k = 0; k < sessions.size(); ++k) {
        EXPECT_EQ(option(sessions.at(k), "@hv_order"), QString::number(k + 1));
        EXPECT_EQ(option(sessions.at(k), "@hv_open"), QString());
    }
    for (Open& o : opened) {
        o.tab->stop();
        o.tab->start(sessionTagCommand(o.session, o.name, o.path, sessions));
    }
    for (const Open& o : opened) {
        SCOPED_TRACE(o.path.toStdString());
        ASSERT_TRUE(waitUntil([&] { return clientCount(o.session) == 1; }, 30000));
        EXPECT_EQ(option(o.session, "@hv_open"), QStringLiteral("1"));
    }
    for (Open& o : opened) {
        o.tab->stop();
        remote(sessionKillScript(o.session));
    }
    EXPECT_EQ(remote(QStringLiteral("tmux list-sessions -F x 2>/dev/null")), QString());
    remote(QStringLiteral("tmux kill-server 2>/dev/null"));

    QStringList created;
    QDirIterator files(server->folder(), {QStringLiteral("pwned*")}, QDir::AllEntries | QDir::Hidden | QDir::System,
                       QDirIterator::Subdirectories);
    while (files.hasNext())
        created << files.next();
    EXPECT_EQ(created, QStringList{});
}

// On the server too, with tmux and without: a folder gone or closed to the account makes no
// session and runs no shell the user would type into.
TEST_F(ServerTab, AFolderTheAccountCannotEnterGetsNoSessionAndNoShell)
{
    SSHLink::setProgramForTests(server->keyClient());
    SecretStore keychain(std::make_unique<MemorySecretBackend>());
    const QString remote = server->remoteHome();
    // Every interactive shell of the account leaves a line.
    ASSERT_TRUE(test::writeAll(remote + QStringLiteral("/.profile"),
                               "export TMUX_TMPDIR=\"$HOME\"\ncase $- in *i*) echo x >> \"$HOME/interactive\";; esac\n"));
    // Made by this test's account, which is not hvtest, and closed to others.
    const QString closed = remote + QStringLiteral("/projets/closed");
    ASSERT_TRUE(QDir().mkpath(closed));
    ASSERT_TRUE(QFile::setPermissions(closed, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner));
    const QString gone = remote + QStringLiteral("/projets/gone");
    link = std::make_shared<SSHLink>(server->profile());
    const struct { QString path; bool tmux; FolderRefusal refusal; } cases[] = {
        {gone, true, FolderRefusal::missing},
        {closed, true, FolderRefusal::inaccessible},
        {gone, false, FolderRefusal::missing},
        {closed, false, FolderRefusal::inaccessible},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.path.toStdString() + (c.tmux ? " with tmux" : " without tmux"));
        const QString name = tmuxSessionName(c.path);
        MacTab tab(link->profile().id, MacProject{QStringLiteral("p"), c.path, name}, c.tmux, link, &keychain);
        int exits = 0;
        tab.onExit = [&](MacTab&) { ++exits; };
        tab.start(c.tmux ? std::optional<QString>(sessionTagCommand(name, QStringLiteral("p"), c.path, {name})) : std::nullopt);
        ASSERT_TRUE(waitUntil([&] { return exits == 1; }, 30000)) << screenText(*tab.terminal->terminal);
        EXPECT_EQ(tab.folderRefusal, c.refusal) << screenText(*tab.terminal->terminal);
    }
    EXPECT_EQ(remoteTmux(QStringLiteral("list-sessions -F '#{session_name}'")), QString());
    EXPECT_FALSE(QFile::exists(remote + QStringLiteral("/interactive")));
    // The same shell in a folder it can enter is an interactive one, and leaves its line.
    MacTab open(link->profile().id, MacProject{QStringLiteral("demo"), projectPath, session}, false, link, &keychain);
    open.start();
    EXPECT_TRUE(waitUntil([&] { return QFile::exists(remote + QStringLiteral("/interactive")); }, 30000))
        << screenText(*open.terminal->terminal);
    EXPECT_FALSE(open.folderRefusal);
    open.stop();
}

// Nothing gives this server's shells a locale (its sshd accepts no LANG or LC_* from the client,
// and its login files set none): the tab still shows UTF-8 text as it is.
TEST_F(ServerTab, TextBeyondASCIIShowsWithoutALocaleOnTheServer)
{
    SSHLink::setProgramForTests(server->keyClient());
    SecretStore keychain(std::make_unique<MemorySecretBackend>());
    std::unique_ptr<MacTab> tab = startTab(keychain);
    const ShellResult<QString> environment = test::runSync(link->runCommand(QStringLiteral("$SHELL -lc env"), std::nullopt, 25));
    ASSERT_TRUE(environment);
    for (const QString& line : environment.value().split(u'\n')) {
        EXPECT_FALSE(line.startsWith(QStringLiteral("LANG=")) || line.startsWith(QStringLiteral("LC_")) ||
                     line.startsWith(QStringLiteral("LANGUAGE=")))
            << line.toStdString();
    }
    // Typed as ASCII: only the output holds the characters.
    tab->terminal->send(std::string_view("clear; printf '\\303\\251t\\303\\251 \\342\\234\\223 \\346\\227\\245\\346\\234\\254\\n'\r"));
    const auto shown = [&] {
        const QStringList lines = QString::fromStdString(screenText(*tab->terminal->terminal)).split(u'\n');
        return lines.contains(QStringLiteral("\u00E9t\u00E9 \u2713 \u65E5\u672C"));
    };
    EXPECT_TRUE(waitUntil(shown, 20000)) << screenText(*tab->terminal->terminal);
    tab->stop();
    remoteTmux(QStringLiteral("kill-server"));
}

TEST_F(ServerTab, ConnectionListsTheVisibleFoldersOfARootWithAQuoteInItsName)
{
    const QString root = server->remoteHome() + QStringLiteral("/it's root");
    for (const char* name : {".git", "b", "A"})
        ASSERT_TRUE(QDir().mkpath(root + u'/' + QString::fromLatin1(name)));
    ASSERT_TRUE(test::writeAll(root + QStringLiteral("/z.txt"), "z"));
    SSHLink::setProgramForTests(server->keyClient());
    MacProfile profile = server->profile();
    profile.projectsRoot = QStringLiteral("~/it's root");
    MacConnection connection(link = std::make_shared<SSHLink>(profile));
    ASSERT_TRUE(test::runSync(connection.link->fetchRemoteHome()));
    ASSERT_EQ(connection.projectRoots(), QStringList{root});
    EXPECT_EQ(test::runSync(connection.listFolders(root)), (QStringList{QStringLiteral("A"), QStringLiteral("b")}));
    EXPECT_TRUE(test::runSync(connection.listFolders(root + QStringLiteral("/none"))).isEmpty());
    // A root the account cannot enter is a failed listing, not an empty one.
    const QString closed = server->remoteHome() + QStringLiteral("/closed");
    ASSERT_TRUE(QDir().mkpath(closed + QStringLiteral("/inside")));
    ASSERT_TRUE(QFile::setPermissions(closed, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner));
    EXPECT_EQ(test::runSync(connection.tryListFolders(closed)), std::nullopt);
    const std::optional<QStringList> missing = test::runSync(connection.tryListFolders(root + QStringLiteral("/none")));
    EXPECT_EQ(missing, std::optional<QStringList>(QStringList{}));
}

// A server that gives one connection two sessions and takes only passwords once the tabs'
// master connection is up (its key is taken out then), with a login file that asks for "a
// password" in ssh's own words before tmux attaches. Two tabs hold both sessions of the
// master; a third is refused there: the link learns the limit, that tab and the newest other
// one log in on their own, and each gets the remembered password at ssh's own prompt, as
// does a fourth tab opened later. The login file's question never gets it, in any tab.
TEST(ServerTabSessionLimit, TabsBeyondTheLimitLogInOnTheirOwnWithTheRememberedPassword)
{
    if (QStandardPaths::findExecutable(QStringLiteral("tmux")).isEmpty())
        GTEST_FAIL() << "tmux is missing: install the Debian package tmux";
    test::SshServer server({.passwordLogin = true, .maxSessions = 2});
    ASSERT_TRUE(server.running()) << server.failure().toStdString();
    const test::PasswordWindow window;
    ASSERT_TRUE(window.failure.isEmpty()) << window.failure.toStdString();
    test::TempFolder home;
    const test::EnvironmentOverride environment{"HOME", home.path()};
    const QString remote = server.remoteHome();
    const QString answers = remote + QStringLiteral("/answers");
    ASSERT_TRUE(test::writeAll(remote + QStringLiteral("/.profile"),
                               "export TMUX_TMPDIR=\"$HOME\"\n"
                               "if [ -t 0 ]; then printf '%s@%s'\\''s password: ' hvtest 127.0.0.1; read -r -t 2 line;"
                               " printf '[%s]\\n' \"$line\" >> \"$HOME/answers\"; fi\n"));
    const passwd* account = ::getpwnam(test::SshServer::user);
    ASSERT_NE(account, nullptr);
    QList<MacProject> projects;
    for (const char* name : {"a", "b", "c", "d"}) {
        const QString path = remote + QStringLiteral("/projets/") + QLatin1String(name);
        ASSERT_TRUE(QDir().mkpath(path));
        for (const QString& made : {remote + QStringLiteral("/projets"), path})
            ASSERT_EQ(::chown(QFile::encodeName(made).constData(), account->pw_uid, account->pw_gid), 0);
        projects << MacProject{QLatin1String(name), path, tmuxSessionName(path)};
    }

    SSHLink::setProgramForTests(server.keyClient());
    auto link = std::make_shared<SSHLink>(server.profile());
    ASSERT_TRUE(test::runSync(link->fetchRemoteHome())) << server.log().toStdString();
    // The test's own commands go over a master connection of their own.
    auto checks = std::make_shared<SSHLink>(server.profile(QStringLiteral("checks")));
    ASSERT_TRUE(test::runSync(checks->fetchRemoteHome())) << server.log().toStdString();
    ASSERT_TRUE(test::writeAll(server.folder() + QStringLiteral("/authorized_keys"), QByteArray()));
    const auto clients = [&](const MacProject& project) {
        const ShellResult<QString> listed = test::runSync(checks->runCommand(
            QStringLiteral("TMUX_TMPDIR=\"$HOME\" tmux list-clients -t ") + tmuxSessionTarget(project.session)
                + QStringLiteral(" -F x 2>/dev/null; true"),
            std::nullopt, 25));
        return listed ? listed.value().count(u'x') : -1;
    };

    auto backend = std::make_unique<MemorySecretBackend>();
    backend->write(ProfileStore::passwordKey(server.profile().id), QString::fromLatin1(test::SshServer::password));
    SecretStore keychain(std::move(backend));
    std::vector<std::unique_ptr<MacTab>> tabs;
    for (const MacProject& project : projects.mid(0, 3)) {
        tabs.push_back(std::make_unique<MacTab>(link->profile().id, project, true, link, &keychain));
        MacTab& tab = *tabs.back();
        tab.start(sessionTagCommand(project.session, project.name, project.path, {project.session}));
        // One after the other: the first two hold the master's sessions before the third asks.
        if (tabs.size() < 3) {
            ASSERT_TRUE(waitUntil([&] { return clients(project) == 1; }, 30000))
                << screenText(*tab.terminal->terminal) << server.log().toStdString();
        }
    }
    for (qsizetype k = 0; k < 3; ++k) {
        SCOPED_TRACE(k);
        EXPECT_TRUE(waitUntil([&] { return clients(projects.at(k)) == 1; }, 30000))
            << screenText(*tabs.at(size_t(k))->terminal->terminal);
        EXPECT_TRUE(tabs.at(size_t(k))->isLive());
    }
    EXPECT_EQ(link->sharedSessions().limit(), 2);
    EXPECT_TRUE(tabs.at(0)->ridesSharedConnection());
    EXPECT_FALSE(tabs.at(0)->autofill);
    for (const size_t k : {size_t(1), size_t(2)}) {
        SCOPED_TRACE(k);
        EXPECT_FALSE(tabs.at(k)->ridesSharedConnection());
    }
    // Typed by the two tabs that went on their own, once each.
    EXPECT_EQ(server.log().count(QStringLiteral("Accepted password for hvtest")), 2) << server.log().toStdString();
    // The one session the tabs left is the commands'.
    const ShellResult<QString> command = test::runSync(link->runCommand(QStringLiteral("echo ok"), std::nullopt, 25));
    EXPECT_TRUE(command && command.value() == QStringLiteral("ok\n"))
        << (command ? command.value() : command.error().message).toStdString();
    // A tab opened now is beyond the tabs' budget while the master is live: it logs in on its
    // own, and ssh's prompt gets the password.
    const MacProject& fourth = projects.at(3);
    tabs.push_back(std::make_unique<MacTab>(link->profile().id, fourth, true, link, &keychain));
    tabs.back()->start(sessionTagCommand(fourth.session, fourth.name, fourth.path, {fourth.session}));
    EXPECT_TRUE(waitUntil([&] { return clients(fourth) == 1; }, 30000))
        << screenText(*tabs.back()->terminal->terminal) << server.log().toStdString();
    EXPECT_FALSE(tabs.back()->ridesSharedConnection());
    EXPECT_EQ(server.log().count(QStringLiteral("Accepted password for hvtest")), 3) << server.log().toStdString();
    const QByteArray answered = test::readAll(answers);
    EXPECT_FALSE(answered.isEmpty());
    EXPECT_FALSE(answered.contains(test::SshServer::password)) << answered.toStdString();
    for (const std::unique_ptr<MacTab>& tab : tabs)
        tab->stop();
    test::runSync(checks->runCommand(QStringLiteral("TMUX_TMPDIR=\"$HOME\" tmux kill-server 2>/dev/null; true"), std::nullopt, 25));
    QCoro::waitFor(link->closeMaster());
    QCoro::waitFor(checks->closeMaster());
    SSHLink::setProgramForTests(QStringLiteral("/usr/bin/ssh"));
}

// The login shell that runs a server tab's command (dash, zsh) reads a profile that puts a
// relative folder first in PATH, and the project holds a bin/tmux that leaves a file and
// fails: the command never enters the folder, so every tmux it runs is the server's own, and
// tmux puts the session's shell in the folder.
TEST(ServerTabLoginShells, ItsStartRunsNoTmuxTheProjectHolds)
{
    if (QStandardPaths::findExecutable(QStringLiteral("tmux")).isEmpty())
        GTEST_FAIL() << "tmux is missing: install the Debian package tmux";
    const struct { const char* shell; const char* package; } shells[] = {{"/bin/dash", "dash"}, {"/bin/zsh", "zsh"}};
    for (const auto& s : shells) {
        SCOPED_TRACE(s.shell);
        if (!QFileInfo(QLatin1String(s.shell)).isExecutable())
            GTEST_FAIL() << s.shell << " is missing: install the Debian package " << s.package;
        test::SshServer server({.loginShell = QLatin1String(s.shell)});
        ASSERT_TRUE(server.running()) << server.failure().toStdString();
        test::TempFolder home;
        const test::EnvironmentOverride environment{"HOME", home.path()};
        const QString remote = server.remoteHome();
        const QByteArray profile = "export TMUX_TMPDIR=\"$HOME\"\nexport PATH=\"./bin:$PATH\"\n";
        for (const char* name : {"/.profile", "/.zprofile"})
            ASSERT_TRUE(test::writeAll(remote + QLatin1String(name), profile));
        const QString project = remote + QStringLiteral("/projets/demo");
        const QString stand = project + QStringLiteral("/bin/tmux");
        ASSERT_TRUE(QDir().mkpath(project + QStringLiteral("/bin")));
        ASSERT_TRUE(test::writeAll(stand, "#!/bin/sh\ntouch \"$HOME/project-tmux-ran\"\nexit 1\n"));
        ASSERT_TRUE(QFile::setPermissions(stand, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner |
                                                     QFile::ReadOther | QFile::ExeOther));
        const passwd* account = ::getpwnam(test::SshServer::user);
        ASSERT_NE(account, nullptr);
        for (const QString& path : {remote + QStringLiteral("/projets"), project, project + QStringLiteral("/bin"), stand})
            ASSERT_EQ(::chown(QFile::encodeName(path).constData(), account->pw_uid, account->pw_gid), 0);

        SSHLink::setProgramForTests(server.keyClient());
        auto link = std::make_shared<SSHLink>(server.profile());
        const auto remoteTmux = [&](const QString& command) {
            const ShellResult<QString> result = test::runSync(link->runCommand(
                QStringLiteral("TMUX_TMPDIR=\"$HOME\" tmux ") + command + QStringLiteral(" 2>/dev/null; true"), std::nullopt, 25));
            return result ? result.value().trimmed() : QString();
        };
        SecretStore keychain(std::make_unique<MemorySecretBackend>());
        const QString session = tmuxSessionName(project);
        MacTab tab(link->profile().id, MacProject{QStringLiteral("demo"), project, session}, true, link, &keychain);
        tab.start(sessionTagCommand(session, QStringLiteral("demo"), project, {session}));
        EXPECT_TRUE(waitUntil([&] { return !tab.isLive() || tab.terminal->terminal->isCurrentBufferAlternate(); }, 30000));
        EXPECT_TRUE(tab.isLive()) << screenText(*tab.terminal->terminal);
        EXPECT_FALSE(QFile::exists(remote + QStringLiteral("/project-tmux-ran")));
        EXPECT_EQ(remoteTmux(QStringLiteral("display-message -p -t ") + tmuxOptionTarget(session) +
                             QStringLiteral(" '#{pane_current_path}'")),
                  project);
        EXPECT_EQ(remoteTmux(QStringLiteral("show-options -v -t ") + tmuxOptionTarget(session) + QStringLiteral(" @hv_open")),
                  QStringLiteral("1"));
        tab.stop();
        remoteTmux(QStringLiteral("kill-server"));
        QCoro::waitFor(link->closeMaster());
        SSHLink::setProgramForTests(QStringLiteral("/usr/bin/ssh"));
    }
}

} // namespace
} // namespace halvoren
