// The start-up load of the saved servers while the keychain is slow to answer (waiting to be
// unlocked): the start goes on past the bound, servers saved or removed meanwhile are stored
// over the list once it is read, never instead of it, and the remembered servers reconnect
// when it comes, beside any the user connected meanwhile. A change the keychain has not
// confirmed by the quit is shown at the next start.
#include "workspace/MacModel.h"

#include "app/support/GatedSecrets.h"
#include "app/support/SshHost.h"
#include "app/support/WorkspaceModel.h"
#include "settings/ProfileStore.h"

#include <qcoro/qcorotimer.h>

#include <QElapsedTimer>
#include <QFileInfo>

#include <mutex>
#include <utility>

#include <gtest/gtest.h>

namespace halvoren {
namespace {

using namespace std::chrono_literals;

using test::ready;
using test::ids;

MacProfile server(const QString& id)
{
    MacProfile p;
    p.id = id;
    // Refused at once: a reconnection attempt ends quickly and leaves nothing running.
    p.host = QStringLiteral("127.0.0.1");
    p.port = 1;
    p.name = id;
    return p;
}

struct SlowKeychain : test::ModelInFolder {
    std::shared_ptr<test::SecretGate> gate = std::make_shared<test::SecretGate>();
    std::shared_ptr<MemorySecretBackend> memory = std::make_shared<MemorySecretBackend>();
    SecretStore secrets{std::make_unique<test::GatedSecretBackend>(gate, memory), 300ms};
    ProfileStore store{secrets, folder.path()};
    QStringList nine;

