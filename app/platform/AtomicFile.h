// Whole-file replacement that a crash cannot leave half done.
#pragma once

#include <QByteArray>
#include <QByteArrayView>
#include <QString>

#include <cstddef>
#include <functional>
#include <optional>

#include <sys/types.h>

namespace halvoren {

// Writes `bytes` to "<path>.tmp.<pid>" in the same folder (creating the folder), flushes it
// to disk and renames it over `path`; the temporary file is removed when any step fails.
// `beforeRename` runs between the complete write and the rename. Returns the reason of a
// failure, nothing on success.
std::optional<QString> writeFileAtomically(const QString& path, const QByteArray& bytes, unsigned mode = 0600,
                                           const std::function<void()>& beforeRename = {});

// Writes every byte to the descriptor (again after an interruption; a write that takes nothing
// and gives no reason fails with EIO), flushes them to the disk when `flush`, and closes it
// whatever happened; 0, or the errno of the first step that failed (the close included: a file
// system may report a failed write only there).
int writeAndClose(int descriptor, QByteArrayView bytes, bool flush);

// Stand-ins for the system's write and close in writeAndClose, so that a test can make them
// fail as a file system seldom does; the system's own when unset.
struct FileCallsForTests {
    std::function<ssize_t(int descriptor, const char* data, std::size_t size)> write;
    std::function<int(int descriptor)> close;
};
FileCallsForTests& fileCallsForTests();

// The whole file when it exists, is a regular file and holds at most `limit` bytes.
std::optional<QByteArray> readSmallFile(const QString& path, qint64 limit);

} // namespace halvoren
