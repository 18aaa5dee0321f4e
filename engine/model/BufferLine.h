// One row of the screen or of the scrollback: a contiguous block of cells with the row's
// flags (soft wrap, bidi state, DEC line size), its semantic prompt marks, the images
// anchored on it and a change counter.
//
// A reference type: the ring, the buffer and the drawing side hold lines as
// std::shared_ptr<BufferLine>. Every change raises `generation`, which drawing caches
// compare for inequality. A line changes its length only through resize and copyFrom.
#pragma once

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <functional>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <type_traits>
#include <utility>
#include <vector>

#include "model/BidiPresentationState.h"
#include "model/UniqueId.h"
#include "model/CharData.h"
#include "model/LineArena.h"
#include "model/PackedCell.h"
#include "model/SemanticTypes.h"
#include "model/TerminalImage.h"

namespace corvantix {

class Buffer;

// The allocator of a line's cells, from the line arena. A vector copies, and grows by
// copying, one element at a time unless the element type is trivial, and a cell is only
// trivially copyable (its members have defaults): so cells made without arguments are left as
// they are, and the line copies its block with one memory copy after sizing it. Every other
// way of making cells (with a value, or copied from one) constructs them in place.
template <typename T>
struct CellAllocator : LineArenaAllocator<T> {
    static_assert(std::is_trivially_copyable_v<T>);
    template <typename U>
    struct rebind {
        using other = CellAllocator<U>;
    };
    CellAllocator() = default;
    template <typename U>
    CellAllocator(const CellAllocator<U>&) noexcept
    {
    }
    template <typename U>
    void construct(U*) noexcept
    {
    }
    template <typename U, typename... Args>
    void construct(U* place, Args&&... args)
    {
        ::new (static_cast<void*>(place)) U(std::forward<Args>(args)...);
    }
};
using CellBlock = std::vector<PackedCell, CellAllocator<PackedCell>>;

class BufferLine : public std::enable_shared_from_this<BufferLine> {
public:
    // DEC line size.
    enum class RenderLineMode : uint8_t { single, doubleWidth, doubledTop, doubledDown };

    using Images = std::vector<std::shared_ptr<TerminalImage>>;
    using CharacterProvider = std::function<std::string(const CharData&)>;

    // `cols` copies of the fill cell (CharData::defaultCell() when absent). A negative
    // width is taken as 0.
    explicit BufferLine(int cols, std::optional<CharData> fillCharacter = std::nullopt, bool isWrapped = false,
                        BidiPresentationState bidiState = {});
    // The copy of a line: its cells, fill, flags, marks, hard continuation group and images
    // (the same image references); no owning buffer, recycleGeneration and generation 0.
    BufferLine(const BufferLine& line);
    BufferLine& operator=(const BufferLine&) = delete; // use copyFrom

    static std::shared_ptr<BufferLine> create(int cols, std::optional<CharData> fillCharacter = std::nullopt,
                                              bool isWrapped = false, BidiPresentationState bidiState = {})
    {
        return std::allocate_shared<BufferLine>(LineArenaAllocator<BufferLine>(), cols, fillCharacter, isWrapped,
                                                bidiState);
    }
    static std::shared_ptr<BufferLine> initCopy(const BufferLine& line)
    {
        return std::allocate_shared<BufferLine>(LineArenaAllocator<BufferLine>(), line);
    }

    // ---- Properties (every setter raises generation)
    bool isWrapped() const { return isWrapped_; }
    void setIsWrapped(bool value);
    const BidiPresentationState& bidiState() const { return bidiState_; }
    void setBidiState(const BidiPresentationState& value);
    RenderLineMode renderMode() const { return renderMode_; }
    void setRenderMode(RenderLineMode value);
    const std::vector<SemanticMark>& semanticMarks() const { return semanticMarks_; }
    void setSemanticMarks(std::vector<SemanticMark> marks);
    std::optional<uint64_t> semanticHardContinuationGroup() const { return semanticHardContinuationGroup_; }
    // Raises generation only when the value changes.
    void setSemanticHardContinuationGroup(std::optional<uint64_t> group);
    // Absent when the row has no images.
    const std::optional<Images>& images() const { return images_; }
    void setImages(std::optional<Images> images);
    bool hasImages() const { return images_.has_value() && !images_->empty(); }

