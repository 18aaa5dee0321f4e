// When links are underlined: a setting of the view that the row builder applies.
#pragma once

#include <cstdint>

namespace corvantix {

enum class LinkHighlightMode : std::uint8_t { hover, hoverWithModifier, always, alwaysWithModifier };

} // namespace corvantix
