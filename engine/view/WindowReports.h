// The view's answers to window-operation requests (XTWINOPS) that report sizes in pixels.
#pragma once

#include "drawing/CellMetrics.h"
#include "emulator/TerminalDelegate.h"

#include <cstdint>
#include <optional>
#include <vector>

namespace corvantix {

// The reply to a window command, or none:
// - text area in pixels: CSI "4;" height ";" width "t", each side cell size x scale x cells,
//   rounded half away from zero;
// - cell size in pixels: CSI "6;" height ";" width "t", each side cell size x scale,
//   truncated;
// - every other command: none.
// CSI is 0x9B with 8-bit controls, else ESC "[". No reply without a cell size, or when a
// side is not a finite number within the signed 64-bit range.
std::optional<std::vector<std::uint8_t>> windowCommandReply(const WindowManipulationCommand& command,
                                                            const std::optional<CellDimension>& cell,
                                                            double scale, int cols, int rows,
                                                            bool eightBitControls);

} // namespace corvantix
