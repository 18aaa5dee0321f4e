// The print path's shortcuts (the run writer for plain text, the batch of plain cells, the
// skipped joining work, the reused scrollback lines) against the general path: the same
// bytes fed in one piece, byte by byte and in odd chunks must leave the same screen,
// scrollback, attributes and links.
#include "TerminalTestSupport.h"

#include "model/CharData.h"
#include "model/TinyAtom.h"

#include <sstream>

namespace corvantix {
namespace {

struct PathCase {
    const char* name;
    std::string input;
    RegionalIndicatorWidth indicators = RegionalIndicatorWidth::wide;
};

void PrintTo(const PathCase& c, std::ostream* out) { *out << c.name; }

// A small terminal whose scrollback fills after a few lines, so that scrolling reuses its
// oldest lines.
std::unique_ptr<Terminal> smallTerminal(RegionalIndicatorWidth indicators)
{
    TerminalOptions options;
    options.cols = 10;
    options.rows = 4;
    options.scrollback = 3;
    options.regionalIndicatorWidth = indicators;
    return std::make_unique<Terminal>(nullptr, options);
}

std::string characterText(const Terminal& terminal, std::int32_t code)
{
    std::string text;
    if (code == 0)
        return text;
    for (char32_t scalar : terminal.getCharacter(code))
        appendUtf8(text, scalar);
    return text;
}

// The link a cell carries; its code differs between terminals, which register links each.
std::string linkText(TinyAtom payload)
{
    return payload.code == 0 ? std::string() : TinyAtom::registry().lookup(payload.code).value_or("?");
}

// Every line of the ring, every cell with its character (not its code: the path may number
// clusters differently only if it were wrong, and then the text differs too), width,
// attribute, link and zone; then the cursor.
std::vector<std::string> snapshot(const Terminal& terminal)
{
    std::vector<std::string> lines;
    const Buffer& screen = terminal.buffer();
    for (int index = 0; index < screen.lines().count(); ++index) {
        const auto& line = screen.lines().peek(index);
        std::ostringstream out;
        if (!line) {
            lines.push_back("(empty slot)");
            continue;
        }
        out << (line->isWrapped() ? "wrapped|" : "|");
        for (const CharData& cell : line->cells()) {
            out << characterText(terminal, cell.code) << '/' << int(cell.width) << '/' << cell.attribute.sgrParameters()
                << '/' << int(cell.attribute.fg.kind()) << int(cell.attribute.fg.code()) << ','
                << int(cell.attribute.bg.kind()) << int(cell.attribute.bg.code()) << '/' << linkText(cell.payload) << '/'
                << int(cell.semanticContentCode) << ' ';
        }
        lines.push_back(out.str());
    }
    lines.push_back("cursor " + std::to_string(screen.x()) + "," + std::to_string(screen.y()) + " base "
                    + std::to_string(screen.yBase()));
    return lines;
}

void feedInChunks(Terminal& terminal, std::string_view bytes, std::size_t size)
{
    for (std::size_t at = 0; at < bytes.size(); at += size)
        terminal.feed(bytes.substr(at, size));
}

class PrintPath : public ::testing::TestWithParam<PathCase> {};

TEST_P(PrintPath, AnySplitGivesTheSameScreenAndScrollback)
{
    const PathCase& c = GetParam();
    const auto whole = smallTerminal(c.indicators);
    whole->feed(c.input);
    const std::vector<std::string> expected = snapshot(*whole);
    // The input must have left a mark, or the comparisons below prove nothing.
    ASSERT_NE(expected, snapshot(*smallTerminal(c.indicators)));

    const auto single = smallTerminal(c.indicators);
    feedByteByByte(*single, c.input);
    EXPECT_EQ(snapshot(*single), expected) << "byte by byte";
    for (const std::size_t size : {2u, 3u, 7u, 17u}) {
        const auto chunked = smallTerminal(c.indicators);
        feedInChunks(*chunked, c.input, size);
        EXPECT_EQ(snapshot(*chunked), expected) << "chunks of " << size;
    }
}

std::string repeated(std::string_view text, int times)
{
    std::string out;
    for (int i = 0; i < times; ++i)
        out += text;
    return out;
}

// Plain text with `odd` after 0, 1, 2 ... 40 letters, so that it falls at every offset of
// the scan that finds where plain text ends.
std::string atEveryOffset(std::string_view odd)
{
    std::string out;
    for (int letters = 0; letters <= 40; ++letters)
        out += std::string(static_cast<std::size_t>(letters), 'a' + static_cast<char>(letters % 26)) + std::string(odd);
    return out;
}

INSTANTIATE_TEST_SUITE_P(
    Print, PrintPath,
    ::testing::Values(
        PathCase{"AsciiWrapsAndScrollsThroughAFullScrollback",
                 repeated("abcdefghijklmnopqrstuvwxyz0123\r\nshort\r\n\r\n0123456789\r\n", 4)},
        PathCase{"BackgroundColourFillsReusedLines",
                 "\x1b[44m" + repeated("blue line of text\r\n", 6) + "\x1b[0;41mx\r\n\n\n" + "\x1b[1;33mbold\r\n\n"},
        PathCase{"AttributesChangeInsideARun", repeated("ab\x1b[7mcd\x1b[27mef\x1b[38;5;200mgh\x1b[m", 6)},
        PathCase{"WideCharactersAtTheEdge", repeated("abcdefghi\xe4\xb8\xad\xe6\x96\x87x\r\n", 3)},
        PathCase{"MarksSkinTonesJoinersAndFlags",
                 repeated("e\xcc\x81\xcc\x88 \xf0\x9f\x91\x8d\xf0\x9f\x8f\xbd"
                          "\xf0\x9f\x91\xa8\xe2\x80\x8d\xf0\x9f\x91\xa9\xe2\x80\x8d\xf0\x9f\x91\xa7"
                          "\xf0\x9f\x87\xba\xf0\x9f\x87\xb8\xf0\x9f\x87\xa9",
                          4)},
        PathCase{"NarrowRegionalIndicators", repeated("\xf0\x9f\x87\xba\xf0\x9f\x87\xb8" "ab\xf0\x9f\x87\xaf", 5),
                 RegionalIndicatorWidth::narrow},
        PathCase{"PresentationSelectors", repeated("\xe2\x9d\xa4\xef\xb8\x8f\xe2\x8c\x9a\xef\xb8\x8e" "a\xef\xb8\x8f", 5)},
        // Pictographs and a spacing mark right after a joiner, then the same after plain cells.
        PathCase{"ScalarsThatMayFollowAJoiner",
                 repeated("\xf0\x9f\x91\xa9\xe2\x80\x8d\xe2\x98\x80\xe0\xa4\x95\xe2\x80\x8d\xe0\xa4\x83"
                          "\xe2\x98\x80\xe4\xb8\xad",
                          4)},
        PathCase{"ScriptsThatNeverJoin", repeated("\xd7\x90\xd7\x91\xd8\xa7\xd8\xa8\xea\xb0\x80\xe2\x94\x80 ", 5)},
        PathCase{"InsertModeShiftsTheRow", "0123456789\r\x1b[4hXY\xe4\xb8\xad" + repeated("long run of plain text ", 2) + "\x1b[4l"},
        PathCase{"NoWraparoundOverwritesTheLastColumn", "\x1b[?7l" + repeated("abcdefghijklmnop\xe4\xb8\xad\r\n", 3)},
        PathCase{"LeftAndRightMargins",
                 "\x1b[?69h\x1b[3;7s\x1b[3G" + repeated("margins hold this text\r\n\x1b[3G", 4) + "\x1b[?69l"},
        PathCase{"ScrollRegion", "\x1b[2;3r\x1b[3;1H" + repeated("region text that wraps\r\n", 4)},
        PathCase{"DecGraphicsOnG0", "\x1b(0lqqqqqqqqqqqqqqqqqqqqk\r\nx\x1b(B q x \x1b(0" + repeated("qx", 12) + "\x1b(B"},
        // Short stretches of line drawing between other characters take the batch path.
        PathCase{"DecGraphicsMixedWithUtf8", "\x1b(0qx\xc3\xa9lqk\xe4\xb8\xadtu\x1b(B" + repeated("a\xc3\xa9", 8)},
        PathCase{"DecGraphicsOnG1ShiftedIn", "\x1b)0\x0elqqqqqqqqqqqqqqqqqqk\x0fqq"},
        PathCase{"ProtectedCharacters", "\x1b[1\"qprotected text\x1b[0\"q plain text\x1b[1;1H\x1b[?2K"},
        PathCase{"SemanticZones",
                 "\x1b]133;A\x07$ \x1b]133;B\x07ls -l --long-option\x1b]133;C\x07\r\noutput line one\r\n"
                 "\x1b]133;D;0\x07\x1b]133;A\x07$ "},
        PathCase{"Hyperlink", "\x1b]8;;http://example.test/\x1b\\link text that wraps over rows\x1b]8;;\x1b\\ plain"},
        PathCase{"TwoByteCharacterAtEveryOffset", atEveryOffset("\xc3\xa9")},
        PathCase{"WideCharacterAtEveryOffset", atEveryOffset("\xe4\xb8\xad")},
        PathCase{"DelAtEveryOffset", atEveryOffset("\x7f")},
        PathCase{"MalformedUtf8", repeated("\xe9" "ab\xe2\x82" "A\xff\xaf\xe0\x80\xaf\xf4\x90\x80\x80\xc2\x85z", 3)}),
    [](const ::testing::TestParamInfo<PathCase>& info) { return std::string(info.param.name); });

// One character painted by itself (between two sequences) over a half of a wide character:
// the other half becomes a blank, and a neighbour that is no half stays as it is. Each row
// lists the cells of the first row as character/width.
struct HalfCase {
    const char* name;
    std::string input;
    std::string cells;
};

void PrintTo(const HalfCase& c, std::ostream* out) { *out << c.name; }

std::string firstRowCells(const Terminal& terminal)
{
    std::string out;
    for (const CharData& cell : terminal.buffer().lines().peek(terminal.buffer().yBase())->cells())
        out += (cell.code == 0 ? std::string("_") : characterText(terminal, cell.code)) + "/" + std::to_string(cell.width) + " ";
    return out;
}

class SingleCharacterOverWideHalves : public ::testing::TestWithParam<HalfCase> {};

TEST_P(SingleCharacterOverWideHalves, LeavesNoLoneHalf)
{
    const HalfCase& c = GetParam();
    for (const bool byteWise : {false, true}) {
        const auto terminal = smallTerminal(RegionalIndicatorWidth::wide);
        if (byteWise)
            feedByteByByte(*terminal, c.input);
        else
            terminal->feed(c.input);
        EXPECT_EQ(firstRowCells(*terminal), c.cells) << (byteWise ? "byte by byte" : "whole");
    }
}

INSTANTIATE_TEST_SUITE_P(
    Print, SingleCharacterOverWideHalves,
    ::testing::Values(
        HalfCase{"OverTheSecondHalf", "\xe4\xb8\xad\xe6\x96\x87" "ab\x1b[1;2Hx\x1b[m",
                 "_/1 x/1 \xe6\x96\x87/2 _/0 a/1 b/1 _/1 _/1 _/1 _/1 "},
        HalfCase{"OverTheFirstHalf", "\xe4\xb8\xad\xe6\x96\x87" "ab\x1b[1;3Hx\x1b[m",
                 "\xe4\xb8\xad/2 _/0 x/1 _/1 a/1 b/1 _/1 _/1 _/1 _/1 "},
        HalfCase{"BetweenTwoWideCharacters", "\xe4\xb8\xad" "a\xe6\x96\x87\x1b[1;3Hx\x1b[m",
                 "\xe4\xb8\xad/2 _/0 x/1 \xe6\x96\x87/2 _/0 _/1 _/1 _/1 _/1 _/1 "},
        HalfCase{"AtTheLastColumnAfterAWideCharacter", "\x1b[1;8H\xe4\xb8\xad" "a\x1b[1;10Hx\x1b[m",
                 "_/1 _/1 _/1 _/1 _/1 _/1 _/1 \xe4\xb8\xad/2 _/0 x/1 "},
        HalfCase{"AtTheFirstColumnBeforeAWideCharacter", "a\xe4\xb8\xad\x1b[1;1Hx\x1b[m",
                 "x/1 \xe4\xb8\xad/2 _/0 _/1 _/1 _/1 _/1 _/1 _/1 _/1 "}),
    [](const ::testing::TestParamInfo<HalfCase>& info) { return std::string(info.param.name); });

// A line scrolled out of a full scrollback comes back as the new bottom line, blank in the
// background colour of the moment: reused lines must not keep old text or the colour of an
// earlier scroll.
TEST(PrintPathReuse, ReusedBottomLineIsBlankInTheCurrentBackground)
{
    struct Step {
        const char* background;
        Attribute::Color expected;
    };
    const Step steps[] = {
        {"\x1b[44m", Attribute::Color::ansi256(4)},
        {"\x1b[41m", Attribute::Color::ansi256(1)},
        {"\x1b[48;2;1;2;3m", Attribute::Color::trueColor(1, 2, 3)},
        {"\x1b[m", Attribute::Color::defaultColor()},
    };
    const auto terminal = smallTerminal(RegionalIndicatorWidth::wide);
    terminal->feed(repeated("old text!!\r\n", 12)); // the ring is full and lines are reused
    for (const Step& step : steps) {
        terminal->feed(std::string("\x1b[1;7m") + step.background + "XYZ\r\n");
        const Buffer& screen = terminal->buffer();
        const BufferLine& bottom = *screen.lines().peek(screen.yBase() + screen.y());
        for (const CharData& cell : bottom.cells()) {
            ASSERT_EQ(cell.code, 0) << step.background;
            ASSERT_EQ(cell.width, 1) << step.background;
            ASSERT_EQ(cell.attribute.bg, step.expected) << step.background;
            // Only the background is kept: bold and inverse are not part of an erase.
            ASSERT_TRUE(cell.attribute.style.isEmpty()) << step.background;
            ASSERT_TRUE(cell.attribute.fg.isDefault()) << step.background;
        }
        EXPECT_FALSE(bottom.isWrapped());
    }
}

} // namespace
} // namespace corvantix
