#include "model/Buffer.h"

#include "platform/Log.h"

#include <algorithm>
#include <climits>
#include <cstdlib>

namespace corvantix {

Buffer::Buffer(int cols, int rows, int tabStopWidth, std::optional<int> scrollback, BidiPresentationState bidiState)
    : hasScrollback(scrollback.has_value())
    , scrollback(scrollback)
    , defaultBidiState(bidiState)
    , scroll([](bool) { fatalError("This should be set after creating a buffer"); })
    , lines_(capacityFor(rows))
    , scrollBottom_(rows - 1)
    , marginRight_(cols - 1)
    , cols_(cols)
    , rows_(rows)
{
    installLineListHooks();
    setupTabStops(-1, tabStopWidth);
}

Buffer::~Buffer()
{
    // Lines held elsewhere (a renderer's cache) must not reach back into a gone buffer.
    for (int i = 0; i < lines_.slotCount(); ++i) {
        if (const LinePtr& line = lines_.peek(i); line && line->owningBuffer() == this)
            line->setOwningBuffer(nullptr);
    }
    if (semanticPromptStartLine && semanticPromptStartLine->owningBuffer() == this)
        semanticPromptStartLine->setOwningBuffer(nullptr);
}

void Buffer::fatalError(std::string_view message)
{
    logError(message);
    std::abort();
}

// rows + scrollback with history, rows without; a negative count is taken as 0 and the sum
// is capped at the largest 32-bit line count.
int Buffer::capacityFor(int rowCount) const
{
    long long total = std::max(rowCount, 0);
    if (hasScrollback)
        total += std::max(scrollback.value_or(0), 0);
    return static_cast<int>(std::min<long long>(total, INT_MAX));
}

void Buffer::installLineListHooks()
{
    // The ring belongs to this buffer, so the hooks cannot outlive it.
    lines_.makeEmpty = [this](int) { return makeEmptyLine(); };
    lines_.onLineRecycled = [this](bool hadImages) {
        if (hadImages && linesWithImagesCount_ > 0)
            --linesWithImagesCount_;
    };
    lines_.onLinePushed = [this](bool hasImages) {
        if (hasImages)
            ++linesWithImagesCount_;
    };
    lines_.onLineAttached = [this](BufferLine& line) { line.setOwningBuffer(this); };
}

// ---- Lines with images

void Buffer::removeLineImages(int row)
{
    if (row < 0 || row >= lines_.count())
        return;
    const LinePtr& line = lines_[row];
    if (!line->images().has_value())
        return;
    if (linesWithImagesCount_ > 0)
        --linesWithImagesCount_;
    line->setImages(std::nullopt);
}

void Buffer::attachImagesToLine(std::shared_ptr<TerminalImage> image, int row)
{
    if (row < 0 || row >= lines_.count() || !image)
        return;
    const LinePtr& line = lines_[row];
    BufferLine::Images images = line->images().value_or(BufferLine::Images{});
    const bool first = !line->images().has_value();
    images.push_back(std::move(image));
    line->setImages(std::move(images));
    if (first)
        ++linesWithImagesCount_;
}

void Buffer::setLineImages(int row, BufferLine::Images images)
{
    if (row < 0 || row >= lines_.count())
        return;
    const LinePtr& line = lines_[row];
    const bool had = line->images().has_value();
    if (images.empty()) {
        if (!had)
            return;
        line->setImages(std::nullopt);
        if (linesWithImagesCount_ > 0)
            --linesWithImagesCount_;
        return;
    }
    line->setImages(std::move(images));
    if (!had)
        ++linesWithImagesCount_;
}

void Buffer::recountLinesWithImages()
{
    // An empty slot has no images: it is counted without making its line.
    int total = 0;
    for (int i = 0; i < lines_.count(); ++i) {
        if (const LinePtr& line = lines_.peek(i); line && line->images().has_value())
            ++total;
    }
    linesWithImagesCount_ = total;
}

// ---- Lines and cells

Buffer::LinePtr Buffer::getBlankLine(const Attribute& attribute, bool isWrapped)
{
    LinePtr line = BufferLine::create(cols_, CharData(0, 1, attribute), isWrapped, defaultBidiState);
    line->setOwningBuffer(this);
    return line;
}

Buffer::LinePtr Buffer::makeEmptyLine()
{
    return getBlankLine(CharData::defaultCell().attribute, false);
}

void Buffer::fillViewportRows(std::optional<Attribute> attribute)
{
    if (lines_.count() != 0)
        return;
    const Attribute fill = attribute.value_or(CharData::defaultCell().attribute);
    for (int i = 0; i < rows_; ++i)
        lines_.push(getBlankLine(fill));
}

CharData Buffer::getChar(int col, int row) const
{
    // Outside the ring is answered like outside a line: never made, never extended.
    if (row < 0 || row >= lines_.count())
        return CharData::defaultCell();
    const LinePtr& line = lines_[row];
    if (col < 0 || col >= line->dataSize())
        return CharData::defaultCell();
    return line->getCell(col);
}

CharData Buffer::spaceCell(std::optional<Attribute> attribute)
{
    const Attribute fallback{Attribute::Color::defaultColor(), Attribute::Color::defaultInvertedColor(), {},
                             UnderlineStyle::none, std::nullopt};
    return CharData(32, 1, attribute.value_or(fallback));
}

// ---- Tab stops

void Buffer::setupTabStops(int index, int width)
{
    width = std::max(width, 1);
    int startColumn = 0;
    if (index < 0) {
        tabStops.assign(static_cast<size_t>(std::max(cols_, 0)), false);
    } else {
        tabStops.resize(static_cast<size_t>(std::max(cols_, 0)), false);
        if (cols_ <= 0)
            return;
        const int c = std::min(cols_ - 1, index);
        startColumn = tabStops[static_cast<size_t>(c)] ? index : previousTabStop(c);
    }
    for (int column = startColumn; column < cols_; column += width)
        tabStops[static_cast<size_t>(column)] = true;
}

int Buffer::previousTabStop(int x) const
{
    if (x == -1)
        x = x_;
    int result = x < 1 ? x : 0;
    for (int column = std::min(x - 1, static_cast<int>(tabStops.size()) - 1); column >= 0; --column) {
        if (tabStops[static_cast<size_t>(column)]) {
            result = column;
            break;
        }
    }
    return std::min(result, cols_ - 1);
}

int Buffer::nextTabStop(bool useMargins, int x) const
{
    if (x == -1)
        x = x_;
    const int limit = useMargins ? marginRight_ : cols_ - 1;
    const int last = std::min(limit, static_cast<int>(tabStops.size()) - 1);
    for (int column = std::max(x + 1, 0); column <= last; ++column) {
        if (tabStops[static_cast<size_t>(column)])
            return column;
    }
    return limit;
}

// ---- Resets

void Buffer::clear()
{
    yDisp_ = 0;
    linesTop = 0;
    xBase = 0;
    x_ = 0;
    y_ = 0;
    yBase_ = 0;

    lines_ = CircularBufferLineList(capacityFor(rows_));
    installLineListHooks();
    linesWithImagesCount_ = 0;

    scrollTop_ = 0;
    scrollBottom_ = rows_ - 1;
    marginLeft_ = 0;
    marginRight_ = cols_ - 1;

    semanticContent = SemanticContent::none();
    semanticInput = SemanticInputState::idle;
    semanticClickMode = SemanticPromptClickMode::none();
    semanticUsesSpecialCursorKeys = false;
    semanticPromptStartLine.reset();
    semanticGroupCounter = 0;
    activeSemanticGroupID = 0;
}

void Buffer::clearSavedState()
{
    savedAttr = Attribute::defaultAttribute();
    savedY = 0;
    savedX = 0;
    savedCharset = nullptr;
    marginLeft_ = 0;
    marginRight_ = cols_ - 1;
    savedOriginMode = false;
    savedMarginMode = false;
    savedWraparound = false;
    savedReverseWraparound = false;
}

void Buffer::clearScrollback()
{
    const int n = yBase_;
    if (n < 1)
        return;
    lines_.trimStart(n);
    yBase_ = 0;
    yDisp_ = 0;
    // savedY counts screen rows, which forgetting history does not move.
}

// The `excess` oldest lines go; the screen's line numbers follow them.
void Buffer::dropOldestLines(int excess)
{
    if (excess < 1)
        return;
    lines_.trimStart(excess);
    yBase_ = std::max(yBase_ - excess, 0);
    yDisp_ = std::max(yDisp_ - excess, 0);
}

void Buffer::changeHistorySize(std::optional<int> newScrollback)
{
    scrollback = newScrollback;
    hasScrollback = newScrollback.has_value();
    const int newCapacity = capacityFor(rows_);
    if (newCapacity == lines_.maxLength())
        return;
    if (newCapacity < lines_.maxLength())
        dropOldestLines(lines_.count() - newCapacity); // savedY is a screen row and stays
    lines_.setMaxLength(newCapacity);
}

// ---- Semantic prompt zones

std::optional<Buffer::PromptStartMark> Buffer::promptStartMarkKind() const
{
    if (!semanticPromptStartLine)
        return std::nullopt;
    for (const SemanticPromptKind kind : {SemanticPromptKind::initial, SemanticPromptKind::secondary}) {
        for (const SemanticMark& mark : semanticPromptStartLine->semanticMarks()) {
            if (mark.kind == kind)
                return PromptStartMark{semanticPromptStartLine, kind, mark.column};
        }
    }
    return std::nullopt;
}

} // namespace corvantix