    // The buffer whose ring holds the row; not owned. Set by the ring when the line enters
    // a buffer's ring and valid while it sits there. Does not raise generation.
    Buffer* owningBuffer() const { return owningBuffer_; }
    void setOwningBuffer(Buffer* buffer) { owningBuffer_ = buffer; }

    // How many times the ring reused this line object.
    uint64_t recycleGeneration() const { return recycleGeneration_; }
    // Change counter; compare for inequality only.
    uint64_t generation() const { return generation_; }
    // Never shared with another line object of this process, copies included.
    uint64_t uniqueId() const { return uniqueId_; }
    const CharData& fillCharacter() const { return fillCharacter_; }

    // ---- Cell access
    int dataSize() const { return static_cast<int>(data_.size()); }
    // An index at or past dataSize reads the last cell; a line without cells reads
    // CharData::defaultCell().
    CharData getCell(int index) const { return packedCell(index).value(); }
    // The same cell in the form the line keeps it, for readers that need a field or two.
    const PackedCell& packedCell(int index) const
    {
        if (static_cast<size_t>(index) < data_.size())
            return data_[static_cast<size_t>(index)];
        return lastCellOrDefault();
    }
    // An index at or past dataSize prints a diagnostic and stores into the last cell.
    void setCell(int index, const CharData& cell) { setCell(index, PackedCell(cell)); }
    void setCell(int index, const PackedCell& cell)
    {
        if (static_cast<size_t>(index) < data_.size()) {
            data_[static_cast<size_t>(index)] = cell;
            wrote(index, index + 1);
            raiseGeneration();
            return;
        }
        setCellOutOfRange(index, cell);
    }
    // After cells start ..< end were rewritten: a wide character with one half inside the
    // range and the other outside loses the outside half, which becomes a blank with its
    // attribute. Only the two edges are looked at; out-of-range edges are ignored.
    void mendWideEdges(int start, int end)
    {
        mendWideEdge(start);
        if (end != start)
            mendWideEdge(end);
    }
    // The same for the one edge between columns col - 1 and col.
    void mendWideEdge(int col)
    {
        const size_t size = data_.size();
        if (col < 0 || static_cast<size_t>(col) > size)
            return;
        const size_t at = static_cast<size_t>(col);
        const bool leadBefore = at > 0 && data_[at - 1].width() == 2;
        const bool placeholderAt = at < size && data_[at].width() == 0;
        if (leadBefore != placeholderAt)
            blankHalf(leadBefore ? at - 1 : at);
    }
    int cellWidth(int index) const { return packedCell(index).width(); }
    bool cellHasContent(int index) const { return !packedCell(index).isBlankWithDefaultAttributes(); }
    bool hasAnyContent() const;
    // A copy of the cells in use.
    std::vector<CharData> cells() const;
    // The cells in use, read-only, without copying.
    std::span<const PackedCell> cellSpan() const { return data_; }
    // The cells in use for a batch of writes; raises generation once for the batch.
    std::span<PackedCell> mutableCells()
    {
        wrote(0, dataSize());
        raiseGeneration();
        return data_;
    }
    // The same for a batch that writes only cells start ..< end: the writer keeps to them,
    // and the next recycle need not blank the others.
    std::span<PackedCell> mutableCells(int start, int end)
    {
        wrote(start, end);
        raiseGeneration();
        return data_;
    }

    // Index after the last cell with a non-zero code (plus its width); 0 when there is none.
    int getTrimmedLength() const;
    // UTF-8 text of the columns startCol ..< endCol (-1: up to dataSize).
    std::string translateToString(bool trimRight = false, int startCol = 0, int endCol = -1,
                                  bool skipNullCellsFollowingWide = false,
                                  const CharacterProvider& characterProvider = {}) const;
    // The characters of all cells: a blank for a code that is not a valid scalar, U+0000
    // for an empty cell.
    std::string debugDescription() const;

