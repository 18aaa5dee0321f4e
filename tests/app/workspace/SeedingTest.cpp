// Seeding a host that was never synchronised, through the real login shell on this computer
// and a tmux server of the test's own: the saved tabs become sessions only in their own
// folders, and they stay saved until a listing shows the sessions the seeding made, whatever
// the host's tmux or awk answer meanwhile.
#include "workspace/MacModel.h"

#include "app/support/TempFolder.h"
#include "app/support/TmuxCommand.h"
#include "app/support/TmuxInstalled.h"
#include "app/support/WorkspaceModel.h"
#include "app/workspace/PrivateTmux.h"
#include "tab/MacTab.h"
#include "remote/SSHLink.h"
#include "remote/ServerState.h"
#include "remote/SessionNaming.h"
#include "remote/ShellQuote.h"

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QStandardPaths>
#include <QTest>

#include <gtest/gtest.h>

namespace halvoren {
namespace {

using test::tmux;
using test::tmuxOption;

// A home with a tmux server of its own (none runs until a session is made), whose login shell
// reads `.profile`.
struct Host {
    test::TempFolder home;
    test::EnvironmentOverride environment;

    Host()
    {
        QDir().mkpath(home.file(QStringLiteral("sockets")));
        environment.set("HOME", home.path());
        environment.set("TMUX_TMPDIR", home.file(QStringLiteral("sockets")));
        environment.set("SHELL", QStringLiteral("/bin/sh"));
        QDir().mkpath(home.file(QStringLiteral(".halvoren")));
        test::writeAll(home.file(QStringLiteral(".halvoren/shared.json")), "{\"favorites\":[],\"hidden\":[],\"version\":1}");
    }
    ~Host() { tmux({QStringLiteral("kill-server")}); }
    QString folder(const QString& name)
    {
        QDir().mkpath(home.file(name));
        return home.file(name);
    }
    static bool hasSession(const QString& session)
    {
        QProcess process;
        process.start(QStringLiteral("tmux"), {QStringLiteral("has-session"), QStringLiteral("-t"), u'=' + session});
        process.waitForFinished();
        return process.exitStatus() == QProcess::NormalExit && process.exitCode() == 0;
    }
    // The login PATH becomes a folder holding `programs` only (links to the real ones) and
    // the stand-in tmux, when one is given.
    void loginPath(const QStringList& programs, const QByteArray& tmuxStandIn = QByteArray())
    {
        const QString bin = home.file(QStringLiteral("bin"));
        QDir(bin).removeRecursively();
        QDir().mkpath(bin);
        for (const QString& program : programs)
            QFile::link(QStandardPaths::findExecutable(program), bin + u'/' + program);
        if (!tmuxStandIn.isEmpty()) {
            test::writeAll(bin + QStringLiteral("/tmux"), tmuxStandIn);
            QFile::setPermissions(bin + QStringLiteral("/tmux"),
                                  QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
        }
        const QByteArray path = programs.isEmpty() ? bin.toUtf8() + ":$PATH" : bin.toUtf8();
        test::writeAll(home.file(QStringLiteral(".profile")), "export PATH=\"" + path + "\"\n");
    }
    void plainLogin() { QFile::remove(home.file(QStringLiteral(".profile"))); }
};

// tmux that makes and tags sessions, but whose listing `listing` answers.
QByteArray tmuxListingAs(const QByteArray& listing)
{
    return "#!/bin/sh\ncase \"$*\" in\n*list-sessions*) " + listing + " ;;\nesac\nexec "
         + QStandardPaths::findExecutable(QStringLiteral("tmux")).toUtf8() + " \"$@\"\n";
}

// tmux after an upgrade while the old server runs: every command fails.
const QByteArray tmuxOfAnotherVersion = "#!/bin/sh\necho 'protocol version mismatch (client 8, server 7)' >&2\nexit 1\n";

// tmux whose server runs but can make no session (the host is out of processes): the rest
// of its commands work.
QByteArray tmuxMakingNoSession()
{
    return "#!/bin/sh\ncase $1 in new-session|new) echo 'create window failed: fork failed' >&2; exit 1 ;; esac\nexec "
         + QStandardPaths::findExecutable(QStringLiteral("tmux")).toUtf8() + " \"$@\"\n";
}

using Instance = test::SyncingModel;

// After a seeding that made the saved tabs' sessions, a listing that shows none of them (an
// empty one, or a tmux that exits 1 as when its client no longer reaches the server)
// rewrites nothing: the saved tabs stay, the next listing seeds and checks again, and the
// user hears of it once. A seeding that made nothing at all (a tmux that fails every command)
// fails the same way, and so does one whose tmux server runs the user's own session but can
// make no other: neither is marked synchronised, so no later listing of it is followed. Rows
// read through an awk the host does not have are no listing: the host is neither seeded nor
// followed, and says why. The first good listing opens the tabs; until then the preferences
// are not written.
TEST(Seeding, SavedTabsStayUntilAListingShowsTheSeededSessions)
{
    ASSERT_TRUE(test::tmuxInstalled());
    const struct {
        const char* description;
        QStringList programs;
        QByteArray tmux;
        bool seeded;
        bool awkMissing;
        bool userSession;
    } cases[] = {
        {"empty listing", {}, tmuxListingAs("exit 0"), true, false, false},
        {"tmux exits 1", {}, tmuxListingAs("exit 1"), true, false, false},
        {"tmux fails every command", {}, tmuxOfAnotherVersion, false, false, false},
        {"a running server that makes no session", {}, tmuxMakingNoSession(), false, false, true},
        {"no awk", {QStringLiteral("tmux"), QStringLiteral("cat"), QStringLiteral("wc"), QStringLiteral("env")}, QByteArray(), false, true, false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.description);
        Host host;
        host.loginPath(c.programs, c.tmux);
        if (c.userSession) {
            tmux({QStringLiteral("new-session"), QStringLiteral("-d"), QStringLiteral("-s"), QStringLiteral("mine")});
            ASSERT_TRUE(Host::hasSession(QStringLiteral("mine")));
        }
        QList<PersistedTab> saved;
        for (const char* name : {"web", "api"}) {
            const QString path = host.folder(QLatin1String(name));
            saved << PersistedTab{QLatin1String(name), path, tmuxSessionName(path)};
        }
        Instance instance;
        instance.prefs.setTabs(MacConnection::localID, saved);
        instance.prefs.setProjectsRoots({host.home.path()});
        const QString preferences = instance.folder.file(QStringLiteral("preferences.json"));
        instance.store.flush();
        const QByteArray stored = test::readAll(preferences);
        QCoro::waitFor(instance.model.start());
        ASSERT_TRUE(instance.local().tmuxAvailable());
        for (const PersistedTab& tab : saved) {
            EXPECT_EQ(Host::hasSession(tab.tmux), c.seeded);
            EXPECT_EQ(tmuxOption(tab.tmux, QStringLiteral("@hv_open")), c.seeded ? QStringLiteral("1") : QString());
        }
        const QStringList syncFlag{QStringLiteral("show-options"), QStringLiteral("-gqv"), QStringLiteral("@hv_sync")};
        EXPECT_EQ(tmux(syncFlag).toStdString(), c.seeded ? "1" : "");
        EXPECT_TRUE(instance.model.tabs().isEmpty());
        EXPECT_EQ(instance.prefs.tabs(MacConnection::localID), saved);
        EXPECT_TRUE(instance.local().seedFromPersisted);
        EXPECT_FALSE(instance.local().unreachable());
        EXPECT_EQ(instance.banners(),
                  QStringList{!c.awkMissing ? MacModel::seededTabsUnlistedMessage(instance.local())
                                            : QStringLiteral("Cet ordinateur n'a pas awk : la liste de ses sessions ne "
                                                             "peut pas être lue, ses onglets restent tels quels.")});
        instance.model.clearBanners();

        // Still the same: seeded and checked again, said once.
        instance.clock->advance(MacModel::reorderHoldOff);
        instance.sync();
        EXPECT_TRUE(instance.model.tabs().isEmpty());
        EXPECT_EQ(instance.prefs.tabs(MacConnection::localID), saved);
        EXPECT_TRUE(instance.banners().isEmpty()) << instance.banners().join(u'\n').toStdString();
        EXPECT_TRUE(instance.local().seedFromPersisted);
        EXPECT_EQ(tmux(syncFlag).toStdString(), c.seeded ? "1" : "");
        instance.store.flush();
        EXPECT_TRUE(test::readAll(preferences) == stored) << "the preferences were written";

        host.plainLogin();
        instance.sync();
        EXPECT_EQ(instance.sessions(), (QStringList{saved.at(0).tmux, saved.at(1).tmux}));
        EXPECT_FALSE(instance.local().seedFromPersisted);
        instance.model.persistTabs();
        EXPECT_EQ(instance.prefs.tabs(MacConnection::localID), saved);
    }
}

// tmux that makes no session in the folders named (the host ran out of processes while it
// made them), and works otherwise; the real one when none is named.
QByteArray tmuxFailingIn(const QStringList& folders)
{
    if (folders.isEmpty())
        return QByteArray();
    QByteArray patterns;
    for (const QString& folder : folders)
        patterns += (patterns.isEmpty() ? "" : "|") + ("*new-session*/" + folder.toUtf8());
    return "#!/bin/sh\ncase \"$*\" in " + patterns + ") echo 'create window failed: fork failed' >&2; exit 1 ;; esac\nexec "
         + QStandardPaths::findExecutable(QStringLiteral("tmux")).toUtf8() + " \"$@\"\n";
}

// A seeding that leaves some saved tabs without a session still marks the host synchronised
// when it made the others, or when every folder was refused, and the host's listing becomes
// the tabs: the tabs tmux could not make are named once, in one message, when a listing is
// applied (the next poll's, when the one right after the seeding does not answer), and their
// projects can be opened again; the refused folders are said as opening them would. A tab a
// seeding tried again makes is not named.
TEST(Seeding, TabsTmuxCouldNotMakeAreNamedOnce)
{
    ASSERT_TRUE(test::tmuxInstalled());
    const QStringList seven{"one", "two", "three", "four", "five", "six", "seven"};
    const struct {
        const char* description;
        QStringList made;
        QStringList notMade;
        QStringList missing;
        bool userSession;
        // The listing right after the seeding times out; the next poll's answers.
        bool relistingFails;
        // Before that poll the host's tmux server ends, and its tmux can make every session:
        // the poll seeds again.
        bool seededAgain;
    } cases[] = {
        {"tmux cannot make the eighth", seven, {"eighth"}, {}, false, false, false},
        {"every folder refused, a server running", {}, {}, {"gone", "left"}, true, false, false},
        {"tmux cannot make the eighth, the next listing times out", seven, {"eighth"}, {}, false, true, false},
        {"tmux cannot make the eighth, a second seeding makes it", seven, {"eighth"}, {}, false, true, true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.description);
        Host host;
        host.loginPath({}, tmuxFailingIn(c.notMade));
        if (c.userSession)
            tmux({QStringLiteral("new-session"), QStringLiteral("-d"), QStringLiteral("-s"), QStringLiteral("mine")});
        QList<PersistedTab> saved;
        QList<PersistedTab> opened;
        QStringList expectedBanners;
        for (const QString& name : c.made + c.notMade + c.missing) {
            const QString path = host.folder(name);
            saved << PersistedTab{name, path, tmuxSessionName(path)};
            if (c.made.contains(name) || (c.seededAgain && c.notMade.contains(name)))
                opened << saved.back();
        }
        for (const QString& name : c.missing) {
            ASSERT_TRUE(QDir(host.home.file(name)).removeRecursively());
            expectedBanners << QStringLiteral("Dossier introuvable : ") + host.home.file(name);
        }
        Instance instance;
        if (!c.notMade.isEmpty() && !c.seededAgain)
            expectedBanners << MacModel::tabsNotMadeMessage(instance.local(), c.notMade);
        instance.prefs.setTabs(MacConnection::localID, saved);
        instance.prefs.setProjectsRoots({host.home.path()});
        bool seeded = false;
        bool failListing = c.relistingFails;
        const auto run = instance.model.runScript;
        instance.model.runScript = [&seeded, &failListing, run](MacConnection& connection, QString script, double timeout) {
            seeded = seeded || script.contains(QStringLiteral("@hv_sync 1"));
            if (seeded && failListing && script.contains(QStringLiteral("@@HV_SHARED@@"))) {
                failListing = false;
                return test::ready(ShellResult<QString>(ShellError{Shell::localTimeoutMessage()}));
            }
            return run(connection, std::move(script), timeout);
        };
        QCoro::waitFor(instance.model.start());
        const QStringList syncFlag{QStringLiteral("show-options"), QStringLiteral("-gqv"), QStringLiteral("@hv_sync")};
        EXPECT_EQ(tmux(syncFlag).toStdString(), "1");
        if (c.relistingFails) {
            // Nothing applied yet: the saved tabs stay, and no tab is named.
            EXPECT_TRUE(instance.model.tabs().isEmpty());
            EXPECT_TRUE(instance.local().seedFromPersisted);
            EXPECT_EQ(instance.prefs.tabs(MacConnection::localID), saved);
            EXPECT_EQ(instance.banners().join(u'\n').toStdString(),
                      MacModel::seededTabsUnlistedMessage(instance.local()).toStdString());
            instance.model.clearBanners();
            if (c.seededAgain) {
                tmux({QStringLiteral("kill-server")});
                host.loginPath({});
            }
            instance.clock->advance(MacModel::reorderHoldOff);
            instance.sync();
        }
        QStringList sessions;
        for (const PersistedTab& tab : opened)
            sessions << tab.tmux;
        EXPECT_EQ(instance.sessions(), sessions);
        EXPECT_FALSE(instance.local().seedFromPersisted);
        EXPECT_EQ(instance.prefs.tabs(MacConnection::localID), opened);
        EXPECT_EQ(instance.banners().join(u'\n').toStdString(), expectedBanners.join(u'\n').toStdString());
        instance.model.clearBanners();

        // Later listings follow the host and say nothing more.
        for (int poll = 0; poll < 3; ++poll) {
            instance.clock->advance(MacModel::reorderHoldOff);
            instance.sync();
        }
        EXPECT_EQ(instance.sessions(), sessions);
        EXPECT_TRUE(instance.banners().isEmpty()) << instance.banners().join(u'\n').toStdString();
        for (const QString& name : c.notMade)
            EXPECT_EQ(Host::hasSession(tmuxSessionName(host.home.file(name))), c.seededAgain);
    }
}

// The tabs a server's seeding could not make are that connection's to name: when its re-listing
// fails and the server is then removed, or reconnected (a new connection in its place), no
// later listing names them, neither this computer's nor the new connection's. The server's
// scripts run in the login shell here, on a tmux server of their own; both tmux servers are
// marked synchronised already, so the listings after it are applied without a seeding.
TEST(Seeding, TabsNotMadeGoWithTheirConnection)
{
    ASSERT_TRUE(test::tmuxInstalled());
    // The server's tabs, once made, start no ssh.
    struct NoSsh {
        NoSsh() { SSHLink::setProgramForTests(QStringLiteral("/bin/false")); }
        ~NoSsh() { SSHLink::setProgramForTests(QStringLiteral("/usr/bin/ssh")); }
    } noSsh;
    const struct {
        const char* description;
        bool reconnected;
    } cases[] = {
        {"removed, then this computer's listing", false},
        {"reconnected, then the new connection's listing", true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.description);
        Host host;
        host.loginPath({}, tmuxFailingIn({QStringLiteral("eighth")}));
        const QString serverSockets = host.home.file(QStringLiteral("server-sockets"));
        QDir().mkpath(serverSockets);
        // This computer's tmux server runs, marked synchronised, with a session of the user's.
        tmux({QStringLiteral("new-session"), QStringLiteral("-d"), QStringLiteral("-s"), QStringLiteral("mine")});
        tmux({QStringLiteral("set-option"), QStringLiteral("-g"), QStringLiteral("@hv_sync"), QStringLiteral("1")});

        const MacProfile profile{QStringLiteral("p1"), QStringLiteral("serveur"), QStringLiteral("h"), 22, {}, host.home.path()};
        QList<PersistedTab> saved;
        for (const char* name : {"one", "eighth"}) {
            const QString path = host.folder(QLatin1String(name));
            saved << PersistedTab{QLatin1String(name), path, tmuxSessionName(path)};
        }
        Instance instance;
        instance.prefs.setTabs(profile.id, saved);
        instance.model.setProfiles({profile});
        bool seeded = false;
        bool failListing = true;
        const auto run = instance.model.runScript;
        instance.model.runScript = [&, run](MacConnection& connection, QString script, double timeout) {
            if (!connection.link)
                return run(connection, std::move(script), timeout);
            seeded = seeded || script.contains(QStringLiteral("@hv_sync 1"));
            if (seeded && failListing && script.contains(QStringLiteral("@@HV_SHARED@@"))) {
                failListing = false;
                return test::ready(ShellResult<QString>(ShellError{Shell::timeoutMessage()}));
            }
            return run(instance.local(), QStringLiteral("TMUX_TMPDIR=") + shellQuote(serverSockets)
                                             + QStringLiteral("\nexport TMUX_TMPDIR\n") + script, timeout);
        };
        const auto list = instance.model.listFolders;
        instance.model.listFolders = [&, list](MacConnection& connection, QString folder) {
            return list(connection.link ? instance.local() : connection, std::move(folder));
        };
        // Attached as the model attaches a server whose tmux answered: its saved tabs to seed.
        const auto attach = [&] {
            auto* server = new MacConnection(std::make_shared<SSHLink>(profile));
            server->prefs = &instance.prefs;
            server->seedFromPersisted = true;
            server->tabSyncReady = true;
            instance.model.appendConnection(server);
            return server;
        };
        MacConnection* server = attach();
        instance.sync(*server);
        ASSERT_TRUE(seeded);
        ASSERT_FALSE(failListing);
        // The seeding made "one" and not "eighth", and its re-listing failed: nothing applied.
        EXPECT_TRUE(server->seedFromPersisted);
        EXPECT_EQ(instance.prefs.tabs(profile.id), saved);
        EXPECT_EQ(instance.banners().join(u'\n').toStdString(), MacModel::seededTabsUnlistedMessage(*server).toStdString());
        instance.model.clearBanners();

        instance.model.removeConnection(server);
        if (c.reconnected) {
            server = attach();
            instance.sync(*server);
            EXPECT_FALSE(server->seedFromPersisted) << "the new connection's listing was not applied";
            EXPECT_EQ(instance.sessions(), QStringList{saved.at(0).tmux});
        } else {
            QCoro::waitFor(instance.model.start());
            EXPECT_FALSE(instance.local().seedFromPersisted) << "this computer's listing was not applied";
        }
        EXPECT_TRUE(instance.banners().isEmpty()) << instance.banners().join(u'\n').toStdString();
        test::EnvironmentOverride serverTmux("TMUX_TMPDIR", serverSockets);
        tmux({QStringLiteral("kill-server")});
    }
}

// The message names a few tabs, each on one line and cut to a readable length, and counts
// the others.
TEST(Seeding, TabsNotMadeMessageNamesAFewAsPlainText)
{
    test::ModelInFolder instance;
    const QString subject = MacModel::hostSubject(instance.local());
    const QString tail = QStringLiteral(" (tmux n'a pas pu créer leurs sessions) : rouvrez leurs projets depuis la barre latérale.");
    const struct {
        QStringList names;
        QString expected;
    } cases[] = {
        {{QStringLiteral("web")},
         subject + QStringLiteral(" n'a pas pu rouvrir l'onglet « web » (tmux n'a pas pu créer sa session) : rouvrez son "
                                  "projet depuis la barre latérale.")},
        {{QStringLiteral("a"), QStringLiteral("b\nc")},
         subject + QStringLiteral(" n'a pas pu rouvrir les onglets « a » et « b\u240Ac »") + tail},
        {{QStringLiteral("%1"), QStringLiteral("%3")},
         subject + QStringLiteral(" n'a pas pu rouvrir les onglets « %1 » et « %3 »") + tail},
        {{QStringLiteral("a"), QStringLiteral("b"), QStringLiteral("c"), QStringLiteral("d")},
         subject + QStringLiteral(" n'a pas pu rouvrir les onglets « a », « b », « c » et « d »") + tail},
        {QStringList(5000, QStringLiteral("x")),
         subject + QStringLiteral(" n'a pas pu rouvrir les onglets « x », « x », « x » et 4997 autres") + tail},
        {{QString(100000, u'n')},
         subject + QStringLiteral(" n'a pas pu rouvrir l'onglet « ") + QString(13, u'n') + QChar(0x2026) + QString(26, u'n')
             + QStringLiteral(" » (tmux n'a pas pu créer sa session) : rouvrez son projet depuis la barre latérale.")},
    };
    for (const auto& c : cases)
        EXPECT_EQ(MacModel::tabsNotMadeMessage(instance.local(), c.names).toStdString(), c.expected.toStdString());
}

// Saved tabs whose folder is gone, is a file, or has a path no folder can have make no
// session, each says so as opening it from the sidebar would, and the others are restored.
// A host whose tmux runs no server then lists nothing, and that empty listing is applied.
TEST(Seeding, ARestoredTabOfAMissingFolderMakesNoSession)
{
    ASSERT_TRUE(test::tmuxInstalled());
    Host host;
    const QString kept = host.folder(QStringLiteral("kept"));
    const QString gone = host.folder(QStringLiteral("gone"));
    ASSERT_TRUE(QDir(gone).removeRecursively());
    const QString file = host.home.file(QStringLiteral("a-file"));
    ASSERT_TRUE(test::writeAll(file, "x"));
    const QString tooLong = host.home.path() + u'/' + QString(4097, u'l');
    const QList<PersistedTab> saved{{QStringLiteral("kept"), kept, tmuxSessionName(kept)},
                                    {QStringLiteral("gone"), gone, tmuxSessionName(gone)},
                                    {QStringLiteral("a-file"), file, tmuxSessionName(file)},
                                    {QStringLiteral("long"), tooLong, tmuxSessionName(tooLong)}};
    {
        Instance instance;
        instance.prefs.setTabs(MacConnection::localID, saved);
        instance.prefs.setProjectsRoots({host.home.path()});
        QCoro::waitFor(instance.model.start());
        EXPECT_TRUE(Host::hasSession(saved.at(0).tmux));
        for (const PersistedTab& tab : saved.mid(1))
            EXPECT_FALSE(Host::hasSession(tab.tmux)) << tab.path.left(80).toStdString();
        EXPECT_EQ(instance.sessions(), QStringList{saved.at(0).tmux});
        EXPECT_EQ(instance.banners(),
                  (QStringList{folderRefusalMessage(FolderRefusal::tooLong, tooLong),
                               QStringLiteral("Dossier introuvable : ") + gone,
                               QStringLiteral("Dossier introuvable : ") + file}));
        EXPECT_FALSE(instance.local().seedFromPersisted);
        EXPECT_EQ(instance.prefs.tabs(MacConnection::localID), saved.mid(0, 1));
    }
    tmux({QStringLiteral("kill-server")});

    // Only a missing folder: nothing made, and no server to list. The empty listing is the
    // host's, applied as it is.
    Instance instance;
    instance.prefs.setTabs(MacConnection::localID, saved.mid(1, 1));
    instance.prefs.setProjectsRoots({host.home.path()});
    QCoro::waitFor(instance.model.start());
    EXPECT_FALSE(Host::hasSession(saved.at(1).tmux));
    EXPECT_TRUE(instance.model.tabs().isEmpty());
    EXPECT_FALSE(instance.local().seedFromPersisted);
    EXPECT_EQ(instance.local().failures, 0);
    EXPECT_TRUE(instance.prefs.tabs(MacConnection::localID).isEmpty());
    EXPECT_EQ(instance.banners(), QStringList{QStringLiteral("Dossier introuvable : ") + gone});
}

} // namespace
} // namespace halvoren
