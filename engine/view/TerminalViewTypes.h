// Small value types of the terminal view's configuration: the bell style, link reporting
// (link highlighting lives with the row builder that applies it), the bidi policy of the
// host and the scroller style.
#pragma once

#include "drawing/LinkHighlightMode.h"

#include <array>
#include <cstdint>
#include <optional>
#include <string_view>

namespace corvantix {

// What a BEL does. Listed, and parsed from raw values, in this order.
enum class BellStyle : std::uint8_t { none, sound, visual, soundAndVisual };

inline constexpr std::array<BellStyle, 4> allBellStyles = {BellStyle::none, BellStyle::sound, BellStyle::visual,
                                                           BellStyle::soundAndVisual};

// "none", "sound", "visual", "soundAndVisual".
std::string_view rawValue(BellStyle style);
// "None", "Sound", "Visual", "Sound and Visual".
std::string_view displayName(BellStyle style);
// Exact match of a raw value, tried in case order; anything else answers none.
std::optional<BellStyle> bellStyleFromRawValue(std::string_view text);

// Which links are detected under the pointer. `explicit` is a C++ keyword, hence the
// trailing underscore.
enum class LinkReporting : std::uint8_t { none, explicit_, implicit };

// Whether the host lays rows out by the terminal's bidi settings or always left to right.
enum class BidiHostPolicy : std::uint8_t { respectTerminal, legacyLeftToRight };

// The scroller's look. The toolkit has no floating scrollbar, so both styles reserve the
// scrollbar's width beside the grid.
enum class ScrollerStyle : std::uint8_t { legacy, overlay };

} // namespace corvantix
