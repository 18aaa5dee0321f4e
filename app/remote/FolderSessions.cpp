#include "remote/FolderSessions.h"

#include "remote/HostText.h"
#include "remote/SessionNaming.h"
#include "remote/ShellQuote.h"

#include <QTimeZone>

#include <algorithm>
#include <array>
#include <cmath>
#include <vector>

namespace halvoren {
namespace {

// Whole seconds of up to 12 digits, as tmux prints them, read without the general reader:
// a listing may hold millions. Anything else goes through it.
std::optional<qint64> plainSeconds(QStringView field)
{
    if (field.isEmpty() || field.size() > 12)
        return std::nullopt;
    qint64 seconds = 0;
    for (QChar c : field) {
        if (c < u'0' || c > u'9')
            return std::nullopt;
        seconds = seconds * 10 + (c.unicode() - u'0');
    }
    return seconds;
}

QDateTime timeFromSeconds(QStringView field)
{
    if (const std::optional<qint64> seconds = plainSeconds(trimBlanks(field)))
        return QDateTime::fromMSecsSinceEpoch(*seconds * 1000, QTimeZone::utc());
    const double seconds = parseDecimal(trimBlanks(field).toString()).value_or(0.0);
    // Beyond what a date can hold the field is as unreadable as text.
    const double ms = std::round(seconds * 1000.0);
    const bool inRange = std::fabs(ms) < 8.0e15;
    return QDateTime::fromMSecsSinceEpoch(inRange ? static_cast<qint64>(ms) : 0, QTimeZone::utc());
}

bool isHexDigit(QChar c)
{
    return (c >= u'0' && c <= u'9') || (c >= u'a' && c <= u'f');
}

bool isDigit(QChar c)
{
    return c >= u'0' && c <= u'9';
}

// Whether the text before `bar` ends as our names do: "-" and 16 hexadecimal digits, maybe
// followed by the "-n" of a numbered sibling, the first "-" after the prefix.
bool endsAsOurName(QStringView line, qsizetype bar)
{
    const qsizetype prefix = qsizetype(sizeof sessionNamePrefix - 1);
    const auto hashEndsAt = [&](qsizetype end) {
        const qsizetype dash = end - sessionHashDigits - 1;
        if (dash < prefix || line.at(dash) != u'-')
            return false;
        for (qsizetype k = dash + 1; k < end; ++k) {
            if (!isHexDigit(line.at(k)))
                return false;
        }
        return true;
    };
    if (hashEndsAt(bar))
        return true;
    qsizetype digits = bar;
    while (digits > 0 && isDigit(line.at(digits - 1)))
        --digits;
    return digits < bar && digits > 0 && line.at(digits - 1) == u'-' && hashEndsAt(digits - 1);
}

// Where the name of a listing line ends. A label may hold "|", so the name is taken up to the
// first "|" after the "-" and 16 hexadecimal digits that end our names (and the "-n" of a
// numbered sibling); a name of another form ends at its first "|".
qsizetype nameEnd(QStringView line)
{
    const qsizetype first = line.indexOf(u'|');
    if (first < 0 || !line.startsWith(QLatin1String(sessionNamePrefix)))
        return first;
    // Each bar looks back over its own run of digits at most: linear in the line.
    for (qsizetype bar = first; bar >= 0; bar = line.indexOf(u'|', bar + 1)) {
        if (endsAsOurName(line, bar))
            return bar;
    }
    return first;
}

bool tooFewFields(QStringView line)
{
    const qsizetype bar = nameEnd(line);
    return bar < 0 || line.sliced(bar + 1).count(u'|') < 4;
}

// The six fields of a line, still in the text they were read from.
struct SessionFields {
    QStringView name;
    QStringView path;
    QStringView created;
    QStringView attached;
    QStringView activity;
    QStringView command;
};

std::optional<SessionFields> splitSessionLine(QStringView rawLine)
{
    const QStringView line = trimBlanks(rawLine);
    if (!line.startsWith(QLatin1String(sessionNamePrefix)))
        return std::nullopt;
    const qsizetype bar = nameEnd(line);
    if (bar < 0)
        return std::nullopt;
    // The last four fields from the end; whatever lies before them is the path, bars included.
    std::array<qsizetype, 4> bars{};
    qsizetype from = line.size();
    for (qsizetype& at : bars) {
        at = from > bar + 1 ? line.lastIndexOf(u'|', from - 1) : -1;
        if (at <= bar)
            return std::nullopt;
        from = at;
    }
    SessionFields fields;
    fields.name = line.first(bar);
    fields.path = line.sliced(bar + 1, bars[3] - bar - 1);
    fields.created = line.sliced(bars[3] + 1, bars[2] - bars[3] - 1);
    fields.attached = line.sliced(bars[2] + 1, bars[1] - bars[2] - 1);
    fields.activity = line.sliced(bars[1] + 1, bars[0] - bars[1] - 1);
    fields.command = line.sliced(bars[0] + 1);
    if (fields.path.isEmpty())
        return std::nullopt;
    return fields;
}

FolderSession sessionOf(const SessionFields& fields, QDateTime lastActivity)
{
    FolderSession session;
    session.name = fields.name.toString();
    session.path = fields.path.toString();
    session.createdAt = timeFromSeconds(fields.created);
    session.attached = parseStrictInteger(trimBlanks(fields.attached).toString()).value_or(0);
    session.lastActivity = std::move(lastActivity);
    session.command = trimBlanks(fields.command).toString();
    return session;
}

// One line of the output and the break that ends it ("\n", "\r\n", "\r" or none at the end).
struct OutputLine {
    QStringView text;
    QStringView lineBreak;
};

class OutputLines {
public:
    explicit OutputLines(QStringView output) : output(output) {}

