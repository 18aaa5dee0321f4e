#include "remote/ServerState.h"

#include "remote/HostText.h"
#include "remote/SessionNaming.h"
#include "remote/ShellQuote.h"
#include "remote/TmuxCommands.h"

#include <QHashFunctions>
#include <QRandomGenerator>

#include <algorithm>
#include <array>
#include <vector>

namespace halvoren {

namespace {

// The session's creation time comes last: only this listing reads it, to tell a session made
// again under the same name from the one it replaced.
constexpr char rowFormat[]
    = "'#{session_name}\t#{@hv_open}\t#{@hv_order}\t#{@hv_name}\t#{@hv_path}\t#{@hv_parent}\t#{@hv_sync}\t#{session_created}'";

QString marked(const char* marker, const QString& nonce)
{
    return QLatin1String(marker) + nonce;
}

// Passes whole lines on while they fit in `bytes`; past that prints the cut marker instead
// and exits with rowsCutStatus, so the script knows. Bytes, whatever the host's locale: the
// locale is given through `env`, which a variable the login profile made read-only does not
// stop, where most shells would refuse to run the command at all.
QString boundedRows(qsizetype bytes, const QString& nonce)
{
    return QStringLiteral("env LC_ALL=C awk -v m=%1 -v c='%2' '{ n += length($0) + 1; if (n > m) { print c; exit %3 } print }'")
        .arg(bytes)
        .arg(marked(rowsCutMarker, nonce))
        .arg(rowsCutStatus);
}

// The shared-state file, after its marker line.
QString sharedSectionScript(const QString& nonce)
{
    // Only a readable file is measured and printed: opening a pipe would wait for a writer.
    // Its checksum comes first: should the file be replaced before it is read, a write
    // expecting that checksum is refused, never taken over what it did not read.
    return QStringLiteral(
               "f=~/.halvoren/shared.json\n"
               "if [ -f \"$f\" ] && [ -r \"$f\" ]; then"
               " if [ $(($(wc -c < \"$f\"))) -gt %1 ]; then printf '%2\\n';"
               " else printf '%4 %s\\n' \"$(cksum 2>/dev/null < \"$f\")\"; cat \"$f\" 2>/dev/null; fi\n"
               "elif [ -e \"$f\" ] || [ -L \"$f\" ]; then printf '%3\\n'; fi\n")
        .arg(maximumSharedStateBytes)
        .arg(marked(sharedTooLargeMarker, nonce), marked(sharedUnreadableMarker, nonce), marked(sharedSumMarker, nonce));
}

} // namespace

QString newListingNonce()
{
    quint32 words[4];
    QRandomGenerator::system()->fillRange(words);
    QString nonce;
    for (const quint32 word : words)
        nonce += QStringLiteral("%1").arg(word, 8, 16, QLatin1Char('0'));
    return nonce;
}

QString listingScript(const QString& nonce)
{
    // "-u": without a UTF-8 locale on the host, tmux writes the tabs between the fields as
    // "_" and every row would be unreadable. Every row comes first, as the listing always
    // printed them; only a host with more than the bound is asked for its open rows again,
    // which a tmux that cannot filter does not answer whole. The filter's status tells a cut
    // from a filter that did not run (no awk: 127) or failed: then no row counts, and the
    // status follows its marker. tmux's own status counts for nothing: no server is no row,
    // also where a login profile sets `pipefail` and a pipeline would take tmux's status.
    return QStringLiteral("{ tmux -u list-sessions -F %1 2>/dev/null || :; } | %2\n"
                          "__hv_rows=$?\n"
                          "if [ \"$__hv_rows\" -eq %7 ]; then printf '%4\\n'; "
                          "{ tmux -u list-sessions -f '#{==:#{@hv_open},1}' -F %1 2>/dev/null && printf '%5\\n'; } | %3; "
                          "elif [ \"$__hv_rows\" -ne 0 ]; then printf '\\n%8\\n%s\\n' \"$__hv_rows\"; fi\n"
                          "printf '\\n%6\\n'\n")
               .arg(QLatin1String(rowFormat), boundedRows(maximumListedRowBytes, nonce),
                    boundedRows(maximumListedOpenRowBytes, nonce), marked(openRowsMarker, nonce),
                    marked(openRowsEndMarker, nonce), marked(sharedMarker, nonce), QString::number(rowsCutStatus),
                    marked(rowsFailedMarker, nonce))
         + sharedSectionScript(nonce) + QStringLiteral("true\n");
}

QString hostSubject(HostKind host)
{
    return host == HostKind::server ? QStringLiteral("Le serveur") : QStringLiteral("Cet ordinateur");
}

QString hostSessionTooLongMessage(HostKind host)
{
    return QStringLiteral("%1 liste des sessions dont le nom dépasse %2 Kio : elles ne sont pas suivies ici.")
        .arg(hostSubject(host))
        .arg(maximumHostValueBytes >> 10);
}

QString hostTabNameTooLongMessage(HostKind host)
{
    return QStringLiteral("%1 liste des onglets dont le nom dépasse %2 Kio : le nom de leur session est affiché.")
        .arg(hostSubject(host))
        .arg(maximumHostValueBytes >> 10);
}

QString hostPathTooLongMessage(HostKind host)
{
    return QStringLiteral("%1 liste des onglets dont le chemin dépasse %2 Kio : ils ne sont ni ouverts ni fermés ici.")
        .arg(hostSubject(host))
        .arg(maximumHostValueBytes >> 10);
}

namespace {

QString sharedStateOwner(HostKind host)
{
    return host == HostKind::server ? QStringLiteral("du serveur") : QStringLiteral("de cet ordinateur");
}

} // namespace

QString sharedStateTooLargeMessage(HostKind host)
{
    return QStringLiteral("Le fichier ~/.halvoren/shared.json %1 dépasse %2 Mo : il est ignoré.")
        .arg(sharedStateOwner(host))
        .arg(maximumSharedStateBytes >> 20);
}

QString sharedStateUnreadableMessage(HostKind host)
{
    return QStringLiteral("Le fichier ~/.halvoren/shared.json %1 est illisible : il est laissé tel quel.")
        .arg(sharedStateOwner(host));
}

QString sharedStateFullMessage(HostKind host)
{
    return QStringLiteral("Le fichier ~/.halvoren/shared.json %1 est plein (%2 Mo) : ce changement n'y est pas écrit ; "
                          "il n'est gardé ici que jusqu'à la fermeture.")
        .arg(sharedStateOwner(host))
        .arg(maximumSharedStateBytes >> 20);
}

QString hostSessionsCappedMessage(qsizetype dropped, HostKind host)
{
    return QStringLiteral("%1 liste plus de %2 sessions : %3 ne sont pas suivies ici.")
        .arg(hostSubject(host))
        .arg(maximumListedSessions)
        .arg(dropped);
}

QString hostRowsFailedMessage(int status, HostKind host)
{
    if (status == 127) {
        return QStringLiteral("%1 n'a pas awk : la liste de ses sessions ne peut pas être lue, ses onglets restent tels quels.")
            .arg(hostSubject(host));
    }
    return QStringLiteral("%1 n'a pas pu lire la liste de ses sessions (awk a échoué, code %2) : ses onglets restent "
                          "tels quels.")
        .arg(hostSubject(host))
        .arg(status);
}

namespace {

// Whether the text takes more than `limit` UTF-8 bytes, counted without building them and
// only as far as needed: one to three bytes a UTF-16 unit, a pair four (three and one).
bool longerThanUtf8(QStringView text, qsizetype limit)
{
    if (text.size() > limit)
        return true;
    if (text.size() <= limit / 3)
        return false;
    qsizetype bytes = 0;
    for (const QChar c : text) {
        const char16_t unit = c.unicode();
        bytes += unit < 0x80 || QChar::isLowSurrogate(unit) ? 1 : unit < 0x800 ? 2 : 3;
        if (bytes > limit)
            return true;
    }
    return false;
}

void note(QStringList& problems, const QString& message)
{
    if (!problems.contains(message))
        problems << message;
}

// The lines of the listing's rows, cut at line feeds only, empty ones included: a value may
// hold line feeds, even two in a row.
class LineReader {
public:
    explicit LineReader(QStringView text) : text(text) {}

