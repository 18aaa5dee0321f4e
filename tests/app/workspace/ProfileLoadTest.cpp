// The start-up load of the saved servers while the keychain is slow to answer (waiting to be
// unlocked): the start goes on past the bound, servers saved or removed meanwhile are stored
// over the list once it is read, never instead of it, and the remembered servers reconnect
// when it comes.
#include "workspace/MacModel.h"

#include "app/support/GatedSecrets.h"
#include "app/support/WorkspaceModel.h"
#include "settings/ProfileStore.h"

#include <gtest/gtest.h>

namespace halvoren {
namespace {

using namespace std::chrono_literals;

template <typename T>
Task<T> ready(T value) { co_return value; }

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

QStringList ids(const QList<MacProfile>& profiles)
{
    QStringList list;
    for (const MacProfile& p : profiles)
        list << p.id;
    return list;
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
        model.runScript = [](MacConnection&, QString, double) { return ready(ShellResult<QString>(QString())); };
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

} // namespace
} // namespace halvoren
