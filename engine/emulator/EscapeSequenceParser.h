// The escape-sequence parser: the door through which every byte from the host enters the
// emulator. A table-driven state machine splits the byte stream into printable runs, C0/C1
// controls and complete ESC, CSI, OSC, APC and DCS sequences, and hands each to a dispatch
// operation or a fallback callback. It works on bytes: UTF-8 is decoded by the print handler.
// It is incremental: a sequence may be split over any number of parse calls.
//
// Not thread-safe: every call comes from the thread that feeds the terminal.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace corvantix {

class Terminal;

// The parser's states; the raw values index the rows of the transition table.
enum class ParserState : std::uint8_t {
    ground = 0,
    escape = 1,
    escapeIntermediate = 2,
    csiEntry = 3,
    csiParam = 4,
    csiIntermediate = 5,
    csiIgnore = 6,
    sosPmApcString = 7,
    oscString = 8,
    apcString = 9,
    dcsEntry = 10,
    dcsParam = 11,
    dcsIgnore = 12,
    dcsIntermediate = 13,
    dcsPassthrough = 14,
};

inline constexpr int parserStateCount = 15;

// A state from its raw value; nothing for 15 and up.
std::optional<ParserState> parserStateFromRawValue(std::uint8_t rawValue);

// The state's name, for diagnostics.
std::string_view parserStateName(ParserState state);

// What a transition does with its byte. Four bits; 15 never occurs in the table.
// oscStart, oscPut and oscEnd serve both OSC and APC strings.
enum class ParserAction : std::uint8_t {
    ignore = 0,
    error = 1,
    print = 2,
    execute = 3,
    oscStart = 4,
    oscPut = 5,
    oscEnd = 6,
    csiDispatch = 7,
    param = 8,
    collect = 9,
    escDispatch = 10,
    clear = 11,
    dcsHook = 12,
    dcsPut = 13,
    dcsUnhook = 14,
};

// The state machine as one flat byte array shared by every parser.
// Index: state << 8 | min(byte, 0xA0); entry: action << 4 | next state.
// Entries 0xA1-0xFF of each row are never read (the byte class stops at 0xA0).
class TransitionTable final {
public:
    static constexpr std::size_t tableSize = 4095;
    static constexpr std::uint8_t byteClassLimit = 0xA0;

    std::array<std::uint8_t, tableSize> table{};

    // The table of the process, built on first use (thread-safe) and then only read.
    static const TransitionTable& shared();

    static constexpr std::size_t index(ParserState state, std::uint8_t byte)
    {
        return static_cast<std::size_t>(state) << 8 | (byte < byteClassLimit ? byte : byteClassLimit);
    }

    std::uint8_t entry(ParserState state, std::uint8_t byte) const { return table[index(state, byte)]; }
    ParserAction action(ParserState state, std::uint8_t byte) const;
    ParserState nextState(ParserState state, std::uint8_t byte) const;

    // Builders used while the shared table is made.
    void add(std::uint8_t byte, ParserState state, ParserAction action, ParserState next);
    void addRange(std::uint8_t first, std::uint8_t last, ParserState state, ParserAction action, ParserState next);
};

// What the error handler is told about a parse error, and what it answers.
// The spans view the parser's own buffers and are valid only during the handler call.
struct ParsingState {
    std::ptrdiff_t position = 0; // index of the offending byte in the data of this parse call
    std::uint8_t code = 0; // the offending byte
    ParserState currentState = ParserState::ground;
    std::ptrdiff_t print = -1; // start of the pending print run, -1 for none
    std::ptrdiff_t dcs = -1; // start of the pending DCS data run, -1 for none
    std::span<const std::uint8_t> osc;
    std::span<const std::uint8_t> apc;
    std::span<const std::uint8_t> collect;
    std::span<const int> parameters; // always handed over empty
    bool abort = false; // set by the handler to stop the current parse call

    // A readable one-line form for the parse-error log line.
    std::string description() const;
};

