// A character-set replacement map (G0-G3): entry b replaces the printable ASCII byte b
// when it is printed; 0 leaves the byte unchanged. Maps are process-wide constants,
// held by pointer; a null pointer is the default set.
#pragma once

#include <array>

namespace corvantix {

struct CharacterMap {
    std::array<char32_t, 128> replacement{};
};

} // namespace corvantix
