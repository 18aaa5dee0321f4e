// The painted symbols: each name the views use draws inside its box, in its colour only.
#include "ui/Icons.h"

#include <QImage>
#include <QPainter>

#include <gtest/gtest.h>

namespace halvoren {
namespace {

// Pixels touched inside and outside a 24-pixel box in the middle of a larger image; -1 when
// some pixel is not the given red.
std::pair<int, int> ink(QStringView name)
{
    QImage image(48, 48, QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);
    const QRect box(12, 12, 24, 24);
    QPainter painter(&image);
    paintSymbol(painter, name, box, QColor(255, 0, 0));
    painter.end();
    std::pair<int, int> count;
    for (int i = 0; i < 48 * 48; ++i) {
        const QColor pixel = image.pixelColor(i % 48, i / 48);
        if (pixel.alpha() > 0 && (pixel.green() > 0 || pixel.blue() > 0))
            return {-1, -1};
        if (pixel.alpha() > 0)
            ++(box.contains(i % 48, i / 48) ? count.first : count.second);
    }
    return count;
}

TEST(Symbols, KnownNamesPaintInTheirBoxAndUnknownOnesNothing)
{
    for (const char16_t* name : {u"folder", u"folder.fill", u"star.fill", u"chevron.right", u"eye.slash",
                                 u"wifi.exclamationmark", u"arrow.clockwise", u"server.rack", u"xmark", u"trash",
                                 u"paperclip", u"arrow.up", u"plus", u"minus", u"gearshape", u"text.bubble", u"command",
                                 u"sidebar.left"}) {
        const auto [inside, outside] = ink(name);
        EXPECT_GT(inside, 12) << QString::fromUtf16(name).toStdString();
        EXPECT_EQ(outside, 0) << QString::fromUtf16(name).toStdString();
    }
    EXPECT_GT(ink(u"folder.fill").first, ink(u"folder").first) << "filled covers more than the outline";
    for (const char16_t* name : {u"", u"bolt", u"folder.", u"Folder"})
        EXPECT_EQ(ink(name), std::make_pair(0, 0)) << QString::fromUtf16(name).toStdString();
}

} // namespace
} // namespace halvoren
