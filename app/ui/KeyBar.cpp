#include "ui/KeyBar.h"

#include "tab/MacTab.h"
#include "style/Palette.h"

#include <QHBoxLayout>
#include <QScrollBar>
#include <QToolButton>
#include <QWheelEvent>

#include <cstdint>
#include <span>

namespace halvoren {

const QList<KeyCap>& defaultKeyBarKeys()
{
    static const QList<KeyCap> keys = {
        {QStringLiteral("esc"), QByteArrayLiteral("\x1b")},
        {QStringLiteral("tab"), QByteArrayLiteral("\x09")},
        {QStringLiteral("↩"), QByteArrayLiteral("\x0d")},
        {QStringLiteral("^C"), QByteArrayLiteral("\x03")},
        {QStringLiteral("^D"), QByteArrayLiteral("\x04")},
        {QStringLiteral("^Z"), QByteArrayLiteral("\x1a")},
        {QStringLiteral("^L"), QByteArrayLiteral("\x0c")},
        {QStringLiteral("↑"), QByteArrayLiteral("\x1b[A")},
        {QStringLiteral("↓"), QByteArrayLiteral("\x1b[B")},
        {QStringLiteral("←"), QByteArrayLiteral("\x1b[D")},
        {QStringLiteral("→"), QByteArrayLiteral("\x1b[C")},
    };
    return keys;
}

KeyBar::KeyBar(QWidget* parent)
    : QScrollArea(parent)
{
    setFrameShape(QFrame::NoFrame);
    setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    setWidgetResizable(true);
    setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);

    auto* row = new QWidget;
    row->setObjectName(QStringLiteral("keyRow"));
    auto* layout = new QHBoxLayout(row);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(5);

    QFont font;
    font.setFamily(QStringLiteral("monospace"));
    font.setStyleHint(QFont::Monospace);
    font.setPixelSize(11);
    font.setWeight(QFont::Medium);
    const QString style = QStringLiteral("QToolButton { background: %1; border: none; border-radius: 5px;"
                                         " padding: 0 4px; color: white; }"
                                         "QToolButton:pressed { background: %2; }")
                              .arg(Palette::field().name(QColor::HexArgb), Palette::separator().name(QColor::HexArgb));
    for (const KeyCap& cap : keys) {
        auto* button = new QToolButton(row);
        button->setText(cap.label);
        button->setFont(font);
        button->setMinimumSize(30, 22);
        button->setStyleSheet(style);
        button->setFocusPolicy(Qt::NoFocus);
        connect(button, &QToolButton::clicked, this, [this, cap] { press(cap); });
        layout->addWidget(button);
    }
    layout->addStretch(1);
    setWidget(row);
    // The bar's own colour shows through; setWidget turned the row's fill on.
    row->setAutoFillBackground(false);
    viewport()->setAutoFillBackground(false);
    setFixedHeight(row->sizeHint().height());
}

void KeyBar::press(const KeyCap& cap)
{
    if (!tab || !tab->terminal)
        return;
    tab->terminal->sendUserInput(std::span(reinterpret_cast<const std::uint8_t*>(cap.bytes.constData()),
                                           std::size_t(cap.bytes.size())));
}

void KeyBar::wheelEvent(QWheelEvent* event)
{
    const QPoint delta = event->angleDelta();
    const int step = delta.x() != 0 ? delta.x() : delta.y();
    QScrollBar* bar = horizontalScrollBar();
    bar->setValue(bar->value() - step / 4);
    event->accept();
}

} // namespace halvoren
