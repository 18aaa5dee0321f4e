#include "style/Palette.h"

#include <QFontDatabase>
#include <QStringList>

namespace halvoren {

QColor paletteColor(double red, double green, double blue)
{
    return QColor::fromRgbF(float(red), float(green), float(blue), 1.0f);
}

namespace {

QColor whiteAt(double opacity)
{
    return QColor::fromRgbF(1.0f, 1.0f, 1.0f, float(opacity));
}

} // namespace

const QColor& Palette::accent()
{
    static const QColor colour = paletteColor(1.0, 0.72, 0.24);
    return colour;
}

const QColor& Palette::terminalArea()
{
    static const QColor colour = paletteColor(0.05, 0.05, 0.06);
    return colour;
}

const QColor& Palette::bar()
{
    static const QColor colour = paletteColor(0.09, 0.09, 0.11);
    return colour;
}

const QColor& Palette::field()
{
    static const QColor colour = paletteColor(0.14, 0.14, 0.17);
    return colour;
}

const QColor& Palette::separator()
{
    static const QColor colour = whiteAt(0.08);
    return colour;
}

const QColor& Palette::secondaryText()
{
    static const QColor colour = whiteAt(0.55);
    return colour;
}

const QColor& Palette::ok()
{
    static const QColor colour = paletteColor(0.3, 0.85, 0.45);
    return colour;
}

const QColor& Palette::alert()
{
    static const QColor colour = paletteColor(1.0, 0.38, 0.35);
    return colour;
}

const QColor& terminalBackground()
{
    static const QColor colour = paletteColor(0.05, 0.05, 0.06);
    return colour;
}

const QColor& terminalForeground()
{
    static const QColor colour = paletteColor(0.92, 0.92, 0.92);
    return colour;
}

const QColor& terminalCaret()
{
    return Palette::accent();
}

const std::array<QColor, 6>& connectionPalette()
{
    static const std::array<QColor, 6> colours = {
        paletteColor(0.31, 0.61, 0.98), paletteColor(0.24, 0.84, 0.55), paletteColor(0.88, 0.63, 0.19),
        paletteColor(0.71, 0.48, 0.88), paletteColor(0.95, 0.41, 0.36), paletteColor(0.2, 0.75, 0.78),
    };
    return colours;
}

QFont terminalFont(double size)
{
    // The two faces made for this use on other desktops, then the fixed-pitch face every
    // Debian desktop ships, so the cell size does not depend on the desktop's settings.
    static const QStringList preferred = {QStringLiteral("SF Mono"), QStringLiteral("Menlo"),
                                          QStringLiteral("DejaVu Sans Mono")};
    const QStringList installed = QFontDatabase::families();
    for (const QString& family : preferred) {
        if (installed.contains(family)) {
            QFont font(family);
            font.setPointSizeF(size);
            font.setStyleHint(QFont::Monospace);
            return font;
        }
    }
    QFont font = QFontDatabase::systemFont(QFontDatabase::FixedFont);
    font.setPointSizeF(size);
    font.setWeight(QFont::Normal);
    return font;
}

QFont fixedPitchFont(const QFont& sizedLike)
{
    QFont font = QFontDatabase::systemFont(QFontDatabase::FixedFont);
    if (sizedLike.pixelSize() > 0)
        font.setPixelSize(sizedLike.pixelSize());
    else if (sizedLike.pointSizeF() > 0)
        font.setPointSizeF(sizedLike.pointSizeF());
    font.setWeight(QFont::Normal);
    return font;
}

} // namespace halvoren
