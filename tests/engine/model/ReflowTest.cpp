#include <gtest/gtest.h>

#include <memory>
#include <ostream>
#include <optional>
#include <random>
#include <string>
#include <vector>

#include "engine/model/ModelTestSupport.h"
#include "model/Buffer.h"

namespace corvantix {
namespace {

constexpr char32_t kWide = 0x4E00;

// n letters A..Z repeated: every column of a logical line is recognisable.
std::string letters(int n)
{
    std::string text;
    for (int i = 0; i < n; ++i)
        text += static_cast<char>('A' + i % 26);
    return text;
}

// A buffer holding `history` lines named h0, h1, ... above a screen of blank rows.
std::unique_ptr<Buffer> screenWithHistory(int cols, int rows, int history, std::optional<int> scrollback = 100)
{
    auto buffer = std::make_unique<Buffer>(cols, rows, 8, scrollback);
    for (int i = 0; i < history; ++i) {
        auto line = buffer->getBlankLine(Attribute{});
        const std::string name = "h" + std::to_string(i);
        for (size_t c = 0; c < name.size(); ++c)
            line->setCell(static_cast<int>(c), cellOf(static_cast<unsigned char>(name[c])));
        buffer->lines().push(line);
    }
    for (int r = 0; r < rows; ++r)
        buffer->lines().push(buffer->getBlankLine(Attribute{}));
    buffer->setYBase(history);
    buffer->setYDisp(history);
    return buffer;
}

// A buffer whose screen is filled with blank rows.
std::unique_ptr<Buffer> screenOf(int cols, int rows, std::optional<int> scrollback = 100)
{
    return screenWithHistory(cols, rows, 0, scrollback);
}

void writeAt(Buffer& buffer, int line, std::string_view text)
{
    for (size_t i = 0; i < text.size(); ++i)
        buffer.lines()[line]->setCell(static_cast<int>(i), cellOf(static_cast<unsigned char>(text[i])));
}

// Writes one logical line from column 0 of `line` on, as printing with auto-wrap does: a
// wide character that does not fit in the last column leaves it empty and opens the next
// row. Answers the line after the last row used.
int writeLogicalLine(Buffer& buffer, int line, const std::vector<char32_t>& text, const std::vector<bool>& wide)
{
    int col = 0;
    for (size_t i = 0; i < text.size(); ++i) {
        const int width = wide[i] ? 2 : 1;
        if (col + width > buffer.cols()) {
            ++line;
            col = 0;
            buffer.lines()[line]->setIsWrapped(true);
        }
        buffer.lines()[line]->setCell(col, cellOf(text[i], static_cast<int8_t>(width)));
        if (width == 2)
            buffer.lines()[line]->setCell(col + 1, cellOf(0, 0));
        col += width;
    }
    return line + 1;
}

// Narrow text written the same way.
void writeWrapped(Buffer& buffer, int line, std::string_view text)
{
    writeLogicalLine(buffer, line, std::vector<char32_t>(text.begin(), text.end()), std::vector<bool>(text.size(), false));
}

std::string textOf(Buffer& buffer, int line) { return buffer.lines()[line]->translateToString(true); }

std::string cursorLineText(Buffer& buffer) { return textOf(buffer, buffer.yBase() + buffer.y()); }

void expectEveryLineWidth(Buffer& buffer, int cols)
{
    for (int i = 0; i < buffer.lines().count(); ++i)
        EXPECT_EQ(buffer.lines()[i]->dataSize(), cols) << "line " << i;
}

// A screen before and after one resize: the rows written (with auto-wrap or not), the cursor
// row, and every line after, a wrapped row shown with ">" before it.
struct Row { int line; std::string text; bool wrapped = false; };

// An empty text is not checked; savedY is before and after.
struct ReflowCase {
    const char* name;
    int cols, rows, history;
    std::optional<int> scrollback;
    std::vector<Row> written;
    int cursorY, newCols, newRows;
    std::vector<std::string> text;
    int count, yBase, y;
    std::optional<std::pair<int, int>> savedY = std::nullopt;
};

void PrintTo(const ReflowCase& c, std::ostream* out) { *out << c.name; }

class ReflowScreen : public ::testing::TestWithParam<ReflowCase> {};

TEST_P(ReflowScreen, KeepsTheTextAndTheCursorsLine)
{
    const ReflowCase& c = GetParam();
    auto buffer = screenWithHistory(c.cols, c.rows, c.history, c.scrollback);
    bool cursorOnDollar = false;
    for (const Row& row : c.written) {
        (row.wrapped ? writeWrapped : writeAt)(*buffer, row.line, row.text);
        cursorOnDollar |= row.text == "$";
    }
    buffer->setY(c.cursorY);
    if (c.savedY)
        buffer->savedY = c.savedY->first;
    buffer->resize(c.newCols, c.newRows);
    if (!c.text.empty()) {
        std::vector<std::string> text;
        for (int i = 0; i < buffer->lines().count(); ++i)
            text.push_back((buffer->lines()[i]->isWrapped() ? ">" : "") + textOf(*buffer, i));
        EXPECT_EQ(text, c.text);
    }
    EXPECT_EQ(buffer->lines().count(), c.count);
    EXPECT_EQ(buffer->yBase(), c.yBase);
    EXPECT_EQ(buffer->yDisp(), c.yBase);
    EXPECT_EQ(buffer->y(), c.y);
    EXPECT_EQ(buffer->scrollBottom(), c.newRows - 1);
    if (cursorOnDollar) {
        EXPECT_EQ(cursorLineText(*buffer), "$");
    }
    if (c.savedY) {
        EXPECT_EQ(buffer->savedY, c.savedY->second);
    }
    expectEveryLineWidth(*buffer, c.newCols);
}

const std::string L50 = letters(50), L60 = letters(60), L70 = letters(70), L100 = letters(100);

INSTANTIATE_TEST_SUITE_P(
    Reflow, ReflowScreen,
    ::testing::Values(
        // The emptied row goes; the cursor follows its line up and a blank row refills the screen.
        ReflowCase{"WideningJoinsWrappedRows", 40, 8, 0, 100, {{0, L100, true}, {3, "next"}, {4, "$"}}, 4, 80, 8,
                   {L100.substr(0, 80), ">" + L100.substr(80), "next", "$", "", "", "", ""}, 8, 0, 3, {{4, 3}}},
        ReflowCase{"WideningWithHistoryPullsTheScreenUp", 40, 4, 2, 100, {{1, L50, true}, {5, "$"}}, 3, 80, 4,
                   {"h0", L50, "", "", "$"}, 5, 1, 3},
        ReflowCase{"NarrowingSplitsALongLine", 80, 6, 0, 100, {{0, L70}, {3, "$"}}, 3, 40, 6,
                   {L70.substr(0, 40), ">" + L70.substr(40), "", "", "$", ""}, 6, 0, 4, {{2, 3}}},
        ReflowCase{"NarrowingWithTheCursorOnTheLastRowGrowsTheHistory", 80, 4, 0, 100, {{0, L70}, {3, "$"}}, 3, 40, 4,
                   {L70.substr(0, 40), ">" + L70.substr(40), "", "", "$"}, 5, 1, 3},
        ReflowCase{"NarrowingAFullRingDropsTheOldestLine", 80, 4, 2, 2, {{3, L70}, {5, "$"}}, 3, 40, 4,
                   {"h1", "", L70.substr(0, 40), ">" + L70.substr(40), "", "$"}, 6, 2, 3},
        // The cursor's own logical line is neither joined nor cut into rows: narrowing loses
        // its cells beyond the new width.
        ReflowCase{"TheCursorsWrappedLineIsNotJoined", 40, 4, 0, 100, {{0, L60, true}}, 1, 80, 4,
                   {L60.substr(0, 40), ">" + L60.substr(40), "", ""}, 4, 0, 1},
        ReflowCase{"TheCursorsLongLineIsCutNotSplit", 80, 4, 0, 100, {{0, L60}}, 0, 40, 4,
                   {L60.substr(0, 40), "", "", ""}, 4, 0, 0},
        // Rows changing below the cursor: with history the screen is refilled from it and the
        // cursor row moves down with its line; without, a blank row refills the bottom.
        ReflowCase{"WideningWithHistoryBelowTheCursor", 40, 4, 2, 100, {{2, "$"}, {3, L60, true}, {5, "tail"}}, 0, 80, 4,
                   {"h0", "h1", "$", L60, "tail"}, 5, 1, 1},
        ReflowCase{"WideningWithoutHistoryBelowTheCursor", 40, 6, 0, 100, {{1, "$"}, {3, L60, true}}, 1, 80, 6,
                   {"", "$", "", L60, "", ""}, 6, 0, 1},
        // A long line on the bottom row is kept whole: the screen scrolls, the bottom row not
        // being blank.
        ReflowCase{"NarrowingTheBottomRowBelowTheCursor", 80, 6, 0, 100, {{2, "$"}, {5, L70}}, 2, 40, 6,
                   {"", "", "$", "", "", L70.substr(0, 40), ">" + L70.substr(40)}, 7, 1, 1},
        // With the cursor on the top row the screen cannot scroll without parting it from
        // its line: the rows the text below gains push the bottom rows out instead.
        ReflowCase{"NarrowingBelowACursorOnTheTopRow", 80, 4, 0, 100, {{0, "$"}, {3, L70}}, 0, 40, 4,
                   {"$", "", "", L70.substr(0, 40)}, 4, 0, 0},
        ReflowCase{"NarrowingBelowACursorOnTheTopRowOfAFullRing", 80, 4, 2, 2, {{2, "$"}, {5, L70}}, 0, 40, 4,
                   {"h0", "h1", "$", "", "", L70.substr(0, 40)}, 6, 2, 0},
        // Fewer rows: with the cursor on the last row the screen slides down over the bottom;
        // higher up, without history, the bottom lines go. More rows bring history back.
        ReflowCase{"FewerRowsWithTheCursorOnTheLastRow", 80, 24, 0, 500, {{23, "$"}}, 23, 80, 20, {}, 24, 4, 19},
        ReflowCase{"FewerRowsWithTheCursorHigherUp", 80, 24, 0, 500, {{5, "$"}}, 5, 80, 20, {}, 20, 0, 5},
        ReflowCase{"MoreRowsBringTheHistoryBack", 80, 24, 10, 500, {{15, "$"}}, 5, 80, 30, {}, 34, 4, 11}),
    [](const ::testing::TestParamInfo<ReflowCase>& info) { return std::string(info.param.name); });

TEST(Reflow, WideCharactersAtTheNewEdgeMoveWhole)
{
    // Widening 10 -> 15: the wide character would straddle the new edge, so it opens the next
    // row and the edge column becomes a null cell.
    auto wider = screenOf(10, 4);
    writeAt(*wider, 0, "abcdefghij");
    wider->lines()[1]->setIsWrapped(true);
    writeAt(*wider, 1, "klmn");
    wider->lines()[1]->setCell(4, cellOf(kWide, 2));
    wider->lines()[1]->setCell(5, cellOf(0, 0));
    wider->lines()[1]->setCell(6, cellOf('o'));
    wider->setY(3);
    wider->resize(15, 4);
    EXPECT_EQ(textOf(*wider->lines()[0]), "abcdefghijklmn.");
    EXPECT_EQ(textOf(*wider->lines()[1]), "W_o............");
    EXPECT_TRUE(wider->lines()[1]->isWrapped());
    // Narrowing 10 -> 4: a row that would end on the first half of a wide character is cut
    // one column early and ends in a null cell.
    auto narrower = screenOf(10, 4);
    writeAt(*narrower, 0, "abc");
    narrower->lines()[0]->setCell(3, cellOf(kWide, 2));
    narrower->lines()[0]->setCell(4, cellOf(0, 0));
    narrower->lines()[0]->setCell(5, cellOf('d'));
    narrower->lines()[0]->setCell(6, cellOf('e'));
    narrower->setY(3);
    narrower->resize(4, 4);
    EXPECT_EQ(textOf(*narrower->lines()[0]), "abc.");
    EXPECT_EQ(textOf(*narrower->lines()[1]), "W_de");
    EXPECT_TRUE(narrower->lines()[1]->isWrapped());
}

TEST(Reflow, SemanticMarksTravelWithTheirCells)
{
    auto buffer = screenOf(80, 4);
    writeAt(*buffer, 0, letters(70));
    buffer->lines()[0]->setSemanticMark(SemanticPromptKind::secondary, 45, 1);
    buffer->setY(3);
    buffer->resize(40, 4);
    EXPECT_TRUE(buffer->lines()[0]->semanticMarks().empty());
    ASSERT_EQ(buffer->lines()[1]->semanticMarks().size(), 1u);
    EXPECT_EQ(buffer->lines()[1]->semanticMarks()[0].column, 5);
}

TEST(Reflow, CapacityFollowsTheRowCount)
{
    auto buffer = screenWithHistory(80, 24, 500, 500);
    ASSERT_EQ(buffer->lines().count(), 524);
    ASSERT_EQ(buffer->lines().maxLength(), 524);
    writeAt(*buffer, 523, "$");
    buffer->setY(23);
    buffer->savedY = 10;
    buffer->resize(80, 30);
    EXPECT_EQ(layoutOf(*buffer), "lines 524/530 base 494 disp 494 y 29 saved 10");
    buffer->resize(80, 20);
    EXPECT_EQ(layoutOf(*buffer), "lines 520/520 base 500 disp 500 y 19 saved 6");
    EXPECT_EQ(cursorLineText(*buffer), "$");
    EXPECT_EQ(textOf(*buffer, 0), "h4") << "the four oldest lines went";
}

TEST(Reflow, ABufferWithoutHistoryKeepsItsCells)
{
    auto buffer = screenOf(80, 5, std::nullopt);
    const std::string text = letters(70);
    writeAt(*buffer, 0, text);
    buffer->resize(40, 5);
    EXPECT_EQ(buffer->lines()[0]->dataSize(), 80);
    EXPECT_FALSE(buffer->lines()[1]->isWrapped());
    buffer->resize(80, 5);
    EXPECT_EQ(textOf(*buffer, 0), text);
    // A width in between cuts the lines to exactly that width.
    buffer->resize(40, 5);
    buffer->resize(60, 5);
    buffer->resize(80, 5);
    EXPECT_EQ(textOf(*buffer, 0), text.substr(0, 60));
}

TEST(Reflow, EmptyBufferChangesOnlyMarginsCapacityRegionAndTabs)
{
    Buffer buffer(80, 24, 8, 500);
    buffer.setX(5);
    buffer.setY(7);
    buffer.resize(40, 10);
    EXPECT_EQ(layoutOf(buffer), "lines 0/510 base 0 disp 0 y 7 saved 0");
    EXPECT_EQ(buffer.marginRight(), 39);
    EXPECT_EQ(buffer.scrollBottom(), 9);
    EXPECT_EQ(buffer.tabStops.size(), 40u);
    EXPECT_EQ(buffer.x(), 5);
    // Without history the capacity is the row count, also while the screen is empty.
    Buffer alternate(80, 24, 8, std::nullopt);
    alternate.resize(80, 10);
    EXPECT_EQ(alternate.lines().maxLength(), 10);
}

TEST(Reflow, ResizeToTheSameSizeChangesNothing)
{
    auto buffer = screenOf(40, 6);
    writeWrapped(*buffer, 0, letters(60));
    buffer->setScrollTop(1);
    buffer->setScrollBottom(3);
    buffer->setX(40); // pending wrap
    buffer->setY(2);
    const uint64_t generation = buffer->lines()[0]->generation();
    buffer->resize(40, 6);
    EXPECT_EQ(std::vector<int>({buffer->scrollTop(), buffer->scrollBottom(), buffer->x(), buffer->y()}),
              std::vector<int>({1, 3, 40, 2}));
    EXPECT_EQ(buffer->lines()[0]->generation(), generation);
    EXPECT_TRUE(buffer->lines()[1]->isWrapped() && !buffer->lines()[2]->isWrapped());
}

// The characters of each logical line (wrapped rows joined), blanks and placeholders left out.
std::vector<std::u32string> logicalLines(Buffer& buffer, int lastLine)
{
    std::vector<std::u32string> result;
    for (int i = 0; i <= lastLine; ++i) {
        if (!buffer.lines()[i]->isWrapped() || result.empty())
            result.emplace_back();
        for (const CharData& cell : buffer.lines()[i]->cells()) {
            if (cell.code != 0)
                result.back() += static_cast<char32_t>(cell.code);
        }
    }
    return result;
}

// A wide character sits whole on one row: its placeholder follows it on the same row.
void expectNoSplitWideCharacter(Buffer& buffer, const std::string& where)
{
    for (int i = 0; i < buffer.lines().count(); ++i) {
        const auto cells = buffer.lines()[i]->cells();
        for (size_t c = 0; c < cells.size(); ++c) {
            if (cells[c].width == 2) {
                EXPECT_TRUE(c + 1 < cells.size() && cells[c + 1].width == 0) << where << " line " << i << " col " << c;
            }
            if (cells[c].width == 0) {
                EXPECT_TRUE(c > 0 && cells[c - 1].width == 2) << where << " line " << i << " col " << c;
            }
        }
    }
}

// A buffer with history holding random logical lines (wide characters included) and a "$"
// line for the cursor, inserted before logical line `cursorAt` (after the last when it equals
// the count). The screen is the last rows; answers false when the cursor's line would be
// above it.
bool fillRandomly(Buffer& buffer, std::mt19937& random, int logicalCount, int cursorAt)
{
    const auto pick = [&](int low, int high) { return std::uniform_int_distribution<int>(low, high)(random); };
    buffer.lines().setCount(200); // blank lines for the text to go to
    int line = 0;
    int cursorLine = 0;
    for (int n = 0; n <= logicalCount; ++n) {
        if (n == cursorAt) {
            writeAt(buffer, line, "$");
            cursorLine = line++;
        }
        if (n == logicalCount)
            break;
        std::vector<char32_t> text;
        std::vector<bool> wide;
        for (int i = pick(0, 3 * buffer.cols()); i > 0; --i) {
            wide.push_back(pick(0, 4) == 0);
            text.push_back(wide.back() ? kWide + static_cast<char32_t>(pick(0, 50)) : static_cast<char32_t>('a' + pick(0, 25)));
        }
        line = writeLogicalLine(buffer, line, text, wide);
    }
    buffer.lines().setCount(std::max(line, buffer.rows()));
    buffer.setYBase(buffer.lines().count() - buffer.rows());
    buffer.setYDisp(buffer.yBase());
    buffer.setY(cursorLine - buffer.yBase());
    return cursorLine >= buffer.yBase();
}

std::vector<std::u32string> withoutTrailingBlankLines(std::vector<std::u32string> lines)
{
    while (!lines.empty() && lines.back().empty())
        lines.pop_back();
    return lines;
}

// Random wrapped text through random widths: every logical line keeps its characters, no
// wide character is split, the screen stays inside the ring and the cursor stays on its line.
TEST(Reflow, RandomWidthChangesKeepEveryLogicalLine)
{
    for (unsigned seed = 1; seed <= 300; ++seed) {
        std::mt19937 random(seed);
        const auto pick = [&](int low, int high) { return std::uniform_int_distribution<int>(low, high)(random); };
        const int rows = pick(3, 12);
        Buffer buffer(pick(2, 30), rows, 8, 1000);
        const int logicalCount = pick(0, 12);
        // Every other seed puts the cursor on the last line, the others anywhere.
        const int cursorAt = seed % 2 == 0 ? logicalCount : pick(0, logicalCount);
        if (!fillRandomly(buffer, random, logicalCount, cursorAt))
            continue;
        const auto before = withoutTrailingBlankLines(logicalLines(buffer, buffer.lines().count() - 1));
        for (int step = 0; step < 6; ++step) {
            const int cols = pick(2, 40);
            buffer.resize(cols, rows);
            const std::string where = "seed " + std::to_string(seed) + " step " + std::to_string(step);
            ASSERT_EQ(cursorLineText(buffer), "$") << where;
            // Text below a cursor on the top row may lose its last rows (the screen does not
            // scroll the cursor's line away); everything else is kept.
            const auto after = withoutTrailingBlankLines(logicalLines(buffer, buffer.lines().count() - 1));
            if (after != before) {
                EXPECT_EQ(buffer.y(), 0) << where;
                ASSERT_FALSE(after.empty()) << where;
                ASSERT_LE(after.size(), before.size()) << where;
                for (size_t k = 0; k + 1 < after.size(); ++k)
                    EXPECT_EQ(after[k], before[k]) << where << " logical line " << k;
                EXPECT_EQ(before[after.size() - 1].substr(0, after.back().size()), after.back()) << where;
                break;
            }
            EXPECT_LE(buffer.yBase() + rows, buffer.lines().count()) << where;
            EXPECT_LT(buffer.y(), rows) << where;
            expectEveryLineWidth(buffer, cols);
            expectNoSplitWideCharacter(buffer, where);
        }
    }
}

} // namespace
} // namespace corvantix
