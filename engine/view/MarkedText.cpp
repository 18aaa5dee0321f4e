#include "view/MarkedText.h"

#include <algorithm>
#include <cmath>

namespace corvantix {

TextRange MarkedText::markedRange() const
{
    if (!markedTextStorage)
        return {};
    return {0, static_cast<std::int64_t>(markedTextStorage->size())};
}

void MarkedText::setMarkedText(std::u16string text, TextRange selectedRange)
{
    if (text.empty())
        markedTextStorage.reset();
    else
        markedTextStorage = std::move(text);
    markedSelectedRange = selectedRange;
}

void MarkedText::unmarkText()
{
    markedTextStorage.reset();
    markedSelectedRange = {};
}

std::optional<std::pair<TextRange, std::u16string>> MarkedText::substring(TextRange proposed) const
{
    if (!markedTextStorage || proposed.isNotFound() || proposed.location < 0 || proposed.length < 0)
        return std::nullopt;
    const auto size = static_cast<std::int64_t>(markedTextStorage->size());
    if (proposed.location >= size)
        return std::nullopt;
    const std::int64_t length = std::min(proposed.length, size - proposed.location);
    if (length < 1)
        return std::nullopt;
    const TextRange actual{proposed.location, length};
    return std::pair{actual, markedTextStorage->substr(static_cast<std::size_t>(actual.location),
                                                       static_cast<std::size_t>(actual.length))};
}

std::int64_t linearPosition(int col, std::int64_t row, int cols)
{
    return row * static_cast<std::int64_t>(cols) + col;
}

TextRange selectedRangeFor(const std::optional<std::pair<CellPoint, CellPoint>>& selection, CellPoint cursor, int cols)
{
    if (selection) {
        const std::int64_t start = linearPosition(selection->first.col, selection->first.row, cols);
        const std::int64_t end = linearPosition(selection->second.col, selection->second.row, cols);
        if (start != end)
            return {std::min(start, end), start > end ? start - end : end - start};
    }
    return {linearPosition(cursor.col, cursor.row, cols), 0};
}

std::int64_t characterIndexForPoint(double x, double y, const CellDimension& cell, int cols)
{
    if (!(cell.width > 0) || !(cell.height > 0) || !std::isfinite(x) || !std::isfinite(y))
        return 0;
    // Points far outside the view would overflow the conversion; no cell lies there anyway.
    constexpr double limit = 1e15;
    const double col = std::clamp(std::trunc(x / cell.width), -limit, limit);
    const double row = std::clamp(std::trunc(y / cell.height), -limit / 1e6, limit / 1e6);
    return linearPosition(0, static_cast<std::int64_t>(row), cols) + static_cast<std::int64_t>(col);
}

MarkedTextOverlayMetrics MarkedTextOverlayMetrics::compute(double caretX, double caretTop, double viewWidth,
                                                           const CellDimension& cell, double advanceOfW)
{
    MarkedTextOverlayMetrics metrics;
    metrics.y = caretTop;
    metrics.width = std::max(cell.width, viewWidth - 2 * inset);
    metrics.indent = std::max(caretX - inset, 0.0);
    metrics.kern = std::max(cell.width - advanceOfW, 0.0);
    return metrics;
}

} // namespace corvantix
