// A model for the server sheets' tests: private preferences and home, passwords in memory, and
// an ssh that fails at once, so every silent connection ends in "not connected".
#pragma once

#include "app/support/TempFolder.h"
#include "model/MacModel.h"
#include "model/ProfileStore.h"
#include "platform/Notifier.h"
#include "platform/SecretStore.h"
#include "remote/SSHLink.h"

namespace halvoren::test {

struct ServersWorkspace {
    TempFolder folder;
    EnvironmentOverride home{"HOME", folder.path()};
    PreferenceStore store{folder.file(QStringLiteral("preferences.json"))};
    Prefs prefs{store};
    SecretStore keychain{std::make_unique<MemorySecretBackend>()};
    Notifier notifier{QDBusConnection(QStringLiteral("no-bus"))};
    MacModel model{prefs, &keychain, &notifier};

    ServersWorkspace() { SSHLink::setProgramForTests(QStringLiteral("/bin/false")); }
    ~ServersWorkspace() { SSHLink::setProgramForTests(QStringLiteral("/usr/bin/ssh")); }
    static MacProfile profile(const QString& id, const QString& host, const QString& user = {}, int port = 22)
    {
        return MacProfile{id, host, host, port, user};
    }
    // As if its silent connection had succeeded.
    void connect(const MacProfile& profile)
    {
        model.appendConnection(new MacConnection(std::make_shared<SSHLink>(profile)));
    }
    // Reads queue behind earlier writes, so this sees every write made before.
    std::optional<QString> password(const QString& id)
    {
        return QCoro::waitFor(keychain.secureRead(ProfileStore::passwordKey(id)));
    }
    void remember(const QString& id, const QString& value)
    {
        QCoro::waitFor(keychain.secureWrite(ProfileStore::passwordKey(id), value));
    }
};

} // namespace halvoren::test
