// A private OpenSSH server for integration tests: sshd on 127.0.0.1 at a free port, with a
// host key, a client key and a configuration made for the run in a temporary folder, and a
// client wrapper that gives /usr/bin/ssh the run's known hosts and key.
//
// Logins go to the dedicated local account "hvtest" (created when missing), whose home for the
// run is a fresh folder of its own. Its password is locked, except inside a PasswordWindow,
// which a test opens around the logins that type it. The destructor stops sshd and every
// process it started.
#pragma once

#include "settings/MacProfile.h"

#include <QByteArray>
#include <QString>
#include <QStringList>

#include <chrono>
#include <functional>
#include <memory>
#include <optional>

#include <sys/types.h>

namespace halvoren::test {

// Runs one of the tools that change the account (useradd, usermod, chpasswd): its output on
// failure, nothing on success. They refuse while another process holds the system's lock of
// the password files, such as the tool of a test run stopped a moment ago, which lets it go
// within moments: a failure is tried again, every quarter of a second, for `patience`.
std::optional<QString> runAccountTool(const QString& program, const QStringList& arguments, const QByteArray& input = {},
                                      std::chrono::milliseconds patience = std::chrono::seconds(5));

// Where the runs that log in with the password hold it, each with a locked file of its own.
// Taken only when it is a folder of this user with mode 0700: one that anybody else made
// could keep the password set for ever.
inline constexpr char passwordHoldFolder[] = "/tmp/hvtest-password.d";

// While one lives, the account has the known password; the last one to go, in any test
// process, locks it again.
class PasswordWindow {
public:
    PasswordWindow();
    // A window of the test's own: it holds in `holdFolder` and, leaving it with no holder,
    // calls `lastOut`; the account is left alone.
    PasswordWindow(QString holdFolder, std::function<void()> lastOut);
    ~PasswordWindow();
    PasswordWindow(const PasswordWindow&) = delete;
    PasswordWindow& operator=(const PasswordWindow&) = delete;
    // Empty when the password is set.
    QString failure;

private:
    bool hold();
    const QString folder;
    std::function<void()> lock;
    QString name;
    int lease = -1;
};

// Why `folder` may not hold the password (a link, not a folder, another user's, or a mode
// other than 0700); empty when it may. Made, private, when missing.
QString holdFolderRefusal(const QString& folder);
// The holders of the password in `folder`: locked regular files of this user, not reached
// through a link. Files no process holds are removed. None in a refused folder.
int passwordHolders(const QString& folder);

// The account's password, read while no test process changes it: whether it is locked, and
// how many holders of any run keep it set. Nothing when the account cannot be read.
struct PasswordState {
    bool locked = false;
    int holders = 0;
};
std::optional<PasswordState> passwordState();

class SshServer {
public:
    static constexpr const char* user = "hvtest";
    static constexpr const char* password = "hv-Test-7391-pw";
    struct Options {
        // Also take passwords (the client wrapper for passwords offers no key). The account's
        // own is set only inside a PasswordWindow.
        bool passwordLogin = false;
        // Sessions one connection may hold (sshd's MaxSessions; 10 is its own default).
        int maxSessions = 10;
        // The shell the account's commands are given as SHELL, so the "$SHELL -lc" of a tab's
        // command runs it as the login shell; the account's own when empty.
        QString loginShell{};
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
};

} // namespace halvoren::test
