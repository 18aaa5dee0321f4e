#include "engine/graphics/KittyTestSupport.h"
#include "graphics/KittyGraphics.h"
#include "graphics/KittyGraphicsControl.h"

#include <gtest/gtest.h>

#include <limits>
#include <ostream>
#include <string>
#include <vector>

namespace corvantix::test {
namespace {

// The APC bodies after the "G", fed in order, and everything sent back.
struct ReplyCase { const char* name; std::vector<std::string> commands; std::string reply; };

void PrintTo(const ReplyCase& c, std::ostream* out) { *out << c.name; }

class KittyReplies : public testing::TestWithParam<ReplyCase> {};

TEST_P(KittyReplies, AnswerTheProgramExactly)
{
    KittyFixture f;
    std::string sent;
    for (const std::string& body : GetParam().commands) sent += f.command(body);
    EXPECT_EQ(sent, GetParam().reply);
}

INSTANTIATE_TEST_SUITE_P(
    Commands, KittyReplies,
    testing::Values(
        ReplyCase{"unstored transmit and put stays silent", {"a=T,f=24,s=1,v=1;AAAA"}, ""},
        ReplyCase{"stored transmit and put", {"a=T,f=24,s=1,v=1,i=5;AAAA"}, apc("Gi=5;OK")},
        ReplyCase{"id zero is no id", {"a=q,f=24,s=1,v=1,i=0;AAAA"}, apc("G;OK")},
        ReplyCase{"id past 32 bits is no id", {"a=q,f=24,s=1,v=1,i=4294967296;AAAA"}, apc("G;OK")},
        ReplyCase{"largest id", {"a=q,f=24,s=1,v=1,i=4294967295;AAAA"}, apc("Gi=4294967295;OK")},
        ReplyCase{"query echoes i, I and p", {"a=q,f=24,s=1,v=1,i=2,I=7,p=3;AAAA"}, apc("Gi=2,I=7,p=3;OK")},
        ReplyCase{"unknown action", {"a=x"}, apc("G;EINVAL: unsupported action")},
        ReplyCase{"error names i before I", {"a=t,i=4,I=5;AAAA"}, apc("Gi=4;EINVAL: i and I are mutually exclusive")},
        ReplyCase{"empty direct payload", {"a=t,i=1,f=24,s=1,v=1;"}, apc("Gi=1;EINVAL: bad payload")},
        ReplyCase{"unknown medium", {"a=t,i=1,t=q;AAAA"}, apc("Gi=1;ENOTSUP: unsupported transmission")},
        ReplyCase{"put of a missing image", {"a=p,i=31"}, apc("Gi=31;ENOENT: image not found")},
        ReplyCase{"chunks gather under the first control", {"a=t,i=1,f=24,s=3,v=1,m=1;AAAA", "m=1,q=1;BBBB", "m=0,q=1,i=9;CCCC"}, apc("Gi=1;OK")},
        ReplyCase{"chunks that do not decode", {"a=T,i=1,f=100,m=1;AAAA", "m=1;BBBB", "m=0,q=1;CCCC"}, apc("Gi=1;EINVAL: bad payload")},
        ReplyCase{"a delete drops the pending chunks", {"a=t,i=1,f=24,s=1,v=1,m=1;AA", "a=d", "a=t,i=2,f=24,s=1,v=1;AAAA"}, apc("Gi=2;OK")}),
    NameOfCase());

TEST(KittyCommands, EightBitRepliesUseSingleByteControls)
{
    KittyFixture f;
    feed(*f.terminal, "\x1b G");
    EXPECT_EQ(f.command("a=T,f=24,s=1,v=1,i=5;AAAA"), "\x9fGi=5;OK\x9c");
    EXPECT_EQ(f.command("a=x"), "\x9fG;EINVAL: unsupported action\x9c");
}

TEST(KittyControl, IntegersAreHeldToSafeRanges)
{
    const std::string text = "c=99999,r=4611686018427387904,H=-9999999999,X=99999999999,x=-5,"
                             "z=9223372036854775807,Y=9223372036854775808,U=+1,C=-0";
    const auto command = parseKittyGraphicsControl(std::span(reinterpret_cast<const std::uint8_t*>(text.data()), text.size()));
    const KittyGraphicsControl& c = command.control;
    EXPECT_EQ(c.columns, 10'000);
    EXPECT_EQ(c.rows, 10'000);
    EXPECT_EQ(c.offsetH, std::numeric_limits<int>::min());
    EXPECT_EQ(c.pixelOffsetX, std::numeric_limits<int>::max());
    EXPECT_EQ(c.cropX, -5);
    EXPECT_EQ(c.zIndex, std::numeric_limits<int>::max());
    EXPECT_EQ(c.pixelOffsetY, 0) << "past 64 bits reads as the default";
    EXPECT_EQ(c.unicodePlaceholder, 1);
    EXPECT_EQ(c.cursorPolicy, 0);
    EXPECT_TRUE(command.payload.empty());
}

// Stands in for the terminal where only the replies matter.
class ReplyHost final : public KittyGraphicsHost {
public:
    void send(std::span<const std::uint8_t> bytes) override { sent.append(bytes.begin(), bytes.end()); }
    bool sendsEightBitControls() const override { return false; }
    std::int64_t imageCacheLimitBytes() const override { return limit; }
    int cursorX() const override { return 0; }
    int cursorY() const override { return 0; }
    void setCursorX(int) override {}
    void setCursorY(int) override {}
    int yBase() const override { return 0; }
    int cols() const override { return 80; }
    int rows() const override { return 25; }
    int maximumLineCount() const override { return 25; }
    bool alternateScreenActive() const override { return false; }
    void index() override {}
    void restrictCursor() override {}
    std::optional<PixelSize> cellSizeInPixels() override { return std::nullopt; }
    std::optional<KittyPlacementContext>& placementContext() override { return context; }
    void createImageFromBitmap(std::vector<std::uint8_t>&, int, int) override {}
    void createImage(std::span<const std::uint8_t>, ImageSizeRequest, ImageSizeRequest, bool) override {}
    Buffer& normalScreen() override { return normal; }
    Buffer& alternateScreen() override { return alternate; }
    Buffer& activeScreen() override { return normal; }
    void updateRange(int) override {}
    bool isKittyPlaceholderCode(std::int32_t) const override { return false; }
    std::string sent;
    std::int64_t limit = 1 << 20;
    std::optional<KittyPlacementContext> context;
    Buffer normal{80, 25, 8, 0};
    Buffer alternate{80, 25, 8, std::nullopt};
};

void handle(KittyGraphics& graphics, std::string_view body)
{
    graphics.handleKittyGraphicsCommand(std::span(reinterpret_cast<const std::uint8_t*>(body.data()), body.size()));
}

TEST(KittyCommands, OversizedChunkedTransmissionIsDropped)
{
    // The gathered base64 of the largest payload, and a small stand-in limit for the test.
    EXPECT_EQ(kittyMaximumPendingBase64Bytes, (kittyMaximumPayloadBytes + 2) / 3 * 4);
    KittyGraphicsState state;
    ReplyHost host;
    KittyGraphics graphics(state, host, 8);
    handle(graphics, "a=t,i=4,f=24,s=2,v=1,m=1;AAAA");
    handle(graphics, "m=1;AAAA");
    EXPECT_EQ(host.sent, "");
    handle(graphics, "m=1;A");
    EXPECT_EQ(host.sent, apc("Gi=4;EINVAL: bad payload"));
    EXPECT_FALSE(state.pending.has_value());
    // A final chunk past the limit is refused the same way.
    host.sent.clear();
    handle(graphics, "a=t,i=5,f=24,s=2,v=1,m=1;AAAA");
    handle(graphics, "m=0;AAAAA");
    EXPECT_EQ(host.sent, apc("Gi=5;EINVAL: bad payload"));
    EXPECT_TRUE(state.imagesById.empty());
}

// Chunks that cross block boundaries anywhere, even inside a base64 quad, give back the
// pixels sent, and the gathered text never holds room for more than itself and one block.
TEST(KittyCommands, ChunkedTextGrowsInBlocks)
{
    const int side = 1300; // 6.76 MB of pixels, 9 MB of text: three blocks
    std::vector<std::uint8_t> pixels(static_cast<std::size_t>(side) * side * 4);
    for (std::size_t i = 0; i < pixels.size(); ++i)
        pixels[i] = static_cast<std::uint8_t>(i * 7 + i / 251);
    const std::string text = base64(pixels);
    KittyGraphicsState state;
    ReplyHost host;
    host.limit = 64 << 20;
    KittyGraphics graphics(state, host);
    const std::size_t piece = 4093;
    std::size_t maximumRoom = 0;
    for (std::size_t offset = 0; offset < text.size(); offset += piece) {
        const bool last = offset + piece >= text.size();
        std::string body = offset == 0 ? "a=t,i=3,f=32,s=" + std::to_string(side) + ",v=" + std::to_string(side) : "";
        body += last ? (body.empty() ? "m=0;" : ",m=0;") : (body.empty() ? "m=1;" : ",m=1;");
        body += text.substr(offset, piece);
        handle(graphics, body);
        if (!last) {
            ASSERT_TRUE(state.pending.has_value());
            EXPECT_EQ(state.pending->base64Size, std::min(text.size(), offset + piece));
            maximumRoom = std::max(maximumRoom, state.pending->reservedBytes() - state.pending->base64Size);
        }
    }
    EXPECT_LE(maximumRoom, kittyPendingBlockBytes);
    EXPECT_EQ(host.sent, apc("Gi=3;OK"));
    ASSERT_TRUE(state.imagesById.contains(3));
    EXPECT_TRUE(state.imagesById.at(3).payload.bytes == pixels);
}

} // namespace
} // namespace corvantix::test
