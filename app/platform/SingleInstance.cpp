#include "platform/SingleInstance.h"

#include "platform/Log.h"

#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QLocalServer>
#include <QLocalSocket>
#include <QTimer>

#include <cerrno>
#include <cstring>
#include <thread>

#include <fcntl.h>
#include <sys/file.h>
#include <sys/un.h>
#include <unistd.h>

namespace halvoren {

namespace {

// The longest message a connection may send before it is dropped.
constexpr qint64 maximumMessageBytes = 64;
// The longest socket path read back from the lock file.
constexpr qsizetype maximumRecordedPathBytes = 4096;

// The folder's identity, so that two spellings of one folder (a symbolic link, "a/../b")
// are one configuration.
QString canonicalFolder(const QString& folder)
{
    QDir().mkpath(folder);
    const QString canonical = QFileInfo(folder).canonicalFilePath();
    return canonical.isEmpty() ? QDir::cleanPath(QFileInfo(folder).absoluteFilePath()) : canonical;
}

QString socketPathFor(const QString& folder)
{
    const QString digest = QString::fromLatin1(
        QCryptographicHash::hash(canonicalFolder(folder).toUtf8(), QCryptographicHash::Sha256).toHex().left(16));
    // The runtime folder is the user's own; a path too long for a socket address (108 bytes
    // with its final zero) falls back to the shared temporary folder, named with the user too.
    const QString runtime = qEnvironmentVariable("XDG_RUNTIME_DIR");
    if (QDir::isAbsolutePath(runtime)) {
        const QString path = runtime + QStringLiteral("/halvoren-") + digest + QStringLiteral(".socket");
        if (static_cast<std::size_t>(QFile::encodeName(path).size()) < sizeof(sockaddr_un::sun_path))
            return path;
    }
    return QDir::tempPath() + QStringLiteral("/halvoren-") + QString::number(::getuid()) + u'-' + digest
           + QStringLiteral(".socket");
}

void log(const QString& message)
{
    corvantix::logInfo(false, "instance: " + message.toStdString());
}

} // namespace

SingleInstance::SingleInstance(QString configFolder, QObject* parent)
    : QObject(parent), folder(std::move(configFolder)), serverPath(socketPathFor(folder))
{
}

SingleInstance::~SingleInstance()
{
    // The socket goes first: a launch that still finds the lock taken then waits for it.
    delete server;
    if (lockDescriptor >= 0 && !lockOutlivesThis)
        ::close(lockDescriptor);
}

QString SingleInstance::lockPath() const
{
    return folder + QStringLiteral("/instance.lock");
}

SingleInstance::Claim SingleInstance::claim(std::chrono::milliseconds patience)
{
    const auto deadline = std::chrono::steady_clock::now() + patience;
    for (;;) {
        if (lockDescriptor < 0) {
            // Close-on-exec: a program started later (a tmux server outlives us) must not
            // inherit the lock and hold the folder after we are gone.
            lockDescriptor = ::open(QFile::encodeName(lockPath()).constData(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
            if (lockDescriptor < 0) {
                log(QStringLiteral("cannot open %1 (%2); running unguarded")
                        .arg(lockPath(), QString::fromLocal8Bit(std::strerror(errno))));
                return Claim::first;
            }
        }
        int locked = 0;
        do
            locked = ::flock(lockDescriptor, LOCK_EX | LOCK_NB);
        while (locked != 0 && errno == EINTR);
        if (locked == 0) {
            listen();
            return Claim::first;
        }
        if (errno != EWOULDBLOCK) {
            log(QStringLiteral("cannot lock %1 (%2); running unguarded")
                    .arg(lockPath(), QString::fromLocal8Bit(std::strerror(errno))));
            return Claim::first;
        }
        // The holder wrote where it listens once it did; its path is read again each turn.
        char recorded[maximumRecordedPathBytes];
        const ssize_t count = ::pread(lockDescriptor, recorded, sizeof recorded, 0);
        const QString path = count > 0 ? QFile::decodeName(QByteArray(recorded, count)).section(u'\n', 0, 0) : QString();
        if (QDir::isAbsolutePath(path) && forward(path))
            return Claim::forwarded;
        if (std::chrono::steady_clock::now() >= deadline)
            return Claim::unanswered;
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
}

bool SingleInstance::listen()
{
    server = new QLocalServer(this);
    // Only this user may ask for the window (the temporary folder is shared).
    server->setSocketOptions(QLocalServer::UserAccessOption);
    // A socket file at our path is a crashed holder's: we hold the lock now.
    QLocalServer::removeServer(serverPath);
    if (!server->listen(serverPath)) {
        log(QStringLiteral("cannot listen on %1 (%2); later launches will not find this one")
                .arg(serverPath, server->errorString()));
        delete server;
        server = nullptr;
        return false;
    }
    connect(server, &QLocalServer::newConnection, this, &SingleInstance::accept);
    const QByteArray record = QFile::encodeName(serverPath) + '\n';
    if (::ftruncate(lockDescriptor, 0) != 0
        || ::pwrite(lockDescriptor, record.constData(), static_cast<size_t>(record.size()), 0) != record.size())
        log(QStringLiteral("cannot record the socket in %1").arg(lockPath()));
    return true;
}

bool SingleInstance::forward(const QString& path)
{
    QLocalSocket socket;
    socket.connectToServer(path);
    if (!socket.waitForConnected(1000))
        return false;
    socket.write(raiseMessage);
    while (socket.bytesToWrite() > 0) {
        if (!socket.waitForBytesWritten(1000))
            return false;
    }
    socket.disconnectFromServer();
    return true;
}

void SingleInstance::accept()
{
    while (QLocalSocket* socket = server->nextPendingConnection()) {
        connect(socket, &QLocalSocket::readyRead, this, [this, socket] { read(socket); });
        connect(socket, &QLocalSocket::disconnected, socket, &QObject::deleteLater);
        // A peer that never finishes its line is not kept.
        QTimer::singleShot(std::chrono::seconds(5), socket, [socket] { socket->abort(); });
        read(socket);
    }
}

void SingleInstance::read(QLocalSocket* socket)
{
    if (!socket->canReadLine()) {
        if (socket->bytesAvailable() > maximumMessageBytes)
            socket->abort();
        return;
    }
    const QByteArray line = socket->readLine(maximumMessageBytes + 1);
    socket->disconnectFromServer();
    if (line == raiseMessage)
        Q_EMIT raiseRequested();
}

} // namespace halvoren
