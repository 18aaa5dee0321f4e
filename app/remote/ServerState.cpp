#include "remote/ServerState.h"

#include "remote/HostText.h"

#include <QHashFunctions>

#include <algorithm>

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
        "if [ -f \"$f\" ] && [ $(($(wc -c < \"$f\"))) -gt %1 ]; then printf '%2\\n'; else cat \"$f\" 2>/dev/null; fi\n"
        "true\n")
        .arg(maximumSharedStateBytes)
        .arg(QLatin1String(sharedTooLargeMarker));
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

QString sharedStateTooLargeMessage()
{
    return QStringLiteral("Le fichier ~/.halvoren/shared.json du serveur dépasse %1 Mo : il est ignoré.")
        .arg(maximumSharedStateBytes >> 20);
}

namespace {

qsizetype utf8Length(const QString& text)
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

} // namespace

ServerState parseServerState(const QString& output)
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
    // Lines are read one at a time, as splitLines cuts them: a listing of millions of short
    // lines must not become millions of strings at once.
    qsizetype at = 0;
    const QStringView rows(head);
    const auto nextLine = [&rows, &at]() -> std::optional<QStringView> {
        while (at < rows.size()) {
            qsizetype end = at;
            while (end < rows.size() && rows.at(end) != u'\n' && rows.at(end) != u'\r')
                ++end;
            const qsizetype start = at;
            at = end + 1;
            if (end + 1 < rows.size() && rows.at(end) == u'\r' && rows.at(end + 1) == u'\n')
                ++at;
            if (end > start)
                return rows.mid(start, end - start);
        }
        return std::nullopt;
    };
    std::optional<QStringView> pending = nextLine();
    while (pending) {
        QString line = pending->toString();
        pending = nextLine();
        // A value written with a line break (by a client that did not clean it) splits its
        // row: a row short of fields takes the next lines until it has them, unless the next
        // line is a whole row of its own. The tabs are counted once a line: a host printing
        // millions of lines without one must not make this quadratic.
        qsizetype tabs = line.count(u'\t');
        while (tabs < 6 && pending) {
            const qsizetype nextTabs = pending->count(u'\t');
            if (nextTabs >= 6 || tabs + nextTabs > 6)
                break;
            line += u'\n';
            line += *pending;
            tabs += nextTabs;
            pending = nextLine();
        }
        const QStringList fields = line.split(u'\t');
        if (fields.size() < 7 || trimBlanks(fields.at(0)).isEmpty())
            continue;
        if (utf8Length(fields.at(0)) > maximumHostSessionBytes) {
            note(state.problems, hostNameTooLongMessage(maximumHostSessionBytes));
            state.refusedSessions << refusedSessionKey(fields.at(0));
            continue;
        }
        state.sessions.insert(fields.at(0));
        if (fields.at(6) == QLatin1String("1"))
            state.synced = true;
        if (fields.at(1) != QLatin1String("1"))
            continue;
        HostTab tab;
        tab.session = fields.at(0);
        tab.order = parseStrictInteger(fields.at(2)).value_or(unsetHostOrder);
        if (utf8Length(fields.at(4)) > maximumHostPathBytes) {
            note(state.problems, hostPathTooLongMessage());
            state.refusedSessions << refusedSessionKey(fields.at(0));
            continue;
        }
        const bool nameTooLong = utf8Length(fields.at(3)) > maximumHostTabNameBytes;
        if (nameTooLong)
            note(state.problems, hostNameTooLongMessage(maximumHostTabNameBytes));
        tab.name = fields.at(3).isEmpty() || nameTooLong ? fields.at(0) : fields.at(3);
        tab.path = fields.at(4);
        if (!fields.at(5).isEmpty() && utf8Length(fields.at(5)) <= maximumHostSessionBytes)
            tab.parent = fields.at(5);
        state.open << std::move(tab);
    }
    std::stable_sort(state.open.begin(), state.open.end(), [](const HostTab& a, const HostTab& b) {
        if (a.order != b.order)
            return a.order < b.order;
        return codePointLess(a.session, b.session);
    });
    std::sort(state.refusedSessions.begin(), state.refusedSessions.end());
    state.refusedSessions.erase(std::unique(state.refusedSessions.begin(), state.refusedSessions.end()),
                                state.refusedSessions.end());
    // The marker stands alone in place of the file: a file that merely holds its text (a
    // project of that name) is read as any other.
    if (QStringView(tail).trimmed() == QLatin1String(sharedTooLargeMarker) || tail.size() > maximumSharedStateBytes) {
        state.sharedTooLarge = true;
        note(state.problems, sharedStateTooLargeMessage());
        return state;
    }
    bool longNames = false;
    state.shared = parseSharedPrefs(tail, maximumHostNameBytes, &longNames);
    if (longNames)
        note(state.problems, hostNameTooLongMessage());
    return state;
}

quint64 refusedSessionKey(const QString& session)
{
    return qHash(session, 0);
}

bool isRefusedSession(const ServerState& state, const QString& session)
{
    return std::binary_search(state.refusedSessions.cbegin(), state.refusedSessions.cend(), refusedSessionKey(session));
}

std::optional<ServerState> parseListingOutput(const QString& output)
{
    if (!output.contains(QLatin1String(sharedMarker)))
        return std::nullopt;
    return parseServerState(output);
}

} // namespace halvoren
