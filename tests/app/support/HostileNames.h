// Folder names that tmux or a shell could misread: formats, command separators, escapes,
// substitutions, option-like and blank-edged names, and control characters. The ones that
// would run a command create a file named "pwned-…" where they run.
#pragma once

#include <QString>
#include <QStringList>

namespace halvoren::test {

inline QStringList hostileFolderNames()
{
    return {
        QStringLiteral("#(touch pwned-format)"),
        QStringLiteral("x#{session_name}y"),
        QStringLiteral("x##y"),
        QStringLiteral("semi;"),
        QStringLiteral(";"),
        QStringLiteral("back\\slash"),
        QStringLiteral("ctl\x01" "char"),
        QStringLiteral("${HOME}"),
        QStringLiteral("a|b"),
        QStringLiteral("-x foo"),
        QStringLiteral("new\nline"),
        QStringLiteral("it's $(touch pwned-dollar) -x"),
        QStringLiteral("`cd;touch pwned-tick`;"),
        QStringLiteral("  blanks  "),
    };
}

// Tab, carriage return and line feed made blanks, as the tags store a name or path.
inline QString cleanedTag(QString text)
{
    for (QChar& c : text) {
        if (c == u'\t' || c == u'\r' || c == u'\n')
            c = u' ';
    }
    return text;
}

} // namespace halvoren::test
