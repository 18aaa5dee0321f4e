// The redraw pipeline: host output into the terminal, immediate or coalesced redraws, the
// changed rows turned into repaint rectangles, the caret's place, scrolling and the
// scrollbar, and frame changes turned into the terminal's grid.
#include "view/qt/TerminalView.h"
#include "view/qt/ChildPlacement.h"
#include "view/qt/TerminalDebugView.h"

#include "drawing/TerminalBidi.h"

#include "platform/Log.h"
#include "view/DisplayGeometry.h"
#include "view/ScrollMetrics.h"

#include <QCoreApplication>
#include <QEvent>
#include <QGuiApplication>
#include <QPaintEvent>
#include <QPainter>
#include <QProxyStyle>
#include <QResizeEvent>
#include <QScrollBar>
#include <QStyle>
#include <QStyleOptionSlider>
#include <QThread>
#include <QWindow>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <utility>

namespace corvantix {

namespace {

bool onThreadOf(const QObject& object)
{
    return QThread::currentThread() == object.thread();
}

QRect enclosingRect(const RectValue& rect)
{
    const int left = static_cast<int>(std::floor(rect.x));
    const int top = static_cast<int>(std::floor(rect.y));
    const int right = static_cast<int>(std::ceil(rect.x + rect.width));
    const int bottom = static_cast<int>(std::ceil(rect.y + rect.height));
    return QRect(left, top, right - left, bottom - top);
}

// Sends wheel turns over the scrollbar to the view, which scrolls (or reports) them like
// any other wheel turn over the terminal.
class WheelForwarder final : public QObject {
public:
    WheelForwarder(QWidget& target, QObject* parent) : QObject(parent), target(target) {}

protected:
    bool eventFilter(QObject* watched, QEvent* event) override
    {
        if (event->type() == QEvent::Wheel) {
            QCoreApplication::sendEvent(&target, event);
            return true;
        }
        return QObject::eventFilter(watched, event);
    }

private:
    QWidget& target;
};

// The scrollbar's style without its two arrow buttons, which would only step a line (the
// wheel and the keys do that): the track and the knob take the bar's whole length.
class ArrowlessScrollBarStyle final : public QProxyStyle {
public:
    QRect subControlRect(ComplexControl control, const QStyleOptionComplex* option, SubControl part,
                         const QWidget* widget) const override
    {
        const auto* bar = qstyleoption_cast<const QStyleOptionSlider*>(option);
        if (control != CC_ScrollBar || bar == nullptr)
            return QProxyStyle::subControlRect(control, option, part, widget);
        const QRect whole = bar->rect;
        const bool horizontal = bar->orientation == Qt::Horizontal;
        const int length = horizontal ? whole.width() : whole.height();
        // The knob's share of the length is the page's share of everything there is to show.
        const qint64 range = static_cast<qint64>(bar->maximum) - bar->minimum;
        int knob = length;
        if (range > 0)
            knob = static_cast<int>(static_cast<qint64>(bar->pageStep) * length / (range + bar->pageStep));
        knob = std::clamp(knob, std::min(length, pixelMetric(PM_ScrollBarSliderMin, bar, widget)), length);
        const int start = sliderPositionFromValue(bar->minimum, bar->maximum, bar->sliderPosition, length - knob,
                                                  bar->upsideDown);
        const auto along = [&](int from, int size) {
            return horizontal ? QRect(whole.x() + from, whole.y(), size, whole.height())
                              : QRect(whole.x(), whole.y() + from, whole.width(), size);
        };
        switch (part) {
        case SC_ScrollBarAddLine:
        case SC_ScrollBarSubLine:
            return QRect();
        case SC_ScrollBarGroove:
            return whole;
        case SC_ScrollBarSlider:
            return along(start, knob);
        case SC_ScrollBarSubPage:
            return along(0, start);
        case SC_ScrollBarAddPage:
            return along(start + knob, length - start - knob);
        default:
            return QProxyStyle::subControlRect(control, option, part, widget);
        }
    }

