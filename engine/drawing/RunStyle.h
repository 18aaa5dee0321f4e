// The look of a run of cells, as the row builder hands it to the drawing paths: which of the
// view's four fonts, the colours, the underline and the strikethrough, the selection
// background and the left-to-right override. One value per distinct cell attribute; the
// painter and a GPU renderer read the same fields.
//
// Optional fields mirror "present / absent" in the attribute set of a text run: a missing
// underline colour means "use the foreground", a missing underline style means "no
// underline".
#pragma once

#include <cstdint>
#include <optional>

#include "drawing/RgbaColor.h"
#include "model/CharData.h"

namespace corvantix {

// The view's fonts, in the order normal, bold, italic, bold-italic.
enum class FontSlot : uint8_t { normal = 0, bold = 1, italic = 2, boldItalic = 3 };

constexpr FontSlot fontSlot(bool bold, bool italic)
{
    if (bold)
        return italic ? FontSlot::boldItalic : FontSlot::bold;
    return italic ? FontSlot::italic : FontSlot::normal;
}

// The toolkit's underline style bits: 1 single, 9 double, 0x101 single with a dot pattern,
// 0x201 single with a dash pattern. A curly underline is drawn as single by the toolkit;
// the shape comes from RunStyle::corvantixUnderlineStyle.
int underlineStyleAttributeValue(UnderlineStyle style);

struct RunStyle {
    FontSlot font = FontSlot::normal;
    // The cell was isolated in a segment of its own: its font is whichever font can draw
    // its text, looked for from `font` (the fallback font of the text).
    bool fallbackFont = false;
    std::optional<RgbaColor> foregroundColor;
    std::optional<RgbaColor> backgroundColor;
    // "Corvantix_selectionBackgroundColor": the selection fill, drawn instead of the
    // background.
    std::optional<RgbaColor> selectionBackgroundColor;
    // The toolkit's underline style value (underlineStyleAttributeValue) and colour.
    std::optional<int> underlineStyleAttribute;
    std::optional<RgbaColor> underlineColor;
    // "CorvantixUnderlineStyle": the UnderlineStyle number 0 to 5.
    std::optional<int> corvantixUnderlineStyle;
    std::optional<int> strikethroughStyle;
    std::optional<RgbaColor> strikethroughColor;
    // The text keeps the order it is given in (left-to-right override).
    bool directionOverride = false;

    // An underline or a strikethrough is to be drawn.
    bool hasDecorations() const { return underlineStyleAttribute.has_value() || strikethroughStyle.has_value(); }
    // The background a run paints: the selection fill when present, else the background.
    std::optional<RgbaColor> paintedBackground() const
    {
        return selectionBackgroundColor ? selectionBackgroundColor : backgroundColor;
    }

    friend bool operator==(const RunStyle&, const RunStyle&) = default;
};

// The underline a run shows: "CorvantixUnderlineStyle" when it holds a known style number;
// else decoded from the toolkit value (both bits 1 and 8: double; bit 0x100: dotted; a bit
// of 0x600: dashed; any other non-zero value: single; none otherwise).
UnderlineStyle underlineStyle(const RunStyle& style);

} // namespace corvantix
