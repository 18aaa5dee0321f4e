// CR LF taken as one step by the parser, and the scroll of a full history (the oldest line
// becomes the new bottom one): both must leave every reader exactly where the controls one
// at a time and the general scroll would.
#include "emulator/SelectionService.h"
#include "RecordingDelegate.h"
#include "TerminalTestSupport.h"

#include <sstream>

namespace corvantix {
namespace {

// Everything a host can read after a feed, as one text, so that two terminals compare in
// one assertion and a difference shows where it is.
std::string snapshot(Terminal& terminal, const test::RecordingDelegate& delegate)
{
    std::ostringstream out;
    const Buffer& screen = terminal.buffer();
    out << "cursor " << screen.x() << "," << screen.y() << " yBase " << screen.yBase() << " yDisp " << screen.yDisp()
        << " linesTop " << screen.linesTop << " count " << screen.lines().count() << "\n";
    if (const auto range = terminal.getUpdateRange())
        out << "dirty " << range->startY << ".." << range->endY << "\n";
    if (const auto range = terminal.getScrollInvariantUpdateRange())
        out << "dirty lines " << range->startY << ".." << range->endY << "\n";
    for (int index = 0; index < screen.lines().count(); ++index) {
        const BufferLine& line = *screen.lines()[index];
        const CharData& first = line.getCell(0);
        out << index << " [" << lineTextAt(terminal, index) << "] wrapped " << line.isWrapped() << " bidi "
            << static_cast<int>(line.bidiState().fallbackDirection) << " bg "
            << static_cast<int>(first.attribute.bg == Attribute::defaultAttribute().bg) << "\n";
    }
    for (const std::string& event : delegate.events)
        out << event << "\n";
    return out.str();
}

// The data cut after every CR, so that no CR LF pair lies within one feed.
void feedSplitAfterCarriageReturns(Terminal& terminal, std::string_view bytes)
{
    std::size_t start = 0;
    for (std::size_t i = 0; i < bytes.size(); ++i) {
        if (bytes[i] == '\r') {
            terminal.feed(bytes.substr(start, i + 1 - start));
            start = i + 1;
        }
    }
    terminal.feed(bytes.substr(start));
}

std::unique_ptr<Terminal> makeSmallTerminal(TerminalDelegate* delegate, int scrollback)
{
    TerminalOptions options;
    options.cols = 6;
    options.rows = 3;
    options.scrollback = scrollback;
    return std::make_unique<Terminal>(delegate, options);
}

TEST(LineEnd, CarriageReturnLineFeedInOneFeedMatchesTheControlsFedApart)
{
    struct Case { const char* name; std::string input; };
    const std::vector<Case> cases = {
        {"short lines through a full history", "y\r\ny\r\nz\r\nab\r\ncd\r\nef\r\ngh\r\n"},
        {"lines that wrap", "abcdefgh\r\nijklmnopq\r\nr\r\nstuvwxyz12\r\n"},
        {"an unfinished UTF-8 character before CR", "a\xC3\r\nb\xE2\x82\r\nc\r\n"},
        {"new-line mode", "\x1b[20hab\r\ncd\r\nef\r\ngh\r\n"},
        {"a region below the top", "\x1b[2;3r\x1b[3;1Hab\r\ncd\r\nef\r\n"},
        {"margins with origin mode", "\x1b[?69h\x1b[2;4s\x1b[?6h\x1b[3;2Hab\r\ncd\r\nef\r\n"},
        {"the cursor right of the margins", "\x1b[?69h\x1b[1;3s\x1b[3;5Hab\r\ncd\r\n"},
        {"a coloured background on the new lines", "a\r\n\x1b[41mb\r\nc\r\n\x1b[0md\r\ne\r\n"},
        {"the alternate screen", "x\r\n\x1b[?1049ha\r\nb\r\nc\r\nd\r\n\x1b[?1049le\r\n"},
        {"right-to-left fallback", "\x1b[2 kab\r\ncd\r\nef\r\ngh\r\n"},
        {"CR at the end of the data", "ab\r\ncd\r"},
        {"CR CR LF", "ab\r\r\ncd\r\r\nef\r\r\n"},
    };
    for (const int scrollback : {0, 2, 50}) {
        for (const Case& c : cases) {
            SCOPED_TRACE(std::string(c.name) + ", scrollback " + std::to_string(scrollback));
            test::RecordingDelegate wholeHost;
            test::RecordingDelegate splitHost;
            auto whole = makeSmallTerminal(&wholeHost, scrollback);
            auto split = makeSmallTerminal(&splitHost, scrollback);
            whole->feed(c.input);
            feedSplitAfterCarriageReturns(*split, c.input);
            EXPECT_EQ(snapshot(*whole, wholeHost), snapshot(*split, splitHost));
        }
    }
}

TEST(LineEnd, ATracedDispatchStillNamesBothControls)
{
    auto terminal = makeTerminal(10, 3);
    std::vector<std::string> names;
    terminal->setDispatchTrace([&](std::string_view name) { names.emplace_back(name); });
    feed(*terminal, "a\r\nb");
    EXPECT_EQ(names, (std::vector<std::string>{"cmdCarriageReturn", "cmdLineFeed"}));
    EXPECT_EQ(screenLines(*terminal), (std::vector<std::string>{"a", "b", ""}));
}

// A history of 2 lines under a screen of 3: from the sixth line on every line feed reuses the
// oldest line.
struct FullRingCase {
    const char* name;
    std::string input;
    std::vector<std::string> history;
    std::vector<std::string> screen;
    int linesTop;
    int yDisp;
};

TEST(LineEnd, AFullHistoryReusesItsOldestLineAsTheNewBottomOne)
{
    const std::vector<FullRingCase> cases = {
        {"line feeds", "1\r\n2\r\n3\r\n4\r\n5\r\n6\r\n7", {"3", "4"}, {"5", "6", "7"}, 2, 2},
        {"index and next line", "1\r\n2\r\n3\r\n4\x1b" "D\r5\x1b" "E6\x1b" "E7", {"3", "4"}, {"5", "6", "7"}, 2, 2},
        {"a wrap", "1\r\n2\r\n3\r\n4\r\nabcdefghijklm", {"3", "4"}, {"abcdef", "ghijkl", "m"}, 2, 2},
        {"the alternate screen keeps no history", "1\r\n\x1b[?1049ha\r\nb\r\nc\r\nd", {}, {"b", "c", "d"}, 0, 0},
    };
    for (const FullRingCase& c : cases) {
        SCOPED_TRACE(c.name);
        test::RecordingDelegate host;
        auto terminal = makeSmallTerminal(&host, 2);
        feed(*terminal, c.input);
        const Buffer& screen = terminal->buffer();
        EXPECT_EQ(scrollbackLines(*terminal), c.history);
        EXPECT_EQ(screenLines(*terminal), c.screen);
        EXPECT_EQ(screen.linesTop, c.linesTop);
        EXPECT_EQ(screen.yDisp(), c.yDisp);
        EXPECT_EQ(screen.yBase(), c.yDisp);
        // A wrapped row continues the one above; the others start lines of their own.
        for (int row = 0; row < 3; ++row)
            EXPECT_EQ(screen.lines()[screen.yBase() + row]->isWrapped(), c.name == std::string("a wrap") && row > 0)
                << "row " << row;
    }
}

TEST(LineEnd, EachReuseTellsTheHostAndMarksTheScreen)
{
    test::RecordingDelegate host;
    auto terminal = makeSmallTerminal(&host, 2);
    feed(*terminal, "1\r\n2\r\n3\r\n4\r\n5\r\n");
    terminal->clearUpdateRange();
    host.clear();
    feed(*terminal, "6\r\n7\r\n");
    EXPECT_EQ(host.events, (std::vector<std::string>{"scrolled(2)", "linefeed", "scrolled(2)", "linefeed"}));
    EXPECT_EQ(terminal->getUpdateRange(), (UpdateRange{0, 2}));
    EXPECT_EQ(terminal->buffer().linesTop, 3);
}

TEST(LineEnd, AViewScrolledBackKeepsShowingTheSameText)
{
    auto terminal = makeSmallTerminal(nullptr, 4);
    feed(*terminal, "1\r\n2\r\n3\r\n4\r\n5\r\n6\r\n7");
    terminal->setUserScrolling(true);
    terminal->scrollDisplayTo(2);
    const std::string shown = lineTextAt(*terminal, terminal->buffer().yDisp());
    EXPECT_EQ(shown, "3");
    feed(*terminal, "\r\n8\r\n9");
    EXPECT_EQ(terminal->buffer().yDisp(), 0);
    EXPECT_EQ(lineTextAt(*terminal, 0), "3");
    // At the oldest line the view cannot go further up; the text it showed is gone.
    feed(*terminal, "\r\nA");
    EXPECT_EQ(terminal->buffer().yDisp(), 0);
    EXPECT_EQ(lineTextAt(*terminal, 0), "4");
}

TEST(LineEnd, ASelectionMovesWithItsTextAndGoesWithIt)
{
    auto terminal = makeSmallTerminal(nullptr, 2);
    feed(*terminal, "1\r\n2\r\n3\r\n4\r\n5\r\n6\r\n7");
    auto selection = std::make_shared<SelectionService>(terminal.get());
    selection->active_ = true;
    selection->hasSelectionRange = true;
    selection->start = Position{0, 3};
    selection->end = Position{0, 4};
    terminal->registerSelection(selection);
    feed(*terminal, "\r\n8");
    ASSERT_TRUE(selection->active_);
    EXPECT_EQ(selection->start.row, 2);
    EXPECT_EQ(selection->end.row, 3);
    EXPECT_EQ(lineTextAt(*terminal, selection->start.row), "6");
    feed(*terminal, "\r\n9\r\nA\r\n");
    EXPECT_FALSE(selection->active_);
}

TEST(LineEnd, NewLinesTakeTheBackgroundInForceAtTheirLineFeed)
{
    auto terminal = makeSmallTerminal(nullptr, 2);
    feed(*terminal, "1\r\n2\r\n3\r\n4\r\n5\r\n\x1b[44m6\r\n");
    const Buffer& screen = terminal->buffer();
    const CharData& blank = screen.lines()[screen.yBase() + 2]->getCell(3);
    EXPECT_EQ(blank.attribute.bg, Attribute::Color::ansi256(4));
    feed(*terminal, "\x1b[0m7\r\n");
    EXPECT_EQ(screen.lines()[screen.yBase() + 2]->getCell(3).attribute.bg, Attribute::defaultAttribute().bg);
}

} // namespace
} // namespace corvantix
