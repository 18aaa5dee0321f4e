// The sessions of a server's shared connection: the tabs' budget under each limit, the limit
// learnt from a refusal, the tabs asked to move off, and ssh's refusal read from its lines.
#include "remote/SharedSessions.h"

#include <gtest/gtest.h>

#include <memory>
#include <vector>

namespace halvoren {
namespace {

TEST(SharedSessions, TabsLeaveRoomForCommandsUnderEveryLimit)
{
    const struct { int limit, room, tabs; } cases[] = {
        {10, 4, 6}, {8, 4, 4}, {6, 3, 3}, {4, 2, 2}, {3, 1, 2}, {2, 1, 1}, {1, 1, 0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.limit);
        EXPECT_EQ(SharedSessions::roomForCommands(c.limit), c.room);
        EXPECT_EQ(SharedSessions::tabBudget(c.limit), c.tabs);
    }
    EXPECT_EQ(SharedSessions().limit(), 10);
}

// A refused command: the sessions the tabs and the other commands held are the limit, at
// least one, and the limit never grows again.
TEST(SharedSessions, ARefusedCommandTeachesTheSessionsInUse)
{
    const struct { int learntBefore, tabs, commands, limit; } cases[] = {
        {10, 6, 1, 6},  // the tabs alone took every session
        {10, 2, 3, 4},  // two other commands ran beside the tabs
        {10, 0, 1, 1},  // nothing else held one: the server gives at least one
        {3, 5, 1, 3},   // never raised
        {10, 12, 1, 10},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::Message() << c.tabs << " tabs, " << c.commands << " commands");
        auto book = std::make_shared<SharedSessions>();
        book->learnLimit(c.learntBefore);
        std::vector<std::unique_ptr<SharedSessions::TabPlace>> tabs;
        for (int k = 0; k < c.tabs; ++k)
            tabs.push_back(book->takeTabPlace(false));
        std::vector<std::unique_ptr<SharedSessions::CommandRun>> commands;
        for (int k = 0; k < c.commands; ++k)
            commands.push_back(std::make_unique<SharedSessions::CommandRun>(book));
        commands.back()->refused();
        EXPECT_EQ(book->limit(), c.limit);
    }
}

// ssh tells of a refusal a moment after it: sessions given back meanwhile still count, the
// most the others held since the command or the tab began.
TEST(SharedSessions, ARefusalCountsTheSessionsGivenBackBeforeItWasTold)
{
    auto book = std::make_shared<SharedSessions>();
    std::vector<std::unique_ptr<SharedSessions::TabPlace>> tabs;
    for (int k = 0; k < 5; ++k)
        tabs.push_back(book->takeTabPlace(false));
    SharedSessions::CommandRun command(book);
    tabs.resize(3);
    SharedSessions::CommandRun later(book);
    command.refused();
    EXPECT_EQ(book->limit(), 5);
    EXPECT_EQ(book->commandsInFlight(), 2);

    // Two tabs ride; a third is placed, two more after it, which are moved off (their places
    // given back) before the third's refusal is told.
    auto other = std::make_shared<SharedSessions>();
    std::vector<std::unique_ptr<SharedSessions::TabPlace>> riding;
    for (int k = 0; k < 5; ++k)
        riding.push_back(other->takeTabPlace(true));
    riding.resize(3);
    riding.at(2)->refused();
    EXPECT_EQ(other->limit(), 4);
}

TEST(SharedSessions, TabsRideTheLiveMasterUpToTheirBudgetAndAlwaysANewOne)
{
    auto book = std::make_shared<SharedSessions>();
    std::vector<std::unique_ptr<SharedSessions::TabPlace>> tabs;
    for (int k = 0; k < 6; ++k) {
        tabs.push_back(book->takeTabPlace(true));
        ASSERT_NE(tabs.back(), nullptr) << k;
    }
    EXPECT_EQ(book->takeTabPlace(true), nullptr);
    // A master that is not live may become this tab's own: it rides what it makes.
    auto maker = book->takeTabPlace(false);
    EXPECT_NE(maker, nullptr);
    EXPECT_EQ(book->tabSessions(), 7);
    maker.reset();
    tabs.pop_back();
    EXPECT_EQ(book->tabSessions(), 5);
    EXPECT_NE(book->takeTabPlace(true), nullptr);
}

// A tab refused by the master: the others' sessions are the limit, its own is no longer
// counted, and the newest other tabs beyond the new budget are asked to move off; one that
// would lose its shell stays, and the next one is asked in its place.
TEST(SharedSessions, ALowerLimitMovesTheNewestTabsOff)
{
    auto book = std::make_shared<SharedSessions>();
    std::vector<std::unique_ptr<SharedSessions::TabPlace>> tabs;
    std::vector<int> asked;
    for (int k = 0; k < 7; ++k) {
        tabs.push_back(book->takeTabPlace(true));
        if (tabs.back() == nullptr) {
            tabs.back() = book->takeTabPlace(false);
        }
        tabs.back()->setMoveOff([&asked, k] {
            asked.push_back(k);
            return k != 4;
        });
    }
    tabs.back()->refused();
    // 6 sessions: 3 for the commands, 3 for the tabs. Tab 4 keeps its shell.
    EXPECT_EQ(book->limit(), 6);
    EXPECT_EQ(asked, (std::vector<int>{5, 4, 3, 2}));
    // Those leaving still hold their sessions until their ssh ends, and are not asked again.
    EXPECT_EQ(book->tabSessions(), 6);
    asked.clear();
    book->learnLimit(4);
    EXPECT_EQ(asked, (std::vector<int>{4, 1}));
    asked.clear();
    book->learnLimit(4);
    EXPECT_TRUE(asked.empty());
    for (const int gone : {5, 3, 2, 1})
        tabs.at(size_t(gone)).reset();
    EXPECT_EQ(book->tabSessions(), 2);
    EXPECT_EQ(book->takeTabPlace(true), nullptr);
}

TEST(SharedSessions, ATabThatGivesItsPlaceBackWhileAskedCountsAsGone)
{
    auto book = std::make_shared<SharedSessions>();
    std::vector<std::unique_ptr<SharedSessions::TabPlace>> tabs;
    for (int k = 0; k < 3; ++k)
        tabs.push_back(book->takeTabPlace(true));
    int asked = 0;
    tabs.at(2)->setMoveOff([&] {
        ++asked;
        tabs.at(2).reset();
        return true;
    });
    tabs.at(1)->setMoveOff([&] {
        ++asked;
        return true;
    });
    book->learnLimit(3);
    EXPECT_EQ(asked, 1);
    EXPECT_EQ(book->tabSessions(), 2);
    // ssh went on without the master (another ssh made it first): no session there, nothing learnt.
    tabs.at(1)->bypassed();
    EXPECT_EQ(book->tabSessions(), 1);
    EXPECT_EQ(book->limit(), 3);
}

// ssh's refusal is its one whole line, as the client prints it for a session the master
// refused (the text below is OpenSSH's, checked against a server giving one session); a login
// file, a command or an echoed command line may hold the same words and teaches nothing.
TEST(SharedSessions, SshsOwnLinesTellARefusalAndAConnectionOfItsOwn)
{
    const QString refusal = QStringLiteral("mux_client_request_session: session request failed: Session open refused by peer");
    const QString bypass = QStringLiteral("ControlSocket /home/a/.halvoren/cm/c0123 already exists, disabling multiplexing");
    const struct { QString text; bool complete, refused, bypassed, settled; } cases[] = {
        {refusal + u'\n' + bypass + QStringLiteral("\nhvtest@127.0.0.1: Permission denied (publickey,password).\n"), true, true, true, true},
        {refusal + u'\n' + bypass + QStringLiteral("\nerr\n"), true, true, true, true},
        {refusal + QStringLiteral("\r\n") + bypass + QStringLiteral("\r\n"), true, true, true, true},
        {refusal, true, true, false, true},
        {QStringLiteral("hvtest@127.0.0.1: Permission denied (publickey).\n"), true, false, false, true},
        {QString(), true, false, false, true},
        // ssh's verbose lines and its note of a new host key come first.
        {QStringLiteral("OpenSSH_9.2p1, OpenSSL 3.0\ndebug1: Reading configuration data\n") + refusal + u'\n', true, true, false, true},
        {QStringLiteral("Warning: Permanently added '[127.0.0.1]:2222' (ED25519) to the list of known hosts.\r\n") + refusal
             + QStringLiteral("\r\n"),
         false, true, false, false},
        // The same words in a line that is not ssh's: the reason alone, a note on it, an
        // echoed command, the line with more around it.
        {QStringLiteral("Session open refused by peer\n") + refusal + u'\n', true, false, false, true},
        {QStringLiteral("Note : « Session open refused by peer » veut dire MaxSessions atteint\r\n"), false, false, false, true},
        {QStringLiteral("grep 'Session open refused by peer' ~/log\r\n"), false, false, false, true},
        {QStringLiteral("$ ") + refusal + QStringLiteral("\r\n"), false, false, false, true},
        {u' ' + refusal + u'\n', true, false, false, true},
        {refusal + QStringLiteral(" (MaxSessions)\n"), true, false, false, true},
        {QStringLiteral("echo ") + bypass + u'\n', true, false, false, true},
        {bypass + QStringLiteral(" now\n"), true, false, false, true},
        // The session's own output, once it comes, is no longer ssh's.
        {QStringLiteral("Welcome\n") + refusal + u'\n', true, false, false, true},
        {QStringLiteral("bash: tmux: command not found\r\n") + refusal + QStringLiteral("\r\n"), false, false, false, true},
        {QStringLiteral("Welcome\n") + bypass + u'\n', true, false, false, true},
        {bypass + QStringLiteral("\r\nhvtest@127.0.0.1's password: "), false, false, true, false},
        // An unfinished line may still become ssh's, or not.
        {QStringLiteral("mux_client_request_sess"), false, false, false, false},
        {refusal, false, false, false, false},
        {QStringLiteral("\x1b[?1049h"), false, false, false, false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.text.toStdString());
        const SharedConnectionNote note = sharedConnectionNote(c.text, c.complete);
        EXPECT_EQ(note.refused, c.refused);
        EXPECT_EQ(note.bypassed, c.bypassed);
        EXPECT_EQ(note.settled, c.settled);
    }
}

// A failed command's message: ssh's leading lines about the master go, the command's own
// lines stay whole, whatever they say.
TEST(SharedSessions, AMessageLosesOnlySshsLeadingLinesAboutTheMaster)
{
    const QString refusal = QStringLiteral("mux_client_request_session: session request failed: Session open refused by peer");
    const QString bypass = QStringLiteral("ControlSocket /home/a/.halvoren/cm/c0123 already exists, disabling multiplexing");
    const struct { QString text, kept; } cases[] = {
        {refusal + u'\n' + bypass + QStringLiteral("\nbroken\n"), QStringLiteral("broken\n")},
        {refusal + QStringLiteral("\r\nWarning: Permanently added 'h' (ED25519) to the list of known hosts.\r\nPermission denied\r\n"),
         QStringLiteral("Warning: Permanently added 'h' (ED25519) to the list of known hosts.\r\nPermission denied\r\n")},
        {QStringLiteral("broken\n") + refusal + u'\n' + bypass, QStringLiteral("broken\n") + refusal + u'\n' + bypass},
        {QStringLiteral("Session open refused by peer\n"), QStringLiteral("Session open refused by peer\n")},
        {QString(), QString()},
    };
    for (const auto& c : cases)
        EXPECT_EQ(withoutSharedConnectionLines(c.text), c.kept) << c.text.toStdString();
}

} // namespace
} // namespace halvoren
