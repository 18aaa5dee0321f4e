#include "ui/Icons.h"

#include "style/Palette.h"

#include <QLinearGradient>
#include <QPainter>
#include <QPainterPath>
#include <QPixmap>
#include <QPolygonF>

#include <algorithm>
#include <cmath>
#include <numbers>

namespace halvoren {

namespace {

// Every symbol is drawn on a 24 × 24 grid; paintSymbol scales that grid into the box. Lines
// are 1.8 units wide with round ends, so they stay crisp from 12 to 64 pixels.
constexpr double grid = 24.0;
constexpr double lineWidth = 1.8;
// How much of its colour a disabled control's symbol keeps.
constexpr double disabledOpacity = 0.32;

void stroke(QPainter& p, const QPainterPath& path) { p.strokePath(path, p.pen()); }

void fill(QPainter& p, const QPainterPath& path) { p.fillPath(path, p.pen().color()); }

QPainterPath folderPath()
{
    QPainterPath path;
    path.moveTo(3, 7);
    path.quadTo(3, 5.5, 4.5, 5.5);
    path.lineTo(9, 5.5);
    path.lineTo(11, 8);
    path.lineTo(19.5, 8);
    path.quadTo(21, 8, 21, 9.5);
    path.lineTo(21, 18.5);
    path.quadTo(21, 20, 19.5, 20);
    path.lineTo(4.5, 20);
    path.quadTo(3, 20, 3, 18.5);
    path.closeSubpath();
    return path;
}

void folder(QPainter& p) { stroke(p, folderPath()); }

void folderFill(QPainter& p) { fill(p, folderPath()); }

void starFill(QPainter& p)
{
    QPolygonF star;
    for (int i = 0; i < 10; ++i) {
        const double radius = i % 2 == 0 ? 10.0 : 4.2;
        const double angle = -std::numbers::pi / 2 + i * std::numbers::pi / 5;
        star << QPointF(12 + radius * std::cos(angle), 12.8 + radius * std::sin(angle));
    }
    QPainterPath path;
    path.addPolygon(star);
    path.closeSubpath();
    fill(p, path);
}

void chevronRight(QPainter& p) { p.drawPolyline(QPolygonF{{9, 5}, {16, 12}, {9, 19}}); }

void eyeSlash(QPainter& p)
{
    QPainterPath eye;
    eye.moveTo(2.5, 12);
    eye.quadTo(12, 2, 21.5, 12);
    eye.quadTo(12, 22, 2.5, 12);
    stroke(p, eye);
    p.drawEllipse(QPointF(12, 12), 3, 3);
    p.drawLine(QPointF(4, 4), QPointF(20, 20));
}

void wifiExclamationmark(QPainter& p)
{
    // Arcs around a point near the bottom, the exclamation mark beside them.
    const QPointF centre(10, 19);
    for (const double radius : {4.0, 8.0, 12.0}) {
        QPainterPath arc;
        const QRectF box(centre.x() - radius, centre.y() - radius, radius * 2, radius * 2);
        arc.arcMoveTo(box, 50);
        arc.arcTo(box, 50, 80);
        stroke(p, arc);
    }
    QPainterPath dot;
    dot.addEllipse(centre, 1.5, 1.5);
    fill(p, dot);
    p.drawLine(QPointF(21, 5), QPointF(21, 14));
    QPainterPath mark;
    mark.addEllipse(QPointF(21, 18.5), 1.3, 1.3);
    fill(p, mark);
}

void arrowClockwise(QPainter& p)
{
    // From the right, all the way round clockwise to the top, where the head points on.
    const QRectF box(4.5, 5, 15, 15);
    QPainterPath arc;
    arc.arcMoveTo(box, 30);
    arc.arcTo(box, 30, -300);
    stroke(p, arc);
    const QPointF tip(12, 5);
    p.drawPolyline(QPolygonF{tip + QPointF(-3, -3), tip, tip + QPointF(-3, 3)});
}

void serverRack(QPainter& p)
{
    for (const double top : {3.5, 9.5, 15.5}) {
        QPainterPath unit;
        unit.addRoundedRect(QRectF(3, top, 18, 5), 1.5, 1.5);
        stroke(p, unit);
        QPainterPath light;
        light.addEllipse(QPointF(6.5, top + 2.5), 0.9, 0.9);
        fill(p, light);
    }
}

void xmark(QPainter& p)
{
    p.drawLine(QPointF(6, 6), QPointF(18, 18));
    p.drawLine(QPointF(18, 6), QPointF(6, 18));
}

void trash(QPainter& p)
{
    p.drawLine(QPointF(3.5, 6), QPointF(20.5, 6));
    p.drawPolyline(QPolygonF{{9, 6}, {9, 3.5}, {15, 3.5}, {15, 6}});
    QPainterPath can;
    can.moveTo(5.5, 6);
    can.lineTo(6.5, 20.5);
    can.lineTo(17.5, 20.5);
    can.lineTo(18.5, 6);
    stroke(p, can);
    p.drawLine(QPointF(10, 10), QPointF(10, 17));
    p.drawLine(QPointF(14, 10), QPointF(14, 17));
}

void paperclip(QPainter& p)
{
    // Two nested loops of a clip, drawn upright and turned a little.
    p.save();
    p.translate(12, 12);
    p.rotate(35);
    p.translate(-12, -12);
    QPainterPath clip;
    clip.moveTo(14.5, 8);
    clip.lineTo(14.5, 17);
    clip.arcTo(QRectF(9.5, 14.5, 5, 5), 0, -180);
    clip.lineTo(9.5, 6);
    clip.arcTo(QRectF(9.5, 2.5, 7, 7), 180, -180);
    clip.lineTo(16.5, 17.5);
    clip.arcTo(QRectF(7.5, 13, 9, 9), 0, -180);
    clip.lineTo(7.5, 9);
    stroke(p, clip);
    p.restore();
}

void arrowUp(QPainter& p)
{
    p.drawLine(QPointF(12, 20), QPointF(12, 4.5));
    p.drawPolyline(QPolygonF{{5.5, 11}, {12, 4.5}, {18.5, 11}});
}

void plus(QPainter& p)
{
    p.drawLine(QPointF(12, 4.5), QPointF(12, 19.5));
    p.drawLine(QPointF(4.5, 12), QPointF(19.5, 12));
}

void minus(QPainter& p) { p.drawLine(QPointF(4.5, 12), QPointF(19.5, 12)); }

void gearshape(QPainter& p)
{
    p.drawEllipse(QPointF(12, 12), 6.2, 6.2);
    p.drawEllipse(QPointF(12, 12), 2.4, 2.4);
    QPen teeth = p.pen();
    teeth.setWidthF(lineWidth * 1.7);
    teeth.setCapStyle(Qt::FlatCap);
    p.save();
    p.setPen(teeth);
    for (int i = 0; i < 8; ++i) {
        const double angle = i * std::numbers::pi / 4;
        const QPointF direction(std::cos(angle), std::sin(angle));
        p.drawLine(QPointF(12, 12) + direction * 6.5, QPointF(12, 12) + direction * 9.5);
    }
    p.restore();
}

void textBubble(QPainter& p)
{
    QPainterPath bubble;
    bubble.addRoundedRect(QRectF(3, 4, 18, 13), 3.5, 3.5);
    QPainterPath tail;
    tail.moveTo(7, 16.5);
    tail.lineTo(6, 21);
    tail.lineTo(11.5, 16.5);
    stroke(p, bubble.united(tail));
    p.drawLine(QPointF(7.5, 8.5), QPointF(16.5, 8.5));
    p.drawLine(QPointF(7.5, 12.5), QPointF(13.5, 12.5));
}

void command(QPainter& p)
{
    // The loops at the four corners joined by the sides of a small central square.
    p.drawRect(QRectF(9, 9, 6, 6));
    for (const QPointF centre : {QPointF(6, 6), QPointF(18, 6), QPointF(6, 18), QPointF(18, 18)})
        p.drawEllipse(centre, 3, 3);
}

void bolt(QPainter& p)
{
    QPainterPath flash;
    flash.moveTo(13.5, 2.5);
    flash.lineTo(5, 13.5);
    flash.lineTo(11.5, 13.5);
    flash.lineTo(10.5, 21.5);
    flash.lineTo(19, 10.5);
    flash.lineTo(12.5, 10.5);
    flash.closeSubpath();
    stroke(p, flash);
}

void minusCircle(QPainter& p)
{
    p.drawEllipse(QPointF(12, 12), 9, 9);
    p.drawLine(QPointF(7.5, 12), QPointF(16.5, 12));
}

void sidebarLeft(QPainter& p)
{
    QPainterPath frame;
    frame.addRoundedRect(QRectF(2.5, 4.5, 19, 15), 2.5, 2.5);
    stroke(p, frame);
    p.drawLine(QPointF(9.5, 4.5), QPointF(9.5, 19.5));
    p.drawLine(QPointF(5, 8), QPointF(7, 8));
    p.drawLine(QPointF(5, 11), QPointF(7, 11));
}

struct Symbol {
    QStringView name;
    void (*paint)(QPainter&);
};

constexpr Symbol symbols[] = {
    {u"folder", folder},
    {u"folder.fill", folderFill},
    {u"star.fill", starFill},
    {u"chevron.right", chevronRight},
    {u"eye.slash", eyeSlash},
    {u"wifi.exclamationmark", wifiExclamationmark},
    {u"arrow.clockwise", arrowClockwise},
    {u"server.rack", serverRack},
    {u"xmark", xmark},
    {u"trash", trash},
    {u"paperclip", paperclip},
    {u"arrow.up", arrowUp},
    {u"plus", plus},
    {u"minus", minus},
    {u"gearshape", gearshape},
    {u"text.bubble", textBubble},
    {u"command", command},
    {u"bolt", bolt},
    {u"minus.circle", minusCircle},
    {u"sidebar.left", sidebarLeft},
};

} // namespace

void paintSymbol(QPainter& painter, QStringView name, const QRectF& box, const QColor& color)
{
    const auto found = std::find_if(std::begin(symbols), std::end(symbols), [&](const Symbol& s) { return s.name == name; });
    if (found == std::end(symbols) || box.isEmpty())
        return;
    painter.save();
    painter.setRenderHint(QPainter::Antialiasing);
    // The largest square of the box, centred.
    const double side = std::min(box.width(), box.height());
    painter.translate(box.center() - QPointF(side / 2, side / 2));
    painter.scale(side / grid, side / grid);
    painter.setPen(QPen(color, lineWidth, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
    painter.setBrush(Qt::NoBrush);
    found->paint(painter);
    painter.restore();
}

QIcon symbolIcon(QStringView name, const QColor& color, int pixelSize)
{
    const auto drawn = [&](const QColor& ink) {
        QPixmap pixmap(pixelSize, pixelSize);
        pixmap.fill(Qt::transparent);
        QPainter painter(&pixmap);
        paintSymbol(painter, name, QRectF(0, 0, pixelSize, pixelSize), ink);
        return pixmap;
    };
    QColor faded = color;
    faded.setAlphaF(color.alphaF() * disabledOpacity);
    QIcon icon(drawn(color));
    icon.addPixmap(drawn(faded), QIcon::Disabled);
    return icon;
}

void paintApplicationIcon(QPainter& painter, const QRectF& box)
{
    if (box.isEmpty())
        return;
    painter.save();
    painter.setRenderHint(QPainter::Antialiasing);
    const double side = std::min(box.width(), box.height());
    painter.translate(box.center() - QPointF(side / 2, side / 2));
    painter.scale(side / grid, side / grid);
    // The tile: the terminal's own dark, a little lighter at the top, with a faint rim.
    QPainterPath tile;
    tile.addRoundedRect(QRectF(1, 1, 22, 22), 5, 5);
    QLinearGradient shade(0, 1, 0, 23);
    shade.setColorAt(0, QColor(44, 44, 52));
    shade.setColorAt(1, QColor(16, 16, 19));
    painter.fillPath(tile, shade);
    painter.setPen(QPen(QColor(255, 255, 255, 40), 0.5));
    painter.drawPath(tile);
    // The prompt: a chevron and a caret, in the accent amber.
    painter.setPen(QPen(Palette::accent(), 2.4, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
    painter.drawPolyline(QPolygonF{{6.5, 8}, {11, 12}, {6.5, 16}});
    painter.drawLine(QPointF(13, 16.5), QPointF(17.5, 16.5));
    painter.restore();
}

QIcon applicationIcon()
{
    QIcon icon;
    for (const int size : {16, 24, 32, 48, 56, 64, 128, 256}) {
        QPixmap pixmap(size, size);
        pixmap.fill(Qt::transparent);
        QPainter painter(&pixmap);
        paintApplicationIcon(painter, QRectF(0, 0, size, size));
        painter.end();
        icon.addPixmap(pixmap);
    }
    return icon;
}

} // namespace halvoren
