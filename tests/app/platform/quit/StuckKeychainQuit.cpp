// Quits the way the application does while a keychain write never answers: claims the
// configuration folder given as the argument for as long as the process lives, asks a
// keychain made on first use (so torn down after main returns) for a write that never ends,
// says "quitting" on its output and returns from main.
#include "platform/SecretStore.h"
#include "platform/SingleInstance.h"

#include <QCoreApplication>
#include <QTimer>

#include <condition_variable>
#include <cstdio>
#include <mutex>

namespace {

// Every write waits for ever, as one waiting for a prompt no desktop shows.
class NeverAnsweringBackend final : public halvoren::SecretBackend {
public:
    halvoren::SecretOutcome read(const QString&) override { return {halvoren::SecretStatus::notFound, {}, {}}; }
    halvoren::SecretOutcome write(const QString&, const QString&) override { return waitForEver(); }
    halvoren::SecretOutcome remove(const QString&) override { return waitForEver(); }

private:
    halvoren::SecretOutcome waitForEver()
    {
        std::unique_lock guard(lock);
        never.wait(guard, [] { return false; });
        return {};
    }
    std::mutex lock;
    std::condition_variable never;
};

halvoren::SecretStore& keychain()
{
    static halvoren::SecretStore store(std::make_unique<NeverAnsweringBackend>());
    return store;
}

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication application(argc, argv);
    if (argc != 2)
        return 2;
    halvoren::SingleInstance instance(QString::fromLocal8Bit(argv[1]));
    if (instance.claim() != halvoren::SingleInstance::Claim::first)
        return 3;
    instance.holdUntilExit();
    keychain().secureWrite(QStringLiteral("pwd_p1"), QStringLiteral("secret"));
    QTimer::singleShot(100, &application, &QCoreApplication::quit);
    const int status = QCoreApplication::exec();
    std::puts("quitting");
    std::fflush(stdout);
    return status;
}
