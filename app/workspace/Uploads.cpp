// Files pasted or dropped on a tab, copied into its project's "Upload" folder.
#include "workspace/MacModel.h"

#include "platform/AtomicFile.h"
#include "tab/MacTab.h"

#include <QFile>
#include <QFileInfo>
#include <QtConcurrent/QtConcurrentRun>
#include <qcoro/qcorofuture.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <filesystem>
#include <limits>
#include <new>
#include <system_error>

#include <fcntl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

namespace halvoren {

namespace {

const QString uploadFolderName = QStringLiteral("Upload");

// Letters, digits and their marks (a vowel sign, a shadda, a decomposed accent), which no
// shell reads as anything; format and control characters are not kept.
bool keptInUploadName(char32_t c)
{
    if (c == U'.' || c == U'_' || c == U'-')
        return true;
    if (QChar::isLetter(c) || QChar::isDigit(c))
        return true;
    switch (QChar::category(c)) {
    case QChar::Mark_NonSpacing:
    case QChar::Mark_SpacingCombining:
    case QChar::Mark_Enclosing:
        return true;
    default:
        return false;
    }
}

QString systemError(int error)
{
    return QString::fromStdString(std::generic_category().message(error));
}

std::filesystem::path filePath(const QString& path)
{
    return std::filesystem::path(QFile::encodeName(path).toStdString());
}

QString& memoryInfoPath()
{
    static QString path = QStringLiteral("/proc/meminfo");
    return path;
}

// The first number after `label` in a small file of /proc, or nothing.
std::optional<quint64> procNumber(const QString& path, QByteArrayView label)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return std::nullopt;
    const QByteArray text = file.read(16384);
    const qsizetype at = text.indexOf(label);
    if (at < 0)
        return std::nullopt;
    const QByteArray rest = text.mid(at + label.size()).trimmed();
    qsizetype digits = 0;
    while (digits < rest.size() && digits < 19 && rest[digits] >= '0' && rest[digits] <= '9')
        ++digits;
    bool ok = false;
    const quint64 value = rest.left(digits).toULongLong(&ok);
    return ok ? std::optional(value) : std::nullopt;
}

// Whether `size` more bytes can be held at once: within the address space this process may
// still take and the memory the system has to spare. What cannot be known counts as room;
// an allocation that fails anyway is caught by the reader.
bool fitsInMemory(quint64 size)
{
    rlimit limit{};
    if (::getrlimit(RLIMIT_AS, &limit) == 0 && limit.rlim_cur != RLIM_INFINITY) {
        const std::optional<quint64> pages = procNumber(QStringLiteral("/proc/self/statm"), "");
        const quint64 pageSize = quint64(std::max(::sysconf(_SC_PAGESIZE), 1L));
        const quint64 used = pages && *pages <= limit.rlim_cur / pageSize ? *pages * pageSize : limit.rlim_cur;
        if (size > limit.rlim_cur - used)
            return false;
    }
    const std::optional<quint64> available = procNumber(memoryInfoPath(), "MemAvailable:");
    return !available || size / 1024 <= *available;
}

// A dropped file's bytes and permission bits.
struct DroppedFile {
    QByteArray bytes;
    mode_t permissions = 0;
};

// Nothing for anything but a regular file (a link to one counts), or for a file that cannot
// be read whole, one too large for memory included. Opened without waiting: a pipe with no
// writer would block the worker for ever, and the application's exit with it; a device is no
// file to copy.
std::optional<DroppedFile> readDroppedFile(const QString& path)
{
    const int descriptor = ::open(QFile::encodeName(path).constData(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
    if (descriptor < 0)
        return std::nullopt;
    struct Closer {
        int descriptor;
        ~Closer() { ::close(descriptor); }
    } closer{descriptor};
    struct stat status {};
    if (::fstat(descriptor, &status) != 0 || !S_ISREG(status.st_mode) || status.st_size < 0
        || quint64(status.st_size) > quint64(std::numeric_limits<qsizetype>::max() / 2)
        || !fitsInMemory(quint64(status.st_size)))
        return std::nullopt;
    // Read until its end, which may come before or after the size it had when opened.
    const auto readSome = [descriptor](char* into, qsizetype room) {
        ssize_t got;
        do
            got = ::read(descriptor, into, size_t(room));
        while (got < 0 && errno == EINTR);
        return got;
    };
    try {
        DroppedFile file{QByteArray(qsizetype(status.st_size), Qt::Uninitialized), status.st_mode & 0777};
        qsizetype filled = 0;
        while (filled < file.bytes.size()) {
            const ssize_t got = readSome(file.bytes.data() + filled, file.bytes.size() - filled);
            if (got < 0)
                return std::nullopt;
            if (got == 0)
                break;
            filled += qsizetype(got);
        }
        file.bytes.truncate(filled);
        if (filled == qsizetype(status.st_size)) {
            char more[65536];
            for (ssize_t got; (got = readSome(more, sizeof more)) != 0;) {
                if (got < 0 || !fitsInMemory(quint64(file.bytes.size()) + quint64(got)))
                    return std::nullopt;
                file.bytes.append(more, qsizetype(got));
            }
        }
        return file;
    } catch (const std::bad_alloc&) {
        return std::nullopt;
    }
}

} // namespace

void setMemoryInfoForTests(const QString& path)
{
    memoryInfoPath() = path.isEmpty() ? QStringLiteral("/proc/meminfo") : path;
}

QString cleanUploadName(const QString& name)
{
    QString clean;
    clean.reserve(name.size());
    for (const char32_t c : name.toUcs4()) {
        if (keptInUploadName(c))
            clean += QString::fromUcs4(&c, 1);
        else
            clean += u'_';
    }
    // "." and ".." would name the folders themselves.
    if (clean.isEmpty() || clean == QStringLiteral(".") || clean == QStringLiteral(".."))
        clean.prepend(u'_');
    return clean;
}

std::optional<QString> writeFileReplacing(const QString& target, const QByteArray& data, mode_t permissions)
{
    static std::atomic<unsigned> uploads{0};
    std::error_code error;
    std::filesystem::create_directories(filePath(QFileInfo(target).path()), error);
    if (error)
        return QString::fromStdString(error.message());
    // Beside the target, so that the rename stays within one file system; a short name of its
    // own per upload, so that two uploads never share it and a target name of the longest size
    // the file system allows still leaves room for it.
    const QString temporary = QFileInfo(target).path() + QStringLiteral("/.hv-upload-") + QString::number(::getpid()) +
                              u'-' + QString::number(uploads.fetch_add(1) + 1);
    // Made with its final permission bits (less the umask, as for any new file): a private
    // file is never readable by others, not even while it is written.
    const int descriptor = ::open(QFile::encodeName(temporary).constData(),
                                  O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, permissions & 0777);
    if (descriptor < 0)
        return systemError(errno);
    // Written here rather than through QFile, whose description of a short write names no
    // cause: the user reads the system's own ("No space left on device").
    if (const int writeError = writeAndClose(descriptor, data, false)) {
        QFile::remove(temporary);
        return systemError(writeError);
    }
    std::filesystem::rename(filePath(temporary), filePath(target), error);
    if (error) {
        QFile::remove(temporary);
        return QString::fromStdString(error.message());
    }
    return std::nullopt;
}

QString uploadFailedMessage(const QString& reason)
{
    // A host's message may be long (mkdir quotes the whole path) and of several lines: its
    // start and its end, where the cause is, stay.
    return QStringLiteral("Envoi impossible : ") + bannerQuote(reason, bannerReasonColumns);
}

QString unreadableFileMessage(const QString& name)
{
    return QStringLiteral("Fichier illisible : ") + bannerQuote(name);
}

Task<> uploadToProject(QPointer<MacModel> model, QByteArray data, QString name, QPointer<MacTab> tab, mode_t permissions)
{
    if (!model || !tab)
        co_return;
    const QString clean = cleanUploadName(name);
    const QString target = tab->project.path + u'/' + uploadFolderName + u'/' + clean;
    std::optional<QString> failure;
    if (!tab->link) {
        QFuture<std::optional<QString>> writing =
            QtConcurrent::run([target, data, permissions] { return writeFileReplacing(target, data, permissions); });
        failure = co_await writing;
    } else {
        // The link outlives the upload even if the tab is closed meanwhile.
        const std::shared_ptr<SSHLink> link = tab->link;
        ShellResult<bool> sent = co_await link->uploadFile(std::move(data), target, permissions);
        if (!sent)
            failure = sent.error().message;
    }
    if (failure) {
        if (model)
            model->setBanner(uploadFailedMessage(*failure));
        co_return;
    }
    if (!tab || !tab->terminal)
        co_return;
    // Typed at the cursor, without Return: the user decides what to do with the path.
    const QByteArray typed = (uploadFolderName + u'/' + clean + u' ').toUtf8();
    tab->terminal->sendUserInput(std::span(reinterpret_cast<const std::uint8_t*>(typed.constData()), size_t(typed.size())));
}

Task<> uploadPastedImage(QPointer<MacModel> model, QPointer<MacTab> tab, QByteArray png)
{
    if (!model || !tab)
        co_return;
    QString name = model->pastedImageName(*tab, QDateTime::currentDateTime());
    Task<> uploading = uploadToProject(model, std::move(png), std::move(name), tab);
    co_await std::move(uploading);
}

Task<> uploadDroppedFiles(QPointer<MacModel> model, QPointer<MacTab> tab, QList<QUrl> urls)
{
    for (const QUrl& url : std::as_const(urls)) {
        if (!model || !tab)
            co_return;
        const QString path = url.toLocalFile();
        // One file in memory at a time: it goes before the next one is read.
        QFuture<std::optional<DroppedFile>> reading = QtConcurrent::run([path] { return readDroppedFile(path); });
        std::optional<DroppedFile> file = co_await reading;
        if (!model)
            co_return;
        if (!file) {
            model->setBanner(unreadableFileMessage(url.fileName()));
            continue;
        }
        Task<> uploading = uploadToProject(model, std::move(file->bytes), url.fileName(), tab, file->permissions);
        co_await std::move(uploading);
    }
}

} // namespace halvoren
