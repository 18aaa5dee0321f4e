// The keychain's calls against a Secret Service that never answers some of them: a stuck call
// fails within the store's bound, holds nothing else back, and the store's end does not wait
// for it; writes of one key still land in the order they were asked for.
#include "platform/SecretStore.h"

#include "app/support/GatedSecrets.h"
#include "app/support/TempFolder.h"
#include "platform/SingleInstance.h"

#include <QElapsedTimer>
#include <QProcess>

#include <gtest/gtest.h>

#include <future>
#include <thread>

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

namespace halvoren {
namespace {

using namespace std::chrono_literals;
using test::answerWithin;

TEST(SecretStore, AWriteThatNeverAnswersFailsInTimeAndHoldsNothingBack)
{
    auto gate = std::make_shared<test::SecretGate>();
    gate->heldWrites = {QStringLiteral("pwd_a")};
    auto memory = std::make_shared<MemorySecretBackend>();
    memory->write(QStringLiteral("pwd_a"), QStringLiteral("old"));
    memory->write(QStringLiteral("pwd_b"), QStringLiteral("beta"));
    constexpr auto bound = 1500ms;
    auto store = std::make_unique<SecretStore>(std::make_unique<test::GatedSecretBackend>(gate, memory), bound);

    QElapsedTimer elapsed;
    elapsed.start();
    const auto stuck = test::resultWhenDone(store->writeItem(QStringLiteral("pwd_a"), QStringLiteral("new")));

    // Calls made after it answer while it is still stuck: other keys, and removals too.
    const std::optional<std::optional<QString>> other = answerWithin(store->secureRead(QStringLiteral("pwd_b")), 5000);
    EXPECT_EQ(other, std::optional<QString>(QStringLiteral("beta")));
    const std::optional<SecretOutcome> removed = answerWithin(store->removeItem(QStringLiteral("pwd_c")), 5000);
    ASSERT_TRUE(removed);
    EXPECT_EQ(removed->status, SecretStatus::notFound);
    EXPECT_FALSE(stuck->has_value()) << "the stuck write answered before its bound";

    // It fails, silently, once the bound has passed.
    ASSERT_TRUE(QTest::qWaitFor([&stuck] { return stuck->has_value(); }, 10000));
    EXPECT_EQ((*stuck)->status, SecretStatus::unanswered);
    EXPECT_GE(elapsed.elapsed(), std::chrono::milliseconds(bound).count() - 50);
    // A read of its key no longer waits for it: the write counts as not made.
    EXPECT_EQ(answerWithin(store->secureRead(QStringLiteral("pwd_a")), 5000), std::optional<QString>(QStringLiteral("old")));

    // A second write of that key goes after the stuck one, whenever that one ends.
    store->writeItem(QStringLiteral("pwd_a"), QStringLiteral("newest"));
    // The store's end does not wait for the stuck write (it gives writes in flight a moment).
    std::future<void> ended = std::async(std::launch::async, [&store] { store.reset(); });
    const bool endedInTime = ended.wait_for(SecretStore::closingGrace + 5s) == std::future_status::ready;
    EXPECT_TRUE(endedInTime) << "the store's end waited for a call that never answers";
    gate->release();
    ended.wait();
    EXPECT_TRUE(QTest::qWaitFor([&memory] { return memory->items().value(QStringLiteral("pwd_a")) == "newest"; }, 5000))
        << memory->items().value(QStringLiteral("pwd_a")).toStdString();
}

// Reads and writes of many keys at once, over more keys than the store has threads: each
// read sees the write made before it.
TEST(SecretStore, EachReadSeesTheWriteMadeBeforeIt)
{
    SecretStore store(std::make_unique<MemorySecretBackend>());
    std::vector<QCoro::Task<std::optional<QString>>> reads;
    for (int round = 0; round < 3; ++round) {
        for (int key = 0; key < 20; ++key) {
            store.writeItem(QStringLiteral("k%1").arg(key), QStringLiteral("%1-%2").arg(key).arg(round));
            reads.push_back(store.secureRead(QStringLiteral("k%1").arg(key)));
        }
    }
    for (int i = 0; i < static_cast<int>(reads.size()); ++i) {
        const int key = i % 20, round = i / 20;
        EXPECT_EQ(answerWithin(std::move(reads[i]), 5000), std::optional<QString>(QStringLiteral("%1-%2").arg(key).arg(round)))
            << "key " << key << " round " << round;
    }
}

// A read whose answer is still awaited sees the value its key had when it was asked for,
// however long the service holds it: a write asked for after it waits for it.
TEST(SecretStore, AWriteWaitsForTheEarlierReadOfItsKey)
{
    auto gate = std::make_shared<test::SecretGate>();
    gate->heldReads = {QStringLiteral("profiles_v2")};
    auto memory = std::make_shared<MemorySecretBackend>();
    memory->write(QStringLiteral("profiles_v2"), QStringLiteral("old"));
    SecretStore store(std::make_unique<test::GatedSecretBackend>(gate, memory), 10s);

    const auto read = test::resultWhenDone(store.readItemPatiently(QStringLiteral("profiles_v2")));
    const auto written = test::resultWhenDone(store.writeItem(QStringLiteral("profiles_v2"), QStringLiteral("new")));

    // Time enough for a write let through to land many times over.
    QTest::qWait(300);
    EXPECT_FALSE(written->has_value()) << "the write overtook the read held before it";
    EXPECT_EQ(memory->items().value(QStringLiteral("profiles_v2")), QStringLiteral("old"));
    gate->release();
    ASSERT_TRUE(QTest::qWaitFor([&] { return read->has_value() && written->has_value(); }, 5000));
    EXPECT_EQ((*read)->value, QStringLiteral("old"));
    EXPECT_EQ((*written)->status, SecretStatus::ok);
    EXPECT_EQ(memory->items().value(QStringLiteral("profiles_v2")), QStringLiteral("new"));
}

// The store's end gives a write the service is still busy with its grace: one that answers
// within it is kept before the end returns (the process may end right after).
TEST(SecretStore, TheEndWaitsItsGraceForAWriteInFlight)
{
    auto gate = std::make_shared<test::SecretGate>();
    gate->heldWrites = {QStringLiteral("profiles_v2")};
    auto memory = std::make_shared<MemorySecretBackend>();
    auto store = std::make_unique<SecretStore>(std::make_unique<test::GatedSecretBackend>(gate, memory), 10s);
    store->writeItem(QStringLiteral("profiles_v2"), QStringLiteral("kept"));
    // The service answers well within the grace.
    std::thread answering([gate] {
        std::this_thread::sleep_for(SecretStore::closingGrace / 4);
        gate->release();
    });
    store.reset();
    EXPECT_EQ(memory->items().value(QStringLiteral("profiles_v2")), QStringLiteral("kept"))
        << "the end did not wait for a write answered within its grace";
    answering.join();
}

// Whether the process still runs (an ended one not yet waited for does not).
bool running(qint64 pid)
{
    QFile stat(QStringLiteral("/proc/%1/stat").arg(pid));
    const QByteArray text = stat.open(QIODevice::ReadOnly) ? stat.readAll() : QByteArray();
    const qsizetype nameEnd = text.lastIndexOf(')');
    return nameEnd > 0 && text.size() > nameEnd + 2 && text.at(nameEnd + 2) != 'Z';
}

// The application's quit with a keychain write that never answers: the process ends, and
// its configuration folder stays claimed until it has.
TEST(SecretStore, QuittingWithAStuckWriteEndsTheProcessAndKeepsTheFolderToTheEnd)
{
    test::TempFolder home;
    const QString folder = home.file(QStringLiteral("halvoren"));
    QProcess quitting;
    quitting.start(QStringLiteral(HALVOREN_STUCK_KEYCHAIN_QUIT), {folder});
    ASSERT_TRUE(quitting.waitForStarted(5000));
    ASSERT_TRUE(quitting.waitForReadyRead(10000)) << "it never got to quit";
    ASSERT_EQ(quitting.readAllStandardOutput(), QByteArray("quitting\n"));
    // Its main has returned; what runs after it must still hold the folder.
    const int descriptor = ::open(QFile::encodeName(SingleInstance(folder).lockPath()).constData(), O_RDWR | O_CLOEXEC);
    ASSERT_GE(descriptor, 0);
    const bool taken = ::flock(descriptor, LOCK_EX | LOCK_NB) == 0;
    EXPECT_FALSE(taken && running(quitting.processId())) << "the folder was let go before the process ended";
    const bool ended = quitting.waitForFinished(SecretStore::closingGrace.count() + 5000);
    EXPECT_TRUE(ended) << "quitting waits for the keychain";
    if (!ended) {
        quitting.kill();
        quitting.waitForFinished(5000);
    }
    EXPECT_EQ(quitting.exitStatus(), QProcess::NormalExit);
    EXPECT_EQ(quitting.exitCode(), 0);
    ::close(descriptor);
}

} // namespace
} // namespace halvoren