    // ---- Changing cells
    void fill(const CharData& cell);
    // Cells start ..< start + count; the caller keeps the range within dataSize.
    void fillCells(const CharData& cell, int start, int count);
    // Cells start ..< min(end, dataSize).
    void fillRange(const CharData& cell, int start, int end);
    // Inserts n cells of fillData at pos, pushing cells up to rightMargin right; cells right
    // of the margin never move. A pos past rightMargin does nothing.
    void insertCells(int pos, int n, int rightMargin, const CharData& fillData);
    // Deletes n cells at pos, pulling cells up to rightMargin left and filling the freed
    // cells before the margin with fillData.
    void deleteCells(int pos, int n, int rightMargin, const CharData& fillData);
    // Copies len cells of src (which may be this line) from srcCol to dstCol of this line,
    // moving the semantic marks of the copied range with them.
    void copyCellsFrom(BufferLine& src, int srcCol, int dstCol, int len);
    // New width; added cells are `fill`. The same width does nothing.
    void resize(int cols, const CharData& fill);
    // Takes over the cells, wrap flag, marks, hard continuation group and bidi state of
    // another line; keeps this line's render mode, images and fill character.
    void copyFrom(const BufferLine& line);
    // Made ready for reuse by the ring: empty cells with the given attribute, no images.
    // Only the cells written since the last recycle are blanked when the attribute is the
    // same: scrolling short lines through a full scrollback costs the cells they wrote, not
    // the width of the row.
    void clearForRecycle(const Attribute& attribute) { clearForRecycle(PackedCell::packAttribute(attribute)); }
    void clearForRecycle(const PackedAttribute& attribute);
    // The cells that clearForRecycle blanks when the attribute has not changed.
    std::span<const PackedCell> writtenCells() const
    {
        const std::size_t size = data_.size();
        const std::size_t to = std::min(static_cast<std::size_t>(std::max(writtenTo_, 0)), size);
        const std::size_t from = std::min(static_cast<std::size_t>(std::max(writtenFrom_, 0)), to);
        return std::span<const PackedCell>(data_).subspan(from, to - from);
    }
    // Where the written cells end (at most dataSize).
    std::size_t writtenEnd() const
    {
        return std::min(static_cast<std::size_t>(std::max(writtenTo_, 0)), data_.size());
    }
    // What the ring does to the oldest line before reusing it: clearForRecycle, no semantic
    // state, not wrapped. Answers whether the line had images.
    bool resetForRecycle(const Attribute& attribute) { return resetForRecycle(PackedCell::packAttribute(attribute)); }
    bool resetForRecycle(const PackedAttribute& attribute);
    // The fields a reuse touches, for fetching them ahead of time.
    const void* recycleFieldsBegin() const { return &data_; }
    const void* recycleFieldsEnd() const { return &blankIsDefault_ + 1; }
    // Made equal to a fresh copy of `line` (cells, flags, marks, bidi state, render mode,
    // images) for reuse by the ring, keeping this object and its block of cells; counts as
    // a recycle. The fill characters must already agree. (LineReuse.cpp)
    void recycleFrom(const BufferLine& line);

