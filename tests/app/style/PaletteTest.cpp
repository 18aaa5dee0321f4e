#include "style/Palette.h"

#include <QFontDatabase>
#include <QFontInfo>

#include <gtest/gtest.h>

namespace halvoren {
namespace {

TEST(Palette, TerminalFontIsAnInstalledFixedPitchFaceAtTheSize)
{
    const QFont font = terminalFont(15.5);
    EXPECT_DOUBLE_EQ(font.pointSizeF(), 15.5);
    EXPECT_TRUE(QFontInfo(font).fixedPitch()) << QFontInfo(font).family().toStdString();
    const QStringList installed = QFontDatabase::families();
    if (!installed.contains(QStringLiteral("SF Mono")) && !installed.contains(QStringLiteral("Menlo"))
        && installed.contains(QStringLiteral("DejaVu Sans Mono"))) {
        EXPECT_EQ(QFontInfo(font).family(), QStringLiteral("DejaVu Sans Mono"));
    }
}

TEST(Palette, FixedPitchFontTakesTheSizeInTheUnitItWasGiven)
{
    const struct { double points; int pixels; } cases[] = {{13.5, -1}, {9, -1}, {-1, 15}, {-1, 11}};
    for (const auto& c : cases) {
        QFont given(QStringLiteral("DejaVu Sans"));
        given.setWeight(QFont::Bold);
        if (c.pixels > 0)
            given.setPixelSize(c.pixels);
        else
            given.setPointSizeF(c.points);
        const QFont font = fixedPitchFont(given);
        SCOPED_TRACE(given.toString().toStdString());
        EXPECT_EQ(font.pixelSize(), c.pixels);
        EXPECT_DOUBLE_EQ(font.pointSizeF(), c.points);
        EXPECT_EQ(font.weight(), QFont::Normal);
        EXPECT_TRUE(QFontInfo(font).fixedPitch()) << QFontInfo(font).family().toStdString();
    }
}

} // namespace
} // namespace halvoren
