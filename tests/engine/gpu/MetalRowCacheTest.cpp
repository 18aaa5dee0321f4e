// The row cache behind each GPU frame: which rows a build makes again, which it reuses, and
// what it hands to the frame in each buffering mode. Rows and the GPU are fakes: a row's
// records name the line they were built from, and buffers are plain memory.
#include "FakeMetalBuffers.h"

#include <gtest/gtest.h>

#include <map>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace corvantix {
namespace {

using namespace gputest;

struct FakeTexture final : MetalTexture {
    int width() const override { return 1; }
    int height() const override { return 1; }
};

// A screen of `lineCount` lines shown `rows` at a time from `yDisp`. Each built row has one
// background cell at y = its line index whose red is the line's first character, and one
// glyph cell; even lines also carry an image.
struct Screen {
    std::vector<std::shared_ptr<BufferLine>> lines;
    std::map<int, std::uint64_t> revisions;
    std::optional<std::pair<int, int>> dirty;
    CacheSignature signature;
    MetalBufferingMode mode = MetalBufferingMode::perRowPersistent;
    std::vector<int> built;
    int dirtyTakes = 0;
    std::vector<std::pair<int, int>> cursorRanges;
    std::shared_ptr<MetalTexture> texture = std::make_shared<FakeTexture>();
    MetalRowCache cache;
    FakeBufferDevice device;

    Screen(int lineCount, int rows, int yDisp = 0)
    {
        for (int i = 0; i < lineCount; ++i)
            lines.push_back(lineWith(static_cast<char32_t>('a' + i % 26)));
        signature.rows = rows;
        signature.yDisp = yDisp;
    }

    static std::shared_ptr<BufferLine> lineWith(char32_t c)
    {
        auto line = BufferLine::create(4);
        line->setCell(0, CharData(static_cast<std::int32_t>(c), 1, Attribute{}));
        return line;
    }

