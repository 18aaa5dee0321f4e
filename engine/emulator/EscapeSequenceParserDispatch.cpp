// The dispatch operations of the parser: each complete control function goes to the
// handler its row in the table of control functions names, or to a fallback when there is
// no terminal or no row takes it. The few small handlers kept here follow at the end.
#include "emulator/ControlFunctions.h"
#include "emulator/EscapeSequenceParser.h"

#include "emulator/CharSets.h"
#include "emulator/Terminal.h"
#include "platform/Log.h"

#include <array>

namespace corvantix {

namespace {

using Handler = ControlFunction::Handler;
using Guard = ControlFunction::Guard;

constexpr ControlIntermediates anyIntermediates{{}, true};

// The dispatch trace of the terminal: one pointer test per dispatched function.
void trace(Terminal& terminal, std::string_view handlerName)
{
    if (terminal.dispatchTrace)
        terminal.dispatchTrace(handlerName);
}

int firstParameterOrOne(std::span<const int> pars)
{
    return pars.empty() ? 1 : pars[0];
}

std::string byteList(std::span<const std::uint8_t> bytes)
{
    std::string text = "[";
    for (std::size_t i = 0; i < bytes.size(); ++i) {
        if (i > 0)
            text += ", ";
        text += std::to_string(bytes[i]);
    }
    return text + "]";
}

// Row builders. A CSI row compares the intermediates only where it names them; an ESC or
// DCS row always does.
constexpr ControlFunction execute(int byte, std::string_view name, Handler handler)
{
    return {ControlKind::execute, anyIntermediates, byte, name, handler};
}

constexpr ControlFunction esc(std::string_view intermediates, int finalByte, std::string_view name, Handler handler,
                              Guard when = nullptr)
{
    return {ControlKind::esc, {intermediates}, finalByte, name, handler, when};
}

constexpr ControlFunction csi(int finalByte, std::string_view name, Handler handler)
{
    return {ControlKind::csi, anyIntermediates, finalByte, name, handler};
}

constexpr ControlFunction csi(ControlIntermediates intermediates, int finalByte, std::string_view name,
                              Handler handler, Guard when = nullptr)
{
    return {ControlKind::csi, intermediates, finalByte, name, handler, when};
}

constexpr ControlFunction dcs(std::string_view intermediates, int finalByte, std::string_view name, Handler handler)
{
    return {ControlKind::dcs, {intermediates}, finalByte, name, handler};
}

constexpr ControlFunction osc(int code, std::string_view name, Handler handler, Guard when = nullptr)
{
    return {ControlKind::osc, anyIntermediates, code, name, handler, when};
}

constexpr ControlIntermediates only(std::string_view bytes)
{
    return {bytes};
}

bool isCharsetDesignator(const Terminal&, const ControlCall& call)
{
    return CharSets::all(static_cast<std::uint8_t>(call.code)) != nullptr;
}

void designate(Terminal& t, ControlCall& call)
{
    const std::uint8_t designation[] = {call.collect[0], static_cast<std::uint8_t>(call.code)};
    t.designateCharset(designation);
}

// clang-format off
constexpr ControlFunction controlFunctions[] = {
    // C0 controls, and C1 controls inside a sequence (in ground those bytes are text).
    execute(0x07, "bell", [](Terminal& t, ControlCall&) {
        if (TerminalDelegate* delegate = t.delegate())
            delegate->bell(t);
    }),
    execute(0x08, "cmdBackspace", [](Terminal& t, ControlCall&) { t.cmdBackspace(); }),
    execute(0x09, "cmdTab", [](Terminal& t, ControlCall&) { t.cmdTab(); }),
    execute(0x0A, "cmdLineFeed", [](Terminal& t, ControlCall&) { t.cmdLineFeed(); }),
    execute(0x0B, "cmdLineFeed", [](Terminal& t, ControlCall&) { t.cmdLineFeed(); }),
    execute(0x0C, "cmdLineFeed", [](Terminal& t, ControlCall&) { t.cmdLineFeed(); }),
    execute(0x0D, "cmdCarriageReturn", [](Terminal& t, ControlCall&) { t.cmdCarriageReturn(); }),
    execute(0x0E, "cmdShiftOut", [](Terminal& t, ControlCall&) { t.setgLevel(1); }),
    execute(0x0F, "cmdShiftIn", [](Terminal& t, ControlCall&) { t.setgLevel(0); }),
    execute(0x84, "cmdIndex", [](Terminal& t, ControlCall&) { t.cmdIndex(); }),
    execute(0x85, "cmdNextLine", [](Terminal& t, ControlCall&) { t.cmdNextLine(); }),
    execute(0x88, "cmdTabSet", [](Terminal& t, ControlCall&) { t.cmdTabSet(); }),

    // ESC sequences without intermediates.
    esc("", '6', "indexColumn", [](Terminal& t, ControlCall&) { t.indexColumn(true); }),            // DECBI
    esc("", '7', "cmdSaveCursor", [](Terminal& t, ControlCall& c) { t.cmdSaveCursor({}, c.collect); }), // DECSC
    esc("", '8', "cmdRestoreCursor", [](Terminal& t, ControlCall& c) { t.cmdRestoreCursor({}, c.collect); }), // DECRC
    esc("", '9', "indexColumn", [](Terminal& t, ControlCall&) { t.indexColumn(false); }),           // DECFI
    esc("", '=', "cmdKeypadApplicationMode", [](Terminal& t, ControlCall&) { t.cmdKeypadApplicationMode(); }),
    esc("", '>', "cmdKeypadNumericMode", [](Terminal& t, ControlCall&) { t.cmdKeypadNumericMode(); }),
    esc("", 'D', "cmdIndex", [](Terminal& t, ControlCall&) { t.cmdIndex(); }),                      // IND
    esc("", 'E', "cmdNextLine", [](Terminal& t, ControlCall&) { t.cmdNextLine(); }),                // NEL
    esc("", 'H', "cmdTabSet", [](Terminal& t, ControlCall&) { t.cmdTabSet(); }),                    // HTS
    esc("", 'M', "reverseIndex", [](Terminal& t, ControlCall&) { t.reverseIndex(); }),              // RI
    // RIS: the parser forgets any half-read sequence before the terminal resets.
    esc("", 'c', "cmdReset", [](Terminal& t, ControlCall&) { t.parser().reset(); t.cmdReset(); }),
    esc("", 'n', "setgLevel", [](Terminal& t, ControlCall&) { t.setgLevel(2); }),                   // LS2
    esc("", 'o', "setgLevel", [](Terminal& t, ControlCall&) { t.setgLevel(3); }),                   // LS3
    esc("", '|', "setgLevel", [](Terminal& t, ControlCall&) { t.setgLevel(3); }),                   // LS3R
    esc("", '}', "setgLevel", [](Terminal& t, ControlCall&) { t.setgLevel(2); }),                   // LS2R
    esc("", '~', "setgLevel", [](Terminal& t, ControlCall&) { t.setgLevel(1); }),                   // LS1R
    esc("", '\\', "", nullptr), // the string terminator ends a string; nothing more to do

    // ESC sequences with one intermediate.
    esc("#", '3', "cmdSetDoubleHeightTop", [](Terminal& t, ControlCall&) { t.cmdSetDoubleHeightTop(); }),
    esc("#", '4', "cmdSetDoubleHeightBottom", [](Terminal& t, ControlCall&) { t.cmdSetDoubleHeightBottom(); }),
    esc("#", '5', "cmdSingleWidth", [](Terminal& t, ControlCall&) { t.cmdSingleWidth(); }),
    esc("#", '6', "cmdDoubleWidthSingleHeight", [](Terminal& t, ControlCall&) { t.cmdDoubleWidthSingleHeight(); }),
    esc("#", '8', "cmdDECALN", [](Terminal& t, ControlCall&) { t.cmdDECALN(); }),
    esc("%", '@', "cmdSelectDefaultCharset", [](Terminal& t, ControlCall&) { t.cmdSelectDefaultCharset(); }),
    esc("%", 'G', "cmdSelectDefaultCharset", [](Terminal& t, ControlCall&) { t.cmdSelectDefaultCharset(); }),
    esc(" ", 'F', "cmdSet7BitControls", [](Terminal& t, ControlCall&) { t.cmdSet7BitControls(); }),
    esc(" ", 'G', "cmdSet8BitControls", [](Terminal& t, ControlCall&) { t.cmdSet8BitControls(); }),
    // Character set designations: any final byte that names a known set.
    esc("(", ControlFunction::anyCode, "designateCharset", designate, isCharsetDesignator),
    esc(")", ControlFunction::anyCode, "designateCharset", designate, isCharsetDesignator),
    esc("*", ControlFunction::anyCode, "designateCharset", designate, isCharsetDesignator),
    esc("+", ControlFunction::anyCode, "designateCharset", designate, isCharsetDesignator),
    esc("-", ControlFunction::anyCode, "designateCharset", designate, isCharsetDesignator),
    esc(".", ControlFunction::anyCode, "designateCharset", designate, isCharsetDesignator),
    esc("/", ControlFunction::anyCode, "designateCharset", designate, isCharsetDesignator),

    // CSI sequences.
    csi('@', "cmdInsertChars", [](Terminal& t, ControlCall& c) { t.cmdInsertChars(c.pars); }),
    csi('A', "cmdCursorUp", [](Terminal& t, ControlCall& c) { t.cmdCursorUp(c.pars); }),
    csi('B', "cmdCursorDown", [](Terminal& t, ControlCall& c) { t.cmdCursorDown(c.pars); }),
    csi('C', "cmdCursorForward", [](Terminal& t, ControlCall& c) { t.cmdCursorForward(firstParameterOrOne(c.pars)); }),
    csi('D', "cmdCursorBackward", [](Terminal& t, ControlCall& c) { t.cmdCursorBackward(firstParameterOrOne(c.pars)); }),
    csi('E', "cmdCursorNextLine", [](Terminal& t, ControlCall& c) { t.cmdCursorNextLine(c.pars); }),
    csi('F', "cmdCursorPrecedingLine", [](Terminal& t, ControlCall& c) { t.cmdCursorPrecedingLine(c.pars); }),
    csi('G', "cmdCursorCharAbsolute", [](Terminal& t, ControlCall& c) { t.cmdCursorCharAbsolute(c.pars); }),
    csi('H', "cmdCursorPosition", [](Terminal& t, ControlCall& c) { t.cmdCursorPosition(c.pars); }),
    csi('I', "cmdCursorForwardTab", [](Terminal& t, ControlCall& c) { t.cmdCursorForwardTab(c.pars); }),
    csi('J', "cmdEraseInDisplay", [](Terminal& t, ControlCall& c) { t.cmdEraseInDisplay(c.pars); }),
    csi('K', "cmdEraseInLine", [](Terminal& t, ControlCall& c) { t.cmdEraseInLine(c.pars); }),
    csi('L', "cmdInsertLines", [](Terminal& t, ControlCall& c) { t.cmdInsertLines(c.pars); }),
    csi('M', "cmdDeleteLines", [](Terminal& t, ControlCall& c) { t.cmdDeleteLines(c.pars); }),
    csi('P', "cmdDeleteChars", [](Terminal& t, ControlCall& c) { t.cmdDeleteChars(c.pars); }),
    csi(only(" "), 'S', "cmdSelectPresentationDirection",                                          // SPD
        [](Terminal& t, ControlCall& c) { t.cmdSelectPresentationDirection(c.pars); }),
    csi('S', "cmdScrollUp", [](Terminal& t, ControlCall& c) { t.cmdScrollUp(c.pars); }),           // SU
    csi(only(""), 'T', "csiT", [](Terminal& t, ControlCall& c) { t.csiT(c.pars); }),               // SD
    csi(only(">"), 'T', "cmdXtermTitleModeReset", [](Terminal& t, ControlCall& c) { t.cmdXtermTitleModeReset(c.pars); }),
    csi(anyIntermediates, 'T', "", nullptr),
    csi('X', "cmdEraseChars", [](Terminal& t, ControlCall& c) { t.cmdEraseChars(c.pars); }),
    csi('Z', "cmdCursorBackwardTab", [](Terminal& t, ControlCall& c) { t.cmdCursorBackwardTab(c.pars); }),
    csi('`', "cmdCharPosAbsolute", [](Terminal& t, ControlCall& c) { t.cmdCharPosAbsolute(c.pars); }),
    csi('a', "cmdHPositionRelative", [](Terminal& t, ControlCall& c) { t.cmdHPositionRelative(c.pars); }),
    csi('b', "cmdRepeatPrecedingCharacter", [](Terminal& t, ControlCall& c) { t.cmdRepeatPrecedingCharacter(c.pars); }),
    csi('c', "cmdDeviceAttributes", [](Terminal& t, ControlCall& c) { t.cmdDeviceAttributes(c.pars, c.collect); }),
    csi('d', "cmdLinePosAbsolute", [](Terminal& t, ControlCall& c) { t.cmdLinePosAbsolute(c.pars); }),
    csi('e', "cmdVPositionRelative", [](Terminal& t, ControlCall& c) { t.cmdVPositionRelative(c.pars); }),
    csi('f', "cmdHVPosition", [](Terminal& t, ControlCall& c) { t.cmdHVPosition(c.pars); }),
    csi('g', "cmdTabClear", [](Terminal& t, ControlCall& c) { t.cmdTabClear(c.pars); }),
    csi('h', "cmdSetMode", [](Terminal& t, ControlCall& c) { t.cmdSetMode(c.pars, c.collect); }),
    csi(only(" "), 'k', "cmdSelectCharacterPath", [](Terminal& t, ControlCall& c) { t.cmdSelectCharacterPath(c.pars); }), // SCP
    csi(anyIntermediates, 'k', "", nullptr),
    csi('l', "cmdResetMode", [](Terminal& t, ControlCall& c) { t.cmdResetMode(c.pars, c.collect); }),
    csi('m', "cmdCharAttributes", [](Terminal& t, ControlCall& c) { t.cmdCharAttributes(c.pars, c.collect); }),
    csi('n', "cmdDeviceStatus", [](Terminal& t, ControlCall& c) { t.cmdDeviceStatus(c.pars, c.collect); }),
    csi('p', "cmdCsiP", [](Terminal& t, ControlCall& c) { t.cmdCsiP(c.pars, c.collect); }),
    csi(only(">"), 'q', "cmdReportVersion", [](Terminal& t, ControlCall& c) { t.cmdReportVersion(c.pars, c.collect); }),
    csi('q', "cmdSetCursorStyle", [](Terminal& t, ControlCall& c) { t.cmdSetCursorStyle(c.pars, c.collect); }),
    csi(only("?"), 'r', "cmdRestorePrivateModes", [](Terminal& t, ControlCall& c) { t.cmdRestorePrivateModes(c.pars); }),
    csi('r', "cmdSetScrollRegion", [](Terminal& t, ControlCall& c) { t.cmdSetScrollRegion(c.pars, c.collect); }),
    csi(only(">"), 's', "cmdSetShiftEscape", [](Terminal& t, ControlCall& c) { t.cmdSetShiftEscape(c.pars); }),
    csi(only("?"), 's', "cmdSavePrivateModes", [](Terminal& t, ControlCall& c) { t.cmdSavePrivateModes(c.pars); }),
    // Plain CSI s is DECSLRM while left/right margins are enabled, DECSC otherwise.
    csi(only(""), 's', "cmdSetMargins", [](Terminal& t, ControlCall& c) { t.cmdSetMargins(c.pars, c.collect); },
        [](const Terminal& t, const ControlCall&) { return t.marginMode(); }),
    csi(only(""), 's', "cmdSaveCursor", [](Terminal& t, ControlCall& c) { t.cmdSaveCursor(c.pars, c.collect); }),
    csi(anyIntermediates, 's', "", nullptr),
    csi(only(""), 't', "csit", [](Terminal& t, ControlCall& c) { t.csit(c.pars); }),               // XTWINOPS
    csi(only(">"), 't', "cmdXtermTitleModeSet", [](Terminal& t, ControlCall& c) { t.cmdXtermTitleModeSet(c.pars); }),
    csi(anyIntermediates, 't', "", [](Terminal& t, ControlCall& c) {
        if (!t.silentLog())
            logInfo(t.silentLog(), "Unhandled csiT " + byteList(c.collect));
    }),
    // The keyboard protocol takes CSI u with its intermediates; plain CSI u is DECRC.
    csi('u', "cmdCsiU", [](Terminal& t, ControlCall& c) { c.declined = !t.cmdCsiU(c.pars, c.collect); }),
    csi(only(""), 'u', "cmdRestoreCursor", [](Terminal& t, ControlCall& c) { t.cmdRestoreCursor(c.pars, c.collect); }),
    csi('v', "cmdDECCRA", [](Terminal& t, ControlCall& c) { t.cmdDECCRA(c.pars, c.collect); }),
    csi('x', "cmdDECFRA", [](Terminal& t, ControlCall& c) { t.cmdDECFRA(c.pars, c.collect); }),
    csi('y', "cmdDECRQCRA", [](Terminal& t, ControlCall& c) { t.cmdDECRQCRA(c.pars); }),
    csi('z', "cmdDECERA", [](Terminal& t, ControlCall& c) { t.cmdDECERA(c.pars, c.collect); }),
    csi('{', "cmdDECSERA", [](Terminal& t, ControlCall& c) { t.cmdDECSERA(c.pars, c.collect); }),
    csi('}', "cmdInsertColumns", [](Terminal& t, ControlCall& c) { t.cmdInsertColumns(c.pars, c.collect); }),
    csi('~', "cmdDeleteColumns", [](Terminal& t, ControlCall& c) { t.cmdDeleteColumns(c.pars); }),

    // DCS strings.
    dcs("", 'q', "sixel", [](Terminal& t, ControlCall& c) { *c.dcsHandler = t.makeSixelDcsHandler(); }),
    dcs("$", 'q', "DECRQSS", [](Terminal& t, ControlCall& c) { *c.dcsHandler = std::make_unique<DECRQSS>(t); }),

    // OSC strings.
    osc(0, "setTitle", [](Terminal& t, ControlCall& c) { t.setTitle(decodeUtf8(c.payload).value_or(std::string())); }),
    osc(1, "setIconTitle", [](Terminal& t, ControlCall& c) { t.setIconTitle(decodeUtf8(c.payload).value_or(std::string())); }),
    osc(2, "setTitle", [](Terminal& t, ControlCall& c) { t.setTitle(decodeUtf8(c.payload).value_or(std::string())); }),
    osc(4, "oscSetColors", [](Terminal& t, ControlCall& c) { t.oscSetColors(c.payload); }),
    osc(6, "oscSetCurrentDocument", [](Terminal& t, ControlCall& c) { t.oscSetCurrentDocument(c.payload); }),
    osc(7, "oscSetCurrentDirectory", [](Terminal& t, ControlCall& c) { t.oscSetCurrentDirectory(c.payload); }),
    osc(8, "oscHyperlink", [](Terminal& t, ControlCall& c) { t.oscHyperlink(c.payload); }),
    // Only a progress report is taken; other OSC 9 texts go to the fallback.
    osc(9, "progressReport",
        [](Terminal& t, ControlCall& c) {
            if (TerminalDelegate* delegate = t.delegate())
                delegate->progressReport(t, *parseProgressReport(c.payload));
        },
        [](const Terminal&, const ControlCall& c) { return parseProgressReport(c.payload).has_value(); }),
    osc(10, "oscDynamicColor", [](Terminal& t, ControlCall& c) { t.oscDynamicColor(c.payload, 0); }),
    osc(11, "oscDynamicColor", [](Terminal& t, ControlCall& c) { t.oscDynamicColor(c.payload, 1); }),
    osc(12, "oscDynamicColor", [](Terminal& t, ControlCall& c) { t.oscDynamicColor(c.payload, 2); }),
    osc(52, "oscClipboard", [](Terminal& t, ControlCall& c) { t.oscClipboard(c.payload); }),
    osc(104, "oscResetColors", [](Terminal& t, ControlCall& c) { t.oscResetColors(c.payload); }),
    osc(112, "setCursorColor", [](Terminal& t, ControlCall&) {
        if (TerminalDelegate* delegate = t.delegate())
            delegate->setCursorColor(t, std::nullopt);
    }),
    osc(133, "oscSemanticPrompt", [](Terminal& t, ControlCall& c) { t.oscSemanticPrompt(c.payload); }),
    osc(777, "oscNotify", [](Terminal& t, ControlCall& c) { t.oscNotify(c.payload); }),
    osc(1337, "oscInlineContent", [](Terminal& t, ControlCall& c) { t.oscInlineContent(c.payload); }),
};
// clang-format on

// The rows of each final byte, in table order. Rows for any final byte, and OSC numbers
// past a byte, are kept apart and tried after the rows of the exact byte.
constexpr std::size_t controlKindCount = 5;

struct RowList {
    static constexpr std::size_t capacity = 8;
    std::array<std::uint16_t, capacity> rows{};
    std::uint8_t count = 0;
};

struct ControlIndex {
    std::array<std::array<RowList, 256>, controlKindCount> byCode{};
    std::array<RowList, controlKindCount> others{};
    bool fits = true;
};

constexpr ControlIndex buildControlIndex()
{
    ControlIndex index;
    for (std::size_t i = 0; i < std::size(controlFunctions); ++i) {
        const ControlFunction& row = controlFunctions[i];
        const auto kind = static_cast<std::size_t>(row.kind);
        RowList& list = row.code >= 0 && row.code < 256 ? index.byCode[kind][static_cast<std::size_t>(row.code)]
                                                         : index.others[kind];
        if (list.count == RowList::capacity) {
            index.fits = false;
            continue;
        }
        list.rows[list.count++] = static_cast<std::uint16_t>(i);
    }
    return index;
}

constexpr ControlIndex controlIndex = buildControlIndex();
static_assert(controlIndex.fits, "too many rows for one final byte");
static_assert(std::size(controlFunctions) < 65536);

// Final bytes (or controls) that exactly one row of their kind takes, whatever the
// intermediates, without a guard: the search below would always end at that row, so it is
// reached straight from the byte. Cursor moves, SGR, the erases, line feed and carriage
// return are among them, and they are most of what programs send.
constexpr std::uint16_t noDirectRow = 0xFFFF;
using DirectRows = std::array<std::uint16_t, 256>;

constexpr DirectRows buildDirectRows(ControlKind kind)
{
    DirectRows direct{};
    direct.fill(noDirectRow);
    const auto k = static_cast<std::size_t>(kind);
    if (controlIndex.others[k].count > 0)
        return direct; // rows for any final byte would have to be tried as well
    for (std::size_t code = 0; code < 256; ++code) {
        const RowList& list = controlIndex.byCode[k][code];
        if (list.count != 1)
            continue;
        const ControlFunction& row = controlFunctions[list.rows[0]];
        if (row.intermediates.any && row.when == nullptr && row.handler != nullptr && !row.name.empty())
            direct[code] = list.rows[0];
    }
    return direct;
}

constexpr DirectRows directCsiRowIndex = buildDirectRows(ControlKind::csi);
constexpr DirectRows directExecuteRows = buildDirectRows(ControlKind::execute);
static_assert(directCsiRowIndex['H'] != noDirectRow && directCsiRowIndex['m'] != noDirectRow
                  && directExecuteRows['\n'] != noDirectRow,
              "the cursor position, SGR and line feed rows are reached directly");

// What runRows does for a single matching row (a decline changes nothing then; a direct
// row always has a name and a handler).
[[gnu::always_inline]] inline void runDirectRow(Terminal& t, std::uint16_t direct, ControlCall& call)
{
    const ControlFunction& row = controlFunctions[direct];
    trace(t, row.name);
    row.handler(t, call);
}

// Tries the rows in order; answers whether one took the call. A row that declines passes
// it on to the next matching row.
bool runRows(Terminal& t, const RowList& list, ControlCall& call)
{
    bool taken = false;
    for (std::size_t n = 0; n < list.count; ++n) {
        const ControlFunction& row = controlFunctions[list.rows[n]];
        if (row.code != call.code && row.code != ControlFunction::anyCode)
            continue;
        if (!row.intermediates.matches(call.collect) || (row.when != nullptr && !row.when(t, call)))
            continue;
        taken = true;
        if (!row.name.empty())
            trace(t, row.name);
        if (row.handler == nullptr)
            return true;
        call.declined = false;
        row.handler(t, call);
        if (!call.declined)
            return true;
    }
    return taken;
}

// Routes one control function; false when no row takes it.
bool dispatchControl(Terminal& t, ControlKind kind, ControlCall& call)
{
    const auto k = static_cast<std::size_t>(kind);
    bool taken = false;
    if (call.code >= 0 && call.code < 256) {
        const RowList& exact = controlIndex.byCode[k][static_cast<std::size_t>(call.code)];
        taken = exact.count > 0 && runRows(t, exact, call);
        if (taken && !call.declined)
            return true;
    }
    const RowList& others = controlIndex.others[k];
    return (others.count > 0 && runRows(t, others, call)) || taken;
}

} // namespace

constinit const std::array<const ControlFunction*, 256> directCsiRows = [] {
    std::array<const ControlFunction*, 256> rows{};
    for (std::size_t code = 0; code < 256; ++code) {
        if (directCsiRowIndex[code] != noDirectRow)
            rows[code] = &controlFunctions[directCsiRowIndex[code]];
    }
    return rows;
}();

void csiDispatchByTable(EscapeSequenceParser& parser, std::uint8_t finalByte,
    const CsiParameters& pars, std::span<const std::uint8_t> collect)
{
    if (!parser.terminal || finalByte < 0x40 || finalByte > 0x7E) {
        parser.csiHandlerFallback(pars, collect, finalByte);
        return;
    }
    ControlCall call;
    call.pars = pars;
    call.collect = collect;
    call.code = finalByte;
    if (!dispatchControl(*parser.terminal, ControlKind::csi, call))
        parser.csiHandlerFallback(pars, collect, finalByte);
}

std::span<const ControlFunction> controlFunctionTable()
{
    return controlFunctions;
}

void EscapeSequenceParser::executeDispatch(std::uint8_t code)
{
    if (!terminal) {
        executeHandlerFallback(code);
        return;
    }
    // A control in the middle of the data proves a kept-back partial character broken.
    terminal->flushIncompleteCharacter();
    ControlCall call;
    call.code = code;
    if (const std::uint16_t direct = directExecuteRows[code]; direct != noDirectRow)
        runDirectRow(*terminal, direct, call);
    else
        dispatchControl(*terminal, ControlKind::execute, call); // other controls are ignored
}

void EscapeSequenceParser::escDispatch(std::span<const std::uint8_t> collect, std::uint8_t finalByte)
{
    if (!terminal) {
        escHandlerFallback(collect, finalByte);
        return;
    }
    ControlCall call;
    call.collect = collect;
    call.code = finalByte;
    if (!dispatchControl(*terminal, ControlKind::esc, call))
        escHandlerFallback(collect, finalByte);
}

void EscapeSequenceParser::oscDispatch(int code, std::span<const std::uint8_t> payload)
{
    // Handlers registered by the host come before everything else.
    if (const auto registered = oscHandlers.find(code); registered != oscHandlers.end()) {
        registered->second(payload);
        return;
    }
    if (!terminal) {
        oscHandlerFallback(code, payload);
        return;
    }
    ControlCall call;
    call.code = code;
    call.payload = payload;
    if (!dispatchControl(*terminal, ControlKind::osc, call))
        oscHandlerFallback(code, payload);
}

std::unique_ptr<DcsHandler> EscapeSequenceParser::makeDcsHandler(std::span<const std::uint8_t> collect,
    std::uint8_t finalByte)
{
    if (!terminal) {
        if (dcsHandlerFactory)
            return dcsHandlerFactory(collect, finalByte);
        return nullptr;
    }
    // A DCS string no row takes is received and dropped, without a fallback.
    std::unique_ptr<DcsHandler> handler;
    ControlCall call;
    call.collect = collect;
    call.code = finalByte;
    call.dcsHandler = &handler;
    dispatchControl(*terminal, ControlKind::dcs, call);
    return handler;
}

void EscapeSequenceParser::kittyGraphicsDispatch(std::span<const std::uint8_t> payload)
{
    if (!terminal) {
        apcHandlerFallback('G', payload);
        return;
    }
    trace(*terminal, "handleKittyGraphicsCommand");
    terminal->handleKittyGraphicsCommand(payload);
}

// ---------------------------------------------------------------- Small handlers kept with the dispatch

void Terminal::cmdTab()
{
    // At the pending-wrap column there is no stop ahead, and stepping back onto the limit
    // would let the next character overwrite it: the cursor stays, the wrap still pending.
    if (buffer_->x() > buffer_->writeRightLimit())
        return;
    const int stop = buffer_->nextTabStop(marginMode_);
    if (stop >= 0)
        buffer_->setX(stop);
}

void Terminal::cmdNextLine()
{
    // The buffer ignores a negative margin, as it does any negative column.
    buffer_->setX(originMode_ && marginMode_ ? buffer_->marginLeft() : 0);
    cmdIndex();
}

void Terminal::cmdKeypadApplicationMode()
{
    applicationKeypad_ = true;
}

void Terminal::cmdKeypadNumericMode()
{
    applicationKeypad_ = false;
}

void Terminal::cmdSelectDefaultCharset()
{
    setgLevel(0);
    setCharset(0, nullptr);
}

void Terminal::cmdSet7BitControls()
{
    cc_.send8bit = false;
}

void Terminal::cmdSet8BitControls()
{
    cc_.send8bit = true;
}

void Terminal::cmdSetDoubleHeightTop()
{
    setLineRenderMode(BufferLine::RenderLineMode::doubledTop);
}

void Terminal::cmdSetDoubleHeightBottom()
{
    setLineRenderMode(BufferLine::RenderLineMode::doubledDown);
}

void Terminal::cmdSingleWidth()
{
    setLineRenderMode(BufferLine::RenderLineMode::single);
}

void Terminal::cmdDoubleWidthSingleHeight()
{
    setLineRenderMode(BufferLine::RenderLineMode::doubleWidth);
}

// CSI > Ps T / t: 0 set-hex, 1 query-hex, 2 set-UTF-8, 3 query-UTF-8.
void Terminal::setXtermTitleModes(std::span<const int> pars, bool value)
{
    for (const int mode : pars) {
        switch (mode) {
        case 0: xtermTitleSetHex_ = value; break;
        case 1: xtermTitleQueryHex_ = value; break;
        case 2: xtermTitleSetUtf_ = value; break;
        case 3: xtermTitleQueryUtf_ = value; break;
        default: break;
        }
    }
}

void Terminal::cmdXtermTitleModeReset(std::span<const int> pars)
{
    setXtermTitleModes(pars, false);
}

void Terminal::cmdXtermTitleModeSet(std::span<const int> pars)
{
    setXtermTitleModes(pars, true);
}

void Terminal::cmdSetShiftEscape(std::span<const int> pars)
{
    if (pars.empty() || pars[0] == 0)
        mouseShiftCapture_ = false;
    else if (pars[0] == 1)
        mouseShiftCapture_ = true;
}

} // namespace corvantix
