// Line feed, carriage return, backspace, index, reverse index and scrolling of the region.
#include "emulator/Terminal.h"

#include "platform/Log.h"

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <string>

namespace corvantix {

namespace {

const char* boolText(bool value)
{
    return value ? "true" : "false";
}

// Margins narrower than the screen turn scrolls into rectangle moves.
bool marginsNarrowerThanScreen(const Buffer& screen, int cols)
{
    return screen.marginLeft() > 0 || screen.marginRight() < cols - 1;
}

// The line at ring index `index`; null outside the ring.
BufferLine* lineAt(Buffer& screen, int index)
{
    if (index < 0 || index >= screen.lines().count())
        return nullptr;
    return screen.lines()[index].get();
}

// Whether the line leaving a scrolled region (at ring index `top`) can become the new
// blank bottom line in place: only the ring holds it (no prompt mark, selection or host
// refers to that object), it carries no images (whose count the buffer keeps) and it
// fills like the template.
bool canReuseLeavingLine(const CircularBufferLineList& ring, int top, const BufferLine& blank)
{
    if (top < 0 || top >= ring.count())
        return false;
    const auto& line = ring.peek(top);
    return line && line.use_count() == 1 && !line->images().has_value() && !blank.images().has_value()
        && line->fillCharacter() == blank.fillCharacter();
}

} // namespace

// ---------------------------------------------------------------- Shared cells

Attribute Terminal::eraseAttribute() const
{
    Attribute erase = Attribute::defaultAttribute();
    erase.bg = curAttr_.bg;
    return erase;
}

CharData Terminal::eraseCell() const
{
    return CharData(0, 1, eraseAttribute());
}

void Terminal::markSplicedRowDirty(int row)
{
    updateRange(row);
}

// ---------------------------------------------------------------- Line feed, CR, BS

// The line feed's body, also inlined into the CR LF step.
[[gnu::always_inline]] inline void Terminal::lineFeedStep()
{
    Buffer& screen = *buffer_;
    bool moved = false;
    const int y = screen.y();
    const int x = screen.x();

    if (y == screen.scrollBottom()) {
        // With margins, a cursor left or right of them does not scroll the region.
        if (!marginMode_ || (x >= screen.marginLeft() && x <= screen.marginRight())) {
            scroll(false);
            moved = true;
        }
    } else if (y != rows_ - 1) {
        // A cursor below the region on the last row stays where it is.
        screen.setY(y + 1);
        moved = true;
        if (BufferLine* line = lineAt(screen, screen.yBase() + screen.y()); line != nullptr && !line->isWrapped())
            line->setBidiState(currentBidiState_);
    }

    if (screen.x() >= cols_)
        screen.setX(screen.x() - 1);

    if (moved && screen.semanticInput != SemanticInputState::idle)
        propagateSemanticContinuation(true);
    if (tdel != nullptr)
        tdel->linefeed(*this);

    if (lineFeedMode_)
        screen.setX(originMode_ && marginMode_ ? screen.marginLeft() : 0);
}

void Terminal::cmdLineFeed()
{
    lineFeedStep();
}

void Terminal::carriageReturnLineFeed()
{
    // What the dispatch of each control does first; CR cannot leave bytes kept back, so
    // once is enough.
    if (!readingBuffer_.putbackBuffer.empty())
        flushIncompleteCharacter();
    cmdCarriageReturn();
    lineFeedStep();
}

void Terminal::cmdCarriageReturn()
{
    Buffer& screen = *buffer_;
    if (marginMode_ && screen.x() >= screen.marginLeft())
        screen.setX(screen.marginLeft());
    else
        screen.setX(0);
}

void Terminal::cmdBackspace()
{
    Buffer& screen = restrictCursor(!reverseWraparound_);
    const int left = marginMode_ ? screen.marginLeft() : 0;
    const int right = marginMode_ ? screen.marginRight() : screen.cols() - 1;
    const int x = screen.x();
    const int y = screen.y();

    if (x > left) {
        screen.setX(std::max(x - 1, 0));
        return;
    }
    if (!reverseWraparound_) {
        if (x < left && x >= 1)
            screen.setX(x - 1);
        return;
    }

    // Reverse wraparound: to the end of the row above, or from the top of the region to
    // its bottom.
    if (y > screen.scrollTop() && y <= screen.scrollBottom()) {
        if (!marginMode_) {
            if (BufferLine* line = lineAt(screen, screen.yBase() + y); line != nullptr && line->isWrapped())
                line->setIsWrapped(false);
        }
        screen.setY(y - 1);
        screen.setX(right);
    } else if (y == screen.scrollTop()) {
        screen.setX(right);
        screen.setY(screen.scrollBottom());
    } else if (y >= 1) {
        screen.setY(y - 1);
        screen.setX(right);
    }
}

// ---------------------------------------------------------------- IND, RI

void Terminal::cmdIndex()
{
    Buffer& screen = restrictCursor(true);
    const int x = screen.x();
    bool moved = true;
    if (screen.y() >= screen.scrollBottom()) {
        // Below the region too: IND scrolls the region where line feed would not.
        if (!marginMode_ || (x >= screen.marginLeft() && x <= screen.marginRight()))
            scroll(false);
        else
            moved = false;
    } else {
        screen.setY(screen.y() + 1);
    }
    propagateSemanticContinuation(moved);
}

void Terminal::reverseIndex()
{
    Buffer& screen = restrictCursor(true);
    const int x = screen.x();
    const int y = screen.y();
    const bool atTop = y == screen.scrollTop();

    if (marginMode_ && x < screen.marginLeft()) {
        if (!atTop && y >= 1)
            screen.setY(y - 1);
        return;
    }
    if (!atTop) {
        if (y >= 1)
            screen.setY(y - 1);
        return;
    }
    if (marginMode_ && x > screen.marginRight())
        return;

    // Scroll the region down by one line.
    CircularBufferLineList& ring = screen.lines();
    const int absTop = screen.yBase() + screen.scrollTop();
    const int absBottom = screen.yBase() + screen.scrollBottom();
    if (absTop >= ring.count()) {
        printLine("reverseIndex: start index " + std::to_string(absTop) + " >= lines.count "
                  + std::to_string(ring.count()) + ", state: y=" + std::to_string(y) + " yBase="
                  + std::to_string(screen.yBase()) + " scrollTop=" + std::to_string(screen.scrollTop())
                  + " scrollBottom=" + std::to_string(screen.scrollBottom())
                  + " isAlternate=" + boolText(isCurrentBufferAlternate()));
        return;
    }

    if (!marginMode_ || (screen.marginLeft() < 1 && screen.marginRight() >= cols_ - 1)) {
        // The bottom line is dropped: its images must leave the buffer's count with it.
        if (screen.hasLinesWithImages())
            screen.removeLineImages(absBottom);
        if (!ring.shiftElements(absTop, absBottom - absTop, 1)) {
            printLine("Assertion on reverseIndex, state was: y=" + std::to_string(y) + " scrollTop="
                      + std::to_string(screen.scrollTop()) + "  yDisp=" + std::to_string(screen.yDisp())
                      + " linesTop=" + std::to_string(screen.linesTop)
                      + " isAlternate=" + boolText(isCurrentBufferAlternate()));
        }
        ring.setLine(absTop, screen.getBlankLine(eraseAttribute()));
        adjustSelectionsForLineShift(absTop, absBottom, -1);
    } else {
        const int bottom = std::min(absBottom, ring.count() - 1);
        screen.shiftRectangleDown(absTop, bottom, screen.marginLeft(), screen.marginRight(), eraseCell());
        for (int row = absTop; row <= bottom; ++row) {
            BufferLine& line = *ring[row];
            line.setIsWrapped(false);
            screen.removeLineImages(row);
            line.setRenderMode(BufferLine::RenderLineMode::single);
        }
        clearSelectionsInRange(absTop, absBottom, screen.marginLeft(), screen.marginRight());
    }
    updateRange(screen.scrollTop());
    updateRange(screen.scrollBottom());
}

// ---------------------------------------------------------------- Scrolling up

namespace {

// Where one scroll of the region happens: its ring rows, and what a new bottom line gets.
struct ScrollStep {
    Buffer& screen;
    CircularBufferLineList& ring;
    int absTop = 0;
    int absBottom = 0;
    bool isWrapped = false;
    BidiPresentationState bidiState;
};

// Whether a cell's attribute is the erase attribute for background bg: the packed forms
// compared, without unpacking the cell.
[[gnu::always_inline]] inline bool isEraseAttribute(const PackedCell& cell, Attribute::Color bg)
{
    Attribute erase;
    erase.bg = bg;
    return cell.sameAttribute(PackedCell(0, 1, PackedCell::packAttribute(erase)));
}

struct ScrollFile;

// Four one-byte fields compared at once.
bool sameBidiState(const BidiPresentationState& a, const BidiPresentationState& b)
{
    static_assert(sizeof(BidiPresentationState) == sizeof(std::uint32_t));
    std::uint32_t left = 0;
    std::uint32_t right = 0;
    std::memcpy(&left, &a, sizeof left);
    std::memcpy(&right, &b, sizeof right);
    return left == right;
}

} // namespace

template <>
struct TerminalFileHelpers<ScrollFile> {
    // The template line, rebuilt only when the width or the erase attribute changed.
    static void prepareBlankLine(Terminal& terminal, const ScrollStep& step)
    {
        std::shared_ptr<BufferLine>& blank = terminal.blankLine_;
        if (blank->dataSize() != terminal.cols_ || !isEraseAttribute(blank->packedCell(0), terminal.curAttr_.bg))
            blank = step.screen.getBlankLine(terminal.eraseAttribute());
        if (blank->isWrapped() != step.isWrapped)
            blank->setIsWrapped(step.isWrapped);
        if (blank->bidiState() != step.bidiState)
            blank->setBidiState(step.bidiState);
    }

