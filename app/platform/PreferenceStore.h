// The per-user preference store: one JSON object in `preferences.json` under the XDG
// configuration folder, keys used exactly as the callers write them.
//
// Values keep their JSON type, so a reader can tell a number from a text and a wrong type
// reads as the caller's default. Reads come from memory; every change is written to disk
// off the calling thread, as a whole new file renamed over the old one, so a crash at any
// moment leaves either the previous file or the new one, never a mix.
#pragma once

#include <QByteArray>
#include <QJsonObject>
#include <QJsonValue>
#include <QString>
#include <QStringList>

#include <condition_variable>
#include <cstdint>
#include <functional>
#include <mutex>
#include <optional>
#include <thread>

namespace halvoren {

// $XDG_CONFIG_HOME/halvoren when the variable holds an absolute path, else
// ~/.config/halvoren.
QString configDirectory();

class PreferenceStore {
public:
    // A file larger than this is not read (the store then starts empty).
    static constexpr qint64 maximumFileSize = 16 * 1024 * 1024;

    explicit PreferenceStore(QString filePath);
    // Waits for the last change to reach the disk.
    ~PreferenceStore();
    PreferenceStore(const PreferenceStore&) = delete;
    PreferenceStore& operator=(const PreferenceStore&) = delete;

    // The application's store, at configDirectory() + "/preferences.json", made on first use.
    static PreferenceStore& standard();

    const QString& path() const { return filePath; }

    // Undefined when absent.
    QJsonValue value(const QString& key) const;
    bool contains(const QString& key) const;
    std::optional<bool> boolValue(const QString& key) const;
    std::optional<double> numberValue(const QString& key) const;
    std::optional<QString> stringValue(const QString& key) const;
    // Present only when the value is an array whose every element is a text.
    std::optional<QStringList> stringListValue(const QString& key) const;

    void setValue(const QString& key, const QJsonValue& value);
    void setStringList(const QString& key, const QStringList& list);
    void remove(const QString& key);

    // Blocks until every change made so far is on disk (or failed).
    void flush();

    // Called on the writer thread after the temporary file is complete and before it is
    // renamed over the store: lets a test stop the process at the one moment that matters.
    static std::function<void()>& beforeRenameForTests();

private:
    void load();
    void scheduleWrite();
    void writerLoop();
    bool writeFile(const QByteArray& bytes);

    const QString filePath;
    QJsonObject values;

    std::mutex lock;
    std::condition_variable wake;
    std::condition_variable written;
    std::optional<QJsonObject> pending;
    // The previous file when it could not be read; kept aside before it is first replaced.
    bool keepUnreadableFile = false;
    std::uint64_t requested = 0;
    std::uint64_t completed = 0;
    bool stopping = false;
    std::thread writer;
};

} // namespace halvoren
