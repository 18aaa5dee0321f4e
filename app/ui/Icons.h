// Symbols drawn with the painter: the desktop's icon themes are absent on many machines, and
// every symbol the views use is a simple shape. Names follow the symbol names the views use
// ("folder", "folder.fill", "star.fill", "chevron.right", "eye.slash", "wifi.exclamationmark",
// "arrow.clockwise", "server.rack", "xmark", "trash", "paperclip", "arrow.up", "plus", "minus",
// "gearshape", "text.bubble", "command", "bolt", "minus.circle", "sidebar.left"); an unknown name
// draws nothing.
#pragma once

#include <QColor>
#include <QIcon>
#include <QRectF>
#include <QStringView>

class QPainter;

namespace halvoren {

void paintSymbol(QPainter& painter, QStringView name, const QRectF& box, const QColor& color);
// The symbol in `color`, and faded for a disabled control: the style's own greying of a light
// symbol on the dark panels is too slight to see.
QIcon symbolIcon(QStringView name, const QColor& color, int pixelSize = 16);

// The application's icon: an amber prompt on a dark rounded tile, drawn like the symbols.
void paintApplicationIcon(QPainter& painter, const QRectF& box);
// Every common size, for window lists, task bars and the first-run sheet.
QIcon applicationIcon();

} // namespace halvoren
