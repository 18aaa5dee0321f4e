// What a frame's draw-data build reads of the terminal view and its terminal: the values
// that, when any of them moves, make every cached row stale, and the virtual placements the
// rows' placeholder cells look their images up in.
#pragma once

#include "gpu/MetalDrawData.h"
#include "gpu/qt/MetalTerminalRenderer.h"
#include "graphics/KittyGraphicsState.h"
#include "view/qt/TerminalView.h"

namespace corvantix {

// Counts and counters of the image store, and the newest stamp of any stored image.
KittyCacheStamp kittyCacheStamp(const KittyGraphicsState& store);
// The view as the rows are drawn from it at `scale` (the view must have a terminal).
CacheSignature metalCacheSignature(const TerminalView& view, double scale);
// The virtual placements of the screen shown (normal or alternate), by image id.
VirtualPlacementIndex virtualPlacementIndex(const KittyGraphicsState& store, bool alternateShown);

} // namespace corvantix
