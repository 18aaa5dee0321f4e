// A model for the server sheets' tests: private preferences and home, passwords in memory, and
// an ssh that always fails at once, so every silent connection ends in "not connected".
#pragma once

#include "model/MacModel.h"
#include "model/ProfileStore.h"
#include "platform/Notifier.h"
#include "platform/PreferenceStore.h"
#include "platform/SecretStore.h"
#include "remote/SSHLink.h"

#include "app/support/TempFolder.h"

#include <qcoro/qcorotask.h>

#include <memory>

namespace halvoren::test {

struct ServersWorkspace {
    TempFolder folder;
    EnvironmentOverride home{"HOME", folder.path()};
    PreferenceStore store{folder.file(QStringLiteral("preferences.json"))};
    Prefs prefs{store};
    MemorySecretBackend* passwords = new MemorySecretBackend;
    SecretStore keychain{std::unique_ptr<SecretBackend>(passwords)};
    Notifier notifier{QDBusConnection(QStringLiteral("no-bus"))};
    MacModel model{prefs, &keychain, &notifier};

    ServersWorkspace() { SSHLink::setProgramForTests(QStringLiteral("/bin/false")); }
    ~ServersWorkspace() { SSHLink::setProgramForTests(QStringLiteral("/usr/bin/ssh")); }

    static MacProfile profile(const QString& id, const QString& host, const QString& user = {}, int port = 22)
    {
        MacProfile made;
        made.id = id;
        made.name = host;
        made.host = host;
        made.username = user;
        made.port = port;
        return made;
    }
    // A connection of the profile as if its silent connection had succeeded.
    MacConnection& connected(const MacProfile& of)
    {
        auto* connection = new MacConnection(std::make_shared<SSHLink>(of));
        model.appendConnection(connection);
        return *connection;
    }
    // The stored password of a profile; reads queue behind earlier writes.
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
