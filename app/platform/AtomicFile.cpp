#include "platform/AtomicFile.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace halvoren {

FileCallsForTests& fileCallsForTests()
{
    static FileCallsForTests calls;
    return calls;
}

namespace {

// Every byte, again after an interruption; false with errno set as the failing write left it.
bool writeAllBytes(int descriptor, QByteArrayView bytes)
{
    const auto& write = fileCallsForTests().write;
    const char* data = bytes.data();
    qsizetype left = bytes.size();
    while (left > 0) {
        const ssize_t count = write ? write(descriptor, data, static_cast<size_t>(left))
                                    : ::write(descriptor, data, static_cast<size_t>(left));
        if (count < 0 && errno == EINTR)
            continue;
        if (count <= 0) {
            // A regular file that takes nothing more and says no more than that.
            if (count == 0)
                errno = EIO;
            return false;
        }
        data += count;
        left -= count;
    }
    return true;
}

} // namespace

int writeAndClose(int descriptor, QByteArrayView bytes, bool flush)
{
    // A failure is never told as success, even by a call that gives no reason.
    const auto failure = [] { return errno != 0 ? errno : EIO; };
    const bool written = writeAllBytes(descriptor, bytes) && (!flush || ::fsync(descriptor) == 0);
    const int writeError = written ? 0 : failure();
    // A file system that reports a failed write late (over the network) does so at the close;
    // an interrupted close has closed the file all the same.
    const auto& close = fileCallsForTests().close;
    const bool closed = (close ? close(descriptor) : ::close(descriptor)) == 0 || errno == EINTR;
    if (!written)
        return writeError;
    return closed ? 0 : failure();
}

namespace {

QString reason(const QByteArray& file, int error)
{
    return QString::fromLocal8Bit(file) + QStringLiteral(": ") + QString::fromLocal8Bit(std::strerror(error));
}

} // namespace

std::optional<QString> writeFileAtomically(const QString& path, const QByteArray& bytes, unsigned mode,
                                           const std::function<void()>& beforeRename)
{
    const QFileInfo info(path);
    QDir().mkpath(info.absolutePath());
    const QByteArray target = QFile::encodeName(path);
    const QByteArray temporary = target + ".tmp." + QByteArray::number(::getpid());
    const int descriptor = ::open(temporary.constData(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, mode);
    if (descriptor < 0)
        return reason(temporary, errno);
    // An older temporary file of the same name may have other permissions.
    ::fchmod(descriptor, mode);
    if (const int writeError = writeAndClose(descriptor, bytes, true)) {
        ::unlink(temporary.constData());
        return reason(temporary, writeError);
    }
    if (beforeRename)
        beforeRename();
    if (::rename(temporary.constData(), target.constData()) != 0) {
        const int renameError = errno;
        ::unlink(temporary.constData());
        return reason(target, renameError);
    }
    // Make the rename itself durable.
    const QByteArray directory = QFile::encodeName(info.absolutePath());
    if (const int folder = ::open(directory.constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC); folder >= 0) {
        ::fsync(folder);
        ::close(folder);
    }
    return std::nullopt;
}

std::optional<QByteArray> readSmallFile(const QString& path, qint64 limit)
{
    QFile file(path);
    const QFileInfo info(path);
    if (!info.isFile() || info.size() > limit || !file.open(QIODevice::ReadOnly))
        return std::nullopt;
    QByteArray bytes = file.read(limit + 1);
    if (bytes.size() > limit)
        return std::nullopt;
    return bytes;
}

} // namespace halvoren
