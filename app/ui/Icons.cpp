#include "ui/Icons.h"

#include <QPainter>
#include <QPixmap>

namespace halvoren {

void paintSymbol(QPainter&, QStringView, const QRectF&, const QColor&) {}

QIcon symbolIcon(QStringView name, const QColor& color, int pixelSize)
{
    QPixmap pixmap(pixelSize, pixelSize);
    pixmap.fill(Qt::transparent);
    QPainter painter(&pixmap);
    paintSymbol(painter, name, QRectF(0, 0, pixelSize, pixelSize), color);
    return QIcon(pixmap);
}

} // namespace halvoren
