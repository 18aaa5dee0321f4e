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

} // namespace
} // namespace halvoren
