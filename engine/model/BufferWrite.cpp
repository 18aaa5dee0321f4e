// Writing printed characters into the buffer: one character at a time (insertCharacter) or
// a run of single-width bytes in one pass per row (insertNarrowRun).
#include "model/Buffer.h"

#include "model/CellRuns.h"
#include "platform/Log.h"

#include <algorithm>

namespace corvantix {

namespace {

constexpr const char* indexOutOfRangeMessage =
    "BufferLine: You passed an index out of range, adjusting to prevent crash, but you should debug";

// The cursor moves to the restart column of the next row. On the bottom row of the scroll
// region the owner scrolls and the new bottom line is the continuation; otherwise the next
// row is marked as the continuation of the one above.
void wrapToNextRow(Buffer& buffer)
{
    buffer.setX(buffer.writeRestartColumn());
    if (buffer.y() >= buffer.scrollBottom()) {
        buffer.scroll(true);
        return;
    }
    buffer.setY(buffer.y() + 1);
    const int index = buffer.yBase() + buffer.y();
    const BidiPresentationState above = buffer.lines()[index - 1]->bidiState();
    BufferLine& line = *buffer.lines()[index];
    line.setIsWrapped(true);
    line.setBidiState(above);
}

// line.setCell(col, CharData(code, width, attribute, payload, semanticCode)), with the cell
// stored from its fields when the column lies in the line.
void putCell(BufferLine& line, int col, int32_t code, int8_t width, const PackedAttribute& attribute, TinyAtom payload,
             uint8_t semanticCode)
{
    if (col >= 0 && col < line.dataSize())
        storeCell(line.mutableCells(col, col + 1).data() + col, code, width, attribute, payload, semanticCode);
    else
        line.setCell(col, PackedCell(code, width, attribute, payload, semanticCode));
}

// Before narrow cells start ..< end (start < end <= cells.size()) are written: a wide
// character with only one half inside loses the other, which becomes a blank. Two compares
// on the run's edges in the usual case.
inline void blankCutWideHalves(std::span<PackedCell> cells, size_t start, size_t end)
{
    if (cells[start].width() != 0 && cells[end - 1].width() != 2) [[likely]]
        return;
    const auto blank = [](PackedCell& cell) {
        cell.setCode(0);
        cell.setWidth(1);
    };
    if (cells[start].width() == 0 && start > 0 && cells[start - 1].width() == 2)
        blank(cells[start - 1]);
    if (cells[end - 1].width() == 2 && end < cells.size() && cells[end].width() == 0)
        blank(cells[end]);
}

} // namespace

void Buffer::insertCharacter(int32_t code, int8_t cellWidth, const PackedAttribute& attribute, LinkPayloadSource& links)
{
    const int width = cellWidth;
    const uint8_t semanticCode = semanticContent.cellCode();
    const int limit = writeRightLimit();

    if (x_ + width - 1 > limit) {
        if (!wraparound) {
            // A wide character that does not fit is dropped; a narrow one overwrites the limit.
            if (width == 2)
                return;
            x_ = std::max(limit, 0);
        } else {
            wrapToNextRow(*this);
        }
    }

    BufferLine& line = *lines_[yBase_ + y_];

    // The shift blanks what is left of a wide character cut at the cursor or pushed
    // across the limit.
    if (insertMode)
        line.insertCells(x_, width, limit, CharData(0, 1, curAttr));

    if (x_ >= cols_)
        x_ = cols_ - 1;

    const int start = x_;
    const TinyAtom payload = links.linkPayload();
    // The character's own cell, then its placeholder where the row has room. The
    // placeholder carries the wide character's own attribute, so a background colour
    // covers both of its columns.
    const int end = std::min(start + std::max(width, 1), cols_);
    if (start >= 0 && end <= line.dataSize()) [[likely]] {
        PackedCell* cells = line.mutableCells(start, end).data();
        storeCell(cells + start, code, cellWidth, attribute, payload, semanticCode);
        for (int col = start + 1; col < end; ++col)
            storeCell(cells + col, 0, 0, attribute, payload, semanticCode);
        x_ = end;
    } else {
        putCell(line, x_, code, cellWidth, attribute, payload, semanticCode);
        ++x_;
        for (int added = 1; added < width && x_ < cols_; ++added) {
            putCell(line, x_, 0, 0, attribute, payload, semanticCode);
            ++x_;
        }
    }
    // A wide character written over only one half loses the other: a first half just
    // before the written cells or a placeholder just after them is left alone. So does
    // this character's own first half when margins leave no column for its placeholder.
    // A few compares in the usual case.
    const std::span<const PackedCell> cells = line.cellSpan();
    const size_t first = static_cast<size_t>(start);
    const size_t after = static_cast<size_t>(x_);
    if ((first > 0 && first <= cells.size() && cells[first - 1].width() == 2)
        || (after < cells.size() && cells[after].width() == 0) || x_ - start < width) [[unlikely]]
        line.mendWideEdges(start, x_);
}

int Buffer::insertNarrowRun(std::span<const uint8_t> bytes, const PackedAttribute& attribute, LinkPayloadSource& links,
                            const CharacterMap* map)
{
    if (insertMode || bytes.empty())
        return 0;
    const int limit = writeRightLimit();
    const uint8_t semanticCode = semanticContent.cellCode();
    const size_t total = bytes.size();
    size_t count = 0;
    bool payloadResolved = false;
    TinyAtom payload;

    while (true) {
        if (x_ > limit) {
            if (!wraparound)
                return static_cast<int>(count);
            wrapToNextRow(*this);
            // Margins that leave no room would never let the run advance.
            if (x_ > limit)
                return static_cast<int>(count);
        }
        const size_t n = std::min(total - count, static_cast<size_t>(limit - x_ + 1));

        BufferLine& line = *lines_[yBase_ + y_];
        if (!payloadResolved) {
            payload = links.linkPayload();
            payloadResolved = true;
        }

        // The run, a wide half on either side of it, and the last cell for columns past it.
        const std::span<PackedCell> cells = line.mutableCells(x_ - 1, x_ + static_cast<int>(n) + 1);
        const size_t start = static_cast<size_t>(x_);
        const size_t inLine = start < cells.size() ? std::min(n, cells.size() - start) : 0;
        const std::span<const uint8_t> run = bytes.subspan(count, n);
        if (inLine > 0)
            blankCutWideHalves(cells, start, start + inLine);
        // Built only where needed: copying the attribute into a cell on the stack and
        // reading it back stalls, once per row of plain text.
        const auto mappedCell = [&](uint8_t byte) {
            const char32_t replacement = map && byte < 128 ? map->replacement[byte] : 0;
            return PackedCell(static_cast<int32_t>(replacement ? replacement : byte), 1, attribute, payload, semanticCode);
        };
        if (map) {
            PackedCell cell(0, 1, attribute, payload, semanticCode);
            for (size_t i = 0; i < inLine; ++i) {
                const uint8_t byte = run[i];
                const char32_t replacement = byte < 128 ? map->replacement[byte] : 0;
                cell.setCode(static_cast<int32_t>(replacement ? replacement : byte));
                cells[start + i] = cell;
            }
        } else {
            writeNarrowRun(cells.data() + start, run.data(), inLine, attribute, payload, semanticCode);
        }
        if (inLine < n && !cells.empty()) {
            // Columns past the line's cells land on its last cell, as a single write would.
            printLine(indexOutOfRangeMessage);
            cells.back() = mappedCell(run[n - 1]);
        }

        x_ += static_cast<int>(n);
        count += n;
        if (count == total)
            return static_cast<int>(count);
    }
}

int Buffer::insertCellRun(std::span<const char32_t> codes, std::span<const int8_t> widths, const PackedAttribute& attribute,
                          LinkPayloadSource& links)
{
    const size_t total = std::min(codes.size(), widths.size());
    if (insertMode || total == 0)
        return 0;
    const int limit = writeRightLimit();
    const uint8_t semanticCode = semanticContent.cellCode();
    const TinyAtom payload = links.linkPayload();
    size_t count = 0;
    while (count < total) {
        if (x_ + widths[count] - 1 > limit) {
            if (!wraparound || writeRestartColumn() != 0 || widths[count] - 1 > limit)
                return static_cast<int>(count);
            wrapToNextRow(*this);
        }
        BufferLine& line = *lines_[yBase_ + y_];
        if (line.dataSize() < cols_)
            return static_cast<int>(count);
        PackedCell* cells = line.mutableCells(x_, limit + 1).data();
        const int start = x_;
        int x = x_;
        // Every character fits whole (limit < cols_), so only the row's two edges can cut
        // a wide character.
        while (count < total && x + widths[count] - 1 <= limit) {
            const int8_t width = widths[count];
            storeCell(cells + x, static_cast<int32_t>(codes[count]), width, attribute, payload, semanticCode);
            if (width == 2)
                storeCell(cells + x + 1, 0, 0, attribute, payload, semanticCode);
            x += width;
            ++count;
        }
        x_ = x;
        line.mendWideEdges(start, x);
    }
    return static_cast<int>(count);
}

} // namespace corvantix
