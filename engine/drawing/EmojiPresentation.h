// Whether a grapheme cluster asks to be drawn as a colour picture. Both drawing paths pick the
// colour emoji font for such a cluster as a whole, so that a sequence the font joins into one
// picture (a ZWJ sequence, a keycap, a flag) reaches it whole rather than split over fonts.
#pragma once

#include <string_view>

namespace corvantix {

// A text presentation selector anywhere keeps the cluster text. Otherwise it is a picture
// when it holds an emoji presentation selector, a keycap or enclosing circle mark, a skin
// tone, or a joiner after a pictographic base, or when its base is shown as a picture by
// default (regional indicators included).
bool clusterPrefersEmojiPresentation(std::u32string_view cluster);
// The same for UTF-16 text (a lone surrogate counts as itself).
bool clusterPrefersEmojiPresentation(std::u16string_view cluster);

} // namespace corvantix
