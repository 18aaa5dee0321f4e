#include "settings/ProfileStore.h"

#include "app/support/GatedSecrets.h"
#include "app/support/TempFolder.h"

#include <QFileInfo>
#include <QSet>

#include <gtest/gtest.h>


namespace halvoren {
namespace {

using test::TempFolder;

MacProfile profile(const char* id, const char* host)
{
    MacProfile p;
    p.id = QString::fromUtf8(id);
    p.host = QString::fromUtf8(host);
    p.name = p.host;
    return p;
}

struct StoreFixture {
    TempFolder folder;
    MemorySecretBackend* backend;
    SecretStore secrets;
    ProfileStore store;
    StoreFixture() : StoreFixture(std::make_unique<MemorySecretBackend>()) {}
    explicit StoreFixture(std::unique_ptr<MemorySecretBackend> memory)
        : backend(memory.get()), secrets(std::move(memory)), store(secrets, folder.path()) {}
};

// One damaged profile must not cost the others, and a list that cannot be read in full is
// kept aside before the next save replaces it.
TEST(Keychain, StoredListKeepsReadableProfilesAndBacksUpTheRest)
{
    const struct { const char* stored; QStringList hostsRead; bool backedUp; } cases[] = {
        {R"([{"id":"p1","host":"a"},{"id":"p2","host":"b"}])", {"a", "b"}, false},
        {R"([{"id":"p1","host":"a"},{"id":"p2","host":"b","port":"22"},{"id":"p3","host":"c"}])", {"a", "c"}, true},
        {R"([{"id":"p1","host":"a"},17,"x"])", {"a"}, true},
        {R"({"id":"p1","host":"a"})", {}, true}, {"not json at all", {}, true}, {"[]", {}, false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.stored);
        StoreFixture f;
        f.backend->write("profiles_v2", QString::fromUtf8(c.stored));
        QList<MacProfile> next = QCoro::waitFor(f.store.loadProfiles());
        QStringList hosts;
        for (const MacProfile& p : next)
            hosts.append(p.host);
        EXPECT_EQ(hosts, c.hostsRead);
        next.append(profile("p9", "new"));
        QCoro::waitFor(f.store.saveProfiles(next));
        const QHash<QString, QString> items = f.backend->items();
        EXPECT_EQ(items.value("profiles_v2.bak", "none"), c.backedUp ? QString::fromUtf8(c.stored) : "none");
        EXPECT_EQ(decodeProfiles(items.value("profiles_v2")).profiles, next);
        // Only the first overwrite keeps a copy: a later save leaves the copy alone.
        f.backend->write("profiles_v2.bak", "older copy");
        QCoro::waitFor(f.store.saveProfiles(next));
        EXPECT_EQ(f.backend->items().value("profiles_v2.bak"), QStringLiteral("older copy"));
    }
}

TEST(Keychain, WithoutSecretServiceProfilesGoToAPrivateFileButPasswordsNowhere)
{
    auto memory = std::make_unique<MemorySecretBackend>();
    memory->setAvailable(false);
    StoreFixture f(std::move(memory));
    const QList<MacProfile> saved = {profile("p1", "alpha")};
    QCoro::waitFor(f.store.saveProfiles(saved));
    QCoro::waitFor(f.secrets.secureWrite(ProfileStore::passwordKey("p1"), "hunter2"));
    const QFileInfo file(f.store.fallbackPath());
    ASSERT_TRUE(file.exists());
    EXPECT_EQ(file.absolutePath(), f.folder.path());
    EXPECT_EQ(file.permissions() & (QFile::ReadGroup | QFile::WriteGroup | QFile::ReadOther | QFile::WriteOther), 0);
    EXPECT_EQ(QCoro::waitFor(f.store.loadProfiles()), saved);
    EXPECT_EQ(QCoro::waitFor(f.secrets.secureRead(ProfileStore::passwordKey("p1"))), std::nullopt);
    for (const QString& name : QDir(f.folder.path()).entryList(QDir::Files))
        EXPECT_FALSE(test::readAll(f.folder.file(name)).contains("hunter2")) << name.toStdString();
    // Once the service is back, the list moves into it and the file goes away.
    f.backend->setAvailable(true);
    EXPECT_EQ(QCoro::waitFor(f.store.loadProfiles()), saved);
    QCoro::waitFor(f.store.saveProfiles(saved));
    EXPECT_FALSE(QFileInfo::exists(f.store.fallbackPath()));
    EXPECT_EQ(decodeProfiles(f.backend->items().value("profiles_v2")).profiles, saved);
}

// The model saves after every change without waiting for the previous save: the last list
// must win, in the keychain and in the file.
TEST(Keychain, OverlappingSavesKeepTheLastList)
{
    for (const bool available : {true, false}) {
        auto memory = std::make_unique<MemorySecretBackend>();
        memory->setAvailable(available);
        StoreFixture f(std::move(memory));
        // A damaged list makes the first save keep a copy first, which delays it.
        if (available)
            f.backend->write("profiles_v2", "damaged");
        else
            test::writeAll(f.store.fallbackPath(), "damaged");
        QCoro::waitFor(f.store.loadProfiles());
        const QList<MacProfile> older = {profile("p1", "alpha")};
        const QList<MacProfile> newer = {profile("p1", "alpha"), profile("p2", "beta")};
        QCoro::Task<> first = f.store.saveProfiles(older), second = f.store.saveProfiles(newer);
        QCoro::waitFor(std::move(first));
        QCoro::waitFor(std::move(second));
        EXPECT_EQ(QCoro::waitFor(f.store.loadProfiles()), newer) << (available ? "keychain" : "file");
    }
}

// Counts the writes of each key, over items in memory.
class CountingBackend final : public SecretBackend {
public:
    SecretOutcome read(const QString& key) override { return memory.read(key); }
    SecretOutcome write(const QString& key, const QString& value) override
    {
        {
            std::lock_guard guard(lock);
            ++writes[key];
        }
        return memory.write(key, value);
    }
    SecretOutcome remove(const QString& key) override { return memory.remove(key); }
    MemorySecretBackend memory;
    std::mutex lock;
    // Written on the store's threads, read once the store is idle.
    QHash<QString, int> writes;
};

// Any id but "local" or a repeated one is kept as it is; those get a fresh id unique in the
// list, their passwords follow (copied from a repeated id, moved from "local"), and the list
// is stored once.
TEST(Keychain, LoadingGivesLocalAndRepeatedIdsFreshOnesAndKeepsEveryOther)
{
    auto counting = std::make_unique<CountingBackend>();
    CountingBackend* backend = counting.get();
    TempFolder folder;
    SecretStore secrets(std::move(counting));
    ProfileStore store(secrets, folder.path());
    backend->memory.write("profiles_v2", QStringLiteral(
        R"([{"id":"../x","host":"h1"},{"id":"a b","host":"h2"},{"id":"local","host":"h3"},)"
        R"({"id":"dup","host":"h4"},{"id":"dup","host":"h5"},{"id":"p1","host":"h6"}])"));
    backend->memory.write("pwd_dup", "dup-secret");
    backend->memory.write("pwd_local", "local-secret");
    const QList<MacProfile> loaded = QCoro::waitFor(store.loadProfiles());
    QStringList hosts, ids;
    for (const MacProfile& p : loaded) {
        hosts << p.host;
        ids << p.id;
    }
    ASSERT_EQ(hosts, (QStringList{"h1", "h2", "h3", "h4", "h5", "h6"}));
    EXPECT_EQ(ids.mid(0, 2), (QStringList{"../x", "a b"}));
    EXPECT_EQ(ids.at(3), QStringLiteral("dup"));
    EXPECT_EQ(ids.at(5), QStringLiteral("p1"));
    EXPECT_EQ(QSet<QString>(ids.cbegin(), ids.cend()).size(), ids.size());
    EXPECT_FALSE(ids.contains("local"));
    const QHash<QString, QString> items = backend->memory.items();
    EXPECT_EQ(decodeProfiles(items.value("profiles_v2")).profiles, loaded);
    EXPECT_EQ(backend->writes.value("profiles_v2"), 1);
    EXPECT_EQ(items.value("pwd_dup"), QStringLiteral("dup-secret"));
    EXPECT_EQ(items.value("pwd_" + ids.at(4)), QStringLiteral("dup-secret"));
    EXPECT_EQ(items.value("pwd_" + ids.at(2)), QStringLiteral("local-secret"));
    EXPECT_FALSE(items.contains("pwd_local"));
    // A list with nothing to change is not stored again.
    EXPECT_EQ(QCoro::waitFor(store.loadProfiles()), loaded);
    EXPECT_EQ(backend->writes.value("profiles_v2"), 1);

    // Ids made in one microsecond repeat: each renamed profile still gets one of its own,
    // and none an id a later profile keeps.
    QList<MacProfile> list = {profile("dup", "a"), profile("dup", "b"), profile("dup", "c"), profile("p2", "d")};
    QStringList made = {"p2", "p2", "dup", "p3", "p3", "p3", "p4"};
    const QList<ProfileRenaming> renamed = giveUniqueIDs(list, [&made] { return made.takeFirst(); });
    ASSERT_EQ(renamed.size(), 2);
    EXPECT_EQ(list.at(0).id, QStringLiteral("dup"));
    EXPECT_EQ(list.at(1).id, QStringLiteral("p3"));
    EXPECT_EQ(list.at(2).id, QStringLiteral("p4"));
    EXPECT_EQ(list.at(3).id, QStringLiteral("p2"));
}

// A Secret Service without a default collection and no prompter answers reads but never
// writes: the list goes to the file, which the next load finds, and the password nowhere.
TEST(Keychain, ListsTheKeychainNeverStoresGoToTheFile)
{
    using namespace std::chrono_literals;
    auto gate = std::make_shared<test::SecretGate>();
    gate->heldWrites = {"profiles_v2", "pwd_p1"};
    auto memory = std::make_shared<MemorySecretBackend>();
    TempFolder folder;
    const QList<MacProfile> saved = {profile("p1", "alpha"), profile("p2", "beta")};
    {
        SecretStore secrets(std::make_unique<test::GatedSecretBackend>(gate, memory), 300ms);
        ProfileStore store(secrets, folder.path());
        // Opened before the store ends, whatever the store does with calls still stuck.
        const std::unique_ptr<test::SecretGate, void (*)(test::SecretGate*)> opening(gate.get(),
                                                                                     [](test::SecretGate* g) { g->release(); });
        EXPECT_EQ(test::answerWithin(store.loadProfiles(), 5000), QList<MacProfile>{});
        EXPECT_TRUE(test::endsWithin(store.saveProfiles(saved), 5000));
        EXPECT_TRUE(test::endsWithin(secrets.secureWrite(ProfileStore::passwordKey("p1"), "hunter2"), 5000));
        EXPECT_EQ(test::answerWithin(store.loadProfiles(), 5000), saved);
    }
    EXPECT_FALSE(test::readAll(folder.file("profiles_v2")).contains("hunter2"));
}

// The real backend on a desktop without a Secret Service: the bus address leads nowhere.
TEST(Keychain, LibsecretWithoutAServiceFallsBackToTheFile)
{
    test::EnvironmentOverride bus("DBUS_SESSION_BUS_ADDRESS", QStringLiteral("unix:path=/nonexistent/hv-bus"));
    test::TempFolder folder;
    SecretStore secrets(std::make_unique<LibsecretBackend>());
    ProfileStore store(secrets, folder.path());
    EXPECT_EQ(QCoro::waitFor(secrets.readItem("profiles_v2")).status, SecretStatus::unavailable);
    const QList<MacProfile> saved = {profile("p1", "alpha")};
    QCoro::waitFor(store.saveProfiles(saved));
    EXPECT_TRUE(QFileInfo::exists(store.fallbackPath()));
    EXPECT_EQ(QCoro::waitFor(store.loadProfiles()), saved);
}

// The journal of changes is anybody's file: only entries that are exactly a saved profile
// with its id, or a removed id, are replayed over the stored list, and a file too large to
// be ours is not read. Once the keychain holds the result, the journal goes.
TEST(Keychain, OnlyWellFormedJournalEntriesAreReplayed)
{
    const QList<MacProfile> stored = {profile("p1", "alpha"), profile("p2", "beta"), profile("p3", "gamma")};
    MacProfile renamed = profile("p3", "gamma");
    renamed.name = QStringLiteral("renamed");
    const MacProfile added = profile("px", "hx");
    const QByteArray mixed = R"({"edits":[
        {"save":{"id":"px","host":"hx","name":"hx"}},
        {"save":{"host":"no id"}},
        {"save":{"id":"","host":"empty id"}},
        {"save":{"id":"py","host":"h","port":"22"}},
        {"remove":"p1"},
        {"remove":7},
        {"save":{"id":"pz","host":"z"},"remove":"p2"},
        "text",
        {"save":{"id":"p3","host":"gamma","name":"renamed","password":"never read"}}]})";
    const struct {
        const char* name;
        QByteArray journal;
        QList<MacProfile> expected;
    } cases[] = {
        {"not JSON", "{\"edits\":[", stored},
        {"not an object", R"([{"save":{"id":"px","host":"hx"}}])", stored},
        {"mixed entries", mixed, {stored.at(1), renamed, added}},
        {"too large", mixed + QByteArray(1024 * 1024, ' '), stored},
    };
    for (const auto& test : cases) {
        SCOPED_TRACE(test.name);
        TempFolder folder;
        ASSERT_TRUE(test::writeAll(folder.file(ProfileStore::journalName), test.journal));
        auto memory = std::make_unique<MemorySecretBackend>();
        MemorySecretBackend& backend = *memory;
        backend.write(ProfileStore::profilesKey, encodeProfiles(stored));
        SecretStore secrets(std::move(memory));
        ProfileStore store(secrets, folder.path());
        EXPECT_EQ(QCoro::waitFor(store.loadProfiles()), test.expected);
        if (test.expected != stored) {
            EXPECT_TRUE(QTest::qWaitFor([&] { return decodeProfiles(backend.items().value(ProfileStore::profilesKey)).profiles == test.expected; }, 5000));
            EXPECT_TRUE(QTest::qWaitFor([&] { return !QFileInfo::exists(store.journalPath()); }, 5000));
        }
    }
}

