// The replacement maps that can be designated into G0-G3: DEC special graphics (line
// drawing) and the national replacement sets, with the table of designator bytes.
#pragma once

#include "model/CharacterMap.h"

#include <cstdint>

namespace corvantix {

struct CharSets {
    static const CharacterMap decSpecialGraphics; // designators 0 and 2
    static const CharacterMap unitedKingdom;      // A
    static const CharacterMap unitedStates;       // B (no entries)
    static const CharacterMap dutch;              // 4
    static const CharacterMap finnish;            // 5 and C
    static const CharacterMap french;             // R
    static const CharacterMap frenchCanadian;     // Q
    static const CharacterMap german;             // K
    static const CharacterMap italian;            // Y
    static const CharacterMap norwegianDanish;    // 6 and E
    static const CharacterMap spanish;            // Z
    static const CharacterMap swedish;            // 7 and H
    static const CharacterMap swiss;              // =

    // The map a designator byte (the final byte of ESC ( F and its kin) names; null when
    // the byte designates nothing.
    static const CharacterMap* all(std::uint8_t designator);
};

} // namespace corvantix
