// Links under the pointer: the hover highlight, the preview of an OSC 8 target while Ctrl
// is held, and the link a click opens.
#include "view/qt/TerminalView.h"
#include "view/qt/ChildPlacement.h"

#include <QCursor>
#include <QFontDatabase>
#include <QLabel>
#include <QPalette>

#include <algorithm>
#include <set>

namespace corvantix {

void TerminalView::updateLinkHighlight(int col, int row, std::optional<bool> modifierHeld)
{
    const std::optional<std::vector<RowRange>> ranges =
        hoverLinkRanges(*terminal, linkHighlightMode_, modifierHeld.value_or(commandActive), col, row);
    if (!ranges) {
        clearLinkHighlight();
        return;
    }
    if (linkHighlightRange == ranges)
        return;
    const std::optional<std::vector<RowRange>> old = std::move(linkHighlightRange);
    linkHighlightRange = ranges;
    invalidateLinkHighlightRows(old, linkHighlightRange);
    queuePendingDisplay();
}

void TerminalView::clearLinkHighlight()
{
    if (!linkHighlightRange)
        return;
    const std::optional<std::vector<RowRange>> old = std::move(linkHighlightRange);
    linkHighlightRange.reset();
    invalidateLinkHighlightRows(old, std::nullopt);
    queuePendingDisplay();
}

void TerminalView::invalidateLinkHighlightRows(const std::optional<std::vector<RowRange>>& old,
                                               const std::optional<std::vector<RowRange>>& current)
{
    std::set<int> rows;
    for (const auto* ranges : {&old, &current}) {
        if (*ranges) {
            for (const RowRange& entry : **ranges)
                rows.insert(entry.row);
        }
    }
    const int top = terminal->buffer().yDisp();
    for (const int row : rows) {
        const int screenRow = row - top;
        if (screenRow < 0 || screenRow >= terminal->rows())
            continue;
        terminal->updateRange(screenRow); // the row on the screen and line `row` of the ring
        // The renderer's rows keep their text; the underline comes and goes with the hover.
        widenMetalDirtyRange(row, row);
    }
}

std::optional<LinkParameters> TerminalView::linkAt(int col, int row, bool commandHeld) const
{
    return corvantix::linkAt(*terminal, linkHighlightMode_, linkHighlightRange, col, row, commandHeld);
}

QFont TerminalView::tryUrlFont()
{
    const QStringList families = QFontDatabase::families();
    for (const QString& name : {QStringLiteral("Optima"), QStringLiteral("Helvetica"), QStringLiteral("Helvetica Neue")}) {
        if (families.contains(name))
            return QFont(name, 12);
    }
    QFont font = QFontDatabase::systemFont(QFontDatabase::GeneralFont);
    font.setPointSize(12);
    return font;
}

void TerminalView::updateUrlPreview(const std::string& payload)
{
    const std::optional<LinkParameters> parsed = parseLinkParameters(payload);
    if (!parsed)
        return;
    const QString text = QString::fromStdString(parsed->link);
    if (!urlPreview) {
        urlPreview = new QLabel(this);
        urlPreview->setObjectName(QStringLiteral("urlPreview"));
        // The target comes from the program: never read it as markup.
        urlPreview->setTextFormat(Qt::PlainText);
        urlPreview->setFont(tryUrlFont());
        urlPreview->setAutoFillBackground(true);
        // The terminal's colours the other way round.
        QPalette palette = urlPreview->palette();
        palette.setColor(QPalette::Window, nativeFg_);
        palette.setColor(QPalette::WindowText, nativeBg_);
        urlPreview->setPalette(palette);
        urlPreview->setAttribute(Qt::WA_TransparentForMouseEvents);
    }
    urlPreview->setText(text);
    urlPreview->adjustSize();
    // The bottom left corner of the view.
    placeChild(*urlPreview, QRect(QPoint(0, std::max(height() - urlPreview->height(), 0)), urlPreview->size()));
    urlPreview->show();
    urlPreview->raise();
}

void TerminalView::removePreviewUrl()
{
    if (urlPreview)
        delete urlPreview.data();
    urlPreview = nullptr;
}

void TerminalView::recordReportedLink(int col, int row)
{
    if (linkReporting == LinkReporting::none) {
        lastReportedLink.reset();
        return;
    }
    const LinkLookupMode mode =
        linkReporting == LinkReporting::implicit ? LinkLookupMode::explicitAndImplicit : LinkLookupMode::explicitOnly;
    std::optional<LinkMatch> match = terminal->linkMatch(LinkLookupLocation::buffer(Position{col, row}), mode);
    if (!match) {
        lastReportedLink.reset();
        return;
    }
    if (lastReportedLink != match->text)
        lastReportedLink = std::move(match->text);
}

void TerminalView::commandKeyDown()
{
    commandActive = true;
    startWindowMouseMovedFallback();
    const QPoint pointer = mapFromGlobal(QCursor::pos());
    if (rect().contains(pointer)) {
        const GridHit hit = gridPositionForPoint(pointer);
        if (const std::optional<std::string> payload = linkPayloadAt(*terminal, hit.col, hit.row))
            updateUrlPreview(*payload);
        recordReportedLink(hit.col, hit.row);
        updateLinkHighlight(hit.col, hit.row, std::nullopt);
    }
    // Every link appears while the modifier is down.
    if (linkHighlightMode_ == LinkHighlightMode::alwaysWithModifier)
        updateFullScreenAndQueue();
}

void TerminalView::commandReleased()
{
    if (!commandActive)
        return;
    commandActive = false;
    stopWindowMouseMovedFallback();
    removePreviewUrl();
    lastReportedLink.reset();
    if (linkHighlightMode_ == LinkHighlightMode::hoverWithModifier)
        clearLinkHighlight();
    else if (linkHighlightMode_ == LinkHighlightMode::alwaysWithModifier)
        updateFullScreenAndQueue();
}

void TerminalView::leaveEvent(QEvent* event)
{
    commandReleased();
    if (linkHighlightMode_ == LinkHighlightMode::hover || linkHighlightMode_ == LinkHighlightMode::hoverWithModifier)
        clearLinkHighlight();
    QWidget::leaveEvent(event);
}

void TerminalView::startWindowMouseMovedFallback()
{
    if (!tracking) {
        tracking = true;
        setMouseTracking(true);
    }
}

void TerminalView::stopWindowMouseMovedFallback()
{
    // The terminal reports its first mouse mode while it is being made.
    if ((terminal && terminal->mouseMode() == MouseMode::anyEvent) || commandActive
        || linkHighlightMode_ == LinkHighlightMode::hover)
        return;
    tracking = false;
    setMouseTracking(false);
}

} // namespace corvantix
