#include "remote/SharedSessions.h"

#include <QStringList>

#include <algorithm>

namespace halvoren {

int SharedSessions::roomForCommands(int limit)
{
    return std::clamp(limit / 2, 1, mostRoomForCommands);
}

int SharedSessions::tabBudget(int limit)
{
    return std::max(0, limit - roomForCommands(limit));
}

SharedSessions::TabPlace::~TabPlace()
{
    book->release(id);
}

void SharedSessions::TabPlace::setMoveOff(std::function<bool()> moveOff)
{
    if (Place* place = book->find(id))
        place->moveOff = std::move(moveOff);
}

void SharedSessions::TabPlace::refused()
{
    if (book->find(id) == nullptr)
        return;
    const int others = book->takeOthersPeak(id);
    book->release(id);
    book->learnLimit(others);
}

void SharedSessions::TabPlace::bypassed()
{
    book->release(id);
}

SharedSessions::CommandRun::CommandRun(std::shared_ptr<SharedSessions> sessions) : book(std::move(sessions))
{
    ++book->commands;
    id = book->watchPeak();
}

SharedSessions::CommandRun::~CommandRun()
{
    --book->commands;
    book->takeOthersPeak(id);
}

void SharedSessions::CommandRun::refused()
{
    book->learnLimit(book->takeOthersPeak(id));
}

std::unique_ptr<SharedSessions::TabPlace> SharedSessions::takeTabPlace(bool masterLive)
{
    if (masterLive && tabSessions() >= tabBudget(limitValue))
        return nullptr;
    places.push_back(Place{++lastId, false, {}});
    const std::uint64_t id = lastId;
    peaks.push_back(Peak{id, 0});
    notePeaks();
    return std::unique_ptr<TabPlace>(new TabPlace(shared_from_this(), id));
}

std::uint64_t SharedSessions::watchPeak()
{
    peaks.push_back(Peak{++lastId, 0});
    notePeaks();
    return lastId;
}

void SharedSessions::notePeaks()
{
    const int inUse = tabSessions() + commands;
    for (Peak& peak : peaks)
        peak.inUse = std::max(peak.inUse, inUse);
}

int SharedSessions::takeOthersPeak(std::uint64_t id)
{
    const auto found = std::find_if(peaks.begin(), peaks.end(), [id](const Peak& peak) { return peak.id == id; });
    if (found == peaks.end())
        return 0;
    const int others = found->inUse - 1;
    peaks.erase(found);
    return others;
}

void SharedSessions::learnLimit(int inUse)
{
    limitValue = std::min(limitValue, std::max(1, inUse));
    moveExcessTabs();
}

SharedSessions::Place* SharedSessions::find(std::uint64_t id)
{
    const auto found = std::find_if(places.begin(), places.end(), [id](const Place& place) { return place.id == id; });
    return found == places.end() ? nullptr : &*found;
}

void SharedSessions::release(std::uint64_t id)
{
    std::erase_if(places, [id](const Place& place) { return place.id == id; });
    std::erase_if(peaks, [id](const Peak& peak) { return peak.id == id; });
}

void SharedSessions::moveExcessTabs()
{
    // Tabs already leaving count as gone; the newest others go first, so the tabs the user
    // has had longest keep the shared connection.
    std::vector<std::uint64_t> newestFirst;
    int leaving = 0;
    for (auto place = places.rbegin(); place != places.rend(); ++place) {
        if (place->leaving)
            ++leaving;
        else
            newestFirst.push_back(place->id);
    }
    int excess = tabSessions() - leaving - tabBudget(limitValue);
    for (const std::uint64_t id : newestFirst) {
        if (excess <= 0)
            return;
        Place* place = find(id);
        if (place == nullptr || !place->moveOff)
            continue;
        // Marked first: the tab may give its place back before the call returns.
        place->leaving = true;
        const std::function<bool()> moveOff = place->moveOff;
        if (moveOff()) {
            --excess;
        } else if (Place* staying = find(id)) {
            staying->leaving = false;
        }
    }
}

namespace {

// ssh's lines about the master, each whole and in ssh's own words: the client's report that
// the master refused it a session, and its note that it went on without the master. A login
// file, a command or a user may print the same words inside a line of its own; only the line
// as ssh prints it counts (and only among ssh's leading lines, see sharedConnectionNote).
constexpr QLatin1StringView refusalLine("mux_client_request_session: session request failed: Session open refused by peer");

bool isRefusalLine(const QString& line)
{
    return line == refusalLine;
}

bool isBypassLine(const QString& line)
{
    return line.startsWith(QLatin1String("ControlSocket ")) && line.endsWith(QLatin1String(" already exists, disabling multiplexing"));
}

// Other lines ssh may print before a session's own output: its verbose log, and the note of a
// host key it learnt.
bool isOtherSshLine(const QString& line)
{
    return line.isEmpty() || line.startsWith(QLatin1String("debug1: ")) || line.startsWith(QLatin1String("debug2: "))
        || line.startsWith(QLatin1String("debug3: ")) || line.startsWith(QLatin1String("OpenSSH_"))
        || line.startsWith(QLatin1String("Warning: Permanently added "));
}

QString withoutLineEnd(QString line)
{
    while (line.endsWith(u'\r'))
        line.chop(1);
    return line;
}

} // namespace

SharedConnectionNote sharedConnectionNote(const QString& text, bool complete)
{
    SharedConnectionNote note;
    QStringList lines = text.split(u'\n');
    // An unfinished line may still become one of ssh's.
    if (!complete)
        lines.removeLast();
    for (const QString& piece : std::as_const(lines)) {
        const QString line = withoutLineEnd(piece);
        if (isRefusalLine(line)) {
            note.refused = true;
        } else if (isBypassLine(line)) {
            note.bypassed = true;
        } else if (!isOtherSshLine(line)) {
            note.settled = true;
            return note;
        }
    }
    note.settled = complete;
    return note;
}

QString withoutSharedConnectionLines(const QString& text)
{
    // Only ssh's leading lines are its own: from the first other line on, the text is the
    // command's, kept whole.
    const QStringList lines = text.split(u'\n');
    QStringList kept;
    qsizetype next = 0;
    for (; next < lines.size(); ++next) {
        const QString line = withoutLineEnd(lines.at(next));
        if (isRefusalLine(line) || isBypassLine(line))
            continue;
        if (!isOtherSshLine(line))
            break;
        kept << lines.at(next);
    }
    kept << lines.mid(next);
    return kept.join(u'\n');
}

QString sharedConnectionRefusedMessage()
{
    return QStringLiteral("Connexion partagée au serveur saturée : toutes ses sessions (MaxSessions) sont prises, "
                          "réessayez dans un moment.");
}

} // namespace halvoren