    SlowKeychain()
    {
        // This computer has no tmux and no projects: the start has nothing else to wait for.
        model.runScript = [](MacConnection&, QString script, double) { return ready(ShellResult<QString>(test::ranToItsEnd(script))); };
        model.listFolders = [](MacConnection&, QString) { return ready(std::optional<QStringList>()); };
        model.profileStore = &store;
        QList<MacProfile> saved;
        for (int i = 1; i <= 9; ++i) {
            saved << server(QStringLiteral("p%1").arg(i));
            nine << saved.last().id;
        }
        memory->write(ProfileStore::profilesKey, encodeProfiles(saved));
        gate->heldReads = {ProfileStore::profilesKey};
    }
    ~SlowKeychain()
    {
        gate->release();
        model.profileStore = nullptr;
    }
    QStringList stored() const { return ids(decodeProfiles(memory->items().value(ProfileStore::profilesKey)).profiles); }
};

TEST(ProfileLoad, ServersSavedBeforeTheStoredListIsReadAreAddedToIt)
{
    SlowKeychain k;
    k.prefs.setConnectedProfiles({QStringLiteral("p3")});
    QStringList reconnectingSeen;
    QObject::connect(&k.model, &MacModel::reconnectingChanged, [&] {
        reconnectingSeen << QStringList(k.model.reconnecting().cbegin(), k.model.reconnecting().cend()).join(u',');
    });

    // The load gives up waiting at the bound; the start goes on without the servers.
    ASSERT_TRUE(test::endsWithin(k.model.start(), 10000)) << "the start waits for the keychain";
    EXPECT_TRUE(k.model.profilesLoading());
    EXPECT_TRUE(k.model.profiles().isEmpty());
    EXPECT_TRUE(k.model.connections().size() == 1 && reconnectingSeen.isEmpty());

    // Quick connections and edits meanwhile show at once and are not stored over the list.
    MacProfile renamed = server(QStringLiteral("pa"));
    renamed.name = QStringLiteral("renamed");
    k.model.saveProfile(server(QStringLiteral("pa")));
    k.model.saveProfile(server(QStringLiteral("pb")));
    k.model.saveProfile(renamed);
    k.model.saveProfile(server(QStringLiteral("pc")));
    QCoro::waitFor(k.model.removeProfile(server(QStringLiteral("pb"))));
    EXPECT_EQ(ids(k.model.profiles()), (QStringList{"pa", "pc"}));
    // A server connected meanwhile rewrites the remembered list; the ones to reconnect were
    // read before.
    k.model.saveConnectedProfiles();
    QTest::qWait(600);
    EXPECT_EQ(k.stored(), k.nine) << "a save replaced servers it had not read";

    // The list read late is applied with the changes over it, stored, and the remembered
    // server reconnects.
    k.gate->release();
    ASSERT_TRUE(QTest::qWaitFor([&] { return !k.model.profilesLoading(); }, 10000));
    const QStringList all = QStringList(k.nine) << "pa" << "pc";
    ASSERT_EQ(ids(k.model.profiles()), all);
    EXPECT_EQ(k.model.profiles().at(9).name, QStringLiteral("renamed"));
    EXPECT_TRUE(QTest::qWaitFor([&] { return k.stored() == all; }, 10000)) << k.stored().join(u',').toStdString();
    EXPECT_TRUE(QTest::qWaitFor([&] { return reconnectingSeen.size() >= 2; }, 20000));
    EXPECT_EQ(reconnectingSeen.value(0), QStringLiteral("p3"));
}

// A keychain that answers in time: the start waits for it, and saves go straight through.
TEST(ProfileLoad, AListThatAnswersInTimeIsInPlaceWhenTheStartGoesOn)
{
    SlowKeychain k;
    k.gate->heldReads.clear();
    ASSERT_TRUE(test::endsWithin(k.model.start(), 10000));
    EXPECT_FALSE(k.model.profilesLoading());
    EXPECT_EQ(ids(k.model.profiles()), k.nine);
    k.model.saveProfile(server(QStringLiteral("pa")));
    EXPECT_TRUE(QTest::qWaitFor([&] { return k.stored() == (QStringList(k.nine) << "pa"); }, 10000));
}

// Answers every script at once with no output, except this computer's tmux probe, which
// waits while `held` is true: the start-up stands there as long as the test needs.
Task<ShellResult<QString>> heldProbe(std::shared_ptr<bool> held, bool local, QString script)
{
    while (local && script.startsWith(QStringLiteral("command -v tmux")) && *held)
        co_await QCoro::sleepFor(20ms);
    co_return ShellResult<QString>(QString());
}

QStringList connectedIDs(const MacModel& model)
{
    QStringList list;
    for (const MacConnection* connection : model.connections()) {
        if (connection->profile)
            list << connection->profile->id;
    }
    return list;
}

// Two servers were connected at the last quit; while start-up is held (by the keychain and
// the tmux probe here) the user connects a third, and in the second case also connects and
// then disconnects one of the two. Both remembered servers the user left alone come back,
// and the preference keeps them all along.
TEST(ProfileLoad, ServersConnectedAtTheLastQuitComeBackBesideOneConnectedDuringStartUp)
{
    test::SshHost host;
    ASSERT_TRUE(host.ready());
    ASSERT_TRUE(host.keepTmuxAtHome());
    const MacProfile a = host.server.profile(QStringLiteral("p1700000000000011"));
    const MacProfile b = host.server.profile(QStringLiteral("p1700000000000012"));
    const MacProfile c = host.server.profile(QStringLiteral("p1700000000000013"));
    struct Case {
        const char* name;
        bool listLate;
        bool userLeavesA;
        QStringList connected;
    };
    const Case cases[] = {
        {"the list comes after start-up", true, false, {c.id, a.id, b.id}},
        {"the list is there, the user leaves one", false, true, {c.id, b.id}},
    };
    for (const Case& test : cases) {
        SCOPED_TRACE(test.name);
        SlowKeychain k;
        k.memory->write(ProfileStore::profilesKey, encodeProfiles({a, b}));
        if (!test.listLate)
            k.gate->heldReads.clear();
        k.prefs.setConnectedProfiles({a.id, b.id});
        auto held = std::make_shared<bool>(true);
        k.model.runScript = [held](MacConnection& connection, QString script, double) {
            return heldProbe(held, !connection.link, std::move(script));
        };
        QSet<QString> attempted;
        QObject::connect(&k.model, &MacModel::reconnectingChanged, [&] { attempted.unite(k.model.reconnecting()); });

        const auto started = test::flagWhenDone(k.model.start());
        if (test.listLate)
            EXPECT_TRUE(k.model.profilesLoading());
        else
            ASSERT_TRUE(QTest::qWaitFor([&] { return k.model.profiles().size() == 2; }, 10000));
        if (test.userLeavesA) {
            ASSERT_TRUE(QCoro::waitFor(k.model.connect(a)));
            QCoro::waitFor(k.model.disconnect(*k.model.connection(a.id)));
            EXPECT_EQ(k.prefs.connectedProfiles(), QStringList{b.id});
            attempted.clear();
        }
        // The quick connection of a new server.
        k.model.saveProfile(c);
        ASSERT_TRUE(QCoro::waitFor(k.model.connect(c)));
        EXPECT_EQ(k.prefs.connectedProfiles(), test.connected)
            << "a connection made during start-up wrote the remembered servers away";
        EXPECT_FALSE(*started);

        *held = false;
        ASSERT_TRUE(QTest::qWaitFor([&] { return *started; }, 10000));
        k.gate->release();
        // The remembered servers come back in whichever order their attempts end.
        const auto sorted = [](QStringList list) {
            list.sort();
            return list;
        };
        EXPECT_TRUE(QTest::qWaitFor([&] { return sorted(connectedIDs(k.model)) == sorted(test.connected) && k.model.reconnecting().isEmpty(); }, 60000))
            << connectedIDs(k.model).join(u',').toStdString();
        EXPECT_EQ(k.prefs.connectedProfiles(), connectedIDs(k.model));
        EXPECT_EQ(attempted.contains(a.id), !test.userLeavesA);
        for (MacConnection* connection : QList<MacConnection*>(k.model.connections()))
            QCoro::waitFor(k.model.disconnect(*connection));
    }
}

// What the keychain's daemon has been asked to write and has not carried out: a daemon
// stopped while the application quits carries these out when it resumes.
struct StalledDaemon {
    std::mutex lock;
    QList<std::pair<QString, QString>> writes;
    void resume(MemorySecretBackend& memory)
    {
        std::lock_guard guard(lock);
        for (const auto& [key, value] : std::as_const(writes))
            memory.write(key, value);
        writes.clear();
    }
};

// The keychain as one run of the application reaches it. Held calls stay held for good (the
// run's threads with them): what the daemon received before the run ended it carries out at
// `StalledDaemon::resume`, the rest died with the process.
std::unique_ptr<SecretBackend> runKeychain(std::shared_ptr<test::SecretGate> gate,
                                           std::shared_ptr<MemorySecretBackend> memory,
                                           std::shared_ptr<StalledDaemon> daemon)
{
    return std::make_unique<test::GatedSecretBackend>(
        std::move(gate), std::move(memory), [daemon = std::move(daemon)](const QString& key, const QString& value) {
            std::lock_guard guard(daemon->lock);
            daemon->writes.append({key, value});
        });
}

// One run of the application over a configuration folder and a keychain that outlive it.
struct AppRun {
    std::shared_ptr<test::SecretGate> gate = std::make_shared<test::SecretGate>();
    std::shared_ptr<StalledDaemon> daemon = std::make_shared<StalledDaemon>();
    std::unique_ptr<SecretStore> secrets;
    std::unique_ptr<ProfileStore> store;
    PreferenceStore preferences;
    Prefs prefs{preferences};
    Notifier notifier{QDBusConnection(QStringLiteral("no-bus"))};
    std::unique_ptr<MacModel> model = std::make_unique<MacModel>(prefs, nullptr, &notifier);

