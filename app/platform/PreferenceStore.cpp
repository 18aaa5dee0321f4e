#include "platform/PreferenceStore.h"

#include "platform/AtomicFile.h"
#include "platform/Log.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonParseError>


namespace halvoren {

QString configDirectory()
{
    const QString xdg = qEnvironmentVariable("XDG_CONFIG_HOME");
    // A relative value is ignored, as the XDG rules say.
    if (!xdg.isEmpty() && QDir::isAbsolutePath(xdg))
        return xdg + QStringLiteral("/halvoren");
    return QDir::homePath() + QStringLiteral("/.config/halvoren");
}

PreferenceStore::PreferenceStore(QString path) : filePath(std::move(path))
{
    load();
}

PreferenceStore::~PreferenceStore()
{
    {
        std::lock_guard guard(lock);
        stopping = true;
    }
    wake.notify_all();
    if (writer.joinable())
        writer.join();
}

PreferenceStore& PreferenceStore::standard()
{
    static PreferenceStore store(configDirectory() + QStringLiteral("/preferences.json"));
    return store;
}

std::function<void()>& PreferenceStore::beforeRenameForTests()
{
    static std::function<void()> hook;
    return hook;
}

void PreferenceStore::load()
{
    if (!QFileInfo::exists(filePath))
        return;
    const std::optional<QByteArray> bytes = readSmallFile(filePath, maximumFileSize);
    if (!bytes) {
        corvantix::logInfo(false, "preferences: cannot read " + filePath.toStdString() + "; starting empty");
        keepUnreadableFile = true;
        return;
    }
    QJsonParseError error;
    const QJsonDocument document = QJsonDocument::fromJson(*bytes, &error);
    if (error.error != QJsonParseError::NoError || !document.isObject()) {
        corvantix::logInfo(false, "preferences: " + filePath.toStdString() + " is not a JSON object; starting empty");
        keepUnreadableFile = true;
        return;
    }
    values = document.object();
}

QJsonValue PreferenceStore::value(const QString& key) const
{
    const auto found = values.constFind(key);
    return found == values.constEnd() ? QJsonValue(QJsonValue::Undefined) : *found;
}

bool PreferenceStore::contains(const QString& key) const
{
    return values.contains(key);
}

std::optional<bool> PreferenceStore::boolValue(const QString& key) const
{
    const QJsonValue stored = value(key);
    if (!stored.isBool())
        return std::nullopt;
    return stored.toBool();
}

std::optional<double> PreferenceStore::numberValue(const QString& key) const
{
    const QJsonValue stored = value(key);
    if (!stored.isDouble())
        return std::nullopt;
    return stored.toDouble();
}

std::optional<QString> PreferenceStore::stringValue(const QString& key) const
{
    const QJsonValue stored = value(key);
    if (!stored.isString())
        return std::nullopt;
    return stored.toString();
}

std::optional<QStringList> PreferenceStore::stringListValue(const QString& key) const
{
    const QJsonValue stored = value(key);
    if (!stored.isArray())
        return std::nullopt;
    QStringList list;
    for (const QJsonValue element : stored.toArray()) {
        if (!element.isString())
            return std::nullopt;
        list.append(element.toString());
    }
    return list;
}

void PreferenceStore::setValue(const QString& key, const QJsonValue& newValue)
{
    if (newValue.isUndefined()) {
        remove(key);
        return;
    }
    values.insert(key, newValue);
    scheduleWrite();
}

void PreferenceStore::setStringList(const QString& key, const QStringList& list)
{
    setValue(key, QJsonArray::fromStringList(list));
}

void PreferenceStore::remove(const QString& key)
{
    if (!values.contains(key))
        return;
    values.remove(key);
    scheduleWrite();
}

void PreferenceStore::scheduleWrite()
{
    // The values are shared with the writer, not copied, and turned into text there: a store
    // holding thousands of names would otherwise cost the caller's thread at every change.
    {
        std::lock_guard guard(lock);
        pending = values;
        ++requested;
        if (!writer.joinable())
            writer = std::thread([this] { writerLoop(); });
    }
    wake.notify_all();
}

void PreferenceStore::flush()
{
    std::unique_lock guard(lock);
    const std::uint64_t target = requested;
    written.wait(guard, [&] { return completed >= target || !writer.joinable(); });
}

void PreferenceStore::writerLoop()
{
    std::unique_lock guard(lock);
    for (;;) {
        wake.wait(guard, [&] { return pending.has_value() || stopping; });
        if (!pending) {
            if (stopping)
                return;
            continue;
        }
        // Only the newest state matters: changes made while a file is written coalesce.
        const QJsonObject state = std::move(*pending);
        pending.reset();
        const std::uint64_t covered = requested;
        guard.unlock();
        writeFile(QJsonDocument(state).toJson(QJsonDocument::Indented));
        guard.lock();
        completed = covered;
        written.notify_all();
    }
}

bool PreferenceStore::writeFile(const QByteArray& bytes)
{
    if (keepUnreadableFile) {
        keepUnreadableFile = false;
        const QString aside = filePath + QStringLiteral(".bak");
        QFile::remove(aside);
        QFile::rename(filePath, aside);
    }
    if (const auto failure = writeFileAtomically(filePath, bytes, 0600, beforeRenameForTests())) {
        corvantix::logInfo(false, "preferences: cannot write " + failure->toStdString());
        return false;
    }
    return true;
}

} // namespace halvoren
