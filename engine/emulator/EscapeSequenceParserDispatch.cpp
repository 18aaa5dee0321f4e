// The dispatch operations of the parser: each complete control function goes to the
// terminal's handler, or to a fallback when there is no terminal or nothing handles it.
// Each operation routes by the control byte, the final byte (with the intermediates where
// they matter) or the OSC number; the few small handlers kept here follow at the end.
#include "emulator/EscapeSequenceParser.h"

#include "emulator/CharSets.h"
#include "emulator/Terminal.h"
#include "platform/Log.h"

namespace corvantix {

namespace {

// The dispatch trace of the terminal: one pointer test per dispatched function.
void trace(Terminal& terminal, std::string_view handlerName)
{
    if (terminal.dispatchTrace)
        terminal.dispatchTrace(handlerName);
}

bool collectIs(std::span<const std::uint8_t> collect, char byte)
{
    return collect.size() == 1 && collect[0] == static_cast<std::uint8_t>(byte);
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

} // namespace

void EscapeSequenceParser::executeDispatch(std::uint8_t code)
{
    if (!terminal) {
        executeHandlerFallback(code);
        return;
    }
    Terminal& t = *terminal;
    // A control in the middle of the data proves a kept-back partial character broken.
    t.flushIncompleteCharacter();
    switch (code) {
    case 0x07:
        trace(t, "bell");
        if (TerminalDelegate* delegate = t.delegate())
            delegate->bell(t);
        return;
    case 0x08:
        trace(t, "cmdBackspace");
        t.cmdBackspace();
        return;
    case 0x09:
        trace(t, "cmdTab");
        t.cmdTab();
        return;
    case 0x0A:
    case 0x0B:
    case 0x0C:
        trace(t, "cmdLineFeed");
        t.cmdLineFeed();
        return;
    case 0x0D:
        trace(t, "cmdCarriageReturn");
        t.cmdCarriageReturn();
        return;
    case 0x0E:
        trace(t, "cmdShiftOut");
        t.setgLevel(1);
        return;
    case 0x0F:
        trace(t, "cmdShiftIn");
        t.setgLevel(0);
        return;
    case 0x84:
        trace(t, "cmdIndex");
        t.cmdIndex();
        return;
    case 0x85:
        trace(t, "cmdNextLine");
        t.cmdNextLine();
        return;
    case 0x88:
        trace(t, "cmdTabSet");
        t.cmdTabSet();
        return;
    default:
        return; // other controls are ignored
    }
}

void EscapeSequenceParser::csiDispatch(std::uint8_t finalByte, const CsiParameters& pars,
    std::span<const std::uint8_t> collect)
{
    if (!terminal || finalByte < 0x40 || finalByte > 0x7E) {
        csiHandlerFallback(pars, collect, finalByte);
        return;
    }
    Terminal& t = *terminal;
    switch (finalByte) {
    case '@':
        trace(t, "cmdInsertChars");
        t.cmdInsertChars(pars);
        return;
    case 'A':
        trace(t, "cmdCursorUp");
        t.cmdCursorUp(pars);
        return;
    case 'B':
        trace(t, "cmdCursorDown");
        t.cmdCursorDown(pars);
        return;
    case 'C':
        trace(t, "cmdCursorForward");
        t.cmdCursorForward(firstParameterOrOne(pars));
        return;
    case 'D':
        trace(t, "cmdCursorBackward");
        t.cmdCursorBackward(firstParameterOrOne(pars));
        return;
    case 'E':
        trace(t, "cmdCursorNextLine");
        t.cmdCursorNextLine(pars);
        return;
    case 'F':
        trace(t, "cmdCursorPrecedingLine");
        t.cmdCursorPrecedingLine(pars);
        return;
    case 'G':
        trace(t, "cmdCursorCharAbsolute");
        t.cmdCursorCharAbsolute(pars);
        return;
    case 'H':
        trace(t, "cmdCursorPosition");
        t.cmdCursorPosition(pars);
        return;
    case 'I':
        trace(t, "cmdCursorForwardTab");
        t.cmdCursorForwardTab(pars);
        return;
    case 'J':
        trace(t, "cmdEraseInDisplay");
        t.cmdEraseInDisplay(pars);
        return;
    case 'K':
        trace(t, "cmdEraseInLine");
        t.cmdEraseInLine(pars);
        return;
    case 'L':
        trace(t, "cmdInsertLines");
        t.cmdInsertLines(pars);
        return;
    case 'M':
        trace(t, "cmdDeleteLines");
        t.cmdDeleteLines(pars);
        return;
    case 'P':
        trace(t, "cmdDeleteChars");
        t.cmdDeleteChars(pars);
        return;
    case 'S':
        if (collectIs(collect, ' ')) {
            trace(t, "cmdSelectPresentationDirection");
            t.cmdSelectPresentationDirection(pars);
        } else {
            trace(t, "cmdScrollUp");
            t.cmdScrollUp(pars);
        }
        return;
    case 'T':
        if (collect.empty()) {
            trace(t, "csiT");
            t.csiT(pars);
        } else if (collectIs(collect, '>')) {
            trace(t, "cmdXtermTitleModeReset");
            t.cmdXtermTitleModeReset(pars);
        }
        return;
    case 'X':
        trace(t, "cmdEraseChars");
        t.cmdEraseChars(pars);
        return;
    case 'Z':
        trace(t, "cmdCursorBackwardTab");
        t.cmdCursorBackwardTab(pars);
        return;
    case '`':
        trace(t, "cmdCharPosAbsolute");
        t.cmdCharPosAbsolute(pars);
        return;
    case 'a':
        trace(t, "cmdHPositionRelative");
        t.cmdHPositionRelative(pars);
        return;
    case 'b':
        trace(t, "cmdRepeatPrecedingCharacter");
        t.cmdRepeatPrecedingCharacter(pars);
        return;
    case 'c':
        trace(t, "cmdDeviceAttributes");
        t.cmdDeviceAttributes(pars, collect);
        return;
    case 'd':
        trace(t, "cmdLinePosAbsolute");
        t.cmdLinePosAbsolute(pars);
        return;
    case 'e':
        trace(t, "cmdVPositionRelative");
        t.cmdVPositionRelative(pars);
        return;
    case 'f':
        trace(t, "cmdHVPosition");
        t.cmdHVPosition(pars);
        return;
    case 'g':
        trace(t, "cmdTabClear");
        t.cmdTabClear(pars);
        return;
    case 'h':
        trace(t, "cmdSetMode");
        t.cmdSetMode(pars, collect);
        return;
    case 'k':
        if (collectIs(collect, ' ')) {
            trace(t, "cmdSelectCharacterPath");
            t.cmdSelectCharacterPath(pars);
        }
        return;
    case 'l':
        trace(t, "cmdResetMode");
        t.cmdResetMode(pars, collect);
        return;
    case 'm':
        trace(t, "cmdCharAttributes");
        t.cmdCharAttributes(pars, collect);
        return;
    case 'n':
        trace(t, "cmdDeviceStatus");
        t.cmdDeviceStatus(pars, collect);
        return;
    case 'p':
        trace(t, "cmdCsiP");
        t.cmdCsiP(pars, collect);
        return;
    case 'q':
        if (collectIs(collect, '>')) {
            trace(t, "cmdReportVersion");
            t.cmdReportVersion(pars, collect);
        } else {
            trace(t, "cmdSetCursorStyle");
            t.cmdSetCursorStyle(pars, collect);
        }
        return;
    case 'r':
        if (collectIs(collect, '?')) {
            trace(t, "cmdRestorePrivateModes");
            t.cmdRestorePrivateModes(pars);
        } else {
            trace(t, "cmdSetScrollRegion");
            t.cmdSetScrollRegion(pars, collect);
        }
        return;
    case 's':
        if (collectIs(collect, '>')) {
            trace(t, "cmdSetShiftEscape");
            t.cmdSetShiftEscape(pars);
        } else if (collectIs(collect, '?')) {
            trace(t, "cmdSavePrivateModes");
            t.cmdSavePrivateModes(pars);
        } else if (collect.empty()) {
            // DECSLRM while left/right margins are enabled, DECSC otherwise.
            if (t.marginMode) {
                trace(t, "cmdSetMargins");
                t.cmdSetMargins(pars, collect);
            } else {
                trace(t, "cmdSaveCursor");
                t.cmdSaveCursor(pars, collect);
            }
        }
        return;
    case 't':
        if (collect.empty()) {
            trace(t, "csit");
            t.csit(pars);
        } else if (collectIs(collect, '>')) {
            trace(t, "cmdXtermTitleModeSet");
            t.cmdXtermTitleModeSet(pars);
        } else if (!t.silentLog) {
            logInfo(t.silentLog, "Unhandled csiT " + byteList(collect));
        }
        return;
    case 'u':
        // The keyboard protocol takes CSI u with intermediates; plain CSI u is DECRC.
        trace(t, "cmdCsiU");
        if (!t.cmdCsiU(pars, collect) && collect.empty()) {
            trace(t, "cmdRestoreCursor");
            t.cmdRestoreCursor(pars, collect);
        }
        return;
    case 'v':
        trace(t, "cmdDECCRA");
        t.cmdDECCRA(pars, collect);
        return;
    case 'x':
        trace(t, "cmdDECFRA");
        t.cmdDECFRA(pars, collect);
        return;
    case 'y':
        trace(t, "cmdDECRQCRA");
        t.cmdDECRQCRA(pars);
        return;
    case 'z':
        trace(t, "cmdDECERA");
        t.cmdDECERA(pars, collect);
        return;
    case '{':
        trace(t, "cmdDECSERA");
        t.cmdDECSERA(pars, collect);
        return;
    case '}':
        trace(t, "cmdInsertColumns");
        t.cmdInsertColumns(pars, collect);
        return;
    case '~':
        trace(t, "cmdDeleteColumns");
        t.cmdDeleteColumns(pars);
        return;
    default:
        // N O Q R U V W Y [ \ ] ^ _ i j o w |
        csiHandlerFallback(pars, collect, finalByte);
        return;
    }
}

void EscapeSequenceParser::escDispatch(std::span<const std::uint8_t> collect, std::uint8_t finalByte)
{
    if (!terminal) {
        escHandlerFallback(collect, finalByte);
        return;
    }
    Terminal& t = *terminal;
    if (collect.empty()) {
        switch (finalByte) {
        case '6': // DECBI
            trace(t, "indexColumn");
            t.indexColumn(true);
            return;
        case '7': // DECSC
            trace(t, "cmdSaveCursor");
            t.cmdSaveCursor({}, collect);
            return;
        case '8': // DECRC
            trace(t, "cmdRestoreCursor");
            t.cmdRestoreCursor({}, collect);
            return;
        case '9': // DECFI
            trace(t, "indexColumn");
            t.indexColumn(false);
            return;
        case '=':
            trace(t, "cmdKeypadApplicationMode");
            t.cmdKeypadApplicationMode();
            return;
        case '>':
            trace(t, "cmdKeypadNumericMode");
            t.cmdKeypadNumericMode();
            return;
        case 'D': // IND
            trace(t, "cmdIndex");
            t.cmdIndex();
            return;
        case 'E': // NEL
            trace(t, "cmdNextLine");
            t.cmdNextLine();
            return;
        case 'H': // HTS
            trace(t, "cmdTabSet");
            t.cmdTabSet();
            return;
        case 'M': // RI
            trace(t, "reverseIndex");
            t.reverseIndex();
            return;
        case 'c': // RIS
            reset();
            trace(t, "cmdReset");
            t.cmdReset();
            return;
        case 'n': // LS2
        case '}': // LS2R
            trace(t, "setgLevel");
            t.setgLevel(2);
            return;
        case 'o': // LS3
        case '|': // LS3R
            trace(t, "setgLevel");
            t.setgLevel(3);
            return;
        case '~': // LS1R
            trace(t, "setgLevel");
            t.setgLevel(1);
            return;
        case '\\': // string terminator
            return;
        default:
            escHandlerFallback(collect, finalByte);
            return;
        }
    }
    if (collect.size() == 1) {
        switch (collect[0]) {
        case '(':
        case ')':
        case '*':
        case '+':
        case '-':
        case '.':
        case '/':
            if (CharSets::all(finalByte) != nullptr) {
                trace(t, "designateCharset");
                const std::uint8_t designation[] = {collect[0], finalByte};
                t.designateCharset(designation);
                return;
            }
            break;
        case '#':
            switch (finalByte) {
            case '3':
                trace(t, "cmdSetDoubleHeightTop");
                t.cmdSetDoubleHeightTop();
                return;
            case '4':
                trace(t, "cmdSetDoubleHeightBottom");
                t.cmdSetDoubleHeightBottom();
                return;
            case '5':
                trace(t, "cmdSingleWidth");
                t.cmdSingleWidth();
                return;
            case '6':
                trace(t, "cmdDoubleWidthSingleHeight");
                t.cmdDoubleWidthSingleHeight();
                return;
            case '8':
                trace(t, "cmdDECALN");
                t.cmdDECALN();
                return;
            default:
                break;
            }
            break;
        case '%':
            if (finalByte == '@' || finalByte == 'G') {
                trace(t, "cmdSelectDefaultCharset");
                t.cmdSelectDefaultCharset();
                return;
            }
            break;
        case ' ':
            if (finalByte == 'F') {
                trace(t, "cmdSet7BitControls");
                t.cmdSet7BitControls();
                return;
            }
            if (finalByte == 'G') {
                trace(t, "cmdSet8BitControls");
                t.cmdSet8BitControls();
                return;
            }
            break;
        default:
            break;
        }
    }
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
    Terminal& t = *terminal;
    switch (code) {
    case 0:
    case 2:
        trace(t, "setTitle");
        t.setTitle(decodeUtf8(payload).value_or(std::string()));
        return;
    case 1:
        trace(t, "setIconTitle");
        t.setIconTitle(decodeUtf8(payload).value_or(std::string()));
        return;
    case 4:
        trace(t, "oscSetColors");
        t.oscSetColors(payload);
        return;
    case 6:
        trace(t, "oscSetCurrentDocument");
        t.oscSetCurrentDocument(payload);
        return;
    case 7:
        trace(t, "oscSetCurrentDirectory");
        t.oscSetCurrentDirectory(payload);
        return;
    case 8:
        trace(t, "oscHyperlink");
        t.oscHyperlink(payload);
        return;
    case 9:
        if (const std::optional<ProgressReport> report = parseProgressReport(payload)) {
            trace(t, "progressReport");
            if (TerminalDelegate* delegate = t.delegate())
                delegate->progressReport(t, *report);
            return;
        }
        oscHandlerFallback(code, payload);
        return;
    case 10:
    case 11:
    case 12:
        trace(t, "oscDynamicColor");
        t.oscDynamicColor(payload, code - 10);
        return;
    case 52:
        trace(t, "oscClipboard");
        t.oscClipboard(payload);
        return;
    case 104:
        trace(t, "oscResetColors");
        t.oscResetColors(payload);
        return;
    case 112:
        trace(t, "setCursorColor");
        if (TerminalDelegate* delegate = t.delegate())
            delegate->setCursorColor(t, std::nullopt);
        return;
    case 133:
        trace(t, "oscSemanticPrompt");
        t.oscSemanticPrompt(payload);
        return;
    case 777:
        trace(t, "oscNotify");
        t.oscNotify(payload);
        return;
    case 1337:
        trace(t, "oscInlineContent");
        t.oscInlineContent(payload);
        return;
    default:
        oscHandlerFallback(code, payload);
        return;
    }
}

std::unique_ptr<DcsHandler> EscapeSequenceParser::makeDcsHandler(std::span<const std::uint8_t> collect,
    std::uint8_t finalByte)
{
    if (!terminal) {
        if (dcsHandlerFactory)
            return dcsHandlerFactory(collect, finalByte);
        return nullptr;
    }
    if (finalByte != 'q')
        return nullptr;
    // Sixel (no intermediates) has no handler until the graphics side provides one; its
    // string is received and dropped.
    if (collectIs(collect, '$'))
        return std::make_unique<DECRQSS>(*terminal);
    return nullptr;
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
    if (buffer->x() > buffer->writeRightLimit())
        return;
    const int stop = buffer->nextTabStop(marginMode);
    if (stop >= 0)
        buffer->setX(stop);
}

void Terminal::cmdNextLine()
{
    // The buffer ignores a negative margin, as it does any negative column.
    buffer->setX(originMode && marginMode ? buffer->marginLeft() : 0);
    cmdIndex();
}

void Terminal::cmdKeypadApplicationMode()
{
    applicationKeypad = true;
}

void Terminal::cmdKeypadNumericMode()
{
    applicationKeypad = false;
}

void Terminal::cmdSelectDefaultCharset()
{
    setgLevel(0);
    setCharset(0, nullptr);
}

void Terminal::cmdSet7BitControls()
{
    cc.send8bit = false;
}

void Terminal::cmdSet8BitControls()
{
    cc.send8bit = true;
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

namespace {

// CSI > Ps T / t: 0 set-hex, 1 query-hex, 2 set-UTF-8, 3 query-UTF-8.
void setXtermTitleModes(Terminal& t, std::span<const int> pars, bool value)
{
    for (const int mode : pars) {
        switch (mode) {
        case 0: t.xtermTitleSetHex = value; break;
        case 1: t.xtermTitleQueryHex = value; break;
        case 2: t.xtermTitleSetUtf = value; break;
        case 3: t.xtermTitleQueryUtf = value; break;
        default: break;
        }
    }
}

} // namespace

void Terminal::cmdXtermTitleModeReset(std::span<const int> pars)
{
    setXtermTitleModes(*this, pars, false);
}

void Terminal::cmdXtermTitleModeSet(std::span<const int> pars)
{
    setXtermTitleModes(*this, pars, true);
}

void Terminal::cmdSetShiftEscape(std::span<const int> pars)
{
    if (pars.empty() || pars[0] == 0)
        mouseShiftCapture = false;
    else if (pars[0] == 1)
        mouseShiftCapture = true;
}

} // namespace corvantix
