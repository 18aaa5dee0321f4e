// The terminal instance: construction and set-up, the two screens, resize, the full reset,
// the colour observers and the palette, the registered selections, payload bookkeeping,
// the inline-graphics upkeep it owns, and teardown.
#include "emulator/Terminal.h"

#include "emulator/SelectionService.h"
#include "model/TinyAtom.h"

#include <algorithm>
#include <cstddef>
#include <tuple>
#include <utility>
#include <vector>

namespace corvantix {

// ---------------------------------------------------------------- Delegate defaults

// The terminal calls these three from the observers of the very fields they store into,
// with the observer's guard set, so the store does not call the delegate again.
void TerminalDelegate::setForegroundColor(Terminal& source, const Color& color)
{
    source.setForegroundColor(color);
}

void TerminalDelegate::setBackgroundColor(Terminal& source, const Color& color)
{
    source.setBackgroundColor(color);
}

void TerminalDelegate::setCursorColor(Terminal& source, const std::optional<Color>& color)
{
    source.setCursorColor(color);
}

TerminalColors TerminalDelegate::getColors(Terminal& source)
{
    return {source.foregroundColor(), source.backgroundColor()};
}

// ---------------------------------------------------------------- Construction and teardown

namespace {

// After a resize: columns right of the old width get stops continuing the old pattern,
// while the columns that were there keep the stops a program set or cleared (the pattern
// rule alone would put every cleared stop left of the old width back).
void extendTabStops(Buffer& screen, int oldCols, int width)
{
    const std::vector<bool> kept = screen.tabStops;
    screen.setupTabStops(oldCols, width);
    const std::size_t oldColumns = std::min({static_cast<std::size_t>(std::max(oldCols, 0)), kept.size(),
                                             screen.tabStops.size()});
    std::copy_n(kept.begin(), oldColumns, screen.tabStops.begin());
}

} // namespace

Terminal::Terminal(TerminalDelegate* delegate, TerminalOptions options, MainQueue* queue)
    : options(std::move(options))
    , parser(this)
    , blankLine(BufferLine::create(0))
    , queue(queue)
{
    // The fields start at their declared values (cols 80, rows 25 until set-up runs).
    // Colours, and the palette built from the base colours.
    installedColors = Color::defaultInstalledColors();
    defaultAnsiColors = Color::makePalette(this->options.ansi256PaletteStrategy, installedColors,
                                           backgroundColor_, foregroundColor_);
    ansiColors = defaultAnsiColors;

    // The delegate and the bidi options.
    tdel = delegate;
    currentBidiState = this->options.initialBidiState;
    bidiArrowKeySwap = this->options.initialBidiArrowKeySwap;

    // The parser is made in the initialiser list. Both screens start at 80 x 25;
    // the alternate ring stays empty until the alternate screen is first shown.
    normalBuffer = std::make_unique<Buffer>(cols, rows, tabStopWidth, this->options.scrollback, currentBidiState);
    normalBuffer->fillViewportRows(Attribute::defaultAttribute());
    altBuffer = std::make_unique<Buffer>(cols, rows, tabStopWidth, std::nullopt, currentBidiState);

    // Output goes to the normal screen; replies use 7-bit controls.
    buffer = normalBuffer.get();
    cc.send8bit = false;

    installParserHandlers(parser);
    installScrollHook(*normalBuffer);
    installScrollHook(*altBuffer);
    normalBuffer->setupTabStops(-1, tabStopWidth);
    altBuffer->setupTabStops(-1, tabStopWidth);

    setup(false);
}

Terminal::~Terminal()
{
    if (synchronizedOutputTimeoutItem && queue != nullptr)
        queue->cancel(*synchronizedOutputTimeoutItem);
    // Codes this terminal registered are referenced by its own cells only.
    TinyAtom::releaseAll(payloadCodes);
}

void Terminal::installParserHandlers(EscapeSequenceParser& target)
{
    // The parser belongs to this terminal, so the closures may hold it without owning it.
    target.errorHandler = [this](ParsingState state) { return logParseError(state); };
    target.csiHandlerFallback = [this](std::span<const int> pars, std::span<const std::uint8_t> collect,
                                       std::uint8_t code) { logUnknownCsi(pars, collect, code); };
    target.escHandlerFallback = [this](std::span<const std::uint8_t> collect, std::uint8_t code) {
        logUnknownEsc(collect, code);
    };
    target.executeHandlerFallback = [this](std::uint8_t) { logUnknownExecute(); };
    target.oscHandlerFallback = [this](int code, std::span<const std::uint8_t> data) { logUnknownOsc(code, data); };
    target.apcHandlerFallback = [this](std::uint8_t code, std::span<const std::uint8_t> data) {
        logUnknownApc(code, data);
    };
    target.stringOverflowHandler = [this](std::string_view what) { logStringOverflow(what); };
}

void Terminal::installScrollHook(Buffer& target)
{
    // The terminal owns both buffers and they go with it, so the hook holds it plainly: a
    // wrap at the end of a row calls this, and a weak reference would cost two atomic
    // operations per wrapped row.
    target.scroll = [this](bool isWrapped) { scroll(isWrapped); };
}

std::pair<int, int> Terminal::boundedSize(int cols, int rows)
{
    const int c = std::clamp(cols, MINIMUM_COLS, maximumDimension);
    const int r = std::clamp(rows, MINIMUM_ROWS, maximumDimension);
    return {c, std::min(r, maximumCells / c)};
}

// ---------------------------------------------------------------- Set-up

void Terminal::setup(bool isReset)
{
    std::tie(cols, rows) = boundedSize(options.cols, options.rows);

    if (isReset) {
        // The replaced screen may still be the active one: it lives until the switch.
        const std::unique_ptr<Buffer> replaced = resetNormalBuffer();
        activateNormalBuffer(false);
        resetSemanticPromptState(true);
    } else {
        const int oldNormalCols = normalBuffer->cols();
        const int oldAltCols = altBuffer->cols();
        normalBuffer->resize(cols, rows);
        altBuffer->resize(cols, rows);
        // The buffers were made 80 columns wide: a wider terminal needs stops beyond them.
        extendTabStops(*normalBuffer, oldNormalCols, tabStopWidth);
        extendTabStops(*altBuffer, oldAltCols, tabStopWidth);
    }

    cursorHidden = false;
    applicationKeypad = false;
    applicationCursor = false;

    if (reverseColors) {
        reverseColors = false;
        updateFullScreen();
        if (tdel != nullptr)
            tdel->colorChanged(*this, std::nullopt);
    }

    originMode = false;
    setMarginMode(false);
    setInsertMode(false);
    setWraparound(true);
    bracketedPasteMode = false;
    alternateScrollMode = true;

    keyboardModeNormal = {};
    keyboardModeAlt = {};

    gCharsets = {};
    charset = gCharsets[0];
    gcharset = 0;
    gLevel = 0;
    curAttr = Attribute::defaultAttribute();

    setMouseMode(MouseMode::off);
    mouseShiftCapture = false;

    buffer->setScrollTop(0);
    buffer->setScrollBottom(rows - 1);
    buffer->setMarginLeft(0);
    buffer->setMarginRight(cols - 1);

    cc.send8bit = false;
    conformance = TerminalConformance::vt500;
    allow80To132 = false;
    xtermTitleSetUtf = false;
    xtermTitleSetHex = false;
    xtermTitleQueryUtf = false;
    xtermTitleQueryHex = false;
    activeHyperlink.reset();
    cursorBlink = false;
    hostCurrentDirectory.reset();
    lineFeedMode = options.convertEol;
}

// ---------------------------------------------------------------- Screens

std::unique_ptr<Buffer> Terminal::resetNormalBuffer()
{
    std::unique_ptr<Buffer> replaced = std::exchange(normalBuffer, std::make_unique<Buffer>(cols, rows, tabStopWidth, options.scrollback, currentBidiState));
    installScrollHook(*normalBuffer);
    normalBuffer->fillViewportRows(Attribute::defaultAttribute());
    normalBuffer->setupTabStops(-1, tabStopWidth);
    return replaced;
}

void Terminal::activateNormalBuffer(bool clearAlt)
{
    if (buffer == normalBuffer.get())
        return;
    closeSemanticInput();
    normalBuffer->setX(altBuffer->x()); // negative values are ignored by the buffer
    normalBuffer->setY(altBuffer->y());
    if (clearAlt) {
        dropKittyPlacementsOfScreen(*altBuffer, true);
        altBuffer->clear();
    }
    buffer = normalBuffer.get();
}

void Terminal::activateAltBuffer(std::optional<Attribute> fillAttribute)
{
    if (buffer == altBuffer.get())
        return;
    closeSemanticInput();
    altBuffer->setX(normalBuffer->x());
    altBuffer->setY(normalBuffer->y());
    if (altBuffer->lines().count() == 0)
        altBuffer->fillViewportRows(fillAttribute.value_or(Attribute::defaultAttribute()));
    buffer = altBuffer.get();
    dropKittyPlacementsOfScreen(*altBuffer, true);
}

void Terminal::applyOptions(const TerminalOptions& newOptions)
{
    options = newOptions;
    setup(false);
}

void Terminal::resizeBuffers(int newCols, int newRows)
{
    // The saved cursor follows the cursor through reflow.
    const int savedOffset = normalBuffer->savedY - normalBuffer->y();
    normalBuffer->resize(newCols, newRows);
    normalBuffer->savedY = normalBuffer->y() + savedOffset;
    altBuffer->resize(newCols, newRows);
}

void Terminal::resize(int newCols, int newRows)
{
    const auto [c, r] = boundedSize(newCols, newRows);
    if (c == cols && r == rows)
        return;

    endSynchronizedOutput();

    const int oldCols = cols;
    resizeBuffers(c, r);
    cols = c;
    rows = r;
    options.cols = c;
    options.rows = r;

    // New columns get stops continuing the old pattern.
    extendTabStops(*normalBuffer, oldCols, tabStopWidth);
    extendTabStops(*altBuffer, oldCols, tabStopWidth);

    updateRange(0);
    updateRange(rows - 1);
}

void Terminal::clearScrollback()
{
    normalBuffer->clearScrollback();
    updateRange(0);
    updateRange(rows - 1);
}

void Terminal::changeHistorySize(std::optional<int> newScrollback)
{
    normalBuffer->changeHistorySize(newScrollback);
    options.scrollback = newScrollback.value_or(0);
    updateRange(0);
    updateRange(rows - 1);
}

void Terminal::cmdReset()
{
    currentBidiState = options.initialBidiState;
    normalBuffer->defaultBidiState = currentBidiState;
    altBuffer->defaultBidiState = currentBidiState;
    applyBidiStateToCursorParagraph(BidiStatePropertySet::all());
    updateFullScreen();

    bidiArrowKeySwap = options.initialBidiArrowKeySwap;
    savedBidiPrivateModes.clear();

    endSynchronizedOutput();

    // RIS keeps the current size.
    options.rows = rows;
    options.cols = cols;

    const bool wasHidden = cursorHidden;
    setup(true);
    homeCursorAfterReset();
    resetKittyGraphics();
    cursorHidden = wasHidden;

    updateRange(0);
    updateRange(rows - 1);
    if (tdel != nullptr)
        tdel->bufferActivated(*this);
}

void Terminal::homeCursorAfterReset()
{
    // The fresh normal screen took over the alternate screen's cursor while it was
    // activated; a full reset starts at the home position.
    normalBuffer->setX(0);
    normalBuffer->setY(0);
}

// ---------------------------------------------------------------- Queries

const BufferLine* Terminal::getDisplayLine(int row) const
{
    if (row < 0 || row >= rows)
        return nullptr;
    const long long index = static_cast<long long>(row) + buffer->yDisp();
    if (index < 0 || index >= buffer->lines().count())
        return nullptr;
    return buffer->lines()[static_cast<int>(index)].get();
}

const BufferLine* Terminal::getScrollInvariantLine(int n) const
{
    const long long index = static_cast<long long>(n) - buffer->linesTop;
    if (index < 0 || index >= buffer->lines().count())
        return nullptr;
    return buffer->lines()[static_cast<int>(index)].get();
}

std::optional<CharData> Terminal::getCharData(int col, int row) const
{
    if (col < 0 || col >= cols)
        return std::nullopt;
    const BufferLine* line = getDisplayLine(row);
    if (line == nullptr)
        return std::nullopt;
    return line->getCell(col);
}

std::optional<std::u32string> Terminal::getCharacterAt(int col, int row) const
{
    const std::optional<CharData> cell = getCharData(col, row);
    if (!cell)
        return std::nullopt;
    return getCharacter(cell->code);
}

// ---------------------------------------------------------------- Colours and palette

void Terminal::setForegroundColor(const Color& color)
{
    foregroundColor_ = color;
    if (settingFgColor)
        return;
    settingFgColor = true;
    if (tdel != nullptr)
        tdel->setForegroundColor(*this, Color(foregroundColor_));
    settingFgColor = false;
    if (options.ansi256PaletteStrategy != Ansi256PaletteStrategy::xterm)
        installPalette(true);
}

void Terminal::setBackgroundColor(const Color& color)
{
    backgroundColor_ = color;
    if (settingBgColor)
        return;
    settingBgColor = true;
    if (tdel != nullptr)
        tdel->setBackgroundColor(*this, Color(backgroundColor_));
    settingBgColor = false;
    if (options.ansi256PaletteStrategy != Ansi256PaletteStrategy::xterm)
        installPalette(true);
}

void Terminal::setCursorColor(const std::optional<Color>& color)
{
    cursorColor_ = color;
    if (settingCursorColor)
        return;
    settingCursorColor = true;
    if (tdel != nullptr)
        tdel->setCursorColor(*this, std::optional<Color>(cursorColor_));
    settingCursorColor = false;
}

void Terminal::setAnsi256PaletteStrategy(Ansi256PaletteStrategy strategy)
{
    if (strategy == options.ansi256PaletteStrategy)
        return;
    options.ansi256PaletteStrategy = strategy;
    installPalette(true);
}

void Terminal::setMouseMode(MouseMode mode)
{
    mouseMode_ = mode;
    if (tdel != nullptr)
        tdel->mouseModeChanged(*this);
}

void Terminal::installPalette(bool notify)
{
    // Entries changed by OSC 4 are lost: both palettes become the rebuilt one.
    defaultAnsiColors = Color::makePalette(options.ansi256PaletteStrategy, installedColors, backgroundColor_,
                                           foregroundColor_);
    ansiColors = defaultAnsiColors;
    if (notify && tdel != nullptr)
        tdel->colorChanged(*this, std::nullopt);
}

void Terminal::installColors(std::span<const Color> colors)
{
    if (colors.size() != 16)
        return;
    installedColors.assign(colors.begin(), colors.end());
    installPalette(false);
}

// ---------------------------------------------------------------- Selections

void Terminal::registerSelection(const std::shared_ptr<SelectionService>& service)
{
    std::erase_if(selections, [](const WeakSelection& entry) { return entry.value.expired(); });
    if (!service)
        return;
    for (const WeakSelection& entry : selections) {
        if (entry.value.lock() == service)
            return;
    }
    selections.push_back(WeakSelection{service});
}

void Terminal::adjustSelectionsForLineShift(int startRow, int endRow, int delta)
{
    for (const WeakSelection& entry : selections) {
        if (const std::shared_ptr<SelectionService> service = entry.value.lock())
            service->adjustForLineShift(startRow, endRow, delta);
    }
}

void Terminal::clearSelectionsInRange(int startRow, int endRow, int startCol, int endCol)
{
    for (const WeakSelection& entry : selections) {
        const std::shared_ptr<SelectionService> service = entry.value.lock();
        if (!service || !service->active_)
            continue;
        Position first = service->start;
        Position last = service->end;
        if (last.row < first.row || (last.row == first.row && last.col < first.col))
            std::swap(first, last);
        const bool rowsOverlap = startRow <= last.row && endRow >= first.row;
        if (!rowsOverlap)
            continue;
        const bool spansRows = first.row != last.row;
        const bool colsOverlap = startCol <= last.col && endCol >= first.col;
        if (spansRows || colsOverlap)
            service->clearSelection();
    }
}

// ---------------------------------------------------------------- Payloads

void Terminal::pruneUnusedPayloadCodes()
{
    if (payloadCodes.empty())
        return;

    // One flag per possible code: the scan reads every cell, so no hashing per cell.
    std::vector<bool> live(std::size_t{UINT16_MAX} + 1);
    if (activeHyperlink && activeHyperlink->kind == ActiveHyperlink::Case::resolved)
        live[activeHyperlink->code] = true;
    for (const Buffer* screen : {normalBuffer.get(), altBuffer.get()}) {
        const CircularBufferLineList& ring = screen->lines();
        for (int index = 0; index < ring.count(); ++index) {
            const std::shared_ptr<BufferLine>& line = ring.peek(index);
            if (!line)
                continue; // an empty slot holds no cells yet
            for (const CharData& cell : line->cellSpan()) {
                if (cell.payload.code != 0)
                    live[cell.payload.code] = true;
            }
        }
    }

    std::vector<std::uint16_t> unused;
    for (const std::uint16_t code : payloadCodes) {
        if (!live[code])
            unused.push_back(code);
    }
    if (unused.empty())
        return;
    TinyAtom::releaseAll(std::span<const std::uint16_t>(unused));
    for (const std::uint16_t code : unused)
        payloadCodes.erase(code);
}

// ---------------------------------------------------------------- Inline graphics upkeep

void Terminal::resetKittyGraphics()
{
    // The active screen and the alternate one: while the alternate screen is active the
    // normal screen keeps its images for when it comes back.
    for (Buffer* screen : {buffer, altBuffer.get()}) {
        CircularBufferLineList& ring = screen->lines();
        for (int index = 0; index < ring.count(); ++index) {
            const std::shared_ptr<BufferLine>& line = ring.peek(index);
            if (line && line->images().has_value())
                screen->removeLineImages(index);
        }
    }
    // The id counters and a transmission still being received survive the reset.
    kittyGraphicsState.imagesById.clear();
    kittyGraphicsState.imageNumbers.clear();
    kittyGraphicsState.placementsByKey.clear();
    kittyGraphicsState.totalImageBytes = 0;
    kittyGraphicsState.nextImageAccessTick = 1;
    updateRange(buffer->scrollTop());
    updateRange(buffer->scrollBottom());
}

} // namespace corvantix