    std::optional<QStringView> next()
    {
        if (at >= text.size())
            return std::nullopt;
        qsizetype end = text.indexOf(u'\n', at);
        if (end < 0)
            end = text.size();
        const QStringView line = text.sliced(at, end - at);
        at = end + 1;
        return line;
    }

private:
    QStringView text;
    qsizetype at = 0;
};

constexpr int rowFields = 7;
// A row as our listing prints it: the seven fields, then the session's creation time.
constexpr int fullRowFields = rowFields + 1;
using RowFields = std::array<QStringView, fullRowFields>;

// The fields of a row, up to the creation time; their count (7 or 8), or 0 when it has fewer
// than seven.
int splitRow(QStringView line, RowFields& fields)
{
    qsizetype start = 0;
    for (int index = 0; index < fullRowFields; ++index) {
        const qsizetype tab = line.indexOf(u'\t', start);
        if (tab < 0) {
            if (index < rowFields - 1)
                return 0;
            fields[index] = line.sliced(start);
            return index + 1;
        }
        fields[index] = line.sliced(start, tab - start);
        start = tab + 1;
    }
    return fullRowFields;
}

// A creation time is a count of seconds since 1970; anything else (or one past any date a
// host can have) reads as none.
std::optional<qint64> creationTime(QStringView field)
{
    constexpr qint64 latest = qint64{1} << 40;
    const std::optional<qint64> seconds = parseStrictInteger(field.toString());
    if (!seconds || *seconds < 0 || *seconds >= latest)
        return std::nullopt;
    return seconds;
}

bool viewLess(QStringView a, QStringView b)
{
    return a.compare(b) < 0;
}

bool hostOrderLess(const HostTab& a, const HostTab& b)
{
    if (a.order != b.order)
        return a.order < b.order;
    return codePointLess(a.session, b.session);
}

bool opensBefore(const HostTab& a, const HostTab& b)
{
    if (a.path.isEmpty() != b.path.isEmpty())
        return b.path.isEmpty();
    return hostOrderLess(a, b);
}

// Which rows a listing keeps: those of the client's own sessions, and a bounded number of
// the others, chosen as parseServerState says.
class SessionBound {
public:
    explicit SessionBound(const QStringList& keep) : kept(keep.cbegin(), keep.cend())
    {
        std::sort(kept.begin(), kept.end(), [](const QString& a, const QString& b) { return viewLess(a, b); });
    }

