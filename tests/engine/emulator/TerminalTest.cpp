#include "emulator/SelectionService.h"
#include "model/TinyAtom.h"
#include "TerminalTestSupport.h"

namespace corvantix {
namespace {

using test::RecordingDelegate;

TEST(TerminalInstance, ResizeToTheSameSizeChangesNothing)
{
    TerminalFixture f(20, 5);
    Terminal& terminal = *f.terminal;
    feed(terminal, "\x1b[?2026h");
    terminal.clearUpdateRange();
    f.delegate.clear();
    terminal.resize(20, 5);
    EXPECT_TRUE(terminal.synchronizedOutputActive());
    EXPECT_FALSE(terminal.getUpdateRange().has_value());
    EXPECT_TRUE(f.delegate.events.empty());
    terminal.resize(30, 8);
    EXPECT_EQ(terminal.getUpdateRange(), (UpdateRange{0, 7})) << "the first and last rows";
}

// The view scrolls back through the terminal: older lines are shown, none is moved, and
// every row is redrawn, on the screen and in line numbers from the new top.
TEST(TerminalInstance, ScrollDisplayToShowsOlderLinesAndMarksEveryRow)
{
    auto terminal = makeTerminal(10, 3);
    feed(*terminal, "a\r\nb\r\nc\r\nd\r\ne");
    ASSERT_EQ(terminal->buffer().yDisp(), 2);
    terminal->clearUpdateRange();

    terminal->scrollDisplayTo(1);
    EXPECT_EQ(terminal->buffer().yDisp(), 1);
    EXPECT_EQ(terminal->buffer().yBase(), 2) << "the screen itself stays";
    EXPECT_EQ(terminal->lineDisplayText(*terminal->getDisplayLine(0)), "b");
    EXPECT_EQ(screenLine(*terminal, 0), "c");
    EXPECT_EQ(terminal->getUpdateRange(), (UpdateRange{0, 3}));
    EXPECT_EQ(terminal->getScrollInvariantUpdateRange(), (UpdateRange{1, 4}));
}

TEST(TerminalInstance, FullResetKeepsTitlesPaletteAndVisibilityAndHomesTheCursor)
{
    TerminalFixture f(20, 6);
    Terminal& terminal = *f.terminal;
    feed(terminal, "\x1b]2;older\x07\x1b[22;0t\x1b]2;title\x07\x1b]1;icon\x07\x1b]4;1;#010203\x07");
    feed(terminal, "\x1b[?25l\x1b[?1004h\x1b[?1003;1006h\x1b G\x1b[?6h\x1b[1m\x1b[5;8H");
    const Color paletteEntry = terminal.ansiColors()[1];
    const Buffer* oldNormal = &terminal.normalBuffer();
    f.delegate.clear();
    feed(terminal, "\x1b" "c");
    EXPECT_EQ(terminal.terminalTitle(), "title");
    EXPECT_EQ(terminal.iconTitle(), "icon");
    EXPECT_EQ(terminal.terminalTitleStack(), std::vector<std::string>{"older"});
    EXPECT_EQ(terminal.ansiColors()[1], paletteEntry);
    EXPECT_TRUE(terminal.cursorHidden());
    EXPECT_EQ(terminal.mouseProtocol(), MouseProtocolEncoding::sgr);
    EXPECT_EQ(terminal.mouseMode(), MouseMode::off);
    EXPECT_FALSE(terminal.cc().send8bit);
    EXPECT_NE(&terminal.normalBuffer(), oldNormal) << "the normal screen is made anew";
    EXPECT_EQ(&terminal.buffer(), &terminal.normalBuffer());
    EXPECT_EQ(cursor(terminal), (CursorPosition{0, 0}));
    EXPECT_EQ(f.delegate.count("bufferActivated"), 1);
    EXPECT_EQ(terminal.getUpdateRange(), (UpdateRange{0, 6}));
}

TEST(TerminalInstance, FullResetOnTheAlternateScreenReturnsToAFreshNormalScreen)
{
    auto terminal = makeTerminal(20, 6);
    feed(*terminal, "N\x1b[?47h\x1b[3;4HA\x1b[6;10H\x1b" "c");
    EXPECT_FALSE(terminal->isCurrentBufferAlternate());
    EXPECT_EQ(terminal->normalBuffer().lines().count(), 6);
    EXPECT_EQ(screenLines(*terminal), std::vector<std::string>(6, "")) << "fresh and empty";
    EXPECT_EQ(terminal->altBuffer().lines()[2]->getCell(3).code, 'A') << "the alternate content stays";
    EXPECT_EQ(cursor(*terminal), (CursorPosition{0, 0}))
        << "a full reset homes the cursor instead of taking the alternate screen's";
}

TEST(TerminalInstance, PaletteStrategyAndBaseColours)
{
    RecordingDelegate host;
    Terminal terminal(&host);
    host.clear();
    terminal.setAnsi256PaletteStrategy(terminal.ansi256PaletteStrategy());
    EXPECT_TRUE(host.events.empty()) << "the same strategy rebuilds nothing";
    terminal.setAnsi256PaletteStrategy(Ansi256PaletteStrategy::xterm);
    EXPECT_EQ(host.events, std::vector<std::string>{"colorChanged(none)"});
    EXPECT_EQ(terminal.ansiColors(), Color::makeXterm256Palette(Color::defaultInstalledColors()));
    host.clear();
    std::vector<Color> base(16, Color(100, 100, 100));
    terminal.installColors(std::span<const Color>(base).first(15));
    EXPECT_EQ(terminal.installedColors(), Color::defaultInstalledColors()) << "not exactly 16: ignored";
    terminal.installColors(base);
    EXPECT_EQ(terminal.installedColors(), base);
    EXPECT_EQ(terminal.ansiColors()[3], Color(100, 100, 100));
    EXPECT_TRUE(host.events.empty()) << "installing base colours rebuilds without notifying";
}

std::shared_ptr<SelectionService> activeSelection(Terminal& terminal, Position start, Position end)
{
    auto selection = std::make_shared<SelectionService>(&terminal);
    selection->active_ = true;
    selection->hasSelectionRange = true;
    selection->start = start;
    selection->end = end;
    selection->wordSelectionAnchor = SelectionService::WordRange{start, end};
    terminal.registerSelection(selection);
    return selection;
}

TEST(TerminalInstance, ClearingARectangleClearsOnlyOverlappingSelections)
{
    RecordingDelegate host;
    Terminal terminal(&host);
    auto sameRowOverlap = activeSelection(terminal, {8, 2}, {4, 2}); // given backwards
    auto sameRowBeside = activeSelection(terminal, {12, 2}, {15, 2});
    auto multiRow = activeSelection(terminal, {30, 1}, {31, 3});
    auto below = activeSelection(terminal, {0, 9}, {5, 9});
    host.clear();
    terminal.clearSelectionsInRange(2, 5, 0, 10);
    EXPECT_FALSE(sameRowOverlap->active_);
    EXPECT_TRUE(sameRowBeside->active_);
    EXPECT_FALSE(multiRow->active_) << "a selection spanning rows overlaps whatever its columns";
    EXPECT_TRUE(below->active_);
    EXPECT_EQ(host.count("selectionChanged"), 2);
}

TEST(TerminalInstance, TeardownReleasesEveryRegisteredCode)
{
    std::uint16_t code = 0;
    {
        auto terminal = makeTerminal();
        feed(*terminal, "\x1b]8;;http://teardown.example\x07x");
        code = terminal->getCharData(0, 0)->payload.code;
        ASSERT_TRUE(TinyAtom::lookup(code).has_value());
    }
    EXPECT_FALSE(TinyAtom::lookup(code).has_value());
}

TEST(TerminalInstance, QueriesOutsideTheScreenAnswerNone)
{
    auto t = makeTerminal(10, 3);
    Terminal& terminal = *t;
    feed(terminal, "\x1b[2;10Hz");
    EXPECT_EQ(terminal.getDisplayLine(-1), nullptr);
    EXPECT_EQ(terminal.getDisplayLine(3), nullptr);
    EXPECT_FALSE(terminal.getCharData(10, 0).has_value());
    EXPECT_FALSE(terminal.getCharData(0, 3).has_value());
    EXPECT_EQ(terminal.getCharData(9, 1).value_or(CharData()).code, 'z');
    EXPECT_EQ(terminal.getScrollInvariantLine(3), nullptr);
    terminal.buffer().linesTop = 5;
    EXPECT_EQ(terminal.getScrollInvariantLine(6), terminal.buffer().lines()[1].get())
        << "line numbers count the lines dropped from the ring";
    EXPECT_EQ(terminal.getScrollInvariantLine(1), nullptr);
}

} // namespace
} // namespace corvantix
