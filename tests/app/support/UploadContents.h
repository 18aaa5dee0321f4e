// Files an upload must carry byte for byte, each holding `command` (a command that leaves a
// trace where it runs) so that a shell reading the upload's input as commands would run it.
#pragma once

#include "remote/Shell.h"

#include <QByteArray>

#include <vector>

namespace halvoren::test {

struct UploadContent {
    const char* name;
    QByteArray bytes;
};

inline std::vector<UploadContent> uploadContents(const QByteArray& command)
{
    QByteArray binary;
    for (int i = 0; i < 256; ++i)
        binary += char(i);
    binary += QByteArray("\r\n\0\r", 4);
    // Past a pipe's buffer and past what one read of a shell takes.
    QByteArray large;
    while (large.size() <= 96 * 1024)
        large += command + '\n' + binary;
    return {
        {"empty", QByteArray()},
        {"no final line break", command},
        {"lines", command + "\necho ran\n"},
        {"binary with NUL and CR", binary},
        {"a first line like our guard", guardedInput(command + '\n')},
        {"more than 64 KiB", large},
    };
}

} // namespace halvoren::test
