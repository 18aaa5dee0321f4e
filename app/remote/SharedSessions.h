// The sessions riding one server's shared (master) connection, and how many may.
//
// sshd gives one connection a limited number of sessions (MaxSessions, 10 unless the server
// says otherwise). A tab's interactive ssh over the master holds one for as long as it runs;
// a one-shot command holds one while it runs. Once they are all taken the master refuses the
// next session, and ssh logs in afresh instead: a one-shot command does so in batch mode,
// which fails on a server that takes only passwords, and a tab's ssh asks for a password the
// tab did not expect to type. So tabs ride the master only up to a budget that leaves room
// for the commands; later tabs log in on their own connection. The limit is assumed to be
// sshd's default until a refusal shows it lower; it is never raised again.
//
// Main thread only, no lock: the link, its tabs and its commands all live there.
#pragma once

#include <QString>

#include <cstdint>
#include <functional>
#include <memory>
#include <vector>

namespace halvoren {

class SharedSessions : public std::enable_shared_from_this<SharedSessions> {
public:
    // sshd's own default for MaxSessions: what a server that never refused us gives.
    static constexpr int assumedLimit = 10;
    // Room kept for one-shot commands: the listing, the git probe, a shared-state write and an
    // upload may all run at once, so up to four; on a server with few sessions, half of them,
    // and always one, or no command could ever run while the tabs are open.
    static constexpr int mostRoomForCommands = 4;
    static int roomForCommands(int limit);
    // The sessions tabs may hold on the master under `limit`: what the commands' room leaves.
    static int tabBudget(int limit);

    // A tab's session on the master, given back when the place goes. The bookkeeping may ask
    // the tab to move off (moveOff), when it learns that fewer sessions fit than it thought.
    class TabPlace {
    public:
        ~TabPlace();
        TabPlace(const TabPlace&) = delete;
        TabPlace& operator=(const TabPlace&) = delete;
        // Asked to restart the tab's ssh on a connection of its own; answers whether it will
        // (a tab whose shell would be lost stays).
        void setMoveOff(std::function<bool()> moveOff);
        // The master refused the tab's session: the most sessions the others held since the
        // place was taken are the limit (ssh says so a moment after the refusal, when some may
        // have been given back). The place no longer counts.
        void refused();
        // ssh went on without the master (another ssh made it first): the place no longer
        // counts, and nothing is learnt.
        void bypassed();

    private:
        friend class SharedSessions;
        TabPlace(std::shared_ptr<SharedSessions> book, std::uint64_t id) : book(std::move(book)), id(id) {}
        std::shared_ptr<SharedSessions> book;
        std::uint64_t id;
    };

    // A one-shot command on the master, from the start of its ssh to its end.
    class CommandRun {
    public:
        explicit CommandRun(std::shared_ptr<SharedSessions> book);
        ~CommandRun();
        CommandRun(const CommandRun&) = delete;
        CommandRun& operator=(const CommandRun&) = delete;
        // The master refused this command's session: the most sessions the others held while
        // it ran are the limit.
        void refused();

    private:
        std::shared_ptr<SharedSessions> book;
        std::uint64_t id;
    };

    int limit() const { return limitValue; }
    // Sessions of tabs on the master, those asked to move off and not gone yet included.
    int tabSessions() const { return int(places.size()); }
    int commandsInFlight() const { return commands; }

    // A place on the master for a tab's ssh: always when the master is not live (that ssh may
    // become it), otherwise while the tabs' budget has room. Nothing when the tab must go on
    // its own connection.
    std::unique_ptr<TabPlace> takeTabPlace(bool masterLive);

    // The limit becomes `inUse` (at least one) when that is lower; tabs beyond the budget
    // then are asked to move off, the most recently placed first.
    void learnLimit(int inUse);

private:
    struct Place {
        std::uint64_t id;
        bool leaving = false;
        std::function<bool()> moveOff;
    };
    // The most sessions in use (tabs' and commands') since a place or a command began, its
    // own included.
    struct Peak {
        std::uint64_t id;
        int inUse;
    };
    Place* find(std::uint64_t id);
    void release(std::uint64_t id);
    void moveExcessTabs();
    std::uint64_t watchPeak();
    void notePeaks();
    // The most sessions others held since `id` began; its peak is dropped.
    int takeOthersPeak(std::uint64_t id);

    int limitValue = assumedLimit;
    int commands = 0;
    std::uint64_t lastId = 0;
    // In the order they were taken.
    std::vector<Place> places;
    std::vector<Peak> peaks;
};

// What ssh said of the shared connection in the lines it printed before anything else (its
// standard error, or the first output of a tab): whether the master refused the session, and
// whether ssh then went on without it. Only ssh's own lines count, whole and in its own words:
// once a line of anything else comes, what follows is the session's, not ssh's.
// `complete`: the text is all there will be; otherwise an unfinished last line is left for
// later, and `settled` tells whether more text could still change the answer.
struct SharedConnectionNote {
    bool refused = false;
    bool bypassed = false;
    bool settled = false;
};
SharedConnectionNote sharedConnectionNote(const QString& text, bool complete = true);

// `text` without ssh's leading lines about the shared connection (its refusal, its going on
// without it); the rest, the command's own, stays whole.
QString withoutSharedConnectionLines(const QString& text);

// The message of a command the master refused a session until its time-out.
QString sharedConnectionRefusedMessage();

} // namespace halvoren
