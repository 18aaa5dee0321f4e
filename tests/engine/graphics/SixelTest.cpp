#include "graphics/SixelDcsHandler.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <optional>
#include <ostream>
#include <string>
#include <vector>

namespace corvantix {
namespace {

// Keeps every image handed over; palette numbers below 16 have a default colour.
class RecordingHost final : public SixelHost {
public:
    struct Image {
        std::vector<std::uint8_t> rgba;
        int width = 0;
        int height = 0;
    };

    std::optional<std::uint32_t> defaultColorRegister(int number) const override
    {
        if (number < 0 || number >= 16)
            return std::nullopt;
        return static_cast<std::uint32_t>(number) << 24 | 0x1020FF;
    }
    void createImageFromBitmap(std::vector<std::uint8_t>& rgba, int width, int height) override
    {
        images.push_back({rgba, width, height});
    }

    std::vector<Image> images;
};

// One whole string, from its start to its end.
void run(SixelDcsHandler& handler, const std::string& data)
{
    handler.hook();
    handler.put({reinterpret_cast<const std::uint8_t*>(data.data()), data.size()});
    handler.unhook();
}

std::vector<RecordingHost::Image> decode(const std::string& data)
{
    RecordingHost host;
    SixelDcsHandler handler(host);
    run(handler, data);
    return host.images;
}

struct ImageCase {
    const char* name;
    std::string data;
    int width;
    int height;
    std::uint32_t every; // the colour of every pixel, RGBA
};

void PrintTo(const ImageCase& c, std::ostream* out) { *out << c.name; }

class SixelImages : public testing::TestWithParam<ImageCase> {};

TEST_P(SixelImages, HaveTheirSizeAndColour)
{
    const ImageCase& c = GetParam();
    const auto images = decode(c.data);
    ASSERT_EQ(images.size(), 1u);
    EXPECT_EQ(images[0].width, c.width);
    EXPECT_EQ(images[0].height, c.height);
    ASSERT_EQ(images[0].rgba.size(), static_cast<std::size_t>(c.width) * c.height * 4);
    for (std::size_t i = 0; i < images[0].rgba.size(); i += 4) {
        const std::uint32_t pixel = static_cast<std::uint32_t>(images[0].rgba[i]) << 24 | images[0].rgba[i + 1] << 16
            | images[0].rgba[i + 2] << 8 | images[0].rgba[i + 3];
        ASSERT_EQ(pixel, c.every) << "pixel " << i / 4;
    }
}

INSTANTIATE_TEST_SUITE_P(
    Decoding, SixelImages,
    testing::Values(
        ImageCase{"RgbRedRepeated", "#0;2;100;0;0#0!3~", 3, 6, 0xFF0000FF},
        ImageCase{"RgbGreyRoundsDown", "#0;2;50;50;50#0~", 1, 6, 0x7F7F7FFF},
        ImageCase{"PercentAboveHundredIsHundred", "#0;2;250;0;0#0~", 1, 6, 0xFF0000FF},
        ImageCase{"HlsHueZeroIsBlue", "#0;1;0;50;100#0~", 1, 6, 0x0000FFFF},
        ImageCase{"HlsHue120IsRed", "#0;1;120;50;100#0~", 1, 6, 0xFF0000FF},
        ImageCase{"HlsHue240IsGreen", "#0;1;240;50;100#0~", 1, 6, 0x00FF00FF},
        ImageCase{"HlsHueAbove360IsBlue", "#0;1;999;50;100#0~", 1, 6, 0x0000FFFF},
        ImageCase{"HlsWithoutSaturationIsGrey", "#0;1;77;100;0#0~", 1, 6, 0xFFFFFFFF},
        ImageCase{"UndefinedRegisterTakesTheDefault", "#1~", 1, 6, 0x011020FF},
        ImageCase{"RegisterPastTheDefaultsIsTransparent", "#300~", 1, 6, 0x00000000},
        ImageCase{"UnknownKindOnlySelects", "#3;7;100;0;0~", 1, 6, 0x031020FF},
        ImageCase{"NextBandBelow", "#0~-~", 1, 12, 0x001020FF},
        ImageCase{"EmptySixelStillMoves", "#0?", 1, 0, 0},
        ImageCase{"CarriageReturnDrawsOver", "#0;2;0;0;100#0!2~$@", 2, 6, 0x0000FFFF},
        ImageCase{"RasterAttributesSkipped", "\"1;1;40;40#0;2;0;100;0#0~~", 2, 6, 0x00FF00FF},
        ImageCase{"NoColourCommandGivesNoPixels", "\"1;1;4;4~~~", 0, 0, 0},
        ImageCase{"PoundWithoutDigitsEndsTheImage", "#0;2;100;0;0#0~#~~", 1, 6, 0xFF0000FF},
        ImageCase{"RepeatWithoutDigitsIgnored", "#0;2;100;0;0#0!~", 1, 6, 0xFF0000FF},
        ImageCase{"RepeatOfZeroDrawsNothing", "#0;2;100;0;0#0!0~~", 1, 6, 0xFF0000FF},
        // A sixel repeated 0 times neither draws nor makes the image wider or taller.
        ImageCase{"RepeatOfZeroAloneGivesNoPixels", "#0!0~", 0, 0, 0},
        ImageCase{"RepeatOfZeroInTheNextBandAddsNoRows", "#0~-!0~", 1, 6, 0x001020FF},
        ImageCase{"HugeNumbersSaturate", "#99999999999999999999;2;99999999999999999999;0;0~", 1, 6, 0xFF0000FF},
        ImageCase{"WidestAllowed", "#0;2;100;0;0#0!10000~", 10000, 6, 0xFF0000FF}));

TEST(Sixel, TopBitIsTheTopPixel)
{
    // "@" sets bit 0 only, "_" bit 5 only; the other pixels stay transparent.
    const auto images = decode("#0;2;100;100;100#0@_");
    ASSERT_EQ(images.size(), 1u);
    ASSERT_EQ(images[0].width, 2);
    ASSERT_EQ(images[0].height, 6);
    const auto alpha = [&](int x, int y) { return images[0].rgba[static_cast<std::size_t>((y * 2 + x) * 4 + 3)]; };
    for (int y = 0; y < 6; ++y) {
        EXPECT_EQ(alpha(0, y), y == 0 ? 255 : 0) << "column 0 row " << y;
        EXPECT_EQ(alpha(1, y), y == 5 ? 255 : 0) << "column 1 row " << y;
    }
}

TEST(Sixel, OversizedImagesAreRefused)
{
    std::string tall = "#0";
    for (int band = 0; band < 1667; ++band)
        tall += "-";
    tall += "~";
    for (const std::string& data : {std::string("#0!999999999~"), std::string("#0!10001~"), std::string("#0!5000~$!5000?!5001@"), tall})
        EXPECT_TRUE(decode(data).empty()) << data.substr(0, 30);
}

TEST(Sixel, OverdrawingPastTheBudgetIsRefused)
{
    // Each "!9999~$" redraws a full-width row: a short string asking for more drawing than
    // eight full images of the largest size draws nothing, one within it draws.
    std::string data = "#0";
    for (int i = 0; i < 100; ++i)
        data += "!9999~$";
    EXPECT_EQ(decode(data).size(), 1u);
    const std::int64_t rounds = SixelDcsHandler::maximumSixelDraws / 9999 + 1;
    std::string flood = "#0";
    for (std::int64_t i = 0; i < rounds; ++i)
        flood += "!9999~$";
    EXPECT_TRUE(decode(flood).empty());
}

TEST(Sixel, PaletteEntriesAreBounded)
{
    std::string data;
    for (std::size_t reg = 0; reg <= SixelDcsHandler::maximumPaletteEntries; ++reg)
        data += "#" + std::to_string(reg + 100) + ";2;100;0;0";
    RecordingHost host;
    SixelDcsHandler handler(host);
    run(handler, data);
    EXPECT_EQ(handler.palette().size(), SixelDcsHandler::maximumPaletteEntries);
    EXPECT_EQ(handler.palette().count(100), 1u);
    EXPECT_EQ(handler.palette().count(100 + static_cast<int>(SixelDcsHandler::maximumPaletteEntries)), 0u);
}

TEST(Sixel, EachStringStartsAFreshPalette)
{
    RecordingHost host;
    SixelDcsHandler handler(host);
    for (const std::string data : {"#1;2;100;100;100#1~", "#1~"})
        run(handler, data);
    ASSERT_EQ(host.images.size(), 2u);
    EXPECT_EQ(host.images[0].rgba[0], 0xFF);
    EXPECT_EQ(host.images[1].rgba[0], 0x01) << "the default of register 1 again";
}

} // namespace
} // namespace corvantix
