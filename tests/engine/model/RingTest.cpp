#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "engine/model/ModelTestSupport.h"
#include "engine/platform/LogCapture.h"
#include "model/CircularBufferLineList.h"

namespace corvantix {
namespace {

using LinePtr = std::shared_ptr<BufferLine>;

// A one-cell line named by its character.
LinePtr named(char name)
{
    auto line = BufferLine::create(1);
    line->setCell(0, CharData(name, 1, Attribute{}));
    return line;
}

// A ring of the given capacity holding the named lines, with a maker for empty slots
// ('.' lines) so that any read is defined.
CircularBufferLineList ringOf(int maxLength, std::string_view names)
{
    CircularBufferLineList ring(maxLength);
    ring.makeEmpty = [](int) { return named('.'); };
    for (char name : names)
        ring.push(named(name));
    return ring;
}

// The logical lines by name.
std::string namesOf(CircularBufferLineList& ring)
{
    std::string out;
    for (int i = 0; i < ring.count(); ++i)
        out += static_cast<char>(ring[i]->getCell(0).code);
    return out;
}

TEST(Ring, PushFillsThenDropsTheOldestLine)
{
    CircularBufferLineList ring(3);
    std::vector<bool> pushed;
    int attached = 0;
    ring.onLinePushed = [&](bool hasImages) { pushed.push_back(hasImages); };
    ring.onLineAttached = [&](BufferLine&) { ++attached; };
    for (char name : std::string("abc"))
        ring.push(named(name));
    EXPECT_EQ(namesOf(ring), "abc");
    EXPECT_EQ(ring.startIndex(), 0);
    auto withImage = named('d');
    withImage->setImages(BufferLine::Images{std::make_shared<FakeImage>()});
    ring.push(withImage);
    EXPECT_EQ(namesOf(ring), "bcd");
    EXPECT_EQ(ring.startIndex(), 1);
    EXPECT_EQ(pushed, (std::vector<bool>{false, false, false, true}));
    EXPECT_EQ(attached, 4);
    // The start index comes back to 0 once it reaches the slot count.
    ring.push(named('e'));
    ring.push(named('f'));
    EXPECT_EQ(namesOf(ring), "def");
    EXPECT_EQ(ring.startIndex(), 0);
}

TEST(Ring, RecycleReusesTheOldestLineObjectAsTheNewest)
{
    auto ring = ringOf(3, "abc");
    const LinePtr oldest = ring[0];
    oldest->setIsWrapped(true);
    oldest->setSemanticMark(SemanticPromptKind::initial, 0, 1);
    oldest->setSemanticHardContinuationGroup(7);
    oldest->setImages(BufferLine::Images{std::make_shared<FakeImage>()});
    const uint64_t generation = oldest->generation();
    std::vector<bool> recycled;
    ring.onLineRecycled = [&](bool hadImages) { recycled.push_back(hadImages); };
    Attribute red;
    red.bg = Attribute::Color::ansi256(1);
    ring.recycle(red);
    EXPECT_EQ(ring.count(), 3);
    EXPECT_EQ(ring[2], oldest) << "the same object, not a new line";
    EXPECT_EQ(namesOf(ring).substr(0, 2), "bc");
    EXPECT_EQ(oldest->getCell(0), CharData(0, 1, red));
    EXPECT_FALSE(oldest->isWrapped() || !oldest->semanticMarks().empty() || oldest->semanticHardContinuationGroup()
                 || oldest->images());
    EXPECT_EQ(oldest->recycleGeneration(), 1u);
    EXPECT_NE(oldest->generation(), generation);
    EXPECT_EQ(recycled, std::vector<bool>{true});
    ring.recycle(red);
    EXPECT_EQ(ring[2]->recycleGeneration(), 1u);
    EXPECT_EQ(ring[1], oldest);
    EXPECT_EQ(recycled, (std::vector<bool>{true, false}));
}

TEST(RingDeathTest, ProgrammingErrorsEndTheProgram)
{
    EXPECT_DEATH(ringOf(3, "ab").recycle(Attribute{}), "not full");
    EXPECT_DEATH(ringOf(3, "ab").setCount(4), "above maxLength");
    CircularBufferLineList ring(3);
    ring.setCount(1);
    EXPECT_DEATH((void)ring[0], "without makeEmpty");
}

TEST(Ring, SpliceReplacesInsertsAndDropsOffTheTop)
{
    struct Case { int maxLength; const char* before; int start, deleteCount; const char* items, *after; int startIndex; };
    const Case cases[] = {
        {5, "abc", 1, 1, "x", "axc", 0}, {5, "abc", 1, 0, "x", "axbc", 0}, {5, "abcd", 1, 2, "", "ad", 0},
        {5, "abc", 3, 0, "xy", "abcxy", 0},
        {3, "abc", 1, 0, "x", "xbc", 1},  // a falls off the top
        {3, "abc", 2, 0, "xy", "xyc", 2}, // a and b fall off
        {3, "abc", 0, 3, "xyz", "xyz", 0},
    };
    for (const Case& c : cases) {
        auto ring = ringOf(c.maxLength, c.before);
        std::vector<LinePtr> items;
        for (const char* p = c.items; *p; ++p)
            items.push_back(named(*p));
        int attached = 0;
        ring.onLineAttached = [&](BufferLine&) { ++attached; };
        ring.splice(c.start, c.deleteCount, items);
        EXPECT_EQ(namesOf(ring), c.after) << c.before << " splice(" << c.start << ", " << c.deleteCount << ", " << c.items << ")";
        EXPECT_EQ(ring.startIndex(), c.startIndex) << c.before;
        EXPECT_EQ(attached, static_cast<int>(items.size()));
    }
}

TEST(Ring, SpliceMarksEveryChangedRowDirty)
{
    auto ring = ringOf(5, "abcd");
    std::vector<int> dirty;
    const LinePtr x = named('x');
    ring.splice(1, 1, std::span<const LinePtr>(&x, 1), [&](int row) { dirty.push_back(row); });
    EXPECT_EQ(namesOf(ring), "axcd");
    // Closing the gap marks 1, 2; opening it marks 3, 2; the item marks 1.
    EXPECT_EQ(dirty, (std::vector<int>{1, 2, 3, 2, 1}));
}

TEST(Ring, ShiftElementsRefusesBadArguments)
{
    struct Case { int start; int count; int offset; };
    // A negative count or start, a start past the end, a move above the first line.
    for (const Case& c : {Case{0, -1, 1}, Case{-1, 1, 2}, Case{3, 1, 1}, Case{0, 2, 0}}) {
        auto ring = ringOf(3, "abc");
        LogCapture quiet;
        EXPECT_FALSE(ring.shiftElements(c.start, c.count, c.offset)) << c.start << " " << c.count << " " << c.offset;
        EXPECT_EQ(namesOf(ring), "abc");
    }
}

TEST(Ring, ShiftElementsMovesLinesAndGrowsTheCount)
{
    struct Case { int maxLength; const char* before; int start; int count; int offset; const char* after; };
    const Case cases[] = {
        {3, "abc", 2, 1, -1, "acc"},
        {3, "abc", 1, 2, 1, "bbc"}, // the end 4 passes maxLength: a falls off the top
        {5, "abc", 1, 2, 1, "abbc"}, {5, "abcd", 1, 1, 1, "abbd"},
    };
    for (const Case& c : cases) {
        auto ring = ringOf(c.maxLength, c.before);
        EXPECT_TRUE(ring.shiftElements(c.start, c.count, c.offset));
        EXPECT_EQ(namesOf(ring), c.after) << c.before << " shift(" << c.start << ", " << c.count << ", " << c.offset << ")";
    }
    // Moved lines keep their identity: the same object sits in two places.
    auto ring = ringOf(3, "abc");
    ring.shiftElements(2, 1, -1);
    EXPECT_EQ(ring[1], ring[2]);
}

TEST(Ring, CapacityChangeRelaysTheLinesFromSlotZero)
{
    auto ring = ringOf(3, "abcde"); // cde, start index 2
    ASSERT_EQ(ring.startIndex(), 2);
    ring.setMaxLength(5);
    EXPECT_TRUE(ring.startIndex() == 0 && ring.slotCount() == 5);
    EXPECT_EQ(namesOf(ring), "cde");
    ring.push(named('f'));
    EXPECT_EQ(namesOf(ring), "cdef");
    // A never-written index is made by makeEmpty, with the slot it fills.
    int madeForSlot = -1;
    ring.makeEmpty = [&](int slot) { return madeForSlot = slot, named('.'); };
    ring.setCount(5);
    EXPECT_EQ(namesOf(ring), "cdef.");
    EXPECT_EQ(madeForSlot, 4);
    // Shrinking after trimming keeps the newest lines.
    ring.trimStart(2);
    ring.setMaxLength(3);
    EXPECT_EQ(namesOf(ring), "ef.");
}

TEST(Ring, DroppedLinesAreReleased)
{
    auto ring = ringOf(4, "abcd");
    std::weak_ptr<BufferLine> a = ring[0], d = ring[3];
    ring.trimStart(1);
    ring.pop();
    EXPECT_EQ(namesOf(ring), "bc");
    EXPECT_TRUE(a.expired() && d.expired());
    // A slot beyond the count reads as a fresh line, not as a stale one.
    ring.setCount(3);
    EXPECT_EQ(namesOf(ring), "bc.");
}

} // namespace
} // namespace corvantix
