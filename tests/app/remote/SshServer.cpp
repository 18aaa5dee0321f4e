#include "SshServer.h"

#include "../support/Poll.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QThread>

#include <arpa/inet.h>
#include <cerrno>
#include <csignal>
#include <fcntl.h>
#include <netinet/in.h>
#include <pwd.h>
#include <sys/file.h>
#include <sys/prctl.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <set>
#include <string>
#include <vector>

namespace halvoren::test {

namespace {

bool writeText(const QString& path, const QString& text, QFile::Permissions permissions)
{
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate))
        return false;
    file.write(text.toUtf8());
    file.close();
    return file.setPermissions(permissions);
}

// Runs a program to the end; its output on failure, nothing on success.
std::optional<QString> runProgram(const QString& program, const QStringList& arguments, const QByteArray& input = {})
{
    QProcess process;
    process.setProcessChannelMode(QProcess::MergedChannels);
    process.start(program, arguments);
    if (!process.waitForStarted(10000))
        return program + QStringLiteral(": cannot start");
    process.write(input);
    process.closeWriteChannel();
    if (!process.waitForFinished(30000)) {
        process.kill();
        process.waitForFinished();
        return program + QStringLiteral(": no answer");
    }
    if (process.exitStatus() != QProcess::NormalExit || process.exitCode() != 0)
        return program + QStringLiteral(": ") + QString::fromUtf8(process.readAll()).trimmed();
    return std::nullopt;
}

// The test account, made when missing; its password is set to the known one each time, under
// a lock shared by concurrent test processes.
std::optional<QString> ensureAccount()
{
    const int lock = ::open("/tmp/hvtest-account.lock", O_RDWR | O_CREAT | O_CLOEXEC, 0600);
    if (lock >= 0)
        ::flock(lock, LOCK_EX);
    std::optional<QString> failure;
    if (::getpwnam(SshServer::user) == nullptr) {
        if (::geteuid() != 0)
            failure = QStringLiteral("the account hvtest is missing and only root can create it");
        else
            failure = runProgram(QStringLiteral("/usr/sbin/useradd"),
                                 {QStringLiteral("-m"), QStringLiteral("-s"), QStringLiteral("/bin/bash"),
                                  QString::fromLatin1(SshServer::user)});
    }
    if (!failure && ::geteuid() == 0) {
        failure = runProgram(QStringLiteral("/usr/sbin/chpasswd"), {},
                             QByteArray(SshServer::user) + ':' + SshServer::password + '\n');
    }
    if (lock >= 0)
        ::close(lock);
    return failure;
}

sockaddr_in loopback(int port)
{
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(static_cast<uint16_t>(port));
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    return address;
}

int freePort()
{
    const int probe = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (probe < 0)
        return 0;
    sockaddr_in address = loopback(0);
    socklen_t length = sizeof address;
    int port = 0;
    if (::bind(probe, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0
        && ::getsockname(probe, reinterpret_cast<sockaddr*>(&address), &length) == 0)
        port = ntohs(address.sin_port);
    ::close(probe);
    return port;
}

bool accepts(int port)
{
    const int probe = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (probe < 0)
        return false;
    const sockaddr_in address = loopback(port);
    const bool connected = ::connect(probe, reinterpret_cast<const sockaddr*>(&address), sizeof address) == 0;
    ::close(probe);
    return connected;
}

// What is left to end with the server, from /proc: every process below `ancestor` (sshd serves
// connections in sessions of their own, with the commands they run below them), and every one
// whose environment holds `entry` (the commands of this run's sessions carry the run's own
// HOME, also once their session has ended and left them behind).
std::set<pid_t> leftBehind(pid_t ancestor, const QByteArray& entry)
{
    std::vector<std::pair<pid_t, pid_t>> parents;
    std::set<pid_t> found;
    const QString proc = QStringLiteral("/proc/");
    for (const QString& name : QDir(proc).entryList(QDir::Dirs | QDir::NoDotAndDotDot)) {
        bool numeric = false;
        const pid_t pid = name.toInt(&numeric);
        if (!numeric || pid == ::getpid())
            continue;
        QFile stat(proc + name + QStringLiteral("/stat"));
        if (stat.open(QIODevice::ReadOnly)) {
            // The command name is in parentheses and may hold blanks: read after the last one.
            const QByteArray text = stat.readAll();
            const QList<QByteArray> fields = text.mid(text.lastIndexOf(')') + 2).split(' ');
            if (fields.size() > 1)
                parents.emplace_back(pid, static_cast<pid_t>(fields[1].toInt()));
        }
        QFile environment(proc + name + QStringLiteral("/environ"));
        if (environment.open(QIODevice::ReadOnly) && environment.readAll().split('\0').contains(entry))
            found.insert(pid);
    }
    std::set<pid_t> below{ancestor};
    for (bool grew = true; grew;) {
        grew = false;
        for (const auto& [pid, parent] : parents)
            grew = (below.count(parent) != 0 && below.insert(pid).second) || grew;
    }
    below.erase(ancestor);
    found.insert(below.begin(), below.end());
    return found;
}

} // namespace

