// Login profiles that put stand-ins in place of the commands our scripts name, as a user's
// profile may ("alias mv='mv -i'", a "cat" that colours): each notes its name in
// ~/hv-stand-ins, so that a test can tell none of them ran.
#pragma once

#include <QByteArray>

namespace halvoren::test {

// What each login shell lets a profile put in place of a command: an alias
// (dash, mksh, yash and zsh expand them in scripts) or, under bash, a function. Each stand-in
// notes its name in ~/hv-stand-ins and fails.
inline const char* const standInNames[] = {"mv", "cat", "rm", "mkdir", "printf", "base64", "cksum", "tmux", "awk", "git",
                                           "grep", "wc", "tail", "touch"};

inline QByteArray standInAliases()
{
    QByteArray text = "hv_stand() { echo \"$1\" >> \"$HOME/hv-stand-ins\"; return 1; }\n";
    for (const char* name : standInNames)
        text += QByteArray("alias ") + name + "='hv_stand " + name + "'\n";
    return text;
}

inline QByteArray standInFunctions()
{
    QByteArray text;
    for (const char* name : standInNames)
        text += QByteArray(name) + "() { echo " + name + " >> \"$HOME/hv-stand-ins\"; return 1; }\n";
    return text;
}

struct StandInProfile {
    const char* program;
    const char* file;
    bool functions;
};

inline const StandInProfile standInProfiles[] = {
    {"bash", ".bash_profile", true}, {"dash", ".profile", false}, {"zsh", ".zshenv", false},
    {"mksh", ".profile", false},     {"yash", ".yash_profile", false},
};

} // namespace halvoren::test
