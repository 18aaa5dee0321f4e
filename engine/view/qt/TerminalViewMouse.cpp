// The pointer: presses, drags, releases and the wheel become mouse reports for the program
// or local actions (selection, auto-scroll at the edges, scrolling, prompt clicks); and the
// edit commands that move the selection through the clipboard.
//
// Only the primary button acts here; the others are left to the widget machinery.
#include "view/qt/TerminalView.h"

#include "drawing/TerminalBidi.h"

#include "view/EditCommands.h"
#include "view/qt/QtPasteboard.h"

#include <QAction>
#include <QGuiApplication>
#include <QKeyEvent>
#include <QKeySequence>
#include <QMouseEvent>
#include <QStyleHints>
#include <QTimer>
#include <QWheelEvent>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdlib>
#include <memory>
#include <string_view>
#include <utility>

namespace corvantix {

namespace {

constexpr int primaryButton = 0;
constexpr int wheelUpButton = 4;
constexpr int wheelDownButton = 5;
constexpr int motionFlag = 32;
// One wheel event never sends more reports or arrow keys than this.
constexpr int maximumWheelLines = 1000;

SemanticPromptClickModifiers promptModifiers(Qt::KeyboardModifiers modifiers)
{
    std::uint8_t raw = 0;
    if (modifiers & Qt::ShiftModifier)
        raw |= 1;
    if (modifiers & Qt::ControlModifier)
        raw |= 2;
    if (modifiers & Qt::AltModifier)
        raw |= 4;
    if (modifiers & Qt::MetaModifier)
        raw |= 8;
    return SemanticPromptClickModifiers{raw};
}

int truncated(double value)
{
    if (!std::isfinite(value))
        return 0;
    return static_cast<int>(std::clamp(std::trunc(value), -1e9, 1e9));
}

} // namespace

// ---------------------------------------------------------------- Hit test and codes

TerminalView::GridHit TerminalView::gridPositionForPoint(QPointF point) const
{
    GridHit hit;
    if (!terminal || !cellDimension || cellDimension->width <= 0 || cellDimension->height <= 0)
        return hit;
    const Buffer& buffer = terminal->buffer();
    hit.col = std::clamp(truncated(point.x() / cellDimension->width), 0, std::max(terminal->cols() - 1, 0));
    const int screenRow = truncated(point.y() / cellDimension->height);
    hit.row = std::clamp(screenRow + buffer.yDisp(), 0, std::max(buffer.lines().count() - 1, 0));
    // The point is on a screen column; the grid is stored in logical order.
    if (bidiHostPolicy_ == BidiHostPolicy::respectTerminal)
        hit.col = TerminalBidi::layoutForRow(hit.row, buffer, terminal->cols(), *terminal).logicalColumn(hit.col);
    const double viewWidth = std::max(static_cast<double>(width()) - scrollerWidth(), 0.0);
    hit.pixelX = truncated(std::clamp(point.x(), 0.0, viewWidth));
    hit.pixelY = truncated(std::clamp(point.y(), 0.0, static_cast<double>(height())));
    return hit;
}

int TerminalView::mouseButtonFlags(int button, Qt::KeyboardModifiers modifiers, bool release) const
{
    return terminal->encodeButton(button, release, modifiers.testFlag(Qt::ShiftModifier),
                                  modifiers.testFlag(Qt::AltModifier), modifiers.testFlag(Qt::ControlModifier));
}

bool TerminalView::shiftBypassesMouseReporting(Qt::KeyboardModifiers modifiers) const
{
    return modifiers.testFlag(Qt::ShiftModifier) && !terminal->mouseShiftCapture();
}

void TerminalView::reportMouseEvent(QPointF point, int buttonFlags)
{
    const GridHit hit = gridPositionForPoint(point);
    const int screenRow = std::clamp(hit.row - terminal->buffer().yDisp(), 0, std::max(terminal->rows() - 1, 0));
    terminal->sendMouseReport(buttonFlags, hit.col, screenRow, hit.pixelX, hit.pixelY);
}

// ---------------------------------------------------------------- Press, drag, release

void TerminalView::mousePressEvent(QMouseEvent* event)
{
    if (event->button() != Qt::LeftButton) {
        QWidget::mousePressEvent(event);
        return;
    }
    handlePress(*event);
    event->accept();
}

void TerminalView::mouseDoubleClickEvent(QMouseEvent* event)
{
    mousePressEvent(event);
}

void TerminalView::handlePress(QMouseEvent& event)
{
    const QStyleHints* hints = QGuiApplication::styleHints();
    const QPoint at = event.position().toPoint();
    const int clickCount = clickCounter.press(event.timestamp(), at.x(), at.y(), hints->mouseDoubleClickInterval(),
                                              hints->startDragDistance());

    // A second press within the delay means a double click: the prompt click never happens.
    if (pendingSemanticClick != 0) {
        mainQueue().cancel(pendingSemanticClick);
        pendingSemanticClick = 0;
    }
    didSelectionDrag = false;
    pressHit.reset();
    pointerPressSnapshot = SemanticPromptPointerSnapshot{selectionActive(), false, clickCount, false};

    const GridHit hit = gridPositionForPoint(event.position());
    pressedLink = linkUnderClick(hit, event.modifiers());
    const bool candidate = allowMouseReporting && !shiftBypassesMouseReporting(event.modifiers());
    if (pointerDisposition(PointerEventKind::press, terminal->mouseMode(), candidate) == PointerDisposition::report) {
        // A press on a link is the link's: the program gets neither it nor, later, its drags
        // and its release.
        if (!pressedLink)
            reportMouseEvent(event.position(), mouseButtonFlags(primaryButton, event.modifiers(), false));
        return;
    }

    pointerPressSnapshot.pressWasSemanticEligible = true;
    pressHit = hit;
    if (clickCount == 2) {
        selection->selectWordAt(hit.col, hit.row, terminal->buffer());
    } else if (clickCount == 1) {
        if (selection->active()) {
            if (event.modifiers().testFlag(Qt::ShiftModifier))
                selection->extendWithShift(hit.col, hit.row);
            else
                selection->setActive(false);
        }
    } else {
        selection->selectRowAt(hit.row);
    }
    update();
}

void TerminalView::mouseMoveEvent(QMouseEvent* event)
{
    const MouseMode mode = terminal->mouseMode();
    if (!event->buttons().testFlag(Qt::LeftButton)) {
        if (event->buttons() == Qt::NoButton) {
            // While Ctrl is held the OSC 8 target under the pointer is previewed.
            const GridHit hit = gridPositionForPoint(event->position());
            if (commandActive) {
                if (const std::optional<std::string> payload = linkPayloadAt(*terminal, hit.col, hit.row))
                    updateUrlPreview(*payload);
                recordReportedLink(hit.col, hit.row);
            }
            updateLinkHighlight(hit.col, hit.row, std::nullopt);
        }
        // Motion without a button: reported in any-event mode only.
        if (event->buttons() == Qt::NoButton
            && pointerDisposition(PointerEventKind::move, mode, true) == PointerDisposition::report)
            reportMouseEvent(event->position(), mouseButtonFlags(primaryButton, event->modifiers(), true) + motionFlag);
        QWidget::mouseMoveEvent(event);
        return;
    }
    event->accept();
    const GridHit hit = gridPositionForPoint(event->position());
    const bool candidate = allowMouseReporting && !shiftBypassesMouseReporting(event->modifiers());
    switch (pointerDisposition(PointerEventKind::drag, mode, candidate)) {
    case PointerDisposition::report:
        if (pressedLink)
            return;
        reportMouseEvent(event->position(), mouseButtonFlags(primaryButton, event->modifiers(), false) + motionFlag);
        return;
    case PointerDisposition::ignore:
        return;
    case PointerDisposition::local:
        break;
    }

    if (!selection->active()) {
        const GridHit start = pressHit.value_or(hit);
        selection->beginSelection(start.col, start.row);
        selection->collapseToStart();
        if (start.col != hit.col || start.row != hit.row)
            selection->extendSelection(hit.col, hit.row);
    } else {
        selection->extendSelection(hit.col, hit.row);
    }
    didSelectionDrag = true;
    lastSelectionDragPoint = event->position();
    autoScrollDelta = 0;

    // Beyond the screen's top or bottom the selection scrolls, faster the farther away.
    const int d = hit.row - terminal->buffer().yDisp();
    if (!selection->active()) {
        stopSelectionAutoScrollTimer();
    } else if (d <= 0) {
        autoScrollDelta = -calcScrollingVelocity(-d, terminal->rows());
        startSelectionAutoScrollTimer();
    } else if (d < terminal->rows()) {
        stopSelectionAutoScrollTimer();
    } else {
        autoScrollDelta = calcScrollingVelocity(d - terminal->rows(), terminal->rows());
        startSelectionAutoScrollTimer();
    }
    update();
}

void TerminalView::mouseReleaseEvent(QMouseEvent* event)
{
    if (event->button() != Qt::LeftButton) {
        QWidget::mouseReleaseEvent(event);
        return;
    }
    event->accept();
    stopSelectionAutoScrollTimer();
    autoScrollDelta = 0;
    lastSelectionDragPoint.reset();

    const GridHit hit = gridPositionForPoint(event->position());
    const bool candidate = allowMouseReporting && !shiftBypassesMouseReporting(event->modifiers());
    auto reset = [this] {
        didSelectionDrag = false;
        pointerPressSnapshot.pressWasSemanticEligible = false;
    };
    // A click that began on a link is the link's: it opens when the release finds the same
    // link (after no selection drag), and the program hears nothing of it either way. Ctrl is
    // the link modifier; a Ctrl-click anywhere else is reported with its control bit.
    const std::optional<LinkParameters> link = linkUnderClick(hit, event->modifiers());
    if (const std::optional<LinkParameters> pressed = std::exchange(pressedLink, std::nullopt)) {
        if (!didSelectionDrag && link == pressed && terminalDelegate != nullptr)
            terminalDelegate->requestOpenLink(*this, link->link, link->params);
        reset();
        return;
    }
    if (pointerDisposition(PointerEventKind::release, terminal->mouseMode(), candidate) == PointerDisposition::report) {
        reportMouseEvent(event->position(), mouseButtonFlags(primaryButton, event->modifiers(), true));
        reset();
        return;
    }

    if (pointerPressSnapshot.clickCount == 1) {
        const SemanticPromptClickModifiers modifiers = promptModifiers(event->modifiers());
        SemanticPromptPointerSnapshot snapshot = pointerPressSnapshot;
        snapshot.didDrag = didSelectionDrag;
        if (terminal->isSemanticPromptClickEligible(modifiers, snapshot)) {
            semanticDeferralScheduleCount += 1;
            std::weak_ptr<BufferLine> line;
            const Buffer& buffer = terminal->buffer();
            if (hit.row >= 0 && hit.row < buffer.lines().count())
                line = buffer.lines()[hit.row];
            const std::uint64_t generation = line.lock() ? line.lock()->recycleGeneration() : 0;
            const int col = hit.col;
            const int hintRow = hit.row;
            std::weak_ptr<TerminalView*> alive = lifetime;
            const auto delay = std::chrono::duration_cast<std::chrono::nanoseconds>(
                std::chrono::duration<double>(std::max(semanticClickCoalescingDelay, 0.0)));
            pendingSemanticClick = mainQueue().postAfter(delay, [alive, line, generation, col, hintRow, modifiers,
                                                                 snapshot] {
                const std::shared_ptr<TerminalView*> view = alive.lock();
                if (!view)
                    return;
                TerminalView& self = **view;
                self.pendingSemanticClick = 0;
                const std::shared_ptr<BufferLine> target = line.lock();
                if (!target || target->recycleGeneration() != generation)
                    return;
                const std::optional<int> row = self.terminal->buffer().findRowOfLine(target.get(), hintRow);
                if (!row)
                    return;
                if (!snapshot.pressWasSemanticEligible || snapshot.selectionWasActive || snapshot.didDrag
                    || snapshot.clickCount != 1)
                    return;
                if (self.terminal->handleSemanticPromptClick(col, *row, modifiers))
                    self.update();
            });
        }
    }
    reset();
}

std::optional<LinkParameters> TerminalView::linkUnderClick(const GridHit& hit, Qt::KeyboardModifiers modifiers)
{
    const bool ctrlHeld = modifiers.testFlag(Qt::ControlModifier);
    updateLinkHighlight(hit.col, hit.row, commandActive || ctrlHeld);
    return linkAt(hit.col, hit.row, ctrlHeld);
}

// ---------------------------------------------------------------- Auto-scroll

void TerminalView::startSelectionAutoScrollTimer()
{
    if (selectionAutoScrollTimer == nullptr) {
        selectionAutoScrollTimer = new QTimer(this);
        selectionAutoScrollTimer->setInterval(selectionAutoScrollIntervalMs);
        connect(selectionAutoScrollTimer, &QTimer::timeout, this, [this] { scrollingTimerElapsed(); });
    }
    if (!selectionAutoScrollTimer->isActive())
        selectionAutoScrollTimer->start();
}

void TerminalView::stopSelectionAutoScrollTimer()
{
    delete selectionAutoScrollTimer;
    selectionAutoScrollTimer = nullptr;
}

void TerminalView::scrollingTimerElapsed()
{
    if (autoScrollDelta == 0)
        return;
    if (autoScrollDelta < 0)
        scrollTo(std::max(terminal->buffer().yDisp() + autoScrollDelta, 0));
    else
        scrollDown(autoScrollDelta);
    if (selection->active() && lastSelectionDragPoint) {
        const GridHit hit = gridPositionForPoint(*lastSelectionDragPoint);
        selection->extendSelection(hit.col, hit.row);
    }
    update();
}

// ---------------------------------------------------------------- Wheel

void TerminalView::wheelEvent(QWheelEvent* event)
{
    event->accept();
    const bool precise = !event->pixelDelta().isNull();
    const double delta = precise ? event->pixelDelta().y() : event->angleDelta().y() / 120.0;
    if (delta == 0 || !std::isfinite(delta) || !cellDimension || cellDimension->height <= 0)
        return;

    const bool candidate = allowMouseReporting && !shiftBypassesMouseReporting(event->modifiers());
    const bool reporting =
        pointerDisposition(PointerEventKind::wheel, terminal->mouseMode(), candidate) == PointerDisposition::report;
    const bool alternate = terminal->isCurrentBufferAlternate();
    if (!reporting && alternate && !terminal->alternateScrollMode()) {
        scrollAccumulator = 0;
        return;
    }
    const WheelLines step = wheelLines(delta, std::max(scrollSensitivity, 0.05), precise, scrollAccumulator,
                                       cellDimension->height);
    scrollAccumulator = step.accumulator;
    if (step.lines == 0)
        return;
    const bool up = step.lines > 0;
    const int count = std::min(std::abs(step.lines), maximumWheelLines);

    if (reporting) {
        const int flags = mouseButtonFlags(up ? wheelUpButton : wheelDownButton, event->modifiers(), false);
        for (int i = 0; i < count; ++i)
            reportMouseEvent(event->position(), flags);
        return;
    }
    if (alternate) {
        const char final = up ? 'A' : 'B';
        const std::uint8_t arrow[3] = {0x1B, static_cast<std::uint8_t>(terminal->applicationCursor() ? 'O' : '['),
                                       static_cast<std::uint8_t>(final)};
        for (int i = 0; i < count; ++i)
            sendUserInput(arrow);
        return;
    }
    if (up)
        scrollTo(std::max(terminal->buffer().yDisp() - count, 0));
    else
        scrollDown(count);
}

// ---------------------------------------------------------------- Clipboard and edit actions

void TerminalView::copy()
{
    if (!generalPasteboard)
        return;
    generalPasteboard->setString(selection->active() ? selection->getSelectedText() : std::string());
}

void TerminalView::paste()
{
    const std::optional<std::string> text = generalPasteboard ? generalPasteboard->string() : std::nullopt;
    insertText(text.value_or(std::string()), true);
}

void TerminalView::selectAll()
{
    selection->selectAll();
}

void TerminalView::installEditActions()
{
    generalPasteboard = std::make_shared<QtPasteboard>();
    auto make = [this](const QString& text, QKeyCombination key, void (TerminalView::*slot)()) {
        auto* action = new QAction(text, this);
        action->setShortcut(QKeySequence(key));
        // Only while the terminal (or a child of it) has the focus.
        action->setShortcutContext(Qt::WidgetWithChildrenShortcut);
        connect(action, &QAction::triggered, this, [this, slot] { (this->*slot)(); });
        addAction(action);
        return action;
    };
    copyAction = make(tr("&Copy"), Qt::CTRL | Qt::SHIFT | Qt::Key_C, &TerminalView::copy);
    pasteAction = make(tr("&Paste"), Qt::CTRL | Qt::SHIFT | Qt::Key_V, &TerminalView::paste);
    // The desktop's other paste key: a program that wants Shift+Insert never gets it.
    pasteAction->setShortcuts(
        {QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_V), QKeySequence(Qt::SHIFT | Qt::Key_Insert)});
    selectAllAction = make(tr("Select &All"), Qt::CTRL | Qt::SHIFT | Qt::Key_A, &TerminalView::selectAll);
    updateEditActions();
}

void TerminalView::updateEditActions()
{
    if (copyAction == nullptr)
        return;
    const bool active = selectionActive();
    copyAction->setEnabled(validateUserInterfaceItem(EditAction::copy, 0, active));
    pasteAction->setEnabled(validateUserInterfaceItem(EditAction::paste, 0, active));
    selectAllAction->setEnabled(validateUserInterfaceItem(EditAction::selectAll, 0, active));
    for (QAction* action : {findAction, findNextAction, findPreviousAction, useSelectionForFindAction}) {
        if (action != nullptr)
            action->setEnabled(validateUserInterfaceItem(EditAction::performFindPanelAction, action->data().toInt(), active));
    }
}

bool TerminalView::isEditShortcut(const QKeyEvent& event) const
{
    const QKeySequence pressed(event.keyCombination());
    for (const QAction* action : {copyAction, pasteAction, selectAllAction}) {
        if (action != nullptr && action->shortcuts().contains(pressed))
            return true;
    }
    return false;
}

} // namespace corvantix