    void drawComplexControl(ComplexControl control, const QStyleOptionComplex* option, QPainter* painter,
                            const QWidget* widget) const override
    {
        const auto* bar = qstyleoption_cast<const QStyleOptionSlider*>(option);
        if (control != CC_ScrollBar || bar == nullptr) {
            QProxyStyle::drawComplexControl(control, option, painter, widget);
            return;
        }
        QStyleOptionSlider withoutArrows(*bar);
        withoutArrows.subControls &= ~(SC_ScrollBarAddLine | SC_ScrollBarSubLine);
        QProxyStyle::drawComplexControl(control, &withoutArrows, painter, widget);
    }
};

} // namespace

// ---------------------------------------------------------------- Feeding and user input

void TerminalView::feedBytes(std::span<const std::uint8_t> bytes)
{
    // The lines the search keeps are about to change.
    if (search)
        search->invalidate();
    if (allowMouseReporting)
        deactivateSelection();
    terminal->feed(bytes);
    if (isInteractiveInputWindow())
        updateDisplayNow();
    else
        queuePendingDisplay();
}

void TerminalView::feedText(std::string_view text)
{
    feedBytes(std::span(reinterpret_cast<const std::uint8_t*>(text.data()), text.size()));
}

void TerminalView::send(std::string_view text)
{
    sendUserInput(std::span(reinterpret_cast<const std::uint8_t*>(text.data()), text.size()));
}

std::uint64_t TerminalView::uptimeNanoseconds() const
{
    const auto sinceStart = std::chrono::duration_cast<std::chrono::nanoseconds>(queue->now().time_since_epoch());
    return static_cast<std::uint64_t>(std::max<std::int64_t>(sinceStart.count(), 0));
}

std::uint64_t TerminalView::lastUserInputUptimeNs() const
{
    std::lock_guard<std::mutex> guard(userInputLock);
    return lastUserInputUptimeNs_;
}

void TerminalView::sendUserInput(std::span<const std::uint8_t> bytes)
{
    {
        std::lock_guard<std::mutex> guard(userInputLock);
        lastUserInputUptimeNs_ = uptimeNanoseconds();
    }
    if (!onThreadOf(*this)) {
        // The terminal and the delegate live on the GUI thread: the rest runs there, in order
        // with other input sent from this thread.
        std::vector<std::uint8_t> copy(bytes.begin(), bytes.end());
        queue->post([weak = std::weak_ptr<TerminalView*>(lifetime), copy = std::move(copy)] {
            if (const auto alive = weak.lock(); alive && *alive != nullptr)
                (*alive)->sendUserInput(copy);
        });
        return;
    }
    ensureCursorVisible();
    terminal->registerUserInput(bytes);
    if (terminalDelegate != nullptr)
        terminalDelegate->send(*this, bytes);
}

bool TerminalView::isInteractiveInputWindow() const
{
    if (terminal->synchronizedOutputActive())
        return false;
    const std::uint64_t last = lastUserInputUptimeNs();
    if (last == 0)
        return false;
    const std::uint64_t now = uptimeNanoseconds();
    if (now < last)
        return false;
    return now - last <= interactiveInputDisplayWindowNs;
}

// ---------------------------------------------------------------- Redraw scheduling

void TerminalView::updateDisplayNow()
{
    if (onThreadOf(*this)) {
        updateDisplay();
        return;
    }
    if (pendingDisplay.exchange(true))
        return;
    queue->post([weak = std::weak_ptr<TerminalView*>(lifetime)] {
        if (const auto alive = weak.lock(); alive && *alive != nullptr)
            (*alive)->updateDisplay();
    });
}

void TerminalView::queuePendingDisplay()
{
    if (terminal->synchronizedOutputActive() || pendingDisplay)
        return;
    pendingDisplay = true;
    // Held weakly: a view destroyed meanwhile has nothing left to draw.
    queue->postAfter(std::chrono::nanoseconds(pendingDisplayDelayNs), [weak = std::weak_ptr<TerminalView*>(lifetime)] {
        if (const auto alive = weak.lock(); alive && *alive != nullptr)
            (*alive)->updateDisplay();
    });
}

void TerminalView::updateDisplay()
{
    // Starts the blink timer when blinking text came into view, stops it when none is left.
    updateTextBlinkTimer();
    updateDirtyRows(true);
    if (debug)
        debug->updateDebug();
    pendingDisplay = false;
}

void TerminalView::updateFullScreenAndQueue()
{
    terminal->updateFullScreen();
    queuePendingDisplay();
}

void TerminalView::setNeedsDisplayInRect(const QRect& rect)
{
    update(rect);
}

void TerminalView::updateDirtyRows(bool /*notifyAccessibility*/)
{
    Terminal& t = *terminal;
    if (t.synchronizedOutputActive()) {
        pendingDisplay = false;
        return;
    }
    updateCaretView();

    Buffer& buffer = t.buffer();
    const int yDisp = buffer.yDisp();
    const auto range = t.getUpdateRange();
    if (!range) {
        if (notifyUpdateChanges && terminalDelegate != nullptr)
            terminalDelegate->rowsChanged(*this, yDisp + buffer.y(), yDisp + buffer.y());
        if (metalView) {
            const RenderedCursor cursor{buffer.x(), buffer.yBase() + buffer.y(), t.cursorHidden()};
            if (lastRenderedCursor != cursor) {
                lastRenderedCursor = cursor;
                metalView->update();
            }
        }
        pendingDisplay = false;
        return;
    }

    const int start = range->startY;
    const int end = range->endY;
    if (notifyUpdateChanges && terminalDelegate != nullptr)
        terminalDelegate->rowsChanged(*this, start, end);
    t.clearUpdateRange();

    // The rows to repaint, kept within the lines the buffer holds.
    const int lines = buffer.lines().count();
    const int rows = t.rows();
    int first = start;
    int last = end;
    bool validRange = false;
    if (lines > 0 && start >= 0 && end >= start && end < rows) {
        // A change anywhere in a bidi paragraph can reorder all of its rows.
        const auto [spanFirst, spanLast] =
            TerminalBidi::expandToParagraphs(std::clamp(yDisp + start, 0, lines - 1),
                                             std::clamp(yDisp + end, 0, lines - 1), buffer,
                                             t.options().bidiParagraphRowLimit());
        first = std::max(spanFirst - yDisp, 0);
        last = std::min(spanLast - yDisp, rows - 1);
        validRange = true;
    }

    if (metalView) {
        // Several updates can come before the renderer takes the range: it widens, so rows
        // reported by an earlier update are not forgotten.
        if (lines <= 0) {
            metalDirtyRange.reset();
        } else if (validRange && first <= last) {
            widenMetalDirtyRange(yDisp + first, yDisp + last);
        } else {
            const int visibleLast = std::min(yDisp + buffer.rows() - 1, lines - 1);
            if (yDisp <= visibleLast)
                widenMetalDirtyRange(yDisp, visibleLast);
        }
        lastRenderedCursor = RenderedCursor{buffer.x(), buffer.yBase() + buffer.y(), t.cursorHidden()};
        metalView->update();
    } else if (cellDimension) {
        const RectValue dirty = dirtyRowsRect(first, last, rows, cellDimension->height, width(), height(),
                                              yDisp != buffer.yBase());
        setNeedsDisplayInRect(enclosingRect(dirty));
    } else {
        update();
    }
    pendingDisplay = false;
}

// ---------------------------------------------------------------- Text blink

void TerminalView::installTextBlinkObservers()
{
    if (!textBlinkTimer || applicationStateConnection)
        return;
    textBlinkTimer->applicationActive = QGuiApplication::applicationState() == Qt::ApplicationActive;
    textBlinkTimer->inWindow = isVisible();
    applicationStateConnection = connect(qGuiApp, &QGuiApplication::applicationStateChanged, this,
                                         [this](Qt::ApplicationState state) {
                                             if (!textBlinkTimer)
                                                 return;
                                             const bool active = state == Qt::ApplicationActive;
                                             textBlinkTimer->setApplicationActive(active);
                                             if (active)
                                                 redrawMetalIfVisible();
                                         });
    updateTextBlinkTimer();
}

void TerminalView::updateTextBlinkTimer()
{
    if (!onThreadOf(*this)) {
        queue->post([weak = std::weak_ptr<TerminalView*>(lifetime)] {
            if (const auto alive = weak.lock(); alive && *alive != nullptr)
                (*alive)->updateTextBlinkTimer();
        });
        return;
    }
    if (textBlinkTimer)
        textBlinkTimer->updateTextBlinkTimer();
}

void TerminalView::stopTextBlink()
{
    if (textBlinkTimer)
        textBlinkTimer->stopTextBlink();
    textBlinkVisible = true;
    disconnect(applicationStateConnection);
    applicationStateConnection = {};
}

// ---------------------------------------------------------------- Caret

void TerminalView::updateCaretView()
{
    if (!caretView || !cellDimension)
        return;
    const Terminal& t = *terminal;
    const Buffer& buffer = t.buffer();
    const int cursorLine = buffer.yBase() + buffer.y();
    if (cursorLine >= buffer.yDisp() + t.rows() || cursorLine >= buffer.lines().count()) {
        setCaretVisible(false);
        return;
    }
    setCaretVisible(!t.cursorHidden());

    const BufferLine& line = *buffer.lines()[cursorLine];
    const CharData& cell = line.getCell(buffer.x());
    const int cellColumns = std::max<int>(cell.width, 1);
    const double factor = line.renderMode() == BufferLine::RenderLineMode::single ? 1.0 : 2.0;
    int column = buffer.x();
    // Under a bidi layout the cell may show another text than it stores (a joined Arabic
    // form): the block caret shows that one.
    std::optional<std::u32string> display;
    if (bidiHostPolicy_ == BidiHostPolicy::respectTerminal) {
        const RowBidiLayout layout = TerminalBidi::layoutForRow(cursorLine, buffer, t.cols(), t);
        column = layout.visualColumn(column);
        if (layout.layout != nullptr) {
            for (const BidiCell& visual : layout.layout->visualCells) {
                if (visual.logicalCol == buffer.x()) {
                    display = visual.display;
                    break;
                }
            }
        }
    }

    const double x = factor * cellDimension->width * column;
    const double y = caretTop(cursorLine, buffer.yDisp(), cellDimension->height);
    const double w = factor * cellDimension->width * cellColumns;
    placeChild(*caretView, QRect(static_cast<int>(std::round(x)), static_cast<int>(std::round(y)),
                                 static_cast<int>(std::ceil(w)), caretView->height()));
    // The character under the caret, which a block caret shows again in its own colours.
    caretView->setText(cell, cell.attribute, display ? &*display : nullptr);
}

void TerminalView::setCaretVisible(bool visible)
{
    if (!caretView)
        return;
    // The GPU renderer draws the cursor itself; a caret widget on top would cover it.
    if (metalView)
        visible = false;
    if (visible && caretView->isHidden())
        caretView->show();
    else if (!visible && !caretView->isHidden())
        caretView->hide();
}

QRect TerminalView::caretFrame() const
{
    return caretView ? caretView->geometry() : QRect();
}

// ---------------------------------------------------------------- Scrolling

ScrollState TerminalView::scrollState() const
{
    const Buffer& buffer = terminal->buffer();
    return {buffer.yDisp(), buffer.lines().count(), terminal->rows(), terminal->isCurrentBufferAlternate(),
            buffer.hasScrollback};
}

double TerminalView::scrollPosition() const
{
    return corvantix::scrollPosition(scrollState());
}

double TerminalView::scrollThumbsize() const
{
    return corvantix::scrollThumbsize(scrollState());
}

bool TerminalView::canScroll() const
{
    return corvantix::canScroll(scrollState());
}

void TerminalView::scrollTo(int row, bool notifyAccessibility)
{
    const Buffer& buffer = terminal->buffer();
    const int lines = buffer.lines().count();
    const int maximum = maximumScrollRow(lines, terminal->rows());
    const int target = clampScrollRow(row, lines, terminal->rows());
    userScrolling = target < maximum;
    terminal->setUserScrolling(userScrolling);
    if (target == buffer.yDisp())
        return;

    terminal->scrollDisplayTo(target);
    updateDirtyRows(notifyAccessibility);
    if (terminalDelegate != nullptr)
        terminalDelegate->scrolled(*this, scrollPosition());
    updateScroller();
    update();
}

void TerminalView::scrollUp(int lines)
{
    scrollTo(std::max(terminal->buffer().yDisp() - lines, 0), true);
}

void TerminalView::scrollDown(int lines)
{
    const Buffer& buffer = terminal->buffer();
    const int maximum = maximumScrollRow(buffer.lines().count(), terminal->rows());
    scrollTo(std::max(std::min(buffer.yDisp() + lines, maximum), 0), true);
}

void TerminalView::pageUp()
{
    if (terminal->isCurrentBufferAlternate()) {
        static constexpr std::uint8_t pageUpKey[] = {0x1b, 0x5b, 0x35, 0x7e}; // ESC [ 5 ~
        sendUserInput(pageUpKey);
        return;
    }
    scrollTo(std::max(terminal->buffer().yDisp() - terminal->rows(), 0), true);
}

void TerminalView::pageDown()
{
    if (terminal->isCurrentBufferAlternate()) {
        static constexpr std::uint8_t pageDownKey[] = {0x1b, 0x5b, 0x36, 0x7e}; // ESC [ 6 ~
        sendUserInput(pageDownKey);
        return;
    }
    scrollDown(terminal->rows());
}

void TerminalView::changeScrollback(std::optional<int> lines)
{
    terminal->changeHistorySize(lines);
    updateScroller();
    if (terminalDelegate != nullptr)
        terminalDelegate->scrolled(*this, scrollPosition());
    queuePendingDisplay();
}

void TerminalView::clearScrollback()
{
    terminal->normalBuffer().clearScrollback();
    terminal->updateRange(0);
    terminal->updateRange(terminal->rows() - 1);
    updateScroller();
    if (terminalDelegate != nullptr)
        terminalDelegate->scrolled(*this, scrollPosition());
    queuePendingDisplay();
}

// ---------------------------------------------------------------- The scrollbar

void TerminalView::installScroller()
{
    scroller = new QScrollBar(Qt::Vertical, this);
    auto* arrowless = new ArrowlessScrollBarStyle();
    arrowless->setParent(scroller);
    scroller->setStyle(arrowless);
    scroller->setRange(0, 0);
    scroller->setEnabled(false);
    scroller->installEventFilter(new WheelForwarder(*this, scroller));
    connect(scroller, &QScrollBar::actionTriggered, this, [this](int action) { scrollerActionTriggered(action); });
    layoutScroller();
}

void TerminalView::layoutScroller()
{
    if (scroller == nullptr)
        return;
    const int extent = style()->pixelMetric(QStyle::PM_ScrollBarExtent, nullptr, scroller);
    scroller->setGeometry(width() - extent, 0, extent, height());
}

void TerminalView::updateScroller()
{
    if (scroller == nullptr || !terminal)
        return;
    // The bar counts in lines: its value is the top line shown and its page the screen, so
    // its position is scrollPosition and its knob the share scrollThumbsize.
    const ScrollState state = scrollState();
    const int maximum = state.isAlternate ? 0 : maximumScrollRow(state.lines, state.rows);
    const QSignalBlocker blocker(scroller);
    scroller->setEnabled(canScroll());
    scroller->setRange(0, maximum);
    scroller->setPageStep(std::max(state.rows, 1));
    scroller->setSingleStep(1);
    scroller->setValue(std::clamp(state.yDisp, 0, maximum));
}

void TerminalView::scrollerActionTriggered(int action)
{
    switch (action) {
    case QAbstractSlider::SliderMove: {
        const Buffer& buffer = terminal->buffer();
        const int lines = buffer.lines().count();
        const int maximum = maximumScrollRow(lines, terminal->rows());
        const double value = maximum > 0 ? static_cast<double>(scroller->sliderPosition()) / maximum : 0.0;
        const int row = scrollRowForKnobValue(value, lines, terminal->rows());
        if (row == buffer.yDisp()) {
            userScrolling = row < maximum;
            terminal->setUserScrolling(userScrolling);
        } else {
            scrollTo(row, true);
        }
        break;
    }
    case QAbstractSlider::SliderPageStepSub:
        pageUp();
        break;
    case QAbstractSlider::SliderPageStepAdd:
        pageDown();
        break;
    case QAbstractSlider::SliderNoAction:
        printLine("Scroller .noPart clicked");
        break;
    case QAbstractSlider::SliderSingleStepSub:
        printLine("Scroller .decrementLine clicked");
        break;
    case QAbstractSlider::SliderSingleStepAdd:
        printLine("Scroller .incrementLine clicked");
        break;
    default:
        printLine("Scroller: New value introduced");
        break;
    }
    // The bar shows where the view is, whatever the action proposed.
    scroller->setSliderPosition(std::clamp(terminal->buffer().yDisp(), scroller->minimum(), scroller->maximum()));
}

// ---------------------------------------------------------------- Sizes

QRect TerminalView::getOptimalFrameSize() const
{
    const CellDimension cell = cellDimension.value_or(CellDimension{});
    const double scrollerExtent = (scroller != nullptr && !scroller->isVisibleTo(this))
                                      ? 0.0
                                      : style()->pixelMetric(QStyle::PM_ScrollBarExtent, nullptr, scroller);
    const double width = cell.width * terminal->cols() + scrollerExtent;
    const double height = cell.height * terminal->rows();
    return QRect(0, 0, static_cast<int>(std::ceil(width)), static_cast<int>(std::ceil(height)));
}

std::optional<CellPixelSize> TerminalView::cellSizeInPixels() const
{
    if (!cellDimension)
        return std::nullopt;
    return corvantix::cellSizeInPixels(*cellDimension, backingScaleFactor());
}

// ---------------------------------------------------------------- Frame changes and painting

void TerminalView::resizeEvent(QResizeEvent* event)
{
    QWidget::resizeEvent(event);
    if (metalView)
        metalView->setGeometry(rect());
    layoutScroller();
    layoutFindBar();
    layoutProgressBar();
    if (!cellDimension)
        return;
    processSizeChange(size());
    updateScroller();
    if (useMetalRenderer) {
        if (inLiveResize && liveResizeThrottleEnabled())
            queuePendingMetalDisplay();
        else if (metalView)
            metalView->update();
    } else {
        update();
    }
    updateCaretView();
}

void TerminalView::paintEvent(QPaintEvent* event)
{
    if (metalView)
        return;
    // Every pixel asked for is cleared with the layer's colour first: while that colour is
    // opaque, nothing under the view needs painting when rows of it change.
    setAttribute(Qt::WA_OpaquePaintEvent, layerBackgroundColor.alpha() == 255);
    QPainter painter(this);
    drawTerminalContents(painter, event->rect(), event->region());
}

// ---------------------------------------------------------------- GPU renderer hooks

void TerminalView::queuePendingMetalDisplay()
{
    if (!metalView || pendingMetalDisplay)
        return;
    pendingMetalDisplay = true;
    queue->postAfter(std::chrono::nanoseconds(pendingDisplayDelayNs), [weak = std::weak_ptr<TerminalView*>(lifetime)] {
        const auto alive = weak.lock();
        if (!alive || *alive == nullptr)
            return;
        TerminalView& view = **alive;
        view.pendingMetalDisplay = false;
        if (view.metalView)
            view.metalView->update();
    });
}

bool TerminalView::canPresentMetalFrames() const
{
    if (!useMetalRenderer || !metalView)
        return false;
    const QWidget* top = window();
    if (top == nullptr || !top->isVisible() || top->isMinimized())
        return false;
    // An unexposed window (covered, or not mapped yet) shows nothing of what is drawn.
    if (const QWindow* handle = top->windowHandle(); handle == nullptr || !handle->isExposed())
        return false;
    return isVisible() && width() > 0 && height() > 0;
}

void TerminalView::setMetalViewNeedsDisplay()
{
    if (metalView)
        metalView->update();
}

void TerminalView::attachMetalView(QWidget* gpuView, QWidget* reference)
{
    if (gpuView == nullptr)
        return;
    if (gpuView->parentWidget() != this)
        gpuView->setParent(this);
    gpuView->setGeometry(rect());
    // The surface paints the whole background, so every other child (caret, progress bar,
    // find bar, overlays) stays above it.
    if (reference != nullptr && reference != gpuView && reference->parentWidget() == this) {
        // Just above the reference: under whatever sibling came next after it.
        const QObjectList& siblings = children();
        const auto at = std::find(siblings.begin(), siblings.end(), reference);
        QWidget* next = nullptr;
        for (auto it = at == siblings.end() ? at : std::next(at); it != siblings.end() && next == nullptr; ++it)
            if (auto* widget = qobject_cast<QWidget*>(*it); widget != nullptr && widget != gpuView)
                next = widget;
        if (next != nullptr)
            gpuView->stackUnder(next);
        else
            gpuView->raise();
    } else {
        gpuView->lower();
    }
    if (caretView) {
        // A caret caught mid-fade would come back dimmed when the painter takes over again.
        caretView->showBlinkPhase(0.0);
        caretView->hide();
    }
    if (scroller != nullptr)
        scroller->raise();
    metalView = gpuView;
    layerBackgroundColor = transparent;
    setAttribute(Qt::WA_OpaquePaintEvent, false);
    gpuView->show();
    gpuView->update();
}

void TerminalView::detachMetalView()
{
    metalView = nullptr;
    layerBackgroundColor = (terminal && terminal->reverseColors()) ? nativeFg_ : nativeBg_;
    if (caretView) {
        caretView->show();
        updateCaretView();
        caretView->updateCursorStyle();
    }
    update();
}

void TerminalView::redrawMetalIfVisible()
{
    if (canPresentMetalFrames())
        metalView->update();
}

void TerminalView::setMetalRendererStatus(const MetalRendererStatus& status)
{
    if (!onThreadOf(*this)) {
        queue->post([weak = std::weak_ptr<TerminalView*>(lifetime), status] {
            if (const auto alive = weak.lock(); alive && *alive != nullptr)
                (*alive)->setMetalRendererStatus(status);
        });
        return;
    }
    metalRendererStatus = status;
    Q_EMIT metalRendererStatusChanged();
}

void TerminalView::logMetalRecovery(const MetalRecoveryEvent& event, bool fellBackToCoreGraphics)
{
    logError(metalRecoveryLogLine(event, fellBackToCoreGraphics));
}

void TerminalView::widenMetalDirtyRange(int first, int last)
{
    if (!metalView || !terminal)
        return;
    const int lines = terminal->buffer().lines().count();
    if (lines <= 0 || last < first)
        return;
    const int lower = std::clamp(first, 0, lines - 1);
    const int upper = std::clamp(last, 0, lines - 1);
    if (metalDirtyRange)
        metalDirtyRange = std::pair(std::min(metalDirtyRange->first, lower), std::max(metalDirtyRange->second, upper));
    else
        metalDirtyRange = std::pair(lower, upper);
}

std::optional<std::pair<int, int>> TerminalView::takeMetalDirtyRange()
{
    return std::exchange(metalDirtyRange, std::nullopt);
}

} // namespace corvantix
