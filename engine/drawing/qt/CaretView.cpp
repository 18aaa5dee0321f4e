#include "drawing/qt/CaretView.h"

#include "drawing/CellArt.h"
#include "drawing/RowBuilder.h"
#include "drawing/qt/CellArtPainter.h"
#include "model/UnicodeUtil.h"

#include <QEasingCurve>
#include <QEvent>
#include <QFontMetricsF>
#include <QGlyphRun>
#include <QPainter>
#include <QTimer>

#include <array>
#include <cmath>

namespace corvantix {

namespace {

bool isBlinkingStyle(CursorStyle style)
{
    return style == CursorStyle::blinkBlock || style == CursorStyle::blinkUnderline || style == CursorStyle::blinkBar;
}

bool isBlockStyle(CursorStyle style) { return style == CursorStyle::blinkBlock || style == CursorStyle::steadyBlock; }

bool isUnderlineStyle(CursorStyle style)
{
    return style == CursorStyle::blinkUnderline || style == CursorStyle::steadyUnderline;
}

// The platform's ease-in timing: a cubic Bezier through (0.42, 0) and (1, 1).
const QEasingCurve& easeIn()
{
    static const QEasingCurve curve = [] {
        QEasingCurve c(QEasingCurve::BezierSpline);
        c.addCubicBezierSegment(QPointF(0.42, 0.0), QPointF(1.0, 1.0), QPointF(1.0, 1.0));
        return c;
    }();
    return curve;
}

void appendUtf16(std::u16string& out, char32_t scalar)
{
    if (scalar < 0x10000) {
        out.push_back(static_cast<char16_t>(scalar));
    } else {
        out.push_back(static_cast<char16_t>(0xD800 + ((scalar - 0x10000) >> 10)));
        out.push_back(static_cast<char16_t>(0xDC00 + ((scalar - 0x10000) & 0x3FF)));
    }
}

} // namespace

CaretView::CaretView(const QRect& frame, CursorStyle cursorStyle, CaretHost* host)
    : QWidget(host->caretParent()), terminal(host->caretParent()), style(cursorStyle), host_(host)
{
    setAttribute(Qt::WA_TransparentForMouseEvents);
    // Opaque: the caret draws the view's pixels beneath itself from a copy, so a frame of the
    // fade repaints the caret alone and not the view's row under it as well. The view moves it
    // with placeChild: a fast move of an opaque child would let the view's next repaint cover
    // the widgets above the view.
    setAttribute(Qt::WA_OpaquePaintEvent);
    setAttribute(Qt::WA_NoSystemBackground);
    if (QWidget* view = host->caretParent())
        view->installEventFilter(this);
    setGeometry(frame);
    update();
}

CaretView::~CaretView() = default;

double CaretView::blinkOpacity(double seconds)
{
    const double period = 2.0 * blinkHalfPeriodSeconds;
    double t = std::fmod(seconds, period);
    if (t < 0)
        t += period;
    const double progress = t <= blinkHalfPeriodSeconds ? t / blinkHalfPeriodSeconds
                                                        : (period - t) / blinkHalfPeriodSeconds;
    return 1.0 - easeIn().valueForProgress(progress);
}

double CaretView::blinkFrameOpacity(double seconds)
{
    return std::round(blinkOpacity(seconds) * blinkOpacityLevels) / blinkOpacityLevels;
}

namespace {

// The moments within one period (ascending) at which the drawn opacity changes: where the
// fade out crosses each half-way mark between two levels, then the same marks mirrored on
// the way back up. The fade out falls monotonically, so each mark is found by bisection.
const std::array<double, 2 * CaretView::blinkOpacityLevels>& blinkFrameTimes()
{
    static const auto times = [] {
        constexpr int levels = CaretView::blinkOpacityLevels;
        constexpr double half = CaretView::blinkHalfPeriodSeconds;
        std::array<double, 2 * levels> result{};
        for (int k = 0; k < levels; ++k) {
            // The mark between levels (levels - k) and (levels - k - 1), crossed k-th.
            const double mark = (levels - k - 0.5) / levels;
            double low = 0.0;
            double high = half;
            for (int i = 0; i < 60; ++i) {
                const double middle = (low + high) / 2;
                // At the mark itself the level still rounds up: the change comes after it.
                (CaretView::blinkOpacity(middle) >= mark ? low : high) = middle;
            }
            result[static_cast<size_t>(k)] = high;
            result[static_cast<size_t>(2 * levels - 1 - k)] = 2 * half - high;
        }
        return result;
    }();
    return times;
}

} // namespace

double CaretView::nextBlinkFrameSeconds(double seconds)
{
    const double period = 2.0 * blinkHalfPeriodSeconds;
    const double cycle = std::floor(seconds / period) * period;
    // A nanosecond of slack: `seconds` may be a frame time itself, carried into a later
    // cycle with rounding.
    const double phase = seconds - cycle + 1e-9;
    for (double time : blinkFrameTimes())
        if (time > phase)
            return cycle + time;
    return cycle + period + blinkFrameTimes().front();
}

bool CaretView::isBlinking() const
{
    return blinkTimer_ != nullptr && blinkTimer_->isActive();
}

void CaretView::showBlinkPhase(double seconds)
{
    const double next = blinkFrameOpacity(seconds);
    const bool visibleChange = next != opacity_;
    opacity_ = next;
    // Painted at once rather than queued: a frame of the fade then costs one pass of the
    // event loop, not two.
    if (visibleChange)
        repaint();
}

bool CaretView::viewHasFocus() const
{
    if (!terminal || !focused)
        return false;
    if (!terminal->isVisible())
        return true; // not on screen: no window to be key
    const QWidget* window = terminal->window();
    return window == nullptr || window->isActiveWindow();
}

void CaretView::setText(const CharData& cell, const Attribute& attribute, const std::u32string* display)
{
    glyphColumnWidth = std::max<int>(cell.width, 1);
    Glyph glyph;
    glyph.font = fontSlot(attribute.style.contains(CharacterStyle::bold),
                          attribute.style.contains(CharacterStyle::italic));

    const Terminal* source = terminal ? host_->caretTerminal() : nullptr;
    const bool blinkHidden =
        (terminal && !host_->caretTextBlinkVisible() && attribute.style.contains(CharacterStyle::blink))
        || attribute.style.contains(CharacterStyle::invisible); // concealed text stays hidden under the caret
    if (blinkHidden || source == nullptr || cell.code == 0) {
        powerlineCodePoint = std::nullopt;
        glyph.text.assign(1, u' ');
    } else {
        powerlineCodePoint = isPowerlineSeparator(static_cast<uint32_t>(cell.code))
            ? std::optional<uint32_t>(static_cast<uint32_t>(cell.code))
            : std::nullopt;
        char32_t scratch = 0;
        const std::u32string_view text =
            display != nullptr ? std::u32string_view(*display) : RowBuilder::cellText(*source, cell.code, scratch);
        for (char32_t scalar : text)
            appendUtf16(glyph.text, scalar);
        if (text.size() == 1 && text[0] >= 0x100 && UnicodeUtil::isTextPresentationEmoji(text))
            glyph.text.push_back(u'\uFE0E');
    }
    ctline = std::move(glyph);
    update();
}

void CaretView::updateCursorStyle()
{
    const bool focus = tracksFocus ? (terminal ? viewHasFocus() : true) : true;
    if (isBlinkingStyle(style))
        startBlinkAnimation(focus && onScreen_);
    else
        stopBlinkAnimation();
    update();
}

void CaretView::stopBlinkAnimation()
{
    if (blinkTimer_ != nullptr)
        blinkTimer_->stop();
    opacity_ = 1.0;
}

void CaretView::startBlinkAnimation(bool blink)
{
    stopBlinkAnimation();
    if (!blink)
        return; // unfocused or off screen: a still caret
    if (blinkTimer_ == nullptr) {
        blinkTimer_ = new QTimer(this);
        // Precise: a coarse timer may fire early, before the level it was armed for.
        blinkTimer_->setTimerType(Qt::PreciseTimer);
        blinkTimer_->setSingleShot(true);
        connect(blinkTimer_, &QTimer::timeout, this, [this] {
            showBlinkPhase(static_cast<double>(blinkClock_.elapsed()) / 1000.0);
            scheduleBlinkFrame();
        });
    }
    blinkClock_.start();
    scheduleBlinkFrame();
}

void CaretView::scheduleBlinkFrame()
{
    const double now = static_cast<double>(blinkClock_.elapsed()) / 1000.0;
    // A millisecond past the change, so that the frame lands on the new level even when the
    // timer's own rounding brings it a little early.
    const double wait = nextBlinkFrameSeconds(now) - now;
    blinkTimer_->start(static_cast<int>(std::ceil(wait * 1000.0)) + 1);
}

void CaretView::showEvent(QShowEvent* event)
{
    QWidget::showEvent(event);
    onScreen_ = true;
    updateCursorStyle();
}

void CaretView::hideEvent(QHideEvent* event)
{
    QWidget::hideEvent(event);
    onScreen_ = false;
    updateCursorStyle();
}

bool CaretView::eventFilter(QObject* watched, QEvent* event)
{
    // The view repainted something: what lies under the caret may have changed with it.
    if (watched == terminal && event->type() == QEvent::Paint && !copyingUnder_) {
        underStale_ = true;
        update();
    }
    return QWidget::eventFilter(watched, event);
}

void CaretView::moveEvent(QMoveEvent* event)
{
    QWidget::moveEvent(event);
    underStale_ = true;
}

void CaretView::resizeEvent(QResizeEvent* event)
{
    QWidget::resizeEvent(event);
    underStale_ = true;
}

void CaretView::copyUnder()
{
    const qreal scale = devicePixelRatioF();
    const QSize pixels(static_cast<int>(std::ceil(width() * scale)), static_cast<int>(std::ceil(height() * scale)));
    if (under_.size() != pixels)
        under_ = QPixmap(pixels);
    under_.setDevicePixelRatio(scale);
    under_.fill(Qt::transparent);
    // The view alone, without its children (this caret among them).
    copyingUnder_ = true;
    terminal->render(&under_, QPoint(), QRegion(geometry()), QWidget::DrawWindowBackground);
    copyingUnder_ = false;
    underStale_ = false;
}

CaretView::Look CaretView::currentLook() const
{
    const CaretHost& view = *host_;
    Look look;
    look.style = style;
    look.focusedForm = tracksFocus ? viewHasFocus() : true;
    look.caretColor = view.effectiveCaretColor();
    look.caretTextColor = view.effectiveCaretTextColor();
    look.customBlockGlyphs = view.customBlockGlyphs();
    look.scale = view.backingScaleFactor();
    look.size = size();
    look.glyph = ctline;
    look.glyphColumnWidth = glyphColumnWidth;
    look.powerlineCodePoint = powerlineCodePoint;
    look.fonts = view.caretFonts();
    look.cellDimension = view.caretCellDimension();
    return look;
}

void CaretView::paintEvent(QPaintEvent*)
{
    if (!terminal)
        return;
    if (underStale_)
        copyUnder();
    // The caret is drawn whole into a layer first, so that it fades as one shape; the layer is
    // kept for the next frame while nothing it shows has changed.
    Look look = currentLook();
    const qreal scale = devicePixelRatioF();
    const QSize pixels = under_.size();
    if (layer_.size() != pixels || layer_.devicePixelRatio() != scale || layerLook_ != look) {
        if (layer_.size() != pixels)
            layer_ = QImage(pixels, QImage::Format_ARGB32_Premultiplied);
        layer_.setDevicePixelRatio(scale);
        layer_.fill(Qt::transparent);
        QPainter layerPainter(&layer_);
        drawCaret(layerPainter, look.focusedForm);
        layerLook_ = std::move(look);
    }
    QPainter painter(this);
    painter.setCompositionMode(QPainter::CompositionMode_Source);
    painter.drawPixmap(0, 0, under_);
    painter.setCompositionMode(QPainter::CompositionMode_SourceOver);
    painter.setOpacity(opacity_);
    painter.drawImage(0, 0, layer_);
}

void CaretView::drawCaret(QPainter& painter, bool focusedForm)
{
    if (!ctline || !terminal)
        return;
    const CaretHost& view = *host_;
    const QRectF bounds(0, 0, width(), height());
    const QColor caretColor = view.effectiveCaretColor();

    painter.save();
    painter.setClipRect(bounds);
    painter.setCompositionMode(QPainter::CompositionMode_Source);
    painter.fillRect(bounds, Qt::transparent);
    painter.setCompositionMode(QPainter::CompositionMode_SourceOver);

    if (!focusedForm) {
        // Centred on the edge: the clip keeps its inner half, a 1.5 frame.
        QPen pen(caretColor);
        pen.setWidthF(3.0);
        pen.setJoinStyle(Qt::MiterJoin);
        painter.setPen(pen);
        painter.setBrush(Qt::NoBrush);
        painter.drawRect(bounds);
        painter.restore();
        return;
    }

    if (isBlockStyle(style))
        painter.fillRect(bounds, caretColor);
    else if (isUnderlineStyle(style))
        painter.fillRect(QRectF(0, bounds.height() - 2.0, bounds.width(), 2.0), caretColor);
    else
        painter.fillRect(QRectF(0, 0, 2.0, bounds.height()), caretColor);
    if (!isBlockStyle(style)) {
        painter.restore();
        return;
    }

    const QColor textColor = view.effectiveCaretTextColor();
    const double scale = view.backingScaleFactor();
    if (powerlineCodePoint && view.customBlockGlyphs() && isPowerlineSeparator(*powerlineCodePoint)) {
        if (const auto shape = powerlineShape(*powerlineCodePoint, PointRect{0, 0, bounds.width(), bounds.height()},
                                              scale, scale))
            fillPowerlineShape(painter, *shape, textColor);
        painter.restore();
        return;
    }

    // The glyph under a block caret, fitted into the caret's cells.
    const CellGlyphCache::Fonts fonts = view.caretFonts();
    glyphs_.setFonts(fonts);
    const QFontMetricsF metrics(fonts[static_cast<size_t>(FontSlot::normal)]);
    const double descentAndLeading = metrics.descent() + metrics.leading();
    const double baseline = bounds.height() - std::ceil(descentAndLeading);
    painter.setPen(textColor);
    painter.setRenderHint(QPainter::Antialiasing, true);
    painter.setRenderHint(QPainter::TextAntialiasing, true);
    // Shaped and fitted into the caret's cells as the row does it, a cluster as one (a mark
    // with its base), so the caret shows each glyph where the row has it.
    packCellRun(ctline->text, std::u16string_view(), packed_);
    if (const ShaperRun* shaped = glyphs_.shapeRun(ctline->font, packed_)) {
        GlyphMetricsCache& measures = view.caretGlyphMetrics();
        const std::optional<CellDimension> cell = view.caretCellDimension();
        fitGlyphsToSlots(
            *shaped,
            [&](const QRawFont& font, quint32 glyph) {
                return measures.slotFit(font, glyph, glyphColumnWidth, cell, descentAndLeading);
            },
            fitted_);
        std::size_t flat = 0;
        for (const ShaperGlyphRun& run : shaped->glyphRuns) {
            for (const quint32 glyph : run.glyphs) {
                const FittedGlyph& fit = fitted_[flat++];
                QGlyphRun single;
                single.setRawFont(fit.scale != 1.0 ? measures.scaled(run.font, fit.scale) : run.font);
                single.setGlyphIndexes({glyph});
                // The shaper counts y upward, the caret downward.
                single.setPositions({QPointF(fit.offset.x(), baseline - fit.offset.y())});
                painter.drawGlyphRun(QPointF(0, 0), single);
            }
        }
    }
    painter.restore();
}

} // namespace corvantix
