#include "gpu/qt/CustomGlyphDrawing.h"

#include <QColor>
#include <QImage>
#include <QPainter>

#include "drawing/qt/CellArtPainter.h"

namespace corvantix {

bool isCustomGlyph(std::uint32_t codePoint)
{
    if (codePoint >= 0x2500 && codePoint <= 0x257F)
        return true;
    if (codePoint >= 0x2580 && codePoint <= 0x259F)
        return !blockElementRects(codePoint).empty();
    return isPowerlineSeparator(codePoint);
}

bool drawCustomGlyphInto(std::uint32_t codePoint, int cellWidthPx, int cellHeightPx, int baseThicknessPx, bool antiAlias,
                         double scale, std::uint8_t* buffer, int width, int height, int bytesPerRow)
{
    if (buffer == nullptr || width < 1 || height < 1 || bytesPerRow < width * 4 || !isCustomGlyph(codePoint))
        return false;
    QImage image(buffer, width, height, bytesPerRow, QImage::Format_ARGB32_Premultiplied);
    QPainter painter(&image);
    if (!painter.isActive())
        return false;
    const double pixelScale = scale > 0.0 ? scale : 1.0;
    // Drawing happens in points over the cell, like the painter's rows.
    painter.scale(pixelScale, pixelScale);
    const PointRect cell{0, 0, cellWidthPx / pixelScale, cellHeightPx / pixelScale};
    const QColor white(Qt::white);

    if (codePoint >= 0x2500 && codePoint <= 0x257F) {
        painter.setRenderHint(QPainter::Antialiasing, false);
        drawBoxDrawingGlyph(codePoint, painter, white, baseThicknessPx, cell, pixelScale);
    } else if (codePoint >= 0x2580 && codePoint <= 0x259F) {
        painter.setRenderHint(QPainter::Antialiasing, antiAlias);
        const BlockElementRenderItem item{0, 1, codePoint, blockElementRects(codePoint), RgbaColor::white()};
        const CellGrid grid{0, 0, cell.width, cell.height};
        for (const BlockFill& fill : blockElementFills(item, grid, pixelScale, antiAlias))
            painter.fillRect(QRectF(fill.rect.x, fill.rect.y, fill.rect.width, fill.rect.height), toQColor(fill.color));
    } else {
        if (!(scale > 0.0))
            return true; // nothing to draw at no scale
        painter.setRenderHint(QPainter::Antialiasing, true);
        if (const auto shape = powerlineShape(codePoint, cell, pixelScale, pixelScale))
            fillPowerlineShape(painter, *shape, white);
    }
    return true;
}

} // namespace corvantix
