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
};

void PrintTo(const PlaceholderPassCase& c, std::ostream* out) { *out << c.name; }

std::string apc(const std::string& body) { return "\x1b_G" + body + "\x1b\\"; }

std::string times(const std::string& unit, int count)
{
    std::string text;
    for (int i = 0; i < count; ++i)
        text += unit;
    return text;
}

const std::string pixel = "f=32,s=1,v=1;" + base64(std::vector<std::uint8_t>(4, 0x7F));

// Image 42 placed again, then more images than are noted by name: no row may be missed.
std::string manyOtherImages()
{
    std::string text = apc("a=p,q=2,U=1,i=42");
    for (int id = 100; id < 200; ++id)
        text += apc("a=t,q=2,i=" + std::to_string(id) + "," + pixel) + apc("a=p,q=2,U=1,i=" + std::to_string(id));
    return text;
}

class KittyPlaceholderPass : public testing::TestWithParam<PlaceholderPassCase> {};

TEST_P(KittyPlaceholderPass, LooksOncePerFeedAndFindsEveryRow)
{
    KittyFixture f(20, 10);
    // Image 42 shown through placeholders on row 5, image 7 on row 2, text on the other rows;
    // the cursor then rests on row 9.
    f.command("a=T,q=2,U=1,i=42,c=2,r=1," + pixel);
    f.command("a=T,q=2,U=1,i=7,c=1,r=1," + pixel);
    feed(*f.terminal, "\x1b[H" + times("text\r\n", 9));
    const std::string piece = "\xf4\x8e\xbb\xae\xcc\x85"; // U+10EEEE, row 0
    feed(*f.terminal, "\x1b[6;1H\x1b[38;5;42m" + piece + "\xcc\x85" + piece + "\xcc\x8d\x1b[m");
    feed(*f.terminal, "\x1b[3;4H\x1b[38;2;0;0;7m" + piece + "\xcc\x85\x1b[m\x1b[10;1H");
    f.terminal->clearUpdateRange();
    const std::uint64_t before = f.store().placeholderScanCount;

    const PlaceholderPassCase& c = GetParam();
    const auto pieces = static_cast<std::size_t>(c.pieces);
    const std::size_t size = (c.output.size() + pieces - 1) / pieces;
    for (std::size_t offset = 0; offset < c.output.size(); offset += size)
        feed(*f.terminal, c.output.substr(offset, size));

    EXPECT_LE(f.store().placeholderScanCount - before, c.mostPasses);
    const auto range = f.terminal->getUpdateRange();
    ASSERT_EQ(range.has_value(), c.redrawn.has_value());
    if (range) {
        EXPECT_EQ(std::pair(range->startY, range->endY), *c.redrawn);
    }
}

INSTANTIATE_TEST_SUITE_P(
    Feeds, KittyPlaceholderPass,
    testing::Values(
        PlaceholderPassCase{"placed a thousand times", times(apc("a=p,q=2,U=1,i=42"), 1000), 1, 1, std::pair(5, 5)},
        PlaceholderPassCase{"placed a thousand times in four pieces", times(apc("a=p,q=2,U=1,i=42"), 1000), 4, 4,
                            std::pair(5, 5)},
        PlaceholderPassCase{"new pixels five hundred times", times(apc("a=t,q=2,i=7," + pixel), 500), 1, 1,
                            std::pair(2, 2)},
        PlaceholderPassCase{"deleted and sent again three hundred times",
                            times(apc("a=d,q=2,d=i,i=42") + apc("a=t,q=2,i=42," + pixel) + apc("a=p,q=2,U=1,i=42"), 300),
                            1, 1, std::pair(5, 5)},
        PlaceholderPassCase{"placed, then a hundred other images", manyOtherImages(), 1, 1, std::pair(2, 5)},
        PlaceholderPassCase{"only text", times("more text\r\n", 50), 1, 0, std::pair(0, 9)},
        PlaceholderPassCase{"an image with no placeholders replaced", times(apc("a=t,q=2,i=3," + pixel), 50), 1, 0,
                            std::nullopt}));

} // namespace
} // namespace corvantix::test
