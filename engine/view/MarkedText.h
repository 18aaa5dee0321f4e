// The input method's side of the view without the widget: the marked text (the provisional
// text of a composition, shown at the caret and never sent), the ranges the input method
// asks about, and the geometry of the overlay that shows the marked text.
//
// Ranges count UTF-16 code units, as input methods do.
#pragma once

#include "drawing/CellMetrics.h"

#include <cstdint>
#include <limits>
#include <optional>
#include <string>
#include <utility>

namespace corvantix {

struct TextRange {
    // The location of a range that names nothing.
    static constexpr std::int64_t notFound = std::numeric_limits<std::int64_t>::max();

    std::int64_t location = notFound;
    std::int64_t length = 0;

    bool isNotFound() const { return location == notFound; }

    friend constexpr bool operator==(const TextRange&, const TextRange&) = default;
};

// The current marked text and the selection inside it.
class MarkedText {
public:
    // Absent without a composition to show; never empty.
    const std::optional<std::u16string>& storage() const { return markedTextStorage; }
    TextRange selectedRange() const { return markedSelectedRange; }

    bool hasMarkedText() const { return markedTextStorage.has_value(); }
    // (0, length of the marked text), or (notFound, 0) without marked text.
    TextRange markedRange() const;

    // Stores the text (an empty text stores nothing) and the selection inside it.
    void setMarkedText(std::u16string text, TextRange selectedRange);
    // Drops the marked text and its selection.
    void unmarkText();

    // The piece of the marked text a range asks for, with the range actually returned:
    // clipped to the end of the marked text; none for a range that starts outside it or
    // holds nothing. The terminal's own text is never offered.
    std::optional<std::pair<TextRange, std::u16string>> substring(TextRange proposed) const;

private:
    std::optional<std::u16string> markedTextStorage;
    TextRange markedSelectedRange;
};

// A cell position counted row by row: row x columns + column.
std::int64_t linearPosition(int col, std::int64_t row, int cols);

// The range the view reports as selected: an active selection of non-zero length as
// (smaller linear position, distance between the two), otherwise the cursor as an empty
// range. `selection` holds the selection's start and end (col, row) when it is active.
struct CellPoint {
    int col = 0;
    std::int64_t row = 0;
};
TextRange selectedRangeFor(const std::optional<std::pair<CellPoint, CellPoint>>& selection, CellPoint cursor, int cols);

// The linear cell index under a point of the view (y grows downward); each coordinate is
// cut to whole cells toward zero. 0 for a cell size that is not positive or a point that is
// not a finite number.
std::int64_t characterIndexForPoint(double x, double y, const CellDimension& cell, int cols);

// Where the marked text is shown. The overlay starts 4 points in from the view's left edge
// at the caret's row; its first line begins at the caret, the following ones at the
// overlay's left edge. Each line is one cell high, each character one cell wide.
struct MarkedTextOverlayMetrics {
    static constexpr double inset = 4.0;

    double x = inset;  // overlay's left edge in the view
    double y = 0;      // overlay's top edge: the caret's top
    double width = 0;  // max(cell width, view width - 2 x inset)
    double indent = 0; // first line's start inside the overlay: max(caret x - inset, 0)
    double kern = 0;   // extra space after each character: max(cell width - advance of "W", 0)

    static MarkedTextOverlayMetrics compute(double caretX, double caretTop, double viewWidth,
                                            const CellDimension& cell, double advanceOfW);
};

} // namespace corvantix
