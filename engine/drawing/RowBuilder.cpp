#include "drawing/RowBuilder.h"

#include <utility>

#include "emulator/SelectionService.h"
#include "model/UnicodeUtil.h"

namespace corvantix {

namespace {

constexpr char32_t textPresentationSelector = 0xFE0E;
constexpr char32_t kittyPlaceholder = 0x10EEEE;
constexpr char32_t blankScalar = U' ';

void appendUtf16(std::u16string& out, char32_t scalar)
{
    if (scalar < 0x10000) {
        out.push_back(static_cast<char16_t>(scalar));
        return;
    }
    const char32_t v = scalar - 0x10000;
    out.push_back(static_cast<char16_t>(0xD800 + (v >> 10)));
    out.push_back(static_cast<char16_t>(0xDC00 + (v & 0x3FF)));
}

int appendUtf16(std::u16string& out, std::u32string_view text)
{
    const size_t before = out.size();
    for (char32_t scalar : text)
        appendUtf16(out, scalar);
    return static_cast<int>(out.size() - before);
}

// Arabic letters and presentation forms: such a cell is shaped on its own in a bidi row.
bool isArabicLetter(char32_t s)
{
    return (s >= 0x0600 && s <= 0x06FF) || (s >= 0x0750 && s <= 0x077F) || (s >= 0x0870 && s <= 0x08FF)
        || (s >= 0xFB50 && s <= 0xFDFF) || (s >= 0xFE70 && s <= 0xFEFC);
}

bool isDefaultKind(const Attribute::Color& color) { return color.isDefault() || color.isDefaultInverted(); }

bool overlaps(int col, int width, const ColumnRange& range)
{
    return !range.isEmpty() && col < range.upperBound && col + width > range.lowerBound;
}

// Adds the underline of step "underline bit" to a style.
template <typename MapUnderlineColor>
void applyUnderline(RunStyle& style, const Attribute& attribute, const RgbaColor& foreground,
                    MapUnderlineColor&& mapUnderlineColor)
{
    if (!attribute.style.contains(CharacterStyle::underline))
        return;
    const UnderlineStyle u =
        attribute.underlineStyle == UnderlineStyle::none ? UnderlineStyle::single : attribute.underlineStyle;
    style.underlineColor = attribute.underlineColor ? mapUnderlineColor(*attribute.underlineColor) : foreground;
    style.underlineStyleAttribute = underlineStyleAttributeValue(u);
    style.corvantixUnderlineStyle = static_cast<int>(u);
}

void applyStrikethrough(RunStyle& style, const Attribute& attribute, const RgbaColor& foreground)
{
    if (!attribute.style.contains(CharacterStyle::crossedOut))
        return;
    style.strikethroughColor = foreground;
    style.strikethroughStyle = 1;
}

} // namespace

std::optional<ColumnRange> selectionColumns(const SelectionService* selection, int terminalCols, int row, int cols)
{
    if (selection == nullptr || !selection->active_)
        return std::nullopt;
    const int sc = selection->start.col;
    const int sr = selection->start.row;
    const int ec = selection->end.col;
    const int er = selection->end.row;
    // A selection that ends on the terminal's last column covers it.
    auto lastColumnExtra = [terminalCols](int column) { return column == terminalCols - 1 ? 1 : 0; };

    std::optional<std::pair<int, int>> raw; // (start, length)
    if (sr == er) {
        if (row != sr)
            return std::nullopt;
        if (sc < ec)
            raw = {sc, ec - sc + lastColumnExtra(ec)};
        else if (ec < sc)
            raw = {ec, sc - ec};
    } else if (sr < er) {
        if (row == sr)
            raw = {sc, cols - sc};
        else if (row > sr && row < er)
            raw = {0, cols};
        else if (row == er)
            raw = {0, ec + lastColumnExtra(ec)};
    } else {
        if (row == er)
            raw = {ec, cols - ec};
        else if (row > er && row < sr)
            raw = {0, cols};
        else if (row == sr)
            raw = {0, sc + lastColumnExtra(sc)};
    }
    if (!raw || raw->second == 0)
        return std::nullopt;
    const auto [start, length] = *raw;
    const int lower = std::max(std::min(start, cols), 0);
    const int upper = std::min(start + length, cols);
    if (lower >= upper)
        return std::nullopt;
    return ColumnRange{lower, upper};
}

// What the builder holds while it walks one row.
struct RowBuilder::RowState {
    std::optional<ViewLineSegment> segment;
    std::u16string pendingText;
    std::optional<RunStyle> pendingAttributes;
    std::vector<int> pendingCounts;
    bool havePrevious = false;
    Attribute previousAttribute;
    bool previousLink = false;
    bool previousSelected = false;
    bool previousBlinkHidden = false;
    int visualColumn = 0;
    std::optional<LeftPlaceholder> leftPlaceholder;
};

RowBuilder::RowBuilder(ColorMapper mapColor) : mapColor_(std::move(mapColor)) {}

void RowBuilder::resetCaches()
{
    attributes_.clear();
    urlAttributes_.clear();
}

std::u32string_view RowBuilder::cellText(const Terminal& terminal, int32_t code, char32_t& scratch)
{
    if (code < CharData::firstSyntheticCode) {
        if (!isValidScalar(code))
            return {&blankScalar, 1};
        scratch = static_cast<char32_t>(code);
        return {&scratch, 1};
    }
    const auto found = terminal.indexToCharMap().find(code);
    if (found == terminal.indexToCharMap().end() || found->second.empty())
        return {&blankScalar, 1};
    return found->second;
}

void RowBuilder::appendAttributedRun(std::u16string_view text, const RunStyle& style, std::span<const int> unitCounts,
                                     ViewLineSegment& segment)
{
    const int start = static_cast<int>(segment.text.size());
    segment.text.append(text);
    segment.runs.push_back({start, static_cast<int>(text.size()), style});
    segment.characterCount += 1;
    for (int n : unitCounts) {
        if (n >= 2)
            segment.utf16IsCellIdentity = false;
        segment.utf16ToCellOrdinal.insert(segment.utf16ToCellOrdinal.end(), n < 2 ? 1 : n, segment.cellCount);
        segment.cellCount += 1;
    }
}

RunStyle RowBuilder::cachedCellAttributes(const Attribute& attribute, bool link)
{
    auto& cache = link ? urlAttributes_ : attributes_;
    if (const auto found = cache.find(attribute); found != cache.end())
        return found->second;

    // Effective colours: inverse swaps them, and a default colour that moves becomes the
    // inverted default.
    Attribute::Color fg = attribute.fg;
    Attribute::Color bg = attribute.bg;
    if (attribute.style.contains(CharacterStyle::inverse)) {
        const Attribute::Color newBg = isDefaultKind(attribute.fg) ? Attribute::Color::defaultInvertedColor() : attribute.fg;
        const Attribute::Color newFg = isDefaultKind(attribute.bg) ? Attribute::Color::defaultInvertedColor() : attribute.bg;
        fg = newFg;
        bg = newBg;
    }

    const bool bold = attribute.style.contains(CharacterStyle::bold);
    const bool italic = attribute.style.contains(CharacterStyle::italic);
    // Without bright colours, bright palette text shows its brightness through the bold font.
    const bool brightAsBold = fg.isAnsi256() && fg.code() >= 8 && !settings.useBrightColors;

    auto map = [this](const Attribute::Color& color, bool isForeground, bool isBold, bool useBright) {
        if (mapColor_)
            return mapColor_(color, isForeground, isBold, useBright);
        return isForeground ? settings.nativeFg : settings.nativeBg;
    };

    RunStyle style;
    style.font = fontSlot(bold || brightAsBold, italic);
    RgbaColor foreground = map(fg, true, bold, settings.useBrightColors);
    const RgbaColor background = map(bg, false, false, true);
    if (attribute.style.contains(CharacterStyle::dim))
        foreground = foreground.blended(background);
    style.foregroundColor = foreground;
    style.backgroundColor = background;
    applyUnderline(style, attribute, foreground,
                   [&](const Attribute::Color& color) { return map(color, true, bold, settings.useBrightColors); });
    applyStrikethrough(style, attribute, foreground);
    if (link) {
        style.underlineStyleAttribute = 1;
        style.underlineColor = foreground;
        style.corvantixUnderlineStyle = static_cast<int>(UnderlineStyle::dashed);
    }

    if (cache.size() >= attributeCacheLimit)
        cache.clear();
    cache.emplace(attribute, style);
    return style;
}

RunStyle RowBuilder::cellAttributes(const Attribute& attribute, const RgbaColor& foreground,
                                    const RgbaColor& background) const
{
    RgbaColor fg = foreground;
    RgbaColor bg = background;
    if (attribute.style.contains(CharacterStyle::inverse))
        std::swap(fg, bg);
    const bool bold = attribute.style.contains(CharacterStyle::bold);

    RunStyle style;
    style.font = fontSlot(bold, attribute.style.contains(CharacterStyle::italic));
    style.foregroundColor = fg;
    style.backgroundColor = bg;
    applyUnderline(style, attribute, fg, [&](const Attribute::Color& color) {
        return mapColor_ ? mapColor_(color, true, bold, settings.useBrightColors) : fg;
    });
    applyStrikethrough(style, attribute, fg);
    return style;
}

bool RowBuilder::linkFlag(int row, int col, int width, const CharData& cell) const
{
    switch (settings.linkHighlightMode) {
    case LinkHighlightMode::hoverWithModifier:
        if (!settings.commandActive)
            return false;
        [[fallthrough]];
    case LinkHighlightMode::hover:
        if (!settings.linkHighlightRange)
            return false;
        for (const RowRange& entry : *settings.linkHighlightRange) {
            if (entry.row == row)
                return overlaps(col, width, entry.range);
        }
        return false;
    case LinkHighlightMode::always:
        return cell.payload.code != 0;
    case LinkHighlightMode::alwaysWithModifier:
        return cell.payload.code != 0 && settings.commandActive;
    }
    return false;
}

void RowBuilder::flushPendingRun(RowState& state) const
{
    if (state.pendingText.empty() || !state.pendingAttributes)
        return;
    if (state.segment)
        appendAttributedRun(state.pendingText, *state.pendingAttributes, state.pendingCounts, *state.segment);
    state.pendingText.clear();
    state.pendingCounts.clear();
}

void RowBuilder::closeSegment(RowState& state, AttributedRow& result) const
{
    if (!state.segment)
        return;
    if (state.segment->characterCount != 0)
        result.segments.push_back(std::move(*state.segment));
    state.segment.reset();
}

void RowBuilder::openSegment(RowState& state, int column, int width) const
{
    state.segment.emplace();
    state.segment->column = column;
    state.segment->columnWidth = width;
}

bool RowBuilder::appendCustomGlyph(RowState& state, AttributedRow& result, uint32_t scalar, int width,
                                   bool reverseColors) const
{
    const bool powerline = isPowerlineSeparator(scalar);
    const bool box = scalar >= 0x2500 && scalar <= 0x257F;
    const std::span<const BlockElementRect> rects = blockElementRects(scalar);
    if (!powerline && !box && rects.empty())
        return false;

    const RgbaColor color = state.pendingAttributes && state.pendingAttributes->foregroundColor
        ? *state.pendingAttributes->foregroundColor
        : (reverseColors ? settings.nativeBg : settings.nativeFg);
    const int column = state.visualColumn;
    if (powerline)
        result.powerlineItems.push_back({column, width, scalar, color});
    else if (box)
        result.boxDrawingItems.push_back({column, width, scalar, color});
    else
        result.blockElementItems.push_back({column, width, scalar, rects, color});
    return true;
}

// What every cell of one line is built against.
struct RowBuilder::LineContext {
    const Terminal& terminal;
    int row = 0;
    const BufferLine& line;
    std::optional<ColumnRange> selected;
    const RowLayout& layout;
};

void RowBuilder::appendPlaceholderSpace(RowState& state) const
{
    flushPendingRun(state);
    if (state.segment && state.pendingAttributes) {
        static constexpr char16_t space = u' ';
        static constexpr int one = 1;
        appendAttributedRun(std::u16string_view(&space, 1), *state.pendingAttributes, std::span(&one, 1),
                            *state.segment);
    }
    state.pendingAttributes.reset();
}

void RowBuilder::appendIsolatedRun(RowState& state, AttributedRow& result, std::u32string_view text, int width) const
{
    flushPendingRun(state);
    closeSegment(state, result);
    openSegment(state, state.visualColumn, width);
    RunStyle isolated = state.pendingAttributes ? *state.pendingAttributes : RunStyle{};
    isolated.fallbackFont = true;
    std::u16string units;
    const int count = appendUtf16(units, text);
    appendAttributedRun(units, isolated, std::span(&count, 1), *state.segment);
    closeSegment(state, result);
    state.pendingAttributes.reset();
}

RunStyle RowBuilder::cellRunStyle(const Attribute& attribute, bool link, bool isSelected, bool blinkHidden,
                                  bool directionOverride)
{
    RunStyle attrs = cachedCellAttributes(attribute, link);
    if (isSelected) {
        attrs.selectionBackgroundColor = settings.selectedTextBackgroundColor;
        attrs.foregroundColor = settings.selectedTextForegroundColor;
        if (attrs.underlineColor)
            attrs.underlineColor = settings.selectedTextForegroundColor;
        if (attrs.strikethroughColor)
            attrs.strikethroughColor = settings.selectedTextForegroundColor;
    }
    if (blinkHidden) {
        attrs.foregroundColor = RgbaColor::clear();
        attrs.underlineColor.reset();
        attrs.underlineStyleAttribute.reset();
        attrs.strikethroughColor.reset();
        attrs.strikethroughStyle.reset();
        attrs.corvantixUnderlineStyle.reset();
    }
    if (directionOverride)
        attrs.directionOverride = true;
    return attrs;
}

int RowBuilder::buildCell(const LineContext& context, RowState& state, AttributedRow& result, int col,
                          const std::u32string* displayText)
{
    const CharData& cell = context.line.getCell(col);
    const int w = cell.width == 2 ? 2 : 1;
    const bool link = linkFlag(context.row, col, w, cell);

    if (!state.segment || state.segment->columnWidth != w) {
        flushPendingRun(state);
        closeSegment(state, result);
        openSegment(state, state.visualColumn, w);
    }

    const bool isSelected = context.selected && overlaps(col, w, *context.selected);
    // Concealed text draws as blank, like blinking text in its hidden phase; the cell keeps
    // its text for copying.
    const bool blinkHidden = (cell.attribute.style.contains(CharacterStyle::blink) && !settings.textBlinkVisible)
        || cell.attribute.style.contains(CharacterStyle::invisible);

    // A cell like the one before continues its run.
    const bool continues = state.pendingAttributes && state.havePrevious && state.previousAttribute == cell.attribute
        && state.previousLink == link && state.previousSelected == isSelected
        && state.previousBlinkHidden == blinkHidden;
    if (!continues) {
        flushPendingRun(state);
        state.pendingAttributes
            = cellRunStyle(cell.attribute, link, isSelected, blinkHidden, context.layout.directionOverride);
    }
    state.havePrevious = true;
    state.previousAttribute = cell.attribute;
    state.previousLink = link;
    state.previousSelected = isSelected;
    state.previousBlinkHidden = blinkHidden;

    char32_t scratch = 0;
    std::u32string_view text;
    if (displayText != nullptr)
        text = *displayText;
    else if (cell.code == 0)
        text = std::u32string_view(&blankScalar, 1);
    else
        text = cellText(context.terminal, cell.code, scratch);
    if (text.empty())
        text = std::u32string_view(&blankScalar, 1);
    const uint32_t scalar = text.size() == 1 ? static_cast<uint32_t>(text[0]) : static_cast<uint32_t>(cell.code);

    if (settings.customBlockGlyphs && !blinkHidden
        && appendCustomGlyph(state, result, scalar, w, context.terminal.reverseColors())) {
        appendPlaceholderSpace(state);
        state.leftPlaceholder.reset();
        return w;
    }

    if (decodeKittyPlaceholderCell && text[0] == kittyPlaceholder) {
        if (auto decoded = decodeKittyPlaceholderCell(text, cell.attribute, context.row, state.visualColumn,
                                                      state.leftPlaceholder)) {
            result.placeholderCells.push_back(*decoded);
            state.leftPlaceholder = LeftPlaceholder{*decoded, cell.attribute};
            appendPlaceholderSpace(state);
            return w;
        }
    }
    state.leftPlaceholder.reset();

    if (blinkHidden)
        text = std::u32string_view(&blankScalar, 1);

    if (context.layout.visualCells.has_value() && !blinkHidden && (text.size() >= 2 || isArabicLetter(text[0]))) {
        appendIsolatedRun(state, result, text, w);
        return w;
    }

    int count = appendUtf16(state.pendingText, text);
    if (!blinkHidden && text.size() == 1 && text[0] >= 0x100 && UnicodeUtil::isTextPresentationEmoji(text)) {
        state.pendingText.push_back(static_cast<char16_t>(textPresentationSelector));
        count += 1;
    }
    state.pendingCounts.push_back(count);
    return w;
}

AttributedRow RowBuilder::buildAttributedLine(const Terminal& terminal, int row, const BufferLine& line, int cols,
                                              const SelectionService* selection, const RowLayout& layout)
{
    AttributedRow result;
    RowState state;
    const LineContext context{terminal, row, line, selectionColumns(selection, terminal.cols(), row, cols), layout};

    if (layout.visualCells.has_value()) {
        for (const VisualCell& visual : *layout.visualCells) {
            const int w = buildCell(context, state, result, visual.logicalCol,
                                    visual.display ? &*visual.display : nullptr);
            state.visualColumn += w;
        }
    } else {
        // In stored order the Arabic letters still join: each cell shows the form its
        // neighbours in the row give it, as a run shaped whole would.
        const std::vector<std::optional<std::u32string>> forms = TerminalBidi::storedOrderForms(line, cols, terminal);
        for (int col = 0; col < cols;) {
            const std::optional<std::u32string>* form =
                col < static_cast<int>(forms.size()) ? &forms[static_cast<size_t>(col)] : nullptr;
            const int w =
                buildCell(context, state, result, col, form != nullptr && form->has_value() ? &**form : nullptr);
            state.visualColumn += w;
            col += w;
        }
    }
    flushPendingRun(state);
    closeSegment(state, result);
    if (line.images())
        result.images = *line.images();
    return result;
}

} // namespace corvantix