SshServer::SshServer(Options options)
{
    if (prepare(options))
        launch();
}

SshServer::~SshServer()
{
    stop();
    if (!root.isEmpty())
        QDir(root).removeRecursively();
}

bool SshServer::prepare(const Options& options)
{
    if (!QFileInfo(QStringLiteral("/usr/sbin/sshd")).isExecutable()) {
        whyNot = QStringLiteral("/usr/sbin/sshd is missing: install the Debian package openssh-server");
        return false;
    }
    if (!QFileInfo(QStringLiteral("/usr/bin/ssh-keygen")).isExecutable() || !QFileInfo(QStringLiteral("/usr/bin/ssh")).isExecutable()) {
        whyNot = QStringLiteral("ssh or ssh-keygen is missing: install the Debian package openssh-client");
        return false;
    }
    // sshd's compiled-in privilege separation folder, which the system's service manager
    // usually makes at boot.
    if (!QFileInfo::exists(QStringLiteral("/run/sshd"))) {
        if (::mkdir("/run/sshd", 0755) != 0 && errno != EEXIST) {
            whyNot = QStringLiteral("sshd needs the folder /run/sshd, which cannot be made here");
            return false;
        }
    }
    if (std::optional<QString> failure = ensureAccount()) {
        whyNot = QStringLiteral("test account: ") + *failure;
        return false;
    }
    const passwd* account = ::getpwnam(user);
    if (account == nullptr) {
        whyNot = QStringLiteral("the account hvtest cannot be found");
        return false;
    }

    // Short, because the clients' control sockets are made below it.
    std::string pattern = "/tmp/hvs-XXXXXX";
    if (::mkdtemp(pattern.data()) == nullptr) {
        whyNot = QStringLiteral("cannot make a temporary folder");
        return false;
    }
    root = QString::fromStdString(pattern);
    // The account reads its authorized keys and works in its home below this folder.
    QFile::setPermissions(root, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner | QFile::ReadGroup
                                    | QFile::ExeGroup | QFile::ReadOther | QFile::ExeOther);
    QDir().mkpath(remoteHome());
    if (::chown(QFile::encodeName(remoteHome()).constData(), account->pw_uid, account->pw_gid) != 0 && ::geteuid() == 0) {
        whyNot = QStringLiteral("cannot give the run's home folder to hvtest");
        return false;
    }

    for (const char* key : {"host_key", "client_key"}) {
        if (std::optional<QString> failure =
                runProgram(QStringLiteral("/usr/bin/ssh-keygen"), {QStringLiteral("-q"), QStringLiteral("-t"), QStringLiteral("ed25519"),
                                                                  QStringLiteral("-N"), QString(), QStringLiteral("-C"),
                                                                  QStringLiteral("halvoren-test"), QStringLiteral("-f"),
                                                                  root + u'/' + QLatin1String(key)})) {
            whyNot = *failure;
            return false;
        }
    }
    const QFile::Permissions readable = QFile::ReadOwner | QFile::WriteOwner | QFile::ReadGroup | QFile::ReadOther;
    const QFile::Permissions privateFile = QFile::ReadOwner | QFile::WriteOwner;
    const QFile::Permissions program = privateFile | QFile::ExeOwner;
    writeText(root + QStringLiteral("/authorized_keys"), clientPublicKey() + u'\n', readable);

    const QString config = QStringLiteral("ListenAddress 127.0.0.1\n"
                                          "HostKey %1/host_key\n"
                                          "PidFile none\n"
                                          "UsePAM no\n"
                                          "AllowUsers hvtest\n"
                                          "PermitRootLogin no\n"
                                          "PubkeyAuthentication yes\n"
                                          "AuthorizedKeysFile %1/authorized_keys\n"
                                          // The run's files sit below the world-writable /tmp.
                                          "StrictModes no\n"
                                          "PasswordAuthentication %2\n"
                                          "KbdInteractiveAuthentication no\n"
                                          "SetEnv HOME=%1/home\n"
                                          "LogLevel INFO\n")
                               .arg(root, options.passwordLogin ? QStringLiteral("yes") : QStringLiteral("no"));
    writeText(root + QStringLiteral("/sshd_config.base"), config, privateFile);

    const QString clientConfig = QStringLiteral("UserKnownHostsFile %1/known_hosts\n"
                                                "GlobalKnownHostsFile /dev/null\n"
                                                "IdentityAgent none\n"
                                                "IdentitiesOnly yes\n"
                                                "IdentityFile %1/client_key\n"
                                                "LogLevel ERROR\n")
                                     .arg(root);
    const QString passwordConfig = QStringLiteral("UserKnownHostsFile %1/known_hosts\n"
                                                  "GlobalKnownHostsFile /dev/null\n"
                                                  "IdentityAgent none\n"
                                                  "PubkeyAuthentication no\n"
                                                  "PreferredAuthentications password\n"
                                                  "LogLevel ERROR\n")
                                       .arg(root);
    writeText(root + QStringLiteral("/ssh_config"), clientConfig, privateFile);
    writeText(root + QStringLiteral("/ssh_config_password"), passwordConfig, privateFile);
    writeText(keyClient(), QStringLiteral("#!/bin/sh\nexec /usr/bin/ssh -F '%1/ssh_config' \"$@\"\n").arg(root), program);
    writeText(passwordClient(), QStringLiteral("#!/bin/sh\nexec /usr/bin/ssh -F '%1/ssh_config_password' \"$@\"\n").arg(root),
              program);
    return true;
}

