// The colour conversions of the view over QColor, under the names the engine uses for
// them. QColor keeps 16 bits per channel, so an engine colour survives the round trip
// unchanged.
#pragma once

#include "model/Color.h"
#include "view/ColorConversions.h"

#include <QColor>

namespace corvantix {

// The colour's sRGB components as the engine's Color; an invalid colour answers the shared
// grey (35389 in each channel).
Color terminalColorFromNSColor(const QColor& color);
// The engine colour as an opaque sRGB QColor.
QColor nsColorFromTerminalColor(const Color& color);
// The mean of both colours' components with the receiver's alpha; the receiver unchanged
// when either colour is invalid.
QColor blendColor(const QColor& receiver, const QColor& other);

SrgbComponents componentsFromQColor(const QColor& color);
QColor qColorFromComponents(const SrgbComponents& components);

} // namespace corvantix
