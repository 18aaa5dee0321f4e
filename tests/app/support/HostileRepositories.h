// Git repositories whose own settings name commands that reading the state of their work tree
// would run, made by one script on the host that probes them (this computer, or the test
// account over ssh). Every such command appends a word to one file, `$ran`; a plain
// `git status` in each writes its words there, so each repository is as hostile as it looks.
#pragma once

#include "remote/FolderSessions.h"
#include "remote/ShellQuote.h"

#include <QMap>
#include <QString>
#include <QStringList>

#include <gtest/gtest.h>

#include <ostream>

namespace halvoren {

// Failures show the branch and state, not the bytes.
inline void PrintTo(const GitInfo& info, std::ostream* out)
{
    *out << info.branch.toStdString() << (info.dirty ? " (dirty)" : " (clean)");
}

} // namespace halvoren

namespace halvoren::test {

struct HostileRepository {
    // Its folder below the root.
    const char* name;
    // Shell text run in the root, after `set -e`: `commit` commits, `$ran` is the file the
    // repository's commands append to, `$server` a bare repository to clone from.
    const char* setup;
    const char* branch;
    bool dirty;
    // What a plain status appends to `$ran`, words separated by blanks; empty for a
    // repository that names nothing.
    const char* words;
    // The minor release of git 2 from which the state is read; below it the folder reads
    // clean (0: every release).
    int readFrom = 0;
};

// A partial clone of the server without any tree, whose index and files are the commit's: git
// needs the missing tree to tell the state and would fetch it from `url`.
#define HV_LAZY_CLONE(name, url, settings)                                                                            \
    "git clone -q --filter=tree:0 --no-checkout \"file://$server\" " name " && cp source/.git/index " name             \
    "/.git/index && cp -R source/d source/top " name "/ && cd " name " && git config remote.origin.url " url " && " settings

// Per-worktree settings turned on, its files given the filter "hc" by attributes kept out of
// the work tree, and that filter's settings in a file of its own, ".git/evil.cfg", which an
// include may bring in.
#define HV_INCLUDED_FILTER(word)                                                                                      \
    "git config extensions.worktreeConfig true && printf '*.txt filter=hc\\n' > .git/info/attributes && "              \
    "git config -f .git/evil.cfg filter.hc.clean \"echo " word " >> $ran; cat\" && "                                   \
    "git config -f .git/evil.cfg filter.hc.process \"echo " word " >> $ran\" && "                                      \
    "git config -f .git/evil.cfg filter.hc.required true && "

// A program at `path` in the work tree that appends `word` to `$ran`: a program git starts
// through a PATH with relative entries is looked for there.
#define HV_PROGRAM(path, word)                                                                                        \
    "mkdir -p \"$(dirname " path ")\" && printf '#!/bin/sh\\necho " word " >> \"%s\"\\n' \"$ran\" > " path " && "           \
    "chmod +x " path
// The same for each place a relative entry of PATH may name: the top of the work tree (an
// empty entry, or "."), "bin" (or "./bin"), and "~/bin" quoted, which git does not expand.
#define HV_PROGRAMS(name, word)                                                                                       \
    HV_PROGRAM(name, word "-root") " && " HV_PROGRAM("bin/" name, word "-bin") " && " HV_PROGRAM("'~/bin/" name "'", word "-tilde")

// The user's own settings on the host, in its global file: a filter that reads text as upper
// case, which a repository may name.
inline constexpr char hostileUserSettings[] = "git config --global filter.hv-upper.clean 'tr a-z A-Z'";

inline const HostileRepository hostileRepositories[] = {
    {"monitored",
     "git init -q -b main monitored && cd monitored && commit --allow-empty -m s && echo x > new && "
     "git config core.fsmonitor \"echo fsmonitor >> $ran; false\"",
     "main", true, "fsmonitor"},
    // A filter named with a dot, run as a long-lived process, over files of stale recorded
    // state (as in a checkout unpacked from an archive).
    {"filtered",
     "git init -q -b feature/x filtered && cd filtered && printf '*.txt filter=evil\\n*.md filter=a.b\\n' > .gitattributes && "
     "echo data > a.txt && echo doc > d.md && git add . && commit -m s && "
     "git config filter.evil.clean \"echo clean >> $ran; cat\" && git config filter.evil.required true && "
     "git config filter.a.b.process \"echo process >> $ran\" && touch -d 2001-01-01 a.txt d.md",
     "feature/x", false, "clean"},
    // The same once a filtered file changed (same size, so git has to read it).
    {"filtered-changed",
     "git init -q -b main filtered-changed && cd filtered-changed && printf '*.txt filter=evil\\n' > .gitattributes && "
     "echo data > a.txt && git add . && commit -m s && git config filter.evil.clean \"echo clean >> $ran; cat\" && "
     "git config filter.evil.required true && echo DATA > a.txt && touch -d 2001-01-01 a.txt",
     "main", true, "clean"},
    // A filter whose name is empty, the first filter setting the repository lists, given to
    // its files by attributes kept out of the work tree.
    {"empty-name",
     "git init -q -b main empty-name && cd empty-name && echo data > a.txt && git add . && commit -m s && "
     "printf '*.txt filter=\\n' > .git/info/attributes && git config filter..process \"echo empty-name >> $ran\" && "
     "git config filter..required true && echo DATA > a.txt && touch -d 2001-01-01 a.txt",
     "main", true, "empty-name"},
    // A filter name git cannot take on its command line.
    {"equals",
     "git init -q -b main equals && cd equals && printf '*.txt filter=x=y\\n' > .gitattributes && echo data > a.txt && "
     "git add . && commit -m s && git config filter.x=y.clean \"echo equals >> $ran; cat\" && "
     "git config filter.x=y.process \"echo equals >> $ran\" && git config filter.x=y.required true && "
     "echo DATA > a.txt && touch -d 2001-01-01 a.txt",
     "main", true, "equals", 31},
    // A second work tree of a repository whose filter is set for them all: git refuses to list
    // per-worktree settings there, which it does not read either.
    {"linked",
     "git init -q -b main linked-main && cd linked-main && printf '*.txt filter=evil\\n' > .gitattributes && "
     "echo data > a.txt && git add . && commit -m s && git worktree add -q ../linked -b side && "
     "git config filter.evil.clean \"echo linked >> $ran; cat\" && git config filter.evil.required true && "
     "cd ../linked && echo DATA > a.txt && touch -d 2001-01-01 a.txt",
     "side", true, "linked"},
    // A filter set for one work tree of several.
    {"worktree-config",
     "git init -q -b main worktree-config && cd worktree-config && printf '*.txt filter=evil\\n' > .gitattributes && "
     "echo data > a.txt && git add . && commit -m s && git worktree add -q ../worktree-config-other -b other && "
     "git config extensions.worktreeConfig true && git config --worktree filter.evil.clean \"echo worktree >> $ran; cat\" && "
     "git config --worktree filter.evil.required true && echo DATA > a.txt && touch -d 2001-01-01 a.txt",
     "main", true, "worktree"},
    // More filter names than the probe walks, listed longer than one argument of a program may
    // be: its state is not read.
    {"many-filters",
     "git init -q -b main many-filters && cd many-filters && printf '*.txt filter=evil\\n' > .git/info/attributes && "
     "echo data > a.txt && git add . && commit -m s && i=0; while [ $i -lt 8000 ]; do "
     "printf '[filter \"many-%s\"]\\n\\tclean = cat\\n' \"$i\"; i=$((i + 1)); done >> .git/config && "
     "git config filter.evil.clean \"echo many-filters >> $ran; cat\" && echo DATA > a.txt && touch -d 2001-01-01 a.txt",
     "main", false, "many-filters"},
    // A filter that an include brings in when a remote's address matches (`hasconfig:`): the
    // include in the repository's own settings and the address in its work tree's, then the
    // other way round. Either file read alone holds no address, hence no filter; status reads
    // both.
    {"hasconfig-local",
     "git init -q -b main hasconfig-local && cd hasconfig-local && echo data > a.txt && git add . && commit -m s && "
     HV_INCLUDED_FILTER("hasconfig-local") "git config includeIf.hasconfig:remote.*.url:https://evil.example/**.path evil.cfg && "
     "git config --worktree remote.o.url https://evil.example/x && echo DATA > a.txt && touch -d 2001-01-01 a.txt",
     "main", true, "hasconfig-local"},
    {"hasconfig-worktree",
     "git init -q -b main hasconfig-worktree && cd hasconfig-worktree && echo data > a.txt && git add . && commit -m s && "
     HV_INCLUDED_FILTER("hasconfig-worktree") "git config remote.o.url https://evil.example/x && "
     "git config --worktree includeIf.hasconfig:remote.*.url:https://evil.example/**.path evil.cfg && "
     "echo DATA > a.txt && touch -d 2001-01-01 a.txt",
     "main", true, "hasconfig-worktree"},
    // The user's own filter (see hostileUserSettings), which the repository leaves alone: it
    // still applies, and its upper case makes the unchanged file differ from what was committed.
    {"user-filter",
     "git init -q -b main user-filter && cd user-filter && echo data > a.txt && git add . && commit -m s && "
     "printf '*.txt filter=hv-upper\\n' > .git/info/attributes && touch -d 2001-01-01 a.txt",
     "main", true, ""},
    // The same filter, which the repository redefines: emptied whole, the user's part with it,
    // so the file changed to lower case differs.
    {"user-filter-redefined",
     "git init -q -b main user-filter-redefined && cd user-filter-redefined && echo DATA > a.txt && git add . && "
     "commit -m s && printf '*.txt filter=hv-upper\\n' > .git/info/attributes && "
     "git config filter.hv-upper.clean \"echo redefined >> $ran; cat\" && echo data > a.txt && touch -d 2001-01-01 a.txt",
     "main", true, "redefined"},
    // A status that refreshes the index writes it, which runs its hook: with the untracked
    // cache on, even when no file is stale.
    {"hooked",
     "git init -q -b main hooked && cd hooked && echo a > a && git add a && commit -m s && "
     "git config core.untrackedCache true && printf '#!/bin/sh\\necho hook >> \"%s\"\\n' \"$ran\" > .git/hooks/post-index-change && "
     "chmod +x .git/hooks/post-index-change",
     "main", false, "hook"},
    // Hooks looked for in a folder named by a file the repository's settings include.
    {"included",
     "git init -q -b topic included && cd included && echo a > a && git add a && commit -m s && mkdir .git/elsewhere && "
     "printf '#!/bin/sh\\necho hook-path >> \"%s\"\\n' \"$ran\" > .git/elsewhere/post-index-change && "
     "chmod +x .git/elsewhere/post-index-change && printf '[core]\\n\\thooksPath = %s\\n' \"$PWD/.git/elsewhere\" > .git/more && "
     "git config include.path more && touch -d 2001-01-01 a && echo b > untracked",
     "topic", true, "hook-path"},
    // Partial clones missing a tree, whose remote runs a command: git cannot finish, so they
    // read clean.
    {"lazy-ssh", HV_LAZY_CLONE("lazy-ssh", "ssh://example.invalid/x", "git config core.sshCommand \"echo ssh >> $ran; false\""),
     "main", false, "ssh"},
    {"lazy-ext", HV_LAZY_CLONE("lazy-ext", "\"ext::sh -c echo% ext% >>$ran;% false\"", "git config protocol.ext.allow always"),
     "main", false, "ext"},
    // Its branch names a commit it does not have: the branch is still read.
    {"lazy-head",
     HV_LAZY_CLONE("lazy-head", "ssh://example.invalid/x",
                   "git config core.sshCommand \"echo head >> $ran; false\" && "
                   "echo 1234567890123456789012345678901234567890 > .git/refs/heads/main"),
     "main", false, "head"},
    {"lazy-file", HV_LAZY_CLONE("lazy-file", "\"file://$server\"", "git config remote.origin.uploadpack \"echo upload-pack >> $ran; false\""),
     "main", false, "upload-pack"},
    // Submodules whose own settings name commands: one with a file-system monitor, a filter
    // over a file of stale recorded state and an index hook, checked out a commit past the one
    // recorded; one a partial clone missing a tree, whose remote runs a command. A plain status
    // reads each submodule's work tree and runs them all; the moved one still shows.
    {"submodules",
     "git init -q -b main submodules && cd submodules && git init -q -b main kit && "
     "(cd kit && printf '*.txt filter=evil\\n' > .gitattributes && echo data > a.txt && git add . && commit -m one) && "
     "git clone -q --filter=tree:0 --no-checkout \"file://$server\" lazy && cp ../source/.git/index lazy/.git/index && "
     "cp -R ../source/d ../source/top lazy/ && "
     "printf '[submodule \"kit\"]\\n\\tpath = kit\\n\\turl = ./kit\\n[submodule \"lazy\"]\\n\\tpath = lazy\\n\\turl = ./lazy\\n' > .gitmodules && "
     "git add .gitmodules kit lazy 2>/dev/null && commit -m s && (cd kit && commit --allow-empty -m two) && "
     "git -C kit config core.fsmonitor \"echo kit-monitor >> $ran; false\" && "
     "git -C kit config filter.evil.clean \"echo kit-filter >> $ran; cat\" && git -C kit config filter.evil.required true && "
     "git -C kit config core.untrackedCache true && "
     "printf '#!/bin/sh\\necho kit-index-change >> \"%s\"\\n' \"$ran\" > kit/.git/hooks/post-index-change && "
     "chmod +x kit/.git/hooks/post-index-change && touch -d 2001-01-01 kit/a.txt && "
     "git -C lazy config remote.origin.url ssh://example.invalid/x && "
     "git -C lazy config core.sshCommand \"echo lazy-fetch >> $ran; false\"",
     "main", true, "kit-monitor kit-filter kit-index-change lazy-fetch"},
    // Programs committed with the names of what git starts: "false", which older gits took the
    // file-system monitor's off value for, and, in a partial clone missing a tree, "git", which
    // a git that ignores the lazy-fetch switch starts to fetch it. A plain status runs none of
    // them (but the fetch's own command).
    {"false-programs", "git init -q -b main false-programs && cd false-programs && " HV_PROGRAMS("false", "false")
     " && git add . && commit -m s", "main", false, ""},
    {"lazy-git",
     HV_LAZY_CLONE("lazy-git", "ssh://example.invalid/x",
                   "git config core.sshCommand \"echo lazy-git >> $ran; false\" && " HV_PROGRAMS("git", "git")),
     "main", false, "lazy-git"},
    // Long enough a status that git is still writing when its reader has seen one character.
    {"busy",
     "git init -q -b main busy && cd busy && commit --allow-empty -m s && "
     "i=0; while [ $i -lt 8000 ]; do : > \"f$i\"; i=$((i + 1)); done",
     "main", true, ""},
};

#undef HV_LAZY_CLONE
#undef HV_INCLUDED_FILTER
#undef HV_PROGRAMS
#undef HV_PROGRAM

// Whether the repository is among `names` (all of them when `names` is empty).
inline bool hostileRepositoryChosen(const HostileRepository& repository, const QStringList& names)
{
    return names.isEmpty() || names.contains(QLatin1String(repository.name));
}

// Makes the repositories named in `names` (all of them when empty) below `root` (whose path
// holds no blank and no "%", as an ext URL cannot), the commands they name appending to `ran`,
// after the user's own settings in the host's home.
// Prints "made <name>" for each.
inline QString hostileRepositoriesScript(const QString& root, const QString& ran, const QStringList& names = {})
{
    QString script = QStringLiteral("ran=") + shellQuote(ran) + QStringLiteral("\nserver=") +
                     shellQuote(root + QStringLiteral("/server.git")) +
                     QStringLiteral("\ncommit() { git -c user.name=t -c user.email=t@example.invalid commit -q \"$@\"; }\n"
                                    "mkdir -p ") + shellQuote(root) + QStringLiteral(" && cd ") + shellQuote(root) +
                     QStringLiteral(" && ") + QLatin1String(hostileUserSettings) +
                     QStringLiteral(" && git init -q --bare -b main server.git && git -C server.git config uploadpack.allowFilter true"
                                    " && git init -q -b main source && (cd source && mkdir d && echo a > d/a && echo b > top"
                                    " && git add . && commit -m s && git push -q \"$server\" main) || exit 1\n");
    for (const HostileRepository& repository : hostileRepositories) {
        if (!hostileRepositoryChosen(repository, names))
            continue;
        script += QStringLiteral("(set -e; ") + QLatin1String(repository.setup) + QStringLiteral(") && echo made ") +
                  QLatin1String(repository.name) + u'\n';
    }
    return script + QStringLiteral("true\n");
}

inline QString hostileRepositoriesMade(const QStringList& names = {})
{
    QString made;
    for (const HostileRepository& repository : hostileRepositories)
        if (hostileRepositoryChosen(repository, names))
            made += QStringLiteral("made ") + QLatin1String(repository.name) + u'\n';
    return made;
}

inline QStringList hostileRepositoryPaths(const QString& root, const QStringList& names = {})
{
    QStringList paths;
    for (const HostileRepository& repository : hostileRepositories)
        if (hostileRepositoryChosen(repository, names))
            paths << root + u'/' + QLatin1String(repository.name);
    return paths;
}

// What the probe must give for each: its branch, and its state where git can tell it: with the
// git 2 of minor release `gitMinor`, and where no state can be read at all (`readable`
// false), every folder reads clean.
inline QMap<QString, GitInfo> hostileRepositoriesState(const QString& root, const QStringList& names = {},
                                                       int gitMinor = 1000, bool readable = true)
{
    QMap<QString, GitInfo> state;
    for (const HostileRepository& repository : hostileRepositories)
        if (hostileRepositoryChosen(repository, names))
            state.insert(root + u'/' + QLatin1String(repository.name),
                         GitInfo{QLatin1String(repository.branch),
                                 readable && repository.dirty && gitMinor >= repository.readFrom});
    return state;
}

// The words of the repository that `log` lacks.
inline QStringList wordsMissing(const HostileRepository& repository, const QByteArray& log)
{
    QStringList missing;
    for (const QString& word : QString::fromLatin1(repository.words).split(u' ', Qt::SkipEmptyParts))
        if (!log.contains(word.toLatin1()))
            missing << word;
    return missing;
}

// The probe's answer, folder by folder.
inline void expectProbe(const QMap<QString, GitInfo>& probed, const QMap<QString, GitInfo>& expected)
{
    for (auto entry = expected.cbegin(); entry != expected.cend(); ++entry) {
        SCOPED_TRACE(entry.key().toStdString());
        EXPECT_TRUE(probed.contains(entry.key()));
        EXPECT_EQ(probed.value(entry.key()), entry.value());
    }
    EXPECT_EQ(probed.size(), expected.size());
}

// Runs a plain status in each: afterwards `ran` holds every repository's word.
inline QString plainStatusScript(const QString& root)
{
    QString script;
    for (const QString& path : hostileRepositoryPaths(root))
        script += QStringLiteral("git -C ") + shellQuote(path) + QStringLiteral(" status --porcelain >/dev/null 2>&1\n");
    return script + QStringLiteral("true\n");
}

} // namespace halvoren::test
