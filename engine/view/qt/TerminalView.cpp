// Construction and configuration of the view, its fonts and cell metrics, and the colour
// conversions with their caches.
#include "view/qt/TerminalView.h"

#include "platform/qt/QtMainQueue.h"
#include "view/ColorConversions.h"
#include "view/qt/QtColorConversions.h"

#include <QEvent>
#include <QFontDatabase>
#include <QFontMetricsF>
#include <QGuiApplication>
#include <QHideEvent>
#include <QPaintEvent>
#include <QPainter>
#include <QPalette>
#include <QRawFont>
#include <QResizeEvent>
#include <QScrollBar>
#include <QShowEvent>
#include <QStyle>
#include <QStyleHints>

#include <algorithm>
#include <cmath>

namespace corvantix {

FontSet FontSet::fromFont(const QFont& font)
{
    FontSet set;
    set.normal = font;
    set.bold = font;
    set.bold.setBold(true);
    set.italic = font;
    set.italic.setItalic(true);
    set.boldItalic = font;
    set.boldItalic.setBold(true);
    set.boldItalic.setItalic(true);
    return set;
}

// ---------------------------------------------------------------- Construction

TerminalView::TerminalView(QWidget* parent) : QWidget(parent)
{
    commonInit(QRect(), std::nullopt, TerminalOptions::defaultOptions(), nullptr);
}

TerminalView::TerminalView(const QRect& frame, const std::optional<QFont>& font, QWidget* parent) : QWidget(parent)
{
    commonInit(frame, font, TerminalOptions::defaultOptions(), nullptr);
}

TerminalView::TerminalView(const QRect& frame, const std::optional<QFont>& font, const TerminalOptions& options,
                           QWidget* parent, MainQueue* injectedQueue)
    : QWidget(parent)
{
    commonInit(frame, font, options, injectedQueue);
}

TerminalView::~TerminalView()
{
    // Nothing the terminal does while going away may reach a half-destroyed view, and the
    // terminal goes before the main queue it cancels its timer on.
    if (terminal)
        terminal->setDelegate(nullptr);
    // The blink timer refers to the terminal: it goes first.
    stopTextBlink();
    textBlinkTimer.reset();
    keyboard.reset();
    terminal.reset();
    *lifetime = nullptr;
}

QFont TerminalView::defaultFont()
{
    return QFontDatabase::systemFont(QFontDatabase::FixedFont);
}

void TerminalView::commonInit(const QRect& frame, const std::optional<QFont>& font, const TerminalOptions& options,
                              MainQueue* injectedQueue)
{
    if (injectedQueue != nullptr) {
        queue = injectedQueue;
    } else {
        ownQueue = std::make_unique<QtMainQueue>();
        queue = ownQueue.get();
    }
    if (const QStyleHints* hints = QGuiApplication::styleHints())
        semanticClickCoalescingDelay = hints->mouseDoubleClickInterval() / 1000.0;

    startupOptions = options;
    fontSet = FontSet::fromFont(font.value_or(defaultFont()));

    setGeometry(frame);
    setFocusPolicy(Qt::StrongFocus);
    setCursor(Qt::IBeamCursor);

    isBigSur = true;
    disableFullRedrawOnAnyChanges = true;

    if (scroller == nullptr)
        installScroller();
    installProgressBar();
    startSetup();
    installKeyboard();
    installEditActions();
    installFindActions();
    installTextBlinkObservers();
}

void TerminalView::startSetup()
{
    const double width = std::max(static_cast<double>(this->width()) - scrollerWidth(), 0.0);
    setupView(width, height());
    layerBackgroundColor = nativeBg_;
}

void TerminalView::setupView(double width, double height)
{
    resetCaches();
    cellDimension = computeCellSize();

    const bool isEmpty = width == 0 && height == 0;
    TerminalOptions options = terminal ? terminal->options() : startupOptions;
    std::optional<GridSize> grid;
    if (!isEmpty)
        grid = gridFromFrame(width, height, 0, *cellDimension);
    if (grid) {
        options.cols = grid->cols;
        options.rows = grid->rows;
    }

    if (!terminal) {
        terminal = std::make_unique<Terminal>(this, options, queue);
        // Each assignment comes back through the colour callbacks, which set the native colours.
        terminal->setBackgroundColor(Color(0, 0, 0));
        terminal->setForegroundColor(Color(35389, 35389, 35389));
    } else if (grid) {
        terminal->applyOptions(options);
    }

    selection = std::make_shared<SelectionService>(terminal.get());
    terminal->registerSelection(selection);
    search = std::make_unique<SearchService>(*terminal);
    if (!textBlinkTimer) {
        textBlinkTimer = std::make_unique<TextBlinkTimer>(*queue, *terminal, textBlinkVisible,
                                                          [this] { queuePendingDisplay(); });
    }

    const QSize caretSize(static_cast<int>(std::ceil(cellDimension->width)),
                          static_cast<int>(std::ceil(cellDimension->height)));
    if (caretView) {
        caretView->resize(caretSize);
        caretView->updateCursorStyle();
    } else {
        caretView = new CaretView(QRect(QPoint(0, 0), caretSize), terminal->options().cursorStyle, this);
    }

    update();
}

// ---------------------------------------------------------------- Configuration

void TerminalView::setLinkHighlightMode(LinkHighlightMode mode)
{
    linkHighlightMode_ = mode;
    updateLinkHighlightTracking();
}

void TerminalView::updateLinkHighlightTracking()
{
    linkHighlightRange.reset();
    if (terminal->mouseMode() != MouseMode::anyEvent && !commandActive
        && linkHighlightMode_ != LinkHighlightMode::hover) {
        tracking = false;
        setMouseTracking(false);
    } else if (!tracking) {
        tracking = true;
        setMouseTracking(true);
    }
    updateFullScreenAndQueue();
}

void TerminalView::setScrollerStyle(ScrollerStyle style)
{
    scrollerStyle_ = style;
    if (scroller == nullptr)
        return;
    layoutScroller();
}

bool TerminalView::caretViewTracksFocus() const
{
    return caretView ? caretView->tracksFocus : true;
}

void TerminalView::setCaretViewTracksFocus(bool value)
{
    if (!caretView)
        return;
    caretView->tracksFocus = value;
    caretView->updateCursorStyle();
    queuePendingMetalDisplay();
}

void TerminalView::setMetalScaleFactorOverride(std::optional<double> value)
{
    const bool changed = value != metalScaleFactorOverride_;
    metalScaleFactorOverride_ = value;
    if (changed && useMetalRenderer && metalView)
        metalView->update();
}

void TerminalView::drawMetalNow()
{
    if (useMetalRenderer && metalView)
        metalView->repaint();
}

bool TerminalView::isPlainPrintableText(std::u32string_view text)
{
    if (text.empty())
        return false;
    return std::all_of(text.begin(), text.end(),
                       [](char32_t scalar) { return scalar >= 32 && !(scalar >= 127 && scalar <= 159); });
}

// ---------------------------------------------------------------- Window lifecycle

void TerminalView::showEvent(QShowEvent* event)
{
    QWidget::showEvent(event);
    if (textBlinkTimer) {
        textBlinkTimer->inWindow = true;
        updateTextBlinkTimer();
    }
    redrawMetalIfVisible();
}

// Hidden, or its window minimised: blinking text stops (and is left visible).
void TerminalView::hideEvent(QHideEvent* event)
{
    QWidget::hideEvent(event);
    if (textBlinkTimer) {
        textBlinkTimer->inWindow = false;
        updateTextBlinkTimer();
    }
}

void TerminalView::changeEvent(QEvent* event)
{
    QWidget::changeEvent(event);
    switch (event->type()) {
    case QEvent::ActivationChange:
        // The window became (or stopped being) the active one: the caret's look follows.
        if (caretView)
            caretView->updateCursorStyle();
        queuePendingMetalDisplay();
        break;
    case QEvent::WindowStateChange:
        redrawMetalIfVisible();
        break;
    default:
        break;
    }
}

// ---------------------------------------------------------------- Fonts and cell metrics

void TerminalView::setTerminalFont(const QFont& font)
{
    fontSet = FontSet::fromFont(font);
    resetFont();
    deactivateSelection();
}

void TerminalView::setLineSpacing(double value)
{
    lineSpacing_ = value;
    resetFont();
}

void TerminalView::useSystemMonospacedFont()
{
    fontSet = FontSet::fromFont(defaultFont());
    resetFont();
}

void TerminalView::resetCaches()
{
    drawingState.reset();
    trueColors.clear();
    colors.fill(std::nullopt);
}

FontMetricsValue TerminalView::fontMetricsValue() const
{
    const QFontMetricsF metrics(fontSet.normal);
    FontMetricsValue value;
    value.ascent = metrics.ascent();
    value.descent = metrics.descent();
    value.leading = metrics.leading();
    value.advance = metrics.horizontalAdvance(QLatin1Char('W'));
    // The glyph's own advance where the font has a "W" (the metrics above may come from a
    // fallback or be rounded).
    const QRawFont raw = QRawFont::fromFont(fontSet.normal);
    if (raw.isValid()) {
        const QList<quint32> glyphs = raw.glyphIndexesForString(QStringLiteral("W"));
        if (glyphs.size() == 1 && glyphs.front() != 0) {
            const QList<QPointF> advances = raw.advancesForGlyphIndexes(glyphs);
            if (advances.size() == 1 && advances.front().x() > 0)
                value.advance = advances.front().x();
        }
    }
    return value;
}

CellDimension TerminalView::computeCellSize() const
{
    return corvantix::computeCellSize(fontMetricsValue(), lineSpacing_, backingScaleFactor());
}

double TerminalView::backingScaleFactor() const
{
    const double scale = devicePixelRatioF();
    return (std::isfinite(scale) && scale > 0) ? scale : 1.0;
}

double TerminalView::scrollerWidth() const
{
    if (scroller != nullptr && !scroller->isVisibleTo(this))
        return 0;
    return style()->pixelMetric(QStyle::PM_ScrollBarExtent, nullptr, scroller);
}

void TerminalView::resetFont()
{
    resetCaches();
    cellDimension = computeCellSize();

    if (width() > 0 && height() > 0) {
        if (const auto grid = gridFromFrame(width(), height(), scrollerWidth(), *cellDimension)) {
            terminal->resize(grid->cols, grid->rows);
            sizeChanged(*terminal);
            terminal->softReset();
        }
    }

    if (caretView) {
        caretView->resize(static_cast<int>(std::ceil(cellDimension->width)),
                          static_cast<int>(std::ceil(cellDimension->height)));
        caretView->updateCursorStyle();
    }
    update();
}

void TerminalView::resizeGrid(int cols, int rows)
{
    terminal->resize(cols, rows);
    if (search)
        search->invalidate();
    sizeChanged(*terminal);
    terminal->softReset();
}

bool TerminalView::processSizeChange(QSize size)
{
    if (size.width() == 0 && size.height() == 0)
        return false;
    if (!cellDimension)
        return false;
    const auto grid = gridFromFrame(size.width(), size.height(), scrollerWidth(), *cellDimension);
    if (!grid)
        return false;
    if (grid->cols == terminal->cols() && grid->rows == terminal->rows())
        return false;

    deactivateSelection();
    terminal->resize(grid->cols, grid->rows);
    if (search)
        search->invalidate();
    // The grid in force: the terminal raises a zero-width frame to its minimum columns.
    if (terminalDelegate != nullptr)
        terminalDelegate->sizeChanged(*this, terminal->cols(), terminal->rows());
    updateScroller();
    return true;
}

GlyphSlotFit TerminalView::glyphSlotFit(const QRawFont& font, quint32 glyph, int columnWidth) const
{
    if (columnWidth < 2)
        return GlyphSlotFit::neutral();
    const QFontMetricsF metrics(fontSet.normal);
    return glyphMetrics.slotFit(font, glyph, columnWidth, cellDimension, metrics.descent() + metrics.leading());
}

// ---------------------------------------------------------------- Colours

QColor TerminalView::mapColor(const Attribute::Color& color, bool isForeground, bool isBold, bool useBright)
{
    const bool reverse = terminal && terminal->reverseColors();
    switch (color.kind()) {
    case Attribute::Color::Case::trueColor: {
        const std::uint32_t key = (std::uint32_t(color.red()) << 16) | (std::uint32_t(color.green()) << 8) | color.blue();
        if (const auto it = trueColors.find(key); it != trueColors.end())
            return it->second;
        if (trueColors.size() >= trueColorCacheLimit)
            trueColors.clear();
        const QColor converted(color.red(), color.green(), color.blue());
        trueColors.emplace(key, converted);
        return converted;
    }
    case Attribute::Color::Case::ansi256: {
        const int index = mappedPaletteIndex(color.code(), isBold, useBright);
        std::optional<QColor>& slot = colors[static_cast<std::size_t>(index)];
        if (!slot) {
            if (!terminal || static_cast<std::size_t>(index) >= terminal->ansiColors().size())
                return nativeFg_;
            slot = nsColorFromTerminalColor(terminal->ansiColors()[static_cast<std::size_t>(index)]);
        }
        return *slot;
    }
    case Attribute::Color::Case::defaultColor:
        if (isForeground)
            return reverse ? nativeBg_ : nativeFg_;
        return reverse ? nativeFg_ : nativeBg_;
    case Attribute::Color::Case::defaultInvertedColor: {
        QColor inverted = isForeground ? (reverse ? nativeFg_ : nativeBg_) : (reverse ? nativeBg_ : nativeFg_);
        inverted.setAlphaF(1.0f);
        return inverted;
    }
    }
    return nativeFg_;
}

void TerminalView::colorsChanged()
{
    drawingState.reset();
    if (!useMetalRenderer)
        layerBackgroundColor = (terminal && terminal->reverseColors()) ? nativeFg_ : nativeBg_;
    if (terminal)
        updateFullScreenAndQueue();
}

void TerminalView::installColors(std::span<const Color> palette)
{
    terminal->installColors(palette); // exactly 16 entries, or ignored
    colors.fill(std::nullopt);
    colorsChanged();
}

void TerminalView::setNativeColors(const Color& foreground, const Color& background)
{
    setNativeForegroundColor(nsColorFromTerminalColor(foreground));
    setNativeBackgroundColor(nsColorFromTerminalColor(background));
    colorsChanged();
}

void TerminalView::setCaretColors(const std::optional<Color>& caret, const std::optional<Color>& caretText)
{
    if (caret) {
        setCaretColor(nsColorFromTerminalColor(*caret));
    } else {
        caretColor_ = QColor();
        cursorColorIsDefault = true;
        if (caretView)
            caretView->update();
    }
    if (caretText) {
        setCaretTextColor(nsColorFromTerminalColor(*caretText));
        cursorTextColorIsDefault = false;
    } else {
        caretTextColor_.reset();
        cursorTextColorIsDefault = true;
        if (caretView)
            caretView->update();
    }
    queuePendingMetalDisplay();
}

void TerminalView::useSystemColors()
{
    const QPalette colours = palette();
    setNativeForegroundColor(colours.color(QPalette::Active, QPalette::Text));
    setNativeBackgroundColor(colours.color(QPalette::Active, QPalette::Base));
}

} // namespace corvantix
