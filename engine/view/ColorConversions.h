// Conversions between the view's colours (sRGB components from 0 to 1, as the widget
// toolkit holds them) and the engine's 16-bit Color, the 50 % blend used for dim text, and
// the palette index a cell colour is drawn with. Plain arithmetic: the Qt side wraps these
// for QColor (view/qt/QtColorConversions.h).
#pragma once

#include "model/Color.h"

namespace corvantix {

// One colour in the sRGB colour space, each component nominally 0..1 (extended colours may
// step outside; conversions clamp).
struct SrgbComponents {
    double red = 0;
    double green = 0;
    double blue = 0;
    double alpha = 1.0;

    friend constexpr bool operator==(const SrgbComponents&, const SrgbComponents&) = default;
};

// The grey (35389 in each channel) a failed conversion answers; one value for the process.
const Color& conversionFailureColor();

// Each component clamped to 0..1, times 65535, truncated. A component that is not a number
// counts as 0.
Color terminalColorFromComponents(const SrgbComponents& components);

// Each 16-bit channel divided by 65535, alpha 1.
SrgbComponents componentsFromTerminalColor(const Color& color);

// The mean of each colour component; the receiver's alpha.
SrgbComponents blendComponents(const SrgbComponents& receiver, const SrgbComponents& other);

// The palette index a cell's palette colour is drawn with. With bright colours on, bold text
// in colours 0-6 takes the bright form (i + 8); colour 7 and everything else stays. With them
// off, the bright colours 8-15 fold back onto 0-7; the cube and the greys (16-255) keep their
// own index, since subtracting 8 there would pick an unrelated cube entry. Any index is
// brought into 0..255 first.
int mappedPaletteIndex(int index, bool isBold, bool useBrightColors);

} // namespace corvantix
