// The view's drawing hook end to end: the widget paints its cells through the row builder and
// the painter, with the view's own colours and fonts.
#include "view/qt/TerminalView.h"

#include <gtest/gtest.h>

#include <cmath>

#include <QFontDatabase>
#include <QImage>
#include <QPainter>

namespace corvantix {
namespace {

QImage paint(TerminalView& view)
{
    QImage image(view.size(), QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);
    QPainter painter(&image);
    view.drawTerminalContents(painter, image.rect());
    painter.end();
    return image;
}

TEST(TerminalViewDrawingTest, CellsArePaintedWithTheViewsColours)
{
    QFont font(QStringLiteral("DejaVu Sans Mono"));
    font.setPixelSize(14);
    TerminalView view(QRect(0, 0, 300, 120), font);
    view.resize(300, 120);
    ASSERT_TRUE(view.cellDimension.has_value());
    const double cw = view.cellDimension->width;
    view.feedText("\x1b[48;2;255;0;0m  \x1b[0m");
    const QImage image = paint(view);
    const QPoint insideRed(static_cast<int>(cw * 1.5), 2);
    EXPECT_EQ(image.pixelColor(insideRed), QColor(255, 0, 0));
    EXPECT_EQ(image.pixelColor(static_cast<int>(cw * 5.5), 2), view.layerBackgroundColor);
    // A colour change drops the cached styles: the same cells now show the new colour.
    view.feedText("\r\x1b[48;2;0;0;255m  ");
    view.colorsChanged();
    EXPECT_EQ(paint(view).pixelColor(insideRed), QColor(0, 0, 255));
    // The view's selection colour over the selected cells only.
    view.feedText("\r\x1b[0mabcdef");
    view.selection->active_ = true;
    view.selection->start = {0, 0};
    view.selection->end = {2, 0};
    view.setSelectedTextBackgroundColor(QColor(0, 255, 0));
    const QImage selected = paint(view);
    EXPECT_EQ(selected.pixelColor(static_cast<int>(cw * 0.5), 1), QColor(0, 255, 0));
    EXPECT_NE(selected.pixelColor(static_cast<int>(cw * 3.5), 1), QColor(0, 255, 0));
}

// Hebrew shin with qamats and shin dot, whose marks the shaper may hand over before the
// letter: the letter stays in its own cell, and the blank cell before it shows no ink.
TEST(TerminalViewDrawingTest, AHebrewLetterWithItsPointsStaysInItsCell)
{
    if (!QFontDatabase::families().contains(QStringLiteral("Noto Sans Hebrew")))
        FAIL() << "the font package fonts-noto-core is missing (no Noto Sans Hebrew)";
    QFont font(QStringLiteral("DejaVu Sans Mono"));
    font.setPixelSize(14);
    TerminalView view(QRect(0, 0, 300, 120), font);
    view.resize(300, 120);
    ASSERT_TRUE(view.cellDimension.has_value());
    const double cw = view.cellDimension->width;
    const double ch = view.cellDimension->height;
    // Explicit mode: no bidi layout moves the letter from column 2.
    view.feedText("\x1b[?25l\x1b[8l  \xd7\xa9\xd6\xb8\xd7\x81");
    const QImage image = paint(view);
    int inkBefore = 0;
    int inkOfLetter = 0;
    for (int y = 0; y < static_cast<int>(ch); ++y) {
        for (int x = static_cast<int>(std::ceil(cw)); x < static_cast<int>(cw * 2); ++x)
            inkBefore += image.pixelColor(x, y) != view.layerBackgroundColor ? 1 : 0;
        for (int x = static_cast<int>(std::ceil(cw * 2)); x < static_cast<int>(cw * 3); ++x)
            inkOfLetter += image.pixelColor(x, y) != view.layerBackgroundColor ? 1 : 0;
    }
    EXPECT_GT(inkOfLetter, 0);
    EXPECT_EQ(inkBefore, 0) << "the letter or its points reach into the cell before it";
}

} // namespace
} // namespace corvantix