bool SshServer::launch()
{
    // Another process may take the free port between the probe and sshd's bind: try again.
    for (int attempt = 0; attempt < 5; ++attempt) {
        listenPort = freePort();
        const QString config = root + QStringLiteral("/sshd_config");
        QFile::remove(config);
        QFile::copy(root + QStringLiteral("/sshd_config.base"), config);
        {
            QFile file(config);
            file.open(QIODevice::Append);
            file.write(QStringLiteral("Port %1\n").arg(listenPort).toUtf8());
        }
        const QByteArray configPath = QFile::encodeName(config);
        const QByteArray logPath = QFile::encodeName(root + QStringLiteral("/sshd.log"));
        const pid_t child = ::fork();
        if (child < 0) {
            whyNot = QStringLiteral("fork failed");
            return false;
        }
        if (child == 0) {
            ::setpgid(0, 0);
            // A test that crashes takes its server with it.
            ::prctl(PR_SET_PDEATHSIG, SIGTERM);
            const int log = ::open(logPath.constData(), O_WRONLY | O_CREAT | O_APPEND, 0600);
            if (log >= 0) {
                ::dup2(log, STDOUT_FILENO);
                ::dup2(log, STDERR_FILENO);
            }
            const int null = ::open("/dev/null", O_RDONLY);
            if (null >= 0)
                ::dup2(null, STDIN_FILENO);
            const char* arguments[] = {"/usr/sbin/sshd", "-D", "-e", "-f", configPath.constData(), nullptr};
            ::execv(arguments[0], const_cast<char* const*>(arguments));
            ::_exit(127);
        }
        server = child;
        const bool listening = pollUntil(
            [&] {
                int status = 0;
                if (::waitpid(server, &status, WNOHANG) == server) {
                    server = -1;
                    return true;
                }
                return accepts(listenPort);
            },
            std::chrono::seconds(10), std::chrono::milliseconds(20));
        if (listening && server > 0)
            return true;
        if (server > 0) {
            stop();
            whyNot = QStringLiteral("sshd did not listen within 10 s: ") + log().trimmed();
            return false;
        }
        if (!log().contains(QStringLiteral("Address already in use")))
            break;
    }
    whyNot = QStringLiteral("sshd did not start: ") + log().trimmed();
    return false;
}

void SshServer::stop()
{
    if (server <= 0)
        return;
    const std::set<pid_t> served = leftBehind(server, "HOME=" + QFile::encodeName(remoteHome()));
    for (const pid_t pid : served)
        ::kill(pid, SIGTERM);
    ::kill(server, SIGTERM);
    int status = 0;
    if (!pollUntil([&] { return ::waitpid(server, &status, WNOHANG) == server; }, std::chrono::seconds(3))) {
        ::kill(server, SIGKILL);
        ::waitpid(server, &status, 0);
    }
    server = -1;
    for (const pid_t pid : served) {
        if (::kill(pid, 0) == 0)
            ::kill(pid, SIGKILL);
    }
}

QString SshServer::clientPublicKey() const
{
    QFile file(root + QStringLiteral("/client_key.pub"));
    if (!file.open(QIODevice::ReadOnly))
        return {};
    return QString::fromUtf8(file.readAll()).trimmed();
}

MacProfile SshServer::profile(const QString& id) const
{
    MacProfile profile;
    profile.id = id;
    profile.host = QStringLiteral("127.0.0.1");
    profile.port = listenPort;
    profile.username = QString::fromLatin1(user);
    profile.name = profile.username + u'@' + profile.host;
    return profile;
}

QString SshServer::log() const
{
    QFile file(root + QStringLiteral("/sshd.log"));
    if (!file.open(QIODevice::ReadOnly))
        return {};
    return QString::fromUtf8(file.readAll());
}

} // namespace halvoren::test
