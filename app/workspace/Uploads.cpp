// Files pasted or dropped on a tab, copied into its project's "Upload" folder.
#include "workspace/MacModel.h"

#include "tab/MacTab.h"

#include <QFile>
#include <QFileInfo>
#include <QtConcurrent/QtConcurrentRun>
#include <qcoro/qcorofuture.h>

#include <atomic>
#include <filesystem>
#include <system_error>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace halvoren {

namespace {

const QString uploadFolderName = QStringLiteral("Upload");

bool keptInUploadName(char32_t c)
{
    if (c == U'.' || c == U'_' || c == U'-')
        return true;
    return QChar::isLetter(c) || QChar::isDigit(c);
}

std::filesystem::path filePath(const QString& path)
{
    return std::filesystem::path(QFile::encodeName(path).toStdString());
}

// A dropped file's bytes; nothing for anything but a regular file (a link to one counts) or a
// file that cannot be read. Opened without waiting: a pipe with no writer would block the
// worker for ever, and the application's exit with it; a device is no file to copy.
std::optional<QByteArray> readDroppedFile(const QString& path)
{
    const int descriptor = ::open(QFile::encodeName(path).constData(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
    if (descriptor < 0)
        return std::nullopt;
    struct Closer {
        int descriptor;
        ~Closer() { ::close(descriptor); }
    } closer{descriptor};
    struct stat status {};
    if (::fstat(descriptor, &status) != 0 || !S_ISREG(status.st_mode))
        return std::nullopt;
    QFile file;
    if (!file.open(descriptor, QIODevice::ReadOnly, QFileDevice::DontCloseHandle))
        return std::nullopt;
    QByteArray bytes = file.readAll();
    if (file.error() != QFileDevice::NoError)
        return std::nullopt;
    return bytes;
}

} // namespace

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

std::optional<QString> writeFileReplacing(const QString& target, const QByteArray& data)
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
    QFile file(temporary);
    if (!file.open(QIODevice::WriteOnly | QIODevice::NewOnly)) {
        return file.errorString();
    }
    if (file.write(data) != data.size() || !file.flush()) {
        const QString reason = file.errorString();
        file.close();
        QFile::remove(temporary);
        return reason;
    }
    file.close();
    std::filesystem::rename(filePath(temporary), filePath(target), error);
    if (error) {
        QFile::remove(temporary);
        return QString::fromStdString(error.message());
    }
    return std::nullopt;
}

Task<> uploadToProject(QPointer<MacModel> model, QByteArray data, QString name, QPointer<MacTab> tab)
{
    if (!model || !tab)
        co_return;
    const QString clean = cleanUploadName(name);
    const QString target = tab->project.path + u'/' + uploadFolderName + u'/' + clean;
    std::optional<QString> failure;
    if (!tab->link) {
        QFuture<std::optional<QString>> writing =
            QtConcurrent::run([target, data] { return writeFileReplacing(target, data); });
        failure = co_await writing;
    } else {
        // The link outlives the upload even if the tab is closed meanwhile.
        const std::shared_ptr<SSHLink> link = tab->link;
        ShellResult<bool> sent = co_await link->uploadFile(std::move(data), target);
        if (!sent)
            failure = sent.error().message;
    }
    if (failure) {
        if (model)
            model->setBanner(QStringLiteral("Envoi impossible : ") + *failure);
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
        QFuture<std::optional<QByteArray>> reading = QtConcurrent::run([path] { return readDroppedFile(path); });
        std::optional<QByteArray> bytes = co_await reading;
        if (!model)
            co_return;
        if (!bytes) {
            model->setBanner(QStringLiteral("Fichier illisible : ") + url.fileName());
            continue;
        }
        Task<> uploading = uploadToProject(model, std::move(*bytes), url.fileName(), tab);
        co_await std::move(uploading);
    }
}

} // namespace halvoren