// Consumer of one DCS string: hook at its final byte, put for each run of data, unhook at
// the string terminator.
class DcsHandler {
public:
    virtual ~DcsHandler();
    virtual void hook(std::span<const std::uint8_t> collect, std::span<const int> parameters, std::uint8_t finalByte) = 0;
    virtual void put(std::span<const std::uint8_t> data) = 0;
    virtual void unhook() = 0;
};

// The parameters of a CSI sequence as its handler receives them: the values in order, and
// which of them are sub-parameters (joined to the value before by ":" rather than ";").
// Handlers that take no sub-parameters read it as the plain values.
struct CsiParameters {
    std::span<const int> values;
    std::uint32_t subParameterBits = 0; // bit k: value k follows a ":"

    std::size_t size() const { return values.size(); }
    bool empty() const { return values.empty(); }
    int operator[](std::size_t k) const { return values[k]; }
    // True when value k follows a ":" (never for the first value).
    bool isSubParameter(std::size_t k) const { return k < 32 && (subParameterBits >> k & 1) != 0; }
    operator std::span<const int>() const { return values; }
};

// Decimal number of an OSC code: nothing for an empty text, a non-digit, or a value past
// the largest int.
std::optional<int> parseDecimal(std::span<const std::uint8_t> text);

class EscapeSequenceParser {
public:
    using OscHandler = std::function<void(std::span<const std::uint8_t> payload)>;

    // Wire strings are untrusted: longer OSC/APC strings are dropped whole at their terminator.
    static constexpr std::size_t maxOscLength = 8 * 1024 * 1024;
    static constexpr std::size_t maxApcLength = 16 * 1024 * 1024;
    // Parameters: at most this many values, each saturating at maxParameterValue.
    static constexpr std::size_t maxParameters = 24;
    static constexpr int maxParameterValue = 65535;
    // Intermediates beyond this many match no function; they are not kept.
    static constexpr std::size_t maxCollectLength = 64;

    explicit EscapeSequenceParser(Terminal* terminal = nullptr);
    EscapeSequenceParser(const EscapeSequenceParser&) = delete;
    EscapeSequenceParser& operator=(const EscapeSequenceParser&) = delete;
    ~EscapeSequenceParser();

    // Consumes every byte of data, unless the error handler asks to abort: then the call
    // returns at once and the parser is left as the call found it (its state and what it had
    // collected of a sequence split over calls).
    void parse(std::span<const std::uint8_t> data);

    // Back to the initial state with empty collections; drops the active DCS handler without
    // unhooking it.
    void reset();

    ParserState state() const { return currentState; }

    // Dispatch operations, called only by parse (defined in EscapeSequenceParserDispatch.cpp,
    // but for csiDispatch, which is kept beside the parse loop).
    void executeDispatch(std::uint8_t code);
    // The values are the first count of the parameter array: passed as scalars, the call record
    // is built from registers rather than copied from a just-stored temporary.
    void csiDispatch(std::uint8_t finalByte, std::size_t count, std::uint32_t subParameterBits);
    void escDispatch(std::span<const std::uint8_t> collect, std::uint8_t finalByte);
    void oscDispatch(int code, std::span<const std::uint8_t> payload);
    // The handler for a DCS string, chosen at its hook; null drops the string.
    std::unique_ptr<DcsHandler> makeDcsHandler(std::span<const std::uint8_t> collect, std::uint8_t finalByte);
    // An APC string whose first byte is "G": the bytes after the "G".
    void kittyGraphicsDispatch(std::span<const std::uint8_t> payload);

    // Host-registered OSC handlers, consulted before the built-in OSC handling.
    std::map<int, OscHandler> oscHandlers;
    // Handler of the DCS string being received; null outside one.
    std::unique_ptr<DcsHandler> activeDcsHandler;
    std::function<ParsingState(ParsingState)> errorHandler;
    // The owning terminal (not owned; it owns this parser). Null: everything goes to fallbacks.
    Terminal* terminal = nullptr;
    ParserState initialState = ParserState::ground;
    ParserState currentState = ParserState::ground;

