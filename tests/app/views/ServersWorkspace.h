// A model for the server sheets' tests: the common views workspace with an ssh that fails at
// once, so every silent connection ends in "not connected".
#pragma once

#include "app/views/ViewsWorkspace.h"
#include "model/ProfileStore.h"

namespace halvoren::test {

struct ServersWorkspace : ViewsWorkspace {
    ServersWorkspace() { SSHLink::setProgramForTests(QStringLiteral("/bin/false")); }
    ~ServersWorkspace() { SSHLink::setProgramForTests(QStringLiteral("/usr/bin/ssh")); }
    // A server by its host, as the sheets show it (hides the common one by name).
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
