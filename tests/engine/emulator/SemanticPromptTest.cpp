// Semantic prompts: OSC 133 marks and states, the prompt zones kept by the buffer, and
// click-to-move inside the command line being edited.
#include "TerminalTestSupport.h"
#include <limits>

namespace corvantix {
namespace {

std::string mark(std::string_view body) { return "\x1b]133;" + std::string(body) + "\x07"; }

std::string repeat(std::string_view text, int count)
{
    std::string result;
    for (int i = 0; i < count; ++i) result += text;
    return result;
}

const std::string LEFT = "\x1b[D";
const std::string RIGHT = "\x1b[C";
const std::string UP = "\x1b[A";
const std::string DOWN = "\x1b[B";

constexpr SemanticPromptClickModifiers noModifiers{};

struct Fixture : TerminalFixture {
    explicit Fixture(int cols = 20, int rows = 5, int scrollback = 500) : TerminalFixture(options(cols, rows, scrollback))
    {}
    static TerminalOptions options(int cols, int rows, int scrollback)
    {
        TerminalOptions options = sizedOptions(cols, rows);
        options.scrollback = scrollback;
        return options;
    }
    Buffer& screen() const { return terminal->buffer(); }
    int cursorLine() const { return screen().yBase() + screen().y(); }
    // What a click at (col, line) sends; "" when it sent nothing.
    std::string click(int col, int line, SemanticPromptClickModifiers modifiers = noModifiers)
    {
        delegate.clear();
        consumed = terminal->handleSemanticPromptClick(col, line, modifiers);
        return delegate.sent;
    }
    bool consumed = false;
};

TEST(SemanticPromptTest, CommandsDriveContentAndInputState)
{
    Fixture f;
    Buffer& screen = f.screen();
    EXPECT_EQ(screen.semanticInput, SemanticInputState::idle);
    feed(*f.terminal, mark("A") + "$ ");
    EXPECT_EQ(screen.semanticInput, SemanticInputState::prompt);
    EXPECT_EQ(screen.semanticContent, SemanticContent::prompt(SemanticPromptKind::initial));
    feed(*f.terminal, mark("B") + "ls");
    EXPECT_EQ(screen.semanticInput, SemanticInputState::armed);
    EXPECT_EQ(screen.semanticContent, SemanticContent::input());
    feed(*f.terminal, mark("C") + "\r\nout");
    EXPECT_EQ(screen.semanticInput, SemanticInputState::submitted);
    EXPECT_EQ(screen.semanticContent, SemanticContent::output());
    feed(*f.terminal, mark("D;0") + mark("I"));
    EXPECT_EQ(screen.semanticInput, SemanticInputState::armed);
    // The cells carry the content they were written in.
    struct Cell { int col, row; std::optional<SemanticContent> content; };
    const std::vector<Cell> cells = {
        {0, 0, SemanticContent::prompt(SemanticPromptKind::initial)},
        {2, 0, SemanticContent::input()},
        {0, 1, SemanticContent::output()},
        {20, 1, std::nullopt},
    };
    for (const Cell& c : cells)
        EXPECT_EQ(f.terminal->semanticContentAt(c.col, c.row), c.content) << c.col << "," << c.row;
}

TEST(SemanticPromptTest, MarksAndGroups)
{
    Fixture f;
    Buffer& screen = f.screen();
    feed(*f.terminal, mark("A") + "$ " + mark("A;k=r") + mark("B"));
    EXPECT_EQ(screen.activeSemanticGroupID, 1u);
    EXPECT_EQ(f.terminal->semanticMarksOfRow(0),
              (std::vector<SemanticPromptAnchor>{{{0, 0}, SemanticPromptKind::initial}, {{2, 0}, SemanticPromptKind::right}}));
    // The right prompt leaves content and input alone.
    EXPECT_EQ(screen.semanticInput, SemanticInputState::armed);
    // A second "A" on a row of the current prompt keeps the group.
    feed(*f.terminal, "\r" + mark("A"));
    EXPECT_EQ(f.cursorLine(), 0);
    EXPECT_EQ(screen.activeSemanticGroupID, 1u);
    // Output, then a new prompt: a new group, and group 1's marks no longer count as active.
    feed(*f.terminal, mark("C") + "\r\nout" + mark("D") + mark("A") + "$ ");
    EXPECT_EQ(screen.activeSemanticGroupID, 2u);
    EXPECT_EQ(f.cursorLine(), 2);
    EXPECT_FALSE(screen.rowHasActivePromptMark(0));
    EXPECT_TRUE(screen.rowHasActivePromptMark(2));
    EXPECT_EQ(screen.semanticPromptStartRow(), 2);
    // A continuation prompt starts a fresh line without a mark; "P;k=s" marks in place.
    feed(*f.terminal, mark("A;k=c"));
    EXPECT_EQ(f.cursorLine(), 3);
    EXPECT_EQ(screen.semanticContent, SemanticContent::prompt(SemanticPromptKind::continuation));
    EXPECT_TRUE(f.terminal->semanticMarksOfRow(3).empty());
    feed(*f.terminal, "> " + mark("P;k=s"));
    EXPECT_EQ(f.terminal->semanticMarksOfRow(3),
              (std::vector<SemanticPromptAnchor>{{{2, 3}, SemanticPromptKind::secondary}}));
    EXPECT_EQ(screen.activeSemanticGroupID, 2u);
    // "N" always starts a group.
    feed(*f.terminal, mark("N"));
    EXPECT_EQ(screen.activeSemanticGroupID, 3u);
}

TEST(SemanticPromptTest, FreshLineOnlyWhenNotAtTheLineStart)
{
    struct Case { std::string before; std::string command; int x, line; };
    const std::vector<Case> cases = {
        {"", "A", 0, 0},
        {"hello", "A", 0, 1},
        {"hello", "P", 5, 0},
        // at the left margin in margin mode the cursor stays
        {"\x1b[?69h\x1b[5;15s\x1b[1;5Hab", "A", 4, 1},
    };
    for (const Case& c : cases) {
        Fixture f;
        feed(*f.terminal, c.before + mark(c.command));
        EXPECT_EQ(f.screen().x(), c.x) << c.before << " " << c.command;
        EXPECT_EQ(f.cursorLine(), c.line) << c.before << " " << c.command;
    }
}

TEST(SemanticPromptTest, IgnoredSequences)
{
    const std::vector<std::string> ignored = {
        mark("A;k=x"),        // unknown value of a known key voids the command
        mark("Z"),
        "\x1b]133\x07",
    };
    for (const std::string& input : ignored) {
        Fixture f;
        feed(*f.terminal, "ab" + input);
        EXPECT_EQ(f.screen().semanticInput, SemanticInputState::idle) << input;
        EXPECT_EQ(f.screen().x(), 2) << input;
        EXPECT_EQ(f.screen().activeSemanticGroupID, 0u) << input;
    }
    // An unknown key is skipped, the rest applies.
    Fixture f;
    feed(*f.terminal, mark("A;aid=42;k=s;novalue"));
    EXPECT_EQ(f.screen().semanticContent, SemanticContent::prompt(SemanticPromptKind::secondary));
}

TEST(SemanticPromptTest, AlternateScreenIgnoresMarksAndClosesInput)
{
    Fixture f;
    feed(*f.terminal, mark("A") + "$ " + mark("B"));
    feed(*f.terminal, "\x1b[?1049h" + mark("A") + mark("B"));
    EXPECT_EQ(f.terminal->altBuffer().semanticInput, SemanticInputState::submitted);
    EXPECT_TRUE(f.terminal->altBuffer().lines()[0]->semanticMarks().empty());
    EXPECT_EQ(f.terminal->altBuffer().activeSemanticGroupID, 0u);
    feed(*f.terminal, "\x1b[?1049l");
    EXPECT_EQ(f.screen().semanticInput, SemanticInputState::submitted);
    EXPECT_EQ(f.screen().semanticContent, SemanticContent::output());
}

TEST(SemanticPromptTest, OutputClearsTheHardContinuationOfTheCursorLine)
{
    Fixture f;
    feed(*f.terminal, mark("A") + "$ " + mark("B") + "a\r\nb");
    EXPECT_EQ(f.screen().lines()[1]->semanticHardContinuationGroup(), 1u);
    feed(*f.terminal, mark("C"));
    EXPECT_EQ(f.screen().lines()[1]->semanticHardContinuationGroup(), std::nullopt);
}

// "$ " then the command; the cursor ends after it on line 0.
void promptWithCommand(Fixture& f, std::string_view options, std::string_view command)
{
    feed(*f.terminal, mark("A" + std::string(options)) + "$ " + mark("B") + std::string(command));
}

TEST(SemanticPromptClickTest, HorizontalMovesOnOneLine)
{
    struct Case { std::string options, before; int col; std::string sent; bool consumed; }; // before: fed after the command
    const std::vector<Case> cases = {
        {";cl=m", "", 4, repeat(LEFT, 5), true},
        {";cl=line", "", 0, repeat(LEFT, 7), true},   // the prompt counts as offset 0
        {";cl=m", "", 15, "", false},                 // past the input: same offset as the cursor
        {";cl=m", "\x1b[1;3H", 6, repeat(RIGHT, 4), true},
        {";cl=m;special_key=1", "", 4, repeat("\x1b[1;1u", 5), true},
        {"", "", 4, "", false},                       // the shell asked for nothing
    };
    for (const Case& c : cases) {
        Fixture f;
        promptWithCommand(f, c.options, "echo hi");
        feed(*f.terminal, c.before);
        EXPECT_EQ(f.click(c.col, 0), c.sent) << c.options << " " << c.before << " col " << c.col;
        EXPECT_EQ(f.consumed, c.consumed) << c.options << " " << c.before << " col " << c.col;
    }
}

// A command over three hard lines: "abc", "defgh", "ij"; the cursor then goes to offset 3
// of line 0 (after "abc").
void threeLineCommand(Fixture& f, std::string_view options)
{
    promptWithCommand(f, options, "abc\r\ndefgh\r\nij");
    feed(*f.terminal, "\x1b[1;6H");
}

TEST(SemanticPromptClickTest, MovesAcrossLogicalLines)
{
    struct Case { std::string options; int col, row; std::string sent; };
    const std::vector<Case> cases = {
        {";cl=v", 2, 2, repeat(LEFT, 3) + repeat(DOWN, 2) + repeat(RIGHT, 2)},
        {";cl=v", 3, 1, repeat(LEFT, 3) + DOWN + repeat(RIGHT, 3)},
        {";cl=m", 2, 2, repeat(RIGHT, 9)},                      // each line break is one position
        {";cl=v;special_key=1", 2, 2, repeat("\x1b[1u", 9)},
        {";cl=line", 2, 2, ""},                                 // another logical line
    };
    for (const Case& c : cases) {
        Fixture f;
        threeLineCommand(f, c.options);
        EXPECT_EQ(f.click(c.col, c.row), c.sent) << c.options << " (" << c.col << "," << c.row << ")";
    }
    // From the last line upward.
    Fixture f;
    threeLineCommand(f, ";cl=v");
    feed(*f.terminal, "\x1b[3;3H"); // after "ij"
    EXPECT_EQ(f.click(4, 0), repeat(LEFT, 2) + repeat(UP, 2) + repeat(RIGHT, 2));
}

TEST(SemanticPromptClickTest, ClicksOutsideTheCommandAreRefused)
{
    Fixture f;
    threeLineCommand(f, ";cl=m");
    EXPECT_EQ(f.click(2, 3), "");  // below the group
    EXPECT_FALSE(f.consumed);
    feed(*f.terminal, "\x1b[5;1H"); // the cursor leaves the group
    EXPECT_EQ(f.click(2, 2), "");
    EXPECT_FALSE(f.consumed);
    // A prompt without typed input has nothing to move in.
    Fixture h;
    promptWithCommand(h, ";cl=m", "");
    EXPECT_EQ(h.click(0, 0), "");
    EXPECT_FALSE(h.consumed);
}

TEST(SemanticPromptClickTest, ClickEvents)
{
    struct Case { std::string options; int col, row; std::string sent; bool consumed; };
    const std::vector<Case> cases = {
        {";click_events=1", 3, 0, "\x1b[<0;4;1M", true},
        {";click_events=2", 1, 2, "\x1b[<0;2;2M", true},
        {";click_events=2", 19, 3, "", false},            // not in the group
    };
    for (const Case& c : cases) {
        Fixture f;
        threeLineCommand(f, c.options);
        EXPECT_EQ(f.click(c.col, c.row), c.sent) << c.options << " (" << c.col << "," << c.row << ")";
        EXPECT_EQ(f.consumed, c.consumed) << c.options;
    }
}

TEST(SemanticPromptClickTest, RelativeClickEventsCountFromTheLatestSecondaryPrompt)
{
    Fixture f(20, 5);
    feed(*f.terminal, mark("A;click_events=2") + "$ " + mark("B") + "ab\r\n> " + mark("P;k=s") + mark("B") + "cd");
    EXPECT_EQ(f.click(3, 1), "\x1b[<0;4;0M");
    EXPECT_EQ(f.click(1, 1), "\x1b[<0;2;1M"); // left of the secondary mark: from the prompt start
}

TEST(SemanticPromptClickTest, WithoutDelegateTheClickIsConsumed)
{
    auto terminal = makeTerminal(20, 5);
    feed(*terminal, mark("A;cl=m") + "$ " + mark("B") + "abc");
    EXPECT_TRUE(terminal->handleSemanticPromptClick(2, 0, noModifiers));
    EXPECT_FALSE(terminal->handleSemanticPromptClick(5, 0, noModifiers)); // the cursor's cell
}

} // namespace
} // namespace corvantix
