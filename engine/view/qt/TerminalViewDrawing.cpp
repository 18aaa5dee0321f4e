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

    // Brings the row builder up to the view's current colours and switches; every drawing
    // path calls this before it builds rows.
    void syncWith(TerminalView& view);
    // The bidi layout of a row as the view's policy asks; `holder` keeps the visual cells the
    // layout points into and must outlive the row's build.
    static RowBuilder::RowLayout rowLayout(const TerminalView& view, int row, const BufferLine& line,
                                           RowBidiLayout& holder);
};

namespace {

std::optional<RgbaColor> toOptionalRgba(const std::optional<QColor>& color)
{
    if (!color)
        return std::nullopt;
    return toRgbaColor(*color);
}

} // namespace

void TerminalView::DrawingState::syncWith(TerminalView& view)
{
    const StyleInputs inputs{view.useBrightColors, view.terminal->reverseColors(), view.nativeFg_, view.nativeBg_};
    if (styleInputs != inputs) {
        rowBuilder.resetCaches();
        styleInputs = inputs;
    }

    RowBuilder::Settings& settings = rowBuilder.settings;
    settings.useBrightColors = view.useBrightColors;
    settings.customBlockGlyphs = view.customBlockGlyphs_;
    settings.textBlinkVisible = view.textBlinkVisible;
    settings.linkHighlightMode = view.linkHighlightMode_;
    settings.commandActive = view.commandActive;
    settings.linkHighlightRange = view.linkHighlightRange;
    settings.selectedTextBackgroundColor = toOptionalRgba(view.selectedTextBackgroundColor_);
    settings.selectedTextForegroundColor = toOptionalRgba(view.selectedTextForegroundColor_);
    settings.nativeFg = toRgbaColor(view.nativeFg_);
    settings.nativeBg = toRgbaColor(view.nativeBg_);
}

RowBuilder::RowLayout TerminalView::DrawingState::rowLayout(const TerminalView& view, int row, const BufferLine& line,
                                                           RowBidiLayout& holder)
{
    RowBuilder::RowLayout layout;
    if (view.bidiHostPolicy_ != BidiHostPolicy::respectTerminal)
        return layout;
    const Terminal& t = *view.terminal;
    holder = TerminalBidi::layoutForRow(row, t.buffer(), t.cols(), t);
    if (holder.layout != nullptr) {
        layout.visualCells = std::span<const BidiCell>(holder.layout->visualCells);
        layout.directionOverride = true;
    } else {
        layout.directionOverride = TerminalBidi::rowNeedsBidi(line, t.cols(), t);
    }
    return layout;
}

AttributedRow TerminalView::buildAttributedLine(int row, const BufferLine& line)
{
    if (!terminal)
        return {};
    if (!drawingState)
        drawingState = std::make_shared<DrawingState>(*this);
    DrawingState& state = *drawingState;
    state.syncWith(*this);
    RowBidiLayout bidi;
    const RowBuilder::RowLayout layout = DrawingState::rowLayout(*this, row, line, bidi);
    return state.rowBuilder.buildAttributedLine(*terminal, row, line, terminal->cols(), selection.get(), layout);
}

void TerminalView::drawTerminalContents(QPainter& painter, QRect dirtyRect)
{
    drawTerminalContents(painter, dirtyRect, QRegion(dirtyRect));
}

void TerminalView::drawTerminalContents(QPainter& painter, QRect dirtyRect, const QRegion& drawn)
{
    if (!terminal || !cellDimension) {
        painter.fillRect(dirtyRect, layerBackgroundColor);
        return;
    }
    if (!drawingState)
        drawingState = std::make_shared<DrawingState>(*this);
    DrawingState& state = *drawingState;
    state.syncWith(*this);

    TerminalFrame frame;
    frame.terminal = terminal.get();
    frame.selection = selection.get();
    frame.rowBuilder = &state.rowBuilder;
    frame.fonts = {fontSet.normal, fontSet.bold, fontSet.italic, fontSet.boldItalic};
    frame.cell = cellDimension;
    frame.backingScale = backingScaleFactor();
    frame.nativeFg = nativeFg_;
    frame.nativeBg = nativeBg_;
    frame.clearColor = layerBackgroundColor;
    frame.fontSmoothing = fontSmoothing_;
    frame.antiAliasCustomBlockGlyphs = antiAliasCustomBlockGlyphs_;
    frame.bounds = QSizeF(size());
    frame.imageScale = window() != nullptr ? backingScaleFactor() : 1.0;
    frame.kittyImageForId = [this](std::uint32_t imageId) { return kittyImageForId(imageId); };
    frame.imageContents = [](const TerminalImage& image) -> const QImage* {
        const auto* own = dynamic_cast<const AppleImage*>(&image);
        return own != nullptr ? &own->image : nullptr;
    };
    frame.glyphMetrics = &glyphMetrics;

    // The painter builds each row right after asking for its layout, so one holder serves
    // every row of the frame.
    RowBidiLayout bidi;
    if (bidiHostPolicy_ == BidiHostPolicy::respectTerminal) {
        frame.rowLayout = [this, &bidi](int row, const BufferLine& line) {
            return DrawingState::rowLayout(*this, row, line, bidi);
        };
    }

    const QRectF stale = state.painter.drawVisibleRows(painter, frame, terminal->buffer().yDisp(), QRectF(dirtyRect));
    // Glyphs of these rows that hang into rows not drawn now changed: those rows are drawn
    // again, with the new ink, in a paint of their own.
    if (const QRegion again = QRegion(stale.toAlignedRect()) - drawn; !again.isEmpty())
        QMetaObject::invokeMethod(
            this, [this, again] { update(again); }, Qt::QueuedConnection);
}

} // namespace corvantix
