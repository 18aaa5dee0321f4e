#include "view/ImagePlacement.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <limits>
#include <optional>
#include <ostream>
#include <string>

namespace corvantix {
namespace {

constexpr double nan = std::numeric_limits<double>::quiet_NaN();
constexpr double infinity = std::numeric_limits<double>::infinity();

TEST(ImagePlacement, RgbaByteCountIsCheckedBeforeItOverflows)
{
    struct Case {
        std::int64_t width;
        std::int64_t height;
        std::optional<std::size_t> bytes;
    };
    const Case cases[] = {
        {1, 1, 4},
        {3, 6, 72},
        {65536, 65536, std::size_t{1} << 34},
        {0, 5, std::nullopt},
        {5, -1, std::nullopt},
        // Products that wrap around a 64-bit size: refused, not made small.
        {std::int64_t{1} << 31, std::int64_t{1} << 31, std::nullopt},
        {std::numeric_limits<std::int64_t>::max(), 1, std::nullopt},
        {std::int64_t{1} << 62, 4, std::nullopt},
    };
    for (const Case& c : cases)
        EXPECT_EQ(rgbaByteCount(c.width, c.height), c.bytes) << c.width << " x " << c.height;
}

TEST(ImagePlacement, EachRequestKindGivesItsLength)
{
    // Cells of 8 points, a view 1000 points wide, the natural length 200 pixels.
    struct Case {
        ImageSizeRequest request;
        double scale;
        double points;
    };
    const Case cases[] = {
        {ImageSizeRequest::cells(3), 1.0, 24},
        {ImageSizeRequest::pixels(40), 1.0, 40},
        {ImageSizeRequest::pixels(40), 2.0, 40}, // pixels are points whatever the scale
        {ImageSizeRequest::percent(50), 1.0, 500},
        {ImageSizeRequest::automatic(), 1.0, 200},
        {ImageSizeRequest::automatic(), 2.0, 100},
    };
    for (const Case& c : cases)
        EXPECT_DOUBLE_EQ(imageTargetLength(c.request, 200, 8, 1000, c.scale), c.points)
            << c.request.description() << " at scale " << c.scale;
}

struct StripeCase {
    std::string name;
    double width;
    double height;
    std::int64_t maximumStripes;
    std::optional<ImageStripes> stripes;
};

void PrintTo(const StripeCase& c, std::ostream* out)
{
    *out << c.name;
}

class ImageStripesTest : public ::testing::TestWithParam<StripeCase> {};

TEST_P(ImageStripesTest, CellsAndBounds)
{
    const StripeCase& c = GetParam();
    // Cells of 8 x 16 points.
    EXPECT_EQ(imageStripes(c.width, c.height, 8, 16, c.maximumStripes), c.stripes);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, ImageStripesTest,
    ::testing::Values(
        StripeCase{"3.7 rows take 4, the last holding the part row", 20, 16 * 3.7, 100, ImageStripes{3, 4, 20, 16}},
        StripeCase{"less than a row still takes one", 64, 15.9, 100, ImageStripes{8, 1, 64, 16}},
        StripeCase{"whole rows take no extra one", 24, 16 * 3.0000001, 100, ImageStripes{3, 3, 24, 16}},
        StripeCase{"a pixel past a row takes the next", 25, 49, 100, ImageStripes{4, 4, 25, 16}},
        StripeCase{"no height places no stripe", 64, 0, 100, ImageStripes{8, 0, 64, 16}},
        StripeCase{"exactly the largest side", 16384, 16384, 2000, ImageStripes{2048, 1024, 16384, 16}},
        StripeCase{"wider than the largest side", 16385, 16, 100, std::nullopt},
        StripeCase{"taller than the largest side", 16, 100000, 100000, std::nullopt},
        StripeCase{"more stripes than lines", 16, 16 * 101, 100, std::nullopt},
        StripeCase{"as many stripes as lines", 16, 16 * 100, 100, ImageStripes{2, 100, 16, 16}},
        StripeCase{"not a number", nan, 16, 100, std::nullopt},
        StripeCase{"infinite", 16, infinity, 100, std::nullopt},
        StripeCase{"negative", -16, 16, 100, std::nullopt}),
    [](const auto& info) {
        std::string name = info.param.name;
        for (char& ch : name)
            if (!std::isalnum(static_cast<unsigned char>(ch)))
                ch = '_';
        return name;
    });

// The cases the view's progress test does not reach through its reports.
TEST(ImagePlacement, ProgressReportsAndTheValueShown)
{
    using S = ProgressReportState;
    struct Case {
        const char* name;
        ProgressReport report;
        std::optional<std::uint8_t> last;
        ProgressShown shown;
    };
    const Case cases[] = {
        {"set shows its value", {S::set, 40}, std::nullopt, {false, 40, 40}},
        {"set without a value shows 0", {S::set, std::nullopt}, 70, {false, 0, 0}},
        {"pause with none ever is full", {S::pause, std::nullopt}, std::nullopt, {false, 100, 100}},
        {"pause with a value", {S::pause, 10}, 40, {false, 10, 10}},
        {"error with none ever slides", {S::error, std::nullopt}, std::nullopt, {false, std::nullopt, std::nullopt}},
        {"error with a value", {S::error, 90}, 55, {false, 90, 90}},
        {"remove hides and forgets", {S::remove, 50}, 30, {true, std::nullopt, std::nullopt}},
    };
    for (const Case& c : cases)
        EXPECT_EQ(progressShown(c.report, c.last), c.shown) << c.name;
}

} // namespace
} // namespace corvantix
