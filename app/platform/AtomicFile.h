// Whole-file replacement that a crash cannot leave half done.
#pragma once

#include <QByteArray>
#include <QByteArrayView>
#include <QString>

#include <functional>
#include <optional>

namespace halvoren {

// Writes `bytes` to "<path>.tmp.<pid>" in the same folder (creating the folder), flushes it
// to disk and renames it over `path`; the temporary file is removed when any step fails.
// `beforeRename` runs between the complete write and the rename. Returns the reason of a
// failure, nothing on success.
std::optional<QString> writeFileAtomically(const QString& path, const QByteArray& bytes, unsigned mode = 0600,
                                           const std::function<void()>& beforeRename = {});

// Writes every byte to the descriptor, again after an interruption; false with errno set as the
// failing write left it.
bool writeAllBytes(int descriptor, QByteArrayView bytes);

// The whole file when it exists, is a regular file and holds at most `limit` bytes.
std::optional<QByteArray> readSmallFile(const QString& path, qint64 limit);

} // namespace halvoren