    // A line that takes a scrolled neighbour's place starts plain: no wrap, no images, single
    // width.
    static void resetMovedLine(Buffer& screen, int row, const BidiPresentationState& bidiState)
    {
        BufferLine& line = *screen.lines()[row];
        line.setIsWrapped(false);
        line.setBidiState(bidiState);
        screen.removeLineImages(row);
        line.setRenderMode(BufferLine::RenderLineMode::single);
    }

    // Margins narrower than the screen: only the rectangle between them moves, and nothing
    // enters the scrollback.
    static void scrollRectangle(Terminal& terminal, const ScrollStep& step)
    {
        Buffer& screen = step.screen;
        const int bottom = std::min(step.absBottom, step.ring.count() - 1);
        for (int row = step.absTop; row < bottom; ++row)
            resetMovedLine(screen, row, step.ring[row + 1]->bidiState());
        screen.shiftRectangleUp(step.absTop, bottom, screen.marginLeft(), screen.marginRight(), terminal.eraseCell());
        if (bottom >= step.absTop)
            resetMovedLine(screen, bottom, terminal.currentBidiState_);
        terminal.clearSelectionsInRange(step.absTop, step.absBottom, screen.marginLeft(), screen.marginRight());
    }

    // A region starting at the top: its top line leaves the screen for the scrollback (or is
    // dropped when the ring is full).
    static void scrollIntoScrollback(Terminal& terminal, const ScrollStep& step)
    {
        Buffer& screen = step.screen;
        CircularBufferLineList& ring = step.ring;
        const bool ringFull = ring.count() == ring.maxLength();
        const int countBefore = ring.count();
        if (step.absBottom == ring.count() - 1) {
            if (!ringFull) {
                ring.push(BufferLine::initCopy(*terminal.blankLine_));
                screen.setYBase(screen.yBase() + 1);
                if (!terminal.userScrolling_)
                    screen.setYDisp(screen.yDisp() + 1);
            } else {
                // The oldest line is reused as the new bottom line: no allocation.
                // The template's cells carry the erase attribute, read from settled memory.
                ring.recycle(terminal.blankLine_->packedCell(0).packedAttribute());
                BufferLine& reused = *ring[ring.count() - 1];
                if (reused.isWrapped() != step.isWrapped)
                    reused.setIsWrapped(step.isWrapped);
                reused.setBidiState(step.bidiState);
            }
        } else {
            // A full ring drops its oldest line to make room, images and all.
            if (ringFull && screen.hasLinesWithImages())
                screen.removeLineImages(0);
            const Buffer::LinePtr inserted = BufferLine::initCopy(*terminal.blankLine_);
            ring.splice(step.absBottom + 1, 0, std::span(&inserted, 1),
                        [&terminal](int row) { terminal.markSplicedRowDirty(row); });
            if (!ringFull) {
                screen.setYBase(screen.yBase() + 1);
                if (!terminal.userScrolling_)
                    screen.setYDisp(screen.yDisp() + 1);
            }
        }
        if (ringFull) {
            if (screen.hasScrollback)
                screen.linesTop += 1;
            terminal.adjustSelectionsForLineShift(0, countBefore - 1, 1);
            if (terminal.userScrolling_)
                screen.setYDisp(std::max(screen.yDisp() - 1, 0));
        }
    }

