#include "view/WindowReports.h"

#include <cmath>
#include <string>

namespace corvantix {

namespace {

// 2^63 as a double: the first value past the signed 64-bit range.
constexpr double int64Limit = 9223372036854775808.0;

std::optional<std::int64_t> toInt64(double value)
{
    if (!std::isfinite(value) || value >= int64Limit || value < -int64Limit)
        return std::nullopt;
    return static_cast<std::int64_t>(value);
}

std::vector<std::uint8_t> sizeReply(bool eightBitControls, int code, std::int64_t height, std::int64_t width)
{
    std::string text = eightBitControls ? std::string("\x9b", 1) : std::string("\x1b[", 2);
    text += std::to_string(code) + ";" + std::to_string(height) + ";" + std::to_string(width) + "t";
    return {text.begin(), text.end()};
}

} // namespace

std::optional<std::vector<std::uint8_t>> windowCommandReply(const WindowManipulationCommand& command,
                                                            const std::optional<CellDimension>& cell,
                                                            double scale, int cols, int rows,
                                                            bool eightBitControls)
{
    using Case = WindowManipulationCommand::Case;
    if (!cell)
        return std::nullopt;
    switch (command.kind) {
    case Case::reportTextAreaPixelDimension: {
        const auto height = toInt64(std::round(cell->height * scale * rows));
        const auto width = toInt64(std::round(cell->width * scale * cols));
        if (!height || !width)
            return std::nullopt;
        return sizeReply(eightBitControls, 4, *height, *width);
    }
    case Case::reportCellSizeInPixels: {
        const auto height = toInt64(std::trunc(cell->height * scale));
        const auto width = toInt64(std::trunc(cell->width * scale));
        if (!height || !width)
            return std::nullopt;
        return sizeReply(eightBitControls, 6, *height, *width);
    }
    default:
        return std::nullopt;
    }
}

} // namespace corvantix
