// Screen text extraction: row text, selected lines with their fragments, the joined text of
// a range and the screen content as encoded bytes.
#include "TerminalTestSupport.h"

namespace corvantix {
namespace {

// The joined text of the active screen between two positions (rows are line numbers).
std::string textBetween(const Terminal& terminal, int startCol, int startRow, int endCol, int endRow)
{
    return terminal.getDisplayText(Position{startCol, startRow}, Position{endCol, endRow});
}

std::string bytesText(const std::vector<std::uint8_t>& bytes) { return std::string(bytes.begin(), bytes.end()); }

TEST(TextTest, RowTextOfOneRow)
{
    struct Case { const char* name; const char* bytes; int startCol; int endCol; std::string expected; };
    const Case cases[] = {
        {"trailing empty cells are dropped", "abc", 0, -1, "abc"},
        {"an empty cell between letters is a space", "a\x1b[2Cb", 0, -1, "a  b"},
        {"end column is exclusive", "hello world", 0, 5, "hello"},
        {"wide character is one character", "\xe4\xb8\xad" "x", 0, -1, "\xe4\xb8\xad" "x"},
        {"start on the empty half of a wide character", "\xe4\xb8\xad" "x", 1, -1, "x"},
        {"combining mark stays with its letter", "e\xcc\x81!", 0, -1, "e\xcc\x81!"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        auto terminal = makeTerminal(20, 3);
        feed(*terminal, c.bytes);
        EXPECT_EQ(terminal->rowText(terminal->buffer(), terminal->buffer().yBase(), c.startCol, c.endCol), c.expected);
    }
}

TEST(TextTest, JoinedTextOfRanges)
{
    struct Case { const char* name; const char* bytes; Position start; Position end; std::string expected; };
    const Case cases[] = {
        {"wrapped rows continue one line", "abcdefghijklmno", {0, 0}, {10, 1}, "abcdefghijklmno"},
        {"hard line ends give line breaks", "one\r\ntwo\r\nsix", {0, 0}, {10, 2}, "one\ntwo\nsix"},
        {"a blank middle row is an empty line", "A\r\n\r\nC", {0, 0}, {10, 2}, "A\n\nC"},
        {"a blank last row adds nothing", "A\r\nB\r\n", {0, 0}, {10, 2}, "A\nB"},
        {"a blank start row begins with a line break", "\r\nB", {0, 0}, {10, 1}, "\nB"},
        {"end column is exclusive on the last row", "one\r\ntwo", {1, 0}, {2, 1}, "ne\ntw"},
        {"end before start is swapped", "one\r\ntwo", {2, 1}, {1, 0}, "ne\ntw"},
        {"start row past the screen", "hello", {0, 40}, {0, 41}, ""},
        {"end row past the screen is clamped", "A\r\nB", {0, 0}, {0, 400}, "A\nB"},
        {"a row erased in a colour is content, even at the end", "A\r\n\x1b[44m\x1b[K\x1b[0m", {0, 0}, {10, 1}, "A\n"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        auto terminal = makeTerminal(10, 5);
        feed(*terminal, c.bytes);
        EXPECT_EQ(textBetween(*terminal, c.start.col, c.start.row, c.end.col, c.end.row), c.expected);
    }
}

TEST(TextTest, SelectedLinesKeepWhereEachFragmentCameFrom)
{
    auto terminal = makeTerminal(10, 5);
    feed(*terminal, "abcdefghijklm\r\n\r\nxyz");
    const std::vector<Line> lines =
        terminal->getSelectedLines(Position{0, 0}, Position{10, 3}, terminal->buffer());
    ASSERT_EQ(lines.size(), 3u);
    // The wrapped pair is one line of two fragments without a break between them; the blank
    // row is an empty line of its own.
    using Fragments = std::vector<LineFragment>;
    EXPECT_EQ(lines[0].fragments, (Fragments{{"abcdefghij", 0, 0, 10}, {"klm", 1, 0, 3}, {"\n", 1, -1, 1}}));
    EXPECT_EQ(lines[0].length, 14);
    EXPECT_EQ(lines[1].fragments, (Fragments{{"", 2, 0, 0}, {"\n", 2, -1, 1}}));
    EXPECT_EQ(lines[2].fragments, (Fragments{{"xyz", 3, 0, 3}}));
}

TEST(TextTest, TextOfScrollbackLines)
{
    auto terminal = makeTerminal(10, 2);
    feed(*terminal, "one\r\ntwo\r\nthree\r\nfour");
    ASSERT_EQ(terminal->buffer().yBase(), 2);
    EXPECT_EQ(textBetween(*terminal, 0, 0, 10, 3), "one\ntwo\nthree\nfour");
    EXPECT_EQ(terminal->bufferLineAt(1), terminal->buffer().lines()[1].get());
}

TEST(TextTest, ScreenContentAsBytes)
{
    auto terminal = makeTerminal(10, 4);
    // A character of the supplementary planes is kept in the terminal's table: in the
    // screen content it is a space, while the row text has it whole.
    feed(*terminal, "ab\r\n\xf0\x9f\x98\x80x\r\ncaf\xc3\xa9");
    EXPECT_EQ(terminal->rowText(terminal->buffer(), 1, 0, -1), "\xf0\x9f\x98\x80x");
    struct Case { StringEncoding encoding; std::string expected; };
    const Case cases[] = {
        {StringEncoding::utf8, "ab\n" "  x\n" "caf\xc3\xa9\n" "\n"},
        // The wide character's empty half is a space too.
        {StringEncoding::isoLatin1, "ab\n" "  x\n" "caf\xe9\n" "\n"},
        // The line that has no ASCII form is left out with its line feed.
        {StringEncoding::ascii, "ab\n" "  x\n" "\n"},
        // The line feed is encoded too, so the bytes stay well-formed UTF-16.
        {StringEncoding::utf16BigEndian, std::string("\0a\0b\0\n\0 \0 \0x\0\n\0c\0a\0f\0\xe9\0\n\0\n", 26)},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(static_cast<int>(c.encoding));
        EXPECT_EQ(bytesText(terminal->bufferContentsData(BufferKind::normal, c.encoding)), c.expected);
    }
}

} // namespace
} // namespace corvantix
