#include "gpu/GlyphLookup.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <string>
#include <vector>

#include "engine/graphics/KittyTestSupport.h"
#include "graphics/KittyGraphicsState.h"
#include "platform/Log.h"

namespace corvantix {
namespace {

TEST(GlyphLookupTest, CustomGlyphScaleRoundsToAWholeNumberOfAtLeastOne)
{
    struct Case { double scale; int key; };
    const Case cases[] = {{2.4, 2}, {0.3, 1}, {1.0, 1}, {1.5, 2}, {2.5, 3}, {0.0, 1}, {-3.0, 1},
                          {std::numeric_limits<double>::quiet_NaN(), 1}, {1e300, 1024}};
    for (const Case& c : cases)
        EXPECT_EQ(customGlyphScale(c.scale), c.key) << c.scale;
}

TEST(GlyphLookupTest, Fnv1aOfKnownInputs)
{
    struct Case { std::string text; std::uint32_t hash; };
    const Case cases[] = {{"", 2166136261u}, {"a", 0xE40C292Cu}, {"foobar", 0xBF9CF968u}};
    for (const Case& c : cases) {
        const std::vector<std::uint8_t> bytes(c.text.begin(), c.text.end());
        EXPECT_EQ(fnv1a32(bytes), c.hash) << '"' << c.text << '"';
    }
}

ShaperKey key(int n, std::string font = "DejaVuSansMono")
{
    return {std::move(font), 12.0, u"run " + std::u16string(1, static_cast<char16_t>(u'A' + n % 26)) +
                                       std::u16string(static_cast<std::size_t>(n / 26), u'.')};
}

TEST(ShaperCacheTest, TheFirstInsertedRunGoesFirstEvenWhenRecentlyRead)
{
    ShaperCache<int> cache;
    for (int i = 0; i < 2048; ++i)
        cache.insert(key(i), i);
    ASSERT_EQ(cache.size(), 2048u);
    ASSERT_NE(cache.find(key(0)), nullptr); // read: does not make it newer
    cache.insert(key(1), 100);              // replaced: keeps its place
    cache.insert(key(2048), 2048);
    EXPECT_EQ(cache.size(), 2048u);
    EXPECT_EQ(cache.find(key(0)), nullptr);
    ASSERT_NE(cache.find(key(1)), nullptr);
    EXPECT_EQ(*cache.find(key(1)), 100);
    cache.insert(key(2049), 2049);
    EXPECT_EQ(cache.find(key(1)), nullptr);
    EXPECT_NE(cache.find(key(2049)), nullptr);
}

TEST(ShaperCacheTest, FontAndSizeArePartOfTheKey)
{
    ShaperCache<int> cache;
    cache.insert(key(0, "DejaVuSansMono"), 1);
    cache.insert(key(0, "DejaVuSansMono-Bold"), 2);
    ShaperKey larger = key(0);
    larger.fontSize = 13.0;
    cache.insert(larger, 3);
    EXPECT_EQ(cache.size(), 3u);
    EXPECT_EQ(*cache.find(key(0)), 1);
    EXPECT_EQ(*cache.find(larger), 3);
}

KittyGraphicsImage storedImage(KittyGraphicsPayload::Kind kind, std::vector<std::uint8_t> bytes, int width, int height,
                               std::uint64_t stamp)
{
    KittyGraphicsImage image;
    image.payload.kind = kind;
    image.payload.bytes = std::move(bytes);
    image.payload.width = width;
    image.payload.height = height;
    image.storeStamp = stamp;
    return image;
}

TEST(KittyImageSignatureTest, DescribesThePayloadAndItsStoring)
{
    std::vector<std::uint8_t> pixels(2 * 2 * 4, 7);
    const KittyImageSignature raw =
        kittyImageSignature(storedImage(KittyGraphicsPayload::Kind::rgba, pixels, 2, 2, 5));
    EXPECT_EQ(raw, (KittyImageSignature{2, 2, 2, 16, fnv1a32(pixels), 5}));
    const KittyImageSignature encoded =
        kittyImageSignature(storedImage(KittyGraphicsPayload::Kind::png, std::vector<std::uint8_t>(100, 1), 30, 40, 6));
    EXPECT_EQ(encoded.kind, 1);
    EXPECT_EQ(encoded.width, 0);
    EXPECT_EQ(encoded.height, 0);
    EXPECT_EQ(encoded.byteCount, 100);
    EXPECT_EQ(encoded.headHash, fnv1a32(std::vector<std::uint8_t>(64, 1))); // the first 64 bytes only
    EXPECT_EQ(kittyImageSignature(storedImage(KittyGraphicsPayload::Kind::rgba, {}, 0, 0, 1)).headHash, 2166136261u);
}

TEST(KittyImageSignatureTest, AnImageResentWithNewPixelsBeyondTheHeadGetsANewSignature)
{
    std::vector<std::uint8_t> before(100 * 4, 0);
    std::vector<std::uint8_t> after = before;
    after.back() = 255; // a change past the first 64 bytes
    const auto first = kittyImageSignature(storedImage(KittyGraphicsPayload::Kind::rgba, before, 10, 10, 3));
    const auto resent = kittyImageSignature(storedImage(KittyGraphicsPayload::Kind::rgba, after, 10, 10, 4));
    EXPECT_EQ(first.headHash, resent.headHash);
    EXPECT_NE(first, resent);
    // The same stored image read twice matches.
    EXPECT_EQ(first, kittyImageSignature(storedImage(KittyGraphicsPayload::Kind::rgba, before, 10, 10, 3)));
}

TEST(KittyImageSignatureTest, TheStoreStampsEveryTransmissionAnew)
{
    test::KittyFixture fixture;
    std::vector<std::uint8_t> pixels(10 * 10 * 4, 0x20);
    fixture.command("a=t,q=2,i=9,f=32,s=10,v=10;" + test::base64(pixels));
    ASSERT_EQ(fixture.store().imagesById.count(9), 1u);
    const KittyImageSignature first = kittyImageSignature(fixture.store().imagesById.at(9));
    pixels.back() = 0x21;
    fixture.command("a=t,q=2,i=9,f=32,s=10,v=10;" + test::base64(pixels));
    const KittyImageSignature second = kittyImageSignature(fixture.store().imagesById.at(9));
    EXPECT_EQ(first.headHash, second.headHash);
    EXPECT_NE(first, second);
    // Placing the stored image again is no new transmission.
    fixture.command("a=p,q=2,i=9");
    EXPECT_EQ(kittyImageSignature(fixture.store().imagesById.at(9)), second);
}

struct NullTexture final : GlyphAtlasTexture {
    void replaceRegion(int, int, int, int, const std::uint8_t*, int) override {}
};
struct NullDevice final : GlyphAtlasDevice {
    std::unique_ptr<GlyphAtlasTexture> makeTexture(GlyphAtlasFormat, int) override { return std::make_unique<NullTexture>(); }
    bool supportsLargeTextures() const override { return true; }
};

TEST(GlyphLookupTest, AtlasChangesInvalidateWhatTheyMust)
{
    LogSink previous = setLogSink([](LogStream, std::string_view) {});
    NullDevice device;
    auto atlas = GlyphAtlas::make(device, GlyphAtlasFormat::grayscale, 256, 512);
    int size = atlas->size();
    atlas->allocate(10, 10);
    EXPECT_EQ(atlasInvalidation(*atlas, size), AtlasInvalidation::none);
    size = atlas->size();
    atlas->allocate(300, 10); // grows to 512
    EXPECT_EQ(atlasInvalidation(*atlas, size), AtlasInvalidation::rowsOnly);
    size = atlas->size();
    for (int i = 0; i < 30 && !atlas->didReset(); ++i)
        atlas->allocate(200, 200);
    EXPECT_EQ(atlasInvalidation(*atlas, size), AtlasInvalidation::everything);
    setLogSink(std::move(previous));
}

} // namespace
} // namespace corvantix
