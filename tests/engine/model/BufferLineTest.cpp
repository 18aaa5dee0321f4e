#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "model/Buffer.h"
#include "model/BufferLine.h"
#include "engine/model/ModelTestSupport.h"
#include "engine/platform/LogCapture.h"

namespace corvantix {
namespace {

using Color = Attribute::Color;

const CharData kFill = cellOf('F');

std::vector<int> markColumns(const BufferLine& line)
{
    std::vector<int> columns;
    for (const SemanticMark& mark : line.semanticMarks())
        columns.push_back(mark.column);
    return columns;
}

// Puts a wide character (width 2, then its code-0 placeholder) at col.
void putWide(BufferLine& line, int col, char32_t c = 0x4E00)
{
    line.setCell(col, cellOf(c, 2));
    line.setCell(col + 1, cellOf(0, 0));
}

TEST(LineCreate, CopySharesImagesAndStartsFresh)
{
    auto source = lineOf("abc");
    auto image = std::make_shared<FakeImage>();
    source->setImages(BufferLine::Images{image});
    source->setRenderMode(BufferLine::RenderLineMode::doubleWidth);
    source->setSemanticMark(SemanticPromptKind::initial, 1, 3);
    source->setSemanticHardContinuationGroup(3);
    source->setIsWrapped(true);
    auto copy = BufferLine::initCopy(*source);
    EXPECT_EQ(textOf(*copy), "abc");
    EXPECT_TRUE(copy->generation() == 0u && copy->isWrapped()
                && copy->renderMode() == BufferLine::RenderLineMode::doubleWidth);
    EXPECT_EQ(copy->semanticMarks(), source->semanticMarks());
    EXPECT_EQ(copy->semanticHardContinuationGroup(), 3u);
    ASSERT_TRUE(copy->images().has_value());
    EXPECT_EQ(copy->images()->front().get(), image.get());
    copy->setCell(0, cellOf('z'));
    EXPECT_EQ(textOf(*source), "abc"); // cells are not shared
}

TEST(LineCells, OutOfRangeAccess)
{
    auto line = lineOf("abc");
    EXPECT_EQ(line->getCell(3).code, 'c');
    EXPECT_EQ(line->getCell(100).code, 'c');
    LogCapture quiet;
    line->setCell(3, cellOf('z'));
    EXPECT_EQ(textOf(*line), "abz");
    // A line without cells (a negative width makes one) reads the default cell and ignores
    // writes.
    EXPECT_EQ(BufferLine(-2).dataSize(), 0);
    BufferLine empty(0);
    EXPECT_EQ(empty.getCell(0), CharData::defaultCell());
    empty.setCell(0, cellOf('q'));
    EXPECT_EQ(empty.dataSize(), 0);
}

TEST(LineCells, ContentAndTrimmedLength)
{
    BufferLine line(6);
    EXPECT_FALSE(line.hasAnyContent());
    EXPECT_EQ(line.getTrimmedLength(), 0);
    CharData coloured;
    coloured.attribute.bg = Color::ansi256(2);
    line.setCell(5, coloured);
    EXPECT_TRUE(line.hasAnyContent());
    EXPECT_TRUE(line.cellHasContent(5));
    EXPECT_FALSE(line.cellHasContent(4));
    EXPECT_EQ(line.getTrimmedLength(), 0); // colour alone does not count
    line.setCell(1, cellOf('a'));
    EXPECT_EQ(line.getTrimmedLength(), 2);
    putWide(line, 4);
    EXPECT_EQ(line.getTrimmedLength(), 6);
    EXPECT_TRUE(line.cellWidth(4) == 2 && line.cellWidth(5) == 0);
    EXPECT_EQ(BufferLine(0).getTrimmedLength(), 0);
}

TEST(LineInsertDelete, MarksShiftWithCells)
{
    auto line = lineOf("abcdefghij");
    line->setSemanticMark(SemanticPromptKind::initial, 2, 1);
    line->setSemanticMark(SemanticPromptKind::secondary, 7, 1);
    line->insertCells(3, 2, 8, kFill);
    EXPECT_EQ(markColumns(*line), (std::vector<int>{2, 8}));
    line->deleteCells(1, 4, 8, kFill);
    EXPECT_EQ(markColumns(*line), (std::vector<int>{1, 4})); // 2 clamps to the start, 8 - 4
    // Marks right of the margin stay put.
    auto wide = lineOf("abcdefghij");
    wide->setSemanticMark(SemanticPromptKind::right, 9, 1);
    wide->insertCells(0, 3, 5, kFill);
    EXPECT_EQ(markColumns(*wide), (std::vector<int>{9}));
    // Nothing to do past the margin: marks do not move either.
    const uint64_t before = line->generation();
    line->insertCells(9, 2, 8, kFill);
    EXPECT_EQ(markColumns(*line), (std::vector<int>{1, 4}));
    EXPECT_EQ(line->generation(), before);
}

TEST(LineMarks, SetClearShiftClamp)
{
    BufferLine line(10);
    line.setSemanticMark(SemanticPromptKind::secondary, 6, 1);
    line.setSemanticMark(SemanticPromptKind::initial, 3, 1);
    line.setSemanticMark(SemanticPromptKind::secondary, 1, 2);
    EXPECT_EQ(line.semanticMarks(), (std::vector<SemanticMark>{{SemanticPromptKind::secondary, 1, 2},
                                                               {SemanticPromptKind::initial, 3, 1}}));
    uint64_t g = line.generation();
    line.shiftSemanticMarks(0, 0, 9);
    EXPECT_EQ(line.generation(), g);
    line.clampSemanticMarks(2);
    EXPECT_EQ(markColumns(line), (std::vector<int>{1, 1}));
    line.clampSemanticMarks(0);
    EXPECT_TRUE(line.semanticMarks().empty());
    g = line.generation();
    line.clampSemanticMarks(5);
    EXPECT_EQ(line.generation(), g);
    line.setSemanticMark(SemanticPromptKind::initial, 0, 4);
    line.setSemanticHardContinuationGroup(4);
    line.clearSemanticState();
    EXPECT_TRUE(line.semanticMarks().empty());
    EXPECT_FALSE(line.semanticHardContinuationGroup().has_value());
}

TEST(LineResize, WidthsMarksAndFill)
{
    auto line = lineOf("abcdef");
    line->setIsWrapped(true);
    line->setSemanticMark(SemanticPromptKind::initial, 5, 1);
    auto image = std::make_shared<FakeImage>();
    line->setImages(BufferLine::Images{image});
    uint64_t g = line->generation();
    line->resize(6, kFill);
    EXPECT_EQ(line->generation(), g);
    line->resize(3, kFill);
    EXPECT_EQ(textOf(*line), "abc");
    EXPECT_EQ(markColumns(*line), (std::vector<int>{2}));
    EXPECT_NE(line->generation(), g);
    line->resize(5, cellOf('n'));
    EXPECT_EQ(textOf(*line), "abcnn"); // the given fill, not the line's fill character
    EXPECT_TRUE(line->isWrapped());
    EXPECT_TRUE(line->hasImages());
    line->resize(0, kFill);
    EXPECT_TRUE(line->dataSize() == 0 && line->semanticMarks().empty() && line->getTrimmedLength() == 0);
}

TEST(LineCopy, CopyFromKeepsOwnRenderModeImagesAndFill)
{
    auto dst = BufferLine::create(8, cellOf('d'));
    dst->setRenderMode(BufferLine::RenderLineMode::doubledTop);
    auto image = std::make_shared<FakeImage>();
    dst->setImages(BufferLine::Images{image});
    auto src = lineOf("abc");
    src->setIsWrapped(true);
    src->setSemanticMark(SemanticPromptKind::initial, 1, 9);
    src->setSemanticHardContinuationGroup(9);
    BidiPresentationState rtl;
    rtl.fallbackDirection = BidiDirection::rightToLeft;
    src->setBidiState(rtl);
    dst->copyFrom(*src);
    EXPECT_EQ(textOf(*dst), "abc"); // three cells
    EXPECT_TRUE(dst->isWrapped());
    EXPECT_EQ(dst->semanticMarks(), src->semanticMarks());
    EXPECT_EQ(dst->semanticHardContinuationGroup(), 9u);
    EXPECT_EQ(dst->bidiState(), rtl);
    EXPECT_TRUE(dst->renderMode() == BufferLine::RenderLineMode::doubledTop && dst->hasImages()
                && dst->fillCharacter().code == 'd');
    // Growing again through copyFrom takes the larger source whole.
    dst->copyFrom(*lineOf("0123456789"));
    EXPECT_EQ(textOf(*dst), "0123456789");
}

TEST(LineCopy, CopyCellsMovesMarks)
{
    auto src = lineOf("abcdefgh");
    auto dst = lineOf("........");
    src->setSemanticMark(SemanticPromptKind::initial, 2, 1);
    src->setSemanticMark(SemanticPromptKind::right, 6, 1);
    dst->setSemanticMark(SemanticPromptKind::secondary, 1, 1);
    dst->setSemanticMark(SemanticPromptKind::initial, 7, 5);
    const uint64_t srcGeneration = src->generation();
    dst->copyCellsFrom(*src, 0, 0, 4); // range 0..3: carries the initial mark at 2
    EXPECT_EQ(textOf(*dst), "abcd....");
    // The secondary mark at 1 was overwritten; the existing initial mark at 7 keeps its place
    // (the moved one is not the prompt start, so it is dropped).
    EXPECT_EQ(dst->semanticMarks(), (std::vector<SemanticMark>{{SemanticPromptKind::initial, 7, 5}}));
    EXPECT_EQ(src->semanticMarks(), (std::vector<SemanticMark>{{SemanticPromptKind::right, 6, 1}}));
    EXPECT_NE(src->generation(), srcGeneration);
    auto target = lineOf("........");
    target->copyCellsFrom(*src, 4, 1, 4); // moves the right mark from 6 to 3
    EXPECT_EQ(textOf(*target), ".efgh...");
    EXPECT_EQ(target->semanticMarks(), (std::vector<SemanticMark>{{SemanticPromptKind::right, 3, 1}}));
    EXPECT_TRUE(src->semanticMarks().empty());
    // Within one line: the moved mark lands at its new column.
    auto same = lineOf("abcdefgh");
    same->setSemanticMark(SemanticPromptKind::initial, 1, 2);
    same->setSemanticMark(SemanticPromptKind::right, 4, 2);
    same->copyCellsFrom(*same, 0, 3, 3); // source 0..2, destination 3..5
    EXPECT_EQ(same->semanticMarks(), (std::vector<SemanticMark>{{SemanticPromptKind::initial, 4, 2}}));
}

TEST(LineCopy, PromptStartMarkWinsAndMovesTheBufferAnchor)
{
    Buffer buffer(8, 3, 8, 10);
    auto start = lineOf("abcdefgh");
    auto dst = lineOf("........");
    start->setOwningBuffer(&buffer);
    dst->setOwningBuffer(&buffer);
    start->setSemanticMark(SemanticPromptKind::initial, 2, 4);
    dst->setSemanticMark(SemanticPromptKind::initial, 7, 3);
    buffer.semanticPromptStartLine = start;
    dst->copyCellsFrom(*start, 0, 0, 4);
    // The moved mark is the prompt start: it replaces the older mark of its kind, and the
    // buffer's prompt start follows it.
    EXPECT_EQ(dst->semanticMarks(), (std::vector<SemanticMark>{{SemanticPromptKind::initial, 2, 4}}));
    EXPECT_EQ(buffer.semanticPromptStartLine, dst);
    EXPECT_TRUE(start->semanticMarks().empty());
    // A mark that is not the prompt start's (another kind's first mark decides) is dropped.
    auto other = lineOf("........");
    other->setOwningBuffer(&buffer);
    other->setSemanticMark(SemanticPromptKind::right, 0, 1);
    auto from = lineOf("abcdefgh");
    from->setSemanticMark(SemanticPromptKind::right, 1, 4);
    other->copyCellsFrom(*from, 0, 4, 4);
    EXPECT_EQ(other->semanticMarks(), (std::vector<SemanticMark>{{SemanticPromptKind::right, 0, 1}}));
    EXPECT_EQ(buffer.semanticPromptStartLine, dst);
}

TEST(LineCopy, WholeLineCopyMovesHardContinuationGroup)
{
    auto src = lineOf("abcd");
    auto dst = lineOf("....");
    src->setSemanticHardContinuationGroup(12);
    dst->copyCellsFrom(*src, 0, 0, 4);
    EXPECT_EQ(dst->semanticHardContinuationGroup(), 12u);
    EXPECT_FALSE(src->semanticHardContinuationGroup().has_value());
    // A partial copy leaves the groups alone.
    auto other = lineOf("....");
    dst->setSemanticHardContinuationGroup(3);
    other->copyCellsFrom(*dst, 0, 0, 3);
    EXPECT_FALSE(other->semanticHardContinuationGroup().has_value());
    EXPECT_EQ(dst->semanticHardContinuationGroup(), 3u);
}

TEST(LineCopy, CopyCellsStaysInsideTheLinesAndMayOverlap)
{
    auto right = lineOf("abcdefgh");
    right->copyCellsFrom(*right, 1, 3, 4);
    EXPECT_EQ(textOf(*right), "abcbcdeh");
    auto left = lineOf("abcdefgh");
    left->copyCellsFrom(*left, 3, 1, 4);
    EXPECT_EQ(textOf(*left), "adefgfgh");
    auto src = lineOf("abcdef");
    auto dst = lineOf("...");
    dst->copyCellsFrom(*src, 2, 1, 10); // bounded to the two cells left in dst
    EXPECT_EQ(textOf(*dst), ".cd");
    dst->copyCellsFrom(*src, 5, 0, 4); // bounded to the one cell left in src
    EXPECT_EQ(textOf(*dst), "fcd");
}

TEST(LineText, TranslateToString)
{
    auto line = BufferLine::create(8);
    line->setCell(1, cellOf('b'));
    putWide(*line, 2);
    line->setCell(4, cellOf('c'));
    line->setCell(5, cellOf(0x400001));
    line->setCell(0, cellOf(0x00E9));
    EXPECT_EQ(line->translateToString(true), std::string("\xC3\xA9" "b\xE4\xB8\x80", 6) + std::string(1, '\0') + "c ");
    EXPECT_EQ(line->translateToString(true, 0, -1, true), "\xC3\xA9" "b\xE4\xB8\x80" "c ");
    EXPECT_EQ(line->translateToString(false, 4, 6), "c ");
    EXPECT_EQ(line->translateToString(false, 6, -1), std::string(2, '\0'));
    EXPECT_EQ(line->translateToString(true, 7, -1), "");
    EXPECT_EQ(line->translateToString(false, 3, 3), "");
    EXPECT_EQ(line->translateToString(false, 6, 40), std::string(2, '\0')); // stops at the end
    const auto provider = [](const CharData& cell) { return cell.code >= 0x400000 ? std::string("<key>") : std::string("."); };
    EXPECT_EQ(line->translateToString(true, 4, -1, false, provider), ".<key>");
}

TEST(LineGeneration, EveryChangeRaisesIt)
{
    struct Case { const char* name; std::function<void(BufferLine&)> change; };
    auto other = lineOf("zzzzzz");
    const Case cases[] = {
        {"setCell", [](BufferLine& l) { l.setCell(0, cellOf('q')); }},
        {"mutableCells", [](BufferLine& l) { l.mutableCells()[0] = PackedCell(cellOf('q')); }},
        {"fill", [](BufferLine& l) { l.fill(kFill); }},
        {"fillCells", [](BufferLine& l) { l.fillCells(kFill, 1, 2); }},
        {"fillRange empty", [](BufferLine& l) { l.fillRange(kFill, 3, 3); }},
        {"insertCells", [](BufferLine& l) { l.insertCells(1, 1, 5, kFill); }},
        {"deleteCells", [](BufferLine& l) { l.deleteCells(1, 1, 5, kFill); }},
        {"copyCellsFrom", [&](BufferLine& l) { l.copyCellsFrom(*other, 0, 0, 2); }},
        {"copyCellsFrom self", [](BufferLine& l) { l.copyCellsFrom(l, 0, 1, 2); }},
        {"resize", [](BufferLine& l) { l.resize(3, kFill); }}, {"copyFrom", [&](BufferLine& l) { l.copyFrom(*other); }},
        {"clearForRecycle", [](BufferLine& l) { l.clearForRecycle(Attribute{}); }},
        {"setIsWrapped", [](BufferLine& l) { l.setIsWrapped(false); }},
        {"setBidiState", [](BufferLine& l) { l.setBidiState({}); }},
        {"setRenderMode", [](BufferLine& l) { l.setRenderMode(BufferLine::RenderLineMode::single); }},
        {"setSemanticMarks", [](BufferLine& l) { l.setSemanticMarks({}); }},
        {"setSemanticHardContinuationGroup", [](BufferLine& l) { l.setSemanticHardContinuationGroup(77); }},
        {"setImages", [](BufferLine& l) { l.setImages(std::nullopt); }},
        {"setSemanticMark", [](BufferLine& l) { l.setSemanticMark(SemanticPromptKind::right, 2, 1); }},
        {"clearSemanticState", [](BufferLine& l) { l.clearSemanticState(); }},
        {"shiftSemanticMarks", [](BufferLine& l) { l.shiftSemanticMarks(0, 1, 5); }},
        {"clampSemanticMarks", [](BufferLine& l) { l.clampSemanticMarks(2); }},
    };
    for (const Case& c : cases) {
        auto line = lineOf("abcdef");
        line->setSemanticMark(SemanticPromptKind::initial, 4, 1);
        const uint64_t before = line->generation();
        c.change(*line);
        EXPECT_NE(line->generation(), before) << c.name;
    }
    // Setting the same hard continuation group again is no change.
    auto line = lineOf("ab");
    line->setSemanticHardContinuationGroup(5);
    const uint64_t before = line->generation();
    line->setSemanticHardContinuationGroup(5);
    EXPECT_EQ(line->generation(), before);
}

// A recycle blanks only the cells written since the previous one: whatever wrote them, no
// cell of the line's former life survives, and a new erase attribute blanks the whole line.
TEST(LineRecycle, NoWrittenCellSurvivesARecycle)
{
    struct Case { const char* name; std::function<void(BufferLine&)> write; };
    auto other = lineOf("zzzzzzzz");
    Attribute red;
    red.bg = Color::ansi256(1);
    const Case cases[] = {
        {"setCell", [](BufferLine& l) { l.setCell(6, kFill); }},
        {"setCell past the end", [](BufferLine& l) { l.setCell(40, kFill); }},
        {"mutableCells", [](BufferLine& l) { l.mutableCells()[7] = PackedCell(kFill); }},
        {"mutableCells of a range", [](BufferLine& l) { l.mutableCells(3, 5)[4] = PackedCell(kFill); }},
        {"fill", [](BufferLine& l) { l.fill(kFill); }},
        {"fillRange", [](BufferLine& l) { l.fillRange(kFill, 5, 7); }},
        {"fillRange mending a wide edge", [](BufferLine& l) { putWide(l, 2); l.fillRange(kFill, 0, 3); }},
        {"insertCells", [](BufferLine& l) { l.insertCells(2, 1, 7, kFill); }},
        {"deleteCells", [](BufferLine& l) { l.deleteCells(2, 1, 7, kFill); }},
        {"copyCellsFrom", [&](BufferLine& l) { l.copyCellsFrom(*other, 0, 5, 3); }},
        {"copyCellsFrom itself", [](BufferLine& l) { l.setCell(0, kFill); l.copyCellsFrom(l, 0, 6, 1); }},
        {"copyFrom", [&](BufferLine& l) { l.copyFrom(*other); }},
        {"recycleFrom", [&](BufferLine& l) { l.recycleFrom(*other); }},
        {"resize", [](BufferLine& l) { l.resize(4, kFill); l.resize(8, kFill); }},
        {"a wide character cut", [](BufferLine& l) { putWide(l, 3); l.setCell(4, kFill); l.mendWideEdges(4, 5); }},
    };
    for (const Case& c : cases) {
        for (const Attribute& next : {Attribute{}, red}) {
            auto line = lineOf("abcdefgh");
            line->clearForRecycle(Attribute{});
            c.write(*line);
            line->clearForRecycle(next);
            ASSERT_EQ(line->dataSize(), 8) << c.name;
            for (int col = 0; col < 8; ++col)
                EXPECT_EQ(line->getCell(col), CharData(0, 1, next)) << c.name << " column " << col;
            // And the recycle after it, with nothing written between.
            line->clearForRecycle(Attribute{});
            for (int col = 0; col < 8; ++col)
                EXPECT_EQ(line->getCell(col), CharData(0, 1, Attribute{})) << c.name << " column " << col;
        }
    }
}

// A reuse skips the marks, group and images of a line known to have none: every way of
// giving a line one of them must be seen, or a reused line would keep them.
TEST(LineRecycle, NoMarkGroupOrImageSurvivesAReuse)
{
    struct Case { const char* name; std::function<void(BufferLine&)> give; bool image; };
    auto marked = lineOf("zzzzzzzz");
    marked->setSemanticMark(SemanticPromptKind::initial, 2, 7);
    marked->setSemanticHardContinuationGroup(7);
    auto pictured = lineOf("zzzzzzzz");
    pictured->setImages(BufferLine::Images{std::make_shared<FakeImage>()});
    const Case cases[] = {
        {"setSemanticMark", [](BufferLine& l) { l.setSemanticMark(SemanticPromptKind::secondary, 1, 4); }, false},
        {"setSemanticMarks", [](BufferLine& l) { l.setSemanticMarks({SemanticMark{SemanticPromptKind::initial, 3, 1}}); }, false},
        {"setSemanticHardContinuationGroup", [](BufferLine& l) { l.setSemanticHardContinuationGroup(9); }, false},
        {"setImages", [](BufferLine& l) { l.setImages(BufferLine::Images{std::make_shared<FakeImage>()}); }, true},
        {"copyFrom", [&](BufferLine& l) { l.copyFrom(*marked); }, false},
        {"copyCellsFrom", [&](BufferLine& l) { auto source = BufferLine::initCopy(*marked); l.copyCellsFrom(*source, 0, 0, 8); }, false},
        {"recycleFrom", [&](BufferLine& l) { l.recycleFrom(*pictured); }, true},
    };
    for (const Case& c : cases) {
        auto line = lineOf("abcdefgh");
        line->resetForRecycle(Attribute{});
        c.give(*line);
        EXPECT_TRUE(!line->semanticMarks().empty() || line->semanticHardContinuationGroup() || line->hasImages()) << c.name;
        EXPECT_EQ(line->resetForRecycle(Attribute{}), c.image) << c.name;
        EXPECT_TRUE(line->semanticMarks().empty()) << c.name;
        EXPECT_FALSE(line->semanticHardContinuationGroup().has_value()) << c.name;
        EXPECT_FALSE(line->images().has_value()) << c.name;
        EXPECT_FALSE(line->isWrapped()) << c.name;
        // A copy of a line with marks carries them; its reuse drops them too.
        auto copy = BufferLine::initCopy(*marked);
        copy->resetForRecycle(Attribute{});
        EXPECT_TRUE(copy->semanticMarks().empty() && !copy->semanticHardContinuationGroup()) << c.name;
    }
}

// A line copies its cells as one block: every field of every cell must arrive, whatever
// the sizes of the two lines (the copy may reuse, grow or shrink the destination's block).
TEST(LineCopy, EveryFieldOfEveryCellArrives)
{
    struct Sizes {
        int source;
        int destination;
    };
    const Sizes cases[] = {{0, 0}, {0, 5}, {1, 1}, {3, 8}, {8, 3}, {80, 80}, {200, 7}};
    for (const Sizes& c : cases) {
        auto source = BufferLine::create(c.source);
        for (int col = 0; col < c.source; ++col) {
            Attribute attribute;
            attribute.fg = Attribute::Color::ansi256(static_cast<uint8_t>(col));
            attribute.bg = Attribute::Color::trueColor(1, static_cast<uint8_t>(col), 3);
            attribute.underlineColor = Attribute::Color::ansi256(7);
            attribute.style = CharacterStyle::bold;
            source->setCell(col, CharData(0x4E00 + col, static_cast<int8_t>(col % 3), attribute,
                                          TinyAtom{static_cast<uint16_t>(col + 1)}, static_cast<uint8_t>(col % 6)));
        }
        const std::vector<CharData> expected = source->cells();
        EXPECT_EQ(BufferLine::initCopy(*source)->cells(), expected) << c.source;
        auto destination = BufferLine::create(c.destination, cellOf('d'));
        destination->copyFrom(*source);
        EXPECT_EQ(destination->cells(), expected) << c.source << " into " << c.destination;
    }
}

} // namespace
} // namespace corvantix
