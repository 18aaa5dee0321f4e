// The view's answers to the emulator's callbacks, its colour properties, the bell and the
// cursor's and selection's conveniences.
//
// The terminal calls back while it is being built (mouse mode, palette, colours), before
// `terminal` is set: the callbacks use their `source` and check `terminal` before reading it.
#include "view/qt/TerminalView.h"

#include "platform/Log.h"
#include "view/WindowReports.h"
#include "view/qt/QtColorConversions.h"

#include <QPainter>
#include <QVariantAnimation>

#include <algorithm>
#include <cmath>
#include <string>

namespace corvantix {

namespace {

// One flash of the visual bell: a layer over the whole view in the text colour whose
// opacity rises to 0.35 and falls back to 0 in 0.2 s, then goes away. Overlapping bells
// stack their flashes.
class VisualBellFlash final : public QWidget {
public:
    VisualBellFlash(QWidget& parent, const QColor& color) : QWidget(&parent), color(color)
    {
        setObjectName(QStringLiteral("visualBell"));
        setAttribute(Qt::WA_TransparentForMouseEvents);
        setGeometry(parent.rect());
        auto* animation = new QVariantAnimation(this);
        animation->setDuration(200);
        animation->setStartValue(0.0);
        animation->setKeyValueAt(0.3, 0.35);
        animation->setEndValue(0.0);
        QObject::connect(animation, &QVariantAnimation::valueChanged, this, [this](const QVariant& value) {
            opacity = value.toDouble();
            update();
        });
        QObject::connect(animation, &QVariantAnimation::finished, this, &QObject::deleteLater);
        show();
        raise();
        animation->start();
    }

protected:
    void paintEvent(QPaintEvent*) override
    {
        QPainter painter(this);
        painter.setOpacity(opacity);
        painter.fillRect(rect(), color);
    }

private:
    QColor color;
    double opacity = 0;
};

} // namespace

// ---------------------------------------------------------------- Cursor

void TerminalView::showCursor(Terminal&)
{
    if (useMetalRenderer) {
        queuePendingMetalDisplay();
        return;
    }
    setCaretVisible(true);
}

void TerminalView::hideCursor(Terminal&)
{
    if (useMetalRenderer) {
        queuePendingMetalDisplay();
        return;
    }
    setCaretVisible(false);
}

void TerminalView::cursorStyleChanged(Terminal&, CursorStyle style)
{
    if (caretView) {
        caretView->style = style;
        if (cellDimension) {
            caretView->resize(static_cast<int>(std::ceil(cellDimension->width)),
                              static_cast<int>(std::ceil(cellDimension->height)));
        }
        caretView->updateCursorStyle();
    }
    if (useMetalRenderer)
        queuePendingMetalDisplay();
}

void TerminalView::ensureCursorVisible()
{
    const Terminal& t = *terminal;
    if (t.synchronizedOutputActive())
        return;
    const Buffer& buffer = t.buffer();
    const int cursorLine = buffer.y() + buffer.yBase();
    if (cursorLine < buffer.yDisp() || cursorLine >= buffer.yDisp() + t.rows())
        scrollTo(buffer.yBase());
}

// ---------------------------------------------------------------- Forwarded events

void TerminalView::setTerminalTitle(Terminal&, const std::string& title)
{
    if (terminalDelegate != nullptr)
        terminalDelegate->titleChanged(*this, title);
}

void TerminalView::setTerminalIconTitle(Terminal&, const std::string&) {}

void TerminalView::sizeChanged(Terminal& source)
{
    if (terminalDelegate != nullptr)
        terminalDelegate->sizeChanged(*this, source.cols(), source.rows());
    updateScroller();
}

void TerminalView::send(Terminal&, std::span<const std::uint8_t> bytes)
{
    // The emulator's own replies: not user input, so no time stamp and no command scan.
    if (terminalDelegate == nullptr)
        return;
    replyInProgress = true;
    terminalDelegate->send(*this, bytes);
    replyInProgress = false;
}

void TerminalView::scrolled(Terminal&, int)
{
    updateScroller();
    if (terminalDelegate != nullptr)
        terminalDelegate->scrolled(*this, scrollPosition());
}

void TerminalView::linefeed(Terminal&)
{
    if (allowMouseReporting && selection && selection->active_)
        selection->clearSelection();
}

void TerminalView::bufferActivated(Terminal&)
{
    updateScroller();
}

void TerminalView::synchronizedOutputChanged(Terminal&, bool active)
{
    if (!active)
        resumeDisplay();
}

void TerminalView::resumeDisplay()
{
    updateScroller();
    queuePendingDisplay();
    if (terminalDelegate != nullptr)
        terminalDelegate->scrolled(*this, scrollPosition());
}

void TerminalView::selectionChanged(Terminal&)
{
    updateEditActions();
    if (metalView && terminal) {
        // The renderer keeps rows whose text did not change: the rows the highlight leaves
        // and the rows it reaches are rebuilt, and no others.
        std::optional<std::pair<int, int>> lines;
        if (selection && selection->active())
            lines = std::minmax(selection->start.row, selection->end.row);
        if (metalSelectionLines)
            widenMetalDirtyRange(metalSelectionLines->first, metalSelectionLines->second);
        if (lines)
            widenMetalDirtyRange(lines->first, lines->second);
        metalSelectionLines = lines;
        queuePendingMetalDisplay();
        return;
    }
    update();
}

bool TerminalView::trustsHost(Terminal&)
{
    return true;
}

std::optional<CellPixelSize> TerminalView::cellSizeInPixels(Terminal&)
{
    return cellSizeInPixels();
}

void TerminalView::mouseModeChanged(Terminal& source)
{
    updateMouseTracking(source);
}

void TerminalView::updateMouseTracking(Terminal& source)
{
    // Link hover keeps the moves coming while Super is held or in the hover mode.
    if (source.mouseMode() == MouseMode::anyEvent)
        startWindowMouseMovedFallback();
    else
        stopWindowMouseMovedFallback();
}

void TerminalView::hostCurrentDirectoryUpdated(Terminal& source)
{
    if (terminalDelegate != nullptr)
        terminalDelegate->currentDirectoryChanged(*this, source.hostCurrentDirectory());
}

void TerminalView::hostCurrentDocumentUpdated(Terminal&) {}

void TerminalView::inlineContentReceived(Terminal&, std::span<const std::uint8_t> content)
{
    if (terminalDelegate != nullptr)
        terminalDelegate->inlineContentReceived(*this, content);
}

void TerminalView::clipboardCopy(Terminal&, std::span<const std::uint8_t> content)
{
    if (terminalDelegate != nullptr)
        terminalDelegate->clipboardCopy(*this, content);
}

std::optional<std::vector<std::uint8_t>> TerminalView::clipboardRead(Terminal&)
{
    // Programs may set the clipboard but not read it: it can hold anything the user copied
    // elsewhere (passwords included), and whatever runs in the terminal, on this host or a
    // remote one, would get it without the user knowing. The read goes unanswered.
    return std::nullopt;
}

void TerminalView::notify(Terminal&, const std::string&, const std::string&) {}

std::optional<std::vector<std::uint8_t>> TerminalView::windowCommand(Terminal& source,
                                                                     const WindowManipulationCommand& command)
{
    if (command.kind == WindowManipulationCommand::Case::resizeWindowTo) {
        printLine("Request to resize to " + std::to_string(command.first) + "x" + std::to_string(command.second));
        return std::nullopt;
    }
    return windowCommandReply(command, cellDimension, backingScaleFactor(), source.cols(), source.rows(),
                              source.cc().send8bit);
}

// ---------------------------------------------------------------- Bell

void TerminalView::bell(Terminal&)
{
    bell();
}

void TerminalView::bell()
{
    switch (bellStyle) {
    case BellStyle::none:
        break;
    case BellStyle::sound:
        if (terminalDelegate != nullptr)
            terminalDelegate->bell(*this);
        break;
    case BellStyle::visual:
        visualBell();
        break;
    case BellStyle::soundAndVisual:
        if (terminalDelegate != nullptr)
            terminalDelegate->bell(*this);
        visualBell();
        break;
    }
}

void TerminalView::visualBell()
{
    new VisualBellFlash(*this, nativeFg_); // a child of the view; deletes itself when done
}

// ---------------------------------------------------------------- Colours from the terminal

void TerminalView::colorChanged(Terminal&, std::optional<int> index)
{
    if (index) {
        if (*index >= 0 && *index <= 255)
            colors[static_cast<std::size_t>(*index)].reset();
    } else {
        colors.fill(std::nullopt);
    }
    colorsChanged();
}

void TerminalView::setForegroundColor(Terminal&, const Color& color)
{
    setNativeForegroundColor(nsColorFromTerminalColor(color));
    colorsChanged();
}

void TerminalView::setBackgroundColor(Terminal&, const Color& color)
{
    setNativeBackgroundColor(nsColorFromTerminalColor(color));
    colorsChanged();
}

// ---------------------------------------------------------------- Colour properties

void TerminalView::setNativeForegroundColor(const QColor& color)
{
    // The terminal echoes the store through setForegroundColor; the guard absorbs the echo.
    if (settingFg)
        return;
    settingFg = true;
    nativeFg_ = color;
    if (terminal)
        terminal->setForegroundColor(terminalColorFromNSColor(color));
    settingFg = false;
}

void TerminalView::setNativeBackgroundColor(const QColor& color)
{
    if (settingBg)
        return;
    settingBg = true;
    nativeBg_ = color;
    if (terminal)
        terminal->setBackgroundColor(terminalColorFromNSColor(color));
    settingBg = false;
    if (metalView)
        layerBackgroundColor = transparent;
    else
        layerBackgroundColor = (terminal && terminal->reverseColors()) ? nativeFg_ : nativeBg_;
    update();
}

double TerminalView::backgroundOpacity() const
{
    return nativeBg_.alphaF();
}

void TerminalView::setBackgroundOpacity(double value)
{
    const double opacity = std::isnan(value) ? 1.0 : std::clamp(value, 0.0, 1.0);
    QColor color = nativeBg_;
    color.setAlphaF(static_cast<float>(opacity));
    setNativeBackgroundColor(color);
    colorsChanged();
}

void TerminalView::setBidiHostPolicy(BidiHostPolicy policy)
{
    bidiHostPolicy_ = policy;
    updateFullScreenAndQueue();
    updateCaretView();
}

void TerminalView::setCustomBlockGlyphs(bool value)
{
    customBlockGlyphs_ = value;
    updateFullScreenAndQueue();
}

void TerminalView::setAntiAliasCustomBlockGlyphs(bool value)
{
    antiAliasCustomBlockGlyphs_ = value;
    updateFullScreenAndQueue();
}

void TerminalView::setCaretColor(const QColor& color)
{
    cursorColorIsDefault = false;
    caretColor_ = color;
    if (caretView)
        caretView->update();
}

void TerminalView::setCaretTextColor(const std::optional<QColor>& color)
{
    cursorTextColorIsDefault = !color.has_value();
    caretTextColor_ = color;
    if (caretView)
        caretView->update();
}

void TerminalView::setSelectedTextBackgroundColor(const std::optional<QColor>& color)
{
    selectedTextBackgroundColor_ = color;
    updateFullScreenAndQueue();
}

void TerminalView::setSelectedTextForegroundColor(const std::optional<QColor>& color)
{
    selectedTextForegroundColor_ = color;
    updateFullScreenAndQueue();
}

QColor TerminalView::effectiveForegroundColor() const
{
    return (terminal && terminal->reverseColors()) ? nativeBg_ : nativeFg_;
}

QColor TerminalView::effectiveBackgroundColor() const
{
    return (terminal && terminal->reverseColors()) ? nativeFg_ : nativeBg_;
}

QColor TerminalView::effectiveCaretColor() const
{
    if (!cursorColorIsDefault)
        return caretColor_;
    return (terminal && terminal->reverseColors()) ? nativeBg_ : nativeFg_;
}

QColor TerminalView::effectiveCaretTextColor() const
{
    if (!cursorTextColorIsDefault && caretTextColor_)
        return *caretTextColor_;
    return (terminal && terminal->reverseColors()) ? nativeFg_ : nativeBg_;
}

// ---------------------------------------------------------------- Selection

bool TerminalView::selectionActive() const
{
    return selection && selection->active_;
}

void TerminalView::deactivateSelection()
{
    if (!selection || !selection->active_)
        return;
    // Tells the view (the terminal's delegate) itself.
    selection->setActive(false);
}

void TerminalView::selectNone()
{
    if (!selectionActive())
        return;
    deactivateSelection();
    selection->wordSelectionAnchor.reset();
    selection->rowSelectionAnchor.reset();
}

} // namespace corvantix
