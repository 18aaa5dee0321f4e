// Bidirectional layout of screen rows for display. The grid always stays in stored (logical)
// order; drawing, the caret, mouse hit-testing and the arrow keys ask this layer which cell
// shows in which screen column and what text it shows (mirrored brackets, joined Arabic
// forms, lam-alef ligatures).
//
// Implicit rows are reordered per paragraph (a row and the wrapped rows that continue it)
// with the Unicode bidirectional algorithm; results are cached process-wide. Explicit rows
// are never reordered; a right-to-left explicit row is mirrored as a whole.
//
// Safe to call from any thread: the caches are guarded, the work runs outside the lock.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <unordered_map>
#include <utility>
#include <vector>

#include "model/BidiPresentationState.h"

namespace corvantix {

class Buffer;
class BufferLine;
class Terminal;

// The single mode a line's presentation state amounts to.
enum class BidiPresentationMode : uint8_t {
    implicitLeftToRight,
    implicitRightToLeft,
    implicitAutoLeftToRight,
    implicitAutoRightToLeft,
    explicitLeftToRight,
    explicitRightToLeft,
};
BidiPresentationMode bidiPresentationMode(const BidiPresentationState& state);

// One displayed cell in visual order: the first stored column it shows, its width, and the
// text drawn instead of the stored one (absent: the stored text).
struct BidiCell {
    int logicalCol = 0;
    int width = 1;
    std::optional<std::u32string> display;
    friend bool operator==(const BidiCell&, const BidiCell&) = default;
};

struct BidiRowLayout {
    std::vector<BidiCell> visualCells; // from the left edge
    std::vector<int> logicalToVisualCol; // stored column -> screen column
    std::vector<int> visualToLogicalCol; // screen column -> stored column
    BidiDirection baseDirection = BidiDirection::leftToRight;
    uint64_t paragraphRevision = 0;
};

// Layouts of a paragraph's rows by absolute row; a row drawn in stored order is absent.
struct ParagraphResult {
    std::unordered_map<int, BidiRowLayout> rows;
    BidiDirection baseDirection = BidiDirection::leftToRight;

    const BidiRowLayout* row(int index) const
    {
        const auto found = rows.find(index);
        return found == rows.end() ? nullptr : &found->second;
    }
};

// The Bidi_Mirroring_Glyph partner of a scalar, or 0 when it has none.
char32_t bidiMirror(char32_t scalar);
// The left-right mirror image of a box-drawing character, or 0.
char32_t boxDrawingMirror(char32_t scalar);

// The layout one row is drawn with, and what keeps it alive; `layout` is null for a row
// drawn in stored order.
struct RowBidiLayout {
    std::shared_ptr<const ParagraphResult> paragraph;
    std::optional<BidiRowLayout> own;
    const BidiRowLayout* layout = nullptr;

    // The screen column of a stored column, and back; the column itself without a layout.
    int visualColumn(int logicalCol) const;
    int logicalColumn(int visualCol) const;
};

class TerminalBidi {
public:
    // How a character takes part in Arabic-style joining.
    enum class Joining : uint8_t { none, transparent, causing, right, left, dual };

    // One stored cell of a paragraph in reading order.
    struct Cell {
        int row = 0;
        int logicalCol = 0;
        int width = 1;
        std::u32string text;
        friend bool operator==(const Cell&, const Cell&) = default;
    };

    // Paragraph caches are emptied when an insert finds this many entries.
    static constexpr size_t cacheLimit = 256;

    // The rows (first, last) of the paragraph holding `row`: a row that is not wrapped (or
    // row 0) and the wrapped rows right after it. None outside the ring or over maxRows.
    static std::optional<std::pair<int, int>> paragraphBounds(int row, const Buffer& buffer, int maxRows);
    // Changes whenever a line of the paragraph is replaced, edited or re-wrapped.
    static uint64_t paragraphContentHash(int first, int last, const Buffer& buffer);
    // Whether the first `cols` columns of a line hold right-to-left text or marks.
    static bool rowNeedsBidi(const BufferLine& line, int cols, const Terminal& terminal);

    // Layouts for the paragraph holding `row` of `buffer`; none outside the ring, for an
    // explicit line or for a paragraph longer than the terminal's limit.
    static std::shared_ptr<const ParagraphResult> paragraphLayout(int row, const Buffer& buffer, int cols,
                                                                  const Terminal& terminal);
    // The whole-row mirror of an explicit right-to-left row; none outside the ring.
    static std::optional<BidiRowLayout> rowLayout(int row, const Buffer& buffer, int cols, const Terminal& terminal);
    // Widens a dirty row range to whole paragraphs.
    static std::pair<int, int> expandToParagraphs(int startRow, int endRow, const Buffer& buffer, int maxRows);
    // The revision of the row's paragraph; 0 outside the ring, explicit or over the limit.
    static uint64_t paragraphRevision(int row, const Buffer& buffer, int maxRows);

    // What callers draw, place the caret and hit-test a row with: the paragraph's layout of
    // an implicit row, the mirror of an explicit right-to-left row, else none.
    static RowBidiLayout layoutForRow(int row, const Buffer& buffer, int cols, const Terminal& terminal);
    // The direction a row reads in: an explicit row's own, else its paragraph's base
    // direction; left to right for a missing row or one without a paragraph.
    static BidiDirection rowDirection(int row, const Buffer& buffer, int cols, const Terminal& terminal);

    // The base direction the text decides: the first strong letter or directional mark.
    static BidiDirection detectBaseDirection(std::span<const Cell> cells, BidiDirection fallback);
    // `scalar` followed by the combining marks (every scalar after the first) of `cells`.
    static std::u32string composeDisplay(char32_t scalar, std::span<const Cell> cells);

    // Contextual forms of the Arabic letters among `cells` (in logical order): one display
    // text per cell, absent when the cell keeps its own.
    static std::vector<std::optional<std::u32string>> shapeArabic(std::span<const Cell> cells);
    // The joined forms of the Arabic letters of a row shown in stored order (no bidi layout):
    // one display text per column, absent where the cell keeps its own; empty when the row
    // holds no Arabic letter.
    static std::vector<std::optional<std::u32string>> storedOrderForms(const BufferLine& line, int cols,
                                                                       const Terminal& terminal);
    // Whether the cell at `index`, of joining type `type`, joins the character before it.
    static bool joinsWithPrevious(int count, std::span<const Cell> cells, int index, Joining type);
    // The joining type of a scalar from the table (none outside it).
    static Joining joiningType(char32_t scalar);

    // Empties both caches; the sizes let tests watch them.
    static void clearCaches();
    static size_t paragraphCacheSize();
    static size_t contentCacheSize();

    // One cell of a paragraph's text as the bidi algorithm sees it (one UTF-16 unit per cell).
    static char16_t typesetUnit(std::u32string_view text);
};

} // namespace corvantix