    bool isKept(QStringView session) const
    {
        return std::binary_search(kept.cbegin(), kept.cend(), session,
                                  [](QStringView a, QStringView b) { return viewLess(a, b); });
    }

    // "<kept>-<n>": another session of a kept folder.
    bool isNumberedSibling(QStringView session) const
    {
        qsizetype digits = session.size();
        while (digits > 0 && session.at(digits - 1) >= u'0' && session.at(digits - 1) <= u'9')
            --digits;
        return digits < session.size() && digits > 1 && session.at(digits - 1) == u'-' && isKept(session.first(digits - 1));
    }

    // An open row not kept may stay if it is among those a client would open first: the
    // lowest orders, rows without a path (never opened) last.
    bool admitsOpen(bool pathless, qint64 order, QStringView session) const
    {
        if (openRows.size() < maximumListedSessions)
            return true;
        const HostTab& worst = openRows.front();
        if (pathless != worst.path.isEmpty())
            return !pathless;
        return order < worst.order || (order == worst.order && codePointLess(session.toString(), worst.session));
    }

    void addOpen(HostTab tab)
    {
        openRows.push_back(std::move(tab));
        std::push_heap(openRows.begin(), openRows.end(), opensBefore);
        if (openRows.size() > maximumListedSessions) {
            std::pop_heap(openRows.begin(), openRows.end(), opensBefore);
            openRows.pop_back();
            ++dropped;
        }
    }

    void addClosed(QStringView session)
    {
        const int rank = isNumberedSibling(session) ? 0 : session.startsWith(QLatin1String(sessionNamePrefix)) ? 1 : 2;
        std::vector<QString>& into = closedRows[rank];
        if (qsizetype(into.size()) < maximumListedSessions)
            into.push_back(session.toString());
        else
            ++dropped;
    }

    void drop() { ++dropped; }

