#include "ui/StatusBars.h"

#include "workspace/MacModel.h"
#include "tab/MacTab.h"
#include "ui/Icons.h"
#include "style/Palette.h"
#include "style/VisibleText.h"
#include "ui/PlainText.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QPainter>
#include <QPainterPath>

namespace halvoren {

namespace {

const QColor& systemOrange()
{
    static const QColor colour(255, 159, 10);
    return colour;
}

// A warning triangle with an exclamation mark.
void paintWarning(QPainter& painter, const QRectF& box, const QColor& colour)
{
    painter.save();
    painter.setRenderHint(QPainter::Antialiasing);
    QPainterPath triangle;
    triangle.moveTo(box.center().x(), box.top() + 1);
    triangle.lineTo(box.right() - 1, box.bottom() - 1);
    triangle.lineTo(box.left() + 1, box.bottom() - 1);
    triangle.closeSubpath();
    painter.setPen(QPen(colour, 1.5, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
    painter.setBrush(Qt::NoBrush);
    painter.drawPath(triangle);
    const qreal x = box.center().x();
    painter.drawLine(QPointF(x, box.top() + box.height() * 0.38), QPointF(x, box.top() + box.height() * 0.66));
    painter.drawPoint(QPointF(x, box.top() + box.height() * 0.8));
    painter.restore();
}

class SymbolLabel : public QWidget {
public:
    explicit SymbolLabel(QWidget* parent)
        : QWidget(parent)
    {
        setFixedSize(16, 16);
    }
    QString name;

protected:
    void paintEvent(QPaintEvent*) override
    {
        QPainter painter(this);
        if (name == u"exclamationmark.triangle")
            paintWarning(painter, QRectF(rect()), Qt::white);
        else
            paintSymbol(painter, name, QRectF(rect()), Qt::white);
    }
};

} // namespace

std::optional<StatusBar> statusBarFor(const MacModel& model)
{
    const MacTab* tab = model.activeTab();
    if (tab == nullptr)
        return std::nullopt;
    const MacConnection* connection = model.connection(tab->connId);
    if (connection == nullptr)
        return std::nullopt;
    const QString name = connection->profile ? visibleText(connection->profile->name) : QStringLiteral("Cet ordinateur");
    if (connection->unreachable())
        return StatusBar{QStringLiteral("wifi.exclamationmark"),
                         name + QStringLiteral(" ne répond plus — reconnexion automatique dès qu'il revient."),
                         Palette::alert()};
    if (!connection->tmuxAvailable())
        return StatusBar{QStringLiteral("exclamationmark.triangle"),
                         QStringLiteral("tmux est absent de ")
                             + (connection->profile ? name : QStringLiteral("cet ordinateur"))
                             + QStringLiteral(" : sessions non persistantes. Installe-le (apt install tmux)."),
                         systemOrange()};
    return std::nullopt;
}

StatusBars::StatusBars(MacModel& model, QWidget* parent)
    : QWidget(parent), model(model), text(new WrappedLabel(QString(), this))
{
    setObjectName(QStringLiteral("statusBars"));
    auto* row = new QHBoxLayout(this);
    row->setContentsMargins(12, 7, 12, 7);
    row->setSpacing(8);
    auto* symbol = new SymbolLabel(this);
    symbol->setObjectName(QStringLiteral("statusSymbol"));
    row->addWidget(symbol);
    QFont callout = text->font();
    callout.setPixelSize(12);
    text->setFont(callout);
    text->setObjectName(QStringLiteral("statusText"));
    QPalette colours = text->palette();
    colours.setColor(QPalette::WindowText, Qt::white);
    text->setPalette(colours);
    // A long server name wraps, anywhere in a word too long for a line, up to three lines;
    // past them the text ends in "…" and reads whole in the tooltip. The bar is as tall as
    // its lines.
    text->setMaximumLines(maximumLines);
    row->addWidget(text, 1);
    QSizePolicy policy(QSizePolicy::Preferred, QSizePolicy::Preferred);
    policy.setHeightForWidth(true);
    setSizePolicy(policy);

    connect(&model, &MacModel::activeTabIDChanged, this, &StatusBars::refresh);
    connect(&model, &MacModel::tabsChanged, this, &StatusBars::refresh);
    connect(&model, &MacModel::connectionsChanged, this, [this] {
        watchConnections();
        refresh();
    });
    watchConnections();
    refresh();
}

void StatusBars::watchConnections()
{
    for (const QMetaObject::Connection& connection : std::as_const(watched))
        disconnect(connection);
    watched.clear();
    for (MacConnection* connection : model.connections()) {
        watched << connect(connection, &MacConnection::unreachableChanged, this, &StatusBars::refresh);
        watched << connect(connection, &MacConnection::tmuxAvailableChanged, this, &StatusBars::refresh);
    }
}

void StatusBars::refresh()
{
    current = statusBarFor(model);
    if (current) {
        findChild<SymbolLabel*>(QStringLiteral("statusSymbol"))->name = current->symbol;
        text->setText(current->text);
        text->setToolTip(plainToolTip(current->text));
    }
    setVisible(bool(current));
    update();
}

void StatusBars::paintEvent(QPaintEvent*)
{
    if (!current)
        return;
    QColor tint = current->tint;
    tint.setAlphaF(0.22f);
    QPainter painter(this);
    painter.fillRect(rect(), tint);
}

} // namespace halvoren
