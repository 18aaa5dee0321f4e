// One screen of the terminal: every line of the screen and of its history, the cursor, the
// viewport, the scroll region, the margins, the tab stops, the saved cursor (DECSC), the
// attribute and modes the print path reads, the semantic-prompt state and the callback
// through which the buffer asks its owner to scroll.
//
// Coordinates: lines are numbered from 0 (the oldest line still held) to lines().count() - 1.
// Screen row r is line yBase() + r; yDisp() is the line shown at the top of the view. The
// cursor (x, y) counts y in screen rows.
//
// The owner holds a buffer behind a pointer. The buffer cannot be copied or moved:
// its ring's hooks and its lines point back at it.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <span>
#include <string_view>
#include <vector>

#include "model/BidiPresentationState.h"
#include "model/UniqueId.h"
#include "model/BufferLine.h"
#include "model/CharData.h"
#include "model/CharacterMap.h"
#include "model/CircularBufferLineList.h"
#include "model/SemanticTypes.h"

namespace corvantix {

// Where written cells get their hyperlink payload. It is asked only once a cell is actually
// written, so a link that is open but never printed into is never registered.
class LinkPayloadSource {
public:
    // The payload to stamp on the cell being written; 0 outside a link.
    virtual TinyAtom linkPayload() = 0;

protected:
    virtual ~LinkPayloadSource() = default;
};

class Buffer {
public:
    using LinePtr = std::shared_ptr<BufferLine>;

    // New lines produced by narrowing a wrapped group, to be placed at `start` (counted in
    // the final layout) once the walk over the lines is over.
    struct InsertionSet {
        std::vector<LinePtr> lines;
        int start = 0;
    };

    // A run of lines emptied by joining wrapped rows.
    struct RemovedRun {
        int start = 0;
        int count = 0;
    };

    // The prompt-start line with the kind and column of its first initial (else secondary) mark.
    struct PromptStartMark {
        LinePtr line;
        SemanticPromptKind kind = SemanticPromptKind::initial;
        int column = 0;
    };

    // scrollback: the number of history lines; absent for a buffer without history (the
    // alternate screen), which never reflows.
    Buffer(int cols, int rows, int tabStopWidth, std::optional<int> scrollback, BidiPresentationState bidiState = {});
    ~Buffer();
    Buffer(const Buffer&) = delete;
    Buffer& operator=(const Buffer&) = delete;

    // Never shared with another buffer of this process.
    uint64_t uniqueId() const { return uniqueId_; }

    // ---- Lines and coordinates
    CircularBufferLineList& lines() { return lines_; }
    const CircularBufferLineList& lines() const { return lines_; }

    // Horizontal counterparts of yDisp and yBase; lines never scroll sideways, so nothing reads them.
    int xDisp = 0; // the view's first column
    int xBase = 0; // the screen's first column

    int yDisp() const { return yDisp_; }
    // Ignored while the stored value is negative; callers never store a negative value.
    void setYDisp(int value)
    {
        if (yDisp_ >= 0)
            yDisp_ = value;
    }
    int x() const { return x_; }
    // Negative values are ignored.
    void setX(int value)
    {
        if (value >= 0)
            x_ = value;
    }
    int y() const { return y_; }
    // Negative values are ignored.
    void setY(int value)
    {
        if (value >= 0)
            y_ = value;
    }
    int yBase() const { return yBase_; }
    void setYBase(int value) { yBase_ = value; }

    // Reset to 0 by clear; the terminal adds it to scroll-invariant rows.
    int linesTop = 0;

    int scrollTop() const { return scrollTop_; }
    // Negative values are ignored.
    void setScrollTop(int value)
    {
        if (value >= 0)
            scrollTop_ = value;
    }
    int scrollBottom() const { return scrollBottom_; }
    // Inclusive. Negative values are ignored.
    void setScrollBottom(int value)
    {
        if (value >= 0)
            scrollBottom_ = value;
    }