    // Puts the rows kept into the state; the count of the others dropped.
    qsizetype finish(ServerState& state)
    {
        qsizetype room = maximumListedSessions;
        for (HostTab& tab : openRows) {
            state.sessions.insert(tab.session);
            state.open << std::move(tab);
            --room;
        }
        for (std::vector<QString>& list : closedRows) {
            for (QString& session : list) {
                if (room > 0) {
                    state.sessions.insert(std::move(session));
                    --room;
                } else {
                    ++dropped;
                }
            }
        }
        return dropped;
    }

private:
    std::vector<QString> kept;
    // A heap whose front is the open row that goes first when a lower one comes.
    std::vector<HostTab> openRows;
    // Names of the other rows, in the order they are kept: numbered sessions of a kept one,
    // then the program's own sessions, then the rest.
    std::array<std::vector<QString>, 3> closedRows;
    qsizetype dropped = 0;
};

// How the rows of one part of the listing count.
enum class RowUse {
    // As tmux printed them: sessions and open tabs.
    everything,
    // Sessions only: the open tabs come from the open rows printed after them.
    sessionsOnly,
};

struct RowReader {
    ServerState& state;
    SessionBound& bound;
    HostKind host;

    // One row of the listing, as tmux printed it or joined back from its lines.
    void read(QStringView line, RowUse use)
    {
        RowFields fields;
        const int count = splitRow(line, fields);
        if (count == 0 || trimBlanks(fields[0]).isEmpty())
            return;
        if (fields[6] == u"1")
            state.synced = true;
        if (longerThanUtf8(fields[0], maximumHostValueBytes)) {
            note(state.problems, hostSessionTooLongMessage(host));
            state.refusedSessions << refusedSessionKey(fields[0]);
            return;
        }
        const bool kept = bound.isKept(fields[0]);
        if (fields[1] != u"1" || use == RowUse::sessionsOnly) {
            addClosed(fields[0], kept);
            return;
        }
        if (longerThanUtf8(fields[4], maximumHostValueBytes)) {
            note(state.problems, hostPathTooLongMessage(host));
            state.refusedSessions << refusedSessionKey(fields[0]);
            addClosed(fields[0], kept);
            return;
        }
        const qint64 order = parseStrictInteger(fields[2].toString()).value_or(unsetHostOrder);
        if (!kept && !bound.admitsOpen(fields[4].isEmpty(), order, fields[0])) {
            bound.drop();
            return;
        }
        HostTab tab;
        tab.session = fields[0].toString();
        tab.order = order;
        const bool nameTooLong = longerThanUtf8(fields[3], maximumHostValueBytes);
        if (nameTooLong)
            note(state.problems, hostTabNameTooLongMessage(host));
        tab.name = fields[3].isEmpty() || nameTooLong ? tab.session : fields[3].toString();
        tab.path = fields[4].toString();
        if (!fields[5].isEmpty() && !longerThanUtf8(fields[5], maximumHostValueBytes))
            tab.parent = fields[5].toString();
        if (count == fullRowFields)
            tab.created = creationTime(fields[7]);
        if (kept) {
            state.sessions.insert(tab.session);
            state.open << std::move(tab);
        } else {
            bound.addOpen(std::move(tab));
        }
    }

    void addClosed(QStringView session, bool kept)
    {
        if (kept)
            state.sessions.insert(session.toString());
        else
            bound.addClosed(session);
    }

