#include "view/ImagePlacement.h"

#include <cmath>
#include <limits>

namespace corvantix {

std::optional<std::size_t> rgbaByteCount(std::int64_t width, std::int64_t height)
{
    if (width <= 0 || height <= 0)
        return std::nullopt;
    constexpr std::size_t limit = std::numeric_limits<std::size_t>::max();
    const auto w = static_cast<std::size_t>(width);
    const auto h = static_cast<std::size_t>(height);
    if (w > limit / 4 || h > limit / (w * 4))
        return std::nullopt;
    return w * h * 4;
}

double imageTargetLength(ImageSizeRequest request, double natural, double cellLength, double viewLength, double scale)
{
    switch (request.kind) {
    case ImageSizeRequest::Case::cells: return request.value * cellLength;
    case ImageSizeRequest::Case::pixels: return request.value;
    case ImageSizeRequest::Case::percent: return request.value * 0.01 * viewLength;
    case ImageSizeRequest::Case::automatic: break;
    }
    return natural / (scale > 0 ? scale : 1.0);
}

ImageTargetSize imageTargetSize(const ImageSizeInputs& in)
{
    ImageTargetSize target;
    target.width = imageTargetLength(in.widthRequest, in.naturalWidth, in.cellWidth, in.viewWidth, in.scale);
    target.height = imageTargetLength(in.heightRequest, in.naturalHeight, in.cellHeight, in.viewHeight, in.scale);
    if (!in.preserveAspectRatio)
        return target;
    const bool widthAuto = in.widthRequest.kind == ImageSizeRequest::Case::automatic;
    const bool heightAuto = in.heightRequest.kind == ImageSizeRequest::Case::automatic;
    if (!widthAuto && heightAuto)
        target.height = target.width * in.sizeHeight / in.sizeWidth;
    else if (widthAuto && !heightAuto)
        target.width = target.height * in.sizeWidth / in.sizeHeight;
    else if (!widthAuto && !heightAuto)
        target.fitInside = true;
    return target;
}

std::optional<ImageStripes> imageStripes(double targetWidth, double targetHeight, double cellWidth, double cellHeight,
                                         std::int64_t maximumStripes)
{
    if (!std::isfinite(targetWidth) || !std::isfinite(targetHeight) || !(cellWidth > 0) || !(cellHeight > 0))
        return std::nullopt;
    if (targetWidth < 0 || targetHeight < 0 || targetWidth > maximumImageSidePoints
        || targetHeight > maximumImageSidePoints || cellHeight > maximumImageSidePoints)
        return std::nullopt;
    ImageStripes stripes;
    // Every pixel row is drawn: a part row takes a stripe of its own, transparent below the
    // image, and the cells covered include the part ones (3.7 rows are 4). A hair over a
    // whole number, from the division, is not a part row.
    const auto cellsCovering = [](double length, double cell) {
        return static_cast<int>(std::ceil(length / cell - 1e-6));
    };
    stripes.rows = cellsCovering(targetHeight, cellHeight);
    stripes.cols = cellsCovering(targetWidth, cellWidth);
    if (stripes.rows > maximumStripes)
        return std::nullopt;
    stripes.stripeWidth = static_cast<int>(targetWidth);
    stripes.stripeHeight = static_cast<int>(cellHeight);
    return stripes;
}

ProgressShown progressShown(const ProgressReport& report, std::optional<std::uint8_t> lastValue)
{
    switch (report.state) {
    case ProgressReportState::remove: return {true, std::nullopt, std::nullopt};
    case ProgressReportState::set: {
        const std::uint8_t value = report.progress.value_or(0);
        return {false, value, value};
    }
    case ProgressReportState::error:
        if (report.progress)
            return {false, report.progress, report.progress};
        return {false, lastValue, lastValue};
    case ProgressReportState::indeterminate: return {false, std::nullopt, lastValue};
    case ProgressReportState::pause: {
        const std::uint8_t value = report.progress.value_or(lastValue.value_or(100));
        return {false, value, value};
    }
    }
    return {true, std::nullopt, std::nullopt};
}

} // namespace corvantix
