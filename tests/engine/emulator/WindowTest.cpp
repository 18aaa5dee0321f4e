// Window manipulation (XTWINOPS): requests passed to the host, size reports and their
// fallbacks, and the bounded title stacks.
#include "TerminalTestSupport.h"

namespace corvantix {
namespace {

using test::RecordingDelegate;
using Case_ = WindowManipulationCommand::Case;

struct Fixture : TerminalFixture {
    Fixture() : TerminalFixture(80, 24) {}
    void run(std::string_view bytes) { reply(bytes); }
};

std::string command(Case_ kind, int first = 0, int second = 0)
{
    return "windowCommand(" + std::to_string(static_cast<int>(kind)) + "," + std::to_string(first) + "," + std::to_string(second) + ")";
}

TEST(WindowTest, SizeReportsAnsweredByTheTerminalOrTheHost)
{
    struct Case { const char* bytes; std::optional<CellPixelSize> cellSize; std::string reply; Case_ asked; };
    const std::optional<CellPixelSize> none;
    const Case cases[] = {
        {"\x1b[14t", none, "\x1b[4;384;800t", Case_::reportTextAreaPixelDimension},
        {"\x1b[14;2t", none, "\x1b[4;384;800t", Case_::reportTerminalWindowPixelDimension},
        {"\x1b[15t", none, "\x1b[5;384;800t", Case_::reportSizeOfScreenInPixels},
        {"\x1b[16t", none, "\x1b[6;16;10t", Case_::reportCellSizeInPixels},
        {"\x1b[18t", none, "\x1b[8;24;80t", Case_::reportTextAreaCharacters},
        {"\x1b[19t", none, "\x1b[9;24;80t", Case_::reportScreenSizeCharacters},
        {"\x1b[14t", CellPixelSize{7, 15}, "\x1b[4;360;560t", Case_::reportTextAreaPixelDimension},
        {"\x1b[16t", CellPixelSize{7, 15}, "\x1b[6;15;7t", Case_::reportCellSizeInPixels},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.bytes + 1);
        Fixture f;
        f.delegate.cellSize = c.cellSize;
        f.run(c.bytes);
        EXPECT_EQ(f.delegate.sends, std::vector<std::string>{c.reply});
        EXPECT_EQ(f.delegate.count(command(c.asked)), 1);
        // A host answer is sent unchanged instead.
        f.delegate.windowCommandAnswer = std::vector<std::uint8_t>{'X', 'Y', 'Z'};
        EXPECT_EQ(f.reply(c.bytes), "XYZ");
    }
}

TEST(WindowTest, TitleReportsAreAlwaysEmptyAndTakeEightBitControls)
{
    Fixture f;
    f.run("\x1b]2;secret\x07\x1b]1;icon\x07");
    EXPECT_EQ(f.reply("\x1b[21t"), "\x1b]l\x1b\\");
    EXPECT_EQ(f.reply("\x1b[20t"), "\x1b]L\x1b\\");
    f.run("\x1b G");
    EXPECT_EQ(f.reply("\x1b[18t"), "\x9b" "8;24;80t");
    EXPECT_EQ(f.reply("\x1b[21t"), "\x9d" "l\x9c");
}

TEST(WindowTest, RequestsReachTheHost)
{
    struct Case { const char* bytes; std::string event; };
    const Case cases[] = {
        {"\x1b[1t", command(Case_::deiconifyWindow)},
        {"\x1b[3;10;20t", command(Case_::moveWindowTo, 10, 20)},
        {"\x1b[8;40;100t", command(Case_::resizeTerminal, 40, 100)},
        {"\x1b[8;10000;10000t", command(Case_::resizeTerminal, 200, 10000)},
        {"\x1b[8;65535;0t", command(Case_::resizeTerminal, 10000, 0)},
        {"\x1b[9;0t", command(Case_::restoreMaximizedWindow)},
        {"\x1b[9;3t", command(Case_::maximizeWindowHorizontally)},
        {"\x1b[10;2t", command(Case_::toggleFullScreen)},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.bytes + 1);
        Fixture f;
        // Whatever the host answers a request, nothing is sent to the program.
        f.delegate.windowCommandAnswer = std::vector<std::uint8_t>{'!'};
        f.run(c.bytes);
        EXPECT_EQ(f.delegate.events, (std::vector<std::string>{c.event}));
        EXPECT_EQ(f.delegate.sent, "");
    }
}

TEST(WindowTest, UnmatchedParameterListsDoNothing)
{
    for (const char* bytes : {"\x1b[9t", "\x1b[3;10t", "\x1b[14;1t", "\x1b[22;3t", "\x1b[23;0;1t", "\x1b[t"}) {
        SCOPED_TRACE(bytes + 1);
        Fixture f;
        feed(*f.terminal, "\x1b]2;kept\x07");
        f.run(bytes);
        EXPECT_TRUE(f.delegate.events.empty());
        EXPECT_TRUE(f.terminal->terminalTitleStack().empty());
    }
    // Without a delegate nothing is pushed either.
    auto terminal = makeTerminal(80, 24);
    feed(*terminal, "\x1b]2;title\x07\x1b[22;0t\x1b[18t");
    EXPECT_TRUE(terminal->terminalTitleStack().empty());
}

TEST(WindowTest, TitleStackPushAndPop)
{
    Fixture f;
    f.run("\x1b]2;old\x07\x1b]1;old icon\x07\x1b[22;2t\x1b]2;new\x07\x1b]1;new icon\x07");
    f.run("\x1b[23;2t");
    EXPECT_EQ(f.terminal->iconTitle(), "new icon"); // only the window title was pushed
    EXPECT_EQ(f.delegate.events, (std::vector<std::string>{"setTerminalTitle(old)"}));
    // Both: the window title is pushed and restored first.
    f.run("\x1b[22;0;0t\x1b]2;third\x07\x1b]1;third icon\x07");
    f.run("\x1b[23;0t");
    EXPECT_EQ(f.delegate.events, (std::vector<std::string>{"setTerminalTitle(old)", "setTerminalIconTitle(new icon)"}));
    // Popping empty stacks changes nothing and tells nobody.
    f.run("\x1b[23;0t\x1b[23;1t\x1b[23;2t");
    EXPECT_TRUE(f.delegate.events.empty());
    EXPECT_EQ(f.terminal->terminalTitle(), "old");
    // The stacks keep the newest ten entries.
    for (int i = 1; i <= 12; ++i) f.run("\x1b]0;t" + std::to_string(i) + "\x07\x1b[22;0t");
    EXPECT_EQ(f.terminal->terminalIconStack().size(), Terminal::maximumTitleStackDepth);
    std::string restored;
    for (int i = 0; i < 11; ++i) {
        f.run("\x1b[23;2t");
        restored += f.terminal->terminalTitle() + " ";
    }
    EXPECT_EQ(restored, "t12 t11 t10 t9 t8 t7 t6 t5 t4 t3 t3 ");
}

} // namespace
} // namespace corvantix
