#include "ui/BannerOverlay.h"

#include "workspace/MacModel.h"

#include <QEvent>
#include <QMouseEvent>

namespace halvoren {

BannerOverlay::BannerOverlay(MacModel& model, QWidget* parent)
    : WrappedLabel(QString(), parent), model(model)
{
    setObjectName(QStringLiteral("banner"));
    QFont callout = font();
    callout.setPixelSize(12);
    setFont(callout);
    setAlignment(Qt::AlignCenter);
    // Banners quote folder and host names: a name that looks like markup is shown as written.
    setTextFormat(Qt::PlainText);
    setMaximumLines(maximumLines);
    setCursor(Qt::PointingHandCursor);
    parent->installEventFilter(this);
    connect(&model, &MacModel::bannerChanged, this, &BannerOverlay::refresh);
    refresh();
}

void BannerOverlay::refresh()
{
    const std::optional<QString>& banner = model.banner();
    if (!banner) {
        stopTimeout();
        hide();
        return;
    }
    setText(*banner);
    // A capsule: corners as round as half the height of one line, so a banner of several lines
    // is a rounded box.
    setStyleSheet(QStringLiteral("#banner { background: rgba(44, 44, 50, 220); color: white;"
                                 " border: 1px solid rgba(255, 255, 255, 20); border-radius: %1px;"
                                 " padding: 8px 14px; }")
                      .arg(heightForWidth(naturalWidth()) / 2));
    place();
    show();
    raise();
    if (timed == banner)
        return;
    stopTimeout();
    timed = banner;
    const QPointer<MacModel> owner(&model);
    timer = model.clock->after(timeout, this, [owner, text = *banner] {
        // Someone may have put another text, or none, meanwhile: that one stays.
        if (owner && owner->banner() == text)
            owner->setBanner(std::nullopt);
    });
}

void BannerOverlay::stopTimeout()
{
    if (timer) {
        timer->stop();
        timer->deleteLater();
    }
    timer = nullptr;
    timed.reset();
}

void BannerOverlay::place()
{
    const QWidget* area = parentWidget();
    // One line as wide as the text when the pane has room; else as wide as the pane allows,
    // and as tall as the lines the text then takes.
    const int w = std::min(naturalWidth(), std::max(area->width() - 24, 0));
    resize(w, heightForWidth(w));
    move((area->width() - w) / 2, area->height() - lift - height());
}

void BannerOverlay::mousePressEvent(QMouseEvent* event)
{
    event->accept();
    model.setBanner(std::nullopt);
}

bool BannerOverlay::eventFilter(QObject* watched, QEvent* event)
{
    if (watched == parentWidget() && event->type() == QEvent::Resize)
        place();
    return WrappedLabel::eventFilter(watched, event);
}

} // namespace halvoren