    AppRun(const QString& folder, const std::shared_ptr<MemorySecretBackend>& memory)
        : secrets(std::make_unique<SecretStore>(runKeychain(gate, memory, daemon), 300ms)),
          store(std::make_unique<ProfileStore>(*secrets, folder)),
          preferences(folder + QStringLiteral("/preferences.json"))
    {
        model->runScript = [](MacConnection&, QString script, double) { return ready(ShellResult<QString>(test::ranToItsEnd(script))); };
        model->listFolders = [](MacConnection&, QString) { return ready(std::optional<QStringList>()); };
        model->profileStore = store.get();
    }
    ~AppRun() { quit(); }
    // Ends as the application does, the keychain's store last; how long that took.
    qint64 quit()
    {
        QElapsedTimer elapsed;
        elapsed.start();
        model.reset();
        store.reset();
        secrets.reset();
        return elapsed.elapsed();
    }
};

// A server the user saved and saw, while the keychain did not answer or after it refused the
// load, is shown at the next start whatever the keychain then holds, and the stored list
// never loses the servers it had.
TEST(ProfileLoad, ServersSavedWhileTheKeychainDoesNotAnswerAreShownAtTheNextStart)
{
    struct Case {
        const char* name;
        bool readsHeld;
        bool writesHeld;
        bool loadRefused;
        bool renamed;
        // Past the bound: the list has gone to the fallback file.
        bool pastBound;
        // The keyring comes back from a copy older than the save.
        bool olderKeychain;
    };
    const Case cases[] = {
        {"added while the list loads", true, false, false, false, true, false},
        {"added then renamed while a write waits", false, true, false, true, false, false},
        {"added past the bound, the keyring restored", false, true, false, false, true, true},
        {"added after a refused load", false, false, true, false, true, false},
    };
    for (const Case& test : cases) {
        SCOPED_TRACE(test.name);
        test::TempFolder folder;
        auto memory = std::make_shared<MemorySecretBackend>();
        QList<MacProfile> nine;
        for (int i = 1; i <= 9; ++i)
            nine << server(QStringLiteral("p%1").arg(i));
        memory->write(ProfileStore::profilesKey, encodeProfiles(nine));
        const auto stored = [&memory] { return decodeProfiles(memory->items().value(ProfileStore::profilesKey)).profiles; };
        MacProfile added = server(QStringLiteral("pa"));
        {
            AppRun first(folder.path(), memory);
            if (test.readsHeld)
                first.gate->heldReads = {ProfileStore::profilesKey};
            if (test.writesHeld)
                first.gate->heldWrites = {ProfileStore::profilesKey};
            memory->setAvailable(!test.loadRefused);
            // A server of the list, remembered as connected at the last quit.
            first.prefs.setConnectedProfiles({QStringLiteral("p3")});
            ASSERT_TRUE(test::endsWithin(first.model->start(), 10000));
            if (!test.readsHeld) {
                ASSERT_TRUE(QTest::qWaitFor([&] { return !first.model->profilesLoading(); }, 10000));
            }
            // The service answers again (an unlock accepted at the next prompt).
            memory->setAvailable(true);
            first.model->saveProfile(added);
            if (test.renamed) {
                added.name = QStringLiteral("renamed");
                first.model->saveProfile(added);
            }
            if (test.pastBound)
                QTest::qWait(600);
            // A connection made now keeps it remembered while its list is unread or refused.
            if (test.readsHeld || test.loadRefused) {
                first.model->saveConnectedProfiles();
                EXPECT_EQ(first.prefs.connectedProfiles(), QStringList{QStringLiteral("p3")});
            }
            EXPECT_TRUE(std::all_of(nine.cbegin(), nine.cend(), [&](const MacProfile& p) { return stored().contains(p); }))
                << "a list built without the stored one replaced it";
            EXPECT_TRUE(QTest::qWaitFor([&] { return QFileInfo::exists(first.store->journalPath()); }, 5000));
            const QFileInfo journal(first.store->journalPath());
            EXPECT_EQ(journal.permissions() & (QFile::ReadGroup | QFile::WriteGroup | QFile::ReadOther | QFile::WriteOther), 0);
            EXPECT_LT(first.quit(), SecretStore::closingGrace.count() + 1000) << "the quit waited for the keychain";
            first.daemon->resume(*memory);
        }
        if (test.olderKeychain)
            memory->write(ProfileStore::profilesKey, encodeProfiles(nine));

        AppRun second(folder.path(), memory);
        ASSERT_TRUE(test::endsWithin(second.model->start(), 10000));
        ASSERT_TRUE(QTest::qWaitFor([&] { return !second.model->profilesLoading(); }, 10000));
        const QList<MacProfile> expected = QList<MacProfile>(nine) << added;
        EXPECT_EQ(second.model->profiles(), expected) << ids(second.model->profiles()).join(u',').toStdString();
        // Stored once the keychain takes it, and the journal is done with.
        EXPECT_TRUE(QTest::qWaitFor([&] { return stored() == expected; }, 10000)) << ids(stored()).join(u',').toStdString();
        EXPECT_TRUE(QTest::qWaitFor([&] { return !QFileInfo::exists(second.store->journalPath()); }, 10000));
    }
}

} // namespace
} // namespace halvoren
