#include "ui/TabChip.h"

#include "style/VisibleText.h"
#include "ui/Icons.h"
#include "ui/PlainText.h"
#include "style/Palette.h"
#include "ui/Shortcuts.h"

#include <QAbstractButton>
#include <QApplication>
#include <QContextMenuEvent>
#include <QCursor>
#include <QDialog>
#include <QDrag>
#include <QEasingCurve>
#include <QFontDatabase>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMimeData>
#include <QPainter>
#include <QPainterPath>
#include <QPushButton>
#include <QToolTip>
#include <QVBoxLayout>
#include <QVariantAnimation>

namespace halvoren {

namespace {

constexpr int chipHeight = 28;
constexpr double chipRadius = 7.0;

QColor withAlpha(QColor color, double alpha)
{
    color.setAlphaF(float(color.alphaF() * alpha));
    return color;
}

QColor inactiveForeground()
{
    return QColor::fromRgbF(1, 1, 1, 0.82f);
}

} // namespace

std::optional<TabMove> tabDropMove(const QStringList& tabKeys, const QStringList& items, const QString& targetKey)
{
    if (items.isEmpty())
        return std::nullopt;
    const qsizetype from = tabKeys.indexOf(items.front());
    const qsizetype to = tabKeys.indexOf(targetKey);
    if (from < 0 || to < 0 || from == to)
        return std::nullopt;
    // The dragged tab takes the target's place: after it when moving right, before it when
    // moving left.
    return TabMove{from, from < to ? to + 1 : to};
}

QString tabToolTip(const MacModel& model, const MacTab& tab)
{
    QString prefix;
    if (tab.connId != MacConnection::localID) {
        if (const MacConnection* connection = model.connection(tab.connId)) {
            prefix = (connection->profile ? connection->profile->name : QStringLiteral("Cet ordinateur"))
                     + QStringLiteral(" — ");
        }
    }
    return visibleText(prefix + model.tabSubtitle(tab));
}

// The 3 by 14 bar in the connection's colour.
class ConnectionMarker : public QWidget {
public:
    explicit ConnectionMarker(QWidget* parent) : QWidget(parent) { setFixedSize(3, 14); }
    QColor color;

protected:
    void paintEvent(QPaintEvent*) override
    {
        QPainter painter(this);
        painter.setRenderHint(QPainter::Antialiasing);
        painter.setPen(Qt::NoPen);
        painter.setBrush(color);
        painter.drawRoundedRect(QRectF(rect()), 1.5, 1.5);
    }
};

// The dot before the title: a pulsing amber one while the tab wants attention, a still grey
// one once its process has ended, else nothing (and no room taken).
class StatusDot : public QWidget {
public:
    enum class Kind { none, attention, ended };

    explicit StatusDot(QWidget* parent) : QWidget(parent), pulse(new QVariantAnimation(this))
    {
        // One cycle goes up to full opacity and back, each half eased over 0.6 s.
        pulse->setStartValue(0.0);
        pulse->setEndValue(1.0);
        pulse->setDuration(1200);
        pulse->setLoopCount(-1);
        QObject::connect(pulse, &QVariantAnimation::valueChanged, this, [this](const QVariant& value) {
            const double t = value.toDouble();
            const double half = t < 0.5 ? t * 2 : (1 - t) * 2;
            opacity = 0.35 + 0.65 * QEasingCurve(QEasingCurve::InOutQuad).valueForProgress(half);
            update();
        });
        hide();
    }

