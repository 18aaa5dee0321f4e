// The row cache behind each GPU frame: which rows a build makes again, which it reuses, and
// what it hands to the frame in each buffering mode. Rows and the GPU are fakes: a row's
// records name the line they were built from, and buffers are plain memory.
#include "gpu/MetalDrawData.h"

#include <gtest/gtest.h>

#include <cstring>
#include <map>
#include <memory>
#include <optional>
#include <ostream>
#include <string>
#include <utility>
#include <vector>

namespace corvantix {
namespace {

struct FakeBuffer final : MetalBuffer {
    std::vector<std::byte> bytes;
    explicit FakeBuffer(std::size_t length) : bytes(length) {}
    std::size_t length() const override { return bytes.size(); }
    void replaceContents(std::span<const std::byte> from) override
    {
        std::memcpy(bytes.data(), from.data(), std::min(from.size(), bytes.size()));
    }
};

struct CountingDevice final : MetalBufferDevice {
    int made = 0;
    bool refuse = false;
    std::shared_ptr<MetalBuffer> newBuffer(std::size_t length) override
    {
        if (refuse)
            return nullptr;
        ++made;
        return std::make_shared<FakeBuffer>(length);
    }
};

struct FakeTexture final : MetalTexture {
    int width() const override { return 1; }
    int height() const override { return 1; }
};

// The records in a buffer, read back as the GPU would.
template <typename Record>
std::vector<Record> recordsIn(const std::shared_ptr<MetalBuffer>& buffer, int count)
{
    std::vector<Record> records(static_cast<std::size_t>(count));
    if (buffer)
        std::memcpy(records.data(), static_cast<FakeBuffer&>(*buffer).bytes.data(), records.size() * sizeof(Record));
    return records;
}

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

    Screen(int lineCount, int rows)
    {
        for (int i = 0; i < lineCount; ++i)
            lines.push_back(lineWith(static_cast<char32_t>('a' + i % 26)));
        signature.rows = rows;
        signature.cols = 4;
        signature.cellWidth = 8;
        signature.cellHeight = 16;
        signature.fontName = "Mono-Regular";
        signature.fontSize = 12;
    }

    static std::shared_ptr<BufferLine> lineWith(char32_t c)
    {
        auto line = BufferLine::create(4);
        line->setCell(0, CharData(static_cast<std::int32_t>(c), 1, Attribute{}));
        return line;
    }

    DrawDataBuildInput input()
    {
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
        return in;
    }

