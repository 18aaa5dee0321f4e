// Typing: key events adapted to KeyInput and decided by the keyboard handler (which reaches
// back into the view through a small sink), the input method's commits and pre-edit text,
// pastes, and the focus reports.
//
// Input methods on Linux filter keys before the widget sees them: a key the input method
// consumes never arrives here, and its result comes later as a commit. A commit is
// therefore never the answer to the last key the view saw, and the pending Kitty key is
// dropped before it is inserted. Qt's pre-edit text is the marked text: an event with an
// empty pre-edit ends the composition.
#include "view/qt/TerminalView.h"

#include "drawing/TerminalBidi.h"
#include "emulator/EscapeSequences.h"

#include "view/qt/QtKeyAdapter.h"

#include <QFocusEvent>
#include <QFontMetricsF>
#include <QInputMethodEvent>
#include <QKeyEvent>
#include <QPaintEvent>
#include <QPainter>
#include <QTextCharFormat>
#include <QTextLayout>
#include <QWindow>

#include <algorithm>
#include <cmath>
#include <string>
#include <vector>

namespace corvantix {

namespace {

std::string_view textOf(const std::vector<std::uint8_t>& bytes)
{
    return {reinterpret_cast<const char*>(bytes.data()), bytes.size()};
}

// The marked text over the terminal: each line one cell high and each character one cell
// wide, the first line starting at the caret. Only the lines of text get a background; the
// rest stays transparent.
class MarkedTextOverlay final : public QWidget {
public:
    explicit MarkedTextOverlay(QWidget& parent) : QWidget(&parent)
    {
        setObjectName(QStringLiteral("markedTextOverlay"));
        setAttribute(Qt::WA_TransparentForMouseEvents);
        setFocusPolicy(Qt::NoFocus);
    }

    // Lays the text out; returns the height of the lines.
    double setContent(const QString& text, QFont font, const QColor& foreground, const QColor& background,
                      const MarkedTextOverlayMetrics& metrics, const CellDimension& cell)
    {
        this->foreground = foreground;
        overlayBackgroundColor = background;
        cellHeight = cell.height;
        font.setLetterSpacing(QFont::AbsoluteSpacing, metrics.kern);
        layout.clearLayout();
        layout.setText(text);
        layout.setFont(font);
        QTextOption option;
        option.setWrapMode(QTextOption::WrapAtWordBoundaryOrAnywhere);
        layout.setTextOption(option);
        layout.setCacheEnabled(true);

        double y = 0;
        bool first = true;
        layout.beginLayout();
        for (QTextLine line = layout.createLine(); line.isValid(); line = layout.createLine()) {
            double x = 0;
            double width = metrics.width;
            if (first && metrics.indent > 0) {
                // The first line starts at the caret; when not even one cell fits there the
                // text starts on the next row.
                if (metrics.width - metrics.indent >= cell.width) {
                    x = metrics.indent;
                    width = metrics.width - metrics.indent;
                } else {
                    y += cell.height;
                }
            }
            first = false;
            line.setLineWidth(width);
            line.setPosition(QPointF(x, y + std::max(cell.height - line.height(), 0.0) / 2));
            y += cell.height;
        }
        layout.endLayout();
        return y;
    }

    // The input method's formats (underlined or highlighted clauses). Text without a
    // highlight of its own is drawn in the terminal's colour.
    void setFormats(QList<QTextLayout::FormatRange> ranges)
    {
        for (QTextLayout::FormatRange& range : ranges) {
            if (!range.format.hasProperty(QTextFormat::BackgroundBrush))
                range.format.clearForeground();
        }
        formats = std::move(ranges);
        update();
    }

protected:
    void paintEvent(QPaintEvent* event) override
    {
        QPainter painter(this);
        for (int i = 0; i < layout.lineCount(); ++i) {
            const QTextLine line = layout.lineAt(i);
            const QRectF used(line.x(), line.y() - std::max(cellHeight - line.height(), 0.0) / 2,
                              line.naturalTextWidth(), cellHeight);
            if (used.intersects(event->rect()))
                painter.fillRect(used, overlayBackgroundColor);
        }
        painter.setPen(foreground);
        layout.draw(&painter, QPointF(0, 0), formats);
    }

private:
    QTextLayout layout;
    QList<QTextLayout::FormatRange> formats;
    QColor foreground;
    QColor overlayBackgroundColor = Qt::transparent;
    double cellHeight = 0;
};

} // namespace

// ---------------------------------------------------------------- The handler's view

class TerminalView::KeySink final : public KeyboardInputSink {
public:
    explicit KeySink(TerminalView& view) : view(view) {}

