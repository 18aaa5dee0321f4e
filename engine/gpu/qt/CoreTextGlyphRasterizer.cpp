#include "gpu/qt/CoreTextGlyphRasterizer.h"

#include <cmath>
#include <cstring>

#include <QGlyphRun>
#include <QImage>
#include <QPainter>

namespace corvantix {

QFont::HintingPreference metalHintingPreference(bool fontSmoothing)
{
    return fontSmoothing ? QFont::PreferDefaultHinting : QFont::PreferNoHinting;
}

bool CoreTextGlyphRasterizer::drawsColourBitmaps(const QRawFont& font) const
{
    const std::string key = (font.familyName() + QLatin1Char('-') + font.styleName()).toStdString();
    if (const auto known = colourBitmapFonts_.find(key); known != colourBitmapFonts_.end())
        return known->second;
    // The bitmaps' location tables (small beside the bitmaps themselves), or Apple's.
    const bool colour = !font.fontTable("CBLC").isEmpty() || !font.fontTable("sbix").isEmpty();
    colourBitmapFonts_.emplace(key, colour);
    return colour;
}

std::optional<GlyphBitmap> CoreTextGlyphRasterizer::rasterize(const QRawFont& font, quint32 glyph) const
{
    if (!font.isValid())
        return std::nullopt;
    // Qt measures with y downward from the baseline; the bitmap's bearing is y upward.
    const QRectF bounds = font.boundingRect(glyph);
    if (!(bounds.width() > 0.0) || !(bounds.height() > 0.0))
        return std::nullopt;
    const double minX = bounds.left();
    const double minY = -bounds.bottom();
    const double x0 = std::floor(minX);
    const double y0 = std::floor(minY);
    const double width = std::ceil(minX + bounds.width()) - x0;
    const double height = std::ceil(minY + bounds.height()) - y0;
    // No glyph is this large; the bound keeps a broken font from asking for gigabytes.
    if (width < 1.0 || height < 1.0 || width > 4096.0 || height > 4096.0)
        return std::nullopt;

    GlyphBitmap bitmap;
    bitmap.width = static_cast<int>(width);
    bitmap.height = static_cast<int>(height);
    bitmap.bearingX = x0;
    bitmap.bearingY = y0;
    bitmap.pixels.assign(static_cast<std::size_t>(bitmap.width) * bitmap.height * 4, 0);
    // Premultiplied ARGB in 32-bit words is B, G, R, A in memory on little-endian machines.
    QImage image(bitmap.pixels.data(), bitmap.width, bitmap.height, bitmap.width * 4,
                 QImage::Format_ARGB32_Premultiplied);
    if (image.isNull())
        return std::nullopt;
    {
        QPainter painter(&image);
        if (!painter.isActive())
            return std::nullopt;
        painter.setRenderHint(QPainter::Antialiasing, true);
        painter.setRenderHint(QPainter::TextAntialiasing, true);
        painter.setPen(Qt::white);
        painter.setBrush(Qt::white);
        QGlyphRun run;
        run.setRawFont(font);
        run.setGlyphIndexes({glyph});
        run.setPositions({QPointF(0, 0)});
        // The glyph origin sits x0 left of the bitmap and y0 below its bottom edge.
        painter.drawGlyphRun(QPointF(-x0, y0 + height), run);
    }
    bitmap.isColor = drawsColourBitmaps(font);
    for (std::size_t i = 0; i < bitmap.pixels.size() && !bitmap.isColor; i += 4) {
        const std::uint8_t* p = bitmap.pixels.data() + i;
        if (p[0] != p[1] || p[1] != p[2]) {
            bitmap.isColor = true;
            break;
        }
    }
    return bitmap;
}

} // namespace corvantix
