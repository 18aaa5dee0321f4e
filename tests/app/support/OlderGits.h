// Real builds of older gits, as many servers still run: their folder is named by
// HALVOREN_OLD_GITS (.ci/run sets it where the shared tools are), one folder "git-<version>"
// for each release, holding its one program. They read some settings otherwise than a current
// git, so a guard the probe gives git may mean something else to them.
#pragma once

#include <QDir>
#include <QFileInfo>
#include <QList>
#include <QString>

#include <algorithm>
#include <optional>
#include <string>

namespace halvoren::test {

struct OlderGit {
    QString version;
    // The folder holding its `git`, to put first on PATH.
    QString folder;
    // The minor release of git 2.
    int minor = 0;
};

// The releases found, oldest first; nothing, with `why` set to the line to print, when the
// variable is unset (the caller skips) or names no release (the caller fails).
inline std::optional<QList<OlderGit>> olderGits(std::string& why, bool& unset)
{
    const QString root = qEnvironmentVariable("HALVOREN_OLD_GITS");
    unset = root.isEmpty();
    if (unset) {
        why = "HALVOREN_OLD_GITS is unset: the tests with older releases of git are skipped";
        return std::nullopt;
    }
    QList<OlderGit> gits;
    for (const QString& name : QDir(root).entryList({QStringLiteral("git-2.*")}, QDir::Dirs)) {
        OlderGit git{name.mid(4), root + u'/' + name, name.section(u'.', 1, 1).toInt()};
        if (QFileInfo(git.folder + QStringLiteral("/git")).isExecutable())
            gits << git;
    }
    std::sort(gits.begin(), gits.end(), [](const OlderGit& a, const OlderGit& b) { return a.minor < b.minor; });
    if (gits.isEmpty()) {
        why = "HALVOREN_OLD_GITS names " + root.toStdString() + ", which holds no git-2.*/git";
        return std::nullopt;
    }
    return gits;
}

// The PATHs under which a git must run nothing of a repository: `git` first, and a relative
// entry before the system's folders, which programs git starts look up from inside the work
// tree. Shell text to assign to PATH.
inline QStringList relativePaths(const QString& quotedGitFolder)
{
    return {QStringLiteral(":") + quotedGitFolder + QStringLiteral(":\"$PATH\""),
            QStringLiteral("./bin:") + quotedGitFolder + QStringLiteral(":\"$PATH\""),
            QStringLiteral("'~/bin':") + quotedGitFolder + QStringLiteral(":\"$PATH\"")};
}

} // namespace halvoren::test

// Used by a test that needs the older gits: skips it with one line where the variable is unset,
// fails it with one line where it names nothing usable.
#define HV_REQUIRE_OLDER_GITS(gits)                                                                                   \
    std::string olderGitsWhy;                                                                                           \
    bool olderGitsUnset = false;                                                                                        \
    const std::optional<QList<::halvoren::test::OlderGit>> gits = ::halvoren::test::olderGits(olderGitsWhy, olderGitsUnset); \
    if (!gits && olderGitsUnset)                                                                                        \
        GTEST_SKIP() << olderGitsWhy;                                                                                   \
    if (!gits)                                                                                                          \
        GTEST_FAIL() << olderGitsWhy;
