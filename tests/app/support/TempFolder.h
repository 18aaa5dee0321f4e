// A private folder for one test, removed with everything in it at the end.
#pragma once

#include <QByteArray>
#include <QDir>
#include <QFile>
#include <QString>

#include <cstdlib>
#include <string>

namespace halvoren::test {

class TempFolder {
public:
    // Under /tmp with a short name: socket paths made inside must stay short.
    TempFolder()
    {
        std::string pattern = "/tmp/hv-XXXXXX";
        if (::mkdtemp(pattern.data()) != nullptr)
            folder = QString::fromStdString(pattern);
    }
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
    if (!file.open(QIODevice::ReadOnly))
        return {};
    return file.readAll();
}

inline bool writeAll(const QString& path, const QByteArray& bytes)
{
    QFile file(path);
    return file.open(QIODevice::WriteOnly | QIODevice::Truncate) && file.write(bytes) == bytes.size();
}

} // namespace halvoren::test
