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
    : options_(std::move(options))
    , parser_(this)
    , blankLine_(BufferLine::create(0))
    , queue(queue)
{
    // The fields start at their declared values (cols 80, rows 25 until set-up runs).
    // Colours, and the palette built from the base colours.
    installedColors_ = Color::defaultInstalledColors();
    defaultAnsiColors_ = Color::makePalette(this->options_.ansi256PaletteStrategy, installedColors_,
                                           backgroundColor_, foregroundColor_);
    ansiColors_ = defaultAnsiColors_;

    // The delegate and the bidi options.
    tdel = delegate;
    currentBidiState_ = this->options_.initialBidiState;
    bidiArrowKeySwap_ = this->options_.initialBidiArrowKeySwap;

    // The parser is made in the initialiser list. Both screens start at 80 x 25;
    // the alternate ring stays empty until the alternate screen is first shown.
    normalBuffer_ = std::make_unique<Buffer>(cols_, rows_, tabStopWidth_, this->options_.scrollback, currentBidiState_);
    normalBuffer_->fillViewportRows(Attribute::defaultAttribute());
    altBuffer_ = std::make_unique<Buffer>(cols_, rows_, tabStopWidth_, std::nullopt, currentBidiState_);

    // Output goes to the normal screen; replies use 7-bit controls.
    buffer_ = normalBuffer_.get();
    cc_.send8bit = false;

    installParserHandlers(parser_);
    installScrollHook(*normalBuffer_);
    installScrollHook(*altBuffer_);
    normalBuffer_->setupTabStops(-1, tabStopWidth_);
    altBuffer_->setupTabStops(-1, tabStopWidth_);

    setup(false);
}

Terminal::~Terminal()
{
    if (synchronizedOutputTimeoutItem_ && queue != nullptr)
        queue->cancel(*synchronizedOutputTimeoutItem_);
    // Codes this terminal registered are referenced by its own cells only.
    TinyAtom::releaseAll(payloadCodes_);
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
    std::tie(cols_, rows_) = boundedSize(options_.cols, options_.rows);

    if (isReset) {
        // The replaced screen may still be the active one: it lives until the switch.
        const std::unique_ptr<Buffer> replaced = resetNormalBuffer();
        activateNormalBuffer(false);
        resetSemanticPromptState(true);
    } else {
        const int oldNormalCols = normalBuffer_->cols();
        const int oldAltCols = altBuffer_->cols();
        normalBuffer_->resize(cols_, rows_);
        altBuffer_->resize(cols_, rows_);
        // The buffers were made 80 columns wide: a wider terminal needs stops beyond them.
        extendTabStops(*normalBuffer_, oldNormalCols, tabStopWidth_);
        extendTabStops(*altBuffer_, oldAltCols, tabStopWidth_);
    }

    cursorHidden_ = false;
    applicationKeypad_ = false;
    applicationCursor_ = false;

    if (reverseColors_) {
        reverseColors_ = false;
        updateFullScreen();
        if (tdel != nullptr)
            tdel->colorChanged(*this, std::nullopt);
    }

    originMode_ = false;
    setMarginMode(false);
    setInsertMode(false);
    setWraparound(true);
    bracketedPasteMode_ = false;
    alternateScrollMode_ = true;

    keyboardModeNormal_ = {};
    keyboardModeAlt_ = {};

    gCharsets_ = {};
    charset_ = gCharsets_[0];
    gcharset_ = 0;
    gLevel_ = 0;
    curAttr_ = Attribute::defaultAttribute();
    curAttrChanged();

    setMouseMode(MouseMode::off);
    mouseShiftCapture_ = false;

    buffer_->setScrollTop(0);
    buffer_->setScrollBottom(rows_ - 1);
    buffer_->setMarginLeft(0);
    buffer_->setMarginRight(cols_ - 1);

    cc_.send8bit = false;
    conformance_ = TerminalConformance::vt500;
    allow80To132_ = false;
    xtermTitleSetUtf_ = false;
    xtermTitleSetHex_ = false;
    xtermTitleQueryUtf_ = false;
    xtermTitleQueryHex_ = false;
    activeHyperlink_.reset();
    cursorBlink_ = false;
    hostCurrentDirectory_.reset();
    lineFeedMode_ = options_.convertEol;
}

// ---------------------------------------------------------------- Screens

std::unique_ptr<Buffer> Terminal::resetNormalBuffer()
{
    std::unique_ptr<Buffer> replaced = std::exchange(normalBuffer_, std::make_unique<Buffer>(cols_, rows_, tabStopWidth_, options_.scrollback, currentBidiState_));
    installScrollHook(*normalBuffer_);
    normalBuffer_->fillViewportRows(Attribute::defaultAttribute());
    normalBuffer_->setupTabStops(-1, tabStopWidth_);
    return replaced;
}

