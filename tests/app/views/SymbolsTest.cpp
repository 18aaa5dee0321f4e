// The painted symbols: every name the views use draws something inside its box in the given
// colour, and an unknown name draws nothing.
#include "ui/Icons.h"

#include <QImage>
#include <QPainter>

#include <gtest/gtest.h>

namespace halvoren {
namespace {

struct Ink {
    int inside = 0, outside = 0;
    bool otherColour = false;
};

// Paints into the middle of a larger transparent image and counts the touched pixels.
Ink paint(QStringView name)
{
    QImage image(48, 48, QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);
    const QRect box(12, 12, 24, 24);
    {
        QPainter painter(&image);
        paintSymbol(painter, name, box, QColor(255, 0, 0));
    }
    Ink ink;
    for (int y = 0; y < image.height(); ++y) {
        for (int x = 0; x < image.width(); ++x) {
            const QColor pixel = image.pixelColor(x, y);
            if (pixel.alpha() == 0)
                continue;
            (box.contains(x, y) ? ink.inside : ink.outside) += 1;
            ink.otherColour = ink.otherColour || pixel.green() > 0 || pixel.blue() > 0;
        }
    }
    return ink;
}

TEST(Symbols, EveryNamePaintsInItsBoxInItsColour)
{
    for (const char16_t* name : {u"folder", u"folder.fill", u"star.fill", u"chevron.right", u"eye.slash",
                                 u"wifi.exclamationmark", u"arrow.clockwise", u"server.rack", u"xmark", u"trash",
                                 u"paperclip", u"arrow.up", u"plus", u"minus", u"gearshape", u"text.bubble", u"command",
                                 u"sidebar.left"}) {
        SCOPED_TRACE(QString::fromUtf16(name).toStdString());
        const Ink ink = paint(name);
        EXPECT_GT(ink.inside, 12);
        EXPECT_EQ(ink.outside, 0);
        EXPECT_FALSE(ink.otherColour);
    }
    // A filled shape covers more than its outline.
    EXPECT_GT(paint(u"folder.fill").inside, paint(u"folder").inside);
    // The icon form carries the same drawing.
    const QImage icon = symbolIcon(u"xmark", Qt::white, 16).pixmap(16, 16).toImage();
    int touched = 0;
    for (int y = 0; y < icon.height(); ++y)
        for (int x = 0; x < icon.width(); ++x)
            touched += icon.pixelColor(x, y).alpha() > 0 ? 1 : 0;
    EXPECT_GT(touched, 8);
}

TEST(Symbols, UnknownNamesPaintNothing)
{
    for (const char16_t* name : {u"", u"bolt", u"folder.", u"Folder"}) {
        const Ink ink = paint(name);
        EXPECT_EQ(ink.inside + ink.outside, 0) << QString::fromUtf16(name).toStdString();
    }
}

} // namespace
} // namespace halvoren