    DrawData build(MetalRowCache& cache, MetalBufferDevice& device)
    {
        built.clear();
        return cache.buildDrawData(input(), device);
    }
};

// The line indices of the background cells in draw order, per-row or aggregated.
std::vector<int> drawnLines(const DrawData& data)
{
    std::vector<int> lines;
    if (data.frame) {
        for (const ColorCell& cell : data.frame->backgroundCells)
            lines.push_back(static_cast<int>(cell.position[1]));
        return lines;
    }
    for (const RowDrawBuffers& row : data.rows) {
        for (const ColorCell& cell : recordsIn<ColorCell>(row.backgroundBuffer, row.backgroundCount))
            lines.push_back(static_cast<int>(cell.position[1]));
    }
    return lines;
}

std::vector<float> drawnReds(const DrawData& data)
{
    std::vector<float> reds;
    for (const RowDrawBuffers& row : data.rows) {
        for (const ColorCell& cell : recordsIn<ColorCell>(row.backgroundBuffer, row.backgroundCount))
            reds.push_back(cell.color[0]);
    }
    return reds;
}

TEST(MetalRowCache, ABufferShorterThanTheViewGivesRowsOnlyForItsLines)
{
    Screen screen(3, 5);
    MetalRowCache cache;
    CountingDevice device;
    const DrawData data = screen.build(cache, device);

    EXPECT_EQ(screen.built, (std::vector<int>{0, 1, 2}));
    ASSERT_EQ(data.rows.size(), 3u);
    EXPECT_EQ(drawnLines(data), (std::vector<int>{0, 1, 2}));
    EXPECT_EQ(cache.size(), 3u);
    EXPECT_EQ(screen.cursorRanges, (std::vector<std::pair<int, int>>{{0, 2}}));
    EXPECT_EQ(data.cursorColorVertices.size(), 3u) << "the cursor is built after the rows";
}

TEST(MetalRowCache, NothingToShowGivesAnEmptyFrameAndLeavesTheDirtyReport)
{
    struct Case {
        const char* name;
        int lineCount;
        int yDisp;
        int rows;
    };
    for (const Case& c : {Case{"no lines", 0, 0, 5}, Case{"yDisp past the last line", 3, 3, 5},
                          Case{"no rows", 3, 0, 0}, Case{"negative yDisp", 3, -1, 5}}) {
        Screen screen(c.lineCount, c.rows);
        screen.signature.yDisp = c.yDisp;
        screen.dirty = std::pair(0, 1);
        MetalRowCache cache;
        CountingDevice device;
        const DrawData data = screen.build(cache, device);
        EXPECT_TRUE(data.rows.empty() && !data.frame && data.cursorColorVertices.empty()) << c.name;
        EXPECT_TRUE(screen.built.empty()) << c.name;
        EXPECT_TRUE(screen.cursorRanges.empty()) << c.name;
        EXPECT_EQ(screen.dirtyTakes, 0) << c.name << ": the report waits for a build that draws";
    }
}

TEST(MetalRowCache, TheSameScreenTwiceBuildsNothingAndGivesTheSameRecords)
{
    for (const auto mode : {MetalBufferingMode::perRowPersistent, MetalBufferingMode::perFrameAggregated}) {
        Screen screen(10, 4);
        screen.signature.yDisp = 6;
        screen.mode = mode;
        MetalRowCache cache;
        CountingDevice device;
        const DrawData first = screen.build(cache, device);
        const int buffersAfterFirst = device.made;
        const DrawData second = screen.build(cache, device);

        EXPECT_TRUE(screen.built.empty());
        EXPECT_EQ(cache.rowsBuiltLastBuild(), 0);
        EXPECT_EQ(drawnLines(second), (std::vector<int>{6, 7, 8, 9}));
        EXPECT_EQ(drawnLines(first), drawnLines(second));
        EXPECT_EQ(device.made, buffersAfterFirst) << "an unchanged row uploads nothing";
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

struct DirtyCase {
    const char* name;
    std::optional<std::pair<int, int>> range;
    std::vector<int> rebuilt;
};

void PrintTo(const DirtyCase& c, std::ostream* out) { *out << c.name; }

class MetalRowCacheDirtyTest : public testing::TestWithParam<DirtyCase> {};

// Visible lines are 10..13 of 20.
TEST_P(MetalRowCacheDirtyTest, ForcesOnlyTheVisiblePartOfTheReport)
{
    const DirtyCase& c = GetParam();
    Screen screen(20, 4);
    screen.signature.yDisp = 10;
    MetalRowCache cache;
    CountingDevice device;
    screen.build(cache, device);

    screen.dirty = c.range;
    const DrawData data = screen.build(cache, device);
    EXPECT_EQ(screen.built, c.rebuilt);
    EXPECT_FALSE(screen.dirty.has_value()) << "the report is taken";
    EXPECT_EQ(drawnLines(data), (std::vector<int>{10, 11, 12, 13}));

    screen.build(cache, device);
    EXPECT_TRUE(screen.built.empty()) << "a taken report forces nothing again";
}

INSTANTIATE_TEST_SUITE_P(
    Ranges, MetalRowCacheDirtyTest,
    testing::Values(DirtyCase{"none", std::nullopt, {}}, DirtyCase{"wholly above", std::pair(0, 9), {}},
                    DirtyCase{"wholly below", std::pair(14, 30), {}},
                    DirtyCase{"overlapping the top", std::pair(5, 11), {10, 11}},
                    DirtyCase{"overlapping the bottom", std::pair(13, 40), {13}},
                    DirtyCase{"one line inside", std::pair(12, 12), {12}},
                    DirtyCase{"covering everything", std::pair(0, 100), {10, 11, 12, 13}},
                    DirtyCase{"reversed", std::pair(13, 10), {}}),
    [](const testing::TestParamInfo<DirtyCase>& info) {
        std::string name = info.param.name;
        for (char& ch : name)
            if (ch == ' ')
                ch = '_';
        return name;
    });

struct SignatureCase {
    const char* name;
    void (*change)(CacheSignature&);
};

void PrintTo(const SignatureCase& c, std::ostream* out) { *out << c.name; }

class MetalRowCacheSignatureTest : public testing::TestWithParam<SignatureCase> {};

TEST_P(MetalRowCacheSignatureTest, AChangeOutsideTheRowsRebuildsEveryRow)
{
    Screen screen(6, 4);
    screen.signature.yDisp = 1;
    MetalRowCache cache;
    CountingDevice device;
    screen.build(cache, device);

    GetParam().change(screen.signature);
    const DrawData data = screen.build(cache, device);
    const int first = screen.signature.yDisp;
    const int last = std::min(first + screen.signature.rows - 1, 5);
    std::vector<int> all;
    for (int i = first; i <= last; ++i)
        all.push_back(i);
    EXPECT_EQ(screen.built, all);
    EXPECT_EQ(drawnLines(data), all);
    EXPECT_EQ(cache.size(), all.size()) << "rows that left the view lose their entries";
}

INSTANTIATE_TEST_SUITE_P(
    Fields, MetalRowCacheSignatureTest,
    testing::Values(SignatureCase{"scrolled one line", [](CacheSignature& s) { s.yDisp += 1; }},
                    SignatureCase{"scrolled back", [](CacheSignature& s) { s.yDisp -= 1; }},
                    SignatureCase{"scale", [](CacheSignature& s) { s.scale = 2; }},
                    SignatureCase{"cell width", [](CacheSignature& s) { s.cellWidth += 1; }},
                    SignatureCase{"cell height", [](CacheSignature& s) { s.cellHeight += 1; }},
                    SignatureCase{"view width", [](CacheSignature& s) { s.viewWidth += 1; }},
                    SignatureCase{"view height", [](CacheSignature& s) { s.viewHeight += 1; }},
                    SignatureCase{"rows", [](CacheSignature& s) { s.rows -= 1; }},
                    SignatureCase{"cols", [](CacheSignature& s) { s.cols += 1; }},
                    SignatureCase{"font name", [](CacheSignature& s) { s.fontName = "Mono-Bold"; }},
                    SignatureCase{"font size", [](CacheSignature& s) { s.fontSize = 13; }},
                    SignatureCase{"alternate buffer", [](CacheSignature& s) { s.isAltBuffer = true; }},
                    SignatureCase{"image count", [](CacheSignature& s) { s.kittyStamp.imagesCount = 1; }},
                    SignatureCase{"placement count", [](CacheSignature& s) { s.kittyStamp.placementsCount = 1; }},
                    SignatureCase{"next image id", [](CacheSignature& s) { s.kittyStamp.nextImageId = 2; }},
                    SignatureCase{"next placement id", [](CacheSignature& s) { s.kittyStamp.nextPlacementId = 2; }},
                    SignatureCase{"image re-sent under its id", [](CacheSignature& s) { s.kittyStamp.latestStoreStamp = 9; }},
                    SignatureCase{"bidi host policy",
                                  [](CacheSignature& s) { s.bidiHostPolicy = BidiHostPolicy::legacyLeftToRight; }}),
    [](const testing::TestParamInfo<SignatureCase>& info) {
        std::string name = info.param.name;
        for (char& ch : name)
            if (ch == ' ' || ch == '-')
                ch = '_';
        return name;
    });

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
        Screen screen(5, 5);
        MetalRowCache cache;
        CountingDevice device;
        screen.build(cache, device);
        c.change(screen);
        const DrawData data = screen.build(cache, device);
        EXPECT_EQ(screen.built, std::vector<int>{2}) << c.name;
        ASSERT_EQ(drawnReds(data).size(), 5u) << c.name;
        EXPECT_FLOAT_EQ(drawnReds(data)[2], c.red) << c.name;
        EXPECT_EQ(cache.entries().at(2).lineRef, screen.lines[2]) << c.name;
    }
}

TEST(MetalRowCache, SwitchingBufferingModesKeepsRecordsAndMovesBuffers)
{
    Screen screen(4, 4);
    MetalRowCache cache;
    CountingDevice device;
    const DrawData perRow = screen.build(cache, device);
    ASSERT_EQ(perRow.rows.size(), 4u);
    EXPECT_FALSE(perRow.frame);
    // Background and glyph lists on every row, one image buffer on each even row.
    EXPECT_EQ(device.made, 4 * 2 + 2);

    screen.mode = MetalBufferingMode::perFrameAggregated;
    const DrawData aggregated = screen.build(cache, device);
    EXPECT_TRUE(screen.built.empty()) << "the records are kept";
    EXPECT_TRUE(aggregated.rows.empty());
    ASSERT_TRUE(aggregated.frame);
    EXPECT_EQ(drawnLines(aggregated), (std::vector<int>{0, 1, 2, 3}));
    EXPECT_EQ(aggregated.frame->glyphCellsGray.size(), 4u);
    EXPECT_EQ(aggregated.frame->overImageDraws.size(), 2u);
    EXPECT_EQ(aggregated.frame->underImageDraws.size(), 2u);
    for (const auto& [line, entry] : cache.entries()) {
        EXPECT_TRUE(entry.data) << line;
        EXPECT_FALSE(entry.buffers) << line << ": buffers are dropped";
    }
    EXPECT_EQ(device.made, 10);

    // Back to per-row drawing: buffers come back from the kept records, no row is built.
    screen.mode = MetalBufferingMode::perRowPersistent;
    const DrawData again = screen.build(cache, device);
    EXPECT_TRUE(screen.built.empty());
    EXPECT_EQ(again.rows.size(), 4u);
    EXPECT_EQ(drawnLines(again), (std::vector<int>{0, 1, 2, 3}));
    EXPECT_EQ(device.made, 20);
}

TEST(MetalRowCache, ADeviceWithoutBuffersLeavesCountsAtZero)
{
    Screen screen(3, 3);
    MetalRowCache cache;
    CountingDevice device;
    device.refuse = true;
    const DrawData data = screen.build(cache, device);
    ASSERT_EQ(data.rows.size(), 3u);
    for (const RowDrawBuffers& row : data.rows) {
        EXPECT_FALSE(row.backgroundBuffer);
        EXPECT_EQ(row.backgroundCount, 0);
        EXPECT_FALSE(row.glyphGrayBuffer);
        EXPECT_EQ(row.glyphGrayCount, 0);
        EXPECT_TRUE(row.overImageBuffers.empty());
    }

    // Once the device has buffers again, the kept records fill them without a rebuild.
    device.refuse = false;
    const DrawData later = screen.build(cache, device);
    EXPECT_TRUE(screen.built.empty());
    EXPECT_EQ(drawnLines(later), (std::vector<int>{0, 1, 2}));
    EXPECT_EQ(later.rows[0].overImageBuffers.size(), 1u);
    const int made = device.made;
    screen.build(cache, device);
    EXPECT_EQ(device.made, made) << "complete buffers are kept";
}

} // namespace
} // namespace corvantix