    DrawData build()
    {
        built.clear();
        DrawDataBuildInput in;
        in.signature = signature;
        in.bufferingMode = mode;
        in.lineCount = static_cast<int>(lines.size());
        in.takeDirtyRange = [this] {
            ++dirtyTakes;
            return std::exchange(dirty, std::nullopt);
        };
        in.lineAt = [this](int i) -> std::shared_ptr<const BufferLine> { return lines.at(static_cast<std::size_t>(i)); };
        in.paragraphRevision = [this](int i) { return revisions[i]; };
        in.buildRow = [this](int i, int) {
            built.push_back(i);
            RowDrawData row;
            const float red = static_cast<float>(lines[static_cast<std::size_t>(i)]->getCell(0).code) / 255.0f;
            row.backgroundCells.push_back({{0, static_cast<float>(i)}, {8, 16}, {red, 0, 0, 1}});
            row.glyphCellsGray.push_back({{0, static_cast<float>(i)}, {8, 16}, {0, 0}, {0.5f, 0.5f}, {1, 1, 1, 1}});
            if (i % 2 == 0) {
                ImageDraw image{texture, {}};
                appendRectangleVertices(image.vertices, {0, 0, 8, 16}, {}, {1, 1, 1, 1});
                row.overImageDraws.push_back(std::move(image));
                row.underImageDraws.push_back({texture, {}}); // nothing to draw: no buffer
            }
            return row;
        };
        in.buildCursor = [this](DrawData& data, int first, int last) {
            cursorRanges.emplace_back(first, last);
            // The cursor comes after every row: the rows are already in.
            data.cursorColorVertices.resize(data.rows.size() + (data.frame ? data.frame->backgroundCells.size() : 0));
        };
        return cache.buildDrawData(in, device);
    }
};

// The line indices of the background cells in draw order, per-row or aggregated.
std::vector<int> drawnLines(const DrawData& data)
{
    std::vector<int> lines;
    if (data.frame) {
        for (const ColorCell& cell : data.frame->backgroundCells)
            lines.push_back(static_cast<int>(cell.position[1]));
    }
    for (const RowDrawBuffers& row : data.rows)
        for (const ColorCell& cell : recordsIn<ColorCell>(row.backgroundBuffer, row.backgroundCount))
            lines.push_back(static_cast<int>(cell.position[1]));
    return lines;
}

std::vector<int> range(int first, int last)
{
    std::vector<int> out;
    for (int i = first; i <= last; ++i)
        out.push_back(i);
    return out;
}

TEST(MetalRowCache, OnlyTheShownLinesAreBuiltAndAnEmptyViewLeavesTheDirtyReport)
{
    Screen shorter(3, 5); // a buffer shorter than the view
    const DrawData data = shorter.build();
    EXPECT_EQ(shorter.built, range(0, 2));
    EXPECT_EQ(drawnLines(data), range(0, 2));
    EXPECT_EQ(shorter.cache.size(), 3u);
    EXPECT_EQ(shorter.cursorRanges, (std::vector<std::pair<int, int>>{{0, 2}}));
    EXPECT_EQ(data.cursorColorVertices.size(), 3u) << "the cursor is built after the rows";

    struct Case {
        const char* name;
        int lineCount;
        int yDisp;
        int rows;
    };
    for (const Case& c : {Case{"no lines", 0, 0, 5}, Case{"yDisp past the last line", 3, 3, 5},
                          Case{"no rows", 3, 0, 0}, Case{"negative yDisp", 3, -1, 5}}) {
        SCOPED_TRACE(c.name);
        Screen screen(c.lineCount, c.rows, c.yDisp);
        screen.dirty = std::pair(0, 1);
        const DrawData empty = screen.build();
        EXPECT_TRUE(empty.rows.empty() && !empty.frame && empty.cursorColorVertices.empty());
        EXPECT_TRUE(screen.built.empty() && screen.cursorRanges.empty());
        EXPECT_EQ(screen.dirtyTakes, 0) << "the report waits for a build that draws";
    }
}

TEST(MetalRowCache, TheSameScreenTwiceBuildsNothingAndGivesTheSameRecords)
{
    for (const auto mode : {MetalBufferingMode::perRowPersistent, MetalBufferingMode::perFrameAggregated}) {
        SCOPED_TRACE(mode == MetalBufferingMode::perRowPersistent ? "per row" : "aggregated");
        Screen screen(10, 4, 6);
        screen.mode = mode;
        const DrawData first = screen.build();
        const std::size_t buffersAfterFirst = screen.device.made.size();
        const DrawData second = screen.build();
        EXPECT_TRUE(screen.built.empty());
        EXPECT_EQ(screen.cache.rowsBuiltLastBuild(), 0);
        EXPECT_EQ(drawnLines(second), range(6, 9));
        EXPECT_EQ(drawnLines(first), drawnLines(second));
        EXPECT_EQ(screen.device.made.size(), buffersAfterFirst) << "an unchanged row uploads nothing";
        if (mode == MetalBufferingMode::perRowPersistent) {
            ASSERT_EQ(second.rows.size(), 4u);
            for (std::size_t r = 0; r < 4; ++r)
                EXPECT_EQ(first.rows[r].backgroundBuffer, second.rows[r].backgroundBuffer) << "the row's own buffer";
        } else {
            EXPECT_EQ(second.frame->glyphCellsGray.size(), 4u);
            EXPECT_EQ(second.frame->overImageDraws.size(), 2u);
        }
    }
}

TEST(MetalRowCache, ADirtyReportForcesOnlyItsVisiblePartOnce)
{
    struct Case {
        const char* name;
        std::optional<std::pair<int, int>> range;
        std::vector<int> rebuilt;
    };
    // Visible lines are 10..13 of 20.
    const Case cases[] = {{"none", std::nullopt, {}},
                          {"wholly above", std::pair(0, 9), {}},
                          {"wholly below", std::pair(14, 30), {}},
                          {"overlapping the top", std::pair(5, 11), {10, 11}},
                          {"overlapping the bottom", std::pair(13, 40), {13}},
                          {"one line inside", std::pair(12, 12), {12}},
                          {"covering everything", std::pair(0, 100), {10, 11, 12, 13}},
                          {"reversed", std::pair(13, 10), {}}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Screen screen(20, 4, 10);
        screen.build();
        screen.dirty = c.range;
        const DrawData data = screen.build();
        EXPECT_EQ(screen.built, c.rebuilt);
        EXPECT_FALSE(screen.dirty.has_value()) << "the report is taken";
        EXPECT_EQ(drawnLines(data), range(10, 13));
        screen.build();
        EXPECT_TRUE(screen.built.empty()) << "a taken report forces nothing again";
    }
}

TEST(MetalRowCache, AChangeOutsideTheRowsRebuildsEveryShownRow)
{
    struct Case {
        const char* name;
        void (*change)(CacheSignature&);
    };
    const Case cases[] = {
        {"scrolled one line", [](CacheSignature& s) { s.yDisp += 1; }},
        {"scrolled back", [](CacheSignature& s) { s.yDisp -= 1; }},
        {"scale", [](CacheSignature& s) { s.scale = 2; }},
        {"rows", [](CacheSignature& s) { s.rows -= 1; }},
        {"image re-sent under its id", [](CacheSignature& s) { s.kittyStamp.latestStoreStamp = 9; }},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Screen screen(6, 4, 1);
        screen.build();
        c.change(screen.signature);
        const DrawData data = screen.build();
        const auto all = range(screen.signature.yDisp, std::min(screen.signature.yDisp + screen.signature.rows - 1, 5));
        EXPECT_EQ(screen.built, all);
        EXPECT_EQ(drawnLines(data), all);
        EXPECT_EQ(screen.cache.size(), all.size()) << "rows that left the view lose their entries";
    }
}

TEST(MetalRowCache, ARowIsRebuiltWhenItsLineObjectGenerationOrParagraphChanges)
{
    struct Case {
        const char* name;
        void (*change)(Screen&);
        float red; // of line 2 afterwards
    };
    const Case cases[] = {
        {"same content in a new line object", [](Screen& s) { s.lines[2] = Screen::lineWith('c'); }, 'c' / 255.0f},
        {"an edited line", [](Screen& s) { s.lines[2]->setCell(0, CharData('z', 1, Attribute{})); }, 'z' / 255.0f},
        {"a new paragraph revision", [](Screen& s) { s.revisions[2] = 7; }, 'c' / 255.0f},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Screen screen(5, 5);
        screen.build();
        c.change(screen);
        const DrawData data = screen.build();
        EXPECT_EQ(screen.built, std::vector<int>{2});
        ASSERT_EQ(data.rows.size(), 5u);
        const auto cells = recordsIn<ColorCell>(data.rows[2].backgroundBuffer, data.rows[2].backgroundCount);
        ASSERT_EQ(cells.size(), 1u);
        EXPECT_FLOAT_EQ(cells[0].color[0], c.red);
        EXPECT_EQ(screen.cache.entries().at(2).lineRef, screen.lines[2]);
    }
}

TEST(MetalRowCache, SwitchingBufferingModesKeepsRecordsAndDropsBuffers)
{
    Screen screen(4, 4);
    const DrawData perRow = screen.build();
    ASSERT_EQ(perRow.rows.size(), 4u);
    EXPECT_FALSE(perRow.frame);
    // Background and glyph lists on every row, one image buffer on each even row.
    EXPECT_EQ(screen.device.made.size(), 4u * 2 + 2);

    screen.mode = MetalBufferingMode::perFrameAggregated;
    const DrawData aggregated = screen.build();
    EXPECT_TRUE(screen.built.empty()) << "the records are kept";
    EXPECT_TRUE(aggregated.rows.empty());
    ASSERT_TRUE(aggregated.frame);
    EXPECT_EQ(drawnLines(aggregated), range(0, 3));
    EXPECT_EQ(aggregated.frame->glyphCellsGray.size(), 4u);
    EXPECT_EQ(aggregated.frame->overImageDraws.size(), 2u);
    EXPECT_EQ(aggregated.frame->underImageDraws.size(), 2u);
    for (const auto& [line, entry] : screen.cache.entries()) {
        EXPECT_TRUE(entry.data) << line;
        EXPECT_FALSE(entry.buffers) << line << ": buffers are dropped";
    }
    EXPECT_EQ(screen.device.made.size(), 10u);

    // Back to per-row drawing: buffers come back from the kept records, no row is built.
    screen.mode = MetalBufferingMode::perRowPersistent;
    const DrawData again = screen.build();
    EXPECT_TRUE(screen.built.empty());
    EXPECT_EQ(drawnLines(again), range(0, 3));
    EXPECT_EQ(screen.device.made.size(), 20u);
}

TEST(MetalRowCache, RowsBuiltWhileTheDeviceHadNoBuffersGetThemLaterWithoutARebuild)
{
    Screen screen(3, 3);
    screen.device.exhausted = true;
    const DrawData data = screen.build();
    ASSERT_EQ(data.rows.size(), 3u);
    for (const RowDrawBuffers& row : data.rows) {
        EXPECT_TRUE(!row.backgroundBuffer && row.backgroundCount == 0);
        EXPECT_TRUE(!row.glyphGrayBuffer && row.glyphGrayCount == 0);
        EXPECT_TRUE(row.overImageBuffers.empty());
    }

    screen.device.exhausted = false;
    const DrawData later = screen.build();
    EXPECT_TRUE(screen.built.empty());
    EXPECT_EQ(drawnLines(later), range(0, 2));
    EXPECT_EQ(later.rows[0].overImageBuffers.size(), 1u);
    const std::size_t made = screen.device.made.size();
    screen.build();
    EXPECT_EQ(screen.device.made.size(), made) << "complete buffers are kept";
}

} // namespace
} // namespace corvantix