    // Output scrolling a full history: the whole screen is the region (no narrower margins),
    // its bottom is the newest line, the ring holds all it can and no line carries an image.
    // Then the oldest line becomes the new bottom one, as scrollIntoScrollback does, with
    // nothing else to look at.
    static bool recyclesOldestLine(const Terminal& terminal, const Buffer& screen)
    {
        const CircularBufferLineList& ring = screen.lines();
        const int count = ring.count();
        return screen.scrollTop() == 0 && count == ring.maxLength() && screen.yBase() + screen.scrollBottom() == count - 1
            && !screen.hasLinesWithImages() && !(terminal.marginMode_ && marginsNarrowerThanScreen(screen, terminal.cols_));
    }

    // scroll for a ring recyclesOldestLine accepts: every step of the general way that applies
    // to it, in the same order, and no other.
    static void scrollFullRing(Terminal& terminal, Buffer& screen, bool isWrapped)
    {
        CircularBufferLineList& ring = screen.lines();
        const int last = ring.count() - 1;
        const BidiPresentationState bidiState = isWrapped ? ring[last]->bidiState() : terminal.currentBidiState_;
        // Only the template's attribute is read here; its wrap flag and bidi state are set by
        // the scrolls that copy it. The template is only ever made from the erase attribute,
        // so its background is the one field that can be out of date.
        std::shared_ptr<BufferLine>& blank = terminal.blankLine_;
        if (!(blank->packedCell(0).bg() == terminal.curAttr_.bg)) [[unlikely]]
            blank = screen.getBlankLine(terminal.eraseAttribute());

        BufferLine* reused = ring.recycle(blank->packedCell(0).packedAttribute());
        if (reused == nullptr) [[unlikely]]
            reused = ring[last].get();
        if (isWrapped)
            reused->setIsWrapped(true);
        if (!sameBidiState(reused->bidiState(), bidiState))
            reused->setBidiState(bidiState);
        if (screen.hasScrollback)
            screen.linesTop += 1;
        if (!terminal.selections_.empty())
            terminal.adjustSelectionsForLineShift(0, last, 1);
        // A view scrolled back keeps showing the same text, which moved up by one line.
        if (terminal.userScrolling_)
            screen.setYDisp(std::max(screen.yDisp() - 1, 0));
        else
            screen.setYDisp(screen.yBase());

        // updateRange(0, true) and updateRange(bottom, true): rows only, both within the screen.
        const int bottom = screen.scrollBottom();
        terminal.refreshStart_ = std::min(terminal.refreshStart_, 0);
        terminal.refreshEnd_ = std::max(terminal.refreshEnd_, bottom);
        if (!(bottom == terminal.rows_ - 1 && screen.hasScrollback)) {
            terminal.updateRange(0);
            terminal.updateRange(bottom);
        }
        if (TerminalDelegate* delegate = terminal.delegate())
            delegate->scrolled(terminal, screen.yDisp());
    }

