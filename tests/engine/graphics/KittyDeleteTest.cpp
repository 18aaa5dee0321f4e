#include "engine/graphics/KittyTestSupport.h"
#include "graphics/KittyGraphics.h"
#include "graphics/KittyPlacementCells.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <optional>
#include <ostream>
#include <set>
#include <string>
#include <vector>

namespace corvantix::test {
namespace {

using Fixture = KittyFixtureWith<PlacingViewDelegate>;

std::string cellsOfImage(int cols, int rows)
{
    return "f=32,s=" + std::to_string(cols * 10) + ",v=" + std::to_string(rows * 20) + ";"
        + base64(std::vector<std::uint8_t>(static_cast<std::size_t>(cols) * 10 * rows * 20 * 4, 0x7F));
}

// "i/p" for each record, in key order.
std::vector<std::string> records(Fixture& f)
{
    std::vector<std::string> keys;
    for (const auto& [key, record] : f.store().placementsByKey)
        keys.push_back(std::to_string(key.imageId) + "/" + std::to_string(key.placementId));
    return keys;
}

std::vector<std::uint32_t> stored(Fixture& f)
{
    std::vector<std::uint32_t> ids;
    for (const auto& [id, image] : f.store().imagesById)
        ids.push_back(id);
    return ids;
}

// The placements that still have cells on either screen.
std::set<KittyPlacementKey> placementsOnCells(Fixture& f)
{
    std::set<KittyPlacementKey> keys;
    for (const Buffer* screen : {&f.terminal->normalBuffer(), &f.terminal->altBuffer()}) {
        for (const auto& [key, position] : kittyCellPositions(*screen))
            keys.insert(key);
    }
    return keys;
}

// Puts a placement of `size` cells at the screen cell (col, row), the cursor left alone.
void put(Fixture& f, int col, int row, const std::string& keys, int cols = 1, int rows = 1)
{
    feed(*f.terminal, "\x1b[" + std::to_string(row + 1) + ";" + std::to_string(col + 1) + "H");
    f.command("a=T,q=2,C=1," + keys + "," + cellsOfImage(cols, rows));
}

// The scene every delete case starts from, on a 20 x 10 screen:
//   alternate screen: 6/1 at column 3, row 1; 5/4 at column 0, row 4
//   normal screen:    4/1 at 0, 0; 5/1 at 3, 2 over 2 x 2 cells; 5/2 at 10, 5 with z 3;
//                     1/1 (image number 3) at 0, 7 with z -1; 4/2 virtual at 15, 8;
//                     image 7 stored but never placed.
void buildScene(Fixture& f)
{
    feed(*f.terminal, "\x1b[?47h");
    put(f, 3, 1, "i=6,p=1");
    put(f, 0, 4, "i=5,p=4");
    feed(*f.terminal, "\x1b[?47l");
    put(f, 0, 0, "i=4,p=1");
    put(f, 3, 2, "i=5,p=1", 2, 2);
    put(f, 10, 5, "i=5,p=2,z=3");
    put(f, 0, 7, "I=3,p=1,z=-1");
    feed(*f.terminal, "\x1b[9;16H");
    f.command("a=p,q=2,U=1,i=4,p=2,c=2,r=1");
    f.command("a=t,q=2,i=7," + cellsOfImage(1, 1));
    feed(*f.terminal, "\x1b[1;1H");
}

const std::vector<std::string> everyRecord{"1/1", "4/1", "4/2", "5/1", "5/2", "5/4", "6/1"};
const std::vector<std::uint32_t> everyImage{1, 4, 5, 6, 7};

struct DeleteCase {
    const char* name;
    std::string before; // escape sequences fed first
    std::string keys;
    std::string reply;
    std::vector<std::string> records;
    std::vector<std::uint32_t> stored;
};

void PrintTo(const DeleteCase& c, std::ostream* out) { *out << c.name; }

class KittyDelete : public testing::TestWithParam<DeleteCase> {};

TEST_P(KittyDelete, RemovesCellsAndRecordsTogether)
{
    Fixture f(20, 10);
    buildScene(f);
    ASSERT_EQ(records(f), everyRecord);
    ASSERT_EQ(stored(f), everyImage);
    feed(*f.terminal, GetParam().before);
    EXPECT_EQ(f.command(GetParam().keys), GetParam().reply);
    EXPECT_EQ(records(f), GetParam().records);
    EXPECT_EQ(stored(f), GetParam().stored);
    // Every placement still recorded keeps its cells and no cell outlives its record.
    std::set<KittyPlacementKey> real;
    for (const auto& [key, record] : f.store().placementsByKey) {
        if (!record.isVirtual)
            real.insert(key);
    }
    EXPECT_EQ(placementsOnCells(f), real);
}

std::vector<std::string> without(std::initializer_list<const char*> gone)
{
    std::vector<std::string> left;
    for (const std::string& key : everyRecord) {
        if (std::find(gone.begin(), gone.end(), key) == gone.end())
            left.push_back(key);
    }
    return left;
}

INSTANTIATE_TEST_SUITE_P(
    Modes, KittyDelete,
    testing::Values(
        DeleteCase{"everything on screen, images kept", "", "a=d", "", {}, everyImage},
        DeleteCase{"everything on screen, images freed", "", "a=d,d=A", "", {}, {}},
        DeleteCase{"by image id on both screens", "", "a=d,d=i,i=5", "", without({"5/1", "5/2", "5/4"}), everyImage},
        DeleteCase{"by image and placement id", "", "a=d,d=i,i=5,p=2", "", without({"5/2"}), everyImage},
        DeleteCase{"by image id, freeing", "", "a=d,d=I,i=5", "", without({"5/1", "5/2", "5/4"}), {1, 4, 6}},
        DeleteCase{"by id without an id", "", "a=d,d=i", apc("G;EINVAL: missing image id"), everyRecord, everyImage},
        DeleteCase{"by id without an id frees nothing", "", "a=d,d=I", apc("G;EINVAL: missing image id"), everyRecord, everyImage},
        DeleteCase{"by number", "", "a=d,d=n,I=3", "", without({"1/1"}), everyImage},
        DeleteCase{"by number, freeing", "", "a=d,d=N,I=3", "", without({"1/1"}), {4, 5, 6}},
        DeleteCase{"by unknown number", "", "a=d,d=n,I=8", "", everyRecord, everyImage},
        DeleteCase{"by number without a number", "", "a=d,d=n", apc("G;EINVAL: missing image number"), everyRecord, everyImage},
        DeleteCase{"under the cursor", "\x1b[4;5H", "a=d,d=c", "", without({"5/1"}), everyImage},
        DeleteCase{"at a cell", "", "a=d,d=p,x=4,y=3", "", without({"5/1"}), everyImage},
        DeleteCase{"at a cell also hits the other screen's records", "", "a=d,d=p,x=4,y=2", "", without({"6/1"}), everyImage},
        DeleteCase{"at a cell without a row", "", "a=d,d=p,x=4", apc("G;EINVAL: missing cell position"), everyRecord, everyImage},
        DeleteCase{"at a cell with its z index", "", "a=d,d=q,x=11,y=6,z=3", "", without({"5/2"}), everyImage},
        DeleteCase{"at a cell with another z index", "", "a=d,d=q,x=11,y=6", "", everyRecord, everyImage},
        DeleteCase{"at a cell with z, no position", "", "a=d,d=Q,z=3", apc("G;EINVAL: missing cell position"), everyRecord, everyImage},
        DeleteCase{"in a column", "", "a=d,d=x,x=5", "", without({"5/1"}), everyImage},
        DeleteCase{"in a column without x", "", "a=d,d=x,y=3", apc("G;EINVAL: missing column"), everyRecord, everyImage},
        DeleteCase{"in a row", "", "a=d,d=y,y=6", "", without({"5/2"}), everyImage},
        DeleteCase{"in a row without y", "", "a=d,d=Y", apc("G;EINVAL: missing row"), everyRecord, everyImage},
        DeleteCase{"by z index 0 when z is absent", "", "a=d,d=z", "", {"1/1", "5/2"}, everyImage},
        DeleteCase{"by a negative z index", "", "a=d,d=z,z=-1", "", without({"1/1"}), everyImage},
        DeleteCase{"by id range, bounds either way round", "", "a=d,d=r,x=9,y=4", "", {"1/1"}, everyImage},
        DeleteCase{"by id range, freeing", "", "a=d,d=R,x=9,y=4", "", {"1/1"}, {1}},
        DeleteCase{"by id range without a range", "", "a=d,d=r,x=9", apc("G;EINVAL: missing id range"), everyRecord, everyImage},
        DeleteCase{"unknown mode", "", "a=d,d=f", apc("G;EINVAL: unsupported delete"), everyRecord, everyImage},
        DeleteCase{"unknown mode in upper case still frees", "", "a=d,d=F", apc("G;EINVAL: unsupported delete"), everyRecord, {1, 4, 5, 6}},
        DeleteCase{"quiet error", "", "a=d,d=i,q=1", "", everyRecord, everyImage},
        DeleteCase{"error names the image number", "", "a=d,d=p,I=3", apc("GI=3;EINVAL: missing cell position"), everyRecord, everyImage}));

TEST(KittyDelete, IdRangeReachesTheLargestIds)
{
    Fixture f(20, 10);
    put(f, 0, 0, "i=4294967295,p=1");
    put(f, 2, 0, "i=3000000000,p=1");
    put(f, 4, 0, "i=2147483647,p=1");
    // The upper bound lies past every image id: it still means up to the last one.
    f.command("a=d,d=r,x=2147483648,y=99999999999");
    EXPECT_EQ(records(f), std::vector<std::string>{"2147483647/1"});
    EXPECT_EQ(f.command("a=d,d=r,x=1,y=18446744073709551616"), apc("G;EINVAL: missing id range"));
    f.command("a=d,d=r,x=1,y=4294967295");
    EXPECT_TRUE(records(f).empty());
    EXPECT_TRUE(placementsOnCells(f).empty());
}

TEST(KittyDelete, OnScreenTakesUnnamedPutsButNotOtherImages)
{
    Fixture f(20, 10);
    f.command("a=T," + cellsOfImage(1, 1)); // shown, never stored, no ids
    feed(*f.terminal, "\x1b[3;1H\x1bPq#0;2;100;0;0#0~\x1b\\");
    ASSERT_EQ(f.terminal->buffer().linesWithImagesCount(), 2);
    f.command("a=d");
    EXPECT_EQ(f.terminal->buffer().linesWithImagesCount(), 1);
    EXPECT_TRUE(f.terminal->buffer().lines()[2]->hasImages()) << "the Sixel image stays";
}

TEST(KittyDelete, LinesWithoutImagesAreCountedAgain)
{
    Fixture f(20, 10);
    put(f, 0, 0, "i=1,p=1");
    put(f, 0, 2, "i=2,p=1", 1, 3);
    EXPECT_EQ(f.terminal->buffer().linesWithImagesCount(), 4);
    f.command("a=d,d=i,i=2");
    EXPECT_EQ(f.terminal->buffer().linesWithImagesCount(), 1);
    f.command("a=d");
    EXPECT_EQ(f.terminal->buffer().linesWithImagesCount(), 0);
}

struct EvictionCase {
    const char* name;
    std::int64_t limit;
    std::vector<std::string> commands;
    std::vector<std::uint32_t> stored;
};

void PrintTo(const EvictionCase& c, std::ostream* out) { *out << c.name; }

class KittyEviction : public testing::TestWithParam<EvictionCase> {};

TEST_P(KittyEviction, KeepsTheStoreWithinItsLimit)
{
    Fixture f(20, 10);
    changeOptions(*f.terminal, [&](TerminalOptions& options) { options.kittyImageCacheLimitBytes = GetParam().limit; });
    for (const std::string& command : GetParam().commands)
        f.command(command);
    EXPECT_EQ(stored(f), GetParam().stored);
    std::int64_t total = 0;
    for (const auto& [id, image] : f.store().imagesById)
        total += image.byteSize;
    EXPECT_EQ(f.store().totalImageBytes, total);
}

// 600 bytes of RGBA.
const std::string sixHundred = "f=32,s=150,v=1;" + base64(std::vector<std::uint8_t>(600, 1));

INSTANTIATE_TEST_SUITE_P(
    Limits, KittyEviction,
    testing::Values(
        EvictionCase{"neither placed: the older goes", 1000, {"a=t,i=1," + sixHundred, "a=t,i=2," + sixHundred}, {2}},
        // Shown by cells without a placement id (so without a record): still in use.
        EvictionCase{"the first shown: the one just stored goes", 1000,
                     {"a=T,i=1," + sixHundred, "a=t,i=2," + sixHundred}, {1}},
        EvictionCase{"the first shown and deleted: it goes", 1000,
                     {"a=T,i=1,p=1," + sixHundred, "a=d,d=i,i=1", "a=t,i=2," + sixHundred}, {2}},
        EvictionCase{"a negative limit keeps nothing", -1, {"a=t,i=1," + sixHundred, "a=T,i=2," + sixHundred}, {}},
        EvictionCase{"a limit past 4 GiB is held there", std::int64_t{1} << 40,
                     {"a=t,i=1," + sixHundred, "a=t,i=2," + sixHundred}, {1, 2}}));

// Placeholder cells draw whatever their image and virtual placement are at the time, but no
// line changes when those do: the rows holding placeholders of an image that was removed,
// replaced or placed anew must be reported for redraw, and no others.
struct PlaceholderRefreshCase {
    const char* name;
    std::int64_t limit; // the store's budget once the scene is set
    std::vector<std::string> commands;
    std::optional<std::pair<int, int>> redrawn; // first and last screen row
};

class KittyPlaceholderRefresh : public testing::TestWithParam<PlaceholderRefreshCase> {};

void PrintTo(const PlaceholderRefreshCase& c, std::ostream* out) { *out << c.name; }

const std::string& onePixel = placeholderPixel;

TEST_P(KittyPlaceholderRefresh, RedrawsTheRowsShowingTheImage)
{
    Fixture f(20, 10);
    showPlaceholderScene(f);
    changeOptions(*f.terminal, [&](TerminalOptions& options) { options.kittyImageCacheLimitBytes = GetParam().limit; });
    f.terminal->clearUpdateRange();

    for (const std::string& command : GetParam().commands)
        f.command(command);
    const auto range = f.terminal->getUpdateRange();
    ASSERT_EQ(range.has_value(), GetParam().redrawn.has_value());
    if (range) {
        EXPECT_EQ(std::pair(range->startY, range->endY), *GetParam().redrawn);
    }
}

INSTANTIATE_TEST_SUITE_P(
    Changes, KittyPlaceholderRefresh,
    testing::Values(
        PlaceholderRefreshCase{"its placement deleted", 1 << 20, {"a=d,d=i,i=42"}, std::pair(5, 5)},
        PlaceholderRefreshCase{"deleted with its image", 1 << 20, {"a=d,d=I,i=42"}, std::pair(5, 5)},
        PlaceholderRefreshCase{"another image deleted by number", 1 << 20,
                               {"a=t,q=2,I=3," + onePixel, "a=p,q=2,U=1,I=3,p=2", "a=d,d=N,I=3"}, std::nullopt},
        PlaceholderRefreshCase{"deleted by id range", 1 << 20, {"a=d,d=R,x=40,y=50"}, std::pair(5, 5)},
        PlaceholderRefreshCase{"deleted by z index with the other", 1 << 20, {"a=d,d=z,z=0"}, std::pair(2, 5)},
        PlaceholderRefreshCase{"new pixels under its id", 1 << 20, {"a=t,q=2,i=42," + onePixel}, std::pair(5, 5)},
        PlaceholderRefreshCase{"placed again", 1 << 20, {"a=p,q=2,U=1,i=7,c=3,r=1"}, std::pair(2, 2)},
        // The oldest image goes when another no longer fits, shown or not.
        PlaceholderRefreshCase{"evicted", 4, {"a=t,q=2,i=3," + onePixel}, std::pair(5, 5)},
        PlaceholderRefreshCase{"another image stored and deleted", 1 << 20,
                               {"a=t,q=2,i=3," + onePixel, "a=d,d=I,i=3"}, std::nullopt}));

} // namespace
} // namespace corvantix::test
