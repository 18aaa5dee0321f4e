// The print path: wrapping, insert mode, wide characters, UTF-8 reassembly and its
// malformed input, grapheme clusters, variation selectors and regional indicators.
#include <climits>
#include "TerminalTestSupport.h"

namespace corvantix {
namespace {

struct PrintCase {
    const char* name;
    int cols;
    std::string input;
    std::vector<std::string> rows; // the first rows of the screen
    CursorPosition cursor;
};

void PrintTo(const PrintCase& c, std::ostream* out) { *out << c.name; }

class PrintScreen : public ::testing::TestWithParam<PrintCase> {};

std::vector<std::string> firstRows(const Terminal& terminal, std::size_t count)
{
    std::vector<std::string> rows = screenLines(terminal);
    rows.resize(count);
    return rows;
}

TEST_P(PrintScreen, InOneFeed)
{
    const PrintCase& c = GetParam();
    const auto terminal = makeTerminal(c.cols, 4);
    feed(*terminal, c.input);
    EXPECT_EQ(firstRows(*terminal, c.rows.size()), c.rows);
    EXPECT_EQ(cursor(*terminal), c.cursor);
}

// Reading byte by byte takes the kept-back path for every multi-byte sequence and must
// give the same screen.
TEST_P(PrintScreen, ByteByByte)
{
    const PrintCase& c = GetParam();
    const auto terminal = makeTerminal(c.cols, 4);
    feedByteByByte(*terminal, c.input);
    EXPECT_EQ(firstRows(*terminal, c.rows.size()), c.rows);
    EXPECT_EQ(cursor(*terminal), c.cursor);
}

INSTANTIATE_TEST_SUITE_P(
    Print, PrintScreen,
    ::testing::Values(
        PrintCase{"Ascii", 20, "hello", {"hello"}, {5, 0}},
        PrintCase{"PendingWrapAtLastColumn", 10, "abcdefghij", {"abcdefghij", ""}, {10, 0}},
        PrintCase{"WrapAfterLastColumn", 10, "abcdefghijKL", {"abcdefghij", "KL"}, {2, 1}},
        PrintCase{"NoWraparoundOverwritesLastColumn", 10, "\x1b[?7labcdefghijKLM", {"abcdefghiM", ""}, {10, 0}},
        PrintCase{"InsertModeShiftsRight", 20, "hello\x1b[1G\x1b[4hXY", {"XYhello"}, {2, 0}},
        PrintCase{"WideWrapsBeforeTheEdge", 10, "abcdefghi\xe4\xb8\xad", {"abcdefghi", "中"}, {2, 1}},
        PrintCase{"WideAtTheEdgeWithoutWraparoundIsDropped", 10, "\x1b[?7labcdefghi\xe4\xb8\xadx", {"abcdefghix"}, {10, 0}},
        PrintCase{"CombiningMarkJoins", 20, "e\xcc\x81x", {"e\xcc\x81x"}, {2, 0}},
        PrintCase{"CombiningMarkAtColumnZeroIsDropped", 20, "\xcc\x81" "a", {"a"}, {1, 0}},
        PrintCase{"ZwjFamilyIsOneWideCell", 20,
                  "\xf0\x9f\x91\xa8\xe2\x80\x8d\xf0\x9f\x91\xa9\xe2\x80\x8d\xf0\x9f\x91\xa7x",
                  {"\xf0\x9f\x91\xa8\xe2\x80\x8d\xf0\x9f\x91\xa9\xe2\x80\x8d\xf0\x9f\x91\xa7x"}, {3, 0}},
        PrintCase{"FlagIsOneWideCell", 20, "\xf0\x9f\x87\xba\xf0\x9f\x87\xb8x", {"\xf0\x9f\x87\xba\xf0\x9f\x87\xb8x"}, {3, 0}},
        PrintCase{"EmojiPresentationWidens", 20, "\xe2\x9d\xa4\xef\xb8\x8fx", {"\xe2\x9d\xa4\xef\xb8\x8fx"}, {3, 0}},
        PrintCase{"EmojiPresentationAtLastColumnStaysNarrow", 10, "abcdefghi\xe2\x9d\xa4\xef\xb8\x8f",
                  {"abcdefghi\xe2\x9d\xa4\xef\xb8\x8f"}, {10, 0}},
        PrintCase{"TextPresentationNarrows", 20, "\xe2\x8c\x9a\xef\xb8\x8ex", {"\xe2\x8c\x9a\xef\xb8\x8ex"}, {2, 0}},
        PrintCase{"SelectorAfterANonBaseIsDropped", 20, "a\xef\xb8\x8f" "b", {"ab"}, {2, 0}},
        PrintCase{"LoneJoinerIsDropped", 20, "\xe2\x80\x8d" "a", {"a"}, {1, 0}},
        // Malformed UTF-8: the lead byte shows as its Latin-1 character and the byte that
        // broke the sequence is read on its own.
        PrintCase{"LeadByteBeforeAscii", 20, "\xe9" "ab", {"éab"}, {3, 0}},
        // A control proves a partial character at the end of a run broken: it stays on its line.
        PrintCase{"LeadByteBeforeLineBreak", 20, "caf\xe9\r\nx", {"café", "x"}, {1, 1}},
        PrintCase{"ThreeByteSequenceCutShort", 20, "\xe2\x82" "A", {"âA"}, {2, 0}},
        PrintCase{"ByteThatStartsNothing", 20, "\xff", {"ÿ"}, {1, 0}},
        PrintCase{"LoneContinuationByte", 20, "\xaf" "a", {"¯a"}, {2, 0}},
        PrintCase{"OverlongThreeByteLosesItsContinuations", 20, "\xe0\x80\xaf" "a", {"àa"}, {2, 0}},
        PrintCase{"BeyondUnicode", 20, "\xf4\x90\x80\x80" "a", {"ôa"}, {2, 0}},
        PrintCase{"C1ControlAsUtf8IsDropped", 20, "a\xc2\x85" "b", {"ab"}, {2, 0}},
        PrintCase{"DelIsDropped", 20, "ab\x7f" "c", {"abc"}, {3, 0}}),
    [](const ::testing::TestParamInfo<PrintCase>& info) { return std::string(info.param.name); });

TEST(Print, CombiningMarkMakesOneClusterCell)
{
    const auto terminal = makeTerminal(20, 2);
    feed(*terminal, "e\xcc\x81");
    const CharData& cell = cellAt(*terminal, 0, 0);
    EXPECT_GT(cell.code, 0x400000);
    EXPECT_EQ(cell.width, 1);
    EXPECT_EQ(terminal->getCharacter(cell.code), U"e\u0301");
    EXPECT_EQ(cursor(*terminal), (CursorPosition{1, 0}));
    // The same cluster again reuses its code.
    feed(*terminal, "e\xcc\x81");
    EXPECT_EQ(cellAt(*terminal, 1, 0).code, cell.code);
}

TEST(Print, CharacterCodes)
{
    const auto terminal = makeTerminal(20, 2);
    const std::int32_t first = terminal->getCharacterCode(U"a\u0301");
    EXPECT_EQ(first, Terminal::firstCharIndex);
    EXPECT_EQ(terminal->getCharacterCode(U"\U0001F600"), first + 1);
    EXPECT_EQ(terminal->getCharacterCode(U"a\u0301"), first);
    for (std::int32_t invalid : {0xD800, 0x110000, 0x400000 + 999, -5})
        EXPECT_EQ(terminal->getCharacter(invalid), U" ") << invalid;
    CharData cell = terminal->makeCell(Attribute{}, std::u32string_view(U"a\u0301"), 1);
    terminal->setCellCharacter(cell, U"\U0001F600", 2);
    EXPECT_EQ(std::make_pair(cell.code, static_cast<int>(cell.width)), std::make_pair(first + 1, 2));
}

TEST(Print, VariationSelectorsChangeTheWidth)
{
    const auto terminal = makeTerminal(20, 2);
    feed(*terminal, "\xe2\x9d\xa4\xef\xb8\x8f"); // U+2764 U+FE0F
    EXPECT_EQ(cellAt(*terminal, 0, 0).width, 2);
    EXPECT_EQ(cellAt(*terminal, 1, 0).width, 0);
    EXPECT_EQ(terminal->getCharacter(cellAt(*terminal, 0, 0).code), U"\u2764\uFE0F");

}

// Both paths must give the same cells: the ASCII writer is only for 0x20-0x7E.
TEST(Print, ControlBytesInsideARunAreDroppedByEitherPath)
{
    const auto terminal = makeTerminal(20, 2);
    terminal->handlePrint(bytesOf("ab\x19" "c\x7f" "d"));
    EXPECT_EQ(screenLine(*terminal, 0), "abcd");
    EXPECT_EQ(cursor(*terminal), (CursorPosition{4, 0}));
}

TEST(Print, ClusterIsCappedAt32Scalars)
{
    const auto terminal = makeTerminal(20, 2);
    std::string input = "e";
    for (int i = 0; i < 2000; ++i)
        input += "\xcc\x81";
    input += "x";
    feed(*terminal, input);
    const std::u32string character = terminal->getCharacter(cellAt(*terminal, 0, 0).code);
    EXPECT_EQ(character.size(), 32u);
    EXPECT_EQ(character.substr(0, 2), U"e\u0301");
    EXPECT_LE(terminal->charToIndexMap().size(), 31u);
    EXPECT_EQ(screenLine(*terminal, 0).back(), 'x');
    EXPECT_EQ(cursor(*terminal), (CursorPosition{2, 0}));
}

// Every way the current attribute changes reaches the cells printed after it, by every print
// path (a lone ASCII byte, a run, a wide character, a character set's replacement).
TEST(Print, CellsTakeTheAttributeInForceHoweverItWasSet)
{
    const struct {
        const char* name;
        const char* change;
    } changes[] = {
        {"SGR", "\x1b[1;3;31;48;5;200m"},
        {"SGR with a true underline colour", "\x1b[4:3;58:2::10:20:30m"},
        {"SGR 0", "\x1b[1;31m\x1b[0m"},
        {"empty SGR", "\x1b[1;31m\x1b[m"},
        {"restore cursor", "\x1b[7m\x1b" "7\x1b[0;32m\x1b" "8"},
        {"soft reset", "\x1b[1;31m\x1b[!p"},
        {"full reset", "\x1b[1;31m\x1b" "c"},
    };
    const struct {
        const char* name;
        const char* text;
    } prints[] = {{"byte", "x"}, {"run", "xyz"}, {"wide", "\xe4\xb8\xad"}, {"line drawing", "\x1b(0q\x1b(B"}};
    for (const auto& change : changes) {
        for (const auto& print : prints) {
            const auto terminal = makeTerminal(20, 3);
            feed(*terminal, std::string("\x1b[38;2;1;2;3m") + change.change);
            feed(*terminal, "\x1b[H");
            feed(*terminal, print.text);
            EXPECT_EQ(cellAt(*terminal, 0, 0).attribute, terminal->curAttr()) << change.name << ", " << print.name;
        }
    }
}

TEST(Print, NoNewClusterCodesOnceTheTableIsFull)
{
    const auto terminal = makeTerminal(20, 2);
    const std::int32_t known = terminal->getCharacterCode(U"a\u0301");
    terminal->advanceNextCharacterCode(INT32_MAX);
    feed(*terminal, "\xf0\x9f\x98\x80");
    EXPECT_EQ(cellAt(*terminal, 0, 0).code, 0xFFFD);
    EXPECT_EQ(terminal->lastCharIndex(), INT32_MAX);
    // Clusters registered before still resolve.
    EXPECT_EQ(terminal->getCharacterCode(U"a\u0301"), known);
}

TEST(Print, TheNextClusterCodeNeverMovesBack)
{
    const auto terminal = makeTerminal(20, 2);
    const std::int32_t first = terminal->getCharacterCode(U"a\u0301");
    terminal->advanceNextCharacterCode(first - 5);
    EXPECT_NE(terminal->getCharacterCode(U"e\u0301"), first) << "a code handed out twice";
    EXPECT_EQ(terminal->getCharacterCode(U"a\u0301"), first);
}

TEST(Print, HostOscHandlerReplacesTheBuiltInOne)
{
    const auto terminal = makeTerminal(20, 2);
    std::vector<std::string> seen;
    terminal->registerOscHandler(1234, [&](std::span<const std::uint8_t> payload) {
        seen.emplace_back(payload.begin(), payload.end());
    });
    feed(*terminal, "\x1b]1234;first\x07");
    terminal->registerOscHandler(1234, [&](std::span<const std::uint8_t>) { seen.emplace_back("second handler"); });
    feed(*terminal, "\x1b]1234;again\x07");
    EXPECT_EQ(seen, (std::vector<std::string>{"first", "second handler"}));
}

} // namespace
} // namespace corvantix
