#include "engine/graphics/KittyTestSupport.h"
#include "graphics/KittyGraphics.h"
#include "graphics/KittyPlacementCells.h"

#include <gtest/gtest.h>

#include <map>
#include <ostream>
#include <set>
#include <string>
#include <vector>

namespace corvantix::test {
namespace {

using Fixture = KittyFixtureWith<PlacingViewDelegate>;

// An RGBA image of the given size in cells of 10 x 20 pixels.
std::string cellsOfImage(int cols, int rows)
{
    return "f=32,s=" + std::to_string(cols * 10) + ",v=" + std::to_string(rows * 20) + ";"
        + base64(std::vector<std::uint8_t>(static_cast<std::size_t>(cols) * 10 * rows * 20 * 4, 0x7F));
}

// The image objects of a buffer, one entry per object: "L:i/p@C" for a Kitty cell on line L
// at column C, "L:other" for any other object.
std::vector<std::string> objectsOn(const Buffer& buffer)
{
    std::vector<std::string> found;
    for (int index = 0; index < buffer.lines().count(); ++index) {
        const auto& line = buffer.lines().peek(index);
        if (!line || !line->images())
            continue;
        for (const auto& image : *line->images()) {
            const KittyPlacementImage* cell = kittyImageCell(*image);
            if (!cell) {
                found.push_back(std::to_string(index) + ":other");
                continue;
            }
            found.push_back(std::to_string(index) + ":" + std::to_string(cell->kittyImageId.value_or(0)) + "/"
                            + std::to_string(cell->kittyPlacementId.value_or(0)) + "@" + std::to_string(image->col()));
        }
    }
    return found;
}

std::pair<int, int> rowAndColumn(const KittyPlacementRecord& record) { return {record.row, record.col}; }

TEST(KittyScreen, RegionScrollMovesTheRecordToTheTopMostCell)
{
    Fixture f(20, 8);
    feed(*f.terminal, "\x1b[4;7r\x1b[5;3H"); // region rows 3..6, cursor at row 4, column 2
    f.command("a=T,q=2,i=1,p=1," + cellsOfImage(1, 2));
    ASSERT_EQ(objectsOn(f.terminal->buffer()), (std::vector<std::string>{"4:1/1@2", "5:1/1@2"}));

    struct Step { std::vector<std::string> objects; std::pair<int, int> record; };
    const std::vector<Step> steps{
        {{"3:1/1@2", "4:1/1@2"}, {3, 2}},
        {{"3:1/1@2"}, {3, 2}},
        // The last cell left the region: the record stays where its cells last were.
        {{}, {3, 2}},
    };
    for (std::size_t i = 0; i < steps.size(); ++i) {
        feed(*f.terminal, "\x1b[7;1H\x1b" "D"); // a line feed at the bottom margin
        EXPECT_EQ(objectsOn(f.terminal->buffer()), steps[i].objects) << "after scroll " << i + 1;
        EXPECT_EQ(rowAndColumn(f.store().placementsByKey.at({1, 1})), steps[i].record) << "after scroll " << i + 1;
    }
    // With the last image gone, text-only scrolling is free again.
    EXPECT_EQ(f.terminal->buffer().linesWithImagesCount(), 0);
}

TEST(KittyScreen, RecordFollowsTheRingDroppingItsOldestLine)
{
    PlacingViewDelegate delegate;
    TerminalOptions options;
    options.cols = 10;
    options.rows = 3;
    options.scrollback = 2;
    Terminal terminal(&delegate, options);
    feed(terminal, std::string(10, '\n')); // the ring is full: five lines, the screen on the last three
    ASSERT_EQ(terminal.buffer().yBase(), 2);
    feed(terminal, "\x1b[1;4H\x1b_Ga=T,q=2,i=1,p=1," + cellsOfImage(1, 1) + "\x1b\\");
    const KittyPlacementRecord& record = terminal.kittyGraphicsState().placementsByKey.at({1, 1});
    EXPECT_EQ(rowAndColumn(record), std::make_pair(2, 3));
    for (const int expected : {1, 0, 0}) {
        feed(terminal, "\x1b[3;1H\n");
        EXPECT_EQ(rowAndColumn(record).first, expected);
    }
    EXPECT_TRUE(objectsOn(terminal.buffer()).empty());
    EXPECT_EQ(terminal.buffer().linesWithImagesCount(), 0);
}

TEST(KittyScreen, ChildFollowsItsParentAndAnOrphanStays)
{
    Fixture f(20, 8);
    feed(*f.terminal, "\x1b[4;7r\x1b[5;3H");
    f.command("a=T,q=2,i=1,p=1," + cellsOfImage(1, 1)); // parent inside the region, row 4
    // The child hangs three rows above its parent, outside the region, and 3 columns right.
    f.command("a=T,q=2,i=2,p=1,P=1,Q=1,H=3,V=-3," + cellsOfImage(1, 1));
    ASSERT_EQ(objectsOn(f.terminal->buffer()), (std::vector<std::string>{"1:2/1@5", "4:1/1@2"}));

    feed(*f.terminal, "\x1b[7;1H\x1b" "D"); // only the parent's line moves
    EXPECT_EQ(objectsOn(f.terminal->buffer()), (std::vector<std::string>{"0:2/1@5", "3:1/1@2"}));
    EXPECT_EQ(rowAndColumn(f.store().placementsByKey.at({1, 1})), std::make_pair(3, 2));
    EXPECT_EQ(rowAndColumn(f.store().placementsByKey.at({2, 1})), std::make_pair(0, 5));

    // Without its parent the child keeps its place.
    f.terminal->forgetKittyPlacement(1, 1);
    feed(*f.terminal, "\x1b[7;1H\x1b" "D");
    EXPECT_EQ(objectsOn(f.terminal->buffer()), (std::vector<std::string>{"0:2/1@5"}));
    EXPECT_EQ(rowAndColumn(f.store().placementsByKey.at({2, 1})), std::make_pair(0, 5));
}

struct MoveCase {
    const char* name;
    int delta;
    std::vector<std::string> objects;
};

void PrintTo(const MoveCase& c, std::ostream* out) { *out << c.name; }

class KittyMoveCells : public testing::TestWithParam<MoveCase> {};

TEST_P(KittyMoveCells, MovesOrDropsThePlacementsCells)
{
    Buffer buffer(10, 5, 8, std::nullopt);
    buffer.fillViewportRows(Attribute::defaultAttribute());
    const auto cell = [](std::uint32_t id, int column) {
        auto image = std::make_shared<TestImageCell>(10, 20, column);
        image->kittyIsKitty = true;
        image->kittyImageId = id;
        image->kittyPlacementId = 1;
        return image;
    };
    buffer.attachImagesToLine(cell(8, 1), 2);
    buffer.attachImagesToLine(cell(8, 6), 2); // a second object of the same placement
    buffer.attachImagesToLine(cell(9, 0), 2);
    EXPECT_EQ(kittyCellPositions(buffer), (KittyCellPositions{{{8, 1}, {2, 1}}, {{9, 1}, {2, 0}}}));

    moveKittyPlacementCells(buffer, {8, 1}, GetParam().delta, 40, 4);
    EXPECT_EQ(objectsOn(buffer), GetParam().objects);
    std::set<std::string> lines;
    for (const std::string& object : GetParam().objects)
        lines.insert(object.substr(0, object.find(':')));
    EXPECT_EQ(buffer.linesWithImagesCount(), static_cast<int>(lines.size()));
    for (const auto& key : kittyCellPositions(buffer)) {
        const auto& line = buffer.lines()[key.second.row];
        EXPECT_EQ(kittyImageCell(*line->images()->front())->kittyRow, key.first.imageId == 8 ? 40 : 0);
    }
}

INSTANTIATE_TEST_SUITE_P(Deltas, KittyMoveCells,
                         testing::Values(MoveCase{"down one line", 1, {"2:9/1@0", "3:8/1@4", "3:8/1@4"}},
                                         MoveCase{"up to the first line", -2, {"0:8/1@4", "0:8/1@4", "2:9/1@0"}},
                                         MoveCase{"above the ring", -3, {"2:9/1@0"}},
                                         MoveCase{"below the ring", 3, {"2:9/1@0"}}));

struct ResetCase {
    const char* name;
    bool alternateActive; // when the sequence arrives
    std::string sequence;
    std::vector<std::string> normalObjects; // left on the normal screen
};

void PrintTo(const ResetCase& c, std::ostream* out) { *out << c.name; }

class KittyReset : public testing::TestWithParam<ResetCase> {};

const std::string redSixel = "\x1bPq#0;2;100;0;0#0~\x1b\\";

TEST_P(KittyReset, EmptiesTheStoreAndDropsObjects)
{
    Fixture f(20, 6);
    // Objects on the alternate screen, kept there when it is left without clearing.
    feed(*f.terminal, "\x1b[?47h\x1b[2;1H");
    f.command("a=T,q=2,i=2,p=1," + cellsOfImage(1, 1));
    feed(*f.terminal, redSixel + "\x1b[?47l\x1b[1;1H");
    // And on the normal screen: a Kitty placement, a Sixel image and a numbered image.
    f.command("a=T,q=2,i=1,p=1,C=1," + cellsOfImage(1, 1));
    feed(*f.terminal, "\x1b[3;1H" + redSixel);
    f.command("a=t,q=2,I=4," + cellsOfImage(1, 1));
    const std::uint32_t nextImageId = f.store().nextImageId;
    if (GetParam().alternateActive)
        feed(*f.terminal, "\x1b[?47h");

    feed(*f.terminal, GetParam().sequence);
    EXPECT_EQ(objectsOn(f.terminal->normalBuffer()), GetParam().normalObjects);
    EXPECT_EQ(objectsOn(f.terminal->altBuffer()), std::vector<std::string>{});
    EXPECT_EQ(f.terminal->altBuffer().linesWithImagesCount(), 0);
    EXPECT_TRUE(f.store().imagesById.empty());
    EXPECT_TRUE(f.store().imageNumbers.empty());
    EXPECT_TRUE(f.store().placementsByKey.empty());
    EXPECT_EQ(f.store().totalImageBytes, 0);
    EXPECT_EQ(f.store().nextImageId, nextImageId);
}

INSTANTIATE_TEST_SUITE_P(
    Sequences, KittyReset,
    testing::Values(ResetCase{"full reset", false, "\x1b" "c", {}},
                    ResetCase{"erase the display", false, "\x1b[2J", {}},
                    ResetCase{"erase the alternate display", true, "\x1b[2J", {"0:1/1@0", "2:other"}},
                    ResetCase{"full reset on the alternate screen", true, "\x1b" "c", {}}));

struct DropCase {
    const char* name;
    int scrollback;
    int imageRow;
    std::string sequence; // drops the image's line
};

void PrintTo(const DropCase& c, std::ostream* out) { *out << c.name; }

class KittyDroppedLine : public testing::TestWithParam<DropCase> {};

TEST_P(KittyDroppedLine, TakesItsImagesOutOfTheCount)
{
    PlacingViewDelegate delegate;
    TerminalOptions options;
    options.cols = 20;
    options.rows = 6;
    options.scrollback = GetParam().scrollback;
    Terminal terminal(&delegate, options);
    Buffer& screen = terminal.buffer();
    screen.attachImagesToLine(std::make_shared<TestImageCell>(10, 20, 0), screen.yBase() + GetParam().imageRow);
    ASSERT_EQ(screen.linesWithImagesCount(), 1);
    feed(terminal, GetParam().sequence);
    ASSERT_TRUE(objectsOn(screen).empty());
    EXPECT_EQ(screen.linesWithImagesCount(), 0) << "text-only scrolling would keep paying for images long gone";
}

INSTANTIATE_TEST_SUITE_P(
    Operations, KittyDroppedLine,
    testing::Values(DropCase{"region scroll", 100, 1, "\x1b[2;5r\x1b[5;1H\x1b" "D"},
                    DropCase{"reverse index", 100, 4, "\x1b[2;5r\x1b[2;1H\x1bM"},
                    DropCase{"delete line", 100, 2, "\x1b[3;1H\x1b[M"},
                    DropCase{"insert lines", 100, 5, "\x1b[3;1H\x1b[2L"},
                    DropCase{"full ring under a bottom margin", 0, 0, "\x1b[1;5r\x1b[5;1H\n"}));

struct SwitchStep {
    const char* name;
    std::string input; // escape sequences; "G..." is one image command
    std::set<std::uint32_t> stored;
    std::set<KittyPlacementKey> records;
};

TEST(KittyScreenSwitch, AlternateScreenStartsWithoutPlacements)
{
    Fixture f(20, 6);
    const std::vector<SwitchStep> steps{
        {"placed on the normal screen and one kept unplaced", "Ga=T,i=1,p=1|Ga=t,i=5", {1, 5}, {{1, 1}}},
        {"entering frees the unplaced image", "\x1b[?1049h", {1}, {{1, 1}}},
        {"placed on the alternate screen", "Ga=T,i=2,p=1", {1, 2}, {{1, 1}, {2, 1}}},
        {"leaving without clearing keeps it", "\x1b[?47l", {1, 2}, {{1, 1}, {2, 1}}},
        {"entering again drops it", "\x1b[?47h", {1}, {{1, 1}}},
        {"placed once more", "Ga=T,i=3,p=1", {1, 3}, {{1, 1}, {3, 1}}},
        {"leaving with a clear drops it", "\x1b[?1049l", {1}, {{1, 1}}},
    };
    for (const SwitchStep& step : steps) {
        std::string input = step.input;
        std::size_t start = 0;
        while (start <= input.size()) {
            const std::size_t end = std::min(input.find('|', start), input.size());
            const std::string part = input.substr(start, end - start);
            if (part.starts_with("G"))
                f.command(part.substr(1) + ",q=2," + cellsOfImage(1, 1));
            else
                feed(*f.terminal, part);
            start = end + 1;
        }
        std::set<std::uint32_t> stored;
        for (const auto& [id, image] : f.store().imagesById)
            stored.insert(id);
        std::set<KittyPlacementKey> records;
        for (const auto& [key, record] : f.store().placementsByKey)
            records.insert(key);
        EXPECT_EQ(stored, step.stored) << step.name;
        EXPECT_EQ(records, step.records) << step.name;
    }
    // The normal screen kept its cells through every switch.
    EXPECT_EQ(objectsOn(f.terminal->normalBuffer()), std::vector<std::string>{"0:1/1@0"});
    EXPECT_EQ(objectsOn(f.terminal->altBuffer()), std::vector<std::string>{});
}

} // namespace
} // namespace corvantix::test