void Terminal::activateNormalBuffer(bool clearAlt)
{
    if (buffer_ == normalBuffer_.get())
        return;
    closeSemanticInput();
    normalBuffer_->setX(altBuffer_->x()); // negative values are ignored by the buffer
    normalBuffer_->setY(altBuffer_->y());
    if (clearAlt) {
        dropKittyPlacementsOfScreen(*altBuffer_, true);
        altBuffer_->clear();
    }
    buffer_ = normalBuffer_.get();
}

void Terminal::activateAltBuffer(std::optional<Attribute> fillAttribute)
{
    if (buffer_ == altBuffer_.get())
        return;
    closeSemanticInput();
    altBuffer_->setX(normalBuffer_->x());
    altBuffer_->setY(normalBuffer_->y());
    if (altBuffer_->lines().count() == 0)
        altBuffer_->fillViewportRows(fillAttribute.value_or(Attribute::defaultAttribute()));
    buffer_ = altBuffer_.get();
    dropKittyPlacementsOfScreen(*altBuffer_, true);
}

void Terminal::applyOptions(const TerminalOptions& newOptions)
{
    options_ = newOptions;
    setup(false);
}

void Terminal::resizeBuffers(int newCols, int newRows)
{
    // The saved cursor follows the cursor through reflow.
    const int savedOffset = normalBuffer_->savedY - normalBuffer_->y();
    normalBuffer_->resize(newCols, newRows);
    normalBuffer_->savedY = normalBuffer_->y() + savedOffset;
    altBuffer_->resize(newCols, newRows);
}

void Terminal::resize(int newCols, int newRows)
{
    const auto [c, r] = boundedSize(newCols, newRows);
    if (c == cols_ && r == rows_)
        return;

    endSynchronizedOutput();

    const int oldCols = cols_;
    resizeBuffers(c, r);
    cols_ = c;
    rows_ = r;
    options_.cols = c;
    options_.rows = r;

    // New columns get stops continuing the old pattern.
    extendTabStops(*normalBuffer_, oldCols, tabStopWidth_);
    extendTabStops(*altBuffer_, oldCols, tabStopWidth_);

    updateRange(0);
    updateRange(rows_ - 1);
}

void Terminal::clearScrollback()
{
    normalBuffer_->clearScrollback();
    updateRange(0);
    updateRange(rows_ - 1);
}

void Terminal::changeHistorySize(std::optional<int> newScrollback)
{
    normalBuffer_->changeHistorySize(newScrollback);
    options_.scrollback = newScrollback.value_or(0);
    updateRange(0);
    updateRange(rows_ - 1);
}

void Terminal::cmdReset()
{
    currentBidiState_ = options_.initialBidiState;
    normalBuffer_->defaultBidiState = currentBidiState_;
    altBuffer_->defaultBidiState = currentBidiState_;
    applyBidiStateToCursorParagraph(BidiStatePropertySet::all());
    updateFullScreen();

    bidiArrowKeySwap_ = options_.initialBidiArrowKeySwap;
    savedBidiPrivateModes_.clear();

    endSynchronizedOutput();

    // RIS keeps the current size.
    options_.rows = rows_;
    options_.cols = cols_;

    const bool wasHidden = cursorHidden_;
    setup(true);
    homeCursorAfterReset();
    resetKittyGraphics();
    cursorHidden_ = wasHidden;

    updateRange(0);
    updateRange(rows_ - 1);
    if (tdel != nullptr)
        tdel->bufferActivated(*this);
}

void Terminal::homeCursorAfterReset()
{
    // The fresh normal screen took over the alternate screen's cursor while it was
    // activated; a full reset starts at the home position.
    normalBuffer_->setX(0);
    normalBuffer_->setY(0);
}

// ---------------------------------------------------------------- Queries

const BufferLine* Terminal::getDisplayLine(int row) const
{
    if (row < 0 || row >= rows_)
        return nullptr;
    const long long index = static_cast<long long>(row) + buffer_->yDisp();
    if (index < 0 || index >= buffer_->lines().count())
        return nullptr;
    return buffer_->lines()[static_cast<int>(index)].get();
}

const BufferLine* Terminal::getScrollInvariantLine(int n) const
{
    const long long index = static_cast<long long>(n) - buffer_->linesTop;
    if (index < 0 || index >= buffer_->lines().count())
        return nullptr;
    return buffer_->lines()[static_cast<int>(index)].get();
}

std::optional<CharData> Terminal::getCharData(int col, int row) const
{
    if (col < 0 || col >= cols_)
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
    if (settingFgColor_)
        return;
    settingFgColor_ = true;
    if (tdel != nullptr)
        tdel->setForegroundColor(*this, Color(foregroundColor_));
    settingFgColor_ = false;
    if (options_.ansi256PaletteStrategy != Ansi256PaletteStrategy::xterm)
        installPalette(true);
}

