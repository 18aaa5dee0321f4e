#include "ui/Palette.h"

#include <QFontDatabase>
#include <QFontInfo>

#include <gtest/gtest.h>

namespace halvoren {
namespace {

TEST(Palette, TerminalAndAreaShareOneColourAndAliasesAreTheSameValues)
{
    EXPECT_EQ(terminalBackground(), Palette::terminalArea());
    EXPECT_EQ(terminalBackground().rgba(), qRgba(13, 13, 15, 255));
    EXPECT_EQ(terminalForeground().rgba(), qRgba(235, 235, 235, 255));
    EXPECT_EQ(&mutedTextColor(), &Palette::secondaryText());
    EXPECT_EQ(&hairlineColor(), &Palette::separator());
    EXPECT_NEAR(Palette::separator().alphaF(), 0.08, 0.005);
    EXPECT_NEAR(Palette::secondaryText().alphaF(), 0.55, 0.005);
    ASSERT_EQ(connectionPalette().size(), 6u);
    EXPECT_EQ(connectionPalette()[5], paletteColor(0.2, 0.75, 0.78));
}

TEST(Palette, TerminalFontIsAnInstalledFixedPitchFaceAtTheSize)
{
    const QFont font = terminalFont(15.5);
    EXPECT_DOUBLE_EQ(font.pointSizeF(), 15.5);
    EXPECT_TRUE(QFontInfo(font).fixedPitch()) << QFontInfo(font).family().toStdString();
    // Without the faces of other desktops, the one every Debian desktop ships.
    const QStringList installed = QFontDatabase::families();
    if (!installed.contains(QStringLiteral("SF Mono")) && !installed.contains(QStringLiteral("Menlo"))
        && installed.contains(QStringLiteral("DejaVu Sans Mono"))) {
        EXPECT_EQ(QFontInfo(font).family(), QStringLiteral("DejaVu Sans Mono"));
    }
}

} // namespace
} // namespace halvoren
