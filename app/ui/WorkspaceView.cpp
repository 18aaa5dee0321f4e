#include "ui/WorkspaceView.h"

#include "platform/DetachedProcess.h"
#include "style/VisibleText.h"
#include "workspace/MacUpdate.h"
#include "tab/MacTab.h"
#include "ui/BannerOverlay.h"
#include "ui/ComposeBar.h"
#include "ui/PlainText.h"
#include "style/Palette.h"
#include "ui/StatusBars.h"
#include "ui/TabBar.h"
#include "ui/TerminalHost.h"
#include "ui/UpdateBar.h"

#include <QEvent>
#include <QHBoxLayout>
#include <QLabel>
#include <QPainter>
#include <QVBoxLayout>

namespace halvoren {

namespace {

// A terminal window with a prompt chevron and a cursor bar.
class TerminalMark : public QWidget {
public:
    explicit TerminalMark(QWidget* parent)
        : QWidget(parent)
    {
        setFixedSize(54, 46);
    }

protected:
    void paintEvent(QPaintEvent*) override
    {
        QPainter painter(this);
        painter.setRenderHint(QPainter::Antialiasing);
        const QRectF box = QRectF(rect()).adjusted(2, 4, -2, -4);
        painter.setPen(QPen(Palette::accent(), 3));
        painter.setBrush(Qt::NoBrush);
        painter.drawRoundedRect(box, 6, 6);
        const qreal unit = box.height() / 8;
        painter.setPen(QPen(Palette::accent(), 3, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
        const QPointF start(box.left() + box.width() * 0.2, box.top() + unit * 2.5);
        painter.drawPolyline(QList<QPointF>{start, start + QPointF(unit * 1.6, unit * 1.6), start + QPointF(0, unit * 3.2)});
        painter.drawLine(QPointF(box.left() + box.width() * 0.5, box.top() + unit * 5.7),
                         QPointF(box.left() + box.width() * 0.75, box.top() + unit * 5.7));
    }
};

} // namespace

EmptyWorkspace::EmptyWorkspace(QWidget* parent)
    : QWidget(parent)
{
    setObjectName(QStringLiteral("emptyWorkspace"));
    auto* stack = new QVBoxLayout(this);
    stack->setSpacing(14);
    stack->addStretch(1);
    stack->addWidget(new TerminalMark(this), 0, Qt::AlignHCenter);
    auto* heading = plainLabel(QStringLiteral("Aucun onglet ouvert"), this);
    QFont title3 = heading->font();
    title3.setPixelSize(15);
    title3.setWeight(QFont::DemiBold);
    heading->setFont(title3);
    QPalette primary = heading->palette();
    primary.setColor(QPalette::WindowText, Qt::white);
    heading->setPalette(primary);
    stack->addWidget(heading, 0, Qt::AlignHCenter);
    auto* hint = plainLabel(QStringLiteral("Choisis un projet dans la barre latérale."), this);
    QPalette secondary = hint->palette();
    secondary.setColor(QPalette::WindowText, Palette::secondaryText());
    hint->setPalette(secondary);
    stack->addWidget(hint, 0, Qt::AlignHCenter);
    stack->addStretch(1);
}

QString workspaceWindowTitle(const MacModel& model)
{
    const MacTab* tab = model.activeTab();
    if (tab == nullptr)
        return QStringLiteral("Halvoren");
    const QString subtitle = model.tabSubtitle(*tab);
    const QString title = model.tabTitle(*tab);
    return visibleText(subtitle.isEmpty() ? title : title + QStringLiteral(" — ") + subtitle);
}

WorkspaceView::WorkspaceView(MacModel& model, MacUpdate& update, QWidget* parent)
    : QWidget(parent), model(model), update(update), updateBar(new UpdateBar(update, this)),
      tabBar(new TabBar(model, this)), statusBars(new StatusBars(model, this)), terminalArea(new QWidget(this)),
      banner(new BannerOverlay(model, this))
{
    setObjectName(QStringLiteral("workspace"));
    auto* column = new QVBoxLayout(this);
    column->setContentsMargins(0, 0, 0, 0);
    column->setSpacing(0);
    column->addWidget(updateBar);
    column->addWidget(tabBar);
    column->addWidget(statusBars);
    terminalArea->setObjectName(QStringLiteral("terminalArea"));
    QPalette area = terminalArea->palette();
    area.setColor(QPalette::Window, Palette::terminalArea());
    terminalArea->setPalette(area);
    terminalArea->setAutoFillBackground(true);
    auto* areaLayout = new QHBoxLayout(terminalArea);
    areaLayout->setContentsMargins(0, 0, 0, 0);
    areaLayout->setSpacing(0);
    column->addWidget(terminalArea, 1);

    connect(&model, &MacModel::activeTabIDChanged, this, &WorkspaceView::refresh);
    connect(&model, &MacModel::tabsChanged, this, &WorkspaceView::refresh);
    connect(&model, &MacModel::composeVisibleChanged, this, &WorkspaceView::refresh);
    connect(&model, &MacModel::tabLabelsChanged, this, &WorkspaceView::applyTitle);
    // The update link without an opener is said in the banner, as a tab's link is.
    connect(&update, &MacUpdate::downloadNotOpened, this, [this] { this->model.setBanner(noLinkOpenerMessage); });
    refresh();
}

void WorkspaceView::refresh()
{
    MacTab* active = model.activeTab();
    auto* areaLayout = static_cast<QHBoxLayout*>(terminalArea->layout());
    if (active != nullptr) {
        if (!host || host->tab != active) {
            // The new container takes the view first, so the old one is empty when it goes.
            auto* next = new TerminalHost(*active, terminalArea);
            if (host) {
                host->hide();
                host->deleteLater();
            }
            host = next;
            areaLayout->addWidget(next);
        } else {
            host->refresh();
        }
        if (empty) {
            empty->hide();
            empty->deleteLater();
            empty = nullptr;
        }
        areaLayout->setContentsMargins(terminalLeftInset, 0, 0, 0);
    } else {
        if (host) {
            host->hide();
            host->deleteLater();
            host = nullptr;
        }
        if (!empty) {
            empty = new EmptyWorkspace(terminalArea);
            areaLayout->addWidget(empty);
        }
        areaLayout->setContentsMargins(0, 0, 0, 0);
    }
    if (host)
        host->show();
    if (empty)
        empty->show();

    // The bar's text lives as long as the bar: it goes whenever the bar leaves.
    const bool wantCompose = active != nullptr && model.composeVisible();
    if (wantCompose && !compose) {
        compose = new ComposeBar(model, this);
        static_cast<QVBoxLayout*>(layout())->addWidget(compose);
        compose->show();
    } else if (!wantCompose && compose) {
        compose->hide();
        compose->deleteLater();
        compose = nullptr;
    }
    if (compose)
        compose->setTab(active);
    // Over everything else, also over a bar made just now.
    banner->raise();
    applyTitle();
}

void WorkspaceView::applyTitle()
{
    const QString next = workspaceWindowTitle(model);
    if (window() != nullptr)
        window()->setWindowTitle(plainWindowTitle(next));
    if (next == title)
        return;
    title = next;
    Q_EMIT windowTitleTextChanged(title);
}

bool WorkspaceView::event(QEvent* event)
{
    // Placed in a window later, the window takes the title then.
    if (event->type() == QEvent::ParentChange || event->type() == QEvent::Show)
        applyTitle();
    return QWidget::event(event);
}

void WorkspaceView::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    painter.fillRect(rect(), Palette::terminalArea());
}

} // namespace halvoren
