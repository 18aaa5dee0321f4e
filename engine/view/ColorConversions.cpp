#include "view/ColorConversions.h"

#include <algorithm>
#include <cmath>

namespace corvantix {

namespace {

std::uint16_t channelFromComponent(double component)
{
    if (std::isnan(component))
        return 0;
    const double clamped = std::clamp(component, 0.0, 1.0);
    return static_cast<std::uint16_t>(clamped * 65535.0);
}

} // namespace

const Color& conversionFailureColor()
{
    static const Color grey(35389, 35389, 35389);
    return grey;
}

Color terminalColorFromComponents(const SrgbComponents& components)
{
    return Color(channelFromComponent(components.red), channelFromComponent(components.green),
                 channelFromComponent(components.blue));
}

SrgbComponents componentsFromTerminalColor(const Color& color)
{
    return {color.red / 65535.0, color.green / 65535.0, color.blue / 65535.0, 1.0};
}

SrgbComponents blendComponents(const SrgbComponents& receiver, const SrgbComponents& other)
{
    return {(receiver.red + other.red) * 0.5, (receiver.green + other.green) * 0.5,
            (receiver.blue + other.blue) * 0.5, receiver.alpha};
}

int mappedPaletteIndex(int index, bool isBold, bool useBrightColors)
{
    const int i = std::clamp(index, 0, 255);
    if (useBrightColors)
        return (isBold && i <= 6) ? i + 8 : i;
    return (i >= 8 && i <= 15) ? i - 8 : i;
}

} // namespace corvantix
