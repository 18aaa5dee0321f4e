#include "emulator/EscapeSequenceParser.h"

#include "emulator/ControlFunctions.h"
#include "emulator/Terminal.h"
#include "platform/Log.h"

#include <algorithm>
#include <bit>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <limits>

namespace corvantix {

namespace {

using S = ParserState;
using A = ParserAction;

constexpr std::uint8_t BEL = 0x07;
constexpr std::uint8_t CAN = 0x18;
constexpr std::uint8_t EM = 0x19;
constexpr std::uint8_t SUB = 0x1A;
constexpr std::uint8_t ESC = 0x1B;

// Capacity kept for the string buffers between strings; a buffer grown past the large
// limit by one huge string is released at the next clear.
constexpr std::size_t initialStringCapacity = 256;
constexpr std::size_t largeStringCapacity = 1024 * 1024;

constexpr bool isDigit(std::uint8_t b)
{
    return b >= '0' && b <= '9';
}

constexpr bool isFinalByte(std::uint8_t b)
{
    return b >= 0x40 && b <= 0x7E;
}

// Bytes the parameter reader takes in a CSI state: as the table's param action does.
constexpr bool isParameterStart(ParserState state, std::uint8_t b)
{
    return (state == S::csiParam && b >= '0' && b <= ';') || (state == S::csiEntry && (isDigit(b) || b == ';'));
}

// ESC "[" at i: the opening of nearly every sequence.
constexpr bool opensCsi(std::span<const std::uint8_t> data, std::size_t i)
{
    return data[i] == ESC && i + 1 < data.size() && data[i + 1] == '[';
}

// Index of the first byte <= 0x1F at or after `from`, or data.size(). Printable text and
// string bodies are long runs, so eight bytes are tested at a time: a word has a byte below
// 0x20 exactly when (w - 0x20 * ones) & ~w & highs is not zero.
std::size_t findNextControl(std::span<const std::uint8_t> data, std::size_t from)
{
    constexpr std::uint64_t ones = 0x0101010101010101ULL;
    constexpr std::uint64_t highs = 0x8080808080808080ULL;
    const std::uint8_t* bytes = data.data();
    const std::size_t end = data.size();
    std::size_t i = from;
    while (i + 8 <= end) {
        std::uint64_t word;
        std::memcpy(&word, bytes + i, sizeof word);
        if (((word - ones * 0x20) & ~word & highs) != 0)
            break;
        i += 8;
    }
    while (i < end && bytes[i] > 0x1F)
        ++i;
    return i;
}

// The high bit of each byte of `word` that is not an ASCII digit, so that the lowest set bit
// marks the first non-digit. Bytes below "0" borrow and bytes from 0xBA up carry, but only
// into the bytes after them, past the first non-digit.
constexpr std::uint64_t nonDigitBytes(std::uint64_t word)
{
    constexpr std::uint64_t ones = 0x0101010101010101ULL;
    constexpr std::uint64_t highs = 0x8080808080808080ULL;
    return ((word - ones * '0') | (word + ones * (0x80 - 0x3A)) | word) & highs;
}

// The value of the digits in the bits of `word` below `digitBits` (0 to 7 ASCII digits, a
// multiple of 8 bits, the first digit in the lowest byte), up to the parameter cap. The
// digits are moved to the top, behind zeros, and combined in pairs, then fours, then eight.
constexpr int leadingDecimal(std::uint64_t word, unsigned digitBits)
{
    if (digitBits <= 32) [[likely]] {
        // Most parameters: four bytes, two products, below the cap. Shifted in 64 bits, so
        // that no digits (a shift by 32) gives 0.
        auto v = static_cast<std::uint32_t>(std::uint64_t{static_cast<std::uint32_t>(word) - 0x30303030U}
                                            << (32 - digitBits));
        v = v * 10 + (v >> 8);
        return static_cast<int>(((v & 0x00FF00FFU) * (1 + (100U << 16))) >> 16);
    }
    std::uint64_t v = (word - 0x3030303030303030ULL) << (64 - digitBits);
    v = v * 10 + (v >> 8);
    constexpr std::uint64_t pairs = 0x000000FF000000FFULL;
    v = ((v & pairs) * (100 + (1000000ULL << 32)) + ((v >> 16) & pairs) * (1 + (10000ULL << 32))) >> 32;
    return static_cast<int>(std::min<std::uint64_t>(v, EscapeSequenceParser::maxParameterValue));
}

// Eight bytes as one load reads them (the first in the lowest byte).
constexpr std::uint64_t wordOf(std::string_view eight)
{
    std::uint64_t word = 0;
    for (std::size_t k = 0; k < 8; ++k)
        word |= std::uint64_t{static_cast<std::uint8_t>(eight[k])} << (8 * k);
    return word;
}

static_assert(std::countr_zero(nonDigitBytes(wordOf("1234567;"))) / 8 == 7);
static_assert(std::countr_zero(nonDigitBytes(wordOf("09/:0000"))) / 8 == 2);
static_assert(std::countr_zero(nonDigitBytes(wordOf("\xb9" "9999999"))) / 8 == 0);
static_assert(nonDigitBytes(wordOf("01234567")) == 0);
static_assert(leadingDecimal(wordOf("1234567;"), 56) == 65535);
static_assert(leadingDecimal(wordOf("0065536;"), 56) == 65535);
static_assert(leadingDecimal(wordOf("0900;5Hx"), 32) == 900);
static_assert(leadingDecimal(wordOf("7H\x1b[1;2H"), 8) == 7);
static_assert(leadingDecimal(wordOf(";5H....."), 0) == 0);
static_assert(leadingDecimal(wordOf("9999;..."), 32) == 9999);
static_assert(leadingDecimal(wordOf("12345;.."), 40) == 12345);
static_assert(leadingDecimal(wordOf("255m...."), 24) == 255);
static_assert(leadingDecimal(wordOf("08;....."), 16) == 8);

// Appends up to the cap; reports whether the whole segment fitted.
bool appendCapped(std::vector<std::uint8_t>& string, std::span<const std::uint8_t> segment, std::size_t cap)
{
    const std::size_t room = cap - string.size();
    if (segment.size() <= room) {
        string.insert(string.end(), segment.begin(), segment.end());
        return true;
    }
    string.insert(string.end(), segment.begin(), segment.begin() + static_cast<std::ptrdiff_t>(room));
    return false;
}

void releaseIfLarge(std::vector<std::uint8_t>& buffer)
{
    if (buffer.capacity() > largeStringCapacity) {
        std::vector<std::uint8_t>().swap(buffer);
        buffer.reserve(initialStringCapacity);
    }
}

constexpr std::array<ParserState, parserStateCount> allStates{
    S::ground, S::escape, S::escapeIntermediate, S::csiEntry, S::csiParam,
    S::csiIntermediate, S::csiIgnore, S::sosPmApcString, S::oscString, S::apcString,
    S::dcsEntry, S::dcsParam, S::dcsIgnore, S::dcsIntermediate, S::dcsPassthrough,
};

// The state machine, row by row. Each line reads: bytes, state, action -> next state.
TransitionTable buildTransitionTable()
{
    TransitionTable t;
    for (ParserState s : allStates) {
        t.addRange(0x00, 0xA0, s, A::error, S::ground);
        // 8-bit C1 controls and introducers, the same in every state unless a row overrides.
        t.addRange(0x80, 0x8F, s, A::execute, S::ground);
        t.add(0x90, s, A::clear, S::dcsEntry);
        t.addRange(0x91, 0x97, s, A::execute, S::ground);
        t.add(0x98, s, A::ignore, S::sosPmApcString);
        t.addRange(0x99, 0x9A, s, A::execute, S::ground);
        t.add(0x9B, s, A::clear, S::csiEntry);
        t.add(0x9C, s, A::ignore, S::ground);
        t.add(0x9D, s, A::oscStart, S::oscString);
        t.add(0x9E, s, A::ignore, S::sosPmApcString);
        t.add(0x9F, s, A::oscStart, S::apcString);
        t.add(0xA0, s, A::error, S::ground);
    }

    // ground
    t.addRange(0x00, 0x18, S::ground, A::execute, S::ground);
    t.add(0x19, S::ground, A::error, S::ground);
    t.add(0x1A, S::ground, A::execute, S::ground);
    t.add(0x1B, S::ground, A::clear, S::escape);
    t.addRange(0x1C, 0x1F, S::ground, A::execute, S::ground);
    t.addRange(0x20, 0x7E, S::ground, A::print, S::ground);
    t.add(0x7F, S::ground, A::error, S::ground);

    // escape
    t.addRange(0x00, 0x18, S::escape, A::execute, S::escape);
    t.add(0x19, S::escape, A::error, S::ground);
    t.add(0x1A, S::escape, A::execute, S::ground);
    t.add(0x1B, S::escape, A::clear, S::escape);
    t.addRange(0x1C, 0x1F, S::escape, A::execute, S::escape);
    t.addRange(0x20, 0x2F, S::escape, A::collect, S::escapeIntermediate);
    t.addRange(0x30, 0x4F, S::escape, A::escDispatch, S::ground);
    t.add(0x50, S::escape, A::clear, S::dcsEntry);
    t.addRange(0x51, 0x57, S::escape, A::escDispatch, S::ground);
    t.add(0x58, S::escape, A::ignore, S::sosPmApcString);
    t.addRange(0x59, 0x5A, S::escape, A::escDispatch, S::ground);
    t.add(0x5B, S::escape, A::clear, S::csiEntry);
    t.add(0x5C, S::escape, A::escDispatch, S::ground);
    t.add(0x5D, S::escape, A::oscStart, S::oscString);
    t.add(0x5E, S::escape, A::ignore, S::sosPmApcString);
    t.add(0x5F, S::escape, A::oscStart, S::apcString);
    t.addRange(0x60, 0x7E, S::escape, A::escDispatch, S::ground);
    t.add(0x7F, S::escape, A::ignore, S::escape);

    // escapeIntermediate
    t.addRange(0x00, 0x18, S::escapeIntermediate, A::execute, S::escapeIntermediate);
    t.add(0x19, S::escapeIntermediate, A::error, S::ground);
    t.add(0x1A, S::escapeIntermediate, A::execute, S::ground);
    t.add(0x1B, S::escapeIntermediate, A::clear, S::escape);
    t.addRange(0x1C, 0x1F, S::escapeIntermediate, A::execute, S::escapeIntermediate);
    t.addRange(0x20, 0x2F, S::escapeIntermediate, A::collect, S::escapeIntermediate);
    t.addRange(0x30, 0x7E, S::escapeIntermediate, A::escDispatch, S::ground);
    t.add(0x7F, S::escapeIntermediate, A::ignore, S::escapeIntermediate);

    // csiEntry
    t.addRange(0x00, 0x18, S::csiEntry, A::execute, S::csiEntry);
    t.add(0x19, S::csiEntry, A::error, S::ground);
    t.add(0x1A, S::csiEntry, A::execute, S::ground);
    t.add(0x1B, S::csiEntry, A::clear, S::escape);
    t.addRange(0x1C, 0x1F, S::csiEntry, A::execute, S::csiEntry);
    t.addRange(0x20, 0x2F, S::csiEntry, A::collect, S::csiIntermediate);
    t.addRange(0x30, 0x39, S::csiEntry, A::param, S::csiParam);
    t.add(0x3A, S::csiEntry, A::error, S::ground);
    t.add(0x3B, S::csiEntry, A::param, S::csiParam);
    t.addRange(0x3C, 0x3F, S::csiEntry, A::collect, S::csiParam);
    t.addRange(0x40, 0x7E, S::csiEntry, A::csiDispatch, S::ground);
    t.add(0x7F, S::csiEntry, A::ignore, S::csiEntry);

    // csiParam
    t.addRange(0x00, 0x18, S::csiParam, A::execute, S::csiParam);
    t.add(0x19, S::csiParam, A::error, S::ground);
    t.add(0x1A, S::csiParam, A::execute, S::ground);
    t.add(0x1B, S::csiParam, A::clear, S::escape);
    t.addRange(0x1C, 0x1F, S::csiParam, A::execute, S::csiParam);
    t.addRange(0x20, 0x2F, S::csiParam, A::collect, S::csiIntermediate);
    t.addRange(0x30, 0x3B, S::csiParam, A::param, S::csiParam);
    t.addRange(0x3C, 0x3F, S::csiParam, A::ignore, S::csiIgnore);
    t.addRange(0x40, 0x7E, S::csiParam, A::csiDispatch, S::ground);
    t.add(0x7F, S::csiParam, A::ignore, S::csiParam);

    // csiIntermediate
    t.addRange(0x00, 0x18, S::csiIntermediate, A::execute, S::csiIntermediate);
    t.add(0x19, S::csiIntermediate, A::error, S::ground);
    t.add(0x1A, S::csiIntermediate, A::execute, S::ground);
    t.add(0x1B, S::csiIntermediate, A::clear, S::escape);
    t.addRange(0x1C, 0x1F, S::csiIntermediate, A::execute, S::csiIntermediate);
    t.addRange(0x20, 0x2F, S::csiIntermediate, A::collect, S::csiIntermediate);
    t.addRange(0x30, 0x3F, S::csiIntermediate, A::ignore, S::csiIgnore);
    t.addRange(0x40, 0x7E, S::csiIntermediate, A::csiDispatch, S::ground);
    t.add(0x7F, S::csiIntermediate, A::ignore, S::csiIntermediate);

    // csiIgnore
    t.addRange(0x00, 0x18, S::csiIgnore, A::execute, S::csiIgnore);
    t.add(0x19, S::csiIgnore, A::error, S::ground);
    t.add(0x1A, S::csiIgnore, A::execute, S::ground);
    t.add(0x1B, S::csiIgnore, A::clear, S::escape);
    t.addRange(0x1C, 0x1F, S::csiIgnore, A::execute, S::csiIgnore);
    t.addRange(0x20, 0x3F, S::csiIgnore, A::ignore, S::csiIgnore);
    t.addRange(0x40, 0x7E, S::csiIgnore, A::ignore, S::ground);
    t.add(0x7F, S::csiIgnore, A::ignore, S::csiIgnore);

    // sosPmApcString: SOS and PM strings are swallowed.
    t.addRange(0x00, 0x18, S::sosPmApcString, A::ignore, S::sosPmApcString);
    t.add(0x19, S::sosPmApcString, A::error, S::ground);
    t.add(0x1A, S::sosPmApcString, A::execute, S::ground);
    t.add(0x1B, S::sosPmApcString, A::clear, S::escape);
    t.addRange(0x1C, 0x7F, S::sosPmApcString, A::ignore, S::sosPmApcString);

    // oscString and apcString: the same row, each staying in its own state.
    for (ParserState s : {S::oscString, S::apcString}) {
        t.addRange(0x00, 0x06, s, A::ignore, s);
        t.add(0x07, s, A::oscEnd, S::ground);
        t.addRange(0x08, 0x17, s, A::ignore, s);
        t.add(0x18, s, A::oscEnd, S::ground);
        t.add(0x19, s, A::error, S::ground);
        t.addRange(0x1A, 0x1B, s, A::oscEnd, S::ground);
        t.addRange(0x1C, 0x1F, s, A::ignore, s);
        t.addRange(0x20, 0x7F, s, A::oscPut, s);
        t.add(0x9C, s, A::oscEnd, S::ground);
        t.add(0xA0, s, A::oscPut, s);
    }

    // dcsEntry
    t.addRange(0x00, 0x18, S::dcsEntry, A::ignore, S::dcsEntry);
    t.add(0x19, S::dcsEntry, A::error, S::ground);
    t.add(0x1A, S::dcsEntry, A::execute, S::ground);
    t.add(0x1B, S::dcsEntry, A::clear, S::escape);
    t.addRange(0x1C, 0x1F, S::dcsEntry, A::ignore, S::dcsEntry);
    t.addRange(0x20, 0x2F, S::dcsEntry, A::collect, S::dcsIntermediate);
    t.addRange(0x30, 0x39, S::dcsEntry, A::param, S::dcsParam);
    t.add(0x3A, S::dcsEntry, A::ignore, S::dcsIgnore);
    t.add(0x3B, S::dcsEntry, A::param, S::dcsParam);
    t.addRange(0x3C, 0x3F, S::dcsEntry, A::collect, S::dcsParam);
    t.addRange(0x40, 0x7E, S::dcsEntry, A::dcsHook, S::dcsPassthrough);
    t.add(0x7F, S::dcsEntry, A::ignore, S::dcsEntry);

    // dcsParam
    t.addRange(0x00, 0x18, S::dcsParam, A::ignore, S::dcsParam);
    t.add(0x19, S::dcsParam, A::error, S::ground);
    t.add(0x1A, S::dcsParam, A::execute, S::ground);
    t.add(0x1B, S::dcsParam, A::clear, S::escape);
    t.addRange(0x1C, 0x1F, S::dcsParam, A::ignore, S::dcsParam);
    t.addRange(0x20, 0x2F, S::dcsParam, A::collect, S::dcsIntermediate);
    t.addRange(0x30, 0x39, S::dcsParam, A::param, S::dcsParam);
    t.add(0x3A, S::dcsParam, A::ignore, S::dcsIgnore);
    t.add(0x3B, S::dcsParam, A::param, S::dcsParam);
    t.addRange(0x3C, 0x3F, S::dcsParam, A::ignore, S::dcsIgnore);
    t.addRange(0x40, 0x7E, S::dcsParam, A::dcsHook, S::dcsPassthrough);
    t.add(0x7F, S::dcsParam, A::ignore, S::dcsParam);

    // dcsIgnore
    t.addRange(0x00, 0x18, S::dcsIgnore, A::ignore, S::dcsIgnore);
    t.add(0x19, S::dcsIgnore, A::error, S::ground);
    t.add(0x1A, S::dcsIgnore, A::execute, S::ground);
    t.add(0x1B, S::dcsIgnore, A::clear, S::escape);
    t.addRange(0x1C, 0x7F, S::dcsIgnore, A::ignore, S::dcsIgnore);

    // dcsIntermediate
    t.addRange(0x00, 0x18, S::dcsIntermediate, A::ignore, S::dcsIntermediate);
    t.add(0x19, S::dcsIntermediate, A::error, S::ground);
    t.add(0x1A, S::dcsIntermediate, A::execute, S::ground);
    t.add(0x1B, S::dcsIntermediate, A::clear, S::escape);
    t.addRange(0x1C, 0x1F, S::dcsIntermediate, A::ignore, S::dcsIntermediate);
    t.addRange(0x20, 0x2F, S::dcsIntermediate, A::collect, S::dcsIntermediate);
    t.addRange(0x30, 0x3F, S::dcsIntermediate, A::ignore, S::dcsIgnore);
    t.addRange(0x40, 0x7E, S::dcsIntermediate, A::dcsHook, S::dcsPassthrough);
    t.add(0x7F, S::dcsIntermediate, A::ignore, S::dcsIntermediate);

    // dcsPassthrough
    t.addRange(0x00, 0x18, S::dcsPassthrough, A::dcsPut, S::dcsPassthrough);
    t.add(0x19, S::dcsPassthrough, A::error, S::ground);
    t.add(0x1A, S::dcsPassthrough, A::execute, S::ground);
    t.add(0x1B, S::dcsPassthrough, A::dcsUnhook, S::ground);
    t.addRange(0x1C, 0x7E, S::dcsPassthrough, A::dcsPut, S::dcsPassthrough);
    t.add(0x7F, S::dcsPassthrough, A::ignore, S::dcsPassthrough);
    t.add(0x9C, S::dcsPassthrough, A::dcsUnhook, S::ground);

    return t;
}

[[noreturn]] void fatalInvalidAction()
{
    printLine("EscapeSequenceParser: invalid action in the transition table");
    std::abort();
}

// One "Parser.Parse" interval per parse call when profiling is on; nothing otherwise.
class ProfileInterval {
public:
    ProfileInterval(std::uint64_t& nextId, std::size_t byteCount)
        : enabled(profilingEnabled())
    {
        if (!enabled)
            return;
        id = nextId++;
        bytes = byteCount;
        start = std::chrono::steady_clock::now();
    }
    ProfileInterval(const ProfileInterval&) = delete;
    ProfileInterval& operator=(const ProfileInterval&) = delete;
    ~ProfileInterval()
    {
        if (!enabled)
            return;
        const auto elapsed = std::chrono::steady_clock::now() - start;
        const auto nanoseconds = std::chrono::duration_cast<std::chrono::nanoseconds>(elapsed).count();
        logProfile("ParserProfile",
            "Parser.Parse id=" + std::to_string(id) + " bytes=" + std::to_string(bytes)
                + " ns=" + std::to_string(nanoseconds));
    }

private:
    bool enabled;
    std::uint64_t id = 0;
    std::size_t bytes = 0;
    std::chrono::steady_clock::time_point start;
};

std::string bytesText(std::span<const std::uint8_t> bytes)
{
    std::string text = "[";
    for (std::size_t k = 0; k < bytes.size(); ++k) {
        if (k > 0)
            text += ", ";
        text += std::to_string(bytes[k]);
    }
    text += "]";
    return text;
}

} // namespace

// ---------------------------------------------------------------------------------------------
// ParserState, TransitionTable, ParsingState, DcsHandler

std::optional<ParserState> parserStateFromRawValue(std::uint8_t rawValue)
{
    if (rawValue >= parserStateCount)
        return std::nullopt;
    return static_cast<ParserState>(rawValue);
}

std::string_view parserStateName(ParserState state)
{
    switch (state) {
    case S::ground: return "ground";
    case S::escape: return "escape";
    case S::escapeIntermediate: return "escapeIntermediate";
    case S::csiEntry: return "csiEntry";
    case S::csiParam: return "csiParam";
    case S::csiIntermediate: return "csiIntermediate";
    case S::csiIgnore: return "csiIgnore";
    case S::sosPmApcString: return "sosPmApcString";
    case S::oscString: return "oscString";
    case S::apcString: return "apcString";
    case S::dcsEntry: return "dcsEntry";
    case S::dcsParam: return "dcsParam";
    case S::dcsIgnore: return "dcsIgnore";
    case S::dcsIntermediate: return "dcsIntermediate";
    case S::dcsPassthrough: return "dcsPassthrough";
    }
    return "invalid";
}

const TransitionTable& TransitionTable::shared()
{
    static const TransitionTable table = buildTransitionTable();
    return table;
}

ParserAction TransitionTable::action(ParserState state, std::uint8_t byte) const
{
    return static_cast<ParserAction>(entry(state, byte) >> 4);
}

ParserState TransitionTable::nextState(ParserState state, std::uint8_t byte) const
{
    return static_cast<ParserState>(entry(state, byte) & 0x0F);
}

void TransitionTable::add(std::uint8_t byte, ParserState state, ParserAction action, ParserState next)
{
    table[index(state, byte)] = static_cast<std::uint8_t>(static_cast<unsigned>(action) << 4 | static_cast<unsigned>(next));
}

void TransitionTable::addRange(std::uint8_t first, std::uint8_t last, ParserState state, ParserAction action, ParserState next)
{
    for (unsigned byte = first; byte <= last; ++byte)
        add(static_cast<std::uint8_t>(byte), state, action, next);
}

std::string ParsingState::description() const
{
    std::string text = "ParsingState(position: " + std::to_string(position);
    text += ", code: " + std::to_string(code);
    text += ", currentState: ";
    text += parserStateName(currentState);
    text += ", print: " + std::to_string(print);
    text += ", dcs: " + std::to_string(dcs);
    text += ", osc: " + std::to_string(osc.size()) + " bytes";
    text += ", apc: " + std::to_string(apc.size()) + " bytes";
    text += ", collect: " + bytesText(collect);
    text += ", parameters: [";
    for (std::size_t k = 0; k < parameters.size(); ++k)
        text += (k > 0 ? ", " : "") + std::to_string(parameters[k]);
    text += "], abort: ";
    text += abort ? "true" : "false";
    text += ")";
    return text;
}

DcsHandler::~DcsHandler() = default;

std::optional<int> parseDecimal(std::span<const std::uint8_t> text)
{
    if (text.empty())
        return std::nullopt;
    int value = 0;
    for (std::uint8_t b : text) {
        if (!isDigit(b))
            return std::nullopt;
        const int digit = b - '0';
        if (value > (std::numeric_limits<int>::max() - digit) / 10)
            return std::nullopt;
        value = value * 10 + digit;
    }
    return value;
}

// ---------------------------------------------------------------------------------------------
// EscapeSequenceParser

// Every text run and every sequence passes here: the terminal's print path is called
// directly, in the same file as the loop that calls it.
inline void EscapeSequenceParser::print(std::span<const std::uint8_t> bytes)
{
    if (terminal)
        terminal->handlePrint(bytes);
    else
        printHandler(bytes);
}

inline void EscapeSequenceParser::resetPrintState()
{
    if (terminal)
        terminal->resetPrintState();
    else
        printStateReset();
}

EscapeSequenceParser::EscapeSequenceParser(Terminal* terminal)
    : errorHandler([](ParsingState state) { return state; })
    , terminal(terminal)
    , printHandler([](std::span<const std::uint8_t>) {})
    , printStateReset([] {})
    , table(TransitionTable::shared())
    , escHandlerFallback([](std::span<const std::uint8_t>, std::uint8_t) {})
    , dscHandlerFallback([] {})
    , executeHandlerFallback([](std::uint8_t) {})
    , csiHandlerFallback([](std::span<const int>, std::span<const std::uint8_t>, std::uint8_t finalByte) {
        printLine("Cannot handle ESC-" + std::to_string(finalByte));
    })
    , oscHandlerFallback([](int, std::span<const std::uint8_t>) {})
    , apcHandlerFallback([](std::uint8_t, std::span<const std::uint8_t>) {})
{
    // Reserved once to their caps so that spans handed to handlers stay valid and no
    // sequence allocates.
    collect_.reserve(maxCollectLength);
    osc_.reserve(initialStringCapacity);
    apc_.reserve(initialStringCapacity);
}

EscapeSequenceParser::~EscapeSequenceParser() = default;

void EscapeSequenceParser::reset()
{
    currentState = initialState;
    // Buffers are only emptied here, never released: reset may run inside a handler that
    // still holds a view of them.
    emptyString(osc_, keptOsc_);
    emptyString(apc_, keptApc_);
    subParameters_ = 0;
    collect_.clear();
    pars_[0] = 0;
    parCount_ = 1;
    parameterLimitExceeded_ = false;
    stringOverflowed_ = false;
    activeDcsHandler.reset();
    ++dcsHandlerChanges_;
    resetPrintState();
}

// The loop takes one step at a time: in ground, text or the start of a sequence; elsewhere,
// the next part of a sequence or string. Each step answers where parsing goes on (never past
// the end of the data; abortedFeed ends the loop too) and in which state.
void EscapeSequenceParser::parse(std::span<const std::uint8_t> data)
{
    ProfileInterval interval(nextProfileIntervalId, data.size());
    Feed feed{data};
    ParserState state = currentState;
    // Most calls begin in ground; one that begins inside a sequence notes what it holds. Kept
    // in the parser rather than in locals, so the loop's registers stay its own.
    callStart_.dcsHandlerChanges = dcsHandlerChanges_;
    if (state != S::ground) [[unlikely]]
        noteCallStart(state);
    const std::size_t end = data.size();
    std::size_t i = 0;

    while (i < end) {
        const Step step = state == S::ground ? groundStep(feed, data, i) : sequenceStep(feed, data, i, state);
        i = step.next;
        state = step.state;
    }

    if (i == abortedFeed) [[unlikely]] {
        // Aborted by the error handler: the rest of the data and the pending runs are
        // dropped, and the next call goes on from where this one began.
        returnToCallStart();
        return;
    }
    handOverPendingRun(feed, state);
    currentState = state;
    if (keepingCallStart_) [[unlikely]]
        forgetCallStart();
}

void EscapeSequenceParser::noteCallStart(ParserState state)
{
    CallStart& start = callStart_;
    start.state = state;
    std::copy_n(pars_.begin(), parCount_, start.pars.begin());
    start.parCount = parCount_;
    start.subParameters = subParameters_;
    start.parameterLimitExceeded = parameterLimitExceeded_;
    std::copy(collect_.begin(), collect_.end(), start.collect.begin());
    start.collectLength = collect_.size();
    start.stringOverflowed = stringOverflowed_;
    start.stringsUsed = stringsUsed_;
    // Only the string of a string state is read on; another one left over is not kept.
    keptOsc_.length = state == S::oscString ? osc_.size() : 0;
    keptApc_.length = state == S::apcString ? apc_.size() : 0;
    keepingCallStart_ = true;
}

// After an abort. A DCS handler that the call hooked, unhooked or replaced is not brought
// back (it has finished, or its string was left): the rest of its string is dropped.
void EscapeSequenceParser::returnToCallStart()
{
    const CallStart& start = callStart_;
    if (dcsHandlerChanges_ != start.dcsHandlerChanges) {
        activeDcsHandler.reset();
        ++dcsHandlerChanges_;
    }
    if (!keepingCallStart_) {
        // Back to ground, where every collection is cleared before a sequence reads it.
        currentState = S::ground;
        clearCollections();
        return;
    }
    currentState = start.state;
    std::copy_n(start.pars.begin(), start.parCount, pars_.begin());
    parCount_ = start.parCount;
    subParameters_ = start.subParameters;
    parameterLimitExceeded_ = start.parameterLimitExceeded;
    collect_.assign(start.collect.begin(), start.collect.begin() + static_cast<std::ptrdiff_t>(start.collectLength));
    putBackString(osc_, keptOsc_);
    putBackString(apc_, keptApc_);
    stringOverflowed_ = start.stringOverflowed;
    stringsUsed_ = start.stringsUsed;
    keepingCallStart_ = false;
}

void EscapeSequenceParser::forgetCallStart()
{
    forgetString(keptOsc_);
    forgetString(keptApc_);
    keepingCallStart_ = false;
}

// Empties a string; one that a call in progress began with is set aside whole first.
inline void EscapeSequenceParser::emptyString(std::vector<std::uint8_t>& string, KeptString& kept)
{
    if (kept.length > 0 && !kept.setAside) [[unlikely]] {
        string.swap(kept.bytes);
        kept.setAside = true;
    }
    string.clear();
}

// The string as the call began: set aside whole, or still its first `length` bytes.
void EscapeSequenceParser::putBackString(std::vector<std::uint8_t>& string, KeptString& kept)
{
    if (kept.setAside)
        string.swap(kept.bytes);
    string.resize(std::min(kept.length, string.size()));
    forgetString(kept);
}

void EscapeSequenceParser::forgetString(KeptString& kept)
{
    if (kept.setAside) {
        kept.bytes.clear();
        releaseIfLarge(kept.bytes);
        kept.setAside = false;
    }
    kept.length = 0;
}

// In ground: text, ESC "[" with the sequence it opens, and the C0 controls, each without the
// table; EM, and ESC before anything but "[", take their transition from it.
[[gnu::always_inline]] inline EscapeSequenceParser::Step EscapeSequenceParser::groundStep(Feed& feed,
    std::span<const std::uint8_t> data, std::size_t i)
{
    const std::uint8_t b = data[i];
    if (b >= 0x20) {
        const std::size_t end = takeText(feed, data, i);
        // Text up to the end of its line: the run and the line end in one step.
        if (end < data.size() && opensLineEnd(data, end))
            return takeLineEnd(feed, end);
        return {end, S::ground};
    }
    if (opensCsi(data, i))
        return openCsi(feed, data, i);
    if (opensLineEnd(data, i))
        return takeLineEnd(feed, i);
    // Line ends and tabs come between most text runs: executed here, as the table says.
    if (b != ESC && b != EM) {
        actionExecute(feed, i);
        return {i + 1, S::ground};
    }
    return applyTransition(feed, i, S::ground);
}

// CR LF at i, for a terminal: most lines of output end so. Both controls run in one step, as
// the table would run them one after the other (a traced dispatch names each, so it takes
// the table's way).
inline bool EscapeSequenceParser::opensLineEnd(std::span<const std::uint8_t> data, std::size_t i) const
{
    return data[i] == '\r' && i + 1 < data.size() && data[i + 1] == '\n' && terminal && !terminal->dispatchTrace;
}

// The pending print run, then CR and LF.
[[gnu::always_inline]] inline EscapeSequenceParser::Step EscapeSequenceParser::takeLineEnd(Feed& feed, std::size_t i)
{
    flushPrint(feed, i);
    terminal->carriageReturnLineFeed();
    return {i + 2, S::ground};
}

// Printable text (and every byte 0x80-0xFF, UTF-8) runs up to the next C0 control; the run is
// handed over by whatever ends it.
[[gnu::always_inline]] inline std::size_t EscapeSequenceParser::takeText(Feed& feed,
    std::span<const std::uint8_t> data, std::size_t i)
{
    if (feed.printStart < 0)
        feed.printStart = static_cast<std::ptrdiff_t>(i);
    // One character before the next sequence, as when a program paints single cells, needs
    // no search.
    if (i + 1 < data.size() && data[i + 1] <= 0x1F)
        return i + 1;
    return findNextControl(data, i + 1);
}

// Inside a sequence or a string: parameters and the body of a string already begun have
// readers of their own; every other byte takes its transition from the table.
[[gnu::always_inline]] inline EscapeSequenceParser::Step EscapeSequenceParser::sequenceStep(Feed& feed,
    std::span<const std::uint8_t> data, std::size_t i, ParserState state)
{
    const std::uint8_t b = data[i];
    if (isParameterStart(state, b))
        return readParameters(data, i);
    if (continuesString(state, b))
        return {actionOscPut(feed, i, state), state};
    return applyTransition(feed, i, state);
}

// A string that already holds a byte takes everything but BEL, CAN and ESC as its body, as
// the body loop does within one call; so a string split over several calls (a UTF-8 title
// cut before a continuation byte 0x80-0x9F, a 0x9C inside) reads the same as in one piece.
inline bool EscapeSequenceParser::continuesString(ParserState state, std::uint8_t b) const
{
    const bool begun = (state == S::oscString && !osc_.empty()) || (state == S::apcString && !apc_.empty());
    return begun && b != BEL && b != CAN && b != ESC;
}

// End of the data: print runs and DCS data runs never span two calls.
void EscapeSequenceParser::handOverPendingRun(const Feed& feed, ParserState state)
{
    if (state == S::ground && feed.printStart >= 0)
        print(feed.data.subspan(static_cast<std::size_t>(feed.printStart)));
    else if (state == S::dcsPassthrough && feed.dcsStart >= 0 && activeDcsHandler)
        activeDcsHandler->put(feed.data.subspan(static_cast<std::size_t>(feed.dcsStart)));
}

// Beside the parse loop and small, so that the common sequences pay for little more than
// their row; the search and the fallbacks are out of line.
inline void EscapeSequenceParser::csiDispatch(std::uint8_t finalByte, std::size_t count,
    std::uint32_t subParameterBits)
{
    const std::span<const std::uint8_t> collect(collect_.data(), collect_.size());
    if (terminal && isFinalByte(finalByte)) [[likely]] {
        if (const ControlFunction* row = directCsiRows[finalByte]) {
            ControlCall call;
            call.pars.values = std::span<const int>(pars_.data(), count);
            call.pars.subParameterBits = subParameterBits;
            call.collect = collect;
            call.code = finalByte;
            // The dispatch trace, as for every row that takes a sequence.
            if (terminal->dispatchTrace) [[unlikely]]
                terminal->dispatchTrace(row->name);
            row->handler(*terminal, call);
            return;
        }
    }
    csiDispatchByTable(*this, finalByte, CsiParameters{std::span<const int>(pars_.data(), count), subParameterBits},
        collect);
}

// ESC "[" at i, in ground: ESC's clear, and the "[" that follows it, without a table lookup.
// A sequence of plain parameters is read on at once; the common ones are whole in the data.
[[gnu::always_inline]] inline EscapeSequenceParser::Step EscapeSequenceParser::openCsi(Feed& feed,
    std::span<const std::uint8_t> data, std::size_t i)
{
    // In ground no DCS data run is pending (every way out of a DCS string flushes it), so
    // only the print run is flushed.
    flushPrint(feed, i);
    i += 2;
    if (i < data.size() && (isDigit(data[i]) || data[i] == ';')) {
        // The reader starts the parameters afresh and stores them itself.
        clearAllButParameters();
        resetPrintState();
        return readPlainParameters(data, i);
    }
    clearCollections();
    resetPrintState();
    if (i < data.size() && isFinalByte(data[i])) {
        // No parameters: the one absent parameter, 0.
        actionCsiDispatch(data[i]);
        return {i + 1, S::ground};
    }
    return {i, S::csiEntry};
}

EscapeSequenceParser::Step EscapeSequenceParser::readParameters(std::span<const std::uint8_t> data, std::size_t i)
{
    return readParameters(data, i,
        ParameterRun{parCount_, pars_[parCount_ - 1], subParameters_, parameterLimitExceeded_});
}

// The parameters of a new sequence while they are plain (digits and ";"), eight bytes at a
// time: one load gives a parameter's digits, its value and the byte after it, without a
// branch per byte. A final byte after them dispatches the sequence; anything else (":", a
// private marker, a control, a run of eight digits, the parameter limit, fewer than eight
// bytes left) leaves the rest to the byte reader at the start of the parameter in hand.
[[gnu::always_inline]] inline EscapeSequenceParser::Step EscapeSequenceParser::readPlainParameters(
    std::span<const std::uint8_t> data, std::size_t i)
{
    const std::uint8_t* bytes = data.data();
    const std::size_t end = data.size();
    std::size_t count = 0; // values stored
    if (end >= 8) {
        const std::size_t lastWord = end - 8;
        while (i <= lastWord) {
            std::uint64_t word;
            std::memcpy(&word, bytes + i, sizeof word);
            const ParameterWord taken = readParameterWord(word, count);
            if (taken.finalByte != 0) {
                dispatchPlainSequence(taken.finalByte, count);
                return {i + taken.bytes + 1, S::ground};
            }
            i += taken.bytes;
            // Stopped at a byte it does not take, or eight digits in a row: the byte reader
            // goes on. Otherwise the parameter in hand continues in the next word.
            if (taken.stopped || taken.bytes == 0)
                break;
        }
    }
    return readParameters(data, i, ParameterRun{count + 1, 0, 0, false});
}

// The parameters one loaded word completes, stored from pars_[count] on. Every non-digit of
// the word up to the first that is not ";" is marked exactly (";" and final bytes neither
// borrow nor carry), so they are taken one after the other from the one load.
[[gnu::always_inline]] inline EscapeSequenceParser::ParameterWord EscapeSequenceParser::readParameterWord(
    std::uint64_t word, std::size_t& count)
{
    std::uint64_t nonDigits = nonDigitBytes(word);
    unsigned from = 0; // bit offset of the parameter in hand
    while (nonDigits != 0) {
        // The lowest mark is the high bit of a non-digit: its byte starts at the multiple of
        // 8 below it.
        const unsigned at = static_cast<unsigned>(std::countr_zero(nonDigits)) & ~7U;
        const int value = leadingDecimal(word >> from, at - from);
        const auto next = static_cast<std::uint8_t>(word >> at);
        if (next != ';') {
            if (!isFinalByte(next))
                return {from / 8, 0, true};
            pars_[count++] = value;
            return {at / 8, next, true};
        }
        if (count + 1 == maxParameters)
            return {from / 8, 0, true}; // the byte reader passes the limit
        pars_[count++] = value;
        from = at + 8;
        nonDigits &= nonDigits - 1;
    }
    return {from / 8, 0, false};
}

// The final byte after plain parameters: the fields as the byte reader would leave them (no
// sub-parameters, within the limit), then the dispatch.
[[gnu::always_inline]] inline void EscapeSequenceParser::dispatchPlainSequence(std::uint8_t finalByte,
    std::size_t count)
{
    parCount_ = count;
    subParameters_ = 0;
    parameterLimitExceeded_ = false;
    csiDispatch(finalByte, count, 0);
}

// Digits, ";" and ":" inside CSI parameters (and the digits and ";" that open them) do what
// the table says, param in csiParam, without a lookup per byte; a final byte that follows
// is dispatched as the table would. Leaves i on the first byte it did not take.
//
// The parser's fields are written back once: the parameter being read stays in a register
// and is stored at each separator and at the end, unless the parameter limit was passed
// (then the stored values stay as they are). Digits stop adding once the value is past the
// cap, and the stored value is clamped: the same number as clamping at every digit.
EscapeSequenceParser::Step EscapeSequenceParser::readParameters(std::span<const std::uint8_t> data, std::size_t i,
    ParameterRun run)
{
    const std::uint8_t* bytes = data.data();
    const std::size_t end = data.size();
    for (; i < end; ++i) {
        const unsigned code = static_cast<unsigned>(bytes[i]) - '0'; // ':' is 10, ';' 11
        if (code < 10) {
            if (run.value <= maxParameterValue)
                run.value = run.value * 10 + static_cast<int>(code);
        } else if (code < 12) {
            closeParameter(run, code == 10);
        } else {
            break;
        }
    }
    storeParameters(run);
    if (i < end && isFinalByte(bytes[i])) {
        // actionCsiDispatch, from the values at hand.
        if (!run.exceeded)
            csiDispatch(bytes[i], run.count, run.subParameters);
        return {i + 1, S::ground};
    }
    return {i, S::csiParam};
}

// A separator: the value in hand is stored and a new one begins, a sub-parameter after ":".
// The separator that would begin one value too many passes the limit instead; from then on
// the sequence is only read to its end.
[[gnu::always_inline]] inline void EscapeSequenceParser::closeParameter(ParameterRun& run, bool subParameter)
{
    if (run.exceeded)
        return;
    pars_[run.count - 1] = std::min(run.value, maxParameterValue);
    if (run.count == maxParameters) {
        run.exceeded = true;
        return;
    }
    if (subParameter)
        run.subParameters |= std::uint32_t{1} << run.count;
    ++run.count;
    run.value = 0;
}

// The run back into the fields, which keep it between calls and for the dispatch; past the
// limit the values stored so far stay as they are.
[[gnu::always_inline]] inline void EscapeSequenceParser::storeParameters(const ParameterRun& run)
{
    if (!run.exceeded)
        pars_[run.count - 1] = std::min(run.value, maxParameterValue);
    parCount_ = run.count;
    subParameters_ = run.subParameters;
    parameterLimitExceeded_ = run.exceeded;
}

// One transition of the table for the byte at i; answers where parsing goes on, or
// abortedFeed when the error handler stopped the call, and the next state.
EscapeSequenceParser::Step EscapeSequenceParser::applyTransition(Feed& feed, std::size_t i, ParserState state)
{
    const std::uint8_t b = feed.data[i];
    const std::uint8_t transition = table.table[TransitionTable::index(state, b)];
    const auto action = static_cast<ParserAction>(transition >> 4);
    auto next = static_cast<ParserState>(transition & 0x0F);

    switch (action) {
    case A::ignore:
        flushPrintOrDcs(feed, i);
        break;
    case A::error:
        if (!actionError(feed, i, state, next))
            return {abortedFeed, state};
        break;
    case A::print:
        actionPrint(feed, i);
        break;
    case A::execute:
        actionExecute(feed, i);
        break;
    case A::oscStart:
        actionOscStart(feed, i, next);
        break;
    case A::oscPut:
        // The body loop leaves i on the byte that ends it (or at the end of the data).
        return {actionOscPut(feed, i, state), state};
    case A::oscEnd:
        next = actionOscEnd(b, state);
        fullClear(feed);
        break;
    case A::csiDispatch:
        actionCsiDispatch(b);
        break;
    case A::param:
        actionParam(b);
        break;
    case A::collect:
        actionCollect(b);
        break;
    case A::escDispatch:
        escDispatch(collect_, b);
        break;
    case A::clear:
        actionClear(feed, i);
        // The "[" of ESC "[" is taken here. Its own clear action would find nothing left to
        // do: the print run and the collections are empty and the print state was reset
        // just now.
        if (next == S::escape && opensCsi(feed.data, i)) {
            ++i;
            next = S::csiEntry;
        }
        break;
    case A::dcsHook:
        actionDcsHook(b);
        break;
    case A::dcsPut:
        actionDcsPut(feed, i);
        break;
    case A::dcsUnhook:
        next = actionDcsUnhook(feed, i);
        break;
    default:
        fatalInvalidAction();
    }
    return {i + 1, next};
}

// --- actions ----------------------------------------------------------------------------------

inline void EscapeSequenceParser::flushPrint(Feed& feed, std::size_t i)
{
    if (feed.printStart >= 0) {
        const auto start = static_cast<std::size_t>(feed.printStart);
        feed.printStart = -1;
        print(feed.data.subspan(start, i - start));
    }
}

// The ignore action's flush: the pending print run, else the pending DCS data run. Every
// action that leaves a DCS string flushes its data up to the byte that ends it, so the
// handler gets the same data however the bytes were split over calls (a run never spans
// two calls).
void EscapeSequenceParser::flushPrintOrDcs(Feed& feed, std::size_t i)
{
    if (feed.printStart >= 0) {
        flushPrint(feed, i);
    } else if (feed.dcsStart >= 0 && activeDcsHandler) {
        const auto start = static_cast<std::size_t>(feed.dcsStart);
        feed.dcsStart = -1;
        activeDcsHandler->put(feed.data.subspan(start, i - start));
    }
    feed.dcsStart = -1;
}

// error: never flushes the pending print run. Bytes from 0xA0 up are text in ground, dropped
// in the ignore states and data in a DCS string; anything else is reported and parsing goes
// on in ground. Returns false when the handler asked to abort.
bool EscapeSequenceParser::actionError(Feed& feed, std::size_t i, ParserState state, ParserState& next)
{
    const std::uint8_t b = feed.data[i];
    if (b >= TransitionTable::byteClassLimit) {
        switch (state) {
        case S::ground:
            actionPrint(feed, i);
            next = state;
            return true;
        case S::csiIgnore:
        case S::dcsIgnore:
            next = state;
            return true;
        case S::dcsPassthrough:
            actionDcsPut(feed, i);
            next = state;
            return true;
        default:
            break;
        }
    }
    ParsingState report;
    report.position = static_cast<std::ptrdiff_t>(i);
    report.code = b;
    report.currentState = state;
    report.print = feed.printStart;
    report.dcs = feed.dcsStart;
    report.osc = osc_;
    report.apc = apc_;
    report.collect = collect_;
    const ParsingState answer = errorHandler ? errorHandler(report) : report;
    if (answer.abort)
        return false;
    if (feed.printStart < 0)
        flushPrintOrDcs(feed, i);
    next = S::ground;
    return true;
}

void EscapeSequenceParser::actionPrint(Feed& feed, std::size_t i)
{
    if (feed.printStart < 0)
        feed.printStart = static_cast<std::ptrdiff_t>(i);
}

void EscapeSequenceParser::actionExecute(Feed& feed, std::size_t i)
{
    flushPrintOrDcs(feed, i);
    executeDispatch(feed.data[i]);
    feed.printStart = -1;
}

void EscapeSequenceParser::actionOscStart(Feed& feed, std::size_t i, ParserState next)
{
    flushPrintOrDcs(feed, i);
    if (next == S::apcString)
        emptyString(apc_, keptApc_);
    else
        emptyString(osc_, keptOsc_);
    stringOverflowed_ = false;
    feed.printStart = -1;
}

// The string body loop: appends from i on until BEL, CAN or ESC (left for the table, which
// ends the string) or the end of the data. Other C0 bytes are dropped; 0x20-0xFF are kept,
// up to the string's cap.
std::size_t EscapeSequenceParser::actionOscPut(Feed& feed, std::size_t i, ParserState state)
{
    const bool apc = state == S::apcString;
    std::vector<std::uint8_t>& string = apc ? apc_ : osc_;
    stringsUsed_ = true;
    const std::size_t cap = apc ? maxApcLength : maxOscLength;
    const std::size_t end = feed.data.size();
    while (i < end) {
        const std::size_t runEnd = findNextControl(feed.data, i);
        if (runEnd > i && !stringOverflowed_ && !appendCapped(string, feed.data.subspan(i, runEnd - i), cap))
            stringOverflowed_ = true;
        i = runEnd;
        if (i == end)
            break;
        const std::uint8_t b = feed.data[i];
        if (b == BEL || b == CAN || b == ESC)
            break;
        ++i;
    }
    return i;
}

// oscEnd: dispatches a non-empty string that was not cancelled (CAN, SUB); the caller then
// does the full clear. After ESC the parser goes on in escape, so that the "\" of ESC \ is
// read as an ESC sequence.
ParserState EscapeSequenceParser::actionOscEnd(std::uint8_t b, ParserState state)
{
    const bool cancelled = b == CAN || b == SUB;
    if (state == S::apcString) {
        if (!apc_.empty() && !cancelled)
            dispatchApcString();
    } else {
        if (!osc_.empty() && !cancelled)
            dispatchOscString();
    }
    return b == ESC ? S::escape : S::ground;
}

void EscapeSequenceParser::dispatchApcString()
{
    if (stringOverflowed_) {
        reportOverflow(S::apcString);
        return;
    }
    const std::uint8_t first = apc_.front();
    const auto payload = std::span<const std::uint8_t>(apc_).subspan(1);
    if (first == 'G')
        kittyGraphicsDispatch(payload);
    else
        apcHandlerFallback(first, payload);
}

void EscapeSequenceParser::dispatchOscString()
{
    if (stringOverflowed_) {
        reportOverflow(S::oscString);
        return;
    }
    const std::span<const std::uint8_t> osc(osc_);
    std::span<const std::uint8_t> codeText = osc;
    std::span<const std::uint8_t> payload;
    for (std::size_t k = 0; k < osc.size(); ++k) {
        if (osc[k] == ';') {
            codeText = osc.first(k);
            payload = osc.subspan(k + 1);
            break;
        }
    }
    const std::optional<int> code = parseDecimal(codeText);
    if (!code)
        return;
    oscDispatch(*code, payload);
}

void EscapeSequenceParser::reportOverflow(ParserState state) const
{
    if (!stringOverflowHandler)
        return;
    std::string what;
    if (state == S::apcString) {
        what = "APC";
        if (!apc_.empty() && apc_.front() >= 0x21 && apc_.front() <= 0x7E)
            what += std::string(" ") + static_cast<char>(apc_.front());
    } else {
        what = "OSC";
        std::size_t k = 0;
        while (k < osc_.size() && isDigit(osc_[k]))
            ++k;
        if (k > 0 && k < osc_.size() && osc_[k] == ';') {
            if (const auto code = parseDecimal(std::span<const std::uint8_t>(osc_).first(k)))
                what += " " + std::to_string(*code);
        }
    }
    stringOverflowHandler(what);
}

void EscapeSequenceParser::actionCsiDispatch(std::uint8_t b)
{
    // A sequence that passed the parameter limit is dropped whole.
    if (parameterLimitExceeded_)
        return;
    csiDispatch(b, parCount_, subParameters_);
    parameterLimitExceeded_ = false;
}

void EscapeSequenceParser::accumulateDigit(std::uint8_t digit)
{
    // p never exceeds the cap, so p * 10 + 9 cannot overflow.
    int& p = pars_[parCount_ - 1];
    p = std::min(p * 10 + (digit - '0'), maxParameterValue);
}

void EscapeSequenceParser::actionParam(std::uint8_t b)
{
    if (b == ':' || b == ';') {
        if (parCount_ == maxParameters || parameterLimitExceeded_) {
            parameterLimitExceeded_ = true;
        } else {
            if (b == ':')
                subParameters_ |= std::uint32_t{1} << parCount_;
            pars_[parCount_++] = 0;
            parameterLimitExceeded_ = false;
        }
        return;
    }
    if (!parameterLimitExceeded_)
        accumulateDigit(b);
}

void EscapeSequenceParser::actionCollect(std::uint8_t b)
{
    if (collect_.size() < maxCollectLength)
        collect_.push_back(b);
}

void EscapeSequenceParser::clearStrings()
{
    emptyString(osc_, keptOsc_);
    emptyString(apc_, keptApc_);
    releaseIfLarge(osc_);
    releaseIfLarge(apc_);
    stringsUsed_ = false;
}

inline void EscapeSequenceParser::clearAllButParameters()
{
    // Most sequences hold no string: their clear leaves the string buffers alone.
    if (stringsUsed_) [[unlikely]]
        clearStrings();
    collect_.clear();
    stringOverflowed_ = false;
}

inline void EscapeSequenceParser::clearCollections()
{
    clearAllButParameters();
    subParameters_ = 0;
    pars_[0] = 0;
    parCount_ = 1;
    parameterLimitExceeded_ = false;
}

void EscapeSequenceParser::actionClear(Feed& feed, std::size_t i)
{
    flushPrintOrDcs(feed, i);
    clearCollections();
    feed.dcsStart = -1;
    feed.printStart = -1;
    resetPrintState();
}

// Full clear, after oscEnd and dcsUnhook.
void EscapeSequenceParser::fullClear(Feed& feed)
{
    clearCollections();
    feed.dcsStart = -1;
    resetPrintState();
}

void EscapeSequenceParser::actionDcsHook(std::uint8_t b)
{
    // A new DCS string ends the previous handler's life (one left by SUB or an 8-bit control
    // is still installed); its data must not reach that handler.
    activeDcsHandler.reset();
    ++dcsHandlerChanges_;
    if (parameterLimitExceeded_)
        return; // the string is received and dropped
    if (auto handler = makeDcsHandler(collect_, b)) {
        activeDcsHandler = std::move(handler);
        activeDcsHandler->hook(collect_, std::span<const int>(pars_.data(), parCount_), b);
    }
    parameterLimitExceeded_ = false;
}

void EscapeSequenceParser::actionDcsPut(Feed& feed, std::size_t i)
{
    if (feed.dcsStart < 0)
        feed.dcsStart = static_cast<std::ptrdiff_t>(i);
}

ParserState EscapeSequenceParser::actionDcsUnhook(Feed& feed, std::size_t i)
{
    const std::uint8_t b = feed.data[i];
    if (activeDcsHandler) {
        // Detached first, so a handler that resets the parser is not destroyed under itself.
        const std::unique_ptr<DcsHandler> handler = std::move(activeDcsHandler);
        ++dcsHandlerChanges_;
        if (feed.dcsStart >= 0) {
            const auto start = static_cast<std::size_t>(feed.dcsStart);
            handler->put(feed.data.subspan(start, i - start));
        }
        handler->unhook();
    }
    fullClear(feed);
    return b == ESC ? S::escape : S::ground;
}

} // namespace corvantix
