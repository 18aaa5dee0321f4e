#include "view/qt/TerminalProgressBarView.h"

#include "view/ImagePlacement.h"
#include "view/qt/TerminalView.h"

#include <QPainter>
#include <QPalette>
#include <QThread>
#include <QVariantAnimation>

namespace corvantix {

namespace {

// Eases in and out on each leg of a trip there and back, so the bar slows down at both ends
// instead of bouncing off the far one.
QEasingCurve pingPongEasing()
{
    QEasingCurve curve;
    curve.setCustomType([](qreal t) {
        static const QEasingCurve leg(QEasingCurve::InOutQuad);
        return t < 0.5 ? 0.5 * leg.valueForProgress(2 * t) : 0.5 + 0.5 * leg.valueForProgress(2 * t - 1);
    });
    return curve;
}

} // namespace

TerminalProgressBarView::TerminalProgressBarView(QWidget* parent) : QWidget(parent)
{
    setObjectName(QStringLiteral("progressBar"));
    setAttribute(Qt::WA_TransparentForMouseEvents);
    setAttribute(Qt::WA_NoSystemBackground);
    animation_ = new QVariantAnimation(this);
    QObject::connect(animation_, &QVariantAnimation::valueChanged, this, [this](const QVariant& value) {
        barRect_ = value.toRectF();
        QWidget::update();
    });
    hide();
}

QColor TerminalProgressBarView::trackColor() const
{
    QColor color = barColor_;
    color.setAlphaF(0.3f);
    return color;
}

bool TerminalProgressBarView::animating() const
{
    return animation_->state() == QAbstractAnimation::Running;
}

void TerminalProgressBarView::update(ProgressReportState state, std::optional<std::uint8_t> progress)
{
    state_ = state;
    progress_ = progress;
    if (state == ProgressReportState::remove) {
        stopAnimation();
        hide();
        return;
    }
    switch (state) {
    case ProgressReportState::pause: barColor_ = QColor(255, 149, 0); break;
    case ProgressReportState::error: barColor_ = QColor(255, 59, 48); break;
    default: barColor_ = palette().color(QPalette::Active, QPalette::Highlight); break;
    }
    show();
    raise();
    layoutBar(true);
    QWidget::update();
}

void TerminalProgressBarView::resizeEvent(QResizeEvent* event)
{
    QWidget::resizeEvent(event);
    // A layout while hidden changes nothing; the next report lays the bar out.
    if (isHidden() || state_ == ProgressReportState::remove)
        return;
    layoutBar(false);
}

void TerminalProgressBarView::layoutBar(bool animated)
{
    if (progress_)
        layoutDeterminate(*progress_, animated);
    else
        layoutIndeterminate();
}

void TerminalProgressBarView::stopAnimation()
{
    animation_->stop();
}

void TerminalProgressBarView::layoutDeterminate(std::uint8_t progress, bool animated)
{
    trackVisible_ = false;
    stopAnimation();
    const QRectF target(0, 0, width() * std::min<int>(progress, 100) / 100.0, height());
    if (!animated || barRect_ == target || !isVisible()) {
        barRect_ = target;
        return;
    }
    animation_->setKeyValues({{0.0, barRect_}, {1.0, target}});
    animation_->setDuration(determinateDurationMs);
    animation_->setEasingCurve(QEasingCurve::InOutQuad);
    animation_->setLoopCount(1);
    animation_->start();
}

void TerminalProgressBarView::layoutIndeterminate()
{
    trackVisible_ = true;
    const double w = width() * barWidthRatio;
    barRect_ = QRectF(0, 0, w, height());
    stopAnimation();
    if (w > 0 && w < width()) {
        // Right and back again: one loop of the animation is a trip there and back.
        animation_->setKeyValues({{0.0, barRect_}, {0.5, QRectF(width() - w, 0, w, height())}, {1.0, barRect_}});
        animation_->setDuration(2 * indeterminateDurationMs);
        animation_->setEasingCurve(pingPongEasing());
        animation_->setLoopCount(-1);
        animation_->start();
    }
}

void TerminalProgressBarView::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    if (trackVisible_)
        painter.fillRect(rect(), trackColor());
    painter.fillRect(barRect_, barColor_);
}

// ---------------------------------------------------------------- The terminal view's side

void TerminalView::installProgressBar()
{
    auto* bar = new TerminalProgressBarView(this);
    progressBarView = bar;
    bar->raise(); // above the scrollbar
    layoutProgressBar();
}

void TerminalView::layoutProgressBar()
{
    if (progressBarView)
        progressBarView->setGeometry(0, 0, width(), 2);
}

void TerminalView::progressReport(Terminal&, const ProgressReport& report)
{
    progressReported(report);
}

void TerminalView::progressReported(const ProgressReport& report)
{
    if (QThread::currentThread() == thread()) {
        applyProgressReport(report);
        return;
    }
    queue->post([weak = std::weak_ptr<TerminalView*>(lifetime), report] {
        if (const auto alive = weak.lock(); alive && *alive != nullptr)
            (*alive)->applyProgressReport(report);
    });
}

void TerminalView::applyProgressReport(const ProgressReport& report)
{
    const ProgressShown shown = progressShown(report, lastProgressValue);
    if (shown.hidden) {
        hideProgress();
        return;
    }
    lastProgressValue = shown.lastValue;
    if (progressBarView) {
        // A view that was never shown had no resize event to frame the bar with.
        layoutProgressBar();
        progressBarView->update(report.state, shown.value);
    }
    scheduleProgressHide();
}

void TerminalView::scheduleProgressHide()
{
    if (progressReportTimer != 0)
        queue->cancel(progressReportTimer);
    progressReportTimer = queue->postAfter(progressHideDelay, [weak = std::weak_ptr<TerminalView*>(lifetime)] {
        if (const auto alive = weak.lock(); alive && *alive != nullptr) {
            (*alive)->progressReportTimer = 0;
            (*alive)->hideProgress();
        }
    });
}

void TerminalView::hideProgress()
{
    if (progressReportTimer != 0)
        queue->cancel(progressReportTimer);
    progressReportTimer = 0;
    lastProgressValue.reset();
    if (progressBarView)
        progressBarView->update(ProgressReportState::remove, std::nullopt);
}

} // namespace corvantix
