#include "engine/graphics/KittyTestSupport.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <optional>
#include <ostream>
#include <string>
#include <utility>
#include <vector>

namespace corvantix::test {
namespace {

// The rows showing placeholders of a changed image are looked for once per feed, however many
// image commands the feed holds, and are still all found.
struct PlaceholderPassCase {
    const char* name;
    std::string output; // fed whole, or in `pieces` pieces of near equal size
    int pieces;
    std::uint64_t mostPasses;
    std::optional<std::pair<int, int>> redrawn; // first and last screen row
    // Placeholder cells put on screen before the feed, beside those of the scene.
    std::string shown = {};
    // The rows between may be redrawn with more around them: past the list's cap a row is
    // allowed to be redrawn for nothing, never missed.
    bool orMore = false;
};

void PrintTo(const PlaceholderPassCase& c, std::ostream* out) { *out << c.name; }

std::string graphics(const std::string& body) { return apc("G" + body); }

std::string times(const std::string& unit, int count)
{
    std::string text;
    for (int i = 0; i < count; ++i)
        text += unit;
    return text;
}

// Image 42 placed again, then more images than are noted by name (64): no row may be missed,
// that of the 65th changed image (163) and that of the 100th (198) included.
std::string manyOtherImages()
{
    std::string text = graphics("a=p,q=2,U=1,i=42");
    for (int id = 100; id < 200; ++id)
        text += graphics("a=t,q=2,i=" + std::to_string(id) + "," + placeholderPixel) + graphics("a=p,q=2,U=1,i=" + std::to_string(id));
    return text;
}

class KittyPlaceholderPass : public testing::TestWithParam<PlaceholderPassCase> {};

TEST_P(KittyPlaceholderPass, LooksOncePerFeedAndFindsEveryRow)
{
    KittyFixture f(20, 10);
    // Text on every row, then image 42 shown through placeholders on row 5 and image 7 on row 2.
    feed(*f.terminal, "\x1b[H" + times("text\r\n", 9));
    showPlaceholderScene(f);
    const PlaceholderPassCase& c = GetParam();
    feed(*f.terminal, c.shown);
    f.terminal->clearUpdateRange();
    const std::uint64_t before = f.store().placeholderScanCount;

    const auto pieces = static_cast<std::size_t>(c.pieces);
    const std::size_t size = (c.output.size() + pieces - 1) / pieces;
    for (std::size_t offset = 0; offset < c.output.size(); offset += size)
        feed(*f.terminal, c.output.substr(offset, size));

    EXPECT_LE(f.store().placeholderScanCount - before, c.mostPasses);
    const auto range = f.terminal->getUpdateRange();
    ASSERT_EQ(range.has_value(), c.redrawn.has_value());
    if (range && c.orMore) {
        EXPECT_LE(range->startY, c.redrawn->first);
        EXPECT_GE(range->endY, c.redrawn->second);
    } else if (range) {
        EXPECT_EQ(std::pair(range->startY, range->endY), *c.redrawn);
    }
}

INSTANTIATE_TEST_SUITE_P(
    Feeds, KittyPlaceholderPass,
    testing::Values(
        PlaceholderPassCase{"placed a thousand times", times(graphics("a=p,q=2,U=1,i=42"), 1000), 1, 1, std::pair(5, 5)},
        PlaceholderPassCase{"placed a thousand times in four pieces", times(graphics("a=p,q=2,U=1,i=42"), 1000), 4, 4,
                            std::pair(5, 5)},
        PlaceholderPassCase{"new pixels five hundred times", times(graphics("a=t,q=2,i=7," + placeholderPixel), 500), 1, 1,
                            std::pair(2, 2)},
        PlaceholderPassCase{"deleted and sent again three hundred times",
                            times(graphics("a=d,q=2,d=i,i=42") + graphics("a=t,q=2,i=42," + placeholderPixel) + graphics("a=p,q=2,U=1,i=42"), 300),
                            1, 1, std::pair(5, 5)},
        PlaceholderPassCase{"placed, then a hundred other images", manyOtherImages(), 1, 1, std::pair(5, 8),
                            "\x1b[8;1H\x1b[38;5;163m\xf4\x8e\xbb\xae\x1b[9;1H\x1b[38;5;198m\xf4\x8e\xbb\xae\x1b[m\x1b[10;1H",
                            true},
        PlaceholderPassCase{"only text", times("more text\r\n", 50), 1, 0, std::pair(0, 9)},
        PlaceholderPassCase{"an image with no placeholders replaced", times(graphics("a=t,q=2,i=3," + placeholderPixel), 50), 1, 0,
                            std::nullopt}));

} // namespace
} // namespace corvantix::test
