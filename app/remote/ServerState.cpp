#include "remote/ServerState.h"

#include "remote/HostText.h"
#include "remote/SessionNaming.h"

#include <QHashFunctions>

#include <algorithm>
#include <array>
#include <vector>

namespace halvoren {

QString listingScript()
{
    // "-u": without a UTF-8 locale on the host, tmux writes the tabs between the fields as
    // "_" and every row would be unreadable.
    return QStringLiteral(
        "tmux -u list-sessions -F "
        "'#{session_name}\t#{@hv_open}\t#{@hv_order}\t#{@hv_name}\t#{@hv_path}\t#{@hv_parent}\t#{@hv_sync}'"
        " 2>/dev/null\n"
        "printf '\\n@@HV_SHARED@@\\n'\n"
        "f=~/.halvoren/shared.json\n"
        // Only a readable file is measured and printed: opening a pipe would wait for a writer.
        "if [ -f \"$f\" ] && [ -r \"$f\" ]; then"
        " if [ $(($(wc -c < \"$f\"))) -gt %1 ]; then printf '%2\\n'; else cat \"$f\" 2>/dev/null; fi\n"
        "elif [ -e \"$f\" ] || [ -L \"$f\" ]; then printf '%3\\n'; fi\n"
        "true\n")
        .arg(maximumSharedStateBytes)
        .arg(QLatin1String(sharedTooLargeMarker), QLatin1String(sharedUnreadableMarker));
}

QString hostNameTooLongMessage(qsizetype limit)
{
    return QStringLiteral("Le serveur liste des noms de plus de %1 octets : ils sont ignorés.").arg(limit);
}

QString hostPathTooLongMessage()
{
    return QStringLiteral("Le serveur liste des chemins de plus de %1 octets : ces onglets ne sont pas ouverts.")
        .arg(maximumHostPathBytes);
}

namespace {

QString sharedStateOwner(bool thisComputer)
{
    return thisComputer ? QStringLiteral("de cet ordinateur") : QStringLiteral("du serveur");
}

} // namespace

QString sharedStateTooLargeMessage(bool thisComputer)
{
    return QStringLiteral("Le fichier ~/.halvoren/shared.json %1 dépasse %2 Mo : il est ignoré.")
        .arg(sharedStateOwner(thisComputer))
        .arg(maximumSharedStateBytes >> 20);
}

QString sharedStateUnreadableMessage(bool thisComputer)
{
    return QStringLiteral("Le fichier ~/.halvoren/shared.json %1 est illisible : il est laissé tel quel.")
        .arg(sharedStateOwner(thisComputer));
}

QString hostSessionsCappedMessage(qsizetype dropped)
{
    return QStringLiteral("Le serveur liste plus de %1 sessions : %2 ne sont pas suivies ici.")
        .arg(maximumListedSessions)
        .arg(dropped);
}

namespace {

qsizetype utf8Length(QStringView text)
{
    // Counted without building the bytes: one to four a code point.
    qsizetype bytes = 0;
    for (qsizetype i = 0; i < text.size(); ++i) {
        const char16_t c = text.at(i).unicode();
        if (c < 0x80)
            bytes += 1;
        else if (c < 0x800)
            bytes += 2;
        else if (QChar::isHighSurrogate(c) && i + 1 < text.size() && QChar::isLowSurrogate(text.at(i + 1).unicode())) {
            bytes += 4;
            ++i;
        } else
            bytes += 3;
    }
    return bytes;
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
using RowFields = std::array<QStringView, rowFields>;

// The first seven tab-separated fields of a row; false when it has fewer.
bool splitRow(QStringView line, RowFields& fields)
{
    qsizetype start = 0;
    for (int index = 0; index < rowFields; ++index) {
        const qsizetype tab = line.indexOf(u'\t', start);
        if (tab < 0) {
            if (index < rowFields - 1)
                return false;
            fields[index] = line.sliced(start);
            return true;
        }
        fields[index] = line.sliced(start, tab - start);
        start = tab + 1;
    }
    return true;
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

// What follows the marker line: the shared-state file as stored, or the line the listing
// printed in its place. The size is the file's own, in bytes, as the script measures it.
void readSharedSection(QStringView content, ServerState& state)
{
    const QStringView alone = content.trimmed();
    if (alone == QLatin1String(sharedTooLargeMarker) || utf8Length(content) > maximumSharedStateBytes) {
        state.sharedTooLarge = true;
        note(state.problems, sharedStateTooLargeMessage());
        return;
    }
    // A missing or blank file holds no one's names: the caller writes its own.
    if (alone.isEmpty())
        return;
    // Anything else that is not our object may be someone's: it is left as it is.
    if (alone != QLatin1String(sharedUnreadableMarker))
        state.shared = parseSharedPrefs(alone);
    if (!state.shared) {
        state.sharedUnreadable = true;
        note(state.problems, sharedStateUnreadableMessage());
    }
}

// One row of the listing, as tmux printed it or joined back from its lines.
void readRow(QStringView line, ServerState& state, SessionBound& bound)
{
    RowFields fields;
    if (!splitRow(line, fields) || trimBlanks(fields[0]).isEmpty())
        return;
    if (utf8Length(fields[0]) > maximumHostSessionBytes) {
        note(state.problems, hostNameTooLongMessage(maximumHostSessionBytes));
        state.refusedSessions << refusedSessionKey(fields[0]);
        return;
    }
    if (fields[6] == u"1")
        state.synced = true;
    const bool kept = bound.isKept(fields[0]);
    if (fields[1] != u"1") {
        if (kept)
            state.sessions.insert(fields[0].toString());
        else
            bound.addClosed(fields[0]);
        return;
    }
    if (utf8Length(fields[4]) > maximumHostPathBytes) {
        note(state.problems, hostPathTooLongMessage());
        state.refusedSessions << refusedSessionKey(fields[0]);
        if (kept)
            state.sessions.insert(fields[0].toString());
        else
            bound.addClosed(fields[0]);
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
    const bool nameTooLong = utf8Length(fields[3]) > maximumHostTabNameBytes;
    if (nameTooLong)
        note(state.problems, hostNameTooLongMessage(maximumHostTabNameBytes));
    tab.name = fields[3].isEmpty() || nameTooLong ? tab.session : fields[3].toString();
    tab.path = fields[4].toString();
    if (!fields[5].isEmpty() && utf8Length(fields[5]) <= maximumHostSessionBytes)
        tab.parent = fields[5].toString();
    if (kept) {
        state.sessions.insert(tab.session);
        state.open << std::move(tab);
    } else {
        bound.addOpen(std::move(tab));
    }
}

} // namespace

ServerState parseServerState(const QString& output, const QStringList& keep)
{
    const QString marker = QLatin1String(sharedMarker);
    const qsizetype markerAt = output.indexOf(marker);
    const QStringView head = markerAt >= 0 ? QStringView(output).left(markerAt) : QStringView(output);
    QString tail;
    if (markerAt >= 0) {
        const qsizetype tailStart = markerAt + marker.size();
        const qsizetype next = output.indexOf(marker, tailStart);
        tail = output.mid(tailStart, next >= 0 ? next - tailStart : -1);
    }

    ServerState state;
    SessionBound bound(keep);
    // Rows are read in place; only a row split by a line feed in a value is copied, to be
    // joined back.
    LineReader lines(head);
    QString joined;
    std::optional<QStringView> pending;
    qsizetype pendingTabs = 0;
    // The tabs are counted once a line: a host printing millions of lines without one must
    // not make this quadratic.
    const auto advance = [&] {
        pending = lines.next();
        pendingTabs = pending ? pending->count(u'\t') : 0;
    };
    // A value written with a line feed (by a client that did not clean it) splits its row: a
    // row short of fields takes the next lines until it has them, unless the next line is a
    // whole row of its own.
    const auto continuesRow = [&](qsizetype tabs) {
        return tabs < rowFields - 1 && pending && pendingTabs < rowFields - 1 && tabs + pendingTabs <= rowFields - 1;
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
        readRow(line, state, bound);
    }
    if (const qsizetype dropped = bound.finish(state); dropped > 0)
        note(state.problems, hostSessionsCappedMessage(dropped));
    std::stable_sort(state.open.begin(), state.open.end(), hostOrderLess);
    std::sort(state.refusedSessions.begin(), state.refusedSessions.end());
    state.refusedSessions.erase(std::unique(state.refusedSessions.begin(), state.refusedSessions.end()),
                                state.refusedSessions.end());
    // The marker's own line feed is not the file's.
    QStringView content(tail);
    if (content.startsWith(u'\n'))
        content = content.sliced(1);
    readSharedSection(content, state);
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

std::optional<ServerState> parseListingOutput(const QString& output, const QStringList& keep)
{
    if (!output.contains(QLatin1String(sharedMarker)))
        return std::nullopt;
    return parseServerState(output, keep);
}

} // namespace halvoren