    // Any value is accepted; the terminal validates margins.
    int marginLeft() const { return marginLeft_; }
    void setMarginLeft(int value) { marginLeft_ = value; }
    int marginRight() const { return marginRight_; }
    void setMarginRight(int value) { marginRight_ = value; }

    int cols() const { return cols_; }
    int rows() const { return rows_; }

    // True where a tab stop is set; one entry per column.
    std::vector<bool> tabStops;

    // ---- Saved cursor (DECSC)
    int savedX = 0;
    int savedY = 0;
    bool savedOriginMode = false;
    bool savedMarginMode = false;
    bool savedWraparound = false;
    bool savedReverseWraparound = false;
    Attribute savedAttr;
    const CharacterMap* savedCharset = nullptr; // null: none saved

    // ---- History
    bool hasScrollback = false;
    std::optional<int> scrollback;

    // ---- What the print path reads
    // Blanks made in insert mode and wide-character placeholders; not changed by SGR.
    Attribute curAttr{Attribute::Color::defaultColor(), Attribute::Color::defaultInvertedColor(), {}, UnderlineStyle::none, std::nullopt};
    // Mirrors of the terminal's modes; the terminal writes both copies.
    bool insertMode = false;
    bool marginMode = false;
    bool wraparound = false;

    // ---- Semantic prompts (operations with the prompt zones)
    SemanticContent semanticContent = SemanticContent::none();
    SemanticInputState semanticInput = SemanticInputState::idle;
    SemanticPromptClickMode semanticClickMode = SemanticPromptClickMode::none();
    bool semanticUsesSpecialCursorKeys = false;
    LinePtr semanticPromptStartLine;
    int semanticPromptStartRowCache = 0;
    int semanticPromptRowScanCount = 0;
    uint64_t semanticGroupCounter = 0;
    uint64_t activeSemanticGroupID = 0;

    // Bidi state given to every new blank line; the terminal mirrors its own into it.
    BidiPresentationState defaultBidiState;

    // Asks the owner to scroll the region up by one line. Must be set before any write; the
    // default ends the program.
    std::function<void(bool isWrapped)> scroll;

    // ---- Lines with images
    bool hasLinesWithImages() const { return linesWithImagesCount_ > 0; }
    int linesWithImagesCount() const { return linesWithImagesCount_; }
    // Drops the images of line `row` (made if its slot is empty).
    void removeLineImages(int row);
    // Appends an image to line `row` (made if its slot is empty); out-of-range rows are ignored.
    void attachImagesToLine(std::shared_ptr<TerminalImage> image, int row);
    // Replaces the images of line `row`; an empty list leaves the line without images.
    void setLineImages(int row, BufferLine::Images images);
    // Counts the held lines that carry images; used after reflow.
    void recountLinesWithImages();

    // ---- Lines and cells
    // A line of cols() cells of code 0, width 1, no payload, in the given attribute.
    LinePtr getBlankLine(const Attribute& attribute, bool isWrapped = false);
    // The line an empty ring slot gets: a blank line in the default cell's attribute.
    LinePtr makeEmptyLine();
    // Only on an empty ring: pushes rows() blank lines (default cell's attribute when absent).
    void fillViewportRows(std::optional<Attribute> attribute = std::nullopt);
    // The cell at column col of line row; CharData::defaultCell() outside the line.
    CharData getChar(int col, int row) const;
    // The same for a viewport row (line row + yDisp()).
    CharData getCharInViewport(int col, int viewportRow) const { return getChar(col, viewportRow + yDisp_); }
    // A space (code 32) in the given attribute, else default foreground on the inverted
    // default background.
    static CharData spaceCell(std::optional<Attribute> attribute = std::nullopt);

