#include "drawing/CellMetrics.h"

#include <algorithm>
#include <cmath>
#include <limits>

namespace corvantix {

namespace {

double usableScale(double scale)
{
    return (std::isfinite(scale) && scale > 0) ? scale : 1.0;
}

// A finite, non-negative quotient truncated toward zero and clamped to the int range.
std::optional<int> truncatedCount(double value)
{
    if (!std::isfinite(value))
        return std::nullopt;
    const double clamped = std::clamp(std::trunc(value), 0.0, static_cast<double>(std::numeric_limits<int>::max()));
    return static_cast<int>(clamped);
}

std::optional<int> roundedInt(double value)
{
    if (!std::isfinite(value))
        return std::nullopt;
    const double rounded = std::round(value); // halves away from zero
    if (rounded < std::numeric_limits<int>::min() || rounded > std::numeric_limits<int>::max())
        return std::nullopt;
    return static_cast<int>(rounded);
}

} // namespace

CellDimension computeCellSize(const FontMetricsValue& metrics, double lineSpacing, double scale)
{
    const double s = usableScale(scale);
    const double lineHeight = std::ceil((metrics.ascent + metrics.descent + metrics.leading) * lineSpacing);
    double width = std::round(metrics.advance * s) / s;
    double height = std::ceil(lineHeight * s) / s;

    // Written so that a value that is not a number also lands on the minimum.
    if (!(width >= minimumCellWidth))
        width = minimumCellWidth;
    if (height > maximumCellHeight)
        height = maximumCellHeight;
    if (!(height > minimumCellHeight))
        height = minimumCellHeight;
    return {width, height};
}

std::optional<GridSize> gridFromFrame(double width, double height, double scrollerWidth, const CellDimension& cell)
{
    const double usableWidth = std::max(width - scrollerWidth, 0.0);
    const auto cols = truncatedCount(usableWidth / cell.width);
    const auto rows = truncatedCount(height / cell.height);
    if (!cols || !rows)
        return std::nullopt;
    return GridSize{*cols, *rows};
}

GlyphSlotFit glyphSlotFit(double advance, const GlyphBounds& bounds, int columnWidth,
                          const std::optional<CellDimension>& cell, double baselineOffset)
{
    if (columnWidth < 2 || !cell)
        return GlyphSlotFit::neutral();
    if (!(advance > 0))
        return GlyphSlotFit::neutral();

    const double slotWidth = cell->width * columnWidth;
    const bool fits = bounds.width <= slotWidth && bounds.height <= cell->height;
    if (fits || bounds.width <= 0 || bounds.height <= 0)
        return {(slotWidth - advance) * 0.5, 0, 1.0};

    double s = std::min({slotWidth / bounds.width, cell->height / bounds.height, 1.0});
    if (s < minimumGlyphScale)
        s = minimumGlyphScale;
    const double dx = (slotWidth - s * advance) * 0.5;
    if (s == 1.0)
        return {dx, 0, 1.0};
    const double dy = cell->height * 0.5 - std::ceil(baselineOffset) - s * (bounds.minY + bounds.height * 0.5);
    return {dx, dy, s};
}

std::optional<CellPixelSize> cellSizeInPixels(const CellDimension& cell, double scale)
{
    const auto width = roundedInt(cell.width * scale);
    const auto height = roundedInt(cell.height * scale);
    if (!width || !height)
        return std::nullopt;
    return CellPixelSize{*width, *height};
}

} // namespace corvantix
