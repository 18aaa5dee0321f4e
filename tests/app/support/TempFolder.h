// Shared by the application's tests: a private folder removed with everything in it at the
// end, whole-file reads and writes, and environment variables set for one test.
#pragma once

#include "TestFolders.h"

#include <QByteArray>
#include <QDir>
#include <QFile>
#include <QString>

#include <cstdlib>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace halvoren::test {

class TempFolder {
public:
    // Under /tmp with a short name: socket paths made inside must stay short.
    TempFolder()
    {
        std::string pattern = "/tmp/hv-XXXXXX";
        if (::mkdtemp(pattern.data()) != nullptr) {
            folder = QString::fromStdString(pattern);
            noteTestFolder(pattern);
        }
    }
    // Never the empty path: that would be the working folder.
    ~TempFolder()
    {
        if (!folder.isEmpty())
            QDir(folder).removeRecursively();
    }
    TempFolder(const TempFolder&) = delete;
    TempFolder& operator=(const TempFolder&) = delete;
    bool valid() const { return !folder.isEmpty(); }
    const QString& path() const { return folder; }
    QString file(const QString& name) const { return folder + u'/' + name; }

private:
    QString folder;
};

inline QByteArray readAll(const QString& path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

inline bool writeAll(const QString& path, const QByteArray& bytes)
{
    QFile file(path);
    return file.open(QIODevice::WriteOnly | QIODevice::Truncate) && file.write(bytes) == bytes.size();
}

// Sets environment variables for one test and puts the previous values back at the end.
class EnvironmentOverride {
public:
    EnvironmentOverride() = default;
    EnvironmentOverride(const char* name, const std::optional<QString>& value) { set(name, value); }
    ~EnvironmentOverride()
    {
        for (auto entry = saved.rbegin(); entry != saved.rend(); ++entry) {
            if (entry->second)
                ::setenv(entry->first.c_str(), entry->second->c_str(), 1);
            else
                ::unsetenv(entry->first.c_str());
        }
    }
    EnvironmentOverride(const EnvironmentOverride&) = delete;
    EnvironmentOverride& operator=(const EnvironmentOverride&) = delete;
    // Sets `name` to `value`, or removes it when there is none.
    void set(const char* name, const std::optional<QString>& value)
    {
        const char* old = std::getenv(name);
        saved.emplace_back(name, old ? std::optional<std::string>(old) : std::nullopt);
        if (value)
            ::setenv(name, value->toUtf8().constData(), 1);
        else
            ::unsetenv(name);
    }

private:
    std::vector<std::pair<std::string, std::optional<std::string>>> saved;
};

} // namespace halvoren::test
