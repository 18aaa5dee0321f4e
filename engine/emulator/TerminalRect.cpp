// Rectangular area operations: DECALN, DECCRA, DECFRA, DECERA, DECSERA, DECIC and DECRQCRA.
//
// All of them work on the active screen, rows from yBase down. Only DECALN widens the
// refresh range; the others leave redrawing to the lines' generation counters.
#include "emulator/DiagnosticText.h"
#include "emulator/Terminal.h"

#include "platform/Log.h"

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <string>

namespace corvantix {

namespace {

// The line of screen row `row` of the active screen, made if its slot is still empty;
// null outside the ring.
BufferLine* screenLine(Buffer& screen, int row)
{
    const long long index = static_cast<long long>(screen.yBase()) + row;
    if (row < 0 || index >= screen.lines().count())
        return nullptr;
    return screen.lines()[static_cast<int>(index)].get();
}

// Stores `cell` into every cell of the rectangle, one run of word stores per row.
void fillRectangle(Buffer& screen, const ScreenRectangle& rectangle, const CharData& cell)
{
    if (rectangle.empty)
        return;
    for (int row = rectangle.top; row <= rectangle.bottom; ++row) {
        if (BufferLine* line = screenLine(screen, row))
            line->fillRange(cell, rectangle.left, rectangle.right + 1);
    }
}

} // namespace

ScreenRectangle Terminal::getRectangle(std::span<const int> pars, std::size_t start) const
{
    const auto parameter = [&](std::size_t offset) -> std::optional<int> {
        const std::size_t index = start + offset;
        if (index < pars.size())
            return pars[index];
        return std::nullopt;
    };
    int top = std::max(parameter(0).value_or(1), 1);
    int left = std::max(parameter(1).value_or(1), 1);
    // A bottom or right given as 0 stays 0 and empties the rectangle; only an absent one
    // means the last row or column.
    int bottom = std::min(parameter(2).value_or(rows_), rows_);
    int right = std::min(parameter(3).value_or(cols_), cols_);

    if (originMode_) {
        top += buffer_->scrollTop();
        bottom += buffer_->scrollTop();
        left += buffer_->marginLeft();
        right += buffer_->marginLeft();
    }
    if (bottom < top || right < left)
        return {0, 0, 0, 0, true};
    return {std::min(top - 1, rows_ - 1), std::min(left - 1, cols_ - 1), std::min(bottom - 1, rows_ - 1),
            std::min(right - 1, cols_ - 1), false};
}

void Terminal::cmdDECALN()
{
    Attribute attribute = curAttr_;
    attribute.style = {};
    attribute.underlineStyle = UnderlineStyle::none;
    const CharData fill(U'E', 1, attribute);

    setCursor(0, 0);
    for (int row = 0; row < rows_; ++row) {
        BufferLine* line = screenLine(*buffer_, row);
        if (line == nullptr)
            continue;
        line->fill(fill);
        line->setIsWrapped(false);
    }
    updateFullScreen();
    setCursor(0, 0);
}

void Terminal::cmdDECCRA(std::span<const int> pars, std::span<const std::uint8_t> collect)
{
    if (!collectIs(collect, '$'))
        return;
    const auto parameter = [&](std::size_t index) { return index < pars.size() ? pars[index] : 0; };
    const int sourceTop = std::max(parameter(0), 1);
    const int sourceLeft = std::max(parameter(1), 1);
    const int sourceBottom = parameter(2) == 0 ? rows_ : parameter(2);
    const int sourceRight = parameter(3) == 0 ? cols_ : parameter(3);
    const int sourcePage = std::max(parameter(4), 1);
    const int destinationTop = std::max(parameter(5), 1);
    const int destinationLeft = std::max(parameter(6), 1);
    const int destinationPage = std::max(parameter(7), 1);
    if (sourcePage != 1 || destinationPage != 1)
        return; // there is only one page

    const int sourceParameters[] = {sourceTop, sourceLeft, sourceBottom, sourceRight};
    const ScreenRectangle source = getRectangle(sourceParameters, 0);
    if (source.empty)
        return;
    const int dt = std::min(destinationTop - 1, rows_ - 1);
    const int dl = std::min(destinationLeft - 1, cols_ - 1);
    const int n = std::min(source.right - source.left + 1, cols_ - dl);

    const int height = std::min(source.bottom - source.top + 1, buffer_->rows() - dt);
    if (n <= 0 || height <= 0)
        return;
    // Like a memmove: rows are taken in the order that reads each source row before it is
    // overwritten, and runs within a row the same way, so an overlapping destination
    // receives the cells as they were.
    const bool downwards = dt > source.top;
    for (int k = 0; k < height; ++k) {
        const int offset = downwards ? height - 1 - k : k;
        BufferLine* to = screenLine(*buffer_, dt + offset);
        if (to == nullptr)
            continue;
        const BufferLine* from = screenLine(*buffer_, source.top + offset);
        const bool runs = from != nullptr && from->dataSize() >= source.left + n && to->dataSize() >= dl + n;
        if (runs) {
            const std::span<const PackedCell> in = from->cellSpan().subspan(static_cast<std::size_t>(source.left),
                                                                          static_cast<std::size_t>(n));
            const std::span<PackedCell> out = to->mutableCells().subspan(static_cast<std::size_t>(dl),
                                                                       static_cast<std::size_t>(n));
            if (from == to && dl > source.left)
                std::copy_backward(in.begin(), in.end(), out.end());
            else
                std::copy(in.begin(), in.end(), out.begin());
        } else {
            // A line shorter than the screen (or a missing one) reads as its last or default cells.
            for (int i = 0; i < n; ++i) {
                const int col = from == to && dl > source.left ? n - 1 - i : i;
                to->setCell(dl + col, from != nullptr ? from->getCell(source.left + col) : CharData::defaultCell());
            }
        }
        // The copied edges may cut wide characters, at the source or at the destination.
        to->mendWideEdges(dl, dl + n);
    }
}

void Terminal::cmdDECFRA(std::span<const int> pars, std::span<const std::uint8_t> collect)
{
    if (!collectIs(collect, '$')) {
        logInfo(silentLog_, "Not implemented CSI x with collect: collect=" + listText(collect)
                               + " and pars=" + listText(pars));
        return;
    }
    const ScreenRectangle rectangle = getRectangle(pars, 1);
    const int character = pars.empty() ? 0 : pars[0];
    // Used as a cell code directly; 0 leaves empty cells.
    const std::int32_t code = isValidScalar(character) ? character : 0x20;
    const Attribute attribute = curAttr_;
    fillRectangle(*buffer_, rectangle, CharData(code, 1, attribute));
}

void Terminal::cmdDECERA(std::span<const int> pars, std::span<const std::uint8_t> collect)
{
    if (collectIs(collect, '\'')) {
        printLine("TODO: Enable Locator Reporting (DECELR)");
        return;
    }
    if (!collectIs(collect, '$'))
        return;
    const Attribute attribute = curAttr_;
    fillRectangle(*buffer_, getRectangle(pars, 0), CharData(0x20, 1, attribute));
}

void Terminal::cmdDECSERA(std::span<const int> pars, std::span<const std::uint8_t> collect)
{
    if (!collectIs(collect, '$')) {
        logInfo(silentLog_, "CSI # { not implemented - XTPUSHSGR with " + listText(pars));
        return;
    }
    // No cell is protected, so every cell of the rectangle is erased; colours, link and
    // semantic zone stay.
    const ScreenRectangle rectangle = getRectangle(pars, 0);
    if (rectangle.empty)
        return;
    for (int row = rectangle.top; row <= rectangle.bottom; ++row) {
        BufferLine* line = screenLine(*buffer_, row);
        if (line == nullptr || line->dataSize() == 0)
            continue;
        const std::span<PackedCell> cells = line->mutableCells();
        const auto end = static_cast<std::size_t>(std::min(rectangle.right + 1, line->dataSize()));
        const auto begin = std::min(static_cast<std::size_t>(rectangle.left), end);
        // Colours, link and zone differ from cell to cell: only the characters go.
        for (std::size_t col = begin; col < end; ++col) {
            cells[col].setCode(0x20);
            cells[col].setWidth(1);
        }
        line->mendWideEdges(static_cast<int>(begin), static_cast<int>(end));
    }
}

void Terminal::cmdInsertColumns(std::span<const int> pars, std::span<const std::uint8_t> collect)
{
    if (!collectIs(collect, '\'')) {
        logInfo(silentLog_, "CSI # } not implemented- XTPOPSGR with " + listText(pars));
        return;
    }
    const int n = std::max(pars.empty() ? 1 : pars[0], 1);
    Buffer& screen = *buffer_;
    const int x = screen.x();
    if (marginMode_ && x < screen.marginLeft())
        return;
    if (x > screen.marginRight())
        return;
    const int rightEdge = marginMode_ ? screen.marginRight() : cols_ - 1;
    const CharData blank(0x20, 1,
                         Attribute{Attribute::Color::defaultColor(), Attribute::Color::defaultInvertedColor(), {},
                                   UnderlineStyle::none, std::nullopt});
    for (int row = screen.scrollTop(); row <= screen.scrollBottom(); ++row) {
        BufferLine* line = screenLine(screen, row);
        if (line == nullptr)
            continue;
        line->insertCells(x, n, rightEdge, blank);
        line->setIsWrapped(false);
    }
}

void Terminal::cmdDECRQCRA(std::span<const int> pars)
{
    const int pid = pars.empty() ? 1 : pars[0];
    std::string checksum = "0000";
    if (tdel != nullptr && tdel->trustsHost(*this) && pars.size() > 2) {
        const ScreenRectangle rectangle = getRectangle(pars, 2);
        // Unsigned, so a sum past 32 bits wraps around instead of overflowing.
        std::uint32_t sum = 0;
        if (!rectangle.empty) {
            for (int row = rectangle.top; row <= rectangle.bottom; ++row) {
                const BufferLine* line = screenLine(*buffer_, row);
                for (int col = rectangle.left; col <= rectangle.right; ++col) {
                    const std::int32_t code = line != nullptr ? line->packedCell(col).code() : 0;
                    if (code == 0) {
                        sum += 0x20; // an empty cell counts as a space
                    } else if (code <= CharData::firstSyntheticCode) {
                        sum += static_cast<std::uint32_t>(isValidScalar(code) ? code : 0x20);
                    } else {
                        for (const char32_t scalar : getCharacter(code))
                            sum += static_cast<std::uint32_t>(scalar);
                    }
                }
            }
        }
        char text[16];
        std::snprintf(text, sizeof text, "%04x", static_cast<unsigned>(sum));
        checksum = text;
    }
    sendResponse(cc_.dcs(), std::to_string(pid), "!~", checksum, cc_.st());
}

} // namespace corvantix