    // ---- Semantic marks
    // Keeps at most one mark of each kind, sorted by column.
    void setSemanticMark(SemanticPromptKind kind, int column, uint64_t group);
    void clearSemanticState();
    void shiftSemanticMarks(int from, int by, int rightMargin);
    void clampSemanticMarks(int cols);
    // Drops the semantic marks of columns start ..< end.
    void removeMarksInRange(int start, int end);

private:
    const PackedCell& lastCellOrDefault() const;
    void setCellOutOfRange(int index, const PackedCell& cell);
    void raiseGeneration() { ++generation_; }
    void noteExtras() { mayHaveExtras_ = true; }
    // The cell part of clearForRecycle.
    void blankForReuse(const PackedAttribute& attribute);
    // resetForRecycle's body, inlined into the ring's recycle (both in LineReuse.cpp): calls
    // between them were a tenth of a line feed's instructions.
    bool resetInPlace(const PackedAttribute& attribute);
    friend class CircularBufferLineList;
    // Cells start ..< end may have been written: they join the range a recycle blanks.
    void wrote(int start, int end)
    {
        if (start < writtenFrom_)
            writtenFrom_ = start;
        if (end > writtenTo_)
            writtenTo_ = end;
    }
    void blankHalf(size_t index)
    {
        data_[index].setCode(0);
        data_[index].setWidth(1);
        wrote(static_cast<int>(index), static_cast<int>(index) + 1);
        raiseGeneration();
    }
    // data_ = cells, with one block copy.
    void copyCells(const CellBlock& cells);
    void sortSemanticMarks();
    struct PromptAnchor;
    std::optional<PromptAnchor> promptStartAnchor() const;
    // copyCellsFrom's steps: the cells, then the marks of the copied range (the buffer's
    // prompt start following its mark), then the hard continuation group of a whole line.
    void copyCellRun(const BufferLine& src, int srcCol, int dstCol, int len);
    void moveSemanticMarksFrom(BufferLine& src, int srcCol, int dstCol, int len);
    void takeHardContinuationGroup(BufferLine& src);

    // A line object comes after its 16-byte reference counts and its 16-byte weak self
    // reference, in a block that starts on a cache line (the line arena's). The fields a line
    // feed and a print touch fill the object's second cache line alone, from recycleFieldsBegin
    // up to recycleFieldsEnd: reusing the oldest line of a full scrollback then reads one
    // cache line of its object, and 32 bytes of rarely read fields come first to get there.
    Buffer* owningBuffer_ = nullptr;
    uint64_t uniqueId_ = nextUniqueId();
    std::optional<uint64_t> semanticHardContinuationGroup_;
    // ---- recycleFieldsBegin
    CellBlock data_;
    // Every cell outside writtenFrom_ ..< writtenTo_ is the blank of the blank attribute
    // (PackedCell(0, 1, blankAttribute())), as the last recycle left it: a writer widens the
    // range over the cells it writes. Until the first recycle the range is the whole line.
    int writtenFrom_ = 0;
    int writtenTo_ = INT32_MAX;
    uint64_t generation_ = 0;
    uint64_t recycleGeneration_ = 0;
    bool isWrapped_ = false;
    BidiPresentationState bidiState_;
    RenderLineMode renderMode_ = RenderLineMode::single;
    // False only while the line surely has no semantic marks, no hard continuation group and
    // no images: a reuse then leaves those fields alone. Set by everything that can give
    // the line one of them, cleared by resetForRecycle.
    bool mayHaveExtras_ = false;
    // The blank attribute is the default one (the usual case): blankAttribute_ is only read
    // when it is not.
    bool blankIsDefault_ = true;
    // ---- recycleFieldsEnd
    PackedAttribute blankAttribute_ = PackedCell::defaultAttribute();
    std::vector<SemanticMark> semanticMarks_;
    std::optional<Images> images_;
    CharData fillCharacter_;
};

// One piece of text extracted from the rows, with where it came from and its length.
struct LineFragment {
    std::optional<std::string> text;
    int line = 0;
    int location = 0;
    int length = 0;

    friend bool operator==(const LineFragment&, const LineFragment&) = default;
};

// A line of extracted text made of fragments.
class Line {
public:
    std::vector<LineFragment> fragments;
    int length = 0;

    // Appends a fragment and adds its length.
    void append(LineFragment fragment);
    // "[]" without fragments; else "<count>/<length>: [" then each fragment's text (a single
    // line feed written as backslash n) followed by "][".
    std::string debugDescription() const;
};

} // namespace corvantix
