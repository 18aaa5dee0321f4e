#include "engine/graphics/KittyTestSupport.h"
#include "graphics/KittyGraphics.h"

#include <gtest/gtest.h>

#include <chrono>
#include <map>
#include <ostream>
#include <string>
#include <vector>

namespace corvantix::test {
namespace {

using Bytes = std::vector<std::uint8_t>;

// Remembers where the cursor stood and what was asked for when the host made each image.
class PlacingDelegate : public RecordingDelegate {
public:
    struct Made { int x = 0; int y = 0; int width = 0; int height = 0; Bytes rgba; std::optional<KittyPlacementContext> context; };
    std::vector<Made> made;
    void createImageFromBitmap(Terminal& terminal, std::vector<std::uint8_t>& bytes, int width, int height) override
    {
        made.push_back({terminal.buffer().x(), terminal.buffer().y(), width, height, bytes, terminal.kittyPlacementContext()});
    }
    void createImage(Terminal& terminal, std::span<const std::uint8_t>, ImageSizeRequest, ImageSizeRequest, bool) override
    {
        made.push_back({terminal.buffer().x(), terminal.buffer().y(), -1, -1, {}, terminal.kittyPlacementContext()});
    }
};

using Fixture = KittyFixtureWith<PlacingDelegate>;

// Base64 of an RGBA image of the given size, every byte `value`.
std::string rgbaPixels(int width, int height, std::uint8_t value = 0)
{
    return base64(Bytes(static_cast<std::size_t>(width) * height * 4, value));
}

const std::string onePixel = "f=24,s=1,v=1;AAAA";

TEST(KittyStore, NumbersTakeFreshIds)
{
    Fixture f;
    EXPECT_EQ(f.command("a=t,i=1,f=24,s=1,v=1;AQID"), apc("Gi=1;OK"));
    // Id 1 is taken, so the numbered images get 2 and 3 instead of overwriting it.
    EXPECT_EQ(f.command("a=t,I=7," + onePixel), apc("Gi=2,I=7;OK"));
    EXPECT_EQ(f.command("a=t,I=7," + onePixel), apc("Gi=3,I=7;OK"));
    EXPECT_EQ(f.store().imagesById.at(1).payload.bytes, (Bytes{1, 2, 3, 255}));
    EXPECT_EQ(f.command("a=p,I=7"), apc("Gi=3,I=7;OK"));
    // Around the end of the id range, 0 and ids in use are passed over.
    f.terminal->setNextKittyImageId(4'294'967'295u);
    f.command("a=t,i=4294967295," + onePixel);
    EXPECT_EQ(f.command("a=t,I=8," + onePixel), apc("Gi=4,I=8;OK"));
    EXPECT_EQ(f.store().nextImageId, 5u);
}

TEST(KittyStore, EvictsTheLeastRecentlyUsedUnplacedImageFirst)
{
    const std::string sixHundredBytes = "f=32,s=150,v=1;" + rgbaPixels(150, 1);
    {
        Fixture f;
        changeOptions(*f.terminal, [&](TerminalOptions& options) { options.kittyImageCacheLimitBytes = 1000; });
        f.command("a=t,i=1," + sixHundredBytes);
        f.command("a=t,i=2," + sixHundredBytes);
        EXPECT_FALSE(f.store().imagesById.contains(1)) << "the older of two unplaced images";
        EXPECT_EQ(f.store().totalImageBytes, 600);
    }
    {
        Fixture f;
        changeOptions(*f.terminal, [&](TerminalOptions& options) { options.kittyImageCacheLimitBytes = 1000; });
        f.command("a=t,I=5," + sixHundredBytes);
        f.command("a=p,U=1,i=1,p=1");
        f.command("a=t,I=6," + sixHundredBytes);
        EXPECT_TRUE(f.store().imagesById.contains(1)) << "placed, so kept";
        EXPECT_FALSE(f.store().imagesById.contains(2));
        EXPECT_EQ(f.store().imageNumbers, (std::map<std::uint32_t, std::uint32_t>{{5, 1}}));
    }
}

TEST(KittyVirtual, PlacementsTakeTheNextIdAtTheCursor)
{
    Fixture f;
    feed(*f.terminal, "\x1b[3;5H");
    f.command("a=t,i=3," + onePixel);
    EXPECT_EQ(f.command("a=T,U=1,i=3,c=4,r=2," + onePixel), apc("Gi=3;OK"));
    EXPECT_EQ(f.command("a=p,U=1,i=3"), apc("Gi=3;OK"));
    ASSERT_EQ(f.store().placementsByKey.size(), 2u);
    const KittyPlacementRecord& first = f.store().placementsByKey.at({3, 1});
    EXPECT_TRUE(first.isVirtual);
    EXPECT_EQ(std::vector<int>({first.col, first.row, first.cols, first.rows}), std::vector<int>({4, 2, 4, 2}));
    EXPECT_TRUE(f.delegate.made.empty()) << "no image object for a virtual placement";
    EXPECT_EQ(f.cursor(), std::make_pair(4, 2));
    EXPECT_EQ(f.command("a=T,U=1,i=3,P=3,Q=1," + onePixel), apc("Gi=3;EINVAL: virtual placement cannot refer to parent"));
}

struct CropCase {
    const char* name;
    std::string keys;
    std::string reply;
    int width = 0; // of the image handed to the host; 0 when none
    int height = 0;
    Bytes rgba = {}; // its bytes, when given
};

void PrintTo(const CropCase& c, std::ostream* out) { *out << c.name; }

class KittyCrop : public testing::TestWithParam<CropCase> {};

TEST_P(KittyCrop, CutsTheSourceRectangle)
{
    Fixture f;
    // Three by two pixels, each byte its own index; the image maker gets them premultiplied
    // (16, 17, 18 at alpha 19 are 1, 1, 1).
    Bytes rgba(24);
    for (std::size_t i = 0; i < rgba.size(); ++i)
        rgba[i] = static_cast<std::uint8_t>(i);
    f.command("a=t,i=1,f=32,s=3,v=2;" + base64(rgba));
    EXPECT_EQ(f.command("a=p,i=1," + GetParam().keys), GetParam().reply);
    if (GetParam().width == 0) {
        EXPECT_TRUE(f.delegate.made.empty());
        return;
    }
    ASSERT_EQ(f.delegate.made.size(), 1u);
    EXPECT_EQ(f.delegate.made[0].width, GetParam().width);
    EXPECT_EQ(f.delegate.made[0].height, GetParam().height);
    if (!GetParam().rgba.empty()) {
        EXPECT_EQ(f.delegate.made[0].rgba, GetParam().rgba);
    }
}

INSTANTIATE_TEST_SUITE_P(Rectangles, KittyCrop,
                         testing::Values(CropCase{"no crop", "x=0,y=0,w=0,h=0", apc("Gi=1;OK"), 3, 2},
                                         CropCase{"width past the edge", "x=0,w=5", apc("Gi=1;OK"), 3, 2},
                                         CropCase{"right column", "x=2", apc("Gi=1;OK"), 1, 2},
                                         CropCase{"bottom row", "y=1,w=2", apc("Gi=1;OK"), 2, 1},
                                         CropCase{"inner rectangle", "x=1,y=1,w=2,h=1", apc("Gi=1;OK"), 2, 1, {1, 1, 1, 19, 2, 2, 2, 23}},
                                         CropCase{"x at the width", "x=3", apc("Gi=1;EINVAL: bad crop")},
                                         CropCase{"y far out", "y=2147483647", apc("Gi=1;EINVAL: bad crop")}));

TEST(KittyCrop, EncodedImageIsDecodedEvenForAWholeCrop)
{
    const Bytes pixels{10, 20, 30, 255, 40, 50, 60, 255};
    const Bytes png = encodePng(pixels, 2, 1);
    Fixture f;
    EXPECT_EQ(f.command("a=t,i=1,f=100;" + base64(png)), apc("Gi=1;OK"));
    f.command("a=p,i=1");
    f.command("a=p,i=1,w=2");
    f.command("a=p,i=1,x=1");
    ASSERT_EQ(f.delegate.made.size(), 3u);
    EXPECT_EQ(f.delegate.made[0].width, -1) << "uncropped: handed over encoded";
    EXPECT_EQ(f.delegate.made[1].rgba, pixels);
    EXPECT_EQ(f.delegate.made[2].rgba, (Bytes{40, 50, 60, 255}));
}

struct CursorCase {
    const char* name;
    std::string keys;                    // after a=T,i=1
    std::optional<CellPixelSize> cell;
    std::pair<int, int> cursor;          // after the put, starting at column 2, row 3
};

void PrintTo(const CursorCase& c, std::ostream* out) { *out << c.name; }

class KittyCursor : public testing::TestWithParam<CursorCase> {};

TEST_P(KittyCursor, MovesPastTheImage)
{
    Fixture f(80, 10);
    f.delegate.cellSize = GetParam().cell;
    feed(*f.terminal, "\x1b[4;3H");
    EXPECT_EQ(f.command("a=T,i=1," + GetParam().keys), apc("Gi=1;OK"));
    EXPECT_EQ(f.cursor(), GetParam().cursor);
}

const std::string hundredByFifty = "f=32,s=100,v=50;" + rgbaPixels(100, 50);

INSTANTIATE_TEST_SUITE_P(
    Policies, KittyCursor,
    testing::Values(
        CursorCase{"stays with C=1", "C=1,c=3,r=2," + onePixel, CellPixelSize{10, 20}, {2, 3}},
        CursorCase{"cells given", "c=3,r=2," + onePixel, CellPixelSize{10, 20}, {5, 5}},
        CursorCase{"held to the screen", "c=300,r=200," + onePixel, CellPixelSize{10, 20}, {79, 9}},
        CursorCase{"pixel size and offset", "X=5," + hundredByFifty, CellPixelSize{10, 20}, {2 + 11, 3 + 3}},
        CursorCase{"width only keeps the ratio", "c=4," + hundredByFifty, CellPixelSize{10, 20}, {2 + 4, 3 + 1}},
        CursorCase{"offset held inside the cell", "X=500,Y=500," + onePixel, CellPixelSize{10, 20}, {2 + 1, 3 + 1}},
        CursorCase{"no cell size and no cells", hundredByFifty, std::nullopt, {2, 3}}));

TEST(KittyCursor, HugeRowCountReturnsAtOnce)
{
    Fixture f(20, 5);
    const auto start = std::chrono::steady_clock::now();
    f.command("a=T,i=1,c=4611686018427387904,r=4611686018427387904," + onePixel);
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(1));
    EXPECT_EQ(f.cursor(), std::make_pair(19, 4));
    const int lines = f.terminal->buffer().lines().count();
    EXPECT_LE(lines, f.terminal->buffer().lines().maxLength());
}

// A parent placement for the tests: virtual, recorded where the cursor stands.
void placeParent(Fixture& f, int col, int row)
{
    feed(*f.terminal, "\x1b[" + std::to_string(row + 1) + ";" + std::to_string(col + 1) + "H");
    f.command("a=t,i=1," + onePixel);
    f.command("a=p,U=1,i=1,p=1,q=1");
}

TEST(KittyParent, ChildIsPlacedRelativeAndTheCursorStays)
{
    Fixture f;
    f.delegate.cellSize = CellPixelSize{10, 20};
    placeParent(f, 5, 2);
    feed(*f.terminal, "\x1b[10;10H");
    EXPECT_EQ(f.command("a=T,i=2,p=4,P=1,Q=1,H=2,V=1," + onePixel), apc("Gi=2,p=4;OK"));
    ASSERT_EQ(f.delegate.made.size(), 1u);
    EXPECT_EQ(std::make_pair(f.delegate.made[0].x, f.delegate.made[0].y), std::make_pair(7, 3));
    EXPECT_TRUE(f.delegate.made[0].context.value().isRelative);
    EXPECT_EQ(f.cursor(), std::make_pair(9, 9));
    EXPECT_FALSE(f.terminal->kittyPlacementContext().has_value()) << "the request lasts the host call only";
    // The column is held to the screen.
    f.command("a=T,i=3,P=1,Q=1,H=-50," + onePixel);
    EXPECT_EQ(f.delegate.made.back().x, 0);
}

struct ParentErrorCase { const char* name; std::string keys; std::string reply; };

void PrintTo(const ParentErrorCase& c, std::ostream* out) { *out << c.name; }

class KittyParentErrors : public testing::TestWithParam<ParentErrorCase> {};

TEST_P(KittyParentErrors, AreReportedAndNothingIsMade)
{
    Fixture f(80, 25);
    // Lines in the scrollback, so that the ring holds more lines than the screen.
    for (int i = 0; i < 40; ++i)
        feed(*f.terminal, "\r\n");
    placeParent(f, 5, 2);
    // Two placements that name each other, and one made on the other screen.
    f.terminal->recordKittyPlacement({.imageId = 7, .placementId = 1, .parentImageId = 8, .parentPlacementId = 1});
    f.terminal->recordKittyPlacement({.imageId = 8, .placementId = 1, .parentImageId = 7, .parentPlacementId = 1});
    KittyPlacementRecord other;
    other.imageId = 9;
    other.placementId = 1;
    other.isAlternateBuffer = true;
    f.terminal->recordKittyPlacement(other);
    const auto before = f.cursor();
    EXPECT_EQ(f.command("a=T,i=2," + GetParam().keys + "," + onePixel), GetParam().reply);
    EXPECT_TRUE(f.delegate.made.empty());
    EXPECT_EQ(f.cursor(), before);
}

INSTANTIATE_TEST_SUITE_P(
    Parents, KittyParentErrors,
    testing::Values(
        ParentErrorCase{"unknown parent", "P=4,Q=4", apc("Gi=2;ENOPARENT: parent placement not found")},
        ParentErrorCase{"loop of parents", "P=7,Q=1", apc("Gi=2;ENOPARENT: parent placement not found")},
        ParentErrorCase{"other screen", "P=9,Q=1", apc("Gi=2;ENOPARENT: parent placement not in current buffer")},
        ParentErrorCase{"below the screen though inside the ring", "P=1,Q=1,V=30", apc("Gi=2;EINVAL: placement out of range")},
        ParentErrorCase{"above the screen", "P=1,Q=1,V=-3", apc("Gi=2;EINVAL: placement out of range")}));

TEST(KittyParent, ChainsResolveUpToTheDepthLimit)
{
    Fixture f;
    placeParent(f, 0, 0);
    // Placement n of image 100 hangs one column right of placement n - 1; the first of
    // them hangs off the virtual parent (1, 1).
    constexpr std::uint32_t length = 100'000;
    for (std::uint32_t n = 1; n <= length; ++n) {
        f.terminal->recordKittyPlacement({.imageId = 100,
                                          .placementId = n,
                                          .parentImageId = n == 1 ? 1u : 100u,
                                          .parentPlacementId = n == 1 ? 1u : n - 1,
                                          .parentOffsetH = 1});
    }
    EXPECT_EQ(f.command("a=T,i=2,P=100,Q=64," + onePixel), apc("Gi=2;OK"));
    EXPECT_EQ(f.delegate.made.back().x, 64);
    EXPECT_EQ(f.command("a=T,i=2,P=100,Q=65," + onePixel), apc("Gi=2;ENOPARENT: parent placement not found"));
    EXPECT_EQ(f.command("a=T,i=2,P=100,Q=100000," + onePixel), apc("Gi=2;ENOPARENT: parent placement not found"));
}

} // namespace
} // namespace corvantix::test