    // ---- Writing printed characters (BufferWrite.cpp)
    // Writes one character of width 1 or 2 at the cursor (a wide one with its placeholder),
    // wrapping, scrolling and inserting as the modes say, stamping the active hyperlink
    // (from `links`) and the semantic content; the cursor moves past it.
    void insertCharacter(const CharData& charData, LinkPayloadSource& links)
    {
        insertCharacter(charData.code, charData.width, PackedCell::packAttribute(charData.attribute), links);
    }
    // The same for a character given by its code, width and packed attribute.
    void insertCharacter(int32_t code, int8_t width, const PackedAttribute& attribute, LinkPayloadSource& links);
    // Writes each byte as a width-1 cell whose code is the byte (or the map's replacement
    // for it, when a map is given); returns how many it wrote from the start (0 in insert
    // mode; it stops at the right limit with wraparound off).
    int insertNarrowRun(std::span<const uint8_t> bytes, const PackedAttribute& attribute, LinkPayloadSource& links,
                        const CharacterMap* map = nullptr);
    int insertNarrowRun(std::span<const uint8_t> bytes, const Attribute& attribute, LinkPayloadSource& links,
                        const CharacterMap* map = nullptr)
    {
        return insertNarrowRun(bytes, PackedCell::packAttribute(attribute), links, map);
    }
    // Writes characters of width 1 or 2 given by codes that are the scalars themselves, as
    // insertCharacter would one after the other, wrapping only to rows that restart at
    // column 0; returns how many it wrote from the start. It stops where insertCharacter
    // would do more than write: insert mode, a character that does not fit with wraparound
    // off or after a wrap to a margin, a row shorter than the screen.
    int insertCellRun(std::span<const char32_t> codes, std::span<const int8_t> widths, const PackedAttribute& attribute,
                      LinkPayloadSource& links);
    // The column writes stop at: the right margin in margin mode, else the last column.
    int writeRightLimit() const { return marginMode ? marginRight_ : cols_ - 1; }
    // Where the cursor goes after a wrap: the left margin in margin mode, else 0.
    int writeRestartColumn() const { return marginMode ? marginLeft_ : 0; }

    // ---- Rectangles of cells (BufferEdit.cpp); line numbers, columns inclusive
    // Lines top .. bottom - count take the columns left .. right of the line `count` below
    // (semantic marks move with the cells) and the last `count` lines get `fill` there.
    // Flags stay as they are.
    void shiftRectangleUp(int top, int bottom, int left, int right, const CharData& fill, int count = 1);
    // Lines bottom .. top + count take those columns of the line `count` above; the first
    // `count` lines get `fill`.
    void shiftRectangleDown(int top, int bottom, int left, int right, const CharData& fill, int count = 1);

    // ---- Tab stops
    // index -1: all stops cleared and set every `width` columns from column 0. Otherwise the
    // array is cut to cols() and stops continue the pattern from the stop at or before index.
    void setupTabStops(int index, int width);
    // x -1: the cursor column.
    int previousTabStop(int x = -1) const;
    // x -1: the cursor column. Never beyond marginRight() (useMargins) or cols() - 1.
    int nextTabStop(bool useMargins, int x = -1) const;

    // ---- Resets
    // Empties the screen and its history; tab stops, saved state, curAttr and modes stay.
    void clear();
    void clearSavedState();
    // Forgets the lines above the screen. savedY is a screen row and stays.
    void clearScrollback();
    // New history size (absent: no history, no reflow). savedY stays.
    void changeHistorySize(std::optional<int> newScrollback);

    // ---- Resize and reflow (the caller has clamped the size: at least 2 columns and 1 row)
    void resize(int newCols, int newRows);

