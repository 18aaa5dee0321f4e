#include "model/BufferLine.h"

#include <algorithm>
#include <cstring>
#include <memory>

#include "model/Buffer.h"
#include "model/CellRuns.h"
#include "platform/Log.h"

namespace corvantix {

namespace {

constexpr std::string_view indexOutOfRangeMessage =
    "BufferLine: You passed an index out of range, adjusting to prevent crash, but you should debug";

// The text of a cell's code: the character for a scalar, a blank for anything else (a
// synthetic code from 0x400000 up included).
void appendCodeText(std::string& out, int32_t code)
{
    if (code < CharData::firstSyntheticCode && isValidScalar(code))
        appendUtf8(out, static_cast<char32_t>(code));
    else
        out += ' ';
}

} // namespace

// The prompt-start anchor of the owning buffer: the buffer's prompt-start line and the kind
// and column of its first initial mark, else of its first secondary mark.
struct BufferLine::PromptAnchor {
    const BufferLine* line = nullptr;
    SemanticPromptKind kind = SemanticPromptKind::initial;
    int column = 0;
};

BufferLine::BufferLine(int cols, std::optional<CharData> fillCharacter, bool isWrapped, BidiPresentationState bidiState)
    : isWrapped_(isWrapped)
    , bidiState_(bidiState)
    , fillCharacter_(fillCharacter.value_or(CharData::defaultCell()))
{
    data_.assign(static_cast<size_t>(std::max(cols, 0)), PackedCell(fillCharacter_));
}

BufferLine::BufferLine(const BufferLine& line)
    : std::enable_shared_from_this<BufferLine>()
    , semanticHardContinuationGroup_(line.semanticHardContinuationGroup_)
    , isWrapped_(line.isWrapped_)
    , bidiState_(line.bidiState_)
    , renderMode_(line.renderMode_)
    , mayHaveExtras_(line.mayHaveExtras_)
    , semanticMarks_(line.semanticMarks_)
    , images_(line.images_)
    , fillCharacter_(line.fillCharacter_)
{
    copyCells(line.data_);
}

// ---- Properties

void BufferLine::setIsWrapped(bool value)
{
    isWrapped_ = value;
    raiseGeneration();
}

void BufferLine::setBidiState(const BidiPresentationState& value)
{
    bidiState_ = value;
    raiseGeneration();
}

void BufferLine::setRenderMode(RenderLineMode value)
{
    renderMode_ = value;
    raiseGeneration();
}

void BufferLine::setSemanticMarks(std::vector<SemanticMark> marks)
{
    semanticMarks_ = std::move(marks);
    noteExtras();
    raiseGeneration();
}

void BufferLine::setSemanticHardContinuationGroup(std::optional<uint64_t> group)
{
    if (semanticHardContinuationGroup_ == group)
        return;
    semanticHardContinuationGroup_ = group;
    noteExtras();
    raiseGeneration();
}

void BufferLine::setImages(std::optional<Images> images)
{
    images_ = std::move(images);
    noteExtras();
    raiseGeneration();
}

// ---- Cell access

const PackedCell& BufferLine::lastCellOrDefault() const
{
    if (data_.empty()) {
        // Packed on every call: the default cell is settable.
        thread_local PackedCell defaultCell;
        defaultCell = PackedCell(CharData::defaultCell());
        return defaultCell;
    }
    return data_.back();
}

std::vector<CharData> BufferLine::cells() const
{
    std::vector<CharData> out;
    out.reserve(data_.size());
    for (const PackedCell& cell : data_)
        out.push_back(cell.value());
    return out;
}

void BufferLine::setCellOutOfRange(int index, const PackedCell& cell)
{
    if (index < 0 || index >= dataSize()) {
        printLine(indexOutOfRangeMessage);
        if (data_.empty())
            return;
        index = dataSize() - 1;
    }
    data_[static_cast<size_t>(index)] = cell;
    wrote(index, index + 1);
    raiseGeneration();
}

bool BufferLine::hasAnyContent() const
{
    return std::any_of(data_.begin(), data_.end(), [](const PackedCell& cell) { return !cell.isBlankWithDefaultAttributes(); });
}

int BufferLine::getTrimmedLength() const
{
    for (int i = dataSize() - 1; i >= 0; --i) {
        const PackedCell& cell = data_[static_cast<size_t>(i)];
        if (cell.code() != 0)
            return i + cell.width();
    }
    return 0;
}

std::string BufferLine::translateToString(bool trimRight, int startCol, int endCol, bool skipNullCellsFollowingWide,
                                          const CharacterProvider& characterProvider) const
{
    startCol = std::max(startCol, 0);
    int end = endCol == -1 ? dataSize() : endCol;
    if (trimRight)
        end = std::max(startCol, std::min(getTrimmedLength(), end));
    // Reading past the cells would repeat the last one; the text stops at the line's end.
    end = std::min(end, dataSize());

    std::string out;
    for (int c = startCol; c < end; ++c) {
        const PackedCell& cell = data_[static_cast<size_t>(c)];
        if (skipNullCellsFollowingWide && c >= 1 && cell.code() == 0 && data_[static_cast<size_t>(c - 1)].width() == 2)
            continue;
        if (characterProvider)
            out += characterProvider(cell.value());
        else
            appendCodeText(out, cell.code());
        if (skipNullCellsFollowingWide && cell.width() == 2 && c + 1 < end && data_[static_cast<size_t>(c + 1)].code() == 0)
            ++c;
    }
    return out;
}

std::string BufferLine::debugDescription() const
{
    std::string out;
    for (const PackedCell& cell : data_)
        appendCodeText(out, cell.code());
    return out;
}

// ---- Changing cells

void BufferLine::fill(const CharData& cell)
{
    fillCellRun(data_.data(), data_.size(), PackedCell(cell));
    wrote(0, dataSize());
    raiseGeneration();
}

void BufferLine::fillCells(const CharData& cell, int start, int count)
{
    fillRange(cell, start, start + std::max(count, 0));
}

void BufferLine::fillRange(const CharData& cell, int start, int end)
{
    start = std::max(start, 0);
    end = std::min(end, dataSize());
    if (start < end) {
        fillCellRun(data_.data() + start, static_cast<size_t>(end - start), PackedCell(cell));
        wrote(start, end);
        mendWideEdges(start, end);
    }
    raiseGeneration();
}

void BufferLine::insertCells(int pos, int n, int rightMargin, const CharData& fillCell)
{
    const PackedCell fillData(fillCell);
    rightMargin = std::min(rightMargin, dataSize() - 1);
    // A position past the margin (the pending-wrap column) has nothing to its right to push;
    // wrapping it around to column 0 would shift the whole row.
    if (pos > rightMargin || n < 0)
        return;
    pos = std::max(pos, 0);
    const int len = rightMargin + 1;
    wrote(pos, len);
    const auto first = data_.begin();
    if (n < len - pos) {
        std::copy_backward(first + pos, first + (len - n), first + len);
        std::fill(first + pos, first + pos + n, fillData);
        mendWideEdge(pos + n);
    } else {
        std::fill(first + pos, first + len, fillData);
    }
    // A wide character cut by the cursor or pushed across the margin keeps no half.
    mendWideEdges(pos, len);
    shiftSemanticMarks(pos, n, rightMargin);
    raiseGeneration();
}

void BufferLine::deleteCells(int pos, int n, int rightMargin, const CharData& fillCell)
{
    const PackedCell fillData(fillCell);
    rightMargin = std::min(rightMargin, dataSize() - 1);
    if (pos > rightMargin || n < 0)
        return;
    pos = std::max(pos, 0);
    const int len = rightMargin + 1;
    wrote(pos, len);
    const auto first = data_.begin();
    if (n < len - pos) {
        std::copy(first + pos + n, first + len, first + pos);
        std::fill(first + (len - n), first + len, fillData);
        mendWideEdge(len - n);
    } else {
        std::fill(first + pos, first + len, fillData);
    }
    mendWideEdges(pos, len);
    shiftSemanticMarks(pos, -n, rightMargin);
    raiseGeneration();
}

std::optional<BufferLine::PromptAnchor> BufferLine::promptStartAnchor() const
{
    if (owningBuffer_ == nullptr)
        return std::nullopt;
    const auto found = owningBuffer_->promptStartMarkKind();
    if (!found)
        return std::nullopt;
    const auto& [line, kind, column] = *found;
    return PromptAnchor{std::to_address(line), kind, column};
}

void BufferLine::removeMarksInRange(int start, int end)
{
    std::erase_if(semanticMarks_, [&](const SemanticMark& mark) { return mark.column >= start && mark.column < end; });
}

void BufferLine::sortSemanticMarks()
{
    std::stable_sort(semanticMarks_.begin(), semanticMarks_.end(),
                     [](const SemanticMark& a, const SemanticMark& b) { return a.column < b.column; });
}

void BufferLine::copyCellsFrom(BufferLine& src, int srcCol, int dstCol, int len)
{
    // A whole-line copy is judged by the length asked for, before it is bounded to the lines.
    const bool wholeLine = srcCol == 0 && dstCol == 0 && len >= dataSize();

    // Callers keep the run inside both lines; bound it anyway so no cell outside is touched.
    if (srcCol < 0 || dstCol < 0)
        return;
    len = std::max(std::min({len, src.dataSize() - srcCol, dataSize() - dstCol}), 0);

    copyCellRun(src, srcCol, dstCol, len);
    moveSemanticMarksFrom(src, srcCol, dstCol, len);
    if (wholeLine)
        takeHardContinuationGroup(src);

    // The cells changed, whatever happened to the marks.
    raiseGeneration();
}

void BufferLine::copyCellRun(const BufferLine& src, int srcCol, int dstCol, int len)
{
    if (len <= 0)
        return;
    wrote(dstCol, dstCol + len);
    // Backwards when the run moves right within one line.
    const auto from = src.data_.begin() + srcCol;
    if (&src == this && srcCol < dstCol)
        std::copy_backward(from, from + len, data_.begin() + dstCol + len);
    else
        std::copy(from, from + len, data_.begin() + dstCol);
}

void BufferLine::moveSemanticMarksFrom(BufferLine& src, int srcCol, int dstCol, int len)
{
    const bool sameLine = &src == this;
    // The marks of the source range, in list order.
    std::vector<SemanticMark> collected;
    for (const SemanticMark& mark : src.semanticMarks_) {
        if (mark.column >= srcCol && mark.column < srcCol + len)
            collected.push_back(mark);
    }

    // The buffer's prompt-start anchor, when marks move.
    std::optional<PromptAnchor> anchor;
    if (!collected.empty())
        anchor = promptStartAnchor();

    // Clear the ranges the marks leave and the range they land on.
    if (sameLine) {
        std::erase_if(semanticMarks_, [&](const SemanticMark& mark) {
            return (mark.column >= srcCol && mark.column < srcCol + len) || (mark.column >= dstCol && mark.column < dstCol + len);
        });
    } else {
        src.removeMarksInRange(srcCol, srcCol + len);
        src.raiseGeneration();
        removeMarksInRange(dstCol, dstCol + len);
    }
    raiseGeneration();

    // Land the moved marks; at most one per kind, the anchor winning over a mark already there.
    if (!collected.empty())
        noteExtras();
    bool anchorMoved = false;
    for (const SemanticMark& mark : collected) {
        const SemanticMark moved{mark.kind, mark.column - srcCol + dstCol, mark.group};
        const bool isAnchor = anchor && anchor->line == &src && anchor->kind == mark.kind && anchor->column == mark.column;
        const auto existing = std::find_if(semanticMarks_.begin(), semanticMarks_.end(),
                                           [&](const SemanticMark& m) { return m.kind == mark.kind; });
        if (existing == semanticMarks_.end()) {
            semanticMarks_.push_back(moved);
            anchorMoved = anchorMoved || isAnchor;
            continue;
        }
        const bool existingIsAnchor = anchor && anchor->line == this && existing->kind == anchor->kind
            && existing->column == anchor->column;
        if (isAnchor && !existingIsAnchor) {
            semanticMarks_.erase(existing);
            semanticMarks_.push_back(moved);
            anchorMoved = true;
        }
    }

    // Keep the marks sorted; the prompt start follows its mark to this line.
    if (!collected.empty()) {
        sortSemanticMarks();
        raiseGeneration();
        if (anchorMoved && !sameLine && owningBuffer_ != nullptr) {
            if (auto self = weak_from_this().lock())
                owningBuffer_->semanticPromptStartLine = std::move(self);
        }
    }
}

void BufferLine::takeHardContinuationGroup(BufferLine& src)
{
    semanticHardContinuationGroup_ = src.semanticHardContinuationGroup_;
    if (semanticHardContinuationGroup_)
        noteExtras();
    if (&src != this && src.semanticHardContinuationGroup_) {
        src.semanticHardContinuationGroup_.reset();
        src.raiseGeneration();
    }
}

void BufferLine::copyCells(const CellBlock& cells)
{
    // Sized without writing (see CellAllocator), then one block copy; a block that is large
    // enough is reused.
    data_.resize(cells.size());
    wrote(0, dataSize());
    if (!cells.empty())
        std::memcpy(static_cast<void*>(data_.data()), cells.data(), cells.size() * sizeof(PackedCell));
}

void BufferLine::resize(int cols, const CharData& fill)
{
    cols = std::max(cols, 0);
    if (cols == dataSize())
        return;
    CellBlock block;
    block.reserve(static_cast<size_t>(cols));
    if (cols < dataSize()) {
        block.assign(data_.begin(), data_.begin() + cols);
        data_ = std::move(block);
        // A cut through a wide character leaves no lone first half at the end.
        mendWideEdge(cols);
        clampSemanticMarks(cols);
    } else {
        block.assign(data_.begin(), data_.end());
        block.resize(static_cast<size_t>(cols), PackedCell(fill));
        data_ = std::move(block);
    }
    wrote(0, INT32_MAX);
    raiseGeneration();
}

void BufferLine::copyFrom(const BufferLine& line)
{
    if (&line == this)
        return;
    copyCells(line.data_);
    isWrapped_ = line.isWrapped_;
    if (mayHaveExtras_ || line.mayHaveExtras_) {
        semanticMarks_ = line.semanticMarks_;
        semanticHardContinuationGroup_ = line.semanticHardContinuationGroup_;
        mayHaveExtras_ = true;
    }
    bidiState_ = line.bidiState_;
    raiseGeneration();
}

// ---- Semantic marks

void BufferLine::setSemanticMark(SemanticPromptKind kind, int column, uint64_t group)
{
    std::erase_if(semanticMarks_, [&](const SemanticMark& mark) { return mark.kind == kind; });
    semanticMarks_.push_back(SemanticMark{kind, column, group});
    noteExtras();
    sortSemanticMarks();
    raiseGeneration();
}

void BufferLine::clearSemanticState()
{
    raiseGeneration();
    if (!mayHaveExtras_)
        return;
    semanticMarks_.clear();
    if (semanticHardContinuationGroup_) {
        semanticHardContinuationGroup_.reset();
        raiseGeneration();
    }
}

void BufferLine::shiftSemanticMarks(int from, int by, int rightMargin)
{
    if (by == 0 || semanticMarks_.empty())
        return;
    for (SemanticMark& mark : semanticMarks_) {
        if (mark.column >= from && mark.column <= rightMargin)
            mark.column = std::clamp(mark.column + by, from, rightMargin);
    }
    raiseGeneration();
}

void BufferLine::clampSemanticMarks(int cols)
{
    if (semanticMarks_.empty())
        return;
    if (cols <= 0) {
        semanticMarks_.clear();
    } else {
        for (SemanticMark& mark : semanticMarks_)
            mark.column = std::min(std::max(mark.column, 0), cols - 1);
    }
    raiseGeneration();
}

// ---- Text lines

void Line::append(LineFragment fragment)
{
    length += fragment.length;
    fragments.push_back(std::move(fragment));
}

std::string Line::debugDescription() const
{
    if (fragments.empty())
        return "[]";
    std::string out = std::to_string(fragments.size()) + "/" + std::to_string(length) + ": [";
    for (const LineFragment& fragment : fragments) {
        if (fragment.text)
            out += *fragment.text == "\n" ? std::string("\\n") : *fragment.text;
        out += "][";
    }
    return out;
}

} // namespace corvantix