    // Text runs and the start of every sequence go to the owning terminal's print path;
    // these two take them for a parser without a terminal.
    std::function<void(std::span<const std::uint8_t> bytes)> printHandler;
    std::function<void()> printStateReset;
    const TransitionTable& table;
    std::function<void(std::span<const std::uint8_t> collect, std::uint8_t finalByte)> escHandlerFallback;
    std::function<void()> dscHandlerFallback; // present for DCS; never called
    std::function<void(std::uint8_t code)> executeHandlerFallback;
    std::function<void(const CsiParameters& pars, std::span<const std::uint8_t> collect, std::uint8_t finalByte)>
        csiHandlerFallback;
    std::function<void(int code, std::span<const std::uint8_t> payload)> oscHandlerFallback;
    std::function<void(std::uint8_t firstByte, std::span<const std::uint8_t> payload)> apcHandlerFallback;
    int logFileCounter = 1;

    // Told when an OSC or APC string longer than its cap is dropped; the text names it
    // ("OSC 52", "APC G"). Empty by default.
    std::function<void(std::string_view what)> stringOverflowHandler;
    // Without a terminal, makeDcsHandler asks this factory. Empty by default: no handler.
    std::function<std::unique_ptr<DcsHandler>(std::span<const std::uint8_t> collect, std::uint8_t finalByte)>
        dcsHandlerFactory;

private:
    // Per-call positions into the data being parsed.
    struct Feed {
        std::span<const std::uint8_t> data;
        std::ptrdiff_t printStart = -1;
        std::ptrdiff_t dcsStart = -1;
    };

    // Called for every run of text and every sequence: the terminal's print path directly
    // (one call instead of two through a closure), the handlers without a terminal.
    void print(std::span<const std::uint8_t> bytes);
    void resetPrintState();

    // The parse loop's pieces: one step in ground and one inside a sequence or string, the
    // table's transition for one byte, and the readers that take text, the common CSI
    // sequences and string bodies without a lookup per byte. A step answers the index where
    // parsing goes on (abortedFeed stops the call) and the state it goes on in: returned in
    // registers, the loop's state never lives in memory.
    static constexpr std::size_t abortedFeed = static_cast<std::size_t>(-1);
    struct Step {
        std::size_t next;
        ParserState state;
    };
    Step groundStep(Feed& feed, std::span<const std::uint8_t> data, std::size_t i);
    Step sequenceStep(Feed& feed, std::span<const std::uint8_t> data, std::size_t i, ParserState state);
    static std::size_t takeText(Feed& feed, std::span<const std::uint8_t> data, std::size_t i);
    bool opensLineEnd(std::span<const std::uint8_t> data, std::size_t i) const;
    Step takeLineEnd(Feed& feed, std::size_t i);
    bool continuesString(ParserState state, std::uint8_t b) const;
    void handOverPendingRun(const Feed& feed, ParserState state);
    Step applyTransition(Feed& feed, std::size_t i, ParserState state);
    Step openCsi(Feed& feed, std::span<const std::uint8_t> data, std::size_t i);
    Step readParameters(std::span<const std::uint8_t> data, std::size_t i);
    Step readPlainParameters(std::span<const std::uint8_t> data, std::size_t i);
    // The parameters read so far: what the parser's fields hold between calls.
    struct ParameterRun {
        std::size_t count = 1;
        int value = 0; // the last value, not yet clamped
        std::uint32_t subParameters = 0;
        bool exceeded = false;
    };
    Step readParameters(std::span<const std::uint8_t> data, std::size_t i, ParameterRun run);
    // What one word of plain parameters gave: the bytes taken (up to the parameter in hand,
    // or to the final byte), the final byte that ends the sequence (0 for none), and whether
    // a byte the word reader leaves to the byte reader comes next.
    struct ParameterWord {
        unsigned bytes;
        std::uint8_t finalByte;
        bool stopped;
    };
    ParameterWord readParameterWord(std::uint64_t word, std::size_t& count);
    void closeParameter(ParameterRun& run, bool subParameter);
    void storeParameters(const ParameterRun& run);
    void dispatchPlainSequence(std::uint8_t finalByte, std::size_t count);