    // A region below the top: its top line is discarded. False when the region lies past the
    // ring (logged; nothing moves).
    static bool scrollRegionUp(Terminal& terminal, const ScrollStep& step)
    {
        Buffer& screen = step.screen;
        CircularBufferLineList& ring = step.ring;
        const int absTop = step.absTop;
        const int absBottom = step.absBottom;
        if (absBottom >= ring.count()) {
            printLine("scroll: bottomRow " + std::to_string(absBottom) + " >= lines.count "
                      + std::to_string(ring.count()) + ", state: yBase=" + std::to_string(screen.yBase())
                      + " scrollTop=" + std::to_string(screen.scrollTop()) + " scrollBottom="
                      + std::to_string(screen.scrollBottom())
                      + " isAlternate=" + boolText(terminal.isCurrentBufferAlternate()));
            return false;
        }
        if (canReuseLeavingLine(ring, absTop, *terminal.blankLine_)) {
            // The same lines end up in the same places as below, but the line leaving the
            // region becomes the blank bottom line instead of a new copy of the template.
            ring.rotateUp(absTop, absBottom - absTop);
            ring[absBottom]->recycleFrom(*terminal.blankLine_);
        } else {
            // The top line is dropped: its images must leave the buffer's count with it.
            if (screen.hasLinesWithImages())
                screen.removeLineImages(absTop);
            if (absBottom > absTop && !ring.shiftElements(absTop + 1, absBottom - absTop, -1)) {
                printLine("Assertion on scroll, state was: bottomRow=" + std::to_string(absBottom) + " topRow="
                          + std::to_string(absTop) + " yDisp=" + std::to_string(screen.yDisp()) + " linesTop="
                          + std::to_string(screen.linesTop)
                          + " isAlternate=" + boolText(terminal.isCurrentBufferAlternate()));
            }
            ring.setLine(absBottom, BufferLine::initCopy(*terminal.blankLine_));
        }
        terminal.adjustSelectionsForLineShift(absTop, absBottom, 1);
        return true;
    }
};

namespace {

using ScrollHelpers = TerminalFileHelpers<ScrollFile>;

} // namespace

void Terminal::scroll(bool isWrapped)
{
    Buffer& screen = *buffer_;
    ++scrolledLineCount_;
    if (ScrollHelpers::recyclesOldestLine(*this, screen))
        ScrollHelpers::scrollFullRing(*this, screen, isWrapped);
    else
        scrollAnyRegion(isWrapped);
}

// Apart, so that the full-ring case pays for none of its set-up.
[[gnu::noinline]] void Terminal::scrollAnyRegion(bool isWrapped)
{
    Buffer& screen = *buffer_;
    ScrollStep step{screen, screen.lines(), screen.yBase() + screen.scrollTop(),
                    screen.yBase() + screen.scrollBottom(), isWrapped, currentBidiState_};
    // A wrapped continuation keeps the bidi state of the line it continues.
    if (isWrapped && step.absBottom >= 0 && step.absBottom < step.ring.count())
        step.bidiState = step.ring[step.absBottom]->bidiState();
    ScrollHelpers::prepareBlankLine(*this, step);

    if (marginMode_ && marginsNarrowerThanScreen(screen, cols_))
        ScrollHelpers::scrollRectangle(*this, step);
    else if (screen.scrollTop() == 0)
        ScrollHelpers::scrollIntoScrollback(*this, step);
    else if (!ScrollHelpers::scrollRegionUp(*this, step))
        return;

    // The view follows the output unless the user looks at the scrollback.
    if (!userScrolling_)
        screen.setYDisp(screen.yBase());

    // The region's rows moved on screen; with a whole-screen region on a buffer with
    // scrollback the text itself kept its line numbers.
    updateRange(screen.scrollTop(), true);
    updateRange(screen.scrollBottom(), true);
    if (!(screen.scrollTop() == 0 && screen.scrollBottom() == rows_ - 1 && screen.hasScrollback)) {
        updateRange(screen.scrollTop());
        updateRange(screen.scrollBottom());
    }

    // Images follow their lines; the host learns where the view now stands.
    if (screen.hasLinesWithImages())
        reanchorKittyPlacementsAfterScroll();
    if (TerminalDelegate* delegate = this->delegate())
        delegate->scrolled(*this, screen.yDisp());
}

void Terminal::propagateSemanticContinuation(bool moved)
{
    if (!moved)
        return;
    Buffer& screen = *buffer_;
    if (screen.semanticInput != SemanticInputState::prompt && screen.semanticInput != SemanticInputState::armed)
        return;
    BufferLine* line = lineAt(screen, screen.yBase() + screen.y());
    if (line == nullptr)
        return;
    const std::uint64_t group = screen.activeSemanticGroupID;
    const std::optional<std::uint64_t> current = line->semanticHardContinuationGroup();
    if (current == group)
        return;
    if (current.has_value()) {
        // The line belonged to another command: its prompt and input cells lose that role.
        for (PackedCell& cell : line->mutableCells()) {
            if (cell.semanticContentCode() >= 1 && cell.semanticContentCode() <= 5)
                cell.setSemanticContentCode(0);
        }
    }
    line->setSemanticHardContinuationGroup(group);
}

void Terminal::clearSemanticContinuation()
{
    Buffer& screen = *buffer_;
    if (BufferLine* line = lineAt(screen, screen.yBase() + screen.y()))
        line->setSemanticHardContinuationGroup(std::nullopt);
}

void Terminal::resetSemanticPromptState(bool clearLines)
{
    for (Buffer* screen : {normalBuffer_.get(), altBuffer_.get()}) {
        screen->semanticContent = SemanticContent::none();
        screen->semanticInput = SemanticInputState::idle;
        screen->semanticClickMode = SemanticPromptClickMode::none();
        screen->semanticUsesSpecialCursorKeys = false;
        screen->semanticPromptStartLine.reset();
        if (!clearLines)
            continue;
        CircularBufferLineList& ring = screen->lines();
        const int last = std::min(screen->yBase() + rows_, ring.count());
        for (int index = std::max(screen->yBase(), 0); index < last; ++index)
            ring[index]->clearSemanticState();
    }
    resetSemanticScan();
}

} // namespace corvantix