    bool atEnd() const { return at > output.size(); }

    OutputLine next()
    {
        qsizetype end = at;
        while (end < output.size() && output.at(end) != u'\n' && output.at(end) != u'\r')
            ++end;
        const bool crlf = end + 1 < output.size() && output.at(end) == u'\r' && output.at(end + 1) == u'\n';
        const qsizetype breakSize = end < output.size() ? (crlf ? 2 : 1) : 0;
        OutputLine line{output.sliced(at, end - at), output.sliced(end, breakSize)};
        at = end + (breakSize > 0 ? breakSize : 1);
        return line;
    }

private:
    QStringView output;
    qsizetype at = 0;
};

// Hands every line the listing accepts to `take`, in output order, read in one pass: a line is
// copied only when a line break splits it.
template <typename Take>
void readSessionLines(QStringView output, Take take)
{
    OutputLines lines(output);
    std::optional<OutputLine> pending;
    const auto advance = [&] { pending = lines.atEnd() ? std::nullopt : std::optional(lines.next()); };
    const auto wholeRowOfOurs = [](QStringView line) {
        return line.startsWith(QLatin1String(sessionNamePrefix)) && !tooFewFields(line);
    };
    QString joined;
    advance();
    while (pending) {
        const OutputLine first = *pending;
        advance();
        if (first.text.isEmpty())
            continue;
        // A line break in the pane's folder splits its line: a line of ours that is short of
        // fields takes the lines after it until it has them, or until a whole line of ours.
        if (!first.text.startsWith(QLatin1String(sessionNamePrefix)) || !tooFewFields(first.text)
            || !pending || wholeRowOfOurs(pending->text)) {
            if (auto fields = splitSessionLine(first.text))
                take(*fields);
            continue;
        }
        joined = first.text.toString();
        QStringView lastBreak = first.lineBreak;
        std::vector<QStringView> taken;
        bool short_ = true;
        while (short_ && pending && !wholeRowOfOurs(pending->text)) {
            joined += lastBreak;
            joined += pending->text;
            // Only a bar can change the count of fields: the joined text is measured again
            // for the few lines that bring one.
            if (pending->text.contains(u'|'))
                short_ = tooFewFields(joined);
            taken.push_back(pending->text);
            lastBreak = pending->lineBreak;
            advance();
        }
        if (auto fields = splitSessionLine(joined)) {
            take(*fields);
            continue;
        }
        // The lines it took are tried alone, never as the start of another join: a host
        // printing millions of short lines must not make this quadratic. (Such a join ends
        // where this one did and is as short of fields.)
        for (QStringView line : taken) {
            if (!line.startsWith(QLatin1String(sessionNamePrefix))) {
                if (auto fields = splitSessionLine(line))
                    take(*fields);
            }
        }
    }
}

// Whether a comes first in the picker: more recent activity, then earlier in the listing.
struct Ranked {
    FolderSession session;
    qsizetype index = 0;
};

bool ranksBefore(const Ranked& a, const Ranked& b)
{
    if (a.session.lastActivity != b.session.lastActivity)
        return a.session.lastActivity > b.session.lastActivity;
    return a.index < b.index;
}

} // namespace

QString sessionListScript()
{
    // One tmux client for every session: a host with a thousand sessions answers at once
    // rather than in a client per session. tmux itself keeps our sessions (other sessions
    // print an empty line, which the parser skips) and fills each row from the session's
    // current window and its active pane. Names and folder paths are printed as data and
    // never reach a shell, and no line filter cuts a folder's line breaks. "-u": without a
    // UTF-8 locale on the host tmux prints a control character of a folder's path as "_",
    // and the session would no longer match its folder.
    return QStringLiteral(
        "tmux -u list-sessions -F '#{?#{m:kq-*,#{session_name}},"
        "#{session_name}|#{pane_current_path}|#{session_created}|#{session_attached}|#{session_activity}|"
        "#{pane_current_command},}' 2>/dev/null; true");
}

std::optional<FolderSession> parseSessionLine(const QString& line)
{
    const std::optional<SessionFields> fields = splitSessionLine(line);
    if (!fields)
        return std::nullopt;
    return sessionOf(*fields, timeFromSeconds(fields->activity));
}

QList<FolderSession> parseSessionList(const QString& output)
{
    QList<FolderSession> sessions;
    readSessionLines(output, [&](const SessionFields& fields) {
        sessions << sessionOf(fields, timeFromSeconds(fields.activity));
    });
    return sessions;
}

QList<FolderSession> parseFolderSessions(QStringView output, const QString& folder, qsizetype limit)
{
    // A heap whose front is the session that goes first when a more recent one comes: what is
    // held never passes the bound, however many sessions the host lists for the folder.
    std::vector<Ranked> kept;
    qsizetype index = 0;
    readSessionLines(output, [&](const SessionFields& fields) {
        if (fields.path != folder || limit <= 0)
            return;
        Ranked ranked{FolderSession{}, index++};
        ranked.session.lastActivity = timeFromSeconds(fields.activity);
        if (qsizetype(kept.size()) >= limit && !ranksBefore(ranked, kept.front()))
            return;
        ranked.session = sessionOf(fields, std::move(ranked.session.lastActivity));
        kept.push_back(std::move(ranked));
        std::push_heap(kept.begin(), kept.end(), ranksBefore);
        if (qsizetype(kept.size()) > limit) {
            std::pop_heap(kept.begin(), kept.end(), ranksBefore);
            kept.pop_back();
        }
    });
    std::sort_heap(kept.begin(), kept.end(), ranksBefore);
    QList<FolderSession> sessions;
    sessions.reserve(qsizetype(kept.size()));
    for (Ranked& ranked : kept)
        sessions << std::move(ranked.session);
    return sessions;
}

namespace {

// What the probe runs once, before its folders. Nothing a repository's own settings name may
// run while its state is read: no lazy fetch of a missing object in a partial clone (and no
// transport at all, whatever the repository allows itself), no hook (nothing is written, and
// hooks are looked for nowhere), no file-system monitor, and every filter the repository names
// emptied. Reading those names runs nothing, nor does reading the branch: `rev-parse
// --abbrev-ref` reads the name HEAD holds, no object, and writes nothing (the environment
// covers it all the same).
//
// A submodule's settings are as foreign. git only compares the commit each submodule has
// checked out, read from its HEAD, with the one recorded, and runs nothing of the submodule for
// that: a submodule moved to another commit marks its project changed, but changes inside a
// submodule's own tree are not seen.
//
// The state is read from git's output, never from a pipeline's status: a login profile may set
// `pipefail`, and git then fails with the pipe its reader closed after one character.
//
// A filter name holding "=" cannot be given on git's command line; git 2.31 and later read it
// from the environment instead. An older git ignores that and would run the filter, so there
// the state stays unknown (clean).
//
// Whatever keeps the filters from running must itself have run, or the state is not read at
// all: a folder whose filter names cannot be listed (git refused, an older git without the
// options), whose list is too long to walk, or whose names the environment would not take,
// reads clean, as it does with an older git, rather than letting `status` run them.
//
// The names are listed as `status` reads them, every file at once: an include whose condition
// tests a setting (`hasconfig:`) may sit in one file and the setting it tests in another (the
// repository's own file and its work tree's), and each file listed alone brings in nothing. git
// shows an included setting with the scope of the file that includes it, so every name the
// repository sets or includes (scopes "local" and "worktree", and any other than the user's own
// "system", "global" and "command") is emptied whole, even where the user's own filter has that
// name; a filter of the user's that the repository leaves alone still works. Only the
// repository's names count towards the bound. A git that shows no scopes (before 2.26) reads no
// such condition either (2.36), so there one listing per file is exact; a git that should know
// scopes and refuses them is not trusted to list anything. GIT_CONFIG, which only `git config`
// honours, is unset: the listings would read that file instead (and where it cannot be, nothing
// is read).
//
// The login profile may have made a variable of the guards read-only, and dash, zsh and mksh
// stop the whole script at an assignment to it (bash goes on without it). Every assignment is
// tried in a subshell first. With every transport shut nothing can be fetched, whichever git
// honours the lazy-fetch switch, so that one may stay as the profile left it; where transports
// cannot be shut, no folder's state is read (clean), and each still gets its branch.
//
// The file-system monitor is turned off with an empty value, never with "false": before 2.36
// the setting is the path of a program, and git would run "false" from the work tree, through
// a PATH whose relative entries (an empty one, ".", "bin", a quoted "~/bin") then name the
// repository's files. Other programs git starts are looked up the same way (a git that
// ignores the lazy-fetch switch starts another git to fetch), so each relative entry is made
// absolute first, naming the folder this shell itself finds there: its own folder, or the home
// folder for a "~" (as bash reads it). Where that cannot be done, no state is read: that
// folder's name is not absolute, or holds a ":", which PATH would read as its separator and
// so make the rest of the name a relative entry again.
//
// The script runs under whichever login shell the host has (bash, dash, zsh in its own mode,
// mksh), so it writes no here-document, which some of them keep in a temporary file and skip
// whole when the temporary folder is full or unusable, and it splits no word: zsh does not
// split a variable on IFS. The listing of every file, whose length the user's own settings
// decide, is read a line at a time by `read`, which keeps the repository's names up to their
// bound; those are then walked by taking the text up to the first line feed off the front,
// which is quadratic in the list's length, hence the bound.
constexpr char gitProbePrelude[] = R"hv(# Read-only variables stop most shells at an assignment: each is tried in a subshell first.
(export GIT_ALLOW_PROTOCOL=none) 2>/dev/null && export GIT_ALLOW_PROTOCOL=none
(export GIT_NO_LAZY_FETCH=1) 2>/dev/null && export GIT_NO_LAZY_FETCH=1
__hv_shut=
if [ "${GIT_ALLOW_PROTOCOL-}" = none ] && (export GIT_ALLOW_PROTOCOL) 2>/dev/null; then
  export GIT_ALLOW_PROTOCOL; __hv_shut=1
fi
# Each relative entry of PATH is made to name the folder this shell finds there, which must
# be absolute and free of ":", PATH's own separator.
__hv_l=${PATH+$PATH:}; __hv_path=; __hv_rel=; __hv_bad=
while [ -n "$__hv_l" ]; do
  __hv_k=${__hv_l%%:*}; __hv_l=${__hv_l#*:}
  case $__hv_k in
  /*) __hv_b=/ ;;
  '~'|'~'/*) __hv_rel=1; __hv_b=${HOME-}; __hv_k=$__hv_b${__hv_k#'~'} ;;
  *) __hv_rel=1; __hv_b=${PWD-}; __hv_k=$__hv_b/$__hv_k ;;
  esac
  case $__hv_b in ''|*:*|[!/]*) __hv_bad=1 ;; esac
  __hv_path=$__hv_path${__hv_path:+:}$__hv_k
done
if [ -n "$__hv_rel" ]; then
  [ -z "$__hv_bad" ] || __hv_shut=
  if [ -n "$__hv_shut" ] && (export PATH="$__hv_path") 2>/dev/null; then export PATH="$__hv_path"; else __hv_shut=; fi
fi
__hv_env=
__hv_scoped=
case $(git version 2>/dev/null) in
'git version '[3-9].*|'git version '[1-9][0-9]*.*|'git version 2.'3[6-9]*|'git version 2.'[4-9][0-9]*|'git version 2.'[1-9][0-9][0-9]*) __hv_env=1 __hv_scoped=1 ;;
'git version 2.'3[1-5]*) __hv_env=1 ;;
esac
__hv_nl='
'
__hv_tab=$(printf '\t')
# A shell that cannot unset a variable may stop there: it is tried in a subshell first.
(unset GIT_CONFIG) 2>/dev/null && unset GIT_CONFIG
# Exports, for git's status alone, the settings that empty the filters named in "$1" (each
# ended by a line feed) after any the environment holds; fails when one does not take.
__hv_environment() {
  __hv_l=$1
  [ -n "$__hv_l" ] || return 0
  __hv_n=${GIT_CONFIG_COUNT:-0}
  case $__hv_n in ''|*[!0-9]*) __hv_n=0 ;; esac
  while [ -n "$__hv_l" ]; do
    __hv_k=${__hv_l%%"$__hv_nl"*}; __hv_l=${__hv_l#*"$__hv_nl"}
    export "GIT_CONFIG_KEY_$__hv_n=filter.$__hv_k.clean" "GIT_CONFIG_VALUE_$__hv_n=" || return 1
    __hv_n=$((__hv_n + 1))
    export "GIT_CONFIG_KEY_$__hv_n=filter.$__hv_k.process" "GIT_CONFIG_VALUE_$__hv_n=" || return 1
    __hv_n=$((__hv_n + 1))
    export "GIT_CONFIG_KEY_$__hv_n=filter.$__hv_k.required" "GIT_CONFIG_VALUE_$__hv_n=false" || return 1
    __hv_n=$((__hv_n + 1))
  done
  export GIT_CONFIG_COUNT=$__hv_n || return 1
  [ "$GIT_CONFIG_COUNT" = "$__hv_n" ]
}
# Sets __hv_f to the names of the filter settings the repository at "$1" holds, each ended by
# a line feed; fails when they cannot be read or are too many to walk. Each line git prints is
# a scope, a tab and a name, which holds no line feed; the reader takes git's status from the
# last line without a tab, and gives it first, or "long" once the names pass the bound. git's
# status 1 is "no such setting", 129 an option it does not know. Nothing long is passed as an
# argument: printf is not built into every shell.
__hv_filters() {
  [ -z "${GIT_CONFIG+set}" ] || return 1
  __hv_f=$({ git -C "$1" config --includes --show-scope --name-only --get-regexp '^filter\.' 2>/dev/null; echo "$?"; } | {
    __hv_s=; __hv_r=
    while IFS= read -r __hv_k; do
      case $__hv_k in
      *"$__hv_tab"*) ;;
      *) __hv_s=$__hv_k; continue ;;
      esac
      case $__hv_k in
      system"$__hv_tab"*|global"$__hv_tab"*|command"$__hv_tab"*) ;;
      *)
        __hv_r=$__hv_r${__hv_k#*"$__hv_tab"}$__hv_nl
        [ ${#__hv_r} -le 8192 ] || { __hv_s=long; __hv_r=; break; } ;;
      esac
    done
    printf '%s\n%s' "$__hv_s" "$__hv_r"
  })$__hv_nl
  case ${__hv_f%%"$__hv_nl"*} in
  0|1) __hv_f=${__hv_f#*"$__hv_nl"} ;;
  129) [ -z "$__hv_scoped" ] || return 1; __hv_filters_by_file "$1" ;;
  *) return 1 ;;
  esac
}
# The same for a git that shows no scopes, one file after the other. Per-worktree settings
# matter only where git reads them: with several work trees git refuses to list them unless
# they are turned on.
__hv_filters_by_file() {
  __hv_f=$(git -C "$1" config --local --includes --name-only --get-regexp '^filter\.' 2>/dev/null)
  case $? in 0|1) ;; *) return 1 ;; esac
  __hv_w=$(git -C "$1" config --worktree --includes --name-only --get-regexp '^filter\.' 2>/dev/null)
  case $? in
  0|1) [ "$__hv_w" != "$__hv_f" ] || __hv_w= ;;
  *)
    __hv_w=$(git -C "$1" config --local --bool extensions.worktreeConfig 2>/dev/null)
    case $?$__hv_w in 1|0false) __hv_w= ;; *) return 1 ;; esac ;;
  esac
  __hv_f=$__hv_f$__hv_nl$__hv_w$__hv_nl
  [ ${#__hv_f} -le 8192 ]
}
# Sets d to 1 when the work tree of "$1" has changes.
__hv_dirty() {
  d=; __hv_p=$1; __hv_e=; __hv_q=$__hv_nl
  [ -n "$__hv_shut" ] || return 0
  __hv_filters "$__hv_p" || return 0
  set -- --no-optional-locks -c core.hooksPath=/dev/null -c core.fsmonitor=
  while [ -n "$__hv_f" ]; do
    __hv_k=${__hv_f%%"$__hv_nl"*}; __hv_f=${__hv_f#*"$__hv_nl"}
    [ -n "$__hv_k" ] || continue
    __hv_k=${__hv_k#filter.}; __hv_k=${__hv_k%.*}
    # A filter's settings usually come together: name it once. The last name starts as a line
    # feed, which no name holds, so that a first name that is empty ([filter ""]) is named too.
    [ "$__hv_k" != "$__hv_q" ] || continue
    __hv_q=$__hv_k
    case $__hv_k in
    *=*)
      [ -n "$__hv_env" ] || return 0
      __hv_e=$__hv_e$__hv_k$__hv_nl ;;
    *) set -- "$@" -c "filter.$__hv_k.clean=" -c "filter.$__hv_k.process=" -c "filter.$__hv_k.required=false" ;;
    esac
  done
  d=$(__hv_environment "$__hv_e" || exit; git "$@" -C "$__hv_p" status --porcelain --ignore-submodules=dirty 2>/dev/null | head -c 1)
  [ -z "$d" ] || d=1
}
)hv";

} // namespace

QString gitProbeScript(const QStringList& paths)
{
    if (paths.isEmpty())
        return QStringLiteral("true\n");
    QString script = QLatin1String(gitProbePrelude);
    for (const QString& path : paths) {
        script += QStringLiteral("p=") + shellQuote(path) + QStringLiteral(
                      "\n"
                      "b=$(git -C \"$p\" rev-parse --abbrev-ref HEAD 2>/dev/null)\n"
                      "if [ -n \"$b\" ]; then\n"
                      "  __hv_dirty \"$p\"\n"
                      "  printf '%s|@|%s|@|%s\\n' \"$p\" \"$b\" \"$d\"\n"
                      "fi\n");
    }
    return script + QStringLiteral("true\n");
}

QMap<QString, GitInfo> parseGitProbe(const QString& output)
{
    QMap<QString, GitInfo> probe;
    for (const QString& line : splitLines(output)) {
        const QStringList parts = trimBlanks(line).split(QStringLiteral("|@|"));
        if (parts.size() != 3 || parts.at(0).isEmpty() || parts.at(1).isEmpty())
            continue;
        probe.insert(parts.at(0), GitInfo{parts.at(1), parts.at(2) == QLatin1String("1")});
    }
    return probe;
}

} // namespace halvoren
