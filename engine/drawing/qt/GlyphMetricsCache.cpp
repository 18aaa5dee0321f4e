#include "drawing/qt/GlyphMetricsCache.h"

#include "drawing/qt/HarfBuzzFace.h"

#include <QList>
#include <QPointF>
#include <QRectF>

namespace corvantix {

GlyphMetricsCache::FontEntry& GlyphMetricsCache::entry(const QRawFont& font)
{
    // A handful of fonts at most in a frame: a look along the list is enough.
    for (FontEntry& known : fonts_)
        if (known.font == font)
            return known;
    if (fonts_.size() >= fontLimit)
        fonts_.clear();
    fonts_.push_back(FontEntry{font, {}, {}, -1});
    return fonts_.back();
}

const GlyphMetricsCache::Metrics& GlyphMetricsCache::metrics(const QRawFont& font, quint32 glyph)
{
    FontEntry& known = entry(font);
    if (const auto found = known.glyphs.find(glyph); found != known.glyphs.end())
        return found->second;
    if (known.glyphs.size() >= glyphLimit)
        known.glyphs.clear();
    ++fontLookups_;
    const QList<QPointF> advances = font.advancesForGlyphIndexes(QList<quint32>{glyph});
    const QRectF box = font.boundingRect(glyph);
    const Metrics made{advances.isEmpty() ? 0.0 : advances.front().x(),
                       GlyphBounds{box.x(), -box.bottom(), box.width(), box.height()}};
    return known.glyphs.emplace(glyph, made).first->second;
}

GlyphSlotFit GlyphMetricsCache::slotFit(const QRawFont& font, quint32 glyph, int columnWidth,
                                        const std::optional<CellDimension>& cell, double baselineOffset)
{
    if (columnWidth < 2 || !cell || !font.isValid())
        return GlyphSlotFit::neutral();
    const Metrics& measured = metrics(font, glyph);
    return glyphSlotFit(measured.advance, measured.bounds, columnWidth, cell, baselineOffset);
}

const QRawFont& GlyphMetricsCache::scaled(const QRawFont& font, double scale)
{
    FontEntry& known = entry(font);
    for (const auto& [factor, resized] : known.scaled)
        if (factor == scale)
            return resized;
    if (known.scaled.size() >= scaledLimit)
        known.scaled.clear();
    QRawFont resized = font;
    resized.setPixelSize(font.pixelSize() * scale);
    known.scaled.emplace_back(scale, std::move(resized));
    return known.scaled.back().second;
}

bool GlyphMetricsCache::isColorBitmapFont(const QRawFont& font)
{
    FontEntry& known = entry(font);
    if (known.colorBitmaps < 0)
        known.colorBitmaps = hasColourBitmaps(font) ? 1 : 0;
    return known.colorBitmaps == 1;
}

std::size_t GlyphMetricsCache::size() const
{
    std::size_t count = 0;
    for (const FontEntry& known : fonts_)
        count += known.glyphs.size();
    return count;
}

} // namespace corvantix