    // Every row of one part of the listing. Rows are read in place; only a row split by a
    // line feed in a value is copied, to be joined back.
    void readAll(QStringView rows, RowUse use)
    {
        LineReader lines(rows);
        QString joined;
        std::optional<QStringView> pending;
        qsizetype pendingTabs = 0;
        // The tabs are counted once a line: a host printing millions of lines without one
        // must not make this quadratic.
        const auto advance = [&] {
            pending = lines.next();
            pendingTabs = pending ? pending->count(u'\t') : 0;
        };
        // A value written with a line feed (by a client that did not clean it) splits its
        // row: a row short of fields takes the next lines until it has them, unless the
        // next line is a whole row of its own.
        // A line of six tabs or more is a whole row of its own (one without the creation time
        // has six); a row of six takes one more line only when that line completes it.
        const auto continuesRow = [&](qsizetype tabs) {
            if (!pending || pendingTabs >= rowFields - 1)
                return false;
            if (tabs < rowFields - 1)
                return tabs + pendingTabs <= fullRowFields - 1;
            return tabs == rowFields - 1 && pendingTabs == 1;
        };
        advance();
        while (pending) {
            QStringView line = *pending;
            qsizetype tabs = pendingTabs;
            advance();
            // An empty line starts no row (one ends the rows, before the marker).
            if (line.isEmpty())
                continue;
            if (continuesRow(tabs)) {
                joined = line.toString();
                while (continuesRow(tabs)) {
                    joined += u'\n';
                    joined += *pending;
                    tabs += pendingTabs;
                    advance();
                }
                line = joined;
            }
            read(line, use);
        }
    }
};

// Where `line` stands alone on a line of `text`, from `from` on; -1 when it does not.
qsizetype findLine(QStringView text, QStringView line, qsizetype from = 0)
{
    for (qsizetype at = text.indexOf(line, from); at >= 0; at = text.indexOf(line, at + 1)) {
        const qsizetype end = at + line.size();
        if ((at == 0 || text.at(at - 1) == u'\n') && (end == text.size() || text.at(end) == u'\n'))
            return at;
    }
    return -1;
}

// What follows the marker line: the shared-state file as stored, or the line the listing
// printed in its place. The size is the file's own, in bytes, as the script measures it. The
// markers stand alone in place of the file: a file that merely holds their text (a project
// of that name) is read as any other.
void readSharedSection(QStringView content, const QString& nonce, HostKind host, ServerState& state)
{
    const QString sumLine = marked(sharedSumMarker, nonce) + u' ';
    if (content.startsWith(sumLine)) {
        const qsizetype end = content.indexOf(u'\n');
        state.sharedSum = content.mid(sumLine.size(), end < 0 ? -1 : end - sumLine.size()).toString();
        content = end < 0 ? QStringView() : content.sliced(end + 1);
    }
    const QStringView alone = content.trimmed();
    if (alone == marked(sharedTooLargeMarker, nonce) || longerThanUtf8(content, maximumSharedStateBytes)) {
        state.sharedTooLarge = true;
        note(state.problems, sharedStateTooLargeMessage(host));
        return;
    }
    // A missing or blank file holds no one's names: the caller writes its own.
    if (alone.isEmpty())
        return;
    // Anything else that is not our object may be someone's: it is left as it is.
    if (alone != marked(sharedUnreadableMarker, nonce))
        state.shared = parseSharedPrefs(alone);
    if (!state.shared) {
        state.sharedUnreadable = true;
        note(state.problems, sharedStateUnreadableMessage(host));
    }
}

} // namespace

ServerState parseServerState(const QString& output, const QStringList& keep, const QString& nonce, HostKind host)
{
    const QString marker = marked(sharedMarker, nonce);
    const qsizetype markerAt = findLine(output, marker);
    const QStringView head = markerAt >= 0 ? QStringView(output).left(markerAt) : QStringView(output);
    QString tail;
    if (markerAt >= 0) {
        const qsizetype tailStart = markerAt + marker.size();
        const qsizetype next = output.indexOf(marker, tailStart);
        tail = output.mid(tailStart, next >= 0 ? next - tailStart : -1);
    }

    // Every row, up to the cut marker when they were cut; then, only in that case, the open
    // rows, whole when their end marker follows them.
    QStringView rows = head;
    std::optional<QStringView> openRows;
    const QString openMarker = marked(openRowsMarker, nonce);
    if (const qsizetype openAt = findLine(head, openMarker); openAt >= 0) {
        rows = head.left(openAt);
        openRows = head.sliced(openAt + openMarker.size());
    }
    ServerState state;
    if (const qsizetype failedAt = findLine(rows, marked(rowsFailedMarker, nonce)); failedAt >= 0) {
        // Whatever a failed filter let through is no listing of the rows.
        QStringView after = rows.sliced(failedAt + marked(rowsFailedMarker, nonce).size()).trimmed();
        if (const qsizetype end = after.indexOf(u'\n'); end >= 0)
            after = after.left(end);
        const std::optional<qint64> status = parseStrictInteger(after.toString());
        state.rowsFailed = status && *status > 0 && *status < 256 ? int(*status) : 1;
        note(state.problems, hostRowsFailedMessage(*state.rowsFailed, host));
        rows = QStringView();
        openRows.reset();
    }
    if (const qsizetype cutAt = findLine(rows, marked(rowsCutMarker, nonce)); cutAt >= 0) {
        state.rowsCut = true;
        rows = rows.left(cutAt);
    }
    bool openWhole = false;
    if (openRows) {
        if (const qsizetype endAt = findLine(*openRows, marked(openRowsEndMarker, nonce)); endAt >= 0) {
            openWhole = true;
            openRows = openRows->left(endAt);
        }
    }

    SessionBound bound(keep);
    RowReader reader{state, bound, host};
    if (state.rowsCut && openWhole) {
        reader.readAll(rows, RowUse::sessionsOnly);
        reader.readAll(*openRows, RowUse::everything);
    } else {
        // Cut rows without their open rows whole (a tmux that cannot filter) give the open
        // tabs they hold, and no more.
        state.openIncomplete = state.rowsCut;
        reader.readAll(rows, RowUse::everything);
    }
    if (const qsizetype dropped = bound.finish(state); dropped > 0)
        note(state.problems, hostSessionsCappedMessage(dropped, host));
    sortHostTabs(state.open);
    std::sort(state.refusedSessions.begin(), state.refusedSessions.end());
    state.refusedSessions.erase(std::unique(state.refusedSessions.begin(), state.refusedSessions.end()),
                                state.refusedSessions.end());
    // The marker's own line feed is not the file's.
    QStringView content(tail);
    if (content.startsWith(u'\n'))
        content = content.sliced(1);
    readSharedSection(content, nonce, host, state);
    return state;
}

quint64 refusedSessionKey(QStringView session)
{
    return qHash(session, 0);
}

bool isRefusedSession(const ServerState& state, const QString& session)
{
    return std::binary_search(state.refusedSessions.cbegin(), state.refusedSessions.cend(), refusedSessionKey(session));
}

void sortHostTabs(QList<HostTab>& tabs)
{
    std::stable_sort(tabs.begin(), tabs.end(), hostOrderLess);
}

QString sessionRowScript(const QString& session)
{
    // "-u" as for the listing: the fields stay apart without a UTF-8 locale.
    return QStringLiteral("tmux -u display-message -p -t %1 %2 2>/dev/null\ntrue\n")
        .arg(tmuxOptionTarget(session), QLatin1String(rowFormat));
}

std::optional<HostTab> parseSessionRow(const QString& output, const QString& session)
{
    // Read as a listing whose markers no host can print: whatever the row holds stays data.
    const ServerState state = parseServerState(output, {session}, newListingNonce());
    for (const HostTab& row : state.open) {
        if (row.session == session)
            return row;
    }
    return std::nullopt;
}

std::optional<ServerState> parseListingOutput(const QString& output, const QStringList& keep, const QString& nonce,
                                              HostKind host)
{
    if (findLine(output, marked(sharedMarker, nonce)) < 0)
        return std::nullopt;
    return parseServerState(output, keep, nonce, host);
}

namespace {

// The Base64 text of the file, as lines that each print one piece of it: a host whose `printf`
// is a program (mksh) is refused an argument past 128 KiB, and its decoder would then read
// nothing, so no piece comes near that. No here-document either: some shells keep one in a
// temporary folder, which a host may not have room in.
QString payloadLines(const QByteArray& bytes)
{
    const QByteArray base64 = bytes.toBase64();
    QString lines;
    lines.reserve(base64.size() + (base64.size() / sharedPayloadPieceChars + 1) * 16);
    for (qsizetype at = 0; at < base64.size(); at += sharedPayloadPieceChars) {
        lines += QStringLiteral("printf %s ")
               + shellQuote(QString::fromLatin1(base64.mid(at, sharedPayloadPieceChars))) + u'\n';
    }
    // A group of no command is no shell's syntax.
    return lines.isEmpty() ? QStringLiteral(":\n") : lines;
}

// Ends the upload with its reason, having removed the temporary file, unless that file is
// what was sent: the `cksum` line worked out here, or the size alone on a host without
// `cksum`. `__hv_n` holds the file's `cksum` line.
QString receivedWholeScript(const QByteArray& bytes)
{
    return QStringLiteral(
               "if command -v cksum >/dev/null 2>&1; then __hv_g=\"cksum $__hv_n\"; __hv_e=%1;"
               " else __hv_g=$(($(wc -c < \"$__hv_t\"))); __hv_g=\"$__hv_g octets\"; __hv_e=%2; fi\n"
               "if [ \"$__hv_g\" != \"$__hv_e\" ]; then rm -f \"$__hv_t\"; printf '%s\\n'"
               " \"shared.json : la copie reçue ($__hv_g) n'est pas celle envoyée ($__hv_e), rien n'est remplacé\" >&2;"
               " exit 1; fi\n")
        .arg(shellQuote(QStringLiteral("cksum ") + cksumLine(bytes)),
             shellQuote(QString::number(bytes.size()) + QStringLiteral(" octets")));
}

} // namespace

QString uploadSharedPrefsScript(const NameSet& favorites, const NameSet& hidden, const std::optional<QString>& expectedSum,
                                const QString& nonce)
{
    // The file's state in one word the expected one is compared with: its checksum, "none"
    // when there is nothing there, "other" for what is not a file (never expected, so such a
    // path is read again, as unreadable, and left as it is).
    //
    // The file is compared with the one the caller last read when the write starts, again
    // right before the rename (so the new content is written first and the gap is the rename
    // alone), and once more after it: a writer that renamed its own file in between makes
    // ours answer "changed", so that the caller reads the file again and puts its names on
    // top, rather than believe its write landed. The temporary file has a name of its own
    // run, so two writers never rename each other's half-written file, and is removed
    // whenever it is not renamed.
    //
    // A pipeline takes its status from the decoder, which reads whatever came, even nothing,
    // and exits 0: the temporary file is renamed only when it is whole.
    const QByteArray bytes = encodeSharedPrefs(favorites, hidden).toUtf8();
    return QStringLiteral(
               "f=~/.halvoren/shared.json; __hv_t=~/.halvoren/shared.json.tmp.$$; __hv_w=%1\n"
               "__hv_sum() { if [ -f \"$f\" ]; then cksum 2>/dev/null < \"$f\";"
               " elif [ -e \"$f\" ] || [ -L \"$f\" ]; then printf '%s\\n' other; else printf '%s\\n' none; fi; }\n"
               "__hv_changed() { rm -f \"$__hv_t\"; printf '%2\\n'\n%3}\n"
               "if [ \"$(__hv_sum)\" != \"$__hv_w\" ]; then __hv_changed; else\n"
               "mkdir -p ~/.halvoren && {\n%4} | base64 --decode > \"$__hv_t\" || { rm -f \"$__hv_t\"; exit 1; }\n"
               "__hv_n=$(cksum 2>/dev/null < \"$__hv_t\")\n"
               "%6"
               "if [ \"$(__hv_sum)\" != \"$__hv_w\" ]; then __hv_changed\n"
               "elif mv \"$__hv_t\" \"$f\"; then\n"
               "if [ \"$(__hv_sum)\" = \"$__hv_n\" ]; then printf '%5 %s\\n' \"$__hv_n\"; else __hv_changed; fi\n"
               "else rm -f \"$__hv_t\"; exit 1; fi\n"
               "fi\n")
        .arg(expectedSum ? shellQuote(*expectedSum) : QStringLiteral("none"), marked(sharedChangedMarker, nonce),
             sharedSectionScript(nonce), payloadLines(bytes), marked(sharedWrittenMarker, nonce), receivedWholeScript(bytes));
}

SharedWriteAnswer parseSharedWriteAnswer(const QString& output, const QString& nonce, HostKind host)
{
    SharedWriteAnswer answer;
    const QString changed = marked(sharedChangedMarker, nonce);
    if (const qsizetype at = findLine(output, changed); at >= 0) {
        answer.kind = SharedWriteAnswer::Kind::changed;
        QStringView rest = QStringView(output).sliced(at + changed.size());
        if (rest.startsWith(u'\n'))
            rest = rest.sliced(1);
        readSharedSection(rest, nonce, host, answer.found);
        return answer;
    }
    // The last such line: only our script prints it, once, after everything else it printed.
    const QString written = marked(sharedWrittenMarker, nonce) + u' ';
    for (qsizetype at = output.lastIndexOf(written); at >= 0; at = at > 0 ? output.lastIndexOf(written, at - 1) : -1) {
        if (at > 0 && output.at(at - 1) != u'\n')
            continue;
        const qsizetype end = output.indexOf(u'\n', at);
        answer.kind = SharedWriteAnswer::Kind::written;
        answer.sum = output.mid(at + written.size(), end < 0 ? -1 : end - at - written.size());
        break;
    }
    return answer;
}

} // namespace halvoren