void Terminal::setBackgroundColor(const Color& color)
{
    backgroundColor_ = color;
    if (settingBgColor_)
        return;
    settingBgColor_ = true;
    if (tdel != nullptr)
        tdel->setBackgroundColor(*this, Color(backgroundColor_));
    settingBgColor_ = false;
    if (options_.ansi256PaletteStrategy != Ansi256PaletteStrategy::xterm)
        installPalette(true);
}

void Terminal::setCursorColor(const std::optional<Color>& color)
{
    cursorColor_ = color;
    if (settingCursorColor_)
        return;
    settingCursorColor_ = true;
    if (tdel != nullptr)
        tdel->setCursorColor(*this, std::optional<Color>(cursorColor_));
    settingCursorColor_ = false;
}

void Terminal::setAnsi256PaletteStrategy(Ansi256PaletteStrategy strategy)
{
    if (strategy == options_.ansi256PaletteStrategy)
        return;
    options_.ansi256PaletteStrategy = strategy;
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
    defaultAnsiColors_ = Color::makePalette(options_.ansi256PaletteStrategy, installedColors_, backgroundColor_,
                                           foregroundColor_);
    ansiColors_ = defaultAnsiColors_;
    if (notify && tdel != nullptr)
        tdel->colorChanged(*this, std::nullopt);
}

void Terminal::installColors(std::span<const Color> colors)
{
    if (colors.size() != 16)
        return;
    installedColors_.assign(colors.begin(), colors.end());
    installPalette(false);
}

// ---------------------------------------------------------------- Selections

void Terminal::registerSelection(const std::shared_ptr<SelectionService>& service)
{
    std::erase_if(selections_, [](const WeakSelection& entry) { return entry.value.expired(); });
    if (!service)
        return;
    for (const WeakSelection& entry : selections_) {
        if (entry.value.lock() == service)
            return;
    }
    selections_.push_back(WeakSelection{service});
}

void Terminal::adjustSelectionsForLineShift(int startRow, int endRow, int delta)
{
    for (const WeakSelection& entry : selections_) {
        if (const std::shared_ptr<SelectionService> service = entry.value.lock())
            service->adjustForLineShift(startRow, endRow, delta);
    }
}

void Terminal::clearSelectionsInRange(int startRow, int endRow, int startCol, int endCol)
{
    for (const WeakSelection& entry : selections_) {
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
    if (payloadCodes_.empty())
        return;

    // One flag per possible code: the scan reads every cell, so no hashing per cell.
    std::vector<bool> live(std::size_t{UINT16_MAX} + 1);
    if (activeHyperlink_ && activeHyperlink_->kind == ActiveHyperlink::Case::resolved)
        live[activeHyperlink_->code] = true;
    for (const Buffer* screen : {normalBuffer_.get(), altBuffer_.get()}) {
        const CircularBufferLineList& ring = screen->lines();
        for (int index = 0; index < ring.count(); ++index) {
            const std::shared_ptr<BufferLine>& line = ring.peek(index);
            if (!line)
                continue; // an empty slot holds no cells yet
            for (const PackedCell& cell : line->cellSpan()) {
                if (const std::uint16_t code = cell.payload().code; code != 0)
                    live[code] = true;
            }
        }
    }

    std::vector<std::uint16_t> unused;
    for (const std::uint16_t code : payloadCodes_) {
        if (!live[code])
            unused.push_back(code);
    }
    if (unused.empty())
        return;
    TinyAtom::releaseAll(std::span<const std::uint16_t>(unused));
    for (const std::uint16_t code : unused)
        payloadCodes_.erase(code);
}

// ---------------------------------------------------------------- Inline graphics upkeep

void Terminal::resetKittyGraphics()
{
    // The active screen and the alternate one: while the alternate screen is active the
    // normal screen keeps its images for when it comes back.
    for (Buffer* screen : {buffer_, altBuffer_.get()}) {
        CircularBufferLineList& ring = screen->lines();
        for (int index = 0; index < ring.count(); ++index) {
            const std::shared_ptr<BufferLine>& line = ring.peek(index);
            if (line && line->images().has_value())
                screen->removeLineImages(index);
        }
    }
    // The id counters and a transmission still being received survive the reset.
    kittyGraphicsState_.imagesById.clear();
    kittyGraphicsState_.imageNumbers.clear();
    kittyGraphicsState_.placementsByKey.clear();
    kittyGraphicsState_.totalImageBytes = 0;
    kittyGraphicsState_.nextImageAccessTick = 1;
    updateRange(buffer_->scrollTop());
    updateRange(buffer_->scrollBottom());
}

} // namespace corvantix