QStringList hostsOf(const QList<MacProfile>& profiles)
{
    QStringList hosts;
    for (const MacProfile& p : profiles)
        hosts << p.host;
    return hosts;
}

// A change noted while the load waits on the keychain is never lost: noted while the stored
// list is read, it is in the list the load gives; noted while the passwords of renamed
// profiles move (after the load took the journal's changes), it stays in the journal, since
// the list the load stores does not hold it. Either way the next load shows it.
TEST(Keychain, AChangeNotedWhileTheLoadWaitsIsKept)
{
    const struct {
        const char* name;
        const char* held;
        QStringList firstLoad;
    } cases[] = {
        {"while the stored list is read", "profiles_v2", {"a", "b", "hx"}},
        {"while a renamed profile's password is read", "pwd_dup", {"a", "b"}},
    };
    for (const auto& test : cases) {
        SCOPED_TRACE(test.name);
        TempFolder folder;
        auto memory = std::make_shared<MemorySecretBackend>();
        // A repeated id: the load renames the second profile and copies its password.
        memory->write("profiles_v2", R"([{"id":"dup","host":"a"},{"id":"dup","host":"b"}])");
        memory->write("pwd_dup", "dup-secret");
        {
            auto gate = std::make_shared<test::SecretGate>();
            gate->heldReads = {QString::fromUtf8(test.held)};
            SecretStore secrets(std::make_unique<test::GatedSecretBackend>(gate, memory));
            ProfileStore store(secrets, folder.path());
            const auto loaded = test::resultWhenDone(store.loadProfiles());
            ASSERT_TRUE(QTest::qWaitFor([&] { return gate->arrived() == 1; }, 5000));
            store.noteEdit(profile("px", "hx"), false);
            gate->release();
            ASSERT_TRUE(QTest::qWaitFor([&] { return loaded->has_value(); }, 5000));
            EXPECT_EQ(hostsOf(**loaded), test.firstLoad);
        }
        SecretStore secrets(std::make_unique<test::GatedSecretBackend>(std::make_shared<test::SecretGate>(), memory));
        ProfileStore store(secrets, folder.path());
        EXPECT_EQ(hostsOf(QCoro::waitFor(store.loadProfiles())), (QStringList{"a", "b", "hx"}));
    }
}

} // namespace
} // namespace halvoren
