#include "drawing/qt/GlyphMetricsCache.h"

#include <gtest/gtest.h>

#include <QFont>
#include <QFontDatabase>
#include <QRawFont>

namespace corvantix {
namespace {

QRawFont rawFont(const QString& family)
{
    QFont font(family);
    font.setPixelSize(14);
    return QRawFont::fromFont(font);
}

class GlyphMetricsCacheTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        if (!QFontDatabase::families().contains(QStringLiteral("Noto Color Emoji")))
            FAIL() << "the colour emoji font is missing; install the Debian package fonts-noto-color-emoji";
        if (!QFontDatabase::families().contains(QStringLiteral("DejaVu Sans Mono")))
            FAIL() << "DejaVu Sans Mono is missing; install the Debian package fonts-dejavu-core";
        text = rawFont(QStringLiteral("DejaVu Sans Mono"));
        emoji = rawFont(QStringLiteral("Noto Color Emoji"));
        ASSERT_TRUE(text.isValid() && emoji.isValid());
    }
    QRawFont text;
    QRawFont emoji;
    GlyphMetricsCache cache;
};

// What the cache answers is what the font answers, for text and colour glyphs alike, the
// first time and from the cache.
TEST_F(GlyphMetricsCacheTest, AnswersAsTheFontDoes)
{
    struct Case {
        const QRawFont* font;
        char32_t character;
    };
    for (const Case& c : {Case{&text, U'M'}, Case{&text, U'g'}, Case{&text, U'\u2500'}, Case{&emoji, U'\U0001F600'},
                          Case{&emoji, U'\U0001F44D'}}) {
        const QList<quint32> glyphs = c.font->glyphIndexesForString(QString::fromUcs4(&c.character, 1));
        ASSERT_EQ(glyphs.size(), 1);
        const quint32 glyph = glyphs.front();
        ASSERT_NE(glyph, 0u) << static_cast<int>(c.character);
        const double advance = c.font->advancesForGlyphIndexes(glyphs).front().x();
        const QRectF box = c.font->boundingRect(glyph);
        for (int pass = 0; pass < 2; ++pass) {
            const GlyphMetricsCache::Metrics& metrics = cache.metrics(*c.font, glyph);
            EXPECT_DOUBLE_EQ(metrics.advance, advance) << static_cast<int>(c.character);
            EXPECT_DOUBLE_EQ(metrics.bounds.x, box.x()) << static_cast<int>(c.character);
            EXPECT_DOUBLE_EQ(metrics.bounds.minY, -box.bottom()) << static_cast<int>(c.character);
            EXPECT_DOUBLE_EQ(metrics.bounds.width, box.width()) << static_cast<int>(c.character);
            EXPECT_DOUBLE_EQ(metrics.bounds.height, box.height()) << static_cast<int>(c.character);
        }
    }
    EXPECT_EQ(cache.size(), 5u);
}

// A resized font is made once per font and scale: the same engine each time, so the glyphs
// it rasterises stay cached; another scale or another font is another engine.
TEST_F(GlyphMetricsCacheTest, AResizedFontIsMadeOnce)
{
    const QRawFont first = cache.scaled(emoji, 0.75);
    const QRawFont again = cache.scaled(emoji, 0.75);
    EXPECT_TRUE(first == again);
    EXPECT_DOUBLE_EQ(first.pixelSize(), emoji.pixelSize() * 0.75);
    const QRawFont other = cache.scaled(emoji, 0.5);
    EXPECT_FALSE(other == first);
    EXPECT_DOUBLE_EQ(other.pixelSize(), emoji.pixelSize() * 0.5);
    EXPECT_FALSE(cache.scaled(text, 0.75) == first);
}

TEST_F(GlyphMetricsCacheTest, KnowsColourBitmapFonts)
{
    EXPECT_TRUE(cache.isColorBitmapFont(emoji));
    EXPECT_FALSE(cache.isColorBitmapFont(text));
    EXPECT_TRUE(cache.isColorBitmapFont(emoji)); // from the cache
}

// Bounded: a font's glyphs past the limit start its list again, and so do fonts past theirs.
TEST_F(GlyphMetricsCacheTest, StaysWithinItsLimits)
{
    // DejaVu Sans has more glyphs than the limit.
    const QRawFont large = rawFont(QStringLiteral("DejaVu Sans"));
    ASSERT_GT(large.glyphIndexesForString(QStringLiteral("a")).value(0), 0u);
    for (quint32 glyph = 1; glyph <= GlyphMetricsCache::glyphLimit + 10; ++glyph)
        cache.metrics(large, glyph);
    EXPECT_LE(cache.size(), GlyphMetricsCache::glyphLimit);
    EXPECT_GE(cache.size(), 10u);
    for (int size = 8; size < 8 + static_cast<int>(GlyphMetricsCache::fontLimit) + 4; ++size) {
        QFont font(QStringLiteral("DejaVu Sans Mono"));
        font.setPixelSize(size);
        cache.metrics(QRawFont::fromFont(font), 36);
    }
    EXPECT_LE(cache.size(), GlyphMetricsCache::glyphLimit + GlyphMetricsCache::fontLimit);
}

} // namespace
} // namespace corvantix
