// The loopback sshd (see SshServer.h) as a host of the workspace's connections: their ssh is
// the run's key client until the object goes, this computer's home is a fresh folder, and
// the account's profile and project folders are made on request.
#pragma once

#include "app/remote/SshServer.h"
#include "app/support/TempFolder.h"
#include "app/support/TmuxInstalled.h"
#include "remote/SSHLink.h"

#include <QDir>

#include <gtest/gtest.h>

namespace halvoren::test {

class SshHost {
public:
    SshHost() : SshHost(SshServer::Options{}) {}
    explicit SshHost(SshServer::Options options) : server(options) { SSHLink::setProgramForTests(server.keyClient()); }
    ~SshHost() { SSHLink::setProgramForTests(QStringLiteral("/usr/bin/ssh")); }
    SshHost(const SshHost&) = delete;
    SshHost& operator=(const SshHost&) = delete;
    // Fails with the server's reason, or naming tmux, when either is missing.
    testing::AssertionResult ready() const
    {
        if (!server.running())
            return testing::AssertionFailure() << server.failure().toStdString();
        return tmuxInstalled();
    }
    // The account's home for this run.
    QString remoteHome() const { return server.remoteHome(); }
    // The account keeps its tmux server below the run's home, which goes with the run.
    bool keepTmuxAtHome() const
    {
        return writeAll(remoteHome() + QStringLiteral("/.profile"), "export TMUX_TMPDIR=\"$HOME\"\n");
    }
    // The account's project folder `name`, made; empty when it could not be.
    QString project(const QString& name) const
    {
        const QString path = remoteHome() + QStringLiteral("/projets/") + name;
        return QDir().mkpath(path) ? path : QString();
    }

    SshServer server;
    MacProfile profile = server.profile();
    // This computer's home; the connections' control sockets live below it.
    TempFolder localHome;
    EnvironmentOverride home{"HOME", localHome.path()};
};

} // namespace halvoren::test
