// The table of control functions: one row per function the terminal knows, with the
// kind of sequence, its intermediates, its final byte (the control byte, or the OSC
// number), the name the dispatch trace reports and the handler. The parser's dispatch
// operations route through it, and a sequence no row takes goes to the parser's fallback
// for its kind, so removing a row is how a function is removed.
#pragma once

#include "emulator/EscapeSequenceParser.h"

#include <array>
#include <cstdint>
#include <memory>
#include <span>
#include <string_view>

namespace corvantix {

class Terminal;
class DcsHandler;

enum class ControlKind : std::uint8_t { execute, esc, csi, dcs, osc };

// The intermediates (private marker included) a row accepts: exactly `bytes`, or any.
struct ControlIntermediates {
    std::string_view bytes;
    bool any = false;

    constexpr bool matches(std::span<const std::uint8_t> collect) const
    {
        if (any)
            return true;
        if (collect.size() != bytes.size())
            return false;
        for (std::size_t i = 0; i < collect.size(); ++i) {
            if (collect[i] != static_cast<std::uint8_t>(bytes[i]))
                return false;
        }
        return true;
    }
};

// One complete control function as the dispatch hands it to a handler.
struct ControlCall {
    CsiParameters pars; // reads as a span of values; SGR also reads which follow a ":"
    std::span<const std::uint8_t> collect;
    int code = 0; // the control or final byte; the OSC number
    std::span<const std::uint8_t> payload; // OSC only
    // A DCS row hands the consumer of its string back through this; null for other kinds.
    // (A pointer, so that the call needs no destructor: one is built per dispatch.)
    std::unique_ptr<DcsHandler>* dcsHandler = nullptr;
    // Set by a handler that does not take the call: the next matching row is tried.
    bool declined = false;
};

struct ControlFunction {
    using Guard = bool (*)(const Terminal&, const ControlCall&);
    using Handler = void (*)(Terminal&, ControlCall&);

    static constexpr int anyCode = -1;

    ControlKind kind = ControlKind::execute;
    ControlIntermediates intermediates;
    int code = 0; // anyCode: every final byte (then the guard decides)
    // The name the dispatch trace reports. A row without a name takes its sequences
    // without reaching any handler (no trace either).
    std::string_view name;
    Handler handler = nullptr;
    // Consulted before the row is taken; null: always.
    Guard when = nullptr;
};

// The row that takes every CSI sequence of a final byte (the only row of that byte, for any
// intermediates, without a guard, with a name and a handler), or null when the rows must be
// searched. The parser calls such a row straight from its dispatch.
extern const std::array<const ControlFunction*, 256> directCsiRows;

// The CSI dispatch for a final byte without a direct row: the search of the rows, then the
// parser's fallback when none takes the sequence (and every sequence without a terminal).
void csiDispatchByTable(EscapeSequenceParser& parser, std::uint8_t finalByte, const CsiParameters& pars,
    std::span<const std::uint8_t> collect);

// Every row, in the order a lookup tries them: the rows of one final byte (and then those
// for any final byte) are tried in table order, the first that matches is taken.
std::span<const ControlFunction> controlFunctionTable();

} // namespace corvantix
