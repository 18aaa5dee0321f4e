// The row builder: turns one line of the displayed buffer into what every drawing path draws.
// Text becomes runs of styled UTF-16 grouped into segments of one cell width; block
// elements, box drawing and powerline separators become cell-art items; Kitty placeholder
// cells are collected; the line's images are passed through.
//
// The builder owns the mapping from a cell's Attribute to its RunStyle (fonts by slot,
// colours through the view's colour mapping, underline, strikethrough) and the overrides of
// links, the selection and hidden blinking text. It knows no toolkit: the painter and a GPU
// renderer consume the same rows. One builder per view, used on the main thread.
#pragma once

#include <algorithm>
#include <cstdint>
#include <functional>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <unordered_map>
#include <utility>
#include <vector>

#include "drawing/CellArt.h"
#include "drawing/KittyPlaceholder.h"
#include "drawing/LinkHighlightMode.h"
#include "drawing/RgbaColor.h"
#include "drawing/RunStyle.h"
#include "drawing/TerminalBidi.h"
#include "emulator/Terminal.h"
#include "model/BufferLine.h"
#include "model/CharData.h"

namespace corvantix {

class SelectionService;

// One run of cells of equal width, drawn from one styled string.
struct ViewLineSegment {
    // A range of `text` with one style.
    struct Run {
        int start = 0;  // UTF-16 index into text
        int length = 0; // UTF-16 units
        RunStyle style;
    };

    int column = 0;      // visual column of the segment's first cell
    int columnWidth = 1; // width in columns of every cell (1 or 2)
    // Number of runs appended (placeholder spaces included); a segment is only emitted when
    // it is not zero.
    int characterCount = 0;
    std::u16string text;
    std::vector<Run> runs;
    // For each UTF-16 unit of text, the ordinal (within the segment) of its cell. Cell
    // ordinal k lies at visual column column + k x columnWidth.
    std::vector<int> utf16ToCellOrdinal;
    // Every cell took exactly one UTF-16 unit: the map is the identity.
    bool utf16IsCellIdentity = true;
    // Number of cells appended so far (the next cell's ordinal).
    int cellCount = 0;

    // The cell ordinal of a UTF-16 index: an index outside the table takes the table's last
    // entry (ordinal 0 for an empty table).
    int cellOrdinal(int utf16Index) const
    {
        if (utf16IsCellIdentity)
            return utf16Index;
        if (utf16Index >= 0 && static_cast<size_t>(utf16Index) < utf16ToCellOrdinal.size())
            return utf16ToCellOrdinal[static_cast<size_t>(utf16Index)];
        return utf16ToCellOrdinal.empty() || utf16ToCellOrdinal.back() < 0 ? 0 : utf16ToCellOrdinal.back();
    }

    // The visual columns [first, end) the cells of a run's text cover; none for an empty run.
    std::optional<std::pair<int, int>> runColumns(const Run& run) const
    {
        if (run.length <= 0)
            return std::nullopt;
        int low = cellOrdinal(run.start);
        int high = low;
        for (int i = run.start + 1; i < run.start + run.length; ++i) {
            const int ordinal = cellOrdinal(i);
            low = std::min(low, ordinal);
            high = std::max(high, ordinal);
        }
        const int first = column + low * columnWidth;
        const int end = column + (high + 1) * columnWidth;
        if (end <= first)
            return std::nullopt;
        return std::pair(first, end);
    }
};

// The result of building one row, in drawing order of its lists.
struct AttributedRow {
    std::vector<ViewLineSegment> segments; // left to right
    std::optional<BufferLine::Images> images;
    std::vector<KittyPlaceholderCell> placeholderCells;
    std::vector<BlockElementRenderItem> blockElementItems;
    std::vector<BoxDrawingRenderItem> boxDrawingItems;
    std::vector<PowerlineRenderItem> powerlineItems;
};

// The half-open column range [lower, upper) of the selection on `row` (a buffer line),
// for a row built `cols` wide in a terminal of `terminalCols` columns; none without an
// active selection or when the row has no selected column.
std::optional<ColumnRange> selectionColumns(const SelectionService* selection, int terminalCols, int row, int cols);

class RowBuilder {
public:
    // The view's colour mapping (palette, bright colours, default and inverted default
    // colours, true colours).
    using ColorMapper =
        std::function<RgbaColor(const Attribute::Color& color, bool isForeground, bool isBold, bool useBrightColors)>;

    // A placeholder cell's neighbour on the left, with that cell's attribute.
    using LeftPlaceholder = std::pair<KittyPlaceholderCell, Attribute>;
    // Decodes a Kitty placeholder cell: (text, attribute, buffer row, visual column, left
    // neighbour) -> the decoded cell or none. Absent: no cell is a placeholder.
    using PlaceholderDecoder = std::function<std::optional<KittyPlaceholderCell>(
        std::u32string_view text, const Attribute& attribute, int row, int visualColumn,
        const std::optional<LeftPlaceholder>& left)>;

