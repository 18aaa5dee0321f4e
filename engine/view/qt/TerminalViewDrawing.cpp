// Painting the terminal's cells into the widget: the view's state goes to the row builder and
// the painter, which draw the rows touching the dirty rectangle.
#include "view/qt/TerminalView.h"

#include "drawing/TerminalBidi.h"

#include <QPainter>

#include "drawing/RowBuilder.h"
#include "drawing/qt/CellArtPainter.h"
#include "drawing/qt/TerminalPainter.h"
#include "graphics/KittyPlaceholder.h"
#include "view/qt/TerminalViewImages.h"

namespace corvantix {

// The drawing caches of one view. The view drops this object whenever its fonts or colours
// change, which empties every cached style and shaped glyph with it.
struct TerminalView::DrawingState {
    explicit DrawingState(TerminalView& view)
        : rowBuilder([&view](const Attribute::Color& color, bool isForeground, bool isBold, bool useBright) {
            return toRgbaColor(view.mapColor(color, isForeground, isBold, useBright));
        })
    {
        rowBuilder.decodeKittyPlaceholderCell = [](std::u32string_view text, const Attribute& attribute, int row,
                                                   int column, const std::optional<RowBuilder::LeftPlaceholder>& left) {
            const std::optional<KittyPlaceholderCell> previous =
                left ? std::optional<KittyPlaceholderCell>(left->first) : std::nullopt;
            const Attribute previousAttribute = left ? left->second : Attribute{};
            return corvantix::decodeKittyPlaceholderCell(text, attribute.fg, attribute.underlineColor, row, column,
                                                         previous, previousAttribute.fg,
                                                         previousAttribute.underlineColor);
        };
    }

    // What the cached styles depend on besides the palette (whose changes reset this state).
    struct StyleInputs {
        bool useBrightColors = true;
        bool reverseColors = false;
        QColor nativeFg;
        QColor nativeBg;
        friend bool operator==(const StyleInputs&, const StyleInputs&) = default;
    };

    RowBuilder rowBuilder;
    TerminalPainter painter;
    std::optional<StyleInputs> styleInputs;
};

namespace {

std::optional<RgbaColor> toOptionalRgba(const std::optional<QColor>& color)
{
    if (!color)
        return std::nullopt;
    return toRgbaColor(*color);
}

} // namespace

void TerminalView::drawTerminalContents(QPainter& painter, QRect dirtyRect)
{
    if (!terminal || !cellDimension) {
        painter.fillRect(dirtyRect, layerBackgroundColor);
        return;
    }
    if (!drawingState)
        drawingState = std::make_shared<DrawingState>(*this);
    DrawingState& state = *drawingState;

    const DrawingState::StyleInputs inputs{useBrightColors, terminal->reverseColors, _nativeFg, _nativeBg};
    if (state.styleInputs != inputs) {
        state.rowBuilder.resetCaches();
        state.styleInputs = inputs;
    }

    RowBuilder::Settings& settings = state.rowBuilder.settings;
    settings.useBrightColors = useBrightColors;
    settings.customBlockGlyphs = _customBlockGlyphs;
    settings.textBlinkVisible = textBlinkVisible;
    settings.linkHighlightMode = _linkHighlightMode;
    settings.commandActive = commandActive;
    settings.linkHighlightRange = linkHighlightRange;
    settings.selectedTextBackgroundColor = toOptionalRgba(_selectedTextBackgroundColor);
    settings.selectedTextForegroundColor = toOptionalRgba(_selectedTextForegroundColor);
    settings.nativeFg = toRgbaColor(_nativeFg);
    settings.nativeBg = toRgbaColor(_nativeBg);

    TerminalFrame frame;
    frame.terminal = terminal.get();
    frame.selection = selection.get();
    frame.rowBuilder = &state.rowBuilder;
    frame.fonts = {fontSet.normal, fontSet.bold, fontSet.italic, fontSet.boldItalic};
    frame.cell = cellDimension;
    frame.backingScale = backingScaleFactor();
    frame.nativeFg = _nativeFg;
    frame.nativeBg = _nativeBg;
    frame.clearColor = layerBackgroundColor;
    frame.fontSmoothing = _fontSmoothing;
    frame.antiAliasCustomBlockGlyphs = _antiAliasCustomBlockGlyphs;
    frame.bounds = QSizeF(size());
    frame.imageScale = window() != nullptr ? backingScaleFactor() : 1.0;
    frame.kittyImageForId = [this](std::uint32_t imageId) { return kittyImageForId(imageId); };
    frame.imageContents = [](const TerminalImage& image) -> const QImage* {
        const auto* own = dynamic_cast<const AppleImage*>(&image);
        return own != nullptr ? &own->image : nullptr;
    };

    // The painter builds each row right after asking for its layout, so one holder serves
    // every row of the frame.
    RowBidiLayout bidi;
    if (_bidiHostPolicy == BidiHostPolicy::respectTerminal) {
        frame.rowLayout = [this, &bidi](int row, const BufferLine& line) {
            const Terminal& t = *terminal;
            bidi = TerminalBidi::layoutForRow(row, *t.buffer, t.cols, t);
            RowBuilder::RowLayout layout;
            if (bidi.layout != nullptr) {
                layout.visualCells = std::span<const BidiCell>(bidi.layout->visualCells);
                layout.directionOverride = true;
            } else {
                layout.directionOverride = TerminalBidi::rowNeedsBidi(line, t.cols, t);
            }
            return layout;
        };
    }

    state.painter.drawVisibleRows(painter, frame, terminal->buffer->yDisp(), QRectF(dirtyRect));
}

} // namespace corvantix
