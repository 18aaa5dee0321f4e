// Connecting a server of the loopback sshd (see app/remote/SshServer.h): the attach seeds the
// server's tmux with the saved tabs, the connected servers come back after a restart of the
// model, and a server whose sshd stops is unreachable after two failed listings and
// reachable again after one good one.
#include "workspace/MacModel.h"

#include "app/support/SshHost.h"
#include "app/workspace/PrivateTmux.h"
#include "platform/Notifier.h"
#include "tab/MacTab.h"
#include "remote/SessionNaming.h"
#include "remote/ShellQuote.h"
#include "platform/SecretStore.h"

#include <QDirIterator>
#include <QProcess>
#include <QTest>

#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <csignal>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

namespace halvoren {
namespace {

// The pid of the run's listening sshd, whose title names the run's configuration (the
// session processes name their user instead).
pid_t daemonOf(const test::SshServer& server)
{
    const QByteArray wanted = QFile::encodeName(server.folder() + QStringLiteral("/sshd_config"));
    QDirIterator entries(QStringLiteral("/proc"), QDir::Dirs | QDir::NoDotAndDotDot);
    while (entries.hasNext()) {
        entries.next();
        bool number = false;
        const pid_t pid = pid_t(entries.fileName().toInt(&number));
        if (number && test::readAll(entries.filePath() + QStringLiteral("/cmdline")).contains(wanted))
            return pid;
    }
    return -1;
}

bool accepts(int port)
{
    const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(quint16(port));
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    const bool connected = ::connect(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) == 0;
    ::close(fd);
    return connected;
}

struct Instance {
    Prefs& prefs;
    Notifier notifier{QDBusConnection(QStringLiteral("no-bus"))};
    MacModel model{prefs, nullptr, &notifier};
    explicit Instance(Prefs& prefs) : prefs(prefs) { model.isFrontmost = [] { return false; }; }
    // Starts with `profile` as the one server and waits until the connection it brings back
    // has its tabs and has finished its first listing.
    testing::AssertionResult restarted(const MacProfile& profile)
    {
        model.setProfiles({profile});
        QCoro::waitFor(model.start());
        if (!QTest::qWaitFor([&] { return model.connection(profile.id) != nullptr && !model.tabs().isEmpty(); }, 60000))
            return testing::AssertionFailure() << "the server's connection and tabs did not come back";
        MacConnection& connection = *model.connection(profile.id);
        if (!QTest::qWaitFor([&] { return !connection.syncing; }, 30000))
            return testing::AssertionFailure() << "the server's first listing did not finish";
        return testing::AssertionSuccess();
    }
};

TEST(ConnectServer, SeedsRemembersAndTellsUnreachable)
{
    test::SshHost host;
    ASSERT_TRUE(host.ready());

    // The account keeps its tmux server below the run's home, and has one project.
    ASSERT_TRUE(host.keepTmuxAtHome());
    const QString site = host.project(QStringLiteral("site"));
    ASSERT_FALSE(site.isEmpty());
    const MacProfile& profile = host.profile;

    PreferenceStore store(host.localHome.file(QStringLiteral("preferences.json")));
    Prefs prefs(store);
    prefs.setTabs(profile.id, {PersistedTab{QStringLiteral("site"), site, tmuxSessionName(site)}});
    {
        Instance first(prefs);
        first.model.setProfiles({profile});
        // Two overlapping attempts make one connection.
        Task<bool> other = first.model.connect(profile);
        ASSERT_TRUE(QCoro::waitFor(first.model.connect(profile)));
        ASSERT_TRUE(QCoro::waitFor(std::move(other)));
        EXPECT_EQ(first.model.connections().size(), 2);
        EXPECT_TRUE(first.model.reconnecting().isEmpty());
        MacConnection* connection = first.model.connection(profile.id);
        ASSERT_NE(connection, nullptr);
        ASSERT_TRUE(connection->tmuxAvailable());
        ASSERT_EQ(connection->projects().size(), 1);
        ASSERT_EQ(first.model.tabs().size(), 1);
        EXPECT_EQ(first.model.tabs().front()->project.path, site);
        const ShellResult<QString> tags = QCoro::waitFor(connection->link->runScript(
            QStringLiteral("tmux show-options -gqv @hv_sync; tmux show-options -qv -t '=") + tmuxSessionName(site)
                + QStringLiteral(":' @hv_open\n"),
            25));
        ASSERT_TRUE(tags);
        EXPECT_EQ(tags.value().split(u'\n', Qt::SkipEmptyParts), (QStringList{QStringLiteral("1"), QStringLiteral("1")}));
        EXPECT_EQ(prefs.connectedProfiles(), QStringList{profile.id});
    }

    Instance second(prefs);
    ASSERT_TRUE(second.restarted(profile));
    MacConnection& connection = *second.model.connection(profile.id);

    // Nothing may keep a connection to the server open: its tabs and the shared master.
    for (MacTab* tab : QList<MacTab*>(second.model.tabs()))
        second.model.removeTab(*tab);
    QCoro::waitFor(connection.link->closeMaster());
    const pid_t daemon = daemonOf(host.server);
    ASSERT_GT(daemon, 0);
    ::kill(daemon, SIGTERM);
    ASSERT_TRUE(QTest::qWaitFor([&] { return !accepts(host.server.port()); }, 10000));
    QCoro::waitFor(second.model.requestSync(connection));
    EXPECT_FALSE(connection.unreachable());
    QCoro::waitFor(second.model.requestSync(connection));
    EXPECT_TRUE(connection.unreachable());

    QProcess again;
    again.setProgram(QStringLiteral("/usr/sbin/sshd"));
    again.setArguments({QStringLiteral("-D"), QStringLiteral("-e"), QStringLiteral("-f"), host.server.folder() + QStringLiteral("/sshd_config")});
    again.setStandardOutputFile(QProcess::nullDevice());
    again.setStandardErrorFile(QProcess::nullDevice());
    again.start();
    ASSERT_TRUE(QTest::qWaitFor([&] { return accepts(host.server.port()); }, 10000));
    QCoro::waitFor(second.model.requestSync(connection));
    EXPECT_FALSE(connection.unreachable());
    EXPECT_EQ(connection.failures, 0);
    QCoro::waitFor(connection.link->runScript(QStringLiteral("tmux kill-server\n"), 25));
    QCoro::waitFor(second.model.disconnect(connection));
    EXPECT_TRUE(prefs.connectedProfiles().isEmpty());
    again.terminate();
    again.waitForFinished();
}

// Until a listing of a server is applied, its saved tabs are all this computer knows of its
// tabs: saving the tab list while the server connects, while its projects and first listing
// are read, while it is seeded and while it is listed again keeps them as they were.
TEST(ConnectServer, SavingBeforeTheFirstListingIsAppliedKeepsTheServersSavedTabs)
{
    test::SshHost host;
    ASSERT_TRUE(host.ready());
    ASSERT_TRUE(host.keepTmuxAtHome());
    const QString site = host.project(QStringLiteral("site"));
    ASSERT_FALSE(site.isEmpty());
    const MacProfile& profile = host.profile;
    PreferenceStore store(host.localHome.file(QStringLiteral("preferences.json")));
    Prefs prefs(store);
    const QList<PersistedTab> saved{{QStringLiteral("site"), site, tmuxSessionName(site)}};
    prefs.setTabs(profile.id, saved);
    Instance instance(prefs);
    QStringList saves;
    QStringList lost;
    const auto save = [&](const QString& when) {
        if (!instance.model.tabs().isEmpty())
            return;
        saves << when;
        instance.model.persistTabs();
        if (prefs.tabs(profile.id) != saved)
            lost << when;
    };
    QObject::connect(&instance.model, &MacModel::reconnectingChanged, [&] {
        if (instance.model.reconnecting().contains(profile.id))
            save(QStringLiteral("connecting"));
    });
    const auto run = instance.model.runScript;
    instance.model.runScript = [&save, run](MacConnection& connection, QString script, double timeout) {
        if (connection.link)
            save(script.contains(QStringLiteral("@hv_sync 1"))      ? QStringLiteral("seeding")
                 : script.contains(QStringLiteral("@@HV_SHARED@@")) ? QStringLiteral("listing")
                                                                    : QStringLiteral("other"));
        return run(connection, std::move(script), timeout);
    };
    const auto list = instance.model.listFolders;
    instance.model.listFolders = [&save, list](MacConnection& connection, QString folder) {
        if (connection.link)
            save(QStringLiteral("projects"));
        return list(connection, std::move(folder));
    };
    instance.model.setProfiles({profile});
    ASSERT_TRUE(QCoro::waitFor(instance.model.connect(profile)));
    MacConnection* connection = instance.model.connection(profile.id);
    ASSERT_NE(connection, nullptr);
    ASSERT_TRUE(QTest::qWaitFor([&] { return !connection->syncing; }, 30000));
    saves.removeAll(QStringLiteral("other"));
    EXPECT_EQ(saves, (QStringList{QStringLiteral("connecting"), QStringLiteral("projects"), QStringLiteral("listing"),
                                  QStringLiteral("seeding"), QStringLiteral("listing")}));
    EXPECT_TRUE(lost.isEmpty()) << "saved tabs lost while " << lost.join(u',').toStdString();
    ASSERT_EQ(instance.model.tabs().size(), 1);
    EXPECT_EQ(instance.model.tabs().front()->project.path, site);
    EXPECT_EQ(prefs.tabs(profile.id), saved);
    for (MacTab* tab : QList<MacTab*>(instance.model.tabs()))
        instance.model.removeTab(*tab);
    QCoro::waitFor(connection->link->runScript(QStringLiteral("tmux kill-server\n"), 25));
    QCoro::waitFor(instance.model.disconnect(*connection));
}

// "Supprimer" while the server is connecting: the attempt that reached it lets it go, closes
// the master connection it opened and stores nothing.
TEST(ConnectServer, AServerDeletedWhileItConnectsStaysAwayAndItsMasterCloses)
{
    test::SshHost host;
    ASSERT_TRUE(host.ready());
    // A slow server: every ssh answers two seconds after it is done.
    const QString slow = host.localHome.file(QStringLiteral("slow-ssh"));
    ASSERT_TRUE(test::writeAll(slow, ("#!/bin/sh\n" + shellQuote(host.server.keyClient()) + " \"$@\"\nstatus=$?\nsleep 2\nexit $status\n").toUtf8()));
    ASSERT_TRUE(QFile::setPermissions(slow, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner));
    SSHLink::setProgramForTests(slow);
    PreferenceStore store(host.localHome.file(QStringLiteral("preferences.json")));
    Prefs prefs(store);
    SecretStore keychain(std::make_unique<MemorySecretBackend>());
    Notifier notifier{QDBusConnection(QStringLiteral("no-bus"))};
    MacModel model(prefs, &keychain, &notifier);
    const MacProfile& profile = host.profile;
    model.setProfiles({profile});
    Task<bool> connecting = model.connect(profile);
    const QString socket = SSHLink(profile).controlPath();
    ASSERT_TRUE(QTest::qWaitFor([&] { return QFileInfo::exists(socket); }, 30000)) << host.server.log().toStdString();
    ASSERT_TRUE(model.reconnecting().contains(profile.id));
    QCoro::waitFor(model.removeProfile(profile));
    EXPECT_FALSE(QCoro::waitFor(std::move(connecting)));
    EXPECT_EQ(model.connection(profile.id), nullptr);
    EXPECT_EQ(model.connections().size(), 1);
    EXPECT_TRUE(model.reconnecting().isEmpty());
    EXPECT_TRUE(model.profiles().isEmpty());
    EXPECT_TRUE(prefs.connectedProfiles().isEmpty());
    EXPECT_TRUE(QTest::qWaitFor([&] { return !QFileInfo::exists(socket); }, 10000));
}

// "Supprimer" at the two other waits of a connection: after the master came up while the
// home could not be read (the attempt fails), and during the tmux probe. Either way the server
// is not attached nor remembered, and the master connection closes.
TEST(ConnectServer, AServerDeletedAfterItsMasterCameUpStaysAwayAndItsMasterCloses)
{
    test::SshHost host;
    ASSERT_TRUE(host.ready());
    const QString client = shellQuote(host.server.keyClient());
    const QString flag = host.localHome.file(QStringLiteral("waiting"));
    // Each ssh runs as usual; the one named (as it stands quoted in what ssh sends) leaves a
    // file and is slow to end (the home fetch also fails, as when the login profile hides
    // $HOME).
    const struct { const char* name; QString command; const char* afterwards; } cases[] = {
        {"home fetch fails", QString::fromLatin1(SSHLink::remoteHomeCommand).replace(u'\'', QStringLiteral("'\\''")), "exit 1"},
        {"tmux probe", QStringLiteral("command -v tmux"), "exit $status"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        QFile::remove(flag);
        const QString wrapper = host.localHome.file(QStringLiteral("slow-ssh"));
        const QString script = QStringLiteral("#!/bin/sh\n") + client + QStringLiteral(" \"$@\"\nstatus=$?\ncase \"$*\" in *")
            + shellQuote(c.command) + QStringLiteral("*) : > ") + shellQuote(flag) + QStringLiteral("; sleep 2; ")
            + QLatin1String(c.afterwards) + QStringLiteral(";; esac\nexit $status\n");
        ASSERT_TRUE(test::writeAll(wrapper, script.toUtf8()));
        ASSERT_TRUE(QFile::setPermissions(wrapper, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner));
        SSHLink::setProgramForTests(wrapper);
        PreferenceStore store(host.localHome.file(QStringLiteral("preferences.json")));
        Prefs prefs(store);
        SecretStore keychain(std::make_unique<MemorySecretBackend>());
        Notifier notifier{QDBusConnection(QStringLiteral("no-bus"))};
        MacModel model(prefs, &keychain, &notifier);
        const MacProfile& profile = host.profile;
        model.setProfiles({profile});
        Task<bool> connecting = model.connect(profile);
        const QString socket = SSHLink(profile).controlPath();
        ASSERT_TRUE(QTest::qWaitFor([&] { return QFileInfo::exists(flag); }, 30000)) << host.server.log().toStdString();
        ASSERT_TRUE(QFileInfo::exists(socket));
        QCoro::waitFor(model.removeProfile(profile));
        EXPECT_FALSE(QCoro::waitFor(std::move(connecting)));
        EXPECT_EQ(model.connection(profile.id), nullptr);
        EXPECT_EQ(model.connections().size(), 1);
        EXPECT_TRUE(model.reconnecting().isEmpty());
        EXPECT_TRUE(prefs.connectedProfiles().isEmpty());
        EXPECT_TRUE(QTest::qWaitFor([&] { return !QFileInfo::exists(socket); }, 10000));
    }
}

// A server folder with the longest name a file system allows (85 three-byte letters) keeps
// its tab: opened and tagged, its numbered session named "N (2)", closed, and restored by the
// next start of the model.
TEST(ConnectServer, TheLongestFolderNameKeepsItsTab)
{
    test::SshHost host;
    ASSERT_TRUE(host.ready());
    ASSERT_TRUE(host.keepTmuxAtHome());
    const QString name(85, QChar(0x6F22));
    const QString site = host.project(name);
    ASSERT_FALSE(site.isEmpty());
    const MacProfile& profile = host.profile;
    PreferenceStore store(host.localHome.file(QStringLiteral("preferences.json")));
    Prefs prefs(store);
    const QString base = tmuxSessionName(site);
    const QString second = base + QStringLiteral("-2");
    {
        Instance first(prefs);
        first.model.setProfiles({profile});
        ASSERT_TRUE(QCoro::waitFor(first.model.connect(profile)));
        MacConnection* connection = first.model.connection(profile.id);
        ASSERT_NE(connection, nullptr);
        ASSERT_TRUE(connection->tmuxAvailable());
        ASSERT_EQ(connection->projects().size(), 1);
        const MacProject project = connection->projects().front();
        EXPECT_EQ(project.name, name);
        EXPECT_EQ(project.session, base);
        const auto tags = [&](const QString& session) {
            const ShellResult<QString> output = QCoro::waitFor(connection->link->runScript(
                QStringLiteral("tmux -u show-options -qv -t '=") + session + QStringLiteral(":' @hv_open; tmux -u show-options -qv -t '=")
                    + session + QStringLiteral(":' @hv_name; tmux -u show-options -qv -t '=") + session
                    + QStringLiteral(":' @hv_path\n"),
                25));
            return output ? output.value().split(u'\n', Qt::SkipEmptyParts) : QStringList{QStringLiteral("failed")};
        };
        first.model.openProject(project, *connection);
        first.model.openAnotherSession(name, site, *connection);
        ASSERT_TRUE(QTest::qWaitFor([&] { return tags(second).size() == 3; }, 30000)) << tags(second).join(u'|').toStdString();
        EXPECT_EQ(tags(second), (QStringList{QStringLiteral("1"), name + QStringLiteral(" (2)"), site}));
        ASSERT_TRUE(QTest::qWaitFor([&] { return tags(base).size() == 3; }, 30000));
        EXPECT_EQ(tags(base), (QStringList{QStringLiteral("1"), name, site}));
        ASSERT_EQ(first.model.tabs().size(), 2);
        first.model.closeTab(*first.model.tabs().front());
        ASSERT_TRUE(QTest::qWaitFor([&] { return tags(base).size() == 2; }, 30000));
        EXPECT_EQ(tags(base), (QStringList{name, site}));
        EXPECT_FALSE(first.model.banner().has_value()) << first.model.banner()->toStdString();
        for (MacTab* tab : first.model.tabs())
            tab->stop();
    }

    // The next start lists the numbered tab and restores it by its name.
    Instance next(prefs);
    ASSERT_TRUE(next.restarted(profile));
    MacConnection& connection = *next.model.connection(profile.id);
    ASSERT_EQ(next.model.tabs().size(), 1);
    EXPECT_EQ(next.model.tabs().front()->project.name, name + QStringLiteral(" (2)"));
    EXPECT_EQ(next.model.tabs().front()->project.session, second);
    EXPECT_EQ(next.model.tabs().front()->project.path, site);
    for (MacTab* tab : QList<MacTab*>(next.model.tabs()))
        next.model.removeTab(*tab);
    QCoro::waitFor(connection.link->runScript(QStringLiteral("tmux kill-server\n"), 25));
    QCoro::waitFor(next.model.disconnect(connection));
}

} // namespace
} // namespace halvoren
