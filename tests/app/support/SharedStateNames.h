// A shared-state file far past what one program argument may carry once in Base64.
#pragma once

#include "remote/SharedPrefs.h"

namespace halvoren::test {

// Five thousand project names of 21 characters: about 120 KiB of file, 160 KiB of Base64.
inline NameSet manyProjectNames()
{
    NameSet names;
    for (int index = 0; index < 5000; ++index)
        names.insert(QStringLiteral("project-%1").arg(index, 13, 10, QLatin1Char('0')));
    return names;
}

} // namespace halvoren::test