    void sendUserInput(std::span<const std::uint8_t> bytes) override { view.sendUserInput(bytes); }
    void scrollPageUp() override { view.scrollUp(view.terminal->rows()); }
    void scrollPageDown() override { view.scrollDown(view.terminal->rows()); }
    void insertText(std::string_view text) override { view.insertText(text, false); }
    void clearSelection() override { view.deactivateSelection(); }
    bool cursorRowIsRightToLeft() override
    {
        if (view.bidiHostPolicy_ != BidiHostPolicy::respectTerminal)
            return false;
        const Terminal& t = *view.terminal;
        const Buffer& buffer = t.buffer();
        return TerminalBidi::rowDirection(buffer.yBase() + buffer.y(), buffer, t.cols(), t) == BidiDirection::rightToLeft;
    }
    // Link hover follows the Ctrl key (the key the link modes call Command).
    void commandKeyDown() override { view.commandKeyDown(); }
    void commandReleased() override { view.commandReleased(); }

private:
    TerminalView& view;
};

void TerminalView::installKeyboard()
{
    // Input methods also ask the view itself (ImEnabled); the attribute is for the widget
    // machinery that reads only it.
    setAttribute(Qt::WA_InputMethodEnabled);
    keySink = std::make_unique<KeySink>(*this);
    keyboard = std::make_unique<KeyboardInputHandler>(*terminal, *keySink);
}

// ---------------------------------------------------------------- Keys

void TerminalView::handleKey(const QKeyEvent& event)
{
    keyboard->optionAsMetaKey = optionAsMetaKey;
    keyboard->backspaceSendsControlH = backspaceSendsControlH;
    keyboard->handleKeyEvent(QtKeyAdapter::keyInput(event));
    // Super+Alt+"o" switches Alt-as-Meta.
    optionAsMetaKey = keyboard->optionAsMetaKey;
}

void TerminalView::keyPressEvent(QKeyEvent* event)
{
    // An edit shortcut that arrives as a key belongs to a disabled action (copy without a
    // selection): typing it would send the program a control character instead.
    if (isEditShortcut(*event)) {
        event->accept();
        return;
    }
    handleKey(*event);
    event->accept();
}

void TerminalView::keyReleaseEvent(QKeyEvent* event)
{
    // While a key repeats, X11 sends a release before every repeated press; the key is
    // still down, so only the last, real release counts.
    if (!event->isAutoRepeat() && !isEditShortcut(*event))
        handleKey(*event);
    event->accept();
}

bool TerminalView::focusNextPrevChild(bool)
{
    return false;
}

// Qt also moves the focus out of (and back into) the view when its window is deactivated
// (and activated again), so these two follow the window's activation as well.
void TerminalView::focusInEvent(QFocusEvent* event)
{
    QWidget::focusInEvent(event);
    applyFocus(true);
}

void TerminalView::focusOutEvent(QFocusEvent* event)
{
    QWidget::focusOutEvent(event);
    applyFocus(false);
}

void TerminalView::applyFocus(bool focused)
{
    terminal->setFocusState(focused);
    // A key released while another widget has the focus never arrives here: Ctrl pressed for
    // a shortcut that moves the focus (to a new tab) would otherwise stay held for links.
    if (!focused)
        commandReleased();
    // The caret blinks and is filled only while focused; unfocused it is a still outline.
    if (caretView) {
        caretView->focused = focused;
        caretView->updateCursorStyle();
    }
    queuePendingMetalDisplay();
}

// ---------------------------------------------------------------- Inserted text and paste

void TerminalView::insertText(std::string_view text, bool isPaste)
{
    // The marked text gives way to the final text, which ends the composition.
    markedText.unmarkText();
    keyboard->kittyIsComposing = false;
    updateMarkedTextOverlay();

    keyboard->optionAsMetaKey = optionAsMetaKey;
    keyboard->backspaceSendsControlH = backspaceSendsControlH;
    // A bracketed paste is never turned into key events.
    if (isPaste && terminal->bracketedPasteMode()) {
        if (!keyboard->activeKeyboardFlags().isEmpty())
            keyboard->pendingKittyKeyEvent.reset();
        // The markers as the host has them now, read once for the whole paste.
        const std::vector<std::uint8_t> start = EscapeSequences::bracketedPasteStart();
        const std::vector<std::uint8_t> end = EscapeSequences::bracketedPasteEnd();
        send(start);
        send(EscapeSequences::withoutPasteMarkers(text, textOf(start), textOf(end)));
        if (terminal->bracketedPasteMode())
            send(end);
        return;
    }
    // UTF-8, or the Kitty encoder with the pending key.
    keyboard->insertText(text);
}

// ---------------------------------------------------------------- Marked text

void TerminalView::setMarkedText(const QString& text, TextRange selectedRange)
{
    markedText.setMarkedText(text.toStdU16String(), selectedRange);
    keyboard->kittyIsComposing = true;
    updateMarkedTextOverlay();
}

void TerminalView::unmarkText()
{
    markedText.unmarkText();
    keyboard->kittyIsComposing = false;
    updateMarkedTextOverlay();
}

bool TerminalView::hasMarkedText() const
{
    return markedText.hasMarkedText();
}

TextRange TerminalView::markedRange() const
{
    return markedText.markedRange();
}

TextRange TerminalView::markedSelectedRange() const
{
    return markedText.selectedRange();
}

TextRange TerminalView::selectedRange() const
{
    std::optional<std::pair<CellPoint, CellPoint>> active;
    if (selection && selection->active_)
        active = std::pair{CellPoint{selection->start.col, selection->start.row},
                           CellPoint{selection->end.col, selection->end.row}};
    const Buffer& buffer = terminal->buffer();
    return selectedRangeFor(active, CellPoint{buffer.x(), buffer.y()}, terminal->cols());
}

std::optional<std::pair<TextRange, QString>> TerminalView::attributedSubstringForProposedRange(TextRange range) const
{
    auto piece = markedText.substring(range);
    if (!piece)
        return std::nullopt;
    return std::pair{piece->first, QString::fromStdU16String(piece->second)};
}

QRect TerminalView::firstRectForCharacterRange(TextRange range, TextRange* actualRange) const
{
    if (actualRange != nullptr)
        *actualRange = range;
    if (window()->windowHandle() == nullptr)
        return QRect();
    const QRect frame = caretFrame();
    return QRect(mapToGlobal(frame.topLeft()), frame.size());
}

std::int64_t TerminalView::characterIndexForPoint(QPoint point) const
{
    if (!cellDimension)
        return 0;
    return corvantix::characterIndexForPoint(point.x(), point.y(), *cellDimension, terminal->cols());
}

void TerminalView::updateMarkedTextOverlay()
{
    // Nothing to show: the overlay goes away.
    const std::optional<std::u16string>& storage = markedText.storage();
    if (!storage || storage->empty() || !cellDimension) {
        delete markedTextOverlay.data();
        return;
    }
    // Made once per composition, above every other child.
    auto* overlay = static_cast<MarkedTextOverlay*>(markedTextOverlay.data());
    if (overlay == nullptr) {
        overlay = new MarkedTextOverlay(*this);
        markedTextOverlay = overlay;
        overlay->show();
    }
    overlay->raise();
    // Colours, font and frame follow the terminal at every change of the text.
    const QFont& font = fontSet.normal;
    const double advanceOfW = QFontMetricsF(font).horizontalAdvance(QLatin1Char('W'));
    const QRect caret = caretFrame();
    const double viewWidth = std::max(static_cast<double>(width()) - scrollerWidth(), 0.0);
    const MarkedTextOverlayMetrics metrics =
        MarkedTextOverlayMetrics::compute(caret.x(), caret.y(), viewWidth, *cellDimension, advanceOfW);
    const double height = overlay->setContent(QString::fromStdU16String(*storage), font, effectiveForegroundColor(),
                                              effectiveBackgroundColor(), metrics, *cellDimension);
    overlay->setGeometry(static_cast<int>(std::lround(metrics.x)), static_cast<int>(std::lround(metrics.y)),
                         static_cast<int>(std::ceil(metrics.width)), static_cast<int>(std::ceil(height)));
    overlay->update();
}

// ---------------------------------------------------------------- The input method

void TerminalView::inputMethodEvent(QInputMethodEvent* event)
{
    const QString commit = event->commitString();
    if (!commit.isEmpty()) {
        keyboard->pendingKittyKeyEvent.reset();
        insertText(commit.toStdString(), false);
    }
    const QString preedit = event->preeditString();
    if (preedit.isEmpty()) {
        if (hasMarkedText() || keyboard->kittyIsComposing)
            unmarkText();
        event->accept();
        return;
    }
    // The input method's cursor inside the pre-edit text is the selection; without one it
    // stands at the end.
    TextRange selected{preedit.size(), 0};
    QList<QTextLayout::FormatRange> formats;
    for (const QInputMethodEvent::Attribute& attribute : event->attributes()) {
        if (attribute.type == QInputMethodEvent::Cursor) {
            selected = {std::clamp<std::int64_t>(attribute.start, 0, preedit.size()), 0};
        } else if (attribute.type == QInputMethodEvent::TextFormat) {
            const QTextCharFormat format = qvariant_cast<QTextFormat>(attribute.value).toCharFormat();
            if (format.isValid())
                formats.append(QTextLayout::FormatRange{attribute.start, attribute.length, format});
        }
    }
    setMarkedText(preedit, selected);
    if (auto* overlay = static_cast<MarkedTextOverlay*>(markedTextOverlay.data()))
        overlay->setFormats(std::move(formats));
    event->accept();
}

QVariant TerminalView::inputMethodQuery(Qt::InputMethodQuery query) const
{
    switch (query) {
    case Qt::ImEnabled:
        return true;
    case Qt::ImCursorRectangle:
        return QRectF(caretFrame());
    case Qt::ImInputItemClipRectangle:
        return QRectF(rect());
    case Qt::ImFont:
        return fontSet.normal;
    case Qt::ImHints:
        return static_cast<int>(Qt::ImhNoPredictiveText | Qt::ImhNoAutoUppercase);
    // The terminal's own text is never offered to the input method: it sees an empty
    // document with the cursor at its start.
    case Qt::ImSurroundingText:
    case Qt::ImCurrentSelection:
    case Qt::ImTextBeforeCursor:
    case Qt::ImTextAfterCursor:
        return QString();
    case Qt::ImCursorPosition:
    case Qt::ImAnchorPosition:
    case Qt::ImAbsolutePosition:
        return 0;
    default:
        return QWidget::inputMethodQuery(query);
    }
}

} // namespace corvantix