    // The table's actions, one function each (named after the action).
    void flushPrint(Feed& feed, std::size_t i);
    void flushPrintOrDcs(Feed& feed, std::size_t i);
    bool actionError(Feed& feed, std::size_t i, ParserState state, ParserState& next);
    void actionPrint(Feed& feed, std::size_t i);
    void actionExecute(Feed& feed, std::size_t i);
    void actionOscStart(Feed& feed, std::size_t i, ParserState next);
    std::size_t actionOscPut(Feed& feed, std::size_t i, ParserState state);
    ParserState actionOscEnd(std::uint8_t b, ParserState state);
    void actionCsiDispatch(std::uint8_t b);
    void actionParam(std::uint8_t b);
    void actionCollect(std::uint8_t b);
    void actionClear(Feed& feed, std::size_t i);
    void actionDcsHook(std::uint8_t b);
    void actionDcsPut(Feed& feed, std::size_t i);
    ParserState actionDcsUnhook(Feed& feed, std::size_t i);
    void fullClear(Feed& feed);
    void clearCollections();
    void clearAllButParameters();
    void clearStrings();
    void accumulateDigit(std::uint8_t digit);
    void dispatchOscString();
    void dispatchApcString();
    void reportOverflow(ParserState state) const;

    // An OSC or APC string as a call began, for an abort: its length while the call only
    // appends to it, and the whole buffer, set aside, once the call empties it.
    struct KeptString {
        std::vector<std::uint8_t> bytes;
        std::size_t length = 0; // 0: nothing to keep (no call in progress began with a string)
        bool setAside = false;
    };
    void emptyString(std::vector<std::uint8_t>& string, KeptString& kept);
    static void putBackString(std::vector<std::uint8_t>& string, KeptString& kept);
    static void forgetString(KeptString& kept);
    // What a call that begins inside a sequence had collected; an aborted call puts it back.
    // A call that begins in ground needs none of it: it goes back to ground, where every
    // collection is cleared before a sequence reads it.
    void noteCallStart(ParserState state);
    void returnToCallStart();
    void forgetCallStart();
    struct CallStart {
        ParserState state = ParserState::ground;
        std::uint32_t dcsHandlerChanges = 0;
        std::array<int, maxParameters> pars{};
        std::size_t parCount = 1;
        std::uint32_t subParameters = 0;
        bool parameterLimitExceeded = false;
        std::array<std::uint8_t, maxCollectLength> collect{};
        std::size_t collectLength = 0;
        bool stringOverflowed = false;
        bool stringsUsed = false;
    };

    std::vector<std::uint8_t> osc_;
    std::vector<std::uint8_t> apc_;
    // The parameters of the sequence being read: parCount_ values (at least one).
    std::array<int, maxParameters> pars_{};
    std::size_t parCount_ = 1;
    std::uint32_t subParameters_ = 0; // CsiParameters::subParameterBits of the sequence being read
    std::vector<std::uint8_t> collect_;
    bool parameterLimitExceeded_ = false;
    bool stringOverflowed_ = false; // the OSC/APC string being collected passed its cap
    bool stringsUsed_ = false; // a byte went into osc_ or apc_ since their last clear
    CallStart callStart_;
    KeptString keptOsc_;
    KeptString keptApc_;
    bool keepingCallStart_ = false; // the call in progress began inside a sequence
    // Counts every hook, unhook and drop of a DCS handler: a handler that an aborted call
    // ended or replaced is not brought back.
    std::uint32_t dcsHandlerChanges_ = 0;
    std::uint64_t nextProfileIntervalId = 1;
};

static_assert(EscapeSequenceParser::maxParameters <= 32, "sub-parameter bits are one word");

} // namespace corvantix