    Kind kind() const { return kindValue; }
    void setKind(Kind value)
    {
        if (value == kindValue)
            return;
        kindValue = value;
        pulse->stop();
        opacity = 1.0;
        if (value == Kind::none) {
            hide();
            return;
        }
        const int side = value == Kind::attention ? 7 : 6;
        setFixedSize(side, side);
        if (value == Kind::attention) {
            opacity = 0.35;
            pulse->start();
        }
        show();
        update();
    }

protected:
    void paintEvent(QPaintEvent*) override
    {
        QPainter painter(this);
        painter.setRenderHint(QPainter::Antialiasing);
        painter.setPen(Qt::NoPen);
        painter.setBrush(kindValue == Kind::attention ? withAlpha(accentAmberColor(), opacity) : mutedTextColor());
        painter.drawEllipse(QRectF(rect()));
    }

private:
    QVariantAnimation* pulse;
    Kind kindValue = Kind::none;
    double opacity = 1.0;
};

// The close button: an "xmark" in a 16 by 16 circle that lights up under the pointer, seen
// only while the chip is hovered or active.
class CloseButton : public QAbstractButton {
public:
    explicit CloseButton(QWidget* parent) : QAbstractButton(parent)
    {
        setFixedSize(16, 16);
        setCursor(Qt::ArrowCursor);
        setFocusPolicy(Qt::NoFocus);
        setToolTip(TabChip::closeToolTip());
    }
    bool shown = false;
    bool chipHovered = false;
    QColor color;

protected:
    void paintEvent(QPaintEvent*) override
    {
        if (!shown)
            return;
        QPainter painter(this);
        painter.setRenderHint(QPainter::Antialiasing);
        if (chipHovered) {
            painter.setPen(Qt::NoPen);
            painter.setBrush(QColor::fromRgbF(1, 1, 1, 0.10f));
            painter.drawEllipse(QRectF(rect()));
        }
        paintSymbol(painter, u"xmark", QRectF(4, 4, 8, 8), color);
    }
};

QString TabChip::closeToolTip()
{
    return shortcuts::withKey(QStringLiteral("Fermer l'onglet"), shortcuts::closeTab());
}

TabChip::TabChip(MacModel& model, MacTab& tab, QWidget* parent) : QWidget(parent), model(model), tabKey(tab.id())
{
    setFixedHeight(chipHeight);
    setAcceptDrops(true);

    auto* row = new QHBoxLayout(this);
    row->setContentsMargins(8, 0, 6, 0);
    row->setSpacing(7);
    marker = new ConnectionMarker(this);
    dot = new StatusDot(this);
    title = plainLabel(QString(), this);
    title->setObjectName(QStringLiteral("title"));
    // A press on the title is a press on the chip: it activates or drags the tab.
    title->setAttribute(Qt::WA_TransparentForMouseEvents);
    closeButton = new CloseButton(this);
    row->addWidget(marker);
    row->addWidget(dot);
    row->addWidget(title);
    row->addWidget(closeButton);
    connect(closeButton, &QAbstractButton::clicked, this, [this] {
        if (MacTab* open = openTab())
            this->model.closeTab(*open);
    });

    setTab(tab);
}

void TabChip::setTab(MacTab& tab)
{
    if (shown == &tab)
        return;
    if (shown)
        disconnect(shown, nullptr, this, nullptr);
    shown = &tab;
    connect(&tab, &MacTab::isLiveChanged, this, &TabChip::refresh);
    connect(&tab, &MacTab::attentionChanged, this, &TabChip::refresh);
    refresh();
}

void TabChip::setActive(bool value)
{
    if (value == activeValue)
        return;
    activeValue = value;
    refresh();
}

MacTab* TabChip::openTab() const
{
    return shown && model.tabs().contains(shown.data()) ? shown.data() : nullptr;
}

QColor TabChip::foreground() const
{
    return activeValue ? accentAmberColor() : inactiveForeground();
}

void TabChip::refresh()
{
    if (!shown)
        return;
    marker->color = model.connectionColor(shown->connId);
    marker->update();
    dot->setKind(shown->attention() ? StatusDot::Kind::attention
                 : !shown->isLive() ? StatusDot::Kind::ended
                                    : StatusDot::Kind::none);

    QFont font = QFontDatabase::systemFont(QFontDatabase::FixedFont);
    font.setPixelSize(12);
    font.setWeight(activeValue ? QFont::DemiBold : QFont::Normal);
    title->setFont(font);
    title->setText(visibleText(model.tabTitle(*shown)));
    QPalette palette = title->palette();
    palette.setColor(QPalette::WindowText, foreground());
    title->setPalette(palette);

    closeButton->shown = hoverValue || activeValue;
    closeButton->chipHovered = hoverValue;
    closeButton->color = foreground();
    closeButton->update();
    update();
}

bool TabChip::event(QEvent* event)
{
    // Said when asked: the subtitle follows the roots and the connections as they are now.
    if (event->type() == QEvent::ToolTip && shown) {
        auto* help = static_cast<QHelpEvent*>(event);
        QToolTip::showText(help->globalPos(), plainToolTip(tabToolTip(model, *shown)), this);
        return true;
    }
    return QWidget::event(event);
}

void TabChip::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    const QRectF box = QRectF(rect()).adjusted(0.5, 0.5, -0.5, -0.5);
    QColor fill = Qt::transparent;
    if (activeValue)
        fill = withAlpha(accentAmberColor(), 0.16);
    else if (hoverValue)
        fill = fieldBackgroundColor();
    painter.setBrush(fill);
    painter.setPen(activeValue ? QPen(withAlpha(accentAmberColor(), 0.55), 1.0) : QPen(Qt::NoPen));
    painter.drawRoundedRect(box, chipRadius, chipRadius);
}

