// The arithmetic of placing an inline image in the view, kept apart from the toolkit: the
// size a request asks for, the cells and stripes it takes, the bounds a program's numbers
// must stay within before anything is allocated, and what the progress bar shows for a report.
#pragma once

#include "emulator/TerminalDelegate.h"
#include "graphics/ImageSizeRequest.h"

#include <cstddef>
#include <cstdint>
#include <optional>

namespace corvantix {

// The largest side, in points, an image may be drawn at; anything larger is a program asking
// for gigabytes of stripes, not a picture.
inline constexpr double maximumImageSidePoints = 16'384;

// width x height x 4 bytes of RGBA pixels, or none when a side is not positive or the
// product does not fit a size_t (checked before the multiplication, not after).
std::optional<std::size_t> rgbaByteCount(std::int64_t width, std::int64_t height);

// One axis of a request in points: cells of `cellLength`, pixels as points, a percentage of
// `viewLength`, or (auto) the natural length over the backing scale.
double imageTargetLength(ImageSizeRequest request, double natural, double cellLength, double viewLength,
                         double scale);

struct ImageTargetSize {
    double width = 0;
    double height = 0;
    // Both axes were given with the aspect kept: the image is fitted into the target,
    // centred, the rest left transparent.
    bool fitInside = false;

    friend constexpr bool operator==(const ImageTargetSize&, const ImageTargetSize&) = default;
};

// The size an image is drawn at. `natural*` are the lengths auto stands for, `size*` the
// image's own size (the aspect ratio always comes from it).
struct ImageSizeInputs {
    ImageSizeRequest widthRequest;
    ImageSizeRequest heightRequest;
    bool preserveAspectRatio = true;
    double naturalWidth = 0;
    double naturalHeight = 0;
    double sizeWidth = 0;
    double sizeHeight = 0;
    double cellWidth = 0;
    double cellHeight = 0;
    double viewWidth = 0;
    double viewHeight = 0;
    double scale = 1.0;
};
ImageTargetSize imageTargetSize(const ImageSizeInputs& inputs);

// The cells an image of the target size covers and the stripe each row gets.
struct ImageStripes {
    int cols = 0;
    int rows = 0; // one stripe per row touched by the image, the last one holding its part row
    int stripeWidth = 0; // pixels (one per point)
    int stripeHeight = 0;

    friend constexpr bool operator==(const ImageStripes&, const ImageStripes&) = default;
};

// None (nothing is placed) when a length is not finite, a side is above
// maximumImageSidePoints, or the image needs more stripes than `maximumStripes` (the lines
// the screen and its scrollback can hold).
std::optional<ImageStripes> imageStripes(double targetWidth, double targetHeight, double cellWidth, double cellHeight,
                                         std::int64_t maximumStripes);

// What the progress bar shows for a report, given the last value shown.
struct ProgressShown {
    bool hidden = false;
    std::optional<std::uint8_t> value; // none: the bar slides back and forth
    std::optional<std::uint8_t> lastValue; // what later reports without a value fall back to
    friend constexpr bool operator==(const ProgressShown&, const ProgressShown&) = default;
};
ProgressShown progressShown(const ProgressReport& report, std::optional<std::uint8_t> lastValue);

} // namespace corvantix
