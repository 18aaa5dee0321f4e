#include "view/qt/QtColorConversions.h"

#include <QRgba64>

namespace corvantix {

namespace {
// Wide-gamut colours carry components outside 0..1, which plain sRGB would clamp.
bool hasComponentsOutsideUnitRange(const QColor& color)
{
    const QColor extended = color.toExtendedRgb();
    for (const float component : {extended.redF(), extended.greenF(), extended.blueF()}) {
        if (component < 0.0f || component > 1.0f)
            return true;
    }
    return false;
}
} // namespace

SrgbComponents componentsFromQColor(const QColor& color)
{
    // Wide-gamut colours keep their components; everything else is read as sRGB.
    const QColor rgb = hasComponentsOutsideUnitRange(color) ? color.toExtendedRgb() : color.toRgb();
    return {rgb.redF(), rgb.greenF(), rgb.blueF(), rgb.alphaF()};
}

QColor qColorFromComponents(const SrgbComponents& components)
{
    return QColor::fromRgbF(static_cast<float>(components.red), static_cast<float>(components.green),
                            static_cast<float>(components.blue), static_cast<float>(components.alpha));
}

Color terminalColorFromNSColor(const QColor& color)
{
    if (!color.isValid())
        return conversionFailureColor();
    if (hasComponentsOutsideUnitRange(color))
        return terminalColorFromComponents(componentsFromQColor(color));
    // The 16-bit channels directly: the same value as clamping, scaling by 65535 and
    // truncating, without a trip through floating point.
    const QRgba64 value = color.toRgb().rgba64();
    return Color(value.red(), value.green(), value.blue());
}

QColor nsColorFromTerminalColor(const Color& color)
{
    return QColor::fromRgba64(color.red, color.green, color.blue, 65535);
}

QColor blendColor(const QColor& receiver, const QColor& other)
{
    if (!receiver.isValid() || !other.isValid())
        return receiver;
    return qColorFromComponents(blendComponents(componentsFromQColor(receiver), componentsFromQColor(other)));
}

} // namespace corvantix
