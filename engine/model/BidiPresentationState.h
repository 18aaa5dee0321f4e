// Bidirectional presentation settings of a terminal, a buffer's default and each line. The
// engine does not reorder text itself; the drawing side reads these values.
#pragma once

#include <cstdint>

namespace corvantix {

// `explicit` is a C++ keyword, hence the trailing underscore.
enum class BidiSupportMode : uint8_t { implicit, explicit_ };

enum class BidiDirection : uint8_t { leftToRight = 0, rightToLeft = 1 };

// Names one field of BidiPresentationState; a set of them says what a change touched.
enum class BidiStateProperty : uint8_t { supportMode, autodetectDirection, fallbackDirection, boxMirroring };

// Four one-byte fields. The default value is the terminal's initial state: implicit
// support, direction autodetection on, left-to-right fallback, no box mirroring.
struct BidiPresentationState {
    BidiSupportMode supportMode = BidiSupportMode::implicit;
    bool autodetectDirection = true;
    BidiDirection fallbackDirection = BidiDirection::leftToRight;
    bool boxMirroring = false;

    friend constexpr bool operator==(const BidiPresentationState&, const BidiPresentationState&) = default;
};

} // namespace corvantix