void TabChip::enterEvent(QEnterEvent*)
{
    hoverValue = true;
    refresh();
}

void TabChip::leaveEvent(QEvent*)
{
    hoverValue = false;
    refresh();
}

void TabChip::hoverFromPointer()
{
    const bool over = isVisible() && rect().contains(mapFromGlobal(QCursor::pos()));
    if (over == hoverValue)
        return;
    hoverValue = over;
    refresh();
}

void TabChip::mousePressEvent(QMouseEvent* event)
{
    if (event->button() != Qt::LeftButton) {
        QWidget::mousePressEvent(event);
        return;
    }
    pressedAt = event->position().toPoint();
    dragged = false;
}

void TabChip::mouseMoveEvent(QMouseEvent* event)
{
    if (!pressedAt || !(event->buttons() & Qt::LeftButton) || dragged)
        return;
    if ((event->position().toPoint() - *pressedAt).manhattanLength() < QApplication::startDragDistance())
        return;
    dragged = true;
    auto* data = new QMimeData();
    data->setText(tabKey);
    auto* drag = new QDrag(this);
    drag->setMimeData(data);
    drag->setPixmap(grab());
    drag->setHotSpot(*pressedAt);
    dragging = true;
    drag->exec(Qt::MoveAction);
    dragging = false;
    pressedAt.reset();
    if (discarded)
        deleteLater();
}

void TabChip::discard()
{
    hide();
    discarded = true;
    // The drag's own event loop would run a deferred delete while the drag is still on the
    // stack; the end of the drag deletes the chip instead.
    if (!dragging)
        deleteLater();
}

void TabChip::mouseReleaseEvent(QMouseEvent* event)
{
    const bool click = pressedAt && !dragged && event->button() == Qt::LeftButton
                       && rect().contains(event->position().toPoint());
    pressedAt.reset();
    dragged = false;
    if (!click)
        return;
    if (MacTab* open = openTab())
        model.activate(*open);
}

void TabChip::contextMenuEvent(QContextMenuEvent* event)
{
    QMenu* menu = makeMenu(this);
    menu->setAttribute(Qt::WA_DeleteOnClose);
    // After the menu, or after the sheet one of its entries opens.
    connect(menu, &QMenu::aboutToHide, this, &TabChip::hoverFromPointer, Qt::QueuedConnection);
    menu->popup(event->globalPos());
}