    // One cell of a bidi row layout, in visual order: the logical column it shows and an
    // optional text that replaces the cell's own (shaped or mirrored forms).
    using VisualCell = BidiCell;

    // How bidi layout shapes a row: its visual cells when it was laid out, and whether the
    // text must keep the order it is given in.
    struct RowLayout {
        std::optional<std::span<const VisualCell>> visualCells;
        bool directionOverride = false;
    };

    // The view's state the builder reads; the view keeps it current.
    struct Settings {
        bool useBrightColors = true;
        bool customBlockGlyphs = true;
        bool textBlinkVisible = true;
        LinkHighlightMode linkHighlightMode = LinkHighlightMode::hoverWithModifier;
        bool commandActive = false;
        std::optional<std::vector<RowRange>> linkHighlightRange;
        std::optional<RgbaColor> selectedTextBackgroundColor = RgbaColor{0.0, 166.0 / 255.0, 178.0 / 255.0, 1.0};
        std::optional<RgbaColor> selectedTextForegroundColor = RgbaColor::black();
        RgbaColor nativeFg{35389.0 / 65535.0, 35389.0 / 65535.0, 35389.0 / 65535.0, 1.0};
        RgbaColor nativeBg = RgbaColor::black();
    };

    // Attribute caches are emptied when they hold this many entries before an insertion.
    static constexpr size_t attributeCacheLimit = 4096;

    explicit RowBuilder(ColorMapper mapColor);

    Settings settings;
    PlaceholderDecoder decodeKittyPlaceholderCell;

    // Builds `cols` columns of `line`, which is buffer line `row` of the terminal's active
    // buffer (scrollback included: the rows of the selection and the link highlight).
    AttributedRow buildAttributedLine(const Terminal& terminal, int row, const BufferLine& line, int cols,
                                      const SelectionService* selection, const RowLayout& layout);
    AttributedRow buildAttributedLine(const Terminal& terminal, int row, const BufferLine& line, int cols,
                                      const SelectionService* selection)
    {
        return buildAttributedLine(terminal, row, line, cols, selection, RowLayout{});
    }

    // The style of one attribute, cached per attribute; `link` selects the link look.
    RunStyle cachedCellAttributes(const Attribute& attribute, bool link);
    // The uncached style of an attribute whose colours the caller resolved already (the
    // caret's glyph): fonts by the bold and italic bits, colours swapped for inverse, the
    // underline and the strikethrough; no link look, no dim, no bright-as-bold.
    RunStyle cellAttributes(const Attribute& attribute, const RgbaColor& foreground, const RgbaColor& background) const;

    // Drops every cached style (after a change of colours or of the colour mapping).
    void resetCaches();
    size_t cachedStyleCount() const { return attributes_.size() + urlAttributes_.size(); }

    // The text of a cell code: the scalar itself, a registered cluster, or " " for an
    // unknown code or an invalid scalar. `scratch` holds a single scalar.
    static std::u32string_view cellText(const Terminal& terminal, int32_t code, char32_t& scratch);

    // Appends one run to a segment: `text` with `style`, `unitCounts` holding the UTF-16
    // length of each of its cells.
    static void appendAttributedRun(std::u16string_view text, const RunStyle& style, std::span<const int> unitCounts,
                                    ViewLineSegment& segment);

private:
    struct RowState;
    struct LineContext;

    // One cell of the line at logical column `col` (with the text the layout shows for it,
    // if any) into the row being built; answers its width.
    int buildCell(const LineContext& context, RowState& state, AttributedRow& result, int col,
                  const std::u32string* displayText);
    // The run style of a cell: its attribute's, then the selection and hidden-blink looks.
    RunStyle cellRunStyle(const Attribute& attribute, bool link, bool isSelected, bool blinkHidden,
                          bool directionOverride);
    // A cell drawn by other means keeps its column with a space in its run's style.
    void appendPlaceholderSpace(RowState& state) const;
    // Clusters and Arabic letters under a bidi layout go in a segment of their own.
    void appendIsolatedRun(RowState& state, AttributedRow& result, std::u32string_view text, int width) const;

    bool linkFlag(int row, int col, int width, const CharData& cell) const;
    void flushPendingRun(RowState& state) const;
    void closeSegment(RowState& state, AttributedRow& result) const;
    void openSegment(RowState& state, int column, int width) const;
    bool appendCustomGlyph(RowState& state, AttributedRow& result, uint32_t scalar, int width, bool reverseColors) const;

    ColorMapper mapColor_;
    std::unordered_map<Attribute, RunStyle> attributes_;
    std::unordered_map<Attribute, RunStyle> urlAttributes_;
};

} // namespace corvantix
