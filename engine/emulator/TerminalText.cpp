// Screen text extraction for selection, search and accessibility.
//
// Text is read from the cells, so the same stretch of screen gives the same text whatever
// the chunking of the bytes that drew it.
#include "emulator/Terminal.h"

#include <algorithm>

namespace corvantix {

namespace {

// The line at ring index `row`, or null outside the ring. An empty slot (a line never
// touched) reads as null too, which every caller treats as a blank line.
const BufferLine* lineAt(const Buffer& screen, int row)
{
    if (row < 0 || row >= screen.lines().count())
        return nullptr;
    return screen.lines().peek(row).get();
}

bool rowHasContent(const BufferLine* line)
{
    return line != nullptr && line->hasAnyContent();
}

bool rowIsWrapped(const BufferLine* line)
{
    return line != nullptr && line->isWrapped();
}

// Appends the text of one cell code: scalars directly, multi-scalar characters through
// the terminal's table. Empty cells, invalid codes and unknown table entries read as a
// space (an empty cell inside the used part of a row is a gap between words).
void appendCellCharacter(const Terminal& terminal, std::string& out, std::int32_t code)
{
    if (code <= CharData::firstSyntheticCode) {
        appendUtf8(out, isValidScalar(code) && code != 0 ? static_cast<char32_t>(code) : U' ');
        return;
    }
    for (const char32_t scalar : terminal.getCharacter(code))
        appendUtf8(out, isValidScalar(static_cast<std::int32_t>(scalar)) && scalar != 0 ? scalar : U' ');
}

// The text of one row and its number of characters (one per cell read).
struct RowTextResult {
    std::string text;
    int count = 0;
};

RowTextResult rowTextAndCount(const Terminal& terminal, const Buffer& screen, int row, int startCol, int endCol)
{
    RowTextResult result;
    const BufferLine* line = lineAt(screen, row);
    if (line == nullptr)
        return result;
    int end = endCol == -1 ? line->dataSize() : endCol;
    end = std::min({end, line->getTrimmedLength(), line->dataSize()});
    for (int col = std::max(startCol, 0); col < end; ++col) {
        const PackedCell& cell = line->packedCell(col);
        // The empty right half of a wide character.
        if (cell.code() == 0 && col > 0 && line->packedCell(col - 1).width() == 2)
            continue;
        appendCellCharacter(terminal, result.text, cell.code());
        ++result.count;
        if (cell.width() == 2 && col + 1 < end && line->packedCell(col + 1).code() == 0)
            ++col;
    }
    return result;
}

// Lines of a range being built, with the fragments of blank rows held back until a row
// with content shows they are not trailing.
class SelectedLinesBuilder {
public:
    SelectedLinesBuilder() { lines_.emplace_back(); }

    void add(LineFragment fragment) { lines_.back().append(std::move(fragment)); }
    void addLineBreak(int line)
    {
        add(LineFragment{"\n", line, -1, 1});
        lines_.emplace_back();
    }
    void holdLineBreak(int line) { pending_.push_back(LineFragment{"\n", line, -1, 1}); }
    void hold(LineFragment fragment) { pending_.push_back(std::move(fragment)); }

    // The held fragments become part of the text; each held row gets its own line.
    void flushPending()
    {
        for (std::size_t i = 0; i < pending_.size(); ++i) {
            if (i > 0 && pending_[i].line != pending_[i - 1].line)
                lines_.emplace_back();
            add(std::move(pending_[i]));
        }
        pending_.clear();
    }
    void dropPending() { pending_.clear(); }