QMenu* TabChip::makeMenu(QWidget* parent)
{
    auto* menu = new QMenu(parent);
    QPointer<TabChip> self(this);
    QPointer<MacTab> tab = shown;
    MacConnection* found = shown ? model.connection(shown->connId) : nullptr;
    const bool tmux = shown && shown->useTmux && found != nullptr;
    // The connection as found now: a server disconnected meanwhile makes its entries do nothing.
    QPointer<MacConnection> connection(found);
    MacModel* owner = &model;

    menu->addAction(QStringLiteral("Renommer…"), this, [self] {
        if (self)
            self->beginRename();
    });
    if (shown && model.tabLabels().contains(tabKey)) {
        menu->addAction(QStringLiteral("Rétablir le nom"), this, [owner, tab] {
            if (tab)
                owner->renameTab(*tab, std::nullopt);
        });
    }
    if (tmux) {
        menu->addAction(QStringLiteral("Ouvrir une autre session ici"), this, [owner, tab, connection] {
            if (tab && connection)
                owner->openAnotherSession(tab->project.name, tab->project.path, *connection);
        });
    }
    menu->addSeparator();
    menu->addAction(QStringLiteral("Fermer l'onglet"), this, [self] {
        if (self) {
            if (MacTab* open = self->openTab())
                self->model.closeTab(*open);
        }
    });
    if (tmux) {
        const QString session = shown->project.session;
        menu->addAction(QStringLiteral("Fermer la session tmux"), this, [owner, connection, session] {
            if (connection)
                owner->killSession(session, *connection);
        });
    }
    return menu;
}

QDialog* TabChip::beginRename()
{
    if (!shown)
        return nullptr;
    newName = model.tabTitle(*shown);
    if (renaming) {
        if (auto* field = renaming->findChild<QLineEdit*>())
            field->setText(newName);
        return renaming;
    }

    auto* sheet = new QDialog(this);
    sheet->setAttribute(Qt::WA_DeleteOnClose);
    sheet->setWindowModality(Qt::WindowModal);
    sheet->setWindowTitle(QStringLiteral("Renommer l'onglet"));
    auto* column = new QVBoxLayout(sheet);
    column->setContentsMargins(20, 20, 20, 20);
    column->setSpacing(12);
    auto* heading = plainLabel(QStringLiteral("Renommer l'onglet"), sheet);
    QFont bold = heading->font();
    bold.setWeight(QFont::DemiBold);
    heading->setFont(bold);
    column->addWidget(heading);
    auto* field = new QLineEdit(newName, sheet);
    field->setPlaceholderText(QStringLiteral("Nom"));
    column->addWidget(field);
    auto* buttons = new QHBoxLayout();
    auto* cancelButton = new QPushButton(QStringLiteral("Annuler"), sheet);
    cancelButton->setAutoDefault(false);
    auto* renameButton = new QPushButton(QStringLiteral("Renommer"), sheet);
    renameButton->setDefault(true);
    buttons->addStretch(1);
    buttons->addWidget(cancelButton);
    buttons->addWidget(renameButton);
    column->addLayout(buttons);

    connect(field, &QLineEdit::textChanged, this, [this](const QString& text) { newName = text; });
    connect(cancelButton, &QPushButton::clicked, sheet, &QDialog::reject);
    connect(renameButton, &QPushButton::clicked, sheet, [this, sheet] {
        if (MacTab* open = openTab())
            model.renameTab(*open, newName);
        sheet->accept();
    });
    connect(sheet, &QDialog::finished, this, &TabChip::hoverFromPointer, Qt::QueuedConnection);
    renaming = sheet;
    sheet->open();
    field->setFocus();
    return sheet;
}

void TabChip::dragEnterEvent(QDragEnterEvent* event)
{
    if (event->mimeData()->hasText())
        event->acceptProposedAction();
}

void TabChip::dragMoveEvent(QDragMoveEvent* event)
{
    if (event->mimeData()->hasText())
        event->acceptProposedAction();
}

void TabChip::dropEvent(QDropEvent* event)
{
    QStringList keys;
    for (const MacTab* tab : model.tabs())
        keys << tab->id();
    QStringList items;
    if (event->mimeData()->hasText())
        items << event->mimeData()->text();
    const std::optional<TabMove> move = tabDropMove(keys, items, tabKey);
    if (!move) {
        event->ignore();
        return;
    }
    model.moveTabs({move->from}, move->destination);
    event->acceptProposedAction();
}

} // namespace halvoren