    // ---- Semantic prompt zones
    std::optional<PromptStartMark> promptStartMarkKind() const;
    // Rows below are line numbers. The queries may fill empty ring slots they visit and keep
    // the cached prompt-start row up to date, hence not const. (BufferSemantic.cpp)
    // A new group number (wrapping to 1) starting at the line of `row`; out of range: nothing.
    void beginSemanticGroup(int row);
    // A mark of the active group; the column is clamped into the line.
    void addSemanticMark(SemanticPromptKind kind, int row, int column);
    // The row of the current prompt start, searched again when its line moved.
    std::optional<int> semanticPromptStartRow();
    // The row holding this very line object, searched outward from the hint.
    std::optional<int> findRowOfLine(const BufferLine* line, int hint);
    // The nearest row at or above the cursor with an active prompt mark, else below it.
    std::optional<int> findActivePromptRow();
    bool rowHasActivePromptMark(int row);
    bool isRowInSemanticPrompt(int row);
    std::optional<Position> findSemanticInputStart();
    std::vector<SemanticPromptAnchor> semanticMarksOfRow(int row);
    std::optional<uint64_t> promptGroupOfRow(int row, std::optional<int> startRow);
    std::optional<uint64_t> continuationGroupOfRow(int row);
    // Whether the row continues the active group.
    bool semanticPromptCellRange(int row);
    // prompt(initial), prompt(continuation) or none.
    SemanticContent classifySemanticClick(int row);
    // The latest secondary-prompt mark of the active group at or before the click, else the
    // prompt start.
    std::optional<Position> semanticClickTarget(int col, int row);

private:
    int capacityFor(int rowCount) const;
    void installLineListHooks();
    void dropOldestLines(int excess);
    [[noreturn]] static void fatalError(std::string_view message);

    // Resize steps, run while cols() and rows() still hold the old size.
    void resizeLinesToWidth(int newCols);
    LinePtr makeResizeLine(int newCols);
    void adjustRowCount(int newCols, int newRows, int& addToY);
    void shrinkCapacity(int newCapacity);
    void checkLineWidths(int newCols);

    void reflowLarger(int oldCols, int newCols, int newRows);
    std::vector<RemovedRun> foldWrappedGroups(int oldCols, int newCols, int cursorLine, const CharData& nullCell);
    int foldGroup(std::span<const LinePtr> group, int oldCols, int newCols, const CharData& nullCell);
    void removeLineRuns(const std::vector<RemovedRun>& removed);

    void reflowSmaller(int oldCols, int newCols, int newRows);
    // Cuts the wrapped group in `group` (its first line at groupStart) to newCols; the rows
    // it gains go into a new insertion set. Answers how many rows it gained; none when
    // there was nothing to cut.
    std::optional<int> cutGroupSmaller(std::vector<LinePtr>& group, int groupStart, int oldCols, int newCols,
                                       std::vector<InsertionSet>& toInsert, int& countToInsert);
    std::vector<int> newLineLengths(std::span<const LinePtr> group, int oldCols, int newCols) const;
    void moveCellsBackward(std::span<const LinePtr> group, const std::vector<int>& oldLengths,
                           const std::vector<int>& lengths, int oldRowCount);
    void makeRoomForAddedLines(int linesToAdd, int overflow, int countToInsert, int& trimBottom, int newRows, bool belowCursor,
                               int cursorLine, int reflowedEnd);
    bool isSpareBottomLine(int cursorLine, int reflowedEnd);
    void applyInsertions(const std::vector<InsertionSet>& toInsert, int countToInsert, int trimBottom);

    static int wrappedLineTrimmedLength(const BufferLine& line, const BufferLine* nextLine, int cols);
    static std::vector<int> wrappedLengthsOf(std::span<const LinePtr> group, int cols);

    CircularBufferLineList lines_;
    uint64_t uniqueId_ = nextUniqueId();
    int yDisp_ = 0;
    int x_ = 0;
    int y_ = 0;
    int yBase_ = 0;
    int linesWithImagesCount_ = 0;
    int scrollBottom_ = 0;
    int scrollTop_ = 0;
    int marginLeft_ = 0;
    int marginRight_ = 0;
    int cols_ = 0;
    int rows_ = 0;
};

} // namespace corvantix