    std::vector<Line> take() { return std::move(lines_); }

private:
    std::vector<Line> lines_;
    std::vector<LineFragment> pending_;
};

} // namespace

const BufferLine* Terminal::bufferLineAt(int row) const
{
    return getLine(row);
}

std::string Terminal::rowText(const Buffer& screen, int row, int startCol, int endCol) const
{
    return rowTextAndCount(*this, screen, row, startCol, endCol).text;
}

std::vector<Line> Terminal::getSelectedLines(Position start, Position end, const Buffer& screen) const
{
    SelectedLinesBuilder builder;
    const int sr = start.row;
    const int sc = start.col;
    // Rows past the last line are blank; stopping there keeps the walk bounded.
    const int er = std::min(end.row, screen.lines().count() - 1);
    const int ec = end.row == er ? end.col : -1;

    if (rowHasContent(lineAt(screen, sr))) {
        RowTextResult first = rowTextAndCount(*this, screen, sr, sc, sr == er ? ec : -1);
        builder.add(LineFragment{std::move(first.text), sr, sc, first.count});
    }

    for (int r = std::max(sr + 1, 0); r < er; ++r) {
        const BufferLine* line = lineAt(screen, r);
        RowTextResult row = rowTextAndCount(*this, screen, r, 0, -1);
        if (rowHasContent(line)) {
            builder.flushPending();
            if (!rowIsWrapped(line))
                builder.addLineBreak(r - 1);
            builder.add(LineFragment{std::move(row.text), r, 0, row.count});
        } else {
            if (!rowIsWrapped(line))
                builder.holdLineBreak(r - 1);
            builder.hold(LineFragment{std::move(row.text), r, 0, row.count});
        }
    }

    if (er > sr) {
        const BufferLine* line = lineAt(screen, er);
        if (rowHasContent(line)) {
            builder.flushPending();
            if (!rowIsWrapped(line))
                builder.addLineBreak(er - 1);
            RowTextResult last = rowTextAndCount(*this, screen, er, 0, ec);
            builder.add(LineFragment{std::move(last.text), er, 0, last.count});
        } else {
            builder.dropPending();
        }
    }
    return builder.take();
}

std::string Terminal::getDisplayText(Position start, Position end) const
{
    return getText(start, end, *buffer_);
}

std::string Terminal::getText(Position start, Position end, const Buffer& screen) const
{
    if (end.row < start.row || (end.row == start.row && end.col < start.col))
        std::swap(start, end);
    if (start == end || start.row < 0 || start.row >= screen.lines().count())
        return {};
    end.row = std::min(end.row, screen.lines().count() - 1);

    std::string text;
    for (const Line& line : getSelectedLines(start, end, screen)) {
        for (const LineFragment& fragment : line.fragments) {
            if (fragment.text)
                text += *fragment.text;
        }
    }
    return text;
}

namespace {

// Appends a row's text in the encoding; nothing is appended (and false returned) when a
// character has no form in it.
bool appendEncoded(std::vector<std::uint8_t>& out, std::u32string_view text, StringEncoding encoding)
{
    std::vector<std::uint8_t> bytes;
    bytes.reserve(text.size());
    for (const char32_t scalar : text) {
        switch (encoding) {
        case StringEncoding::utf8: {
            std::string utf8;
            appendUtf8(utf8, scalar);
            bytes.insert(bytes.end(), utf8.begin(), utf8.end());
            break;
        }
        case StringEncoding::utf16LittleEndian:
        case StringEncoding::utf16BigEndian: {
            std::uint16_t units[2] = {static_cast<std::uint16_t>(scalar), 0};
            int count = 1;
            if (scalar >= 0x10000) {
                const char32_t value = scalar - 0x10000;
                units[0] = static_cast<std::uint16_t>(0xD800 + (value >> 10));
                units[1] = static_cast<std::uint16_t>(0xDC00 + (value & 0x3FF));
                count = 2;
            }
            for (int i = 0; i < count; ++i) {
                const auto high = static_cast<std::uint8_t>(units[i] >> 8);
                const auto low = static_cast<std::uint8_t>(units[i] & 0xFF);
                if (encoding == StringEncoding::utf16LittleEndian) {
                    bytes.push_back(low);
                    bytes.push_back(high);
                } else {
                    bytes.push_back(high);
                    bytes.push_back(low);
                }
            }
            break;
        }
        case StringEncoding::ascii:
            if (scalar >= 0x80)
                return false;
            bytes.push_back(static_cast<std::uint8_t>(scalar));
            break;
        case StringEncoding::isoLatin1:
            if (scalar >= 0x100)
                return false;
            bytes.push_back(static_cast<std::uint8_t>(scalar));
            break;
        }
    }
    out.insert(out.end(), bytes.begin(), bytes.end());
    return true;
}

} // namespace

std::vector<std::uint8_t> Terminal::bufferContentsData(BufferKind kind, StringEncoding encoding) const
{
    const Buffer* screen = buffer_;
    if (kind == BufferKind::normal)
        screen = normalBuffer_.get();
    else if (kind == BufferKind::alt)
        screen = altBuffer_.get();

    std::vector<std::uint8_t> data;
    if (screen == nullptr)
        return data;
    std::u32string text;
    for (int row = 0; row < screen->lines().count(); ++row) {
        text.clear();
        if (const BufferLine* line = lineAt(*screen, row)) {
            const int length = std::min(line->getTrimmedLength(), line->dataSize());
            for (int col = 0; col < length; ++col) {
                const std::int32_t code = line->packedCell(col).code();
                // Only plain scalars are written; multi-scalar characters and empty cells
                // are spaces here.
                text.push_back(isValidScalar(code) && code != 0 ? static_cast<char32_t>(code) : U' ');
            }
        }
        // The line feed goes through the encoding as well: a bare 0x0A byte would break
        // the pairing of UTF-16 output.
        text.push_back(U'\n');
        appendEncoded(data, text, encoding);
    }
    return data;
}

} // namespace corvantix
