// A private OpenSSH server for integration tests: sshd on 127.0.0.1 at a free port, with a
// host key, a client key and a configuration made for the run in a temporary folder, and a
// client wrapper that gives /usr/bin/ssh the run's known hosts and key.
//
// Logins go to the dedicated local account "hvtest" (created when missing), whose home for the
// run is a fresh folder of its own. Its password is locked: a server that accepts the password
// sets the known one for its own life and locks it again when it goes, unless another test
// process is still in its own password window. The destructor stops sshd and every process it
// started.
#pragma once

#include "settings/MacProfile.h"

#include <QString>

#include <memory>
#include <optional>

#include <sys/types.h>

namespace halvoren::test {

// While it lives, the account has the known password; the last one to go locks it again.
// Test processes running at once share it through files of their own in /tmp, locked.
class PasswordWindow {
public:
    PasswordWindow();
    ~PasswordWindow();
    PasswordWindow(const PasswordWindow&) = delete;
    PasswordWindow& operator=(const PasswordWindow&) = delete;
    // Empty when the password is set.
    QString failure;

private:
    QString path;
    int lease = -1;
};

// Whether the account's password is locked, once no test process holds it; nothing while one
// does.
std::optional<bool> passwordLocked();

class SshServer {
public:
    static constexpr const char* user = "hvtest";
    static constexpr const char* password = "hv-Test-7391-pw";
    struct Options {
        // Also accept the account's password (the client wrapper for passwords offers no key).
        bool passwordLogin = false;
    };
    SshServer() : SshServer(Options{}) {}
    explicit SshServer(Options options);
    ~SshServer();
    SshServer(const SshServer&) = delete;
    SshServer& operator=(const SshServer&) = delete;
    // Empty when the server runs; otherwise one line saying why (a missing Debian package
    // is named).
    const QString& failure() const { return whyNot; }
    bool running() const { return whyNot.isEmpty(); }
    int port() const { return listenPort; }
    // The run's folder; everything the server and the clients write lives under it.
    const QString& folder() const { return root; }
    // The account's home for this run, as the remote shell sees it in $HOME.
    QString remoteHome() const { return root + QStringLiteral("/home"); }
    // ssh with the run's known hosts and client key.
    QString keyClient() const { return root + QStringLiteral("/ssh"); }
    // ssh with the run's known hosts and no key: it has to ask for the password.
    QString passwordClient() const { return root + QStringLiteral("/ssh-password"); }
    // The public half of the client key, as one line.
    QString clientPublicKey() const;
    // A profile for hvtest on this server.
    MacProfile profile(const QString& id = QStringLiteral("p1700000000000001")) const;
    // The server's own diagnostics so far.
    QString log() const;

private:
    bool prepare(const Options& options);
    bool launch();
    void stop();
    QString root;
    QString whyNot;
    int listenPort = 0;
    pid_t server = -1;
    // Goes after sshd has stopped (members are destroyed after the destructor's body).
    std::unique_ptr<PasswordWindow> passwordWindow;
};

} // namespace halvoren::test
