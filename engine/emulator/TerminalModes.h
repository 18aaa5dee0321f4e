// The table of modes: one row per ANSI or DEC private mode number, saying how DECRQM reads
// its state, what SM / DECSET and RM / DECRST do, whether XTSAVE keeps it and what DECSTR
// makes of it. Every operation on modes reads this one table, so they cannot disagree, and
// removing a row is how a mode is removed.
#pragma once

#include "emulator/Terminal.h"
#include "model/BidiPresentationState.h"

#include <cstdint>
#include <span>

namespace corvantix {

enum class ModeKind : std::uint8_t { ansi, dec };

// DECRQM states. 3 (permanently set) is never reported.
enum class ModeState : std::uint8_t { notRecognized = 0, set = 1, reset = 2, permanentlyReset = 4 };

// What XTRESTORE gathers: restored bidi fields are applied together, in one change.
struct ModeRestore {
    Terminal& terminal;
    BidiPresentationState bidiState;
    BidiStatePropertySet changed;
};

struct ModeRow {
    using State = ModeState (*)(const Terminal&);
    using Action = void (*)(Terminal&);
    using Restore = void (*)(ModeRestore&, bool value);

    ModeKind kind = ModeKind::dec;
    int number = 0;
    State state = nullptr;   // null: DECRQM answers "not recognized"
    Action set = nullptr;    // null: SM / DECSET log the number as unhandled
    Action reset = nullptr;  // null: DECRST logs it as unhandled; RM does nothing
    Restore restore = nullptr; // non-null: XTSAVE keeps the mode and XTRESTORE brings it back
    Action softReset = nullptr; // what DECSTR does with the mode; null: left alone
};

std::span<const ModeRow> modeTable();

// The row of a mode; null when the table has none.
const ModeRow* findMode(ModeKind kind, int number);

} // namespace corvantix
